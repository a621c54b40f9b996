// The result table: header, rows, end bar and the pause after every screenful.
#pragma once

#include "display/column_bindings.h"

// Lists every row of the statement's open result set of cCols columns as a table on standard output,
// pausing after every screenful, and releases its column bindings. The cursor stays open. Returns nothing.
void ShowResultSet(SQLHSTMT lpStmt, SQLSMALLINT cCols);

// Prints the highlighted header line: each column's title in its width. Returns nothing.
void PrintColumnTitles(SQLHSTMT lpStmt, SQLSMALLINT cchTotalWidth, ColumnBinding* lpBindings);
