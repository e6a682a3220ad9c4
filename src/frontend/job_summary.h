#ifndef VISOR_FRONTEND_JOB_SUMMARY_H_
#define VISOR_FRONTEND_JOB_SUMMARY_H_

// What a job will cost the operator and where it goes, read back from its
// own lines as they are written: the print time, the filament, the pauses,
// the height and the footprint, with a warning where the nozzle is sent
// outside the printer's height or off its bed. A small reader for the lines
// this program writes (absolute positions and E, at most three decimals):
// numbers are exact integer thousandths, lengths are summed in double, and
// nothing is allocated. What it counts is told in docs/design.md.

#include <cstddef>
#include <cstdint>

#include "frontend/messages.h"

// Where the figures come from: 1.75 mm PLA at 1.24 g/cm3, and the build
// height and the bed of the printer the job is for, a square centred on X0
// Y0 as the job's coordinates assume.
inline constexpr double FILAMENT_DIAMETER_MM = 1.75;
inline constexpr double PLA_GRAMS_PER_CM3 = 1.24;
inline constexpr int64_t BUILD_HEIGHT_THOUSANDTHS = VISOR_BUILD_HEIGHT_MM * 1000;
inline constexpr int64_t BED_HALF_THOUSANDTHS = VISOR_BED_MM * 1000 / 2;

// The pauses kept to be shown; more are counted.
inline constexpr int PAUSES_SHOWN = 8;

struct Pause {
  int64_t ms;
  int64_t z;  // thousandths of a mm
};

struct JobSummary {
  // Where the last move left the nozzle (X, Y, Z), and E: thousandths of a
  // mm.
  int64_t position[3] = {0, 0, 0};
  int64_t e = 0;
  int64_t e_top = 0;     // the highest E since the count started
  int64_t filament = 0;  // thousandths of a mm fed

  int64_t feed = 0;          // F in force, thousandths of a mm/min; 0: none yet
  double feed_length = 0;    // thousandths of a mm moved at `feed` so far
  double moved_minutes = 0;  // the moves at earlier feed rates
  int64_t dwell_ms = 0;

  bool extruded = false;  // an extruding move was read
  int64_t print_z_low = 0, print_z_high = 0;
  bool moved_z = false;  // a move named Z
  int64_t z_low = 0, z_high = 0;
  bool moved_xy = false;  // a move named X or Y
  int64_t x_low = 0, x_high = 0, y_low = 0, y_high = 0;

  int pause_count = 0;  // of which the first PAUSES_SHOWN are kept
  Pause pauses[PAUSES_SHOWN] = {};
};

// Takes one line of the job, its "\n" included or not.
void job_summary_read_line(JobSummary* s, const char* line, size_t length);

// "-1.250" from -1250 thousandths.
void format_thousandths(char* out, size_t size, int64_t v);

// The print time so far, in seconds.
double job_summary_seconds(const JobSummary& s);
// The filament's mass in grams.
double job_summary_grams(const JobSummary& s);

inline constexpr size_t SUMMARY_LINE_SIZE = 120;

// The summary as the operator reads it: a line for the time and the
// filament, one for the pauses, one for the height, one for the footprint,
// and the warnings when there are any.
struct SummaryText {
  char time_line[SUMMARY_LINE_SIZE];
  char pauses_line[4 * SUMMARY_LINE_SIZE];
  char height_line[SUMMARY_LINE_SIZE];
  const char* warning;  // null when every Z lies within the printer's height
  char footprint_line[2 * SUMMARY_LINE_SIZE];
  const char* bed_warning;  // null when every X and Y lies on the bed
};

SummaryText job_summary_text(const JobSummary& s);

// The summary as printed lines, in their order, each warning after its
// figure; a warning that does not apply is null.
inline constexpr int SUMMARY_LINES = 6;
void summary_lines(const SummaryText& t, const char* lines[SUMMARY_LINES]);

#endif  // VISOR_FRONTEND_JOB_SUMMARY_H_
