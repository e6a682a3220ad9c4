#ifndef VISOR_FRONTEND_MESSAGES_H_
#define VISOR_FRONTEND_MESSAGES_H_

// Every message the program shows or prints, in one place, with the output
// file's name spelt once. A macro, so that the messages can be joined from
// it at compile time.
#define VISOR_OUTPUT_FILE "dagoma0.g"

inline constexpr char OUTPUT_FILE_NAME[] = VISOR_OUTPUT_FILE;

inline constexpr char CREATED_TEXT[] =
    "Created file:     " VISOR_OUTPUT_FILE " (in current directory)";
inline constexpr char FIELD_ERROR_TEXT[] = "Error:            typed number is invalid";
// Without the full screen the error line also names the value and shows the
// line as it was given: FIELD_ERROR_TEXT ": " name " " "quoted line".
inline constexpr char Z_START_NAME[] = "calibrating point";
inline constexpr char HEAT_TEMP_NAME[] = "heating temperature";
inline constexpr char SPEED_NAME[] = "speed";
// The progress as one line, rewritten in place, where no screen is drawn.
inline constexpr char PROGRESS_LINE_FORMAT[] = "Progress:         %d %%";

// While the file is flushed to the disk, when that takes long; as long as
// CREATED_TEXT, which then takes its place.
inline constexpr char SAVING_TEXT[] =
    "Saving file:      " VISOR_OUTPUT_FILE " (in current directory)";

inline constexpr char NO_INPUT_TEXT[] = "No input: " VISOR_OUTPUT_FILE " was not written.";
inline constexpr char INTERRUPTED_TEXT[] = "Interrupted: " VISOR_OUTPUT_FILE " was not changed.";
// The file failures are printed as "<head>: <reason>." with the system's
// reason, followed by NOT_CHANGED_TEXT once the job had begun.
inline constexpr char CANNOT_CREATE_TEXT[] = "Cannot create file " VISOR_OUTPUT_FILE;
inline constexpr char CANNOT_WRITE_TEXT[] = "Cannot write file " VISOR_OUTPUT_FILE;
inline constexpr char IN_USE_REASON[] = "Another run is writing it in this folder";
inline constexpr char NOT_CHANGED_TEXT[] = VISOR_OUTPUT_FILE " was not changed.";
inline constexpr char GENERATION_STOPPED_TEXT[] =
    "Generation stopped: " VISOR_OUTPUT_FILE " was not changed.";
inline constexpr char CANNOT_CREATE_CHANNEL_TEXT[] = "Cannot create named pipe.";
inline constexpr char CANNOT_CREATE_THREAD_TEXT[] = "Cannot create thread.";
inline constexpr char CANNOT_OPEN_CHANNEL_TEXT[] = "Cannot open pipe.";
inline constexpr char NO_STANDARD_OUTPUT_TEXT[] = "GetStdHandle error";

// The summary after a complete job: its labels, and the warnings that name
// the printer's limits. The build height is a number here too, so that the
// text and the check cannot differ.
#define VISOR_PRINTER "DiscoEasy200"
#define VISOR_BUILD_HEIGHT_MM 205
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

#endif  // VISOR_FRONTEND_MESSAGES_H_
