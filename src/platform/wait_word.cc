// The part of WaitWord that is the same on every system: when to spin, the
// sleep announced in the word, and the wake-up only when someone sleeps.
// Each system's file supplies sleep_while_equal and wake_sleepers.

#include <chrono>
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

// The longest spin. The peer's usual answer (a line formatted, a file
// write) takes about a microsecond; a peer woken from an idle CPU takes
// some tens of microseconds to run (a virtual machine's idle CPUs halt), and
// the spin outlasts that, so that after one sleep the two sides find each
// other spinning again instead of handing every line over through the
// kernel. A peer that was preempted or is blocked (a stalled disk or
// terminal) costs at most this much CPU before the waiter sleeps.
constexpr std::chrono::microseconds SPIN_LIMIT{100};

// The clock is looked at every so many pauses (tens of nanoseconds each).
constexpr unsigned LOOK_EVERY = 16;

constexpr uint32_t VALUE = ~WAIT_SLEEPER;

bool several_cpus() {
  static const bool several = std::thread::hardware_concurrency() > 1;
  return several;
}

// Spins until the word leaves `old`; returns the new value, or `old` once
// spinning has gone on long enough.
uint32_t spin_for_change(WaitWord* word, uint32_t old) {
  auto start = std::chrono::steady_clock::now();
  for (unsigned i = 1;; ++i) {
    uint32_t now = read_word(word, std::memory_order_acquire);
    if (now != old)
      return now;
    if (i % LOOK_EVERY == 0 && std::chrono::steady_clock::now() - start > SPIN_LIMIT)
      return old;
    cpu_relax();
  }
}

// `before` is what a change replaced.
void wake_if_asleep(WaitWord* word, uint32_t before) {
  if (before & WAIT_SLEEPER)
    wake_sleepers(word);
}

}  // namespace

uint32_t read_word(const WaitWord* word, std::memory_order order) {
  return word->value.load(order) & VALUE;
}

uint32_t wait_for_change(WaitWord* word, uint32_t old, bool spin) {
  uint32_t now = spin && several_cpus() ? spin_for_change(word, old) : old;
  if (now != old)
    return now;
  for (;;) {
    // No wake-up is lost: the mark and every change are read-modify-writes
    // of this one word, so they fall into one order. A change before the
    // mark makes the mark fail, and the wait returns without sleeping; a
    // change after it replaces the marked value, sees the mark and wakes
    // the kernel's sleepers. The kernel compares the word with the marked
    // value as it puts this thread to sleep, under its own lock against the
    // wake, so a change between the mark and the sleep is seen there. Only
    // the order of the word's own changes counts for that, so the mark
    // needs no fence; acquire, for what the changer wrote before a new
    // value that the mark finds.
    uint32_t seen = old;
    if (!word->value.compare_exchange_strong(seen, old | WAIT_SLEEPER, std::memory_order_acquire,
                                             std::memory_order_acquire) &&
        (seen & VALUE) != old)
      return seen & VALUE;
    // Marked (by this wait, or still from its last round): sleep. The
    // system may return early; the loop looks again.
    sleep_while_equal(word, old | WAIT_SLEEPER);
    now = read_word(word, std::memory_order_acquire);
    if (now != old)
      return now;
  }
}

// Each change is one read-modify-write, whatever the memory order: it reads
// the word's latest value, mark included (see wait_for_change), so the
// order only has to release what this thread wrote before.

void publish(WaitWord* word, uint32_t value) {
  wake_if_asleep(word, word->value.exchange(value, std::memory_order_release));
}

uint32_t publish_bits(WaitWord* word, uint32_t bits) {
  uint32_t before = word->value.load(std::memory_order_relaxed);
  while (!word->value.compare_exchange_weak(before, (before & VALUE) | bits,
                                            std::memory_order_release, std::memory_order_relaxed)) {
  }
  wake_if_asleep(word, before);
  return before & VALUE;
}

bool publish_if(WaitWord* word, uint32_t expected, uint32_t value) {
  uint32_t before = word->value.load(std::memory_order_relaxed);
  do {
    if ((before & VALUE) != expected)
      return false;
  } while (!word->value.compare_exchange_weak(before, value, std::memory_order_release,
                                              std::memory_order_relaxed));
  wake_if_asleep(word, before);
  return true;
}
