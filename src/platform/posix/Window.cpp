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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

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
constexpr int kReplyTimeoutMs = 5000;

std::atomic<std::uint32_t> gSerial{0};

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

// Waits until fd is ready or the deadline (steady ms) passes.
bool WaitFd(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = poll(&p, 1, timeoutMs);
    if (r > 0) return true;
    if (r == 0 || errno != EINTR) return false;
  }
}

bool SendAll(int fd, const char* data, std::size_t size, int timeoutMs) {
  while (size > 0) {
    if (!WaitFd(fd, POLLOUT, timeoutMs)) return false;
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

bool ReceiveAll(int fd, char* data, std::size_t size, int timeoutMs) {
  while (size > 0) {
    if (!WaitFd(fd, POLLIN, timeoutMs)) return false;
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

// A connection to the window's socket, or -1.
int ConnectTo(WindowHandle window) {
  const std::string folder = WindowFolder();
  sockaddr_un address;
  if (window == 0 || folder.empty() || !MakeAddress(folder + "/" + EntryName(window), address)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool Probe(WindowHandle window) {
  Socket s(ConnectTo(window));
  if (s.Fd() < 0) return false;
  char header[kHeaderSize] = {};
  PutU32(header, kMagic);
  PutU32(header + 4, kKindProbe);
  return SendAll(s.Fd(), header, sizeof header, kReplyTimeoutMs);
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

struct MessageWindow::State {
  Socket listener;
  std::string socketPath;
  std::string infoPath;
  WindowHandle handle = 0;
  CopyDataHandler handler;
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
  state->listener.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
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
  pollfd p{FState->listener.Fd(), POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return Served::kNothing;
  Socket peer(accept4(FState->listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC));
  if (peer.Fd() < 0) return Served::kNothing;
  char header[kHeaderSize];
  if (!ReceiveAll(peer.Fd(), header, 8, kReplyTimeoutMs)) return Served::kRejected;
  if (GetU32(header) == kMagic && GetU32(header + 4) == kKindProbe) return Served::kNothing;
  char reply[4] = {};
  if (GetU32(header) != kMagic || GetU32(header + 4) != kKindCopyData ||
      !ReceiveAll(peer.Fd(), header + 8, kHeaderSize - 8, kReplyTimeoutMs)) {
    SendAll(peer.Fd(), reply, sizeof reply, kReplyTimeoutMs);
    return Served::kRejected;
  }
  const std::uint64_t dataWord = GetU32(header + 8) | (static_cast<std::uint64_t>(GetU32(header + 12)) << 32);
  const std::uint32_t size = GetU32(header + 16);
  std::string data;
  if (size > kMaxData) {
    SendAll(peer.Fd(), reply, sizeof reply, kReplyTimeoutMs);
    return Served::kRejected;
  }
  data.resize(size);
  if (!ReceiveAll(peer.Fd(), data.data(), size, kReplyTimeoutMs)) return Served::kRejected;
  PutU32(reply, FState->handler ? FState->handler(dataWord, data) : 0);
  SendAll(peer.Fd(), reply, sizeof reply, kReplyTimeoutMs);
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

std::uint32_t SendCopyData(WindowHandle window, std::uint64_t dataWord, const void* data, std::size_t size) {
  if (size > kMaxData) return 0;
  Socket s(ConnectTo(window));
  if (s.Fd() < 0) return 0;
  char header[kHeaderSize];
  PutU32(header, kMagic);
  PutU32(header + 4, kKindCopyData);
  PutU32(header + 8, static_cast<std::uint32_t>(dataWord));
  PutU32(header + 12, static_cast<std::uint32_t>(dataWord >> 32));
  PutU32(header + 16, static_cast<std::uint32_t>(size));
  char reply[4];
  if (!SendAll(s.Fd(), header, sizeof header, kReplyTimeoutMs) ||
      !SendAll(s.Fd(), static_cast<const char*>(data), size, kReplyTimeoutMs) ||
      !ReceiveAll(s.Fd(), reply, sizeof reply, kReplyTimeoutMs))
    return 0;
  return GetU32(reply);
}

}  // namespace platform
