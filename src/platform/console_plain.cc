// The console on a plain stream (a pipe, a file, a script, or a terminal
// the full screen cannot use): the values arrive as lines, nothing is
// drawn, messages are lines on standard output and standard error.

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/write_all.h"

namespace {

struct PlainDevice {
  int in_fd;
  int prompt_fd;    // where prompts go; -1: none (nobody types at the input)
  int progress_fd;  // where the progress line goes; -1: none (no terminal)
  unsigned char buf[4096];
  size_t len;
  size_t pos;
  bool after_cr;  // a line feed right after a carriage return ends no line
  bool ended;
};

PlainDevice* device(Console* con) { return static_cast<PlainDevice*>(con->device); }

// The terminal on which a line stands unfinished (a prompt, the progress),
// or -1. A message printed after it must start a line of its own, also the
// one an interrupt prints.
std::atomic<int> g_open_line{-1};

// The terminal the operator types at, where the line discipline echoes an
// interrupt key ("^C") at the cursor; -1 when the input is no terminal.
std::atomic<int> g_echo_fd{-1};

// Async-signal-safe.
void end_open_line() {
  int fd = g_open_line.exchange(-1);
  if (fd >= 0) {
    ssize_t ignored = write(fd, "\n", 1);
    (void)ignored;
  }
}

// The interrupt handler's restore: its message must start a line of its
// own, also over the echo of the key at the start of an empty line.
void end_line_for_interrupt() {
  int echo_fd = g_echo_fd.load();
  if (g_open_line.load() >= 0) {
    end_open_line();
  } else if (echo_fd >= 0) {
    ssize_t ignored = write(echo_fd, "\r", 1);
    (void)ignored;
  }
}

// Refills the buffer; false at end of input or on a read error.
bool fill(PlainDevice* d) {
  for (;;) {
    ssize_t n = read(d->in_fd, d->buf, sizeof d->buf);
    if (n > 0) {
      d->len = static_cast<size_t>(n);
      d->pos = 0;
      return true;
    }
    if (n < 0 && errno == EINTR)
      continue;
    d->ended = true;
    return false;
  }
}

// The values arrive ahead of time, so input is read only as far as the
// line asked for and never thrown away.
int plain_read_line(Console* con, const char* prompt, char* line, size_t size, size_t* length) {
  PlainDevice* d = device(con);
  if (d->prompt_fd >= 0 && prompt != nullptr) {
    std::string text = std::string(prompt) + " ";
    write_all(d->prompt_fd, text.data(), text.size());
    g_open_line.store(d->prompt_fd);
  }
  size_t n = 0;
  bool any = false;  // something of this line has come, its end included
  for (;;) {
    if (d->pos == d->len && (d->ended || !fill(d)))
      break;
    unsigned char c = d->buf[d->pos++];
    bool was_cr = d->after_cr;
    d->after_cr = c == '\r';
    if (c == '\n' && was_cr && !any)
      continue;  // the rest of a CR LF
    any = true;
    if (c == '\r' || c == '\n')
      break;
    if (n + 1 < size)
      line[n] = static_cast<char>(c);
    ++n;
  }
  line[n < size ? n : size - 1] = '\0';
  *length = n;
  if (!any) {
    end_open_line();  // the prompt stands alone; what follows goes below it
    return -1;
  }
  // The operator's Enter has ended the prompt's line.
  if (d->prompt_fd >= 0)
    g_open_line.store(-1);
  return 1;
}

void plain_progress_line(Console* con, const char* text) {
  PlainDevice* d = device(con);
  if (d->progress_fd < 0)
    return;
  std::string line = std::string("\r") + text;
  write_all(d->progress_fd, line.data(), line.size());
  g_open_line.store(d->progress_fd);
}

// Also after close, when the device is gone: only the console's own
// descriptors are used.
void plain_print_line(Console* con, const char* text, bool error) {
  end_open_line();
  // One write, so that the line is not split among other output.
  std::string line = std::string(text) + "\n";
  write_all(error ? con->error_fd : con->line_fd, line.data(), line.size());
}

void plain_sleep(Console*, unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void plain_close(Console* con) {
  PlainDevice* d = device(con);
  if (d->prompt_fd >= 0 || d->progress_fd >= 0) {
    interrupt_set_restore(nullptr);
    g_echo_fd.store(-1);
    end_open_line();
  }
  delete d;
  con->device = nullptr;
}

const ConsoleBackend PLAIN_BACKEND = {
    nullptr,  // show: nothing is drawn
    nullptr,  // poll_input: values come as lines
    nullptr,  // discard_input: typed-ahead values are the input
    plain_sleep,
    nullptr,  // set_title
    nullptr,  // set_code_page
    nullptr,  // lock_window_size
    plain_print_line, plain_close, plain_read_line, plain_progress_line,
};

}  // namespace

int open_plain_console(Console* con, int in_fd, int out_fd) {
  console_init(con);
  PlainDevice* d = new PlainDevice();
  d->in_fd = in_fd;
  // Prompts go where the operator looks: the output when it is the
  // terminal, else standard error when that is.
  d->prompt_fd = -1;
  if (isatty(in_fd))
    d->prompt_fd = isatty(out_fd) ? out_fd : isatty(con->error_fd) ? con->error_fd : -1;
  d->progress_fd = isatty(out_fd) ? out_fd : -1;
  con->device = d;
  con->line_fd = out_fd;
  con->backend = &PLAIN_BACKEND;
  con->full_screen = false;
  g_echo_fd.store(d->prompt_fd);
  if (d->prompt_fd >= 0 || d->progress_fd >= 0)
    interrupt_set_restore(end_line_for_interrupt);
  return 1;
}
