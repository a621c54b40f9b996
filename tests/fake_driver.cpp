// A minimal ODBC driver for the tests, for what no real driver here does: a connection exception (SQLSTATE
// 08S01) on a connection that the driver never reports dead. A statement holding "lose the connection" fails
// so; every other statement succeeds with a count of one row.
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>

namespace {

// One handle of any kind, with the one diagnostic record it may hold.
struct FakeHandle {
  SQLSMALLINT type;   // SQL_HANDLE_ENV, _DBC or _STMT
  FakeHandle* owner;  // the environment of a connection, the connection of a statement
  std::string state;  // the record's SQLSTATE; empty: no record
  std::string text;   // its message
};

FakeHandle* Of(SQLHANDLE handle) { return static_cast<FakeHandle*>(handle); }

SQLRETURN Fail(FakeHandle* handle, const char* state, const char* text) {
  handle->state = state;
  handle->text = text;
  return SQL_ERROR;
}

SQLRETURN PutText(const char* text, SQLPOINTER value, SQLSMALLINT cbValue, SQLSMALLINT* cbLength) {
  size_t length = strlen(text);
  if (cbLength != nullptr) *cbLength = static_cast<SQLSMALLINT>(length);
  if (value != nullptr && cbValue > 0) {
    size_t copied = length < static_cast<size_t>(cbValue) ? length : static_cast<size_t>(cbValue) - 1;
    memcpy(value, text, copied);
    static_cast<char*>(value)[copied] = '\0';
  }
  return SQL_SUCCESS;
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  *output = new FakeHandle{type, Of(input), "", ""};
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT, SQLHANDLE handle) {
  delete Of(handle);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }
SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }
SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }

// The connection is never reported dead.
SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER*) {
  if (attribute == SQL_ATTR_CONNECTION_DEAD) *static_cast<SQLUINTEGER*>(value) = SQL_CD_FALSE;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR* out, SQLSMALLINT cbOut,
                                   SQLSMALLINT* cbOutLength, SQLUSMALLINT) {
  return PutText("DRIVER=fake", out, cbOut, cbOutLength);
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC) { return SQL_SUCCESS; }

SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT info, SQLPOINTER value, SQLSMALLINT cbValue, SQLSMALLINT* cbLength) {
  switch (info) {
    case SQL_DBMS_NAME: return PutText("FakeDB", value, cbValue, cbLength);
    case SQL_DRIVER_NAME: return PutText("libfake_driver.so", value, cbValue, cbLength);
    case SQL_DRIVER_ODBC_VER: return PutText("03.00", value, cbValue, cbLength);
    case SQL_IDENTIFIER_QUOTE_CHAR: return PutText("\"", value, cbValue, cbLength);
    default: break;
  }
  if (value != nullptr) memset(value, 0, cbValue > 0 && cbValue < 8 ? static_cast<size_t>(cbValue) : 4);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT statement, SQLCHAR* text, SQLINTEGER cbText) {
  std::string sql(reinterpret_cast<char*>(text), cbText == SQL_NTS ? strlen(reinterpret_cast<char*>(text)) : static_cast<size_t>(cbText));
  Of(statement)->state.clear();
  if (sql.find("lose the connection") != std::string::npos) {
    return Fail(Of(statement), "08S01", "[fake] the link to the server broke");
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT, SQLSMALLINT* count) {
  *count = 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT, SQLLEN* count) {
  *count = 1;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT) { return SQL_NO_DATA; }
SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT, SQLUSMALLINT) { return SQL_SUCCESS; }
SQLRETURN SQL_API SQLCancel(SQLHSTMT) { return SQL_SUCCESS; }

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state, SQLINTEGER* native,
                                SQLCHAR* text, SQLSMALLINT cbText, SQLSMALLINT* cbTextLength) {
  FakeHandle* fake = Of(handle);
  if (record != 1 || fake->state.empty()) return SQL_NO_DATA;
  memcpy(state, fake->state.c_str(), 6);
  if (native != nullptr) *native = 0;
  return PutText(fake->text.c_str(), text, cbText, cbTextLength);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER value, SQLSMALLINT cbValue, SQLSMALLINT* cbLength) {
  FakeHandle* fake = Of(handle);
  if (record == 0 && field == SQL_DIAG_NUMBER) {
    *static_cast<SQLINTEGER*>(value) = fake->state.empty() ? 0 : 1;
    return SQL_SUCCESS;
  }
  if (record != 1 || fake->state.empty()) return SQL_NO_DATA;
  switch (field) {
    case SQL_DIAG_SQLSTATE: return PutText(fake->state.c_str(), value, cbValue, cbLength);
    case SQL_DIAG_MESSAGE_TEXT: return PutText(fake->text.c_str(), value, cbValue, cbLength);
    case SQL_DIAG_NATIVE: *static_cast<SQLINTEGER*>(value) = 0; return SQL_SUCCESS;
    default: return SQL_NO_DATA;
  }
}

// The ODBC 2 way to the same record, taken once.
SQLRETURN SQL_API SQLError(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text,
                           SQLSMALLINT cbText, SQLSMALLINT* cbTextLength) {
  FakeHandle* fake = Of(stmt != nullptr ? stmt : dbc != nullptr ? dbc : env);
  if (fake == nullptr || fake->state.empty()) return SQL_NO_DATA;
  memcpy(state, fake->state.c_str(), 6);
  if (native != nullptr) *native = 0;
  PutText(fake->text.c_str(), text, cbText, cbTextLength);
  fake->state.clear();
  return SQL_SUCCESS;
}

}  // extern "C"
