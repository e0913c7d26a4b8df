// The user's special folders and temporary folder, and how the file system
// compares names.
#pragma once

#include <string>

namespace platform {

// Special folder numbers as the shell knows them (the ones the system asks for
// by name; any other number is passed through as it is).
constexpr int kFolderPersonal = 5;
constexpr int kFolderFavorites = 6;
constexpr int kFolderDesktopDirectory = 16;
constexpr int kFolderCommonAppData = 35;
constexpr int kFolderProfile = 40;

// The file-system path of a special folder as a system path ('\' delimiters),
// possibly with a trailing '\'; empty when the platform has none for it.
std::string SpecialFolderPath(int folder);
// The user's temporary folder with a trailing '\'; empty when it cannot be
// obtained.
std::string TempPath();
// True when the file system takes names that differ only in case for the
// same name, so that a path may be lower-cased without naming another file.
bool FileNamesIgnoreCase();

}  // namespace platform
