// Narrowing on Linux, checked against the affinity the kernel reports.

#include <gtest/gtest.h>
#include <sched.h>

#include <thread>

#include "platform/thread_cpus.h"

namespace {

cpu_set_t cpus_of_this_thread() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  return set;
}

// The channel's two threads, one narrowed to each part: each part holds
// CPUs, the two share none and together hold every CPU the threads had,
// and each thread gets all of them back.
TEST(ThreadCpus, TwoPartsShareNoCpuAndAreGivenBack) {
  cpu_set_t all = cpus_of_this_thread();
  if (CPU_COUNT(&all) < 2)
    GTEST_SKIP() << "this process may use one CPU only";
  cpu_set_t parts[2];
  for (int part : {0, 1}) {
    std::thread thread([&] {
      ThreadCpus cpus = {};
      EXPECT_EQ(narrow_thread_cpus(&cpus, part), 1);
      parts[part] = cpus_of_this_thread();
      restore_thread_cpus(&cpus);
      cpu_set_t back = cpus_of_this_thread();
      EXPECT_TRUE(CPU_EQUAL(&back, &all));
    });
    thread.join();
  }
  cpu_set_t both, shared;
  CPU_OR(&both, &parts[0], &parts[1]);
  CPU_AND(&shared, &parts[0], &parts[1]);
  EXPECT_GT(CPU_COUNT(&parts[0]), 0);
  EXPECT_GT(CPU_COUNT(&parts[1]), 0);
  EXPECT_EQ(CPU_COUNT(&shared), 0);
  EXPECT_TRUE(CPU_EQUAL(&both, &all));
}

// A thread that may run on one CPU only keeps it, and restoring leaves it so.
TEST(ThreadCpus, OneCpuIsLeftAsItIs) {
  cpu_set_t all = cpus_of_this_thread();
  int first = 0;
  while (!CPU_ISSET(first, &all))
    ++first;
  std::thread thread([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    ThreadCpus cpus = {};
    EXPECT_EQ(narrow_thread_cpus(&cpus, 1), 0);
    restore_thread_cpus(&cpus);
    cpu_set_t now = cpus_of_this_thread();
    EXPECT_TRUE(CPU_EQUAL(&now, &one));
  });
  thread.join();
}

}  // namespace
