// The ODBC declarations in use, the checked-call rule and the diagnostics report.
#pragma once

#include <sql.h>
#include <sqlext.h>

// Where the diagnostics report and the "Error in" lines go: a writer of one whole text and the context it
// is called with, given by the program once at start-up (it decides how text reaches the terminal). Until
// then they go to standard error as they are.
using DiagnosticsWriter = void (*)(void* context, const char* text);
void SetDiagnosticsWriter(DiagnosticsWriter writer, void* context);

// Prints every diagnostic record of `handle` on standard error as "[SQLSTATE] message (native)", except
// 01004 (string data, right truncated) records. For SQL_INVALID_HANDLE prints only "Invalid handle!".
// Returns nothing; callers call it only when RetCode is not SQL_SUCCESS.
void ReportDiagnostics(SQLHANDLE handle, SQLSMALLINT handleType, SQLRETURN RetCode);

// Writes a message of the ODBC layer (a whole line) where the diagnostics go.
void ReportText(const char* text);

// Writes "Error in <callText>\n" on standard error.
void ReportFailedCall(const char* callText);

// The checked-call rule, given the code of a call just made: any code but SQL_SUCCESS has its diagnostics
// reported, and SQL_ERROR also its "Error in " line. Returns false on SQL_ERROR: the caller then leaves by
// its exit path. Every other code lets the caller go on.
inline bool CheckedCall(SQLHANDLE handle, SQLSMALLINT handleType, SQLRETURN code, const char* callText) {
  if (code == SQL_SUCCESS) return true;
  ReportDiagnostics(handle, handleType, code);
  if (code != SQL_ERROR) return true;
  ReportFailedCall(callText);
  return false;
}
