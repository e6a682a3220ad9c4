#include "frontend/program_flow.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "frontend/entry_field.h"

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
      result = read_number_field(con, prompt.row, buffer_for(&p->typed, prompt.kind),
                                 prompt.kind);
      if (result != FIELD_ACCEPTED)
        break;
    }
    if (result == FIELD_ACCEPTED)
      return 1;
    if (result == FIELD_INPUT_ENDED)
      return -1;
  }
}

// Writes one received line whole: the file holds every acknowledged line.
bool write_line(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    text += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Ends a run that cannot go on: the screen is left, then the reason is
// printed where it stays readable.
int fail(Program* p, const char* message) {
  console_close(&p->console);
  console_print_line(&p->console, message);
  if (p->output_fd >= 0) {
    ::close(p->output_fd);
    p->output_fd = -1;
  }
  return 1;
}

int fail_writing(Program* p, int error) {
  char message[160];
  snprintf(message, sizeof message, "Cannot write %s (%s): the file is incomplete.",
           OUTPUT_FILE_NAME, strerror(error));
  // The generator's next send returns at once instead of waiting for an
  // acknowledgement that will not come.
  channel::shutdown(&p->channel);
  return fail(p, message);
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

  p->output_fd = openat(p->dir_fd, OUTPUT_FILE_NAME, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                        0666);
  if (p->output_fd < 0) {
    char message[160];
    snprintf(message, sizeof message, "Cannot create %s (%s).", OUTPUT_FILE_NAME,
             strerror(errno));
    return fail(p, message);
  }
  if (channel::listen(&p->channel) < 0)
    return fail(p, "Cannot create named pipe.");
  if (start_thread(&p->generator, p->generator_entry, p->generator_arg) < 0)
    return fail(p, "Cannot create thread.");
  if (channel::accept(&p->channel) < 0)
    return fail(p, "The generator ended before sending the job: dagoma0.g is empty.");

  progress_init(&p->bar);
  console_flush_input(con);
  memset(p->line_buffer, 0, sizeof p->line_buffer);
  p->line_count = 0;

  for (;;) {
    ReceiveResult r = channel::receive_line(&p->channel, p->line_buffer, &p->bytes_read);
    if (r == RECEIVED_END)
      break;
    if (r == SENDER_GONE)
      return fail(p, "The generator ended before the end of the job: dagoma0.g is incomplete.");
    ++p->line_count;
    progress_step(con, &p->bar, p->line_count);
    if (!write_line(p->output_fd, p->line_buffer, p->bytes_read))
      return fail_writing(p, errno);
    channel::acknowledge(&p->channel);
    echo_line(con, p->line_buffer, p->bytes_read);
    console_show_soon(con);
  }

  progress_close(con, &p->bar);
  channel::acknowledge(&p->channel);
  // Closing can report a write that failed late; the file is not called
  // created then.
  int closed = ::close(p->output_fd);
  int close_error = errno;
  p->output_fd = -1;
  if (closed != 0)
    return fail_writing(p, close_error);
  write_at(con, TEXT_COLUMN, CREATED_ROW, CREATED_TEXT);
  channel::shutdown(&p->channel);

  if (con->full_screen)
    console_wait_key(con);
  console_close(con);
  // Printed again after the full-screen view, so that it stays on the
  // terminal; on a plain stream this is the only time.
  console_print_line(con, CREATED_TEXT);
  join_thread(&p->generator);
  return 0;
}
