// job_bench [--runs N] [Z_START HEAT_TEMP SPEED]
//
// Measures the complete job on this machine. Once:
//  - through the channel with no file, to show the channel's share;
//  - generating and formatting alone, no channel and no file (target: under
//    0.5 s);
//  - the peak memory of the job (target: under 16 MB).
// Then N rounds (default 3), each:
//  1. the job's bytes written by a bare loop of one write(2) per line: the
//     floor the job can only approach;
//  2. the job quiet: through the real channel into a file in a temporary
//     folder, one write(2) per line before its acknowledgement, as the
//     program does (target: 1.6 times the bare loop or less);
//  3. the same beside one, then beside two CPU-bound processes that the
//     benchmark starts and ends itself (targets on a 2-core machine: 2.0
//     and 4.0 times the quiet job of the same round or less).
// The RESULT lines give the medians of the rounds' ratios.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "busy_load.h"
#include "channel/line_channel.h"
#include "generator/generator_thread.h"
#include "platform/thread.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct CpuUse {
  double cpu_s;    // user and system time of this process
  long switches;   // voluntary context switches
  long preempted;  // involuntary ones
};

CpuUse cpu_use() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {s(usage.ru_utime) + s(usage.ru_stime), usage.ru_nvcsw, usage.ru_nivcsw};
}

long peak_kib() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The program's receive loop, without a console; with fd -1 the lines are
// only taken and acknowledged. Returns the line count.
size_t job_through_channel(const TypedValues& typed, int fd) {
  auto ch_owner = std::make_unique<LineChannel>();
  auto generator_owner = std::make_unique<GeneratorThread>();
  LineChannel& ch = *ch_owner;
  GeneratorThread& generator = *generator_owner;
  generator.typed = &typed;
  generator.channel = &ch;
  Thread thread;
  if (channel::listen(&ch) != 1 || start_thread(&thread, generator_thread_main, &generator) != 1 ||
      channel::accept(&ch) != 1) {
    fprintf(stderr, "job_bench: the generator did not start\n");
    exit(1);
  }
  char line[LINE_BUFFER_SIZE] = {};
  size_t n = 0, lines = 0;
  while (channel::receive_line(&ch, line, &n) == RECEIVED_LINE) {
    if (fd >= 0 && write(fd, line, n) != static_cast<ssize_t>(n)) {
      perror("job_bench: write");
      exit(1);
    }
    ++lines;
    channel::acknowledge(&ch);
  }
  channel::acknowledge(&ch);
  channel::shutdown(&ch);
  join_thread(&thread);
  return lines;
}

void count_bytes(void* total, const char*, size_t length) {
  *static_cast<size_t*>(total) += length;
}

std::string read_file(const char* path) {
  std::string text;
  FILE* f = fopen(path, "rb");
  if (f == nullptr)
    return text;
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  fclose(f);
  return text;
}

std::string load_average() {
  std::string text = read_file("/proc/loadavg");
  size_t end = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
  return end == std::string::npos ? "?" : text.substr(0, end);
}

struct Measured {
  double seconds;
  CpuUse use;  // of the job alone
};

// The complete job through the channel into path, beside `busy` CPU-bound
// processes.
Measured job_beside(const TypedValues& typed, const std::string& path, int busy) {
  if (busy > 0 && !busy_start(busy)) {
    fprintf(stderr, "job_bench: could not start the busy processes\n");
    exit(1);
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror("job_bench: open");
    exit(1);
  }
  CpuUse before = cpu_use();
  auto start = std::chrono::steady_clock::now();
  job_through_channel(typed, fd);
  Measured job = {seconds_since(start), cpu_use()};
  busy_stop();
  close(fd);
  job.use.cpu_s -= before.cpu_s;
  job.use.switches -= before.switches;
  job.use.preempted -= before.preempted;
  return job;
}

// The lines of a written job, as the program wrote them, each with its own
// write(2) and nothing else in the loop.
Measured bare_write_loop(const std::string& text, const std::vector<size_t>& ends,
                         const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror("job_bench: open");
    exit(1);
  }
  CpuUse before = cpu_use();
  auto start = std::chrono::steady_clock::now();
  size_t begin = 0;
  for (size_t end : ends) {
    if (write(fd, text.data() + begin, end - begin) != static_cast<ssize_t>(end - begin)) {
      perror("job_bench: write");
      exit(1);
    }
    begin = end;
  }
  Measured bare = {seconds_since(start), cpu_use()};
  close(fd);
  bare.use.cpu_s -= before.cpu_s;
  bare.use.switches -= before.switches;
  bare.use.preempted -= before.preempted;
  return bare;
}

void print_measured(const char* label, const Measured& m, double ratio) {
  printf("    %-10s %6.2f s  ratio %5.2f  cpu %6.2f s  switches %8ld  preempted %8ld\n", label,
         m.seconds, ratio, m.use.cpu_s, m.use.switches, m.use.preempted);
  fflush(stdout);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  TypedValues typed = {"0.4", "210", "300"};
  int rounds = 3;
  std::vector<const char*> values;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      rounds = atoi(argv[++i]);
    else
      values.push_back(argv[i]);
  }
  if ((values.size() != 0 && values.size() != 3) || rounds < 1) {
    fprintf(stderr, "usage: %s [--runs N] [Z_START HEAT_TEMP SPEED]\n", argv[0]);
    return 2;
  }
  if (values.size() == 3) {
    snprintf(typed.z_start, sizeof typed.z_start, "%s", values[0]);
    snprintf(typed.heat_temp, sizeof typed.heat_temp, "%s", values[1]);
    snprintf(typed.speed, sizeof typed.speed, "%s", values[2]);
  }
  char dir[] = "/tmp/job_bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    perror("job_bench: mkdtemp");
    return 1;
  }
  std::string job_path = std::string(dir) + "/dagoma0.g";
  std::string bare_path = std::string(dir) + "/bare.g";
  busy_install_cleanup();

  // Once: the job's size and peak memory (before the bare loop reads the
  // whole file in), the channel's share, generation alone.
  std::string load_before = load_average();
  int fd = open(job_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    perror("job_bench: open");
    return 1;
  }
  size_t lines = job_through_channel(typed, fd);
  close(fd);
  long job_peak = peak_kib();

  auto start = std::chrono::steady_clock::now();
  job_through_channel(typed, -1);
  double channel_s = seconds_since(start);

  auto g = std::make_unique<GeneratorThread>();
  size_t bytes = 0;
  g->typed = &typed;
  g->sink = count_bytes;
  g->sink_context = &bytes;
  start = std::chrono::steady_clock::now();
  build_visor_paths(&g->paths);
  parse_z_start(g.get());
  send_job(g.get());
  double generate_s = seconds_since(start);
  free_visor_paths(&g->paths);

  std::string text = read_file(job_path.c_str());
  std::vector<size_t> ends;
  ends.reserve(lines);
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n')
      ends.push_back(i + 1);
  printf("The job: %zu lines, %zu bytes   (load %s)\n", lines, text.size(), load_before.c_str());
  printf("  channel only, no file     %6.2f s\n", channel_s);
  printf("  generate only             %6.3f s   (target < 0.5)\n", generate_s);
  printf("  peak memory of the job    %6.1f MB  (target < 16)\n", job_peak / 1024.0);

  // Rounds: the bare write loop, the job quiet, then the job beside one and
  // beside two busy processes. Each ratio is to the quiet job of its round
  // but the first, which is the quiet job to the bare loop.
  printf("Quiet and beside busy processes, %d rounds\n", rounds);
  std::vector<double> quiet_to_bare, one, two;
  for (int round = 1; round <= rounds; ++round) {
    printf("  round %d   (load %s)\n", round, load_average().c_str());
    Measured bare = bare_write_loop(text, ends, bare_path);
    print_measured("bare loop", bare, 1.0);
    Measured quiet = job_beside(typed, job_path, 0);
    print_measured("quiet", quiet, quiet.seconds / bare.seconds);
    Measured busy1 = job_beside(typed, job_path, 1);
    print_measured("1 busy", busy1, busy1.seconds / quiet.seconds);
    Measured busy2 = job_beside(typed, job_path, 2);
    print_measured("2 busy", busy2, busy2.seconds / quiet.seconds);
    quiet_to_bare.push_back(quiet.seconds / bare.seconds);
    one.push_back(busy1.seconds / quiet.seconds);
    two.push_back(busy2.seconds / quiet.seconds);
  }
  std::string load_after = load_average();
  printf("RESULT quiet job / bare loop      %5.2f   (target <= 1.6)   load after %s\n",
         median(quiet_to_bare), load_after.c_str());
  printf("RESULT 1 busy / quiet job         %5.2f   (target <= 2.0)   load after %s\n", median(one),
         load_after.c_str());
  printf("RESULT 2 busy / quiet job         %5.2f   (target <= 4.0)   load after %s\n", median(two),
         load_after.c_str());
  unlink(job_path.c_str());
  unlink(bare_path.c_str());
  rmdir(dir);
  return 0;
}
