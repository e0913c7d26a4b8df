#include "app/KvUpdaterMainForm.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "base/Exception.h"
#include "base/Format.h"
#include "common/RsUtil.h"
#include "csv/RsCsvUtil.h"
#include "platform/BackgroundFile.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Locale.h"
#include "platform/Path.h"
#include "platform/Process.h"

namespace {

constexpr std::size_t kCopyBuffer = 1 << 20;
constexpr std::string_view kTag = "INFO\t";
constexpr std::string_view kTagLower = "info\t";
constexpr std::size_t kPrefixLength = 26;
constexpr std::u16string_view kLogPattern = u"*.log";
// How long the repair waits for writers of a replaced log to let go of it.
constexpr std::chrono::seconds kWriterWait{10};
// Records between two questions whether a repair is to be given up.
constexpr std::uint32_t kPollEvery = 4096;
// Copies of one log a backup folder can hold.
constexpr int kMaxBackups = 100000;

// A repair given up on request, its log as it was.
class EKvAbandoned : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EKvAbandoned"; }
};

std::string WithError(const char* format, const std::string& path, int err) {
  return Format(format, {path, platform::ErrorText(err)});
}

std::string WriteErrorText(const std::string& path, int err) {
  return WithError("ファイル \"%s\" に書き込めません. %s", path, err);
}

std::string ReplaceErrorText(const std::string& path, int err) {
  return WithError("ファイル \"%s\" を置き換えできません. %s", path, err);
}

std::string SearchErrorText(const std::string& folder, int err) {
  return WithError("フォルダ \"%s\" を検索できません. %s", folder, err);
}

std::string ChangedText(const std::string& path) { return Format("ファイル \"%s\" は修正中に変更されました", {path}); }

std::string BackupErrorText(const std::string& path, const std::string& copy, const std::string& why) {
  return Format("ファイル \"%s\" を \"%s\" にバックアップできません. %s", {path, copy, why});
}

std::string BackupErrorText(const std::string& path, const std::string& copy, int err) {
  return BackupErrorText(path, copy, platform::ErrorText(err));
}

// The correction rule: the first field begins with the tag, in any case.
bool HasTag(std::string_view first) {
  if (first.size() < kTag.size()) return false;
  const std::string_view head = first.substr(0, kTag.size());
  // Bytes below 0x80 are characters of their own in every code page and
  // fold to their ASCII lower case: the locale comparison is needed only
  // when one of the bytes is not such a character. Every record of every
  // log passes here, so the usual answer, a first byte that is no letter
  // of the tag, comes after a few operations.
  unsigned char c[5];
  std::memcpy(c, head.data(), sizeof c);
  if (((c[0] | c[1] | c[2] | c[3] | c[4]) & 0x80) != 0) return platform::CompareTextIgnoreCase(head, kTag) == 0;
  // A letter with 0x20 added is its lower case; no other byte below 0x80
  // becomes one of the tag's lower-case letters that way.
  return (c[0] | 0x20) == kTagLower[0] && (c[1] | 0x20) == kTagLower[1] && (c[2] | 0x20) == kTagLower[2] &&
         (c[3] | 0x20) == kTagLower[3] && c[4] == kTagLower[4];
}

bool SameFileState(const platform::FileInfo& a, const platform::FileInfo& b) {
  return a.size == b.size && a.lastWriteNanoseconds == b.lastWriteNanoseconds && a.fileId == b.fileId &&
         a.volume == b.volume;
}

// The last-write time a replaced log keeps: its old one, to the millisecond.
platform::FileTime KeptTime(const platform::FileInfo& info) { return info.lastWriteTime - info.lastWriteTime % 10000; }

// Only regular files are logs: a folder, FIFO or device named *.log is none
// (reading a FIFO would hang the run), and neither is a link, which would
// lead the repair out of the folder. An entry that could not be examined
// may be one.
bool IsLog(const platform::FolderEntry& entry) { return entry.error || entry.info.isRegular; }

// Opens the folder of a run and takes it for this run alone (a run that
// only reads leaves it to others); false for a folder that is gone, which
// counts as empty.
bool OpenRunFolder(const std::string& path, platform::Folder& folder, bool take = true) {
  if (int err = folder.Open(path)) {
    if (!platform::DirectoryExists(path)) return false;
    throw Exception(SearchErrorText(platform::ShownPath(path), err));
  }
  if (!take) return true;
  // Two repairs of one folder would remove each other's temporary files
  // and replace each other's logs.
  bool busy = false;
  if (int err = folder.Lock(busy))
    throw Exception(WithError("フォルダ \"%s\" をロックできません. %s", folder.Path(), err));
  if (busy) throw Exception(Format("フォルダ \"%s\" は別の修正処理が実行中のため修正できません", {folder.Path()}));
  return true;
}

// The folder the copies of replaced logs go to, made when it is missing.
std::unique_ptr<platform::Folder> OpenBackupFolder(const std::string& path) {
  auto folder = std::make_unique<platform::Folder>();
  int err = platform::CreateDirectories(path);
  if (err == 0) err = folder->Open(path);
  if (err) throw Exception(WithError("バックアップフォルダ \"%s\" を開けません. %s", platform::ShownPath(path), err));
  return folder;
}

// The folder's entries named like logs; a listing cut short would leave the
// rest of the folder unrepaired.
std::vector<platform::FolderEntry> ListLogs(const platform::Folder& folder) {
  std::vector<platform::FolderEntry> entries;
  if (int err = folder.List(kLogPattern, entries)) throw Exception(SearchErrorText(folder.Path(), err));
  return entries;
}

// Appends to the replaced file what was written to the old one beyond the
// size that was read, as it stands, so that the next run corrects it. A
// writer that opened the old file before the replace may still write to
// it: the copy goes on until nobody has the old file open for writing, as
// far as the platform can tell, or until the wait is over (abandoned). Each
// piece goes to the end the new file has at that moment, behind what its
// own writers added meanwhile.
int CarryOverAppended(platform::File& old, std::uint64_t copied, platform::File& out, bool& abandoned) {
  const auto deadline = std::chrono::steady_clock::now() + kWriterWait;
  std::unique_ptr<char[]> buffer;
  for (;;) {
    // Asked before the copy, so that what a writer wrote before it let go
    // of the file is in the copy.
    const bool writing = old.OthersWriting();
    platform::FileInfo now;
    if (int err = old.GetInfo(now)) return err;
    if (now.size > copied) {
      if (!buffer) buffer.reset(new char[kCopyBuffer]);
      if (int err = old.SeekTo(copied)) return err;
      for (std::size_t got = 1; got > 0; copied += got) {
        if (int err = old.Read(buffer.get(), kCopyBuffer, got)) return err;
        if (int err = out.Append(buffer.get(), got)) return err;
      }
    }
    abandoned = writing && std::chrono::steady_clock::now() >= deadline;
    if (!writing || abandoned) break;
    platform::SleepMs(1);
  }
  return buffer ? out.Flush() : 0;
}

// The repair of one log, in stages: open and examine; check; rewrite into
// the temporary file; keep access and time; verify and replace; carry over.
// The log is opened once, and everything about it comes from that open file.
class TLogRepair {
 public:
  TLogRepair(const platform::Folder& folder, const std::string& name)
      : FFolder(folder),
        FName(name),
        FTempName(name + ".temp"),
        FPath(folder.PathOf(name)),
        FTempPath(folder.PathOf(FTempName)) {}
  ~TLogRepair() {
    // A copy is kept only for a log whose replace was tried; an unfinished
    // one never stays.
    if (FBackupTempMade) static_cast<void>(FBackupFolder->Remove(FBackupTemp, &FBackupInfo));
    if (FBackupMade && !FBackupKept) static_cast<void>(FBackupFolder->Remove(FBackupName, &FBackupInfo));
    // After a failure only what this repair made goes, and only while the
    // temporary name still holds it: the unused temporary file, or after
    // the replace the old log.
    if (!FTempMade) return;
    FTemp.Close();
    static_cast<void>(FFolder.Remove(FTempName, FReplaced ? &FInfo : &FTempInfo));
  }
  TLogRepair(const TLogRepair&) = delete;
  TLogRepair& operator=(const TLogRepair&) = delete;

  const std::string& Path() const { return FPath; }
  const platform::FileInfo& Info() const { return FInfo; }
  bool Replaced() const { return FReplaced; }
  // The old log, for closing elsewhere: after Finish all it has left is the
  // release of its blocks.
  platform::File TakeOldLog() { return std::move(FLog); }

  // From now on the repair asks abandon, up to the replace, whether to give
  // up; it then ends with EKvAbandoned and the log as it was.
  void WatchAbandon(const std::function<bool()>& abandon) {
    if (abandon) FAbandon = &abandon;
  }
  void Poll() const {
    if (FAbandon && (*FAbandon)())
      throw EKvAbandoned(Format("ファイル \"%s\" の修正を中止しました (ファイルは元のままです)", {FPath}));
  }
  // The check's test of a record, asking now and then whether to give up.
  std::function<bool(std::string_view)> Match() const {
    if (!FAbandon) return HasTag;
    return [this, count = std::uint32_t{0}](std::string_view first) mutable {
      if (++count % kPollEvery == 0) Poll();
      return HasTag(first);
    };
  }

  // The check reads the log as the rewrite does. The tag's last character
  // is a TAB, which no byte but 0x09 makes in any code page and no other
  // character matches ignoring case: a log without that byte, as a repaired
  // log is, has nothing to correct.
  static void SetUpCheck(TCsvLoader& scan) {
    scan.SetDelimiter(44);
    scan.SetQuoteChar(34);
    scan.SetMatchByte('\t');
  }

  // Opens the log, never through a link and never waiting on what the entry
  // may have become; a repair refuses other writers while it reads, a check
  // lets the server go on writing.
  void Open(bool denyWriters) {
    if (int err = FFolder.OpenRead(FName, denyWriters, FLog, FInfo)) {
      if (platform::IsNotFound(err))
        throw Exception("CSVFileNameに指定したファイルが存在しません.CSVFilename=" + FPath);
      throw EFOpenError(Format("ファイル \"%s\". %s は開けません", {FPath, platform::ErrorText(err)}));
    }
    // A link, FIFO or folder put in the log's place since it was listed.
    if (!FLog.IsOpen()) throw Exception(ChangedText(FPath));
  }

  // Whatever stands under the temporary name belongs to no live repair (the
  // folder is this run's): an earlier run's leftover or a planted link is
  // removed, never followed, and the file is made anew.
  void MakeTemporary() {
    if (int err = FFolder.Remove(FTempName)) throw EFCreateError(CreateErrorText(err));
    if (int err = FFolder.CreateExclusive(FTempName, FTemp)) throw EFCreateError(CreateErrorText(err));
    if (int err = FTemp.GetInfo(FTempInfo)) {
      // Made a moment ago in the folder this run holds: it is this repair's.
      FTemp.Close();
      static_cast<void>(FFolder.Remove(FTempName));
      throw EFCreateError(CreateErrorText(err));
    }
    FTempMade = true;
  }

  // Most logs need no correction (every run after the first meets only
  // repaired ones): a scan that stops at the first record to correct, and
  // writes nothing, settles those.
  bool NeedsRepair() {
    TCsvLoader scan;
    SetUpCheck(scan);
    return scan.FindRecord(FLog, FPath, Match());
  }

  // The check alone, for a run that changes nothing: the number of records
  // a repair would correct, and the error it would meet reading them.
  std::uint64_t CountToCorrect() {
    TCsvLoader scan;
    SetUpCheck(scan);
    const std::uint64_t count = scan.CountRecords(FLog, FPath, Match());
    // The repair refuses to replace such a log (see KeepAccessAndTime).
    if (count > 0 && !scan.ReachedEnd())
      throw Exception(Format("ファイル \"%s\" にNUL文字があるため修正できません", {FPath}));
    return count;
  }

  // Every record goes to the temporary file in the canonical form, in large
  // checked writes made behind the rewrite, which meanwhile fills the next
  // block. The file is flushed every few MiB while it is made, so the
  // flush later waits only for the tail. A log read only once (no copy of
  // it is made) leaves no cached bytes behind.
  void Rewrite(const TCsvLoader::TFirstFieldCut& cut, bool readOnce) {
    constexpr std::size_t kFlushEvery = 16 << 20;
    TCsvLoader loader;
    loader.SetDelimiter(44);
    loader.SetQuoteChar(34);
    loader.SetSkipFirstLine(false);
    loader.SetReadOnce(readOnce);
    // After the loader, so that the block being written is done before the
    // loader's buffers go.
    platform::WriteBehind writer(FTemp, kFlushEvery);
    loader.RewriteQuoted(FLog, FPath, cut, [&](const char* data, std::size_t size) {
      if (int err = writer.Write(data, size)) throw EWriteError(WriteErrorText(FTempPath, err));
    });
    if (int err = writer.Wait()) throw EWriteError(WriteErrorText(FTempPath, err));
    FReachedEnd = loader.ReachedEnd();
  }

  // The temporary file takes the log's owner, group, mode and last-write
  // time, and is on the disk, before it takes the log's place.
  void KeepAccessAndTime() {
    // Replacing a log whose reading stopped at a NUL byte would drop all
    // that follows it.
    if (!FReachedEnd) throw Exception(Format("ファイル \"%s\" にNUL文字があるため修正できません", {FPath}));
    bool kept = false;
    if (int err = FTemp.CopyAccessFrom(FInfo, kept)) throw EWriteError(WriteErrorText(FTempPath, err));
    // The log's writers (the server) may no longer be able to write to a
    // log that changed hands.
    if (!kept) throw Exception(Format("ファイル \"%s\" の所有者を保てないため修正できません", {FPath}));
    const platform::FileTime lastWrite = KeptTime(FInfo);
    if (int err = FTemp.SetTimes(nullptr, nullptr, &lastWrite))
      throw Exception(WithError("ファイル \"%s\" の更新日時を設定できません. %s", FPath, err));
    if (int err = FTemp.Flush()) throw EWriteError(WriteErrorText(FTempPath, err));
  }

  // A copy of the log's bytes as they were read, from the open log, in a new
  // file of the backup folder named like the log (".1", ".2", ... when that
  // name is taken; nothing is ever written over), with the log's last-write
  // time, on the disk before the log is replaced. It is written under a
  // temporary name and named when complete, so that a copy's name always
  // holds a whole copy.
  void Backup(const platform::Folder& into) {
    FBackupFolder = &into;
    auto named = [this](int number) { return number == 0 ? FName : FName + "." + IntToStr(number); };
    int number = 0;
    platform::File copy;
    for (;; ++number) {
      if (number > kMaxBackups)
        throw Exception(BackupErrorText(FPath, into.PathOf(FName), "同じ名前のバックアップが多すぎます"));
      FBackupTemp = named(number) + ".temp";
      const int err = into.CreateExclusive(FBackupTemp, copy);
      if (err == 0) break;
      if (!platform::IsAlreadyExists(err)) throw Exception(BackupErrorText(FPath, into.PathOf(FBackupTemp), err));
    }
    const std::string tempPath = into.PathOf(FBackupTemp);
    if (int err = copy.GetInfo(FBackupInfo)) {
      copy.Close();
      static_cast<void>(into.Remove(FBackupTemp));
      throw Exception(BackupErrorText(FPath, tempPath, err));
    }
    FBackupTempMade = true;
    if (int err = FLog.SeekTo(0)) throw Exception(BackupErrorText(FPath, tempPath, err));
    std::unique_ptr<char[]> buffer(new char[kCopyBuffer]);
    for (std::uint64_t left = FInfo.size; left > 0;) {
      Poll();
      std::size_t got = 0;
      if (int err = FLog.Read(buffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBuffer)), got))
        throw Exception(BackupErrorText(FPath, tempPath, err));
      // Shorter than when it was read: the log was cut meanwhile.
      if (got == 0) throw Exception(ChangedText(FPath));
      if (int err = copy.Write(buffer.get(), got)) throw Exception(BackupErrorText(FPath, tempPath, err));
      left -= got;
    }
    const platform::FileTime lastWrite = FInfo.lastWriteTime;
    if (int err = copy.SetTimes(nullptr, nullptr, &lastWrite)) throw Exception(BackupErrorText(FPath, tempPath, err));
    if (int err = copy.Flush()) throw Exception(BackupErrorText(FPath, tempPath, err));
    if (int err = copy.Close()) throw Exception(BackupErrorText(FPath, tempPath, err));
    for (;; ++number) {
      if (number > kMaxBackups)
        throw Exception(BackupErrorText(FPath, into.PathOf(FName), "同じ名前のバックアップが多すぎます"));
      const int err = into.RenameNew(FBackupTemp, named(number));
      if (err == 0) break;
      if (!platform::IsAlreadyExists(err)) throw Exception(BackupErrorText(FPath, into.PathOf(named(number)), err));
    }
    FBackupTempMade = false;
    FBackupMade = true;
    FBackupName = named(number);
    if (int err = into.Flush()) throw Exception(BackupErrorText(FPath, into.PathOf(FBackupName), err));
  }
  // Where the copy is, as messages show it; "" without one.
  std::string BackupPath() const { return FBackupMade ? FBackupFolder->PathOf(FBackupName) : ""; }
  // The copy stays whatever happens from now on: the replace may change
  // the log.
  void KeepBackup() { FBackupKept = true; }

  // Puts the repaired file in place only if the log did not change while it
  // was read and its name still holds it; the old log stays open, so that
  // what a writer appends to it at the last moment can be carried over.
  void Replace() {
    platform::FileInfo now;
    if (FLog.GetInfo(now) != 0 || !SameFileState(FInfo, now)) throw Exception(ChangedText(FPath));
    if (int err = FLog.AllowOthers()) throw Exception(ReplaceErrorText(FPath, err));
    bool same = false;
    if (int err = FFolder.Replace(FTempName, FTemp, FName, FInfo, same)) throw Exception(ReplaceErrorText(FPath, err));
    // Another file took the name (a rotation): it stays, and so does the log.
    if (!same) throw Exception(ChangedText(FPath));
    FReplaced = true;
    if (int err = FFolder.Flush()) throw Exception(ReplaceErrorText(FPath, err));
  }

  // What was appended to the old log after it was read goes to the end of
  // the new one, through the temporary file's handle, which is the new log now.
  void CarryOver() {
    bool abandoned = false;
    if (int err = CarryOverAppended(FLog, FInfo.size, FTemp, abandoned)) throw Exception(ReplaceErrorText(FPath, err));
    // What the writer adds from now on goes to the old file, which nobody
    // will see again.
    if (abandoned) throw Exception(Format("ファイル \"%s\" は置き換えた後も古いファイルに書き込まれています", {FPath}));
  }

  // Closes the files and removes what the temporary name holds: the unused
  // temporary file, or after the replace the old log. A run that leaves it
  // behind must not report success.
  void Finish() {
    const int closed = FTemp.Close();
    if (closed && FReplaced) throw Exception(ReplaceErrorText(FPath, closed));
    if (int err = FFolder.Remove(FTempName, FReplaced ? &FInfo : &FTempInfo))
      throw Exception(WithError("ファイル \"%s\" を削除できません. %s", FTempPath, err));
    FTempMade = false;
  }

 private:
  std::string CreateErrorText(int err) const {
    return Format("ファイル \"%s\". %s を作成できません", {FTempPath, platform::ErrorText(err)});
  }

  const platform::Folder& FFolder;
  const std::string FName, FTempName, FPath, FTempPath;
  platform::File FLog;
  platform::FileInfo FInfo;  // the log as it was opened
  platform::File FTemp;      // the temporary file, after the replace the new log
  platform::FileInfo FTempInfo;
  bool FTempMade = false;
  bool FReachedEnd = true;
  bool FReplaced = false;
  const std::function<bool()>* FAbandon = nullptr;
  const platform::Folder* FBackupFolder = nullptr;
  std::string FBackupTemp, FBackupName;
  platform::FileInfo FBackupInfo;  // the copy, under either name
  bool FBackupTempMade = false;
  bool FBackupMade = false;
  bool FBackupKept = false;
};

}  // namespace

TKvAccesslogUpdaterForm::TKvAccesslogUpdaterForm() = default;
TKvAccesslogUpdaterForm::TKvAccesslogUpdaterForm(IKvUpdaterView& View) : FView(&View) {}
TKvAccesslogUpdaterForm::~TKvAccesslogUpdaterForm() = default;

void TKvAccesslogUpdaterForm::FormCreate(const std::string& FileName) {
  FIni = std::make_unique<TKestrovaIni>();
  FIni->Load(FileName);
  if (!FIni->Valid) {
    FView->ShowMessage("config.iniが不正です\r\n" + FIni->ErrorMessage);
    FView->Terminate();
    return;
  }
  const std::string& folder = FIni->Web->accesslog_dir;
  if (!platform::DirectoryExists(folder)) {
    FView->ShowMessage("アクセスログフォルダが見つかりません\r\n" + folder);
    FView->Terminate();
    return;
  }
  SetFolder(folder);
}

void TKvAccesslogUpdaterForm::SetFolder(const std::string& Folder) {
  FFolder = Folder;
  if (FView) FView->SetCaption(TKvControl::lbAccesslogDir, Folder);
}

void TKvAccesslogUpdaterForm::FormDestroy() { FIni.reset(); }

void TKvAccesslogUpdaterForm::btnExecuteClick() {
  // Once "stop" was pressed the execute button is back while the run still
  // pumps events; a click then must not start a second run inside the first.
  if (FRunning) return;
  FRunning = true;
  FView->SetVisible(TKvControl::btnExecute, false);
  FView->SetVisible(TKvControl::btnStop, true);
  FView->SetVisible(TKvControl::lbProgress, true);
  FView->SetVisible(TKvControl::lbProgress2, true);
  FStopRequested = false;
  FView->SetCursor(TKvCursor::crHourGlass);

  // The two buttons lie on top of each other: one is hidden before the other
  // is shown.
  auto restore = [this] {
    FView->SetVisible(TKvControl::btnStop, false);
    FView->SetVisible(TKvControl::btnExecute, true);
    FView->SetVisible(TKvControl::lbProgress, false);
    FView->SetVisible(TKvControl::lbProgress2, false);
    FStopRequested = false;
    FView->SetCursor(TKvCursor::crDefault);
    FRunning = false;
  };
  std::string error;
  bool failed = false;
  try {
    RepairAllFiles();
    // Logs the run could not take are named below: the repair is not
    // complete while they stay as they are.
    if (!FStopRequested && !FStopped) {
      const std::string notTaken = NotTakenText();
      FView->ShowMessage(notTaken.empty() ? "完了しました" : "完了しました\r\n" + notTaken);
    }
  } catch (const std::exception& e) {
    failed = true;
    error = e.what();
  } catch (...) {
    restore();
    throw;
  }
  restore();
  if (failed) FView->ShowError(error);
}

void TKvAccesslogUpdaterForm::btnStopClick() {
  FStopRequested = true;
  FView->SetVisible(TKvControl::btnStop, false);
  FView->SetVisible(TKvControl::btnExecute, true);
  FView->SetVisible(TKvControl::lbProgress, false);
  FView->SetVisible(TKvControl::lbProgress2, false);
}

int TKvAccesslogUpdaterForm::CountLogFiles(const platform::Folder& Folder) {
  int count = 0;
  for (const platform::FolderEntry& entry : ListLogs(Folder)) count += IsLog(entry) && entry.exact;
  return count;
}

void TKvAccesslogUpdaterForm::RepairAllFiles() {
  const std::string path = FFolder;
  FOutcomes.clear();
  FStopped = false;
  // Opened once: the run works in this folder to its end, whatever its path
  // comes to name meanwhile.
  platform::Folder folder;
  const bool present = OpenRunFolder(path, folder, !FOptions.checkOnly);
  FBackup.reset();
  if (present && !FOptions.checkOnly && !FOptions.backupFolder.empty())
    FBackup = OpenBackupFolder(FOptions.backupFolder);
  const int total = present ? CountLogFiles(folder) : 0;
  int updated = 0;
  int checked = 0;
  ShowProgress(0, 0, total);
  if (!present) return;
  const std::vector<platform::FolderEntry> entries = ListLogs(folder);
  std::size_t next = 0;
  // Every log the run ends before is named too, whatever ends it, and what
  // the run held for its logs goes.
  auto skipRest = [&] {
    for (; next < entries.size(); ++next) {
      const platform::FolderEntry& entry = entries[next];
      if (!IsLog(entry)) continue;
      TKvLogOutcome outcome;
      outcome.kind = TKvLogOutcome::TKind::Skipped;
      outcome.path = folder.PathOf(entry.name);
      outcome.message = "途中で終了したため処理していません";
      outcome.size = entry.info.size;
      outcome.lastWrite = entry.error ? 0 : FileTimeToDateTime(entry.info.lastWriteTime);
      Record(std::move(outcome));
    }
    FBackup.reset();
    FRelease.reset();
  };
  try {
    FRelease = std::make_unique<platform::CloseBehind>();
    while (next < entries.size()) {
      const platform::FolderEntry& entry = entries[next++];
      if (!IsLog(entry)) continue;
      if (!entry.exact) {
        // The name the system form gives it would name another entry, or
        // leave the folder: the log stays as it is, and the run says so at
        // its end.
        TKvLogOutcome outcome;
        outcome.kind = TKvLogOutcome::TKind::NotTaken;
        outcome.path = folder.PathOf(entry.name);
        outcome.message = Format("ファイル \"%s\" はファイル名を扱えないため修正できません", {outcome.path});
        outcome.size = entry.info.size;
        outcome.lastWrite = FileTimeToDateTime(entry.info.lastWriteTime);
        Record(std::move(outcome));
        continue;
      }
      if (entry.error) {
        TKvLogOutcome outcome;
        outcome.kind = TKvLogOutcome::TKind::Failed;
        outcome.path = folder.PathOf(entry.name);
        outcome.message = WithError("ファイル \"%s\" を調べられません. %s", outcome.path, entry.error);
        const std::string message = outcome.message;
        Record(std::move(outcome));
        if (!FOptions.keepGoing) throw Exception(message);
      } else {
        try {
          RepairFile(folder, entry.name, updated);
        } catch (const EKvAbandoned&) {
          FStopped = true;
          break;
        } catch (const std::exception&) {
          if (!FOptions.keepGoing) throw;
        }
      }
      ++checked;
      ShowProgress(checked, updated, total);
      if (FStopRequested) {
        FStopped = true;
        break;
      }
    }
  } catch (...) {
    skipRest();
    throw;
  }
  skipRest();
  // The run went on past its failures; it ends with all of them.
  const std::string failed = FOptions.keepGoing ? FailedText() : "";
  if (!failed.empty()) throw Exception(failed);
}

void TKvAccesslogUpdaterForm::Record(TKvLogOutcome Outcome) {
  FOutcomes.push_back(std::move(Outcome));
  if (FOptions.onLog) FOptions.onLog(FOutcomes.back());
}

void TKvAccesslogUpdaterForm::ShowProgress(int Checked, int Updated, int Total) {
  FView->SetCaption(TKvControl::lbProgress, "チェック数: " + IntToStr(Checked) + " / " + IntToStr(Total));
  // A check replaces nothing: it counts the logs a repair would replace.
  FView->SetCaption(TKvControl::lbProgress2, (FOptions.checkOnly ? "要修正数: " : "更新数: ") + IntToStr(Updated));
  FView->ProcessMessages();
}

std::string TKvAccesslogUpdaterForm::NotTakenText() const {
  std::string text;
  for (const TKvLogOutcome& outcome : FOutcomes) {
    if (outcome.kind != TKvLogOutcome::TKind::NotTaken) continue;
    if (!text.empty()) text += "\r\n";
    text += outcome.message;
  }
  return text;
}

std::string TKvAccesslogUpdaterForm::FailedText() const {
  std::string text;
  for (const TKvLogOutcome& outcome : FOutcomes) {
    if (outcome.kind != TKvLogOutcome::TKind::Failed) continue;
    if (!text.empty()) text += "\r\n";
    // Most messages name the log; the others get its name in front.
    text += outcome.message.find(outcome.path) == std::string::npos ? outcome.path + ": " + outcome.message
                                                                    : outcome.message;
  }
  return text;
}

std::size_t TKvAccesslogUpdaterForm::RepairRecord(std::string_view First) {
  if (!HasTag(First)) return 0;
  FFileChanged = true;
  ++FCorrected;
  return kPrefixLength;
}

void TKvAccesslogUpdaterForm::RepairFile(const std::string& FileName, int& UpdatedCount) {
  // The folder is the path up to the last delimiter, found on characters:
  // the second byte of a double-byte character may be the byte of '\'.
  std::size_t cut = std::string::npos;
  for (std::size_t i = 0; i < FileName.size(); ++i) {
    const auto c = static_cast<unsigned char>(FileName[i]);
    if (platform::IsLeadByte(c))
      ++i;
    else if (c == '\\' || c == '/')
      cut = i;
  }
  const bool inFolder = cut != std::string::npos;
  platform::Folder folder;
  if (!OpenRunFolder(inFolder ? FileName.substr(0, cut + 1) : ".", folder))
    throw Exception("CSVFileNameに指定したファイルが存在しません.CSVFilename=" + platform::ShownPath(FileName));
  RepairFile(folder, inFolder ? FileName.substr(cut + 1) : FileName, UpdatedCount);
}

void TKvAccesslogUpdaterForm::RepairFile(const platform::Folder& Folder, const std::string& Name, int& UpdatedCount) {
  FFileChanged = false;
  FCorrected = 0;
  TKvLogOutcome outcome;
  outcome.path = Folder.PathOf(Name);
  try {
    TLogRepair log(Folder, Name);
    log.WatchAbandon(FOptions.abandon);
    log.Open(!FOptions.checkOnly);
    outcome.size = log.Info().size;
    outcome.lastWrite = FileTimeToDateTime(KeptTime(log.Info()));
    log.Poll();
    if (FOptions.checkOnly) {
      // Nothing is made and nothing is written: the log is only read.
      outcome.corrected = static_cast<std::int64_t>(log.CountToCorrect());
      outcome.kind = outcome.corrected > 0 ? TKvLogOutcome::TKind::NeedsRepair : TKvLogOutcome::TKind::Unchanged;
      if (outcome.corrected > 0) ++UpdatedCount;
      Record(std::move(outcome));
      return;
    }
    log.MakeTemporary();
    if (log.NeedsRepair()) {
      log.Poll();
      std::uint32_t records = 0;
      log.Rewrite(
          [this, &log, &records](std::string_view first) {
            if (++records % kPollEvery == 0) log.Poll();
            return RepairRecord(first);
          },
          !FBackup);
      if (FFileChanged) {
        log.KeepAccessAndTime();
        if (FBackup) {
          log.Backup(*FBackup);
          outcome.backup = log.BackupPath();
        }
        // The last moment to give up with the log as it was.
        log.Poll();
        log.KeepBackup();
        log.Replace();
        log.CarryOver();
      }
    }
    log.Finish();
    if (log.Replaced()) {
      if (FRelease) FRelease->Close(log.TakeOldLog());
      outcome.kind = TKvLogOutcome::TKind::Replaced;
      outcome.corrected = FCorrected;
      ++UpdatedCount;
    }
  } catch (const EKvAbandoned& e) {
    outcome.kind = TKvLogOutcome::TKind::Abandoned;
    outcome.message = e.what();
    outcome.backup.clear();
    Record(std::move(outcome));
    throw;
  } catch (const std::exception& e) {
    outcome.kind = TKvLogOutcome::TKind::Failed;
    outcome.message = e.what();
    Record(std::move(outcome));
    throw;
  }
  Record(std::move(outcome));
}
