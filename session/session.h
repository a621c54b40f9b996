// The record of one run of the console, and the steps the statement loops share.
#pragma once

#include <cstdio>
#include <string>

#include "display/listing.h"
#include "odbc/odbc_api.h"
#include "session/history.h"
#include "session/options.h"
#include "session/statement.h"
#include "session/statement_splitter.h"

// The prompt for a new statement, and the one that shows a statement is not complete yet (as wide).
constexpr char PROMPT[] = "SQL COMMAND>";
constexpr char CONTINUATION_PROMPT[] = "        ...>";

// One run of the console: its handles, what the command line asked for, and how it went.
struct Session {
  SQLHENV lpEnv = SQL_NULL_HENV;    // the environment, owned for the whole run
  SQLHDBC lpDbc = SQL_NULL_HDBC;    // the connection, owned for the whole run
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;  // the one statement handle, reused for every statement
  SessionOptions options;           // the command line
  Console console;                  // the terminal: its character set and window
  ListingStyle listing;              // how result sets are written
  StatementRules rules{true};        // what the statement lifecycle must know of the driver
  bool fEditor = false;             // the terminal's line editor reads the statements (it shows the prompt)
  HistoryFile history;              // where the editor keeps the statements typed, across sessions
  bool fStatementFailed = false;    // some statement failed: with -b or -e the exit status is 1
  bool fCallFailed = false;         // the session ended at a failed checked call
  bool fInterrupted = false;        // Ctrl-C ended a session fed by a script: exit status 130
  bool fConnectionLost = false;     // the connection was lost and could not be made again yet
  SqlDialect dialect = SqlDialect::Generic;  // how statement text is split, from the data source's DBMS name
  bool fNoBackslashEscapes = false;          // MySQL family: the server's sql_mode reads a backslash as itself
  FILE* lpSqlFile = nullptr;                 // the file given with -f, opened before connecting
  int fileDepth = 0;                         // how many \i files are running, one inside another
  bool fTiming = false;                      // \timing: each statement's wall time is written after it
};

// What the session does after a statement or a console command.
enum class RunStep {
  Next,         // reads on
  Interrupted,  // Ctrl-C came: the caller decides whether the session goes on
  End,          // the session ends (\q, a failed checked call, a failure with -e, a reader gone)
};

// Executes one statement and reports its outcome; returns false when a checked call failed.
bool ExecuteStatement(Session& session, std::string& szCommand);

// Deals with a Ctrl-C once the statement or the read it interrupted has ended. At a terminal the session
// goes on; a script ends there, so that it never goes on half-run. Returns false when the session ends.
bool GoOnAfterInterrupt(Session& session);
