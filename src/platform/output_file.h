#ifndef VISOR_PLATFORM_OUTPUT_FILE_H_
#define VISOR_PLATFORM_OUTPUT_FILE_H_

// The job's output file, written whole or not at all. The lines go into a
// temporary file of this run's own in the same folder, which only a
// complete job replaces the name with; until then whatever had the name
// stays as it was. No other run, leftover or link can be or become that
// file, and a second run in the folder is refused while the first one
// writes.
//
// Where the system allows, the temporary file is allocated ahead of the
// lines and each line is copied into a mapped window of it: in the file the
// moment the copy ends, for one system call per window rather than per line.
// Until the flush cuts it to its lines, it ends in zero bytes that are never
// seen under the name.

#include <cstddef>
#include <cstdint>

// The end of a temporary file's name, where it has one.
inline constexpr char OUTPUT_TEMP_SUFFIX[] = ".part";
inline constexpr size_t OUTPUT_PATH_SIZE = 4096;
// The mapped window's size: a few MiB keep the process's memory small at
// the speed of a whole-file mapping, and make the system calls of the
// mapping a few per million lines. A multiple of any page size.
inline constexpr uint64_t OUTPUT_WINDOW_BYTES = uint64_t{4} << 20;

struct OutputFile {
  intptr_t handle = -1;
  // POSIX: the folder, open from the creation to the rename; its lock is
  // what keeps a second run away.
  intptr_t folder = -1;
  uint64_t size = 0;  // bytes of the whole lines written so far
  // Why the last call failed: an errno value (strerror gives the system's
  // words), or 0 with `in_use` when another run is writing in the folder, or
  // with `tampered` when another program changed the temporary file or its
  // name under this run.
  int error = 0;
  bool in_use = false;
  bool tampered = false;
  // True once the temporary file has been renamed to the name: from then on
  // the previous file is gone.
  bool replaced = false;
  // Set before output_file_create: one write per line even where the file
  // could be mapped (tests and benchmarks compare the two).
  bool write_per_line = false;
  char path[OUTPUT_PATH_SIZE] = {};  // the name, in its folder
  // The temporary file's name while it has one, empty while it has none
  // (POSIX: a file of no name until the job is complete); `temp_leaf` is
  // where the name's last part begins.
  char temp_path[OUTPUT_PATH_SIZE] = {};
  size_t temp_leaf = 0;

  // The mapping, where the lines go through one: the file is allocated up
  // to `allocated` bytes, and `window` (null when none) maps
  // OUTPUT_WINDOW_BYTES from `window_start`. `step` is the next
  // allocation's size.
  bool mapped = false;
  char* window = nullptr;
  uint64_t window_start = 0;
  uint64_t allocated = 0;
  uint64_t step = 0;
};

// Whether the job could be created as `name` in the folder `dir` (null: the
// current folder) and put in its place at the end, leaving nothing behind:
// the folder can be written, the name is not a folder, and the name's file
// may be replaced by this user. 1, or -1 with `error` set.
int output_file_check(OutputFile* file, const char* dir, const char* name);

// Creates the temporary file and holds the folder against other runs until
// the file is committed or discarded; leftovers of earlier runs are removed
// first, never opened. -1 with `in_use` when another run writes in the
// folder; whatever has the name itself is left untouched. 1 on success, -1
// with `error` otherwise.
int output_file_create(OutputFile* file, const char* dir, const char* name);

// Appends `length` bytes: copied into the mapping, or written in one system
// call when the system allows. 1 when all were written; -1 otherwise, and
// then the file is cut back to the lines written before, so that it never
// ends in part of a line.
int output_file_write(OutputFile* file, const char* data, size_t length);

// Cuts the file to the bytes written, then waits until they are on stable
// storage. May run on another thread than the writes, once they are done.
// 1, or -1 with `error` or `tampered` set.
int output_file_flush(OutputFile* file);

// Replaces the name with the flushed temporary file in one step, makes the
// change itself durable where the system allows, and closes the file. 1; or
// -1 with `error` or `tampered` set, and `replaced` saying whether the name
// was already replaced (only its durability failed) or still has its
// previous file (what is left is for output_file_discard).
int output_file_commit(OutputFile* file);

// Removes the temporary file, then closes it and lets the folder go; the
// name is not touched. Safe on a file that is not open.
void output_file_discard(OutputFile* file);

// What an ending process does with the file, from a signal handler or
// another thread while the owner may be in any call but create, commit and
// discard: the temporary file is removed and nothing else is touched; the
// system closes the rest. Async-signal-safe.
void output_file_abandon(const OutputFile* file);

// Whether `address` lies in the file's mapped window: a fault there is a
// failed write of the file.
bool output_file_maps(const OutputFile* file, const void* address);

// For the systems' own files (output_file_posix.cc, output_file_win32.cc).
namespace output_file_detail {
// Sets `error` and returns -1.
int failed(OutputFile* file, int error);
// Clears what the last call reported.
void start_call(OutputFile* file);
// `path` from `dir` (null: none), `separator` and `name`; false when it
// does not fit with room for a temporary name beside it.
bool set_path(OutputFile* file, const char* dir, const char* name, char separator);
// Sets `temp_path` to `path` followed by `middle` and OUTPUT_TEMP_SUFFIX.
void set_temp_path(OutputFile* file, const char* middle);
}  // namespace output_file_detail

#endif  // VISOR_PLATFORM_OUTPUT_FILE_H_
