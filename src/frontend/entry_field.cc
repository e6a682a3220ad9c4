#include "frontend/entry_field.h"

#include <cstring>

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
  if (!con->full_screen) {
    // Nobody watches a plain stream for four seconds; the values to
    // come are already waiting.
    console_print_error(con, FIELD_ERROR_TEXT);
    return FIELD_REJECTED;
  }
  console_set_cursor(con, TEXT_COLUMN, ERROR_ROW);
  console_write(con, FIELD_ERROR_TEXT, strlen(FIELD_ERROR_TEXT));
  console_sleep(con, ERROR_WAIT_MS);
  console_set_cursor(con, TEXT_COLUMN, ERROR_ROW);
  console_write(con, "                              ", 30);
  return FIELD_REJECTED;
}

}  // namespace

bool value_text_is_valid(std::string_view given, FieldKind kind, char* value) {
  const FieldSpec& field = FIELDS[kind];
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
