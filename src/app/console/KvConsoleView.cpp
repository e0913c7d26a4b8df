#include "app/console/KvConsoleView.h"

#include "platform/Console.h"

TKvConsoleView::TKvConsoleView() : FProgressOnTerminal(platform::IsTerminal(platform::StandardStream::Error)) {
  for (const TKvControlDesign& design : kKvControlDesigns) {
    TControlState& state = FControls[static_cast<int>(design.control)];
    state.caption = design.caption;
    state.visible = design.visible;
  }
}

std::string TKvConsoleView::Caption(TKvControl control) const { return FControls[static_cast<int>(control)].caption; }

void TKvConsoleView::SetCaption(TKvControl control, const std::string& text) {
  FControls[static_cast<int>(control)].caption = text;
}

void TKvConsoleView::SetVisible(TKvControl control, bool visible) {
  FControls[static_cast<int>(control)].visible = visible;
  if (control == TKvControl::lbProgress && !visible) ClearProgressLine();
}

void TKvConsoleView::ShowError(const std::string& message) {
  FErrorShown = true;
  ClearProgressLine();
  platform::WriteStandard(platform::StandardStream::Error, ToConsoleLines(message) + "\n");
}

void TKvConsoleView::ProcessMessages() {
  if (platform::StopSignalReceived() && !FStopDelivered) {
    FStopDelivered = true;
    if (FOnStop) FOnStop();
  }
  if (FProgressOnTerminal && FControls[static_cast<int>(TKvControl::lbProgress)].visible) {
    // One line, rewritten in place: back to its start, the two texts, and the
    // rest of a longer earlier text erased.
    platform::WriteStandard(platform::StandardStream::Error, "\r" + Caption(TKvControl::lbProgress) + "  " +
                                                                 Caption(TKvControl::lbProgress2) + "\x1b[K");
    FProgressLineShown = true;
  }
}

void TKvConsoleView::ClearProgressLine() {
  if (!FProgressLineShown) return;
  platform::WriteStandard(platform::StandardStream::Error, "\r\x1b[K");
  FProgressLineShown = false;
}

std::string ToConsoleLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}
