#ifndef VISOR_PLATFORM_WAIT_WORD_COMMON_H_
#define VISOR_PLATFORM_WAIT_WORD_COMMON_H_

// Pieces shared by the platform files of WaitWord.

#include <thread>

#include "platform/wait_word.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
inline void cpu_relax() { _mm_pause(); }
#else
inline void cpu_relax() {}
#endif

// First a few microseconds of pause instructions: longer than the peer's
// usual answer (a file write), far shorter than a sleep and wake-up. None on
// a single core, where spinning only delays the peer.
inline int spin_limit() {
  static const int limit = std::thread::hardware_concurrency() > 1 ? 256 : 0;
  return limit;
}

// Then the core is offered to others a number of times: when more threads
// want to run than there are cores (two jobs at once, a busy machine), the
// peer may be waiting for this very core. Sleeping at once instead would
// let the scheduler put both threads on one core, where every line would
// cost two context switches.
inline constexpr int YIELD_LIMIT = 64;

// Spins until the word leaves `old`; returns the new value, or `old` when
// the spin ran out.
inline uint32_t spin_for_change(WaitWord* word, uint32_t old) {
  for (int i = spin_limit(); i > 0; --i) {
    uint32_t now = word->value.load(std::memory_order_acquire);
    if (now != old)
      return now;
    cpu_relax();
  }
  for (int i = YIELD_LIMIT; i > 0; --i) {
    std::this_thread::yield();
    uint32_t now = word->value.load(std::memory_order_acquire);
    if (now != old)
      return now;
  }
  return old;
}

#endif  // VISOR_PLATFORM_WAIT_WORD_COMMON_H_
