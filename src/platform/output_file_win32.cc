// The output file on Windows. The temporary file, the name and ".part", is
// opened sharing nothing, and that is the hold: no other program can open,
// empty, delete or rename it, and a second run's attempt to delete it
// fails, which refuses that run. What stood under its name (a killed run's
// leftover, a hard link) is deleted first, never opened. Everything after
// goes through the handle: the rename, which so cannot move another file,
// and the deletion, also from the control handler's thread.

#include <errno.h>
#include <string.h>
#include <windows.h>

#include "platform/errno_win32.h"
#include "platform/output_file.h"

namespace {

using namespace output_file_detail;

HANDLE native(const OutputFile* file) { return reinterpret_cast<HANDLE>(file->handle); }

int failed_with(OutputFile* file, DWORD code) { return failed(file, errno_for_win32_error(code)); }

bool is_folder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool held_by_another(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

}  // namespace

int output_file_create(OutputFile* file, const char* dir, const char* name) {
  if (start_create(file, dir, name, '\\', is_folder) < 0)
    return -1;
  set_temp_path(file, "");
  // Again while another program makes the name as soon as it is deleted.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD not_deleted = DeleteFileA(file->temp_path) ? ERROR_SUCCESS : GetLastError();
    if (held_by_another(not_deleted))
      break;
    HANDLE h = CreateFileA(file->temp_path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file->handle = reinterpret_cast<intptr_t>(h);
      return 1;
    }
    DWORD code = GetLastError();
    if (held_by_another(code))
      break;
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
      return failed_with(file, code);
    // A leftover that could not be deleted (read-only) is refused with the
    // deletion's reason, never opened.
    if (not_deleted != ERROR_SUCCESS && not_deleted != ERROR_FILE_NOT_FOUND)
      return failed_with(file, not_deleted);
  }
  file->in_use = true;  // held by another run, or the name kept coming back
  return -1;
}

int output_file_write(OutputFile* file, const char* data, size_t length) {
  for (size_t done = 0; done < length;) {
    DWORD chunk = length - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length - done);
    DWORD n = 0;
    if (!WriteFile(native(file), data + done, chunk, &n, nullptr) || n == 0) {
      failed_with(file, GetLastError());
      LARGE_INTEGER end;
      end.QuadPart = static_cast<LONGLONG>(file->size);
      if (done > 0 && SetFilePointerEx(native(file), end, nullptr, FILE_BEGIN))
        SetEndOfFile(native(file));
      return -1;
    }
    done += n;
  }
  file->size += length;
  return 1;
}

int output_file_flush(OutputFile* file) {
  start_call(file);
  return FlushFileBuffers(native(file)) ? 1 : failed_with(file, GetLastError());
}

int output_file_commit(OutputFile* file) {
  start_call(file);
  // The name as a full path, which the rename through a handle needs.
  static wchar_t target[OUTPUT_PATH_SIZE];
  alignas(FILE_RENAME_INFO) static char buffer[sizeof(FILE_RENAME_INFO) + sizeof target];
  FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
  memset(buffer, 0, sizeof buffer);
  if (MultiByteToWideChar(CP_ACP, 0, file->path, -1, target, OUTPUT_PATH_SIZE) == 0)
    return failed_with(file, GetLastError());
  DWORD length = GetFullPathNameW(target, OUTPUT_PATH_SIZE, rename->FileName, nullptr);
  if (length == 0 || length >= OUTPUT_PATH_SIZE)
    return failed(file, ENAMETOOLONG);
  rename->ReplaceIfExists = TRUE;
  rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  if (!SetFileInformationByHandle(native(file), FileRenameInfo, rename,
                                  static_cast<DWORD>(sizeof *rename + length * sizeof(wchar_t))))
    return failed_with(file, GetLastError());
  file->replaced = true;
  // Flushed again, for the rename's own durability as far as a handle
  // gives it.
  DWORD code = FlushFileBuffers(native(file)) ? ERROR_SUCCESS : GetLastError();
  output_file_discard(file);
  return code == ERROR_SUCCESS ? 1 : failed_with(file, code);
}

void output_file_discard(OutputFile* file) {
  if (file->handle == -1)
    return;
  output_file_abandon(file);
  CloseHandle(native(file));
  file->handle = -1;
}

// Marks the file for deletion through its handle: it goes when the handle
// is closed, or when the process ends however it ends.
bool output_file_abandon(const OutputFile* file) {
  if (file->handle == -1 || file->replaced)
    return true;
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(native(file), FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// The control handler waits for the commit to end: `replaced` is known.
bool output_file_installed(const OutputFile* file) { return file->replaced; }
