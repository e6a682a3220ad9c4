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
};

// Returns the word's value once it differs from `old`.
uint32_t wait_for_change(WaitWord* word, uint32_t old);

// Stores `value` and wakes every sleeper.
void publish(WaitWord* word, uint32_t value);

// Sets `bits` in the word and wakes every sleeper; returns the value before.
uint32_t publish_bits(WaitWord* word, uint32_t bits);

#endif  // VISOR_PLATFORM_WAIT_WORD_H_
