#ifndef VISOR_PLATFORM_OUTPUT_FILE_H_
#define VISOR_PLATFORM_OUTPUT_FILE_H_

// The job's output file, written whole or not at all. The lines go into a
// temporary file beside it (the name and ".part"), which only a complete
// job replaces the name with; until then whatever had the name stays as it
// was. The temporary file is held so that no other program can write it:
// that hold, not whether the file exists, decides whether a run may start,
// so a temporary file left by a killed run is simply taken over.
//
// Where the system allows, the temporary file is allocated ahead of the
// lines and each line is copied into a mapped window of it: in the file the
// moment the copy ends, for one system call per window rather than per line.
// Until the flush cuts it to its lines, it ends in zero bytes that are never
// seen under the name.

#include <cstddef>
#include <cstdint>

inline constexpr char OUTPUT_TEMP_SUFFIX[] = ".part";
inline constexpr size_t OUTPUT_PATH_SIZE = 4096;

struct OutputFile {
  intptr_t handle = -1;
  uint64_t size = 0;  // bytes of the whole lines written so far
  // Why the last call failed: an errno value (strerror gives the system's
  // words), or 0 with `in_use` when another program holds the temporary file.
  int error = 0;
  bool in_use = false;
  // True once the temporary file has been renamed to the name: from then on
  // the previous file is gone.
  bool replaced = false;
  // Set before output_file_create: one write per line even where the file
  // could be mapped (tests and benchmarks compare the two).
  bool write_per_line = false;
  char path[OUTPUT_PATH_SIZE] = {};       // the name, in its folder
  char temp_path[OUTPUT_PATH_SIZE] = {};  // the temporary file

  // The mapping, where the lines go through one: the file is allocated up
  // to `allocated` bytes, and `window` (null when none) maps a fixed number
  // of bytes from `window_start`. `step` is the next allocation's size.
  bool mapped = false;
  char* window = nullptr;
  uint64_t window_start = 0;
  uint64_t allocated = 0;
  uint64_t step = 0;
};

// Whether the job could be created as `name` in the folder `dir` (null: the
// current folder), leaving nothing behind: the folder can be written and
// the name is not a folder. 1, or -1 with `error` set.
int output_file_check(OutputFile* file, const char* dir, const char* name);

// Creates the temporary file, or takes over and empties one that nobody
// holds, and holds it until it is closed. A temporary file another program
// holds is left untouched (-1 with `in_use`); so is whatever has the name
// itself. 1 on success, -1 with `error` otherwise.
int output_file_create(OutputFile* file, const char* dir, const char* name);

// Appends `length` bytes: copied into the mapping, or written in one system
// call when the system allows. 1 when all were written; -1 otherwise, and
// then the file is cut back to the lines written before, so that it never
// ends in part of a line.
int output_file_write(OutputFile* file, const char* data, size_t length);

// Cuts the file to the bytes written, then waits until they are on stable
// storage. May run on another thread than the writes, once they are done.
// 1, or -1 with `error` set.
int output_file_flush(OutputFile* file);

// Replaces the name with the flushed temporary file in one step, makes the
// change itself durable where the system allows, and closes the file. 1; or
// -1 with `error` set, and `replaced` saying whether the name was already
// replaced (only its durability failed) or still has its previous file (the
// temporary file is left for output_file_discard).
int output_file_commit(OutputFile* file);

// Removes the temporary file while it is still held, then closes it; the
// name is not touched. Safe on a file that is not open.
void output_file_discard(OutputFile* file);

#endif  // VISOR_PLATFORM_OUTPUT_FILE_H_
