#ifndef VISOR_FRONTEND_ENTRY_FIELD_H_
#define VISOR_FRONTEND_ENTRY_FIELD_H_

// One value of the dialogue, read straight from key events: each accepted
// key's character is shown behind the prompt, and Enter checks the text
// against the range of its kind. Keys are known by their virtual-key code,
// as the Windows console reports them, so Shift and the keyboard layout do
// not matter; a terminal's character is taken as the key that types it.

#include <cstdint>
#include <string>
#include <string_view>

#include "generator/typed_values.h"
#include "platform/console.h"

// The virtual-key codes the key table knows, with the Windows console's
// values. The VKEY_ prefix keeps them clear of <windows.h> and <curses.h>.
enum : uint16_t {
  VKEY_NONE = 0x00,  // a character no key code stands for: ignored
  VKEY_CANCEL = 0x03,
  VKEY_BACK = 0x08,
  VKEY_TAB = 0x09,
  VKEY_CLEAR = 0x0C,
  VKEY_RETURN = 0x0D,
  VKEY_SHIFT = 0x10,
  VKEY_CONTROL = 0x11,
  VKEY_ESCAPE = 0x1B,
  VKEY_SPACE = 0x20,
  VKEY_DELETE = 0x2E,
  VKEY_0 = 0x30,        // to VKEY_0 + 9
  VKEY_A = 0x41,        // to VKEY_A + 25
  VKEY_NUMPAD0 = 0x60,  // to VKEY_NUMPAD0 + 9
  VKEY_MULTIPLY = 0x6A,
  VKEY_ADD = 0x6B,
  VKEY_SEPARATOR = 0x6C,
  VKEY_SUBTRACT = 0x6D,
  VKEY_DECIMAL = 0x6E,
  VKEY_DIVIDE = 0x6F,
  VKEY_OEM_PLUS = 0xBB,
  VKEY_OEM_COMMA = 0xBC,
  VKEY_OEM_MINUS = 0xBD,
  VKEY_OEM_PERIOD = 0xBE,
  VKEY_OEM_E9 = 0xE9,
  VKEY_OEM_CLEAR = 0xFE,
};

// The key that types a character: digits, letters, "-", ".", ",", "+",
// blank, Tab, Escape; CR and LF are Enter, BS and DEL Backspace, ETX
// Cancel. Anything else gives VKEY_NONE.
uint16_t virtual_key_for_char(unsigned char c);

// Each kind has its keys and range here, its place on the screen in
// screen.h.
enum FieldKind {
  FIELD_Z_START = 0,    // digits, "-", "."
  FIELD_HEAT_TEMP = 1,  // digits
  FIELD_SPEED = 2,      // digits
};

inline constexpr int FIELD_CELLS = 10;

// The typed text that holds the value of `kind`.
inline char* typed_text(TypedValues* typed, FieldKind kind) {
  switch (kind) {
    case FIELD_Z_START: return typed->z_start;
    case FIELD_HEAT_TEMP: return typed->heat_temp;
    case FIELD_SPEED: return typed->speed;
  }
  return nullptr;
}

// Results of read_number_field.
enum : int {
  FIELD_ACCEPTED = 1,
  FIELD_REJECTED = -1,     // invalid value or an abort key: ask all again
  FIELD_INPUT_ENDED = -2,  // no more input will come
  FIELD_REFUSED = -3,      // invalid, and nobody is there to type it again
};

inline constexpr unsigned ERROR_WAIT_MS = 4000;  // the error line stands this long

// Reads one value into `text` (a buffer of at least 16 bytes; the field
// uses the first ten, so the text stays NUL-terminated). Only the row of
// the prompt is taken from the caller; the columns come from the kind. The
// caller flushes the input before the call. Blocks while no key is pending.
// An invalid value shows the error line for four seconds. After a valid
// one, the release of Enter is taken away, so that the next field does not
// see it.
int read_number_field(Console* con, int prompt_row, char* text, FieldKind kind);

// A value given whole as text (a line of input, a command-line option's
// argument) rather than as keys: read as the field reads its keys, but
// never changed silently. A character the field would drop (a letter, "e",
// a blank inside), an abort key (a "." or "-" in a digits-only field, a
// control character) or a tenth character, which would empty the field,
// makes the text invalid; blanks around the value are no part of it.
// Otherwise the texts the field accepts are valid, with the same values
// ("", "-", ".5", "1-2"). When valid and `value` is not null, it receives
// what the field would hold: at most nine characters, NUL-terminated, a
// comma stored as "." (the buffer needs FIELD_CELLS bytes).
bool value_text_is_valid(std::string_view given, FieldKind kind, char* value = nullptr);

// The error line for an invalid value given as text: the field's error
// text, the value's name, and the text in quotes as given (bytes that
// cannot be printed escaped, a long text cut).
std::string invalid_value_message(std::string_view given, FieldKind kind);

// `given` in double quotes, safe to print on a terminal: quote and
// backslash escaped, bytes outside printable ASCII as \xNN, a long text
// cut with "...".
std::string quoted_text(std::string_view given);

#endif  // VISOR_FRONTEND_ENTRY_FIELD_H_
