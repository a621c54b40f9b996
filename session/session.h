// The record of one run of the console: connection, console, listing, line sources and how it went.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "display/listing.h"
#include "odbc/connection.h"
#include "input/history.h"
#include "input/line_editor.h"
#include "input/line_source.h"
#include "session/options.h"
#include "session/variables.h"

// The prompt for a new statement, and the one that shows a statement is not complete yet (as wide).
constexpr char PROMPT[] = "SQL COMMAND>";
constexpr char CONTINUATION_PROMPT[] = "        ...>";

// Where \o sends results instead of standard output, and the listing's settings it put aside.
struct OutputRedirect {
  int fd = -1;                // the file written, or the pipe to the command; -1: standard output
  FILE* lpPipe = nullptr;     // \o |COMMAND: the command's stream, closed with pclose
  bool fPaging = false;       // the listing's paging before: a file is never paused
  bool fHighlight = false;    // the listing's highlight before: a file holds no escape sequences
};

// One run of the console, passed to every step of the session.
struct Session {
  Connection connection;                            // the data source, its handles and profile
  std::map<std::string, std::unique_ptr<Connection>> namedConnections;  // \connect NAME: other data sources
  SessionOptions options;                           // the command line
  Console console;                                  // the terminal: its character set and window
  ListingStyle listing;                             // how result sets are written
  bool fEditor = false;                             // the terminal's line editor reads the statements
  LineEditor editor;                                // the editor's state, its completion's included
  HistoryFile history;                              // where the editor keeps the statements typed
  std::vector<std::unique_ptr<LineSource>> sources;  // where lines come from: the last one is read
  Input input;                                      // standard input
  std::deque<std::string> linesAhead;               // lines read at a pause that were not a reply
  Variables variables;                              // \set and -v: what :NAME stands for in statements
  OutputRedirect redirect;                          // \o: where results go
  std::string restrictKey;                          // \restrict KEY: no other command runs until \unrestrict KEY
  std::string lastStatement;                        // the last statement typed, for \e and \watch
  bool fTiming = false;                             // \timing: each statement's wall time is written after it
  bool fQuit = false;                               // \q, quit or exit: the session ends
  bool fStatementFailed = false;                    // some statement failed: with -b or -e the exit status is 1
  bool fCallFailed = false;                         // the session ended at a failed checked call
  bool fInterrupted = false;                        // Ctrl-C ended a session fed by a script: exit status 130
};
