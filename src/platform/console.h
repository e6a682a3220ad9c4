#ifndef VISOR_PLATFORM_CONSOLE_H_
#define VISOR_PLATFORM_CONSOLE_H_

// A character-cell console in the manner of the Windows console: a screen
// buffer of cells (a character and an attribute each) addressed by column
// and row from the top-left cell, a cursor, a text attribute in force, and a
// queue of key events.
//
// Writes only change the cell buffer; a backend shows it on a device (a
// terminal, nothing for a plain stream, memory for tests) and supplies the
// input. Showing costs system calls, so it happens when asked for: at once
// with console_show, or at most every SHOW_INTERVAL_MS with
// console_show_soon; every wait for input or time shows the screen first.

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

// Event kinds, as the Windows console numbers them. Only key events carry
// anything a reader here looks at.
enum : uint16_t {
  INPUT_KEY_EVENT = 0x01,
  INPUT_MOUSE_EVENT = 0x02,
  INPUT_WINDOW_SIZE_EVENT = 0x04,
  INPUT_MENU_EVENT = 0x08,
  INPUT_FOCUS_EVENT = 0x10,
};

struct InputRecord {
  uint16_t event_type;
  bool key_down;          // press (true) or release
  uint16_t repeat_count;  // presses this record stands for
  uint16_t virtual_key;   // VKEY_ codes of console_keys.h
};

inline constexpr int INPUT_QUEUE_SIZE = 16;

struct Console;

// What a device provides. Entries left null do nothing.
struct ConsoleBackend {
  // Brings the device up to the cell buffer and cursor.
  void (*show)(Console* con);
  // Moves device input into the (empty) input queue: one record or one key
  // per call, as keys arrive one by one, so that a reader that looks only
  // at the first record of a read loses no key. With `wait`, blocks until
  // something is queued. Returns -1 when the input has ended and nothing
  // was queued, else 0.
  int (*poll_input)(Console* con, bool wait);
  // Drops device input not yet queued.
  void (*discard_input)(Console* con);
  // Waits `ms` milliseconds, keeping the device current meanwhile.
  void (*sleep)(Console* con, unsigned ms);
  void (*set_title)(Console* con, const char* title);
  void (*set_code_page)(Console* con, unsigned code_page);
  // Fixes the window's size for the operator (no maximise, no resizing).
  void (*lock_window_size)(Console* con);
  // Keeps a printed line, an error or not; when null, lines go to
  // `line_fd` and errors to `error_fd`.
  void (*print_line)(Console* con, const char* text, bool error);
  // Gives the device back as it was found.
  void (*close)(Console* con);
  // A device without a screen: shows `prompt` where someone can see it,
  // then reads one line of text; see console_read_line.
  int (*read_line)(Console* con, const char* prompt, char* line, size_t size, size_t* length);
  // A device without a screen: shows the progress as one line, rewritten
  // in place.
  void (*progress_line)(Console* con, const char* text);
};

struct Console {
  ConsoleCell cells[CONSOLE_ROWS][CONSOLE_COLUMNS];
  int cursor_col;
  int cursor_row;
  bool cursor_visible;
  int cursor_size;
  uint16_t attr;  // attribute of what is written next

  // False on a plain stream: nothing is drawn, messages go out as lines.
  bool full_screen;
  bool closed;
  int line_fd;   // where console_print_line writes (standard output)
  int error_fd;  // where console_print_error writes (standard error)
  // The smallest window that shows everything drawn.
  int need_columns;
  int need_rows;

  bool changed;          // cells or cursor differ from what was shown
  int show_countdown;    // console_show_soon calls until the next clock look
  int64_t last_show_ns;  // monotonic time of the last show

  InputRecord queue[INPUT_QUEUE_SIZE];
  int queue_head;
  int queue_count;
  // The release a device that reports none still owes for the last press;
  // it arrives on its own, after the press has been read, as a real one
  // would.
  bool release_owed;
  uint16_t owed_key;

  const ConsoleBackend* backend;
  void* device;  // the backend's own state
};

// Sets the cells blank in attribute 7, the cursor visible at (0, 0). The
// open functions of the backends call it first.
void console_init(Console* con);

// --- Set-up ---
void console_set_title(Console* con, const char* title);
void console_set_code_page(Console* con, unsigned code_page);
void console_lock_window_size(Console* con);
void console_require_size(Console* con, int columns, int rows);

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
// Records waiting now (the device is asked without blocking).
int console_input_count(Console* con);
// Blocks until at least one record is waiting, then takes up to `max`.
// Returns how many were taken, or -1 when the input has ended.
int console_read_input(Console* con, InputRecord* records, int max);
// Blocks until a key is pressed and takes it, releases dropped. 1, or -1
// when the input has ended.
int console_wait_key(Console* con);

// --- Lines, on a device without a screen ---

// Shows `prompt` (followed by a blank) when someone is there to answer it,
// then reads one line: its first size - 1 bytes go to `line`, NUL
// terminated, and *length says how long the whole line was. A carriage
// return, a line feed or the pair of them ends a line, and so does the end
// of the input after some text. 1, or -1 when the input ended first (or
// the device reads keys, not lines).
int console_read_line(Console* con, const char* prompt, char* line, size_t size, size_t* length);
// Shows `text` as the progress line where someone watches it; each call
// replaces the line shown before.
void console_progress_line(Console* con, const char* text);

// --- Other ---
void console_sleep(Console* con, unsigned ms);
// Writes `text` and "\n" as one line on standard output, also after close.
void console_print_line(Console* con, const char* text);
// The same on standard error, for what went wrong.
void console_print_error(Console* con, const char* text);
// Leaves the device (full-screen view ended, modes restored). Safe to call
// more than once.
void console_close(Console* con);

// Adds a record to the input queue; for backends. False when it is full.
bool console_queue_input(Console* con, const InputRecord& record);
// Adds a press of `vk`, and owes its release; for devices that report no
// releases. A flush drops the owed release with the rest.
void console_queue_key(Console* con, uint16_t vk);

// --- The process's own consoles ---

// Opens each closed standard stream on the null device, so that the output
// file cannot take its place and receive the messages; writes to it then go
// nowhere, and the job is done all the same. False when standard output
// cannot be had at all (on Windows: there is no standard output handle).
bool reopen_closed_standard_streams();

// Full screen on the terminal that standard input and output are (on
// Windows, the console window); -1 when they are not both a terminal or it
// cannot be set up. Until console_close, every end of the process by a
// signal gives the terminal back first.
int open_terminal_console(Console* con);
// Reads lines from in_fd and prints lines on out_fd (errors on standard
// error); draws nothing. When in_fd is a terminal, each line is asked for
// with its prompt; when out_fd is one, the progress is shown as one line
// rewritten in place.
int open_plain_console(Console* con, int in_fd, int out_fd);

#endif  // VISOR_PLATFORM_CONSOLE_H_
