#include "channel/line_channel.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// Opens the channel as the program does: the server end on this thread, the
// client end on a thread of its own, which connects, runs `client` and
// closes. Each side keeps to its own CPUs until it closes its end, so the
// caller ends with channel::shutdown.
std::thread open_with_client(LineChannel* ch, std::function<void()> client) {
  EXPECT_EQ(channel::listen(ch), 1);
  std::thread thread([ch, client] {
    EXPECT_EQ(channel::connect(ch), 1);
    client();
    channel::close(ch);
  });
  EXPECT_EQ(channel::accept(ch), 1);
  return thread;
}

// Receives one line, acknowledges it and returns it as a string.
std::string take(LineChannel* ch, ReceiveResult expect = RECEIVED_LINE) {
  char buf[LINE_BUFFER_SIZE] = {};
  size_t n = 0;
  EXPECT_EQ(channel::receive_line(ch, buf, &n), expect);
  channel::acknowledge(ch);
  return std::string(buf, n);
}

// The text in the mailbox now. Only while the sender may not write it: the
// line was received and is not yet acknowledged.
std::string mailbox_text(const LineChannel& ch) {
  return std::string(ch.mailbox.text, ch.mailbox.length);
}

// Long enough for a waiter to pass its spin and go to sleep, and for a
// sender that was going to post to have done so.
void hold_back() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

// CPU time the calling thread has used, in seconds.
double thread_cpu_seconds() {
  timespec t = {};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(LineChannel, ConnectionStates) {
  LineChannel never_listened;
  EXPECT_EQ(channel::connect(&never_listened), -1);
  EXPECT_EQ(channel::accept(&never_listened), -1);

  LineChannel ch;
  EXPECT_EQ(channel::listen(&ch), 1);
  EXPECT_EQ(channel::listen(&ch), -1);  // one server per channel
  // A client that connects before accept is accepted as well.
  EXPECT_EQ(channel::connect(&ch), 1);
  EXPECT_EQ(channel::connect(&ch), -1);  // and only one client
  EXPECT_EQ(channel::accept(&ch), 1);
  channel::close(&ch);
  channel::shutdown(&ch);
}

TEST(LineChannel, AcceptReturnsWhenTheClientGivesUp) {
  LineChannel ch;
  ASSERT_EQ(channel::listen(&ch), 1);
  std::thread client([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    channel::close(&ch);  // closes without ever connecting
  });
  EXPECT_EQ(channel::accept(&ch), -1);
  client.join();
}

TEST(LineChannel, LineArrivesWhole) {
  LineChannel ch;
  const std::string lines[] = {"G28\n", std::string(62, 'X') + "\n", std::string(254, 'Y') + "\n"};
  std::thread client = open_with_client(&ch, [&] {
    for (const std::string& line : lines)
      EXPECT_EQ(channel::send_line(&ch, line.data(), line.size()), 1);
  });
  for (const std::string& line : lines) {
    char buf[LINE_BUFFER_SIZE];
    memset(buf, 0, sizeof buf);
    size_t n = 0;
    ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
    ASSERT_EQ(n, line.size());
    EXPECT_EQ(std::string(buf, n), line);
    channel::acknowledge(&ch);
  }
  client.join();
  channel::shutdown(&ch);
}

TEST(LineChannel, TooLongLineIsRefusedNotSplit) {
  LineChannel ch;
  std::thread client = open_with_client(&ch, [&] {
    std::string too_long(LINE_CAPACITY, 'Z');
    EXPECT_EQ(channel::send_line(&ch, too_long.data(), too_long.size()), -1);
    channel::send_line(&ch, "G90\n", 4);
  });
  // Nothing was posted: the next line is the first the receiver sees.
  EXPECT_EQ(take(&ch), "G90\n");
  client.join();
  channel::shutdown(&ch);
}

TEST(LineChannel, SenderWaitsForTheAcknowledgement) {
  LineChannel ch;
  std::atomic<bool> returned{false};
  std::thread client = open_with_client(&ch, [&] {
    channel::send_line(&ch, "G90\n", 4);
    returned = true;
  });
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
  // Long enough for the sender to pass its spin and go to sleep.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  channel::acknowledge(&ch);
  client.join();
  EXPECT_TRUE(returned);
  channel::shutdown(&ch);
}

// The sender posts a line and goes on while it is in flight, but the next
// line reaches the mailbox only once that one is acknowledged, however long
// the receiver holds it; and the last line's acknowledgement is waited for
// on its own.
TEST(LineChannel, PostWaitsForTheLineBeforeToBeAcknowledged) {
  LineChannel ch;
  std::atomic<int> posted{0};
  std::atomic<bool> waited{false};
  std::thread client = open_with_client(&ch, [&] {
    EXPECT_EQ(channel::post_line(&ch, "G90\n", 4), 1);
    posted = 1;
    EXPECT_EQ(channel::post_line(&ch, "G28\n", 4), 1);
    posted = 2;
    EXPECT_EQ(channel::wait_acknowledged(&ch), 1);
    waited = true;
    EXPECT_EQ(channel::wait_acknowledged(&ch), 1);  // nothing in flight
  });
  // The first post returns at once, and the second line is ready; it stays
  // out of the mailbox while the first is there, before it is taken and
  // while it is being stored.
  EXPECT_TRUE(eventually([&] { return posted >= 1; })) << "the post waited for its own line";
  hold_back();
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(channel::lines_posted(&ch), 1u) << "the next line did not wait";
  if (channel::lines_posted(&ch) != 1u) {
    channel::shutdown(&ch);  // the first line was overwritten: nothing to take
    client.join();
    return;
  }
  EXPECT_EQ(mailbox_text(ch), "G90\n");
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
  hold_back();
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(channel::lines_posted(&ch), 1u);
  EXPECT_EQ(mailbox_text(ch), "G90\n");
  channel::acknowledge(&ch);
  ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
  EXPECT_EQ(std::string(buf, n), "G28\n");
  EXPECT_TRUE(eventually([&] { return posted == 2; }));
  hold_back();
  EXPECT_FALSE(waited);
  channel::acknowledge(&ch);
  client.join();
  EXPECT_TRUE(waited);
  EXPECT_EQ(channel::lines_posted(&ch), 2u);
  channel::shutdown(&ch);
}

// A peer that holds its answer back (a stalled terminal or disk) leaves the
// other side asleep: a second of waiting costs next to no CPU, either way.
TEST(LineChannel, WaitingForASlowPeerCostsNoCpu) {
  constexpr auto HOLD = std::chrono::seconds(1);
  constexpr double MOST_CPU_S = 0.05;
  LineChannel ch;
  double sender_cpu = -1;
  std::thread client = open_with_client(&ch, [&] {
    double before = thread_cpu_seconds();
    EXPECT_EQ(channel::send_line(&ch, "G90\n", 4), 1);  // acknowledged a second late
    sender_cpu = thread_cpu_seconds() - before;
    std::this_thread::sleep_for(HOLD);
    EXPECT_EQ(channel::send_line(&ch, "G28\n", 4), 1);  // sent a second late
  });
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
  std::this_thread::sleep_for(HOLD);
  channel::acknowledge(&ch);
  double before = thread_cpu_seconds();
  ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
  double receiver_cpu = thread_cpu_seconds() - before;
  channel::acknowledge(&ch);
  client.join();
  channel::shutdown(&ch);
  EXPECT_EQ(std::string(buf, n), "G28\n");
  EXPECT_GE(sender_cpu, 0.0);
  EXPECT_LT(sender_cpu, MOST_CPU_S);
  EXPECT_LT(receiver_cpu, MOST_CPU_S);
}

TEST(LineChannel, EndMarkerIsAcknowledgedLikeALine) {
  LineChannel ch;
  int last_send = 0, last_wait = 0;
  std::thread client = open_with_client(&ch, [&] {
    channel::send_line(&ch, "G28\n", 4);
    last_send = channel::send_line(&ch, END_MARKER, END_MARKER_LENGTH);
  });
  EXPECT_EQ(take(&ch), "G28\n");
  EXPECT_EQ(take(&ch, RECEIVED_END), "-EOT-");
  client.join();
  channel::shutdown(&ch);
  EXPECT_EQ(last_send, 1);

  // Posted, then waited for.
  LineChannel posted;
  std::thread poster = open_with_client(&posted, [&] {
    channel::post_line(&posted, "G28\n", 4);
    channel::post_line(&posted, END_MARKER, END_MARKER_LENGTH);
    last_wait = channel::wait_acknowledged(&posted);
  });
  EXPECT_EQ(take(&posted), "G28\n");
  EXPECT_EQ(take(&posted, RECEIVED_END), "-EOT-");
  poster.join();
  channel::shutdown(&posted);
  EXPECT_EQ(last_wait, 1);

  // Only the first five bytes count.
  LineChannel ch2;
  std::thread client2 =
      open_with_client(&ch2, [&] { channel::send_line(&ch2, "-EOT-and more\n", 14); });
  take(&ch2, RECEIVED_END);
  client2.join();
  channel::shutdown(&ch2);
}

TEST(LineChannel, SenderGoneBeforeEndMarker) {
  LineChannel ch;
  std::thread client = open_with_client(&ch, [&] {
    channel::send_line(&ch, "G90\n", 4);
    // Long enough for the receiver to pass its spin and go to sleep.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  EXPECT_EQ(take(&ch), "G90\n");
  char buf[LINE_BUFFER_SIZE];
  size_t n = 7;
  EXPECT_EQ(channel::receive_line(&ch, buf, &n), SENDER_GONE);
  EXPECT_EQ(n, 0u);
  client.join();
  channel::shutdown(&ch);
}

// Whichever call the sender waits in, a shutdown refuses the line; an
// acknowledgement that came before is kept, and nothing more is posted.
TEST(LineChannel, ShutdownReleasesAWaitingSender) {
  {
    LineChannel ch;
    int result = 0, after = 0;
    std::thread client = open_with_client(&ch, [&] {
      result = channel::send_line(&ch, "G90\n", 4);
      after = channel::send_line(&ch, "G28\n", 4);
    });
    char buf[LINE_BUFFER_SIZE];
    size_t n = 0;
    ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
    hold_back();
    channel::shutdown(&ch);
    client.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(after, -1);
  }
  {
    // Waiting in a post for the line before.
    LineChannel ch;
    int first = 0, second = 0, last = 0;
    std::thread client = open_with_client(&ch, [&] {
      first = channel::post_line(&ch, "G90\n", 4);
      second = channel::post_line(&ch, "G28\n", 4);
      last = channel::wait_acknowledged(&ch);
    });
    char buf[LINE_BUFFER_SIZE];
    size_t n = 0;
    ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
    hold_back();
    channel::shutdown(&ch);
    client.join();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(last, -1);  // the first line was never acknowledged
    EXPECT_EQ(channel::lines_posted(&ch), 1u);
  }
  {
    // Acknowledged, then shut down: the acknowledgement counts, the next
    // line is refused.
    LineChannel ch;
    std::atomic<bool> acknowledged{false};
    int waited = 0, next = 0;
    std::thread client = open_with_client(&ch, [&] {
      channel::post_line(&ch, "G90\n", 4);
      while (!acknowledged)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      waited = channel::wait_acknowledged(&ch);
      next = channel::post_line(&ch, "G28\n", 4);
    });
    take(&ch);
    channel::shutdown(&ch);
    acknowledged = true;
    client.join();
    EXPECT_EQ(waited, 1);
    EXPECT_EQ(next, -1);
    EXPECT_EQ(channel::lines_posted(&ch), 1u);
  }
}

TEST(LineChannel, ExtraAcknowledgementDoesNotRunAhead) {
  LineChannel ch;
  std::thread client = open_with_client(&ch, [&] {
    channel::send_line(&ch, "A\n", 2);
    channel::send_line(&ch, "B\n", 2);
  });
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
  channel::acknowledge(&ch);
  channel::acknowledge(&ch);  // a second one for the same line is dropped
  ASSERT_EQ(channel::receive_line(&ch, buf, &n), RECEIVED_LINE);
  EXPECT_EQ(std::string(buf, n), "B\n");
  channel::acknowledge(&ch);
  client.join();
  channel::shutdown(&ch);
}

// Busy for `us` microseconds, as a peer that is still at work.
void busy_for(int us) {
  auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < until) {
  }
}

// Sends `count` numbered lines and checks that each arrives whole, in
// order, and that all do. With `paced`, each send and each acknowledgement
// comes a little before or after the waiter's spin gives up (100 us). With
// `posted`, each line is posted and the next made while it is in flight, as
// the generator does; otherwise each is sent and waited for.
void expect_numbered_lines(int count, bool paced, bool posted) {
  auto pause = [paced](int i, int step) {
    if (paced)
      busy_for(60 + (i * step) % 81);
  };
  LineChannel ch;
  std::thread client = open_with_client(&ch, [&] {
    char line[32];
    for (int i = 0; i < count; ++i) {
      pause(i, 37);
      int len = snprintf(line, sizeof line, "G1 X%d\n", i);
      auto send = posted ? channel::post_line : channel::send_line;
      ASSERT_EQ(send(&ch, line, static_cast<size_t>(len)), 1);
    }
    channel::post_line(&ch, END_MARKER, END_MARKER_LENGTH);
    EXPECT_EQ(channel::wait_acknowledged(&ch), 1);
  });
  char buf[LINE_BUFFER_SIZE];
  size_t n = 0;
  int received = 0;
  char expect[32];
  while (channel::receive_line(&ch, buf, &n) == RECEIVED_LINE) {
    int len = snprintf(expect, sizeof expect, "G1 X%d\n", received);
    ASSERT_EQ(std::string(buf, n), std::string(expect, static_cast<size_t>(len)));
    pause(received, 53);
    ++received;
    channel::acknowledge(&ch);
  }
  channel::acknowledge(&ch);
  client.join();
  channel::shutdown(&ch);
  EXPECT_EQ(received, count);
}

// Many hand-overs land just as a waiter marks the word to go to sleep: none
// may be lost there (a lost one hangs the test).
TEST(LineChannel, HandOversAsTheSpinGivesUp) {
  for (bool posted : {false, true}) {
    SCOPED_TRACE(posted ? "posted" : "sent");
    expect_numbered_lines(2000, true, posted);
  }
}

TEST(LineChannel, ManyLinesInOrder) {
  for (bool posted : {false, true}) {
    SCOPED_TRACE(posted ? "posted" : "sent");
    expect_numbered_lines(200000, false, posted);
  }
}

}  // namespace
