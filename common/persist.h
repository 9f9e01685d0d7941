#pragma once

// Object persistence: maps objects and records to the value tree of
// common/persist_value.h and back, by their declared members. The JSON backend
// (common/persist_json.h) prints and parses the tree; most code only calls its
// class-level helpers (TPersist_Json::Record_SaveToJsonString, Object_SaveToJsonString...).
//
// ---- Describing a type -------------------------------------------------------------
// C++ has no run-time reflection, so every persisted record or class describes its
// members once, in a static Describe next to the fields. Member pointers make the
// description type-checked; the order of the calls is the declaration order and
// therefore the order of the JSON members.
//
//   struct TUpdateProgress {                       // a record: a value, all fields saved
//     TUpdateStatus CurrentAction = usIdle;
//     std::int32_t FilesDone = 0;
//     static void Describe(Update::Common::TPersistDescriber<TUpdateProgress>& d) {
//       d.Record("Update.Common.State.TUpdateProgress");
//       d.Field("CurrentAction", &TUpdateProgress::CurrentAction);
//       d.Field("FilesDone", &TUpdateProgress::FilesDone);
//     }
//   };
//
//   class TUpdateModule {                          // a class: instance options apply
//    public:
//     static void Describe(Update::Common::TPersistDescriber<TUpdateModule>& d) {
//       d.Class("Update.Common.Manifest.TUpdateModule");
//       d.Field("fName", &TUpdateModule::fName).Persist("name");     // key "name"
//       d.Field("fCache", &TUpdateModule::fCache).DoNotPersist();
//       d.Property("Count", &TUpdateModule::GetCount, &TUpdateModule::SetCount);
//     }
//    private:
//     std::string fName; ...
//   };
//
// Member attributes (chained on Field/Property): Persist([name]), DoNotPersist(),
// PersistInstance(options), PersistList([clearBeforeLoad], [compact]),
// PersistObjectList(...), Interceptor<TInterceptorClass>(), Meta(key, value).
// Type attributes: the same calls on the describer itself (d.PersistInstance(...),
// d.Interceptor<...>(), d.PersistList(...), d.Meta(...)); d.Base<TParent>() names the
// described base class of a class (its fields come first, "inherited" for
// pidDeclaredFields). A type that cannot carry a member function (a platform type)
// is described by specialising TPersistDescription<T>.
//
// Enumerations are declared with their names once, after the enumeration, in its
// namespace (the values must be 0, 1, 2, ... in order; checked at compile time):
//   enum TUpdateStatus : std::uint8_t { usIdle, usFileChecking, ... };
//   QV_PERSIST_ENUM(TUpdateStatus, "Update.Common.State.TUpdateStatus", usIdle, usFileChecking, ...)
// Sets of an enumeration are TSet<E> (stored as "[a,c]" or as an array of names).
//
// Member types and how they travel: bool; integers (up to 32 bits "Integer", 64 bits
// "Int64"); float/double (NaN and infinities as null); char (one-character text);
// std::string (UTF-8); Platform::TDateTime, TDate, TTime (fixed texts, see
// Platform::TDateTime); std::vector<std::uint8_t> (binary, "data:;base64,..."); described
// enumerations and TSet<E>; std::vector<T> and std::array<T, N> (arrays); described
// records; described classes held by value, by std::unique_ptr<T> (owned, may be nil and
// is created on load with picCreateIfNil) or by T* (not owned, never created); list
// classes (TPersistList<T>, TPersistObjectList<T>, or any class with the shape Add(item),
// Clear(), Count(), operator[] marked PersistList/PersistObjectList). Any other member type
// is skipped (or raises EUnhandledFieldOrPropType with Diag_UnhandledFieldOrPropType).
//
// ---- Contracts -----------------------------------------------------------------------
// Thread: an engine (TPersist) and the trees it creates belong to one thread. The
// process-wide registries and default options are meant to be written during start-up;
// they are guarded by a lock, so later writes are safe but take effect only for engines
// created afterwards (options) or lookups made afterwards (registries).
// Errors: with the default options the engine is lenient (unknown members ignored,
// wrong node kinds give zero values, unmappable types skipped). Exceptions escape only
// from the Diag_ checks the caller switched on, from EConvertError inside a conversion
// (re-raised as "Class.Key: message"), and from interceptors (an invalid GUID text).

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <istream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <utility>
#include <vector>

#include "common/persist_value.h"
#include "platform/datetime/datetime.h"
#include "platform/guid/guid.h"

namespace Update::Common {

// ---- exceptions -----------------------------------------------------------------------

class EPersistException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A conversion failed (strict number or enumeration conversions, invalid GUID texts).
class EConvertError : public EPersistException {
 public:
  using EPersistException::EPersistException;
};
class EUnhandledFieldOrPropType : public EPersistException {
 public:
  using EPersistException::EPersistException;
};
class ETypeNotFound : public EPersistException {
 public:
  using EPersistException::EPersistException;
};
class EListTypeError : public EPersistException {
 public:
  using EPersistException::EPersistException;
};
class EInfiniteLoop : public EPersistException {
 public:
  using EPersistException::EPersistException;
};
class ENoDefaultConstructor : public EPersistException {
 public:
  using EPersistException::EPersistException;
};
class ESuspiciousConstructorChain : public EPersistException {
 public:
  using EPersistException::EPersistException;
};

// ---- options ----------------------------------------------------------------------------

enum TPersistNameConversion : std::uint8_t { pncNone, pncPascalCase_CamelCase };

enum TPersistInstanceData : std::uint8_t {
  pidNone,
  pidFields,
  pidDeclaredFields,
  pidProperties,
  pidDeclaredProperties,
  pidUnchanged
};
enum TPersistInstanceNested : std::uint8_t { pinExcludeNestedInstances, pinIncludedNestedInstances, pinUnchanged };
enum TPersistInstanceCreate : std::uint8_t { picNeverCreate, picCreateIfNil, picUnchanged };
enum TPersistInstanceTypeName : std::uint8_t {
  pitNeverSaveType,
  pitAlwaysSaveType,
  pitSaveTypeInObjectList,
  pitUnchanged
};

// How a class instance is persisted. The one-value constructors leave the other three
// fields "unchanged", so an attribute can override a single aspect.
struct TPersistInstanceOptions {
  TPersistInstanceData PersistInstanceData = pidUnchanged;
  TPersistInstanceNested PersistInstanceNested = pinUnchanged;
  TPersistInstanceCreate PersistInstanceCreate = picUnchanged;
  TPersistInstanceTypeName PersistInstanceTypeName = pitUnchanged;

  constexpr TPersistInstanceOptions() = default;
  constexpr TPersistInstanceOptions(TPersistInstanceData aData, TPersistInstanceNested aNested,
                                    TPersistInstanceCreate aCreate, TPersistInstanceTypeName aTypeName)
      : PersistInstanceData(aData),
        PersistInstanceNested(aNested),
        PersistInstanceCreate(aCreate),
        PersistInstanceTypeName(aTypeName) {}
  constexpr explicit TPersistInstanceOptions(TPersistInstanceData aData) : PersistInstanceData(aData) {}
  constexpr explicit TPersistInstanceOptions(TPersistInstanceNested aNested) : PersistInstanceNested(aNested) {}
  constexpr explicit TPersistInstanceOptions(TPersistInstanceCreate aCreate) : PersistInstanceCreate(aCreate) {}
  constexpr explicit TPersistInstanceOptions(TPersistInstanceTypeName aTypeName) : PersistInstanceTypeName(aTypeName) {}

  friend constexpr bool operator==(const TPersistInstanceOptions&, const TPersistInstanceOptions&) = default;
};

inline constexpr TPersistInstanceOptions InstanceOptions_Save{pidFields, pinExcludeNestedInstances, picNeverCreate,
                                                              pitNeverSaveType};
inline constexpr TPersistInstanceOptions InstanceOptions_Load{pidFields, pinIncludedNestedInstances, picNeverCreate,
                                                              pitSaveTypeInObjectList};

// ---- value types with their own persisted form -------------------------------------------

// A date without time ("yyyy-mm-dd") and a time without date ("hh:nn:ss.zzz").
class TDate : public Platform::TDateTime {
 public:
  using Platform::TDateTime::TDateTime;
  constexpr TDate(Platform::TDateTime aValue) : Platform::TDateTime(aValue) {}  // NOLINT: implicit on purpose
};
class TTime : public Platform::TDateTime {
 public:
  using Platform::TDateTime::TDateTime;
  constexpr TTime(Platform::TDateTime aValue) : Platform::TDateTime(aValue) {}  // NOLINT: implicit on purpose
};

// A set of a described enumeration with at most 64 values.
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> aValues) {
    for (E value : aValues) {
      Include(value);
    }
  }
  static constexpr TSet FromMask(std::uint64_t aMask) {
    TSet set;
    set.fMask = aMask;
    return set;
  }
  constexpr std::uint64_t Mask() const { return fMask; }
  constexpr void Include(E aValue) { fMask |= Bit(aValue); }
  constexpr void Exclude(E aValue) { fMask &= ~Bit(aValue); }
  constexpr bool Contains(E aValue) const { return (fMask & Bit(aValue)) != 0; }
  constexpr bool IsEmpty() const { return fMask == 0; }
  friend constexpr bool operator==(TSet, TSet) = default;

 private:
  static constexpr std::uint64_t Bit(E aValue) { return std::uint64_t{1} << static_cast<unsigned>(aValue); }
  std::uint64_t fMask = 0;
};

// ---- enumerations ----------------------------------------------------------------------------

struct TPersistEnumInfo {
  std::string QualifiedName;
  std::vector<std::string> Names;  // index = ordinal

  // The ordinal of a declared name (exact case), or -1.
  int IndexOf(std::string_view aName) const;
  // Splits the stringised value list of QV_PERSIST_ENUM ("a, b, c").
  static TPersistEnumInfo FromList(std::string aQualifiedName, std::string_view aNames);
};

namespace Detail {
template <class TArray>
constexpr bool IsSequential(const TArray& aValues) {
  for (std::size_t i = 0; i < aValues.size(); ++i) {
    if (static_cast<std::size_t>(aValues[i]) != i) {
      return false;
    }
  }
  return true;
}
}  // namespace Detail

// Declares the names of an enumeration (see the top of this header). Use at namespace
// scope, in the enumeration's namespace.
#define QV_PERSIST_ENUM(aType, aQualifiedName, ...)                                                 \
  [[maybe_unused]] inline const ::Update::Common::TPersistEnumInfo& PersistEnumInfo(const aType*) { \
    static constexpr auto kValues = [] {                                                            \
      using enum aType;                                                                             \
      return std::array<aType, std::initializer_list<aType>{__VA_ARGS__}.size()>{__VA_ARGS__};      \
    }();                                                                                            \
    static_assert(::Update::Common::Detail::IsSequential(kValues),                                  \
                  "QV_PERSIST_ENUM: list every value of " #aType " in order, starting at 0");       \
    static const ::Update::Common::TPersistEnumInfo kInfo =                                         \
        ::Update::Common::TPersistEnumInfo::FromList(aQualifiedName, #__VA_ARGS__);                 \
    return kInfo;                                                                                   \
  }

template <class E>
concept TPersistEnum = std::is_enum_v<E> && requires(const E* aProbe) {
  { PersistEnumInfo(aProbe) } -> std::same_as<const TPersistEnumInfo&>;
};

template <TPersistEnum E>
const TPersistEnumInfo& PersistEnumInfoOf() {
  return PersistEnumInfo(static_cast<const E*>(nullptr));
}

// The declared name of a value ("" when out of range).
template <TPersistEnum E>
std::string PersistEnumName(E aValue) {
  const auto& names = PersistEnumInfoOf<E>().Names;
  const auto index = static_cast<std::size_t>(aValue);
  return index < names.size() ? names[index] : std::string();
}

// ---- type information -------------------------------------------------------------------------

class TPersist;
class TRecordInterceptor;
class TInstanceInterceptor;
struct TPersistTypeInfo;

using TPersistTypeGetter = const TPersistTypeInfo& (*)();
using TRecordInterceptorFactory = std::unique_ptr<TRecordInterceptor> (*)(TPersist&);
using TInstanceInterceptorFactory = std::unique_ptr<TInstanceInterceptor> (*)(TPersist&);

enum class TPersistTypeKind : std::uint8_t {
  ptkUnhandled,
  ptkBoolean,
  ptkInteger,  // up to 32 bits
  ptkInt64,
  ptkFloat,
  ptkChar,
  ptkString,
  ptkEnumeration,
  ptkSet,
  ptkDate,
  ptkTime,
  ptkDateTime,
  ptkBytes,
  ptkArray,     // std::vector<T> (dynamic) or std::array<T, N> (static)
  ptkRecord,    // described value type: every field saved
  ptkClass,     // described class held by value
  ptkClassRef,  // std::unique_ptr<T> or T* of a described class
};

struct TPersistListAttribute {
  bool ObjectList = false;
  bool ClearBeforeLoad = true;
  std::optional<bool> Compact;  // unset: TPersist::TOptions::AutoList_Compact
};

// The attributes a member or a type may carry.
struct TPersistAttributes {
  bool HasPersist = false;
  std::string PersistName;  // empty: the declared (converted) name
  bool DoNotPersist = false;
  std::vector<TPersistInstanceOptions> InstanceOptions;  // merged in order
  std::optional<TPersistListAttribute> List;
  TRecordInterceptorFactory RecordInterceptor = nullptr;
  TInstanceInterceptorFactory InstanceInterceptor = nullptr;
  std::vector<std::pair<std::string, std::string>> Meta;
};

// One field or property of a record or class.
struct TPersistMember {
  std::string Name;  // declared name
  bool IsProperty = false;
  bool Declared = true;  // false in the flattened member list for inherited members
  TPersistTypeGetter Type = nullptr;
  // Field: the address of the value inside the object.
  std::function<void*(void*)> Field;
  // Property: reads into / writes from a value of the member type; Set is empty for a
  // read-only property.
  std::function<void(const void*, void*)> Get;
  std::function<void(void*, const void*)> Set;
  TPersistAttributes Attributes;
};

struct TPersistTypeInfo {
  std::string QualifiedName;
  TPersistTypeKind Kind = TPersistTypeKind::ptkUnhandled;
  std::type_index TypeId = typeid(void);

  // Every type: a heap value (value-initialised), its disposal, assignment of the zero value.
  void* (*Create)() = nullptr;  // nullptr: not default-constructible
  void (*Destroy)(void*) = nullptr;
  void (*Zero)(void*) = nullptr;

  // Numbers, booleans, characters, enumerations (ordinal), sets (mask), dates.
  double (*GetFloat)(const void*) = nullptr;
  void (*SetFloat)(void*, double) = nullptr;
  std::int64_t (*GetOrdinal)(const void*) = nullptr;
  void (*SetOrdinal)(void*, std::int64_t) = nullptr;
  double MinValue = 0;  // integer range
  double MaxValue = 0;
  const TPersistEnumInfo* Enum = nullptr;  // enumeration, or the base of a set

  // Arrays.
  TPersistTypeGetter Element = nullptr;
  bool DynamicArray = false;
  std::size_t (*Count)(const void*) = nullptr;
  const void* (*At)(const void*, std::size_t) = nullptr;
  void* (*AtMut)(void*, std::size_t) = nullptr;
  void (*Resize)(void*, std::size_t) = nullptr;  // dynamic arrays only

  // Records and classes.
  std::vector<TPersistMember> Members;  // declared by this type, in order
  TPersistTypeGetter Base = nullptr;
  void* (*ToBase)(void*) = nullptr;
  const void* (*MostDerived)(const void*) = nullptr;  // start of the complete object
  std::type_index (*DynamicType)(const void*) = nullptr;
  TPersistAttributes Attributes;

  // Lists (classes with Add/Clear/Count/operator[]).
  TPersistTypeGetter ListItem = nullptr;
  bool GenericList = false;      // TPersistList / TPersistObjectList or a subclass
  bool ObjectListShape = false;  // the items are class references
  void (*ListClear)(void*) = nullptr;
  void (*ListAdd)(void*, void*) = nullptr;  // moves the item out of the second argument
  std::size_t (*ListCount)(const void*) = nullptr;
  const void* (*ListAt)(const void*, std::size_t) = nullptr;

  // Class references.
  TPersistTypeGetter Target = nullptr;
  bool OwningRef = false;
  void* (*GetRef)(const void*) = nullptr;
  void (*SetRef)(void*, void*) = nullptr;  // takes ownership (owning references only)

  bool IsClassTyped() const { return Kind == TPersistTypeKind::ptkClass || Kind == TPersistTypeKind::ptkClassRef; }
  bool IsListShaped() const { return ListAdd != nullptr; }
  // All members, base classes first; Declared is false for inherited ones.
  std::vector<const TPersistMember*> AllMembers(bool aDeclaredOnly) const;
};

template <class T>
const TPersistTypeInfo& PersistTypeOf();

// Describes T; specialise for a type that cannot carry a static Describe.
template <class T>
struct TPersistDescription;

template <class T>
class TPersistDescriber;

template <class T>
concept TPersistDescribed = requires(TPersistDescriber<T>& aDescriber) {
  TPersistDescription<T>::Describe(aDescriber);
};

template <class T>
struct TPersistDescription {
  static void Describe(TPersistDescriber<T>& aDescriber) requires requires { T::Describe(aDescriber); }
  { T::Describe(aDescriber); }
};

namespace Detail {

void RegisterClassType(const TPersistTypeInfo& aType);

template <class T>
void* CreateValue() {
  if constexpr (std::is_default_constructible_v<T>) {
    return new T{};
  } else {
    return nullptr;
  }
}
template <class T>
void DestroyValue(void* aValue) {
  delete static_cast<T*>(aValue);
}
template <class T>
void ZeroValue(void* aValue) {
  if constexpr (std::is_copy_assignable_v<T> && std::is_default_constructible_v<T>) {
    *static_cast<T*>(aValue) = T{};
  } else if constexpr (std::is_move_assignable_v<T> && std::is_default_constructible_v<T>) {
    *static_cast<T*>(aValue) = T{};
  }
}

template <class T>
TPersistTypeInfo BasicInfo(std::string aName, TPersistTypeKind aKind) {
  TPersistTypeInfo info;
  info.QualifiedName = std::move(aName);
  info.Kind = aKind;
  info.TypeId = typeid(T);
  if constexpr (std::is_default_constructible_v<T> && std::is_destructible_v<T>) {
    info.Create = &CreateValue<T>;
  }
  info.Destroy = &DestroyValue<T>;
  info.Zero = &ZeroValue<T>;
  return info;
}

template <class T>
struct IsStdVector : std::false_type {};
template <class T, class A>
struct IsStdVector<std::vector<T, A>> : std::true_type {};
template <class T>
struct IsStdArray : std::false_type {};
template <class T, std::size_t N>
struct IsStdArray<std::array<T, N>> : std::true_type {};
template <class T>
struct IsTSet : std::false_type {};
template <class E>
struct IsTSet<TSet<E>> : std::true_type {};
template <class T>
struct IsUniquePtr : std::false_type {};
template <class T>
struct IsUniquePtr<std::unique_ptr<T>> : std::true_type {};

template <class T>
struct RefTarget {
  using Type = std::remove_cv_t<std::remove_pointer_t<T>>;
};
template <class T>
struct RefTarget<std::unique_ptr<T>> {
  using Type = T;
};

template <class L>
concept ListShaped = requires(L& aList, const L& aConstList, typename L::value_type aItem) {
  typename L::value_type;
  aList.Clear();
  aList.Add(std::move(aItem));
  { aConstList.Count() } -> std::convertible_to<std::size_t>;
  aConstList[std::size_t{0}];
};

template <class T>
std::string ItemName();
template <class T>
TPersistTypeInfo MakeSetInfo();

}  // namespace Detail

// Collects the description of T; passed to T::Describe. See the top of this header.
template <class T>
class TPersistDescriber {
 public:
  // Chains attributes onto the member just added.
  class TMemberBuilder {
   public:
    TMemberBuilder(TPersistTypeInfo& aInfo, std::size_t aIndex) : fInfo(aInfo), fIndex(aIndex) {}
    // Persisted even when members are not included by default; a non-empty name is the key.
    TMemberBuilder& Persist(std::string aName = {}) {
      Attr().HasPersist = true;
      Attr().PersistName = std::move(aName);
      return *this;
    }
    TMemberBuilder& DoNotPersist() {
      Attr().DoNotPersist = true;
      return *this;
    }
    TMemberBuilder& PersistInstance(TPersistInstanceOptions aOptions) {
      Attr().InstanceOptions.push_back(aOptions);
      return *this;
    }
    TMemberBuilder& PersistList(bool aClearBeforeLoad = true, std::optional<bool> aCompact = std::nullopt) {
      Attr().List = TPersistListAttribute{false, aClearBeforeLoad, aCompact};
      return *this;
    }
    TMemberBuilder& PersistObjectList(bool aClearBeforeLoad = true, std::optional<bool> aCompact = std::nullopt) {
      Attr().List = TPersistListAttribute{true, aClearBeforeLoad, aCompact};
      return *this;
    }
    template <class TInterceptor>
    TMemberBuilder& Interceptor();
    TMemberBuilder& Meta(std::string aKey, std::string aValue) {
      Attr().Meta.emplace_back(std::move(aKey), std::move(aValue));
      return *this;
    }

   private:
    TPersistAttributes& Attr() { return fInfo.Members[fIndex].Attributes; }
    TPersistTypeInfo& fInfo;
    std::size_t fIndex;
  };

  explicit TPersistDescriber(TPersistTypeInfo& aInfo) : fInfo(aInfo) {}

  // A value type: saved with all fields, loaded into a fresh zero value.
  void Record(std::string aQualifiedName) {
    fInfo.QualifiedName = std::move(aQualifiedName);
    fInfo.Kind = TPersistTypeKind::ptkRecord;
  }
  // A class: saved and loaded under the instance options.
  void Class(std::string aQualifiedName) {
    fInfo.QualifiedName = std::move(aQualifiedName);
    fInfo.Kind = TPersistTypeKind::ptkClass;
  }
  template <class TBase>
  void Base() {
    static_assert(std::is_base_of_v<TBase, T> && !std::is_same_v<TBase, T>, "Base<B>: B must be a base class of T");
    static_assert(TPersistDescribed<TBase>, "Base<B>: B must be described");
    fInfo.Base = &PersistTypeOf<TBase>;
    fInfo.ToBase = [](void* aValue) -> void* { return static_cast<TBase*>(static_cast<T*>(aValue)); };
  }

  template <class TValue, class TOwner>
  TMemberBuilder Field(std::string aName, TValue TOwner::*aMember) {
    static_assert(std::is_base_of_v<TOwner, T>, "Field: the member must belong to the described type");
    TPersistMember member;
    member.Name = std::move(aName);
    member.Type = &PersistTypeOf<TValue>;
    member.Field = [aMember](void* aObject) -> void* { return &(static_cast<T*>(aObject)->*aMember); };
    fInfo.Members.push_back(std::move(member));
    return TMemberBuilder(fInfo, fInfo.Members.size() - 1);
  }

  // A property with a getter (returning the value or a reference to it) and an optional
  // setter (taking the value).
  template <class TGetter>
  TMemberBuilder Property(std::string aName, TGetter aGetter) {
    return AddProperty<TGetter, std::nullptr_t>(std::move(aName), aGetter, nullptr);
  }
  template <class TGetter, class TSetter>
  TMemberBuilder Property(std::string aName, TGetter aGetter, TSetter aSetter) {
    return AddProperty<TGetter, TSetter>(std::move(aName), aGetter, aSetter);
  }

  // Type attributes.
  void PersistInstance(TPersistInstanceOptions aOptions) { fInfo.Attributes.InstanceOptions.push_back(aOptions); }
  void PersistList(bool aClearBeforeLoad = true, std::optional<bool> aCompact = std::nullopt) {
    fInfo.Attributes.List = TPersistListAttribute{false, aClearBeforeLoad, aCompact};
  }
  void PersistObjectList(bool aClearBeforeLoad = true, std::optional<bool> aCompact = std::nullopt) {
    fInfo.Attributes.List = TPersistListAttribute{true, aClearBeforeLoad, aCompact};
  }
  template <class TInterceptor>
  void Interceptor();
  void Meta(std::string aKey, std::string aValue) {
    fInfo.Attributes.Meta.emplace_back(std::move(aKey), std::move(aValue));
  }

 private:
  template <class TGetter, class TSetter>
  TMemberBuilder AddProperty(std::string aName, TGetter aGetter, TSetter aSetter) {
    using TValue = std::remove_cvref_t<std::invoke_result_t<TGetter, const T&>>;
    TPersistMember member;
    member.Name = std::move(aName);
    member.IsProperty = true;
    member.Type = &PersistTypeOf<TValue>;
    member.Get = [aGetter](const void* aObject, void* aValue) {
      *static_cast<TValue*>(aValue) = std::invoke(aGetter, *static_cast<const T*>(aObject));
    };
    if constexpr (!std::is_same_v<TSetter, std::nullptr_t>) {
      member.Set = [aSetter](void* aObject, const void* aValue) {
        std::invoke(aSetter, *static_cast<T*>(aObject), *static_cast<const TValue*>(aValue));
      };
    }
    fInfo.Members.push_back(std::move(member));
    return TMemberBuilder(fInfo, fInfo.Members.size() - 1);
  }

  TPersistTypeInfo& fInfo;
};

// Generic lists recognised without attributes (unless AutoList_RequireAttributes).
// TPersistList<T> holds values; TPersistObjectList<T> owns its objects.
template <class T>
class TPersistList {
 public:
  using value_type = T;
  static constexpr bool IsGenericList = true;

  void Add(T aItem) { fItems.push_back(std::move(aItem)); }
  void Clear() { fItems.clear(); }
  std::size_t Count() const { return fItems.size(); }
  const T& operator[](std::size_t aIndex) const { return fItems.at(aIndex); }
  T& operator[](std::size_t aIndex) { return fItems.at(aIndex); }
  auto begin() const { return fItems.begin(); }
  auto end() const { return fItems.end(); }
  std::vector<T>& Items() { return fItems; }

  static void Describe(TPersistDescriber<TPersistList>& d) {
    d.Class("System.Generics.Collections.TList<" + Detail::ItemName<T>() + ">");
  }

 private:
  std::vector<T> fItems;
};

template <class T>
class TPersistObjectList {
 public:
  using value_type = std::unique_ptr<T>;
  static constexpr bool IsGenericList = true;

  void Add(std::unique_ptr<T> aItem) { fItems.push_back(std::move(aItem)); }
  T* New() {
    fItems.push_back(std::make_unique<T>());
    return fItems.back().get();
  }
  void Clear() { fItems.clear(); }
  std::size_t Count() const { return fItems.size(); }
  const std::unique_ptr<T>& operator[](std::size_t aIndex) const { return fItems.at(aIndex); }
  auto begin() const { return fItems.begin(); }
  auto end() const { return fItems.end(); }

  static void Describe(TPersistDescriber<TPersistObjectList>& d) {
    d.Class("System.Generics.Collections.TObjectList<" + Detail::ItemName<T>() + ">");
  }

 private:
  std::vector<std::unique_ptr<T>> fItems;
};

namespace Detail {

template <class T>
TPersistTypeInfo MakeTypeInfo() {
  using namespace std::string_literals;
  if constexpr (std::is_same_v<T, bool>) {
    auto info = BasicInfo<T>("System.Boolean", TPersistTypeKind::ptkBoolean);
    info.GetOrdinal = [](const void* v) -> std::int64_t { return *static_cast<const bool*>(v) ? 1 : 0; };
    info.SetOrdinal = [](void* v, std::int64_t o) { *static_cast<bool*>(v) = o != 0; };
    return info;
  } else if constexpr (std::is_same_v<T, char>) {
    auto info = BasicInfo<T>("System.Char", TPersistTypeKind::ptkChar);
    info.GetOrdinal = [](const void* v) -> std::int64_t {
      return static_cast<unsigned char>(*static_cast<const char*>(v));
    };
    info.SetOrdinal = [](void* v, std::int64_t o) { *static_cast<char*>(v) = static_cast<char>(o); };
    return info;
  } else if constexpr (std::is_integral_v<T>) {
    const bool wide = sizeof(T) > 4;
    auto info = BasicInfo<T>(wide ? (std::is_signed_v<T> ? "System.Int64" : "System.UInt64")
                                  : (std::is_signed_v<T> ? "System.Integer" : "System.Cardinal"),
                             wide ? TPersistTypeKind::ptkInt64 : TPersistTypeKind::ptkInteger);
    info.GetFloat = [](const void* v) -> double { return static_cast<double>(*static_cast<const T*>(v)); };
    info.SetFloat = [](void* v, double d) { *static_cast<T*>(v) = static_cast<T>(d); };
    info.GetOrdinal = [](const void* v) -> std::int64_t {
      return static_cast<std::int64_t>(*static_cast<const T*>(v));
    };
    info.SetOrdinal = [](void* v, std::int64_t o) { *static_cast<T*>(v) = static_cast<T>(o); };
    info.MinValue = static_cast<double>(std::numeric_limits<T>::min());
    info.MaxValue = static_cast<double>(std::numeric_limits<T>::max());
    return info;
  } else if constexpr (std::is_floating_point_v<T>) {
    auto info = BasicInfo<T>(sizeof(T) == 4 ? "System.Single" : "System.Double", TPersistTypeKind::ptkFloat);
    info.GetFloat = [](const void* v) -> double { return static_cast<double>(*static_cast<const T*>(v)); };
    info.SetFloat = [](void* v, double d) { *static_cast<T*>(v) = static_cast<T>(d); };
    return info;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return BasicInfo<T>("System.string", TPersistTypeKind::ptkString);
  } else if constexpr (std::is_same_v<T, TDate> || std::is_same_v<T, TTime> || std::is_same_v<T, Platform::TDateTime>) {
    auto info = BasicInfo<T>(std::is_same_v<T, TDate>   ? "System.TDate"
                             : std::is_same_v<T, TTime> ? "System.TTime"
                                                        : "System.TDateTime",
                             std::is_same_v<T, TDate>   ? TPersistTypeKind::ptkDate
                             : std::is_same_v<T, TTime> ? TPersistTypeKind::ptkTime
                                                        : TPersistTypeKind::ptkDateTime);
    info.GetFloat = [](const void* v) -> double { return static_cast<const T*>(v)->Value(); };
    info.SetFloat = [](void* v, double d) { *static_cast<T*>(v) = T(Platform::TDateTime(d)); };
    return info;
  } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
    return BasicInfo<T>("System.SysUtils.TBytes", TPersistTypeKind::ptkBytes);
  } else if constexpr (TPersistEnum<T>) {
    const TPersistEnumInfo& names = PersistEnumInfoOf<T>();
    auto info = BasicInfo<T>(names.QualifiedName, TPersistTypeKind::ptkEnumeration);
    info.Enum = &names;
    info.GetOrdinal = [](const void* v) -> std::int64_t {
      return static_cast<std::int64_t>(*static_cast<const T*>(v));
    };
    info.SetOrdinal = [](void* v, std::int64_t o) { *static_cast<T*>(v) = static_cast<T>(o); };
    return info;
  } else if constexpr (IsTSet<T>::value) {
    return MakeSetInfo<T>();
  } else if constexpr (IsStdVector<T>::value || IsStdArray<T>::value) {
    using E = typename T::value_type;
    auto info = BasicInfo<T>("System.TArray<"s + ItemName<E>() + ">", TPersistTypeKind::ptkArray);
    info.Element = &PersistTypeOf<E>;
    info.DynamicArray = IsStdVector<T>::value;
    info.Count = [](const void* v) -> std::size_t { return static_cast<const T*>(v)->size(); };
    info.At = [](const void* v, std::size_t i) -> const void* { return &(*static_cast<const T*>(v))[i]; };
    info.AtMut = [](void* v, std::size_t i) -> void* { return &(*static_cast<T*>(v))[i]; };
    if constexpr (IsStdVector<T>::value) {
      info.Resize = [](void* v, std::size_t n) { static_cast<T*>(v)->resize(n); };
    }
    return info;
  } else if constexpr (IsUniquePtr<T>::value || std::is_pointer_v<T>) {
    using C = typename RefTarget<T>::Type;
    static_assert(TPersistDescribed<C>, "a persisted object reference must point to a described class");
    auto info = BasicInfo<T>(ItemName<C>(), TPersistTypeKind::ptkClassRef);
    info.Target = &PersistTypeOf<C>;
    info.OwningRef = IsUniquePtr<T>::value;
    if constexpr (IsUniquePtr<T>::value) {
      info.GetRef = [](const void* v) -> void* { return static_cast<const T*>(v)->get(); };
      info.SetRef = [](void* v, void* aTarget) { static_cast<T*>(v)->reset(static_cast<C*>(aTarget)); };
    } else {
      info.GetRef = [](const void* v) -> void* { return const_cast<C*>(*static_cast<const T*>(v)); };
    }
    return info;
  } else if constexpr (TPersistDescribed<T>) {
    auto info = BasicInfo<T>(typeid(T).name(), TPersistTypeKind::ptkRecord);
    TPersistDescriber<T> describer(info);
    TPersistDescription<T>::Describe(describer);
    info.TypeId = typeid(T);
    info.MostDerived = [](const void* v) -> const void* {
      if constexpr (std::is_polymorphic_v<T>) {
        return dynamic_cast<const void*>(static_cast<const T*>(v));
      } else {
        return v;
      }
    };
    info.DynamicType = [](const void* v) -> std::type_index { return typeid(*static_cast<const T*>(v)); };
    if constexpr (ListShaped<T>) {
      using I = typename T::value_type;
      info.ListItem = &PersistTypeOf<I>;
      info.ObjectListShape = IsUniquePtr<I>::value || std::is_pointer_v<I>;
      if constexpr (requires { T::IsGenericList; }) {
        info.GenericList = T::IsGenericList;
      }
      info.ListClear = [](void* v) { static_cast<T*>(v)->Clear(); };
      info.ListAdd = [](void* v, void* aItem) { static_cast<T*>(v)->Add(std::move(*static_cast<I*>(aItem))); };
      info.ListCount = [](const void* v) -> std::size_t {
        return static_cast<std::size_t>(static_cast<const T*>(v)->Count());
      };
      info.ListAt = [](const void* v, std::size_t i) -> const void* { return &(*static_cast<const T*>(v))[i]; };
    }
    return info;
  } else {
    return BasicInfo<T>(typeid(T).name(), TPersistTypeKind::ptkUnhandled);
  }
}

template <class E>
struct SetElement;
template <class E>
struct SetElement<TSet<E>> {
  using Type = E;
};

template <class T>
TPersistTypeInfo MakeSetInfo() {
  using E = typename SetElement<T>::Type;
  static_assert(TPersistEnum<E>, "TSet<E>: E must be declared with QV_PERSIST_ENUM");
  const TPersistEnumInfo& names = PersistEnumInfoOf<E>();
  auto info = BasicInfo<T>("set of " + names.QualifiedName, TPersistTypeKind::ptkSet);
  info.Enum = &names;
  info.GetOrdinal = [](const void* v) -> std::int64_t {
    return static_cast<std::int64_t>(static_cast<const T*>(v)->Mask());
  };
  info.SetOrdinal = [](void* v, std::int64_t o) { *static_cast<T*>(v) = T::FromMask(static_cast<std::uint64_t>(o)); };
  return info;
}

template <class T>
std::string ItemName() {
  return PersistTypeOf<T>().QualifiedName;
}

}  // namespace Detail

// The description of T, built on first use (thread-safe).
template <class T>
const TPersistTypeInfo& PersistTypeOf() {
  static const TPersistTypeInfo kInfo = Detail::MakeTypeInfo<T>();
  // Classes are found by name ("@Type") and by their dynamic type once described.
  [[maybe_unused]] static const bool kRegistered = [] {
    if (kInfo.Kind == TPersistTypeKind::ptkClass) {
      Detail::RegisterClassType(kInfo);
    }
    return true;
  }();
  return kInfo;
}

// Makes a class known by its qualified name (for "@Type" on load) before it is first
// used, e.g. a derived class stored through a reference to its base.
template <class T>
void RegisterPersistClass() {
  (void)PersistTypeOf<T>();
}

// ---- interceptors -----------------------------------------------------------------------

// Created by the engine that uses it (one instance per engine and interceptor class).
class TCustomInterceptor {
 public:
  explicit TCustomInterceptor(TPersist& aPersist) : fPersist(aPersist) {}
  virtual ~TCustomInterceptor() = default;
  TPersist& Persist() const { return fPersist; }

 private:
  TPersist& fPersist;
};

// Converts a record type to a node of its own choosing and back.
class TRecordInterceptor : public TCustomInterceptor {
 public:
  using TCustomInterceptor::TCustomInterceptor;
  // The node for aRecord (nullptr: nothing is added).
  virtual TPersistValuePtr FromRecord(const void* aRecord, const TPersistTypeInfo& aType,
                                      const TPersistMember* aFieldOrProperty) = 0;
  // Writes the record read from aSource into aRecord; false ("empty") leaves aRecord as
  // it was.
  virtual bool ToRecord(const TPersistValue* aSource, const TPersistTypeInfo& aType, void* aRecord,
                        const TPersistMember* aFieldOrProperty) = 0;
};

// Typed base: derive and implement the two typed operations.
template <class TRecord>
class TTypedRecordInterceptor : public TRecordInterceptor {
 public:
  using TRecordInterceptor::TRecordInterceptor;
  virtual TPersistValuePtr FromRecordValue(const TRecord& aRecord) = 0;
  virtual std::optional<TRecord> ToRecordValue(const TPersistValue* aSource) = 0;

  TPersistValuePtr FromRecord(const void* aRecord, const TPersistTypeInfo&, const TPersistMember*) final {
    return FromRecordValue(*static_cast<const TRecord*>(aRecord));
  }
  bool ToRecord(const TPersistValue* aSource, const TPersistTypeInfo&, void* aRecord, const TPersistMember*) final {
    auto value = ToRecordValue(aSource);
    if (!value) {
      return false;
    }
    *static_cast<TRecord*>(aRecord) = std::move(*value);
    return true;
  }
};

// Saves and loads a class instance under the key aName of the parent object node. For
// the root instance of a save or load aName is empty and aParent is the instance's own
// node: the interceptor then writes or reads its members directly.
class TInstanceInterceptor : public TCustomInterceptor {
 public:
  using TCustomInterceptor::TCustomInterceptor;
  virtual void Persist_InstanceValues(TPersistValue_Object& aParent, const std::string& aName,
                                      const TPersistInstanceOptions& aInstanceOptions,
                                      const TPersistMember* aFieldOrProperty, const void* aInstance,
                                      const TPersistTypeInfo& aType) = 0;
  virtual void Load_InstanceValues(const TPersistValue_Object& aParent, const std::string& aName,
                                   const TPersistInstanceOptions& aInstanceOptions,
                                   const TPersistMember* aFieldOrProperty, void* aInstance,
                                   const TPersistTypeInfo& aType) = 0;
};

// The GUID record as its registry text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; a
// missing or empty text reads as "empty"; an invalid text raises EConvertError.
// Registered process-wide for Platform::TGUID at start-up.
class TGuidInterceptor final : public TTypedRecordInterceptor<Platform::TGUID> {
 public:
  using TTypedRecordInterceptor::TTypedRecordInterceptor;
  TPersistValuePtr FromRecordValue(const Platform::TGUID& aRecord) override;
  std::optional<Platform::TGUID> ToRecordValue(const TPersistValue* aSource) override;
};

template <>
struct TPersistDescription<Platform::TGUID> {
  static void Describe(TPersistDescriber<Platform::TGUID>& d) {
    d.Record("System.TGUID");
    d.Field("D1", &Platform::TGUID::D1);
    d.Field("D2", &Platform::TGUID::D2);
    d.Field("D3", &Platform::TGUID::D3);
    d.Field("D4", &Platform::TGUID::D4);
  }
};

namespace Detail {
template <class TInterceptor>
void SetInterceptor(TPersistAttributes& aAttributes) {
  if constexpr (std::is_base_of_v<TRecordInterceptor, TInterceptor>) {
    aAttributes.RecordInterceptor = [](TPersist& aPersist) -> std::unique_ptr<TRecordInterceptor> {
      return std::make_unique<TInterceptor>(aPersist);
    };
  } else {
    static_assert(std::is_base_of_v<TInstanceInterceptor, TInterceptor>,
                  "Interceptor<I>: I must derive from TRecordInterceptor or TInstanceInterceptor");
    aAttributes.InstanceInterceptor = [](TPersist& aPersist) -> std::unique_ptr<TInstanceInterceptor> {
      return std::make_unique<TInterceptor>(aPersist);
    };
  }
}
}  // namespace Detail

template <class T>
template <class TInterceptor>
typename TPersistDescriber<T>::TMemberBuilder& TPersistDescriber<T>::TMemberBuilder::Interceptor() {
  Detail::SetInterceptor<TInterceptor>(Attr());
  return *this;
}

template <class T>
template <class TInterceptor>
void TPersistDescriber<T>::Interceptor() {
  Detail::SetInterceptor<TInterceptor>(fInfo.Attributes);
}

// ---- the engine ---------------------------------------------------------------------------

// An instance created by CreateInstance: the complete object and its description.
struct TPersistInstance {
  void* Instance = nullptr;
  const TPersistTypeInfo* Type = nullptr;
};

class TPersist {
 public:
  struct TOptions {
    bool AutoList_RequireAttributes = false;
    bool AutoList_Compact = false;
    bool PersistEnumAsString = true;
    bool PersistSetAsArray = false;
    bool AllowLoadFromUntyped = false;
    TPersistNameConversion NameConversion = pncNone;
    std::string NameItemsArray = "@Items";
    std::string NameTypeString = "@Type";
    bool Diag_NumberConvertError = false;
    bool Diag_EnumConvertError = false;
    bool Diag_UnhandledFieldOrPropType = false;
    bool Diag_TypeNotFound = false;
    bool Diag_ListTypeError = false;
    bool Diag_InfiniteLoop = false;
    bool Diag_NoDefaultConstructor = false;
    bool Diag_SuspiciousConstructorChain = false;
  };

  // A copy of the process-wide default options (what a new engine starts with), and
  // their replacement (start-up only).
  static TOptions DefaultOptions();
  static void SetDefaultOptions(const TOptions& aOptions);

  TPersist();
  ~TPersist();
  TPersist(const TPersist&) = delete;
  TPersist& operator=(const TPersist&) = delete;

  TOptions Options;

  // Roots owned by the engine (freed with it).
  TPersistValue_Object* CreateRootObject();
  TPersistValue_Array* CreateRootArray();
  TPersistValue* AdoptRoot(TPersistValuePtr aRoot);

  // ---- saving: a node for a value (nullptr: nothing to add) ----
  TPersistValuePtr FromValue(const TPersistTypeInfo& aType, const void* aValue,
                             const TPersistMember* aFieldOrProperty = nullptr,
                             const TPersistMember* aParentFieldOrProperty = nullptr);
  TPersistValuePtr FromValue_Property(const TPersistTypeInfo& aType, const void* aValue,
                                      const TPersistMember* aFieldOrProperty = nullptr);
  template <class T>
  TPersistValuePtr FromValue(const T& aValue) {
    return FromValue(PersistTypeOf<T>(), &aValue);
  }
  TPersistValuePtr FromNull();
  TPersistValuePtr FromBoolean(bool aValue);
  TPersistValuePtr FromInteger(std::int32_t aValue);
  TPersistValuePtr FromInt64(std::int64_t aValue);
  TPersistValuePtr FromFloat(double aValue);
  TPersistValuePtr FromString(std::string aValue);
  TPersistValuePtr FromEnumeration(const TPersistEnumInfo& aEnum, std::int64_t aOrdinal);
  TPersistValuePtr FromSet(const TPersistEnumInfo& aEnum, std::uint64_t aMask);
  TPersistValuePtr FromBytes(std::vector<std::uint8_t> aBytes);
  TPersistValuePtr FromStream(std::istream& aStream);
  TPersistValuePtr FromArray(const TPersistTypeInfo& aType, const void* aValue,
                             const TPersistMember* aFieldOrProperty = nullptr);
  TPersistValuePtr FromRecord(const TPersistTypeInfo& aType, const void* aValue,
                              const TPersistMember* aFieldOrProperty = nullptr);
  template <class T>
  TPersistValuePtr FromRecord(const T& aRecord) {
    return FromRecord(PersistTypeOf<T>(), &aRecord);
  }

  // ---- loading: converts aSource into *aTarget; false = "empty" (aTarget untouched) ----
  bool ToValue(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
               const TPersistMember* aFieldOrProperty = nullptr);
  template <class T>
  std::optional<T> ToValue(const TPersistValue* aSource) {
    T value{};
    if (!ToValue(PersistTypeOf<T>(), aSource, &value)) {
      return std::nullopt;
    }
    return value;
  }
  bool ToBooleanDirect(const TPersistValue* aSource, bool& aValue);
  bool ToIntegerDirect(const TPersistValue* aSource, std::int32_t& aValue);
  bool ToInt64Direct(const TPersistValue* aSource, std::int64_t& aValue);
  bool ToFloatDirect(const TPersistValue* aSource, double& aValue);
  bool ToStringDirect(const TPersistValue* aSource, std::string& aValue);
  bool ToEnumerationDirect(const TPersistValue* aSource, const TPersistEnumInfo& aEnum, std::int64_t& aOrdinal);
  bool ToSetDirect(const TPersistValue* aSource, const TPersistEnumInfo& aEnum, std::uint64_t& aMask);
  std::optional<bool> ToBoolean(const TPersistValue* aSource);
  std::optional<std::int32_t> ToInteger(const TPersistValue* aSource);
  std::optional<std::int64_t> ToInt64(const TPersistValue* aSource);
  std::optional<double> ToFloat(const TPersistValue* aSource);
  std::optional<std::string> ToString_(const TPersistValue* aSource);
  std::optional<std::int64_t> ToEnumeration(const TPersistValue* aSource, const TPersistEnumInfo& aEnum);
  std::optional<std::uint64_t> ToSet(const TPersistValue* aSource, const TPersistEnumInfo& aEnum);
  bool ToArray(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
               const TPersistMember* aFieldOrProperty = nullptr);
  bool ToDynamicArray(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                      const TPersistMember* aFieldOrProperty = nullptr);
  bool ToRecord(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                const TPersistMember* aFieldOrProperty = nullptr);
  template <class T>
  std::optional<T> ToRecord(const TPersistValue* aSource) {
    T value{};
    if (!ToRecord(PersistTypeOf<T>(), aSource, &value)) {
      return std::nullopt;
    }
    return value;
  }

  // ---- instances (the object-node operations of the engine) ----
  // Adds the members of aInstance to aTarget.
  void Persist_InstanceValues(TPersistValue_Object& aTarget, const void* aInstance, const TPersistTypeInfo& aType,
                              const TPersistInstanceOptions& aInstanceOptions, bool aIncludeByDefault);
  // Fills aInstance from the members of aSource.
  void Load_InstanceValues(const TPersistValue_Object& aSource, void* aInstance, const TPersistTypeInfo& aType,
                           const TPersistInstanceOptions& aInstanceOptions, bool aIncludeByDefault);
  template <class T>
  void Persist_InstanceValues(TPersistValue_Object& aTarget, const T& aInstance,
                              const TPersistInstanceOptions& aInstanceOptions, bool aIncludeByDefault = false) {
    Persist_InstanceValues(aTarget, &aInstance, PersistTypeOf<T>(), aInstanceOptions, aIncludeByDefault);
  }
  template <class T>
  void Load_InstanceValues(const TPersistValue_Object& aSource, T& aInstance,
                           const TPersistInstanceOptions& aInstanceOptions, bool aIncludeByDefault = false) {
    Load_InstanceValues(aSource, &aInstance, PersistTypeOf<T>(), aInstanceOptions, aIncludeByDefault);
  }
  // The whole object: instance interceptor, list, object list, else member-wise ("@Type"
  // first with pitAlwaysSaveType). Resets the loop detection.
  void Object_SaveToPersistObject(TPersistValue_Object& aTarget, const void* aInstance, const TPersistTypeInfo& aType,
                                  const TPersistInstanceOptions& aInstanceOptions);
  void Object_LoadFromPersistObject(const TPersistValue_Object& aSource, void* aInstance, const TPersistTypeInfo& aType,
                                    const TPersistInstanceOptions& aInstanceOptions);
  // Converts aValue and adds it under aKey (with the meta pairs of the member and type).
  TPersistValue* AddValue(TPersistValue_Object& aTarget, const std::string& aKey, const TPersistTypeInfo& aType,
                          const void* aValue, const TPersistMember* aFieldOrProperty = nullptr);
  // Converts the node under aKey into *aValue; false when it is missing or "empty".
  bool GetValue(const TPersistValue_Object& aSource, std::string_view aKey, const TPersistTypeInfo& aType, void* aValue,
                const TPersistMember* aFieldOrProperty = nullptr);
  template <class T>
  T GetValueOrDefault(const TPersistValue_Object& aSource, std::string_view aKey, T aDefault = T{}) {
    T value{};
    return GetValue(aSource, aKey, PersistTypeOf<T>(), &value) ? value : aDefault;
  }
  // Adds NameTypeString with the qualified name of aType.
  void Persist_TypeName(TPersistValue_Object& aTarget, const TPersistTypeInfo& aType);
  // The class named by the node's NameTypeString member (through the type maps), or
  // nullptr when there is none or it is unknown (ETypeNotFound with Diag_TypeNotFound).
  const TPersistTypeInfo* Load_TypeAsClass(const TPersistValue_Object& aSource);
  const TPersistTypeInfo* Load_TypeAsRttiType(const TPersistValue_Object& aSource) { return Load_TypeAsClass(aSource); }

  // ---- registries (per engine; the Global forms are process-wide) ----
  void Register_RecordInterceptor(const std::string& aQualifiedTypeName, TRecordInterceptorFactory aFactory);
  void Register_InstanceInterceptor(const std::string& aQualifiedTypeName, TInstanceInterceptorFactory aFactory);
  void Unregister_RecordInterceptor(const std::string& aQualifiedTypeName);
  void Unregister_InstanceInterceptor(const std::string& aQualifiedTypeName);
  void Register_TypeMapping(const std::string& aOldQualifiedName, const std::string& aNewQualifiedName);
  void Unregister_TypeMapping(const std::string& aOldQualifiedName);
  // aOldName (a former value name, or an ordinal as decimal text) loads as aNewName.
  void Register_EnumMapping(const std::string& aEnumType, const std::string& aOldName, const std::string& aNewName);
  // aValueName is written as aAlias (and aAlias reads back as aValueName).
  void Register_EnumAlias(const std::string& aEnumType, const std::string& aValueName, const std::string& aAlias);
  static void Register_Global_RecordInterceptor(const std::string& aQualifiedTypeName,
                                                TRecordInterceptorFactory aFactory);
  static void Register_Global_InstanceInterceptor(const std::string& aQualifiedTypeName,
                                                  TInstanceInterceptorFactory aFactory);
  static void Unregister_Global_RecordInterceptor(const std::string& aQualifiedTypeName);
  static void Unregister_Global_InstanceInterceptor(const std::string& aQualifiedTypeName);
  static void Register_Global_TypeMapping(const std::string& aOldQualifiedName, const std::string& aNewQualifiedName);
  static void Unregister_Global_TypeMapping(const std::string& aOldQualifiedName);
  static void Register_Global_EnumMapping(const std::string& aEnumType, const std::string& aOldName,
                                          const std::string& aNewName);
  static void Register_Global_EnumAlias(const std::string& aEnumType, const std::string& aValueName,
                                        const std::string& aAlias);
  static void Unregister_Global_EnumMapping(const std::string& aEnumType, const std::string& aOldName);
  static void Unregister_Global_EnumAlias(const std::string& aEnumType, const std::string& aValueName);

  // Typed forms: Register_Global_RecordInterceptor<TFileVersion, TFileVersionInterceptor>().
  template <class TType, class TInterceptor>
  static void Register_Global_RecordInterceptor() {
    Register_Global_RecordInterceptor(PersistTypeOf<TType>().QualifiedName, MakeRecordFactory<TInterceptor>());
  }
  template <class TType, class TInterceptor>
  void Register_RecordInterceptor() {
    Register_RecordInterceptor(PersistTypeOf<TType>().QualifiedName, MakeRecordFactory<TInterceptor>());
  }
  template <class TType, class TInterceptor>
  static void Register_Global_InstanceInterceptor() {
    Register_Global_InstanceInterceptor(PersistTypeOf<TType>().QualifiedName, MakeInstanceFactory<TInterceptor>());
  }
  template <class TType, class TInterceptor>
  void Register_InstanceInterceptor() {
    Register_InstanceInterceptor(PersistTypeOf<TType>().QualifiedName, MakeInstanceFactory<TInterceptor>());
  }
  // Drops the interceptor instances created so far.
  void ClearCache();

  // ---- helpers ----
  std::string GetConvertedName(const TPersistMember& aMember) const;
  std::string GetMappedTypeName(const std::string& aQualifiedName) const;
  // A new instance of the class (nullptr when it cannot be created; ENoDefaultConstructor
  // with Diag_NoDefaultConstructor). The caller owns it (aType->Destroy).
  TPersistInstance CreateInstance(const TPersistTypeInfo& aType);
  // The registered class of a qualified name, or nullptr.
  static const TPersistTypeInfo* FindClass(const std::string& aQualifiedName);
  TRecordInterceptor* GetRecordInterceptor(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty);
  TInstanceInterceptor* GetInstanceInterceptor(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty);
  static TPersistInstanceOptions MergePersistInstanceOptions(const TPersistInstanceOptions& aCurrent,
                                                             const TPersistInstanceOptions& aOverride);
  TPersistInstanceOptions GetPersistInstanceOptions(const TPersistInstanceOptions& aParent,
                                                    const TPersistTypeInfo& aType,
                                                    const TPersistMember* aFieldOrProperty) const;
  bool IsList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const;
  bool IsObjectList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const;

  // ---- diagnostics ----
  void Diag_UnhandledFieldOrPropType(const TPersistTypeInfo& aType, std::string_view aPlace) const;
  void Diag_WarnIfList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const;
  void Diag_WarnIfNotList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const;
  void Diag_WarnIfObjectList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const;
  void Diag_WarnIfNotObjectList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const;
  void Diag_InfiniteLoopReset();
  // Records aInstance as visited; raises EInfiniteLoop with Diag_InfiniteLoop when it was
  // visited before in this save. Returns false when the instance is already being saved
  // further up (a cycle), which the caller must not descend into.
  // An instance is identified by its address and class: a member object at offset 0
  // shares its owner's address without being the owner.
  bool Diag_InfiniteLoopCheckAndWarn(const void* aInstance, const TPersistTypeInfo* aType = nullptr);
  // Trace of the members being processed, innermost last (for messages).
  void Diag_AddTrace(std::string aText);
  const std::vector<std::string>& Diag_Trace() const { return fTrace; }

 private:
  template <class TInterceptor>
  static TRecordInterceptorFactory MakeRecordFactory() {
    return [](TPersist& aPersist) -> std::unique_ptr<TRecordInterceptor> {
      return std::make_unique<TInterceptor>(aPersist);
    };
  }
  template <class TInterceptor>
  static TInstanceInterceptorFactory MakeInstanceFactory() {
    return [](TPersist& aPersist) -> std::unique_ptr<TInstanceInterceptor> {
      return std::make_unique<TInterceptor>(aPersist);
    };
  }

  template <class TInterceptor, class TFactory>
  TInterceptor* CachedInterceptor(TFactory aFactory);
  TPersistValuePtr FromValueAt(const TPersistTypeInfo& aType, const void* aValue, const TPersistMember* aMember,
                               std::string_view aPlace, bool aInObjectList);
  TPersistValuePtr FromInstance(const TPersistTypeInfo& aType, const void* aInstance, const TPersistMember* aMember,
                                const TPersistInstanceOptions& aOptions, bool aInObjectList);
  TPersistValuePtr FromList(const TPersistTypeInfo& aType, const void* aList, const TPersistMember* aMember,
                            const TPersistInstanceOptions& aOptions);
  bool ToValueAt(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                 const TPersistMember* aMember, std::string_view aPlace);
  bool ToInstance(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aInstance,
                  const TPersistMember* aMember, const TPersistInstanceOptions& aOptions);
  bool ToList(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aList, const TPersistMember* aMember,
              const TPersistInstanceOptions& aOptions);
  bool ToClassRef(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aRef,
                  const TPersistMember* aMember, const TPersistInstanceOptions& aOptions, bool aCreate);
  void SaveClassMember(TPersistValue_Object& aTarget, const std::string& aKey, const TPersistMember& aMember,
                       const void* aValue, const TPersistInstanceOptions& aParentOptions);
  void LoadClassMember(const TPersistValue_Object& aSource, const std::string& aKey, const TPersistMember& aMember,
                       void* aValue, const TPersistInstanceOptions& aParentOptions);
  std::optional<std::string> EnumAlias(const TPersistEnumInfo& aEnum, const std::string& aName) const;
  std::optional<std::string> EnumFromAlias(const TPersistEnumInfo& aEnum, const std::string& aAlias) const;
  std::optional<std::string> EnumMapped(const TPersistEnumInfo& aEnum, const std::string& aName) const;
  std::optional<std::int64_t> EnumOrdinalOf(const TPersistEnumInfo& aEnum, const std::string& aText) const;
  bool UseCompact(const TPersistTypeInfo& aType, const TPersistMember* aMember) const;
  bool ClearBeforeLoad(const TPersistTypeInfo& aType, const TPersistMember* aMember) const;
  const TPersistTypeInfo& DynamicTypeOf(const TPersistTypeInfo& aType, const void*& aInstance) const;

  using TEnumKey = std::pair<std::string, std::string>;
  std::map<std::string, TRecordInterceptorFactory, std::less<>> fRecordInterceptors;
  std::map<std::string, TInstanceInterceptorFactory, std::less<>> fInstanceInterceptors;
  std::map<std::string, std::string, std::less<>> fTypeMap;
  std::map<TEnumKey, std::string> fEnumMap;
  std::map<TEnumKey, std::string> fEnumAlias;
  std::vector<TPersistValuePtr> fRoots;
  std::map<const void*, std::unique_ptr<TCustomInterceptor>> fInterceptorCache;  // key: factory address
  using TInstanceKey = std::pair<const void*, const TPersistTypeInfo*>;
  std::set<TInstanceKey> fVisited;
  std::set<TInstanceKey> fSaving;  // instances on the current save path
  std::vector<std::string> fTrace;
};

}  // namespace Update::Common
