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

// The rules for the driver on lpDbc, by its SQL_DRIVER_NAME.
StatementRules StatementRulesFor(SQLHDBC lpDbc);
