#ifndef VISOR_PLATFORM_THREAD_CPUS_H_
#define VISOR_PLATFORM_THREAD_CPUS_H_

// Keeps two threads that hand work to each other on different CPUs for a
// while. On the same CPU every hand-over would cost a context switch, and a
// waiter could not see its peer's answer without first giving the CPU up.
// Each thread narrows itself to one part of the CPUs the process may use
// and later gives the narrowing back.

#include <cstdint>

// The calling thread's CPUs before it was narrowed, so that they can be
// given back. Zero-initialise; one per thread that narrows itself.
struct ThreadCpus {
  bool narrowed;
  uint64_t saved[16];  // the system's CPU set, 1024 CPUs
};

// Narrows the calling thread to part `part` (0 or 1) of the CPUs it may run
// on: part 0 the first half of them, part 1 the rest, so that the two never
// share one. Returns 1 when narrowed; 0 when it stays as it was: fewer than
// two CPUs to share out, already narrowed, or the system refused.
int narrow_thread_cpus(ThreadCpus* cpus, int part);

// Gives the calling thread back the CPUs it had before narrow_thread_cpus;
// does nothing when it was not narrowed.
void restore_thread_cpus(ThreadCpus* cpus);

#endif  // VISOR_PLATFORM_THREAD_CPUS_H_
