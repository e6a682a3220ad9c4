#include <pthread.h>

#include <cstdint>

#include "platform/thread.h"

static_assert(sizeof(pthread_t) <= sizeof(uintptr_t), "pthread_t must fit");

static void* trampoline(void* p) {
  Thread* thread = static_cast<Thread*>(p);
  return reinterpret_cast<void*>(static_cast<intptr_t>(thread->entry(thread->arg)));
}

int start_thread(Thread* thread, int (*entry)(void*), void* arg) {
  thread->entry = entry;
  thread->arg = arg;
  pthread_t id;
  if (pthread_create(&id, nullptr, trampoline, thread) != 0)
    return -1;
  thread->native = static_cast<uintptr_t>(id);
  thread->started = true;
  return 1;
}

int join_thread(Thread* thread) {
  if (!thread->started)
    return -1;
  void* result = nullptr;
  pthread_join(static_cast<pthread_t>(thread->native), &result);
  thread->started = false;
  return static_cast<int>(reinterpret_cast<intptr_t>(result));
}
