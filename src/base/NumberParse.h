// The system's general number readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Integers: leading spaces skipped, an optional '+' or '-', then decimal
// digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X". Anything
// else (trailing spaces included), an empty text or a value out of range fails.
// Hexadecimal digits may fill all bits of the type ("$FFFFFFFF" reads as -1).
bool TryStrToInt(std::string_view text, std::int32_t& value);
bool TryStrToInt64(std::string_view text, std::int64_t& value);
// Floating-point with '.' as the decimal separator, an optional exponent, and
// blanks allowed around the number.
bool TryStrToFloat(std::string_view text, double& value);
// General format with up to 15 significant digits: "0.5", "123", "1E20", "1.5E-7".
std::string FloatToStr(double value);
