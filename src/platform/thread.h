#ifndef VISOR_PLATFORM_THREAD_H_
#define VISOR_PLATFORM_THREAD_H_

#include <cstdint>

// A second thread of the process. The caller owns the struct; it must
// outlive the thread's start.
struct Thread {
  int (*entry)(void*) = nullptr;
  void* arg = nullptr;
  uintptr_t native = 0;
  bool started = false;
};

// Starts `entry(arg)` at once on a new thread. Returns 1, or -1 when no
// thread could be created.
int start_thread(Thread* thread, int (*entry)(void*), void* arg);

// Waits for the thread to end and returns its entry's result.
int join_thread(Thread* thread);

#endif  // VISOR_PLATFORM_THREAD_H_
