// Measures the access log rewrite against plain copies of the same file, in
// one run on the same machine state, and the peak memory of one repair.
//
//   bench_repair [folder] [MiB]              the full measurement
//   bench_repair --repair-one FILE           repairs one file, prints its peak RSS (KiB)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "AccessLogGenerator.h"
#include "app/KvUpdaterMainForm.h"
#include "base/Exception.h"
#include "platform/Path.h"

extern char** environ;

struct KvUpdaterMainFormTestPeer {
  static void RepairFile(TKvAccesslogUpdaterForm& form, const std::string& name, int& updated) {
    form.RepairFile(name, updated);
  }
};

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

void Copy(const std::string& from, const std::string& to, bool sync) {
  int in = open(from.c_str(), O_RDONLY);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> buffer(1 << 20);
  ssize_t n;
  while ((n = read(in, buffer.data(), buffer.size())) > 0)
    if (write(out, buffer.data(), static_cast<std::size_t>(n)) != n) std::abort();
  if (sync) fsync(out);
  close(in);
  close(out);
}

int Repair(const std::string& native) {
  TKvAccesslogUpdaterForm form;
  int updated = 0;
  KvUpdaterMainFormTestPeer::RepairFile(form, platform::FromNativePath(native), updated);
  return updated;
}

// Warms the page cache so that every measurement reads from memory.
void Warm(const std::string& path) { Copy(path, "/dev/null", false); }

long PeakKiB(const char* self, const std::string& file) {
  std::string out = file + ".rss";
  pid_t pid;
  const char* args[] = {self, "--repair-one", file.c_str(), out.c_str(), nullptr};
  if (posix_spawn(&pid, self, nullptr, nullptr, const_cast<char* const*>(args), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  long kib = -1;
  if (std::FILE* f = std::fopen(out.c_str(), "r")) {
    if (std::fscanf(f, "%ld", &kib) != 1) kib = -1;
    std::fclose(f);
  }
  unlink(out.c_str());
  return kib;
}

template <typename F>
double Best(int runs, F&& body) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, body());
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--repair-one") {
    try {
      Repair(argv[2]);
    } catch (const Exception& e) {
      std::fprintf(stderr, "%s\n", e.Message().c_str());
      return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (std::FILE* f = std::fopen(argv[3], "w")) {
      std::fprintf(f, "%ld\n", usage.ru_maxrss);
      std::fclose(f);
    }
    return 0;
  }
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  const std::uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 256;
  const std::string clean = folder + "/bench_clean.log";
  const std::string tagged = folder + "/bench_tagged.log";
  const std::string work = folder + "/bench_work.log";
  const std::string copy = folder + "/bench_copy.log";
  const std::string big = folder + "/bench_big.log";
  const int runs = 3;

  std::printf("generating %llu MiB logs in %s ...\n", static_cast<unsigned long long>(mib), folder.c_str());
  GenerateAccessLog(clean, {mib << 20, 0.0, 1});
  GenerateAccessLog(tagged, {mib << 20, 0.3, 2});
  Warm(clean);
  Warm(tagged);

  const double copyTime = Best(runs, [&] {
    auto t = Clock::now();
    Copy(clean, copy, false);
    double s = Seconds(t);
    unlink(copy.c_str());
    return s;
  });
  const double cleanTime = Best(runs, [&] {
    auto t = Clock::now();
    if (Repair(clean) != 0) std::abort();
    return Seconds(t);
  });
  const double copySyncTime = Best(runs, [&] {
    auto t = Clock::now();
    Copy(tagged, copy, true);
    double s = Seconds(t);
    unlink(copy.c_str());
    return s;
  });
  const double taggedTime = Best(runs, [&] {
    Copy(tagged, work, false);
    Warm(work);
    auto t = Clock::now();
    if (Repair(work) != 1) std::abort();
    return Seconds(t);
  });

  std::printf("copy (1 MiB loop)              %8.3f s\n", copyTime);
  std::printf("repair, nothing to correct     %8.3f s   ratio %.2f (target <= 4)\n", cleanTime, cleanTime / copyTime);
  std::printf("copy + flush                   %8.3f s\n", copySyncTime);
  std::printf("repair, 30%% corrected, replaced %8.3f s   ratio %.2f (target <= 1.5)\n", taggedTime,
              taggedTime / copySyncTime);

  const long peakSmall = PeakKiB(argv[0], clean);
  GenerateAccessLog(big, {mib << 22, 0.0, 3});
  const long peakBig = PeakKiB(argv[0], big);
  std::printf("peak RSS, %4llu MiB file         %8.1f MiB (target <= 64)\n", static_cast<unsigned long long>(mib),
              peakSmall / 1024.0);
  std::printf("peak RSS, %4llu MiB file         %8.1f MiB (target <= 64)\n", static_cast<unsigned long long>(mib * 4),
              peakBig / 1024.0);
  for (const std::string& f : {clean, tagged, work, big}) unlink(f.c_str());
  return 0;
}
