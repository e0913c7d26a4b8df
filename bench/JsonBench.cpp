// Parse times of large JSON texts: each shape is about 10 MB, so a reader
// that copied the rest of the text per value would show at once. Then the
// text form of objects and arrays of 1,000 to 100,000 members, against the
// parse of the same text as the baseline: printing must stay linear, as
// parsing is, so the ratio stays about the same at every size.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "common/RsJson.h"
#include "platform/CodePage.h"

namespace {

double Measure(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count();
}

void Time(const char* what, const std::function<void()>& run) { std::printf("%-44s %9.1f ms\n", what, Measure(run)); }

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

  for (const int count : {1000, 10000, 100000}) {
    std::string object = "{", array = "[";
    for (int i = 0; i < count; ++i) {
      const std::string sep = i ? "," : "";
      object += sep + "\"Member" + std::to_string(i) + "\":[" + std::to_string(i) + ",\"v\",{\"k\":0.5}]";
      array += sep + "{\"n\":" + std::to_string(i) + "}";
    }
    object += "}";
    array += "]";
    const auto report = [count](const char* what, double parse, double print) {
      std::printf("%-20s %7d members: parse %9.1f ms, toString %9.1f ms, ratio %5.2f\n", what, count, parse, print,
                  print / parse);
    };
    TJSONObject o;
    TJSONArray a;
    const double parseObject = Measure([&] { o.parseText(object, false); });
    const double printObject = Measure([&] {
      if (o.toString() != object) std::printf("object text differs\n");
    });
    report("object", parseObject, printObject);
    const double parseArray = Measure([&] { a.parseText(array, false); });
    const double printArray = Measure([&] {
      if (a.toString() != array) std::printf("array text differs\n");
    });
    report("array of objects", parseArray, printArray);
  }
  return 0;
}
