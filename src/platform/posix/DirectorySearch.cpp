#include "platform/DirectorySearch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/CodePageTables.h"

namespace platform {

namespace {

bool HasWildcard(std::u16string_view s) { return s.find_first_of(u"*?") != std::u16string_view::npos; }

FileTime ToFileTime(const statx_timestamp& ts) {
  return static_cast<FileTime>(
      (static_cast<std::int64_t>(ts.tv_sec) + static_cast<std::int64_t>(kFileTimeUnixEpochSeconds)) * 10000000LL +
      ts.tv_nsec / 100);
}

}  // namespace

struct DirectorySearch::State {
  std::string folder;  // native, with a trailing '/'
  std::u16string pattern;
  DIR* dir = nullptr;
  bool single = false;
  bool singleDone = false;
  int error = 0;
};

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() { Close(); }

bool DirectorySearch::Open(std::u16string_view pattern) {
  Close();
  auto state = std::make_unique<State>();
  std::size_t cut = pattern.find_last_of(u"\\/");
  std::u16string folder = cut == std::u16string_view::npos ? u"" : std::u16string(pattern.substr(0, cut + 1));
  state->pattern = std::u16string(pattern.substr(cut == std::u16string_view::npos ? 0 : cut + 1));
  state->folder = MapToNative(WideToUtf8(folder));
  if (state->folder.empty()) state->folder = "./";
  if (!HasWildcard(state->pattern)) {
    struct stat st {};
    if (state->pattern.empty() || stat((state->folder + WideToUtf8(state->pattern)).c_str(), &st) != 0) return false;
    state->single = true;
  } else {
    state->dir = opendir(state->folder.c_str());
    if (!state->dir) return false;
  }
  FState = std::move(state);
  return true;
}

bool DirectorySearch::Next(DirectoryEntry& entry) {
  if (!FState) return false;
  std::string nativeName;
  if (FState->single) {
    if (FState->singleDone) return false;
    FState->singleDone = true;
    nativeName = WideToUtf8(FState->pattern);
  } else {
    for (;;) {
      errno = 0;
      dirent* d = readdir(FState->dir);
      if (!d) {
        FState->error = errno;
        return false;
      }
      std::u16string wide = Utf8ToWide(d->d_name);
      if (MatchesPattern(wide, FState->pattern)) {
        nativeName = d->d_name;
        break;
      }
    }
  }
  entry = DirectoryEntry{};
  entry.name = Utf8ToWide(nativeName);
  struct statx st {};
  // Links are followed: a link to a regular file is a file; a dangling link
  // cannot be read and is reported like a folder.
  if (statx(AT_FDCWD, (FState->folder + nativeName).c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME,
            &st) != 0) {
    entry.isDirectory = true;
    return true;
  }
  entry.isDirectory = !S_ISREG(st.stx_mode);
  entry.size = st.stx_size;
  entry.creationTime = (st.stx_mask & STATX_BTIME) ? ToFileTime(st.stx_btime) : 0;
  entry.lastAccessTime = ToFileTime(st.stx_atime);
  entry.lastWriteTime = ToFileTime(st.stx_mtime);
  return true;
}

int DirectorySearch::Error() const { return FState ? FState->error : 0; }

void DirectorySearch::Close() {
  if (FState && FState->dir) closedir(FState->dir);
  FState.reset();
}

}  // namespace platform
