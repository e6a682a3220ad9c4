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

#include <cstdlib>
#include <cstring>

#include "channel/line_channel.h"
#include "platform/thread.h"

namespace {

bool fault_is(const char* name) {
  const char* fault = getenv("VISOR_FAULT");
  return fault != nullptr && strcmp(fault, name) == 0;
}

long stop_after() {
  const char* fault = getenv("VISOR_FAULT");
  const char prefix[] = "stop-after=";
  if (fault == nullptr || strncmp(fault, prefix, sizeof prefix - 1) != 0)
    return -1;
  return strtol(fault + sizeof prefix - 1, nullptr, 10);
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
  long limit = stop_after();
  if (limit >= 0 && g_sent >= limit) {
    if (g_sent++ == limit)
      channel::close(ch);
    return -1;
  }
  ++g_sent;
  return __real__ZN7channel9send_lineEP11LineChannelPKcm(ch, text, length);
}

}  // extern "C"
