// The result table: header, rows, end bar and the pause after every screenful.
#include "display/result_table.h"

#include <cstring>
#include <string>
#include <vector>

#include "display/cell_text.h"
#include "display/console.h"
#include "display/output.h"
#include "display/terminal.h"

namespace {

constexpr char NULL_MARKER[] = "<NULL>";
constexpr char PAGE_PROMPT_INDENT[] = "              ";
constexpr char PAGE_PROMPT[] = "   Press ENTER to continue, Q to quit";

// Bytes that one cell of a table line may take: the bar, two blanks and the rendered text.
size_t CellLineBytes(const TextCharset& charset, int maxChars, int width) {
  return charset.columnBarLen + 2 + CellBytesBound(maxChars, width);
}

// Writes the column bar at out; returns the end of what was written.
char* PutBar(const TextCharset& charset, char* out) {
  memcpy(out, charset.columnBar, charset.columnBarLen);
  return out + charset.columnBarLen;
}

}  // namespace

char* PutCell(const TextCharset& charset, char* out, const char* text, size_t len, int maxChars, int width,
              bool alignLeft) {
  out = PutBar(charset, out);
  *out++ = ' ';
  out = RenderCell(charset, out, text, len, maxChars, width, alignLeft);
  *out++ = ' ';
  return out;
}

namespace {

// Writes one cell of a table line to standard output.
void WriteCell(const TextCharset& charset, const char* text, size_t len, int maxChars, int width, bool alignLeft) {
  char* out = OutReserve(CellLineBytes(charset, maxChars, width));
  OutCommit(PutCell(charset, out, text, len, maxChars, width, alignLeft));
}

// Writes at out what closes every table line but the newline: a blank and the bar. Returns the end.
char* PutLineEnd(const TextCharset& charset, char* out) {
  *out++ = ' ';
  return PutBar(charset, out);
}

// Writes the close of a table line, but the newline, to standard output.
void WriteLineEnd(const TextCharset& charset) { OutCommit(PutLineEnd(charset, OutReserve(charset.columnBarLen + 1))); }

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
  Console* lpConsole = nullptr;      // the terminal: its character set, and its window read when paging
};

// Works out a column's width from its display size (at most MAX_COLUMN_CHARS) and the columns of its whole
// name, at least MIN_COLUMN_WIDTH; the title is the name cut to MAX_TITLE_CHARS characters.
TableColumn LayOutColumn(const TextCharset& charset, const ResultColumn& column) {
  TableColumn shown{};
  shown.fText = column.fText;
  int cchDisplay = column.cchDisplay > MAX_COLUMN_CHARS || column.cchDisplay < 0 ? MAX_COLUMN_CHARS
                                                                                    : static_cast<int>(column.cchDisplay);
  shown.cchValueChars = column.fText ? cchDisplay : MAX_COLUMN_CHARS;
  int cchName = charset.utf8 ? -1 : 0;  // a name that could not be read leaves the display size
  if (column.fNameRead) {
    shown.fTitleRead = true;
    shown.szTitle =
        column.szName.substr(0, TextPrefixBytes(charset, column.szName.data(), column.szName.size(), MAX_TITLE_CHARS));
    cchName = charset.utf8 ? TextColumns(charset, column.szName.data(), column.szName.size())
                           : static_cast<int>(column.szName.size());
  }
  int width = cchDisplay > cchName ? cchDisplay : cchName;
  shown.cchWidth = width < MIN_COLUMN_WIDTH ? MIN_COLUMN_WIDTH : width;
  return shown;
}

// Bytes that the cell of one column's value, or of its NULL marker, may take. A value that is not text may
// widen its cell to all of its characters, each up to two columns wide.
size_t RowCellBytes(const TextCharset& charset, const TableColumn& column) {
  int maxChars = column.cchValueChars > MIN_COLUMN_WIDTH ? column.cchValueChars : MIN_COLUMN_WIDTH;
  int width = column.cchWidth;
  if (!column.fText && width < 2 * maxChars) width = 2 * maxChars;
  return CellLineBytes(charset, maxChars, width);
}

// Writes the cell of the current row's value of column iCol at out; returns the end of what was written.
char* PutRowCell(char* out, ResultSet& set, const Table& table, size_t iCol) {
  const TableColumn& column = table.columns[iCol];
  const TextCharset& charset = table.lpConsole->charset;
  SQLLEN indicator;
  const char* value = BoundValue(set, iCol, &indicator);
  if (indicator == SQL_NULL_DATA) {
    return PutCell(charset, out, NULL_MARKER, sizeof NULL_MARKER - 1, MIN_COLUMN_WIDTH, column.cchWidth, true);
  }
  // The indicator gives the length of a value that fit; a cut value fills the buffer up to its NUL.
  size_t len = BoundValueIsWhole(set.columns[iCol], indicator)
                   ? static_cast<size_t>(indicator)
                   : strnlen(value, static_cast<size_t>(set.columns[iCol].cbBuffer - 1));
  if (column.fText) return PutCell(charset, out, value, len, column.cchValueChars, column.cchWidth, true);
  // A number, date or other value wider than its column is shown whole: that line is wider, not wrong.
  int width = column.cchWidth;
  if (len > static_cast<size_t>(width)) {
    int columns = TextColumns(charset, value, TextPrefixBytes(charset, value, len, column.cchValueChars));
    if (columns > width) width = columns;
  }
  return PutCell(charset, out, value, len, column.cchValueChars, width, false);
}

// Writes the current row from the bound buffers.
void WriteRow(ResultSet& set, const Table& table) {
  if (table.cbRowBound <= OUT_RESERVE_MAX) {
    char* out = OutReserve(table.cbRowBound);
    for (size_t iCol = 0; iCol < table.columns.size(); ++iCol) out = PutRowCell(out, set, table, iCol);
    out = PutLineEnd(table.lpConsole->charset, out);
    *out++ = '\n';
    OutCommit(out);
    return;
  }
  for (size_t iCol = 0; iCol < table.columns.size(); ++iCol) {
    OutCommit(PutRowCell(OutReserve(RowCellBytes(table.lpConsole->charset, table.columns[iCol])), set, table, iCol));
  }
  WriteLineEnd(table.lpConsole->charset);
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

}  // namespace

void WriteEndBar(int lineWidth, bool fHighlight) {
  if (fHighlight) HighlightConsole(lineWidth, true);
  WriteBlanks(lineWidth);
  if (fHighlight) HighlightConsole(lineWidth, false);
  OutWrite("\n", 1);
}

void WriteListingHeading(const ListingStyle& style) {
  if (style.szHeading == nullptr || style.szHeading[0] == '\0' || !IsTableFormat(style.format)) return;
  std::string line;
  AppendSafeText(style.lpConsole->charset, line, style.szHeading, strlen(style.szHeading));
  line += '\n';
  OutText(line.c_str());
}

namespace {

// The paging prompt's look, for writing it again after a stop.
struct PagePrompt {
  int lineWidth;               // the table line's width, for the highlight
  const ListingStyle* lpStyle;  // highlight, and the console whose window height it shows
};

// Writes the paging prompt: 14 blanks, then highlighted the prompt text and the window's height.
void ShowPagePrompt(void* context) {
  const PagePrompt* prompt = static_cast<const PagePrompt*>(context);
  const bool fHighlight = prompt->lpStyle->fHighlight;
  OutText(PAGE_PROMPT_INDENT);
  if (fHighlight) HighlightConsole(prompt->lineWidth, true);
  OutText(PAGE_PROMPT);
  OutText(std::to_string(prompt->lpStyle->lpConsole->window.rows).c_str());
  if (fHighlight) HighlightConsole(prompt->lineWidth, false);
  OutFlush();
}

}  // namespace

// An empty reply, any other reply and the end of piped input go on.
bool PauseListing(int lineWidth, const ListingStyle& style) {
  // The number shown is the window's height as read now.
  ReadWindowSize(&style.lpConsole->window);
  PagePrompt prompt = {lineWidth, &style};
  ShowPagePrompt(&prompt);
  // Stopped at the pause and continued: the prompt shows again rather than a blank screen.
  const Pager& pager = style.pager;
  if (pager.WaitForReply != nullptr) pager.WaitForReply(pager.context, ShowPagePrompt, &prompt);
  std::string szReply;
  switch (pager.ReadReply != nullptr ? pager.ReadReply(pager.context, szReply) : InputResult::End) {
    case InputResult::Line:
      return szReply.empty() || (szReply[0] != 'Q' && szReply[0] != 'q');
    case InputResult::End:
      return !pager.fEndStops;  // Ctrl-D ends the session; a script's end lists the rest
    case InputResult::Interrupted:
      OutWrite("\n", 1);  // the cursor stood after the prompt
      return false;
  }
  return true;
}

int RowsPerPage(const WindowSize& window, int lineWidth) {
  int screenLines = window.columns > 0 ? (lineWidth + window.columns - 1) / window.columns : 1;
  if (screenLines <= 1) return window.rows - 2;
  int rows = (window.rows - 1 - screenLines) / screenLines;
  return rows > 1 ? rows : 1;
}

namespace {

// Prints the highlighted header line: each column's title in its width.
void PrintColumnTitles(const Table& table) {
  const TextCharset& charset = table.lpConsole->charset;
  if (table.fHighlight) HighlightConsole(table.cchTotalWidth + 2, true);
  for (const TableColumn& column : table.columns) {
    // A title that could not be read was reported then; the header line ends at it, as it did at the time.
    if (!column.fTitleRead) break;
    WriteCell(charset, column.szTitle.data(), column.szTitle.size(), MAX_TITLE_CHARS, column.cchWidth, true);
  }
  WriteLineEnd(charset);
  if (table.fHighlight) HighlightConsole(table.cchTotalWidth + 2, false);
  OutWrite("\n", 1);
}

// The end bar: the line's width of blanks, highlighted.
void PrintEndBar(const Table& table) { WriteEndBar(table.cchTotalWidth + 2, table.fHighlight); }

// Lists the described result set as a table that pauses after every screenful when the style says so.
bool ListTable(ResultSet& set, const ListingStyle& style) {
  Table table;
  table.fHighlight = style.fHighlight;
  table.lpConsole = style.lpConsole;
  const TextCharset& charset = style.lpConsole->charset;
  bool fSucceeded = BindResultColumns(set, BindPurpose::Table, charset.utf8);
  table.cbRowBound = charset.columnBarLen + 2;
  for (const ResultColumn& column : set.columns) {
    table.columns.push_back(LayOutColumn(charset, column));
    table.cchTotalWidth += table.columns.back().cchWidth + COLUMN_EXTRA;
    table.cbRowBound += RowCellBytes(charset, table.columns.back());
  }
  // The pager reads the window when it starts a page.
  if (style.fPaging) ReadWindowSize(&style.lpConsole->window);
  PrintColumnTitles(table);
  // A failed description or binding lists the columns it reached.
  int cRowsOnPage = 0;
  for (;;) {
    // Nobody sees a listing whose output fails: stop fetching it. The statement itself has run.
    if (StdoutState() != OutputState::Working) break;
    // A page holds the window's rows - 2: with the header and the prompt line it fills the window.
    if (style.fPaging && cRowsOnPage++ >= RowsPerPage(style.lpConsole->window, table.cchTotalWidth + 2)) {
      if (!PauseListing(table.cchTotalWidth + 2, style)) break;
      ReadWindowSize(&style.lpConsole->window);
      PrintColumnTitles(table);
      cRowsOnPage = 1;
    }
    RowFetch fetched = FetchNextRow(set, "RetCode = SQLFetch(lpStmt)");
    if (fetched == RowFetch::Failed) return false;
    // Ctrl-C stops the listing as Q does: the fetched row is dropped and the session closes the cursor. The
    // terminal showed ^C where the cursor stood: the next prompt starts on a line of its own.
    if (ListingStopRequested(style)) {
      if (style.pager.fNewLineAfterStop) OutWrite("\n", 1);
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

bool ShowResultSet(ResultSet& set, SQLSMALLINT cCols, const ListingStyle& style, const std::vector<ChosenColumn>* chosen) {
  bool fDescribed = DescribeResultColumns(set, cCols, chosen);
  if (style.format == ListingFormat::Table) {
    bool fExpanded = style.expanded == ExpandedDisplay::On;
    int cchWindow = style.expanded == ExpandedDisplay::Auto ? ReadWindowSize(&style.lpConsole->window) : 0;
    if (cchWindow > 0) {
      int lineWidth = 2;
      for (const ResultColumn& column : set.columns) {
        lineWidth += LayOutColumn(style.lpConsole->charset, column).cchWidth + COLUMN_EXTRA;
      }
      fExpanded = lineWidth > cchWindow;
    }
    if (fExpanded) return ListExpanded(set, style) && fDescribed;
    return ListTable(set, style) && fDescribed;
  }
  if (style.format == ListingFormat::Fit) {
    if (style.expanded == ExpandedDisplay::On) return ListExpanded(set, style) && fDescribed;
    return ListFitted(set, style) && fDescribed;
  }
  if (style.format == ListingFormat::Json) return fDescribed && ListJson(set, style);
  if (style.format == ListingFormat::Markdown) return fDescribed && ListMarkdown(set, style);
  return fDescribed && ListDelimited(set, style);
}
