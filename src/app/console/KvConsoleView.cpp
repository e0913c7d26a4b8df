#include "app/console/KvConsoleView.h"

#include "platform/CodePage.h"

TKvConsoleView::TKvConsoleView()
    : FProgressOnTerminal(platform::IsTerminal(platform::StandardStream::Error)),
      FSequences(FProgressOnTerminal && platform::EnableTerminalSequences(platform::StandardStream::Error)) {
  for (const TKvControlDesign& design : kKvControlDesigns) {
    TControlState& state = FControls[static_cast<int>(design.control)];
    state.caption = design.caption;
    state.visible = design.visible;
  }
}

std::string TKvConsoleView::Caption(TKvControl control) const { return FControls[static_cast<int>(control)].caption; }

void TKvConsoleView::SetCaption(TKvControl control, const std::string& text) {
  FControls[static_cast<int>(control)].caption = text;
  if (control == TKvControl::lbProgress) FProgressSet = true;
}

void TKvConsoleView::SetVisible(TKvControl control, bool visible) {
  FControls[static_cast<int>(control)].visible = visible;
  if (control == TKvControl::lbProgress && !visible) ClearProgressLine();
}

void TKvConsoleView::ShowError(const std::string& message) {
  FErrors.push_back(message);
  WriteLine(platform::StandardStream::Error, ToConsoleLines(message));
}

void TKvConsoleView::WriteLine(platform::StandardStream stream, std::string_view text) {
  ClearProgressLine();
  platform::WriteStandard(stream, std::string(text) + "\n");
}

std::string TKvConsoleView::NoticeBytes(std::string_view text) const {
  if (!FProgressOnTerminal) return std::string(text) + "\n";
  // Without the sequences the progress line stays, and the notice goes below.
  return (FSequences ? "\r\x1b[K" : "\n") + std::string(text) + "\n";
}

void TKvConsoleView::ProcessMessages() {
  if (platform::StopSignalReceived() && !FStopDelivered) {
    FStopDelivered = true;
    if (FOnStop) FOnStop();
  }
  if (FProgressOnTerminal && FControls[static_cast<int>(TKvControl::lbProgress)].visible) {
    // One line, rewritten in place: back to its start, the two texts, and the
    // rest of a longer earlier text erased.
    const std::string line = Caption(TKvControl::lbProgress) + "  " + Caption(TKvControl::lbProgress2);
    if (FSequences) {
      platform::WriteStandard(platform::StandardStream::Error, "\r" + line + "\x1b[K");
    } else {
      const std::size_t columns = ConsoleColumns(line);
      const std::size_t blanks = FProgressColumns > columns ? FProgressColumns - columns : 0;
      platform::WriteStandard(platform::StandardStream::Error, "\r" + line + std::string(blanks, ' '));
      FProgressColumns = columns;
    }
    FProgressLineShown = true;
  }
}

void TKvConsoleView::ClearProgressLine() {
  if (!FProgressLineShown) return;
  platform::WriteStandard(platform::StandardStream::Error,
                          FSequences ? std::string("\r\x1b[K") : "\r" + std::string(FProgressColumns, ' ') + "\r");
  FProgressLineShown = false;
  FProgressColumns = 0;
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

std::size_t ConsoleColumns(std::string_view text) {
  std::size_t columns = 0;
  for (char16_t c : platform::ToWide(text)) {
    if (c >= 0xDC00 && c < 0xE000) continue;  // the second half of a pair
    // Half-width forms (katakana among them) take one column, as ASCII does.
    columns += c < 0x80 || (c >= 0xFF61 && c <= 0xFFDC) ? 1 : 2;
  }
  return columns;
}
