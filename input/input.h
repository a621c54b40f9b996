// Plain line input: statements from a script or a terminal without the editor, replies at a pause, and the
// buffered reader of files and pipes.
#pragma once

#include <string>
#include <vector>

#include "display/output.h"

// Lines of a file or a pipe, read through a buffer of its own straight into the caller's string, so that a
// long line is held once.
struct LineReader {
  int fd = -1;                // the descriptor read
  std::vector<char> buffer;   // bytes read and not yet handed out
  size_t start = 0;           // where they begin in buffer
  size_t end = 0;             // where they end
  bool fEnded = false;        // end of file (or an error) was read
  int readErrno = 0;          // the error that ended it, or 0
};

// What a read of a line from a LineReader brought.
enum class ReaderRead {
  Line,         // a line, with or without its newline
  End,          // end of the file, or an error (readErrno tells)
  Interrupted,  // a signal interrupted the read; what was read so far stays in the string
};

// Reads the rest of a line into `line` (appended), without its newline; *fNewline tells whether it had one.
ReaderRead ReadReaderLine(LineReader& reader, std::string& line, bool* fNewline);

// The session's standard input.
struct Input {
  bool fEnded = false;      // end of input seen (or declared): later reads return at once
  int terminalReader = -2;  // a non-blocking description of the terminal on standard input; -2 until opened
  LineReader script;        // standard input when it is not a terminal
};

// Reads one line of standard input of any length, without its newline, after flushing standard output.
// From a terminal the line is read a byte at a time, so that lines typed ahead or pasted stay in the
// terminal for the next reader (the editor reads the same way); from a script through a buffer. A line too
// long for the memory left throws std::bad_alloc, as any failed allocation does.
InputResult ReadInputLine(Input& input, std::string& line);

// Reads a line typed at the terminal, with bracketed paste on while it waits: a pasted block is never the
// line read. Its lines, whole, go to `pasted` (a line break inside the block ends one), and the read goes on
// until a line is typed; a line with a block inside it is what was typed before and after the block.
InputResult ReadTypedLine(Input& input, std::string& line, std::vector<std::string>& pasted);

// Reads one byte of the terminal on standard input if one is there now, never waiting: Ctrl-C empties the
// terminal's input, so a byte that poll saw may be gone when it is read, and a read that waited would
// wait for the next key. Returns 1 with *byte set, 0 when no byte is there, -1 at end of input or on an
// error.
int ReadTerminalByteNow(Input& input, unsigned char* byte);
