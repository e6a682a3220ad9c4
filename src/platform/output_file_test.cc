#include "platform/output_file.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace {

TEST(OutputFile, TheNameKeepsItsFileUntilTheCompleteJobReplacesIt) {
  TempDir dir;
  const std::string old_job = "an older job\nwith more text than the new one\n";
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), old_job));
  OutputFile f;
  ASSERT_EQ(output_file_check(&f, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
  EXPECT_EQ(std::string(f.temp_path), dir.file("dagoma0.g.part"));
  EXPECT_EQ(output_file_write(&f, "G90\n", 4), 1);
  EXPECT_EQ(output_file_write(&f, "G28\n", 4), 1);
  EXPECT_EQ(f.size, 8u);
  EXPECT_EQ(read_file(dir.file("dagoma0.g.part")), "G90\nG28\n");
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), old_job);
  ASSERT_EQ(output_file_flush(&f), 1);
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

TEST(OutputFile, TheHoldDecidesNotTheTemporaryFilesExistence) {
  TempDir dir;
  OutputFile first, second;
  ASSERT_EQ(output_file_create(&first, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&first, "G90\n", 4), 1);
  // A second writer is refused and changes nothing.
  EXPECT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_TRUE(second.in_use);
  ASSERT_EQ(output_file_write(&first, "G28\n", 4), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g.part")), "G90\nG28\n");
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

TEST(OutputFile, AFailedWriteLeavesOnlyWholeLinesAndItsReason) {
  TempDir dir;
  // The size limit is per process: try it in a child.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {10, 10};
    setrlimit(RLIMIT_FSIZE, &limit);
    OutputFile f;
    if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1)
      _exit(2);
    int a = output_file_write(&f, "G90\n", 4);
    int b = output_file_write(&f, "G1 Z0.400\n", 10);  // only 6 bytes fit
    _exit(a == 1 && b == -1 && f.error == EFBIG ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(dir.file("dagoma0.g.part")), "G90\n");
}

}  // namespace
