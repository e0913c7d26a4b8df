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

// The full path of the file the link names, following every link; empty when
// it cannot be resolved.
std::string ResolveLinks(std::string_view systemPath);

}  // namespace platform
