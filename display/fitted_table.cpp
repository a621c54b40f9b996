// The fitted table: each column as wide as its widest value or title over the first rows, held before writing.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "display/cell_text.h"
#include "display/listing.h"
#include "display/output.h"
#include "display/terminal.h"

namespace {

constexpr size_t HELD_ROWS = 1000;  // rows read before the widths are fixed
constexpr char NULL_MARKER[] = "<NULL>";
constexpr char ELLIPSIS_UTF8[] = "\xe2\x80\xa6";  // U+2026, ends a value cut to the window
constexpr char ELLIPSIS_OTHER[] = "~";            // the same in other character sets
constexpr int WINDOW_MARGIN = 4;                  // a one-column line's bars and blanks beside its value
constexpr int MIN_CUT_WIDTH = 10;                 // a column is narrowed to fit the window down to this, no further

// The rows read before the widths are fixed, with every value whole, one after another in one buffer.
struct HeldRows {
  std::string bytes;            // the values' bytes, row after row, column after column
  std::vector<SQLLEN> lengths;  // each value's length in bytes, or SQL_NULL_DATA; one a column, row after row
  size_t cRows = 0;             // rows held
  bool fEnd = false;            // the result ended within them
  bool fFailed = false;         // a fetch or a read failed within them (reported)
  bool fStopped = false;        // Ctrl-C came while they were read
};

// One column of the fitted table.
struct FittedColumn {
  int cchWidth = 0;     // its width: the widest held value or the title, at most the window allows
  int cchLimit = 0;     // at a terminal the widest a value of it shows, cut beyond; 0: no limit
  bool fText = false;   // left-aligned; any other type right-aligned
  const ResultColumn* lpResult = nullptr;  // the column described: its name is the title
};

// The fitted table of one result set, and where its page stands.
struct FittedTable {
  std::vector<FittedColumn> columns;  // in result order
  int cchLineWidth = 1;               // a line with every column at its width: widths plus COLUMN_EXTRA each, plus 1
  int cRowsOnPage = 0;                // rows written since the header
  const ListingStyle& style;          // paging, highlight and the console written to
  std::string szScratch;              // a cell too long for the output buffer, rendered here first
};

// Writes one cell: `text` in the column's width, or wider when it holds more (its own line is wider), or
// cut to the limit and ended by the ellipsis when it is wider than the window allows.
void WriteFittedCell(FittedTable& table, const FittedColumn& column, const char* text, size_t len, bool alignLeft) {
  const TextCharset& charset = table.style.lpConsole->charset;
  int width = column.cchWidth;
  bool fCut = false;
  // A text of no more bytes than the width takes no more columns: only a longer one is measured.
  if (len > static_cast<size_t>(width)) {
    int columns = TextColumns(charset, text, len);
    if (column.cchLimit > 0 && columns > column.cchLimit) {
      width = column.cchLimit;
      fCut = true;
    } else if (columns > width) {
      width = columns;
    }
  }
  const char* ellipsis = charset.utf8 ? ELLIPSIS_UTF8 : ELLIPSIS_OTHER;
  const size_t cbEllipsis = strlen(ellipsis);
  // What RenderCell writes is at most the text's bytes and the padding.
  const size_t bound = charset.columnBarLen + 2 + len + static_cast<size_t>(width) + cbEllipsis;
  char* out;
  if (bound <= OUT_RESERVE_MAX) {
    out = OutReserve(bound);
  } else {
    table.szScratch.resize(bound);
    out = &table.szScratch[0];
  }
  char* start = out;
  if (fCut) {
    out = PutCell(charset, out, text, len, INT_MAX, width - 1, true);
    // PutCell closed the cell with a blank: the ellipsis takes its place, and the blank comes after.
    --out;
    memcpy(out, ellipsis, cbEllipsis);
    out += cbEllipsis;
    *out++ = ' ';
  } else {
    out = PutCell(charset, out, text, len, INT_MAX, width, alignLeft);
  }
  if (bound <= OUT_RESERVE_MAX) {
    OutCommit(out);
  } else {
    OutWrite(start, static_cast<size_t>(out - start));
  }
}

// Writes the bar that closes a line, right after the last cell's blank: a fitted line has no other padding.
void WriteFittedBar(const FittedTable& table) {
  const TextCharset& charset = table.style.lpConsole->charset;
  OutWrite(charset.columnBar, charset.columnBarLen);
}

// Writes the line's end and its newline.
void WriteFittedLineEnd(const FittedTable& table) {
  WriteFittedBar(table);
  OutWrite("\n", 1);
}

// Writes the cell of one value of column iCol: `length` bytes at value, or SQL_NULL_DATA.
void WriteFittedValue(FittedTable& table, size_t iCol, SQLLEN length, const char* value) {
  const FittedColumn& column = table.columns[iCol];
  if (length == SQL_NULL_DATA) {
    WriteFittedCell(table, column, NULL_MARKER, sizeof NULL_MARKER - 1, true);
  } else {
    WriteFittedCell(table, column, value, static_cast<size_t>(length), column.fText);
  }
}

// Writes the highlighted header line: each title in its column's width.
void WriteFittedTitles(FittedTable& table) {
  if (table.style.fHighlight) HighlightConsole(table.cchLineWidth, true);
  for (const FittedColumn& column : table.columns) {
    // A title that could not be read was reported then; the header line ends at it.
    if (!column.lpResult->fNameRead) break;
    const std::string& title = column.lpResult->szName;
    WriteFittedCell(table, column, title.data(), title.size(), true);
  }
  WriteFittedBar(table);
  if (table.style.fHighlight) HighlightConsole(table.cchLineWidth, false);
  OutWrite("\n", 1);
}

// Reads up to HELD_ROWS rows into *held, every value whole, and widens each column to its widest value.
void HoldFirstRows(ResultSet& set, FittedTable& table, HeldRows* held) {
  const TextCharset& charset = table.style.lpConsole->charset;
  while (held->cRows < HELD_ROWS) {
    RowFetch fetched = FetchNextRow(set, "RetCode = SQLFetch(lpStmt)");
    if (fetched == RowFetch::Failed) {
      held->fFailed = true;
      return;
    }
    if (ListingStopRequested(table.style)) {
      held->fStopped = true;
      return;
    }
    if (fetched == RowFetch::End) {
      held->fEnd = true;
      return;
    }
    for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
      const char* value = nullptr;
      SQLLEN length = WholeValue(set, iCol, &value);
      if (length == -2) {
        held->fFailed = true;
        held->lengths.resize(held->cRows * set.columns.size());
        return;
      }
      held->lengths.push_back(length);
      int columns = static_cast<int>(sizeof NULL_MARKER - 1);
      if (length != SQL_NULL_DATA) {
        held->bytes.append(value, static_cast<size_t>(length));
        columns = TextColumns(charset, value, static_cast<size_t>(length));
      }
      if (columns > table.columns[iCol].cchWidth) table.columns[iCol].cchWidth = columns;
    }
    ++held->cRows;
  }
}

// At a terminal of cchWindow columns (0: none), narrows the widest columns until a line fits the window or
// none is wider than MIN_CUT_WIDTH, and sets how wide each column's values may show: a later value may
// widen its own line up to the window, and a value beyond that is cut.
void FitToWindow(FittedTable& table, int cchWindow) {
  if (cchWindow <= 0 || table.columns.empty()) return;
  const int cchAlone = cchWindow - WINDOW_MARGIN > 1 ? cchWindow - WINDOW_MARGIN : 1;
  std::vector<bool> narrowed(table.columns.size(), false);
  for (size_t iCol = 0; iCol < table.columns.size(); ++iCol) {
    FittedColumn& column = table.columns[iCol];
    if (column.cchWidth <= cchAlone) continue;
    table.cchLineWidth -= column.cchWidth - cchAlone;
    column.cchWidth = cchAlone;
    narrowed[iCol] = true;
  }
  // One column at a time, the widest first, by one column: a line as wide as the window at the end.
  while (table.cchLineWidth > cchWindow) {
    size_t iWidest = 0;
    for (size_t iCol = 1; iCol < table.columns.size(); ++iCol) {
      if (table.columns[iCol].cchWidth > table.columns[iWidest].cchWidth) iWidest = iCol;
    }
    if (table.columns[iWidest].cchWidth <= MIN_CUT_WIDTH) break;
    --table.columns[iWidest].cchWidth;
    --table.cchLineWidth;
    narrowed[iWidest] = true;
  }
  const bool fFits = table.cchLineWidth <= cchWindow;
  for (size_t iCol = 0; iCol < table.columns.size(); ++iCol) {
    FittedColumn& column = table.columns[iCol];
    int room = fFits ? cchWindow - (table.cchLineWidth - column.cchWidth) : cchAlone;
    column.cchLimit = narrowed[iCol] || room < column.cchWidth ? column.cchWidth : room;
  }
}

// Pauses first when the page is full, and writes the header again after the pause. Returns false when
// the listing stops.
bool MakeRoomForRow(FittedTable& table) {
  const ListingStyle& style = table.style;
  if (!style.fPaging || table.cRowsOnPage++ < RowsPerPage(style.lpConsole->window, table.cchLineWidth)) return true;
  if (!PauseListing(table.cchLineWidth, style)) return false;
  ReadWindowSize(&style.lpConsole->window);
  WriteFittedTitles(table);
  table.cRowsOnPage = 1;
  return true;
}

}  // namespace

bool ListFitted(ResultSet& set, const ListingStyle& style) {
  const TextCharset& charset = style.lpConsole->charset;
  FittedTable table{{}, 1, 0, style, {}};
  bool fSucceeded = BindResultColumns(set, BindPurpose::Export, charset.utf8);
  for (const ResultColumn& result : set.columns) {
    FittedColumn column;
    column.fText = result.fText;
    column.lpResult = &result;
    if (result.fNameRead) column.cchWidth = TextColumns(charset, result.szName.data(), result.szName.size());
    table.columns.push_back(column);
  }
  HeldRows held;
  if (fSucceeded) HoldFirstRows(set, table, &held);
  for (FittedColumn& column : table.columns) table.cchLineWidth += column.cchWidth + COLUMN_EXTRA;
  FitToWindow(table, ReadWindowSize(&style.lpConsole->window));
  if (held.fStopped) {
    // The terminal showed ^C where the cursor stood: the next prompt starts on a line of its own.
    if (StdinIsTerminal() && StdoutIsTerminal()) OutWrite("\n", 1);
    return fSucceeded && set.fComplete;
  }
  if (style.szHeading != nullptr && held.cRows == 0 && held.fEnd && !held.fFailed) return fSucceeded && set.fComplete;
  WriteListingHeading(style);
  WriteFittedTitles(table);
  const size_t cCols = table.columns.size();
  size_t iHeld = 0;
  size_t offHeld = 0;
  for (;;) {
    // Nobody sees a listing whose output fails: stop fetching it. The statement itself has run.
    if (StdoutState() != OutputState::Working) break;
    if (!MakeRoomForRow(table)) break;
    if (iHeld < held.cRows) {
      const SQLLEN* lengths = &held.lengths[iHeld * cCols];
      for (size_t iCol = 0; iCol < cCols; ++iCol) {
        WriteFittedValue(table, iCol, lengths[iCol], held.bytes.data() + offHeld);
        if (lengths[iCol] != SQL_NULL_DATA) offHeld += static_cast<size_t>(lengths[iCol]);
      }
      WriteFittedLineEnd(table);
      ++iHeld;
      continue;
    }
    if (held.fFailed) return false;
    if (held.fEnd) {
      WriteEndBar(table.cchLineWidth, style.fHighlight);
      break;
    }
    RowFetch fetched = FetchNextRow(set, "RetCode = SQLFetch(lpStmt)");
    if (fetched == RowFetch::Failed) return false;
    // Ctrl-C stops the listing as Q does: the fetched row is dropped and the session closes the cursor.
    if (ListingStopRequested(style)) {
      if (StdinIsTerminal() && StdoutIsTerminal()) OutWrite("\n", 1);
      break;
    }
    if (fetched == RowFetch::End) {
      WriteEndBar(table.cchLineWidth, style.fHighlight);
      break;
    }
    // Each value is written as it is read: a long one is read into a buffer that the next reuses.
    for (size_t iCol = 0; iCol < cCols; ++iCol) {
      const char* value = nullptr;
      SQLLEN length = WholeValue(set, iCol, &value);
      if (length == -2) return false;
      WriteFittedValue(table, iCol, length, value);
    }
    WriteFittedLineEnd(table);
  }
  return fSucceeded && set.fComplete;
}

bool ListTextRows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
                  const ListingStyle& style) {
  if (!IsTableFormat(style.format)) return ListDelimitedTextRows(titles, rows, style);
  const TextCharset& charset = style.lpConsole->charset;
  std::vector<ResultColumn> described(titles.size());
  FittedTable table{{}, 1, 0, style, {}};
  for (size_t iCol = 0; iCol < titles.size(); ++iCol) {
    described[iCol].szName = titles[iCol];
    described[iCol].fNameRead = true;
    described[iCol].fText = true;
    FittedColumn column;
    column.fText = true;
    column.lpResult = &described[iCol];
    column.cchWidth = TextColumns(charset, titles[iCol].data(), titles[iCol].size());
    for (const std::vector<std::string>& row : rows) {
      column.cchWidth = std::max(column.cchWidth, TextColumns(charset, row[iCol].data(), row[iCol].size()));
    }
    table.columns.push_back(column);
  }
  for (FittedColumn& column : table.columns) table.cchLineWidth += column.cchWidth + COLUMN_EXTRA;
  FitToWindow(table, ReadWindowSize(&style.lpConsole->window));
  if (style.szHeading != nullptr && rows.empty()) return true;
  WriteListingHeading(style);
  WriteFittedTitles(table);
  for (const std::vector<std::string>& row : rows) {
    if (StdoutState() != OutputState::Working || !MakeRoomForRow(table)) return true;
    for (size_t iCol = 0; iCol < table.columns.size(); ++iCol) {
      WriteFittedValue(table, iCol, static_cast<SQLLEN>(row[iCol].size()), row[iCol].data());
    }
    WriteFittedLineEnd(table);
  }
  WriteEndBar(table.cchLineWidth, style.fHighlight);
  return true;
}
