#include "piped_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "test_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void close_fd(int* fd) {
  if (*fd >= 0)
    close(*fd);
  *fd = -1;
}

// Appends what is readable; closes the descriptor at end of file.
void drain(int* fd, std::string* to) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(*fd, buf, sizeof buf);
    if (n > 0) {
      to->append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == EAGAIN)
      return;
    close_fd(fd);
    return;
  }
}

}  // namespace

PipedRun run_piped(const std::vector<std::string>& argv, const std::string& input,
                   const std::string& cwd, int timeout_ms) {
  PipedRun run;
  // A program that stops reading must not kill the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0)
    return run;
  if (pipe2(out, O_CLOEXEC) != 0)
    return run;
  if (pipe2(err, O_CLOEXEC) != 0)
    return run;

  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args)
    argp.push_back(a.data());
  argp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0)
    return run;
  if (pid == 0) {
    // No controlling terminal: the program must not find one to draw on.
    setsid();
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    reset_signal_dispositions();
    if (chdir(cwd.c_str()) != 0)
      _exit(126);
    execve(argp[0], argp.data(), environ);
    _exit(127);
  }
  run.started = true;
  close(in[0]);
  close(out[1]);
  close(err[1]);
  int to_child = in[1], from_out = out[0], from_err = err[0];
  fcntl(to_child, F_SETFL, O_NONBLOCK);
  fcntl(from_out, F_SETFL, O_NONBLOCK);
  fcntl(from_err, F_SETFL, O_NONBLOCK);

  size_t written = 0;
  if (input.empty())
    close_fd(&to_child);
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  bool exited = false;
  while (!exited || from_out >= 0 || from_err >= 0) {
    if (Clock::now() >= deadline) {
      run.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p[3] = {{to_child, POLLOUT, 0}, {from_out, POLLIN, 0}, {from_err, POLLIN, 0}};
    poll(p, 3, 20);
    if (to_child >= 0 && p[0].revents) {
      ssize_t n = write(to_child, input.data() + written, input.size() - written);
      if (n > 0)
        written += static_cast<size_t>(n);
      // All written, or the program closed its input: it has what it gets.
      if (written == input.size() || (n < 0 && errno == EPIPE))
        close_fd(&to_child);
    }
    if (from_out >= 0 && p[1].revents)
      drain(&from_out, &run.out);
    if (from_err >= 0 && p[2].revents)
      drain(&from_err, &run.err);
    if (!exited && waitpid(pid, &run.wait_status, WNOHANG) == pid)
      exited = true;
  }
  if (!exited)
    waitpid(pid, &run.wait_status, 0);
  close_fd(&to_child);
  close_fd(&from_out);
  close_fd(&from_err);
  return run;
}

int exit_code(const PipedRun& run) {
  if (!run.started || run.timed_out || !WIFEXITED(run.wait_status))
    return -1;
  return WEXITSTATUS(run.wait_status);
}
