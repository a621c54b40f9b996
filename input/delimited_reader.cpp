// The streaming reader of CSV, TSV and PostgreSQL COPY text: a line at a time, each field into the row.
#include "input/delimited_reader.h"

#include <cstring>

#include "odbc/hex_digits.h"

namespace {

// What reading one line brought.
enum class LineRead { Line, End, Failed, Interrupted };

// Reads the next line into reader.szLine (cleared first) and counts it. A CR that ends the line is kept:
// inside CSV quotes it is data.
LineRead NextLine(DelimitedReader& reader, bool* fNewline) {
  reader.szLine.clear();
  ReaderRead read = ReadReaderLine(*reader.lpLines, reader.szLine, fNewline);
  if (read == ReaderRead::Interrupted) return LineRead::Interrupted;
  if (read == ReaderRead::End) {
    if (reader.lpLines->readErrno == 0) return LineRead::End;
    reader.szError = strerror(reader.lpLines->readErrno);
    return LineRead::Failed;
  }
  ++*reader.lpLineNumber;
  return LineRead::Line;
}

RecordRead FromLineRead(LineRead read) {
  switch (read) {
    case LineRead::End: return RecordRead::End;
    case LineRead::Failed: return RecordRead::ReadFailed;
    default: return RecordRead::Interrupted;
  }
}

// Drops the CR of a CR/LF line end.
void DropLineEndCr(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

RecordRead Malformed(DelimitedReader& reader, const char* why) {
  reader.szError = why;
  return RecordRead::Malformed;
}

// Reads one CSV record, which begins on the line just read.
RecordRead ReadCsvRecord(DelimitedReader& reader, RowValues& row, bool fNewline) {
  size_t at = 0;
  for (;;) {
    const std::string* line = &reader.szLine;
    if (at < line->size() && (*line)[at] == '"') {
      // A quoted field: up to the quote that is not doubled, across lines.
      ++at;
      for (;;) {
        line = &reader.szLine;
        const char* from = line->data() + at;
        const void* quote = memchr(from, '"', line->size() - at);
        if (quote == nullptr) {
          // The field goes on past the line end: the line break is data, the CR before it too.
          row.bytes.append(from, line->size() - at);
          if (!fNewline) return Malformed(reader, "a quoted field is not closed at the end of the file");
          row.bytes += '\n';
          LineRead read = NextLine(reader, &fNewline);
          if (read == LineRead::End) return Malformed(reader, "a quoted field is not closed at the end of the file");
          if (read != LineRead::Line) return FromLineRead(read);
          at = 0;
          continue;
        }
        size_t quoteAt = static_cast<size_t>(static_cast<const char*>(quote) - line->data());
        row.bytes.append(from, quoteAt - at);
        if (quoteAt + 1 < line->size() && (*line)[quoteAt + 1] == '"') {
          row.bytes += '"';
          at = quoteAt + 2;
          continue;
        }
        at = quoteAt + 1;
        break;
      }
      // The line that closed the quote ends with a CR/LF line end, or the field with a comma.
      if (at + 1 == reader.szLine.size() && reader.szLine[at] == '\r') reader.szLine.pop_back();
      EndValue(row, false);
      if (at == reader.szLine.size()) return RecordRead::Record;
      if (reader.szLine[at] != ',') return Malformed(reader, "text follows a quoted field's closing quote");
      ++at;
      continue;
    }
    // An unquoted field: up to the next comma; empty is NULL.
    const char* from = line->data() + at;
    size_t left = line->size() - at;
    const char* comma = static_cast<const char*>(memchr(from, ',', left));
    size_t len = comma != nullptr ? static_cast<size_t>(comma - from) : left;
    // The last field of a CR/LF line: the CR is the line end (the export quotes a CR in a value).
    if (comma == nullptr && len > 0 && from[len - 1] == '\r') --len;
    if (memchr(from, '"', len) != nullptr) return Malformed(reader, "a quote inside a field that is not quoted");
    row.bytes.append(from, len);
    EndValue(row, len == 0);
    if (comma == nullptr) return RecordRead::Record;
    at += len + 1;
  }
}

// Reads one TSV or COPY text record from the line just read: fields split at tabs, escapes undone.
RecordRead ReadTabbedRecord(DelimitedReader& reader, RowValues& row) {
  DropLineEndCr(reader.szLine);
  const bool fCopy = reader.format == DelimitedFormat::CopyText;
  const std::string& line = reader.szLine;
  const size_t size = line.size();
  size_t at = 0;
  for (;;) {
    // \N alone is NULL.
    if (at + 1 < size && line[at] == '\\' && line[at + 1] == 'N' && (at + 2 == size || line[at + 2] == '\t')) {
      EndValue(row, true);
      at += 2;
    } else {
      for (;;) {
        size_t plain = at;
        while (plain < size && line[plain] != '\t' && line[plain] != '\\') ++plain;
        row.bytes.append(line, at, plain - at);
        at = plain;
        if (at == size || line[at] == '\t') break;
        if (at + 1 == size) return Malformed(reader, "a backslash ends the line");
        char escaped = line[at + 1];
        at += 2;
        switch (escaped) {
          case 't': row.bytes += '\t'; continue;
          case 'n': row.bytes += '\n'; continue;
          case 'r': row.bytes += '\r'; continue;
          case '\\': row.bytes += '\\'; continue;
          default: break;
        }
        if (!fCopy) return Malformed(reader, "an escape other than \\t \\n \\r \\\\ or \\N");
        if (escaped == 'b') {
          row.bytes += '\b';
        } else if (escaped == 'f') {
          row.bytes += '\f';
        } else if (escaped == 'v') {
          row.bytes += '\v';
        } else if (escaped >= '0' && escaped <= '7') {
          int value = escaped - '0';
          for (int digits = 1; digits < 3 && at < size && line[at] >= '0' && line[at] <= '7'; ++digits) value = value * 8 + (line[at++] - '0');
          row.bytes += static_cast<char>(value);
        } else if (escaped == 'x' && at < size && HexDigitValue(line[at]) >= 0) {
          int value = HexDigitValue(line[at++]);
          if (at < size && HexDigitValue(line[at]) >= 0) value = value * 16 + HexDigitValue(line[at++]);
          row.bytes += static_cast<char>(value);
        } else {
          row.bytes += escaped;  // any other escaped character stands for itself
        }
      }
      EndValue(row, false);
    }
    if (at == size) return RecordRead::Record;
    if (line[at] != '\t') return Malformed(reader, "text follows \\N in a field");
    ++at;
  }
}

}  // namespace

RecordRead ReadRecord(DelimitedReader& reader, RowValues& row) {
  ClearRow(row);
  bool fNewline = false;
  LineRead read = NextLine(reader, &fNewline);
  if (read != LineRead::Line) return FromLineRead(read);
  row.place = *reader.lpLineNumber;
  if (reader.format == DelimitedFormat::Csv) return ReadCsvRecord(reader, row, fNewline);
  if (reader.format == DelimitedFormat::CopyText && (reader.szLine == "\\." || reader.szLine == "\\.\r")) return RecordRead::End;
  return ReadTabbedRecord(reader, row);
}
