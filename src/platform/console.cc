#include "platform/console.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "platform/write_all.h"

namespace {

// A clock look is cheap but not free; per-line callers pay it once in this
// many calls, which at the generator's pace is far below SHOW_INTERVAL_MS.
constexpr int CALLS_PER_CLOCK_LOOK = 32;

int64_t monotonic_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Brings the next record into the empty queue: an owed release first,
// else whatever the device has. -1 when the input has ended.
int fill_queue(Console* con, bool wait) {
  if (con->release_owed) {
    con->release_owed = false;
    console_queue_input(con, InputRecord{INPUT_KEY_EVENT, false, 1, con->owed_key});
    return 0;
  }
  if (con->closed || !con->backend->poll_input)
    return -1;
  return con->backend->poll_input(con, wait);
}

}  // namespace

void console_init(Console* con) {
  con->attr = ATTR_DEFAULT;
  console_clear(con);
  con->cursor_visible = true;
  con->cursor_size = 25;
  con->full_screen = true;
  con->closed = false;
  con->line_fd = 1;
  con->error_fd = 2;
  con->need_columns = 0;
  con->need_rows = 0;
  con->show_countdown = CALLS_PER_CLOCK_LOOK;
  con->last_show_ns = 0;
  con->queue_head = 0;
  con->queue_count = 0;
  con->release_owed = false;
  con->owed_key = 0;
  con->backend = nullptr;
  con->device = nullptr;
}

void console_set_title(Console* con, const char* title) {
  if (con->backend->set_title)
    con->backend->set_title(con, title);
}

void console_set_code_page(Console* con, unsigned code_page) {
  if (con->backend->set_code_page)
    con->backend->set_code_page(con, code_page);
}

void console_lock_window_size(Console* con) {
  if (con->backend->lock_window_size)
    con->backend->lock_window_size(con);
}

void console_require_size(Console* con, int columns, int rows) {
  con->need_columns = std::clamp(columns, 0, CONSOLE_COLUMNS);
  con->need_rows = std::clamp(rows, 0, CONSOLE_ROWS);
  con->changed = true;
}

void console_clear(Console* con) {
  for (auto& row : con->cells) {
    for (ConsoleCell& cell : row) {
      cell.ch = ' ';
      cell.attr = con->attr;
    }
  }
  con->cursor_col = 0;
  con->cursor_row = 0;
  con->changed = true;
}

void console_set_cursor_info(Console* con, int size, bool visible) {
  con->cursor_size = size;
  con->cursor_visible = visible;
  con->changed = true;
}

void console_set_attribute(Console* con, uint16_t attr) { con->attr = attr; }

void console_set_cursor(Console* con, int col, int row) {
  con->cursor_col = std::clamp(col, 0, CONSOLE_COLUMNS - 1);
  con->cursor_row = std::clamp(row, 0, CONSOLE_ROWS - 1);
  con->changed = true;
}

void console_write(Console* con, const char* text, size_t length) {
  ConsoleCell* row = con->cells[con->cursor_row];
  size_t room = static_cast<size_t>(CONSOLE_COLUMNS - con->cursor_col);
  size_t n = length < room ? length : room;
  ConsoleCell* cell = row + con->cursor_col;
  for (size_t i = 0; i < n; ++i) {
    cell[i].ch = text[i];
    cell[i].attr = con->attr;
  }
  // The cursor stops on the last cell rather than leaving the buffer.
  con->cursor_col = std::clamp(con->cursor_col + static_cast<int>(n), 0, CONSOLE_COLUMNS - 1);
  con->changed = true;
}

void console_show(Console* con) {
  if (con->closed)
    return;
  if (con->backend->show)
    con->backend->show(con);
  con->changed = false;
  con->last_show_ns = monotonic_ns();
  con->show_countdown = CALLS_PER_CLOCK_LOOK;
}

void console_show_soon(Console* con) {
  if (--con->show_countdown > 0)
    return;
  con->show_countdown = CALLS_PER_CLOCK_LOOK;
  if (monotonic_ns() - con->last_show_ns >= SHOW_INTERVAL_MS * 1000000LL)
    console_show(con);
}

void console_flush_input(Console* con) {
  con->queue_head = 0;
  con->queue_count = 0;
  con->release_owed = false;
  if (!con->closed && con->backend->discard_input)
    con->backend->discard_input(con);
}

int console_input_count(Console* con) {
  if (con->queue_count == 0)
    fill_queue(con, false);
  return con->queue_count;
}

int console_read_input(Console* con, InputRecord* records, int max) {
  if (con->queue_count == 0 && !con->release_owed) {
    // The operator is about to be waited for: let them see the screen.
    console_show(con);
  }
  while (con->queue_count == 0) {
    if (fill_queue(con, true) < 0)
      return -1;
  }
  int n = 0;
  while (n < max && con->queue_count > 0) {
    records[n++] = con->queue[con->queue_head];
    con->queue_head = (con->queue_head + 1) % INPUT_QUEUE_SIZE;
    --con->queue_count;
  }
  return n;
}

int console_wait_key(Console* con) {
  for (;;) {
    InputRecord record = {};
    if (console_read_input(con, &record, 1) < 0)
      return -1;
    if (record.event_type == INPUT_KEY_EVENT && record.key_down)
      return 1;
  }
}

int console_read_line(Console* con, const char* prompt, char* line, size_t size, size_t* length) {
  *length = 0;
  if (size > 0)
    line[0] = '\0';
  if (con->closed || !con->backend->read_line || size == 0)
    return -1;
  return con->backend->read_line(con, prompt, line, size, length);
}

void console_progress_line(Console* con, const char* text) {
  if (!con->closed && con->backend->progress_line)
    con->backend->progress_line(con, text);
}

void console_sleep(Console* con, unsigned ms) {
  console_show(con);
  if (!con->closed && con->backend->sleep)
    con->backend->sleep(con, ms);
}

namespace {

void print(Console* con, const char* text, bool error) {
  if (con->backend->print_line) {
    con->backend->print_line(con, text, error);
    return;
  }
  // One write, so that the line is not split among other output.
  std::string line = text;
  line += '\n';
  write_all(error ? con->error_fd : con->line_fd, line.data(), line.size());
}

}  // namespace

void console_print_line(Console* con, const char* text) { print(con, text, false); }

void console_print_error(Console* con, const char* text) { print(con, text, true); }

void console_close(Console* con) {
  if (con->closed)
    return;
  console_show(con);
  con->closed = true;
  if (con->backend->close)
    con->backend->close(con);
}

bool console_queue_input(Console* con, const InputRecord& record) {
  if (con->queue_count == INPUT_QUEUE_SIZE)
    return false;
  int tail = (con->queue_head + con->queue_count) % INPUT_QUEUE_SIZE;
  con->queue[tail] = record;
  ++con->queue_count;
  return true;
}

void console_queue_key(Console* con, uint16_t vk) {
  if (!console_queue_input(con, InputRecord{INPUT_KEY_EVENT, true, 1, vk}))
    return;
  con->release_owed = true;
  con->owed_key = vk;
}
