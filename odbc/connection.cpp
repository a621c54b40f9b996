// The connection record: connect with the checked-call rule, reconnect, one teardown, and lost connections.
#include "odbc/connection.h"

namespace {

// The parent window for a connection prompt. A terminal has no desktop window, so the driver manager gets
// the null window and completes the connection from the string alone.
SQLHWND GetDesktopWindow() { return nullptr; }

// The connect itself; the connection prompt is never shown again.
SQLRETURN DriverConnect(Connection& connection) {
  std::string& szConnStr = connection.connectionString;
  // Without a connection string the driver manager is given none at all, as the command line gave none.
  return SQLDriverConnect(connection.lpDbc, GetDesktopWindow(),
                          szConnStr.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(&szConnStr[0]), SQL_NTS, nullptr,
                          0, nullptr, SQL_DRIVER_COMPLETE);
}

// What follows a successful connect: the profile, and a new generation of handles.
void NoteConnected(Connection& connection) {
  connection.fConnected = true;
  connection.fLost = false;
  ++connection.generation;
  connection.profile = ReadProfile(connection.lpDbc);
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
  if (!CheckedCall(connection.lpEnv, SQL_HANDLE_ENV,
                   SQLSetEnvAttr(connection.lpEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0),
                   "SQLSetEnvAttr(lpEnv, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC2, 0)") ||
      !CheckedCall(connection.lpEnv, SQL_HANDLE_ENV, SQLAllocHandle(SQL_HANDLE_DBC, connection.lpEnv, &connection.lpDbc),
                   "SQLAllocHandle(SQL_HANDLE_DBC,lpEnv,&lpDbc)") ||
      !CheckedCall(connection.lpDbc, SQL_HANDLE_DBC, DriverConnect(connection),
                   "SQLDriverConnect(lpDbc, GetDesktopWindow(), szConnStr, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_COMPLETE)")) {
    return false;
  }
  NoteConnected(connection);
  return true;
}

SQLRETURN Reconnect(Connection& connection, SQLUINTEGER loginTimeoutSeconds) {
  // The disconnect releases every statement of the connection.
  DropStatement(connection.lpStmt);
  DropStatement(connection.lpCompletionStmt);
  if (connection.fConnected) SQLDisconnect(connection.lpDbc);
  connection.fConnected = false;
  connection.fLost = true;
  // A server that accepts but never answers would hold the connect for good.
  SQLSetConnectAttr(connection.lpDbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeoutSeconds)), 0);
  SQLRETURN RetCode = DriverConnect(connection);
  if (SQL_SUCCEEDED(RetCode)) NoteConnected(connection);
  return RetCode;
}

void Disconnect(Connection& connection) {
  DropStatement(connection.lpStmt);
  DropStatement(connection.lpCompletionStmt);
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
