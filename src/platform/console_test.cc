#include "platform/console.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/console_keys.h"
#include "platform/test_console.h"

namespace {

struct Fixture {
  Console con;
  MemoryConsole mem;
  Fixture() { open_memory_console(&con, &mem); }
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

TEST(Console, KeysAreReadOneByOneAndWaitingForAKeyPassesOverReleases) {
  Fixture f;
  Console* con = &f.con;
  memory_press(&f.mem, VKEY_0 + 4);
  memory_add(&f.mem, VKEY_SHIFT, false);
  memory_press(&f.mem, VKEY_RETURN);

  // One event a read, however many would fit.
  KeyEvent e[7] = {};
  ASSERT_EQ(console_read_input(con, e, 7), 1);
  EXPECT_TRUE(e[0].key_down);
  EXPECT_EQ(e[0].virtual_key, VKEY_0 + 4);
  ASSERT_EQ(console_read_input(con, e, 7), 1);
  EXPECT_FALSE(e[0].key_down);
  EXPECT_EQ(e[0].virtual_key, VKEY_0 + 4);

  console_flush_input(con);
  EXPECT_EQ(f.mem.discards, 1);
  EXPECT_EQ(console_wait_key(con), 1);  // Shift's release passed over
  EXPECT_EQ(f.mem.next, f.mem.script.size() - 1);
  ASSERT_EQ(console_read_input(con, e, 7), 1);  // Enter's release
  EXPECT_FALSE(e[0].key_down);
  EXPECT_EQ(console_read_input(con, e, 7), -1);  // input has ended
  EXPECT_EQ(console_wait_key(con), -1);
}

TEST(Console, TheScreenIsShownBeforeEveryWaitAndAtMostEveryIntervalOtherwise) {
  Fixture f;
  Console* con = &f.con;
  memory_press(&f.mem, VKEY_A);
  KeyEvent e[7];
  console_read_input(con, e, 7);
  EXPECT_EQ(f.mem.shows, 1);  // before the wait for the key
  console_read_input(con, e, 7);
  EXPECT_EQ(f.mem.shows, 1);  // nothing changed since: nothing to show

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

TEST(Console, ClosingEndsShowingAndInput) {
  Fixture f;
  memory_press(&f.mem, VKEY_A);
  console_close(&f.con);
  console_close(&f.con);
  EXPECT_TRUE(f.mem.closed);
  int shows = f.mem.shows;
  console_show(&f.con);
  EXPECT_EQ(f.mem.shows, shows);
  KeyEvent e;
  EXPECT_EQ(console_read_input(&f.con, &e, 1), -1);
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

}  // namespace
