#include "platform/Folder.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DirectorySearch.h"
#include "platform/Error.h"
#include "platform/Path.h"
#include "platform/win32/FileSupport.h"

namespace platform {

namespace {

// Characters no single entry name of a folder holds: a delimiter, a drive or
// stream separator, and what a failed conversion leaves.
constexpr char16_t kNotInAName[] = u"\\/:\uFFFD";

// The wide form of a single entry name; ERROR_INVALID_NAME for a name that is
// no entry of the folder itself or that the system form does not hold.
int WideName(const std::string& name, std::wstring& wide) {
  const std::u16string w = ToWide(name);
  if (w.empty() || w == u"." || w == u".." || w.find_first_of(kNotInAName) != std::u16string::npos ||
      w.find(u'\0') != std::u16string::npos)
    return ERROR_INVALID_NAME;
  wide.assign(w.begin(), w.end());
  return 0;
}

std::string SystemName(const std::u16string& wide, bool& exact) {
  std::string name = FromWide(wide);
  exact = wide.find_first_of(kNotInAName) == std::u16string::npos && ToWide(name) == wide;
  return name;
}

bool SameFile(const FileInfo& a, const FileInfo& b) { return a.volume == b.volume && a.fileId == b.fileId; }

FileTime FromLarge(const LARGE_INTEGER& t) { return static_cast<FileTime>(t.QuadPart); }

// The entry a path names itself, a link not followed.
int ExamineEntry(const std::wstring& path, FileInfo& info) {
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  const int result = InfoOfHandle(h, info);
  CloseHandle(h);
  return result;
}

std::wstring Hex(std::uint64_t value, int digits) {
  std::wstring text(static_cast<std::size_t>(digits), L'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = L"0123456789abcdef"[value & 15];
  return text;
}

// The folders this process holds: a mutex belongs to a thread, which could
// take it twice.
std::mutex gHeldGuard;
std::set<std::wstring>& Held() {
  static std::set<std::wstring> held;
  return held;
}

}  // namespace

struct Folder::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string path;   // as it was given
  std::wstring base;  // where the folder is now, with a trailing '\'
  std::uint64_t volume = 0, id = 0;
  HANDLE mutex = nullptr;
  std::wstring mutexName;
  ~State() {
    if (mutex) {
      ReleaseMutex(mutex);
      CloseHandle(mutex);
      std::lock_guard<std::mutex> guard(gHeldGuard);
      Held().erase(mutexName);
    }
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

Folder::Folder() = default;
Folder::~Folder() = default;

int Folder::Open(const std::string& path) {
  FState.reset();
  auto state = std::make_unique<State>();
  state->path = path;
  // Not shared for deleting: while it is open, the folder can be neither
  // renamed nor removed, nor can a link take its place.
  state->handle =
      CreateFileW(Wide(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (state->handle == INVALID_HANDLE_VALUE) return Failure();
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(state->handle, &data)) return Failure();
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
  state->volume = data.dwVolumeSerialNumber;
  state->id = (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  // Its entries are reached through the path the system gives the handle,
  // which is the folder's wherever it was reached from.
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n = GetFinalPathNameByHandleW(state->handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetFinalPathNameByHandleW(state->handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (n == 0 || n >= buffer.size()) return Failure();
  state->base.assign(buffer.data(), n);
  if (state->base.back() != L'\\') state->base += L'\\';
  FState = std::move(state);
  return 0;
}

std::string Folder::Path() const { return ShownPath(FState->path); }

std::string Folder::PathOf(const std::string& name) const { return ShownPath(FState->path, name); }

int Folder::Lock(bool& busy) {
  busy = false;
  // Keyed to the folder itself, in every session: two repairs meet here
  // whatever path and account they came with. One that ended without
  // letting go (killed) leaves the mutex abandoned, which is taken.
  const std::wstring name = L"Global\\KvAccesslogRepair-" + Hex(FState->volume, 8) + L"-" + Hex(FState->id, 16);
  std::lock_guard<std::mutex> guard(gHeldGuard);
  if (Held().count(name)) {
    busy = true;
    return 0;
  }
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (!mutex) {
    // Made by a repair of another account, which is running.
    if (GetLastError() != ERROR_ACCESS_DENIED) return Failure();
    busy = true;
    return 0;
  }
  switch (WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      break;
    case WAIT_TIMEOUT:
      CloseHandle(mutex);
      busy = true;
      return 0;
    default: {
      const int err = Failure();
      CloseHandle(mutex);
      return err;
    }
  }
  Held().insert(name);
  FState->mutex = mutex;
  FState->mutexName = name;
  return 0;
}

int Folder::List(std::u16string_view pattern, std::vector<FolderEntry>& entries) const {
  entries.clear();
  // The listing of the open folder itself, through a handle of its own, from
  // its start: a handle keeps what it listed (Wine), and the folder may have
  // gained entries since.
  HANDLE listing = ReOpenFile(FState->handle, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, FILE_FLAG_BACKUP_SEMANTICS);
  if (listing == INVALID_HANDLE_VALUE) return Failure();
  std::vector<std::uint64_t> buffer(8192);
  const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
  for (bool first = true;; first = false) {
    if (!GetFileInformationByHandleEx(listing, FileIdBothDirectoryInfo, buffer.data(), bytes)) {
      const DWORD err = GetLastError();
      CloseHandle(listing);
      return err == ERROR_NO_MORE_FILES || (err == ERROR_FILE_NOT_FOUND && first) ? 0 : static_cast<int>(err);
    }
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(buffer.data());;) {
      const auto& data = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::u16string name(reinterpret_cast<const char16_t*>(data.FileName), data.FileNameLength / 2);
      // Matched here, on the name itself: the system would match the short
      // 8.3 names as well ("a.logx" passing as *.log).
      if (name != u"." && name != u".." && MatchesPattern(name, pattern)) {
        FolderEntry entry;
        entry.name = SystemName(name, entry.exact);
        FileInfo& info = entry.info;
        const DWORD attributes = data.FileAttributes;
        // For a reparse point the listing carries its kind in place of the
        // extended attributes' size.
        info.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      (data.EaSize == IO_REPARSE_TAG_SYMLINK || data.EaSize == IO_REPARSE_TAG_MOUNT_POINT);
        info.isRegular = !info.isLink && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
        info.isDirectory = !info.isRegular;
        info.size = static_cast<std::uint64_t>(data.EndOfFile.QuadPart);
        info.creationTime = FromLarge(data.CreationTime);
        info.lastAccessTime = FromLarge(data.LastAccessTime);
        info.lastWriteTime = FromLarge(data.LastWriteTime);
        info.lastWriteNanoseconds = (static_cast<std::int64_t>(info.lastWriteTime) -
                                     static_cast<std::int64_t>(kFileTimeUnixEpochSeconds) * 10000000LL) *
                                    100;
        info.volume = FState->volume;
        info.fileId = static_cast<std::uint64_t>(data.FileId.QuadPart);
        info.permissions = attributes;
        entries.push_back(std::move(entry));
      }
      if (data.NextEntryOffset == 0) break;
      at += data.NextEntryOffset;
    }
  }
}

int Folder::OpenRead(const std::string& name, bool denyWriters, File& file, FileInfo& info) const {
  file.Release();
  info = FileInfo{};
  std::wstring wide;
  if (int err = WideName(name, wide)) return err;
  // Refusing writers is the share mode itself; it refuses renaming and
  // deleting too, so the name holds this file while it is open so.
  HANDLE h = CreateFileW((FState->base + wide).c_str(), GENERIC_READ, denyWriters ? FILE_SHARE_READ : kShareAll,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  const int err = InfoOfHandle(h, info);
  if (err || !info.isRegular) {
    CloseHandle(h);
    return err;
  }
  file.FHandle = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

int Folder::CreateExclusive(const std::string& name, File& file) const {
  file.Release();
  std::wstring wide;
  if (int err = WideName(name, wide)) return err;
  // CREATE_NEW fails on any entry of that name, a link included.
  HANDLE h = CreateFileW((FState->base + wide).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  file.FHandle = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

int Folder::Remove(const std::string& name, const FileInfo* expected) const {
  std::wstring wide;
  if (int err = WideName(name, wide)) return err;
  const std::wstring path = FState->base + wide;
  if (expected) {
    FileInfo now;
    if (int err = ExamineEntry(path, now)) return IsNotFound(err) ? 0 : err;
    if (!SameFile(now, *expected)) return 0;
  }
  const int err = DeletePath(path);
  return IsNotFound(err) ? 0 : err;
}

int Folder::Replace(const std::string& from, File& file, const std::string& to, const FileInfo& expected,
                    bool& same) const {
  same = false;
  std::wstring wideFrom, wideTo;
  if (int err = WideName(from, wideFrom)) return err;
  if (int err = WideName(to, wideTo)) return err;
  // The log was held refusing renames until just before this; the system's
  // replace opens the name once more, a gap of a few instructions.
  FileInfo now;
  if (int err = ExamineEntry(FState->base + wideTo, now)) return IsNotFound(err) ? 0 : err;
  if (!SameFile(now, expected)) return 0;
  FileInfo made;
  if (int err = file.GetInfo(made)) return err;
  // The system's replace takes the new file only when nobody has it open.
  if (int err = file.Close()) return err;
  if (int err = ReplacePath(FState->base + wideFrom, FState->base + wideTo)) return err;
  same = true;
  HANDLE h = CreateFileW((FState->base + wideTo).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failure();
  file.FHandle = reinterpret_cast<std::intptr_t>(h);
  // Whatever took the name since the replace a moment ago is not written to.
  if (int err = InfoOfHandle(h, now)) return err;
  if (!SameFile(now, made)) {
    file.Release();
    return ERROR_FILE_INVALID;
  }
  return 0;
}

int Folder::RenameNew(const std::string& from, const std::string& to) const {
  std::wstring wideFrom, wideTo;
  if (int err = WideName(from, wideFrom)) return err;
  if (int err = WideName(to, wideTo)) return err;
  // Without MOVEFILE_REPLACE_EXISTING the move fails on any entry of that name.
  return MoveFileExW((FState->base + wideFrom).c_str(), (FState->base + wideTo).c_str(), MOVEFILE_WRITE_THROUGH)
             ? 0
             : Failure();
}

int Folder::RenameOver(const std::string& from, const std::string& to) const {
  std::wstring wideFrom, wideTo;
  if (int err = WideName(from, wideFrom)) return err;
  if (int err = WideName(to, wideTo)) return err;
  return ReplacePath(FState->base + wideFrom, FState->base + wideTo);
}

// The file system journals the folder's entries with the rename, so there is
// nothing left to flush.
int Folder::Flush() const { return 0; }

}  // namespace platform
