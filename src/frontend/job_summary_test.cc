#include "frontend/job_summary.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

JobSummary read_lines(const std::string& text) {
  JobSummary s;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    job_summary_read_line(&s, text.data() + start, end - start);
    start = end;
  }
  return s;
}

std::string repeated(const std::string& text, int times) {
  std::string s;
  for (int i = 0; i < times; ++i)
    s += text;
  return s;
}

struct Snippet {
  const char* what;
  const char* lines;
  double seconds;
  int64_t filament;  // thousandths of a mm
  const char* height_line;
  const char* warning;
};

const Snippet SNIPPETS[] = {
    {"a move from the origin, 5 mm at 600 mm/min", "G1 F600 X3.000 Y4.000\n", 0.5, 0,
     "Height:           nothing is extruded", nullptr},
    {"a change of F times each move at its own rate; a Z move keeps the F in force",
     "G1 F300 X3.000 Y4.000\nG1 F600 Y10.000\nG1 Z1.200\n", 1.0 + 0.6 + 0.12, 0,
     "Height:           nothing is extruded", nullptr},
    {"dwells in seconds and in milliseconds", "G1 F300 X1.000\nG4 S2\nG4 P500\n", 0.2 + 2.5, 0,
     "Height:           nothing is extruded", nullptr},
    {"a retraction and its prime take no time and add no filament; the moves around them do",
     "G1 F300 Z0.400\nG1 F300 E1.000 X1.000\nG1 E0.200\nG1 E1.000\nG1 F300 E1.500 X2.000\n",
     (0.4 + 1 + 1) / 5.0, 1500, "Height:           Z 0.400 to 0.400 mm", nullptr},
    {"a travel is timed but not printed; only the extruding moves give the height",
     "G1 F300 Z0.300\nG1 F300 E0.012 X0.100\nG1 F300 X0.100 Y0.000 Z3.300\n"
     "G1 F300 E0.024 X0.200\n",
     (0.3 + 0.1 + 3 + 0.1) / 5.0, 24, "Height:           Z 0.300 to 3.300 mm", nullptr},
    {"a prime where the nozzle already is, comments, M codes and G90 count for nothing",
     "; G1 F60 X100.000\nG90\nM109 S210\nG1 F300 E0.500 X0.000 Y0.000\nG1 Z5.000 ; lift\n", 1.0,
     500, "Height:           nothing is extruded", nullptr},
    {"G92 E0 starts the filament count again",
     "G1 F600 E2.000 X1.000\nG92 E0.0\nG1 E1.000 X2.000\n", 0.2, 3000,
     "Height:           Z 0.000 to 0.000 mm", nullptr},
    {"G28 sends the axes it names, or all, home without a timed move",
     "G1 F600 X3.000 Y4.000\nG28 X\nG1 X3.000 Y0.000\nG28\nG1 Y4.000\n", 0.5 + 0.5 + 0.4, 0,
     "Height:           nothing is extruded", nullptr},
    {"below the bed", "G1 F300 Z-0.500\nG1 F300 E0.100 X1.000\nG1 Z1.000\n", (0.5 + 1 + 1.5) / 5.0,
     100, "Height:           Z -0.500 to -0.500 mm", BELOW_BED_TEXT},
    {"up to the build height exactly is inside", "G1 F600 Z205.000\n", 20.5, 0,
     "Height:           nothing is extruded", nullptr},
    {"a thousandth above it is not, a travel too", "G1 F600 Z205.001\nG1 Z10.000\n",
     (205.001 + 195.001) / 10.0, 0, "Height:           nothing is extruded",
     ABOVE_BUILD_HEIGHT_TEXT},
    {"a line without its line end, decimals past the third dropped", "G1 F60 X0.0019 Y-0.0005",
     0.001, 0, "Height:           nothing is extruded", nullptr},
};

TEST(JobSummary, ReadsMovesFeedRatesDwellsRetractionsAndTravels) {
  for (const Snippet& c : SNIPPETS) {
    SCOPED_TRACE(c.what);
    JobSummary s = read_lines(c.lines);
    EXPECT_NEAR(job_summary_seconds(s), c.seconds, 1e-9);
    EXPECT_EQ(s.filament, c.filament);
    SummaryText t = job_summary_text(s);
    EXPECT_STREQ(t.height_line, c.height_line);
    EXPECT_EQ(t.warning, c.warning);
  }
}

TEST(JobSummary, PausesWithTheirHeightAndTheFootprintAgainstTheBed) {
  const struct {
    const char* what;
    std::string lines;
    const char* pauses_line;
    const char* footprint_line;
    bool off_bed;
  } cases[] = {
      {"nothing to tell", "G1 F600 Z5.000\nG4\n", "Pauses:           none",
       "Footprint:        no move in X or Y", false},
      {"each pause at the Z of its time; seconds and milliseconds",
       "G1 F300 Z6.000\nG4 S2\nG1 Z48.900\nG4 S60\nG4 P250\n",
       "Pauses:           2 s at Z 6.000, 60 s at Z 48.900, 0.25 s at Z 48.900",
       "Footprint:        no move in X or Y", false},
      {"travels count, and a move naming one axis keeps the other",
       "G1 F300 X-90.000 Y-35.000\nG1 F300 E1.000 Y74.000\nG1 X93.800\nG1 Z2.000\n",
       "Pauses:           none", "Footprint:        X -90.000 to 93.800, Y -35.000 to 74.000 mm",
       false},
      {"the bed's edge is on the bed", "G1 F600 X102.500 Y-102.500\n", "Pauses:           none",
       "Footprint:        X 102.500 to 102.500, Y -102.500 to -102.500 mm", false},
      {"a thousandth past it is not", "G1 F600 X1.000\nG1 Y102.501\n", "Pauses:           none",
       "Footprint:        X 1.000 to 1.000, Y 0.000 to 102.501 mm", true},
      {"more pauses than are kept", repeated("G4 S1\n", 10),
       "Pauses:           1 s at Z 0.000, 1 s at Z 0.000, 1 s at Z 0.000, 1 s at Z 0.000, "
       "1 s at Z 0.000, 1 s at Z 0.000, 1 s at Z 0.000, 1 s at Z 0.000, and 2 more",
       "Footprint:        no move in X or Y", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SummaryText t = job_summary_text(read_lines(c.lines));
    EXPECT_STREQ(t.pauses_line, c.pauses_line);
    EXPECT_STREQ(t.footprint_line, c.footprint_line);
    EXPECT_EQ(t.bed_warning, c.off_bed ? OFF_BED_TEXT : nullptr);
  }
}

// Numbers are read eight characters at a time, from the line's last eight
// near its end, and from a copy for a line without "\n": every shape of
// number, at every place, against a reading digit by digit.
TEST(JobSummary, ReadsEveryNumberExactlyWhereverItStands) {
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) {
    int whole_digits = static_cast<int>(random() % 8), decimals = static_cast<int>(random() % 6);
    bool negative = random() % 2, point = decimals > 0 || random() % 2;
    std::string number = negative ? "-" : "";
    int64_t whole = 0, part = 0;
    for (int k = 0; k < whole_digits; ++k) {
      int d = static_cast<int>(random() % 10);
      number += static_cast<char>('0' + d);
      whole = whole * 10 + d;
    }
    if (point)
      number += '.';
    for (int k = 0; k < decimals; ++k) {
      int d = static_cast<int>(random() % 10);
      number += static_cast<char>('0' + d);
      if (k < 3)
        part = part * 10 + d;
    }
    for (int k = decimals; k < 3; ++k)
      part *= 10;
    std::string line = "G1" + std::string(1 + random() % 3, ' ') + "X" + number;
    bool then_y = random() % 2;
    if (then_y)
      line += " Y1.000";
    if (random() % 4 != 0)
      line += '\n';

    JobSummary s;
    s.position[0] = 777;  // stays when the number is not read
    job_summary_read_line(&s, line.data(), line.size());
    int64_t expected =
        whole_digits + decimals == 0 ? 777 : (whole * 1000 + part) * (negative ? -1 : 1);
    ASSERT_EQ(s.position[0], expected) << line;
    if (then_y) {
      ASSERT_EQ(s.position[1], 1000) << line;
    }
  }
}

}  // namespace
