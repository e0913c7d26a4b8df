// Times the repair program as users run it, a whole process on a folder of
// generated logs, against plain commands on the same file in the same run:
// cat for reading, dd with a flush for copying. Several runs, taken in turns
// so that both meet the same machine state; medians, ratios and the peak
// memory of each run of the program.
//
//   bench_repair [--folder DIR] [--mib N] [--runs N] [--big-mib N] [--line-mib N] [--program PATH]
//
// DIR (default: bench-data beside the program) holds the generated logs; it
// should be on the disk the logs live on. The logs are read from the page
// cache (warmed first), as the repair reads a log it has just listed; the
// copies and the repair write to the disk and wait for it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "AccessLogGenerator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
  double seconds = 0, cpu = 0;  // wall time, and processor time of all threads
  long peakKiB = 0;
  // Runs one after the other, taken as one.
  Run& operator+=(const Run& next) {
    seconds += next.seconds;
    cpu += next.cpu;
    peakKiB = std::max(peakKiB, next.peakKiB);
    return *this;
  }
};

// Runs a command with its output to /dev/null; its wall time and peak memory.
Run Time(const std::vector<std::string>& command) {
  std::vector<char*> args;
  for (const std::string& a : command) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
    throw std::runtime_error("cannot run " + command[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  Run run{std::chrono::duration<double>(Clock::now() - start).count(),
          seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss};
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(command[0] + " failed");
  return run;
}

// Removes a file, timed in this process: the start of an rm process would
// count as much as the removal of a small file.
Run TimeRemoval(const std::string& path) {
  const auto start = Clock::now();
  if (unlink(path.c_str()) != 0) throw std::runtime_error("cannot remove " + path);
  return {std::chrono::duration<double>(Clock::now() - start).count()};
}

void Copy(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY);
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) throw std::runtime_error("cannot copy " + from);
  std::vector<char> buffer(1 << 20);
  for (ssize_t n; (n = read(in, buffer.data(), buffer.size())) > 0;)
    if (write(out, buffer.data(), static_cast<std::size_t>(n)) != n) throw std::runtime_error("cannot write " + to);
  // On the disk before it is timed, so that the repair's flush waits only
  // for what it writes itself.
  fsync(out);
  close(in);
  close(out);
}

// Reads the file once, so that the runs read it from the page cache.
void Warm(const std::string& path) { Time({"cat", path}); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A set of runs of one command.
struct Series {
  std::vector<double> seconds, cpu;
  long peakKiB = 0;
  void Add(const Run& run) {
    seconds.push_back(run.seconds);
    cpu.push_back(run.cpu);
    peakKiB = std::max(peakKiB, run.peakKiB);
  }
  double Median() const { return ::Median(seconds); }
};

void Report(const char* what, const Series& s) {
  std::printf("  %-44s %7.3f s  (%zu runs, %6.3f .. %6.3f)  cpu %6.3f s  peak %6.1f MiB\n", what, s.Median(),
              s.seconds.size(), *std::min_element(s.seconds.begin(), s.seconds.end()),
              *std::max_element(s.seconds.begin(), s.seconds.end()), ::Median(s.cpu), s.peakKiB / 1024.0);
}

void Ratio(const char* what, double ratio, double target) {
  std::printf("  %-44s %7.2f    target <= %.1f  %s\n", what, ratio, target, ratio <= target ? "met" : "NOT MET");
}

// The machine is shared: how busy it was, and how often a task waited for
// a processor, tell how far the figures can be trusted.
void Load(const char* when) {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3) std::printf("load average %s: %.2f %.2f %.2f", when, load[0], load[1], load[2]);
  if (std::FILE* f = std::fopen("/proc/pressure/cpu", "r")) {
    char line[160];
    if (std::fgets(line, sizeof line, f)) std::printf("; processor pressure %s", line);
    std::fclose(f);
  } else {
    std::printf("\n");
  }
}

std::string Folder(const std::string& base, const std::string& name) {
  const std::string folder = base + "/" + name;
  mkdir(folder.c_str(), 0755);
  return folder;
}

// One record whose first field, to correct, is the whole line of about size
// bytes: quoted text with doubled quotes, commas and line breaks.
void WriteLongLine(const std::string& path, std::uint64_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  std::fputs("\"INFO\t[00042]    123456789 2026/11/01 10:00:00.000 ", f);
  const std::string piece = "GET /search?q=\"\"kestrova\"\",log&page=2\r\n \\\\server\\公開 ";
  for (std::uint64_t written = 0; written < size; written += piece.size()) std::fputs(piece.c_str(), f);
  std::fputs("\",192.168.0.1,admin\r\n", f);
  if (std::fclose(f) != 0) throw std::runtime_error("cannot write " + path);
}

// The file with bytes put in at offset at.
void Splice(const std::string& from, const std::string& to, std::uint64_t at, const std::string& bytes) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  std::FILE* out = std::fopen(to.c_str(), "wb");
  if (!in || !out) throw std::runtime_error("cannot copy " + from);
  std::vector<char> buffer(1 << 20);
  std::uint64_t offset = 0;
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0; offset += n) {
    const std::size_t cut = at >= offset && at < offset + n ? static_cast<std::size_t>(at - offset) : n;
    std::fwrite(buffer.data(), 1, cut, out);
    if (cut < n) std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fwrite(buffer.data() + cut, 1, n - cut, out);
  }
  std::fclose(in);
  if (std::fclose(out) != 0) throw std::runtime_error("cannot write " + to);
}

// Times the repair of a log that needs nothing against cat of the same file.
double CheckAgainstCat(const std::string& program, const std::string& folder, const std::string& log, int runs,
                       Series& cat, Series& repair) {
  Warm(log);
  for (int k = 0; k < runs; ++k) {
    cat.Add(Time({"cat", log}));
    repair.Add(Time({program, "--folder", folder}));
  }
  return repair.Median() / cat.Median();
}

// Times the repair of a folder of logs that are corrected and replaced (a
// fresh copy of each source for each run) against flushed copies of the
// sources, one after the other. The removal of those copies is timed too:
// the replace gives each old log's blocks back in the same way, which on a
// disk mounted with discard waits for the device.
void RepairAgainstCopy(const std::string& program, const std::vector<std::string>& sources, const std::string& folder,
                       int runs, Series& copy, Series& repair, Series* removal = nullptr) {
  const std::string copied = folder + "/../copy.out";
  auto work = [&](std::size_t i) { return folder + "/access" + std::to_string(i) + ".log"; };
  for (const std::string& source : sources) Warm(source);
  for (int k = 0; k < runs; ++k) {
    Run copies, removals;
    for (const std::string& source : sources) {
      copies += Time({"dd", "if=" + source, "of=" + copied, "bs=1M", "conv=fsync", "status=none"});
      removals += TimeRemoval(copied);
    }
    copy.Add(copies);
    if (removal) removal->Add(removals);
    for (std::size_t i = 0; i < sources.size(); ++i) Copy(sources[i], work(i));
    repair.Add(Time({program, "--folder", folder}));
  }
  for (std::size_t i = 0; i < sources.size(); ++i) unlink(work(i).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string self = argv[0];
  std::string bin = self.substr(0, self.find_last_of('/') + 1);
  std::string program = bin + "KvAccesslogRepair", base = bin + "bench-data";
  std::uint64_t mib = 376, bigMib = 2048, lineMib = 300;
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--folder") base = value;
    if (option == "--mib") mib = std::strtoull(value.c_str(), nullptr, 10);
    if (option == "--runs") runs = std::atoi(value.c_str());
    if (option == "--big-mib") bigMib = std::strtoull(value.c_str(), nullptr, 10);
    if (option == "--line-mib") lineMib = std::strtoull(value.c_str(), nullptr, 10);
    if (option == "--program") program = value;
  }
  mkdir(base.c_str(), 0755);
  struct statfs fs {};
  statfs(base.c_str(), &fs);
  std::printf("program %s\nlogs in %s (%s), page cache warm, %d runs each\n", program.c_str(), base.c_str(),
              fs.f_type == 0x01021994 ? "tmpfs: the flushes cost nothing" : "a disk file system", runs);
  Load("at the start");
  try {
    // The log of every run after the first: nothing to correct.
    const std::string clean = Folder(base, "clean"), tagged = Folder(base, "tagged"), work = Folder(base, "work");
    std::printf("generating %llu MiB logs ...\n", static_cast<unsigned long long>(mib));
    GenerateAccessLog(clean + "/access.log", {mib << 20, 0.0, 1});
    GenerateAccessLog(tagged + "/source.log.txt", {mib << 20, 0.3, 2});

    std::printf("\nA log that needs nothing (%llu MiB):\n", static_cast<unsigned long long>(mib));
    Series cat, check;
    const double checkRatio = CheckAgainstCat(program, clean, clean + "/access.log", runs, cat, check);
    Report("cat FILE > /dev/null", cat);
    Report("KvAccesslogRepair --folder", check);
    Ratio("ratio to cat", checkRatio, 2.0);
    // A TAB (a user agent that holds one) takes the scan of the records from
    // shortly before it: near the end of the log, and near its start.
    const std::string tab = Folder(base, "tab");
    struct stat cleanInfo {};
    stat((clean + "/access.log").c_str(), &cleanInfo);
    const std::pair<const char*, std::uint64_t> tabs[] = {
        {"the same with a TAB near its end", static_cast<std::uint64_t>(cleanInfo.st_size) - 8},
        {"the same with a TAB near its start", 1000}};
    for (const auto& [what, at] : tabs) {
      Splice(clean + "/access.log", tab + "/access.log", at, "\t");
      Series tabCat, tabCheck;
      CheckAgainstCat(program, tab, tab + "/access.log", runs, tabCat, tabCheck);
      Report(what, tabCheck);
      std::printf("  %-44s %7.2f\n", "ratio to cat", tabCheck.Median() / tabCat.Median());
    }
    unlink((tab + "/access.log").c_str());

    std::printf("\nA log with 30 %% of its records to correct, replaced and flushed (%llu MiB):\n",
                static_cast<unsigned long long>(mib));
    Series dd, removal, repair;
    RepairAgainstCopy(program, {tagged + "/source.log.txt"}, work, runs, dd, repair, &removal);
    Report("dd bs=1M conv=fsync", dd);
    Report("removing dd's copy (rm)", removal);
    Report("KvAccesslogRepair --folder", repair);
    Ratio("ratio to dd", repair.Median() / dd.Median(), 1.3);
    // What a replace cannot go below on this disk: a flushed copy, and
    // giving the old file's blocks back.
    std::printf("  %-44s %7.2f\n", "ratio to dd and rm together", repair.Median() / (dd.Median() + removal.Median()));

    // The same bytes as a folder of eight logs, as a server writes them day
    // by day: each old log is given back while the next one is repaired.
    std::printf("\nThe same as eight logs of %llu MiB in one folder:\n", static_cast<unsigned long long>(mib / 8));
    std::vector<std::string> days;
    for (int day = 0; day < 8; ++day) {
      days.push_back(tagged + "/day" + std::to_string(day) + ".log.txt");
      GenerateAccessLog(days.back(), {(mib << 20) / 8, 0.3, 10ull + static_cast<unsigned>(day)});
    }
    Series ddDays, removalDays, repairDays;
    RepairAgainstCopy(program, days, work, runs, ddDays, repairDays, &removalDays);
    for (const std::string& day : days) unlink(day.c_str());
    Report("dd bs=1M conv=fsync, one after the other", ddDays);
    Report("removing dd's copies (rm)", removalDays);
    Report("KvAccesslogRepair --folder", repairDays);
    std::printf("  %-44s %7.2f\n", "ratio to dd", repairDays.Median() / ddDays.Median());
    std::printf("  %-44s %7.2f\n", "ratio to dd and rm together",
                repairDays.Median() / (ddDays.Median() + removalDays.Median()));

    // One stray quote at the start of a log in the quoted form: the rest of
    // it becomes one line. Once a log that needs nothing, once one whose
    // first record is corrected, the quote after it.
    std::printf("\nOne stray quote at the start of a 256 MiB log in the quoted form:\n");
    const std::string plain = Folder(base, "plain"), stray = Folder(base, "stray");
    GenerateAccessLog(plain + "/access.log", {256ull << 20, 0.0, 4, true});
    Splice(plain + "/access.log", stray + "/access.log", 0, "\"");
    Series plainCat, plainCheck, strayCat, strayCheck;
    CheckAgainstCat(program, plain, plain + "/access.log", runs, plainCat, plainCheck);
    CheckAgainstCat(program, stray, stray + "/access.log", runs, strayCat, strayCheck);
    Report("needs nothing, without the quote", plainCheck);
    Report("needs nothing, with the quote", strayCheck);
    Ratio("ratio with to without", strayCheck.Median() / plainCheck.Median(), 2.0);
    const std::string tag = "\"INFO\t[00001]    000000001 2026/11/01 00:00:00.000\",\"192.168.0.1\",\"admin\"\r\n";
    const std::string taggedPlain = tagged + "/plain.log.txt", taggedStray = tagged + "/stray.log.txt";
    Splice(plain + "/access.log", taggedPlain, 0, tag);
    Splice(taggedPlain, taggedStray, tag.size(), "\"");
    Series copyPlain, repairPlain, copyStray, repairStray;
    RepairAgainstCopy(program, {taggedPlain}, work, runs, copyPlain, repairPlain);
    RepairAgainstCopy(program, {taggedStray}, work, runs, copyStray, repairStray);
    Report("corrected, without the quote", repairPlain);
    Report("corrected, with the quote", repairStray);
    Ratio("ratio with to without", repairStray.Median() / repairPlain.Median(), 2.0);
    unlink(taggedPlain.c_str());
    unlink(taggedStray.c_str());

    std::printf("\nPeak memory of single runs (target <= 64 MiB):\n");
    const std::string line = Folder(base, "line");
    WriteLongLine(tagged + "/line.log.txt", lineMib << 20);
    Series copies, longLine, big, bigCheck;
    RepairAgainstCopy(program, {tagged + "/line.log.txt"}, line, 1, copies, longLine);
    unlink((tagged + "/line.log.txt").c_str());
    char what[96];
    std::snprintf(what, sizeof what, "one line of %llu MiB, corrected", static_cast<unsigned long long>(lineMib));
    Report(what, longLine);
    std::snprintf(what, sizeof what, "%llu MiB log, corrected", static_cast<unsigned long long>(bigMib));
    GenerateAccessLog(tagged + "/big.log.txt", {bigMib << 20, 0.3, 3});
    RepairAgainstCopy(program, {tagged + "/big.log.txt"}, work, 1, copies, big);
    Report(what, big);
    const std::string bigClean = Folder(base, "bigclean");
    GenerateAccessLog(bigClean + "/access.log", {bigMib << 20, 0.0, 3});
    bigCheck.Add(Time({program, "--folder", bigClean}));
    std::snprintf(what, sizeof what, "%llu MiB log, needs nothing", static_cast<unsigned long long>(bigMib));
    Report(what, bigCheck);
    Report("256 MiB log, stray quote, needs nothing", strayCheck);
    Report("256 MiB log, stray quote, corrected", repairStray);
    unlink((tagged + "/big.log.txt").c_str());
    unlink((bigClean + "/access.log").c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  Load("at the end");
  return 0;
}
