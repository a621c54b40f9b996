// The canceller: the span of a cancellable call, and the watcher's SQLCancel within it.
#include "odbc/cancel.h"

void BeginCancellableCall(Canceller& canceller, SQLHSTMT lpStmt) {
  std::lock_guard<std::mutex> lock(canceller.phase);
  canceller.lpExecuting = lpStmt;
  canceller.fToldCannotCancel = false;
}

void EndCancellableCall(Canceller& canceller) {
  std::lock_guard<std::mutex> lock(canceller.phase);  // waits for a SQLCancel under way
  canceller.lpExecuting = SQL_NULL_HSTMT;
}

void CancelExecuting(Canceller& canceller) {
  std::lock_guard<std::mutex> lock(canceller.phase);
  if (canceller.lpExecuting == SQL_NULL_HSTMT) return;
  if (canceller.fConcurrentCancel) {
    SQLCancel(canceller.lpExecuting);
  } else if (!canceller.fToldCannotCancel) {
    // Said now, not when the statement ends: it may run for long. The main thread is inside the driver
    // until EndCancellableCall, which waits for this lock, so the output is this thread's meanwhile.
    ReportText("This driver cannot cancel a running statement: it runs to its end, and its result is discarded.\n");
    canceller.fToldCannotCancel = true;
  }
}
