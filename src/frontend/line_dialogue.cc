#include "frontend/line_dialogue.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "frontend/dialogue.h"
#include "frontend/messages.h"
#include "platform/interrupt.h"
#include "platform/standard_streams.h"
#include "platform/write_all.h"

namespace {

// A line is read into a buffer this long; anything longer is no value.
constexpr size_t VALUE_LINE_LIMIT = 256;

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
bool fill(LineDialogue* d) {
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

// Shows `prompt` where someone answers it, then reads one line: its first
// size - 1 bytes go to `line`, NUL terminated, and *length says how long
// the whole line was. 1, or -1 when the input ended first.
int read_line(LineDialogue* d, const char* prompt, char* line, size_t size, size_t* length) {
  if (d->prompt_fd >= 0) {
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
  line[std::min(n, size - 1)] = '\0';
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

}  // namespace

int line_dialogue_read_value(LineDialogue* d, FieldKind kind, char* text) {
  memset(text, 0, FIELD_CELLS);
  char line[VALUE_LINE_LIMIT + 1];
  size_t length = 0;
  if (read_line(d, PROMPT_TEXTS[kind], line, sizeof line, &length) < 0)
    return FIELD_INPUT_ENDED;
  // A line cut to the buffer is longer than any value.
  if (length <= VALUE_LINE_LIMIT && value_text_is_valid({line, length}, kind, text))
    return FIELD_ACCEPTED;
  std::string message = invalid_value_message({line, std::min(length, VALUE_LINE_LIMIT)}, kind);
  line_dialogue_print_error(d, message.c_str());
  return d->retry ? FIELD_REJECTED : FIELD_REFUSED;
}

namespace {

// One write, so that the lines are not split among other output. 0, or the
// errno of a failed write; a reader that went away (EPIPE) chose to stop.
int print(int fd, const std::string& lines) {
  end_open_line();
  return write_all(fd, lines.data(), lines.size()) == lines.size() || errno == EPIPE ? 0 : errno;
}

}  // namespace

void line_dialogue_open(LineDialogue* d, int in_fd, int out_fd, int error_fd) {
  d->in_fd = in_fd;
  d->out_fd = out_fd;
  d->error_fd = error_fd;
  // Prompts go where the operator looks: the output when it is the
  // terminal, else standard error when that is.
  d->prompt_fd = -1;
  d->retry = isatty(in_fd);
  if (d->retry)
    d->prompt_fd = isatty(out_fd) ? out_fd : isatty(error_fd) ? error_fd : -1;
  d->progress_fd = isatty(out_fd) ? out_fd : -1;
  g_echo_fd.store(d->prompt_fd);
  if (d->prompt_fd >= 0 || d->progress_fd >= 0)
    interrupt_set_restore(end_line_for_interrupt);
}

void line_dialogue_close(LineDialogue* d) {
  if (d->prompt_fd >= 0 || d->progress_fd >= 0) {
    interrupt_set_restore(nullptr);
    g_echo_fd.store(-1);
    end_open_line();
  }
}

void line_dialogue_progress(LineDialogue* d, int percent) {
  if (d->progress_fd < 0)
    return;
  char line[64] = "\r";
  int n = snprintf(line + 1, sizeof line - 1, PROGRESS_LINE_FORMAT, percent);
  write_all(d->progress_fd, line, 1 + static_cast<size_t>(std::max(n, 0)));
  g_open_line.store(d->progress_fd);
}

namespace {

// `line` broken at blanks into rows of at most `width` characters, each
// ended; the rows after the first indented to where the value goes on. A
// word longer than a row stays whole.
std::string wrapped(std::string_view line, size_t width) {
  std::string rows;
  size_t indent = 0;
  while (indent + line.size() > width) {
    size_t cut = width > indent ? line.rfind(' ', width - indent) : std::string_view::npos;
    if (cut == std::string_view::npos || cut == 0)
      break;
    rows.append(indent, ' ').append(line.substr(0, cut)).append("\n");
    line.remove_prefix(line.find_first_not_of(' ', cut) == std::string_view::npos
                           ? line.size()
                           : line.find_first_not_of(' ', cut));
    indent = VALUE_COLUMN;
  }
  return rows.append(indent, ' ').append(line).append("\n");
}

}  // namespace

void line_dialogue_print_result(LineDialogue* d, const std::string& text) {
  int columns = terminal_columns(d->out_fd);
  std::string rows;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    rows += columns > 0 ? wrapped(std::string_view(text).substr(start, end - start),
                                  static_cast<size_t>(columns))
                        : text.substr(start, end - start + 1);
  if (int error = print(d->out_fd, rows))
    d->write_error = error;
}

void line_dialogue_print(LineDialogue* d, const char* text) {
  if (int error = print(d->out_fd, std::string(text) + "\n"))
    d->write_error = error;
}

void line_dialogue_print_error(LineDialogue* d, const char* text) {
  print(d->error_fd, std::string(text) + "\n");
}

// The dialogue as lines, and without one when the values were given: the
// progress as a line rewritten in place, the result and the messages as
// lines.
namespace {

int ask(Dialogue* d, FieldKind kind, char* text) {
  return line_dialogue_read_value(&d->lines, kind, text);
}

void line(Dialogue* d, const char*, size_t) {
  if (progress_advance(&d->bar, d->line_count))
    line_dialogue_progress(&d->lines, static_cast<int>(d->bar.percent));
}

void close(Dialogue* d) { line_dialogue_close(&d->lines); }

void finish(Dialogue* d, const JobResult& result) {
  close(d);
  line_dialogue_print_result(&d->lines, job_result_text(result));
}

}  // namespace

const DialogueMode LINE_MODE = {nullptr, ask, line, nullptr, nullptr, finish, close};
const DialogueMode GIVEN_MODE = {nullptr, nullptr, line, nullptr, nullptr, finish, close};
