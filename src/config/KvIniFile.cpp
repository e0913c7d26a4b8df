#include "config/KvIniFile.h"

#include "base/NumberParse.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Locale.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The byte length of the character that starts at text[at] in the system
// code page; a byte that starts no complete character counts as one.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (platform::SystemCodePage() != platform::kCodePageUtf8)
    return platform::IsLeadByte(lead) && at + 1 < text.size() ? 2 : 1;
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 1;
  if (at + length > text.size()) return 1;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 1;
  return length;
}

// The longest start of text within limit bytes that ends on a character
// boundary, so that a cut value never ends in a piece of a character.
std::string_view CutOnCharacters(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = 0;
  for (std::size_t step; end < limit && end + (step = CharacterLength(text, end)) <= limit;) end += step;
  return text.substr(0, end);
}

// The position of the last ']' of the line that is a character of its own
// (in a double-byte code page the second byte of a character can be ']').
std::size_t LastClosingBracket(std::string_view line) {
  std::size_t found = std::string_view::npos;
  for (std::size_t at = 0; at < line.size(); at += CharacterLength(line, at))
    if (line[at] == ']') found = at;
  return found;
}

// One pair of matching quotes around the whole value is removed.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

std::u16string Utf16ToWide(std::string_view bytes, bool bigEndian) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return out;
}

// The document's text in the system code page: a byte-order mark of UTF-8,
// UTF-16 LE or UTF-16 BE selects that encoding; anything else is taken as
// the system code page already and kept byte for byte.
std::string DocumentText(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return platform::FromWide(Utf16ToWide(bytes.substr(2), false));
  if (bytes.starts_with("\xFE\xFF")) return platform::FromWide(Utf16ToWide(bytes.substr(2), true));
  if (bytes.starts_with("\xEF\xBB\xBF")) return platform::FromWide(platform::Utf8ToWide(bytes.substr(3)));
  return std::string(bytes);
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
  if (!fileName.empty() && ReadAll(fileName, bytes)) Parse(DocumentText(bytes));
}

void TKvIniFile::Parse(std::string_view text) {
  TSection* current = nullptr;
  while (!text.empty()) {
    // A line ends at LF, CR or CR LF.
    const std::size_t eol = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, eol);
    if (eol == std::string_view::npos)
      text = {};
    else
      text.remove_prefix(eol + (text[eol] == '\r' && eol + 1 < text.size() && text[eol + 1] == '\n' ? 2 : 1));
    // What follows a NUL is not seen by anyone who reads the value.
    line = Trim(line.substr(0, line.find('\0')));
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::size_t close = LastClosingBracket(line);
      if (close != std::string_view::npos) {
        const std::string_view name = Trim(line.substr(1, close - 1));
        // Of two sections of the same name only the first is read.
        if (FindSection(name)) {
          current = nullptr;
        } else {
          FSections.push_back({std::string(name), {}});
          current = &FSections.back();
        }
        continue;
      }
    }
    const std::size_t eq = line.find('=');
    if (!current || eq == std::string_view::npos) continue;
    current->entries.push_back({std::string(Trim(line.substr(0, eq))),
                                std::string(CutOnCharacters(Unquote(Trim(line.substr(eq + 1))), kValueBytes)),
                                line.front() != ';'});
  }
}

const TKvIniFile::TSection* TKvIniFile::FindSection(std::string_view section) const {
  for (const TSection& s : FSections)
    if (platform::SameTextIgnoreCase(s.name, section)) return &s;
  return nullptr;
}

bool TKvIniFile::SectionExists(std::string_view section) const {
  TStringList names;
  ReadSection(section, names);
  return names.Count() > 0;
}

void TKvIniFile::ReadSection(std::string_view section, TStringList& names) const {
  names.Clear();
  const TSection* s = FindSection(section);
  if (!s) return;
  std::size_t used = 1;  // the NUL that ends the list
  for (const TEntry& entry : s->entries) {
    if (!entry.listed) continue;
    // An empty name reads as the end of the list.
    if (entry.key.empty()) break;
    // Only whole names: a cut name would name another key.
    if (used + entry.key.size() + 1 > kKeyListBytes) break;
    used += entry.key.size() + 1;
    names.Add(entry.key);
  }
}

std::string TKvIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  if (const TSection* s = FindSection(section))
    for (const TEntry& entry : s->entries)
      if (platform::SameTextIgnoreCase(entry.key, key)) return entry.value;
  return std::string(def);
}

std::int32_t TKvIniFile::ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const {
  std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = "$" + text.substr(2);
  std::int32_t value;
  return TryStrToInt(text, value) ? value : def;
}
