#ifndef VISOR_GENERATOR_VISOR_PATHS_H_
#define VISOR_GENERATOR_VISOR_PATHS_H_

#include "generator/path.h"

// The twenty strokes the visor is made of.
struct VisorPaths {
  AxisPath P1, P2, P3, P4, P5, P6, P7;
  PointPath P8, P9, P10, P11, P12, P13, P14, P15, P16, P17;
  AxisPath P18;
  PointPath P19, P20;
};

// Fills every path from empty, P1 to P20 in order. Sends nothing.
void build_visor_paths(VisorPaths* paths);

// Releases every path; they are empty afterwards.
void free_visor_paths(VisorPaths* paths);

#endif  // VISOR_GENERATOR_VISOR_PATHS_H_
