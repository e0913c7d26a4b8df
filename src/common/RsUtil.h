// Shared helpers of the system: text and path operations used while reading
// configuration values, and file time conversions.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "base/Exception.h"
#include "base/StringList.h"
#include "platform/FileTime.h"

// The system's own exception: at construction it also sends "Error " and its
// message to the diagnostic channel (the default TraceSpot client), whether or
// not it is caught later.
class ERansoException : public Exception {
 public:
  explicit ERansoException(std::string message);
  // The message is the format with the arguments substituted (%s directives).
  static ERansoException CreateFmt(std::string_view format, std::initializer_list<std::string_view> args);
  const char* ClassName() const noexcept override { return "ERansoException"; }
  // The field when it is not empty, else the message.
  const std::string& ErrMsg() const { return FErrMsg.empty() ? Message() : FErrMsg; }
  void SetErrMsg(std::string_view value) { FErrMsg = std::string(value); }

 private:
  std::string FErrMsg;
};

[[noreturn]] void RaiseErrorFmt(std::string_view format, std::initializer_list<std::string_view> args);
// The message is taken literally: a '%' in it stays as it is.
[[noreturn]] void RaiseError(std::string_view message);

// Every '/' becomes '\'; nothing else changes.
std::string SlashToBackslash(std::string_view s);
// True when every code unit is A-Z, a-z or 0-9 (true for the empty string).
bool IsHalfWidthAlphaNumeric(std::u16string_view w);
// Replaces the list's entries by the comma-separated entries of the text, on
// characters: quotes removed when asked, entries trimmed of blanks and
// control characters, empty entries removed when asked.
void SplitCommaText(TStringList& list, std::string_view text, bool removeQuotes, bool removeEmpty);
// One trailing '\' removed, except that a drive root ("C:\") and a lone '\'
// keep theirs.
std::u16string ExcludeTrailingDelimiterKeepRoot(std::u16string_view w);

// UTC file time to a local date-time value, with the time-zone bias in force
// now; sub-millisecond parts are dropped.
TDateTime FileTimeToDateTime(platform::FileTime fileTime);
// Local date-time value to a UTC file time with the bias in force now; a value
// that does not convert gives file time 0.
platform::FileTime DateTimeToFileTime(TDateTime value);

// The comma text of a list: the entries joined by ',', an entry that holds a
// blank, a control character, '"' or ',' enclosed in double quotes with each
// of its quotes doubled.
std::string CommaText(const TStringList& list);
