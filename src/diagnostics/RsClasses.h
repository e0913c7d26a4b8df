// Boxed values, named value lists and the lock-guarded counter.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/Object.h"
#include "base/StringList.h"

class TRsAbstractObject : public TObject {
 public:
  explicit TRsAbstractObject(std::uint8_t valueType) : ValueType(valueType) {}
  virtual std::string GetAsString() const = 0;
  virtual void SetAsString(std::string_view text) = 0;

  const std::uint8_t ValueType;
};

class TStringObject : public TRsAbstractObject {
 public:
  TStringObject() : TRsAbstractObject(0) {}
  std::string GetAsString() const override { return Value; }
  void SetAsString(std::string_view text) override { Value = std::string(text); }
  std::string Value;
};

class TBooleanObject : public TRsAbstractObject {
 public:
  TBooleanObject() : TRsAbstractObject(1) {}
  std::string GetAsString() const override { return Value ? "True" : "False"; }
  void SetAsString(std::string_view text) override;
  bool Value = false;
};

class TIntegerObject : public TRsAbstractObject {
 public:
  TIntegerObject() : TRsAbstractObject(2) {}
  std::string GetAsString() const override { return std::to_string(Value); }
  void SetAsString(std::string_view text) override;
  std::int32_t Value = 0;
};

class TInt64Object : public TRsAbstractObject {
 public:
  TInt64Object() : TRsAbstractObject(3) {}
  std::string GetAsString() const override { return std::to_string(Value); }
  void SetAsString(std::string_view text) override;
  std::int64_t Value = 0;
};

class TDoubleObject : public TRsAbstractObject {
 public:
  TDoubleObject() : TRsAbstractObject(4) {}
  std::string GetAsString() const override;
  void SetAsString(std::string_view text) override;
  double Value = 0;
};

// Named boxed values; each entry's object is the value, owned by the list.
class TRsValueList : public TObject {
 public:
  TStringList Items;
  // The boxed value of a name, or null.
  TRsAbstractObject* Find(std::string_view name) const;
};

// Replaces an earlier value of the same name: the old value is freed and the
// name added anew at the end.
void SetObjectValue(TRsValueList& list, std::string_view name, std::unique_ptr<TRsAbstractObject> value);
void SetBooleanValue(TRsValueList& list, std::string_view name, bool value);
void SetDoubleValue(TRsValueList& list, std::string_view name, double value);
void SetIntegerValue(TRsValueList& list, std::string_view name, std::int32_t value);
void SetInt64Value(TRsValueList& list, std::string_view name, std::int64_t value);
void SetStringValue(TRsValueList& list, std::string_view name, std::string_view value);
void SortValues(TRsValueList& list);

class TRsAtomicCounter : public TObject {
 public:
  // A maximum of 0 or less means no limit.
  explicit TRsAtomicCounter(std::int64_t maximum) : FMax(maximum) {}
  // True when the counter passed its maximum and wrapped to 0.
  bool Increment();
  void Decrement(std::int64_t floor);
  std::int64_t Value() const;
  void Reset();

 private:
  const std::int64_t FMax;
  std::int64_t FValue = 0;
  mutable std::mutex FLock;
};
