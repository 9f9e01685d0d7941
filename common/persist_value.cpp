#include "common/persist_value.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Update::Common {

namespace {

constexpr std::size_t kIndexThreshold = 16;  // below this, a linear scan is faster

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

template <class TResult>
TResult* As(TPersistValue* aValue, TPersistValueKind aKind) {
  return aValue && aValue->Kind() == aKind ? static_cast<TResult*>(aValue) : nullptr;
}

template <class TResult, class TFrom>
std::vector<TResult*> Cast(const std::vector<TFrom*>& aValues) {
  std::vector<TResult*> result;
  result.reserve(aValues.size());
  for (TFrom* value : aValues) {
    result.push_back(static_cast<TResult*>(value));
  }
  return result;
}

}  // namespace

// ---- TPersistValue ----

void TPersistValue::Meta_Add(std::string aKey, std::string aValue) {
  if (!fMeta) {
    fMeta = std::make_unique<TMeta>();
  }
  (*fMeta)[std::move(aKey)] = std::move(aValue);
}

void TPersistValue::Meta_Assign(const TPersistValue& aSource) {
  if (!aSource.fMeta || &aSource == this) {
    return;
  }
  for (const auto& [key, value] : *aSource.fMeta) {
    Meta_Add(key, value);
  }
}

bool TPersistValue::Meta_HasKey(std::string_view aKey) const {
  return fMeta && fMeta->find(aKey) != fMeta->end();
}

std::optional<std::string> TPersistValue::Meta_TryGetValue(std::string_view aKey) const {
  if (!fMeta) {
    return std::nullopt;
  }
  auto it = fMeta->find(aKey);
  if (it == fMeta->end()) {
    return std::nullopt;
  }
  return it->second;
}

const TPersistValue::TMeta& TPersistValue::Meta() const {
  static const TMeta kEmpty;
  return fMeta ? *fMeta : kEmpty;
}

TPersistValue_Object* TPersistValue::AsObject() {
  return As<TPersistValue_Object>(this, TPersistValueKind::pvkObject);
}
const TPersistValue_Object* TPersistValue::AsObject() const {
  return As<TPersistValue_Object>(const_cast<TPersistValue*>(this), TPersistValueKind::pvkObject);
}
TPersistValue_Array* TPersistValue::AsArray() {
  return As<TPersistValue_Array>(this, TPersistValueKind::pvkArray);
}
const TPersistValue_Array* TPersistValue::AsArray() const {
  return As<TPersistValue_Array>(const_cast<TPersistValue*>(this), TPersistValueKind::pvkArray);
}
const TPersistValue_String* TPersistValue::AsString() const {
  return As<TPersistValue_String>(const_cast<TPersistValue*>(this), TPersistValueKind::pvkString);
}
const TPersistValue_Number* TPersistValue::AsNumber() const {
  return As<TPersistValue_Number>(const_cast<TPersistValue*>(this), TPersistValueKind::pvkNumber);
}
const TPersistValue_Boolean* TPersistValue::AsBoolean() const {
  return As<TPersistValue_Boolean>(const_cast<TPersistValue*>(this), TPersistValueKind::pvkBoolean);
}
const TPersistValue_Binary* TPersistValue::AsBinary() const {
  return As<TPersistValue_Binary>(const_cast<TPersistValue*>(this), TPersistValueKind::pvkBinary);
}

// ---- TPersistValue_Number ----

std::int32_t TPersistValue_Number::AsInteger() const {
  const double truncated = std::trunc(fValue);
  if (!(truncated >= std::numeric_limits<std::int32_t>::min() &&
        truncated <= std::numeric_limits<std::int32_t>::max())) {
    return 0;
  }
  return static_cast<std::int32_t>(truncated);
}

std::int64_t TPersistValue_Number::AsInt64() const {
  const double truncated = std::trunc(fValue);
  // 2^63 itself is out of range; -2^63 is exactly representable and in range.
  if (!(truncated >= -9223372036854775808.0 && truncated < 9223372036854775808.0)) {
    return 0;
  }
  return static_cast<std::int64_t>(truncated);
}

// ---- base64 ----

std::string Base64Encode(const std::uint8_t* aData, std::size_t aSize, std::size_t aLineLength) {
  std::string text;
  const std::size_t encodedSize = (aSize + 2) / 3 * 4;
  text.reserve(encodedSize + (aLineLength ? encodedSize / aLineLength * 2 : 0));
  std::size_t column = 0;
  auto put = [&](char aChar) {
    if (aLineLength && column == aLineLength) {
      text += "\r\n";
      column = 0;
    }
    text += aChar;
    ++column;
  };
  std::size_t i = 0;
  for (; i + 3 <= aSize; i += 3) {
    const std::uint32_t v = (std::uint32_t{aData[i]} << 16) | (std::uint32_t{aData[i + 1]} << 8) | aData[i + 2];
    put(kBase64Alphabet[v >> 18]);
    put(kBase64Alphabet[(v >> 12) & 63]);
    put(kBase64Alphabet[(v >> 6) & 63]);
    put(kBase64Alphabet[v & 63]);
  }
  if (i < aSize) {
    std::uint32_t v = std::uint32_t{aData[i]} << 16;
    if (i + 1 < aSize) {
      v |= std::uint32_t{aData[i + 1]} << 8;
    }
    put(kBase64Alphabet[v >> 18]);
    put(kBase64Alphabet[(v >> 12) & 63]);
    put(i + 1 < aSize ? kBase64Alphabet[(v >> 6) & 63] : '=');
    put('=');
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view aText) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(aText.size() / 4 * 3);
  std::uint32_t accumulator = 0;
  int bits = 0;
  int padding = 0;
  for (char c : aText) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') {
      continue;
    }
    if (c == '=') {
      ++padding;
      continue;
    }
    if (padding > 0) {
      return std::nullopt;  // data after padding
    }
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else {
      return std::nullopt;
    }
    accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<std::uint8_t>(accumulator >> bits));
    }
  }
  // A quantum of 1 character cannot be decoded; padding may not exceed 2.
  if (bits >= 6 || padding > 2) {
    return std::nullopt;
  }
  return bytes;
}

// ---- TPersistValue_Object ----

std::size_t TPersistValue_Object::Find(std::string_view aKey) const {
  if (fPairs.size() < kIndexThreshold) {
    for (std::size_t i = 0; i < fPairs.size(); ++i) {
      if (fPairs[i].first == aKey) {
        return i;
      }
    }
    return fPairs.size();
  }
  if (!fIndexValid) {
    fIndex.clear();
    fIndex.reserve(fPairs.size());
    for (std::size_t i = 0; i < fPairs.size(); ++i) {
      fIndex[fPairs[i].first] = i;
    }
    fIndexValid = true;
  }
  auto it = fIndex.find(std::string(aKey));
  return it == fIndex.end() ? fPairs.size() : it->second;
}

TPersistValue* TPersistValue_Object::Add_PersistValue(std::string aKey, TPersistValuePtr aValue) {
  Remove(aKey);
  if (!aValue) {
    return nullptr;
  }
  if (!aValue->ParentPersist()) {
    aValue->SetParentPersist(ParentPersist());
  }
  TPersistValue* added = aValue.get();
  if (fIndexValid) {
    fIndex[aKey] = fPairs.size();
  }
  fPairs.emplace_back(std::move(aKey), std::move(aValue));
  return added;
}

TPersistValue_Object* TPersistValue_Object::Add_Object(std::string aKey) {
  return static_cast<TPersistValue_Object*>(
      Add_PersistValue(std::move(aKey), std::make_unique<TPersistValue_Object>(ParentPersist())));
}
TPersistValue_Array* TPersistValue_Object::Add_Array(std::string aKey) {
  return static_cast<TPersistValue_Array*>(
      Add_PersistValue(std::move(aKey), std::make_unique<TPersistValue_Array>(ParentPersist())));
}
TPersistValue_String* TPersistValue_Object::Add_String(std::string aKey, std::string aValue) {
  return static_cast<TPersistValue_String*>(
      Add_PersistValue(std::move(aKey), std::make_unique<TPersistValue_String>(std::move(aValue), ParentPersist())));
}
TPersistValue_Number* TPersistValue_Object::Add_Number(std::string aKey, double aValue) {
  return static_cast<TPersistValue_Number*>(
      Add_PersistValue(std::move(aKey), std::make_unique<TPersistValue_Number>(aValue, ParentPersist())));
}
TPersistValue_Boolean* TPersistValue_Object::Add_Boolean(std::string aKey, bool aValue) {
  return static_cast<TPersistValue_Boolean*>(
      Add_PersistValue(std::move(aKey), std::make_unique<TPersistValue_Boolean>(aValue, ParentPersist())));
}
TPersistValue_Null* TPersistValue_Object::Add_Null(std::string aKey) {
  return static_cast<TPersistValue_Null*>(
      Add_PersistValue(std::move(aKey), std::make_unique<TPersistValue_Null>(ParentPersist())));
}
TPersistValue_Binary* TPersistValue_Object::Add_Binary(std::string aKey, std::vector<std::uint8_t> aBytes) {
  return static_cast<TPersistValue_Binary*>(
      Add_PersistValue(std::move(aKey), std::make_unique<TPersistValue_Binary>(std::move(aBytes), ParentPersist())));
}
TPersistValue_Binary* TPersistValue_Object::Add_BinaryFromBase64(std::string aKey, std::string_view aBase64) {
  auto bytes = Base64Decode(aBase64);
  return bytes ? Add_Binary(std::move(aKey), std::move(*bytes)) : nullptr;
}

TPersistValue* TPersistValue_Object::Get_Value(std::string_view aKey) const {
  const std::size_t i = Find(aKey);
  return i < fPairs.size() ? fPairs[i].second.get() : nullptr;
}
TPersistValue_Object* TPersistValue_Object::Get_Object(std::string_view aKey) const {
  return As<TPersistValue_Object>(Get_Value(aKey), TPersistValueKind::pvkObject);
}
TPersistValue_Array* TPersistValue_Object::Get_Array(std::string_view aKey) const {
  return As<TPersistValue_Array>(Get_Value(aKey), TPersistValueKind::pvkArray);
}
const TPersistValue_String* TPersistValue_Object::Get_String(std::string_view aKey) const {
  return As<TPersistValue_String>(Get_Value(aKey), TPersistValueKind::pvkString);
}
const TPersistValue_Number* TPersistValue_Object::Get_Number(std::string_view aKey) const {
  return As<TPersistValue_Number>(Get_Value(aKey), TPersistValueKind::pvkNumber);
}
const TPersistValue_Boolean* TPersistValue_Object::Get_Boolean(std::string_view aKey) const {
  return As<TPersistValue_Boolean>(Get_Value(aKey), TPersistValueKind::pvkBoolean);
}
const TPersistValue_Null* TPersistValue_Object::Get_Null(std::string_view aKey) const {
  return As<TPersistValue_Null>(Get_Value(aKey), TPersistValueKind::pvkNull);
}
const TPersistValue_Binary* TPersistValue_Object::Get_Binary(std::string_view aKey) const {
  return As<TPersistValue_Binary>(Get_Value(aKey), TPersistValueKind::pvkBinary);
}

std::vector<std::pair<std::string_view, TPersistValue*>> TPersistValue_Object::Pairs(bool aSorted) const {
  std::vector<std::pair<std::string_view, TPersistValue*>> pairs;
  pairs.reserve(fPairs.size());
  for (const auto& [key, value] : fPairs) {
    pairs.emplace_back(key, value.get());
  }
  if (aSorted) {
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  return pairs;
}

std::vector<std::pair<std::string_view, TPersistValue*>> TPersistValue_Object::GetAllPairs(TPersistValueKind aKind,
                                                                                           bool aSorted) const {
  auto pairs = Pairs(aSorted);
  std::erase_if(pairs, [aKind](const auto& aPair) { return aPair.second->Kind() != aKind; });
  return pairs;
}

std::vector<TPersistValue*> TPersistValue_Object::GetAll(TPersistValueKind aKind, bool aSorted) const {
  std::vector<TPersistValue*> values;
  for (const auto& pair : GetAllPairs(aKind, aSorted)) {
    values.push_back(pair.second);
  }
  return values;
}

std::vector<TPersistValue_Object*> TPersistValue_Object::GetAll_Object(bool aSorted) const {
  return Cast<TPersistValue_Object>(GetAll(TPersistValueKind::pvkObject, aSorted));
}
std::vector<TPersistValue_Array*> TPersistValue_Object::GetAll_Array(bool aSorted) const {
  return Cast<TPersistValue_Array>(GetAll(TPersistValueKind::pvkArray, aSorted));
}
std::vector<const TPersistValue_String*> TPersistValue_Object::GetAll_String(bool aSorted) const {
  return Cast<const TPersistValue_String>(GetAll(TPersistValueKind::pvkString, aSorted));
}
std::vector<const TPersistValue_Number*> TPersistValue_Object::GetAll_Number(bool aSorted) const {
  return Cast<const TPersistValue_Number>(GetAll(TPersistValueKind::pvkNumber, aSorted));
}
std::vector<const TPersistValue_Boolean*> TPersistValue_Object::GetAll_Boolean(bool aSorted) const {
  return Cast<const TPersistValue_Boolean>(GetAll(TPersistValueKind::pvkBoolean, aSorted));
}
std::vector<const TPersistValue_Binary*> TPersistValue_Object::GetAll_Binary(bool aSorted) const {
  return Cast<const TPersistValue_Binary>(GetAll(TPersistValueKind::pvkBinary, aSorted));
}

std::vector<std::string> TPersistValue_Object::Keys() const {
  std::vector<std::string> keys;
  keys.reserve(fPairs.size());
  for (const auto& pair : fPairs) {
    keys.push_back(pair.first);
  }
  return keys;
}

std::vector<TPersistValue*> TPersistValue_Object::Values() const {
  std::vector<TPersistValue*> values;
  values.reserve(fPairs.size());
  for (const auto& pair : fPairs) {
    values.push_back(pair.second.get());
  }
  return values;
}

bool TPersistValue_Object::HasKey(std::string_view aKey) const {
  return Find(aKey) < fPairs.size();
}

bool TPersistValue_Object::Remove(std::string_view aKey) {
  const std::size_t i = Find(aKey);
  if (i >= fPairs.size()) {
    return false;
  }
  fPairs.erase(fPairs.begin() + static_cast<std::ptrdiff_t>(i));
  fIndexValid = false;
  fIndex.clear();
  return true;
}

TPersistValuePtr TPersistValue_Object::Take(std::string_view aKey) {
  const std::size_t i = Find(aKey);
  if (i >= fPairs.size()) {
    return nullptr;
  }
  TPersistValuePtr node = std::move(fPairs[i].second);
  Remove(aKey);
  return node;
}

std::vector<TPersistValue_Object::TPair> TPersistValue_Object::TakeAll() {
  std::vector<TPair> pairs = std::move(fPairs);
  Clear();
  return pairs;
}

void TPersistValue_Object::Clear() {
  fPairs.clear();
  fIndex.clear();
  fIndexValid = false;
}

// ---- TPersistValue_Array ----

TPersistValue* TPersistValue_Array::Add_PersistValue(TPersistValuePtr aValue) {
  if (!aValue) {
    return nullptr;
  }
  if (!aValue->ParentPersist()) {
    aValue->SetParentPersist(ParentPersist());
  }
  fItems.push_back(std::move(aValue));
  return fItems.back().get();
}

TPersistValue_Object* TPersistValue_Array::Add_Object() {
  return static_cast<TPersistValue_Object*>(Add_PersistValue(std::make_unique<TPersistValue_Object>(ParentPersist())));
}
TPersistValue_Array* TPersistValue_Array::Add_Array() {
  return static_cast<TPersistValue_Array*>(Add_PersistValue(std::make_unique<TPersistValue_Array>(ParentPersist())));
}
TPersistValue_String* TPersistValue_Array::Add_String(std::string aValue) {
  return static_cast<TPersistValue_String*>(
      Add_PersistValue(std::make_unique<TPersistValue_String>(std::move(aValue), ParentPersist())));
}
TPersistValue_Number* TPersistValue_Array::Add_Number(double aValue) {
  return static_cast<TPersistValue_Number*>(
      Add_PersistValue(std::make_unique<TPersistValue_Number>(aValue, ParentPersist())));
}
TPersistValue_Boolean* TPersistValue_Array::Add_Boolean(bool aValue) {
  return static_cast<TPersistValue_Boolean*>(
      Add_PersistValue(std::make_unique<TPersistValue_Boolean>(aValue, ParentPersist())));
}
TPersistValue_Null* TPersistValue_Array::Add_Null() {
  return static_cast<TPersistValue_Null*>(Add_PersistValue(std::make_unique<TPersistValue_Null>(ParentPersist())));
}
TPersistValue_Binary* TPersistValue_Array::Add_Binary(std::vector<std::uint8_t> aBytes) {
  return static_cast<TPersistValue_Binary*>(
      Add_PersistValue(std::make_unique<TPersistValue_Binary>(std::move(aBytes), ParentPersist())));
}
TPersistValue_Binary* TPersistValue_Array::Add_BinaryFromBase64(std::string_view aBase64) {
  auto bytes = Base64Decode(aBase64);
  return bytes ? Add_Binary(std::move(*bytes)) : nullptr;
}

TPersistValue* TPersistValue_Array::Get_Value(std::size_t aIndex) const {
  return aIndex < fItems.size() ? fItems[aIndex].get() : nullptr;
}
TPersistValue_Object* TPersistValue_Array::Get_Object(std::size_t aIndex) const {
  return As<TPersistValue_Object>(Get_Value(aIndex), TPersistValueKind::pvkObject);
}
TPersistValue_Array* TPersistValue_Array::Get_Array(std::size_t aIndex) const {
  return As<TPersistValue_Array>(Get_Value(aIndex), TPersistValueKind::pvkArray);
}
const TPersistValue_String* TPersistValue_Array::Get_String(std::size_t aIndex) const {
  return As<TPersistValue_String>(Get_Value(aIndex), TPersistValueKind::pvkString);
}
const TPersistValue_Number* TPersistValue_Array::Get_Number(std::size_t aIndex) const {
  return As<TPersistValue_Number>(Get_Value(aIndex), TPersistValueKind::pvkNumber);
}
const TPersistValue_Boolean* TPersistValue_Array::Get_Boolean(std::size_t aIndex) const {
  return As<TPersistValue_Boolean>(Get_Value(aIndex), TPersistValueKind::pvkBoolean);
}
const TPersistValue_Null* TPersistValue_Array::Get_Null(std::size_t aIndex) const {
  return As<TPersistValue_Null>(Get_Value(aIndex), TPersistValueKind::pvkNull);
}
const TPersistValue_Binary* TPersistValue_Array::Get_Binary(std::size_t aIndex) const {
  return As<TPersistValue_Binary>(Get_Value(aIndex), TPersistValueKind::pvkBinary);
}

std::vector<TPersistValue*> TPersistValue_Array::GetAll(TPersistValueKind aKind) const {
  std::vector<TPersistValue*> values;
  for (const auto& item : fItems) {
    if (item->Kind() == aKind) {
      values.push_back(item.get());
    }
  }
  return values;
}
std::vector<TPersistValue_Object*> TPersistValue_Array::GetAll_Object() const {
  return Cast<TPersistValue_Object>(GetAll(TPersistValueKind::pvkObject));
}
std::vector<const TPersistValue_String*> TPersistValue_Array::GetAll_String() const {
  return Cast<const TPersistValue_String>(GetAll(TPersistValueKind::pvkString));
}
std::vector<const TPersistValue_Number*> TPersistValue_Array::GetAll_Number() const {
  return Cast<const TPersistValue_Number>(GetAll(TPersistValueKind::pvkNumber));
}

bool TPersistValue_Array::Delete(std::size_t aIndex) {
  if (aIndex >= fItems.size()) {
    return false;
  }
  fItems.erase(fItems.begin() + static_cast<std::ptrdiff_t>(aIndex));
  return true;
}

bool TPersistValue_Array::Remove(const TPersistValue* aValue) {
  auto it = std::find_if(fItems.begin(), fItems.end(), [aValue](const auto& aItem) { return aItem.get() == aValue; });
  if (it == fItems.end()) {
    return false;
  }
  fItems.erase(it);
  return true;
}

}  // namespace Update::Common
