#include "platform/Registry.h"

#include <windows.h>

// The system's registry, read through the ANSI calls, so names and texts come
// in the system code page. The 32-bit view is read: the server and its tools
// are 32-bit programs, whose keys a 64-bit Windows keeps apart from the
// 64-bit programs' ones.

namespace platform {

namespace {

constexpr REGSAM kAccess = KEY_READ | KEY_WOW64_32KEY;

std::string KeyPath(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return std::string(path);
}

// Text data without its final terminator (a multi-string keeps the ones
// between its strings).
std::string Text(const std::vector<std::uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  if (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

RegistryValue MakeValue(DWORD type, std::vector<std::uint8_t> bytes) {
  RegistryValue value;
  switch (type) {
    case REG_SZ:
      value.type = RegistryType::kString;
      value.text = Text(bytes);
      break;
    case REG_EXPAND_SZ:
      value.type = RegistryType::kExpandString;
      value.text = Text(bytes);
      break;
    case REG_MULTI_SZ:
      value.type = RegistryType::kMultiString;
      value.text = Text(bytes);
      break;
    case REG_DWORD:
      if (bytes.size() == 4) {
        value.type = RegistryType::kDWord;
        value.number = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
        break;
      }
      value.type = RegistryType::kOther;  // a number of another size is no number
      break;
    case REG_BINARY:
      value.type = RegistryType::kBinary;
      break;
    default:
      value.type = RegistryType::kOther;
  }
  value.bytes = std::move(bytes);
  return value;
}

}  // namespace

std::string RegistrySource() { return {}; }

// The values are read once, on opening, as the file-based registry does: a
// key's values then stay the same for the reader however long it keeps it.
bool RegistryKey::Open(std::string_view keyPath) {
  Close();
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath(keyPath).c_str(), 0, kAccess, &key) != ERROR_SUCCESS) return false;
  DWORD nameSize = 0, dataSize = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameSize, &dataSize,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    RegCloseKey(key);
    return false;
  }
  std::string name(nameSize + 1, '\0');
  std::vector<std::uint8_t> data(dataSize + 1);
  for (DWORD index = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG r = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_MORE_DATA) {
      // The value grew since the key was asked for its sizes.
      name.resize(name.size() * 2);
      data.resize(dataLength > data.size() ? dataLength : data.size() * 2);
      continue;
    }
    if (r != ERROR_SUCCESS) break;
    FValues.push_back({name.substr(0, nameLength),
                       MakeValue(type, std::vector<std::uint8_t>(data.begin(), data.begin() + dataLength))});
    ++index;
  }
  RegCloseKey(key);
  FOpen = true;
  return true;
}

}  // namespace platform
