// The floor for running a SQL file: a plain loop of SQLExecDirect over its lines, one statement a line, the
// trailing ';' dropped. Usage: exec_loop CONNECTION-STRING < FILE
#include <cstdio>
#include <cstdlib>
#include <sql.h>
#include <sqlext.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s CONNECTION-STRING < FILE\n", argv[0]);
    return 2;
  }
  SQLHENV lpEnv = SQL_NULL_HENV;
  SQLHDBC lpDbc = SQL_NULL_HDBC;
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &lpEnv);
  SQLSetEnvAttr(lpEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, lpEnv, &lpDbc);
  if (!SQL_SUCCEEDED(SQLDriverConnect(lpDbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[1]), SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT)) ||
      !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, lpDbc, &lpStmt))) {
    fprintf(stderr, "exec_loop: cannot connect\n");
    return 1;
  }
  char* line = nullptr;
  size_t capacity = 0;
  long failed = 0;
  for (ssize_t length; (length = getline(&line, &capacity, stdin)) >= 0;) {
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == ';')) line[--length] = '\0';
    if (length == 0) continue;
    if (!SQL_SUCCEEDED(SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(line), SQL_NTS))) ++failed;
    SQLFreeStmt(lpStmt, SQL_CLOSE);
  }
  free(line);
  SQLDisconnect(lpDbc);
  SQLFreeConnect(lpDbc);
  SQLFreeEnv(lpEnv);
  return failed == 0 ? 0 : 1;
}
