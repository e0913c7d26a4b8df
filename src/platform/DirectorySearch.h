// Wide-character directory search with '*' and '?' wildcards in the last
// component, matched without regard to ASCII case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/FileTime.h"

namespace platform {

struct DirectoryEntry {
  std::u16string name;
  // Only regular files (and links to them) count as files: folders, FIFOs,
  // sockets and devices are reported as folders, since reading one would hang.
  bool isDirectory = false;
  std::uint64_t size = 0;
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
};

class DirectorySearch {
 public:
  DirectorySearch();
  ~DirectorySearch();
  DirectorySearch(const DirectorySearch&) = delete;
  DirectorySearch& operator=(const DirectorySearch&) = delete;

  // Starts a search over "folder\pattern"; false when the folder cannot be
  // searched. A last component without wildcards names one entry exactly.
  bool Open(std::u16string_view pattern);
  // The next matching entry, "." and ".." included as the platform reports them.
  bool Next(DirectoryEntry& entry);
  // The error that ended the search before its last entry (a failing
  // disk, for example); 0 when it ended because every entry was returned.
  int Error() const;
  void Close();

 private:
  struct State;
  std::unique_ptr<State> FState;
};

// Wildcard match of a name against a pattern, ASCII letters without regard to case.
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern);

}  // namespace platform
