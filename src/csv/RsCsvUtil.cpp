#include "csv/RsCsvUtil.h"

#include <cstring>

#include "base/Exception.h"
#include "base/Format.h"
#include "platform/Error.h"
#include "platform/File.h"

TCsv::TCsv(TObject*) {}

void TCsv::UpdateClasses() {
  if (FClassesBuilt && FClassTokns == tokns && FClassStokns == stokns) return;
  FClasses.fill(0);
  for (unsigned char c : tokns) FClasses[c] |= kDelimiter;
  for (unsigned char c : stokns) FClasses[c] = kQuote;  // a quote byte is never a delimiter
  FClassTokns = tokns;
  FClassStokns = stokns;
  FClassesBuilt = true;
}

void TCsv::SplitFields() { SplitFields(std::string_view(text)); }

void TCsv::SplitFields(std::string_view line) {
  items.Clear();
  if (line.empty()) return;
  UpdateClasses();
  // Positions are 0-based here: start and i are one less than in the
  // 1-based description of the algorithm.
  const std::size_t len = line.size();
  std::size_t start = 0, i = 0;
  bool inside = false;
  while (i < len) {
    const unsigned char cls = FClasses[static_cast<unsigned char>(line[i])];
    if (cls == kQuote) {
      if (strflg) inside = !inside;
      ++i;
    } else if ((cls & kDelimiter) && !(strflg && inside)) {
      items.Add(line.substr(start, i - start));
      if (blockflg) {
        while (i + 1 < len && (FClasses[static_cast<unsigned char>(line[i + 1])] & kDelimiter)) ++i;
        if (i + 1 >= len) i = len;
      }
      start = i + 1;
      if (i + 1 >= len) items.Add(std::string_view());
      ++i;
    } else {
      ++i;
    }
  }
  if (start < i && start < len) items.Add(line.substr(start, i - start));
}

void TCsv::StripQuotes() {
  for (int n = 0; n < items.Count(); ++n) {
    const std::string& item = items[n];
    if (item.empty()) continue;
    std::size_t from = stokns.find(item.front()) != std::string::npos ? 1 : 0;
    std::size_t to = item.size();
    if (to > from && stokns.find(item[to - 1]) != std::string::npos) --to;
    if (from != 0 || to != item.size()) items.Put(n, std::string_view(item).substr(from, to - from));
  }
}

void TCsv::UndoubleQuotes() {
  if (stokns.empty()) return;
  for (int n = 0; n < items.Count(); ++n) {
    const std::string& item = items[n];
    if (item.find(stokns) == std::string::npos) continue;
    // Only a one-byte quote set can match single bytes; a longer set never
    // equals one byte, so nothing is undoubled then.
    if (stokns.size() != 1) continue;
    const char q = stokns[0];
    std::string out;
    out.reserve(item.size());
    int count = 0;
    for (char c : item) {
      if (c == q) {
        if (++count == 2) {
          count = 0;
          continue;
        }
      } else {
        count = 0;
      }
      out += c;
    }
    if (out.size() != item.size()) items.Put(n, out);
  }
}

namespace {

// Quote-aware line splitting that can be fed the text in pieces. Each line is
// handed to the sink as soon as its end is known; only an unfinished line is
// kept between two pieces.
class LineSplitter {
 public:
  template <typename Sink>
  // Scans buffer[from, size) where buffer[0, from) is the start of the
  // current line already scanned; returns the start of the unfinished line.
  std::size_t Scan(const char* buffer, std::size_t from, std::size_t size, bool last, unsigned char quote,
                   Sink&& sink) {
    std::size_t lineStart = 0;
    std::size_t i = from;
    for (;;) {
      if (FAtLineStart) {
        if (FSkipLF) {
          if (i >= size) {
            if (last) FSkipLF = false;
            return i;
          }
          if (buffer[i] == '\n') ++i;
          FSkipLF = false;
        }
        if (i >= size) return i;
        if (buffer[i] == '\0') {  // NUL outside quotes: the text ends here
          FEnded = true;
          return i;
        }
        lineStart = i;
        FInside = false;
        FAtLineStart = false;
      }
      // Scan to the end of the line.
      while (i < size) {
        const char c = buffer[i];
        if (!FInside && (c == '\r' || c == '\n' || c == '\0')) break;
        if (quote != 0 && static_cast<unsigned char>(c) == quote) FInside = !FInside;
        ++i;
      }
      if (i >= size) {
        if (!last) return lineStart;
        sink(std::string_view(buffer + lineStart, i - lineStart));
        FAtLineStart = true;
        return i;
      }
      sink(std::string_view(buffer + lineStart, i - lineStart));
      FAtLineStart = true;
      const char c = buffer[i];
      if (c == '\0') {
        FEnded = true;
        return i;
      }
      ++i;  // the CR or the LF itself
      if (c == '\r') FSkipLF = true;
    }
  }
  bool Ended() const { return FEnded; }

 private:
  bool FAtLineStart = true;
  bool FInside = false;
  bool FSkipLF = false;
  bool FEnded = false;
};

}  // namespace

void TCsvLoader::SplitLines(std::string_view text, unsigned char quoteChar, TStringList& lines) {
  LineSplitter splitter;
  splitter.Scan(text.data(), 0, text.size(), true, quoteChar, [&](std::string_view line) { lines.Add(line); });
}

void TCsvLoader::Configure() {
  FCsv.stokns.assign(1, static_cast<char>(FQuoteChar));
  FCsv.tokns.assign(1, static_cast<char>(FDelimiter));
  FCsv.strflg = FQuoteChar != 0;
}

void TCsvLoader::ProcessLine(std::string_view line) {
  FCsv.SplitFields(line);
  FCsv.StripQuotes();
  FCsv.UndoubleQuotes();
  FOnRecord(FCsv.items);
}

void TCsvLoader::ParseText(std::string_view text) {
  TStringList lines;
  LineSplitter splitter;
  splitter.Scan(text.data(), 0, text.size(), true, FQuoteChar, [&](std::string_view line) { lines.Add(line); });
  FReachedEnd = !splitter.Ended();
  Configure();
  const int first = FSkipFirstLine ? 1 : 0;
  if (OnBegin) OnBegin(first, lines);
  for (int i = first; i < lines.Count(); ++i) ProcessLine(lines[i]);
  if (OnEnd) OnEnd();
}

bool TCsvLoader::LoadFromFile(const std::string& fileName) {
  if (!platform::FileExists(fileName))
    throw Exception("CSVFileNameに指定したファイルが存在しません.CSVFilename=" + fileName);
  platform::File file;
  if (int err = file.OpenRead(fileName, true))
    throw EFOpenError(Format("ファイル \"%s\". %s は開けません", {fileName, platform::ErrorText(err)}));

  auto readError = [&](int err) {
    return EFOpenError(Format("ファイル \"%s\". %s は開けません", {fileName, platform::ErrorText(err)}));
  };
  std::string buffer;
  std::size_t got = 0;
  buffer.resize(FBlockSize);
  if (int err = file.Read(buffer.data(), FBlockSize, got)) throw readError(err);
  if (got == 0) return false;

  if (OnBegin) {
    // The callback receives the list of all lines, so the whole text is read.
    buffer.resize(got);
    std::string block(FBlockSize, '\0');
    for (;;) {
      if (int err = file.Read(block.data(), FBlockSize, got)) throw readError(err);
      if (got == 0) break;
      buffer.append(block, 0, got);
    }
    ParseText(buffer);
    return true;
  }

  Configure();
  LineSplitter splitter;
  bool skipping = FSkipFirstLine;
  auto sink = [&](std::string_view line) {
    if (skipping) {
      skipping = false;
      return;
    }
    ProcessLine(line);
  };
  std::size_t scanFrom = 0;  // bytes before it belong to the unfinished line
  std::size_t filled = got;
  bool last = false;
  for (;;) {
    const std::size_t keep = splitter.Scan(buffer.data(), scanFrom, filled, last, FQuoteChar, sink);
    if (last || splitter.Ended()) break;
    const std::size_t carried = filled - keep;
    std::memmove(buffer.data(), buffer.data() + keep, carried);
    if (buffer.size() < carried + FBlockSize) buffer.resize(carried + FBlockSize);
    if (int err = file.Read(buffer.data() + carried, FBlockSize, got)) throw readError(err);
    filled = carried + got;
    scanFrom = carried;
    last = got == 0;
  }
  FReachedEnd = !splitter.Ended();
  if (OnEnd) OnEnd();
  return true;
}
