#include "uniobject/universal_list.h"

#include <algorithm>
#include <new>

#include "platform/text/text.h"
#include "uniobject/cipher.h"
#include "uniobject/packer.h"
#include "uniobject/settings.h"

namespace UniObject {

namespace {

constexpr const char* kBusy = "Diese Aktion ist zur Zeit nicht möglich, da die Liste beschäftigt ist!";
constexpr const char* kListBodyError =
    "Beim Laden des Memory-Streams ist im Unilistenabschnitt ein Fehler aufgetreten.";
constexpr const char* kObjectError = "Beim Einlesen des Memory-Streams eines Objektes ist ein Fehler aufgetreten.";
constexpr const char* kPropertyListError =
    "Beim Laden des Memory-Streams ist in einer Propertyliste ein Fehler aufgetreten.";
constexpr const char* kShortListError =
    "Beim Laden des Memory-Streams ist in einer Propertylist_Short ein Fehler aufgetreten.";

// Reports a fault of a nested part at its level: the level's text, CR LF and the cause.
void ReportLevel(const char* aLevelText, const char* aCause) {
  UniListReadError(std::string(aLevelText) + "\r\n" + aCause);
}

// Runs a reading step of one level; a fault is reported at that level and aOnFault
// cleans up. In raise mode the level's error propagates.
template <typename TStep, typename TOnFault>
void ReadAtLevel(const char* aLevelText, TStep aStep, TOnFault aOnFault) {
  try {
    aStep();
  } catch (const EUniListError& error) {
    aOnFault();
    ReportLevel(aLevelText, error.what());
  } catch (const std::bad_alloc&) {
    aOnFault();
    ReportLevel(aLevelText, "Es ist nicht genügend Speicher vorhanden.");
  }
}

// The next marker of an object: old blocks (20) are skipped, the old to-do and
// appointment lists refused.
std::uint8_t NextObjectMarker(TMemoryStream& aStream, int aVersion) {
  for (;;) {
    const std::uint8_t marker = aStream.ReadU8();
    if (marker == kMarkerOldToDoList)
      throw EUniListReadError("ToDoListe wird nicht mehr unterstützt!");
    if (marker == kMarkerOldTerminList)
      throw EUniListReadError("TerminListe wird nicht mehr unterstützt!");
    if (marker != kMarkerOldBlock)
      return marker;
    const std::size_t entry = aVersion >= 8 ? 13 : 9;
    const std::int32_t count = aStream.ReadCount(entry);
    aStream.SetPosition(aStream.Position() + static_cast<std::size_t>(count) * entry);
  }
}

std::uint32_t ReadU32At(const std::vector<std::uint8_t>& aBytes, std::size_t aOffset) {
  return static_cast<std::uint32_t>(aBytes[aOffset]) | (static_cast<std::uint32_t>(aBytes[aOffset + 1]) << 8) |
         (static_cast<std::uint32_t>(aBytes[aOffset + 2]) << 16) |
         (static_cast<std::uint32_t>(aBytes[aOffset + 3]) << 24);
}

bool ShowsSignature(const std::vector<std::uint8_t>& aBytes) {
  return aBytes.size() >= 5 && ReadU32At(aBytes, 1) == kStreamSignature;
}

// Restores the list status when a load or save ends, however it ends.
class TStatusScope {
 public:
  TStatusScope(TUniListStatus& aStatus, TUniListStatus aValue) : fStatus(aStatus) { fStatus = aValue; }
  ~TStatusScope() { fStatus = lsReady; }
  TStatusScope(const TStatusScope&) = delete;
  TStatusScope& operator=(const TStatusScope&) = delete;

 private:
  TUniListStatus& fStatus;
};

}  // namespace

// ---- TUniversalObject ----

TUniversalObject::TUniversalObject(std::int32_t aID, std::uint8_t aID2, std::int32_t aTypID, std::int32_t aParentID,
                                   std::uint8_t aParentID2, std::string aName, TUniversalList* aParentList)
    : fName(std::move(aName)),
      fID(aID),
      fID2(aID2),
      fParentID(aParentID),
      fParentID2(aParentID2),
      fTypID(aTypID),
      fParentList(aParentList) {}

TUniversalObject::~TUniversalObject() = default;

void TUniversalObject::SetName(std::string aValue) {
  fName = std::move(aValue);
  fStatusDef |= Status_Changed;
}

void TUniversalObject::SetStatusBit(std::uint32_t aBit, bool aValue) {
  if (aValue) {
    fStatusDef |= aBit;
    if (aBit & Status_Deleted)
      fStatusDef |= Status_Changed;
  } else {
    fStatusDef &= ~aBit;
  }
}

bool TUniversalObject::GetPrivateStatusBit(int aIndex) const {
  if (aIndex < 0 || aIndex >= 16)
    return false;
  return (fStatusDef & (1u << (kPrivateStatusFirstBit + aIndex))) != 0;
}

void TUniversalObject::SetPrivateStatusBit(int aIndex, bool aValue) {
  if (aIndex < 0 || aIndex >= 16)
    return;
  SetStatusBit(1u << (kPrivateStatusFirstBit + aIndex), aValue);
}

bool TUniversalObject::GetObjectStatusBit(int aBit) const {
  return aBit >= 0 && aBit < 32 && (fObjectStatus & (1u << aBit)) != 0;
}

void TUniversalObject::SetObjectStatusBit(int aBit, bool aValue) {
  if (aBit < 0 || aBit >= 32)
    return;
  if (aValue)
    fObjectStatus |= 1u << aBit;
  else
    fObjectStatus &= ~(1u << aBit);
}

TUniversalList& TUniversalObject::PrepareChildList() {
  if (!fChildList)
    fChildList = std::make_unique<TUniversalList>(this);
  return *fChildList;
}

TPropertyList& TUniversalObject::PreparePropertyList() {
  if (!fProps)
    fProps = std::make_unique<TPropertyList>(this);
  return *fProps;
}

TPropertyList_Short& TUniversalObject::PreparePropertyListShort() {
  if (!fShortProps)
    fShortProps = std::make_unique<TPropertyList_Short>(this);
  return *fShortProps;
}

TPropertyList_Short& TUniversalObject::PrepareRefList() {
  if (!fRefs)
    fRefs = std::make_unique<TPropertyList_Short>(this);
  return *fRefs;
}

bool TUniversalObject::HasObjectChilds(TAccessKind aMinAccessKind) const {
  if (!fChildList || fChildList->Count() == 0)
    return false;
  if (aMinAccessKind == akAll)
    return true;
  const bool granted = aMinAccessKind == akExecute || aMinAccessKind <= UniListSettings().MaxAccessKind;
  if (!granted)
    return false;
  for (int i = 0; i < fChildList->Count(); ++i)
    if (fChildList->Get(i)->SecurityValue() & (1u << aMinAccessKind))
      return true;
  return false;
}

TUniversalObject* TUniversalObject::GetFirstChild() const {
  return HasObjectChilds(akAll) ? fChildList->Get(0) : nullptr;
}

TUniversalObject* TUniversalObject::GetNextSibling() const {
  if (!fParentList)
    return nullptr;
  const int index = fParentList->IndexOf(this);
  if (index < 0 || index + 1 >= fParentList->Count())
    return nullptr;
  return fParentList->Get(index + 1);
}

void TUniversalObject::Assign(const TUniversalObject* aSource, bool aAssignProps, bool aAssignChildList,
                              int aMaxChildLevel) {
  if (!aSource) {
    if (fParentList) {
      const int index = fParentList->IndexOf(this);
      if (index >= 0)
        fParentList->Delete(index);  // frees this object
    }
    return;
  }
  if (aSource == this)
    return;
  fName = aSource->fName;
  fID = aSource->fID;
  fID2 = aSource->fID2;
  fParentID = aSource->fParentID;
  fParentID2 = aSource->fParentID2;
  fTypID = aSource->fTypID;
  fZuordnungNr = aSource->fZuordnungNr;
  fSecurityValue = aSource->fSecurityValue;
  fLastUpdate = aSource->fLastUpdate;
  fUpdateNr = aSource->fUpdateNr;
  fData = aSource->fData;
  fStatusDef = aSource->fStatusDef;
  fServerInfo = aSource->fServerInfo;
  fSortOrder = aSource->fSortOrder;
  fObjectStatus = aSource->fObjectStatus;
  fSelectedIndex = aSource->fSelectedIndex;
  fImageIndex = aSource->fImageIndex;
  if (aAssignProps) {
    if (fProps)
      fProps->Clear();
    if (aSource->HasObjectProps())
      PreparePropertyList().Assign(aSource->fProps.get());
    if (fShortProps)
      fShortProps->Clear();
    if (aSource->HasObjectShortProps())
      PreparePropertyListShort().Assign(aSource->fShortProps.get());
  }
  if (aSource->fRefs)
    PrepareRefList().Assign(aSource->fRefs.get());
  else
    fRefs.reset();
  if (aAssignChildList) {
    if (fChildList)
      fChildList->Clear();
    if (aSource->HasObjectChilds(akAll))
      PrepareChildList().Assign(aSource->fChildList.get(), false, aAssignProps, aMaxChildLevel, false);
  }
}

std::size_t TUniversalObject::GetSaveSize() const {
  std::size_t size = 60 + 2 * fName.size();
  if (fRefs)
    size += 1 + fRefs->GetSaveSize();
  if (fChildList)
    size += fChildList->GetSaveSize();
  if (fProps)
    size += fProps->GetSaveSize();
  if (fShortProps)
    size += fShortProps->GetSaveSize();
  return size;
}

void TUniversalObject::SaveTo_Stream(TMemoryStream& aStream, int aVersion) const {
  aStream.WriteU8(kMarkerObjectStart);
  WriteStreamText(aStream, fName, aVersion);
  aStream.WriteI32(fID);
  aStream.WriteU8(fID2);
  aStream.WriteI32(fTypID);
  aStream.WriteI32(fSortOrder);
  aStream.WriteU32(fObjectStatus);
  aStream.WriteI16(fImageIndex);
  aStream.WriteI16(fSelectedIndex);
  aStream.WriteDouble(fLastUpdate.Value());
  aStream.WriteI16(fUpdateNr);
  aStream.WriteU32(fSecurityValue);
  aStream.WriteI32(fZuordnungNr);
  aStream.WriteU32(fStatusDef);
  aStream.WriteI32(fParentID);
  aStream.WriteU8(fParentID2);
  aStream.WriteU8(fServerInfo);
  if (fRefs) {
    aStream.WriteU8(kMarkerRefList);
    fRefs->SaveTo_Stream(aStream, aVersion);
  }
  if (fChildList)
    fChildList->SaveList(aStream, aVersion);
  if (fProps)
    fProps->SaveTo_Stream(aStream, aVersion);
  if (fShortProps)
    fShortProps->SaveTo_Stream(aStream, aVersion);
  aStream.WriteU8(kMarkerObjectEnd);
}

void TUniversalObject::LoadFrom_Stream(TMemoryStream& aStream, int aVersion) {
  ReadAtLevel(
      kObjectError, [&] { ReadBody(aStream, aVersion); }, [] {});
}

void TUniversalObject::ReadBody(TMemoryStream& aStream, int aVersion) {
  fName = ReadStreamText(aStream, aVersion);
  fID = aStream.ReadI32();
  fID2 = aStream.ReadU8();
  fTypID = aStream.ReadI32();
  if (aVersion >= 3)
    fSortOrder = aStream.ReadI32();
  if (aVersion >= 9)
    fObjectStatus = aStream.ReadU32();
  fImageIndex = aStream.ReadI16();
  fSelectedIndex = aStream.ReadI16();
  fLastUpdate = Platform::TDateTime(aStream.ReadDouble());
  fUpdateNr = aStream.ReadI16();
  fSecurityValue = aStream.ReadU32();
  fZuordnungNr = aStream.ReadI32();
  fStatusDef = aVersion >= 15 ? aStream.ReadU32() : aStream.ReadU8();
  fParentID = aStream.ReadI32();
  fParentID2 = aStream.ReadU8();
  fServerInfo = static_cast<TServerInfo>(aStream.ReadU8());

  std::uint8_t marker = NextObjectMarker(aStream, aVersion);
  if (marker == kMarkerRefList) {
    if (aStream.ReadU8() != kMarkerShortListStart)
      throw EUniListReadError("Die Referenzliste eines Objektes ist ungültig.");
    auto& refs = PrepareRefList();
    ReadAtLevel(
        kShortListError, [&] { refs.ReadFrom_Stream(aStream, aVersion); }, [&] { refs.Clear(); });
    marker = NextObjectMarker(aStream, aVersion);
  }
  if (marker == kMarkerListStart) {
    PrepareChildList().LoadList(aStream, aVersion);
    marker = NextObjectMarker(aStream, aVersion);
  }
  if (marker == kMarkerPropertyListStart) {
    auto& props = PreparePropertyList();
    ReadAtLevel(
        kPropertyListError, [&] { props.ReadFrom_Stream(aStream, aVersion); }, [&] { props.Clear(); });
    marker = NextObjectMarker(aStream, aVersion);
  }
  if (marker == kMarkerShortListStart) {
    auto& shortProps = PreparePropertyListShort();
    ReadAtLevel(
        kShortListError, [&] { shortProps.ReadFrom_Stream(aStream, aVersion); }, [&] { shortProps.Clear(); });
    marker = NextObjectMarker(aStream, aVersion);
  }
  // The last byte read is the object's end marker.
}

// ---- TUniversalList ----

TUniversalList::TUniversalList(TUniversalObject* aParentObject) : fParentObject(aParentObject) {}

TUniversalList::~TUniversalList() {
  fListStatus = lsDestroying;
  fItems.clear();
}

TUniversalObject* TUniversalList::Get(int aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return nullptr;
  }
  return fItems[static_cast<std::size_t>(aIndex)].get();
}

void TUniversalList::Clear() {
  fItems.clear();
  if (fItems.capacity() > 4) {
    decltype(fItems) fresh;
    fresh.reserve(4);
    fItems.swap(fresh);
  }
  fLastUpdate = Platform::TDateTime(kDefaultLastUpdate);
  fUpdateNr = 0;
  fZuordnungNr = 0;
  fSuperProtection = 0;
}

TUniversalObject* TUniversalList::NewItem(std::int32_t aID, std::uint8_t aID2, std::int32_t aTypID,
                                          const std::string& aName) {
  const std::int32_t parentID = fParentObject ? fParentObject->ID() : 0;
  const std::uint8_t parentID2 = fParentObject ? fParentObject->ID2() : 0;
  return Add(std::make_unique<TUniversalObject>(aID, aID2, aTypID, parentID, parentID2, aName, this), true);
}

TUniversalObject* TUniversalList::Add(std::unique_ptr<TUniversalObject> aItem, bool aChangeParentList) {
  if (fItems.size() == fItems.capacity())
    fItems.reserve(NextListCapacity(fItems.capacity(), fItems.size()));
  if (aChangeParentList)
    aItem->SetParentList(this);
  aItem->SetInternListIndex(Count());
  fItems.push_back(std::move(aItem));
  return fItems.back().get();
}

void TUniversalList::Delete(int aIndex) {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return;
  }
  // Taken out first, so that the object is no longer in the list while it is freed.
  auto item = std::move(fItems[static_cast<std::size_t>(aIndex)]);
  fItems.erase(fItems.begin() + aIndex);
}

std::unique_ptr<TUniversalObject> TUniversalList::Extract(const TUniversalObject* aItem) {
  const int index = IndexOf(aItem);
  if (index < 0)
    return nullptr;
  auto item = std::move(fItems[static_cast<std::size_t>(index)]);
  fItems.erase(fItems.begin() + index);
  return item;
}

int TUniversalList::IndexOf(const TUniversalObject* aItem) const {
  for (std::size_t i = 0; i < fItems.size(); ++i)
    if (fItems[i].get() == aItem)
      return static_cast<int>(i);
  return -1;
}

TUniversalObject* TUniversalList::CopyItem(const TUniversalObject* aItemToCopy, bool aCopyProperties,
                                           bool aCopyChildLists, int aMaxChildLevel) {
  if (!aItemToCopy)
    return nullptr;
  auto* item = NewItem(0, 0, 0, {});
  item->Assign(aItemToCopy, aCopyProperties, aCopyChildLists, aMaxChildLevel);
  return item;
}

void TUniversalList::Assign(const TUniversalList* aSource, bool aOnlyOneLevel, bool aCopyProperties, int aMaxChildLevel,
                            bool aOnlyAppendNewItems) {
  if (aSource == this)
    return;
  if (!aOnlyAppendNewItems)
    Clear();
  if (!aSource)
    return;
  const int childLevel = aMaxChildLevel > 1 ? aMaxChildLevel - 1 : 0;
  const bool copyChildren = !aOnlyOneLevel && aMaxChildLevel != 1;
  fItems.reserve(fItems.size() + aSource->fItems.size());
  for (const auto& item : aSource->fItems)
    CopyItem(item.get(), aCopyProperties, copyChildren, childLevel);
}

TUniversalObject* TUniversalList::SearchObjectByName(const std::string& aItemName, bool aOnlyOneLevel,
                                                     bool aCompareLowerCase) const {
  for (const auto& item : fItems) {
    const bool same =
        aCompareLowerCase ? Platform::Text::SameTextNoCase(item->Name(), aItemName) : item->Name() == aItemName;
    if (same)
      return item.get();
    if (!aOnlyOneLevel && item->HasObjectChilds(akAll)) {
      if (auto* found = item->ChildList()->SearchObjectByName(aItemName, false, aCompareLowerCase))
        return found;
    }
  }
  return nullptr;
}

std::size_t TUniversalList::GetSaveSize() const {
  std::size_t size = 21;
  for (const auto& item : fItems)
    size += item->GetSaveSize();
  return size;
}

void TUniversalList::SaveList(TMemoryStream& aStream, int aVersion) const {
  aStream.WriteU8(kMarkerListStart);
  aStream.WriteDouble(fLastUpdate.Value());
  aStream.WriteI16(fUpdateNr);
  aStream.WriteU8(fSuperProtection);
  aStream.WriteI32(fZuordnungNr);
  aStream.WriteI32(Count());
  for (const auto& item : fItems)
    item->SaveTo_Stream(aStream, aVersion);
  aStream.WriteU8(kMarkerListEnd);
}

void TUniversalList::ReadList(TMemoryStream& aStream, int aVersion) {
  TNestingGuard guard;
  Clear();
  fLastUpdate = Platform::TDateTime(aStream.ReadDouble());
  fUpdateNr = aStream.ReadI16();
  fSuperProtection = aStream.ReadU8();
  fZuordnungNr = aStream.ReadI32();
  // An object record takes at least 40 bytes.
  fItems.reserve(ReserveHint(aStream.ReadI32(), aStream.Remaining(), 40));
  for (;;) {
    const std::uint8_t marker = aStream.ReadU8();
    if (marker == kMarkerListEnd)
      return;
    if (marker != kMarkerObjectStart)
      continue;
    NewItem(0, 0, 0, {})->LoadFrom_Stream(aStream, aVersion);
  }
}

void TUniversalList::LoadList(TMemoryStream& aStream, int aVersion) {
  ReadAtLevel(
      kListBodyError, [&] { ReadList(aStream, aVersion); }, [&] { Clear(); });
}

void TUniversalList::WriteStream(TMemoryStream& aStream, int aVersion, const std::string& aPasswort) const {
  aStream.WriteU8(1);
  aStream.WriteU32(kStreamSignature);
  aStream.WriteU8(aPasswort.empty() ? 0 : 1);
  aStream.WriteU32(PasswordCheck(aPasswort));
  aStream.WriteU16(static_cast<std::uint16_t>(aVersion));
  SaveList(aStream, aVersion);
}

bool TUniversalList::SaveTo_ExternMemoryStream(TMemoryStream& aExternStream, bool aUsePacker, int aSaveToVersion,
                                               const std::string& aPasswort) {
  if (fListStatus == lsSaving || fListStatus == lsLoading) {
    UniListWriteError(kBusy);
    return false;
  }
  const int version = aSaveToVersion == 0 ? kCurrentVersion : aSaveToVersion;
  // A version above the highest known one would give a stream that no reader accepts.
  if (version < kMinWriteVersion || version > kCurrentVersion) {
    UniListWriteError(Format(
        "Die angegebene Version %d, unter der die Liste gespeichert werden soll, wird nicht unterstützt.", version));
    return false;
  }
  TStatusScope status(fListStatus, lsSaving);
  try {
    aExternStream.Clear();
    aExternStream.SetSize(GetSaveSize() + 10);
    aExternStream.SetPosition(0);
    WriteStream(aExternStream, version, aPasswort);
    const std::size_t written = aExternStream.Position();
    // Up to five spare bytes (zero) follow the list's end marker.
    if (written + 5 < aExternStream.Size())
      aExternStream.SetSize(written + 5);
    if (aUsePacker)
      aExternStream.Assign(PackStream(aExternStream.Bytes(), UniListSettings().PackerMode));
    if (!aPasswort.empty())
      BlowfishEncipher(aExternStream.Bytes(), aPasswort);
    aExternStream.SetPosition(0);
    return true;
  } catch (const std::exception& error) {
    aExternStream.Clear();
    UniListWriteError(
        std::string(
            "Die Daten der Universalliste wurden nicht ordnungsgemäß in den externen MemoryStream gespeichert.\r\n") +
        error.what());
    return false;
  }
}

bool TUniversalList::DecodeStream(std::vector<std::uint8_t>& aBytes, const std::string& aPasswort) {
  try {
    if (!aPasswort.empty()) {
      std::vector<std::uint8_t> original = aBytes;
      BlowfishDecipher(aBytes, aPasswort);
      if (!ShowsSignature(aBytes) && !HasPackerIdentifier(aBytes)) {
        // Not a Blowfish stream of this password: the older scramble.
        aBytes = std::move(original);
        XorScramble(aBytes, aPasswort);
        if (!ShowsSignature(aBytes) && !HasPackerIdentifier(aBytes)) {
          // Neither form gives a stream: the password does not fit (or it is no stream).
          XorScramble(aBytes, aPasswort);
          UniListReadError("Das angegebene Passwort ist falsch!");
          return false;
        }
      }
    }
    if (HasPackerIdentifier(aBytes))
      aBytes = UnpackStream(aBytes);
    return true;
  } catch (const std::exception& error) {
    UniListReadError(std::string("Beim Entschlüsseln bzw. Entpacken des Streams ist ein Fehler aufgetreten.\r\n") +
                     error.what());
    return false;
  }
}

bool TUniversalList::ReadHeaderAndBody(TMemoryStream& aStream, const std::string& aPasswort) {
  aStream.SetPosition(0);
  if (aStream.Size() < 12 || ReadU32At(aStream.Bytes(), 1) != kStreamSignature) {
    UniListReadError("Diese Datei ist keine gültige UniversalListe !");
    return false;
  }
  aStream.SetPosition(5);
  const bool protectedStream = aStream.ReadU8() != 0;
  const std::uint32_t check = aStream.ReadU32();
  if (protectedStream != !aPasswort.empty() || (protectedStream && check != PasswordCheck(aPasswort))) {
    UniListReadError("Das angegebene Passwort ist falsch!");
    return false;
  }
  const int version = aStream.ReadU16();
  if (version < kMinReadVersion) {
    UniListReadError(
        Format("Die zu öffnende UniList-Datei (Version: %d) hat ein älteres Format als benötigt wird "
               "(Version: %d).\r\nDie Datei wird nicht eingelesen.",
               version, kCurrentVersion));
    return true;
  }
  if (version > kCurrentVersion) {
    const std::string text = Format(
        "Die zu öffnende UniList-Datei (Version: %d) hat ein nicht bekanntes Format (MaxVersion: %d).\r\nDie Datei "
        "wird nicht eingelesen.",
        version, kCurrentVersion);
    if (UniListSettings().LoadSaveErrorMode == emRaise)
      throw EUniListVersionError(text);
    UniListMessage(text, mtError);
    return true;
  }
  if (aStream.Remaining() < 1 || aStream.ReadU8() != kMarkerListStart) {
    UniListReadError("Die zu öffnende Datei ist keine gültige Uniliste!");
    return true;
  }
  LoadList(aStream, version);
  return true;
}

bool TUniversalList::LoadFrom_ExternMemoryStream(TMemoryStream& aExternStream, const std::string& aPasswort,
                                                 bool aModifyStreamAllowed) {
  if (fListStatus == lsSaving || fListStatus == lsLoading) {
    UniListReadError(kBusy);
    return false;
  }
  TStatusScope status(fListStatus, lsLoading);
  Clear();
  TMemoryStream copy;
  TMemoryStream& stream = aModifyStreamAllowed ? aExternStream : copy;
  if (!aModifyStreamAllowed)
    copy.Assign(aExternStream.Bytes());
  if (!DecodeStream(stream.Bytes(), aPasswort)) {
    stream.SetPosition(0);
    return false;
  }
  const bool accepted = ReadHeaderAndBody(stream, aPasswort);
  stream.SetPosition(0);
  return accepted;
}

bool TUniversalList::SaveTo_File(const std::string& aFileName, bool aUsePacker, const std::string& aPasswort,
                                 bool aSaveFileName, int aSaveToVersion) {
  const std::string refusal = SaveFileCheck(aFileName);
  if (!refusal.empty()) {
    UniListWriteError(refusal);
    return false;
  }
  if (BeforeDirectSaveToFile)
    BeforeDirectSaveToFile(*this);
  TMemoryStream stream;
  if (!SaveTo_ExternMemoryStream(stream, aUsePacker, aSaveToVersion, aPasswort))
    return false;
  std::string cause;
  if (!WriteWholeFile(aFileName, stream.Bytes(), cause)) {
    UniListWriteError(Format("Die Daten der Universalliste wurden nicht ordnungsgemäß in die Datei %s gespeichert.",
                             aFileName.c_str()) +
                      "\r\n" + cause);
    return false;
  }
  if (aSaveFileName)
    fFileName = aFileName;
  return true;
}

bool TUniversalList::LoadFrom_File(const std::string& aFileName, const std::string& aPasswort, bool aSaveFileName) {
  if (!FileExists(aFileName)) {
    UniListReadError(Format("Die Datei >%s< wurde nicht gefunden!", aFileName.c_str()));
    return false;
  }
  std::vector<std::uint8_t> bytes;
  std::string cause;
  if (!ReadWholeFile(aFileName, bytes, cause)) {
    UniListReadError(Format("Die Daten der Datei >%s< wurden nicht ordnungsgemäß geladen.", aFileName.c_str()) +
                     "\r\n" + cause);
    return false;
  }
  TMemoryStream stream(std::move(bytes));
  const bool accepted = LoadFrom_ExternMemoryStream(stream, aPasswort, true);
  if (accepted && aSaveFileName)
    fFileName = aFileName;
  return accepted;
}

bool TUniversalList::SaveTo_DefaultFile(bool aUsePacker, const std::string& aPasswort) {
  return SaveTo_File(fFileName, aUsePacker, aPasswort, false, 0);
}

// ---- helpers ----

TPropertyObject_Short* ShortPropByID(const TUniversalObject* aObject, std::int32_t aPropertyID) {
  if (!aObject || !aObject->HasObjectShortProps())
    return nullptr;
  return aObject->ShortProps()->SearchProperty(aPropertyID);
}

TPr_Text_Short* ShortPropText(const TUniversalObject* aObject, std::int32_t aPropertyID, std::string& aText) {
  auto* property = dynamic_cast<TPr_Text_Short*>(ShortPropByID(aObject, aPropertyID));
  aText = property ? property->Value_Text : std::string();
  return property;
}

TPr_Image_Short* ShortPropImage(const TUniversalObject* aObject, std::int32_t aPropertyID, const TPicture*& aPicture) {
  auto* property = dynamic_cast<TPr_Image_Short*>(ShortPropByID(aObject, aPropertyID));
  aPicture = property && property->Value_Image ? &*property->Value_Image : nullptr;
  return property;
}

TPr_LongInt_Short* ShortPropLongInt(const TUniversalObject* aObject, std::int32_t aPropertyID, std::int32_t& aValue) {
  auto* property = dynamic_cast<TPr_LongInt_Short*>(ShortPropByID(aObject, aPropertyID));
  aValue = property ? property->Value() : 0;
  return property;
}

TPr_Boolean_Short* ShortPropBoolean(const TUniversalObject* aObject, std::int32_t aPropertyID, bool& aValue) {
  auto* property = dynamic_cast<TPr_Boolean_Short*>(ShortPropByID(aObject, aPropertyID));
  aValue = property ? property->Value_Boolean : false;
  return property;
}

}  // namespace UniObject
