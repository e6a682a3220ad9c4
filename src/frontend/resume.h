#ifndef VISOR_FRONTEND_RESUME_H_
#define VISOR_FRONTEND_RESUME_H_

// Resuming a failed print. The pieces' heights overlap, so only the
// generator's own run, into memory, tells which line begins which layer of
// which piece. A resume job is the complete job's header, a line that says
// where, a preamble that brings the head back above that layer, then the
// complete job's own lines from there on: a filter on the complete job's
// lines, the same for the run and the check.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/generator_run.h"
#include "generator/typed_values.h"

inline constexpr int PIECE_COUNT = 9;
inline constexpr uint64_t HEADER_LINES = 5;  // a job's, kept as they are

// A layer's first extruding move and the printer's state just before it,
// in thousandths of a mm, as the job prints them.
struct Layer {
  uint64_t line;   // in the complete job, from 1
  int64_t z;       // the layer's
  int64_t z_high;  // the highest Z any move reached before the line
  int64_t e;       // of the last line before it that carries one
  int64_t x, y;    // where the head stands
};

struct Piece {
  uint64_t first_line;
  double start_seconds, end_seconds;  // from the start, as the summary counts
  std::vector<Layer> layers;          // each above the one before
};

struct PieceIndex {
  Piece pieces[PIECE_COUNT];
};

// Set piece and z (thousandths); resume_prepare sets the rest.
struct Resume {
  int piece = 0;
  int64_t z = 0;
  TypedValues typed = {};
  Layer layer = {};
  std::string where;                  // "piece 5 (left post) at Z ...", for the summary
  std::vector<std::string> preamble;  // the line that says where, then the moves
  LineTaker inner = {};
  uint64_t count = 0;  // lines of the complete job taken
};

// The generator run into memory for `typed`, its pieces noted.
void build_piece_index(const TypedValues& typed, PieceIndex* index);
// --pieces: a heading and a line per piece, each ended.
std::string pieces_table(const TypedValues& typed);

// "PIECE:Z", Z with at most three decimals.
bool parse_resume_point(std::string_view text, int* piece, int64_t* z);
// The layer of the piece with the highest Z at or below r->z, and the
// preamble: "", or why there is no resume there.
std::string resume_choose(Resume* r, const PieceIndex& index);
// The same, with r->typed and the index for it.
std::string resume_prepare(Resume* r, const TypedValues& typed);

// Hands `inner` the resume job made of the complete job's lines; `inner`
// itself when r is null.
LineTaker resume_taker(Resume* r, const LineTaker& inner);
// The complete job's lines left out, less those added, for the progress.
uint64_t resume_lines_left_out(const Resume* r);

// A file's first lines: true with r->piece and r->z set when line 6 names
// them as a resume job's does.
bool resume_recognise(std::string_view head, Resume* r);

#endif  // VISOR_FRONTEND_RESUME_H_
