#ifndef VISOR_GENERATOR_TEST_SINK_H_
#define VISOR_GENERATOR_TEST_SINK_H_

// Runs pieces of the generator into memory, for tests.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "generator/generator_thread.h"

struct CapturedRun {
  TypedValues typed;
  GeneratorThread g;
  std::string text;            // every line sent, back to back
  std::vector<size_t> starts;  // where each line begins in `text`

  ~CapturedRun() { free_visor_paths(&g.paths); }

  size_t count() const { return starts.size(); }
  // Line i (from 0) without its "\n".
  std::string line(size_t i) const;
  // The lines from `from` on, with their "\n".
  std::string text_from(size_t from) const;
};

// A fresh generator whose lines go into the returned run. The paths are
// built and cur_z is set from z_start; nothing is sent yet.
std::unique_ptr<CapturedRun> captured(const char* z_start, const char* heat_temp,
                                      const char* speed);

// The same, with the whole job (end marker included) already sent.
std::unique_ptr<CapturedRun> captured_job(const char* z_start, const char* heat_temp,
                                          const char* speed);

// "%.3f" through the C library, for expected values.
std::string printf3(double v);

// A path's samples, front to back.
std::vector<float> samples(const AxisPath& path);
std::vector<Point> samples(const PointPath& path);

// Compares a float with a figure written to some significant digits (as in
// "70.9989853"): equal when the float, rounded to as many digits, reads the
// same. For EXPECT_PRED_FORMAT2.
::testing::AssertionResult Digits(const char* expr, const char* text_expr, float value,
                                  const char* text);

#endif  // VISOR_GENERATOR_TEST_SINK_H_
