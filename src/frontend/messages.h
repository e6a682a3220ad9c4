#ifndef VISOR_FRONTEND_MESSAGES_H_
#define VISOR_FRONTEND_MESSAGES_H_

// Every message the program shows or prints, in one place, with the output
// file's name spelt once. A macro, so that the messages can be joined from
// it at compile time.
#define VISOR_OUTPUT_FILE "dagoma0.g"
// The build reads the package's version from here too.
#define VISOR_VERSION "1.2.0"
#define VISOR_PROGRAM "visor-gcode"

inline constexpr char OUTPUT_FILE_NAME[] = VISOR_OUTPUT_FILE;

inline constexpr char CREATED_TEXT[] =
    "Created file:     " VISOR_OUTPUT_FILE " (in current directory)";
// The three prompts, in the order of FieldKind.
inline constexpr const char* PROMPT_TEXTS[] = {
    "Enter calibrating point (number between -40.000 and 200.000):",
    "Enter heating temperature (depends on filament number between 170 and 270):",
    "Enter speed value (300 strongly encouraged 600 maximum):",
};
inline constexpr char FIELD_ERROR_TEXT[] = "Error:            typed number is invalid";
// In the line dialogue the error line also names the value and shows the
// line as it was given: FIELD_ERROR_TEXT ": " name " " "quoted line".
inline constexpr char Z_START_NAME[] = "calibrating point";
inline constexpr char HEAT_TEMP_NAME[] = "heating temperature";
inline constexpr char SPEED_NAME[] = "speed";
// The progress as one line, rewritten in place, in the line dialogue.
inline constexpr char PROGRESS_LINE_FORMAT[] = "Progress:         %d %%";

// While the file is flushed to the disk, when that takes long; as long as
// CREATED_TEXT, which then takes its place.
inline constexpr char SAVING_TEXT[] =
    "Saving file:      " VISOR_OUTPUT_FILE " (in current directory)";

// A window too small for the full screen: its columns and rows, then the
// screen's. Printed once before the line dialogue when it is so at the
// start; shown alone on the screen, with what to do, when it becomes so.
#define VISOR_WINDOW_TOO_SMALL "This window is %d x %d; the full screen needs %d x %d."
inline constexpr char WINDOW_TOO_SMALL_FORMAT[] = VISOR_WINDOW_TOO_SMALL;
inline constexpr char WINDOW_TOO_SMALL_NOTICE[] =
    VISOR_WINDOW_TOO_SMALL " Enlarge the window to see the screen again.";
// The same at the closing wait.
inline constexpr char FINISHED_TOO_SMALL_NOTICE[] = VISOR_WINDOW_TOO_SMALL
    " " VISOR_OUTPUT_FILE
    " is written: press a key to close the screen, or enlarge the window to see it.";

inline constexpr char NO_INPUT_TEXT[] = "No input: " VISOR_OUTPUT_FILE " was not written.";
// The input ended after the first or the second value.
inline constexpr const char* INPUT_ENDED_TEXTS[] = {
    "The input ended after the first value: " VISOR_OUTPUT_FILE " was not written.",
    "The input ended after the second value: " VISOR_OUTPUT_FILE " was not written.",
};
// After the error line of an invalid value given where nobody can type
// again.
inline constexpr char INVALID_INPUT_TEXT[] =
    "Invalid value: " VISOR_OUTPUT_FILE " was not written.";
inline constexpr char INTERRUPTED_TEXT[] = "Interrupted: " VISOR_OUTPUT_FILE " was not changed.";
// Before the job, where no file of the name stood.
inline constexpr char INTERRUPTED_NOT_WRITTEN_TEXT[] =
    "Interrupted: " VISOR_OUTPUT_FILE " was not written.";
// The file failures are printed as "<head>: <reason>." with the system's
// reason, followed by NOT_CHANGED_TEXT once the job had begun.
inline constexpr char CANNOT_CREATE_TEXT[] = "Cannot create file " VISOR_OUTPUT_FILE;
inline constexpr char CANNOT_WRITE_TEXT[] = "Cannot write file " VISOR_OUTPUT_FILE;
inline constexpr char IN_USE_REASON[] = "Another run is writing it in this folder";
inline constexpr char TAMPERED_REASON[] = "Another program changed its temporary file";
// Followed by the system's reason in parentheses.
inline constexpr char UNLOCKABLE_REASON[] = "The folder cannot be locked against another run";
// After a failure whose temporary file could not be removed: its name.
inline constexpr char LEFT_BEHIND_TEXT[] = "Its temporary file could not be removed:";
inline constexpr char NOT_CHANGED_TEXT[] = VISOR_OUTPUT_FILE " was not changed.";
inline constexpr char GENERATION_STOPPED_TEXT[] =
    "Generation stopped: " VISOR_OUTPUT_FILE " was not changed.";
inline constexpr char OUT_OF_MEMORY_TEXT[] =
    "Out of memory: " VISOR_OUTPUT_FILE " was not changed.";
inline constexpr char CHECK_OUT_OF_MEMORY_TEXT[] = "Out of memory: the file was not checked.";
inline constexpr char CANNOT_CREATE_CHANNEL_TEXT[] = "Cannot create named pipe.";
inline constexpr char CANNOT_CREATE_THREAD_TEXT[] = "Cannot create thread.";
inline constexpr char CANNOT_OPEN_CHANNEL_TEXT[] = "Cannot open pipe.";
inline constexpr char NO_STANDARD_OUTPUT_TEXT[] = "GetStdHandle error";
// Standard output refused what was printed: printf format, the system's
// reason; after a job, followed by JOB_HELD_TEXT.
inline constexpr char WRITE_ERROR_FORMAT[] = VISOR_PROGRAM ": write error: %s";
inline constexpr char JOB_HELD_TEXT[] = "; " VISOR_OUTPUT_FILE " holds the complete job.";

inline constexpr char VERSION_TEXT[] = "Version:          " VISOR_VERSION " - 11/11/2024";

// The command line. The help is also the source of the manual page
// (help2man), so it keeps help2man's layout: a "Usage:" line, a paragraph,
// headings ending in ":", options indented by two blanks.
inline constexpr char PROGRAM_VERSION_TEXT[] = VISOR_PROGRAM " " VISOR_VERSION;
// clang-format off
inline constexpr char HELP_TEXT[] =
    "Usage: " VISOR_PROGRAM " [--z-start=Z --heat-temp=T --speed=S]\n"
    "  or:  " VISOR_PROGRAM " --help | --version\n"
    "  or:  " VISOR_PROGRAM " --check [FILE]\n"
    "  or:  " VISOR_PROGRAM " --z-start=Z --heat-temp=T --speed=S --pieces\n"
    "  or:  " VISOR_PROGRAM " --z-start=Z --heat-temp=T --speed=S --resume=PIECE:Z\n"
    "Write the G-code print job of a face-shield visor headband for a Dagoma\n"
    "printer into " VISOR_OUTPUT_FILE " in the current folder; a file of that name is\n"
    "replaced only by a complete job. The job has 3,758,388 lines (about\n"
    "131 MB); the three values change only its heights, its temperature and\n"
    "its feed rate.\n"
    "\n"
    "Without options the values are asked for on a full screen when a person\n"
    "is at a terminal, or read from standard input, one per line, otherwise;\n"
    "from a stream, the first invalid value ends the run.\n"
    "With all three value options there is no dialogue. Either way a value is\n"
    "checked as the dialogue's field checks it, and never changed silently.\n"
    "\n"
    "Options:\n"
    "  --z-start=Z        calibrating point, the height the print starts at, in\n"
    "                     millimetres: -40 to 200; at most nine characters:\n"
    "                     digits, \"-\", \".\"\n"
    "  --heat-temp=T      nozzle heating temperature in degrees Celsius: 170 to\n"
    "                     270; at most nine digits\n"
    "  --speed=S          feed rate in mm/min: 80 to 600 (300 is recommended); at\n"
    "                     most nine digits\n"
    "  -h, --help         print this help and exit\n"
    "  --version          print the version and exit\n"
    "A value may also follow its option as the next argument (--speed 300).\n"
    "\n"
    "Checking a copy:\n"
    "  --check [FILE]     compare FILE (default: " VISOR_OUTPUT_FILE " in the current folder)\n"
    "                     line by line with the job for the values its header\n"
    "                     names, made again; print the first line that differs,\n"
    "                     or the job's summary. FILE is only read, from the\n"
    "                     device where the system allows: run it on the copy on\n"
    "                     the printer's card\n"
    "\n"
    "Resuming a failed print:\n"
    "  --pieces           print the job's nine pieces: the Z of their first and\n"
    "                     last layers, when each starts and ends; write nothing\n"
    "  --resume=PIECE:Z   write into " VISOR_OUTPUT_FILE " the job from the layer of\n"
    "                     PIECE at or below Z on, after a move back above it\n"
    "\n"
    "Exit status:\n"
    "  0                  " VISOR_OUTPUT_FILE " holds the complete job, or the resume\n"
    "                     job (with --check: FILE does)\n"
    "  1                  no values came or one was invalid, the file could not\n"
    "                     be created or written, or the job stopped early (with\n"
    "                     --check: FILE differs from the job, or cannot be read)\n"
    "  2                  the command line is wrong, or there is no resume at\n"
    "                     PIECE:Z; nothing was written\n"
    "  128+N              ended by signal N (Ctrl-C: 130)\n"
    "  255                there is no standard output at all\n"
    "\n"
    "Examples:\n"
    "  $ " VISOR_PROGRAM " --z-start=0.4 --heat-temp=210 --speed=300\n"
    "  $ printf '0.4\\n210\\n300\\n' | " VISOR_PROGRAM "\n"
    "  $ " VISOR_PROGRAM " --check /media/card/" VISOR_OUTPUT_FILE "\n";
// clang-format on

// Command-line errors, printf formats; each names the argument that is
// wrong (quoted) and is followed by TRY_HELP_TEXT.
inline constexpr char UNKNOWN_OPTION_TEXT[] = "unknown option %s";
inline constexpr char UNEXPECTED_ARGUMENT_TEXT[] = "unexpected argument %s";
inline constexpr char MISSING_VALUE_TEXT[] = "%s needs a value";
inline constexpr char TAKES_NO_VALUE_TEXT[] = "%s takes no value";
inline constexpr char GIVEN_TWICE_TEXT[] = "%s is given twice";
inline constexpr char VALUE_MISSING_TEXT[] = "%s is missing: give all three values, or none";
inline constexpr char INVALID_VALUE_TEXT[] = "invalid value %s for %s: %s";
// What each value must be, in the order of FieldKind.
inline constexpr const char* VALUE_RULE_TEXTS[] = {
    "a number from -40 to 200, at most nine characters: digits, \"-\" and \".\"",
    "a number from 170 to 270, at most nine digits",
    "a number from 80 to 600, at most nine digits",
};
// --pieces and --resume=PIECE:Z.
inline constexpr char PIECES_OPTION[] = "--pieces";
inline constexpr char RESUME_OPTION[] = "--resume";
inline constexpr char RESUME_RULE_TEXT[] =
    "PIECE:Z, a piece from 1 to 9 and a height in mm with at most three decimals";
inline constexpr char NEEDS_VALUES_TEXT[] = "%s needs the three values: %s is missing";
inline constexpr char NOT_TOGETHER_TEXT[] = "%s cannot be given with %s";
// The pieces, in the order printed.
inline constexpr const char* PIECE_NAMES[] = {
    "left bar",   "right bar",   "back strip",   "band base",  "left post",
    "right post", "centre post", "band closure", "front wall",
};
inline constexpr char PIECES_HEADING[] =
    "Piece             First Z   Last Z  Layers       Starts         Ends   First line";
inline constexpr char PIECES_ROW_FORMAT[] =
    "%d %-14s %8s %8s %7zu%4lld h %02lld min%4lld h %02lld min %12s\n";
// Line 6 of a resume job and its summary's line: piece, name, the layer's
// Z, the line of the complete job it resumes at.
inline constexpr char RESUMED_COMMENT[] = "; Resumed";
inline constexpr char RESUMED_FORMAT[] = "piece %d (%s) at Z %s, line %s of the complete job";
inline constexpr char RESUMES_LABEL[] = "Resumes:          ";
// Why there is no resume at PIECE:Z; after VISOR_PROGRAM ": ".
inline constexpr char NO_SUCH_PIECE_TEXT[] =
    "there is no piece %d: the pieces are 1 to 9 (" VISOR_PROGRAM " --pieces lists them)";
inline constexpr char SIDE_BY_SIDE_TEXT[] =
    "piece 3 (back strip) is printed in five rows side by side, so a height does not name "
    "one place in it: the job must start again";
inline constexpr char OUTSIDE_LAYERS_TEXT[] =
    "Z %s is %s the layers of piece %d (%s), which lie from Z %s to %s";
inline constexpr char WHOLE_JOB_TEXT[] =
    "the first layer of piece 1 is where the complete job starts: write the job itself";
inline constexpr char TRY_HELP_TEXT[] = "Try '" VISOR_PROGRAM " --help' for more information.";

// --check FILE. Each answer begins with FILE's name; the job's figures are
// grouped by thousands ("3,758,388"). printf formats.
inline constexpr char CHECK_OPTION[] = "--check";
inline constexpr char CHECK_WITH_VALUE_TEXT[] = "%s cannot be given with --check";
inline constexpr char CHECK_RESUME_TEXT[] =
    "%s: the resume job for calibrating point %s, temperature %s, speed %s (%s lines)";
inline constexpr char CHECK_BAD_RESUME_TEXT[] =
    "%s: line 6 begins \"; Resumed\" but names no place a job can resume at";
inline constexpr char CHECK_COMPLETE_TEXT[] =
    "%s: the complete job for calibrating point %s, temperature %s, speed %s (%s lines)";
// A line that differs is shown with what was expected and what was found,
// each quoted; the time line is expected by its form.
inline constexpr char CHECK_DIFFERS_TEXT[] =
    "%s: line %s of %s differs from the job, from character %zu on:";
inline constexpr char CHECK_TIME_LINE_TEXT[] = "%s: line 1 of %s is not the time line of a job:";
inline constexpr char CHECK_MISSING_TEXT[] =
    "%s: line %s of %s is missing; the file goes on with the line after it:";
inline constexpr char CHECK_MISSING_LABEL[] = "  missing:  ";
inline constexpr char CHECK_EXPECTED_LABEL[] = "  expected: ";
inline constexpr char CHECK_FOUND_LABEL[] = "  found:    ";
inline constexpr char CHECK_TIME_FORM_TEXT[] =
    "a line of the form \"; Generated at Www Mmm dd hh:mm:ss yyyy\"";
// A copy made as text, whose line ends became CR LF.
inline constexpr char CHECK_CR_LF_TEXT[] =
    "%s: its lines end in CR LF, not LF alone: the copy was made as a text file. "
    "Copy " VISOR_OUTPUT_FILE " again as a binary file.";
inline constexpr char CHECK_FILE_ENDS_NOTE[] = ", where the file ends";
inline constexpr char CHECK_SHORT_TEXT[] = "%s ends early: it holds %s of the job's %s lines.";
inline constexpr char CHECK_CUT_TEXT[] =
    "%s ends early: it holds %s of the job's %s lines, and line %s only in part:";
inline constexpr char CHECK_NO_LINE_END_TEXT[] =
    "%s: the job's last line, line %s, has no line end.";
inline constexpr char CHECK_LONGER_TEXT[] = "%s: the job's %s lines are followed by more:";
inline constexpr char CHECK_EMPTY_TEXT[] = "%s is empty: it holds no job.";
inline constexpr char CHECK_NOT_A_JOB_TEXT[] =
    "%s is not a job of " VISOR_PROGRAM ": its line 2 does not give the three values:";
inline constexpr char CHECK_HEADER_FORM_TEXT[] = "\"; With z_start: Z heat temp: T speed: S\"";
inline constexpr char CHECK_NO_HEADER_TEXT[] =
    "%s is not a job of " VISOR_PROGRAM ": it ends before line 2, which gives the three values.";
inline constexpr char CHECK_INVALID_VALUE_TEXT[] =
    "%s: the %s in line 2, %s, is no valid value: %s.";
inline constexpr char CANNOT_READ_TEXT[] = "Cannot read file %s: %s.";
inline constexpr char CANNOT_READ_AFTER_TEXT[] = "Cannot read file %s after line %s: %s.";
inline constexpr char NOT_A_FILE_REASON[] = "Not a regular file";
inline constexpr char CHECK_STOPPED_TEXT[] = "Generation stopped: %s was not checked.";
// After the summary, where the system kept the check from reading past its
// cache.
inline constexpr char CHECK_CACHED_TEXT[] =
    "Note: read through the system's cache, which could not be bypassed.";

// The summary after a complete job: its labels, and the warnings that name
// the printer's limits. The build height is a number here too, so that the
// text and the check cannot differ.
#define VISOR_PRINTER "DiscoEasy200"
#define VISOR_BUILD_HEIGHT_MM 205
#define VISOR_BED_MM 205  // each side of the square bed
#define VISOR_TEXT_OF(x) #x
#define VISOR_NUMBER_TEXT(x) VISOR_TEXT_OF(x)
#define VISOR_TOP_Z "Z " VISOR_NUMBER_TEXT(VISOR_BUILD_HEIGHT_MM)

inline constexpr char PRINT_TIME_LABEL[] = "Print time:       ";
inline constexpr char FILAMENT_LABEL[] = "    Filament: ";
inline constexpr char FILAMENT_MATERIAL[] = "of PLA";
inline constexpr char HEIGHT_LABEL[] = "Height:           ";
inline constexpr char NOTHING_EXTRUDED_TEXT[] = "nothing is extruded";
inline constexpr char BELOW_BED_TEXT[] =
    "Warning: the job goes below Z 0, the " VISOR_PRINTER "'s bed.";
inline constexpr char ABOVE_BUILD_HEIGHT_TEXT[] =
    "Warning: the job goes above " VISOR_TOP_Z ", the " VISOR_PRINTER "'s build height.";
inline constexpr char OUTSIDE_BUILD_HEIGHT_TEXT[] =
    "Warning: the job goes below Z 0 and above " VISOR_TOP_Z ", the " VISOR_PRINTER "'s height.";
// The last line of the summary: the command that checks the copy, to run
// once the file is on the printer's card. printf format: the program's
// command.
inline constexpr char COPY_CHECK_FORMAT[] = "After copying:    %s --check <card>/" VISOR_OUTPUT_FILE
                                            " checks the copy on the printer's card";
// Where the lines of the result go on below the labels.
inline constexpr size_t VALUE_COLUMN = 18;
// The finished screen's, and the lines after "Created file:".
inline constexpr char FILE_LABEL[] = "Full path:        ";
inline constexpr char CLOSE_KEY_TEXT[] = "Press a key to close this screen.";
inline constexpr char PAUSES_LABEL[] = "Pauses:           ";
inline constexpr char NO_PAUSES_TEXT[] = "none";
inline constexpr char PAUSES_MORE_FORMAT[] = ", and %d more";
inline constexpr char FOOTPRINT_LABEL[] = "Footprint:        ";
inline constexpr char NO_XY_MOVE_TEXT[] = "no move in X or Y";
inline constexpr char OFF_BED_TEXT[] = "Warning: the job leaves the " VISOR_PRINTER "'s bed.";

#endif  // VISOR_FRONTEND_MESSAGES_H_
