// One statement's lifecycle: execute, list every result set and count, read on, close; and its outcome.
#pragma once

#include <string>

#include "display/listing.h"
#include "odbc/odbc_api.h"

// How a statement went.
enum class StatementOutcome {
  Ok,         // it ran, and every result set and count was shown
  Failed,     // it or one of its results failed (diagnostics printed): a failed statement for -b and -e
  Cancelled,  // Ctrl-C cancelled it, or came while it ran: what it returned was discarded
  Fatal,      // a call the session cannot go on without failed: the session shuts down
  Lost,       // it failed because the connection is gone (diagnostics printed)
};

// What a statement's lifecycle must know of the driver.
struct StatementRules {
  bool fMoreResultsAfterCount;  // SQLMoreResults may be called after a result without columns
};

// Executes `text` on lpStmt (allocated anew on lpDbc first when a listing had to free it) and shows every
// result set as `style` says and every row count, reporting each diagnostic; then closes the cursor.
StatementOutcome RunStatement(SQLHDBC lpDbc, SQLHSTMT& lpStmt, std::string& text, const ListingStyle& style,
                              const StatementRules& rules);

// Makes sure lpStmt is allocated on lpDbc: a listing whose bindings would not come off, or a reconnection,
// leaves it null. Returns false when that failed (reported).
bool HaveStatement(SQLHDBC lpDbc, SQLHSTMT& lpStmt);

// Closes the cursor of a statement or catalog call that ended with `outcome`, and returns the outcome. After
// a cancel (which may have closed it already) a handle that cannot be closed is freed and lpStmt set to null,
// for the next statement to allocate a new one; otherwise a close that fails is Fatal.
StatementOutcome CloseCursor(SQLHSTMT& lpStmt, StatementOutcome outcome);

// The rules for the driver on lpDbc, by its SQL_DRIVER_NAME.
StatementRules StatementRulesFor(SQLHDBC lpDbc);
