#include "diagnostics/TSIntf.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

#include "base/DateTime.h"
#include "base/Registry.h"
#include "platform/FileTime.h"
#include "platform/Guid.h"
#include "platform/Locale.h"
#include "platform/Process.h"

namespace {

// Days from 1 January of year 1 (day 1) to 1899-12-30, the date-time origin.
constexpr std::int32_t kDateDelta = 693594;
constexpr const char* kDispatcherKey = "\\Software\\Orvane\\TraceSpot\\2.0";

std::unique_ptr<TTSObjectManager> gManager;
std::unique_ptr<TTraceSpot> gClient;

std::string Cut(std::string_view text, std::size_t limit) { return std::string(text.substr(0, limit)); }

void PutU32(std::vector<std::uint8_t>& p, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

// Copies at most limit bytes; the field's zero fill terminates them.
void PutText(std::vector<std::uint8_t>& p, std::size_t at, std::string_view text, std::size_t limit) {
  const std::size_t n = std::min(text.size(), limit);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), p.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

TTSObjectManager* DefaultTSObjectManager = nullptr;
TTraceSpot* DefaultTraceSpot = nullptr;

TTimeStamp DateTimeToTimeStamp(double dateTime) {
  std::int64_t days = 0, time = 0;
  SplitDateTime(dateTime, days, time);
  return {static_cast<std::int32_t>(time), static_cast<std::int32_t>(days + kDateDelta)};
}

// --- TTSObjectManager

TTSObjectManager::~TTSObjectManager() {
  std::lock_guard<std::mutex> lock(FLock);
  for (TTraceSpot* client : FClients) client->DetachManager();
  FClients.clear();
}

int TTSObjectManager::Count() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<int>(FClients.size());
}

void TTSObjectManager::SetDefaultDestination(std::string_view destination) {
  std::vector<TTraceSpot*> clients;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FDefaultDestination = std::string(destination);
    clients = FClients;
  }
  // Outside the lock: a client that reconnects reads the destination back.
  for (TTraceSpot* client : clients) client->SetDestinationDetails(destination);
}

std::string TTSObjectManager::DefaultDestination() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FDefaultDestination;
}

void TTSObjectManager::Register(TTraceSpot* client) {
  std::lock_guard<std::mutex> lock(FLock);
  FClients.push_back(client);
}

void TTSObjectManager::Unregister(TTraceSpot* client) {
  std::lock_guard<std::mutex> lock(FLock);
  std::erase(FClients, client);
}

// --- packet

std::vector<std::uint8_t> BuildDispatcherPacket(const TTSPacketFields& f) {
  std::size_t textLength = f.Text.size();
  if (textLength >= 2 && f.Text[textLength - 2] == '\r' && f.Text[textLength - 1] == '\n') textLength -= 2;
  std::vector<std::uint8_t> p(kTSPacketHeaderSize + textLength + f.Details.size(), 0);
  PutU32(p, 0, static_cast<std::uint32_t>(f.MsgType));
  PutU32(p, 4, static_cast<std::uint32_t>(f.TimeStamp.Time));
  PutU32(p, 8, static_cast<std::uint32_t>(f.TimeStamp.Date));
  PutU32(p, 12, static_cast<std::uint32_t>(f.TimeZoneBias));
  PutU32(p, 16, static_cast<std::uint32_t>(textLength));
  PutU32(p, 20, static_cast<std::uint32_t>(f.Details.size()));
  PutU32(p, 24, f.ProcessId);
  PutU32(p, 28, f.ThreadId);
  PutText(p, 32, f.SessionId, 41);
  PutText(p, 74, f.ComputerName, 15);
  PutText(p, 90, f.AppName, 40);
  PutText(p, 131, f.Category, 40);
  PutU32(p, 172, f.CategoryColor);
  PutText(p, 176, f.ObjectClass, 40);
  PutText(p, 217, f.Text, textLength);
  PutText(p, 217 + textLength, f.Details, f.Details.size());
  return p;
}

// --- TTraceSpot

TTraceSpot::TTraceSpot() : FTimeZoneBias(platform::CurrentTimeZoneBiasMinutes()), FManager(DefaultTSObjectManager) {
  if (FManager) FManager->Register(this);
}

TTraceSpot::~TTraceSpot() {
  Disconnect();
  if (FManager) FManager->Unregister(this);
}

void TTraceSpot::SetDestinationDetails(std::string_view value) {
  if (platform::SameTextIgnoreCase(value, FDestinationDetails)) return;
  Disconnect();
  FDestinationDetails = std::string(value);
  Connect();
}

void TTraceSpot::SendMsg(std::string_view text) {
  if (!Enabled()) return;
  DispatchMsg(kTSMsgPlain, text, nullptr, {});
}

std::int32_t TTraceSpot::DispatchMsg(std::int32_t msgType, std::string_view text, const char* objectClass,
                                     std::string_view details) {
  // The messages a delivery sends on its way (closing and opening sessions)
  // share its time limit; the next delivery starts afresh.
  if (FDeliveryDepth++ == 0) {
    FDeliveryDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTSDeliveryTimeoutMs);
    FDispatcherStarted = false;
  }
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{FDeliveryDepth};

  const TTimeStamp stamp = GetTimeStamp();
  bool handled = true;
  if (CallSendMsgHook(msgType, text, objectClass, details, stamp, handled) && handled) return 0;
  if (FDeliveryFailed) return 0;
  FindDispatcher(msgType != kTSMsgSessionClose);
  // The session opened on the way may have failed.
  if (FDispatcherWindow == 0 || FDeliveryFailed) return 0;
  TTSPacketFields f;
  f.MsgType = msgType;
  f.TimeStamp = stamp;
  f.TimeZoneBias = FTimeZoneBias;
  f.ProcessId = GetProcessId();
  f.ThreadId = GetThreadId();
  f.SessionId = FSessionId;
  f.ComputerName = FComputerName;
  f.AppName = FAppName;
  f.Category = Category;
  f.CategoryColor = CategoryColor;
  f.ObjectClass = objectClass ? std::string_view(objectClass) : std::string_view();
  f.Text = text;
  f.Details = details;
  const int timeLeft = DeliveryTimeLeftMs();
  const std::int32_t reply =
      timeLeft > 0 ? SendCopyData(FDispatcherWindow, msgType, BuildDispatcherPacket(f), timeLeft) : 0;
  // A dispatcher that does not take a message is not tried again: each try
  // could cost the sender the whole time limit. A session close means
  // nothing to the sender (its dispatcher may be gone, a new one running).
  if (reply == 0 && msgType != kTSMsgSessionClose) {
    FDeliveryFailed = true;
    SetEnabled(false);
  }
  return reply;
}

int TTraceSpot::DeliveryTimeLeftMs() const {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(FDeliveryDeadline - std::chrono::steady_clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, kTSDeliveryTimeoutMs));
}

bool TTraceSpot::CallSendMsgHook(std::int32_t msgType, std::string_view text, const char* objectClass,
                                 std::string_view details, const TTimeStamp& stamp, bool& handled) {
  if (!OnSendMsg) return false;
  // While a hook is installed, a session announced to the dispatcher is
  // closed before the next message goes to the hook.
  if (FSessionOpen) Disconnect();
  if (msgType >= 40 && msgType <= 99) return false;
  TTraceSpotMsgData data;
  data.MsgType = msgType;
  data.Msg = std::string(text);
  if (!details.empty()) data.Details.SetText(details);
  data.ProcessId = GetProcessId();
  data.ThreadId = GetThreadId();
  data.ComputerName = Cut(FComputerName, TTraceSpotMsgData::kComputerNameLimit);
  data.AppName = Cut(FAppName, TTraceSpotMsgData::kNameLimit);
  data.ObjectClass =
      Cut(objectClass ? std::string_view(objectClass) : std::string_view(), TTraceSpotMsgData::kNameLimit);
  data.Category = Cut(Category, TTraceSpotMsgData::kNameLimit);
  data.CategoryColor = CategoryColor;
  data.TimeStamp = stamp;
  OnSendMsg(*this, data, handled);
  return true;
}

TTimeStamp TTraceSpot::GetTimeStamp() { return DateTimeToTimeStamp(Now()); }
std::uint32_t TTraceSpot::GetProcessId() { return platform::CurrentProcessId(); }
std::uint32_t TTraceSpot::GetThreadId() { return platform::CurrentThreadId(); }
std::string TTraceSpot::GetComputerName() { return platform::ComputerName(); }

std::string TTraceSpot::GetAppName() {
  std::string name = platform::ProgramFileName();
  name = name.substr(name.find_last_of("\\/") == std::string::npos ? 0 : name.find_last_of("\\/") + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return Cut(name, TTraceSpotMsgData::kNameLimit);
}

void TTraceSpot::FindDispatcher(bool autostart) {
  const platform::WindowHandle window = LocateDispatcher(autostart);
  EnsureSession(window);
  FDispatcherWindow = window;
}

platform::WindowHandle TTraceSpot::FindDispatcherWindow() {
  return platform::FindTopLevelWindow(GetDispatcherClassName(), GetDispatcherTitle());
}

platform::WindowHandle TTraceSpot::LocateDispatcher(bool autostart) {
  platform::WindowHandle window = FindDispatcherWindow();
  // One start per delivery at most, and none for a client that has given up
  // or a delivery out of time: the start that failed (or the one that just
  // brought the dispatcher up) decides.
  if (window != 0 || !autostart || !Enabled() || FDispatcherStarted || DeliveryTimeLeftMs() == 0) return window;
  FDispatcherStarted = true;
  std::string commandLine;
  try {
    TRegistry registry;
    if (registry.OpenKey(kDispatcherKey, false)) commandLine = registry.ReadString(GetDispatcherPathValue());
  } catch (const Exception&) {
    // A value of another type counts as missing: delivery never raises.
  }
  if (commandLine.empty()) commandLine = GetDispatcherExeName();
  return LaunchDispatcher(commandLine);
}

platform::WindowHandle TTraceSpot::LaunchDispatcher(const std::string& commandLine) {
  // A program that does not come up within the delivery's time is ended.
  std::uint32_t processId = 0;
  if (platform::StartWindowedProcess(commandLine, DeliveryTimeLeftMs(), processId) != 0) {
    SetEnabled(false);
    return 0;
  }
  platform::WindowHandle window = 0;
  for (const platform::WindowInfo& w : platform::ProcessWindows(processId))
    if (!w.title.empty() && w.title.substr(0, 254) == GetDispatcherTitle()) {
      window = w.handle;
      break;
    }
  Connect();
  return window;
}

void TTraceSpot::EnsureSession(platform::WindowHandle window) {
  if (FSessionId.empty())
    Connect();
  else if (!FConnecting && window != FDispatcherWindow && window != 0)
    Reconnect();
}

std::string TTraceSpot::Destination() const {
  if (!FDestinationDetails.empty()) return FDestinationDetails;
  return FManager ? FManager->DefaultDestination() : std::string("Viewer");
}

void TTraceSpot::Connect() {
  FConnecting = true;
  try {
    OpenSession();
    FSessionOpen = true;
    if (FComputerName.empty()) FComputerName = Cut(GetComputerName(), TTraceSpotMsgData::kComputerNameLimit);
    if (FAppName.empty()) FAppName = GetAppName();
    if (FSessionId.empty()) SetEnabled(false);
  } catch (...) {
    FConnecting = false;
    throw;
  }
  FConnecting = false;
}

void TTraceSpot::OpenSession() {
  if (!FSessionId.empty()) return;
  FSessionId = platform::NewGuidText();
  if (DispatchMsg(kTSMsgSessionOpen, Destination(), nullptr, {}) == 0) SetEnabled(false);
}

void TTraceSpot::Reconnect() {
  FConnecting = true;
  FSessionOpen = true;
  if (DispatchMsg(kTSMsgSessionOpen, Destination(), nullptr, {}) == 0) SetEnabled(false);
  FConnecting = false;
}

void TTraceSpot::Disconnect() {
  if (FSessionId.empty()) return;
  FSessionOpen = false;
  DispatchMsg(kTSMsgSessionClose, {}, nullptr, {});
  FSessionId.clear();
}

std::int32_t TTraceSpot::SendCopyData(platform::WindowHandle window, std::int32_t msgType,
                                      const std::vector<std::uint8_t>& packet, int timeoutMs) {
  return static_cast<std::int32_t>(
      platform::SendCopyData(window, static_cast<std::uint32_t>(msgType), packet.data(), packet.size(), timeoutMs));
}

void TTraceSpot::DetachManager() { FManager = nullptr; }

// --- unit start-up and shut-down

void InitializeTSIntf() {
  if (gManager) return;
  gManager = std::make_unique<TTSObjectManager>();
  DefaultTSObjectManager = gManager.get();
  gClient = std::make_unique<TTraceSpot>();
  DefaultTraceSpot = gClient.get();
}

void FinalizeTSIntf() {
  DefaultTraceSpot = nullptr;
  gClient.reset();
  DefaultTSObjectManager = nullptr;
  gManager.reset();
}
