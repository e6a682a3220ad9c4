#ifndef VISOR_PLATFORM_STANDARD_STREAMS_H_
#define VISOR_PLATFORM_STANDARD_STREAMS_H_

// Opens each closed standard stream on the null device, so that the output
// file cannot take its place and receive the messages; writes to it then go
// nowhere, and the job is done all the same. False when standard output
// cannot be had at all (on Windows: there is no standard output handle).
bool reopen_closed_standard_streams();

// The width in columns of the terminal that `fd` writes to, or 0 when it
// writes to none.
int terminal_columns(int fd);

#endif  // VISOR_PLATFORM_STANDARD_STREAMS_H_
