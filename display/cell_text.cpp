// Rendering of titles, cells and messages as safe, aligned text in the terminal's character set.
#include "display/cell_text.h"

#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <langinfo.h>

namespace {

// One character of input as it will be shown.
struct ShownChar {
  size_t bytes;    // input bytes it takes
  int columns;     // display columns it takes
  bool replaced;   // shown as '?' instead of its own bytes
};

// Length of the valid UTF-8 sequence at p (at most `available` bytes) and its code point; 0 when invalid.
size_t DecodeUtf8(const unsigned char* p, size_t available, unsigned* codePoint) {
  unsigned char lead = p[0];
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    *codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    *codePoint = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    *codePoint = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (available < length || p[1] < low || p[1] > high) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    *codePoint = (*codePoint << 6) | (p[i] & 0x3Fu);
  }
  return length;
}

bool IsControl(unsigned codePoint, bool c1Printable) {
  return codePoint < 0x20 || codePoint == 0x7F || (!c1Printable && codePoint >= 0x80 && codePoint < 0xA0);
}

// Characters that change the direction of the text around them or show nothing at all: a value holding
// them could reorder or hide what the terminal shows, so they show as '?' like control characters.
bool IsInvisibleOrDirectional(unsigned codePoint) {
  return codePoint == 0x061C                              // Arabic letter mark
         || (codePoint >= 0x200B && codePoint <= 0x200F)  // zero-width space, joiners, direction marks
         || (codePoint >= 0x2028 && codePoint <= 0x202E)  // line and paragraph separators, embeddings, overrides
         || (codePoint >= 0x2066 && codePoint <= 0x2069)  // direction isolates
         || codePoint == 0xFEFF;                          // zero-width no-break space (byte order mark)
}

// Classifies the character that starts at p.
ShownChar NextChar(const TextCharset& charset, const unsigned char* p, size_t available) {
  unsigned char byte = p[0];
  if (byte >= 0x20 && byte < 0x7F) return {1, 1, false};
  if (!charset.utf8) return {1, 1, IsControl(byte, charset.c1Printable)};
  unsigned codePoint = 0;
  size_t length = DecodeUtf8(p, available, &codePoint);
  if (length == 0) return {1, 1, true};
  if (IsControl(codePoint, false) || IsInvisibleOrDirectional(codePoint)) return {length, 1, true};
  int columns = wcwidth(static_cast<wchar_t>(codePoint));
  if (columns < 0) return {length, 1, true};  // unprintable here: one '?' for the whole character
  return {length, columns, false};
}

}  // namespace

TextCharset LocaleCharset() {
  setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  if (strcmp(codeset, "UTF-8") == 0) return {true, false, "\xe2\x94\x82", 3};  // U+2502 light vertical
  if (strcmp(codeset, "CP437") == 0 || strcmp(codeset, "IBM437") == 0) return {false, true, "\xb3", 1};
  return {false, false, "|", 1};
}

char* RenderCell(const TextCharset& charset, char* dst, const char* text, size_t len, int maxChars, int width, bool alignLeft) {
  const unsigned char* input = reinterpret_cast<const unsigned char*>(text);
  if (width < 0) width = 0;
  // Fast path, the common case: printable ASCII, one byte a character and a column.
  size_t shownBytes = len;
  if (shownBytes > static_cast<size_t>(maxChars)) shownBytes = static_cast<size_t>(maxChars > 0 ? maxChars : 0);
  if (shownBytes > static_cast<size_t>(width)) shownBytes = static_cast<size_t>(width);
  size_t ascii = 0;
  for (; ascii + 8 <= shownBytes; ascii += 8) {
    uint64_t word;
    memcpy(&word, input + ascii, 8);
    // A high bit here marks a byte below 0x20 or above 0x7E (rarely also a printable one after it).
    if (((word - 0x2020202020202020u) | (word + 0x0101010101010101u) | word) & 0x8080808080808080u) break;
  }
  while (ascii < shownBytes && input[ascii] >= 0x20 && input[ascii] < 0x7F) ++ascii;
  // A text cut at the width takes the fast path only when no combining mark could follow the cut.
  bool cutBeforeNonAscii = shownBytes < len && shownBytes == static_cast<size_t>(width) && input[shownBytes] >= 0x80;
  if (ascii == shownBytes && !cutBeforeNonAscii) {
    size_t padding = static_cast<size_t>(width) - shownBytes;
    if (alignLeft) {
      memcpy(dst, text, shownBytes);
      memset(dst + shownBytes, ' ', padding);
    } else {
      memset(dst, ' ', padding);
      memcpy(dst + padding, text, shownBytes);
    }
    return dst + width;
  }
  char* out = dst;
  int columns = 0;
  size_t pos = 0;
  for (int shown = 0; pos < len && shown < maxChars; ++shown) {
    ShownChar next = NextChar(charset, input + pos, len - pos);
    if (columns + next.columns > width) break;
    if (next.replaced) {
      *out++ = '?';
    } else {
      memcpy(out, input + pos, next.bytes);
      out += next.bytes;
    }
    columns += next.columns;
    pos += next.bytes;
  }
  size_t padding = static_cast<size_t>(width - columns);
  if (!alignLeft && padding > 0) {
    memmove(dst + padding, dst, static_cast<size_t>(out - dst));
    memset(dst, ' ', padding);
    return out + padding;
  }
  memset(out, ' ', padding);
  return out + padding;
}

size_t TextPrefixBytes(const TextCharset& charset, const char* text, size_t len, int maxChars) {
  const unsigned char* input = reinterpret_cast<const unsigned char*>(text);
  size_t pos = 0;
  for (int chars = 0; pos < len && chars < maxChars; ++chars) pos += NextChar(charset, input + pos, len - pos).bytes;
  return pos;
}

int TextColumns(const TextCharset& charset, const char* text, size_t len) {
  const unsigned char* input = reinterpret_cast<const unsigned char*>(text);
  int columns = 0;
  for (size_t pos = 0; pos < len;) {
    ShownChar next = NextChar(charset, input + pos, len - pos);
    columns += next.columns;
    pos += next.bytes;
  }
  return columns;
}

void AppendSafeText(const TextCharset& charset, std::string& out, const char* text, size_t len) {
  const unsigned char* input = reinterpret_cast<const unsigned char*>(text);
  for (size_t pos = 0; pos < len;) {
    ShownChar next = NextChar(charset, input + pos, len - pos);
    if (next.replaced) {
      out += '?';
    } else {
      out.append(text + pos, next.bytes);
    }
    pos += next.bytes;
  }
}

std::string SafeMessageText(const TextCharset& charset, const char* text) {
  size_t len = strlen(text);
  std::string safe;
  safe.reserve(len);
  // Newline and tab stay: messages may span lines. Every run between them is made safe as a whole.
  for (size_t pos = 0; pos <= len;) {
    size_t end = pos + strcspn(text + pos, "\n\t");
    AppendSafeText(charset, safe, text + pos, end - pos);
    if (end < len) safe += text[end];
    pos = end + 1;
  }
  return safe;
}
