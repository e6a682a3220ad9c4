#ifndef VISOR_PLATFORM_TEST_CONSOLE_H_
#define VISOR_PLATFORM_TEST_CONSOLE_H_

// A console in memory, for tests: keys come from a script, the screen is a
// buffer of cells to look at, and sleeps are recorded instead of happening.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

struct MemoryCell {
  char ch;
  ConsoleStyle style;
  bool frame;  // a cell of the frame
};

struct MemoryConsole {
  // As a device reports keys: with their releases (the Windows console) or
  // presses only (a terminal). Set before open.
  bool releases = true;
  // What was drawn stays after close, as on a console without an
  // alternate screen.
  bool screen_stays = false;

  // What is yet to arrive, one event per read, as a person's keys arrive
  // one by one; at the end of the script the input has ended. An event
  // arrives when it is read, after any flush before; only one that came
  // `with_previous` (a key's release) has arrived as soon as the event
  // before it was read, and a flush then drops it.
  struct Scripted {
    KeyEvent event;
    bool with_previous;
  };
  std::vector<Scripted> script;
  size_t next = 0;

  MemoryCell cells[CONSOLE_ROWS][CONSOLE_COLUMNS] = {};
  unsigned slept_ms = 0;
  // The whole screen as text (rows joined by "\n") at the start of each
  // sleep, so a test sees what stood there while the program waited.
  std::vector<std::string> screens_at_sleep;
  // The same at each show, for what stood on the screen only for a while.
  std::vector<std::string> screens_at_show;
  int shows = 0;
  bool changed = false;  // drawn since the last show
  int discards = 0;      // flushes that reached the device
  bool closed = false;
  const char* notice = nullptr;  // the last console_set_notice
};

// Opens `con` on `mem`, blank. A console_open of `con` afterwards finds it
// open (so that code that opens its own console gets this one); without it,
// console_open answers CONSOLE_NOT_A_TERMINAL.
void open_memory_console(Console* con, MemoryConsole* mem);
MemoryConsole* memory_of(const Console* con);

// Script helpers.
// One event: a press or a release of a key, as given.
void memory_add(MemoryConsole* mem, uint16_t key, bool pressed);
// A key pressed, followed by its release where the console reports them.
void memory_press(MemoryConsole* mem, uint16_t key);
// Each character typed, as a terminal sends it ("\n" is Enter), each
// followed by its release where the console reports them.
void memory_type(MemoryConsole* mem, const char* text);

// `length` characters from (col, row).
std::string console_text(const Console* con, int col, int row, int length);
// A whole row without its trailing blanks.
std::string console_row(const Console* con, int row);
// Every row, numbered, for failure messages.
std::string console_dump(const Console* con);

#endif  // VISOR_PLATFORM_TEST_CONSOLE_H_
