// The INI reader of the configuration document at its limits and the extract
// page limits read through it; profile-corpus.txt holds what it reads from
// each kind of document.
#include <gtest/gtest.h>

#include <string>

#include "config/KestrovaIniUnit.h"
#include "config/KvIniFile.h"
#include "platform/CodePage.h"
#include "support/TestSupport.h"

namespace {

using testing_support::TempDir;

struct IniOnDisk {
  explicit IniOnDisk(const std::string& text) { testing_support::WriteFile(dir.Native("a.ini"), text); }
  std::string Name() const { return dir.System("a.ini"); }
  TempDir dir;
};

std::string Names(const TKvIniFile& file, const std::string& section) {
  TStringList names;
  file.ReadSection(section, names);
  std::string out;
  for (int i = 0; i < names.Count(); ++i) out += (i ? "|" : "") + names[i];
  return out;
}

TEST(KvIniFileTest, MissingFileHasNoSections) {
  TempDir dir;
  TKvIniFile file(dir.System("none.ini"));
  EXPECT_FALSE(file.SectionExists("Main"));
  EXPECT_EQ(Names(file, "Main"), "");
  EXPECT_EQ(file.ReadInteger("Main", "a", -1), -1);
  TKvIniFile folder(dir.System());
  EXPECT_FALSE(folder.SectionExists("Main"));
}

TEST(KvIniFileTest, ValueLimitKeepsWholeCharacters) {
  const std::string longAscii(3000, 'v');
  // 2046 ASCII bytes, then a double-byte character that would end past the limit.
  const std::string cut = std::string(2046, 'w') + "\x82\xa0" + "z";
  IniOnDisk ini("[s]\nlong=" + longAscii + "\ncut=" + cut + "\n");
  platform::ScopedCodePage sjis(932);
  TKvIniFile file(ini.Name());
  EXPECT_EQ(file.ReadString("s", "long", ""), std::string(TKvIniFile::kValueBytes, 'v'));
  EXPECT_EQ(file.ReadString("s", "cut", ""), std::string(2046, 'w'));
}

TEST(KvIniFileTest, KeyListLimitKeepsWholeNames) {
  // Each name takes 100 bytes with its NUL: 163 fit beside the closing NUL.
  std::string text = "[s]\n";
  for (int i = 0; i < 200; ++i) {
    std::string name = std::to_string(1000 + i);
    text += name + std::string(99 - name.size(), 'k') + "=1\n";
  }
  IniOnDisk ini(text);
  TKvIniFile file(ini.Name());
  TStringList names;
  file.ReadSection("s", names);
  ASSERT_EQ(names.Count(), 163);
  EXPECT_EQ(names[162].substr(0, 4), "1162");
  EXPECT_EQ(names[162].size(), 99u);
}

TEST(KvIniFileTest, IntegerReads) {
  IniOnDisk ini(
      "[s]\nhex=0x10\nHEX=0X1f\nshort=0x\ndollar=$20\ndec= -42 \nbad=many\nempty=\nspace=1 2\n"
      "big=2147483648\nminus=0x-5\n");
  TKvIniFile file(ini.Name());
  const struct {
    const char* key;
    int expected;
  } cases[] = {{"hex", 16},   {"HEX", 16},   {"short", -1}, {"dollar", 32}, {"dec", -42},   {"bad", -1},
               {"empty", -1}, {"space", -1}, {"big", -1},   {"minus", -1},  {"missing", -1}};
  for (const auto& c : cases) EXPECT_EQ(file.ReadInteger("s", c.key, -1), c.expected) << c.key;
}

std::string Limits(const TKvIniExtractPageLimit& section) {
  std::string out;
  for (int i = 0; i < section.Limits.Count(); ++i)
    out +=
        section.Limits[i] + "=" + std::to_string(static_cast<TIntegerObject*>(section.Limits.Objects(i))->Value) + ";";
  return out;
}

TEST(KvIniExtractPageLimitTest, LoadsTheOwnSection) {
  IniOnDisk ini("[Main]\npdf=1\n[ExtractPageLimit]\npdf=50\nPPT=0x10\nempty=\nword=many\npdf=7\n[Other]\nxls=3\n");
  TKvIniFile file(ini.Name());
  TKvIniExtractPageLimit section(nullptr);
  section.LoadPageLimits(file);
  EXPECT_EQ(Limits(section), "pdf=50;PPT=16;empty=-1;word=-1;pdf=50;");
  EXPECT_EQ(section.Limits.IndexOf("ppt"), 1);

  TRsValueList saved;
  section.SaveTo(saved);
  std::string text;
  for (int i = 0; i < saved.Items.Count(); ++i)
    text += saved.Items[i] + "=" + static_cast<TRsAbstractObject*>(saved.Items.Objects(i))->GetAsString() + ";";
  EXPECT_EQ(text, "empty=-1;pdf=50;PPT=16;word=-1;");
}

TEST(KvIniExtractPageLimitTest, NoSectionNoLimits) {
  IniOnDisk ini("[Main]\npdf=1\n[ExtractPageLimit]\n");
  TKvIniFile file(ini.Name());
  TKvIniExtractPageLimit section(nullptr);
  section.LoadPageLimits(file);
  EXPECT_EQ(section.Limits.Count(), 0);
}

}  // namespace
