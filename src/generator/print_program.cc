#include "generator/print_program.h"

#include "generator/gcode_format.h"
#include "generator/generator_thread.h"
#include "generator/path.h"

namespace {

// --- Lines the program formats itself; none once the channel has refused
// a line ---

void z_step(GeneratorThread* g, double dz) {
  if (g->stopped)
    return;
  g->cur_z = float_step(g->cur_z, dz);
  size_t n = format_gcode(g->line, sizeof g->line, "G1 Z%.3f\n", static_cast<double>(g->cur_z));
  send_text(g, g->line, n);
}

void e_step(GeneratorThread* g, double de) {
  if (g->stopped)
    return;
  g->cur_e = float_step(g->cur_e, de);
  size_t n = format_gcode(g->line, sizeof g->line, "G1 E%.3f\n", static_cast<double>(g->cur_e));
  send_text(g, g->line, n);
}

// Moves the extruder without a line; the next extruding line carries it.
void silent_e(GeneratorThread* g, double de) { g->cur_e = float_step(g->cur_e, de); }

void travel_to(GeneratorThread* g, double x, double y) {
  if (g->stopped)
    return;
  size_t n = format_gcode(g->line, sizeof g->line, "G1 F%s X%.3f Y%.3f Z%.3f\n", g->typed->speed, x,
                          y, static_cast<double>(g->cur_z));
  send_text(g, g->line, n);
}

void row_change(GeneratorThread* g, double y) {
  if (g->stopped)
    return;
  size_t n = format_gcode(g->line, sizeof g->line, "G1 Y%.3f\n", y);
  send_text(g, g->line, n);
}

void send_fixed(GeneratorThread* g, const char* text, size_t length) { send_text(g, text, length); }

void pause_short(GeneratorThread* g) { send_fixed(g, "G4 S2\n", 6); }
void pause_long(GeneratorThread* g) { send_fixed(g, "G4 S60\n", 7); }

// --- Sections 1 to 3: side bars and cross strip ---

// Five rises of 0.1 and one of 0.05: 0.55 per bar layer.
void layer_rise(GeneratorThread* g) {
  z_step(g, 0.1);
  z_step(g, 0.1);
  z_step(g, 0.1);
  z_step(g, 0.05);
  z_step(g, 0.1);
  z_step(g, 0.1);
}

// Walks up and back, shifting the stroke sideways after each walk.
void bar_walks(GeneratorThread* g, PointPath* bar, float stripe_step, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    emit_xy(g, bar);
    shift_x(bar, stripe_step);
    emit_xy_reverse(g, bar);
    shift_x(bar, stripe_step);
  }
}

// The sign of the sideways step alternates from layer to layer.
float flip(float stripe_step) {
  double s = stripe_step;
  return s <= 0.9 && s >= 0.7 ? -0.76f : 0.76f;
}

// Two layers six walks wide, then four layers four walks wide.
void print_bar(GeneratorThread* g, PointPath* bar) {
  float stripe_step = 0.76f;
  for (int layer = 0; layer < 2; ++layer) {
    bar_walks(g, bar, stripe_step, 3);
    stripe_step = flip(stripe_step);
    shift_x(bar, stripe_step);
    layer_rise(g);
  }
  stripe_step = 0.76f;
  shift_x(bar, stripe_step);
  for (int layer = 0; layer < 4; ++layer) {
    bar_walks(g, bar, stripe_step, 2);
    stripe_step = flip(stripe_step);
    shift_x(bar, stripe_step);
    layer_rise(g);
  }
}

// Retract, travel to the next piece's start at z_start, prime silently.
void move_to_section(GeneratorThread* g, double retract, double x, double y, double prime) {
  e_step(g, -retract);
  parse_z_start(g);
  travel_to(g, x, y);
  silent_e(g, prime);
}

void two_z_steps(GeneratorThread* g, double dz) {
  z_step(g, dz);
  z_step(g, dz);
}

// Five rows along X, each four passes high; back down between rows.
void print_strip(GeneratorThread* g, AxisPath* strip) {
  static const double NEXT_ROW_Y[] = {73.2, 72.4, 71.6, 70.8};
  for (int row = 0; row < 5; ++row) {
    emit_x(g, strip, false);
    two_z_steps(g, 0.1);
    emit_x_reverse(g, strip);
    two_z_steps(g, 0.1);
    emit_x(g, strip, false);
    two_z_steps(g, 0.1);
    emit_x_reverse(g, strip);
    if (row < 4) {
      for (int i = 0; i < 6; ++i)
        z_step(g, -0.1);
      row_change(g, NEXT_ROW_Y[row]);
    }
  }
}

// --- Sections 4 to 9: band, posts and front wall ---

void band_rise(GeneratorThread* g) {
  z_step(g, 0.1);
  z_step(g, 0.1);
  z_step(g, 0.1);
  z_step(g, 0.05);
}

// Across the front V, left arm then right arm, and back.
void front_pass(GeneratorThread* g) {
  emit_xy(g, &g->paths.P8);
  emit_xy(g, &g->paths.P9);
}

void front_pass_reverse(GeneratorThread* g) {
  emit_xy_reverse(g, &g->paths.P9);
  emit_xy_reverse(g, &g->paths.P8);
}

void shift_front(GeneratorThread* g, float v) {
  shift_y(&g->paths.P9, v);
  shift_y(&g->paths.P8, v);
}

// Five passes, each offset by v from the one before; the sweep that
// follows with -v brings the V back to where it was.
void sweep(GeneratorThread* g, float v, bool outward) {
  for (int pass = 0; pass < 5; ++pass) {
    if (pass > 0)
      shift_front(g, v);
    if ((pass % 2 == 0) == outward)
      front_pass(g);
    else
      front_pass_reverse(g);
  }
}

void outward_sweep(GeneratorThread* g, float v) { sweep(g, v, true); }
void return_sweep(GeneratorThread* g, float v) { sweep(g, v, false); }

// Two layers of both rails and the front band.
void band_cycle(GeneratorThread* g, float a) {
  AxisPath* rail = &g->paths.P5;
  emit_y(g, rail, false);
  outward_sweep(g, a);
  emit_y_reverse(g, rail);
  emit_y(g, rail, false);
  band_rise(g);
  return_sweep(g, -a);
  emit_y_reverse(g, rail);
  band_rise(g);
}

// Two layers of the front band alone.
void front_cycle(GeneratorThread* g, float a) {
  outward_sweep(g, a);
  band_rise(g);
  return_sweep(g, -a);
  band_rise(g);
}

// One layer of a side post: the rail with the ends of both Vs.
void side_post_cycle(GeneratorThread* g, PointPath* outer, PointPath* inner) {
  VisorPaths* p = &g->paths;
  emit_y(g, &p->P5, false);
  emit_xy(g, outer);
  emit_xy_reverse(g, outer);
  emit_y_reverse(g, &p->P7);
  emit_xy(g, inner);
  emit_xy_reverse(g, inner);
  two_z_steps(g, 0.1);
  emit_y_reverse(g, &p->P6);
  for (int i = 0; i < 4; ++i)
    z_step(g, 0.1);
}

// One layer of the centre post: both V points, joined along Y.
void centre_post_cycle(GeneratorThread* g) {
  VisorPaths* p = &g->paths;
  emit_xy(g, &p->P15);
  emit_xy_reverse(g, &p->P15);
  emit_y_reverse(g, &p->P18);
  emit_xy(g, &p->P14);
  emit_xy_reverse(g, &p->P14);
  emit_y(g, &p->P18, false);
  emit_xy(g, &p->P16);
  emit_xy_reverse(g, &p->P16);
  emit_y_reverse(g, &p->P18);
  emit_xy(g, &p->P17);
  emit_xy_reverse(g, &p->P17);
  for (int i = 0; i < 6; ++i)
    z_step(g, 0.1);
}

// From the top of a post back down to the base of the posts.
void descent(GeneratorThread* g) {
  for (int i = 0; i < 426; ++i)
    z_step(g, -0.1);
}

void band_base(GeneratorThread* g) {
  parse_z_start(g);
  travel_to(g, -70.0, 74.0);
  for (int i = 0; i < 8; ++i)
    band_cycle(g, 1.0f);
}

void left_post(GeneratorThread* g) {
  for (int i = 0; i < 71; ++i)
    side_post_cycle(g, &g->paths.P11, &g->paths.P10);
}

void right_post(GeneratorThread* g) {
  emit_x(g, &g->paths.P2, true);
  descent(g);
  e_step(g, 1.4);
  pause_short(g);
  e_step(g, 1.4);
  silent_e(g, 0.132);
  for (int i = 0; i < 71; ++i)
    side_post_cycle(g, &g->paths.P13, &g->paths.P12);
}

void centre_post(GeneratorThread* g) {
  VisorPaths* p = &g->paths;
  e_step(g, -0.45);
  emit_x(g, &p->P3, true);
  emit_y(g, &p->P4, true);
  descent(g);
  e_step(g, 1.0);
  pause_short(g);
  e_step(g, 1.0);
  for (int i = 0; i < 4; ++i)  // four rounded steps, not one of 0.048
    silent_e(g, 0.012);
  for (int i = 0; i < 71; ++i)
    centre_post_cycle(g);
  emit_y(g, &p->P18, false);  // the cap
  for (int i = 0; i < 3; ++i)
    z_step(g, 0.1);
  emit_y_reverse(g, &p->P18);
}

void band_closure(GeneratorThread* g) {
  e_step(g, -1.0);
  travel_to(g, -70.0, 74.0);  // at the height the posts reached
  pause_long(g);
  e_step(g, 0.1);
  silent_e(g, 0.048);
  for (int i = 0; i < 5; ++i)
    band_cycle(g, 0.76f);
}

void front_wall(GeneratorThread* g) {
  emit_y(g, &g->paths.P5, false);
  for (int i = 0; i < 203; ++i)
    front_cycle(g, 0.76f);
}

}  // namespace

void print_section(GeneratorThread* g, int section) {
  VisorPaths* p = &g->paths;
  switch (section) {
    case 1: print_bar(g, &p->P19); break;
    case 2:
      move_to_section(g, 1.0, 90.0, -35.0, 0.9);
      print_bar(g, &p->P20);
      break;
    case 3:
      move_to_section(g, 0.45, -70.0, 74.0, 0.45);
      print_strip(g, &p->P1);
      break;
    case 4: band_base(g); break;
    case 5: left_post(g); break;
    case 6: right_post(g); break;
    case 7: centre_post(g); break;
    case 8: band_closure(g); break;
    case 9: front_wall(g); break;
  }
}

void run_print_program(GeneratorThread* g) {
  for (int section = 1; section <= SECTION_COUNT && !g->stopped; ++section) {
    if (g->on_section != nullptr)
      g->on_section(g->sink_context, section);
    print_section(g, section);
  }
  if (g->on_section != nullptr)
    g->on_section(g->sink_context, SECTION_COUNT + 1);
}
