#include "app/KvMessageLines.h"

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\u3000'; }

bool IsTrailSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A word wider than maxWidth on its own, in pieces that fit; a character
// (a surrogate pair with its partner) is never split, nor is a piece left empty.
void BreakWord(std::u16string_view word, const std::function<int(std::u16string_view)>& width, int maxWidth,
               std::vector<std::u16string>& lines, std::u16string& rest) {
  std::size_t start = 0, last = 0;  // `last`: where the last whole character ends
  for (std::size_t end = 1; end <= word.size(); ++end) {
    if (end < word.size() && IsTrailSurrogate(word[end])) continue;
    if (last > start && width(word.substr(start, end - start)) > maxWidth) {
      lines.emplace_back(word.substr(start, last - start));
      start = last;
    }
    last = end;
  }
  rest = std::u16string(word.substr(start));
}

}  // namespace

std::vector<std::u16string> KvMessageLines(std::u16string_view text,
                                           const std::function<int(std::u16string_view)>& width, int maxWidth) {
  std::vector<std::u16string> lines;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find_first_of(u"\r\n", at);
    const std::u16string_view line = text.substr(at, end == std::u16string_view::npos ? end : end - at);
    if (width(line) <= maxWidth) {
      lines.emplace_back(line);
    } else {
      std::u16string current;
      for (std::size_t pos = 0; pos < line.size();) {
        std::size_t wordStart = pos;
        while (wordStart < line.size() && IsSpace(line[wordStart])) ++wordStart;
        std::size_t wordEnd = wordStart;
        while (wordEnd < line.size() && !IsSpace(line[wordEnd])) ++wordEnd;
        if (wordStart == wordEnd) break;  // spaces at the end of the line
        const std::u16string_view spaces = line.substr(pos, wordStart - pos);
        const std::u16string_view word = line.substr(wordStart, wordEnd - wordStart);
        pos = wordEnd;
        // A break takes the place of the spaces before the word.
        std::u16string joined = current + std::u16string(spaces) + std::u16string(word);
        if (!current.empty() && width(joined) > maxWidth) {
          lines.push_back(current);
          current = std::u16string(word);
        } else {
          current = std::move(joined);
        }
        if (width(current) > maxWidth) {
          const std::u16string whole = std::move(current);
          BreakWord(whole, width, maxWidth, lines, current);
        }
      }
      lines.push_back(current);
    }
    if (end == std::u16string_view::npos) break;
    at = end + (text.compare(end, 2, u"\r\n") == 0 ? 2 : 1);
  }
  return lines;
}
