#include "platform/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "test_support.h"

namespace {

// The file being written, as a path that opens it: it has no name until
// the end.
std::string being_written(const OutputFile& f) {
  return "/proc/self/fd/" + std::to_string(f.handle);
}

// The lines in a temporary file being written: what it holds but the zero
// bytes allocated ahead of the lines, where the file is mapped.
std::string lines_in(const std::string& path) {
  std::string text = read_file(path).value_or("");
  text.erase(text.find_last_not_of('\0') + 1);
  return text;
}

// The names in the folder.
std::set<std::string> names_in(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path))
    names.insert(entry.path().filename().string());
  return names;
}

using Names = std::set<std::string>;

// The exit status of `body` run in a child, for what changes a process for
// good (limits, refused system calls); -1 when the child did not exit.
int status_in_child(const std::function<int()>& body) {
  pid_t child = fork();
  if (child == 0)
    _exit(body());
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
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
    ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
    // No name while the job is written: nothing in the folder to find.
    EXPECT_EQ(std::string(f.temp_path), "");
    EXPECT_EQ(names_in(dir), Names{"dagoma0.g"});
    EXPECT_EQ(output_file_write(&f, "G90\n", 4), 1);
    EXPECT_EQ(output_file_write(&f, "G28\n", 4), 1);
    EXPECT_EQ(f.size, 8u);
    EXPECT_EQ(lines_in(being_written(f)), "G90\nG28\n");
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), old_job);
    ASSERT_EQ(output_file_flush(&f), 1);
    EXPECT_EQ(read_file(being_written(f)), "G90\nG28\n");  // cut to its lines
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), old_job);
    ASSERT_EQ(output_file_commit(&f), 1);
    EXPECT_TRUE(f.replaced);
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
    EXPECT_EQ(names_in(dir), Names{"dagoma0.g"});
    output_file_discard(&f);  // after the commit: nothing to remove
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");

    // Discarded: the name keeps the complete job, and nothing else is left.
    ASSERT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), 1);
    ASSERT_EQ(output_file_write(&f, "M84\n", 4), 1);
    output_file_discard(&f);
    output_file_discard(&f);  // twice is harmless
    EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");
    EXPECT_EQ(names_in(dir), Names{"dagoma0.g"});
  }
}

// The folder's lock, not any file, keeps a second run away; what earlier
// runs left under a temporary name is removed, never opened, and the new
// file is the usual new file of this user.
TEST(OutputFile, ASecondRunIsRefusedAndLeftoversAreRemovedUnopened) {
  TempDir dir;
  TempDir elsewhere;  // on the same file system, for hard links
  OutputFile first, second;
  ASSERT_EQ(output_file_create(&first, dir.path.c_str(), "dagoma0.g"), 1);
  // Held from the creation on, before any line.
  EXPECT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_TRUE(second.in_use);
  EXPECT_EQ(second.folder, -1);
  ASSERT_EQ(output_file_write(&first, "G90\n", 4), 1);
  ASSERT_EQ(output_file_write(&first, "G28\n", 4), 1);
  ASSERT_EQ(output_file_flush(&first), 1);
  ASSERT_EQ(output_file_commit(&first), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "G90\nG28\n");

  // Left by older versions and by killed runs: hard links to a file
  // elsewhere, a file of another user without the right to read it, a link.
  const std::string precious = elsewhere.file("precious.txt");
  ASSERT_TRUE(write_file(precious, "not a job\n"));
  ASSERT_EQ(link(precious.c_str(), dir.file("dagoma0.g.part").c_str()), 0);
  ASSERT_EQ(link(precious.c_str(), dir.file("dagoma0.g.0123abcd.part").c_str()), 0);
  ASSERT_TRUE(write_file(dir.file("dagoma0.g.89abcdef.part"), "G1 X1.000 Y2.0"));
  ASSERT_EQ(chmod(dir.file("dagoma0.g.89abcdef.part").c_str(), 0200), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(dir.file("dagoma0.g.89abcdef.part").c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(symlink(precious.c_str(), dir.file("dagoma0.g.fedcba98.part").c_str()), 0);
  // Names that are not temporary names stay.
  for (const char* name : {"dagoma0.g.backup", "dagoma0.g.notes.part", "dagoma0.g.0123ABCD.part"})
    ASSERT_TRUE(write_file(dir.file(name), "keep\n"));
  const Names kept = {"dagoma0.g", "dagoma0.g.backup", "dagoma0.g.notes.part",
                      "dagoma0.g.0123ABCD.part"};

  ASSERT_EQ(output_file_create(&second, dir.path.c_str(), "dagoma0.g"), 1);
  EXPECT_EQ(names_in(dir), kept);
  EXPECT_EQ(read_file(precious), "not a job\n");
  ASSERT_EQ(output_file_write(&second, "M84\n", 4), 1);
  ASSERT_EQ(output_file_flush(&second), 1);
  ASSERT_EQ(output_file_commit(&second), 1);
  EXPECT_EQ(read_file(dir.file("dagoma0.g")), "M84\n");
  EXPECT_EQ(read_file(precious), "not a job\n");
  EXPECT_EQ(names_in(dir), kept);
  struct stat st;
  ASSERT_EQ(stat(dir.file("dagoma0.g").c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(st.st_nlink, 1u);
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
  EXPECT_EQ(names_in(dir), Names{"dagoma0.g"});

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
  EXPECT_EQ(names_in(dir), Names{"dagoma0.g"});

  // A folder cannot be replaced by a rename: refused before any line, and
  // nothing is left open.
  ASSERT_EQ(unlink(dir.file("dagoma0.g").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("dagoma0.g").c_str(), 0755), 0);
  EXPECT_EQ(output_file_create(&f, dir.path.c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, EISDIR);
  EXPECT_FALSE(f.in_use);
  EXPECT_EQ(f.handle, -1);
  EXPECT_EQ(f.folder, -1);
  EXPECT_EQ(names_in(dir), Names{"dagoma0.g"});

  EXPECT_EQ(output_file_create(&f, dir.file("missing").c_str(), "dagoma0.g"), -1);
  EXPECT_EQ(f.error, ENOENT);
  // A name with no room for a temporary name beside it.
  const std::string long_name(OUTPUT_PATH_SIZE - 8, 'x');
  EXPECT_EQ(output_file_create(&f, nullptr, long_name.c_str()), -1);
  EXPECT_EQ(f.error, ENAMETOOLONG);
}

// Line i of a made-up job: lengths vary, so that lines end anywhere in a
// page or a mapped window, and some cross a window's edge.
std::string made_up_line(size_t i) {
  return "G1 X" + std::to_string(i % 997) + " Y" + std::to_string(i) + " ;" +
         std::string(i % 61, 'x') + "\n";
}

// The lines of made_up_line that fit in `limit` bytes.
std::string lines_that_fit(uint64_t limit) {
  std::string fits;
  for (size_t i = 0;; ++i) {
    std::string line = made_up_line(i);
    if (fits.size() + line.size() > limit)
      return fits;
    fits += line;
  }
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
      const std::string fits = lines_that_fit(limit);
      // The size limit is per process, and the file goes with it: tried and
      // read in a child.
      int status = status_in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        OutputFile f;
        f.write_per_line = write_per_line;
        if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1)
          return 2;
        std::string line;
        for (size_t i = 0; f.size <= limit; ++i) {
          line = made_up_line(i);
          if (output_file_write(&f, line.data(), line.size()) == 1)
            continue;
          if (f.error != EFBIG || f.size + line.size() <= limit)
            return 3;
          return read_file(being_written(f)) == fits ? 0 : 5;
        }
        return 4;  // more than the limit written
      });
      EXPECT_EQ(status, 0) << "3: wrong reason, 4: past the limit, 5: not the lines that fit";
    }
  }
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
    // Refused within the first allocation, so that the next one, and the
    // window's move with it, fails.
    const uint64_t refused_from = OUTPUT_ALLOCATE_BYTES - OUTPUT_WINDOW_BYTES / 2,
                   total = OUTPUT_ALLOCATE_BYTES + 2 * OUTPUT_WINDOW_BYTES;
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

// Where the file system makes no files without a name (vfat, some FUSE), a
// new file of a fresh name takes the job, and only while the name still
// holds that very file does it take the job's name.
TEST(OutputFile, WithoutUnnamedFilesAFreshNameIsCheckedBeforeTheRename) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("dagoma0.g"), "an earlier job\n"));
  ASSERT_TRUE(write_file(dir.file("other"), "another program's file\n"));
  int status = status_in_child([&] {
    if (!refuse_system_call(SYS_openat, EOPNOTSUPP, 2, O_TMPFILE & ~O_DIRECTORY))
      return 2;
    const std::string prefix = dir.file("dagoma0.g.");
    auto ends_as_before = [&] {
      return read_file(dir.file("dagoma0.g")) == "an earlier job\n" &&
             names_in(dir) == Names{"dagoma0.g", "other"};
    };
    // Its name removed by another program: refused, nothing installed.
    OutputFile f;
    if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1 || f.mapped)
      return 3;
    std::string temp = f.temp_path;
    if (!temp.starts_with(prefix) || temp.size() != prefix.size() + 13 || !temp.ends_with(".part"))
      return 4;
    if (output_file_write(&f, "G90\n", 4) != 1 || read_file(temp) != "G90\n")
      return 5;
    unlink(temp.c_str());
    if (output_file_flush(&f) != 1 || output_file_commit(&f) != -1 || !f.tampered || f.replaced)
      return 6;
    output_file_discard(&f);
    if (!ends_as_before())
      return 7;
    // Another file put under its name: refused, and that file left alone.
    if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1)
      return 8;
    temp = f.temp_path;
    if (output_file_write(&f, "G28\n", 4) != 1 || output_file_flush(&f) != 1 ||
        link(dir.file("other").c_str(), dir.file("moved").c_str()) != 0 ||
        rename(dir.file("moved").c_str(), temp.c_str()) != 0)
      return 9;
    if (output_file_commit(&f) != -1 || !f.tampered)
      return 10;
    output_file_discard(&f);
    if (read_file(temp) != "another program's file\n" || unlink(temp.c_str()) != 0 ||
        !ends_as_before())
      return 11;
    // Cut by another program: the lines go on at its new end, and the
    // flush finds the file not as this run wrote it.
    if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1 ||
        output_file_write(&f, "G90\nG28\n", 8) != 1 || truncate(f.temp_path, 0) != 0 ||
        output_file_write(&f, "M84\n", 4) != 1)
      return 12;
    if (output_file_flush(&f) != -1 || !f.tampered)
      return 13;
    output_file_discard(&f);
    if (!ends_as_before())
      return 14;
    // Left alone, it takes the name.
    if (output_file_create(&f, dir.path.c_str(), "dagoma0.g") != 1 ||
        output_file_write(&f, "M84\n", 4) != 1 || output_file_flush(&f) != 1 ||
        output_file_commit(&f) != 1)
      return 15;
    return read_file(dir.file("dagoma0.g")) == "M84\n" &&
                   names_in(dir) == Names{"dagoma0.g", "other"}
               ? 0
               : 16;
  });
  EXPECT_EQ(status, 0) << "the step that failed";
}

}  // namespace
