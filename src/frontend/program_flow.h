#ifndef VISOR_FRONTEND_PROGRAM_FLOW_H_
#define VISOR_FRONTEND_PROGRAM_FLOW_H_

// The run from start to exit: the dialogue for the three values, on the
// full screen or as lines, then dagoma0.g written line by line from what
// the generator sends through the line channel while the progress is shown,
// and the end.

#include <cstddef>
#include <cstdint>

#include "channel/line_channel.h"
#include "frontend/job_summary.h"
#include "frontend/line_dialogue.h"
#include "frontend/messages.h"
#include "frontend/screen.h"
#include "generator/typed_values.h"
#include "platform/console.h"
#include "platform/output_file.h"
#include "platform/thread.h"

inline constexpr char WINDOW_TITLE[] = "Lumenforge | Vantor";
// How long the flush at the end may take before the screen says the file is
// being saved.
inline constexpr unsigned SAVING_NOTICE_MS = 500;

// Everything one run touches. Create it fresh; open `console` and set
// `full_screen`, or open `lines`; set the generator's entry and argument,
// then call run_program.
struct Program {
  // The dialogue and the job are on the full screen: `console` is open.
  bool full_screen = false;
  Console console;
  // Otherwise the dialogue and the progress are lines here; the messages
  // are in every case, after the full screen has closed.
  LineDialogue lines;
  TypedValues typed = {};     // z_start, heat_temp, speed, as typed
  bool values_given = false;  // `typed` came from the command line: no dialogue
  LineChannel channel;

  // The generator thread, started once the three values are in.
  int (*generator_entry)(void*) = nullptr;
  void* generator_arg = nullptr;
  Thread generator;

  const char* output_dir = nullptr;  // where dagoma0.g goes; null: the current folder
  OutputFile output;
  unsigned saving_notice_ms = SAVING_NOTICE_MS;

  char line_buffer[LINE_BUFFER_SIZE] = {};
  size_t bytes_read = 0;
  uint64_t line_count = 0;  // lines received, the end marker not included
  ProgressBar bar = {};
  JobSummary summary;  // read from the lines written, shown at the end
};

// Runs the program and returns its exit status: 0 when dagoma0.g holds the
// complete job, 1 when no values came or the job could not be written
// whole; then dagoma0.g is as it was before the run. The console is left
// closed and the generator thread, if it was started, joined; every failure
// is reported here, once.
int run_program(Program* p);

#endif  // VISOR_FRONTEND_PROGRAM_FLOW_H_
