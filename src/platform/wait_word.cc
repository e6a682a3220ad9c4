// The part of WaitWord that is the same on every system: the spin, the
// announced sleep and the wake-up only when someone sleeps. Each system's
// file supplies sleep_while_equal and wake_sleepers.

#include <thread>

#include "platform/wait_word.h"
#include "platform/wait_word_sleep.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

#if defined(__x86_64__) || defined(__i386__)
void cpu_relax() { _mm_pause(); }
#else
void cpu_relax() {}
#endif

// First a few microseconds of pause instructions: longer than the peer's
// usual answer (a file write), far shorter than a sleep and wake-up. None on
// a single core, where spinning only delays the peer.
int spin_limit() {
  static const int limit = std::thread::hardware_concurrency() > 1 ? 256 : 0;
  return limit;
}

// Then the core is offered to others a number of times: when more threads
// want to run than there are cores (two jobs at once, a busy machine), the
// peer may be waiting for this very core. Sleeping at once instead would
// let the scheduler put both threads on one core, where every line would
// cost two context switches.
constexpr int YIELD_LIMIT = 64;

// Spins until the word leaves `old`; returns the new value, or `old` when
// the spin ran out.
uint32_t spin_for_change(WaitWord* word, uint32_t old) {
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

void wake(WaitWord* word) {
  if (word->sleepers.load() != 0)
    wake_sleepers(word);
}

}  // namespace

uint32_t wait_for_change(WaitWord* word, uint32_t old) {
  uint32_t now = spin_for_change(word, old);
  if (now != old)
    return now;
  for (;;) {
    // Announce the sleep before the last look; publish() stores, then looks
    // at `sleepers` (both sequentially consistent), so one of the two sees
    // the other and no wake-up is lost. The system compares the word again
    // before it sleeps, and may return early: the loop looks.
    word->sleepers.fetch_add(1);
    now = word->value.load();
    if (now == old)
      sleep_while_equal(word, old);
    word->sleepers.fetch_sub(1);
    now = word->value.load(std::memory_order_acquire);
    if (now != old)
      return now;
  }
}

void publish(WaitWord* word, uint32_t value) {
  word->value.store(value);
  wake(word);
}

uint32_t publish_bits(WaitWord* word, uint32_t bits) {
  uint32_t before = word->value.fetch_or(bits);
  wake(word);
  return before;
}
