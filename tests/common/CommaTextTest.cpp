// Reading comma texts: blanks separate outside quotes, quoted pieces keep
// them, and empty pieces come only from delimiters.
#include <gtest/gtest.h>

#include <vector>

#include "common/RsUtil.h"

namespace {

std::vector<std::string> Pieces(std::string_view text, char delimiter = ',') {
  TStringList list;
  list.Add("old entry");
  SetCommaText(list, text, delimiter);
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

using V = std::vector<std::string>;

TEST(CommaTextTest, Pieces) {
  const struct {
    const char* text;
    V expected;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"a", {"a"}},
      {"  a , b  ", {"a", "b"}},
      {"a b\tc", {"a", "b", "c"}},  // blanks separate outside quotes
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {"a, ", {"a"}},  // the delimiter is not the last byte: no empty piece
      {",a", {"", "a"}},
      {"\"a b,c\",d", {"a b,c", "d"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"ab\"cd", {"ab", "cd"}},
      {"\"open", {"open"}},  // an unterminated quote runs to the end
      {"\"\",x", {"", "x"}},
      {"DWG, .Dxf", {"DWG", ".Dxf"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Pieces(c.text), c.expected) << c.text;
}

TEST(CommaTextTest, OtherDelimiter) {
  EXPECT_EQ(Pieces("pdf;doc", ';'), (V{"pdf", "doc"}));
  EXPECT_EQ(Pieces("pdf;", ';'), (V{"pdf", ""}));
  EXPECT_EQ(Pieces("pdf;;doc", ';'), (V{"pdf", "", "doc"}));
  EXPECT_EQ(Pieces("a,b;c", ';'), (V{"a,b", "c"}));
}

TEST(CommaTextTest, ReadsBackWhatCommaTextWrites) {
  TStringList list;
  for (const char* s : {"plain", "with blank", "quote\"d", "a,b", "", "日本語"}) list.Add(s);
  TStringList back;
  SetCommaText(back, CommaText(list));
  ASSERT_EQ(back.Count(), list.Count());
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(back[i], list[i]) << i;
}

}  // namespace
