#include "app/console/KvRunReport.h"

#include <cstdint>
#include <memory>
#include <utility>

#include "base/Format.h"
#include "common/RsJson.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Folder.h"
#include "platform/Path.h"

namespace {

TJSONValuePtr Text(const std::string& text) { return std::make_unique<_String>(text); }

TJSONValuePtr TextOrNull(const std::string& text) { return text.empty() ? Shared(SharedNull()) : Text(text); }

// Sizes and counts go beyond the 32 bits of the library's integers: the
// digits are written as they are, which is a JSON number.
TJSONValuePtr Number(std::int64_t value) {
  auto digits = std::make_unique<_String>(IntToStr(value));
  digits->setUnquoted(true);
  return digits;
}

std::string TwoDigits(int value) { return (value < 10 ? "0" : "") + IntToStr(value); }

// Local time with the offset in force, to the millisecond:
// 2026-12-01T23:59:59.000+09:00.
TJSONValuePtr Time(TDateTime value) {
  if (value <= 0) return Shared(SharedNull());
  const DateTimeFields f = DecodeDateTime(value);
  const int offset = -platform::CurrentTimeZoneBiasMinutes();
  const int magnitude = offset < 0 ? -offset : offset;
  const std::string ms = IntToStr(1000 + f.millisecond).substr(1);
  return Text(IntToStr(f.year) + "-" + TwoDigits(f.month) + "-" + TwoDigits(f.day) + "T" + TwoDigits(f.hour) + ":" +
              TwoDigits(f.minute) + ":" + TwoDigits(f.second) + "." + ms + (offset < 0 ? "-" : "+") +
              TwoDigits(magnitude / 60) + ":" + TwoDigits(magnitude % 60));
}

const char* ResultOf(TKvLogOutcome::TKind kind) {
  switch (kind) {
    case TKvLogOutcome::TKind::Replaced:
      return "replaced";
    case TKvLogOutcome::TKind::Unchanged:
      return "unchanged";
    case TKvLogOutcome::TKind::NeedsRepair:
      return "needs-repair";
    case TKvLogOutcome::TKind::Failed:
      return "failed";
    case TKvLogOutcome::TKind::NotTaken:
    case TKvLogOutcome::TKind::Abandoned:
    case TKvLogOutcome::TKind::Skipped:
      break;
  }
  return "skipped";
}

const char* ResultOf(int status) {
  switch (status) {
    case 0:
      return "done";
    case 2:
      return "usage-error";
    case 3:
      return "repair-needed";
    case 130:
      return "stopped";
    default:
      return "error";
  }
}

std::unique_ptr<TJSONObject> LogObject(const TKvLogOutcome& log) {
  auto object = std::make_unique<TJSONObject>();
  object->store("path", Text(log.path));
  object->store("result", Text(ResultOf(log.kind)));
  object->store("recordsCorrected", Number(log.corrected));
  const bool known = log.size > 0 || log.lastWrite > 0;
  object->store("size", known ? Number(static_cast<std::int64_t>(log.size)) : Shared(SharedNull()));
  object->store("lastWriteTime", Time(log.lastWrite));
  object->store("backup", TextOrNull(log.backup));
  object->store("reason", TextOrNull(log.message));
  return object;
}

// The library writes backspace, TAB and form feed inside strings as they
// are, which strict readers refuse; nothing else in the text holds them.
std::string StrictControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\b')
      out += "\\b";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\f')
      out += "\\f";
    else
      out += c;
  }
  return out;
}

// The folder and the name of a system path; the delimiter is found on
// characters, as the second byte of a double-byte character may be '\'.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t cut = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (platform::IsLeadByte(c))
      ++i;
    else if (c == '\\' || c == '/')
      cut = i;
  }
  if (cut == std::string::npos) return {".", path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

}  // namespace

std::string KvRunReportText(const TKvRunSummary& summary, const std::vector<TKvLogOutcome>& logs) {
  std::int64_t counts[7] = {};
  std::int64_t corrected = 0;
  for (const TKvLogOutcome& log : logs) {
    ++counts[static_cast<int>(log.kind)];
    corrected += log.corrected;
  }
  auto count = [&counts](TKvLogOutcome::TKind kind) { return counts[static_cast<int>(kind)]; };
  auto tally = std::make_unique<TJSONObject>();
  tally->store("logs", Number(static_cast<std::int64_t>(logs.size())));
  tally->store("replaced", Number(count(TKvLogOutcome::TKind::Replaced)));
  tally->store("unchanged", Number(count(TKvLogOutcome::TKind::Unchanged)));
  tally->store("needsRepair", Number(count(TKvLogOutcome::TKind::NeedsRepair)));
  tally->store("skipped", Number(count(TKvLogOutcome::TKind::NotTaken) + count(TKvLogOutcome::TKind::Abandoned) +
                                 count(TKvLogOutcome::TKind::Skipped)));
  tally->store("failed", Number(count(TKvLogOutcome::TKind::Failed)));
  tally->store("recordsCorrected", Number(corrected));

  std::pair<const char*, TJSONValuePtr> members[] = {
      {"program", Text(summary.program)},
      {"mode", Text(summary.check ? "check" : "repair")},
      {"folder", TextOrNull(summary.folder.empty() ? "" : platform::ShownPath(summary.folder))},
      {"backupFolder", TextOrNull(summary.backupFolder.empty() ? "" : platform::ShownPath(summary.backupFolder))},
      {"keepGoing", Shared(summary.keepGoing ? SharedTrue() : SharedFalse())},
      {"started", Time(summary.started)},
      {"ended", Time(summary.ended)},
      {"status", Number(summary.status)},
      {"result", Text(ResultOf(summary.status))},
      {"message", TextOrNull(summary.message)},
      {"counts", std::move(tally)},
  };
  // A member a line, a log a line: readable as it stands, and each log's
  // line can be picked out on its own.
  std::string text = "{\n";
  for (const auto& [name, value] : members) {
    AppendQuoted(text, name);
    text += ": ";
    AppendValueText(text, value.get());
    text += ",\n";
  }
  text += "\"logs\": [";
  for (std::size_t i = 0; i < logs.size(); ++i) {
    text += i == 0 ? "\n" : ",\n";
    LogObject(logs[i])->appendText(text);
  }
  text += logs.empty() ? "]\n}\n" : "\n]\n}\n";
  return platform::ToUtf8Text(StrictControls(text));
}

std::string KvWriteRunReport(const std::string& file, const std::string& text) {
  const auto [folderPath, name] = SplitPath(file);
  std::string temp;
  platform::Folder folder;
  platform::File out;
  platform::FileInfo made;
  bool created = false;
  auto fail = [&](int err) {
    out.Close();
    if (created) static_cast<void>(folder.Remove(temp, &made));
    return Format("レポートファイル \"%s\" を書き込めません. %s",
                  {platform::ShownPath(file), platform::ErrorText(err)});
  };
  // A scheduled job names a report folder as it names the copies' folder,
  // which a run makes when it is missing.
  if (int err = platform::CreateDirectories(folderPath)) return fail(err);
  if (int err = folder.Open(folderPath)) return fail(err);
  // Written beside it under a name of its own and then put in its place.
  // A name that is taken (another run writing the same report, a file left
  // by one that was killed) is left alone.
  for (int number = 0;; ++number) {
    temp = name + (number == 0 ? "" : "." + IntToStr(number)) + ".temp";
    const int err = folder.CreateExclusive(temp, out);
    if (err == 0) break;
    if (!platform::IsAlreadyExists(err) || number == 1000) return fail(err);
  }
  if (int err = out.GetInfo(made)) {
    out.Close();
    static_cast<void>(folder.Remove(temp));
    return fail(err);
  }
  created = true;
  if (int err = out.Write(text.data(), text.size())) return fail(err);
  if (int err = out.Flush()) return fail(err);
  if (int err = out.Close()) return fail(err);
  if (int err = folder.RenameOver(temp, name)) return fail(err);
  created = false;
  if (int err = folder.Flush()) return fail(err);
  return "";
}
