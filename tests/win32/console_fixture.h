#ifndef VISOR_TESTS_WIN32_CONSOLE_FIXTURE_H_
#define VISOR_TESTS_WIN32_CONSOLE_FIXTURE_H_

// For tests of the Windows console layer: a real console without a window
// to run them in, and a way to look at its screen buffer and put key events
// into its input, as a person at the console would.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// main() of a test program that needs a console: starts the program again
// with the same arguments in a new console that has no window, its standard
// output and error still those of the caller (so the test runner reads the
// results), and returns that run's exit status. In that run it returns -1:
// go on with the tests.
int run_in_console_without_window();

// The console's own input and output, whatever the standard handles are.
struct TestConsole {
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;
};
bool open_test_console(TestConsole* tc, bool inheritable);
void close_test_console(TestConsole* tc);

// `length` characters from (col, row) of the screen buffer.
std::string screen_text(const TestConsole& tc, int col, int row, int length);
uint16_t screen_attr(const TestConsole& tc, int col, int row);
// Writes characters straight into the screen buffer, as another program
// would, in attribute 7.
void screen_put(const TestConsole& tc, int col, int row, const std::string& text);

// Key events as the console delivers them for a key: a press and a release.
void press_key(const TestConsole& tc, uint16_t vk, char ch);
// press_key for each character: digits, "-", "." and "\n" (Enter).
void type_text(const TestConsole& tc, const char* text);
// One record of another kind (a mouse move).
void put_mouse_event(const TestConsole& tc);

// Waits until done() holds, looking every few milliseconds; the time-out
// only guards against a hang. Returns done()'s last value.
bool wait_until(const std::function<bool()>& done, unsigned timeout_ms);
// Until `text` stands at (col, row).
bool wait_for_screen_text(const TestConsole& tc, int col, int row, const std::string& text,
                          unsigned timeout_ms);

#endif  // VISOR_TESTS_WIN32_CONSOLE_FIXTURE_H_
