// Printing of diagnostic records and of failed calls on standard error.
#include <cstring>
#include <string>
#include <unistd.h>

#include "odbc/odbc_api.h"

namespace {

// Writes text to standard error unbuffered: the writer until the program gives its own.
void WriteToStandardError(void*, const char* text) {
  for (size_t len = strlen(text); len > 0;) {
    ssize_t written = write(STDERR_FILENO, text, len);
    if (written <= 0) return;
    text += written;
    len -= static_cast<size_t>(written);
  }
}

const DiagnosticsSink* gSink = nullptr;  // where every report goes: the program's sink, given once

// Hands a text to the program's sink, or to standard error before there is one; the sink's prefix goes
// before each of its lines.
void Write(const char* text) {
  if (gSink == nullptr) {
    WriteToStandardError(nullptr, text);
  } else if (gSink->szPrefix.empty()) {
    gSink->writer(gSink->context, text);
  } else {
    std::string prefixed;
    for (const char* line = text; *line != '\0';) {
      const char* newline = strchr(line, '\n');
      const char* end = newline != nullptr ? newline + 1 : line + strlen(line);
      prefixed += gSink->szPrefix;
      prefixed.append(line, end);
      line = end;
    }
    gSink->writer(gSink->context, prefixed.c_str());
  }
}

}  // namespace

void SetDiagnosticsSink(const DiagnosticsSink* sink) { gSink = sink; }

void ReportDiagnostics(SQLHANDLE handle, SQLSMALLINT handleType, SQLRETURN RetCode) {
  if (RetCode == SQL_INVALID_HANDLE) {
    Write("Invalid handle!\n");
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
    // The state in exactly five characters, padded on the left as a printf width pads.
    size_t cchState = strnlen(reinterpret_cast<char*>(szState), 5);
    std::string record = "[" + std::string(5 - cchState, ' ');
    record.append(reinterpret_cast<char*>(szState), cchState);
    record += "] ";
    record += reinterpret_cast<char*>(szMessage);
    record += " (" + std::to_string(static_cast<int>(lNativeError)) + ")\n";
    Write(record.c_str());
  }
}

void ReportText(const char* text) { Write(text); }
bool DiagnosticStateIs(SQLHANDLE handle, SQLSMALLINT handleType, const char* szWanted) {
  SQLCHAR szState[6] = "";
  SQLINTEGER lNativeError = 0;
  SQLCHAR szMessage[8];
  for (SQLSMALLINT recordNumber = 1; recordNumber < 100; ++recordNumber) {
    SQLRETURN RetCode = SQLGetDiagRec(handleType, handle, recordNumber, szState, &lNativeError, szMessage,
                                      static_cast<SQLSMALLINT>(sizeof szMessage), nullptr);
    if (!SQL_SUCCEEDED(RetCode)) return false;
    if (strncmp(reinterpret_cast<const char*>(szState), szWanted, 5) == 0) return true;
  }
  return false;
}

bool DriverLacksFunction(SQLHANDLE handle, SQLSMALLINT handleType) {
  return DiagnosticStateIs(handle, handleType, "IM001") || DiagnosticStateIs(handle, handleType, "HYC00") ||
         DiagnosticStateIs(handle, handleType, "S1C00");
}

void ReportFailedCall(const char* callText) { Write(("Error in " + std::string(callText) + "\n").c_str()); }
