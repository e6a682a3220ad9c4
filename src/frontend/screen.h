#ifndef VISOR_FRONTEND_SCREEN_H_
#define VISOR_FRONTEND_SCREEN_H_

// The layout of the full screen, every row and column of it, and what is
// painted there: the dialogue screen (banner, frame, fixed texts, prompts),
// the places of the entry fields and their error line, the progress bar
// with its percentage, the echo of the G-code line just written, and the
// result. Every text goes to a fixed column and row.

#include <cstddef>
#include <cstdint>

#include "frontend/entry_field.h"
#include "frontend/job_summary.h"
#include "platform/console.h"

// The window that shows the whole layout.
inline constexpr int SCREEN_COLUMNS = 119;
inline constexpr int SCREEN_ROWS = 22;

inline constexpr int BANNER_COLUMN = 35;
inline constexpr int BANNER_ROW = 4;
inline constexpr int FRAME_TOP_ROW = 9;
inline constexpr int FRAME_LEFT_COLUMN = 1;
inline constexpr int FRAME_RIGHT_COLUMN = 118;
inline constexpr int FRAME_HEIGHT = 12;  // the bottom edge is this many rows below the top
inline constexpr int TEXT_COLUMN = 4;    // where every fixed text begins
inline constexpr int OBJECT_ROW = 11;
inline constexpr int VERSION_ROW = 12;
inline constexpr int ECHO_ROW = 13;
inline constexpr int ECHO_COLUMN = 22;
inline constexpr int ECHO_CELLS = 63;
inline constexpr int PROGRESS_ROW = 14;
inline constexpr int BAR_LEFT_COLUMN = 22;  // the bar sign that ends the "Progress:" label
inline constexpr int PERCENT_COLUMN = 106;
inline constexpr int ERROR_ROW = 14;
inline constexpr int ERROR_BLANKS = 30;  // what clears the error line
inline constexpr int CREATED_ROW = 15;
// Each field's prompt row and first cell, by FieldKind: the prompt from
// TEXT_COLUMN, two blanks, then the field's FIELD_CELLS cells.
inline constexpr int PROMPT_ROWS[] = {16, 17, 18};
inline constexpr int FIELD_COLUMNS[] = {67, 81, 62};
inline constexpr int LAST_TEXT_COLUMN = 117;  // the last cell before the frame's right edge
// The finished screen's summary block. Between the banner and the frame:
// the time and filament, the pauses, the height and its warning, the
// footprint and its warning. Below the values, inside the frame: the file
// with the key that closes the screen, then the check of the copy.
inline constexpr int SUMMARY_ROWS[] = {5, 6, 7, 8};
inline constexpr int FILE_ROW = 19;
inline constexpr int CHECK_ROW = 20;  // the command that checks the copy

// The line count against which progress is measured.
inline constexpr uint64_t EXPECTED_LINES = 3758389;
inline constexpr double PERCENT_PER_MARK = 1.26;

struct ProgressBar {
  int32_t left_col;   // the bar sign that ends the "Progress:" label
  int32_t next_col;   // where the next mark goes
  int32_t right_col;  // kept with the others; the drawing never needs it
  double percent;     // grows by PERCENT_PER_MARK per mark, never capped
};

// Paints the banner, the frame and the fixed texts.
void draw_screen(Console* con);

// Paints the frame from row `top` to top + 12, columns 1 to 118: one closed
// rectangle.
void draw_frame(Console* con, int top);

// The prompt of a field, on its row.
void draw_prompt(Console* con, FieldKind kind);

// The field's error line, or the blanks that clear it.
void draw_field_error(Console* con, bool shown);

// A text on the result row ("Created file:", "Saving file:").
void draw_result(Console* con, const char* text);

void progress_init(ProgressBar* bar);

// Moves the bar on for the count of lines so far, this one included: true
// when a mark is due, and then `next_col` and `percent` have moved on by
// one mark. Draws nothing.
bool progress_advance(ProgressBar* bar, uint64_t count);

// Called once per received line with the count of lines so far, this one
// included: progress_advance, and the mark and the new percentage drawn
// when one is due.
void progress_step(Console* con, ProgressBar* bar, uint64_t count);

// Draws the closing bar sign after the last mark.
void progress_close(Console* con, ProgressBar* bar);

// Shows the line just written on the echo row: its `length` bytes, the
// last (the line's "\n") as a blank, padded with blanks to 63 cells, so a
// shorter line also blanks what a longer one left. A longer line shows its
// first 63 bytes.
void echo_line(Console* con, const char* line, size_t length);

// Shows the job's figures on their rows, each warning after its figure;
// what would pass the window's edge is cut off.
void draw_summary(Console* con, const SummaryText& text);

// The file's line: FILE_LABEL, `path` and the size in MB. With `width`
// above 0, a path too long for a line of that many characters is cut in
// the middle, where "..." stands for what is left out, so that its
// beginning and its file name show. Returns false when it was cut.
bool format_file_line(char* out, size_t size, const char* path, uint64_t bytes, size_t width);

// Shows the file's line, cut to leave room for CLOSE_KEY_TEXT at the end
// of the row; false when the path was cut.
bool draw_file(Console* con, const char* path, uint64_t bytes);

// The command that checks the copy on the printer's card, on its row.
void draw_check(Console* con, const char* text);

#endif  // VISOR_FRONTEND_SCREEN_H_
