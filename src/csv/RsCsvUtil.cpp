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
#if defined(__SSE2__)
    const __m128i q = _mm_set1_epi8(FQuote), d = _mm_set1_epi8(FDelimiter);
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), nul = _mm_setzero_si128();
    auto masks = [&](const char* at, std::uint64_t& quotes, std::uint64_t& splits) {
      quotes = splits = 0;
      for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * k));
        const __m128i split = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, d), _mm_cmpeq_epi8(v, nul)),
                                           _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
        quotes |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, q))))
                  << (16 * k);
        splits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(split))) << (16 * k);
      }
    };
    while (i + 64 <= size) {
      std::uint64_t quotes, splits;
      masks(buffer + i, quotes, splits);
      std::uint64_t inside = quotes;  // parity of the quotes up to each byte
      inside ^= inside << 1;
      inside ^= inside << 2;
      inside ^= inside << 4;
      inside ^= inside << 8;
      inside ^= inside << 16;
      inside ^= inside << 32;
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
#endif
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
      int run = 0;
      for (std::size_t j = from; j < to; ++j) {
        if (line[j] == FQuote) {
          if (++run == 2) {
            run = 0;
            continue;
          }
        } else {
          run = 0;
        }
        FArena += line[j];
      }
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
// each; short runs are copied in 16-byte pieces that may read and write past
// their end, into the slack both buffers keep.
class QuotedOutput {
 public:
  static constexpr std::size_t kSlack = 64;

  QuotedOutput(char quote, const TCsvLoader::TWriteEvent& write) : FQuote(quote), FWrite(write) {}

  // Room for size more bytes.
  void Reserve(std::size_t size) {
    if (size <= FBuffer.size() - kSlack - FUsed) return;
    Drain();
    if (size > FBuffer.size() - kSlack) FBuffer.resize(std::max(size, kMinimum) + kSlack);
  }
  // data must stay readable for 15 bytes after size.
  void Append(const char* data, std::size_t size) {
    Copy(FBuffer.data() + FUsed, data, size);
    FUsed += size;
  }
  void Put(char c) { FBuffer[FUsed++] = c; }
  // The pending bytes, then the bytes of a field, each optionally preceded and
  // followed by a quote byte: one pass with the write position in a register
  // (every byte stored could otherwise alias the members).
  void AppendField(const char* pending, std::size_t pendingSize, bool open, const char* field, std::size_t fieldSize,
                   bool close) {
    const char quote = FQuote;
    char* to = Copy(FBuffer.data() + FUsed, pending, pendingSize);
    if (open) *to++ = quote;
    to = Copy(to, field, fieldSize);
    if (close) *to++ = quote;
    FUsed = static_cast<std::size_t>(to - FBuffer.data());
  }
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
    FWrite(FBuffer.data(), FUsed);
    FUsed = 0;
  }

 private:
  static char* Copy(char* to, const char* from, std::size_t size) {
    if (size > 128) {
      std::memcpy(to, from, size);
    } else {
      for (std::size_t k = 0; k < size; k += 16) std::memcpy(to + k, from + k, 16);
    }
    return to + size;
  }

  static constexpr std::size_t kMinimum = 1 << 20;
  const char FQuote;
  const TCsvLoader::TWriteEvent& FWrite;
  std::vector<char> FBuffer = std::vector<char>(kMinimum + kSlack);
  std::size_t FUsed = 0;
};

// The rewrite into the quoted form straight from the bytes, in the
// RecordScanner's one pass: no field is cut out or copied on its own. Most
// output bytes are input bytes: a field already in quotes whose inner quotes
// are doubled stays as it is, one without quotes only gains the two around
// it, so the output is runs of the input with a few bytes put in between.
// Only a field that needs its quotes undoubled or doubled differently is
// rebuilt from its value. Used when the RecordScanner applies.
class QuotedRewriter {
 public:
  QuotedRewriter(char quote, char delimiter, const TCsvLoader::TFirstFieldCut& cut, QuotedOutput& out)
      : FQuote(quote), FDelimiter(delimiter), FCut(cut), FOut(out) {}

  // As RecordScanner::Scan, but only the unfinished field is carried: the
  // output of the fields before it is already written.
  std::size_t Scan(const char* buffer, std::size_t from, std::size_t size, bool last) {
    FIn = buffer;
    FSize = size;
    // A field of n bytes gives at most 2 n + 2 and a line end two, so a line
    // of b bytes (",\n" is the worst) gives at most 4 b, and the last line
    // without its end 4 b + 4.
    FOut.Reserve(4 * size + 8);
    FSkipAt = std::string::npos;
    FFieldStart = FCopyFrom = 0;
    std::size_t i = from;
    if (FSkipLF) {
      if (i >= size) {
        if (last) FSkipLF = false;
        return size;
      }
      if (buffer[i] == '\n') FFieldStart = FCopyFrom = ++i;
      FSkipLF = false;
    }
#if defined(__SSE2__)
    const __m128i q = _mm_set1_epi8(FQuote), d = _mm_set1_epi8(FDelimiter);
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), nul = _mm_setzero_si128();
    while (i + 64 <= size) {
      std::uint64_t quotes = 0, splits = 0;
      for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + i + 16 * k));
        const __m128i split = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, d), _mm_cmpeq_epi8(v, nul)),
                                           _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
        quotes |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, q))))
                  << (16 * k);
        splits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(split))) << (16 * k);
      }
      std::uint64_t inside = quotes;  // parity of the quotes up to each byte
      inside ^= inside << 1;
      inside ^= inside << 2;
      inside ^= inside << 4;
      inside ^= inside << 8;
      inside ^= inside << 16;
      inside ^= inside << 32;
      const bool odd = (inside >> 63) != 0;
      if (FInside) inside = ~inside;
      const std::uint64_t stray = ~inside & ~quotes & ~splits;  // plain bytes outside quotes
      std::uint64_t todo = splits & ~inside;
      std::uint64_t open = ~0ULL;  // bits that belong to the current field
      while (todo) {
        const int bit = __builtin_ctzll(todo);
        const std::uint64_t before = open & ((1ULL << bit) - 1);
        FFieldQuotes += CountBits(quotes & before);
        FFieldStray = FFieldStray || (stray & before) != 0;
        if (!Structural(i + static_cast<std::size_t>(bit))) return size;
        open = bit == 63 ? 0 : ~0ULL << (bit + 1);
        todo &= todo - 1;
      }
      FFieldQuotes += CountBits(quotes & open);
      FFieldStray = FFieldStray || (stray & open) != 0;
      if (odd) FInside = !FInside;
      i += 64;
    }
#endif
    for (; i < size; ++i) {
      const char c = buffer[i];
      if (c == FQuote) {
        FInside = !FInside;
        ++FFieldQuotes;
      } else if (!FInside) {
        if (c == FDelimiter || c == '\r' || c == '\n' || c == '\0') {
          if (!Structural(i)) return size;
        } else {
          FFieldStray = true;
        }
      }
    }
    if (last) {
      if (FFieldIndex > 0 || FFieldStart < size)
        EndLine(size, '\0');
      else
        Flush(size);
      return size;
    }
    // A CR as the last byte: its LF, if any, comes with the next piece.
    if (FSkipAt == size) FSkipLF = true;
    Flush(FFieldStart);
    return FFieldStart;
  }
  bool Ended() const { return FEnded; }
  bool ReachedEnd() const { return !FEnded; }

 private:
  static std::size_t CountBits(std::uint64_t bits) {
    std::size_t n = 0;
    for (; bits; bits &= bits - 1) ++n;
    return n;
  }

  // Writes the pending input bytes up to at.
  void Flush(std::size_t at) {
    FOut.Append(FIn + FCopyFrom, at - FCopyFrom);
    FCopyFrom = at;
  }

  void StartField(std::size_t at) {
    FFieldStart = at;
    FFieldQuotes = 0;
    FFieldStray = false;
  }

  // A delimiter or line break outside quotes at p; false when the data ends.
  bool Structural(std::size_t p) {
    const char c = FIn[p];
    if (c == FDelimiter) {
      EndField(p);
      ++FFieldIndex;
      StartField(p + 1);
      return true;
    }
    if (c == '\n' && p == FSkipAt) {  // the LF of a CR LF
      if (FCopyFrom == p) FCopyFrom = p + 1;
      StartField(p + 1);
      return true;
    }
    if (c == '\0' && FFieldIndex == 0 && p == FFieldStart) {  // the data ends where a line would start
      Flush(p);
      FEnded = true;
      return false;
    }
    EndLine(p, c);
    if (c == '\0') {
      FEnded = true;
      return false;
    }
    if (c == '\r') FSkipAt = p + 1;
    FFieldIndex = 0;
    StartField(p + 1);
    return true;
  }

  // Ends the line at p, where c ends it ('\0' also for the end of the data).
  void EndLine(std::size_t p, char c) {
    if (FFieldIndex > 0 || p > FFieldStart) EndField(p);
    if (c == '\r' && p + 1 < FSize && FIn[p + 1] == '\n') return;  // a CR LF stays as it is
    Flush(p);
    FOut.LineEnd();
    FCopyFrom = p + 1;
  }

  // Writes the field from FFieldStart to p in the quoted form.
  void EndField(std::size_t p) {
    const std::size_t s = FFieldStart;
    const bool lead = p > s && FIn[s] == FQuote;
    const bool trail = p > s + lead && FIn[p - 1] == FQuote;
    const std::size_t inner = FFieldQuotes - lead - trail;
    const bool first = FFieldIndex == 0;
    if (lead && trail && !FFieldStray && FFieldQuotes % 2 == 0) {
      // Every plain byte is inside quotes and the field ends outside them,
      // so the inner quotes come in pairs: undoubled and doubled again they
      // give the same bytes. (Only the end of the data ends a field inside.)
      if (!first) return;
      if (inner == 0) {
        const std::size_t cut = std::min(FCut(std::string_view(FIn + s + 1, p - s - 2)), p - s - 2);
        if (cut > 0) {
          Flush(s + 1);
          FCopyFrom = s + 1 + cut;
        }
        return;
      }
    } else if (inner == 0 && !first) {
      FOut.AppendField(FIn + FCopyFrom, s - FCopyFrom, !lead, FIn + s, p - s, !trail);
      FCopyFrom = p;
      return;
    } else if (inner == 0) {
      const std::size_t from = s + lead, to = p - trail;
      if (!lead) {
        Flush(s);
        FOut.Put(FQuote);
      }
      if (first) {
        const std::size_t cut = std::min(FCut(std::string_view(FIn + from, to - from)), to - from);
        if (cut > 0) {
          Flush(from);
          FCopyFrom = from + cut;
        }
      }
      if (!trail) {
        Flush(p);
        FOut.Put(FQuote);
      }
      return;
    }
    // The value, as the reader delivers it: stripped and undoubled.
    Flush(s);
    FValue.clear();
    int run = 0;
    for (std::size_t j = s + lead; j < p - trail; ++j) {
      if (FIn[j] == FQuote) {
        if (++run == 2) {
          run = 0;
          continue;
        }
      } else {
        run = 0;
      }
      FValue += FIn[j];
    }
    std::string_view value(FValue);
    if (first) value.remove_prefix(std::min(FCut(value), value.size()));
    FOut.PutQuoted(value);
    FCopyFrom = p;
  }

  const char FQuote, FDelimiter;
  const TCsvLoader::TFirstFieldCut& FCut;
  QuotedOutput& FOut;
  const char* FIn = nullptr;
  std::size_t FSize = 0;
  std::size_t FSkipAt = std::string::npos;  // an LF here belongs to the CR before it
  std::size_t FFieldStart = 0;              // where the current field starts
  std::size_t FCopyFrom = 0;                // input bytes from here on are not yet written
  std::size_t FFieldIndex = 0;              // of the current field in its record
  std::size_t FFieldQuotes = 0;             // quote bytes in the current field so far
  bool FFieldStray = false;                 // a plain byte outside quotes in the current field
  bool FInside = false;
  bool FSkipLF = false;
  bool FEnded = false;
  std::string FValue;
};

}  // namespace

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

bool TCsvLoader::OpenFile(const std::string& fileName, platform::File& file) {
  if (!platform::FileExists(fileName))
    throw Exception("CSVFileNameに指定したファイルが存在しません.CSVFilename=" + fileName);
  if (int err = file.OpenRead(fileName, true)) throw OpenError(fileName, err);
  return true;
}

EFOpenError TCsvLoader::OpenError(const std::string& fileName, int err) {
  return EFOpenError(Format("ファイル \"%s\". %s は開けません", {fileName, platform::ErrorText(err)}));
}

bool TCsvLoader::StreamRecords(const std::string& fileName, platform::File& file, std::string& buffer, std::size_t got,
                               bool firstFieldOnly, const TFieldsEvent& onRecord) {
  Configure();
  bool skipping = FSkipFirstLine;
  bool stopped = false;
  std::size_t scanFrom = 0;  // bytes before it belong to the unfinished line
  std::size_t filled = got;
  bool last = false;
  auto stream = [&](auto& splitter, auto&& sink) {
    for (;;) {
      const std::size_t keep = splitter.Scan(buffer.data(), scanFrom, filled, last, sink);
      if (last || splitter.Ended()) break;
      const std::size_t carried = filled - keep;
      std::memmove(buffer.data(), buffer.data() + keep, carried);
      if (buffer.size() < carried + FBlockSize) buffer.resize(carried + FBlockSize);
      if (int err = file.Read(buffer.data() + carried, FBlockSize, got)) throw OpenError(fileName, err);
      filled = carried + got;
      scanFrom = carried;
      last = got == 0;
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
  platform::File file;
  OpenFile(fileName, file);
  std::string buffer(FBlockSize, '\0');
  std::size_t got = 0;
  if (int err = file.Read(buffer.data(), FBlockSize, got)) throw OpenError(fileName, err);
  if (got == 0) return false;

  if (OnBegin) {
    // The callback receives the list of all lines, so the whole text is read.
    buffer.resize(got);
    std::string block(FBlockSize, '\0');
    for (;;) {
      if (int err = file.Read(block.data(), FBlockSize, got)) throw OpenError(fileName, err);
      if (got == 0) break;
      buffer.append(block, 0, got);
    }
    ParseText(buffer);
    return true;
  }
  StreamRecords(fileName, file, buffer, got, false, [&](const std::string_view* fields, std::size_t count) {
    FCsv.items.Assign(fields, count);
    FOnRecord(FCsv.items);
    return true;
  });
  if (OnEnd) OnEnd();
  return true;
}

bool TCsvLoader::FindRecord(const std::string& fileName, const std::function<bool(std::string_view)>& match) {
  platform::File file;
  OpenFile(fileName, file);
  std::string buffer(FBlockSize, '\0');
  std::size_t got = 0;
  if (int err = file.Read(buffer.data(), FBlockSize, got)) throw OpenError(fileName, err);
  if (got == 0) return false;
  return StreamRecords(fileName, file, buffer, got, true, [&](const std::string_view* fields, std::size_t count) {
    return !(count > 0 && match(fields[0]));
  });
}

bool TCsvLoader::RewriteQuoted(const std::string& fileName, const TFirstFieldCut& cut, const TWriteEvent& write) {
  platform::File file;
  OpenFile(fileName, file);
  std::string buffer(FBlockSize, '\0');
  std::size_t got = 0;
  if (int err = file.Read(buffer.data(), FBlockSize, got)) throw OpenError(fileName, err);
  if (got == 0) return false;
  const char quote = static_cast<char>(FQuoteChar);
  QuotedOutput out(quote, write);
  if (!FSkipFirstLine && RecordScanner::Applies(FQuoteChar, FDelimiter)) {
    QuotedRewriter rewriter(quote, static_cast<char>(FDelimiter), cut, out);
    const std::size_t slack = QuotedOutput::kSlack;  // runs are copied from here in pieces
    buffer.resize(FBlockSize + slack);
    std::size_t scanFrom = 0, filled = got;
    for (bool last = false;;) {
      const std::size_t keep = rewriter.Scan(buffer.data(), scanFrom, filled, last);
      if (last || rewriter.Ended()) break;
      const std::size_t carried = filled - keep;
      std::memmove(buffer.data(), buffer.data() + keep, carried);
      if (buffer.size() < carried + FBlockSize + slack) buffer.resize(carried + FBlockSize + slack);
      if (int err = file.Read(buffer.data() + carried, FBlockSize, got)) throw OpenError(fileName, err);
      filled = carried + got;
      scanFrom = carried;
      last = got == 0;
    }
    FReachedEnd = rewriter.ReachedEnd();
  } else {
    StreamRecords(fileName, file, buffer, got, false, [&](const std::string_view* fields, std::size_t count) {
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
