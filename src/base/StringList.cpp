#include "base/StringList.h"

#include <algorithm>
#include <numeric>

#include "base/Exception.h"
#include "base/Format.h"
#include "platform/Locale.h"

void TStringList::IndexError(int index) {
  throw EStringListError(Format("リストのインデックスが範囲を超えています (%d)", {IntToStr(index)}));
}

void TStringList::Put(int index, std::string_view text) {
  FItems[Check(index)].text.assign(text);
  Changed();
}

void TStringList::PutObject(int index, std::unique_ptr<TObject> object) {
  FItems[Check(index)].object = std::move(object);
}

std::unique_ptr<TObject> TStringList::ExtractObject(int index) { return std::move(FItems[Check(index)].object); }

int TStringList::Add(std::string_view text) { return AddObject(text, nullptr); }

int TStringList::AddObject(std::string_view text, std::unique_ptr<TObject> object) {
  Item item;
  if (!FSpare.empty()) {
    item.text = std::move(FSpare.back());
    FSpare.pop_back();
  }
  item.text.assign(text);
  item.object = std::move(object);
  FItems.push_back(std::move(item));
  Appended(Count() - 1);
  return Count() - 1;
}

void TStringList::Insert(int index, std::string_view text, std::unique_ptr<TObject> object) {
  if (index != Count()) Check(index);
  FItems.insert(FItems.begin() + index, Item{std::string(text), std::move(object)});
  Changed();
}

void TStringList::Assign(const std::string_view* texts, std::size_t count) {
  while (FItems.size() > count) {
    FSpare.push_back(std::move(FItems.back().text));
    FItems.pop_back();
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (i < FItems.size()) {
      FItems[i].text.assign(texts[i]);
      FItems[i].object.reset();
    } else {
      Item item;
      if (!FSpare.empty()) {
        item.text = std::move(FSpare.back());
        FSpare.pop_back();
      }
      item.text.assign(texts[i]);
      FItems.push_back(std::move(item));
    }
  }
  Changed();
}

void TStringList::Delete(int index) {
  FItems.erase(FItems.begin() + Check(index));
  Changed();
}

void TStringList::Clear() {
  for (Item& item : FItems) FSpare.push_back(std::move(item.text));
  FItems.clear();
  Changed();
}

int TStringList::CompareStrings(std::string_view a, std::string_view b) const {
  if (FCaseSensitive) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return platform::CompareTextIgnoreCase(a, b);
}

void TStringList::SetCaseSensitive(bool value) {
  FCaseSensitive = value;
  Changed();
}

int TStringList::IndexOf(std::string_view text) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(FItems[i].text, text) == 0) return i;
  return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& t = FItems[i].text;
    std::size_t eq = t.find('=');
    if (eq != std::string::npos && CompareStrings(std::string_view(t).substr(0, eq), name) == 0) return i;
  }
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& t = (*this)[index];
  std::size_t eq = t.find('=');
  return eq == std::string::npos ? std::string() : t.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& t = (*this)[index];
  std::size_t eq = t.find('=');
  return eq == std::string::npos ? std::string() : t.substr(eq + 1);
}

std::string TStringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string entry = std::string(name) + "=" + std::string(value);
  if (i < 0)
    Add(entry);
  else
    Put(i, entry);
}

std::string TStringList::Text() const {
  std::string out;
  for (const Item& item : FItems) {
    out += item.text;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  Clear();
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      Add(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) Add(text.substr(start));
}

void TStringList::Sort() {
  CustomSort([](const TStringList& list, int a, int b) { return list.CompareStrings(list[a], list[b]); });
}

void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& compare) {
  std::vector<int> order(FItems.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(*this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(FItems.size());
  for (int i : order) sorted.push_back(std::move(FItems[i]));
  FItems = std::move(sorted);
  Changed();
}

std::string THashedStringList::Key(std::string_view text) const {
  return CaseSensitive() ? std::string(text) : platform::UpperCase(text);
}

void THashedStringList::Changed() { FValid = false; }

void THashedStringList::Index(int i) const {
  const std::string& t = (*this)[i];
  FTexts.emplace(Key(t), i);  // the first of equal keys wins
  std::size_t eq = t.find('=');
  if (eq != std::string::npos) FNames.emplace(Key(std::string_view(t).substr(0, eq)), i);
}

void THashedStringList::Rebuild() const {
  FTexts.clear();
  FNames.clear();
  for (int i = 0; i < Count(); ++i) Index(i);
  FValid = true;
}

void THashedStringList::Appended(int index) {
  if (FValid) Index(index);
}

int THashedStringList::IndexOf(std::string_view text) const {
  if (!FValid) Rebuild();
  auto it = FTexts.find(Key(text));
  return it == FTexts.end() ? -1 : it->second;
}

int THashedStringList::IndexOfName(std::string_view name) const {
  if (!FValid) Rebuild();
  auto it = FNames.find(Key(name));
  return it == FNames.end() ? -1 : it->second;
}
