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

// About 40 microseconds of pause instructions: far longer than the peer's
// usual answer (a file write), short enough that a slow peer costs little.
// A waiter that gave up sooner would let the scheduler put both threads on
// one core, where every line would cost two context switches. No spin on a
// single core, where spinning only delays the peer.
inline int spin_limit() {
  static const int limit = std::thread::hardware_concurrency() > 1 ? 2000 : 0;
  return limit;
}

// Spins until the word leaves `old`; returns the new value, or `old` when
// the spin ran out.
inline uint32_t spin_for_change(WaitWord* word, uint32_t old) {
  for (int i = spin_limit(); i > 0; --i) {
    uint32_t now = word->value.load(std::memory_order_acquire);
    if (now != old)
      return now;
    cpu_relax();
  }
  return old;
}

#endif  // VISOR_PLATFORM_WAIT_WORD_COMMON_H_
