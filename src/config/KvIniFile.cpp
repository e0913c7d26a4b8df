#include "config/KvIniFile.h"

#include "base/NumberParse.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Locale.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The longest start of text within limit bytes that does not end inside a
// double-byte character.
std::string_view CutOnCharacters(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = 0;
  while (end < limit) {
    const std::size_t step = platform::IsLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1;
    if (end + step > limit) break;
    end += step;
  }
  return text.substr(0, end);
}

bool ReadAll(const std::string& fileName, std::string& bytes) {
  platform::File file;
  if (file.OpenRead(fileName, false) != 0) return false;
  char buffer[65536];
  for (;;) {
    std::size_t got = 0;
    if (file.Read(buffer, sizeof buffer, got) != 0) return false;
    if (got == 0) return true;
    bytes.append(buffer, got);
  }
}

}  // namespace

TKvIniFile::TKvIniFile(const std::string& fileName) : FFileName(fileName) {
  std::string bytes;
  // An unreadable file is read as no text at all rather than a part of it.
  if (!fileName.empty() && ReadAll(fileName, bytes)) Parse(bytes);
}

void TKvIniFile::Parse(std::string_view text) {
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  std::string section;
  bool inSection = false;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos) {
        section = Trim(line.substr(1, close - 1));
        inSection = true;
      }
      continue;
    }
    const std::size_t eq = line.find('=');
    if (!inSection || eq == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    FEntries.push_back(
        {section, std::string(key), std::string(CutOnCharacters(Trim(line.substr(eq + 1)), kValueBytes))});
  }
}

bool TKvIniFile::SectionExists(std::string_view section) const {
  for (const TEntry& entry : FEntries)
    if (platform::SameTextIgnoreCase(entry.section, section)) return true;
  return false;
}

void TKvIniFile::ReadSection(std::string_view section, TStringList& names) const {
  names.Clear();
  std::size_t used = 1;  // the NUL that ends the list
  for (const TEntry& entry : FEntries) {
    if (!platform::SameTextIgnoreCase(entry.section, section)) continue;
    // Only whole names: a cut name would name another key.
    if (used + entry.key.size() + 1 > kKeyListBytes) break;
    used += entry.key.size() + 1;
    names.Add(entry.key);
  }
}

std::string TKvIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  for (const TEntry& entry : FEntries)
    if (platform::SameTextIgnoreCase(entry.section, section) && platform::SameTextIgnoreCase(entry.key, key))
      return entry.value;
  return std::string(def);
}

std::int32_t TKvIniFile::ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const {
  std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = "$" + text.substr(2);
  std::int32_t value;
  return TryStrToInt(text, value) ? value : def;
}
