// The plain-mode runner against shell commands.

#include "piped_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "test_support.h"

namespace {

constexpr int GUARD_MS = 20000;

std::vector<std::string> shell(const std::string& script) { return {"/bin/sh", "-c", script}; }

TEST(PipedRun, PassesInputCollectsOutputAndStatus) {
  TempDir dir;
  PipedRun run = run_piped(shell("tr a-z A-Z; pwd; echo oops >&2; [ -t 0 ] || [ -t 1 ] || "
                                 "echo 'no terminal'; exit 4"),
                           "one\ntwo\r\n", dir.path, GUARD_MS);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(exit_code(run), 4);
  EXPECT_EQ(run.out.substr(0, 9), "ONE\nTWO\r\n");
  EXPECT_NE(run.out.find(dir.path), std::string::npos);
  EXPECT_NE(run.out.find("no terminal\n"), std::string::npos);
  EXPECT_EQ(run.err, "oops\n");
}

TEST(PipedRun, MovesMoreDataThanAPipeHolds) {
  // Input and output both far beyond the pipe's buffer: neither side may
  // wait for the other.
  std::string input(1 << 20, 'x');
  PipedRun run = run_piped(shell("cat"), input, "/", GUARD_MS);
  EXPECT_EQ(exit_code(run), 0);
  EXPECT_EQ(run.out.size(), input.size());
}

TEST(PipedRun, SurvivesAProgramThatIgnoresItsInput) {
  std::string input(1 << 20, 'x');
  PipedRun run = run_piped(shell("exit 0"), input, "/", GUARD_MS);
  EXPECT_EQ(exit_code(run), 0);
}

TEST(PipedRun, EmptyInputIsEndOfInput) {
  PipedRun run = run_piped(shell("cat; echo end"), "", "/", GUARD_MS);
  EXPECT_EQ(exit_code(run), 0);
  EXPECT_EQ(run.out, "end\n");
}

TEST(PipedRun, KillsAProgramThatOutlivesTheTimeOut) {
  PipedRun run = run_piped(shell("exec sleep 60"), "", "/", 300);
  EXPECT_TRUE(run.timed_out);
  EXPECT_EQ(exit_code(run), -1);
}

}  // namespace
