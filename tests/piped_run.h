#ifndef VISOR_TESTS_PIPED_RUN_H_
#define VISOR_TESTS_PIPED_RUN_H_

// Runs a program with pipes for its standard streams and no controlling
// terminal, the way a script or another program drives it.

#include <string>
#include <vector>

struct PipedRun {
  bool started = false;    // false: the process could not be set up
  bool timed_out = false;  // killed after the time-out
  int wait_status = 0;     // as waitpid reports it
  std::string out;         // everything written to standard output
  std::string err;         // everything written to standard error
};

// Starts argv[0] (a path) with argv in directory cwd, writes input to its
// standard input and then closes it, collects both output streams until
// the program exits. The time-out only guards against a hang.
PipedRun run_piped(const std::vector<std::string>& argv, const std::string& input,
                   const std::string& cwd, int timeout_ms);

// The exit status of a run that ended normally, -1 otherwise.
int exit_code(const PipedRun& run);

#endif  // VISOR_TESTS_PIPED_RUN_H_
