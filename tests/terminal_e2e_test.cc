// visor-gcode on a pseudo-terminal, read through a terminal emulator: what a
// person at a terminal sees and gets.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <utility>

#include "job_file.h"
#include "program_under_test.h"
#include "pty_session.h"
#include "test_support.h"

namespace {

// The screen the layout needs, and one a terminal commonly opens with.
constexpr int PANE_COLS = 120, PANE_ROWS = 30;
constexpr int SMALL_COLS = 80, SMALL_ROWS = 24;

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

// The dialogue stands at its beginning, with no error line.
void expect_dialogue_restarted(PtySession* s) {
  ASSERT_TRUE(wait_for_field(s, Z_START_FIELD));
  expect_fixed_texts(*s);
  EXPECT_EQ(pty_text_at(*s, TEXT_COL, PROGRESS_ROW, 19), PROGRESS_TEXT) << pty_screen_dump(*s);
}

void expect_terminal_restored(const PtySession& s) {
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_FALSE(s.alt_screen);
  EXPECT_TRUE(pty_modes_restored(s));
}

TEST(Terminal, CompleteJobShowsProgressAndWritesTheFile) {
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_job_on_terminal(&s, dir));

  // Shrinking the window during the job brings the size notice; enlarging
  // it again brings back the whole screen, marks included.
  pty_resize(&s, SMALL_COLS, SMALL_ROWS);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_size_notice(s); }, SCREEN_MS))
      << pty_screen_dump(s);
  pty_resize(&s, PANE_COLS, PANE_ROWS);
  EXPECT_TRUE(pty_wait_until(
      &s, [&] { return shows_whole_layout(s); }, SCREEN_MS))
      << pty_screen_dump(s);

  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, 15, CREATED_TEXT, JOB_MS)) << pty_screen_dump(s);
  // The screen is complete once the program waits for the closing key.
  pty_wait_quiet(&s, 300, SCREEN_MS);
  SCOPED_TRACE(pty_screen_dump(s));

  expect_fixed_texts(s);
  expect_frame(s);
  // The last line written, its line end blanked, over the 63 echo cells.
  EXPECT_EQ(pty_text_at(s, 22, 13, 63), "M109 S0" + std::string(56, ' '));
  EXPECT_EQ(pty_text_at(s, TEXT_COL, PROGRESS_ROW, 19), PROGRESS_TEXT);
  EXPECT_EQ(pty_text_at(s, FIRST_MARK_COL, PROGRESS_ROW, 84), std::string(80, '=') + "|   ");
  EXPECT_EQ(pty_text_at(s, 106, PROGRESS_ROW, 7), "  100 %");
  for (const Field* f : {&Z_START_FIELD, &HEAT_TEMP_FIELD, &SPEED_FIELD})
    EXPECT_TRUE(shows_prompt(s, *f)) << "row " << f->row;
  EXPECT_EQ(pty_text_at(s, Z_START_FIELD.first_col, 16, 10), "0.4       ");
  EXPECT_EQ(pty_text_at(s, HEAT_TEMP_FIELD.first_col, 17, 10), "210       ");
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 10), "300       ");
  // What the job will take, inside the frame below the prompts.
  for (auto [row, text] : {std::pair{SUMMARY_ROW, JOB_TIME_TEXT}, {HEIGHT_ROW, JOB_HEIGHT_TEXT}}) {
    std::string inside = text;  // columns 4 to 117, within the frame
    inside.resize(114, ' ');
    EXPECT_EQ(pty_text_at(s, TEXT_COL, row, 114), inside) << "row " << row;
  }
  // Nothing outside the layout.
  for (int row : {0, 1, 2, 3, 5, 6, 7, 8, 22, 23, 24, 25, 26, 27, 28, 29})
    EXPECT_EQ(pty_row_text(s, row), "") << "row " << row;
  EXPECT_FALSE(s.cursor_visible);
  EXPECT_TRUE(s.alt_screen);
  ASSERT_FALSE(s.exited) << "the program must wait for a key";

  pty_type(&s, "x");
  ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS));
  ASSERT_TRUE(WIFEXITED(s.wait_status));
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 0);
  expect_terminal_restored(s);
  // The result stays on the terminal after the full-screen view is gone.
  EXPECT_TRUE(pty_screen_contains(s, CREATED_TEXT));
  EXPECT_TRUE(pty_screen_contains(s, JOB_TIME_TEXT));
  EXPECT_TRUE(pty_screen_contains(s, JOB_HEIGHT_TEXT));

  expect_complete_job(dir.file("dagoma0.g"));
}

TEST(Terminal, InvalidValueShowsErrorThenRestartsFromTheFirstField) {
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_on_terminal(&s, dir));
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "0.4"));
  ASSERT_TRUE(enter_value(&s, HEAT_TEMP_FIELD, "210"));
  ASSERT_TRUE(enter_value(&s, SPEED_FIELD, "700"));
  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, PROGRESS_ROW, ERROR_TEXT, SCREEN_MS))
      << pty_screen_dump(s);
  EXPECT_EQ(pty_text_at(s, SPEED_FIELD.first_col, 18, 3), "700");

  expect_dialogue_restarted(&s);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  // The first field takes keys again.
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "5"));
  EXPECT_TRUE(wait_for_field(&s, HEAT_TEMP_FIELD));
}

TEST(Terminal, BackspaceAndDeleteRestartTheDialogue) {
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_on_terminal(&s, dir));

  // Backspace in the second field abandons the whole dialogue at once.
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "0.4"));
  ASSERT_TRUE(type_into(&s, HEAT_TEMP_FIELD, "2"));
  pty_type(&s, KEY_BACKSPACE);
  expect_dialogue_restarted(&s);

  // Delete in the third field does the same.
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "0.4"));
  ASSERT_TRUE(enter_value(&s, HEAT_TEMP_FIELD, "210"));
  ASSERT_TRUE(type_into(&s, SPEED_FIELD, "3"));
  pty_type(&s, KEY_DELETE);
  expect_dialogue_restarted(&s);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  EXPECT_FALSE(s.exited);
}

TEST(Terminal, SmallTerminalTellsTheSizeNeededAndRedrawsWhenEnlarged) {
  TempDir dir;
  PtySession s;
  ASSERT_TRUE(start_on_terminal(&s, dir, SMALL_COLS, SMALL_ROWS));
  // The notice comes with the first field, once keys typed ahead are
  // flushed; the field takes a key while the window is small.
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_size_notice(s); }, SCREEN_MS))
      << pty_screen_dump(s);
  pty_type(&s, "5");

  pty_resize(&s, PANE_COLS, PANE_ROWS);
  ASSERT_TRUE(pty_wait_until(
      &s, [&] { return shows_whole_layout(s) && pty_cell(s, Z_START_FIELD.first_col, 16) == U'5'; },
      SCREEN_MS))
      << "the key typed while small is lost, or the dialogue restarted\n"
      << pty_screen_dump(s);
  SCOPED_TRACE(pty_screen_dump(s));
  expect_fixed_texts(s);
  expect_frame(s);
  EXPECT_EQ(pty_text_at(s, TEXT_COL, PROGRESS_ROW, 19), PROGRESS_TEXT);
  EXPECT_TRUE(shows_prompt(s, Z_START_FIELD));
  EXPECT_FALSE(s.exited);
}

TEST(Terminal, InterruptionEndsTheProgramAndGivesTheTerminalBack) {
  {
    SCOPED_TRACE("Ctrl-C during the dialogue");
    TempDir dir;
    PtySession s;
    ASSERT_TRUE(start_on_terminal(&s, dir));
    ASSERT_TRUE(wait_for_field(&s, Z_START_FIELD));
    pty_type(&s, KEY_CTRL_C);
    ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
    expect_terminal_restored(s);
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  }
  // During the job: Ctrl-C from the terminal, and termination from
  // elsewhere, seconds before the job's end.
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    PtySession s;
    ASSERT_TRUE(start_job_on_terminal(&s, dir));
    if (sig == SIGINT)
      pty_type(&s, KEY_CTRL_C);
    else
      kill(s.pid, sig);
    ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
    expect_terminal_restored(s);
    // An interrupted job is no success, and says so where it stays visible.
    ASSERT_TRUE(WIFEXITED(s.wait_status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(s.wait_status), 128 + sig);
    EXPECT_TRUE(pty_screen_contains(s, INTERRUPTED_TEXT)) << pty_screen_dump(s);
    EXPECT_FALSE(pty_screen_contains(s, CREATED_TEXT)) << pty_screen_dump(s);
    // The part written is whole lines only, and not the whole job.
    JobFile job = read_job_file(dir.file("dagoma0.g"));
    ASSERT_TRUE(job.opened);
    EXPECT_TRUE(job.whole_lines);
    EXPECT_LT(job.lines, COMPLETE_JOB_LINES);
    EXPECT_FALSE(job.has_end_marker);
  }
}

}  // namespace
