// Document roots: each published document folder with its paired rzi_root
// folder, alias, caption and patterns, and the list of them with the rules
// that decide whether a path lies inside one.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/Object.h"
#include "base/StringList.h"

class TKestrovaRoot : public TObject {
 public:
  const std::string& RziRoot() const { return FRziRoot; }
  const std::string& Alias() const { return FAlias; }
  const std::string& Path() const { return FPath; }
  const std::string& Caption() const { return FCaption; }
  TStringList& Patterns() { return FPatterns; }
  const TStringList& Patterns() const { return FPatterns; }

  void SetRziRoot(std::string_view s) { FRziRoot = s; }
  void SetAlias(std::string_view s) { FAlias = s; }
  void SetPath(std::string_view s) { FPath = s; }
  void SetCaption(std::string_view s) { FCaption = s; }
  // An empty caption becomes the alias, else the last component of the path.
  void CompleteCaption();

 private:
  std::string FRziRoot;
  std::string FAlias;
  std::string FPath;
  TStringList FPatterns;
  std::string FCaption;
};

class TKestrovaRootList : public TObject {
 public:
  ~TKestrovaRootList() override;

  // Appends the root and takes it over; raises for an alias or rzi_root that
  // is already in the list, and then leaves the root with the caller.
  int Add(std::unique_ptr<TKestrovaRoot>&& root);
  // Null for an index at or beyond Count.
  TKestrovaRoot* GetItem(int index) const;
  int Count() const { return FRoots.Count(); }
  void Clear();

  // The first root, skipping the excluded index, whose folder contains the
  // path (the path lies below it or names the same folder); -1 when none.
  int IndexOfDocumentPath(std::string_view path, int excluded) const;
  int IndexOfRziPath(std::string_view path, int excluded) const;
  bool IsUnderDocumentRoot(std::string_view path) const { return IndexOfDocumentPath(path, -1) >= 0; }
  // True only when the path lies strictly below some rzi_root.
  bool IsUnderRziRoot(std::string_view path) const;

 private:
  THashedStringList FRoots;  // alias → root, in the order of adding
};

// Path rules shared by the configuration (on characters, '\' the only
// delimiter, case ignored under the user's locale).
namespace kestrova_path {
// The folder with one '\' appended unless it ends in one; "\" for empty.
std::string FolderPrefix(std::string_view folder);
// One trailing '\' removed, except from a drive root or a lone '\'.
std::string Normalized(std::string_view path);
// The path begins with the folder prefix of the folder.
bool LiesBelow(std::string_view path, std::string_view folder);
// The path lies below the folder or names the same folder.
bool Contains(std::string_view folder, std::string_view path);
}  // namespace kestrova_path
