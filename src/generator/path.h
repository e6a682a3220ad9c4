#ifndef VISOR_GENERATOR_PATH_H_
#define VISOR_GENERATOR_PATH_H_

// Paths: ordered runs of samples 0.1 mm apart, and the move writers that
// turn one sample into one G-code line.
//
// Every running coordinate is a float. One step widens it to double, adds a
// double constant and rounds the sum back to float; loop tests compare floats
// strictly. The sample counts and the printed digits depend on exactly this,
// so a sample is never computed as start + i * 0.1.

#include <cstddef>

struct GeneratorThread;

inline constexpr double STEP = 0.1;
inline constexpr double SLOPE_STEP = 0.032;
inline constexpr double E_STEP = 0.012;

// One step of a running value: widen to double, add the double constant,
// round the sum back to float.
inline float float_step(float v, double delta) {
  return static_cast<float>(static_cast<double>(v) + delta);
}

struct Point {
  float x;
  float y;
};

// A doubly linked list with a sentinel: constant-time append, and reversal
// in place by swapping the two links of every node. Nothing needs random
// access, and reverse walks must not copy.
template <typename Sample>
struct PathNode {
  PathNode* next;
  PathNode* prev;
  Sample value;
};

template <typename Sample>
struct PathList {
  PathNode<Sample> sentinel;
  size_t size;
};

using AxisNode = PathNode<float>;
using PointNode = PathNode<Point>;

// One bare coordinate per sample; the traversal decides the axis.
struct AxisPath {
  PathList<float> list;
};

// One (x, y) point per sample.
struct PointPath {
  PathList<Point> list;
};

// An empty path; release with path_free.
void path_init(AxisPath* path);
void path_init(PointPath* path);
void path_free(AxisPath* path);
void path_free(PointPath* path);

void append(AxisPath* path, float value);
void append(PointPath* path, Point point);
void reverse(AxisPath* path);
void reverse(PointPath* path);

// Builders: each appends to the path it is given.
void build_descending(AxisPath* path, float start, float limit);
void build_ascending(AxisPath* path, float start, float limit);
void build_rising_x(PointPath* path, Point start, float limit);
void build_falling_x(PointPath* path, Point start, float limit);
void build_rising_y(PointPath* path, Point start, float limit);

// Traversals: one line per sample. `travel` moves without extruding; the
// reverse walks always extrude and leave the path in its original order.
// A walk ends early once the channel has refused a line.
void emit_x(GeneratorThread* g, AxisPath* path, bool travel);
void emit_x_reverse(GeneratorThread* g, AxisPath* path);
void emit_y(GeneratorThread* g, AxisPath* path, bool travel);
void emit_y_reverse(GeneratorThread* g, AxisPath* path);
void emit_xy(GeneratorThread* g, PointPath* path);
void emit_xy_reverse(GeneratorThread* g, PointPath* path);

// Shifts every point in place, as plain float additions.
void shift_x(PointPath* path, float d);
void shift_y(PointPath* path, float d);

// Move writers. The extruding ones advance cur_e by E_STEP first.
void write_move_x(GeneratorThread* g, float x, bool travel);
void write_move_y(GeneratorThread* g, float y, bool travel);
void write_move_xy(GeneratorThread* g, float x, float y);

#endif  // VISOR_GENERATOR_PATH_H_
