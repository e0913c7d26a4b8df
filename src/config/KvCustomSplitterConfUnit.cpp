#include "config/KvCustomSplitterConfUnit.h"

#include "base/Exception.h"
#include "common/RsUtil.h"
#include "platform/Locale.h"

namespace {

const char kSplitterKey[] = "custom_splitter";

std::string NumberedKey(int n) { return n == 1 ? std::string(kSplitterKey) : kSplitterKey + std::to_string(n); }

}  // namespace

void TKvSplitterPluginConf::LoadFromJson(const TJSONObject& object) {
  // "ext" first, so that a description lacking both required members names it.
  SetCommaText(Extensions, object.requireText("ext"));
  Program = object.requireText("program");
  Parameter = object.textOrEmpty("parameter");
  for (int i = 0; i < Extensions.Count(); ++i) {
    std::string ext = platform::LowerCase(TrimBlanks(Extensions[i]));
    if (ext.empty() || ext.front() != '.') ext.insert(ext.begin(), '.');
    Extensions.Put(i, ext);
  }
}

void TKvSplitterPluginConf::SaveToJson(TJSONObject& object) const {
  object.storeText("ext", CommaText(Extensions), false);
  object.storeText("program", Program, false);
  object.storeText("parameter", Parameter, false);
}

void TKvSplitterPluginListConf::Add(std::unique_ptr<TKvSplitterPluginConf> splitter) {
  for (int i = 0; i < splitter->Extensions.Count(); ++i) {
    const std::string ext = platform::LowerCase(splitter->Extensions[i]);
    if (FExtensionMap.IndexOf(ext) >= 0) continue;
    FExtensionMap.Add(ext);
    FMapped.push_back(splitter.get());
  }
  FSplitters.push_back(std::move(splitter));
}

void TKvSplitterPluginListConf::Clear() {
  FExtensionMap.Clear();
  FMapped.clear();
  FSplitters.clear();
}

TKvSplitterPluginConf* TKvSplitterPluginListConf::GetItem(int index) const {
  return index >= 0 && index < Count() ? FSplitters[static_cast<std::size_t>(index)].get() : nullptr;
}

TKvSplitterPluginConf* TKvSplitterPluginListConf::FindByExtension(std::string_view extension) const {
  const int i = FExtensionMap.IndexOf(extension);
  return i < 0 ? nullptr : FMapped[static_cast<std::size_t>(i)];
}

void TKvSplitterConf::LoadFrom(const THashedStringList& keyList) {
  Plugins.Clear();
  for (int n = 1;; ++n) {
    const std::string key = NumberedKey(n);
    // Every key name of the document stands as a bare entry of its own, so a
    // key written with an empty value still counts as present.
    if (keyList.IndexOf(key) < 0) break;
    const std::string value(TrimBlanks(keyList.Values(platform::LowerCase(key))));
    if (value.empty()) continue;
    std::unique_ptr<TJSONObject> object;
    try {
      object = std::make_unique<TJSONObject>(value);
    } catch (const Exception&) {
      throw Exception(key + "が正しく記述されていません(Json形式ではありません)" + value);
    }
    auto splitter = std::make_unique<TKvSplitterPluginConf>();
    try {
      splitter->LoadFromJson(*object);
    } catch (const Exception& e) {
      throw Exception("fieldname=" + key + ", " + e.Message());
    }
    Plugins.Add(std::move(splitter));
  }
}

void TKvSplitterConf::SaveTo(TRsValueList& list) const {
  for (int i = 0; i < Plugins.Count(); ++i) {
    TJSONObject object;
    Plugins.GetItem(i)->SaveToJson(object);
    std::string text = object.toString();
    for (std::size_t p; (p = text.find("\r\n")) != std::string::npos;) text.erase(p, 2);
    SetStringValue(list, NumberedKey(i + 1), text);
  }
}
