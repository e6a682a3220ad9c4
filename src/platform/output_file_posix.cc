// The output file on Linux. The job goes into a file of no name in the
// target folder (O_TMPFILE): no other program finds it, no leftover or link
// can be it, and a run that ends however it ends leaves nothing. Complete,
// it is linked to a fresh name and renamed over the job's name: rename(2)
// is atomic, the name has its previous file or the new one, never a mix.
// Where the folder's file system has no such files (vfat, some FUSE), the
// job goes into a new file of a fresh name instead, made with O_EXCL, which
// is checked to be still this run's file before the rename.
//
// A second run is kept away by an exclusive flock on the folder itself,
// which the system drops when the holder ends however it ends, and which
// needs no file of its own on the printer's card.
//
// The lines are copied into a shared mapping of the unnamed file: once
// copied they are in the file's pages, which every reader sees and which
// outlive the process however it ends. The file is allocated ahead with
// fallocate, so that a full disk is an error of that call rather than a
// SIGBUS on a page. glibc's posix_fallocate is not used: where the file
// system cannot allocate, it writes a byte into every block itself, hiding
// the answer that sends the lines to one write(2) each instead. Only file
// systems known to reserve what fallocate allocates are mapped: btrfs, for
// one, may still find no room when a page is first written, and that is a
// SIGBUS in the middle of a copy. A named file is never mapped: another
// program could cut it under the mapping.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/magic.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include "platform/output_file.h"
#include "platform/write_all.h"

namespace {

using output_file_detail::failed;
using output_file_detail::set_path;
using output_file_detail::set_temp_path;
using output_file_detail::start_call;

int fd_of(const OutputFile* file) { return static_cast<int>(file->handle); }
int folder_of(const OutputFile* file) { return static_cast<int>(file->folder); }
const char* temp_leaf(const OutputFile* file) { return file->temp_path + file->temp_leaf; }

bool is_folder(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Where the last part of `path` begins.
size_t leaf_start(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

// The folder part of `path`: "." when it has none.
void folder_name(const char* path, char* folder, size_t size) {
  size_t leaf = leaf_start(path);
  if (leaf == 0)
    snprintf(folder, size, ".");
  else
    snprintf(folder, size, "%.*s", static_cast<int>(leaf == 1 ? 1 : leaf - 1), path);
}

// The folder, for the *at calls, the lock and the sync: opened for reading
// where its rights allow, else only as a place (write and search rights
// only): then it can be neither locked nor synced.
int open_folder(const char* path) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES)
    fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

// Whether this process may replace any user's file in a sticky folder
// (CAP_FOWNER), as root usually may.
bool may_replace_any_file() {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0)
    return geteuid() == 0;
  return (data[CAP_FOWNER / 32].effective >> (CAP_FOWNER % 32) & 1) != 0;
}

// EPERM when the rename over `leaf` will be refused whatever the job: in a
// sticky folder (/tmp, a shared folder) only the folder's owner, the file's
// owner or a privileged process may replace a file. 0 otherwise.
int replace_refused(int folder, const char* leaf) {
  struct stat dir, st;
  if (fstat(folder, &dir) != 0 || (dir.st_mode & S_ISVTX) == 0 ||
      fstatat(folder, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return 0;
  uid_t me = geteuid();
  return st.st_uid == me || dir.st_uid == me || may_replace_any_file() ? 0 : EPERM;
}

// The middle of a temporary name: "." and eight hex digits, fresh for each
// attempt. Only O_EXCL and linkat decide that a name is new; this makes a
// clash with another run unlikely, also across machines on a shared folder.
void fresh_middle(char* middle, size_t size, unsigned attempt) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t x = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(now.tv_nsec) ^
               static_cast<uint64_t>(now.tv_sec) * 0x9e3779b97f4a7c15u ^
               static_cast<uint64_t>(attempt) << 56;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdu;
  x ^= x >> 33;
  snprintf(middle, size, ".%08x", static_cast<unsigned>(x));
}

// A temporary name of `leaf`: the one older versions used (leaf ".part"),
// or a fresh one (leaf ".", eight hex digits, ".part").
bool is_temp_name(const char* entry, const char* leaf) {
  size_t n = strlen(leaf);
  if (strncmp(entry, leaf, n) != 0)
    return false;
  entry += n;
  if (strcmp(entry, OUTPUT_TEMP_SUFFIX) == 0)
    return true;
  if (*entry++ != '.')
    return false;
  for (int i = 0; i < 8; ++i, ++entry)
    if (!((*entry >= '0' && *entry <= '9') || (*entry >= 'a' && *entry <= 'f')))
      return false;
  return strcmp(entry, OUTPUT_TEMP_SUFFIX) == 0;
}

// Removes what runs that were killed, or older versions, left under a
// temporary name: only while the folder's lock is held, since no other run
// then writes here. A name is removed, never opened: a link to a file
// elsewhere leaves that file as it is. What cannot be removed (another
// user's, in a sticky folder) is left, and no run ever uses its name again.
void remove_leftovers(int folder, const char* leaf) {
  int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = fd >= 0 ? fdopendir(fd) : nullptr;
  if (entries == nullptr) {
    if (fd >= 0)
      close(fd);
    return;
  }
  while (const dirent* entry = readdir(entries)) {
    if (is_temp_name(entry->d_name, leaf))
      unlinkat(folder, entry->d_name, 0);
  }
  closedir(entries);
}

// Attempts at a fresh name before giving up: each lost one means a clash.
constexpr unsigned NAME_ATTEMPTS = 8;

// The unnamed file, or -1 with errno. It is given its name through
// /proc/self/fd at the end (linking by the descriptor itself needs a
// privilege), so it is not made where /proc is missing.
int open_unnamed(int folder) {
  int fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0)
    return -1;
  char link[32];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  if (access(link, F_OK) != 0) {
    close(fd);
    errno = EOPNOTSUPP;
    return -1;
  }
  return fd;
}

// The answers of an O_TMPFILE open from a file system or a system that
// cannot make such a file.
bool no_unnamed_files(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == ENOENT || error == EINVAL;
}

// A new file of a fresh name, never one that stood before: O_EXCL fails on
// any name that exists, a link or a leftover included. -1 with errno.
// O_APPEND: should another program cut the file, the lines go on at its new
// end and the flush finds the size wrong, where a write at the old offset
// would fill the cut with zero bytes (vfat has no holes to find).
int open_named(OutputFile* file, int folder) {
  for (unsigned attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
    char middle[16];
    fresh_middle(middle, sizeof middle, attempt);
    set_temp_path(file, middle);
    int fd = openat(folder, temp_leaf(file),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0)
      return fd;
    if (errno != EEXIST)
      break;
  }
  int error = errno;
  file->temp_path[0] = '\0';
  errno = error;
  return -1;
}

// Gives the unnamed file a fresh name beside the job's. 0, or an errno.
int link_unnamed(OutputFile* file) {
  char link[32];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd_of(file));
  int error = EEXIST;
  for (unsigned attempt = 0; attempt < NAME_ATTEMPTS && error == EEXIST; ++attempt) {
    char middle[16];
    fresh_middle(middle, sizeof middle, attempt);
    set_temp_path(file, middle);
    error = linkat(AT_FDCWD, link, folder_of(file), temp_leaf(file), AT_SYMLINK_FOLLOW) == 0
                ? 0
                : errno;
  }
  if (error != 0)
    file->temp_path[0] = '\0';
  return error;
}

// A rename is a change of the folder: it survives a power loss only once
// the folder itself is on stable storage. 0, or the errno of a failed sync.
// A folder that cannot be opened for reading (write and search rights
// only) cannot be synced by its users at all, and some file systems do not
// sync folders (EINVAL): then the rename is as durable as the system makes
// it.
int sync_folder(int folder) {
  return fsync(folder) == 0 || errno == EINVAL || errno == EBADF ? 0 : errno;
}

void close_all(OutputFile* file) {
  if (file->handle >= 0)
    close(fd_of(file));
  if (file->folder >= 0)
    close(folder_of(file));  // and with it the lock
  file->handle = -1;
  file->folder = -1;
}

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

// Whether the file, written from its start to its end, has a hole: a cut by
// another program that the lines then went on past. Where the file system
// cannot tell, it has none.
bool has_hole(OutputFile* file) {
  off_t hole = lseek(fd_of(file), 0, SEEK_HOLE);
  if (hole < 0 || static_cast<uint64_t>(hole) >= file->size)
    return false;
  file->tampered = true;
  return true;
}

void unmap_window(OutputFile* file) {
  if (file->window == nullptr)
    return;
  munmap(file->window, OUTPUT_WINDOW_BYTES);
  file->window = nullptr;
}

// Allocates the file up to at least `end`: a whole step ahead when there
// is room, else smaller ones, down to `end` itself, so that the disk is
// used up to the last line that fits. 0, or the errno of the failure (EIO
// with `tampered` when the file is not as this run left it: the allocation
// would fill a cut with zeros).
int allocate(OutputFile* file, uint64_t end) {
  if (!size_is(file, file->allocated))
    return EIO;
  for (;;) {
    uint64_t target = file->allocated + file->step;
    if (target < end)
      target = end;
    if (fallocate(fd_of(file), 0, static_cast<off_t>(file->allocated),
                  static_cast<off_t>(target - file->allocated)) == 0) {
      file->allocated = target;
      if (file->step < OUTPUT_WINDOW_BYTES)
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
  int fd = fd_of(file);
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
      if (ftruncate(fd_of(file), static_cast<off_t>(file->size)) == 0)
        file->allocated = file->size;
      return -1;
    }
  }
  // Copied across as many window edges as the line crosses.
  uint64_t at = file->size;
  while (at < end) {
    if (file->window == nullptr || at >= file->window_start + OUTPUT_WINDOW_BYTES) {
      unmap_window(file);
      uint64_t start = at - at % OUTPUT_WINDOW_BYTES;
      void* window = mmap(nullptr, OUTPUT_WINDOW_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED,
                          fd_of(file), static_cast<off_t>(start));
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
    uint64_t room = file->window_start + OUTPUT_WINDOW_BYTES - at;
    size_t n = end - at < room ? static_cast<size_t>(end - at) : static_cast<size_t>(room);
    memcpy(file->window + (at - file->window_start), data + (at - file->size), n);
    at += n;
  }
  file->size = end;
  return 1;
}

}  // namespace

int output_file_check(OutputFile* file, const char* dir, const char* name) {
  start_call(file);
  if (!set_path(file, dir, name, '/'))
    return failed(file, ENAMETOOLONG);
  char folder_path[OUTPUT_PATH_SIZE];
  folder_name(file->path, folder_path, sizeof folder_path);
  // The folder's rights as the system grants them to this user.
  if (access(folder_path, W_OK | X_OK) != 0)
    return failed(file, errno);
  if (is_folder(file->path))
    return failed(file, EISDIR);
  int folder = open(folder_path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0)
    return failed(file, errno);
  int refused = replace_refused(folder, file->path + leaf_start(file->path));
  close(folder);
  return refused == 0 ? 1 : failed(file, refused);
}

int output_file_create(OutputFile* file, const char* dir, const char* name) {
  start_call(file);
  file->replaced = false;
  file->size = 0;
  file->temp_path[0] = '\0';
  if (!set_path(file, dir, name, '/'))
    return failed(file, ENAMETOOLONG);
  // The name is only ever replaced, by the rename at the end, and a folder
  // cannot be: refused now rather than after the whole job. Whatever else
  // has the name (a link, a pipe, a device) is never opened.
  if (is_folder(file->path))
    return failed(file, EISDIR);
  file->temp_leaf = leaf_start(file->path);
  const char* leaf = file->path + file->temp_leaf;
  char folder_path[OUTPUT_PATH_SIZE];
  folder_name(file->path, folder_path, sizeof folder_path);
  int folder = open_folder(folder_path);
  if (folder < 0)
    return failed(file, errno);
  // Where the folder cannot be locked (not opened for reading; NFS, which
  // locks only what is open for writing), runs are not kept apart, and
  // need not be: each writes a file of its own and renames it whole.
  bool locked = flock(folder, LOCK_EX | LOCK_NB) == 0;
  if (!locked && errno == EWOULDBLOCK) {
    close(folder);
    file->in_use = true;
    return -1;
  }
  if (int refused = replace_refused(folder, leaf)) {
    close(folder);
    return failed(file, refused);
  }
  if (locked)
    remove_leftovers(folder, leaf);
  int fd = open_unnamed(folder);
  if (fd < 0 && no_unnamed_files(errno))
    fd = open_named(file, folder);
  if (fd < 0) {
    int error = errno;
    close(folder);
    return failed(file, error);
  }
  file->handle = fd;
  file->folder = folder;
  file->mapped = !file->write_per_line && file->temp_path[0] == '\0' && allocation_reserves(fd);
  file->window = nullptr;
  file->window_start = 0;
  file->allocated = 0;
  file->step = OUTPUT_WINDOW_BYTES;
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
  int fd = fd_of(file);
  size_t done = write_all(fd, data, length);
  if (done < length) {
    file->error = errno;
    if (done > 0) {
      int ignored = ftruncate(fd, static_cast<off_t>(file->size));
      (void)ignored;
    }
    return -1;
  }
  file->size += length;
  return 1;
}

int output_file_flush(OutputFile* file) {
  start_call(file);
  // Cut to its lines only as long as nobody else has cut it: the cut would
  // fill the gap with zeros.
  if (file->mapped && !size_is(file, file->allocated))
    return -1;
  if (file->mapped) {
    int error = end_mapping(file);
    if (error != 0)
      return failed(file, error);
  }
  if (fsync(fd_of(file)) != 0)
    return failed(file, errno);
  return size_is(file, file->size) && !has_hole(file) ? 1 : -1;
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
  if (file->temp_path[0] == '\0') {
    int error = link_unnamed(file);
    if (error != 0)
      return failed(file, error);
  }
  // The temporary name may have been removed, or given to another file,
  // since this run made it: only this run's own file takes the job's name.
  struct stat held, named;
  if (fstat(fd_of(file), &held) != 0)
    return failed(file, errno);
  bool gone = fstatat(folder_of(file), temp_leaf(file), &named, AT_SYMLINK_NOFOLLOW) != 0;
  if (gone && errno != ENOENT)
    return failed(file, errno);
  if (gone || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
    file->temp_path[0] = '\0';  // whatever has the name now is not this run's to remove
    file->tampered = true;
    return -1;
  }
  if (renameat(folder_of(file), temp_leaf(file), folder_of(file), file->path + file->temp_leaf) !=
      0)
    return failed(file, errno);
  file->replaced = true;
  file->temp_path[0] = '\0';
  int error = sync_folder(folder_of(file));
  close_all(file);
  return error == 0 ? 1 : failed(file, error);
}

void output_file_discard(OutputFile* file) {
  unmap_window(file);
  file->mapped = false;
  // Removed while the folder is still held: once it is let go, the name may
  // be another run's.
  if (file->temp_path[0] != '\0' && !file->replaced && file->folder >= 0)
    unlinkat(folder_of(file), temp_leaf(file), 0);
  file->temp_path[0] = '\0';
  close_all(file);
}

void output_file_abandon(const OutputFile* file) {
  if (file->temp_path[0] != '\0' && !file->replaced && file->folder >= 0)
    unlinkat(folder_of(file), temp_leaf(file), 0);
}
