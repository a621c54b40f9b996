// The description of a table or view (\d): its columns, indexes, foreign keys, the tables that reference it,
// its checks and a view's definition, from the source's own catalog or ODBC's catalog calls.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include "display/cell_text.h"
#include "display/output.h"
#include "input/interrupt.h"
#include "session/catalog_access.h"
#include "session/catalog_commands.h"

namespace {

// Reads a text column of the current row with SQLGetData; *fNull says whether it was NULL. Returns false
// when the call failed (reported).
bool ReadText(SQLHSTMT lpStmt, SQLUSMALLINT iCol, std::string* text, bool* fNull) {
  char buffer[1024];
  SQLLEN ind = 0;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLGetData(lpStmt, iCol, SQL_C_CHAR, buffer, sizeof buffer, &ind),
                   "SQLGetData(lpStmt, iCol, SQL_C_CHAR, szValue, cbValue, &ind)")) {
    return false;
  }
  *fNull = ind == SQL_NULL_DATA;
  text->assign(*fNull ? "" : buffer);
  return true;
}

// Reads a text column of the current row whole with SQLGetData, in pieces. Returns false when a call
// failed (reported); NULL reads as the empty text.
bool ReadWholeText(SQLHSTMT lpStmt, SQLUSMALLINT iCol, std::string* text) {
  text->clear();
  char buffer[4096];
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN RetCode = SQLGetData(lpStmt, iCol, SQL_C_CHAR, buffer, sizeof buffer, &ind);
    if (RetCode == SQL_NO_DATA || ind == SQL_NULL_DATA) return true;
    if (!SQL_SUCCEEDED(RetCode)) {
      return CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLGetData(lpStmt, iCol, SQL_C_CHAR, szValue, cbValue, &ind)");
    }
    // A piece that did not fit fills the buffer but for its NUL; the last piece's length is known.
    bool fMore = ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buffer);
    text->append(buffer, fMore ? sizeof buffer - 1 : static_cast<size_t>(ind));
    if (!fMore) return true;
  }
}

// Writes the heading of one part of a description, in the table format only: a CSV or TSV file holds data.
void WriteHeading(const ListingStyle& style, const std::string& heading) {
  if (!IsTableFormat(style.format)) return;
  std::string line;
  AppendSafeText(style.lpConsole->charset, line, heading.data(), heading.size());
  line += '\n';
  OutText(line.c_str());
}

// How bad an outcome is: Fatal over Lost over Cancelled over Failed over Ok.
int Severity(StatementOutcome outcome) {
  switch (outcome) {
    case StatementOutcome::Ok: return 0;
    case StatementOutcome::Failed: return 1;
    case StatementOutcome::Cancelled: return 2;
    case StatementOutcome::Lost: return 3;
    case StatementOutcome::Fatal: return 4;
  }
  return 4;
}

// The worse of two outcomes.
StatementOutcome Worse(StatementOutcome a, StatementOutcome b) { return Severity(a) >= Severity(b) ? a : b; }

// A table or view found for a description.
struct FoundTable {
  CatalogTarget target;  // its catalog, schema and name as the catalog gives them
  bool fView = false;    // it is a view
};

// Whether a part as typed holds a wildcard: then it names every match.
bool IsWildcard(const NamePart& part) {
  return !part.fQuoted && part.szText.find_first_of("*%") != std::string::npos;
}

// Reads the catalog, schema, name and type of the current SQLTables row into *found. Returns false when a
// read failed (reported).
bool ReadTableRow(SQLHSTMT lpStmt, FoundTable* found) {
  bool fNull = false;
  CatalogTarget& row = found->target;
  if (!ReadText(lpStmt, 1, &row.szCatalog, &fNull)) return false;
  row.fCatalog = !fNull;
  if (!ReadText(lpStmt, 2, &row.szSchema, &fNull)) return false;
  row.fSchema = !fNull;
  if (!ReadText(lpStmt, 3, &row.szName, &fNull)) return false;
  row.fName = !fNull;
  std::string type;
  if (!ReadText(lpStmt, 4, &type, &fNull)) return false;
  found->fView = type.find("VIEW") != std::string::npos;
  return true;
}

// Whether two names are equal but for the case of ASCII letters.
bool EqualButForCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return tolower(static_cast<unsigned char>(x)) == tolower(static_cast<unsigned char>(y));
         });
}

// Finds the tables and views the parts name, through SQLTables. A name without a wildcard finds one: the
// first whose name is the one asked for, exactly or else but for case. A name with a wildcard finds every
// table and view that matches, sorted by schema and name. Returns Failed, with the error reported, when
// nothing matches.
StatementOutcome FindTables(Connection& connection, const std::vector<NamePart>& parts,
                            const SourceNaming& naming, const TextCharset& charset, std::vector<FoundTable>* found) {
  SQLHDBC lpDbc = connection.lpDbc;
  SQLHSTMT& lpStmt = connection.lpStmt;
  if (!CatalogStatement(connection)) return StatementOutcome::Fatal;
  const bool fPattern = std::any_of(parts.begin(), parts.end(), IsWildcard);
  CatalogTarget target = TargetOf(parts, naming, fPattern);
  UseCurrentCatalog(lpDbc, naming, &target);
  std::string wanted = StoredName(parts.back(), naming);
  std::string szTypes = "TABLE,VIEW";
  BeginCancellableCall(connection.canceller, lpStmt);
  SQLRETURN RetCode = SQLTables(lpStmt, Argument(target.szCatalog, target.fCatalog), SQL_NTS,
                                Argument(target.szSchema, target.fSchema), SQL_NTS, Argument(target.szName, true), SQL_NTS,
                                Argument(szTypes, fPattern), SQL_NTS);
  EndCancellableCall(connection.canceller);
  if (InterruptRequested()) return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLTables(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, szType, SQL_NTS)")) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  found->clear();
  bool fExactFound = false;
  for (;;) {
    RetCode = SQLFetch(lpStmt);
    if (RetCode == SQL_NO_DATA) break;
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)")) {
      return CloseCursor(lpStmt, StatementOutcome::Failed);
    }
    FoundTable row;
    if (!ReadTableRow(lpStmt, &row)) return CloseCursor(lpStmt, StatementOutcome::Failed);
    if (fPattern) {
      found->push_back(row);
      continue;
    }
    bool fExact = row.target.szName == wanted;
    if (fExact || (found->empty() && EqualButForCase(row.target.szName, wanted))) {
      found->assign(1, row);
      fExactFound = fExact;
      if (fExactFound) break;
    }
  }
  StatementOutcome outcome = CloseCursor(lpStmt, StatementOutcome::Ok);
  if (outcome != StatementOutcome::Ok) return outcome;
  if (found->empty()) {
    std::string typed;
    for (const NamePart& part : parts) typed += (typed.empty() ? "" : ".") + part.szText;
    ErrFormat("Did not find any table or view named %s\n", SafeMessageText(charset, typed.c_str()).c_str());
    return StatementOutcome::Failed;
  }
  std::stable_sort(found->begin(), found->end(), [](const FoundTable& a, const FoundTable& b) {
    if (a.target.szCatalog != b.target.szCatalog) return a.target.szCatalog < b.target.szCatalog;
    if (a.target.szSchema != b.target.szSchema) return a.target.szSchema < b.target.szSchema;
    return a.target.szName < b.target.szName;
  });
  return StatementOutcome::Ok;
}

// Whether a failed call's first diagnostic says the driver has no such function (IM001) or cannot do what
// was asked (HYC00).
bool DriverCannot(SQLHSTMT lpStmt) {
  SQLCHAR szState[6] = "";
  SQLINTEGER native = 0;
  SQLCHAR szMessage[512];
  SQLSMALLINT cbMessage = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, lpStmt, 1, szState, &native, szMessage, sizeof szMessage, &cbMessage))) {
    return false;
  }
  return strcmp(reinterpret_cast<char*>(szState), "IM001") == 0 || strcmp(reinterpret_cast<char*>(szState), "HYC00") == 0;
}

// One part of a description: what it is called, what the driver cannot do when it cannot, and how its
// result is had.
struct DescriptionPart {
  std::string szHeading;                        // the line above it in a table format
  const char* szWhat;                           // "foreign keys": for "This driver cannot list foreign keys."
  std::function<SQLRETURN(SQLHSTMT)> call;      // the catalog call or query that opens its result
  std::string szCallText;                       // the call as written, for its error message
  std::vector<ChosenColumn> chosen;             // the result's columns shown, and their titles; empty: all
  SQLUSMALLINT iStatisticsType = 0;             // SQLStatistics' TYPE column: its rows of type SQL_TABLE_STAT
                                                // describe the table, not an index, and are skipped; 0: none
  SQLUSMALLINT function = 0;                    // the ODBC function (SQL_API_...) the driver must offer; 0: a query
};

// Reads a small integer column of the current row; NULL reads as -1. Returns false when the call failed.
bool ReadSmallInt(SQLHSTMT lpStmt, SQLUSMALLINT iCol, SQLSMALLINT* value) {
  SQLLEN ind = 0;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLGetData(lpStmt, iCol, SQL_C_SSHORT, value, sizeof *value, &ind),
                   "SQLGetData(lpStmt, iCol, SQL_C_SSHORT, &sValue, sizeof sValue, &ind)")) {
    return false;
  }
  if (ind == SQL_NULL_DATA) *value = -1;
  return true;
}

// Runs a part's call and reads whether its result has a row, closing the cursor again: a part without rows
// is left out. *cSkipped counts the table-statistics rows before the first row shown (the driver lists
// them first). A driver that cannot make the call says so on one line, and the description goes on.
StatementOutcome PartHasRows(Connection& connection, const DescriptionPart& part, bool* fRows, int* cSkipped) {
  SQLHDBC lpDbc = connection.lpDbc;
  SQLHSTMT& lpStmt = connection.lpStmt;
  *fRows = false;
  *cSkipped = 0;
  if (part.function != 0 && !DriverHasFunction(lpDbc, part.function)) {
    ErrFormat("This driver cannot list %s.\n", part.szWhat);
    return StatementOutcome::Ok;
  }
  if (!CatalogStatement(connection)) return StatementOutcome::Fatal;
  BeginCancellableCall(connection.canceller, lpStmt);
  SQLRETURN RetCode = part.call(lpStmt);
  EndCancellableCall(connection.canceller);
  if (InterruptRequested()) {
    if (RetCode != SQL_SUCCESS) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
    return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  }
  if (RetCode == SQL_ERROR && DriverCannot(lpStmt)) {
    ErrFormat("This driver cannot list %s.\n", part.szWhat);
    return CloseCursor(lpStmt, StatementOutcome::Ok);
  }
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, part.szCallText.c_str())) return CloseCursor(lpStmt, StatementOutcome::Failed);
  // A driver that only pretends to make the call (MDBTools' SQLStatistics) opens no result to fetch from.
  SQLSMALLINT cCols = 0;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &cCols), "SQLNumResultCols(lpStmt,&sNumResults)")) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  if (cCols < part.iStatisticsType || cCols == 0) {
    ErrFormat("This driver cannot list %s.\n", part.szWhat);
    return CloseCursor(lpStmt, StatementOutcome::Ok);
  }
  for (;;) {
    RetCode = SQLFetch(lpStmt);
    if (RetCode == SQL_NO_DATA) return CloseCursor(lpStmt, StatementOutcome::Ok);
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)")) return CloseCursor(lpStmt, StatementOutcome::Failed);
    SQLSMALLINT type = -1;
    if (part.iStatisticsType != 0 && !ReadSmallInt(lpStmt, part.iStatisticsType, &type)) {
      return CloseCursor(lpStmt, StatementOutcome::Failed);
    }
    if (type != SQL_TABLE_STAT) break;
    ++*cSkipped;
  }
  *fRows = true;
  return CloseCursor(lpStmt, StatementOutcome::Ok);
}

// Lists one part of a description under its heading, unless it has no rows. A query of the source's own
// catalog runs once, the writer putting the heading above its first row; a catalog call is made once to
// learn whether the driver can make it and which table-statistics rows come first, then again to list.
StatementOutcome ListPart(Connection& connection, const DescriptionPart& part, const ListingStyle& style) {
  ListingStyle headed = style;
  headed.szHeading = part.szHeading.c_str();
  if (part.function == 0) return ListCatalogResult(connection, part.call, part.szCallText.c_str(), part.chosen, headed);
  bool fRows = false;
  int cSkipped = 0;
  StatementOutcome outcome = PartHasRows(connection, part, &fRows, &cSkipped);
  if (outcome != StatementOutcome::Ok || !fRows) return outcome;
  if (cSkipped == 0) return ListCatalogResult(connection, part.call, part.szCallText.c_str(), part.chosen, headed);
  // The same call gives the same rows: the table-statistics rows found before are fetched past unshown,
  // one row a fetch.
  auto skipStatistics = [&](SQLHSTMT lpStatement) {
    SQLRETURN RetCode = part.call(lpStatement);
    for (int iRow = 0; iRow < cSkipped && SQL_SUCCEEDED(RetCode); ++iRow) RetCode = SQLFetch(lpStatement);
    return RetCode;
  };
  headed.fRowsets = false;
  return ListCatalogResult(connection, skipStatistics, part.szCallText.c_str(), part.chosen, headed);
}

// Writes a view's definition under its heading as the source keeps it, line by line, in a table format;
// a CSV or TSV file gets it as a result of one column.
StatementOutcome ListViewDefinition(Connection& connection, const DescriptionPart& part, const ListingStyle& style) {
  SQLHSTMT& lpStmt = connection.lpStmt;
  if (!IsTableFormat(style.format)) return ListPart(connection, part, style);
  if (!CatalogStatement(connection)) return StatementOutcome::Fatal;
  BeginCancellableCall(connection.canceller, lpStmt);
  SQLRETURN RetCode = part.call(lpStmt);
  EndCancellableCall(connection.canceller);
  if (InterruptRequested()) return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, part.szCallText.c_str())) return CloseCursor(lpStmt, StatementOutcome::Failed);
  RetCode = SQLFetch(lpStmt);
  if (RetCode == SQL_NO_DATA) return CloseCursor(lpStmt, StatementOutcome::Ok);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)")) return CloseCursor(lpStmt, StatementOutcome::Failed);
  std::string definition;
  if (!ReadWholeText(lpStmt, 1, &definition)) return CloseCursor(lpStmt, StatementOutcome::Failed);
  StatementOutcome outcome = CloseCursor(lpStmt, StatementOutcome::Ok);
  if (definition.empty()) return outcome;
  WriteHeading(style, part.szHeading);
  const TextCharset& charset = style.lpConsole->charset;
  std::string text;
  for (size_t pos = 0; pos <= definition.size();) {
    size_t end = definition.find('\n', pos);
    if (end == std::string::npos) end = definition.size();
    size_t lineEnd = end > pos && definition[end - 1] == '\r' ? end - 1 : end;
    text += "  ";
    AppendSafeText(charset, text, definition.data() + pos, lineEnd - pos);
    text += '\n';
    pos = end + 1;
  }
  OutText(text.c_str());
  return outcome;
}

// A part whose result is a query of the source's own catalog.
DescriptionPart QueryPart(const char* heading, const char* what, std::string query) {
  DescriptionPart part{heading, what, nullptr, "SQLExecDirect(lpStmt, szCatalogQuery, SQL_NTS)", {}};
  auto text = std::make_shared<std::string>(std::move(query));
  part.call = [text](SQLHSTMT lpStatement) {
    return SQLExecDirect(lpStatement, reinterpret_cast<SQLCHAR*>(&(*text)[0]), SQL_NTS);
  };
  return part;
}

// The index just past a quoted string or name of SQLite's that starts at `at` ('...', "...", `...` or [...]).
size_t PastSqliteQuote(const std::string& sql, size_t at) {
  const char close = sql[at] == '[' ? ']' : sql[at];
  for (size_t i = at + 1; i < sql.size(); ++i) {
    if (sql[i] != close) continue;
    if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
      ++i;  // a doubled quote stands for itself
      continue;
    }
    return i + 1;
  }
  return sql.size();
}

// Whether c may be part of a word of SQL.
bool IsWordChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The CHECK constraints of a SQLite CREATE TABLE text, each "CHECK (condition)" as written: SQLite keeps
// them in that text only.
std::vector<std::string> SqliteCheckClauses(const std::string& sql) {
  std::vector<std::string> checks;
  const size_t n = sql.size();
  for (size_t i = 0; i < n;) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      i = PastSqliteQuote(sql, i);
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      i = sql.find('\n', i);
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      size_t end = sql.find("*/", i + 2);
      i = end == std::string::npos ? n : end + 2;
    } else if ((i == 0 || !IsWordChar(sql[i - 1])) && n - i > 5 && strncasecmp(&sql[i], "check", 5) == 0 && !IsWordChar(sql[i + 5])) {
      size_t open = i + 5;
      while (open < n && isspace(static_cast<unsigned char>(sql[open]))) ++open;
      i = open;
      if (open >= n || sql[open] != '(') continue;
      int depth = 0;
      while (i < n) {
        const char d = sql[i];
        if (d == '\'' || d == '"' || d == '`' || d == '[') {
          i = PastSqliteQuote(sql, i);
          continue;
        }
        ++i;
        if (d == '(') ++depth;
        if (d == ')' && --depth == 0) break;
      }
      checks.push_back("CHECK " + sql.substr(open, i - open));
    } else {
      ++i;
    }
    if (i == std::string::npos) break;
  }
  return checks;
}

// Reads the one text the query gives into *text (empty when it gives no row). Returns the outcome.
StatementOutcome ReadQueryText(Connection& connection, std::string query, std::string* text) {
  SQLHSTMT& lpStmt = connection.lpStmt;
  text->clear();
  if (!CatalogStatement(connection)) return StatementOutcome::Fatal;
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&query[0]), SQL_NTS);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLExecDirect(lpStmt, szCatalogQuery, SQL_NTS)")) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  RetCode = SQLFetch(lpStmt);
  if (RetCode == SQL_NO_DATA) return CloseCursor(lpStmt, StatementOutcome::Ok);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)") || !ReadWholeText(lpStmt, 1, text)) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  return CloseCursor(lpStmt, StatementOutcome::Ok);
}

// The parts of a SQLite table's description, from its pragmas and sqlite_master.
std::vector<DescriptionPart> SqliteParts(const FoundTable& table, const SourceNaming& naming) {
  const std::string name = SqlLiteral(table.target.szName, SqlDialect::Sqlite);
  auto t = [&](const char* title) { return Title(title, naming); };
  std::vector<DescriptionPart> parts;
  parts.push_back(QueryPart("", "columns",
      "select name as " + t("column") + ", type as " + t("type") + ", case when \"notnull\" or pk > 0 then 'NO' else 'YES' end as " +
      t("nullable") + ", coalesce(dflt_value, '') as " + t("default") + " from pragma_table_info(" + name + ") order by cid"));
  parts.push_back(QueryPart("Indexes:", "indexes",
      "select * from (select i.name as " + t("index") + ", case when i.origin = 'pk' then 'primary key' when i.\"unique\" then 'unique' else '' end as " +
      t("kind") + ", (select group_concat(c, ', ') from (select coalesce(x.name, '(expression)') || case when x.\"desc\" then ' DESC' else '' end as c "
      "from pragma_index_xinfo(i.name) x where x.key order by x.seqno)) as " + t("columns") +
      ", case when i.partial then (select trim(substr(m.sql, instr(upper(m.sql), ' WHERE ') + 7)) from sqlite_master m where m.type = 'index' and m.name = i.name) else '' end as " +
      t("condition") + " from pragma_index_list(" + name + ") i "
      "union all select 'PRIMARY KEY', 'primary key', group_concat(name, ', '), '' from (select name from pragma_table_info(" + name +
      ") where pk > 0 order by pk) having count(*) > 0 and not exists (select 1 from pragma_index_list(" + name + ") where origin = 'pk')) "
      "order by " + t("kind") + " <> 'primary key', " + t("kind") + " <> 'unique', " + t("index")));
  parts.push_back(QueryPart("Foreign keys:", "foreign keys",
      "select group_concat(\"from\", ', ') as " + t("columns") + ", \"table\" || coalesce('(' || group_concat(\"to\", ', ') || ')', '') as " +
      t("references") + ", on_update as " + t("on update") + ", on_delete as " + t("on delete") +
      " from (select * from pragma_foreign_key_list(" + name + ") order by id, seq) group by id order by id"));
  // A table that references this one names it in its CREATE TABLE text (SQLite folds the case of ASCII
  // letters only): only those tables' foreign keys are read, not every table's. A name with a quote
  // character may stand there escaped, so then every table is read.
  const std::string& tableName = table.target.szName;
  const std::string referencingText = tableName.find_first_of("\"'`]") == std::string::npos
                                          ? " and instr(lower(sql), lower(" + name + ")) > 0"
                                          : "";
  parts.push_back(QueryPart("Referenced by:", "the tables that reference it",
      "select m.name as " + t("table") + ", group_concat(f.\"from\", ', ') as " + t("columns") + ", group_concat(f.\"to\", ', ') as " +
      t("references") + ", f.on_update as " + t("on update") + ", f.on_delete as " + t("on delete") +
      " from (select name from sqlite_master where type = 'table'" + referencingText + ") m join pragma_foreign_key_list(m.name) f where f.\"table\" = " +
      name + " collate nocase group by m.name, f.id order by m.name, f.id"));
  if (table.fView) {
    parts.push_back(QueryPart("View definition:", "view definitions",
        "select sql as " + t("definition") + " from sqlite_master where type = 'view' and name = " + name));
  }
  return parts;
}

// The parts of a PostgreSQL table's description, from pg_catalog.
std::vector<DescriptionPart> PostgresParts(const FoundTable& table, const SourceNaming& naming) {
  const std::string oid = "(select c.oid from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace where n.nspname = " +
                          SqlLiteral(table.target.szSchema, SqlDialect::PostgreSql) + " and c.relname = " +
                          SqlLiteral(table.target.szName, SqlDialect::PostgreSql) + ")";
  auto t = [&](const char* title) { return Title(title, naming); };
  auto rule = [](const char* column) {
    return std::string("case ") + column + " when 'a' then 'NO ACTION' when 'r' then 'RESTRICT' when 'c' then 'CASCADE' "
           "when 'n' then 'SET NULL' when 'd' then 'SET DEFAULT' end";
  };
  auto columnList = [](const char* keys, const char* relation) {
    return std::string("(select string_agg(a.attname, ', ' order by k.n) from unnest(") + keys +
           ") with ordinality k(attnum, n) join pg_catalog.pg_attribute a on a.attrelid = " + relation + " and a.attnum = k.attnum)";
  };
  std::vector<DescriptionPart> parts;
  parts.push_back(QueryPart("", "columns",
      "select a.attname as " + t("column") + ", pg_catalog.format_type(a.atttypid, a.atttypmod) as " + t("type") +
      ", case when a.attnotnull then 'NO' else 'YES' end as " + t("nullable") + ", coalesce(pg_catalog.pg_get_expr(d.adbin, d.adrelid), '') as " +
      t("default") + " from pg_catalog.pg_attribute a left join pg_catalog.pg_attrdef d on d.adrelid = a.attrelid and d.adnum = a.attnum "
      "where a.attrelid = " + oid + " and a.attnum > 0 and not a.attisdropped order by a.attnum"));
  parts.push_back(QueryPart("Indexes:", "indexes",
      "select ic.relname as " + t("index") + ", case when i.indisprimary then 'primary key' when i.indisunique then 'unique' else '' end as " +
      t("kind") + ", (select string_agg(pg_catalog.pg_get_indexdef(i.indexrelid, k, true) || case when i.indoption[k - 1] & 1 = 1 then ' DESC' else '' end, "
      "', ' order by k) from generate_series(1, i.indnkeyatts) k) as " + t("columns") + ", coalesce(pg_catalog.pg_get_expr(i.indpred, i.indrelid, true), '') as " +
      t("condition") + " from pg_catalog.pg_index i join pg_catalog.pg_class ic on ic.oid = i.indexrelid where i.indrelid = " + oid +
      " order by not i.indisprimary, not i.indisunique, ic.relname"));
  parts.push_back(QueryPart("Foreign keys:", "foreign keys",
      "select con.conname as " + t("foreign key") + ", " + columnList("con.conkey", "con.conrelid") + " as " + t("columns") +
      ", fn.nspname || '.' || fc.relname || '(' || " + columnList("con.confkey", "con.confrelid") + " || ')' as " + t("references") + ", " +
      rule("con.confupdtype") + " as " + t("on update") + ", " + rule("con.confdeltype") + " as " + t("on delete") +
      " from pg_catalog.pg_constraint con join pg_catalog.pg_class fc on fc.oid = con.confrelid join pg_catalog.pg_namespace fn on fn.oid = fc.relnamespace "
      "where con.conrelid = " + oid + " and con.contype = 'f' order by con.conname"));
  parts.push_back(QueryPart("Referenced by:", "the tables that reference it",
      "select cn.nspname || '.' || cc.relname as " + t("table") + ", con.conname as " + t("foreign key") + ", " +
      columnList("con.conkey", "con.conrelid") + " as " + t("columns") + ", " + columnList("con.confkey", "con.confrelid") + " as " +
      t("references") + ", " + rule("con.confupdtype") + " as " + t("on update") + ", " + rule("con.confdeltype") + " as " + t("on delete") +
      " from pg_catalog.pg_constraint con join pg_catalog.pg_class cc on cc.oid = con.conrelid join pg_catalog.pg_namespace cn on cn.oid = cc.relnamespace "
      "where con.confrelid = " + oid + " and con.contype = 'f' order by 1, 2"));
  parts.push_back(QueryPart("Check constraints:", "check constraints",
      "select conname as " + t("check") + ", pg_catalog.pg_get_constraintdef(oid, true) as " + t("condition") +
      " from pg_catalog.pg_constraint where conrelid = " + oid + " and contype = 'c' order by conname"));
  if (table.fView) {
    parts.push_back(QueryPart("View definition:", "view definitions",
        "select pg_catalog.pg_get_viewdef(" + oid + ", true) as " + t("definition")));
  }
  return parts;
}

// The parts of a MariaDB or MySQL table's description, from information_schema: each query names its
// database and table, which the server answers without opening every table.
std::vector<DescriptionPart> MySqlParts(const FoundTable& table, const SourceNaming& naming) {
  const std::string database = SqlLiteral(table.target.szCatalog, SqlDialect::MySql);
  const std::string name = SqlLiteral(table.target.szName, SqlDialect::MySql);
  auto t = [&](const char* title) { return Title(title, naming); };
  std::vector<DescriptionPart> parts;
  parts.push_back(QueryPart("", "columns",
      "select column_name as " + t("column") + ", column_type as " + t("type") + ", case when is_nullable = 'YES' and column_key <> 'PRI' "
      "then 'YES' else 'NO' end as " + t("nullable") + ", case when extra like '%auto_increment%' then 'auto_increment' else coalesce(column_default, '') end as " + t("default") +
      " from information_schema.columns where table_schema = " + database + " and table_name = " + name + " order by ordinal_position"));
  parts.push_back(QueryPart("Indexes:", "indexes",
      "select index_name as " + t("index") + ", case when index_name = 'PRIMARY' then 'primary key' when non_unique = 0 then 'unique' else '' end as " +
      t("kind") + ", group_concat(concat(column_name, case when collation = 'D' then ' DESC' else '' end) order by seq_in_index separator ', ') as " +
      t("columns") + " from information_schema.statistics where table_schema = " + database + " and table_name = " + name +
      " group by index_name, non_unique order by index_name <> 'PRIMARY', non_unique, index_name"));
  // Each information_schema table is read with the database and table named, as literals: a join would
  // have the server open every table (0.5 s with 6,000 tables).
  auto rule = [&](const char* column) {
    return std::string("(select r.") + column + " from information_schema.referential_constraints r where r.constraint_schema = " + database +
           " and r.table_name = " + name + " and r.constraint_name = k.constraint_name)";
  };
  parts.push_back(QueryPart("Foreign keys:", "foreign keys",
      "select k.constraint_name as " + t("foreign key") + ", group_concat(k.column_name order by k.ordinal_position separator ', ') as " +
      t("columns") + ", concat(k.referenced_table_schema, '.', k.referenced_table_name, '(', group_concat(k.referenced_column_name order by "
      "k.ordinal_position separator ', '), ')') as " + t("references") + ", " + rule("update_rule") + " as " + t("on update") + ", " +
      rule("delete_rule") + " as " + t("on delete") + " from information_schema.key_column_usage k "
      "where k.table_schema = " + database + " and k.table_name = " + name + " and k.referenced_table_name is not null "
      "group by k.constraint_name, k.referenced_table_schema, k.referenced_table_name order by k.constraint_name"));
  // key_column_usage finds the references to a table by opening every table on the server (0.8 s with
  // 6,000 tables); InnoDB's own list of foreign keys answers at once, where its names are the SQL names
  // (it writes other characters as @xxxx) and the user may read it. Otherwise the slow way.
  std::string slowQuery =
      "select concat(k.table_schema, '.', k.table_name) as " + t("table") + ", k.constraint_name as " + t("foreign key") +
      ", group_concat(k.column_name order by k.ordinal_position separator ', ') as " + t("columns") +
      ", group_concat(k.referenced_column_name order by k.ordinal_position separator ', ') as " + t("references") + ", r.update_rule as " +
      t("on update") + ", r.delete_rule as " + t("on delete") +
      " from information_schema.key_column_usage k join information_schema.referential_constraints r on r.constraint_schema = "
      "k.constraint_schema and r.constraint_name = k.constraint_name and r.table_name = k.table_name where k.referenced_table_schema = " +
      database + " and k.referenced_table_name = " + name + " group by k.table_schema, k.table_name, k.constraint_name, r.update_rule, "
      "r.delete_rule order by 1, 2";
  auto isPlain = [](const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; });
  };
  if (!isPlain(table.target.szCatalog) || !isPlain(table.target.szName)) {
    parts.push_back(QueryPart("Referenced by:", "the tables that reference it", slowQuery));
  } else {
    auto columns = [](const char* column) {
      return std::string("(select group_concat(c.") + column + " order by c.pos separator ', ') from information_schema.innodb_sys_foreign_cols c "
             "where c.id = f.id)";
    };
    std::string fastQuery =
        "select replace(f.for_name, '/', '.') as " + t("table") + ", substring_index(f.id, '/', -1) as " + t("foreign key") + ", " +
        columns("for_col_name") + " as " + t("columns") + ", " + columns("ref_col_name") + " as " + t("references") +
        ", case when f.type & 4 then 'CASCADE' when f.type & 8 then 'SET NULL' when f.type & 32 then 'NO ACTION' else 'RESTRICT' end as " +
        t("on update") + ", case when f.type & 1 then 'CASCADE' when f.type & 2 then 'SET NULL' when f.type & 16 then 'NO ACTION' "
        "else 'RESTRICT' end as " + t("on delete") + " from information_schema.innodb_sys_foreign f where f.ref_name = " +
        SqlLiteral(table.target.szCatalog + "/" + table.target.szName, SqlDialect::MySql) + " order by 1, 2";
    DescriptionPart part = QueryPart("Referenced by:", "the tables that reference it", fastQuery);
    auto fast = part.call;
    auto slow = QueryPart("", "", slowQuery).call;
    part.call = [fast, slow](SQLHSTMT lpStatement) {
      SQLRETURN RetCode = fast(lpStatement);
      return RetCode == SQL_ERROR ? slow(lpStatement) : RetCode;
    };
    parts.push_back(part);
  }
  parts.push_back(QueryPart("Check constraints:", "check constraints",
      "select constraint_name as " + t("check") + ", check_clause as " + t("condition") + " from information_schema.check_constraints "
      "where constraint_schema = " + database + " and table_name = " + name + " order by constraint_name"));
  if (table.fView) {
    parts.push_back(QueryPart("View definition:", "view definitions",
        "select view_definition as " + t("definition") + " from information_schema.views where table_schema = " + database +
        " and table_name = " + name));
  }
  return parts;
}

// The name a description shows: schema.name, database.name where the source has catalogs and no
// schemas, or the name alone.
std::string ShownName(const FoundTable& table, const SourceNaming& naming) {
  const CatalogTarget& target = table.target;
  if (target.fSchema && !target.szSchema.empty()) return target.szSchema + "." + target.szName;
  if (!naming.fSchemas && target.fCatalog && !target.szCatalog.empty()) return target.szCatalog + "." + target.szName;
  return target.szName;
}

// Describes a table from the source's own catalog, read by its dialect: what ODBC's catalog calls cannot
// tell (types as written, rules of foreign keys, checks, index order and conditions, a view's text).
StatementOutcome DescribeFromOwnCatalog(Connection& connection, const FoundTable& table, SqlDialect dialect,
                                        const SourceNaming& naming, const ListingStyle& style) {
  std::vector<DescriptionPart> parts = dialect == SqlDialect::Sqlite       ? SqliteParts(table, naming)
                                       : dialect == SqlDialect::PostgreSql ? PostgresParts(table, naming)
                                                                           : MySqlParts(table, naming);
  parts[0].szHeading = (table.fView ? "View " : "Table ") + ShownName(table, naming) + ":";
  StatementOutcome outcome = StatementOutcome::Ok;
  if (dialect == SqlDialect::Sqlite && !table.fView) {
    // SQLite's checks are in its CREATE TABLE text only: they are listed as a result of SQLite's own.
    std::string sql;
    outcome = ReadQueryText(connection,
                            "select sql from sqlite_master where type = 'table' and name = " + SqlLiteral(table.target.szName, dialect), &sql);
    if (outcome == StatementOutcome::Fatal) return outcome;
    std::string values;
    for (const std::string& check : SqliteCheckClauses(sql)) values += (values.empty() ? "(" : ", (") + SqlLiteral(check, dialect) + ")";
    if (!values.empty()) {
      parts.push_back(QueryPart("Check constraints:", "check constraints",
                                "select column1 as " + Title("condition", naming) + " from (values " + values + ")"));
    }
  }
  for (const DescriptionPart& part : parts) {
    StatementOutcome listed = part.szWhat == std::string("view definitions") ? ListViewDefinition(connection, part, style)
                                                                             : ListPart(connection, part, style);
    outcome = Worse(outcome, listed);
    if (outcome == StatementOutcome::Fatal || outcome == StatementOutcome::Cancelled) return outcome;
  }
  return outcome;
}

// Describes a table through ODBC's catalog calls alone, for a source whose own catalog the console does
// not read: columns, primary key, indexes, foreign keys, each left out when it has no rows.
StatementOutcome DescribeThroughOdbc(Connection& connection, const FoundTable& table, const SourceNaming& naming,
                                     const ListingStyle& style) {
  // The calls take the table as the catalog spells it; SQLColumns takes a pattern.
  auto target = std::make_shared<CatalogTarget>(table.target);
  auto namePattern = std::make_shared<std::string>(LiteralPattern(table.target.szName, naming));
  auto schemaPattern = std::make_shared<std::string>(LiteralPattern(table.target.szSchema, naming));
  std::vector<DescriptionPart> parts;
  // NULLABLE (11) is ODBC 2's numeric column: some drivers leave the text IS_NULLABLE empty for ODBC 2.
  parts.push_back({(table.fView ? "View " : "Table ") + ShownName(table, naming) + ":", "columns",
                   [=](SQLHSTMT lpStatement) {
                     return SQLColumns(lpStatement, Argument(target->szCatalog, target->fCatalog), SQL_NTS,
                                       Argument(*schemaPattern, target->fSchema), SQL_NTS, Argument(*namePattern, true), SQL_NTS, nullptr, 0);
                   },
                   "SQLColumns(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, NULL, 0)",
                   {{4, "column"}, {6, "type"}, {7, "size"}, {9, "scale"}, {11, "nullable"}, {13, "default"}},
                   0,
                   SQL_API_SQLCOLUMNS});
  parts.push_back({"Primary key:", "primary keys",
                   [=](SQLHSTMT lpStatement) {
                     return SQLPrimaryKeys(lpStatement, Argument(target->szCatalog, target->fCatalog), SQL_NTS,
                                           Argument(target->szSchema, target->fSchema), SQL_NTS, Argument(target->szName, true), SQL_NTS);
                   },
                   "SQLPrimaryKeys(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS)",
                   {{4, "column"}, {5, "position"}, {6, "key name"}},
                   0,
                   SQL_API_SQLPRIMARYKEYS});
  parts.push_back({"Indexes:", "indexes",
                   [=](SQLHSTMT lpStatement) {
                     return SQLStatistics(lpStatement, Argument(target->szCatalog, target->fCatalog), SQL_NTS,
                                          Argument(target->szSchema, target->fSchema), SQL_NTS, Argument(target->szName, true), SQL_NTS,
                                          SQL_INDEX_ALL, SQL_QUICK);
                   },
                   "SQLStatistics(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK)",
                   {{4, "non-unique"}, {6, "index"}, {8, "position"}, {9, "column"}, {10, "order"}},
                   7,
                   SQL_API_SQLSTATISTICS});
  parts.push_back({"Foreign keys:", "foreign keys",
                   [=](SQLHSTMT lpStatement) {
                     return SQLForeignKeys(lpStatement, nullptr, 0, nullptr, 0, nullptr, 0, Argument(target->szCatalog, target->fCatalog),
                                           SQL_NTS, Argument(target->szSchema, target->fSchema), SQL_NTS, Argument(target->szName, true), SQL_NTS);
                   },
                   "SQLForeignKeys(lpStmt, NULL, 0, NULL, 0, NULL, 0, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS)",
                   {{2, "references schema"}, {3, "references table"}, {4, "references column"}, {8, "column"}, {12, "key name"}},
                   0,
                   SQL_API_SQLFOREIGNKEYS});
  StatementOutcome outcome = StatementOutcome::Ok;
  for (const DescriptionPart& part : parts) {
    outcome = Worse(outcome, ListPart(connection, part, style));
    if (outcome == StatementOutcome::Fatal || outcome == StatementOutcome::Cancelled) return outcome;
  }
  return outcome;
}

}  // namespace

StatementOutcome DescribeTable(Connection& connection, std::string_view name, SqlDialect dialect,
                               const ListingStyle& style) {
  SourceNaming naming = ReadSourceNaming(connection);
  std::vector<NamePart> parts;
  if (!SplitName(style.lpConsole->charset, name, naming, &parts)) return StatementOutcome::Failed;
  std::vector<FoundTable> tables;
  StatementOutcome outcome = FindTables(connection, parts, naming, style.lpConsole->charset, &tables);
  if (outcome != StatementOutcome::Ok) return outcome;
  for (size_t iTable = 0; iTable < tables.size(); ++iTable) {
    if (iTable > 0 && IsTableFormat(style.format)) OutText("\n");
    const FoundTable& table = tables[iTable];
    const bool fOwnCatalog = dialect == SqlDialect::Sqlite || dialect == SqlDialect::PostgreSql || dialect == SqlDialect::MySql;
    StatementOutcome described = fOwnCatalog ? DescribeFromOwnCatalog(connection, table, dialect, naming, style)
                                             : DescribeThroughOdbc(connection, table, naming, style);
    outcome = Worse(outcome, described);
    if (outcome == StatementOutcome::Fatal || outcome == StatementOutcome::Cancelled) return outcome;
  }
  return outcome;
}
