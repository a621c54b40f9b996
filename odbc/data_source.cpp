// The data source's profile, read once a connection: names, versions, dialect, naming rules, driver faults.
#include "odbc/data_source.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <numeric>

#include "odbc/driver_quirks.h"

namespace {

bool StartsWithAnyCase(const char* text, const char* prefix) { return strncasecmp(text, prefix, strlen(prefix)) == 0; }

// A text of SQLGetInfo, or "" when the driver does not give it.
std::string InfoText(SQLHDBC lpDbc, SQLUSMALLINT infoType) {
  char buffer[256] = "";
  if (!SQL_SUCCEEDED(SQLGetInfo(lpDbc, infoType, buffer, sizeof buffer, nullptr))) return "";
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

template <typename Number>
Number InfoNumber(SQLHDBC lpDbc, SQLUSMALLINT infoType, Number fallback) {
  Number value = 0;
  return SQL_SUCCEEDED(SQLGetInfo(lpDbc, infoType, &value, sizeof value, nullptr)) ? value : fallback;
}

// True when a MySQL-family server's @@sql_mode holds NO_BACKSLASH_ESCAPES (false when it cannot be read).
bool SqlModeHasNoBackslashEscapes(SQLHDBC lpDbc) {
  return FirstValueOf(lpDbc, "select @@sql_mode").find("NO_BACKSLASH_ESCAPES") != std::string::npos;
}

// The value of attribute `name` in a connection string ("NAME=value;..."; names in any case), or "".
std::string AttributeOf(const char* connectionString, const char* name) {
  size_t nameLength = strlen(name);
  for (const char* at = connectionString; at != nullptr && *at != '\0';) {
    const char* end = strchr(at, ';');
    size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
    if (length > nameLength && at[nameLength] == '=' && strncasecmp(at, name, nameLength) == 0) {
      return std::string(at + nameLength + 1, length - nameLength - 1);
    }
    at = end != nullptr ? end + 1 : nullptr;
  }
  return "";
}

}  // namespace

std::string FirstValueOf(SQLHDBC lpDbc, const char* szQuery) {
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, lpDbc, &lpStmt))) return "";
  char szValue[2048] = "";
  SQLLEN cbValue = 0;
  bool fRead = SQL_SUCCEEDED(SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(szQuery)), SQL_NTS)) &&
               SQL_SUCCEEDED(SQLFetch(lpStmt)) &&
               SQL_SUCCEEDED(SQLGetData(lpStmt, 1, SQL_C_CHAR, szValue, sizeof szValue, &cbValue)) && cbValue > 0;
  SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
  return fRead ? std::string(szValue) : std::string();
}

SqlDialect DialectOfDbms(const char* szDbmsName) {
  if (szDbmsName == nullptr) return SqlDialect::Generic;
  if (StartsWithAnyCase(szDbmsName, "PostgreSQL")) return SqlDialect::PostgreSql;
  if (StartsWithAnyCase(szDbmsName, "MySQL") || StartsWithAnyCase(szDbmsName, "MariaDB")) return SqlDialect::MySql;
  if (StartsWithAnyCase(szDbmsName, "SQLite")) return SqlDialect::Sqlite;
  if (StartsWithAnyCase(szDbmsName, "Microsoft SQL Server")) return SqlDialect::SqlServer;
  if (StartsWithAnyCase(szDbmsName, "OpenLink Virtuoso") || StartsWithAnyCase(szDbmsName, "Virtuoso")) {
    return SqlDialect::Virtuoso;
  }
  return SqlDialect::Generic;
}

DataSourceProfile ReadProfile(SQLHDBC lpDbc, const char* completedString) {
  DataSourceProfile profile;
  profile.dbmsName = InfoText(lpDbc, SQL_DBMS_NAME);
  profile.dbmsVersion = InfoText(lpDbc, SQL_DBMS_VER);
  profile.driverName = InfoText(lpDbc, SQL_DRIVER_NAME);
  profile.driverVersion = InfoText(lpDbc, SQL_DRIVER_VER);
  profile.dialect = DialectOfDbms(profile.dbmsName.c_str());
  profile.fNoBackslashEscapes = profile.dialect == SqlDialect::MySql && SqlModeHasNoBackslashEscapes(lpDbc);
  profile.identifierCase = InfoNumber<SQLUSMALLINT>(lpDbc, SQL_IDENTIFIER_CASE, SQL_IC_MIXED);
  std::string quote = InfoText(lpDbc, SQL_IDENTIFIER_QUOTE_CHAR);
  if (!quote.empty()) profile.quote = quote[0] == ' ' ? '\0' : quote[0];  // a blank: the source has none
  profile.searchEscape = InfoText(lpDbc, SQL_SEARCH_PATTERN_ESCAPE);
  profile.fSchemas = InfoNumber<SQLUINTEGER>(lpDbc, SQL_SCHEMA_USAGE, 0) != 0;
  profile.fCatalogs = InfoNumber<SQLUINTEGER>(lpDbc, SQL_CATALOG_USAGE, 0) != 0;
  profile.fGetDataOnBound = (InfoNumber<SQLUINTEGER>(lpDbc, SQL_GETDATA_EXTENSIONS, 0) & SQL_GD_BOUND) != 0;
  // MySQL and MariaDB servers keep every value within its display size, and their driver writes numbers
  // as the console does: an export may fetch rowsets, and numbers come in binary.
  profile.fSizesHold = profile.dialect == SqlDialect::MySql;
  profile.fBinaryNumbers = profile.dialect == SqlDialect::MySql;
  DriverQuirks quirks = QuirksOfDriver(profile.driverName.c_str());
  profile.fConcurrentCancelCrashes = quirks.fConcurrentCancelCrashes;
  profile.fMoreResultsAfterCount = !quirks.fMoreResultsCrashAfterCount;
  profile.fLabelTitles = !quirks.fStringAttributesOverrun;
  profile.fParameterArrays = !quirks.fParameterArraysGarbled;
  profile.fBigintText = !quirks.fBigintTextCut;
  profile.connectTimeoutKey = quirks.szConnectTimeoutKey;
  // psqlODBC with UseDeclareFetch reads its cursor Fetch rows at a time, and a block that fails takes the
  // rows before the failure in a rowset with it: rowsets that divide its blocks lose none (version 13).
  if (StartsWithAnyCase(profile.driverName.c_str(), "psqlodbc") &&
      AttributeOf(completedString, "UseDeclareFetch") == "1") {
    long fetchRows = atol(AttributeOf(completedString, "Fetch").c_str());
    profile.rowsetRows = fetchRows > 0 ? std::gcd(static_cast<SQLULEN>(fetchRows), profile.rowsetRows) : 1;
  }
  // MDBTools (1.0.0) reports no driver name, and keeps a result's columns after SQLFreeStmt(SQL_CLOSE).
  profile.fStaleColumnsAfterClose = StartsWithAnyCase(profile.dbmsName.c_str(), "MDBTOOLS");
  // SQLite's SQLITE_MAX_SQL_LENGTH; its driver crashes on a longer text instead of refusing it.
  if (profile.dialect == SqlDialect::Sqlite) profile.cbMaxStatement = 1000000000;
  return profile;
}

std::string QuotedName(const DataSourceProfile& profile, const std::string& name) {
  if (profile.quote == '\0' || profile.quote == ' ') return name;
  // SQL Server's '[' closes with ']'; every other quote closes with itself.
  const char close = profile.quote == '[' ? ']' : profile.quote;
  std::string text(1, profile.quote);
  for (char c : name) {
    text += c;
    if (c == close) text += c;
  }
  text += close;
  return text;
}
