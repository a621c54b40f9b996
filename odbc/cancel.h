// The canceller: which statement is executing, so that Ctrl-C's watcher thread can cancel it on the server.
#pragma once

#include <mutex>

#include "odbc/odbc_api.h"

// Shared by the thread that runs statements and the watcher thread that Ctrl-C wakes; the mutex guards
// the rest, and the watcher holds it across SQLCancel.
struct Canceller {
  std::mutex phase;                       // guards what follows
  SQLHSTMT lpExecuting = SQL_NULL_HSTMT;  // the statement inside a cancellable call, or null
  bool fConcurrentCancel = true;          // SQLCancel may be called meanwhile; false: the driver crashes on it
  bool fToldCannotCancel = false;         // the running call's Ctrl-C was answered that it cannot be cancelled
};

// Marks the start and the end of a call that Ctrl-C may cancel (an execution, a catalog read): in between,
// CancelExecuting calls SQLCancel on lpStmt. SQLCancel never runs outside that span, so it never overlaps a
// fetch, a free or a disconnect. The end waits for a SQLCancel under way.
void BeginCancellableCall(Canceller& canceller, SQLHSTMT lpStmt);
void EndCancellableCall(Canceller& canceller);

// The watcher's part at Ctrl-C: cancels the executing statement, if there is one; on a driver that a
// concurrent SQLCancel crashes, says once a call that the statement runs to its end instead.
void CancelExecuting(Canceller& canceller);
