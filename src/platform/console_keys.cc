#include "platform/console_keys.h"

#include <cstring>

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

namespace {

constexpr unsigned char ESC = 0x1B;

// No key sends a longer sequence; a run without its end is cut here, so
// that a stray ESC cannot hold the keys after it.
constexpr size_t MAX_SEQUENCE = 32;

bool in_range(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

// One character: a byte, or the bytes of one UTF-8 character, which is
// one key press however many bytes it takes.
size_t decode_char(const unsigned char* b, size_t length, bool complete, uint16_t* vk) {
  size_t want = in_range(b[0], 0xC2, 0xDF)   ? 2
                : in_range(b[0], 0xE0, 0xEF) ? 3
                : in_range(b[0], 0xF0, 0xF4) ? 4
                                             : 1;
  if (want == 1) {
    *vk = virtual_key_for_char(b[0]);
    return 1;
  }
  *vk = VKEY_NONE;
  size_t n = 1;
  while (n < want && n < length && in_range(b[n], 0x80, 0xBF))
    ++n;
  if (n < want && n == length && !complete)
    return 0;
  return n;
}

// The application keypad's keys, by the last byte of ESC O x (DEC's
// assignment, the same on every terminal that has the mode).
uint16_t keypad_key(unsigned char final) {
  if (in_range(final, 'p', 'y'))
    return static_cast<uint16_t>(VKEY_NUMPAD0 + (final - 'p'));
  switch (final) {
    case 'n': return VKEY_DECIMAL;
    case 'm': return VKEY_SUBTRACT;
    case 'l': return VKEY_SEPARATOR;
    case 'k': return VKEY_ADD;
    case 'j': return VKEY_MULTIPLY;
    case 'o': return VKEY_DIVIDE;
    case 'M': return VKEY_RETURN;
    default: return VKEY_NONE;
  }
}

// ESC [ 3 ~ is Delete on every terminal of the VT220 line, with or without
// modifiers (ESC [ 3 ; 5 ~), as the Windows console reports Delete
// whatever the modifiers.
uint16_t csi_key(const unsigned char* params, size_t params_length, size_t intermediates,
                 unsigned char final) {
  bool delete_key = final == '~' && intermediates == 0 && params_length >= 1 && params[0] == '3' &&
                    (params_length == 1 || params[1] == ';');
  return delete_key ? VKEY_DELETE : VKEY_NONE;
}

// A sequence that begins with ESC: a control sequence (ESC [), a keypad or
// function key (ESC O), Alt with a key (ESC and the key's own bytes), or
// the Escape key alone.
size_t decode_escape(const unsigned char* b, size_t length, bool complete, uint16_t* vk) {
  *vk = VKEY_NONE;
  if (length == 1) {
    if (!complete)
      return 0;
    *vk = VKEY_ESCAPE;
    return 1;
  }
  unsigned char kind = b[1];
  if (kind == '[' || kind == 'O') {
    // The Linux console's F1 to F5: ESC [ [ A to ESC [ [ E.
    if (kind == '[' && length > 2 && b[2] == '[') {
      if (length < 4)
        return complete ? length : 0;
      return 4;
    }
    // Parameter bytes, intermediate bytes, one final byte (ECMA-48).
    size_t i = 2;
    while (i < length && i < MAX_SEQUENCE && in_range(b[i], 0x30, 0x3F))
      ++i;
    size_t params_end = i;
    while (i < length && i < MAX_SEQUENCE && in_range(b[i], 0x20, 0x2F))
      ++i;
    if (i == MAX_SEQUENCE)
      return i;
    if (i == length)
      return complete ? length : 0;
    if (!in_range(b[i], 0x40, 0x7E))
      return i;  // broken off: the byte that broke it is a key of its own
    unsigned char final = b[i];
    if (kind == 'O') {
      // With parameters (modifiers) it is no plain keypad key.
      if (params_end == 2 && i == params_end)
        *vk = keypad_key(final);
    } else {
      *vk = csi_key(b + 2, params_end - 2, i - params_end, final);
    }
    return i + 1;
  }
  uint16_t alt_key = VKEY_NONE;
  size_t n = kind == ESC ? decode_escape(b + 1, length - 1, complete, &alt_key)
                         : decode_char(b + 1, length - 1, complete, &alt_key);
  return n == 0 ? 0 : n + 1;
}

}  // namespace

void key_table_add(KeyTable* table, const char* sequence, uint16_t vk) {
  size_t length = sequence == nullptr ? 0 : strlen(sequence);
  constexpr int capacity = sizeof table->known / sizeof table->known[0];
  if (length == 0 || length >= sizeof table->known[0].bytes || table->count == capacity)
    return;
  KeySequence& k = table->known[table->count++];
  memcpy(k.bytes, sequence, length);
  k.length = static_cast<uint8_t>(length);
  k.vk = vk;
}

size_t decode_key(const KeyTable* table, const unsigned char* bytes, size_t length, bool complete,
                  uint16_t* vk) {
  if (length == 0)
    return 0;
  size_t best = 0;
  bool longer_may_come = false;
  for (int i = 0; table != nullptr && i < table->count; ++i) {
    const KeySequence& k = table->known[i];
    if (k.length <= length && memcmp(k.bytes, bytes, k.length) == 0) {
      if (k.length > best) {
        best = k.length;
        *vk = k.vk;
      }
    } else if (k.length > length && memcmp(k.bytes, bytes, length) == 0) {
      longer_may_come = true;
    }
  }
  if (longer_may_come && !complete)
    return 0;
  if (best > 0)
    return best;
  if (bytes[0] == ESC)
    return decode_escape(bytes, length, complete, vk);
  return decode_char(bytes, length, complete, vk);
}
