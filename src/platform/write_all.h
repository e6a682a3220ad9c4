#ifndef VISOR_PLATFORM_WRITE_ALL_H_
#define VISOR_PLATFORM_WRITE_ALL_H_

#include <cstddef>

// Writes `length` bytes to the descriptor `fd`, going on after a partial or
// interrupted write. Returns how many were written: `length`, or fewer when
// a write failed (errno says why). Async-signal-safe.
size_t write_all(int fd, const char* data, size_t length);

#endif  // VISOR_PLATFORM_WRITE_ALL_H_
