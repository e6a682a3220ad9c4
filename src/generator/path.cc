#include "generator/path.h"

#include <utility>

#include "generator/gcode_format.h"
#include "generator/generator_thread.h"

namespace {

template <typename Sample>
void list_init(PathList<Sample>* list) {
  list->sentinel.next = &list->sentinel;
  list->sentinel.prev = &list->sentinel;
  list->size = 0;
}

template <typename Sample>
void list_free(PathList<Sample>* list) {
  PathNode<Sample>* node = list->sentinel.next;
  while (node != &list->sentinel) {
    PathNode<Sample>* next = node->next;
    delete node;
    node = next;
  }
  list_init(list);
}

template <typename Sample>
void list_append(PathList<Sample>* list, Sample value) {
  PathNode<Sample>* node = new PathNode<Sample>{&list->sentinel, list->sentinel.prev, value};
  list->sentinel.prev->next = node;
  list->sentinel.prev = node;
  ++list->size;
}

// Swapping both links of every node, the sentinel's included, turns the
// list around without moving a sample.
template <typename Sample>
void list_reverse(PathList<Sample>* list) {
  PathNode<Sample>* node = &list->sentinel;
  do {
    std::swap(node->next, node->prev);
    node = node->prev;  // the old next
  } while (node != &list->sentinel);
}

void advance_e(GeneratorThread* g) { g->cur_e = float_step(g->cur_e, E_STEP); }

const char* speed(const GeneratorThread* g) { return g->typed->speed; }

void send_formatted(GeneratorThread* g, size_t length) { send_text(g, g->line, length); }

}  // namespace

void path_init(AxisPath* path) { list_init(&path->list); }
void path_init(PointPath* path) { list_init(&path->list); }
void path_free(AxisPath* path) { list_free(&path->list); }
void path_free(PointPath* path) { list_free(&path->list); }
void append(AxisPath* path, float value) { list_append(&path->list, value); }
void append(PointPath* path, Point point) { list_append(&path->list, point); }
void reverse(AxisPath* path) { list_reverse(&path->list); }
void reverse(PointPath* path) { list_reverse(&path->list); }

void build_descending(AxisPath* path, float start, float limit) {
  for (float v = start; v > limit; v = float_step(v, -STEP))
    append(path, v);
}

void build_ascending(AxisPath* path, float start, float limit) {
  for (float v = start; limit > v; v = float_step(v, STEP))
    append(path, v);
}

// The slanted strokes climb in y when the walk heads for a limit beyond 0,
// and fall otherwise; a limit of exactly 0 falls.
void build_rising_x(PointPath* path, Point start, float limit) {
  double slope = limit > 0 ? SLOPE_STEP : -SLOPE_STEP;
  float x = start.x, y = start.y;
  while (limit > x) {
    append(path, Point{x, y});
    x = float_step(x, STEP);
    y = float_step(y, slope);
  }
}

void build_falling_x(PointPath* path, Point start, float limit) {
  double slope = limit < 0 ? SLOPE_STEP : -SLOPE_STEP;
  float x = start.x, y = start.y;
  while (x > limit) {
    append(path, Point{x, y});
    x = float_step(x, -STEP);
    y = float_step(y, slope);
  }
}

void build_rising_y(PointPath* path, Point start, float limit) {
  for (float y = start.y; limit > y; y = float_step(y, STEP))
    append(path, Point{start.x, y});
}

void emit_x(GeneratorThread* g, AxisPath* path, bool travel) {
  const AxisNode* end = &path->list.sentinel;
  for (const AxisNode* n = end->next; n != end && !g->stopped; n = n->next)
    write_move_x(g, n->value, travel);
}

void emit_x_reverse(GeneratorThread* g, AxisPath* path) {
  reverse(path);
  emit_x(g, path, false);
  reverse(path);
}

void emit_y(GeneratorThread* g, AxisPath* path, bool travel) {
  const AxisNode* end = &path->list.sentinel;
  for (const AxisNode* n = end->next; n != end && !g->stopped; n = n->next)
    write_move_y(g, n->value, travel);
}

void emit_y_reverse(GeneratorThread* g, AxisPath* path) {
  reverse(path);
  emit_y(g, path, false);
  reverse(path);
}

void emit_xy(GeneratorThread* g, PointPath* path) {
  const PointNode* end = &path->list.sentinel;
  for (const PointNode* n = end->next; n != end && !g->stopped; n = n->next)
    write_move_xy(g, n->value.x, n->value.y);
}

void emit_xy_reverse(GeneratorThread* g, PointPath* path) {
  reverse(path);
  emit_xy(g, path);
  reverse(path);
}

void shift_x(PointPath* path, float d) {
  PointNode* end = &path->list.sentinel;
  for (PointNode* n = end->next; n != end; n = n->next)
    n->value.x = n->value.x + d;
}

void shift_y(PointPath* path, float d) {
  PointNode* end = &path->list.sentinel;
  for (PointNode* n = end->next; n != end; n = n->next)
    n->value.y = n->value.y + d;
}

// The drifting walks leave residues such as -0.000494 or 0.000555 near
// zero; X prints them as a clean 0.000. The window is lopsided on purpose.
void write_move_x(GeneratorThread* g, float x, bool travel) {
  if (g->stopped)
    return;
  double shown = x;
  if (shown > -0.001 && shown < 0.009)
    shown = 0.0;
  size_t n;
  if (travel) {
    n = format_gcode(g->line, sizeof g->line, "G1 F%s X%.3f\n", speed(g), shown);
  } else {
    advance_e(g);
    n = format_gcode(g->line, sizeof g->line, "G1 F%s E%.3f X%.3f\n", speed(g),
                     static_cast<double>(g->cur_e), shown);
  }
  send_formatted(g, n);
}

void write_move_y(GeneratorThread* g, float y, bool travel) {
  if (g->stopped)
    return;
  size_t n;
  if (travel) {
    n = format_gcode(g->line, sizeof g->line, "G1 F%s Y%.3f\n", speed(g), static_cast<double>(y));
  } else {
    advance_e(g);
    n = format_gcode(g->line, sizeof g->line, "G1 F%s E%.3f Y%.3f\n", speed(g),
                     static_cast<double>(g->cur_e), static_cast<double>(y));
  }
  send_formatted(g, n);
}

void write_move_xy(GeneratorThread* g, float x, float y) {
  if (g->stopped)
    return;
  advance_e(g);
  size_t n =
      format_gcode(g->line, sizeof g->line, "G1 F%s E%.3f X%.3f Y%.3f\n", speed(g),
                   static_cast<double>(g->cur_e), static_cast<double>(x), static_cast<double>(y));
  send_formatted(g, n);
}
