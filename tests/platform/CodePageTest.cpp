#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/CodePage.h"
#include "platform/Locale.h"

using platform::ScopedCodePage;

namespace {

// UTF-8 bytes whatever the compiler's execution character set is.
std::string U8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST(CodePage, Utf8RoundTripAndInvalidBytes) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  const std::string text = U8(u8"アクセスログ abc Ωж 😀");
  EXPECT_EQ(platform::FromWide(platform::ToWide(text)), text);
  EXPECT_EQ(platform::ToWide("a\xFF"), u"a\uFFFD");
#ifdef _WIN32
  // The system's converter gives a cut-off character one replacement.
  EXPECT_EQ(platform::ToWide("\xE3\x82"), u"\uFFFD");
#else
  EXPECT_EQ(platform::ToWide("\xE3\x82"), u"\uFFFD\uFFFD");    // a cut-off character
#endif
  EXPECT_FALSE(platform::IsLeadByte(0x83));
}

TEST(CodePage, ShiftJisConvertsAndKnowsItsLeadBytes) {
  ScopedCodePage sjis(platform::kCodePageShiftJis);
  const std::string so = "\x83\x5C";  // katakana so, second byte 0x5C
  EXPECT_EQ(platform::ToWide(so), u"ソ");
  EXPECT_EQ(platform::ToWide("\x83\x5C\\"), u"ソ\\");
  EXPECT_EQ(platform::FromWide(u"ソ表\\ｱ"), "\x83\x5C\x95\x5C\\\xB1");
  EXPECT_TRUE(platform::IsLeadByte(0x83));
  EXPECT_TRUE(platform::IsLeadByte(0xE0));
  EXPECT_FALSE(platform::IsLeadByte(0x5C));
  EXPECT_FALSE(platform::IsLeadByte(0xB1));   // half-width katakana is one byte
  EXPECT_EQ(platform::FromWide(u"😀"), "??");  // not in the code page
}

TEST(Locale, ComparisonIgnoresCaseOfEveryScript) {
  ScopedCodePage utf8(platform::kCodePageUtf8);
  EXPECT_TRUE(platform::SameTextIgnoreCase("WebDocRoot", "webdocroot"));
  EXPECT_TRUE(platform::SameTextIgnoreCase(U8(u8"ÄÖÜ"), U8(u8"äöü")));
  EXPECT_TRUE(platform::SameTextIgnoreCase(U8(u8"ΑΒΓ"), U8(u8"αβγ")));
  EXPECT_TRUE(platform::SameTextIgnoreCase(U8(u8"ДОК"), U8(u8"док")));
  EXPECT_TRUE(platform::SameTextIgnoreCase(U8(u8"ＡＢ"), U8(u8"ａｂ")));
  EXPECT_FALSE(platform::SameTextIgnoreCase("abc", "abd"));
#ifdef _WIN32
  // The system compares characters: every invalid byte is the same U+FFFD.
  EXPECT_TRUE(platform::SameTextIgnoreCase("\xFF", "\xFE"));
  EXPECT_FALSE(platform::SameTextIgnoreCase("\xFF", "a"));
#else
  EXPECT_FALSE(platform::SameTextIgnoreCase("\xFF", "\xFE"));  // distinct invalid bytes stay distinct
#endif
  EXPECT_LT(platform::CompareTextIgnoreCase("abc", "ABD"), 0);
  EXPECT_GT(platform::CompareTextIgnoreCase("abcd", "ABC"), 0);
  EXPECT_EQ(platform::UpperCase(U8(u8"docs_ä_ж_ａ")), U8(u8"DOCS_Ä_Ж_Ａ"));
  EXPECT_EQ(platform::LowerCase("Ab\xFF"), "ab\xFF");
}

TEST(Locale, ShiftJisCaseMappingKeepsTrailBytes) {
  ScopedCodePage sjis(platform::kCodePageShiftJis);
  // Full-width A (82 60) lower-cases to full-width a (82 81); so (83 5C) stays.
  EXPECT_EQ(platform::LowerCase("\x82\x60\x83\x5CZ"), "\x82\x81\x83\x5Cz");
  EXPECT_TRUE(platform::SameTextIgnoreCase("\x82\x60", "\x82\x81"));
  // A trail byte 0x5C is no backslash, and 0x83 0x5C is not 0x83 '\\'.
  EXPECT_FALSE(platform::SameTextIgnoreCase("\x83\x5C", "\x83\x5D"));
}
