// The Markdown writer: a table of a header row, its rule and a row a line, every value whole.
#include <string>

#include "display/cell_text.h"
#include "display/listing.h"
#include "display/output.h"
#include "display/value_line.h"

namespace {

// The bytes a cell cannot hold as they are: the cell's end, an escape, a line end, the start of HTML.
struct MarkdownBytes {
  bool special[256];  // | \ CR LF < &
};
constexpr MarkdownBytes MakeMarkdownBytes() {
  MarkdownBytes bytes{};
  for (unsigned char c : {'|', '\\', '\r', '\n', '<', '&'}) bytes.special[c] = true;
  return bytes;
}
constexpr MarkdownBytes MARKDOWN_BYTES = MakeMarkdownBytes();

// Emits a value as a cell's text: a pipe and a backslash escaped with a backslash, a line break (LF, CR
// or CRLF) as <br>, and '<' and '&' as entities so that no value becomes markup.
template <typename Emit>
void EmitMarkdownCell(Emit emit, const char* text, size_t len) {
  size_t start = 0;
  for (size_t i = 0; i < len;) {
    while (i < len && !MARKDOWN_BYTES.special[static_cast<unsigned char>(text[i])]) ++i;
    if (i == len) break;
    emit(text + start, i - start);
    switch (text[i]) {
      case '|': emit("\\|", 2); break;
      case '\\': emit("\\\\", 2); break;
      case '<': emit("&lt;", 4); break;
      case '&': emit("&amp;", 5); break;
      case '\r':
        if (i + 1 < len && text[i + 1] == '\n') ++i;
        emit("<br>", 4);
        break;
      default: emit("<br>", 4); break;
    }
    start = ++i;
  }
  emit(text + start, len - start);
}

// The Markdown listing of one result set.
using MarkdownWriter = ValueLine;

// Writes one cell after its "| ": into the line, or for a long value straight to the output.
void WriteCell(MarkdownWriter& writer, const char* text, size_t len) {
  writer.szLine += "| ";
  AppendValue(writer, text, len, [](auto sink, const char* bytes, size_t count) { EmitMarkdownCell(sink, bytes, count); });
  writer.szLine += ' ';
}

// Writes the current row: NULL as an empty cell.
bool WriteMarkdownRow(MarkdownWriter& writer, ResultSet& set) {
  writer.szLine.clear();
  for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
    const char* value = nullptr;
    SQLLEN length = WholeValue(set, iCol, &value);
    if (length == -2) return false;
    WriteCell(writer, value, length == SQL_NULL_DATA ? 0 : static_cast<size_t>(length));
  }
  writer.szLine += "|\n";
  OutWrite(writer.szLine.data(), writer.szLine.size());
  return true;
}

}  // namespace

bool ListMarkdown(ResultSet& set, const ListingStyle& style) {
  MarkdownWriter writer{OutputIsTerminal(), &style.lpConsole->charset, {}, {}};
  if (!BindResultColumns(set, BindPurpose::Export, style.lpConsole->charset.utf8)) return false;
  // The header and its rule: numbers aligned right.
  std::string rule;
  for (const ResultColumn& column : set.columns) {
    WriteCell(writer, column.szName.data(), column.szName.size());
    rule += IsNumberSqlType(column.sqlType) ? "| ---: " : "| --- ";
  }
  writer.szLine += "|\n" + rule + "|\n";
  OutWrite(writer.szLine.data(), writer.szLine.size());
  return WriteFetchedRows(set, style, [&] { return WriteMarkdownRow(writer, set); });
}
