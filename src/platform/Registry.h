// The registry, read only, HKEY_LOCAL_MACHINE. Key paths are relative to that
// root ("\SOFTWARE\Vendor\Product" or without the leading '\'); key paths and
// value names compare without regard to case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryType { kString, kExpandString, kDWord, kBinary, kMultiString, kOther };

struct RegistryValue {
  RegistryType type = RegistryType::kString;
  std::string text;                 // kString, kExpandString: system code page; kMultiString: NUL-separated
  std::uint32_t number = 0;         // kDWord
  std::vector<std::uint8_t> bytes;  // kBinary and kOther: the raw data
};

class RegistryKey {
 public:
  // False when the key does not exist (or the registry cannot be read).
  bool Open(std::string_view keyPath);
  bool IsOpen() const { return FOpen; }
  void Close();
  // False when the key is not open or has no value of that name; "" or "@"
  // names the default value.
  bool ReadValue(std::string_view name, RegistryValue& value) const;

 private:
  struct Entry {
    std::string name;
    RegistryValue value;
  };
  bool FOpen = false;
  std::vector<Entry> FValues;
};

// Where the registry comes from on platforms that keep it in a file; empty
// where it is the system's own.
std::string RegistrySource();

}  // namespace platform
