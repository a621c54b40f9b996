// The result table: header, rows, end bar and the pause after every screenful.
#pragma once

#include "display/column_bindings.h"
#include "display/listing.h"

// Lists every row of the statement's open result set of cCols columns on standard output as `style` says:
// by default as a highlighted table that pauses after every screenful. Releases what it bound; the cursor
// stays open. Returns false when a call failed on the way (its diagnostics printed), true otherwise, also
// when the user stopped the listing or standard output failed.
bool ShowResultSet(SQLHSTMT lpStmt, SQLSMALLINT cCols, const ListingStyle& style = CONSOLE_LISTING);

// Prints the highlighted header line: each column's title in its width. Returns nothing.
// Highlighted unless fHighlight is false.
void PrintColumnTitles(SQLHSTMT lpStmt, SQLSMALLINT cchTotalWidth, ColumnBinding* lpBindings, bool fHighlight = true);
