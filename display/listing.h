// The listing of one result set: its style (table, CSV or TSV) and the formatters the fetch loop drives.
#pragma once

#include <string>
#include <vector>

#include "display/column_bindings.h"
#include "session/options.h"

// How a result set is listed; fixed for the session.
struct ListingStyle {
  ListingFormat format;  // table, CSV or TSV
  bool fPaging;          // pause after every screenful and read a reply
  bool fHighlight;       // highlight header, end bar and pause prompt on a terminal
  bool fGetDataOnBound;  // the driver reads a bound column again with SQLGetData (SQL_GD_BOUND)
};

// The console's own listing: a highlighted table that pauses.
constexpr ListingStyle CONSOLE_LISTING = {ListingFormat::Table, true, true, false};

// One column of a delimited listing: bound to a buffer that holds most values whole.
struct DelimitedColumn {
  std::vector<char> szBuffer;  // the bound buffer; a value that does not fit is read again whole
  SQLLEN indPtr;               // bound length/indicator
};

// One result set while it is listed; each formatter uses its own part.
struct Listing {
  SQLHSTMT lpStmt;                // the statement whose cursor is listed
  const ListingStyle* lpStyle;      // how it is listed
  SQLSMALLINT cCols;              // result columns
  ColumnBinding* lpBindings;      // table: the bound columns
  SQLSMALLINT cchTotalWidth;      // table: the sum of widths plus COLUMN_EXTRA each
  size_t cbRowBound;              // table: the most bytes one row line can take
  bool fSafeText;                 // delimited: control characters and invalid bytes show as '?'
  bool fBound;                    // delimited: the columns are bound (the driver can read a bound column again)
  std::vector<DelimitedColumn> columns;  // delimited: one record per column when bound
  std::string szValue;            // delimited: buffer of the value being read, grown to the largest
  std::string szLine;             // delimited: the line being built
};

// A way of writing a result set: the fetch loop calls Begin once, Row after each fetched row, End at the
// end of the rows, and Release last whatever happened. Begin and Row return false on a failed call.
struct ListingFormatter {
  bool (*Begin)(Listing* lpListing);    // describes or binds the columns and writes the header
  bool (*Row)(Listing* lpListing);      // writes the current row
  void (*End)(Listing* lpListing);      // writes what follows the last row
  void (*Release)(Listing* lpListing);  // releases what Begin made
};

// The delimited formatter, for --csv and --tsv: the listing's style says which.
extern const ListingFormatter DELIMITED_FORMATTER;
