// Date-time values: local time as days since 1899-12-30 00:00, the fraction
// being the time of day, millisecond resolution.
#pragma once

#include <cstdint>

using TDateTime = double;

struct DateTimeFields {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

constexpr std::int64_t kMSecsPerDay = 86400000;

TDateTime EncodeDateTime(const DateTimeFields& fields);
// The whole days since 1899-12-30 and the milliseconds into that day.
void SplitDateTime(TDateTime value, std::int64_t& days, std::int64_t& msOfDay);
DateTimeFields DecodeDateTime(TDateTime value);
// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);
// The current local date-time.
TDateTime Now();
