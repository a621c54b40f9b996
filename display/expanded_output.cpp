// The expanded writer: each row as a record of "name | value" lines, for rows too wide for a table.
#include <string>
#include <vector>

#include "display/cell_text.h"
#include "display/listing.h"
#include "display/output.h"
#include "display/terminal.h"

namespace {

constexpr char NULL_MARKER[] = "<NULL>";
constexpr char RECORD_OPEN[] = "-[ RECORD ";
constexpr char RECORD_CLOSE[] = " ]-";

// The record listing of one result set: the names as shown and where the page stands.
struct RecordWriter {
  std::vector<std::string> names;  // each column's name, safe and padded to the width of the longest
  int cchNameWidth = 0;            // that width, in display columns
  int cchWindow = 0;               // columns of the window; 0 when not a terminal
  int cLinesOnPage = 0;            // screen lines written since the last pause
  const ListingStyle& style;       // paging, highlight and how a reply at a pause is read
  std::string szLine;              // the line being built
};

// Screen lines that a line of `columns` display columns takes in the window.
int ScreenLines(const RecordWriter& writer, int columns) {
  if (writer.cchWindow <= 0 || columns <= writer.cchWindow) return 1;
  return (columns + writer.cchWindow - 1) / writer.cchWindow;
}

// Pauses first when a line of `screenLines` lines would push the page past the window: the window holds
// as many lines as it has rows, and the prompt takes the last. Returns false when the listing stops.
bool MakeRoom(RecordWriter& writer, int screenLines) {
  if (!writer.style.fPaging) return true;
  if (writer.cLinesOnPage > 0 && writer.cLinesOnPage + screenLines > writer.style.lpConsole->window.rows - 1) {
    if (!PauseListing(writer.cchNameWidth + 3, writer.style)) return false;
    writer.cLinesOnPage = 0;
  }
  writer.cLinesOnPage += screenLines;
  return true;
}

// Writes the "-[ RECORD n ]-" line, filled with dashes out to the name column and its bar.
void WriteRecordLine(RecordWriter& writer, unsigned long long iRecord) {
  std::string line = RECORD_OPEN + std::to_string(iRecord) + RECORD_CLOSE;
  int width = static_cast<int>(line.size());
  if (width < writer.cchNameWidth + 3) line.append(static_cast<size_t>(writer.cchNameWidth + 3 - width), '-');
  width = static_cast<int>(line.size());
  if (writer.style.fHighlight) HighlightConsole(width, true);
  OutWrite(line.data(), line.size());
  if (writer.style.fHighlight) HighlightConsole(width, false);
  OutWrite("\n", 1);
}

// Writes the current row as one record. Returns 1 when it was written, 0 when the user stopped the
// listing, -1 when a call failed.
int WriteRecord(RecordWriter& writer, ResultSet& set, unsigned long long iRecord) {
  if (!MakeRoom(writer, 1)) return 0;
  WriteRecordLine(writer, iRecord);
  for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
    const char* value = nullptr;
    SQLLEN length = WholeValue(set, iCol, &value);
    if (length == -2) return -1;
    std::string& line = writer.szLine;
    line = writer.names[iCol];
    line += ' ';
    const TextCharset& charset = writer.style.lpConsole->charset;
    line.append(charset.columnBar, charset.columnBarLen);
    line += ' ';
    size_t valueStart = line.size();
    if (length == SQL_NULL_DATA) {
      line += NULL_MARKER;
    } else {
      AppendSafeText(charset, line, value, static_cast<size_t>(length));
    }
    int columns = writer.cchNameWidth + 3 + TextColumns(charset, line.data() + valueStart, line.size() - valueStart);
    if (!MakeRoom(writer, ScreenLines(writer, columns))) return 0;
    line += '\n';
    OutWrite(line.data(), line.size());
  }
  return 1;
}

}  // namespace

bool ListExpanded(ResultSet& set, const ListingStyle& style) {
  RecordWriter writer{{}, 0, 0, 0, style, {}};
  const TextCharset& charset = style.lpConsole->charset;
  writer.cchWindow = ReadWindowSize(&style.lpConsole->window);
  if (!BindResultColumns(set, BindPurpose::Export, charset.utf8)) return false;
  std::vector<int> widths;
  for (const ResultColumn& column : set.columns) {
    std::string name;
    AppendSafeText(charset, name, column.szName.data(),
                   TextPrefixBytes(charset, column.szName.data(), column.szName.size(), MAX_TITLE_CHARS));
    widths.push_back(TextColumns(charset, name.data(), name.size()));
    if (widths.back() > writer.cchNameWidth) writer.cchNameWidth = widths.back();
    writer.names.push_back(std::move(name));
  }
  for (size_t iCol = 0; iCol < writer.names.size(); ++iCol) {
    writer.names[iCol].append(static_cast<size_t>(writer.cchNameWidth - widths[iCol]), ' ');
  }
  for (unsigned long long iRecord = 1;; ++iRecord) {
    // Nobody sees a listing whose output fails: stop fetching it. The statement itself has run.
    if (StdoutState() != OutputState::Working) return true;
    RowFetch fetched = FetchNextRow(set, "RetCode = SQLFetch(lpStmt)");
    if (fetched == RowFetch::Failed) return false;
    // Ctrl-C stops the listing as Q does; the session closes the cursor. The terminal showed ^C where the
    // cursor stood: the next prompt starts on a line of its own.
    if (ListingStopRequested(style)) {
      if (style.pager.fNewLineAfterStop) OutWrite("\n", 1);
      return true;
    }
    if (fetched == RowFetch::End) {
      if (iRecord == 1 && style.szHeading == nullptr) OutText("(0 rows)\n");
      return true;
    }
    if (iRecord == 1) WriteListingHeading(style);
    int written = WriteRecord(writer, set, iRecord);
    if (written <= 0) return written == 0;
  }
}
