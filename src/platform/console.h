#ifndef VISOR_PLATFORM_CONSOLE_H_
#define VISOR_PLATFORM_CONSOLE_H_

// A character-cell console in the manner of the Windows console: a screen
// buffer of cells (a character and an attribute each) addressed by column
// and row from the top-left cell, a cursor, a text attribute in force, and
// key events.
//
// Writes only change the cell buffer; a backend shows it on a device (a
// terminal, the Windows console, memory for tests) and supplies the keys.
// Showing costs system calls, so it happens when asked for: at once with
// console_show, or at most every SHOW_INTERVAL_MS with console_show_soon;
// every wait for a key or for time shows the screen first.

#include <cstddef>
#include <cstdint>

inline constexpr int CONSOLE_COLUMNS = 120;
inline constexpr int CONSOLE_ROWS = 30;

// Attribute bits, as the Windows console numbers them. The low byte is the
// colour: foreground bits 0-3, background bits 4-7, each blue, green, red,
// intensity.
inline constexpr uint16_t ATTR_FOREGROUND_BLUE = 0x0001;
inline constexpr uint16_t ATTR_FOREGROUND_GREEN = 0x0002;
inline constexpr uint16_t ATTR_FOREGROUND_RED = 0x0004;
// The grid lines are drawn along one edge of the cell.
inline constexpr uint16_t ATTR_GRID_HORIZONTAL = 0x0400;  // top edge
inline constexpr uint16_t ATTR_GRID_LVERTICAL = 0x0800;   // left edge
inline constexpr uint16_t ATTR_GRID_RVERTICAL = 0x1000;   // right edge
inline constexpr uint16_t ATTR_GRID_LINES =
    ATTR_GRID_HORIZONTAL | ATTR_GRID_LVERTICAL | ATTR_GRID_RVERTICAL;
inline constexpr uint16_t ATTR_DEFAULT =
    ATTR_FOREGROUND_RED | ATTR_FOREGROUND_GREEN | ATTR_FOREGROUND_BLUE;  // light grey on black

inline constexpr int SHOW_INTERVAL_MS = 30;

struct ConsoleCell {
  char ch;
  uint16_t attr;
};

// A key pressed or released, by its virtual-key code (console_keys.h).
struct KeyEvent {
  bool key_down;
  uint16_t virtual_key;
};

struct Console;

// What a device provides.
struct ConsoleBackend {
  // Brings the device up to the cell buffer and cursor.
  void (*show)(Console* con);
  // Blocks until a key event arrives and takes it: one per call, as keys
  // arrive one by one. 1, or -1 when the input has ended.
  int (*read_key)(Console* con, KeyEvent* event);
  // Drops the keys that have arrived and not been read.
  void (*discard_input)(Console* con);
  // Waits `ms` milliseconds, keeping the device current meanwhile.
  void (*sleep)(Console* con, unsigned ms);
  // Gives the device back as it was found.
  void (*close)(Console* con);
};

struct Console {
  ConsoleCell cells[CONSOLE_ROWS][CONSOLE_COLUMNS];
  int cursor_col;
  int cursor_row;
  bool cursor_visible;
  int cursor_size;
  uint16_t attr;  // attribute of what is written next

  bool closed;
  // The device reports key releases (the Windows console); a terminal
  // reports presses only.
  bool reports_releases;
  // What was drawn stays on the device after close (the Windows console,
  // a terminal without an alternate screen): what is printed then goes
  // below it.
  bool screen_stays;
  // The smallest window that shows everything drawn.
  int need_columns;
  int need_rows;

  bool changed;          // cells or cursor differ from what was shown
  int show_countdown;    // console_show_soon calls until the next clock look
  int64_t last_show_ns;  // monotonic time of the last show

  const ConsoleBackend* backend;
  void* device;  // the backend's own state
};

// Sets the cells blank in attribute 7, the cursor visible at (0, 0). The
// open functions of the backends call it first.
void console_init(Console* con);

// --- Output: cells only ---

// Blanks every cell in the attribute in force, cursor to (0, 0).
void console_clear(Console* con);
void console_set_cursor_info(Console* con, int size, bool visible);
void console_set_attribute(Console* con, uint16_t attr);
// Positions outside the buffer are clamped to its edge.
void console_set_cursor(Console* con, int col, int row);
// Writes exactly `length` bytes at the cursor in the attribute in force and
// leaves the cursor behind them. What passes the right edge is dropped.
void console_write(Console* con, const char* text, size_t length);

// --- Showing ---
void console_show(Console* con);
// For per-line callers: shows at most every SHOW_INTERVAL_MS, and looks at
// the clock only every few calls.
void console_show_soon(Console* con);

// --- Input ---
void console_flush_input(Console* con);
// Blocks until a key event has arrived, then takes it into events[0]: a
// read takes one event, as keys arrive one by one, so that a reader that
// looks at the first event of a read of up to `max` loses none. Returns
// how many were taken, or -1 when the input has ended.
int console_read_input(Console* con, KeyEvent* events, int max);
// Blocks until a key is pressed and takes it, releases dropped. 1, or -1
// when the input has ended.
int console_wait_key(Console* con);

// --- Other ---
void console_sleep(Console* con, unsigned ms);
// Leaves the device (full-screen view ended, modes restored). Safe to call
// more than once.
void console_close(Console* con);

// --- The process's own console ---

// What the program asks of the console window.
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

// Full screen on the terminal that standard input and output are (on
// Windows, the console window): sets the window's title and, where the
// system has them, its code page and style. CONSOLE_NOT_A_TERMINAL when
// they are not both a terminal or it cannot be set up; CONSOLE_TOO_SMALL,
// with the window's size in *columns and *rows, when a terminal's window
// is smaller than the setup asks (a Windows console enlarges its buffer
// instead). Either way the terminal is left as it was. Until
// console_close, every end of the process by a signal gives the terminal
// back first.
int open_terminal_console(Console* con, const ConsoleSetup& setup, int* columns, int* rows);

#endif  // VISOR_PLATFORM_CONSOLE_H_
