// Tab completion: SQL keywords and the names of the data source's tables, views and columns.
#include "session/completion.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

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

constexpr size_t MAX_CATALOG_TABLES = 1000;  // columns are read for at most this many tables
constexpr SQLLEN NAME_BUFFER = 512;          // longer names are not offered

SQLHDBC gCompletionDbc = SQL_NULL_HDBC;  // the session's connection
bool gCatalogRead = false;               // the catalog was read (or tried) once
std::vector<std::string> gCatalogNames;  // table, view and column names, sorted, each once

// Reads column iColumn of every row of the statement's result into names. Returns false on a failure.
bool ReadNameColumn(SQLHSTMT lpStmt, SQLUSMALLINT iColumn, std::vector<std::string>& names) {
  char szName[NAME_BUFFER];
  SQLLEN ind = 0;
  if (!SQL_SUCCEEDED(SQLBindCol(lpStmt, iColumn, SQL_C_CHAR, szName, sizeof szName, &ind))) return false;
  SQLRETURN RetCode;
  while (SQL_SUCCEEDED(RetCode = SQLFetch(lpStmt))) {
    if (ind > 0 && ind < NAME_BUFFER) names.emplace_back(szName, static_cast<size_t>(ind));
  }
  SQLFreeStmt(lpStmt, SQL_UNBIND);
  SQLFreeStmt(lpStmt, SQL_CLOSE);
  return RetCode == SQL_NO_DATA;
}

// Reads the names of tables, views and their columns through a statement handle of its own. A failing call
// leaves the names read so far and prints nothing: the user is in the middle of a line.
void ReadCatalog() {
  gCatalogRead = true;
  SQLHSTMT lpCatalog = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, gCompletionDbc, &lpCatalog))) return;
  std::vector<std::string> tables;
  SQLCHAR szAll[] = "%";
  SQLCHAR szTypes[] = "TABLE,VIEW";
  if (SQL_SUCCEEDED(SQLTables(lpCatalog, nullptr, 0, nullptr, 0, szAll, SQL_NTS, szTypes, SQL_NTS))) {
    ReadNameColumn(lpCatalog, 3, tables);  // TABLE_NAME
  }
  std::vector<std::string> names = tables;
  if (tables.size() > MAX_CATALOG_TABLES) tables.resize(MAX_CATALOG_TABLES);
  for (std::string& table : tables) {
    if (!SQL_SUCCEEDED(SQLColumns(lpCatalog, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(&table[0]),
                                  static_cast<SQLSMALLINT>(table.size()), szAll, SQL_NTS)) ||
        !ReadNameColumn(lpCatalog, 4, names)) {  // COLUMN_NAME
      break;
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, lpCatalog);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  gCatalogNames = std::move(names);
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (tolower(static_cast<unsigned char>(text[i])) != tolower(static_cast<unsigned char>(prefix[i]))) return false;
  }
  return true;
}

}  // namespace

void SetCompletionConnection(SQLHDBC lpDbc) { gCompletionDbc = lpDbc; }

std::vector<std::string> CompletionsOf(const std::string& prefix) {
  if (!gCatalogRead && gCompletionDbc != SQL_NULL_HDBC) ReadCatalog();
  // Keywords follow the user's case: lower case unless the prefix holds a capital.
  bool fUpper = std::any_of(prefix.begin(), prefix.end(), [](char c) { return isupper(static_cast<unsigned char>(c)) != 0; });
  std::vector<std::string> matches;
  std::set<std::string> seen;
  for (const char* keyword : KNOWN_KEYWORDS) {
    std::string word = keyword;
    if (!StartsWithIgnoringCase(word, prefix)) continue;
    if (!fUpper) std::transform(word.begin(), word.end(), word.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    if (seen.insert(word).second) matches.push_back(word);
  }
  for (const std::string& name : gCatalogNames) {
    if (StartsWithIgnoringCase(name, prefix) && seen.insert(name).second) matches.push_back(name);
  }
  return matches;
}
