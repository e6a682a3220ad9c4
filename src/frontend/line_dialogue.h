#ifndef VISOR_FRONTEND_LINE_DIALOGUE_H_
#define VISOR_FRONTEND_LINE_DIALOGUE_H_

// The dialogue as lines, where the full screen is not shown: on a stream (a
// pipe, a file, a script), on a terminal the full screen cannot use, or in
// a window too small for it. The values arrive as lines, each checked as
// the entry field would check its keys; the progress is one line rewritten
// in place where someone watches it; results and errors are lines. A run on
// the full screen prints its messages here too, once the screen is closed.

#include <cstddef>
#include <string>

#include "frontend/entry_field.h"

struct LineDialogue {
  int in_fd = -1;        // where the values come from
  int out_fd = 1;        // results
  int error_fd = 2;      // what went wrong
  int prompt_fd = -1;    // where prompts go; -1: nobody types at the input
  int progress_fd = -1;  // where the progress line goes; -1: nobody watches

  // Input read and not yet taken: the values arrive ahead of time, so input
  // is read only as far as the line asked for and never thrown away.
  unsigned char buf[4096];
  size_t len = 0;
  size_t pos = 0;
  bool after_cr = false;  // a line feed right after a carriage return ends no line
  bool ended = false;
  // The input is a terminal: after an invalid value, a person types all
  // three again; from a stream (a script), the first one ends the run.
  bool retry = false;
  // Why a result could not be printed on out_fd (errno), or 0. A reader
  // that went away (EPIPE) is no error: it chose to read no more.
  int write_error = 0;
};

// Values from in_fd, lines on out_fd and error_fd. When in_fd is a
// terminal, each value is asked for with its prompt (on out_fd, or on
// error_fd when only that is a terminal); when out_fd is one, the progress
// is shown. From here to line_dialogue_close, a line printed after an
// unfinished one (a prompt, the progress) starts a line of its own, also
// the message of an interrupt.
void line_dialogue_open(LineDialogue* d, int in_fd, int out_fd, int error_fd);
// Ends an unfinished line; printing goes on working.
void line_dialogue_close(LineDialogue* d);

// read_number_field for a line: asks for one value, with the prompt of
// `kind` where someone answers it, and reads it into `text` (FIELD_CELLS
// bytes). A line is one value (it ends with LF, CR, CR LF or the end of the
// input) and must be valid by value_text_is_valid; an invalid one prints
// its error line on error_fd at once (nobody watches a stream for four
// seconds). FIELD_ACCEPTED, FIELD_REJECTED (on a terminal), FIELD_REFUSED
// (from a stream: a script's mistyped value must not shift the others) or
// FIELD_INPUT_ENDED.
int line_dialogue_read_value(LineDialogue* d, FieldKind kind, char* text);

// Shows the percentage reached as the progress line, where someone watches.
void line_dialogue_progress(LineDialogue* d, int percent);

// `text` and a line end, in one write, on out_fd or error_fd.
void line_dialogue_print(LineDialogue* d, const char* text);
// Lines of a result, each ended, on out_fd. On a terminal narrower than a
// line, the line is broken at blanks, the rest indented to its value's
// column.
void line_dialogue_print_result(LineDialogue* d, const std::string& text);
void line_dialogue_print_error(LineDialogue* d, const char* text);

#endif  // VISOR_FRONTEND_LINE_DIALOGUE_H_
