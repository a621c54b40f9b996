// The connection record: environment, connection and statement handles, connect, reconnect and one teardown.
#pragma once

#include <string>

#include "odbc/cancel.h"
#include "odbc/data_source.h"
#include "odbc/odbc_api.h"

// How anything that talks to the data source went: a statement, a catalog command, a catalog read.
enum class StatementOutcome {
  Ok,         // it ran, and every result set and count was shown
  Failed,     // it or one of its results failed (diagnostics printed): a failed statement for -b and -e
  Cancelled,  // Ctrl-C cancelled it, or came while it ran: what it returned was discarded
  Fatal,      // a call the session cannot go on without failed: the session shuts down
  Lost,       // it failed because the connection is gone (diagnostics printed)
};

// The session's one connection to its data source. Every statement handle is allocated on it and lives
// in it, so that a reconnect (which releases them all) leaves none dangling: a borrower compares the
// generation it saw with the record's.
struct Connection {
  SQLHENV lpEnv = SQL_NULL_HENV;                // the environment, for the whole run
  SQLHDBC lpDbc = SQL_NULL_HDBC;                // the connection handle, for the whole run
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;             // the session's statement handle, reused for every statement
  SQLHSTMT lpCompletionStmt = SQL_NULL_HSTMT;   // completion's own statement handle, allocated at its first read
  SQLHDBC lpCompletionDbc = SQL_NULL_HDBC;      // completion's own connection, where it has one; else lpDbc serves
  std::string connectionString;                 // as given (with -p, the password in it), for a reconnect
  unsigned generation = 0;                      // counts connects: a handle borrowed before is gone
  bool fConnected = false;                      // SQLDriverConnect succeeded and no disconnect came since
  bool fLost = false;                           // the connection was found gone and not made again yet
  DataSourceProfile profile;                    // the data source, read at every connect
  Canceller canceller;                          // the call Ctrl-C may cancel, shared with the watcher thread

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();
};

// Allocates the environment handle. Returns false when the driver manager answers SQL_ERROR.
bool AllocateEnvironment(Connection& connection);

// Sets ODBC 2 behaviour, allocates the connection handle and connects with `connectionString` (none at
// all when it is empty), each under the checked-call rule; then reads the data source's profile. Returns
// false when a call failed (reported).
bool Connect(Connection& connection, const std::string& connectionString);

// Drops the connection and connects again with the same string within about loginTimeoutSeconds, in
// attempts of a second (SQL_ATTR_LOGIN_TIMEOUT, or the keyword of the profile's connectTimeoutKey added to
// the string where the user did not set it), so that GivenUp() (Ctrl-C) is heard between them. Every
// statement handle is gone afterwards and the generation counts one more. Returns the last attempt's code;
// its diagnostics are the caller's to report.
SQLRETURN Reconnect(Connection& connection, SQLUINTEGER loginTimeoutSeconds, bool (*GivenUp)());

// Opens another connection on the environment lpEnv with connectionString, never prompting, into *lpDbc.
// Returns false (nothing reported, *lpDbc null) when that fails.
bool ConnectAgain(SQLHENV lpEnv, std::string& connectionString, SQLHDBC* lpDbc);

// Disconnects and frees completion's own connection and its statement, if it has them.
void DropCompletionConnection(Connection& connection);

// The one teardown: frees the statement handles (the SQLite driver keeps its database open while a
// statement of it is allocated), disconnects, frees the connection and the environment. Results ignored.
void Disconnect(Connection& connection);

// Makes sure `lpStmt` (one of the record's handles) is allocated on the connection. Returns false when that
// failed (reported under the checked-call rule).
bool HaveStatement(Connection& connection, SQLHSTMT& lpStmt);

// Frees a statement handle and sets it to null, for the next use to allocate a new one.
void DropStatement(SQLHSTMT& lpStmt);

// Whether a call failed because the connection is gone: the driver says the connection is dead, or a
// diagnostic record of lpStmt or the connection is of SQLSTATE class 08 (connection exception).
bool ConnectionIsGone(const Connection& connection, SQLHSTMT lpStmt);

// Judges the outcome of a call on `lpStmt` that ended with `outcome`: a failure on a connection that is
// gone is Lost, the statement handle freed (the MariaDB driver leaves a statement of a dead connection
// pointing into memory it has freed) and the connection marked lost. Any other outcome stands.
StatementOutcome JudgeOutcome(Connection& connection, SQLHSTMT& lpStmt, StatementOutcome outcome);
