#include <gtest/gtest.h>

#include <cstdlib>

#include "base/Registry.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"

#ifdef _WIN32
#include <windows.h>

#include <cstring>
#endif

using testing_support::TempDir;
using testing_support::WriteFile;

#ifndef _WIN32
// The registry export file of the POSIX layer.

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
    EXPECT_EQ(reg.ReadString("Japanese"), platform::FromWide(u"日本"));  // converted to the system code page
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

// An export of the 32-bit view names the software keys under WOW6432Node;
// where both views are exported, the program's own (32-bit) one counts.
TEST_F(RegistryFile, ThirtyTwoBitViewOfTheSoftwareKeys) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string wow = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Ranso Works\\Kestrova\\2.0]\r\n";
  const std::string plain = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ranso Works\\Kestrova\\2.0]\r\n";
  const std::string other = "[HKEY_LOCAL_MACHINE\\SYSTEM\\WOW6432Node\\X]\r\n\"v\"=\"1\"\r\n";
  const struct {
    std::string file;
    const char* key;
    const char* expected;  // nullptr: the key does not open
  } cases[] = {
      {header + wow + "\"InstallFolder\"=\"C:\\\\32\"\r\n", "\\SOFTWARE\\Ranso Works\\Kestrova\\2.0", "C:\\32"},
      {header + plain + "\"InstallFolder\"=\"C:\\\\plain\"\r\n", "SOFTWARE\\Ranso Works\\Kestrova\\2.0", "C:\\plain"},
      {header + plain + "\"InstallFolder\"=\"C:\\\\plain\"\r\n" + wow + "\"InstallFolder\"=\"C:\\\\32\"\r\n",
       "software\\ranso works\\kestrova\\2.0", "C:\\32"},
      {header + wow + "\"InstallFolder\"=\"C:\\\\32\"\r\n", "\\SOFTWARE\\Ranso Works", ""},
      {header + wow + "\"InstallFolder\"=\"C:\\\\32\"\r\n", "SOFTWARE\\WOW6432Node\\Ranso Works\\Kestrova\\2.0",
       "C:\\32"},
      {header + other, "SYSTEM\\X", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + c.key);
    Write(c.file);
    TRegistry reg;
    ASSERT_EQ(reg.OpenKeyReadOnly(c.key), c.expected != nullptr);
    if (c.expected) {
      EXPECT_EQ(reg.ReadString("InstallFolder"), c.expected);
    }
  }
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

#else
// The system's registry: the tests create their keys with the system's calls
// and remove them afterwards.

namespace {

const std::string kTestKey = "SOFTWARE\\KestrovaTest" + std::to_string(GetCurrentProcessId());

class SystemRegistry : public ::testing::Test {
 protected:
  void TearDown() override {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) RegDeleteTreeA(Root(view), kTestKey.c_str());
  }
  static HKEY Root(REGSAM view) {
    HKEY root = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_ALL_ACCESS | view, &root);
    return root;
  }
  // Sets a value of the test key (or of a key below it) in one view.
  static void Set(const std::string& sub, const char* name, DWORD type, const void* data, std::size_t size,
                  REGSAM view = KEY_WOW64_32KEY) {
    HKEY key = nullptr;
    const std::string path = sub.empty() ? kTestKey : kTestKey + "\\" + sub;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void SetText(const std::string& sub, const char* name, DWORD type, const std::string& text,
                      REGSAM view = KEY_WOW64_32KEY) {
    Set(sub, name, type, text.c_str(), text.size() + 1, view);
  }
};

}  // namespace

TEST_F(SystemRegistry, ReadsEveryTypeOfTheThirtyTwoBitView) {
  SetText("", "InstallFolder", REG_SZ, "C:\\Program Files\\Kestrova\\");
  SetText("", nullptr, REG_SZ, "default text");
  SetText("", "Expand", REG_EXPAND_SZ, "%TEMP%\\x");
  Set("", "Multi", REG_MULTI_SZ, "a\0bc\0\0", 6);
  const DWORD port = 0xFF10;
  Set("", "Port", REG_DWORD, &port, sizeof port);
  Set("", "Blob", REG_BINARY, "\x01\x02\x03", 3);
  const std::uint64_t wide = 5;
  Set("", "Quad", REG_QWORD, &wide, sizeof wide);
  {
    // Stored in UTF-16, as the system keeps it; read in the system code page.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key), 0);
    RegSetValueExW(key, L"Japanese", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"日本"), 3 * sizeof(wchar_t));
    RegCloseKey(key);
  }
  SetText("Sub", "x", REG_SZ, "1");

  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\" + kTestKey + "\\"));
  EXPECT_EQ(reg.ReadString("installfolder"), "C:\\Program Files\\Kestrova\\");
  EXPECT_EQ(reg.ReadString(""), "default text");
  EXPECT_EQ(reg.ReadString("Expand"), "%TEMP%\\x");  // not expanded
  EXPECT_EQ(reg.ReadInteger("Port"), 0xFF10);
  EXPECT_EQ(reg.ReadString("Japanese"), platform::FromWide(u"日本"));
  EXPECT_EQ(reg.ReadString("Missing"), "");
  for (const char* name : {"Port", "Blob", "Multi", "Quad"})
    EXPECT_THROW(reg.ReadString(name), ERegistryException) << name;

  platform::RegistryKey key;
  platform::RegistryValue v;
  ASSERT_TRUE(key.Open(kTestKey));
  ASSERT_TRUE(key.ReadValue("@", v));
  EXPECT_EQ(v.text, "default text");
  ASSERT_TRUE(key.ReadValue("MULTI", v));
  EXPECT_EQ(v.type, platform::RegistryType::kMultiString);
  EXPECT_EQ(v.text, std::string("a\0bc\0", 5));
  ASSERT_TRUE(key.ReadValue("Blob", v));
  EXPECT_EQ(v.type, platform::RegistryType::kBinary);
  EXPECT_EQ(v.bytes, (std::vector<std::uint8_t>{1, 2, 3}));
  ASSERT_TRUE(key.ReadValue("Quad", v));
  EXPECT_EQ(v.type, platform::RegistryType::kOther);
  EXPECT_EQ(v.bytes.size(), 8u);
  EXPECT_TRUE(key.Open(kTestKey + "\\SUB"));
  EXPECT_FALSE(key.Open(kTestKey + "\\Absent"));
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(SystemRegistry, KeysOfTheSixtyFourBitViewAreNotSeen) {
  SetText("Only64", "x", REG_SZ, "1", KEY_WOW64_64KEY);
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKeyReadOnly(kTestKey + "\\Only64"));
  SetText("Only64", "x", REG_SZ, "2");
  ASSERT_TRUE(reg.OpenKeyReadOnly(kTestKey + "\\Only64"));
  EXPECT_EQ(reg.ReadString("x"), "2");
  EXPECT_EQ(platform::RegistrySource(), "");
}

#endif
