// Fuzz target: arbitrary key-event sequences into read_number_field, for
// each field kind, on the in-memory console with and without key releases.
// Checks that the field never writes outside its ten cells or its ten
// bytes, that the text stays NUL-terminated and within the characters its
// kind accepts, and that the result agrees with a second, plain reading of
// the field's rules.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frontend/entry_field.h"
#include "frontend/screen.h"
#include "generator/typed_values.h"
#include "platform/test_console.h"

namespace {

const uint16_t INTERESTING_KEYS[] = {
    VKEY_RETURN,    VKEY_0,         VKEY_0 + 1,   VKEY_0 + 2,       VKEY_0 + 4,
    VKEY_0 + 7,     VKEY_0 + 9,     VKEY_NUMPAD0, VKEY_NUMPAD0 + 3, VKEY_NUMPAD0 + 8,
    VKEY_SUBTRACT,  VKEY_OEM_MINUS, VKEY_DECIMAL, VKEY_OEM_COMMA,   VKEY_OEM_PERIOD,
    VKEY_CANCEL,    VKEY_BACK,      VKEY_CLEAR,   VKEY_DELETE,      VKEY_OEM_E9,
    VKEY_OEM_CLEAR, VKEY_SHIFT,     VKEY_SPACE,   VKEY_A,           VKEY_ESCAPE,
};

struct Rules {
  int first_col;
  bool digits_only;
  double min, max;
};
const Rules RULES[] = {{67, false, -40, 200}, {81, true, 170, 270}, {62, true, 80, 600}};
const int ROWS[] = {16, 17, 18};

// The rules read plainly: a leading "-" forbids any later "-"; a second "."
// anywhere after the first is wrong; the leading number must lie in range.
bool valid(const std::string& text, const Rules& rules) {
  if (!text.empty() && text[0] == '-' && text.find('-', 1) != std::string::npos)
    return false;
  size_t dot = text.find('.');
  if (dot != std::string::npos && text.find('.', dot + 1) != std::string::npos)
    return false;
  double value = typed_number(text.c_str());
  return value >= rules.min && value <= rules.max;
}

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "entry field fuzz: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const int kind = data[0] % 3;
  const Rules& rules = RULES[kind];

  MemoryConsole mem;
  mem.releases = (data[0] & 4) != 0;
  // Decode the rest as events, two bytes each (a first byte with its top
  // bit set stands for none), and run the model beside.
  std::string model;
  int expected = FIELD_INPUT_ENDED;
  bool decided = false;
  for (size_t i = 1; i + 1 < size; i += 2) {
    uint8_t how = data[i], which = data[i + 1];
    if (how & 0x80)
      continue;
    bool down = (how & 1) != 0;
    uint16_t vk = which < 0xC0 ? INTERESTING_KEYS[which % (sizeof INTERESTING_KEYS / 2)] : which;
    memory_add(&mem, vk, down);
    if (decided)
      continue;
    if (vk == VKEY_RETURN) {
      expected = valid(model, rules) ? FIELD_ACCEPTED : FIELD_REJECTED;
      decided = true;
    } else if (down) {
      char c = 0;
      bool abort_key = false;
      if (vk >= VKEY_0 && vk <= VKEY_0 + 9)
        c = static_cast<char>('0' + vk - VKEY_0);
      else if (vk >= VKEY_NUMPAD0 && vk <= VKEY_NUMPAD0 + 9)
        c = static_cast<char>('0' + vk - VKEY_NUMPAD0);
      else if (vk == VKEY_SUBTRACT || vk == VKEY_OEM_MINUS)
        c = '-';
      else if (vk == VKEY_DECIMAL || vk == VKEY_OEM_COMMA || vk == VKEY_OEM_PERIOD)
        c = '.';
      else if (vk == VKEY_CANCEL || vk == VKEY_BACK || vk == VKEY_CLEAR || vk == VKEY_DELETE ||
               vk == VKEY_OEM_E9 || vk == VKEY_OEM_CLEAR)
        abort_key = true;
      if (c != 0 && rules.digits_only && (c == '-' || c == '.'))
        abort_key = true;
      if (abort_key) {
        expected = FIELD_REJECTED;
        decided = true;
      } else if (c != 0) {
        model += c;
        if (model.size() == FIELD_CELLS)
          model.clear();
      }
    }
  }

  Console con;
  open_memory_console(&con, &mem);
  char before[CONSOLE_ROWS][CONSOLE_COLUMNS];
  for (int r = 0; r < CONSOLE_ROWS; ++r)
    for (int c = 0; c < CONSOLE_COLUMNS; ++c)
      before[r][c] = mem.cells[r][c].ch;

  // The field gets a text buffer with guards around its ten bytes.
  unsigned char guarded[32];
  memset(guarded, 0xA5, sizeof guarded);
  char* text = reinterpret_cast<char*>(guarded + 8);
  int result = read_number_field(&con, ROWS[kind], text, static_cast<FieldKind>(kind));

  for (size_t i = 0; i < sizeof guarded; ++i)
    if ((i < 8 || i >= 18) && guarded[i] != 0xA5)
      fail("wrote outside the ten bytes of the text");
  size_t length = strnlen(text, FIELD_CELLS);
  if (length >= FIELD_CELLS)
    fail("text not NUL-terminated within ten bytes");
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    bool ok = (c >= '0' && c <= '9') || (!rules.digits_only && (c == '-' || c == '.'));
    if (!ok)
      fail("a character the field's kind does not accept");
  }
  if (result != expected)
    fail("result differs from the rules");
  if (result == FIELD_ACCEPTED && model != text)
    fail("accepted text differs from the keys typed");

  for (int r = 0; r < CONSOLE_ROWS; ++r)
    for (int c = 0; c < CONSOLE_COLUMNS; ++c) {
      bool field_cell =
          r == ROWS[kind] && c >= rules.first_col && c < rules.first_col + FIELD_CELLS;
      bool error_line = r == ERROR_ROW && c >= TEXT_COLUMN && c < TEXT_COLUMN + 41;
      if (!field_cell && !error_line && mem.cells[r][c].ch != before[r][c])
        fail("wrote outside the field's ten cells");
    }
  // The cells show what the text holds.
  for (int i = 0; i < FIELD_CELLS; ++i) {
    char shown = mem.cells[ROWS[kind]][rules.first_col + i].ch;
    char want = i < static_cast<int>(length) ? text[i] : ' ';
    if (shown != want)
      fail("the cells differ from the text");
  }
  console_close(&con);
  return 0;
}
