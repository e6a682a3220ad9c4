// End-to-end tests of the real program's failure paths: nothing lost,
// nothing hangs, no failure reported as success. Failures a healthy machine
// never produces come from visor-gcode-faults, the same program built with
// failures injected on request (VISOR_FAULT).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "job_file.h"
#include "piped_run.h"
#include "program_under_test.h"
#include "test_support.h"

// The program built with failures injected on request.
const char VISOR_GCODE_FAULTS[] = VISOR_GCODE_FAULTS_PATH;

namespace {

constexpr int SHORT_TIMEOUT_MS = 60 * 1000;  // a hang guard only

// The program with VISOR_FAULT set.
PipedRun run_with_fault(const std::string& fault, const std::string& input,
                        const std::string& cwd) {
  return run_piped({"/usr/bin/env", "VISOR_FAULT=" + fault, VISOR_GCODE_FAULTS}, input, cwd,
                   SHORT_TIMEOUT_MS);
}

// A shell script run with the program's path as $0 and the values in
// ./values, for runs that need the shell's hand (limits, signals, closed
// streams).
PipedRun run_script(const TempDir& dir, const std::string& script, int timeout_ms,
                    const char* program = VISOR_GCODE) {
  EXPECT_TRUE(write_file(dir.file("values"), JOB_INPUT));
  return run_piped({"/bin/sh", "-c", script, program}, "", dir.path, timeout_ms);
}

// The job an earlier run left, which no failed run may touch.
const char PREVIOUS_JOB[] = "; an earlier job\nG90\nG28\nM84\n";

// dagoma0.g still holds the earlier job, byte for byte, and no temporary
// file is left.
void expect_previous_job_kept(const TempDir& dir) {
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), PREVIOUS_JOB);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
}

// A short job that is complete as far as the program can tell (the end
// marker after 1000 lines), for the runs that must get to the rename.
PipedRun run_short_job(const TempDir& dir) {
  return run_with_fault("end-after=1000", JOB_INPUT, dir.path);
}

void expect_short_job(const std::string& path) {
  JobFile job = read_job_file(path);
  ASSERT_TRUE(job.opened) << path;
  EXPECT_EQ(job.lines, 1000u);
  EXPECT_TRUE(job.whole_lines);
  EXPECT_EQ(job.line(1), "; With z_start: 0.4 heat temp: 210 speed: 300");
}

// Waits, in the shell, until the run started last has written `lines`
// lines into the temporary file.
std::string wait_for_lines(int lines) {
  return "while [ $( (wc -l < dagoma0.g.part) 2>/dev/null || echo 0) -lt " + std::to_string(lines) +
         " ]; do sleep 0.05; done; ";
}

// Every way a run can fail leaves the previous dagoma0.g as it was, and
// removes its temporary file when it still can.
TEST(Faults, EveryFailedRunLeavesThePreviousJobAsItWas) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE("interrupted by signal " + std::to_string(sig));
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("dagoma0.g"), PREVIOUS_JOB));
    PipedRun run = run_script(dir,
                              "\"$0\" < values & pid=$!; " + wait_for_lines(20000) + "kill -" +
                                  std::to_string(sig) + " $pid; wait $pid; echo status=$?",
                              SHORT_TIMEOUT_MS);
    EXPECT_EQ(run.err, std::string(INTERRUPTED_TEXT) + "\n");
    EXPECT_EQ(run.out, "status=" + std::to_string(128 + sig) + "\n");
    expect_previous_job_kept(dir);
  }
  {
    SCOPED_TRACE("a write fails");
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("dagoma0.g"), PREVIOUS_JOB));
    // A file-size limit of 100 blocks, with the signal it raises ignored,
    // so that the write itself reports the failure.
    PipedRun run =
        run_script(dir, "ulimit -f 100; trap '' XFSZ; exec \"$0\" < values", SHORT_TIMEOUT_MS);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, "Cannot write file dagoma0.g: File too large. dagoma0.g was not changed.\n");
    expect_previous_job_kept(dir);
  }
  {
    SCOPED_TRACE("a second run in the same folder, then the first one killed");
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("dagoma0.g"), PREVIOUS_JOB));
    ASSERT_TRUE(write_file(dir.file("values2"), "5\n200\n400\n"));
    PipedRun run = run_script(dir,
                              "\"$0\" < values & pid=$!; " + wait_for_lines(20000) +
                                  "\"$0\" < values2; echo second=$?; "
                                  "cp dagoma0.g after_second; "
                                  "kill -KILL $pid; wait $pid 2>/dev/null; echo first=$?",
                              SHORT_TIMEOUT_MS);
    EXPECT_EQ(run.out, "second=1\nfirst=" + std::to_string(128 + SIGKILL) + "\n");
    EXPECT_EQ(run.err, std::string(IN_USE_TEXT) + "\n");
    EXPECT_EQ(read_file(dir.file("after_second")), PREVIOUS_JOB);
    // A killed run removes nothing: its temporary file stays, whole lines
    // or not, and dagoma0.g is untouched.
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), PREVIOUS_JOB);
    EXPECT_GE(read_job_file(dir.file("dagoma0.g.part")).lines, 20000u);
    // The leftover does not stand in the next run's way.
    PipedRun next = run_short_job(dir);
    EXPECT_EQ(exit_code(next), 0) << next.err;
    // The result, then what the short job would take.
    EXPECT_TRUE(next.out.starts_with(std::string(CREATED_TEXT) + "\n")) << next.out;
    expect_short_job(dir.file("dagoma0.g"));
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  }
  {
    SCOPED_TRACE("dagoma0.g is a link to a file elsewhere");
    TempDir dir;
    TempDir elsewhere;
    ASSERT_TRUE(write_file(elsewhere.file("target"), PREVIOUS_JOB));
    ASSERT_EQ(symlink(elsewhere.file("target").c_str(), dir.file("dagoma0.g").c_str()), 0);
    PipedRun stopped = run_with_fault("stop-after=1000", JOB_INPUT, dir.path);
    EXPECT_EQ(exit_code(stopped), 1);
    expect_previous_job_kept(dir);  // read through the link
    // A complete job replaces the link; what it pointed to is never opened.
    PipedRun run = run_short_job(dir);
    EXPECT_EQ(exit_code(run), 0) << run.err;
    struct stat st;
    ASSERT_EQ(lstat(dir.file("dagoma0.g").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    expect_short_job(dir.file("dagoma0.g"));
    EXPECT_EQ(read_file(elsewhere.file("target")), PREVIOUS_JOB);
  }
  {
    SCOPED_TRACE("dagoma0.g is a named pipe");
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("dagoma0.g").c_str(), 0644), 0);
    PipedRun run = run_short_job(dir);  // an open would wait for a reader
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(exit_code(run), 0) << run.err;
    struct stat st;
    ASSERT_EQ(lstat(dir.file("dagoma0.g").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    expect_short_job(dir.file("dagoma0.g"));
  }
  {
    SCOPED_TRACE("dagoma0.g is a folder");
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("dagoma0.g").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(dir.file("dagoma0.g/inside"), PREVIOUS_JOB));
    // Refused before anything is asked: no values are given, and the
    // reason is not "No input".
    PipedRun run = run_piped({VISOR_GCODE}, "", dir.path, SHORT_TIMEOUT_MS);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, "Cannot create file dagoma0.g: Is a directory.\n");
    EXPECT_EQ(read_file(dir.file("dagoma0.g/inside")), PREVIOUS_JOB);
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  }
  {
    SCOPED_TRACE("a folder that cannot be written");
    // Reported before anything is asked: no values are given. Permission
    // bits do not stop root, so root runs the program as nobody in a
    // folder of root's; anyone else in a folder without write permission.
    // Then, as root in /proc, where nobody can create a file, the refusal
    // comes when the file is created.
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("dagoma0.g"), PREVIOUS_JOB));
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(dir.path.c_str(), root ? 0755 : 0555), 0);
    PipedRun run = root ? run_piped({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", VISOR_GCODE},
                                    "", dir.path, SHORT_TIMEOUT_MS)
                        : run_plain(dir, "", SHORT_TIMEOUT_MS);
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, "Cannot create file dagoma0.g: Permission denied.\n");
    expect_previous_job_kept(dir);
    PipedRun in_proc = run_piped({VISOR_GCODE}, JOB_INPUT, "/proc", SHORT_TIMEOUT_MS);
    EXPECT_EQ(exit_code(in_proc), 1);
    EXPECT_EQ(in_proc.err, "Cannot create file dagoma0.g: No such file or directory.\n");
  }
}

TEST(Faults, ChannelThreadAndGeneratorFailures) {
  struct {
    const char* fault;
    const char* output;
  } table[] = {
      {"listen", "Cannot create named pipe. dagoma0.g was not changed.\n"},
      {"thread", "Cannot create thread. dagoma0.g was not changed.\n"},
      {"connect", "Cannot open pipe. dagoma0.g was not changed.\n"},
      {"stop-after=1000", "Generation stopped: dagoma0.g was not changed.\n"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.fault);
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("dagoma0.g"), PREVIOUS_JOB));
    PipedRun run = run_with_fault(row.fault, JOB_INPUT, dir.path);
    EXPECT_FALSE(run.timed_out);  // nobody waits for a generator that is gone
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, row.output);
    expect_previous_job_kept(dir);
  }
}

TEST(Faults, InterruptDuringTheDialogueWritesNothing) {
  TempDir dir;
  PipedRun run = run_script(dir,
                            "mkfifo keys; \"$0\" < keys & pid=$!; exec 3> keys; sleep 0.5; "
                            "kill -TERM $pid; wait $pid; echo status=$?",
                            SHORT_TIMEOUT_MS);
  EXPECT_EQ(run.out, "status=143\n");
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
}

TEST(Faults, StandardOutputThatCannotBeWritten) {
  // Closed, and a pipe whose reader is gone before the program starts:
  // neither ends the job, nor leaks into the file as a fatal SIGPIPE would.
  // The injected end marker makes the job a short one; its result, which
  // cannot be shown, is in the status.
  for (const char* redirect : {">&-", "3<>gone 4>gone 3<&- >&4"}) {
    SCOPED_TRACE(redirect);
    TempDir dir;
    PipedRun run = run_script(dir,
                              std::string("mkfifo gone; exec ") + redirect +
                                  "; VISOR_FAULT=end-after=1000 \"$0\" < values; "
                                  "echo status=$? >&2",
                              SHORT_TIMEOUT_MS, VISOR_GCODE_FAULTS);
    EXPECT_EQ(run.err, "status=0\n");
    expect_short_job(dir.file("dagoma0.g"));
  }
}

TEST(Faults, HostileInputInPlainMode) {
  // Escape sequences, NUL bytes, bytes above 127, a very long line, a CR
  // without LF, each an invalid line; an empty one (a valid first value),
  // then a Backspace as the second starts the dialogue over and three good
  // values follow. The job ends after its header by the injected end marker.
  const char start[] = "\x1b[31m\x1b[A\x00\x80\xff\xfe-\r";
  std::string input(start, sizeof start - 1);
  input += std::string(100000, '7') + "\n";
  input += std::string(
      "12\x00"
      "3\x1b"
      "4\r\r\n",
      9);
  input += "\x7f\n0.4\n210\n300\n";
  TempDir dir;
  PipedRun run = run_with_fault("end-after=5", input, dir.path);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(exit_code(run), 0);
  JobFile file = read_job_file(dir.file("dagoma0.g"));
  ASSERT_EQ(file.lines, 5u) << run.out;
  EXPECT_EQ(file.line(1), "; With z_start: 0.4 heat temp: 210 speed: 300");

  // Hostile input alone: it ends without three valid values.
  TempDir dir2;
  std::string garbage;
  for (int i = 0; i < 200000; ++i)
    garbage += static_cast<char>((i * 7919) % 256);
  PipedRun run2 = run_with_fault("end-after=5", garbage, dir2.path);
  EXPECT_FALSE(run2.timed_out);
  ASSERT_TRUE(WIFEXITED(run2.wait_status)) << "ended by signal";
  // Either it never had three valid values, or it found three among the
  // bytes and wrote the job (a short one here).
  if (file_exists(dir2.file("dagoma0.g"))) {
    EXPECT_EQ(read_job_file(dir2.file("dagoma0.g")).lines, 5u);
  } else {
    EXPECT_EQ(exit_code(run2), 1);
    EXPECT_NE(run2.err.find(NO_INPUT_TEXT), std::string::npos);
  }
}

}  // namespace
