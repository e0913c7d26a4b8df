#include "diagnostics/RsTextAppenderUnit.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "platform/Error.h"
#include "platform/File.h"

void TRsTextAppenderWorkObj::Execute() {
  platform::File file;
  if (platform::FileExists(FileName)) {
    if (const int error = file.OpenReadWrite(FileName))
      throw EFOpenError(Format("ファイル \"%s\" を開けません. %s", {FileName, platform::ErrorText(error)}));
  } else if (const int error = file.CreateAlways(FileName)) {
    throw EFCreateError(Format("ファイル \"%s\" を作成できません. %s", {FileName, platform::ErrorText(error)}));
  }
  const std::string line = Text + "\r\n";
  int error = file.SeekToEnd();
  if (error == 0) error = file.Write(line.data(), line.size());
  const int closeError = file.Close();
  if (error == 0) error = closeError;
  if (error) throw EWriteError(Format("ファイル \"%s\" に書き込めません. %s", {FileName, platform::ErrorText(error)}));
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
