#include "platform/File.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/Path.h"
#include "platform/posix/FileSupport.h"

namespace platform {

namespace {

// Another process opening a leased file for writing: give the lease up at
// once so that the writer is not held up.
void OnLeaseBreak(int, siginfo_t* info, void*) {
  if (info && info->si_fd >= 0) fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
}

}  // namespace

void InstallFileSignalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A write beyond the file size limit must fail with EFBIG, not end the process.
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_sigaction = OnLeaseBreak;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGIO, &action, nullptr);
  });
}

namespace {

timespec ToTimespec(const FileTime* t) {
  timespec ts{};
  if (!t) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  const std::int64_t hundreds =
      static_cast<std::int64_t>(*t) - static_cast<std::int64_t>(kFileTimeUnixEpochSeconds) * 10000000LL;
  std::int64_t sec = hundreds / 10000000LL;
  std::int64_t rest = hundreds % 10000000LL;
  if (rest < 0) {
    rest += 10000000LL;
    --sec;
  }
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

FileTime FromTimestamp(const statx_timestamp& ts) {
  const std::int64_t hundreds = static_cast<std::int64_t>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
  return static_cast<FileTime>(hundreds + static_cast<std::int64_t>(kFileTimeUnixEpochSeconds) * 10000000LL);
}

}  // namespace

void FillInfo(const struct statx& st, FileInfo& info) {
  info = FileInfo{};
  info.isRegular = S_ISREG(st.stx_mode);
  info.isLink = S_ISLNK(st.stx_mode);
  info.isDirectory = !info.isRegular;
  info.size = st.stx_size;
  info.creationTime = (st.stx_mask & STATX_BTIME) ? FromTimestamp(st.stx_btime) : 0;
  info.lastAccessTime = FromTimestamp(st.stx_atime);
  info.lastWriteTime = FromTimestamp(st.stx_mtime);
  info.lastWriteNanoseconds = static_cast<std::int64_t>(st.stx_mtime.tv_sec) * 1000000000LL + st.stx_mtime.tv_nsec;
  info.volume = (static_cast<std::uint64_t>(st.stx_dev_major) << 32) | st.stx_dev_minor;
  info.fileId = st.stx_ino;
  info.permissions = st.stx_mode & 07777;
  info.owner = st.stx_uid;
  info.group = st.stx_gid;
}

int InfoOfDescriptor(int fd, FileInfo& info) {
  struct statx st {};
  if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) return errno;
  FillInfo(st, info);
  return 0;
}

int RefuseWriters(int fd) {
  if (fcntl(fd, F_SETSIG, SIGIO) == 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0) return 0;
  // Open for writing elsewhere: refused, as a sharing violation would be.
  if (errno == EAGAIN) return EBUSY;
  // No right to a lease here (not the owner, or a file system without
  // leases): the file is read without the guard.
  return 0;
}

namespace {

int StatPath(const std::string& native, FileInfo& info, int fd = AT_FDCWD, int flags = 0) {
  struct statx st {};
  if (statx(fd, native.c_str(), flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) return errno;
  FillInfo(st, info);
  return 0;
}

int OpenNative(const std::string& path, int flags, mode_t mode, int& fd) {
  InstallFileSignalHandlers();
  do {
    fd = open(ToNativePath(path).c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? errno : 0;
}

}  // namespace

int GetFileInfo(const std::string& path, FileInfo& info) { return StatPath(ToNativePath(path), info); }

bool FileExists(const std::string& path) {
  FileInfo info;
  return GetFileInfo(path, info) == 0 && info.isRegular;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return stat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int GetEntryInfo(const std::string& path, FileInfo& info) {
  return StatPath(ToNativePath(path), info, AT_FDCWD, AT_SYMLINK_NOFOLLOW);
}

int CreateDirectories(const std::string& path) {
  std::string native = ToNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return ENOENT;
  struct stat st {};
  if (stat(native.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : EEXIST;
  for (std::size_t pos = 1; pos <= native.size(); ++pos) {
    if (pos != native.size() && native[pos] != '/') continue;
    std::string part = native.substr(0, pos);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  }
  return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int DeleteFile(const std::string& path) { return unlink(ToNativePath(path).c_str()) == 0 ? 0 : errno; }

int SetFileTimes(const std::string& path, const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) {
  // POSIX keeps no settable creation time; it is left as it is.
  timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
  return utimensat(AT_FDCWD, ToNativePath(path).c_str(), times, 0) == 0 ? 0 : errno;
}

void File::Release() noexcept {
  if (FHandle >= 0) close(FHandle);
  FHandle = -1;
}

int File::OpenRead(const std::string& path, bool denyWriters) {
  Release();
  int fd = -1;
  if (int err = OpenNative(path, O_RDONLY, 0, fd)) return err;
  FHandle = fd;
  if (!denyWriters) return 0;
  const int err = RefuseWriters(fd);
  if (err) Release();
  return err;
}

int File::OpenReadWrite(const std::string& path) {
  Release();
  int fd = -1;
  if (int err = OpenNative(path, O_RDWR, 0, fd)) return err;
  FHandle = fd;
  return 0;
}

int File::CreateExclusive(const std::string& path) {
  Release();
  int fd = -1;
  if (int err = OpenNative(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, fd)) return err;
  FHandle = fd;
  return 0;
}

int File::CreateAlways(const std::string& path) {
  Release();
  int fd = -1;
  if (int err = OpenNative(path, O_RDWR | O_CREAT | O_TRUNC, 0666, fd)) return err;
  FHandle = fd;
  return 0;
}

int File::Read(void* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  ssize_t n;
  do {
    n = read(FHandle, buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  got = static_cast<std::size_t>(n);
  return 0;
}

int File::DropCached(std::uint64_t offset, std::uint64_t count) {
  return posix_fadvise(FHandle, static_cast<off_t>(offset), static_cast<off_t>(count), POSIX_FADV_DONTNEED);
}

int File::Write(const void* data, std::size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = write(FHandle, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}

int File::SeekToEnd() { return lseek(FHandle, 0, SEEK_END) < 0 ? errno : 0; }

int File::SeekTo(std::uint64_t offset) { return lseek(FHandle, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0; }

int File::GetInfo(FileInfo& info) const { return InfoOfDescriptor(static_cast<int>(FHandle), info); }

int File::Flush() { return fsync(FHandle) == 0 ? 0 : errno; }

int File::SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) {
  timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
  return futimens(FHandle, times) == 0 ? 0 : errno;
}

int File::CopyAccessFrom(const FileInfo& source, bool& kept) {
  kept = false;
  const int fd = static_cast<int>(FHandle);
  FileInfo now;
  if (int err = InfoOfDescriptor(fd, now)) return err;
  // Without the right to give the file away (or on a share that maps the
  // owner to another), the file keeps its own owner: it is not the old one.
  if ((now.owner != source.owner || now.group != source.group) && fchown(fd, source.owner, source.group) != 0)
    return errno == EPERM ? 0 : errno;
  if (fchmod(fd, source.permissions) != 0) return errno;
  // The system may drop bits on its own (the set-group bit for a group the
  // process is not in): what counts is what the file has now.
  if (int err = InfoOfDescriptor(fd, now)) return err;
  kept = now.owner == source.owner && now.group == source.group && now.permissions == source.permissions;
  return 0;
}

int File::Append(const void* data, std::size_t count) {
  const int fd = static_cast<int>(FHandle);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return errno;
  if (!(flags & O_APPEND) && fcntl(fd, F_SETFL, flags | O_APPEND) != 0) return errno;
  return Write(data, count);
}

// A read lease refuses no one: a writer breaks it, and it is given up at once.
int File::AllowOthers() { return 0; }

bool File::OthersWriting() {
  if (FHandle < 0) return false;
  // A lease still held means nobody has opened the file for writing since
  // it was granted, and it was granted only while nobody had.
  const int fd = static_cast<int>(FHandle);
  if (fcntl(fd, F_GETLEASE) == F_RDLCK) return false;
  if (fcntl(fd, F_SETSIG, SIGIO) == 0 && fcntl(fd, F_SETLEASE, F_RDLCK) == 0) return false;
  return errno == EAGAIN;
}

int File::Close() {
  if (FHandle < 0) return 0;
  int fd = FHandle;
  FHandle = -1;
  return close(fd) == 0 ? 0 : errno;
}

}  // namespace platform
