// visor-gcode without a terminal: values from standard input, results on
// standard output, as scripts and other programs drive it.

#include <gtest/gtest.h>

#include <algorithm>

#include "piped_run.h"
#include "program_under_test.h"
#include "temp_dir.h"

namespace {

// Only guards against a hang; a complete job takes seconds to a minute.
constexpr int kJobMs = 600000;
// A run that never reaches the job.
constexpr int kDialogueMs = 30000;

std::vector<std::string> lines_of(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(out.substr(start, nl - start));
  if (start < out.size())
    lines.push_back(out.substr(start));
  return lines;
}

long count_lines(const std::string& out, const std::string& line) {
  std::vector<std::string> lines = lines_of(out);
  return std::count(lines.begin(), lines.end(), line);
}

// Error lines: the error text, then the value's name and the line given.
long count_errors(const std::string& err) {
  std::vector<std::string> lines = lines_of(err);
  return std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with(std::string(ERROR_TEXT) + ": ");
  });
}

PipedRun run_in(const TempDir& dir, const std::string& input, int timeout_ms) {
  return run_piped({VISOR_GCODE}, input, dir.path, timeout_ms);
}

TEST(PlainMode, WritesTheCompleteJobOverAnExistingFile) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), "an older job\n"));
  // The last line needs no line end.
  PipedRun run = run_in(dir, "0.4\r\n210\n300", kJobMs);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(exit_code(run), 0) << run.out << run.err;
  EXPECT_EQ(count_lines(run.out, CREATED_TEXT), 1) << run.out;
  EXPECT_EQ(run.err, "") << run.err;
  // Nothing is drawn without a terminal.
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
  expect_complete_job(dir.file("dagoma0.g"), "0.4", "210", "300");
}

TEST(PlainMode, InvalidValueRestartsTheDialogueFromTheFirstField) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  // After the error the first field is asked again: 0.4 and 210 land in the
  // first two fields; were the speed field asked again, 0.4 would be a
  // second error. The input then ends, so no job is run.
  PipedRun run = run_in(dir, "0.4\n210\n700\n0.4\n210\n", kDialogueMs);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(count_errors(run.err), 1) << run.out;
  EXPECT_EQ(count_lines(run.err, NO_INPUT_TEXT), 1) << run.out;
  EXPECT_LT(run.err.find(std::string(ERROR_TEXT) + ": speed \"700\""), run.err.find(NO_INPUT_TEXT))
      << run.err;
  EXPECT_EQ(exit_code(run), 1);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
}

TEST(PlainMode, CrLfAndCrLfPairEachEndOneValue) {
  // Each input ends before three valid values; the number of error lines
  // shows how many Enters the program saw. An empty first value is valid
  // (0), an empty second one is not.
  struct Case {
    const char* input;
    long errors;
  } cases[] = {
      {"1\n1\n", 1},      // LF ends each value
      {"1\r1\r", 1},      // CR ends each value
      {"1\r\n1\r\n", 1},  // CRLF is one Enter, not two
      {"\r\n", 0},        // one empty first value, no second
      {"\r\r", 1},        // two CRs are two Enters
      {"\n\n", 1},        // two LFs are two Enters
      {"0.4\r\n210\r700\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    PipedRun run = run_in(dir, c.input, kDialogueMs);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(count_errors(run.err), c.errors) << run.out;
    EXPECT_EQ(count_lines(run.err, NO_INPUT_TEXT), 1) << run.out;
    EXPECT_EQ(exit_code(run), 1);
  }
}

TEST(PlainMode, EndOfInputLeavesTheFileAlone) {
  // A line that the field would have read changed is no value: after it
  // the dialogue starts again, and 210 and 300 are no calibrating point.
  const char* inputs[] = {
      "", "0.4\n", "0.4\n210\n", "0.4\n210\n700\n", "5\n170", "0.4\n210.5\n210\n300\n"};
  for (const char* input : inputs) {
    SCOPED_TRACE(testing::PrintToString(std::string(input)));
    {
      TempDir dir;
      ASSERT_FALSE(dir.path.empty());
      PipedRun run = run_in(dir, input, kDialogueMs);
      ASSERT_FALSE(run.timed_out);
      EXPECT_EQ(exit_code(run), 1);
      EXPECT_EQ(count_lines(run.err, NO_INPUT_TEXT), 1) << run.out;
      EXPECT_EQ(count_lines(run.out, CREATED_TEXT), 0) << run.out;
      EXPECT_FALSE(file_exists(dir.file("dagoma0.g"))) << "created";
    }
    {
      TempDir dir;
      ASSERT_FALSE(dir.path.empty());
      const std::string older = "; an older job\nG28\n";
      ASSERT_TRUE(write_file(dir.file("dagoma0.g"), older));
      PipedRun run = run_in(dir, input, kDialogueMs);
      ASSERT_FALSE(run.timed_out);
      EXPECT_EQ(exit_code(run), 1);
      std::string now;
      ASSERT_TRUE(read_file(dir.file("dagoma0.g"), &now));
      EXPECT_EQ(now, older) << "an existing file was touched";
    }
  }
}

}  // namespace
