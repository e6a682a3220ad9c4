#ifndef VISOR_TESTS_PROGRAM_UNDER_TEST_H_
#define VISOR_TESTS_PROGRAM_UNDER_TEST_H_

// The real visor-gcode as the end-to-end tests run it, and what it must
// show and write.

#include <string>

// Path of the built program.
extern const char VISOR_GCODE[];

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

// Checks, with GoogleTest expectations, that the file at path holds the
// complete job for the three typed texts: its size in lines, header, start
// and end sequences, and no end marker.
void expect_complete_job(const std::string& path, const std::string& z_start,
                         const std::string& heat_temp, const std::string& speed);

#endif  // VISOR_TESTS_PROGRAM_UNDER_TEST_H_
