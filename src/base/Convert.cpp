#include "base/Convert.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) return false;
  // One past the largest magnitude, so that the loop cannot overflow.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 31;
  std::uint64_t magnitude = 0;
  for (; i < n; ++i) {
    int d = DigitValue(text[i]);
    if (d < 0 || d >= base) return false;
    magnitude = magnitude * base + d;
    if (magnitude > kLimit) return false;
  }
  if (negative) {
    value = static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
  } else {
    if (magnitude == kLimit) return false;
    value = static_cast<std::int32_t>(magnitude);
  }
  return true;
}

std::int32_t StrToInt(std::string_view text) {
  std::int32_t value = 0;
  if (!TryStrToInt(text, value)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return value;
}

bool TryStrToFloat(std::string_view text, double& value) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  std::string_view s = text.substr(begin, end - begin);

  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::size_t number = i;
  // Decimal exponent of the first significant digit, to tell an overflow from
  // an underflow when the value is out of range.
  long leading = 0;
  bool seenSignificant = false;
  std::size_t digits = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i, ++digits) {
    if (seenSignificant) {
      ++leading;
    } else if (s[i] != '0') {
      seenSignificant = true;
    }
  }
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]); ++i, ++digits) {
      if (!seenSignificant) {
        --leading;
        if (s[i] != '0') seenSignificant = true;
      }
    }
  }
  if (digits == 0) return false;
  long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negativeExponent = s[i++] == '-';
    if (i == s.size()) return false;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
      if (exponent < 100000000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (i != s.size()) return false;

  double magnitude = 0;
  auto [ptr, ec] = std::from_chars(s.data() + number, s.data() + s.size(), magnitude, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (seenSignificant && leading + exponent >= 0) return false;
    magnitude = 0;
  } else if (ec != std::errc() || ptr != s.data() + s.size() || std::isinf(magnitude)) {
    return false;
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

double StrToFloat(std::string_view text) {
  double value = 0;
  if (!TryStrToFloat(text, value)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  }
  return value;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";

  // Round to 15 significant digits first: the notation depends on the
  // exponent of the rounded value (999999999999999.9 is 1E15).
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 14);
  std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = scientific.find('e');
  std::string digits;
  for (char c : scientific.substr(0, e)) {
    if (c != '.') digits += c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int exponent = 0;
  std::string_view exponentText = scientific.substr(e + 1);
  if (exponentText.front() == '+') exponentText.remove_prefix(1);
  std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);

  std::string out = value < 0 ? "-" : "";
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    } else {
      const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= integerDigits) {
        out += digits;
        out.append(integerDigits - digits.size(), '0');
      } else {
        out.append(digits, 0, integerDigits);
        out += '.';
        out.append(digits, integerDigits, std::string::npos);
      }
    }
  } else {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1, std::string::npos);
    }
    out += 'E';
    out += std::to_string(exponent);
  }
  return out;
}
