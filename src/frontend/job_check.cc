#include "frontend/job_check.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "frontend/entry_field.h"
#include "frontend/messages.h"

namespace {

// How much of a line of the file is looked at to show it, or to find the
// header in it: more than any line of a job. At most JOB_READ_HEADROOM.
constexpr size_t LOOK_LIMIT = 512;
// A line that differs far to the right is shown from a little before the
// first character that differs, so that the difference is in sight.
constexpr size_t SHOWN_BEFORE = 20;

constexpr char HEADER_PREFIX[] = "; With z_start: ";
constexpr char HEADER_HEAT_TEMP[] = " heat temp: ";
constexpr char HEADER_SPEED[] = " speed: ";

const char* const VALUE_NAMES[] = {Z_START_NAME, HEAT_TEMP_NAME, SPEED_NAME};

// The file as it is read: the bytes from `pos` to `end` are read and not
// yet compared. A line that runs past the block is joined to its start,
// which is moved into the headroom before the block.
struct FileCursor {
  JobReader* reader;
  const char* pos = nullptr;
  const char* end = nullptr;
  bool failed = false;

  size_t available() const { return static_cast<size_t>(end - pos); }
};

// At least n bytes (n at most JOB_READ_HEADROOM) from `pos`, unless the
// file ends first. False when a read failed.
bool fill(FileCursor* f, size_t n) {
  while (f->available() < n && !f->reader->ended) {
    size_t rest = f->available();
    char* to = f->reader->block - rest;
    if (rest > 0)
      memmove(to, f->pos, rest);
    ptrdiff_t got = job_reader_read(f->reader);
    if (got < 0) {
      f->failed = true;
      return false;
    }
    f->pos = to;
    f->end = f->reader->block + got;
  }
  return true;
}

// The file's next line as far as it is looked at: its text without the
// line end, whether it has one, and whether the file ends in it.
struct FileLine {
  std::string_view text;
  bool has_end;
  bool file_ends;
};

FileLine look_at_line(FileCursor* f) {
  fill(f, LOOK_LIMIT);
  size_t n = std::min(f->available(), LOOK_LIMIT);
  const void* line_end = memchr(f->pos, '\n', n);
  if (line_end == nullptr)
    return {{f->pos, n}, false, n == f->available() && f->reader->ended};
  return {{f->pos, static_cast<size_t>(static_cast<const char*>(line_end) - f->pos)}, true, false};
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_one_of(std::string_view word, const char* const* names, int count) {
  for (int i = 0; i < count; ++i)
    if (word == names[i])
      return true;
  return false;
}

// "; Generated at Mon Dec  8 10:42:17 2026", as the generator makes it.
bool is_time_line(std::string_view line) {
  static const char* const DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  constexpr std::string_view PREFIX = "; Generated at ";
  if (line.size() != PREFIX.size() + 24 || !line.starts_with(PREFIX))
    return false;
  std::string_view t = line.substr(PREFIX.size());
  // "Www Mmm dd hh:mm:ss yyyy"
  const char* form = "aaa aaa d9 99:99:99 9999";
  for (size_t i = 0; i < t.size(); ++i) {
    char want = form[i];
    if ((want == '9' && !is_digit(t[i])) || (want == 'd' && t[i] != ' ' && !is_digit(t[i])) ||
        (want != '9' && want != 'd' && want != 'a' && t[i] != want))
      return false;
  }
  int day = (t[8] == ' ' ? 0 : t[8] - '0') * 10 + (t[9] - '0');
  int hour = (t[11] - '0') * 10 + (t[12] - '0');
  int minute = (t[14] - '0') * 10 + (t[15] - '0');
  int second = (t[17] - '0') * 10 + (t[18] - '0');
  return is_one_of(t.substr(0, 3), DAYS, 7) && is_one_of(t.substr(4, 3), MONTHS, 12) && day >= 1 &&
         day <= 31 && hour <= 23 && minute <= 59 && second <= 60;
}

}  // namespace

std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  std::string s;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      s += ',';
    s += digits[i];
  }
  return s;
}

namespace {

// The file's name as given, unless it holds bytes a terminal would take
// for commands, or is too long to read: then quoted, those shown as \xNN,
// a long one cut as a long value is.
std::string shown_name(const char* path) {
  constexpr size_t LONGEST_SHOWN = 100;
  bool plain = strlen(path) <= LONGEST_SHOWN;
  for (const char* p = path; plain && *p != '\0'; ++p)
    plain = static_cast<unsigned char>(*p) >= 0x20 && *p != 0x7F;
  return plain ? std::string(path) : quoted_text(path);
}

void add_line(std::string* report, const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.back() = '\n';
  *report += text;
}

// A line shown under its label, quoted; from a little before `from` when
// that lies far to the right.
void add_shown(std::string* report, const char* label, std::string_view text, size_t from,
               const char* note = "") {
  *report += label;
  if (from > SHOWN_BEFORE + 10) {
    *report += "...";
    text.remove_prefix(std::min(text.size(), from - SHOWN_BEFORE));
  }
  *report += quoted_text(text);
  *report += note;
  *report += '\n';
}

std::string_view without_line_end(std::string_view line) {
  if (!line.empty() && line.back() == '\n')
    line.remove_suffix(1);
  return line;
}

size_t first_difference(std::string_view a, std::string_view b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i])
    ++i;
  return i;
}

enum Outcome {
  SAME,         // every line so far is the job's
  DIFFERS,      // line `line` is not the job's
  MISSING,      // line `line` is not in the file, which goes on with the next
  TIME_LINE,    // line 1 is not a time line
  CR_LF,        // line 1 ends in CR LF: a copy made as text
  ENDS,         // the file ends after line - 1 lines
  CUT,          // the file ends inside line `line`
  READ_FAILED,  // a read failed after line - 1 lines
  LONGER,       // the whole job, then more
};

// The first place where the file is not the job.
struct Finding {
  Outcome outcome = SAME;
  uint64_t line = 0;
  std::string expected;  // without its line end
  std::string found;     // as far as it was looked at, without its line end
  bool found_has_end = false;
  bool file_ends = false;  // in the line found
  int error = 0;
};

struct Comparison {
  JobCheck* check = nullptr;
  FileCursor file;
  uint64_t line = 0;  // lines received
  Finding finding;
};

void note(Comparison* c, Outcome outcome, std::string_view expected, const FileLine& found) {
  Finding& f = c->finding;
  f.outcome = outcome;
  f.line = c->line;
  f.expected = without_line_end(expected);
  f.found = found.text;
  f.found_has_end = found.has_end;
  f.file_ends = found.file_ends;
}

// A read failed in line `line`.
void note_read_failure(Comparison* c, uint64_t line) {
  c->finding = Finding{};
  c->finding.outcome = READ_FAILED;
  c->finding.line = line;
  c->finding.error = c->file.reader->error;
}

// Compares the job's next line with the file's. Made for the common case,
// a whole line in the block that is the same.
void compare_line(Comparison* c, const char* text, size_t length) {
  FileCursor* f = &c->file;
  ++c->line;
  if (c->line == 1) {
    FileLine first = look_at_line(f);
    if (!f->failed && first.has_end && is_time_line(first.text)) {
      f->pos += first.text.size() + 1;
      return;
    }
    if (f->failed)
      note_read_failure(c, c->line);
    else
      note(c,
           first.text.empty() && !first.has_end          ? ENDS
           : first.has_end && first.text.ends_with('\r') ? CR_LF
                                                         : TIME_LINE,
           {text, length}, first);
    return;
  }
  if ((f->available() >= length || (fill(f, length) && f->available() >= length)) &&
      memcmp(f->pos, text, length) == 0) {
    f->pos += length;
    return;
  }
  FileLine found = f->failed ? FileLine{} : look_at_line(f);
  if (f->failed) {
    note_read_failure(c, c->line);
    return;
  }
  std::string_view expected(text, length);
  if (found.text.empty() && !found.has_end)
    note(c, ENDS, expected, found);
  else if (found.file_ends && expected.starts_with(found.text))
    note(c, CUT, expected, found);
  else
    note(c, DIFFERS, expected, found);
}

// After a line that differs, the job's next line: when it is the line
// found, the job's line is missing from the file.
void look_for_missing_line(Comparison* c, const char* text, size_t length) {
  ++c->line;
  Finding& f = c->finding;
  if (f.outcome == DIFFERS && c->line == f.line + 1 && f.found_has_end &&
      without_line_end({text, length}) == f.found)
    f.outcome = MISSING;
}

void compare_next(void* context, const char* text, size_t length) {
  Comparison* c = static_cast<Comparison*>(context);
  if (c->finding.outcome == SAME) {
    compare_line(c, text, length);
    job_summary_read_line(&c->check->summary, text, length);
  } else {
    look_for_missing_line(c, text, length);
  }
}

// The header's line 2 into the three typed texts, each checked as an
// option's value is. False with the report written.
bool read_header(JobCheck* c, FileCursor* f, const std::string& name) {
  FileLine first = look_at_line(f);
  if (f->failed) {
    add_line(&c->report, CANNOT_READ_TEXT, name.c_str(), strerror(c->reader.error));
    return false;
  }
  if (first.text.empty() && !first.has_end) {
    add_line(&c->report, CHECK_EMPTY_TEXT, name.c_str());
    return false;
  }
  std::string_view second;
  bool has_second = false;
  if (first.has_end) {
    FileCursor after = *f;
    after.pos += first.text.size() + 1;
    size_t n = std::min(after.available(), LOOK_LIMIT);
    const void* line_end = memchr(after.pos, '\n', n);
    has_second = n > 0;
    second = {after.pos, line_end == nullptr
                             ? n
                             : static_cast<size_t>(static_cast<const char*>(line_end) - after.pos)};
  }
  if (!has_second) {
    add_line(&c->report, CHECK_NO_HEADER_TEXT, name.c_str());
    return false;
  }
  // A copy that turned line ends into CR LF is shown at line 1, where the
  // compare finds it, not taken for a wrong speed here.
  if (second.ends_with('\r'))
    second.remove_suffix(1);
  std::string_view texts[3];
  size_t heat = second.find(HEADER_HEAT_TEMP);
  size_t speed = heat == std::string_view::npos ? heat : second.find(HEADER_SPEED, heat);
  if (!second.starts_with(HEADER_PREFIX) || speed == std::string_view::npos) {
    add_line(&c->report, CHECK_NOT_A_JOB_TEXT, name.c_str());
    c->report += std::string(CHECK_EXPECTED_LABEL) + CHECK_HEADER_FORM_TEXT + "\n";
    add_shown(&c->report, CHECK_FOUND_LABEL, second, 0);
    return false;
  }
  size_t z_start = sizeof HEADER_PREFIX - 1;
  texts[FIELD_Z_START] = second.substr(z_start, heat - z_start);
  heat += sizeof HEADER_HEAT_TEMP - 1;
  texts[FIELD_HEAT_TEMP] = second.substr(heat, speed - heat);
  texts[FIELD_SPEED] = second.substr(speed + sizeof HEADER_SPEED - 1);
  for (FieldKind kind : {FIELD_Z_START, FIELD_HEAT_TEMP, FIELD_SPEED}) {
    if (!value_text_is_valid(texts[kind], kind, typed_text(&c->typed, kind))) {
      add_line(&c->report, CHECK_INVALID_VALUE_TEXT, name.c_str(), VALUE_NAMES[kind],
               quoted_text(texts[kind]).c_str(), VALUE_RULE_TEXTS[kind]);
      return false;
    }
  }
  return true;
}

int finish(JobCheck* c, int status) {
  job_reader_close(&c->reader);
  return status;
}

int fail(JobCheck* c, const char* format, const std::string& name) {
  add_line(&c->report, format, name.c_str());
  return finish(c, 1);
}

// The value as the answer names it: an empty text as "".
const char* shown_value(const char* text) { return *text == '\0' ? "\"\"" : text; }

void report_finding(JobCheck* c, const Finding& f, const std::string& name) {
  std::string* r = &c->report;
  std::string all = grouped(c->job_lines);
  std::string line = grouped(f.line);
  std::string held = grouped(f.line - 1);
  const char* ends_note = f.file_ends ? CHECK_FILE_ENDS_NOTE : "";
  switch (f.outcome) {
    case SAME: break;
    case DIFFERS: {
      size_t from = first_difference(f.expected, f.found);
      add_line(r, CHECK_DIFFERS_TEXT, name.c_str(), line.c_str(), all.c_str(), from + 1);
      add_shown(r, CHECK_EXPECTED_LABEL, f.expected, from);
      add_shown(r, CHECK_FOUND_LABEL, f.found, from, ends_note);
      break;
    }
    case MISSING:
      add_line(r, CHECK_MISSING_TEXT, name.c_str(), line.c_str(), all.c_str());
      add_shown(r, CHECK_MISSING_LABEL, f.expected, 0);
      break;
    case TIME_LINE:
      add_line(r, CHECK_TIME_LINE_TEXT, name.c_str(), all.c_str());
      *r += std::string(CHECK_EXPECTED_LABEL) + CHECK_TIME_FORM_TEXT + "\n";
      add_shown(r, CHECK_FOUND_LABEL, f.found, 0, ends_note);
      break;
    case CR_LF: add_line(r, CHECK_CR_LF_TEXT, name.c_str()); break;
    case ENDS: add_line(r, CHECK_SHORT_TEXT, name.c_str(), held.c_str(), all.c_str()); break;
    case CUT:
      if (f.line == c->job_lines && f.found == f.expected) {
        add_line(r, CHECK_NO_LINE_END_TEXT, name.c_str(), line.c_str());
        break;
      }
      add_line(r, CHECK_CUT_TEXT, name.c_str(), held.c_str(), all.c_str(), line.c_str());
      add_shown(r, CHECK_EXPECTED_LABEL, f.expected, 0);
      add_shown(r, CHECK_FOUND_LABEL, f.found, 0, ends_note);
      break;
    case READ_FAILED:
      add_line(r, CANNOT_READ_AFTER_TEXT, name.c_str(), held.c_str(), strerror(f.error));
      break;
    case LONGER:
      add_line(r, CHECK_LONGER_TEXT, name.c_str(), all.c_str());
      add_shown(r, CHECK_FOUND_LABEL, f.found, 0, ends_note);
      break;
  }
}

}  // namespace

int check_job(JobCheck* c) {
  // A folder (the card) is checked for the job in it, as an operator means.
  std::string path = c->path;
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    path = (std::filesystem::path(path) / OUTPUT_FILE_NAME).string();
  std::string name = shown_name(path.c_str());
  c->report.clear();
  c->job_lines = 0;
  c->summary = JobSummary{};

  if (job_reader_open(&c->reader, path.c_str()) < 0) {
    add_line(&c->report, CANNOT_READ_TEXT, name.c_str(),
             c->reader.not_a_file ? NOT_A_FILE_REASON : strerror(c->reader.error));
    return 1;
  }
  Comparison cmp;
  cmp.file.reader = &c->reader;
  if (!read_header(c, &cmp.file, name)) {
    job_reader_close(&c->reader);
    return 1;
  }
  // A resume job is compared with the resume job made again.
  Resume* resume =
      resume_recognise({cmp.file.pos, cmp.file.available()}, &c->resume) ? &c->resume : nullptr;
  if (resume != nullptr && !resume_prepare(resume, c->typed).empty())
    return fail(c, CHECK_BAD_RESUME_TEXT, name);
  // The header was read through the cache; the compare starts over from
  // the device.
  if (job_reader_start_over(&c->reader, c->from_device) < 0) {
    add_line(&c->report, CANNOT_READ_TEXT, name.c_str(), strerror(c->reader.error));
    job_reader_close(&c->reader);
    return 1;
  }
  cmp.file.pos = cmp.file.end = nullptr;

  // Nothing to store first: the generator makes its next line while this
  // one is compared.
  cmp.check = c;
  RunEnd end = run_generator(&c->run, resume_taker(resume, {nullptr, compare_next, &cmp}));
  if (end != RUN_COMPLETE) {
    const char* head = run_start_failure(end);
    return fail(c, head != nullptr ? head : CHECK_STOPPED_TEXT, name);
  }
  c->job_lines = cmp.line;

  if (cmp.finding.outcome == SAME) {
    FileLine more = look_at_line(&cmp.file);
    if (cmp.file.failed) {
      note_read_failure(&cmp, cmp.line + 1);
    } else if (!more.text.empty() || more.has_end) {
      cmp.finding.outcome = LONGER;
      cmp.finding.found = more.text;
      cmp.finding.found_has_end = more.has_end;
      cmp.finding.file_ends = more.file_ends;
    }
  }
  if (cmp.finding.outcome != SAME) {
    report_finding(c, cmp.finding, name);
    return finish(c, 1);
  }
  std::string all = grouped(c->job_lines);
  const char* head = resume != nullptr ? CHECK_RESUME_TEXT : CHECK_COMPLETE_TEXT;
  add_line(&c->report, head, name.c_str(), shown_value(c->typed.z_start),
           shown_value(c->typed.heat_temp), shown_value(c->typed.speed), all.c_str());
  if (resume != nullptr)
    add_line(&c->report, "%s%s", RESUMES_LABEL, resume->where.c_str());
  SummaryText summary = job_summary_text(c->summary);
  const char* figures[SUMMARY_LINES];
  summary_lines(summary, figures);
  for (const char* figure : figures) {
    if (figure != nullptr)
      add_line(&c->report, "%s", figure);
  }
  if (c->from_device && !c->reader.from_device)
    add_line(&c->report, "%s", CHECK_CACHED_TEXT);
  return finish(c, 0);
}
