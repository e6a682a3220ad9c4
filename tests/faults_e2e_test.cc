// End-to-end tests of the real program's failure paths: nothing lost,
// nothing hangs, no failure reported as success. Failures a healthy machine
// never produces come from visor-gcode-faults, the same program built with
// failures injected on request (VISOR_FAULT).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "job_file.h"
#include "piped_run.h"
#include "program_under_test.h"
#include "pty_session.h"
#include "temp_dir.h"

// The program built with failures injected on request.
const char VISOR_GCODE_FAULTS[] = VISOR_GCODE_FAULTS_PATH;

namespace {

const char VALUES[] = "0.4\n210\n300\n";
constexpr int JOB_TIMEOUT_MS = 10 * 60 * 1000;  // a hang guard only
constexpr int SHORT_TIMEOUT_MS = 60 * 1000;

// The program with VISOR_FAULT set.
PipedRun run_with_fault(const std::string& fault, const std::string& input,
                        const std::string& cwd) {
  return run_piped({"/usr/bin/env", "VISOR_FAULT=" + fault, VISOR_GCODE_FAULTS}, input, cwd,
                   SHORT_TIMEOUT_MS);
}

// A shell script run with the program's path as $0 and the values in
// ./values, for runs that need the shell's hand (limits, signals, closed
// streams).
PipedRun run_script(const TempDir& dir, const std::string& script, int timeout_ms) {
  EXPECT_TRUE(write_file(dir.file("values"), VALUES));
  return run_piped({"/bin/sh", "-c", script, VISOR_GCODE}, "", dir.path, timeout_ms);
}

uint64_t line_count(const std::string& path) { return read_job_file(path, 0, 0).lines; }

TEST(Faults, FileCannotBeCreated) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("dagoma0.g").c_str(), 0755), 0);  // a folder in the way
  PipedRun run = run_piped({VISOR_GCODE}, VALUES, dir.path, SHORT_TIMEOUT_MS);
  EXPECT_EQ(exit_code(run), 1);
  EXPECT_EQ(run.err, "Cannot create file dagoma0.g.\n");

  // A folder nobody can write into, not even root.
  PipedRun in_proc = run_piped({VISOR_GCODE}, VALUES, "/proc", SHORT_TIMEOUT_MS);
  EXPECT_EQ(exit_code(in_proc), 1);
  EXPECT_EQ(in_proc.err, "Cannot create file dagoma0.g.\n");
}

TEST(Faults, WriteFailsDuringTheJob) {
  TempDir dir;
  // A file-size limit of 100 blocks, with the signal it raises ignored, so
  // that the write itself reports the failure.
  PipedRun run =
      run_script(dir, "ulimit -f 100; trap '' XFSZ; exec \"$0\" < values", SHORT_TIMEOUT_MS);
  EXPECT_EQ(exit_code(run), 1);
  EXPECT_EQ(run.err, "Cannot write file dagoma0.g.\n");
  JobFile file = read_job_file(dir.file("dagoma0.g"), 2, 1);
  ASSERT_TRUE(file.opened);
  EXPECT_GT(file.lines, 100u);
  EXPECT_LE(file.bytes, 100u * 1024u);
  EXPECT_TRUE(file.ends_with_newline);  // only whole lines
  ASSERT_EQ(file.head.size(), 2u);
  EXPECT_EQ(file.head[1], "; With z_start: 0.4 heat temp: 210 speed: 300");
}

TEST(Faults, SecondProgramLeavesTheFirstOnesFileAlone) {
  TempDir dir;
  PipedRun first;
  std::thread first_runner(
      [&] { first = run_piped({VISOR_GCODE}, VALUES, dir.path, JOB_TIMEOUT_MS); });
  // Wait until the first one is writing.
  for (int i = 0; i < 6000 && line_count(dir.file("dagoma0.g")) < 1000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  PipedRun second = run_piped({VISOR_GCODE}, "5\n200\n400\n", dir.path, SHORT_TIMEOUT_MS);
  first_runner.join();
  EXPECT_EQ(exit_code(second), 1);
  EXPECT_EQ(second.err, "Cannot create file dagoma0.g.\n");
  EXPECT_EQ(exit_code(first), 0);
  expect_complete_job(dir.file("dagoma0.g"), "0.4", "210", "300");
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
    PipedRun run = run_with_fault(row.fault, VALUES, dir.path);
    EXPECT_FALSE(run.timed_out);  // nobody waits for a generator that is gone
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, row.output);
    JobFile file = read_job_file(dir.file("dagoma0.g"), 0, 0);
    EXPECT_TRUE(file.opened);
    EXPECT_EQ(file.lines, row.lines);
    EXPECT_EQ(file.bytes == 0 || file.ends_with_newline, true);
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
    EXPECT_EQ(run.err, "Interrupted: dagoma0.g is incomplete.\n");
    EXPECT_EQ(run.out, "status=" + std::to_string(128 + sig) + "\n");
    JobFile file = read_job_file(dir.file("dagoma0.g"), 0, 0);
    EXPECT_GE(file.lines, 20000u);
    EXPECT_LT(file.lines, COMPLETE_JOB_LINES);
    EXPECT_TRUE(file.ends_with_newline);
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

TEST(Faults, TerminationOnATerminalGivesTheTerminalBack) {
  TempDir dir;
  PtySession s;
  std::string error;
  ASSERT_TRUE(pty_start(&s, {VISOR_GCODE}, 120, 30, dir.path, &error)) << error;
  ASSERT_TRUE(pty_wait_for_text(&s, Z_START_FIELD.prompt, SHORT_TIMEOUT_MS));
  for (const char* value : {"0.4", "210", "300"}) {
    pty_type(&s, value);
    pty_type(&s, KEY_ENTER);
    if (value[0] != '3')  // once the job runs the screen is never quiet
      pty_wait_quiet(&s, 100, SHORT_TIMEOUT_MS);
  }
  // Early in the job, seconds before its end: the first mark stands.
  ASSERT_TRUE(pty_wait_for_text_at(&s, 23, 14, "=", SHORT_TIMEOUT_MS)) << pty_screen_dump(s);
  kill(s.pid, SIGTERM);
  ASSERT_TRUE(pty_wait_exit(&s, SHORT_TIMEOUT_MS));
  ASSERT_TRUE(WIFEXITED(s.wait_status));
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 128 + SIGTERM);
  EXPECT_FALSE(s.alt_screen);
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_TRUE(pty_modes_restored(s));
  EXPECT_TRUE(pty_screen_contains(s, "Interrupted: dagoma0.g is incomplete."))
      << pty_screen_dump(s);
  JobFile file = read_job_file(dir.file("dagoma0.g"), 0, 0);
  EXPECT_TRUE(file.ends_with_newline);
  EXPECT_LT(file.lines, COMPLETE_JOB_LINES);
}

TEST(Faults, StandardOutputThatCannotBeWritten) {
  // Closed, and a pipe whose reader is gone: the job is done all the same.
  for (const char* script : {"exec >&-; \"$0\" < values; echo status=$? >&2",
                             "{ \"$0\" < values; echo status=$? >&2; } | true"}) {
    SCOPED_TRACE(script);
    TempDir dir;
    PipedRun run = run_script(dir, script, JOB_TIMEOUT_MS);
    EXPECT_EQ(run.err, "status=0\n");
    expect_complete_job(dir.file("dagoma0.g"), "0.4", "210", "300");
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
  JobFile file = read_job_file(dir.file("dagoma0.g"), 5, 0);
  ASSERT_EQ(file.head.size(), 5u) << run.out;
  EXPECT_EQ(file.head[1], "; With z_start: 0.4 heat temp: 210 speed: 300");

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
    EXPECT_EQ(line_count(dir2.file("dagoma0.g")), 5u);
  } else {
    EXPECT_EQ(exit_code(run2), 1);
    EXPECT_NE(run2.err.find("No input: dagoma0.g was not written."), std::string::npos);
  }
}

}  // namespace
