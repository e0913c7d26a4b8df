// Files and folders. Paths are system paths (Windows style, system code page).
// Every operation that can fail returns 0 on success or the platform's error
// code, whose text ErrorText gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/FileTime.h"

namespace platform {

struct FileInfo {
  bool isDirectory = false;  // a folder, or anything else that is not a regular file
  bool isRegular = false;
  // A symbolic link (or a junction), told only by an examination that does
  // not follow links; it is neither regular nor followed.
  bool isLink = false;
  std::uint64_t size = 0;
  FileTime creationTime = 0;  // 0 when the file system does not record it
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  std::int64_t lastWriteNanoseconds = 0;  // since 1970, exact
  std::uint64_t volume = 0;               // volume and file id identify the file
  std::uint64_t fileId = 0;
  unsigned permissions = 0;  // permission bits, owner and group where the
  unsigned owner = 0;        // platform has them
  unsigned group = 0;
};

// Follows links. Returns 0 or the error code (for example "no such file").
int GetFileInfo(const std::string& path, FileInfo& info);
// True for an existing regular file (following links).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// The entry the path names itself: a link is not followed. Its name is
// taken exactly, never as a pattern.
int GetEntryInfo(const std::string& path, FileInfo& info);
// Creates the folder and any missing parents; 0 when it exists afterwards.
int CreateDirectories(const std::string& path);
int DeleteFile(const std::string& path);
// Sets those of the three times that are given (null leaves one unchanged).
int SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* lastAccess,
                 const FileTime* lastWrite);

class File {
 public:
  File() = default;
  ~File() { Release(); }
  File(File&& other) noexcept : FHandle(other.FHandle) { other.FHandle = -1; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Release();
      FHandle = other.FHandle;
      other.FHandle = -1;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return FHandle != -1; }

  // Opens an existing file for reading. With denyWriters, a file that another
  // process holds open for writing fails to open (POSIX: a read lease, where
  // the process may take one).
  int OpenRead(const std::string& path, bool denyWriters);
  // Opens an existing file for reading and writing.
  int OpenReadWrite(const std::string& path);
  // Creates a new file for reading and writing; fails when any entry of that
  // name exists, and never follows a link.
  int CreateExclusive(const std::string& path);
  // Creates or truncates a file for reading and writing.
  int CreateAlways(const std::string& path);

  // Reads up to count bytes; got 0 means the end of the file.
  int Read(void* buffer, std::size_t count, std::size_t& got);
  // Writes all bytes; a short write is reported as an error (disk full).
  int Write(const void* data, std::size_t count);
  int SeekToEnd();
  // Moves the position to a byte offset from the start.
  int SeekTo(std::uint64_t offset);
  int GetInfo(FileInfo& info) const;
  // Flushes the file's data and metadata to disk.
  int Flush();
  // Tells the system that the bytes [offset, offset + count) will not be
  // read again, so that it may give their cached copy's memory back at once.
  int DropCached(std::uint64_t offset, std::uint64_t count);
  int SetTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite);
  // Gives the file the permission bits, owner and group of another file.
  // kept tells whether the file has all of them afterwards; without the
  // right to give a file away it has not, and that is no error.
  int CopyAccessFrom(const FileInfo& source, bool& kept);
  // Writes all bytes at the end of the file as it is at that moment, so that
  // what others append meanwhile is never written over.
  int Append(const void* data, std::size_t count);
  // From now on other processes may open the file for writing, rename it or
  // delete it (Windows, where a file opened refusing writers refuses them,
  // and its renaming, until then; POSIX has nothing to let go of).
  int AllowOthers();
  // True while another handle has the file open for writing, as far as the
  // platform can tell (POSIX: a read lease is refused), even after the file
  // was renamed over or deleted. False where it cannot tell.
  bool OthersWriting();
  int Close();

 private:
  friend class Folder;
  void Release() noexcept;

  // A descriptor, or a handle where that is wider; -1 when closed.
  std::intptr_t FHandle = -1;
};

}  // namespace platform
