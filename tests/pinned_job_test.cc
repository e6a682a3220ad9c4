// The whole job, pinned: the generator run through the real channel by
// gcode_dump, built once with the fast number converter and once with the
// C library's, must give the pinned bytes for each input. Any change of a
// line fails here, whether both converters share it or not.

#include <gtest/gtest.h>

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

}  // namespace
