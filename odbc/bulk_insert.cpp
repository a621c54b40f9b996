// Rows into one table: one prepared INSERT, parameter arrays of a batch column by column, one commit at the end.
#include "odbc/bulk_insert.h"

#include <algorithm>
#include <cstring>

#include "odbc/column_arrays.h"
#include "odbc/hex_digits.h"

namespace {

// A sentinel for the parameter status of a row the driver said nothing about.
constexpr SQLUSMALLINT STATUS_UNTOLD = 0xffff;

// Whether values of an SQL type are characters, whose column size counts characters.
bool IsCharacterType(SQLSMALLINT sqlType) {
  return sqlType == SQL_CHAR || sqlType == SQL_VARCHAR || sqlType == SQL_WCHAR || sqlType == SQL_WVARCHAR;
}

// Whether the values of column iCol are bytes already: a query's binary column into a binary one.
bool BytesGiven(const BulkInsert& insert, size_t iCol) {
  return iCol < insert.bytesGiven.size() && insert.bytesGiven[iCol] != 0;
}

// The C type column iCol's values go in: bytes for a binary column whose values are bytes or whose text the
// driver does not take back, else text.
SQLSMALLINT ValueCType(const BulkInsert& insert, size_t iCol) {
  bool fBytes = insert.fBinaryFromText || BytesGiven(insert, iCol);
  return fBytes && IsBinarySqlType(insert.columns[iCol].sqlType) ? SQL_C_BINARY : SQL_C_CHAR;
}

// The SQL type a parameter of column iCol is declared: its own for bytes; VARCHAR where every value goes as
// text for the server to convert; DECIMAL for a BIGINT where the driver converts text for an integer through
// 32 bits.
SQLSMALLINT ParameterSqlType(const BulkInsert& insert, size_t iCol) {
  const TargetColumn& column = insert.columns[iCol];
  if (ValueCType(insert, iCol) == SQL_C_BINARY) return column.sqlType;
  if (insert.fTextParameters) return SQL_VARCHAR;
  bool fBigint = column.sqlType == SQL_BIGINT || (column.sqlType == SQL_INTEGER && column.columnSize > 10);
  if (fBigint && !insert.lpTarget->profile.fBigintText) return SQL_DECIMAL;
  return column.sqlType;
}

// Characters of UTF-8 text: the bytes that do not continue a character.
size_t CharacterCount(const char* text, size_t len) {
  size_t count = 0;
  for (size_t i = 0; i < len; ++i) count += (static_cast<unsigned char>(text[i]) & 0xc0) != 0x80 ? 1 : 0;
  return count;
}

// The column of a row that the target must refuse, as far as its description tells: NULL into a column
// without NULLs, or text longer than its column. Returns -1 when none is.
int ColumnAtFault(const BulkInsert& insert, const RowValues& row) {
  for (size_t iCol = 0; iCol < insert.columns.size(); ++iCol) {
    if (row.nulls[iCol] && insert.columns[iCol].nullable == SQL_NO_NULLS) return static_cast<int>(iCol);
  }
  for (size_t iCol = 0; iCol < insert.columns.size(); ++iCol) {
    const TargetColumn& column = insert.columns[iCol];
    if (row.nulls[iCol] || !IsCharacterType(column.sqlType) || column.columnSize == 0) continue;
    size_t start = ValueStart(row, iCol);
    if (CharacterCount(row.bytes.data() + start, row.ends[iCol] - start) > column.columnSize) return static_cast<int>(iCol);
  }
  return -1;
}

// Fills insert.failure for the `count` rows of the batch from `first` that the target refused, sent `rows`
// to a statement: the rows of the set the driver marked, or of all of them, are checked against the
// description; the first at fault is named, else the one row of a marked set of one row, else the range.
void FindFailure(BulkInsert& insert, SQLULEN first, SQLULEN count, SQLULEN rows) {
  InsertFailure& failure = insert.failure;
  failure = InsertFailure{};
  SQLULEN sets = count / rows;
  long marked = -1;
  for (SQLULEN j = 0; j < sets && marked < 0; ++j) {
    if (insert.paramStatus[j] == SQL_PARAM_ERROR) marked = static_cast<long>(j);
  }
  // Without statuses, the sets processed end at the one refused; the SQLite driver (sqliteodbc 0.9998) counts
  // only the sets before it.
  SQLULEN processed = insert.paramsProcessed;
  if (insert.lpTarget->profile.driverName.find("sqlite3odbc") != std::string::npos && processed < sets) ++processed;
  if (marked < 0 && processed > 0 && processed <= sets) marked = static_cast<long>(processed) - 1;
  if (sets == 1) marked = 0;
  if (marked >= 0) {
    first += static_cast<SQLULEN>(marked) * rows;
    count = rows;
  }
  failure.firstPlace = insert.batch[first].place;
  failure.lastPlace = insert.batch[first + count - 1].place;
  for (SQLULEN i = first; i < first + count; ++i) {
    int iColumn = ColumnAtFault(insert, insert.batch[i]);
    if (iColumn < 0 && count > 1) continue;
    const RowValues& row = insert.batch[i];
    failure.place = row.place;
    failure.iColumn = iColumn;
    if (iColumn >= 0 && !row.nulls[iColumn]) {
      size_t start = ValueStart(row, iColumn);
      failure.value.assign(row.bytes, start, row.ends[iColumn] - start);
    }
    return;
  }
}

bool ExecuteBatch(BulkInsert& insert, SQLHSTMT lpStmt, SQLULEN first, SQLULEN count, SQLULEN rows);

// Writes value iCol of `row` into `slot` as cType and its length into *length.
void PutValue(const BulkInsert& insert, const RowValues& row, size_t iCol, SQLSMALLINT cType, char* slot, SQLLEN* length) {
  if (row.nulls[iCol]) {
    *length = SQL_NULL_DATA;
    return;
  }
  size_t start = ValueStart(row, iCol);
  size_t len = row.ends[iCol] - start;
  memcpy(slot, row.bytes.data() + start, len);
  slot[len] = '\0';
  bool fDecode = cType == SQL_C_BINARY && !BytesGiven(insert, iCol);
  *length = static_cast<SQLLEN>(fDecode ? BytesOfBinaryText(slot, len, BinaryTextOf(insert.lpTarget->profile)) : len);
}

// Sends the `count` rows of the batch from `first` to lpStmt, which inserts `rows` rows an execute: one
// execute of count / rows parameter sets. A parameter of a row r of the statement and a column c takes its
// values from the batch's rows r, r + rows, ... Returns false when the target refused them (reported).
bool SendRows(BulkInsert& insert, SQLHSTMT lpStmt, SQLULEN first, SQLULEN count, SQLULEN rows) {
  if (count == 0) return true;
  const size_t cCols = insert.columns.size();
  const SQLULEN sets = count / rows;
  // Each column's values in slots as wide as its longest value, a parameter's values one after another.
  std::vector<size_t> offsets(cCols);
  size_t total = 0;
  for (size_t iCol = 0; iCol < cCols; ++iCol) {
    offsets[iCol] = total;
    total += count * (insert.widest[iCol] + 1);
  }
  insert.buffer.resize(total);
  insert.indicators.resize(cCols * count);
  for (size_t iCol = 0; iCol < cCols; ++iCol) {
    const size_t slot = insert.widest[iCol] + 1;
    const TargetColumn& column = insert.columns[iCol];
    const SQLSMALLINT cType = ValueCType(insert, iCol);
    for (SQLULEN r = 0; r < rows; ++r) {
      char* values = insert.buffer.data() + offsets[iCol] + r * sets * slot;
      SQLLEN* lengths = insert.indicators.data() + (iCol * rows + r) * sets;
      for (SQLULEN j = 0; j < sets; ++j) {
        const RowValues& row = insert.batch[first + j * rows + r];
        PutValue(insert, row, iCol, cType, values + j * slot, &lengths[j]);
      }
      // The driver converts text as it would a literal of the type declared.
      SQLSMALLINT sqlType = ParameterSqlType(insert, iCol);
      SQLULEN columnSize = sqlType == SQL_VARCHAR && insert.fTextParameters ? std::max<SQLULEN>(insert.widest[iCol], 1) : column.columnSize;
      SQLRETURN RetCode = SQLBindParameter(lpStmt, static_cast<SQLUSMALLINT>(r * cCols + iCol + 1), SQL_PARAM_INPUT, cType, sqlType,
                                           columnSize, column.decimalDigits, values, static_cast<SQLLEN>(slot), lengths);
      if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLBindParameter(lpStmt,...)")) return false;
    }
  }
  if (insert.fParameterArrays) {
    SQLRETURN RetCode = SQLSetStmtAttr(lpStmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(sets), 0);
    if (!CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLSetStmtAttr(lpStmt,SQL_ATTR_PARAMSET_SIZE,...)")) return false;
  }
  return ExecuteBatch(insert, lpStmt, first, count, rows);
}

// Executes lpStmt, bound to the `count` rows of the batch from `first` in sets of `rows` rows. Returns false
// when the target refused them (reported, failure filled).
bool ExecuteBatch(BulkInsert& insert, SQLHSTMT lpStmt, SQLULEN first, SQLULEN count, SQLULEN rows) {
  const SQLULEN sets = count / rows;
  std::fill(insert.paramStatus.begin(), insert.paramStatus.begin() + static_cast<long>(sets), STATUS_UNTOLD);
  insert.paramsProcessed = 0;
  BeginCancellableCall(insert.lpTarget->canceller, lpStmt);
  SQLRETURN RetCode = SQLExecute(lpStmt);
  EndCancellableCall(insert.lpTarget->canceller);
  if (RetCode == SQL_SUCCESS_WITH_INFO) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
  // A driver may answer success for an array whose sets it refused one by one: their statuses tell.
  bool fRefused = !SQL_SUCCEEDED(RetCode);
  for (SQLULEN j = 0; j < sets && !fRefused; ++j) fRefused = insert.paramStatus[j] == SQL_PARAM_ERROR;
  if (fRefused) {
    if (RetCode == SQL_ERROR) ReportDiagnostics(lpStmt, SQL_HANDLE_STMT, RetCode);
    FindFailure(insert, first, count, rows);
    return false;
  }
  // A statement may leave a result open (a count): the next execute needs it closed.
  SQLFreeStmt(lpStmt, SQL_CLOSE);
  insert.rowsSent += count;
  return true;
}

// Sends the `count` rows of the batch as one array a column to the statement of ArrayInsertText.
bool SendArrays(BulkInsert& insert, SQLULEN count) {
  if (count == 0) return true;
  const size_t cCols = insert.columns.size();
  insert.arrays.resize(cCols);
  insert.indicators.resize(cCols);
  for (size_t iCol = 0; iCol < cCols; ++iCol) {
    std::string& array = insert.arrays[iCol];
    ArrayBinary binary = !IsBinarySqlType(insert.columns[iCol].sqlType) ? ArrayBinary::None
                         : BytesGiven(insert, iCol)                   ? ArrayBinary::Bytes
                                                                      : ArrayBinary::HexText;
    ColumnArrayLiteral(insert.batch.data(), count, iCol, binary, &array);
    insert.indicators[iCol] = static_cast<SQLLEN>(array.size());
    SQLRETURN RetCode = SQLBindParameter(insert.lpStmt, static_cast<SQLUSMALLINT>(iCol + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR,
                                         array.size(), 0, &array[0], static_cast<SQLLEN>(array.size() + 1), &insert.indicators[iCol]);
    if (!CheckedCall(insert.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLBindParameter(lpStmt,...)")) return false;
  }
  return ExecuteBatch(insert, insert.lpStmt, 0, count, count);
}

// Sends the whole batch and empties it.
bool SendBatch(BulkInsert& insert) {
  if (!insert.arrayTypes.empty()) {
    bool fSent = SendArrays(insert, insert.batchRows);
    if (fSent) {
      insert.batchRows = 0;
      std::fill(insert.widest.begin(), insert.widest.end(), 0);
    }
    return fSent;
  }
  // Whole statements of many rows first, the rest a row a set through the statement of one row.
  // Without parameter arrays, an execute takes one set: one statement of many rows, or one row.
  SQLULEN whole = insert.batchRows / insert.rowsPerStatement * insert.rowsPerStatement;
  bool fSent = SendRows(insert, insert.lpStmt, 0, whole, insert.rowsPerStatement);
  SQLHSTMT lpStmtOneRow = insert.rowsPerStatement > 1 ? insert.lpStmtOneRow : insert.lpStmt;
  SQLULEN setRows = insert.fParameterArrays ? insert.batchRows - whole : 1;
  for (SQLULEN first = whole; fSent && first < insert.batchRows; first += setRows) {
    fSent = SendRows(insert, lpStmtOneRow, first, std::min(setRows, insert.batchRows - first), 1);
  }
  if (fSent) {
    insert.batchRows = 0;
    std::fill(insert.widest.begin(), insert.widest.end(), 0);
  }
  return fSent;
}

// An identifier of a table's name as the catalog stores it: without its quotes, or folded as the source folds.
std::string CatalogName(const DataSourceProfile& profile, std::string name) {
  if (name.size() >= 2 && (name.front() == '"' || name.front() == '`' || name.front() == '[')) return name.substr(1, name.size() - 2);
  for (char& c : name) {
    if (profile.identifierCase == SQL_IC_UPPER && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (profile.identifierCase == SQL_IC_LOWER && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// Reads which columns take no NULLs from the catalog (SQLColumns), where a query's description does not
// say (the SQLite driver). Anything that fails leaves the description as it was.
void ReadNullability(Connection& target, const std::string& table, std::vector<TargetColumn>* columns) {
  size_t dot = std::string::npos;
  char quote = '\0';
  for (size_t i = 0; i < table.size(); ++i) {
    if (quote != '\0') {
      if (table[i] == quote) quote = '\0';
    } else if (table[i] == '"' || table[i] == '`') {
      quote = table[i];
    } else if (table[i] == '.') {
      dot = i;
    }
  }
  std::string schema = dot == std::string::npos ? "" : CatalogName(target.profile, table.substr(0, dot));
  std::string name = CatalogName(target.profile, dot == std::string::npos ? table : table.substr(dot + 1));
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, target.lpDbc, &lpStmt))) return;
  SQLRETURN RetCode = SQLColumns(lpStmt, nullptr, 0, schema.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(&schema[0]),
                                 static_cast<SQLSMALLINT>(schema.empty() ? 0 : schema.size()), reinterpret_cast<SQLCHAR*>(&name[0]),
                                 static_cast<SQLSMALLINT>(name.size()), nullptr, 0);
  while (SQL_SUCCEEDED(RetCode) && SQL_SUCCEEDED(SQLFetch(lpStmt))) {
    SQLCHAR szColumn[512];
    SQLLEN cbColumn = 0;
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
    SQLLEN cbNullable = 0;
    if (!SQL_SUCCEEDED(SQLGetData(lpStmt, 4, SQL_C_CHAR, szColumn, sizeof szColumn, &cbColumn)) || cbColumn < 0) break;
    if (!SQL_SUCCEEDED(SQLGetData(lpStmt, 11, SQL_C_SSHORT, &nullable, 0, &cbNullable))) break;
    for (TargetColumn& column : *columns) {
      if (nullable == SQL_NO_NULLS && column.name == reinterpret_cast<char*>(szColumn)) column.nullable = SQL_NO_NULLS;
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
}

// How many rows one INSERT names, per driver: the fastest way each takes a batch, as measured (bench/copy.sh).
SQLULEN RowsPerStatement(const DataSourceProfile& profile, size_t cColumns) {
  SQLULEN rows = 1;
  // On SQLite, 100 rows a statement take half the time of one row even where the statement stays prepared
  // (see RowsFromWith).
  if (profile.dialect == SqlDialect::Sqlite) rows = 100;
  // psqlODBC (13.02) sends a parameter array's sets one statement at a time: one statement of 1,000 rows
  // takes about half the time. The MariaDB driver (3.1) sends an array in one bulk command, the fastest
  // there, as one row a statement.
  if (profile.dialect == SqlDialect::PostgreSql) rows = 1000;
  // Every data source takes some thousands of parameters a statement (SQLite 32766, MariaDB 65535). libpq
  // under psqlODBC refuses the server's description of more than 7,498 parameters (a message over 30,000
  // bytes) and loses the connection.
  const SQLULEN maxParameters = profile.dialect == SqlDialect::PostgreSql ? 7000 : 30000;
  while (rows > 1 && rows * cColumns > maxParameters) rows /= 2;
  return rows;
}

// Whether the rows go in through a WITH of VALUES rather than INSERT ... VALUES: the SQLite driver
// (sqliteodbc 0.9998) prepares an INSERT again at every execute, which took half the load's time, but keeps
// a statement that begins with WITH prepared and only binds its parameters again (a million rows in 100-row
// statements: 2.0 s -> 0.98 s).
bool RowsFromWith(const DataSourceProfile& profile) {
  return profile.dialect == SqlDialect::Sqlite;
}

// The target's names of the columns filled, quoted where they must be, with commas between.
std::string ColumnNames(const BulkInsert& insert) {
  std::string names;
  for (size_t iCol = 0; iCol < insert.columns.size(); ++iCol) {
    names += (iCol > 0 ? ", " : "") + QuotedName(insert.lpTarget->profile, insert.columns[iCol].name);
  }
  return names;
}

// Prepares the INSERT of a batch as one array a column (ArrayInsertText) on a new statement insert.lpStmt.
bool PrepareArrayInsert(BulkInsert& insert, const std::string& table) {
  Connection& target = *insert.lpTarget;
  if (!CheckedCall(target.lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, target.lpDbc, &insert.lpStmt),
                   "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)")) {
    return false;
  }
  std::string text = ArrayInsertText(table, ColumnNames(insert), insert.arrayTypes);
  SQLRETURN RetCode = SQLPrepare(insert.lpStmt, reinterpret_cast<SQLCHAR*>(&text[0]), static_cast<SQLINTEGER>(text.size()));
  return CheckedCall(insert.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLPrepare(lpStmt,...)");
}

// Prepares "INSERT INTO table (columns) VALUES (?, ...), ..." of `rows` rows on a new statement *lpStmt and
// gives it the batch's parameter status array, where the driver takes parameter arrays.
bool PrepareInsert(BulkInsert& insert, const std::string& table, SQLULEN rows, SQLHSTMT* lpStmt) {
  Connection& target = *insert.lpTarget;
  if (!CheckedCall(target.lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, target.lpDbc, lpStmt),
                   "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)")) {
    return false;
  }
  std::string names = ColumnNames(insert);
  std::string marks = "(";
  for (size_t iCol = 0; iCol < insert.columns.size(); ++iCol) marks += iCol > 0 ? ", ?" : "?";
  marks += ")";
  std::string values = "VALUES " + marks;
  for (SQLULEN r = 1; r < rows; ++r) values += ", " + marks;
  std::string text = RowsFromWith(target.profile)
                         ? "WITH \"copied rows\" AS (" + values + ") INSERT INTO " + table + " (" + names + ") SELECT * FROM \"copied rows\""
                         : "INSERT INTO " + table + " (" + names + ") " + values;
  SQLRETURN RetCode = SQLPrepare(*lpStmt, reinterpret_cast<SQLCHAR*>(&text[0]), static_cast<SQLINTEGER>(text.size()));
  if (!CheckedCall(*lpStmt, SQL_HANDLE_STMT, RetCode, "SQLPrepare(lpStmt,...)")) return false;
  // Parameter arrays where the driver has them; one set an execute where it does not.
  SQLULEN sets = insert.maxBatchRows / rows;
  // The SQLite driver (sqliteodbc 0.9998) gives every set of an array the first set's length of a binary
  // value: a table with blobs takes one set an execute.
  bool fBytes = false;
  for (size_t iCol = 0; iCol < insert.columns.size(); ++iCol) fBytes = fBytes || ValueCType(insert, iCol) == SQL_C_BINARY;
  fBytes = fBytes && target.profile.dialect == SqlDialect::Sqlite;
  insert.fParameterArrays = !fBytes && target.profile.fParameterArrays &&
                            SQL_SUCCEEDED(SQLSetStmtAttr(*lpStmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(sets), 0)) &&
                            (rows == insert.rowsPerStatement || insert.fParameterArrays);
  if (insert.fParameterArrays) {
    SQLSetStmtAttr(*lpStmt, SQL_ATTR_PARAM_STATUS_PTR, insert.paramStatus.data(), 0);
    SQLSetStmtAttr(*lpStmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &insert.paramsProcessed, 0);
  }
  return true;
}

}  // namespace

bool IsBinarySqlType(SQLSMALLINT sqlType) {
  return sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY;
}

BinaryText BinaryTextOf(const DataSourceProfile& profile) {
  if (profile.dialect == SqlDialect::Sqlite) return BinaryText::XQuoted;
  if (profile.dialect == SqlDialect::MySql) return BinaryText::Bytes;
  return BinaryText::HexDigits;
}

size_t BytesOfBinaryText(char* value, size_t len, BinaryText form) {
  // X'hex' or hex digits alone: where the digits begin and how many there are.
  size_t at = 0;
  size_t digits = len;
  if (form == BinaryText::XQuoted) {
    if (len < 3 || (value[0] != 'X' && value[0] != 'x') || value[1] != '\'' || value[len - 1] != '\'') return len;
    at = 2;
    digits = len - 3;
  }
  if (form == BinaryText::Bytes || !IsHexBytes(value + at, digits)) return len;
  for (size_t i = 0; i < digits / 2; ++i) {
    value[i] = static_cast<char>(HexDigitValue(value[at + 2 * i]) * 16 + HexDigitValue(value[at + 2 * i + 1]));
  }
  return digits / 2;
}

bool DescribeTargetTable(Connection& target, const std::string& table, std::vector<TargetColumn>* columns) {
  columns->clear();
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  if (!CheckedCall(target.lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, target.lpDbc, &lpStmt),
                   "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)")) {
    return false;
  }
  std::string query = "SELECT * FROM " + table + " WHERE 1=0";
  bool fDescribed = CheckedCall(lpStmt, SQL_HANDLE_STMT,
                                SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&query[0]), static_cast<SQLINTEGER>(query.size())),
                                "SQLExecDirect(lpStmt,...)");
  SQLSMALLINT cCols = 0;
  fDescribed = fDescribed && CheckedCall(lpStmt, SQL_HANDLE_STMT, SQLNumResultCols(lpStmt, &cCols), "SQLNumResultCols(lpStmt,&cCols)");
  for (SQLSMALLINT iCol = 1; fDescribed && iCol <= cCols; ++iCol) {
    SQLCHAR szName[512];
    SQLSMALLINT cbName = 0;
    TargetColumn column{};
    SQLRETURN RetCode = SQLDescribeCol(lpStmt, static_cast<SQLUSMALLINT>(iCol), szName, sizeof szName, &cbName, &column.sqlType,
                                       &column.columnSize, &column.decimalDigits, &column.nullable);
    fDescribed = CheckedCall(lpStmt, SQL_HANDLE_STMT, RetCode, "SQLDescribeCol(lpStmt,...)");
    column.name = reinterpret_cast<char*>(szName);
    columns->push_back(column);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
  if (fDescribed) ReadNullability(target, table, columns);
  return fDescribed;
}

namespace {

// True when the user began a transaction with a statement of their own, where the server can tell:
// PostgreSQL's transaction started before this statement, MariaDB's and MySQL's @@in_transaction.
bool UserTransactionOpen(Connection& target) {
  const char* szQuery = target.profile.dialect == SqlDialect::PostgreSql ? "select now() <> statement_timestamp()"
                        : target.profile.dialect == SqlDialect::MySql     ? "select @@in_transaction"
                                                                          : nullptr;
  if (szQuery == nullptr) return false;
  std::string value = FirstValueOf(target.lpDbc, szQuery);
  return value == "1" || value == "t" || value == "true";
}

}  // namespace

bool OpenBulkInsert(BulkInsert& insert, Connection& target, const std::string& table, const std::vector<TargetColumn>& columns) {
  insert.lpTarget = &target;
  insert.columns = columns;
  insert.widest.assign(columns.size(), 0);
  // On PostgreSQL a batch goes as one array a column: a 1,000-row INSERT has the server bind thousands of
  // parameters and plan 1,000 rows of VALUES, four arrays are read in one go (65,000 rows of a dump: 0.31 s
  // -> 0.21 s). Read before the load's transaction begins, which a failed catalog query would end.
  if (target.profile.dialect == SqlDialect::PostgreSql) ReadArrayTypes(target, table, columns, &insert.arrayTypes);
  SQLUSMALLINT txnCapable = SQL_TC_NONE;
  SQLRETURN RetCode = SQLGetInfo(target.lpDbc, SQL_TXN_CAPABLE, &txnCapable, sizeof txnCapable, nullptr);
  if (!SQL_SUCCEEDED(RetCode)) txnCapable = SQL_TC_NONE;
  if (txnCapable != SQL_TC_NONE) {
    // Turning autocommit off would commit (psqlODBC) or end a transaction the user began with BEGIN, and the
    // load's rollback could no longer keep it whole: the user ends it first.
    if (UserTransactionOpen(target)) {
      ReportText("\\copy cannot load inside a transaction begun with BEGIN: end it with COMMIT or ROLLBACK first.\n");
      return false;
    }
    RetCode = SQLSetConnectAttr(target.lpDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
    if (!CheckedCall(target.lpDbc, SQL_HANDLE_DBC, RetCode, "SQLSetConnectAttr(lpDbc,SQL_ATTR_AUTOCOMMIT,SQL_AUTOCOMMIT_OFF)")) return false;
    insert.fTransaction = true;
  }
  // The MariaDB driver (3.1) converts text to a TIME itself and refuses times the server takes
  // ('-838:59:59.999'), and reads text for a BLOB as hex where its export gave the raw bytes: there every
  // value goes as text, for the server to convert as it would a string.
  insert.fTextParameters = target.profile.dialect == SqlDialect::MySql;
  // The SQLite driver (sqliteodbc 0.9998) and Virtuoso's (7.2.5) store text given for a binary column as its
  // characters: there a binary column's values go as bytes, those written as the driver writes them as the
  // bytes they spell.
  insert.fBinaryFromText = target.profile.dialect == SqlDialect::Sqlite || target.profile.dialect == SqlDialect::Virtuoso;
  if (!insert.arrayTypes.empty()) {
    insert.paramStatus.assign(1, STATUS_UNTOLD);
    insert.batch.resize(insert.maxBatchRows + 1);
    return PrepareArrayInsert(insert, table);
  }
  insert.rowsPerStatement = RowsPerStatement(target.profile, columns.size());
  insert.maxBatchRows = std::max<SQLULEN>(insert.maxBatchRows / insert.rowsPerStatement, 1) * insert.rowsPerStatement;
  insert.paramStatus.assign(insert.maxBatchRows, STATUS_UNTOLD);
  if (!PrepareInsert(insert, table, insert.rowsPerStatement, &insert.lpStmt)) return false;
  if (insert.rowsPerStatement > 1 && !PrepareInsert(insert, table, 1, &insert.lpStmtOneRow)) return false;
  // Without parameter arrays, a batch is a statement's rows.
  if (!insert.fParameterArrays) insert.maxBatchRows = insert.rowsPerStatement;
  insert.batch.resize(insert.maxBatchRows + 1);
  return true;
}

RowValues& NextBatchRow(BulkInsert& insert) {
  RowValues& row = insert.batch[insert.batchRows];
  ClearRow(row);
  return row;
}

bool AddBatchRow(BulkInsert& insert) {
  const RowValues& row = insert.batch[insert.batchRows];
  // The buffers the batch would take with this row: a long value sends the rows before it first.
  size_t bytes = 0;
  std::vector<size_t>& widest = insert.widest;
  for (size_t iCol = 0; iCol < widest.size(); ++iCol) {
    size_t len = row.ends[iCol] - ValueStart(row, iCol);
    bytes += (insert.batchRows + 1) * (std::max(widest[iCol], len) + 1);
  }
  if (bytes > BULK_BATCH_BYTES && insert.batchRows > 0) {
    SQLULEN waiting = insert.batchRows;
    if (!SendBatch(insert)) return false;
    std::swap(insert.batch[0], insert.batch[waiting]);
  }
  // After an early send the row stands where the batch now begins.
  const RowValues& added = insert.batch[insert.batchRows];
  for (size_t iCol = 0; iCol < widest.size(); ++iCol) widest[iCol] = std::max(widest[iCol], added.ends[iCol] - ValueStart(added, iCol));
  ++insert.batchRows;
  if (insert.batchRows < insert.maxBatchRows) return true;
  return SendBatch(insert);
}

bool FinishBulkInsert(BulkInsert& insert) {
  if (!SendBatch(insert)) return false;
  if (!insert.fTransaction) return true;
  SQLRETURN RetCode = SQLEndTran(SQL_HANDLE_DBC, insert.lpTarget->lpDbc, SQL_COMMIT);
  if (!CheckedCall(insert.lpTarget->lpDbc, SQL_HANDLE_DBC, RetCode, "SQLEndTran(SQL_HANDLE_DBC,lpDbc,SQL_COMMIT)")) {
    insert.failure = InsertFailure{};
    return false;
  }
  insert.fTransaction = false;
  return true;
}

void AbandonBulkInsert(BulkInsert& insert) {
  if (!insert.fTransaction) return;
  SQLEndTran(SQL_HANDLE_DBC, insert.lpTarget->lpDbc, SQL_ROLLBACK);
}

void CloseBulkInsert(BulkInsert& insert) {
  for (SQLHSTMT* lpStmt : {&insert.lpStmt, &insert.lpStmtOneRow}) {
    if (*lpStmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, *lpStmt);
    *lpStmt = SQL_NULL_HSTMT;
  }
  if (insert.lpTarget == nullptr) return;
  SQLSetConnectAttr(insert.lpTarget->lpDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
}
