#include "csv/RsCsvUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "base/Exception.h"
#include "base/Format.h"
#include "csv/CsvScan.h"
#include "platform/BackgroundFile.h"
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

namespace csv_scan {

void AppendUndoubled(std::string& out, const char* from, const char* to, char quote) {
  // Each run of k quotes becomes ceil(k / 2): the second of each pair goes.
  while (from < to) {
    const void* found = std::memchr(from, quote, static_cast<std::size_t>(to - from));
    const char* run = found ? static_cast<const char*>(found) : to;
    out.append(from, run);
    from = run;
    while (from < to && *from == quote) ++from;
    out.append(static_cast<std::size_t>(from - run + 1) / 2, quote);
  }
}

std::string_view FirstFieldValue(const char* raw, std::size_t size, char quote, std::string& scratch) {
  const std::size_t from = size > 0 && raw[0] == quote;
  std::size_t to = size;
  if (to > from && raw[to - 1] == quote) --to;
  std::string_view value(raw + from, to - from);
  if (value.find(quote) == std::string_view::npos) return value;
  scratch.clear();
  AppendUndoubled(scratch, raw + from, raw + to, quote);
  return scratch;
}

namespace {
// The raw bytes of a first field that give at least kFirstFieldShown bytes
// of its value even when the last of them is stripped as if it ended the
// field: a value byte takes two raw bytes at the most, after one leading
// quote. So the bytes shown are the same whether the field ends there or
// runs on.
constexpr std::size_t kHeadBytes = 2 * TCsvLoader::kFirstFieldShown + 2;
}  // namespace

void CheckScan::KeepHead(const char* from, const char* to) {
  if (!FInHead) {
    FHead.clear();
    FInHead = true;
  }
  FHead.append(from, std::min(static_cast<std::size_t>(to - from), kHeadBytes - FHead.size()));
}

bool CheckScan::Deliver(const char* from, const char* to) {
  if (!FInHead) return Offer(FirstFieldValue(from, static_cast<std::size_t>(to - from), FQuote, FScratch));
  KeepHead(from, to);
  FInHead = false;
  return Offer(FirstFieldValue(FHead.data(), FHead.size(), FQuote, FScratch));
}

void QuotedOutput::Append(const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t piece = std::min(size, FMinimum);
    Reserve(piece);
    std::memcpy(Cursor(), data, piece);
    FUsed += piece;
    data += piece;
    size -= piece;
  }
}

void QuotedOutput::AppendQuotes(std::uint64_t count) {
  while (count > 0) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, FMinimum));
    Reserve(piece);
    std::memset(Cursor(), FQuote, piece);
    FUsed += piece;
    count -= piece;
  }
}

char* QuotedRewriter::RebuiltField(char* out, std::size_t start, std::size_t p, bool first) {
  const char* const in = FIn;
  const char quote = FQuote;
  std::size_t from = start, to = p;
  if (from < to && in[from] == quote) ++from;
  if (from < to && in[to - 1] == quote) --to;
  std::string_view value(in + from, to - from);
  if (first) {  // the cut needs the value
    FValue.clear();
    AppendUndoubled(FValue, in + from, in + to, quote);
    value = FValue;
    value.remove_prefix(CutOf(value));
  }
  // Each run of k quotes of what is left, undoubled (when not done yet) and
  // doubled again, is 2 ceil(k / 2) quotes, or 2 k of the value's own.
  *out++ = quote;
  const char* at = value.data();
  const char* const end = at + value.size();
  while (at < end) {
    const void* found = std::memchr(at, quote, static_cast<std::size_t>(end - at));
    const char* run = found ? static_cast<const char*>(found) : end;
    std::memcpy(out, at, static_cast<std::size_t>(run - at));
    out += run - at;
    at = run;
    while (at < end && *at == quote) ++at;
    const std::size_t quotes = static_cast<std::size_t>(at - run);
    const std::size_t written = first ? 2 * quotes : 2 * ((quotes + 1) / 2);
    std::memset(out, quote, written);
    out += written;
  }
  *out++ = quote;
  return out;
}

// A long field's value streams through: undoubled as it is read (a run of k
// quotes inside the field is ceil(k / 2) quotes of the value; the last run
// loses its last quote first, the trailing one) and doubled again as it is
// written. The first field's first bytes wait for the cut.
char* QuotedRewriter::StartLongField(char* out, std::size_t start, std::size_t size, bool first) {
  FLong = true;
  FLongFirst = first;
  FLongStarted = false;
  FLongCutKnown = !first;
  FLongQuotes = 0;
  FLongHead.clear();
  FLongDrop = 0;
  *out++ = FQuote;
  return FeedLongField(out, start, size, 0);
}

char* QuotedRewriter::FeedLongField(char* out, std::size_t from, std::size_t to, std::size_t rest) {
  FOut.Commit(out);
  LongBytes(FIn + from, FIn + to);
  FOut.Reserve(4 * rest + 8);
  return FOut.Cursor();
}

char* QuotedRewriter::EndLongField(char* out, std::size_t from, std::size_t to, std::size_t rest) {
  FOut.Commit(out);
  LongBytes(FIn + from, FIn + to);
  LongValueQuotes(FLongQuotes / 2);
  FLongQuotes = 0;
  if (!FLongCutKnown) DecideCut();
  FOut.Reserve(4 * rest + 8);
  FOut.Put(FQuote);
  FLong = false;
  return FOut.Cursor();
}

void QuotedRewriter::LongBytes(const char* from, const char* to) {
  const char quote = FQuote;
  if (!FLongStarted && from < to) {
    FLongStarted = true;
    if (*from == quote) ++from;
  }
  while (from < to) {
    if (*from == quote) {
      const char* run = from;
      while (run < to && *run == quote) ++run;
      FLongQuotes += static_cast<std::uint64_t>(run - from);
      from = run;
      continue;
    }
    if (FLongQuotes > 0) {  // a run with a byte after it is inner
      LongValueQuotes((FLongQuotes + 1) / 2);
      FLongQuotes = 0;
    }
    const void* next = std::memchr(from, quote, static_cast<std::size_t>(to - from));
    const char* plain = next ? static_cast<const char*>(next) : to;
    LongValue(from, static_cast<std::size_t>(plain - from));
    from = plain;
  }
}

void QuotedRewriter::LongValue(const char* from, std::size_t size) {
  if (!FLongCutKnown) {
    const std::size_t take = std::min(size, TCsvLoader::kFirstFieldShown - FLongHead.size());
    FLongHead.append(from, take);
    from += take;
    size -= take;
    if (FLongHead.size() < TCsvLoader::kFirstFieldShown) return;
    DecideCut();
  }
  const std::size_t drop = static_cast<std::size_t>(std::min<std::uint64_t>(FLongDrop, size));
  FLongDrop -= drop;
  FOut.Append(from + drop, size - drop);
}

void QuotedRewriter::LongValueQuotes(std::uint64_t count) {
  if (!FLongCutKnown) {
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, TCsvLoader::kFirstFieldShown - FLongHead.size()));
    FLongHead.append(take, FQuote);
    count -= take;
    if (FLongHead.size() < TCsvLoader::kFirstFieldShown) return;
    DecideCut();
  }
  const std::uint64_t drop = std::min(FLongDrop, count);
  FLongDrop -= drop;
  FOut.AppendQuotes(2 * (count - drop));
}

// The first field's first bytes are known: the cut drops what it asks for,
// from them and then from the bytes still to come.
void QuotedRewriter::DecideCut() {
  FLongCutKnown = true;
  const std::size_t cut = FCut(FLongHead);
  const std::size_t dropped = std::min(cut, FLongHead.size());
  FLongDrop = cut - dropped;
  const std::string_view rest = std::string_view(FLongHead).substr(dropped);
  FOut.Reserve(2 * rest.size());
  for (char c : rest) {
    if (c == FQuote) FOut.Put(c);
    FOut.Put(c);
  }
}

}  // namespace csv_scan

namespace {

using csv_scan::LaneMasks;
#if defined(__SSE2__)
using RecordLanes = csv_scan::Sse2Lanes;
#else
using RecordLanes = csv_scan::BytesLanes;
#endif
using csv_scan::AppendUndoubled;

// Quote-aware line splitting that can be fed the text in pieces. Each line is
// handed to the sink as soon as its end is known; only an unfinished line is
// kept between two pieces.
class LineSplitter {
 public:
  explicit LineSplitter(unsigned char quote) : FQuoteChar(quote) {}

  // Scans buffer[from, size) where buffer[0, from) is the start of the
  // current line already scanned; returns the start of the unfinished line.
  template <typename Sink>
  std::size_t Scan(const char* buffer, std::size_t from, std::size_t size, bool last, Sink&& sink) {
    const unsigned char quote = FQuoteChar;
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
  bool ReachedEnd() const { return !FEnded; }

 private:
  const unsigned char FQuoteChar;
  bool FAtLineStart = true;
  bool FInside = false;
  bool FSkipLF = false;
  bool FEnded = false;
};

// The same quote-aware line splitting, fused with the field splitting, quote
// stripping and undoubling of each line, so that a record is cut into its
// fields in one pass over its bytes. Used for files when the quote and the
// delimiter are ordinary bytes; its results equal the line-by-line steps.
class RecordScanner {
 public:
  RecordScanner(char quote, char delimiter) : FQuote(quote), FDelimiter(delimiter) {}

  static bool Applies(unsigned char quote, unsigned char delimiter) {
    auto ordinary = [](unsigned char c) { return c != 0 && c != '\r' && c != '\n'; };
    return ordinary(quote) && ordinary(delimiter) && quote != delimiter;
  }

  // As LineSplitter::Scan; the sink receives the fields of each record.
  //
  // Between two records the inside-quotes state is always "outside" (a line
  // only ends outside quotes), so whether a byte is inside quotes is just the
  // parity of the quote bytes before it. Blocks of 64 bytes are classified at
  // once: only delimiters and line breaks outside quotes are visited.
  template <typename Sink>
  std::size_t Scan(const char* buffer, std::size_t from, std::size_t size, bool last, Sink&& sink) {
    std::size_t lineStart = 0;
    std::size_t i = from;
    if (FAtLineStart) {
      if (FSkipLF) {
        if (i >= size) {
          if (last) FSkipLF = false;
          return i;
        }
        if (buffer[i] == '\n') ++i;
        FSkipLF = false;
      }
      lineStart = i;
      StartLine();
    }
    std::size_t skipAt = std::string::npos;  // an LF here belongs to the CR before it
    // One byte that splits: returns false when the scan must stop.
    auto structural = [&](std::size_t p) -> bool {
      const char c = buffer[p];
      if (c == FDelimiter) {
        FBounds.push_back(p - lineStart);
        FQuotes.push_back(FFieldQuotes);
        FFieldQuotes = 0;
        return true;
      }
      if (c == '\n' && p == skipAt) {
        lineStart = p + 1;
        return true;
      }
      if (c == '\0' && p == lineStart) {  // the data ends where a line would start
        FEnded = true;
        return false;
      }
      Emit(buffer + lineStart, p - lineStart, sink);
      if (c == '\0') {
        FEnded = true;
        return false;
      }
      lineStart = p + 1;
      StartLine();
      if (c == '\r') skipAt = p + 1;
      return true;
    };
    const RecordLanes classify(FQuote, FDelimiter);
    while (i + 64 <= size) {
      const LaneMasks m = classify(buffer + i);
      const std::uint64_t quotes = m.quotes, splits = m.breaks | m.delimiters;
      std::uint64_t inside = RecordLanes::Parity(quotes);
      const bool odd = (inside >> 63) != 0;  // the block holds an odd number of quotes
      if (FInside) inside = ~inside;
      std::uint64_t todo = splits & ~inside;
      std::uint64_t counted = 0;  // bits whose quotes are already counted
      while (todo) {
        const int bit = __builtin_ctzll(todo);
        const std::uint64_t upTo = bit == 63 ? ~0ULL : (2ULL << bit) - 1;
        FFieldQuotes += CountBits(quotes & upTo & ~counted);
        counted = upTo;
        if (!structural(i + static_cast<std::size_t>(bit))) return i + static_cast<std::size_t>(bit);
        todo &= todo - 1;
      }
      FFieldQuotes += CountBits(quotes & ~counted);
      if (odd) FInside = !FInside;
      i += 64;
    }
    for (; i < size; ++i) {
      const char c = buffer[i];
      if (c == FQuote) {
        FInside = !FInside;
        ++FFieldQuotes;
      } else if (!FInside && (c == FDelimiter || c == '\r' || c == '\n' || c == '\0')) {
        if (!structural(i)) return i;
      }
    }
    if (lineStart >= size) {
      // A CR as the last byte: its LF, if any, comes with the next piece.
      if (skipAt == size && !last) FSkipLF = true;
      FAtLineStart = true;
      return size;
    }
    FAtLineStart = false;
    if (!last) return lineStart;
    Emit(buffer + lineStart, size - lineStart, sink);
    FAtLineStart = true;
    return size;
  }
  // True when the data ended early (a NUL byte).
  bool Ended() const { return FEnded; }
  bool ReachedEnd() const { return !FEnded; }

 private:
  // Quotes in a field are few: clearing the lowest bit per quote beats a
  // table or library population count.
  static std::size_t CountBits(std::uint64_t bits) {
    std::size_t n = 0;
    for (; bits; bits &= bits - 1) ++n;
    return n;
  }

  // The quote state needs no reset: a line only ends outside quotes.
  void StartLine() {
    FBounds.clear();
    FQuotes.clear();
    FFieldQuotes = 0;
    FAtLineStart = false;
  }

  template <typename Sink>
  void Emit(const char* line, std::size_t length, Sink&& sink) {
    FFields.clear();
    if (length == 0) {
      sink(FFields.data(), 0);
      return;
    }
    FBounds.push_back(length);
    FQuotes.push_back(FFieldQuotes);
    FArena.clear();
    FArena.reserve(length);  // views into it stay valid: it never grows past the line
    std::size_t start = 0;
    for (std::size_t k = 0; k < FBounds.size(); ++k) {
      std::size_t from = start, to = FBounds[k];
      std::size_t quotes = FQuotes[k];
      start = to + 1;
      if (from < to && line[from] == FQuote) ++from, --quotes;
      if (from < to && line[to - 1] == FQuote) --to, --quotes;
      if (quotes < 2) {
        FFields.emplace_back(line + from, to - from);
        continue;
      }
      const std::size_t at = FArena.size();
      AppendUndoubled(FArena, line + from, line + to, FQuote);
      FFields.emplace_back(FArena.data() + at, FArena.size() - at);
    }
    sink(FFields.data(), FFields.size());
  }

  const char FQuote, FDelimiter;
  bool FAtLineStart = true;
  bool FInside = false;
  bool FSkipLF = false;
  bool FEnded = false;
  std::size_t FFieldQuotes = 0;
  std::vector<std::size_t> FBounds;  // delimiter offsets in the current line
  std::vector<std::size_t> FQuotes;  // quote bytes in each field before them
  std::vector<std::string_view> FFields;
  std::string FArena;
};

}  // namespace

// The bytes of a file for a scan, block by block. Each block is what the
// scan carried over from the block before (the start of an unfinished line
// or field), then the next bytes of the file, and kSlack readable bytes past
// its end. While the scan works on a full block (of 64 KiB or more), the
// file's next bytes are read in the background into the other of two
// buffers, behind room for what the scan will carry over (64 KiB, or a
// smaller block's size). The check and the rewrite carry no more than
// 64 KiB; a longer carry, the records of a long line, is collected in a
// buffer of its own, which grows with it. A file read once, which then
// goes, has the bytes read dropped from the system's cache as they come:
// all from the first, each time, as the system keeps a file's bytes in
// pieces of its own size, which a piece read may cut.
class TCsvBlockStream {
 public:
  static constexpr std::size_t kSlack = csv_scan::kSlack;

  TCsvBlockStream(platform::File& file, std::size_t blockSize, bool readOnce = false)
      : FFile(file), FBlockSize(blockSize), FReadOnce(readOnce), FAhead(FFile) {}

  // Reads the file's first block, from its start or from the offset given;
  // 0 or the error.
  int Start(std::uint64_t from = 0) {
    if (int err = FFile.SeekTo(from)) return err;
    // A smaller file is read in one block of its size and a byte more, which
    // shows its end: its buffers take no more than it needs (some systems
    // make ready every page a read may fill).
    platform::FileInfo info;
    if (FFile.GetInfo(info) == 0 && info.size < from + FBlockSize)
      FBlockSize = static_cast<std::size_t>(info.size > from ? info.size - from : 0) + 1;
    FRoom = std::min(kRoom, FBlockSize);
    FFirst = FOffset = from;
    if (int err = FFile.Read(NewBytes(0), FBlockSize, FGot)) return err;
    WasRead(FOffset, FGot);
    FOffset += FGot;
    std::memset(NewBytes(0) + FGot, 0, kSlack);
    ReadAhead();
    return 0;
  }

  // The block: the carried bytes, then the new ones.
  const char* Data() { return FLong ? FLine.data() : FBuffers[FCurrent].data() + FRoom - FCarried; }
  std::size_t Size() const { return FCarried + FGot; }
  // Where the new bytes begin.
  std::size_t From() const { return FCarried; }
  std::size_t BlockSize() const { return FBlockSize; }
  // No new bytes: the file has ended.
  bool Last() const { return FGot == 0; }

  // Carries the block's bytes from keep on into the next block and reads
  // on; 0 or the error.
  int Next(std::size_t keep) {
    const std::size_t carried = Size() - keep;
    const int next = FCurrent ^ 1;
    std::size_t got = 0;
    if (FReading) {
      FReading = false;
      if (int err = FAhead.Finish(got)) return err;
      FOffset += got;
    } else if (int err = FFile.Read(NewBytes(next), FBlockSize, got)) {
      return err;
    } else {
      WasRead(FOffset, got);
      FOffset += got;
    }
    if (carried > FRoom) {
      // A line longer than the room: collected in a buffer of its own, the
      // new bytes appended, so that no byte is copied again for each block.
      if (FLong) {
        FLine.resize(Size());
        FLine.erase(FLine.begin(), FLine.begin() + static_cast<std::ptrdiff_t>(keep));
      } else {
        FLine.assign(Data() + keep, Data() + Size());
      }
      FLine.insert(FLine.end(), NewBytes(next), NewBytes(next) + got);
      FLine.resize(FLine.size() + kSlack);
      FLong = true;
    } else {
      std::memcpy(NewBytes(next) - carried, Data() + keep, carried);
      std::memset(NewBytes(next) + got, 0, kSlack);
      FLong = false;
      FLine = std::vector<char>();
    }
    FCurrent = next;
    FCarried = carried;
    FGot = got;
    ReadAhead();
    return 0;
  }

 private:
  // Where a buffer takes the file's bytes; the second buffer is made only
  // for a file of more than one block.
  char* NewBytes(int k) {
    FBuffers[k].Grow(FRoom + FBlockSize + kSlack);
    return FBuffers[k].data() + FRoom;
  }

  // A full block means more may follow: the next one is read meanwhile into
  // the buffer that the scan does not use. For small blocks, handing the
  // read over costs more than the read.
  void ReadAhead() {
    if (FGot != FBlockSize || FBlockSize < kReadAheadFrom) return;
    std::function<void(std::size_t)> drop;  // on the reading thread
    if (FReadOnce) drop = [this, at = FOffset](std::size_t got) { WasRead(at, got); };
    FAhead.Start(NewBytes(FCurrent ^ 1), FBlockSize, std::move(drop));
    FReading = true;
  }
  // The got bytes from at on were read, on either thread: a file read once
  // has all it read leave the system's cache (only a hint, whose failure
  // changes nothing read).
  void WasRead(std::uint64_t at, std::size_t got) const {
    if (FReadOnce && got > 0) FFile.DropCached(FFirst, at + got - FFirst);
  }

  static constexpr std::size_t kRoom = csv_scan::kCarryRoom;
  static constexpr std::size_t kReadAheadFrom = 64 << 10;  // the smallest block read ahead

  platform::File& FFile;
  std::size_t FBlockSize;
  const bool FReadOnce;
  std::uint64_t FFirst = 0, FOffset = 0;  // of the file's first byte read, and of the next
  // Room for what a scan carries over: as much as a block, 64 KiB at most.
  // A longer carry is collected in FLine.
  std::size_t FRoom = kRoom;
  TCsvBuffer FBuffers[2];
  bool FLong = false;       // the block is in FLine
  std::vector<char> FLine;  // a long line's bytes, then the slack
  int FCurrent = 0;
  std::size_t FCarried = 0, FGot = 0;
  bool FReading = false;
  // Last, so that a read still running ends before the buffers go.
  platform::ReadAhead FAhead;
};

void TCsvLoader::SplitLines(std::string_view text, unsigned char quoteChar, TStringList& lines) {
  LineSplitter splitter(quoteChar);
  splitter.Scan(text.data(), 0, text.size(), true, [&](std::string_view line) { lines.Add(line); });
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
  LineSplitter splitter(FQuoteChar);
  splitter.Scan(text.data(), 0, text.size(), true, [&](std::string_view line) { lines.Add(line); });
  FReachedEnd = !splitter.Ended();
  Configure();
  const int first = FSkipFirstLine ? 1 : 0;
  if (OnBegin) OnBegin(first, lines);
  for (int i = first; i < lines.Count(); ++i) ProcessLine(lines[i]);
  if (OnEnd) OnEnd();
}

platform::File TCsvLoader::OpenFile(const std::string& fileName) {
  if (!platform::FileExists(fileName))
    throw Exception("CSVFileNameに指定したファイルが存在しません.CSVFilename=" + fileName);
  platform::File file;
  if (int err = file.OpenRead(fileName, true)) throw OpenError(fileName, err);
  return file;
}

void TCsvLoader::StartFile(const std::string& fileName, TCsvBlockStream& blocks, std::uint64_t from) {
  if (int err = blocks.Start(from)) throw OpenError(fileName, err);
}

EFOpenError TCsvLoader::OpenError(const std::string& fileName, int err) {
  return EFOpenError(Format("ファイル \"%s\". %s は開けません", {fileName, platform::ErrorText(err)}));
}

void TCsvLoader::StreamRecords(const std::string& fileName, TCsvBlockStream& blocks, const TFieldsEvent& onRecord) {
  Configure();
  bool skipping = FSkipFirstLine;
  auto stream = [&](auto& splitter, auto&& sink) {
    for (;;) {
      const std::size_t keep = splitter.Scan(blocks.Data(), blocks.From(), blocks.Size(), blocks.Last(), sink);
      if (blocks.Last() || splitter.Ended()) break;
      if (int err = blocks.Next(keep)) throw OpenError(fileName, err);
    }
    FReachedEnd = splitter.ReachedEnd();
  };
  if (RecordScanner::Applies(FQuoteChar, FDelimiter)) {
    RecordScanner scanner(static_cast<char>(FQuoteChar), static_cast<char>(FDelimiter));
    stream(scanner, [&](const std::string_view* fields, std::size_t count) {
      if (skipping) {
        skipping = false;
      } else {
        onRecord(fields, count);
      }
    });
  } else {
    LineSplitter splitter(FQuoteChar);
    std::vector<std::string_view> views;
    stream(splitter, [&](std::string_view line) {
      if (skipping) {
        skipping = false;
        return;
      }
      FCsv.SplitFields(line);
      FCsv.StripQuotes();
      FCsv.UndoubleQuotes();
      views.assign(FCsv.items.Count(), std::string_view());
      for (int i = 0; i < FCsv.items.Count(); ++i) views[i] = FCsv.items[i];
      onRecord(views.data(), views.size());
    });
  }
}

bool TCsvLoader::LoadFromFile(const std::string& fileName) {
  platform::File file = OpenFile(fileName);
  TCsvBlockStream blocks(file, FBlockSize);
  StartFile(fileName, blocks);
  if (blocks.Size() == 0) return false;

  if (OnBegin) {
    // The callback receives the list of all lines, so the whole text is read.
    std::string text;
    do {
      text.append(blocks.Data(), blocks.Size());
      if (int err = blocks.Next(blocks.Size())) throw OpenError(fileName, err);
    } while (!blocks.Last());
    ParseText(text);
    return true;
  }
  StreamRecords(fileName, blocks, [&](const std::string_view* fields, std::size_t count) {
    FCsv.items.Assign(fields, count);
    FOnRecord(FCsv.items);
  });
  if (OnEnd) OnEnd();
  return true;
}

std::uint64_t TCsvLoader::CheckRecords(platform::File& file, const std::string& fileName, const TMatch& match,
                                       bool stopAtFirst) {
  const std::optional<std::uint64_t> from = CheckFrom(file, fileName);
  if (!from) {
    FReachedEnd = true;
    return 0;
  }
  TCsvBlockStream blocks(file, FBlockSize);
  StartFile(fileName, blocks, *from);
  // From a later place the record the scan starts in is skipped as a
  // first line is.
  const bool skipFirstLine = FSkipFirstLine || *from > 0;
  FReachedEnd = true;
  if (blocks.Size() == 0) return 0;
  if (RecordScanner::Applies(FQuoteChar, FDelimiter)) {
    const csv_scan::ScanPath& path = csv_scan::PathFor(FLanes);
    csv_scan::CheckScan scan(static_cast<char>(FQuoteChar), static_cast<char>(FDelimiter), skipFirstLine, stopAtFirst,
                             match);
    for (;;) {
      const std::size_t keep = path.check(scan, blocks.Data(), blocks.From(), blocks.Size(), blocks.Last());
      if (blocks.Last() || scan.Ended()) break;
      if (int err = blocks.Next(keep)) throw OpenError(fileName, err);
    }
    FReachedEnd = scan.ReachedEnd();
    return scan.Matches();
  }
  // Other quote and delimiter bytes: record by record.
  Configure();
  LineSplitter splitter(FQuoteChar);
  bool skipping = skipFirstLine;
  std::uint64_t matches = 0;
  auto sink = [&](std::string_view line) {
    if (skipping || (stopAtFirst && matches > 0)) {
      skipping = false;
      return;
    }
    FCsv.SplitFields(line);
    FCsv.StripQuotes();
    FCsv.UndoubleQuotes();
    if (FCsv.items.Count() > 0 && match(std::string_view(FCsv.items[0]).substr(0, kFirstFieldShown))) ++matches;
  };
  for (;;) {
    const std::size_t keep = splitter.Scan(blocks.Data(), blocks.From(), blocks.Size(), blocks.Last(), sink);
    if (blocks.Last() || splitter.Ended() || (stopAtFirst && matches > 0)) break;
    if (int err = blocks.Next(keep)) throw OpenError(fileName, err);
  }
  FReachedEnd = splitter.ReachedEnd();
  return matches;
}

std::optional<std::uint64_t> TCsvLoader::CheckFrom(platform::File& file, const std::string& fileName) const {
  if (!FMatchByte || static_cast<unsigned char>(*FMatchByte) == FQuoteChar) return 0;
  if (int err = file.SeekTo(0)) throw OpenError(fileName, err);
  // Small pieces, read on this thread: they stay in the processor's cache
  // for the search, which then costs little beside the reading. One pass on
  // the processor path finds the bytes and counts the quotes.
  const std::size_t piece = std::min<std::size_t>(FBlockSize, 256 << 10);
  TCsvBuffer buffer;
  buffer.Grow(piece + csv_scan::kSlack);
  std::memset(buffer.data(), 0, piece + csv_scan::kSlack);
  // The scan may start at a piece's start where the quotes are closed (an
  // even number before it), skipping the rest of the record it falls in,
  // when the first match byte or NUL comes later than the most a shown
  // first field takes in the file (kFirstFieldShown bytes of value, each
  // perhaps a doubled quote), with room to spare: so no record that can
  // match, and no NUL, lies before it.
  constexpr std::uint64_t kShownSpan = 2 * kFirstFieldShown + 64;
  const bool countQuotes = RecordScanner::Applies(FQuoteChar, FDelimiter);
  const csv_scan::ScanPath& path = csv_scan::PathFor(FLanes);
  std::deque<std::uint64_t> closed;  // piece starts with the quotes closed, not yet far enough back
  std::uint64_t offset = 0, quotes = 0, from = 0;
  for (;;) {
    std::size_t got = 0;
    if (int err = file.Read(buffer.data(), piece, got)) throw OpenError(fileName, err);
    if (got == 0) return std::nullopt;
    if (path.findNeeded(buffer.data(), got, static_cast<char>(FQuoteChar), *FMatchByte, quotes) < got) return from;
    offset += got;
    if (!countQuotes) continue;
    if (quotes % 2 == 0) closed.push_back(offset);
    for (; !closed.empty() && closed.front() + kShownSpan <= offset; closed.pop_front()) from = closed.front();
  }
}

bool TCsvLoader::FindRecord(const std::string& fileName, const TMatch& match) {
  platform::File file = OpenFile(fileName);
  return FindRecord(file, fileName, match);
}

bool TCsvLoader::FindRecord(platform::File& file, const std::string& fileName, const TMatch& match) {
  return CheckRecords(file, fileName, match, true) > 0;
}

std::uint64_t TCsvLoader::CountRecords(platform::File& file, const std::string& fileName, const TMatch& match) {
  return CheckRecords(file, fileName, match, false);
}

bool TCsvLoader::RewriteQuoted(const std::string& fileName, const TFirstFieldCut& cut, const TWriteEvent& write) {
  platform::File file = OpenFile(fileName);
  return RewriteQuoted(file, fileName, cut, write);
}

bool TCsvLoader::RewriteQuoted(platform::File& file, const std::string& fileName, const TFirstFieldCut& cut,
                               const TWriteEvent& write) {
  TCsvBlockStream blocks(file, FBlockSize, FReadOnce);
  StartFile(fileName, blocks);
  if (blocks.Size() == 0) return false;
  const char quote = static_cast<char>(FQuoteChar);
  // The output of a small file takes little room.
  csv_scan::QuotedOutput out(quote, write, FOutput, 4 * blocks.BlockSize() + 64);
  if (!FSkipFirstLine && RecordScanner::Applies(FQuoteChar, FDelimiter)) {
    const csv_scan::ScanPath& path = csv_scan::PathFor(FLanes);
    csv_scan::QuotedRewriter rewriter(quote, static_cast<char>(FDelimiter), cut, out);
    for (;;) {
      const std::size_t keep = path.rewrite(rewriter, blocks.Data(), blocks.From(), blocks.Size(), blocks.Last());
      if (blocks.Last() || rewriter.Ended()) break;
      if (int err = blocks.Next(keep)) throw OpenError(fileName, err);
    }
    FReachedEnd = rewriter.ReachedEnd();
  } else {
    StreamRecords(fileName, blocks, [&](const std::string_view* fields, std::size_t count) {
      for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) out.Put(static_cast<char>(FDelimiter));
        std::string_view value = fields[k];
        if (k == 0) value.remove_prefix(std::min(cut(value.substr(0, kFirstFieldShown)), value.size()));
        out.Reserve(2 * value.size() + 5);
        out.PutQuoted(value);
      }
      out.Reserve(2);
      out.LineEnd();
    });
  }
  out.Drain();
  return true;
}
