// The repair window's logic, free of any user-interface toolkit.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/KvUpdaterView.h"
#include "config/KestrovaIniUnit.h"
#include "platform/File.h"

class TKvAccesslogUpdaterForm {
 public:
  // Without a view only the file repair is usable; the click handlers need one.
  TKvAccesslogUpdaterForm();
  explicit TKvAccesslogUpdaterForm(IKvUpdaterView& View);
  ~TKvAccesslogUpdaterForm();
  TKvAccesslogUpdaterForm(const TKvAccesslogUpdaterForm&) = delete;
  TKvAccesslogUpdaterForm& operator=(const TKvAccesslogUpdaterForm&) = delete;

  // The creation handler: loads the server's configuration (from FileName,
  // or from where it was found at start when empty) and shows its access log
  // folder; an invalid configuration or a missing folder is shown and ends
  // the application.
  void FormCreate(const std::string& FileName = "");
  // The destruction handler: frees the configuration.
  void FormDestroy();

  // The folder every run repairs, byte for byte, shown in the folder label as
  // well as the view can; the creation handler sets it from the configuration.
  void SetFolder(const std::string& Folder);

  // Runs one repair of the folder. An error ends the run and goes to the
  // view's error display; the window stays usable.
  void btnExecuteClick();
  // Ends the run after the current file.
  void btnStopClick();
  // True from the start of a run until its controls are restored.
  bool Running() const { return FRunning; }

 private:
  friend struct KvUpdaterMainFormTestPeer;

  // Repairs one file; adds 1 to UpdatedCount when the file was replaced.
  void RepairFile(const std::string& FileName, int& UpdatedCount);
  // The correction of a record: the number of bytes to cut from its first
  // field, 26 when it begins with "INFO\t" (which marks the file changed).
  std::size_t RepairRecord(std::string_view First);

  // The number of log files in the folder; a folder that cannot be searched has none.
  int CountLogFiles(const std::string& Folder);
  void RepairAllFiles();
  // Shows the counts and lets the view handle pending events (a stop click).
  void ShowProgress(int Checked, int Updated, int Total);

  IKvUpdaterView* FView = nullptr;
  std::unique_ptr<TKestrovaIni> FIni;
  // Never read back from the label: a toolkit may hold another string than
  // the one it was given (bytes that form no character, characters it lacks).
  std::string FFolder;
  bool FStopRequested = false;
  bool FRunning = false;
  bool FFileChanged = false;
};
