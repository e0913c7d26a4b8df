// The scans behind the reader's file paths, shared by RsCsvUtil.cpp and the
// processor paths of CsvScanPaths.cpp: the check of first fields and the
// rewrite into the quoted form. Their hot loops live in CsvScanLoops.h, once
// per processor path; the state and the rare cases live here, compiled for
// every processor. The loops' helpers here are always inlined: the compiler
// would leave them calls, since the loops are compiled for other processors.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "csv/RsCsvUtil.h"

namespace csv_scan {

// What a scan may leave for the next block: a longer unfinished field or
// line is streamed (the check and the rewrite) or collected (the records).
constexpr std::size_t kCarryRoom = 64 << 10;
// Bytes readable past the end of each block and each output run.
constexpr std::size_t kSlack = 64;
// The input the rewrite writes before it makes room again.
constexpr std::size_t kOutputPiece = 16 << 10;

using TMatch = std::function<bool(std::string_view firstField)>;

// Bit k for byte k of a 64-byte lane: quote bytes, line breaks (CR, LF and
// NUL), delimiters and NULs.
struct LaneMasks {
  std::uint64_t quotes = 0, breaks = 0, delimiters = 0, nuls = 0;
};

// The reference classification, one byte at a time.
inline LaneMasks ClassifyBytes(const char* at, std::size_t n, char quote, char delimiter) {
  LaneMasks m;
  for (std::size_t k = 0; k < n; ++k) {
    const char c = at[k];
    m.quotes |= static_cast<std::uint64_t>(c == quote) << k;
    m.breaks |= static_cast<std::uint64_t>(c == '\r' || c == '\n' || c == '\0') << k;
    m.delimiters |= static_cast<std::uint64_t>(c == delimiter) << k;
    m.nuls |= static_cast<std::uint64_t>(c == '\0') << k;
  }
  return m;
}

// Bit k set when the quotes up to and including byte k are odd in number:
// the bytes inside quotes, opening quotes included, closing ones not.
inline std::uint64_t QuoteParityByShifts(std::uint64_t quotes) {
  quotes ^= quotes << 1;
  quotes ^= quotes << 2;
  quotes ^= quotes << 4;
  quotes ^= quotes << 8;
  quotes ^= quotes << 16;
  quotes ^= quotes << 32;
  return quotes;
}

// The lane classifier of every processor: byte by byte, the quote state by
// shifts.
class BytesLanes {
 public:
  BytesLanes(char quote, char delimiter) : FQuote(quote), FDelimiter(delimiter) {}
  LaneMasks operator()(const char* at) const { return ClassifyBytes(at, 64, FQuote, FDelimiter); }
  static std::uint64_t Parity(std::uint64_t quotes) { return QuoteParityByShifts(quotes); }

 private:
  const char FQuote, FDelimiter;
};

#if defined(__SSE2__)
// Four 16-byte pieces; the bytes to compare with are spread once per scan,
// not once per lane.
class Sse2Lanes {
 public:
  Sse2Lanes(char quote, char delimiter)
      : FQuote(_mm_set1_epi8(quote)),
        FDelimiter(_mm_set1_epi8(delimiter)),
        FCR(_mm_set1_epi8('\r')),
        FLF(_mm_set1_epi8('\n')) {}

  LaneMasks operator()(const char* at) const {
    LaneMasks m;
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * k));
      const __m128i nuls = _mm_cmpeq_epi8(v, _mm_setzero_si128());
      const __m128i breaks = _mm_or_si128(nuls, _mm_or_si128(_mm_cmpeq_epi8(v, FCR), _mm_cmpeq_epi8(v, FLF)));
      m.quotes |= Bits(_mm_cmpeq_epi8(v, FQuote)) << (16 * k);
      m.breaks |= Bits(breaks) << (16 * k);
      m.delimiters |= Bits(_mm_cmpeq_epi8(v, FDelimiter)) << (16 * k);
      m.nuls |= Bits(nuls) << (16 * k);
    }
    return m;
  }
  static std::uint64_t Parity(std::uint64_t quotes) { return QuoteParityByShifts(quotes); }

 private:
  static std::uint64_t Bits(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

  const __m128i FQuote, FDelimiter, FCR, FLF;
};
#endif

// Appends a field's bytes with every second quote of a run dropped.
void AppendUndoubled(std::string& out, const char* from, const char* to, char quote);

// A record's first field from its raw bytes: one leading and one trailing
// quote stripped, quotes undoubled. scratch holds the value when it cannot
// be a view of the raw bytes.
std::string_view FirstFieldValue(const char* raw, std::size_t size, char quote, std::string& scratch);

// The check: every record's first field, in order, to a match. Nothing is
// carried between blocks but a first field that runs on into the next,
// whose first bytes wait in a buffer of bounded size; the rest of a line
// needs only the quote state.
class CheckScan {
 public:
  enum Phase : unsigned char { kLineStart, kFirstField, kRest };

  CheckScan(char quote, char delimiter, bool skipFirstLine, bool stopAtFirst, const TMatch& match)
      : FQuote(quote), FDelimiter(delimiter), FSkip(skipFirstLine), FStopAtFirst(stopAtFirst), FMatch(match) {}

  bool Ended() const { return FEnded || FStopped; }
  bool ReachedEnd() const { return !FEnded; }
  std::uint64_t Matches() const { return FMatches; }

  // The state the loops work on.
  const char FQuote, FDelimiter;
  bool FSkip;  // the next line is the header to skip
  const bool FStopAtFirst;
  std::uint64_t FInside = 0;  // all ones while the scan stands inside quotes
  Phase FPhase = kLineStart;
  bool FEnded = false;  // a NUL byte outside quotes ended the data
  bool FStopped = false;
  bool FInHead = false;  // the first field began in an earlier block

  // A first field [from, to) of the block, complete, whose raw bytes may
  // hold inner quotes or began in an earlier block; false stops the scan.
  bool Deliver(const char* from, const char* to);
  // The block ends within a first field; its bytes from from on wait.
  void KeepHead(const char* from, const char* to);
  // A first field's value; false stops the scan.
  [[gnu::always_inline]] bool Offer(std::string_view value) {
    if (!FMatch(value.substr(0, TCsvLoader::kFirstFieldShown))) return true;
    ++FMatches;
    if (!FStopAtFirst) return true;
    FStopped = true;
    return false;
  }

 private:
  const TMatch& FMatch;
  std::uint64_t FMatches = 0;
  std::string FHead;  // the first bytes of a first field that spans blocks
  std::string FScratch;
};

// Collects the output of a rewrite and hands it on in large pieces. Room is
// reserved ahead, so that the bytes of a whole block go in without a check
// each; the rewrite writes through a cursor of its own and may copy up to 63
// bytes past the end of a run, into the slack both buffers keep. Two buffers
// take turns: the one handed on stays untouched while the other fills, so
// that it can be written in the background.
class QuotedOutput {
 public:
  // The bytes go to write in pieces of about minimum bytes, 1 MiB at most.
  QuotedOutput(char quote, const TCsvLoader::TWriteEvent& write, TCsvBuffer (&buffers)[2], std::size_t minimum)
      : FQuote(quote), FWrite(write), FBuffers(buffers), FMinimum(std::min(minimum, kMinimum)) {
    Reserve(FMinimum);
  }

  // Room for size more bytes.
  void Reserve(std::size_t size) {
    if (FUsed + size + kSlack <= Buffer().size()) return;
    Drain();
    Buffer().Grow(std::max(size, FMinimum) + kSlack);
  }
  // Where the next byte goes, and the end of the bytes written from there:
  // the write position then lives in a register, not in this object.
  char* Cursor() { return Buffer().data() + FUsed; }
  void Commit(const char* end) { FUsed = static_cast<std::size_t>(end - Buffer().data()); }
  void Put(char c) { Buffer().data()[FUsed++] = c; }
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
  // Bytes of any number, in pieces that fit.
  void Append(const char* data, std::size_t size);
  void AppendQuotes(std::uint64_t count);
  void Drain() {
    if (FUsed == 0) return;
    FWrite(Buffer().data(), FUsed);
    FCurrent ^= 1;
    FUsed = 0;
  }

 private:
  static constexpr std::size_t kMinimum = 1 << 20;
  TCsvBuffer& Buffer() { return FBuffers[FCurrent]; }

  const char FQuote;
  const TCsvLoader::TWriteEvent& FWrite;
  TCsvBuffer (&FBuffers)[2];
  const std::size_t FMinimum;
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
// as the reader delivers it. A field longer than a block's room is written as
// it is read, through its value, so that it is never held whole.
class QuotedRewriter {
 public:
  QuotedRewriter(char quote, char delimiter, const TCsvLoader::TFirstFieldCut& cut, QuotedOutput& out)
      : FQuote(quote), FDelimiter(delimiter), FCut(cut), FOut(out) {}

  bool Ended() const { return FEnded; }
  bool ReachedEnd() const { return !FEnded; }

  // a + b + carry with the carry out in carry.
  [[gnu::always_inline]] static std::uint64_t AddWithCarry(std::uint64_t a, std::uint64_t b, std::uint64_t& carry) {
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

  // A field of up to 64 bytes, nearly every one, is copied as 64 bytes,
  // without a branch on its length; the bytes past it land in the slack of
  // both buffers.
  [[gnu::always_inline]] static char* CopyBytes(char* to, const char* from, std::size_t size) {
    if (size <= 64) {
      std::memcpy(to, from, 64);
    } else {
      std::memcpy(to, from, size);
    }
    return to + size;
  }

  // How many bytes to cut off a first field's value: the cut sees at most
  // its first kFirstFieldShown bytes.
  [[gnu::always_inline]] std::size_t CutOf(std::string_view value) const {
    return std::min(FCut(value.substr(0, TCsvLoader::kFirstFieldShown)), value.size());
  }

  // Writes the field from start to p of in, where a split byte outside
  // quotes ends it, so that it holds an even number of quotes. The input and
  // the quote come from the caller's registers: the bytes written might
  // overwrite this object, as far as the compiler knows.
  template <bool first>
  [[gnu::always_inline]] char* EndField(char* out, const char* in, char quote, std::size_t start, std::size_t p,
                                        bool inner, bool stray) {
    const std::size_t size = p - start;
    const bool lead = in[start] == quote;  // an empty field shows the split byte
    const bool trail = size > 1 && in[p - 1] == quote;
    if (inner && !(lead && trail && !stray && !first)) return RebuiltField(out, start, p, first);
    std::size_t from = start + lead;
    const std::size_t to = p - trail;
    if constexpr (first) from += CutOf(std::string_view(in + from, to - from));
    *out = quote;
    out = CopyBytes(out + 1, in + from, to - from);
    *out++ = quote;
    return out;
  }

  // Writes the field from start to p from its value: stripped of a leading
  // and a trailing quote, undoubled, cut if it is the first.
  char* RebuiltField(char* out, std::size_t start, std::size_t p, bool first);

  // A field too long to carry: [start, size) of the buffer is its start.
  // Each returns the cursor with room again for what the scan had reserved:
  // four bytes for each of the rest bytes it goes on with, and eight.
  char* StartLongField(char* out, std::size_t start, std::size_t size, bool first);
  char* FeedLongField(char* out, std::size_t from, std::size_t to, std::size_t rest);
  char* EndLongField(char* out, std::size_t from, std::size_t to, std::size_t rest);

  const char FQuote, FDelimiter;
  const TCsvLoader::TFirstFieldCut& FCut;
  QuotedOutput& FOut;
  const char* FIn = nullptr;
  // The state between two buffers.
  std::size_t FFieldIndex = 0;    // of the current field in its record
  std::uint64_t FCarryInner = 0;  // the current field has shown an inner quote
  std::uint64_t FCarryStray = 0;  // and a plain byte outside quotes
  std::uint64_t FInside = 0;      // all ones while the scan stands inside quotes
  bool FAfterCR = false;          // the last byte scanned is a CR that ends a line
  bool FEnded = false;
  bool FLong = false;  // the current field is being written as it is read

 private:
  void LongBytes(const char* from, const char* to);
  void LongValue(const char* from, std::size_t size);
  void LongValueQuotes(std::uint64_t count);
  void DecideCut();

  std::string FValue;
  // A long field: whether its leading byte is behind, the run of quotes
  // last read (its last byte may be the trailing quote, to strip), the
  // first bytes of a first field's value until the cut is known, and how
  // many value bytes the cut still drops.
  bool FLongFirst = false, FLongStarted = false, FLongCutKnown = false;
  std::uint64_t FLongQuotes = 0;
  std::string FLongHead;
  std::uint64_t FLongDrop = 0;
};

// The loops of one processor path: each scans the bytes [from, size) of a
// block that stays readable for kSlack bytes past size and returns the start
// of what it carries to the next block.
struct ScanPath {
  std::size_t (*check)(CheckScan& scan, const char* in, std::size_t from, std::size_t size, bool last);
  std::size_t (*rewrite)(QuotedRewriter& rewriter, const char* in, std::size_t from, std::size_t size, bool last);
  std::size_t (*findNeeded)(const char* in, std::size_t size, char quote, char needed, std::uint64_t& quotes);
};

const ScanPath& PathFor(TCsvLanes lanes);

}  // namespace csv_scan
