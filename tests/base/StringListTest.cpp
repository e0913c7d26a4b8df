#include <gtest/gtest.h>

#include "base/Exception.h"
#include "base/Format.h"
#include "base/StringList.h"

namespace {
struct Tracked : TObject {
  explicit Tracked(int* counter) : counter(counter) {}
  ~Tracked() override { ++*counter; }
  int* counter;
};
}  // namespace

TEST(StringList, IndexErrorCarriesTheIndex) {
  TStringList list;
  list.Add("a");
  try {
    static_cast<void>(list[3]);
    FAIL();
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), "リストのインデックスが範囲を超えています (3)");
  }
  EXPECT_THROW(static_cast<void>(list[-1]), EStringListError);
}

TEST(StringList, NameValueEntriesIgnoreCase) {
  TStringList list;
  list.Add("Alpha=1");
  list.Add("beta=2");
  EXPECT_EQ(list.Values("ALPHA"), "1");
  EXPECT_EQ(list.IndexOfName("BETA"), 1);
  list.SetValue("alpha", "3");
  EXPECT_EQ(list[0], "alpha=3");
  list.SetValue("gamma", "4");
  EXPECT_EQ(list.Count(), 3);
  list.SetValue("beta", "");
  EXPECT_EQ(list.IndexOfName("beta"), -1);
}

TEST(StringList, TextSplitsAtEveryKindOfLineBreak) {
  TStringList list;
  list.SetText("a\r\nb\rc\n\nd");
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\n\r\nd\r\n");
  list.SetText("x\r\n");
  EXPECT_EQ(list.Count(), 1);
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, OwnedObjectsAreFreedWithTheirEntry) {
  int freed = 0;
  {
    TStringList list;
    list.AddObject("a", std::make_unique<Tracked>(&freed));
    list.AddObject("b", std::make_unique<Tracked>(&freed));
    list.Delete(0);
    EXPECT_EQ(freed, 1);
  }
  EXPECT_EQ(freed, 2);
}

TEST(HashedStringList, LookupsFollowChanges) {
  THashedStringList list;
  list.Add("Key=v");
  list.Add("other");
  EXPECT_EQ(list.IndexOf("OTHER"), 1);
  EXPECT_EQ(list.IndexOfName("kEY"), 0);
  list.Insert(0, "first");
  EXPECT_EQ(list.IndexOf("other"), 2);
  EXPECT_EQ(list.Values("key"), "v");
  list.Add("key=second");  // the first of two equal names wins
  EXPECT_EQ(list.Values("KEY"), "v");
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("OTHER"), -1);
}

TEST(Format, DirectivesTakeTheNextArgument) {
  EXPECT_EQ(Format("ファイル \"%s\". %s は開けません", {"a", "b"}), "ファイル \"a\". b は開けません");
  EXPECT_EQ(Format("100%% %d", {"7"}), "100% 7");
  EXPECT_EQ(Format("%s,%s", {"x"}), "x,");
}

TEST(HashedStringList, FillingEntryByEntryStaysFast) {
  THashedStringList list;
  for (int i = 0; i < 20000; ++i) {
    const std::string name = "key" + std::to_string(i);
    ASSERT_EQ(list.IndexOfName(name), -1);
    list.Add(name + "=v");
  }
  EXPECT_EQ(list.IndexOfName("KEY19999"), 19999);
  EXPECT_EQ(list.IndexOf("key0=v"), 0);
}
