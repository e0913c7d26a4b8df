#include "platform/FileTime.h"

#include <windows.h>

namespace platform {

FileTime NowUtc() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<FileTime>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

int CurrentTimeZoneBiasMinutes() {
  TIME_ZONE_INFORMATION zone;
  switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_DAYLIGHT:
      return static_cast<int>(zone.Bias + zone.DaylightBias);
    case TIME_ZONE_ID_STANDARD:
      return static_cast<int>(zone.Bias + zone.StandardBias);
    case TIME_ZONE_ID_UNKNOWN:
      return static_cast<int>(zone.Bias);
    default:
      return 0;
  }
}

}  // namespace platform
