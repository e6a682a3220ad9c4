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

namespace {

void write_at(Console* con, int col, int row, const char* text, ConsoleStyle style = STYLE_TEXT) {
  console_write(con, col, row, text, strlen(text), style);
}

const ConsoleSetup SETUP = {"Lumenforge | Vantor", 119, 22, "too small"};

int open_console(Console* con) {
  int columns = 0, rows = 0;
  return console_open(con, SETUP, &columns, &rows);
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
  write_at(&con, 35, 4, "Lumenforge - 3d vantor dagoma printing", STYLE_BANNER);
  console_frame(&con, 1, 9, 118, 21);
  write_at(&con, 4, 11, "3d object:");
  console_show(&con);

  EXPECT_EQ(screen_text(tc, 35, 4, 38), "Lumenforge - 3d vantor dagoma printing");
  EXPECT_EQ(screen_attr(tc, 35, 4), 6);
  EXPECT_EQ(screen_attr(tc, 72, 4), 6);
  EXPECT_EQ(screen_text(tc, 4, 11, 10), "3d object:");
  EXPECT_EQ(screen_attr(tc, 4, 11), 7);
  // The frame: blanks whose grid lines make one rectangle. Column 118 lies
  // beyond an 80-column buffer: the buffer was enlarged to hold the layout
  // rather than cutting it off.
  const struct {
    int col, row;
    uint16_t attr;
  } frame[] = {{1, 9, 0x0C07},    {2, 9, 0x0407},    {117, 9, 0x0407}, {118, 9, 0x1407},
               {118, 10, 0x1007}, {118, 20, 0x1007}, {1, 21, 0x0407},  {118, 21, 0x0407},
               {60, 21, 0x0407},  {1, 10, 0x0807},   {1, 20, 0x0807},  {2, 10, 7}};
  for (const auto& cell : frame) {
    EXPECT_EQ(screen_attr(tc, cell.col, cell.row), cell.attr) << cell.col << ", " << cell.row;
    EXPECT_EQ(screen_text(tc, cell.col, cell.row, 1), " ");
  }
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
void clear_with_console_output(Console* con, const TestConsole& tc) {
  fflush(stdout);
  int saved = _dup(1);
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), tc.out, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_WRONLY);
  _dup2(fd, 1);
  _close(fd);
  console_clear(con);
  _dup2(saved, 1);
  _close(saved);
}

TEST_F(ConsoleWin32, ClearBlanksWhatStoodBefore) {
  screen_put(tc, 0, 0, "left over from before");
  screen_put(tc, 60, 20, "more of it");
  ASSERT_EQ(open_console(&con), 1);
  clear_with_console_output(&con, tc);
  write_at(&con, 4, 16, "Enter calibrating point");
  EXPECT_EQ(screen_text(tc, 0, 0, 21), std::string(21, ' '));
  EXPECT_EQ(screen_text(tc, 60, 20, 10), std::string(10, ' '));
  EXPECT_EQ(screen_attr(tc, 0, 0), 7);
  EXPECT_EQ(screen_text(tc, 4, 16, 23), "Enter calibrating point");
}

TEST_F(ConsoleWin32, ControlCharactersShowAsBlanks) {
  ASSERT_EQ(open_console(&con), 1);
  console_write(&con, 10, 5, "a\nb\tc\x07", 6);
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
  EXPECT_EQ(screen_text(tc, 0, 0, 3), "top");
  EXPECT_EQ(screen_text(tc, last - 2, CONSOLE_ROWS - 1, 3), "end");
  EXPECT_EQ(screen_text(tc, 0, CONSOLE_ROWS, 3), "   ");
}

// Other events (a mouse move) are no key: they never arrive.
TEST_F(ConsoleWin32, KeysArriveOneByOneWithTheirReleases) {
  ASSERT_EQ(open_console(&con), 1);
  EXPECT_TRUE(console_screen_stays(&con));
  press_key(tc, '1', '1');
  put_mouse_event(tc);
  press_key(tc, VK_RETURN, '\r');

  const KeyEvent expected[] = {
      {true, '1', '1'},
      {false, '1', '1'},
      {true, VK_RETURN, '\r'},
      {false, VK_RETURN, '\r'},
  };
  for (const KeyEvent& e : expected) {
    KeyEvent event = {};
    ASSERT_EQ(console_read_key(&con, &event), 1);
    EXPECT_EQ(event.pressed, e.pressed);
    EXPECT_EQ(event.key, e.key);
    EXPECT_EQ(event.ch, e.ch);
  }
  // Where a key's release follows it, Enter's is taken away.
  press_key(tc, VK_RETURN, '\r');
  KeyEvent enter = {};
  ASSERT_EQ(console_read_key(&con, &enter), 1);
  console_take_release(&con);
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
  ASSERT_EQ(console_read_key(&con, &record), 1);
  EXPECT_EQ(record.key, '7');
  EXPECT_TRUE(record.pressed);
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
  write_at(&con, 35, 4, "banner", STYLE_BANNER);
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
