#ifndef VISOR_PLATFORM_WAIT_WORD_SLEEP_H_
#define VISOR_PLATFORM_WAIT_WORD_SLEEP_H_

// What each system provides for WaitWord: the kernel's sleep on a word.

#include "platform/wait_word.h"

// Sleeps while the word holds `old`; may return early.
void sleep_while_equal(WaitWord* word, uint32_t old);

// Wakes every thread asleep on the word.
void wake_sleepers(WaitWord* word);

#endif  // VISOR_PLATFORM_WAIT_WORD_SLEEP_H_
