// Rows into one table of a connection: one prepared INSERT with parameter arrays, in one transaction where the target has them.
#pragma once

#include <string>
#include <vector>

#include "odbc/connection.h"
#include "odbc/row_values.h"

// A column of the target table, as the target describes it.
struct TargetColumn {
  std::string name;           // its name as the target spells it
  SQLSMALLINT sqlType;        // its SQL type
  SQLULEN columnSize;         // its size: characters for text, digits for numbers
  SQLSMALLINT decimalDigits;  // its scale, or a time's fraction digits
  SQLSMALLINT nullable;       // SQL_NO_NULLS, SQL_NULLABLE or SQL_NULLABLE_UNKNOWN
};

// Reads the columns of `table` (as typed: quoted where it must be) from a query of it for no rows, on a
// statement of its own. Returns false when a call failed (reported).
bool DescribeTargetTable(Connection& target, const std::string& table, std::vector<TargetColumn>* columns);

// Where a batch the target refused went wrong, as far as can be told.
struct InsertFailure {
  long place = 0;          // the place of the row refused; 0 when neither the driver nor a check could tell
  long firstPlace = 0;     // the place of the batch's first row
  long lastPlace = 0;      // and of its last
  int iColumn = -1;        // the column at fault (NULL into NOT NULL, text longer than its column), or -1
  std::string value;       // that column's value in the row refused
};

// How a driver writes a binary value as text (SQL_C_CHAR).
enum class BinaryText {
  Bytes,      // the bytes themselves (the MariaDB and MySQL drivers)
  XQuoted,    // X'hex' (the SQLite driver)
  HexDigits,  // hex digits alone, as ODBC has it (psqlODBC, Virtuoso's driver, the rest)
};

// Whether values of an SQL type are bytes.
bool IsBinarySqlType(SQLSMALLINT sqlType);

// How the driver of a data source writes a binary value as text.
BinaryText BinaryTextOf(const DataSourceProfile& profile);

// Turns a value written as `form` in place into the bytes it spells and returns their count; a value not
// written so stays as it is.
size_t BytesOfBinaryText(char* value, size_t len, BinaryText form);

// The bytes a batch's parameter buffers may take before it is sent early: a long value makes a short batch.
constexpr size_t BULK_BATCH_BYTES = 16 * 1024 * 1024;

// A load into one table: the prepared INSERT on a statement of its own, and the batch of rows not sent yet.
struct BulkInsert {
  Connection* lpTarget = nullptr;          // where the rows go
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;        // the prepared INSERT of rowsPerStatement rows; owned
  SQLHSTMT lpStmtOneRow = SQL_NULL_HSTMT;  // the INSERT of one row, for a batch's last rows; owned, when rowsPerStatement > 1
  SQLULEN rowsPerStatement = 1;            // rows one execute of a parameter set inserts
  bool fTextParameters = false;            // every parameter is declared VARCHAR: the server converts it
  bool fBinaryFromText = false;            // a binary column's text goes as the bytes it spells, as the driver writes it
  std::vector<char> bytesGiven;            // per column, 1 where the values are bytes already (set before OpenBulkInsert)
  bool fParameterArrays = false;           // the driver takes arrays of parameter sets (SQL_ATTR_PARAMSET_SIZE)
  std::vector<TargetColumn> columns;       // the columns filled, in the order of each row's values
  bool fTransaction = false;               // autocommit is off: one commit at the end, a rollback on failure
  SQLULEN maxBatchRows = 1000;             // rows a batch holds at most: 1 where the driver has no parameter arrays
  std::vector<RowValues> batch;            // the rows of the batch; the first batchRows are in use
  SQLULEN batchRows = 0;                   // rows in the batch
  std::vector<size_t> widest;              // per column, the longest value of the batch in bytes
  std::vector<char> buffer;                // the batch's values, column after column, each in a slot of widest + 1
  std::vector<SQLLEN> indicators;          // per column, the batch's lengths or SQL_NULL_DATA
  std::vector<std::string> arrayTypes;     // per column, the array type its values are cast to: a batch goes as one array a column
  std::vector<std::string> arrays;         // the batch's array literal of each column, when arrayTypes are set
  std::vector<SQLUSMALLINT> paramStatus;   // the driver's word on each row of the last batch
  SQLULEN paramsProcessed = 0;             // rows of the last batch the driver processed
  unsigned long long rowsSent = 0;         // rows sent and accepted so far
  InsertFailure failure;                   // where the last failed batch went wrong
};

// Prepares "INSERT INTO table (columns) VALUES (?, ...)" on a statement of its own on `target` and turns
// autocommit off where the target has transactions. Returns false when a call failed (reported).
bool OpenBulkInsert(BulkInsert& insert, Connection& target, const std::string& table, const std::vector<TargetColumn>& columns);

// The row to fill next: one of the batch's, cleared.
RowValues& NextBatchRow(BulkInsert& insert);

// Takes the row NextBatchRow gave into the batch, which holds one value for each column; sends the batch
// when it is full. Returns false when the target refused a batch (diagnostics reported, failure filled).
bool AddBatchRow(BulkInsert& insert);

// Sends what the batch holds and commits. Returns false when the target refused (as above) or the commit failed.
bool FinishBulkInsert(BulkInsert& insert);

// Rolls back what was sent, where the target has transactions; a lost connection has rolled it back already.
void AbandonBulkInsert(BulkInsert& insert);

// Frees the statement and sets autocommit back on. Results ignored.
void CloseBulkInsert(BulkInsert& insert);
