// The console on a terminal, through ncurses: the cell buffer is painted
// into curses' screen, which sends the terminal only what changed. Key
// decoding, terminal modes and every control sequence come from terminfo.

#define NCURSES_WIDECHAR 1
#include <curses.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/console_keys.h"
#include "platform/interrupt.h"

namespace {

// What the signal handlers touch: plain data, set up before they are
// installed. There is one terminal per process.
struct SignalState {
  volatile sig_atomic_t resized;
  int wake_fd;  // write end of the self-pipe; -1 when none
  termios shell_modes;
  bool have_modes;
  // terminfo's strings that give the terminal back: attributes off, cursor
  // normal, keypad local, full-screen view left.
  char restore[512];
  size_t restore_length;
};

SignalState g_signal = {0, -1, {}, false, {}, 0};

// Signals whose default action ends the process: the terminal is given
// back first. Interrupts, termination requests and hang-ups go through the
// process's interrupt handler, which gives it back through restore_terminal.
const int FATAL_SIGNALS[] = {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

struct KeypadKey {
  const char* cap;  // terminfo name of the key's sequence
  uint16_t vk;
  int code;  // curses' code for it, 0 when the terminal has none
};

struct TerminalDevice {
  SCREEN* screen;
  int wake[2];
  int view_left;  // top-left cell shown when the window is too small
  int view_top;
  bool color;
  bool default_colors;  // the terminal's own background can be used
  bool pair_made[80];
  KeypadKey keypad[12];
};

TerminalDevice* device(Console* con) { return static_cast<TerminalDevice*>(con->device); }

extern "C" void on_resize_signal(int) {
  int saved = errno;
  g_signal.resized = 1;
  if (g_signal.wake_fd >= 0) {
    ssize_t ignored = write(g_signal.wake_fd, "w", 1);
    (void)ignored;
  }
  errno = saved;
}

// Gives the terminal back with async-signal-safe calls only, then lets the
// signal end the process as it would have (SA_RESETHAND restored the
// default action; the signal is delivered when the handler returns).
void restore_terminal() {
  if (g_signal.restore_length > 0) {
    ssize_t ignored = write(STDOUT_FILENO, g_signal.restore, g_signal.restore_length);
    (void)ignored;
  }
  if (g_signal.have_modes)
    tcsetattr(STDIN_FILENO, TCSANOW, &g_signal.shell_modes);
}

extern "C" void on_fatal_signal(int sig) {
  restore_terminal();
  raise(sig);
}

void install(int sig, void (*handler)(int), int flags) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sa.sa_flags = flags;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}

bool usable(const char* s) { return s != nullptr && s != reinterpret_cast<const char*>(-1); }

void append_cap(const char* name) {
  const char* s = tigetstr(name);
  if (!usable(s))
    return;
  size_t n = strlen(s);
  if (g_signal.restore_length + n >= sizeof g_signal.restore)
    return;
  memcpy(g_signal.restore + g_signal.restore_length, s, n);
  g_signal.restore_length += n;
}

uint16_t virtual_key_for_curses(const TerminalDevice* d, int key) {
  if (key >= 0 && key < 256)
    return virtual_key_for_char(static_cast<unsigned char>(key));
  switch (key) {
    case KEY_BACKSPACE: return VKEY_BACK;
    case KEY_DC: return VKEY_DELETE;
    case KEY_ENTER: return VKEY_RETURN;
    case KEY_CLEAR: return VKEY_CLEAR;
    case KEY_A1: return VKEY_NUMPAD0 + 7;
    case KEY_A3: return VKEY_NUMPAD0 + 9;
    case KEY_B2: return VKEY_NUMPAD0 + 5;
    case KEY_C1: return VKEY_NUMPAD0 + 1;
    case KEY_C3: return VKEY_NUMPAD0 + 3;
    default: break;
  }
  for (const KeypadKey& k : d->keypad) {
    if (k.code != 0 && k.code == key)
      return k.vk;
  }
  return VKEY_NONE;
}

// Keypad keys that terminfo lists only as extended names.
void find_keypad_keys(TerminalDevice* d) {
  const KeypadKey keys[] = {
      {"kpZRO", VKEY_NUMPAD0, 0},   {"kc2", VKEY_NUMPAD0 + 2, 0}, {"kb1", VKEY_NUMPAD0 + 4, 0},
      {"kb3", VKEY_NUMPAD0 + 6, 0}, {"ka2", VKEY_NUMPAD0 + 8, 0}, {"kp5", VKEY_NUMPAD0 + 5, 0},
      {"kpDOT", VKEY_DECIMAL, 0},   {"kpCMA", VKEY_SEPARATOR, 0}, {"kpSUB", VKEY_SUBTRACT, 0},
      {"kpADD", VKEY_ADD, 0},       {"kpMUL", VKEY_MULTIPLY, 0},  {"kpDIV", VKEY_DIVIDE, 0},
  };
  static_assert(sizeof keys / sizeof keys[0] == sizeof d->keypad / sizeof d->keypad[0]);
  for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
    d->keypad[i] = keys[i];
    const char* s = tigetstr(keys[i].cap);
    if (usable(s)) {
      int code = key_defined(s);
      d->keypad[i].code = code > 0 ? code : 0;
    }
  }
}

// Curses rendition of a cell attribute: the colour bits as a colour pair
// (light grey on black is the terminal's own colours), intensity as bold.
attr_t rendition(TerminalDevice* d, uint16_t attr, short* pair) {
  static const short CURSES_COLOR[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                        COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};
  int fg = attr & 0x0F;
  int bg = (attr >> 4) & 0x0F;
  attr_t a = (fg & 8) ? A_BOLD : A_NORMAL;
  *pair = 0;
  if (!d->color || ((fg & 7) == 7 && bg == 0))
    return a;
  int p = 1 + (fg & 7) * 9 + (bg == 0 ? 8 : (bg & 7));
  if (p >= COLOR_PAIRS || p >= static_cast<int>(sizeof d->pair_made))
    return a;
  if (!d->pair_made[p]) {
    short background = bg == 0 && d->default_colors ? -1 : CURSES_COLOR[bg & 7];
    init_pair(static_cast<short>(p), CURSES_COLOR[fg & 7], background);
    d->pair_made[p] = true;
  }
  *pair = static_cast<short>(p);
  return a;
}

// The frame's lines run along cell edges, which a terminal cannot draw; a
// line-drawing character in the cell, joined to its neighbours, shows the
// same rectangle.
chtype grid_glyph(const Console* con, int col, int row) {
  uint16_t a = con->cells[row][col].attr;
  bool horizontal = a & ATTR_GRID_HORIZONTAL;
  bool down = a & (ATTR_GRID_LVERTICAL | ATTR_GRID_RVERTICAL);
  uint16_t above = row > 0 ? con->cells[row - 1][col].attr : 0;
  bool up = above & (ATTR_GRID_LVERTICAL | ATTR_GRID_RVERTICAL);
  if (!horizontal)
    return ACS_VLINE;
  if (down && up)
    return (a & ATTR_GRID_LVERTICAL) ? ACS_LTEE : ACS_RTEE;
  if (down)
    return (a & ATTR_GRID_LVERTICAL) ? ACS_ULCORNER : ACS_URCORNER;
  if (up)
    return (above & ATTR_GRID_LVERTICAL) ? ACS_LLCORNER : ACS_LRCORNER;
  return ACS_HLINE;
}

void paint_cell(TerminalDevice* d, const Console* con, int col, int row, int y, int x) {
  const ConsoleCell& cell = con->cells[row][col];
  short pair = 0;
  attr_t a = rendition(d, cell.attr, &pair);
  if ((cell.attr & ATTR_GRID_LINES) && cell.ch == ' ') {
    mvwaddch(stdscr, y, x, grid_glyph(con, col, row) | a | COLOR_PAIR(pair));
    return;
  }
  // Cells hold ISO 8859-1, whose code points are Unicode's first 256;
  // control characters show as blanks.
  unsigned char c = static_cast<unsigned char>(cell.ch);
  wchar_t text[2] = {(c < 0x20 || (c >= 0x7F && c < 0xA0)) ? L' ' : static_cast<wchar_t>(c), 0};
  cchar_t glyph;
  setcchar(&glyph, text, a, pair, nullptr);
  mvwadd_wch(stdscr, y, x, &glyph);
}

// Moves the view the least that keeps `pos` inside [origin, origin + size).
int follow(int origin, int pos, int size, int limit) {
  if (pos < origin)
    origin = pos;
  if (pos >= origin + size)
    origin = pos - size + 1;
  return std::clamp(origin, 0, limit > size ? limit - size : 0);
}

void take_resize() {
  if (!g_signal.resized)
    return;
  g_signal.resized = 0;
  winsize ws;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0)
    resize_term(ws.ws_row, ws.ws_col);
  clearok(curscr, TRUE);
}

void terminal_show(Console* con) {
  TerminalDevice* d = device(con);
  bool resized = g_signal.resized;
  take_resize();
  if (!resized && !con->changed)
    return;

  int rows = LINES;
  int cols = COLS;
  // Too small a window keeps working: it shows the part around the cursor,
  // as a console window onto a larger buffer does, and its last row says
  // how large it must be.
  bool small = cols < con->need_columns || rows < con->need_rows;
  int view_rows = small ? rows - 1 : rows;
  if (small) {
    d->view_left = follow(d->view_left, con->cursor_col, cols, con->need_columns);
    d->view_top = follow(d->view_top, con->cursor_row, view_rows, con->need_rows);
  } else {
    d->view_left = 0;
    d->view_top = 0;
  }

  werase(stdscr);
  for (int y = 0; y < view_rows; ++y) {
    int row = d->view_top + y;
    if (row >= CONSOLE_ROWS)
      break;
    for (int x = 0; x < cols; ++x) {
      int col = d->view_left + x;
      if (col >= CONSOLE_COLUMNS)
        break;
      paint_cell(d, con, col, row, y, x);
    }
  }
  if (small && rows > 0) {
    char message[160];
    snprintf(message, sizeof message,
             "Please enlarge this window to at least %d x %d characters (it is %d x %d).",
             con->need_columns, con->need_rows, cols, rows);
    wattr_set(stdscr, A_REVERSE, 0, nullptr);
    mvwaddnstr(stdscr, rows - 1, 0, message, cols);
    wattr_set(stdscr, A_NORMAL, 0, nullptr);
  }

  int y = con->cursor_row - d->view_top;
  int x = con->cursor_col - d->view_left;
  bool inside = y >= 0 && y < view_rows && x >= 0 && x < cols;
  if (con->cursor_visible && inside) {
    wmove(stdscr, y, x);
    curs_set(1);
  } else {
    curs_set(0);
  }
  wrefresh(stdscr);
}

void drain_wake(TerminalDevice* d) {
  char buf[64];
  while (read(d->wake[0], buf, sizeof buf) > 0) {
  }
}

int terminal_poll_input(Console* con, bool wait) {
  TerminalDevice* d = device(con);
  bool was_ready = false;
  for (;;) {
    if (g_signal.resized)
      console_show(con);
    int key = wgetch(stdscr);  // never blocks: nodelay
    if (key != ERR) {
      if (key == KEY_RESIZE)
        continue;  // handled through our own SIGWINCH handler
      console_queue_key(con, virtual_key_for_curses(d, key));
      return 0;
    }
    if (!wait)
      return 0;
    if (was_ready) {
      // Readable but nothing came: the terminal has gone (end of input).
      int pending = 0;
      if (ioctl(STDIN_FILENO, FIONREAD, &pending) != 0 || pending == 0)
        return -1;
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {d->wake[0], POLLIN, 0}};
    int n = poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return -1;
    }
    if (fds[1].revents & POLLIN)
      drain_wake(d);
    if (fds[0].revents & (POLLERR | POLLNVAL))
      return -1;
    if ((fds[0].revents & POLLHUP) && !(fds[0].revents & POLLIN))
      return -1;
    was_ready = fds[0].revents & POLLIN;
  }
}

void terminal_discard_input(Console*) { flushinp(); }

void terminal_sleep(Console* con, unsigned ms) {
  TerminalDevice* d = device(con);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0)
      return;
    pollfd fd = {d->wake[0], POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left)) > 0 && (fd.revents & POLLIN))
      drain_wake(d);
    if (g_signal.resized)
      console_show(con);
  }
}

void terminal_set_title(Console*, const char* title) {
  const char* start = tigetstr("tsl");
  const char* end = tigetstr("fsl");
  if (usable(start) && usable(end)) {
    putp(tiparm(start, 0));
    putp(title);
    putp(end);
  } else if (tigetflag("XT") > 0) {
    // Terminals of the xterm family say so with XT but name no title
    // string; this is their title sequence.
    putp("\033]2;");
    putp(title);
    putp("\007");
  }
  fflush(stdout);
}

void terminal_close(Console* con) {
  TerminalDevice* d = device(con);
  interrupt_set_restore(nullptr);
  for (int sig : FATAL_SIGNALS)
    install(sig, SIG_DFL, 0);
  install(SIGWINCH, SIG_DFL, 0);
  g_signal.restore_length = 0;
  g_signal.wake_fd = -1;
  curs_set(1);
  endwin();
  delscreen(d->screen);
  ::close(d->wake[0]);
  ::close(d->wake[1]);
  delete d;
  con->device = nullptr;
}

const ConsoleBackend TERMINAL_BACKEND = {
    terminal_show,  terminal_poll_input, terminal_discard_input, terminal_sleep, terminal_set_title,
    nullptr,  // set_code_page: the terminal's own encoding is used
    nullptr,  // lock_window_size: a terminal's window is the operator's
    nullptr,  // print_line: to standard output
    terminal_close,
};

}  // namespace

int open_terminal_console(Console* con) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))
    return -1;
  // Only the character type: numbers must keep "." in every locale.
  setlocale(LC_CTYPE, "");
  g_signal.have_modes = tcgetattr(STDIN_FILENO, &g_signal.shell_modes) == 0;

  TerminalDevice* d = new TerminalDevice();
  if (pipe2(d->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    delete d;
    return -1;
  }
  d->screen = newterm(nullptr, stdout, stdin);
  if (d->screen == nullptr) {
    ::close(d->wake[0]);
    ::close(d->wake[1]);
    delete d;
    return -1;
  }
  set_term(d->screen);
  cbreak();  // Ctrl-C stays a signal
  noecho();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  if (has_colors() && start_color() == OK) {
    d->color = true;
    d->default_colors = use_default_colors() == OK;
  }
  find_keypad_keys(d);

  console_init(con);
  con->backend = &TERMINAL_BACKEND;
  con->device = d;

  g_signal.restore_length = 0;
  append_cap("sgr0");
  append_cap("cnorm");
  append_cap("rmkx");
  append_cap("rmcup");
  g_signal.wake_fd = d->wake[1];
  g_signal.resized = 0;
  install(SIGWINCH, on_resize_signal, SA_RESTART);
  for (int sig : FATAL_SIGNALS)
    install(sig, on_fatal_signal, SA_RESETHAND);
  interrupt_set_restore(restore_terminal);
  return 1;
}

bool reopen_closed_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0)
      continue;
    // open() takes the lowest free number, which is this one.
    int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd) {
      if (opened >= 0)
        close(opened);
      if (fd == STDOUT_FILENO)
        return false;
    }
  }
  return true;
}
