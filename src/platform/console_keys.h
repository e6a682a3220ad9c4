#ifndef VISOR_PLATFORM_CONSOLE_KEYS_H_
#define VISOR_PLATFORM_CONSOLE_KEYS_H_

// Virtual-key codes, with the values the Windows console reports, so that a
// key is known by the key pressed and not by the character it would give.
// The VKEY_ prefix keeps them clear of <windows.h> and <curses.h> macros.

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

#endif  // VISOR_PLATFORM_CONSOLE_KEYS_H_
