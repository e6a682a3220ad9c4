#include "frontend/dialogue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "frontend/messages.h"
#include "platform/output_file.h"

void make_job_result(JobResult* r, const JobSummary& summary, const char* path, uint64_t bytes,
                     const std::string& command) {
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
  r->check_line.resize(sizeof COPY_CHECK_FORMAT + command.size());
  r->check_line.resize(static_cast<size_t>(
      snprintf(r->check_line.data(), r->check_line.size(), COPY_CHECK_FORMAT, command.c_str())));
  r->lines[RESULT_LINES - 1] = r->check_line.c_str();
}

std::string own_command(const char* argv0) {
  namespace fs = std::filesystem;
  std::string given = argv0 != nullptr && *argv0 != '\0' ? argv0 : VISOR_PROGRAM;
  fs::path started(given);
  bool found = !started.has_parent_path();  // found by the PATH already
  const char* search = getenv("PATH");
  const char separator = fs::path::preferred_separator == '/' ? ':' : ';';
  for (std::string_view dirs = search != nullptr ? search : ""; !found && !dirs.empty();) {
    std::string_view dir = dirs.substr(0, dirs.find(separator));
    dirs.remove_prefix(std::min(dirs.size(), dir.size() + 1));
    std::error_code error;
    found = !dir.empty() && fs::equivalent(fs::path(dir) / started.filename(), started, error);
  }
  if (found)
    return started.filename().string();
  if (given.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                              "_./-\\:") == std::string::npos)
    return given;
  std::string quoted = "'";
  for (char c : given)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
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

int dialogue_ask_values(Dialogue* d, TypedValues* typed, int* accepted) {
  *accepted = 0;
  if (d->mode->ask == nullptr)
    return FIELD_ACCEPTED;
  for (;;) {
    if (d->mode->begin != nullptr)
      d->mode->begin(d);
    int result = FIELD_ACCEPTED;
    for (*accepted = 0; *accepted < 3 && result == FIELD_ACCEPTED;) {
      FieldKind kind = static_cast<FieldKind>(*accepted);
      result = d->mode->ask(d, kind, typed_text(typed, kind));
      *accepted += result == FIELD_ACCEPTED;
    }
    if (result != FIELD_REJECTED)
      return result;
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
