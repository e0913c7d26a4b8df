#include "platform/DirectorySearch.h"

#include <windows.h>

namespace platform {

namespace {

bool HasWildcard(std::u16string_view s) { return s.find_first_of(u"*?") != std::u16string_view::npos; }

FileTime FromFileTime(const FILETIME& ft) {
  return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// What a link leads to, when that is a regular file.
bool LinkedFile(const std::u16string& path, BY_HANDLE_FILE_INFORMATION& target) {
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // Only files on a disk have this information.
  const bool regular = GetFileInformationByHandle(h, &target) &&
                       !(target.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  CloseHandle(h);
  return regular;
}

}  // namespace

struct DirectorySearch::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::u16string folder;  // with its trailing delimiter, or empty
  std::u16string pattern;
  WIN32_FIND_DATAW first{};  // the entry FindFirstFileW found, not yet returned
  bool haveFirst = false;
  int error = 0;
};

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() { Close(); }

bool DirectorySearch::Open(std::u16string_view pattern) {
  Close();
  auto state = std::make_unique<State>();
  const std::size_t cut = pattern.find_last_of(u"\\/");
  state->folder = cut == std::u16string_view::npos ? u"" : std::u16string(pattern.substr(0, cut + 1));
  state->pattern = std::u16string(pattern.substr(cut == std::u16string_view::npos ? 0 : cut + 1));
  if (state->pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  const std::u16string full(pattern);
  state->handle = FindFirstFileW(reinterpret_cast<const wchar_t*>(full.c_str()), &state->first);
  if (state->handle == INVALID_HANDLE_VALUE) {
    // A folder without a matching entry is an empty search, not a failure;
    // a missing folder or a single name that is not there is.
    if (GetLastError() != ERROR_FILE_NOT_FOUND || !HasWildcard(state->pattern)) return false;
  } else {
    state->haveFirst = true;
  }
  FState = std::move(state);
  return true;
}

bool DirectorySearch::Next(DirectoryEntry& entry) {
  if (!FState || FState->handle == INVALID_HANDLE_VALUE) return false;
  const bool wildcard = HasWildcard(FState->pattern);
  for (;;) {
    WIN32_FIND_DATAW data;
    if (FState->haveFirst) {
      data = FState->first;
      FState->haveFirst = false;
    } else if (!FindNextFileW(FState->handle, &data)) {
      const DWORD err = GetLastError();
      FState->error = err == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(err);
      return false;
    }
    std::u16string name(reinterpret_cast<const char16_t*>(data.cFileName));
    // The platform matches wildcards against the short 8.3 names as well
    // ("a.logx" is "A~1.LOG"): only the name itself counts here.
    if (wildcard && !MatchesPattern(name, FState->pattern)) continue;
    entry = DirectoryEntry{};
    entry.name = std::move(name);
    const DWORD attributes = data.dwFileAttributes;
    entry.isDirectory = (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0;
    entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entry.creationTime = FromFileTime(data.ftCreationTime);
    entry.lastAccessTime = FromFileTime(data.ftLastAccessTime);
    entry.lastWriteTime = FromFileTime(data.ftLastWriteTime);
    if (!entry.isDirectory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // A link counts as what it names: a file when it leads to a regular
      // file, else (dangling, or a device) like a folder.
      BY_HANDLE_FILE_INFORMATION target;
      if (!LinkedFile(FState->folder + entry.name, target)) {
        entry.isDirectory = true;
      } else {
        entry.size = (static_cast<std::uint64_t>(target.nFileSizeHigh) << 32) | target.nFileSizeLow;
        entry.creationTime = FromFileTime(target.ftCreationTime);
        entry.lastAccessTime = FromFileTime(target.ftLastAccessTime);
        entry.lastWriteTime = FromFileTime(target.ftLastWriteTime);
      }
    }
    return true;
  }
}

int DirectorySearch::Error() const { return FState ? FState->error : 0; }

void DirectorySearch::Close() {
  if (FState && FState->handle != INVALID_HANDLE_VALUE) FindClose(FState->handle);
  FState.reset();
}

}  // namespace platform
