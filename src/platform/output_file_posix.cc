// The output file on POSIX systems. The temporary file is held with an
// exclusive flock, which the system drops when the holder ends however it
// ends; the name is replaced with rename(2), which is atomic: the name has
// its previous file or the new one, never a mix.
//
// The lines are copied into a shared mapping of the temporary file: once
// copied they are in the file's pages, which every reader sees and which
// outlive the process however it ends. The file is allocated ahead with
// fallocate, so that a full disk is an error of that call rather than a
// SIGBUS on a page. glibc's posix_fallocate is not used: where the file
// system cannot allocate, it writes a byte into every block itself, hiding
// the answer that sends the lines to one write(2) each instead. Only file
// systems known to reserve what fallocate allocates are mapped: btrfs, for
// one, may still find no room when a page is first written, and that is a
// SIGBUS in the middle of a copy.

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/output_file.h"
#include "platform/write_all.h"

namespace {

int failed(OutputFile* file, int error) {
  file->error = error;
  return -1;
}

void start_call(OutputFile* file) {
  file->error = 0;
  file->in_use = false;
}

bool set_paths(OutputFile* file, const char* dir, const char* name) {
  int n = dir != nullptr ? snprintf(file->path, sizeof file->path, "%s/%s", dir, name)
                         : snprintf(file->path, sizeof file->path, "%s", name);
  size_t length = n < 0 ? sizeof file->path : static_cast<size_t>(n);
  if (length + sizeof OUTPUT_TEMP_SUFFIX > sizeof file->temp_path)
    return false;
  memcpy(file->temp_path, file->path, length);
  memcpy(file->temp_path + length, OUTPUT_TEMP_SUFFIX, sizeof OUTPUT_TEMP_SUFFIX);
  return true;
}

bool is_folder(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder part of `path`: "." when it has none.
void folder_of(const char* path, char* folder, size_t size) {
  const char* slash = strrchr(path, '/');
  if (slash == nullptr) {
    snprintf(folder, size, ".");
    return;
  }
  size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  snprintf(folder, size, "%.*s", static_cast<int>(length), path);
}

// A rename is a change of the folder: it survives a power loss only once
// the folder itself is on stable storage. 0, or the errno of a failed sync.
// A folder that cannot be opened for reading (write and search rights
// only) cannot be synced by its users at all, and some file systems do not
// sync folders (EINVAL): then the rename is as durable as the system makes
// it.
int sync_folder(const char* path) {
  char folder[OUTPUT_PATH_SIZE];
  folder_of(path, folder, sizeof folder);
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return 0;
  int error = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  close(fd);
  return error;
}

// The mapped window's size, and the largest allocation ahead: a few MiB
// keep the process's memory small at the speed of a whole-file mapping,
// and make the system calls of the mapping a few per million lines. A
// multiple of any page size.
constexpr uint64_t WINDOW_BYTES = uint64_t{4} << 20;

// The allocation's answer that sends the lines to write(2): the file
// system cannot allocate ahead (NFS before 4.2, some FUSE file systems).
bool cannot_allocate(int error) { return error == EOPNOTSUPP || error == ENOSYS; }

// Whether the file system of `fd` reserves the blocks fallocate allocates,
// so that writing the mapped pages later cannot fail for want of room.
bool allocation_reserves(int fd) {
  struct statfs st;
  if (fstatfs(fd, &st) != 0)
    return false;
  switch (st.f_type) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too; files without extents refuse to allocate
    case XFS_SUPER_MAGIC:
    case TMPFS_MAGIC: return true;
    default: return false;
  }
}

// No room for the whole step, but perhaps for a smaller one.
bool out_of_room(int error) { return error == ENOSPC || error == EFBIG || error == EDQUOT; }

void unmap_window(OutputFile* file) {
  if (file->window == nullptr)
    return;
  munmap(file->window, WINDOW_BYTES);
  file->window = nullptr;
}

// Allocates the file up to at least `end`: a whole step ahead when there
// is room, else smaller ones, down to `end` itself, so that the disk is
// used up to the last line that fits. 0, or the errno of the failure.
int allocate(OutputFile* file, uint64_t end) {
  int fd = static_cast<int>(file->handle);
  for (;;) {
    uint64_t target = file->allocated + file->step;
    if (target < end)
      target = end;
    if (fallocate(fd, 0, static_cast<off_t>(file->allocated),
                  static_cast<off_t>(target - file->allocated)) == 0) {
      file->allocated = target;
      if (file->step < WINDOW_BYTES)
        file->step *= 2;
      return 0;
    }
    int error = errno;
    if (error == EINTR)
      continue;
    if (!out_of_room(error) || target == end)
      return error;
    file->step = file->step / 2 > 0 ? file->step / 2 : 1;
  }
}

// Ends the mapping: the window is unmapped and the file cut to its lines;
// later lines are written one system call each. 0, or the errno of the
// failed cut, and then the file still counts as mapped: it is never
// renamed with what was allocated ahead.
int end_mapping(OutputFile* file) {
  unmap_window(file);
  int fd = static_cast<int>(file->handle);
  if (ftruncate(fd, static_cast<off_t>(file->size)) != 0 ||
      lseek(fd, static_cast<off_t>(file->size), SEEK_SET) < 0)
    return errno;
  file->allocated = file->size;
  file->mapped = false;
  return 0;
}

// The line through the mapping, when the fast path of output_file_write
// cannot take it: allocation ahead, or the window's move. 1 or -1 as
// output_file_write; 0 when the mapping has ended and the line is to be
// written.
int write_mapped(OutputFile* file, const char* data, size_t length) {
  uint64_t end = file->size + length;
  if (end > file->allocated) {
    int error = allocate(file, end);
    if (cannot_allocate(error)) {
      error = end_mapping(file);
      if (error == 0)
        return 0;
    }
    if (error != 0) {
      file->error = error;
      // A failed step may have allocated part of the file.
      if (ftruncate(static_cast<int>(file->handle), static_cast<off_t>(file->size)) == 0)
        file->allocated = file->size;
      return -1;
    }
  }
  // Copied across as many window edges as the line crosses.
  uint64_t at = file->size;
  while (at < end) {
    if (file->window == nullptr || at >= file->window_start + WINDOW_BYTES) {
      unmap_window(file);
      uint64_t start = at - at % WINDOW_BYTES;
      void* window = mmap(nullptr, WINDOW_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED,
                          static_cast<int>(file->handle), static_cast<off_t>(start));
      if (window == MAP_FAILED) {
        // Cut back to the whole lines, part of this one included.
        int error = end_mapping(file);
        if (error == 0)
          return 0;
        file->error = error;
        return -1;
      }
      file->window = static_cast<char*>(window);
      file->window_start = start;
    }
    uint64_t room = file->window_start + WINDOW_BYTES - at;
    size_t n = end - at < room ? static_cast<size_t>(end - at) : static_cast<size_t>(room);
    memcpy(file->window + (at - file->window_start), data + (at - file->size), n);
    at += n;
  }
  file->size = end;
  return 1;
}

// Attempts at taking the temporary file while other runs make, rename or
// remove it under our hands; each lost race means another run has moved on.
constexpr int CREATE_ATTEMPTS = 8;

}  // namespace

int output_file_check(OutputFile* file, const char* dir, const char* name) {
  start_call(file);
  if (!set_paths(file, dir, name))
    return failed(file, ENAMETOOLONG);
  char folder[OUTPUT_PATH_SIZE];
  folder_of(file->path, folder, sizeof folder);
  // The folder's rights as the system grants them to this user.
  if (access(folder, W_OK | X_OK) != 0)
    return failed(file, errno);
  if (is_folder(file->path))
    return failed(file, EISDIR);
  return 1;
}

int output_file_create(OutputFile* file, const char* dir, const char* name) {
  start_call(file);
  file->replaced = false;
  file->size = 0;
  if (!set_paths(file, dir, name))
    return failed(file, ENAMETOOLONG);
  // The name is only ever replaced, by the rename at the end, and a folder
  // cannot be: refused now rather than after the whole job. Whatever else
  // has the name (a link, a pipe, a device) is never opened.
  if (is_folder(file->path))
    return failed(file, EISDIR);

  for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    // Under the temporary name, anything but a plain file is no run's: it
    // is removed (a link, not what it points to), never opened.
    struct stat st;
    if (lstat(file->temp_path, &st) == 0 && !S_ISREG(st.st_mode) && unlink(file->temp_path) != 0 &&
        errno != ENOENT)
      return failed(file, errno);
    // Not O_TRUNC: the file is emptied only once it is ours. Should a link
    // or a pipe take the name meanwhile, O_NOFOLLOW and O_NONBLOCK make the
    // open fail instead of following it or waiting for a reader (regular
    // files ignore O_NONBLOCK). A mapping needs the right to read; a
    // leftover without it is still written, one line at a time.
    const int flags = O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    bool readable = !file->write_per_line;
    int fd = open(file->temp_path, (readable ? O_RDWR : O_WRONLY) | flags, 0666);
    if (fd < 0 && readable && errno == EACCES) {
      readable = false;
      fd = open(file->temp_path, O_WRONLY | flags, 0666);
    }
    if (fd < 0) {
      if (errno == ELOOP || errno == ENXIO)
        continue;
      return failed(file, errno);
    }
    struct stat held;
    if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
      close(fd);
      continue;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int error = errno;
      close(fd);
      if (error == EWOULDBLOCK) {
        file->in_use = true;
        return -1;
      }
      return failed(file, error);
    }
    // Held; but between the open and the lock the file may have left the
    // temporary name: renamed by a run that has just finished (it is that
    // run's complete job now) or removed by one that failed. Only the file
    // still under the temporary name is ours to empty.
    struct stat named;
    if (lstat(file->temp_path, &named) != 0 || named.st_dev != held.st_dev ||
        named.st_ino != held.st_ino) {
      close(fd);
      continue;
    }
    if (ftruncate(fd, 0) != 0) {
      int error = errno;
      close(fd);
      return failed(file, error);
    }
    file->handle = fd;
    file->mapped = readable && allocation_reserves(fd);
    file->window = nullptr;
    file->window_start = 0;
    file->allocated = 0;
    file->step = WINDOW_BYTES;
    return 1;
  }
  file->in_use = true;  // the name kept changing under other runs
  return -1;
}

int output_file_write(OutputFile* file, const char* data, size_t length) {
  if (file->mapped) {
    // Most lines: allocated already, and inside the window.
    uint64_t end = file->size + length;
    if (file->window != nullptr && end <= file->allocated &&
        end <= file->window_start + WINDOW_BYTES) {
      memcpy(file->window + (file->size - file->window_start), data, length);
      file->size = end;
      return 1;
    }
    int result = write_mapped(file, data, length);
    if (result != 0)
      return result;
  }
  int fd = static_cast<int>(file->handle);
  size_t done = write_all(fd, data, length);
  if (done < length) {
    file->error = errno;
    if (done > 0 && ftruncate(fd, static_cast<off_t>(file->size)) == 0)
      lseek(fd, static_cast<off_t>(file->size), SEEK_SET);
    return -1;
  }
  file->size += length;
  return 1;
}

int output_file_flush(OutputFile* file) {
  start_call(file);
  if (file->mapped) {
    int error = end_mapping(file);
    if (error != 0)
      return failed(file, error);
  }
  if (fsync(static_cast<int>(file->handle)) != 0)
    return failed(file, errno);
  return 1;
}

int output_file_commit(OutputFile* file) {
  start_call(file);
  // Never renamed with the zero bytes allocated ahead; flushed, the file
  // has none left.
  if (file->mapped) {
    int error = end_mapping(file);
    if (error != 0)
      return failed(file, error);
  }
  if (rename(file->temp_path, file->path) != 0)
    return failed(file, errno);
  file->replaced = true;
  int error = sync_folder(file->path);
  // Closed only now: until the rename the hold kept the temporary name ours.
  close(static_cast<int>(file->handle));
  file->handle = -1;
  return error == 0 ? 1 : failed(file, error);
}

void output_file_discard(OutputFile* file) {
  if (file->handle < 0)
    return;
  unmap_window(file);
  file->mapped = false;
  // Removed while still held: once closed, the temporary name may be
  // another run's.
  if (!file->replaced)
    unlink(file->temp_path);
  close(static_cast<int>(file->handle));
  file->handle = -1;
}
