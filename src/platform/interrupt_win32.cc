#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace {

std::atomic<void (*)()> g_restore{nullptr};
std::atomic<const char*> g_message{nullptr};

// Runs on a thread of its own that the system starts for the event; the
// exit status follows the POSIX build: 128 + SIGINT, SIGTERM or SIGHUP.
BOOL WINAPI on_control(DWORD event) {
  int sig;
  switch (event) {
    case CTRL_C_EVENT: sig = 2; break;
    case CTRL_BREAK_EVENT: sig = 15; break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: sig = 1; break;
    default: return FALSE;
  }
  if (void (*restore)() = g_restore.load())
    restore();
  if (const char* line = g_message.load()) {
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    WriteFile(out, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    WriteFile(out, "\n", 1, &written, nullptr);
  }
  ExitProcess(128 + sig);
}

}  // namespace

void interrupt_install() { SetConsoleCtrlHandler(on_control, TRUE); }

void interrupt_set_restore(void (*restore)()) { g_restore.store(restore); }

void interrupt_set_message(const char* line) { g_message.store(line); }

// Console control events arrive on a thread of their own, not as signals.
void interrupt_hold() {}
void interrupt_release() {}
