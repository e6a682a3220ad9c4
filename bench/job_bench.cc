// job_bench [--load [--runs N]] [Z_START HEAT_TEMP SPEED]
//
// Measures the complete job, on this machine:
//  1. through the real channel into a file in a temporary folder, one
//     write(2) per line before its acknowledgement, as the program does;
//  2. the same bytes written by a bare loop of one write(2) per line: the
//     floor that the first can only approach (target: ratio 1.6 or less);
//  3. through the channel with no file, to show the channel's share;
//  4. generating and formatting the job with no channel and no file
//     (target: under 0.5 s).
// and the peak memory of the first (target: under 16 MB).
//
// With --load, instead: the first measure quiet, then beside one and beside
// two CPU-bound processes that the benchmark starts and ends itself, as
// ratios to the quiet job of the same round (targets: 2.0 and 4.0 on a
// 2-core machine); N rounds (default 3).

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

struct LoadedJob {
  double seconds;
  CpuUse use;  // of the job alone
};

// The complete job into path, beside `busy` CPU-bound processes.
LoadedJob job_beside(const TypedValues& typed, const std::string& path, int busy) {
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
  LoadedJob job = {seconds_since(start), cpu_use()};
  busy_stop();
  close(fd);
  job.use.cpu_s -= before.cpu_s;
  job.use.switches -= before.switches;
  job.use.preempted -= before.preempted;
  return job;
}

void print_job(const char* label, const LoadedJob& job, double quiet_s) {
  printf("  %-8s %6.2f s  ratio %5.2f   cpu %6.2f s  switches %8ld  preempted %8ld\n", label,
         job.seconds, job.seconds / quiet_s, job.use.cpu_s, job.use.switches, job.use.preempted);
}

int run_load(const TypedValues& typed, const std::string& path, int rounds) {
  busy_install_cleanup();
  std::vector<double> one, two;
  for (int round = 1; round <= rounds; ++round) {
    printf("round %d of %d, load average %s\n", round, rounds, load_average().c_str());
    fflush(stdout);
    LoadedJob quiet = job_beside(typed, path, 0);
    print_job("quiet", quiet, quiet.seconds);
    fflush(stdout);
    LoadedJob busy1 = job_beside(typed, path, 1);
    print_job("1 busy", busy1, quiet.seconds);
    fflush(stdout);
    LoadedJob busy2 = job_beside(typed, path, 2);
    print_job("2 busy", busy2, quiet.seconds);
    fflush(stdout);
    one.push_back(busy1.seconds / quiet.seconds);
    two.push_back(busy2.seconds / quiet.seconds);
  }
  std::sort(one.begin(), one.end());
  std::sort(two.begin(), two.end());
  printf("load average after      %s\n", load_average().c_str());
  printf("median ratio, 1 busy    %.2f   (target <= 2.0)\n", one[one.size() / 2]);
  printf("median ratio, 2 busy    %.2f   (target <= 4.0)\n", two[two.size() / 2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TypedValues typed = {"0.4", "210", "300"};
  bool load = false;
  int rounds = 3;
  std::vector<const char*> values;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--load") == 0) {
      load = true;
    } else if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      rounds = atoi(argv[++i]);
    } else {
      values.push_back(argv[i]);
    }
  }
  if ((values.size() != 0 && values.size() != 3) || rounds < 1) {
    fprintf(stderr, "usage: %s [--load [--runs N]] [Z_START HEAT_TEMP SPEED]\n", argv[0]);
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
  if (load) {
    int status = run_load(typed, job_path, rounds);
    unlink(job_path.c_str());
    rmdir(dir);
    return status;
  }

  int fd = open(job_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  auto start = std::chrono::steady_clock::now();
  size_t lines = job_through_channel(typed, fd);
  double job_s = seconds_since(start);
  close(fd);
  long job_peak = peak_kib();

  // The same bytes, line by line, with nothing else in the loop.
  std::string text = read_file(job_path.c_str());
  std::vector<size_t> ends;
  ends.reserve(lines);
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n')
      ends.push_back(i + 1);
  fd = open(bare_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  start = std::chrono::steady_clock::now();
  size_t begin = 0;
  for (size_t end : ends) {
    if (write(fd, text.data() + begin, end - begin) != static_cast<ssize_t>(end - begin)) {
      perror("job_bench: write");
      return 1;
    }
    begin = end;
  }
  double bare_s = seconds_since(start);
  close(fd);

  // The channel's share: the same job, lines taken but not written.
  start = std::chrono::steady_clock::now();
  job_through_channel(typed, -1);
  double channel_s = seconds_since(start);

  // Generation and formatting alone.
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

  printf("lines                      %zu (%zu bytes)\n", lines, text.size());
  printf("job through channel+file   %.2f s\n", job_s);
  printf("bare write loop            %.2f s\n", bare_s);
  printf("ratio                      %.2f   (target <= 1.6)\n", job_s / bare_s);
  printf("channel only, no file      %.2f s\n", channel_s);
  printf("generate only              %.3f s (target < 0.5)\n", generate_s);
  printf("peak memory of the job     %.1f MB (target < 16)\n", job_peak / 1024.0);
  unlink(job_path.c_str());
  unlink(bare_path.c_str());
  rmdir(dir);
  return 0;
}
