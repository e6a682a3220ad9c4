// The whole job, pinned: the generator run through the real channel by
// gcode_dump, built once with the fast number converter and once with the
// C library's, must give the pinned bytes for each input. Any change of a
// line fails here, whether both converters share it or not. And the same
// job through the output file, mapped and written a line at a time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "piped_run.h"
#include "program_under_test.h"

namespace {

TEST(PinnedJob, BothNumberConvertersWriteThePinnedJob) {
  for (const PinnedJob& job : PINNED_JOBS) {
    for (const char* dump : {GCODE_DUMP_PATH, GCODE_DUMP_PRINTF_PATH}) {
      SCOPED_TRACE(std::string(dump) + " " + job.z_start + " " + job.heat_temp + " " + job.speed);
      PipedRun run =
          run_piped({dump, job.z_start, job.heat_temp, job.speed, "--sha256"}, "", "/", JOB_MS);
      EXPECT_EQ(exit_code(run), 0) << run.err;
      EXPECT_EQ(run.out, std::to_string(COMPLETE_JOB_LINES) + " " + job.sha256 + "\n");
    }
  }
}

// The output file writes the lines through a mapping where it can, one
// write per line where it cannot: both give the job's exact bytes.
TEST(PinnedJob, BothWaysOfWritingTheFileGiveThePinnedJob) {
  for (bool write_per_line : {false, true}) {
    SCOPED_TRACE(write_per_line ? "one write per line" : "mapped");
    TempDir dir;
    // The values expect_complete_job holds the file to.
    const PinnedJob& job = PINNED_JOBS[0];
    std::vector<std::string> args = {GCODE_DUMP_PATH, job.z_start, job.heat_temp, job.speed,
                                     dir.file("dagoma0.g")};
    if (write_per_line)
      args.push_back("--write-per-line");
    PipedRun run = run_piped(args, "", dir.path, JOB_MS);
    EXPECT_EQ(exit_code(run), 0) << run.err;
    expect_complete_job(dir.file("dagoma0.g"));
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  }
}

}  // namespace
