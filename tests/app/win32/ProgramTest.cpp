// KvAccesslogUpdater.exe as the user starts it: a copy beside its
// configuration, driven by its test drive (click 実行, answer the boxes),
// whose report says what the window showed.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "../SampleLogs.h"
#include "app/KvUpdaterView.h"
#include "diagnostics/DispatcherProcess.h"
#include "platform/CodePage.h"
#include "support/TestSupport.h"

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::Wide;
using testing_support::WriteFile;

namespace {

// The report's key=value lines, unescaped.
std::map<std::string, std::string> ParseReport(const std::string& text) {
  std::map<std::string, std::string> values;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string value;
    for (std::size_t i = equals + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        const char next = line[++i];
        value += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
      } else {
        value += line[i];
      }
    }
    values[line.substr(0, equals)] = value;
  }
  return values;
}

std::string Rect(const TKvControlDesign& design, int width) {
  return std::to_string(design.left) + " " + std::to_string(design.top) + " " + std::to_string(width) + " " +
         std::to_string(design.height);
}

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() {
    for (const char* folder : {"bin", "web", "logs"}) CreateDirectoryW(Wide(dir.System(folder)).c_str(), nullptr);
    const std::string built = std::string(std::getenv("KV_BIN_DIR")) + "\\KvAccesslogUpdater.exe";
    EXPECT_TRUE(CopyFileW(Wide(built).c_str(), Wide(dir.System("bin\\KvAccesslogUpdater.exe")).c_str(), FALSE))
        << built;
  }

  // Runs the copy with its configuration beside it; the report, and the exit code in `status`.
  std::map<std::string, std::string> Run(const std::string& folder, DWORD& status, const std::string& moreLines = "") {
    WriteFile(dir.Native("bin/kestrova.ini"),
              "[Kestrova]\r\nwebdocroot=" + dir.System("web") + "\r\naccesslog_dir=" + folder + "\r\n" + moreLines);
    const std::wstring report = Wide(dir.System("report.txt"));
    SetEnvironmentVariableW(L"KV_WINDOW_SELFTEST", report.c_str());
    std::wstring commandLine = L"\"" + Wide(dir.System("bin\\KvAccesslogUpdater.exe")) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        Wide(dir.System("bin")).c_str(), &startup, &process);
    SetEnvironmentVariableW(L"KV_WINDOW_SELFTEST", nullptr);
    status = ~0u;
    if (!started) {
      ADD_FAILURE() << "CreateProcess: " << GetLastError();
      return {};
    }
    if (WaitForSingleObject(process.hProcess, 90000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 9);
      ADD_FAILURE() << "the program did not end";
    }
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ParseReport(ReadFile(dir.Native("report.txt")));
  }

  TempDir dir;
};

TEST_F(ProgramTest, RepairsTheConfiguredFolderThroughTheWindow) {
  WriteFile(dir.Native("logs/access_1.log"), kNeedsCorrection + kClean);
  WriteFile(dir.Native("logs/access_2.log"), kClean);
  WriteFile(dir.Native("logs/access_3.log"), kClean);
  CreateDirectoryW(Wide(dir.System("logs\\old.log")).c_str(), nullptr);
  WriteFile(dir.Native("logs/old.log/inner.log"), kNeedsCorrection);
  DWORD status = 0;
  auto report = Run(dir.System("logs"), status);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(report.count("timeout"), 0u);

  // The window as it opened.
  EXPECT_EQ(report["start.caption"], kKvWindowCaption);
  EXPECT_EQ(report["start.client"], "614 102");
  EXPECT_EQ(report["start.taborder"], "btnExecute btnStop");
  // The design's font, at the largest size whose whole line fits the labels.
  const std::string font = report["start.font"], face = report["start.face"];
  EXPECT_EQ(font.rfind(std::string(kKvFontName) + " -", 0), 0u) << font;
  EXPECT_TRUE(font.ends_with(" 128")) << font;
  EXPECT_LE(std::atoi(face.c_str() + face.rfind(' ') + 1), KvLabelHeight()) << face;
  for (const TKvControlDesign& design : kKvControlDesigns) {
    SCOPED_TRACE(design.name);
    const std::string key = std::string("start.") + design.name;
    const std::string kind = design.isButton ? "Button " : "Static ";
    const std::string shown = design.visible ? " shown" : " hidden";
    const std::string right = design.rightAligned ? " right" : "";
    if (design.autoSize) {
      // As wide as its text, from its anchored side.
      std::istringstream fields(report[key]);
      std::string reportedKind, state;
      int left = 0, top = 0, width = 0, height = 0;
      fields >> reportedKind >> left >> top >> width >> height >> state;
      EXPECT_EQ(reportedKind + " ", kind);
      EXPECT_EQ(design.rightAligned ? left + width : left,
                design.rightAligned ? design.left + design.width : design.left);
      EXPECT_EQ(top, design.top);
      EXPECT_EQ(height, design.height);
      EXPECT_GT(width, 0);
      EXPECT_EQ(" " + state, shown);
    } else {
      EXPECT_EQ(report[key], kind + Rect(design, design.width) + shown + right);
    }
    EXPECT_EQ(report[key + ".text"],
              design.control == TKvControl::lbAccesslogDir ? dir.System("logs") : std::string(design.caption));
  }

  // The completion message, with the counts of the run still up.
  EXPECT_EQ(report["message1.text"], "完了しました");
  EXPECT_EQ(report["message1.title"], "KvAccesslogUpdater");
  EXPECT_EQ(report["message1.icon"], "none");
  EXPECT_EQ(report["message1.lbProgress.text"], "チェック数: 3 / 3");
  EXPECT_EQ(report["message1.lbProgress2.text"], "更新数: 1");
  EXPECT_NE(report["message1.btnStop"].find(" shown"), std::string::npos);
  EXPECT_EQ(report.count("message2.text"), 0u);
  EXPECT_EQ(report.count("bothbuttons"), 0u);
  // Idle again before the window closed.
  EXPECT_NE(report["end.btnExecute"].find(" shown"), std::string::npos);
  EXPECT_NE(report["end.lbProgress"].find(" hidden"), std::string::npos);

  EXPECT_EQ(ReadFile(dir.Native("logs/access_1.log")), kCorrected + kClean);
  EXPECT_EQ(ReadFile(dir.Native("logs/access_2.log")), kClean);
  EXPECT_EQ(ReadFile(dir.Native("logs/old.log/inner.log")), kNeedsCorrection);
}

TEST_F(ProgramTest, AnInvalidConfigurationEndsTheProgramWithItsReason) {
  DWORD status = 0;
  auto report = Run(dir.System("gone"), status);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(report["message1.text"], "アクセスログフォルダが見つかりません\r\n" + dir.System("gone"));
  // The window never showed, so it was never clicked.
  EXPECT_EQ(report.count("start.caption"), 0u);
  EXPECT_EQ(report.count("timeout"), 0u);
}

// An error of the system's own kind met at start reaches the dispatcher, in
// the session the program opens and closes.
TEST_F(ProgramTest, ErrorsAtStartReachTheDispatcher) {
  const std::string out = dir.Native("dispatcher.jsonl");
  testing_support::DispatcherProcess dispatcher(out, {}, dir.Native("dispatcher errors.txt"));
  ASSERT_NE(dispatcher.Window(), 0u);
  DWORD status = 0;
  auto report = Run(dir.System("logs"), status, "java_home=" + dir.System("no java") + "\r\n");
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(report["message1.text"], "config.iniが不正です\r\njava_homeフォルダが見つかりません");
  const auto lines = testing_support::OutputLines(out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(testing_support::JsonField(lines[0], "type"), "41");
  const std::u8string text = u8"Error java_homeフォルダが見つかりません";
  EXPECT_EQ(testing_support::JsonField(lines[1], "text"), std::string(text.begin(), text.end()));
  EXPECT_EQ(testing_support::JsonField(lines[1], "app"), "KvAccesslogUpdater");
  EXPECT_EQ(testing_support::JsonField(lines[2], "type"), "42");
}

}  // namespace
