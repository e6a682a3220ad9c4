#ifndef VISOR_PLATFORM_OUTPUT_FILE_H_
#define VISOR_PLATFORM_OUTPUT_FILE_H_

// The job's output file, written one whole line per call.

#include <cstddef>
#include <cstdint>

struct OutputFile {
  intptr_t handle = -1;
  uint64_t size = 0;  // bytes of the whole lines written so far
};

// Creates `name` in the folder `dir` (null: the current folder), or empties
// it if it exists, and holds it so that no other program can write it until
// it is closed. A file another program holds is left untouched. 1 on
// success, -1 otherwise.
int output_file_create(OutputFile* file, const char* dir, const char* name);

// Appends `length` bytes, in one system call when the system allows. 1 when
// all were written; -1 otherwise, and then the file is cut back to the
// lines written before, so that it never ends in part of a line.
int output_file_write(OutputFile* file, const char* data, size_t length);

// Closes the file; safe to call on a file that is not open.
void output_file_close(OutputFile* file);

#endif  // VISOR_PLATFORM_OUTPUT_FILE_H_
