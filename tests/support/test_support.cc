#include "test_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#endif
#ifdef __linux__
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#endif

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  // Names are drawn until one is new: creating the folder is the only check
  // that cannot race with a test running beside this one.
  std::random_device random;
  for (int attempt = 0; !ec && path.empty() && attempt < 100; ++attempt) {
    fs::path candidate = base / ("visor-test-" + std::to_string(random()));
    if (fs::create_directory(candidate, ec))
      path = candidate.string();
  }
  if (path.empty()) {
    fprintf(stderr, "no temporary folder: %s\n", ec.message().c_str());
    abort();
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path, ec);
}

std::string TempDir::file(const std::string& name) const {
  return (fs::path(path) / name).string();
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream all;
  all << in.rdbuf();
  return std::move(all).str();
}

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

#ifndef _WIN32
void reset_signal_dispositions() {
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig)
    sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}
#endif

#ifdef __linux__
bool refuse_system_call(long nr, int error, unsigned arg, uint32_t flags) {
  const uint32_t any = 0xffffffff;
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(nr), 0, 3),
      // The argument's low 32 bits (little-endian).
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
               static_cast<uint32_t>(offsetof(struct seccomp_data, args) + arg * sizeof(uint64_t))),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, flags != 0 ? flags : any, 0, 1),
      BPF_STMT(BPF_RET | BPF_K,
               SECCOMP_RET_ERRNO | (static_cast<uint32_t>(error) & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]),
                               filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}
#endif

bool eventually(const std::function<bool()>& done) {
  for (int waited_ms = 0; waited_ms < 5000; ++waited_ms) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}
