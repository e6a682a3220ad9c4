#include "platform/test_console.h"

#include <cstdio>
#include <cstring>

#include "platform/console_keys.h"

namespace {

MemoryConsole* device(Console* con) { return static_cast<MemoryConsole*>(con->device); }

int memory_poll_input(Console* con, bool) {
  MemoryConsole* mem = device(con);
  if (con->queue_count > 0)
    return 0;
  if (mem->next == mem->script.size())
    return -1;
  const ScriptedInput& in = mem->script[mem->next++];
  if (in.release_follows)
    console_queue_key(con, in.record.virtual_key);
  else
    console_queue_input(con, in.record);
  return 0;
}

void memory_discard_input(Console* con) { ++device(con)->discards; }

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

void memory_set_title(Console* con, const char* title) { device(con)->title = title; }

void memory_print_line(Console* con, const char* text, bool error) {
  std::string& to = error ? device(con)->errors : device(con)->printed;
  to += text;
  to += '\n';
}

void memory_close(Console* con) { device(con)->closed = true; }

// Lines end as on a plain stream: CR, LF, or CR LF.
int memory_read_line(Console* con, const char* prompt, char* line, size_t size, size_t* length) {
  MemoryConsole* mem = device(con);
  const std::string& in = mem->text_input;
  mem->prompts.push_back(prompt != nullptr ? prompt : "");
  if (mem->text_next == in.size())
    return -1;
  size_t end = in.find_first_of("\r\n", mem->text_next);
  if (end == std::string::npos)
    end = in.size();
  std::string text = in.substr(mem->text_next, end - mem->text_next);
  mem->text_next = end;
  if (end < in.size())
    mem->text_next += in.compare(end, 2, "\r\n") == 0 ? 2 : 1;
  size_t n = text.size() < size ? text.size() : size - 1;
  memcpy(line, text.data(), n);
  line[n] = '\0';
  *length = text.size();
  return 1;
}

void memory_progress_line(Console* con, const char* text) { device(con)->progress.push_back(text); }

const ConsoleBackend MEMORY_BACKEND = {
    memory_show,       memory_poll_input, memory_discard_input, memory_sleep,
    memory_set_title,
    nullptr,  // set_code_page
    nullptr,  // lock_window_size
    memory_print_line, memory_close,      memory_read_line,     memory_progress_line,
};

}  // namespace

void open_memory_console(Console* con, MemoryConsole* mem, bool full_screen) {
  console_init(con);
  con->backend = &MEMORY_BACKEND;
  con->device = mem;
  con->full_screen = full_screen;
}

void memory_add(MemoryConsole* mem, uint16_t vk, bool down, uint16_t repeat) {
  mem->script.push_back({InputRecord{INPUT_KEY_EVENT, down, repeat, vk}, false});
}

void memory_add_event(MemoryConsole* mem, uint16_t event_type) {
  mem->script.push_back({InputRecord{event_type, true, 1, VKEY_BACK}, false});
}

void memory_press(MemoryConsole* mem, uint16_t vk) {
  mem->script.push_back({InputRecord{INPUT_KEY_EVENT, true, 1, vk}, true});
}

void memory_type(MemoryConsole* mem, const char* text) {
  mem->text_input += text;
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
