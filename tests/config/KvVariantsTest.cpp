#include <gtest/gtest.h>

#ifdef _WIN32
// The probe runs the start-up on a machine of its own, made of a home, a
// registry file and data folders from the environment; on Windows those come
// from the machine's own registry and shell, which all tests share.
TEST(KvVariantsTest, StartUpOnAMachineOfItsOwn) { GTEST_SKIP() << "needs a registry and special folders of its own"; }
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "support/TestSupport.h"

using testing_support::Exists;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::string System(std::string native) {
  for (char& c : native)
    if (c == '/') c = '\\';
  return native;
}

// A machine of its own: a home, a temporary folder, a data folder, an
// installation folder named by a registry file, and the probe program copied
// into a folder of its own.
class KvVariantsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"home", "home/Documents", "tmp", "data", "install", "install/Bin", "app"})
      mkdir(root.Native(d).c_str(), 0755);
    const char* bin = std::getenv("KV_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "run through ctest";
    const std::string probe = std::string(bin) + "/test_kvvariants_probe";
    ASSERT_EQ(std::system(("cp '" + probe + "' '" + root.Native("app/probe") + "'").c_str()), 0);
    SetInstallFolder(System(root.Native("install")) + "\\");
  }
  void SetInstallFolder(const std::string& folder) {
    std::string escaped;
    for (char c : folder) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    WriteFile(root.Native("registry.reg"),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ranso Works\\Kestrova\\2.0]\r\n"
              "\"InstallFolder\"=\"" +
                  escaped + "\"\r\n");
  }
  std::map<std::string, std::string> Run() {
    const std::string command = "env -i HOME='" + root.Native("home") + "' TMPDIR='" + root.Native("tmp") +
                                "' KESTROVA_REGISTRY='" + root.Native("registry.reg") + "' KESTROVA_PROGRAMDATA='" +
                                root.Native("data") + "' '" + root.Native("app/probe") + "'";
    std::map<std::string, std::string> vars;
    FILE* out = popen(command.c_str(), "r");
    char line[4096];
    while (out && fgets(line, sizeof line, out)) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      const std::size_t eq = s.find('=');
      if (eq != std::string::npos) vars[s.substr(0, eq)] = s.substr(eq + 1);
    }
    if (out) pclose(out);
    return vars;
  }
  TempDir root;
};

}  // namespace

TEST_F(KvVariantsTest, ConfigurationIsLookedForBesideTheProgramThenInTheInstallation) {
  // Neither file anywhere: the installation's Bin folder and config.ini.
  EXPECT_EQ(Run()["IniFileName"], System(root.Native("install/Bin/config.ini")));
  WriteFile(root.Native("install/Bin/config.ini"), "");
  EXPECT_EQ(Run()["IniFileName"], System(root.Native("install/Bin/config.ini")));
  WriteFile(root.Native("install/config.ini"), "");
  EXPECT_EQ(Run()["IniFileName"], System(root.Native("install/config.ini")));
  WriteFile(root.Native("install/Bin/kestrova.ini"), "");
  EXPECT_EQ(Run()["IniFileName"], System(root.Native("install/Bin/kestrova.ini")));
  // kestrova.ini beside the program wins over every other place.
  WriteFile(root.Native("app/kestrova.ini"), "");
  EXPECT_EQ(Run()["IniFileName"], System(root.Native("app/kestrova.ini")));
}

TEST_F(KvVariantsTest, InstallationFolderWithOrWithoutItsDelimiter) {
  const std::string expected = System(root.Native("install")) + "\\";
  EXPECT_EQ(Run()["InstallFolder"], expected);
  SetInstallFolder(System(root.Native("install")));
  auto vars = Run();
  EXPECT_EQ(vars["InstallFolder"], expected);
  EXPECT_EQ(vars["InstallBinFolder"], expected + "Bin\\");
  EXPECT_EQ(vars["ExeFolder"], System(root.Native("app")) + "\\");
}

TEST_F(KvVariantsTest, WorkingFoldersAreCreatedAtStart) {
  auto vars = Run();
  EXPECT_EQ(vars["WorkTempFolder"], System(root.Native("tmp/kestrova")));
  EXPECT_EQ(vars["TempDataFolder"], System(root.Native("tmp/kestrova")) + "\\");
  EXPECT_EQ(vars["DataFolder"], System(root.Native("data/kestrova")) + "\\");
  EXPECT_TRUE(Exists(root.Native("tmp/kestrova")));
  EXPECT_TRUE(Exists(root.Native("data/kestrova")));
  // The folder holding the profiles, every delimiter doubled.
  std::string pattern;
  for (char c : System(root.Native()) + "\\") pattern += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(vars["ProfilesFolderPattern"], pattern);
}

TEST_F(KvVariantsTest, WithoutRegistryKeyTheFilesAreLookedForInTheRoot) {
  unlink(root.Native("registry.reg").c_str());
  auto vars = Run();
  EXPECT_EQ(vars["InstallFolder"], "");
  EXPECT_EQ(vars["IniFileName"], "\\Bin\\config.ini");
}

#endif
