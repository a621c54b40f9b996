// Hex digits, as drivers write binary values and files escape bytes.
#pragma once

#include <cstddef>

// The value of a hex digit, or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether the `len` bytes at `text` are hex digits, two a byte.
inline bool IsHexBytes(const char* text, size_t len) {
  if (len % 2 != 0) return false;
  for (size_t i = 0; i < len; ++i) {
    if (HexDigitValue(text[i]) < 0) return false;
  }
  return true;
}
