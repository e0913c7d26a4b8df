// The hot loops of the check and the rewrite for one processor path.
// CsvScanPaths.cpp includes this file once per path, each time in a namespace
// of its own, with Lanes naming the path's classifier and, for the wider
// paths, the processor's instructions allowed for the functions defined here.
// So it has no include guard.
//
// Both loops classify 64-byte lanes into masks and visit only the bytes
// that matter: between records the quote state is always "outside" (a line
// ends only outside quotes), so whether a byte is inside quotes is the
// parity of the quotes before it.

// The check: each record's first field to the scan's match. A record starts
// after each line break outside quotes; its first field ends at the next
// split byte, which its lane or, for a field that crosses into it, the next
// lane shows. For a piece of the block at a time, a loop of its own, with
// no call and few branches, makes the lanes' masks and the list of the
// places where records start; then each record is visited.

// A piece of the block, read into masks.
struct CheckPiece {
  static constexpr std::size_t kLanes = 64;  // 4 KiB
  // Per lane, quotes and split bytes outside quotes, and one more lane of
  // none; where records start, and room for the places written ahead.
  std::uint64_t quotes[kLanes + 1], splits[kLanes + 1];
  std::uint32_t starts[64 * kLanes + 2];
  std::size_t lanes = 0, count = 0;
  bool ends = false;  // a NUL outside quotes ended the data in the last lane
};

// One lane of a piece: its masks, and the places where its lines start
// added at to; true when a NUL outside quotes ends the data in it. A lane
// that is not full has its bytes in valid.
template <bool full>
[[gnu::always_inline]] inline bool ReadLane(const Lanes& classify, const char* at, std::uint64_t valid,
                                            std::uint64_t& inside, std::uint64_t& startsLine, std::uint64_t& quotes,
                                            std::uint64_t& splits, std::uint32_t*& to, std::uint32_t base) {
  if constexpr (full) valid = ~0ULL;
  const LaneMasks m = classify(at);
  const std::uint64_t q = m.quotes & valid;
  const std::uint64_t inQuotes = Lanes::Parity(q) ^ inside;  // past the lane's end as at its last byte
  inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(inQuotes) >> 63);
  const std::uint64_t outside = ~inQuotes & valid;
  const std::uint64_t lineBreaks = m.breaks & outside;
  std::uint64_t split = lineBreaks | (m.delimiters & outside);
  // A line starts after each line break; one that starts with a line break
  // is empty, a record without fields.
  std::uint64_t lines = (lineBreaks << 1 | startsLine) & valid & ~lineBreaks;
  startsLine = full ? lineBreaks >> 63 : (lineBreaks & ~(valid >> 1)) != 0;  // the lane's last byte ends a line
  bool ends = false;
  // (Tested first on its own, so that the usual lane waits for no quote state.)
  if ((m.nuls & valid) != 0 && (m.nuls & outside) != 0) [[unlikely]] {
    // A NUL outside quotes ends its line and the data: nothing after it counts.
    const std::uint64_t nuls = m.nuls & outside;
    const std::uint64_t upTo = ((nuls & (0 - nuls)) << 1) - 1;
    split &= upTo;
    lines &= upTo;
    ends = true;
  }
  quotes = q;
  splits = split;
  // The places where lines start, two written whether there are so many or
  // not, so that the usual lane takes no branch here.
  std::uint32_t* const first = to;
  to += __builtin_popcountll(lines);
  first[0] = base + static_cast<std::uint32_t>(__builtin_ctzll(lines | 1ULL << 63));
  lines &= lines - 1;
  first[1] = base + static_cast<std::uint32_t>(__builtin_ctzll(lines | 1ULL << 63));
  lines &= lines - 1;
  for (std::uint32_t* more = first + 2; lines != 0; ++more, lines &= lines - 1)
    *more = base + static_cast<std::uint32_t>(__builtin_ctzll(lines));
  return ends;
}

[[gnu::noinline]] void ReadPiece(const Lanes& classify, const char* in, std::size_t piece, std::size_t size,
                                 CheckScan& s, std::uint64_t& lineStart, CheckPiece& p) {
  std::uint64_t inside = s.FInside, startsLine = lineStart;
  const std::size_t end = std::min(size, piece + 64 * CheckPiece::kLanes);
  const std::size_t full = (end - piece) / 64;
  std::uint32_t* to = p.starts;
  std::size_t lane = 0;
  bool ends = false;
  for (; lane < full && !ends; ++lane)
    ends = ReadLane<true>(classify, in + piece + 64 * lane, ~0ULL, inside, startsLine, p.quotes[lane], p.splits[lane],
                          to, static_cast<std::uint32_t>(64 * lane));
  if (!ends && piece + 64 * lane < end) {  // the block's last bytes
    ends = ReadLane<false>(classify, in + piece + 64 * lane, (1ULL << (end - piece - 64 * lane)) - 1, inside,
                           startsLine, p.quotes[lane], p.splits[lane], to, static_cast<std::uint32_t>(64 * lane));
    ++lane;
  }
  p.quotes[lane] = p.splits[lane] = 0;
  p.lanes = lane;
  p.count = static_cast<std::size_t>(to - p.starts);
  p.ends = ends;
  // The header is the line at the data's start: not a record.
  if (s.FSkip && p.lanes > 0) {
    s.FSkip = false;
    if (p.count > 0 && p.starts[0] == 0) std::memmove(p.starts, p.starts + 1, --p.count * sizeof p.starts[0]);
  }
  s.FInside = inside;
  lineStart = startsLine;
}

// A field that runs on from lane on of the piece: where the first split
// byte ends it, or false when it runs on past the piece.
inline bool FirstSplit(const CheckPiece& p, std::size_t lane, std::size_t& at) {
  for (; lane < p.lanes; ++lane)
    if (p.splits[lane] != 0) {
      at = 64 * lane + static_cast<std::size_t>(__builtin_ctzll(p.splits[lane]));
      return true;
    }
  return false;
}

// Nothing is carried: returns size.
[[gnu::noinline]] std::size_t ScanCheck(CheckScan& s, const char* in, std::size_t from, std::size_t size, bool last) {
  const Lanes classify(s.FQuote, s.FDelimiter);
  const char quote = s.FQuote;
  std::uint64_t lineStart = s.FPhase == CheckScan::kLineStart;  // the next byte starts a line
  bool open = s.FPhase == CheckScan::kFirstField;               // a first field runs on from before
  std::size_t fieldStart = from;                                // of the open first field
  CheckPiece p;
  for (std::size_t piece = from; piece < size; piece += 64 * CheckPiece::kLanes) {
    ReadPiece(classify, in, piece, size, s, lineStart, p);
    std::size_t e = 0;
    if (open && FirstSplit(p, 0, e)) {
      open = false;
      if (!s.Deliver(in + fieldStart, in + piece + e)) return size;
    }
    for (std::size_t j = 0; j < p.count; ++j) {
      const std::size_t at = p.starts[j], lane = at / 64, b = at % 64;
      const std::uint64_t here = p.splits[lane] >> b << b;
      if (here != 0) {
        e = 64 * lane + static_cast<std::size_t>(__builtin_ctzll(here));
      } else if (p.splits[lane + 1] != 0) {
        e = 64 * (lane + 1) + static_cast<std::size_t>(__builtin_ctzll(p.splits[lane + 1]));
      } else {  // a long field: its end is looked for lane by lane
        if (!FirstSplit(p, lane + 2, e)) {
          open = true;
          fieldStart = piece + at;
          break;
        }
        if (!s.Deliver(in + piece + at, in + piece + e)) return size;
        continue;
      }
      const char* const field = in + piece + at;
      const std::size_t length = e - at;
      // The quotes of the field's first 64 bytes; a longer field, or one
      // with quotes between its first and last byte, takes the full way.
      const std::uint64_t q = b == 0 ? p.quotes[lane] : p.quotes[lane] >> b | p.quotes[lane + 1] << (64 - b);
      if (length > 64 || (length > 2 && (q & ((1ULL << (length - 1)) - 2)) != 0)) {
        if (!s.Deliver(field, field + length)) return size;
      } else {
        // Nearly every first field: its value lies between its own quotes.
        const std::size_t lead = field[0] == quote;
        const std::size_t trail = length > lead && field[length - 1] == quote;
        if (!s.Offer(std::string_view(field + lead, length - lead - trail))) return size;
      }
    }
    if (p.ends) [[unlikely]] {
      s.FEnded = true;
      return size;
    }
  }
  if (open) {
    if (last) {  // the data ends the last line
      s.Deliver(in + fieldStart, in + size);
    } else {
      s.KeepHead(in + fieldStart, in + size);
    }
  }
  s.FPhase = open ? CheckScan::kFirstField : lineStart ? CheckScan::kLineStart : CheckScan::kRest;
  return size;
}

// The rewrite: only the unfinished field is carried (it starts at 0 of the
// next buffer), unless it is too long to carry; the fields before it are
// written.
[[gnu::noinline]] std::size_t ScanRewrite(QuotedRewriter& r, const char* buffer, std::size_t from, std::size_t size,
                                          bool last) {
  r.FIn = buffer;
  const char* const in = buffer;
  const char quote = r.FQuote, delimiter = r.FDelimiter;
  char* out = r.FOut.Cursor();
  std::size_t start = 0;  // of the current field
  bool afterCR = r.FAfterCR, longField = r.FLong;
  // While a long field is open its index waits aside, and the index in use
  // says "first": so the usual split byte needs no test for a long field.
  std::size_t longIndex = r.FFieldIndex, fieldIndex = longField ? 0 : r.FFieldIndex;
  std::uint64_t inside = r.FInside;
  // Whether the byte before the scanned ones splits: a field carried over
  // has bytes before them.
  std::uint64_t splitBefore = from == 0;
  // 1 when the current field has shown an inner quote, or a plain byte
  // outside quotes.
  std::uint64_t carryInner = r.FCarryInner, carryStray = r.FCarryStray;
  const Lanes classify(quote, delimiter);
  // The output has room for the fields that end before chunkEnd: a field of
  // n bytes gives at most 2 n + 2 and a line end two, so the bytes from the
  // current field's start to chunkEnd (",\n" is the worst) give at most four
  // times as many, and the last line without its end 4 more. Room is made a
  // piece at a time, so that the output stays in the processor's cache.
  std::size_t chunkEnd = from;
  for (std::size_t i = from; i < size;) {
    if (i >= chunkEnd) {
      chunkEnd = std::min(size, i + kOutputPiece);
      r.FOut.Commit(out);
      r.FOut.Reserve(4 * (chunkEnd - start) + 8);
      out = r.FOut.Cursor();
    }
    const std::size_t n = std::min<std::size_t>(64, size - i);
    const std::uint64_t valid = n == 64 ? ~0ULL : (1ULL << n) - 1;
    const LaneMasks m = classify(in + i);
    const std::uint64_t quotes = m.quotes & valid;
    const std::uint64_t inQuotes = Lanes::Parity(quotes) ^ inside;
    inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(inQuotes) >> 63);
    const std::uint64_t splits = (m.breaks | m.delimiters) & ~inQuotes & valid;
    // A quote next to a split byte is the first or the last byte of its
    // field. One at the end of the lane counts as inner: that only sends
    // a field the safe way.
    const std::uint64_t innerQuotes = quotes & ~(splits << 1 | splitBefore) & ~(splits >> 1);
    const std::uint64_t strays = ~(inQuotes | quotes | splits) & valid;
    // Adding a mask to the bytes that do not split carries each run that
    // holds one of its bits into the split byte that ends the run (or into
    // the next lane): the split bytes whose field holds such a byte.
    const std::uint64_t innerEnds = QuotedRewriter::AddWithCarry(~splits, innerQuotes, carryInner) & splits;
    const std::uint64_t strayEnds = QuotedRewriter::AddWithCarry(~splits, strays, carryStray) & splits;
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
      const char c = in[p];
      const bool inner = (innerEnds >> bit & 1) != 0, stray = (strayEnds >> bit & 1) != 0;
      // Most split bytes end a field after the first of its record.
      if (c == delimiter && fieldIndex != 0) [[likely]] {
        out = r.EndField<false>(out, in, quote, start, p, inner, stray);
        *out++ = delimiter;
        ++fieldIndex;
        start = p + 1;
        continue;
      }
      std::size_t next = p + 1;
      if (longField) [[unlikely]] {
        out = r.EndLongField(out, start, p, chunkEnd - p);
        longField = false;
        fieldIndex = longIndex;
      } else if (fieldIndex != 0) {
        out = r.EndField<false>(out, in, quote, start, p, inner, stray);
      } else if (c == delimiter || p != start) {
        out = r.EndField<true>(out, in, quote, start, p, inner, stray);
      } else if (c == '\0') {  // the data ends where a line would start
        return r.Stop(out);
      }  // else a line break at a line's start ends an empty line
      if (c == delimiter) {
        *out++ = delimiter;
        ++fieldIndex;
      } else {
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
        fieldIndex = 0;
        if (c == '\0') return r.Stop(out);
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
    const bool open = longField || fieldIndex > 0 || start < size;  // a record the data ends
    if (longField) {
      out = r.EndLongField(out, start, size, 0);
    } else if (open) {
      out = r.RebuiltField(out, start, size, fieldIndex == 0);
    }
    if (open) {
      out[0] = '\r';
      out[1] = '\n';
      out += 2;
    }
    r.FOut.Commit(out);
    return size;
  }
  // A field too long to carry is written as far as it goes.
  if (longField) {
    out = r.FeedLongField(out, start, size, 0);
    start = size;
  } else if (size - start > kCarryRoom) {
    out = r.StartLongField(out, start, size, fieldIndex == 0);
    longField = true;
    longIndex = fieldIndex;
    start = size;
  }
  r.FOut.Commit(out);
  r.FInside = inside;
  r.FAfterCR = afterCR;
  r.FFieldIndex = longField ? longIndex : fieldIndex;
  r.FCarryInner = carryInner;
  r.FCarryStray = carryStray;
  r.FLong = longField;
  return start;
}

// Where the first needed byte or NUL is among size bytes (with the scan's
// slack readable past them), or size when there is none; then the number of
// quote bytes among them is added to quotes: the quote state where a check
// may start.
[[gnu::noinline]] std::size_t FindNeeded(const char* in, std::size_t size, char quote, char needed,
                                         std::uint64_t& quotes) {
  const Lanes classify(quote, needed);
  std::uint64_t count = 0;
  for (std::size_t i = 0; i < size; i += 64) {
    const std::size_t n = std::min<std::size_t>(64, size - i);
    const std::uint64_t valid = n == 64 ? ~0ULL : (1ULL << n) - 1;
    const LaneMasks m = classify(in + i);
    const std::uint64_t found = (m.delimiters | m.nuls) & valid;
    if (found != 0) return i + static_cast<std::size_t>(__builtin_ctzll(found));
    count += static_cast<std::uint64_t>(__builtin_popcountll(m.quotes & valid));
  }
  quotes += count;
  return size;
}
