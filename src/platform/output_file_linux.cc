// The output file on Linux. The job goes into a file of no name in the
// folder (O_TMPFILE): nobody finds it, no leftover or link can be it, and
// however the run ends it leaves nothing. Complete, it is linked to a fresh
// name and renamed over the job's name, atomically. Where the file system
// has none (vfat, some FUSE), a new file of a fresh name takes the job, and
// the name only while it still names this file. The hold is a flock on the
// folder: dropped however the holder ends, and no file on the card.
//
// The file of no name is mapped, allocated ahead with fallocate(2): a full
// disk is that call's error, not a SIGBUS in a copy (posix_fallocate would
// write every block itself where the file system cannot allocate, hiding
// the answer that sends the lines to write(2)). Only where the file system
// reserves what fallocate allocates: a full btrfs can fail a page's first
// write. A named file is never mapped: another program could cut it under
// the mapping. Each window the lines have left is written out at once
// (sync_file_range), so that the flush at the end waits for the last one
// only.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include "platform/output_file.h"
#include "platform/write_all.h"

namespace {

using namespace output_file_detail;

int fd_of(const OutputFile* file) { return static_cast<int>(file->handle); }
int folder_of(const OutputFile* file) { return static_cast<int>(file->folder); }

// The name in its folder, for the *at calls.
const char* leaf(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

bool is_folder(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder of `path`, opened for reading: to be locked, listed and
// synced.
int open_folder(const char* path) {
  char folder[OUTPUT_PATH_SIZE] = ".";
  if (size_t n = static_cast<size_t>(leaf(path) - path))
    snprintf(folder, sizeof folder, "%.*s", static_cast<int>(n == 1 ? 1 : n - 1), path);
  return open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A folder whose files can be added but not renamed or removed (chattr +a,
// +i): the job could never take the name, and its temporary file would
// stay.
bool append_only(int folder) {
  int flags = 0;
  return ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 &&
         (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

// Whether the rename over `name` will be refused whatever the job: in a
// sticky folder (/tmp, a shared one) only the folder's owner, the file's
// owner or a process with CAP_FOWNER (root, usually) may replace a file.
bool replace_refused(int folder, const char* name) {
  struct stat dir, st;
  uid_t me = geteuid();
  if (fstat(folder, &dir) != 0 || (dir.st_mode & S_ISVTX) == 0 ||
      fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid == me || dir.st_uid == me)
    return false;
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, caps) != 0)
    return me != 0;
  return (caps[CAP_FOWNER / 32].effective >> (CAP_FOWNER % 32) & 1) == 0;
}

// Names older versions (name ".part") or runs (name, ".", eight hex digits,
// ".part") gave their temporary files.
bool is_temp_name(const char* entry, const char* name) {
  size_t n = strlen(name);
  if (strncmp(entry, name, n) != 0)
    return false;
  entry += n;
  if (*entry == '.' && strspn(entry + 1, "0123456789abcdef") == 8)
    entry += 9;
  return strcmp(entry, OUTPUT_TEMP_SUFFIX) == 0;
}

// Removes by name, never opens, what killed runs and older versions left:
// a link to a file elsewhere leaves that file as it is. Only under the lock,
// while no other run writes here. What cannot be removed (another user's,
// in a sticky folder) stays, and its name is never used again.
void remove_leftovers(int folder, const char* name) {
  int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = fd >= 0 ? fdopendir(fd) : nullptr;
  while (const dirent* entry = entries != nullptr ? readdir(entries) : nullptr) {
    if (is_temp_name(entry->d_name, name))
      unlinkat(folder, entry->d_name, 0);
  }
  if (entries != nullptr)
    closedir(entries);
  else if (fd >= 0)
    close(fd);
}

// Tries `make` on fresh temporary names until one was new: only O_EXCL and
// linkat say so; the names make a clash unlikely, also with a run on
// another machine sharing the folder. 0, or an errno and no temporary name.
template <typename Make>
int under_fresh_name(OutputFile* file, Make make) {
  int error = EEXIST;
  for (unsigned attempt = 0; attempt < 8 && error == EEXIST; ++attempt) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t x = (static_cast<uint64_t>(getpid()) << 32 ^ static_cast<uint64_t>(now.tv_nsec) ^
                  static_cast<uint64_t>(now.tv_sec) << 40 ^ attempt) *
                 0x9e3779b97f4a7c15u;
    char middle[16];
    snprintf(middle, sizeof middle, ".%08x", static_cast<unsigned>(x >> 32));
    set_temp_path(file, middle);
    error = make(leaf(file->temp_path)) ? 0 : errno;
  }
  if (error != 0)
    file->temp_path[0] = '\0';
  return error;
}

// Whether the file still has the size this run gave it: another program
// that reached it (by its name, or through /proc as its owner) may have cut
// or grown it.
bool size_is(OutputFile* file, uint64_t size) {
  struct stat st;
  if (fstat(fd_of(file), &st) == 0 && static_cast<uint64_t>(st.st_size) == size)
    return true;
  file->tampered = true;
  return false;
}

void unmap_window(OutputFile* file) {
  if (file->window != nullptr)
    munmap(file->window, OUTPUT_WINDOW_BYTES);
  file->window = nullptr;
}

// Unmaps a window the lines have gone past and starts writing it out, so
// that the flush at the end waits for the last window only. The write-out
// is only started: its errors, if any, are the flush's (fsync reports
// them), which decides whether the job is installed.
void finish_window(OutputFile* file) {
  if (file->window == nullptr)
    return;
  unmap_window(file);
  sync_file_range(fd_of(file), static_cast<off_t>(file->window_start),
                  static_cast<off_t>(OUTPUT_WINDOW_BYTES), SYNC_FILE_RANGE_WRITE);
}

// Allocates up to at least `end`: a whole step ahead where there is room,
// else smaller ones down to `end` itself, so that the disk takes every line
// that fits. 0, or an errno (EIO with `tampered` when the file is not as
// this run left it: the allocation would fill a cut with zeros).
int allocate(OutputFile* file, uint64_t end) {
  if (!size_is(file, file->allocated))
    return EIO;
  for (;;) {
    uint64_t target = file->allocated + file->step > end ? file->allocated + file->step : end;
    if (fallocate(fd_of(file), 0, static_cast<off_t>(file->allocated),
                  static_cast<off_t>(target - file->allocated)) == 0) {
      file->allocated = target;
      if (file->step < OUTPUT_ALLOCATE_BYTES)
        file->step *= 2;
      return 0;
    }
    int error = errno;
    if (error == EINTR)
      continue;
    if ((error != ENOSPC && error != EFBIG && error != EDQUOT) || target == end)
      return error;
    file->step = file->step / 2 > 0 ? file->step / 2 : 1;  // no room for the whole step
  }
}

// Unmaps the window and cuts the file to its lines; later lines are written
// one system call each. 0, or the errno of the failed cut, and then the
// file still counts as mapped: it is never renamed with what was allocated
// ahead.
int end_mapping(OutputFile* file) {
  unmap_window(file);
  int fd = fd_of(file);
  if (ftruncate(fd, static_cast<off_t>(file->size)) != 0 ||
      lseek(fd, static_cast<off_t>(file->size), SEEK_SET) < 0)
    return errno;
  file->allocated = file->size;
  file->mapped = false;
  return 0;
}

// A line that needs an allocation or a window's move. 1 or -1 as
// output_file_write; 0 when the mapping has ended and the line is to be
// written.
int write_mapped(OutputFile* file, const char* data, size_t length) {
  uint64_t end = file->size + length;
  int error = end > file->allocated ? allocate(file, end) : 0;
  // The file system cannot allocate ahead (NFS before 4.2, some FUSE).
  if ((error == EOPNOTSUPP || error == ENOSYS) && (error = end_mapping(file)) == 0)
    return 0;
  if (error != 0) {
    // A failed step may have allocated part of the file.
    if (ftruncate(fd_of(file), static_cast<off_t>(file->size)) == 0)
      file->allocated = file->size;
    return failed(file, error);
  }
  // Across as many window edges as the line crosses.
  for (uint64_t at = file->size; at < end;) {
    if (file->window == nullptr || at >= file->window_start + OUTPUT_WINDOW_BYTES) {
      finish_window(file);
      uint64_t start = at - at % OUTPUT_WINDOW_BYTES;
      void* window = mmap(nullptr, OUTPUT_WINDOW_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED,
                          fd_of(file), static_cast<off_t>(start));
      if (window == MAP_FAILED) {
        // Cut back to the whole lines, part of this one included.
        error = end_mapping(file);
        return error == 0 ? 0 : failed(file, error);
      }
      file->window = static_cast<char*>(window);
      file->window_start = start;
    }
    uint64_t room = file->window_start + OUTPUT_WINDOW_BYTES - at;
    size_t n = static_cast<size_t>(end - at < room ? end - at : room);
    memcpy(file->window + (at - file->window_start), data + (at - file->size), n);
    at += n;
  }
  file->size = end;
  return 1;
}

}  // namespace

int output_file_create(OutputFile* file, const char* dir, const char* name) {
  if (start_create(file, dir, name, '/', is_folder) < 0)
    return -1;
  // A folder that cannot be read (write and search rights only) cannot be
  // locked, nor can one whose file system refuses the lock: refused, since
  // two runs would not be kept apart.
  int folder = open_folder(file->path);
  if (folder < 0) {
    file->unlockable = errno == EACCES;
    return failed(file, errno);
  }
  int error = 0;
  if (flock(folder, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    file->in_use = error == EWOULDBLOCK;
    file->unlockable = !file->in_use;
  } else if (append_only(folder) || replace_refused(folder, leaf(file->path))) {
    error = EPERM;
  }
  if (error == 0) {
    remove_leftovers(folder, leaf(file->path));
    // Named at the end through /proc/self/fd (linking the descriptor itself
    // needs a privilege): not made where /proc is missing.
    if (access("/proc/self/fd", F_OK) == 0)
      file->handle = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    // Else a file that never stood before (O_EXCL), a link included.
    // O_APPEND: should another program cut it, the lines go on at its new
    // end and the flush finds the size wrong, where writing at the old
    // offset would fill the cut with zeros (vfat has no holes to find).
    if (file->handle < 0 &&
        (errno == EOPNOTSUPP || errno == EISDIR || errno == ENOENT || errno == EINVAL))
      errno = under_fresh_name(file, [&](const char* temp_name) {
        file->handle =
            openat(folder, temp_name,
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0666);
        return file->handle >= 0;
      });
    error = file->handle < 0 ? errno : 0;
  }
  if (error != 0) {
    close(folder);
    return failed(file, file->in_use ? 0 : error);
  }
  file->folder = folder;
  // ext4's magic is also ext2's and ext3's, whose files refuse to allocate.
  struct statfs fs;
  file->mapped =
      !file->write_per_line && file->temp_path[0] == '\0' && fstatfs(fd_of(file), &fs) == 0 &&
      (fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == XFS_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC);
  return 1;
}

int output_file_write(OutputFile* file, const char* data, size_t length) {
  if (file->mapped) {
    // Most lines: allocated already, and inside the window.
    uint64_t end = file->size + length;
    if (file->window != nullptr && end <= file->allocated &&
        end <= file->window_start + OUTPUT_WINDOW_BYTES) {
      memcpy(file->window + (file->size - file->window_start), data, length);
      file->size = end;
      return 1;
    }
    int result = write_mapped(file, data, length);
    if (result != 0)
      return result;
  }
  size_t done = write_all(fd_of(file), data, length);
  if (done < length) {
    file->error = errno;
    if (done > 0) {
      int ignored = ftruncate(fd_of(file), static_cast<off_t>(file->size));
      (void)ignored;
    }
    return -1;
  }
  file->size += length;
  return 1;
}

int output_file_flush(OutputFile* file) {
  start_call(file);
  // Cut to its lines only while nobody else has cut it: the cut would fill
  // the gap with zeros.
  if (file->mapped) {
    if (!size_is(file, file->allocated))
      return -1;
    if (int error = end_mapping(file))
      return failed(file, error);
  }
  if (fsync(fd_of(file)) != 0)
    return failed(file, errno);
  // A hole is a cut that the lines then went on past; where the file system
  // cannot tell, there is none.
  off_t hole = lseek(fd_of(file), 0, SEEK_HOLE);
  file->tampered = hole >= 0 && static_cast<uint64_t>(hole) < file->size;
  return size_is(file, file->size) && !file->tampered ? 1 : -1;
}

int output_file_commit(OutputFile* file) {
  start_call(file);
  // Never renamed with the zeros allocated ahead.
  if (file->mapped) {
    if (int error = end_mapping(file))
      return failed(file, error);
  }
  if (file->temp_path[0] == '\0') {
    char link[32];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd_of(file));
    int error = under_fresh_name(file, [&](const char* name) {
      return linkat(AT_FDCWD, link, folder_of(file), name, AT_SYMLINK_FOLLOW) == 0;
    });
    if (error != 0)
      return failed(file, error);
  }
  // The temporary name may have been removed, or given to another file,
  // since this run made it: only this run's own file takes the job's name.
  struct stat held, named;
  if (fstat(fd_of(file), &held) != 0)
    return failed(file, errno);
  const char* temp_name = leaf(file->temp_path);
  bool gone = fstatat(folder_of(file), temp_name, &named, AT_SYMLINK_NOFOLLOW) != 0;
  if (gone && errno != ENOENT)
    return failed(file, errno);
  if (gone || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
    file->temp_path[0] = '\0';  // whatever has the name now is not this run's to remove
    file->tampered = true;
    return -1;
  }
  if (renameat(folder_of(file), temp_name, folder_of(file), leaf(file->path)) != 0)
    return failed(file, errno);
  file->replaced = true;
  file->temp_path[0] = '\0';
  // The rename survives a power loss only once the folder is synced; some
  // file systems do not sync folders (EINVAL): then it is as durable as the
  // system makes it.
  int error = fsync(folder_of(file)) == 0 || errno == EINVAL ? 0 : errno;
  output_file_discard(file);  // only closes, now
  return error == 0 ? 1 : failed(file, error);
}

void output_file_discard(OutputFile* file) {
  unmap_window(file);
  file->mapped = false;
  // Removed while the folder is still held: once let go, the name may be
  // another run's. What cannot be removed keeps its name in `temp_path`.
  file->left_behind = !output_file_abandon(file);
  if (!file->left_behind)
    file->temp_path[0] = '\0';
  if (file->handle >= 0)
    close(fd_of(file));
  if (file->folder >= 0)
    close(folder_of(file));  // and with it the lock
  file->handle = file->folder = -1;
}

bool output_file_abandon(const OutputFile* file) {
  return file->temp_path[0] == '\0' || file->replaced || file->folder < 0 ||
         unlinkat(folder_of(file), leaf(file->temp_path), 0) == 0 || errno == ENOENT;
}

bool output_file_installed(const OutputFile* file) {
  struct stat held, named;
  return file->replaced ||
         (file->handle >= 0 && file->folder >= 0 && fstat(fd_of(file), &held) == 0 &&
          fstatat(folder_of(file), leaf(file->path), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino);
}
