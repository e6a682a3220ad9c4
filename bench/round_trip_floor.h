#ifndef VISOR_BENCH_ROUND_TRIP_FLOOR_H_
#define VISOR_BENCH_ROUND_TRIP_FLOOR_H_

#include <cstddef>

// The least a strict lock-step hand-over can cost on this machine: two
// threads on the channel's two halves of the CPUs pass a count back and
// forth through one cache line, spinning, `round_trips` times. Returns the
// seconds taken, from the first hand-over to the last answer.
double round_trip_floor_seconds(size_t round_trips);

#endif  // VISOR_BENCH_ROUND_TRIP_FLOOR_H_
