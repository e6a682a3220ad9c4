// The full screen on a terminal, through ncurses. The layout is drawn into a
// pad of curses' own; a show copies it to the terminal when the window can
// hold it (curses sends only what changed), and otherwise shows a notice
// alone. Terminal modes and every control sequence come from terminfo, and
// curses decodes the keys (keypad mode).

#include <curses.h>
#include <termcap.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/write_all.h"

namespace {

// How long the rest of a key's sequence may take after its ESC; a terminal
// sends a key's bytes at once, so only a lone Escape waits this long.
constexpr int ESCAPE_WAIT_MS = 25;

// xterm's title stack: save the window title, and give it back.
constexpr char TITLE_PUSH[] = "\033[22;0t";
constexpr char TITLE_POP[] = "\033[23;0t";

// What the interrupt handler touches: plain data, set up before it may run.
// The bytes give the terminal back: attributes off, cursor normal, keypad
// local, the cursor to a fresh line, full-screen view left, the title given
// back. Two copies: the main thread rewrites the one the handler does not
// read, then switches.
struct SignalState {
  termios shell_modes;
  bool have_modes;
  char restore[2][512];
  size_t restore_length[2];
  volatile sig_atomic_t restore_current;
};

SignalState g_signal = {};

// A resize while the program waits for a key or for time is told through
// this pipe, to which the handler writes a byte, so that no wait can miss
// it: curses' own handler tells only a wait already inside its read.
int g_wake[2] = {-1, -1};

extern "C" void on_resize(int) {
  int saved = errno;
  ssize_t ignored = write(g_wake[1], "w", 1);
  (void)ignored;
  errno = saved;
}

// Waits up to `ms` (-1: no end) for a resize and, with `keys`, for input;
// true when input may be read.
bool wait_for(bool keys, int ms) {
  pollfd fds[2] = {{g_wake[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  int n = poll(fds, keys ? 2 : 1, ms);
  char drained[64];
  while (n > 0 && (fds[0].revents & POLLIN) && read(g_wake[0], drained, sizeof drained) > 0) {
  }
  return n > 0 && keys && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

struct TerminalDevice {
  SCREEN* screen;
  WINDOW* layout;  // the pad that holds the layout
  const char* small_notice;
  int need_columns, need_rows;
  attr_t banner;
  int shown_rows, shown_columns;  // the window the last show was for
  bool notice_shown;
  // Without an alternate screen the layout stays on the terminal at the
  // end, and what is printed then must go below it, on a line of its own:
  // the bytes that put the cursor there, for the window's rows.
  bool alt_screen;
  char leave[64];
  size_t leave_length;
  int leave_rows;
  bool title_pushed;
};

TerminalDevice* device(const Console* con) { return static_cast<TerminalDevice*>(con->device); }

bool usable(const char* s) { return s != nullptr && s != reinterpret_cast<const char*>(-1); }

// Appends a terminfo string to buf without its padding ("$<5>"), which
// only tputs understands.
void append_bytes(char* buf, size_t size, size_t* length, const char* s) {
  for (; usable(s) && *s; ++s) {
    if (s[0] == '$' && s[1] == '<' && strchr(s, '>') != nullptr) {
      s = strchr(s, '>');
      continue;
    }
    if (*length + 1 < size)
      buf[(*length)++] = *s;
  }
}

// Gives the terminal back with async-signal-safe calls only: the interrupt
// handler calls it for every signal that ends the process.
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

void update_restore(const TerminalDevice* d) {
  int next = 1 - g_signal.restore_current;
  char* buf = g_signal.restore[next];
  size_t size = sizeof g_signal.restore[next], length = 0;
  for (const char* cap : {"sgr0", "cnorm", "rmkx"})
    append_bytes(buf, size, &length, tigetstr(cap));
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
void update_leave(TerminalDevice* d, int rows) {
  if (d->alt_screen || rows == d->leave_rows)
    return;
  d->leave_rows = rows;
  int row = std::min(d->need_rows, rows - 1);
  d->leave_length = 0;
  const char* cup = tigetstr("cup");
  if (usable(cup))
    append_bytes(d->leave, sizeof d->leave, &d->leave_length, tiparm(cup, row, 0));
  if (d->need_rows >= rows)
    append_bytes(d->leave, sizeof d->leave, &d->leave_length, "\r\n");
  update_restore(d);
}

// Breaks `text` into lines of at most `width` characters, at blanks where
// it can; returns how many, filling at most `max` of starts[]/lengths[].
int wrap_text(const char* text, int width, int max, int* starts, int* lengths) {
  int count = 0, length = static_cast<int>(strlen(text)), pos = 0;
  while (pos < length && width > 0 && count < max) {
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
    starts[count] = pos;
    lengths[count++] = end - pos;
    pos = end;
  }
  return count;
}

// The window's size as the system knows it now: curses learns of a resize
// only when it reads a key, and the job shows the screen without reading.
void take_window_size(TerminalDevice* d) {
  winsize ws;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0 &&
      (ws.ws_row != LINES || ws.ws_col != COLS))
    resize_term(ws.ws_row, ws.ws_col);
  if (LINES != d->shown_rows || COLS != d->shown_columns) {
    d->shown_rows = LINES;
    d->shown_columns = COLS;
    clearok(curscr, TRUE);  // what the terminal kept of the old size is unknown
    d->notice_shown = true;
  }
}

// Too small a window shows no part of the screen, which would be cut or
// shifted, but a notice alone, in whole words, until it is large enough.
void show_notice(const TerminalDevice* d, int cols, int rows) {
  char notice[256];
  snprintf(notice, sizeof notice, d->small_notice, cols, rows, d->need_columns, d->need_rows);
  int starts[CONSOLE_ROWS], lengths[CONSOLE_ROWS];
  int count = wrap_text(notice, cols, std::min(rows, CONSOLE_ROWS), starts, lengths);
  werase(stdscr);
  for (int i = 0; i < count; ++i)
    mvwaddnstr(stdscr, i, 0, notice + starts[i], lengths[i]);
  wnoutrefresh(stdscr);
}

// The unknown rest of a key's sequence after its ESC, which curses returns
// byte by byte: dropped whole (a control sequence by its form, ECMA-48), so
// that no digit inside it is typed.
void drop_sequence_rest(WINDOW* w) {
  wtimeout(w, 0);
  int c = wgetch(w);
  if (c == '[' || c == 'O') {
    do
      c = wgetch(w);
    while (c >= 0x20 && c <= 0x3F);
    if (c != ERR && !(c >= 0x40 && c <= 0x7E))
      ungetch(c);  // broken off: the byte that broke it is a key of its own
  } else if (c == 27) {
    drop_sequence_rest(w);
  }
}

// Terminals that keep a stack of window titles: xterm and its family (they
// say so with XT), and tmux.
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
  if (has_title_stack() && !(usable(smcup) && strstr(smcup, "\033[22;") != nullptr)) {
    putp(TITLE_PUSH);
    d->title_pushed = true;
    update_restore(d);
  }
  // The xterm family says so with XT but may name no title string.
  putp(usable(start) ? tiparm(start, 0) : "\033]2;");
  putp(title);
  putp(usable(end) ? end : "\007");
  fflush(stdout);
}

// Whether the terminal can show the full screen: named by TERM, described
// in terminfo, not a generic type (dumb) or a printing one, and able to put
// the cursor anywhere. Otherwise the dialogue runs as lines.
bool full_screen_usable() {
  const char* term = getenv("TERM");
  if (term == nullptr || *term == '\0' || tgetent(nullptr, term) != 1)
    return false;
  return tigetflag("gn") <= 0 && tigetflag("hc") <= 0 && usable(tigetstr("cup"));
}

}  // namespace

int console_open(Console* con, const ConsoleSetup& setup, int* columns, int* rows) {
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
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr)
    return CONSOLE_NOT_A_TERMINAL;
  TerminalDevice* d = new TerminalDevice();
  d->screen = screen;
  d->layout = newpad(CONSOLE_ROWS, CONSOLE_COLUMNS);
  d->small_notice = setup.small_notice;
  d->need_columns = std::clamp(setup.columns, 0, CONSOLE_COLUMNS);
  d->need_rows = std::clamp(setup.rows, 0, CONSOLE_ROWS);
  cbreak();  // Ctrl-C and Ctrl-\ stay signals
  noecho();
  curs_set(0);
  // The keypad in application mode where the terminal has one; its keys
  // give what is printed on them, in both modes.
  keypad(d->layout, TRUE);
  set_escdelay(ESCAPE_WAIT_MS);
  static const char KEYPAD[] = "pqrstuvwxynmM";
  static const char TYPED[] = "0123456789.-\r";
  for (int i = 0; KEYPAD[i] != '\0'; ++i) {
    char sequence[] = {'\033', 'O', KEYPAD[i], '\0'};
    define_key(sequence, static_cast<unsigned char>(TYPED[i]));
  }
  // Delete on every terminal of the VT220 line, also where terminfo names
  // none, with or without modifiers, as the Windows console reports Delete.
  define_key("\033[3~", KEY_DC);
  for (char modifiers = '2'; modifiers <= '8'; ++modifiers) {
    char sequence[] = {'\033', '[', '3', ';', modifiers, '~', '\0'};
    define_key(sequence, KEY_DC);
  }
  // Curses is not to look for keys waiting while it draws.
  typeahead(-1);
  if (has_colors() && start_color() == OK) {
    short background = use_default_colors() == OK ? -1 : COLOR_BLACK;
    init_pair(1, COLOR_YELLOW, background);
    d->banner = COLOR_PAIR(1);
  }
  d->alt_screen = usable(tigetstr("smcup"));
  if (pipe(g_wake) == 0) {
    for (int fd : g_wake) {
      fcntl(fd, F_SETFL, O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction resize = {};
    resize.sa_handler = on_resize;
    sigemptyset(&resize.sa_mask);
    sigaction(SIGWINCH, &resize, nullptr);
  }
  g_signal.restore_length[0] = g_signal.restore_length[1] = 0;
  update_restore(d);
  update_leave(d, LINES);
  con->device = d;
  interrupt_set_restore(restore_terminal);
  set_title(d, setup.title);
  return CONSOLE_OPENED;
}

void console_clear(Console* con) { werase(device(con)->layout); }

void console_write(Console* con, int col, int row, const char* text, size_t length,
                   ConsoleStyle style) {
  TerminalDevice* d = device(con);
  char shown[CONSOLE_COLUMNS];
  size_t n = console_visible(col, row, text, length, shown);
  if (d == nullptr || n == 0)
    return;
  wattrset(d->layout, style == STYLE_BANNER ? d->banner : A_NORMAL);
  mvwaddnstr(d->layout, row, col, shown, static_cast<int>(n));
}

void console_frame(Console* con, int left, int top, int right, int bottom) {
  WINDOW* w = device(con)->layout;
  wattrset(w, A_NORMAL);
  mvwhline(w, top, left, ACS_HLINE, right - left + 1);
  mvwhline(w, bottom, left, ACS_HLINE, right - left + 1);
  mvwvline(w, top, left, ACS_VLINE, bottom - top + 1);
  mvwvline(w, top, right, ACS_VLINE, bottom - top + 1);
  mvwaddch(w, top, left, ACS_ULCORNER);
  mvwaddch(w, top, right, ACS_URCORNER);
  mvwaddch(w, bottom, left, ACS_LLCORNER);
  mvwaddch(w, bottom, right, ACS_LRCORNER);
}

void console_set_notice(Console* con, const char* notice) {
  if (TerminalDevice* d = device(con)) {
    d->small_notice = notice;
    d->notice_shown = true;  // shown again, in its new words, if it stands
  }
}

void console_show(Console* con) {
  TerminalDevice* d = device(con);
  if (d == nullptr)
    return;
  take_window_size(d);
  update_leave(d, LINES);
  if (COLS < d->need_columns || LINES < d->need_rows) {
    show_notice(d, COLS, LINES);
    d->notice_shown = true;
  } else {
    if (d->notice_shown) {
      werase(stdscr);
      wnoutrefresh(stdscr);
      touchwin(d->layout);
      d->notice_shown = false;
    }
    pnoutrefresh(d->layout, 0, 0, 0, 0, std::min(LINES, CONSOLE_ROWS) - 1,
                 std::min(COLS, CONSOLE_COLUMNS) - 1);
  }
  doupdate();
}

int console_read_key(Console* con, KeyEvent* event) {
  TerminalDevice* d = device(con);
  if (d == nullptr)
    return -1;
  for (bool ready = false;;) {
    console_show(con);
    wtimeout(d->layout, 0);  // what curses holds or the terminal has sent
    int c = wgetch(d->layout);
    if (c == ERR) {
      if (ready)
        return -1;  // readable, and nothing to read: the terminal has gone
      ready = wait_for(true, -1);
      continue;
    }
    ready = false;
    if (c == 27)
      drop_sequence_rest(d->layout);
    // Keys that type nothing: Enter, and Backspace, Delete and Clear, which
    // the dialogue takes alike; the others are keys it ignores.
    char ch = c == KEY_ENTER                                        ? '\r'
              : c == KEY_BACKSPACE || c == KEY_DC || c == KEY_CLEAR ? '\x7f'
              : c < 0x100                                           ? static_cast<char>(c)
                                                                    : '\0';
    *event = KeyEvent{true, 0, ch};
    return 1;
  }
}

void console_take_release(Console*) {}

void console_flush_input(Console* con) {
  if (device(con) != nullptr)
    flushinp();
}

void console_sleep(Console* con, unsigned ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    console_show(con);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0 || device(con) == nullptr)
      return;
    wait_for(false, static_cast<int>(left));
  }
}

bool console_screen_stays(const Console* con) {
  return device(con) != nullptr && !device(con)->alt_screen;
}

void console_close(Console* con) {
  TerminalDevice* d = device(con);
  if (d == nullptr)
    return;
  console_show(con);
  interrupt_set_restore(nullptr);
  g_signal.restore_length[0] = g_signal.restore_length[1] = 0;
  curs_set(1);
  endwin();
  fflush(stdout);
  // What endwin leaves out: the cursor under the layout, the title.
  write_all(STDOUT_FILENO, d->leave, d->leave_length);
  if (d->title_pushed)
    write_all(STDOUT_FILENO, TITLE_POP, sizeof TITLE_POP - 1);
  delwin(d->layout);
  delscreen(d->screen);
  signal(SIGWINCH, SIG_DFL);
  for (int& fd : g_wake) {
    if (fd >= 0)
      ::close(fd);
    fd = -1;
  }
  delete d;
  con->device = nullptr;
}
