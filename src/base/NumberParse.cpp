#include "base/NumberParse.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

template <typename Signed, typename Unsigned>
bool ParseInteger(std::string_view s, Signed& value) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  bool hex = false;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  Unsigned magnitude = 0;
  const Unsigned limit = hex ? std::numeric_limits<Unsigned>::max()
                             : static_cast<Unsigned>(std::numeric_limits<Signed>::max()) + (negative ? 1 : 0);
  const unsigned base = hex ? 16 : 10;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (magnitude > (limit - digit) / base) return false;
    magnitude = magnitude * base + digit;
  }
  if (negative) magnitude = static_cast<Unsigned>(0) - magnitude;
  value = static_cast<Signed>(magnitude);
  return true;
}

// Whether a number in plain decimal notation ("-1.5e-400") is smaller than 1
// in magnitude: its first significant digit stands after the decimal point.
bool MagnitudeBelowOne(std::string_view s) {
  std::size_t i = s.front() == '-' ? 1 : 0;
  long long position = 0;  // decimal exponent of the first significant digit, plus one
  bool seenPoint = false, significant = false;
  for (; i < s.size() && s[i] != 'e' && s[i] != 'E'; ++i) {
    if (s[i] == '.') {
      seenPoint = true;
    } else if (!significant && s[i] == '0') {
      if (seenPoint) --position;
    } else {
      significant = true;
      if (!seenPoint) ++position;
    }
  }
  if (!significant) return true;
  long long exponent = 0;
  if (i < s.size()) {
    ++i;
    const bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    for (; i < s.size(); ++i) exponent = std::min<long long>(exponent * 10 + (s[i] - '0'), 1000000000);
    if (negative) exponent = -exponent;
  }
  return position + exponent <= 0;
}

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  return ParseInteger<std::int32_t, std::uint32_t>(text, value);
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  return ParseInteger<std::int64_t, std::uint64_t>(text, value);
}

bool TryStrToFloat(std::string_view text, double& value) {
  std::size_t from = 0, to = text.size();
  while (from < to && text[from] == ' ') ++from;
  while (to > from && text[to - 1] == ' ') --to;
  std::string_view s = text.substr(from, to - from);
  // Only plain decimal notation: no hexadecimal floats, infinities or NaNs.
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E')) return false;
  // from_chars takes no '+' of its own; it is also independent of the
  // process's numeric locale, which a window toolkit may have changed.
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) return false;
  }
  if (s.empty()) return false;
  double v = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (end != s.data() + s.size()) return false;
  if (error == std::errc::result_out_of_range && MagnitudeBelowOne(s)) {
    // Too small for a double: the nearest double is zero.
    v = s.front() == '-' ? -0.0 : 0.0;
  } else if (error != std::errc() || !std::isfinite(v)) {
    return false;  // too large for a double
  }
  value = v;
  return true;
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
    } else if (const auto integerDigits = static_cast<std::size_t>(exponent) + 1; digits.size() <= integerDigits) {
      out += digits;
      out.append(integerDigits - digits.size(), '0');
    } else {
      out.append(digits, 0, integerDigits);
      out += '.';
      out.append(digits, integerDigits, std::string::npos);
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
