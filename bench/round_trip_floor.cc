#include "round_trip_floor.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/thread.h"
#include "platform/thread_cpus.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// The pause the channel's spin makes between two looks.
void relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

// Both counts in one cache line, as the channel's mailbox keeps them.
struct alignas(64) Floor {
  std::atomic<uint32_t> sent{0};
  std::atomic<uint32_t> answered{0};
  std::atomic<bool> ready{false};
  uint32_t round_trips = 0;
};

int answer(void* arg) {
  Floor* f = static_cast<Floor*>(arg);
  ThreadCpus cpus = {};
  narrow_thread_cpus(&cpus, 1);
  f->ready.store(true, std::memory_order_release);
  for (uint32_t i = 1; i <= f->round_trips; ++i) {
    while (f->sent.load(std::memory_order_acquire) != i)
      relax();
    f->answered.store(i, std::memory_order_release);
  }
  restore_thread_cpus(&cpus);
  return 0;
}

}  // namespace

double round_trip_floor_seconds(size_t round_trips) {
  Floor f;
  f.round_trips = static_cast<uint32_t>(round_trips);
  Thread thread;
  if (start_thread(&thread, answer, &f) != 1) {
    fprintf(stderr, "job_bench: no thread for the floor\n");
    exit(1);
  }
  // Narrowed after the start, as the channel narrows in accept: a thread
  // started later would inherit this half and could not take the other.
  ThreadCpus cpus = {};
  narrow_thread_cpus(&cpus, 0);
  while (!f.ready.load(std::memory_order_acquire))
    relax();
  auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 1; i <= f.round_trips; ++i) {
    f.sent.store(i, std::memory_order_release);
    while (f.answered.load(std::memory_order_acquire) != i)
      relax();
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  join_thread(&thread);
  restore_thread_cpus(&cpus);
  return seconds;
}
