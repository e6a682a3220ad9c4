#include "pty_session.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

#include <chrono>

#include "test_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int settermprop(VTermProp prop, VTermValue* val, void* user) {
  PtySession* s = static_cast<PtySession*>(user);
  if (prop == VTERM_PROP_CURSORVISIBLE)
    s->cursor_visible = val->boolean != 0;
  else if (prop == VTERM_PROP_ALTSCREEN)
    s->alt_screen = val->boolean != 0;
  else if (prop == VTERM_PROP_TITLE)
    s->title = val->string != nullptr ? val->string : "";
  return 1;
}

// Control sequences the emulator does not handle itself: the title stack.
int unhandled_csi(const char* leader, const long args[], int argcount, const char* intermed,
                  char command, void* user) {
  PtySession* s = static_cast<PtySession*>(user);
  if (command != 't' || (leader && *leader) || (intermed && *intermed) || argcount < 1)
    return 0;
  long op = CSI_ARG(args[0]);
  if (op == 22) {
    s->saved_titles.push_back(s->title);
    return 1;
  }
  if (op == 23 && !s->saved_titles.empty()) {
    s->title = s->saved_titles.back();
    s->saved_titles.pop_back();
    return 1;
  }
  return 0;
}

const VTermParserCallbacks FALLBACKS = {
    nullptr, nullptr, nullptr, unhandled_csi, nullptr, nullptr, nullptr,
};

// The emulator's answers to the program's queries (device attributes, cursor
// position) go back to the program, as a real terminal's would.
void answer(const char* bytes, size_t len, void* user) {
  PtySession* s = static_cast<PtySession*>(user);
  while (len > 0) {
    ssize_t n = write(s->master, bytes, len);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    bytes += n;
    len -= static_cast<size_t>(n);
  }
}

const VTermScreenCallbacks SCREEN_CALLBACKS = {
    nullptr, nullptr, nullptr, settermprop, nullptr, nullptr, nullptr, nullptr,
};

// The environment of the program: the caller's, with the terminal type set
// and the size variables removed, so that the program asks the terminal for
// its size. The locale is fixed so that every machine draws alike.
std::vector<std::string> child_environment() {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string_view entry(*e);
    if (entry.starts_with("TERM=") || entry.starts_with("LINES=") ||
        entry.starts_with("COLUMNS=") || entry.starts_with("LC_ALL="))
      continue;
    env.emplace_back(entry);
  }
  env.push_back(std::string("TERM=") + PTY_TERM);
  env.push_back("LC_ALL=C.UTF-8");
  return env;
}

void append_utf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void reap(PtySession* s) {
  if (s->exited || s->pid <= 0)
    return;
  int status = 0;
  pid_t r = waitpid(s->pid, &status, WNOHANG);
  if (r == s->pid) {
    s->exited = true;
    s->wait_status = status;
  }
}

}  // namespace

PtySession::~PtySession() {
  if (pid > 0 && !exited) {
    // The whole group, so that nothing the program started lingers.
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
  }
  if (master >= 0)
    close(master);
  if (vt)
    vterm_free(vt);
}

bool pty_start(PtySession* s, const std::vector<std::string>& argv, int cols, int rows,
               const std::string& cwd, std::string* error) {
  s->master = posix_openpt(O_RDWR | O_NOCTTY);
  if (s->master < 0 || grantpt(s->master) != 0 || unlockpt(s->master) != 0) {
    *error = std::string("posix_openpt: ") + strerror(errno);
    return false;
  }
  std::string slave_name = ptsname(s->master);
  winsize ws = {};
  ws.ws_col = static_cast<unsigned short>(cols);
  ws.ws_row = static_cast<unsigned short>(rows);
  ioctl(s->master, TIOCSWINSZ, &ws);
  tcgetattr(s->master, &s->initial_modes);

  s->cols = cols;
  s->rows = rows;
  s->vt = vterm_new(rows, cols);
  vterm_set_utf8(s->vt, 1);
  vterm_output_set_callback(s->vt, answer, s);
  s->screen = vterm_obtain_screen(s->vt);
  vterm_screen_enable_altscreen(s->screen, 1);
  vterm_screen_set_callbacks(s->screen, &SCREEN_CALLBACKS, s);
  vterm_screen_set_unrecognised_fallbacks(s->screen, &FALLBACKS, s);
  vterm_screen_reset(s->screen, 1);

  // Everything the child needs is built before fork: between fork and exec
  // it only makes system calls.
  std::vector<std::string> env = child_environment();
  std::vector<char*> envp;
  for (std::string& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args)
    argp.push_back(a.data());
  argp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("fork: ") + strerror(errno);
    return false;
  }
  if (pid == 0) {
    // A new session whose controlling terminal is the slave: Ctrl-C and
    // SIGWINCH then reach the program as they would from a real terminal.
    setsid();
    int slave = open(slave_name.c_str(), O_RDWR);
    if (slave < 0)
      _exit(126);
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    if (slave > 2)
      close(slave);
    close(s->master);
    reset_signal_dispositions();
    if (chdir(cwd.c_str()) != 0)
      _exit(126);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  s->pid = pid;
  fcntl(s->master, F_SETFL, fcntl(s->master, F_GETFL) | O_NONBLOCK);
  return true;
}

void pty_type(PtySession* s, std::string_view bytes) { answer(bytes.data(), bytes.size(), s); }

void pty_pump(PtySession* s, int wait_ms) {
  reap(s);
  if (s->output_closed) {
    if (!s->exited)
      usleep(static_cast<useconds_t>(wait_ms) * 1000);
    return;
  }
  pollfd p = {s->master, POLLIN, 0};
  if (poll(&p, 1, wait_ms) <= 0)
    return;
  char buf[65536];
  for (;;) {
    ssize_t n = read(s->master, buf, sizeof buf);
    if (n > 0) {
      s->bytes_read += static_cast<size_t>(n);
      vterm_input_write(s->vt, buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == EAGAIN)
      return;
    // EIO: no process holds the slave side. Before the child has opened it
    // that means nothing yet; after the child is gone, all output is read.
    if (s->exited) {
      s->output_closed = true;
    } else {
      usleep(static_cast<useconds_t>(wait_ms) * 1000);
    }
    return;
  }
}

bool pty_wait_until(PtySession* s, const std::function<bool()>& done, int timeout_ms) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done())
      return true;
    if (Clock::now() >= deadline)
      return false;
    pty_pump(s, 20);
  }
}

bool pty_wait_for_text(PtySession* s, std::string_view text, int timeout_ms) {
  return pty_wait_until(
      s, [&] { return pty_screen_contains(*s, text); }, timeout_ms);
}

bool pty_wait_for_text_at(PtySession* s, int col, int row, std::string_view text, int timeout_ms) {
  // Only ASCII texts are looked for this way, one byte per cell.
  int len = static_cast<int>(text.size());
  return pty_wait_until(
      s, [&] { return pty_text_at(*s, col, row, len) == text; }, timeout_ms);
}

bool pty_wait_quiet(PtySession* s, int quiet_ms, int timeout_ms) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t seen = s->bytes_read;
  Clock::time_point last_change = Clock::now();
  for (;;) {
    pty_pump(s, 10);
    Clock::time_point now = Clock::now();
    if (s->bytes_read != seen) {
      seen = s->bytes_read;
      last_change = now;
    } else if (now - last_change >= std::chrono::milliseconds(quiet_ms)) {
      return true;
    }
    if (now >= deadline)
      return false;
  }
}

bool pty_wait_exit(PtySession* s, int timeout_ms) {
  return pty_wait_until(
      s, [&] { return s->exited && s->output_closed; }, timeout_ms);
}

void pty_resize(PtySession* s, int cols, int rows) {
  winsize ws = {};
  ws.ws_col = static_cast<unsigned short>(cols);
  ws.ws_row = static_cast<unsigned short>(rows);
  s->cols = cols;
  s->rows = rows;
  vterm_set_size(s->vt, rows, cols);
  // The kernel signals the terminal's foreground group on a size change;
  // the explicit signal also reaches a program that left that group.
  ioctl(s->master, TIOCSWINSZ, &ws);
  if (s->pid > 0 && !s->exited)
    kill(s->pid, SIGWINCH);
}

char32_t pty_cell(const PtySession& s, int col, int row) {
  if (col < 0 || row < 0 || col >= s.cols || row >= s.rows)
    return U'\0';
  VTermScreenCell cell;
  VTermPos pos;
  pos.row = row;
  pos.col = col;
  if (!vterm_screen_get_cell(s.screen, pos, &cell))
    return U'\0';
  return cell.chars[0] == 0 ? U' ' : static_cast<char32_t>(cell.chars[0]);
}

std::string pty_text_at(const PtySession& s, int col, int row, int len) {
  std::string out;
  for (int c = col; c < col + len; ++c) {
    char32_t ch = pty_cell(s, c, row);
    if (ch == U'\0')
      break;  // off the screen
    append_utf8(&out, ch);
  }
  return out;
}

std::string pty_row_text(const PtySession& s, int row) {
  std::string text = pty_text_at(s, 0, row, s.cols);
  size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::string pty_screen_dump(const PtySession& s) {
  std::string out;
  char label[16];
  for (int row = 0; row < s.rows; ++row) {
    snprintf(label, sizeof label, "%3d|", row);
    out += label;
    out += pty_row_text(s, row);
    out += '\n';
  }
  return out;
}

bool pty_screen_contains(const PtySession& s, std::string_view text) {
  for (int row = 0; row < s.rows; ++row)
    if (pty_row_text(s, row).find(text) != std::string::npos)
      return true;
  return false;
}

bool pty_modes_restored(const PtySession& s) {
  termios now = {};
  if (tcgetattr(s.master, &now) != 0)
    return false;
  const tcflag_t lflags = ECHO | ICANON | ISIG | IEXTEN;
  const tcflag_t iflags = ICRNL | IXON;
  const tcflag_t oflags = OPOST | ONLCR;
  return (now.c_lflag & lflags) == (s.initial_modes.c_lflag & lflags) &&
         (now.c_iflag & iflags) == (s.initial_modes.c_iflag & iflags) &&
         (now.c_oflag & oflags) == (s.initial_modes.c_oflag & oflags);
}
