// Runs the fuzz target's checks without a fuzzer: over the kept cases (the
// seeds, and every input a fuzzing run ever found failing), and over a
// stream of pseudo-random key sequences.

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr)
    return bytes;
  int c;
  while ((c = fgetc(f)) != EOF)
    bytes.push_back(static_cast<uint8_t>(c));
  fclose(f);
  return bytes;
}

TEST(EntryFieldFuzz, KeptCases) {
  DIR* dir = opendir(FUZZ_CASES_DIR);
  ASSERT_NE(dir, nullptr) << FUZZ_CASES_DIR;
  int cases = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.')
      continue;
    std::vector<uint8_t> bytes = read_bytes(std::string(FUZZ_CASES_DIR) + "/" + entry->d_name);
    SCOPED_TRACE(entry->d_name);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());  // aborts on a failed check
    ++cases;
  }
  closedir(dir);
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
