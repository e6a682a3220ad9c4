// What the output file does alike on every system: its paths and how a
// call reports. The systems' own parts are output_file_posix.cc and
// output_file_win32.cc.

#include "platform/output_file.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// Room kept after the name for the middle of a temporary name.
constexpr size_t TEMP_MIDDLE_SIZE = 16;

}  // namespace

namespace output_file_detail {

int failed(OutputFile* file, int error) {
  file->error = error;
  return -1;
}

void start_call(OutputFile* file) {
  file->error = 0;
  file->in_use = false;
  file->tampered = false;
}

bool set_path(OutputFile* file, const char* dir, const char* name, char separator) {
  int n = dir != nullptr ? snprintf(file->path, sizeof file->path, "%s%c%s", dir, separator, name)
                         : snprintf(file->path, sizeof file->path, "%s", name);
  return n >= 0 && static_cast<size_t>(n) + TEMP_MIDDLE_SIZE + sizeof OUTPUT_TEMP_SUFFIX <=
                       sizeof file->temp_path;
}

// set_path left room for both.
void set_temp_path(OutputFile* file, const char* middle) {
  size_t length = strlen(file->path);
  size_t middle_length = strnlen(middle, TEMP_MIDDLE_SIZE);
  memcpy(file->temp_path, file->path, length);
  memcpy(file->temp_path + length, middle, middle_length);
  memcpy(file->temp_path + length + middle_length, OUTPUT_TEMP_SUFFIX, sizeof OUTPUT_TEMP_SUFFIX);
}

}  // namespace output_file_detail

bool output_file_maps(const OutputFile* file, const void* address) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  uintptr_t start = reinterpret_cast<uintptr_t>(file->window);
  return file->window != nullptr && at >= start && at - start < OUTPUT_WINDOW_BYTES;
}
