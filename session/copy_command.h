// \copy: files into tables, tables and queries into files, rows of one data source into a table of another.
#pragma once

#include <string_view>

#include "input/line_source.h"
#include "session/session.h"

// \copy ARGUMENTS: one copy, as its one line says (see the command table); "N rows copied" at the end.
StatementOutcome CopyCommand(Session& session, std::string_view argument);

// Whether a statement is a COPY through the client's standard streams (FROM STDIN, TO STDOUT): the
// driver would wait for ever on one, so none is sent to it.
bool IsCopyThroughStdio(std::string_view statement);

// Runs such a COPY: FROM STDIN in an SQL file loads the lines after it, up to a line "\.", through the
// bulk path (a PostgreSQL dump's data); anything else is refused with a word about \copy.
StatementOutcome RunCopyStatement(Session& session, std::string_view statement, LineSource& source);
