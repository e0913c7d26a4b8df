// The reader of the configuration document: an INI text read once from the
// file's bytes, with the results the server's profile functions give for it.
// A file that cannot be read behaves as a file without sections.
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

  // A section counts only when its key name list is not empty.
  bool SectionExists(std::string_view section) const;
  // The key names of a section in file order, repeats included, up to the
  // first empty name.
  void ReadSection(std::string_view section, TStringList& names) const;
  // The value of the first key of that name; the default when the key is
  // missing.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // "0x" followed by hexadecimal digits, or the general integer syntax; the
  // default when the key is missing or its value does not convert.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;

 private:
  struct TEntry {
    std::string key;
    std::string value;
    bool listed;  // comment lines are found by their name but never listed
  };
  struct TSection {
    std::string name;
    std::vector<TEntry> entries;
  };

  void Parse(std::string_view text);
  const TSection* FindSection(std::string_view section) const;

  std::string FFileName;
  std::vector<TSection> FSections;  // the first of equal names only, in file order
};
