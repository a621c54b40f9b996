// One statement's lifecycle: execute, list every result set and count, read on, close; and its outcome.
#include "session/statement.h"

#include <cstring>

#include "display/output.h"
#include "display/result_table.h"
#include "input/interrupt.h"

namespace {

// Shows the result the statement's cursor stands on: its rows, or the count of rows it affected.
StatementOutcome ShowCurrentResult(Connection& connection, SQLHSTMT& lpStmt, const ListingStyle& style, SQLSMALLINT* cCols) {
  SQLSMALLINT& sNumResults = *cCols;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &sNumResults), "SQLNumResultCols(lpStmt,&sNumResults)")) {
    return StatementOutcome::Fatal;
  }
  if (sNumResults > 0) {
    bool fListed = ListResult(connection, lpStmt, sNumResults, style);
    // A listing whose bindings would not come off freed the handle: nothing more can be read from it.
    if (lpStmt == SQL_NULL_HSTMT) return StatementOutcome::Failed;
    return fListed ? StatementOutcome::Ok : StatementOutcome::Failed;
  }
  SQLLEN siRowCount = -1;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLRowCount(lpStmt, &siRowCount), "SQLRowCount(lpStmt,&siRowCount)")) {
    return StatementOutcome::Fatal;
  }
  // A count in a CSV or TSV file would be taken for data.
  if (siRowCount >= 0 && IsTableFormat(style.format)) {
    std::string count = std::to_string(static_cast<long long>(siRowCount));
    count += siRowCount == 1 ? " row affected\n" : " rows affected\n";
    OutText(count.c_str());
  }
  return StatementOutcome::Ok;
}

// Shows every result of a statement that executed: the first, then each that SQLMoreResults brings, until
// there are no more, the user stops, or the output is gone. A failed result makes the statement failed.
StatementOutcome ShowEveryResult(Connection& connection, const ListingStyle& style) {
  SQLHSTMT& lpStmt = connection.lpStmt;
  StatementOutcome outcome = StatementOutcome::Ok;
  for (;;) {
    SQLSMALLINT cCols = 0;
    StatementOutcome shown = ShowCurrentResult(connection, lpStmt, style, &cCols);
    if (shown == StatementOutcome::Fatal) return shown;
    if (shown == StatementOutcome::Failed) outcome = shown;
    if (lpStmt == SQL_NULL_HSTMT) return outcome;
    if (InterruptRequested()) return StatementOutcome::Cancelled;
    if (StdoutState() != OutputState::Working) return outcome;
    if (cCols == 0 && !connection.profile.fMoreResultsAfterCount) return outcome;
    SQLRETURN RetCode = SQLMoreResults(lpStmt);
    if (RetCode == SQL_NO_DATA) return outcome;
    // A driver without SQLMoreResults (MDBTools') has no more results to give.
    if (RetCode == SQL_ERROR && DriverLacksFunction(lpStmt, SQL_HANDLE_STMT)) return outcome;
    if (RetCode != SQL_SUCCESS) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
    // A result that failed ends the statement: what would follow it is the driver's to discard.
    if (RetCode == SQL_ERROR) return StatementOutcome::Failed;
    if (!SQL_SUCCEEDED(RetCode)) {
      ErrFormat("Unexpected return code %d!\n", static_cast<int>(RetCode));
      return StatementOutcome::Failed;
    }
  }
}

}  // namespace

StatementOutcome RunStatement(Connection& connection, std::string_view text, const ListingStyle& style) {
  SQLHSTMT& lpStmt = connection.lpStmt;
  // A statement handle that cannot be had fails the statement: the judge tells a lost connection.
  if (!HaveStatement(connection, lpStmt)) return StatementOutcome::Fatal;
  // Ctrl-C while the statement executes cancels it on the server.
  BeginCancellableCall(connection.canceller, lpStmt);
  // The text is passed with its length: it is held once, where it was read, with no NUL after it.
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.data())),
                                    static_cast<SQLINTEGER>(text.size()));
  EndCancellableCall(connection.canceller);
  // A Ctrl-C that came while the statement executed has been dealt with by now (the cancel waits for its
  // SQLCancel to return). A cancel that lands as the statement ends may close it in the driver manager,
  // so that nothing more can be asked of it; and a statement that ended anyway is not what the user
  // wanted to see: either way its results are discarded.
  bool fInterrupted = InterruptRequested();
  // The terminal showed ^C where the cursor stood: what follows starts on a line of its own.
  if (fInterrupted && StdinIsTerminal() && StdoutIsTerminal()) OutWrite("\n", 1);
  StatementOutcome outcome = StatementOutcome::Ok;
  switch (RetCode) {
    case SQL_SUCCESS_WITH_INFO:
      ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
      [[fallthrough]];
    case SQL_SUCCESS:
      if (fInterrupted) {
        // The driver let the statement finish: nothing of it is shown, and the user is told, rather than left
        // with a bare prompt (a driver that cannot cancel has said so already).
        if (!connection.canceller.fToldCannotCancel) ErrText("Cancelled: the result was discarded.\n");
        outcome = StatementOutcome::Cancelled;
        break;
      }
      outcome = ShowEveryResult(connection, style);
      break;
    case SQL_ERROR:
      ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
      outcome = fInterrupted ? StatementOutcome::Cancelled : StatementOutcome::Failed;
      break;
    default:
      ErrFormat("Unexpected return code %d!\n", static_cast<int>(RetCode));
      outcome = StatementOutcome::Failed;
      break;
  }
  if (lpStmt == SQL_NULL_HSTMT) return outcome;
  // A statement of a connection that is gone is not closed: the judge frees it.
  if ((outcome == StatementOutcome::Failed || outcome == StatementOutcome::Fatal) && ConnectionIsGone(connection, lpStmt)) {
    return outcome;
  }
  if (outcome == StatementOutcome::Fatal) return outcome;
  return CloseCursor(lpStmt, outcome);
}

bool ListResult(Connection& connection, SQLHSTMT& lpStmt, SQLSMALLINT cCols, const ListingStyle& style,
                const std::vector<ChosenColumn>* chosen) {
  const DataSourceProfile& profile = connection.profile;
  FetchRules rules;
  rules.fGetDataOnBound = profile.fGetDataOnBound;
  rules.fSizesHold = profile.fSizesHold;
  rules.fBinaryNumbers = profile.fBinaryNumbers;
  rules.fRowsets = style.fRowsets;
  rules.fLabelTitles = profile.fLabelTitles;
  rules.rowsetRows = profile.rowsetRows;
  ResultSet set(lpStmt, rules);
  bool fListed = ShowResultSet(set, cCols, style, chosen);
  if (!ReleaseResultSet(set)) {
    // Freeing the handle takes every binding with it; the next statement allocates a new one.
    DropStatement(lpStmt);
    return false;
  }
  return fListed;
}

StatementOutcome CloseCursor(SQLHSTMT& lpStmt, StatementOutcome outcome) {
  if (lpStmt == SQL_NULL_HSTMT) return outcome;
  if (outcome == StatementOutcome::Cancelled) {
    if (!SQL_SUCCEEDED(SQLFreeStmt(lpStmt, SQL_CLOSE))) DropStatement(lpStmt);
    return outcome;
  }
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLFreeStmt(lpStmt, SQL_CLOSE), "SQLFreeStmt(lpStmt,SQL_CLOSE)")) {
    return StatementOutcome::Fatal;
  }
  return outcome;
}
