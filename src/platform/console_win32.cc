// The console on Windows, through the console API: the cell buffer is
// copied to the console's screen buffer, only the cells that changed since
// the last show, as runs of one attribute (position, attribute, write).
// The attribute's grid-line bits go along, and the console draws the frame
// from them. Keys arrive as the console's own key events, releases included.
// The console has no alternate screen: what was drawn stays after close.

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/interrupt.h"

namespace {

// The cells hold ISO 8859-1, and the console shows them in it.
constexpr UINT CODE_PAGE_LATIN1 = 28591;

// Unchanged cells between two changed ones of the same attribute are
// written along with them, up to this many: one call instead of three.
constexpr int MAX_UNCHANGED_IN_RUN = 8;

// An attribute no cell has: marks device cells whose content is unknown.
constexpr uint16_t ATTR_UNKNOWN = 0xFFFF;

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
  bool style_changed;
};

struct Win32Device {
  HANDLE in;
  HANDLE out;
  SavedConsole saved;

  // What the console's screen buffer holds, as far as this process wrote it.
  ConsoleCell shown[CONSOLE_ROWS][CONSOLE_COLUMNS];
  bool screen_started;  // the screen has been cleared once
  WORD device_attr;     // attribute in force on the console
  int cursor_col;       // where the console's cursor stands
  int cursor_row;
  bool cursor_visible;
  int cursor_size;
  int rows_drawn;  // rows up to the lowest one written, or the layout's
};

Win32Device* device(Console* con) { return static_cast<Win32Device*>(con->device); }

// The device the interrupt handler gives back (Ctrl+C, Ctrl+Break, the
// window closed); one console per process.
std::atomic<Win32Device*> g_device{nullptr};

bool same(const ConsoleCell& a, const ConsoleCell& b) { return a.ch == b.ch && a.attr == b.attr; }

int min_int(int a, int b) { return a < b ? a : b; }
int max_int(int a, int b) { return a > b ? a : b; }

void mark_unknown(Win32Device* d) {
  for (auto& row : d->shown) {
    for (ConsoleCell& cell : row) {
      cell.ch = 0;
      cell.attr = ATTR_UNKNOWN;
    }
  }
}

// The first show starts from a known screen: "cls" blanks the whole buffer
// in the attribute in force and brings the window to its top, where the
// layout's rows are.
void start_screen(Win32Device* d) {
  d->screen_started = true;
  SetConsoleTextAttribute(d->out, ATTR_DEFAULT);
  d->device_attr = ATTR_DEFAULT;
  if (system("cls") != 0) {
    mark_unknown(d);  // every cell is written then
    return;
  }
  for (auto& row : d->shown) {
    for (ConsoleCell& cell : row) {
      cell.ch = ' ';
      cell.attr = ATTR_DEFAULT;
    }
  }
  d->cursor_col = 0;
  d->cursor_row = 0;
}

// The layout needs a screen buffer of its size; a smaller one is enlarged
// (never shrunk), so that nothing is cut off. Returns the usable size.
void usable_size(Win32Device* d, const Console* con, int* cols, int* rows) {
  *cols = CONSOLE_COLUMNS;
  *rows = CONSOLE_ROWS;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(d->out, &info))
    return;
  int have_cols = info.dwSize.X;
  int have_rows = info.dwSize.Y;
  if (have_cols < con->need_columns || have_rows < con->need_rows) {
    COORD size = {static_cast<SHORT>(max_int(have_cols, con->need_columns)),
                  static_cast<SHORT>(max_int(have_rows, con->need_rows))};
    if (SetConsoleScreenBufferSize(d->out, size)) {
      have_cols = size.X;
      have_rows = size.Y;
    }
  }
  *cols = min_int(*cols, have_cols);
  *rows = min_int(*rows, have_rows);
}

// Writes cells [from, to) of one row, all of attribute `attr`.
void write_run(Win32Device* d, const Console* con, int row, int from, int to, WORD attr, int cols) {
  char text[CONSOLE_COLUMNS];
  for (int col = from; col < to; ++col) {
    // Cells hold ISO 8859-1; control characters would act rather than
    // show, so they show as blanks.
    unsigned char c = static_cast<unsigned char>(con->cells[row][col].ch);
    text[col - from] = (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
    d->shown[row][col] = con->cells[row][col];
  }
  if (attr != d->device_attr) {
    SetConsoleTextAttribute(d->out, attr);
    d->device_attr = attr;
  }
  COORD at = {static_cast<SHORT>(from), static_cast<SHORT>(row)};
  SetConsoleCursorPosition(d->out, at);
  DWORD written = 0;
  WriteConsoleA(d->out, text, static_cast<DWORD>(to - from), &written, nullptr);
  // Wrapping at the end of a line is off: the cursor stops on the last
  // column.
  d->cursor_col = min_int(to, cols - 1);
  d->cursor_row = row;
  d->rows_drawn = max_int(d->rows_drawn, row + 1);
}

void show_row(Win32Device* d, const Console* con, int row, int cols) {
  const ConsoleCell* want = con->cells[row];
  const ConsoleCell* have = d->shown[row];
  int col = 0;
  while (col < cols) {
    if (same(want[col], have[col])) {
      ++col;
      continue;
    }
    uint16_t attr = want[col].attr;
    int end = col + 1;  // one past the last changed cell of the run
    for (int scan = col + 1; scan < cols && want[scan].attr == attr; ++scan) {
      if (!same(want[scan], have[scan]))
        end = scan + 1;
      else if (scan - end >= MAX_UNCHANGED_IN_RUN)
        break;
    }
    write_run(d, con, row, col, end, attr, cols);
    col = end;
  }
}

void win32_show(Console* con) {
  Win32Device* d = device(con);
  // The interrupt handler gives the console back and prints its message
  // from a thread of its own: it waits for a show under way, whose cursor
  // moves and writes would otherwise land among its own; a later show
  // waits for it, until the process ends.
  interrupt_hold();
  if (!d->screen_started)
    start_screen(d);
  int cols = 0;
  int rows = 0;
  usable_size(d, con, &cols, &rows);
  d->rows_drawn = max_int(d->rows_drawn, min_int(con->need_rows, rows));
  for (int row = 0; row < rows; ++row)
    show_row(d, con, row, cols);

  int size = con->cursor_size < 1 ? 1 : con->cursor_size > 100 ? 100 : con->cursor_size;
  if (con->cursor_visible != d->cursor_visible || size != d->cursor_size) {
    CONSOLE_CURSOR_INFO info = {static_cast<DWORD>(size), con->cursor_visible ? TRUE : FALSE};
    SetConsoleCursorInfo(d->out, &info);
    d->cursor_visible = con->cursor_visible;
    d->cursor_size = size;
  }
  if (con->cursor_col != d->cursor_col || con->cursor_row != d->cursor_row) {
    COORD at = {static_cast<SHORT>(min_int(con->cursor_col, cols - 1)),
                static_cast<SHORT>(min_int(con->cursor_row, rows - 1))};
    SetConsoleCursorPosition(d->out, at);
    d->cursor_col = con->cursor_col;
    d->cursor_row = con->cursor_row;
  }
  interrupt_release();
}

// Key events only: the console's other events (mouse, focus, menu, buffer
// size) are nobody's business here. One per call, so that a reader that
// looks only at the first event of a read loses nothing; a held key's
// repeat count is one event too.
int win32_read_key(Console* con, KeyEvent* event) {
  Win32Device* d = device(con);
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputA(d->in, &record, 1, &got))
      return -1;  // the console is gone: the input has ended
    if (got == 1 && record.EventType == KEY_EVENT) {
      const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
      *event = KeyEvent{key.bKeyDown != 0, key.wVirtualKeyCode};
      return 1;
    }
  }
}

void win32_discard_input(Console* con) { FlushConsoleInputBuffer(device(con)->in); }

void win32_sleep(Console*, unsigned ms) { Sleep(ms); }

// The window's title, code page and style, saved first to be given back:
// the window can then be neither maximised nor resized by its border.
void set_up_window(Win32Device* d, const char* title) {
  SetConsoleTitleA(title);
  SetConsoleCP(CODE_PAGE_LATIN1);
  SetConsoleOutputCP(CODE_PAGE_LATIN1);
  HWND window = GetConsoleWindow();
  if (window == nullptr)
    return;
  LONG style = GetWindowLongA(window, GWL_STYLE);
  d->saved.window = window;
  d->saved.window_style = style;
  d->saved.style_changed = true;
  SetWindowLongA(window, GWL_STYLE, style & ~(WS_MAXIMIZEBOX | WS_THICKFRAME));
}

// Gives back what open and the set-up calls changed, and puts the cursor
// under what was drawn, where lines printed afterwards belong. Also run on
// the interrupt handler's thread when the process is being ended.
void restore(Win32Device* d) {
  if (d->screen_started) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    int rows = GetConsoleScreenBufferInfo(d->out, &info) ? info.dwSize.Y : CONSOLE_ROWS;
    COORD at = {0, static_cast<SHORT>(min_int(d->rows_drawn, rows - 1))};
    SetConsoleCursorPosition(d->out, at);
  }
  SetConsoleTextAttribute(d->out, d->saved.attributes);
  SetConsoleCursorInfo(d->out, &d->saved.cursor);
  SetConsoleMode(d->out, d->saved.output_mode);
  SetConsoleMode(d->in, d->saved.input_mode);
  SetConsoleCP(d->saved.input_code_page);
  SetConsoleOutputCP(d->saved.output_code_page);
  if (d->saved.have_title)
    SetConsoleTitleA(d->saved.title);
  if (d->saved.style_changed)
    SetWindowLongA(d->saved.window, GWL_STYLE, d->saved.window_style);
}

void restore_on_interrupt() {
  if (Win32Device* d = g_device.load())
    restore(d);
}

void win32_close(Console* con) {
  Win32Device* d = device(con);
  interrupt_set_restore(nullptr);
  g_device.store(nullptr);
  restore(d);
  delete d;
  con->device = nullptr;
}

const ConsoleBackend WIN32_BACKEND = {
    win32_show, win32_read_key, win32_discard_input, win32_sleep, win32_close,
};

bool is_handle(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }

}  // namespace

int open_terminal_console(Console* con, const ConsoleSetup& setup, int*, int*) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD input_mode = 0;
  DWORD output_mode = 0;
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
  d->device_attr = info.wAttributes;
  d->cursor_col = info.dwCursorPosition.X;
  d->cursor_row = info.dwCursorPosition.Y;
  d->cursor_visible = d->saved.cursor.bVisible != FALSE;
  d->cursor_size = static_cast<int>(d->saved.cursor.dwSize);
  mark_unknown(d);

  // A write into the last column stays in its row (and never scrolls the
  // buffer); a click into the window does not start a selection, which
  // would hold every write, and with it the job, until it ends.
  SetConsoleMode(out, output_mode & ~static_cast<DWORD>(ENABLE_WRAP_AT_EOL_OUTPUT));
  SetConsoleMode(
      in, (input_mode | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE));

  set_up_window(d, setup.title);

  console_init(con);
  con->backend = &WIN32_BACKEND;
  con->device = d;
  con->reports_releases = true;
  con->screen_stays = true;
  // A smaller window than the layout is no reason to give up: the screen
  // buffer is enlarged to it, and the window scrolls over it.
  con->need_columns = min_int(max_int(setup.columns, 0), CONSOLE_COLUMNS);
  con->need_rows = min_int(max_int(setup.rows, 0), CONSOLE_ROWS);
  g_device.store(d);
  interrupt_set_restore(restore_on_interrupt);
  return CONSOLE_OPENED;
}
