// Rows into a PostgreSQL table as one array a column: the catalog's array types, the statement, the literals.
#include "odbc/column_arrays.h"

#include "odbc/hex_digits.h"

namespace {

// `text` as an E'...' literal: its quotes and backslashes doubled.
std::string EscapedLiteral(const std::string& text) {
  std::string literal = "E'";
  for (char c : text) {
    if (c == '\'' || c == '\\') literal += c;
    literal += c;
  }
  return literal + "'";
}

}  // namespace

bool ReadArrayTypes(Connection& target, const std::string& table, const std::vector<TargetColumn>& columns,
                    std::vector<std::string>* arrayTypes) {
  arrayTypes->assign(columns.size(), "");
  // The array type of the column's type itself, not of its SQL spelling: a cast to character(3)[] would cut
  // longer values where the INSERT refuses them, and character alone means character(1).
  std::string query =
      "select a.attname, coalesce(quote_ident(n.nspname) || '.' || quote_ident(arr.typname), ''), "
      "t.typcategory = 'A' or t.typdelim <> ',' from pg_attribute a join pg_type t on t.oid = a.atttypid "
      "left join pg_type arr on arr.oid = t.typarray left join pg_namespace n on n.oid = arr.typnamespace "
      "where a.attrelid = " + EscapedLiteral(table) + "::regclass and a.attnum > 0 and not a.attisdropped";
  SQLHSTMT lpStmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, target.lpDbc, &lpStmt))) return false;
  SQLRETURN RetCode = SQLExecDirect(lpStmt, reinterpret_cast<SQLCHAR*>(&query[0]), static_cast<SQLINTEGER>(query.size()));
  bool fRead = SQL_SUCCEEDED(RetCode);
  while (fRead && SQL_SUCCEEDED(RetCode = SQLFetch(lpStmt))) {
    SQLCHAR szColumn[512];
    SQLCHAR szArrayType[1024];
    SQLCHAR szUnfit[8];
    SQLLEN cbColumn = 0, cbArrayType = 0, cbUnfit = 0;
    fRead = SQL_SUCCEEDED(SQLGetData(lpStmt, 1, SQL_C_CHAR, szColumn, sizeof szColumn, &cbColumn)) &&
            SQL_SUCCEEDED(SQLGetData(lpStmt, 2, SQL_C_CHAR, szArrayType, sizeof szArrayType, &cbArrayType)) &&
            SQL_SUCCEEDED(SQLGetData(lpStmt, 3, SQL_C_CHAR, szUnfit, sizeof szUnfit, &cbUnfit)) && cbColumn >= 0 && cbArrayType >= 0;
    bool fUnfit = cbUnfit > 0 && (szUnfit[0] == '1' || szUnfit[0] == 't');
    for (size_t iCol = 0; fRead && iCol < columns.size(); ++iCol) {
      if (columns[iCol].name == reinterpret_cast<char*>(szColumn)) (*arrayTypes)[iCol] = fUnfit ? "" : reinterpret_cast<char*>(szArrayType);
    }
  }
  SQLFreeHandle(SQL_HANDLE_STMT, lpStmt);
  for (const std::string& arrayType : *arrayTypes) fRead = fRead && !arrayType.empty();
  if (!fRead) arrayTypes->clear();
  return fRead;
}

std::string ArrayInsertText(const std::string& table, const std::string& names, const std::vector<std::string>& arrayTypes) {
  std::string text = "INSERT INTO " + table + " (" + names + ") SELECT * FROM unnest(";
  for (size_t iCol = 0; iCol < arrayTypes.size(); ++iCol) text += (iCol > 0 ? ", ?::" : "?::") + arrayTypes[iCol];
  return text + ")";
}

void ColumnArrayLiteral(const RowValues* rows, size_t count, size_t iCol, ArrayBinary binary, std::string* text) {
  static const char HEX[] = "0123456789abcdef";
  text->assign("{");
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text->push_back(',');
    const RowValues& row = rows[i];
    if (row.nulls[iCol]) {
      text->append("NULL");
      continue;
    }
    text->push_back('"');
    const size_t start = ValueStart(row, iCol);
    if (binary == ArrayBinary::Bytes) {
      text->append("\\\\x");
      for (size_t at = start; at < row.ends[iCol]; ++at) {
        unsigned char byte = static_cast<unsigned char>(row.bytes[at]);
        text->push_back(HEX[byte >> 4]);
        text->push_back(HEX[byte & 15]);
      }
      text->push_back('"');
      continue;
    }
    if (binary == ArrayBinary::HexText && IsHexBytes(row.bytes.data() + start, row.ends[iCol] - start)) text->append("\\\\x");
    for (size_t at = start; at < row.ends[iCol]; ++at) {
      char c = row.bytes[at];
      if (c == '"' || c == '\\') text->push_back('\\');
      text->push_back(c);
    }
    text->push_back('"');
  }
  text->push_back('}');
}
