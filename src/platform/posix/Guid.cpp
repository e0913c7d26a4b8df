#include "platform/Guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

namespace platform {

std::string NewGuidText() {
  std::uint8_t b[16];
  std::size_t got = 0;
  while (got < sizeof b) {
    const ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    got += static_cast<std::size_t>(n);
  }
  // Printed in byte order, so the version digit opens the third group.
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4: random
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[b[i] >> 4];
    text += kHex[b[i] & 15];
  }
  return text + "}";
}

}  // namespace platform
