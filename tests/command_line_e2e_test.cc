// visor-gcode given its values or a question on the command line: what it
// prints where, its exit status, and the file it writes or leaves alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "piped_run.h"
#include "program_under_test.h"
#include "test_support.h"

namespace {

constexpr int ANSWER_MS = 30000;

TEST(CommandLineRun, AnswersRefusesOrWritesTheDialoguesJob) {
  const std::string older = "; an older job\nG28\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out_begins;  // standard output begins with this
    const char* err_holds;   // standard error holds this ("": is empty)
    bool writes_job = false;
  } cases[] = {
      {{"--help"}, 0, "Usage: visor-gcode", ""},
      {{"--version"}, 0, "visor-gcode 1.2.0\n", ""},
      {{"--z-start=0.4", "--heat-temp=210", "--speed=700"}, 2, "", "\"700\" for --speed"},
      {{"--z-start=0.4", "--heat-temp=210", "--speed"}, 2, "", "--speed needs a value"},
      {{"--z-start=0.4", "--heat-temp=210"}, 2, "", "--speed is missing"},
      {{"--zstart=0.4", "--heat-temp=210", "--speed=300"}, 2, "", "\"--zstart=0.4\""},
      // The older file is no job; --check only reads it.
      {{"--check"}, 1, "", "dagoma0.g is not a job of visor-gcode"},
      {{"--check", "--speed=300"}, 2, "", "--speed cannot be given with --check"},
      // No layer of the piece at that height: refused before anything is
      // created.
      {{"--z-start=0.4", "--heat-temp=210", "--speed=300", "--resume=5:50"},
       2,
       "",
       "visor-gcode: Z 50.000 is above the layers of piece 5 (left post), which lie from Z 6.000 "
       "to 48.200\n"},
      // The values on the command line, in both forms; the lines waiting
      // on standard input are not read.
      {{"--z-start", "0.4", "--heat-temp=210", "--speed", "300"}, 0, "", "", true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {VISOR_GCODE};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(c.args));
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("dagoma0.g"), older));
    PipedRun run = run_piped(argv, "5\n200\n400\n", dir.path, c.status == 0 ? JOB_MS : ANSWER_MS);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(exit_code(run), c.status) << run.err;
    EXPECT_TRUE(run.out.starts_with(c.out_begins)) << run.out;
    if (*c.err_holds == '\0')
      EXPECT_EQ(run.err, "");
    else
      EXPECT_NE(run.err.find(c.err_holds), std::string::npos) << run.err;
    if (c.writes_job) {
      EXPECT_EQ(run.out, job_result_lines(dir));
      // The pinned job of the dialogue for the same three texts.
      expect_complete_job(dir.file("dagoma0.g"));
      // Checked where it lies, it is the job; the folder keeps only it.
      PipedRun check = run_piped({VISOR_GCODE, "--check"}, "", dir.path, JOB_MS);
      EXPECT_EQ(exit_code(check), 0) << check.err;
      EXPECT_EQ(check.out, std::string("dagoma0.g") + CHECKED_TEXT + "\n" + job_summary_lines());
      EXPECT_EQ(check.err, "");
      std::vector<std::string> names;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        names.push_back(entry.path().filename().string());
      EXPECT_EQ(names, std::vector<std::string>{"dagoma0.g"});
    } else {
      EXPECT_EQ(read_file(dir.file("dagoma0.g")), older) << "the file was touched";
      EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
    }
  }
}

}  // namespace
