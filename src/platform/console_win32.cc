// The full screen on Windows, through the console's own calls: each text is
// written where it stands (cursor position, attribute, WriteConsoleA), the
// frame is blanks whose attributes carry the console's grid lines, and keys
// arrive as the console's key events, releases included. The console has
// no alternate screen: what was drawn stays after close.

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "platform/console.h"
#include "platform/interrupt.h"

namespace {

// The texts are ISO 8859-1, and the console shows them in it.
constexpr UINT CODE_PAGE_LATIN1 = 28591;

constexpr WORD ATTR_TEXT = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
constexpr WORD ATTR_BANNER = FOREGROUND_RED | FOREGROUND_GREEN;
// The grid lines run along one edge of a cell: the top, the left, the right.
constexpr WORD GRID_TOP = COMMON_LVB_GRID_HORIZONTAL;
constexpr WORD GRID_LEFT = COMMON_LVB_GRID_LVERTICAL;
constexpr WORD GRID_RIGHT = COMMON_LVB_GRID_RVERTICAL;

// The console as found, to give it back on close.
struct SavedConsole {
  DWORD input_mode;
  DWORD output_mode;
  WORD attributes;
  CONSOLE_CURSOR_INFO cursor;
  UINT input_code_page;
  UINT output_code_page;
  char title[512];
  bool have_title;
  HWND window;
  LONG window_style;
};

struct Win32Device {
  HANDLE in;
  HANDLE out;
  SavedConsole saved;
  WORD attr;       // in force on the console
  int rows_drawn;  // down to the lowest row written, or the layout's
};

Win32Device* device(const Console* con) { return static_cast<Win32Device*>(con->device); }

// The device the interrupt handler gives back (Ctrl+C, Ctrl+Break, the
// window closed); one console per process.
std::atomic<Win32Device*> g_device{nullptr};

// `length` bytes at (col, row) in `attr`. The interrupt handler gives the
// console back and prints its message from a thread of its own: it waits
// for a write under way, whose cursor move would otherwise land among its
// own, and a later write waits for it, until the process ends.
void put(Win32Device* d, int col, int row, const char* text, DWORD length, WORD attr) {
  interrupt_hold();
  if (attr != d->attr) {
    SetConsoleTextAttribute(d->out, attr);
    d->attr = attr;
  }
  SetConsoleCursorPosition(d->out, COORD{static_cast<SHORT>(col), static_cast<SHORT>(row)});
  DWORD written = 0;
  WriteConsoleA(d->out, text, length, &written, nullptr);
  if (row + 1 > d->rows_drawn)
    d->rows_drawn = row + 1;
  interrupt_release();
}

void blanks(Win32Device* d, int col, int row, int count, WORD attr) {
  char text[CONSOLE_COLUMNS];
  for (int i = 0; i < count; ++i)
    text[i] = ' ';
  put(d, col, row, text, static_cast<DWORD>(count), attr);
}

// The window's title, code page and style, saved first to be given back:
// the window can then be neither maximised nor resized by its border.
void set_up_window(Win32Device* d, const char* title) {
  SetConsoleTitleA(title);
  SetConsoleCP(CODE_PAGE_LATIN1);
  SetConsoleOutputCP(CODE_PAGE_LATIN1);
  d->saved.window = GetConsoleWindow();
  if (d->saved.window == nullptr)
    return;
  d->saved.window_style = GetWindowLongA(d->saved.window, GWL_STYLE);
  SetWindowLongA(d->saved.window, GWL_STYLE,
                 d->saved.window_style & ~(WS_MAXIMIZEBOX | WS_THICKFRAME));
}

// Gives back what open changed, and puts the cursor under what was drawn,
// where lines printed afterwards belong. Also run on the interrupt
// handler's thread when the process is being ended.
void restore(Win32Device* d) {
  if (d->rows_drawn > 0)
    SetConsoleCursorPosition(d->out, COORD{0, static_cast<SHORT>(d->rows_drawn)});
  SetConsoleTextAttribute(d->out, d->saved.attributes);
  SetConsoleCursorInfo(d->out, &d->saved.cursor);
  SetConsoleMode(d->out, d->saved.output_mode);
  SetConsoleMode(d->in, d->saved.input_mode);
  SetConsoleCP(d->saved.input_code_page);
  SetConsoleOutputCP(d->saved.output_code_page);
  if (d->saved.have_title)
    SetConsoleTitleA(d->saved.title);
  if (d->saved.window != nullptr)
    SetWindowLongA(d->saved.window, GWL_STYLE, d->saved.window_style);
}

void restore_on_interrupt() {
  if (Win32Device* d = g_device.load())
    restore(d);
}

bool is_handle(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }

}  // namespace

int console_open(Console* con, const ConsoleSetup& setup, int*, int*) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD input_mode = 0, output_mode = 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  // Both must be the console: input from a pipe or a file, or output into
  // one, is a plain stream.
  if (!is_handle(in) || !is_handle(out) || !GetConsoleMode(in, &input_mode) ||
      !GetConsoleMode(out, &output_mode) || !GetConsoleScreenBufferInfo(out, &info))
    return CONSOLE_NOT_A_TERMINAL;
  Win32Device* d = new Win32Device();
  d->in = in;
  d->out = out;
  d->saved.input_mode = input_mode;
  d->saved.output_mode = output_mode;
  d->saved.attributes = info.wAttributes;
  if (!GetConsoleCursorInfo(out, &d->saved.cursor))
    d->saved.cursor = {25, TRUE};
  d->saved.input_code_page = GetConsoleCP();
  d->saved.output_code_page = GetConsoleOutputCP();
  d->saved.have_title = GetConsoleTitleA(d->saved.title, sizeof d->saved.title) > 0;
  d->attr = info.wAttributes;
  d->rows_drawn = setup.rows;  // the layout's, at the least
  // A write into the last column stays in its row (and never scrolls the
  // buffer); a click into the window does not start a selection, which
  // would hold every write, and with it the job, until it ends.
  SetConsoleMode(out, output_mode & ~static_cast<DWORD>(ENABLE_WRAP_AT_EOL_OUTPUT));
  SetConsoleMode(
      in, (input_mode | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE));
  CONSOLE_CURSOR_INFO hidden = {1, FALSE};
  SetConsoleCursorInfo(out, &hidden);
  // A window smaller than the layout is no reason to give up: the screen
  // buffer is enlarged to it (never shrunk), and the window scrolls over it.
  if (info.dwSize.X < setup.columns || info.dwSize.Y < setup.rows) {
    SHORT columns =
        static_cast<SHORT>(info.dwSize.X < setup.columns ? setup.columns : info.dwSize.X);
    SHORT rows = static_cast<SHORT>(info.dwSize.Y < setup.rows ? setup.rows : info.dwSize.Y);
    SetConsoleScreenBufferSize(out, COORD{columns, rows});
  }
  set_up_window(d, setup.title);
  con->device = d;
  g_device.store(d);
  interrupt_set_restore(restore_on_interrupt);
  return CONSOLE_OPENED;
}

// "cls" blanks the whole buffer in the attribute in force and brings the
// window to its top, where the layout's rows are.
void console_clear(Console* con) {
  Win32Device* d = device(con);
  interrupt_hold();
  SetConsoleTextAttribute(d->out, ATTR_TEXT);
  d->attr = ATTR_TEXT;
  int cleared = system("cls");
  interrupt_release();
  for (int row = 0; cleared != 0 && row < CONSOLE_ROWS; ++row)
    blanks(d, 0, row, CONSOLE_COLUMNS, ATTR_TEXT);
}

void console_write(Console* con, int col, int row, const char* text, size_t length,
                   ConsoleStyle style) {
  Win32Device* d = device(con);
  char shown[CONSOLE_COLUMNS];
  size_t n = console_visible(col, row, text, length, shown);
  if (d != nullptr && n > 0)
    put(d, col, row, shown, static_cast<DWORD>(n), style == STYLE_BANNER ? ATTR_BANNER : ATTR_TEXT);
}

// Clockwise from the top-left corner: the corners carry two lines, the top
// and bottom rows the line along their top, the sides theirs.
void console_frame(Console* con, int left, int top, int right, int bottom) {
  Win32Device* d = device(con);
  blanks(d, left, top, 1, ATTR_TEXT | GRID_TOP | GRID_LEFT);
  blanks(d, left + 1, top, right - left - 1, ATTR_TEXT | GRID_TOP);
  blanks(d, right, top, 1, ATTR_TEXT | GRID_TOP | GRID_RIGHT);
  for (int row = top + 1; row < bottom; ++row)
    blanks(d, right, row, 1, ATTR_TEXT | GRID_RIGHT);
  blanks(d, left, bottom, right - left + 1, ATTR_TEXT | GRID_TOP);
  for (int row = bottom - 1; row > top; --row)
    blanks(d, left, row, 1, ATTR_TEXT | GRID_LEFT);
}

// Every write has reached the console already.
void console_show(Console*) {}

// The buffer holds the layout whatever the window: no notice to show.
void console_set_notice(Console*, const char*) {}

// Key events only: the console's other events (mouse, focus, menu, buffer
// size) are nobody's business here. One per call, so that nothing is lost;
// a held key's repeat count is one event too.
int console_read_key(Console* con, KeyEvent* event) {
  Win32Device* d = device(con);
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (d == nullptr || !ReadConsoleInputA(d->in, &record, 1, &got))
      return -1;  // the console is gone: the input has ended
    if (got == 1 && record.EventType == KEY_EVENT) {
      const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
      *event = KeyEvent{key.bKeyDown != 0, key.wVirtualKeyCode, key.uChar.AsciiChar};
      return 1;
    }
  }
}

void console_take_release(Console* con) {
  KeyEvent release;
  console_read_key(con, &release);
}

void console_flush_input(Console* con) { FlushConsoleInputBuffer(device(con)->in); }

void console_sleep(Console*, unsigned ms) { Sleep(ms); }

bool console_screen_stays(const Console*) { return true; }

void console_close(Console* con) {
  Win32Device* d = device(con);
  if (d == nullptr)
    return;
  interrupt_set_restore(nullptr);
  g_device.store(nullptr);
  restore(d);
  delete d;
  con->device = nullptr;
}
