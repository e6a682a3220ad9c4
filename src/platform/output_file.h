#ifndef VISOR_PLATFORM_OUTPUT_FILE_H_
#define VISOR_PLATFORM_OUTPUT_FILE_H_

// The job's output file, written whole or not at all: the lines go into a
// temporary file of this run's own beside the name, and only the complete,
// flushed job takes the name, in one rename. Until then whatever has the
// name stays as it is.
//
// The states of an OutputFile, and what moves it from one to the next:
//
// - Closed: new, or after a failed create, a commit or a discard. Nothing
//   is open or held.
//
// - Open, after output_file_create: the folder is held, so that another
//   run's create fails with `in_use` (POSIX: a flock on the folder;
//   Windows: the temporary file, shared with nobody); what killed runs left
//   is removed; the temporary file is open, named in `temp_path` where it
//   has a name (Linux: none until the commit). write adds whole lines,
//   flush puts them on stable storage. Whatever fails, it stays Open, a
//   failed write leaving only the lines before it, until:
//
// - output_file_commit renames it over the name (`replaced`), closes it
//   and lets the folder go, even if the sync of the rename then fails; or
//   output_file_discard removes it, closes it and lets the folder go, the
//   name untouched. Both: Closed.
//
// A process that ends while the file is Open calls output_file_abandon,
// from a signal handler too: it removes the temporary file and nothing
// else; the system closes the rest and drops the hold.

#include <cstddef>
#include <cstdint>

inline constexpr char OUTPUT_TEMP_SUFFIX[] = ".part";  // a temporary name's end
inline constexpr size_t OUTPUT_PATH_SIZE = 4096;
// Little memory at a whole-file mapping's speed; a multiple of any page.
inline constexpr uint64_t OUTPUT_WINDOW_BYTES = uint64_t{4} << 20;
// How far ahead of the lines the file is allocated where it is mapped: the
// further, the fewer page faults the copies take (a quarter as many as at
// 4 MiB), up to where a larger step costs more than it saves (64 MiB: see
// docs/performance.md). Room on the disk, not memory.
inline constexpr uint64_t OUTPUT_ALLOCATE_BYTES = uint64_t{32} << 20;

struct OutputFile {
  intptr_t handle = -1;
  intptr_t folder = -1;  // POSIX: the folder, whose lock is the hold
  uint64_t size = 0;     // bytes of the whole lines written
  // Why the last call failed: an errno value, or 0 with `in_use` (another
  // run holds the folder) or `tampered` (another program changed the
  // temporary file or its name); with `unlockable` the errno says why the
  // folder cannot be held.
  int error = 0;
  bool in_use = false;
  bool tampered = false;
  bool unlockable = false;
  // A discard could not remove the temporary file, named in `temp_path`.
  bool left_behind = false;
  bool replaced = false;
  // One write per line even where the file could be mapped (tests and
  // benchmarks compare the two); set before the create.
  bool write_per_line = false;
  char path[OUTPUT_PATH_SIZE] = {};       // the name, in its folder
  char temp_path[OUTPUT_PATH_SIZE] = {};  // empty while it has no name

  // The mapping: the file is allocated up to `allocated`, `window` (null:
  // none) maps OUTPUT_WINDOW_BYTES from `window_start`, and `step` is the
  // next allocation's size.
  bool mapped = false;
  char* window = nullptr;
  uint64_t window_start = 0;
  uint64_t allocated = 0;
  uint64_t step = OUTPUT_ALLOCATE_BYTES;
};

// Closed to Open, for `name` in the folder `dir` (null: the current one).
// What would fail only at the rename is refused now: a folder under the
// name, a name this user may not replace. 1, or -1 with `error` or `in_use`.
int output_file_create(OutputFile* file, const char* dir, const char* name);

// Appends `length` bytes. 1, or -1 with `error`.
int output_file_write(OutputFile* file, const char* data, size_t length);

// Cuts the file to its lines and waits until they are on stable storage;
// may run on another thread than the writes, once they are done. 1, or -1
// with `error` or `tampered`.
int output_file_flush(OutputFile* file);

// Renames the flushed file over the name and syncs the rename. 1, or -1
// with `error` or `tampered`.
int output_file_commit(OutputFile* file);

void output_file_discard(OutputFile* file);

// Async-signal-safe; while the owner is in any call but create, commit and
// discard. False when the temporary file is there and could not be removed.
bool output_file_abandon(const OutputFile* file);

// Whether the name holds this run's file now: after the commit, and inside
// it from the rename on. Async-signal-safe.
bool output_file_installed(const OutputFile* file);

// Whether `address` lies in the mapped window: a fault there is a failed
// write.
inline bool output_file_maps(const OutputFile* file, const void* address) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  uintptr_t start = reinterpret_cast<uintptr_t>(file->window);
  return file->window != nullptr && at >= start && at - start < OUTPUT_WINDOW_BYTES;
}

// For the systems' own files.
namespace output_file_detail {
inline int failed(OutputFile* file, int error) {
  file->error = error;
  return -1;
}
inline void start_call(OutputFile* file) {
  file->error = 0;
  file->in_use = file->tampered = file->unlockable = false;
}
// What every create does first: the file reset, `path` made of `dir`,
// `separator` and `name`, and the checks no system needs to be asked for.
int start_create(OutputFile* file, const char* dir, const char* name, char separator,
                 bool (*is_folder)(const char* path));
// `path`, `middle` and OUTPUT_TEMP_SUFFIX.
void set_temp_path(OutputFile* file, const char* middle);
}  // namespace output_file_detail

#endif  // VISOR_PLATFORM_OUTPUT_FILE_H_
