#include "job_file.h"

#include <stdio.h>
#include <string.h>

#include <deque>

namespace {

inline constexpr char kEndMarker[] = "-EOT-";
inline constexpr size_t kMarkerLength = sizeof kEndMarker - 1;

}  // namespace

JobFile read_job_file(const std::string& path, size_t head_count, size_t tail_count) {
  JobFile job;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f)
    return job;
  job.opened = true;

  std::deque<std::string> tail;
  std::string line;  // the line being read, while it is wanted
  // The last bytes of the previous chunk, so that a marker split between two
  // reads is still found.
  std::string carry;
  char last = 0;
  static char buf[1 << 20];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    job.bytes += n;
    std::string_view chunk(buf, n);
    std::string seam = carry + std::string(chunk.substr(0, kMarkerLength - 1));
    if (seam.find(kEndMarker) != std::string::npos ||
        chunk.find(kEndMarker) != std::string_view::npos)
      job.has_end_marker = true;
    carry = std::string(chunk.substr(n >= kMarkerLength - 1 ? n - (kMarkerLength - 1) : 0));

    size_t start = 0;
    while (start < n) {
      const char* nl = static_cast<const char*>(memchr(buf + start, '\n', n - start));
      size_t end = nl ? static_cast<size_t>(nl - buf) : n;
      // Only lines that may be kept are copied; the rest are only counted.
      bool keep = job.head.size() < head_count || tail_count > 0;
      if (keep)
        line.append(buf + start, end - start);
      if (!nl)
        break;
      ++job.lines;
      if (job.head.size() < head_count)
        job.head.push_back(line);
      if (tail_count > 0) {
        tail.push_back(line);
        if (tail.size() > tail_count)
          tail.pop_front();
      }
      line.clear();
      start = end + 1;
    }
    last = buf[n - 1];
  }
  fclose(f);
  job.ends_with_newline = last == '\n';
  // A last line without its line end is still a line of the file's text.
  if (job.bytes > 0 && !job.ends_with_newline && tail_count > 0) {
    tail.push_back(line);
    if (tail.size() > tail_count)
      tail.pop_front();
  }
  job.tail.assign(tail.begin(), tail.end());
  return job;
}
