// Where the Kestrova server is installed and where its files and working
// folders are, worked out once at program start.
#pragma once

#include <string>

extern std::string RegistryKey;
extern std::string ComputerName;
extern std::string ExeFolder;
extern std::string InstallBinFolder;
extern std::string WorkTempFolder;
extern std::string InstallFolder;
extern std::string TempDataFolder;
extern std::string DataFolder;
extern std::string MyDocumentsName;
extern std::string FavoritesName;
extern std::string DesktopName;
extern std::string ProfilesFolderPattern;
extern std::string IniFileName;
extern std::string EstMasterConfFile;
extern std::string ExcludeListFile;
extern std::string IncludeListFile;
extern std::string SolrConfFile;

// The installation folder from the registry with a trailing '\'; empty when
// the key cannot be opened.
std::string GetInstallFolder();
// The first existing file of that name beside the program, in the
// installation folder or in its "Bin" folder; the last of these when none exists.
std::string FindProductFile(const std::string& fileName);
// The user's temporary folder with a trailing '\'; empty when it cannot be obtained.
std::string GetTempFolder();
// The temporary folder followed by "kestrova", created with its parents.
std::string GetWorkTempFolder();
// The last component of a special folder's path, else the first candidate
// (comma-separated) that stands as a folder in some user profile.
std::string GetSpecialFolderName(int index, const std::string& candidates);
std::string GetLocalComputerName();
// Appends '\' unless the last character is one (on characters); "" gives "\".
std::string IncludeTrailingBackslash(const std::string& path);

// The start-up step: sets the variables in order and creates the two working
// folders. Runs after the special-folder list exists.
void InitializeKvVariants();
void FinalizeKvVariants();
