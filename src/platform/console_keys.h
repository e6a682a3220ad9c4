#ifndef VISOR_PLATFORM_CONSOLE_KEYS_H_
#define VISOR_PLATFORM_CONSOLE_KEYS_H_

// Virtual-key codes, with the values the Windows console reports, so that a
// key is known by the key pressed and not by the character it would give.
// The VKEY_ prefix keeps them clear of <windows.h> and <curses.h> macros.

#include <cstddef>
#include <cstdint>

enum : uint16_t {
  VKEY_NONE = 0x00,  // a character no key code stands for; readers ignore it
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

// The key a character comes from, on a device that delivers characters (a
// terminal or a stream): digits, letters, "-", ".", ",", "+", blank, Tab,
// Escape; carriage return and line feed are Enter, BS and DEL are Backspace,
// ETX is Cancel. Anything else gives VKEY_NONE.
uint16_t virtual_key_for_char(unsigned char c);

// --- Keys from a terminal's bytes ---

// A key's bytes as one terminal's description names them.
struct KeySequence {
  char bytes[16];
  uint8_t length;
  uint16_t vk;
};

// The few keys whose sequence differs between terminals and which the
// dialogue acts on (Delete, keypad Enter, Clear); every other sequence is
// read by the rules all terminals of the VT100 line follow.
struct KeyTable {
  KeySequence known[8];
  int count;
};

// Adds a sequence; an empty, too long or surplus one is left out.
void key_table_add(KeyTable* table, const char* sequence, uint16_t vk);

// Decodes the key at the start of bytes[0, length): returns how many bytes
// it takes (at least 1) and sets *vk, VKEY_NONE for a key the dialogue
// does not know, which is taken whole all the same (Home, F5, Alt+1...).
// Returns 0 when the bytes are the beginning of a longer sequence and more
// may still come (`complete` false); with `complete` true what has come is
// taken as it is, so a lone ESC is the Escape key.
//
// The numeric keypad gives the character printed on its key in both modes:
// plain characters in numeric mode, ESC O p to ESC O y ("0" to "9"),
// ESC O n ("."), ESC O m ("-") and ESC O M (Enter) in application mode.
size_t decode_key(const KeyTable* table, const unsigned char* bytes, size_t length, bool complete,
                  uint16_t* vk);

#endif  // VISOR_PLATFORM_CONSOLE_KEYS_H_
