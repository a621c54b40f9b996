// The console's commands that read the data source's catalog and connection, listed through the result writers.
#include "session/catalog_commands.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "display/cell_text.h"
#include "display/output.h"
#include "display/result_table.h"
#include "session/interrupt.h"

namespace {

// How the data source names things, read from SQLGetInfo for each command (the driver manager caches it).
struct SourceNaming {
  SQLUSMALLINT identifierCase = SQL_IC_MIXED;  // how unquoted identifiers are stored: SQL_IC_UPPER, _LOWER, ...
  char quote = '"';                            // the identifier quote character; '\0' when there is none
  std::string szEscape;                        // escapes _ and % in a search pattern; empty when there is none
  bool fSchemas = false;                       // the data source has schemas
  bool fCatalogs = false;                      // the data source has catalogs (databases)
};

// One part of a dotted name as typed.
struct NamePart {
  std::string szText;  // the part, quotes removed
  bool fQuoted;        // it was quoted: taken as it is, no wildcard, no case folding
};

// The arguments of a catalog call: each is null (not given) or a text.
struct CatalogTarget {
  std::string szCatalog;  // the catalog, as the call takes it
  std::string szSchema;   // the schema
  std::string szName;     // the table or procedure
  bool fCatalog = false;  // szCatalog is given
  bool fSchema = false;   // szSchema is given
  bool fName = false;     // szName is given
};

SourceNaming ReadSourceNaming(SQLHDBC lpDbc) {
  SourceNaming naming;
  SQLUSMALLINT identifierCase = 0;
  if (SQL_SUCCEEDED(SQLGetInfo(lpDbc, SQL_IDENTIFIER_CASE, &identifierCase, sizeof identifierCase, nullptr))) {
    naming.identifierCase = identifierCase;
  }
  char szText[16] = "";
  if (SQL_SUCCEEDED(SQLGetInfo(lpDbc, SQL_IDENTIFIER_QUOTE_CHAR, szText, sizeof szText, nullptr))) {
    naming.quote = szText[0] == ' ' ? '\0' : szText[0];  // a blank says the source has no quote character
  }
  szText[0] = '\0';
  if (SQL_SUCCEEDED(SQLGetInfo(lpDbc, SQL_SEARCH_PATTERN_ESCAPE, szText, sizeof szText, nullptr))) naming.szEscape = szText;
  SQLUINTEGER usage = 0;
  if (SQL_SUCCEEDED(SQLGetInfo(lpDbc, SQL_SCHEMA_USAGE, &usage, sizeof usage, nullptr))) naming.fSchemas = usage != 0;
  usage = 0;
  if (SQL_SUCCEEDED(SQLGetInfo(lpDbc, SQL_CATALOG_USAGE, &usage, sizeof usage, nullptr))) naming.fCatalogs = usage != 0;
  return naming;
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
template <typename CatalogCall>
StatementOutcome ListCatalogResult(SQLHDBC lpDbc, SQLHSTMT& lpStmt, CatalogCall call, const char* szCallText,
                                   const std::vector<ChosenColumn>& chosen, const ListingStyle& style) {
  if (!HaveStatement(lpDbc, lpStmt)) return StatementOutcome::Fatal;
  BeginCancellableCall(lpStmt);
  SQLRETURN RetCode = call(lpStmt);
  EndCancellableCall();
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
  bool fListed = ShowResultSet(lpStmt, cCols, fitted, &chosen);
  if (lpStmt == SQL_NULL_HSTMT) return StatementOutcome::Failed;
  if (InterruptRequested()) return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  return CloseCursor(lpStmt, fListed ? StatementOutcome::Ok : StatementOutcome::Failed);
}

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

// Whether the driver offers the ODBC function `function` (SQL_API_...).
bool DriverHasFunction(SQLHDBC lpDbc, SQLUSMALLINT function) {
  SQLUSMALLINT fExists = SQL_FALSE;
  return !SQL_SUCCEEDED(SQLGetFunctions(lpDbc, function, &fExists)) || fExists == SQL_TRUE;
}

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

// Finds the table or view the parts name, through SQLTables: the first whose name is the one asked for,
// exactly or else but for case. On success *found holds its catalog, schema and name as the catalog
// gives them. Returns Failed, with the error reported, when nothing matches.
StatementOutcome FindTable(SQLHDBC lpDbc, SQLHSTMT& lpStmt, const std::vector<NamePart>& parts,
                           const SourceNaming& naming, const TextCharset& charset, CatalogTarget* found) {
  if (!HaveStatement(lpDbc, lpStmt)) return StatementOutcome::Fatal;
  CatalogTarget target = TargetOf(parts, naming, false);
  UseCurrentCatalog(lpDbc, naming, &target);
  std::string wanted = StoredName(parts.back(), naming);
  BeginCancellableCall(lpStmt);
  SQLRETURN RetCode = SQLTables(lpStmt, Argument(target.szCatalog, target.fCatalog), SQL_NTS,
                                Argument(target.szSchema, target.fSchema), SQL_NTS, Argument(target.szName, true), SQL_NTS,
                                nullptr, 0);
  EndCancellableCall();
  if (InterruptRequested()) return CloseCursor(lpStmt, StatementOutcome::Cancelled);
  if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLTables(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, NULL, 0)")) {
    return CloseCursor(lpStmt, StatementOutcome::Failed);
  }
  bool fFound = false;
  for (;;) {
    RetCode = SQLFetch(lpStmt);
    if (RetCode == SQL_NO_DATA) break;
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "RetCode = SQLFetch(lpStmt)")) {
      return CloseCursor(lpStmt, StatementOutcome::Failed);
    }
    CatalogTarget row;
    bool fNull = false;
    if (!ReadText(lpStmt, 1, &row.szCatalog, &fNull)) return CloseCursor(lpStmt, StatementOutcome::Failed);
    row.fCatalog = !fNull;
    if (!ReadText(lpStmt, 2, &row.szSchema, &fNull)) return CloseCursor(lpStmt, StatementOutcome::Failed);
    row.fSchema = !fNull;
    if (!ReadText(lpStmt, 3, &row.szName, &fNull)) return CloseCursor(lpStmt, StatementOutcome::Failed);
    row.fName = !fNull;
    bool fExact = row.szName == wanted;
    bool fFolded = row.szName.size() == wanted.size() && !fFound &&
                   std::equal(wanted.begin(), wanted.end(), row.szName.begin(),
                              [](char a, char b) { return tolower(static_cast<unsigned char>(a)) == tolower(static_cast<unsigned char>(b)); });
    if (fExact || fFolded) {
      *found = row;
      fFound = true;
      if (fExact) break;
    }
  }
  StatementOutcome outcome = CloseCursor(lpStmt, StatementOutcome::Ok);
  if (outcome != StatementOutcome::Ok) return outcome;
  if (!fFound) {
    std::string typed;
    for (const NamePart& part : parts) typed += (typed.empty() ? "" : ".") + part.szText;
    ErrFormat("Did not find any table or view named %s\n", SafeMessageText(charset, typed.c_str()).c_str());
    return StatementOutcome::Failed;
  }
  return StatementOutcome::Ok;
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

}  // namespace

StatementOutcome ListTables(SQLHDBC lpDbc, SQLHSTMT& lpStmt, std::string_view pattern, TableKind kind,
                            const ListingStyle& style) {
  SourceNaming naming = ReadSourceNaming(lpDbc);
  std::vector<NamePart> parts;
  if (!pattern.empty() && !SplitName(style.lpConsole->charset, pattern, naming, &parts)) return StatementOutcome::Failed;
  CatalogTarget target = TargetOf(parts, naming, true);
  UseCurrentCatalog(lpDbc, naming, &target);
  std::string szType = kind == TableKind::Table ? "TABLE" : "VIEW";
  std::vector<ChosenColumn> chosen = OwnerAndName(naming, "name");
  chosen.push_back({4, "type"});
  auto call = [&](SQLHSTMT lpStatement) {
    return SQLTables(lpStatement, Argument(target.szCatalog, target.fCatalog), SQL_NTS, Argument(target.szSchema, target.fSchema),
                     SQL_NTS, Argument(target.szName, target.fName), SQL_NTS, Argument(szType, true), SQL_NTS);
  };
  return ListCatalogResult(lpDbc, lpStmt, call, "SQLTables(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, szType, SQL_NTS)",
                           chosen, style);
}

StatementOutcome ListSchemas(SQLHDBC lpDbc, SQLHSTMT& lpStmt, const ListingStyle& style) {
  SourceNaming naming = ReadSourceNaming(lpDbc);
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
  return ListCatalogResult(lpDbc, lpStmt, call, "SQLTables(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, \"\", SQL_NTS, \"\", SQL_NTS)",
                           chosen, style);
}

StatementOutcome ListProcedures(SQLHDBC lpDbc, SQLHSTMT& lpStmt, std::string_view pattern, const ListingStyle& style) {
  if (!DriverHasFunction(lpDbc, SQL_API_SQLPROCEDURES)) {
    ErrText("This data source cannot list its procedures\n");
    return StatementOutcome::Failed;
  }
  SourceNaming naming = ReadSourceNaming(lpDbc);
  std::vector<NamePart> parts;
  if (!pattern.empty() && !SplitName(style.lpConsole->charset, pattern, naming, &parts)) return StatementOutcome::Failed;
  CatalogTarget target = TargetOf(parts, naming, true);
  UseCurrentCatalog(lpDbc, naming, &target);
  std::vector<ChosenColumn> chosen = OwnerAndName(naming, "name");
  chosen.push_back({7, "remarks"});
  auto call = [&](SQLHSTMT lpStatement) {
    return SQLProcedures(lpStatement, Argument(target.szCatalog, target.fCatalog), SQL_NTS,
                         Argument(target.szSchema, target.fSchema), SQL_NTS, Argument(target.szName, target.fName), SQL_NTS);
  };
  return ListCatalogResult(lpDbc, lpStmt, call, "SQLProcedures(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szProc, SQL_NTS)",
                           chosen, style);
}

StatementOutcome DescribeTable(SQLHDBC lpDbc, SQLHSTMT& lpStmt, std::string_view name, const ListingStyle& style) {
  SourceNaming naming = ReadSourceNaming(lpDbc);
  std::vector<NamePart> parts;
  if (!SplitName(style.lpConsole->charset, name, naming, &parts)) return StatementOutcome::Failed;
  CatalogTarget table;
  StatementOutcome outcome = FindTable(lpDbc, lpStmt, parts, naming, style.lpConsole->charset, &table);
  if (outcome != StatementOutcome::Ok) return outcome;
  // The calls below take the table as the catalog spells it; SQLColumns takes a pattern.
  std::string szNamePattern = LiteralPattern(table.szName, naming);
  std::string szSchemaPattern = LiteralPattern(table.szSchema, naming);
  SQLCHAR* catalog = Argument(table.szCatalog, table.fCatalog);
  SQLCHAR* schema = Argument(table.szSchema, table.fSchema);
  SQLCHAR* tableName = Argument(table.szName, true);
  std::string szShownName = (table.fSchema && !table.szSchema.empty() ? table.szSchema + "." : "") + table.szName;

  // The ODBC 3 columns of SQLColumns (default, nullable) are left out by a driver that has only ODBC 2's.
  WriteHeading(style, "Columns of " + szShownName + ":");
  outcome = ListCatalogResult(
      lpDbc, lpStmt,
      [&](SQLHSTMT lpStatement) {
        return SQLColumns(lpStatement, catalog, SQL_NTS, Argument(szSchemaPattern, table.fSchema), SQL_NTS,
                          Argument(szNamePattern, true), SQL_NTS, nullptr, 0);
      },
      "SQLColumns(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, NULL, 0)",
      {{4, "column"}, {6, "type"}, {7, "size"}, {13, "default"}, {18, "nullable"}}, style);
  if (outcome == StatementOutcome::Fatal || outcome == StatementOutcome::Cancelled) return outcome;

  if (DriverHasFunction(lpDbc, SQL_API_SQLPRIMARYKEYS)) {
    WriteHeading(style, "Primary key:");
    outcome = Worse(outcome, ListCatalogResult(
                                 lpDbc, lpStmt,
                                 [&](SQLHSTMT lpStatement) {
                                   return SQLPrimaryKeys(lpStatement, catalog, SQL_NTS, schema, SQL_NTS, tableName, SQL_NTS);
                                 },
                                 "SQLPrimaryKeys(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS)",
                                 {{4, "column"}, {5, "position"}, {6, "key name"}}, style));
    if (outcome == StatementOutcome::Fatal || outcome == StatementOutcome::Cancelled) return outcome;
  }
  if (DriverHasFunction(lpDbc, SQL_API_SQLSTATISTICS)) {
    WriteHeading(style, "Indexes:");
    outcome = Worse(outcome, ListCatalogResult(
                                 lpDbc, lpStmt,
                                 [&](SQLHSTMT lpStatement) {
                                   return SQLStatistics(lpStatement, catalog, SQL_NTS, schema, SQL_NTS, tableName, SQL_NTS,
                                                        SQL_INDEX_ALL, SQL_QUICK);
                                 },
                                 "SQLStatistics(lpStmt, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK)",
                                 {{4, "non-unique"}, {6, "index"}, {8, "position"}, {9, "column"}}, style));
    if (outcome == StatementOutcome::Fatal || outcome == StatementOutcome::Cancelled) return outcome;
  }
  if (DriverHasFunction(lpDbc, SQL_API_SQLFOREIGNKEYS)) {
    WriteHeading(style, "Foreign keys:");
    outcome = Worse(outcome, ListCatalogResult(
                                 lpDbc, lpStmt,
                                 [&](SQLHSTMT lpStatement) {
                                   return SQLForeignKeys(lpStatement, nullptr, 0, nullptr, 0, nullptr, 0, catalog, SQL_NTS,
                                                         schema, SQL_NTS, tableName, SQL_NTS);
                                 },
                                 "SQLForeignKeys(lpStmt, NULL, 0, NULL, 0, NULL, 0, szCatalog, SQL_NTS, szSchema, SQL_NTS, szTable, SQL_NTS)",
                                 {{3, "references table"}, {4, "references column"}, {8, "column"}, {12, "key name"}}, style));
  }
  return outcome;
}

StatementOutcome ShowConnectionInfo(SQLHDBC lpDbc, const TextCharset& charset) {
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
