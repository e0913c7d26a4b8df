// The repair window on the Win32 user interface: the window class, the
// controls of the design as STATIC and BUTTON children, and the view the
// window's logic drives. Texts cross the boundary in the system code page
// and go to the W functions through the platform's conversion.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/KvUpdaterMainForm.h"
#include "app/KvUpdaterView.h"

// The window handle type of the system headers, named here without them:
// their macros (GetMessage, CreateFile, ...) would rename members of the
// project's own headers in the units that include this one.
struct HWND__;
struct HFONT__;

inline constexpr const wchar_t* kKvWindowClass = L"TKvAccesslogUpdaterForm";

// The child window identifier of a control.
constexpr int KvControlId(TKvControl control) { return 100 + static_cast<int>(control); }

class TKvNativeWindow : public IKvUpdaterView {
 public:
  // Creates the window and its controls, hidden and centred on the screen.
  TKvNativeWindow();
  ~TKvNativeWindow() override;
  TKvNativeWindow(const TKvNativeWindow&) = delete;
  TKvNativeWindow& operator=(const TKvNativeWindow&) = delete;

  // The start-up checks: loads the configuration (the default document when
  // the name is empty) and shows its folder, or shows why not and ends the
  // application.
  void FormCreate(const std::string& iniFileName = "");
  void Show();
  // The application's message loop, until the window is closed or the
  // application is ended; the exit code of the quit message.
  int Run();

  std::string Caption(TKvControl control) const override;
  void SetCaption(TKvControl control, const std::string& text) override;
  void SetVisible(TKvControl control, bool visible) override;
  void SetCursor(TKvCursor cursor) override;
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& message) override;
  void ProcessMessages() override;
  void Terminate() override;

  HWND__* Handle() const { return FWindow; }
  HWND__* Control(TKvControl control) const { return FControls[static_cast<int>(control)]; }
  bool Terminated() const { return FTerminated; }

 private:
  friend struct TKvNativeWindowProc;
  std::intptr_t OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  void Command(int id);
  void Close();
  void PlaceControls();
  void PlaceControl(const TKvControlDesign& design, int clientWidth, int clientHeight);
  // Dispatches one message of the queue, through the dialog keys (Tab, the
  // space bar on a button) first.
  void Dispatch(void* message);

  HWND__* FWindow = nullptr;
  HFONT__* FFont = nullptr;
  std::array<HWND__*, std::size(kKvControlDesigns)> FControls{};  // children, destroyed with the window
  std::array<std::string, std::size(kKvControlDesigns)> FCaptions;
  std::unique_ptr<TKvAccesslogUpdaterForm> FForm;
  bool FWaitCursor = false;
  bool FCloseAfterRun = false;
  bool FTerminated = false;
};
