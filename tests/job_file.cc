#include "job_file.h"

#include <algorithm>

#include "sha256.h"
#include "test_support.h"

JobFile read_job_file(const std::string& path) {
  JobFile job;
  std::optional<std::string> text = read_file(path);
  if (!text)
    return job;
  job.opened = true;
  job.text = std::move(*text);
  job.lines = static_cast<uint64_t>(std::count(job.text.begin(), job.text.end(), '\n'));
  job.whole_lines = job.text.empty() || job.text.back() == '\n';
  job.has_end_marker = job.text.find("-EOT-") != std::string::npos;
  return job;
}

std::string_view JobFile::line(uint64_t i) const {
  size_t start = 0;
  for (; i > 0 && start != std::string::npos; --i) {
    start = text.find('\n', start);
    if (start != std::string::npos)
      ++start;
  }
  if (start == std::string::npos || start >= text.size())
    return {};
  size_t end = text.find('\n', start);
  return std::string_view(text).substr(start, end == std::string::npos ? end : end - start);
}

std::string JobFile::digest_after_first_line() const {
  size_t first_end = text.find('\n');
  size_t from = first_end == std::string::npos ? text.size() : first_end + 1;
  Sha256 h;
  sha256_init(&h);
  sha256_update(&h, text.data() + from, text.size() - from);
  return sha256_hex(&h);
}
