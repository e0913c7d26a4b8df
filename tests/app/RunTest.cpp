// A whole repair run of the window's logic, driven through a scripted view.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "SampleLogs.h"
#include "app/KvUpdaterMainForm.h"
#include "config/KvVariants.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Path.h"
#include "support/TestSupport.h"

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// What the view showed at one moment.
struct Snapshot {
  std::string progress, progress2;
  bool execute = false, stop = false, progressShown = false, progress2Shown = false;
  TKvCursor cursor = TKvCursor::crDefault;
};

class ScriptedView : public IKvUpdaterView {
 public:
  ScriptedView() {
    for (const TKvControlDesign& d : kKvControlDesigns) {
      captions[d.control] = d.caption;
      visible[d.control] = d.visible;
    }
  }

  std::string Caption(TKvControl c) const override { return captions.at(c); }
  void SetCaption(TKvControl c, const std::string& text) override { captions[c] = text; }
  void SetVisible(TKvControl c, bool v) override {
    visible[c] = v;
    if (visible[TKvControl::btnExecute] && visible[TKvControl::btnStop]) bothButtonsShown = true;
  }
  void SetCursor(TKvCursor c) override { cursor = c; }
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    atMessage = Now();
  }
  void ShowError(const std::string& message) override {
    errors.push_back(message);
    atError = Now();
  }
  void ProcessMessages() override {
    pumps.push_back(Now());
    if (onPump) onPump(static_cast<int>(pumps.size()));
  }
  void Terminate() override { terminated = true; }

  Snapshot Now() const {
    return {captions.at(TKvControl::lbProgress),
            captions.at(TKvControl::lbProgress2),
            visible.at(TKvControl::btnExecute),
            visible.at(TKvControl::btnStop),
            visible.at(TKvControl::lbProgress),
            visible.at(TKvControl::lbProgress2),
            cursor};
  }

  std::map<TKvControl, std::string> captions;
  std::map<TKvControl, bool> visible;
  TKvCursor cursor = TKvCursor::crDefault;
  std::vector<std::string> messages, errors;
  std::vector<Snapshot> pumps;
  Snapshot atMessage, atError;
  std::function<void(int pump)> onPump;  // pump 1 comes before the first file
  bool bothButtonsShown = false;
  bool terminated = false;
};

class RunTest : public ::testing::Test {
 protected:
  void SetFolder(const std::string& folder) { form.SetFolder(folder); }
  // A file of the folder as messages show it.
  std::string Shown(const std::string& name) const {
#ifdef _WIN32
    return dir.System(name);
#else
    return dir.Native(name);
#endif
  }

  void ExpectIdle() {
    const Snapshot s = view.Now();
    EXPECT_TRUE(s.execute);
    EXPECT_FALSE(s.stop);
    EXPECT_FALSE(s.progressShown);
    EXPECT_FALSE(s.progress2Shown);
    EXPECT_EQ(s.cursor, TKvCursor::crDefault);
    EXPECT_FALSE(form.Running());
    EXPECT_FALSE(view.bothButtonsShown);
  }

  // Five files that all need correction, in the order the run meets them.
  std::vector<std::string> FiveFiles() {
    for (const char* name : {"a.log", "b.log", "c.log", "d.log", "e.log"})
      WriteFile(dir.Native(name), kNeedsCorrection);
    return {"a.log", "b.log", "c.log", "d.log", "e.log"};
  }
  int CountCorrected(const std::vector<std::string>& names) {
    int n = 0;
    for (const std::string& name : names) n += ReadFile(dir.Native(name)) == kCorrected;
    return n;
  }

  TempDir dir;
  ScriptedView view;
  TKvAccesslogUpdaterForm form{view};
};

TEST_F(RunTest, FolderWithoutLogFilesCompletesWithZeroCounts) {
  WriteFile(dir.Native("notes.txt"), kNeedsCorrection);
  SetFolder(dir.System());
  form.btnExecuteClick();
  ASSERT_EQ(view.pumps.size(), 1u);
  EXPECT_EQ(view.pumps[0].progress, "チェック数: 0 / 0");
  EXPECT_EQ(view.pumps[0].progress2, "更新数: 0");
  EXPECT_EQ(view.messages, std::vector<std::string>{"完了しました"});
  EXPECT_TRUE(view.errors.empty());
  ExpectIdle();
}

TEST_F(RunTest, CountsAndRepairsOnlyRegularLogFiles) {
  WriteFile(dir.Native("one.log"), kNeedsCorrection);
  WriteFile(dir.Native("two.log"), kClean);
  WriteFile(dir.Native("three.LOG"), "x,y\n");
  ASSERT_TRUE(std::filesystem::create_directory(dir.Native("old.log")));
  WriteFile(dir.Native("old.log/inner.log"), kNeedsCorrection);
#ifndef _WIN32
  // Wine makes neither named pipes in a folder nor symbolic links.
  ASSERT_EQ(mkfifo(dir.Native("pipe.log").c_str(), 0644), 0);
  ASSERT_EQ(symlink("one.log", dir.Native("link.txt").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.Native("dangling.log").c_str()), 0);
  ASSERT_EQ(symlink("old.log", dir.Native("folderlink.log").c_str()), 0);
#endif
  SetFolder(dir.System());

  form.btnExecuteClick();

  ASSERT_EQ(view.pumps.size(), 4u);
  // The first texts replace the design-time captions before any file.
  EXPECT_EQ(view.pumps[0].progress, "チェック数: 0 / 3");
  // During the run: stop button, progress labels, hourglass.
  const Snapshot& running = view.pumps[1];
  EXPECT_FALSE(running.execute);
  EXPECT_TRUE(running.stop);
  EXPECT_TRUE(running.progressShown && running.progress2Shown);
  EXPECT_EQ(running.cursor, TKvCursor::crHourGlass);
  // The completion message comes while the final counts are still shown.
  EXPECT_EQ(view.messages, std::vector<std::string>{"完了しました"});
  EXPECT_EQ(view.atMessage.progress, "チェック数: 3 / 3");
  EXPECT_EQ(view.atMessage.progress2, "更新数: 1");
  EXPECT_TRUE(view.atMessage.progressShown);
  ExpectIdle();

  EXPECT_EQ(ReadFile(dir.Native("one.log")), kCorrected);
  EXPECT_EQ(ReadFile(dir.Native("two.log")), kClean);
  EXPECT_EQ(ReadFile(dir.Native("three.LOG")), "x,y\n");
  EXPECT_EQ(ReadFile(dir.Native("old.log/inner.log")), kNeedsCorrection);
  EXPECT_FALSE(Exists(dir.Native("one.log.temp")));

  // What the run did with each log, for the front ends.
  struct Expected {
    TKvLogOutcome::TKind kind;
    std::int64_t corrected;
    std::uint64_t size;
  };
  std::map<std::string, Expected> expected = {
      {"one.log", {TKvLogOutcome::TKind::Replaced, 1, kNeedsCorrection.size()}},
      {"two.log", {TKvLogOutcome::TKind::Unchanged, 0, kClean.size()}},
      {"three.LOG", {TKvLogOutcome::TKind::Unchanged, 0, 4}},
  };
  ASSERT_EQ(form.Outcomes().size(), expected.size());
  for (const TKvLogOutcome& outcome : form.Outcomes()) {
    const std::string name = outcome.path.substr(outcome.path.find_last_of("\\/") + 1);
    SCOPED_TRACE(name);
    ASSERT_EQ(expected.count(name), 1u);
    EXPECT_EQ(outcome.path, Shown(name));
    EXPECT_EQ(outcome.kind, expected[name].kind);
    EXPECT_EQ(outcome.corrected, expected[name].corrected);
    EXPECT_EQ(outcome.size, expected[name].size);
    EXPECT_GT(outcome.lastWrite, 0);
    EXPECT_EQ(outcome.message, "");
  }
  EXPECT_EQ(form.NotTakenText(), "");
}

TEST_F(RunTest, StopDuringSecondFileEndsAfterItAndIsClearedForTheNextRun) {
  const std::vector<std::string> names = FiveFiles();
  SetFolder(dir.System());
  Snapshot stopping;
  view.onPump = [&](int pump) {
    if (pump != 3) return;  // the pump right after the second file
    form.btnStopClick();
    stopping = view.Now();
    // The execute button is back, but a click must not start a run inside this one.
    form.btnExecuteClick();
  };
  form.btnExecuteClick();

  EXPECT_EQ(view.pumps.size(), 3u);
  EXPECT_EQ(view.pumps.back().progress, "チェック数: 2 / 5");
  EXPECT_EQ(view.pumps.back().progress2, "更新数: 2");
  EXPECT_TRUE(stopping.execute);
  EXPECT_FALSE(stopping.stop || stopping.progressShown || stopping.progress2Shown);
  EXPECT_EQ(stopping.cursor, TKvCursor::crHourGlass);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(CountCorrected(names), 2);
  ExpectIdle();

  view.onPump = nullptr;
  view.pumps.clear();
  form.btnExecuteClick();
  EXPECT_EQ(view.pumps.back().progress, "チェック数: 5 / 5");
  EXPECT_EQ(view.pumps.back().progress2, "更新数: 3");
  EXPECT_EQ(view.messages, std::vector<std::string>{"完了しました"});
  EXPECT_EQ(CountCorrected(names), 5);
}

TEST_F(RunTest, ErrorInThirdFileEndsTheRunAndRestoresTheControls) {
  const std::vector<std::string> names = FiveFiles();
  SetFolder(dir.System());
  // After the second file, no temporary file can be created for any file.
  view.onPump = [&](int pump) {
    if (pump == 3)
      for (const std::string& name : names) std::filesystem::create_directory(dir.Native(name + ".temp"));
  };
  form.btnExecuteClick();

  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_NE(view.errors[0].find("を作成できません"), std::string::npos) << view.errors[0];
  // The error is shown once the window is usable again.
  EXPECT_TRUE(view.atError.execute);
  EXPECT_EQ(view.atError.cursor, TKvCursor::crDefault);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.pumps.back().progress, "チェック数: 2 / 5");
  EXPECT_EQ(CountCorrected(names), 2);
  ExpectIdle();

  // A new run can start and repairs the rest.
  for (const std::string& name : names) std::filesystem::remove(dir.Native(name + ".temp"));
  view.onPump = nullptr;
  form.btnExecuteClick();
  EXPECT_EQ(view.messages, std::vector<std::string>{"完了しました"});
  EXPECT_EQ(CountCorrected(names), 5);
}

// A repair given up on request (a second stop) leaves its log as it was,
// with nothing beside it, whether it is given up during the rewrite or
// once the copy of the log is made; the run ends there.
TEST_F(RunTest, AbandonedLogIsLeftAsItWasAndEndsTheRun) {
  for (const char* trigger : {"b.log.temp", "bk/b.log"}) {
    SCOPED_TRACE(trigger);
    TempDir logs;
    for (const char* name : {"a.log", "b.log", "c.log"}) WriteFile(logs.Native(name), kNeedsCorrection);
    TKvRunOptions options;
    options.backupFolder = logs.System("bk");
    options.abandon = [&] { return Exists(logs.Native(trigger)); };
    form.SetRunOptions(std::move(options));
    form.SetFolder(logs.System());
    view.messages.clear();
    form.btnExecuteClick();

    EXPECT_TRUE(form.Stopped());
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.errors.empty());
    ExpectIdle();
    for (const char* left : {"b.log.temp", "bk/b.log", "bk/b.log.temp"})
      EXPECT_FALSE(Exists(logs.Native(left))) << left;
    bool reached = false;
    for (const TKvLogOutcome& outcome : form.Outcomes()) {
      const std::string name = outcome.path.substr(outcome.path.find_last_of("\\/") + 1);
      SCOPED_TRACE(name);
      const bool given = name == "b.log";
      const TKvLogOutcome::TKind kind = given     ? TKvLogOutcome::TKind::Abandoned
                                        : reached ? TKvLogOutcome::TKind::Skipped
                                                  : TKvLogOutcome::TKind::Replaced;
      EXPECT_EQ(outcome.kind, kind);
      EXPECT_EQ(ReadFile(logs.Native(name)), kind == TKvLogOutcome::TKind::Replaced ? kCorrected : kNeedsCorrection);
      EXPECT_EQ(Exists(logs.Native("bk/" + name)), kind == TKvLogOutcome::TKind::Replaced);
      if (given) {
        EXPECT_NE(outcome.message.find("の修正を中止しました"), std::string::npos) << outcome.message;
      }
      reached = reached || given;
    }
    EXPECT_TRUE(reached);
  }
}

// A give-up asked for during the rewrite of a log of several blocks, among
// its records, leaves the log as it was.
TEST_F(RunTest, LargeLogGivenUpDuringItsRewriteStaysAsItWas) {
  std::string log;
  for (int k = 0; k < 100000; ++k) log += kNeedsCorrection + kClean;  // 4 MiB
  WriteFile(dir.Native("big.log"), log);
  int asked = 0;
  TKvRunOptions options;
  options.abandon = [&] { return ++asked > 6; };
  form.SetRunOptions(std::move(options));
  SetFolder(dir.System());
  form.btnExecuteClick();
  ASSERT_EQ(form.Outcomes().size(), 1u);
  EXPECT_EQ(form.Outcomes()[0].kind, TKvLogOutcome::TKind::Abandoned);
  EXPECT_EQ(ReadFile(dir.Native("big.log")), log);
  EXPECT_FALSE(Exists(dir.Native("big.log.temp")));
}

TEST_F(RunTest, FolderWithOrWithoutTrailingDelimiterIsHandledAlike) {
  for (const std::string& folder : {dir.System(), dir.System() + "\\"}) {
    SCOPED_TRACE(folder);
    WriteFile(dir.Native("a.log"), kNeedsCorrection);
    SetFolder(folder);
    view.pumps.clear();
    form.btnExecuteClick();
    EXPECT_EQ(view.pumps.back().progress, "チェック数: 1 / 1");
    EXPECT_EQ(view.pumps.back().progress2, "更新数: 1");
    EXPECT_EQ(ReadFile(dir.Native("a.log")), kCorrected);
    EXPECT_EQ(view.Caption(TKvControl::lbAccesslogDir), folder);
  }
}

// A folder label that cannot hold the folder's characters, as a toolkit
// without them shows it: '?' for every byte beyond ASCII.
class AsciiLabelView : public ScriptedView {
 public:
  void SetCaption(TKvControl c, const std::string& text) override {
    std::string shown = text;
    if (c == TKvControl::lbAccesslogDir)
      for (char& ch : shown)
        if (static_cast<unsigned char>(ch) >= 0x80) ch = '?';
    ScriptedView::SetCaption(c, shown);
  }
};

TEST(RunFolderTest, EveryRunRepairsTheFolderItWasGivenWhateverTheLabelHolds) {
  TempDir dir;
  const std::string oldDataFolder = DataFolder;
  DataFolder = dir.System("data") + "\\";
  platform::CreateDirectories(dir.System("web"));
  std::vector<std::string> names = {"ログ_web_logs"};
#ifndef _WIN32
  // Bytes that form no character in the code page: a name only POSIX can have.
  names.push_back("logs\xFF\xFE_web");
#endif
  for (const std::string& name : names) {
    const std::string folder = dir.System(name);
    platform::CreateDirectories(folder);
    WriteFile(dir.Native("kestrova.ini"),
              "[Kestrova]\r\nwebdocroot=" + dir.System("web") + "\r\naccesslog_dir=" + folder + "\r\n");
    // The window's start from the configuration, and the console's given folder.
    const std::function<void(TKvAccesslogUpdaterForm&)> starts[] = {
        [&](TKvAccesslogUpdaterForm& form) { form.FormCreate(dir.System("kestrova.ini")); },
        [&](TKvAccesslogUpdaterForm& form) { form.SetFolder(folder); },
    };
    for (const auto& start : starts) {
      WriteFile(dir.Native(name + "/a.log"), kNeedsCorrection);
      AsciiLabelView view;
      TKvAccesslogUpdaterForm form(view);
      start(form);
      ASSERT_FALSE(view.terminated) << name;
      ASSERT_NE(view.Caption(TKvControl::lbAccesslogDir), folder);
      form.btnExecuteClick();
      EXPECT_TRUE(view.errors.empty()) << name;
      EXPECT_EQ(view.Now().progress, "チェック数: 1 / 1");
      EXPECT_EQ(view.Now().progress2, "更新数: 1");
      EXPECT_EQ(ReadFile(dir.Native(name + "/a.log")), kCorrected);
    }
  }
  DataFolder = oldDataFolder;
}

TEST_F(RunTest, FolderEndingInDoubleByteCharacterWithDelimiterByteGetsItsOwnDelimiter) {
  // "表" in Shift-JIS is 0x95 0x5C: its second byte is the byte of '\'.
#ifdef _WIN32
  // Native names are in the system code page.
  if (GetACP() != platform::kCodePageShiftJis) GTEST_SKIP() << "the system code page is not Shift-JIS";
  const std::string native = dir.Native("\x95\x5c");
  ASSERT_TRUE(CreateDirectoryA(native.c_str(), nullptr));
#else
  const std::string native = dir.Native("\xe8\xa1\xa8");
  ASSERT_EQ(mkdir(native.c_str(), 0755), 0);
#endif
  WriteFile(native + "/a.log", kNeedsCorrection);
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  const std::string folder = platform::FromNativePath(native);
  ASSERT_EQ(folder.back(), '\x5c');
  SetFolder(folder);
  form.btnExecuteClick();
  EXPECT_EQ(view.pumps.back().progress, "チェック数: 1 / 1");
  EXPECT_EQ(ReadFile(native + "/a.log"), kCorrected);
}

// A name the system code page cannot hold would name another file or none:
// the log stays as it is, and the completion message names it below its
// first line.
TEST_F(RunTest, NamesTheCodePageCannotHoldAreNamedNotRepaired) {
  WriteFile(dir.Native("a.log"), kNeedsCorrection);
#ifdef _WIN32
  // No "é" in Shift-JIS; "?", what it would become, cannot be in a name.
  const std::filesystem::path cafe = std::filesystem::path(dir.Native()) / L"caf\u00e9.log";
  std::ofstream(cafe, std::ios::binary) << kNeedsCorrection;
  const char* const kExpectedCount = "チェック数: 1 / 1";
#else
  const std::string cafe = dir.Native("caf\xc3\xa9.log");
  WriteFile(cafe, kNeedsCorrection);          // no "é" in Shift-JIS
  WriteFile(dir.Native("caf?.log"), kClean);  // what "é" would become
  const char* const kExpectedCount = "チェック数: 2 / 2";
#endif
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  SetFolder(dir.System());
  form.btnExecuteClick();
  EXPECT_TRUE(view.errors.empty());
  EXPECT_EQ(view.pumps.back().progress, kExpectedCount);
  EXPECT_EQ(view.pumps.back().progress2, "更新数: 1");
  const std::string notTaken =
      "ファイル \"" + Shown(platform::FromWide(u"caf\u00e9.log")) + "\" はファイル名を扱えないため修正できません";
  EXPECT_EQ(view.messages, std::vector<std::string>{"完了しました\r\n" + notTaken});
  EXPECT_EQ(form.NotTakenText(), notTaken);
  std::ifstream in(cafe, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kNeedsCorrection);
}

TEST_F(RunTest, FileAppearingAfterTheCountIsRepairedBeyondTheTotal) {
  for (const char* name : {"a.log", "b.log", "c.log"}) WriteFile(dir.Native(name), kClean);
  SetFolder(dir.System());
  view.onPump = [&](int pump) {
    if (pump == 1) WriteFile(dir.Native("late.log"), kNeedsCorrection);
  };
  form.btnExecuteClick();
  EXPECT_EQ(view.pumps.back().progress, "チェック数: 4 / 3");
  EXPECT_EQ(view.pumps.back().progress2, "更新数: 1");
  EXPECT_EQ(ReadFile(dir.Native("late.log")), kCorrected);
}

TEST_F(RunTest, FolderThatCannotBeSearchedCountsAsEmpty) {
  SetFolder(dir.System("gone"));
  form.btnExecuteClick();
  ASSERT_EQ(view.pumps.size(), 1u);
  EXPECT_EQ(view.pumps[0].progress, "チェック数: 0 / 0");
  EXPECT_EQ(view.pumps[0].progress2, "更新数: 0");
  EXPECT_EQ(view.messages, std::vector<std::string>{"完了しました"});
  ExpectIdle();
}

}  // namespace
