// The console front end started without a folder: the configuration names
// it, and --check-config shows what the configuration holds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SampleLogs.h"
#include "support/Isolation.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::string Program() { return std::string(std::getenv("KV_BIN_DIR")) + "/KvAccesslogRepair"; }

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs the program with the arguments; output and error go through files.
Outcome RunProgram(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string out = dir.Native("stdout"), err = dir.Native("stderr");
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
    std::vector<std::string> copy = args;
    std::string program = Program();
    std::vector<char*> argv{program.data()};
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

// Every occurrence of from replaced by to.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

class ConfiguredConsoleTest : public ::testing::Test {
 protected:
  ConfiguredConsoleTest() {
    mkdir(dir.Native("web").c_str(), 0755);
    mkdir(dir.Native("logs").c_str(), 0755);
  }
  // The program's data folder, where the folder defaults lie, is the test's own.
  Outcome RunWith(const std::string& ini, std::vector<std::string> args) {
    WriteFile(dir.Native("kestrova.ini"), ini);
    args.insert(args.begin(), {"--config", dir.Native("kestrova.ini")});
    return RunProgram(dir, args);
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
    EXPECT_EQ(o.out, "チェック数: 1 / 1\n更新数: 1\n完了しました\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(ReadFile(dir.Native("logs/a.log")), kCorrected);
  }
}

TEST_F(ConfiguredConsoleTest, StartUpChecksEndWithStatusTwo) {
  WriteFile(dir.Native("file"), "not a folder");
  const struct {
    std::string ini;
    std::string err;
  } cases[] = {
      {Main("accesslog_dir=" + dir.System("logs") + "\r\nbatch_log_duration=1\r\n"),
       "config.iniが不正です\nbatch_log_durationは2以上の値を指定してください\n"},
      {"[Other]\r\na=1\r\n", "config.iniが不正です\n設定ファイルにSection(KestrovaもしくはMain)が定義されていません\n"},
      {Main("accesslog_dir=" + dir.System("gone") + "\r\n"),
       "アクセスログフォルダが見つかりません\n" + dir.System("gone") + "\n"},
      {Main("accesslog_dir=" + dir.System("file") + "\r\n"),
       "アクセスログフォルダが見つかりません\n" + dir.System("file") + "\n"},
      {Main(""), "アクセスログフォルダが見つかりません\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    const Outcome o = RunWith(c.ini, {});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.err);
  }
  const Outcome missing = RunProgram(dir, {"--config", dir.Native("none.ini")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "config.iniが不正です\n設定ファイルにSection(KestrovaもしくはMain)が定義されていません\n");
}

// Without --config the document is looked for beside the program, then in
// the installation folder the registry names.
TEST_F(ConfiguredConsoleTest, DefaultDocumentFromTheInstallationFolder) {
  const std::string bin = std::getenv("KV_BIN_DIR");
  if (testing_support::Exists(bin + "/kestrova.ini") || testing_support::Exists(bin + "/config.ini"))
    GTEST_SKIP() << "a document beside the program comes first";
  mkdir(dir.Native("install").c_str(), 0755);
  WriteFile(dir.Native("install/config.ini"), Main("accesslog_dir=" + dir.System("logs") + "\r\n"));
  WriteFile(dir.Native("registry.reg"),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ranso "
            "Works\\Kestrova\\2.0]\n\"InstallFolder\"=\"" +
                Replace(dir.System("install"), "\\", "\\\\") + "\"\n");
  const Outcome o = RunProgram(dir, {});
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "チェック数: 0 / 0\n更新数: 0\n完了しました\n");
}

// Complete documents with the values the server reads from them: @DIR@
// stands for the test's folder in both files.
TEST_F(ConfiguredConsoleTest, CheckConfigGoldenFiles) {
  const std::string data = std::string(std::getenv("KV_SOURCE_DIR")) + "/tests/data/config/";
  mkdir(dir.Native("docs").c_str(), 0755);
  for (const char* name : {"minimal", "complete", "invalid"}) {
    SCOPED_TRACE(name);
    const std::string ini = Replace(ReadFile(data + name + ".ini"), "@DIR@", dir.System());
    const Outcome o = RunWith(ini, {"--check-config"});
    const std::string expected = ReadFile(data + name + ".expected");
    if (std::string(name) == "invalid") {
      EXPECT_EQ(o.status, 2);
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(Replace(o.err, dir.System(), "@DIR@"), expected);
    } else {
      EXPECT_EQ(o.status, 0) << o.err;
      EXPECT_EQ(o.err, "");
      EXPECT_EQ(Replace(o.out, dir.System(), "@DIR@"), expected);
    }
  }
}

}  // namespace
