// Reading whole numbers written in decimal digits, shared by the options and
// settings that take a count, a size or a time. A pure function, safe on any
// thread.
#pragma once

#include <cstdint>
#include <string>

// Reads `text` as a whole number in decimal digits only: no sign, no blanks,
// leading zeros allowed. Returns false for an empty text, any other character
// or a number above `max` (without overflowing on the way, however many digits
// the text holds); `value` is then left unchanged.
bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& value);
