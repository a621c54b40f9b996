// Column types across data sources: a CREATE TABLE for a target from a source's columns, and whether a table exists.
#pragma once

#include <string>
#include <vector>

#include "odbc/connection.h"

// One column of a source's result, as SQLDescribeCol tells it.
struct SourceColumn {
  std::string name;            // the column's name
  SQLSMALLINT sqlType;         // its SQL data type (SQL_VARCHAR, SQL_TYPE_DATE or SQL_DATE, ...)
  SQLULEN columnSize;          // its size: characters, bytes or digits of precision
  SQLSMALLINT decimalDigits;   // its scale, or the fractional digits of a time
  SQLSMALLINT nullable;        // SQL_NO_NULLS, SQL_NULLABLE or SQL_NULLABLE_UNKNOWN
};

// Writes into *text the CREATE TABLE statement for `table` on `target` with `columns`: each column's type is
// the first of the target's types (SQLGetTypeInfo) of the column's SQL type, or of the nearest wider one,
// that holds its size and precision, written with a size and scale where its CREATE_PARAMS asks for them,
// NOT NULL where the source says so. A long column (text, blob) gets the shortest long type that holds the
// size told, the longest when the size is 0: a caller that knows the size told is only the driver's fetch
// limit passes 0; when none holds it, the longest. Names are quoted by the target's quote character; a dotted table name
// is a schema and a table. Returns false with the reason reported when the types cannot be read or no type
// of the target holds a column.
bool CreateTableText(Connection& target, const std::string& table, const std::vector<SourceColumn>& columns, std::string* text);

// Sets *fExists to whether `table` (a dotted name is a schema and a table) is a table or view on `connection`
// (SQLTables, the name matched exactly). Returns false, reported, when the catalog cannot be read.
bool TableExists(Connection& connection, const std::string& table, bool* fExists);
