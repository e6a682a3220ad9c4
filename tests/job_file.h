#ifndef VISOR_TESTS_JOB_FILE_H_
#define VISOR_TESTS_JOB_FILE_H_

// What the tests check of a written G-code file, gathered in one streaming
// pass: a complete job is millions of lines, too big to hold as lines.

#include <cstdint>
#include <string>
#include <vector>

struct JobFile {
  bool opened = false;
  uint64_t bytes = 0;
  uint64_t lines = 0;              // line ends ("\n") in the file
  bool ends_with_newline = false;  // the last line is whole
  bool has_end_marker = false;     // "-EOT-" somewhere in the file
  std::vector<std::string> head;   // the first lines, without "\n"
  std::vector<std::string> tail;   // the last lines, without "\n"
};

// Reads the file at path, keeping its first head_count and last tail_count
// lines.
JobFile read_job_file(const std::string& path, size_t head_count, size_t tail_count);

#endif  // VISOR_TESTS_JOB_FILE_H_
