// The fetch floor: the console's own result-set record and fetch strategy over one query, printing nothing.
// Usage: fetch_floor [--export] [--no-watcher] CONNECTION-STRING QUERY
//   --export      bind for an export (whole values) instead of a table
//   --no-watcher  without the console's Ctrl-C set-up, to show what it costs
#include <cstdio>
#include <cstring>

#include "display/cell_text.h"
#include "display/output.h"
#include "display/result_set.h"
#include "session/interrupt.h"
#include "session/statement_splitter.h"

int main(int argc, char** argv) {
  bool fExport = false, fWatcher = true;
  for (; argc > 1 && argv[1][0] == '-'; --argc, ++argv) {
    if (strcmp(argv[1], "--export") == 0) fExport = true;
    if (strcmp(argv[1], "--no-watcher") == 0) fWatcher = false;
  }
  if (argc < 3) {
    fprintf(stderr, "usage: %s [--export] [--no-watcher] CONNECTION-STRING QUERY\n", argv[0]);
    return 2;
  }
  InitOutput();
  TextCharset charset = LocaleCharset();
  SetDiagnosticsWriter(ErrDiagnostic, &charset);
  if (fWatcher) InitInterrupts();
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
    long rows = 0;
    {
      ResultSet set(lpStmt);
      if (fExport) {
        SQLUINTEGER fExtensions = 0;
        SQLGetInfo(lpDbc, SQL_GETDATA_EXTENSIONS, &fExtensions, sizeof fExtensions, nullptr);
        set.fGetDataOnBound = (fExtensions & SQL_GD_BOUND) != 0;
      }
      // As the console decides from the data source's DBMS.
      char szDbms[256] = "";
      SQLGetInfo(lpDbc, SQL_DBMS_NAME, szDbms, sizeof szDbms, nullptr);
      bool fMySqlFamily = DialectOfDbms(szDbms) == SqlDialect::MySql;
      if (fExport) set.fSizesHold = fMySqlFamily;
      set.fBinaryNumbers = fMySqlFamily;
      set.fRowsets = true;  // as the console's listing into a file
      DescribeResultColumns(set, cCols);
      BindResultColumns(set, fExport ? BindPurpose::Export : BindPurpose::Table, charset.utf8);
      while (FetchNextRow(set, "RetCode = SQLFetch(lpStmt)") == RowFetch::Row) {
        // Every value as the writers read it: whole for an export, as bound (numbers as text) for a table.
        for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
          const char* value;
          SQLLEN indicator;
          if (fExport) {
            WholeValue(set, iCol, &value);
          } else {
            BoundValue(set, iCol, &indicator);
          }
        }
        ++rows;
      }
    }
    SQLFreeStmt(lpStmt, SQL_CLOSE);
    status = rows > 0 ? 0 : 1;
  }
  SQLDisconnect(lpDbc);
  SQLFreeConnect(lpDbc);
  SQLFreeEnv(lpEnv);
  return status;
}
