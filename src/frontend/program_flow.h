#ifndef VISOR_FRONTEND_PROGRAM_FLOW_H_
#define VISOR_FRONTEND_PROGRAM_FLOW_H_

// The run from start to exit: the file prepared, the three values asked
// for, then dagoma0.g written line by line from what the generator sends
// while the progress is shown, and the end.

#include <cstdint>
#include <string>

#include "frontend/dialogue.h"
#include "frontend/generator_run.h"
#include "frontend/job_summary.h"
#include "frontend/messages.h"
#include "frontend/resume.h"
#include "generator/typed_values.h"
#include "platform/output_file.h"

// How long the flush at the end may take before the screen says the file is
// being saved.
inline constexpr unsigned SAVING_NOTICE_MS = 500;

// Everything one run touches. Create it fresh, open the dialogue, set the
// generator's entry and argument (a generator that reads `typed` and sends
// through `run.channel`), then call run_program.
struct Program {
  Dialogue dialogue;
  TypedValues typed = {};  // z_start, heat_temp, speed, as typed
  GeneratorRun run;
  const char* output_dir = nullptr;  // where dagoma0.g goes; null: the current folder
  OutputFile output;
  unsigned saving_notice_ms = SAVING_NOTICE_MS;
  std::string command = VISOR_PROGRAM;  // runs this program again (own_command)
  JobSummary summary;                   // read from the lines written, shown at the end

  Resume* resume = nullptr;  // set and prepared: its resume job is written instead
};

// Runs the program and returns its exit status: 0 when dagoma0.g holds the
// complete job, 1 when no values came or the job could not be written
// whole; then dagoma0.g is as it was before the run. The dialogue is left
// closed and the generator thread, if it was started, joined; every failure
// is reported here, once.
int run_program(Program* p);

#endif  // VISOR_FRONTEND_PROGRAM_FLOW_H_
