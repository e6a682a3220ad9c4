#ifndef VISOR_PLATFORM_CONSOLE_H_
#define VISOR_PLATFORM_CONSOLE_H_

// The full screen: texts at fixed columns and rows, one frame, and keys.
// Each system draws it with its own means, chosen by the build:
// console_curses.cc on a terminal (curses keeps the screen and decodes the
// keys), console_win32.cc through the Windows console's own calls; tests
// link a console in memory (test_console.cc). What is drawn reaches the
// device at the next console_show, or before a wait for a key or for time.
// The screen has no cursor: nothing is typed where one would stand.

#include <cstddef>
#include <cstdint>

// The largest layout a console holds.
inline constexpr int CONSOLE_COLUMNS = 120;
inline constexpr int CONSOLE_ROWS = 30;

enum ConsoleStyle { STYLE_TEXT, STYLE_BANNER };

// A key pressed or released. The Windows console names the key itself:
// `key` is its virtual-key code. A terminal sends only what the key types:
// `key` is 0 and `ch` the character, a press.
struct KeyEvent {
  bool pressed;
  uint16_t key;
  char ch;
};

// The system's own state of the console, null while none is open.
struct Console {
  void* device = nullptr;
};

struct ConsoleSetup {
  const char* title;
  int columns;  // the smallest window that shows the whole layout
  int rows;
  // What a smaller window shows instead, alone: a printf format given the
  // window's columns and rows, then `columns` and `rows`.
  const char* small_notice;
};

enum : int {
  CONSOLE_OPENED = 1,
  CONSOLE_NOT_A_TERMINAL = -1,  // or one the full screen cannot use
  CONSOLE_TOO_SMALL = -2,       // the window is smaller than asked
};

// Takes the terminal that standard input and output are (on Windows, the
// console window) for the full screen, blank: sets the window's title and,
// where the system has them, its code page and style. CONSOLE_NOT_A_TERMINAL
// when they are not both a terminal, or it cannot be set up;
// CONSOLE_TOO_SMALL, with the window's size in *columns and *rows, when a
// terminal's window is smaller than the setup asks (a Windows console
// enlarges its buffer instead). Either way the terminal is left as it was.
// Until console_close, every end of the process by a signal gives the
// terminal back first.
int console_open(Console* con, const ConsoleSetup& setup, int* columns, int* rows);

// Blanks the whole screen.
void console_clear(Console* con);
// Writes exactly `length` bytes from (col, row); what passes the layout's
// right edge is dropped, and control characters show as blanks.
void console_write(Console* con, int col, int row, const char* text, size_t length,
                   ConsoleStyle style = STYLE_TEXT);
// What of `length` bytes written at (col, row) shows, into `shown`
// (CONSOLE_COLUMNS bytes): cut at the layout's right edge, control
// characters, which would act rather than show, as blanks. How many bytes;
// 0 off the layout. For the consoles' own files.
inline size_t console_visible(int col, int row, const char* text, size_t length, char* shown) {
  if (col < 0 || row < 0 || col >= CONSOLE_COLUMNS || row >= CONSOLE_ROWS)
    return 0;
  size_t n = length < static_cast<size_t>(CONSOLE_COLUMNS - col)
                 ? length
                 : static_cast<size_t>(CONSOLE_COLUMNS - col);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    shown[i] = c < 0x20 || c == 0x7F ? ' ' : text[i];
  }
  return n;
}

// A rectangle of lines through the cells from (left, top) to (right,
// bottom): blanks whose edges carry the lines (the Windows console's grid
// lines), or line-drawing characters where a terminal has no such edges.
void console_frame(Console* con, int left, int top, int right, int bottom);

// Brings the device up to what was drawn.
void console_show(Console* con);

// What a window too small for the layout shows from now on, as the setup's
// small_notice.
void console_set_notice(Console* con, const char* notice);

// Blocks until a key event arrives and takes it: one per call. 1, or -1
// when the input has ended.
int console_read_key(Console* con, KeyEvent* event);
// Takes away the release of the key just read, where the console reports
// releases (the Windows console: it waits for one event); a terminal has
// none.
void console_take_release(Console* con);
// Drops the keys that have arrived and not been read.
void console_flush_input(Console* con);

// Waits `ms` milliseconds, keeping the device current meanwhile.
void console_sleep(Console* con, unsigned ms);

// Whether what was drawn stays visible once the console is closed (the
// Windows console, a terminal without an alternate screen): what is printed
// then goes below it.
bool console_screen_stays(const Console* con);

// Gives the device back as it was found. Safe on a closed console.
void console_close(Console* con);

#endif  // VISOR_PLATFORM_CONSOLE_H_
