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
// blanks allowed around the number. A number too small for a double reads as
// 0; one too large for it does not convert.
bool TryStrToFloat(std::string_view text, double& value);
// The one text form of doubles (boxed values, JSON, the printed
// configuration): up to 15 significant digits, '.' as the separator,
// trailing zeros dropped; fixed notation from 0.00001 up while the integer
// part has at most 15 digits, else scientific: "0.5", "0.00005", "123",
// "1E20", "1.5E-7"; "NAN", "INF", "-INF".
std::string FloatToStr(double value);
