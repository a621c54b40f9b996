// The program's entry: connect, run the prompt loop, report each statement's outcome, shut down.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/cell_text.h"
#include "display/output.h"
#include "display/result_table.h"
#include "odbc/odbc_api.h"

namespace {

constexpr char PROMPT[] = "SQL COMMAND>";

// The parent window for a connection prompt. A terminal has no desktop window, so the driver manager gets
// the null window and completes the connection from the string alone.
SQLHWND GetDesktopWindow() { return nullptr; }

// Executes one statement line and reports its outcome: a table, a row count or diagnostics. Returns false
// when a checked call failed and the session must shut down.
bool ExecuteStatement(SQLHSTMT lpStmt, std::string& szCommand) {
  SQLSMALLINT sNumResults = 0;
  SQLLEN siRowCount = -1;
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&szCommand[0]),
                                    SQL_NTS);
  switch (RetCode) {
    case SQL_SUCCESS_WITH_INFO:
      ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
      [[fallthrough]];
    case SQL_SUCCESS:
      if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &sNumResults),
                       "SQLNumResultCols(lpStmt,&sNumResults)")) {
        return false;
      }
      if (sNumResults > 0) {
        ShowResultSet(lpStmt, sNumResults);
      } else {
        if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLRowCount(lpStmt, &siRowCount), "SQLRowCount(lpStmt,&siRowCount)")) {
          return false;
        }
        if (siRowCount >= 0) {
          std::string count = std::to_string(static_cast<long long>(siRowCount));
          count += siRowCount == 1 ? " row affected\n" : " rows affected\n";
          OutText(count.c_str());
        }
      }
      break;
    case SQL_ERROR:
      ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
      break;
    default:
      ErrFormat("Unexpected return code %d!\n", static_cast<int>(RetCode));
      break;
  }
  return CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLFreeStmt(lpStmt, SQL_CLOSE), "SQLFreeStmt(lpStmt,SQL_CLOSE)");
}

// Reads and executes statement lines until end of input or a failed checked call.
void RunPromptLoop(SQLHSTMT lpStmt) {
  std::string szCommand;
  while (ReadInputLine(szCommand)) {
    if (szCommand.empty()) {
      OutText(PROMPT);
      continue;
    }
    // The driver reads a statement up to its first NUL: running the rest silently is never right.
    if (memchr(szCommand.data(), '\0', szCommand.size()) != nullptr) {
      ErrText("Statement contains a NUL byte and was not executed\n");
      OutText(PROMPT);
      continue;
    }
    if (!ExecuteStatement(lpStmt, szCommand)) return;
    // The reader of a pipe has gone: end the session as a pipeline expects, without a word.
    if (StdoutState() == OutputState::PipeBroken) return;
    OutText(PROMPT);
  }
}

// Sets ODBC 2 behaviour, connects with szConnStr, allocates the statement handle and runs the session.
// Returns when input ends or a checked call fails; the caller disconnects.
void RunSession(SQLHENV lpEnv, SQLHDBC* lpDbc, const char* szConnStr) {
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  if (!CheckedCall(lpEnv, SQL_HANDLE_ENV,
                   SQLSetEnvAttr(lpEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0),
                   "SQLSetEnvAttr(lpEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC2, 0)")) {
    return;
  }
  if (!CheckedCall(lpEnv, SQL_HANDLE_ENV, SQLAllocHandle(SQL_HANDLE_DBC, lpEnv, lpDbc),
                   "SQLAllocHandle(SQL_HANDLE_DBC,lpEnv,&lpDbc)")) {
    return;
  }
  if (!CheckedCall(*lpDbc, SQL_HANDLE_DBC,
                   SQLDriverConnect(*lpDbc, GetDesktopWindow(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(szConnStr)),
                                    SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_COMPLETE),
                   "SQLDriverConnect(lpDbc, GetDesktopWindow(), szConnStr, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_COMPLETE)")) {
    return;
  }
  ErrText("Connected!\n");
  if (!CheckedCall(*lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, *lpDbc, &lpStmt),
                   "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)")) {
    return;
  }
  OutText("Enter SQL commands, type (control)Z to exit\n");
  OutText(PROMPT);
  RunPromptLoop(lpStmt);
}

}  // namespace

int main(int argc, char** argv) {
  InitOutput();
  InitCharset();
  SQLHENV lpEnv = SQL_NULL_HENV;
  SQLHDBC lpDbc = SQL_NULL_HDBC;
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &lpEnv) == SQL_ERROR) {
    ErrText("Unable to allocate an environment handle\n");
    exit(-1);
  }
  const char* szConnStr = argc > 1 ? argv[1] : nullptr;
  RunSession(lpEnv, &lpDbc, szConnStr);
  // Disconnecting also releases the statement handle.
  if (lpDbc != SQL_NULL_HDBC) {
    SQLDisconnect(lpDbc);
    SQLFreeConnect(lpDbc);
  }
  if (lpEnv != SQL_NULL_HENV) SQLFreeEnv(lpEnv);
  OutText("\nDisconnected.");
  OutFlush();
  switch (StdoutState()) {
    case OutputState::Working: return 0;
    case OutputState::Failed: return 1;
    case OutputState::PipeBroken: return 141;  // as a process ended by SIGPIPE shows in a shell
  }
  return 0;
}
