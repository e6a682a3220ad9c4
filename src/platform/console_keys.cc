#include "platform/console_keys.h"

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
