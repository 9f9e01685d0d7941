#include "common/persist.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <mutex>
#include <shared_mutex>

namespace Update::Common {

namespace {

using TEnumKey = std::pair<std::string, std::string>;

// The process-wide registries and default options. Written at start-up, read by every
// engine; the lock makes late writes safe.
struct TGlobalRegistry {
  std::shared_mutex Lock;
  TPersist::TOptions Defaults;
  std::map<std::string, TRecordInterceptorFactory, std::less<>> RecordInterceptors;
  std::map<std::string, TInstanceInterceptorFactory, std::less<>> InstanceInterceptors;
  std::map<std::string, std::string, std::less<>> TypeMap;
  std::map<TEnumKey, std::string> EnumMap;
  std::map<TEnumKey, std::string> EnumAlias;
  std::map<std::string, const TPersistTypeInfo*, std::less<>> ClassesByName;
  std::map<std::type_index, const TPersistTypeInfo*> ClassesById;
};

TGlobalRegistry& Global() {
  static TGlobalRegistry registry;
  return registry;
}

template <class TMap, class TKey>
auto FindIn(const TMap& aMap, const TKey& aKey) -> std::optional<typename TMap::mapped_type> {
  auto it = aMap.find(aKey);
  if (it == aMap.end()) {
    return std::nullopt;
  }
  return it->second;
}

template <class TMap, class TKey>
auto FindGlobal(const TMap TGlobalRegistry::*aMap, const TKey& aKey) -> std::optional<typename TMap::mapped_type> {
  auto& global = Global();
  std::shared_lock lock(global.Lock);
  return FindIn(global.*aMap, aKey);
}

std::string_view Trim(std::string_view aText) {
  while (!aText.empty() && (aText.front() == ' ' || aText.front() == '\t')) {
    aText.remove_prefix(1);
  }
  while (!aText.empty() && (aText.back() == ' ' || aText.back() == '\t')) {
    aText.remove_suffix(1);
  }
  return aText;
}

// A number in the fixed "." notation (what AllowLoadFromUntyped accepts from texts).
std::optional<double> ParseNumber(std::string_view aText) {
  aText = Trim(aText);
  if (aText.empty()) {
    return std::nullopt;
  }
  if (aText.front() == '+') {
    aText.remove_prefix(1);
  }
  double value = 0;
  auto [end, error] = std::from_chars(aText.data(), aText.data() + aText.size(), value);
  if (error != std::errc() || end != aText.data() + aText.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string TypeNameForMessages(const TPersistTypeInfo& aType) {
  return aType.QualifiedName;
}

bool IsTruthText(std::string_view aText, bool& aValue) {
  std::string lower;
  for (char c : Trim(aText)) {
    lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (lower == "true") {
    aValue = true;
    return true;
  }
  if (lower == "false") {
    aValue = false;
    return true;
  }
  return false;
}

// Integer conversions share one routine: the target's range and the names in messages.
struct TIntegerTarget {
  double Min;
  double Max;
  const char* Function;  // "TPersist.ToIntegerDirect"
  const char* TypeName;  // "Integer"
};

constexpr TIntegerTarget kIntegerTarget{-2147483648.0, 2147483647.0, "TPersist.ToIntegerDirect", "Integer"};
constexpr TIntegerTarget kInt64Target{-9223372036854775808.0, 9223372036854775807.0, "TPersist.ToInt64Direct", "Int64"};

void ZeroOf(const TPersistTypeInfo& aType, void* aValue);

// The zero value of a record: every described field at its zero value (default member
// initialisers do not count: a record loaded from JSON starts from zero).
void ZeroRecord(const TPersistTypeInfo& aType, void* aRecord) {
  for (const TPersistMember* member : aType.AllMembers(false)) {
    if (!member->IsProperty) {
      ZeroOf(member->Type(), member->Field(aRecord));
    }
  }
}

// The value a field gets when its node cannot be converted ("empty"). Class instances
// keep their identity.
void ZeroOf(const TPersistTypeInfo& aType, void* aValue) {
  if (aType.Kind == TPersistTypeKind::ptkRecord) {
    ZeroRecord(aType, aValue);
  } else if (!aType.IsClassTyped()) {
    aType.Zero(aValue);
  }
}

[[maybe_unused]] const bool kGuidInterceptorRegistered = [] {
  TPersist::Register_Global_RecordInterceptor<Platform::TGUID, TGuidInterceptor>();
  return true;
}();

}  // namespace

// ---- enumeration names ----

int TPersistEnumInfo::IndexOf(std::string_view aName) const {
  for (std::size_t i = 0; i < Names.size(); ++i) {
    if (Names[i] == aName) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

TPersistEnumInfo TPersistEnumInfo::FromList(std::string aQualifiedName, std::string_view aNames) {
  TPersistEnumInfo info;
  info.QualifiedName = std::move(aQualifiedName);
  while (!aNames.empty()) {
    const std::size_t comma = aNames.find(',');
    std::string_view name = Trim(aNames.substr(0, comma));
    // Tolerate line breaks inside the macro's argument list.
    while (!name.empty() && (name.front() == '\n' || name.front() == '\r' || name.front() == ' ')) {
      name.remove_prefix(1);
    }
    if (!name.empty()) {
      info.Names.emplace_back(name);
    }
    if (comma == std::string_view::npos) {
      break;
    }
    aNames.remove_prefix(comma + 1);
  }
  return info;
}

std::vector<const TPersistMember*> TPersistTypeInfo::AllMembers(bool aDeclaredOnly) const {
  std::vector<const TPersistMember*> members;
  if (!aDeclaredOnly && Base) {
    members = Base().AllMembers(false);
  }
  for (const TPersistMember& member : Members) {
    members.push_back(&member);
  }
  return members;
}

void Detail::RegisterClassType(const TPersistTypeInfo& aType) {
  auto& global = Global();
  std::unique_lock lock(global.Lock);
  global.ClassesByName[aType.QualifiedName] = &aType;
  global.ClassesById[aType.TypeId] = &aType;
}

// ---- GUID interceptor ----

TPersistValuePtr TGuidInterceptor::FromRecordValue(const Platform::TGUID& aRecord) {
  return std::make_unique<TPersistValue_String>(aRecord.ToString(), &Persist());
}

std::optional<Platform::TGUID> TGuidInterceptor::ToRecordValue(const TPersistValue* aSource) {
  const TPersistValue_String* text = aSource ? aSource->AsString() : nullptr;
  if (!text || text->Value().empty()) {
    return std::nullopt;
  }
  if (auto guid = Platform::TGUID::TryParse(text->Value())) {
    return guid;
  }
  throw EConvertError("'" + text->Value() + "' is not a valid GUID value");
}

// ---- engine: construction, roots ----

TPersist::TOptions TPersist::DefaultOptions() {
  auto& global = Global();
  std::shared_lock lock(global.Lock);
  return global.Defaults;
}

void TPersist::SetDefaultOptions(const TOptions& aOptions) {
  auto& global = Global();
  std::unique_lock lock(global.Lock);
  global.Defaults = aOptions;
}

TPersist::TPersist() : Options(DefaultOptions()) {}
TPersist::~TPersist() = default;

TPersistValue_Object* TPersist::CreateRootObject() {
  return static_cast<TPersistValue_Object*>(AdoptRoot(std::make_unique<TPersistValue_Object>(this)));
}

TPersistValue_Array* TPersist::CreateRootArray() {
  return static_cast<TPersistValue_Array*>(AdoptRoot(std::make_unique<TPersistValue_Array>(this)));
}

TPersistValue* TPersist::AdoptRoot(TPersistValuePtr aRoot) {
  if (!aRoot) {
    return nullptr;
  }
  if (!aRoot->ParentPersist()) {
    aRoot->SetParentPersist(this);
  }
  fRoots.push_back(std::move(aRoot));
  return fRoots.back().get();
}

// ---- registries ----

void TPersist::Register_RecordInterceptor(const std::string& aQualifiedTypeName, TRecordInterceptorFactory aFactory) {
  fRecordInterceptors[aQualifiedTypeName] = aFactory;
}
void TPersist::Register_InstanceInterceptor(const std::string& aQualifiedTypeName,
                                            TInstanceInterceptorFactory aFactory) {
  fInstanceInterceptors[aQualifiedTypeName] = aFactory;
}
void TPersist::Unregister_RecordInterceptor(const std::string& aQualifiedTypeName) {
  fRecordInterceptors.erase(aQualifiedTypeName);
}
void TPersist::Unregister_InstanceInterceptor(const std::string& aQualifiedTypeName) {
  fInstanceInterceptors.erase(aQualifiedTypeName);
}
void TPersist::Register_TypeMapping(const std::string& aOldQualifiedName, const std::string& aNewQualifiedName) {
  fTypeMap[aOldQualifiedName] = aNewQualifiedName;
}
void TPersist::Unregister_TypeMapping(const std::string& aOldQualifiedName) {
  fTypeMap.erase(aOldQualifiedName);
}
void TPersist::Register_EnumMapping(const std::string& aEnumType, const std::string& aOldName,
                                    const std::string& aNewName) {
  fEnumMap[{aEnumType, aOldName}] = aNewName;
}
void TPersist::Register_EnumAlias(const std::string& aEnumType, const std::string& aValueName,
                                  const std::string& aAlias) {
  fEnumAlias[{aEnumType, aValueName}] = aAlias;
}

void TPersist::Register_Global_RecordInterceptor(const std::string& aQualifiedTypeName,
                                                 TRecordInterceptorFactory aFactory) {
  std::unique_lock lock(Global().Lock);
  Global().RecordInterceptors[aQualifiedTypeName] = aFactory;
}
void TPersist::Register_Global_InstanceInterceptor(const std::string& aQualifiedTypeName,
                                                   TInstanceInterceptorFactory aFactory) {
  std::unique_lock lock(Global().Lock);
  Global().InstanceInterceptors[aQualifiedTypeName] = aFactory;
}
void TPersist::Unregister_Global_RecordInterceptor(const std::string& aQualifiedTypeName) {
  std::unique_lock lock(Global().Lock);
  Global().RecordInterceptors.erase(aQualifiedTypeName);
}
void TPersist::Unregister_Global_InstanceInterceptor(const std::string& aQualifiedTypeName) {
  std::unique_lock lock(Global().Lock);
  Global().InstanceInterceptors.erase(aQualifiedTypeName);
}
void TPersist::Register_Global_TypeMapping(const std::string& aOldQualifiedName, const std::string& aNewQualifiedName) {
  std::unique_lock lock(Global().Lock);
  Global().TypeMap[aOldQualifiedName] = aNewQualifiedName;
}
void TPersist::Unregister_Global_TypeMapping(const std::string& aOldQualifiedName) {
  std::unique_lock lock(Global().Lock);
  Global().TypeMap.erase(aOldQualifiedName);
}
void TPersist::Register_Global_EnumMapping(const std::string& aEnumType, const std::string& aOldName,
                                           const std::string& aNewName) {
  std::unique_lock lock(Global().Lock);
  Global().EnumMap[{aEnumType, aOldName}] = aNewName;
}
void TPersist::Register_Global_EnumAlias(const std::string& aEnumType, const std::string& aValueName,
                                         const std::string& aAlias) {
  std::unique_lock lock(Global().Lock);
  Global().EnumAlias[{aEnumType, aValueName}] = aAlias;
}
void TPersist::Unregister_Global_EnumMapping(const std::string& aEnumType, const std::string& aOldName) {
  std::unique_lock lock(Global().Lock);
  Global().EnumMap.erase({aEnumType, aOldName});
}
void TPersist::Unregister_Global_EnumAlias(const std::string& aEnumType, const std::string& aValueName) {
  std::unique_lock lock(Global().Lock);
  Global().EnumAlias.erase({aEnumType, aValueName});
}

void TPersist::ClearCache() {
  fInterceptorCache.clear();
}

// ---- helpers ----

std::string TPersist::GetConvertedName(const TPersistMember& aMember) const {
  if (!aMember.Attributes.PersistName.empty()) {
    return aMember.Attributes.PersistName;
  }
  std::string name = aMember.Name;
  if (Options.NameConversion == pncPascalCase_CamelCase && !name.empty() && name[0] >= 'A' && name[0] <= 'Z') {
    name[0] = static_cast<char>(name[0] - 'A' + 'a');
  }
  return name;
}

std::string TPersist::GetMappedTypeName(const std::string& aQualifiedName) const {
  if (auto mapped = FindIn(fTypeMap, aQualifiedName)) {
    return *mapped;
  }
  if (auto mapped = FindGlobal(&TGlobalRegistry::TypeMap, aQualifiedName)) {
    return *mapped;
  }
  return aQualifiedName;
}

const TPersistTypeInfo* TPersist::FindClass(const std::string& aQualifiedName) {
  return FindGlobal(&TGlobalRegistry::ClassesByName, aQualifiedName).value_or(nullptr);
}

TPersistInstance TPersist::CreateInstance(const TPersistTypeInfo& aType) {
  if (!aType.Create) {
    if (Options.Diag_NoDefaultConstructor) {
      throw ENoDefaultConstructor("xPersistence: No default constructor found for " + aType.QualifiedName);
    }
    return {};
  }
  return {aType.Create(), &aType};
}

namespace {
// Interceptor lookup: the member's attribute, the type's attribute, the engine's registry
// under the type's qualified name, the process-wide registry.
template <class TFactory, class TMap>
TFactory ChooseFactory(TFactory aMemberFactory, TFactory aTypeFactory, const TMap& aEngineRegistry,
                       const TMap TGlobalRegistry::*aGlobalRegistry, const std::string& aQualifiedName) {
  if (aMemberFactory) {
    return aMemberFactory;
  }
  if (aTypeFactory) {
    return aTypeFactory;
  }
  if (auto registered = FindIn(aEngineRegistry, aQualifiedName)) {
    return *registered;
  }
  return FindGlobal(aGlobalRegistry, aQualifiedName).value_or(nullptr);
}
}  // namespace

template <class TInterceptor, class TFactory>
TInterceptor* TPersist::CachedInterceptor(TFactory aFactory) {
  if (!aFactory) {
    return nullptr;
  }
  auto& cached = fInterceptorCache[reinterpret_cast<const void*>(aFactory)];
  if (!cached) {
    cached = aFactory(*this);
  }
  return static_cast<TInterceptor*>(cached.get());
}

TRecordInterceptor* TPersist::GetRecordInterceptor(const TPersistTypeInfo& aType,
                                                   const TPersistMember* aFieldOrProperty) {
  return CachedInterceptor<TRecordInterceptor>(ChooseFactory(
      aFieldOrProperty ? aFieldOrProperty->Attributes.RecordInterceptor : nullptr, aType.Attributes.RecordInterceptor,
      fRecordInterceptors, &TGlobalRegistry::RecordInterceptors, aType.QualifiedName));
}

TInstanceInterceptor* TPersist::GetInstanceInterceptor(const TPersistTypeInfo& aType,
                                                       const TPersistMember* aFieldOrProperty) {
  return CachedInterceptor<TInstanceInterceptor>(
      ChooseFactory(aFieldOrProperty ? aFieldOrProperty->Attributes.InstanceInterceptor : nullptr,
                    aType.Attributes.InstanceInterceptor, fInstanceInterceptors, &TGlobalRegistry::InstanceInterceptors,
                    aType.QualifiedName));
}

TPersistInstanceOptions TPersist::MergePersistInstanceOptions(const TPersistInstanceOptions& aCurrent,
                                                              const TPersistInstanceOptions& aOverride) {
  TPersistInstanceOptions merged = aCurrent;
  if (aOverride.PersistInstanceData != pidUnchanged) {
    merged.PersistInstanceData = aOverride.PersistInstanceData;
  }
  if (aOverride.PersistInstanceNested != pinUnchanged) {
    merged.PersistInstanceNested = aOverride.PersistInstanceNested;
  }
  if (aOverride.PersistInstanceCreate != picUnchanged) {
    merged.PersistInstanceCreate = aOverride.PersistInstanceCreate;
  }
  if (aOverride.PersistInstanceTypeName != pitUnchanged) {
    merged.PersistInstanceTypeName = aOverride.PersistInstanceTypeName;
  }
  return merged;
}

TPersistInstanceOptions TPersist::GetPersistInstanceOptions(const TPersistInstanceOptions& aParent,
                                                            const TPersistTypeInfo& aType,
                                                            const TPersistMember* aFieldOrProperty) const {
  TPersistInstanceOptions options = aParent;
  const TPersistTypeInfo* type = &aType;
  if (type->Kind == TPersistTypeKind::ptkClassRef) {
    type = &type->Target();
  }
  for (const auto& attribute : type->Attributes.InstanceOptions) {
    options = MergePersistInstanceOptions(options, attribute);
  }
  if (aFieldOrProperty) {
    for (const auto& attribute : aFieldOrProperty->Attributes.InstanceOptions) {
      options = MergePersistInstanceOptions(options, attribute);
    }
  }
  return options;
}

namespace {
const std::optional<TPersistListAttribute>& ListAttribute(const TPersistTypeInfo& aType,
                                                          const TPersistMember* aMember) {
  if (aMember && aMember->Attributes.List) {
    return aMember->Attributes.List;
  }
  return aType.Attributes.List;
}
}  // namespace

bool TPersist::IsList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const {
  if (!aType.IsListShaped() || aType.ObjectListShape) {
    return false;
  }
  const auto& attribute = ListAttribute(aType, aFieldOrProperty);
  if (attribute) {
    return !attribute->ObjectList;
  }
  return !Options.AutoList_RequireAttributes && aType.GenericList;
}

bool TPersist::IsObjectList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const {
  if (!aType.IsListShaped() || !aType.ObjectListShape) {
    return false;
  }
  const auto& attribute = ListAttribute(aType, aFieldOrProperty);
  if (attribute) {
    return attribute->ObjectList;
  }
  return !Options.AutoList_RequireAttributes && aType.GenericList;
}

bool TPersist::UseCompact(const TPersistTypeInfo& aType, const TPersistMember* aMember) const {
  const auto& attribute = ListAttribute(aType, aMember);
  return attribute && attribute->Compact ? *attribute->Compact : Options.AutoList_Compact;
}

bool TPersist::ClearBeforeLoad(const TPersistTypeInfo& aType, const TPersistMember* aMember) const {
  const auto& attribute = ListAttribute(aType, aMember);
  return attribute ? attribute->ClearBeforeLoad : true;
}

// ---- diagnostics ----

void TPersist::Diag_UnhandledFieldOrPropType(const TPersistTypeInfo& aType, std::string_view aPlace) const {
  if (Options.Diag_UnhandledFieldOrPropType) {
    throw EUnhandledFieldOrPropType("xPersistence: Unsupported type " + TypeNameForMessages(aType) + " in " +
                                    std::string(aPlace));
  }
}

// A list that is marked as a value list but is none (or an object list), and the reverse.
void TPersist::Diag_WarnIfList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const {
  // A generic value list without attribute while attributes are required.
  if (Options.Diag_ListTypeError && Options.AutoList_RequireAttributes && aType.GenericList && !aType.ObjectListShape &&
      !ListAttribute(aType, aFieldOrProperty)) {
    throw EListTypeError("xPersistence: Missing [PersistList]");
  }
}

void TPersist::Diag_WarnIfNotList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const {
  const auto& attribute = ListAttribute(aType, aFieldOrProperty);
  if (Options.Diag_ListTypeError && attribute && !attribute->ObjectList &&
      (!aType.IsListShaped() || aType.ObjectListShape)) {
    throw EListTypeError("xPersistence: Wrong [PersistList]");
  }
}

void TPersist::Diag_WarnIfObjectList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const {
  if (Options.Diag_ListTypeError && Options.AutoList_RequireAttributes && aType.GenericList && aType.ObjectListShape &&
      !ListAttribute(aType, aFieldOrProperty)) {
    throw EListTypeError("xPersistence: Missing [PersistObjectList]");
  }
}

void TPersist::Diag_WarnIfNotObjectList(const TPersistTypeInfo& aType, const TPersistMember* aFieldOrProperty) const {
  const auto& attribute = ListAttribute(aType, aFieldOrProperty);
  if (Options.Diag_ListTypeError && attribute && attribute->ObjectList &&
      (!aType.IsListShaped() || !aType.ObjectListShape)) {
    throw EListTypeError("xPersistence: Wrong [PersistObjectList]");
  }
}

void TPersist::Diag_InfiniteLoopReset() {
  fVisited.clear();
  fSaving.clear();
}

bool TPersist::Diag_InfiniteLoopCheckAndWarn(const void* aInstance, const TPersistTypeInfo* aType) {
  const TInstanceKey key{aInstance, aType};
  const bool seen = !fVisited.insert(key).second;
  if (seen && Options.Diag_InfiniteLoop) {
    throw EInfiniteLoop("xPersistence: Infinite loop");
  }
  return fSaving.count(key) == 0;
}

void TPersist::Diag_AddTrace(std::string aText) {
  fTrace.push_back(std::move(aText));
}

// ---- saving ----

TPersistValuePtr TPersist::FromNull() {
  return std::make_unique<TPersistValue_Null>(this);
}
TPersistValuePtr TPersist::FromBoolean(bool aValue) {
  return std::make_unique<TPersistValue_Boolean>(aValue, this);
}
TPersistValuePtr TPersist::FromInteger(std::int32_t aValue) {
  return std::make_unique<TPersistValue_Number>(aValue, this);
}
TPersistValuePtr TPersist::FromInt64(std::int64_t aValue) {
  return std::make_unique<TPersistValue_Number>(static_cast<double>(aValue), this);
}
TPersistValuePtr TPersist::FromFloat(double aValue) {
  if (!std::isfinite(aValue)) {
    return FromNull();
  }
  return std::make_unique<TPersistValue_Number>(aValue, this);
}
TPersistValuePtr TPersist::FromString(std::string aValue) {
  return std::make_unique<TPersistValue_String>(std::move(aValue), this);
}
TPersistValuePtr TPersist::FromBytes(std::vector<std::uint8_t> aBytes) {
  return std::make_unique<TPersistValue_Binary>(std::move(aBytes), this);
}
TPersistValuePtr TPersist::FromStream(std::istream& aStream) {
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(aStream), std::istreambuf_iterator<char>()};
  return FromBytes(std::move(bytes));
}

std::optional<std::string> TPersist::EnumAlias(const TPersistEnumInfo& aEnum, const std::string& aName) const {
  TEnumKey key{aEnum.QualifiedName, aName};
  if (auto alias = FindIn(fEnumAlias, key)) {
    return alias;
  }
  return FindGlobal(&TGlobalRegistry::EnumAlias, key);
}

std::optional<std::string> TPersist::EnumFromAlias(const TPersistEnumInfo& aEnum, const std::string& aAlias) const {
  auto search = [&](const std::map<TEnumKey, std::string>& aMap) -> std::optional<std::string> {
    for (const auto& [key, alias] : aMap) {
      if (key.first == aEnum.QualifiedName && alias == aAlias) {
        return key.second;
      }
    }
    return std::nullopt;
  };
  if (auto name = search(fEnumAlias)) {
    return name;
  }
  std::shared_lock lock(Global().Lock);
  return search(Global().EnumAlias);
}

std::optional<std::string> TPersist::EnumMapped(const TPersistEnumInfo& aEnum, const std::string& aName) const {
  TEnumKey key{aEnum.QualifiedName, aName};
  if (auto mapped = FindIn(fEnumMap, key)) {
    return mapped;
  }
  return FindGlobal(&TGlobalRegistry::EnumMap, key);
}

std::optional<std::int64_t> TPersist::EnumOrdinalOf(const TPersistEnumInfo& aEnum, const std::string& aText) const {
  std::string name = EnumFromAlias(aEnum, aText).value_or(aText);
  if (auto mapped = EnumMapped(aEnum, name)) {
    name = *mapped;
  }
  const int index = aEnum.IndexOf(name);
  if (index < 0) {
    return std::nullopt;
  }
  return index;
}

TPersistValuePtr TPersist::FromEnumeration(const TPersistEnumInfo& aEnum, std::int64_t aOrdinal) {
  if (Options.PersistEnumAsString && aOrdinal >= 0 && static_cast<std::size_t>(aOrdinal) < aEnum.Names.size()) {
    const std::string& name = aEnum.Names[static_cast<std::size_t>(aOrdinal)];
    return FromString(EnumAlias(aEnum, name).value_or(name));
  }
  // Out-of-range values have no name: keep the number rather than lose the value.
  return FromInt64(aOrdinal);
}

TPersistValuePtr TPersist::FromSet(const TPersistEnumInfo& aEnum, std::uint64_t aMask) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < aEnum.Names.size() && i < 64; ++i) {
    if (aMask & (std::uint64_t{1} << i)) {
      names.push_back(EnumAlias(aEnum, aEnum.Names[i]).value_or(aEnum.Names[i]));
    }
  }
  if (Options.PersistSetAsArray) {
    auto array = std::make_unique<TPersistValue_Array>(this);
    for (auto& name : names) {
      array->Add_String(std::move(name));
    }
    return array;
  }
  std::string text = "[";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) {
      text += ',';
    }
    text += names[i];
  }
  text += ']';
  return FromString(std::move(text));
}

TPersistValuePtr TPersist::FromArray(const TPersistTypeInfo& aType, const void* aValue,
                                     const TPersistMember* aFieldOrProperty) {
  auto array = std::make_unique<TPersistValue_Array>(this);
  const TPersistTypeInfo& element = aType.Element();
  const std::size_t count = aType.Count(aValue);
  for (std::size_t i = 0; i < count; ++i) {
    auto node = FromValueAt(element, aType.At(aValue, i), aFieldOrProperty, "TPersist.FromValue", false);
    // An element that cannot be converted keeps its place as null, so indexes stay aligned.
    array->Add_PersistValue(node ? std::move(node) : FromNull());
  }
  return array;
}

TPersistValuePtr TPersist::FromRecord(const TPersistTypeInfo& aType, const void* aValue,
                                      const TPersistMember* aFieldOrProperty) {
  if (TRecordInterceptor* interceptor = GetRecordInterceptor(aType, aFieldOrProperty)) {
    return interceptor->FromRecord(aValue, aType, aFieldOrProperty);
  }
  if (aType.Kind != TPersistTypeKind::ptkRecord) {
    Diag_UnhandledFieldOrPropType(aType, "TPersist.FromValue");
    return nullptr;
  }
  auto object = std::make_unique<TPersistValue_Object>(this);
  for (const TPersistMember* member : aType.AllMembers(false)) {
    if (member->Attributes.DoNotPersist) {
      continue;
    }
    const TPersistTypeInfo& type = member->Type();
    const std::string key = GetConvertedName(*member);
    if (member->IsProperty) {
      if (!type.Create) {
        continue;
      }
      std::unique_ptr<void, void (*)(void*)> temp(type.Create(), type.Destroy);
      member->Get(aValue, temp.get());
      AddValue(*object, key, type, temp.get(), member);
    } else {
      AddValue(*object, key, type, member->Field(const_cast<void*>(aValue)), member);
    }
  }
  return object;
}

TPersistValuePtr TPersist::FromValue(const TPersistTypeInfo& aType, const void* aValue,
                                     const TPersistMember* aFieldOrProperty, const TPersistMember*) {
  return FromValueAt(aType, aValue, aFieldOrProperty, "TPersist.FromValue", false);
}

TPersistValuePtr TPersist::FromValue_Property(const TPersistTypeInfo& aType, const void* aValue,
                                              const TPersistMember* aFieldOrProperty) {
  return FromValueAt(aType, aValue, aFieldOrProperty, "TPersist.FromValue_Property", false);
}

TPersistValuePtr TPersist::FromValueAt(const TPersistTypeInfo& aType, const void* aValue, const TPersistMember* aMember,
                                       std::string_view aPlace, bool aInObjectList) {
  switch (aType.Kind) {
    case TPersistTypeKind::ptkBoolean:
      return FromBoolean(*static_cast<const bool*>(aValue));
    case TPersistTypeKind::ptkInteger:
    case TPersistTypeKind::ptkInt64:
      return std::make_unique<TPersistValue_Number>(aType.GetFloat(aValue), this);
    case TPersistTypeKind::ptkFloat:
      return FromFloat(aType.GetFloat(aValue));
    case TPersistTypeKind::ptkChar:
      return FromString(std::string(1, *static_cast<const char*>(aValue)));
    case TPersistTypeKind::ptkString:
      return FromString(*static_cast<const std::string*>(aValue));
    case TPersistTypeKind::ptkEnumeration:
      return FromEnumeration(*aType.Enum, aType.GetOrdinal(aValue));
    case TPersistTypeKind::ptkSet:
      return FromSet(*aType.Enum, static_cast<std::uint64_t>(aType.GetOrdinal(aValue)));
    case TPersistTypeKind::ptkDate:
      return FromString(Platform::TDateTime(aType.GetFloat(aValue)).FormatDate());
    case TPersistTypeKind::ptkTime:
      return FromString(Platform::TDateTime(aType.GetFloat(aValue)).FormatTime());
    case TPersistTypeKind::ptkDateTime:
      return FromString(Platform::TDateTime(aType.GetFloat(aValue)).FormatDateTime());
    case TPersistTypeKind::ptkBytes:
      return FromBytes(*static_cast<const std::vector<std::uint8_t>*>(aValue));
    case TPersistTypeKind::ptkArray:
      return FromArray(aType, aValue, aMember);
    case TPersistTypeKind::ptkRecord:
      return FromRecord(aType, aValue, aMember);
    case TPersistTypeKind::ptkClass:
      return FromInstance(aType, aValue, aMember, GetPersistInstanceOptions(InstanceOptions_Save, aType, aMember),
                          aInObjectList);
    case TPersistTypeKind::ptkClassRef: {
      const void* instance = aType.GetRef(aValue);
      if (!instance) {
        return FromNull();
      }
      return FromInstance(aType.Target(), instance, aMember,
                          GetPersistInstanceOptions(InstanceOptions_Save, aType, aMember), aInObjectList);
    }
    case TPersistTypeKind::ptkUnhandled:
      break;
  }
  Diag_UnhandledFieldOrPropType(aType, aPlace);
  return nullptr;
}

const TPersistTypeInfo& TPersist::DynamicTypeOf(const TPersistTypeInfo& aType, const void*& aInstance) const {
  if (!aType.DynamicType) {
    return aType;
  }
  const std::type_index dynamic = aType.DynamicType(aInstance);
  if (dynamic == aType.TypeId) {
    return aType;
  }
  if (auto found = FindGlobal(&TGlobalRegistry::ClassesById, dynamic)) {
    aInstance = aType.MostDerived(aInstance);
    return **found;
  }
  return aType;
}

// A class instance as a node: its interceptor, the list layouts, else a nested object.
TPersistValuePtr TPersist::FromInstance(const TPersistTypeInfo& aType, const void* aInstance,
                                        const TPersistMember* aMember, const TPersistInstanceOptions& aOptions,
                                        bool aInObjectList) {
  const void* instance = aInstance;
  const TPersistTypeInfo& type = DynamicTypeOf(aType, instance);
  if (!Diag_InfiniteLoopCheckAndWarn(instance, &type)) {
    return FromNull();  // a cycle: the instance is being saved further up
  }
  const TInstanceKey key{instance, &type};
  fSaving.insert(key);
  struct TLeave {
    std::set<TInstanceKey>& Saving;
    TInstanceKey Key;
    ~TLeave() { Saving.erase(Key); }
  } leave{fSaving, key};

  if (TInstanceInterceptor* interceptor = GetInstanceInterceptor(type, aMember)) {
    // The interceptor writes under a key of a parent; give it a scratch parent.
    TPersistValue_Object scratch(this);
    interceptor->Persist_InstanceValues(scratch, "value", aOptions, aMember, instance, type);
    if (scratch.Count() == 0) {
      return nullptr;
    }
    return scratch.Take("value");
  }
  Diag_WarnIfNotList(type, aMember);
  Diag_WarnIfNotObjectList(type, aMember);
  Diag_WarnIfList(type, aMember);
  Diag_WarnIfObjectList(type, aMember);
  if (IsList(type, aMember) || IsObjectList(type, aMember)) {
    return FromList(type, instance, aMember, aOptions);
  }
  auto object = std::make_unique<TPersistValue_Object>(this);
  if (aOptions.PersistInstanceTypeName == pitAlwaysSaveType ||
      (aInObjectList && aOptions.PersistInstanceTypeName == pitSaveTypeInObjectList)) {
    Persist_TypeName(*object, type);
  }
  Persist_InstanceValues(*object, instance, type, aOptions, true);
  return object;
}

TPersistValuePtr TPersist::FromList(const TPersistTypeInfo& aType, const void* aList, const TPersistMember* aMember,
                                    const TPersistInstanceOptions& aOptions) {
  const bool objectList = aType.ObjectListShape;
  auto items = std::make_unique<TPersistValue_Array>(this);
  const TPersistTypeInfo& itemType = aType.ListItem();
  const std::size_t count = aType.ListCount(aList);
  for (std::size_t i = 0; i < count; ++i) {
    const void* item = aType.ListAt(aList, i);
    TPersistValuePtr node;
    if (objectList) {
      const void* instance = itemType.GetRef(item);
      node = instance ? FromInstance(itemType.Target(), instance, nullptr, aOptions, true) : FromNull();
    } else {
      node = FromValueAt(itemType, item, nullptr, "TPersist.FromValue", false);
    }
    items->Add_PersistValue(node ? std::move(node) : FromNull());
  }
  if (UseCompact(aType, aMember)) {
    return items;
  }
  auto object = std::make_unique<TPersistValue_Object>(this);
  if (aOptions.PersistInstanceTypeName == pitAlwaysSaveType) {
    Persist_TypeName(*object, aType);
  }
  object->Add_PersistValue(Options.NameItemsArray, std::move(items));
  // The list's own members that carry Persist.
  Persist_InstanceValues(*object, aList, aType, aOptions, false);
  return object;
}

TPersistValue* TPersist::AddValue(TPersistValue_Object& aTarget, const std::string& aKey, const TPersistTypeInfo& aType,
                                  const void* aValue, const TPersistMember* aFieldOrProperty) {
  auto node = FromValueAt(
      aType, aValue, aFieldOrProperty,
      aFieldOrProperty && aFieldOrProperty->IsProperty ? "TPersist.FromValue_Property" : "TPersist.FromValue", false);
  if (!node) {
    return nullptr;
  }
  if (aFieldOrProperty) {
    for (const auto& [key, value] : aFieldOrProperty->Attributes.Meta) {
      node->Meta_Add(key, value);
    }
  }
  for (const auto& [key, value] : aType.Attributes.Meta) {
    node->Meta_Add(key, value);
  }
  return aTarget.Add_PersistValue(aKey, std::move(node));
}

void TPersist::Persist_TypeName(TPersistValue_Object& aTarget, const TPersistTypeInfo& aType) {
  aTarget.Add_String(Options.NameTypeString, aType.QualifiedName);
}

namespace {

bool SelectsProperties(TPersistInstanceData aData) {
  return aData == pidProperties || aData == pidDeclaredProperties;
}
bool SelectsDeclaredOnly(TPersistInstanceData aData) {
  return aData == pidDeclaredFields || aData == pidDeclaredProperties;
}

std::vector<const TPersistMember*> SelectMembers(const TPersistTypeInfo& aType, TPersistInstanceData aData) {
  std::vector<const TPersistMember*> selected;
  if (aData == pidNone) {
    return selected;
  }
  if (aData == pidUnchanged) {
    aData = pidFields;
  }
  for (const TPersistMember* member : aType.AllMembers(SelectsDeclaredOnly(aData))) {
    if (member->IsProperty == SelectsProperties(aData)) {
      selected.push_back(member);
    }
  }
  return selected;
}

bool VisitsClassMember(const TPersistMember& aMember, const TPersistInstanceOptions& aOptions) {
  return aOptions.PersistInstanceNested == pinIncludedNestedInstances || aMember.Attributes.HasPersist;
}

// Owns a temporary value of a described type.
class TTempValue {
 public:
  explicit TTempValue(const TPersistTypeInfo& aType) : fType(aType), fValue(aType.Create ? aType.Create() : nullptr) {}
  ~TTempValue() {
    if (fValue) {
      fType.Destroy(fValue);
    }
  }
  TTempValue(const TTempValue&) = delete;
  TTempValue& operator=(const TTempValue&) = delete;
  void* Get() const { return fValue; }

 private:
  const TPersistTypeInfo& fType;
  void* fValue;
};

}  // namespace

void TPersist::Persist_InstanceValues(TPersistValue_Object& aTarget, const void* aInstance,
                                      const TPersistTypeInfo& aType, const TPersistInstanceOptions& aInstanceOptions,
                                      bool aIncludeByDefault) {
  for (const TPersistMember* member : SelectMembers(aType, aInstanceOptions.PersistInstanceData)) {
    if (member->Attributes.DoNotPersist || (!aIncludeByDefault && !member->Attributes.HasPersist)) {
      continue;
    }
    const TPersistTypeInfo& type = member->Type();
    const std::string key = GetConvertedName(*member);
    TTempValue temp(member->IsProperty ? type : PersistTypeOf<bool>());
    const void* value;
    if (member->IsProperty) {
      if (!temp.Get()) {
        Diag_UnhandledFieldOrPropType(type, "TPersist.FromValue_Property");
        continue;
      }
      member->Get(aInstance, temp.Get());
      value = temp.Get();
    } else {
      value = member->Field(const_cast<void*>(aInstance));
    }
    if (type.IsClassTyped()) {
      if (VisitsClassMember(*member, aInstanceOptions)) {
        SaveClassMember(aTarget, key, *member, value, aInstanceOptions);
      }
      continue;
    }
    AddValue(aTarget, key, type, value, member);
  }
}

void TPersist::SaveClassMember(TPersistValue_Object& aTarget, const std::string& aKey, const TPersistMember& aMember,
                               const void* aValue, const TPersistInstanceOptions& aParentOptions) {
  const TPersistTypeInfo& type = aMember.Type();
  const TPersistInstanceOptions options = GetPersistInstanceOptions(aParentOptions, type, &aMember);
  const void* instance = aValue;
  const TPersistTypeInfo* instanceType = &type;
  if (type.Kind == TPersistTypeKind::ptkClassRef) {
    instance = type.GetRef(aValue);
    instanceType = &type.Target();
    if (!instance) {
      aTarget.Add_Null(aKey);
      return;
    }
  }
  const void* dynamicInstance = instance;
  const TPersistTypeInfo& dynamicType = DynamicTypeOf(*instanceType, dynamicInstance);
  if (TInstanceInterceptor* interceptor = GetInstanceInterceptor(dynamicType, &aMember)) {
    interceptor->Persist_InstanceValues(aTarget, aKey, options, &aMember, dynamicInstance, dynamicType);
    return;
  }
  auto node = FromInstance(*instanceType, instance, &aMember, options, false);
  if (node) {
    for (const auto& [key, value] : aMember.Attributes.Meta) {
      node->Meta_Add(key, value);
    }
    aTarget.Add_PersistValue(aKey, std::move(node));
  }
}

void TPersist::Object_SaveToPersistObject(TPersistValue_Object& aTarget, const void* aInstance,
                                          const TPersistTypeInfo& aType,
                                          const TPersistInstanceOptions& aInstanceOptions) {
  Diag_InfiniteLoopReset();
  const void* instance = aInstance;
  const TPersistTypeInfo& type = DynamicTypeOf(aType, instance);
  if (TInstanceInterceptor* interceptor = GetInstanceInterceptor(type, nullptr)) {
    interceptor->Persist_InstanceValues(aTarget, "", aInstanceOptions, nullptr, instance, type);
    return;
  }
  if (type.Kind == TPersistTypeKind::ptkRecord) {
    auto node = FromRecord(type, instance);
    if (auto* object = node ? node->AsObject() : nullptr) {
      for (auto& pair : object->TakeAll()) {
        aTarget.Add_PersistValue(pair.first, std::move(pair.second));
      }
    }
    return;
  }
  const TInstanceKey key{instance, &type};
  fVisited.insert(key);
  fSaving.insert(key);
  if (IsList(type, nullptr) || IsObjectList(type, nullptr)) {
    // A list at the root is saved in the non-compact layout (the root must be an object).
    auto node = FromList(type, instance, nullptr, aInstanceOptions);
    if (auto* object = node ? node->AsObject() : nullptr) {
      for (auto& pair : object->TakeAll()) {
        aTarget.Add_PersistValue(pair.first, std::move(pair.second));
      }
    } else if (node) {
      aTarget.Add_PersistValue(Options.NameItemsArray, std::move(node));
    }
    fSaving.erase(key);
    return;
  }
  if (aInstanceOptions.PersistInstanceTypeName == pitAlwaysSaveType) {
    Persist_TypeName(aTarget, type);
  }
  Persist_InstanceValues(aTarget, instance, type, aInstanceOptions, true);
  fSaving.erase(key);
}

// ---- loading ----

namespace {
[[noreturn]] void ThrowNullNumber(const TIntegerTarget& aTarget) {
  throw EConvertError(std::string(aTarget.Function) + ": null could not be converted to " + aTarget.TypeName);
}
}  // namespace

// Shared by the integer targets: truncation toward zero, range check, null and texts.
static bool ToIntegral(TPersist& aPersist, const TPersistValue* aSource, const TIntegerTarget& aTarget, double aMin,
                       double aMax, double& aValue) {
  if (!aSource) {
    return false;
  }
  std::optional<double> number;
  if (const auto* node = aSource->AsNumber()) {
    number = node->Value();
  } else if (aSource->IsNull()) {
    if (aPersist.Options.Diag_NumberConvertError) {
      ThrowNullNumber(aTarget);
    }
    return false;
  } else if (const auto* text = aSource->AsString()) {
    if (aPersist.Options.AllowLoadFromUntyped) {
      number = ParseNumber(text->Value());
    }
    if (!number && aPersist.Options.Diag_NumberConvertError && !ParseNumber(text->Value())) {
      throw EConvertError(std::string(aTarget.Function) + ": '" + text->Value() + "' could not be converted to " +
                          aTarget.TypeName);
    }
  }
  if (!number) {
    return false;
  }
  const double truncated = std::trunc(*number);
  // Values the target cannot hold are no value of it: converting them would be undefined.
  if (!(truncated >= aMin && truncated <= aMax)) {
    if (aPersist.Options.Diag_NumberConvertError) {
      throw EConvertError(std::string(aTarget.Function) + ": " + std::to_string(*number) + " is out of range for " +
                          aTarget.TypeName);
    }
    return false;
  }
  aValue = truncated;
  return true;
}

bool TPersist::ToBooleanDirect(const TPersistValue* aSource, bool& aValue) {
  if (!aSource) {
    return false;
  }
  if (const auto* node = aSource->AsBoolean()) {
    aValue = node->Value();
    return true;
  }
  if (const auto* text = aSource->AsString(); text && Options.AllowLoadFromUntyped) {
    return IsTruthText(text->Value(), aValue);
  }
  return false;
}

bool TPersist::ToIntegerDirect(const TPersistValue* aSource, std::int32_t& aValue) {
  double value = 0;
  if (!ToIntegral(*this, aSource, kIntegerTarget, kIntegerTarget.Min, kIntegerTarget.Max, value)) {
    return false;
  }
  aValue = static_cast<std::int32_t>(value);
  return true;
}

bool TPersist::ToInt64Direct(const TPersistValue* aSource, std::int64_t& aValue) {
  double value = 0;
  // 2^63 is not representable in int64; the largest double below it is.
  if (!ToIntegral(*this, aSource, kInt64Target, kInt64Target.Min, 9223372036854774784.0, value)) {
    return false;
  }
  aValue = static_cast<std::int64_t>(value);
  return true;
}

bool TPersist::ToFloatDirect(const TPersistValue* aSource, double& aValue) {
  if (!aSource) {
    return false;
  }
  if (const auto* node = aSource->AsNumber()) {
    aValue = node->Value();
    return true;
  }
  if (aSource->IsNull()) {
    if (Options.Diag_NumberConvertError) {
      throw EConvertError("TPersist.ToFloatDirect: null could not be converted to Double");
    }
    return false;
  }
  if (const auto* text = aSource->AsString()) {
    std::optional<double> number = ParseNumber(text->Value());
    if (number && Options.AllowLoadFromUntyped) {
      aValue = *number;
      return true;
    }
    if (!number && Options.Diag_NumberConvertError) {
      throw EConvertError("TPersist.ToFloatDirect: '" + text->Value() + "' could not be converted to Double");
    }
  }
  return false;
}

bool TPersist::ToStringDirect(const TPersistValue* aSource, std::string& aValue) {
  const auto* text = aSource ? aSource->AsString() : nullptr;
  if (!text) {
    return false;
  }
  aValue = text->Value();
  return true;
}

bool TPersist::ToEnumerationDirect(const TPersistValue* aSource, const TPersistEnumInfo& aEnum,
                                   std::int64_t& aOrdinal) {
  if (!aSource) {
    return false;
  }
  std::optional<std::int64_t> ordinal;
  std::string shown;
  auto fromNumber = [&](double aNumber) {
    shown = std::to_string(static_cast<long long>(aNumber));
    if (auto mapped = EnumMapped(aEnum, shown)) {
      ordinal = EnumOrdinalOf(aEnum, *mapped);
    } else if (aNumber == std::trunc(aNumber) && aNumber >= 0 && aNumber < static_cast<double>(aEnum.Names.size())) {
      ordinal = static_cast<std::int64_t>(aNumber);
    }
  };
  if (const auto* text = aSource->AsString()) {
    shown = text->Value();
    ordinal = EnumOrdinalOf(aEnum, text->Value());
    if (!ordinal && Options.AllowLoadFromUntyped) {
      if (auto number = ParseNumber(text->Value())) {
        fromNumber(*number);
      }
    }
  } else if (const auto* number = aSource->AsNumber()) {
    fromNumber(number->Value());
  } else {
    return false;
  }
  if (!ordinal) {
    if (Options.Diag_EnumConvertError) {
      throw EConvertError("TPersist.ToEnumerationDirect: Invalid value " + shown + " for " + aEnum.QualifiedName);
    }
    return false;
  }
  aOrdinal = *ordinal;
  return true;
}

bool TPersist::ToSetDirect(const TPersistValue* aSource, const TPersistEnumInfo& aEnum, std::uint64_t& aMask) {
  if (!aSource) {
    return false;
  }
  std::vector<std::string> names;
  if (const auto* text = aSource->AsString()) {
    std::string_view body = Trim(text->Value());
    if (body.size() < 2 || body.front() != '[' || body.back() != ']') {
      if (Options.Diag_EnumConvertError) {
        throw EConvertError("TPersist.ToSetDirect: Invalid value " + text->Value() + " for " + aEnum.QualifiedName);
      }
      return false;
    }
    body = body.substr(1, body.size() - 2);
    while (!Trim(body).empty()) {
      const std::size_t comma = body.find(',');
      names.emplace_back(Trim(body.substr(0, comma)));
      if (comma == std::string_view::npos) {
        break;
      }
      body.remove_prefix(comma + 1);
    }
  } else if (const auto* array = aSource->AsArray()) {
    for (const auto& item : array->Items()) {
      const auto* name = item->AsString();
      if (!name) {
        if (Options.Diag_EnumConvertError) {
          throw EConvertError("TPersist.ToSetDirect: Invalid value for " + aEnum.QualifiedName);
        }
        return false;
      }
      names.push_back(name->Value());
    }
  } else {
    return false;
  }
  std::uint64_t mask = 0;
  for (const std::string& name : names) {
    auto ordinal = EnumOrdinalOf(aEnum, name);
    if (!ordinal || *ordinal >= 64) {
      if (Options.Diag_EnumConvertError) {
        throw EConvertError("TPersist.ToSetDirect: Invalid value " + name + " for " + aEnum.QualifiedName);
      }
      return false;
    }
    mask |= std::uint64_t{1} << *ordinal;
  }
  aMask = mask;
  return true;
}

std::optional<bool> TPersist::ToBoolean(const TPersistValue* aSource) {
  bool value = false;
  return ToBooleanDirect(aSource, value) ? std::optional<bool>(value) : std::nullopt;
}
std::optional<std::int32_t> TPersist::ToInteger(const TPersistValue* aSource) {
  std::int32_t value = 0;
  return ToIntegerDirect(aSource, value) ? std::optional<std::int32_t>(value) : std::nullopt;
}
std::optional<std::int64_t> TPersist::ToInt64(const TPersistValue* aSource) {
  std::int64_t value = 0;
  return ToInt64Direct(aSource, value) ? std::optional<std::int64_t>(value) : std::nullopt;
}
std::optional<double> TPersist::ToFloat(const TPersistValue* aSource) {
  double value = 0;
  return ToFloatDirect(aSource, value) ? std::optional<double>(value) : std::nullopt;
}
std::optional<std::string> TPersist::ToString_(const TPersistValue* aSource) {
  std::string value;
  return ToStringDirect(aSource, value) ? std::optional<std::string>(std::move(value)) : std::nullopt;
}
std::optional<std::int64_t> TPersist::ToEnumeration(const TPersistValue* aSource, const TPersistEnumInfo& aEnum) {
  std::int64_t value = 0;
  return ToEnumerationDirect(aSource, aEnum, value) ? std::optional<std::int64_t>(value) : std::nullopt;
}
std::optional<std::uint64_t> TPersist::ToSet(const TPersistValue* aSource, const TPersistEnumInfo& aEnum) {
  std::uint64_t value = 0;
  return ToSetDirect(aSource, aEnum, value) ? std::optional<std::uint64_t>(value) : std::nullopt;
}

bool TPersist::ToArray(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                       const TPersistMember* aFieldOrProperty) {
  const auto* array = aSource ? aSource->AsArray() : nullptr;
  if (!array || aType.Kind != TPersistTypeKind::ptkArray) {
    return false;
  }
  const TPersistTypeInfo& element = aType.Element();
  if (aType.DynamicArray) {
    aType.Resize(aTarget, 0);  // fresh zero elements, not the old ones
    aType.Resize(aTarget, array->Count());
  }
  const std::size_t count = aType.Count(aTarget);
  for (std::size_t i = 0; i < count; ++i) {
    void* target = aType.AtMut(aTarget, i);
    if (i >= array->Count() || !ToValueAt(element, array->Get_Value(i), target, aFieldOrProperty, "TPersist.ToValue")) {
      ZeroOf(element, target);
    }
  }
  return true;
}

bool TPersist::ToDynamicArray(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                              const TPersistMember* aFieldOrProperty) {
  return aType.DynamicArray && ToArray(aType, aSource, aTarget, aFieldOrProperty);
}

bool TPersist::ToRecord(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                        const TPersistMember* aFieldOrProperty) {
  if (TRecordInterceptor* interceptor = GetRecordInterceptor(aType, aFieldOrProperty)) {
    return interceptor->ToRecord(aSource, aType, aTarget, aFieldOrProperty);
  }
  const auto* object = aSource ? aSource->AsObject() : nullptr;
  if (!object || aType.Kind != TPersistTypeKind::ptkRecord) {
    return false;
  }
  ZeroRecord(aType, aTarget);
  for (const TPersistMember* member : aType.AllMembers(false)) {
    if (member->Attributes.DoNotPersist) {
      continue;
    }
    const std::string key = GetConvertedName(*member);
    const TPersistValue* node = object->Get_Value(key);
    if (!node) {
      continue;
    }
    const TPersistTypeInfo& type = member->Type();
    try {
      if (member->IsProperty) {
        TTempValue temp(type);
        if (temp.Get() && member->Set && ToValueAt(type, node, temp.Get(), member, "TPersist.ToValue")) {
          member->Set(aTarget, temp.Get());
        }
        continue;
      }
      void* field = member->Field(aTarget);
      if (!ToValueAt(type, node, field, member, "TPersist.ToValue")) {
        ZeroOf(type, field);
      }
    } catch (const EConvertError& error) {
      throw EConvertError(aType.QualifiedName + "." + key + ": " + error.what());
    }
  }
  return true;
}

bool TPersist::ToValue(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                       const TPersistMember* aFieldOrProperty) {
  return ToValueAt(aType, aSource, aTarget, aFieldOrProperty, "TPersist.ToValue");
}

bool TPersist::ToValueAt(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aTarget,
                         const TPersistMember* aMember, std::string_view aPlace) {
  if (!aSource) {
    return false;
  }
  switch (aType.Kind) {
    case TPersistTypeKind::ptkBoolean:
      return ToBooleanDirect(aSource, *static_cast<bool*>(aTarget));
    case TPersistTypeKind::ptkInteger:
    case TPersistTypeKind::ptkInt64: {
      const TIntegerTarget& target = aType.Kind == TPersistTypeKind::ptkInteger ? kIntegerTarget : kInt64Target;
      // The largest double not above the maximum (2^64-1 and 2^63-1 round up in double).
      const double max = aType.MaxValue >= 9.2e18 ? std::nextafter(aType.MaxValue, 0.0) : aType.MaxValue;
      double value = 0;
      if (!ToIntegral(*this, aSource, target, aType.MinValue, max, value)) {
        return false;
      }
      aType.SetFloat(aTarget, value);
      return true;
    }
    case TPersistTypeKind::ptkFloat: {
      double value = 0;
      if (!ToFloatDirect(aSource, value)) {
        return false;
      }
      aType.SetFloat(aTarget, value);
      return true;
    }
    case TPersistTypeKind::ptkChar: {
      const auto* text = aSource->AsString();
      if (!text || text->Value().size() != 1) {
        return false;
      }
      *static_cast<char*>(aTarget) = text->Value()[0];
      return true;
    }
    case TPersistTypeKind::ptkString:
      return ToStringDirect(aSource, *static_cast<std::string*>(aTarget));
    case TPersistTypeKind::ptkEnumeration: {
      std::int64_t ordinal = 0;
      if (!ToEnumerationDirect(aSource, *aType.Enum, ordinal)) {
        return false;
      }
      aType.SetOrdinal(aTarget, ordinal);
      return true;
    }
    case TPersistTypeKind::ptkSet: {
      std::uint64_t mask = 0;
      if (!ToSetDirect(aSource, *aType.Enum, mask)) {
        return false;
      }
      aType.SetOrdinal(aTarget, static_cast<std::int64_t>(mask));
      return true;
    }
    case TPersistTypeKind::ptkDate:
    case TPersistTypeKind::ptkTime:
    case TPersistTypeKind::ptkDateTime: {
      if (const auto* text = aSource->AsString()) {
        std::optional<Platform::TDateTime> value;
        if (aType.Kind == TPersistTypeKind::ptkTime) {
          value = Platform::TDateTime::TryParseTime(text->Value());
        }
        if (!value) {
          value = Platform::TDateTime::TryParseDateTime(text->Value());
        }
        if (value) {
          aType.SetFloat(aTarget, value->Value());
          return true;
        }
        if (!Options.AllowLoadFromUntyped) {
          return false;
        }
      }
      double value = 0;
      if (!ToFloatDirect(aSource, value)) {
        return false;
      }
      aType.SetFloat(aTarget, value);
      return true;
    }
    case TPersistTypeKind::ptkBytes: {
      const auto* binary = aSource->AsBinary();
      if (!binary) {
        return false;
      }
      *static_cast<std::vector<std::uint8_t>*>(aTarget) = binary->Value();
      return true;
    }
    case TPersistTypeKind::ptkArray:
      return ToArray(aType, aSource, aTarget, aMember);
    case TPersistTypeKind::ptkRecord:
      return ToRecord(aType, aSource, aTarget, aMember);
    case TPersistTypeKind::ptkClass:
      return ToInstance(aType, aSource, aTarget, aMember,
                        GetPersistInstanceOptions(InstanceOptions_Load, aType, aMember));
    case TPersistTypeKind::ptkClassRef:
      // Elements of arrays and lists: created when missing.
      return ToClassRef(aType, aSource, aTarget, aMember,
                        GetPersistInstanceOptions(InstanceOptions_Load, aType, aMember), true);
    case TPersistTypeKind::ptkUnhandled:
      break;
  }
  Diag_UnhandledFieldOrPropType(aType, aPlace);
  return false;
}

const TPersistTypeInfo* TPersist::Load_TypeAsClass(const TPersistValue_Object& aSource) {
  const auto* name = aSource.Get_String(Options.NameTypeString);
  if (!name) {
    return nullptr;
  }
  const std::string mapped = GetMappedTypeName(name->Value());
  const TPersistTypeInfo* type = FindClass(mapped);
  if (!type && Options.Diag_TypeNotFound) {
    throw ETypeNotFound("xPersistence: Type not found " + mapped);
  }
  return type;
}

namespace {
// The pointer to the aTarget sub-object of an instance of aType, or nullptr when aType
// does not derive from aTarget.
void* UpcastTo(const TPersistTypeInfo& aType, void* aInstance, const TPersistTypeInfo& aTarget) {
  const TPersistTypeInfo* type = &aType;
  void* instance = aInstance;
  while (type != &aTarget) {
    if (!type->Base) {
      return nullptr;
    }
    instance = type->ToBase(instance);
    type = &type->Base();
  }
  return instance;
}
}  // namespace

bool TPersist::ToClassRef(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aRef,
                          const TPersistMember* aMember, const TPersistInstanceOptions& aOptions, bool aCreate) {
  const TPersistTypeInfo& declared = aType.Target();
  if (!aType.GetRef(aRef)) {
    const auto* object = aSource ? aSource->AsObject() : nullptr;
    if (!aCreate || !aType.OwningRef || !object) {
      return false;
    }
    const TPersistTypeInfo* type = Load_TypeAsClass(*object);
    void* upcast = nullptr;
    TPersistInstance created;
    if (type) {
      created = CreateInstance(*type);
      upcast = created.Instance ? UpcastTo(*type, created.Instance, declared) : nullptr;
      if (created.Instance && !upcast) {
        type->Destroy(created.Instance);  // "@Type" names a class of another hierarchy
        created = {};
      }
    }
    if (!upcast) {
      created = CreateInstance(declared);
      upcast = created.Instance;
    }
    if (!upcast) {
      return false;
    }
    aType.SetRef(aRef, upcast);
  }
  return ToInstance(declared, aSource, aType.GetRef(aRef), aMember, aOptions);
}

bool TPersist::ToInstance(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aInstance,
                          const TPersistMember* aMember, const TPersistInstanceOptions& aOptions) {
  const void* complete = aInstance;
  const TPersistTypeInfo& type = DynamicTypeOf(aType, complete);
  void* instance = const_cast<void*>(complete);
  if (IsList(type, aMember) || IsObjectList(type, aMember)) {
    return ToList(type, aSource, instance, aMember, aOptions);
  }
  const auto* object = aSource ? aSource->AsObject() : nullptr;
  if (!object) {
    return false;
  }
  Load_InstanceValues(*object, instance, type, aOptions, true);
  return true;
}

bool TPersist::ToList(const TPersistTypeInfo& aType, const TPersistValue* aSource, void* aList,
                      const TPersistMember* aMember, const TPersistInstanceOptions& aOptions) {
  if (!aSource) {
    return false;
  }
  const TPersistValue_Array* items = nullptr;
  const TPersistValue_Object* listObject = nullptr;
  if (UseCompact(aType, aMember)) {
    items = aSource->AsArray();
    if (!items && Options.AllowLoadFromUntyped && (listObject = aSource->AsObject())) {
      items = listObject->Get_Array(Options.NameItemsArray);
    }
  } else if ((listObject = aSource->AsObject())) {
    items = listObject->Get_Array(Options.NameItemsArray);
  }
  if (!items) {
    return false;
  }
  if (ClearBeforeLoad(aType, aMember)) {
    aType.ListClear(aList);
  }
  const TPersistTypeInfo& itemType = aType.ListItem();
  for (const auto& node : items->Items()) {
    TTempValue item(itemType);
    if (!item.Get()) {
      break;
    }
    bool converted;
    if (itemType.Kind == TPersistTypeKind::ptkClassRef) {
      converted = ToClassRef(itemType, node.get(), item.Get(), nullptr, aOptions, true);
    } else {
      converted = ToValueAt(itemType, node.get(), item.Get(), nullptr, "TPersist.ToValue");
    }
    if (converted || itemType.Kind != TPersistTypeKind::ptkClassRef) {
      // Value items that cannot be converted keep their place with the zero value.
      aType.ListAdd(aList, item.Get());
    }
  }
  if (listObject) {
    Load_InstanceValues(*listObject, aList, aType, aOptions, false);
  }
  return true;
}

bool TPersist::GetValue(const TPersistValue_Object& aSource, std::string_view aKey, const TPersistTypeInfo& aType,
                        void* aValue, const TPersistMember* aFieldOrProperty) {
  const TPersistValue* node = aSource.Get_Value(aKey);
  return node && ToValueAt(aType, node, aValue, aFieldOrProperty, "TPersist.ToValue");
}

void TPersist::Load_InstanceValues(const TPersistValue_Object& aSource, void* aInstance, const TPersistTypeInfo& aType,
                                   const TPersistInstanceOptions& aInstanceOptions, bool aIncludeByDefault) {
  for (const TPersistMember* member : SelectMembers(aType, aInstanceOptions.PersistInstanceData)) {
    if (member->Attributes.DoNotPersist || (!aIncludeByDefault && !member->Attributes.HasPersist)) {
      continue;
    }
    const TPersistTypeInfo& type = member->Type();
    const std::string key = GetConvertedName(*member);
    try {
      if (type.IsClassTyped()) {
        if (VisitsClassMember(*member, aInstanceOptions)) {
          if (member->IsProperty) {
            // Only a property that hands out a reference can be filled.
            if (type.Kind == TPersistTypeKind::ptkClassRef && !type.OwningRef) {
              TTempValue temp(type);
              member->Get(aInstance, temp.Get());
              LoadClassMember(aSource, key, *member, temp.Get(), aInstanceOptions);
            }
          } else {
            LoadClassMember(aSource, key, *member, member->Field(aInstance), aInstanceOptions);
          }
        }
        continue;
      }
      const TPersistValue* node = aSource.Get_Value(key);
      if (!node) {
        continue;  // a missing member leaves the field as it is
      }
      if (member->IsProperty) {
        TTempValue temp(type);
        if (!member->Set || !temp.Get()) {
          continue;
        }
        if (ToValueAt(type, node, temp.Get(), member, "TPersist.Load_InstanceProperty")) {
          member->Set(aInstance, temp.Get());
        }
        continue;
      }
      void* field = member->Field(aInstance);
      if (!ToValueAt(type, node, field, member, "TPersist.ToValue")) {
        ZeroOf(type, field);
      }
    } catch (const EConvertError& error) {
      throw EConvertError(aType.QualifiedName + "." + key + ": " + error.what());
    }
  }
}

void TPersist::LoadClassMember(const TPersistValue_Object& aSource, const std::string& aKey,
                               const TPersistMember& aMember, void* aValue,
                               const TPersistInstanceOptions& aParentOptions) {
  const TPersistTypeInfo& type = aMember.Type();
  const TPersistInstanceOptions options = GetPersistInstanceOptions(aParentOptions, type, &aMember);
  const TPersistValue* node = aSource.Get_Value(aKey);
  if (!node) {
    return;
  }
  const TPersistTypeInfo* instanceType = &type;
  void* instance = aValue;
  if (type.Kind == TPersistTypeKind::ptkClassRef) {
    instanceType = &type.Target();
    if (!type.GetRef(aValue)) {
      if (options.PersistInstanceCreate != picCreateIfNil || !node->AsObject()) {
        return;
      }
      ToClassRef(type, node, aValue, &aMember, options, true);
      return;
    }
    instance = type.GetRef(aValue);
  }
  const void* complete = instance;
  const TPersistTypeInfo& dynamicType = DynamicTypeOf(*instanceType, complete);
  if (TInstanceInterceptor* interceptor = GetInstanceInterceptor(dynamicType, &aMember)) {
    interceptor->Load_InstanceValues(aSource, aKey, options, &aMember, const_cast<void*>(complete), dynamicType);
    return;
  }
  ToInstance(*instanceType, node, instance, &aMember, options);
}

void TPersist::Object_LoadFromPersistObject(const TPersistValue_Object& aSource, void* aInstance,
                                            const TPersistTypeInfo& aType,
                                            const TPersistInstanceOptions& aInstanceOptions) {
  const void* complete = aInstance;
  const TPersistTypeInfo& type = DynamicTypeOf(aType, complete);
  void* instance = const_cast<void*>(complete);
  if (TInstanceInterceptor* interceptor = GetInstanceInterceptor(type, nullptr)) {
    interceptor->Load_InstanceValues(aSource, "", aInstanceOptions, nullptr, instance, type);
    return;
  }
  if (type.Kind == TPersistTypeKind::ptkRecord) {
    ToRecord(type, &aSource, instance);
    return;
  }
  if (IsList(type, nullptr) || IsObjectList(type, nullptr)) {
    const TPersistValue* items = aSource.Get_Array(Options.NameItemsArray);
    if (items && UseCompact(type, nullptr)) {
      ToList(type, items, instance, nullptr, aInstanceOptions);
    } else {
      ToList(type, &aSource, instance, nullptr, aInstanceOptions);
    }
    return;
  }
  Load_InstanceValues(aSource, instance, type, aInstanceOptions, true);
}

}  // namespace Update::Common
