// Rendering of titles, cells and messages as safe, aligned text in the terminal's character set.
#pragma once

#include <cstddef>
#include <string>

// How text is measured and shown; fixed once at start-up.
struct TextCharset {
  bool utf8;              // true: UTF-8 text, widths count display columns; false: one byte is one column
  bool c1Printable;       // true where bytes 0x80-0x9F are characters (code page 437), not controls
  const char* columnBar;  // the column separator as written
  size_t columnBarLen;    // its length in bytes
};

// Sets LC_CTYPE from the environment and returns the text rules and column separator of its character set.
TextCharset LocaleCharset();

// Bytes that RenderCell may write for a cell of at most maxChars characters and `width` columns.
inline size_t CellBytesBound(int maxChars, int width) {
  return 4 * static_cast<size_t>(maxChars > 0 ? maxChars : 0) + static_cast<size_t>(width > 0 ? width : 0);
}

// Writes at most maxChars characters of text[0, len) as exactly `width` columns at dst: blanks pad on the
// right (alignLeft) or on the left, and text that is too wide is cut after the last character that fits.
// Control characters, format characters and characters that show nothing (in UTF-8) and bytes that
// are not valid text show as '?'. Returns the end of what was written.
char* RenderCell(const TextCharset& charset, char* dst, const char* text, size_t len, int maxChars, int width, bool alignLeft);

// Returns the bytes of the first maxChars characters of text[0, len), cut only between characters.
size_t TextPrefixBytes(const TextCharset& charset, const char* text, size_t len, int maxChars);

// Returns how many display columns the whole text takes as RenderCell shows it.
int TextColumns(const TextCharset& charset, const char* text, size_t len);

// Appends text[0, len) to out as it may reach a terminal: every control character (newline and tab too),
// every character that changes the text's direction or shows nothing, and every byte that is not valid
// text shows as '?'.
void AppendSafeText(const TextCharset& charset, std::string& out, const char* text, size_t len);

// Returns a diagnostic message as it may reach the terminal: newline and tab stay, every other control
// character, every character that changes direction or shows nothing, and every invalid byte shows as '?'.
std::string SafeMessageText(const TextCharset& charset, const char* text);
