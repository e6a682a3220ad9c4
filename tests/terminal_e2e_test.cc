// visor-gcode on a pseudo-terminal, read through a terminal emulator: what a
// person at a terminal sees and gets.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "job_file.h"
#include "program_under_test.h"
#include "pty_session.h"
#include "temp_dir.h"

namespace {

// Time-outs only guard against a hang; nothing here measures speed.
constexpr int kScreenMs = 30000;
constexpr int kJobMs = 600000;

// The screen the layout needs, and one a terminal commonly opens with.
constexpr int kCols = 120, kRows = 30;
constexpr int kSmallCols = 80, kSmallRows = 24;

// Columns of the progress bar: 80 marks and the closing sign.
constexpr int kFirstMarkCol = 23, kMarks = 80, kPercentCol = 106;

void start_program(PtySession* s, const TempDir& dir, int cols, int rows) {
  ASSERT_FALSE(dir.path.empty());
  std::string error;
  ASSERT_TRUE(pty_start(s, {VISOR_GCODE}, cols, rows, dir.path, &error)) << error;
}

bool shows_prompt(const PtySession& s, const Field& f) {
  std::string prompt = f.prompt;
  return pty_text_at(s, TEXT_COL, f.row, static_cast<int>(prompt.size())) == prompt;
}

bool row_is_blank(const PtySession& s, int row) { return pty_row_text(s, row).empty(); }

// Inside the frame: columns 2 to 117.
bool framed_row_is_blank(const PtySession& s, int row) {
  return pty_text_at(s, 2, row, 116) == std::string(116, ' ');
}

// Types a value into a field once its prompt stands and the program waits
// for keys, checking the echo of every character, then presses Enter.
void enter_value(PtySession* s, const Field& f, const std::string& text) {
  ASSERT_TRUE(pty_wait_until(
      s, [&] { return shows_prompt(*s, f); }, kScreenMs))
      << "no prompt on row " << f.row << "\n"
      << pty_screen_dump(*s);
  // Input is flushed before each field: keys go in once the program is idle.
  pty_wait_quiet(s, 100, kScreenMs);
  for (size_t i = 0; i < text.size(); ++i) {
    pty_type(s, text.substr(i, 1));
    int col = f.first_col + static_cast<int>(i);
    ASSERT_TRUE(pty_wait_until(
        s, [&] { return pty_cell(*s, col, f.row) == char32_t(text[i]); }, kScreenMs))
        << "no echo of '" << text[i] << "' at column " << col << "\n"
        << pty_screen_dump(*s);
  }
  pty_type(s, KEY_ENTER);
}

// The dialogue stands at its beginning: the first prompt with an empty field
// and nothing typed anywhere else.
bool dialogue_at_start(const PtySession& s) {
  return shows_prompt(s, Z_START_FIELD) &&
         pty_text_at(s, Z_START_FIELD.first_col, Z_START_FIELD.row, 10) == std::string(10, ' ') &&
         framed_row_is_blank(s, HEAT_TEMP_FIELD.row) && framed_row_is_blank(s, SPEED_FIELD.row);
}

// A line naming the size the layout needs. The echo row is left out: a
// G-code line can hold any numbers.
bool shows_size_notice(const PtySession& s) {
  for (int row = 0; row < s.rows; ++row) {
    if (row == 13)
      continue;
    std::string text = pty_row_text(s, row);
    if (text.find("119") != std::string::npos && text.find("22") != std::string::npos)
      return true;
  }
  return false;
}

// The whole layout is on the screen, the far corners of the frame included,
// and the size notice is gone.
bool shows_whole_layout(const PtySession& s) {
  return pty_text_at(s, BANNER_COL, BANNER_ROW, 38) == BANNER && pty_cell(s, 1, 9) != U' ' &&
         pty_cell(s, 118, 9) != U' ' && pty_cell(s, 1, 21) != U' ' &&
         pty_cell(s, 118, 21) != U' ' && !shows_size_notice(s);
}

void expect_fixed_texts(const PtySession& s) {
  EXPECT_EQ(pty_text_at(s, BANNER_COL, BANNER_ROW, 38), BANNER);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 11, 59), OBJECT_TEXT);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 12, 36), VERSION_TEXT);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 13, 18), WRITING_TEXT);
}

// The frame's cells, rows 9 to 21 and columns 1 to 118, carry visible lines.
void expect_frame(const PtySession& s) {
  for (int col = 1; col <= 118; ++col) {
    EXPECT_NE(pty_cell(s, col, 9), U' ') << "top edge, column " << col;
    EXPECT_NE(pty_cell(s, col, 21), U' ') << "bottom edge, column " << col;
  }
  for (int row = 10; row <= 20; ++row) {
    EXPECT_NE(pty_cell(s, 1, row), U' ') << "left edge, row " << row;
    EXPECT_NE(pty_cell(s, 118, row), U' ') << "right edge, row " << row;
  }
}

void expect_terminal_restored(const PtySession& s) {
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_FALSE(s.alt_screen);
  EXPECT_TRUE(pty_modes_restored(s));
}

TEST(Terminal, CompleteJobShowsProgressAndWritesTheFile) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kCols, kRows);
  enter_value(&s, Z_START_FIELD, "0.4");
  enter_value(&s, HEAT_TEMP_FIELD, "210");
  enter_value(&s, SPEED_FIELD, "300");

  // The job runs. Shrinking the window during it brings the size notice;
  // enlarging it again brings back the whole screen, marks included.
  ASSERT_TRUE(pty_wait_for_text_at(&s, kFirstMarkCol, 14, "=", kJobMs)) << pty_screen_dump(s);
  pty_resize(&s, kSmallCols, kSmallRows);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_size_notice(s); }, kScreenMs))
      << pty_screen_dump(s);
  pty_resize(&s, kCols, kRows);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_whole_layout(s); }, kScreenMs))
      << pty_screen_dump(s);

  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, 15, CREATED_TEXT, kJobMs)) << pty_screen_dump(s);
  // The screen is complete once the program waits for the closing key.
  pty_wait_quiet(&s, 300, kScreenMs);
  SCOPED_TRACE(pty_screen_dump(s));

  expect_fixed_texts(s);
  expect_frame(s);
  // The last line written, its line end blanked, over the 63 echo cells.
  EXPECT_EQ(pty_text_at(s, 22, 13, 63), "M109 S0" + std::string(56, ' '));
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT);
  EXPECT_EQ(pty_text_at(s, kFirstMarkCol, 14, kMarks + 1), std::string(kMarks, '=') + "|");
  EXPECT_EQ(pty_text_at(s, kFirstMarkCol + kMarks + 1, 14, 3), "   ");
  EXPECT_EQ(pty_text_at(s, kPercentCol, 14, 7), "  100 %");
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 15, 50), CREATED_TEXT);
  for (const Field* f : {&Z_START_FIELD, &HEAT_TEMP_FIELD, &SPEED_FIELD})
    EXPECT_TRUE(shows_prompt(s, *f)) << "row " << f->row;
  EXPECT_EQ(pty_text_at(s, Z_START_FIELD.first_col, 16, 10), "0.4       ");
  EXPECT_EQ(pty_text_at(s, HEAT_TEMP_FIELD.first_col, 17, 10), "210       ");
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 10), "300       ");
  // Nothing outside the layout.
  for (int row : {0, 1, 2, 3, 5, 6, 7, 8, 22, 23, 24, 25, 26, 27, 28, 29})
    EXPECT_TRUE(row_is_blank(s, row)) << "row " << row;
  EXPECT_FALSE(s.cursor_visible);
  EXPECT_TRUE(s.alt_screen);
  ASSERT_FALSE(s.exited) << "the program must wait for a key";

  pty_type(&s, "x");
  ASSERT_TRUE(pty_wait_exit(&s, kScreenMs));
  ASSERT_TRUE(WIFEXITED(s.wait_status));
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 0);
  expect_terminal_restored(s);
  // The result stays on the terminal after the full-screen view is gone.
  EXPECT_TRUE(pty_screen_contains(s, CREATED_TEXT)) << pty_screen_dump(s);

  expect_complete_job(dir.file("dagoma0.g"), "0.4", "210", "300");
}

TEST(Terminal, InvalidValueShowsErrorThenRestartsFromTheFirstField) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kCols, kRows);
  enter_value(&s, Z_START_FIELD, "0.4");
  enter_value(&s, HEAT_TEMP_FIELD, "210");
  enter_value(&s, SPEED_FIELD, "700");
  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, 14, ERROR_TEXT, kScreenMs)) << pty_screen_dump(s);
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 3), "700");

  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return dialogue_at_start(s); }, kScreenMs))
      << pty_screen_dump(s);
  expect_fixed_texts(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT);
  EXPECT_FALSE(pty_screen_contains(s, "typed number is invalid"));
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  // The first field takes keys again.
  enter_value(&s, Z_START_FIELD, "5");
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_prompt(s, HEAT_TEMP_FIELD); }, kScreenMs))
      << pty_screen_dump(s);
}

TEST(Terminal, BackspaceAndDeleteRestartTheDialogue) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kCols, kRows);

  // Backspace in the second field abandons the whole dialogue at once.
  enter_value(&s, Z_START_FIELD, "0.4");
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_prompt(s, HEAT_TEMP_FIELD); }, kScreenMs));
  pty_wait_quiet(&s, 100, kScreenMs);
  pty_type(&s, "2");
  ASSERT_TRUE(pty_wait_for_text_at(&s, HEAT_TEMP_FIELD.first_col, 17, "2", kScreenMs));
  pty_type(&s, KEY_BACKSPACE);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return dialogue_at_start(s); }, kScreenMs))
      << pty_screen_dump(s);
  expect_fixed_texts(s);
  // No error line for an abort key.
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT) << pty_screen_dump(s);

  // Delete in the third field does the same.
  enter_value(&s, Z_START_FIELD, "0.4");
  enter_value(&s, HEAT_TEMP_FIELD, "210");
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_prompt(s, SPEED_FIELD); }, kScreenMs));
  pty_wait_quiet(&s, 100, kScreenMs);
  pty_type(&s, "3");
  ASSERT_TRUE(pty_wait_for_text_at(&s, SPEED_FIELD.first_col, 18, "3", kScreenMs));
  pty_type(&s, KEY_DELETE);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return dialogue_at_start(s); }, kScreenMs))
      << pty_screen_dump(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT) << pty_screen_dump(s);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  EXPECT_FALSE(s.exited);
}

TEST(Terminal, SmallTerminalTellsTheSizeNeededAndRedrawsWhenEnlarged) {
  TempDir dir;
  PtySession s;
  start_program(&s, dir, kSmallCols, kSmallRows);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_size_notice(s); }, kScreenMs))
      << pty_screen_dump(s);
  // Still usable: the first field takes a key while the window is small.
  pty_wait_quiet(&s, 100, kScreenMs);
  pty_type(&s, "5");
  pty_wait_quiet(&s, 100, kScreenMs);

  pty_resize(&s, kCols, kRows);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_whole_layout(s); }, kScreenMs))
      << pty_screen_dump(s);
  SCOPED_TRACE(pty_screen_dump(s));
  EXPECT_EQ(pty_cell(s, Z_START_FIELD.first_col, 16), U'5')
      << "the key typed while small is lost, or the dialogue restarted";
  expect_fixed_texts(s);
  expect_frame(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, 14, 19), PROGRESS_TEXT);
  EXPECT_TRUE(shows_prompt(s, Z_START_FIELD));
  EXPECT_FALSE(s.exited);
}

TEST(Terminal, CtrlCEndsTheProgramAndRestoresTheTerminal) {
  {
    SCOPED_TRACE("during the dialogue");
    TempDir dir;
    PtySession s;
    start_program(&s, dir, kCols, kRows);
    ASSERT_TRUE(pty_wait_until(
        &s, [&] { return shows_prompt(s, Z_START_FIELD); }, kScreenMs));
    pty_wait_quiet(&s, 100, kScreenMs);
    pty_type(&s, KEY_CTRL_C);
    ASSERT_TRUE(pty_wait_exit(&s, kScreenMs)) << pty_screen_dump(s);
    expect_terminal_restored(s);
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  }
  {
    SCOPED_TRACE("during the job");
    TempDir dir;
    PtySession s;
    start_program(&s, dir, kCols, kRows);
    enter_value(&s, Z_START_FIELD, "0.4");
    enter_value(&s, HEAT_TEMP_FIELD, "210");
    enter_value(&s, SPEED_FIELD, "300");
    ASSERT_TRUE(pty_wait_for_text_at(&s, kFirstMarkCol, 14, "=", kJobMs)) << pty_screen_dump(s);
    pty_type(&s, KEY_CTRL_C);
    ASSERT_TRUE(pty_wait_exit(&s, kScreenMs)) << pty_screen_dump(s);
    expect_terminal_restored(s);
    // An interrupted job is no success, and says so where it stays visible.
    ASSERT_TRUE(WIFEXITED(s.wait_status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(s.wait_status), 128 + SIGINT);
    EXPECT_TRUE(pty_screen_contains(s, INTERRUPTED_TEXT)) << pty_screen_dump(s);
    EXPECT_FALSE(pty_screen_contains(s, CREATED_TEXT)) << pty_screen_dump(s);
    // No part of a job is left behind.
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  }
}

}  // namespace
