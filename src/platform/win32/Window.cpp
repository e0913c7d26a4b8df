#include "platform/Window.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/win32/Termination.h"

// Real top-level windows, hidden, and the system's WM_COPYDATA between them.

namespace platform {

namespace {

// Asks a window to destroy itself on its own thread (DestroyWindow works only
// there).
constexpr UINT kDestroyRequest = WM_APP + 0x4B56;

HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)); }
WindowHandle FromHwnd(HWND window) { return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(window)); }

// The title as the system keeps it, without asking the window (which could
// belong to a thread that is not serving).
std::string Title(HWND window) {
  wchar_t buffer[1024];
  const int n = InternalGetWindowText(window, buffer, static_cast<int>(std::size(buffer)));
  if (n <= 0) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, buffer, n, nullptr, 0, nullptr, nullptr);
  std::string title(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, buffer, n, title.data(), size, nullptr, nullptr);
  return title;
}

std::string ClassName(HWND window) {
  char buffer[256];
  const int n = GetClassNameA(window, buffer, static_cast<int>(sizeof buffer));
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// What the window procedure reaches through the window.
struct Receiver {
  MessageWindow::CopyDataHandler handler;
  unsigned served = 0;
  std::exception_ptr failure;  // the handler's exception, raised again by ServeOne
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  auto* state = reinterpret_cast<Receiver*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_COPYDATA: {
      if (!state) return 0;
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      ++state->served;
      if (!state->handler) return 0;
      try {
        return static_cast<LRESULT>(
            state->handler(data->dwData, std::string_view(static_cast<const char*>(data->lpData), data->cbData)));
      } catch (...) {
        // An exception must not pass through the system's frames. Messages
        // sent before ServeOne raises it are still served (the system may
        // hand over several in one call); the first failure is the one raised.
        if (!state->failure) state->failure = std::current_exception();
        return 0;
      }
    }
    case WM_CLOSE:
      // Closing a window of a program that catches termination requests is
      // one; otherwise the window stays until its owner destroys it.
      if (win32::TerminationRequestsCaught()) win32::RequestTermination();
      return 0;
    case kDestroyRequest:
      DestroyWindow(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

struct MessageWindow::State {
  HWND window = nullptr;
  Receiver receiver;
};

MessageWindow::MessageWindow() = default;
MessageWindow::~MessageWindow() { Destroy(); }

int MessageWindow::Create(std::string_view className, std::string_view title, CopyDataHandler handler) {
  Destroy();
  auto state = std::make_unique<State>();
  state->receiver.handler = std::move(handler);
  const std::string classText(className), titleText(title);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = classText.c_str();
  // A class stays registered until the process ends: another window of the
  // same class may be created at any time on another thread.
  if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return static_cast<int>(GetLastError());
  state->window = CreateWindowExA(0, classText.c_str(), titleText.c_str(), WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, &state->receiver);
  if (!state->window) return static_cast<int>(GetLastError());
  FState = std::move(state);
  return 0;
}

WindowHandle MessageWindow::Handle() const { return FState ? FromHwnd(FState->window) : 0; }

MessageWindow::Served MessageWindow::ServeOne(int timeoutMs) {
  if (!FState) return Served::kNothing;
  const unsigned before = FState->receiver.served;
  const DWORD r = MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs),
                                              QS_ALLINPUT, MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
  if (r == WAIT_OBJECT_0) {
    // Messages sent from other threads reach the window inside PeekMessage.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));  // for the thread's own loop
        break;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (FState->receiver.failure) std::rethrow_exception(std::exchange(FState->receiver.failure, nullptr));
  return FState->receiver.served != before ? Served::kMessage : Served::kNothing;
}

void MessageWindow::Destroy() {
  if (!FState) return;
  // Messages that still arrive find no state.
  SetWindowLongPtrA(FState->window, GWLP_USERDATA, 0);
  if (!DestroyWindow(FState->window)) PostMessageA(FState->window, kDestroyRequest, 0, 0);
  FState.reset();
}

WindowHandle FindTopLevelWindow(std::string_view className, std::string_view title) {
  const std::string classText(className), titleText(title);
  // The system compares titles without regard to case; they must match exactly.
  for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, classText.c_str(), titleText.c_str()));)
    if (Title(window) == titleText) return FromHwnd(window);
  return 0;
}

std::vector<WindowInfo> ProcessWindows(std::uint32_t processId) {
  struct Search {
    std::uint32_t processId;
    std::vector<WindowInfo> found;
  } search{processId, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s.processId) return TRUE;
        // Windows of the system's classes, such as the input method's window
        // every thread with windows gets, are not the process's own.
        std::string className = ClassName(window);
        WNDCLASSEXA systemClass{};
        systemClass.cbSize = sizeof systemClass;
        if (!GetClassInfoExA(nullptr, className.c_str(), &systemClass))
          s.found.push_back({FromHwnd(window), owner, std::move(className), Title(window)});
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  // Newer windows come first in the z-order.
  std::reverse(search.found.begin(), search.found.end());
  return search.found;
}

std::uint32_t WindowProcessId(WindowHandle window) {
  DWORD processId = 0;
  return window && GetWindowThreadProcessId(ToHwnd(window), &processId) ? processId : 0;
}

std::uint32_t SendCopyData(WindowHandle window, std::uint64_t dataWord, const void* data, std::size_t size,
                           int timeoutMs) {
  if (!window || size > MAXDWORD) return 0;
  COPYDATASTRUCT copy{};
  copy.dwData = static_cast<ULONG_PTR>(dataWord);
  copy.cbData = static_cast<DWORD>(size);
  copy.lpData = const_cast<void*>(data);
  DWORD_PTR reply = 0;
  if (!SendMessageTimeoutA(ToHwnd(window), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, static_cast<UINT>(timeoutMs < 0 ? 0 : timeoutMs), &reply))
    return 0;
  return static_cast<std::uint32_t>(reply);
}

}  // namespace platform
