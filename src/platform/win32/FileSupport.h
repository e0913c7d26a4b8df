// What the file and folder services of the Windows layer share.
#pragma once

#include <windows.h>

#include <string>

#include "platform/File.h"

namespace platform {

// Every file opened here lets others read, write, rename and delete it, as
// POSIX does, except where a reader refuses writers.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A system path as the wide string the W functions take.
std::wstring Wide(const std::string& path);
// The last error, never 0.
int Failure();
// The information of an open handle; a symbolic link or junction opened
// itself is a link.
int InfoOfHandle(HANDLE h, FileInfo& info);
int DeletePath(const std::wstring& path);
int ReplacePath(const std::wstring& from, const std::wstring& to);

}  // namespace platform
