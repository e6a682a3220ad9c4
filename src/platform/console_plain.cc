// The console on a plain stream (a pipe, a file, a script): keys arrive as
// characters, nothing is drawn, messages are lines on standard output.

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/console.h"
#include "platform/console_keys.h"

namespace {

struct PlainDevice {
  int in_fd;
  unsigned char buf[4096];
  size_t len;
  size_t pos;
  bool after_cr;  // a line feed right after a carriage return is the same Enter
  bool ended;
};

PlainDevice* device(Console* con) { return static_cast<PlainDevice*>(con->device); }

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

// The values arrive ahead of time, so input is taken one character at a
// time and never thrown away: a flush drops only the queue, which holds at
// most the release of the last key.
int plain_poll_input(Console* con, bool wait) {
  PlainDevice* d = device(con);
  while (con->queue_count == 0) {
    if (d->pos == d->len) {
      if (d->ended || !wait || !fill(d))
        return d->ended ? -1 : 0;
    }
    unsigned char c = d->buf[d->pos++];
    bool was_cr = d->after_cr;
    d->after_cr = c == '\r';
    if (c == '\n' && was_cr)
      continue;
    console_queue_key(con, virtual_key_for_char(c));
  }
  return 0;
}

void plain_sleep(Console*, unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void plain_close(Console* con) {
  delete device(con);
  con->device = nullptr;
}

const ConsoleBackend PLAIN_BACKEND = {
    nullptr,  // show: nothing is drawn
    plain_poll_input,
    nullptr,  // discard_input: typed-ahead values are the input
    plain_sleep,
    nullptr,  // set_title
    nullptr,  // set_code_page
    nullptr,  // lock_window_size
    nullptr,  // print_line: to line_fd
    plain_close,
};

}  // namespace

int open_plain_console(Console* con, int in_fd, int out_fd) {
  console_init(con);
  PlainDevice* d = new PlainDevice();
  d->in_fd = in_fd;
  con->device = d;
  con->line_fd = out_fd;
  con->backend = &PLAIN_BACKEND;
  con->full_screen = false;
  return 1;
}
