#ifndef VISOR_PLATFORM_TEST_CONSOLE_H_
#define VISOR_PLATFORM_TEST_CONSOLE_H_

// A console for tests: keys come from a script, the screen is the cell
// buffer itself, and sleeps are recorded instead of happening.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

struct MemoryConsole {
  // As a device reports keys: with their releases (the Windows console) or
  // presses only (a terminal). Set before open.
  bool releases = true;
  // What was drawn stays after close, as on a console without an
  // alternate screen. Set before open.
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

  unsigned slept_ms = 0;
  // The whole screen as text (rows joined by "\n") at the start of each
  // sleep, so a test sees what stood there while the program waited.
  std::vector<std::string> screens_at_sleep;
  // The same at each show, for what stood on the screen only for a while.
  std::vector<std::string> screens_at_show;
  int shows = 0;
  int discards = 0;  // flushes that reached the device
  bool closed = false;
};

void open_memory_console(Console* con, MemoryConsole* mem);

// Script helpers.
// One event: a press or a release, as given.
void memory_add(MemoryConsole* mem, uint16_t vk, bool down);
// A key pressed, followed by its release where the console reports them.
void memory_press(MemoryConsole* mem, uint16_t vk);
// memory_press for each character's key, by virtual_key_for_char ("\n" is
// Enter).
void memory_type(MemoryConsole* mem, const char* text);

// `length` characters from (col, row).
std::string console_text(const Console* con, int col, int row, int length);
// A whole row without its trailing blanks.
std::string console_row(const Console* con, int row);
// Every row, numbered, for failure messages.
std::string console_dump(const Console* con);

#endif  // VISOR_PLATFORM_TEST_CONSOLE_H_
