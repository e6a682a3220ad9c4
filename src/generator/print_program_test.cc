#include "generator/print_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "generator/test_sink.h"

namespace {

// The print program run section by section, remembering where each begins.
struct Sections {
  std::unique_ptr<CapturedRun> run;
  size_t begin[SECTION_COUNT + 2];  // begin[s] for s = 1..9, begin[10] = end

  std::string line(int section, size_t i) const { return run->line(begin[section] + i); }
  std::string last(int section) const { return run->line(begin[section + 1] - 1); }
  size_t size(int section) const { return begin[section + 1] - begin[section]; }
};

Sections run_sections(const char* z_start, const char* speed = "300") {
  Sections s;
  s.run = captured(z_start, "210", speed);
  s.run->text.reserve(128u << 20);
  s.run->starts.reserve(3800000);
  for (int section = 1; section <= SECTION_COUNT; ++section) {
    s.begin[section] = s.run->count();
    print_section(&s.run->g, section);
  }
  s.begin[SECTION_COUNT + 1] = s.run->count();
  return s;
}

// The run for z_start 0 at speed 300, made once for all the tests here.
const Sections& base() {
  static const Sections s = run_sections("0");
  return s;
}

enum Kind { EXTRUDING, Z_STEP, TRAVEL, REPOSITION, E_STEP, ROW_CHANGE, PAUSE, OTHER, KIND_COUNT };

Kind kind_of(const std::string& line) {
  if (line.rfind("G1 Z", 0) == 0)
    return Z_STEP;
  if (line.rfind("G1 E", 0) == 0)
    return E_STEP;
  if (line.rfind("G1 Y", 0) == 0)
    return ROW_CHANGE;
  if (line == "G4 S2" || line == "G4 S60")
    return PAUSE;
  if (line.rfind("G1 F", 0) != 0)
    return OTHER;
  if (line.find(" E") != std::string::npos)
    return EXTRUDING;
  if (line.find(" Z") != std::string::npos)
    return REPOSITION;
  return TRAVEL;
}

struct KindCounts {
  size_t n[KIND_COUNT] = {};
};

KindCounts count_kinds(const Sections& s, int section) {
  KindCounts k;
  for (size_t i = 0; i < s.size(section); ++i)
    ++k.n[kind_of(s.line(section, i))];
  return k;
}

// The E value an extruding or E-step line prints.
double e_of(const std::string& line) {
  size_t at = line.find(" E");
  return at == std::string::npos ? -1 : atof(line.c_str() + at + 2);
}

TEST(PrintProgram, LinesPerSectionAndKind) {
  const Sections& s = base();
  struct Row {
    int section;
    size_t lines, extruding, z_steps, travel, reposition, e_steps, row_changes, pauses;
  } table[] = {
      {1, 18796, 18760, 36, 0, 0, 0, 0, 0},
      {2, 2 + 18796, 18760, 36, 0, 1, 1, 0, 0},  // with the move that leads to it
      {3, 2 + 28478, 28420, 54, 0, 1, 1, 4, 0},
      {4, 159617, 159552, 64, 0, 1, 0, 0, 0},
      {5, 256523, 256097, 426, 0, 0, 0, 0, 0},
      {6, 258353, 256097, 852, 1401, 0, 2, 0, 1},
      {7, 68879, 65615, 855, 2405, 0, 3, 0, 1},
      {8, 99764, 99720, 40, 0, 1, 2, 0, 1},
      {9, 2849165, 2847541, 1624, 0, 0, 0, 0, 0},
  };
  size_t total = 0;
  for (const Row& r : table) {
    SCOPED_TRACE(r.section);
    KindCounts k = count_kinds(s, r.section);
    EXPECT_EQ(s.size(r.section), r.lines);
    EXPECT_EQ(k.n[EXTRUDING], r.extruding);
    EXPECT_EQ(k.n[Z_STEP], r.z_steps);
    EXPECT_EQ(k.n[TRAVEL], r.travel);
    EXPECT_EQ(k.n[REPOSITION], r.reposition);
    EXPECT_EQ(k.n[E_STEP], r.e_steps);
    EXPECT_EQ(k.n[ROW_CHANGE], r.row_changes);
    EXPECT_EQ(k.n[PAUSE], r.pauses);
    EXPECT_EQ(k.n[OTHER], 0u);
    total += r.lines;
  }
  EXPECT_EQ(s.begin[4] - s.begin[1], 66074u);
  EXPECT_EQ(s.begin[10] - s.begin[4], 3692301u);
  EXPECT_EQ(total, s.run->count());
}

TEST(PrintProgram, SideBarsAndStrip) {
  const Sections& s = base();
  EXPECT_EQ(s.line(1, 0), "G1 F300 E0.012 X-90.000 Y-35.000");
  EXPECT_EQ(s.line(1, 670), "G1 F300 E8.052 X-89.240 Y31.900");  // first reverse walk
  const char* first_rise[] = {"G1 Z0.100", "G1 Z0.200", "G1 Z0.300",
                              "G1 Z0.350", "G1 Z0.450", "G1 Z0.550"};
  for (size_t i = 0; i < 6; ++i)
    EXPECT_EQ(s.line(1, 6 * 670 + i), first_rise[i]);
  EXPECT_EQ(s.last(1), "G1 Z3.300");
  EXPECT_EQ(s.last(2), "G1 Z3.300");

  // Both bars grow toward +X; neither is mirrored.
  for (int section : {1, 2}) {
    double lo = section == 1 ? -90.0 : 90.0;
    for (size_t i = 0; i < s.size(section); ++i) {
      std::string line = s.line(section, i);
      if (kind_of(line) != EXTRUDING)
        continue;
      double x = atof(line.c_str() + line.find(" X") + 2);
      ASSERT_TRUE(x >= lo && x <= lo + 3.8) << line;
    }
  }
  // The last extruding line of the first bar, then the move to the second.
  EXPECT_EQ(s.line(1, s.size(1) - 7), "G1 F300 E225.074 X-89.240 Y-35.000");
  EXPECT_EQ(s.line(2, 0), "G1 E224.074");
  EXPECT_EQ(s.line(2, 1), "G1 F300 X90.000 Y-35.000 Z0.000");
  EXPECT_EQ(s.line(2, 2), "G1 F300 E224.986 X90.000 Y-35.000");
  EXPECT_EQ(s.line(3, 0), "G1 E449.520");
  EXPECT_EQ(s.line(3, 1), "G1 F300 X-70.000 Y74.000 Z0.000");
  EXPECT_EQ(s.line(3, 2), "G1 F300 E449.982 X-71.000");
  EXPECT_EQ(s.last(3), "G1 F300 E791.532 X-71.000");

  // The strip: each row climbs 0.1 twice after each of its first three
  // passes, then rows 1 to 4 come back down and move on in Y.
  size_t i = 2;
  const char* next_y[] = {"G1 Y73.200", "G1 Y72.400", "G1 Y71.600", "G1 Y70.800"};
  for (int row = 0; row < 5; ++row) {
    for (int pass = 0; pass < 4; ++pass) {
      // Around zero every pass prints, X0.000, X0.099 in walk order.
      std::string a = s.line(3, i + 709), b = s.line(3, i + 710), c = s.line(3, i + 711);
      if (pass % 2 == 1)
        std::swap(a, c);
      EXPECT_NE(a.find(" X-0.101"), std::string::npos) << a;
      EXPECT_NE(b.find(" X0.000"), std::string::npos) << b;
      EXPECT_NE(c.find(" X0.099"), std::string::npos) << c;
      i += 1421;
      if (pass == 3)
        break;
      char z[32];
      for (int k = 1; k <= 2; ++k) {
        snprintf(z, sizeof z, "G1 Z0.%d00", pass * 2 + k);
        EXPECT_EQ(s.line(3, i++), z);
      }
    }
    if (row == 4)
      break;
    for (int k = 5; k >= 0; --k) {
      char z[32];
      snprintf(z, sizeof z, "G1 Z0.%d00", k);
      EXPECT_EQ(s.line(3, i++), z);
    }
    EXPECT_EQ(s.line(3, i++), next_y[row]);
  }
  EXPECT_EQ(i, s.size(3));
}

TEST(PrintProgram, BandPostsAndWall) {
  const Sections& s = base();
  EXPECT_EQ(s.line(4, 0), "G1 F300 X-70.000 Y74.000 Z0.000");
  EXPECT_EQ(s.line(4, 1), "G1 F300 E791.544 Y74.000");
  EXPECT_EQ(s.line(4, 3350), "G1 F300 E831.812 X23.400 Y-87.911");  // an exact tie
  // The second pass of the first outward sweep lies 1 mm further in y.
  EXPECT_EQ(s.line(4, 1 + 1481 + 1402),
            "G1 F300 E" + printf3(e_of(s.line(4, 1 + 1481 + 1402))) + " X70.000 Y-73.000");
  size_t first_z = 0;
  while (kind_of(s.line(4, first_z)) != Z_STEP)
    ++first_z;
  EXPECT_EQ(s.line(4, first_z), "G1 Z0.100");
  EXPECT_EQ(s.last(4), "G1 Z5.600");
  EXPECT_EQ(s.last(5), "G1 Z48.200");

  EXPECT_EQ(s.line(6, 0), "G1 F300 X-70.000");
  EXPECT_EQ(s.line(6, 1400), "G1 F300 X69.999");
  EXPECT_EQ(s.line(6, 1401), "G1 Z48.100");
  EXPECT_EQ(s.line(6, 1826), "G1 Z5.600");
  EXPECT_EQ(s.line(6, 1826 - 1), "G1 Z5.700");
  EXPECT_EQ(s.line(6, 1827), "G1 E5800.539");
  EXPECT_EQ(s.line(6, 1828), "G4 S2");
  EXPECT_EQ(s.line(6, 1829), "G1 E5801.938");
  EXPECT_EQ(s.line(6, 1830), "G1 F300 E5802.083 Y74.000");
  EXPECT_EQ(s.line(6, 1830 + 1480),
            "G1 F300 E" + printf3(e_of(s.line(6, 1830 + 1480))) + " Y-73.999");

  EXPECT_EQ(s.line(7, 0), "G1 E8898.354");
  EXPECT_EQ(s.line(7, 701), "G1 F300 X0.000");
  EXPECT_EQ(s.line(7, 701 + 1704), "G1 F300 Y-96.299");
  EXPECT_EQ(s.line(7, 2832), "G1 E8899.354");
  EXPECT_EQ(s.line(7, 2833), "G4 S2");
  EXPECT_EQ(s.line(7, 2834), "G1 E8900.354");
  EXPECT_EQ(s.line(7, 2835), "G1 F300 E8900.413 X0.000 Y-92.398");

  EXPECT_EQ(s.line(8, 0), "G1 E9668.327");
  EXPECT_EQ(s.line(8, 1), "G1 F300 X-70.000 Y74.000 Z48.500");
  EXPECT_EQ(s.line(8, 2), "G4 S60");
  EXPECT_EQ(s.line(8, 3), "G1 E9668.427");
  EXPECT_EQ(s.line(8, 4), "G1 F300 E9668.486 Y74.000");
  // Section 8's passes lie 0.76 apart.
  EXPECT_NE(s.line(8, 4 + 1481 + 1402).find(" X70.000 Y-73.240"), std::string::npos);

  // Every front pass of the wall starts at the left end, crosses the point
  // (the XY writer does not snap) and ends at the right end.
  for (size_t pass_start : {size_t{1481}, s.size(9) - 14028}) {
    EXPECT_NE(s.line(9, pass_start).find(" X-70.000 Y-74.000"), std::string::npos);
    EXPECT_NE(s.line(9, pass_start + 700).find(" X-0.000 Y-96.398"), std::string::npos);
    EXPECT_NE(s.line(9, pass_start + 701).find(" X0.000 Y-96.398"), std::string::npos);
    EXPECT_NE(s.line(9, pass_start + 1401).find(" X70.000 Y-74.000"), std::string::npos);
  }
  EXPECT_EQ(s.line(9, s.size(9) - 5), "G1 F300 E44206.691 X-70.000 Y-74.000");
  EXPECT_EQ(s.last(9), "G1 Z194.103");
}

TEST(PrintProgram, ExtruderDriftsOnTheFloatGrid) {
  const Sections& s = base();
  double previous = -1;
  size_t checked = 0;
  for (size_t i = s.begin[4]; i < s.begin[10]; ++i) {
    std::string line = s.run->line(i);
    if (kind_of(line) != EXTRUDING) {
      previous = -1;
      continue;
    }
    double e = e_of(line);
    // Above 8192 a float advances by 0.01171875, which prints as 0.011 or
    // 0.012; only the step into the next binade at 32768 rounds otherwise.
    if (previous > 8192.0 && !(previous < 32768.0 && e >= 32768.0)) {
      long step = std::lround((e - previous) * 1000.0);
      ASSERT_TRUE(step == 11 || step == 12) << line;
      ++checked;
    }
    previous = e;
  }
  EXPECT_GT(checked, 2800000u);
  // 3,684,622 advances of 0.012 would add 44,215.464 nominally.
  EXPECT_LT(e_of(s.line(9, s.size(9) - 5)), 791.532 + 44219.142 - 800);
}

TEST(PrintProgram, HeightsFollowZStartButExtruderDoesNot) {
  struct {
    const char* z_start;
    const char* last_z;
    const char* band_top;         // section 5's last line, where checked
    const char* second_bar_move;  // the travel to the second bar, where checked
  } table[] = {{"0.4", "G1 Z194.503", nullptr, "G1 F450 X90.000 Y-35.000 Z0.400"},
               {"-40", "G1 Z154.101", nullptr, nullptr},
               {"200", "G1 Z394.106", "G1 Z248.203", nullptr},
               {"-1.5", "G1 Z192.603", nullptr, nullptr}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.z_start);
    Sections s = run_sections(row.z_start, "450");
    EXPECT_EQ(s.last(9), row.last_z);
    if (row.band_top) {
      EXPECT_EQ(s.last(5), row.band_top);
    }
    if (row.second_bar_move) {
      EXPECT_EQ(s.line(2, 1), row.second_bar_move);
      EXPECT_EQ(s.line(2, 2), "G1 F450 E224.986 X90.000 Y-35.000");
    }
    ASSERT_EQ(s.run->count(), base().run->count());
    for (size_t i = 0; i < s.run->count(); i += 997)  // E never depends on the input
      ASSERT_EQ(e_of(s.run->line(i)), e_of(base().run->line(i))) << i;
  }
  // Heights are printed as the float steps leave them: no snap on Z.
  Sections low = run_sections("-0.3");
  EXPECT_NE(low.run->text.find("G1 Z-0.000\n"), std::string::npos);
}

}  // namespace
