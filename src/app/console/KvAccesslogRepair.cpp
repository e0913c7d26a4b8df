// The console front end of the repair window: one run over the configured
// access log folder or a given one, for scheduled and scripted repairs and
// machines without a display; it also checks a folder without changing it
// and shows what the configuration holds.
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/KvStartUp.h"
#include "app/KvUpdaterMainForm.h"
#include "app/console/KvConsoleView.h"
#include "app/console/KvRunReport.h"
#include "base/Format.h"
#include "config/KestrovaIniUnit.h"
#include "config/KvIniPrinter.h"
#include "platform/Console.h"
#include "platform/File.h"
#include "platform/ProgramEntry.h"

namespace {

constexpr std::string_view kProgram = "KvAccesslogRepair 1.0";

constexpr std::string_view kUsage =
    "使い方: KvAccesslogRepair [--config ファイル] [オプション]\n"
    "        KvAccesslogRepair --folder フォルダ [オプション]\n"
    "        KvAccesslogRepair --check-config [--config ファイル]\n"
    "  アクセスログフォルダ内の *.log ファイルを一括で修正し、修正したファイルを\n"
    "  1 行ずつ表示します。フォルダはサーバーの設定ファイル (kestrova.ini または\n"
    "  config.ini) の accesslog_dir です。\n"
    "  --config ファイル  この設定ファイルを読みます\n"
    "  --folder フォルダ  設定ファイルを読まずにこのフォルダを修正します\n"
    "  --check            何も変更せず、修正が必要なファイルとレコード数を表示します\n"
    "  --keep-going       エラーになったファイルがあっても次のファイルに進みます\n"
    "  --backup フォルダ  置き換える前のファイルをこのフォルダにコピーします\n"
    "  --report ファイル  実行結果をこのファイルに JSON で書きます\n"
    "  --check-config     設定ファイルを検証し、読み込んだ値を表示します\n"
    "  --help             この説明を表示します\n"
    "  --version          バージョンを表示します\n"
    "  Ctrl+C (Ctrl+Break, SIGINT, SIGTERM): 1 回目は現在のファイルの修正が終わると\n"
    "  終了します。2 回目は現在のファイルを元のままにしてすぐに終了します。\n"
    "  終了コード: 0 完了 (--check: 修正の必要なし), 1 エラー,\n"
    "              2 使い方の誤りまたは設定の誤り, 3 修正が必要 (--check), 130 中断\n"
    "\n"
    "Usage: KvAccesslogRepair [--config FILE] [OPTIONS]\n"
    "       KvAccesslogRepair --folder DIR [OPTIONS]\n"
    "       KvAccesslogRepair --check-config [--config FILE]\n"
    "  Repairs every *.log file (access log) directly in the access log folder and\n"
    "  names each file it replaced. The folder is the accesslog_dir of the server's\n"
    "  configuration (kestrova.ini or config.ini).\n"
    "  --config FILE   read this configuration document\n"
    "  --folder DIR    repair DIR without reading the configuration\n"
    "  --check         change nothing; name each file that needs repair, with the\n"
    "                  number of records to correct\n"
    "  --keep-going    go on with the next file after a file that fails\n"
    "  --backup DIR    copy each file into DIR before it is replaced\n"
    "  --report FILE   write a record of the run to FILE (JSON)\n"
    "  --check-config  validate the configuration and print the values read\n"
    "  --help          show this help\n"
    "  --version       show the version\n"
    "  Ctrl+C (Ctrl+Break, SIGINT, SIGTERM): the first ends the run after the\n"
    "  current file; a second one leaves the current file as it was and ends now.\n"
    "  Exit status: 0 done (--check: nothing to repair), 1 error,\n"
    "               2 usage or configuration error, 3 repair needed (--check), 130 stopped\n";

constexpr std::string_view kSeeHelp = "詳しくは KvAccesslogRepair --help を参照してください\n";
constexpr std::string_view kStopNotice = "ストップします: 現在のファイルの修正が終わると終了します";

constexpr int kExitDone = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRepairNeeded = 3;
constexpr int kExitStopped = 130;

void Out(std::string_view text) { platform::WriteStandard(platform::StandardStream::Output, text); }
void Err(std::string_view text) { platform::WriteStandard(platform::StandardStream::Error, text); }

struct TOptions {
  std::optional<std::string> folder, config, report, backup;
  bool checkConfig = false, check = false, keepGoing = false;
  bool help = false, version = false;
};

// The options of the command line; the first mistake in them, or "". All
// of them are read whatever comes first, so that a report asked for is
// written also for a mistake before it.
std::string Parse(const std::vector<std::string>& args, TOptions& options) {
  struct TValued {
    std::string_view name;
    std::optional<std::string> TOptions::*field;
    std::string_view what;  // what the value names
  };
  const TValued valued[] = {
      {"--folder", &TOptions::folder, "フォルダ"},
      {"--config", &TOptions::config, "ファイル"},
      {"--report", &TOptions::report, "ファイル"},
      {"--backup", &TOptions::backup, "フォルダ"},
  };
  struct TFlag {
    std::string_view name;
    bool TOptions::*field;
  };
  const TFlag flags[] = {
      {"--check-config", &TOptions::checkConfig},
      {"--check", &TOptions::check},
      {"--keep-going", &TOptions::keepGoing},
      {"--help", &TOptions::help},
      {"-h", &TOptions::help},
      {"/?", &TOptions::help},
      {"--version", &TOptions::version},
  };
  std::string mistake;
  auto note = [&mistake](std::string text) {
    if (mistake.empty()) mistake = std::move(text);
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    bool known = false;
    for (const TFlag& flag : flags) {
      if (arg != flag.name) continue;
      options.*flag.field = true;
      known = true;
    }
    for (const TValued& option : valued) {
      std::optional<std::string> value;
      if (arg == option.name) {
        // The next argument, unless it is the next option: the value was
        // forgotten. A folder named like an option is given with "=".
        if (i + 1 < args.size() && !args[i + 1].starts_with("--")) value = args[++i];
      } else if (arg.starts_with(std::string(option.name) + "=")) {
        value = std::string(arg.substr(option.name.size() + 1));
      } else {
        continue;
      }
      known = true;
      if (!value || value->empty() ||
          ((option.name == "--report") && (value->back() == '\\' || value->back() == '/'))) {
        note(std::string(option.name) + " には" + std::string(option.what) + "を指定してください");
      } else if (options.*option.field) {
        note(std::string(option.name) + " は1回だけ指定してください");
      } else {
        options.*option.field = std::move(value);
      }
    }
    if (known) continue;
    if (arg.starts_with("-"))
      note("不明なオプションです: " + std::string(arg));
    else
      // The natural first try names the folder alone.
      note("フォルダは --folder で指定してください: " + std::string(arg));
  }
  // Options that cannot go together: one of them would be left unused.
  const std::pair<std::string_view, bool> runOptions[] = {
      {"--folder", options.folder.has_value()}, {"--check", options.check},
      {"--keep-going", options.keepGoing},      {"--backup", options.backup.has_value()},
      {"--report", options.report.has_value()},
  };
  if (options.folder && options.config) note("--folder と --config は同時に指定できません");
  for (const auto& [name, given] : runOptions)
    if (options.checkConfig && given) note("--check-config と " + std::string(name) + " は同時に指定できません");
  if (options.check && options.backup) note("--check と --backup は同時に指定できません");
  return mistake;
}

// One run of the form over its folder, as the options ask; what the run
// did with each log goes to logs.
int Run(TKvConsoleView& view, TKvAccesslogUpdaterForm& form, const TOptions& options,
        std::vector<TKvLogOutcome>& logs) {
  TKvRunOptions run;
  run.checkOnly = options.check;
  run.keepGoing = options.keepGoing;
  run.backupFolder = options.backup.value_or("");
  // A second stop request gives the current log up.
  run.abandon = [] { return platform::StopSignalCount() >= 2; };
  run.onLog = [&view](const TKvLogOutcome& log) {
    if (log.kind == TKvLogOutcome::TKind::Replaced)
      view.WriteLine(platform::StandardStream::Output, Format("ファイル \"%s\" を修正しました (修正したレコード数: %s)",
                                                              {log.path, IntToStr(log.corrected)}));
    else if (log.kind == TKvLogOutcome::TKind::NeedsRepair)
      view.WriteLine(
          platform::StandardStream::Output,
          Format("ファイル \"%s\" は修正が必要です (修正するレコード数: %s)", {log.path, IntToStr(log.corrected)}));
    else if (log.kind == TKvLogOutcome::TKind::Abandoned)
      view.WriteLine(platform::StandardStream::Error, log.message);
  };
  form.SetRunOptions(std::move(run));
  platform::CatchStopSignals(view.NoticeBytes(kStopNotice));
  view.SetOnStop([&form] { form.btnStopClick(); });
  form.btnExecuteClick();
  logs = form.Outcomes();

  // Only a run that counted the folder has counts to show.
  if (view.ProgressSet())
    Out(view.Caption(TKvControl::lbProgress) + "\n" + view.Caption(TKvControl::lbProgress2) + "\n");
  // The logs the run could not take close the window's completion message;
  // here they go to standard error, and the run is not done.
  const std::string notTaken = form.NotTakenText();
  const std::string below = notTaken.empty() ? "" : "\r\n" + notTaken;
  for (std::string_view message : view.Messages()) {
    if (!below.empty() && message.ends_with(below)) message.remove_suffix(below.size());
    Out(ToConsoleLines(message) + "\n");
  }
  if (!notTaken.empty()) Err(ToConsoleLines(notTaken) + "\n");
  if (view.ErrorShown()) return kExitError;
  if (form.Stopped()) return kExitStopped;
  if (!notTaken.empty()) return kExitError;
  for (const TKvLogOutcome& log : logs)
    if (log.kind == TKvLogOutcome::TKind::NeedsRepair) return kExitRepairNeeded;
  return kExitDone;
}

// The folder of the command line or of the configuration, then the run.
int Repair(const TOptions& options, TKvRunSummary& summary, std::vector<TKvLogOutcome>& logs) {
  TKvConsoleView view;
  TKvAccesslogUpdaterForm form(view);
  if (options.folder) {
    // A folder that is not there would otherwise pass as an empty one and
    // the caller could not tell a typing error from a clean folder.
    summary.folder = *options.folder;
    if (!platform::DirectoryExists(*options.folder)) {
      summary.message = "アクセスログフォルダが見つかりません\n" + *options.folder;
      Err(summary.message + "\n");
      return kExitError;
    }
    form.SetFolder(*options.folder);
  } else {
    // The window's start: the configuration names the folder; what stops
    // the start goes to standard error.
    form.FormCreate(options.config.value_or(""));
    if (view.Terminated()) {
      for (const std::string& message : view.Messages()) {
        summary.message += (summary.message.empty() ? "" : "\n") + ToConsoleLines(message);
        Err(ToConsoleLines(message) + "\n");
      }
      // A folder that is missing is the same error however it was named.
      return form.ConfigurationValid() ? kExitError : kExitUsage;
    }
    summary.folder = form.FolderPath();
  }
  const int status = Run(view, form, options, logs);
  if (view.ErrorShown()) summary.message = ToConsoleLines(view.Errors().back());
  if (!options.folder) form.FormDestroy();
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
  TKvRunSummary summary;
  summary.started = Now();
  TOptions options;
  const std::string mistake = Parse(arguments, options);
  if (options.help && mistake.empty()) {
    Out(kUsage);
    return kExitDone;
  }
  if (options.version && mistake.empty()) {
    Out(std::string(kProgram) + "\n");
    return kExitDone;
  }
  summary.program = kProgram;
  summary.check = options.check;
  summary.keepGoing = options.keepGoing;
  summary.backupFolder = options.backup.value_or("");
  std::vector<TKvLogOutcome> logs;
  int status = kExitUsage;
  if (!mistake.empty()) {
    // The mistake in one line, not the whole usage.
    Err(mistake + "\n" + std::string(kSeeHelp));
    summary.message = mistake;
  } else {
    try {
      // The installation paths (where the configuration is) rest on the
      // special folders; both are worked out once, before anything runs.
      TKvStartUp startUp;
      status = options.checkConfig ? CheckConfig(options.config.value_or("")) : Repair(options, summary, logs);
    } catch (const std::exception& e) {
      summary.message = ToConsoleLines(e.what());
      Err(summary.message + "\n");
      status = kExitError;
    }
  }
  // Written whatever the run came to, so that a job that watches it never
  // reads the record of an earlier run.
  if (options.report) {
    summary.ended = Now();
    summary.status = status;
    const std::string failed = KvWriteRunReport(*options.report, KvRunReportText(summary, logs));
    if (!failed.empty()) {
      Err(failed + "\n");
      if (status != kExitUsage) status = kExitError;
    }
  }
  return status;
}
