#include "frontend/resume.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "frontend/job_check.h"
#include "frontend/job_summary.h"
#include "frontend/messages.h"
#include "generator/generator_thread.h"

namespace {

// Above the tallest piece standing: the head's travel clears a blob or a
// curled edge on its top.
constexpr int64_t CLEARANCE = 2000;

std::string mm(int64_t thousandths) {
  char text[32];
  format_thousandths(text, sizeof text, thousandths);
  return text;
}

std::string text_of(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The job's lines read as the summary reads them; the generator tells
// where each piece begins.
struct IndexRun {
  PieceIndex* index = nullptr;
  JobSummary summary;
  uint64_t line = 0;
  int section = 0;  // 0 before the first, PIECE_COUNT + 1 after the last
};

void note_section(void* context, int section) {
  IndexRun* r = static_cast<IndexRun*>(context);
  double now = job_summary_seconds(r->summary);
  if (r->section >= 1)
    r->index->pieces[r->section - 1].end_seconds = now;
  if (section <= PIECE_COUNT) {
    r->index->pieces[section - 1].first_line = r->line + 1;
    r->index->pieces[section - 1].start_seconds = now;
  }
  r->section = section;
}

void index_line(void* context, const char* text, size_t length) {
  IndexRun* r = static_cast<IndexRun*>(context);
  JobSummary& s = r->summary;
  Layer before = {++r->line, 0, s.z_high, s.e, s.position[0], s.position[1]};
  job_summary_read_line(&s, text, length);
  // A move in X or Y whose E rises, a walk's first included, which
  // extrudes where the head stands; primes move no axis.
  bool across = std::string_view(text, length).find_first_of("XY") != std::string_view::npos;
  if (!across || s.e <= before.e || r->section < 1 || r->section > PIECE_COUNT)
    return;
  // Above every layer so far: the back strip's rows go back down.
  std::vector<Layer>& layers = r->index->pieces[r->section - 1].layers;
  if (layers.empty() || s.position[2] > layers.back().z) {
    before.z = s.position[2];
    layers.push_back(before);
  }
}

// At most `most` digits and nothing else into *value.
bool read_digits(std::string_view digits, size_t most, int64_t* value) {
  for (char c : digits) {
    if (c < '0' || c > '9' || digits.size() > most)
      return false;
    *value = *value * 10 + (c - '0');
  }
  return true;
}

// Whether the resume job holds line `at` of the complete job.
bool kept(const Resume* r, uint64_t at) { return at <= HEADER_LINES || at >= r->layer.line; }

bool resume_store(void* context, const char* line, size_t length) {
  Resume* r = static_cast<Resume*>(context);
  uint64_t at = r->count + 1;  // the look counts it, after this
  if (r->inner.store == nullptr || !kept(r, at))
    return true;
  for (size_t i = 0; at == r->layer.line && i < r->preamble.size(); ++i) {
    if (!r->inner.store(r->inner.context, r->preamble[i].data(), r->preamble[i].size()))
      return false;
  }
  return r->inner.store(r->inner.context, line, length);
}

void resume_look(void* context, const char* line, size_t length) {
  Resume* r = static_cast<Resume*>(context);
  uint64_t at = ++r->count;
  if (!kept(r, at))
    return;
  for (size_t i = 0; at == r->layer.line && i < r->preamble.size(); ++i)
    r->inner.look(r->inner.context, r->preamble[i].data(), r->preamble[i].size());
  r->inner.look(r->inner.context, line, length);
}

}  // namespace

void build_piece_index(const TypedValues& typed, PieceIndex* index) {
  *index = PieceIndex{};
  IndexRun run;
  run.index = index;
  // In memory, without a thread or the channel: the same lines, sooner.
  auto g = std::make_unique<GeneratorThread>();
  g->typed = &typed;
  g->sink = index_line;
  g->sink_context = &run;
  g->on_section = note_section;
  build_visor_paths(&g->paths);
  parse_z_start(g.get());
  send_job(g.get());
  free_visor_paths(&g->paths);
}

std::string pieces_table(const TypedValues& typed) {
  auto index = std::make_unique<PieceIndex>();
  build_piece_index(typed, index.get());
  std::string table = std::string(PIECES_HEADING) + "\n";
  for (int i = 0; i < PIECE_COUNT; ++i) {
    const Piece& p = index->pieces[i];
    // In minutes, rounded as the summary's time is.
    long long start = std::llround(p.start_seconds / 60), end = std::llround(p.end_seconds / 60);
    table += text_of(PIECES_ROW_FORMAT, i + 1, PIECE_NAMES[i], mm(p.layers.front().z).c_str(),
                     mm(p.layers.back().z).c_str(), p.layers.size(), start / 60, start % 60,
                     end / 60, end % 60, grouped(p.first_line).c_str());
  }
  return table;
}

bool parse_resume_point(std::string_view text, int* piece, int64_t* z) {
  int64_t number = 0, whole = 0, part = 0;
  size_t colon = text.find(':');
  if (colon == std::string_view::npos)
    return false;
  std::string_view height = text.substr(colon + 1);
  bool negative = height.starts_with('-');
  height.remove_prefix(negative ? 1 : 0);
  size_t point = std::min(height.find('.'), height.size());
  std::string_view decimals = height.substr(std::min(point + 1, height.size()));
  if (colon == 0 || point + decimals.size() == 0 ||
      !read_digits(text.substr(0, colon), 3, &number) ||
      !read_digits(height.substr(0, point), 6, &whole) || !read_digits(decimals, 3, &part))
    return false;
  for (size_t n = decimals.size(); n < 3; ++n)
    part *= 10;
  *piece = static_cast<int>(number);
  *z = (negative ? -1 : 1) * (whole * 1000 + part);
  return true;
}

std::string resume_choose(Resume* r, const PieceIndex& index) {
  if (r->piece < 1 || r->piece > PIECE_COUNT)
    return text_of(NO_SUCH_PIECE_TEXT, r->piece);
  if (r->piece == 3)  // its rows lie side by side at the same heights
    return SIDE_BY_SIDE_TEXT;
  const char* name = PIECE_NAMES[r->piece - 1];
  const std::vector<Layer>& layers = index.pieces[r->piece - 1].layers;
  if (r->z < layers.front().z || r->z > layers.back().z) {
    return text_of(OUTSIDE_LAYERS_TEXT, mm(r->z).c_str(),
                   r->z < layers.front().z ? "below" : "above", r->piece, name,
                   mm(layers.front().z).c_str(), mm(layers.back().z).c_str());
  }
  auto above = std::upper_bound(layers.begin(), layers.end(), r->z,
                                [](int64_t z, const Layer& layer) { return z < layer.z; });
  if (r->piece == 1 && above == layers.begin() + 1)
    return WHOLE_JOB_TEXT;
  const Layer& l = r->layer = above[-1];
  const std::string speed = r->typed.speed, heat = r->typed.heat_temp;
  const std::string safe = mm(std::max(l.z_high, l.z) + CLEARANCE), z = mm(l.z);
  r->where = text_of(RESUMED_FORMAT, r->piece, name, z.c_str(), grouped(l.line).c_str());
  // Up before any move across, heated before anything comes down, the
  // extruder at the E the printer held there; nothing extrudes.
  r->preamble = {
      std::string(RESUMED_COMMENT) + " " + r->where + "\n",
      "G90\n",
      "G1 F" + speed + " Z" + safe + "\n",
      "M106 S" + heat + "\n",
      "M109 S" + heat + "\n",
      "G92 E" + mm(l.e) + "\n",
      "G1 F" + speed + " X" + mm(l.x) + " Y" + mm(l.y) + " Z" + safe + "\n",
      "G1 F" + speed + " Z" + z + "\n",
  };
  return "";
}

std::string resume_prepare(Resume* r, const TypedValues& typed) {
  r->typed = typed;
  auto index = std::make_unique<PieceIndex>();
  build_piece_index(r->typed, index.get());
  return resume_choose(r, *index);
}

LineTaker resume_taker(Resume* r, const LineTaker& inner) {
  if (r == nullptr)
    return inner;
  r->inner = inner;
  r->count = 0;
  return LineTaker{resume_store, resume_look, r};
}

uint64_t resume_lines_left_out(const Resume* r) {
  if (r == nullptr)
    return 0;
  uint64_t left_out = r->layer.line - 1 - HEADER_LINES;
  return left_out - std::min<uint64_t>(left_out, r->preamble.size());
}

bool resume_recognise(std::string_view head, Resume* r) {
  for (uint64_t i = 0; i < HEADER_LINES; ++i)
    head.remove_prefix(std::min(head.find('\n'), head.size() - 1) + 1);
  std::string line(head.substr(0, head.find('\n')));
  char piece[8], z[16];
  // The piece and the Z as RESUMED_FORMAT gives them.
  return line.starts_with(RESUMED_COMMENT) &&
         sscanf(line.c_str() + strlen(RESUMED_COMMENT), " piece %7[0-9] (%*[^)]) at Z %15[-0-9.],",
                piece, z) == 2 &&
         parse_resume_point(std::string(piece) + ":" + z, &r->piece, &r->z);
}
