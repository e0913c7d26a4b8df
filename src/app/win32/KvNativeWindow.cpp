#include "app/win32/KvNativeWindow.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <numeric>

#include "app/win32/KvMessageBox.h"
#include "base/Exception.h"
#include "platform/CodePage.h"

namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

std::wstring Wide(const std::string& text) {
  const std::u16string wide = platform::ToWide(text);
  return std::wstring(wide.begin(), wide.end());
}

// The message boxes' title: the program's name, as no application title is set.
std::wstring ProgramTitle() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length < MAX_PATH ? length : 0);
  name.erase(0, name.find_last_of(L"\\/") + 1);
  const std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  return name;
}

void RegisterWindowClass(WNDPROC proc) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kKvWindowClass;
  // A second window of the same process (the tests make several) finds the
  // class already there.
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw Exception("RegisterClassEx failed");
}

HFONT CreateDesignFont(int pixels) {
  return CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Wide(kKvFontName).c_str());
}

int LineHeight(HFONT font) {
  HDC dc = GetDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return metrics.tmHeight;
}

// The design's font fills the 12-pixel labels exactly. A stand-in for it
// may take a row more at that size (IPAPGothic under Wine: 13), and a label
// cuts off that row, the descenders of g, p and y. The font is taken at the
// largest size whose line fits.
HFONT CreateWindowFont() {
  int pixels = kKvFontPixels;
  HFONT font = CreateDesignFont(pixels);
  while (font && pixels > 1 && LineHeight(font) > KvLabelHeight()) {
    DeleteObject(font);
    font = CreateDesignFont(--pixels);
  }
  return font;
}

// The order of creation is the order of the Tab key: labels first (they take
// no focus), then the buttons by their tab order.
std::array<int, std::size(kKvControlDesigns)> CreationOrder() {
  std::array<int, std::size(kKvControlDesigns)> order{};
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [](int a, int b) { return kKvControlDesigns[a].tabOrder < kKvControlDesigns[b].tabOrder; });
  return order;
}

}  // namespace

struct TKvNativeWindowProc {
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* self = static_cast<TKvNativeWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      self->FWindow = window;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TKvNativeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    // An exception must not unwind through the system's frames: like any
    // error that ends an event handler it goes to the error display.
    try {
      return self->OnMessage(message, wParam, lParam);
    } catch (const std::exception& e) {
      self->ShowError(e.what());
    } catch (...) {
      self->ShowError("Unknown exception");
    }
    return 0;
  }
};

TKvNativeWindow::TKvNativeWindow() {
  RegisterWindowClass(&TKvNativeWindowProc::Proc);
  // The client area is the design's; the frame is whatever the system's
  // metrics make of it (622 x 129 with the classic ones).
  RECT outer{0, 0, kKvClientWidth, kKvClientHeight};
  AdjustWindowRectEx(&outer, kWindowStyle, FALSE, kWindowExStyle);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int left = area.left + (area.right - area.left - width) / 2;
  const int top = area.top + (area.bottom - area.top - height) / 2;

  FFont = CreateWindowFont();
  if (!CreateWindowExW(kWindowExStyle, kKvWindowClass, Wide(kKvWindowCaption).c_str(), kWindowStyle, left, top, width,
                       height, nullptr, nullptr, GetModuleHandleW(nullptr), this)) {
    if (FFont) DeleteObject(FFont);
    throw Exception("CreateWindowEx failed");
  }

  for (const int index : CreationOrder()) {
    const TKvControlDesign& design = kKvControlDesigns[index];
    DWORD style = WS_CHILD | (design.visible ? WS_VISIBLE : 0);
    if (design.isButton) {
      style |= WS_TABSTOP | BS_PUSHBUTTON;
    } else {
      // A folder name with '&' is shown as it is, not as a mnemonic.
      style |= SS_NOPREFIX | (design.rightAligned ? SS_RIGHT : SS_LEFT);
    }
    HWND control = CreateWindowExW(0, design.isButton ? L"BUTTON" : L"STATIC", Wide(design.caption).c_str(), style,
                                   design.left, design.top, design.width, design.height, FWindow,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(KvControlId(design.control))),
                                   GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    FControls[index] = control;
    FCaptions[index] = design.caption;
  }

  FForm = std::make_unique<TKvAccesslogUpdaterForm>(*this);
  PlaceControls();
}

TKvNativeWindow::~TKvNativeWindow() {
  // The form drives this view; it goes first.
  FForm->FormDestroy();
  FForm.reset();
  if (FWindow) {
    // Destroyed by its owner, not closed by the user: no quit message.
    SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
    DestroyWindow(FWindow);
  }
  if (FFont) DeleteObject(FFont);
  if (FWaitCursor) ::SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void TKvNativeWindow::FormCreate(const std::string& iniFileName) { FForm->FormCreate(iniFileName); }

void TKvNativeWindow::Show() {
  ShowWindow(FWindow, SW_SHOWNORMAL);
  UpdateWindow(FWindow);
  SetFocus(Control(TKvControl::btnExecute));
}

int TKvNativeWindow::Run() {
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) Dispatch(&message);
  return got < 0 ? 1 : static_cast<int>(message.wParam);
}

void TKvNativeWindow::Dispatch(void* message) {
  MSG* msg = static_cast<MSG*>(message);
  if (FWindow && IsDialogMessageW(FWindow, msg)) return;
  TranslateMessage(msg);
  DispatchMessageW(msg);
}

std::string TKvNativeWindow::Caption(TKvControl control) const {
  // The bytes as they were set: a run reads its folder from here, and a
  // round trip through UTF-16 would turn bytes that form no character into '?'.
  return FCaptions[static_cast<int>(control)];
}

void TKvNativeWindow::SetCaption(TKvControl control, const std::string& text) {
  FCaptions[static_cast<int>(control)] = text;
  SetWindowTextW(Control(control), Wide(text).c_str());
  RECT client;
  GetClientRect(FWindow, &client);
  PlaceControl(KvControlDesign(control), client.right, client.bottom);
}

void TKvNativeWindow::SetVisible(TKvControl control, bool visible) {
  HWND child = Control(control);
  ShowWindow(child, visible ? SW_SHOWNA : SW_HIDE);
  // The keyboard follows the button swap: the focus would otherwise stay on
  // the hidden one.
  if (visible && KvControlDesign(control).isButton) {
    HWND focus = GetFocus();
    if (focus == FWindow || (focus && GetParent(focus) == FWindow && !IsWindowVisible(focus))) SetFocus(child);
  }
}

void TKvNativeWindow::SetCursor(TKvCursor cursor) {
  FWaitCursor = cursor == TKvCursor::crHourGlass;
  // Shown at once, and kept by WM_SETCURSOR.
  ::SetCursor(LoadCursorW(nullptr, FWaitCursor ? IDC_WAIT : IDC_ARROW));
}

void TKvNativeWindow::ShowMessage(const std::string& text) {
  KvMessageBox(FWindow, FFont, ProgramTitle(), Wide(text), false);
}

void TKvNativeWindow::ShowError(const std::string& message) {
  KvMessageBox(FWindow, FFont, ProgramTitle(), Wide(message), true);
}

void TKvNativeWindow::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Left for the application's loop, which ends on it.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(&message);
  }
}

void TKvNativeWindow::Terminate() {
  FTerminated = true;
  ShowWindow(FWindow, SW_HIDE);
  // The quit message waits in the queue, so it also ends a loop that has not
  // started yet.
  PostQuitMessage(0);
}

std::intptr_t TKvNativeWindow::OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) Command(LOWORD(wParam));
      return 0;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) PlaceControls();
      return 0;
    case WM_SETCURSOR:
      if (FWaitCursor) {
        ::SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_SETFOCUS: {
      const HWND execute = Control(TKvControl::btnExecute);
      SetFocus(IsWindowVisible(execute) ? execute : Control(TKvControl::btnStop));
      return 0;
    }
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      FWindow = nullptr;
      FControls.fill(nullptr);
      break;
    default:
      break;
  }
  return DefWindowProcW(FWindow, message, wParam, lParam);
}

void TKvNativeWindow::Command(int id) {
  if (id == KvControlId(TKvControl::btnExecute)) {
    FForm->btnExecuteClick();
    if (FCloseAfterRun && !FForm->Running()) {
      FCloseAfterRun = false;
      Close();
    }
  } else if (id == KvControlId(TKvControl::btnStop)) {
    FForm->btnStopClick();
  }
}

// Closing during a run acts as "stop"; the window closes once the current
// file is done and the run has ended.
void TKvNativeWindow::Close() {
  if (FForm->Running()) {
    FForm->btnStopClick();
    FCloseAfterRun = true;
    return;
  }
  DestroyWindow(FWindow);
}

void TKvNativeWindow::PlaceControls() {
  RECT client;
  GetClientRect(FWindow, &client);
  for (const TKvControlDesign& design : kKvControlDesigns) PlaceControl(design, client.right, client.bottom);
}

// Anchored edges keep their distance to the window's edges; an auto-sized
// label takes its text's width and grows away from its anchored side.
void TKvNativeWindow::PlaceControl(const TKvControlDesign& design, int clientWidth, int clientHeight) {
  const int dx = clientWidth - kKvClientWidth;
  const int dy = clientHeight - kKvClientHeight;
  int left = design.left;
  int right = design.left + design.width;
  int top = design.top;
  int bottom = design.top + design.height;
  if (design.anchors & akRight) {
    right += dx;
    if (!(design.anchors & akLeft)) left += dx;
  }
  if (design.anchors & akBottom) {
    bottom += dy;
    if (!(design.anchors & akTop)) top += dy;
  }
  HWND control = Control(design.control);
  if (!control) return;  // a size message while the window is being created
  if (design.autoSize) {
    const std::wstring text = Wide(FCaptions[static_cast<int>(design.control)]);
    SIZE extent{0, 0};
    HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, FFont);
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    if (design.rightAligned) {
      left = right - extent.cx;
    } else {
      right = left + extent.cx;
    }
  }
  SetWindowPos(control, nullptr, left, top, right - left, bottom - top, SWP_NOZORDER | SWP_NOACTIVATE);
}
