// The repair window's view for a console: captions are kept, the progress
// goes to a terminal line on standard error, messages are collected for the
// closing lines and errors go to standard error.
#pragma once

#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/KvUpdaterView.h"
#include "platform/Console.h"

class TKvConsoleView : public IKvUpdaterView {
 public:
  TKvConsoleView();

  // Called from ProcessMessages once a stop signal has arrived.
  void SetOnStop(std::function<void()> onStop) { FOnStop = std::move(onStop); }

  std::string Caption(TKvControl control) const override;
  void SetCaption(TKvControl control, const std::string& text) override;
  void SetVisible(TKvControl control, bool visible) override;
  void SetCursor(TKvCursor) override {}
  void ShowMessage(const std::string& text) override { FMessages.push_back(text); }
  void ShowError(const std::string& message) override;
  void ProcessMessages() override;
  void Terminate() override { FTerminated = true; }

  // A line of its own on the stream, below the progress line; the progress
  // is drawn again at the next pump of events.
  void WriteLine(platform::StandardStream stream, std::string_view text);
  // The bytes that show text as a line of its own on standard error at any
  // moment, also over a progress line (written from a signal handler, which
  // cannot ask what the line holds).
  std::string NoticeBytes(std::string_view text) const;

  const std::vector<std::string>& Messages() const { return FMessages; }
  // The errors shown, in their order.
  const std::vector<std::string>& Errors() const { return FErrors; }
  bool ErrorShown() const { return !FErrors.empty(); }
  bool StopDelivered() const { return FStopDelivered; }
  bool Terminated() const { return FTerminated; }
  // True once a run has put its counts into the progress captions.
  bool ProgressSet() const { return FProgressSet; }

 private:
  struct TControlState {
    std::string caption;
    bool visible = false;
  };
  void ClearProgressLine();

  TControlState FControls[std::size(kKvControlDesigns)];
  std::function<void()> FOnStop;
  std::vector<std::string> FMessages;
  std::vector<std::string> FErrors;
  bool FProgressOnTerminal;
  // The terminal goes back and erases with escape sequences; without them
  // the line is drawn over with blanks.
  bool FSequences;
  bool FProgressLineShown = false;
  std::size_t FProgressColumns = 0;  // the width of the line drawn last
  bool FStopDelivered = false;
  bool FProgressSet = false;
  bool FTerminated = false;
};

// Console texts use LF line ends only.
std::string ToConsoleLines(std::string_view text);
// The columns a text takes on a terminal: two for a wide character.
std::size_t ConsoleColumns(std::string_view text);
