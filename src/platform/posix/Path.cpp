#include "platform/Path.h"

#include "platform/CodePage.h"
#include "platform/posix/CodePageTables.h"

namespace platform {

namespace {

std::string ToUtf8(std::string_view systemText) {
  if (SystemCodePage() == kCodePageUtf8) return std::string(systemText);
  return WideToUtf8(ToWide(systemText));
}

std::string FromUtf8(std::string_view utf8) {
  if (SystemCodePage() == kCodePageUtf8) return std::string(utf8);
  return FromWide(Utf8ToWide(utf8));
}

}  // namespace

std::string MapToNative(std::string path) {
  if (path.size() >= 2 && path[1] == ':' && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    path.erase(0, 2);
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::string ToNativePath(std::string_view systemPath) { return MapToNative(ToUtf8(systemPath)); }

std::string FromNativePath(std::string_view nativePath) {
  std::string path = FromUtf8(nativePath);
  // In UTF-8 no byte of a multi-byte character is '/'; in Shift-JIS a second
  // byte can be 0x2F only outside the trail range, so a byte scan is safe.
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ShownPath(std::string_view systemPath) { return FromUtf8(ToNativePath(systemPath)); }

std::string ShownPath(std::string_view systemFolder, std::string_view name) {
  std::string path = ShownPath(systemFolder);
  // No byte of a multi-byte character is '/' in UTF-8 or in Shift-JIS.
  if (!path.empty() && path.back() != '/') path += '/';
  return path.append(name);
}

}  // namespace platform
