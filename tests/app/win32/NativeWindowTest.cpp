// The native window in the test's own process: its design as the system
// reports it, the anchors on resize, and whole runs with the message boxes
// answered by a timer.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "../SampleLogs.h"
#include "app/win32/KvNativeWindow.h"
#include "config/KvVariants.h"
#include "platform/CodePage.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::Wide;
using testing_support::WriteFile;

namespace {

std::string Text(HWND window) {
  wchar_t text[1024] = L"";
  GetWindowTextW(window, text, 1024);
  const std::wstring wide(text);
  return platform::FromWide(std::u16string(wide.begin(), wide.end()));
}

RECT ClientRect(HWND parent, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Shown(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

int TextWidth(HWND control, const std::string& text) {
  const std::wstring wide = Wide(text);
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return extent.cx;
}

int LineHeight(HWND control) {
  HDC dc = GetDC(control);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return metrics.tmHeight;
}

// A quit message the window posted (closing, ending the application) would
// end the next test's message boxes.
bool TakeQuitMessage() {
  MSG message;
  bool quit = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
    } else {
      // A paint message stays in the queue until it is handled.
      DispatchMessageW(&message);
    }
  }
  return quit;
}

// A message box of this thread, answered with OK.
struct Box {
  std::string text, title;
  bool stopIcon = false;
  HFONT font = nullptr;    // of its text
  bool titleFits = false;  // the title bar holds the title and the close button
};

std::function<void()> gOnTick;
void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (gOnTick) gOnTick();
}

// Runs `action` with a timer that calls `tick` on every pass of the message
// loops in between, the boxes' own loops included.
void WithTimer(const std::function<void()>& tick, const std::function<void()>& action) {
  gOnTick = tick;
  const UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &OnTimer);
  action();
  KillTimer(nullptr, timer);
  gOnTick = nullptr;
}

HWND FindBox() {
  HWND box = FindWindowW(L"#32770", nullptr);
  return box && GetWindowThreadProcessId(box, nullptr) == GetCurrentThreadId() && IsWindowVisible(box) ? box : nullptr;
}

bool HasStopIcon(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && Shown(child) &&
        reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) == LoadIconW(nullptr, IDI_HAND))
      return true;
  return false;
}

// Answers a box once; the record of what it showed.
bool Answer(Box& seen) {
  HWND box = FindBox();
  if (!box) return false;
  seen.title = Text(box);
  seen.text = Text(GetDlgItem(box, 0xFFFF));
  seen.stopIcon = HasStopIcon(box);
  seen.font = reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(box, 0xFFFF), WM_GETFONT, 0, 0));
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT captionFont = CreateFontIndirectW(&metrics.lfCaptionFont);
  HDC dc = GetDC(box);
  const HGDIOBJ old = SelectObject(dc, captionFont);
  const std::wstring title = Wide(seen.title);
  SIZE extent{};
  GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(box, dc);
  DeleteObject(captionFont);
  RECT client;
  GetClientRect(box, &client);
  seen.titleFits = client.right >= extent.cx + metrics.iCaptionWidth;
  SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  return true;
}

class NativeWindowTest : public ::testing::Test {
 protected:
  NativeWindowTest() : FOldDataFolder(DataFolder) {
    DataFolder = dir.System("data") + "\\";
    CreateDirectoryW(Wide(dir.System("web")).c_str(), nullptr);
    CreateDirectoryW(Wide(dir.System("logs")).c_str(), nullptr);
  }
  ~NativeWindowTest() override {
    DataFolder = FOldDataFolder;
    TakeQuitMessage();
  }

  // Starts the window on a document naming the folder; the boxes of the
  // start are answered and kept.
  void Start(TKvNativeWindow& window, const std::string& folder) {
    WriteFile(dir.Native("kestrova.ini"),
              "[Kestrova]\r\nwebdocroot=" + dir.System("web") + "\r\naccesslog_dir=" + folder + "\r\n");
    WithTimer([this] { AnswerInto(startBoxes); }, [&] { window.FormCreate(dir.System("kestrova.ini")); });
  }

  void AnswerInto(std::vector<Box>& boxes) {
    Box seen;
    if (Answer(seen)) boxes.push_back(seen);
  }

  // Clicks 実行 as the user does; every box is answered. `whileRunning` is
  // called on the ticks during which the stop button is up.
  std::vector<Box> Execute(HWND window, const std::function<void()>& whileRunning = nullptr) {
    std::vector<Box> boxes;
    HWND execute = GetDlgItem(window, KvControlId(TKvControl::btnExecute));
    HWND stop = GetDlgItem(window, KvControlId(TKvControl::btnStop));
    WithTimer(
        [&] {
          if (Shown(execute) && Shown(stop)) bothButtons = true;
          Box seen;
          if (FindBox()) {
            progressAtBox = Text(GetDlgItem(window, KvControlId(TKvControl::lbProgress)));
            progress2AtBox = Text(GetDlgItem(window, KvControlId(TKvControl::lbProgress2)));
            waitCursorAtBox = GetCursor() == LoadCursorW(nullptr, IDC_WAIT);
          }
          if (Answer(seen)) {
            boxes.push_back(seen);
          } else if (whileRunning && Shown(stop)) {
            whileRunning();
          }
        },
        [&] { SendMessageW(execute, BM_CLICK, 0, 0); });
    return boxes;
  }

  TempDir dir;
  std::vector<Box> startBoxes;
  bool bothButtons = false;
  bool waitCursorAtBox = false;
  std::string progressAtBox, progress2AtBox;

 private:
  std::string FOldDataFolder;
};

TEST_F(NativeWindowTest, HasTheDesignedWindowAndControls) {
  TKvNativeWindow window;
  Start(window, dir.System("logs"));
  ASSERT_TRUE(startBoxes.empty());
  HWND main = window.Handle();

  wchar_t className[64];
  GetClassNameW(main, className, 64);
  EXPECT_STREQ(className, kKvWindowClass);
  EXPECT_EQ(Text(main), kKvWindowCaption);
  RECT client, outer;
  GetClientRect(main, &client);
  GetWindowRect(main, &outer);
  EXPECT_EQ(client.right, kKvClientWidth);
  EXPECT_EQ(client.bottom, kKvClientHeight);
  // Centred in the work area.
  RECT area;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_LE(std::abs((outer.left + outer.right) - (area.left + area.right)), 1);
  EXPECT_LE(std::abs((outer.top + outer.bottom) - (area.top + area.bottom)), 1);

  for (const TKvControlDesign& design : kKvControlDesigns) {
    SCOPED_TRACE(design.name);
    HWND control = GetDlgItem(main, KvControlId(design.control));
    ASSERT_NE(control, nullptr);
    GetClassNameW(control, className, 64);
    EXPECT_EQ(_wcsicmp(className, design.isButton ? L"Button" : L"Static"), 0);
    const RECT r = ClientRect(main, control);
    const std::string text = design.control == TKvControl::lbAccesslogDir ? dir.System("logs") : design.caption;
    EXPECT_EQ(Text(control), text);
    EXPECT_EQ(window.Caption(design.control), text);
    EXPECT_EQ(r.top, design.top);
    EXPECT_EQ(r.bottom - r.top, design.height);
    if (!design.autoSize) {
      EXPECT_EQ(r.left, design.left);
      EXPECT_EQ(r.right - r.left, design.width);
    } else if (design.rightAligned) {
      EXPECT_EQ(r.right, design.left + design.width);
      EXPECT_EQ(r.right - r.left, TextWidth(control, text));
    } else {
      EXPECT_EQ(r.left, design.left);
      EXPECT_EQ(r.right - r.left, TextWidth(control, text));
    }
    EXPECT_EQ(Shown(control), design.visible);
    if (!design.isButton) {
      EXPECT_EQ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_RIGHT, design.rightAligned);
    }

    LOGFONTW font{};
    ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font));
    EXPECT_LT(font.lfHeight, 0);
    EXPECT_GE(font.lfHeight, -kKvFontPixels);
    // A label cuts off what its font draws below it.
    if (!design.isButton) {
      EXPECT_LE(LineHeight(control), design.height);
    }
    EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
    EXPECT_EQ(platform::FromWide(std::u16string(font.lfFaceName, font.lfFaceName + wcslen(font.lfFaceName))),
              kKvFontName);
  }

  // The Tab key visits the buttons in their tab order.
  std::vector<int> tabStops;
  for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) tabStops.push_back(GetDlgCtrlID(child));
  EXPECT_EQ(tabStops, (std::vector<int>{KvControlId(TKvControl::btnExecute), KvControlId(TKvControl::btnStop)}));
}

TEST_F(NativeWindowTest, AnchoredControlsFollowTheWindowsEdges) {
  TKvNativeWindow window;
  Start(window, dir.System("logs"));
  HWND main = window.Handle();
  RECT outer;
  GetWindowRect(main, &outer);
  constexpr int dx = 100, dy = 40;
  SetWindowPos(main, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(main, &client);
  ASSERT_EQ(client.right, kKvClientWidth + dx);
  ASSERT_EQ(client.bottom, kKvClientHeight + dy);

  for (const TKvControlDesign& design : kKvControlDesigns) {
    SCOPED_TRACE(design.name);
    const RECT r = ClientRect(main, GetDlgItem(main, KvControlId(design.control)));
    const int moveX = design.anchors & akRight ? dx : 0;
    const int moveY = design.anchors & akBottom ? dy : 0;
    EXPECT_EQ(r.top, design.top + moveY);
    if (design.autoSize && design.rightAligned) {
      EXPECT_EQ(r.right, design.left + design.width + moveX);
    } else {
      EXPECT_EQ(r.left, design.left + moveX);
    }
  }
  // A caption set after the resize keeps the right edge where the resize put it.
  window.SetCaption(TKvControl::lbProgress, "チェック数: 12 / 345");
  const RECT progress = ClientRect(main, window.Control(TKvControl::lbProgress));
  EXPECT_EQ(progress.right, 526 + dx);
  EXPECT_EQ(progress.right - progress.left, TextWidth(window.Control(TKvControl::lbProgress), "チェック数: 12 / 345"));
}

TEST_F(NativeWindowTest, RunRepairsTheFolderAndReportsCompletion) {
  WriteFile(dir.Native("logs/a.log"), kNeedsCorrection);
  WriteFile(dir.Native("logs/b.log"), kClean);
  WriteFile(dir.Native("logs/c.log"), kClean);
  CreateDirectoryW(Wide(dir.System("logs\\old.log")).c_str(), nullptr);
  TKvNativeWindow window;
  Start(window, dir.System("logs"));
  window.Show();

  const std::vector<Box> boxes = Execute(window.Handle());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "完了しました");
  EXPECT_EQ(boxes[0].title, "test_app_win32");
  EXPECT_FALSE(boxes[0].stopIcon);
  // In the window's font, so that a path looks as it does in the window, and
  // wide enough for its title.
  EXPECT_EQ(boxes[0].font, reinterpret_cast<HFONT>(SendMessageW(window.Control(TKvControl::Label1), WM_GETFONT, 0, 0)));
  EXPECT_TRUE(boxes[0].titleFits);
  EXPECT_EQ(progressAtBox, "チェック数: 3 / 3");
  EXPECT_EQ(progress2AtBox, "更新数: 1");
  EXPECT_TRUE(waitCursorAtBox);
  EXPECT_FALSE(bothButtons);
  EXPECT_EQ(ReadFile(dir.Native("logs/a.log")), kCorrected);
  EXPECT_EQ(ReadFile(dir.Native("logs/b.log")), kClean);

  // Idle again: execute button, no progress, the normal cursor.
  EXPECT_TRUE(Shown(window.Control(TKvControl::btnExecute)));
  EXPECT_FALSE(Shown(window.Control(TKvControl::btnStop)));
  EXPECT_FALSE(Shown(window.Control(TKvControl::lbProgress)));
  EXPECT_FALSE(Shown(window.Control(TKvControl::lbProgress2)));
  EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_FALSE(TakeQuitMessage());
}

TEST_F(NativeWindowTest, AnErrorGoesToTheErrorDisplayAndTheWindowStaysUsable) {
  WriteFile(dir.Native("logs/a.log"), kNeedsCorrection);
  TKvNativeWindow window;
  Start(window, dir.System("logs"));
  window.Show();
  // Another program holds the log without sharing it.
  HANDLE held = CreateFileW(Wide(dir.System("logs\\a.log")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::vector<Box> boxes = Execute(window.Handle());
  CloseHandle(held);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].stopIcon);
  EXPECT_NE(boxes[0].text.find(dir.System("logs\\a.log")), std::string::npos) << boxes[0].text;
  EXPECT_EQ(ReadFile(dir.Native("logs/a.log")), kNeedsCorrection);
  EXPECT_TRUE(Shown(window.Control(TKvControl::btnExecute)));
  EXPECT_FALSE(Shown(window.Control(TKvControl::btnStop)));

  boxes = Execute(window.Handle());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "完了しました");
  EXPECT_EQ(ReadFile(dir.Native("logs/a.log")), kCorrected);
}

TEST_F(NativeWindowTest, ClosingDuringARunStopsItAndClosesAfterTheCurrentFile) {
  constexpr int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) WriteFile(dir.Native("logs/" + std::to_string(i) + ".log"), kNeedsCorrection);
  TKvNativeWindow window;
  Start(window, dir.System("logs"));
  window.Show();
  HWND main = window.Handle();
  bool closed = false;
  const std::vector<Box> boxes = Execute(main, [&] {
    if (!closed) PostMessageW(main, WM_CLOSE, 0, 0);
    closed = true;
  });
  ASSERT_TRUE(closed) << "the run ended before the timer saw it";
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(window.Handle(), nullptr);
  EXPECT_TRUE(TakeQuitMessage());
  int repaired = 0;
  for (int i = 0; i < kFiles; ++i) repaired += ReadFile(dir.Native("logs/" + std::to_string(i) + ".log")) == kCorrected;
  EXPECT_GE(repaired, 1);
  EXPECT_LT(repaired, kFiles);
}

TEST_F(NativeWindowTest, AMissingFolderEndsTheApplicationWithAMessage) {
  TKvNativeWindow window;
  Start(window, dir.System("gone"));
  ASSERT_EQ(startBoxes.size(), 1u);
  EXPECT_EQ(startBoxes[0].text, "アクセスログフォルダが見つかりません\r\n" + dir.System("gone"));
  EXPECT_FALSE(startBoxes[0].stopIcon);
  EXPECT_TRUE(window.Terminated());
  EXPECT_FALSE(IsWindowVisible(window.Handle()));
  EXPECT_TRUE(TakeQuitMessage());
}

}  // namespace
