#include "csv/RsCsvUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/Exception.h"
#include "base/Format.h"
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

namespace {

// Appends a field's bytes with every second quote of a run dropped.
void AppendUndoubled(std::string& out, const char* from, const char* to, char quote) {
  int run = 0;
  for (; from < to; ++from) {
    if (*from == quote) {
      if (++run == 2) {
        run = 0;
        continue;
      }
    } else {
      run = 0;
    }
    out += *from;
  }
}

// The quote bytes and the split bytes (delimiter, CR, LF, NUL) of up to 64
// bytes as masks, bit k for byte k.
struct LaneMasks {
  std::uint64_t quotes = 0, splits = 0;
};

LaneMasks ClassifyBytes(const char* at, std::size_t n, char quote, char delimiter) {
  LaneMasks m;
  for (std::size_t k = 0; k < n; ++k) {
    const char c = at[k];
    m.quotes |= static_cast<std::uint64_t>(c == quote) << k;
    m.splits |= static_cast<std::uint64_t>(c == delimiter || c == '\r' || c == '\n' || c == '\0') << k;
  }
  return m;
}

// ClassifyBytes of 64 bytes, 16 at a time where the target has SSE2; the
// bytes to compare with are spread once per scan, not once per lane.
class LaneClassifier {
 public:
  LaneClassifier(char quote, char delimiter)
#if defined(__SSE2__)
      : FQuote(_mm_set1_epi8(quote)),
        FDelimiter(_mm_set1_epi8(delimiter)),
        FCR(_mm_set1_epi8('\r')),
        FLF(_mm_set1_epi8('\n')){}
#else
      : FQuote(quote), FDelimiter(delimiter) {
  }
#endif

        LaneMasks
        operator()(const char* at) const {
#if defined(__SSE2__)
    LaneMasks m;
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * k));
      const __m128i split =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, FDelimiter), _mm_cmpeq_epi8(v, _mm_setzero_si128())),
                       _mm_or_si128(_mm_cmpeq_epi8(v, FCR), _mm_cmpeq_epi8(v, FLF)));
      m.quotes |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, FQuote))))
                  << (16 * k);
      m.splits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(split))) << (16 * k);
    }
    return m;
#else
    return ClassifyBytes(at, 64, FQuote, FDelimiter);
#endif
  }

 private:
#if defined(__SSE2__)
  const __m128i FQuote, FDelimiter, FCR, FLF;
#else
  const char FQuote, FDelimiter;
#endif
};

// Bit k set when the quotes up to and including byte k are odd in number:
// the bytes inside quotes, opening quotes included, closing ones not.
inline std::uint64_t QuoteParity(std::uint64_t quotes) {
  quotes ^= quotes << 1;
  quotes ^= quotes << 2;
  quotes ^= quotes << 4;
  quotes ^= quotes << 8;
  quotes ^= quotes << 16;
  quotes ^= quotes << 32;
  return quotes;
}

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
      if (FStopped) return false;
      if (c == '\0') {
        FEnded = true;
        return false;
      }
      lineStart = p + 1;
      StartLine();
      if (c == '\r') skipAt = p + 1;
      return true;
    };
    const LaneClassifier classify(FQuote, FDelimiter);
    while (i + 64 <= size) {
      const LaneMasks m = classify(buffer + i);
      const std::uint64_t quotes = m.quotes, splits = m.splits;
      std::uint64_t inside = QuoteParity(quotes);
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
  // True when the data ended early (a NUL byte) or the sink stopped the scan.
  bool Ended() const { return FEnded || FStopped; }
  bool ReachedEnd() const { return !FEnded; }
  void Stop() { FStopped = true; }
  // Only the first field of each record is cut out.
  void SetFirstFieldOnly(bool value) { FFirstFieldOnly = value; }

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
    const std::size_t fields = FFirstFieldOnly ? 1 : FBounds.size();
    for (std::size_t k = 0; k < fields; ++k) {
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
  bool FFirstFieldOnly = false;
  bool FStopped = false;
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

// Collects the output of a rewrite and hands it on in large pieces. Room is
// reserved ahead, so that the bytes of a whole block go in without a check
// each; the rewrite writes through a cursor of its own and may copy up to 63
// bytes past the end of a run, into the slack both buffers keep. Two buffers
// take turns: the one handed on stays untouched while the other fills, so
// that it can be written in the background.
class QuotedOutput {
 public:
  static constexpr std::size_t kSlack = 64;

  QuotedOutput(char quote, const TCsvLoader::TWriteEvent& write, std::vector<char> (&buffers)[2])
      : FQuote(quote), FWrite(write), FBuffers(buffers) {
    Reserve(kMinimum);
  }

  // Room for size more bytes.
  void Reserve(std::size_t size) {
    if (FUsed + size + kSlack <= Buffer().size()) return;
    Drain();
    if (size + kSlack > Buffer().size()) Buffer().resize(std::max(size, kMinimum) + kSlack);
  }
  // Where the next byte goes, and the end of the bytes written from there:
  // the write position then lives in a register, not in this object.
  char* Cursor() { return Buffer().data() + FUsed; }
  void Commit(const char* end) { FUsed = static_cast<std::size_t>(end - Buffer().data()); }
  void Put(char c) { Buffer()[FUsed++] = c; }
  void LineEnd() {
    Put('\r');
    Put('\n');
  }
  // The value in quotes, its quote bytes doubled: at most 2 * size + 2 bytes.
  void PutQuoted(std::string_view value) {
    Put(FQuote);
    for (char c : value) {
      if (c == FQuote) Put(c);
      Put(c);
    }
    Put(FQuote);
  }
  void Drain() {
    if (FUsed == 0) return;
    FWrite(Buffer().data(), FUsed);
    FCurrent ^= 1;
    FUsed = 0;
  }

 private:
  static constexpr std::size_t kMinimum = 1 << 20;
  std::vector<char>& Buffer() { return FBuffers[FCurrent]; }

  const char FQuote;
  const TCsvLoader::TWriteEvent& FWrite;
  std::vector<char> (&FBuffers)[2];
  int FCurrent = 0;
  std::size_t FUsed = 0;
};

// The rewrite into the quoted form straight from the bytes, in one pass: no
// field is cut out or copied on its own. Each 64-byte lane is classified into
// bit masks; only its delimiters and line breaks outside quotes are visited,
// and at each the field before it is written at once. Nearly every field
// takes one of two shapes whose output is the input bytes with quotes around
// them: a field without inner quotes (only its first and last byte may be
// quotes, which are its own), and a field in quotes in which every plain byte
// lies inside quotes, so that its inner quotes come in pairs that undouble and
// double back to the same bytes. Any other field is rebuilt from its value
// as the reader delivers it. Used when the RecordScanner applies.
class QuotedRewriter {
 public:
  QuotedRewriter(char quote, char delimiter, const TCsvLoader::TFirstFieldCut& cut, QuotedOutput& out)
      : FQuote(quote), FDelimiter(delimiter), FCut(cut), FOut(out) {}

  // As RecordScanner::Scan, but only the unfinished field is carried (it
  // starts at 0 of the next buffer): the fields before it are written. The
  // buffer must stay readable for 64 bytes past size.
  // Kept out of line: on its own its state stays in registers.
  [[gnu::noinline]] std::size_t Scan(const char* buffer, std::size_t from, std::size_t size, bool last) {
    // A field of n bytes gives at most 2 n + 2 and a line end two, so a line
    // of b bytes (",\n" is the worst) gives at most 4 b, and the last line
    // without its end 4 b + 4.
    FOut.Reserve(4 * size + 8);
    FIn = buffer;
    const char* const in = buffer;
    const char quote = FQuote, delimiter = FDelimiter;
    char* out = FOut.Cursor();
    std::size_t start = 0;  // of the current field
    std::size_t fieldIndex = FFieldIndex;
    bool inside = FInside, afterCR = FAfterCR;
    // Whether the byte before the scanned ones splits: a field carried over
    // has bytes before them.
    std::uint64_t splitBefore = from == 0;
    // 1 when the current field has shown an inner quote, or a plain byte
    // outside quotes.
    std::uint64_t carryInner = FCarryInner, carryStray = FCarryStray;
    const LaneClassifier classify(quote, delimiter);
    for (std::size_t i = from; i < size;) {
      const std::size_t n = std::min<std::size_t>(64, size - i);
      const std::uint64_t valid = n == 64 ? ~0ULL : (1ULL << n) - 1;
      const LaneMasks m = n == 64 ? classify(in + i) : ClassifyBytes(in + i, n, quote, delimiter);
      std::uint64_t inQuotes = QuoteParity(m.quotes);
      if (inside) inQuotes = ~inQuotes;
      inside = (inQuotes >> 63) != 0;
      const std::uint64_t splits = m.splits & ~inQuotes;
      // A quote next to a split byte is the first or the last byte of its
      // field. One at the end of the lane counts as inner: that only sends
      // a field the safe way.
      const std::uint64_t innerQuotes = m.quotes & ~(splits << 1 | splitBefore) & ~(splits >> 1);
      const std::uint64_t strays = ~(inQuotes | m.quotes | splits) & valid;
      // Adding a mask to the bytes that do not split carries each run that
      // holds one of its bits into the split byte that ends the run (or into
      // the next lane): the split bytes whose field holds such a byte.
      const std::uint64_t innerEnds = AddWithCarry(~splits, innerQuotes, carryInner) & splits;
      const std::uint64_t strayEnds = AddWithCarry(~splits, strays, carryStray) & splits;
      std::uint64_t todo = splits;
      if (afterCR) {  // the LF of a CR LF split by the lane edge
        afterCR = false;
        if (in[i] == '\n') {
          todo &= ~1ULL;
          start = i + 1;
        }
      }
      while (todo) {
        const int bit = __builtin_ctzll(todo);
        todo &= todo - 1;
        const std::size_t p = i + static_cast<std::size_t>(bit);
        const bool inner = (innerEnds >> bit & 1) != 0, stray = (strayEnds >> bit & 1) != 0;
        const char c = in[p];
        std::size_t next = p + 1;
        if (c == delimiter) {
          out = EndField(out, start, p, fieldIndex == 0, inner, stray);
          *out++ = delimiter;
          ++fieldIndex;
        } else {
          const bool empty = fieldIndex == 0 && p == start;
          if (c == '\0' && empty) return Stop(out);  // the data ends where a line would start
          if (!empty) out = EndField(out, start, p, fieldIndex == 0, inner, stray);
          out[0] = '\r';
          out[1] = '\n';
          out += 2;
          fieldIndex = 0;
          if (c == '\0') return Stop(out);
          // A CR's LF belongs to it: dropped here, or at the next lane.
          const bool cr = c == '\r';
          const bool lf = cr && static_cast<std::size_t>(bit) + 1 < n && in[p + 1] == '\n';
          afterCR = cr && static_cast<std::size_t>(bit) + 1 == n;
          todo &= ~(static_cast<std::uint64_t>(lf) << bit << 1);
          next += lf;
        }
        start = next;
      }
      splitBefore = splits >> 63;
      i += n;
    }
    if (last) {
      if (fieldIndex > 0 || start < size) {
        out = RebuiltField(out, start, size, fieldIndex == 0);
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
      }
      FOut.Commit(out);
      return size;
    }
    FOut.Commit(out);
    FInside = inside;
    FAfterCR = afterCR;
    FFieldIndex = fieldIndex;
    FCarryInner = carryInner;
    FCarryStray = carryStray;
    return start;
  }
  bool Ended() const { return FEnded; }
  bool ReachedEnd() const { return !FEnded; }

 private:
  // a + b + carry with the carry out in carry.
  static std::uint64_t AddWithCarry(std::uint64_t a, std::uint64_t b, std::uint64_t& carry) {
    std::uint64_t sum, total;
    const bool first = __builtin_add_overflow(a, b, &sum);
    const bool second = __builtin_add_overflow(sum, carry, &total);
    carry = first || second;
    return total;
  }

  std::size_t Stop(const char* out) {
    FOut.Commit(out);
    FEnded = true;
    return 0;
  }

  // A field of up to 64 bytes, nearly every one, is copied whole in four
  // 16-byte pieces, without a branch on its length; the bytes past it land
  // in the slack of both buffers.
  static char* CopyBytes(char* to, const char* from, std::size_t size) {
    if (size <= 64) {
      for (int k = 0; k < 64; k += 16) std::memcpy(to + k, from + k, 16);
    } else {
      std::memcpy(to, from, size);
    }
    return to + size;
  }

  // Writes the field from start to p, where a split byte outside quotes ends
  // it, so that it holds an even number of quotes.
  char* EndField(char* out, std::size_t start, std::size_t p, bool first, bool inner, bool stray) {
    const char* const in = FIn;
    const char quote = FQuote;
    const std::size_t size = p - start;
    const bool lead = in[start] == quote;  // an empty field shows the split byte
    const bool trail = size > 1 && in[p - 1] == quote;
    if (inner && !(lead && trail && !stray && !first)) return RebuiltField(out, start, p, first);
    std::size_t from = start + lead;
    const std::size_t to = p - trail;
    if (first) from += std::min(FCut(std::string_view(in + from, to - from)), to - from);
    *out = quote;
    out = CopyBytes(out + 1, in + from, to - from);
    *out++ = quote;
    return out;
  }

  // Writes the field from start to p from its value: stripped of a leading
  // and a trailing quote, undoubled, cut if it is the first.
  char* RebuiltField(char* out, std::size_t start, std::size_t p, bool first) {
    const char* const in = FIn;
    const char quote = FQuote;
    std::size_t from = start, to = p;
    if (from < to && in[from] == quote) ++from;
    if (from < to && in[to - 1] == quote) --to;
    FValue.clear();
    AppendUndoubled(FValue, in + from, in + to, quote);
    std::string_view value(FValue);
    if (first) value.remove_prefix(std::min(FCut(value), value.size()));
    *out++ = quote;
    for (char c : value) {
      if (c == quote) *out++ = quote;
      *out++ = c;
    }
    *out++ = quote;
    return out;
  }

  const char FQuote, FDelimiter;
  const TCsvLoader::TFirstFieldCut& FCut;
  QuotedOutput& FOut;
  const char* FIn = nullptr;
  // The state between two buffers.
  std::size_t FFieldIndex = 0;    // of the current field in its record
  std::uint64_t FCarryInner = 0;  // the current field has shown an inner quote
  std::uint64_t FCarryStray = 0;  // and a plain byte outside quotes
  bool FInside = false;
  bool FAfterCR = false;  // the last byte scanned is a CR that ends a line
  bool FEnded = false;
  std::string FValue;
};

}  // namespace

// The bytes of a file for a scan, block by block. Each block is what
// the scan carried over from the block before (the start of an unfinished
// line or field), then the next bytes of the file, and 64 readable bytes
// past its end. While the scan works on a full block (of 64 KiB or more),
// the file's next bytes are read in the background into the other of two
// buffers, behind room for what the scan will carry over.
class TCsvBlockStream {
 public:
  // The rewrite copies, and reads, that many bytes past the data.
  static constexpr std::size_t kSlack = QuotedOutput::kSlack;

  TCsvBlockStream(platform::File& file, std::size_t blockSize) : FFile(file), FBlockSize(blockSize), FAhead(FFile) {}

  // Reads the file's first block, from its start; 0 or the error.
  int Start() {
    if (int err = FFile.SeekTo(0)) return err;
    if (int err = FFile.Read(NewBytes(0), FBlockSize, FGot)) return err;
    ReadAhead();
    return 0;
  }

  // The block: the carried bytes, then the new ones.
  const char* Data() const { return FBuffers[FCurrent].data() + FRoom[FCurrent] - FCarried; }
  std::size_t Size() const { return FCarried + FGot; }
  // Where the new bytes begin.
  std::size_t From() const { return FCarried; }
  // No new bytes: the file has ended.
  bool Last() const { return FGot == 0; }

  // Carries the block's bytes from keep on into the next block and reads
  // on; 0 or the error.
  int Next(std::size_t keep) {
    const char* const carry = Data() + keep;
    const std::size_t carried = Size() - keep;
    const int next = FCurrent ^ 1;
    std::size_t got = 0;
    if (FReading) {
      FReading = false;
      if (int err = FAhead.Finish(got)) return err;
    } else if (int err = FFile.Read(NewBytes(next), FBlockSize, got)) {
      return err;
    }
    if (carried > FRoom[next]) {  // an unusually long line or field: more room in front
      const std::size_t room = std::max(carried, 2 * FRoom[next]);
      FBuffers[next].resize(room + FBlockSize + kSlack);
      std::memmove(FBuffers[next].data() + room, NewBytes(next), got);
      FRoom[next] = room;
    }
    std::memcpy(NewBytes(next) - carried, carry, carried);
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
    if (FBuffers[k].empty()) FBuffers[k].resize(FRoom[k] + FBlockSize + kSlack);
    return FBuffers[k].data() + FRoom[k];
  }

  // A full block means more may follow: the next one is read meanwhile into
  // the buffer that the scan does not use. For small blocks, handing the
  // read over costs more than the read.
  void ReadAhead() {
    if (FGot != FBlockSize || FBlockSize < kReadAheadFrom) return;
    FAhead.Start(NewBytes(FCurrent ^ 1), FBlockSize);
    FReading = true;
  }

  platform::File& FFile;
  const std::size_t FBlockSize;
  std::vector<char> FBuffers[2];
  std::size_t FRoom[2] = {kRoom, kRoom};
  int FCurrent = 0;
  std::size_t FCarried = 0, FGot = 0;
  bool FReading = false;
  // Last, so that a read still running ends before the buffers go.
  platform::ReadAhead FAhead;

  static constexpr std::size_t kRoom = 64 << 10;
  static constexpr std::size_t kReadAheadFrom = 64 << 10;  // the smallest block read ahead
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

void TCsvLoader::StartFile(const std::string& fileName, TCsvBlockStream& blocks) {
  if (int err = blocks.Start()) throw OpenError(fileName, err);
}

EFOpenError TCsvLoader::OpenError(const std::string& fileName, int err) {
  return EFOpenError(Format("ファイル \"%s\". %s は開けません", {fileName, platform::ErrorText(err)}));
}

bool TCsvLoader::StreamRecords(const std::string& fileName, TCsvBlockStream& blocks, bool firstFieldOnly,
                               const TFieldsEvent& onRecord) {
  Configure();
  bool skipping = FSkipFirstLine;
  bool stopped = false;
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
    scanner.SetFirstFieldOnly(firstFieldOnly);
    stream(scanner, [&](const std::string_view* fields, std::size_t count) {
      if (skipping) {
        skipping = false;
      } else if (!onRecord(fields, count)) {
        stopped = true;
        scanner.Stop();
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
      if (stopped) return;
      FCsv.SplitFields(line);
      FCsv.StripQuotes();
      FCsv.UndoubleQuotes();
      views.assign(FCsv.items.Count(), std::string_view());
      for (int i = 0; i < FCsv.items.Count(); ++i) views[i] = FCsv.items[i];
      stopped = !onRecord(views.data(), views.size());
    });
  }
  return stopped;
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
  StreamRecords(fileName, blocks, false, [&](const std::string_view* fields, std::size_t count) {
    FCsv.items.Assign(fields, count);
    FOnRecord(FCsv.items);
    return true;
  });
  if (OnEnd) OnEnd();
  return true;
}

bool TCsvLoader::FindRecord(const std::string& fileName, const std::function<bool(std::string_view)>& match) {
  platform::File file = OpenFile(fileName);
  return FindRecord(file, fileName, match);
}

bool TCsvLoader::FindRecord(platform::File& file, const std::string& fileName,
                            const std::function<bool(std::string_view)>& match) {
  TCsvBlockStream blocks(file, FBlockSize);
  StartFile(fileName, blocks);
  if (blocks.Size() == 0) return false;
  return StreamRecords(fileName, blocks, true, [&](const std::string_view* fields, std::size_t count) {
    return !(count > 0 && match(fields[0]));
  });
}

bool TCsvLoader::RewriteQuoted(const std::string& fileName, const TFirstFieldCut& cut, const TWriteEvent& write) {
  platform::File file = OpenFile(fileName);
  return RewriteQuoted(file, fileName, cut, write);
}

bool TCsvLoader::RewriteQuoted(platform::File& file, const std::string& fileName, const TFirstFieldCut& cut,
                               const TWriteEvent& write) {
  TCsvBlockStream blocks(file, FBlockSize);
  StartFile(fileName, blocks);
  if (blocks.Size() == 0) return false;
  const char quote = static_cast<char>(FQuoteChar);
  QuotedOutput out(quote, write, FOutput);
  if (!FSkipFirstLine && RecordScanner::Applies(FQuoteChar, FDelimiter)) {
    QuotedRewriter rewriter(quote, static_cast<char>(FDelimiter), cut, out);
    for (;;) {
      const std::size_t keep = rewriter.Scan(blocks.Data(), blocks.From(), blocks.Size(), blocks.Last());
      if (blocks.Last() || rewriter.Ended()) break;
      if (int err = blocks.Next(keep)) throw OpenError(fileName, err);
    }
    FReachedEnd = rewriter.ReachedEnd();
  } else {
    StreamRecords(fileName, blocks, false, [&](const std::string_view* fields, std::size_t count) {
      for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) out.Put(static_cast<char>(FDelimiter));
        std::string_view value = fields[k];
        if (k == 0) value.remove_prefix(std::min(cut(value), value.size()));
        out.Reserve(2 * value.size() + 5);
        out.PutQuoted(value);
      }
      out.Reserve(2);
      out.LineEnd();
      return true;
    });
  }
  out.Drain();
  return true;
}
