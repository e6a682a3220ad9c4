#ifndef VISOR_PLATFORM_WAIT_WORD_H_
#define VISOR_PLATFORM_WAIT_WORD_H_

#include <atomic>
#include <cstdint>

// A 32-bit word that one thread changes and another waits on. The waiter
// spins for a few microseconds first, since the other side usually answers
// within that, and then sleeps in the kernel, so a slow peer costs no CPU.
// The fast path is free of system calls: a change wakes the kernel only when
// someone is actually asleep.
struct WaitWord {
  std::atomic<uint32_t> value{0};
  std::atomic<uint32_t> sleepers{0};
  // How far the waiter's spin is cut short: each wait that ends asleep
  // halves the next spin, each that ends spinning doubles it back. A peer
  // that has no core to run on (a busy or single-core machine) thus stops
  // costing a full spin per line. Every so often a wait spins in full, so
  // that the spin comes back once the peer answers quickly again.
  std::atomic<uint32_t> spin_cut{0};
  std::atomic<uint32_t> waits{0};
};

// Returns the word's value once it differs from `old`.
uint32_t wait_for_change(WaitWord* word, uint32_t old);

// Stores `value` and wakes every sleeper.
void publish(WaitWord* word, uint32_t value);

// Sets `bits` in the word and wakes every sleeper; returns the value before.
uint32_t publish_bits(WaitWord* word, uint32_t bits);

#endif  // VISOR_PLATFORM_WAIT_WORD_H_
