#include "ConsoleProcess.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "common/RsJson.h"
#include "platform/CodePage.h"
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "support/ProcessHelper.h"
#include "support/TestSupport.h"

namespace console_test {

std::string Program() { return testing_support::BuiltProgram("KvAccesslogRepair"); }

testing_support::CapturedRun RunRepair(const std::vector<std::string>& args, const std::string& workingFolder) {
  return testing_support::RunCapturingOutput(Program(), args, workingFolder);
}

std::string ReplacedLine(const std::string& path, int records) {
  return "ファイル \"" + path + "\" を修正しました (修正したレコード数: " + std::to_string(records) + ")\n";
}

std::string NeedsRepairLine(const std::string& path, int records) {
  return "ファイル \"" + path + "\" は修正が必要です (修正するレコード数: " + std::to_string(records) + ")\n";
}

#ifdef _WIN32

namespace {

// The report is UTF-8; the reader takes the system code page.
std::string FromUtf8(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return "";
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), reinterpret_cast<wchar_t*>(wide.data()),
                      n);
  return platform::FromWide(wide);
}

std::string Value(const TJSONObject& object, const char* name) {
  const TZAbstractObject* value = object.findValue(name);
  return value ? value->toString() : "null";
}

}  // namespace

std::string ReportLines(const std::string& nativePath) {
  try {
    const TJSONObject report(FromUtf8(testing_support::ReadFile(nativePath)));
    const auto& counts = dynamic_cast<const TJSONObject&>(report.requireValue("counts"));
    std::string text = Value(report, "mode") + " " + Value(report, "status") + " " + Value(report, "result");
    for (const char* name : {"logs", "replaced", "unchanged", "needsRepair", "skipped", "failed"})
      text += std::string(" ") + name + "=" + Value(counts, name);
    text += " records=" + Value(counts, "recordsCorrected") + " message=" + Value(report, "message") + "\n";
    const auto& logs = dynamic_cast<const TJSONArray&>(report.requireValue("logs"));
    for (int i = 0; i < logs.elementCount(); ++i) {
      const auto& log = dynamic_cast<const TJSONObject&>(logs.requireElement(i));
      text += Value(log, "path");
      for (const char* name : {"result", "recordsCorrected", "size", "lastWriteTime", "backup", "reason"})
        text += "|" + Value(log, name);
      text += "\n";
    }
    return text;
  } catch (const std::exception&) {
    return "";
  }
}

std::string ReportTime(std::int64_t unixSeconds) {
  const std::uint64_t ticks = (static_cast<std::uint64_t>(unixSeconds) + 11644473600ULL) * 10000000ULL;
  const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME u, l;
  FileTimeToSystemTime(&utc, &u);
  SystemTimeToTzSpecificLocalTime(nullptr, &u, &l);
  TIME_ZONE_INFORMATION zone;
  const DWORD kind = GetTimeZoneInformation(&zone);
  const long offset = -(zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0));
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.000%c%02ld:%02ld", l.wYear, l.wMonth, l.wDay, l.wHour,
                l.wMinute, l.wSecond, offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

JapanTime::JapanTime() {}
JapanTime::~JapanTime() {}

#else

namespace {

// Strict: control characters in strings, bad escapes or bad UTF-8 fail.
constexpr const char* kReader = R"(
import json, sys
from datetime import datetime
with open(sys.argv[1], 'rb') as f:
    d = json.loads(f.read().decode('utf-8'))
assert datetime.fromisoformat(d['started']) <= datetime.fromisoformat(d['ended'])
v = lambda x: 'null' if x is None else str(x)
c = d['counts']
out = [' '.join([d['mode'], v(d['status']), d['result']] +
                [k + '=' + v(c[k]) for k in ('logs', 'replaced', 'unchanged', 'needsRepair', 'skipped', 'failed')] +
                ['records=' + v(c['recordsCorrected']), 'message=' + v(d['message'])])]
for l in d['logs']:
    out.append('|'.join(v(l[k]) for k in ('path', 'result', 'recordsCorrected', 'size', 'lastWriteTime', 'backup', 'reason')))
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))
)";

}  // namespace

std::string ReportLines(const std::string& nativePath) {
  const testing_support::CapturedRun probe = testing_support::RunCapturingOutput("/usr/bin/env", {"python3", "-V"});
  if (probe.status != 0) {
    ADD_FAILURE() << "python3 is needed to read the report";
    return "";
  }
  const testing_support::CapturedRun read =
      testing_support::RunCapturingOutput("/usr/bin/env", {"python3", "-c", kReader, nativePath});
  EXPECT_EQ(read.err, "");
  return read.status == 0 ? read.out : "";
}

std::string ReportTime(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds) + 9 * 3600;
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000+09:00", &utc);
  return text;
}

JapanTime::JapanTime() {
  if (const char* old = std::getenv("TZ")) {
    FOld = old;
    FHad = true;
  }
  setenv("TZ", "JST-9", 1);
}

JapanTime::~JapanTime() {
  if (FHad)
    setenv("TZ", FOld.c_str(), 1);
  else
    unsetenv("TZ");
}

#endif

}  // namespace console_test
