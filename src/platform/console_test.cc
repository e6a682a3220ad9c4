#include "platform/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/console_keys.h"
#include "platform/test_console.h"

namespace {

struct Fixture {
  Console con;
  MemoryConsole mem;
  Fixture() { open_memory_console(&con, &mem, true); }
};

TEST(Console, WriteGoesToTheCellsAtTheCursorInTheAttributeInForce) {
  Fixture f;
  Console* con = &f.con;
  EXPECT_EQ(console_row(con, 0), "");
  EXPECT_EQ(con->cells[5][5].attr, ATTR_DEFAULT);

  console_set_attribute(con, 6);
  console_set_cursor(con, 35, 4);
  console_write(con, "Lumenforge", 4);  // the exact length, no more
  EXPECT_EQ(console_row(con, 4), std::string(35, ' ') + "Lume");
  EXPECT_EQ(con->cells[4][35].attr, 6);
  EXPECT_EQ(con->cells[4][38].attr, 6);
  EXPECT_EQ(con->cells[4][39].attr, ATTR_DEFAULT);
  EXPECT_EQ(con->cursor_col, 39);  // behind what was written
  EXPECT_EQ(con->cursor_row, 4);

  // A write passing the right edge is cut there; nothing wraps.
  console_set_cursor(con, CONSOLE_COLUMNS - 3, 7);
  console_write(con, "abcdef", 6);
  EXPECT_EQ(console_text(con, CONSOLE_COLUMNS - 3, 7, 3), "abc");
  EXPECT_EQ(console_row(con, 8), "");
  EXPECT_EQ(con->cursor_col, CONSOLE_COLUMNS - 1);

  // Positions outside the buffer are held at its edge.
  console_set_cursor(con, -5, CONSOLE_ROWS + 4);
  EXPECT_EQ(con->cursor_col, 0);
  EXPECT_EQ(con->cursor_row, CONSOLE_ROWS - 1);

  // Clearing blanks every cell in the attribute in force, cursor home.
  console_set_attribute(con, 0x1F);
  console_clear(con);
  EXPECT_EQ(console_row(con, 4), "");
  EXPECT_EQ(con->cells[CONSOLE_ROWS - 1][CONSOLE_COLUMNS - 1].attr, 0x1F);
  EXPECT_EQ(con->cursor_col, 0);
  EXPECT_EQ(con->cursor_row, 0);

  console_set_cursor_info(con, 1, false);
  EXPECT_FALSE(con->cursor_visible);
}

TEST(Console, InputQueueIsCountedReadAndFlushed) {
  Fixture f;
  Console* con = &f.con;
  memory_press(&f.mem, VKEY_0 + 4);
  memory_add_event(&f.mem, INPUT_FOCUS_EVENT);
  memory_press(&f.mem, VKEY_RETURN);

  // One record at a time, as keys arrive one by one.
  EXPECT_EQ(console_input_count(con), 1);
  InputRecord r[7] = {};
  ASSERT_EQ(console_read_input(con, r, 7), 1);
  EXPECT_EQ(r[0].event_type, INPUT_KEY_EVENT);
  EXPECT_TRUE(r[0].key_down);
  EXPECT_EQ(r[0].virtual_key, VKEY_0 + 4);
  EXPECT_EQ(r[0].repeat_count, 1);
  // The release the device did not report follows on its own.
  ASSERT_EQ(console_read_input(con, r, 7), 1);
  EXPECT_FALSE(r[0].key_down);
  EXPECT_EQ(r[0].virtual_key, VKEY_0 + 4);

  // A flush drops what is queued and tells the device.
  EXPECT_EQ(console_input_count(con), 1);
  console_flush_input(con);
  EXPECT_EQ(f.mem.discards, 1);
  EXPECT_EQ(con->queue_count, 0);

  // Waiting for a key passes over releases and other events.
  EXPECT_EQ(console_wait_key(con), 1);
  EXPECT_EQ(f.mem.next, f.mem.script.size());
  ASSERT_EQ(console_read_input(con, r, 7), 1);  // Enter's release
  EXPECT_FALSE(r[0].key_down);
  EXPECT_EQ(console_read_input(con, r, 7), -1);  // input has ended
  EXPECT_EQ(console_wait_key(con), -1);
}

TEST(Console, AnOwedReleaseIsDroppedByAFlush) {
  Fixture f;
  memory_press(&f.mem, VKEY_A);
  console_queue_key(&f.con, VKEY_DELETE);
  InputRecord r[7] = {};
  ASSERT_EQ(console_read_input(&f.con, r, 7), 1);
  EXPECT_TRUE(r[0].key_down);
  EXPECT_EQ(r[0].virtual_key, VKEY_DELETE);
  console_flush_input(&f.con);
  ASSERT_EQ(console_read_input(&f.con, r, 7), 1);
  EXPECT_TRUE(r[0].key_down);  // the next key, not Delete's release
  EXPECT_EQ(r[0].virtual_key, VKEY_A);
}

TEST(Console, TheScreenIsShownBeforeEveryWaitAndAtMostEveryIntervalOtherwise) {
  Fixture f;
  Console* con = &f.con;
  memory_press(&f.mem, VKEY_A);
  InputRecord r[7];
  console_read_input(con, r, 7);
  EXPECT_EQ(f.mem.shows, 1);  // before the wait for the key
  console_read_input(con, r, 7);
  EXPECT_EQ(f.mem.shows, 1);  // the release was queued: no wait, no show

  console_sleep(con, 4000);
  EXPECT_EQ(f.mem.shows, 2);
  EXPECT_EQ(f.mem.slept_ms, 4000u);

  // Many quick calls in a row show at most once per interval, whatever
  // the clock did meanwhile: the bound counts from the last show before.
  auto shows_during = [&](int calls, int64_t* bound) {
    int before = f.mem.shows;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) {
      console_set_cursor(con, 22, 13);
      console_write(con, "G1 F300 E1.000 X1.000 Y1.000", 28);
      console_show_soon(con);
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    *bound =
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / SHOW_INTERVAL_MS +
        1;
    return f.mem.shows - before;
  };
  int64_t bound = 0;
  console_show(con);
  EXPECT_LE(shows_during(100000, &bound), bound);
  // And a change does get shown once the interval has passed: 64 calls
  // include two looks at the clock.
  std::this_thread::sleep_for(std::chrono::milliseconds(SHOW_INTERVAL_MS + 5));
  int shown = shows_during(64, &bound);
  EXPECT_GE(shown, 1);
  EXPECT_LE(shown, bound);
}

TEST(Console, ClosingEndsShowingAndInputButNotPrinting) {
  Fixture f;
  memory_press(&f.mem, VKEY_A);
  console_close(&f.con);
  console_close(&f.con);
  EXPECT_TRUE(f.mem.closed);
  int shows = f.mem.shows;
  console_show(&f.con);
  EXPECT_EQ(f.mem.shows, shows);
  InputRecord r;
  EXPECT_EQ(console_read_input(&f.con, &r, 1), -1);
  console_print_line(&f.con, "Created file:");
  EXPECT_EQ(f.mem.printed, "Created file:\n");
}

TEST(ConsoleKeys, CharactersMapToTheKeysThatGiveThem) {
  for (char c = '0'; c <= '9'; ++c)
    EXPECT_EQ(virtual_key_for_char(c), VKEY_0 + (c - '0'));
  EXPECT_EQ(virtual_key_for_char('a'), VKEY_A);
  EXPECT_EQ(virtual_key_for_char('Z'), VKEY_A + 25);
  EXPECT_EQ(virtual_key_for_char('-'), VKEY_OEM_MINUS);
  EXPECT_EQ(virtual_key_for_char('.'), VKEY_OEM_PERIOD);
  EXPECT_EQ(virtual_key_for_char(','), VKEY_OEM_COMMA);
  EXPECT_EQ(virtual_key_for_char('\n'), VKEY_RETURN);
  EXPECT_EQ(virtual_key_for_char('\r'), VKEY_RETURN);
  EXPECT_EQ(virtual_key_for_char(0x7F), VKEY_BACK);
  EXPECT_EQ(virtual_key_for_char(0x08), VKEY_BACK);
  EXPECT_EQ(virtual_key_for_char(0x1B), VKEY_ESCAPE);
  EXPECT_EQ(virtual_key_for_char(0x03), VKEY_CANCEL);
  EXPECT_EQ(virtual_key_for_char('!'), VKEY_NONE);
  EXPECT_EQ(virtual_key_for_char(0xE9), VKEY_NONE);  // a character, not the key 0xE9
}

// The plain console reading a pipe, as when a script feeds the program.
struct PlainFixture {
  Console con;
  int in[2];
  int out[2];
  PlainFixture(const std::string& input) {
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(in[1]);
    open_plain_console(&con, in[0], out[1]);
  }
  ~PlainFixture() {
    console_close(&con);
    ::close(in[0]);
    ::close(out[0]);
    if (out[1] >= 0)
      ::close(out[1]);
  }
  std::string output() {
    ::close(out[1]);
    out[1] = -1;
    std::string s;
    char buf[256];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
      s.append(buf, static_cast<size_t>(n));
    return s;
  }
};

TEST(PlainConsole, ReadsLinesEndedByCrLfOrBothOrTheEndOfInput) {
  PlainFixture f("1\r\n-\r.\n\n" + std::string(20, 'x') + "\n,x");
  EXPECT_FALSE(f.con.full_screen);
  std::vector<std::string> lines;
  std::vector<size_t> lengths;
  char line[16];
  size_t length = 0;
  while (console_read_line(&f.con, "not shown on a pipe", line, sizeof line, &length) == 1) {
    lines.push_back(line);
    lengths.push_back(length);
  }
  // A line longer than the buffer is cut, with its whole length told.
  std::vector<std::string> expect = {"1", "-", ".", "", std::string(15, 'x'), ",x"};
  EXPECT_EQ(lines, expect);
  EXPECT_EQ(lengths, (std::vector<size_t>{1, 1, 1, 0, 20, 2}));
  EXPECT_EQ(console_read_line(&f.con, "", line, sizeof line, &length), -1);
  console_progress_line(&f.con, "Progress:         1 %");  // nobody watches a pipe
  EXPECT_EQ(f.output(), "");
}

TEST(PlainConsole, PrintsLinesOnItsOutput) {
  PlainFixture f("");
  console_print_line(&f.con, "Error:            typed number is invalid");
  console_close(&f.con);
  console_print_line(&f.con, "Created file:     dagoma0.g (in current directory)");
  EXPECT_EQ(f.output(),
            "Error:            typed number is invalid\n"
            "Created file:     dagoma0.g (in current directory)\n");
}

}  // namespace
