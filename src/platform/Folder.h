// A folder opened once, and its entries reached through it: a name is looked
// up in this folder and no other, whatever its path comes to name later, and
// a link in it is never followed. Names are single entry names in the system
// code page; a name that would leave the folder, or that the system form
// cannot hold exactly, is refused. Every operation that can fail returns 0 or
// the platform's error code (ErrorText).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace platform {

struct FolderEntry {
  // In the system code page. When exact is false the system form cannot hold
  // the name as it is (a character the code page lacks, bytes that form no
  // character, a '\' in a POSIX name): name only shows it, and names no entry.
  std::string name;
  bool exact = true;
  // The entry examined without following a link; when that failed, the
  // error and nothing else.
  int error = 0;
  FileInfo info;
};

class Folder {
 public:
  Folder();
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // Opens the folder a system path names (the path is resolved here, once).
  int Open(const std::string& path);
  bool IsOpen() const { return FState != nullptr; }
  // The folder and a name in it as messages show them (platform/Path.h).
  std::string Path() const;
  std::string PathOf(const std::string& name) const;

  // Takes the folder for this holder alone among all that ask, in any
  // process, until the folder is closed (by the thread that took it): busy
  // when another holder has it.
  int Lock(bool& busy);

  // The entries whose names match the pattern ('*' and '?', ASCII letters
  // without regard to case), "." and ".." left out, each examined. An entry
  // gone before its examination is left out too.
  int List(std::u16string_view pattern, std::vector<FolderEntry>& entries) const;

  // Opens an entry for reading, refusing other writers if asked (see
  // File::OpenRead), never following a link and never blocking on what the
  // entry is: info describes the opened file. An entry that is no regular
  // file (a link, a folder, a FIFO) is not opened: the result is 0, file
  // stays closed and info tells what it is.
  int OpenRead(const std::string& name, bool denyWriters, File& file, FileInfo& info) const;
  // Creates a new file for reading and writing; fails on any entry of that
  // name, a link included.
  int CreateExclusive(const std::string& name, File& file) const;
  // Removes the entry (a link itself, never what it names); 0 when there is
  // none. With expected, only while the name holds that file: another one is
  // left as it is.
  int Remove(const std::string& name, const FileInfo* expected = nullptr) const;
  // Puts the file named from, which file has open, in the place of the one
  // named to, only if to still holds the file expected identifies; same
  // tells whether it did. Afterwards from holds the replaced file or nothing,
  // and file is the file put in place, open for writing (Windows, whose
  // replace cannot take an open file, opens it again through the folder).
  // When same is false nothing has changed.
  int Replace(const std::string& from, File& file, const std::string& to, const FileInfo& expected, bool& same) const;
  // Gives the entry from the name to, only when to names nothing: an entry
  // there is never replaced (the error then satisfies IsAlreadyExists).
  int RenameNew(const std::string& from, const std::string& to) const;
  // Gives the entry from the name to in one step, in place of the file to
  // names (a link there is replaced itself, never followed).
  int RenameOver(const std::string& from, const std::string& to) const;
  // Makes the folder's entries durable (POSIX: fsync of the folder).
  int Flush() const;

 private:
  struct State;
  std::unique_ptr<State> FState;
};

}  // namespace platform
