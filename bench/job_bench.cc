// job_bench [--runs N] [Z_START HEAT_TEMP SPEED]
//
// Measures the complete job on this machine. Once:
//  1. as the program writes it: through the real channel and the output
//     file layer in a temporary folder, each line copied into the mapped
//     dagoma0.g.part before its acknowledgement, then read into the job's
//     summary, then the flush to stable storage (fsync) and the rename over
//     dagoma0.g; the flush's share is shown apart, and never left out;
//  2. the same bytes written by a bare loop of one write(2) per line, then
//     one fsync: what one system call per line costs at the least (target
//     for 1: ratio 0.6 or less);
//  3. as 1 with the output file forced to one write(2) per line, as where
//     the file system cannot allocate or map (aim: ratio 1.2 or less);
//  4. as 1 without the summary, to show that reading it after the
//     acknowledgement leaves the ratio as it was;
//  5. through the channel with no file, to show the channel's share;
//  5a. the floor of that, before and after: two threads passing a count
//     back and forth through one cache line, spinning, once per line of
//     the job (round_trip_floor.h);
//  6. generating and formatting the job with no channel and no file
//     (target: under 0.5 s);
//  7. the job's summary read from its lines alone, the best of five
//     passes (target: under 0.2 s);
//  8. the file of 1 checked (--check) while it is in the page cache: the
//     job made again and compared line by line (target: 1.5 times the job
//     of 1 or less), and checked from the disk, its pages dropped first;
// and the peak memory of the first (target: 7.9 MB or less), and that of
// the check from the disk in a process of its own (target: under 16 MB).
// Then N rounds (default 3), each: the bare loop of 2; the generating of 6,
// the channel alone with one fixed line and no generator, then the channel
// of 5 (target: 1.2 times the floor or less), each between two floors of
// 5a, and the job of 1 quiet (targets: 0.6 times the bare loop or less, 1.5
// times the floor just before it or less); the check of 8 of that job's
// file, cache warm (target: 1.5 times the job or less); the job of 3
// (target: within 1.6 times the bare loop); the job of 1 beside one, then
// beside two CPU-bound processes in sessions of their own, which the
// benchmark starts and ends itself (targets on a 2-core machine: 2.0 and
// 4.0 times the quiet job of the round or less; in seconds, 1.3 and 2.6 s
// or less: what a quiet job took on the development machine when the
// generator still made each line only after the last one's acknowledgement,
// and twice that); and, for comparison, beside one in the benchmark's own
// session. The RESULT lines give the medians of the rounds' ratios (of
// the ratios to the floor only those where the floors agreed), with the
// load average.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
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
#include "frontend/job_check.h"
#include "frontend/job_summary.h"
#include "generator/generator_thread.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "round_trip_floor.h"

namespace {

constexpr int SUMMARY_PASSES = 5;

// This thread's processor time: on a shared machine it counts only the
// work, not the waits for a core.
double thread_cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peak_kib() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct CpuUse {
  double cpu_s;    // user and system time of this process
  long switches;   // voluntary context switches
  long preempted;  // involuntary ones
  long faults;     // minor page faults: most of them the output file's pages
};

CpuUse cpu_use() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {s(usage.ru_utime) + s(usage.ru_stime), usage.ru_nvcsw, usage.ru_nivcsw, usage.ru_minflt};
}

CpuUse cpu_use_since(const CpuUse& before) {
  CpuUse now = cpu_use();
  return {now.cpu_s - before.cpu_s, now.switches - before.switches,
          now.preempted - before.preempted, now.faults - before.faults};
}

// The program's receive loop, without a console: each line written, then
// acknowledged, then read into the summary. With no file the lines are only
// taken and acknowledged. Returns the line count.
size_t job_through_channel(const TypedValues& typed, OutputFile* file, JobSummary* summary) {
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
    if (file != nullptr && output_file_write(file, line, n) != 1) {
      fprintf(stderr, "job_bench: write: %s\n", strerror(file->error));
      exit(1);
    }
    ++lines;
    channel::acknowledge(&ch);
    if (summary != nullptr)
      job_summary_read_line(summary, line, n);
  }
  channel::acknowledge(&ch);
  channel::shutdown(&ch);
  join_thread(&thread);
  return lines;
}

void count_bytes(void* total, const char*, size_t length) {
  *static_cast<size_t*>(total) += length;
}

// Generation and formatting alone, with no channel and no file: the paths
// built, every line made and counted. Returns the seconds taken.
double generate_seconds(const TypedValues& typed) {
  auto g = std::make_unique<GeneratorThread>();
  size_t bytes = 0;
  g->typed = &typed;
  g->sink = count_bytes;
  g->sink_context = &bytes;
  auto start = std::chrono::steady_clock::now();
  build_visor_paths(&g->paths);
  parse_z_start(g.get());
  send_job(g.get());
  double seconds = seconds_since(start);
  free_visor_paths(&g->paths);
  return seconds;
}

// The job as the program writes it, over dagoma0.g in dir; with no summary,
// the lines are not read. Returns the seconds taken, and those of the flush
// and rename in *flush_s.
double program_job(const TypedValues& typed, const char* dir, JobSummary* summary, size_t* lines,
                   double* flush_s, bool write_per_line = false) {
  OutputFile output;
  output.write_per_line = write_per_line;
  auto start = std::chrono::steady_clock::now();
  if (output_file_create(&output, dir, "dagoma0.g") != 1) {
    fprintf(stderr, "job_bench: create: %s\n", strerror(output.error));
    exit(1);
  }
  *lines = job_through_channel(typed, &output, summary);
  auto flush_start = std::chrono::steady_clock::now();
  if (output_file_flush(&output) != 1 || output_file_commit(&output) != 1) {
    fprintf(stderr, "job_bench: flush or rename: %s\n", strerror(output.error));
    exit(1);
  }
  *flush_s = seconds_since(flush_start);
  return seconds_since(start);
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
  CpuUse use;
};

// The file checked as visor-gcode --check does, in this process: from the
// disk with `from_device`, otherwise from whatever the system caches of it.
Measured check_file(const std::string& path, bool from_device) {
  auto check = std::make_unique<JobCheck>();
  auto generator = std::make_unique<GeneratorThread>();
  check->path = path.c_str();
  check->from_device = from_device;
  generator->typed = &check->typed;
  generator->channel = &check->run.channel;
  check->run.entry = generator_thread_main;
  check->run.arg = generator.get();
  CpuUse before = cpu_use();
  auto start = std::chrono::steady_clock::now();
  if (check_job(check.get()) != 0) {
    fprintf(stderr, "job_bench: the check failed:\n%s", check->report.c_str());
    exit(1);
  }
  return {seconds_since(start), cpu_use_since(before)};
}

// The peak of this process's own memory (VmHWM): unlike ru_maxrss, not
// that of the process it was started from, which a child's counts until
// its exec.
long own_peak_kib() {
  FILE* f = fopen("/proc/self/status", "r");
  long kib = -1;
  char line[256];
  while (f != nullptr && fgets(line, sizeof line, f) != nullptr)
    if (sscanf(line, "VmHWM: %ld kB", &kib) == 1)
      break;
  if (f != nullptr)
    fclose(f);
  return kib;
}

// The check in a process of its own, which runs nothing else (job_bench
// --check-peak FILE): the seconds from its start to its end, and its peak
// memory in *peak_kib.
double check_in_own_process(const std::string& path, long* peak_kib) {
  // This program's own path: the shell that runs the command has its own
  // /proc/self.
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n < 0) {
    perror("job_bench: /proc/self/exe");
    exit(1);
  }
  self[n] = '\0';
  std::string command = std::string("'") + self + "' --check-peak '" + path + "'";
  auto start = std::chrono::steady_clock::now();
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr || fscanf(child, "%ld", peak_kib) != 1 || pclose(child) != 0) {
    fprintf(stderr, "job_bench: the check in its own process failed\n");
    exit(1);
  }
  return seconds_since(start);
}

// The job's lines, each with its own write(2) and nothing else in the loop,
// then one fsync. Returns the seconds taken, and those of the fsync in
// *flush_s.
Measured bare_write_loop(const std::string& text, const std::vector<size_t>& ends,
                         const std::string& path, double* flush_s) {
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
  auto flush_start = std::chrono::steady_clock::now();
  if (fsync(fd) != 0) {
    perror("job_bench: fsync");
    exit(1);
  }
  *flush_s = seconds_since(flush_start);
  Measured bare = {seconds_since(start), cpu_use_since(before)};
  close(fd);
  return bare;
}

// The job as the program writes it, beside `busy` CPU-bound processes.
Measured job_beside(const TypedValues& typed, const char* dir, int busy, BusySession session,
                    bool write_per_line = false) {
  if (busy > 0 && !busy_start(busy, session)) {
    fprintf(stderr, "job_bench: could not start the busy processes\n");
    exit(1);
  }
  JobSummary summary;
  size_t lines = 0;
  double flush_s = 0;
  CpuUse before = cpu_use();
  double seconds = program_job(typed, dir, &summary, &lines, &flush_s, write_per_line);
  Measured job = {seconds, cpu_use_since(before)};
  busy_stop();
  return job;
}

void print_measured(const char* label, const Measured& m, double ratio, const char* to) {
  printf(
      "    %-20s %6.2f s  %5.2f x %-10s cpu %6.2f s  switches %8ld  preempted %8ld  faults %6ld\n",
      label, m.seconds, ratio, to, m.use.cpu_s, m.use.switches, m.use.preempted, m.use.faults);
  fflush(stdout);
}

// The channel alone, without the generator: a 38-byte G-code line sent
// `lines` times, each taken and acknowledged. Returns the seconds taken.
struct HandOver {
  LineChannel ch;
  size_t lines = 0;
};

int send_fixed_line(void* arg) {
  HandOver* h = static_cast<HandOver*>(arg);
  static const char LINE[] = "G1 F300 E1234.567 X123.456 Y123.456\n";
  if (channel::connect(&h->ch) == 1) {
    for (size_t i = 0; i < h->lines; ++i)
      channel::send_line(&h->ch, LINE, sizeof LINE - 1);
    channel::send_line(&h->ch, END_MARKER, END_MARKER_LENGTH);
  }
  channel::close(&h->ch);
  return 0;
}

double hand_over_seconds(size_t lines) {
  auto h = std::make_unique<HandOver>();
  h->lines = lines;
  Thread thread;
  if (channel::listen(&h->ch) != 1 || start_thread(&thread, send_fixed_line, h.get()) != 1 ||
      channel::accept(&h->ch) != 1) {
    fprintf(stderr, "job_bench: the sender did not start\n");
    exit(1);
  }
  auto start = std::chrono::steady_clock::now();
  char line[LINE_BUFFER_SIZE];
  size_t n = 0;
  while (channel::receive_line(&h->ch, line, &n) == RECEIVED_LINE)
    channel::acknowledge(&h->ch);
  double seconds = seconds_since(start);
  channel::acknowledge(&h->ch);
  channel::shutdown(&h->ch);
  join_thread(&thread);
  return seconds;
}

// A figure as a ratio to the floor measured just before and just after it.
// The floor moves by a factor of up to ten within seconds on a virtual
// machine, as the host moves its CPUs about; a ratio counts only where the
// two agree within a quarter.
struct ToFloor {
  double ratio;
  bool steady;
};

ToFloor to_floor(double seconds, double before, double after) {
  return {2 * seconds / (before + after),
          std::max(before, after) <= 1.25 * std::min(before, after)};
}

// The line under a figure: the two floors it is counted against, which
// must agree; `ratio`, when given, is shown first.
void print_floors(double before, double after, double ratio = 0) {
  char shown[32] = "";
  if (ratio > 0)
    snprintf(shown, sizeof shown, "%5.2f x the floor", ratio);
  printf("    %-20s %6s    %-17s  floor %.2f s and %.2f s%s\n", "", "", shown, before, after,
         to_floor(0, before, after).steady ? "" : ": unsteady, not counted");
  fflush(stdout);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The median with two decimals, or "-" when nothing was counted.
std::string median_text(const std::vector<double>& v) {
  if (v.empty())
    return "-";
  char text[16];
  snprintf(text, sizeof text, "%.2f", median(v));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--check-peak") == 0) {
    check_file(argv[2], true);
    printf("%ld\n", own_peak_kib());
    return 0;
  }
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
  busy_install_cleanup();
  std::string load_before = load_average();
  char dir[] = "/tmp/job_bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    perror("job_bench: mkdtemp");
    return 1;
  }
  std::string job_path = std::string(dir) + "/dagoma0.g";
  std::string bare_path = std::string(dir) + "/bare.g";

  // A previous job to replace, as in most runs.
  FILE* previous = fopen(job_path.c_str(), "wb");
  if (previous == nullptr || fputs("; an earlier job\n", previous) < 0 || fclose(previous) != 0) {
    perror("job_bench: previous job");
    return 1;
  }
  JobSummary summary;
  size_t lines = 0;
  double flush_s = 0;
  CpuUse job_start = cpu_use();
  double job_s = program_job(typed, dir, &summary, &lines, &flush_s);
  CpuUse job_use = cpu_use_since(job_start);
  long job_peak = peak_kib();

  // The file the job wrote, checked while its pages are cached, then from
  // the disk; then by the program itself, for its memory.
  double check_s = check_file(job_path, false).seconds;
  double check_device_s = check_file(job_path, true).seconds;
  long check_peak = 0;
  double own_check_s = check_in_own_process(job_path, &check_peak);

  // The same bytes, line by line, with nothing else in the loop.
  std::string text = read_file(job_path.c_str());
  std::vector<size_t> ends;
  ends.reserve(lines);
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n')
      ends.push_back(i + 1);
  double bare_flush_s = 0;
  double bare_s = bare_write_loop(text, ends, bare_path, &bare_flush_s).seconds;

  // The same job, one write(2) per line.
  JobSummary written_summary;
  size_t written_lines = 0;
  double written_flush_s = 0;
  double written_s =
      program_job(typed, dir, &written_summary, &written_lines, &written_flush_s, true);

  // The same job without the summary.
  size_t unread_lines = 0;
  double unread_flush_s = 0;
  double unread_s = program_job(typed, dir, nullptr, &unread_lines, &unread_flush_s);

  // The channel's share: the same job, lines taken but not written; and
  // its floor, as many round trips as the job has lines, before and after.
  double floor_before_s = round_trip_floor_seconds(lines);
  auto start = std::chrono::steady_clock::now();
  job_through_channel(typed, nullptr, nullptr);
  double channel_s = seconds_since(start);
  double floor_after_s = round_trip_floor_seconds(lines);

  double generate_s = generate_seconds(typed);

  // The summary's reader alone, over the lines of the job: the best of a
  // few passes, the one least disturbed on a shared machine.
  JobSummary alone;
  double summary_s = 0, summary_cpu_s = 0;
  for (int pass = 0; pass < SUMMARY_PASSES; ++pass) {
    alone = JobSummary{};
    double cpu_start = thread_cpu_seconds();
    start = std::chrono::steady_clock::now();
    size_t begin = 0;
    for (size_t end : ends) {
      job_summary_read_line(&alone, text.data() + begin, end - begin);
      begin = end;
    }
    double wall = seconds_since(start);
    if (pass == 0 || wall < summary_s) {
      summary_s = wall;
      summary_cpu_s = thread_cpu_seconds() - cpu_start;
    }
  }
  SummaryText shown = job_summary_text(alone);

  printf("lines                      %zu (%zu bytes)   load %s\n", lines, text.size(),
         load_before.c_str());
  printf(
      "job through channel+file   %.2f s, of which the flush and rename %.2f s (%.1f %%); "
      "%ld minor faults\n",
      job_s, flush_s, 100.0 * flush_s / job_s, job_use.faults);
  printf("bare write loop + fsync    %.2f s, of which the fsync %.2f s\n", bare_s, bare_flush_s);
  printf("ratio                      %.2f   (target <= 0.6)\n", job_s / bare_s);
  printf("  one write(2) per line      %.2f s, ratio %.2f   (aim <= 1.2)\n", written_s,
         written_s / bare_s);
  printf("  the same, no summary       %.2f s, ratio %.2f\n", unread_s, unread_s / bare_s);
  ToFloor channel_ratio = to_floor(channel_s, floor_before_s, floor_after_s);
  printf("channel only, no file      %.2f s, %.2f x the floor%s\n", channel_s, channel_ratio.ratio,
         channel_ratio.steady ? "" : " (unsteady)");
  printf("floor: round trips on one cache line %.2f s before, %.2f s after (%.3f us each)\n",
         floor_before_s, floor_after_s,
         1e6 * (floor_before_s + floor_after_s) / 2 / static_cast<double>(lines));
  printf("generate only              %.3f s (target < 0.5)\n", generate_s);
  printf("summary reader alone       %.3f s, %.3f s of processor, best of %d (target < 0.2)\n",
         summary_s, summary_cpu_s, SUMMARY_PASSES);
  printf("peak memory of the job     %.1f MB (target <= 7.9)\n", job_peak / 1024.0);
  printf("check, cache warm          %.2f s, %.2f x the job   (target <= 1.5)\n", check_s,
         check_s / job_s);
  printf("  from the disk            %.2f s (%.0f MB/s)\n", check_device_s,
         static_cast<double>(text.size()) / 1e6 / check_device_s);
  printf("  in its own process       %.2f s from the disk, peak memory %.1f MB (target < 16)\n",
         own_check_s, check_peak / 1024.0);
  // The summary the receive loop read must be the same.
  SummaryText in_job = job_summary_text(summary);
  bool same = strcmp(in_job.time_line, shown.time_line) == 0 &&
              strcmp(in_job.height_line, shown.height_line) == 0 && in_job.warning == shown.warning;
  printf("summary                    %.1f s, %.1f s of dwell (%s in the receive loop)\n",
         job_summary_seconds(alone), alone.dwell_ms / 1000.0, same ? "the same" : "NOT the same");
  printf("  %s\n  %s\n", shown.time_line, shown.height_line);
  if (shown.warning != nullptr)
    printf("  %s\n", shown.warning);
  fflush(stdout);

  printf("Quiet and beside busy processes, %d rounds\n", rounds);
  std::vector<double> quiet_to_bare, written_to_bare, check_to_job, one, two, one_here;
  std::vector<double> generate_to_floor, hand_over_to_floor, channel_to_floor, quiet_to_floor;
  std::vector<double> one_s, two_s;
  int unsteady = 0;
  for (int round = 1; round <= rounds; ++round) {
    printf("  round %d   load %s\n", round, load_average().c_str());
    double unused_flush_s = 0;
    Measured bare = bare_write_loop(text, ends, bare_path, &unused_flush_s);
    print_measured("bare write loop", bare, 1.0, "");
    // Each figure between two floors.
    double floor_0 = round_trip_floor_seconds(lines);
    double round_generate_s = generate_seconds(typed);
    double floor_a = round_trip_floor_seconds(lines);
    double hand_over_s = hand_over_seconds(lines);
    double floor_b = round_trip_floor_seconds(lines);
    CpuUse before = cpu_use();
    start = std::chrono::steady_clock::now();
    job_through_channel(typed, nullptr, nullptr);
    Measured channel = {seconds_since(start), cpu_use_since(before)};
    double floor_c = round_trip_floor_seconds(lines);
    Measured quiet = job_beside(typed, dir, 0, OWN_SESSION);
    printf("    %-20s %6.2f s  %5.2f x the floor\n", "generating alone", round_generate_s,
           to_floor(round_generate_s, floor_0, floor_a).ratio);
    print_floors(floor_0, floor_a);
    printf("    %-20s %6.2f s  %5.2f x the floor\n", "hand-over alone", hand_over_s,
           to_floor(hand_over_s, floor_a, floor_b).ratio);
    print_floors(floor_a, floor_b);
    print_measured("channel only", channel, to_floor(channel.seconds, floor_b, floor_c).ratio,
                   "the floor");
    print_floors(floor_b, floor_c);
    print_measured("quiet", quiet, quiet.seconds / bare.seconds, "the bare");
    // The job's flush at its end lets the virtual CPUs halt, and the floor
    // after it is most often that of another placement: the job counts
    // against the floor just before it, where that agrees with the one
    // before the channel.
    print_floors(floor_b, floor_c, quiet.seconds / floor_c);
    auto count = [&unsteady](ToFloor r, std::vector<double>* to) {
      if (r.steady)
        to->push_back(r.ratio);
      else
        ++unsteady;
    };
    count(to_floor(round_generate_s, floor_0, floor_a), &generate_to_floor);
    count(to_floor(hand_over_s, floor_a, floor_b), &hand_over_to_floor);
    count(to_floor(channel.seconds, floor_b, floor_c), &channel_to_floor);
    count({quiet.seconds / floor_c, to_floor(0, floor_b, floor_c).steady}, &quiet_to_floor);
    Measured check = check_file(job_path, false);
    print_measured("check, cache warm", check, check.seconds / quiet.seconds, "quiet");
    Measured written = job_beside(typed, dir, 0, OWN_SESSION, true);
    print_measured("quiet, write(2)", written, written.seconds / bare.seconds, "the bare");
    Measured busy1 = job_beside(typed, dir, 1, OWN_SESSION);
    print_measured("1 busy", busy1, busy1.seconds / quiet.seconds, "quiet");
    Measured busy2 = job_beside(typed, dir, 2, OWN_SESSION);
    print_measured("2 busy", busy2, busy2.seconds / quiet.seconds, "quiet");
    Measured here1 = job_beside(typed, dir, 1, BENCH_SESSION);
    print_measured("1 busy, same session", here1, here1.seconds / quiet.seconds, "quiet");
    quiet_to_bare.push_back(quiet.seconds / bare.seconds);
    one_s.push_back(busy1.seconds);
    two_s.push_back(busy2.seconds);
    written_to_bare.push_back(written.seconds / bare.seconds);
    check_to_job.push_back(check.seconds / quiet.seconds);
    one.push_back(busy1.seconds / quiet.seconds);
    two.push_back(busy2.seconds / quiet.seconds);
    one_here.push_back(here1.seconds / quiet.seconds);
  }
  std::string load_after = load_average();
  printf("RESULT quiet job / bare write loop %5.2f   (target <= 0.6)   load before %s, after %s\n",
         median(quiet_to_bare), load_before.c_str(), load_after.c_str());
  // Ratios to the floor: medians of the steady ones only.
  if (unsteady > 0)
    printf("(%d of the %d ratios to the floor left out: the floor moved under them)\n", unsteady,
           4 * rounds);
  printf("RESULT generating alone / floor    %5s   (for comparison)  load before %s, after %s\n",
         median_text(generate_to_floor).c_str(), load_before.c_str(), load_after.c_str());
  printf("RESULT hand-over alone / floor     %5s   (for comparison)  load before %s, after %s\n",
         median_text(hand_over_to_floor).c_str(), load_before.c_str(), load_after.c_str());
  printf("RESULT channel only / floor        %5s   (target <= 1.2)   load before %s, after %s\n",
         median_text(channel_to_floor).c_str(), load_before.c_str(), load_after.c_str());
  printf("RESULT quiet job / floor           %5s   (target <= 1.5)   load before %s, after %s\n",
         median_text(quiet_to_floor).c_str(), load_before.c_str(), load_after.c_str());
  printf("RESULT the same by write(2) / bare %5.2f   (target <= 1.6)   load before %s, after %s\n",
         median(written_to_bare), load_before.c_str(), load_after.c_str());
  printf("RESULT check, warm / quiet job     %5.2f   (target <= 1.5)   load before %s, after %s\n",
         median(check_to_job), load_before.c_str(), load_after.c_str());
  printf("RESULT 1 busy / quiet job          %5.2f   (target <= 2.0)   load before %s, after %s\n",
         median(one), load_before.c_str(), load_after.c_str());
  printf("RESULT 2 busy / quiet job          %5.2f   (target <= 4.0)   load before %s, after %s\n",
         median(two), load_before.c_str(), load_after.c_str());
  printf("RESULT 1 busy, seconds             %5.2f   (target <= 1.3)   load before %s, after %s\n",
         median(one_s), load_before.c_str(), load_after.c_str());
  printf("RESULT 2 busy, seconds             %5.2f   (target <= 2.6)   load before %s, after %s\n",
         median(two_s), load_before.c_str(), load_after.c_str());
  printf("RESULT 1 busy in the same session  %5.2f   (for comparison)  load before %s, after %s\n",
         median(one_here), load_before.c_str(), load_after.c_str());
  printf("RESULT peak memory of the job, MB  %5.1f   (target <= 7.9)   load before %s, after %s\n",
         job_peak / 1024.0, load_before.c_str(), load_after.c_str());
  unlink(job_path.c_str());
  unlink(bare_path.c_str());
  rmdir(dir);
  return 0;
}
