// Appends text lines to files on a single worker thread, so that the caller
// never waits for the disk. Lines are written in the order of the calls.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Object.h"
#include "diagnostics/RsThreadPoolUnit.h"
#include "diagnostics/RsWorkObjUnit.h"

class TRsTextAppenderWorkObj : public TRsWorkObject {
 public:
  using TRsWorkObject::TRsWorkObject;
  // Opens or creates the file (owner-only), appends Text and CR LF in one
  // write at its end, closes it again. Failures raise; the worker records
  // them in ErrorText.
  void Execute() override;
  void SetText(std::string_view text) { Text = std::string(text); }
  void SetFileName(std::string_view fileName) { FileName = std::string(fileName); }

  std::string Text;      // without a line break
  std::string FileName;  // full path
};

class TRsTextAppender : public TObject {
 public:
  TRsTextAppender();
  // Waits until every line handed in so far is written (at most 5 minutes).
  ~TRsTextAppender() override;
  // Returns at once; the line is written later. Any thread.
  void Append(std::string_view text, std::string_view fileName);
  // The completion callback of every line: frees it.
  static void FreeWorkObject(TRsWorkObject* work);

 private:
  std::unique_ptr<TRsThreadPool> FPool;
};
