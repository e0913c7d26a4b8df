#include "platform/Error.h"

#include <cerrno>
#include <cstring>

namespace platform {

int LastError() { return errno; }

std::string ErrorText(int code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which need not be in the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text;
}

bool IsNotFound(int code) { return code == ENOENT || code == ENOTDIR; }

bool IsAlreadyExists(int code) { return code == EEXIST; }

}  // namespace platform
