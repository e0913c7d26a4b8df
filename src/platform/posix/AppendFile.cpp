#include "platform/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Path.h"

namespace platform {

namespace {

// A folder with the set-group-id bit is shared with its group: the group may
// read what is written there.
mode_t NewFileMode(const std::string& nativePath) {
  const std::size_t slash = nativePath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".")
                             : slash == 0               ? std::string("/")
                                                        : nativePath.substr(0, slash);
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && (st.st_mode & S_ISGID) ? 0640 : 0600;
}

}  // namespace

int AppendToFile(const std::string& path, std::string_view bytes) {
  const std::string native = ToNativePath(path);
  int fd;
  do {
    fd = open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, NewFileMode(native));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  int error = 0;
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (n == 0) {
      error = ENOSPC;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  return error;
}

}  // namespace platform
