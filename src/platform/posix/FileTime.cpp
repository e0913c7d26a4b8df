#include "platform/FileTime.h"

#include <ctime>

namespace platform {

FileTime NowUtc() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<FileTime>(ts.tv_sec) + kFileTimeUnixEpochSeconds) * 10000000ULL +
         static_cast<FileTime>(ts.tv_nsec) / 100;
}

int CurrentTimeZoneBiasMinutes() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return static_cast<int>(-local.tm_gmtoff / 60);
}

}  // namespace platform
