// The repair window's view for a console: captions are kept, the progress
// goes to a terminal line on standard error, messages are collected for the
// closing lines and errors go to standard error.
#pragma once

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/KvUpdaterView.h"

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

  const std::vector<std::string>& Messages() const { return FMessages; }
  bool ErrorShown() const { return FErrorShown; }
  bool StopDelivered() const { return FStopDelivered; }
  bool Terminated() const { return FTerminated; }

 private:
  struct TControlState {
    std::string caption;
    bool visible = false;
  };
  void ClearProgressLine();

  TControlState FControls[std::size(kKvControlDesigns)];
  std::function<void()> FOnStop;
  std::vector<std::string> FMessages;
  bool FProgressOnTerminal;
  bool FProgressLineShown = false;
  bool FStopDelivered = false;
  bool FErrorShown = false;
  bool FTerminated = false;
};

// Console texts use LF line ends only.
std::string ToConsoleLines(std::string_view text);
