#include "busy_load.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

// Read by the signal handler: the ids are stored before the count grows.
struct BusyProcesses {
  pid_t pids[BUSY_MAX];
  volatile sig_atomic_t count;
};

BusyProcesses busy;

[[noreturn]] void spin_for_ever() {
  volatile unsigned long n = 0;
  for (;;)
    n = n + 1;
}

// Only kill(2), which is safe in a signal handler: the children's own
// pids, never a name or a group.
void kill_all() {
  for (int i = 0; i < busy.count; ++i)
    kill(busy.pids[i], SIGKILL);
}

void on_signal(int sig) {
  kill_all();
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void busy_install_cleanup() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    signal(sig, on_signal);
  atexit(busy_stop);
}

bool busy_start(int count, BusySession session) {
  pid_t parent = getpid();
  for (int i = 0; i < count; ++i) {
    if (busy.count >= BUSY_MAX) {
      busy_stop();
      return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
      perror("job_bench: fork");
      busy_stop();
      return false;
    }
    if (pid == 0) {
      // Ends with the benchmark even if that is killed outright.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent)
        _exit(0);
      for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        signal(sig, SIG_DFL);
      if (session == OWN_SESSION)
        setsid();
      spin_for_ever();
    }
    busy.pids[busy.count] = pid;
    busy.count = busy.count + 1;
  }
  return true;
}

void busy_stop() {
  int n = busy.count;
  kill_all();
  // Forgotten before they are reaped: once reaped, an id may be reused.
  busy.count = 0;
  for (int i = 0; i < n; ++i) {
    int status = 0;
    waitpid(busy.pids[i], &status, 0);
  }
}
