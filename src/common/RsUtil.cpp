#include "common/RsUtil.h"

#include <cmath>
#include <cstdint>

#include "base/Format.h"
#include "diagnostics/TSIntf.h"
#include "platform/CodePage.h"
#include "platform/FileTime.h"

namespace {

constexpr std::int64_t kTicksPerMs = 10000;
constexpr std::int64_t kTicksPerMinute = 600000000;
// Days from 1601-01-01 to 1899-12-30.
constexpr std::int64_t kFileTimeEpochDays = 109205;

}  // namespace

ERansoException::ERansoException(std::string message) : Exception(std::move(message)) {
  FErrMsg = Message();
  if (DefaultTraceSpot) DefaultTraceSpot->SendMsg("Error " + Message());
}

ERansoException ERansoException::CreateFmt(std::string_view format, std::initializer_list<std::string_view> args) {
  return ERansoException(Format(format, args));
}

void RaiseErrorFmt(std::string_view format, std::initializer_list<std::string_view> args) {
  throw ERansoException::CreateFmt(format, args);
}

void RaiseError(std::string_view message) { RaiseErrorFmt("%s", {message}); }

TDateTime FileTimeToDateTime(platform::FileTime fileTime) {
  const std::int64_t local = static_cast<std::int64_t>(fileTime) -
                             static_cast<std::int64_t>(platform::CurrentTimeZoneBiasMinutes()) * kTicksPerMinute;
  const std::int64_t ms = local / kTicksPerMs;
  const std::int64_t days = ms / kMSecsPerDay - kFileTimeEpochDays;
  return static_cast<double>(days) + static_cast<double>(ms % kMSecsPerDay) / static_cast<double>(kMSecsPerDay);
}

platform::FileTime DateTimeToFileTime(TDateTime value) {
  if (!std::isfinite(value)) return 0;
  const DateTimeFields f = DecodeDateTime(value);
  const std::int64_t days = DaysFromCivil(f.year, f.month, f.day) + kFileTimeEpochDays;
  if (days < 0 || days > 10000000) return 0;
  const std::int64_t ms = days * kMSecsPerDay + ((f.hour * 60LL + f.minute) * 60 + f.second) * 1000 + f.millisecond;
  const std::int64_t utc =
      ms * kTicksPerMs + static_cast<std::int64_t>(platform::CurrentTimeZoneBiasMinutes()) * kTicksPerMinute;
  return utc < 0 ? 0 : static_cast<platform::FileTime>(utc);
}

std::string SlashToBackslash(std::string_view s) {
  // '/' is never the second byte of a double-byte character, so bytes will do.
  std::string out(s);
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

bool IsHalfWidthAlphaNumeric(std::u16string_view w) {
  for (char16_t c : w)
    if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))) return false;
  return true;
}

void SplitCommaText(TStringList& list, std::string_view text, bool removeQuotes, bool removeEmpty) {
  std::u16string wide = platform::ToWide(text);
  std::u16string cooked;
  cooked.reserve(wide.size() + 8);
  for (char16_t c : wide) {
    if (removeQuotes && c == u'"') continue;
    if (c == u',')
      cooked += u"\r\n";
    else
      cooked += c;
  }
  list.SetText(platform::FromWide(cooked));
  for (int i = list.Count() - 1; i >= 0; --i) {
    std::u16string entry = platform::ToWide(list[i]);
    std::size_t from = 0, to = entry.size();
    while (from < to && entry[from] <= 32) ++from;
    while (to > from && entry[to - 1] <= 32) --to;
    if (removeEmpty && from == to)
      list.Delete(i);
    else if (from != 0 || to != entry.size())
      list.Put(i, platform::FromWide(entry.substr(from, to - from)));
  }
}

std::u16string ExcludeTrailingDelimiterKeepRoot(std::u16string_view w) {
  std::u16string_view r = w;
  if (!r.empty() && r.back() == u'\\') r.remove_suffix(1);
  const std::size_t colon = r.find(u':');
  if (r.empty() || (colon != std::u16string_view::npos && colon + 1 == r.size())) return std::u16string(w);
  return std::u16string(r);
}

std::string CommaText(const TStringList& list) {
  // No trail byte of a double-byte character is a blank, '"' or ',', so bytes will do.
  std::string out;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& s = list[i];
    if (i > 0) out += ',';
    bool quote = false;
    for (char c : s)
      if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') quote = true;
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}
