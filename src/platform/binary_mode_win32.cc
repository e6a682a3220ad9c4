// Files that the C runtime opens start in binary mode, as on Linux: a "\n"
// stays one byte, and a Ctrl+Z or CR in piped input arrives as it was sent.
// The runtime's start-up code copies this variable; defining it here takes
// the place of the default (text) one. Nothing else in the program reads
// it, so no header is included: theirs would make the name a macro.

extern "C" {
int _fmode = 0x8000;  // _O_BINARY
}
