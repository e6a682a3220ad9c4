#include "platform/standard_streams.h"

#include <io.h>
#include <windows.h>

// A process without standard handles has none to reopen: only the output
// is looked for.
bool reopen_closed_standard_streams() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != INVALID_HANDLE_VALUE && out != nullptr;
}

int terminal_columns(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return GetConsoleScreenBufferInfo(h, &info) ? info.srWindow.Right - info.srWindow.Left + 1 : 0;
}
