#ifndef VISOR_FRONTEND_DIALOGUE_H_
#define VISOR_FRONTEND_DIALOGUE_H_

// The operator's side of a run: how the three values are asked for, how the
// job's progress and its result are shown, how a failure is told. Which way
// is decided once, at start-up (dialogue_open): on the full screen when a
// person is at a terminal that can show it, as lines otherwise, or not at
// all when the values were given. The run then only calls the functions
// below, and each way has its own implementation of them (a DialogueMode):
// screen_dialogue.cc and line_dialogue.cc.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "channel/line_channel.h"
#include "frontend/entry_field.h"
#include "frontend/job_summary.h"
#include "frontend/line_dialogue.h"
#include "frontend/screen.h"
#include "generator/typed_values.h"
#include "platform/console.h"

// What a complete run shows once the job is in place: "Created file:", the
// file's full path and size, the summary, the command that checks a copy.
// `lines` are printed in order, a null one left out; the full screen
// places the same texts on its rows.
inline constexpr int RESULT_LINES = 3 + SUMMARY_LINES + 1;
struct JobResult {
  SummaryText summary;
  std::string path;
  uint64_t bytes = 0;
  std::string file_line;
  std::string check_line;
  std::string resume_line;  // a resume job's, after the path; set before make_job_result
  const char* lines[RESULT_LINES] = {};
};

// `command` runs this program again (own_command).
void make_job_result(JobResult* r, const JobSummary& summary, const char* path, uint64_t bytes,
                     const std::string& command);

// The command that runs this program again, from how it was started
// (argv[0]): its name where the PATH finds this same program, else the path
// it was started by, quoted for a shell where it needs to be.
std::string own_command(const char* argv0);
// The lines as one text, each ended; with `only`, that one line alone.
std::string job_result_text(const JobResult& r, const char* only = nullptr);

struct Dialogue;

// One way of holding the dialogue. A null function does nothing.
struct DialogueMode {
  // Before the first value, and again after one that failed.
  void (*begin)(Dialogue* d);
  // Asks one value into `text`: FIELD_ACCEPTED, FIELD_REJECTED (ask all
  // three again), FIELD_REFUSED or FIELD_INPUT_ENDED. Null: the values were
  // given.
  int (*ask)(Dialogue* d, FieldKind kind, char* text);
  // A line is in the file: the progress, the line itself.
  void (*line)(Dialogue* d, const char* line, size_t length);
  // The last line is in: the progress closes.
  void (*end)(Dialogue* d);
  // The flush takes long: say that the file is being saved.
  void (*saving)(Dialogue* d);
  // Shows the result and, where it stays on the screen, waits for the key
  // that closes it; the dialogue is closed afterwards.
  void (*finish)(Dialogue* d, const JobResult& result);
  // Leaves the screen or ends an unfinished line, so that what is printed
  // next stands on its own lines.
  void (*close)(Dialogue* d);
};

// How often the full screen is brought up to date during the job: per line
// it would cost more than the job.
inline constexpr int SHOW_INTERVAL_MS = 30;

struct Dialogue {
  const DialogueMode* mode = nullptr;
  Console console;     // open on the full screen
  LineDialogue lines;  // the messages go here in every way
  ProgressBar bar = {};
  uint64_t line_count = 0;  // lines written, the end marker not included
  // The full screen's: the last line, and when the screen was last shown.
  char last_line[LINE_BUFFER_SIZE] = {};
  size_t last_length = 0;
  std::chrono::steady_clock::time_point last_show;
};

inline constexpr char WINDOW_TITLE[] = "Lumenforge | Vantor";

// Decides the way: no dialogue when `given` (the values from the command
// line), else the full screen where the console opens, else lines on
// in_fd, out_fd and err_fd (after a line that says why where the window is
// too small). The messages go to out_fd and err_fd in every way.
void dialogue_open(Dialogue* d, const TypedValues* given, int in_fd, int out_fd, int err_fd);

// Asks the three values until all three are valid; any failed value starts
// over from the first. FIELD_ACCEPTED, or why not (FIELD_INPUT_ENDED,
// FIELD_REFUSED) with *accepted the values accepted before.
int dialogue_ask_values(Dialogue* d, TypedValues* typed, int* accepted);

// A line is in the file; the count goes on.
inline void dialogue_line(Dialogue* d, const char* line, size_t length) {
  ++d->line_count;
  d->mode->line(d, line, length);
}
void dialogue_end(Dialogue* d);
void dialogue_saving(Dialogue* d);
void dialogue_finish(Dialogue* d, const JobResult& result);
// Closes the dialogue, then prints `message` as an error line.
void dialogue_fail(Dialogue* d, const char* message);

// The ways, for dialogue_open.
extern const DialogueMode SCREEN_MODE;
extern const DialogueMode LINE_MODE;
extern const DialogueMode GIVEN_MODE;

#endif  // VISOR_FRONTEND_DIALOGUE_H_
