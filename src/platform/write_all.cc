#include "platform/write_all.h"

#include <errno.h>
#include <unistd.h>

size_t write_all(int fd, const char* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, data + done, length - done);
    if (n > 0)
      done += static_cast<size_t>(n);
    else if (!(n < 0 && errno == EINTR))
      break;
  }
  return done;
}
