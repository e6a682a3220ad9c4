// visor-gcode without a terminal: values from standard input, results on
// standard output, as scripts and other programs drive it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "job_file.h"
#include "piped_run.h"
#include "program_under_test.h"
#include "test_support.h"

namespace {

// A run that never reaches the job.
constexpr int DIALOGUE_MS = 30000;

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

TEST(PlainMode, WritesTheCompleteJobOverAnExistingFileAndKeepsASecondRunAway) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), "an older job\n"));
  PipedRun run;
  // JOB_INPUT's values; the last line needs no line end.
  std::thread first([&] { run = run_plain(dir, "0.4\r\n210\n300"); });
  // A second run while the first one writes must leave its file alone.
  for (int i = 0; i < 6000 && read_job_file(file_being_written(dir.path)).lines < 1000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  PipedRun second = run_plain(dir, "5\n200\n400\n", DIALOGUE_MS);
  first.join();
  EXPECT_EQ(exit_code(second), 1);
  EXPECT_EQ(second.err, std::string(IN_USE_TEXT) + "\n");

  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(exit_code(run), 0) << run.out << run.err;
  EXPECT_EQ(count_lines(run.out, CREATED_TEXT), 1) << run.out;
  // What the job will take follows, and ends the output.
  EXPECT_TRUE(run.out.ends_with(job_result_lines(dir))) << run.out;
  EXPECT_EQ(run.err, "") << run.err;
  // Nothing is drawn without a terminal.
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
  expect_complete_job(dir.file("dagoma0.g"));
}

TEST(PlainMode, InvalidValueRestartsTheDialogueFromTheFirstField) {
  TempDir dir;
  // After the error the first field is asked again: 0.4 and 210 land in the
  // first two fields; were the speed field asked again, 0.4 would be a
  // second error. The input then ends, so no job is run.
  PipedRun run = run_plain(dir, "0.4\n210\n700\n0.4\n210\n", DIALOGUE_MS);
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
    PipedRun run = run_plain(dir, c.input, DIALOGUE_MS);
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
      PipedRun run = run_plain(dir, input, DIALOGUE_MS);
      ASSERT_FALSE(run.timed_out);
      EXPECT_EQ(exit_code(run), 1);
      EXPECT_EQ(count_lines(run.err, NO_INPUT_TEXT), 1) << run.out;
      EXPECT_EQ(count_lines(run.out, CREATED_TEXT), 0) << run.out;
      EXPECT_FALSE(file_exists(dir.file("dagoma0.g"))) << "created";
    }
    {
      TempDir dir;
      const std::string older = "; an older job\nG28\n";
      ASSERT_TRUE(write_file(dir.file("dagoma0.g"), older));
      PipedRun run = run_plain(dir, input, DIALOGUE_MS);
      ASSERT_FALSE(run.timed_out);
      EXPECT_EQ(exit_code(run), 1);
      EXPECT_EQ(read_file(dir.file("dagoma0.g")), older) << "an existing file was touched";
    }
  }
}

}  // namespace
