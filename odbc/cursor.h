// One result set of a statement: its columns described once, their buffers, and the rows fetched into them.
#pragma once

#include <string>
#include <vector>

#include "odbc/odbc_api.h"

constexpr int MAX_COLUMN_CHARS = 50;  // the most characters of a value that a table stores and shows
constexpr int MIN_COLUMN_WIDTH = 6;   // the least column width: the length of "<NULL>"
constexpr int COLUMN_EXTRA = 3;       // what a column adds to a line beyond its width: bar and two blanks
constexpr int MAX_TITLE_CHARS = 49;   // a title shows at most this many characters of the name

// One result column, described once when the result set is opened.
struct ResultColumn {
  SQLUSMALLINT iResultCol;  // its number in the result, 1-based
  std::string szName;    // the whole name, as the driver spells it, or the title chosen for it
  bool fNameRead;        // false when the name could not be read (reported then)
  SQLSMALLINT sqlType;   // the concise SQL type
  SQLLEN cchDisplay;     // the display size as reported: SQL_NO_TOTAL or negative when the driver cannot tell
  bool fText;            // a character type, narrow or wide: left-aligned, and cut at its display size in a table
  SQLSMALLINT cType;     // the C type bound: SQL_C_CHAR, or a binary number formatted by the console
  bool fUnsigned;        // an unsigned integer type (asked only where numbers are bound in binary)
  SQLLEN cbBuffer;       // bytes bound for one value, NUL included for text; 0 while the column is not bound
  size_t offValue;       // where the value sits in one row of the row buffer
  size_t offIndicator;   // where its length/indicator sits
  char szNumber[48];     // the current row's binary number as text
};

// A column of the result chosen for a listing, and the title it is shown under: a catalog result has more
// columns than a person wants to read, under names meant for programs.
struct ChosenColumn {
  SQLUSMALLINT iResultCol;  // its number in the result, 1-based; chosen columns come in rising order
  const char* szTitle;      // the title shown instead of the driver's name
};

// What the columns are bound for.
enum class BindPurpose {
  Table,   // what a cell shows: text up to its display size (at most MAX_COLUMN_CHARS), other types MAX_COLUMN_CHARS
  Export,  // whole values: buffers sized from the display size; a longer value is read again with SQLGetData
};

// What a fetch brought.
enum class RowFetch {
  Row,     // a row is current
  End,     // no more rows
  Failed,  // the fetch failed (reported)
};

// How rows are fetched: what the data source allows, and what the session wants.
struct FetchRules {
  bool fGetDataOnBound = false;  // export: the driver reads a bound column again (SQL_GD_BOUND)
  bool fSizesHold = false;       // export: the data source keeps every value within its display size
  bool fRowsets = false;         // rows may come a rowset at a time where every value fits its buffer
  bool fBinaryNumbers = false;   // integers and floating-point values are fetched in binary and
                                 // written by the console exactly as the driver writes them
  bool fLabelTitles = false;     // titles are read as the columns' labels (SQL_DESC_LABEL)
  SQLULEN rowsetRows = 100;      // the most rows a rowset fetch brings
};

// The open result set of one statement, from its description to the removal of its bindings. Owns every
// buffer the statement points into, and nothing else: ReleaseResultSet (or the destructor) unbinds them and
// sets the statement back to one row a fetch; should that fail, the statement's owner must free the handle
// rather than leave it pointing into freed memory.
struct ResultSet {
  SQLHSTMT lpStmt;                    // the statement whose cursor is read; its owner's handle
  std::vector<ResultColumn> columns;  // the columns described, in order; fewer than the result's when a call failed
  bool fComplete = false;             // every column of the result was described
  bool fBound = false;                // the columns are bound
  bool fGetDataOnBound = false;       // export: the driver reads a bound column again (SQL_GD_BOUND)
  bool fSizesHold = false;            // export: the data source keeps every value within its display size
  bool fRowsets = false;              // rows may come a rowset at a time where every value fits its buffer
  bool fBinaryNumbers = false;        // integers and floating-point values are fetched in binary and
                                      // written by the console exactly as the driver writes them
  bool fReleased = false;             // the bindings have been taken off (or were never made)
  bool fLabelTitles = false;          // titles are read as the columns' labels (SQL_DESC_LABEL)
  SQLULEN rowsetRows = 100;           // the most rows a rowset fetch may bring
  std::vector<char> rows;             // row-wise buffer: rowsetSize rows of cbRow bytes
  size_t cbRow = 0;                   // bytes of one row
  SQLULEN rowsetSize = 1;             // rows a fetch brings at most
  SQLULEN cRowsFetched = 0;           // rows the last fetch brought
  std::vector<SQLUSMALLINT> rowStatus;  // the status of each row of the rowset
  SQLULEN iRow = 0;                   // the current row in the rowset
  bool fFetchFailedAfterRows = false;  // the last fetch failed after the rows it holds: reported once they are used up
  std::string szLong;                 // export: a value too long for its buffer, read whole

  ResultSet(SQLHSTMT lpStatement, const FetchRules& rules)
      : lpStmt(lpStatement), fGetDataOnBound(rules.fGetDataOnBound), fSizesHold(rules.fSizesHold),
        fRowsets(rules.fRowsets), fBinaryNumbers(rules.fBinaryNumbers), fLabelTitles(rules.fLabelTitles), rowsetRows(rules.rowsetRows) {}
  ResultSet(const ResultSet&) = delete;
  ResultSet& operator=(const ResultSet&) = delete;
  ~ResultSet();
};

// Takes the bindings off the statement and sets it back to one row a fetch. Returns false when they would
// not come off (reported): the statement's owner must then free the handle.
bool ReleaseResultSet(ResultSet& set);

// Describes the cCols columns of the statement's open result set, or only the `chosen` ones when given
// (those past cCols are left out): display size, type and whole name of each. A failed call is reported
// under the checked-call rule and ends the description there; a column whose name could not be read is
// kept. Returns false when a call failed.
bool DescribeResultColumns(ResultSet& set, SQLSMALLINT cCols, const std::vector<ChosenColumn>* chosen = nullptr);

// Binds the described columns for `purpose`. In a UTF-8 locale (fUtf8) a character takes up to 4 bytes.
// Rows are fetched a rowset at a time when the record allows it (fRowsets), every bound value fits its
// buffer as the purpose wants it and the driver takes the rowset size; otherwise one at a time. Returns false when a call failed (reported);
// the columns bound before it stay bound.
bool BindResultColumns(ResultSet& set, BindPurpose purpose, bool fUtf8);

// Makes the next row current, fetching when the rowset is used up. `fetchCallText` is the text of the
// fetch under the checked-call rule.
RowFetch FetchNextRow(ResultSet& set, const char* fetchCallText);

// The bound value of column iCol (0-based) in the current row as text: its bytes, and SQL_NULL_DATA, its
// length, or a length at least cbBuffer when the buffer holds only the start of it (then NUL-terminated).
// A number bound in binary is written as text first, whole.
const char* BoundValue(ResultSet& set, size_t iCol, SQLLEN* indicator);

// Whether the value BoundValue gives for a column with this indicator is whole.
bool BoundValueIsWhole(const ResultColumn& column, SQLLEN indicator);

// Export: the whole value of column iCol (0-based) of the current row, from its buffer when it fits there,
// else read with SQLGetData into set.szLong. Returns its length, SQL_NULL_DATA, or -2 when a call failed.
// Columns are read in order within a row.
SQLLEN WholeValue(ResultSet& set, size_t iCol, const char** value);
