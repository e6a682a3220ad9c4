// The G-code file reader on small files made here.

#include "job_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(JobFile, CountsLinesAndFindsTheEndMarker) {
  TempDir dir;
  struct {
    const char* text;
    uint64_t lines;
    bool whole_lines, end_marker;
    const char* second_line;
  } table[] = {
      {"", 0, true, false, ""},
      {"G90\nG28\n", 2, true, false, "G28"},
      {"G90\nG28", 1, false, false, "G28"},  // a last line without line end
      {"G28\n-EOT-", 1, false, true, "-EOT-"},
      {"-EOT\nEOT-\n", 2, true, false, "EOT-"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.text)));
    ASSERT_TRUE(write_file(dir.file("a.g"), row.text));
    JobFile job = read_job_file(dir.file("a.g"));
    ASSERT_TRUE(job.opened);
    EXPECT_EQ(job.lines, row.lines);
    EXPECT_EQ(job.whole_lines, row.whole_lines);
    EXPECT_EQ(job.has_end_marker, row.end_marker);
    EXPECT_EQ(job.line(1), row.second_line);
    EXPECT_EQ(job.line(2), "");
  }
  EXPECT_FALSE(read_job_file(dir.file("missing.g")).opened);
}

TEST(JobFile, DigestLeavesOutTheFirstLine) {
  TempDir dir;
  // SHA-256 of "abc" and of nothing, as sha256sum prints them.
  const char abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const char nothing[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  ASSERT_TRUE(write_file(dir.file("a.g"), "; Generated at noon\nabc"));
  EXPECT_EQ(read_job_file(dir.file("a.g")).digest_after_first_line(), abc);
  ASSERT_TRUE(write_file(dir.file("a.g"), "; Generated at noon\n"));
  EXPECT_EQ(read_job_file(dir.file("a.g")).digest_after_first_line(), nothing);
}

}  // namespace
