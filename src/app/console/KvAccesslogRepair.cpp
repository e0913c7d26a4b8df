// The console front end of the repair window: one run over a given folder,
// for scheduled and scripted repairs and machines without a display.
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/KvUpdaterMainForm.h"
#include "app/console/KvConsoleView.h"
#include "platform/Console.h"
#include "platform/File.h"

namespace {

constexpr std::string_view kVersion = "KvAccesslogRepair 1.0\n";

constexpr std::string_view kUsage =
    "使い方: KvAccesslogRepair --folder フォルダ\n"
    "  フォルダ内の *.log ファイル(アクセスログ)を一括で修正します。\n"
    "  --folder フォルダ  修正するアクセスログフォルダ\n"
    "  --help             この説明を表示します\n"
    "  --version          バージョンを表示します\n"
    "  終了コード: 0 完了, 1 エラー, 2 使い方の誤り, 130 中断 (SIGINT, SIGTERM)\n"
    "\n"
    "Usage: KvAccesslogRepair --folder DIR\n"
    "  Repairs every *.log file (access log) directly in DIR.\n"
    "  --folder DIR  the access log folder to repair\n"
    "  --help        show this help\n"
    "  --version     show the version\n"
    "  Exit status: 0 done, 1 error, 2 usage error, 130 stopped (SIGINT, SIGTERM)\n";

constexpr int kExitDone = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

void Out(std::string_view text) { platform::WriteStandard(platform::StandardStream::Output, text); }
void Err(std::string_view text) { platform::WriteStandard(platform::StandardStream::Error, text); }

int Run(const std::string& folder) {
  // A folder that is not there would otherwise pass as an empty one and the
  // caller could not tell a typing error from a clean folder.
  if (!platform::DirectoryExists(folder)) {
    Err("アクセスログフォルダが見つかりません\n" + folder + "\n");
    return kExitError;
  }
  platform::CatchStopSignals();
  TKvConsoleView view;
  TKvAccesslogUpdaterForm form(view);
  if (view.Terminated()) return kExitError;
  view.SetOnStop([&form] { form.btnStopClick(); });
  view.SetCaption(TKvControl::lbAccesslogDir, folder);
  form.btnExecuteClick();

  Out(view.Caption(TKvControl::lbProgress) + "\n" + view.Caption(TKvControl::lbProgress2) + "\n");
  for (const std::string& message : view.Messages()) Out(ToConsoleLines(message) + "\n");
  if (view.ErrorShown()) return kExitError;
  return view.StopDelivered() ? kExitStopped : kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  std::optional<std::string> folder;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      Out(kUsage);
      return kExitDone;
    }
    if (arg == "--version") {
      Out(kVersion);
      return kExitDone;
    }
    if (arg == "--folder" && i + 1 < args.size()) {
      folder = std::string(args[++i]);
    } else if (arg.starts_with("--folder=")) {
      folder = std::string(arg.substr(9));
    } else {
      Err(kUsage);
      return kExitUsage;
    }
  }
  // Without a folder the configuration would name it; until it is read
  // here, the folder must be given.
  if (!folder) {
    Err(kUsage);
    return kExitUsage;
  }
  try {
    return Run(*folder);
  } catch (const std::exception& e) {
    Err(ToConsoleLines(e.what()) + "\n");
    return kExitError;
  }
}
