// The console front end of the repair window: one run over the configured
// access log folder or a given one, for scheduled and scripted repairs and
// machines without a display; it also shows what the configuration holds.
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/KvStartUp.h"
#include "app/KvUpdaterMainForm.h"
#include "app/console/KvConsoleView.h"
#include "config/KestrovaIniUnit.h"
#include "config/KvIniPrinter.h"
#include "platform/Console.h"
#include "platform/File.h"
#include "platform/ProgramEntry.h"

namespace {

constexpr std::string_view kVersion = "KvAccesslogRepair 1.0\n";

constexpr std::string_view kUsage =
    "使い方: KvAccesslogRepair [--config ファイル] [--check-config]\n"
    "        KvAccesslogRepair --folder フォルダ\n"
    "  アクセスログフォルダ内の *.log ファイルを一括で修正します。フォルダは\n"
    "  サーバーの設定ファイル (kestrova.ini または config.ini) の accesslog_dir です。\n"
    "  --config ファイル  この設定ファイルを読みます\n"
    "  --check-config     設定ファイルを検証し、読み込んだ値を表示します\n"
    "  --folder フォルダ  設定ファイルを読まずにこのフォルダを修正します\n"
    "  --help             この説明を表示します\n"
    "  --version          バージョンを表示します\n"
    "  終了コード: 0 完了, 1 エラー, 2 使い方の誤りまたは設定の誤り, 130 中断 (SIGINT, SIGTERM)\n"
    "\n"
    "Usage: KvAccesslogRepair [--config FILE] [--check-config]\n"
    "       KvAccesslogRepair --folder DIR\n"
    "  Repairs every *.log file (access log) directly in the access log folder,\n"
    "  the accesslog_dir of the server's configuration (kestrova.ini or config.ini).\n"
    "  --config FILE   read this configuration document\n"
    "  --check-config  validate the configuration and print the values read\n"
    "  --folder DIR    repair DIR without reading the configuration\n"
    "  --help          show this help\n"
    "  --version       show the version\n"
    "  Exit status: 0 done, 1 error, 2 usage or configuration error, 130 stopped (SIGINT, SIGTERM)\n";

constexpr int kExitDone = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

void Out(std::string_view text) { platform::WriteStandard(platform::StandardStream::Output, text); }
void Err(std::string_view text) { platform::WriteStandard(platform::StandardStream::Error, text); }

// Repairs the form's folder.
int Repair(TKvConsoleView& view, TKvAccesslogUpdaterForm& form) {
  platform::CatchStopSignals();
  view.SetOnStop([&form] { form.btnStopClick(); });
  form.btnExecuteClick();

  Out(view.Caption(TKvControl::lbProgress) + "\n" + view.Caption(TKvControl::lbProgress2) + "\n");
  // The logs the run could not take close the window's completion message;
  // here they go to standard error, and the run is not done.
  const std::string notTaken = form.NotTakenText();
  const std::string below = notTaken.empty() ? "" : "\r\n" + notTaken;
  for (std::string_view message : view.Messages()) {
    if (!below.empty() && message.ends_with(below)) message.remove_suffix(below.size());
    Out(ToConsoleLines(message) + "\n");
  }
  if (view.ErrorShown()) return kExitError;
  if (view.StopDelivered()) return kExitStopped;
  if (notTaken.empty()) return kExitDone;
  Err(ToConsoleLines(notTaken) + "\n");
  return kExitError;
}

int RepairFolder(const std::string& folder) {
  // A folder that is not there would otherwise pass as an empty one and the
  // caller could not tell a typing error from a clean folder.
  if (!platform::DirectoryExists(folder)) {
    Err("アクセスログフォルダが見つかりません\n" + folder + "\n");
    return kExitError;
  }
  TKvConsoleView view;
  TKvAccesslogUpdaterForm form(view);
  form.SetFolder(folder);
  return Repair(view, form);
}

// The window's start: the configuration names the folder; what stops the
// start goes to standard error.
int RepairConfigured(const std::string& configFile) {
  TKvConsoleView view;
  TKvAccesslogUpdaterForm form(view);
  form.FormCreate(configFile);
  if (view.Terminated()) {
    for (const std::string& message : view.Messages()) Err(ToConsoleLines(message) + "\n");
    return kExitUsage;
  }
  const int status = Repair(view, form);
  form.FormDestroy();
  return status;
}

// The document as the server reads it, every key with the value it holds.
int CheckConfig(const std::string& configFile) {
  TKestrovaIni ini;
  ini.Load(configFile);
  if (!ini.Valid) {
    Err("config.iniが不正です\n" + ToConsoleLines(ini.ErrorMessage) + "\n");
    return kExitUsage;
  }
  Out(ToConsoleLines(KvIniDocumentText(ini)));
  return kExitDone;
}

}  // namespace

int ProgramMain(const std::vector<std::string>& arguments) {
  const std::vector<std::string_view> args(arguments.begin(), arguments.end());
  std::optional<std::string> folder;
  std::optional<std::string> config;
  bool checkConfig = false;
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
    } else if (arg == "--config" && i + 1 < args.size()) {
      config = std::string(args[++i]);
    } else if (arg.starts_with("--config=")) {
      config = std::string(arg.substr(9));
    } else if (arg == "--check-config") {
      checkConfig = true;
    } else {
      Err(kUsage);
      return kExitUsage;
    }
  }
  // A given folder is repaired without the configuration, so naming both
  // would leave one of them unused.
  if (folder && (config || checkConfig)) {
    Err(kUsage);
    return kExitUsage;
  }
  // An empty name would silently mean the default document.
  if (config && config->empty()) {
    Err(kUsage);
    return kExitUsage;
  }
  try {
    // The installation paths (where the configuration is) rest on the
    // special folders; both are worked out once, before anything runs.
    TKvStartUp startUp;
    if (checkConfig) return CheckConfig(config.value_or(""));
    if (folder) return RepairFolder(*folder);
    return RepairConfigured(config.value_or(""));
  } catch (const std::exception& e) {
    Err(ToConsoleLines(e.what()) + "\n");
    return kExitError;
  }
}
