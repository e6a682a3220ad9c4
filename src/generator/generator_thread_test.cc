#include "generator/generator_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "generator/test_sink.h"
#include "platform/thread.h"
#include "test_support.h"

namespace {

// The generator on a thread of its own for `typed`, connected through `ch`.
bool start_generator(LineChannel* ch, GeneratorThread* g, const TypedValues* typed,
                     Thread* thread) {
  g->typed = typed;
  g->channel = ch;
  return channel::listen(ch) == 1 && start_thread(thread, generator_thread_main, g) == 1 &&
         channel::accept(ch) == 1;
}

// "; Generated at Tue Dec  8 05:07:38 2026": English names, the day padded
// with a blank.
bool is_time_line(const std::string& line) {
  const std::string prefix = "; Generated at ";
  if (line.size() != prefix.size() + 24 || line.compare(0, prefix.size(), prefix) != 0)
    return false;
  std::string t = line.substr(prefix.size());
  const std::string days = "Mon Tue Wed Thu Fri Sat Sun ";
  const std::string months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec ";
  auto digit = [&](size_t i) { return t[i] >= '0' && t[i] <= '9'; };
  return days.find(t.substr(0, 4)) % 4 == 0 && days.find(t.substr(0, 4)) != std::string::npos &&
         months.find(t.substr(4, 4)) % 4 == 0 && months.find(t.substr(4, 4)) != std::string::npos &&
         (t[8] == ' ' || digit(8)) && digit(9) && t[10] == ' ' && digit(11) && digit(12) &&
         t[13] == ':' && digit(14) && digit(15) && t[16] == ':' && digit(17) && digit(18) &&
         t[19] == ' ' && digit(20) && digit(21) && digit(22) && digit(23);
}

TEST(ParseZStart, SignDecimalsAndTextsWithoutANumber) {
  struct {
    const char* text;
    float value;
    bool negative;
  } table[] = {
      {"-1.5", -1.5f, true}, {"0", 0, false},         {"", 0, false},
      {"-", -0.0f, true},    {"-0", -0.0f, true},     {".", 0, false},
      {"1-2", 1, false},     {"0000.5", 0.5f, false}, {"-12.5", -12.5f, true},
      {"200", 200, false},   {"-40", -40, true},      {"-.5", -0.5f, true},
      {"5.", 5, false},      {"1.2.3", 1.2f, false},  {"123456789", 123456789.0f, false},
      {"0.4", 0.4f, false},  {"-0.3", -0.3f, true},
  };
  for (const auto& row : table) {
    std::unique_ptr<CapturedRun> run = captured(row.text, "210", "300");
    run->g.cur_z = 99;
    parse_z_start(&run->g);
    EXPECT_EQ(run->g.cur_z, row.value) << '"' << row.text << '"';
    EXPECT_EQ(std::signbit(run->g.cur_z), row.negative) << '"' << row.text << '"';
  }
}

TEST(GeneratorFrame, HeaderAndStartSequence) {
  std::unique_ptr<CapturedRun> run = captured("-1.5", "0210", "0000300");
  write_header(&run->g);
  write_start_sequence(&run->g);
  ASSERT_EQ(run->count(), 9u);
  EXPECT_TRUE(is_time_line(run->line(0))) << run->line(0);
  EXPECT_EQ(run->line(1), "; With z_start: -1.5 heat temp: 0210 speed: 0000300");
  EXPECT_EQ(run->line(2), "; Author: Veldrane");
  EXPECT_EQ(run->line(3), "; Website: https://lumenforge.example/vantor");
  EXPECT_EQ(run->line(4), "; E-mail: vantor@lumenforge.example");
  EXPECT_EQ(run->line(5), "G90");
  EXPECT_EQ(run->line(6), "G1 F0000300 Z-1.500");
  EXPECT_EQ(run->line(7), "M106 S0210");
  EXPECT_EQ(run->line(8), "M109 S0210");

  for (const char* z : {"0", "", "-", "-0"}) {
    std::unique_ptr<CapturedRun> r = captured(z, "210", "300");
    write_start_sequence(&r->g);
    EXPECT_EQ(r->line(1), z[0] == '-' ? "G1 F300 Z-0.000" : "G1 F300 Z0.000") << z;
  }
}

TEST(GeneratorFrame, WholeJobEndsWithEndSequenceAndMarker) {
  std::unique_ptr<CapturedRun> run = captured_job("5", "210", "300");
  ASSERT_EQ(run->count(), 3758388u + 1u);
  EXPECT_EQ(run->line(1), "; With z_start: 5 heat temp: 210 speed: 300");
  const char* tail[] = {"G92 E0.0", "G28", "M106 S0", "M109 S0"};
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(run->line(3758384 + i), tail[i]);
  EXPECT_EQ(run->text_from(3758388), "-EOT-");  // no line end
  EXPECT_EQ(run->text.find("-EOT-"), run->starts[3758388]);
}

TEST(GeneratorThreadMain, LongestHeaderLineCrossesWhole) {
  // Three nine-character texts make the second header line 64 bytes long.
  TypedValues typed = {"123456789", "123456789", "123456789"};
  LineChannel ch;
  ASSERT_EQ(channel::listen(&ch), 1);
  GeneratorThread g{};
  g.typed = &typed;
  g.channel = &ch;
  std::thread generator([&] { generator_thread_main(&g); });
  ASSERT_EQ(channel::accept(&ch), 1);
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  std::vector<std::string> head;
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
    head.emplace_back(buf, n);
    channel::acknowledge(&ch);
  }
  EXPECT_EQ(head[1], "; With z_start: 123456789 heat temp: 123456789 speed: 123456789\n");
  EXPECT_EQ(head[1].size(), 64u);
  EXPECT_EQ(head[2], "; Author: Veldrane\n");
  EXPECT_EQ(head[5], "G90\n");
  channel::shutdown(&ch);  // the rest of the job is not wanted
  generator.join();
}

// Long enough for the generator to pass its spin, and to have posted its
// next line were it going to.
void hold_back() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }

// Takes `count` lines of a generator that sends through `ch`, holding each
// back before it is taken and again before it is acknowledged: the
// generator may have made the next line, but it must not be in the mailbox.
// Calls `before_ack` with each line held. Stops at the first failure.
void take_held_back(LineChannel* ch, uint32_t count,
                    const std::function<void(uint32_t, const std::string&)>& before_ack) {
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  for (uint32_t taken = 1; taken <= count; ++taken) {
    bool arrived = eventually([&] { return channel::lines_posted(ch) >= taken; });
    EXPECT_TRUE(arrived) << "line " << taken;
    hold_back();
    EXPECT_EQ(channel::lines_posted(ch), taken)
        << "line " << taken + 1 << " posted before line " << taken << " was acknowledged";
    if (!arrived || channel::lines_posted(ch) != taken)
      return;  // the line to take was overwritten
    ReceiveResult r = channel::receive_line(ch, buf, &n);
    std::string line(buf, n);
    EXPECT_EQ(r, line == END_MARKER ? RECEIVED_END : RECEIVED_LINE);
    hold_back();
    EXPECT_EQ(channel::lines_posted(ch), taken);
    EXPECT_EQ(std::string(ch->mailbox.text, ch->mailbox.length), line);
    before_ack(taken, line);
    channel::acknowledge(ch);
  }
}

// The generator makes its next line while one is in flight, but however
// long the receiver holds a line, the next one does not reach the mailbox
// before that one is acknowledged; and the generator is done only once its
// end marker is acknowledged.
TEST(GeneratorThreadMain, ALineIsPostedOnlyOnceTheOneBeforeIsAcknowledged) {
  TypedValues typed = {"0.4", "210", "300"};
  {
    LineChannel ch;
    auto g = std::make_unique<GeneratorThread>();
    Thread thread;
    ASSERT_TRUE(start_generator(&ch, g.get(), &typed, &thread));
    // The header, the start sequence and the first lines of the print.
    std::vector<std::string> lines;
    take_held_back(&ch, 16, [&](uint32_t, const std::string& line) { lines.push_back(line); });
    channel::shutdown(&ch);
    EXPECT_EQ(join_thread(&thread), -1);
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[5], "G90\n");
    EXPECT_EQ(lines[6], "G1 F300 Z0.400\n");
  }
  LineChannel ch;
  auto g = std::make_unique<GeneratorThread>();
  g->typed = &typed;
  g->channel = &ch;
  ASSERT_EQ(channel::listen(&ch), 1);
  std::atomic<bool> ended{false};
  std::thread generator([&] {
    EXPECT_EQ(channel::connect(&ch), 1);
    write_end_sequence(g.get());
    send_end_marker(g.get());
    ended = true;
    channel::close(&ch);
  });
  ASSERT_EQ(channel::accept(&ch), 1);
  const char* tail[] = {"G92 E0.0\n", "G28\n", "M106 S0\n", "M109 S0\n", "-EOT-"};
  uint32_t held = 0;
  take_held_back(&ch, 5, [&](uint32_t taken, const std::string& line) {
    EXPECT_EQ(line, tail[taken - 1]);
    EXPECT_FALSE(ended);
    held = taken;
  });
  channel::shutdown(&ch);
  generator.join();
  EXPECT_EQ(held, 5u);
  EXPECT_TRUE(ended);
  EXPECT_FALSE(g->stopped);
}

TEST(GeneratorThreadMain, FailuresAreReturnedNotPrinted) {
  TypedValues typed = {"0", "210", "300"};
  {
    LineChannel not_listening;
    GeneratorThread g{};
    g.typed = &typed;
    g.channel = &not_listening;
    testing::internal::CaptureStdout();
    int result = generator_thread_main(&g);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result, -1);
    // Nothing was sent, and the paths were released.
    EXPECT_EQ(channel::lines_posted(&not_listening), 0u);
    EXPECT_EQ(g.paths.P1.list.size, 0u);
  }
  // A receiver that shuts down mid-job: the generator stops at the refused
  // line instead of formatting the rest of the job, which would have carried
  // the extruder some 44 m further.
  LineChannel ch;
  auto g = std::make_unique<GeneratorThread>();
  Thread thread;
  ASSERT_TRUE(start_generator(&ch, g.get(), &typed, &thread));
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
    channel::acknowledge(&ch);
  }
  channel::shutdown(&ch);
  EXPECT_EQ(join_thread(&thread), -1);
  EXPECT_TRUE(g->stopped);
  EXPECT_LT(g->cur_e, 2.0f);
}

}  // namespace
