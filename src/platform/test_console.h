#ifndef VISOR_PLATFORM_TEST_CONSOLE_H_
#define VISOR_PLATFORM_TEST_CONSOLE_H_

// A console for tests: input comes from a script of records, the screen is
// the cell buffer itself, and sleeps and printed lines are recorded instead
// of happening.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

// One scripted arrival: a record as it stands, or a key press whose
// release the console then owes, as on a terminal.
struct ScriptedInput {
  InputRecord record;
  bool release_follows;
};

struct MemoryConsole {
  // What is yet to arrive, one entry per poll, as a person's keys arrive
  // one by one; at the end of the script the input has ended.
  std::vector<ScriptedInput> script;
  size_t next = 0;

  // What a plain stream reads its lines from; memory_type adds to it too.
  std::string text_input;
  size_t text_next = 0;
  std::vector<std::string> prompts;   // asked for, one per line read
  std::vector<std::string> progress;  // progress lines shown

  std::string printed;  // every line printed on standard output, each ending in "\n"
  std::string errors;   // every line printed on standard error
  std::string title;
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

// `full_screen` false behaves as a plain stream: the front end prints its
// messages as lines then.
void open_memory_console(Console* con, MemoryConsole* mem, bool full_screen);

// Script helpers.
// A single key record: a press or a release, as given.
void memory_add(MemoryConsole* mem, uint16_t vk, bool down, uint16_t repeat = 1);
// An event of another kind (INPUT_MOUSE_EVENT...). Its key fields say
// Backspace, which a reader must not take for a key.
void memory_add_event(MemoryConsole* mem, uint16_t event_type);
// A press followed by its release, the way a terminal delivers a key.
void memory_press(MemoryConsole* mem, uint16_t vk);
// memory_press for each character's key, by virtual_key_for_char ("\n" is
// Enter); the characters also go to the text a plain stream reads.
void memory_type(MemoryConsole* mem, const char* text);

// `length` characters from (col, row).
std::string console_text(const Console* con, int col, int row, int length);
// A whole row without its trailing blanks.
std::string console_row(const Console* con, int row);
// Every row, numbered, for failure messages.
std::string console_dump(const Console* con);

#endif  // VISOR_PLATFORM_TEST_CONSOLE_H_
