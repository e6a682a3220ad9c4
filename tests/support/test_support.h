#ifndef VISOR_TESTS_SUPPORT_TEST_SUPPORT_H_
#define VISOR_TESTS_SUPPORT_TEST_SUPPORT_H_

// Around the code under test: a folder of the test's own, whole files
// written and read back, and (POSIX) a child that starts the way a shell
// would start it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the test ends: the program writes dagoma0.g into its
// current folder, and tests must neither see nor leave each other's files.
// Aborts the test program when no folder can be made.
struct TempDir {
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  std::string path;

  // A file in the folder.
  std::string file(const std::string& name) const;
};

// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);

// Whether `done` becomes true within five seconds, asked every millisecond:
// for what another thread is to do soon, where a hang would be the fault.
bool eventually(const std::function<bool()>& done);

#ifndef _WIN32
// For a child between fork and exec: every signal to its default action and
// none blocked. Ignored signals and the mask survive exec, and the program
// must start with what a shell gives it. Async-signal-safe.
void reset_signal_dispositions();
#endif

#ifdef __linux__
// From now on, in this process (a child, or a program under test), the
// system call `nr` fails with `error`, as where the file system cannot do
// it; but only where its argument `arg` has a bit of `flags` (all calls
// when `flags` is 0), so that, say, mmap is refused to files and not to the
// allocator's private memory. False when the filter cannot be installed.
bool refuse_system_call(long nr, int error, unsigned arg, uint32_t flags);
#endif

#endif  // VISOR_TESTS_SUPPORT_TEST_SUPPORT_H_
