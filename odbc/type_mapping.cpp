// Column types across data sources: a source column's type chosen among the target's SQLGetTypeInfo rows.
#include "odbc/type_mapping.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// A statement handle of the call's own on a connection, freed however the call ends.
struct LocalStatement {
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;  // allocated by HaveStatement
  ~LocalStatement() { DropStatement(lpStmt); }
};

// One row of the target's SQLGetTypeInfo.
struct TargetType {
  std::string name;            // TYPE_NAME, as written in a CREATE TABLE
  SQLSMALLINT sqlType = 0;     // DATA_TYPE, date and time codes in their ODBC 2 form
  SQLINTEGER maxSize = 0;      // COLUMN_SIZE: the longest text or binary, the most digits; 0 when not told
  int paramCount = 0;          // how many parameters CREATE_PARAMS names (length; precision, scale)
  SQLSMALLINT nullable = SQL_NULLABLE;  // NULLABLE: SQL_NO_NULLS for a type that holds no NULL
  bool fUnsigned = false;      // UNSIGNED_ATTRIBUTE is true
  bool fAutoUnique = false;    // AUTO_UNIQUE_VALUE is true: a counter the target fills (serial)
};

// Date and time codes in one form: the console's environment asks for ODBC 2 behaviour, but a caller may
// hold ODBC 3 codes.
SQLSMALLINT Odbc2Type(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_TYPE_DATE: return SQL_DATE;
    case SQL_TYPE_TIME: return SQL_TIME;
    case SQL_TYPE_TIMESTAMP: return SQL_TIMESTAMP;
    default: return sqlType;
  }
}

// The SQL types that hold a value of `sqlType`, the type itself first, then wider ones.
std::vector<SQLSMALLINT> TypesHolding(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT: return {SQL_BIT, SQL_TINYINT, SQL_SMALLINT, SQL_INTEGER};
    case SQL_TINYINT: return {SQL_TINYINT, SQL_SMALLINT, SQL_INTEGER, SQL_BIGINT, SQL_NUMERIC, SQL_DECIMAL};
    case SQL_SMALLINT: return {SQL_SMALLINT, SQL_INTEGER, SQL_BIGINT, SQL_NUMERIC, SQL_DECIMAL};
    case SQL_INTEGER: return {SQL_INTEGER, SQL_BIGINT, SQL_NUMERIC, SQL_DECIMAL};
    case SQL_BIGINT: return {SQL_BIGINT, SQL_NUMERIC, SQL_DECIMAL};
    case SQL_DECIMAL: return {SQL_DECIMAL, SQL_NUMERIC, SQL_DOUBLE};  // a double only where no exact type is
    case SQL_NUMERIC: return {SQL_NUMERIC, SQL_DECIMAL, SQL_DOUBLE};
    case SQL_REAL: return {SQL_REAL, SQL_FLOAT, SQL_DOUBLE};
    case SQL_FLOAT: return {SQL_FLOAT, SQL_DOUBLE};
    case SQL_DOUBLE: return {SQL_DOUBLE, SQL_FLOAT};
    case SQL_CHAR: return {SQL_CHAR, SQL_VARCHAR, SQL_WCHAR, SQL_WVARCHAR, SQL_LONGVARCHAR, SQL_WLONGVARCHAR};
    case SQL_VARCHAR: return {SQL_VARCHAR, SQL_WVARCHAR, SQL_LONGVARCHAR, SQL_WLONGVARCHAR};
    case SQL_LONGVARCHAR: return {SQL_LONGVARCHAR, SQL_WLONGVARCHAR, SQL_VARCHAR, SQL_WVARCHAR};
    case SQL_WCHAR: return {SQL_WCHAR, SQL_CHAR, SQL_WVARCHAR, SQL_VARCHAR, SQL_WLONGVARCHAR, SQL_LONGVARCHAR};
    case SQL_WVARCHAR: return {SQL_WVARCHAR, SQL_VARCHAR, SQL_WLONGVARCHAR, SQL_LONGVARCHAR};
    case SQL_WLONGVARCHAR: return {SQL_WLONGVARCHAR, SQL_LONGVARCHAR, SQL_WVARCHAR, SQL_VARCHAR};
    case SQL_BINARY: return {SQL_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY};
    case SQL_VARBINARY: return {SQL_VARBINARY, SQL_LONGVARBINARY};
    case SQL_LONGVARBINARY: return {SQL_LONGVARBINARY, SQL_VARBINARY};
    case SQL_DATE: return {SQL_DATE, SQL_TIMESTAMP};
    case SQL_TIME: return {SQL_TIME};
    case SQL_TIMESTAMP: return {SQL_TIMESTAMP};
    case SQL_GUID: return {SQL_GUID, SQL_CHAR, SQL_VARCHAR};
    default: return {sqlType};
  }
}

bool IsLengthType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
      return true;
    default:
      return false;
  }
}

// A long type (text, blob) holds any length and is written without one.
bool IsLongType(SQLSMALLINT sqlType) {
  return sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR || sqlType == SQL_LONGVARBINARY;
}

bool IsExactNumber(SQLSMALLINT sqlType) { return sqlType == SQL_DECIMAL || sqlType == SQL_NUMERIC; }

bool IsNumber(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT: case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: case SQL_DECIMAL:
    case SQL_NUMERIC: case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE:
      return true;
    default:
      return false;
  }
}

// The size a column of `column` needs in a type of `sqlType`: a GUID is 36 characters of text.
SQLULEN NeededSize(const SourceColumn& column, SQLSMALLINT sqlType) {
  if (Odbc2Type(column.sqlType) == SQL_GUID && sqlType != SQL_GUID) return 36;
  return column.columnSize;
}

// Reads an integer column of the current type row; `fallback` when it is NULL or cannot be read.
SQLINTEGER IntegerColumn(SQLHSTMT lpStmt, SQLUSMALLINT iCol, SQLINTEGER fallback) {
  SQLINTEGER value = 0;
  SQLLEN cbValue = 0;
  if (!SQL_SUCCEEDED(SQLGetData(lpStmt, iCol, SQL_C_SLONG, &value, 0, &cbValue)) || cbValue == SQL_NULL_DATA) return fallback;
  return value;
}

// Reads a text column of the current type row; empty when it is NULL or cannot be read.
std::string TextColumn(SQLHSTMT lpStmt, SQLUSMALLINT iCol) {
  char buffer[256] = "";
  SQLLEN cbValue = 0;
  if (!SQL_SUCCEEDED(SQLGetData(lpStmt, iCol, SQL_C_CHAR, buffer, sizeof buffer, &cbValue)) || cbValue == SQL_NULL_DATA) return "";
  return buffer;
}

// How many parameters a CREATE_PARAMS text names: "max length" one, "precision,scale" two.
int ParamCount(const std::string& createParams) {
  if (createParams.find_first_not_of(" ") == std::string::npos) return 0;
  int count = 1;
  for (char c : createParams) count += c == ',' ? 1 : 0;
  return count;
}

// Reads every type the target has. Returns false, reported, when SQLGetTypeInfo fails.
bool ReadTargetTypes(Connection& target, std::vector<TargetType>* types) {
  LocalStatement statement;
  if (!HaveStatement(target, statement.lpStmt)) return false;
  if (!CheckedCall(statement.lpStmt, SQL_HANDLE_STMT, SQLGetTypeInfo(statement.lpStmt, SQL_ALL_TYPES),
                   "SQLGetTypeInfo(lpStmt, SQL_ALL_TYPES)")) {
    return false;
  }
  for (;;) {
    SQLRETURN RetCode = SQLFetch(statement.lpStmt);
    if (RetCode == SQL_NO_DATA) break;
    if (!CheckedCall(statement.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLFetch(lpStmt)")) return false;
    TargetType type;
    type.name = TextColumn(statement.lpStmt, 1);
    type.sqlType = Odbc2Type(static_cast<SQLSMALLINT>(IntegerColumn(statement.lpStmt, 2, 0)));
    type.maxSize = IntegerColumn(statement.lpStmt, 3, 0);
    type.paramCount = ParamCount(TextColumn(statement.lpStmt, 6));
    type.nullable = static_cast<SQLSMALLINT>(IntegerColumn(statement.lpStmt, 7, SQL_NULLABLE));
    type.fUnsigned = IntegerColumn(statement.lpStmt, 10, SQL_FALSE) == SQL_TRUE;
    type.fAutoUnique = IntegerColumn(statement.lpStmt, 12, SQL_FALSE) == SQL_TRUE;
    if (!type.name.empty()) types->push_back(type);
  }
  return true;
}

// Whether a column of the target's `type` holds every value of `column`. The precision and scale a driver
// tells for exact numbers are not the server's (psqlODBC's 28 and 6): the server judges those.
bool TypeHolds(const TargetType& type, const SourceColumn& column) {
  // MariaDB's driver marks "INT UNSIGNED" and its kin signed, but names them so.
  bool fUnsigned = type.fUnsigned || strcasestr(type.name.c_str(), "unsigned") != nullptr;
  if (fUnsigned && IsNumber(type.sqlType)) return false;
  if (column.nullable != SQL_NO_NULLS && type.nullable == SQL_NO_NULLS) return false;
  if (!IsLengthType(type.sqlType) || IsLongType(type.sqlType)) return true;
  SQLULEN size = NeededSize(column, type.sqlType);
  // A type written with a length needs one the source tells.
  if (type.paramCount > 0 && size == 0) return false;
  return type.maxSize <= 0 || size <= static_cast<SQLULEN>(type.maxSize);
}

// Whether `candidate` serves `column` better than `best`, both of one SQL type and holding it: one that is
// no counter (MariaDB's driver calls every integer type one: any may be AUTO_INCREMENT); then among long
// types the shortest that holds the size told (TEXT before LONGTEXT), or the longest when none is told or
// none holds it (psqlODBC tells 8190 for text, its fetch limit); a size a driver tells of 0 or less is no
// limit. Otherwise the driver's order stands.
bool ServesBetter(const TargetType& candidate, const TargetType& best, const SourceColumn& column) {
  if (candidate.fAutoUnique != best.fAutoUnique) return !candidate.fAutoUnique;
  if (!IsLongType(candidate.sqlType)) return false;
  auto longer = [](SQLINTEGER a, SQLINTEGER b) { return b > 0 && (a <= 0 || a > b); };
  auto holds = [&](SQLINTEGER maxSize) {
    return column.columnSize > 0 && (maxSize <= 0 || column.columnSize <= static_cast<SQLULEN>(maxSize));
  };
  if (holds(candidate.maxSize) != holds(best.maxSize)) return holds(candidate.maxSize);
  return holds(candidate.maxSize) ? longer(best.maxSize, candidate.maxSize) : longer(candidate.maxSize, best.maxSize);
}

// The name to write for a type the driver lists: psqlODBC lists only timestamptz for SQL_TIMESTAMP, but a
// value without a time zone goes into timestamp.
std::string WrittenName(const DataSourceProfile& profile, const TargetType& type) {
  if (profile.dialect == SqlDialect::PostgreSql && type.name == "timestamptz") return "timestamp";
  return type.name;
}

// The type as a CREATE TABLE writes it: a length for text and binary, precision and scale for exact
// numbers, where CREATE_PARAMS asks for them ("char() for bit data" takes them between its parentheses).
std::string TypeText(const DataSourceProfile& profile, const TargetType& type, const SourceColumn& column) {
  std::string name = WrittenName(profile, type);
  std::string params;
  char buffer[64];
  if (IsLengthType(type.sqlType) && !IsLongType(type.sqlType) && type.paramCount >= 1) {
    snprintf(buffer, sizeof buffer, "(%lu)", static_cast<unsigned long>(NeededSize(column, type.sqlType)));
    params = buffer;
  } else if (IsExactNumber(type.sqlType) && type.paramCount >= 1 && IsExactNumber(Odbc2Type(column.sqlType)) &&
             column.columnSize > 0) {
    if (type.paramCount >= 2) {
      snprintf(buffer, sizeof buffer, "(%lu,%d)", static_cast<unsigned long>(column.columnSize), column.decimalDigits);
    } else {
      snprintf(buffer, sizeof buffer, "(%lu)", static_cast<unsigned long>(column.columnSize));
    }
    params = buffer;
  }
  size_t parentheses = name.find("()");
  if (parentheses == std::string::npos) return name + params;
  return name.substr(0, parentheses) + params + name.substr(parentheses + 2);
}

// A table name split at its last dot: the schema (or catalog) before it, empty when none, and the table.
void SplitTableName(const std::string& table, std::string* qualifier, std::string* name) {
  size_t dot = table.rfind('.');
  *qualifier = dot == std::string::npos ? "" : table.substr(0, dot);
  *name = dot == std::string::npos ? table : table.substr(dot + 1);
}

// A catalog pattern that matches `name` alone: _ and % escaped where the source has an escape.
std::string ExactPattern(const DataSourceProfile& profile, const std::string& name) {
  if (profile.searchEscape.empty()) return name;
  std::string pattern;
  for (char c : name) {
    if (c == '_' || c == '%' || profile.searchEscape.find(c) == 0) pattern += profile.searchEscape;
    pattern += c;
  }
  return pattern;
}

}  // namespace

bool CreateTableText(Connection& target, const std::string& table, const std::vector<SourceColumn>& columns, std::string* text) {
  std::vector<TargetType> types;
  if (!ReadTargetTypes(target, &types)) return false;
  const DataSourceProfile& profile = target.profile;
  std::string qualifier, name;
  SplitTableName(table, &qualifier, &name);
  std::string statement = "CREATE TABLE ";
  if (!qualifier.empty()) statement += QuotedName(profile, qualifier) + '.';
  statement += QuotedName(profile, name) + " (";
  for (size_t iCol = 0; iCol < columns.size(); ++iCol) {
    const SourceColumn& column = columns[iCol];
    const TargetType* chosen = nullptr;
    for (SQLSMALLINT sqlType : TypesHolding(Odbc2Type(column.sqlType))) {
      for (const TargetType& type : types) {
        if (type.sqlType != sqlType || !TypeHolds(type, column)) continue;
        if (chosen == nullptr || ServesBetter(type, *chosen, column)) chosen = &type;
      }
      if (chosen != nullptr) break;
    }
    if (chosen == nullptr) {
      char reason[512];
      snprintf(reason, sizeof reason, "%s has no type for column %s (SQL type %d, size %lu, scale %d)\n",
               profile.dbmsName.empty() ? "The target" : profile.dbmsName.c_str(), column.name.c_str(), column.sqlType,
               static_cast<unsigned long>(column.columnSize), column.decimalDigits);
      ReportText(reason);
      return false;
    }
    if (iCol > 0) statement += ", ";
    statement += QuotedName(profile, column.name) + ' ' + TypeText(profile, *chosen, column);
    if (column.nullable == SQL_NO_NULLS) statement += " NOT NULL";
  }
  statement += ')';
  *text = std::move(statement);
  return true;
}

bool TableExists(Connection& connection, const std::string& table, bool* fExists) {
  const DataSourceProfile& profile = connection.profile;
  std::string qualifier, name;
  SplitTableName(table, &qualifier, &name);
  std::string pattern = ExactPattern(profile, name);
  std::string schemaPattern = ExactPattern(profile, qualifier);
  // A server of many databases and no schemas (MariaDB) qualifies a table by its catalog.
  bool fByCatalog = !qualifier.empty() && !profile.fSchemas && profile.fCatalogs;
  LocalStatement statement;
  if (!HaveStatement(connection, statement.lpStmt)) return false;
  auto text = [](std::string& value) { return reinterpret_cast<SQLCHAR*>(&value[0]); };
  SQLRETURN RetCode = SQLTables(statement.lpStmt, fByCatalog ? text(qualifier) : nullptr, fByCatalog ? SQL_NTS : 0,
                                !fByCatalog && !qualifier.empty() ? text(schemaPattern) : nullptr,
                                !fByCatalog && !qualifier.empty() ? SQL_NTS : 0, text(pattern), SQL_NTS, nullptr, 0);
  if (!CheckedCall(statement.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLTables(lpStmt, NULL, 0, szSchema, SQL_NTS, szTable, SQL_NTS, NULL, 0)")) {
    return false;
  }
  *fExists = false;
  for (;;) {
    RetCode = SQLFetch(statement.lpStmt);
    if (RetCode == SQL_NO_DATA) break;
    if (!CheckedCall(statement.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLFetch(lpStmt)")) return false;
    std::string found = TextColumn(statement.lpStmt, 3);
    // A source that keeps names as typed but matches them in any case has the table in any case; the SQLite
    // driver calls SQLite's names case-sensitive, which they are not.
    bool fAnyCase = profile.identifierCase == SQL_IC_MIXED || profile.dialect == SqlDialect::Sqlite;
    if (found == name || (fAnyCase && strcasecmp(found.c_str(), name.c_str()) == 0)) *fExists = true;
  }
  return true;
}
