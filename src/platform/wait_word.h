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

// Where a thread was last seen running (-1: not known). Written by that
// thread only when it moved, so that its cache line stays put, and read by
// its peer while that spins.
struct SeenCpu {
  std::atomic<int32_t> cpu{-1};
};

// Returns the word's value (acquired) once it differs from `old`. `own` and
// `peer`, when given, are where the calling thread and the thread that
// changes the word run: the wait records where it runs, and spins only
// while the peer runs on another CPU, for at most SPIN_LIMIT
// (wait_word.cc), and otherwise sleeps at once: it spins or sleeps, and
// never yields in a loop.
uint32_t wait_for_change(WaitWord* word, uint32_t old, SeenCpu* own = nullptr,
                         const SeenCpu* peer = nullptr);

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
