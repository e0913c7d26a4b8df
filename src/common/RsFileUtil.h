// File-time helpers of the access log repair.
#pragma once

#include <string>

#include "base/DateTime.h"

// One of the file's times as a local date-time: kind 0 creation, 1 last
// write, 2 last access. 0 when the file is not found and for any other kind.
TDateTime GetFileTimeOf(const std::string& fileName, unsigned char kind);
// Sets those of the three times whose value is greater than 0; reports nothing.
void SetFileTimes(const std::string& fileName, TDateTime creationTime, TDateTime lastWriteTime,
                  TDateTime lastAccessTime);
