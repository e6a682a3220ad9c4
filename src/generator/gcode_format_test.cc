#include "generator/gcode_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "channel/line_channel.h"

namespace {

std::string fast3(double v) {
  char buf[LINE_CAPACITY];
  size_t n = format_gcode(buf, sizeof buf, "%.3f", v);
  EXPECT_EQ(n, strlen(buf));
  return buf;
}

std::string slow3(double v) {
  char buf[64];
  snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

// Every float with bits in [from, to) stepping by `stride`; with
// `both_signs`, its negation too.
void expect_same_over(uint32_t from, uint32_t to, uint32_t stride, bool both_signs) {
  for (uint64_t bits = from; bits < to; bits += stride) {
    for (uint32_t sign : {0u, 0x80000000u}) {
      if (sign != 0 && !both_signs)
        break;
      uint32_t b = static_cast<uint32_t>(bits) | sign;
      float f;
      memcpy(&f, &b, sizeof f);
      ASSERT_EQ(fast3(f), slow3(f)) << "float bits " << std::hex << b;
    }
  }
}

uint32_t bits_of(float f) {
  uint32_t b;
  memcpy(&b, &f, sizeof b);
  return b;
}

TEST(GcodeFormat, NumbersAsPrintfPrintsThem) {
  const double values[] = {
      0.0,
      -0.0,
      831.8125,
      0.0625,
      -0.0625,
      2.5e-4,
      -4e-4,
      -0.0004999,
      0.0005,
      0.0015,
      0.000554697,
      -0.000493662,
      1e-40,
      44206.69,
      65535.998,
      123456792.0,
      -96.398,
      static_cast<double>(-96.398f),
      static_cast<double>(0.1f),
      0.1,  // 0.1 is no float
      1e12,
      1e15,
      std::numeric_limits<double>::infinity(),
  };
  for (double v : values)
    EXPECT_EQ(fast3(v), slow3(v)) << v;
  EXPECT_EQ(fast3(831.8125), "831.812");  // an exact tie goes to the even digit
  EXPECT_EQ(fast3(-0.0004), "-0.000");
}

TEST(GcodeFormat, EveryFloatOfSomeBinadesAndASpreadOfTheRest) {
  // Whole binades where ties are frequent or values sit near zero:
  // [512, 1024) holds E values such as 831.8125; [2^-10, 2^-9) holds the
  // residues around the snap window.
  // residues around the snap window. The sign only adds a "-", so one sign
  // suffices there.
  expect_same_over(bits_of(512.0f), bits_of(1024.0f), 1, false);
  expect_same_over(bits_of(0x1p-10f), bits_of(0x1p-9f), 3, false);
  // Everything the job prints lies below 2^17 (heights, E) or comes from a
  // typed value; every 997th float from 0 up to 2^27 spreads over the range.
  expect_same_over(0, bits_of(134217728.0f), 997, true);
}

TEST(GcodeFormat, LinesAsSnprintfFormatsThem) {
  const char* speed = "0000300";
  const float e = 831.8125f, x = -0.000493662f, y = 31.9001255f, z = -0.0f;
  char fast[LINE_CAPACITY], slow[LINE_CAPACITY];
#define SAME_LINE(...)                                       \
  do {                                                       \
    size_t n = format_gcode(fast, sizeof fast, __VA_ARGS__); \
    int m = snprintf(slow, sizeof slow, __VA_ARGS__);        \
    EXPECT_STREQ(fast, slow);                                \
    EXPECT_EQ(n, static_cast<size_t>(m));                    \
  } while (0)
  SAME_LINE("G1 F%s X%.3f\n", speed, static_cast<double>(x));
  SAME_LINE("G1 F%s E%.3f X%.3f\n", speed, static_cast<double>(e), static_cast<double>(x));
  SAME_LINE("G1 F%s Y%.3f\n", speed, static_cast<double>(y));
  SAME_LINE("G1 F%s E%.3f Y%.3f\n", speed, static_cast<double>(e), static_cast<double>(y));
  SAME_LINE("G1 F%s E%.3f X%.3f Y%.3f\n", speed, static_cast<double>(e), static_cast<double>(x),
            static_cast<double>(y));
  SAME_LINE("G1 F%s X%.3f Y%.3f Z%.3f\n", speed, -70.0, 74.0, static_cast<double>(z));
  SAME_LINE("G1 Z%.3f\n", static_cast<double>(z));
  SAME_LINE("G1 E%.3f\n", static_cast<double>(e));
  SAME_LINE("; With z_start: %s heat temp: %s speed: %s\n", "123456789", "123456789", "123456789");
  SAME_LINE("M106 S%s\n", "");
  SAME_LINE("100%% done\n");
#undef SAME_LINE
}

TEST(GcodeFormat, NeverWritesPastTheBuffer) {
  char buf[16];
  memset(buf, 'x', sizeof buf);
  size_t n = format_gcode(buf, 12, "G1 F%s E%.3f\n", "123456789", 44206.69);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(buf[11], '\0');
  EXPECT_EQ(buf[12], 'x');
  n = format_gcode(buf, 8, "E%.3f", -123456792.0);
  EXPECT_EQ(n, 7u);
  EXPECT_STREQ(buf, "E-12345");
}

}  // namespace
