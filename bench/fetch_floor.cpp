// The fetch floor: the console's own column bindings and fetch loop over one query, printing nothing.
// Usage: fetch_floor CONNECTION-STRING QUERY
#include <cstdio>

#include "display/cell_text.h"
#include "display/column_bindings.h"
#include "display/output.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s CONNECTION-STRING QUERY\n", argv[0]);
    return 2;
  }
  InitOutput();
  InitCharset();
  SQLHENV lpEnv = SQL_NULL_HENV;
  SQLHDBC lpDbc = SQL_NULL_HDBC;
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &lpEnv);
  SQLSetEnvAttr(lpEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, lpEnv, &lpDbc);
  int status = 1;
  if (CheckedCall(lpDbc, SQL_HANDLE_DBC,
                  SQLDriverConnect(lpDbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[1]), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
                  "SQLDriverConnect") &&
      CheckedCall(lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, lpDbc, &lpStmt), "SQLAllocHandle") &&
      CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS), "SQLExecDirect")) {
    SQLSMALLINT cCols = 0;
    SQLNumResultCols(lpStmt, &cCols);
    ColumnBinding* lpBindings = nullptr;
    SQLSMALLINT cchTotalWidth = 0;
    BindResultColumns(lpStmt, cCols, &lpBindings, &cchTotalWidth);
    SQLRETURN RetCode;
    long rows = 0;
    while (CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode = SQLFetch(lpStmt), "RetCode = SQLFetch(lpStmt)") && RetCode != SQL_NO_DATA) {
      ++rows;
    }
    ReleaseColumnBindings(lpStmt, &lpBindings);
    SQLFreeStmt(lpStmt, SQL_CLOSE);
    status = rows > 0 ? 0 : 1;
  }
  SQLDisconnect(lpDbc);
  SQLFreeConnect(lpDbc);
  SQLFreeEnv(lpEnv);
  return status;
}
