#include "generator/gcode_format.h"

#include <cstdarg>
#include <cstdio>

// The reference: the C library's own conversion.
size_t format_gcode(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(out, size, format, args);
  va_end(args);
  if (n < 0)
    n = 0;
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}
