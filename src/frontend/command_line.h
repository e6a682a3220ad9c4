#ifndef VISOR_FRONTEND_COMMAND_LINE_H_
#define VISOR_FRONTEND_COMMAND_LINE_H_

// The program's arguments: none for the dialogue; the three values, for a
// run without one, and with them --pieces or --resume=PIECE:Z; --check and
// the file to check; or a question (--help, --version). A value is checked
// exactly as the dialogue's field checks what is typed into it, and is
// never changed.

#include <string>

#include "frontend/resume.h"
#include "generator/typed_values.h"

enum CommandLineAction {
  RUN_DIALOGUE,        // no arguments: the values are asked for
  RUN_WITH_VALUES,     // all three values given, each valid: no dialogue
  PRINT_HELP,          // --help or -h
  PRINT_VERSION,       // --version
  CHECK_FILE,          // --check [FILE]: compare FILE with the job it names
  PRINT_PIECES,        // the three values and --pieces: the table of the pieces
  RESUME_JOB,          // the three values and --resume: the resume job is written
  COMMAND_LINE_ERROR,  // `error` says what is wrong; nothing may be written
};

// Exit status of a wrong command line.
inline constexpr int COMMAND_LINE_ERROR_STATUS = 2;

struct CommandLine {
  CommandLineAction action = RUN_DIALOGUE;
  TypedValues typed = {};  // with RUN_WITH_VALUES: the three texts as given
  std::string check_path;  // with CHECK_FILE: the file, dagoma0.g unless given
  Resume resume;           // with RESUME_JOB: the piece and Z, not yet checked
  std::string error;       // with COMMAND_LINE_ERROR: one line, names the argument
};

// Reads argv[1] to argv[argc - 1] in order. The first wrong argument ends
// the reading with COMMAND_LINE_ERROR; --help and --version end it with
// their answer.
CommandLine parse_command_line(int argc, const char* const* argv);

#endif  // VISOR_FRONTEND_COMMAND_LINE_H_
