#include "frontend/program_flow.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "frontend/entry_field.h"
#include "platform/interrupt.h"

namespace {

// The file's full path, for the operator to find it: as it is when the
// system cannot make it absolute.
std::string full_path(const char* path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? std::string(path) : full.lexically_normal().string();
}

// One value, on the full screen or as a line.
int read_value(Program* p, FieldKind kind) {
  char* text = typed_text(&p->typed, kind);
  if (!p->full_screen)
    return line_dialogue_read_value(&p->lines, kind, text);
  draw_prompt(&p->console, kind);
  console_flush_input(&p->console);
  return read_number_field(&p->console, PROMPT_ROWS[kind], text, kind);
}

// Asks the three values until all three are valid; any failed value starts
// over from the first, on a screen cleared and painted again. 1, or -1
// when the input ended first.
int run_dialogue(Program* p) {
  const FieldKind kinds[] = {FIELD_Z_START, FIELD_HEAT_TEMP, FIELD_SPEED};
  for (;;) {
    if (p->full_screen) {
      console_clear(&p->console);
      draw_screen(&p->console);
    }
    int result = FIELD_ACCEPTED;
    for (FieldKind kind : kinds) {
      result = read_value(p, kind);
      if (result != FIELD_ACCEPTED)
        break;
    }
    if (result == FIELD_ACCEPTED)
      return 1;
    if (result == FIELD_INPUT_ENDED)
      return -1;
  }
}

// Before the last lines are printed, where they stay readable: the full
// screen closed, an unfinished line ended.
void leave_screen(Program* p) {
  if (p->full_screen)
    console_close(&p->console);
  line_dialogue_close(&p->lines);
}

// Ends a run that cannot go on: the unfinished job is removed, the
// generator released and joined, the screen left, then the reason is
// printed where it stays readable.
int fail(Program* p, const char* message) {
  // Removed and no longer the handler's to remove in one step: once it is
  // gone, the temporary name may be another run's.
  interrupt_hold();
  output_file_discard(&p->output);
  interrupt_set_removal(nullptr);
  interrupt_set_message(nullptr);
  interrupt_release();
  // A send waiting for an acknowledgement that will not come returns at
  // once, and the generator stops at that first refused line.
  channel::shutdown(&p->channel);
  join_thread(&p->generator);
  leave_screen(p);
  line_dialogue_print_error(&p->lines, message);
  return 1;
}

// A failure of the file, with the system's reason; `began` once the job had
// begun, and then the message says that dagoma0.g kept what it had.
int fail_file(Program* p, const char* head, bool began) {
  const OutputFile& file = p->output;
  char message[256];
  const char* reason = file.in_use     ? IN_USE_REASON
                       : file.tampered ? TAMPERED_REASON
                                       : strerror(file.error);
  snprintf(message, sizeof message, "%s: %s.%s%s", head, reason, began ? " " : "",
           began ? NOT_CHANGED_TEXT : "");
  return fail(p, message);
}

// A failure after the file was created but before any line was written.
int fail_before_lines(Program* p, const char* text) {
  char message[256];
  snprintf(message, sizeof message, "%s %s", text, NOT_CHANGED_TEXT);
  return fail(p, message);
}

struct FlushTask {
  OutputFile* file;
  std::atomic<bool> done{false};
};

int flush_entry(void* arg) {
  FlushTask* task = static_cast<FlushTask*>(arg);
  int result = output_file_flush(task->file);
  task->done.store(true);
  return result;
}

constexpr unsigned FLUSH_LOOK_MS = 5;

// Whether a line of the result is printed after the screen: every line
// where the screen goes, and where it stays (a Windows console) only the
// one it had to cut, if any (`cut`).
bool printed_after_screen(const char* line, bool screen_stays, const char* cut) {
  return line != nullptr && (!screen_stays || line == cut);
}

// Those lines as one text: what an interrupt at the closing wait prints.
std::string result_text(const char* const* lines, size_t count, bool screen_stays,
                        const char* cut) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (printed_after_screen(lines[i], screen_stays, cut))
      text.append(lines[i]).append("\n");
  }
  return text;
}

// Flushes the job to stable storage, which can take seconds. The flush runs
// on a thread of its own, so that a full screen can say the file is being
// saved once it has taken saving_notice_ms; without a thread it runs here.
int flush_job(Program* p) {
  Console* con = &p->console;
  FlushTask task;
  task.file = &p->output;
  Thread flusher;
  interrupt_hold();
  int started = start_thread(&flusher, flush_entry, &task);
  interrupt_release();
  if (started < 0)
    return output_file_flush(&p->output);
  auto start = std::chrono::steady_clock::now();
  bool noticed = !p->full_screen;
  // The thread's end is looked for every few milliseconds: a flush takes
  // far longer, and the wait stays free of anything the system lacks.
  for (;;) {
    if (!noticed && std::chrono::steady_clock::now() - start >=
                        std::chrono::milliseconds(p->saving_notice_ms)) {
      draw_result(con, SAVING_TEXT);
      console_show(con);
      noticed = true;
    }
    if (task.done.load())
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(FLUSH_LOOK_MS));
  }
  return join_thread(&flusher);
}

}  // namespace

int run_program(Program* p) {
  Console* con = &p->console;

  // The file is created before anything is asked: a folder that cannot
  // take it, or another run writing there, is reported at once. From then
  // on an interrupt removes it, and a page of its mapping that cannot be
  // written is a failed write.
  char write_failed[256];
  snprintf(write_failed, sizeof write_failed, "%s: %s. %s", CANNOT_WRITE_TEXT, strerror(EIO),
           NOT_CHANGED_TEXT);
  interrupt_hold();
  int created = output_file_create(&p->output, p->output_dir, OUTPUT_FILE_NAME);
  if (created > 0)
    interrupt_set_removal(&p->output, write_failed);
  interrupt_release();
  if (created < 0)
    return fail_file(p, CANNOT_CREATE_TEXT, false);

  if (!p->values_given && run_dialogue(p) < 0)
    return fail(p, NO_INPUT_TEXT);

  // Only once the job starts does an interrupt say that dagoma0.g was not
  // changed: during the dialogue it ends the run quietly.
  interrupt_set_message(INTERRUPTED_TEXT);
  if (channel::listen(&p->channel) < 0)
    return fail_before_lines(p, CANNOT_CREATE_CHANNEL_TEXT);
  interrupt_hold();
  int started = start_thread(&p->generator, p->generator_entry, p->generator_arg);
  interrupt_release();
  if (started < 0)
    return fail_before_lines(p, CANNOT_CREATE_THREAD_TEXT);
  if (channel::accept(&p->channel) < 0)
    return fail_before_lines(p, CANNOT_OPEN_CHANNEL_TEXT);  // the generator gave up

  progress_init(&p->bar);
  if (p->full_screen)
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
    if (p->full_screen)
      progress_step(con, &p->bar, p->line_count);
    else if (progress_advance(&p->bar, p->line_count))
      line_dialogue_progress(&p->lines, static_cast<int>(p->bar.percent));
    // Whole and before the acknowledgement: the file holds every line the
    // generator has seen acknowledged.
    if (output_file_write(&p->output, p->line_buffer, p->bytes_read) < 0)
      return fail_file(p, CANNOT_WRITE_TEXT, true);
    channel::acknowledge(&p->channel);
    // Read while the generator makes the next line: the lock-step waits
    // for nothing more.
    job_summary_read_line(&p->summary, p->line_buffer, p->bytes_read);
    if (p->full_screen) {
      echo_line(con, p->line_buffer, p->bytes_read);
      console_show_soon(con);
    }
  }

  if (p->full_screen)
    progress_close(con, &p->bar);
  channel::acknowledge(&p->channel);
  channel::shutdown(&p->channel);

  // The complete job replaces dagoma0.g only once it is on stable storage.
  if (flush_job(p) < 0)
    return fail_file(p, CANNOT_WRITE_TEXT, true);
  // The rename and the end of the removal on interrupt are one step: an
  // interrupt just before it leaves dagoma0.g as it was, one just after
  // finds nothing to remove, and ends the run as the job written, with what
  // it would still print.
  SummaryText summary = job_summary_text(p->summary);
  std::string path = full_path(p->output.path);
  char file_line[OUTPUT_PATH_SIZE + 64];
  format_file_line(file_line, sizeof file_line, path.c_str(), p->output.size, 0);
  // "Created file:", the file, the summary, the command that checks a copy.
  constexpr size_t LINE_COUNT = 2 + SUMMARY_LINES + 1;
  const char* lines[LINE_COUNT] = {CREATED_TEXT, file_line};
  summary_lines(summary, lines + 2);
  lines[LINE_COUNT - 1] = COPY_CHECK_TEXT;
  std::string done = result_text(lines, LINE_COUNT, false, nullptr);
  interrupt_hold();
  int committed = output_file_commit(&p->output);
  if (p->output.replaced) {
    interrupt_set_removal(nullptr);
    interrupt_set_message(nullptr);
  }
  if (committed > 0)
    interrupt_set_done(done.c_str());
  interrupt_release();
  if (committed < 0) {
    // Not replaced: the rename was refused. Replaced: the job is in
    // dagoma0.g, but the folder could not be made durable.
    if (p->output.replaced)
      return fail_file(p, CANNOT_WRITE_TEXT, false);
    return fail_file(p, CANNOT_CREATE_TEXT, true);
  }
  bool screen_stays = false;
  const char* cut = nullptr;
  if (p->full_screen) {
    draw_result(con, CREATED_TEXT);
    draw_summary(con, summary);
    if (!draw_file(con, path.c_str(), p->output.size))
      cut = file_line;
    draw_check(con, COPY_CHECK_TEXT);
    screen_stays = con->screen_stays;
    // An interrupt at the closing wait prints what the key would have.
    // (The handler keeps a copy of the text.)
    done = result_text(lines, LINE_COUNT, screen_stays, cut);
    interrupt_hold();
    interrupt_set_done(done.c_str());
    interrupt_release();
    // Keys pressed during the job are not the one the finished screen
    // waits for.
    console_flush_input(con);
    console_wait_key(con);
  }
  leave_screen(p);
  // Printed again after the full-screen view, so that it stays on the
  // terminal; in the line dialogue this is the only time.
  for (const char* line : lines) {
    if (printed_after_screen(line, screen_stays, cut))
      line_dialogue_print(&p->lines, line);
  }
  interrupt_set_done(nullptr);
  join_thread(&p->generator);
  return 0;
}
