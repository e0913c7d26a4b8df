#include "platform/Folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/CodePage.h"
#include "platform/DirectorySearch.h"
#include "platform/Path.h"
#include "platform/posix/CodePageTables.h"
#include "platform/posix/FileSupport.h"

namespace platform {

namespace {

constexpr unsigned kStatMask = STATX_BASIC_STATS | STATX_BTIME;

// The native (UTF-8) form of a single entry name; EINVAL for a name that is
// no entry of the folder itself or that the system form does not hold.
int NativeName(const std::string& name, std::string& native) {
  const std::u16string wide = ToWide(name);
  if (wide.empty() || wide == u"." || wide == u".." || wide.find_first_of(u"/\\\uFFFD") != std::u16string::npos ||
      wide.find(u'\0') != std::u16string::npos)
    return EINVAL;
  native = SystemCodePage() == kCodePageUtf8 ? name : WideToUtf8(wide);
  return 0;
}

std::string SystemName(const std::string& native, bool& exact) {
  const std::u16string wide = Utf8ToWide(native);
  std::string name = FromWide(wide);
  std::string back;
  exact = NativeName(name, back) == 0 && back == native;
  return name;
}

int Examine(int folder, const std::string& native, FileInfo& info) {
  struct statx st {};
  if (statx(folder, native.c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kStatMask, &st) != 0) return errno;
  FillInfo(st, info);
  return 0;
}

bool SameFile(const FileInfo& a, const FileInfo& b) { return a.volume == b.volume && a.fileId == b.fileId; }

}  // namespace

struct Folder::State {
  int fd = -1;
  std::string path;  // as it was given
  ~State() {
    if (fd >= 0) close(fd);
  }
};

Folder::Folder() = default;
Folder::~Folder() = default;

int Folder::Open(const std::string& path) {
  FState.reset();
  const std::string native = ToNativePath(path);
  int fd;
  do {
    fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  FState = std::make_unique<State>();
  FState->fd = fd;
  FState->path = path;
  return 0;
}

std::string Folder::Path() const { return ShownPath(FState->path); }

std::string Folder::PathOf(const std::string& name) const { return ShownPath(FState->path, name); }

int Folder::Lock(bool& busy) {
  busy = false;
  // A lock of the open folder itself: every process that opens this folder
  // meets it, whatever path it took, and it ends with the descriptor, also
  // when the process is killed.
  int result;
  do {
    result = flock(FState->fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return 0;
  if (errno != EWOULDBLOCK) return errno;
  busy = true;
  return 0;
}

int Folder::List(std::u16string_view pattern, std::vector<FolderEntry>& entries) const {
  entries.clear();
  // A descriptor of its own for the listing, read from the folder's start.
  const int fd = fcntl(FState->fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return errno;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    const int err = errno;
    close(fd);
    return err;
  }
  rewinddir(dir);
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* d = readdir(dir);
    if (!d) {
      error = errno;
      break;
    }
    const std::string native = d->d_name;
    if (native == "." || native == ".." || !MatchesPattern(Utf8ToWide(native), pattern)) continue;
    FolderEntry entry;
    entry.name = SystemName(native, entry.exact);
    entry.error = Examine(FState->fd, native, entry.info);
    if (entry.error == ENOENT) continue;
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return error;
}

int Folder::OpenRead(const std::string& name, bool denyWriters, File& file, FileInfo& info) const {
  file.Release();
  info = FileInfo{};
  std::string native;
  if (int err = NativeName(name, native)) return err;
  InstallFileSignalHandlers();
  // First the entry itself, without opening what it is: a link, a FIFO or
  // a device is examined, never followed, waited on or woken.
  const int entry = openat(FState->fd, native.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (entry < 0) return errno;
  if (int err = InfoOfDescriptor(entry, info)) {
    close(entry);
    return err;
  }
  if (!info.isRegular) {
    close(entry);
    return 0;
  }
  // Then that very file for reading, through the descriptor (whatever the
  // name holds by now); without /proc, the name again, checked to be it.
  const std::string self = "/proc/self/fd/" + std::to_string(entry);
  int fd;
  do {
    fd = open(self.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENOENT) {
    do {
      fd = openat(FState->fd, native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
  }
  const int err = fd < 0 ? errno : 0;
  close(entry);
  if (err) return err;
  file.FHandle = fd;
  const FileInfo examined = info;
  if (int failed = InfoOfDescriptor(fd, info)) {
    file.Release();
    return failed;
  }
  if (!info.isRegular || !SameFile(info, examined)) {
    file.Release();
    return 0;
  }
  if (!denyWriters) return 0;
  if (int refused = RefuseWriters(fd)) {
    file.Release();
    return refused;
  }
  // What was read from now on is measured after the guard is up.
  if (int failed = InfoOfDescriptor(fd, info)) {
    file.Release();
    return failed;
  }
  return 0;
}

int Folder::CreateExclusive(const std::string& name, File& file) const {
  file.Release();
  std::string native;
  if (int err = NativeName(name, native)) return err;
  InstallFileSignalHandlers();
  int fd;
  do {
    fd = openat(FState->fd, native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  file.FHandle = fd;
  return 0;
}

int Folder::Remove(const std::string& name, const FileInfo* expected) const {
  std::string native;
  if (int err = NativeName(name, native)) return err;
  if (expected) {
    FileInfo now;
    if (int err = Examine(FState->fd, native, now)) return err == ENOENT ? 0 : err;
    if (!SameFile(now, *expected)) return 0;
  }
  if (unlinkat(FState->fd, native.c_str(), 0) == 0 || errno == ENOENT) return 0;
  return errno;
}

int Folder::Replace(const std::string& from, File&, const std::string& to, const FileInfo& expected, bool& same) const {
  same = false;
  std::string nativeFrom, nativeTo;
  if (int err = NativeName(from, nativeFrom)) return err;
  if (int err = NativeName(to, nativeTo)) return err;
  const int fd = FState->fd;
  // The two names exchange their files in one step, then the file that came
  // out is looked at: a file that took the name since it was read (a
  // rotation at the last moment) goes back, and nothing is lost.
  if (renameat2(fd, nativeFrom.c_str(), fd, nativeTo.c_str(), RENAME_EXCHANGE) == 0) {
    FileInfo out;
    const int err = Examine(fd, nativeFrom, out);
    if (err == 0 && SameFile(out, expected)) {
      same = true;
      return 0;
    }
    if (renameat2(fd, nativeFrom.c_str(), fd, nativeTo.c_str(), RENAME_EXCHANGE) != 0) return errno;
    return err;
  }
  if (errno == ENOENT) return 0;  // the name holds nothing any more
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system that cannot exchange: the name is checked right before
  // the rename instead.
  FileInfo now;
  if (int err = Examine(fd, nativeTo, now)) return err == ENOENT ? 0 : err;
  if (!SameFile(now, expected)) return 0;
  if (renameat(fd, nativeFrom.c_str(), fd, nativeTo.c_str()) != 0) return errno;
  same = true;
  return 0;
}

int Folder::RenameNew(const std::string& from, const std::string& to) const {
  std::string nativeFrom, nativeTo;
  if (int err = NativeName(from, nativeFrom)) return err;
  if (int err = NativeName(to, nativeTo)) return err;
  const int fd = FState->fd;
  if (renameat2(fd, nativeFrom.c_str(), fd, nativeTo.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system that cannot refuse a rename over a name: a second name,
  // which is refused where one exists, then the first name goes.
  if (linkat(fd, nativeFrom.c_str(), fd, nativeTo.c_str(), 0) != 0) return errno;
  return unlinkat(fd, nativeFrom.c_str(), 0) == 0 ? 0 : errno;
}

int Folder::RenameOver(const std::string& from, const std::string& to) const {
  std::string nativeFrom, nativeTo;
  if (int err = NativeName(from, nativeFrom)) return err;
  if (int err = NativeName(to, nativeTo)) return err;
  return renameat(FState->fd, nativeFrom.c_str(), FState->fd, nativeTo.c_str()) == 0 ? 0 : errno;
}

int Folder::Flush() const { return fsync(FState->fd) == 0 ? 0 : errno; }

}  // namespace platform
