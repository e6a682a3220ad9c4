#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "platform/output_file.h"

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

const OutputFile* g_removal = nullptr;  // under the gate
// The job is in place: a control event ends the process with status 0,
// after this text on standard output (copied; under the gate).
bool g_done = false;
char g_done_text[2048];

void write_text(DWORD stream, const char* text, const char* end) {
  HANDLE out = GetStdHandle(stream);
  DWORD written = 0;
  WriteFile(out, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
  WriteFile(out, end, static_cast<DWORD>(strlen(end)), &written, nullptr);
}

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
  interrupt_end(g_message.load(), 128 + sig);
}

}  // namespace

void interrupt_install() { SetConsoleCtrlHandler(on_control, TRUE); }

void interrupt_set_restore(void (*restore)()) { g_restore.store(restore); }

void interrupt_set_message(const char* line) { g_message.store(line); }

// Nothing is mapped here: a failed write is always the call's own answer.
void interrupt_set_removal(const OutputFile* file, const char*) {
  EnterCriticalSection(&g_gate.section);
  g_removal = file;
  LeaveCriticalSection(&g_gate.section);
}

void interrupt_set_result(const char* text) {
  EnterCriticalSection(&g_gate.section);
  g_done_text[0] = '\0';
  if (text != nullptr && strlen(text) < sizeof g_done_text)
    strcpy(g_done_text, text);
  LeaveCriticalSection(&g_gate.section);
}

void interrupt_set_done() {
  EnterCriticalSection(&g_gate.section);
  g_done = true;
  LeaveCriticalSection(&g_gate.section);
}

// Never left: the process ends inside. The main thread may still be
// writing through the file's handle: the file is marked for deletion
// through it, and goes when the process has ended.
void interrupt_end(const char* line, int status) {
  EnterCriticalSection(&g_gate.section);
  if (g_removal != nullptr && !g_done)
    output_file_abandon(g_removal);
  if (void (*restore)() = g_restore.load())
    restore();
  if (g_done) {
    write_text(STD_OUTPUT_HANDLE, g_done_text, "");
    ExitProcess(0);
  }
  if (line != nullptr)
    write_text(STD_ERROR_HANDLE, line, "\n");
  ExitProcess(static_cast<UINT>(status));
}

// Console control events arrive on a thread of their own, not as signals:
// no thread needs to be kept from them, and the gate makes the handler wait.
void interrupt_hold() { EnterCriticalSection(&g_gate.section); }
void interrupt_release() { LeaveCriticalSection(&g_gate.section); }
