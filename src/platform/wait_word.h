#ifndef VISOR_PLATFORM_WAIT_WORD_H_
#define VISOR_PLATFORM_WAIT_WORD_H_

#include <atomic>
#include <cstdint>

// A 32-bit word that one thread changes and another waits on. The waiter
// spins while its peer can answer soon, and otherwise sleeps in the kernel,
// so that a slow or stalled peer costs no CPU. The fast path is free of
// system calls: a change wakes the kernel only when someone is asleep.
struct WaitWord {
  std::atomic<uint32_t> value{0};
  std::atomic<uint32_t> sleepers{0};
  // The CPU the thread that changes this word was last seen on (-1: not
  // known). Kept beside the value, on the changer's side of a hand-over.
  std::atomic<int32_t> changer_cpu{-1};
};

// Returns the word's value once it differs from `old`. `own`, when given,
// is the word that the calling thread changes in turn (the other half of a
// two-thread hand-over): the wait records there where this thread runs,
// and looks at `word` for where the peer runs. It spins only while the
// peer runs on another CPU, for at most SPIN_LIMIT (wait_word.cc), and
// otherwise sleeps at once: it spins or sleeps, and never yields in a loop.
uint32_t wait_for_change(WaitWord* word, uint32_t old, WaitWord* own = nullptr);

// Stores `value` and wakes every sleeper.
void publish(WaitWord* word, uint32_t value);

// Sets `bits` in the word and wakes every sleeper; returns the value before.
uint32_t publish_bits(WaitWord* word, uint32_t bits);

#endif  // VISOR_PLATFORM_WAIT_WORD_H_
