#include <gtest/gtest.h>

#include <vector>

#include "common/RsUtil.h"
#include "diagnostics/TSIntf.h"
#include "platform/CodePage.h"
#include "support/Isolation.h"

namespace {

std::vector<std::string> Entries(const TStringList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
  return out;
}

std::vector<std::string> Split(std::string_view text, bool removeQuotes, bool removeEmpty) {
  TStringList list;
  list.Add("old entry");
  SplitCommaText(list, text, removeQuotes, removeEmpty);
  return Entries(list);
}

// The default client with a hook that takes every message over.
class DiagnosticChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeTSIntf();
    DefaultTraceSpot->OnSendMsg = [this](TTraceSpot&, const TTraceSpotMsgData& m, bool& handled) {
      Sent.push_back(m.Msg);
      handled = true;
    };
  }
  void TearDown() override { FinalizeTSIntf(); }

  testing_support::IsolatedRuntime Rt;
  std::vector<std::string> Sent;
};

}  // namespace

TEST_F(DiagnosticChannel, RaiseErrorKeepsPercentSignsAndReportsTheMessage) {
  try {
    RaiseError("100% done %s %d");
    FAIL();
  } catch (const ERansoException& e) {
    EXPECT_EQ(e.Message(), "100% done %s %d");
    EXPECT_EQ(e.ErrMsg(), "100% done %s %d");
    EXPECT_STREQ(e.ClassName(), "ERansoException");
  }
  EXPECT_EQ(Sent, std::vector<std::string>{"Error 100% done %s %d"});
}

TEST_F(DiagnosticChannel, CreateFmtSubstitutesAndSendsAtConstruction) {
  const ERansoException e = ERansoException::CreateFmt("ファイル %s が %s", {"a.ini", "ない"});
  EXPECT_EQ(Sent, std::vector<std::string>{"Error ファイル a.ini が ない"});  // sent although never raised
  EXPECT_EQ(e.ErrMsg(), "ファイル a.ini が ない");
  EXPECT_THROW(RaiseErrorFmt("%s/%s", {"x", "y"}), Exception);  // caught as the general type too
  EXPECT_EQ(Sent.back(), "Error x/y");
}

TEST_F(DiagnosticChannel, ErrMsgFallsBackToTheMessage) {
  ERansoException e("message");
  e.SetErrMsg("other");
  EXPECT_EQ(e.ErrMsg(), "other");
  EXPECT_EQ(e.Message(), "message");
  e.SetErrMsg("");
  EXPECT_EQ(e.ErrMsg(), "message");
}

TEST_F(DiagnosticChannel, NothingIsSentWhileTheClientIsDisabled) {
  DefaultTraceSpot->SetEnabled(false);
  EXPECT_THROW(RaiseError("quiet"), ERansoException);
  EXPECT_TRUE(Sent.empty());
}

TEST(RsUtil, ExceptionsBeforeStartUpAreStillRaised) {
  ASSERT_EQ(DefaultTraceSpot, nullptr);
  EXPECT_THROW(RaiseError("early"), ERansoException);
}

TEST(RsUtil, SplitCommaText) {
  using V = std::vector<std::string>;
  const struct {
    const char* text;
    bool removeQuotes, removeEmpty;
    V entries;
  } cases[] = {
      {"\"a\", b ,,c,", true, true, {"a", "b", "c"}},
      {"\"a\", b ,,c,", true, false, {"a", "b", "", "c"}},  // nothing after the final comma
      {"", true, true, {}},
      {"", true, false, {}},
      {" , ,\t, ", true, true, {}},
      {" , ", true, false, {"", ""}},
      {"\"x,y\"", true, true, {"x", "y"}},  // quotes group nothing
      {"\"x\",y", false, true, {"\"x\"", "y"}},
      {"a\r\nb\nc\rd", true, true, {"a", "b", "c", "d"}},  // line breaks split too
      {"\x01 a \x1F, \x7F", true, true, {"a", "\x7F"}},    // trims codes up to 32 only
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.text, c.removeQuotes, c.removeEmpty), c.entries) << c.text;
}

TEST(RsUtil, SplitCommaTextWorksOnShiftJisCharacters) {
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  // "表" and "ソ" end in 0x5C; the full-width comma "，" is no separator; the
  // ideographic space U+3000 is above 32 and stays.
  const std::string hyou = "\x95\x5C", so = "\x83\x5C", wideComma = "\x81\x43", ideoSpace = "\x81\x40";
  EXPECT_EQ(Split("\"" + hyou + "\", " + so + wideComma + "x ,", true, true),
            (std::vector<std::string>{hyou, so + wideComma + "x"}));
  EXPECT_EQ(Split(ideoSpace + "a", true, true), (std::vector<std::string>{ideoSpace + "a"}));
}

TEST(RsUtil, IsHalfWidthAlphaNumeric) {
  const struct {
    std::u16string text;
    bool result;
  } cases[] = {
      {u"doc01", true},  {u"", true},      {u"AZaz09", true}, {u"doc_01", false}, {u"doc 01", false},
      {u"doc-1", false}, {u"ＡＢ", false}, {u"０１", false},  {u"é", false},      {u"@[`{/:", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsHalfWidthAlphaNumeric(c.text), c.result);
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  EXPECT_FALSE(IsHalfWidthAlphaNumeric(platform::ToWide("\x82\x60\x82\x61")));  // "ＡＢ" in Shift-JIS
  EXPECT_TRUE(IsHalfWidthAlphaNumeric(platform::ToWide("AB12")));
}

TEST(RsUtil, ExcludeTrailingDelimiterKeepRoot) {
  const struct {
    std::u16string in, out;
  } cases[] = {
      {u"C:\\", u"C:\\"},
      {u"C:", u"C:"},
      {u"\\", u"\\"},
      {u"C:\\data\\", u"C:\\data"},
      {u"C:\\data\\\\", u"C:\\data\\"},
      {u"", u""},
      {u"C:\\data", u"C:\\data"},
      {u"data/", u"data/"},
      {u"\\\\server\\share\\", u"\\\\server\\share"},
      {u"a:b:\\", u"a:b:"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExcludeTrailingDelimiterKeepRoot(c.in), c.out);
  // A double-byte character whose second byte is 0x5C is no delimiter.
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  const std::string path = "C:\\\x95\x5C";
  EXPECT_EQ(platform::FromWide(ExcludeTrailingDelimiterKeepRoot(platform::ToWide(path))), path);
  EXPECT_EQ(platform::FromWide(ExcludeTrailingDelimiterKeepRoot(platform::ToWide(path + "\\"))), path);
}

TEST(RsUtil, SlashToBackslash) {
  EXPECT_EQ(SlashToBackslash("C:/a//b\\c/"), "C:\\a\\\\b\\c\\");
  EXPECT_EQ(SlashToBackslash(""), "");
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  EXPECT_EQ(SlashToBackslash("/\x95\x5C/x"), "\\\x95\x5C\\x");
}
