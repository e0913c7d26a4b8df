// The cost of TRsTextAppender::Append on the calling thread against writing
// the same lines synchronously (open, append, close per line).
//
//   bench_append FOLDER [LINES]
//
// Two threads append LINES lines (default 1000000) between them to one file;
// the benchmark reports the median and 99th percentile of one Append call and
// the lines per second the worker wrote, then the same for writing the lines
// synchronously on one calling thread, and checks that every line was written
// in order.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/RsTextAppenderUnit.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median = 0, p99 = 0;
};

Figures Percentiles(std::vector<double>& ns) {
  std::sort(ns.begin(), ns.end());
  return {ns[ns.size() / 2], ns[ns.size() * 99 / 100]};
}

std::string Line(int thread, int i) {
  return "[2026/12/08 06:05:09.007][1][" + std::to_string(thread) + "][5678]\tline " + std::to_string(i) + "\t";
}

// True when the file holds every line of every thread, each thread's in order.
bool Complete(const std::string& path, int threads, int perThread) {
  platform::File file;
  if (file.OpenRead(path, false) != 0) return false;
  std::string text, chunk(1 << 20, '\0');
  for (std::size_t got; file.Read(chunk.data(), chunk.size(), got) == 0 && got > 0;) text.append(chunk, 0, got);
  std::vector<int> next(static_cast<std::size_t>(threads), 0);
  std::size_t from = 0;
  int lines = 0;
  for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2, ++lines) {
    const std::string line = text.substr(from, end - from);
    const std::size_t number = line.find("\tline ");
    if (line.size() < 30 || number == std::string::npos) return false;
    const int thread = line[29] - '0';  // "[yyyy/mm/dd hh:MM:ss.zzz][1][" is 29 bytes
    if (thread < 0 || thread >= threads ||
        std::stoi(line.substr(number + 6)) != next[static_cast<std::size_t>(thread)]++)
      return false;
  }
  return lines == threads * perThread && from == text.size();
}

void SyncAppend(const std::string& path, const std::string& text) {
  platform::File file;
  if ((platform::FileExists(path) ? file.OpenReadWrite(path) : file.CreateAlways(path)) != 0) return;
  const std::string line = text + "\r\n";
  if (file.SeekToEnd() == 0) file.Write(line.data(), line.size());
  file.Close();
}

// Each of threads calls call perThread times with the lines that lineOf gives.
template <typename LineOf, typename Call>
double Run(int threads, int perThread, std::vector<double>& costs, LineOf lineOf, Call call) {
  std::vector<std::vector<double>> own(static_cast<std::size_t>(threads));
  const auto start = Clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      auto& mine = own[static_cast<std::size_t>(t)];
      mine.reserve(static_cast<std::size_t>(perThread));
      for (int i = 0; i < perThread; ++i) {
        const std::string text = lineOf(t, i);
        const auto before = Clock::now();
        call(text);
        mine.push_back(std::chrono::duration<double, std::nano>(Clock::now() - before).count());
      }
    });
  for (auto& w : workers) w.join();
  for (auto& v : own) costs.insert(costs.end(), v.begin(), v.end());
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_append FOLDER [LINES]\n");
    return 2;
  }
  const std::string folder = platform::FromNativePath(argv[1]);
  const int lines = argc > 2 ? std::max(2, std::atoi(argv[2])) : 1000000;
  const int threads = 2, perThread = lines / threads;
  const std::string asyncFile = folder + "\\async.log", syncFile = folder + "\\sync.log";
  platform::DeleteFile(asyncFile);
  platform::DeleteFile(syncFile);

  std::vector<double> asyncCosts;
  double callers = 0, total = 0;
  {
    const auto start = Clock::now();
    auto appender = std::make_unique<TRsTextAppender>();
    callers =
        Run(threads, perThread, asyncCosts, Line, [&](const std::string& text) { appender->Append(text, asyncFile); });
    appender.reset();  // returns when every line is written
    total = std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::vector<double> syncCosts;
  // One calling thread writes the same lines, the two threads' lines taking
  // turns: two threads appending to one file at once would overwrite lines.
  const double syncSeconds = Run(
      1, threads * perThread, syncCosts, [&](int, int i) { return Line(i % threads, i / threads); },
      [&](const std::string& text) { SyncAppend(syncFile, text); });

  const Figures a = Percentiles(asyncCosts), s = Percentiles(syncCosts);
  const bool asyncOk = Complete(asyncFile, threads, perThread);
  const bool syncOk = Complete(syncFile, threads, perThread);
  std::printf("lines: %d from %d threads\n", threads * perThread, threads);
  std::printf("Append on the caller:   median %8.0f ns, p99 %8.0f ns (callers done after %.2f s)\n", a.median, a.p99,
              callers);
  std::printf("worker:                 %.0f lines/s (all written after %.2f s)\n", threads * perThread / total, total);
  std::printf("synchronous write:      median %8.0f ns, p99 %8.0f ns, %.0f lines/s\n", s.median, s.p99,
              threads * perThread / syncSeconds);
  std::printf("median ratio sync/Append: %.1f\n", s.median / a.median);
  std::printf("every line written in order: async %s, sync %s\n", asyncOk ? "yes" : "NO", syncOk ? "yes" : "NO");
  return asyncOk && syncOk ? 0 : 1;
}
