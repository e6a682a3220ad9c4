#include "generator/gcode_format.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// "%.3f" of a value that came from a float: the three-decimal figure nearest
// to the exact value, an exact tie going to the even digit. For a float, the
// product with 1000 is exact in double (24 + 7 significant bits), so rounding
// it to an integer in the default mode gives exactly printf's figure. Other
// values take the slow road.
size_t put_fixed3(char* out, size_t room, double v) {
  if (!(std::fabs(v) < 1e12) || static_cast<double>(static_cast<float>(v)) != v) {
    int n = snprintf(out, room, "%.3f", v);
    if (n < 0)
      return 0;
    return static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
  }
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  uint64_t thousandths = static_cast<uint64_t>(std::rint(std::fabs(v) * 1000.0));
  uint64_t whole = thousandths / 1000;
  unsigned frac = static_cast<unsigned>(thousandths % 1000);
  *--p = static_cast<char>('0' + frac % 10);
  *--p = static_cast<char>('0' + frac / 10 % 10);
  *--p = static_cast<char>('0' + frac / 100);
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  if (std::signbit(v))  // printf keeps the sign of -0.0 and of -0.0004
    *--p = '-';
  size_t n = static_cast<size_t>(end - p);
  if (n >= room)
    n = room - 1;
  memcpy(out, p, n);
  return n;
}

}  // namespace

size_t format_gcode(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* p = out;
  char* last = out + size - 1;  // room for the NUL
  for (const char* f = format; *f != '\0' && p < last; ++f) {
    if (*f != '%') {
      *p++ = *f;
    } else if (f[1] == 's') {
      const char* text = va_arg(args, const char*);
      size_t n = strnlen(text, static_cast<size_t>(last - p));
      memcpy(p, text, n);
      p += n;
      f += 1;
    } else if (strncmp(f, "%.3f", 4) == 0) {
      p += put_fixed3(p, static_cast<size_t>(last - p) + 1, va_arg(args, double));
      f += 3;
    } else {
      *p++ = *f;  // "%%" and anything else never occur in G-code formats
      if (f[1] == '%')
        ++f;
    }
  }
  *p = '\0';
  va_end(args);
  return static_cast<size_t>(p - out);
}
