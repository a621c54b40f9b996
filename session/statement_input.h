// Statements from text: statement mode at the prompt, SQL files (-f and \i), and the one step that runs a statement.
#pragma once

#include <cstdio>
#include <string>

#include "session/session.h"

// The splitter's dialect for the data source on lpDbc, from its DBMS name.
SqlDialect DialectOfDataSource(SQLHDBC lpDbc);

// True when a MySQL-family server's @@sql_mode on lpDbc holds NO_BACKSLASH_ESCAPES (false when it cannot be read).
bool SqlModeHasNoBackslashEscapes(SQLHDBC lpDbc);

// Runs one statement's text (a NUL byte in it is refused, as the driver would read only up to it) and notes
// a failure in the session.
RunStep RunStatementText(Session& session, std::string& text);

// Opens a SQL file for reading; returns null with errno set when it cannot be read (a directory included).
FILE* OpenSqlFile(const char* szPath);

// Runs the statements of an open SQL file, split as in statement mode; console commands on lines of their own.
// Statements that end inside a quote or comment are reported and not run.
RunStep RunSqlFile(Session& session, FILE* file);

// Runs the file given with -f; a Ctrl-C ends the session with status 130.
void RunFileOption(Session& session);

// Reads statements at the prompt in statement mode until end of input or the session ends.
void RunStatementPromptLoop(Session& session);
