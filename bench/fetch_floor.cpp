// The fetch floor: the console's own result-set record and fetch strategy over one query, printing nothing.
// Usage: fetch_floor [--export] [--no-watcher] CONNECTION-STRING QUERY
//   --export      bind for an export (whole values) instead of a table
//   --no-watcher  without the console's Ctrl-C set-up, to show what it costs
#include <cstdio>
#include <cstring>

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/cursor.h"
#include "input/interrupt.h"
#include "odbc/connection.h"

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
  Output output;
  InitOutput(output);
  TextCharset charset = LocaleCharset();
  DiagnosticsSink diagnostics{ErrDiagnostic, &charset, ""};
  SetDiagnosticsSink(&diagnostics);
  Connection connection;
  if (fWatcher) InitInterrupts(connection.canceller);
  AllocateEnvironment(connection);
  int status = 1;
  if (Connect(connection, argv[1]) && HaveStatement(connection, connection.lpStmt) &&
      CheckedCall(connection.lpStmt, SQL_HANDLE_STMT,
                  SQLExecDirect(connection.lpStmt, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS), "SQLExecDirect")) {
    SQLHSTMT lpStmt = connection.lpStmt;
    SQLSMALLINT cCols = 0;
    SQLNumResultCols(lpStmt, &cCols);
    long rows = 0;
    {
      // As the console fetches from this data source into a file.
      FetchRules rules;
      rules.fGetDataOnBound = connection.profile.fGetDataOnBound;
      rules.fSizesHold = connection.profile.fSizesHold;
      rules.fBinaryNumbers = connection.profile.fBinaryNumbers;
      rules.fRowsets = true;
      ResultSet set(lpStmt, rules);
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
  return status;
}
