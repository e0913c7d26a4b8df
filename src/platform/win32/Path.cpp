#include "platform/Path.h"

#include "platform/CodePage.h"

namespace platform {

// System paths are the platform's own paths.
std::string ToNativePath(std::string_view systemPath) { return std::string(systemPath); }
std::string FromNativePath(std::string_view nativePath) { return std::string(nativePath); }

std::string ShownPath(std::string_view systemPath) { return std::string(systemPath); }

std::string ShownPath(std::string_view systemFolder, std::string_view name) {
  std::string path(systemFolder);
  // Tested on characters: a double-byte character may end in the byte of '\'.
  const std::u16string wide = ToWide(systemFolder);
  if (!wide.empty() && wide.back() != u'\\' && wide.back() != u'/' && wide.back() != u':') path += '\\';
  return path.append(name);
}

}  // namespace platform
