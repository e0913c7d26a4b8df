#include "base/Format.h"

std::string Format(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(format.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    char d = format[++i];
    if (d == '%') {
      out += '%';
    } else if (next != args.end()) {
      out.append(*next++);
    }
  }
  return out;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }
