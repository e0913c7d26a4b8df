#include "reliability/Harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/ProcessHelper.h"
#include "support/TestSupport.h"

namespace reliability {

namespace {

std::string ReadAll(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

int TempOutput() {
  const char* base = std::getenv("TMPDIR");
  std::string name = std::string(base && *base ? base : "/tmp") + "/kvrel-out-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

}  // namespace

std::string Program() { return testing_support::BuiltProgram("KvAccesslogRepair"); }

bool HaveStrace() {
  static const bool have = Run({"strace", "-V"}).status == 0;
  return have;
}

RunResult Run(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  // Files rather than pipes: nothing to drain while waiting.
  const int out = TempOutput(), err = TempOutput();
  const pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(out, 1);
    dup2(err, 2);
    if (options.fileSizeLimit) {
      const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.gid >= 0 && setgid(static_cast<gid_t>(options.gid)) != 0) _exit(126);
    if (options.uid >= 0 && setuid(static_cast<uid_t>(options.uid)) != 0) _exit(126);
    std::vector<std::string> copy = argv;
    std::vector<char*> args;
    for (std::string& a : copy) args.push_back(a.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  const timespec step{0, 1000000};
  for (long waited = 0;; ++waited) {
    if (wait4(pid, &status, WNOHANG, &usage) == pid) break;
    if (waited > options.timeoutSeconds * 1000L) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      break;
    }
    nanosleep(&step, nullptr);
  }
  result.maxRssKiB = usage.ru_maxrss;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  close(out);
  close(err);
  return result;
}

std::string Totals(const std::string& out) {
  std::string totals;
  for (std::size_t at = 0, end; at < out.size(); at = end + 1) {
    end = out.find('\n', at);
    const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
    if (line.find("\" を修正しました (修正したレコード数: ") == std::string::npos) totals += line;
  }
  return totals;
}

RunResult Repair(const std::string& folder, const RunOptions& options, const std::vector<std::string>& more) {
  std::vector<std::string> argv = {Program(), "--folder", folder};
  argv.insert(argv.end(), more.begin(), more.end());
  return Run(argv, options);
}

std::string TaggedLine(const std::string& rest) { return "INFO\t[2026/12/01 10:15:30]" + rest + "\n"; }

std::string RepairedLine(const std::string& rest) {
  std::string line = "\"";
  for (char c : rest) line += c == ',' ? std::string("\",\"") : std::string(1, c);
  return line + "\"\r\n";
}

void Plant(const std::string& folder, const std::vector<LogFile>& logs) {
  for (const LogFile& log : logs) {
    const std::string path = folder + "/" + log.name;
    testing_support::WriteFile(path, log.before);
    chmod(path.c_str(), log.mode);
    if (log.owner >= 0)
      static_cast<void>(chown(path.c_str(), static_cast<uid_t>(log.owner), static_cast<gid_t>(log.group)));
    const timespec times[2] = {{0, UTIME_OMIT}, {log.mtimeSeconds, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
}

std::string CheckFolder(const std::string& folder, const std::vector<LogFile>& logs, bool requireRepaired) {
  std::ostringstream problems;
  for (const LogFile& log : logs) {
    const std::string path = folder + "/" + log.name;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      problems << log.name << ": missing\n";
      continue;
    }
    const std::string now = testing_support::ReadFile(path);
    if (now != log.repaired && (requireRepaired || now != log.before))
      problems << log.name << ": " << (now.size() < log.before.size() ? "partial" : "unexpected") << " content ("
               << now.size() << " bytes)\n";
    if (st.st_mtim.tv_sec != log.mtimeSeconds || st.st_mtim.tv_nsec != 0)
      problems << log.name << ": last-write time " << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec << "\n";
    if ((st.st_mode & 07777) != log.mode)
      problems << log.name << ": mode " << std::oct << (st.st_mode & 07777) << std::dec << "\n";
    if (log.owner >= 0 && (st.st_uid != static_cast<uid_t>(log.owner) || st.st_gid != static_cast<gid_t>(log.group)))
      problems << log.name << ": owner " << st.st_uid << ":" << st.st_gid << "\n";
  }
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* d = readdir(dir)) {
      const std::string name = d->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".temp") == 0) problems << name << ": left behind\n";
    }
    closedir(dir);
  }
  return problems.str();
}

std::string CheckBackups(const std::string& backup, const std::string& folder, const std::vector<LogFile>& logs,
                         bool unfinished) {
  std::ostringstream problems;
  std::vector<std::string> copied;
  if (DIR* dir = opendir(backup.c_str())) {
    while (dirent* d = readdir(dir)) {
      const std::string name = d->d_name;
      if (name == "." || name == "..") continue;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".temp") == 0) {
        if (!unfinished) problems << "backup " << name << ": left behind\n";
        continue;
      }
      // The log's name, or it with a number.
      const LogFile* log = nullptr;
      for (const LogFile& l : logs)
        if (name == l.name || (name.rfind(l.name + ".", 0) == 0 &&
                               name.find_first_not_of("0123456789", l.name.size() + 1) == std::string::npos))
          log = &l;
      if (!log) {
        problems << "backup " << name << ": no log's copy\n";
        continue;
      }
      copied.push_back(log->name);
      struct stat st {};
      stat((backup + "/" + name).c_str(), &st);
      if (testing_support::ReadFile(backup + "/" + name) != log->before) problems << "backup " << name << ": content\n";
      if (st.st_mtim.tv_sec != log->mtimeSeconds || st.st_mtim.tv_nsec != 0)
        problems << "backup " << name << ": last-write time " << st.st_mtim.tv_sec << "\n";
    }
    closedir(dir);
  }
  for (const LogFile& log : logs) {
    const bool replaced =
        log.before != log.repaired && testing_support::ReadFile(folder + "/" + log.name) == log.repaired;
    if (replaced && std::find(copied.begin(), copied.end(), log.name) == copied.end())
      problems << log.name << ": replaced without a copy\n";
  }
  return problems.str();
}

int InjectionsIn(const std::string& traceFile) {
  std::ifstream in(traceFile);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find("(INJECTED") != std::string::npos) ++count;
  return count;
}

RunResult RepairTraced(const std::string& folder, const std::vector<std::string>& expressions,
                       const std::string& traceFile, const std::vector<std::string>& more) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string options = std::string(asan ? asan : "") + ":detect_leaks=0";
  std::vector<std::string> argv = {"strace", "-f", "-qq", "-E", "ASAN_OPTIONS=" + options, "-o", traceFile};
  for (const std::string& e : expressions) argv.insert(argv.end(), {"-e", e});
  argv.insert(argv.end(), {"--", Program(), "--folder", folder});
  argv.insert(argv.end(), more.begin(), more.end());
  return Run(argv);
}

int CallNumber(const std::string& traceFile, const std::vector<std::string>& texts) {
  std::ifstream in(traceFile);
  std::string mainThread;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    const std::string pid = line.substr(0, line.find(' '));
    if (mainThread.empty()) mainThread = pid;
    // A call another thread interrupted shows twice; its first half counts.
    if (pid != mainThread || line.find(" resumed>") != std::string::npos) continue;
    ++number;
    bool all = true;
    for (const std::string& text : texts) all = all && line.find(text) != std::string::npos;
    if (all) return number;
  }
  return 0;
}

bool FolderBusy(const std::string& folder) {
  // Read from the system's list of locks: trying the lock would take it for
  // a moment, and a repair starting then would find the folder busy.
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) return false;
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);)
    if (line.find("FLOCK") != std::string::npos && line.find(inode) != std::string::npos) return true;
  return false;
}

}  // namespace reliability
