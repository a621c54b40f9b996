// Numbers read in binary and written as text exactly as a driver that converts them itself would write them.
#include "odbc/number_text.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

// Fixed notation is used from this many digits after the point (decimal exponent -15)...
constexpr int MIN_FIXED_DECPT = -14;
// ...up to a point this many digits to the right of the first, or further while digits follow it.
constexpr int MAX_FIXED_DECPT = 15;

// Writes the number whose significant digits are digits[0, count) (no leading or trailing zeros) and whose
// decimal point stands after `decpt` of them (it may be negative or past the last digit).
char* PutDigits(char* out, bool negative, const char* digits, int count, int decpt) {
  if (negative) *out++ = '-';
  bool fixed = decpt >= MIN_FIXED_DECPT && (decpt <= MAX_FIXED_DECPT || count > decpt);
  if (!fixed) {
    *out++ = digits[0];
    if (count > 1) {
      *out++ = '.';
      memcpy(out, digits + 1, static_cast<size_t>(count - 1));
      out += count - 1;
    }
    *out++ = 'e';
    return std::to_chars(out, out + 8, decpt - 1).ptr;
  }
  if (decpt <= 0) {
    *out++ = '0';
    *out++ = '.';
    memset(out, '0', static_cast<size_t>(-decpt));
    out += -decpt;
    memcpy(out, digits, static_cast<size_t>(count));
    return out + count;
  }
  if (decpt >= count) {
    memcpy(out, digits, static_cast<size_t>(count));
    out += count;
    memset(out, '0', static_cast<size_t>(decpt - count));
    return out + (decpt - count);
  }
  memcpy(out, digits, static_cast<size_t>(decpt));
  out += decpt;
  *out++ = '.';
  memcpy(out, digits + decpt, static_cast<size_t>(count - decpt));
  return out + (count - decpt);
}

// Splits scientific text "d.ddde±x" (no sign) into its digits without trailing zeros and the position of
// the decimal point; returns the digit count.
int SplitScientific(const char* text, const char* end, char* digits, int* decpt) {
  int count = 0;
  const char* p = text;
  for (; p < end && *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  int exponent = 0;
  if (p < end) std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
  while (count > 1 && digits[count - 1] == '0') --count;
  *decpt = exponent + 1;
  return count;
}

}  // namespace

char* PutSignedInteger(char* out, int64_t value) { return std::to_chars(out, out + NUMBER_TEXT_MAX, value).ptr; }

char* PutUnsignedInteger(char* out, uint64_t value) { return std::to_chars(out, out + NUMBER_TEXT_MAX, value).ptr; }

char* PutDouble(char* out, double value) {
  if (value == 0) {
    *out++ = '0';  // the family writes no sign on zero
    return out;
  }
  bool negative = value < 0;
  char text[NUMBER_TEXT_MAX];
  char* end = std::to_chars(text, text + sizeof text, negative ? -value : value, std::chars_format::scientific).ptr;
  char digits[NUMBER_TEXT_MAX];
  int decpt = 0;
  int count = SplitScientific(text, end, digits, &decpt);
  return PutDigits(out, negative, digits, count, decpt);
}

char* PutFloat(char* out, float value) {
  if (value == 0) {
    *out++ = '0';
    return out;
  }
  bool negative = value < 0;
  char text[NUMBER_TEXT_MAX];
  // Six significant digits, correctly rounded from the value's exact binary value.
  int length = snprintf(text, sizeof text, "%.5e", static_cast<double>(negative ? -value : value));
  char digits[NUMBER_TEXT_MAX];
  int decpt = 0;
  int count = SplitScientific(text, text + length, digits, &decpt);
  return PutDigits(out, negative, digits, count, decpt);
}
