// One result set of a statement: its columns described once, their buffers, and the rows fetched into them.
#include "odbc/cursor.h"

#include <algorithm>
#include <cstring>

#include "odbc/number_text.h"

namespace {

constexpr SQLULEN ROWS_UNREPORTED = ~SQLULEN{0};  // the fetched-rows count before a fetch writes it
constexpr SQLLEN MIN_EXPORT_BYTES = 64;      // an export's bound buffer holds at least this much...
constexpr SQLLEN MAX_EXPORT_BYTES = 4096;    // ...and at most this much; longer values are read in pieces
constexpr size_t FIRST_NAME_BUFFER = 128;    // a name buffer's first size; it grows while a name may be cut
constexpr size_t MAX_NAME_BUFFER = 32767;    // the largest buffer the name call can be given
constexpr size_t FIRST_LONG_BUFFER = 4096;   // the first piece of a long value
constexpr char NAME_CALL_TEXT[] =
    "SQLDescribeCol(lpStmt, iCol, szName, cbName, &cchName, &sqlType, &columnSize, &decimals, &nullable)";

size_t AlignUp(size_t bytes) { return (bytes + alignof(SQLLEN) - 1) / alignof(SQLLEN) * alignof(SQLLEN); }

// What SQLDescribeCol tells of one column.
struct DescribedColumn {
  std::string szName;       // the column's name, whole
  SQLSMALLINT sqlType = 0;  // its SQL type
  SQLULEN columnSize = 0;   // its size: characters of text, digits of a number
};

// Reads a whole string through `call(buffer, size, &cbText)`, a buffer that grows while the text may have
// been cut: some drivers cannot tell a text's length beforehand, and some leave the length unset. Returns
// the code of the last call, and the text in *szText when it succeeded.
template <typename StringCall>
SQLRETURN ReadGrowingText(StringCall call, std::string* szText) {
  std::vector<SQLCHAR> buffer(FIRST_NAME_BUFFER);
  for (;;) {
    SQLSMALLINT cbText = 0;
    buffer[0] = '\0';
    SQLRETURN RetCode = call(buffer.data(), static_cast<SQLSMALLINT>(buffer.size()), &cbText);
    if (!SQL_SUCCEEDED(RetCode)) return RetCode;
    size_t length = strnlen(reinterpret_cast<char*>(buffer.data()), buffer.size());
    bool mayBeCut = length + 1 >= buffer.size() || (cbText > 0 && static_cast<size_t>(cbText) > length);
    if (!mayBeCut || buffer.size() >= MAX_NAME_BUFFER) {
      if (length == buffer.size()) --length;  // a driver that left no room for the NUL
      szText->assign(reinterpret_cast<char*>(buffer.data()), length);
      return RetCode;
    }
    size_t wanted = 2 * buffer.size();
    if (cbText > 0 && static_cast<size_t>(cbText) + 1 > wanted) wanted = static_cast<size_t>(cbText) + 1;
    buffer.resize(wanted < MAX_NAME_BUFFER ? wanted : MAX_NAME_BUFFER);
  }
}

// Reads column iCol's whole name, type and size through SQLDescribeCol. Returns false when the call
// failed (reported).
bool DescribeColumn(SQLHSTMT lpStmt, SQLUSMALLINT iCol, DescribedColumn* described) {
  SQLRETURN RetCode = ReadGrowingText(
      [&](SQLCHAR* buffer, SQLSMALLINT cbBuffer, SQLSMALLINT* cbName) {
        SQLSMALLINT decimals = 0, nullable = 0;
        return SQLDescribeCol(lpStmt, iCol, buffer, cbBuffer, cbName, &described->sqlType, &described->columnSize,
                              &decimals, &nullable);
      },
      &described->szName);
  return CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, NAME_CALL_TEXT);
}

// The title of column iCol as the statement wrote it: its label (SQL_DESC_LABEL). The SQLite driver, for
// one, gives SQLDescribeCol only what follows the last dot of a title ("x.y" becomes "y"). A driver
// without the attribute, or whose label is empty, keeps the name SQLDescribeCol gave.
std::string ReadColumnTitle(SQLHSTMT lpStmt, SQLUSMALLINT iCol, const std::string& szName) {
  std::string szLabel;
  SQLRETURN RetCode = ReadGrowingText(
      [&](SQLCHAR* buffer, SQLSMALLINT cbBuffer, SQLSMALLINT* cbLabel) {
        return SQLColAttribute(lpStmt, iCol, SQL_DESC_LABEL, buffer, cbBuffer, cbLabel, nullptr);
      },
      &szLabel);
  if (!SQL_SUCCEEDED(RetCode) || szLabel.empty()) return szName;
  return szLabel;
}

// Reads a numeric attribute of column iCol. A driver without SQLColAttribute, or without this field,
// leaves *value as it is, silently; any other failure is reported under the checked-call rule. Returns
// false when the call failed for another reason.
bool ReadOptionalAttribute(SQLHSTMT lpStmt, SQLUSMALLINT iCol, SQLUSMALLINT field, SQLLEN* value, const char* szCallText) {
  SQLLEN read = 0;
  SQLRETURN RetCode = SQLColAttribute(lpStmt, iCol, field, nullptr, 0, nullptr, &read);
  if (RetCode == SQL_ERROR && DriverLacksFunction(lpStmt, SQL_HANDLE_STMT)) return true;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, szCallText)) return false;
  *value = read;
  return true;
}

// The display size a column of this type and size has, as ODBC defines it: for a driver that cannot
// tell it through SQLColAttribute. SQL_NO_TOTAL where the size says nothing.
SQLLEN DisplaySizeOfType(SQLSMALLINT sqlType, SQLULEN columnSize) {
  switch (sqlType) {
    case SQL_BIT: return 1;
    case SQL_TINYINT: return 4;
    case SQL_SMALLINT: return 6;
    case SQL_INTEGER: return 11;
    case SQL_BIGINT: return 20;
    case SQL_REAL: return 14;
    case SQL_FLOAT:
    case SQL_DOUBLE: return 24;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return columnSize > 0 ? static_cast<SQLLEN>(columnSize) + 2 : SQL_NO_TOTAL;  // sign and point
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return columnSize > 0 ? 2 * static_cast<SQLLEN>(columnSize) : SQL_NO_TOTAL;  // two hex digits a byte
    default: return columnSize > 0 ? static_cast<SQLLEN>(columnSize) : SQL_NO_TOTAL;  // text, dates and times
  }
}

bool IsTextType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return true;
    default:
      return false;
  }
}

// The C type a column is bound to: text, or where the driver's own text of a number is known, the number
// in binary, which the console writes faster than the driver converts it.
SQLSMALLINT BoundCType(const ResultColumn& column, bool fBinaryNumbers) {
  if (!fBinaryNumbers) return SQL_C_CHAR;
  switch (column.sqlType) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
      return SQL_C_SBIGINT;
    case SQL_BIGINT:
      return column.fUnsigned ? SQL_C_UBIGINT : SQL_C_SBIGINT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_REAL:
      return SQL_C_FLOAT;
    default:
      return SQL_C_CHAR;
  }
}

// The characters of a column's value that a table stores: text up to its display size, anything else up
// to MAX_COLUMN_CHARS, since a number or date cut short would look right and be wrong.
int TableValueChars(const ResultColumn& column) {
  if (!column.fText) return MAX_COLUMN_CHARS;
  if (column.cchDisplay > MAX_COLUMN_CHARS || column.cchDisplay < 0) return MAX_COLUMN_CHARS;
  return static_cast<int>(column.cchDisplay);
}

// Bytes of an export's buffer: room for the display size in UTF-8, within MIN_EXPORT_BYTES..MAX_EXPORT_BYTES.
SQLLEN ExportBufferBytes(const ResultColumn& column) {
  SQLLEN bytes = column.cchDisplay > 0 && column.cchDisplay < MAX_EXPORT_BYTES ? 4 * column.cchDisplay + 1 : MAX_EXPORT_BYTES;
  if (bytes < MIN_EXPORT_BYTES) bytes = MIN_EXPORT_BYTES;
  return bytes > MAX_EXPORT_BYTES ? MAX_EXPORT_BYTES : bytes;
}

// Asks the driver for rowsets of set.rowsetRows rows, bound row-wise, and makes the row buffer hold them.
// A driver that does not take the size gets rows one at a time. This is a probe, not a checked call.
void UseRowsets(ResultSet& set) {
  SQLHSTMT lpStmt = set.lpStmt;
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(set.cbRow), 0))) return;
  SQLRETURN RetCode = SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(set.rowsetRows), 0);
  SQLULEN rowsetSize = set.rowsetRows;
  if (RetCode == SQL_SUCCESS_WITH_INFO) {
    rowsetSize = 0;
    SQLGetStmtAttr(lpStmt, SQL_ATTR_ROW_ARRAY_SIZE, &rowsetSize, 0, nullptr);  // the size the driver chose
  }
  if (!SQL_SUCCEEDED(RetCode) || rowsetSize <= 1 || rowsetSize > set.rowsetRows) {
    SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    return;
  }
  set.rowStatus.assign(rowsetSize, SQL_ROW_NOROW);
  set.rowsetSize = rowsetSize;
  SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_STATUS_PTR, set.rowStatus.data(), 0);
  SQLSetStmtAttr(lpStmt, SQL_ATTR_ROWS_FETCHED_PTR, &set.cRowsFetched, 0);
}

// The rows of a failed rowset fetch that the driver fetched before the failure: those its status marks
// fetched, up to the first that is not. The statuses were set to no row before the fetch, so a row marked
// was written by it; the fetched-rows count is not read, since a driver may leave it at 0 on a failure.
SQLULEN RowsBeforeFailure(const ResultSet& set) {
  SQLULEN cRows = 0;
  while (cRows < set.rowsetSize &&
         (set.rowStatus[cRows] == SQL_ROW_SUCCESS || set.rowStatus[cRows] == SQL_ROW_SUCCESS_WITH_INFO)) {
    ++cRows;
  }
  return cRows;
}

// Binds the described column iCol (0-based) to its place in the first row of the row buffer.
bool BindColumn(ResultSet& set, size_t iCol) {
  ResultColumn& column = set.columns[iCol];
  SQLRETURN RetCode = SQLBindCol(set.lpStmt, column.iResultCol, column.cType, &set.rows[column.offValue],
                                 column.cbBuffer, reinterpret_cast<SQLLEN*>(&set.rows[column.offIndicator]));
  if (column.cType == SQL_C_CHAR) {
    return CheckedCall(set.lpStmt, SQL_HANDLE_STMT, RetCode,
                       "SQLBindCol(lpStmt, iCol, SQL_C_TCHAR, (SQLPOINTER) lpThisBinding->szBuffer, (cchDisplay + 1) * "
                       "sizeof(TCHAR), &lpThisBinding->indPtr)");
  }
  // A number bound in binary: the message names the C type bound.
  const char* szCallText = column.cType == SQL_C_SBIGINT   ? "SQLBindCol(lpStmt, iCol, SQL_C_SBIGINT, lpValue, 8, &indicator)"
                           : column.cType == SQL_C_UBIGINT ? "SQLBindCol(lpStmt, iCol, SQL_C_UBIGINT, lpValue, 8, &indicator)"
                           : column.cType == SQL_C_DOUBLE  ? "SQLBindCol(lpStmt, iCol, SQL_C_DOUBLE, lpValue, 8, &indicator)"
                                                           : "SQLBindCol(lpStmt, iCol, SQL_C_FLOAT, lpValue, 4, &indicator)";
  return CheckedCall(set.lpStmt, SQL_HANDLE_STMT, RetCode, szCallText);
}

// Reads the whole value of column iCol (1-based) with SQLGetData into `buffer`, in pieces as long as the
// driver has more. The buffer is sized from the length the driver announces, so a long value is held once.
// Returns the value's length, SQL_NULL_DATA for NULL, or -2 when a call failed.
SQLLEN ReadWholeValue(SQLHSTMT lpStmt, SQLUSMALLINT iCol, std::string& buffer) {
  if (buffer.size() < FIRST_LONG_BUFFER) buffer.resize(FIRST_LONG_BUFFER);
  size_t have = 0;
  for (;;) {
    size_t room = buffer.size() - have;
    SQLLEN ind = 0;
    SQLRETURN RetCode = SQLGetData(lpStmt, iCol, SQL_C_CHAR, &buffer[have], static_cast<SQLLEN>(room), &ind);
    if (RetCode == SQL_NO_DATA) break;  // the value ended exactly with the last piece
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLGetData(lpStmt, iCol, SQL_C_CHAR, szValue, cbValue, &ind)")) {
      return -2;
    }
    if (ind == SQL_NULL_DATA) return SQL_NULL_DATA;
    bool cut = ind == SQL_NO_TOTAL || (ind >= 0 && static_cast<size_t>(ind) >= room);
    if (RetCode == SQL_SUCCESS || !cut) {
      have += ind >= 0 ? static_cast<size_t>(ind) : strnlen(&buffer[have], room - 1);
      break;
    }
    // The piece filled the buffer but for its NUL. With the rest's length known the buffer grows to hold
    // exactly the whole value; else it doubles.
    have += room - 1;
    size_t wanted = ind == SQL_NO_TOTAL ? 2 * buffer.size() : have + (static_cast<size_t>(ind) - (room - 1)) + 1;
    if (wanted <= buffer.size()) wanted = buffer.size() + FIRST_LONG_BUFFER;
    buffer.resize(wanted);
  }
  return static_cast<SQLLEN>(have);
}

}  // namespace

ResultSet::~ResultSet() {
  // An owner that did not release the bindings has freed the handle, or will not use it again.
  if (!fReleased) ReleaseResultSet(*this);
}

bool ReleaseResultSet(ResultSet& set) {
  if (set.fReleased) return true;
  set.fReleased = true;
  SQLHSTMT lpStmt = set.lpStmt;
  if (!set.fBound || lpStmt == SQL_NULL_HSTMT) return true;
  // The statement must not keep pointers into the buffers freed with this record.
  bool released = CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLFreeStmt(lpStmt, SQL_UNBIND), "SQLFreeStmt(lpStmt,SQL_UNBIND)");
  if (released && set.rowsetSize > 1) {
    released = SQL_SUCCEEDED(SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0)) &&
               SQL_SUCCEEDED(SQLSetStmtAttr(lpStmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0)) &&
               SQL_SUCCEEDED(SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0)) &&
               SQL_SUCCEEDED(SQLSetStmtAttr(lpStmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0));
  }
  return released;
}

bool DescribeResultColumns(ResultSet& set, SQLSMALLINT cCols, const std::vector<ChosenColumn>* chosen) {
  std::vector<ChosenColumn> every;
  if (chosen == nullptr) {
    for (SQLSMALLINT iCol = 1; iCol > 0 && iCol <= cCols; ++iCol) every.push_back({static_cast<SQLUSMALLINT>(iCol), nullptr});
    chosen = &every;
  }
  set.columns.clear();
  set.columns.reserve(chosen->size());
  for (const ChosenColumn& wanted : *chosen) {
    SQLUSMALLINT iCol = wanted.iResultCol;
    if (iCol == 0 || cCols <= 0 || iCol > static_cast<SQLUSMALLINT>(cCols)) continue;
    // SQLDescribeCol gives the name, type and size on every driver; SQLColAttribute the display size and
    // the concise type where the driver has it. The name is read here, once: some drivers answer a name
    // request by scanning the rows they hold. A column whose name could not be read is kept, untitled.
    DescribedColumn described;
    bool fNameRead = DescribeColumn(set.lpStmt, iCol, &described);
    SQLLEN cchDisplay = fNameRead ? DisplaySizeOfType(described.sqlType, described.columnSize) : SQL_NO_TOTAL;
    SQLLEN ssType = described.sqlType;
    if (!ReadOptionalAttribute(set.lpStmt, iCol, SQL_DESC_DISPLAY_SIZE, &cchDisplay,
                               "SQLColAttribute(lpStmt, iCol, SQL_DESC_DISPLAY_SIZE, NULL, 0, NULL, &cchDisplay)") ||
        !ReadOptionalAttribute(set.lpStmt, iCol, SQL_DESC_CONCISE_TYPE, &ssType,
                               "SQLColAttribute(lpStmt, iCol, SQL_DESC_CONCISE_TYPE, NULL, 0, NULL, &ssType)")) {
      return false;
    }
    ResultColumn column{};
    column.iResultCol = iCol;
    column.sqlType = static_cast<SQLSMALLINT>(ssType);
    column.cchDisplay = cchDisplay;
    column.fText = IsTextType(column.sqlType);
    column.cType = SQL_C_CHAR;
    if (set.fBinaryNumbers && (column.sqlType == SQL_BIGINT)) {
      SQLLEN fUnsigned = SQL_FALSE;
      if (!ReadOptionalAttribute(set.lpStmt, iCol, SQL_DESC_UNSIGNED, &fUnsigned,
                                 "SQLColAttribute(lpStmt, iCol, SQL_DESC_UNSIGNED, NULL, 0, NULL, &fUnsigned)")) {
        return false;
      }
      column.fUnsigned = fUnsigned == SQL_TRUE;
    }
    column.fNameRead = fNameRead || wanted.szTitle != nullptr;
    if (wanted.szTitle != nullptr) {
      column.szName = wanted.szTitle;
    } else if (fNameRead && set.fLabelTitles) {
      column.szName = ReadColumnTitle(set.lpStmt, iCol, described.szName);
    } else {
      column.szName = std::move(described.szName);
    }
    set.columns.push_back(std::move(column));
    if (!fNameRead) return false;
  }
  set.fComplete = true;
  return true;
}

bool BindResultColumns(ResultSet& set, BindPurpose purpose, bool fUtf8) {
  // A rowset cannot read a value again with SQLGetData: an export with any column that may be longer
  // than its buffer reads one row at a time.
  bool fWholeInBuffers = true;
  size_t offset = 0;
  for (ResultColumn& column : set.columns) {
    column.cType = BoundCType(column, set.fBinaryNumbers);
    if (column.cType != SQL_C_CHAR) {
      column.cbBuffer = column.cType == SQL_C_FLOAT ? sizeof(float) : 8;  // a whole number, whatever the purpose
    } else if (purpose == BindPurpose::Table) {
      int chars = TableValueChars(column);
      column.cbBuffer = (fUtf8 ? 4 * chars : chars) + 1;
    } else if (set.fGetDataOnBound) {
      column.cbBuffer = ExportBufferBytes(column);
      if (column.cchDisplay <= 0 || 4 * column.cchDisplay + 1 > column.cbBuffer) fWholeInBuffers = false;
    } else {
      column.cbBuffer = 0;  // every value comes from SQLGetData
      fWholeInBuffers = false;
    }
    column.offIndicator = offset;
    column.offValue = offset + sizeof(SQLLEN);
    offset = AlignUp(column.offValue + static_cast<size_t>(column.cbBuffer));
  }
  set.cbRow = offset;
  // A table cuts its values anyway; an export trusts the display sizes only where the data source keeps
  // its values within them (a SQLite column holds values of any length whatever its declared size).
  if (purpose == BindPurpose::Export && !set.fSizesHold) fWholeInBuffers = false;
  if (set.fRowsets && set.rowsetRows > 1 && fWholeInBuffers && set.fComplete && !set.columns.empty()) UseRowsets(set);
  set.rows.assign(set.cbRow * set.rowsetSize, '\0');
  for (ResultColumn& column : set.columns) *reinterpret_cast<SQLLEN*>(&set.rows[column.offIndicator]) = SQL_NULL_DATA;
  // The bindings may stand from here on: the record undoes them, and the rowset attributes, when it ends.
  set.fBound = true;
  for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
    if (set.columns[iCol].cbBuffer == 0) continue;
    if (!BindColumn(set, iCol)) {
      // The columns after it are not bound; the statement keeps the ones before.
      set.columns.resize(iCol);
      set.fComplete = false;
      return false;
    }
  }
  return true;
}

RowFetch FetchNextRow(ResultSet& set, const char* fetchCallText) {
  for (;;) {
    if (set.rowsetSize > 1 && set.iRow + 1 < set.cRowsFetched) {
      ++set.iRow;
    } else if (set.fFetchFailedAfterRows) {
      // The rows fetched before the failure are written: now the failure, as one-row fetching reports it.
      set.fFetchFailedAfterRows = false;
      CheckedCall(set.lpStmt, SQL_HANDLE_STMT, SQL_ERROR, fetchCallText);
      return RowFetch::Failed;
    } else {
      // A driver that fetches one row a call, as ODBC 2 has SQLFetch do (Virtuoso's), takes the rowset size
      // but writes neither the count nor the statuses: a count left as set here means the one row.
      set.cRowsFetched = ROWS_UNREPORTED;
      std::fill(set.rowStatus.begin(), set.rowStatus.end(), SQL_ROW_NOROW);  // a row marked below is this fetch's
      SQLRETURN RetCode = SQLFetch(set.lpStmt);
      if (RetCode == SQL_ERROR && set.rowsetSize > 1 && RowsBeforeFailure(set) > 0) {
        // A rowset that failed part way holds the rows before the failing one, as the statuses say: they
        // come first, and the failure after them, where one-row fetching would have met it.
        set.cRowsFetched = RowsBeforeFailure(set);
        set.fFetchFailedAfterRows = true;
        set.iRow = 0;
        return RowFetch::Row;
      }
      if (!CheckedCall(set.lpStmt, SQL_HANDLE_STMT, RetCode, fetchCallText)) return RowFetch::Failed;
      if (RetCode == SQL_NO_DATA) return RowFetch::End;
      set.iRow = 0;
      if (set.rowsetSize == 1 || set.cRowsFetched == ROWS_UNREPORTED) {
        set.cRowsFetched = 1;
        return RowFetch::Row;
      }
      if (set.cRowsFetched == 0) return RowFetch::End;
    }
    switch (set.rowStatus[set.iRow]) {
      case SQL_ROW_ERROR:
        // One row a fetch, this row's fetch would have failed: the listing ends there as it would have.
        ReportFailedCall(fetchCallText);
        return RowFetch::Failed;
      case SQL_ROW_NOROW:
        return RowFetch::End;
      default:
        return RowFetch::Row;
    }
  }
}

const char* BoundValue(ResultSet& set, size_t iCol, SQLLEN* indicator) {
  ResultColumn& column = set.columns[iCol];
  const char* row = set.rows.data() + set.iRow * set.cbRow;
  *indicator = *reinterpret_cast<const SQLLEN*>(row + column.offIndicator);
  const char* value = row + column.offValue;
  if (column.cType == SQL_C_CHAR || *indicator == SQL_NULL_DATA) return value;
  char* end = column.szNumber;
  switch (column.cType) {
    case SQL_C_SBIGINT: {
      int64_t number;
      memcpy(&number, value, sizeof number);
      end = PutSignedInteger(end, number);
      break;
    }
    case SQL_C_UBIGINT: {
      uint64_t number;
      memcpy(&number, value, sizeof number);
      end = PutUnsignedInteger(end, number);
      break;
    }
    case SQL_C_DOUBLE: {
      double number;
      memcpy(&number, value, sizeof number);
      end = PutDouble(end, number);
      break;
    }
    default: {
      float number;
      memcpy(&number, value, sizeof number);
      end = PutFloat(end, number);
      break;
    }
  }
  *end = '\0';
  *indicator = end - column.szNumber;
  return column.szNumber;
}

bool BoundValueIsWhole(const ResultColumn& column, SQLLEN indicator) {
  return indicator == SQL_NULL_DATA || column.cType != SQL_C_CHAR || (indicator >= 0 && indicator < column.cbBuffer);
}

SQLLEN WholeValue(ResultSet& set, size_t iCol, const char** value) {
  ResultColumn& column = set.columns[iCol];
  if (column.cbBuffer > 0) {
    SQLLEN indicator;
    const char* bound = BoundValue(set, iCol, &indicator);
    if (BoundValueIsWhole(column, indicator)) {
      *value = bound;
      return indicator;
    }
    if (set.rowsetSize > 1) {
      // A rowset is used only when the driver's sizes say every value fits: a driver that broke its word
      // would cut the value, and a value is never written cut.
      ReportText(("Error: a value of column " + std::to_string(iCol + 1) +
                  " is longer than the driver said; the listing stops\n").c_str());
      return -2;
    }
  }
  *value = set.szLong.data();
  SQLLEN length = ReadWholeValue(set.lpStmt, column.iResultCol, set.szLong);
  *value = set.szLong.data();
  return length;
}
