// The line a writer of whole values (CSV, TSV, JSON, Markdown) builds, and how one value reaches it.
#pragma once

#include <string>

#include "display/cell_text.h"
#include "display/listing.h"
#include "display/output.h"

// A value of 64 KiB or more goes straight to the output rather than through the line: held once, never twice.
constexpr size_t LONG_VALUE_BYTES = 64 * 1024;

// Whether a column's values are numbers: integer, decimal and floating-point SQL types (JSON writes them
// bare, Markdown aligns them right).
inline bool IsNumberSqlType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: case SQL_DECIMAL: case SQL_NUMERIC:
    case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE:
      return true;
    default:
      return false;
  }
}

// One line of whole values being built.
struct ValueLine {
  bool fSafeText;                // control characters and invalid bytes show as '?' (results go to a terminal)
  const TextCharset* lpCharset;  // the terminal's character set, for that
  std::string szLine;            // the line being built
  std::string szSafe;            // a value made safe for the terminal
};

// Writes a value through `emit(sink, text, len)`, the format's escaping writer: made safe first where results
// go to a terminal, into the line, or for a long value straight to the output after the line so far.
template <typename Emit>
void AppendValue(ValueLine& line, const char* text, size_t len, Emit emit) {
  if (line.fSafeText) {
    line.szSafe.clear();
    AppendSafeText(*line.lpCharset, line.szSafe, text, len);
    text = line.szSafe.data();
    len = line.szSafe.size();
  }
  std::string& built = line.szLine;
  if (len < LONG_VALUE_BYTES) {
    emit([&built](const char* bytes, size_t count) { built.append(bytes, count); }, text, len);
    return;
  }
  OutWrite(built.data(), built.size());
  built.clear();
  emit([](const char* bytes, size_t count) { OutWrite(bytes, count); }, text, len);
}

// Fetches each row and writes it with writeRow() until the result ends, Ctrl-C stops the listing (the session
// closes the cursor) or the output has failed (nobody reads it; the statement itself has run). Returns false
// when a fetch or writeRow failed.
template <typename WriteRow>
bool WriteFetchedRows(ResultSet& set, const ListingStyle& style, WriteRow writeRow) {
  for (;;) {
    if (StdoutState() != OutputState::Working) return true;
    RowFetch fetched = FetchNextRow(set, "RetCode = SQLFetch(lpStmt)");
    if (fetched == RowFetch::Failed) return false;
    if (ListingStopRequested(style) || fetched == RowFetch::End) return true;
    if (!writeRow()) return false;
  }
}
