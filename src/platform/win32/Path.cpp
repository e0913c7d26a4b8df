#include "platform/Path.h"

#include <windows.h>

#include <vector>

#include "platform/CodePage.h"

namespace platform {

// System paths are the platform's own paths.
std::string ToNativePath(std::string_view systemPath) { return std::string(systemPath); }
std::string FromNativePath(std::string_view nativePath) { return std::string(nativePath); }

std::string ResolveLinks(std::string_view systemPath) {
  const std::u16string wide = ToWide(systemPath);
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  }
  CloseHandle(h);
  if (n == 0 || n >= buffer.size()) return {};
  std::u16string path(reinterpret_cast<const char16_t*>(buffer.data()), n);
  // The final path comes in the long form: "\\?\C:\x" or "\\?\UNC\server\share\x".
  if (path.rfind(u"\\\\?\\UNC\\", 0) == 0)
    path = u"\\\\" + path.substr(8);
  else if (path.rfind(u"\\\\?\\", 0) == 0)
    path.erase(0, 4);
  return FromWide(path);
}

}  // namespace platform
