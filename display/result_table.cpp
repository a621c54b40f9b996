// The result table: header, rows, end bar and the pause after every screenful.
#include "display/result_table.h"

#include <cstring>
#include <string>

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

// Bytes that the cell of one column's value, or of its NULL marker, may take. A value that is not text may
// widen its cell to all of its characters, each up to two columns wide.
size_t RowCellBytes(const ColumnBinding* lpBinding) {
  int maxChars = lpBinding->cchValueChars > MIN_COLUMN_WIDTH ? lpBinding->cchValueChars : MIN_COLUMN_WIDTH;
  int width = lpBinding->cchWidth;
  if (!lpBinding->fCharType && width < 2 * maxChars) width = 2 * maxChars;
  return CellLineBytes(maxChars, width);
}

// Writes the cell of the current row's value of one column at out; returns the end of what was written.
char* PutRowCell(char* out, const ColumnBinding* lpBinding) {
  if (lpBinding->indPtr == SQL_NULL_DATA) {
    return PutCell(out, NULL_MARKER, sizeof NULL_MARKER - 1, MIN_COLUMN_WIDTH, lpBinding->cchWidth, true);
  }
  const char* value = reinterpret_cast<const char*>(lpBinding->szBuffer);
  // The indicator gives the length of a value that fit; a cut value fills the buffer up to its NUL.
  size_t len = lpBinding->indPtr >= 0 && lpBinding->indPtr < lpBinding->cbBuffer
                   ? static_cast<size_t>(lpBinding->indPtr)
                   : strnlen(value, static_cast<size_t>(lpBinding->cbBuffer - 1));
  if (lpBinding->fCharType) return PutCell(out, value, len, lpBinding->cchValueChars, lpBinding->cchWidth, true);
  // A number, date or other value wider than its column is shown whole: that line is wider, not wrong.
  int width = lpBinding->cchWidth;
  if (len > static_cast<size_t>(width)) {
    int columns = TextColumns(value, TextPrefixBytes(value, len, lpBinding->cchValueChars));
    if (columns > width) width = columns;
  }
  return PutCell(out, value, len, lpBinding->cchValueChars, width, false);
}

// Writes the current row from the bound buffers; rowBytes bounds the whole line.
void WriteRow(const ColumnBinding* lpBindings, size_t rowBytes) {
  if (rowBytes <= OUT_RESERVE_MAX) {
    char* out = OutReserve(rowBytes);
    for (const ColumnBinding* lpBinding = lpBindings; lpBinding != nullptr; lpBinding = lpBinding->lpNext) {
      out = PutRowCell(out, lpBinding);
    }
    out = PutLineEnd(out);
    *out++ = '\n';
    OutCommit(out);
    return;
  }
  for (const ColumnBinding* lpBinding = lpBindings; lpBinding != nullptr; lpBinding = lpBinding->lpNext) {
    OutCommit(PutRowCell(OutReserve(RowCellBytes(lpBinding)), lpBinding));
  }
  WriteLineEnd();
  OutWrite("\n", 1);
}

// Bytes that one table row may take.
size_t RowLineBytes(const ColumnBinding* lpBindings) {
  size_t bytes = gCharset.columnBarLen + 2;
  for (const ColumnBinding* lpBinding = lpBindings; lpBinding != nullptr; lpBinding = lpBinding->lpNext) {
    bytes += RowCellBytes(lpBinding);
  }
  return bytes;
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

// Shows the paging prompt and reads the reply. Returns false when the listing stops: a reply that begins
// with Q or q, Ctrl-C, or end of input typed at a terminal. An empty reply, any other reply and the end of
// piped input go on.
// The paging prompt's look, for writing it again after a stop.
struct PagePrompt {
  int lineWidth;    // the table line's width, for the highlight
  bool fHighlight;  // the prompt is highlighted
};

void ShowPagePrompt(void* context) {
  const PagePrompt* prompt = static_cast<const PagePrompt*>(context);
  OutText(PAGE_PROMPT_INDENT);
  if (prompt->fHighlight) HighlightConsole(prompt->lineWidth, true);
  OutText(PAGE_PROMPT);
  OutText(std::to_string(gScreenRows).c_str());
  if (prompt->fHighlight) HighlightConsole(prompt->lineWidth, false);
  OutFlush();
}

bool PauseListing(int lineWidth, bool fHighlight) {
  PagePrompt prompt = {lineWidth, fHighlight};
  ShowPagePrompt(&prompt);
  // Stopped at the pause and continued: the prompt shows again rather than a blank screen.
  if (StdinIsTerminal()) WaitForTerminalLine(ShowPagePrompt, &prompt);
  std::string szReply;
  switch (ReadInputLine(szReply)) {
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

// Rows on one page. A line wider than the terminal wraps onto several screen lines, so fewer rows fit:
// the header and the prompt line stay on the screen. Elsewhere a page is gScreenRows - 2 rows.
int RowsPerPage(int lineWidth) {
  int screenLines = gScreenColumns > 0 ? (lineWidth + gScreenColumns - 1) / gScreenColumns : 1;
  if (screenLines <= 1) return gScreenRows - 2;
  int rows = (gScreenRows - 1 - screenLines) / screenLines;
  return rows > 1 ? rows : 1;
}

bool TableBegin(Listing* lpListing) {
  BindResultColumns(lpListing->lpStmt, lpListing->cCols, &lpListing->lpBindings, &lpListing->cchTotalWidth);
  lpListing->cbRowBound = RowLineBytes(lpListing->lpBindings);
  PrintColumnTitles(lpListing->lpStmt, lpListing->cchTotalWidth, lpListing->lpBindings, lpListing->lpStyle->fHighlight);
  return true;
}

bool TableRow(Listing* lpListing) {
  WriteRow(lpListing->lpBindings, lpListing->cbRowBound);
  return true;
}

// The end bar: the line's width of blanks, highlighted.
void TableEnd(Listing* lpListing) {
  const int lineWidth = lpListing->cchTotalWidth + 2;
  if (lpListing->lpStyle->fHighlight) HighlightConsole(lineWidth, true);
  WriteBlanks(lineWidth);
  if (lpListing->lpStyle->fHighlight) HighlightConsole(lineWidth, false);
  OutWrite("\n", 1);
}

void TableRelease(Listing* lpListing) { ReleaseColumnBindings(lpListing->lpStmt, &lpListing->lpBindings); }

const ListingFormatter TABLE_FORMATTER = {TableBegin, TableRow, TableEnd, TableRelease};

}  // namespace

void PrintColumnTitles(SQLHSTMT lpStmt, SQLSMALLINT cchTotalWidth, ColumnBinding* lpBindings, bool fHighlight) {
  (void)lpStmt;  // the titles were read with the bindings: nothing is asked of the driver between fetches
  if (fHighlight) HighlightConsole(cchTotalWidth + 2, true);
  for (ColumnBinding* lpBinding = lpBindings; lpBinding != nullptr; lpBinding = lpBinding->lpNext) {
    // A title that could not be read was reported then; the header line ends at it, as it did at the time.
    if (!lpBinding->fTitleRead) break;
    WriteCell(lpBinding->szTitle, strlen(lpBinding->szTitle), MAX_TITLE_CHARS, lpBinding->cchWidth, true);
  }
  WriteLineEnd();
  if (fHighlight) HighlightConsole(cchTotalWidth + 2, false);
  OutWrite("\n", 1);
}

bool ShowResultSet(SQLHSTMT lpStmt, SQLSMALLINT cCols, const ListingStyle& style) {
  const ListingFormatter& formatter = style.format == ListingFormat::Table ? TABLE_FORMATTER : DELIMITED_FORMATTER;
  Listing listing{lpStmt, &style, cCols, nullptr, 0, 0, false, false, {}, {}, {}};
  bool fSucceeded = formatter.Begin(&listing);
  int cRowsOnPage = 0;
  while (fSucceeded) {
    // Nobody sees a listing whose output fails: stop fetching it. The statement itself has run.
    if (StdoutState() != OutputState::Working) break;
    // A page holds gScreenRows - 2 rows: with the header and the prompt line it fills the window.
    if (style.fPaging && cRowsOnPage++ >= RowsPerPage(listing.cchTotalWidth + 2)) {
      if (!PauseListing(listing.cchTotalWidth + 2, style.fHighlight)) break;
      PrintColumnTitles(lpStmt, listing.cchTotalWidth, listing.lpBindings, style.fHighlight);
      cRowsOnPage = 1;
    }
    SQLRETURN RetCode = SQLFetch(lpStmt);
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)")) {
      fSucceeded = false;
      break;
    }
    // Ctrl-C stops the listing as Q does: the fetched row is dropped and the session closes the cursor. The
    // terminal showed ^C where the cursor stood: the next prompt starts on a line of its own.
    if (InterruptRequested()) {
      if (StdinIsTerminal() && StdoutIsTerminal()) OutWrite("\n", 1);
      break;
    }
    if (RetCode == SQL_NO_DATA) {
      formatter.End(&listing);
      break;
    }
    fSucceeded = formatter.Row(&listing);
  }
  formatter.Release(&listing);
  return fSucceeded;
}
