// The output file on Windows. The temporary file is opened sharing neither
// reading nor writing, so it is held from the moment it is opened: a second
// program's open fails before it could empty it, and CREATE_ALWAYS can
// empty a file left by a killed run at once. It shares deletion only, so
// that MoveFileExA can move it while it is held (no other program can slip
// in between a close and the move) and the interrupt handler can delete it
// from its own thread without closing a handle the main thread may be
// writing through.

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "platform/errno_win32.h"
#include "platform/output_file.h"

namespace {

HANDLE native(const OutputFile* file) { return reinterpret_cast<HANDLE>(file->handle); }

int failed(OutputFile* file, int error) {
  file->error = error;
  return -1;
}

int failed_now(OutputFile* file) { return failed(file, errno_for_win32_error(GetLastError())); }

void start_call(OutputFile* file) {
  file->error = 0;
  file->in_use = false;
}

bool set_paths(OutputFile* file, const char* dir, const char* name) {
  int n = dir != nullptr ? snprintf(file->path, sizeof file->path, "%s\\%s", dir, name)
                         : snprintf(file->path, sizeof file->path, "%s", name);
  size_t length = n < 0 ? sizeof file->path : static_cast<size_t>(n);
  if (length + sizeof OUTPUT_TEMP_SUFFIX > sizeof file->temp_path)
    return false;
  memcpy(file->temp_path, file->path, length);
  memcpy(file->temp_path + length, OUTPUT_TEMP_SUFFIX, sizeof OUTPUT_TEMP_SUFFIX);
  return true;
}

bool is_folder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// Windows grants the right to create files through access lists that only
// an attempt really tests: the temporary file is created for a moment, and
// the system removes it when it is closed, even should the process die
// first. A temporary file that already stands (a leftover, or another run's)
// leaves the question to output_file_create.
int output_file_check(OutputFile* file, const char* dir, const char* name) {
  start_call(file);
  if (!set_paths(file, dir, name))
    return failed(file, ENAMETOOLONG);
  DWORD attributes = GetFileAttributesA(dir != nullptr ? dir : ".");
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return failed_now(file);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return failed(file, ENOTDIR);
  if (is_folder(file->path))
    return failed(file, EISDIR);
  HANDLE probe = CreateFileA(file->temp_path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return 1;
  }
  DWORD code = GetLastError();
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS || code == ERROR_SHARING_VIOLATION)
    return 1;
  return failed(file, errno_for_win32_error(code));
}

int output_file_create(OutputFile* file, const char* dir, const char* name) {
  start_call(file);
  file->replaced = false;
  file->size = 0;
  if (!set_paths(file, dir, name))
    return failed(file, ENAMETOOLONG);
  // The name is only ever replaced, by the move at the end, and a folder
  // cannot be: refused now rather than after the whole job.
  if (is_folder(file->path))
    return failed(file, EISDIR);
  HANDLE h = CreateFileA(file->temp_path, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
      file->in_use = true;
      return -1;
    }
    return failed(file, errno_for_win32_error(code));
  }
  file->handle = reinterpret_cast<intptr_t>(h);
  return 1;
}

int output_file_write(OutputFile* file, const char* data, size_t length) {
  HANDLE h = native(file);
  size_t done = 0;
  while (done < length) {
    size_t left = length - done;
    DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD n = 0;
    if (!WriteFile(h, data + done, chunk, &n, nullptr) || n == 0) {
      file->error = errno_for_win32_error(GetLastError());
      if (done > 0) {
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(file->size);
        if (SetFilePointerEx(h, end, nullptr, FILE_BEGIN))
          SetEndOfFile(h);
      }
      return -1;
    }
    done += n;
  }
  file->size += length;
  return 1;
}

int output_file_flush(OutputFile* file) {
  start_call(file);
  if (!FlushFileBuffers(native(file)))
    return failed_now(file);
  return 1;
}

int output_file_commit(OutputFile* file) {
  start_call(file);
  // Write-through: the call returns once the move is on the disk, which is
  // what a folder sync gives on POSIX.
  if (!MoveFileExA(file->temp_path, file->path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return failed_now(file);
  file->replaced = true;
  CloseHandle(native(file));
  file->handle = -1;
  return 1;
}

void output_file_discard(OutputFile* file) {
  if (file->handle == -1)
    return;
  // Deleted while still held (the file goes at the close): once closed,
  // the temporary name may be another run's.
  if (!file->replaced)
    DeleteFileA(file->temp_path);
  CloseHandle(native(file));
  file->handle = -1;
}
