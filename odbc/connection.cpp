// The connection record: connect with the checked-call rule, reconnect, one teardown, and lost connections.
#include "odbc/connection.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// The parent window for a connection prompt. A terminal has no desktop window, so the driver manager gets
// the null window and completes the connection from the string alone.
SQLHWND GetDesktopWindow() { return nullptr; }

constexpr size_t COMPLETED_STRING_BYTES = 4096;  // room for the connection string the driver completes

// Never gives a connect up: the first connect, which Ctrl-C ends with the process.
bool NeverGivenUp() { return false; }

// The connect itself; the connection prompt is never shown again. The completed string the driver returns
// goes to `completed` (it tells how the driver fetches; it may hold the password).
SQLRETURN DriverConnect(Connection& connection, std::string& szConnStr, std::vector<SQLCHAR>& completed, bool (*GivenUp)()) {
  // Without a connection string the driver manager is given none at all, as the command line gave none.
  SQLCHAR* connStr = szConnStr.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(&szConnStr[0]);
  completed.assign(COMPLETED_STRING_BYTES, 0);
  SQLSMALLINT cbCompleted = 0;
  SQLSMALLINT cbBuffer = static_cast<SQLSMALLINT>(completed.size());
  SQLRETURN RetCode = SQLDriverConnect(connection.lpDbc, GetDesktopWindow(), connStr, SQL_NTS, completed.data(),
                                       cbBuffer, &cbCompleted, SQL_DRIVER_COMPLETE);
  // A driver that would complete a failed connection in a dialog (MariaDB's, for any failure: server
  // down, wrong password, unknown database) answers IM008, "Dialog failed", as there is no window, and
  // its own reason is lost. Asked again without a prompt it fails with that reason; a driver that fails
  // without a dialog never answers IM008, so its reason shows from the first call.
  // A connect given up (Ctrl-C) is not made again.
  if (RetCode == SQL_ERROR && !GivenUp() && DiagnosticStateIs(connection.lpDbc, SQL_HANDLE_DBC, "IM008")) {
    RetCode = SQLDriverConnect(connection.lpDbc, GetDesktopWindow(), connStr, SQL_NTS, completed.data(), cbBuffer,
                               &cbCompleted, SQL_DRIVER_NOPROMPT);
  }
  return RetCode;
}

// What follows a successful connect: the profile, and a new generation of handles. The completed string
// is wiped once read.
void NoteConnected(Connection& connection, std::vector<SQLCHAR>& completed) {
  connection.fConnected = true;
  connection.fLost = false;
  ++connection.generation;
  completed.back() = '\0';
  connection.profile = ReadProfile(connection.lpDbc, reinterpret_cast<const char*>(completed.data()));
  explicit_bzero(completed.data(), completed.size());
  std::lock_guard<std::mutex> lock(connection.canceller.phase);
  connection.canceller.fConcurrentCancel = !connection.profile.fConcurrentCancelCrashes;
}

}  // namespace

Connection::~Connection() { Disconnect(*this); }

bool AllocateEnvironment(Connection& connection) {
  return SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &connection.lpEnv) != SQL_ERROR;
}

bool Connect(Connection& connection, const std::string& connectionString) {
  connection.connectionString = connectionString;
  std::vector<SQLCHAR> completed;
  if (!CheckedCall(connection.lpEnv, SQL_HANDLE_ENV,
                   SQLSetEnvAttr(connection.lpEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0),
                   "SQLSetEnvAttr(lpEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC2, 0)") ||
      !CheckedCall(connection.lpEnv, SQL_HANDLE_ENV, SQLAllocHandle(SQL_HANDLE_DBC, connection.lpEnv, &connection.lpDbc),
                   "SQLAllocHandle(SQL_HANDLE_DBC,lpEnv,&lpDbc)") ||
      !CheckedCall(connection.lpDbc, SQL_HANDLE_DBC, DriverConnect(connection, connection.connectionString, completed, NeverGivenUp),
                   "SQLDriverConnect(lpDbc, GetDesktopWindow(), szConnStr, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_COMPLETE)")) {
    explicit_bzero(completed.data(), completed.size());
    return false;
  }
  NoteConnected(connection, completed);
  return true;
}

SQLRETURN Reconnect(Connection& connection, SQLUINTEGER loginTimeoutSeconds, bool (*GivenUp)()) {
  // The disconnect releases every statement of the connection.
  DropStatement(connection.lpStmt);
  DropCompletionConnection(connection);
  if (connection.fConnected) SQLDisconnect(connection.lpDbc);
  connection.fConnected = false;
  connection.fLost = true;
  // A server that accepts but never answers would hold the connect for good, and a driver waiting for it
  // does not return at a signal. So the connect is made in attempts bounded by SQL_ATTR_LOGIN_TIMEOUT or
  // the driver's own keyword in the string, tried again while an attempt waited out its time, until one
  // connects, fails at once, is given up (Ctrl-C) or loginTimeoutSeconds are spent. Each attempt may take
  // twice as long as the one before (1, 2, 4 s ...), so a server slow to log in is still reached, and
  // Ctrl-C is heard within the attempt under way.
  const std::string& key = connection.profile.connectTimeoutKey;
  std::string lowered;
  for (char c : connection.connectionString) lowered += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  std::string loweredKey;
  for (char c : key) loweredKey += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const bool fAddKey = !key.empty() && !connection.connectionString.empty() && lowered.find(loweredKey) == std::string::npos;
  explicit_bzero(&lowered[0], lowered.size());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(loginTimeoutSeconds);
  std::vector<SQLCHAR> completed;
  SQLRETURN RetCode = SQL_ERROR;
  std::string szConnStr;
  for (SQLUINTEGER attemptSeconds = 1;; attemptSeconds *= 2) {
    const auto started = std::chrono::steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - started).count();
    if (attemptSeconds > static_cast<SQLUINTEGER>(std::max<long long>(left, 1))) attemptSeconds = static_cast<SQLUINTEGER>(std::max<long long>(left, 1));
    explicit_bzero(&szConnStr[0], szConnStr.size());
    szConnStr = connection.connectionString;
    if (fAddKey) szConnStr += (szConnStr.back() == ';' ? "" : ";") + key + "=" + std::to_string(attemptSeconds);
    SQLSetConnectAttr(connection.lpDbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(attemptSeconds)), 0);
    RetCode = DriverConnect(connection, szConnStr, completed, GivenUp);
    if (SQL_SUCCEEDED(RetCode) || GivenUp()) break;
    const auto ended = std::chrono::steady_clock::now();
    if (ended - started < std::chrono::seconds(attemptSeconds) || ended >= deadline) break;
  }
  explicit_bzero(&szConnStr[0], szConnStr.size());
  if (SQL_SUCCEEDED(RetCode)) NoteConnected(connection, completed);
  explicit_bzero(completed.data(), completed.size());
  return RetCode;
}

bool ConnectAgain(SQLHENV lpEnv, std::string& connectionString, SQLHDBC* lpDbc) {
  *lpDbc = SQL_NULL_HDBC;
  if (lpEnv == SQL_NULL_HENV || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, lpEnv, lpDbc))) {
    *lpDbc = SQL_NULL_HDBC;
    return false;
  }
  SQLCHAR* connStr = connectionString.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(&connectionString[0]);
  if (!SQL_SUCCEEDED(SQLDriverConnect(*lpDbc, nullptr, connStr, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLFreeHandle(SQL_HANDLE_DBC, *lpDbc);
    *lpDbc = SQL_NULL_HDBC;
    return false;
  }
  return true;
}

void DropCompletionConnection(Connection& connection) {
  DropStatement(connection.lpCompletionStmt);
  if (connection.lpCompletionDbc == SQL_NULL_HDBC) return;
  SQLDisconnect(connection.lpCompletionDbc);
  SQLFreeHandle(SQL_HANDLE_DBC, connection.lpCompletionDbc);
  connection.lpCompletionDbc = SQL_NULL_HDBC;
}

void Disconnect(Connection& connection) {
  DropStatement(connection.lpStmt);
  DropCompletionConnection(connection);
  if (connection.lpDbc != SQL_NULL_HDBC) {
    SQLDisconnect(connection.lpDbc);
    SQLFreeConnect(connection.lpDbc);
    connection.lpDbc = SQL_NULL_HDBC;
  }
  connection.fConnected = false;
  if (connection.lpEnv != SQL_NULL_HENV) {
    SQLFreeEnv(connection.lpEnv);
    connection.lpEnv = SQL_NULL_HENV;
  }
}

bool HaveStatement(Connection& connection, SQLHSTMT& lpStmt) {
  if (lpStmt != SQL_NULL_HSTMT) return true;
  return CheckedCall(connection.lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, connection.lpDbc, &lpStmt),
                     "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)");
}

void DropStatement(SQLHSTMT& lpStmt) {
  if (lpStmt == SQL_NULL_HSTMT) return;
  SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
  lpStmt = SQL_NULL_HSTMT;
}

bool ConnectionIsGone(const Connection& connection, SQLHSTMT lpStmt) {
  if (!connection.fConnected) return true;
  SQLUINTEGER fDead = SQL_CD_FALSE;
  if (SQL_SUCCEEDED(SQLGetConnectAttr(connection.lpDbc, SQL_ATTR_CONNECTION_DEAD, &fDead, 0, nullptr)) && fDead == SQL_CD_TRUE) {
    return true;
  }
  SQLCHAR szState[6];
  SQLINTEGER lNativeError;
  SQLCHAR szMessage[16];
  for (SQLSMALLINT handleType : {SQL_HANDLE_STMT, SQL_HANDLE_DBC}) {
    SQLHANDLE handle = handleType == SQL_HANDLE_STMT ? lpStmt : connection.lpDbc;
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

StatementOutcome JudgeOutcome(Connection& connection, SQLHSTMT& lpStmt, StatementOutcome outcome) {
  if (outcome != StatementOutcome::Failed && outcome != StatementOutcome::Fatal) return outcome;
  if (!ConnectionIsGone(connection, lpStmt)) return outcome;
  DropStatement(lpStmt);
  connection.fLost = true;
  return StatementOutcome::Lost;
}
