// The user's special folders, read once at start and addressed by a fixed
// index, and the list of the machine's user profile folders.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Object.h"
#include "base/StringList.h"

class TWindowsFolderList : public TObject {
 public:
  static constexpr int kFolderCount = 53;
  // Indexes the system asks for.
  static constexpr int kPersonal = 5;
  static constexpr int kFavorites = 6;
  static constexpr int kDesktopDirectory = 12;
  static constexpr int kCommonAppData = 33;
  static constexpr int kProfile = 38;
  static constexpr int kTemp = 51;
  static constexpr int kProfiles = 52;

  TWindowsFolderList();

  // The entry at the index, without a trailing '\'; empty for a folder without
  // a file-system path and for an index out of range.
  std::string GetFolder(int index) const;
  // Adds the path of every sub-folder of the profiles folder to the target,
  // which is not cleared. The profiles folder part of each path is lower-case
  // where the file system ignores case; the names are lower-cased on request.
  void ListProfileFolders(THashedStringList& target, bool lowerCase) const;

  TStringList Folders;
};

// The shared list: built by InitializeWindowsFolders at program start (before
// the installation paths are computed), freed by FinalizeWindowsFolders.
extern std::unique_ptr<TWindowsFolderList> WindowsFolders;
void InitializeWindowsFolders();
void FinalizeWindowsFolders();

// The folder part of a path without its trailing '\', on characters: the
// text before the last '\' or up to a drive's ':', keeping the '\' of a root
// ("C:\Users\a" gives "C:\Users", "C:\a" gives "C:\", "\a" gives "\").
std::string ExtractFileDir(std::string_view path);
