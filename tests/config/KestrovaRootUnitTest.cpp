#include <gtest/gtest.h>

#include "base/Exception.h"
#include "config/KestrovaRootUnit.h"
#include "platform/CodePage.h"

namespace {

std::unique_ptr<TKestrovaRoot> MakeRoot(const std::string& path, const std::string& rzi, const std::string& alias) {
  auto root = std::make_unique<TKestrovaRoot>();
  root->SetPath(path);
  root->SetRziRoot(rzi);
  root->SetAlias(alias);
  return root;
}

std::string AddError(TKestrovaRootList& list, std::unique_ptr<TKestrovaRoot> root) {
  try {
    list.Add(std::move(root));
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

TEST(KestrovaRootUnitTest, IndexOfDocumentPath) {
  TKestrovaRootList list;
  EXPECT_EQ(list.IndexOfDocumentPath("C:\\docs", -1), -1);
  EXPECT_FALSE(list.IsUnderRziRoot("C:\\docs"));
  EXPECT_EQ(list.Add(MakeRoot("C:\\docs", "D:\\idx", "a")), 0);
  EXPECT_EQ(list.Add(MakeRoot("C:\\docs2", "D:\\idx2", "b")), 1);
  const std::pair<const char*, int> cases[] = {
      {"C:\\docs\\a.txt", 0}, {"C:\\docs2\\a.txt", 1}, {"c:\\DOCS", 0}, {"c:\\DOCS\\", 0},
      {"C:\\doc", -1},        {"C:\\docs2", 1},        {"C:\\", -1},    {"", -1},
  };
  for (const auto& [path, index] : cases) EXPECT_EQ(list.IndexOfDocumentPath(path, -1), index) << path;
  EXPECT_EQ(list.IndexOfDocumentPath("C:\\docs\\x", 0), -1);
  EXPECT_EQ(list.IndexOfRziPath("d:\\IDX2\\sub", -1), 1);
  EXPECT_EQ(list.IndexOfRziPath("d:\\IDX2\\sub", 1), -1);
  EXPECT_TRUE(list.IsUnderDocumentRoot("C:\\docs"));
  EXPECT_FALSE(list.IsUnderDocumentRoot("C:\\other"));
  EXPECT_EQ(list.GetItem(2), nullptr);
  EXPECT_EQ(list.GetItem(1)->Alias(), "b");
}

TEST(KestrovaRootUnitTest, DriveRootContainsEverything) {
  TKestrovaRootList list;
  list.Add(MakeRoot("C:\\", "D:\\idx", ""));
  EXPECT_EQ(list.IndexOfDocumentPath("C:\\any\\where", -1), 0);
  EXPECT_EQ(list.IndexOfDocumentPath("c:", -1), -1);
  EXPECT_EQ(kestrova_path::Normalized("C:\\"), "C:\\");
  EXPECT_EQ(kestrova_path::Normalized("C:\\data\\"), "C:\\data");
  EXPECT_EQ(kestrova_path::Normalized("\\"), "\\");
}

TEST(KestrovaRootUnitTest, IsUnderRziRootNeedsAPathBelow) {
  TKestrovaRootList list;
  list.Add(MakeRoot("D:\\docs", "D:\\idx", ""));
  EXPECT_FALSE(list.IsUnderRziRoot("D:\\idx"));
  EXPECT_TRUE(list.IsUnderRziRoot("D:\\idx\\"));
  EXPECT_TRUE(list.IsUnderRziRoot("d:\\IDX\\a"));
  EXPECT_FALSE(list.IsUnderRziRoot("D:\\idx2"));
  EXPECT_TRUE(list.IsUnderDocumentRoot("D:\\docs"));
}

TEST(KestrovaRootUnitTest, DuplicateRules) {
  TKestrovaRootList list;
  list.Add(MakeRoot("C:\\a", "D:\\idx\\", "Docs"));
  EXPECT_EQ(AddError(list, MakeRoot("C:\\b", "D:\\other", "DOCS")), "document_root_alias:DOCS が重複しています");
  EXPECT_EQ(AddError(list, MakeRoot("C:\\b", "d:\\IDX", "x")), "rzi_root:d:\\IDX\u3000が重複しています");
  EXPECT_EQ(list.Count(), 1);

  TKestrovaRootList empty;
  empty.Add(MakeRoot("C:\\a", "", "a"));
  EXPECT_EQ(AddError(empty, MakeRoot("C:\\b", "", "b")), "rzi_root:\u3000が重複しています");

  // A rejected root stays with the caller.
  auto rejected = MakeRoot("C:\\c", "D:\\idx", "c");
  EXPECT_THROW(list.Add(std::move(rejected)), Exception);
  ASSERT_NE(rejected, nullptr);
  EXPECT_EQ(rejected->Alias(), "c");
}

TEST(KestrovaRootUnitTest, CompleteCaption) {
  const struct {
    const char* caption;
    const char* alias;
    const char* path;
    const char* result;
  } cases[] = {
      {"", "", "E:\\share\\Projects\\", "Projects"},
      {"", "proj", "E:\\share\\Projects\\", "proj"},
      {"Mine", "proj", "E:\\share\\Projects", "Mine"},
      {"", "", "C:\\", ""},
      {"", "", "C:Docs", "Docs"},
      {"", "", "plain", "plain"},
  };
  for (const auto& c : cases) {
    TKestrovaRoot root;
    root.SetCaption(c.caption);
    root.SetAlias(c.alias);
    root.SetPath(c.path);
    root.CompleteCaption();
    EXPECT_EQ(root.Caption(), c.result) << c.path;
  }
}

TEST(KestrovaRootUnitTest, ShiftJisTrailByteIsNoDelimiter) {
  platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
  // "\x83\x5C" is the katakana so, whose second byte is the code of '\'.
  const std::string so = "\x83\x5C";
  EXPECT_EQ(kestrova_path::Normalized("C:\\" + so), "C:\\" + so);
  EXPECT_EQ(kestrova_path::FolderPrefix("C:\\" + so), "C:\\" + so + "\\");

  TKestrovaRootList list;
  list.Add(MakeRoot("C:\\" + so, "D:\\" + so, ""));
  // Without the rule on characters the folder itself would read as "C:\x83\".
  EXPECT_EQ(list.IndexOfDocumentPath("C:\\" + so + "\\a", -1), 0);
  EXPECT_EQ(list.IndexOfDocumentPath("C:\\" + so, -1), 0);
  EXPECT_EQ(list.IndexOfDocumentPath("C:\\\x83", -1), -1);
  EXPECT_FALSE(list.IsUnderRziRoot("D:\\" + so));
  EXPECT_TRUE(list.IsUnderRziRoot("D:\\" + so + "\\x"));

  TKestrovaRoot root;
  root.SetPath("E:\\" + so);
  root.CompleteCaption();
  EXPECT_EQ(root.Caption(), so);
}

}  // namespace
