// The one output layer: buffered standard output, and standard error in program order.
#pragma once

#include <cstddef>
#include <string>

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so that no file or socket opened
// later takes its place. Returns true when standard output was closed.
bool ProtectStandardDescriptors();

// What has become of standard output.
enum class OutputState {
  Working,     // every write so far succeeded
  Failed,      // a write failed (reported once); later output is dropped
  PipeBroken,  // the reader of the pipe has gone; later output is dropped
};

// What the output layer holds: buffered standard output and how it has gone. One lives in the console
// record; its destination is where results go.
constexpr size_t OUTPUT_BUFFER_BYTES = 64 * 1024;
struct Output {
  char buffer[OUTPUT_BUFFER_BYTES];  // pending standard output
  size_t used = 0;                   // bytes of buffer waiting to be written
  int fd = 1;                        // where results go: standard output, or the file or pipe of \o
  bool fLineBuffered = false;        // the destination is a terminal: written at each line end
  bool fStdoutTerminal = false;      // standard output is a terminal
  bool fStdinTerminal = false;       // standard input is a terminal
  OutputState state = OutputState::Working;  // the destination's: once a write failed, it stays failed
  OutputState stdoutState = OutputState::Working;  // standard output's, put aside while results go elsewhere
};

// Sets up the output layer on `output`, which must live as long as the process writes: standard output
// line-buffered on a terminal, fully buffered otherwise; flushed at exit. Protects the standard
// descriptors first and reports a closed standard output once.
void InitOutput(Output& output);

// Writes out what is pending and lets go of the output record, before it ends: nothing is written after.
void CloseOutput();


// Where results went before RedirectOutput, to be restored.
struct OutputTarget {
  int fd;              // the descriptor results went to
  bool fLineBuffered;  // whether it was written at each line end
  OutputState state;   // how its writes had gone
};

// Sends results to fd, fully buffered and unaltered, until RestoreOutput: an export to a file.
OutputTarget RedirectOutput(int fd);

// Writes out what is pending to the redirected descriptor and sends results back where they went before.
// Returns how the writes to the redirected descriptor went.
OutputState RestoreOutput(const OutputTarget& saved);

// Returns the state of where results go: a listing stops once it is not Working.
OutputState StdoutState();

// True when standard output itself has lost its reader (not the command of \o): the session ends.
bool StdoutPipeBroken();

// Sends results to fd from now on (the caller owns and closes it), or back to standard output with -1;
// what is pending goes to the old destination first. A destination of its own has a state of its own.
void SetOutputDestination(int fd);

// True when results go to a terminal now: values are made safe to show.
bool OutputIsTerminal();

// Returns true when standard output is a terminal, as found at start-up.
bool StdoutIsTerminal();

// Returns true when standard input is a terminal, as found at start-up.
bool StdinIsTerminal();

// Appends len bytes to standard output.
void OutWrite(const char* data, size_t len);

// Appends a NUL-terminated text to standard output.
void OutText(const char* text);

// Returns room for at most len bytes (len <= OUT_RESERVE_MAX) in the output buffer; OutCommit ends the write.
constexpr size_t OUT_RESERVE_MAX = 48 * 1024;
char* OutReserve(size_t len);

// Marks the bytes from the last OutReserve up to end as written.
void OutCommit(char* end);

// Writes out whatever standard output holds.
void OutFlush();

// Writes a text to standard error, after flushing standard output so both keep program order.
void ErrText(const char* text);

// Writes a diagnostic or error text of the ODBC layer to standard error, with control characters and bytes
// that are not valid text in the character set at lpCharset (a TextCharset) shown as '?', newline and tab
// kept: the layer's writer.
void ErrDiagnostic(void* lpCharset, const char* text);

// As ErrText, with a printf format; the result may be of any length.
void ErrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What a read of standard input brought (the readers are the session's).
enum class InputResult {
  Line,         // a line, without its newline
  End,          // end of input: no read is made again
  Interrupted,  // Ctrl-C during the read (or just before it); the read is abandoned
};
