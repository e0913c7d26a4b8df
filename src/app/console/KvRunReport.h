// The record of a console run for the programs that watch scheduled runs:
// a JSON document, one object per log and a summary, in UTF-8.
#pragma once

#include <string>
#include <vector>

#include "app/KvUpdaterMainForm.h"
#include "base/DateTime.h"

struct TKvRunSummary {
  std::string program;       // name and version
  bool check = false;        // a run that only checks
  std::string folder;        // "" when the run never knew it
  std::string backupFolder;  // "" without copies
  bool keepGoing = false;
  TDateTime started = 0, ended = 0;
  int status = 0;       // the exit status
  std::string message;  // what ended the run before or beside its logs; "" for none
};

// The document's text.
std::string KvRunReportText(const TKvRunSummary& summary, const std::vector<TKvLogOutcome>& logs);
// Writes the text as the file, in one step: the file is either the earlier
// one or this whole document, never a part. Returns "" or the error message.
std::string KvWriteRunReport(const std::string& file, const std::string& text);
