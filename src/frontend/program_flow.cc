#include "frontend/program_flow.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "frontend/messages.h"
#include "platform/interrupt.h"

namespace {

// The file's full path, for the operator to find it: as it is when the
// system cannot make it absolute.
std::string full_path(const char* path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? std::string(path) : full.lexically_normal().string();
}

// Ends a run that cannot go on: the unfinished job is removed, the dialogue
// closed, then the reason is printed where it stays readable.
int fail(Program* p, std::string message) {
  // Removed and no longer the handler's to remove in one step: once it is
  // gone, the temporary name may be another run's.
  interrupt_hold();
  output_file_discard(&p->output);
  interrupt_set_removal(nullptr);
  interrupt_set_message(nullptr);
  interrupt_release();
  if (p->output.left_behind)
    message = message + " " + LEFT_BEHIND_TEXT + " " + p->output.temp_path;
  dialogue_fail(&p->dialogue, message.c_str());
  return 1;
}

// A failure of the file, with the system's reason; `began` once the job had
// begun, and then the message says that dagoma0.g kept what it had.
int fail_file(Program* p, const char* head, bool began) {
  const OutputFile& file = p->output;
  std::string reason = file.in_use     ? IN_USE_REASON
                       : file.tampered ? TAMPERED_REASON
                       : file.unlockable
                           ? std::string(UNLOCKABLE_REASON) + " (" + strerror(file.error) + ")"
                           : strerror(file.error);
  return fail(p, std::string(head) + ": " + reason + "." + (began ? " " : "") +
                     (began ? NOT_CHANGED_TEXT : ""));
}

// Whole and before the acknowledgement: the file holds every line the
// generator has seen acknowledged.
bool store(void* context, const char* line, size_t length) {
  return output_file_write(&static_cast<Program*>(context)->output, line, length) > 0;
}

// After the acknowledgement, while the generator posts its next line: the
// lock-step waits for nothing more.
void look(void* context, const char* line, size_t length) {
  Program* p = static_cast<Program*>(context);
  job_summary_read_line(&p->summary, line, length);
  dialogue_line(&p->dialogue, line, length);
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

// Flushes the job to stable storage, which can take seconds. The flush runs
// on a thread of its own, so that the dialogue can say the file is being
// saved once it has taken saving_notice_ms; without a thread it runs here.
int flush_job(Program* p) {
  FlushTask task;
  task.file = &p->output;
  Thread flusher;
  interrupt_hold();
  int started = start_thread(&flusher, flush_entry, &task);
  interrupt_release();
  if (started < 0)
    return output_file_flush(&p->output);
  auto start = std::chrono::steady_clock::now();
  bool noticed = false;
  // The thread's end is looked for every few milliseconds: a flush takes
  // far longer, and the wait stays free of anything the system lacks.
  while (!task.done.load()) {
    if (!noticed && std::chrono::steady_clock::now() - start >=
                        std::chrono::milliseconds(p->saving_notice_ms)) {
      dialogue_saving(&p->dialogue);
      noticed = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(FLUSH_LOOK_MS));
  }
  return join_thread(&flusher);
}

}  // namespace

int run_program(Program* p) {
  // The file first: a folder that cannot take it, or another run writing
  // in it, is told before anything is asked. From its creation on, an
  // interrupt removes it, and a page of its mapping that cannot be written
  // is a failed write.
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
  std::error_code error;
  bool stood = std::filesystem::exists(std::filesystem::symlink_status(p->output.path, error));
  interrupt_set_message(stood ? INTERRUPTED_TEXT : INTERRUPTED_NOT_WRITTEN_TEXT);

  int accepted = 0;
  switch (dialogue_ask_values(&p->dialogue, &p->typed, &accepted)) {
    case FIELD_ACCEPTED: break;
    case FIELD_REFUSED: return fail(p, INVALID_INPUT_TEXT);
    default: return fail(p, accepted > 0 ? INPUT_ENDED_TEXTS[accepted - 1] : NO_INPUT_TEXT);
  }
  interrupt_set_message(INTERRUPTED_TEXT);
  p->summary = JobSummary{};
  // A resume job's progress starts where it resumes.
  p->dialogue.line_count = resume_lines_left_out(p->resume);
  RunEnd end = run_generator(&p->run, resume_taker(p->resume, LineTaker{store, look, p}));
  if (end == RUN_STORE_FAILED)
    return fail_file(p, CANNOT_WRITE_TEXT, true);
  if (end != RUN_COMPLETE) {
    const char* head = run_start_failure(end);
    std::string message = head != nullptr ? std::string(head) + " " + NOT_CHANGED_TEXT
                                          : std::string(GENERATION_STOPPED_TEXT);
    return fail(p, message);
  }
  dialogue_end(&p->dialogue);

  // The complete job replaces dagoma0.g only once it is on stable storage.
  if (flush_job(p) < 0)
    return fail_file(p, CANNOT_WRITE_TEXT, true);
  // The rename and the end of the removal on interrupt are one step: an
  // interrupt just before it leaves dagoma0.g as it was, one just after
  // finds nothing to remove, and ends the run as the job written, with what
  // it would still print.
  JobResult result;
  result.resume_line = p->resume != nullptr ? RESUMES_LABEL + p->resume->where : "";
  make_job_result(&result, p->summary, full_path(p->output.path).c_str(), p->output.size,
                  p->command);
  interrupt_set_result(job_result_text(result).c_str());
  interrupt_hold();
  int committed = output_file_commit(&p->output);
  if (p->output.replaced) {
    interrupt_set_removal(nullptr);
    interrupt_set_message(nullptr);
    interrupt_set_done();
  }
  interrupt_release();
  // Not replaced: the rename was refused. Replaced: the job is in
  // dagoma0.g, but the folder could not be made durable.
  if (committed < 0)
    return p->output.replaced ? fail_file(p, CANNOT_WRITE_TEXT, false)
                              : fail_file(p, CANNOT_CREATE_TEXT, true);
  dialogue_finish(&p->dialogue, result);
  interrupt_set_result(nullptr);
  // The job is in place, but its result was lost: said where it can be.
  if (int lost = p->dialogue.lines.write_error) {
    char message[256];
    snprintf(message, sizeof message, WRITE_ERROR_FORMAT, strerror(lost));
    line_dialogue_print_error(&p->dialogue.lines, (std::string(message) + JOB_HELD_TEXT).c_str());
    return 1;
  }
  return 0;
}
