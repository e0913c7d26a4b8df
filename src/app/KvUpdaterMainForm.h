// The repair window's logic, free of any user-interface toolkit.
#pragma once

#include <memory>
#include <string>

#include "base/StringList.h"
#include "platform/File.h"

class TKvAccesslogUpdaterForm {
 public:
  TKvAccesslogUpdaterForm();
  ~TKvAccesslogUpdaterForm();

 private:
  friend struct KvUpdaterMainFormTestPeer;
  class TRecordWriter;

  // Repairs one file; adds 1 to UpdatedCount when the file was replaced.
  void RepairFile(const std::string& FileName, int& UpdatedCount);
  // The record callback: corrects an "INFO\t" first field and appends the
  // record in canonical form to the temporary file.
  void RepairRecord(TStringList& Fields);

  bool FFileChanged = false;
  TRecordWriter* FOutput = nullptr;  // the current file's temporary file, during RepairFile
};
