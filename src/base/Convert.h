// Conversions between numbers and their text forms, independent of the user's
// locale: '.' is always the decimal separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Exception.h"

// Raised when a text does not convert to a number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// Leading blanks, an optional sign, then decimal digits or a hexadecimal
// number introduced by '$', 'x', 'X', "0x" or "0X". Anything else, trailing
// blanks included, and values outside the signed 32-bit range do not convert.
bool TryStrToInt(std::string_view text, std::int32_t& value);
// As TryStrToInt; raises EConvertError "'text' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// Blanks around an optional sign, digits with an optional '.' fraction (at
// least one digit in all) and an optional exponent introduced by 'E' or 'e'.
// A value too large for a double does not convert; one too small becomes 0.
bool TryStrToFloat(std::string_view text, double& value);
// As TryStrToFloat; raises EConvertError "'text' is not a valid floating point value".
double StrToFloat(std::string_view text);

// General form with up to 15 significant digits, trailing zeros and a trailing
// point dropped: fixed notation when the magnitude is at least 0.00001 and the
// integer part has at most 15 digits, else scientific ("1E20", "1.5E-7").
// NaN and the infinities give "NAN", "INF" and "-INF".
std::string FloatToStr(double value);
