// terminal_bench [--runs N]
//
// The program's complete job on a pseudo-terminal of 120 x 30 cells, its
// output read through a terminal emulator as a person's terminal would
// (the end-to-end tests' harness), against the same job in plain mode
// (standard input a pipe). Target: the terminal run takes at most 1.1 times
// the plain one. N rounds (default 3), each one run of either kind.

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job_file.h"
#include "piped_run.h"
#include "program_under_test.h"
#include "pty_session.h"
#include "temp_dir.h"

namespace {

// Only guard against a hang.
constexpr int JOB_MS = 900000;
constexpr int SCREEN_MS = 30000;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string load_average() {
  std::string text;
  if (!read_file("/proc/loadavg", &text))
    return "?";
  size_t end = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
  return end == std::string::npos ? "?" : text.substr(0, end);
}

bool complete(const TempDir& dir) {
  JobFile job = read_job_file(dir.file("dagoma0.g"), 0, 0);
  return job.opened && job.lines == COMPLETE_JOB_LINES && job.ends_with_newline;
}

// Seconds from start to exit; -1 when the run failed.
double plain_run() {
  TempDir dir;
  auto start = std::chrono::steady_clock::now();
  PipedRun run = run_piped({VISOR_GCODE}, "0.4\n210\n300\n", dir.path, JOB_MS);
  double seconds = seconds_since(start);
  return exit_code(run) == 0 && complete(dir) ? seconds : -1;
}

bool type_value(PtySession* s, const Field& f, const char* text) {
  if (!pty_wait_for_text_at(s, TEXT_COL, f.row, f.prompt, SCREEN_MS))
    return false;
  pty_wait_quiet(s, 100, SCREEN_MS);  // input is flushed before each field
  pty_type(s, text);
  pty_type(s, KEY_ENTER);
  return true;
}

// Seconds from the last Enter to the result on the screen; -1 when the run
// failed.
double terminal_run() {
  TempDir dir;
  PtySession s;
  std::string error;
  if (!pty_start(&s, {VISOR_GCODE}, 120, 30, dir.path, &error)) {
    fprintf(stderr, "terminal_bench: %s\n", error.c_str());
    return -1;
  }
  if (!type_value(&s, Z_START_FIELD, "0.4") || !type_value(&s, HEAT_TEMP_FIELD, "210"))
    return -1;
  if (!pty_wait_for_text_at(&s, TEXT_COL, SPEED_FIELD.row, SPEED_FIELD.prompt, SCREEN_MS))
    return -1;
  pty_wait_quiet(&s, 100, SCREEN_MS);
  pty_type(&s, "300");
  auto start = std::chrono::steady_clock::now();
  pty_type(&s, KEY_ENTER);
  if (!pty_wait_for_text_at(&s, TEXT_COL, 15, CREATED_TEXT, JOB_MS))
    return -1;
  double seconds = seconds_since(start);
  pty_type(&s, "x");
  if (!pty_wait_exit(&s, SCREEN_MS) || !WIFEXITED(s.wait_status) ||
      WEXITSTATUS(s.wait_status) != 0)
    return -1;
  return complete(dir) ? seconds : -1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

const char VISOR_GCODE[] = VISOR_GCODE_PATH;

int main(int argc, char** argv) {
  int rounds = 3;
  if (argc == 3 && strcmp(argv[1], "--runs") == 0)
    rounds = atoi(argv[2]);
  if ((argc != 1 && argc != 3) || rounds < 1) {
    fprintf(stderr, "usage: %s [--runs N]\n", argv[0]);
    return 2;
  }
  std::vector<double> plain, terminal, ratios;
  for (int round = 1; round <= rounds; ++round) {
    printf("round %d of %d, load average %s\n", round, rounds, load_average().c_str());
    fflush(stdout);
    double p = plain_run();
    double t = terminal_run();
    if (p < 0 || t < 0) {
      fprintf(stderr, "terminal_bench: a run failed (plain %.2f, terminal %.2f)\n", p, t);
      return 1;
    }
    printf("  plain %6.2f s   terminal %6.2f s   ratio %.2f\n", p, t, t / p);
    fflush(stdout);
    plain.push_back(p);
    terminal.push_back(t);
    ratios.push_back(t / p);
  }
  printf("load average after      %s\n", load_average().c_str());
  printf("median plain            %.2f s\n", median(plain));
  printf("median terminal         %.2f s\n", median(terminal));
  printf("median ratio            %.2f   (target <= 1.1)\n", median(ratios));
  return 0;
}
