// The repair window's logic, free of any user-interface toolkit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/KvUpdaterView.h"
#include "base/DateTime.h"
#include "config/KestrovaIniUnit.h"
#include "platform/Folder.h"

// What a run did with one log.
struct TKvLogOutcome {
  enum class TKind {
    Replaced,   // repaired and put in place of the old log
    Unchanged,  // nothing to correct; the log was only read
    NotTaken,   // left as it is: its name cannot be taken (message says why)
    Failed,     // the error in message ended the run
  };
  TKind kind = TKind::Unchanged;
  std::string path;            // as messages show it
  std::string message;         // why it was not taken, or the error
  std::int64_t corrected = 0;  // records corrected
  std::uint64_t size = 0;      // bytes, as the log was read
  TDateTime lastWrite = 0;     // the last-write time it has and keeps (local); 0 when unknown
};

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

  // What the last run did with each log it met, in its order; a failure is
  // the last entry.
  const std::vector<TKvLogOutcome>& Outcomes() const { return FOutcomes; }
  // One line per log the last run could not take, "" when there is none;
  // the completion message carries them below its first line.
  std::string NotTakenText() const;

 private:
  friend struct KvUpdaterMainFormTestPeer;

  // Repairs one file (a system path); adds 1 to UpdatedCount when the file
  // was replaced.
  void RepairFile(const std::string& FileName, int& UpdatedCount);
  // The same for an entry of a folder the caller has opened and locked.
  void RepairFile(const platform::Folder& Folder, const std::string& Name, int& UpdatedCount);
  // The correction of a record: the number of bytes to cut from its first
  // field, 26 when it begins with "INFO\t" (which marks the file changed).
  std::size_t RepairRecord(std::string_view First);

  // The number of log files in the folder that a run takes.
  int CountLogFiles(const platform::Folder& Folder);
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
  std::int64_t FCorrected = 0;  // records of the current file
  std::vector<TKvLogOutcome> FOutcomes;
};
