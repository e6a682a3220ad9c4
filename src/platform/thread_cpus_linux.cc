// Narrowing on Linux: the calling thread's affinity mask.

#include <sched.h>

#include <cstring>

#include "platform/thread_cpus.h"

static_assert(sizeof(cpu_set_t) <= sizeof(ThreadCpus::saved), "cpu_set_t must fit");

int narrow_thread_cpus(ThreadCpus* cpus, int part) {
  if (cpus->narrowed)
    return 0;
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
    return 0;
  int count = CPU_COUNT(&allowed);
  if (count < 2)
    return 0;
  // The first half of the allowed CPUs, in order, for part 0.
  int first_part = (count + 1) / 2;
  cpu_set_t mine;
  CPU_ZERO(&mine);
  int seen = 0;
  for (int cpu = 0; cpu < CPU_SETSIZE && seen < count; ++cpu) {
    if (!CPU_ISSET(cpu, &allowed))
      continue;
    if ((seen < first_part) == (part == 0))
      CPU_SET(cpu, &mine);
    ++seen;
  }
  if (sched_setaffinity(0, sizeof mine, &mine) != 0)
    return 0;
  memcpy(cpus->saved, &allowed, sizeof allowed);
  cpus->narrowed = true;
  return 1;
}

void restore_thread_cpus(ThreadCpus* cpus) {
  if (!cpus->narrowed)
    return;
  cpu_set_t allowed;
  memcpy(&allowed, cpus->saved, sizeof allowed);
  sched_setaffinity(0, sizeof allowed, &allowed);
  cpus->narrowed = false;
}
