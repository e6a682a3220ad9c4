#include "generator/path.h"

#include <gtest/gtest.h>

#include <vector>

#include "generator/test_sink.h"

namespace {

TEST(PathBuilders, CountsAndLastSamplesFollowTheFloatDrift) {
  AxisPath a;
  path_init(&a);
  build_ascending(&a, -71, 71);
  std::vector<float> s = samples(a);
  ASSERT_EQ(s.size(), 1421u);  // not 1420: the walk ends a hair short of 71
  EXPECT_EQ(a.list.size, 1421u);
  EXPECT_PRED_FORMAT2(Digits, s.back(), "70.9989853");
  path_free(&a);

  build_descending(&a, -70, -74);
  s = samples(a);
  ASSERT_EQ(s.size(), 41u);
  EXPECT_PRED_FORMAT2(Digits, s.back(), "-73.999939");
  EXPECT_EQ(printf3(s.back()), "-74.000");
  path_free(&a);

  PointPath p;
  path_init(&p);
  build_rising_y(&p, {90, -35}, 32);
  std::vector<Point> ps = samples(p);
  ASSERT_EQ(ps.size(), 670u);
  EXPECT_EQ(ps.back().x, 90.0f);
  EXPECT_PRED_FORMAT2(Digits, ps.back().y, "31.9001255");
  path_free(&p);

  // A limit of exactly 0 gives a falling y.
  build_rising_x(&p, {-70, -74}, 0);
  ps = samples(p);
  ASSERT_EQ(ps.size(), 701u);
  EXPECT_PRED_FORMAT2(Digits, ps.back().x, "-0.000493662");
  EXPECT_PRED_FORMAT2(Digits, ps.back().y, "-96.3983765");
  path_free(&p);
}

TEST(PathBuilders, StartThatFailsTheTestGivesAnEmptyPath) {
  std::unique_ptr<CapturedRun> run = captured("0", "210", "300");
  AxisPath a;
  path_init(&a);
  build_ascending(&a, 5, 5);
  build_descending(&a, 5, 5);
  EXPECT_EQ(a.list.size, 0u);
  EXPECT_EQ(a.list.sentinel.next, &a.list.sentinel);
  emit_x(&run->g, &a, false);
  emit_x_reverse(&run->g, &a);
  emit_y(&run->g, &a, false);
  emit_y_reverse(&run->g, &a);
  PointPath p;
  path_init(&p);
  build_rising_y(&p, {0, 32}, 32);
  build_falling_x(&p, {0, 0}, 0);
  emit_xy(&run->g, &p);
  emit_xy_reverse(&run->g, &p);
  EXPECT_EQ(run->count(), 0u);
  EXPECT_EQ(run->g.cur_e, 0.0f);
}

TEST(MoveWriters, LinesAndExtruderAdvance) {
  std::unique_ptr<CapturedRun> run = captured("0", "210", "300");
  GeneratorThread* g = &run->g;
  write_move_y(g, -74, false);
  write_move_xy(g, 0.1f, -96.366f);
  write_move_y(g, 1, true);
  write_move_x(g, 12.5f, false);
  write_move_x(g, -3.25f, true);
  std::vector<std::string> expect = {"G1 F300 E0.012 Y-74.000", "G1 F300 E0.024 X0.100 Y-96.366",
                                     "G1 F300 Y1.000", "G1 F300 E0.036 X12.500", "G1 F300 X-3.250"};
  ASSERT_EQ(run->count(), expect.size());
  for (size_t i = 0; i < expect.size(); ++i)
    EXPECT_EQ(run->line(i), expect[i]);
  EXPECT_EQ(g->cur_e, static_cast<float>(static_cast<double>(0.024f) + 0.012));
}

TEST(MoveWriters, NearZeroSnapOnXOnly) {
  std::unique_ptr<CapturedRun> run = captured("0", "210", "300");
  GeneratorThread* g = &run->g;
  struct {
    float x;
    const char* shown;
  } cases[] = {
      {-0.000493662f, "X0.000"}, {0.000554697f, "X0.000"}, {0.009f, "X0.000"},
      {-0.001f, "X-0.001"},  // the float nearest -0.001 lies just outside
      {0.01f, "X0.010"},         {-0.0f, "X0.000"},
  };
  for (const auto& c : cases) {
    write_move_x(g, c.x, true);
    EXPECT_EQ(run->line(run->count() - 1), std::string("G1 F300 ") + c.shown) << c.x;
    write_move_x(g, c.x, false);
    EXPECT_NE(run->line(run->count() - 1).find(c.shown), std::string::npos) << c.x;
  }
  write_move_y(g, -0.0004f, true);
  EXPECT_EQ(run->line(run->count() - 1), "G1 F300 Y-0.000");
  write_move_xy(g, -0.000493662f, 0.0004f);
  EXPECT_NE(run->line(run->count() - 1).find("X-0.000 Y0.000"), std::string::npos);
}

TEST(Traversals, ReverseWalksRestoreTheOrderAndShiftsPersist) {
  std::unique_ptr<CapturedRun> run = captured("0", "210", "300");
  GeneratorThread* g = &run->g;
  PointPath p;
  path_init(&p);
  build_rising_x(&p, {-70, -74}, -69.65f);  // 4 points
  ASSERT_EQ(p.list.size, 4u);
  std::vector<Point> before = samples(p);
  emit_xy_reverse(g, &p);
  std::vector<Point> after = samples(p);
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(before[i].x, after[i].x);
    EXPECT_EQ(before[i].y, after[i].y);
    // The reverse walk sent the points back to front.
    EXPECT_EQ(run->line(i).substr(run->line(i).find(" X")),
              " X" + printf3(before[3 - i].x) + " Y" + printf3(before[3 - i].y));
  }
  // The backward links follow the reversal too.
  EXPECT_EQ(p.list.sentinel.prev->value.x, before.back().x);
  EXPECT_EQ(p.list.sentinel.next->prev, &p.list.sentinel);

  shift_y(&p, 0.5f);
  emit_xy(g, &p);
  EXPECT_EQ(run->line(4), "G1 F300 E0.060 X-70.000 Y-73.500");
  shift_x(&p, 0.76f);
  EXPECT_EQ(samples(p)[0].x, -70.0f + 0.76f);  // a plain float addition
  path_free(&p);

  AxisPath a;
  path_init(&a);
  build_ascending(&a, 1, 1.25f);  // 1, 1.1, 1.2
  run->text.clear();
  run->starts.clear();
  emit_x_reverse(g, &a);
  emit_y_reverse(g, &a);
  emit_x(g, &a, true);
  ASSERT_EQ(run->count(), 9u);
  EXPECT_NE(run->line(0).find("X1.200"), std::string::npos);
  EXPECT_NE(run->line(5).find("Y1.000"), std::string::npos);
  EXPECT_EQ(run->line(6), "G1 F300 X1.000");
  path_free(&a);
}

}  // namespace
