// The job file read back on Linux (posix_fadvise, fdatasync). Starting over
// from the device first waits until every page of the file still waiting to
// be written has reached it (a copy just made can be mostly in memory yet),
// then asks the system to drop the file's pages: only clean pages can be
// dropped, so the wait is what makes the later reads come from the device.

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/job_reader.h"

namespace {

int failed(JobReader* reader, int error) {
  reader->error = error;
  return -1;
}

}  // namespace

int job_reader_open(JobReader* reader, const char* path) {
  job_reader_close(reader);
  reader->error = 0;
  reader->not_a_file = false;
  reader->from_device = false;
  reader->ended = false;
  // Not blocked by a named pipe that nobody writes: it is refused below.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return failed(reader, errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = errno;
    close(fd);
    return failed(reader, error);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    if (S_ISDIR(st.st_mode))
      return failed(reader, EISDIR);
    reader->not_a_file = true;
    return failed(reader, 0);
  }
  void* memory = nullptr;
  int refused = posix_memalign(&memory, JOB_READ_HEADROOM, JOB_READ_HEADROOM + JOB_READ_BLOCK);
  if (refused != 0) {
    close(fd);
    return failed(reader, refused);
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  reader->handle = fd;
  reader->memory = static_cast<char*>(memory);
  reader->block = reader->memory + JOB_READ_HEADROOM;
  return 1;
}

ptrdiff_t job_reader_read(JobReader* reader) {
  if (reader->ended)
    return 0;
  size_t got = 0;
  while (got < JOB_READ_BLOCK) {
    ssize_t n = read(static_cast<int>(reader->handle), reader->block + got, JOB_READ_BLOCK - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return failed(reader, errno);
    if (n == 0) {
      reader->ended = true;
      break;
    }
    got += static_cast<size_t>(n);
  }
  return static_cast<ptrdiff_t>(got);
}

int job_reader_start_over(JobReader* reader, bool from_device) {
  int fd = static_cast<int>(reader->handle);
  reader->from_device = false;
  reader->ended = false;
  if (from_device) {
    // A failed write-out is a copy that may not be on the device: the
    // reason is the check's answer. A file system that cannot sync, or one
    // mounted read-only, has nothing waiting.
    if (fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS)
      return failed(reader, errno);
    reader->from_device = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  }
  if (lseek(fd, 0, SEEK_SET) != 0)
    return failed(reader, errno);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return 1;
}

void job_reader_close(JobReader* reader) {
  if (reader->handle >= 0)
    close(static_cast<int>(reader->handle));
  free(reader->memory);
  reader->handle = -1;
  reader->memory = nullptr;
  reader->block = nullptr;
}
