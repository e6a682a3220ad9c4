// WaitWord's sleep on Windows: WaitOnAddress and WakeByAddressAll (Windows 8
// and later, synchronization library) play the futex's part.

#include <windows.h>

#include "platform/wait_word_sleep.h"

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "WaitOnAddress needs a plain 32-bit word");

static volatile void* raw(WaitWord* word) { return &word->value; }

void sleep_while_equal(WaitWord* word, uint32_t old) {
  WaitOnAddress(raw(word), &old, sizeof old, INFINITE);
}

void wake_sleepers(WaitWord* word) { WakeByAddressAll(const_cast<void*>(raw(word))); }
