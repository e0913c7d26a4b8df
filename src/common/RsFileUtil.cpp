#include "common/RsFileUtil.h"

#include "common/RsUtil.h"
#include "platform/CodePage.h"
#include "platform/DirectorySearch.h"
#include "platform/File.h"

TDateTime GetFileTimeOf(const std::string& fileName, unsigned char kind) {
  std::u16string name = platform::ToWide(fileName);
  if (!name.empty() && name.back() == u'\\') name.pop_back();
  platform::DirectorySearch search;
  platform::DirectoryEntry entry;
  if (!search.Open(name) || !search.Next(entry)) return 0;
  switch (kind) {
    case 0:
      return FileTimeToDateTime(entry.creationTime);
    case 1:
      return FileTimeToDateTime(entry.lastWriteTime);
    case 2:
      return FileTimeToDateTime(entry.lastAccessTime);
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
