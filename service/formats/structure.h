#pragma once

// Update.Service.Structure: the installation structure of one feed module.
//
// A structure file is an XML document listing, below one or more install roots
// (TMainStructItem, each with a symbolic special directory), the folders and files of a
// module: for every file the expected size, checksums, version, DOS time and compare mode
// and the name of its package. The feed delivers it packed (".zml"); the file check loads
// it into a TMainStructCollection, the feed builder writes it.
//
// Ownership: a collection owns its items; an item owns its three descriptions (file,
// folder, install); a folder description owns its child collection. Parent links point
// back and are kept by the setters here.
//
// Untrusted names: item names and package names come from the feed. Code that turns them
// into paths goes through TStructItem::BuildPath / TFileInfo::BuildPackedPath, which refuse
// a name that is empty, ".", absolute, holds "..", a path delimiter ("/" or "\") or a NUL,
// and write a log line naming it.
//
// Thread-safety: none of its own; the program collection's lock guards the merged
// structure (see service/lists/program_collection.h).

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_version.h"
#include "service/formats/xml_utils.h"

namespace Update::Service {

// How the file check compares an installed file with its description. Stored by name;
// an unknown name reads as -1, which the comparisons treat like fcmAlways.
enum TFileCompareMode : std::int8_t {
  fcmDefault,
  fcmCheckSum,
  fcmVersion,
  fcmProxy,
  fcmDate,
  fcmNever,
  fcmAlways,
};

inline constexpr std::string_view kFileCompareModeNames[] = {"fcmDefault", "fcmCheckSum", "fcmVersion", "fcmProxy",
                                                             "fcmDate",    "fcmNever",    "fcmAlways"};
// The name of a compare mode ("fcmVersion"); the decimal number for a value outside the
// enumeration.
std::string FileCompareModeToString(TFileCompareMode aMode);

// The checksum value of a file whose checksum was not computed.
inline constexpr std::int32_t kNoCrc = 2147483647;

class TStructItem;
class TStructCollection;

// Description of a file (element "FILE").
class TFileInfo final : public TXmlItem {
 public:
  std::string FPackedName;        // package name in the feed and in the download folder
  std::int32_t FSize = -1;        // size of the installed file
  std::int32_t FPackedSize = -1;  // package size without its 352-byte header
  std::int32_t FCrc = kNoCrc;
  std::int32_t FPackedCrc = kNoCrc;
  std::int32_t FTime = 0;  // packed DOS date-time
  std::int32_t FVersionMajor = 0;
  std::int32_t FVersionMinor = 0;
  std::int32_t FVersionRelease = 0;
  std::int32_t FVersionBuild = 0;
  TFileCompareMode FCompareMode = fcmDefault;
  // Results of the file check; not stored.
  bool FToDownload = true;
  bool FFromCache = false;

  std::string GetTagName() const override { return "FILE"; }
  std::span<const TXmlProperty> GetProperties() const override;

  TStructItem* ParentItem() const { return FParentItem; }
  // Copies every value (stored and check results), not the parent link.
  void Assign(const TFileInfo& aSource);
  // The four version numbers.
  Common::TFileVersion GetVersion() const {
    return Common::TFileVersion(FVersionMajor, FVersionMinor, FVersionRelease, FVersionBuild);
  }
  void SetVersion(const Common::TFileVersion& aVersion);
  // Sizes, checksums, time and version numbers to 0 (a file that is to be deleted).
  void ClearInfoForDeleted();
  // aFolder + FPackedName, or false (and a log line naming it) for an unsafe package name.
  bool BuildPackedPath(const std::string& aFolder, std::string& aPath) const;

 private:
  friend class TStructItem;
  TStructItem* FParentItem = nullptr;
};

// Description of a folder (element "DIR").
class TDirInfo final : public TXmlItem {
 public:
  TDirInfo();
  ~TDirInfo() override;
  TDirInfo(const TDirInfo&) = delete;
  TDirInfo& operator=(const TDirInfo&) = delete;

  bool FSync = false;  // the folder on disk is made identical to the structure

  TStructCollection& Items() { return *FItems; }
  const TStructCollection& Items() const { return *FItems; }
  TStructItem* ParentItem() const { return FParentItem; }

  std::string GetTagName() const override { return "DIR"; }
  std::span<const TXmlProperty> GetProperties() const override;

 private:
  friend class TStructItem;
  std::unique_ptr<TStructCollection> FItems;
  TStructItem* FParentItem = nullptr;
};

// Description of how a file is installed (element "INST").
class TInstallInfo final : public TXmlItem {
 public:
  std::string FSourceFile;
  std::string FSyncPath;
  std::string FTargetPath;
  // Not stored: computed by the file check.
  bool FToBuild = false;
  std::string FTarget;  // the resolved install target

  TStructItem* ParentItem() const { return FParentItem; }
  bool IsEmpty() const { return FSourceFile.empty() && FSyncPath.empty() && FTargetPath.empty(); }

  std::string GetTagName() const override { return "INST"; }
  std::span<const TXmlProperty> GetProperties() const override;

 private:
  friend class TStructItem;
  TStructItem* FParentItem = nullptr;
};

// A file or folder (element "STRUCTITEM").
class TStructItem : public TXmlItem {
 public:
  // Creates all three descriptions.
  TStructItem();
  ~TStructItem() override;
  TStructItem(const TStructItem&) = delete;
  TStructItem& operator=(const TStructItem&) = delete;

  std::string FName;  // file or folder name, no path
  bool FIsDirectory = false;
  bool FDeleteMe = false;
  // Not stored.
  bool FSynced = false;
  std::string FUrl;  // download URL, computed by the check

  std::string GetTagName() const override { return "STRUCTITEM"; }
  std::span<const TXmlProperty> GetProperties() const override;
  virtual bool IsMain() const { return false; }

  TFileInfo* FileInfo() const { return FFileInfo.get(); }
  TDirInfo* Dir() const { return FDirInfo.get(); }
  TInstallInfo* Inst() const { return FInstallInfo.get(); }
  // Replace a description (the old one is freed); null removes it.
  void SetFileInfo(std::unique_ptr<TFileInfo> aInfo);
  void SetDir(std::unique_ptr<TDirInfo> aInfo);
  void SetInst(std::unique_ptr<TInstallInfo> aInfo);
  // The description, created when missing.
  TFileInfo& NeedFileInfo();
  TDirInfo& NeedDir();
  TInstallInfo& NeedInst();
  void FreeFileObject() { SetFileInfo(nullptr); }
  void FreeDirObject() { SetDir(nullptr); }
  void FreeInstObject() { SetInst(nullptr); }
  void FreeObjects();

  TStructCollection* ParentCollection() const { return FParentCollection; }
  // Deep copy of the values and descriptions (and, between top-level items, the special
  // directory); the parent collection stays.
  virtual void Assign(const TStructItem& aSource);
  // Removes the item from its collection, which frees it: the item must not be used
  // afterwards. An item without collection is left alone.
  void Delete();

  // True when aName can stand for one path element below a folder: not empty, not ".",
  // not absolute (no leading delimiter, no drive), no "..", no "/" or "\", no NUL.
  static bool IsSafeName(std::string_view aName);
  // aFolder + FName, or false (and a log line naming it) for an unsafe name.
  bool BuildPath(const std::string& aFolder, std::string& aPath) const;

 private:
  friend class TStructCollection;
  // Replaces a description, moving the parent link from the old one to the new one.
  template <class TInfo>
  void Attach(std::unique_ptr<TInfo>& aSlot, std::unique_ptr<TInfo> aInfo) {
    if (aSlot) {
      aSlot->FParentItem = nullptr;
    }
    aSlot = std::move(aInfo);
    if (aSlot) {
      aSlot->FParentItem = this;
    }
  }
  std::unique_ptr<TFileInfo> FFileInfo;
  std::unique_ptr<TDirInfo> FDirInfo;
  std::unique_ptr<TInstallInfo> FInstallInfo;
  TStructCollection* FParentCollection = nullptr;
};

// A top-level item (element "STRUCTUREITEM"): an install root.
class TMainStructItem final : public TStructItem {
 public:
  TMainStructItem() { FIsDirectory = true; }

  std::string FSpecialDir;  // symbolic install root, resolved by the configuration

  std::string GetTagName() const override { return "STRUCTUREITEM"; }
  std::span<const TXmlProperty> GetProperties() const override;
  bool IsMain() const override { return true; }
  void Assign(const TStructItem& aSource) override;
};

// An owning, ordered list of items (element "STRUCT", items "STRUCTITEM").
class TStructCollection : public TXmlCollection {
 public:
  TStructCollection() = default;
  ~TStructCollection() override;
  TStructCollection(const TStructCollection&) = delete;
  TStructCollection& operator=(const TStructCollection&) = delete;

  std::string GetTagName() const override { return "STRUCT"; }
  std::string GetItemTagName() const override { return "STRUCTITEM"; }
  std::span<const TXmlProperty> GetProperties() const override { return {}; }

  std::size_t Count() const { return FItems.size(); }
  bool Empty() const { return FItems.empty(); }
  TStructItem& Items(std::size_t aIndex) const { return *FItems.at(aIndex); }
  // A new item (a TMainStructItem in a TMainStructCollection) appended and owned.
  TStructItem& Add();
  // Appends an existing item and takes it over.
  TStructItem& AddToList(std::unique_ptr<TStructItem> aItem);
  // Takes an item out of the collection and hands it to the caller.
  std::unique_ptr<TStructItem> Extract(const TStructItem& aItem);
  void Remove(const TStructItem& aItem) { Extract(aItem); }
  void Clear();
  std::size_t IndexOf(const TStructItem& aItem) const;

  // First item with that name (without regard to case): any kind, folders, files.
  TStructItem* GetByName(std::string_view aName) const;
  TStructItem* GetDirByName(std::string_view aName) const;
  TStructItem* GetFileByName(std::string_view aName) const;
  // False when another item than aExisting (which may be null) of that kind has the name.
  bool IsNameAvailable(std::string_view aName, const TStructItem* aExisting) const;
  bool IsDirNameAvailable(std::string_view aName, const TStructItem* aExisting) const;
  bool IsFileNameAvailable(std::string_view aName, const TStructItem* aExisting) const;
  bool IsSpecialDirAvailable(std::string_view aSpecialDir, const TStructItem* aExisting) const;

  // Deep copy of all items of aSource.
  void Assign(const TStructCollection& aSource);
  // The number of items with a file description in the whole tree.
  int GeObjectsCount() const;
  // Drops every install description in the tree.
  void DeleteInstInformation();
  // Reduces the tree to its minimal form: files keep their file description, folders their
  // folder description (only with children or Sync), install descriptions only where they
  // hold a path; items left without any description and without DeleteMe are removed.
  void CleanRedundantObjects();
  // SourceFile, SyncPath and TargetPath of every install description, made absolute against
  // / relative to the folder aBase.
  void MakeInstPathsAbsolute(const std::string& aBase);
  void MakeInstPathsRelative(const std::string& aBase);
  // Moves the install sources below aBase: SourceFile := aBase/<its file name>, SyncPath :=
  // aBase/<its last folder name>/, and the same below aBase/<folder> for the children of a
  // folder (for a top-level item the last folder name of its TargetPath). Empty paths stay
  // empty; a child folder with an unsafe name is skipped with a log line.
  void RebuildInstSourcePath(const std::string& aBase);
  // Top-level items by special directory; other items folders first, then by name; names
  // without regard to case. Equal items keep their order.
  void Sort(bool aRecursive);

  // TXmlCollection
  void ClearItems() override { Clear(); }
  TXmlItem& AddXmlItem() override { return Add(); }
  std::size_t XmlItemCount() const override { return FItems.size(); }
  const TXmlItem& XmlItemAt(std::size_t aIndex) const override { return *FItems.at(aIndex); }

 protected:
  virtual std::unique_ptr<TStructItem> CreateItem() const;

 private:
  std::vector<std::unique_ptr<TStructItem>> FItems;
};

// The structure of a module (element "STRUCT", top-level items "STRUCTUREITEM").
class TMainStructCollection final : public TStructCollection {
 public:
  TMainStructCollection();
  ~TMainStructCollection() override;

  std::string GetItemTagName() const override { return "STRUCTUREITEM"; }

  // Empty the collection and parse the file (a missing file gives false and an empty
  // collection), load the items from the document element, CleanRedundantObjects. True
  // when a document was parsed and has at least one node. A document with a value that
  // cannot be converted (an integer that is no number) is refused: false, an empty
  // collection and a log line naming the file.
  bool LoadFromFile(const std::string& aFileName);
  bool LoadFromStream(std::istream& aStream);
  // CleanRedundantObjects, then write the document "STRUCT" with all items. False (with a
  // log line) only when the file cannot be written.
  bool SaveToFile(const std::string& aFileName);
  // The document text SaveToFile writes (after CleanRedundantObjects).
  std::string SaveToString();

  TMainStructItem& AddMain() { return static_cast<TMainStructItem&>(Add()); }
  TMainStructItem& GetItem(std::size_t aIndex) const { return static_cast<TMainStructItem&>(Items(aIndex)); }
  // First top-level item with that special directory (without regard to case), or null.
  TMainStructItem* GetBySpecialDir(std::string_view aSpecialDir) const;
  // For each top-level item with a TargetPath: aBase/<last folder name of TargetPath>/.
  void RebuildInstTargetPath(const std::string& aBase);

  // The document of the last load (null after a save or before any load).
  const pugi::xml_document* XmlDoc() const { return FXmlDoc.get(); }

 protected:
  std::unique_ptr<TStructItem> CreateItem() const override;

 private:
  bool LoadFromParsed(const pugi::xml_parse_result& aResult, const std::string& aSource);
  std::unique_ptr<pugi::xml_document> FXmlDoc;
};

// An ordered list of items that does not own them (the program collection's files to
// download and to install).
class TStructList {
 public:
  void Add(TStructItem* aItem) { FItems.push_back(aItem); }
  void Clear() { FItems.clear(); }
  std::size_t Count() const { return FItems.size(); }
  TStructItem* Items(std::size_t aIndex) const { return FItems.at(aIndex); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

 private:
  std::vector<TStructItem*> FItems;
};

}  // namespace Update::Service
