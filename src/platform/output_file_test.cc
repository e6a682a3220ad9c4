#include "platform/output_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

namespace {

TEST(OutputFile, ReplacesAnExistingFileWithTheLinesWritten) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), "an older job\nwith more text than the new one\n"));
  OutputFile f;
  ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "");
  EXPECT_EQ(output_file_write(&f, "G90\n", 4), 1);
  EXPECT_EQ(output_file_write(&f, "G28\n", 4), 1);
  EXPECT_EQ(f.size, 8u);
  output_file_close(&f);
  output_file_close(&f);  // twice is harmless
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
}

TEST(OutputFile, CannotCreate) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("dagoma0.g").c_str(), 0755), 0);  // a folder in the way
  OutputFile f;
  EXPECT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(output_file_create(&f, dir.file("missing").c_str(), "dagoma0.g"), -1);
}

TEST(OutputFile, ASecondWriterLeavesTheFirstOnesFileAlone) {
  TempDir dir;
  OutputFile first, second;
  ASSERT_EQ(output_file_create(&first, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&first, "G90\n", 4), 1);
  EXPECT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), -1);
  ASSERT_EQ(output_file_write(&first, "G28\n", 4), 1);
  output_file_close(&first);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
  // Once the first has finished, the file can be written again.
  EXPECT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), 1);
  output_file_close(&second);
}

TEST(OutputFile, AFailedWriteLeavesOnlyWholeLines) {
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
    output_file_close(&f);
    _exit(a == 1 && b == -1 ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\n");
}

}  // namespace
