// visor-gcode: asks for the calibrating point, the heating temperature and
// the speed, or takes them from the command line, then writes the visor's
// print job, or one that resumes it, into dagoma0.g; or checks a copy.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "frontend/command_line.h"
#include "frontend/job_check.h"
#include "frontend/messages.h"
#include "frontend/program_flow.h"
#include "generator/generator_thread.h"
#include "platform/interrupt.h"
#include "platform/standard_streams.h"

namespace {

// The exit status after an answer printed on standard output: a failed
// write (a full disk) is a failure, said on standard error, not a silent
// success. A reader that went away (EPIPE) chose to read no more.
int answered() {
  if (fflush(stdout) == 0 && !ferror(stdout))
    return 0;
  if (errno == EPIPE)
    return 0;
  fprintf(stderr, WRITE_ERROR_FORMAT, strerror(errno));
  fputc('\n', stderr);
  return 1;
}

// No memory left: an allocation cannot go on, on whichever thread, and no
// exception may cross a thread. The run ends as an interrupt would, the
// previous file kept, with status 1.
void out_of_memory() { interrupt_end(OUT_OF_MEMORY_TEXT, 1); }
void out_of_memory_in_check() { interrupt_end(CHECK_OUT_OF_MEMORY_TEXT, 1); }

// --check: the generator makes the job for the values the file's header
// names, and the check compares it with the file.
int check(const std::string& path) {
  std::set_new_handler(out_of_memory_in_check);
  static JobCheck job_check;
  static GeneratorThread generator;
  job_check.path = path.c_str();
  generator.typed = &job_check.typed;
  generator.channel = &job_check.run.channel;
  job_check.run.entry = generator_thread_main;
  job_check.run.arg = &generator;
  int status = check_job(&job_check);
  if (status != 0) {
    fputs(job_check.report.c_str(), stderr);
    return status;
  }
  fputs(job_check.report.c_str(), stdout);
  return answered();
}

}  // namespace

int main(int argc, char** argv) {
  interrupt_install();
  std::set_new_handler(out_of_memory);
  if (!reopen_closed_standard_streams()) {
    fprintf(stderr, "%s\n", NO_STANDARD_OUTPUT_TEXT);
    return -1;
  }
  CommandLine command_line = parse_command_line(argc, argv);
  switch (command_line.action) {
    case PRINT_HELP: fputs(HELP_TEXT, stdout); return answered();
    case PRINT_VERSION: printf("%s\n", PROGRAM_VERSION_TEXT); return answered();
    case COMMAND_LINE_ERROR:
      fprintf(stderr, "%s: %s\n%s\n", VISOR_PROGRAM, command_line.error.c_str(), TRY_HELP_TEXT);
      return COMMAND_LINE_ERROR_STATUS;
    case CHECK_FILE: return check(command_line.check_path);
    case PRINT_PIECES: fputs(pieces_table(command_line.typed).c_str(), stdout); return answered();
    case RUN_DIALOGUE:
    case RUN_WITH_VALUES:
    case RESUME_JOB: break;
  }

  static Program program;
  // Where the print resumes is decided before anything is created.
  if (command_line.action == RESUME_JOB) {
    std::string refused = resume_prepare(&command_line.resume, command_line.typed);
    if (!refused.empty()) {
      fprintf(stderr, "%s: %s\n", VISOR_PROGRAM, refused.c_str());
      return COMMAND_LINE_ERROR_STATUS;
    }
    program.resume = &command_line.resume;
  }
  dialogue_open(&program.dialogue,
                command_line.action != RUN_DIALOGUE ? &command_line.typed : nullptr, STDIN_FILENO,
                STDOUT_FILENO, STDERR_FILENO);
  if (command_line.action != RUN_DIALOGUE)
    program.typed = command_line.typed;
  program.command = own_command(argv[0]);
  static GeneratorThread generator;
  generator.typed = &program.typed;
  generator.channel = &program.run.channel;
  program.run.entry = generator_thread_main;
  program.run.arg = &generator;
  return run_program(&program);
}
