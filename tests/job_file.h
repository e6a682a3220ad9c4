#ifndef VISOR_TESTS_JOB_FILE_H_
#define VISOR_TESTS_JOB_FILE_H_

// A written G-code file, read whole, and what the tests check of it.

#include <cstdint>
#include <string>
#include <string_view>

struct JobFile {
  bool opened = false;
  std::string text;
  uint64_t lines = 0;           // line ends ("\n") in the file
  bool whole_lines = false;     // empty, or its last line has its line end
  bool has_end_marker = false;  // "-EOT-" somewhere in the file

  // Line i, from 0, without its line end; empty past the last.
  std::string_view line(uint64_t i) const;
  // SHA-256 of everything after the first line, which holds the time of day.
  std::string digest_after_first_line() const;
};

JobFile read_job_file(const std::string& path);

// The file a run is writing its job into in folder `dir`, as a path that
// opens it: through /proc, since the file has no name until the job is
// complete (or a temporary name, where the file system has no files without
// one). Empty while no process has one open.
std::string file_being_written(const std::string& dir);

#endif  // VISOR_TESTS_JOB_FILE_H_
