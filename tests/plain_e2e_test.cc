// visor-gcode without a terminal: values from standard input, results on
// standard output, as scripts and other programs drive it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
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

// From a stream nobody types again: the first invalid value ends the run,
// where restarting would shift the values after it into the wrong fields
// (180 as the calibrating point, 250 as the temperature).
TEST(PlainMode, AMistypedValueFromAStreamEndsTheRun) {
  for (const char* input : {"10\n169\n180\n250\n300\n", "0.4\n210\n700\n0.4\n210\n300\n"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(input)));
    TempDir dir;
    PipedRun run = run_plain(dir, input, DIALOGUE_MS);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(count_errors(run.err), 1) << run.err;
    EXPECT_TRUE(run.err.ends_with("\nInvalid value: dagoma0.g was not written.\n")) << run.err;
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  }
}

// What ends the values: LF, CR or CR LF, each one Enter; the last message
// says how far the values came.
TEST(PlainMode, EachLineEndIsOneEnterAndTheEndOfInputIsTold) {
  const std::string refused = "Invalid value: dagoma0.g was not written.";
  const std::string after_first =
      "The input ended after the first value: dagoma0.g was not written.";
  const std::string after_second =
      "The input ended after the second value: dagoma0.g was not written.";
  struct Case {
    const char* input;
    long errors;
    std::string last;  // the last line of standard error
  } cases[] = {
      {"1\n1\n", 1, refused},      // LF ends each value
      {"1\r1\r", 1, refused},      // CR ends each value
      {"1\r\n1\r\n", 1, refused},  // CRLF is one Enter, not two
      {"\r\n", 0, after_first},    // one empty first value, no second
      {"\r\r", 1, refused},        // two CRs are two Enters
      {"\n\n", 1, refused},        // two LFs are two Enters
      {"0.4\r\n210\r700\n", 1, refused},
      {"", 0, NO_INPUT_TEXT},
      {"0.4\n", 0, after_first},
      {"0.4\n210\n", 0, after_second},
      {"5\n170", 0, after_second},
      {"0.4\n210.5\n210\n300\n", 1, refused},  // 210.5 is no temperature, not 210
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
    for (bool previous : {false, true}) {
      TempDir dir;
      const std::string older = "; an older job\nG28\n";
      if (previous) {
        ASSERT_TRUE(write_file(dir.file("dagoma0.g"), older));
      }
      PipedRun run = run_plain(dir, c.input, DIALOGUE_MS);
      ASSERT_FALSE(run.timed_out);
      EXPECT_EQ(exit_code(run), 1);
      EXPECT_EQ(count_errors(run.err), c.errors) << run.err;
      EXPECT_TRUE(run.err.ends_with(c.last + "\n")) << run.err;
      EXPECT_EQ(count_lines(run.out, CREATED_TEXT), 0) << run.out;
      // Neither created, nor replaced or emptied.
      EXPECT_EQ(read_file(dir.file("dagoma0.g")),
                previous ? std::optional<std::string>(older) : std::nullopt);
    }
  }
}

}  // namespace
