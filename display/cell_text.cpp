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
// them could reorder or hide what the terminal shows, so they show as '?' like control characters. The
// ranges join Unicode 15's Default_Ignorable_Code_Point and general category Cf, with the line and
// paragraph separators U+2028 and U+2029; sorted, for a binary search.
struct CodePointRange {
  unsigned first;  // the range's first code point
  unsigned last;   // its last, included
};
constexpr CodePointRange HIDDEN_RANGES[] = {
    {0x00AD, 0x00AD},    // soft hyphen
    {0x034F, 0x034F},    // combining grapheme joiner
    {0x0600, 0x0605},    // Arabic number signs
    {0x061C, 0x061C},    // Arabic letter mark
    {0x06DD, 0x06DD},    // Arabic end of ayah
    {0x070F, 0x070F},    // Syriac abbreviation mark
    {0x0890, 0x0891},    // Arabic pound and piastre marks above
    {0x08E2, 0x08E2},    // Arabic disputed end of ayah
    {0x115F, 0x1160},    // Hangul choseong and jungseong fillers
    {0x17B4, 0x17B5},    // Khmer inherent vowels
    {0x180B, 0x180F},    // Mongolian variation selectors and vowel separator
    {0x200B, 0x200F},    // zero-width space, joiners, direction marks
    {0x2028, 0x202E},    // line and paragraph separators, embeddings, overrides
    {0x2060, 0x206F},    // word joiner, invisible operators, isolates, deprecated format characters
    {0x3164, 0x3164},    // Hangul filler
    {0xFE00, 0xFE0F},    // variation selectors
    {0xFEFF, 0xFEFF},    // zero-width no-break space (byte order mark)
    {0xFFA0, 0xFFA0},    // halfwidth Hangul filler
    {0xFFF0, 0xFFFB},    // reserved, interlinear annotation marks
    {0x110BD, 0x110BD},  // Kaithi number sign
    {0x110CD, 0x110CD},  // Kaithi number sign above
    {0x13430, 0x1343F},  // Egyptian hieroglyph format controls
    {0x1BCA0, 0x1BCA3},  // shorthand format controls
    {0x1D173, 0x1D17A},  // musical symbol beams and slurs
    {0xE0000, 0xE0FFF},  // tags, variation selectors supplement, reserved
};

bool IsInvisibleOrDirectional(unsigned codePoint) {
  if (codePoint < HIDDEN_RANGES[0].first) return false;
  size_t low = 0, high = sizeof HIDDEN_RANGES / sizeof HIDDEN_RANGES[0];
  while (low < high) {
    size_t middle = (low + high) / 2;
    if (HIDDEN_RANGES[middle].last < codePoint) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low < sizeof HIDDEN_RANGES / sizeof HIDDEN_RANGES[0] && HIDDEN_RANGES[low].first <= codePoint;
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
