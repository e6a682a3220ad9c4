#include "frontend/entry_field.h"

#include <cstring>
#include <string>

#include "frontend/messages.h"
#include "frontend/screen.h"
#include "generator/typed_values.h"
#include "platform/console_keys.h"

namespace {

struct FieldSpec {
  int first_col;
  bool digits_only;
  double min;
  double max;
};

const FieldSpec FIELDS[] = {
    {67, false, -40.0, 200.0},  // FIELD_Z_START
    {81, true, 170.0, 270.0},   // FIELD_HEAT_TEMP
    {62, true, 80.0, 600.0},    // FIELD_SPEED
};

const char* const FIELD_NAMES[] = {Z_START_NAME, HEAT_TEMP_NAME, SPEED_NAME};

// How much of an invalid line its error line shows.
constexpr size_t SHOWN_CHARACTERS = 40;

// Records one read takes; only the first is looked at.
constexpr int RECORDS_PER_READ = 7;

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
  console_set_cursor(con, TEXT_COLUMN, ERROR_ROW);
  console_write(con, FIELD_ERROR_TEXT, strlen(FIELD_ERROR_TEXT));
  console_sleep(con, ERROR_WAIT_MS);
  console_set_cursor(con, TEXT_COLUMN, ERROR_ROW);
  console_write(con, "                              ", 30);
  return FIELD_REJECTED;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A line typed as keys into `text` (cleared): false when a key would be
// dropped or abort the field, or a tenth character would empty it.
bool line_to_text(const char* line, size_t length, const FieldSpec& field, char* text) {
  size_t begin = 0;
  size_t end = length;
  while (begin < end && is_blank(line[begin]))
    ++begin;
  while (end > begin && is_blank(line[end - 1]))
    --end;
  int index = 0;
  for (size_t i = begin; i < end; ++i) {
    char c = 0;
    uint16_t vk = virtual_key_for_char(static_cast<unsigned char>(line[i]));
    if (look_up_key(vk, field, &c) != ACTION_STORE || index == FIELD_CELLS - 1)
      return false;
    text[index++] = c;
  }
  return true;
}

// The line in double quotes, as given but safe to print: quote and
// backslash escaped, other bytes outside printable ASCII as \xNN, a long
// line cut with "...".
std::string quoted(const char* line, size_t length) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string s = "\"";
  for (size_t i = 0; i < length && i < SHOWN_CHARACTERS; ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
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
  if (length > SHOWN_CHARACTERS)
    s += "...";
  return s;
}

}  // namespace

int read_number_line(Console* con, const char* prompt, char* text, FieldKind kind) {
  const FieldSpec& field = FIELDS[kind];
  memset(text, 0, FIELD_CELLS);
  char line[VALUE_LINE_LIMIT + 1];
  size_t length = 0;
  if (console_read_line(con, prompt, line, sizeof line, &length) < 0)
    return FIELD_INPUT_ENDED;
  if (length <= VALUE_LINE_LIMIT && line_to_text(line, length, field, text) &&
      text_is_valid(text, field))
    return FIELD_ACCEPTED;
  memset(text, 0, FIELD_CELLS);
  std::string message = std::string(FIELD_ERROR_TEXT) + ": " + FIELD_NAMES[kind] + " " +
                        quoted(line, length < VALUE_LINE_LIMIT ? length : VALUE_LINE_LIMIT);
  // Nobody watches a stream for four seconds; the values to come are
  // already waiting.
  console_print_error(con, message.c_str());
  return FIELD_REJECTED;
}

int read_number_field(Console* con, int prompt_row, char* text, FieldKind kind) {
  const FieldSpec& field = FIELDS[kind];
  memset(text, 0, FIELD_CELLS);
  int index = 0;
  int col = field.first_col - 1;  // the last cell written
  InputRecord records[RECORDS_PER_READ];

  for (;;) {
    memset(records, 0, sizeof records);
    if (console_read_input(con, records, RECORDS_PER_READ) < 0)
      return FIELD_INPUT_ENDED;
    const InputRecord& r = records[0];
    if (r.event_type == INPUT_KEY_EVENT) {
      if (r.virtual_key == VKEY_RETURN) {
        if (!text_is_valid(text, field))
          return reject(con);
        // Takes away the release of Enter, so the next field does not see it.
        console_read_input(con, records, RECORDS_PER_READ);
        return FIELD_ACCEPTED;
      }
      if (r.key_down) {
        char c = 0;
        switch (look_up_key(r.virtual_key, field, &c)) {
          case ACTION_ABORT: return FIELD_REJECTED;
          case ACTION_STORE:
            // One character per press, whatever its repeat count.
            ++col;
            console_set_cursor(con, col, prompt_row);
            console_write(con, &c, 1);
            text[index++] = c;
            break;
          case ACTION_IGNORE: break;
        }
      }
    }
    // A tenth character starts the field over, so at most nine stand in
    // it when Enter is pressed.
    if (index == FIELD_CELLS) {
      console_set_cursor(con, field.first_col, prompt_row);
      console_write(con, "          ", FIELD_CELLS);
      memset(text, 0, FIELD_CELLS);
      index = 0;
      col = field.first_col - 1;
    }
  }
}
