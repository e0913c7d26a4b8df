// The reader of the configuration document: an INI text read once from the
// file's bytes, with the results the document relies on. A file that cannot
// be read behaves as a file without sections.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Object.h"
#include "base/StringList.h"

class TKvIniFile : public TObject {
 public:
  // The key name list of a section holds at most this many bytes, each name
  // followed by a NUL and the list by one more.
  static constexpr std::size_t kKeyListBytes = 16384;
  // A value keeps at most this many bytes.
  static constexpr std::size_t kValueBytes = 2047;

  explicit TKvIniFile(const std::string& fileName);

  const std::string& FileName() const { return FFileName; }

  // A section counts only when it holds at least one key.
  bool SectionExists(std::string_view section) const;
  // The key names of a section in file order, repeats included.
  void ReadSection(std::string_view section, TStringList& names) const;
  // The value of the first key of that name, blanks around it removed; the
  // default when the key is missing.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // "0x" followed by hexadecimal digits, or the general integer syntax; the
  // default when the key is missing or its value does not convert.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;

 private:
  void Parse(std::string_view text);

  struct TEntry {
    std::string section;
    std::string key;
    std::string value;
  };
  std::string FFileName;
  std::vector<TEntry> FEntries;  // every key=value line, in file order
};
