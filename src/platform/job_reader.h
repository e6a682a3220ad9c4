#ifndef VISOR_PLATFORM_JOB_READER_H_
#define VISOR_PLATFORM_JOB_READER_H_

// A job file read back to be checked: opened for reading only, and read in
// blocks from the beginning to the end, so that the whole file is never in
// memory. After a first look at its beginning, the reading can start over
// from what is on the device rather than from what the system still keeps
// of the file in its cache (the pages of a copy just made), where the
// system allows it.

#include <cstddef>
#include <cstdint>

// A read takes a whole block: a multiple of every sector size, as reads
// that bypass the cache require.
inline constexpr size_t JOB_READ_BLOCK = size_t{1} << 20;
// Room before the block for the unread end of the block before, so that a
// line across two blocks lies in one piece.
inline constexpr size_t JOB_READ_HEADROOM = 4096;

struct JobReader {
  intptr_t handle = -1;
  // Why the last call failed: an errno value (strerror gives the system's
  // words), or 0 with `not_a_file` for a device, pipe or the like.
  int error = 0;
  bool not_a_file = false;
  // The reads since the last start over come from the device: the cache
  // was emptied of the file, or is bypassed.
  bool from_device = false;
  // The last read reached the end of the file: the next returns 0.
  bool ended = false;
  // JOB_READ_HEADROOM bytes, then the block, aligned as reads that bypass
  // the cache need it.
  char* memory = nullptr;
  char* block = nullptr;
};

// Opens the file for reading only; a folder, a device or a pipe is refused.
// 1, or -1 with `error` or `not_a_file` set.
int job_reader_open(JobReader* reader, const char* path);

// Reads the next block into `block`: the bytes read, fewer than a block only
// at the end of the file, 0 there; -1 with `error` set.
ptrdiff_t job_reader_read(JobReader* reader);

// The next read starts at the beginning of the file again. With
// `from_device`, what the system caches of the file is first written out
// and dropped, or the reads bypass the cache, as far as the system allows;
// `from_device` then says whether it did. 1, or -1 with `error` set.
int job_reader_start_over(JobReader* reader, bool from_device);

// Closes the file and frees the block. Safe on a reader not open.
void job_reader_close(JobReader* reader);

#endif  // VISOR_PLATFORM_JOB_READER_H_
