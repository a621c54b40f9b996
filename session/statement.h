// One statement's lifecycle: execute, list every result set and count, read on, close; and its outcome.
#pragma once

#include <string>

#include "display/listing.h"
#include "odbc/connection.h"

// Executes `text` on the connection's statement handle (allocated anew first when it had to be freed) and
// shows every result set as `style` says and every row count, reporting each diagnostic; then closes the
// cursor. The outcome is not judged yet for a lost connection: RunOnSource does that.
StatementOutcome RunStatement(Connection& connection, std::string& text, const ListingStyle& style);

// Lists the open result set of cCols columns on lpStmt (one of the connection's handles) through the
// writers, fetching as the data source allows; with `chosen`, only those columns under the titles given.
// A statement whose bindings would not come off is freed (lpStmt set to null). Returns false when a call
// failed (reported).
bool ListResult(Connection& connection, SQLHSTMT& lpStmt, SQLSMALLINT cCols, const ListingStyle& style,
                const std::vector<ChosenColumn>* chosen = nullptr);

// Closes the cursor of a statement or catalog call that ended with `outcome`, and returns the outcome. After
// a cancel (which may have closed it already) a handle that cannot be closed is freed and lpStmt set to null,
// for the next statement to allocate a new one; otherwise a close that fails is Fatal.
StatementOutcome CloseCursor(SQLHSTMT& lpStmt, StatementOutcome outcome);
