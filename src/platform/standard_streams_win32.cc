#include "platform/standard_streams.h"

#include <windows.h>

// A process without standard handles has none to reopen: only the output
// is looked for.
bool reopen_closed_standard_streams() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != INVALID_HANDLE_VALUE && out != nullptr;
}
