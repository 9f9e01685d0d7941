#pragma once

// The universal object model: TUniversalList, an ordered list of named TUniversalObject
// nodes, each with an optional child list, long properties, short properties and
// references; and the universal-list stream (header, records of versions 2..17, packing
// and password protection).
//
// Ownership: a list owns its objects; an object owns its four lists; freeing a list frees
// the tree below it. ParentList/ParentObject are back references kept by the owners.
//
// Errors follow the library-wide modes of settings.h; in message mode (this system) every
// failure is shown through the message hook and reported by the call's result.
//
// Reading a stream is safe for any input: every count and length is checked against the
// bytes that are left before anything is allocated, nesting of lists is bounded by
// kMaxNestingDepth, and a packed or enciphered stream never unpacks beyond its stored
// length.
//
// Not thread-safe: one list is used by one thread at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/datetime/datetime.h"
#include "uniobject/memory_stream.h"
#include "uniobject/properties.h"
#include "uniobject/types.h"

namespace UniObject {

inline constexpr std::uint32_t kStreamSignature = 0x4EF4AD45;

class TUniversalObject {
 public:
  // Bits of FStatusDef.
  static constexpr std::uint32_t ChildsExists = 1u << 0;
  static constexpr std::uint32_t Properties_Loaded = 1u << 1;
  static constexpr std::uint32_t ChildList_Loaded = 1u << 2;
  static constexpr std::uint32_t Status_Changed = 1u << 3;
  static constexpr std::uint32_t Status_Deleted = 1u << 4;
  static constexpr std::uint32_t Status_Moved = 1u << 5;
  static constexpr std::uint32_t Status_Archiv = 1u << 6;
  static constexpr std::uint32_t Status_X = 1u << 7;
  static constexpr std::uint32_t ParentObjStatusDeleted = 1u << 8;
  static constexpr std::uint32_t Status_NameChanged = 1u << 9;
  static constexpr int kPrivateStatusFirstBit = 15;

  TUniversalObject(std::int32_t aID, std::uint8_t aID2, std::int32_t aTypID, std::int32_t aParentID,
                   std::uint8_t aParentID2, std::string aName, TUniversalList* aParentList);
  ~TUniversalObject();
  TUniversalObject(const TUniversalObject&) = delete;
  TUniversalObject& operator=(const TUniversalObject&) = delete;

  const std::string& Name() const { return fName; }
  // Also sets Status_Changed.
  void SetName(std::string aValue);
  std::int32_t ID() const { return fID; }
  void SetID(std::int32_t aValue) { fID = aValue; }
  std::uint8_t ID2() const { return fID2; }
  void SetID2(std::uint8_t aValue) { fID2 = aValue; }
  std::int32_t ParentID() const { return fParentID; }
  std::uint8_t ParentID2() const { return fParentID2; }
  void SetParentIDs(std::int32_t aParentID, std::uint8_t aParentID2) {
    fParentID = aParentID;
    fParentID2 = aParentID2;
  }
  std::int32_t TypID() const { return fTypID; }
  void SetTypID(std::int32_t aValue) { fTypID = aValue; }
  std::int32_t ZuordnungNr() const { return fZuordnungNr; }
  void SetZuordnungNr(std::int32_t aValue) { fZuordnungNr = aValue; }
  TUniversalList* ParentList() const { return fParentList; }
  void SetParentList(TUniversalList* aValue) { fParentList = aValue; }
  std::uint32_t StatusDef() const { return fStatusDef; }
  void SetStatusDef(std::uint32_t aValue) { fStatusDef = aValue; }
  bool GetStatusBit(std::uint32_t aBit) const { return (fStatusDef & aBit) != 0; }
  // Setting Status_Deleted also sets Status_Changed.
  void SetStatusBit(std::uint32_t aBit, bool aValue);
  // Private status bits 0..15 (bits 15..30 of FStatusDef); an index of 16 or more is
  // ignored.
  bool GetPrivateStatusBit(int aIndex) const;
  void SetPrivateStatusBit(int aIndex, bool aValue);
  TServerInfo ServerInfo() const { return fServerInfo; }
  void SetServerInfo(TServerInfo aValue) { fServerInfo = aValue; }
  std::int16_t ImageIndex() const { return fImageIndex; }
  void SetImageIndex(std::int16_t aValue) { fImageIndex = aValue; }
  std::int16_t SelectedIndex() const { return fSelectedIndex; }
  void SetSelectedIndex(std::int16_t aValue) { fSelectedIndex = aValue; }
  Platform::TDateTime LastUpdate() const { return fLastUpdate; }
  void SetLastUpdate(Platform::TDateTime aValue) { fLastUpdate = aValue; }
  std::int16_t UpdateNr() const { return fUpdateNr; }
  void SetUpdateNr(std::int16_t aValue) { fUpdateNr = aValue; }
  void* Data() const { return fData; }
  void SetData(void* aValue) { fData = aValue; }
  std::uint32_t SecurityValue() const { return fSecurityValue; }
  void SetSecurityValue(std::uint32_t aValue) { fSecurityValue = aValue; }
  std::int32_t SortOrder() const { return fSortOrder; }
  void SetSortOrder(std::int32_t aValue) { fSortOrder = aValue; }
  std::uint32_t ObjectStatus() const { return fObjectStatus; }
  void SetObjectStatus(std::uint32_t aValue) { fObjectStatus = aValue; }
  bool GetObjectStatusBit(int aBit) const;
  void SetObjectStatusBit(int aBit, bool aValue);
  std::int32_t InternListIndex() const { return fInternListIndex; }
  void SetInternListIndex(std::int32_t aValue) { fInternListIndex = aValue; }

  // The four lists: nil until prepared (or read from a stream).
  TUniversalList* ChildList() const { return fChildList.get(); }
  TPropertyList* Props() const { return fProps.get(); }
  TPropertyList_Short* ShortProps() const { return fShortProps.get(); }
  TPropertyList_Short* Refs() const { return fRefs.get(); }
  TUniversalList& PrepareChildList();
  TPropertyList& PreparePropertyList();
  TPropertyList_Short& PreparePropertyListShort();
  TPropertyList_Short& PrepareRefList();

  // With akAll: a child list with at least one object exists. Another kind: at least one
  // child grants that kind in its security value, and the kind is granted at all (it is
  // akExecute or not above the maximum access kind setting).
  bool HasObjectChilds(TAccessKind aMinAccessKind = akAll) const;
  bool HasObjectProps() const { return fProps && fProps->Count() > 0; }
  bool HasObjectShortProps() const { return fShortProps && fShortProps->Count() > 0; }
  bool HasObjectRefs() const { return fRefs && fRefs->Count() > 0; }
  TUniversalObject* GetFirstChild() const;
  TUniversalObject* GetNextSibling() const;

  // Copies aSource (see the fields below); a nil aSource deletes this object from its list
  // (this object is then freed: do not use it afterwards).
  void Assign(const TUniversalObject* aSource, bool aAssignProps, bool aAssignChildList, int aMaxChildLevel);

  std::size_t GetSaveSize() const;
  void SaveTo_Stream(TMemoryStream& aStream, int aVersion) const;
  // Reads the object record after its marker 3. Faults are reported here ("Beim
  // Einlesen ... eines Objektes ...") and the object keeps what was read.
  void LoadFrom_Stream(TMemoryStream& aStream, int aVersion);

 private:
  void ReadBody(TMemoryStream& aStream, int aVersion);

  std::string fName;
  std::int32_t fID;
  std::uint8_t fID2;
  std::int32_t fParentID;
  std::uint8_t fParentID2;
  std::int32_t fTypID;
  std::int32_t fZuordnungNr = 0;
  TUniversalList* fParentList;
  std::uint32_t fStatusDef = Status_Changed;
  TServerInfo fServerInfo = siNone;
  std::int16_t fImageIndex = 0;
  std::int16_t fSelectedIndex = 0;
  Platform::TDateTime fLastUpdate{kDefaultLastUpdate};
  std::int16_t fUpdateNr = 0;
  void* fData = nullptr;
  std::unique_ptr<TUniversalList> fChildList;
  std::unique_ptr<TPropertyList> fProps;
  std::unique_ptr<TPropertyList_Short> fShortProps;
  std::unique_ptr<TPropertyList_Short> fRefs;
  std::uint32_t fSecurityValue = 0;
  std::int32_t fSortOrder = 0;
  std::uint32_t fObjectStatus = 0;
  std::int32_t fInternListIndex = 0;
};

class TUniversalList {
 public:
  explicit TUniversalList(TUniversalObject* aParentObject = nullptr);
  ~TUniversalList();
  TUniversalList(const TUniversalList&) = delete;
  TUniversalList& operator=(const TUniversalList&) = delete;

  int Count() const { return static_cast<int>(fItems.size()); }
  // The object at a position; outside 0 .. Count-1: the index error, then nil.
  TUniversalObject* Get(int aIndex) const;
  TUniversalObject* Items(int aIndex) const { return Get(aIndex); }
  TUniversalObject* operator[](int aIndex) const { return Get(aIndex); }
  TUniversalObject* ParentObject() const { return fParentObject; }
  void SetParentObject(TUniversalObject* aValue) { fParentObject = aValue; }

  void Clear();
  // Appends a new object; its parent IDs are those of the list's parent object.
  TUniversalObject* NewItem(std::int32_t aID, std::uint8_t aID2, std::int32_t aTypID, const std::string& aName);
  // Appends an existing object; with aChangeParentList the object now belongs here.
  TUniversalObject* Add(std::unique_ptr<TUniversalObject> aItem, bool aChangeParentList = true);
  // Removes and frees the object at aIndex.
  void Delete(int aIndex);
  // Takes the object out of the list without freeing it.
  std::unique_ptr<TUniversalObject> Extract(const TUniversalObject* aItem);
  int IndexOf(const TUniversalObject* aItem) const;
  // Appends a copy of aItemToCopy (nil for nil).
  TUniversalObject* CopyItem(const TUniversalObject* aItemToCopy, bool aCopyProperties, bool aCopyChildLists,
                             int aMaxChildLevel);
  // MaxChildLevel 0 copies the whole depth, 1 one level.
  void Assign(const TUniversalList* aSource, bool aOnlyOneLevel, bool aCopyProperties, int aMaxChildLevel,
              bool aOnlyAppendNewItems = false);
  TUniversalObject* SearchObjectByName(const std::string& aItemName, bool aOnlyOneLevel,
                                       bool aCompareLowerCase = false) const;

  Platform::TDateTime LastUpdate() const { return fLastUpdate; }
  void SetLastUpdate(Platform::TDateTime aValue) { fLastUpdate = aValue; }
  std::int16_t UpdateNr() const { return fUpdateNr; }
  void SetUpdateNr(std::int16_t aValue) { fUpdateNr = aValue; }
  std::int32_t ZuordnungNr() const { return fZuordnungNr; }
  void SetZuordnungNr(std::int32_t aValue) { fZuordnungNr = aValue; }
  std::uint8_t SuperProtection() const { return fSuperProtection; }
  void SetSuperProtection(std::uint8_t aValue) { fSuperProtection = aValue; }
  const std::string& FileName() const { return fFileName; }
  TUniListStatus ListStatus() const { return fListStatus; }
  bool ExtendedStreamAssignMode() const { return fExtendedStreamAssignMode; }
  void SetExtendedStreamAssignMode(bool aValue) { fExtendedStreamAssignMode = aValue; }

  // Called just before the list is written to a file.
  std::function<void(TUniversalList& aSender)> BeforeDirectSaveToFile;

  // 21 bytes per list plus its objects and properties.
  std::size_t GetSaveSize() const;

  // Writes the stream into aExternStream (cleared first): version 0 means 17; 15, 16, 17
  // are written as given, 1..14 refused, above 17 written as 17's layout under that
  // number. Packs with the packer mode when aUsePacker, enciphers when aPasswort is not
  // empty. False (after the message) on failure.
  bool SaveTo_ExternMemoryStream(TMemoryStream& aExternStream, bool aUsePacker = true, int aSaveToVersion = 0,
                                 const std::string& aPasswort = {});
  // Clears the list and reads the stream from position 0. True when the header was
  // accepted, even if a version refusal or a fault in the body followed (they are shown).
  // Without aModifyStreamAllowed the caller's stream is left as it is.
  bool LoadFrom_ExternMemoryStream(TMemoryStream& aExternStream, const std::string& aPasswort = {},
                                   bool aModifyStreamAllowed = false);
  bool SaveTo_File(const std::string& aFileName, bool aUsePacker = true, const std::string& aPasswort = {},
                   bool aSaveFileName = false, int aSaveToVersion = 0);
  bool LoadFrom_File(const std::string& aFileName, const std::string& aPasswort = {}, bool aSaveFileName = false);
  bool SaveTo_DefaultFile(bool aUsePacker = true, const std::string& aPasswort = {});

  // The list record alone (marker 1 first), for nested lists.
  void SaveList(TMemoryStream& aStream, int aVersion) const;
  // Reads the list record after its marker 1. Faults are shown ("Beim Laden ... im
  // Unilistenabschnitt ...") and clear the list.
  void LoadList(TMemoryStream& aStream, int aVersion);
  // As LoadList, but a fault throws EUniListReadError without a message.
  void ReadList(TMemoryStream& aStream, int aVersion);

 private:
  bool DecodeStream(std::vector<std::uint8_t>& aBytes, const std::string& aPasswort);
  bool ReadHeaderAndBody(TMemoryStream& aStream, const std::string& aPasswort);
  void WriteStream(TMemoryStream& aStream, int aVersion, const std::string& aPasswort) const;

  std::vector<std::unique_ptr<TUniversalObject>> fItems;
  TUniversalObject* fParentObject;
  Platform::TDateTime fLastUpdate{kDefaultLastUpdate};
  std::int16_t fUpdateNr = 0;
  std::int32_t fZuordnungNr = 0;
  std::string fFileName;
  std::uint8_t fSuperProtection = 0;
  TUniListStatus fListStatus = lsReady;
  bool fExtendedStreamAssignMode = false;
};

// Helpers on an object's short properties; each yields nil (and an empty or zero value)
// when the object has no short property of that ID and class.
TPropertyObject_Short* ShortPropByID(const TUniversalObject* aObject, std::int32_t aPropertyID);
// Accepts the text kind and the classes derived from it (pkChar5 .. pkChar100, pkLink).
TPr_Text_Short* ShortPropText(const TUniversalObject* aObject, std::int32_t aPropertyID, std::string& aText);
// The picture is the property's own, not a copy; nil when there is none.
TPr_Image_Short* ShortPropImage(const TUniversalObject* aObject, std::int32_t aPropertyID, const TPicture*& aPicture);
TPr_LongInt_Short* ShortPropLongInt(const TUniversalObject* aObject, std::int32_t aPropertyID, std::int32_t& aValue);
TPr_Boolean_Short* ShortPropBoolean(const TUniversalObject* aObject, std::int32_t aPropertyID, bool& aValue);

}  // namespace UniObject
