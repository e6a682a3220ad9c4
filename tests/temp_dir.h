#ifndef VISOR_TESTS_TEMP_DIR_H_
#define VISOR_TESTS_TEMP_DIR_H_

// A fresh, empty directory for one test, removed with everything in it when
// the test ends: the program writes dagoma0.g into its current directory,
// and tests must neither see nor leave each other's files.

#include <string>

struct TempDir {
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  std::string path;  // empty when it could not be made

  // path + "/" + name.
  std::string file(const std::string& name) const;
};

// Whole-file helpers for the files a test prepares and checks.
bool write_file(const std::string& path, const std::string& content);
bool read_file(const std::string& path, std::string* content);
bool file_exists(const std::string& path);

#endif  // VISOR_TESTS_TEMP_DIR_H_
