// The processor paths of the check and the rewrite: the same loops, compiled
// once per lane classifier, and the choice among them at run time. The wider
// paths are compiled with the instructions they need allowed only for their
// own functions, so the program still runs on processors without them.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "csv/CsvScan.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define KV_CSV_WIDE_LANES 1
#endif

// The wider paths' functions may use the instructions named.
#if defined(__clang__)
#define KV_CSV_TARGET_BEGIN(features) \
  _Pragma(KV_CSV_STRING(clang attribute push(__attribute__((target(features))), apply_to = function)))
#define KV_CSV_TARGET_END _Pragma("clang attribute pop")
#else
#define KV_CSV_TARGET_BEGIN(features) _Pragma("GCC push_options") _Pragma(KV_CSV_STRING(GCC target(features)))
#define KV_CSV_TARGET_END _Pragma("GCC pop_options")
#endif
#define KV_CSV_STRING(text) #text

namespace csv_scan {

namespace bytes {
using Lanes = BytesLanes;
#include "csv/CsvScanLoops.h"
}  // namespace bytes

#if defined(__SSE2__)
namespace sse2 {
using Lanes = Sse2Lanes;
#include "csv/CsvScanLoops.h"
}  // namespace sse2
#endif

#if defined(KV_CSV_WIDE_LANES)
// Bytes 0, LF and CR select themselves from this table by their low four
// bits; any other byte selects a byte it is not (0x80 for bytes below 0x80,
// and bytes from 0x80 on select 0): one shuffle and one compare find the
// line breaks. Four copies, one for each 16-byte part of a vector.
struct BreakTable {
  char bytes[64];
};
constexpr BreakTable MakeBreakTable() {
  BreakTable table{};
  for (int k = 0; k < 64; ++k) {
    const int low = k % 16;
    table.bytes[k] = static_cast<char>(low == 0 || low == '\n' || low == '\r' ? low : 0x80);
  }
  return table;
}
constexpr BreakTable kBreakTable = MakeBreakTable();

// Whether each byte of a lane lies inside quotes, from the lane's quotes: a
// carry-less multiply by all ones, for both wide paths.
[[gnu::always_inline, gnu::target("pclmul")]] inline std::uint64_t ClmulParity(std::uint64_t quotes) {
  const __m128i product = _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(quotes)),
                                               _mm_set1_epi8(static_cast<char>(0xFF)), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

namespace avx2 {
KV_CSV_TARGET_BEGIN("avx2,bmi,bmi2,pclmul,popcnt")
// Two 32-byte halves; the quote state by a carry-less multiply.
class Lanes {
 public:
  Lanes(char quote, char delimiter)
      : FQuote(_mm256_set1_epi8(quote)),
        FDelimiter(_mm256_set1_epi8(delimiter)),
        FBreaks(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(kBreakTable.bytes))) {}

  LaneMasks operator()(const char* at) const {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    LaneMasks m;
    m.quotes = Join(_mm256_cmpeq_epi8(lo, FQuote), _mm256_cmpeq_epi8(hi, FQuote));
    m.breaks = Join(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(FBreaks, lo), lo),
                    _mm256_cmpeq_epi8(_mm256_shuffle_epi8(FBreaks, hi), hi));
    m.delimiters = Join(_mm256_cmpeq_epi8(lo, FDelimiter), _mm256_cmpeq_epi8(hi, FDelimiter));
    m.nuls = Join(_mm256_cmpeq_epi8(lo, _mm256_setzero_si256()), _mm256_cmpeq_epi8(hi, _mm256_setzero_si256()));
    return m;
  }

  static std::uint64_t Parity(std::uint64_t quotes) { return ClmulParity(quotes); }

 private:
  static std::uint64_t Join(__m256i lo, __m256i hi) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32;
  }

  const __m256i FQuote, FDelimiter, FBreaks;
};
#include "csv/CsvScanLoops.h"
KV_CSV_TARGET_END
}  // namespace avx2

namespace avx512 {
KV_CSV_TARGET_BEGIN("avx512f,avx512bw,bmi,bmi2,pclmul,popcnt")
// One 64-byte vector, compared straight into masks.
class Lanes {
 public:
  Lanes(char quote, char delimiter)
      : FQuote(_mm512_set1_epi8(quote)),
        FDelimiter(_mm512_set1_epi8(delimiter)),
        FBreaks(_mm512_loadu_si512(kBreakTable.bytes)) {}

  LaneMasks operator()(const char* at) const {
    const __m512i v = _mm512_loadu_si512(at);
    LaneMasks m;
    m.quotes = _mm512_cmpeq_epi8_mask(v, FQuote);
    m.breaks = _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(FBreaks, v), v);
    m.delimiters = _mm512_cmpeq_epi8_mask(v, FDelimiter);
    m.nuls = _mm512_cmpeq_epi8_mask(v, _mm512_setzero_si512());
    return m;
  }

  static std::uint64_t Parity(std::uint64_t quotes) { return ClmulParity(quotes); }

 private:
  const __m512i FQuote, FDelimiter, FBreaks;
};
#include "csv/CsvScanLoops.h"
KV_CSV_TARGET_END
}  // namespace avx512
#endif

namespace {

const ScanPath kBytes{bytes::ScanCheck, bytes::ScanRewrite, bytes::FindNeeded};
#if defined(__SSE2__)
const ScanPath kSse2{sse2::ScanCheck, sse2::ScanRewrite, sse2::FindNeeded};
#endif
#if defined(KV_CSV_WIDE_LANES)
const ScanPath kAvx2{avx2::ScanCheck, avx2::ScanRewrite, avx2::FindNeeded};
const ScanPath kAvx512{avx512::ScanCheck, avx512::ScanRewrite, avx512::FindNeeded};
#endif

}  // namespace

const ScanPath& PathFor(TCsvLanes lanes) {
  switch (TCsvLoader::CanRun(lanes) ? lanes : TCsvLoader::BestLanes()) {
#if defined(KV_CSV_WIDE_LANES)
    case TCsvLanes::Avx512:
      return kAvx512;
    case TCsvLanes::Avx2:
      return kAvx2;
#endif
#if defined(__SSE2__)
    case TCsvLanes::Sse2:
      return kSse2;
#endif
    default:
      return kBytes;
  }
}

}  // namespace csv_scan

bool TCsvLoader::CanRun(TCsvLanes lanes) {
  switch (lanes) {
    case TCsvLanes::Bytes:
      return true;
    case TCsvLanes::Sse2:
#if defined(__SSE2__)
      return true;
#else
      return false;
#endif
    case TCsvLanes::Avx2:
    case TCsvLanes::Avx512:
#if defined(KV_CSV_WIDE_LANES)
      // The checks include the system's saving of the wide registers.
      __builtin_cpu_init();
      if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi") || !__builtin_cpu_supports("bmi2") ||
          !__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("popcnt"))
        return false;
      return lanes == TCsvLanes::Avx2 || (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"));
#else
      return false;
#endif
  }
  return false;
}

TCsvLanes TCsvLoader::BestLanes() {
  static const TCsvLanes best = [] {
    for (TCsvLanes lanes : {TCsvLanes::Avx512, TCsvLanes::Avx2, TCsvLanes::Sse2})
      if (CanRun(lanes)) return lanes;
    return TCsvLanes::Bytes;
  }();
  return best;
}
