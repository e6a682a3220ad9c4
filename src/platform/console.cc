#include "platform/console.h"

#include <algorithm>
#include <chrono>

namespace {

// A clock look is cheap but not free; per-line callers pay it once in this
// many calls, which at the generator's pace is far below SHOW_INTERVAL_MS.
constexpr int CALLS_PER_CLOCK_LOOK = 32;

int64_t monotonic_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void console_init(Console* con) {
  con->attr = ATTR_DEFAULT;
  console_clear(con);
  con->cursor_visible = true;
  con->cursor_size = 25;
  con->closed = false;
  con->reports_releases = false;
  con->screen_stays = false;
  con->need_columns = 0;
  con->need_rows = 0;
  con->show_countdown = CALLS_PER_CLOCK_LOOK;
  con->last_show_ns = 0;
  con->backend = nullptr;
  con->device = nullptr;
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
  if (!con->closed)
    con->backend->discard_input(con);
}

int console_read_input(Console* con, KeyEvent* events, int max) {
  if (con->closed || max < 1)
    return -1;
  // The operator is about to be waited for: let them see the screen.
  if (con->changed)
    console_show(con);
  return con->backend->read_key(con, &events[0]) < 0 ? -1 : 1;
}

int console_wait_key(Console* con) {
  for (;;) {
    KeyEvent event = {};
    if (console_read_input(con, &event, 1) < 0)
      return -1;
    if (event.key_down)
      return 1;
  }
}

void console_sleep(Console* con, unsigned ms) {
  console_show(con);
  if (!con->closed)
    con->backend->sleep(con, ms);
}

void console_close(Console* con) {
  if (con->closed)
    return;
  console_show(con);
  con->closed = true;
  con->backend->close(con);
}
