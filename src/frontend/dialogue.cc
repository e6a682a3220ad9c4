#include "frontend/dialogue.h"

#include <cstdio>

#include "frontend/messages.h"
#include "platform/output_file.h"

void make_job_result(JobResult* r, const JobSummary& summary, const char* path, uint64_t bytes) {
  r->summary = job_summary_text(summary);
  r->path = path;
  r->bytes = bytes;
  char line[OUTPUT_PATH_SIZE + 64];
  format_file_line(line, sizeof line, path, bytes, 0);
  r->file_line = line;
  r->lines[0] = CREATED_TEXT;
  r->lines[1] = r->file_line.c_str();
  r->lines[2] = r->resume_line.empty() ? nullptr : r->resume_line.c_str();
  summary_lines(r->summary, r->lines + 3);
  r->lines[RESULT_LINES - 1] = COPY_CHECK_TEXT;
}

std::string job_result_text(const JobResult& r, const char* only) {
  std::string text;
  for (const char* line : r.lines) {
    if (line != nullptr && (only == nullptr || line == only))
      text.append(line).append("\n");
  }
  return text;
}

void dialogue_open(Dialogue* d, const TypedValues* given, int in_fd, int out_fd, int err_fd) {
  int columns = 0, rows = 0;
  bool full_screen = false;
  d->lines.out_fd = out_fd;
  d->lines.error_fd = err_fd;
  if (given == nullptr) {
    const ConsoleSetup setup = {WINDOW_TITLE, SCREEN_COLUMNS, SCREEN_ROWS, WINDOW_TOO_SMALL_NOTICE};
    int opened = console_open(&d->console, setup, &columns, &rows);
    full_screen = opened == CONSOLE_OPENED;
    if (opened == CONSOLE_TOO_SMALL) {
      char why[128];
      snprintf(why, sizeof why, WINDOW_TOO_SMALL_FORMAT, columns, rows, SCREEN_COLUMNS,
               SCREEN_ROWS);
      line_dialogue_print(&d->lines, why);
    }
  }
  d->mode = given != nullptr ? &GIVEN_MODE : full_screen ? &SCREEN_MODE : &LINE_MODE;
  if (!full_screen)
    line_dialogue_open(&d->lines, in_fd, out_fd, err_fd);
  progress_init(&d->bar);
}

int dialogue_ask_values(Dialogue* d, TypedValues* typed) {
  if (d->mode->ask == nullptr)
    return 1;
  for (;;) {
    if (d->mode->begin != nullptr)
      d->mode->begin(d);
    int result = FIELD_ACCEPTED;
    for (FieldKind kind : {FIELD_Z_START, FIELD_HEAT_TEMP, FIELD_SPEED}) {
      result = d->mode->ask(d, kind, typed_text(typed, kind));
      if (result != FIELD_ACCEPTED)
        break;
    }
    if (result != FIELD_REJECTED)
      return result == FIELD_ACCEPTED ? 1 : -1;
  }
}

void dialogue_end(Dialogue* d) {
  if (d->mode->end != nullptr)
    d->mode->end(d);
}

void dialogue_saving(Dialogue* d) {
  if (d->mode->saving != nullptr)
    d->mode->saving(d);
}

void dialogue_finish(Dialogue* d, const JobResult& result) { d->mode->finish(d, result); }

void dialogue_fail(Dialogue* d, const char* message) {
  d->mode->close(d);
  line_dialogue_print_error(&d->lines, message);
}
