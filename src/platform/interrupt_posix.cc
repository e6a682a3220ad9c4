#include "platform/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/write_all.h"

namespace {

// Ctrl-C and Ctrl-\ from the terminal, termination requests, hang-ups.
const int INTERRUPTS[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

std::atomic<void (*)()> g_restore{nullptr};
sigset_t g_held_mask;
std::atomic<const char*> g_message{nullptr};
// The file to remove: written only while g_removal_set is false, and the
// handler runs on the thread that writes it, so it never sees half a path.
char g_removal[4096];
std::atomic<bool> g_removal_set{false};

extern "C" void on_interrupt(int sig) {
  if (g_removal_set.load())
    unlink(g_removal);
  if (void (*restore)() = g_restore.load())
    restore();
  if (const char* line = g_message.load()) {
    write_all(STDERR_FILENO, line, strlen(line));
    write_all(STDERR_FILENO, "\n", 1);
  }
  _exit(128 + sig);
}

}  // namespace

void interrupt_install() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  // One handler at a time: a second signal waits until the first has ended
  // the process.
  for (int sig : INTERRUPTS)
    sigaddset(&sa.sa_mask, sig);
  for (int sig : INTERRUPTS)
    sigaction(sig, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void interrupt_set_restore(void (*restore)()) { g_restore.store(restore); }

void interrupt_set_message(const char* line) { g_message.store(line); }

void interrupt_set_removal(const char* path) {
  g_removal_set.store(false);
  if (path == nullptr || strlen(path) >= sizeof g_removal)
    return;
  strcpy(g_removal, path);
  g_removal_set.store(true);
}

void interrupt_hold() {
  sigset_t interrupts;
  sigemptyset(&interrupts);
  for (int sig : INTERRUPTS)
    sigaddset(&interrupts, sig);
  pthread_sigmask(SIG_BLOCK, &interrupts, &g_held_mask);
}

void interrupt_release() { pthread_sigmask(SIG_SETMASK, &g_held_mask, nullptr); }
