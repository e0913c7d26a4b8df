// The documents of tests/data/config/profile-corpus.txt read by the INI reader
// of the configuration document, with the results the corpus states; on
// Windows the system's own profile functions must give the same results.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "config/KvIniFile.h"
#include "platform/CodePage.h"
#include "support/TestSupport.h"

namespace {

struct TCase {
  std::string name;
  std::string encoding = "ansi";
  std::string eol = "crlf";
  std::vector<std::string> document;
  std::vector<std::string> expectations;
};

std::vector<TCase> ReadCorpus() {
  std::istringstream text(
      testing_support::ReadFile(std::string(std::getenv("KV_SOURCE_DIR")) + "/tests/data/config/profile-corpus.txt"));
  std::vector<TCase> cases;
  bool inDocument = false;
  for (std::string line; std::getline(text, line);) {
    if (line.starts_with("=== ")) {
      std::istringstream words(line.substr(4));
      TCase& c = cases.emplace_back();
      words >> c.name;
      for (std::string word; words >> word;)
        (word == "crlf" || word == "lf" || word == "cr" ? c.eol : c.encoding) = word;
      inDocument = true;
    } else if (inDocument && line == "---") {
      inDocument = false;
    } else if (inDocument) {
      cases.back().document.push_back(line);
    } else if (!cases.empty() && !line.empty() && !line.starts_with("#")) {
      cases.back().expectations.push_back(line);
    }
  }
  return cases;
}

// A piece of an escaped corpus text: UTF-8 text, or one byte (code unit)
// taken as it is.
struct TPiece {
  bool raw;
  std::string text;
};

std::vector<TPiece> Unescape(std::string_view s, bool* noBreak = nullptr) {
  if (noBreak) *noBreak = s.ends_with("%.") && !s.ends_with("%%.");
  if (noBreak && *noBreak) s.remove_suffix(2);
  std::vector<TPiece> pieces;
  const auto text = [&pieces](std::string_view t) {
    if (pieces.empty() || pieces.back().raw) pieces.push_back({false, ""});
    pieces.back().text += t;
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%' || i + 1 >= s.size()) {
      text(s.substr(i, 1));
    } else if (s[i + 1] == '%') {
      text("%");
      ++i;
    } else if (s[i + 1] == '.') {
      ++i;  // a break suppressed inside a line joins nothing
    } else if (s[i + 1] == '(') {
      const std::size_t close = s.find(')', i);
      const std::size_t space = s.find(' ', i);
      const std::string_view what = s.substr(space + 1, close - space - 1);
      for (int n = std::atoi(std::string(s.substr(i + 2, space - i - 2)).c_str()); n > 0; --n) text(what);
      i = close;
    } else {
      pieces.push_back(
          {true, std::string(1, static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16)))});
      i += 2;
    }
  }
  return pieces;
}

std::u16string FromUtf8(std::string_view utf8) {
  platform::ScopedCodePage source(platform::kCodePageUtf8);
  return platform::ToWide(utf8);
}

// An escaped text in the system code page.
std::string SystemText(std::string_view escaped) {
  std::string out;
  for (const TPiece& piece : Unescape(escaped))
    out += piece.raw ? piece.text : platform::FromWide(FromUtf8(piece.text));
  return out;
}

std::string Encode(const TCase& c) {
  const bool utf16 = c.encoding == "utf16le" || c.encoding == "utf16be";
  const auto unit = [&c](std::string& out, char16_t u) {
    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
    out += c.encoding == "utf16le" ? std::string{low, high} : std::string{high, low};
  };
  std::string out = c.encoding == "utf8bom" ? "\xEF\xBB\xBF" : "";
  if (utf16) unit(out, u'\xFEFF');
  const std::string eol = c.eol == "crlf" ? "\r\n" : c.eol == "lf" ? "\n" : "\r";
  for (const std::string& line : c.document) {
    bool noBreak = false;
    std::vector<TPiece> pieces = Unescape(line, &noBreak);
    if (!noBreak) pieces.push_back({false, eol});
    for (const TPiece& piece : pieces) {
      if (utf16 && piece.raw)
        unit(out, static_cast<unsigned char>(piece.text[0]));
      else if (utf16)
        for (char16_t u : FromUtf8(piece.text)) unit(out, u);
      else if (c.encoding == "ansi" && !piece.raw)
        out += platform::FromWide(FromUtf8(piece.text));
      else
        out += piece.text;
    }
  }
  return out;
}

std::string Joined(const TStringList& names) {
  std::string out;
  for (int i = 0; i < names.Count(); ++i) out += (i ? "|" : "") + names[i];
  return out;
}

constexpr char kMissing[] = "\x01missing";

#ifdef _WIN32
std::string SystemKeys(const std::string& path, const std::string& section) {
  std::vector<char> buffer(TKvIniFile::kKeyListBytes + 2, '\0');
  GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), TKvIniFile::kKeyListBytes, path.c_str());
  TStringList names;
  for (const char* name = buffer.data(); *name; name += std::strlen(name) + 1) names.Add(name);
  return Joined(names);
}

std::string SystemValue(const std::string& path, const std::string& section, const std::string& key) {
  // Zero-filled: where a value is cut inside a character, what stands before
  // the first NUL is what a caller reads.
  std::vector<char> buffer(TKvIniFile::kValueBytes + 2, '\0');
  GetPrivateProfileStringA(section.c_str(), key.c_str(), kMissing, buffer.data(), TKvIniFile::kValueBytes + 1,
                           path.c_str());
  return buffer.data();
}
#endif

// Checks one expectation line, when it applies under the code page in force,
// against the reader and, on Windows, against the system's profile functions.
void Check(const TKvIniFile& file, std::string line) {
  if (line.starts_with("@")) {
    const std::size_t space = line.find(' ');
    if (std::stoul(line.substr(1, space - 1)) != platform::SystemCodePage()) return;
    line.erase(0, space + 1);
  }
  SCOPED_TRACE(line);
  if (line.starts_with("[")) {
    const std::size_t close = line.find(']');
    const std::string section = SystemText(line.substr(1, close - 1));
    std::istringstream names(close + 1 < line.size() ? line.substr(close + 2) : "");
    TStringList expected, read;
    for (std::string name; std::getline(names, name, '|');) expected.Add(SystemText(name));
    file.ReadSection(section, read);
    EXPECT_EQ(Joined(read), Joined(expected));
    EXPECT_EQ(file.SectionExists(section), read.Count() > 0);
#ifdef _WIN32
    EXPECT_EQ(SystemKeys(file.FileName(), section), Joined(expected));
#endif
    return;
  }
  const std::size_t colon = line.find(':');
  const std::size_t eq = line.find('=', colon);
  const std::string section = SystemText(line.substr(0, colon));
  const std::string key = SystemText(line.substr(colon + 1, eq == std::string::npos ? eq : eq - colon - 1));
  const std::string expected = eq == std::string::npos ? kMissing : SystemText(line.substr(eq + 1));
  EXPECT_EQ(file.ReadString(section, key, kMissing), expected);
#ifdef _WIN32
  EXPECT_EQ(SystemValue(file.FileName(), section, key), expected);
#endif
}

void CheckCorpus() {
  const std::vector<TCase> cases = ReadCorpus();
  ASSERT_GE(cases.size(), 50u);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name + " (code page " + std::to_string(platform::SystemCodePage()) + ")");
    ASSERT_FALSE(c.expectations.empty());
    testing_support::TempDir dir;
    testing_support::WriteFile(dir.Native("case.ini"), Encode(c));
    const TKvIniFile file(dir.System("case.ini"));
    for (const std::string& line : c.expectations) Check(file, line);
  }
}

#ifdef _WIN32
// The system's profile functions read in the system code page (932 in the
// test command's Wine); the documents are checked under that one.
TEST(ProfileCorpusTest, ReadsAsTheSystemsProfileFunctions) { CheckCorpus(); }
#else
TEST(ProfileCorpusTest, ReadsAsTheProfileFunctions) {
  for (const unsigned codePage : {platform::kCodePageShiftJis, platform::kCodePageUtf8}) {
    platform::ScopedCodePage scoped(codePage);
    CheckCorpus();
  }
}
#endif

}  // namespace
