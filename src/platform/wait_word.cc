// The part of WaitWord that is the same on every system: when to spin, the
// announced sleep and the wake-up only when someone sleeps. Each system's
// file supplies sleep_while_equal, wake_sleepers and current_cpu.

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

// The clock and the CPUs are looked at every so many pauses (tens of
// nanoseconds each).
constexpr unsigned LOOK_EVERY = 16;

bool several_cpus() {
  static const bool several = std::thread::hardware_concurrency() > 1;
  return several;
}

// Tells the peer where this thread runs; written only when it moved, so
// that the peer's cache line stays put.
void note_cpu(WaitWord* own, int32_t cpu) {
  if (own != nullptr && own->changer_cpu.load(std::memory_order_relaxed) != cpu)
    own->changer_cpu.store(cpu, std::memory_order_relaxed);
}

// The peer was last seen on this thread's CPU: while this thread spins
// there, the peer cannot run.
bool peer_on(const WaitWord* word, int32_t cpu) {
  return cpu >= 0 && word->changer_cpu.load(std::memory_order_relaxed) == cpu;
}

// Spins until the word leaves `old`; returns the new value, or `old` when
// spinning cannot help or has gone on long enough.
uint32_t spin_for_change(WaitWord* word, uint32_t old, WaitWord* own) {
  if (!several_cpus())
    return old;
  int32_t cpu = current_cpu();
  note_cpu(own, cpu);
  if (peer_on(word, cpu))
    return old;
  auto start = std::chrono::steady_clock::now();
  for (unsigned i = 1;; ++i) {
    uint32_t now = word->value.load(std::memory_order_acquire);
    if (now != old)
      return now;
    if (i % LOOK_EVERY == 0) {
      // Preempted and moved, or the peer moved here: either way, the peer
      // cannot answer while this thread holds the CPU.
      cpu = current_cpu();
      note_cpu(own, cpu);
      if (peer_on(word, cpu) || std::chrono::steady_clock::now() - start > SPIN_LIMIT)
        return old;
    }
    cpu_relax();
  }
}

void wake(WaitWord* word) {
  if (word->sleepers.load() != 0)
    wake_sleepers(word);
}

}  // namespace

uint32_t wait_for_change(WaitWord* word, uint32_t old, WaitWord* own) {
  uint32_t now = spin_for_change(word, old, own);
  if (now != old)
    return now;  // the spin has noted where this thread runs
  do {
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
  } while (now == old);
  // Woken, perhaps on another CPU: the work this thread does next is what
  // the peer will wait for.
  note_cpu(own, current_cpu());
  return now;
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
