// generate_accesslog FILE [MiB] [INFO share] [seed]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AccessLogGenerator.h"

namespace {

constexpr const char* kUsage = "usage: generate_accesslog FILE [MiB] [INFO share 0..1] [seed]\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // An option it does not know would otherwise become the name of a file of
  // many MiB; a file whose name starts with '-' is given as ./-name.
  if (argc < 2 || argv[1][0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  AccessLogOptions options;
  if (argc > 2) options.bytes = std::strtoull(argv[2], nullptr, 10) << 20;
  if (argc > 3) options.infoShare = std::strtod(argv[3], nullptr);
  if (argc > 4) options.seed = std::strtoull(argv[4], nullptr, 10);
  const auto records = GenerateAccessLog(argv[1], options);
  std::printf("%llu records\n", static_cast<unsigned long long>(records));
  return 0;
}
