// The result table: header, rows, end bar and the pause after every screenful.
#include "display/result_table.h"

#include <cstring>
#include <string>
#include <vector>

#include "display/cell_text.h"
#include "display/output.h"
#include "display/terminal.h"
#include "session/interrupt.h"

namespace {

constexpr char NULL_MARKER[] = "<NULL>";
constexpr char PAGE_PROMPT_INDENT[] = "              ";
constexpr char PAGE_PROMPT[] = "   Press ENTER to continue, Q to quit";

// Bytes that one cell of a table line may take: the bar, two blanks and the rendered text.
size_t CellLineBytes(int maxChars, int width) { return gCharset.columnBarLen + 2 + CellBytesBound(maxChars, width); }

// Writes the column bar at out; returns the end of what was written.
char* PutBar(char* out) {
  memcpy(out, gCharset.columnBar, gCharset.columnBarLen);
  return out + gCharset.columnBarLen;
}

// Writes one cell of a table line at out: the bar, a blank, the text in exactly `width` columns, a blank.
// Returns the end of what was written.
char* PutCell(char* out, const char* text, size_t len, int maxChars, int width, bool alignLeft) {
  out = PutBar(out);
  *out++ = ' ';
  out = RenderCell(out, text, len, maxChars, width, alignLeft);
  *out++ = ' ';
  return out;
}

// Writes one cell of a table line to standard output.
void WriteCell(const char* text, size_t len, int maxChars, int width, bool alignLeft) {
  char* out = OutReserve(CellLineBytes(maxChars, width));
  OutCommit(PutCell(out, text, len, maxChars, width, alignLeft));
}

// Writes at out what closes every table line but the newline: a blank and the bar. Returns the end.
char* PutLineEnd(char* out) {
  *out++ = ' ';
  return PutBar(out);
}

// Writes the close of a table line, but the newline, to standard output.
void WriteLineEnd() { OutCommit(PutLineEnd(OutReserve(gCharset.columnBarLen + 1))); }

// One column of the table: how wide it is, what of a value it shows, and its title.
struct TableColumn {
  int cchWidth;          // the column's width on screen, in display columns
  int cchValueChars;     // the most characters of a value shown: a cut applies to text only
  bool fText;            // text: left-aligned and cut; anything else right-aligned and never cut
  bool fTitleRead;       // the title is known; a header ends at the first column whose name could not be read
  std::string szTitle;   // the column's name, cut to MAX_TITLE_CHARS characters
};

// The table of one result set: its columns and line widths.
struct Table {
  std::vector<TableColumn> columns;  // in result order
  int cchTotalWidth = 0;             // the sum of widths plus COLUMN_EXTRA each; a line is 2 more
  size_t cbRowBound = 0;             // the most bytes one row line can take
  bool fHighlight = true;            // highlight header, end bar and pause prompt
};

// Works out a column's width from its display size (at most MAX_COLUMN_CHARS) and the columns of its whole
// name, at least MIN_COLUMN_WIDTH; the title is the name cut to MAX_TITLE_CHARS characters.
TableColumn LayOutColumn(const ResultColumn& column) {
  TableColumn shown{};
  shown.fText = column.fText;
  int cchDisplay = column.cchDisplay > MAX_COLUMN_CHARS || column.cchDisplay < 0 ? MAX_COLUMN_CHARS
                                                                                    : static_cast<int>(column.cchDisplay);
  shown.cchValueChars = column.fText ? cchDisplay : MAX_COLUMN_CHARS;
  int cchName = gCharset.utf8 ? -1 : 0;  // a name that could not be read leaves the display size
  if (column.fNameRead) {
    shown.fTitleRead = true;
    shown.szTitle = column.szName.substr(0, TextPrefixBytes(column.szName.data(), column.szName.size(), MAX_TITLE_CHARS));
    cchName = gCharset.utf8 ? TextColumns(column.szName.data(), column.szName.size()) : static_cast<int>(column.szName.size());
  }
  int width = cchDisplay > cchName ? cchDisplay : cchName;
  shown.cchWidth = width < MIN_COLUMN_WIDTH ? MIN_COLUMN_WIDTH : width;
  return shown;
}

// Bytes that the cell of one column's value, or of its NULL marker, may take. A value that is not text may
// widen its cell to all of its characters, each up to two columns wide.
size_t RowCellBytes(const TableColumn& column) {
  int maxChars = column.cchValueChars > MIN_COLUMN_WIDTH ? column.cchValueChars : MIN_COLUMN_WIDTH;
  int width = column.cchWidth;
  if (!column.fText && width < 2 * maxChars) width = 2 * maxChars;
  return CellLineBytes(maxChars, width);
}

// Writes the cell of the current row's value of column iCol at out; returns the end of what was written.
char* PutRowCell(char* out, ResultSet& set, const Table& table, size_t iCol) {
  const TableColumn& column = table.columns[iCol];
  SQLLEN indicator;
  const char* value = BoundValue(set, iCol, &indicator);
  if (indicator == SQL_NULL_DATA) {
    return PutCell(out, NULL_MARKER, sizeof NULL_MARKER - 1, MIN_COLUMN_WIDTH, column.cchWidth, true);
  }
  // The indicator gives the length of a value that fit; a cut value fills the buffer up to its NUL.
  size_t len = BoundValueIsWhole(set.columns[iCol], indicator)
                   ? static_cast<size_t>(indicator)
                   : strnlen(value, static_cast<size_t>(set.columns[iCol].cbBuffer - 1));
  if (column.fText) return PutCell(out, value, len, column.cchValueChars, column.cchWidth, true);
  // A number, date or other value wider than its column is shown whole: that line is wider, not wrong.
  int width = column.cchWidth;
  if (len > static_cast<size_t>(width)) {
    int columns = TextColumns(value, TextPrefixBytes(value, len, column.cchValueChars));
    if (columns > width) width = columns;
  }
  return PutCell(out, value, len, column.cchValueChars, width, false);
}

// Writes the current row from the bound buffers.
void WriteRow(ResultSet& set, const Table& table) {
  if (table.cbRowBound <= OUT_RESERVE_MAX) {
    char* out = OutReserve(table.cbRowBound);
    for (size_t iCol = 0; iCol < table.columns.size(); ++iCol) out = PutRowCell(out, set, table, iCol);
    out = PutLineEnd(out);
    *out++ = '\n';
    OutCommit(out);
    return;
  }
  for (size_t iCol = 0; iCol < table.columns.size(); ++iCol) {
    OutCommit(PutRowCell(OutReserve(RowCellBytes(table.columns[iCol])), set, table, iCol));
  }
  WriteLineEnd();
  OutWrite("\n", 1);
}

// Writes `count` blanks.
void WriteBlanks(int count) {
  while (count > 0) {
    int chunk = count < 4096 ? count : 4096;
    char* out = OutReserve(static_cast<size_t>(chunk));
    memset(out, ' ', static_cast<size_t>(chunk));
    OutCommit(out + chunk);
    count -= chunk;
  }
}

// The paging prompt's look, for writing it again after a stop.
struct PagePrompt {
  int lineWidth;    // the table line's width, for the highlight
  bool fHighlight;  // the prompt is highlighted
};

// Writes the paging prompt: indent, text and the page height, highlighted as the table is.
void ShowPagePrompt(void* context) {
  const PagePrompt* prompt = static_cast<const PagePrompt*>(context);
  OutText(PAGE_PROMPT_INDENT);
  if (prompt->fHighlight) HighlightConsole(prompt->lineWidth, true);
  OutText(PAGE_PROMPT);
  OutText(std::to_string(gScreenRows).c_str());
  if (prompt->fHighlight) HighlightConsole(prompt->lineWidth, false);
  OutFlush();
}

}  // namespace

// An empty reply, any other reply and the end of piped input go on.
bool PauseListing(int lineWidth, const ListingStyle& style) {
  PagePrompt prompt = {lineWidth, style.fHighlight};
  ShowPagePrompt(&prompt);
  // Stopped at the pause and continued: the prompt shows again rather than a blank screen.
  if (style.ReadReply != nullptr && StdinIsTerminal()) WaitForTerminalLine(ShowPagePrompt, &prompt);
  std::string szReply;
  switch (style.ReadReply != nullptr ? style.ReadReply(szReply) : InputResult::End) {
    case InputResult::Line:
      return szReply.empty() || (szReply[0] != 'Q' && szReply[0] != 'q');
    case InputResult::End:
      return !StdinIsTerminal();  // Ctrl-D ends the session; a script's end lists the rest
    case InputResult::Interrupted:
      OutWrite("\n", 1);  // the cursor stood after the prompt
      return false;
  }
  return true;
}

namespace {

// Rows on one page. A line wider than the terminal wraps onto several screen lines, so fewer rows fit:
// the header and the prompt line stay on the screen. Elsewhere a page is gScreenRows - 2 rows.
int RowsPerPage(int lineWidth) {
  int screenLines = gScreenColumns > 0 ? (lineWidth + gScreenColumns - 1) / gScreenColumns : 1;
  if (screenLines <= 1) return gScreenRows - 2;
  int rows = (gScreenRows - 1 - screenLines) / screenLines;
  return rows > 1 ? rows : 1;
}

// Prints the highlighted header line: each column's title in its width.
void PrintColumnTitles(const Table& table) {
  if (table.fHighlight) HighlightConsole(table.cchTotalWidth + 2, true);
  for (const TableColumn& column : table.columns) {
    // A title that could not be read was reported then; the header line ends at it, as it did at the time.
    if (!column.fTitleRead) break;
    WriteCell(column.szTitle.data(), column.szTitle.size(), MAX_TITLE_CHARS, column.cchWidth, true);
  }
  WriteLineEnd();
  if (table.fHighlight) HighlightConsole(table.cchTotalWidth + 2, false);
  OutWrite("\n", 1);
}

// The end bar: the line's width of blanks, highlighted.
void PrintEndBar(const Table& table) {
  const int lineWidth = table.cchTotalWidth + 2;
  if (table.fHighlight) HighlightConsole(lineWidth, true);
  WriteBlanks(lineWidth);
  if (table.fHighlight) HighlightConsole(lineWidth, false);
  OutWrite("\n", 1);
}

// Lists the described result set as a table that pauses after every screenful when the style says so.
bool ListTable(ResultSet& set, const ListingStyle& style) {
  Table table;
  table.fHighlight = style.fHighlight;
  bool fSucceeded = BindResultColumns(set, BindPurpose::Table, gCharset.utf8);
  table.cbRowBound = gCharset.columnBarLen + 2;
  for (const ResultColumn& column : set.columns) {
    table.columns.push_back(LayOutColumn(column));
    table.cchTotalWidth += table.columns.back().cchWidth + COLUMN_EXTRA;
    table.cbRowBound += RowCellBytes(table.columns.back());
  }
  PrintColumnTitles(table);
  // A failed description or binding lists the columns it reached.
  int cRowsOnPage = 0;
  for (;;) {
    // Nobody sees a listing whose output fails: stop fetching it. The statement itself has run.
    if (StdoutState() != OutputState::Working) break;
    // A page holds gScreenRows - 2 rows: with the header and the prompt line it fills the window.
    if (style.fPaging && cRowsOnPage++ >= RowsPerPage(table.cchTotalWidth + 2)) {
      if (!PauseListing(table.cchTotalWidth + 2, style)) break;
      PrintColumnTitles(table);
      cRowsOnPage = 1;
    }
    RowFetch fetched = FetchNextRow(set, "RetCode = SQLFetch(lpStmt)");
    if (fetched == RowFetch::Failed) return false;
    // Ctrl-C stops the listing as Q does: the fetched row is dropped and the session closes the cursor. The
    // terminal showed ^C where the cursor stood: the next prompt starts on a line of its own.
    if (InterruptRequested()) {
      if (StdinIsTerminal() && StdoutIsTerminal()) OutWrite("\n", 1);
      break;
    }
    if (fetched == RowFetch::End) {
      PrintEndBar(table);
      break;
    }
    WriteRow(set, table);
  }
  return fSucceeded && set.fComplete;
}

}  // namespace

bool ShowResultSet(SQLHSTMT& lpStmt, SQLSMALLINT cCols, const ListingStyle& style, const std::vector<ChosenColumn>* chosen) {
  ResultSet set(lpStmt);
  set.fGetDataOnBound = style.fGetDataOnBound;
  set.fSizesHold = style.fSizesHold;
  set.fBinaryNumbers = style.fBinaryNumbers;
  bool fDescribed = DescribeResultColumns(set, cCols, chosen);
  if (style.format == ListingFormat::Table) {
    bool fExpanded = style.expanded == ExpandedDisplay::On;
    int cchWindow = style.expanded == ExpandedDisplay::Auto ? ReadWindowSize() : 0;
    if (cchWindow > 0) {
      int lineWidth = 2;
      for (const ResultColumn& column : set.columns) lineWidth += LayOutColumn(column).cchWidth + COLUMN_EXTRA;
      fExpanded = lineWidth > cchWindow;
    }
    if (fExpanded) return ListExpanded(set, style) && fDescribed;
    return ListTable(set, style) && fDescribed;
  }
  return fDescribed && ListDelimited(set, style);
}
