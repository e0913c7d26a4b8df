// What the file and folder services of the POSIX layer share.
#pragma once

#include <sys/stat.h>

#include "platform/File.h"

namespace platform {

// The signal handling files need, installed once per process.
void InstallFileSignalHandlers();
void FillInfo(const struct statx& st, FileInfo& info);
// The information of an open descriptor; 0 or the error.
int InfoOfDescriptor(int fd, FileInfo& info);
// Refuses other writers from now on where the process may (a read lease):
// 0, EBUSY when another process has the file open for writing, and 0 where
// no lease can be had (the file is then read without the guard).
int RefuseWriters(int fd);

}  // namespace platform
