#ifndef VISOR_GENERATOR_GCODE_FORMAT_H_
#define VISOR_GENERATOR_GCODE_FORMAT_H_

#include <cstddef>

// Formats one G-code line into `out` (`size` bytes, NUL-terminated) and
// returns its length, exactly as snprintf would for the same format. Only
// two conversions occur in G-code lines, and only these are supported: "%s"
// for a typed text and "%.3f" for a number.
//
// The library is built twice: with a fast converter for the job, and with
// plain vsnprintf, so that tests can compare whole jobs from both.
size_t format_gcode(char* out, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#endif  // VISOR_GENERATOR_GCODE_FORMAT_H_
