// The CSV and TSV writers: a header of column names, then one line per row with every value whole.
#include <cstring>
#include <string>

#include "display/cell_text.h"
#include "display/listing.h"
#include "display/output.h"
#include "display/value_line.h"

namespace {

// The bytes that a field of each format cannot hold as they are, as a table for a scan of one test a byte.
struct SpecialBytes {
  bool csv[256];  // comma, quote, CR, LF: the field is quoted
  bool tsv[256];  // tab, LF, CR, backslash: escaped
};
constexpr SpecialBytes MakeSpecialBytes() {
  SpecialBytes special{};
  for (unsigned char byte : {',', '"', '\r', '\n'}) special.csv[byte] = true;
  for (unsigned char byte : {'\t', '\n', '\r', '\\'}) special.tsv[byte] = true;
  return special;
}
constexpr SpecialBytes SPECIAL_BYTES = MakeSpecialBytes();

// Returns the position of the first byte of text[0, len) that `special` marks, or len.
size_t FindSpecial(const bool* special, const char* text, size_t len) {
  size_t i = 0;
  while (i < len && !special[static_cast<unsigned char>(text[i])]) ++i;
  return i;
}

// Emits one CSV field through emit(bytes, count): quoted when it holds a comma, a quote, CR or LF, with
// quotes doubled. The empty string is "" so that it differs from NULL, which is an empty field.
template <typename Emit>
void EmitCsvField(Emit emit, const char* text, size_t len) {
  size_t next = FindSpecial(SPECIAL_BYTES.csv, text, len);
  if (next == len && len > 0) {
    emit(text, len);
    return;
  }
  emit("\"", 1);
  for (size_t start = 0;;) {
    const char* quote = static_cast<const char*>(memchr(text + start, '"', len - start));
    size_t end = quote != nullptr ? static_cast<size_t>(quote - text) + 1 : len;
    emit(text + start, end - start);
    if (quote == nullptr) break;
    emit("\"", 1);  // a quote is doubled
    start = end;
  }
  emit("\"", 1);
}

// Emits one TSV field, with tab, newline, carriage return and backslash escaped.
template <typename Emit>
void EmitTsvField(Emit emit, const char* text, size_t len) {
  for (size_t start = 0; start < len;) {
    size_t next = start + FindSpecial(SPECIAL_BYTES.tsv, text + start, len - start);
    emit(text + start, next - start);
    if (next == len) break;
    switch (text[next]) {
      case '\t': emit("\\t", 2); break;
      case '\n': emit("\\n", 2); break;
      case '\r': emit("\\r", 2); break;
      default: emit("\\\\", 2); break;
    }
    start = next + 1;
  }
}

// The delimited listing of one result set.
struct DelimitedWriter {
  ListingFormat format;  // CSV or TSV
  ValueLine line;        // the row's line
};

// Writes a field in the writer's format: into the line, or for a long value straight to the output after
// the line so far.
void WriteField(DelimitedWriter& writer, const char* text, size_t len) {
  if (writer.format == ListingFormat::Csv) {
    AppendValue(writer.line, text, len, [](auto sink, const char* bytes, size_t count) { EmitCsvField(sink, bytes, count); });
  } else {
    AppendValue(writer.line, text, len, [](auto sink, const char* bytes, size_t count) { EmitTsvField(sink, bytes, count); });
  }
}

// Writes the current row: each value whole, NULL as an empty field (CSV) or \N (TSV).
bool WriteDelimitedRow(DelimitedWriter& writer, ResultSet& set) {
  const char separator = writer.format == ListingFormat::Csv ? ',' : '\t';
  writer.line.szLine.clear();
  for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
    if (iCol > 0) writer.line.szLine += separator;
    const char* value = nullptr;
    SQLLEN length = WholeValue(set, iCol, &value);
    if (length == -2) return false;
    if (length == SQL_NULL_DATA) {
      if (writer.format == ListingFormat::Tsv) writer.line.szLine += "\\N";
      continue;
    }
    WriteField(writer, value, static_cast<size_t>(length));
  }
  writer.line.szLine += '\n';
  OutWrite(writer.line.szLine.data(), writer.line.szLine.size());
  return true;
}

}  // namespace

bool ListDelimited(ResultSet& set, const ListingStyle& style, unsigned long long* cRows) {
  DelimitedWriter writer{style.format, {OutputIsTerminal(), &style.lpConsole->charset, {}, {}}};
  if (!BindResultColumns(set, BindPurpose::Export, style.lpConsole->charset.utf8)) return false;
  // The header: every column's whole name; with a heading in the style, only above a first row.
  bool fHeaderDue = true;
  auto writeHeader = [&] {
    writer.line.szLine.clear();
    for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
      if (iCol > 0) writer.line.szLine += style.format == ListingFormat::Csv ? ',' : '\t';
      WriteField(writer, set.columns[iCol].szName.data(), set.columns[iCol].szName.size());
    }
    writer.line.szLine += '\n';
    OutWrite(writer.line.szLine.data(), writer.line.szLine.size());
    fHeaderDue = false;
  };
  if (style.szHeading == nullptr) writeHeader();
  return WriteFetchedRows(set, style, [&] {
    if (fHeaderDue) writeHeader();
    if (!WriteDelimitedRow(writer, set)) return false;
    if (cRows != nullptr) ++*cRows;
    return true;
  });
}

bool ListDelimitedTextRows(const std::vector<std::string>& titles, const std::vector<std::vector<std::string>>& rows,
                           const ListingStyle& style) {
  DelimitedWriter writer{style.format, {OutputIsTerminal(), &style.lpConsole->charset, {}, {}}};
  const char separator = style.format == ListingFormat::Csv ? ',' : '\t';
  if (style.szHeading != nullptr && rows.empty()) return true;
  auto writeLine = [&](const std::vector<std::string>& fields) {
    writer.line.szLine.clear();
    for (size_t iCol = 0; iCol < fields.size(); ++iCol) {
      if (iCol > 0) writer.line.szLine += separator;
      WriteField(writer, fields[iCol].data(), fields[iCol].size());
    }
    writer.line.szLine += '\n';
    OutWrite(writer.line.szLine.data(), writer.line.szLine.size());
  };
  writeLine(titles);
  for (const std::vector<std::string>& row : rows) {
    if (StdoutState() != OutputState::Working || ListingStopRequested(style)) return true;
    writeLine(row);
  }
  return true;
}
