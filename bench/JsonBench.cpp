// Parse times of large JSON texts: each shape is about 10 MB, so a reader
// that copied the rest of the text per value would show at once.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "common/RsJson.h"
#include "platform/CodePage.h"

namespace {

void Time(const char* what, const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%-44s %9.1f ms\n", what, elapsed.count());
}

std::string Repeat(const std::string& piece, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() < bytes) out += piece;
  return out;
}

}  // namespace

int main() {
  const std::size_t size = 10 * 1024 * 1024;
  const std::string text = "{\"a\":\"" + std::string(size, 'x') + "\"}";
  Time("quoted string", [&] { TJSONObject o(text); });
  const std::string escapes = "{\"a\":\"" + Repeat("\\\\", size) + "\"}";
  Time("string of escapes", [&] { TJSONObject o(escapes); });
  const std::string sjis = "{\"a\":\"" + Repeat("\x83\x5C\\n", size) + "\"}";
  {
    platform::ScopedCodePage cp(platform::kCodePageShiftJis);
    Time("double-byte characters and escapes (932)", [&] { TJSONObject o(sjis); });
  }
  const std::string word = "{\"a\":" + std::string(size, 'w') + "}";
  Time("bare word", [&] { TJSONObject o(word); });
  const std::string comment = "/*" + std::string(size, '*') + "*/{}";
  Time("block comment", [&] { TJSONObject o(comment); });
  const std::string array = "[" + Repeat("12345,0.5,true,\"ab\",010,", size) + "1]";
  Time("array of mixed values", [&] {
    TJSONArray a;
    a.parseText(array, false);
  });
  const std::string nested = Repeat("[[1,{\"k\":[2]}]],", size);
  Time("array of small nested values", [&] {
    TJSONArray a;
    a.parseText("[" + nested + "]", false);
  });
  std::string members = "{";
  for (int i = 0; members.size() < size; ++i) members += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  members += "\"z\":0}";
  Time("object with many members", [&] { TJSONObject o(members); });
  return 0;
}
