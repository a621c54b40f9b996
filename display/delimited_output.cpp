// The CSV and TSV formatters: a header of column names, then one line per row with every value whole.
#include <cstring>

#include "display/cell_text.h"
#include "display/listing.h"
#include "display/output.h"

namespace {

constexpr size_t FIRST_VALUE_BUFFER = 4096;  // the value buffer's first size; it grows to the largest value
constexpr SQLLEN MIN_BOUND_BYTES = 64;       // a bound buffer holds at least this much...
constexpr SQLLEN MAX_BOUND_BYTES = 4096;     // ...and at most this much; longer values are read in pieces

// Binds every column to a buffer sized from its display size, when the driver can read a bound column
// again with SQLGetData: a value too long for its buffer (the display size of some drivers is no limit)
// is then read whole. Per-row calls are the cost of an export, so most values come from one fetch.
// Returns false when a call failed.
bool BindDelimitedColumns(Listing* lpListing) {
  if (!lpListing->lpStyle->fGetDataOnBound) return true;
  lpListing->columns.resize(static_cast<size_t>(lpListing->cCols));
  for (SQLUSMALLINT iCol = 1; iCol <= static_cast<SQLUSMALLINT>(lpListing->cCols); ++iCol) {
    SQLLEN cchDisplay = 0;
    if (!CheckedCall(lpListing->lpStmt, SQL_HANDLE_STMT,
                     SQLColAttribute(lpListing->lpStmt, iCol, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &cchDisplay),
                     "SQLColAttribute(lpStmt, iCol, SQL_DESC_DISPLAY_SIZE, NULL, 0, NULL, &cchDisplay)")) {
      return false;
    }
    // Up to 4 bytes a character in UTF-8.
    SQLLEN cbBuffer = cchDisplay > 0 && cchDisplay < MAX_BOUND_BYTES ? 4 * cchDisplay + 1 : MAX_BOUND_BYTES;
    if (cbBuffer < MIN_BOUND_BYTES) cbBuffer = MIN_BOUND_BYTES;
    if (cbBuffer > MAX_BOUND_BYTES) cbBuffer = MAX_BOUND_BYTES;
    DelimitedColumn& column = lpListing->columns[iCol - 1];
    column.szBuffer.resize(static_cast<size_t>(cbBuffer));
    column.indPtr = SQL_NULL_DATA;
    if (!CheckedCall(lpListing->lpStmt, SQL_HANDLE_STMT,
                     SQLBindCol(lpListing->lpStmt, iCol, SQL_C_CHAR, column.szBuffer.data(), cbBuffer, &column.indPtr),
                     "SQLBindCol(lpStmt, iCol, SQL_C_CHAR, szBuffer, cbBuffer, &indPtr)")) {
      return false;
    }
  }
  lpListing->fBound = true;
  return true;
}

// Reads the whole value of column iCol of the current row into lpListing->szValue, in pieces as long as
// the driver has more. Returns the value's length, SQL_NULL_DATA for NULL, or -2 when a call failed.
SQLLEN ReadWholeValue(Listing* lpListing, SQLUSMALLINT iCol) {
  std::string& buffer = lpListing->szValue;
  if (buffer.size() < FIRST_VALUE_BUFFER) buffer.resize(FIRST_VALUE_BUFFER);
  size_t have = 0;
  for (;;) {
    size_t room = buffer.size() - have;
    SQLLEN ind = 0;
    SQLRETURN RetCode = SQLGetData(lpListing->lpStmt, iCol, SQL_C_CHAR, &buffer[have], static_cast<SQLLEN>(room), &ind);
    if (RetCode == SQL_NO_DATA) break;  // the value ended exactly with the last piece
    if (!CheckedCall(lpListing->lpStmt, SQL_HANDLE_STMT, RetCode,
                     "SQLGetData(lpStmt, iCol, SQL_C_CHAR, szValue, cbValue, &ind)")) {
      return -2;
    }
    if (ind == SQL_NULL_DATA) return SQL_NULL_DATA;
    bool cut = ind == SQL_NO_TOTAL || (ind >= 0 && static_cast<size_t>(ind) >= room);
    if (RetCode == SQL_SUCCESS || !cut) {
      have += ind >= 0 ? static_cast<size_t>(ind) : strnlen(&buffer[have], room - 1);
      break;
    }
    // The piece filled the buffer but for its NUL: grow to what is left, or double when it is unknown.
    have += room - 1;
    size_t wanted = 2 * buffer.size();
    if (ind != SQL_NO_TOTAL && have + static_cast<size_t>(ind) - (room - 1) + 1 > wanted) {
      wanted = have + static_cast<size_t>(ind) - (room - 1) + 1;
    }
    buffer.resize(wanted);
  }
  return static_cast<SQLLEN>(have);
}

// The bytes that a field of each format cannot hold as they are, as a table for a scan of one test a byte.
struct SpecialBytes {
  bool csv[256];  // comma, quote, CR, LF: the field is quoted
  bool tsv[256];  // tab, LF, CR, backslash: escaped
};
constexpr SpecialBytes MakeSpecialBytes() {
  SpecialBytes special{};
  for (unsigned char byte : {',', '"', '\r', '\n'}) special.csv[byte] = true;
  for (unsigned char byte : {'\t', '\n', '\r', '\\'}) special.tsv[byte] = true;
  return special;
}
constexpr SpecialBytes SPECIAL_BYTES = MakeSpecialBytes();

// Returns the position of the first byte of text[0, len) that `special` marks, or len.
size_t FindSpecial(const bool* special, const char* text, size_t len) {
  size_t i = 0;
  while (i < len && !special[static_cast<unsigned char>(text[i])]) ++i;
  return i;
}

// Appends one CSV field: quoted when it holds a comma, a quote, CR or LF, with quotes doubled. The empty
// string is "" so that it differs from NULL, which is an empty field.
void AppendCsvField(std::string& line, const char* text, size_t len) {
  size_t next = FindSpecial(SPECIAL_BYTES.csv, text, len);
  if (next == len && len > 0) {
    line.append(text, len);
    return;
  }
  line += '"';
  for (size_t start = 0;;) {
    const char* quote = static_cast<const char*>(memchr(text + start, '"', len - start));
    size_t end = quote != nullptr ? static_cast<size_t>(quote - text) + 1 : len;
    line.append(text + start, end - start);
    if (quote == nullptr) break;
    line += '"';  // a quote is doubled
    start = end;
  }
  line += '"';
}

// Appends one TSV field, with tab, newline, carriage return and backslash escaped.
void AppendTsvField(std::string& line, const char* text, size_t len) {
  for (size_t start = 0; start < len;) {
    size_t next = start + FindSpecial(SPECIAL_BYTES.tsv, text + start, len - start);
    line.append(text + start, next - start);
    if (next == len) break;
    switch (text[next]) {
      case '\t': line += "\\t"; break;
      case '\n': line += "\\n"; break;
      case '\r': line += "\\r"; break;
      default: line += "\\\\"; break;
    }
    start = next + 1;
  }
}

// Appends a field in the listing's format; on a terminal the text is made safe first.
void AppendField(Listing* lpListing, const char* text, size_t len) {
  const char* shown = text;
  std::string safe;
  if (lpListing->fSafeText) {
    AppendSafeText(safe, text, len);
    shown = safe.data();
    len = safe.size();
  }
  if (lpListing->lpStyle->format == ListingFormat::Csv) {
    AppendCsvField(lpListing->szLine, shown, len);
  } else {
    AppendTsvField(lpListing->szLine, shown, len);
  }
}

char Separator(const Listing* lpListing) { return lpListing->lpStyle->format == ListingFormat::Csv ? ',' : '\t'; }

// Binds the columns and writes the header line: every column's whole name.
bool DelimitedBegin(Listing* lpListing) {
  lpListing->fSafeText = StdoutIsTerminal();
  if (!BindDelimitedColumns(lpListing)) return false;
  std::string& line = lpListing->szLine;
  line.clear();
  for (SQLUSMALLINT iCol = 1; iCol <= static_cast<SQLUSMALLINT>(lpListing->cCols); ++iCol) {
    if (iCol > 1) line += Separator(lpListing);
    SQLSMALLINT cchColumnNameLength = 0;
    if (!CheckedCall(lpListing->lpStmt, SQL_HANDLE_STMT,
                     SQLColAttribute(lpListing->lpStmt, iCol, SQL_DESC_NAME, nullptr, 0, &cchColumnNameLength, nullptr),
                     "SQLColAttribute(lpStmt, iCol, SQL_DESC_NAME, NULL, 0, &cchColumnNameLength, NULL)")) {
      return false;
    }
    std::string name(static_cast<size_t>(cchColumnNameLength > 0 ? cchColumnNameLength : 0) + 1, '\0');
    if (!CheckedCall(lpListing->lpStmt, SQL_HANDLE_STMT,
                     SQLColAttribute(lpListing->lpStmt, iCol, SQL_DESC_NAME, &name[0], static_cast<SQLSMALLINT>(name.size()),
                                     nullptr, nullptr),
                     "SQLColAttribute(lpStmt, iCol, SQL_DESC_NAME, szName, cchColumnNameLength + 1, NULL, NULL)")) {
      return false;
    }
    AppendField(lpListing, name.data(), strnlen(name.data(), name.size() - 1));
  }
  line += '\n';
  OutWrite(line.data(), line.size());
  return true;
}

// Writes the current row: each value whole, NULL as an empty field (CSV) or \N (TSV).
bool DelimitedRow(Listing* lpListing) {
  std::string& line = lpListing->szLine;
  line.clear();
  for (SQLUSMALLINT iCol = 1; iCol <= static_cast<SQLUSMALLINT>(lpListing->cCols); ++iCol) {
    if (iCol > 1) line += Separator(lpListing);
    const char* value;
    SQLLEN length;
    const DelimitedColumn* lpColumn = lpListing->fBound ? &lpListing->columns[iCol - 1] : nullptr;
    if (lpColumn != nullptr && (lpColumn->indPtr == SQL_NULL_DATA ||
                                (lpColumn->indPtr >= 0 && static_cast<size_t>(lpColumn->indPtr) < lpColumn->szBuffer.size()))) {
      value = lpColumn->szBuffer.data();
      length = lpColumn->indPtr;
    } else {
      length = ReadWholeValue(lpListing, iCol);  // unbound, or too long for its buffer
      value = lpListing->szValue.data();
    }
    if (length == -2) return false;
    if (length == SQL_NULL_DATA) {
      if (lpListing->lpStyle->format == ListingFormat::Tsv) line += "\\N";
      continue;
    }
    AppendField(lpListing, value, static_cast<size_t>(length));
  }
  line += '\n';
  OutWrite(line.data(), line.size());
  return true;
}

void DelimitedEnd(Listing*) {}

void DelimitedRelease(Listing* lpListing) {
  // The statement must not keep pointers into the buffers freed below; should unbinding fail, they are kept.
  if (!lpListing->columns.empty() &&
      !CheckedCall(lpListing->lpStmt, SQL_HANDLE_STMT, SQLFreeStmt(lpListing->lpStmt, SQL_UNBIND), "SQLFreeStmt(lpStmt,SQL_UNBIND)")) {
    static_cast<void>(new std::vector<DelimitedColumn>(std::move(lpListing->columns)));
    return;
  }
  lpListing->columns.clear();
  // Keep one listing's largest value from holding memory for the rest of the session.
  std::string().swap(lpListing->szValue);
}

}  // namespace

const ListingFormatter DELIMITED_FORMATTER = {DelimitedBegin, DelimitedRow, DelimitedEnd, DelimitedRelease};
