#include "config/KvVariants.h"

#include "base/Exception.h"
#include "base/Registry.h"
#include "base/StringList.h"
#include "common/RsUtil.h"
#include "common/RsWindowsFolder.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Process.h"
#include "platform/SpecialFolder.h"

std::string RegistryKey;
std::string ComputerName;
std::string ExeFolder;
std::string InstallBinFolder;
std::string WorkTempFolder;
std::string InstallFolder;
std::string TempDataFolder;
std::string DataFolder;
std::string MyDocumentsName;
std::string FavoritesName;
std::string DesktopName;
std::string ProfilesFolderPattern;
std::string IniFileName;
std::string EstMasterConfFile;
std::string ExcludeListFile;
std::string IncludeListFile;
std::string SolrConfFile;

namespace {

constexpr const char* kRegistryKey = "\\SOFTWARE\\Ranso Works\\Kestrova\\2.0";

// The folder of a path with its trailing '\' (on characters); "" without one.
std::string FolderWithDelimiter(const std::string& path) {
  const std::u16string wide = platform::ToWide(path);
  const std::size_t cut = wide.find_last_of(u"\\:");
  return cut == std::u16string::npos ? std::string() : platform::FromWide(wide.substr(0, cut + 1));
}

std::string LastComponent(const std::string& path) {
  const std::u16string wide = platform::ToWide(path);
  const std::size_t cut = wide.find_last_of(u"\\:");
  return cut == std::u16string::npos ? path : platform::FromWide(wide.substr(cut + 1));
}

std::string DoubleBackslashes(const std::string& path) {
  std::u16string out;
  for (char16_t c : platform::ToWide(path)) {
    out += c;
    if (c == u'\\') out += c;
  }
  return platform::FromWide(out);
}

}  // namespace

std::string IncludeTrailingBackslash(const std::string& path) {
  const std::u16string wide = platform::ToWide(path);
  return !wide.empty() && wide.back() == u'\\' ? path : path + "\\";
}

std::string GetInstallFolder() {
  // The full value name is split at its last '\' into the key and the value.
  const std::string full = std::string(kRegistryKey) + "\\InstallFolder";
  const std::size_t cut = full.rfind('\\');
  TRegistry registry;
  if (!registry.OpenKeyReadOnly(full.substr(0, cut + 1))) return {};
  return IncludeTrailingBackslash(registry.ReadString(full.substr(cut + 1)));
}

std::string FindProductFile(const std::string& fileName) {
  const std::string program = platform::ProgramFileName();
  if (!program.empty()) {
    const std::string beside = IncludeTrailingBackslash(FolderWithDelimiter(program)) + fileName;
    if (platform::FileExists(beside)) return beside;
  }
  const std::string install = IncludeTrailingBackslash(GetInstallFolder());
  if (platform::FileExists(install + fileName)) return install + fileName;
  return install + "Bin\\" + fileName;
}

std::string GetTempFolder() {
  const std::string temp = platform::TempPath();
  return temp.empty() ? temp : IncludeTrailingBackslash(temp);
}

std::string GetWorkTempFolder() {
  const std::string temp = platform::TempPath();
  if (temp.empty()) throw Exception("Tempフォルダの取得に失敗しました");
  const std::string folder = IncludeTrailingBackslash(temp) + "kestrova";
  platform::CreateDirectories(folder);  // not checked: users of the folder meet a failure
  return folder;
}

std::string GetSpecialFolderName(int index, const std::string& candidates) {
  const std::string path = WindowsFolders ? WindowsFolders->GetFolder(index) : std::string();
  if (!path.empty()) return LastComponent(path);
  TStringList names;
  SplitCommaText(names, candidates, true, true);
  THashedStringList profiles;
  if (WindowsFolders) WindowsFolders->ListProfileFolders(profiles, false);
  for (int n = 0; n < names.Count(); ++n)
    for (int p = 0; p < profiles.Count(); ++p)
      if (platform::DirectoryExists(profiles[p] + "\\" + names[n])) return names[n];
  return {};
}

std::string GetLocalComputerName() { return platform::ComputerName(); }

void InitializeKvVariants() {
  const auto folder = [](int index) { return WindowsFolders ? WindowsFolders->GetFolder(index) : std::string(); };
  RegistryKey = kRegistryKey;
  ComputerName = GetLocalComputerName();
  const std::string program = platform::ProgramFileName();
  ExeFolder = program.empty() ? std::string() : IncludeTrailingBackslash(FolderWithDelimiter(program));
  InstallBinFolder = IncludeTrailingBackslash(GetInstallFolder()) + "Bin\\";
  WorkTempFolder = platform::FromWide(ExcludeTrailingDelimiterKeepRoot(platform::ToWide(GetWorkTempFolder())));
  InstallFolder = GetInstallFolder();
  TempDataFolder = GetTempFolder() + "kestrova\\";
  DataFolder = IncludeTrailingBackslash(folder(33)) + "kestrova\\";
  MyDocumentsName = GetSpecialFolderName(5, "My Documents,Documents");
  FavoritesName = GetSpecialFolderName(6, "Favorites");
  DesktopName = GetSpecialFolderName(12, "デスクトップ,Desktop");
  ProfilesFolderPattern = DoubleBackslashes(IncludeTrailingBackslash(folder(52)));
  IniFileName = FindProductFile("kestrova.ini");
  if (!platform::FileExists(IniFileName)) IniFileName = FindProductFile("config.ini");
  EstMasterConfFile = FindProductFile("estmaster.conf");
  ExcludeListFile = FindProductFile("exclude.txt");
  IncludeListFile = FindProductFile("include.txt");
  SolrConfFile = FindProductFile("solr.conf");
  for (const std::string* f : {&TempDataFolder, &DataFolder})
    if (!platform::DirectoryExists(*f)) platform::CreateDirectories(*f);
}

void FinalizeKvVariants() {
  for (std::string* v :
       {&RegistryKey, &ComputerName, &ExeFolder, &InstallBinFolder, &WorkTempFolder, &InstallFolder, &TempDataFolder,
        &DataFolder, &MyDocumentsName, &FavoritesName, &DesktopName, &ProfilesFolderPattern, &IniFileName,
        &EstMasterConfFile, &ExcludeListFile, &IncludeListFile, &SolrConfFile})
    v->clear();
}
