// Appending to a file that other processes append to as well, such as a log.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Writes the bytes at the end of the file as one write: the system moves to
// the end and writes in one step (POSIX O_APPEND; Windows append-only
// access, and appenders of this system also take turns under a lock), so
// what several processes append at once never interleaves.
// The file is opened for this call only and shared with every other reader
// and writer. A missing file is created readable by its owner only (POSIX
// 0600; 0640 in a folder with the set-group-id bit, whose group the file then
// takes; on Windows the folder's inherited access). Missing folders are not
// created. 0 or the error code.
int AppendToFile(const std::string& path, std::string_view bytes);

}  // namespace platform
