// \copy and COPY FROM STDIN: parse the line, read rows from a file or a cursor, load them in bulk, write exports.
#include "session/copy_command.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <malloc.h>
#include <unistd.h>

#include "display/cell_text.h"
#include "display/output.h"
#include "input/delimited_reader.h"
#include "input/interrupt.h"
#include "odbc/bulk_insert.h"
#include "odbc/type_mapping.h"
#include "session/connections.h"
#include "session/source_call.h"
#include "session/statement.h"

namespace {

// A load longer than this shows its progress at a terminal.
constexpr std::chrono::seconds PROGRESS_AFTER{2};
// How often the progress line is written again.
constexpr std::chrono::milliseconds PROGRESS_EVERY{500};
// The most characters of a value a message shows.
constexpr size_t MESSAGE_VALUE_CHARS = 60;

// One \copy line, read.
struct CopyRequest {
  std::string table;                     // the table copied from or into; empty when a query is the source
  std::vector<std::string> columnNames;  // (COLUMN, ...) after a table loaded from a file
  std::string query;                     // (QUERY): the text between the parentheses
  bool fFrom = false;                    // from FILE into the table; otherwise to a file or a table
  std::string file;                      // the file read or written
  bool fToTable = false;                 // to NAME:TABLE, a table of a connection
  std::string connectionName;            // NAME of NAME:TABLE; empty for the session's own connection
  std::string targetTable;               // TABLE of NAME:TABLE
  DelimitedFormat format = DelimitedFormat::Csv;  // csv or tsv
  bool fHeader = true;                   // the file's first line names the columns
  bool fCreate = false;                  // create the target table when it is missing
};

// Skips blanks at the start of text.
void SkipBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
}

// Reads a group in parentheses at the start of text (quotes inside kept whole) into *inside. Returns false
// when it is not closed.
bool ReadParenthesized(std::string_view& text, std::string* inside) {
  int depth = 0;
  char quote = '\0';
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote != '\0') {
      if (c == quote) quote = '\0';
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      inside->assign(text.substr(1, i - 1));
      text.remove_prefix(i + 1);
      return true;
    }
  }
  return false;
}

// Reads one word at the start of text: a '...' string ('' for a quote), or everything up to a blank or a
// parenthesis, identifier quotes ("..." and `...`) kept whole. *fQuoted tells a '...' string.
std::string ReadWord(std::string_view& text, bool* fQuoted = nullptr) {
  SkipBlanks(text);
  std::string word;
  if (fQuoted != nullptr) *fQuoted = false;
  if (!text.empty() && text.front() == '\'') {
    if (fQuoted != nullptr) *fQuoted = true;
    size_t i = 1;
    for (; i < text.size(); ++i) {
      if (text[i] != '\'') {
        word += text[i];
      } else if (i + 1 < text.size() && text[i + 1] == '\'') {
        word += '\'';
        ++i;
      } else {
        break;
      }
    }
    text.remove_prefix(std::min(i + 1, text.size()));
    return word;
  }
  char quote = '\0';
  size_t i = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (quote != '\0') {
      if (c == quote) quote = '\0';
    } else if (c == '"' || c == '`') {
      quote = c;
    } else if (c == ' ' || c == '\t' || c == '(') {
      break;
    }
    word += c;
  }
  text.remove_prefix(i);
  return word;
}

// An identifier as written, without its quotes; *fQuoted tells whether it had them.
std::string BareName(std::string name, bool* fQuoted) {
  *fQuoted = name.size() >= 2 && (name.front() == '"' || name.front() == '`' || name.front() == '[');
  if (*fQuoted) name = name.substr(1, name.size() - 2);
  return name;
}

// Splits a column list at its commas, each name trimmed.
std::vector<std::string> SplitColumnList(const std::string& list) {
  std::vector<std::string> names;
  std::string_view rest = list;
  for (;;) {
    SkipBlanks(rest);
    size_t comma = rest.find(',');
    std::string_view name = rest.substr(0, comma);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (!name.empty()) names.emplace_back(name);
    if (comma == std::string_view::npos) return names;
    rest.remove_prefix(comma + 1);
  }
}

bool Refuse(const std::string& why) {
  ErrFormat("\\copy: %s\n", why.c_str());
  return false;
}

// Reads a \copy line into *request. Returns false, reported, when it is not one.
bool ParseCopy(std::string_view text, CopyRequest* request) {
  static const char USAGE[] =
      "usage: \\copy TABLE [(COLUMN, ...)] from FILE [csv|tsv] [header|noheader], "
      "\\copy TABLE|(QUERY) to FILE [csv|tsv], \\copy TABLE|(QUERY) to [NAME]:TABLE [create]";
  SkipBlanks(text);
  if (!text.empty() && text.front() == '(') {
    if (!ReadParenthesized(text, &request->query) || request->query.find_first_not_of(" \t\r\n") == std::string::npos) {
      return Refuse(std::string("the query is not closed by a parenthesis; ") + USAGE);
    }
  } else {
    request->table = ReadWord(text);
    if (request->table.empty()) return Refuse(USAGE);
    SkipBlanks(text);
    if (!text.empty() && text.front() == '(') {
      std::string list;
      if (!ReadParenthesized(text, &list)) return Refuse("the column list is not closed by a parenthesis");
      request->columnNames = SplitColumnList(list);
    }
  }
  std::string direction = ReadWord(text);
  if (strcasecmp(direction.c_str(), "from") == 0) {
    request->fFrom = true;
  } else if (strcasecmp(direction.c_str(), "to") != 0) {
    return Refuse(USAGE);
  }
  if (request->fFrom && request->table.empty()) return Refuse("a query cannot be loaded into; copy from a file into a table");
  if (!request->fFrom && !request->columnNames.empty()) return Refuse("a column list goes with from; to copy some columns, copy a query");
  bool fQuoted = false;
  std::string where = ReadWord(text, &fQuoted);
  if (where.empty()) return Refuse(USAGE);
  // NAME:TABLE names a table of a connection; ":TABLE" one of the session's own.
  size_t colon = where.find(':');
  if (!request->fFrom && !fQuoted && colon != std::string::npos && colon + 1 < where.size() &&
      where.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == colon) {
    request->fToTable = true;
    request->connectionName = where.substr(0, colon);
    request->targetTable = where.substr(colon + 1);
  } else {
    request->file = where;
  }
  bool fFormatGiven = false;
  for (;;) {
    std::string option = ReadWord(text);
    if (option.empty()) break;
    if (!request->fToTable && (strcasecmp(option.c_str(), "csv") == 0 || strcasecmp(option.c_str(), "tsv") == 0)) {
      request->format = strcasecmp(option.c_str(), "csv") == 0 ? DelimitedFormat::Csv : DelimitedFormat::Tsv;
      fFormatGiven = true;
    } else if (request->fFrom && (strcasecmp(option.c_str(), "header") == 0 || strcasecmp(option.c_str(), "noheader") == 0)) {
      request->fHeader = strcasecmp(option.c_str(), "header") == 0;
    } else if (request->fToTable && strcasecmp(option.c_str(), "create") == 0) {
      request->fCreate = true;
    } else {
      return Refuse("unknown option '" + option + "'; " + USAGE);
    }
  }
  // Without a word, a file named .tsv is TSV.
  if (!fFormatGiven && request->file.size() > 4 && strcasecmp(request->file.c_str() + request->file.size() - 4, ".tsv") == 0) {
    request->format = DelimitedFormat::Tsv;
  }
  return true;
}

// A value for a message: made safe for the terminal, cut to MESSAGE_VALUE_CHARS characters.
std::string MessageValue(const Session& session, const std::string& value) {
  size_t cut = TextPrefixBytes(session.console.charset, value.data(), value.size(), static_cast<int>(MESSAGE_VALUE_CHARS));
  std::string shown = SafeMessageText(session.console.charset, value.substr(0, cut).c_str());
  if (cut < value.size()) shown += "...";
  return "'" + shown + "'";
}

// Where rows come from: a file's reader, or the open cursor of a query.
struct RowSource {
  DelimitedReader* lpReader = nullptr;  // rows of a file
  ResultSet* lpSet = nullptr;           // or rows of a cursor
  std::string name;                     // the file's name as given, for messages; empty for a cursor
  long rowNumber = 0;                   // cursor: rows fetched so far
  std::vector<char> bytesWanted;        // cursor: per column, 1 where the driver's text of a binary value is
                                        // made the bytes it spells, for a binary column of the target
  BinaryText binaryText = BinaryText::HexDigits;  // cursor: how its driver writes a binary value as text
};

// The place of a row in messages: FILE:LINE, or "row N" of the query.
std::string PlaceText(const Session& session, const RowSource& source, long place) {
  if (source.lpSet != nullptr) return "row " + std::to_string(place);
  // A range of rows is written FILE:FIRST-LAST.
  return SafeMessageText(session.console.charset, source.name.c_str()) + ":" + std::to_string(place);
}

// Reads the next row of the source into `row`.
RecordRead NextSourceRow(RowSource& source, RowValues& row) {
  if (source.lpReader != nullptr) return ReadRecord(*source.lpReader, row);
  ResultSet& set = *source.lpSet;
  RowFetch fetched = FetchNextRow(set, "RetCode = SQLFetch(lpStmt)");
  if (fetched == RowFetch::End) return RecordRead::End;
  if (fetched == RowFetch::Failed) return RecordRead::ReadFailed;
  ClearRow(row);
  row.place = ++source.rowNumber;
  for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
    const char* value = nullptr;
    SQLLEN length = WholeValue(set, iCol, &value);
    if (length == -2) return RecordRead::ReadFailed;
    if (length != SQL_NULL_DATA) {
      size_t start = row.bytes.size();
      row.bytes.append(value, static_cast<size_t>(length));
      if (iCol < source.bytesWanted.size() && source.bytesWanted[iCol] != 0) {
        row.bytes.resize(start + BytesOfBinaryText(&row.bytes[start], static_cast<size_t>(length), source.binaryText));
      }
    }
    EndValue(row, length == SQL_NULL_DATA);
  }
  return RecordRead::Record;
}

// The progress of a long load at a terminal: rows so far and rows a second, on standard error.
struct Progress {
  bool fEnabled = false;                               // a person watches standard error
  std::chrono::steady_clock::time_point start;         // when the load began
  std::chrono::steady_clock::time_point lastShown;     // when the line was last written
  bool fShown = false;                                 // the line is on the screen
};

void ShowProgress(Progress& progress, unsigned long long rows) {
  auto now = std::chrono::steady_clock::now();
  if (now - progress.start < PROGRESS_AFTER || (progress.fShown && now - progress.lastShown < PROGRESS_EVERY)) return;
  double seconds = std::chrono::duration<double>(now - progress.start).count();
  ErrFormat("\r%llu rows, %.0f rows/s\x1b[K", rows, rows / seconds);
  progress.lastShown = now;
  progress.fShown = true;
}

void EraseProgress(Progress& progress) {
  if (progress.fShown) ErrText("\r\x1b[K");
  progress.fShown = false;
}

// Says what a failed load left: nothing where the target rolled it back, else how many rows stay.
void TellWhatWasLoaded(const BulkInsert& insert) {
  if (insert.fTransaction) {
    ErrText("Nothing was loaded.\n");
  } else {
    ErrFormat("%llu rows were loaded before it (the target has no transactions).\n", insert.rowsSent);
  }
}

// The failure of a batch the target refused, with its place, column and value as far as they are known.
void TellRefusedRow(const Session& session, const RowSource& source, const BulkInsert& insert) {
  const InsertFailure& failure = insert.failure;
  if (failure.place == 0) {
    if (failure.firstPlace == 0) {
      ErrText("\\copy: the target refused the rows\n");
    } else {
      ErrFormat("\\copy: %s-%ld: the target refused a row among them\n", PlaceText(session, source, failure.firstPlace).c_str(),
                failure.lastPlace);
    }
    return;
  }
  std::string text = "\\copy: " + PlaceText(session, source, failure.place);
  if (failure.iColumn >= 0) {
    const TargetColumn& column = insert.columns[static_cast<size_t>(failure.iColumn)];
    text += ", column " + SafeMessageText(session.console.charset, column.name.c_str());
    text += failure.value.empty() && column.nullable == SQL_NO_NULLS ? ": NULL where the column takes none"
                                                                     : ", value " + MessageValue(session, failure.value);
  }
  text += ": the target refused the row\n";
  ErrText(text.c_str());
}

// The drivers allocate and free each batch's statement and buffers anew (psqlODBC 13 its 1,000-row
// INSERTs): the heap's top would go back to the kernel at every batch and fault in again, a tenth of a
// copy's time. While this record lives, it is kept; after, given back.
struct HeapKeptForLoad {
  HeapKeptForLoad() {
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
  }
  ~HeapKeptForLoad() {
    mallopt(M_TOP_PAD, 0);
    mallopt(M_TRIM_THRESHOLD, 128 << 10);
    malloc_trim(0);
  }
};

// Loads every row of the source into the open insert: all or nothing where the target has transactions.
// Says "N rows copied" at the end.
StatementOutcome LoadRows(Session& session, BulkInsert& insert, RowSource& source) {
  HeapKeptForLoad heapKept;
  Progress progress;
  progress.fEnabled = StdinIsTerminal() && isatty(STDERR_FILENO) == 1;
  progress.start = std::chrono::steady_clock::now();
  unsigned long long rows = 0;
  const size_t cColumns = insert.columns.size();
  StatementOutcome outcome = StatementOutcome::Ok;
  for (;;) {
    if (InterruptRequested()) {
      outcome = StatementOutcome::Cancelled;
      break;
    }
    RowValues& row = NextBatchRow(insert);
    RecordRead read = NextSourceRow(source, row);
    if (read == RecordRead::End) break;
    if (read == RecordRead::Interrupted) {
      outcome = StatementOutcome::Cancelled;
      break;
    }
    if (read == RecordRead::Malformed || read == RecordRead::ReadFailed) {
      EraseProgress(progress);
      if (source.lpReader != nullptr) {
        ErrFormat("\\copy: %s: %s\n", read == RecordRead::Malformed ? PlaceText(session, source, row.place).c_str()
                                                                    : SafeMessageText(session.console.charset, source.name.c_str()).c_str(),
                  source.lpReader->szError.c_str());
      } else {
        ErrFormat("\\copy: reading row %ld of the query failed\n", source.rowNumber + 1);
      }
      outcome = StatementOutcome::Failed;
      break;
    }
    if (row.ends.size() != cColumns) {
      EraseProgress(progress);
      ErrFormat("\\copy: %s: %zu fields where %zu were expected\n", PlaceText(session, source, row.place).c_str(), row.ends.size(), cColumns);
      outcome = StatementOutcome::Failed;
      break;
    }
    if (!AddBatchRow(insert)) {
      EraseProgress(progress);
      if (InterruptRequested()) {
        outcome = StatementOutcome::Cancelled;
        break;
      }
      TellRefusedRow(session, source, insert);
      outcome = StatementOutcome::Failed;
      break;
    }
    ++rows;
    if (progress.fEnabled && (rows & 1023) == 0) ShowProgress(progress, rows);
  }
  if (outcome == StatementOutcome::Ok && !FinishBulkInsert(insert)) {
    EraseProgress(progress);
    if (InterruptRequested()) {
      outcome = StatementOutcome::Cancelled;
    } else {
      TellRefusedRow(session, source, insert);
      outcome = StatementOutcome::Failed;
    }
  }
  EraseProgress(progress);
  if (outcome == StatementOutcome::Ok) {
    std::string copied = std::to_string(rows) + (rows == 1 ? " row copied\n" : " rows copied\n");
    // In a CSV or TSV listing the count would be taken for data.
    if (IsTableFormat(session.listing.format)) OutText(copied.c_str());
    return outcome;
  }
  if (outcome == StatementOutcome::Cancelled) ErrText("Cancelled. ");
  bool fLost = ConnectionIsGone(*insert.lpTarget, insert.lpStmt);
  AbandonBulkInsert(insert);
  TellWhatWasLoaded(insert);
  if (fLost && insert.lpTarget == &session.connection) return StatementOutcome::Lost;
  return outcome;
}

// Whether two names are the same column: exactly when the one given was quoted, else in any case.
bool SameColumn(const std::string& given, const std::string& described) {
  bool fQuoted = false;
  std::string bare = BareName(given, &fQuoted);
  return fQuoted ? bare == described : strcasecmp(bare.c_str(), described.c_str()) == 0;
}

// The target's columns for the given names, in their order. Returns false, reported, when one is not there.
bool MatchColumns(const Session& session, const std::vector<TargetColumn>& described, const std::vector<std::string>& names,
                  const std::string& table, std::vector<TargetColumn>* matched) {
  matched->clear();
  for (const std::string& name : names) {
    const TargetColumn* found = nullptr;
    for (const TargetColumn& column : described) {
      if (SameColumn(name, column.name)) found = &column;
    }
    if (found == nullptr) {
      ErrFormat("\\copy: %s has no column %s\n", SafeMessageText(session.console.charset, table.c_str()).c_str(),
                SafeMessageText(session.console.charset, name.c_str()).c_str());
      return false;
    }
    matched->push_back(*found);
  }
  return true;
}

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
  int fd = -1;  // the descriptor owned, or -1
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
};

// Loads rows read by `reader` into `table` of the session's connection: the columns are the list given,
// else those the header names, else all of the table's in order.
StatementOutcome LoadFromReader(Session& session, const std::string& table, const std::vector<std::string>& columnNames,
                                bool fHeader, RowSource& source) {
  Connection& target = session.connection;
  std::vector<TargetColumn> described;
  if (!DescribeTargetTable(target, table, &described)) return StatementOutcome::Failed;
  std::vector<TargetColumn> columns = described;
  RowValues header;
  if (fHeader) {
    RecordRead read = ReadRecord(*source.lpReader, header);
    if (read == RecordRead::End) {
      ErrFormat("\\copy: %s is empty: it has no header line\n", SafeMessageText(session.console.charset, source.name.c_str()).c_str());
      return StatementOutcome::Failed;
    }
    if (read != RecordRead::Record) {
      ErrFormat("\\copy: %s:%ld: %s\n", SafeMessageText(session.console.charset, source.name.c_str()).c_str(), header.place,
                source.lpReader->szError.c_str());
      return read == RecordRead::Interrupted ? StatementOutcome::Cancelled : StatementOutcome::Failed;
    }
  }
  if (!columnNames.empty()) {
    if (!MatchColumns(session, described, columnNames, table, &columns)) return StatementOutcome::Failed;
  } else if (fHeader) {
    std::vector<std::string> names;
    for (size_t i = 0; i < header.ends.size(); ++i) {
      size_t start = ValueStart(header, i);
      // A header name is the column's name as it is spelt: matched as if quoted, else in any case.
      names.push_back(header.bytes.substr(start, header.ends[i] - start));
    }
    if (!MatchColumns(session, described, names, table, &columns)) return StatementOutcome::Failed;
  }
  BulkInsert insert;
  StatementOutcome outcome = StatementOutcome::Failed;
  if (OpenBulkInsert(insert, target, table, columns)) outcome = LoadRows(session, insert, source);
  else AbandonBulkInsert(insert);
  CloseBulkInsert(insert);
  return outcome;
}

// \copy TABLE [(COLUMN, ...)] from FILE
StatementOutcome CopyFromFile(Session& session, const CopyRequest& request) {
  FileDescriptor file;
  file.fd = OpenSqlFile(request.file.c_str());
  if (file.fd < 0) {
    ErrFormat("\\copy: cannot read '%s': %s\n", SafeMessageText(session.console.charset, request.file.c_str()).c_str(), strerror(errno));
    return StatementOutcome::Failed;
  }
  LineReader lines;
  lines.fd = file.fd;
  long lineNumber = 0;
  DelimitedReader reader;
  reader.format = request.format;
  reader.lpLines = &lines;
  reader.lpLineNumber = &lineNumber;
  RowSource source;
  source.lpReader = &reader;
  source.name = request.file;
  return LoadFromReader(session, request.table, request.columnNames, request.fHeader, source);
}

// Executes the query a copy reads on the session's statement and describes its columns into *set.
// Returns false when that failed (reported).
bool OpenSourceQuery(Session& session, const std::string& query, ResultSet& set) {
  SQLHSTMT lpStmt = set.lpStmt;
  BeginCancellableCall(session.connection.canceller, lpStmt);
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(query.data())), static_cast<SQLINTEGER>(query.size()));
  EndCancellableCall(session.connection.canceller);
  // As a statement's: its diagnostics, and no "Error in" line for a query that failed.
  if (RetCode != SQL_SUCCESS) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
  if (!SQL_SUCCEEDED(RetCode)) return false;
  SQLSMALLINT cCols = 0;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &cCols), "SQLNumResultCols(lpStmt,&cCols)")) return false;
  if (cCols == 0) {
    ErrText("\\copy: the query returns no rows to copy\n");
    return false;
  }
  return DescribeResultColumns(set, cCols);
}

// The fetch rules of an export from the session's data source.
FetchRules ExportRules(const Session& session) {
  const DataSourceProfile& profile = session.connection.profile;
  FetchRules rules;
  rules.fGetDataOnBound = profile.fGetDataOnBound;
  rules.fSizesHold = profile.fSizesHold;
  rules.fBinaryNumbers = profile.fBinaryNumbers;
  rules.fRowsets = true;
  rules.fLabelTitles = profile.fLabelTitles;
  rules.rowsetRows = profile.rowsetRows;
  return rules;
}

// The query a copy reads: the one given, or all of the table.
std::string SourceQuery(const CopyRequest& request) {
  return request.query.empty() ? "SELECT * FROM " + request.table : request.query;
}

// Takes the bindings off an export's cursor and closes it.
StatementOutcome CloseSourceQuery(Session& session, ResultSet& set, StatementOutcome outcome) {
  SQLHSTMT& lpStmt = session.connection.lpStmt;
  if (!ReleaseResultSet(set)) {
    DropStatement(lpStmt);
    return outcome == StatementOutcome::Lost ? outcome : StatementOutcome::Failed;
  }
  // A statement of a connection that is gone is not closed: the judge, or the copy's end, frees it.
  if (outcome == StatementOutcome::Lost) return outcome;
  if (outcome == StatementOutcome::Failed && ConnectionIsGone(session.connection, lpStmt)) return outcome;
  return CloseCursor(lpStmt, outcome);
}

// \copy TABLE|(QUERY) to FILE: what --csv or --tsv would write, into a file beside FILE that takes its name
// only when complete.
StatementOutcome ExportToFile(Session& session, const CopyRequest& request) {
  const char* szFile = request.file.c_str();
  std::string partial = request.file + ".partial-XXXXXX";
  FileDescriptor file;
  file.fd = mkstemp(&partial[0]);
  if (file.fd < 0) {
    ErrFormat("\\copy: cannot write beside '%s': %s\n", SafeMessageText(session.console.charset, szFile).c_str(), strerror(errno));
    return StatementOutcome::Failed;
  }
  // mkstemp makes the file for its owner alone; the export gets what any new file would.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(file.fd, 0666 & ~mask);
  Connection& connection = session.connection;
  if (!HaveStatement(connection, connection.lpStmt)) {
    unlink(partial.c_str());
    return StatementOutcome::Fatal;
  }
  ResultSet set(connection.lpStmt, ExportRules(session));
  StatementOutcome outcome = StatementOutcome::Failed;
  unsigned long long rows = 0;
  if (OpenSourceQuery(session, SourceQuery(request), set)) {
    ListingStyle style = session.listing;
    style.format = request.format == DelimitedFormat::Tsv ? ListingFormat::Tsv : ListingFormat::Csv;
    style.fRowsets = true;
    OutputTarget saved = RedirectOutput(file.fd);
    bool fListed = ListDelimited(set, style, &rows);
    OutputState written = RestoreOutput(saved);
    if (InterruptRequested()) {
      outcome = StatementOutcome::Cancelled;
    } else if (fListed && written == OutputState::Working) {
      outcome = StatementOutcome::Ok;
    }
  }
  outcome = CloseSourceQuery(session, set, outcome);
  int fd = file.fd;
  file.fd = -1;
  if (close(fd) != 0 && outcome == StatementOutcome::Ok) {
    ErrFormat("\\copy: writing '%s' failed: %s\n", SafeMessageText(session.console.charset, szFile).c_str(), strerror(errno));
    outcome = StatementOutcome::Failed;
  }
  if (outcome == StatementOutcome::Ok && rename(partial.c_str(), szFile) != 0) {
    ErrFormat("\\copy: cannot name the file '%s': %s\n", SafeMessageText(session.console.charset, szFile).c_str(), strerror(errno));
    outcome = StatementOutcome::Failed;
  }
  if (outcome != StatementOutcome::Ok) {
    unlink(partial.c_str());
    if (outcome == StatementOutcome::Cancelled) ErrText("Cancelled: no file was written.\n");
    return outcome;
  }
  std::string copied = std::to_string(rows) + (rows == 1 ? " row copied\n" : " rows copied\n");
  if (IsTableFormat(session.listing.format)) OutText(copied.c_str());
  return outcome;
}

// The connection a NAME:TABLE target names: the session's own for an empty name, made again first where a
// lost one may be. Null, reported, when there is none to use.
Connection* CopyTarget(Session& session, const std::string& name) {
  if (name.empty()) return &session.connection;
  Connection* lpTarget = FindNamedConnection(session, name);
  if (lpTarget == nullptr) {
    ErrFormat("\\copy: there is no connection named %s (\\connect NAME CONNECTION-STRING opens one)\n",
              SafeMessageText(session.console.charset, name.c_str()).c_str());
    return nullptr;
  }
  return ReadyNamedConnection(session, name, *lpTarget) ? lpTarget : nullptr;
}

// Runs one statement on the target on a statement of its own. Returns false when it failed (reported).
bool RunOnTarget(Connection& target, std::string text) {
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  if (!CheckedCall(target.lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, target.lpDbc, &lpStmt), "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)")) {
    return false;
  }
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&text[0]), static_cast<SQLINTEGER>(text.size()));
  if (RetCode != SQL_SUCCESS) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
  SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
  return SQL_SUCCEEDED(RetCode);
}

// A query's column as SQLDescribeCol gives it: the SQLite driver's concise type attribute says CHAR for a
// VARCHAR and for a blob. Returns false when the call failed (reported).
bool DescribeSourceColumn(ResultSet& set, const ResultColumn& described, const DataSourceProfile& sourceProfile, SourceColumn* column) {
  *column = SourceColumn{described.szName, described.sqlType, 0, 0, SQL_NULLABLE_UNKNOWN};
  SQLCHAR szName[8];
  SQLSMALLINT cbName = 0;
  SQLRETURN RetCode = SQLDescribeCol(set.lpStmt, described.iResultCol, szName, sizeof szName, &cbName, &column->sqlType, &column->columnSize,
                                     &column->decimalDigits, &column->nullable);
  if (!SQL_SUCCEEDED(RetCode) && !CheckedCall(set.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLDescribeCol(lpStmt,...)")) return false;
  // The SQLite driver (sqliteodbc 0.9998) describes every blob as binary(255), which MariaDB would make of
  // fixed length, padded with zeros: a blob is of any length.
  if (sourceProfile.dialect == SqlDialect::Sqlite && column->sqlType == SQL_BINARY) {
    column->sqlType = SQL_LONGVARBINARY;
    column->columnSize = 0;
  }
  return true;
}

// create: makes the target table when it is missing, each column's type chosen from the target's types by
// the source column's SQL type, size, scale and nullability. Returns false when that failed (reported).
bool CreateMissingTable(Connection& target, const std::string& table, ResultSet& set, const DataSourceProfile& sourceProfile) {
  bool fExists = false;
  if (!TableExists(target, table, &fExists)) return false;
  if (fExists) return true;
  std::vector<SourceColumn> columns;
  for (const ResultColumn& described : set.columns) {
    SourceColumn column;
    if (!DescribeSourceColumn(set, described, sourceProfile, &column)) return false;
    columns.push_back(column);
  }
  std::string text;
  return CreateTableText(target, table, columns, &text) && RunOnTarget(target, text);
}

// \copy TABLE|(QUERY) to [NAME]:TABLE [create]: the rows of the session's query stream into a table of the
// target, a rowset at a time. The target's columns are matched by name where every source column has one,
// else taken in order.
StatementOutcome CopyToTable(Session& session, const CopyRequest& request) {
  Connection* lpTarget = CopyTarget(session, request.connectionName);
  if (lpTarget == nullptr) return StatementOutcome::Failed;
  Connection& connection = session.connection;
  if (!HaveStatement(connection, connection.lpStmt)) return StatementOutcome::Fatal;
  ResultSet set(connection.lpStmt, ExportRules(session));
  if (!OpenSourceQuery(session, SourceQuery(request), set)) return CloseSourceQuery(session, set, StatementOutcome::Failed);
  std::vector<TargetColumn> described;
  if ((request.fCreate && !CreateMissingTable(*lpTarget, request.targetTable, set, connection.profile)) ||
      !DescribeTargetTable(*lpTarget, request.targetTable, &described)) {
    return CloseSourceQuery(session, set, StatementOutcome::Failed);
  }
  std::vector<TargetColumn> columns;
  bool fByName = true;
  for (const ResultColumn& source : set.columns) {
    const TargetColumn* found = nullptr;
    for (const TargetColumn& column : described) {
      if (strcasecmp(source.szName.c_str(), column.name.c_str()) == 0) found = &column;
    }
    if (found == nullptr) fByName = false;
    if (found != nullptr) columns.push_back(*found);
  }
  if (!fByName) {
    if (set.columns.size() != described.size()) {
      ErrFormat("\\copy: the query gives %zu columns, and %s has %zu of which not all are named as they\n", set.columns.size(),
                SafeMessageText(session.console.charset, request.targetTable.c_str()).c_str(), described.size());
      return CloseSourceQuery(session, set, StatementOutcome::Failed);
    }
    columns = described;
  }
  StatementOutcome outcome = StatementOutcome::Failed;
  if (BindResultColumns(set, BindPurpose::Export, session.console.charset.utf8)) {
    RowSource source;
    source.lpSet = &set;
    source.binaryText = BinaryTextOf(connection.profile);
    BulkInsert insert;
    // A binary value into a binary column goes as its bytes, whatever text either driver makes of it.
    for (size_t iCol = 0; iCol < columns.size(); ++iCol) {
      SourceColumn described;
      bool fBytes = DescribeSourceColumn(set, set.columns[iCol], connection.profile, &described) && IsBinarySqlType(described.sqlType) &&
                    IsBinarySqlType(columns[iCol].sqlType);
      source.bytesWanted.push_back(fBytes ? 1 : 0);
    }
    insert.bytesGiven = source.bytesWanted;
    if (OpenBulkInsert(insert, *lpTarget, request.targetTable, columns)) {
      outcome = LoadRows(session, insert, source);
    } else {
      AbandonBulkInsert(insert);
    }
    // A named connection found gone is marked lost (and made again at a terminal); the session's stays.
    if (lpTarget != &connection) outcome = JudgeNamedOutcome(session, request.connectionName, *lpTarget, insert.lpStmt, outcome);
    CloseBulkInsert(insert);
  }
  return CloseSourceQuery(session, set, outcome);
}

// The words of a statement's text outside quotes and parentheses, upper-cased, up to `most` of them; a
// parenthesized group counts as one word "(".
std::vector<std::string> TopLevelWords(std::string_view text, size_t most) {
  std::vector<std::string> words;
  std::string_view rest = text;
  while (words.size() < most) {
    SkipBlanks(rest);
    while (!rest.empty() && (rest.front() == '\n' || rest.front() == ';')) {
      rest.remove_prefix(1);
      SkipBlanks(rest);
    }
    if (rest.empty()) break;
    if (rest.front() == '(') {
      std::string inside;
      if (!ReadParenthesized(rest, &inside)) break;
      words.emplace_back("(");
      continue;
    }
    std::string word;
    while (!rest.empty() && rest.front() != ' ' && rest.front() != '\t' && rest.front() != '\n' && rest.front() != '\r' &&
           rest.front() != '(' && rest.front() != ';') {
      char c = rest.front();
      if (c == '"' || c == '\'') {
        size_t close = rest.find(c, 1);
        size_t len = close == std::string_view::npos ? rest.size() : close + 1;
        word.append(rest.substr(0, len));
        rest.remove_prefix(len);
        continue;
      }
      word += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      rest.remove_prefix(1);
    }
    words.push_back(word);
  }
  return words;
}

// Whether the statement's words hold FROM STDIN (or TO STDOUT when fOut).
bool HasStdioWords(const std::vector<std::string>& words, bool fOut) {
  for (size_t i = 1; i + 1 < words.size(); ++i) {
    if (!fOut && words[i] == "FROM" && words[i + 1] == "STDIN") return true;
    if (fOut && words[i] == "TO" && words[i + 1] == "STDOUT") return true;
  }
  return false;
}

// Reads the lines of a COPY's data up to "\." without loading them, after a COPY that is not run.
void SkipCopyData(LineReader& lines, long& lineNumber) {
  std::string line;
  for (;;) {
    line.clear();
    bool fNewline = false;
    ReaderRead read = ReadReaderLine(lines, line, &fNewline);
    if (read != ReaderRead::Line) return;
    ++lineNumber;
    if (line == "\\." || line == "\\.\r") return;
  }
}

// A load that found the session's connection gone leaves it marked lost, its statement freed, as the judge would.
StatementOutcome MarkLost(Session& session, StatementOutcome outcome) {
  if (outcome != StatementOutcome::Lost) return outcome;
  DropStatement(session.connection.lpStmt);
  session.connection.fLost = true;
  return outcome;
}

}  // namespace

StatementOutcome CopyCommand(Session& session, std::string_view argument) {
  CopyRequest request;
  if (!ParseCopy(argument, &request)) return StatementOutcome::Failed;
  return RunOnSource(session, [&] {
    StatementOutcome outcome = request.fFrom      ? CopyFromFile(session, request)
                               : request.fToTable ? CopyToTable(session, request)
                                                  : ExportToFile(session, request);
    return MarkLost(session, outcome);
  });
}

bool IsCopyThroughStdio(std::string_view statement) {
  // Most statements are not a COPY: told by their first word before any more is read.
  std::string_view text = statement;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' || text.front() == '\r')) text.remove_prefix(1);
  if (text.size() < 5 || strncasecmp(text.data(), "copy", 4) != 0) return false;
  std::vector<std::string> words = TopLevelWords(statement, 64);
  if (words.empty() || words[0] != "COPY") return false;
  return HasStdioWords(words, false) || HasStdioWords(words, true);
}

StatementOutcome RunCopyStatement(Session& session, std::string_view statement, LineSource& source) {
  std::vector<std::string> words = TopLevelWords(statement, 64);
  bool fFromStdin = HasStdioWords(words, false);
  // The data follows in an SQL file, or in a script piped to standard input; never from a person typing.
  LineReader* lpLines = &source.file;
  std::string name = source.name;
  if (source.kind == SourceKind::Input && !StdinIsTerminal() && session.linesAhead.empty()) {
    session.input.script.fd = STDIN_FILENO;
    lpLines = &session.input.script;
    name = "standard input";
  } else if (source.kind != SourceKind::File) {
    lpLines = nullptr;
  }
  if (!fFromStdin || lpLines == nullptr) {
    ErrText("COPY through the client's standard input or output is not sent to the driver, which would wait for ever: "
            "use \\copy TABLE from FILE, or \\copy TABLE|(QUERY) to FILE\n");
    return StatementOutcome::Failed;
  }
  // COPY TABLE [(COLUMN, ...)] FROM STDIN, the text format: what a dump holds.
  std::string_view rest = statement;
  std::string copyWord = ReadWord(rest);
  std::string table = ReadWord(rest);
  std::vector<std::string> columnNames;
  SkipBlanks(rest);
  if (!rest.empty() && rest.front() == '(') {
    std::string list;
    ReadParenthesized(rest, &list);
    columnNames = SplitColumnList(list);
  }
  std::vector<std::string> tail = TopLevelWords(rest, 4);
  if (tail.size() != 2) {
    ErrFormat("%s:%ld: only COPY TABLE [(COLUMN, ...)] FROM stdin in text format is read; its data is skipped\n",
              SafeMessageText(session.console.charset, name.c_str()).c_str(), source.lineNumber);
    SkipCopyData(*lpLines, source.lineNumber);
    return StatementOutcome::Failed;
  }
  DelimitedReader reader;
  reader.format = DelimitedFormat::CopyText;
  reader.lpLines = lpLines;
  reader.lpLineNumber = &source.lineNumber;
  RowSource rows;
  rows.lpReader = &reader;
  rows.name = name;
  StatementOutcome outcome = RunOnSource(session, [&] { return LoadFromReader(session, table, columnNames, false, rows); });
  // What is left of the data after a failure is not SQL: the script reads on after its end.
  if (outcome != StatementOutcome::Ok && !(reader.szLine == "\\." || reader.szLine == "\\.\r")) SkipCopyData(*lpLines, source.lineNumber);
  return outcome;
}
