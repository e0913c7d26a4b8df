#include "platform/Registry.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/CodePage.h"
#include "platform/Locale.h"
#include "platform/posix/CodePageTables.h"

// The registry is an export file of the registry editor (UTF-8, or UTF-16LE
// as the editor writes it), so that a key exported on a Windows machine can be
// used as it is.

namespace platform {

namespace {

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kDefaultFile = "/etc/kestrova/registry.reg";

std::string FromFileText(std::string_view utf8) { return FromWide(Utf8ToWide(utf8)); }

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream out;
  out << in.rdbuf();
  std::string bytes = out.str();
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      wide +=
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return WideToUtf8(wide);
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  return bytes;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Removes the root and the outer delimiters; empty for a key of another root.
bool NormaliseKey(std::string_view path, bool withRoot, std::string& out) {
  if (withRoot) {
    if (path.size() < kRoot.size() || !SameTextIgnoreCase(path.substr(0, kRoot.size()), kRoot)) return false;
    path.remove_prefix(kRoot.size());
    if (!path.empty() && path.front() != '\\') return false;
  }
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  out = std::string(path);
  return true;
}

// A quoted text at pos with \\ and \" escapes; pos ends after the quote.
bool ParseQuoted(std::string_view line, std::size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  out.clear();
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < line.size()) c = line[++pos];
    out += c;
  }
  return false;
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& out) {
  out.clear();
  int digits = 0, value = 0;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (digits) out.push_back(static_cast<std::uint8_t>(value));
      digits = value = 0;
      continue;
    }
    const int d = HexDigit(c);
    if (d < 0) return false;
    if (++digits > 2) return false;
    value = value * 16 + d;
  }
  if (digits) out.push_back(static_cast<std::uint8_t>(value));
  return true;
}

std::u16string Utf16Le(const std::vector<std::uint8_t>& bytes) {
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) wide += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  return wide;
}

// Text data of a hex(1), hex(2) or hex(7) value: UTF-16LE in version 5 files,
// code page bytes in the older format; the final terminator is dropped.
std::string HexText(const std::vector<std::uint8_t>& bytes, bool unicode) {
  if (unicode) {
    std::u16string wide = Utf16Le(bytes);
    if (!wide.empty() && wide.back() == 0) wide.pop_back();
    return FromWide(wide);
  }
  std::string text(bytes.begin(), bytes.end());
  if (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

bool ParseData(std::string_view data, bool unicode, RegistryValue& value) {
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    std::string text;
    if (!ParseQuoted(data, pos, text) || !Trim(data.substr(pos)).empty()) return false;
    value.type = RegistryType::kString;
    value.text = FromFileText(text);
    return true;
  }
  if (data.substr(0, 6) == "dword:") {
    std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t n = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      n = n * 16 + static_cast<std::uint32_t>(d);
    }
    value.type = RegistryType::kDWord;
    value.number = n;
    return true;
  }
  if (data.substr(0, 3) != "hex") return false;
  int kind = 3;
  std::size_t colon = data.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view kindText = data.substr(3, colon - 3);
  if (!kindText.empty()) {
    if (kindText.size() < 3 || kindText.front() != '(' || kindText.back() != ')') return false;
    kind = 0;
    for (char c : kindText.substr(1, kindText.size() - 2)) {
      const int d = HexDigit(c);
      if (d < 0 || kind > 0xFFFF) return false;
      kind = kind * 16 + d;
    }
  }
  if (!ParseHexBytes(data.substr(colon + 1), value.bytes)) return false;
  switch (kind) {
    case 1:
      value.type = RegistryType::kString;
      value.text = HexText(value.bytes, unicode);
      break;
    case 2:
      value.type = RegistryType::kExpandString;
      value.text = HexText(value.bytes, unicode);
      break;
    case 4:
      if (value.bytes.size() != 4) return false;
      value.type = RegistryType::kDWord;
      value.number = value.bytes[0] | (value.bytes[1] << 8) | (value.bytes[2] << 16) |
                     (static_cast<std::uint32_t>(value.bytes[3]) << 24);
      break;
    case 7:
      value.type = RegistryType::kMultiString;
      value.text = HexText(value.bytes, unicode);
      break;
    case 3:
      value.type = RegistryType::kBinary;
      break;
    default:
      value.type = RegistryType::kOther;
  }
  return true;
}

// The name of a key below SOFTWARE in the 32-bit view; empty for any other
// key and for a name that already is one of that view.
std::string ThirtyTwoBitView(const std::string& key) {
  constexpr std::string_view kSoftware = "SOFTWARE\\", kView = "WOW6432Node";
  if (key.size() <= kSoftware.size() ||
      !SameTextIgnoreCase(std::string_view(key).substr(0, kSoftware.size()), kSoftware))
    return {};
  const std::string_view rest = std::string_view(key).substr(kSoftware.size());
  if (rest.size() >= kView.size() && SameTextIgnoreCase(rest.substr(0, kView.size()), kView) &&
      (rest.size() == kView.size() || rest[kView.size()] == '\\'))
    return {};
  return std::string(kSoftware) + std::string(kView) + "\\" + std::string(rest);
}

}  // namespace

std::string RegistrySource() {
  const char* path = std::getenv("KESTROVA_REGISTRY");
  return path && *path ? std::string(path) : std::string(kDefaultFile);
}

bool RegistryKey::Open(std::string_view keyPath) {
  Close();
  std::string wanted;
  NormaliseKey(keyPath, false, wanted);
  const std::string text = ReadWholeFile(RegistrySource());

  // The values of the key named exactly so; false when the key does not
  // exist, neither listed nor the parent of a listed key.
  const auto read = [&text](const std::string& keyName, std::vector<Entry>& values) {
    std::istringstream lines(text);
    std::string raw;
    bool headerSeen = false, unicode = true, inKey = false, exists = false;
    std::string logical;
    while (std::getline(lines, raw)) {
      std::string_view line = Trim(raw);
      // Long hex values go on over several lines, each but the last ending in '\'.
      if (!line.empty() && line.back() == '\\' && line.front() != '[' && line.find("=\"") == std::string_view::npos) {
        logical.append(line.substr(0, line.size() - 1));
        continue;
      }
      logical.append(line);
      const std::string entry(Trim(logical));
      logical.clear();
      std::string_view current = entry;
      if (current.empty() || current.front() == ';') continue;
      if (!headerSeen) {
        if (current == "Windows Registry Editor Version 5.00")
          unicode = true;
        else if (current == "REGEDIT4")
          unicode = false;
        else
          return false;
        headerSeen = true;
        continue;
      }
      if (current.front() == '[') {
        inKey = false;
        if (current.back() != ']' || current.size() < 2 || current[1] == '-') continue;
        std::string key;
        if (!NormaliseKey(current.substr(1, current.size() - 2), true, key)) continue;
        key = FromFileText(key);
        if (SameTextIgnoreCase(key, keyName)) {
          inKey = exists = true;
        } else if (keyName.empty() || (key.size() > keyName.size() && key[keyName.size()] == '\\' &&
                                       SameTextIgnoreCase(std::string_view(key).substr(0, keyName.size()), keyName))) {
          exists = true;  // a parent of a listed key exists too
        }
        continue;
      }
      if (!inKey) continue;
      std::string name;
      std::size_t pos = 0;
      if (current.front() == '@') {
        pos = 1;
      } else if (!ParseQuoted(current, pos, name)) {
        continue;
      }
      std::string_view rest = Trim(current.substr(pos));
      if (rest.empty() || rest.front() != '=') continue;
      rest = Trim(rest.substr(1));
      Entry e;
      e.name = FromFileText(name);
      if (rest == "-" || !ParseData(rest, unicode, e.value)) continue;
      for (auto it = values.begin(); it != values.end(); ++it)
        if (SameTextIgnoreCase(it->name, e.name)) {
          values.erase(it);
          break;
        }
      values.push_back(std::move(e));
    }
    return exists;
  };

  // The program is a 32-bit one: on 64-bit Windows it sees the software keys
  // in their 32-bit view, which the registry editor exports under
  // WOW6432Node. That view comes first; an export of the plain name serves
  // where there is none.
  const std::string view = ThirtyTwoBitView(wanted);
  FOpen = !view.empty() && read(view, FValues);
  if (!FOpen) {
    FValues.clear();
    FOpen = read(wanted, FValues);
  }
  if (!FOpen) FValues.clear();
  return FOpen;
}

}  // namespace platform
