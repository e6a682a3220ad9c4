// WaitWord on Windows: WaitOnAddress and WakeByAddressAll (Windows 8 and
// later, synchronization library) play the futex's part.

#include <windows.h>

#include "platform/wait_word.h"
#include "platform/wait_word_common.h"

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "WaitOnAddress needs a plain 32-bit word");

static volatile void* raw(WaitWord* word) { return &word->value; }

uint32_t wait_for_change(WaitWord* word, uint32_t old) {
  uint32_t now = spin_for_change(word, old);
  if (now != old)
    return now;
  for (;;) {
    // Announce the sleep before the last look; publish() stores, then looks
    // at `sleepers` (both sequentially consistent), so one of the two sees
    // the other and no wake-up is lost. WaitOnAddress compares the word
    // again before it sleeps, and may also return early: the loop looks.
    word->sleepers.fetch_add(1);
    now = word->value.load();
    if (now == old)
      WaitOnAddress(raw(word), &old, sizeof old, INFINITE);
    word->sleepers.fetch_sub(1);
    now = word->value.load(std::memory_order_acquire);
    if (now != old)
      return now;
  }
}

static void wake(WaitWord* word) {
  if (word->sleepers.load() != 0)
    WakeByAddressAll(const_cast<void*>(raw(word)));
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
