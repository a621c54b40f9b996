// Plain line input: statements from a script or a terminal without the editor, and replies at a pause.
#pragma once

#include <string>

#include "display/output.h"

// Reads one line of standard input of any length, without its newline, after flushing standard output.
// From a terminal the line is read a byte at a time, so that lines typed ahead or pasted stay in the
// terminal for the next reader (the editor reads the same way); from a script through a buffer. A line too
// long for the memory left throws std::bad_alloc, as any failed allocation does.
InputResult ReadInputLine(std::string& line);

// True once end of input has been seen (or declared by EndInput).
bool InputEnded();

// Declares end of input: no read is made again.
void EndInput();

// Reads one byte of the terminal on standard input if one is there now, never waiting: Ctrl-C empties the
// terminal's input, so a byte that poll saw may be gone when it is read, and a read that waited would
// wait for the next key. Returns 1 with *byte set, 0 when no byte is there, -1 at end of input or on an
// error.
int ReadTerminalByteNow(unsigned char* byte);
