// The CSV reader on any bytes: the in-memory reading and the streaming
// reading of the same bytes as a file, in blocks of several sizes, must
// deliver the same records and agree on where the data ended; neither may
// fail on anything but the file layer. The rewrite into the quoted form must
// give the bytes of the in-memory records written back, and the check their
// first fields, on every processor path. A byte 0xFE (which neither UTF-8
// nor Shift-JIS uses) followed by a byte stands for that byte 66000 times,
// so that short inputs make fields and lines longer than a block's room.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "csv/RsCsvUtil.h"
#include "platform/File.h"

namespace {

using Records = std::vector<std::vector<std::string>>;

struct Setup {
  unsigned char delimiter, quote;
  bool skipFirstLine;
};

// The first byte chooses the reader's settings, ordinary ones most often;
// a quote equal to the delimiter or a NUL quote are allowed settings too.
Setup Choose(unsigned char mode) {
  static const unsigned char delimiters[] = {',', ',', '\t', '|', ';', '"', 0, 0xE0};
  static const unsigned char quotes[] = {'"', '"', '\'', ',', 0, 0x81};
  return {delimiters[mode & 7], quotes[(mode >> 3) % 6], (mode & 0x80) != 0};
}

void Settle(TCsvLoader& loader, const Setup& setup) {
  loader.SetDelimiter(setup.delimiter);
  loader.SetQuoteChar(setup.quote);
  loader.SetSkipFirstLine(setup.skipFirstLine);
}

// A reader with the settings, reading in blocks of block bytes on the path.
void Settle(TCsvLoader& loader, const Setup& setup, std::size_t block, TCsvLanes lanes) {
  Settle(loader, setup);
  loader.SetBlockSize(block);
  loader.SetLanes(lanes);
}

void Configure(TCsvLoader& loader, const Setup& setup, Records& out) {
  Settle(loader, setup);
  loader.SetOnRecord([&out](TStringList& fields) {
    std::vector<std::string> record;
    for (int i = 0; i < fields.Count(); ++i) record.push_back(fields[i]);
    out.push_back(std::move(record));
  });
}

const std::string& FileName() {
  static const std::string name = [] {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/kvfuzz-csv-" + std::to_string(getpid()) + ".csv";
  }();
  return name;
}

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "disagreement: %s\n", what);
  std::abort();
}

// The input's text with its runs written out, two at the most.
std::string Expand(const std::uint8_t* data, std::size_t size) {
  std::string text;
  int runs = 0;
  for (std::size_t k = 0; k < size; ++k) {
    if (data[k] == 0xFE && k + 1 < size && runs < 2) {
      text.append(66000, static_cast<char>(data[++k]));
      ++runs;
    } else {
      text += static_cast<char>(data[k]);
    }
  }
  return text;
}

const std::vector<TCsvLanes>& Paths() {
  static const std::vector<TCsvLanes> paths = [] {
    std::vector<TCsvLanes> all;
    for (TCsvLanes lanes : {TCsvLanes::Bytes, TCsvLanes::Sse2, TCsvLanes::Avx2, TCsvLanes::Avx512})
      if (TCsvLoader::CanRun(lanes)) all.push_back(lanes);
    return all;
  }();
  return paths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Setup setup = Choose(data[0]);
  const std::string text = Expand(data + 1, size - 1);

  Records expected;
  TCsvLoader memory;
  Configure(memory, setup, expected);
  memory.ParseText(text);

  FILE* file = std::fopen(FileName().c_str(), "wb");
  if (!file) return 0;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);

  // The records written back in the quoted form, the first field less the
  // cut, which depends on the value.
  auto cut = [](std::string_view first) -> std::size_t { return first.empty() ? 0 : first[0] % 4; };
  std::string quoted;
  const char q = static_cast<char>(setup.quote);
  for (const std::vector<std::string>& record : expected) {
    for (std::size_t k = 0; k < record.size(); ++k) {
      if (k > 0) quoted += static_cast<char>(setup.delimiter);
      std::string_view value = record[k];
      if (k == 0) value.remove_prefix(std::min(cut(value), value.size()));
      quoted += q;
      for (char c : value) {
        if (c == q) quoted += q;
        quoted += c;
      }
      quoted += q;
    }
    quoted += "\r\n";
  }

  // Inputs without runs are at most 4 KiB: the last size reads each in one
  // block. Longer texts are read in blocks too large for a byte's read each.
  std::vector<std::size_t> blocks = {1, 2, 63, 64, 65, 1 + text.size() % 97, 8192};
  if (text.size() > 8192) blocks = {4096, (64 << 10) + 1 + text.size() % 97, 1 << 20};
  std::vector<std::string> firsts;
  for (const std::vector<std::string>& record : expected)
    if (!record.empty()) firsts.push_back(record[0].substr(0, TCsvLoader::kFirstFieldShown));
  std::size_t turn = text.size();
  for (std::size_t block : blocks) {
    // Each block size on another path, so that every input meets them all.
    const TCsvLanes lanes = Paths()[turn++ % Paths().size()];
    // A long text's records, which the reader holds whole, once.
    if (block == blocks.front() || text.size() <= 8192) {
      Records got;
      TCsvLoader stream;
      Configure(stream, setup, got);
      stream.SetBlockSize(block);
      const bool any = stream.LoadFromFile(FileName());
      Check(any == !text.empty(), "whether the file held data");
      Check(got == expected, "records");
      Check(stream.ReachedEnd() == memory.ReachedEnd(), "where the data ended");
    }

    std::string rewritten;
    TCsvLoader rewrite;
    Settle(rewrite, setup, block, lanes);
    rewrite.RewriteQuoted(FileName(), cut, [&](const char* bytes, std::size_t n) { rewritten.append(bytes, n); });
    Check(rewritten == quoted, "bytes of the quoted form");
    Check(rewrite.ReachedEnd() == memory.ReachedEnd(), "where the rewrite's data ended");

    // The check shows every first field, and counts those its match takes.
    TCsvLoader check;
    Settle(check, setup, block, lanes);
    platform::File file;
    Check(file.OpenRead(FileName(), false) == 0, "opening the file");
    std::vector<std::string> shown;
    const std::uint64_t count = check.CountRecords(file, FileName(), [&](std::string_view first) {
      shown.emplace_back(first);
      return first.size() % 2 == 0;
    });
    Check(shown == firsts, "first fields seen by the check");
    Check(count == static_cast<std::uint64_t>(std::count_if(firsts.begin(), firsts.end(),
                                                            [](const std::string& f) { return f.size() % 2 == 0; })),
          "records counted");
    Check(check.ReachedEnd() == memory.ReachedEnd(), "where the check's data ended");

    // Told that a match needs a byte (one of the text's own, a TAB's role),
    // the check counts the same and ends in the same place.
    const char needed = text.empty() ? '\t' : text[text.size() / 2];
    TCsvLoader hinted;
    Settle(hinted, setup, block, lanes);
    hinted.SetMatchByte(needed);
    auto holds = [needed](std::string_view first) { return first.find(needed) != std::string_view::npos; };
    Check(hinted.CountRecords(file, FileName(), holds) ==
              static_cast<std::uint64_t>(
                  std::count_if(firsts.begin(), firsts.end(), [&](const std::string& f) { return holds(f); })),
          "records counted when a match needs a byte");
    Check(hinted.ReachedEnd() == memory.ReachedEnd(), "where the data ended when a match needs a byte");
  }

  // The search for a first field sees the same first fields; records
  // without fields have none to show it.
  TCsvLoader search;
  search.SetDelimiter(setup.delimiter);
  search.SetQuoteChar(setup.quote);
  search.SetSkipFirstLine(setup.skipFirstLine);
  search.SetBlockSize((text.size() > 8192 ? 4096 : 1) + text.size() % 61);
  std::size_t index = 0;
  bool same = true;
  const bool found = search.FindRecord(FileName(), [&](std::string_view first) {
    same = same && index < firsts.size() && first == firsts[index];
    return ++index >= firsts.size();
  });
  Check(same, "first fields seen by the search");
  Check(found == !firsts.empty(), "whether the search found the last first field");
  unlink(FileName().c_str());
  return 0;
}
