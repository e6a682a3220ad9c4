#include "generator/visor_paths.h"

#include <gtest/gtest.h>

#include <vector>

#include "generator/test_sink.h"

namespace {

// Axis paths as points with their value in x, so that both kinds compare
// alike.
std::vector<Point> points(const AxisPath& path) {
  std::vector<Point> out;
  for (float v : samples(path))
    out.push_back({v, 0});
  return out;
}

std::vector<Point> points(const PointPath& path) { return samples(path); }

struct Expected {
  const char* name;
  std::vector<Point> samples;
  size_t count;
  const char* first;  // "x" for an axis path, "x y" for a point path
  const char* last;
  const char* last_printed;
};

std::vector<Expected> catalogue(const VisorPaths& p) {
  // Axis paths keep their value in x.
  return {
      {"P1", points(p.P1), 1421, "-71", "70.9989853", "70.999"},
      {"P2", points(p.P2), 1401, "-70", "69.9990158", "69.999"},
      {"P3", points(p.P3), 701, "70", "0.000493662083", "0.000"},
      {"P4", points(p.P4), 1704, "74", "-96.2985535", "-96.299"},
      {"P5", points(p.P5), 1481, "74", "-73.9988937", "-73.999"},
      {"P6", points(p.P6), 1441, "74", "-69.9989548", "-69.999"},
      {"P7", points(p.P7), 41, "-70", "-73.999939", "-74.000"},
      {"P8", points(p.P8), 701, "-70 -74", "-0.000493662083 -96.3983765", "-0.000 -96.398"},
      {"P9", points(p.P9), 701, "0 -96.3980026", "69.9995041 -73.9996262", "70.000 -74.000"},
      {"P10", points(p.P10), 161, "-70 -70", "-54.0002441 -75.1196289", "-54.000 -75.120"},
      {"P11", points(p.P11), 161, "-70 -74", "-54.0002441 -79.1196289", "-54.000 -79.120"},
      {"P12", points(p.P12), 161, "70 -70", "54.0002441 -75.1196289", "54.000 -75.120"},
      {"P13", points(p.P13), 161, "70 -74", "54.0002441 -79.1196289", "54.000 -79.120"},
      {"P14", points(p.P14), 100, "0 -96.3980026", "-9.90000153 -93.2302322", "-9.900 -93.230"},
      {"P15", points(p.P15), 100, "0 -92.3980026", "-9.90000153 -89.2302322", "-9.900 -89.230"},
      {"P16", points(p.P16), 100, "0 -92.3980026", "9.90000153 -89.2302322", "9.900 -89.230"},
      {"P17", points(p.P17), 100, "0 -96.3980026", "9.90000153 -93.2302322", "9.900 -93.230"},
      {"P18", points(p.P18), 41, "-96.3980026", "-92.3980637", "-92.398"},
      {"P19", points(p.P19), 670, "-90 -35", "-90 31.9001255", "-90.000 31.900"},
      {"P20", points(p.P20), 670, "90 -35", "90 31.9001255", "90.000 31.900"},
  };
}

// "x" or "x y", each to the digits written.
::testing::AssertionResult PointDigits(const char* expr, const char* text_expr, Point value,
                                       const char* text) {
  std::string t = text;
  size_t space = t.find(' ');
  ::testing::AssertionResult x = Digits(expr, text_expr, value.x, t.substr(0, space).c_str());
  if (!x || space == std::string::npos)
    return x;
  return Digits(expr, text_expr, value.y, t.substr(space + 1).c_str());
}

bool is_axis(const char* name) {
  for (const char* axis : {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "P18"})
    if (std::string(name) == axis)
      return true;
  return false;
}

TEST(VisorPaths, CatalogueResults) {
  VisorPaths p{};
  build_visor_paths(&p);
  for (const Expected& e : catalogue(p)) {
    SCOPED_TRACE(e.name);
    ASSERT_EQ(e.samples.size(), e.count);
    EXPECT_PRED_FORMAT2(PointDigits, e.samples.front(), e.first);
    EXPECT_PRED_FORMAT2(PointDigits, e.samples.back(), e.last);
    std::string printed = printf3(e.samples.back().x);
    if (!is_axis(e.name)) {
      printed += ' ';
      printed += printf3(e.samples.back().y);
    }
    EXPECT_EQ(printed, e.last_printed);
  }
  free_visor_paths(&p);
}

TEST(VisorPaths, RelationsBetweenPaths) {
  VisorPaths p{};
  build_visor_paths(&p);
  auto expect_prefix = [](const std::vector<Point>& whole, const std::vector<Point>& part) {
    ASSERT_LE(part.size(), whole.size());
    for (size_t i = 0; i < part.size(); ++i) {
      EXPECT_EQ(part[i].x, whole[i].x) << i;
      EXPECT_EQ(part[i].y, whole[i].y) << i;
    }
  };
  expect_prefix(points(p.P8), points(p.P11));
  expect_prefix(points(p.P9), points(p.P17));
  expect_prefix(points(p.P4), points(p.P5));
  expect_prefix(points(p.P4), points(p.P6));

  auto expect_mirror = [](const std::vector<Point>& a, const std::vector<Point>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].x, -b[i].x) << i;
      EXPECT_EQ(a[i].y, b[i].y) << i;
    }
  };
  expect_mirror(points(p.P12), points(p.P10));
  expect_mirror(points(p.P13), points(p.P11));
  expect_mirror(points(p.P14), points(p.P17));
  expect_mirror(points(p.P15), points(p.P16));
  expect_mirror(points(p.P20), points(p.P19));

  // P9 drifts on its own: it is no mirror of P8.
  std::vector<Point> p8 = points(p.P8), p9 = points(p.P9);
  EXPECT_NE(p9.back().y, p8.front().y);
  free_visor_paths(&p);
}

TEST(VisorPaths, SamplesNearZeroAndCheckpoints) {
  VisorPaths p{};
  build_visor_paths(&p);
  EXPECT_PRED_FORMAT2(Digits, points(p.P1)[710].x, "-0.000508921");
  EXPECT_PRED_FORMAT2(Digits, points(p.P2)[700].x, "-0.000493662");
  EXPECT_PRED_FORMAT2(Digits, points(p.P3)[700].x, "0.000493662");
  for (const AxisPath* rail : {&p.P4, &p.P5, &p.P6}) {
    EXPECT_PRED_FORMAT2(Digits, points(*rail)[740].x, "0.000554697");
    EXPECT_EQ(printf3(points(*rail)[740].x), "0.001");  // Y is never snapped
  }
  EXPECT_PRED_FORMAT2(Digits, points(p.P19)[350].y, "0.0000400081");
  EXPECT_PRED_FORMAT2(Digits, points(p.P20)[350].y, "0.0000400081");

  Point a = points(p.P8)[350], b = points(p.P9)[350];
  EXPECT_PRED_FORMAT2(Digits, a.x, "-35.0005341");
  EXPECT_PRED_FORMAT2(Digits, a.y, "-85.1991882");
  EXPECT_EQ(printf3(a.x) + " " + printf3(a.y), "-35.001 -85.199");
  EXPECT_PRED_FORMAT2(Digits, b.x, "35.0000381");
  EXPECT_PRED_FORMAT2(Digits, b.y, "-85.1988144");
  EXPECT_EQ(printf3(b.x) + " " + printf3(b.y), "35.000 -85.199");
  EXPECT_PRED_FORMAT2(Digits, points(p.P1)[100].x, "-61.0001526");
  EXPECT_PRED_FORMAT2(Digits, points(p.P4)[100].x, "64.0001526");
  EXPECT_PRED_FORMAT2(Digits, points(p.P19)[100].y, "-25.0000191");
  free_visor_paths(&p);
}

TEST(VisorPaths, BuildingAgainGivesIdenticalPaths) {
  VisorPaths first{}, second{};
  build_visor_paths(&first);
  build_visor_paths(&second);
  build_visor_paths(&second);  // rebuilding starts from empty paths
  std::vector<Expected> a = catalogue(first), b = catalogue(second);
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(a[i].samples.size(), b[i].samples.size()) << a[i].name;
    for (size_t k = 0; k < a[i].samples.size(); ++k) {
      ASSERT_EQ(a[i].samples[k].x, b[i].samples[k].x);
      ASSERT_EQ(a[i].samples[k].y, b[i].samples[k].y);
    }
  }
  free_visor_paths(&first);
  free_visor_paths(&second);
}

TEST(VisorPaths, TravelsAlongP3AndWalkAlongP9) {
  std::unique_ptr<CapturedRun> run = captured("0", "210", "300");
  emit_x(&run->g, &run->g.paths.P3, true);
  ASSERT_EQ(run->count(), 701u);
  EXPECT_EQ(run->line(0), "G1 F300 X70.000");
  EXPECT_EQ(run->line(700), "G1 F300 X0.000");
  EXPECT_EQ(run->g.cur_e, 0.0f);

  emit_xy(&run->g, &run->g.paths.P9);
  ASSERT_EQ(run->count(), 701u + 701u);
  EXPECT_EQ(run->line(701), "G1 F300 E0.012 X0.000 Y-96.398");
  EXPECT_NE(run->line(1401).find(" X70.000 Y-74.000"), std::string::npos);
}

}  // namespace
