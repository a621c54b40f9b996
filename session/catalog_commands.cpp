// The console's commands that read the data source's catalog and connection, listed through the result
// writers; what they share with the description of a table (session/describe.cpp).
#include "session/catalog_commands.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "display/cell_text.h"
#include "display/output.h"
#include "input/interrupt.h"
#include "session/catalog_access.h"

// The statement for the next catalog call. MDBTools keeps the last result's columns after SQL_CLOSE, so
// that a second catalog call on the same statement describes the first's columns: there each call gets a
// statement of its own.
bool CatalogStatement(Connection& connection) {
  if (connection.profile.fStaleColumnsAfterClose) DropStatement(connection.lpStmt);
  return HaveStatement(connection, connection.lpStmt);
}

// The naming rules of the profile read at connect.
SourceNaming ReadSourceNaming(const Connection& connection) {
  const DataSourceProfile& profile = connection.profile;
  return SourceNaming{profile.identifierCase, profile.quote, profile.searchEscape, profile.fSchemas, profile.fCatalogs};
}

// Splits a dotted name into its parts; a part in the source's quote characters may hold dots and blanks,
// and a doubled quote inside stands for one. Returns false, with the error reported, for a name that is
// empty, has an empty part, an unclosed quote, or more than three parts.
bool SplitName(const TextCharset& charset, std::string_view text, const SourceNaming& naming, std::vector<NamePart>* parts) {
  parts->clear();
  size_t i = 0;
  for (;;) {
    NamePart part{"", false};
    if (naming.quote != '\0' && i < text.size() && text[i] == naming.quote) {
      part.fQuoted = true;
      for (++i;; ++i) {
        if (i >= text.size()) {
          ErrFormat("The name %s has an unclosed quote\n", SafeMessageText(charset, std::string(text).c_str()).c_str());
          return false;
        }
        if (text[i] != naming.quote) {
          part.szText += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == naming.quote) {
          part.szText += text[i++];
        } else {
          ++i;
          break;
        }
      }
      if (i < text.size() && text[i] != '.') {
        ErrFormat("The name %s has text after a closing quote\n", SafeMessageText(charset, std::string(text).c_str()).c_str());
        return false;
      }
    } else {
      while (i < text.size() && text[i] != '.') part.szText += text[i++];
    }
    if (part.szText.empty() || parts->size() == 3) {
      ErrFormat("Not a name: %s\n", SafeMessageText(charset, std::string(text).c_str()).c_str());
      return false;
    }
    parts->push_back(std::move(part));
    if (i >= text.size()) return true;
    ++i;  // the dot
    if (i >= text.size()) {
      ErrFormat("Not a name: %s\n", SafeMessageText(charset, std::string(text).c_str()).c_str());
      return false;
    }
  }
}

// A part as the catalog stores it: an unquoted part in the source's identifier case.
std::string StoredName(const NamePart& part, const SourceNaming& naming) {
  std::string text = part.szText;
  if (part.fQuoted) return text;
  for (char& c : text) {
    if (naming.identifierCase == SQL_IC_UPPER) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (naming.identifierCase == SQL_IC_LOWER) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// A name as a search pattern that matches only itself: _ and % escaped where the source can escape them.
std::string LiteralPattern(const std::string& name, const SourceNaming& naming) {
  if (naming.szEscape.empty()) return name;
  std::string pattern;
  for (char c : name) {
    if (c == '_' || c == '%' || naming.szEscape.find(c) != std::string::npos) pattern += naming.szEscape;
    pattern += c;
  }
  return pattern;
}

namespace {

// A part as a search pattern: unquoted, * and % stand for any characters and _ is itself (a name often
// holds one); quoted, the part matches only itself.
std::string PartPattern(const NamePart& part, const SourceNaming& naming) {
  if (part.fQuoted) return LiteralPattern(part.szText, naming);
  std::string pattern;
  for (char c : StoredName(part, naming)) {
    if (c == '*' || c == '%') {
      pattern += '%';
      continue;
    }
    if (!naming.szEscape.empty() && (c == '_' || naming.szEscape.find(c) != std::string::npos)) pattern += naming.szEscape;
    pattern += c;
  }
  return pattern;
}

}  // namespace

// Places the parts of a name into a catalog call's arguments: NAME; SCHEMA.NAME, or CATALOG.NAME where the
// source has catalogs and no schemas; CATALOG.SCHEMA.NAME. The catalog is never a pattern.
CatalogTarget TargetOf(const std::vector<NamePart>& parts, const SourceNaming& naming, bool fPattern) {
  CatalogTarget target;
  if (parts.empty()) return target;
  auto asPattern = [&](const NamePart& part) {
    return fPattern ? PartPattern(part, naming) : LiteralPattern(StoredName(part, naming), naming);
  };
  target.szName = asPattern(parts.back());
  target.fName = true;
  if (parts.size() == 3 || (parts.size() == 2 && !naming.fSchemas && naming.fCatalogs)) {
    target.szCatalog = StoredName(parts.front(), naming);
    target.fCatalog = true;
  }
  if (parts.size() == 3 || (parts.size() == 2 && !target.fCatalog)) {
    target.szSchema = asPattern(parts[parts.size() - 2]);
    target.fSchema = true;
  }
  return target;
}

// A name without a catalog means the current one where the source has catalogs and no schemas (as in
// MariaDB, whose catalogs are its databases): the driver would otherwise search every database.
void UseCurrentCatalog(SQLHDBC lpDbc, const SourceNaming& naming, CatalogTarget* target) {
  if (target->fCatalog || naming.fSchemas || !naming.fCatalogs) return;
  char szCatalog[512] = "";
  SQLINTEGER cbCatalog = 0;
  if (!SQL_SUCCEEDED(SQLGetConnectAttr(lpDbc, SQL_ATTR_CURRENT_CATALOG, szCatalog, sizeof szCatalog, &cbCatalog))) return;
  if (szCatalog[0] == '\0') return;
  target->szCatalog = szCatalog;
  target->fCatalog = true;
}

// A catalog call's text argument: null when not given.
SQLCHAR* Argument(std::string& text, bool fGiven) { return fGiven ? reinterpret_cast<SQLCHAR*>(&text[0]) : nullptr; }

// Runs one catalog call on lpStmt (Ctrl-C cancels it) and lists the chosen columns of its result.
StatementOutcome ListCatalogResult(Connection& connection, const CatalogCall& call, const char* szCallText,
                                   const std::vector<ChosenColumn>& chosen, const ListingStyle& style) {
  SQLHSTMT& lpStmt = connection.lpStmt;
  if (!CatalogStatement(connection)) return StatementOutcome::Fatal;
  BeginCancellableCall(connection.canceller, lpStmt);
  SQLRETURN RetCode = call(lpStmt);
  EndCancellableCall(connection.canceller);
  if (InterruptRequested()) {
    if (RetCode != SQL_SUCCESS) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
    return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  }
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, szCallText)) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  SQLSMALLINT cCols = 0;
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &cCols), "SQLNumResultCols(lpStmt,&sNumResults)")) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  // A catalog listing is always fitted: its result sets declare columns far wider than their names.
  ListingStyle fitted = style;
  if (IsTableFormat(fitted.format)) fitted.format = ListingFormat::Fit;
  bool fListed = ListResult(connection, lpStmt, cCols, fitted, chosen.empty() ? nullptr : &chosen);
  if (lpStmt == SQL_NULL_HSTMT) return StatementOutcome::Failed;
  if (InterruptRequested()) return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  return CloseCursor(lpStmt, fListed ? StatementOutcome::Ok : StatementOutcome::Failed);
}

// Whether the driver offers the ODBC function `function` (SQL_API_...).
bool DriverHasFunction(SQLHDBC lpDbc, SQLUSMALLINT function) {
  SQLUSMALLINT fExists = SQL_FALSE;
  return !SQL_SUCCEEDED(SQLGetFunctions(lpDbc, function, &fExists)) || fExists == SQL_TRUE;
}

// A text as an SQL string literal of the dialect: quotes doubled, and on MySQL and MariaDB backslashes too.
std::string SqlLiteral(const std::string& text, SqlDialect dialect) {
  std::string literal = "'";
  for (char c : text) {
    if (c == '\'' || (c == '\\' && dialect == SqlDialect::MySql)) literal += c;
    literal += c;
  }
  return literal + "'";
}

// A column title in the source's quote characters.
std::string Title(const char* title, const SourceNaming& naming) {
  const char quote = naming.quote == '\0' ? '"' : naming.quote;
  return std::string(1, quote) + title + quote;
}

namespace {

// The first columns of a catalog result: the schema where the source has schemas, else the catalog where
// it has catalogs; then the name.
std::vector<ChosenColumn> OwnerAndName(const SourceNaming& naming, const char* szNameTitle) {
  std::vector<ChosenColumn> chosen;
  if (naming.fSchemas) {
    chosen.push_back({2, "schema"});
  } else if (naming.fCatalogs) {
    chosen.push_back({1, "catalog"});
  }
  chosen.push_back({3, szNameTitle});
  return chosen;
}

// A part of a name as an SQL LIKE pattern of the dialect, escaped with a backslash: unquoted, * and % stand
// for any characters and _ is itself; quoted, the part matches only itself.
std::string LikePattern(const NamePart& part, const SourceNaming& naming, SqlDialect dialect) {
  std::string pattern;
  for (char c : StoredName(part, naming)) {
    if (!part.fQuoted && (c == '*' || c == '%')) {
      pattern += '%';
      continue;
    }
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return SqlLiteral(pattern, dialect) + " escape " + SqlLiteral("\\", dialect);
}

// Runs a query of the source's own catalog and lists its result, fitted.
StatementOutcome ListQuery(Connection& connection, std::string query, const ListingStyle& style) {
  auto call = [&query](SQLHSTMT lpStatement) {
    return SQLExecDirect(lpStatement, reinterpret_cast<SQLCHAR*>(&query[0]), SQL_NTS);
  };
  return ListCatalogResult(connection, call, "SQLExecDirect(lpStmt, szCatalogQuery, SQL_NTS)", {}, style);
}

// The query that lists tables or views by the dialect's own catalog: those the search path (PostgreSQL) or
// the current database (MariaDB) shows unless the pattern names a schema, system ones only when asked
// (fSystem) or when a pattern names them, sorted by schema and name. Empty for a dialect without one.
std::string TableListQuery(const std::vector<NamePart>& parts, TableKind kind, SqlDialect dialect, bool fSystem,
                           const SourceNaming& naming) {
  auto t = [&](const char* title) { return Title(title, naming); };
  const bool fView = kind == TableKind::View;
  const char* szType = fView ? "'VIEW'" : "'TABLE'";
  std::string query;
  if (dialect == SqlDialect::PostgreSql) {
    query = "select n.nspname as " + t("schema") + ", c.relname as " + t("name") + ", " + szType + " as " + t("type") +
            " from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace where c.relkind in " +
            (fView ? "('v', 'm')" : "('r', 'p', 'f')");
    if (parts.size() < 2) query += " and pg_catalog.pg_table_is_visible(c.oid)";
    if (parts.size() >= 2) query += " and n.nspname like " + LikePattern(parts[parts.size() - 2], naming, dialect);
    if (!fSystem && parts.empty()) query += " and n.nspname not in ('pg_catalog', 'information_schema') and n.nspname not like 'pg\\_toast%'";
    if (!parts.empty()) query += " and c.relname like " + LikePattern(parts.back(), naming, dialect);
    return query + " order by 1, 2";
  }
  if (dialect == SqlDialect::MySql) {
    query = "select table_schema as " + t("catalog") + ", table_name as " + t("name") + ", " + szType + " as " + t("type") +
            " from information_schema.tables where table_type " + (fView ? "= 'VIEW'" : "in ('BASE TABLE', 'SYSTEM VERSIONED', 'SEQUENCE')");
    query += parts.size() < 2 ? " and table_schema = database()"
                              : " and table_schema like " + LikePattern(parts[parts.size() - 2], naming, dialect);
    if (!fSystem && parts.empty()) query += " and table_schema not in ('mysql', 'information_schema', 'performance_schema', 'sys')";
    if (!parts.empty()) query += " and table_name like " + LikePattern(parts.back(), naming, dialect);
    return query + " order by 1, 2";
  }
  if (dialect == SqlDialect::Sqlite) {
    query = "select name as " + t("name") + ", " + szType + " as " + t("type") + " from sqlite_master where type = " +
            (fView ? "'view'" : "'table'");
    if (!fSystem && parts.empty()) query += " and name not like 'sqlite\\_%' escape '\\'";
    if (!parts.empty()) query += " and name like " + LikePattern(parts.back(), naming, dialect);
    return query + " order by 1";
  }
  return query;
}

// Whether a name matches a catalog search pattern (% any characters, _ one byte, the escape character
// making the next one itself), ASCII letters regardless of case: for a driver that ignores the pattern.
bool MatchesPattern(const char* name, const char* pattern, const std::string& escape) {
  for (; *pattern != '\0'; ++pattern) {
    if (*pattern == '%') {
      for (const char* rest = name;; ++rest) {
        if (MatchesPattern(rest, pattern + 1, escape)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (!escape.empty() && *pattern == escape[0] && pattern[1] != '\0') {
      ++pattern;
    } else if (*pattern == '_') {
      if (*name == '\0') return false;
      ++name;
      continue;
    }
    if (tolower(static_cast<unsigned char>(*pattern)) != tolower(static_cast<unsigned char>(*name))) return false;
    ++name;
  }
  return *name == '\0';
}

// One row of a catalog result, its first columns as text (NULL as the empty text).
using CatalogRow = std::vector<std::string>;

// Runs a catalog call (Ctrl-C cancels it) and reads the first cCols columns of every row into *rows.
// Returns the outcome; a failure is reported.
StatementOutcome ReadCatalogRows(Connection& connection, const CatalogCall& call, const char* szCallText, SQLUSMALLINT cCols,
                                 std::vector<CatalogRow>* rows) {
  SQLHSTMT& lpStmt = connection.lpStmt;
  rows->clear();
  if (!CatalogStatement(connection)) return StatementOutcome::Fatal;
  BeginCancellableCall(connection.canceller, lpStmt);
  SQLRETURN RetCode = call(lpStmt);
  EndCancellableCall(connection.canceller);
  if (InterruptRequested()) return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, szCallText)) return CloseCursor(lpStmt, StatementOutcome::Failed);
  for (;;) {
    RetCode = SQLFetch(lpStmt);
    if (RetCode == SQL_NO_DATA) return CloseCursor(lpStmt, StatementOutcome::Ok);
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)")) return CloseCursor(lpStmt, StatementOutcome::Failed);
    CatalogRow row;
    for (SQLUSMALLINT iCol = 1; iCol <= cCols; ++iCol) {
      char szValue[1024];
      SQLLEN ind = 0;
      if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLGetData(lpStmt, iCol, SQL_C_CHAR, szValue, sizeof szValue, &ind),
                       "SQLGetData(lpStmt, iCol, SQL_C_CHAR, szValue, cbValue, &ind)")) {
        return CloseCursor(lpStmt, StatementOutcome::Failed);
      }
      row.emplace_back(ind == SQL_NULL_DATA ? "" : szValue);
    }
    rows->push_back(std::move(row));
  }
}

// Runs a query and reads the text of its first column from every row into *names. A failed call is left
// unreported when fQuiet (the caller has another way), else reported. Returns the outcome.
StatementOutcome ReadNames(Connection& connection, std::string query, bool fQuiet, std::vector<std::string>* names) {
  SQLHSTMT& lpStmt = connection.lpStmt;
  names->clear();
  if (!CatalogStatement(connection)) return StatementOutcome::Fatal;
  BeginCancellableCall(connection.canceller, lpStmt);
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&query[0]), SQL_NTS);
  EndCancellableCall(connection.canceller);
  if (InterruptRequested()) return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  if (fQuiet && !SQL_SUCCEEDED(RetCode)) return CloseCursor(lpStmt, StatementOutcome::Failed);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLExecDirect(lpStmt, szCatalogQuery, SQL_NTS)")) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  for (;;) {
    RetCode = SQLFetch(lpStmt);
    if (RetCode == SQL_NO_DATA) return CloseCursor(lpStmt, StatementOutcome::Ok);
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)")) return CloseCursor(lpStmt, StatementOutcome::Failed);
    char szName[512];
    SQLLEN ind = 0;
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLGetData(lpStmt, 1, SQL_C_CHAR, szName, sizeof szName, &ind),
                     "SQLGetData(lpStmt, iCol, SQL_C_CHAR, szValue, cbValue, &ind)")) {
      return CloseCursor(lpStmt, StatementOutcome::Failed);
    }
    if (ind != SQL_NULL_DATA) names->emplace_back(szName);
  }
}

// Reads into *rows (database, name, type) the tables or views of MariaDB's or MySQL's current database,
// sorted by name, without reading the type of every table: information_schema reads each table's
// definition file for its type (180 ms with 3,000 tables under load) but lists names alone at once. InnoDB's statistics table names the base
// tables that have statistics; only the other names are asked their type, one at a time. False when that
// does not pay (the statistics cannot be read, or too many names remain), for the one query that reads
// every type; Cancelled or Fatal in *outcome when a read was.
bool MySqlCurrentDatabaseTables(Connection& connection, const std::vector<NamePart>& parts, TableKind kind, bool fSystem,
                                const SourceNaming& naming, std::vector<std::vector<std::string>>* rows, StatementOutcome* outcome) {
  constexpr size_t MAX_TYPE_LOOKUPS = 50;  // names asked their type one at a time; more cost more than one query
  *outcome = StatementOutcome::Ok;
  char szDatabase[512] = "";
  SQLINTEGER cbDatabase = 0;
  if (!SQL_SUCCEEDED(SQLGetConnectAttr(connection.lpDbc, SQL_ATTR_CURRENT_CATALOG, szDatabase, sizeof szDatabase, &cbDatabase)) ||
      szDatabase[0] == '\0') {
    return false;
  }
  // A system database's tables are listed only when asked for: the query that reads types leaves them out.
  const std::string current = szDatabase;
  if (!fSystem && parts.empty() &&
      (current == "mysql" || current == "information_schema" || current == "performance_schema" || current == "sys")) {
    return false;
  }
  const std::string database = SqlLiteral(szDatabase, SqlDialect::MySql);
  const std::string nameFilter = parts.empty() ? "" : " and table_name like " + LikePattern(parts.back(), naming, SqlDialect::MySql);
  std::vector<std::string> withStatistics, names;
  *outcome = ReadNames(connection, "select table_name from mysql.innodb_table_stats where database_name = " + database, true, &withStatistics);
  if (*outcome != StatementOutcome::Ok || withStatistics.empty()) return false;
  *outcome = ReadNames(connection, "select table_name from information_schema.tables where table_schema = " + database + nameFilter,
                       false, &names);
  if (*outcome != StatementOutcome::Ok) return false;
  std::sort(withStatistics.begin(), withStatistics.end());
  rows->clear();
  size_t cLookups = 0;
  const char* szTypes = kind == TableKind::View ? "('VIEW')" : "('BASE TABLE', 'SYSTEM VERSIONED', 'SEQUENCE')";
  for (const std::string& name : names) {
    bool fBaseTable = std::binary_search(withStatistics.begin(), withStatistics.end(), name);
    if (!fBaseTable) {
      if (++cLookups > MAX_TYPE_LOOKUPS) return false;
      std::vector<std::string> found;
      *outcome = ReadNames(connection, "select table_name from information_schema.tables where table_schema = " + database +
                           " and table_name = " + SqlLiteral(name, SqlDialect::MySql) + " and table_type in " + szTypes, false, &found);
      if (*outcome != StatementOutcome::Ok) return false;
      if (found.empty()) continue;
    } else if (kind == TableKind::View) {
      continue;
    }
    rows->push_back({szDatabase, name, kind == TableKind::View ? "VIEW" : "TABLE"});
  }
  // In the order of the server's default collation, which ignores the case of letters.
  std::stable_sort(rows->begin(), rows->end(), [](const std::vector<std::string>& a, const std::vector<std::string>& b) {
    return strcasecmp(a[1].c_str(), b[1].c_str()) < 0;
  });
  return true;
}

// The query that lists functions and procedures with their result and argument types by the dialect's own
// catalog, as TableListQuery chooses tables. Empty for a dialect without one.
std::string RoutineListQuery(const std::vector<NamePart>& parts, SqlDialect dialect, bool fSystem, const SourceNaming& naming) {
  auto t = [&](const char* title) { return Title(title, naming); };
  std::string query;
  if (dialect == SqlDialect::PostgreSql) {
    query = "select n.nspname as " + t("schema") + ", p.proname as " + t("name") + ", coalesce(pg_catalog.pg_get_function_result(p.oid), '') as " +
            t("result type") + ", pg_catalog.pg_get_function_arguments(p.oid) as " + t("argument types") +
            ", case p.prokind when 'a' then 'aggregate' when 'w' then 'window' when 'p' then 'procedure' else 'function' end as " + t("type") +
            " from pg_catalog.pg_proc p join pg_catalog.pg_namespace n on n.oid = p.pronamespace where true";
    if (parts.size() < 2) query += " and pg_catalog.pg_function_is_visible(p.oid)";
    if (parts.size() >= 2) query += " and n.nspname like " + LikePattern(parts[parts.size() - 2], naming, dialect);
    if (!fSystem && parts.empty()) query += " and n.nspname not in ('pg_catalog', 'information_schema')";
    if (!parts.empty()) query += " and p.proname like " + LikePattern(parts.back(), naming, dialect);
    return query + " order by 1, 2, 4";
  }
  if (dialect == SqlDialect::MySql) {
    query = "select r.routine_schema as " + t("catalog") + ", r.routine_name as " + t("name") + ", coalesce(r.dtd_identifier, '') as " +
            t("result type") + ", coalesce((select group_concat(concat_ws(' ', p.parameter_mode, p.parameter_name, p.dtd_identifier) "
            "order by p.ordinal_position separator ', ') from information_schema.parameters p where p.specific_schema = r.routine_schema "
            "and p.specific_name = r.specific_name and p.ordinal_position > 0), '') as " + t("argument types") + ", lower(r.routine_type) as " +
            t("type") + " from information_schema.routines r where ";
    query += parts.size() < 2 ? "r.routine_schema = database()"
                              : "r.routine_schema like " + LikePattern(parts[parts.size() - 2], naming, dialect);
    if (!fSystem && parts.empty()) query += " and r.routine_schema not in ('mysql', 'information_schema', 'performance_schema', 'sys')";
    if (!parts.empty()) query += " and r.routine_name like " + LikePattern(parts.back(), naming, dialect);
    return query + " order by 1, 2";
  }
  return query;
}

}  // namespace

StatementOutcome ListTables(Connection& connection, std::string_view pattern, TableKind kind, SqlDialect dialect,
                            bool fSystem, const ListingStyle& style) {
  SQLHDBC lpDbc = connection.lpDbc;
  SourceNaming naming = ReadSourceNaming(connection);
  std::vector<NamePart> parts;
  if (!pattern.empty() && !SplitName(style.lpConsole->charset, pattern, naming, &parts)) return StatementOutcome::Failed;
  std::string query;
  if (dialect == SqlDialect::MySql && parts.size() < 2) {
    StatementOutcome outcome = StatementOutcome::Ok;
    std::vector<std::vector<std::string>> rows;
    bool fRead = MySqlCurrentDatabaseTables(connection, parts, kind, fSystem, naming, &rows, &outcome);
    if (outcome == StatementOutcome::Cancelled || outcome == StatementOutcome::Fatal) return outcome;
    if (fRead) {
      ListingStyle fitted = style;
      if (IsTableFormat(fitted.format)) fitted.format = ListingFormat::Fit;
      ListTextRows({"catalog", "name", "type"}, rows, fitted);
      return StatementOutcome::Ok;
    }
  }
  if (query.empty()) query = TableListQuery(parts, kind, dialect, fSystem, naming);
  if (!query.empty()) return ListQuery(connection, std::move(query), style);
  CatalogTarget target = TargetOf(parts, naming, true);
  UseCurrentCatalog(lpDbc, naming, &target);
  std::string szType = kind == TableKind::Table ? "TABLE" : "VIEW";
  std::vector<CatalogRow> rows;
  auto call = [&](SQLHSTMT lpStatement) {
    return SQLTables(lpStatement, Argument(target.szCatalog, target.fCatalog), SQL_NTS, Argument(target.szSchema, target.fSchema),
                     SQL_NTS, Argument(target.szName, target.fName), SQL_NTS, Argument(szType, true), SQL_NTS);
  };
  StatementOutcome outcome = ReadCatalogRows(connection, call, "SQLTables(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, szType, SQL_NTS)",
                                             4, &rows);
  if (outcome != StatementOutcome::Ok) return outcome;
  // A driver may list every type whatever it was asked (MDBTools does, system tables and views among the
  // tables), whatever the name's pattern, and in its own order: the console keeps the type and names asked
  // for, leaves system tables out unless asked for (Access names its own MSys...), and sorts by owner and name.
  std::vector<std::vector<std::string>> listed;
  for (CatalogRow& row : rows) {
    const std::string& type = row[3];
    const bool fSystemTable = type == "SYSTEM TABLE" || strncasecmp(row[2].c_str(), "MSys", 4) == 0;
    const bool fWanted = type == szType || (fSystem && kind == TableKind::Table && type == "SYSTEM TABLE");
    if (!fWanted || (fSystemTable && !fSystem)) continue;
    if (target.fName && !MatchesPattern(row[2].c_str(), target.szName.c_str(), naming.szEscape)) continue;
    if (naming.fSchemas) {
      listed.push_back({row[1], row[2], row[3]});
    } else if (naming.fCatalogs) {
      listed.push_back({row[0], row[2], row[3]});
    } else {
      listed.push_back({row[2], row[3]});
    }
  }
  std::stable_sort(listed.begin(), listed.end());
  std::vector<std::string> titles;
  for (const ChosenColumn& column : OwnerAndName(naming, "name")) titles.push_back(column.szTitle);
  titles.push_back("type");
  ListingStyle fitted = style;
  if (IsTableFormat(fitted.format)) fitted.format = ListingFormat::Fit;
  ListTextRows(titles, listed, fitted);
  return StatementOutcome::Ok;
}

StatementOutcome ListSchemas(Connection& connection, SqlDialect dialect, bool fSystem, const ListingStyle& style) {
  SourceNaming naming = ReadSourceNaming(connection);
  if (dialect == SqlDialect::PostgreSql) {
    return ListQuery(connection,
                     "select nspname as " + Title("schema", naming) + " from pg_catalog.pg_namespace" +
                         (fSystem ? "" : " where nspname not in ('pg_catalog', 'information_schema') and nspname not like 'pg\\_%'") +
                         " order by 1",
                     style);
  }
  if (dialect == SqlDialect::MySql) {
    return ListQuery(connection,
                     "select schema_name as " + Title("catalog", naming) + " from information_schema.schemata" +
                         (fSystem ? "" : " where schema_name not in ('mysql', 'information_schema', 'performance_schema', 'sys')") +
                         " order by 1",
                     style);
  }
  if (!naming.fSchemas && !naming.fCatalogs) {
    OutText("This data source has neither schemas nor catalogs.\n");
    return StatementOutcome::Ok;
  }
  // The special forms of SQLTables: "%" as the schema with empty catalog and name lists the schemas,
  // "%" as the catalog with empty schema and name the catalogs.
  std::string szAll = "%", szEmpty;
  bool fSchemas = naming.fSchemas;
  std::vector<ChosenColumn> chosen = {fSchemas ? ChosenColumn{2, "schema"} : ChosenColumn{1, "catalog"}};
  auto call = [&](SQLHSTMT lpStatement) {
    return SQLTables(lpStatement, Argument(fSchemas ? szEmpty : szAll, true), SQL_NTS, Argument(fSchemas ? szAll : szEmpty, true),
                     SQL_NTS, Argument(szEmpty, true), SQL_NTS, Argument(szEmpty, true), SQL_NTS);
  };
  return ListCatalogResult(connection, call, "SQLTables(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, \"\", SQL_NTS, \"\", SQL_NTS)",
                           chosen, style);
}

StatementOutcome ListProcedures(Connection& connection, std::string_view pattern, SqlDialect dialect, bool fSystem,
                                const ListingStyle& style) {
  SQLHDBC lpDbc = connection.lpDbc;
  SourceNaming naming = ReadSourceNaming(connection);
  std::vector<NamePart> parts;
  if (!pattern.empty() && !SplitName(style.lpConsole->charset, pattern, naming, &parts)) return StatementOutcome::Failed;
  std::string query = RoutineListQuery(parts, dialect, fSystem, naming);
  if (!query.empty()) return ListQuery(connection, std::move(query), style);
  if (!DriverHasFunction(lpDbc, SQL_API_SQLPROCEDURES)) {
    ErrText("This driver cannot list procedures.\n");
    return StatementOutcome::Failed;
  }
  CatalogTarget target = TargetOf(parts, naming, true);
  UseCurrentCatalog(lpDbc, naming, &target);
  std::vector<ChosenColumn> chosen = OwnerAndName(naming, "name");
  chosen.push_back({7, "remarks"});
  auto call = [&](SQLHSTMT lpStatement) {
    return SQLProcedures(lpStatement, Argument(target.szCatalog, target.fCatalog), SQL_NTS,
                         Argument(target.szSchema, target.fSchema), SQL_NTS, Argument(target.szName, target.fName), SQL_NTS);
  };
  return ListCatalogResult(connection, call, "SQLProcedures(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szProc, SQL_NTS)",
                           chosen, style);
}

StatementOutcome ShowConnectionInfo(Connection& connection, const TextCharset& charset) {
  SQLHDBC lpDbc = connection.lpDbc;
  // Each line: its label and the SQLGetInfo items joined by a blank; an item the driver cannot tell is left out.
  struct InfoLine {
    const char* szLabel;        // what the line says
    SQLUSMALLINT items[2];      // the SQLGetInfo items, 0 for none
  };
  static const InfoLine LINES[] = {
      {"DBMS", {SQL_DBMS_NAME, SQL_DBMS_VER}},
      {"Driver", {SQL_DRIVER_NAME, SQL_DRIVER_VER}},
      {"ODBC version (driver)", {SQL_DRIVER_ODBC_VER, 0}},
      {"ODBC version (driver manager)", {SQL_ODBC_VER, 0}},
      {"Database", {SQL_DATABASE_NAME, 0}},
      {"User", {SQL_USER_NAME, 0}},
      {"Server", {SQL_SERVER_NAME, 0}},
  };
  std::string text;
  for (const InfoLine& line : LINES) {
    std::string value;
    for (SQLUSMALLINT item : line.items) {
      if (item == 0) continue;
      char buffer[512] = "";
      SQLSMALLINT cbValue = 0;
      if (!SQL_SUCCEEDED(SQLGetInfo(lpDbc, item, buffer, sizeof buffer, &cbValue)) || buffer[0] == '\0') continue;
      if (!value.empty()) value += ' ';
      AppendSafeText(charset, value, buffer, strnlen(buffer, sizeof buffer - 1));
    }
    text += line.szLabel;
    text += ": ";
    text += value;
    text += '\n';
  }
  OutText(text.c_str());
  return StatementOutcome::Ok;
}
