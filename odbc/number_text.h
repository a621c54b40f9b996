// Numbers read in binary and written as text exactly as a driver that converts them itself would write them.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for any text these functions write, without a NUL.
constexpr size_t NUMBER_TEXT_MAX = 40;

// Writes a signed or unsigned 64-bit integer in decimal at out; returns the end of what was written.
char* PutSignedInteger(char* out, int64_t value);
char* PutUnsignedInteger(char* out, uint64_t value);

// Writes a double as MySQL and MariaDB write one: its shortest digits that read back as the same value,
// in fixed notation from 1e-15 up to about 1e15 (and beyond while the digits reach past the decimal point),
// else as "1.25e15" or "1e-16". Returns the end of what was written.
char* PutDouble(char* out, double value);

// Writes a single-precision value as that family writes one: at most 6 significant digits, trailing
// zeros dropped, in the same notation as PutDouble. Returns the end of what was written.
char* PutFloat(char* out, float value);
