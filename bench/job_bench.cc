// job_bench [Z_START HEAT_TEMP SPEED]
//
// Measures the complete job four ways, on this machine:
//  1. as the program writes it: through the real channel and the output
//     file layer in a temporary folder, one write(2) per line into
//     dagoma0.g.part before its acknowledgement, then the flush to stable
//     storage (fsync) and the rename over dagoma0.g; the flush's share is
//     shown apart, and never left out;
//  2. the same bytes written by a bare loop of one write(2) per line, then
//     one fsync: the floor that the first can only approach (target: ratio
//     1.2 or less);
//  3. through the channel with no file, to show the channel's share;
//  4. generating and formatting the job with no channel and no file
//     (target: under 0.5 s).
// and the peak memory of the first (target: under 16 MB).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel/line_channel.h"
#include "generator/generator_thread.h"
#include "platform/output_file.h"
#include "platform/thread.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long peak_kib() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The program's receive loop, without a console; with no file the lines are
// only taken and acknowledged. Returns the line count.
size_t job_through_channel(const TypedValues& typed, OutputFile* file) {
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

}  // namespace

int main(int argc, char** argv) {
  TypedValues typed = {"0.4", "210", "300"};
  if (argc == 4) {
    snprintf(typed.z_start, sizeof typed.z_start, "%s", argv[1]);
    snprintf(typed.heat_temp, sizeof typed.heat_temp, "%s", argv[2]);
    snprintf(typed.speed, sizeof typed.speed, "%s", argv[3]);
  }
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
  OutputFile output;
  auto start = std::chrono::steady_clock::now();
  if (output_file_create(&output, dir, "dagoma0.g") != 1) {
    fprintf(stderr, "job_bench: create: %s\n", strerror(output.error));
    return 1;
  }
  size_t lines = job_through_channel(typed, &output);
  auto flush_start = std::chrono::steady_clock::now();
  if (output_file_flush(&output) != 1 || output_file_commit(&output) != 1) {
    fprintf(stderr, "job_bench: flush or rename: %s\n", strerror(output.error));
    return 1;
  }
  double flush_s = seconds_since(flush_start);
  double job_s = seconds_since(start);
  long job_peak = peak_kib();

  // The same bytes, line by line, with nothing else in the loop.
  std::string text = read_file(job_path.c_str());
  std::vector<size_t> ends;
  ends.reserve(lines);
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n')
      ends.push_back(i + 1);
  int fd = open(bare_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  start = std::chrono::steady_clock::now();
  size_t begin = 0;
  for (size_t end : ends) {
    if (write(fd, text.data() + begin, end - begin) != static_cast<ssize_t>(end - begin)) {
      perror("job_bench: write");
      return 1;
    }
    begin = end;
  }
  flush_start = std::chrono::steady_clock::now();
  if (fsync(fd) != 0) {
    perror("job_bench: fsync");
    return 1;
  }
  double bare_flush_s = seconds_since(flush_start);
  double bare_s = seconds_since(start);
  close(fd);

  // The channel's share: the same job, lines taken but not written.
  start = std::chrono::steady_clock::now();
  job_through_channel(typed, nullptr);
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
  printf("job through channel+file   %.2f s, of which the flush and rename %.2f s (%.1f %%)\n",
         job_s, flush_s, 100.0 * flush_s / job_s);
  printf("bare write loop + fsync    %.2f s, of which the fsync %.2f s\n", bare_s, bare_flush_s);
  printf("ratio                      %.2f   (target <= 1.2)\n", job_s / bare_s);
  printf("channel only, no file      %.2f s\n", channel_s);
  printf("generate only              %.3f s (target < 0.5)\n", generate_s);
  printf("peak memory of the job     %.1f MB (target < 16)\n", job_peak / 1024.0);
  unlink(job_path.c_str());
  unlink(bare_path.c_str());
  rmdir(dir);
  return 0;
}
