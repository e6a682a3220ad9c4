#include "frontend/job_summary.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

constexpr double PI = 3.14159265358979323846;

// More whole digits than any printer's reach: such a word is not read, and
// the sums cannot overflow.
constexpr ptrdiff_t MAX_WHOLE_DIGITS = 7;
constexpr size_t LINE_COPY_SIZE = 256;  // a longer line without "\n" is cut

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number ("-12.345", "300", "0.0") as thousandths, exactly;
// decimals past the third are dropped. Moves p past what it read. False
// when there is no digit or too many whole digits. The line ends in "\n".
bool read_thousandths(const char*& p, const char* end, int64_t* value) {
  bool negative = *p == '-';
  if (negative || *p == '+')
    ++p;
  uint64_t whole = 0, part = 0;
  const char* digits = p;
  p = std::from_chars(p, end, whole).ptr;
  ptrdiff_t whole_digits = p - digits;
  bool any_digit = whole_digits > 0;
  if (*p == '.') {
    const char* decimals = ++p;
    p = std::from_chars(p, std::min(p + 3, end), part).ptr;
    any_digit |= p > decimals;
    for (ptrdiff_t n = p - decimals; n < 3; ++n)
      part *= 10;
  }
  while (is_digit(*p))  // decimals past those read, or too many whole digits
    ++p;
  if (!any_digit || whole_digits > MAX_WHOLE_DIGITS)
    return false;
  int64_t v = static_cast<int64_t>(whole * 1000 + part);
  *value = negative ? -v : v;
  return true;
}

// One word of a line: its letter and number. False at the line's end or
// its comment.
struct Word {
  char letter;
  bool has_number;
  int64_t number;
};

bool next_word(const char*& p, const char* end, Word* w) {
  while (*p == ' ')
    ++p;
  char c = *p;
  if (c == '\n' || c == ';' || c == '\r')
    return false;
  w->letter = c;
  ++p;
  w->has_number = read_thousandths(p, end, &w->number);
  // Whatever follows an unreadable number up to the next blank is skipped.
  if (!w->has_number)
    while (*p != ' ' && *p != ';' && *p != '\n')
      ++p;
  return true;
}

void set_feed(JobSummary* s, int64_t feed) {
  if (feed == s->feed)
    return;
  // The length moved at the old rate is turned into time once, when the
  // rate changes, rather than divided move by move.
  if (s->feed > 0)
    s->moved_minutes += s->feed_length / static_cast<double>(s->feed);
  s->feed_length = 0;
  s->feed = feed > 0 ? feed : 0;
}

// Widens [*low, *high] to take `v`; the first value, while !*seen, is both.
void note_range(int64_t v, bool* seen, int64_t* low, int64_t* high) {
  if (!*seen) {
    *seen = true;
    *low = *high = v;
  } else if (v < *low) {
    *low = v;
  } else if (v > *high) {
    *high = v;
  }
}

void read_move(JobSummary* s, const char* p, const char* end) {
  int64_t to[3] = {s->position[0], s->position[1], s->position[2]};
  int64_t e = s->e;
  bool has_e = false, has_xy = false, has_z = false;
  Word w;
  while (next_word(p, end, &w)) {
    if (!w.has_number)
      continue;
    switch (w.letter) {
      case 'X':
        to[0] = w.number;
        has_xy = true;
        break;
      case 'Y':
        to[1] = w.number;
        has_xy = true;
        break;
      case 'Z':
        to[2] = w.number;
        has_z = true;
        break;
      case 'E':
        e = w.number;
        has_e = true;
        break;
      case 'F': set_feed(s, w.number); break;
      default: break;
    }
  }
  // In double: exact for any distance a printer can make, and no overflow
  // for one it cannot.
  double dx = static_cast<double>(to[0] - s->position[0]);
  double dy = static_cast<double>(to[1] - s->position[1]);
  double dz = static_cast<double>(to[2] - s->position[2]);
  double squared = dx * dx + dy * dy + dz * dz;
  if (squared > 0 && s->feed > 0)
    s->feed_length += std::sqrt(squared);
  if (has_e) {
    if (squared > 0 && e > s->e)
      note_range(to[2], &s->extruded, &s->print_z_low, &s->print_z_high);
    if (e > s->e_top) {
      s->filament += e - s->e_top;
      s->e_top = e;
    }
    s->e = e;
  }
  for (int axis = 0; axis < 3; ++axis)
    s->position[axis] = to[axis];
  if (has_z)
    note_range(to[2], &s->moved_z, &s->z_low, &s->z_high);
  if (has_xy) {
    // One flag for both axes: a move that names one has the other's
    // position too.
    bool y_seen = s->moved_xy;
    note_range(to[0], &s->moved_xy, &s->x_low, &s->x_high);
    note_range(to[1], &y_seen, &s->y_low, &s->y_high);
  }
}

void read_dwell(JobSummary* s, const char* p, const char* end) {
  int64_t ms = 0;
  Word w;
  while (next_word(p, end, &w)) {
    if (!w.has_number || w.number < 0)
      continue;
    if (w.letter == 'S')
      ms += w.number;  // thousandths of a second
    else if (w.letter == 'P')
      ms += w.number / 1000;
  }
  if (ms == 0)
    return;
  s->dwell_ms += ms;
  if (s->pause_count < PAUSES_SHOWN)
    s->pauses[s->pause_count] = Pause{ms, s->position[2]};
  ++s->pause_count;
}

int axis_of(char letter) {
  switch (letter) {
    case 'X': return 0;
    case 'Y': return 1;
    case 'Z': return 2;
    default: return -1;
  }
}

void read_set_position(JobSummary* s, const char* p, const char* end) {
  Word w;
  while (next_word(p, end, &w)) {
    if (!w.has_number)
      continue;
    int axis = axis_of(w.letter);
    if (axis >= 0) {
      s->position[axis] = w.number;
    } else if (w.letter == 'E') {
      s->e = s->e_top = w.number;
    }
  }
}

void read_home(JobSummary* s, const char* p, const char* end) {
  bool named = false;
  Word w;
  while (next_word(p, end, &w)) {
    int axis = axis_of(w.letter);
    if (axis >= 0) {
      s->position[axis] = 0;
      named = true;
    }
  }
  if (!named)
    s->position[0] = s->position[1] = s->position[2] = 0;
}

}  // namespace

void format_thousandths(char* out, size_t size, int64_t v) {
  uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  snprintf(out, size, "%s%" PRIu64 ".%03" PRIu64, v < 0 ? "-" : "", magnitude / 1000,
           magnitude % 1000);
}

namespace {

// "2" from 2000 ms, "0.25" from 250.
void format_seconds(char* out, size_t size, int64_t ms) {
  format_thousandths(out, size, ms);
  char* end = out + strlen(out);
  while (end[-1] == '0')
    *--end = '\0';
  if (end[-1] == '.')
    *--end = '\0';
}

// "2 s at Z 6.000, 60 s at Z 48.900", and how many more there were.
void format_pauses(char* out, size_t size, const JobSummary& s) {
  size_t length = static_cast<size_t>(snprintf(out, size, "%s", PAUSES_LABEL));
  if (s.pause_count == 0)
    snprintf(out + length, size - length, "%s", NO_PAUSES_TEXT);
  for (int i = 0; i < s.pause_count && i < PAUSES_SHOWN && length < size; ++i) {
    char seconds[24], z[24];
    format_seconds(seconds, sizeof seconds, s.pauses[i].ms);
    format_thousandths(z, sizeof z, s.pauses[i].z);
    length += static_cast<size_t>(
        snprintf(out + length, size - length, "%s%s s at Z %s", i > 0 ? ", " : "", seconds, z));
  }
  if (s.pause_count > PAUSES_SHOWN && length < size)
    snprintf(out + length, size - length, PAUSES_MORE_FORMAT, s.pause_count - PAUSES_SHOWN);
}

// `line` to `end` ends in "\n".
void read_line(JobSummary* s, const char* line, const char* end) {
  if (line[0] != 'G' || !is_digit(line[1]))
    return;  // comments, M codes
  const char* p = line + 1;
  int code = 0;
  for (; is_digit(*p) && code < 1000; ++p)
    code = code * 10 + (*p - '0');
  if (*p != ' ' && *p != '\n' && *p != '\r' && *p != ';')
    return;  // "G1.5", "G1X": not a code this reader knows
  switch (code) {
    case 0:
    case 1: read_move(s, p, end); break;
    case 4: read_dwell(s, p, end); break;
    case 28: read_home(s, p, end); break;
    case 92: read_set_position(s, p, end); break;
    default: break;  // G90 and the like change nothing counted here
  }
}

}  // namespace

void job_summary_read_line(JobSummary* s, const char* line, size_t length) {
  if (length > 0 && line[length - 1] == '\n') {
    read_line(s, line, line + length);
    return;
  }
  char copy[LINE_COPY_SIZE + 1];
  size_t n = length < LINE_COPY_SIZE ? length : LINE_COPY_SIZE;
  memcpy(copy, line, n);
  copy[n] = '\n';
  read_line(s, copy, copy + n + 1);
}

double job_summary_seconds(const JobSummary& s) {
  double minutes = s.moved_minutes;
  if (s.feed > 0)
    minutes += s.feed_length / static_cast<double>(s.feed);
  return minutes * 60.0 + static_cast<double>(s.dwell_ms) / 1000.0;
}

double job_summary_grams(const JobSummary& s) {
  double radius_mm = FILAMENT_DIAMETER_MM / 2;
  double cubic_mm = PI * radius_mm * radius_mm * (static_cast<double>(s.filament) / 1000.0);
  return cubic_mm / 1000.0 * PLA_GRAMS_PER_CM3;
}

SummaryText job_summary_text(const JobSummary& s) {
  SummaryText t = {};
  int64_t minutes = std::llround(job_summary_seconds(s) / 60.0);
  // Hundredths of a metre, rounded half up, in integers: the same digits
  // from every C library.
  int64_t centimetres = (s.filament + 5000) / 10000;
  snprintf(t.time_line, sizeof t.time_line,
           "%s%" PRId64 " h %" PRId64 " min%s%" PRId64 ".%02" PRId64 " m (%" PRId64 " g %s)",
           PRINT_TIME_LABEL, minutes / 60, minutes % 60, FILAMENT_LABEL, centimetres / 100,
           centimetres % 100, static_cast<int64_t>(std::llround(job_summary_grams(s))),
           FILAMENT_MATERIAL);

  if (s.extruded) {
    char low[24], high[24];
    format_thousandths(low, sizeof low, s.print_z_low);
    format_thousandths(high, sizeof high, s.print_z_high);
    snprintf(t.height_line, sizeof t.height_line, "%sZ %s to %s mm", HEIGHT_LABEL, low, high);
  } else {
    snprintf(t.height_line, sizeof t.height_line, "%s%s", HEIGHT_LABEL, NOTHING_EXTRUDED_TEXT);
  }

  bool below = s.moved_z && s.z_low < 0;
  bool above = s.moved_z && s.z_high > BUILD_HEIGHT_THOUSANDTHS;
  t.warning = below && above ? OUTSIDE_BUILD_HEIGHT_TEXT
              : below        ? BELOW_BED_TEXT
              : above        ? ABOVE_BUILD_HEIGHT_TEXT
                             : nullptr;

  format_pauses(t.pauses_line, sizeof t.pauses_line, s);
  if (s.moved_xy) {
    char x_low[24], x_high[24], y_low[24], y_high[24];
    format_thousandths(x_low, sizeof x_low, s.x_low);
    format_thousandths(x_high, sizeof x_high, s.x_high);
    format_thousandths(y_low, sizeof y_low, s.y_low);
    format_thousandths(y_high, sizeof y_high, s.y_high);
    snprintf(t.footprint_line, sizeof t.footprint_line, "%sX %s to %s, Y %s to %s mm",
             FOOTPRINT_LABEL, x_low, x_high, y_low, y_high);
  } else {
    snprintf(t.footprint_line, sizeof t.footprint_line, "%s%s", FOOTPRINT_LABEL, NO_XY_MOVE_TEXT);
  }
  bool off_bed =
      s.moved_xy && (s.x_low < -BED_HALF_THOUSANDTHS || s.x_high > BED_HALF_THOUSANDTHS ||
                     s.y_low < -BED_HALF_THOUSANDTHS || s.y_high > BED_HALF_THOUSANDTHS);
  t.bed_warning = off_bed ? OFF_BED_TEXT : nullptr;
  return t;
}

void summary_lines(const SummaryText& t, const char* lines[SUMMARY_LINES]) {
  const char* in_order[SUMMARY_LINES] = {t.time_line, t.pauses_line,    t.height_line,
                                         t.warning,   t.footprint_line, t.bed_warning};
  for (int i = 0; i < SUMMARY_LINES; ++i)
    lines[i] = in_order[i];
}
