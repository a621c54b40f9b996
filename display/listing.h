// How result sets are listed (table, fitted table, CSV or TSV) and the writers that list them from the result-set record.
#pragma once

#include <string>
#include <vector>

#include "display/console.h"
#include "display/output.h"
#include "odbc/cursor.h"

// How result sets are written.
enum class ListingFormat {
  Table,  // aligned text table with header, end bar and pauses; columns as wide as their display size
  Fit,    // the same table with each column as wide as its widest value or title over the first rows
  Csv,    // RFC 4180 comma-separated values, LF line ends, whole values
  Tsv,    // tab-separated values with \t \n \r \\ escapes and \N for NULL, whole values
  Json,   // JSON Lines: one object a row, keys the column titles, whole values
  Markdown,  // a Markdown table, pipes and line breaks in values escaped, whole values
};

// When a table is shown expanded instead: each row as a record of one line per column.
enum class ExpandedDisplay {
  Off,   // always a table
  On,    // always records
  Auto,  // records when a table line would be wider than the window
};

// How a listing pauses and learns that it must stop: the session's calls, each with the context it gave.
// The display never asks about the terminal or the input itself.
struct Pager {
  void* context = nullptr;                                   // handed to each call below
  bool (*StopRequested)(void* context) = nullptr;            // true once the listing must stop as at Q (Ctrl-C); null: never
  // Reads the reply at a pause: Line with `reply` set, End, or Interrupted. Null: no reply comes (End).
  InputResult (*ReadReply)(void* context, std::string& reply) = nullptr;
  // Waits for the reply at a pause; should the process be stopped and continued meanwhile, calls
  // showAgain(prompt) to write the pause prompt again. Null: the reply is read at once.
  void (*WaitForReply)(void* context, void (*showAgain)(void*), void* prompt) = nullptr;
  bool fEndStops = false;          // end of input at a pause stops the listing (a terminal's Ctrl-D), else it goes on
  bool fNewLineAfterStop = false;  // a stop left ^C where the cursor stood: the next output starts a line
};

// How a result set is listed; fixed for the session but for the format and the expanded display.
struct ListingStyle {
  ListingFormat format;  // table, CSV or TSV
  bool fPaging;          // pause after every screenful and read a reply
  bool fHighlight;       // highlight header, end bar and pause prompt on a terminal
  bool fRowsets = false;  // rows may come a rowset at a time (not at a terminal, where each row shows as it comes)
  ExpandedDisplay expanded = ExpandedDisplay::Off;  // a table format's rows as records (\x)
  Console* lpConsole = nullptr;  // the terminal written to: its character set, its window for paging
  const char* szHeading = nullptr;  // a line a table format writes above a result with rows; with it set, a
                                    // result without rows writes nothing at all (a part of a description)
  Pager pager;                   // the pause, its reply and the stop
};

// Whether a format writes a table with header, end bar and pauses (Table or Fit), not data for a program.
inline bool IsTableFormat(ListingFormat format) { return format == ListingFormat::Table || format == ListingFormat::Fit; }

// Writes the style's heading line, made safe for the terminal, when it has one and the format is a table.
void WriteListingHeading(const ListingStyle& style);

// Whether the listing must stop now, as the style's pager says.
inline bool ListingStopRequested(const ListingStyle& style) {
  return style.pager.StopRequested != nullptr && style.pager.StopRequested(style.pager.context);
}

// Lists the rows of a described result set as CSV or TSV, as the style says: binds the columns, writes the
// header line of names, then every row with each value whole; counts the rows in *cRows when given.
// Returns false when a call failed.
bool ListDelimited(ResultSet& set, const ListingStyle& style, unsigned long long* cRows = nullptr);

// Lists the rows of a described result set as JSON Lines: one object a row, its keys the column titles in
// order; numbers as JSON numbers in the driver's text, NULL as null, text as strings (invalid UTF-8 as
// U+FFFD). Returns false when a call failed.
bool ListJson(ResultSet& set, const ListingStyle& style);

// Lists the rows of a described result set as a Markdown table: a header row, its rule, a row a line,
// with pipes, backslashes, line breaks, '<' and '&' in values escaped. Returns false when a call failed.
bool ListMarkdown(ResultSet& set, const ListingStyle& style);

// Lists the rows of a described result set as records: a "-[ RECORD n ]-" line, then one "name | value"
// line a column with the names aligned and every value whole, pausing like the table. Returns false when
// a call failed.
bool ListExpanded(ResultSet& set, const ListingStyle& style);

// Lists the rows of a described result set as a fitted table: holds the first rows (up to 1,000) with
// every value whole, sizes each column to the widest value or title among them, then writes them and the
// rest one row at a time. A later wider value widens its own line; at a terminal a value wider than the
// window is cut to fit it and ends in an ellipsis. Pauses like the table. Returns false when a call failed.
bool ListFitted(ResultSet& set, const ListingStyle& style);

// Lists rows of text held in memory (every value a text, none NULL; each row as many as the titles) as
// the style says: a fitted table, or CSV or TSV. For what the console gathers itself from calls that
// cannot filter or order their results. Returns true.
bool ListTextRows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
                  const ListingStyle& style);
bool ListDelimitedTextRows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
                           const ListingStyle& style);

// Writes one cell of a table line at out: the bar, a blank, at most maxChars characters of the text in
// exactly `width` columns, a blank. Returns the end of what was written.
char* PutCell(const TextCharset& charset, char* out, const char* text, size_t len, int maxChars, int width,
              bool alignLeft);

// Writes the end bar of a table: lineWidth blanks, highlighted when fHighlight says so, and a newline.
void WriteEndBar(int lineWidth, bool fHighlight);

// Rows on one page of a table whose lines are lineWidth wide. A line wider than the terminal wraps onto
// several screen lines, so fewer rows fit: the header and the prompt line stay on the screen. Elsewhere a
// page is the window's rows - 2.
int RowsPerPage(const WindowSize& window, int lineWidth);

// Shows the paging prompt, highlighted across lineWidth columns when the style says so, and reads the
// reply through the style. Returns false when the listing stops: a reply that begins with Q or q, Ctrl-C,
// or end of input typed at a terminal.
bool PauseListing(int lineWidth, const ListingStyle& style);
