#include <gtest/gtest.h>

#include <cstdlib>

#include "base/Registry.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"

using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KESTROVA_REGISTRY", Dir.Native("r.reg").c_str(), 1); }
  void TearDown() override { unsetenv("KESTROVA_REGISTRY"); }
  void Write(const std::string& text) { WriteFile(Dir.Native("r.reg"), text); }

  TempDir Dir;
};

const char kExport[] =
    "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; exported for the tests\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ranso Works\\Kestrova\\2.0]\r\n"
    "\"InstallFolder\"=\"C:\\\\Program Files\\\\Kestrova\\\\\"\r\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
    "\"Port\"=dword:0000ff10\r\n"
    "@=\"default text\"\r\n"
    "\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,\\\r\n"
    "  87,65,00,00\r\n"
    "\"Blob\"=hex:01,02,03\r\n"
    "\"Japanese\"=\"日本\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Ranso Works\\Kestrova\\2.0]\r\n"
    "\"InstallFolder\"=\"wrong root\"\r\n";

}  // namespace

TEST_F(RegistryFile, ReadsAnExportOfTheRegistryEditor) {
  Write(kExport);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\software\\RANSO WORKS\\Kestrova\\2.0"));
  EXPECT_EQ(reg.ReadString("installfolder"), "C:\\Program Files\\Kestrova\\");
  EXPECT_EQ(reg.ReadString("Quoted"), "say \"hi\"");
  EXPECT_EQ(reg.ReadString("Expand"), "%TEMP%\\文");
  EXPECT_EQ(reg.ReadString(""), "default text");
  EXPECT_EQ(reg.ReadInteger("Port"), 0xFF10);
  EXPECT_EQ(reg.ReadString("Missing"), "");
  EXPECT_FALSE(reg.ValueExists("Missing"));
  EXPECT_EQ(reg.ReadString("Japanese"), "日本");
  {
    platform::ScopedCodePage sjis(platform::kCodePageShiftJis);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Ranso Works\\Kestrova\\2.0\\", false));
    EXPECT_EQ(reg.ReadString("Japanese"), "\x93\xFA\x96\x7B");  // converted to the system code page
  }
  // Parents of a listed key exist; keys of other roots are not seen.
  EXPECT_TRUE(reg.OpenKeyReadOnly("\\SOFTWARE\\Ranso Works"));
  EXPECT_FALSE(reg.OpenKeyReadOnly("\\SOFTWARE\\Ranso"));
  EXPECT_FALSE(reg.OpenKeyReadOnly("\\SOFTWARE\\Ranso Works\\Kestrova\\2.0\\Sub"));
}

TEST_F(RegistryFile, ValuesOfAnotherTypeRaiseWhenReadAsText) {
  Write(kExport);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\SOFTWARE\\Ranso Works\\Kestrova\\2.0"));
  for (const char* name : {"Port", "Blob"}) {
    try {
      reg.ReadString(name);
      FAIL() << name;
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), std::string("Invalid data type for '") + name + "'");
    }
  }
  EXPECT_THROW(reg.ReadInteger("InstallFolder"), ERegistryException);
}

TEST_F(RegistryFile, OlderFormatAndUtf16Files) {
  Write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\"\n\"e\"=hex(2):41,42,00\n");
  platform::RegistryKey key;
  platform::RegistryValue v;
  ASSERT_TRUE(key.Open("A"));
  ASSERT_TRUE(key.ReadValue("e", v));
  EXPECT_EQ(v.type, platform::RegistryType::kExpandString);
  EXPECT_EQ(v.text, "AB");  // code page bytes in the older format

  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\B]\r\n\"y\"=\"2\"\r\n")) {
    utf16 += c;
    utf16 += '\0';
  }
  Write(utf16);
  ASSERT_TRUE(key.Open("\\B"));
  ASSERT_TRUE(key.ReadValue("Y", v));
  EXPECT_EQ(v.text, "2");
}

TEST_F(RegistryFile, MissingOrForeignFilesHoldNoKeys) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKeyReadOnly("\\SOFTWARE"));         // no file at all
  Write("[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=\"1\"\n");  // no header line
  EXPECT_FALSE(reg.OpenKeyReadOnly("\\SOFTWARE"));
  Write("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"bad\"=dword:xyz\n\"ok\"=\"1\"\n");
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\SOFTWARE"));
  EXPECT_FALSE(reg.ValueExists("bad"));  // a value that does not parse is skipped
  EXPECT_EQ(reg.ReadString("ok"), "1");
}
