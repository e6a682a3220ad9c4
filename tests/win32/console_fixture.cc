#include "console_fixture.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char IN_CONSOLE_VARIABLE[] = "VISOR_TEST_IN_OWN_CONSOLE";

HANDLE inheritable_copy(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE)
    return nullptr;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

HANDLE open_console_file(const char* name, bool inheritable) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, inheritable ? TRUE : FALSE};
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     OPEN_EXISTING, 0, nullptr);
}

INPUT_RECORD key_record(uint16_t vk, char ch, bool down) {
  INPUT_RECORD r = {};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  r.Event.KeyEvent.wRepeatCount = 1;
  r.Event.KeyEvent.wVirtualKeyCode = vk;
  r.Event.KeyEvent.uChar.AsciiChar = ch;
  return r;
}

}  // namespace

int run_in_console_without_window() {
  if (getenv(IN_CONSOLE_VARIABLE) != nullptr)
    return -1;
  SetEnvironmentVariableA(IN_CONSOLE_VARIABLE, "1");

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inheritable_copy(GetStdHandle(STD_INPUT_HANDLE));
  si.hStdOutput = inheritable_copy(GetStdHandle(STD_OUTPUT_HANDLE));
  si.hStdError = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
  PROCESS_INFORMATION pi = {};
  char* command = _strdup(GetCommandLineA());
  BOOL started = CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                nullptr, &si, &pi);
  free(command);
  if (!started)
    return 1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(pi.hProcess, &status);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(status);
}

bool open_test_console(TestConsole* tc, bool inheritable) {
  tc->in = open_console_file("CONIN$", inheritable);
  tc->out = open_console_file("CONOUT$", inheritable);
  return tc->in != INVALID_HANDLE_VALUE && tc->out != INVALID_HANDLE_VALUE;
}

void close_test_console(TestConsole* tc) {
  if (tc->in != INVALID_HANDLE_VALUE)
    CloseHandle(tc->in);
  if (tc->out != INVALID_HANDLE_VALUE)
    CloseHandle(tc->out);
  tc->in = INVALID_HANDLE_VALUE;
  tc->out = INVALID_HANDLE_VALUE;
}

std::string screen_text(const TestConsole& tc, int col, int row, int length) {
  std::string text(static_cast<size_t>(length), '\0');
  DWORD got = 0;
  COORD at = {static_cast<SHORT>(col), static_cast<SHORT>(row)};
  ReadConsoleOutputCharacterA(tc.out, &text[0], static_cast<DWORD>(length), at, &got);
  text.resize(got);
  return text;
}

uint16_t screen_attr(const TestConsole& tc, int col, int row) {
  WORD attr = 0;
  DWORD got = 0;
  COORD at = {static_cast<SHORT>(col), static_cast<SHORT>(row)};
  ReadConsoleOutputAttribute(tc.out, &attr, 1, at, &got);
  return got == 1 ? attr : 0xFFFF;
}

void screen_put(const TestConsole& tc, int col, int row, const std::string& text) {
  DWORD done = 0;
  COORD at = {static_cast<SHORT>(col), static_cast<SHORT>(row)};
  WriteConsoleOutputCharacterA(tc.out, text.data(), static_cast<DWORD>(text.size()), at, &done);
  FillConsoleOutputAttribute(tc.out, 7, static_cast<DWORD>(text.size()), at, &done);
}

void press_key(const TestConsole& tc, uint16_t vk, char ch) {
  INPUT_RECORD records[2] = {key_record(vk, ch, true), key_record(vk, ch, false)};
  DWORD done = 0;
  WriteConsoleInputA(tc.in, records, 2, &done);
}

void type_text(const TestConsole& tc, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    char c = *p;
    if (c >= '0' && c <= '9')
      press_key(tc, static_cast<uint16_t>(c), c);
    else if (c == '-')
      press_key(tc, VK_OEM_MINUS, c);
    else if (c == '.')
      press_key(tc, VK_OEM_PERIOD, c);
    else if (c == '\n')
      press_key(tc, VK_RETURN, '\r');
  }
}

void put_mouse_event(const TestConsole& tc) {
  INPUT_RECORD r = {};
  r.EventType = MOUSE_EVENT;
  r.Event.MouseEvent.dwMousePosition = {10, 10};
  r.Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
  DWORD done = 0;
  WriteConsoleInputA(tc.in, &r, 1, &done);
}

bool wait_until(const std::function<bool()>& done, unsigned timeout_ms) {
  ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    if (done())
      return true;
    if (GetTickCount64() >= deadline)
      return done();
    Sleep(20);
  }
}

bool wait_for_screen_text(const TestConsole& tc, int col, int row, const std::string& text,
                          unsigned timeout_ms) {
  return wait_until(
      [&] { return screen_text(tc, col, row, static_cast<int>(text.size())) == text; }, timeout_ms);
}
