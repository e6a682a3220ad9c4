// End-to-end tests of the real program's failure paths: nothing lost,
// nothing hangs, no failure reported as success. Failures a healthy machine
// never produces come from visor-gcode-faults, the same program built with
// failures injected on request (VISOR_FAULT).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

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

TEST(Faults, FileCannotBeCreated) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("dagoma0.g").c_str(), 0755), 0);  // a folder in the way
  PipedRun run = run_plain(dir, JOB_INPUT, SHORT_TIMEOUT_MS);
  EXPECT_EQ(exit_code(run), 1);
  EXPECT_EQ(run.err, std::string(CANNOT_CREATE_TEXT) + "\n");

  // A folder nobody can write into, not even root.
  PipedRun in_proc = run_piped({VISOR_GCODE}, JOB_INPUT, "/proc", SHORT_TIMEOUT_MS);
  EXPECT_EQ(exit_code(in_proc), 1);
  EXPECT_EQ(in_proc.err, std::string(CANNOT_CREATE_TEXT) + "\n");
}

TEST(Faults, WriteFailsDuringTheJob) {
  TempDir dir;
  // A file-size limit of 100 blocks, with the signal it raises ignored, so
  // that the write itself reports the failure.
  PipedRun run =
      run_script(dir, "ulimit -f 100; trap '' XFSZ; exec \"$0\" < values", SHORT_TIMEOUT_MS);
  EXPECT_EQ(exit_code(run), 1);
  EXPECT_EQ(run.err, "Cannot write file dagoma0.g.\n");
  JobFile file = read_job_file(dir.file("dagoma0.g"));
  ASSERT_TRUE(file.opened);
  EXPECT_GT(file.lines, 100u);
  EXPECT_LE(file.text.size(), 100u * 1024u);
  EXPECT_TRUE(file.whole_lines);
  EXPECT_EQ(file.line(1), "; With z_start: 0.4 heat temp: 210 speed: 300");
}

TEST(Faults, ChannelThreadAndGeneratorFailures) {
  struct {
    const char* fault;
    const char* output;
    uint64_t lines;
  } table[] = {
      {"listen", "Cannot create named pipe.\n", 0},
      {"thread", "Cannot create thread.\n", 0},
      {"connect", "Cannot open pipe.\n", 0},
      {"stop-after=1000", "Generation stopped: dagoma0.g is incomplete.\n", 1000},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.fault);
    TempDir dir;
    PipedRun run = run_with_fault(row.fault, JOB_INPUT, dir.path);
    EXPECT_FALSE(run.timed_out);  // nobody waits for a generator that is gone
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, row.output);
    JobFile file = read_job_file(dir.file("dagoma0.g"));
    EXPECT_TRUE(file.opened);
    EXPECT_EQ(file.lines, row.lines);
    EXPECT_TRUE(file.whole_lines);
  }
}

TEST(Faults, InterruptsDuringTheJobAndTheDialogue) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    std::string kill = "kill -" + std::to_string(sig) + " $pid; ";
    PipedRun run = run_script(
        dir,
        "\"$0\" < values & pid=$!; "
        "while [ $( (wc -l < dagoma0.g) 2>/dev/null || echo 0) -lt 20000 ]; do sleep 0.05; done; " +
            kill + "wait $pid; echo status=$?",
        SHORT_TIMEOUT_MS);
    EXPECT_EQ(run.err, std::string(INTERRUPTED_TEXT) + "\n");
    EXPECT_EQ(run.out, "status=" + std::to_string(128 + sig) + "\n");
    JobFile file = read_job_file(dir.file("dagoma0.g"));
    EXPECT_GE(file.lines, 20000u);
    EXPECT_LT(file.lines, COMPLETE_JOB_LINES);
    EXPECT_TRUE(file.whole_lines);
  }
  // In the dialogue nothing has been written yet: no message, no file.
  TempDir dir;
  PipedRun run = run_script(dir,
                            "mkfifo keys; \"$0\" < keys & pid=$!; exec 3> keys; sleep 0.5; "
                            "kill -TERM $pid; wait $pid; echo status=$?",
                            SHORT_TIMEOUT_MS);
  EXPECT_EQ(run.out, "status=143\n");
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
}

TEST(Faults, StandardOutputThatCannotBeWritten) {
  // Closed, and a pipe whose reader is gone before the program starts:
  // neither ends the job, nor leaks into the file as a fatal SIGPIPE would.
  // The injected stop ends the job early; its message is on standard error.
  for (const char* redirect : {">&-", "3<>gone 4>gone 3<&- >&4"}) {
    SCOPED_TRACE(redirect);
    TempDir dir;
    PipedRun run = run_script(dir,
                              std::string("mkfifo gone; exec ") + redirect +
                                  "; VISOR_FAULT=stop-after=1000 \"$0\" < values; "
                                  "echo status=$? >&2",
                              SHORT_TIMEOUT_MS, VISOR_GCODE_FAULTS);
    EXPECT_EQ(run.err, "Generation stopped: dagoma0.g is incomplete.\nstatus=1\n");
    JobFile file = read_job_file(dir.file("dagoma0.g"));
    EXPECT_EQ(file.lines, 1000u);
    EXPECT_TRUE(file.whole_lines);
  }
}

TEST(Faults, HostileInputInPlainMode) {
  // Escape sequences, NUL bytes, bytes above 127, a very long line, a CR
  // without LF; then Delete starts the dialogue over and three good values
  // follow. The job is cut short after its header by the injected stop.
  const char start[] = "\x1b[31m\x1b[A\x00\x80\xff\xfe-\r";
  std::string input(start, sizeof start - 1);
  input += std::string(100000, '7') + "\n";
  input += std::string(
      "12\x00"
      "3\x1b"
      "4\r\r\n",
      9);
  input +=
      "\x7f"
      "0.4\n210\n300\n";
  TempDir dir;
  PipedRun run = run_with_fault("stop-after=5", input, dir.path);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(exit_code(run), 1);
  JobFile file = read_job_file(dir.file("dagoma0.g"));
  ASSERT_EQ(file.lines, 5u) << run.out;
  EXPECT_EQ(file.line(1), "; With z_start: 0.4 heat temp: 210 speed: 300");

  // Hostile input alone: it ends without three valid values.
  TempDir dir2;
  std::string garbage;
  for (int i = 0; i < 200000; ++i)
    garbage += static_cast<char>((i * 7919) % 256);
  PipedRun run2 = run_with_fault("stop-after=5", garbage, dir2.path);
  EXPECT_FALSE(run2.timed_out);
  ASSERT_TRUE(WIFEXITED(run2.wait_status)) << "ended by signal";
  // Either it never had three valid values, or it found three among the
  // bytes and started the job (cut short here).
  if (file_exists(dir2.file("dagoma0.g"))) {
    EXPECT_EQ(read_job_file(dir2.file("dagoma0.g")).lines, 5u);
  } else {
    EXPECT_EQ(exit_code(run2), 1);
    EXPECT_NE(run2.err.find(NO_INPUT_TEXT), std::string::npos);
  }
}

}  // namespace
