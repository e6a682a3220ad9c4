// visor-gcode: asks for the calibrating point, the heating temperature and
// the speed, then writes the visor's print job into dagoma0.g.

#include <unistd.h>

#include <cstdio>

#include "frontend/messages.h"
#include "frontend/program_flow.h"
#include "generator/generator_thread.h"
#include "platform/interrupt.h"

int main() {
  interrupt_install();
  if (!reopen_closed_standard_streams()) {
    fprintf(stderr, "%s\n", NO_STANDARD_OUTPUT_TEXT);
    return -1;
  }
  static Program program;
  // Full screen when a person is at a terminal; otherwise the values come
  // as text and only the messages are printed.
  if (open_terminal_console(&program.console) < 0)
    open_plain_console(&program.console, STDIN_FILENO, STDOUT_FILENO);

  static GeneratorThread generator;
  generator.typed = &program.typed;
  generator.channel = &program.channel;
  program.generator_entry = generator_thread_main;
  program.generator_arg = &generator;
  return run_program(&program);
}
