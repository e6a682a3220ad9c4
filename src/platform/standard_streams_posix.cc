#include "platform/standard_streams.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

bool reopen_closed_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0)
      continue;
    // open() takes the lowest free number, which is this one.
    int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd) {
      if (opened >= 0)
        close(opened);
      if (fd == STDOUT_FILENO)
        return false;
    }
  }
  return true;
}

int terminal_columns(int fd) {
  winsize ws;
  return isatty(fd) && ioctl(fd, TIOCGWINSZ, &ws) == 0 ? ws.ws_col : 0;
}
