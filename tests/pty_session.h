#ifndef VISOR_TESTS_PTY_SESSION_H_
#define VISOR_TESTS_PTY_SESSION_H_

// A program running on a pseudo-terminal, its output interpreted by a real
// terminal emulator (libvterm), so that a test sees the screen a person
// would see and types the bytes a person's terminal would send.

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct VTerm;
struct VTermScreen;

// Bytes a terminal of the xterm family sends for these keys.
inline constexpr std::string_view KEY_ENTER = "\r";
inline constexpr std::string_view KEY_BACKSPACE = "\x7f";
inline constexpr std::string_view KEY_DELETE = "\x1b[3~";
inline constexpr std::string_view KEY_CTRL_C = "\x03";
// Flow control: the terminal stops taking output, and takes it again.
inline constexpr std::string_view KEY_CTRL_S = "\x13";
inline constexpr std::string_view KEY_CTRL_Q = "\x11";

// Terminal type given to the program; its terminfo entry ships with Debian's
// ncurses-base, and libvterm understands what it describes.
inline constexpr char PTY_TERM[] = "xterm-256color";

struct PtySession {
  PtySession() = default;
  // The emulator's callbacks point here, so the session never moves.
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;
  // Kills a program still running, so that a failed test leaves nothing.
  ~PtySession();

  int master = -1;
  pid_t pid = -1;
  VTerm* vt = nullptr;
  VTermScreen* screen = nullptr;
  int cols = 0;
  int rows = 0;

  // What the program has told the terminal, as the emulator understood it.
  bool cursor_visible = true;
  bool alt_screen = false;
  // The window title, and xterm's stack of saved titles (CSI 22 t saves,
  // CSI 23 t gives the saved one back), which the emulator lacks and the
  // session keeps. A test may set the title a terminal starts with.
  std::string title;
  std::vector<std::string> saved_titles;
  // The line discipline's modes before the program started.
  termios initial_modes = {};

  bool output_closed = false;  // the slave side has no writer left
  bool exited = false;         // the program has been reaped
  int wait_status = 0;         // as waitpid reports it, once exited
  size_t bytes_read = 0;
};

// Starts argv[0] (a path) with argv on a new pseudo-terminal of the given
// size, in directory cwd, with TERM set to PTY_TERM. Returns false with a
// reason in *error when the terminal or the process cannot be set up.
bool pty_start(PtySession* s, const std::vector<std::string>& argv, int cols, int rows,
               const std::string& cwd, std::string* error);

// Sends bytes as if typed.
void pty_type(PtySession* s, std::string_view bytes);

// Reads what the program wrote for up to wait_ms (less once data came) and
// feeds it to the emulator; notices when the program has exited.
void pty_pump(PtySession* s, int wait_ms);

// Pumps until done() holds or timeout_ms passed; the time-out only guards
// against a hang. Returns done()'s last value.
bool pty_wait_until(PtySession* s, const std::function<bool()>& done, int timeout_ms);
// Until text appears anywhere on the screen.
bool pty_wait_for_text(PtySession* s, std::string_view text, int timeout_ms);
// Until text stands at (col, row).
bool pty_wait_for_text_at(PtySession* s, int col, int row, std::string_view text, int timeout_ms);
// Until the program has written nothing for quiet_ms.
bool pty_wait_quiet(PtySession* s, int quiet_ms, int timeout_ms);
// Until the program has exited and all its output is on the screen.
bool pty_wait_exit(PtySession* s, int timeout_ms);

// Changes the terminal's size, as a person dragging the window would: the
// program is told with SIGWINCH.
void pty_resize(PtySession* s, int cols, int rows);

// The character of a cell, U' ' for an empty one.
char32_t pty_cell(const PtySession& s, int col, int row);
// len cells from (col, row) as UTF-8, an empty cell as a blank.
std::string pty_text_at(const PtySession& s, int col, int row, int len);
// A whole row without its trailing blanks.
std::string pty_row_text(const PtySession& s, int row);
// Every row, numbered, for failure messages.
std::string pty_screen_dump(const PtySession& s);
// True when text stands somewhere on the screen (within one row).
bool pty_screen_contains(const PtySession& s, std::string_view text);

// True when echo, canonical input, signals and output processing are as they
// were before the program started.
bool pty_modes_restored(const PtySession& s);

#endif  // VISOR_TESTS_PTY_SESSION_H_
