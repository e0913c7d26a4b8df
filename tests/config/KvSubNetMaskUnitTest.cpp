#include <gtest/gtest.h>

#include "common/RsUtil.h"
#include "config/KvSubNetMaskUnit.h"

namespace {

TEST(KvSubNetMaskUnitTest, DefaultValue) {
  TKvSubNetMaskList list;
  TStringList pieces;
  SplitCommaText(pieces, "192.168.0.0/24,127.0.0.0/8", true, true);
  for (int i = 0; i < pieces.Count(); ++i) list.AddText(pieces[i]);
  ASSERT_EQ(list.Entries().size(), 2u);
  EXPECT_EQ(list.Entries()[0].Network, 0xC0A80000u);
  EXPECT_EQ(list.Entries()[0].Mask, 0xFFFFFF00u);
  EXPECT_EQ(list.Entries()[1].Network, 0x7F000000u);
  EXPECT_EQ(list.Entries()[1].Mask, 0xFF000000u);
  EXPECT_EQ(list.GetCommaText(), "192.168.0.0/24,127.0.0.0/8");
  list.Clear();
  EXPECT_TRUE(list.Entries().empty());
  EXPECT_EQ(list.GetCommaText(), "");
}

TEST(KvSubNetMaskUnitTest, AcceptedEntries) {
  const struct {
    const char* text;
    std::uint32_t network;
    std::uint32_t mask;
  } cases[] = {
      {"127.0.0.1/8", 0x7F000000u, 0xFF000000u},     {"10/8", 0x0A000000u, 0xFF000000u},
      {"192.168/16", 0xC0A80000u, 0xFFFF0000u},      {" 192.168.0.0 / 24 ", 0xC0A80000u, 0xFFFFFF00u},
      {"1.2.3.4.5/16", 0x01020000u, 0xFFFF0000u},    {"0.0.0.1/32", 1u, 0xFFFFFFFFu},
      {"$C0.$A8.0.0/$18", 0xC0A80000u, 0xFFFFFF00u}, {"10.1.2.3/1", 0u, 0x80000000u},
      {"266.0.0.0/8", 0x0A000000u, 0xFF000000u},  // a part keeps its low 8 bits
  };
  for (const auto& c : cases) {
    TKvSubNetMaskList list;
    list.AddText(c.text);
    ASSERT_EQ(list.Entries().size(), 1u) << c.text;
    EXPECT_EQ(list.Entries()[0].Network, c.network) << c.text;
    EXPECT_EQ(list.Entries()[0].Mask, c.mask) << c.text;
    EXPECT_EQ(list.Texts()[0], c.text);
  }
}

TEST(KvSubNetMaskUnitTest, RejectedEntriesAreDropped) {
  const char* rejected[] = {
      "192.168.1.1",  "0.0.0.0/0", "0.0.0.0/8", "192.168.0.0/0", "192.168.0.0/x", "192.168.0.0/24x", "a.b.c.d/24",
      "1..2.3/8",     "",          "/8",        "10.0.0.0/33",   "10.0.0.0/-1",   "10.0.0.0/256",    "10.0.0.0/",
      "10.0.0.0/24 x"};
  TKvSubNetMaskList list;
  list.AddText("10.0.0.0/8");
  for (const char* text : rejected) list.AddText(text);
  list.AddText("172.16.0.0/12");
  EXPECT_EQ(list.Entries().size(), 2u);
  EXPECT_EQ(list.GetCommaText(), "10.0.0.0/8,172.16.0.0/12");
}

TEST(KvSubNetMaskUnitTest, CommaTextQuotesWhereNeeded) {
  TKvSubNetMaskList list;
  list.AddText(" 10.0.0.0/8");
  list.AddText("11.0.0.0/8");
  EXPECT_EQ(list.GetCommaText(), "\" 10.0.0.0/8\",11.0.0.0/8");

  TStringList texts;
  texts.Add("a\"b");
  texts.Add("c,d");
  texts.Add("");
  texts.Add("e");
  EXPECT_EQ(CommaText(texts), "\"a\"\"b\",\"c,d\",,e");
}

}  // namespace
