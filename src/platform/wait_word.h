#ifndef VISOR_PLATFORM_WAIT_WORD_H_
#define VISOR_PLATFORM_WAIT_WORD_H_

#include <atomic>
#include <cstdint>

// A 32-bit word that one thread changes and another waits on. The waiter
// spins while its peer can answer soon, and otherwise sleeps in the kernel,
// so that a slow or stalled peer costs no CPU. The fast path is free of
// system calls: a change wakes the kernel only when someone is asleep, and
// the word itself says so (WAIT_SLEEPER), so that a change touches nothing
// but the word's own cache line.
struct WaitWord {
  std::atomic<uint32_t> value{0};
};

// Set in the word by a waiter that is going to sleep on it, and cleared by
// the next change. The values a word carries leave this bit clear; the
// functions below never return it.
inline constexpr uint32_t WAIT_SLEEPER = 0x40000000u;

// Returns the word's value (acquired) once it differs from `old`. With
// `spin`, when the peer that changes the word runs on another CPU (the
// caller knows: the two are kept apart), the wait spins for at most
// SPIN_LIMIT (wait_word.cc) before it sleeps; otherwise it sleeps at once.
// It never yields in a loop.
uint32_t wait_for_change(WaitWord* word, uint32_t old, bool spin = true);

// The word's value.
uint32_t read_word(const WaitWord* word, std::memory_order order);

// Stores `value` and wakes the sleepers, if any. A release: what the
// calling thread wrote before is seen by a thread that sees `value`.
void publish(WaitWord* word, uint32_t value);

// Sets `bits` in the word and wakes the sleepers, if any; returns the value
// before. A release, as publish.
uint32_t publish_bits(WaitWord* word, uint32_t bits);

// Replaces `expected` with `value` and wakes the sleepers, but only while
// the word holds `expected`; true when it did. A release, as publish.
bool publish_if(WaitWord* word, uint32_t expected, uint32_t value);

#endif  // VISOR_PLATFORM_WAIT_WORD_H_
