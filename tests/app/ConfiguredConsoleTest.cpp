// The console front end started without a folder: the configuration names
// it, and --check-config shows what the configuration holds.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// After windows.h.
#include <shlobj.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SampleLogs.h"
#include "platform/CodePage.h"
#include "platform/Path.h"
#include "support/Isolation.h"
#include "support/OutputCapture.h"
#include "support/ProcessHelper.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

using Outcome = testing_support::CapturedRun;

Outcome RunProgram(const std::vector<std::string>& args) {
  return testing_support::RunCapturingOutput(testing_support::BuiltProgram("KvAccesslogRepair"), args);
}

// Every occurrence of from replaced by to.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// The output with the program's data folder shown as the test's own: on
// Windows the program takes the machine's.
std::string AsTestDataFolder([[maybe_unused]] const TempDir& dir, const std::string& output) {
#ifdef _WIN32
  char machine[MAX_PATH];
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, machine)))
    return Replace(output, machine, dir.System("data"));
#endif
  return output;
}

class ConfiguredConsoleTest : public ::testing::Test {
 protected:
  ConfiguredConsoleTest() {
    std::filesystem::create_directory(dir.Native("web"));
    std::filesystem::create_directory(dir.Native("logs"));
  }
  // The program's data folder, where the folder defaults lie, is the test's own.
  Outcome RunWith(const std::string& ini, std::vector<std::string> args) {
    WriteFile(dir.Native("kestrova.ini"), ini);
    args.insert(args.begin(), {"--config", dir.Native("kestrova.ini")});
    return RunProgram(args);
  }
  std::string Main(const std::string& lines) {
    return "[Kestrova]\r\nwebdocroot=" + dir.System("web") + "\r\n" + lines;
  }

  TempDir dir;
  ScopedEnv data{"KESTROVA_PROGRAMDATA", dir.Native("data")};
  ScopedEnv registry{"KESTROVA_REGISTRY", dir.Native("registry.reg")};
};

TEST_F(ConfiguredConsoleTest, RepairsTheConfiguredFolder) {
  WriteFile(dir.Native("logs/a.log"), kNeedsCorrection);
  for (const std::string& folder : {dir.System("logs"), dir.System("logs") + "\\", dir.Native("logs")}) {
    SCOPED_TRACE(folder);
    WriteFile(dir.Native("logs/a.log"), kNeedsCorrection);
    const Outcome o = RunWith(Main("accesslog_dir=" + folder + "\r\n"), {});
    EXPECT_EQ(o.status, 0);
#ifdef _WIN32
    // The folder is shown as it is configured, with its own separators.
    const std::string shown = (folder.back() == '\\' ? folder : folder + "\\") + "a.log";
#else
    const std::string shown = platform::ShownPath(dir.System("logs\\a.log"));
#endif
    EXPECT_EQ(o.out, "ファイル \"" + shown +
                         "\" を修正しました (修正したレコード数: 1)\nチェック数: 1 / 1\n更新数: 1\n完了しました\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(ReadFile(dir.Native("logs/a.log")), kCorrected);
  }
}

// An invalid document is a configuration error (2); a folder it names that
// is not there is an error as with --folder (1).
TEST_F(ConfiguredConsoleTest, StartUpChecksEndWithStatusTwoOrOne) {
  WriteFile(dir.Native("file"), "not a folder");
  const struct {
    std::string ini;
    std::string err;
    int status;
  } cases[] = {
      {Main("accesslog_dir=" + dir.System("logs") + "\r\nbatch_log_duration=1\r\n"),
       "config.iniが不正です\nbatch_log_durationは2以上の値を指定してください\n", 2},
      {"[Other]\r\na=1\r\n", "config.iniが不正です\n設定ファイルにSection(KestrovaもしくはMain)が定義されていません\n",
       2},
      {Main("accesslog_dir=" + dir.System("gone") + "\r\n"),
       "アクセスログフォルダが見つかりません\n" + dir.System("gone") + "\n", 1},
      {Main("accesslog_dir=" + dir.System("file") + "\r\n"),
       "アクセスログフォルダが見つかりません\n" + dir.System("file") + "\n", 1},
      {Main(""), "アクセスログフォルダが見つかりません\n\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    const Outcome o = RunWith(c.ini, {});
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.err);
  }
  const Outcome missing = RunProgram({"--config", dir.Native("none.ini")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "config.iniが不正です\n設定ファイルにSection(KestrovaもしくはMain)が定義されていません\n");
}

// Without --config the document is looked for beside the program, then in
// the installation folder the registry names.
TEST_F(ConfiguredConsoleTest, DefaultDocumentFromTheInstallationFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "the installation folder is in the machine's registry, which the other tests read meanwhile";
#else
  const std::string bin = std::getenv("KV_BIN_DIR");
  if (testing_support::Exists(bin + "/kestrova.ini") || testing_support::Exists(bin + "/config.ini"))
    GTEST_SKIP() << "a document beside the program comes first";
  std::filesystem::create_directory(dir.Native("install"));
  WriteFile(dir.Native("install/config.ini"), Main("accesslog_dir=" + dir.System("logs") + "\r\n"));
  // Exported from the 32-bit view of a 64-bit Windows, or under the plain name.
  for (const char* key : {"SOFTWARE\\WOW6432Node\\Ranso Works", "SOFTWARE\\Ranso Works"}) {
    SCOPED_TRACE(key);
    WriteFile(dir.Native("registry.reg"), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
                                              std::string(key) + "\\Kestrova\\2.0]\n\"InstallFolder\"=\"" +
                                              Replace(dir.System("install"), "\\", "\\\\") + "\"\n");
    const Outcome o = RunProgram({});
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "チェック数: 0 / 0\n更新数: 0\n完了しました\n");
  }
#endif
}

// The expected outputs are kept in UTF-8; the program writes the system
// code page.
std::string FromUtf8(const std::string& utf8) {
  std::u16string wide;
  {
    platform::ScopedCodePage source(platform::kCodePageUtf8);
    wide = platform::ToWide(utf8);
  }
  return platform::FromWide(wide);
}

// Complete documents with the values the server reads from them, printed as
// a document that reads back the same: @DIR@ stands for the test's folder in
// both files.
TEST_F(ConfiguredConsoleTest, CheckConfigGoldenFiles) {
  const std::string data = std::string(std::getenv("KV_SOURCE_DIR")) + "/tests/data/config/";
  std::filesystem::create_directory(dir.Native("docs"));
  for (const char* name : {"minimal", "complete", "edges", "invalid"}) {
    SCOPED_TRACE(name);
    const std::string ini = Replace(ReadFile(data + name + ".ini"), "@DIR@", dir.System());
    const Outcome o = RunWith(ini, {"--check-config"});
    const std::string expected = FromUtf8(ReadFile(data + name + ".expected"));
    if (std::string(name) == "invalid") {
      EXPECT_EQ(o.status, 2);
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(Replace(o.err, dir.System(), "@DIR@"), expected);
    } else {
      EXPECT_EQ(o.status, 0) << o.err;
      EXPECT_EQ(o.err, "");
      EXPECT_EQ(Replace(AsTestDataFolder(dir, o.out), dir.System(), "@DIR@"), expected);
      // The output is a document that reads back the same values.
      const Outcome again = RunWith(o.out, {"--check-config"});
      EXPECT_EQ(again.status, 0) << again.err;
      EXPECT_EQ(again.out, o.out);
    }
  }
}

}  // namespace
