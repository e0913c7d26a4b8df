#include <gtest/gtest.h>

#include "base/Exception.h"
#include "config/KestrovaIniUnit.h"
#include "platform/CodePage.h"

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

struct KeyList {
  explicit KeyList(const Keys& keys) { BuildKeyList(list, keys); }
  THashedStringList list;
};

TEST(KestrovaIniSectionTest, KeyListLayout) {
  KeyList keys({{"WebDocRoot", "C:\\w"}, {"empty", ""}, {"Dup", "first"}, {"dup", "second"}});
  ASSERT_EQ(keys.list.Count(), 6);
  EXPECT_EQ(keys.list[0], "WebDocRoot");
  EXPECT_EQ(keys.list[1], "empty");
  EXPECT_EQ(keys.list[2], "Dup");
  EXPECT_EQ(keys.list[3], "dup");
  EXPECT_EQ(keys.list[4], "webdocroot=C:\\w");
  EXPECT_EQ(keys.list[5], "dup=first");
}

TEST(KestrovaIniSectionTest, StringAndPathReaders) {
  KeyList keys({{"WebDocRoot", "C:/w/x"}, {"empty", ""}, {"Dup", "first"}, {"dup", "second"}});
  std::string value = "untouched";
  EXPECT_TRUE(TKvIniSection::FindValue(keys.list, "webdocroot", value));
  EXPECT_EQ(value, "C:/w/x");
  EXPECT_FALSE(TKvIniSection::FindValue(keys.list, "empty", value));
  EXPECT_FALSE(TKvIniSection::FindValue(keys.list, "missing", value));
  EXPECT_EQ(TKvIniSection::ReadString(keys.list, "WEBDOCROOT", "def"), "C:/w/x");
  EXPECT_EQ(TKvIniSection::ReadString(keys.list, "empty", "def"), "def");
  EXPECT_EQ(TKvIniSection::ReadString(keys.list, "DUP", ""), "first");
  EXPECT_EQ(TKvIniSection::ReadPath(keys.list, "webdocroot", ""), "C:\\w\\x");
  EXPECT_EQ(TKvIniSection::ReadPath(keys.list, "missing", "D:/def/"), "D:\\def\\");
}

TEST(KestrovaIniSectionTest, IntegerAndFlagReaders) {
  const struct {
    const char* text;
    std::int64_t def;
    std::int64_t result;
  } integers[] = {
      {"42", 7, 42},
      {" -3", 7, -3},
      {"$10", 7, 16},
      {"0x10", 7, 16},
      {"10 ", 7, 7},
      {"abc", 7, 7},
      {"2147483648", 7, 7},
      {"-2147483648", 7, -2147483647LL - 1},
      {"junk", 4294967297LL, 1},  // the low 32 bits of the default
      {"junk", 0x80000000LL, -2147483647LL - 1},
  };
  for (const auto& c : integers) {
    KeyList keys(Keys{{"n", c.text}});
    EXPECT_EQ(TKvIniSection::ReadInteger(keys.list, "n", c.def), c.result) << c.text;
  }
  KeyList none(Keys{});
  EXPECT_EQ(TKvIniSection::ReadInteger(none.list, "n", 4294967297LL), 4294967297LL);

  const struct {
    const char* text;
    bool def;
    bool result;
  } flags[] = {
      {"1", false, true},  {"2", false, false}, {"yes", false, false}, {"true", false, false}, {"0", true, false},
      {"yes", true, true}, {"", true, true},    {"", false, false},    {"$1", false, true},
  };
  for (const auto& c : flags) {
    KeyList keys(Keys{{"flag", c.text}});
    EXPECT_EQ(TKvIniSection::ReadFlag(keys.list, "flag", c.def), c.result) << c.text << " default " << c.def;
  }
}

TEST(KestrovaIniSectionTest, FloatAndListReaders) {
  KeyList keys({{"f", "2.5"}, {"bad", "2,5"}, {"list", "\"A\", b ,,C,"}});
  EXPECT_DOUBLE_EQ(TKvIniSection::ReadFloat(keys.list, "f", 1), 2.5);
  EXPECT_DOUBLE_EQ(TKvIniSection::ReadFloat(keys.list, "bad", 1), 1);
  EXPECT_DOUBLE_EQ(TKvIniSection::ReadFloat(keys.list, "none", 1.5), 1.5);

  THashedStringList list;
  TKvIniSection::ReadList(keys.list, "list", "", list, false);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Text(), "A\r\nb\r\nC\r\n");
  TKvIniSection::ReadList(keys.list, "list", "", list, true, false);
  EXPECT_EQ(list.Text(), "a\r\nb\r\n\r\nc\r\n");
  TKvIniSection::ReadList(keys.list, "none", "x,y", list, false);
  EXPECT_EQ(list.Text(), "x\r\ny\r\n");
}

// Loads the document roots of the keys; the error message, or "" on success.
std::string Load(TKvIniDocumentRoot& section, const Keys& keys, const std::string& webTemp = "C:\\temp\\") {
  KeyList list(keys);
  try {
    section.LoadRoots(list.list, webTemp);
    section.Validate();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

TEST(KestrovaIniSectionTest, OneRoot) {
  TKvIniDocumentRoot section(nullptr);
  ASSERT_EQ(Load(section, {{"document_root", "D:/docs/"}, {"rzi_root", "D:\\idx"}}), "");
  ASSERT_EQ(section.Roots.Count(), 1);
  const TKestrovaRoot& root = *section.Roots.GetItem(0);
  EXPECT_EQ(root.Path(), "D:\\docs");
  EXPECT_EQ(root.RziRoot(), "D:\\idx");
  EXPECT_EQ(root.Alias(), "");
  EXPECT_EQ(root.Caption(), "docs");

  TKvIniDocumentRoot none(nullptr);
  EXPECT_EQ(Load(none, {{"other", "x"}}), "");
  EXPECT_EQ(none.Roots.Count(), 0);
}

TEST(KestrovaIniSectionTest, LoadRootsMessages) {
  const std::string notDefined = "が設定ファイルに定義されていません";
  const struct {
    Keys keys;
    std::string webTemp;
    std::string message;
  } cases[] = {
      {{{"document_root", ""}, {"rzi_root", "D:\\idx"}}, "C:\\t", "document_root" + notDefined},
      {{{"document_root", "D:\\docs"}}, "C:\\t", "rzi_root" + notDefined},
      {{{"document_root", "D:\\docs"}, {"rzi_root", "D:\\idx"}, {"document_root2", "D:\\d2"}, {"rzi_root2", "D:\\i2"}},
       "C:\\t",
       "document_root_alias2" + notDefined},
      {{{"document_root", "D:\\docs"},
        {"rzi_root", "D:\\idx"},
        {"document_root2", "D:\\d2"},
        {"rzi_root2", "D:\\i2"},
        {"document_root_alias2", "two"}},
       "C:\\t",
       "document_root_alias" + notDefined},
      {{{"document_root", "D:\\docs"}, {"rzi_root", "D:\\idx"}, {"document_root_alias", "doc_1"}},
       "C:\\t",
       "document_root_aliasは半角英数字しか使用できません[doc_1]"},
      {{{"document_root", "D:\\docs"}, {"rzi_root", "D:\\docs\\idx"}},
       "C:\\t",
       "rzi_rootがdocument_root以下のフォルダに指定されています.document_root=D:\\docs, rzi_root=D:\\docs\\idx"},
      {{{"document_root", "D:\\docs"}, {"rzi_root", "d:\\DOCS\\"}},
       "C:\\t",
       "document_rootがrzi_root以下のフォルダに指定されています.document_root=D:\\docs, rzi_root=d:\\DOCS"},
      {{{"document_root", "D:\\docs"}, {"rzi_root", "D:\\idx"}},
       "D:\\docs\\temp\\",
       "webtempdirがdocument_root以下のフォルダに指定されています.webtempdir=D:\\docs\\temp\\, document_root=D:\\docs"},
      {{{"document_root", "D:\\docs"}, {"rzi_root", "D:\\idx"}},
       "D:\\idx",
       "webtempdirがrzi_root以下のフォルダに指定されています.webtempdir=D:\\idx, rzi_root=D:\\idx"},
      {{{"document_root", "D:\\a"},
        {"rzi_root", "D:\\i"},
        {"document_root_alias", "x"},
        {"document_root2", "D:\\b"},
        {"rzi_root2", "D:\\j"},
        {"document_root_alias2", "X"}},
       "C:\\t",
       "document_root_alias:X が重複しています"},
      // Validate: the document roots are checked before any rzi_root.
      {{{"document_root", "D:\\a"},
        {"rzi_root", "D:\\i"},
        {"document_root_alias", "x"},
        {"document_root2", "D:\\a\\b"},
        {"rzi_root2", "D:\\i\\j"},
        {"document_root_alias2", "y"}},
       "C:\\t",
       "すべてのdocument_rootおよびrzi_rootのパスは親子関係にあってはいけません.document_rootが他のdocument_root以下の"
       "フォルダに指定されています.document_root2=D:\\a\\b"},
      {{{"document_root", "D:\\a"},
        {"rzi_root", "D:\\i"},
        {"document_root_alias", "x"},
        {"document_root2", "D:\\i\\b"},
        {"rzi_root2", "D:\\j"},
        {"document_root_alias2", "y"}},
       "C:\\t",
       "すべてのdocument_rootおよびrzi_rootのパスは親子関係にあってはいけません.document_rootがrzi_root以下の"
       "フォルダに指定されています.document_root2=D:\\i\\b"},
      {{{"document_root", "D:\\a"},
        {"rzi_root", "D:\\b\\i"},
        {"document_root_alias", "x"},
        {"document_root2", "D:\\b"},
        {"rzi_root2", "D:\\j"},
        {"document_root_alias2", "y"}},
       "C:\\t",
       "すべてのdocument_rootおよびrzi_rootのパスは親子関係にあってはいけません.rzi_rootがdocument_root以下の"
       "フォルダに指定されています.rzi_root=D:\\b\\i"},
      {{{"document_root", "D:\\a"},
        {"rzi_root", "D:\\i"},
        {"document_root_alias", "x"},
        {"document_root2", "D:\\b"},
        {"rzi_root2", "D:\\i\\j"},
        {"document_root_alias2", "y"}},
       "C:\\t",
       "すべてのdocument_rootおよびrzi_rootのパスは親子関係にあってはいけません.rzi_rootが他のrzi_root以下の"
       "フォルダに指定されています.rzi_root2=D:\\i\\j"},
  };
  for (const auto& c : cases) {
    TKvIniDocumentRoot section(nullptr);
    EXPECT_EQ(Load(section, c.keys, c.webTemp), c.message);
  }
}

TEST(KestrovaIniSectionTest, WebTempBesideARootPasses) {
  TKvIniDocumentRoot section(nullptr);
  EXPECT_EQ(Load(section, {{"document_root", "D:\\work\\docs"}, {"rzi_root", "D:\\idx"}}, "D:\\work\\"), "");
  // A folder whose name only begins like the root's is not below it.
  TKvIniDocumentRoot other(nullptr);
  EXPECT_EQ(Load(other, {{"document_root", "D:\\docs"}, {"rzi_root", "D:\\docs2"}}, "D:\\docsx"), "");
}

TEST(KestrovaIniSectionTest, NumberingAndPatterns) {
  TKvIniDocumentRoot section(nullptr);
  ASSERT_EQ(Load(section, {{"document_root", "D:\\a"},
                           {"rzi_root", "D:\\i"},
                           {"document_root_alias", "one"},
                           {"document_root_pattern", "x/y"},
                           {"document_root_pattern2", ""},
                           {"document_root_pattern4", "skipped"},
                           {"Document_Root2", "D:\\b"},
                           {"rzi_root2", "D:\\j"},
                           {"document_root_alias2", "two"},
                           {"document_root_caption2", "Second"},
                           {"document_root2_pattern", "p"},
                           {"document_root4", "D:\\never"}}),
            "");
  ASSERT_EQ(section.Roots.Count(), 2);
  const TKestrovaRoot& first = *section.Roots.GetItem(0);
  EXPECT_EQ(first.Patterns().Text(), "x\\y\r\n\r\n");
  EXPECT_EQ(first.Caption(), "one");
  const TKestrovaRoot& second = *section.Roots.GetItem(1);
  EXPECT_EQ(second.Patterns().Text(), "p\r\n");
  EXPECT_EQ(second.Caption(), "Second");

  TRsValueList values;
  section.SaveTo(values);
  const char* expected[][2] = {
      {"document_root", "D:\\a"},        {"document_root_alias", "one"}, {"rzi_root", "D:\\i"},
      {"document_root_pattern", "x\\y"}, {"document_root_pattern2", ""}, {"document_root2", "D:\\b"},
      {"document_root_alias2", "two"},   {"rzi_root2", "D:\\j"},         {"document_root2_pattern", "p"},
  };
  ASSERT_EQ(values.Items.Count(), 9);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(values.Items[i], expected[i][0]);
    auto* value = static_cast<TRsAbstractObject*>(values.Items.Objects(i));
    EXPECT_EQ(value->ValueType, 0);
    EXPECT_EQ(value->GetAsString(), expected[i][1]);
  }
}

TEST(KestrovaIniSectionTest, SecondLoadRejectsTheSameRoots) {
  TKvIniDocumentRoot section(nullptr);
  const Keys keys = {{"document_root", "D:\\a"}, {"rzi_root", "D:\\i"}, {"document_root_alias", "one"}};
  ASSERT_EQ(Load(section, keys), "");
  EXPECT_EQ(Load(section, keys), "document_root_alias:one が重複しています");
  EXPECT_EQ(section.Roots.Count(), 1);
}

TEST(KestrovaIniSectionTest, ShiftJisPaths) {
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  const std::string so = "\x83\x5C";  // katakana so: second byte 0x5C
  TKvIniDocumentRoot section(nullptr);
  ASSERT_EQ(Load(section, {{"document_root", "D:\\" + so}, {"rzi_root", "D:\\" + so + "2\\"}}, "D:\\t"), "");
  EXPECT_EQ(section.Roots.GetItem(0)->Path(), "D:\\" + so);
  EXPECT_EQ(section.Roots.GetItem(0)->RziRoot(), "D:\\" + so + "2");
  EXPECT_EQ(section.Roots.GetItem(0)->Caption(), so);

  // Nested on characters: the rzi_root below the document root is caught.
  TKvIniDocumentRoot nested(nullptr);
  EXPECT_EQ(Load(nested, {{"document_root", "D:\\" + so}, {"rzi_root", "D:\\" + so + "\\i"}}, "D:\\t"),
            "rzi_rootがdocument_root以下のフォルダに指定されています.document_root=D:\\" + so + ", rzi_root=D:\\" + so +
                "\\i");

  // A full-width alias is not half-width alphanumeric.
  TKvIniDocumentRoot alias(nullptr);
  EXPECT_EQ(Load(alias, {{"document_root", "D:\\a"}, {"rzi_root", "D:\\i"}, {"document_root_alias", "\x82\x60"}}),
            "document_root_aliasは半角英数字しか使用できません[\x82\x60]");
}

TEST(KestrovaIniSectionTest, OnGetLoadedReachesTheDocument) {
  bool asked = false;
  TKvIniDocumentRoot section([&](bool& loaded) {
    asked = true;
    loaded = true;
  });
  bool loaded = false;
  section.OnGetLoaded(loaded);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(loaded);
}

}  // namespace
