#include "app/KvUpdaterMainForm.h"

#include <chrono>
#include <cstring>
#include <exception>

#include "base/Exception.h"
#include "base/Format.h"
#include "common/RsFileUtil.h"
#include "common/RsUtil.h"
#include "csv/RsCsvUtil.h"
#include "platform/BackgroundFile.h"
#include "platform/CodePage.h"
#include "platform/DirectorySearch.h"
#include "platform/Error.h"
#include "platform/Locale.h"
#include "platform/Path.h"
#include "platform/Process.h"

namespace {

constexpr std::size_t kCopyBuffer = 1 << 20;
constexpr std::string_view kTag = "INFO\t";
constexpr std::string_view kTagLower = "info\t";
constexpr std::size_t kPrefixLength = 26;
// How long the repair waits for writers of a replaced log to let go of it.
constexpr std::chrono::seconds kWriterWait{10};

std::string WriteErrorText(const std::string& path, int err) {
  return Format("ファイル \"%s\" に書き込めません. %s", {path, platform::ErrorText(err)});
}

// The folder part of a system path, for flushing the folder after a rename.
std::string FolderOf(const std::string& path) {
  std::u16string wide = platform::ToWide(path);
  std::size_t cut = wide.find_last_of(u'\\');
  return cut == std::u16string::npos ? std::string() : platform::FromWide(wide.substr(0, cut + 1));
}

std::string SearchErrorText(const std::string& folder, int err) {
  return Format("フォルダ \"%s\" を検索できません. %s", {folder, platform::ErrorText(err)});
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

// Appends to the replaced file what was written to the old one beyond the
// size that was read, as it stands, so that the next run corrects it. A
// writer that opened the old file before the rename may still write to it:
// the copy goes on until nobody has the old file open for writing, as far as
// the platform can tell, or until the wait is over (abandoned).
int CarryOverAppended(platform::File& old, std::uint64_t copied, const std::string& target, bool& abandoned) {
  const auto deadline = std::chrono::steady_clock::now() + kWriterWait;
  platform::File out;
  std::unique_ptr<char[]> buffer;
  for (;;) {
    // Asked before the copy, so that what a writer wrote before it let go
    // of the file is in the copy.
    const bool writing = old.OthersWriting();
    platform::FileInfo now;
    if (int err = old.GetInfo(now)) return err;
    if (now.size > copied) {
      if (!out.IsOpen()) {
        if (int err = out.OpenReadWrite(target)) return err;
        if (int err = out.SeekToEnd()) return err;
        buffer.reset(new char[kCopyBuffer]);
      }
      if (int err = old.SeekTo(copied)) return err;
      for (std::size_t got = 1; got > 0; copied += got) {
        if (int err = old.Read(buffer.get(), kCopyBuffer, got)) return err;
        if (int err = out.Write(buffer.get(), got)) return err;
      }
    }
    abandoned = writing && std::chrono::steady_clock::now() >= deadline;
    if (!writing || abandoned) break;
    platform::SleepMs(1);
  }
  if (!out.IsOpen()) return 0;
  if (int err = out.Flush()) return err;
  return out.Close();
}

// Walks the log files directly in a folder, in the order the search returns
// them; the search is closed when the walk is destroyed.
class TLogFileWalk {
 public:
  explicit TLogFileWalk(const std::string& folder) : FFolder(folder) {
    // The trailing delimiter is tested on characters: a double-byte
    // character may end in the byte of '\'.
    std::u16string pattern = platform::ToWide(folder);
    if (pattern.empty() || pattern.back() != u'\\') {
      pattern += u'\\';
      FFolder += '\\';
    }
    FOpen = FSearch.Open(pattern + u"*.log");
    // A folder that is gone counts as empty; one that is there but cannot be
    // searched must not pass for an empty folder and end the run as done.
    if (!FOpen) {
      const int err = platform::LastError();
      if (platform::DirectoryExists(folder)) throw Exception(SearchErrorText(folder, err));
    }
  }

  // The full path of the next log file; false when there is none.
  bool Next(std::string& path) {
    platform::DirectoryEntry entry;
    while (FOpen && FSearch.Next(entry)) {
      // Only regular files are log files: a folder, FIFO or device named
      // *.log is not one, and reading a FIFO would hang the run.
      if (entry.name == u"." || entry.name == u".." || entry.isDirectory) continue;
      std::string name = platform::FromWide(entry.name);
      // A name the system code page cannot hold would reach the repair as
      // another name ('?' in place of a character), which names no file or,
      // worse, a different one.
      if (entry.name.find(u'\uFFFD') != std::u16string::npos || platform::ToWide(name) != entry.name) continue;
      path = FFolder + name;
      return true;
    }
    // A search cut short would leave the rest of the folder unrepaired.
    if (FOpen && FSearch.Error()) throw Exception(SearchErrorText(FFolder, FSearch.Error()));
    return false;
  }

 private:
  std::string FFolder;  // with its trailing delimiter
  platform::DirectorySearch FSearch;
  bool FOpen = false;
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
  FView->SetCaption(TKvControl::lbAccesslogDir, folder);
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
    if (!FStopRequested) FView->ShowMessage("完了しました");
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

int TKvAccesslogUpdaterForm::CountLogFiles(const std::string& Folder) {
  int count = 0;
  TLogFileWalk walk(Folder);
  for (std::string path; walk.Next(path);) ++count;
  return count;
}

void TKvAccesslogUpdaterForm::RepairAllFiles() {
  const std::string folder = FView->Caption(TKvControl::lbAccesslogDir);
  const int total = CountLogFiles(folder);
  int updated = 0;
  int checked = 0;
  ShowProgress(0, 0, total);
  TLogFileWalk walk(folder);
  for (std::string path; walk.Next(path);) {
    RepairFile(path, updated);
    ++checked;
    ShowProgress(checked, updated, total);
    if (FStopRequested) break;
  }
}

void TKvAccesslogUpdaterForm::ShowProgress(int Checked, int Updated, int Total) {
  FView->SetCaption(TKvControl::lbProgress, "チェック数: " + IntToStr(Checked) + " / " + IntToStr(Total));
  FView->SetCaption(TKvControl::lbProgress2, "更新数: " + IntToStr(Updated));
  FView->ProcessMessages();
}

std::size_t TKvAccesslogUpdaterForm::RepairRecord(std::string_view First) {
  if (!HasTag(First)) return 0;
  FFileChanged = true;
  return kPrefixLength;
}

void TKvAccesslogUpdaterForm::RepairFile(const std::string& FileName, int& UpdatedCount) {
  // A link is repaired through: the file it names is rewritten in its own
  // folder, and the link stays a link.
  std::string target = FileName;
  if (platform::IsSymbolicLink(FileName)) {
    std::string resolved = platform::ResolveLinks(FileName);
    if (!resolved.empty()) target = resolved;
  }
  const std::string tempName = target + ".temp";
  FFileChanged = false;
  const TDateTime oldTime = GetFileTimeOf(target, 1);
  platform::FileInfo before;
  const bool haveBefore = platform::GetFileInfo(target, before) == 0;

  // Never follow or reuse what stands under the temporary name: an earlier
  // run's file or a planted link is removed, then the file is made anew.
  platform::DeleteFile(tempName);
  platform::File temp;
  if (int err = temp.CreateExclusive(tempName))
    throw EFCreateError(Format("ファイル \"%s\". %s を作成できません", {tempName, platform::ErrorText(err)}));

  try {
    // Most files need no correction (every run after the first meets only
    // repaired files): a scan that looks for a record to correct, without
    // writing anything, settles those. Only a file that has one is rewritten.
    {
      TCsvLoader scan;
      scan.SetDelimiter(44);
      scan.SetQuoteChar(34);
      if (!scan.FindRecord(target, HasTag)) {
        temp.Close();
        platform::DeleteFile(tempName);
        return;
      }
    }
    bool reachedEnd = true;
    {
      // Every record goes to the temporary file in the canonical form, in
      // large checked writes made behind the rewrite, which meanwhile fills
      // the next block. The disk starts on each few MiB at once, so the
      // flush below waits only for the tail.
      constexpr std::size_t kStartFlushEvery = 8 << 20;
      TCsvLoader loader;
      loader.SetDelimiter(44);
      loader.SetQuoteChar(34);
      loader.SetSkipFirstLine(false);
      // After the loader, so that the block being written is done before
      // the loader's buffers go.
      platform::WriteBehind writer(temp, kStartFlushEvery);
      loader.RewriteQuoted(
          target, [this](std::string_view first) { return RepairRecord(first); },
          [&](const char* data, std::size_t size) {
            if (int err = writer.Write(data, size)) throw EWriteError(WriteErrorText(tempName, err));
          });
      if (int err = writer.Wait()) throw EWriteError(WriteErrorText(tempName, err));
      reachedEnd = loader.ReachedEnd();
    }

    if (!FFileChanged) {
      temp.Close();
      platform::DeleteFile(tempName);
      return;
    }
    // Replacing a file whose reading stopped at a NUL byte would drop all
    // that follows it.
    if (!reachedEnd) throw Exception(Format("ファイル \"%s\" にNUL文字があるため修正できません", {FileName}));

    if (haveBefore) {
      if (int err = temp.CopyAccessFrom(before)) throw EWriteError(WriteErrorText(tempName, err));
    }
    if (oldTime > 0) {
      const platform::FileTime lastWrite = DateTimeToFileTime(oldTime);
      if (int err = temp.SetTimes(nullptr, nullptr, &lastWrite))
        throw Exception(Format("ファイル \"%s\" の更新日時を設定できません. %s", {FileName, platform::ErrorText(err)}));
    }
    if (int err = temp.Flush()) throw EWriteError(WriteErrorText(tempName, err));
    if (int err = temp.Close()) throw EWriteError(WriteErrorText(tempName, err));

    // The old file stays open across the replace: what a writer appends to
    // it between the check below and the rename is carried over afterwards.
    platform::File old;
    if (old.OpenRead(target, false) != 0)
      throw Exception(Format("ファイル \"%s\" は修正中に変更されました", {FileName}));
    // A file that grew or changed while it was read would lose the change.
    platform::FileInfo after;
    if (!haveBefore || platform::GetFileInfo(target, after) != 0 || !SameFileState(before, after))
      throw Exception(Format("ファイル \"%s\" は修正中に変更されました", {FileName}));

    if (int err = platform::ReplaceFile(tempName, target))
      throw Exception(Format("ファイル \"%s\" を置き換えできません. %s", {FileName, platform::ErrorText(err)}));
    if (int err = platform::FlushDirectory(FolderOf(target)))
      throw Exception(Format("ファイル \"%s\" を置き換えできません. %s", {FileName, platform::ErrorText(err)}));
    bool abandoned = false;
    if (int err = CarryOverAppended(old, before.size, target, abandoned))
      throw Exception(Format("ファイル \"%s\" を置き換えできません. %s", {FileName, platform::ErrorText(err)}));
    // What the writer adds from now on goes to the old file, which nobody
    // will see again.
    if (abandoned)
      throw Exception(Format("ファイル \"%s\" は置き換えた後も古いファイルに書き込まれています", {FileName}));
    ++UpdatedCount;
  } catch (...) {
    temp.Close();
    // Only the file this call created is removed; after a successful rename
    // the name belongs to nobody.
    platform::FileInfo leftover;
    if (platform::GetFileInfo(tempName, leftover) == 0) platform::DeleteFile(tempName);
    throw;
  }
}
