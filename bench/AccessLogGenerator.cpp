#include "AccessLogGenerator.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

// splitmix64: small, fast and the same on every machine.
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }
};

const char* const kUsers[] = {"tanaka", "suzuki", "sato", "admin", "guest01", "yamamoto"};
const char* const kActions[] = {"検索", "閲覧", "ダウンロード", "ログイン", "印刷"};
const char* const kDocs[] = {"D:\\docs\\報告書\\2026年度,第3四半期.pdf", "D:\\docs\\manual\\setup guide.docx",
                             "E:\\share\\議事録\\定例会議_12月.xlsx", "D:\\docs\\仕様書\\\"draft\".txt",
                             "\\\\server\\公開\\お知らせ.html"};
const char* const kQueries[] = {"アクセスログ 修正", "\"exact phrase\" AND 契約", "見積書,請求書", "kestrova",
                                "複数行の\r\nメモ"};

void AppendQuoted(std::string& out, const std::string& field) {
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

std::uint64_t GenerateAccessLog(const std::string& nativePath, const AccessLogOptions& options) {
  std::FILE* f = std::fopen(nativePath.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + nativePath);
  Random rnd{options.seed};
  std::string out;
  out.reserve(1 << 21);
  std::uint64_t written = 0, records = 0;
  char stamp[64];
  while (written < options.bytes) {
    const unsigned day = 1 + rnd.Below(28), hour = rnd.Below(24), minute = rnd.Below(60), second = rnd.Below(60);
    std::snprintf(stamp, sizeof stamp, "2026/11/%02u %02u:%02u:%02u.%03u", day, hour, minute, second, rnd.Below(1000));
    std::string first = stamp;
    if (rnd.Chance(options.infoShare)) {
      // The tag and the fixed-width prefix the repair removes.
      std::snprintf(stamp, sizeof stamp, "INFO\t[%05u] %12u ", rnd.Below(100000), rnd.Below(1000000000));
      first = std::string(stamp).substr(0, 26) + first;
    }
    std::string line;
    // Some fields are written plain, unless every one is quoted.
    auto field = [&](const std::string& value, bool plain) {
      if (plain && !options.quoted)
        line += value;
      else
        AppendQuoted(line, value);
    };
    field(first, !rnd.Chance(0.7));
    line += ',';
    std::snprintf(stamp, sizeof stamp, "192.168.%u.%u", rnd.Below(4), 1 + rnd.Below(254));
    field(stamp, true);
    line += ',';
    field(kUsers[rnd.Below(6)], true);
    line += ',';
    AppendQuoted(line, kActions[rnd.Below(5)]);
    line += ',';
    AppendQuoted(line, kDocs[rnd.Below(5)]);
    line += ',';
    AppendQuoted(line, kQueries[rnd.Below(options.quoted ? 4 : 5)]);  // the last one holds a line break
    line += ',';
    field(std::to_string(rnd.Below(5) == 0 ? 404 : 200), true);
    line += rnd.Chance(0.5) || options.quoted ? "\r\n" : "\n";
    out += line;
    written += line.size();
    ++records;
    if (out.size() >= (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), f);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), f);
  if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + nativePath);
  return records;
}
