// generate_accesslog FILE [MiB] [INFO share] [seed]
#include <cstdio>
#include <cstdlib>

#include "AccessLogGenerator.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: generate_accesslog FILE [MiB] [INFO share 0..1] [seed]\n");
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
