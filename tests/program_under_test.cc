#include "program_under_test.h"

#include <limits.h>
#include <stdlib.h>

#include "job_file.h"

const char VISOR_GCODE[] = VISOR_GCODE_PATH;

void expect_complete_job(const std::string& path) {
  JobFile job = read_job_file(path);
  ASSERT_TRUE(job.opened) << path;
  EXPECT_EQ(job.lines, COMPLETE_JOB_LINES);
  EXPECT_TRUE(job.line(0).starts_with("; Generated at ")) << job.line(0);
  EXPECT_EQ(job.digest_after_first_line(), PINNED_JOBS[0].sha256)
      << "line 2: " << job.line(1) << "\nlast line: " << job.line(job.lines - 1);
}

std::string job_result_lines(const TempDir& dir) {
  // The folder as the program finds it, its links resolved.
  char real[PATH_MAX];
  std::string folder = realpath(dir.path.c_str(), real) != nullptr ? real : dir.path;
  return std::string(CREATED_TEXT) + "\n" + FILE_LABEL + folder + "/dagoma0.g" + JOB_SIZE_TEXT +
         "\n" + job_summary_lines() + copy_check_line() + "\n";
}

std::string copy_check_line() {
  return std::string("After copying:    ") + VISOR_GCODE +
         " --check <card>/dagoma0.g checks the copy on the printer's card";
}

std::string job_summary_lines() {
  std::string lines;
  for (const char* text : JOB_SUMMARY_TEXTS)
    lines += std::string(text) + "\n";
  return lines;
}

PipedRun run_plain(const TempDir& dir, const std::string& input, int timeout_ms) {
  return run_piped({VISOR_GCODE}, input, dir.path, timeout_ms);
}

testing::AssertionResult start_on_terminal(PtySession* s, const TempDir& dir, int cols, int rows) {
  std::string error;
  if (!pty_start(s, {VISOR_GCODE}, cols, rows, dir.path, &error))
    return testing::AssertionFailure() << error;
  return testing::AssertionSuccess();
}

bool shows_prompt(const PtySession& s, const Field& f) {
  std::string prompt = f.prompt;
  return pty_text_at(s, TEXT_COL, f.row, static_cast<int>(prompt.size())) == prompt;
}

testing::AssertionResult wait_for_field(PtySession* s, const Field& f) {
  auto waiting = [&] {
    // Inside the frame, columns 2 to 117.
    for (int row = f.row + 1; row <= SPEED_FIELD.row; ++row)
      if (pty_text_at(*s, 2, row, 116) != std::string(116, ' '))
        return false;
    return shows_prompt(*s, f) && pty_text_at(*s, f.first_col, f.row, 10) == std::string(10, ' ');
  };
  if (pty_wait_until(s, waiting, SCREEN_MS))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "no empty field on row " << f.row << "\n"
                                     << pty_screen_dump(*s);
}

testing::AssertionResult type_into(PtySession* s, const Field& f, const std::string& text) {
  testing::AssertionResult waiting = wait_for_field(s, f);
  if (!waiting)
    return waiting;
  for (size_t i = 0; i < text.size(); ++i) {
    pty_type(s, text.substr(i, 1));
    int col = f.first_col + static_cast<int>(i);
    if (!pty_wait_until(
            s, [&] { return pty_cell(*s, col, f.row) == char32_t(text[i]); }, SCREEN_MS))
      return testing::AssertionFailure()
             << "no echo of '" << text[i] << "' at column " << col << "\n"
             << pty_screen_dump(*s);
  }
  return testing::AssertionSuccess();
}

testing::AssertionResult enter_value(PtySession* s, const Field& f, const std::string& text) {
  testing::AssertionResult typed = type_into(s, f, text);
  if (typed)
    pty_type(s, KEY_ENTER);
  return typed;
}

testing::AssertionResult start_job_on_terminal(PtySession* s, const TempDir& dir) {
  testing::AssertionResult step = start_on_terminal(s, dir);
  if (step)
    step = enter_value(s, Z_START_FIELD, "0.4");
  if (step)
    step = enter_value(s, HEAT_TEMP_FIELD, "210");
  if (step)
    step = enter_value(s, SPEED_FIELD, "300");
  if (step && !pty_wait_for_text_at(s, FIRST_MARK_COL, PROGRESS_ROW, "=", JOB_MS))
    step = testing::AssertionFailure() << "no progress\n" << pty_screen_dump(*s);
  return step;
}
