#include "temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

TempDir::TempDir() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec)
    base = "/tmp";
  std::string pattern = (base / "visor-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()))
    path = pattern;
}

TempDir::~TempDir() {
  if (path.empty())
    return;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::string TempDir::file(const std::string& name) const { return path + "/" + name; }

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}

bool read_file(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream all;
  all << in.rdbuf();
  *content = all.str();
  return true;
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}
