// The repair window's logic, free of any user-interface toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/KvUpdaterView.h"
#include "base/DateTime.h"
#include "config/KestrovaIniUnit.h"
#include "platform/Folder.h"

namespace platform {
class CloseBehind;
}

// What a run did with one log.
struct TKvLogOutcome {
  enum class TKind {
    Replaced,     // repaired and put in place of the old log
    Unchanged,    // nothing to correct; the log was only read
    NeedsRepair,  // a check found records to correct; the log was only read
    NotTaken,     // left as it is: its name cannot be taken (message says why)
    Failed,       // the error in message (it ended the run unless it goes on)
    Abandoned,    // its repair was given up by a stop; the log is as it was
    Skipped,      // not reached: the run ended before it
  };
  TKind kind = TKind::Unchanged;
  std::string path;            // as messages show it
  std::string message;         // why it was not taken, skipped or given up, or the error
  std::int64_t corrected = 0;  // records corrected (a check: records to correct)
  std::uint64_t size = 0;      // bytes, as the log was read
  TDateTime lastWrite = 0;     // the last-write time it has and keeps (local); 0 when unknown
  std::string backup;          // where its original bytes were copied, as messages show it
};

// How a run goes; the window runs with the defaults.
struct TKvRunOptions {
  // Only examine: count the records to correct and write nothing, no
  // temporary file either, and leave the folder to any repair.
  bool checkOnly = false;
  // A log that fails does not end the run; the failures end it with one
  // error naming each.
  bool keepGoing = false;
  // Before a log is replaced, its original bytes go to a new file in this
  // folder (made when missing); empty: no copies.
  std::string backupFolder;
  // Asked while a log is read or copied, up to its replace: true gives its
  // repair up (the log stays as it was) and ends the run as a stop does.
  std::function<bool()> abandon;
  // Told of each log once the run is done with it.
  std::function<void(const TKvLogOutcome&)> onLog;
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
  // The options of the runs from now on.
  void SetRunOptions(TKvRunOptions Options) { FOptions = std::move(Options); }
  // The folder every run repairs.
  const std::string& FolderPath() const { return FFolder; }
  // False when the creation handler found the configuration invalid.
  bool ConfigurationValid() const { return FIni && FIni->Valid; }
  // True when the last run ended early because it was stopped.
  bool Stopped() const { return FStopped; }
  // True from the start of a run until its controls are restored.
  bool Running() const { return FRunning; }

  // What the last run did with each log of the folder, in its order; the
  // logs after a failure or a stop are the skipped ones.
  const std::vector<TKvLogOutcome>& Outcomes() const { return FOutcomes; }
  // One line per log the last run could not take, "" when there is none;
  // the completion message carries them below its first line.
  std::string NotTakenText() const;
  // One line per log that failed in the last run, "" when none did.
  std::string FailedText() const;

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
  // Keeps what the run did with one log and tells the front end.
  void Record(TKvLogOutcome Outcome);
  // Shows the counts and lets the view handle pending events (a stop click).
  void ShowProgress(int Checked, int Updated, int Total);

  IKvUpdaterView* FView = nullptr;
  std::unique_ptr<TKestrovaIni> FIni;
  // Never read back from the label: a toolkit may hold another string than
  // the one it was given (bytes that form no character, characters it lacks).
  std::string FFolder;
  bool FStopRequested = false;
  bool FStopped = false;
  bool FRunning = false;
  TKvRunOptions FOptions;
  // The folder the copies go to, open during a run that makes them.
  std::unique_ptr<platform::Folder> FBackup;
  // Closes each replaced log's old file while the run goes on to the next
  // log; it goes, and waits for the last one, when the run ends. A run that
  // replaces nothing starts no thread for it.
  std::unique_ptr<platform::CloseBehind> FRelease;
  bool FFileChanged = false;
  std::int64_t FCorrected = 0;  // records of the current file
  std::vector<TKvLogOutcome> FOutcomes;
};
