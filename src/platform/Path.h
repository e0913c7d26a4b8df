// The system keeps Windows-style paths ("C:\dir\file", '\' delimiters). The
// POSIX layer maps them at this boundary: every '\' becomes '/', and a
// leading drive letter with its colon is dropped ("C:\x" is "/x").
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToNativePath(std::string_view systemPath);
// A path reported by the operating system, with '\' delimiters.
std::string FromNativePath(std::string_view nativePath);

// A system path as the platform's users write it, for messages: POSIX the
// native path ('/' delimiters, no drive), Windows the path itself.
std::string ShownPath(std::string_view systemPath);
// A name in a folder (both in the system code page), shown the same way.
std::string ShownPath(std::string_view systemFolder, std::string_view name);

}  // namespace platform
