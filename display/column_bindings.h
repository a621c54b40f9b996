// The bound columns of one result set: a buffer, an indicator and a screen width for each.
#pragma once

#include "odbc/odbc_api.h"

constexpr int MAX_COLUMN_CHARS = 50;  // the most characters of a value that are stored and shown
constexpr int MIN_COLUMN_WIDTH = 6;   // the least column width: the length of "<NULL>"
constexpr int COLUMN_EXTRA = 3;       // what a column adds to a line beyond its width: bar and two blanks
constexpr int MAX_TITLE_CHARS = 49;   // a title shows at most this many characters of the name

// One bound result column; the records of a result set form a list in column order.
struct ColumnBinding {
  SQLSMALLINT cchWidth;    // the column's width on screen, in display columns
  SQLCHAR* szBuffer;       // bound buffer: the current row's value as NUL-terminated character data
  SQLLEN indPtr;           // bound length/indicator; SQL_NULL_DATA when the value is NULL
  int fCharType;           // true for SQL_CHAR, SQL_VARCHAR and SQL_LONGVARCHAR: shown left-aligned
  ColumnBinding* lpNext;   // the next column's record; null for the last
  SQLSMALLINT cchDisplay;  // the display size the width is built from (at most MAX_COLUMN_CHARS)
  SQLSMALLINT cchValueChars;  // the most characters of a value that are shown: a cut applies to text only
  SQLLEN cbBuffer;         // bytes of szBuffer, the terminating NUL included
  bool fTitleRead;         // szTitle holds the column's name; false when reading it failed
  char szTitle[4 * MAX_TITLE_CHARS + 1];  // the column's title: its name, up to MAX_TITLE_CHARS characters
};

// Binds every column of the open result set to a buffer of its own, reads each column's title, and works
// out the column widths and their sum plus COLUMN_EXTRA each (*cchTotalWidth). Text columns hold at most
// their display size, other columns always MAX_COLUMN_CHARS, so that no number or date is shown cut.
// Returns nothing; on a failed call the list holds the columns bound so far, each complete. Running out of
// memory ends the process with status -100.
void BindResultColumns(SQLHSTMT lpStmt, SQLSMALLINT cCols, ColumnBinding** lpBindings, SQLSMALLINT* cchTotalWidth);

// Removes the statement's column bindings, then frees every buffer and record of the list. Returns nothing.
void ReleaseColumnBindings(SQLHSTMT lpStmt, ColumnBinding** lpBindings);
