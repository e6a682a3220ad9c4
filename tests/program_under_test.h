#ifndef VISOR_TESTS_PROGRAM_UNDER_TEST_H_
#define VISOR_TESTS_PROGRAM_UNDER_TEST_H_

// The real visor-gcode as the end-to-end tests run it: what it must show and
// write, and the steps of a dialogue with it.

#include <gtest/gtest.h>

#include <string>

#include "piped_run.h"
#include "pty_session.h"
#include "test_support.h"

// Path of the built program.
extern const char VISOR_GCODE[];

// Time-outs only guard against a hang; nothing here measures speed.
inline constexpr int SCREEN_MS = 30000;
inline constexpr int JOB_MS = 600000;

// Texts of the dialogue screen, each written from column 4 of its row.
inline constexpr char BANNER[] = "Lumenforge - 3d vantor dagoma printing";
inline constexpr int BANNER_COL = 35, BANNER_ROW = 4;
inline constexpr int TEXT_COL = 4;
inline constexpr char OBJECT_TEXT[] = "3d object:        visor with holes for plexiglas or glasses";
inline constexpr char VERSION_TEXT[] = "Version:          1.2.0 - 11/11/2024";
inline constexpr char WRITING_TEXT[] = "Writing gcode:    ";
inline constexpr char PROGRESS_TEXT[] = "Progress:         |";
inline constexpr char ERROR_TEXT[] = "Error:            typed number is invalid";
inline constexpr char CREATED_TEXT[] = "Created file:     dagoma0.g (in current directory)";
inline constexpr char NO_INPUT_TEXT[] = "No input: dagoma0.g was not written.";
inline constexpr char INTERRUPTED_TEXT[] = "Interrupted: dagoma0.g was not changed.";
// A second run in a folder where a first one is writing the job.
inline constexpr char IN_USE_TEXT[] =
    "Cannot create file dagoma0.g: Another run is writing it in this folder.";
// The progress row: 80 marks from this column, then the closing sign.
inline constexpr int PROGRESS_ROW = 14, FIRST_MARK_COL = 23;

// The three fields: the prompt's row and the column of the field's first
// cell, two blanks after the prompt.
struct Field {
  const char* prompt;
  int row;
  int first_col;
};
inline constexpr Field Z_START_FIELD = {
    "Enter calibrating point (number between -40.000 and 200.000):", 16, 67};
inline constexpr Field HEAT_TEMP_FIELD = {
    "Enter heating temperature (depends on filament number between 170 and "
    "270):",
    17, 81};
inline constexpr Field SPEED_FIELD = {
    "Enter speed value (300 strongly encouraged 600 maximum):", 18, 62};

// Lines of a complete job, whatever the three values.
inline constexpr unsigned long long COMPLETE_JOB_LINES = 3758388;

// The job for three typed texts, pinned as the SHA-256 of lines 2 to the end
// (line 1 holds the time of day). The job must never change.
struct PinnedJob {
  const char* z_start;
  const char* heat_temp;
  const char* speed;
  const char* sha256;
};
inline constexpr PinnedJob PINNED_JOBS[] = {
    {"0.4", "210", "300", "75ef85c02971838c3549eaaa068566e09e835f194019973a957fdd1993b5a0e7"},
    {"-0", "170", "80", "6a6a8a9fcb29cc8a5687aad7a1670fc51e298fc689f821f4b59bf59a842b8adc"},
    {"123456789", "123456789", "123456789",
     "094c26e4a030d28dfe45c6d4abdd0a1ad28d53431594b5252a2790486a0d29c0"},
};

// What every complete run here types: the first pinned job's values.
inline constexpr char JOB_INPUT[] = "0.4\n210\n300\n";

// What the job for JOB_INPUT will take, as a printer host reads the same
// file: 78,760 s or so, 44,206.69 mm of filament (131.8 g), three pauses,
// printed from Z 0.400 to 194.153 and within X -90 to 93.8, Y -96.398 to
// 74; within the printer's height and on its bed, so no warning. Shown
// above the frame from SUMMARY_ROW on, and printed after CREATED_TEXT and
// the file's full path.
inline constexpr const char* JOB_SUMMARY_TEXTS[] = {
    "Print time:       21 h 53 min    Filament: 44.21 m (132 g of PLA)",
    "Pauses:           2 s at Z 6.000, 2 s at Z 6.000, 60 s at Z 48.900",
    "Height:           Z 0.400 to 194.153 mm",
    "Footprint:        X -90.000 to 93.800, Y -96.398 to 74.000 mm",
};
inline constexpr int SUMMARY_ROW = 5;
// The file's full path and size, with the key that closes the screen.
inline constexpr int FILE_ROW = 19;
inline constexpr char FILE_LABEL[] = "Full path:        ";
inline constexpr char JOB_SIZE_TEXT[] = " (130.7 MB)";
inline constexpr char CLOSE_KEY_TEXT[] = "Press a key to close this screen.";

// What a complete run for JOB_INPUT in dir prints once the job is in
// place: CREATED_TEXT, the file's full path and size, the summary.
// The summary's last line, printed after it: how to check the copy.
// The program, started here by its full path, which the PATH does not
// find, names itself by it.
std::string copy_check_line();
// What --check prints of a file that holds the job for JOB_INPUT, after the
// file's name; the summary's figures follow.
inline constexpr char CHECKED_TEXT[] =
    ": the complete job for calibrating point 0.4, temperature 210, speed 300 (3,758,388 lines)";

// What a complete run for JOB_INPUT in dir prints once the job is in
// place: CREATED_TEXT, the file's full path and size, the summary, the
// command that checks the copy.
std::string job_result_lines(const TempDir& dir);
// The summary's figures for JOB_INPUT, a line each.
std::string job_summary_lines();

// Checks, with GoogleTest expectations, that the file at path holds the
// complete job for JOB_INPUT, byte for byte but for the time of day.
void expect_complete_job(const std::string& path);

// --- Without a terminal ---

// The program in dir, given input on a pipe.
PipedRun run_plain(const TempDir& dir, const std::string& input, int timeout_ms = JOB_MS);

// --- On a terminal ---

// Starts the program in dir on a pseudo-terminal, 120 x 30 unless told.
testing::AssertionResult start_on_terminal(PtySession* s, const TempDir& dir, int cols = 120,
                                           int rows = 30);
bool shows_prompt(const PtySession& s, const Field& f);
// Waits until the field takes keys: its prompt stands, its cells are empty
// and the rows of the later fields are blank. The program flushes keys typed ahead before
// it shows a field's prompt, so keys typed once this holds reach the field.
testing::AssertionResult wait_for_field(PtySession* s, const Field& f);
// Types text into the waiting field, each character once the one before is
// echoed.
testing::AssertionResult type_into(PtySession* s, const Field& f, const std::string& text);
// type_into, then Enter.
testing::AssertionResult enter_value(PtySession* s, const Field& f, const std::string& text);
// Starts the program, enters JOB_INPUT and waits for the first progress
// mark: the job runs.
testing::AssertionResult start_job_on_terminal(PtySession* s, const TempDir& dir);

#endif  // VISOR_TESTS_PROGRAM_UNDER_TEST_H_
