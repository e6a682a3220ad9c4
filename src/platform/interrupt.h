#ifndef VISOR_PLATFORM_INTERRUPT_H_
#define VISOR_PLATFORM_INTERRUPT_H_

// What a signal that would end the process does instead (Ctrl-C, Ctrl-\, a
// termination request, a closed terminal, a crash, a limit; on Windows the
// console's control events): the unfinished output file is removed, the
// console device is given back, the message set for the current stage is
// printed on its own line of standard error, and the process ends with
// status 128 + the signal number. Once the job is in place, it ends with
// status 0 after printing what the run would still have printed. Writes to
// a closed standard output or pipe fail quietly instead of ending the
// process, and so do writes past the file-size limit.

struct OutputFile;

// Installs the handlers; call once, early, from the main thread.
void interrupt_install();

// An async-signal-safe function that gives the console device back, or
// null. Set by the console that takes the device over.
void interrupt_set_restore(void (*restore)());

// The line printed when a signal ends the process now, or null for none.
// The text must stay valid (a string literal).
void interrupt_set_message(const char* line);

// The output file the handler removes before anything else
// (output_file_abandon), or null for none: a job that is not complete.
// Where the file is mapped, a fault in its mapping is a failed write: then
// `write_failed` (copied now) is printed instead, and the status is 1.
void interrupt_set_removal(const OutputFile* file, const char* write_failed = nullptr);

// What a signal prints on standard output, ending the process with status
// 0, once the job is in place (copied now; null: nothing): the run's
// result. Set before the commit, it is also what a fault during the commit
// prints when the rename has already put the job in place.
void interrupt_set_result(const char* text);

// The job is in place: from now on a signal ends the process with status
// 0, after printing the result.
void interrupt_set_done();

// Ends the process now, as a signal would, from any thread: the unfinished
// file removed, the console given back, `line` printed on standard error,
// `status`; once the job is in place, status 0 after the result. For a
// failure that leaves no way on (no memory left).
[[noreturn]] void interrupt_end(const char* line, int status);

// Between the two calls, interrupts wait: the calling thread takes none,
// and the threads started meanwhile take none ever, so that the handler
// always runs on the main thread, between its whole-line writes to the
// output file. Around a step that must not be cut in two (the rename of the
// complete job and the end of its removal on interrupt), an interrupt is
// handled after the step. Not nested. Faults (a crash) cannot wait: they
// are handled on the thread that has them.
void interrupt_hold();
void interrupt_release();

#endif  // VISOR_PLATFORM_INTERRUPT_H_
