#ifndef VISOR_BENCH_BUSY_LOAD_H_
#define VISOR_BENCH_BUSY_LOAD_H_

// CPU-bound processes that stand for the other programs on an operator's
// machine (a browser, a slicer): each a child that spins for ever, in its
// own session as a program started elsewhere would be, or in the
// benchmark's. Where the kernel shares the CPUs out by session (Linux's
// autogroup), that decides how much of a CPU the job's threads get beside
// them. They are ended by their process ids only, also when the benchmark
// is interrupted or exits early.

// Most busy processes at once.
inline constexpr int BUSY_MAX = 8;

// Installs the handlers that end the busy processes when the benchmark is
// interrupted (SIGINT, SIGTERM, SIGHUP, SIGQUIT) and when it exits. Call
// once, before busy_start.
void busy_install_cleanup();

enum BusySession { OWN_SESSION, BENCH_SESSION };

// Starts `count` busy processes (at most BUSY_MAX in all). Returns false
// when a process could not be started; those started are ended then.
bool busy_start(int count, BusySession session);

// Ends every busy process this benchmark started, and reaps it.
void busy_stop();

#endif  // VISOR_BENCH_BUSY_LOAD_H_
