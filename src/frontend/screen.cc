#include "frontend/screen.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "frontend/messages.h"

namespace {

void write_text(Console* con, int col, int row, const char* text) {
  console_write(con, col, row, text, strlen(text));
}

// Writes `text` from `col` on, as far as `last_col`.
void write_up_to(Console* con, int col, int row, const char* text, int last_col) {
  size_t room = col <= last_col ? static_cast<size_t>(last_col - col + 1) : 0;
  console_write(con, col, row, text, std::min(strlen(text), room));
}

// A figure's row: the figure, then its warning three blanks after it.
void draw_figure(Console* con, int row, const char* figure, const char* warning) {
  const int last_col = SCREEN_COLUMNS - 1;  // above the frame, the whole width
  write_up_to(con, TEXT_COLUMN, row, figure, last_col);
  if (warning != nullptr)
    write_up_to(con, TEXT_COLUMN + static_cast<int>(strlen(figure)) + 3, row, warning, last_col);
}

}  // namespace

void draw_screen(Console* con) {
  const char banner[] = "Lumenforge - 3d vantor dagoma printing";
  console_write(con, BANNER_COLUMN, BANNER_ROW, banner, sizeof banner - 1, STYLE_BANNER);
  draw_frame(con, FRAME_TOP_ROW);
  write_text(con, TEXT_COLUMN, OBJECT_ROW,
             "3d object:        visor with holes for plexiglas or glasses");
  write_text(con, TEXT_COLUMN, VERSION_ROW, VERSION_TEXT);
  write_text(con, TEXT_COLUMN, ECHO_ROW, "Writing gcode:    ");
  write_text(con, TEXT_COLUMN, PROGRESS_ROW, "Progress:         |");
}

void draw_frame(Console* con, int top) {
  console_frame(con, FRAME_LEFT_COLUMN, top, FRAME_RIGHT_COLUMN, top + FRAME_HEIGHT);
}

void draw_prompt(Console* con, FieldKind kind) {
  write_text(con, TEXT_COLUMN, PROMPT_ROWS[kind], PROMPT_TEXTS[kind]);
}

void draw_field_error(Console* con, bool shown) {
  static const char BLANKS[ERROR_BLANKS + 1] = "                              ";
  write_text(con, TEXT_COLUMN, ERROR_ROW, shown ? FIELD_ERROR_TEXT : BLANKS);
}

void draw_result(Console* con, const char* text) {
  write_text(con, TEXT_COLUMN, CREATED_ROW, text);
}

void progress_init(ProgressBar* bar) {
  bar->left_col = BAR_LEFT_COLUMN;
  bar->next_col = bar->left_col + 1;
  bar->right_col = bar->left_col + 100;
  bar->percent = 0.0;
}

bool progress_advance(ProgressBar* bar, uint64_t count) {
  double threshold = static_cast<double>(EXPECTED_LINES / 100) * bar->percent;
  if (!(static_cast<double>(count) > threshold))
    return false;
  ++bar->next_col;
  bar->percent += PERCENT_PER_MARK;
  return true;
}

void progress_step(Console* con, ProgressBar* bar, uint64_t count) {
  int col = bar->next_col;
  if (!progress_advance(bar, count))
    return;
  console_write(con, col, PROGRESS_ROW, "=", 1);
  char text[8] = {};
  snprintf(text, sizeof text, "  %d %%", static_cast<int>(bar->percent));
  write_text(con, PERCENT_COLUMN, PROGRESS_ROW, text);
}

void progress_close(Console* con, ProgressBar* bar) {
  console_write(con, bar->next_col, PROGRESS_ROW, "|", 1);
  ++bar->next_col;
}

void echo_line(Console* con, const char* line, size_t length) {
  char cells[ECHO_CELLS];
  size_t shown = std::min(length > 0 ? length - 1 : 0, sizeof cells);
  memcpy(cells, line, shown);
  memset(cells + shown, ' ', sizeof cells - shown);
  console_write(con, ECHO_COLUMN, ECHO_ROW, cells, sizeof cells);
}

void draw_summary(Console* con, const SummaryText& text) {
  draw_figure(con, SUMMARY_ROWS[0], text.time_line, nullptr);
  draw_figure(con, SUMMARY_ROWS[1], text.pauses_line, nullptr);
  draw_figure(con, SUMMARY_ROWS[2], text.height_line, text.warning);
  draw_figure(con, SUMMARY_ROWS[3], text.footprint_line, text.bed_warning);
}

bool format_file_line(char* out, size_t size, const char* path, uint64_t bytes, size_t width) {
  char tail[32];
  // Tenths of a megabyte, rounded half up, in integers.
  uint64_t tenths = (bytes + 50000) / 100000;
  int tail_length =
      snprintf(tail, sizeof tail, " (%" PRIu64 ".%" PRIu64 " MB)", tenths / 10, tenths % 10);
  size_t path_length = strlen(path);
  size_t fixed = strlen(FILE_LABEL) + static_cast<size_t>(tail_length);
  size_t room = width > fixed ? width - fixed : 0;
  if (width == 0 || path_length <= room) {
    snprintf(out, size, "%s%s%s", FILE_LABEL, path, tail);
    return true;
  }
  // A third of what fits from the beginning, the rest from the end: the
  // end holds the file's name.
  constexpr char GAP[] = "...";
  size_t keep = room > sizeof GAP - 1 ? room - (sizeof GAP - 1) : 0;
  size_t head = keep / 3;
  size_t end = keep - head;
  snprintf(out, size, "%s%.*s%s%s%s", FILE_LABEL, static_cast<int>(head), path, GAP,
           path + path_length - end, tail);
  return false;
}

bool draw_file(Console* con, const char* path, uint64_t bytes) {
  const int key_length = static_cast<int>(strlen(CLOSE_KEY_TEXT));
  // As far from the frame's right edge as the texts are from its left.
  const int key_col = FRAME_RIGHT_COLUMN - (TEXT_COLUMN - FRAME_LEFT_COLUMN - 1) - key_length;
  char line[SUMMARY_LINE_SIZE];
  bool whole = format_file_line(line, sizeof line, path, bytes,
                                static_cast<size_t>(key_col - 3 - TEXT_COLUMN));
  write_up_to(con, TEXT_COLUMN, FILE_ROW, line, LAST_TEXT_COLUMN);
  console_write(con, key_col, FILE_ROW, CLOSE_KEY_TEXT, static_cast<size_t>(key_length));
  return whole;
}

// Too long for its row (a long command), it ends at a blank: a command is
// shown whole or not at all.
void draw_check(Console* con, const char* text) {
  std::string_view shown = text;
  size_t room = LAST_TEXT_COLUMN - TEXT_COLUMN + 1;
  if (shown.size() > room && shown.rfind(' ', room) != std::string_view::npos)
    shown = shown.substr(0, shown.rfind(' ', room));
  console_write(con, TEXT_COLUMN, CHECK_ROW, shown.data(), std::min(shown.size(), room));
}
