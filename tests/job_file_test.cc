// The G-code file reader on small files made here.

#include "job_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace {

TEST(JobFile, CountsLinesAndKeepsHeadAndTail) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  std::string text;
  // Long enough to span several reads of the reader's buffer.
  for (int i = 0; i < 200000; ++i)
    text += "G1 F300 E" + std::to_string(i) + "\n";
  ASSERT_TRUE(write_file(dir.file("a.g"), text));
  JobFile job = read_job_file(dir.file("a.g"), 2, 3);
  ASSERT_TRUE(job.opened);
  EXPECT_EQ(job.bytes, text.size());
  EXPECT_EQ(job.lines, 200000u);
  EXPECT_TRUE(job.ends_with_newline);
  EXPECT_FALSE(job.has_end_marker);
  EXPECT_EQ(job.head, (std::vector<std::string>{"G1 F300 E0", "G1 F300 E1"}));
  EXPECT_EQ(job.tail,
            (std::vector<std::string>{"G1 F300 E199997", "G1 F300 E199998", "G1 F300 E199999"}));
}

TEST(JobFile, FindsTheEndMarkerWhereverItIs) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  // At the start, in the middle, at the end without line end, and across
  // the boundary between two reads (the reader reads 1 MiB at a time).
  std::vector<std::string> cases = {"-EOT-\nG28\n", "G28\n-EOT-\nG28\n", "G28\n-EOT-",
                                    std::string((1 << 20) - 2, 'x') + "-EOT-\n"};
  for (const std::string& text : cases) {
    ASSERT_TRUE(write_file(dir.file("b.g"), text));
    EXPECT_TRUE(read_job_file(dir.file("b.g"), 0, 0).has_end_marker) << text.substr(0, 20);
  }
  ASSERT_TRUE(write_file(dir.file("c.g"), "G28\n-EOT\nEOT-\n"));
  EXPECT_FALSE(read_job_file(dir.file("c.g"), 0, 0).has_end_marker);
}

TEST(JobFile, ReportsALastLineWithoutLineEnd) {
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  ASSERT_TRUE(write_file(dir.file("d.g"), "G90\nG28"));
  JobFile job = read_job_file(dir.file("d.g"), 1, 2);
  EXPECT_EQ(job.lines, 1u);
  EXPECT_FALSE(job.ends_with_newline);
  EXPECT_EQ(job.tail, (std::vector<std::string>{"G90", "G28"}));
  EXPECT_FALSE(read_job_file(dir.file("missing.g"), 1, 1).opened);
}

}  // namespace
