// Tab completion: SQL keywords and the names of the data source's tables, views and columns, by context.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "odbc/connection.h"

// Sets the connection whose catalog is read, through the connection's completion statement handle, when a
// Tab needs it; forgets what was read before. After a reconnect (a new generation of the connection) what
// was read is forgotten too.
void SetCompletionConnection(Connection* lpConnection);

// What a Tab completes to: texts that each replace the word typed, and whether a blank follows a single one.
struct Completions {
  std::vector<std::string> texts;  // each once, the best first
  bool fBlankAfter = true;         // false after a qualifier ("schema.") that a name follows
};

// Returns the completions of the word line[wordStart, cursor): after FROM, JOIN, INTO, UPDATE and TABLE the
// tables and views of the current schema (or catalog); in an expression after SELECT, WHERE, ON, SET, BY and
// HAVING the columns of the tables the statement names, then those of the current schema; after `name.` the
// columns of that table or alias and the tables of that schema; elsewhere keywords, in the case typed.
// Names that need quoting come inside the source's quote character, closing quote included. Ctrl-C during a
// catalog read cancels it: the result is then empty, and the interrupt is cleared so the line is kept.
Completions CompletionsAt(const std::string& line, size_t wordStart, size_t cursor);

// Tells completion that a statement ran: one that may change the catalog (CREATE, ALTER, DROP, RENAME, USE,
// SET search_path) drops the names read so far, so the next Tab reads them again.
void NoteStatementForCompletion(const std::string& statement);
