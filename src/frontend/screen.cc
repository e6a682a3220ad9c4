#include "frontend/screen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frontend/messages.h"

namespace {

void write_at(Console* con, int col, int row, const char* text) {
  console_set_cursor(con, col, row);
  console_write(con, text, strlen(text));
}

// Writes `text` from `col` on, as far as the last column inside the frame.
void write_within_frame(Console* con, int col, int row, const char* text) {
  size_t room = col <= LAST_TEXT_COLUMN ? static_cast<size_t>(LAST_TEXT_COLUMN - col + 1) : 0;
  console_set_cursor(con, col, row);
  console_write(con, text, std::min(strlen(text), room));
}

void put_cell(Console* con, int col, int row, uint16_t attr) {
  console_set_attribute(con, attr);
  console_set_cursor(con, col, row);
  console_write(con, " ", 1);
}

}  // namespace

void draw_screen(Console* con) {
  console_set_cursor_info(con, 1, false);
  console_set_attribute(con, ATTR_BANNER);
  write_at(con, 35, 4, "Lumenforge - 3d vantor dagoma printing");
  draw_frame(con, FRAME_TOP_ROW);
  console_set_attribute(con, ATTR_TEXT);
  write_at(con, TEXT_COLUMN, 11, "3d object:        visor with holes for plexiglas or glasses");
  write_at(con, TEXT_COLUMN, 12, VERSION_TEXT);
  write_at(con, TEXT_COLUMN, 13, "Writing gcode:    ");
  write_at(con, TEXT_COLUMN, 14, "Progress:         |");
}

void draw_frame(Console* con, int top) {
  // Clockwise from the top-left corner.
  put_cell(con, 1, top, ATTR_FRAME_TOP_LEFT);
  for (int col = 2; col <= 117; ++col)
    put_cell(con, col, top, ATTR_FRAME_HORIZONTAL);
  put_cell(con, 118, top, ATTR_FRAME_TOP_RIGHT);
  for (int row = top + 1; row <= top + 11; ++row)
    put_cell(con, 118, row, ATTR_FRAME_RIGHT);
  for (int col = 118; col >= 1; --col)
    put_cell(con, col, top + 12, ATTR_FRAME_HORIZONTAL);
  for (int row = top + 11; row >= top + 1; --row)
    put_cell(con, 1, row, ATTR_FRAME_LEFT);
}

void progress_init(ProgressBar* bar) {
  bar->left_col = 22;
  bar->next_col = bar->left_col + 1;
  bar->right_col = bar->left_col + 100;
  bar->percent = 0.0;
}

void progress_step(Console* con, ProgressBar* bar, uint64_t count) {
  double threshold = static_cast<double>(EXPECTED_LINES / 100) * bar->percent;
  if (!(static_cast<double>(count) > threshold))
    return;
  console_set_cursor(con, bar->next_col, PROGRESS_ROW);
  console_write(con, "=", 1);
  ++bar->next_col;
  bar->percent += PERCENT_PER_MARK;
  char text[8] = {};
  snprintf(text, sizeof text, "  %d %%", static_cast<int>(bar->percent));
  write_at(con, PERCENT_COLUMN, PROGRESS_ROW, text);
  // Where no screen is drawn, the same figure as a line.
  if (!con->full_screen) {
    char line[64];
    snprintf(line, sizeof line, PROGRESS_LINE_FORMAT, static_cast<int>(bar->percent));
    console_progress_line(con, line);
  }
}

void progress_close(Console* con, ProgressBar* bar) {
  console_set_cursor(con, bar->next_col, PROGRESS_ROW);
  console_write(con, "|", 1);
  ++bar->next_col;
}

void echo_line(Console* con, const char* line, size_t length) {
  char cells[ECHO_CELLS];
  size_t shown = std::min(length > 0 ? length - 1 : 0, sizeof cells);
  memcpy(cells, line, shown);
  memset(cells + shown, ' ', sizeof cells - shown);
  console_set_cursor(con, ECHO_COLUMN, ECHO_ROW);
  console_write(con, cells, sizeof cells);
}

void draw_summary(Console* con, const SummaryText& text) {
  write_within_frame(con, TEXT_COLUMN, SUMMARY_ROW, text.time_line);
  write_within_frame(con, TEXT_COLUMN, HEIGHT_ROW, text.height_line);
  if (text.warning != nullptr) {
    int col = TEXT_COLUMN + static_cast<int>(strlen(text.height_line)) + 3;
    write_within_frame(con, col, HEIGHT_ROW, text.warning);
  }
}
