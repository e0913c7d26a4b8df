// A deterministic generator of large, realistic access logs.
#pragma once

#include <cstdint>
#include <string>

struct AccessLogOptions {
  std::uint64_t bytes = 256ull << 20;  // approximate size of the file
  double infoShare = 0.0;              // share of records whose first field starts with "INFO\t"
  std::uint64_t seed = 1;
  // Every field in quotes and every line end CR LF, as the repair writes
  // them, and no line break inside a field.
  bool quoted = false;
};

// Writes the log to a native path; returns the number of records written.
std::uint64_t GenerateAccessLog(const std::string& nativePath, const AccessLogOptions& options);
