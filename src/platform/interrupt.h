#ifndef VISOR_PLATFORM_INTERRUPT_H_
#define VISOR_PLATFORM_INTERRUPT_H_

// What an interrupt (Ctrl-C, Ctrl-\), a termination request or a closed terminal
// does to the process: the unfinished output file is removed, the console
// device is given back, the message set for the current stage is printed
// on its own line of standard error, and the process ends with status 128 +
// the signal number. Writes to a closed standard output or pipe fail
// quietly instead of ending the process.

// Installs the handlers; call once, early, from the main thread.
void interrupt_install();

// An async-signal-safe function that gives the console device back, or
// null. Set by the console that takes the device over.
void interrupt_set_restore(void (*restore)());

// The line printed when an interrupt ends the process now, or null for
// none. The text must stay valid (a string literal).
void interrupt_set_message(const char* line);

// A file the handler removes before anything else, or null for none: the
// temporary file of a job that is not complete. The path is copied now into
// memory of the handler's own, so that the handler reads only what was
// prepared in advance.
void interrupt_set_removal(const char* path);

// Between the two calls, interrupts wait: the calling thread takes none,
// and the threads started meanwhile take none ever, so that the handler
// always runs on the main thread, between its whole-line writes to the
// output file. Around a step that must not be cut in two (the rename of the
// complete job and the end of its removal on interrupt), an interrupt is
// handled after the step. Not nested.
void interrupt_hold();
void interrupt_release();

#endif  // VISOR_PLATFORM_INTERRUPT_H_
