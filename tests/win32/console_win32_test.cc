// The console layer on a real Windows console (one without a window): what
// it draws stands in the console's screen buffer with its attributes, keys
// come from the console's input, and close gives the console back.

#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <string>

#include "console_fixture.h"
#include "platform/console.h"
#include "platform/console_keys.h"

namespace {

void write_at(Console* con, int col, int row, const char* text) {
  console_set_cursor(con, col, row);
  console_write(con, text, strlen(text));
}

const ConsoleSetup SETUP = {"Lumenforge | Vantor", 119, 22, "too small"};

int open_console(Console* con) {
  int columns = 0, rows = 0;
  return open_terminal_console(con, SETUP, &columns, &rows);
}

// The console layer reads the standard handles; here they are the console's
// own for the duration of one test.
class ConsoleWin32 : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(open_test_console(&tc, false));
    saved_in = GetStdHandle(STD_INPUT_HANDLE);
    saved_out = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, tc.in);
    SetStdHandle(STD_OUTPUT_HANDLE, tc.out);
    FlushConsoleInputBuffer(tc.in);
  }
  void TearDown() override {
    if (!con.closed && con.backend != nullptr)
      console_close(&con);
    SetStdHandle(STD_INPUT_HANDLE, saved_in);
    SetStdHandle(STD_OUTPUT_HANDLE, saved_out);
    close_test_console(&tc);
  }

  TestConsole tc;
  Console con = {};
  HANDLE saved_in = nullptr;
  HANDLE saved_out = nullptr;
};

TEST_F(ConsoleWin32, DrawsTextAndGridLinesIntoTheScreenBuffer) {
  ASSERT_EQ(open_console(&con), 1);
  console_set_cursor_info(&con, 1, false);
  console_set_attribute(&con, 6);
  write_at(&con, 35, 4, "Lumenforge - 3d vantor dagoma printing");
  console_set_attribute(&con, 0x0C07);
  write_at(&con, 1, 9, " ");
  console_set_attribute(&con, 0x0407);
  write_at(&con, 2, 9, " ");
  console_set_attribute(&con, 0x1407);
  write_at(&con, 118, 9, " ");
  console_set_attribute(&con, 7);
  write_at(&con, 4, 11, "3d object:");
  console_show(&con);

  EXPECT_EQ(screen_text(tc, 35, 4, 38), "Lumenforge - 3d vantor dagoma printing");
  EXPECT_EQ(screen_attr(tc, 35, 4), 6);
  EXPECT_EQ(screen_attr(tc, 72, 4), 6);
  EXPECT_EQ(screen_attr(tc, 73, 4), 7);
  EXPECT_EQ(screen_attr(tc, 1, 9), 0x0C07);
  EXPECT_EQ(screen_attr(tc, 2, 9), 0x0407);
  // Column 118 lies beyond an 80-column buffer: the buffer was enlarged to
  // hold the layout rather than cutting it off.
  EXPECT_EQ(screen_attr(tc, 118, 9), 0x1407);
  EXPECT_EQ(screen_text(tc, 4, 11, 10), "3d object:");
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(tc.out, &info));
  EXPECT_GE(info.dwSize.X, 119);
  EXPECT_GE(info.dwSize.Y, 22);
  CONSOLE_CURSOR_INFO cursor;
  ASSERT_TRUE(GetConsoleCursorInfo(tc.out, &cursor));
  EXPECT_FALSE(cursor.bVisible);
}

// "cls" runs in the command interpreter, which clears what the C runtime's
// standard output is: in the program, the console; here, for the one call,
// too (the test's own output goes to the test runner).
void show_with_console_output(Console* con, const TestConsole& tc) {
  fflush(stdout);
  int saved = _dup(1);
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), tc.out, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_WRONLY);
  _dup2(fd, 1);
  _close(fd);
  console_show(con);
  _dup2(saved, 1);
  _close(saved);
}

TEST_F(ConsoleWin32, FirstShowStartsFromAClearedScreen) {
  screen_put(tc, 0, 0, "left over from before");
  screen_put(tc, 60, 20, "more of it");
  ASSERT_EQ(open_console(&con), 1);
  write_at(&con, 4, 16, "Enter calibrating point");
  show_with_console_output(&con, tc);
  EXPECT_EQ(screen_text(tc, 0, 0, 21), std::string(21, ' '));
  EXPECT_EQ(screen_text(tc, 60, 20, 10), std::string(10, ' '));
  EXPECT_EQ(screen_attr(tc, 0, 0), 7);
  EXPECT_EQ(screen_text(tc, 4, 16, 23), "Enter calibrating point");
}

// The screen is brought up to date by writing what changed; cells that did
// not change are not written again.
TEST_F(ConsoleWin32, ShowWritesOnlyWhatChanged) {
  ASSERT_EQ(open_console(&con), 1);
  write_at(&con, 4, 13, "Writing gcode:    G1 F300 X10.000 Y20.000");
  console_show(&con);
  // Marks a cell that the console layer believes blank and will not touch.
  screen_put(tc, 50, 25, "X");
  write_at(&con, 22, 13, "G1 F300 X10.100");
  console_show(&con);
  EXPECT_EQ(screen_text(tc, 4, 13, 41), "Writing gcode:    G1 F300 X10.100 Y20.000");
  EXPECT_EQ(screen_text(tc, 50, 25, 1), "X");
  // A clear of the cell buffer blanks the screen at the next show.
  console_clear(&con);
  console_show(&con);
  EXPECT_EQ(screen_text(tc, 4, 13, 41), std::string(41, ' '));
}

TEST_F(ConsoleWin32, ControlCharactersShowAsBlanks) {
  ASSERT_EQ(open_console(&con), 1);
  console_set_cursor(&con, 10, 5);
  console_write(&con, "a\nb\tc\x07", 6);
  console_show(&con);
  EXPECT_EQ(screen_text(tc, 10, 5, 6), "a b c ");
  EXPECT_EQ(screen_text(tc, 0, 6, 20), std::string(20, ' '));
}

TEST_F(ConsoleWin32, TheLastColumnIsWrittenWithoutScrolling) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(tc.out, &info));
  ASSERT_EQ(open_console(&con), 1);
  write_at(&con, 0, 0, "top");
  int last = info.dwSize.X >= CONSOLE_COLUMNS ? CONSOLE_COLUMNS - 1 : info.dwSize.X - 1;
  write_at(&con, last - 2, CONSOLE_ROWS - 1, "end");
  console_show(&con);
  EXPECT_EQ(screen_text(tc, 0, 0, 3), "top");
  EXPECT_EQ(screen_text(tc, last - 2, CONSOLE_ROWS - 1, 3), "end");
  EXPECT_EQ(screen_text(tc, 0, CONSOLE_ROWS, 3), "   ");
}

// Other events (a mouse move) are no key: they never arrive.
TEST_F(ConsoleWin32, KeysArriveOneByOneWithTheirReleases) {
  ASSERT_EQ(open_console(&con), 1);
  EXPECT_TRUE(con.reports_releases);
  EXPECT_TRUE(con.screen_stays);
  press_key(tc, '1', '1');
  put_mouse_event(tc);
  press_key(tc, VK_RETURN, '\r');

  const KeyEvent expected[] = {
      {true, VKEY_0 + 1},
      {false, VKEY_0 + 1},
      {true, VKEY_RETURN},
      {false, VKEY_RETURN},
  };
  for (const KeyEvent& e : expected) {
    KeyEvent events[7] = {};
    ASSERT_EQ(console_read_input(&con, events, 7), 1);
    EXPECT_EQ(events[0].key_down, e.key_down);
    EXPECT_EQ(events[0].virtual_key, e.virtual_key);
  }
  DWORD pending = 1;
  EXPECT_TRUE(GetNumberOfConsoleInputEvents(tc.in, &pending));
  EXPECT_EQ(pending, 0u);
}

TEST_F(ConsoleWin32, FlushDropsKeysAlreadyWaiting) {
  ASSERT_EQ(open_console(&con), 1);
  press_key(tc, '5', '5');
  console_flush_input(&con);
  press_key(tc, '7', '7');
  KeyEvent record = {};
  ASSERT_EQ(console_read_input(&con, &record, 1), 1);
  EXPECT_EQ(record.virtual_key, VKEY_0 + 7);
  EXPECT_TRUE(record.key_down);
}

// The window's style too, where the console has a window (not here).
TEST_F(ConsoleWin32, OpenSetsUpTheWindow) {
  ASSERT_EQ(open_console(&con), 1);
  char title[64] = {};
  GetConsoleTitleA(title, sizeof title);
  EXPECT_STREQ(title, "Lumenforge | Vantor");
  EXPECT_EQ(GetConsoleCP(), 28591u);
  EXPECT_EQ(GetConsoleOutputCP(), 28591u);
}

TEST_F(ConsoleWin32, CloseGivesTheConsoleBack) {
  SetConsoleTitleA("before");
  SetConsoleTextAttribute(tc.out, 0x1E);
  CONSOLE_CURSOR_INFO cursor_before = {40, TRUE};
  SetConsoleCursorInfo(tc.out, &cursor_before);
  UINT input_cp = GetConsoleCP();
  UINT output_cp = GetConsoleOutputCP();
  DWORD mode_before = 0;
  GetConsoleMode(tc.out, &mode_before);

  ASSERT_EQ(open_console(&con), 1);
  console_set_cursor_info(&con, 1, false);
  console_set_attribute(&con, 6);
  write_at(&con, 35, 4, "banner");
  console_show(&con);
  console_close(&con);

  char title[64] = {};
  GetConsoleTitleA(title, sizeof title);
  EXPECT_STREQ(title, "before");
  CONSOLE_CURSOR_INFO cursor = {};
  GetConsoleCursorInfo(tc.out, &cursor);
  EXPECT_TRUE(cursor.bVisible);
  EXPECT_EQ(cursor.dwSize, 40u);
  EXPECT_EQ(GetConsoleCP(), input_cp);
  EXPECT_EQ(GetConsoleOutputCP(), output_cp);
  DWORD mode = 0;
  GetConsoleMode(tc.out, &mode);
  EXPECT_EQ(mode, mode_before);
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(tc.out, &info));
  EXPECT_EQ(info.wAttributes, 0x1E);
  // Lines printed afterwards go below the layout, not over it.
  EXPECT_EQ(info.dwCursorPosition.X, 0);
  EXPECT_EQ(info.dwCursorPosition.Y, 22);
  // The screen stays as it was drawn.
  EXPECT_EQ(screen_text(tc, 35, 4, 6), "banner");
}

}  // namespace

int main(int argc, char** argv) {
  int status = run_in_console_without_window();
  if (status >= 0)
    return status;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
