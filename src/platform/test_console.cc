#include "platform/test_console.h"

#include <cstdio>

#include "platform/console_keys.h"

namespace {

MemoryConsole* device(Console* con) { return static_cast<MemoryConsole*>(con->device); }

int memory_read_key(Console* con, KeyEvent* event) {
  MemoryConsole* mem = device(con);
  if (mem->next == mem->script.size())
    return -1;
  *event = mem->script[mem->next++].event;
  return 1;
}

void memory_discard_input(Console* con) {
  MemoryConsole* mem = device(con);
  ++mem->discards;
  while (mem->next > 0 && mem->next < mem->script.size() && mem->script[mem->next].with_previous)
    ++mem->next;
}

std::string screen_text(const Console* con) {
  std::string s;
  for (int row = 0; row < CONSOLE_ROWS; ++row) {
    s += console_text(con, 0, row, CONSOLE_COLUMNS);
    s += '\n';
  }
  return s;
}

void memory_show(Console* con) {
  MemoryConsole* mem = device(con);
  ++mem->shows;
  mem->screens_at_show.push_back(screen_text(con));
}

void memory_sleep(Console* con, unsigned ms) {
  MemoryConsole* mem = device(con);
  mem->screens_at_sleep.push_back(screen_text(con));
  mem->slept_ms += ms;
}

void memory_close(Console* con) { device(con)->closed = true; }

const ConsoleBackend MEMORY_BACKEND = {
    memory_show, memory_read_key, memory_discard_input, memory_sleep, memory_close,
};

}  // namespace

void open_memory_console(Console* con, MemoryConsole* mem) {
  console_init(con);
  con->backend = &MEMORY_BACKEND;
  con->device = mem;
  con->reports_releases = mem->releases;
  con->screen_stays = mem->screen_stays;
}

void memory_add(MemoryConsole* mem, uint16_t vk, bool down) {
  mem->script.push_back({KeyEvent{down, vk}, false});
}

void memory_press(MemoryConsole* mem, uint16_t vk) {
  memory_add(mem, vk, true);
  if (mem->releases)
    mem->script.push_back({KeyEvent{false, vk}, true});
}

void memory_type(MemoryConsole* mem, const char* text) {
  for (const char* p = text; *p; ++p)
    memory_press(mem, virtual_key_for_char(static_cast<unsigned char>(*p)));
}

std::string console_text(const Console* con, int col, int row, int length) {
  std::string s;
  for (int c = col; c < col + length && c < CONSOLE_COLUMNS; ++c)
    s += con->cells[row][c].ch;
  return s;
}

std::string console_row(const Console* con, int row) {
  std::string s = console_text(con, 0, row, CONSOLE_COLUMNS);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

std::string console_dump(const Console* con) {
  std::string s;
  for (int row = 0; row < CONSOLE_ROWS; ++row) {
    char number[8];
    snprintf(number, sizeof number, "%2d|", row);
    s += number;
    s += console_row(con, row);
    s += '\n';
  }
  return s;
}
