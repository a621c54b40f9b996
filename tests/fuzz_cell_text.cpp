// libFuzzer target over cell, title and message rendering, in UTF-8 and in single-byte character sets.
// Input: a flags byte (bit 0 UTF-8, bit 1 left-aligned, bit 2 code page 437), the most characters, two bytes
// of width, then the text.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/cell_text.h"

namespace {

// Code points that must never reach a terminal raw, as Unicode 15 lists them, kept apart from the table the
// renderer uses: Default_Ignorable_Code_Point (DerivedCoreProperties.txt), general category Cf
// (UnicodeData.txt), and the line and paragraph separators.
struct CodePoints {
  unsigned first;  // the first code point of the range
  unsigned last;   // the last, included
};
const CodePoints kDefaultIgnorable[] = {
    {0xAD, 0xAD},     {0x34F, 0x34F},   {0x61C, 0x61C},   {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
    {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
    {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}};
const CodePoints kFormat[] = {
    {0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},     {0x6DD, 0x6DD},       {0x70F, 0x70F},
    {0x890, 0x891},     {0x8E2, 0x8E2},     {0x180E, 0x180E},   {0x200B, 0x200F},     {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},     {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},   {0xE0001, 0xE0001},
    {0xE0020, 0xE007F}};
const CodePoints kSeparators[] = {{0x2028, 0x2029}};

template <size_t N>
bool InRanges(const CodePoints (&ranges)[N], unsigned codePoint) {
  for (const CodePoints& range : ranges) {
    if (codePoint >= range.first && codePoint <= range.last) return true;
  }
  return false;
}

// True when UTF-8 text holds a default-ignorable, format or separator character. Bytes that do not form a
// character are passed over: other checks catch them.
bool HasHiddenCharacter(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char lead = text[i];
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length == 1 || i + length > text.size()) continue;
    unsigned codePoint = lead & (0x7Fu >> length);
    for (size_t k = 1; k < length; ++k) codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    if (InRanges(kDefaultIgnorable, codePoint) || InRanges(kFormat, codePoint) || InRanges(kSeparators, codePoint)) {
      return true;
    }
  }
  return false;
}

// A rendered cell must be exactly `width` columns, within its byte bound, and shown as it is: rendering it
// again changes nothing, so no control character or invalid byte is left in it.
void CheckCell(const TextCharset& charset, const char* text, size_t len, int maxChars, int width, bool alignLeft) {
  std::vector<char> cell(CellBytesBound(maxChars, width) + 1, '\0');
  char* end = RenderCell(charset, cell.data(), text, len, maxChars, width, alignLeft);
  size_t cellBytes = static_cast<size_t>(end - cell.data());
  if (cellBytes > CellBytesBound(maxChars, width)) abort();
  if (TextColumns(charset, cell.data(), cellBytes) != width) abort();
  if (charset.utf8 && HasHiddenCharacter(std::string(cell.data(), cellBytes))) abort();
  int allChars = static_cast<int>(cellBytes);
  std::vector<char> again(CellBytesBound(allChars, width) + 1, '\0');
  char* againEnd = RenderCell(charset, again.data(), cell.data(), cellBytes, allChars, width, alignLeft);
  if (static_cast<size_t>(againEnd - again.data()) != cellBytes || memcmp(again.data(), cell.data(), cellBytes) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_CTYPE, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint8_t flags = data[0];
  int maxChars = data[1] % 64;
  int width = ((data[2] << 8) | data[3]) % 512;
  bool alignLeft = (flags & 2) != 0;
  TextCharset charset = {false, false, "|", 1};
  if (flags & 1) {
    charset = {true, false, "\xe2\x94\x82", 3};
  } else if (flags & 4) {
    charset = {false, true, "\xb3", 1};
  }
  const char* text = reinterpret_cast<const char*>(data + 4);
  size_t len = size - 4;
  CheckCell(charset, text, len, maxChars, width, alignLeft);
  CheckCell(charset, "<NULL>", 6, 6, width < 6 ? 6 : width, true);

  std::string message(text, len);
  message = message.c_str();  // a message ends at its first NUL
  std::string safe = SafeMessageText(charset, message.c_str());
  for (unsigned char byte : safe) {
    if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) abort();
  }
  if (SafeMessageText(charset, safe.c_str()) != safe) abort();
  if (charset.utf8 && HasHiddenCharacter(safe)) abort();
  return 0;
}
