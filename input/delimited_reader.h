// The streaming reader of CSV, TSV and PostgreSQL COPY text: one record at a time, the inverse of the export.
#pragma once

#include <string>

#include "input/input.h"
#include "odbc/row_values.h"

// The formats read.
enum class DelimitedFormat {
  Csv,       // RFC 4180: quoted fields with "" for a quote, CR/LF inside quotes; "" the empty string, an empty field NULL
  Tsv,       // tab-separated: \t \n \r \\ escapes, \N for NULL
  CopyText,  // PostgreSQL COPY text: TSV plus \b \f \v, octal \NNN and hex \xHH escapes, ended by a line "\."
};

// What reading a record brought.
enum class RecordRead {
  Record,       // a record is in the row
  End,          // no more records: end of the file, or the end marker
  Malformed,    // the text is not of the format: szError says why, the row's place where
  ReadFailed,   // reading the file failed: szError says why
  Interrupted,  // Ctrl-C ended a read that waited
};

// Reads records from lines of a line reader.
struct DelimitedReader {
  DelimitedFormat format = DelimitedFormat::Csv;  // how the lines are read
  LineReader* lpLines = nullptr;                  // where the lines come from
  long* lpLineNumber = nullptr;                   // lines read so far, advanced a line at a time
  std::string szLine;                             // the line being read
  std::string szError;                            // why the last record was not read
};

// Reads the next record into `row` (cleared first), its place the number of the line it starts on. A
// record of CSV may span lines inside quotes; a CR before a line's LF is the file's line end.
RecordRead ReadRecord(DelimitedReader& reader, RowValues& row);
