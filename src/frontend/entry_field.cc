#include "frontend/entry_field.h"

#include <cstring>
#include <string>

#include "frontend/messages.h"
#include "frontend/screen.h"
#include "generator/typed_values.h"

namespace {

struct FieldSpec {
  bool digits_only;
  double min;
  double max;
};

const FieldSpec FIELDS[] = {
    {false, -40.0, 200.0},  // FIELD_Z_START
    {true, 170.0, 270.0},   // FIELD_HEAT_TEMP
    {true, 80.0, 600.0},    // FIELD_SPEED
};

const char* const FIELD_NAMES[] = {Z_START_NAME, HEAT_TEMP_NAME, SPEED_NAME};

// How much of a text given as a value its quoting shows.
constexpr size_t SHOWN_CHARACTERS = 40;

enum KeyAction { ACTION_IGNORE, ACTION_STORE, ACTION_ABORT };

// The key table: what a press of `vk` does in a field; *c gets the
// character stored.
KeyAction look_up_key(uint16_t vk, const FieldSpec& field, char* c) {
  if (vk >= VKEY_0 && vk <= VKEY_0 + 9) {
    *c = static_cast<char>('0' + (vk - VKEY_0));
    return ACTION_STORE;
  }
  if (vk >= VKEY_NUMPAD0 && vk <= VKEY_NUMPAD0 + 9) {
    *c = static_cast<char>('0' + (vk - VKEY_NUMPAD0));
    return ACTION_STORE;
  }
  switch (vk) {
    case VKEY_SUBTRACT:
    case VKEY_OEM_MINUS: *c = '-'; return field.digits_only ? ACTION_ABORT : ACTION_STORE;
    case VKEY_DECIMAL:
    case VKEY_OEM_COMMA:
    case VKEY_OEM_PERIOD: *c = '.'; return field.digits_only ? ACTION_ABORT : ACTION_STORE;
    case VKEY_CANCEL:
    case VKEY_BACK:
    case VKEY_CLEAR:
    case VKEY_DELETE:
    case VKEY_OEM_E9:
    case VKEY_OEM_CLEAR: return ACTION_ABORT;
    default: return ACTION_IGNORE;
  }
}

bool text_is_valid(const char* text, const FieldSpec& field) {
  // A second "-" only counts against a text that begins with one.
  if (text[0] == '-' && strchr(text + 1, '-') != nullptr)
    return false;
  const char* dot = strchr(text, '.');
  if (dot != nullptr && strchr(dot + 1, '.') != nullptr)
    return false;
  // The longest leading number; an empty text or a lone "-" is 0.
  double value = typed_number(text);
  return value >= field.min && value <= field.max;
}

int reject(Console* con) {
  draw_field_error(con, true);
  console_sleep(con, ERROR_WAIT_MS);
  draw_field_error(con, false);
  return FIELD_REJECTED;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

uint16_t virtual_key_for_char(unsigned char c) {
  if (c >= '0' && c <= '9')
    return static_cast<uint16_t>(VKEY_0 + (c - '0'));
  if (c >= 'a' && c <= 'z')
    return static_cast<uint16_t>(VKEY_A + (c - 'a'));
  if (c >= 'A' && c <= 'Z')
    return static_cast<uint16_t>(VKEY_A + (c - 'A'));
  switch (c) {
    case '-': return VKEY_OEM_MINUS;
    case '.': return VKEY_OEM_PERIOD;
    case ',': return VKEY_OEM_COMMA;
    case '+': return VKEY_OEM_PLUS;
    case ' ': return VKEY_SPACE;
    case '\t': return VKEY_TAB;
    case '\r':
    case '\n': return VKEY_RETURN;
    case 0x08:
    case 0x7F: return VKEY_BACK;
    case 0x1B: return VKEY_ESCAPE;
    case 0x03: return VKEY_CANCEL;
    default: return VKEY_NONE;
  }
}

bool value_text_is_valid(std::string_view given, FieldKind kind, char* value) {
  const FieldSpec& field = FIELDS[kind];
  while (!given.empty() && is_blank(given.front()))
    given.remove_prefix(1);
  while (!given.empty() && is_blank(given.back()))
    given.remove_suffix(1);
  // The keys the field would have been typed, each of which must store its
  // character; the tenth would empty the field.
  char text[FIELD_CELLS] = {};
  if (given.size() >= FIELD_CELLS)
    return false;
  for (size_t i = 0; i < given.size(); ++i) {
    uint16_t vk = virtual_key_for_char(static_cast<unsigned char>(given[i]));
    if (look_up_key(vk, field, &text[i]) != ACTION_STORE)
      return false;
  }
  if (!text_is_valid(text, field))
    return false;
  if (value != nullptr)
    memcpy(value, text, FIELD_CELLS);
  return true;
}

std::string quoted_text(std::string_view given) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string s = "\"";
  for (size_t i = 0; i < given.size() && i < SHOWN_CHARACTERS; ++i) {
    unsigned char c = static_cast<unsigned char>(given[i]);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      s += "\\x";
      s += HEX[c >> 4];
      s += HEX[c & 0xF];
    } else {
      s += static_cast<char>(c);
    }
  }
  s += '"';
  if (given.size() > SHOWN_CHARACTERS)
    s += "...";
  return s;
}

std::string invalid_value_message(std::string_view given, FieldKind kind) {
  return std::string(FIELD_ERROR_TEXT) + ": " + FIELD_NAMES[kind] + " " + quoted_text(given);
}

int read_number_field(Console* con, int prompt_row, char* text, FieldKind kind) {
  const FieldSpec& field = FIELDS[kind];
  const int first_col = FIELD_COLUMNS[kind];
  memset(text, 0, FIELD_CELLS);
  int index = 0;
  int col = first_col - 1;  // the last cell written

  for (;;) {
    // Keys arrive one by one: a read takes one event, the first and only
    // one there is to look at.
    KeyEvent e = {};
    if (console_read_key(con, &e) < 0)
      return FIELD_INPUT_ENDED;
    uint16_t vk = e.key != 0 ? e.key : virtual_key_for_char(static_cast<unsigned char>(e.ch));
    if (vk == VKEY_RETURN) {
      if (!text_is_valid(text, field))
        return reject(con);
      console_take_release(con);
      return FIELD_ACCEPTED;
    }
    if (e.pressed) {
      char c = 0;
      switch (look_up_key(vk, field, &c)) {
        case ACTION_ABORT: return FIELD_REJECTED;
        case ACTION_STORE:
          ++col;
          console_write(con, col, prompt_row, &c, 1);
          text[index++] = c;
          break;
        case ACTION_IGNORE: break;
      }
    }
    // A tenth character starts the field over, so at most nine stand in
    // it when Enter is pressed.
    if (index == FIELD_CELLS) {
      console_write(con, first_col, prompt_row, "          ", FIELD_CELLS);
      memset(text, 0, FIELD_CELLS);
      index = 0;
      col = first_col - 1;
    }
  }
}
