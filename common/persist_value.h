#pragma once

// The neutral value tree of the object persistence (TPersistValue and its kinds).
//
// The engine (common/persist.h) turns objects and records into such a tree and back; the
// JSON backend (common/persist_json.h) prints and parses it. Hand-written mappings may
// build or walk trees directly with the typed adders and getters below.
//
// Ownership: parents own their children (std::unique_ptr); freeing the root frees the
// tree. The typed getters return non-owning pointers, or nullptr when the key or index is
// missing or the node has another kind. Every node may carry a string-to-string meta
// dictionary that is never printed; a backend may read it (the JSON printer sorts the
// members of an object whose meta dictionary has the key "SortObjectKeys").
//
// Thread: a tree belongs to one thread.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Update::Common {

class TPersist;
class TPersistValue_Object;
class TPersistValue_Array;
class TPersistValue_String;
class TPersistValue_Number;
class TPersistValue_Boolean;
class TPersistValue_Null;
class TPersistValue_Binary;

enum class TPersistValueKind : std::uint8_t {
  pvkObject,
  pvkArray,
  pvkString,
  pvkNumber,
  pvkBoolean,
  pvkNull,
  pvkBinary
};

class TPersistValue {
 public:
  using TMeta = std::map<std::string, std::string, std::less<>>;

  virtual ~TPersistValue() = default;
  TPersistValue(const TPersistValue&) = delete;
  TPersistValue& operator=(const TPersistValue&) = delete;

  TPersistValueKind Kind() const { return fKind; }
  // The engine that created the node; nullptr for nodes built without one.
  TPersist* ParentPersist() const { return fParentPersist; }
  void SetParentPersist(TPersist* aPersist) { fParentPersist = aPersist; }

  void Meta_Add(std::string aKey, std::string aValue);
  // Copies all pairs of aSource (existing keys are overwritten).
  void Meta_Assign(const TPersistValue& aSource);
  bool Meta_HasKey(std::string_view aKey) const;
  std::optional<std::string> Meta_TryGetValue(std::string_view aKey) const;
  const TMeta& Meta() const;

  // Down-casts that return nullptr for another kind.
  TPersistValue_Object* AsObject();
  const TPersistValue_Object* AsObject() const;
  TPersistValue_Array* AsArray();
  const TPersistValue_Array* AsArray() const;
  const TPersistValue_String* AsString() const;
  const TPersistValue_Number* AsNumber() const;
  const TPersistValue_Boolean* AsBoolean() const;
  const TPersistValue_Binary* AsBinary() const;
  bool IsNull() const { return fKind == TPersistValueKind::pvkNull; }

 protected:
  TPersistValue(TPersistValueKind aKind, TPersist* aPersist) : fKind(aKind), fParentPersist(aPersist) {}

 private:
  TPersistValueKind fKind;
  TPersist* fParentPersist;
  std::unique_ptr<TMeta> fMeta;  // allocated on first use: most nodes carry none
};

using TPersistValuePtr = std::unique_ptr<TPersistValue>;

class TPersistValue_String final : public TPersistValue {
 public:
  explicit TPersistValue_String(std::string aValue = {}, TPersist* aPersist = nullptr)
      : TPersistValue(TPersistValueKind::pvkString, aPersist), fValue(std::move(aValue)) {}
  const std::string& Value() const { return fValue; }
  void SetValue(std::string aValue) { fValue = std::move(aValue); }

 private:
  std::string fValue;
};

class TPersistValue_Number final : public TPersistValue {
 public:
  explicit TPersistValue_Number(double aValue = 0, TPersist* aPersist = nullptr)
      : TPersistValue(TPersistValueKind::pvkNumber, aPersist), fValue(aValue) {}
  double Value() const { return fValue; }
  void SetValue(double aValue) { fValue = aValue; }
  // Truncated toward zero; values outside the target range (and NaN) give 0.
  std::int32_t AsInteger() const;
  std::int64_t AsInt64() const;

 private:
  double fValue;
};

class TPersistValue_Boolean final : public TPersistValue {
 public:
  explicit TPersistValue_Boolean(bool aValue = false, TPersist* aPersist = nullptr)
      : TPersistValue(TPersistValueKind::pvkBoolean, aPersist), fValue(aValue) {}
  bool Value() const { return fValue; }
  void SetValue(bool aValue) { fValue = aValue; }

 private:
  bool fValue;
};

class TPersistValue_Null final : public TPersistValue {
 public:
  explicit TPersistValue_Null(TPersist* aPersist = nullptr) : TPersistValue(TPersistValueKind::pvkNull, aPersist) {}
};

class TPersistValue_Binary final : public TPersistValue {
 public:
  explicit TPersistValue_Binary(std::vector<std::uint8_t> aValue = {}, TPersist* aPersist = nullptr)
      : TPersistValue(TPersistValueKind::pvkBinary, aPersist), fValue(std::move(aValue)) {}
  const std::vector<std::uint8_t>& Value() const { return fValue; }
  void SetValue(std::vector<std::uint8_t> aValue) { fValue = std::move(aValue); }
  // The bytes as a mutable buffer (the "stream" of the node).
  std::vector<std::uint8_t>& Stream() { return fValue; }

 private:
  std::vector<std::uint8_t> fValue;
};

// Standard base64 (with "=" padding). Decoding skips line breaks and blanks and returns
// nothing for any other character outside the alphabet or a wrong length.
std::string Base64Encode(const std::uint8_t* aData, std::size_t aSize, std::size_t aLineLength = 0);
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view aText);

class TPersistValue_Object final : public TPersistValue {
 public:
  using TPair = std::pair<std::string, TPersistValuePtr>;

  explicit TPersistValue_Object(TPersist* aPersist = nullptr) : TPersistValue(TPersistValueKind::pvkObject, aPersist) {}

  // Adding a key that exists removes the old node and appends the new one at the end.
  // Adding a null pointer only removes the key. Returns the added node.
  TPersistValue* Add_PersistValue(std::string aKey, TPersistValuePtr aValue);
  TPersistValue_Object* Add_Object(std::string aKey);
  TPersistValue_Array* Add_Array(std::string aKey);
  TPersistValue_String* Add_String(std::string aKey, std::string aValue);
  TPersistValue_Number* Add_Number(std::string aKey, double aValue);
  TPersistValue_Boolean* Add_Boolean(std::string aKey, bool aValue);
  TPersistValue_Null* Add_Null(std::string aKey);
  TPersistValue_Binary* Add_Binary(std::string aKey, std::vector<std::uint8_t> aBytes);
  // From a base64 text; nothing is added (nullptr) when the text is no valid base64.
  TPersistValue_Binary* Add_BinaryFromBase64(std::string aKey, std::string_view aBase64);

  // nullptr when the key is missing or the node has another kind.
  TPersistValue* Get_Value(std::string_view aKey) const;
  TPersistValue_Object* Get_Object(std::string_view aKey) const;
  TPersistValue_Array* Get_Array(std::string_view aKey) const;
  const TPersistValue_String* Get_String(std::string_view aKey) const;
  const TPersistValue_Number* Get_Number(std::string_view aKey) const;
  const TPersistValue_Boolean* Get_Boolean(std::string_view aKey) const;
  const TPersistValue_Null* Get_Null(std::string_view aKey) const;
  const TPersistValue_Binary* Get_Binary(std::string_view aKey) const;

  // All nodes (or key/node pairs) of one kind in member order, or sorted by key
  // (ordinal, case-sensitive) when aSorted.
  std::vector<TPersistValue*> GetAll(TPersistValueKind aKind, bool aSorted = false) const;
  std::vector<std::pair<std::string_view, TPersistValue*>> GetAllPairs(TPersistValueKind aKind,
                                                                       bool aSorted = false) const;
  std::vector<TPersistValue_Object*> GetAll_Object(bool aSorted = false) const;
  std::vector<TPersistValue_Array*> GetAll_Array(bool aSorted = false) const;
  std::vector<const TPersistValue_String*> GetAll_String(bool aSorted = false) const;
  std::vector<const TPersistValue_Number*> GetAll_Number(bool aSorted = false) const;
  std::vector<const TPersistValue_Boolean*> GetAll_Boolean(bool aSorted = false) const;
  std::vector<const TPersistValue_Binary*> GetAll_Binary(bool aSorted = false) const;

  std::size_t Count() const { return fPairs.size(); }
  std::vector<std::string> Keys() const;
  std::vector<TPersistValue*> Values() const;
  // The members in order (or sorted by key).
  std::vector<std::pair<std::string_view, TPersistValue*>> Pairs(bool aSorted = false) const;
  const std::vector<TPair>& Members() const { return fPairs; }
  bool HasKey(std::string_view aKey) const;
  bool Remove(std::string_view aKey);
  // Removes the member and hands its node to the caller (nullptr when missing).
  TPersistValuePtr Take(std::string_view aKey);
  // Removes all members and hands them to the caller, in order.
  std::vector<TPair> TakeAll();
  void Clear();

 private:
  std::vector<TPair> fPairs;
  // Key -> position in fPairs, for large objects only. Built on the first lookup (trees
  // that are only printed never pay for it), kept up to date by appends, dropped by
  // removals.
  mutable std::unordered_map<std::string, std::size_t> fIndex;
  mutable bool fIndexValid = false;
  std::size_t Find(std::string_view aKey) const;
};

class TPersistValue_Array final : public TPersistValue {
 public:
  explicit TPersistValue_Array(TPersist* aPersist = nullptr) : TPersistValue(TPersistValueKind::pvkArray, aPersist) {}

  // A null pointer adds nothing and returns nullptr.
  TPersistValue* Add_PersistValue(TPersistValuePtr aValue);
  TPersistValue_Object* Add_Object();
  TPersistValue_Array* Add_Array();
  TPersistValue_String* Add_String(std::string aValue);
  TPersistValue_Number* Add_Number(double aValue);
  TPersistValue_Boolean* Add_Boolean(bool aValue);
  TPersistValue_Null* Add_Null();
  TPersistValue_Binary* Add_Binary(std::vector<std::uint8_t> aBytes);
  TPersistValue_Binary* Add_BinaryFromBase64(std::string_view aBase64);

  // nullptr for an index out of range or another kind.
  TPersistValue* Get_Value(std::size_t aIndex) const;
  TPersistValue_Object* Get_Object(std::size_t aIndex) const;
  TPersistValue_Array* Get_Array(std::size_t aIndex) const;
  const TPersistValue_String* Get_String(std::size_t aIndex) const;
  const TPersistValue_Number* Get_Number(std::size_t aIndex) const;
  const TPersistValue_Boolean* Get_Boolean(std::size_t aIndex) const;
  const TPersistValue_Null* Get_Null(std::size_t aIndex) const;
  const TPersistValue_Binary* Get_Binary(std::size_t aIndex) const;

  std::vector<TPersistValue*> GetAll(TPersistValueKind aKind) const;
  std::vector<TPersistValue_Object*> GetAll_Object() const;
  std::vector<const TPersistValue_String*> GetAll_String() const;
  std::vector<const TPersistValue_Number*> GetAll_Number() const;

  std::size_t Count() const { return fItems.size(); }
  const std::vector<TPersistValuePtr>& Items() const { return fItems; }
  void Clear() { fItems.clear(); }
  // False for an index out of range.
  bool Delete(std::size_t aIndex);
  // Removes (and frees) the given node; false when it is no element of this array.
  bool Remove(const TPersistValue* aValue);

 private:
  std::vector<TPersistValuePtr> fItems;
};

}  // namespace Update::Common
