#include "diagnostics/RsTextAppenderUnit.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "platform/AppendFile.h"
#include "platform/Error.h"
#include "platform/File.h"

// One append of the whole line: other processes appending to the same file
// (another instance of the program, say) never tear it, and none of their
// lines is lost to a file replaced or held against writers.
void TRsTextAppenderWorkObj::Execute() {
  const bool existed = platform::FileExists(FileName);
  const int error = platform::AppendToFile(FileName, Text + "\r\n");
  if (error == 0) return;
  if (!existed)
    throw EFCreateError(Format("ファイル \"%s\" を作成できません. %s", {FileName, platform::ErrorText(error)}));
  throw EWriteError(Format("ファイル \"%s\" に書き込めません. %s", {FileName, platform::ErrorText(error)}));
}

TRsTextAppender::TRsTextAppender() : FPool(std::make_unique<TRsThreadPool>(1)) {}

TRsTextAppender::~TRsTextAppender() = default;

void TRsTextAppender::Append(std::string_view text, std::string_view fileName) {
  auto work = std::make_unique<TRsTextAppenderWorkObj>(&TRsTextAppender::FreeWorkObject);
  work->SetText(text);
  work->SetFileName(fileName);
  FPool->AddWork(std::move(work));
}

void TRsTextAppender::FreeWorkObject(TRsWorkObject* work) { std::unique_ptr<TRsWorkObject> owned(work); }
