#include "platform/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/output_file.h"
#include "platform/write_all.h"

namespace {

// The signals whose default action ends the process (signal(7)), but
// SIGKILL and SIGSTOP, which cannot be caught, SIGPIPE and SIGXFSZ, which
// are ignored so that the write fails instead, and the real-time ones,
// added apart. Those the system sends for a fault of the running thread
// (a crash; abort) are kept apart: they cannot wait.
const int REQUESTS[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM,
    SIGTERM,   SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,  // SIGPOLL too
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};
const int FAULTS[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};

// The signals that may wait: requests, and the real-time signals (those
// below SIGRTMIN are the thread library's own).
void add_requests(sigset_t* set) {
  for (int sig : REQUESTS)
    sigaddset(set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
    sigaddset(set, sig);
}

std::atomic<void (*)()> g_restore{nullptr};
sigset_t g_held_mask;
std::atomic<const char*> g_message{nullptr};
std::atomic<const OutputFile*> g_removal{nullptr};

// The texts the handler prints, copied in advance: each is written only
// while its flag is false, or while the handler cannot run on this thread
// (held), so that it never reads half a text.
char g_write_failed[512];
std::atomic<bool> g_write_failed_set{false};
std::atomic<bool> g_done{false};
char g_done_text[2048];
std::atomic<bool> g_done_text_set{false};

void write_line(const char* line) {
  write_all(STDERR_FILENO, line, strlen(line));
  write_all(STDERR_FILENO, "\n", 1);
}

// A fault in the output file's mapping: the system could not give a page
// of it (a disk error; another program cut the file).
bool in_mapping(int sig, const siginfo_t* info, const OutputFile* file) {
  return sig == SIGBUS && file != nullptr && info != nullptr && info->si_code > 0 &&
         g_write_failed_set.load() && output_file_maps(file, info->si_addr);
}

// Ends the process: `line` and `status`, or the result once the job is in
// place (a fault inside the commit finds it there by the file itself).
[[noreturn]] void end(const char* line, int status, bool write_failed) {
  const OutputFile* file = g_removal.load();
  bool done =
      g_done.load() || (file != nullptr && g_done_text_set.load() && output_file_installed(file));
  if (file != nullptr && !done)
    output_file_abandon(file);
  if (void (*restore)() = g_restore.load())
    restore();
  if (done) {
    if (g_done_text_set.load())
      write_all(STDOUT_FILENO, g_done_text, strlen(g_done_text));
    _exit(0);
  }
  if (write_failed)
    line = g_write_failed;
  if (line != nullptr)
    write_line(line);
  _exit(write_failed ? 1 : status);
}

extern "C" void on_signal(int sig, siginfo_t* info, void*) {
  end(g_message.load(), 128 + sig, in_mapping(sig, info, g_removal.load()));
}

// Copies `text` into `buffer` for the handler, `set` false meanwhile; a
// text that does not fit is left out.
void copy_for_handler(char* buffer, size_t size, std::atomic<bool>* set, const char* text) {
  set->store(false);
  if (text == nullptr || strlen(text) >= size)
    return;
  strcpy(buffer, text);
  set->store(true);
}

}  // namespace

void interrupt_install() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = on_signal;
  sa.sa_flags = SA_SIGINFO;
  // One handler at a time: a second signal waits until the first has ended
  // the process.
  sigemptyset(&sa.sa_mask);
  add_requests(&sa.sa_mask);
  for (int sig : FAULTS)
    sigaddset(&sa.sa_mask, sig);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&sa.sa_mask, sig) == 1)
      sigaction(sig, &sa, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

void interrupt_set_restore(void (*restore)()) { g_restore.store(restore); }

void interrupt_set_message(const char* line) { g_message.store(line); }

void interrupt_set_removal(const OutputFile* file, const char* write_failed) {
  g_removal.store(nullptr);
  copy_for_handler(g_write_failed, sizeof g_write_failed, &g_write_failed_set, write_failed);
  g_removal.store(file);
}

void interrupt_set_result(const char* text) {
  copy_for_handler(g_done_text, sizeof g_done_text, &g_done_text_set, text);
}

void interrupt_set_done() { g_done.store(true); }

void interrupt_end(const char* line, int status) {
  // Requests wait, so that no handler runs over this; the thread's own
  // faults cannot.
  interrupt_hold();
  end(line, status, false);
}

void interrupt_hold() {
  sigset_t requests;
  sigemptyset(&requests);
  add_requests(&requests);
  pthread_sigmask(SIG_BLOCK, &requests, &g_held_mask);
}

void interrupt_release() { pthread_sigmask(SIG_SETMASK, &g_held_mask, nullptr); }
