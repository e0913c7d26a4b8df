#include "base/NumberParse.h"

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
  if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string FloatToStr(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string s(buffer, result.ptr);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');  // "1E20", "INF", "NAN"
  const std::size_t e = s.find('E');
  if (e == std::string::npos) return s;
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1);
  std::string sign;
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
    if (exponent[0] == '-') sign.push_back('-');
    exponent.erase(0, 1);
  }
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return mantissa + "E" + sign + exponent;
}
