// terminal_bench [--runs N]
//
// The program's complete job on a pseudo-terminal of 120 x 30 cells, its
// output read through a terminal emulator as a person's terminal would
// (the end-to-end tests' harness), against the same job in plain mode
// (standard input a pipe). Target: the terminal run takes at most 1.1 times
// the plain one. N rounds (default 3), each one run of either kind; the
// figures are the medians.

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "job_file.h"
#include "program_under_test.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string load_average() {
  std::optional<std::string> text = read_file("/proc/loadavg");
  if (!text)
    return "?";
  size_t end = text->find(' ', text->find(' ', text->find(' ') + 1) + 1);
  return end == std::string::npos ? "?" : text->substr(0, end);
}

bool complete(const TempDir& dir) {
  JobFile job = read_job_file(dir.file("dagoma0.g"));
  return job.opened && job.lines == COMPLETE_JOB_LINES && job.whole_lines && !job.has_end_marker;
}

// Seconds from start to exit; -1 when the run failed.
double plain_run() {
  TempDir dir;
  auto start = std::chrono::steady_clock::now();
  PipedRun run = run_plain(dir, JOB_INPUT);
  double seconds = seconds_since(start);
  return exit_code(run) == 0 && complete(dir) ? seconds : -1;
}

// Seconds from the last Enter to the closing message on the screen; -1 when
// the run failed.
double terminal_run() {
  TempDir dir;
  PtySession s;
  testing::AssertionResult step = start_on_terminal(&s, dir);
  if (step)
    step = enter_value(&s, Z_START_FIELD, "0.4");
  if (step)
    step = enter_value(&s, HEAT_TEMP_FIELD, "210");
  if (step)
    step = type_into(&s, SPEED_FIELD, "300");
  if (!step) {
    fprintf(stderr, "terminal_bench: %s\n", step.message());
    return -1;
  }
  auto start = std::chrono::steady_clock::now();
  pty_type(&s, KEY_ENTER);
  if (!pty_wait_for_text_at(&s, TEXT_COL, 15, CREATED_TEXT, JOB_MS))
    return -1;
  double seconds = seconds_since(start);
  pty_type(&s, "x");
  if (!pty_wait_exit(&s, SCREEN_MS) || !WIFEXITED(s.wait_status) || WEXITSTATUS(s.wait_status) != 0)
    return -1;
  return complete(dir) ? seconds : -1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  if (argc == 3 && strcmp(argv[1], "--runs") == 0)
    rounds = atoi(argv[2]);
  if ((argc != 1 && argc != 3) || rounds < 1) {
    fprintf(stderr, "usage: %s [--runs N]\n", argv[0]);
    return 2;
  }
  printf("On a terminal (120 x 30 pseudo-terminal) against plain mode, %d rounds\n", rounds);
  std::vector<double> plain, terminal, ratios;
  for (int round = 1; round <= rounds; ++round) {
    std::string load = load_average();
    double p = plain_run();
    double t = terminal_run();
    if (p < 0 || t < 0) {
      fprintf(stderr, "terminal_bench: a run failed (plain %.2f, terminal %.2f)\n", p, t);
      return 1;
    }
    printf("  round %d  plain %6.2f s  terminal %6.2f s  ratio %.2f   (load %s)\n", round, p, t,
           t / p, load.c_str());
    fflush(stdout);
    plain.push_back(p);
    terminal.push_back(t);
    ratios.push_back(t / p);
  }
  printf("  median plain %.2f s, terminal %.2f s\n", median(plain), median(terminal));
  printf("RESULT terminal / plain run       %5.2f   (target <= 1.1)   load after %s\n",
         median(ratios), load_average().c_str());
  return 0;
}
