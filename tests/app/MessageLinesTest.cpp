// The lines in which the message boxes show a text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/KvMessageLines.h"

namespace {

// A character of the basic Latin block is 1 wide, any other unit 2.
int Width(std::u16string_view text) {
  int width = 0;
  for (const char16_t c : text) width += c < 0x80 ? 1 : 2;
  return width;
}

TEST(MessageLinesTest, BreakWhereTheTextDoesOrBetweenWordsAndInsideOnlyAWordWiderThanALine) {
  const std::u16string path = u"ファイル \"¥tmp¥web_logs¥a.log.temp\". File exists";
  const std::u16string tail = u"を作成できません";
  const std::u16string line = path + u" " + tail;
  const int lineWidth = Width(line);
  const struct {
    std::u16string text;
    int width;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"config.iniが不正です\r\nbatchは2以上", 1000, {u"config.iniが不正です", u"batchは2以上"}},
      {u"a\nb\rc\r\n", 1000, {u"a", u"b", u"c", u""}},
      {line, lineWidth, {line}},
      // The room a line lacks never cuts "ません" apart.
      {line, lineWidth - 1, {path, tail}},
      {line, Width(path), {path, tail}},
      {path + u"   " + tail + u"  ", Width(path), {path, tail}},
      {line,
       Width(u"ファイル \"¥tmp¥web_logs¥a.log.temp\"."),
       {u"ファイル \"¥tmp¥web_logs¥a.log.temp\".", u"File exists " + tail}},
      {u"  indented words", 10, {u"  indented", u"words"}},
      // Only a word wider than a whole line is broken inside, and every piece fits.
      {tail, Width(u"を作成でき"), {u"を作成でき", u"ません"}},
      {u"a " + tail, 3, {u"a", u"を", u"作", u"成", u"で", u"き", u"ま", u"せ", u"ん"}},
      // A character outside the basic plane is never split from its partner.
      {u"𠮷𠮷𠮷", 4, {u"𠮷", u"𠮷", u"𠮷"}},
      {u"𠮷", 1, {u"𠮷"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text.begin(), c.text.end())) + " in " + std::to_string(c.width));
    EXPECT_EQ(KvMessageLines(c.text, Width, c.width), c.lines);
  }
}

}  // namespace
