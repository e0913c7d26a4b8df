// Custom splitters: external programs the server hands files of chosen
// extensions to. Each is configured by one numbered key whose value is a JSON
// object with the members "ext", "program" and "parameter".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Object.h"
#include "base/StringList.h"
#include "common/RsJson.h"
#include "diagnostics/RsClasses.h"

class TKvSplitterPluginConf : public TObject {
 public:
  // "ext" and "program" are required, "parameter" is optional. Extensions are
  // lower-cased and given a leading '.'.
  void LoadFromJson(const TJSONObject& object);
  // All three members, "parameter" also when empty.
  void SaveToJson(TJSONObject& object) const;

  std::string Parameter;
  std::string Program;
  THashedStringList Extensions;
};

class TKvSplitterPluginListConf : public TObject {
 public:
  ~TKvSplitterPluginListConf() override { Clear(); }

  // Maps each of the splitter's extensions not claimed yet to it, then takes
  // the splitter over.
  void Add(std::unique_ptr<TKvSplitterPluginConf> splitter);
  void Clear();
  int Count() const { return static_cast<int>(FSplitters.size()); }
  // Null for an index out of range.
  TKvSplitterPluginConf* GetItem(int index) const;

  // The extensions in the order they were first claimed.
  const THashedStringList& ExtensionMap() const { return FExtensionMap; }
  // The first splitter that claimed the extension (case ignored), or null.
  TKvSplitterPluginConf* FindByExtension(std::string_view extension) const;

 private:
  THashedStringList FExtensionMap;
  std::vector<TKvSplitterPluginConf*> FMapped;  // per ExtensionMap entry, not owned
  std::vector<std::unique_ptr<TKvSplitterPluginConf>> FSplitters;
};

class TKvSplitterConf : public TObject {
 public:
  // Reads custom_splitter, custom_splitter2, ... up to the first number whose
  // key is absent; a key present with an empty value is passed over. Raises
  // for a value that is not a JSON object or lacks a required member; the
  // splitters read before it stay.
  void LoadFrom(const THashedStringList& keyList);
  // Numbers the keys anew, without gaps.
  void SaveTo(TRsValueList& list) const;

  TKvSplitterPluginListConf Plugins;
};
