#include "platform/test_console.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string screen_text(const Console* con) {
  std::string s;
  for (int row = 0; row < CONSOLE_ROWS; ++row)
    s += console_text(con, 0, row, CONSOLE_COLUMNS) + "\n";
  return s;
}

void push(MemoryConsole* mem, KeyEvent event) {
  mem->script.push_back({event, false});
  if (mem->releases)
    mem->script.push_back({KeyEvent{false, event.key, event.ch}, true});
}

}  // namespace

MemoryConsole* memory_of(const Console* con) { return static_cast<MemoryConsole*>(con->device); }

void open_memory_console(Console* con, MemoryConsole* mem) {
  con->device = mem;
  console_clear(con);
}

int console_open(Console* con, const ConsoleSetup&, int*, int*) {
  return con->device != nullptr ? CONSOLE_OPENED : CONSOLE_NOT_A_TERMINAL;
}

void console_clear(Console* con) {
  memory_of(con)->changed = true;
  for (auto& row : memory_of(con)->cells)
    std::fill(std::begin(row), std::end(row), MemoryCell{' ', STYLE_TEXT, false});
}

void console_write(Console* con, int col, int row, const char* text, size_t length,
                   ConsoleStyle style) {
  if (col < 0 || row < 0 || col >= CONSOLE_COLUMNS || row >= CONSOLE_ROWS)
    return;
  memory_of(con)->changed = true;
  MemoryCell* cell = memory_of(con)->cells[row] + col;
  for (size_t i = 0; i < length && col + static_cast<int>(i) < CONSOLE_COLUMNS; ++i)
    cell[i] = MemoryCell{text[i], style, false};
}

void console_frame(Console* con, int left, int top, int right, int bottom) {
  MemoryConsole* mem = memory_of(con);
  mem->changed = true;
  for (int row = top; row <= bottom; ++row)
    for (int col = left; col <= right; ++col)
      if (row == top || row == bottom || col == left || col == right)
        mem->cells[row][col] = MemoryCell{' ', STYLE_TEXT, true};
}

void console_show(Console* con) {
  MemoryConsole* mem = memory_of(con);
  if (mem == nullptr || mem->closed)
    return;
  ++mem->shows;
  mem->changed = false;
  mem->screens_at_show.push_back(screen_text(con));
}

int console_read_key(Console* con, KeyEvent* event) {
  MemoryConsole* mem = memory_of(con);
  if (mem == nullptr || mem->closed || mem->next == mem->script.size())
    return -1;
  if (mem->changed)
    console_show(con);
  *event = mem->script[mem->next++].event;
  return 1;
}

void console_take_release(Console* con) {
  KeyEvent ignored;
  if (memory_of(con)->releases)
    console_read_key(con, &ignored);
}

void console_flush_input(Console* con) {
  MemoryConsole* mem = memory_of(con);
  ++mem->discards;
  while (mem->next > 0 && mem->next < mem->script.size() && mem->script[mem->next].with_previous)
    ++mem->next;
}

void console_sleep(Console* con, unsigned ms) {
  MemoryConsole* mem = memory_of(con);
  mem->screens_at_sleep.push_back(screen_text(con));
  mem->slept_ms += ms;
}

void console_set_notice(Console* con, const char* notice) { memory_of(con)->notice = notice; }

bool console_screen_stays(const Console* con) { return memory_of(con)->screen_stays; }

void console_close(Console* con) {
  if (MemoryConsole* mem = memory_of(con)) {
    console_show(con);
    mem->closed = true;
  }
}

void memory_add(MemoryConsole* mem, uint16_t key, bool pressed) {
  mem->script.push_back({KeyEvent{pressed, key, '\0'}, false});
}

void memory_press(MemoryConsole* mem, uint16_t key) { push(mem, KeyEvent{true, key, '\0'}); }

void memory_type(MemoryConsole* mem, const char* text) {
  for (const char* p = text; *p; ++p)
    push(mem, KeyEvent{true, 0, *p});
}

std::string console_text(const Console* con, int col, int row, int length) {
  std::string s;
  for (int c = col; c < col + length && c < CONSOLE_COLUMNS; ++c)
    s += memory_of(con)->cells[row][c].ch;
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
    s += number + console_row(con, row) + "\n";
  }
  return s;
}
