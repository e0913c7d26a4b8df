#include "diagnostics/RsTsIntf.h"

#include <cstdio>

#include "base/DateTime.h"
#include "platform/CodePage.h"

namespace {

// The user's date and time separators; POSIX has no such setting, so the
// ones of the Japanese systems the tool serves.
constexpr char kDateSeparator = '/';
constexpr char kTimeSeparator = ':';

std::unique_ptr<TRsTSObjectManager> gManager;

struct StampFields {
  int year, month, day, hour, minute, second, millisecond;
};

StampFields Decode(const TTimeStamp& stamp) {
  StampFields f{};
  CivilFromDays(static_cast<std::int64_t>(stamp.Date) - DateTimeToTimeStamp(0).Date, f.year, f.month, f.day);
  f.hour = stamp.Time / 3600000;
  f.minute = stamp.Time / 60000 % 60;
  f.second = stamp.Time / 1000 % 60;
  f.millisecond = stamp.Time % 1000;
  return f;
}

// True when the byte string ends in a '\' that is not the second byte of a
// double-byte character.
bool EndsWithDelimiter(const std::string& s) {
  bool last = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    last = s[i] == '\\';
    if (platform::IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      ++i;
      last = false;
    }
  }
  return last;
}

}  // namespace

TRsTSObjectManager* RsTSManager = nullptr;
TTraceSpot* RsTraceSpot = nullptr;

std::string RsLogFileName(std::uint8_t mode, const std::string& logFolder, const std::string& logFileName,
                          const TTraceSpotMsgData& msgData) {
  if (mode == lmSingleFile) return logFileName;
  if (mode != lmHourlyFile && mode != lmDailyFile) return {};
  const StampFields f = Decode(msgData.TimeStamp);
  char name[32];
  if (mode == lmHourlyFile)
    std::snprintf(name, sizeof name, "%04d%02d%02d_%02d.log", f.year, f.month, f.day, f.hour);
  else
    std::snprintf(name, sizeof name, "%04d%02d%02d.log", f.year, f.month, f.day);
  return (EndsWithDelimiter(logFolder) ? logFolder : logFolder + "\\") + name;
}

std::string RsLogLine(const TTraceSpotMsgData& m) {
  const StampFields f = Decode(m.TimeStamp);
  char head[128];
  std::snprintf(head, sizeof head, "[%04d%c%02d%c%02d %02d%c%02d%c%02d.%03d][%d][%d][%d]", f.year, kDateSeparator,
                f.month, kDateSeparator, f.day, f.hour, kTimeSeparator, f.minute, kTimeSeparator, f.second,
                f.millisecond, static_cast<int>(m.MsgType), static_cast<std::int32_t>(m.ThreadId),
                static_cast<std::int32_t>(m.ProcessId));
  std::string line = head;
  line += '\t';
  line += m.Msg;
  line += '\t';
  for (int i = 0; i < m.Details.Count(); ++i) {
    line += m.Details[i];
    line += "\r\n";
  }
  return line;
}

TRsTSObjectManager::~TRsTSObjectManager() = default;

void TRsTSObjectManager::DoSendMsg(TTraceSpot&, const TTraceSpotMsgData& msgData, bool& handled) {
  const std::uint8_t mode = Mode;
  if (mode == lmTraceSpot) {
    handled = false;
    return;
  }
  handled = true;
  if (mode == lmSingleFile || mode == lmHourlyFile || mode == lmDailyFile)
    WriteMsg(msgData, RsLogFileName(mode, LogFolder, LogFileName, msgData));
}

void TRsTSObjectManager::WriteMsg(const TTraceSpotMsgData& msgData, const std::string& fileName) {
  GetAppender().Append(RsLogLine(msgData), fileName);
}

TRsTextAppender& TRsTSObjectManager::GetAppender() {
  std::lock_guard<std::mutex> lock(FLock);
  if (!FAppender) FAppender = std::make_unique<TRsTextAppender>();
  return *FAppender;
}

bool TRsTSObjectManager::HasAppender() {
  std::lock_guard<std::mutex> lock(FLock);
  return FAppender != nullptr;
}

void TRsTSObjectManager::DisableTraceSpot() {
  if (DefaultTraceSpot) DefaultTraceSpot->SetEnabled(false);
}

void InitializeRsTsIntf() {
  if (gManager) return;
  gManager = std::make_unique<TRsTSObjectManager>();
  RsTSManager = gManager.get();
  RsTraceSpot = DefaultTraceSpot;
  if (RsTraceSpot) {
    TRsTSObjectManager* manager = RsTSManager;
    RsTraceSpot->OnSendMsg = [manager](TTraceSpot& sender, const TTraceSpotMsgData& msgData, bool& handled) {
      manager->DoSendMsg(sender, msgData, handled);
    };
  }
}

void FinalizeRsTsIntf() {
  if (!gManager) return;
  gManager->DisableTraceSpot();
  // Unhooked as well: a control message sent while the client is freed must
  // not reach a freed manager.
  if (RsTraceSpot) RsTraceSpot->OnSendMsg = nullptr;
  gManager.reset();
  RsTraceSpot = nullptr;
  RsTSManager = nullptr;
}
