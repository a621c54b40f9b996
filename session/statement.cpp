// One statement's lifecycle: execute, list every result set and count, read on, close; and its outcome.
#include "session/statement.h"

#include <cstring>

#include "display/output.h"
#include "display/result_table.h"
#include "session/interrupt.h"

namespace {

// Shows the result the statement's cursor stands on: its rows, or the count of rows it affected.
StatementOutcome ShowCurrentResult(SQLHSTMT& lpStmt, const ListingStyle& style, SQLSMALLINT* cCols) {
  SQLSMALLINT& sNumResults = *cCols;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &sNumResults), "SQLNumResultCols(lpStmt,&sNumResults)")) {
    return StatementOutcome::Fatal;
  }
  if (sNumResults > 0) {
    bool fListed = ShowResultSet(lpStmt, sNumResults, style);
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
StatementOutcome ShowEveryResult(SQLHSTMT& lpStmt, const ListingStyle& style, const StatementRules& rules) {
  StatementOutcome outcome = StatementOutcome::Ok;
  for (;;) {
    SQLSMALLINT cCols = 0;
    StatementOutcome shown = ShowCurrentResult(lpStmt, style, &cCols);
    if (shown == StatementOutcome::Fatal) return shown;
    if (shown == StatementOutcome::Failed) outcome = shown;
    if (lpStmt == SQL_NULL_HSTMT) return outcome;
    if (InterruptRequested()) return StatementOutcome::Cancelled;
    if (StdoutState() != OutputState::Working) return outcome;
    if (cCols == 0 && !rules.fMoreResultsAfterCount) return outcome;
    SQLRETURN RetCode = SQLMoreResults(lpStmt);
    if (RetCode == SQL_NO_DATA) return outcome;
    if (RetCode != SQL_SUCCESS) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
    // A result that failed ends the statement: what would follow it is the driver's to discard.
    if (RetCode == SQL_ERROR) return StatementOutcome::Failed;
    if (!SQL_SUCCEEDED(RetCode)) {
      ErrFormat("Unexpected return code %d!\n", static_cast<int>(RetCode));
      return StatementOutcome::Failed;
    }
  }
}

// Whether a statement failed because its connection is gone: the driver says the connection is dead, or
// one of the statement's diagnostic records is of SQLSTATE class 08 (connection exception).
bool ConnectionIsGone(SQLHDBC lpDbc, SQLHSTMT lpStmt) {
  SQLUINTEGER fDead = SQL_CD_FALSE;
  if (SQL_SUCCEEDED(SQLGetConnectAttr(lpDbc, SQL_ATTR_CONNECTION_DEAD, &fDead, 0, nullptr)) && fDead == SQL_CD_TRUE) {
    return true;
  }
  SQLCHAR szState[6];
  SQLINTEGER lNativeError;
  SQLCHAR szMessage[16];
  for (SQLSMALLINT handleType : {SQL_HANDLE_STMT, SQL_HANDLE_DBC}) {
    SQLHANDLE handle = handleType == SQL_HANDLE_STMT ? lpStmt : lpDbc;
    if (handle == SQL_NULL_HANDLE) continue;
    for (SQLSMALLINT recordNumber = 1; recordNumber < 100; ++recordNumber) {
      SQLRETURN RetCode = SQLGetDiagRec(handleType, handle, recordNumber, szState, &lNativeError, szMessage,
                                        sizeof szMessage, nullptr);
      if (!SQL_SUCCEEDED(RetCode)) break;
      if (szState[0] == '0' && szState[1] == '8') return true;
    }
  }
  return false;
}

}  // namespace

StatementOutcome RunStatement(SQLHDBC lpDbc, SQLHSTMT& lpStmt, std::string& text, const ListingStyle& style,
                              const StatementRules& rules) {
  // A statement handle cannot be had on a connection that is gone: the statement fails as one that found
  // it gone (the session may connect again), rather than ending the session.
  if (!HaveStatement(lpDbc, lpStmt)) return ConnectionIsGone(lpDbc, SQL_NULL_HSTMT) ? StatementOutcome::Lost : StatementOutcome::Fatal;
  // Ctrl-C while the statement executes cancels it on the server.
  BeginCancellableCall(lpStmt);
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&text[0]), SQL_NTS);
  EndCancellableCall();
  // A Ctrl-C that came while the statement executed has been dealt with by now (the cancel waits for its
  // SQLCancel to return). A cancel that lands as the statement ends may close it in the driver manager,
  // so that nothing more can be asked of it; and a statement that ended anyway is not what the user
  // wanted to see: either way its results are discarded.
  bool fInterrupted = InterruptRequested();
  StatementOutcome outcome = StatementOutcome::Ok;
  switch (RetCode) {
    case SQL_SUCCESS_WITH_INFO:
      ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
      [[fallthrough]];
    case SQL_SUCCESS:
      outcome = fInterrupted ? StatementOutcome::Cancelled : ShowEveryResult(lpStmt, style, rules);
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
  if ((outcome == StatementOutcome::Failed || outcome == StatementOutcome::Fatal) && ConnectionIsGone(lpDbc, lpStmt)) {
    // A statement of a connection that is gone is freed, not closed: the MariaDB driver, for one, leaves
    // such a statement pointing into memory it has freed. The next statement allocates a new one.
    SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
    lpStmt = SQL_NULL_HSTMT;
    return StatementOutcome::Lost;
  }
  if (outcome == StatementOutcome::Fatal) return outcome;
  return CloseCursor(lpStmt, outcome);
}

bool HaveStatement(SQLHDBC lpDbc, SQLHSTMT& lpStmt) {
  if (lpStmt != SQL_NULL_HSTMT) return true;
  return CheckedCall(lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, lpDbc, &lpStmt),
                     "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)");
}

StatementOutcome CloseCursor(SQLHSTMT& lpStmt, StatementOutcome outcome) {
  if (lpStmt == SQL_NULL_HSTMT) return outcome;
  if (outcome == StatementOutcome::Cancelled) {
    if (!SQL_SUCCEEDED(SQLFreeStmt(lpStmt, SQL_CLOSE))) {
      SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
      lpStmt = SQL_NULL_HSTMT;
    }
    return outcome;
  }
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLFreeStmt(lpStmt, SQL_CLOSE), "SQLFreeStmt(lpStmt,SQL_CLOSE)")) {
    return StatementOutcome::Fatal;
  }
  return outcome;
}

StatementRules StatementRulesFor(SQLHDBC lpDbc) {
  StatementRules rules{true};
  char szDriver[256] = "";
  if (SQL_SUCCEEDED(SQLGetInfo(lpDbc, SQL_DRIVER_NAME, szDriver, sizeof szDriver, nullptr))) {
    // The MariaDB driver (3.1) crashes in SQLMoreResults after a statement without a result set whose
    // text holds several semicolons, as a CREATE PROCEDURE body does. Its results after a count are a
    // procedure call's closing status, which shows nothing.
    if (strncmp(szDriver, "libmaodbc", 9) == 0) rules.fMoreResultsAfterCount = false;
  }
  return rules;
}
