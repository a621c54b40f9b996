// Rows into a PostgreSQL table as one array a column: INSERT ... SELECT * FROM unnest(?::T1[], ?::T2[], ...).
#pragma once

#include <string>
#include <vector>

#include "odbc/bulk_insert.h"

// Reads from the catalog, for each of `columns` of `table` (as typed), the name of the array type of its
// type, to cast a parameter to. Returns false, with *arrayTypes empty, where a column does not fit: it holds
// arrays itself (unnest would flatten them), its type has no array type or writes another delimiter, or the
// catalog could not be read (nothing is reported).
bool ReadArrayTypes(Connection& target, const std::string& table, const std::vector<TargetColumn>& columns,
                    std::vector<std::string>* arrayTypes);

// "INSERT INTO table (names) SELECT * FROM unnest(?::T1, ...)" for the array types read.
std::string ArrayInsertText(const std::string& table, const std::string& names, const std::vector<std::string>& arrayTypes);

// What the values of a bytea column are, for its array literal.
enum class ArrayBinary {
  None,     // not a bytea column
  HexText,  // psqlODBC's text of bytea, bare hex digits: they go with the \x that makes the server read hex
  Bytes,    // the bytes themselves: they go as \x and their hex digits
};

// Writes into *text the array literal of column iCol of `count` rows: each value in double quotes with
// backslashes before its quotes and backslashes, NULL as NULL.
void ColumnArrayLiteral(const RowValues* rows, size_t count, size_t iCol, ArrayBinary binary, std::string* text);
