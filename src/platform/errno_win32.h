#ifndef VISOR_PLATFORM_ERRNO_WIN32_H_
#define VISOR_PLATFORM_ERRNO_WIN32_H_

// A Windows error code as the errno value the C library has words for
// (strerror), as the C runtime maps it. Windows only.
int errno_for_win32_error(unsigned long code);

#endif  // VISOR_PLATFORM_ERRNO_WIN32_H_
