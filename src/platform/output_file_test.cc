#include "platform/output_file.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stddef.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "test_support.h"

namespace {

// The lines in a temporary file being written: what it holds but the zero
// bytes allocated ahead of the lines, where the file is mapped.
std::string lines_in(const std::string& path) {
  std::string text = read_file(path).value_or("");
  text.erase(text.find_last_not_of('\0') + 1);
  return text;
}

// Each test runs through the mapping and through one write per line.
const bool WRITE_PER_LINE[] = {false, true};

TEST(OutputFile, TheNameKeepsItsFileUntilTheCompleteJobReplacesIt) {
  for (bool write_per_line : WRITE_PER_LINE) {
    SCOPED_TRACE(write_per_line ? "one write per line" : "mapped");
    TempDir dir;
    const std::string old_job = "an older job\nwith more text than the new one\n";
    ASSERT_TRUE(write_file(dir.file("dagoma0.g"), old_job));
    OutputFile f;
    f.write_per_line = write_per_line;
    ASSERT_EQ(output_file_check(&f, dir.path.c_str(), "dagoma0.g"), 1);
    ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
    EXPECT_EQ(std::string(f.temp_path), dir.file("dagoma0.g.part"));
    EXPECT_EQ(output_file_write(&f, "G90\n", 4), 1);
    EXPECT_EQ(output_file_write(&f, "G28\n", 4), 1);
    EXPECT_EQ(f.size, 8u);
    EXPECT_EQ(lines_in(dir.file("dagoma0.g.part")), "G90\nG28\n");
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), old_job);
    ASSERT_EQ(output_file_flush(&f), 1);
    EXPECT_EQ(read_file(dir.file("dagoma0.g.part")), "G90\nG28\n");  // cut to its lines
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), old_job);
    ASSERT_EQ(output_file_commit(&f), 1);
    EXPECT_TRUE(f.replaced);
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
    output_file_discard(&f);  // after the commit: nothing to remove
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");

    // Discarded: the name keeps the complete job, the temporary file goes.
    ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
    ASSERT_EQ(output_file_write(&f, "M84\n", 4), 1);
    output_file_discard(&f);
    output_file_discard(&f);  // twice is harmless
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
    EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  }
}

TEST(OutputFile, TheHoldDecidesNotTheTemporaryFilesExistence) {
  TempDir dir;
  OutputFile first, second;
  ASSERT_EQ(output_file_create(&first, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&first, "G90\n", 4), 1);
  // A second writer is refused and changes nothing.
  EXPECT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_TRUE(second.in_use);
  ASSERT_EQ(output_file_write(&first, "G28\n", 4), 1);
  EXPECT_EQ(lines_in(dir.file("dagoma0.g.part")), "G90\nG28\n");
  ASSERT_EQ(output_file_flush(&first), 1);
  ASSERT_EQ(output_file_commit(&first), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");

  // A temporary file nobody holds, as a killed run leaves it, is taken
  // over and emptied.
  ASSERT_TRUE(write_file(dir.file("dagoma0.g.part"), "G1 X1.000 Y2.0"));
  ASSERT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g.part")), "");
  output_file_discard(&second);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
}

// Whatever has either name, the new job neither follows nor opens it.
TEST(OutputFile, LinksPipesAndFoldersUnderTheNames) {
  TempDir dir;
  TempDir elsewhere;
  ASSERT_TRUE(write_file(elsewhere.file("target"), "not a job\n"));
  ASSERT_EQ(symlink(elsewhere.file("target").c_str(), dir.file("dagoma0.g").c_str()), 0);
  // A link and a pipe under the temporary name are removed, not used.
  ASSERT_EQ(symlink(elsewhere.file("target").c_str(), dir.file("dagoma0.g.part").c_str()), 0);
  OutputFile f;
  ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&f, "G90\n", 4), 1);
  ASSERT_EQ(output_file_flush(&f), 1);
  ASSERT_EQ(output_file_commit(&f), 1);
  struct stat st;
  ASSERT_EQ(lstat(dir.file("dagoma0.g").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\n");
  EXPECT_EQ(read_file(elsewhere.file("target")), "not a job\n");

  // A pipe would block an open for writing until a reader came.
  ASSERT_EQ(unlink(dir.file("dagoma0.g").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("dagoma0.g").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo(dir.file("dagoma0.g.part").c_str(), 0644), 0);
  ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&f, "G28\n", 4), 1);
  ASSERT_EQ(output_file_flush(&f), 1);
  ASSERT_EQ(output_file_commit(&f), 1);
  ASSERT_EQ(lstat(dir.file("dagoma0.g").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G28\n");

  // A folder cannot be replaced by a rename: refused before any line.
  ASSERT_EQ(unlink(dir.file("dagoma0.g").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("dagoma0.g").c_str(), 0755), 0);
  EXPECT_EQ(output_file_check(&f, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, EISDIR);
  EXPECT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, EISDIR);
  EXPECT_FALSE(f.in_use);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));

  EXPECT_EQ(output_file_check(&f, dir.file("missing").c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, ENOENT);
  EXPECT_EQ(output_file_create(&f, dir.file("missing").c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, ENOENT);
}

// Line i of a made-up job: lengths vary, so that lines end anywhere in a
// page or a mapped window, and some cross a window's edge.
std::string made_up_line(size_t i) {
  return "G1 X" + std::to_string(i % 997) + " Y" + std::to_string(i) + " ;" +
         std::string(i % 61, 'x') + "\n";
}

// A full disk, a file-size limit standing in for it: the line that does not
// fit fails with the system's reason, and the file holds every whole line
// that fits, and nothing else, without waiting for a flush.
TEST(OutputFile, AFailedWriteLeavesOnlyWholeLinesAndItsReason) {
  for (bool write_per_line : WRITE_PER_LINE) {
    // Within the first line's page, and past a few windows.
    for (uint64_t limit : {uint64_t{12}, uint64_t{9000001}}) {
      SCOPED_TRACE(std::string(write_per_line ? "one write per line" : "mapped") + ", limit " +
                   std::to_string(limit));
      TempDir dir;
      // The size limit is per process: try it in a child.
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        OutputFile f;
        f.write_per_line = write_per_line;
        if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1)
          _exit(2);
        std::string line;
        for (size_t i = 0; f.size <= limit; ++i) {
          line = made_up_line(i);
          if (output_file_write(&f, line.data(), line.size()) != 1)
            _exit(f.error == EFBIG && f.size + line.size() > limit ? 0 : 3);
        }
        _exit(4);  // more than the limit written
      }
      int status = 0;
      waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
      std::string fits;
      for (size_t i = 0;; ++i) {
        std::string line = made_up_line(i);
        if (fits.size() + line.size() > limit)
          break;
        fits += line;
      }
      std::string written = read_file(dir.file("dagoma0.g.part")).value_or("");
      EXPECT_EQ(written.size(), fits.size());
      EXPECT_TRUE(written == fits) << "the file differs from the lines that fit";
    }
  }
}

// From now on, the system call `nr` fails with `error` in this process
// (a child), as where the file system cannot do it; but only where its
// argument `arg` has a bit of `flags` (all calls when `flags` is 0), so that
// mmap is refused to the file and not to the allocator's private memory.
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

// A file system that cannot allocate ahead or map gets one write per line;
// should it refuse in the middle of a job (the first windows mapped, part
// of a line copied), the file goes on with every line whole and in order.
TEST(OutputFile, RefusedAllocationOrMappingSendsTheRestToWrites) {
  struct Refusal {
    const char* call;
    long nr;
    int error;
    unsigned arg;  // refused where this argument has a bit of `flags`
    uint32_t flags;
  };
  // fallocate is refused whatever its arguments; mmap of a file only.
  for (Refusal refusal : {Refusal{"fallocate", SYS_fallocate, EOPNOTSUPP, 0, 0},
                          Refusal{"mmap", SYS_mmap, ENODEV, 3, MAP_SHARED}}) {
    SCOPED_TRACE(refusal.call);
    const uint64_t refused_from = 3000000, total = 9000000;
    TempDir dir;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      OutputFile f;
      if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1)
        _exit(2);
      std::string line;
      bool refused = false;
      for (size_t i = 0; f.size < total; ++i) {
        if (f.size >= refused_from && !refused) {
          if (!refuse_system_call(refusal.nr, refusal.error, refusal.arg, refusal.flags))
            _exit(3);
          refused = true;
        }
        line = made_up_line(i);
        if (output_file_write(&f, line.data(), line.size()) != 1)
          _exit(4);
      }
      _exit(!f.mapped && output_file_flush(&f) == 1 && output_file_commit(&f) == 1 ? 0 : 5);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string expected;
    for (size_t i = 0; expected.size() < total; ++i)
      expected += made_up_line(i);
    std::string written = read_file(dir.file("dagoma0.g")).value_or("");
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected) << "the file differs from the lines written";
  }
}

}  // namespace
