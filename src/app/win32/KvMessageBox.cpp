#include "app/win32/KvMessageBox.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/KvMessageLines.h"

namespace {

// Pixels at 96 dpi, as the system's box lays itself out.
constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kIconId = 0x14;
constexpr int kTextId = 0xFFFF;  // where the system's box keeps its text
constexpr DWORD kBoxStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

struct TBox {
  HFONT font;
  const std::wstring* title;
  const std::wstring* text;
  bool stopIcon;
};

int TextWidth(HDC dc, HFONT font, std::wstring_view text) {
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  return extent.cx;
}

// The text in lines that fit the work area, joined again with CR LF.
std::wstring ShownText(HDC dc, HFONT font, const std::wstring& text, int maxWidth) {
  const std::u16string wide(text.begin(), text.end());
  std::wstring shown;
  bool first = true;
  for (const std::u16string& line : KvMessageLines(
           wide,
           [&](std::u16string_view part) {
             return TextWidth(dc, font, std::wstring_view(reinterpret_cast<const wchar_t*>(part.data()), part.size()));
           },
           maxWidth)) {
    if (!first) shown += L"\r\n";
    first = false;
    shown.append(line.begin(), line.end());
  }
  return shown;
}

HWND CreateChild(HWND box, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, HFONT font) {
  HWND child = CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, box,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

// Places the controls, sizes the box to them and to its title, and centres
// it over its owner (or the work area), inside the work area.
void Layout(HWND box, const TBox& data) {
  RECT area;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, kBoxStyle, FALSE, WS_EX_DLGMODALFRAME);
  const int frameWidth = frame.right - frame.left;
  const int textLeft = kMargin + (data.stopIcon ? kIconSize + kMargin : 0);

  HDC dc = GetDC(box);
  const std::wstring shown =
      ShownText(dc, data.font, *data.text, area.right - area.left - frameWidth - textLeft - kMargin);
  RECT textRect{0, 0, 0, 0};
  const HGDIOBJ old = SelectObject(dc, data.font);
  DrawTextW(dc, shown.c_str(), -1, &textRect, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT captionFont = CreateFontIndirectW(&metrics.lfCaptionFont);
  const int titleWidth = TextWidth(dc, captionFont, *data.title);
  DeleteObject(captionFont);
  ReleaseDC(box, dc);

  const int textWidth = textRect.right - textRect.left;
  const int textHeight = textRect.bottom - textRect.top;
  const int contentHeight = std::max(textHeight, data.stopIcon ? kIconSize : 0);
  const int clientWidth = std::max(
      {textLeft + textWidth + kMargin, kButtonWidth + 2 * kMargin, titleWidth + metrics.iCaptionWidth + 2 * kMargin});
  const int clientHeight = kMargin + contentHeight + kMargin + kButtonHeight + kMargin;
  const auto place = [box](int id, int left, int top, int width, int height) {
    SetWindowPos(GetDlgItem(box, id), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  };
  if (data.stopIcon) place(kIconId, kMargin, kMargin, kIconSize, kIconSize);
  place(kTextId, textLeft, kMargin + (contentHeight - textHeight) / 2, textWidth, textHeight);
  place(IDOK, (clientWidth - kButtonWidth) / 2, kMargin + contentHeight + kMargin, kButtonWidth, kButtonHeight);
  SetWindowTextW(GetDlgItem(box, kTextId), shown.c_str());

  RECT outer{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&outer, GetWindowLongW(box, GWL_STYLE), FALSE, GetWindowLongW(box, GWL_EXSTYLE));
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  RECT over = area;
  HWND owner = GetWindow(box, GW_OWNER);
  if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &over);
  const auto centred = [](long from, long to, int size, long areaFrom, long areaTo) {
    return static_cast<int>(std::max(areaFrom, std::min((from + to - size) / 2, areaTo - size)));
  };
  const int left = centred(over.left, over.right, width, area.left, area.right);
  const int top = centred(over.top, over.bottom, height, area.top, area.bottom);
  SetWindowPos(box, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const TBox& data = *reinterpret_cast<const TBox*>(lParam);
      SetWindowTextW(box, data.title->c_str());
      if (data.stopIcon) {
        HWND icon = CreateChild(box, L"STATIC", nullptr, SS_ICON, kIconId, nullptr);
        SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_HAND)), 0);
      }
      CreateChild(box, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kTextId, data.font);
      HWND ok = CreateChild(box, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, data.font);
      Layout(box, data);
      if (data.stopIcon) MessageBeep(MB_ICONHAND);
      SetFocus(ok);
      return FALSE;
    }
    case WM_COMMAND:
      // OK, Enter, Escape and the close button all answer the box.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, IDOK);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void KvMessageBox(HWND__* owner, HFONT__* font, const std::wstring& title, const std::wstring& text, bool stopIcon) {
  // An empty template (no menu, the dialog class, no title): the controls are
  // made and placed when the dialog starts, in pixels.
  struct alignas(4) {
    DLGTEMPLATE header;
    WORD menu, windowClass, title;
  } layout{};
  layout.header.style = kBoxStyle;
  layout.header.dwExtendedStyle = WS_EX_DLGMODALFRAME;
  const TBox data{font, &title, &text, stopIcon};
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &layout.header, owner, &BoxProc, reinterpret_cast<LPARAM>(&data));
}
