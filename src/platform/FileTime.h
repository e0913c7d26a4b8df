// File times: 100-nanosecond intervals since 1601-01-01 00:00 UTC.
#pragma once

#include <cstdint>

namespace platform {

using FileTime = std::uint64_t;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kFileTimeUnixEpochSeconds = 11644473600ULL;

// The current time as a file time (UTC).
FileTime NowUtc();
// The machine's time-zone bias in force now, in minutes (UTC = local + bias);
// Japan gives -540.
int CurrentTimeZoneBiasMinutes();

}  // namespace platform
