// Narrowing on Windows: the calling thread's affinity mask, within the
// process's (one processor group, as the process starts in).

#include <windows.h>

#include "platform/thread_cpus.h"

int narrow_thread_cpus(ThreadCpus* cpus, int part) {
  if (cpus->narrowed)
    return 0;
  DWORD_PTR process_mask = 0, system_mask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask))
    return 0;
  int count = 0;
  for (DWORD_PTR m = process_mask; m != 0; m &= m - 1)
    ++count;
  if (count < 2)
    return 0;
  int first_part = (count + 1) / 2;
  DWORD_PTR mine = 0;
  int seen = 0;
  for (int cpu = 0; cpu < static_cast<int>(8 * sizeof(DWORD_PTR)); ++cpu) {
    DWORD_PTR bit = static_cast<DWORD_PTR>(1) << cpu;
    if ((process_mask & bit) == 0)
      continue;
    if ((seen < first_part) == (part == 0))
      mine |= bit;
    ++seen;
  }
  DWORD_PTR before = SetThreadAffinityMask(GetCurrentThread(), mine);
  if (before == 0)
    return 0;
  cpus->saved[0] = static_cast<uint64_t>(before);
  cpus->narrowed = true;
  return 1;
}

void restore_thread_cpus(ThreadCpus* cpus) {
  if (!cpus->narrowed)
    return;
  SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(cpus->saved[0]));
  cpus->narrowed = false;
}
