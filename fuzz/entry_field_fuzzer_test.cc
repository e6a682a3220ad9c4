// Runs the fuzz target's checks without a fuzzer: over the kept cases (the
// seeds, and every input a fuzzing run ever found failing), and over a
// stream of pseudo-random key sequences.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(EntryFieldFuzz, KeptCases) {
  int cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CASES_DIR)) {
    std::optional<std::string> bytes = read_file(entry.path().string());
    ASSERT_TRUE(bytes) << entry.path();
    SCOPED_TRACE(entry.path().filename().string());
    // Aborts on a failed check.
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
    ++cases;
  }
  EXPECT_GE(cases, 3);
}

TEST(EntryFieldFuzz, RandomKeySequences) {
  std::mt19937 random(20261208);
  for (int run = 0; run < 20000; ++run) {
    std::vector<uint8_t> bytes(1 + 2 * (random() % 24));
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(random());
    // Mostly key presses, so that texts get long enough to wrap.
    for (size_t i = 1; i < bytes.size(); i += 2)
      if (random() % 4 != 0)
        bytes[i] = 1;
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
}

}  // namespace
