#include "frontend/resume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/job_check.h"
#include "frontend/messages.h"
#include "generator/test_sink.h"

namespace {

const TypedValues TYPED = {"0.4", "210", "300"};

// Where each piece begins in the complete job, from the line counts of the
// print program's sections, and where the end sequence begins.
constexpr uint64_t PIECE_STARTS[PIECE_COUNT + 1] = {10,     18806,  37604,  66084,  225701,
                                                    482224, 740577, 809456, 909220, 3758385};

// The value after " L" in a line (the letter as a word of it), if any.
bool value_of(std::string_view line, char letter, double* value) {
  const char word[] = {' ', letter, '\0'};
  size_t at = line.find(word);
  if (at == std::string_view::npos)
    return false;
  *value = strtod(std::string(line.substr(at + 2)).c_str(), nullptr);
  return true;
}

// The printer's state as the lines leave it, read here on its own: the last
// X, Y, Z and E any line named, and the highest Z named so far.
struct Head {
  double x = 0, y = 0, z = 0, e = 0;
  double top = -1e9;
  bool extrudes = false;  // the last line moved in X or Y and named E

  void take(std::string_view line) {
    bool has_x = value_of(line, 'X', &x), has_y = value_of(line, 'Y', &y);
    double new_e = e;
    extrudes = value_of(line, 'E', &new_e) && (has_x || has_y) && line.starts_with("G1 ");
    e = new_e;
    if (value_of(line, 'Z', &z) && z > top)
      top = z;
  }
};

// Lines back to back, with where each begins.
struct Lines {
  std::string text;
  std::vector<size_t> starts;

  std::string_view line(size_t i) const {
    size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
    return std::string_view(text).substr(starts[i], end - starts[i]);
  }
};

void append(Lines* out, const char* line, size_t length) {
  out->starts.push_back(out->text.size());
  out->text.append(line, length);
}

// What a taker is given: stored as the run stores it, looked at as the run
// and the check look at it.
struct Taken {
  Lines stored, looked;
};

bool keep_stored(void* context, const char* line, size_t length) {
  append(&static_cast<Taken*>(context)->stored, line, length);
  return true;
}

void keep_looked(void* context, const char* line, size_t length) {
  append(&static_cast<Taken*>(context)->looked, line, length);
}

const PieceIndex& index_of_job() {
  static const std::unique_ptr<PieceIndex> index = [] {
    auto made = std::make_unique<PieceIndex>();
    build_piece_index(TYPED, made.get());
    return made;
  }();
  return *index;
}

TEST(Resume, EachPointResumesTheCompleteJobAtItsLayer) {
  std::unique_ptr<CapturedRun> job = captured_job(TYPED.z_start, TYPED.heat_temp, TYPED.speed);
  const size_t job_lines = job->count() - 1;  // without the end marker
  ASSERT_EQ(job_lines, 3758388u);
  const PieceIndex& index = index_of_job();
  for (int piece = 1; piece <= PIECE_COUNT; ++piece)
    EXPECT_EQ(index.pieces[piece - 1].first_line, PIECE_STARTS[piece - 1]) << piece;

  struct Point {
    int piece;
    const char* z;   // as asked for
    double layer_z;  // the layer it names
  } points[] = {
      {1, "0.95", 0.950},                        // the second layer, where its first walk begins
      {1, "3.150", 3.150},                       // the last layer of the first piece
      {2, "0.4", 0.400},                         // a first layer, after the retraction and travel
      {4, "3", 2.850},                           // between two layers: the lower one
      {5, "20.45", 20.400},    {6, "6", 6.000},  // after the travel across, the descent, the pause
      {7, "30", 30.000},       {7, "48.9", 48.900},  // the cap of the centre post
      {8, "48.9", 48.900},                           // after a retraction, a reposition and a pause
      {9, "150", 149.701},                           // the README's example
      {9, "194.153", 194.153},                       // the last layer of the job
  };
  for (const Point& p : points) {
    SCOPED_TRACE(std::to_string(p.piece) + ":" + p.z);
    Resume r;
    r.typed = TYPED;
    ASSERT_TRUE(parse_resume_point(std::to_string(p.piece) + ":" + p.z, &r.piece, &r.z));
    ASSERT_EQ(resume_choose(&r, index), "");

    // The layer's first extruding move within the piece, and the state
    // before it, read from the complete job here.
    Head head, before;
    size_t at = 0;  // the line, from 0
    for (size_t i = 0; i < job_lines && at == 0; ++i) {
      before = head;
      head.take(job->line(i));
      if (head.extrudes && i + 1 >= PIECE_STARTS[p.piece - 1] && i + 1 < PIECE_STARTS[p.piece] &&
          std::abs(head.z - p.layer_z) < 1e-4)
        at = i;
    }
    ASSERT_GT(at, 0u);

    Taken taken;
    LineTaker taker = resume_taker(&r, LineTaker{keep_stored, keep_looked, &taken});
    for (size_t i = 0; i < job_lines; ++i) {
      const char* line = job->text.data() + job->starts[i];
      size_t length = job->starts[i + 1] - job->starts[i];
      ASSERT_TRUE(taker.store(taker.context, line, length));
      taker.look(taker.context, line, length);
    }
    const Lines& out = taken.stored;
    // The check only looks, and is given the same job.
    EXPECT_TRUE(taken.looked.text == out.text);

    // The header, then the line that says where.
    for (size_t i = 0; i < HEADER_LINES; ++i)
      EXPECT_EQ(out.line(i), job->line(i) + "\n");
    std::string name = PIECE_NAMES[p.piece - 1];
    EXPECT_EQ(out.line(5), "; Resumed piece " + std::to_string(p.piece) + " (" + name + ") at Z " +
                               printf3(p.layer_z) + ", line " + grouped(at + 1) +
                               " of the complete job\n");

    // Then the preamble, then the complete job from that line on.
    const size_t tail = job_lines - at;
    ASSERT_GT(out.starts.size(), tail + HEADER_LINES + 1);
    const size_t preamble_end = out.starts.size() - tail;
    // Compared line by line, so that a failure shows the first line that
    // differs rather than the whole tail.
    for (size_t i = 0; i < tail; ++i) {
      ASSERT_EQ(out.line(preamble_end + i), job->line(at + i) + "\n")
          << "line " << i << " of the tail";
    }

    // Up before across, hot before down, nothing extruded; it ends where the
    // complete job stands before that line.
    Head pre;
    pre.z = pre.top = -1e9;
    bool heated = false;
    for (size_t i = HEADER_LINES + 1; i < preamble_end; ++i) {
      std::string_view line = out.line(i);
      SCOPED_TRACE(std::string(line));
      double old_z = pre.z, e = 0;
      if (line.starts_with("G92 ")) {
        ASSERT_TRUE(value_of(line, 'E', &pre.e));
      } else {
        EXPECT_FALSE(value_of(line, 'E', &e));
      }
      pre.take(line);
      heated |= line.starts_with("M109 S210");
      if (line.find(" X") != std::string_view::npos || line.find(" Y") != std::string_view::npos) {
        EXPECT_GE(std::min(old_z, pre.z), before.top - 1e-9);
      }
      if (pre.z < old_z - 1e-9) {
        EXPECT_TRUE(heated);
      }
    }
    EXPECT_EQ(printf3(pre.x), printf3(before.x));
    EXPECT_EQ(printf3(pre.y), printf3(before.y));
    EXPECT_EQ(printf3(pre.z), printf3(p.layer_z));
    EXPECT_EQ(printf3(pre.e), printf3(before.e));
    EXPECT_EQ(out.line(HEADER_LINES + 1), "G90\n");
  }
}

TEST(Resume, RefusesWhereNoLayerIsNamed) {
  const PieceIndex& index = index_of_job();
  struct Case {
    const char* point;
    const char* why;
  } cases[] = {
      {"0:1", "there is no piece 0: the pieces are 1 to 9"},
      {"10:50", "there is no piece 10"},
      {"3:0.6",
       "five rows side by side, so a height does not name one place in it: the job "
       "must start again"},
      {"3:0.4", "five rows side by side"},
      {"1:0.4", "the first layer of piece 1 is where the complete job starts"},
      {"1:0.949", "the first layer of piece 1"},
      {"1:0.399",
       "Z 0.399 is below the layers of piece 1 (left bar), which lie from Z 0.400 to 3.150"},
      {"1:3.151", "Z 3.151 is above the layers of piece 1 (left bar)"},
      {"5:5.999",
       "Z 5.999 is below the layers of piece 5 (left post), which lie from Z 6.000 to "
       "48.200"},
      {"9:194.154",
       "Z 194.154 is above the layers of piece 9 (front wall), which lie from Z "
       "52.400 to 194.153"},
      {"6:-1", "Z -1.000 is below the layers of piece 6 (right post)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.point);
    Resume r;
    r.typed = TYPED;
    ASSERT_TRUE(parse_resume_point(c.point, &r.piece, &r.z));
    std::string why = resume_choose(&r, index);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_TRUE(r.preamble.empty());
  }
}

}  // namespace
