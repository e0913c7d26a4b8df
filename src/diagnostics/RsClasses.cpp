#include "diagnostics/RsClasses.h"

#include "base/NumberParse.h"
#include "platform/Locale.h"

void TBooleanObject::SetAsString(std::string_view text) {
  double number = 0;
  if (TryStrToFloat(text, number))
    Value = number != 0;
  else
    Value = platform::SameTextIgnoreCase(text, "True");
}

void TIntegerObject::SetAsString(std::string_view text) {
  if (!TryStrToInt(text, Value)) Value = 0;
}

void TInt64Object::SetAsString(std::string_view text) {
  if (!TryStrToInt64(text, Value)) Value = 0;
}

std::string TDoubleObject::GetAsString() const { return FloatToStr(Value); }

void TDoubleObject::SetAsString(std::string_view text) {
  if (!TryStrToFloat(text, Value)) Value = 0;
}

TRsAbstractObject* TRsValueList::Find(std::string_view name) const {
  const int i = Items.IndexOf(name);
  return i < 0 ? nullptr : static_cast<TRsAbstractObject*>(Items.Objects(i));
}

void SetObjectValue(TRsValueList& list, std::string_view name, std::unique_ptr<TRsAbstractObject> value) {
  const int i = list.Items.IndexOf(name);
  if (i >= 0) list.Items.Delete(i);  // frees the old boxed value
  list.Items.AddObject(name, std::move(value));
}

namespace {

template <typename Box, typename V>
void SetTyped(TRsValueList& list, std::string_view name, V value) {
  auto box = std::make_unique<Box>();
  box->Value = value;
  SetObjectValue(list, name, std::move(box));
}

}  // namespace

void SetBooleanValue(TRsValueList& list, std::string_view name, bool value) {
  SetTyped<TBooleanObject>(list, name, value);
}
void SetDoubleValue(TRsValueList& list, std::string_view name, double value) {
  SetTyped<TDoubleObject>(list, name, value);
}
void SetIntegerValue(TRsValueList& list, std::string_view name, std::int32_t value) {
  SetTyped<TIntegerObject>(list, name, value);
}
void SetInt64Value(TRsValueList& list, std::string_view name, std::int64_t value) {
  SetTyped<TInt64Object>(list, name, value);
}
void SetStringValue(TRsValueList& list, std::string_view name, std::string_view value) {
  SetTyped<TStringObject>(list, name, std::string(value));
}
void SortValues(TRsValueList& list) { list.Items.Sort(); }

bool TRsAtomicCounter::Increment() {
  std::lock_guard<std::mutex> lock(FLock);
  ++FValue;
  if (FMax > 0 && FValue > FMax) {
    FValue = 0;
    return true;
  }
  return false;
}

void TRsAtomicCounter::Decrement(std::int64_t floor) {
  std::lock_guard<std::mutex> lock(FLock);
  if (--FValue < floor) FValue = floor;
}

std::int64_t TRsAtomicCounter::Value() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FValue;
}

void TRsAtomicCounter::Reset() {
  std::lock_guard<std::mutex> lock(FLock);
  FValue = 0;
}
