// The ODBC declarations in use, the checked-call rule and the diagnostics report.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

// Where the diagnostics report and the "Error in" lines go: a writer of one whole text and the context it
// is called with, given by the program once at start-up (it decides how text reaches the terminal). Until
// then they go to standard error as they are.
using DiagnosticsWriter = void (*)(void* context, const char* text);
struct DiagnosticsSink {
  DiagnosticsWriter writer;  // writes one whole text
  void* context;             // what the writer is called with
  std::string szPrefix;      // written before each line of a report ("FILE:LINE: "); empty: nothing
};
// The sink must live as long as calls are reported; null goes back to standard error as it is.
void SetDiagnosticsSink(const DiagnosticsSink* sink);

// Prints every diagnostic record of `handle` on standard error as "[SQLSTATE] message (native)", except
// 01004 (string data, right truncated) records. For SQL_INVALID_HANDLE prints only "Invalid handle!".
// Returns nothing; callers call it only when RetCode is not SQL_SUCCESS.
void ReportDiagnostics(SQLHANDLE handle, SQLSMALLINT handleType, SQLRETURN RetCode);

// Writes a message of the ODBC layer (a whole line) where the diagnostics go.
void ReportText(const char* text);
// Whether one of the diagnostic records of `handle` has the SQLSTATE szState.
bool DiagnosticStateIs(SQLHANDLE handle, SQLSMALLINT handleType, const char* szState);

// Whether a call that failed on `handle` failed because the driver does not have the function or the
// option (IM001, HYC00, or S1C00 as an ODBC 2 driver says it): the caller then goes on without it.
bool DriverLacksFunction(SQLHANDLE handle, SQLSMALLINT handleType);

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
