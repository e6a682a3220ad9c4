#include "platform/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "platform/write_all.h"

int output_file_create(OutputFile* file, const char* dir, const char* name) {
  std::string path = dir != nullptr ? std::string(dir) + "/" + name : std::string(name);
  // Not O_TRUNC: the file is emptied only once it is ours, so that a second
  // program started in the same folder cannot destroy a job being written.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0)
    return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
    close(fd);
    return -1;
  }
  file->handle = fd;
  file->size = 0;
  return 1;
}

int output_file_write(OutputFile* file, const char* data, size_t length) {
  int fd = static_cast<int>(file->handle);
  size_t done = write_all(fd, data, length);
  if (done < length) {
    if (done > 0 && ftruncate(fd, static_cast<off_t>(file->size)) == 0)
      lseek(fd, static_cast<off_t>(file->size), SEEK_SET);
    return -1;
  }
  file->size += length;
  return 1;
}

void output_file_close(OutputFile* file) {
  if (file->handle >= 0)
    close(static_cast<int>(file->handle));
  file->handle = -1;
}
