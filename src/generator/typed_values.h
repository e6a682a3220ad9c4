#ifndef VISOR_GENERATOR_TYPED_VALUES_H_
#define VISOR_GENERATOR_TYPED_VALUES_H_

// The operator's three values, exactly as typed: NUL-terminated texts of at
// most nine characters. Written by the front end before the generator
// starts, only read afterwards.
struct TypedValues {
  char z_start[16];
  char heat_temp[16];
  char speed[16];
};

#endif  // VISOR_GENERATOR_TYPED_VALUES_H_
