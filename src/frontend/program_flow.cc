#include "frontend/program_flow.h"

#include <cstring>

#include "frontend/entry_field.h"
#include "platform/interrupt.h"

namespace {

struct Prompt {
  int row;
  const char* text;
  FieldKind kind;
};

const Prompt PROMPTS[] = {
    {16, "Enter calibrating point (number between -40.000 and 200.000):", FIELD_Z_START},
    {17, "Enter heating temperature (depends on filament number between 170 and 270):",
     FIELD_HEAT_TEMP},
    {18, "Enter speed value (300 strongly encouraged 600 maximum):", FIELD_SPEED},
};

char* buffer_for(TypedValues* typed, FieldKind kind) {
  switch (kind) {
    case FIELD_Z_START: return typed->z_start;
    case FIELD_HEAT_TEMP: return typed->heat_temp;
    case FIELD_SPEED: return typed->speed;
  }
  return nullptr;
}

void write_at(Console* con, int col, int row, const char* text) {
  console_set_cursor(con, col, row);
  console_write(con, text, strlen(text));
}

// Asks the three values until all three are valid; any failed field starts
// over from the first. 1, or -1 when the input ended first.
int run_dialogue(Program* p) {
  Console* con = &p->console;
  for (;;) {
    console_clear(con);
    draw_screen(con);
    int result = FIELD_ACCEPTED;
    for (const Prompt& prompt : PROMPTS) {
      write_at(con, TEXT_COLUMN, prompt.row, prompt.text);
      console_flush_input(con);
      result = read_number_field(con, prompt.row, buffer_for(&p->typed, prompt.kind), prompt.kind);
      if (result != FIELD_ACCEPTED)
        break;
    }
    if (result == FIELD_ACCEPTED)
      return 1;
    if (result == FIELD_INPUT_ENDED)
      return -1;
  }
}

// Ends a run that cannot go on: the generator is released and joined, the
// screen is left, then the reason is printed where it stays readable.
int fail(Program* p, const char* message) {
  interrupt_set_message(nullptr);
  // A send waiting for an acknowledgement that will not come returns at
  // once, and the generator stops at that first refused line.
  channel::shutdown(&p->channel);
  join_thread(&p->generator);
  console_close(&p->console);
  console_print_error(&p->console, message);
  output_file_close(&p->output);
  return 1;
}

}  // namespace

int run_program(Program* p) {
  Console* con = &p->console;

  console_set_title(con, WINDOW_TITLE);
  console_set_code_page(con, CODE_PAGE_LATIN1);
  console_lock_window_size(con);
  console_require_size(con, SCREEN_COLUMNS, SCREEN_ROWS);

  if (run_dialogue(p) < 0)
    return fail(p, NO_INPUT_TEXT);

  if (output_file_create(&p->output, p->output_dir, OUTPUT_FILE_NAME) < 0)
    return fail(p, CANNOT_CREATE_TEXT);
  interrupt_set_message(INTERRUPTED_TEXT);
  if (channel::listen(&p->channel) < 0)
    return fail(p, CANNOT_CREATE_CHANNEL_TEXT);
  interrupt_hold();
  int started = start_thread(&p->generator, p->generator_entry, p->generator_arg);
  interrupt_release();
  if (started < 0)
    return fail(p, CANNOT_CREATE_THREAD_TEXT);
  if (channel::accept(&p->channel) < 0)
    return fail(p, CANNOT_OPEN_CHANNEL_TEXT);  // the generator gave up

  progress_init(&p->bar);
  console_flush_input(con);
  memset(p->line_buffer, 0, sizeof p->line_buffer);
  p->line_count = 0;
  p->summary = JobSummary{};

  for (;;) {
    ReceiveResult r = channel::receive_line(&p->channel, p->line_buffer, &p->bytes_read);
    if (r == RECEIVED_END)
      break;
    if (r == SENDER_GONE)
      return fail(p, GENERATION_STOPPED_TEXT);
    ++p->line_count;
    progress_step(con, &p->bar, p->line_count);
    // Whole and before the acknowledgement: the file holds every line the
    // generator has seen acknowledged.
    if (output_file_write(&p->output, p->line_buffer, p->bytes_read) < 0)
      return fail(p, CANNOT_WRITE_TEXT);
    channel::acknowledge(&p->channel);
    // Read while the generator makes the next line: the lock-step waits
    // for nothing more.
    job_summary_read_line(&p->summary, p->line_buffer, p->bytes_read);
    echo_line(con, p->line_buffer, p->bytes_read);
    console_show_soon(con);
  }

  progress_close(con, &p->bar);
  channel::acknowledge(&p->channel);
  write_at(con, TEXT_COLUMN, CREATED_ROW, CREATED_TEXT);
  SummaryText summary = job_summary_text(p->summary);
  draw_summary(con, summary);
  channel::shutdown(&p->channel);
  output_file_close(&p->output);
  interrupt_set_message(nullptr);  // the file is complete now

  if (con->full_screen)
    console_wait_key(con);
  console_close(con);
  // Printed again after the full-screen view, so that it stays on the
  // terminal; on a plain stream this is the only time.
  console_print_line(con, CREATED_TEXT);
  console_print_line(con, summary.time_line);
  console_print_line(con, summary.height_line);
  if (summary.warning != nullptr)
    console_print_line(con, summary.warning);
  join_thread(&p->generator);
  return 0;
}
