#include "platform/Window.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Locale.h"

// A window is a Unix-domain stream socket "<pid>.<serial>" in a per-user
// folder, with "<pid>.<serial>.win" beside it holding the class and the title.
// Every message is one connection: a frame from the sender, a 32-bit reply
// from the receiver.

namespace platform {

namespace {

constexpr std::uint32_t kMagic = 0x4D57564B;  // "KVWM"
constexpr std::uint32_t kKindProbe = 0;       // a finder checking that the window lives
constexpr std::uint32_t kKindCopyData = 0x004A;
constexpr std::size_t kHeaderSize = 20;
constexpr std::uint32_t kMaxData = 64u << 20;
// A peer has this long to send its whole frame, so that a slow or stuck one
// cannot keep the window from the others for longer.
constexpr int kPeerTimeoutMs = 5000;
// Connections read at once; more wait in the listener's queue.
constexpr std::size_t kMaxPeers = 256;

using Clock = std::chrono::steady_clock;

std::atomic<std::uint32_t> gSerial{0};

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

Clock::time_point After(int timeoutMs) { return Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0)); }

// The per-user folder, created when missing; empty when it is not safe to use
// (someone else's, open to others, or not a folder).
std::string WindowFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string folder = runtime && *runtime ? std::string(runtime) + "/kestrova-windows"
                                                 : "/tmp/kestrova-windows-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0)
    return {};
  return folder;
}

std::string EntryName(WindowHandle window) {
  return std::to_string(window >> 32) + "." + std::to_string(window & 0xFFFFFFFFu);
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

void PutU32(char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t GetU32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

// Waits until fd is ready or the deadline passes.
bool WaitFd(int fd, short events, Clock::time_point deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = poll(&p, 1, RemainingMs(deadline));
    if (r > 0) return true;
    if (r == 0 || errno != EINTR) return false;
  }
}

bool SendAll(int fd, const char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    if (!WaitFd(fd, POLLOUT, deadline)) return false;
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    if (!WaitFd(fd, POLLIN, deadline)) return false;
    const ssize_t n = recv(fd, data, size, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

class Socket {
 public:
  explicit Socket(int fd = -1) : FFd(fd) {}
  ~Socket() {
    if (FFd >= 0) close(FFd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Fd() const { return FFd; }
  void Reset(int fd) {
    if (FFd >= 0) close(FFd);
    FFd = fd;
  }

 private:
  int FFd;
};

// One non-blocking attempt to connect to the window's socket: the descriptor,
// or -1 with errno set. EAGAIN means the window lives but its queue of
// waiting connections is full (it is busy, or not serving at all).
int ConnectTo(WindowHandle window) {
  const std::string folder = WindowFolder();
  sockaddr_un address;
  if (window == 0 || folder.empty() || !MakeAddress(folder + "/" + EntryName(window), address)) {
    errno = ENOENT;
    return -1;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Connects before the deadline; a full queue is tried again until then.
int ConnectBefore(WindowHandle window, Clock::time_point deadline) {
  for (;;) {
    const int fd = ConnectTo(window);
    if (fd >= 0 || (errno != EAGAIN && errno != EINTR)) return fd;
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(10), deadline - Clock::now()));
  }
}

// Never waits: a window whose queue is full lives too.
bool Probe(WindowHandle window) {
  Socket s(ConnectTo(window));
  if (s.Fd() < 0) return errno == EAGAIN;
  char header[kHeaderSize] = {};
  PutU32(header, kMagic);
  PutU32(header + 4, kKindProbe);
  return SendAll(s.Fd(), header, sizeof header, Clock::now());
}

// Every registered window of the folder, optionally only those of one process.
std::vector<WindowInfo> ListWindows(bool oneProcess, std::uint32_t processId) {
  std::vector<WindowInfo> out;
  const std::string folder = WindowFolder();
  if (folder.empty()) return out;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    unsigned long pid = 0, serial = 0;
    char tail[8] = {};
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".win") != 0 ||
        std::sscanf(name.c_str(), "%lu.%lu%7s", &pid, &serial, tail) != 3 || std::strcmp(tail, ".win") != 0 ||
        pid > 0xFFFFFFFFul || serial > 0xFFFFFFFFul)
      continue;
    if (oneProcess && pid != processId) continue;
    std::ifstream in(folder + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string content = text.str();
    const std::size_t zero = content.find('\0');
    if (zero == std::string::npos) continue;
    WindowInfo info;
    info.processId = static_cast<std::uint32_t>(pid);
    info.handle = (static_cast<WindowHandle>(pid) << 32) | serial;
    info.className = content.substr(0, zero);
    info.title = content.substr(zero + 1);
    out.push_back(std::move(info));
  }
  closedir(dir);
  std::sort(out.begin(), out.end(), [](const WindowInfo& a, const WindowInfo& b) { return a.handle < b.handle; });
  return out;
}

}  // namespace

// A connection that is still sending its frame, or whose frame is whole.
struct Peer {
  enum class Frame { kPartial, kProbe, kWhole, kMalformed, kBroken };

  Socket socket;
  std::string bytes;  // received so far
  Clock::time_point deadline;
  Frame frame = Frame::kPartial;

  // Reads what has arrived and classifies the frame.
  void Read() {
    char chunk[65536];
    for (;;) {
      const ssize_t n = recv(socket.Fd(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (Classify() != Frame::kPartial) return;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || errno != EAGAIN) frame = Frame::kBroken;  // ended or failed before its frame was whole
      return;
    }
  }

  Frame Classify() {
    if (bytes.size() < 8) return frame;
    const std::uint32_t magic = GetU32(bytes.data()), kind = GetU32(bytes.data() + 4);
    if (magic == kMagic && kind == kKindProbe) return frame = Frame::kProbe;
    if (magic != kMagic || kind != kKindCopyData) return frame = Frame::kMalformed;
    if (bytes.size() < kHeaderSize) return frame;
    const std::uint32_t size = GetU32(bytes.data() + 16);
    if (size > kMaxData) return frame = Frame::kMalformed;
    if (bytes.size() >= kHeaderSize + size) return frame = Frame::kWhole;
    return frame;
  }

  // Best effort: four bytes fit into an unread connection at once.
  void Reply(std::uint32_t value) {
    char reply[4];
    PutU32(reply, value);
    SendAll(socket.Fd(), reply, sizeof reply, Clock::now());
  }
};

struct MessageWindow::State {
  Socket listener;
  std::string socketPath;
  std::string infoPath;
  WindowHandle handle = 0;
  CopyDataHandler handler;
  // Peers are read side by side, so a slow one holds up no other; the ones
  // done reading wait in `done`, in the order they finished, for ServeOne.
  std::vector<std::unique_ptr<Peer>> reading;
  std::deque<std::unique_ptr<Peer>> done;

  void Accept() {
    while (reading.size() + done.size() < kMaxPeers) {
      const int fd = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) return;
      auto peer = std::make_unique<Peer>();
      peer->socket.Reset(fd);
      peer->deadline = After(kPeerTimeoutMs);
      reading.push_back(std::move(peer));
    }
  }

  // Moves the peers that are done to `done`; a probe is just closed. A peer
  // out of time counts as broken off.
  void Sort() {
    const Clock::time_point now = Clock::now();
    std::vector<std::unique_ptr<Peer>> still;
    for (std::unique_ptr<Peer>& peer : reading) {
      if (peer->frame == Peer::Frame::kPartial && now >= peer->deadline) peer->frame = Peer::Frame::kBroken;
      if (peer->frame == Peer::Frame::kPartial)
        still.push_back(std::move(peer));
      else if (peer->frame != Peer::Frame::kProbe)
        done.push_back(std::move(peer));
    }
    reading = std::move(still);
  }
};

MessageWindow::MessageWindow() = default;
MessageWindow::~MessageWindow() { Destroy(); }

int MessageWindow::Create(std::string_view className, std::string_view title, CopyDataHandler handler) {
  Destroy();
  const std::string folder = WindowFolder();
  if (folder.empty()) return EACCES;
  auto state = std::make_unique<State>();
  const std::uint32_t serial = ++gSerial;
  state->handle = (static_cast<WindowHandle>(getpid()) << 32) | serial;
  state->socketPath = folder + "/" + EntryName(state->handle);
  state->infoPath = state->socketPath + ".win";
  state->handler = std::move(handler);
  sockaddr_un address;
  if (!MakeAddress(state->socketPath, address)) return ENAMETOOLONG;
  unlink(state->socketPath.c_str());  // left by an earlier process of the same id
  state->listener.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (state->listener.Fd() < 0) return errno;
  if (bind(state->listener.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return errno;
  if (chmod(state->socketPath.c_str(), 0600) != 0 || listen(state->listener.Fd(), 64) != 0) {
    const int error = errno;
    unlink(state->socketPath.c_str());
    return error;
  }
  // The description appears last and at once, so a finder never sees a
  // window that cannot take messages yet.
  const std::string temporary = state->socketPath + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << className << '\0' << title;
    if (!out.flush()) {
      unlink(state->socketPath.c_str());
      return EIO;
    }
  }
  chmod(temporary.c_str(), 0600);
  if (rename(temporary.c_str(), state->infoPath.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    unlink(state->socketPath.c_str());
    return error;
  }
  FState = std::move(state);
  return 0;
}

WindowHandle MessageWindow::Handle() const { return FState ? FState->handle : 0; }

MessageWindow::Served MessageWindow::ServeOne(int timeoutMs) {
  if (!FState) return Served::kNothing;
  State& state = *FState;
  const Clock::time_point deadline = After(timeoutMs);
  while (state.done.empty()) {
    std::vector<pollfd> fds;
    const bool listening = state.reading.size() < kMaxPeers;
    if (listening) fds.push_back({state.listener.Fd(), POLLIN, 0});
    int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
    for (const auto& peer : state.reading) {
      fds.push_back({peer->socket.Fd(), POLLIN, 0});
      const int left = RemainingMs(peer->deadline);
      wait = wait < 0 ? left : std::min(wait, left);
    }
    const int r = poll(fds.data(), fds.size(), wait);
    if (r < 0) return Served::kNothing;  // a signal ends the wait
    std::size_t at = listening ? 1 : 0;
    for (const auto& peer : state.reading)
      if (fds[at++].revents != 0) peer->Read();
    if (listening && fds[0].revents != 0) state.Accept();
    state.Sort();
    if (state.done.empty() && timeoutMs >= 0 && Clock::now() >= deadline) return Served::kNothing;
  }
  const std::unique_ptr<Peer> peer = std::move(state.done.front());
  state.done.pop_front();
  if (peer->frame != Peer::Frame::kWhole) {
    if (peer->frame == Peer::Frame::kMalformed) peer->Reply(0);
    return Served::kRejected;
  }
  const char* header = peer->bytes.data();
  const std::uint64_t dataWord = GetU32(header + 8) | (static_cast<std::uint64_t>(GetU32(header + 12)) << 32);
  const std::string_view data(header + kHeaderSize, GetU32(header + 16));
  std::uint32_t reply = 0;
  try {
    if (state.handler) reply = state.handler(dataWord, data);
  } catch (...) {
    peer->Reply(0);
    throw;
  }
  peer->Reply(reply);
  return Served::kMessage;
}

void MessageWindow::Destroy() {
  if (!FState) return;
  unlink(FState->infoPath.c_str());
  unlink(FState->socketPath.c_str());
  FState.reset();
}

WindowHandle FindTopLevelWindow(std::string_view className, std::string_view title) {
  for (const WindowInfo& w : ListWindows(false, 0))
    if (SameTextIgnoreCase(w.className, className) && w.title == title && Probe(w.handle)) return w.handle;
  return 0;
}

std::vector<WindowInfo> ProcessWindows(std::uint32_t processId) {
  std::vector<WindowInfo> windows = ListWindows(true, processId);
  std::erase_if(windows, [](const WindowInfo& w) { return !Probe(w.handle); });
  return windows;
}

std::uint32_t WindowProcessId(WindowHandle window) { return static_cast<std::uint32_t>(window >> 32); }

std::uint32_t SendCopyData(WindowHandle window, std::uint64_t dataWord, const void* data, std::size_t size,
                           int timeoutMs) {
  if (size > kMaxData) return 0;
  const Clock::time_point deadline = After(timeoutMs);
  Socket s(ConnectBefore(window, deadline));
  if (s.Fd() < 0) return 0;
  char header[kHeaderSize];
  PutU32(header, kMagic);
  PutU32(header + 4, kKindCopyData);
  PutU32(header + 8, static_cast<std::uint32_t>(dataWord));
  PutU32(header + 12, static_cast<std::uint32_t>(dataWord >> 32));
  PutU32(header + 16, static_cast<std::uint32_t>(size));
  char reply[4];
  if (!SendAll(s.Fd(), header, sizeof header, deadline) ||
      !SendAll(s.Fd(), static_cast<const char*>(data), size, deadline) ||
      !ReceiveAll(s.Fd(), reply, sizeof reply, deadline))
    return 0;
  return GetU32(reply);
}

}  // namespace platform
