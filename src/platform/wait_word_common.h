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

// A full spin is about 10 to 30 microseconds of pause instructions: longer
// than the peer's usual answer (a file write), far shorter than a sleep and
// wake-up. None on a single core, where spinning only delays the peer.
inline uint32_t full_spin() {
  static const uint32_t limit = std::thread::hardware_concurrency() > 1 ? 1024 : 0;
  return limit;
}

inline constexpr uint32_t MAX_SPIN_CUT = 7;

// Spins until the word leaves `old`; returns the new value, or `old` when
// the spin ran out.
inline uint32_t spin_for_change(WaitWord* word, uint32_t old) {
  uint32_t cut = word->spin_cut.load(std::memory_order_relaxed);
  uint32_t waits = word->waits.load(std::memory_order_relaxed) + 1;
  word->waits.store(waits, std::memory_order_relaxed);
  bool probe = cut > 0 && waits % 64 == 0;
  for (uint32_t i = full_spin() >> (probe ? 0 : cut); i > 0; --i) {
    uint32_t now = word->value.load(std::memory_order_acquire);
    if (now != old) {
      if (cut > 0)
        word->spin_cut.store(probe ? 0 : cut - 1, std::memory_order_relaxed);
      return now;
    }
    cpu_relax();
  }
  if (cut < MAX_SPIN_CUT)
    word->spin_cut.store(cut + 1, std::memory_order_relaxed);
  return old;
}

#endif  // VISOR_PLATFORM_WAIT_WORD_COMMON_H_
