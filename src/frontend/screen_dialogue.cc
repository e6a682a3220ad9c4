// The dialogue on the full screen: the values typed into the entry fields,
// the progress bar and the line just written, then the finished screen
// until a key closes it.

#include <algorithm>
#include <cstring>
#include <string>

#include "frontend/dialogue.h"
#include "frontend/messages.h"
#include "platform/interrupt.h"

namespace {

// A clock look is cheap but not free: once in so many lines, far more often
// than SHOW_INTERVAL_MS at the generator's pace.
constexpr uint64_t LINES_PER_CLOCK_LOOK = 32;

void begin(Dialogue* d) {
  console_clear(&d->console);
  draw_screen(&d->console);
}

int ask(Dialogue* d, FieldKind kind, char* text) {
  draw_prompt(&d->console, kind);
  console_flush_input(&d->console);
  return read_number_field(&d->console, PROMPT_ROWS[kind], text, kind);
}

void show_line(Dialogue* d) {
  echo_line(&d->console, d->last_line, d->last_length);
  console_show(&d->console);
  d->last_show = std::chrono::steady_clock::now();
}

void line(Dialogue* d, const char* text, size_t length) {
  // Keys typed since the last field are no value.
  if (d->line_count == 1)
    console_flush_input(&d->console);
  progress_step(&d->console, &d->bar, d->line_count);
  d->last_length = std::min(length, sizeof d->last_line);
  memcpy(d->last_line, text, d->last_length);
  if (d->line_count % LINES_PER_CLOCK_LOOK == 0 &&
      std::chrono::steady_clock::now() - d->last_show >=
          std::chrono::milliseconds(SHOW_INTERVAL_MS))
    show_line(d);
}

void end(Dialogue* d) {
  progress_close(&d->console, &d->bar);
  show_line(d);
}

void saving(Dialogue* d) {
  draw_result(&d->console, SAVING_TEXT);
  console_show(&d->console);
}

void close(Dialogue* d) {
  console_close(&d->console);
  line_dialogue_close(&d->lines);
}

void finish(Dialogue* d, const JobResult& result) {
  Console* con = &d->console;
  // "Created file:" last: once it stands, so does the rest.
  draw_summary(con, result.summary);
  bool whole = draw_file(con, result.path.c_str(), result.bytes);
  draw_check(con, result.check_line.c_str());
  draw_result(con, CREATED_TEXT);
  // Printed again once the screen has closed, so that it stays on the
  // terminal; where the screen itself stays, only what it had to cut. An
  // interrupt at the closing wait prints it as the key would.
  std::string after;
  if (!console_screen_stays(con))
    after = job_result_text(result);
  else if (!whole)
    after = job_result_text(result, result.file_line.c_str());
  interrupt_hold();
  interrupt_set_result(after.c_str());
  interrupt_release();
  // Keys pressed during the job are not the one the finished screen waits
  // for; a release is no key.
  console_set_notice(con, FINISHED_TOO_SMALL_NOTICE);
  console_flush_input(con);
  KeyEvent key = {};
  while (console_read_key(con, &key) > 0 && !key.pressed) {
  }
  close(d);
  line_dialogue_print_result(&d->lines, after);
}

}  // namespace

const DialogueMode SCREEN_MODE = {begin, ask, line, end, saving, finish, close};
