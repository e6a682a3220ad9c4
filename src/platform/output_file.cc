// What the output file does alike on every system.

#include "platform/output_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace output_file_detail {

// Room kept after the name for the middle of a temporary name.
constexpr size_t TEMP_MIDDLE_SIZE = 16;

int start_create(OutputFile* file, const char* dir, const char* name, char separator,
                 bool (*is_folder)(const char* path)) {
  bool write_per_line = file->write_per_line;
  *file = OutputFile{};
  file->write_per_line = write_per_line;
  int n = dir != nullptr ? snprintf(file->path, sizeof file->path, "%s%c%s", dir, separator, name)
                         : snprintf(file->path, sizeof file->path, "%s", name);
  if (n < 0 || static_cast<size_t>(n) + TEMP_MIDDLE_SIZE + sizeof OUTPUT_TEMP_SUFFIX >
                   sizeof file->temp_path)
    return failed(file, ENAMETOOLONG);
  // The name is only ever replaced, by the rename at the end, and a folder
  // cannot be: refused now rather than after the whole job. Whatever else
  // has the name (a link, a pipe, a device) is never opened.
  return is_folder(file->path) ? failed(file, EISDIR) : 1;
}

// start_create left room for both.
void set_temp_path(OutputFile* file, const char* middle) {
  size_t length = strlen(file->path);
  size_t middle_length = strnlen(middle, TEMP_MIDDLE_SIZE);
  memcpy(file->temp_path, file->path, length);
  memcpy(file->temp_path + length, middle, middle_length);
  memcpy(file->temp_path + length + middle_length, OUTPUT_TEMP_SUFFIX, sizeof OUTPUT_TEMP_SUFFIX);
}

}  // namespace output_file_detail
