// The diagnostic log manager: its hook on the default TraceSpot client lets
// each message go on to the TraceSpot transport or writes it as one line to a
// log file through the asynchronous text appender.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/Object.h"
#include "diagnostics/RsTextAppenderUnit.h"
#include "diagnostics/TSIntf.h"

enum TRsLogMode : std::uint8_t {
  lmTraceSpot = 0,   // the message goes on to the TraceSpot transport
  lmSingleFile = 1,  // LogFileName as it stands
  lmHourlyFile = 2,  // LogFolder\yyyymmdd_hh.log
  lmDailyFile = 3,   // LogFolder\yyyymmdd.log
};                   // any other value drops the message

// The file a message goes to in a mode, from the message's own time stamp;
// empty for the modes that write no file.
std::string RsLogFileName(std::uint8_t mode, const std::string& logFolder, const std::string& logFileName,
                          const TTraceSpotMsgData& msgData);
// "[yyyy/mm/dd hh:MM:ss.zzz][type][thread][process]", TAB, the text, TAB, and
// each detail line followed by CR LF.
std::string RsLogLine(const TTraceSpotMsgData& msgData);

class TRsTSObjectManager : public TObject {
 public:
  TRsTSObjectManager() = default;
  // Waits until the queued lines are written.
  ~TRsTSObjectManager() override;

  // The client's OnSendMsg hook; always sets handled.
  void DoSendMsg(TTraceSpot& sender, const TTraceSpotMsgData& msgData, bool& handled);
  void WriteMsg(const TTraceSpotMsgData& msgData, const std::string& fileName);
  TRsTextAppender& GetAppender();
  bool HasAppender();
  void DisableTraceSpot();

  // Read by every message without a lock; a host sets the two names before
  // switching Mode to a file mode.
  std::atomic<std::uint8_t> Mode{lmTraceSpot};
  std::string LogFolder;
  std::string LogFileName;

 private:
  std::mutex FLock;  // guards the creation of FAppender
  std::unique_ptr<TRsTextAppender> FAppender;
};

// Start-up (after the TraceSpot client's): creates RsTSManager and installs
// its hook on the default client. Shut-down (before the client's): disables
// the client, waits for the queued lines, frees the manager.
void InitializeRsTsIntf();
void FinalizeRsTsIntf();
extern TRsTSObjectManager* RsTSManager;
extern TTraceSpot* RsTraceSpot;
