// What the repair window's logic needs from a user interface: the named
// controls with their design, the cursor, the message dialogs and the event
// pump. Each front end (the desktop window, the console) implements it.
#pragma once

#include <string>

// The window's controls, in declaration order.
enum class TKvControl { Label1, btnExecute, btnStop, Label2, lbProgress, Label3, lbProgress2, lbAccesslogDir };

enum class TKvCursor { crDefault = 0, crHourGlass = -11 };

enum TKvAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

// Design-time properties of one control, in pixels at 96 dots per inch.
struct TKvControlDesign {
  TKvControl control;
  const char* name;
  bool isButton;
  int left, top, width, height;
  unsigned anchors;
  const char* caption;
  bool rightAligned;  // text right-aligned; an auto-sized label keeps its right edge
  bool autoSize;      // the label's size follows its text
  bool visible;
  int tabOrder;  // buttons only; -1 for labels
};

inline constexpr const char* kKvWindowCaption = "アクセスログ自動修正プログラム";
inline constexpr int kKvWindowWidth = 622;  // with the frame
inline constexpr int kKvWindowHeight = 129;
inline constexpr int kKvClientWidth = 614;
inline constexpr int kKvClientHeight = 102;
inline constexpr const char* kKvFontName = "ＭＳ Ｐゴシック";
inline constexpr const char* kKvFallbackFontName = "IPAPGothic";  // same metrics, where the first is missing
inline constexpr int kKvFontPixels = 12;

inline constexpr TKvControlDesign kKvControlDesigns[] = {
    {TKvControl::Label1, "Label1", false, 8, 8, 113, 12, akLeft | akTop, "アクセスログフォルダ：", false, false, true,
     -1},
    {TKvControl::btnExecute, "btnExecute", true, 532, 71, 75, 25, akRight | akBottom, "実行", false, false, true, 0},
    {TKvControl::btnStop, "btnStop", true, 532, 71, 75, 25, akRight | akBottom, "ストップ", false, false, false, 1},
    {TKvControl::Label2, "Label2", false, 8, 71, 264, 12, akLeft | akBottom,
     "上記フォルダ内の*.logファイルを一括で修正します。", false, false, true, -1},
    {TKvControl::lbProgress, "lbProgress", false, 500, 66, 26, 12, akRight | akBottom, "0 / 0", true, true, false, -1},
    {TKvControl::Label3, "Label3", false, 8, 87, 314, 12, akLeft | akBottom,
     "念のため、アクセスログファイルを一旦バックアップしてください", false, false, true, -1},
    {TKvControl::lbProgress2, "lbProgress2", false, 480, 82, 46, 12, akRight | akBottom, "更新数 0", true, true, false,
     -1},
    {TKvControl::lbAccesslogDir, "lbAccesslogDir", false, 8, 24, 77, 12, akLeft | akTop, "lbAccesslogDir", false, true,
     true, -1},
};

// The height of the lowest label. A label cuts off whatever its font draws
// below its last row, so the font's whole line must fit in this.
constexpr int KvLabelHeight() {
  int height = kKvFontPixels;
  for (const TKvControlDesign& design : kKvControlDesigns)
    if (!design.isButton && design.height < height) height = design.height;
  return height;
}

inline const TKvControlDesign& KvControlDesign(TKvControl control) {
  return kKvControlDesigns[static_cast<int>(control)];
}

class IKvUpdaterView {
 public:
  virtual ~IKvUpdaterView() = default;

  virtual std::string Caption(TKvControl control) const = 0;
  virtual void SetCaption(TKvControl control, const std::string& text) = 0;
  virtual void SetVisible(TKvControl control, bool visible) = 0;
  virtual void SetCursor(TKvCursor cursor) = 0;
  // A modal message with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // The application's standard display of an error that ended an event handler.
  virtual void ShowError(const std::string& message) = 0;
  // Lets the interface handle what is pending (repaints, clicks) and returns.
  virtual void ProcessMessages() = 0;
  // Asks the application to end once control returns to its event loop.
  virtual void Terminate() = 0;
};
