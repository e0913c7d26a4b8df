#include "common/RsFileUtil.h"

#include "common/RsUtil.h"
#include "platform/CodePage.h"
#include "platform/File.h"

TDateTime GetFileTimeOf(const std::string& fileName, unsigned char kind) {
  // One trailing delimiter goes; it is tested on characters, as a double-byte
  // character may end in the byte of '\'. That character is one byte.
  std::string name = fileName;
  const std::u16string wide = platform::ToWide(name);
  if (!wide.empty() && wide.back() == u'\\') name.pop_back();
  // The entry of exactly that name, as a directory entry shows it: '*' and
  // '?' are characters of the name, never a pattern, and a link is not
  // followed.
  platform::FileInfo info;
  if (platform::GetEntryInfo(name, info) != 0) return 0;
  switch (kind) {
    case 0:
      return FileTimeToDateTime(info.creationTime);
    case 1:
      return FileTimeToDateTime(info.lastWriteTime);
    case 2:
      return FileTimeToDateTime(info.lastAccessTime);
    default:
      return 0;
  }
}

void SetFileTimes(const std::string& fileName, TDateTime creationTime, TDateTime lastWriteTime,
                  TDateTime lastAccessTime) {
  if (!platform::FileExists(fileName) && !platform::DirectoryExists(fileName)) return;
  const platform::FileTime creation = creationTime > 0 ? DateTimeToFileTime(creationTime) : 0;
  const platform::FileTime write = lastWriteTime > 0 ? DateTimeToFileTime(lastWriteTime) : 0;
  const platform::FileTime access = lastAccessTime > 0 ? DateTimeToFileTime(lastAccessTime) : 0;
  platform::SetFileTimes(fileName, creationTime > 0 ? &creation : nullptr, lastAccessTime > 0 ? &access : nullptr,
                         lastWriteTime > 0 ? &write : nullptr);
}
