#include "common/RsWindowsFolder.h"

#include "platform/CodePage.h"
#include "platform/DirectorySearch.h"
#include "platform/File.h"
#include "platform/Locale.h"
#include "platform/SpecialFolder.h"

std::unique_ptr<TWindowsFolderList> WindowsFolders;

namespace {

// The shell's folder numbers of entries 0 to 50, in index order.
constexpr int kShellFolders[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 16, 17, 18, 19, 20,
                                 21, 22, 23, 24, 25, 26, 27, 29, 30, 31, 32, 33, 34, 13, 14, 28, 35,
                                 36, 37, 38, 39, 40, 41, 42, 43, 45, 46, 47, 48, 53, 54, 55, 56, 59};
static_assert(sizeof kShellFolders / sizeof kShellFolders[0] == 51);

// One trailing '\' removed, on characters. A lone '\' (the root of a system
// without drive letters) is kept, so that it does not read as "no folder".
std::string WithoutTrailingDelimiter(const std::string& path) {
  std::u16string w = platform::ToWide(path);
  if (w.size() < 2 || w.back() != u'\\') return path;
  w.pop_back();
  return platform::FromWide(w);
}

std::string WithTrailingDelimiter(const std::string& path) {
  std::u16string w = platform::ToWide(path);
  if (!w.empty() && w.back() == u'\\') return path;
  return path + '\\';
}

}  // namespace

std::string ExtractFileDir(std::string_view path) {
  const std::u16string w = platform::ToWide(path);
  const std::size_t last = w.find_last_of(u"\\:");
  if (last == std::u16string::npos) return {};
  std::size_t length = last + 1;
  if (last > 0 && w[last] == u'\\' && w[last - 1] != u'\\' && w[last - 1] != u':') length = last;
  return platform::FromWide(w.substr(0, length));
}

TWindowsFolderList::TWindowsFolderList() {
  for (int folder : kShellFolders) Folders.Add(WithoutTrailingDelimiter(platform::SpecialFolderPath(folder)));
  Folders.Add(WithoutTrailingDelimiter(platform::TempPath()));
  const std::string& profile = Folders[kProfile];
  Folders.Add(profile.empty() ? std::string() : ExtractFileDir(profile));
}

std::string TWindowsFolderList::GetFolder(int index) const {
  if (index < 0 || index >= Folders.Count()) return {};
  return Folders[index];
}

void TWindowsFolderList::ListProfileFolders(THashedStringList& target, bool lowerCase) const {
  std::string root = ExtractFileDir(WithoutTrailingDelimiter(GetFolder(kProfile)));
  // Lower-casing a path on a file system that tells case apart would name
  // another folder, so the root keeps its case there.
  if (platform::FileNamesIgnoreCase()) root = platform::LowerCase(root);
  root = WithTrailingDelimiter(root);
  platform::DirectorySearch search;
  if (!search.Open(platform::ToWide(root + "*.*"))) return;
  platform::DirectoryEntry entry;
  while (search.Next(entry)) {
    if (entry.name == u"." || entry.name == u".." || !entry.isDirectory) continue;
    const std::string path = root + platform::FromWide(entry.name);
    // The search reports FIFOs, sockets and devices like folders.
    if (!platform::DirectoryExists(path)) continue;
    target.Add(lowerCase ? platform::LowerCase(path) : path);
  }
}

void InitializeWindowsFolders() { WindowsFolders = std::make_unique<TWindowsFolderList>(); }

void FinalizeWindowsFolders() { WindowsFolders.reset(); }
