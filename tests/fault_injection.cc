// Linked only into visor-gcode-faults, a test build of the program: makes
// one of the services it depends on fail, as named by VISOR_FAULT, so that
// tests can watch the real program handle failures that a healthy machine
// never produces. The link wraps the named functions (-Wl,--wrap).
//
//   VISOR_FAULT=listen        the channel cannot be created
//   VISOR_FAULT=connect       the generator cannot open the channel
//   VISOR_FAULT=thread        no thread can be started
//   VISOR_FAULT=stop-after=N  the generator stops after N lines, before
//                             the end marker
//   VISOR_FAULT=end-after=N   the end marker comes after N lines: a short
//                             job that is complete as far as the program
//                             can tell
//   VISOR_FAULT=no-tmpfile    the file system cannot make files of no name
//                             (O_TMPFILE), as vfat cannot
//   VISOR_FAULT=signal-after-rename=N
//                             the signal N arrives the moment the rename has
//                             put the job in place, before the program knows
//
// Several faults are joined with commas: no-tmpfile,end-after=1000.

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "channel/line_channel.h"
#include "platform/thread.h"
#include "test_support.h"

namespace {

// The fault of VISOR_FAULT that begins with `prefix`, just after the
// prefix, or null.
const char* find_fault(const char* prefix) {
  const char* fault = getenv("VISOR_FAULT");
  size_t length = strlen(prefix);
  for (const char* at = fault; at != nullptr && *at != '\0';) {
    if (strncmp(at, prefix, length) == 0)
      return at + length;
    at = strchr(at, ',');
    if (at != nullptr)
      ++at;
  }
  return nullptr;
}

bool fault_is(const char* name) {
  const char* rest = find_fault(name);
  return rest != nullptr && (*rest == '\0' || *rest == ',');
}

// N of VISOR_FAULT=<prefix>N, or -1.
long fault_count(const char* prefix) {
  const char* rest = find_fault(prefix);
  return rest != nullptr ? strtol(rest, nullptr, 10) : -1;
}

long g_sent = 0;  // the generator thread's own count

// Before main: every open of a file of no name fails as on vfat; a test
// build that cannot inject the fault says so rather than run without it.
[[maybe_unused]] const bool g_no_tmpfile = [] {
  if (!fault_is("no-tmpfile"))
    return false;
  if (!refuse_system_call(SYS_openat, EOPNOTSUPP, 2, O_TMPFILE & ~O_DIRECTORY)) {
    fputs("visor-gcode-faults: cannot refuse O_TMPFILE\n", stderr);
    abort();
  }
  return true;
}();

}  // namespace

extern "C" {

int __real__ZN7channel6listenEP11LineChannel(LineChannel* ch);
int __real__ZN7channel7connectEP11LineChannel(LineChannel* ch);
int __real__ZN7channel9post_lineEP11LineChannelPKcm(LineChannel* ch, const char* text,
                                                    size_t length);
int __real__Z12start_threadP6ThreadPFiPvES1_(Thread* thread, int (*entry)(void*), void* arg);
int __real_renameat(int from_folder, const char* from, int to_folder, const char* to);

int __wrap_renameat(int from_folder, const char* from, int to_folder, const char* to) {
  int result = __real_renameat(from_folder, from, to_folder, to);
  long sig = fault_count("signal-after-rename=");
  if (result == 0 && sig > 0)
    kill(getpid(), static_cast<int>(sig));  // as another program's kill would
  return result;
}

int __wrap__ZN7channel6listenEP11LineChannel(LineChannel* ch) {
  return fault_is("listen") ? -1 : __real__ZN7channel6listenEP11LineChannel(ch);
}

int __wrap__ZN7channel7connectEP11LineChannel(LineChannel* ch) {
  return fault_is("connect") ? -1 : __real__ZN7channel7connectEP11LineChannel(ch);
}

int __wrap__Z12start_threadP6ThreadPFiPvES1_(Thread* thread, int (*entry)(void*), void* arg) {
  return fault_is("thread") ? -1 : __real__Z12start_threadP6ThreadPFiPvES1_(thread, entry, arg);
}

// Every line the generator sends is posted here. With stop-after, the
// generator goes away as a crashed or killed one would: its end closes and
// nothing more arrives. Either fault strikes only once line N has been
// acknowledged, as it did when each line was waited for as it was sent.
int __wrap__ZN7channel9post_lineEP11LineChannelPKcm(LineChannel* ch, const char* text,
                                                    size_t length) {
  long end = fault_count("end-after=");
  if (end >= 0 && g_sent >= end) {
    // The end marker in place of line N + 1, acknowledged like the real
    // one; the generator then stops at that refused line.
    if (g_sent++ == end &&
        __real__ZN7channel9post_lineEP11LineChannelPKcm(ch, END_MARKER, END_MARKER_LENGTH) == 1)
      channel::wait_acknowledged(ch);
    return -1;
  }
  long limit = fault_count("stop-after=");
  if (limit >= 0 && g_sent >= limit) {
    if (g_sent++ == limit) {
      channel::wait_acknowledged(ch);
      channel::close(ch);
    }
    return -1;
  }
  ++g_sent;
  return __real__ZN7channel9post_lineEP11LineChannelPKcm(ch, text, length);
}

}  // extern "C"
