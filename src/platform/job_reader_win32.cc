// The job file read back on Windows. Starting over from the device reopens
// the file with FILE_FLAG_NO_BUFFERING: every read then goes to the device,
// past the system's cache. Such reads must be whole sectors into memory
// aligned to them, which the block is (a multiple of any sector size, at an
// address VirtualAlloc aligns to 64 KiB plus the 4 KiB headroom). The file
// systems keep a cached file and such reads coherent by first writing out
// the cached pages still waiting to be written.

#include <errno.h>
#include <windows.h>

#include "platform/errno_win32.h"
#include "platform/job_reader.h"

namespace {

HANDLE native(const JobReader* reader) { return reinterpret_cast<HANDLE>(reader->handle); }

int failed(JobReader* reader, int error) {
  reader->error = error;
  return -1;
}

int failed_now(JobReader* reader) { return failed(reader, errno_for_win32_error(GetLastError())); }

// Shared with every other program: the check never stands in the way of a
// copy, an editor or the printer software.
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

int job_reader_open(JobReader* reader, const char* path) {
  job_reader_close(reader);
  reader->error = 0;
  reader->not_a_file = false;
  reader->from_device = false;
  reader->ended = false;
  // A folder cannot be opened as a file at all; the refusal would only say
  // "access denied".
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return failed(reader, EISDIR);
  HANDLE h = CreateFileA(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return failed_now(reader);
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    reader->not_a_file = true;
    return failed(reader, 0);
  }
  void* memory = VirtualAlloc(nullptr, JOB_READ_HEADROOM + JOB_READ_BLOCK, MEM_COMMIT | MEM_RESERVE,
                              PAGE_READWRITE);
  if (memory == nullptr) {
    CloseHandle(h);
    return failed(reader, ENOMEM);
  }
  reader->handle = reinterpret_cast<intptr_t>(h);
  reader->memory = static_cast<char*>(memory);
  reader->block = reader->memory + JOB_READ_HEADROOM;
  return 1;
}

ptrdiff_t job_reader_read(JobReader* reader) {
  if (reader->ended)
    return 0;
  // One read of a whole block: a disk file gives fewer bytes only at its
  // end, after which the offset is no longer aligned for another read.
  DWORD n = 0;
  if (!ReadFile(native(reader), reader->block, static_cast<DWORD>(JOB_READ_BLOCK), &n, nullptr))
    return failed_now(reader);
  if (n < JOB_READ_BLOCK)
    reader->ended = true;
  return static_cast<ptrdiff_t>(n);
}

int job_reader_start_over(JobReader* reader, bool from_device) {
  reader->from_device = false;
  reader->ended = false;
  if (from_device) {
    // The same file, whatever has become of its name meanwhile.
    HANDLE uncached = ReOpenFile(native(reader), GENERIC_READ, SHARE_ALL,
                                 FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN);
    if (uncached != INVALID_HANDLE_VALUE) {
      CloseHandle(native(reader));
      reader->handle = reinterpret_cast<intptr_t>(uncached);
      reader->from_device = true;
      return 1;
    }
  }
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(native(reader), start, nullptr, FILE_BEGIN))
    return failed_now(reader);
  return 1;
}

void job_reader_close(JobReader* reader) {
  if (reader->handle != -1)
    CloseHandle(native(reader));
  if (reader->memory != nullptr)
    VirtualFree(reader->memory, 0, MEM_RELEASE);
  reader->handle = -1;
  reader->memory = nullptr;
  reader->block = nullptr;
}
