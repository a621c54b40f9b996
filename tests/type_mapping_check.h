// Test helper: a source's result columns described, a table made for them on a target by the type mapping.
#pragma once

#include <string>
#include <vector>

#include "odbc/connection.h"
#include "odbc/type_mapping.h"

// A SQLite table of the type-matrix types. Its driver describes them loosely: numeric and real as double,
// char as varchar, text as a long varchar, blob as a binary of 255 bytes, and every column as nullable.
constexpr char kSqliteMatrixTable[] =
    "create table matrix(i integer not null, b bigint, s smallint, n numeric(10,2), d double, r real, c char(5), "
    "v varchar(40), t text, dt date, tm time, ts timestamp, bl blob)";

// What one mapping did.
struct TypeMappingRun {
  std::string error;         // the step that failed, empty when none did
  std::string createText;    // the CREATE TABLE the mapping wrote
  bool fExistedBefore = true;  // TableExists said the table was there before it was created
  bool fExistsAfter = false;   // TableExists said it was there after
};

// Describes the result columns of `query` on sourceConnStr, writes the CREATE TABLE for `table` on
// targetConnStr, runs it there and asks whether the table exists before and after.
inline TypeMappingRun CreateFromSource(const std::string& sourceConnStr, const std::string& query,
                                       const std::string& targetConnStr, const std::string& table) {
  TypeMappingRun run;
  Connection source;
  Connection target;
  if (!AllocateEnvironment(source) || !Connect(source, sourceConnStr) || !HaveStatement(source, source.lpStmt)) {
    run.error = "connecting to the source";
    return run;
  }
  std::string text = query;
  if (!SQL_SUCCEEDED(SQLExecDirect(source.lpStmt, reinterpret_cast<SQLCHAR*>(&text[0]), SQL_NTS))) {
    run.error = "running the query";
    return run;
  }
  SQLSMALLINT columnCount = 0;
  SQLNumResultCols(source.lpStmt, &columnCount);
  std::vector<SourceColumn> columns;
  for (SQLUSMALLINT iCol = 1; iCol <= columnCount; ++iCol) {
    SQLCHAR szName[256];
    SQLSMALLINT cbName = 0;
    SourceColumn column{};
    if (!SQL_SUCCEEDED(SQLDescribeCol(source.lpStmt, iCol, szName, sizeof szName, &cbName, &column.sqlType,
                                      &column.columnSize, &column.decimalDigits, &column.nullable))) {
      run.error = "describing column " + std::to_string(iCol);
      return run;
    }
    column.name = reinterpret_cast<char*>(szName);
    columns.push_back(column);
  }
  if (!AllocateEnvironment(target) || !Connect(target, targetConnStr) || !HaveStatement(target, target.lpStmt)) {
    run.error = "connecting to the target";
    return run;
  }
  if (!TableExists(target, table, &run.fExistedBefore)) run.error = "looking for the table before";
  if (!CreateTableText(target, table, columns, &run.createText)) {
    run.error = "mapping the types";
    return run;
  }
  std::string create = run.createText;
  if (!SQL_SUCCEEDED(SQLExecDirect(target.lpStmt, reinterpret_cast<SQLCHAR*>(&create[0]), SQL_NTS))) {
    run.error = "creating the table: " + run.createText;
    return run;
  }
  if (!TableExists(target, table, &run.fExistsAfter)) run.error = "looking for the table after";
  return run;
}

// Copies every row of `query` on sourceConnStr into `table` on targetConnStr by a plain loop of one INSERT a
// row, each value its driver's text as a quoted literal (NULL as NULL). Returns the rows copied, -1 on a failure.
inline int InsertLoop(const std::string& sourceConnStr, const std::string& query, const std::string& targetConnStr,
                      const std::string& table) {
  Connection source;
  Connection target;
  if (!AllocateEnvironment(source) || !Connect(source, sourceConnStr) || !HaveStatement(source, source.lpStmt) ||
      !AllocateEnvironment(target) || !Connect(target, targetConnStr) || !HaveStatement(target, target.lpStmt)) {
    return -1;
  }
  std::string text = query;
  SQLSMALLINT columnCount = 0;
  if (!SQL_SUCCEEDED(SQLExecDirect(source.lpStmt, reinterpret_cast<SQLCHAR*>(&text[0]), SQL_NTS)) ||
      !SQL_SUCCEEDED(SQLNumResultCols(source.lpStmt, &columnCount))) {
    return -1;
  }
  int rows = 0;
  while (SQL_SUCCEEDED(SQLFetch(source.lpStmt))) {
    std::string insert = "INSERT INTO " + table + " VALUES (";
    for (SQLUSMALLINT iCol = 1; iCol <= columnCount; ++iCol) {
      char value[1024] = "";
      SQLLEN cbValue = 0;
      SQLGetData(source.lpStmt, iCol, SQL_C_CHAR, value, sizeof value, &cbValue);
      if (iCol > 1) insert += ", ";
      if (cbValue == SQL_NULL_DATA) {
        insert += "NULL";
        continue;
      }
      insert += '\'';
      for (const char* c = value; *c != '\0'; ++c) insert += *c == '\'' ? std::string("''") : std::string(1, *c);
      insert += '\'';
    }
    insert += ')';
    if (!SQL_SUCCEEDED(SQLExecDirect(target.lpStmt, reinterpret_cast<SQLCHAR*>(&insert[0]), SQL_NTS))) return -1;
    ++rows;
  }
  return rows;
}
