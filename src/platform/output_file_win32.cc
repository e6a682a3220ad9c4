// The output file on Windows. The temporary file (the name and ".part") is
// opened sharing nothing, so it is held from the moment it is opened: no
// other program can open, empty, delete or rename it, and a second run's
// attempt fails before it could change it. Whatever stood under that name
// before (a leftover of a killed run, a hard link to another file) is
// deleted first, never opened, and the file is made new. Everything after
// goes through the handle itself: the rename over the name (which cannot
// move another file that took the temporary name meanwhile) and the
// deletion, also from the interrupt handler's own thread.

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "platform/errno_win32.h"
#include "platform/output_file.h"

namespace {

using output_file_detail::failed;
using output_file_detail::set_path;
using output_file_detail::set_temp_path;
using output_file_detail::start_call;

HANDLE native(const OutputFile* file) { return reinterpret_cast<HANDLE>(file->handle); }

int failed_now(OutputFile* file) { return failed(file, errno_for_win32_error(GetLastError())); }

bool is_folder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Marks the held file for deletion: it goes when the handle is closed, or
// when the process ends, however it ends.
bool delete_held(HANDLE h) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Attempts at a new temporary file while another program makes one under
// the name as soon as it is deleted.
constexpr int CREATE_ATTEMPTS = 8;

}  // namespace

// Windows grants the right to create files through access lists that only
// an attempt really tests: the temporary file is created for a moment, and
// the system removes it when it is closed, even should the process die
// first. A temporary file that already stands (a leftover, or another run's)
// leaves the question to output_file_create.
int output_file_check(OutputFile* file, const char* dir, const char* name) {
  start_call(file);
  if (!set_path(file, dir, name, '\\'))
    return failed(file, ENAMETOOLONG);
  set_temp_path(file, "");
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
  if (!set_path(file, dir, name, '\\'))
    return failed(file, ENAMETOOLONG);
  set_temp_path(file, "");
  // The name is only ever replaced, by the move at the end, and a folder
  // cannot be: refused now rather than after the whole job.
  if (is_folder(file->path))
    return failed(file, EISDIR);
  for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    // A run that holds the file shares nothing with us: its file cannot be
    // deleted. A leftover goes, a link as a link.
    DWORD not_deleted = DeleteFileA(file->temp_path) ? ERROR_SUCCESS : GetLastError();
    if (not_deleted == ERROR_SHARING_VIOLATION || not_deleted == ERROR_LOCK_VIOLATION) {
      file->in_use = true;
      return -1;
    }
    HANDLE h = CreateFileA(file->temp_path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file->handle = reinterpret_cast<intptr_t>(h);
      return 1;
    }
    DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
      file->in_use = true;
      return -1;
    }
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
      return failed(file, errno_for_win32_error(code));
    // A leftover that could not be deleted (read-only) is refused with the
    // reason the deletion gave: it is never opened. Otherwise another
    // program made the name again since.
    if (not_deleted != ERROR_SUCCESS && not_deleted != ERROR_FILE_NOT_FOUND)
      return failed(file, errno_for_win32_error(not_deleted));
  }
  file->in_use = true;  // the name kept coming back under another program
  return -1;
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
  // The file of this handle, whatever has its name, takes the job's name,
  // given as a full path.
  static wchar_t target[OUTPUT_PATH_SIZE];
  static wchar_t full[OUTPUT_PATH_SIZE];
  if (MultiByteToWideChar(CP_ACP, 0, file->path, -1, target, OUTPUT_PATH_SIZE) == 0)
    return failed_now(file);
  DWORD length = GetFullPathNameW(target, OUTPUT_PATH_SIZE, full, nullptr);
  if (length == 0 || length >= OUTPUT_PATH_SIZE)
    return failed(file, ENAMETOOLONG);
  alignas(FILE_RENAME_INFO) static char buffer[sizeof(FILE_RENAME_INFO) + sizeof full];
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
  memset(buffer, 0, sizeof buffer);
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  memcpy(rename->FileName, full, (length + 1) * sizeof(wchar_t));
  if (!SetFileInformationByHandle(
          native(file), FileRenameInfo, rename,
          static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t))))
    return failed_now(file);
  file->replaced = true;
  // Flushed again after the rename, for the rename's own durability, as
  // far as the system gives it through a handle.
  bool durable = FlushFileBuffers(native(file)) != 0;
  DWORD code = GetLastError();
  CloseHandle(native(file));
  file->handle = -1;
  return durable ? 1 : failed(file, errno_for_win32_error(code));
}

void output_file_discard(OutputFile* file) {
  if (file->handle == -1)
    return;
  if (!file->replaced)
    delete_held(native(file));
  CloseHandle(native(file));
  file->handle = -1;
}

void output_file_abandon(const OutputFile* file) {
  if (file->handle != -1 && !file->replaced)
    delete_held(native(file));
}
