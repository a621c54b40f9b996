// One row of values on its way into a table: the bytes of every value, where each ends, and which are NULL.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A row of values, filled by a file reader or from a cursor and read by the bulk insert.
struct RowValues {
  std::string bytes;          // every value's bytes, one after another
  std::vector<size_t> ends;   // where each value ends in bytes
  std::vector<char> nulls;    // 1 where the value is NULL
  long place = 0;             // where the row came from: the line it starts on in a file, or its row number
};

// Empties a row for the next one, keeping its memory.
inline void ClearRow(RowValues& row) {
  row.bytes.clear();
  row.ends.clear();
  row.nulls.clear();
}

// Ends the value being written into row.bytes; fNull makes it NULL.
inline void EndValue(RowValues& row, bool fNull) {
  row.ends.push_back(row.bytes.size());
  row.nulls.push_back(fNull ? 1 : 0);
}

// Where value i begins in row.bytes.
inline size_t ValueStart(const RowValues& row, size_t i) { return i == 0 ? 0 : row.ends[i - 1]; }
