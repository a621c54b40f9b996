// Printing of diagnostic records and of failed calls on standard error.
#include <cstring>

#include "display/cell_text.h"
#include "display/output.h"
#include "odbc/odbc_api.h"

void ReportDiagnostics(SQLHANDLE handle, SQLSMALLINT handleType, SQLRETURN RetCode) {
  if (RetCode == SQL_INVALID_HANDLE) {
    ErrText("Invalid handle!\n");
    return;
  }
  SQLCHAR szState[6];
  SQLINTEGER lNativeError;
  SQLCHAR szMessage[1000];
  // The record number stops at the first code other than SQL_SUCCESS: SQL_NO_DATA after the last record,
  // SQL_SUCCESS_WITH_INFO for a text longer than the buffer, or an error.
  for (SQLSMALLINT recordNumber = 1; recordNumber > 0; ++recordNumber) {
    szState[0] = '\0';
    szMessage[0] = '\0';
    lNativeError = 0;
    if (SQLGetDiagRec(handleType, handle, recordNumber, szState, &lNativeError, szMessage,
                      static_cast<SQLSMALLINT>(sizeof szMessage), nullptr) != SQL_SUCCESS) {
      return;
    }
    szState[5] = '\0';
    szMessage[sizeof szMessage - 1] = '\0';
    if (strncmp(reinterpret_cast<char*>(szState), "01004", 5) == 0) continue;
    ErrFormat("[%5.5s] %s (%d)\n", SafeMessageText(reinterpret_cast<char*>(szState)).c_str(),
              SafeMessageText(reinterpret_cast<char*>(szMessage)).c_str(), static_cast<int>(lNativeError));
  }
}

void ReportFailedCall(const char* callText) { ErrFormat("Error in %s\n", callText); }
