#include "service/formats/structure.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <istream>
#include <sstream>

#include "common/utils.h"
#include "platform/text/text.h"
#include "service/host/log.h"

namespace Update::Service {

namespace {

using Platform::Text::SameTextNoCase;
using Update::Common::TUpdateUtils;

bool IsDelimiter(char aChar) {
  return aChar == '/' || aChar == '\\';
}

std::string IncludeTrailingDelimiter(std::string aPath) {
  if (aPath.empty() || !IsDelimiter(aPath.back())) {
    aPath += '/';
  }
  return aPath;
}

// aFolder with a trailing delimiter, then aName, built in place in aPath (one allocation at
// most: the check builds two paths for every installed file).
void JoinPath(const std::string& aFolder, const std::string& aName, std::string& aPath) {
  const bool delimiter = !aFolder.empty() && IsDelimiter(aFolder.back());
  std::string path;
  path.reserve(aFolder.size() + 1 + aName.size());
  path.append(aFolder);
  if (!delimiter) {
    path += '/';
  }
  path.append(aName);
  aPath = std::move(path);
}

// The last folder name: the path without a trailing delimiter, then the text after the
// last delimiter. Install paths in feed data may be Windows paths, so "\" counts too.
std::string LastFolderName(std::string_view aPath) {
  if (!aPath.empty() && IsDelimiter(aPath.back())) {
    aPath.remove_suffix(1);
  }
  const auto slash = aPath.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? aPath : aPath.substr(slash + 1));
}

std::string FileNamePart(std::string_view aPath) {
  const auto slash = aPath.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? aPath : aPath.substr(slash + 1));
}

// A name as it may be written into the log: control characters (NUL above all) as \xNN.
std::string Printable(std::string_view aName) {
  std::string result;
  for (const char c : aName) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      result += "\\x";
      result += kHex[byte >> 4];
      result += kHex[byte & 0x0F];
    } else {
      result += c;
    }
  }
  return result;
}

bool RefuseUnsafe(std::string_view aWhat, std::string_view aName) {
  if (TStructItem::IsSafeName(aName)) {
    return false;
  }
  Log("\tUnsafe " + std::string(aWhat) + " refused: \"" + Printable(aName) + "\"");
  return true;
}

bool IsAbsolute(std::string_view aPath) {
  return (!aPath.empty() && IsDelimiter(aPath.front())) || (aPath.size() >= 2 && aPath[1] == ':');
}

// The XML library reads UTF-8, UTF-16, UTF-32 and Latin-1; structure files written on the
// Windows side may declare the Windows-1252 code page, which is turned into UTF-8 first so
// that names with umlauts match the installed files.
pugi::xml_parse_result ParseStructure(pugi::xml_document& aDocument, std::string aBytes) {
  const std::string_view head = std::string_view(aBytes).substr(0, aBytes.find("?>"));
  if (head.rfind("<?xml", 0) == 0) {
    const auto encoding = head.find("encoding=");
    if (encoding != std::string_view::npos && encoding + 10 < head.size()) {
      const char quote = head[encoding + 9];
      const auto end = head.find(quote, encoding + 10);
      const std::string_view name = head.substr(encoding + 10, end == std::string_view::npos ? 0 : end - encoding - 10);
      if (Platform::Text::SameAsciiNoCase(name, "windows-1252") || Platform::Text::SameAsciiNoCase(name, "cp1252")) {
        const std::string text = Platform::Text::Cp1252ToUtf8(aBytes);
        return aDocument.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
      }
    }
  }
  return aDocument.load_buffer(aBytes.data(), aBytes.size(), pugi::parse_default, pugi::encoding_auto);
}

// Property tables. Every accessor casts the item back to the class the table belongs to.
template <class T, auto Member>
TXmlProperty IntegerProperty(std::string_view aName) {
  return {
      .Name = aName,
      .Kind = TXmlPropertyKind::pkInteger,
      .GetOrdinal = [](const TXmlItem& aItem) -> std::int64_t { return static_cast<const T&>(aItem).*Member; },
      .SetOrdinal = [](TXmlItem& aItem,
                       std::int64_t aValue) { static_cast<T&>(aItem).*Member = static_cast<std::int32_t>(aValue); }};
}

template <class T, auto Member>
TXmlProperty BooleanProperty(std::string_view aName) {
  return {.Name = aName,
          .Kind = TXmlPropertyKind::pkBoolean,
          .EnumNames = kXmlBooleanNames,
          .GetOrdinal = [](const TXmlItem& aItem) -> std::int64_t { return static_cast<const T&>(aItem).*Member; },
          .SetOrdinal = [](TXmlItem& aItem, std::int64_t aValue) { static_cast<T&>(aItem).*Member = aValue != 0; }};
}

template <class T, auto Member>
TXmlProperty TextProperty(std::string_view aName) {
  return {.Name = aName,
          .Kind = TXmlPropertyKind::pkText,
          .GetText = [](const TXmlItem& aItem) { return static_cast<const T&>(aItem).*Member; },
          .SetText = [](TXmlItem& aItem, std::string aValue) { static_cast<T&>(aItem).*Member = std::move(aValue); }};
}

template <class T, auto Getter>
TXmlProperty ObjectProperty(std::string_view aName) {
  return {.Name = aName,
          .Kind = TXmlPropertyKind::pkObject,
          .GetObject = [](const TXmlItem& aItem) -> const TXmlItem* { return Getter(static_cast<const T&>(aItem)); },
          .GetMutableObject = [](TXmlItem& aItem) -> TXmlItem* { return Getter(static_cast<const T&>(aItem)); }};
}

// The item properties, sorted by name without regard to case.
#define QV_STRUCT_ITEM_PROPERTIES(T)                                                               \
  BooleanProperty<T, &T::FDeleteMe>("DeleteMe"),                                                   \
      ObjectProperty<T, [](const T& aItem) -> TXmlItem* { return aItem.Dir(); }>("Dir"),           \
      ObjectProperty<T, [](const T& aItem) -> TXmlItem* { return aItem.FileInfo(); }>("FileInfo"), \
      ObjectProperty<T, [](const T& aItem) -> TXmlItem* { return aItem.Inst(); }>("Inst"),         \
      BooleanProperty<T, &T::FIsDirectory>("IsDirectory"), TextProperty<T, &T::FName>("Name")

const TXmlProperty kStructItemProperties[] = {QV_STRUCT_ITEM_PROPERTIES(TStructItem)};
const TXmlProperty kMainStructItemProperties[] = {
    QV_STRUCT_ITEM_PROPERTIES(TMainStructItem),
    TextProperty<TMainStructItem, &TMainStructItem::FSpecialDir>("SpecialDir")};
#undef QV_STRUCT_ITEM_PROPERTIES

const TXmlProperty kFileInfoProperties[] = {
    IntegerProperty<TFileInfo, &TFileInfo::FVersionBuild>("BuildNumber"),
    {.Name = "CompareMode",
     .Kind = TXmlPropertyKind::pkEnumeration,
     .EnumNames = kFileCompareModeNames,
     .GetOrdinal = [](const TXmlItem& aItem) -> std::int64_t {
       return static_cast<const TFileInfo&>(aItem).FCompareMode;
     },
     .SetOrdinal =
         [](TXmlItem& aItem, std::int64_t aValue) {
           static_cast<TFileInfo&>(aItem).FCompareMode = static_cast<TFileCompareMode>(aValue);
         }},
    IntegerProperty<TFileInfo, &TFileInfo::FCrc>("CRC"),
    IntegerProperty<TFileInfo, &TFileInfo::FVersionMajor>("MajorNumber"),
    IntegerProperty<TFileInfo, &TFileInfo::FVersionMinor>("MinorNumber"),
    IntegerProperty<TFileInfo, &TFileInfo::FPackedCrc>("PCRC"),
    TextProperty<TFileInfo, &TFileInfo::FPackedName>("PName"),
    IntegerProperty<TFileInfo, &TFileInfo::FPackedSize>("PSize"),
    IntegerProperty<TFileInfo, &TFileInfo::FVersionRelease>("ReleaseNumber"),
    IntegerProperty<TFileInfo, &TFileInfo::FSize>("Size"),
    IntegerProperty<TFileInfo, &TFileInfo::FTime>("Time"),
};

const TXmlProperty kDirInfoProperties[] = {
    ObjectProperty<TDirInfo,
                   [](const TDirInfo& aDir) -> TXmlItem* { return const_cast<TStructCollection*>(&aDir.Items()); }>(
        "Items"),
    BooleanProperty<TDirInfo, &TDirInfo::FSync>("Sync"),
};

const TXmlProperty kInstallInfoProperties[] = {
    TextProperty<TInstallInfo, &TInstallInfo::FSourceFile>("SourceFile"),
    TextProperty<TInstallInfo, &TInstallInfo::FSyncPath>("SyncPath"),
    TextProperty<TInstallInfo, &TInstallInfo::FTargetPath>("TargetPath"),
};

// Cleans one item; false when the item is to be removed from its collection.
bool CleanItem(TStructItem& aItem) {
  if (!aItem.FIsDirectory) {
    aItem.FreeDirObject();
  } else {
    aItem.FreeFileObject();
    if (TDirInfo* dir = aItem.Dir()) {
      dir->Items().CleanRedundantObjects();
      if (dir->Items().Empty() && !dir->FSync) {
        aItem.FreeDirObject();
      }
    }
  }
  if (aItem.Inst() != nullptr && aItem.Inst()->IsEmpty()) {
    aItem.FreeInstObject();
  }
  return aItem.FileInfo() != nullptr || aItem.Dir() != nullptr || aItem.Inst() != nullptr || aItem.FDeleteMe;
}

template <class Visit>
void ForEachInst(const TStructCollection& aCollection, const Visit& aVisit) {
  for (std::size_t i = 0; i < aCollection.Count(); ++i) {
    TStructItem& item = aCollection.Items(i);
    if (TInstallInfo* inst = item.Inst()) {
      aVisit(*inst);
    }
    if (TDirInfo* dir = item.Dir()) {
      ForEachInst(dir->Items(), aVisit);
    }
  }
}

}  // namespace

std::string FileCompareModeToString(TFileCompareMode aMode) {
  const auto index = static_cast<int>(aMode);
  if (index < 0 || index >= static_cast<int>(std::size(kFileCompareModeNames))) {
    return std::to_string(index);
  }
  return std::string(kFileCompareModeNames[index]);
}

// TFileInfo

std::span<const TXmlProperty> TFileInfo::GetProperties() const {
  return kFileInfoProperties;
}

void TFileInfo::Assign(const TFileInfo& aSource) {
  TStructItem* parent = FParentItem;
  *this = aSource;
  FParentItem = parent;
}

void TFileInfo::SetVersion(const Common::TFileVersion& aVersion) {
  FVersionMajor = aVersion.Major;
  FVersionMinor = aVersion.Minor;
  FVersionRelease = aVersion.Release;
  FVersionBuild = aVersion.Build;
}

void TFileInfo::ClearInfoForDeleted() {
  FSize = 0;
  FPackedSize = 0;
  FCrc = 0;
  FPackedCrc = 0;
  FTime = 0;
  FVersionMajor = 0;
  FVersionMinor = 0;
  FVersionRelease = 0;
  FVersionBuild = 0;
}

bool TFileInfo::BuildPackedPath(const std::string& aFolder, std::string& aPath) const {
  if (RefuseUnsafe("package name", FPackedName)) {
    return false;
  }
  JoinPath(aFolder, FPackedName, aPath);
  return true;
}

// TDirInfo

TDirInfo::TDirInfo() : FItems(std::make_unique<TStructCollection>()) {}
TDirInfo::~TDirInfo() = default;
std::span<const TXmlProperty> TDirInfo::GetProperties() const {
  return kDirInfoProperties;
}

// TInstallInfo

std::span<const TXmlProperty> TInstallInfo::GetProperties() const {
  return kInstallInfoProperties;
}

// TStructItem

TStructItem::TStructItem() {
  SetFileInfo(std::make_unique<TFileInfo>());
  SetDir(std::make_unique<TDirInfo>());
  SetInst(std::make_unique<TInstallInfo>());
}

TStructItem::~TStructItem() = default;

std::span<const TXmlProperty> TStructItem::GetProperties() const {
  return kStructItemProperties;
}

void TStructItem::SetFileInfo(std::unique_ptr<TFileInfo> aInfo) {
  Attach(FFileInfo, std::move(aInfo));
}
void TStructItem::SetDir(std::unique_ptr<TDirInfo> aInfo) {
  Attach(FDirInfo, std::move(aInfo));
}
void TStructItem::SetInst(std::unique_ptr<TInstallInfo> aInfo) {
  Attach(FInstallInfo, std::move(aInfo));
}

TFileInfo& TStructItem::NeedFileInfo() {
  if (!FFileInfo) {
    SetFileInfo(std::make_unique<TFileInfo>());
  }
  return *FFileInfo;
}

TDirInfo& TStructItem::NeedDir() {
  if (!FDirInfo) {
    SetDir(std::make_unique<TDirInfo>());
  }
  return *FDirInfo;
}

TInstallInfo& TStructItem::NeedInst() {
  if (!FInstallInfo) {
    SetInst(std::make_unique<TInstallInfo>());
  }
  return *FInstallInfo;
}

void TStructItem::FreeObjects() {
  FreeFileObject();
  FreeDirObject();
  FreeInstObject();
}

void TStructItem::Assign(const TStructItem& aSource) {
  if (&aSource == this) {
    return;
  }
  FName = aSource.FName;
  FIsDirectory = aSource.FIsDirectory;
  FDeleteMe = aSource.FDeleteMe;
  FSynced = aSource.FSynced;
  FUrl = aSource.FUrl;
  if (aSource.FFileInfo) {
    NeedFileInfo().Assign(*aSource.FFileInfo);
  } else {
    FreeFileObject();
  }
  if (aSource.FDirInfo) {
    TDirInfo& dir = NeedDir();
    dir.FSync = aSource.FDirInfo->FSync;
    dir.Items().Assign(aSource.FDirInfo->Items());
  } else {
    FreeDirObject();
  }
  if (aSource.FInstallInfo) {
    TInstallInfo& inst = NeedInst();
    inst.FSourceFile = aSource.FInstallInfo->FSourceFile;
    inst.FSyncPath = aSource.FInstallInfo->FSyncPath;
    inst.FTargetPath = aSource.FInstallInfo->FTargetPath;
    inst.FToBuild = aSource.FInstallInfo->FToBuild;
    inst.FTarget = aSource.FInstallInfo->FTarget;
  } else {
    FreeInstObject();
  }
}

void TStructItem::Delete() {
  if (FParentCollection != nullptr) {
    FParentCollection->Remove(*this);
  }
}

bool TStructItem::IsSafeName(std::string_view aName) {
  if (aName.empty() || aName == "." || IsAbsolute(aName)) {
    return false;
  }
  return aName.find("..") == std::string_view::npos &&
         aName.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool TStructItem::BuildPath(const std::string& aFolder, std::string& aPath) const {
  if (RefuseUnsafe("item name", FName)) {
    return false;
  }
  JoinPath(aFolder, FName, aPath);
  return true;
}

// TMainStructItem

std::span<const TXmlProperty> TMainStructItem::GetProperties() const {
  return kMainStructItemProperties;
}

void TMainStructItem::Assign(const TStructItem& aSource) {
  TStructItem::Assign(aSource);
  if (aSource.IsMain()) {
    FSpecialDir = static_cast<const TMainStructItem&>(aSource).FSpecialDir;
  }
}

// TStructCollection

TStructCollection::~TStructCollection() = default;

std::unique_ptr<TStructItem> TStructCollection::CreateItem() const {
  return std::make_unique<TStructItem>();
}

TStructItem& TStructCollection::Add() {
  return AddToList(CreateItem());
}

TStructItem& TStructCollection::AddToList(std::unique_ptr<TStructItem> aItem) {
  aItem->FParentCollection = this;
  FItems.push_back(std::move(aItem));
  return *FItems.back();
}

std::size_t TStructCollection::IndexOf(const TStructItem& aItem) const {
  // From the end: the check walks collections backwards and removes the item it is at, so
  // this finds it at once instead of after every item before it.
  for (std::size_t i = FItems.size(); i-- > 0;) {
    if (FItems[i].get() == &aItem) {
      return i;
    }
  }
  return static_cast<std::size_t>(-1);
}

std::unique_ptr<TStructItem> TStructCollection::Extract(const TStructItem& aItem) {
  const std::size_t index = IndexOf(aItem);
  if (index >= FItems.size()) {
    return nullptr;
  }
  std::unique_ptr<TStructItem> item = std::move(FItems[index]);
  FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
  item->FParentCollection = nullptr;
  return item;
}

void TStructCollection::Clear() {
  FItems.clear();
}

TStructItem* TStructCollection::GetByName(std::string_view aName) const {
  for (const auto& item : FItems) {
    if (SameTextNoCase(item->FName, aName)) {
      return item.get();
    }
  }
  return nullptr;
}

TStructItem* TStructCollection::GetDirByName(std::string_view aName) const {
  for (const auto& item : FItems) {
    if (item->FIsDirectory && SameTextNoCase(item->FName, aName)) {
      return item.get();
    }
  }
  return nullptr;
}

TStructItem* TStructCollection::GetFileByName(std::string_view aName) const {
  for (const auto& item : FItems) {
    if (!item->FIsDirectory && SameTextNoCase(item->FName, aName)) {
      return item.get();
    }
  }
  return nullptr;
}

bool TStructCollection::IsNameAvailable(std::string_view aName, const TStructItem* aExisting) const {
  return std::none_of(FItems.begin(), FItems.end(), [&](const auto& aItem) {
    return aItem.get() != aExisting && SameTextNoCase(aItem->FName, aName);
  });
}

bool TStructCollection::IsDirNameAvailable(std::string_view aName, const TStructItem* aExisting) const {
  return std::none_of(FItems.begin(), FItems.end(), [&](const auto& aItem) {
    return aItem.get() != aExisting && aItem->FIsDirectory && SameTextNoCase(aItem->FName, aName);
  });
}

bool TStructCollection::IsFileNameAvailable(std::string_view aName, const TStructItem* aExisting) const {
  return std::none_of(FItems.begin(), FItems.end(), [&](const auto& aItem) {
    return aItem.get() != aExisting && !aItem->FIsDirectory && SameTextNoCase(aItem->FName, aName);
  });
}

bool TStructCollection::IsSpecialDirAvailable(std::string_view aSpecialDir, const TStructItem* aExisting) const {
  return std::none_of(FItems.begin(), FItems.end(), [&](const auto& aItem) {
    return aItem.get() != aExisting && aItem->IsMain() &&
           SameTextNoCase(static_cast<const TMainStructItem&>(*aItem).FSpecialDir, aSpecialDir);
  });
}

void TStructCollection::Assign(const TStructCollection& aSource) {
  if (&aSource == this) {
    return;
  }
  Clear();
  for (const auto& item : aSource.FItems) {
    Add().Assign(*item);
  }
}

int TStructCollection::GeObjectsCount() const {
  int count = 0;
  for (const auto& item : FItems) {
    if (item->FileInfo() != nullptr && item->ParentCollection() != nullptr) {
      ++count;
    }
    if (const TDirInfo* dir = item->Dir()) {
      count += dir->Items().GeObjectsCount();
    }
  }
  return count;
}

void TStructCollection::DeleteInstInformation() {
  for (const auto& item : FItems) {
    item->FreeInstObject();
    if (TDirInfo* dir = item->Dir()) {
      dir->Items().DeleteInstInformation();
    }
  }
}

void TStructCollection::CleanRedundantObjects() {
  for (std::size_t i = FItems.size(); i-- > 0;) {
    if (!CleanItem(*FItems[i])) {
      FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

void TStructCollection::MakeInstPathsAbsolute(const std::string& aBase) {
  ForEachInst(*this, [&](TInstallInfo& aInst) {
    aInst.FSourceFile = TUpdateUtils::MakePathAbsolute(aBase, aInst.FSourceFile);
    aInst.FSyncPath = TUpdateUtils::MakePathAbsolute(aBase, aInst.FSyncPath);
    aInst.FTargetPath = TUpdateUtils::MakePathAbsolute(aBase, aInst.FTargetPath);
  });
}

void TStructCollection::MakeInstPathsRelative(const std::string& aBase) {
  ForEachInst(*this, [&](TInstallInfo& aInst) {
    aInst.FSourceFile = TUpdateUtils::MakePathRelative(aBase, aInst.FSourceFile);
    aInst.FSyncPath = TUpdateUtils::MakePathRelative(aBase, aInst.FSyncPath);
    aInst.FTargetPath = TUpdateUtils::MakePathRelative(aBase, aInst.FTargetPath);
  });
}

void TStructCollection::RebuildInstSourcePath(const std::string& aBase) {
  const std::string base = IncludeTrailingDelimiter(aBase);
  for (const auto& item : FItems) {
    TInstallInfo* inst = item->Inst();
    if (inst != nullptr) {
      if (const std::string name = FileNamePart(inst->FSourceFile); !name.empty() && !RefuseUnsafe("file name", name)) {
        inst->FSourceFile = base + name;
      }
      if (const std::string name = LastFolderName(inst->FSyncPath);
          !name.empty() && !RefuseUnsafe("folder name", name)) {
        inst->FSyncPath = base + name + "/";
      }
    }
    if (!item->FIsDirectory || item->Dir() == nullptr) {
      continue;
    }
    std::string folder = item->FName;
    if (item->IsMain() && inst != nullptr && !inst->FTargetPath.empty()) {
      folder = LastFolderName(inst->FTargetPath);
    }
    if (RefuseUnsafe("folder name", folder)) {
      continue;
    }
    item->Dir()->Items().RebuildInstSourcePath(base + folder);
  }
}

void TStructCollection::Sort(bool aRecursive) {
  std::stable_sort(FItems.begin(), FItems.end(), [](const auto& aLeft, const auto& aRight) {
    if (aLeft->IsMain() && aRight->IsMain()) {
      return Platform::Text::CompareTextNoCase(static_cast<const TMainStructItem&>(*aLeft).FSpecialDir,
                                               static_cast<const TMainStructItem&>(*aRight).FSpecialDir) < 0;
    }
    if (aLeft->FIsDirectory != aRight->FIsDirectory) {
      return aLeft->FIsDirectory;
    }
    return Platform::Text::CompareTextNoCase(aLeft->FName, aRight->FName) < 0;
  });
  if (!aRecursive) {
    return;
  }
  for (const auto& item : FItems) {
    if (TDirInfo* dir = item->Dir()) {
      dir->Items().Sort(true);
    }
  }
}

// TMainStructCollection

TMainStructCollection::TMainStructCollection() = default;
TMainStructCollection::~TMainStructCollection() = default;

std::unique_ptr<TStructItem> TMainStructCollection::CreateItem() const {
  return std::make_unique<TMainStructItem>();
}

TMainStructItem* TMainStructCollection::GetBySpecialDir(std::string_view aSpecialDir) const {
  for (std::size_t i = 0; i < Count(); ++i) {
    TMainStructItem& item = GetItem(i);
    if (SameTextNoCase(item.FSpecialDir, aSpecialDir)) {
      return &item;
    }
  }
  return nullptr;
}

void TMainStructCollection::RebuildInstTargetPath(const std::string& aBase) {
  const std::string base = IncludeTrailingDelimiter(aBase);
  for (std::size_t i = 0; i < Count(); ++i) {
    TInstallInfo* inst = GetItem(i).Inst();
    if (inst == nullptr || inst->FTargetPath.empty()) {
      continue;
    }
    const std::string folder = LastFolderName(inst->FTargetPath);
    if (!RefuseUnsafe("folder name", folder)) {
      inst->FTargetPath = base + folder + "/";
    }
  }
}

bool TMainStructCollection::LoadFromParsed(const pugi::xml_parse_result& aResult, const std::string& aSource) {
  if (!aResult || !FXmlDoc->first_child()) {
    return false;
  }
  try {
    TXmlUtils::XmlToObject(*this, FXmlDoc->document_element());
  } catch (const std::exception& e) {
    LogException("TMainStructCollection.LoadFromFile: Error " + ExceptionText(e));
    Log("\tFileName = " + aSource);
    Clear();
    return false;
  }
  CleanRedundantObjects();
  return true;
}

bool TMainStructCollection::LoadFromFile(const std::string& aFileName) {
  Clear();
  FXmlDoc.reset();
  std::error_code error;
  if (!std::filesystem::is_regular_file(aFileName, error)) {
    return false;
  }
  std::ifstream in(aFileName, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  FXmlDoc = std::make_unique<pugi::xml_document>();
  return LoadFromParsed(ParseStructure(*FXmlDoc, bytes.str()), aFileName);
}

bool TMainStructCollection::LoadFromStream(std::istream& aStream) {
  Clear();
  std::ostringstream bytes;
  bytes << aStream.rdbuf();
  FXmlDoc = std::make_unique<pugi::xml_document>();
  return LoadFromParsed(ParseStructure(*FXmlDoc, bytes.str()), "(stream)");
}

std::string TMainStructCollection::SaveToString() {
  CleanRedundantObjects();
  pugi::xml_document document;
  TXmlUtils::ObjectToXml(*this, document.append_child(GetTagName().c_str()));
  std::ostringstream text;
  document.save(text);
  return text.str();
}

bool TMainStructCollection::SaveToFile(const std::string& aFileName) {
  CleanRedundantObjects();
  FXmlDoc = std::make_unique<pugi::xml_document>();
  TXmlUtils::ObjectToXml(*this, FXmlDoc->append_child(GetTagName().c_str()));
  const bool saved = FXmlDoc->save_file(aFileName.c_str());
  FXmlDoc.reset();
  if (!saved) {
    Log("\tTMainStructCollection.SaveToFile: cannot write " + aFileName);
  }
  return saved;
}

}  // namespace Update::Service
