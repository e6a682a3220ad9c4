// The output file on Windows. Opened without sharing, the file is held
// from the moment it is opened: a second program's open fails before it
// could empty it, so CREATE_ALWAYS can empty it at once.

#include <windows.h>

#include <string>

#include "platform/output_file.h"

static HANDLE native(const OutputFile* file) { return reinterpret_cast<HANDLE>(file->handle); }

int output_file_create(OutputFile* file, const char* dir, const char* name) {
  std::string path = dir != nullptr ? std::string(dir) + "\\" + name : std::string(name);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return -1;
  file->handle = reinterpret_cast<intptr_t>(h);
  file->size = 0;
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

void output_file_close(OutputFile* file) {
  if (file->handle != -1)
    CloseHandle(native(file));
  file->handle = -1;
}
