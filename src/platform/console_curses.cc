// The console on a terminal, through ncurses: the cell buffer is painted
// into curses' screen, which sends the terminal only what changed; terminal
// modes and every control sequence come from terminfo. Keys are read as
// bytes and decoded here (console_keys), so that a sequence the program
// does not know is dropped whole rather than typed.

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <termcap.h>

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
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/console_keys.h"
#include "platform/interrupt.h"
#include "platform/write_all.h"

namespace {

// How long the rest of a key's sequence may take after its ESC; a terminal
// sends a key's bytes at once, so only a lone Escape waits this long.
constexpr int ESCAPE_WAIT_MS = 25;

// xterm's title stack: save the window title, and give it back.
constexpr char TITLE_PUSH[] = "\033[22;0t";
constexpr char TITLE_POP[] = "\033[23;0t";

// What the signal handlers touch: plain data, set up before they are
// installed. There is one terminal per process.
struct SignalState {
  volatile sig_atomic_t resized;
  int wake_fd;  // write end of the self-pipe; -1 when none
  termios shell_modes;
  bool have_modes;
  // The bytes that give the terminal back: attributes off, cursor normal,
  // keypad local, the cursor to a fresh line, full-screen view left, the
  // title given back. Two copies: the main thread rewrites the one that a
  // handler does not read, then switches.
  char restore[2][512];
  size_t restore_length[2];
  volatile sig_atomic_t restore_current;
};

SignalState g_signal = {0, -1, {}, false, {}, {0, 0}, 0};

struct TerminalDevice {
  SCREEN* screen;
  int wake[2];
  const char* small_notice;  // printf format: the window's size, the size needed
  bool color;
  bool default_colors;  // the terminal's own background can be used
  bool pair_made[80];

  KeyTable keys;
  unsigned char input[256];  // bytes read, not yet decoded
  size_t input_length;
  bool input_ended;
  bool escape_waiting;  // the bytes begin a sequence whose rest is due
  std::chrono::steady_clock::time_point escape_deadline;

  // Without an alternate screen the layout stays on the terminal when the
  // program ends, and what is printed then must go below it, on a line of
  // its own: the bytes that put the cursor there, for the window's size.
  bool alt_screen;
  char leave[64];
  size_t leave_length;
  int leave_rows;  // the window's rows and the layout's `leave` was made for
  int leave_need_rows;
  bool title_pushed;
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

// Gives the terminal back with async-signal-safe calls only: the process's
// interrupt handler calls it for every signal that ends the process.
void restore_terminal() {
  int current = g_signal.restore_current;
  if (g_signal.restore_length[current] > 0) {
    ssize_t ignored =
        write(STDOUT_FILENO, g_signal.restore[current], g_signal.restore_length[current]);
    (void)ignored;
  }
  if (g_signal.have_modes)
    tcsetattr(STDIN_FILENO, TCSANOW, &g_signal.shell_modes);
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

// Appends a terminfo string to buf without its padding ("$<5>"), which
// only tputs understands; false when it does not fit.
bool append_bytes(char* buf, size_t size, size_t* length, const char* s) {
  if (!usable(s))
    return true;
  for (; *s; ++s) {
    if (s[0] == '$' && s[1] == '<') {
      const char* end = strchr(s, '>');
      if (end != nullptr) {
        s = end;
        continue;
      }
    }
    if (*length + 1 >= size)
      return false;
    buf[(*length)++] = *s;
  }
  return true;
}

// Rewrites the restore bytes from what the device now knows.
void update_restore(const TerminalDevice* d) {
  int next = 1 - g_signal.restore_current;
  char* buf = g_signal.restore[next];
  size_t size = sizeof g_signal.restore[next];
  size_t length = 0;
  append_bytes(buf, size, &length, tigetstr("sgr0"));
  append_bytes(buf, size, &length, tigetstr("cnorm"));
  append_bytes(buf, size, &length, tigetstr("rmkx"));
  if (d->leave_length < size - length) {
    memcpy(buf + length, d->leave, d->leave_length);
    length += d->leave_length;
  }
  append_bytes(buf, size, &length, tigetstr("rmcup"));
  if (d->title_pushed)
    append_bytes(buf, size, &length, TITLE_POP);
  g_signal.restore_length[next] = length;
  g_signal.restore_current = next;
}

// Where a line printed after the end goes, on a terminal without an
// alternate screen: the row under the layout when the window has it, else
// a new line scrolled in at the bottom.
void update_leave(TerminalDevice* d, const Console* con, int rows) {
  if (d->alt_screen || rows <= 0 || (rows == d->leave_rows && con->need_rows == d->leave_need_rows))
    return;
  d->leave_rows = rows;
  d->leave_need_rows = con->need_rows;
  int row = con->need_rows;
  bool scroll = row <= 0 || row >= rows;
  if (scroll)
    row = rows - 1;
  d->leave_length = 0;
  const char* cup = tigetstr("cup");
  if (usable(cup))
    append_bytes(d->leave, sizeof d->leave, &d->leave_length, tiparm(cup, row, 0));
  if (scroll)
    append_bytes(d->leave, sizeof d->leave, &d->leave_length, "\r\n");
  update_restore(d);
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

// Breaks `text` into lines of at most `width` characters, at blanks where
// it can; returns how many, filling at most `max` of starts[]/lengths[].
int wrap_text(const char* text, int width, int max, int* starts, int* lengths) {
  int count = 0;
  int length = static_cast<int>(strlen(text));
  int pos = 0;
  while (pos < length && width > 0) {
    while (pos < length && text[pos] == ' ')
      ++pos;
    if (pos == length)
      break;
    int end = std::min(pos + width, length);
    if (end < length && text[end] != ' ') {
      int blank = end;
      while (blank > pos && text[blank] != ' ')
        --blank;
      if (blank > pos)
        end = blank;  // else a word longer than the line: cut it
    }
    if (count < max) {
      starts[count] = pos;
      lengths[count] = end - pos;
    }
    ++count;
    pos = end;
  }
  return count;
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

// Too small a window shows no part of the screen, which would be cut or
// shifted, but a notice alone, in whole words, until it is large enough.
void show_notice(const TerminalDevice* d, const Console* con, int cols, int rows) {
  char notice[256];
  snprintf(notice, sizeof notice, d->small_notice, cols, rows, con->need_columns, con->need_rows);
  int starts[CONSOLE_ROWS];
  int lengths[CONSOLE_ROWS];
  int count = std::min({wrap_text(notice, cols, CONSOLE_ROWS, starts, lengths), rows,
                        static_cast<int>(CONSOLE_ROWS)});
  for (int i = 0; i < count; ++i)
    mvwaddnstr(stdscr, i, 0, notice + starts[i], lengths[i]);
  curs_set(0);
}

void terminal_show(Console* con) {
  TerminalDevice* d = device(con);
  bool resized = g_signal.resized;
  take_resize();
  if (!resized && !con->changed)
    return;

  int rows = LINES;
  int cols = COLS;
  update_leave(d, con, rows);
  werase(stdscr);
  if (cols < con->need_columns || rows < con->need_rows) {
    show_notice(d, con, cols, rows);
    wrefresh(stdscr);
    return;
  }
  for (int row = 0; row < rows && row < CONSOLE_ROWS; ++row) {
    for (int col = 0; col < cols && col < CONSOLE_COLUMNS; ++col)
      paint_cell(d, con, col, row, row, col);
  }
  if (con->cursor_visible && con->cursor_row < rows && con->cursor_col < cols) {
    wmove(stdscr, con->cursor_row, con->cursor_col);
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

// Takes the next whole key out of the bytes read, if there is one: a
// press, as a terminal reports no releases.
bool decode_next(TerminalDevice* d, KeyEvent* event) {
  if (d->input_length == 0)
    return false;
  bool complete = d->input_ended ||
                  (d->escape_waiting && std::chrono::steady_clock::now() >= d->escape_deadline);
  uint16_t vk = VKEY_NONE;
  size_t n = decode_key(&d->keys, d->input, d->input_length, complete, &vk);
  if (n == 0) {
    if (!d->escape_waiting) {
      d->escape_waiting = true;
      d->escape_deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(ESCAPE_WAIT_MS);
    }
    return false;
  }
  d->input_length -= n;
  memmove(d->input, d->input + n, d->input_length);
  d->escape_waiting = false;
  *event = KeyEvent{true, vk};
  return true;
}

int terminal_read_key(Console* con, KeyEvent* event) {
  TerminalDevice* d = device(con);
  for (;;) {
    if (g_signal.resized)
      console_show(con);
    if (decode_next(d, event))
      return 1;
    if (d->input_ended)
      return -1;
    int timeout = -1;
    if (d->escape_waiting) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      d->escape_deadline - std::chrono::steady_clock::now())
                      .count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, ESCAPE_WAIT_MS));
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {d->wake[0], POLLIN, 0}};
    int n = poll(fds, 2, timeout);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return -1;
    }
    if (n == 0)
      continue;  // the sequence's time is up: it is taken as it came
    if (fds[1].revents & POLLIN)
      drain_wake(d);
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      ssize_t got =
          read(STDIN_FILENO, d->input + d->input_length, sizeof d->input - d->input_length);
      if (got > 0)
        d->input_length += static_cast<size_t>(got);
      else if (got == 0 || (errno != EINTR && errno != EAGAIN))
        d->input_ended = true;  // the terminal has gone
    }
  }
}

void terminal_discard_input(Console* con) {
  TerminalDevice* d = device(con);
  tcflush(STDIN_FILENO, TCIFLUSH);
  d->input_length = 0;
  d->escape_waiting = false;
}

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

// Terminals that keep a stack of window titles: xterm and its family
// (they say so with XT), and tmux.
bool has_title_stack() {
  const char* term = getenv("TERM");
  return tigetflag("XT") > 0 || (term != nullptr && strncmp(term, "tmux", 4) == 0);
}

void set_title(TerminalDevice* d, const char* title) {
  const char* start = tigetstr("tsl");
  const char* end = tigetstr("fsl");
  bool xterm = tigetflag("XT") > 0;
  if (!(usable(start) && usable(end)) && !xterm)
    return;  // no title to set
  // The title found is saved first, to be given back at the end, unless
  // entering the full-screen view saves it already (xterm's smcup).
  const char* smcup = tigetstr("smcup");
  bool saved_by_smcup = usable(smcup) && strstr(smcup, "\033[22;") != nullptr;
  if (has_title_stack() && !saved_by_smcup && !d->title_pushed) {
    putp(TITLE_PUSH);
    d->title_pushed = true;
    update_restore(d);
  }
  if (usable(start) && usable(end)) {
    putp(tiparm(start, 0));
    putp(title);
    putp(end);
  } else {
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
  install(SIGWINCH, SIG_DFL, 0);
  g_signal.restore_length[0] = 0;
  g_signal.restore_length[1] = 0;
  g_signal.wake_fd = -1;
  curs_set(1);
  endwin();
  fflush(stdout);
  // What endwin leaves out: the cursor under the layout, the title.
  write_all(STDOUT_FILENO, d->leave, d->leave_length);
  if (d->title_pushed)
    write_all(STDOUT_FILENO, TITLE_POP, sizeof TITLE_POP - 1);
  delscreen(d->screen);
  ::close(d->wake[0]);
  ::close(d->wake[1]);
  delete d;
  con->device = nullptr;
}

const ConsoleBackend TERMINAL_BACKEND = {
    terminal_show, terminal_read_key, terminal_discard_input, terminal_sleep, terminal_close,
};

// Whether the terminal can show the full screen: named by TERM, described
// in terminfo, not a generic type (dumb) or a printing one, and able to put
// the cursor anywhere. Otherwise the dialogue runs as lines.
bool full_screen_usable() {
  const char* term = getenv("TERM");
  if (term == nullptr || *term == '\0')
    return false;
  if (tgetent(nullptr, term) != 1)
    return false;
  return tigetflag("gn") <= 0 && tigetflag("hc") <= 0 && usable(tigetstr("cup"));
}

}  // namespace

int open_terminal_console(Console* con, const ConsoleSetup& setup, int* columns, int* rows) {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) || !full_screen_usable())
    return CONSOLE_NOT_A_TERMINAL;
  // A window that cannot show the layout is left to the line dialogue; a
  // size the system does not know, to terminfo.
  winsize ws;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0 &&
      (ws.ws_col < setup.columns || ws.ws_row < setup.rows)) {
    *columns = ws.ws_col;
    *rows = ws.ws_row;
    return CONSOLE_TOO_SMALL;
  }
  // Only the character type: numbers must keep "." in every locale.
  setlocale(LC_CTYPE, "");
  g_signal.have_modes = tcgetattr(STDIN_FILENO, &g_signal.shell_modes) == 0;

  TerminalDevice* d = new TerminalDevice();
  if (pipe2(d->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    delete d;
    return CONSOLE_NOT_A_TERMINAL;
  }
  d->screen = newterm(nullptr, stdout, stdin);
  if (d->screen == nullptr) {
    ::close(d->wake[0]);
    ::close(d->wake[1]);
    delete d;
    return CONSOLE_NOT_A_TERMINAL;
  }
  set_term(d->screen);
  cbreak();  // Ctrl-C and Ctrl-\ stay signals
  noecho();
  // The keypad in application mode where the terminal has one; both modes
  // are decoded.
  keypad(stdscr, TRUE);
  // The input is read here, not by curses: curses is not to look at it
  // for keys waiting, nor cut a screen update short for them.
  typeahead(-1);
  if (has_colors() && start_color() == OK) {
    d->color = true;
    d->default_colors = use_default_colors() == OK;
  }
  key_table_add(&d->keys, tigetstr("kdch1"), VKEY_DELETE);
  key_table_add(&d->keys, tigetstr("kent"), VKEY_RETURN);
  key_table_add(&d->keys, tigetstr("kclr"), VKEY_CLEAR);
  key_table_add(&d->keys, tigetstr("kbs"), VKEY_BACK);
  d->alt_screen = usable(tigetstr("smcup"));

  console_init(con);
  con->backend = &TERMINAL_BACKEND;
  con->device = d;
  con->screen_stays = !d->alt_screen;
  d->small_notice = setup.small_notice;
  con->need_columns = std::clamp(setup.columns, 0, CONSOLE_COLUMNS);
  con->need_rows = std::clamp(setup.rows, 0, CONSOLE_ROWS);

  g_signal.restore_length[0] = 0;
  g_signal.restore_length[1] = 0;
  update_restore(d);
  update_leave(d, con, LINES);
  g_signal.wake_fd = d->wake[1];
  g_signal.resized = 0;
  install(SIGWINCH, on_resize_signal, SA_RESTART);
  interrupt_set_restore(restore_terminal);
  set_title(d, setup.title);
  return CONSOLE_OPENED;
}
