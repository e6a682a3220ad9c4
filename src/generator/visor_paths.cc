#include "generator/visor_paths.h"

namespace {

// The two V points; every other corner is a whole number.
constexpr float FRONT_V_POINT = -96.398f;
constexpr float SECOND_V_POINT = -92.398f;

}  // namespace

void build_visor_paths(VisorPaths* p) {
  free_visor_paths(p);
  // The cross strip: its rows across the back.
  build_ascending(&p->P1, -71, 71);
  // Travel across the back, from the left post to the right one.
  build_ascending(&p->P2, -70, 70);
  // Travel from the right post to the middle.
  build_descending(&p->P3, 70, 0);
  // Travel down the middle to the front V's point (the centre post).
  build_descending(&p->P4, 74, FRONT_V_POINT);
  // A rail of the band, along a side from the back to the front V.
  build_descending(&p->P5, 74, -74);
  // A side post: back along the rail as far as the second V.
  build_descending(&p->P6, 74, -70);
  // A side post: from the second V to the front V.
  build_descending(&p->P7, -70, -74);
  // The front V's left arm.
  build_rising_x(&p->P8, {-70, -74}, 0);
  // The front V's right arm.
  build_rising_x(&p->P9, {0, FRONT_V_POINT}, 70);
  // The left post: the second V's end.
  build_rising_x(&p->P10, {-70, -70}, -54);
  // The left post: the front V's end.
  build_rising_x(&p->P11, {-70, -74}, -54);
  // The right post: the second V's end.
  build_falling_x(&p->P12, {70, -70}, 54);
  // The right post: the front V's end.
  build_falling_x(&p->P13, {70, -74}, 54);
  // The centre post: the front V's point, to the left.
  build_falling_x(&p->P14, {0, FRONT_V_POINT}, -10);
  // The centre post: the second V's point, to the left.
  build_falling_x(&p->P15, {0, SECOND_V_POINT}, -10);
  // The centre post: the second V's point, to the right.
  build_rising_x(&p->P16, {0, SECOND_V_POINT}, 10);
  // The centre post: the front V's point, to the right.
  build_rising_x(&p->P17, {0, FRONT_V_POINT}, 10);
  // The centre post: the 4 mm between the two V points.
  build_ascending(&p->P18, FRONT_V_POINT, SECOND_V_POINT);
  // The left side bar.
  build_rising_y(&p->P19, {-90, -35}, 32);
  // The right side bar.
  build_rising_y(&p->P20, {90, -35}, 32);
}

// Also makes a value-initialised VisorPaths ready for building.
void free_visor_paths(VisorPaths* p) {
  AxisPath* axes[] = {&p->P1, &p->P2, &p->P3, &p->P4, &p->P5, &p->P6, &p->P7, &p->P18};
  PointPath* points[] = {&p->P8,  &p->P9,  &p->P10, &p->P11, &p->P12, &p->P13,
                         &p->P14, &p->P15, &p->P16, &p->P17, &p->P19, &p->P20};
  for (AxisPath* a : axes) {
    if (a->list.sentinel.next == nullptr)
      path_init(a);
    else
      path_free(a);
  }
  for (PointPath* pp : points) {
    if (pp->list.sentinel.next == nullptr)
      path_init(pp);
    else
      path_free(pp);
  }
}
