// The command line rules are Windows' own; every platform splits the same way.
#include "platform/Process.h"

namespace platform {

std::vector<std::string> SplitCommandLine(std::string_view s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  const std::size_t n = s.size();
  auto blank = [&](std::size_t k) { return s[k] == ' ' || s[k] == '\t'; };
  while (i < n && blank(i)) ++i;
  if (i >= n) return out;
  // The program name knows no escapes: quotes only group.
  std::string program;
  if (s[i] == '"') {
    const std::size_t end = s.find('"', i + 1);
    program = std::string(s.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
    i = end == std::string_view::npos ? n : end + 1;
  } else {
    while (i < n && !blank(i)) program += s[i++];
  }
  out.push_back(program);
  for (;;) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !blank(i))) {
      if (s[i] == '\\') {
        std::size_t count = 0;
        while (i < n && s[i] == '\\') ++count, ++i;
        if (i < n && s[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
      } else if (s[i] == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += s[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace platform
