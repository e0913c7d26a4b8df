#include "base/DateTime.h"

#include <cmath>

#include "platform/FileTime.h"

std::int64_t DaysFromCivil(int year, int month, int day) {
  // Days since 1970-01-01, then moved to the 1899-12-30 epoch.
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  const std::int64_t z = days - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

TDateTime EncodeDateTime(const DateTimeFields& f) {
  const double days = static_cast<double>(DaysFromCivil(f.year, f.month, f.day));
  const double ms = ((f.hour * 60.0 + f.minute) * 60.0 + f.second) * 1000.0 + f.millisecond;
  return days + ms / static_cast<double>(kMSecsPerDay);
}

void SplitDateTime(TDateTime value, std::int64_t& days, std::int64_t& msOfDay) {
  const std::int64_t total = std::llround(value * static_cast<double>(kMSecsPerDay));
  days = total / kMSecsPerDay;
  msOfDay = total % kMSecsPerDay;
  if (msOfDay < 0) {
    msOfDay += kMSecsPerDay;
    --days;
  }
}

DateTimeFields DecodeDateTime(TDateTime value) {
  std::int64_t days = 0, ms = 0;
  SplitDateTime(value, days, ms);
  DateTimeFields f;
  CivilFromDays(days, f.year, f.month, f.day);
  f.hour = static_cast<int>(ms / 3600000);
  f.minute = static_cast<int>(ms / 60000 % 60);
  f.second = static_cast<int>(ms / 1000 % 60);
  f.millisecond = static_cast<int>(ms % 1000);
  return f;
}

TDateTime Now() {
  const std::int64_t utcMs = static_cast<std::int64_t>(platform::NowUtc() / 10000) -
                             static_cast<std::int64_t>(platform::kFileTimeUnixEpochSeconds) * 1000;
  const std::int64_t localMs = utcMs - static_cast<std::int64_t>(platform::CurrentTimeZoneBiasMinutes()) * 60000;
  std::int64_t days = localMs / kMSecsPerDay + 25569;
  std::int64_t ms = localMs % kMSecsPerDay;
  if (ms < 0) {
    ms += kMSecsPerDay;
    --days;
  }
  return static_cast<double>(days) + static_cast<double>(ms) / static_cast<double>(kMSecsPerDay);
}
