#include "job_file.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

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

namespace {

// Whether `target`, where a descriptor leads, is a job being written in
// folder `real`: a file of no name there ("#" and its inode number, as the
// system shows it), or one of a temporary name.
bool is_job_being_written(const std::string& target, const std::string& real) {
  if (!target.starts_with(real + "/"))
    return false;
  std::string rest = target.substr(real.size() + 1);
  return (rest.starts_with("#") && rest.ends_with(" (deleted)")) ||
         (rest.starts_with("dagoma0.g.") && rest.ends_with(".part"));
}

// The first descriptor of process `pid` that leads to a job being written
// in `real`, as a /proc path; empty when none.
std::string job_descriptor(const std::string& pid, const std::string& real) {
  std::string fds = "/proc/" + pid + "/fd";
  DIR* d = opendir(fds.c_str());
  if (d == nullptr)
    return "";
  std::string found;
  while (const dirent* e = readdir(d)) {
    std::string fd = fds + "/" + e->d_name;
    char target[PATH_MAX];
    ssize_t n = readlink(fd.c_str(), target, sizeof target);
    if (n > 0 && is_job_being_written(std::string(target, static_cast<size_t>(n)), real)) {
      found = fd;
      break;
    }
  }
  closedir(d);
  return found;
}

}  // namespace

std::string file_being_written(const std::string& dir) {
  char real[PATH_MAX];
  if (realpath(dir.c_str(), real) == nullptr)
    return "";
  DIR* proc = opendir("/proc");
  if (proc == nullptr)
    return "";
  std::string found;
  while (const dirent* e = readdir(proc)) {
    if (!isdigit(static_cast<unsigned char>(e->d_name[0])))
      continue;
    found = job_descriptor(e->d_name, real);
    if (!found.empty())
      break;
  }
  closedir(proc);
  return found;
}
