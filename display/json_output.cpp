// The JSON Lines writer: one object a row, keys the column titles in order, every value whole.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/cell_text.h"
#include "display/listing.h"
#include "display/output.h"
#include "display/value_line.h"

namespace {

// The bytes a JSON string cannot hold as they are, or that start a UTF-8 sequence to check.
struct JsonBytes {
  bool special[256];  // control characters, quote, backslash, and every byte from 0x80
};
constexpr JsonBytes MakeJsonBytes() {
  JsonBytes bytes{};
  for (int c = 0; c < 0x20; ++c) bytes.special[c] = true;
  bytes.special[static_cast<unsigned char>('"')] = bytes.special[static_cast<unsigned char>('\\')] = true;
  for (int c = 0x80; c < 256; ++c) bytes.special[c] = true;
  return bytes;
}
constexpr JsonBytes JSON_BYTES = MakeJsonBytes();

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 character at text[0, len), or 0 when it is not one; then *badLen is
// how many bytes one U+FFFD stands for: the lead and the continuation bytes that fitted it.
size_t Utf8Length(const unsigned char* text, size_t len, size_t* badLen) {
  unsigned char lead = text[0];
  size_t need = 0;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  *badLen = 1;
  if (need == 0 || len < 2 || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < need; ++i) {
    if (i >= len || !IsContinuation(text[i])) {
      *badLen = i;
      return 0;
    }
  }
  return need;
}

// Emits text as the inside of a JSON string: quote, backslash and control characters escaped, invalid
// UTF-8 as U+FFFD.
template <typename Emit>
void EmitJsonString(Emit emit, const char* text, size_t len) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t start = 0;
  for (size_t i = 0; i < len;) {
    while (i < len && !JSON_BYTES.special[bytes[i]]) ++i;
    if (i == len) break;
    unsigned char c = bytes[i];
    size_t badLen = 1;
    if (c >= 0x80) {
      size_t charLen = Utf8Length(bytes + i, len - i, &badLen);
      if (charLen > 0) {
        i += charLen;
        continue;
      }
    }
    emit(text + start, i - start);
    switch (c) {
      case '"': emit("\\\"", 2); break;
      case '\\': emit("\\\\", 2); break;
      case '\n': emit("\\n", 2); break;
      case '\r': emit("\\r", 2); break;
      case '\t': emit("\\t", 2); break;
      default:
        if (c >= 0x80) {
          emit("\xEF\xBF\xBD", 3);  // U+FFFD REPLACEMENT CHARACTER
          i += badLen - 1;
        } else {
          char escaped[8];
          snprintf(escaped, sizeof escaped, "\\u%04x", c);
          emit(escaped, 6);
        }
        break;
    }
    start = ++i;
  }
  emit(text + start, len - start);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when text[0, len) is a number as JSON writes one.
bool IsJsonNumber(const char* text, size_t len) {
  size_t i = 0;
  if (i < len && text[i] == '-') ++i;
  if (i >= len || !IsDigit(text[i])) return false;
  if (text[i] == '0') {
    ++i;
  } else {
    while (i < len && IsDigit(text[i])) ++i;
  }
  if (i < len && text[i] == '.') {
    if (++i >= len || !IsDigit(text[i])) return false;
    while (i < len && IsDigit(text[i])) ++i;
  }
  if (i < len && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < len && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= len || !IsDigit(text[i])) return false;
    while (i < len && IsDigit(text[i])) ++i;
  }
  return i == len;
}

// A driver's number in JSON's spelling where it differs only in form: blanks around it, a leading '+',
// leading zeros, a point with no digit before or after it (".5", "5."). Returns "" for anything else.
std::string JsonSpelling(const char* text, size_t len) {
  while (len > 0 && text[0] == ' ') ++text, --len;
  while (len > 0 && text[len - 1] == ' ') --len;
  std::string number;
  size_t i = 0;
  if (i < len && (text[i] == '-' || text[i] == '+')) {
    if (text[i] == '-') number += '-';
    ++i;
  }
  while (i + 1 < len && text[i] == '0' && IsDigit(text[i + 1])) ++i;
  if (i < len && text[i] == '.') number += '0';
  size_t point = len;
  for (size_t k = i; k < len; ++k) {
    if (text[k] == '.') point = k;
    if (text[k] == 'e' || text[k] == 'E') break;
  }
  if (point != len && (point + 1 == len || !IsDigit(text[point + 1]))) {
    number.append(text + i, point - i);   // "5." and "5.e3": the point goes
    number.append(text + point + 1, len - point - 1);
  } else {
    number.append(text + i, len - i);
  }
  return IsJsonNumber(number.data(), number.size()) ? number : std::string();
}

// The JSON listing of one result set.
struct JsonWriter {
  std::vector<std::string> keys;  // each column's `"title":`, after its `{` or `,`
  std::vector<bool> fNumber;      // each column holds numbers
  ValueLine line;                 // the row's line
};

// Writes a value as a JSON string: into the line, or for a long value straight to the output after the line so far.
void WriteJsonString(JsonWriter& writer, const char* text, size_t len) {
  writer.line.szLine += '"';
  AppendValue(writer.line, text, len, [](auto sink, const char* bytes, size_t count) { EmitJsonString(sink, bytes, count); });
  writer.line.szLine += '"';
}

// Writes the current row as one object.
bool WriteJsonRow(JsonWriter& writer, ResultSet& set) {
  std::string& line = writer.line.szLine;
  line.clear();
  for (size_t iCol = 0; iCol < set.columns.size(); ++iCol) {
    line += iCol == 0 ? '{' : ',';
    line += writer.keys[iCol];
    const char* value = nullptr;
    SQLLEN length = WholeValue(set, iCol, &value);
    if (length == -2) return false;
    if (length == SQL_NULL_DATA) {
      line += "null";
      continue;
    }
    size_t len = static_cast<size_t>(length);
    if (writer.fNumber[iCol]) {
      if (IsJsonNumber(value, len)) {
        line.append(value, len);
        continue;
      }
      // NaN and the infinities are no JSON numbers: they stay strings, as does anything else unforeseen.
      std::string number = JsonSpelling(value, len);
      if (!number.empty()) {
        line += number;
        continue;
      }
    }
    WriteJsonString(writer, value, len);
  }
  line += set.columns.empty() ? "{}\n" : "}\n";
  OutWrite(line.data(), line.size());
  return true;
}

}  // namespace

bool ListJson(ResultSet& set, const ListingStyle& style) {
  JsonWriter writer{{}, {}, {OutputIsTerminal(), &style.lpConsole->charset, {}, {}}};
  if (!BindResultColumns(set, BindPurpose::Export, style.lpConsole->charset.utf8)) return false;
  for (const ResultColumn& column : set.columns) {
    writer.line.szLine.clear();
    WriteJsonString(writer, column.szName.data(), column.szName.size());
    writer.keys.push_back(writer.line.szLine + ':');
    writer.fNumber.push_back(IsNumberSqlType(column.sqlType));
  }
  return WriteFetchedRows(set, style, [&] { return WriteJsonRow(writer, set); });
}
