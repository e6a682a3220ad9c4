#ifndef VISOR_GENERATOR_TYPED_VALUES_H_
#define VISOR_GENERATOR_TYPED_VALUES_H_

#include <charconv>
#include <cstring>

// The operator's three values, exactly as typed: NUL-terminated texts of at
// most nine characters. Written by the front end before the generator
// starts, only read afterwards.
struct TypedValues {
  char z_start[16];
  char heat_temp[16];
  char speed[16];
};

// A typed text's number as atof reads it: the longest leading decimal
// number, 0 when there is none ("", "-", "."). Independent of the C locale,
// so that a decimal comma in the operator's locale cannot change a value.
inline double typed_number(const char* text) {
  double value = 0.0;
  std::from_chars(text, text + strlen(text), value, std::chars_format::fixed);
  return value;
}

#endif  // VISOR_GENERATOR_TYPED_VALUES_H_
