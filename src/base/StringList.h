// Ordered lists of byte strings with an optional owned object per entry, and
// name=value entries. Names compare without regard to case unless the list is
// case-sensitive (the platform's locale-aware comparison).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/Object.h"

class TStringList : public TObject {
 public:
  TStringList() = default;

  int Count() const { return static_cast<int>(FItems.size()); }
  // Index errors raise EStringListError "リストのインデックスが範囲を超えています (%d)".
  const std::string& operator[](int index) const { return FItems[Check(index)].text; }
  const std::string& Strings(int index) const { return (*this)[index]; }
  void Put(int index, std::string_view text);
  TObject* Objects(int index) const { return FItems[Check(index)].object.get(); }
  void PutObject(int index, std::unique_ptr<TObject> object);
  // Takes the object out of the entry without freeing it.
  std::unique_ptr<TObject> ExtractObject(int index);

  int Add(std::string_view text);
  int AddObject(std::string_view text, std::unique_ptr<TObject> object);
  void Insert(int index, std::string_view text, std::unique_ptr<TObject> object = nullptr);
  // Replaces all entries by the given texts (without objects), reusing the
  // entries' storage: the cheap way to refill a list record after record.
  void Assign(const std::string_view* texts, std::size_t count);
  void Delete(int index);
  void Clear();

  virtual int IndexOf(std::string_view text) const;
  // Entries of the form name=value.
  virtual int IndexOfName(std::string_view name) const;
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;
  // Sets the value of the first entry with that name, appending name=value
  // when there is none; an empty value deletes the entry.
  void SetValue(std::string_view name, std::string_view value);

  // The entries, each followed by CR LF.
  std::string Text() const;
  // Replaces the entries by the lines of the text (CR, LF or CR LF end a line;
  // text after the last break is an entry only when it is not empty).
  void SetText(std::string_view text);

  void Sort();
  void CustomSort(const std::function<int(const TStringList&, int, int)>& compare);
  int CompareStrings(std::string_view a, std::string_view b) const;

  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool value);

 protected:
  virtual void Changed() {}
  // An entry was added at the end; nothing else changed.
  virtual void Appended(int) { Changed(); }

 private:
  struct Item {
    std::string text;
    std::unique_ptr<TObject> object;
  };
  int Check(int index) const {
    if (static_cast<unsigned>(index) >= FItems.size()) IndexError(index);
    return index;
  }
  [[noreturn]] static void IndexError(int index);

  std::vector<Item> FItems;
  // Strings of cleared entries, kept so that refilling a list (one record
  // after the other) does not allocate again.
  std::vector<std::string> FSpare;
  bool FCaseSensitive = false;
};

// A string list whose lookups by text and by name go through a hash of the
// case-folded key, rebuilt after a change.
class THashedStringList : public TStringList {
 public:
  int IndexOf(std::string_view text) const override;
  int IndexOfName(std::string_view name) const override;

 protected:
  void Changed() override;
  // Appending keeps the hash: filling a list entry by entry stays linear.
  void Appended(int index) override;

 private:
  std::string Key(std::string_view text) const;
  void Rebuild() const;
  void Index(int index) const;

  mutable bool FValid = false;
  mutable std::unordered_map<std::string, int> FTexts;
  mutable std::unordered_map<std::string, int> FNames;
};
