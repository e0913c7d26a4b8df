// The TraceSpot client: turns diagnostic calls into messages, offers each to
// the OnSendMsg hook and delivers the rest to the TraceSpot dispatcher, a
// separate program found by its window (and started when it is not running).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/Object.h"
#include "base/StringList.h"
#include "platform/Window.h"

class TTraceSpot;

// Message type codes; 40 to 99 are control messages, never shown to the hook.
constexpr std::int32_t kTSMsgPlain = 1;
constexpr std::int32_t kTSMsgError = 2;
constexpr std::int32_t kTSMsgObject = 4;
constexpr std::int32_t kTSMsgEnterMethod = 9;
constexpr std::int32_t kTSMsgExitMethod = 10;
constexpr std::int32_t kTSMsgSessionOpen = 41;
constexpr std::int32_t kTSMsgSessionClose = 42;

// What one message may cost its sender at most, the search for the
// dispatcher, its start and the session messages sent on the way included.
constexpr int kTSDeliveryTimeoutMs = 3000;

// Local time of a message: milliseconds since midnight, and the day number
// counted from 1 January of year 1 as day 1.
struct TTimeStamp {
  std::int32_t Time = 0;
  std::int32_t Date = 0;
};

TTimeStamp DateTimeToTimeStamp(double dateTime);

// The message as the hook sees it. The short texts are cut to their limits.
struct TTraceSpotMsgData {
  static constexpr std::size_t kComputerNameLimit = 15;
  static constexpr std::size_t kNameLimit = 40;

  std::int32_t MsgType = 0;
  std::string Msg;
  TStringList Details;  // detail lines; empty for plain messages
  std::uint32_t ProcessId = 0;
  std::uint32_t ThreadId = 0;
  std::string ComputerName;
  std::string AppName;
  std::string ObjectClass;
  std::string Category;
  std::uint32_t CategoryColor = 0;
  TTimeStamp TimeStamp;
};

using TTSSendMsgEvent = std::function<void(TTraceSpot& sender, const TTraceSpotMsgData& msgData, bool& handled)>;

// Registry of every client and holder of the default destination.
class TTSObjectManager : public TObject {
 public:
  TTSObjectManager() = default;
  // Clients still registered are detached, not freed: their owners free them.
  ~TTSObjectManager() override;

  virtual int Count() const;
  virtual void SetDefaultDestination(std::string_view destination);
  std::string DefaultDestination() const;

  void Register(TTraceSpot* client);
  void Unregister(TTraceSpot* client);

 private:
  mutable std::mutex FLock;  // guards the list and the destination
  std::vector<TTraceSpot*> FClients;
  std::string FDefaultDestination = "Viewer";
};

// The dispatcher packet that carries one message (little-endian, zero-filled).
struct TTSPacketFields {
  std::int32_t MsgType = 0;
  TTimeStamp TimeStamp;
  std::int32_t TimeZoneBias = 0;
  std::uint32_t ProcessId = 0;
  std::uint32_t ThreadId = 0;
  std::string_view SessionId, ComputerName, AppName, Category, ObjectClass;
  std::uint32_t CategoryColor = 0;
  std::string_view Text, Details;
};
constexpr std::size_t kTSPacketHeaderSize = 220;
// The message length excludes one final CR LF of the text.
std::vector<std::uint8_t> BuildDispatcherPacket(const TTSPacketFields& fields);

class TTraceSpot : public TObject {
 public:
  TTraceSpot();
  ~TTraceSpot() override;

  // Properties. Enabled may be read from any thread.
  const std::string& DestinationDetails() const { return FDestinationDetails; }
  virtual void SetDestinationDetails(std::string_view value);
  bool Enabled() const { return FEnabled.load(std::memory_order_relaxed); }
  void SetEnabled(bool value) { FEnabled.store(value, std::memory_order_relaxed); }
  std::string Category;
  std::uint32_t CategoryColor = 0xFF000005;  // the system's window background colour
  std::string DateTimeFormat;
  std::string HexNumPrefix = "$";
  std::int32_t HexViewWidth = 8;
  char QuoteChar = '\'';
  TTSSendMsgEvent OnSendMsg;

  const std::string& SessionId() const { return FSessionId; }
  bool SessionOpen() const { return FSessionOpen; }
  platform::WindowHandle DispatcherWindow() const { return FDispatcherWindow; }
  std::int32_t TimeZoneBias() const { return FTimeZoneBias; }

  // A plain message; nothing while disabled.
  void SendMsg(std::string_view text);
  // The dispatcher's reply, 0 when not delivered. Does not test Enabled.
  virtual std::int32_t DispatchMsg(std::int32_t msgType, std::string_view text, const char* objectClass,
                                   std::string_view details);

  virtual void Connect();
  virtual void Reconnect();
  virtual void Disconnect();

 protected:
  virtual TTimeStamp GetTimeStamp();
  virtual std::uint32_t GetProcessId();
  virtual std::uint32_t GetThreadId();
  virtual std::string GetComputerName();
  virtual std::string GetAppName();
  virtual void FindDispatcher(bool autostart);
  virtual void EnsureSession(platform::WindowHandle window);
  virtual std::string GetDispatcherClassName() { return "TFrmDispatcher"; }
  virtual std::string GetDispatcherTitle() { return "TraceSpot Dispatcher"; }
  virtual std::string GetDispatcherPathValue() { return "DispatcherPath"; }
  virtual std::string GetDispatcherExeName() { return "TSDispatcher.exe"; }
  virtual platform::WindowHandle LaunchDispatcher(const std::string& commandLine);
  virtual platform::WindowHandle FindDispatcherWindow();
  virtual platform::WindowHandle LocateDispatcher(bool autostart);
  virtual std::int32_t SendCopyData(platform::WindowHandle window, std::int32_t msgType,
                                    const std::vector<std::uint8_t>& packet, int timeoutMs);
  // What is left of the current delivery's time limit; 0 when it is spent.
  int DeliveryTimeLeftMs() const;

  // Whether the hook ran; Handled tells whether it took the message over.
  bool CallSendMsgHook(std::int32_t msgType, std::string_view text, const char* objectClass, std::string_view details,
                       const TTimeStamp& stamp, bool& handled);
  void OpenSession();
  std::string Destination() const;

 private:
  friend class TTSObjectManager;
  void DetachManager();

  std::string FDestinationDetails;
  std::atomic<bool> FEnabled{true};
  std::string FSessionId;
  bool FConnecting = false;
  bool FSessionOpen = false;
  std::string FComputerName;
  std::string FAppName;
  std::int32_t FTimeZoneBias = 0;
  platform::WindowHandle FDispatcherWindow = 0;
  TTSObjectManager* FManager = nullptr;
  // The current delivery: how deep DispatchMsg is nested, its deadline, and
  // whether it started the dispatcher already.
  int FDeliveryDepth = 0;
  std::chrono::steady_clock::time_point FDeliveryDeadline;
  bool FDispatcherStarted = false;
  // Set by the first message the dispatcher did not take; nothing is sent
  // (or looked for) after it.
  bool FDeliveryFailed = false;
};

// Start-up and shut-down of the unit: the manager, then the default client;
// freed in reverse order, and both globals become null. Other units that use
// the client start after this one and stop before it.
void InitializeTSIntf();
void FinalizeTSIntf();
extern TTSObjectManager* DefaultTSObjectManager;
extern TTraceSpot* DefaultTraceSpot;
