// End-to-end tests of the real program's failure paths: nothing lost,
// nothing hangs, no failure reported as success. Failures a healthy machine
// never produces come from visor-gcode-faults, the same program built with
// failures injected on request (VISOR_FAULT).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
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

// Shell functions for the scripts: `job PID`, a /proc path of the file the
// run PID writes its job into (it has no name until the end, or a fresh
// temporary one where the file system has no files without a name);
// `lines PID`, its lines so far.
const char SHELL_FUNCTIONS[] =
    "job() { d=$(pwd -P); for f in /proc/$1/fd/*; do case \"$(readlink $f)\" in "
    "\"$d/#\"*|\"$d\"/dagoma0.g.*.part) echo $f; return;; esac; done; }; "
    "lines() { f=$(job $1); [ -n \"$f\" ] && wc -l < $f 2>/dev/null || echo 0; }; ";

// A shell script run with the program's path as $0 and the values in
// ./values, for runs that need the shell's hand (limits, signals, closed
// streams).
PipedRun run_script(const TempDir& dir, const std::string& script, int timeout_ms,
                    const char* program = VISOR_GCODE) {
  EXPECT_TRUE(write_file(dir.file("values"), JOB_INPUT));
  return run_piped({"/bin/sh", "-c", SHELL_FUNCTIONS + script, program}, "", dir.path, timeout_ms);
}

// The job an earlier run left, which no failed run may touch.
const char PREVIOUS_JOB[] = "; an earlier job\nG90\nG28\nM84\n";

// Each entry of the folder but dagoma0.g, with what a run could change of
// it: its type, mode and owner, and its content or a link's target; not its
// link count, which a new link elsewhere changes.
using FolderState = std::map<std::string, std::string>;
FolderState others_in(const TempDir& dir) {
  FolderState state;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
    std::string name = entry.path().filename().string();
    struct stat st;
    if (name == "dagoma0.g" || lstat(entry.path().c_str(), &st) != 0)
      continue;
    std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + " ";
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(entry.path().c_str(), target, sizeof target);
      what += std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (S_ISREG(st.st_mode)) {
      what += read_file(entry.path().string()).value_or("(unreadable)");
    }
    state[name] = what;
  }
  return state;
}

// dagoma0.g still holds the earlier job, byte for byte, and every other
// entry of the folder is as it was: nothing of the run is left.
void expect_previous_job_kept(const TempDir& dir, const FolderState& before) {
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), PREVIOUS_JOB);
  EXPECT_EQ(others_in(dir), before);
}

// A folder with the earlier job and the values, and its state.
FolderState with_previous_job(const TempDir& dir) {
  EXPECT_TRUE(write_file(dir.file("dagoma0.g"), PREVIOUS_JOB));
  EXPECT_TRUE(write_file(dir.file("values"), JOB_INPUT));
  return others_in(dir);
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

// The usual permissions of a new file of this user.
void expect_new_file(const std::string& path) {
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(st.st_nlink, 1u);
}

// Waits, in the shell, until the run $pid has written `lines` lines into
// its temporary file, or has ended.
std::string wait_for_lines(int lines) {
  return "while kill -0 $pid 2>/dev/null && [ $(lines $pid) -lt " + std::to_string(lines) +
         " ]; do sleep 0.05; done; ";
}

// Starts the program in the background with VISOR_FAULT=`fault`, waits
// until it has written 20,000 lines, then runs `then` with its pid in $pid.
// A short job that `then` must find still running (end-after=) needs a
// million lines or more: the shell's forks are slow beside the job's two
// busy threads on a loaded machine.
PipedRun run_beside_job(const TempDir& dir, const std::string& fault, const std::string& then,
                        const char* program = VISOR_GCODE_FAULTS) {
  return run_script(
      dir, "VISOR_FAULT=" + fault + " \"$0\" < values & pid=$!; " + wait_for_lines(20000) + then,
      SHORT_TIMEOUT_MS, program);
}

// Where the job goes: a file of no name, as wherever the file system has
// them, or a file of a fresh name, as on vfat (VISOR_FAULT, set before the
// program in a script).
struct Variant {
  const char* name;
  const char* fault;
};
const Variant VARIANTS[] = {{"a file of no name", ""}, {"a file of a fresh name", "no-tmpfile"}};

// Every signal whose default action ends the process but SIGKILL, which
// cannot be caught (below), and SIGXFSZ, a failed write (below).
const int ENDING_SIGNALS[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,
    SIGUSR1, SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGVTALRM,
    SIGPROF, SIGIO,   SIGPWR,  SIGSYS,  34,      64,  // the first and last real-time signals the
                                                      // program may get
};

// Every way a run can fail leaves the previous dagoma0.g as it was, and
// leaves nothing of its own in the folder.
TEST(Faults, EveryFailedRunLeavesThePreviousJobAsItWas) {
  for (int sig : ENDING_SIGNALS) {
    SCOPED_TRACE("interrupted by signal " + std::to_string(sig));
    TempDir dir;
    FolderState before = with_previous_job(dir);
    PipedRun run = run_beside_job(
        dir, "", "kill -" + std::to_string(sig) + " $pid; wait $pid; echo status=$?", VISOR_GCODE);
    EXPECT_EQ(run.err, std::string(INTERRUPTED_TEXT) + "\n");
    EXPECT_EQ(run.out, "status=" + std::to_string(128 + sig) + "\n");
    expect_previous_job_kept(dir, before);
  }
  {
    SCOPED_TRACE("interrupted while the job goes into a file of a fresh name");
    TempDir dir;
    FolderState before = with_previous_job(dir);
    PipedRun run = run_beside_job(dir, "no-tmpfile", "kill -TERM $pid; wait $pid; echo status=$?");
    EXPECT_EQ(run.err, std::string(INTERRUPTED_TEXT) + "\n");
    EXPECT_EQ(run.out, "status=143\n");
    expect_previous_job_kept(dir, before);
  }
  for (const Variant& v : VARIANTS) {
    SCOPED_TRACE(std::string("the file-size limit, ") + v.name);
    TempDir dir;
    FolderState before = with_previous_job(dir);
    // 100 blocks; SIGXFSZ would end the process, and the write fails instead.
    PipedRun run = run_script(
        dir, "ulimit -f 100; VISOR_FAULT=" + std::string(v.fault) + " exec \"$0\" < values",
        SHORT_TIMEOUT_MS, VISOR_GCODE_FAULTS);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, "Cannot write file dagoma0.g: File too large. dagoma0.g was not changed.\n");
    expect_previous_job_kept(dir, before);
  }
#ifndef __SANITIZE_ADDRESS__  // its shadow memory alone is larger than the limits
  for (int kb : {12000, 40000}) {
    // The address space refused: where a thread cannot be had, or where an
    // allocation of either thread fails, a message says so.
    SCOPED_TRACE("memory limited to " + std::to_string(kb) + " kB");
    TempDir dir;
    FolderState before = with_previous_job(dir);
    PipedRun run = run_script(dir, "ulimit -v " + std::to_string(kb) + "; exec \"$0\" < values",
                              SHORT_TIMEOUT_MS);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_TRUE(run.err == "Out of memory: dagoma0.g was not changed.\n" ||
                run.err == "Cannot create thread. dagoma0.g was not changed.\n")
        << run.err;
    expect_previous_job_kept(dir, before);
  }
#endif
  for (const Variant& v : VARIANTS) {
    SCOPED_TRACE(std::string("a second run in the same folder, then the first one killed, ") +
                 v.name);
    TempDir dir;
    FolderState before = with_previous_job(dir);
    ASSERT_TRUE(write_file(dir.file("values2"), "5\n200\n400\n"));
    before = others_in(dir);
    PipedRun run = run_beside_job(dir, v.fault,
                                  "\"$0\" < values2; echo second=$?; cp dagoma0.g after_second; "
                                  "kill -KILL $pid; wait $pid 2>/dev/null; echo first=$?");
    EXPECT_EQ(run.out, "second=1\nfirst=" + std::to_string(128 + SIGKILL) + "\n");
    EXPECT_EQ(run.err, std::string(IN_USE_TEXT) + "\n");
    EXPECT_EQ(read_file(dir.file("after_second")), PREVIOUS_JOB);
    ASSERT_EQ(unlink(dir.file("after_second").c_str()), 0);
    // A killed run removes nothing, and a file of no name leaves nothing.
    // A file of a fresh name stays, and the next run removes it.
    FolderState after = others_in(dir);
    if (*v.fault != '\0') {
      ASSERT_EQ(after.size(), before.size() + 1);
      auto left = std::find_if(after.begin(), after.end(),
                               [&](const auto& e) { return before.count(e.first) == 0; });
      EXPECT_TRUE(left->first.starts_with("dagoma0.g.") && left->first.ends_with(".part"))
          << left->first;
      after.erase(left);
    }
    EXPECT_EQ(after, before);
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), PREVIOUS_JOB);
    PipedRun next = run_short_job(dir);
    EXPECT_EQ(exit_code(next), 0) << next.err;
    // The result, then what the short job would take.
    EXPECT_TRUE(next.out.starts_with(std::string(CREATED_TEXT) + "\n")) << next.out;
    expect_short_job(dir.file("dagoma0.g"));
    EXPECT_EQ(others_in(dir), before);
  }
  {
    // A file of no name cannot be removed; of a fresh name, the run finds
    // at the end that its name is gone, and installs nothing.
    SCOPED_TRACE("the temporary file removed during the job, then a second run");
    TempDir dir;
    FolderState before = with_previous_job(dir);
    ASSERT_TRUE(write_file(dir.file("values2"), "5\n200\n400\n"));
    before = others_in(dir);
    PipedRun run = run_beside_job(dir, "no-tmpfile,end-after=1500000",
                                  "rm dagoma0.g.*.part; \"$0\" < values2; echo second=$?; "
                                  "wait $pid; echo first=$?");
    EXPECT_EQ(run.out, "second=1\nfirst=1\n");
    EXPECT_EQ(run.err, std::string(IN_USE_TEXT) +
                           "\nCannot create file dagoma0.g: Another program changed its "
                           "temporary file. dagoma0.g was not changed.\n");
    expect_previous_job_kept(dir, before);
  }
  for (const Variant& v : VARIANTS) {
    // Reached through /proc (by its owner or root) or by its name: a file
    // of no name that is mapped faults at the next line, one written line
    // by line is found at the flush.
    SCOPED_TRACE(std::string("another program cuts the file during the job, ") + v.name);
    TempDir dir;
    FolderState before = with_previous_job(dir);
    PipedRun run = run_beside_job(dir, std::string(v.fault) + ",end-after=1500000",
                                  ": > $(job $pid); wait $pid; echo status=$?");
    EXPECT_EQ(run.out, "status=1\n");
    EXPECT_TRUE(run.err.starts_with("Cannot write file dagoma0.g: ")) << run.err;
    EXPECT_TRUE(run.err.ends_with(". dagoma0.g was not changed.\n")) << run.err;
    if (*v.fault != '\0') {
      EXPECT_EQ(run.err,
                "Cannot write file dagoma0.g: Another program changed its temporary file. "
                "dagoma0.g was not changed.\n");
    }
    expect_previous_job_kept(dir, before);
  }
  {
    SCOPED_TRACE("leftovers: hard links to another file, another user's file without reading");
    TempDir dir;
    FolderState before = with_previous_job(dir);
    ASSERT_TRUE(write_file(dir.file("precious.txt"), "the operator's notes\n"));
    before = others_in(dir);
    // The name older versions used, and a fresh name a killed run left.
    ASSERT_EQ(link(dir.file("precious.txt").c_str(), dir.file("dagoma0.g.part").c_str()), 0);
    ASSERT_EQ(link(dir.file("precious.txt").c_str(), dir.file("dagoma0.g.0123abcd.part").c_str()),
              0);
    ASSERT_TRUE(write_file(dir.file("dagoma0.g.89abcdef.part"), "G1 X1.000 Y2.0"));
    ASSERT_EQ(chmod(dir.file("dagoma0.g.89abcdef.part").c_str(), 0200), 0);
    if (geteuid() == 0) {
      ASSERT_EQ(chown(dir.file("dagoma0.g.89abcdef.part").c_str(), 65534, 65534), 0);
    }
    // Removed, never written into, by a run that fails...
    PipedRun stopped = run_with_fault("stop-after=1000", JOB_INPUT, dir.path);
    EXPECT_EQ(exit_code(stopped), 1);
    expect_previous_job_kept(dir, before);
    // ...and by one that does not; the new file is this user's new file.
    ASSERT_EQ(link(dir.file("precious.txt").c_str(), dir.file("dagoma0.g.part").c_str()), 0);
    PipedRun run = run_short_job(dir);
    EXPECT_EQ(exit_code(run), 0) << run.err;
    expect_short_job(dir.file("dagoma0.g"));
    expect_new_file(dir.file("dagoma0.g"));
    EXPECT_EQ(others_in(dir), before);
  }
  {
    // In a sticky folder only the folder's owner, the file's owner or a
    // privileged user may replace a file: a rename that would fail after
    // the whole job is refused before anything is asked. Only root can
    // give a file to another user; others skip this case.
    SCOPED_TRACE("a sticky folder with another user's dagoma0.g");
    if (geteuid() == 0) {
      TempDir dir;
      ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
      const std::string shared = dir.file("shared");
      ASSERT_EQ(mkdir(shared.c_str(), 0755), 0);
      ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
      ASSERT_TRUE(write_file(shared + "/dagoma0.g", PREVIOUS_JOB));
      ASSERT_EQ(chown((shared + "/dagoma0.g").c_str(), 65534, 65534), 0);
      PipedRun run = run_piped(
          {"/usr/bin/setpriv", "--reuid=65533", "--regid=65533", "--clear-groups", VISOR_GCODE}, "",
          shared, SHORT_TIMEOUT_MS);
      EXPECT_EQ(exit_code(run), 1);
      EXPECT_EQ(run.err, "Cannot create file dagoma0.g: Operation not permitted.\n");
      EXPECT_EQ(read_file(shared + "/dagoma0.g"), PREVIOUS_JOB);
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(shared),
                              std::filesystem::directory_iterator()),
                1);
      // Root may replace it.
      PipedRun as_root = run_with_fault("end-after=1000", JOB_INPUT, shared);
      EXPECT_EQ(exit_code(as_root), 0) << as_root.err;
      expect_short_job(shared + "/dagoma0.g");
    }
  }
  {
    SCOPED_TRACE("dagoma0.g is a link to a file elsewhere");
    TempDir dir;
    TempDir elsewhere;
    ASSERT_TRUE(write_file(elsewhere.file("target"), PREVIOUS_JOB));
    ASSERT_EQ(symlink(elsewhere.file("target").c_str(), dir.file("dagoma0.g").c_str()), 0);
    PipedRun stopped = run_with_fault("stop-after=1000", JOB_INPUT, dir.path);
    EXPECT_EQ(exit_code(stopped), 1);
    expect_previous_job_kept(dir, {});  // read through the link
    // A complete job replaces the link; what it pointed to is never opened.
    PipedRun run = run_short_job(dir);
    EXPECT_EQ(exit_code(run), 0) << run.err;
    expect_new_file(dir.file("dagoma0.g"));
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
    expect_new_file(dir.file("dagoma0.g"));
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
    EXPECT_EQ(others_in(dir), FolderState{});
  }
  {
    SCOPED_TRACE("a folder that cannot be written");
    // Reported before anything is asked: no values are given. Permission
    // bits do not stop root, so root runs the program as nobody in a
    // folder of root's; anyone else in a folder without write permission.
    // Then, as root in /proc, where nobody can create a file, the refusal
    // comes when the file is created.
    TempDir dir;
    FolderState before = with_previous_job(dir);
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(dir.path.c_str(), root ? 0755 : 0555), 0);
    PipedRun run = root ? run_piped({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", VISOR_GCODE},
                                    "", dir.path, SHORT_TIMEOUT_MS)
                        : run_plain(dir, "", SHORT_TIMEOUT_MS);
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, "Cannot create file dagoma0.g: Permission denied.\n");
    expect_previous_job_kept(dir, before);
    PipedRun in_proc = run_piped({VISOR_GCODE}, JOB_INPUT, "/proc", SHORT_TIMEOUT_MS);
    EXPECT_EQ(exit_code(in_proc), 1);
    EXPECT_EQ(in_proc.err, "Cannot create file dagoma0.g: No such file or directory.\n");
  }
  if (geteuid() == 0) {
    // A drop box (mode 1733): another user may add files but not read the
    // folder, so it cannot be locked, and two runs would not be kept apart.
    SCOPED_TRACE("a folder that can be written but not read");
    TempDir dir;
    ASSERT_EQ(chmod(dir.path.c_str(), 01733), 0);
    PipedRun run = run_piped(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", VISOR_GCODE},
        JOB_INPUT, dir.path, SHORT_TIMEOUT_MS);
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err,
              "Cannot create file dagoma0.g: The folder cannot be locked against another run "
              "(Permission denied).\n");
    EXPECT_EQ(others_in(dir), FolderState{});
  }
  if (geteuid() == 0) {
    // Files may be added to an append-only folder, but neither renamed nor
    // removed: refused before anything is written, nothing left.
    SCOPED_TRACE("an append-only folder");
    TempDir dir;
    FolderState before = with_previous_job(dir);
    if (system(("chattr +a '" + dir.path + "' 2>/dev/null").c_str()) == 0) {
      PipedRun run = run_plain(dir, JOB_INPUT, SHORT_TIMEOUT_MS);
      ASSERT_EQ(system(("chattr -a '" + dir.path + "'").c_str()), 0);
      EXPECT_EQ(exit_code(run), 1);
      EXPECT_EQ(run.err, "Cannot create file dagoma0.g: Operation not permitted.\n");
      expect_previous_job_kept(dir, before);
      // Made so during the job: the rename and the removal are refused, and
      // the message names what stays.
      PipedRun late = run_beside_job(dir, "no-tmpfile,end-after=1500000",
                                     "chattr +a .; wait $pid; echo status=$?; chattr -a .");
      EXPECT_EQ(late.out, "status=1\n");
      EXPECT_TRUE(
          late.err.starts_with("Cannot create file dagoma0.g: Operation not permitted. "
                               "dagoma0.g was not changed. Its temporary file could not "
                               "be removed: "))
          << late.err;
      std::string left = late.err.substr(late.err.rfind(' ') + 1);
      left.pop_back();  // the line end
      EXPECT_TRUE(file_exists(dir.file(left))) << left;
      EXPECT_EQ(unlink(dir.file(left).c_str()), 0);
    }
  }
}

// Once the job is in place, an interrupt at the closing wait ends the run
// as the key would: the terminal is given back, the result printed below
// it, and the status says that the job was written.
TEST(Faults, InterruptAtTheClosingWaitKeepsTheResult) {
  TempDir dir;
  PtySession s;
  std::string error;
  ASSERT_TRUE(pty_start(&s, {"/usr/bin/env", "VISOR_FAULT=end-after=1000", VISOR_GCODE_FAULTS}, 120,
                        30, dir.path, &error))
      << error;
  ASSERT_TRUE(enter_value(&s, Z_START_FIELD, "0.4"));
  ASSERT_TRUE(enter_value(&s, HEAT_TEMP_FIELD, "210"));
  ASSERT_TRUE(enter_value(&s, SPEED_FIELD, "300"));
  ASSERT_TRUE(pty_wait_for_text_at(&s, TEXT_COL, 15, CREATED_TEXT, SCREEN_MS))
      << pty_screen_dump(s);
  pty_wait_quiet(&s, 300, SCREEN_MS);
  ASSERT_FALSE(s.exited) << "the program must wait for a key";
  pty_type(&s, KEY_CTRL_C);
  ASSERT_TRUE(pty_wait_exit(&s, SCREEN_MS)) << pty_screen_dump(s);
  SCOPED_TRACE(pty_screen_dump(s));
  ASSERT_TRUE(WIFEXITED(s.wait_status)) << "ended by a signal";
  EXPECT_EQ(WEXITSTATUS(s.wait_status), 0);
  EXPECT_TRUE(s.cursor_visible);
  EXPECT_FALSE(s.alt_screen);
  EXPECT_TRUE(pty_modes_restored(s));
  EXPECT_TRUE(pty_screen_contains(s, CREATED_TEXT));
  EXPECT_TRUE(pty_screen_contains(s, "Print time:       "));
  EXPECT_TRUE(pty_screen_contains(s, "Height:           Z "));
  EXPECT_FALSE(pty_screen_contains(s, INTERRUPTED_TEXT));
  expect_short_job(dir.file("dagoma0.g"));
  EXPECT_EQ(others_in(dir), FolderState{});
}

// A signal that comes once the rename has put the job in place, before the
// program itself knows it, never says that dagoma0.g was not changed: it
// ends the run as the job written. A fault (SIGSEGV, SIGABRT) is taken at
// once, inside the commit; a request (SIGTERM) waits for its end.
TEST(Faults, ASignalAfterTheRenameEndsTheRunAsTheJobWritten) {
  for (int sig : {SIGSEGV, SIGABRT, SIGTERM}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    with_previous_job(dir);
    PipedRun run = run_with_fault("end-after=1000,signal-after-rename=" + std::to_string(sig),
                                  JOB_INPUT, dir.path);
    EXPECT_EQ(exit_code(run), 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.starts_with(std::string(CREATED_TEXT) + "\n")) << run.out;
    expect_short_job(dir.file("dagoma0.g"));
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
    FolderState before = with_previous_job(dir);
    PipedRun run = run_with_fault(row.fault, JOB_INPUT, dir.path);
    EXPECT_FALSE(run.timed_out);  // nobody waits for a generator that is gone
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_EQ(run.err, row.output);
    expect_previous_job_kept(dir, before);
  }
}

// An interrupt while the dialogue waits says so, and what holds: nothing
// was written, or the file that stood is as it was.
TEST(Faults, InterruptDuringTheDialogueWritesNothingAndSaysSo) {
  for (bool previous : {false, true}) {
    SCOPED_TRACE(previous ? "a previous job stands" : "no file stands");
    TempDir dir;
    if (previous) {
      ASSERT_TRUE(write_file(dir.file("dagoma0.g"), PREVIOUS_JOB));
    }
    PipedRun run = run_script(dir,
                              "mkfifo keys; \"$0\" < keys & pid=$!; exec 3> keys; sleep 0.5; "
                              "kill -TERM $pid; wait $pid; echo status=$?",
                              SHORT_TIMEOUT_MS);
    EXPECT_EQ(run.out, "status=143\n");
    EXPECT_EQ(run.err, previous ? "Interrupted: dagoma0.g was not changed.\n"
                                : "Interrupted: dagoma0.g was not written.\n");
    EXPECT_EQ(read_file(dir.file("dagoma0.g")),
              previous ? std::optional<std::string>(PREVIOUS_JOB) : std::nullopt);
    FolderState after = others_in(dir);  // the script's own files only
    EXPECT_EQ(after.size(), 2u);
    EXPECT_TRUE(after.count("keys") == 1 && after.count("values") == 1);
  }
}

TEST(Faults, StandardOutputThatCannotBeWritten) {
  // Closed, and a pipe whose reader is gone before the program starts:
  // neither ends the job, nor leaks into the file as a fatal SIGPIPE would,
  // and the reader chose to read no more. A full device is a write that
  // failed: said, status 1, the job in place all the same. The injected end
  // marker makes the job a short one.
  const struct {
    const char* redirect;
    const char* err;
  } cases[] = {
      {">&-", "status=0\n"},
      {"3<>gone 4>gone 3<&- >&4", "status=0\n"},
      {">/dev/full",
       "visor-gcode: write error: No space left on device; dagoma0.g holds the complete job.\n"
       "status=1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.redirect);
    TempDir dir;
    PipedRun run = run_script(dir,
                              std::string("mkfifo gone; exec ") + c.redirect +
                                  "; VISOR_FAULT=end-after=1000 \"$0\" < values; "
                                  "echo status=$? >&2",
                              SHORT_TIMEOUT_MS, VISOR_GCODE_FAULTS);
    EXPECT_EQ(run.err, c.err);
    expect_short_job(dir.file("dagoma0.g"));
  }
  // An answer lost so is said too.
  TempDir dir;
  for (const char* args : {"--help", "--version"}) {
    PipedRun run = run_script(dir, std::string("\"$0\" ") + args + " >/dev/full; echo status=$?",
                              SHORT_TIMEOUT_MS);
    EXPECT_EQ(run.err, "visor-gcode: write error: No space left on device\n") << args;
    EXPECT_EQ(run.out, "status=1\n") << args;
  }
}

TEST(Faults, HostileInputInPlainMode) {
  // Escape sequences, NUL bytes, bytes above 127, a very long line, a lone
  // CR, a DEL: each line no value, which ends the run from a stream, shown
  // so that no byte of it acts on a terminal; nothing is written.
  const std::string hostile[] = {"\x1b[31m\x1b[A", std::string("\x00\x80\xff\xfe-", 5),
                                 std::string(100000, '7'),
                                 std::string("12\x00"
                                             "3\x1b"
                                             "4\r",
                                             7),
                                 "\x7f"};
  for (const std::string& line : hostile) {
    SCOPED_TRACE(testing::PrintToString(line.substr(0, 20)));
    TempDir dir;
    PipedRun run = run_with_fault("end-after=5", "0.4\n" + line + "\n210\n300\n", dir.path);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(exit_code(run), 1);
    EXPECT_TRUE(
        run.err.starts_with("Error:            typed number is invalid: heating "
                            "temperature \""))
        << run.err;
    EXPECT_TRUE(run.err.ends_with("\nInvalid value: dagoma0.g was not written.\n")) << run.err;
    EXPECT_EQ(run.err.find_first_of(std::string("\x1b\x00\x7f\x80", 4)), std::string::npos);
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g")));
  }

  // Hostile input alone: it ends without three valid values, or it found
  // three among the bytes and wrote the job (a short one here).
  TempDir dir2;
  std::string garbage;
  for (int i = 0; i < 200000; ++i)
    garbage += static_cast<char>((i * 7919) % 256);
  PipedRun run2 = run_with_fault("end-after=5", garbage, dir2.path);
  EXPECT_FALSE(run2.timed_out);
  ASSERT_TRUE(WIFEXITED(run2.wait_status)) << "ended by signal";
  if (file_exists(dir2.file("dagoma0.g"))) {
    EXPECT_EQ(read_job_file(dir2.file("dagoma0.g")).lines, 5u);
  } else {
    EXPECT_EQ(exit_code(run2), 1);
  }
}

}  // namespace
