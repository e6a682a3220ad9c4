// The Windows files of the platform layers: output file, wait word, thread,
// and the console's choice between the console window and a plain stream.

#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/job_reader.h"
#include "platform/output_file.h"
#include "platform/standard_streams.h"
#include "platform/thread.h"
#include "platform/wait_word.h"
#include "test_support.h"

namespace {

// --- Output file ---

TEST(OutputFileWin32, TheNameKeepsItsFileUntilTheCompleteJobReplacesIt) {
  TempDir dir;
  const std::string old_job = "an older job\nwith more text than the new one\n";
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), old_job));
  OutputFile f;
  ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
  EXPECT_EQ(std::string(f.temp_path), dir.file("dagoma0.g.part"));
  EXPECT_EQ(read_file(dir.file("dagoma0.g.part")), std::nullopt);  // held: nobody else reads it
  EXPECT_EQ(output_file_write(&f, "G90\n", 4), 1);
  EXPECT_EQ(output_file_write(&f, "G28\n", 4), 1);
  EXPECT_EQ(f.size, 8u);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), old_job);
  ASSERT_EQ(output_file_flush(&f), 1);
  // Moved while still held open.
  ASSERT_EQ(output_file_commit(&f), 1);
  EXPECT_TRUE(f.replaced);
  // Binary: a line ends in one "\n", as on Linux.
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));

  // Discarded: the name keeps the complete job, the temporary file goes.
  ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&f, "M84\n", 4), 1);
  output_file_discard(&f);
  output_file_discard(&f);  // twice is harmless
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
}

TEST(OutputFileWin32, CreatesInTheCurrentFolderWithoutAFolderGiven) {
  TempDir dir;
  char before[MAX_PATH];
  GetCurrentDirectoryA(sizeof before, before);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path.c_str()));
  OutputFile f;
  int created = output_file_create(&f, nullptr, "dagoma0.g");
  int committed = -1;
  if (created == 1) {
    output_file_write(&f, "M84\n", 4);
    committed = output_file_commit(&f);
  }
  SetCurrentDirectoryA(before);
  ASSERT_EQ(created, 1);
  EXPECT_EQ(committed, 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "M84\n");
}

TEST(OutputFileWin32, TheHoldDecidesNotTheTemporaryFilesExistence) {
  TempDir dir;
  OutputFile first;
  ASSERT_EQ(output_file_create(&first, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&first, "G90\n", 4), 1);

  // A second writer is refused before it could empty the held file, and no
  // other program can delete or move it meanwhile.
  OutputFile second;
  EXPECT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_TRUE(second.in_use);
  EXPECT_EQ(second.handle, -1);
  EXPECT_FALSE(DeleteFileA(dir.file("dagoma0.g.part").c_str()));
  EXPECT_FALSE(MoveFileA(dir.file("dagoma0.g.part").c_str(), dir.file("moved").c_str()));
  ASSERT_EQ(output_file_write(&first, "G28\n", 4), 1);
  ASSERT_EQ(output_file_flush(&first), 1);
  ASSERT_EQ(output_file_commit(&first), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");

  // A temporary file nobody holds, as a killed run leaves it, is deleted,
  // never opened: a hard link to a file elsewhere leaves that file as it
  // is. One that cannot be deleted (read-only) is refused, untouched.
  TempDir elsewhere;
  ASSERT_TRUE(write_file(elsewhere.file("precious.txt"), "not a job\n"));
  ASSERT_TRUE(CreateHardLinkA(dir.file("dagoma0.g.part").c_str(),
                              elsewhere.file("precious.txt").c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesA(elsewhere.file("precious.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(second.error, EACCES);
  EXPECT_FALSE(second.in_use);
  ASSERT_TRUE(SetFileAttributesA(elsewhere.file("precious.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), 1);
  EXPECT_EQ(read_file(elsewhere.file("precious.txt")), "not a job\n");

  // dagoma0.g held open by another program, sharing nothing: the move is
  // refused, with a reason, and the name keeps its file.
  HANDLE viewer = CreateFileA(dir.file("dagoma0.g").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  ASSERT_EQ(output_file_write(&second, "M84\n", 4), 1);
  ASSERT_EQ(output_file_flush(&second), 1);
  EXPECT_EQ(output_file_commit(&second), -1);
  EXPECT_FALSE(second.replaced);
  EXPECT_EQ(second.error, EACCES);
  CloseHandle(viewer);
  output_file_discard(&second);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
  EXPECT_EQ(read_file(elsewhere.file("precious.txt")), "not a job\n");
}

TEST(OutputFileWin32, AFolderUnderTheNameIsRefusedBeforeAnyLine) {
  TempDir dir;
  ASSERT_TRUE(CreateDirectoryA(dir.file("dagoma0.g").c_str(), nullptr));
  OutputFile f;
  EXPECT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, EISDIR);
  EXPECT_EQ(f.handle, -1);
  EXPECT_FALSE(file_exists(dir.file("dagoma0.g.part")));
  EXPECT_EQ(output_file_create(&f, (dir.path + "\\missing").c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, ENOENT);

  // A folder that stands but takes no file. Under Wine, Linux's /proc is
  // one (drive Z: is /); access lists are not Wine's to enforce for root.
  if (GetFileAttributesA("Z:\\proc") != INVALID_FILE_ATTRIBUTES) {
    EXPECT_EQ(output_file_create(&f, "Z:\\proc", "dagoma0.g"), -1);
    EXPECT_NE(f.error, 0);
    EXPECT_FALSE(f.in_use);
  }
}

TEST(OutputFileWin32, AFailedWriteReportsFailure) {
  TempDir dir;
  OutputFile f;
  ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
  ASSERT_EQ(output_file_write(&f, "G90\n", 4), 1);
  // A handle that cannot write stands for a write the system refuses.
  intptr_t writable = f.handle;
  HANDLE reader = CreateFileA(dir.file("other").c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  f.handle = reinterpret_cast<intptr_t>(reader);
  EXPECT_EQ(output_file_write(&f, "G28\n", 4), -1);
  EXPECT_EQ(f.error, EACCES);
  EXPECT_EQ(f.size, 4u);
  CloseHandle(reader);
  f.handle = writable;
  ASSERT_EQ(output_file_commit(&f), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\n");
}

// --- Job reader ---

TEST(JobReaderWin32, StartsOverPastTheCacheAndReadsTheWholeFileInAlignedBlocks) {
  TempDir dir;
  // Two blocks and a part: the last read, past the cache, is short.
  std::string content;
  for (int i = 0; content.size() < 2 * JOB_READ_BLOCK + 1000; ++i)
    content += "G1 F300 E" + std::to_string(i) + ".000 X10.000 Y0.000\n";
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), content));
  JobReader reader;
  ASSERT_EQ(job_reader_open(&reader, dir.file("dagoma0.g").c_str()), 1);
  ASSERT_EQ(job_reader_read(&reader), static_cast<ptrdiff_t>(JOB_READ_BLOCK));
  ASSERT_EQ(job_reader_start_over(&reader, true), 1);
  EXPECT_TRUE(reader.from_device);
  std::string read;
  ptrdiff_t n;
  while ((n = job_reader_read(&reader)) > 0)
    read.append(reader.block, static_cast<size_t>(n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(read == content) << read.size() << " bytes read of " << content.size();
  job_reader_close(&reader);

  // A folder, or no file at all, is refused with the reason.
  EXPECT_EQ(job_reader_open(&reader, dir.path.c_str()), -1);
  EXPECT_EQ(reader.error, EISDIR);
  EXPECT_EQ(job_reader_open(&reader, dir.file("none.g").c_str()), -1);
  EXPECT_EQ(reader.error, ENOENT);
}

// --- C runtime ---

TEST(BinaryModeWin32, FilesOpenedWithoutAModeKeepTheirBytes) {
  TempDir dir;
  int fd = _open(dir.file("open.txt").c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_write(fd, "G90\nG28\r\n\x1a;", 11), 11);
  _close(fd);
  EXPECT_EQ(read_file(dir.file("open.txt")), std::string("G90\nG28\r\n\x1a;", 11));

  FILE* f = fopen(dir.file("fopen.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("M84\n", f);
  fclose(f);
  EXPECT_EQ(read_file(dir.file("fopen.txt")), "M84\n");

  ASSERT_TRUE(write_file(dir.file("in.txt"),
                         "0.4\r\n\x1a"
                         "210\n"));
  f = fopen(dir.file("in.txt").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[32] = {};
  size_t n = fread(buf, 1, sizeof buf, f);
  fclose(f);
  EXPECT_EQ(std::string(buf, n),
            "0.4\r\n\x1a"
            "210\n");
}

// --- Wait word ---

TEST(WaitWordWin32, AChangedWordIsSeenWithoutWaiting) {
  WaitWord word;
  publish(&word, 5);
  EXPECT_EQ(wait_for_change(&word, 4), 5u);
  EXPECT_EQ(publish_bits(&word, 0x80000000u), 5u);
  EXPECT_EQ(wait_for_change(&word, 5), 0x80000005u);
}

// Two threads hand a count back and forth; every other hand-over comes late
// enough that the waiter has gone to sleep, so both the spin and the
// WaitOnAddress path must wake in turn, and none may lose a change.
TEST(WaitWordWin32, PingPongThroughSpinAndSleep) {
  WaitWord ping;
  WaitWord pong;
  constexpr uint32_t ROUNDS = 400;
  std::thread peer([&] {
    for (uint32_t i = 1; i <= ROUNDS; ++i) {
      uint32_t got = wait_for_change(&ping, i - 1);
      if (got != i)
        return;
      if (i % 2 == 0)
        Sleep(1);
      publish(&pong, i);
    }
  });
  uint32_t seen = 0;
  for (uint32_t i = 1; i <= ROUNDS; ++i) {
    publish(&ping, i);
    seen = wait_for_change(&pong, i - 1);
    if (seen != i)
      break;
  }
  peer.join();
  EXPECT_EQ(seen, ROUNDS);
}

TEST(WaitWordWin32, PublishBitsWakesASleeper) {
  WaitWord word;
  std::atomic<uint32_t> woke{0};
  std::thread waiter([&] { woke = wait_for_change(&word, 0); });
  Sleep(20);  // long enough for the waiter to be asleep, most of the time
  publish_bits(&word, 0x4);
  waiter.join();
  EXPECT_EQ(woke.load(), 0x4u);
}

// --- Thread ---

int add_one(void* arg) {
  int* value = static_cast<int*>(arg);
  return *value + 1;
}

TEST(ThreadWin32, StartsAndJoinsWithTheEntrysResult) {
  int value = 41;
  Thread t;
  ASSERT_EQ(start_thread(&t, add_one, &value), 1);
  EXPECT_EQ(join_thread(&t), 42);
  EXPECT_EQ(join_thread(&t), -1);  // not started any more
}

// --- Which console ---

// Puts `handle` in as a standard handle for the scope of one test.
struct StdHandleSwap {
  DWORD which;
  HANDLE saved;
  StdHandleSwap(DWORD w, HANDLE handle) : which(w), saved(GetStdHandle(w)) {
    SetStdHandle(which, handle);
  }
  ~StdHandleSwap() { SetStdHandle(which, saved); }
};

TEST(ConsoleWin32Choice, InputFromAPipeIsAPlainStream) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  int opened;
  {
    StdHandleSwap swap(STD_INPUT_HANDLE, read_end);
    Console con;
    int columns = 0, rows = 0;
    opened = console_open(&con, {"title", 119, 22, "too small"}, &columns, &rows);
  }
  CloseHandle(read_end);
  CloseHandle(write_end);
  EXPECT_EQ(opened, -1);
}

TEST(ConsoleWin32Choice, InputFromAFileIsAPlainStream) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("values.txt"), "0.4\n210\n300\n"));
  HANDLE file = CreateFileA(dir.file("values.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  int opened;
  {
    StdHandleSwap swap(STD_INPUT_HANDLE, file);
    Console con;
    int columns = 0, rows = 0;
    opened = console_open(&con, {"title", 119, 22, "too small"}, &columns, &rows);
  }
  CloseHandle(file);
  EXPECT_EQ(opened, -1);
}

TEST(ConsoleWin32Choice, NoStandardOutputIsNotUsable) {
  {
    StdHandleSwap swap(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(reopen_closed_standard_streams());
  }
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  {
    StdHandleSwap swap(STD_OUTPUT_HANDLE, write_end);
    EXPECT_TRUE(reopen_closed_standard_streams());
  }
  CloseHandle(read_end);
  CloseHandle(write_end);
}

}  // namespace
