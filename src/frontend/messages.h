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

#endif  // VISOR_FRONTEND_MESSAGES_H_
