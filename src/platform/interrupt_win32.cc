#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace {

std::atomic<void (*)()> g_restore{nullptr};
std::atomic<const char*> g_message{nullptr};

// The handler runs on a thread of its own, at any moment: the gate keeps it
// out while the main thread holds interrupts or changes the file to remove.
// A critical section, since the main thread may take it again while holding
// it (the removal is changed inside a hold).
struct Gate {
  CRITICAL_SECTION section;
  Gate() { InitializeCriticalSection(&section); }
};
Gate g_gate;

char g_removal[4096];
bool g_removal_set = false;  // under the gate

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
  // Never left: the process ends inside.
  EnterCriticalSection(&g_gate.section);
  // The main thread may still hold the file open; it shares only deletion,
  // so the name goes now and the file when the process has ended.
  if (g_removal_set)
    DeleteFileA(g_removal);
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

void interrupt_set_removal(const char* path) {
  EnterCriticalSection(&g_gate.section);
  g_removal_set = path != nullptr && strlen(path) < sizeof g_removal;
  if (g_removal_set)
    strcpy(g_removal, path);
  LeaveCriticalSection(&g_gate.section);
}

// Console control events arrive on a thread of their own, not as signals:
// no thread needs to be kept from them, and the gate makes the handler wait.
void interrupt_hold() { EnterCriticalSection(&g_gate.section); }
void interrupt_release() { LeaveCriticalSection(&g_gate.section); }
