// Rows into one table: one prepared INSERT, parameter arrays of a batch column by column, one commit at the end.
#include "odbc/bulk_insert.h"

#include <algorithm>
#include <cstring>

namespace {

// A sentinel for the parameter status of a row the driver said nothing about.
constexpr SQLUSMALLINT STATUS_UNTOLD = 0xffff;

// Whether values of an SQL type are characters, whose column size counts characters.
bool IsCharacterType(SQLSMALLINT sqlType) {
  return sqlType == SQL_CHAR || sqlType == SQL_VARCHAR || sqlType == SQL_WCHAR || sqlType == SQL_WVARCHAR;
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

// Fills insert.failure for a batch of `count` rows that the target refused: the row the driver marked, or
// else the first that a check of the description finds at fault.
void FindFailure(BulkInsert& insert, SQLULEN count) {
  InsertFailure& failure = insert.failure;
  failure = InsertFailure{};
  failure.firstPlace = insert.batch[0].place;
  failure.lastPlace = insert.batch[count - 1].place;
  long marked = -1;
  for (SQLULEN i = 0; i < count && marked < 0; ++i) {
    if (insert.paramStatus[i] == SQL_PARAM_ERROR) marked = static_cast<long>(i);
  }
  if (count == 1) marked = 0;
  for (SQLULEN i = 0; i < count; ++i) {
    if (marked >= 0 && static_cast<long>(i) != marked) continue;
    int iColumn = ColumnAtFault(insert, insert.batch[i]);
    if (iColumn < 0 && marked < 0) continue;
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

// Sends the first `count` rows of the batch as one parameter array. Returns false when the target refused
// them (reported).
bool SendRows(BulkInsert& insert, SQLULEN count) {
  if (count == 0) return true;
  const size_t cCols = insert.columns.size();
  // Each column's values in slots as wide as its longest value, and its lengths beside them.
  std::vector<size_t> offsets(cCols);
  size_t total = 0;
  for (size_t iCol = 0; iCol < cCols; ++iCol) {
    offsets[iCol] = total;
    total += count * (insert.widest[iCol] + 1);
  }
  insert.buffer.resize(total);
  insert.indicators.resize(cCols * count);
  for (size_t iCol = 0; iCol < cCols; ++iCol) {
    size_t slot = insert.widest[iCol] + 1;
    char* values = insert.buffer.data() + offsets[iCol];
    SQLLEN* lengths = insert.indicators.data() + iCol * count;
    for (SQLULEN iRow = 0; iRow < count; ++iRow) {
      const RowValues& row = insert.batch[iRow];
      if (row.nulls[iCol]) {
        lengths[iRow] = SQL_NULL_DATA;
        continue;
      }
      size_t start = ValueStart(row, iCol);
      size_t len = row.ends[iCol] - start;
      memcpy(values + iRow * slot, row.bytes.data() + start, len);
      values[iRow * slot + len] = '\0';
      lengths[iRow] = static_cast<SQLLEN>(len);
    }
    const TargetColumn& column = insert.columns[iCol];
    // Every value goes as text: the driver converts it as it would a literal of the column's type.
    SQLRETURN RetCode = SQLBindParameter(insert.lpStmt, static_cast<SQLUSMALLINT>(iCol + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                                         column.sqlType, column.columnSize, column.decimalDigits, values,
                                         static_cast<SQLLEN>(slot), lengths);
    if (!CheckedCall(insert.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLBindParameter(lpStmt,...)")) return false;
  }
  if (insert.maxBatchRows > 1) {
    SQLRETURN RetCode = SQLSetStmtAttr(insert.lpStmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(count), 0);
    if (!CheckedCall(insert.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLSetStmtAttr(lpStmt,SQL_ATTR_PARAMSET_SIZE,...)")) return false;
  }
  std::fill(insert.paramStatus.begin(), insert.paramStatus.begin() + static_cast<long>(count), STATUS_UNTOLD);
  BeginCancellableCall(insert.lpTarget->canceller, insert.lpStmt);
  SQLRETURN RetCode = SQLExecute(insert.lpStmt);
  EndCancellableCall(insert.lpTarget->canceller);
  if (RetCode == SQL_SUCCESS_WITH_INFO) ReportDiagnostics(insert.lpStmt, SQL_HANDLE_STMT, RetCode);
  // A driver may answer success for an array whose rows it refused one by one: their statuses tell.
  bool fRefused = !SQL_SUCCEEDED(RetCode);
  for (SQLULEN i = 0; i < count && !fRefused; ++i) fRefused = insert.paramStatus[i] == SQL_PARAM_ERROR;
  if (fRefused) {
    if (RetCode == SQL_ERROR) ReportDiagnostics(insert.lpStmt, SQL_HANDLE_STMT, RetCode);
    FindFailure(insert, count);
    return false;
  }
  // Text and binary statements may leave a result open (a count): the next execute needs it closed.
  SQLFreeStmt(insert.lpStmt, SQL_CLOSE);
  insert.rowsSent += count;
  return true;
}

// Sends the whole batch and empties it.
bool SendBatch(BulkInsert& insert) {
  bool fSent = SendRows(insert, insert.batchRows);
  if (fSent) {
    insert.batchRows = 0;
    std::fill(insert.widest.begin(), insert.widest.end(), 0);
  }
  return fSent;
}

}  // namespace

std::string QuotedName(const DataSourceProfile& profile, const std::string& name) {
  if (profile.quote == '\0' || profile.quote == ' ') return name;
  std::string text(1, profile.quote);
  for (char c : name) {
    text += c;
    if (c == profile.quote) text += c;
  }
  text += profile.quote;
  return text;
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
  return fDescribed;
}

bool OpenBulkInsert(BulkInsert& insert, Connection& target, const std::string& table, const std::vector<TargetColumn>& columns) {
  insert.lpTarget = &target;
  insert.columns = columns;
  insert.widest.assign(columns.size(), 0);
  SQLUSMALLINT txnCapable = SQL_TC_NONE;
  SQLRETURN RetCode = SQLGetInfo(target.lpDbc, SQL_TXN_CAPABLE, &txnCapable, sizeof txnCapable, nullptr);
  if (!SQL_SUCCEEDED(RetCode)) txnCapable = SQL_TC_NONE;
  if (txnCapable != SQL_TC_NONE) {
    RetCode = SQLSetConnectAttr(target.lpDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
    if (!CheckedCall(target.lpDbc, SQL_HANDLE_DBC, RetCode, "SQLSetConnectAttr(lpDbc,SQL_ATTR_AUTOCOMMIT,SQL_AUTOCOMMIT_OFF)")) return false;
    insert.fTransaction = true;
  }
  if (!CheckedCall(target.lpDbc, SQL_HANDLE_DBC, SQLAllocHandle(SQL_HANDLE_STMT, target.lpDbc, &insert.lpStmt),
                   "SQLAllocHandle(SQL_HANDLE_STMT,lpDbc,&lpStmt)")) {
    return false;
  }
  std::string text = "INSERT INTO " + table + " (";
  std::string marks;
  for (size_t iCol = 0; iCol < columns.size(); ++iCol) {
    text += (iCol > 0 ? ", " : "") + QuotedName(target.profile, columns[iCol].name);
    marks += iCol > 0 ? ", ?" : "?";
  }
  text += ") VALUES (" + marks + ")";
  RetCode = SQLPrepare(insert.lpStmt, reinterpret_cast<SQLCHAR*>(&text[0]), static_cast<SQLINTEGER>(text.size()));
  if (!CheckedCall(insert.lpStmt, SQL_HANDLE_STMT, RetCode, "SQLPrepare(lpStmt,...)")) return false;
  // Parameter arrays where the driver has them; one row an execute where it does not.
  RetCode = SQLSetStmtAttr(insert.lpStmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(insert.maxBatchRows), 0);
  if (!SQL_SUCCEEDED(RetCode)) insert.maxBatchRows = 1;
  insert.paramStatus.assign(insert.maxBatchRows, STATUS_UNTOLD);
  if (insert.maxBatchRows > 1) {
    SQLSetStmtAttr(insert.lpStmt, SQL_ATTR_PARAM_STATUS_PTR, insert.paramStatus.data(), 0);
    SQLSetStmtAttr(insert.lpStmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &insert.paramsProcessed, 0);
  }
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
  if (insert.lpStmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, insert.lpStmt);
  insert.lpStmt = SQL_NULL_HSTMT;
  if (insert.lpTarget == nullptr) return;
  SQLSetConnectAttr(insert.lpTarget->lpDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
}
