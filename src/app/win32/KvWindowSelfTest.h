// A test drive of the window, used only by the tests: when the environment
// variable KV_WINDOW_SELFTEST names a report file, a timer clicks "実行" once
// the window is up, answers every message box with OK, notes what the
// window and the boxes showed, then closes the window. The report is
// written when the drive ends; it sees the windows only through the
// system's calls, as a user would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TKvWindowSelfTest {
 public:
  // Null when the variable is not set.
  static std::unique_ptr<TKvWindowSelfTest> FromEnvironment();
  // Writes the report.
  ~TKvWindowSelfTest();
  TKvWindowSelfTest(const TKvWindowSelfTest&) = delete;
  TKvWindowSelfTest& operator=(const TKvWindowSelfTest&) = delete;

  void Tick();

 private:
  explicit TKvWindowSelfTest(std::wstring reportFile);
  void Note(const std::string& key, const std::string& value);
  void NoteWindow(const std::string& stage);

  std::wstring FReportFile;
  std::uintptr_t FTimer = 0;
  std::vector<std::string> FLines;  // key=value, in the order seen
  void* FAnswered = nullptr;        // the box already answered, until it is gone
  int FMessages = 0;
  int FTicks = 0;
  bool FClicked = false;
  bool FDone = false;
};
