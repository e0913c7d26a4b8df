#include "app/win32/KvWindowSelfTest.h"

#include <windows.h>

#include "app/KvUpdaterView.h"
#include "app/win32/KvNativeWindow.h"
#include "platform/CodePage.h"

namespace {

constexpr UINT kTickMs = 50;
constexpr int kGiveUpTicks = 60000 / kTickMs;
constexpr int kMessageTextId = 0xFFFF;  // the text of a message box

TKvWindowSelfTest* gDrive = nullptr;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (gDrive) gDrive->Tick();
}

std::string Text(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return platform::FromWide(std::u16string(text.begin(), text.end()));
}

std::string Wide(const wchar_t* text) {
  const std::wstring wide(text);
  return platform::FromWide(std::u16string(wide.begin(), wide.end()));
}

std::string Number(long value) { return std::to_string(value); }

bool Shown(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

// A message box of this thread that is on the screen.
HWND FindMessageBox() {
  for (HWND box = FindWindowW(L"#32770", nullptr); box; box = FindWindowExW(nullptr, box, L"#32770", nullptr))
    if (GetWindowThreadProcessId(box, nullptr) == GetCurrentThreadId() && IsWindowVisible(box)) return box;
  return nullptr;
}

HWND FindMainWindow() {
  HWND window = FindWindowW(kKvWindowClass, nullptr);
  return window && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId() ? window : nullptr;
}

// The system icon a message box shows, by the style that asked for it.
std::string BoxIcon(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON || !Shown(child)) continue;
    const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    if (icon == LoadIconW(nullptr, IDI_HAND)) return "stop";
    if (icon == LoadIconW(nullptr, IDI_ASTERISK)) return "information";
    if (icon == LoadIconW(nullptr, IDI_EXCLAMATION)) return "warning";
    if (icon == LoadIconW(nullptr, IDI_QUESTION)) return "question";
    return icon ? "other" : "none";
  }
  return "none";
}

}  // namespace

std::unique_ptr<TKvWindowSelfTest> TKvWindowSelfTest::FromEnvironment() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"KV_WINDOW_SELFTEST", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return std::unique_ptr<TKvWindowSelfTest>(new TKvWindowSelfTest(std::wstring(path, length)));
}

TKvWindowSelfTest::TKvWindowSelfTest(std::wstring reportFile) : FReportFile(std::move(reportFile)) {
  gDrive = this;
  FTimer = SetTimer(nullptr, 0, kTickMs, &OnTimer);
}

TKvWindowSelfTest::~TKvWindowSelfTest() {
  KillTimer(nullptr, FTimer);
  gDrive = nullptr;
  std::string report;
  for (const std::string& line : FLines) report += line + "\n";
  HANDLE file =
      CreateFileW(FReportFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
}

// One line per value; '\', CR and LF escaped so that every value stays on
// its line.
void TKvWindowSelfTest::Note(const std::string& key, const std::string& value) {
  std::string line = key + "=";
  for (const char c : value) {
    if (c == '\\') {
      line += "\\\\";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  FLines.push_back(line);
}

// The window as it stands: caption, sizes, font, and each control's class,
// rectangle in the client area, visibility, alignment and text.
void TKvWindowSelfTest::NoteWindow(const std::string& stage) {
  HWND window = FindMainWindow();
  if (!window) return;
  RECT outer, client, area;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  Note(stage + ".caption", Text(window));
  Note(stage + ".window", Number(outer.left) + " " + Number(outer.top) + " " + Number(outer.right - outer.left) + " " +
                              Number(outer.bottom - outer.top));
  Note(stage + ".client", Number(client.right) + " " + Number(client.bottom));
  Note(stage + ".workarea", Number(area.left) + " " + Number(area.top) + " " + Number(area.right - area.left) + " " +
                                Number(area.bottom - area.top));
  Note(stage + ".cursor", GetCursor() == LoadCursorW(nullptr, IDC_WAIT) ? "wait" : "other");

  std::string tabOrder;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!(GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP)) continue;
    for (const TKvControlDesign& design : kKvControlDesigns)
      if (GetDlgCtrlID(child) == KvControlId(design.control))
        tabOrder += std::string(tabOrder.empty() ? "" : " ") + design.name;
  }
  Note(stage + ".taborder", tabOrder);

  for (const TKvControlDesign& design : kKvControlDesigns) {
    HWND control = GetDlgItem(window, KvControlId(design.control));
    const std::string key = stage + "." + design.name;
    if (!control) {
      Note(key, "missing");
      continue;
    }
    wchar_t className[64];
    GetClassNameW(control, className, 64);
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    const bool right = !design.isButton && (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_RIGHT;
    Note(key, Wide(className) + " " + Number(r.left) + " " + Number(r.top) + " " + Number(r.right - r.left) + " " +
                  Number(r.bottom - r.top) + (Shown(control) ? " shown" : " hidden") + (right ? " right" : ""));
    Note(key + ".text", Text(control));
  }

  // The font asked for, and the face the system found for it.
  HWND label = GetDlgItem(window, KvControlId(TKvControl::Label1));
  const auto font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
  LOGFONTW logical{};
  if (font && GetObjectW(font, sizeof logical, &logical)) {
    Note(stage + ".font", Wide(logical.lfFaceName) + " " + Number(logical.lfHeight) + " " + Number(logical.lfCharSet));
    HDC dc = GetDC(label);
    const HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    Note(stage + ".face", Wide(face) + " " + Number(metrics.tmHeight));
  }
}

void TKvWindowSelfTest::Tick() {
  if (FDone) return;
  if (++FTicks > kGiveUpTicks) {
    Note("timeout", "yes");
    FDone = true;
    PostQuitMessage(3);
    return;
  }
  if (HWND box = FindMessageBox()) {
    if (box == FAnswered) return;
    FAnswered = box;
    const std::string stage = "message" + std::to_string(++FMessages);
    Note(stage + ".title", Text(box));
    Note(stage + ".text", Text(GetDlgItem(box, kMessageTextId)));
    Note(stage + ".icon", BoxIcon(box));
    NoteWindow(stage);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    return;
  }
  FAnswered = nullptr;
  HWND window = FindMainWindow();
  if (!window || !IsWindowVisible(window)) return;
  HWND execute = GetDlgItem(window, KvControlId(TKvControl::btnExecute));
  HWND stop = GetDlgItem(window, KvControlId(TKvControl::btnStop));
  if (Shown(execute) && Shown(stop)) Note("bothbuttons", "yes");
  if (!FClicked) {
    NoteWindow("start");
    FClicked = true;
    PostMessageW(execute, BM_CLICK, 0, 0);
    return;
  }
  // The run is over once a box was answered and the controls are back.
  if (FMessages > 0 && Shown(execute) && !Shown(stop)) {
    NoteWindow("end");
    FDone = true;
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
}
