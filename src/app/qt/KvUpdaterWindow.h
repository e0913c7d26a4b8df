// The repair window on Qt Widgets: the controls of the design, and the view
// the window's logic drives.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "app/KvUpdaterMainForm.h"
#include "app/KvUpdaterView.h"

class TKvUpdaterWindow : public QWidget, public IKvUpdaterView {
 public:
  TKvUpdaterWindow();
  ~TKvUpdaterWindow() override;

  // The start-up checks: loads the configuration (the default document when
  // the name is empty) and shows its folder, or shows why not and ends the
  // application.
  void FormCreate(const std::string& iniFileName = "");
  // The folder of every later run, given without a configuration.
  void SetFolder(const std::string& folder);

  std::string Caption(TKvControl control) const override;
  void SetCaption(TKvControl control, const std::string& text) override;
  void SetVisible(TKvControl control, bool visible) override;
  void SetCursor(TKvCursor cursor) override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& message) override;
  void ProcessMessages() override;
  void Terminate() override;

  // From now on SIGINT and SIGTERM close the window as a user would (a run
  // ends after the current file, a waiting box is closed), which ends the
  // application.
  void EndOnStopSignals();
  // True once a stop signal arrived; the window is closing or closed.
  bool StopSignalled() const { return FStopSignalled; }

  QWidget* Control(TKvControl control) const { return FControls[static_cast<int>(control)]; }
  bool Terminated() const { return FTerminated; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void PlaceControl(const TKvControlDesign& design);
  void ExecuteClicked();
  void OnStopSignal();

  std::array<QWidget*, std::size(kKvControlDesigns)> FControls{};  // children, owned by the window
  std::unique_ptr<TKvAccesslogUpdaterForm> FForm;
  bool FWaitCursor = false;
  bool FCloseAfterRun = false;
  bool FTerminated = false;
  bool FEndOnStopSignals = false;
  bool FStopSignalled = false;
};

// Text in the system code page to a Qt string and back.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);
