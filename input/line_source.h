// The sources lines come from: the terminal's editor, standard input, and SQL files (-f and \i).
#pragma once

#include <deque>
#include <string>

#include "display/output.h"
#include "input/input.h"
#include "input/statement_splitter.h"

// Where a source's lines come from.
enum class SourceKind {
  Editor,  // the terminal's line editor, which shows the prompt itself
  Input,   // standard input, a line at a time
  File,    // an SQL file, given with -f or run with \i
  Text,    // the text of a -c, a line at a time
};

// One source of lines, and the splitter that finds its statements.
struct LineSource {
  SourceKind kind = SourceKind::Input;  // where its lines come from
  LineReader file;                      // File: the open file, its descriptor owned
  std::string name;                     // File: its name as given; "<stdin>" for -f -
  std::string text;                     // Text: the text to run
  size_t textRead = 0;                  // Text: how much of it has been read
  long lineNumber = 0;                  // lines read so far
  long pieceLine = 1;                   // the line where the splitter's text not yet handed out begins
  bool fNamesLines = false;             // a file (-f, -f -, \i): its statements' reports begin with "NAME:LINE: "
  bool fStartup = false;                // the start-up file: its failures leave the exit status as it is
  bool fStatementMode = false;          // a statement ends at its delimiter; else at the end of its line
  bool fInteractive = false;            // a person types its lines: Ctrl-C goes back to the prompt
  bool fInclude = false;                // pushed by \i: when it ends, the source below goes on
  bool fReadFailed = false;             // File: reading failed; what was read of the last statement is not run
  StatementSplitter splitter;           // statement mode: the text read and not yet run

  LineSource() = default;
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;
  ~LineSource();
};

// Opens an SQL file for reading; returns -1 with errno set when it cannot be read (a directory included).
// Ctrl-C ends an open that waits (a FIFO without a writer) with EINTR.
int OpenSqlFile(const char* szPath);

// Reads the next line of `source` into `line`, without its newline; *fNewline tells whether it had one.
// Lines kept from a pause (`linesAhead`, lines that were not a reply) come first from the editor or
// standard input. A File that cannot be read further reports it and ends.
InputResult ReadSourceLine(LineSource& source, Input& input, std::deque<std::string>& linesAhead, const char* prompt,
                           std::string& line, bool* fNewline);
