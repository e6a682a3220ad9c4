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

#include <cstdlib>
#include <cstring>

#include "channel/line_channel.h"
#include "platform/thread.h"

namespace {

bool fault_is(const char* name) {
  const char* fault = getenv("VISOR_FAULT");
  return fault != nullptr && strcmp(fault, name) == 0;
}

// N of VISOR_FAULT=<prefix>N, or -1.
long fault_count(const char* prefix) {
  const char* fault = getenv("VISOR_FAULT");
  size_t length = strlen(prefix);
  if (fault == nullptr || strncmp(fault, prefix, length) != 0)
    return -1;
  return strtol(fault + length, nullptr, 10);
}

long g_sent = 0;  // the generator thread's own count

}  // namespace

extern "C" {

int __real__ZN7channel6listenEP11LineChannel(LineChannel* ch);
int __real__ZN7channel7connectEP11LineChannel(LineChannel* ch);
int __real__ZN7channel9send_lineEP11LineChannelPKcm(LineChannel* ch, const char* text,
                                                    size_t length);
int __real__Z12start_threadP6ThreadPFiPvES1_(Thread* thread, int (*entry)(void*), void* arg);

int __wrap__ZN7channel6listenEP11LineChannel(LineChannel* ch) {
  return fault_is("listen") ? -1 : __real__ZN7channel6listenEP11LineChannel(ch);
}

int __wrap__ZN7channel7connectEP11LineChannel(LineChannel* ch) {
  return fault_is("connect") ? -1 : __real__ZN7channel7connectEP11LineChannel(ch);
}

int __wrap__Z12start_threadP6ThreadPFiPvES1_(Thread* thread, int (*entry)(void*), void* arg) {
  return fault_is("thread") ? -1 : __real__Z12start_threadP6ThreadPFiPvES1_(thread, entry, arg);
}

// The generator goes away as a crashed or killed one would: its end closes
// and nothing more arrives.
int __wrap__ZN7channel9send_lineEP11LineChannelPKcm(LineChannel* ch, const char* text,
                                                    size_t length) {
  long end = fault_count("end-after=");
  if (end >= 0 && g_sent >= end) {
    // The end marker in place of line N + 1; the generator then stops at
    // that refused line.
    if (g_sent++ == end)
      __real__ZN7channel9send_lineEP11LineChannelPKcm(ch, END_MARKER, END_MARKER_LENGTH);
    return -1;
  }
  long limit = fault_count("stop-after=");
  if (limit >= 0 && g_sent >= limit) {
    if (g_sent++ == limit)
      channel::close(ch);
    return -1;
  }
  ++g_sent;
  return __real__ZN7channel9send_lineEP11LineChannelPKcm(ch, text, length);
}

}  // extern "C"
