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

// The check: each record's first field to the scan's match. Nothing is
// carried: returns size.
[[gnu::noinline]] std::size_t ScanCheck(CheckScan& s, const char* in, std::size_t from, std::size_t size, bool last) {
  const Lanes classify(s.FQuote, s.FDelimiter);
  const char quote = s.FQuote, delimiter = s.FDelimiter;
  std::uint64_t inside = s.FInside;
  CheckScan::Phase phase = s.FPhase;
  bool skip = s.FSkip;
  std::size_t p = from;           // the next byte to look at
  std::size_t fieldStart = from;  // of the first field being read
  std::uint64_t fieldQuotes = 0;  // it holds quotes after its first byte in earlier lanes
  for (std::size_t i = from; i < size; i += 64) {
    const std::size_t n = std::min<std::size_t>(64, size - i);
    const std::uint64_t valid = n == 64 ? ~0ULL : (1ULL << n) - 1;
    const LaneMasks m = classify(in + i);
    const std::uint64_t quotes = m.quotes & valid;
    const std::uint64_t inQuotes = Lanes::Parity(quotes) ^ inside;
    inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(inQuotes) >> 63);
    const std::uint64_t breaks = m.breaks & ~inQuotes & valid;
    const std::uint64_t splits = breaks | (m.delimiters & ~inQuotes & valid);
    p = std::max(p, i);
    while (p < i + n) {
      const std::size_t bit = p - i;
      std::uint64_t end;  // from the line break that ends the line
      if (phase == CheckScan::kRest) {
        end = breaks >> bit << bit;
        if (end == 0) break;
      } else {
        if (phase == CheckScan::kLineStart) {
          if (breaks >> bit & 1) {  // an empty line (a record without fields), or the data ends
            skip = false;
            end = breaks >> bit << bit;
            goto lineEnd;
          }
          fieldStart = p;
          fieldQuotes = 0;
          phase = skip ? CheckScan::kRest : CheckScan::kFirstField;
          skip = false;
          if (phase == CheckScan::kRest) continue;
        }
        const std::uint64_t next = splits >> bit << bit;
        if (next == 0) {
          fieldQuotes |= fieldStart < i ? quotes : fieldStart - i < 63 ? quotes >> (fieldStart - i + 1) : 0;
          break;
        }
        const std::size_t e = i + static_cast<std::size_t>(__builtin_ctzll(next));
        // Whether quotes lie between the field's first and last byte. When
        // its last byte ends an earlier lane, the value is worked out in full.
        bool inner;
        if (fieldStart >= i) {
          inner = e > fieldStart + 2 && (quotes & ((1ULL << (e - 1 - i)) - (2ULL << (fieldStart - i)))) != 0;
        } else {
          inner = e == i || fieldQuotes != 0 || (quotes & ((1ULL << (e - 1 - i)) - 1)) != 0;
        }
        if (inner || s.FInHead) {
          if (!s.Deliver(in + fieldStart, in + e)) return size;
        } else {
          // Nearly every first field: its value lies between its own quotes.
          const std::size_t lead = in[fieldStart] == quote;
          const std::size_t trail = e > fieldStart + lead && in[e - 1] == quote;
          if (!s.Offer(std::string_view(in + fieldStart + lead, e - fieldStart - lead - trail))) return size;
        }
        if (in[e] == delimiter) {
          phase = CheckScan::kRest;
          p = e + 1;
          continue;
        }
        end = next;
      }
    lineEnd:
      const std::size_t e = i + static_cast<std::size_t>(__builtin_ctzll(end));
      if (in[e] == '\0') {
        s.FEnded = true;
        return size;
      }
      // The LF of a CR LF passes for an empty line, which shows no field.
      phase = CheckScan::kLineStart;
      p = e + 1;
    }
  }
  if (phase == CheckScan::kFirstField) {
    if (last) {  // the data ends the last line
      s.Deliver(in + fieldStart, in + size);
    } else {
      s.KeepHead(in + fieldStart, in + size);
    }
  }
  s.FInside = inside;
  s.FPhase = phase;
  s.FSkip = skip;
  return size;
}

// The rewrite: only the unfinished field is carried (it starts at 0 of the
// next buffer), unless it is too long to carry; the fields before it are
// written.
[[gnu::noinline]] std::size_t ScanRewrite(QuotedRewriter& r, const char* buffer, std::size_t from, std::size_t size,
                                          bool last) {
  // A field of n bytes gives at most 2 n + 2 and a line end two, so a line
  // of b bytes (",\n" is the worst) gives at most 4 b, and the last line
  // without its end 4 b + 4.
  r.FOut.Reserve(4 * size + 8);
  r.FIn = buffer;
  const char* const in = buffer;
  const char quote = r.FQuote, delimiter = r.FDelimiter;
  char* out = r.FOut.Cursor();
  std::size_t start = 0;  // of the current field
  std::size_t fieldIndex = r.FFieldIndex;
  std::uint64_t inside = r.FInside;
  bool afterCR = r.FAfterCR, longField = r.FLong;
  // Whether the byte before the scanned ones splits: a field carried over
  // has bytes before them.
  std::uint64_t splitBefore = from == 0;
  // 1 when the current field has shown an inner quote, or a plain byte
  // outside quotes.
  std::uint64_t carryInner = r.FCarryInner, carryStray = r.FCarryStray;
  const Lanes classify(quote, delimiter);
  for (std::size_t i = from; i < size;) {
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
      std::size_t next = p + 1;
      // A line break right at a line's start ends an empty line.
      const bool empty = c != delimiter && fieldIndex == 0 && p == start && !longField;
      if (longField) [[unlikely]] {
        out = r.EndLongField(out, start, p, size - p);
        longField = false;
      } else if (!empty) {
        out = r.EndField(out, start, p, fieldIndex == 0, (innerEnds >> bit & 1) != 0, (strayEnds >> bit & 1) != 0);
      } else if (c == '\0') {  // the data ends where a line would start
        return r.Stop(out);
      }
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
    start = size;
  }
  r.FOut.Commit(out);
  r.FInside = inside;
  r.FAfterCR = afterCR;
  r.FFieldIndex = fieldIndex;
  r.FCarryInner = carryInner;
  r.FCarryStray = carryStray;
  r.FLong = longField;
  return start;
}
