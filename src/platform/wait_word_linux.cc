// WaitWord's sleep on Linux: a private futex on the word.

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include "platform/wait_word_sleep.h"

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "futex needs a plain 32-bit word");

static uint32_t* raw(WaitWord* word) { return reinterpret_cast<uint32_t*>(&word->value); }

void sleep_while_equal(WaitWord* word, uint32_t old) {
  syscall(SYS_futex, raw(word), FUTEX_WAIT_PRIVATE, old, nullptr, nullptr, 0);
}

void wake_sleepers(WaitWord* word) {
  syscall(SYS_futex, raw(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}
