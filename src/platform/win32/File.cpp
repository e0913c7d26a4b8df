#include "platform/File.h"

#include <windows.h>

#include "platform/CodePage.h"
#include "platform/win32/FileSupport.h"

// The platform's names for its own functions, which this layer also uses.
#undef DeleteFile

namespace platform {

// The path through the code page in force, which is the ANSI code page the A
// functions would use unless a test has put another in its place.
std::wstring Wide(const std::string& path) {
  const std::u16string wide = ToWide(path);
  return std::wstring(wide.begin(), wide.end());
}

int Failure() {
  const DWORD err = GetLastError();
  return err ? static_cast<int>(err) : ERROR_GEN_FAILURE;
}

namespace {

HANDLE ToHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

FileTime FromFileTime(const FILETIME& ft) {
  return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFileTime(FileTime t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

// Opens the entry a path names, following links, for its attributes only.
HANDLE OpenForAttributes(const std::string& path, DWORD access) {
  return CreateFileW(Wide(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

bool IsDelimiter(wchar_t c) { return c == L'\\' || c == L'/'; }

// Where the folders of a path begin: after "X:\", "\\server\share\" or
// "\\?\X:\", or after a leading delimiter.
std::size_t RootLength(const std::wstring& path) {
  if (path.size() >= 2 && IsDelimiter(path[0]) && IsDelimiter(path[1])) {
    const bool local = path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && IsDelimiter(path[3]);
    std::size_t pos = local ? 4 : 2;
    int parts = local ? 1 : 2;
    if (local && path.compare(4, 4, L"UNC\\") == 0) pos = 8, parts = 2;
    for (; pos < path.size() && parts > 0; ++pos)
      if (IsDelimiter(path[pos])) --parts;
    return pos;
  }
  if (path.size() >= 2 && path[1] == L':') return path.size() >= 3 && IsDelimiter(path[2]) ? 3 : 2;
  return !path.empty() && IsDelimiter(path[0]) ? 1 : 0;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int OpenHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition, std::intptr_t& handle) {
  HANDLE h = CreateFileW(Wide(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  handle = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

}  // namespace

int InfoOfHandle(HANDLE h, FileInfo& info) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(h, &data)) return Failure();
  info = FileInfo{};
  // Pipes and consoles have no such information; devices and folders are
  // not regular files either. (GetFileType would tell too, but Wine's
  // touches the file's last-access time.)
  info.isRegular = !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  info.isDirectory = !info.isRegular;
  info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info.creationTime = FromFileTime(data.ftCreationTime);
  info.lastAccessTime = FromFileTime(data.ftLastAccessTime);
  info.lastWriteTime = FromFileTime(data.ftLastWriteTime);
  info.lastWriteNanoseconds = (static_cast<std::int64_t>(info.lastWriteTime) -
                               static_cast<std::int64_t>(kFileTimeUnixEpochSeconds) * 10000000LL) *
                              100;
  info.volume = data.dwVolumeSerialNumber;
  info.fileId = (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  // The attributes stand in for the permission bits; there is no owner or
  // group id of this kind.
  info.permissions = data.dwFileAttributes;
  // Only a link opened itself has the mark; other reparse points (files of
  // a deduplicated or cloud volume) are the files they look like.
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool known = GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag);
    if (!known || tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
      info.isLink = true;
      info.isRegular = false;
      info.isDirectory = true;
    }
  }
  return 0;
}

int GetFileInfo(const std::string& path, FileInfo& info) {
  HANDLE h = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  const int result = InfoOfHandle(h, info);
  CloseHandle(h);
  return result;
}

bool FileExists(const std::string& path) {
  FileInfo info;
  return GetFileInfo(path, info) == 0 && info.isRegular;
}

bool DirectoryExists(const std::string& path) {
  FileInfo info;
  return GetFileInfo(path, info) == 0 && (info.permissions & FILE_ATTRIBUTE_DIRECTORY);
}

int GetEntryInfo(const std::string& path, FileInfo& info) {
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  const int result = InfoOfHandle(h, info);
  CloseHandle(h);
  return result;
}

int CreateDirectories(const std::string& path) {
  std::wstring wide = Wide(path);
  const std::size_t root = RootLength(wide);
  while (wide.size() > root && IsDelimiter(wide.back())) wide.pop_back();
  if (wide.size() <= root && root == 0) return ERROR_PATH_NOT_FOUND;
  if (IsFolder(wide)) return 0;
  for (std::size_t pos = root; pos <= wide.size(); ++pos) {
    if (pos != wide.size() && !IsDelimiter(wide[pos])) continue;
    if (pos == root) continue;
    const std::wstring part = wide.substr(0, pos);
    if (!CreateDirectoryW(part.c_str(), nullptr)) {
      const DWORD err = GetLastError();
      if (err != ERROR_ALREADY_EXISTS) return static_cast<int>(err);
    }
  }
  return IsFolder(wide) ? 0 : ERROR_ALREADY_EXISTS;
}

int DeleteFile(const std::string& path) { return DeletePath(Wide(path)); }

int DeletePath(const std::wstring& wide) {
  if (DeleteFileW(wide.c_str())) return 0;
  const int err = Failure();
  // As on POSIX, a file's own read-only mark does not keep it from being
  // deleted: a temporary file that took the mark from the file it was to
  // replace would otherwise stay behind.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (err != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      !SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    return err;
  if (DeleteFileW(wide.c_str())) return 0;
  const int again = Failure();
  SetFileAttributesW(wide.c_str(), attributes);
  return again;
}

int ReplacePath(const std::wstring& a, const std::wstring& b) {
  // A virus scanner or indexer holds a new file for a moment: the errors it
  // causes are retried a few times with a growing pause.
  constexpr int kTries = 5;
  for (int attempt = 1;; ++attempt) {
    // A rename over a file that is open fails even where the holders share
    // deleting; the system's own replace lets such holders keep the old file.
    const bool replaced =
        GetFileAttributesW(b.c_str()) == INVALID_FILE_ATTRIBUTES
            ? MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
            : ::ReplaceFileW(b.c_str(), a.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    if (replaced) return 0;
    const int err = Failure();
    // The system's replace removed the old file but could not move the new
    // one into its place: the name must not stay empty.
    if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT)
      return MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : Failure();
    const bool transient = err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED ||
                           err == ERROR_LOCK_VIOLATION || err == ERROR_UNABLE_TO_REMOVE_REPLACED;
    if (!transient || attempt == kTries) return err;
    Sleep(static_cast<DWORD>(50 * attempt));
  }
}

int SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* lastAccess,
                 const FileTime* lastWrite) {
  HANDLE h = OpenForAttributes(path, FILE_WRITE_ATTRIBUTES);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  const FILETIME c = ToFileTime(creation ? *creation : 0), a = ToFileTime(lastAccess ? *lastAccess : 0),
                 w = ToFileTime(lastWrite ? *lastWrite : 0);
  const bool ok = SetFileTime(h, creation ? &c : nullptr, lastAccess ? &a : nullptr, lastWrite ? &w : nullptr);
  const int result = ok ? 0 : Failure();
  CloseHandle(h);
  return result;
}

void File::Release() noexcept {
  if (FHandle != -1) CloseHandle(ToHandle(FHandle));
  FHandle = -1;
}

int File::OpenRead(const std::string& path, bool denyWriters) {
  Release();
  // Refusing writers is the share mode itself: a file another process holds
  // open for writing fails with a sharing violation, and no writer can open
  // it while it is open here.
  return OpenHandle(path, GENERIC_READ, denyWriters ? FILE_SHARE_READ : kShareAll, OPEN_EXISTING, FHandle);
}

int File::OpenReadWrite(const std::string& path) {
  Release();
  return OpenHandle(path, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING, FHandle);
}

int File::CreateExclusive(const std::string& path) {
  Release();
  // CREATE_NEW fails on any entry of that name, a link included.
  return OpenHandle(path, GENERIC_READ | GENERIC_WRITE, kShareAll, CREATE_NEW, FHandle);
}

int File::CreateAlways(const std::string& path) {
  Release();
  return OpenHandle(path, GENERIC_READ | GENERIC_WRITE, kShareAll, CREATE_ALWAYS, FHandle);
}

int File::Read(void* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  const DWORD ask = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
  DWORD n = 0;
  if (!ReadFile(ToHandle(FHandle), buffer, ask, &n, nullptr)) {
    const int err = Failure();
    return err == ERROR_HANDLE_EOF || err == ERROR_BROKEN_PIPE ? 0 : err;
  }
  got = n;
  return 0;
}

int File::Write(const void* data, std::size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const DWORD ask = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    DWORD n = 0;
    if (!WriteFile(ToHandle(FHandle), p, ask, &n, nullptr)) return Failure();
    if (n == 0) return ERROR_DISK_FULL;
    p += n;
    count -= n;
  }
  return 0;
}

int File::SeekToEnd() {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(ToHandle(FHandle), zero, nullptr, FILE_END) ? 0 : Failure();
}

int File::SeekTo(std::uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(ToHandle(FHandle), to, nullptr, FILE_BEGIN) ? 0 : Failure();
}

int File::GetInfo(FileInfo& info) const { return InfoOfHandle(ToHandle(FHandle), info); }

int File::Flush() { return FlushFileBuffers(ToHandle(FHandle)) ? 0 : Failure(); }

// Windows has no request to drop a cached handle's bytes; its cache manager
// lets go of a file read once by its own rules.
int File::DropCached(std::uint64_t, std::uint64_t) { return 0; }

int File::SetTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite) {
  const FILETIME c = ToFileTime(creation ? *creation : 0), a = ToFileTime(lastAccess ? *lastAccess : 0),
                 w = ToFileTime(lastWrite ? *lastWrite : 0);
  return SetFileTime(ToHandle(FHandle), creation ? &c : nullptr, lastAccess ? &a : nullptr, lastWrite ? &w : nullptr)
             ? 0
             : Failure();
}

int File::CopyAccessFrom(const FileInfo& source, bool& kept) {
  // The new file's access control list is inherited from the folder, as the
  // old file's was unless someone gave it one of its own, which is not
  // carried over. The attributes the user sets are (read-only, hidden,
  // system, archive, not indexed); read-only does not stop writing through
  // this handle.
  constexpr DWORD kCarried = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(ToHandle(FHandle), FileBasicInfo, &basic, sizeof basic)) return Failure();
  const DWORD attributes = (basic.FileAttributes & ~kCarried) | (source.permissions & kCarried);
  kept = true;
  if (attributes == basic.FileAttributes) return 0;
  FILE_BASIC_INFO change{};  // times of 0 stay as they are
  change.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  if (SetFileInformationByHandle(ToHandle(FHandle), FileBasicInfo, &change, sizeof change)) return 0;
  kept = false;
  return Failure();
}

int File::Append(const void* data, std::size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    const DWORD ask = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    // This offset means the end of the file at the moment of the write.
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD n = 0;
    if (!WriteFile(ToHandle(FHandle), p, ask, &n, &atEnd)) return Failure();
    if (n == 0) return ERROR_DISK_FULL;
    p += n;
    count -= n;
  }
  return 0;
}

int File::AllowOthers() {
  // A handle of its own to the same file, sharing everything; the one that
  // refused goes. Only ever asked of a file open for reading.
  HANDLE h = ReOpenFile(ToHandle(FHandle), GENERIC_READ, kShareAll, 0);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  Release();
  FHandle = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

// The share mode keeps writers out while the file is open for reading.
// The writers of a file are not known here; sharing modes refuse them instead.
bool File::OthersWriting() { return false; }

int File::Close() {
  if (FHandle == -1) return 0;
  HANDLE h = ToHandle(FHandle);
  FHandle = -1;
  return CloseHandle(h) ? 0 : Failure();
}

}  // namespace platform
