// Tab completion: SQL keywords and the names of the data source's tables, views and columns, by context.
#include "input/completion.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "input/interrupt.h"

namespace {

constexpr const char* KNOWN_KEYWORDS[] = {
    "ADD", "ALL", "ALTER", "ANALYZE", "AND", "AS", "ASC", "AVG", "BEGIN", "BETWEEN", "BIGINT", "BOOLEAN", "BY",
    "CASE", "CAST", "CHAR", "CHECK", "COALESCE", "COLUMN", "COMMIT", "CONSTRAINT", "COUNT", "CREATE", "CROSS",
    "DATE", "DECIMAL", "DEFAULT", "DELETE", "DESC", "DISTINCT", "DOUBLE", "DROP", "ELSE", "END", "EXCEPT",
    "EXISTS", "EXPLAIN", "FALSE", "FOREIGN", "FROM", "FULL", "GRANT", "GROUP", "HAVING", "IN", "INDEX", "INNER",
    "INSERT", "INTEGER", "INTERSECT", "INTO", "IS", "JOIN", "KEY", "LEFT", "LIKE", "LIMIT", "MAX", "MIN",
    "NOT", "NULL", "NULLIF", "NUMERIC", "OFFSET", "ON", "OR", "ORDER", "OUTER", "PRIMARY", "REAL", "RECURSIVE",
    "REFERENCES", "RETURNING", "REVOKE", "RIGHT", "ROLLBACK", "SELECT", "SET", "SMALLINT", "SUM", "TABLE",
    "TEXT", "THEN", "TIMESTAMP", "TRANSACTION", "TRUE", "TRUNCATE", "UNION", "UNIQUE", "UPDATE", "USING",
    "VALUES", "VARCHAR", "VIEW", "WHEN", "WHERE", "WITH"};

// Keywords after which a table name comes.
constexpr const char* TABLE_KEYWORDS[] = {"FROM", "JOIN", "INTO", "UPDATE", "TABLE"};
// Keywords that open an expression, in which column names come.
constexpr const char* COLUMN_KEYWORDS[] = {"SELECT", "WHERE", "ON", "SET", "BY", "HAVING", "AND", "OR", "NOT",
                                           "WHEN", "THEN", "ELSE", "CASE", "DISTINCT", "USING", "VALUES"};
// Words of a table reference's tail that are not its alias.
constexpr const char* NOT_ALIASES[] = {"WHERE", "ON", "JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS", "OUTER",
                                       "SET", "GROUP", "ORDER", "LIMIT", "UNION", "USING", "VALUES", "SELECT",
                                       "HAVING", "OFFSET", "RETURNING", "EXCEPT", "INTERSECT", "NATURAL"};

constexpr SQLLEN NAME_BUFFER = 512;  // longer names are not offered

// What completion's own connection runs first: a lock held by another session fails a catalog read at once
// rather than holding the line (the drivers do not cancel a catalog call that waits on a lock).
constexpr char POSTGRES_LOCK_WAIT_ATTRIBUTE[] = ";pqopt={options='-c lock_timeout=100'}";  // from the connect on
constexpr char SQLITE_LOCK_WAIT_ATTRIBUTE[] = "Timeout=100;";  // the SQLite driver's busy timeout, from the connect on
// The SQLite driver's catalog calls answer a locked database with no rows, not an error: this read of the
// schema fails instead, and runs before them.
constexpr char SQLITE_SCHEMA_PROBE[] = "select count(*) from sqlite_master";
constexpr char POSTGRES_LOCK_NOT_AVAILABLE[] = "55P03";  // SQLSTATE: lock_timeout ran out
constexpr SQLINTEGER SQLITE_BUSY_CODE = 5;               // the SQLite driver's native code for a locked database


bool EqualsIgnoringCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

bool IsOneOf(const std::string& word, const char* const* list, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (EqualsIgnoringCase(word, list[i])) return true;
  }
  return false;
}
template <size_t N>
bool IsOneOf(const std::string& word, const char* const (&list)[N]) {
  return IsOneOf(word, list, N);
}

// ---- Reading the catalog ------------------------------------------------------------------------------

// Whether a failed call on lpStmt gave up waiting for a lock another session holds.
bool WaitedOnLock(SQLHSTMT lpStmt) {
  SQLCHAR szState[6] = "";
  SQLINTEGER native = 0;
  SQLCHAR szMessage[256];
  SQLSMALLINT cbMessage = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, lpStmt, 1, szState, &native, szMessage, sizeof szMessage, &cbMessage))) return false;
  const char* state = reinterpret_cast<const char*>(szState);
  return strcmp(state, POSTGRES_LOCK_NOT_AVAILABLE) == 0 || strcmp(state, "HYT00") == 0 || native == SQLITE_BUSY_CODE;
}

// Where completion reads the catalog.
enum class CatalogConnection {
  Session,  // on the session's connection
  Own,      // on a connection of its own, open now
  None,     // on a connection of its own that could not be opened now: no names this time
};

// Opens completion's connection of its own on PostgreSQL and on a SQLite file, each set to give up at once
// on a lock held elsewhere: a catalog read then never holds the line (the drivers cancel no catalog call
// that waits on a lock), and the user's transaction, aborted after an error, does not fail it. Other
// sources read on the session's connection. What a transaction not yet committed created is not offered.
CatalogConnection OpenCompletionConnection(Connection& connection) {
  SqlDialect dialect = connection.profile.dialect;
  if (connection.lpCompletionDbc != SQL_NULL_HDBC) return CatalogConnection::Own;
  if (dialect != SqlDialect::PostgreSql && dialect != SqlDialect::Sqlite) return CatalogConnection::Session;
  std::string connectionString = connection.connectionString;  // for SQLite with the lock wait first
  if (dialect == SqlDialect::Sqlite) {
    // A database in memory is the session's connection's alone: a second connection would open another.
    char szDatabase[4096] = "";
    SQLSMALLINT cbDatabase = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(connection.lpDbc, SQL_DATABASE_NAME, szDatabase, sizeof szDatabase, &cbDatabase))) {
      return CatalogConnection::Session;
    }
    std::string database = szDatabase;
    if (database.empty() || database.find(":memory:") != std::string::npos || database.find("mode=memory") != std::string::npos) {
      return CatalogConnection::Session;
    }
    connectionString.insert(0, SQLITE_LOCK_WAIT_ATTRIBUTE);
  } else {
    connectionString += POSTGRES_LOCK_WAIT_ATTRIBUTE;
  }
  SQLHDBC lpDbc = SQL_NULL_HDBC;
  bool fOpened = ConnectAgain(connection.lpEnv, connectionString, &lpDbc);
  explicit_bzero(&connectionString[0], connectionString.size());  // it may hold the password
  if (!fOpened) return CatalogConnection::None;
  connection.lpCompletionDbc = lpDbc;
  return CatalogConnection::Own;
}

// Runs one catalog call on completion's statement handle, cancellable by Ctrl-C. Returns false on a failure
// or a cancel.
template <typename Call>
bool CatalogCall(CompletionCatalog& known, Call call) {
  if (known.fCancelled) return false;
  Connection& connection = *known.lpConnection;
  SQLHSTMT& lpStmt = connection.lpCompletionStmt;
  // MDBTools keeps a closed result's columns, so that a second catalog call on the statement would read
  // the first one's: there each call gets a statement of its own.
  if (connection.profile.fStaleColumnsAfterClose) {
    DropStatement(lpStmt);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.lpDbc, &lpStmt))) lpStmt = SQL_NULL_HSTMT;
  }
  if (lpStmt == SQL_NULL_HSTMT) return false;
  SQLFreeStmt(lpStmt, SQL_CLOSE);
  BeginCancellableCall(connection.canceller, lpStmt);
  SQLRETURN RetCode = call(lpStmt);
  EndCancellableCall(connection.canceller);
  if (InterruptRequested()) known.fCancelled = true;
  // A read stopped by a lock held elsewhere is not kept either: the next Tab reads again.
  if (!SQL_SUCCEEDED(RetCode) && !known.fCancelled && WaitedOnLock(lpStmt)) known.fCancelled = true;
  // A read that found the connection gone marks it lost: the next statement connects again first.
  if (!SQL_SUCCEEDED(RetCode) && !known.fCancelled) JudgeOutcome(connection, lpStmt, StatementOutcome::Failed);
  return SQL_SUCCEEDED(RetCode) && !known.fCancelled;
}

// Reads columns iFirst and iSecond (0: none) of every row of the result into rows. Returns false on a
// failure; the statement is closed either way.
bool ReadRows(CompletionCatalog& known, SQLUSMALLINT iFirst, SQLUSMALLINT iSecond, std::vector<std::pair<std::string, std::string>>& rows) {
  SQLHSTMT lpStmt = known.lpConnection->lpCompletionStmt;
  if (lpStmt == SQL_NULL_HSTMT) return false;
  char szFirst[NAME_BUFFER], szSecond[NAME_BUFFER];
  SQLLEN indFirst = 0, indSecond = 0;
  bool fRead = SQL_SUCCEEDED(SQLBindCol(lpStmt, iFirst, SQL_C_CHAR, szFirst, sizeof szFirst, &indFirst)) &&
               (iSecond == 0 || SQL_SUCCEEDED(SQLBindCol(lpStmt, iSecond, SQL_C_CHAR, szSecond, sizeof szSecond, &indSecond)));
  SQLRETURN RetCode = SQL_NO_DATA;
  while (fRead && SQL_SUCCEEDED(RetCode = SQLFetch(lpStmt))) {
    if (indFirst <= 0 || indFirst >= NAME_BUFFER) continue;
    std::string second = iSecond != 0 && indSecond > 0 && indSecond < NAME_BUFFER ? std::string(szSecond, indSecond) : "";
    rows.emplace_back(std::string(szFirst, static_cast<size_t>(indFirst)), second);
  }
  // A fetch stopped by a lock held elsewhere: what was read is not kept, and the next Tab reads again.
  if (fRead && RetCode != SQL_NO_DATA && WaitedOnLock(lpStmt)) known.fCancelled = true;
  SQLFreeStmt(lpStmt, SQL_UNBIND);
  SQLFreeStmt(lpStmt, SQL_CLOSE);
  return fRead && RetCode == SQL_NO_DATA;
}

// A name as a catalog pattern that matches only itself.
std::string PatternOf(CompletionCatalog& known, const std::string& name) {
  if (known.escape.empty()) return name;
  std::string pattern;
  for (char c : name) {
    if (c == '_' || c == '%' || known.escape.find(c) != std::string::npos) pattern += known.escape;
    pattern += c;
  }
  return pattern;
}

SQLCHAR* Text(std::string& text) { return reinterpret_cast<SQLCHAR*>(&text[0]); }
SQLSMALLINT Length(const std::string& text) { return static_cast<SQLSMALLINT>(text.size()); }

// Reads the source's quoting and folding rules, its current catalog and its search path.
void ReadSourceRules(CompletionCatalog& known) {
  known.fInfoRead = true;
  const DataSourceProfile& profile = known.lpConnection->profile;
  known.quote = profile.quote;
  known.identifierCase = profile.identifierCase;
  known.escape = profile.searchEscape;
  known.fSchemas = profile.fSchemas;
  known.fCatalogs = !profile.fSchemas && profile.fCatalogs;
  known.catalog.clear();
  known.searchPath.clear();
  if (known.fCatalogs) {
    // A server of many databases (catalogs): only the current one's names come unqualified.
    char szCatalog[NAME_BUFFER] = "";
    SQLINTEGER length = 0;
    if (SQL_SUCCEEDED(SQLGetConnectAttr(known.lpConnection->lpDbc, SQL_ATTR_CURRENT_CATALOG, szCatalog, sizeof szCatalog, &length))) {
      known.catalog = szCatalog;
    }
  }
  if (known.fSchemas && profile.dialect == SqlDialect::PostgreSql) {
    std::string query = "select unnest(current_schemas(false))";
    std::vector<std::pair<std::string, std::string>> rows;
    if (CatalogCall(known, [&](SQLHSTMT lpStmt) { return SQLExecDirect(lpStmt, Text(query), Length(query)); }) &&
        ReadRows(known, 1, 0, rows)) {
      for (auto& row : rows) known.searchPath.push_back(row.first);
    }
  }
}

// Reads the tables and views of one qualifier (schema or catalog; "" for the current ones) into tables.
bool ReadTables(CompletionCatalog& known, const std::string& qualifier, std::vector<CatalogTable>& tables) {
  std::string catalog = known.fSchemas ? known.catalog : qualifier.empty() ? known.catalog : qualifier;
  std::string schema = known.fSchemas ? PatternOf(known, qualifier) : "";
  std::string all = "%", types = "TABLE,VIEW";
  std::vector<std::pair<std::string, std::string>> rows;
  bool fRead = CatalogCall(known, [&](SQLHSTMT lpStmt) {
    return SQLTables(lpStmt, catalog.empty() ? nullptr : Text(catalog), Length(catalog),
                     schema.empty() ? nullptr : Text(schema), Length(schema), Text(all), SQL_NTS, Text(types), SQL_NTS);
  }) && ReadRows(known, 3, known.fSchemas ? 2 : 1, rows);
  for (auto& row : rows) tables.push_back({row.second, row.first});
  return fRead;
}

// Reads the tables of the current schemas (every schema on the search path) or catalog, once.
void ReadCurrentTables(CompletionCatalog& known) {
  if (known.fTablesRead) return;
  std::vector<CatalogTable> tables;
  bool fRead = true;
  if (known.searchPath.empty()) {
    fRead = ReadTables(known, "", tables);
  } else {
    for (const std::string& schema : known.searchPath) fRead = fRead && ReadTables(known, schema, tables);
  }
  if (known.fSchemas && fRead) {
    // The schemas, for `schema.` to complete into: the special call that lists them alone.
    std::string none = "", all = "%";
    std::vector<std::pair<std::string, std::string>> rows;
    if (CatalogCall(known, [&](SQLHSTMT lpStmt) {
          return SQLTables(lpStmt, Text(none), 0, Text(all), SQL_NTS, Text(none), 0, nullptr, 0);
        }) && ReadRows(known, 2, 0, rows)) {
      known.qualifiers.clear();
      for (auto& row : rows) known.qualifiers.push_back(row.first);
    }
  }
  if (known.fCancelled) return;
  known.tables = std::move(tables);
  known.fTablesRead = true;  // a source that cannot list its tables is not asked again and again
}

// Reads the columns of one table, once. Returns them in the catalog's order.
const std::vector<std::string>& ColumnsOf(CompletionCatalog& known, const CatalogTable& table) {
  std::string key = table.qualifier + '.' + table.name;
  auto found = known.columnsOf.find(key);
  if (found != known.columnsOf.end()) return found->second;
  std::string catalog = known.fSchemas || table.qualifier.empty() ? known.catalog : table.qualifier;
  std::string schema = known.fSchemas ? PatternOf(known, table.qualifier) : "";
  std::string name = PatternOf(known, table.name), all = "%";
  std::vector<std::pair<std::string, std::string>> rows;
  bool fRead = CatalogCall(known, [&](SQLHSTMT lpStmt) {
    return SQLColumns(lpStmt, catalog.empty() ? nullptr : Text(catalog), Length(catalog),
                      schema.empty() ? nullptr : Text(schema), Length(schema), Text(name), Length(name), Text(all), SQL_NTS);
  }) && ReadRows(known, 4, 3, rows);
  std::vector<std::string> columns;
  for (auto& row : rows) {
    if (row.second == table.name) columns.push_back(row.first);  // a pattern without escape matches more
  }
  if (!fRead) {
    static const std::vector<std::string> none;
    return none;  // not kept: the next Tab tries again
  }
  return known.columnsOf[key] = std::move(columns);
}

// Reads every column name of the current schemas or catalog, one SQLColumns call each, once.
void ReadAllColumns(CompletionCatalog& known) {
  if (known.fAllColumnsRead) return;
  std::vector<std::string> qualifiers = known.searchPath;
  if (qualifiers.empty()) qualifiers.push_back("");
  std::vector<std::string> columns;
  for (const std::string& qualifier : qualifiers) {
    std::string catalog = known.catalog;
    std::string schema = PatternOf(known, qualifier), all = "%";
    std::vector<std::pair<std::string, std::string>> rows;
    bool fRead = CatalogCall(known, [&](SQLHSTMT lpStmt) {
      return SQLColumns(lpStmt, catalog.empty() ? nullptr : Text(catalog), Length(catalog),
                        schema.empty() ? nullptr : Text(schema), Length(schema), Text(all), SQL_NTS, Text(all), SQL_NTS);
    }) && ReadRows(known, 4, 0, rows);
    if (!fRead && known.fCancelled) return;
    for (auto& row : rows) columns.push_back(row.first);
  }
  std::sort(columns.begin(), columns.end());
  columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
  known.allColumns = std::move(columns);
  known.fAllColumnsRead = true;
}

// Makes sure the source's rules are known and completion has a statement handle. Returns false when not.
bool PrepareCatalog(CompletionCatalog& known) {
  Connection* lpConnection = known.lpConnection;
  if (lpConnection == nullptr || !lpConnection->fConnected || lpConnection->fLost) return false;
  // After a reconnect what was read belongs to another connection: it is read again.
  if (known.generation != lpConnection->generation) {
    known = CompletionCatalog{};
    known.lpConnection = lpConnection;
    known.generation = lpConnection->generation;
  }
  SQLHSTMT& lpStmt = lpConnection->lpCompletionStmt;
  if (lpStmt == SQL_NULL_HSTMT) {
    // Tried again at the next Tab when it could not be opened: the lock that stopped it may be gone.
    CatalogConnection where = OpenCompletionConnection(*lpConnection);
    if (where == CatalogConnection::None) return false;
    SQLHDBC lpDbc = lpConnection->lpCompletionDbc != SQL_NULL_HDBC ? lpConnection->lpCompletionDbc : lpConnection->lpDbc;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, lpDbc, &lpStmt))) {
      lpStmt = SQL_NULL_HSTMT;
      return false;
    }
  }
  if (lpConnection->lpCompletionDbc != SQL_NULL_HDBC && lpConnection->profile.dialect == SqlDialect::Sqlite) {
    std::string probe = SQLITE_SCHEMA_PROBE;
    if (!CatalogCall(known, [&](SQLHSTMT lpProbe) { return SQLExecDirect(lpProbe, Text(probe), Length(probe)); })) return false;
    SQLFreeStmt(lpStmt, SQL_CLOSE);
  }
  if (!known.fInfoRead) {
    ReadSourceRules(known);
    if (known.fCancelled) known.fInfoRead = false;  // the search path is read again at the next Tab
  }
  return true;
}

// ---- Reading the line ---------------------------------------------------------------------------------

// One token of the line.
enum class TokenKind { Word, Quoted, String, Symbol };
struct Token {
  TokenKind kind;    // what it is
  std::string text;  // a word as typed, a quoted name without its quotes, a symbol's character
  bool fClosed;      // a quoted name or string has its closing quote
};

bool IsWordByte(unsigned char c) { return isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

// The source's identifier quote; " where it has none. Elsewhere " opens a string (MariaDB).
bool IsIdentifierQuote(CompletionCatalog& known, char c) { return c == (known.quote != 0 ? known.quote : '"'); }
bool IsStringQuote(CompletionCatalog& known, char c) { return c == '\'' || (c == '"' && !IsIdentifierQuote(known, c)); }

// Splits text into tokens; comments and blanks are left out.
std::vector<Token> Tokenize(CompletionCatalog& known, const std::string& text) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (isspace(c)) {
      ++i;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      i = text.find('\n', i);
      if (i == std::string::npos) i = text.size();
    } else if (IsWordByte(c)) {
      size_t start = i;
      while (i < text.size() && IsWordByte(static_cast<unsigned char>(text[i]))) ++i;
      tokens.push_back({TokenKind::Word, text.substr(start, i - start), true});
    } else if (IsStringQuote(known, static_cast<char>(c)) || IsIdentifierQuote(known, static_cast<char>(c))) {
      // A doubled quote stands for itself.
      std::string content;
      bool fClosed = false;
      for (++i; i < text.size(); ++i) {
        if (text[i] != static_cast<char>(c)) {
          content += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == static_cast<char>(c)) {
          content += text[i++];
        } else {
          fClosed = true;
          ++i;
          break;
        }
      }
      tokens.push_back({IsStringQuote(known, static_cast<char>(c)) ? TokenKind::String : TokenKind::Quoted, content, fClosed});
    } else {
      tokens.push_back({TokenKind::Symbol, std::string(1, static_cast<char>(c)), true});
      ++i;
    }
  }
  return tokens;
}

// A name as the catalog spells it: a quoted one as written, another folded as the source folds it.
std::string CatalogSpelling(CompletionCatalog& known, const Token& token) {
  std::string name = token.text;
  if (token.kind == TokenKind::Quoted) return name;
  if (known.identifierCase == SQL_IC_LOWER) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(tolower(c)); });
  } else if (known.identifierCase == SQL_IC_UPPER) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(toupper(c)); });
  }
  return name;
}

// A table the statement names, and its alias.
struct TableReference {
  std::string qualifier;  // the schema (or catalog) written before it, or ""
  std::string name;       // the table as the catalog spells it
  std::string alias;      // the alias as the catalog spells it, or ""
};

// The tables named after FROM, JOIN, INTO, UPDATE and TABLE anywhere in the statement, with their aliases.
std::vector<TableReference> TablesNamed(CompletionCatalog& known, const std::vector<Token>& tokens) {
  std::vector<TableReference> references;
  auto isName = [&](size_t i) { return i < tokens.size() && (tokens[i].kind == TokenKind::Word || tokens[i].kind == TokenKind::Quoted); };
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].kind != TokenKind::Word || !IsOneOf(tokens[i].text, TABLE_KEYWORDS)) continue;
    bool fList = EqualsIgnoringCase(tokens[i].text, "FROM");
    size_t at = i + 1;
    for (;;) {
      if (!isName(at) || (tokens[at].kind == TokenKind::Word && IsOneOf(tokens[at].text, KNOWN_KEYWORDS))) break;
      TableReference reference;
      reference.name = CatalogSpelling(known, tokens[at++]);
      if (at + 1 < tokens.size() && tokens[at].text == "." && tokens[at].kind == TokenKind::Symbol && isName(at + 1)) {
        reference.qualifier = reference.name;
        reference.name = CatalogSpelling(known, tokens[at + 1]);
        at += 2;
      }
      if (at < tokens.size() && tokens[at].kind == TokenKind::Word && EqualsIgnoringCase(tokens[at].text, "AS")) ++at;
      if (isName(at) && !(tokens[at].kind == TokenKind::Word && IsOneOf(tokens[at].text, NOT_ALIASES))) {
        reference.alias = CatalogSpelling(known, tokens[at++]);
      }
      references.push_back(reference);
      if (!fList || at >= tokens.size() || tokens[at].text != ",") break;
      ++at;
    }
  }
  return references;
}

// Finds a table the catalog holds: in the given schema, or among the current tables. Returns false if none.
bool FindTable(CompletionCatalog& known, const std::string& qualifier, const std::string& name, CatalogTable& found) {
  if (!qualifier.empty()) {
    found = {qualifier, name};
    return true;
  }
  ReadCurrentTables(known);
  for (const CatalogTable& table : known.tables) {
    if (table.name == name) {
      found = table;
      return true;
    }
  }
  // Where the source keeps its own spelling, a name typed in another case still finds the table.
  for (const CatalogTable& table : known.tables) {
    if (strcasecmp(table.name.c_str(), name.c_str()) == 0) {
      found = table;
      return true;
    }
  }
  return false;
}

// ---- Choosing the completions -------------------------------------------------------------------------

// Whether a name must be quoted to be read as itself: a character outside letters, digits and _, a leading
// digit, or a letter the source would fold.
bool NeedsQuoting(CompletionCatalog& known, const std::string& name) {
  if (name.empty() || isdigit(static_cast<unsigned char>(name[0]))) return true;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (!IsWordByte(u) || u == '$') return true;
    if (known.identifierCase == SQL_IC_LOWER && isupper(u)) return true;
    if (known.identifierCase == SQL_IC_UPPER && islower(u)) return true;
  }
  return false;
}

// A name inside the source's quotes, a quote within it doubled.
std::string Quoted(const std::string& name, char quote) {
  std::string text(1, quote);
  for (char c : name) {
    text += c;
    if (c == quote) text += c;
  }
  return text + quote;
}

// What the user has typed of the name being completed.
struct TypedWord {
  std::string word;       // the part that completions replace
  char openQuote = 0;     // the quote opened before it, or 0
  std::string inQuotes;   // what was typed inside that quote before the word
};

// Collects the completions of names: each name that the typed word begins, written as it must be typed.
void AddNames(CompletionCatalog& known, const std::vector<std::string>& names, const TypedWord& typed, std::vector<std::string>& texts,
              std::set<std::string>& seen, const std::string& suffix = "") {
  for (const std::string& name : names) {
    std::string text;
    if (typed.openQuote != 0) {
      std::string inside = Quoted(name, typed.openQuote).substr(1);  // with the closing quote
      if (inside.compare(0, typed.inQuotes.size() + typed.word.size(), typed.inQuotes + typed.word) != 0) continue;  // quoted: exact case
      text = inside.substr(typed.inQuotes.size());
    } else {
      if (!StartsWithIgnoringCase(name, typed.word)) continue;
      text = NeedsQuoting(known, name) && known.quote != 0 ? Quoted(name, known.quote) : name;
    }
    text += suffix;
    if (seen.insert(text).second) texts.push_back(text);
  }
}

void AddKeywords(const std::string& word, std::vector<std::string>& texts, std::set<std::string>& seen) {
  // Keywords follow the user's case: lower case unless the word holds a capital.
  bool fUpper = std::any_of(word.begin(), word.end(), [](char c) { return isupper(static_cast<unsigned char>(c)) != 0; });
  for (const char* keyword : KNOWN_KEYWORDS) {
    std::string text = keyword;
    if (!StartsWithIgnoringCase(text, word)) continue;
    if (!fUpper) std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    if (seen.insert(text).second) texts.push_back(text);
  }
}

std::vector<std::string> NamesOf(const std::vector<CatalogTable>& tables) {
  std::vector<std::string> names;
  for (const CatalogTable& table : tables) names.push_back(table.name);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

// Where the word stands: what kind of name may come there.
enum class Place { Keyword, Table, Column };

// The place of a word that follows the tokens before it: a table after a table keyword, a column in an
// expression that a column keyword opened, a keyword after a complete name, value or clause.
Place PlaceAfter(const std::vector<Token>& before) {
  for (size_t i = before.size(); i-- > 0;) {
    const Token& token = before[i];
    bool fLast = i + 1 == before.size();
    if (token.kind == TokenKind::Word && IsOneOf(token.text, TABLE_KEYWORDS)) {
      // After FROM a, b the list goes on; after the table itself an alias or a keyword comes.
      return fLast || before.back().text == "," ? Place::Table : Place::Keyword;
    }
    if (token.kind == TokenKind::Word && IsOneOf(token.text, COLUMN_KEYWORDS)) return Place::Column;
    if (fLast && token.kind != TokenKind::Symbol) return Place::Keyword;  // a name or value is complete
    if (fLast && token.text == ")") return Place::Keyword;
  }
  return Place::Keyword;
}

// After `qualifier.`: the columns of the table or alias it names, and the tables of the schema it names.
void AddQualifiedNames(CompletionCatalog& known, const std::string& qualifier, const std::vector<Token>& all,
                       const TypedWord& typed, std::vector<std::string>& texts, std::set<std::string>& seen) {
  for (const TableReference& reference : TablesNamed(known, all)) {
    CatalogTable table;
    if ((reference.alias == qualifier || (reference.alias.empty() && reference.name == qualifier)) &&
        FindTable(known, reference.qualifier, reference.name, table)) {
      AddNames(known, ColumnsOf(known, table), typed, texts, seen);
    }
  }
  if (texts.empty()) {
    CatalogTable table;
    if (FindTable(known, "", qualifier, table)) AddNames(known, ColumnsOf(known, table), typed, texts, seen);
  }
  auto cached = known.tablesOf.find(qualifier);
  if (cached == known.tablesOf.end() && (known.fSchemas || known.fCatalogs)) {
    std::vector<CatalogTable> tables;
    if (ReadTables(known, qualifier, tables)) cached = known.tablesOf.emplace(qualifier, std::move(tables)).first;
  }
  if (cached != known.tablesOf.end()) AddNames(known, NamesOf(cached->second), typed, texts, seen);
}

}  // namespace

void SetCompletionConnection(CompletionCatalog& known, Connection* lpConnection) {
  known = CompletionCatalog{};
  known.lpConnection = lpConnection;
  if (lpConnection != nullptr) known.generation = lpConnection->generation;
}

Completions CompletionsAt(CompletionCatalog& known, const std::string& line, size_t wordStart, size_t cursor) {
  Completions result;
  known.fCancelled = false;
  bool fCatalog = PrepareCatalog(known);
  TypedWord typed;
  typed.word = line.substr(wordStart, cursor - wordStart);
  // A console command takes a table name after \d, \dt and \dv; nothing else of it is completed.
  size_t textStart = 0;
  bool fCommandArgument = false;
  size_t first = line.find_first_not_of(" \t");
  if (first != std::string::npos && line[first] == '\\') {
    size_t commandEnd = line.find_first_of(" \t", first);
    std::string command = line.substr(first + 1, commandEnd == std::string::npos ? std::string::npos : commandEnd - first - 1);
    if (commandEnd == std::string::npos || wordStart <= commandEnd || (command != "d" && command != "dt" && command != "dv")) {
      return result;
    }
    textStart = commandEnd;
    fCommandArgument = true;
  }
  std::vector<Token> before = Tokenize(known, line.substr(textStart, wordStart - textStart));
  // A quote opened and not closed: the word continues the name inside it.
  if (!before.empty() && before.back().kind == TokenKind::Quoted && !before.back().fClosed) {
    size_t open = line.rfind(before.back().text, wordStart);
    typed.openQuote = open != std::string::npos && open > 0 ? line[open - 1] : '"';
    typed.inQuotes = before.back().text;
    before.pop_back();
  }
  // Inside a string there is nothing to complete.
  if (!before.empty() && before.back().kind == TokenKind::String && !before.back().fClosed) return result;
  std::vector<std::string>& texts = result.texts;
  std::set<std::string> seen;
  std::vector<Token> all = Tokenize(known, line.substr(textStart));
  // `name.`: the columns of that table or alias, and the tables of that schema.
  if (before.size() >= 2 && before.back().kind == TokenKind::Symbol && before.back().text == "." &&
      (before[before.size() - 2].kind == TokenKind::Word || before[before.size() - 2].kind == TokenKind::Quoted)) {
    if (fCatalog) AddQualifiedNames(known, CatalogSpelling(known, before[before.size() - 2]), all, typed, texts, seen);
  } else {
    switch (!fCatalog ? Place::Keyword : fCommandArgument ? Place::Table : PlaceAfter(before)) {
      case Place::Table:
        ReadCurrentTables(known);
        AddNames(known, NamesOf(known.tables), typed, texts, seen);
        if (typed.openQuote == 0) AddNames(known, known.qualifiers, typed, texts, seen, ".");
        break;
      case Place::Column: {
        for (const TableReference& reference : TablesNamed(known, all)) {
          CatalogTable table;
          if (FindTable(known, reference.qualifier, reference.name, table)) AddNames(known, ColumnsOf(known, table), typed, texts, seen);
        }
        // While no named table has it, the columns of the whole current schema.
        if (texts.empty()) {
          ReadAllColumns(known);
          AddNames(known, known.allColumns, typed, texts, seen);
        }
        break;
      }
      case Place::Keyword:
        break;
    }
    if (texts.empty() && typed.openQuote == 0 && !fCommandArgument) AddKeywords(typed.word, texts, seen);
  }
  if (known.fCancelled || InterruptRequested()) {
    // Ctrl-C stopped the read: no completion, and the line stays as typed.
    texts.clear();
    ClearInterrupt();
  }
  result.fBlankAfter = !(texts.size() == 1 && texts[0].back() == '.');
  return result;
}

void NoteStatementForCompletion(CompletionCatalog& known, std::string_view statement) {
  // The verb and what it changes come first: a long statement's rest is not read.
  constexpr size_t HEAD_BYTES = 4096;
  std::vector<Token> tokens = Tokenize(known, std::string(statement.substr(0, HEAD_BYTES)));
  size_t first = 0;
  while (first < tokens.size() && tokens[first].text == "(") ++first;
  if (first >= tokens.size() || tokens[first].kind != TokenKind::Word) return;
  const std::string& verb = tokens[first].text;
  bool fChanges = EqualsIgnoringCase(verb, "CREATE") || EqualsIgnoringCase(verb, "ALTER") ||
                  EqualsIgnoringCase(verb, "DROP") || EqualsIgnoringCase(verb, "RENAME") || EqualsIgnoringCase(verb, "USE");
  for (size_t i = first; !fChanges && EqualsIgnoringCase(verb, "SET") && i < tokens.size(); ++i) {
    fChanges = EqualsIgnoringCase(tokens[i].text, "search_path") || EqualsIgnoringCase(tokens[i].text, "schema");
  }
  if (!fChanges) return;
  SetCompletionConnection(known, known.lpConnection);
}
