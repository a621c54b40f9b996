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

// True when UTF-8 text holds a character that changes direction or shows nothing: U+061C, U+200B-U+200F,
// U+2028-U+202E, U+2066-U+2069 or U+FEFF.
bool HasHiddenCharacter(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    unsigned char a = text[i], b = text[i + 1], c = i + 2 < text.size() ? text[i + 2] : 0;
    if (a == 0xD8 && b == 0x9C) return true;
    if (a == 0xE2 && b == 0x80 && ((c >= 0x8B && c <= 0x8F) || (c >= 0xA8 && c <= 0xAE))) return true;
    if (a == 0xE2 && b == 0x81 && c >= 0xA6 && c <= 0xA9) return true;
    if (a == 0xEF && b == 0xBB && c == 0xBF) return true;
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
