#include "uniobject/properties.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <typeinfo>

#include "platform/text/text.h"
#include "uniobject/settings.h"
#include "uniobject/universal_list.h"

namespace UniObject {

namespace {

constexpr const char* kKindNames[kPropertyKindCount] = {
    "pkText",     "pkChar5",    "pkChar10", "pkChar20",   "pkChar35",    "pkChar50",   "pkChar75",    "pkChar100",
    "pkDate",     "pkTime",     "pkByte",   "pkSmallInt", "pkLongInt",   "pkSingle",   "pkDouble",    "pkMoney",
    "pkBoolean",  "pkLink",     "pkImage",  "pkTable",    "pkChoose",    "pkStream",   "pkError",     "pkGraphicLink",
    "pkIVESUser", "pkMultiBit", "",         "pkDateTime", "pkCondition", "pkCardinal", "pkMultiList", "pkWideString"};

constexpr const char* kNotSupported = "Die angeforderte Eigenschaftsart wird nicht unterstützt.";
constexpr const char* kNoUnicode = "Die Programmseitige Unterstützung für Unicode ist nicht aktiviert!";

[[noreturn]] void Invalid(const char* aWhat) {
  throw EUniListReadError(aWhat);
}

void ExpectMarker(TMemoryStream& aStream, std::uint8_t aMarker) {
  const std::uint8_t found = aStream.ReadU8();
  if (found != aMarker)
    throw EUniListReadError(Format("Ungültige Markierung %u im Stream (erwartet: %u).", found, aMarker));
}

// The old block of versions before 11: an int32 count, then per entry 1 + 4 + 4 bytes
// (+ 4 from version 8).
void SkipOldBlock(TMemoryStream& aStream, int aVersion) {
  const std::size_t entry = aVersion >= 8 ? 13 : 9;
  const std::int32_t count = aStream.ReadCount(entry);
  aStream.SetPosition(aStream.Position() + static_cast<std::size_t>(count) * entry);
}

// Numbers of the value fields, by width.
void WriteNum(TMemoryStream& aStream, std::uint8_t aValue) {
  aStream.WriteU8(aValue);
}
void WriteNum(TMemoryStream& aStream, std::int16_t aValue) {
  aStream.WriteI16(aValue);
}
void WriteNum(TMemoryStream& aStream, std::int32_t aValue) {
  aStream.WriteI32(aValue);
}
void WriteNum(TMemoryStream& aStream, std::uint32_t aValue) {
  aStream.WriteU32(aValue);
}
void WriteNum(TMemoryStream& aStream, std::int64_t aValue) {
  aStream.WriteI64(aValue);
}
void WriteNum(TMemoryStream& aStream, float aValue) {
  aStream.WriteSingle(aValue);
}
void WriteNum(TMemoryStream& aStream, double aValue) {
  aStream.WriteDouble(aValue);
}
void ReadNum(TMemoryStream& aStream, std::uint8_t& aValue) {
  aValue = aStream.ReadU8();
}
void ReadNum(TMemoryStream& aStream, std::int16_t& aValue) {
  aValue = aStream.ReadI16();
}
void ReadNum(TMemoryStream& aStream, std::int32_t& aValue) {
  aValue = aStream.ReadI32();
}
void ReadNum(TMemoryStream& aStream, std::uint32_t& aValue) {
  aValue = aStream.ReadU32();
}
void ReadNum(TMemoryStream& aStream, std::int64_t& aValue) {
  aValue = aStream.ReadI64();
}
void ReadNum(TMemoryStream& aStream, float& aValue) {
  aValue = aStream.ReadSingle();
}
void ReadNum(TMemoryStream& aStream, double& aValue) {
  aValue = aStream.ReadDouble();
}

void ReadIntegerListRecord(TMemoryStream& aStream, TIntegerList& aList) {
  ExpectMarker(aStream, kMarkerIntegerList);
  aList.ReadRecord(aStream);
}

// The reader's stand-in for the old kind 26 (table formulas): read and dropped.
class TPr_TableFormel final : public TPropertyObject {
 public:
  TPr_TableFormel() : TPropertyObject(pkTableFormel) {}

 protected:
  void SaveValue(TMemoryStream&, int) const override {
    throw EUniListWriteError("Die Eigenschaftsart 26 kann nicht gespeichert werden.");
  }
  void LoadValue(TMemoryStream& aStream, int aVersion) override {
    aStream.ReadI32();
    aStream.ReadI32();
    ReadStreamText(aStream, aVersion);
    aStream.ReadU8();
  }
};

class TPr_TableFormel_Short final : public TPropertyObject_Short {
 public:
  TPr_TableFormel_Short() : TPropertyObject_Short(pkTableFormel) {}

 protected:
  void SaveValue(TMemoryStream&, int) const override {
    throw EUniListWriteError("Die Eigenschaftsart 26 kann nicht gespeichert werden.");
  }
  void LoadValue(TMemoryStream& aStream, int aVersion) override { ReadStreamText(aStream, aVersion); }
};

std::string CreateError(std::uint8_t aKind, const char* aReason, bool aShort) {
  const std::string name = PropertyKindName(aKind);
  return std::string(aReason) + "\r\n" +
         Format(aShort ? "Beim Erzeugen eines Eigenschaftswertes vom Typ %s ist ein Fehler aufgetreten."
                       : "Beim Erzeugen einer Eigenschaft vom Typ %s ist ein Fehler aufgetreten.",
                name.c_str());
}

template <typename TList>
void AppendOwned(TList& aItems, typename TList::value_type aItem) {
  if (aItems.size() == aItems.capacity())
    aItems.reserve(NextListCapacity(aItems.capacity(), aItems.size()));
  aItems.push_back(std::move(aItem));
}

}  // namespace

std::string PropertyKindName(std::uint8_t aKind) {
  const std::uint8_t kind = aKind & 0x7F;
  if (kind < kPropertyKindCount)
    return kKindNames[kind];
  return Format("%u", kind);
}

void WriteStreamText(TMemoryStream& aStream, const std::string& aText, int aVersion) {
  if (aVersion >= 17) {
    const std::string bytes = Platform::Text::Utf8ToUtf16LeBytes(aText);
    aStream.WriteI32(static_cast<std::int32_t>(bytes.size() / 2));
    aStream.Write(bytes.data(), bytes.size());
  } else {
    const std::string bytes = Platform::Text::Utf8ToCp1252(aText);
    aStream.WriteI32(static_cast<std::int32_t>(bytes.size()));
    aStream.Write(bytes.data(), bytes.size());
  }
}

std::string ReadStreamText(TMemoryStream& aStream, int aVersion) {
  const std::size_t unit = aVersion >= 17 ? 2 : 1;
  const std::int32_t count = aStream.ReadCount(unit);
  std::string bytes(static_cast<std::size_t>(count) * unit, '\0');
  aStream.Read(bytes.data(), bytes.size());
  if (unit == 2)
    return Platform::Text::Utf16LeBytesToUtf8(bytes).value_or(std::string());
  return Platform::Text::Cp1252ToUtf8(bytes);
}

TPictureType TPicture::DetectType(const std::vector<std::uint8_t>& aBytes) {
  auto starts = [&](std::initializer_list<std::uint8_t> aPrefix) {
    return aBytes.size() >= aPrefix.size() && std::equal(aPrefix.begin(), aPrefix.end(), aBytes.begin());
  };
  if (starts({'B', 'M'}))
    return ptBitmap;
  if (starts({0xFF, 0xD8}))
    return ptJPEG;
  if (starts({0x00, 0x00, 0x01, 0x00}))
    return ptIcon;
  // Placeable Windows metafile, plain Windows metafile, enhanced metafile.
  if (starts({0xD7, 0xCD, 0xC6, 0x9A}) || starts({0x01, 0x00, 0x09, 0x00}) || starts({0x02, 0x00, 0x09, 0x00}) ||
      (starts({0x01, 0x00, 0x00, 0x00}) && aBytes.size() >= 44 && aBytes[40] == ' ' && aBytes[41] == 'E' &&
       aBytes[42] == 'M' && aBytes[43] == 'F'))
    return ptMetafile;
  return ptOther;
}

TPicture TPicture::FromBytes(std::vector<std::uint8_t> aBytes) {
  TPicture picture;
  picture.PictureType = DetectType(aBytes);
  picture.Bytes = std::move(aBytes);
  return picture;
}

// ---- TCustomPropertyObject ----

TCustomPropertyObject::TCustomPropertyObject(TPropertyKind aKind, bool aIsShort)
    : fPropertyKind(aKind), fIsShort(aIsShort) {}

TCustomPropertyObject::~TCustomPropertyObject() = default;

void TCustomPropertyObject::SetID(std::int32_t aValue) {
  fID = aValue;
  fStatusDef |= kStatusChanged;
}

void TCustomPropertyObject::SetStatusBit(std::uint8_t aBit, bool aValue) {
  if (aValue) {
    fStatusDef |= aBit;
    if (aBit & (kStatusDeleted | kStatusEmpty))
      fStatusDef |= kStatusChanged;
  } else {
    fStatusDef &= static_cast<std::uint8_t>(~aBit);
  }
}

bool TCustomPropertyObject::GetPropStatusBit(int aBit) const {
  return aBit >= 0 && aBit < 32 && (fPropStatus & (1u << aBit)) != 0;
}

void TCustomPropertyObject::SetPropStatusBit(int aBit, bool aValue) {
  if (aBit < 0 || aBit >= 32)
    return;
  if (aValue)
    fPropStatus |= 1u << aBit;
  else
    fPropStatus &= ~(1u << aBit);
  fStatusDef |= kStatusChanged;
}

TIntegerList2D& TCustomPropertyObject::PrepareInternPSList(int aCountOfCol) {
  if (!fInternPSList)
    fInternPSList = std::make_unique<TIntegerList2D>(aCountOfCol);
  return *fInternPSList;
}

void TCustomPropertyObject::KeepOldSourceValue(int aColumn, int aColumns, std::int32_t aValue) {
  if (aValue == 0 && !fInternPSList)
    return;
  auto& list = PrepareInternPSList(aColumns);
  if (list.ColCount() != aColumns)
    return;
  if (list.RowCount() == 0)
    list.NewItem(std::vector<std::int32_t>(static_cast<std::size_t>(aColumns), 0));
  list.SetItems(0, aColumn, aValue);
}

std::size_t TCustomPropertyObject::GetSaveSize() const {
  return 24 + (fInternPSList ? fInternPSList->GetSaveSize() : 0) + ValueSaveSize();
}

int TCustomPropertyObject::CompareValue(const TCustomPropertyObject& aValueToCompare) const {
  return GetValueAsString().compare(aValueToCompare.GetValueAsString());
}

bool TCustomPropertyObject::AssignValue(const TCustomPropertyObject& aSource) {
  if (typeid(*this) != typeid(aSource))
    return false;
  // The value fields travel through their own record at the current version, which
  // carries every one of them.
  TMemoryStream stream;
  aSource.SaveValue(stream, kCurrentVersion);
  stream.SetPosition(0);
  LoadValue(stream, kCurrentVersion);
  return true;
}

void TCustomPropertyObject::AssignCommon(const TCustomPropertyObject& aSource) {
  fID = aSource.fID;
  fSourceProperty = aSource.fSourceProperty;
  fPropServerInfo = aSource.fPropServerInfo;
  fStatusDef = aSource.fStatusDef;
  fLastUpdate = aSource.fLastUpdate;
  fUpdateNr = aSource.fUpdateNr;
  fPropStatus = aSource.fPropStatus;
  OnGetValueAsString = aSource.OnGetValueAsString;
  if (aSource.fInternPSList) {
    fInternPSList = std::make_unique<TIntegerList2D>(aSource.fInternPSList->ColCount());
    fInternPSList->Assign(*aSource.fInternPSList);
  } else {
    fInternPSList.reset();
  }
}

std::string TCustomPropertyObject::ApplyOnGetValueAsString(std::string aText) const {
  if (OnGetValueAsString)
    OnGetValueAsString(*this, aText);
  return aText;
}

void TCustomPropertyObject::SaveCommon(TMemoryStream& aStream, std::uint8_t aMarker, int /*aVersion*/) const {
  aStream.WriteU8(aMarker);
  aStream.WriteU8(fPropertyKind);
  aStream.WriteI32(fID);
  aStream.WriteU8(fStatusDef);
  aStream.WriteU8(fPropServerInfo);
  aStream.WriteDouble(fLastUpdate.Value());
  aStream.WriteI16(fUpdateNr);
  aStream.WriteU32(fPropStatus);
  aStream.WriteU8(fInternPSList ? 1 : 0);
  if (fInternPSList)
    fInternPSList->SaveTo_MemoryStream(aStream);
}

void TCustomPropertyObject::LoadCommon(TMemoryStream& aStream, int aVersion) {
  fID = aStream.ReadI32();
  fStatusDef = aStream.ReadU8();
  fPropServerInfo = static_cast<TServerInfo>(aStream.ReadU8());
  if (aVersion >= 3) {
    fLastUpdate = Platform::TDateTime(aStream.ReadDouble());
    fUpdateNr = aStream.ReadI16();
  }
  if (aVersion >= 11)
    fPropStatus = aStream.ReadU32();
  else if (aVersion >= 4)
    fPropStatus = aStream.ReadU8();
  if (aVersion >= 15 && aStream.ReadU8() != 0) {
    ExpectMarker(aStream, kMarkerIntegerList2D);
    auto list = std::make_unique<TIntegerList2D>(0);
    list->ReadRecord(aStream);
    fInternPSList = std::move(list);
  }
}

// ---- TPropertyObject ----

std::int32_t TPropertyObject::PropSourceIDex() const {
  const auto* list = InternPSList();
  return list && list->ColCount() == 4 && list->RowCount() > 0 ? list->Items(0, 0) : 0;
}

std::int32_t TPropertyObject::QueryCommandex() const {
  const auto* list = InternPSList();
  return list && list->ColCount() == 4 && list->RowCount() > 0 ? list->Items(0, 3) : 0;
}

std::size_t TPropertyObject::GetSaveSize() const {
  return TCustomPropertyObject::GetSaveSize() + 24 + 2 * fName.size();
}

void TPropertyObject::SaveTo_Stream(TMemoryStream& aStream, int aVersion) const {
  SaveCommon(aStream, kMarkerPropertyStart, aVersion);
  aStream.WriteI16(PropSortOrder);
  WriteStreamText(aStream, fName, aVersion);
  aStream.WriteI32(ExternFormatID);
  aStream.WriteU32(PropSecurityValue);
  aStream.WriteI32(SourceConditionPropID);
  aStream.WriteU32(PropertyStatus);
  aStream.WriteU8(kMarkerPropertyValues);
  SaveValue(aStream, aVersion);
}

void TPropertyObject::LoadFrom_Stream(TMemoryStream& aStream, int aVersion) {
  LoadCommon(aStream, aVersion);
  if (aVersion >= 3)
    PropSortOrder = aStream.ReadI16();
  fName = ReadStreamText(aStream, aVersion);
  ExternFormatID = aStream.ReadI32();
  PropSecurityValue = aStream.ReadU32();
  if (aVersion >= 11) {
    SourceConditionPropID = aStream.ReadI32();
    PropertyStatus = aStream.ReadU32();
  }
  if (aVersion >= 12 && aVersion <= 14) {
    KeepOldSourceValue(0, 4, aStream.ReadI32());
    KeepOldSourceValue(1, 4, aStream.ReadU8());
    if (aVersion >= 13)
      KeepOldSourceValue(2, 4, aStream.ReadU8());
    if (aVersion == 14)
      KeepOldSourceValue(3, 4, aStream.ReadI32());
  }
  std::uint8_t marker = aStream.ReadU8();
  if (marker == kMarkerOldBlock) {
    SkipOldBlock(aStream, aVersion);
    marker = aStream.ReadU8();
  }
  if (marker != kMarkerPropertyValues)
    Invalid("Die Werte einer Eigenschaft fehlen im Stream.");
  LoadValue(aStream, aVersion);
}

bool TPropertyObject::Assign(const TPropertyObject& aSource) {
  if (&aSource == this)
    return true;
  if (typeid(*this) != typeid(aSource))
    return false;
  AssignCommon(aSource);
  fName = aSource.fName;
  ExternFormatID = aSource.ExternFormatID;
  PropSecurityValue = aSource.PropSecurityValue;
  PropSortOrder = aSource.PropSortOrder;
  SourceConditionPropID = aSource.SourceConditionPropID;
  PropertyStatus = aSource.PropertyStatus;
  return AssignValue(aSource);
}

// ---- TPropertyObject_Short ----

std::int32_t TPropertyObject_Short::QueryResultex() const {
  const auto* list = InternPSList();
  return list && list->ColCount() == 1 && list->RowCount() > 0 ? list->Items(0, 0) : 0;
}

void TPropertyObject_Short::SaveTo_Stream(TMemoryStream& aStream, int aVersion) const {
  SaveCommon(aStream, kMarkerShortPropertyStart, aVersion);
  SaveValue(aStream, aVersion);
}

void TPropertyObject_Short::LoadFrom_Stream(TMemoryStream& aStream, int aVersion) {
  LoadCommon(aStream, aVersion);
  if (aVersion == 3)
    SetPropStatus(static_cast<std::uint32_t>(aStream.ReadI32()));
  if (aVersion == 14)
    KeepOldSourceValue(0, 1, aStream.ReadI32());
  LoadValue(aStream, aVersion);
}

void TPropertyObject_Short::SetStandardValue() {
  std::string error;
  const auto fresh = CreateShortProperty(PropertyKind(), error);
  if (fresh)
    AssignValue(*fresh);
}

bool TPropertyObject_Short::Assign(const TPropertyObject_Short& aSource) {
  if (&aSource == this)
    return true;
  if (typeid(*this) != typeid(aSource))
    return false;
  AssignCommon(aSource);
  return AssignValue(aSource);
}

// ---- text kinds ----

template <class TBase>
void TTextPart<TBase>::SaveValue(TMemoryStream& aStream, int aVersion) const {
  WriteStreamText(aStream, Value_Text, aVersion);
  aStream.WriteI16(ViewHeight);
}

template <class TBase>
void TTextPart<TBase>::LoadValue(TMemoryStream& aStream, int aVersion) {
  Value_Text = ReadStreamText(aStream, aVersion);
  ViewHeight = aVersion >= 11 ? aStream.ReadI16() : std::int16_t{-1};
}

template class TTextPart<TPropertyObject>;
template class TTextPart<TPropertyObject_Short>;

int MaxCharCountOfKind(TPropertyKind aKind) {
  switch (aKind) {
    case pkChar5:
      return 5;
    case pkChar10:
      return 10;
    case pkChar20:
      return 20;
    case pkChar35:
      return 35;
    case pkChar50:
      return 50;
    case pkChar75:
      return 75;
    case pkChar100:
      return 100;
    default:
      return 0;
  }
}

template <class TTextBase>
void TCharPart<TTextBase>::SaveValue(TMemoryStream& aStream, int aVersion) const {
  TTextBase::SaveValue(aStream, aVersion);
  if (aVersion >= 16)
    aStream.WriteI32(CharCount);
}

template <class TTextBase>
void TCharPart<TTextBase>::LoadValue(TMemoryStream& aStream, int aVersion) {
  TTextBase::LoadValue(aStream, aVersion);
  CharCount = aVersion >= 16 ? aStream.ReadI32() : 0;
}

template class TCharPart<TPr_Text>;
template class TCharPart<TPr_Text_Short>;

template <class TTextBase>
void TLinkPart<TTextBase>::SaveValue(TMemoryStream& aStream, int aVersion) const {
  TTextBase::SaveValue(aStream, aVersion);
  aStream.WriteU8(LinkTyp);
  aStream.WriteI32(DocumentID);
  aStream.WriteI32(DocumentID2);
}

template <class TTextBase>
void TLinkPart<TTextBase>::LoadValue(TMemoryStream& aStream, int aVersion) {
  TTextBase::LoadValue(aStream, aVersion);
  LinkTyp = 1;
  DocumentID = 0;
  DocumentID2 = 0;
  if (aVersion >= 6) {
    LinkTyp = aStream.ReadU8();
    DocumentID = aStream.ReadI32();
  }
  if (aVersion >= 7)
    DocumentID2 = aStream.ReadI32();
}

template class TLinkPart<TPr_Text>;
template class TLinkPart<TPr_Text_Short>;

// ---- numbers ----

std::string NumberText(TPropertyKind aKind, double aValue) {
  switch (aKind) {
    case pkDate:
      return Platform::TDateTime(aValue).FormatDate();
    case pkTime:
      return Platform::TDateTime(aValue).TimePart().FormatTimeShort();
    case pkDateTime:
      return Platform::TDateTime(aValue).FormatDateTimeShort();
    case pkSingle:
    case pkDouble:
    case pkMoney:
      return Format("%.15g", aValue);
    default:
      return Format("%.0f", aValue);
  }
}

namespace {

std::string RangeText(TPropertyKind aKind, double aValue) {
  if (aKind == pkDate || aKind == pkTime || aKind == pkDateTime)
    return NumberText(aKind, aValue);
  return Format("%.3f", aValue);
}

void RangeWarning(const std::string& aText) {
  if (UniListSettings().RangeWarningMode == emRaise)
    throw EUniListError(aText);
  UniListMessage(aText, mtWarning);
}

template <typename T>
bool CheckRange(TPropertyKind aKind, T aValue, T aMin, T aMax) {
  if (aValue < aMin) {
    RangeWarning(Format(
        "Der neue Wert (%s) ist kleiner als der minimal erforderliche Wert von %s. Der Wert wird nicht übernommen.",
        RangeText(aKind, NumberAsDouble(aKind, aValue)).c_str(),
        RangeText(aKind, NumberAsDouble(aKind, aMin)).c_str()));
    return false;
  }
  if (aValue > aMax) {
    RangeWarning(
        Format("Der neue Wert (%s) ist größer als der maximal zulässige Wert von %s. Der Wert wird nicht übernommen.",
               RangeText(aKind, NumberAsDouble(aKind, aValue)).c_str(),
               RangeText(aKind, NumberAsDouble(aKind, aMax)).c_str()));
    return false;
  }
  return true;
}

}  // namespace

bool CheckValueRange(TPropertyKind aKind, double aValue, double aMin, double aMax) {
  return CheckRange(aKind, aValue, aMin, aMax);
}

template <class TParent, typename T>
TLongNumber<TParent, T>::TLongNumber(TPropertyKind aKind)
    : TParent(aKind), fMin(std::numeric_limits<T>::lowest()), fMax(std::numeric_limits<T>::max()) {}

template <class TParent, typename T>
bool TLongNumber<TParent, T>::SetValue(T aValue) {
  if (!CheckRange(this->PropertyKind(), aValue, fMin, fMax))
    return false;
  fValue = aValue;
  this->SetStatusBit(TCustomPropertyObject::kStatusChanged, true);
  return true;
}

template <class TParent, typename T>
void TLongNumber<TParent, T>::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  aStream.WriteI32(this->UnitDefID);
  aStream.WriteI32(this->FormatDef);
  WriteNum(aStream, fValue);
  WriteNum(aStream, fMin);
  WriteNum(aStream, fMax);
}

template <class TParent, typename T>
void TLongNumber<TParent, T>::LoadValue(TMemoryStream& aStream, int /*aVersion*/) {
  this->UnitDefID = aStream.ReadI32();
  this->FormatDef = aStream.ReadI32();
  ReadNum(aStream, fValue);
  ReadNum(aStream, fMin);
  ReadNum(aStream, fMax);
}

template <class TParent, typename T>
bool TShortNumber<TParent, T>::SetValue(T aValue) {
  if (this->ValueTest_BySourceProperty) {
    if (const auto* source = dynamic_cast<const TLongNumber<TPr_CustomNumInteger, T>*>(this->SourceProperty())) {
      if (!CheckRange(this->PropertyKind(), aValue, source->MinValue(), source->MaxValue()))
        return false;
    } else if (const auto* real = dynamic_cast<const TLongNumber<TPr_CustomNumReal, T>*>(this->SourceProperty())) {
      if (!CheckRange(this->PropertyKind(), aValue, real->MinValue(), real->MaxValue()))
        return false;
    } else if (const auto* other = dynamic_cast<const TLongNumber<TPr_CustomNum, T>*>(this->SourceProperty())) {
      if (!CheckRange(this->PropertyKind(), aValue, other->MinValue(), other->MaxValue()))
        return false;
    }
  }
  fValue = aValue;
  this->SetStatusBit(TCustomPropertyObject::kStatusChanged, true);
  return true;
}

template <class TParent, typename T>
void TShortNumber<TParent, T>::SetStandardValue() {
  fValue = T{};
  if (const auto* source = dynamic_cast<const TLongNumber<TPr_CustomNumInteger, T>*>(this->SourceProperty()))
    fValue = source->Value();
  else if (const auto* real = dynamic_cast<const TLongNumber<TPr_CustomNumReal, T>*>(this->SourceProperty()))
    fValue = real->Value();
  else if (const auto* other = dynamic_cast<const TLongNumber<TPr_CustomNum, T>*>(this->SourceProperty()))
    fValue = other->Value();
}

template <class TParent, typename T>
void TShortNumber<TParent, T>::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  WriteNum(aStream, fValue);
}

template <class TParent, typename T>
void TShortNumber<TParent, T>::LoadValue(TMemoryStream& aStream, int /*aVersion*/) {
  ReadNum(aStream, fValue);
}

template class TLongNumber<TPr_CustomNumInteger, std::uint8_t>;
template class TLongNumber<TPr_CustomNumInteger, std::int16_t>;
template class TLongNumber<TPr_CustomNumInteger, std::int32_t>;
template class TLongNumber<TPr_CustomNumReal, float>;
template class TLongNumber<TPr_CustomNumReal, double>;
template class TLongNumber<TPr_CustomNumReal, std::int64_t>;
template class TLongNumber<TPr_CustomNum, double>;
template class TLongNumber<TPr_CustomNum, std::uint32_t>;
template class TShortNumber<TPr_CustomNumInteger_Short, std::uint8_t>;
template class TShortNumber<TPr_CustomNumInteger_Short, std::int16_t>;
template class TShortNumber<TPr_CustomNumInteger_Short, std::int32_t>;
template class TShortNumber<TPr_CustomNumReal_Short, float>;
template class TShortNumber<TPr_CustomNumReal_Short, double>;
template class TShortNumber<TPr_CustomNumReal_Short, std::int64_t>;
template class TShortNumber<TPr_CustomNum_Short, double>;
template class TShortNumber<TPr_CustomNum_Short, std::uint32_t>;

void TPr_DateTime::SaveValue(TMemoryStream& aStream, int aVersion) const {
  TLongNumber::SaveValue(aStream, aVersion);
  aStream.WriteU8(DateTimeTyp);
}

void TPr_DateTime::LoadValue(TMemoryStream& aStream, int aVersion) {
  TLongNumber::LoadValue(aStream, aVersion);
  if (aVersion > 10) {
    DateTimeTyp = aStream.ReadU8();
  } else {
    const std::uint32_t value = aStream.ReadU32();
    DateTimeTyp = value < kDateTimeTypCount ? static_cast<std::uint8_t>(value) : 0;
  }
}

// ---- boolean and condition ----

template <class TBase>
void TBooleanPart<TBase>::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  aStream.WriteU8(Value_Boolean ? 1 : 0);
}

template <class TBase>
void TBooleanPart<TBase>::LoadValue(TMemoryStream& aStream, int /*aVersion*/) {
  Value_Boolean = aStream.ReadU8() != 0;
}

template class TBooleanPart<TPropertyObject>;
template class TBooleanPart<TPropertyObject_Short>;

void TPr_Condition::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  aStream.WriteU8(Value_Condition);
  aStream.WriteU8(ConditionTyp);
  aStream.WriteI32(ConditionFormat);
}

void TPr_Condition::LoadValue(TMemoryStream& aStream, int /*aVersion*/) {
  Value_Condition = aStream.ReadU8();
  ConditionTyp = aStream.ReadU8();
  ConditionFormat = aStream.ReadI32();
}

void TPr_Condition_Short::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  aStream.WriteU8(Value_Condition);
}

void TPr_Condition_Short::LoadValue(TMemoryStream& aStream, int /*aVersion*/) {
  Value_Condition = aStream.ReadU8();
}

// ---- image and stream ----

template <class TBase>
void TImagePart<TBase>::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  if (!Value_Image) {
    aStream.WriteI32(-1);
    return;
  }
  aStream.WriteI32(static_cast<std::int32_t>(Value_Image->Bytes.size()));
  aStream.Write(Value_Image->Bytes.data(), Value_Image->Bytes.size());
  const auto type = Value_Image->PictureType;
  aStream.WriteU8(type >= ptBitmap && type <= ptIcon ? type : ptOther);
}

template <class TBase>
void TImagePart<TBase>::LoadValue(TMemoryStream& aStream, int /*aVersion*/) {
  Value_Image.reset();
  const std::int32_t length = aStream.ReadI32();
  if (length == -1)
    return;
  if (length < 0 || static_cast<std::size_t>(length) >= aStream.Remaining())
    Invalid("Die Länge eines Bildes im Stream ist ungültig.");
  TPicture picture;
  picture.Bytes.resize(static_cast<std::size_t>(length));
  aStream.Read(picture.Bytes.data(), picture.Bytes.size());
  const std::uint8_t type = aStream.ReadU8();
  // Only the four picture types of the format are restored; others are dropped.
  if (type >= ptBitmap && type <= ptIcon) {
    picture.PictureType = static_cast<TPictureType>(type);
    Value_Image = std::move(picture);
  }
}

template <class TBase>
bool TImagePart<TBase>::AssignValue(const TCustomPropertyObject& aSource) {
  if (!TBase::AssignValue(aSource))
    return false;
  // Copied directly: a picture of another type would be dropped by a stream.
  Value_Image = static_cast<const TImagePart&>(aSource).Value_Image;
  return true;
}

template class TImagePart<TPropertyObject>;
template class TImagePart<TPropertyObject_Short>;

void TPr_Image::SaveValue(TMemoryStream& aStream, int aVersion) const {
  TImagePart::SaveValue(aStream, aVersion);
  aStream.WriteI32(FormatDef);
  aStream.WriteI16(MaxWidth);
  aStream.WriteI16(MaxHeight);
}

void TPr_Image::LoadValue(TMemoryStream& aStream, int aVersion) {
  TImagePart::LoadValue(aStream, aVersion);
  FormatDef = aStream.ReadI32();
  MaxWidth = 35;
  MaxHeight = 45;
  if (aVersion >= 11) {
    MaxWidth = aStream.ReadI16();
    MaxHeight = aStream.ReadI16();
  }
}

template <class TBase>
void TStreamPart<TBase>::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  if (!Value_Stream) {
    aStream.WriteI32(-1);
    return;
  }
  aStream.WriteI32(static_cast<std::int32_t>(Value_Stream->size()));
  aStream.Write(Value_Stream->data(), Value_Stream->size());
}

template <class TBase>
void TStreamPart<TBase>::LoadValue(TMemoryStream& aStream, int /*aVersion*/) {
  Value_Stream.reset();
  const std::int32_t length = aStream.ReadI32();
  if (length == -1)
    return;
  if (length < 0 || static_cast<std::size_t>(length) > aStream.Remaining())
    Invalid("Die Länge eines Streams im Stream ist ungültig.");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  aStream.Read(bytes.data(), bytes.size());
  Value_Stream = std::move(bytes);
}

template class TStreamPart<TPropertyObject>;
template class TStreamPart<TPropertyObject_Short>;

// ---- choice ----

namespace {

void ReadChoiceList(TMemoryStream& aStream, int aVersion, TIntegerList& aList) {
  aList.Clear();
  if (aVersion <= 10) {
    aList.NewItem(aStream.ReadI32());
    return;
  }
  ReadIntegerListRecord(aStream, aList);
}

}  // namespace

void TPr_Choose::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  aStream.WriteI32(ChooseObjectID);
  DefaultValueIDList.SaveTo_MemoryStream(aStream);
}

void TPr_Choose::LoadValue(TMemoryStream& aStream, int aVersion) {
  ChooseObjectID = aStream.ReadI32();
  ReadChoiceList(aStream, aVersion, DefaultValueIDList);
}

void TPr_Choose_Short::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  ValueIDList.SaveTo_MemoryStream(aStream);
}

void TPr_Choose_Short::LoadValue(TMemoryStream& aStream, int aVersion) {
  ReadChoiceList(aStream, aVersion, ValueIDList);
}

// ---- graphic link ----

template <class TBase>
void TGraphicLinkPart<TBase>::SaveValue(TMemoryStream& aStream, int /*aVersion*/) const {
  aStream.WriteI32(ZeichnungsID);
  aStream.WriteI32(LinkPropertyPageID);
  aStream.WriteU8(Priority);
  aStream.WriteU8(GraphicTyp);
  aStream.WriteU8(ZeichnungsPriority);
  aStream.WriteI32(PrefValue1);
  aStream.WriteU8(GraphicStatus);
  ConstructionIDList.SaveTo_MemoryStream(aStream);
}

template <class TBase>
void TGraphicLinkPart<TBase>::LoadValue(TMemoryStream& aStream, int aVersion) {
  ZeichnungsPriority = 0;
  PrefValue1 = 0;
  GraphicStatus = 0;
  LinkPropertyPageID = 0;
  ConstructionIDList.Clear();
  if (aVersion >= 11) {
    ZeichnungsID = aStream.ReadI32();
    LinkPropertyPageID = aStream.ReadI32();
    Priority = aStream.ReadU8();
    GraphicTyp = aStream.ReadU8();
    ZeichnungsPriority = aStream.ReadU8();
    PrefValue1 = aStream.ReadI32();
    GraphicStatus = aStream.ReadU8();
    ReadIntegerListRecord(aStream, ConstructionIDList);
    return;
  }
  ConstructionIDList.NewItem(aStream.ReadI32());
  ZeichnungsID = aStream.ReadI32();
  if (aVersion >= 9)
    LinkPropertyPageID = aStream.ReadI32();
  Priority = aStream.ReadU8();
  GraphicTyp = aStream.ReadU8();
}

template class TGraphicLinkPart<TPropertyObject>;
template class TGraphicLinkPart<TPropertyObject_Short>;

// ---- error ----

void TPr_Error::SaveValue(TMemoryStream& aStream, int aVersion) const {
  aStream.WriteI32(FehlerNummer);
  aStream.WriteU8(Schweregrad);
  WriteStreamText(aStream, Sender, aVersion);
  aStream.WriteU8(FehlerObjektOrt);
  aStream.WriteI32(FehlerObjektIndex);
  WriteStreamText(aStream, FehlermeldungEinfach, aVersion);
  WriteStreamText(aStream, FehlermeldungErweitert, aVersion);
}

void TPr_Error::LoadValue(TMemoryStream& aStream, int aVersion) {
  FehlerNummer = aStream.ReadI32();
  Schweregrad = aStream.ReadU8();
  Sender = ReadStreamText(aStream, aVersion);
  FehlerObjektOrt = aStream.ReadU8();
  FehlerObjektIndex = aStream.ReadI32();
  FehlermeldungEinfach = ReadStreamText(aStream, aVersion);
  FehlermeldungErweitert = ReadStreamText(aStream, aVersion);
}

// ---- multi-list ----

template <class TBase>
TMultiListPart<TBase>::~TMultiListPart() = default;

template <class TBase>
void TMultiListPart<TBase>::SaveValue(TMemoryStream& aStream, int aVersion) const {
  if (Value_UniList)
    Value_UniList->SaveList(aStream, aVersion);
  if (Value_IntegerList)
    Value_IntegerList->SaveTo_MemoryStream(aStream);
  if (Value_IntegerList2D)
    Value_IntegerList2D->SaveTo_MemoryStream(aStream);
  if (Value_DoubleList)
    Value_DoubleList->SaveTo_MemoryStream(aStream);
  if (Value_DoubleList2D)
    Value_DoubleList2D->SaveTo_MemoryStream(aStream);
  if (Value_IntegerDoubleList)
    Value_IntegerDoubleList->SaveTo_MemoryStream(aStream);
  aStream.WriteU8(kMarkerMultiListEnd);
}

template <class TBase>
void TMultiListPart<TBase>::LoadValue(TMemoryStream& aStream, int aVersion) {
  Value_UniList.reset();
  Value_IntegerList.reset();
  Value_IntegerList2D.reset();
  Value_DoubleList.reset();
  Value_DoubleList2D.reset();
  Value_IntegerDoubleList.reset();
  for (;;) {
    const std::uint8_t marker = aStream.ReadU8();
    switch (marker) {
      case kMarkerMultiListEnd:
        return;
      case kMarkerListStart:
        Value_UniList = std::make_unique<TUniversalList>();
        Value_UniList->ReadList(aStream, aVersion);
        break;
      case kMarkerIntegerList:
        Value_IntegerList = std::make_unique<TIntegerList>();
        Value_IntegerList->ReadRecord(aStream);
        break;
      case kMarkerIntegerList2D:
        Value_IntegerList2D = std::make_unique<TIntegerList2D>(0);
        Value_IntegerList2D->ReadRecord(aStream);
        break;
      case kMarkerDoubleList:
        Value_DoubleList = std::make_unique<TDoubleList>();
        Value_DoubleList->ReadRecord(aStream);
        break;
      case kMarkerDoubleList2D:
        Value_DoubleList2D = std::make_unique<TDoubleList2D>(0);
        Value_DoubleList2D->ReadRecord(aStream);
        break;
      case kMarkerIntegerDoubleList:
        Value_IntegerDoubleList = std::make_unique<TIntegerDoubleList>();
        Value_IntegerDoubleList->ReadRecord(aStream);
        break;
      default:
        throw EUniListReadError(Format("Ungültige Markierung %u in einer Multiliste.", marker));
    }
  }
}

template <class TBase>
std::size_t TMultiListPart<TBase>::ValueSaveSize() const {
  return 1 + (Value_UniList ? Value_UniList->GetSaveSize() : 0) +
         (Value_IntegerList ? Value_IntegerList->GetSaveSize() : 0) +
         (Value_IntegerList2D ? Value_IntegerList2D->GetSaveSize() : 0) +
         (Value_DoubleList ? Value_DoubleList->GetSaveSize() : 0) +
         (Value_DoubleList2D ? Value_DoubleList2D->GetSaveSize() : 0) +
         (Value_IntegerDoubleList ? Value_IntegerDoubleList->GetSaveSize() : 0);
}

template class TMultiListPart<TPropertyObject>;
template class TMultiListPart<TPropertyObject_Short>;

// ---- tables ----

TPr_Table::TPr_Table() : TPropertyObject(pkTable) {}
TPr_Table::~TPr_Table() = default;

void TPr_Table::SaveValue(TMemoryStream& aStream, int aVersion) const {
  aStream.WriteI32(FormatDef);
  ColumnDefs.SaveTo_Stream(aStream, aVersion);
  ColWidth.SaveTo_MemoryStream(aStream);
  ColSortIndex.SaveTo_MemoryStream(aStream);
  aStream.WriteI32(HeaderRowHeight);
  aStream.WriteI32(DefaultColWidth);
  aStream.WriteI32(DefaultRowHeight);
  aStream.WriteI16(ViewHeight);
}

void TPr_Table::LoadValue(TMemoryStream& aStream, int aVersion) {
  ColumnDefs.SetParentObject(ParentObject());
  FormatDef = aStream.ReadI32();
  ExpectMarker(aStream, kMarkerPropertyListStart);
  ColumnDefs.ReadFrom_Stream(aStream, aVersion);
  ReadIntegerListRecord(aStream, ColWidth);
  ColSortIndex.Clear();
  if (aVersion >= 13) {
    ReadIntegerListRecord(aStream, ColSortIndex);
  } else {
    for (int i = 0; i < ColumnDefs.Count(); ++i)
      ColSortIndex.NewItem(0);
  }
  HeaderRowHeight = aStream.ReadI32();
  DefaultColWidth = aStream.ReadI32();
  DefaultRowHeight = aStream.ReadI32();
  ViewHeight = aVersion >= 11 ? aStream.ReadI16() : std::int16_t{-1};
}

std::size_t TPr_Table::ValueSaveSize() const {
  return 18 + ColumnDefs.GetSaveSize() + ColWidth.GetSaveSize() + ColSortIndex.GetSaveSize();
}

TPr_Table_Short::~TPr_Table_Short() = default;

TRowPropertyList_Short& TPr_Table_Short::NewRow() {
  auto row = std::make_unique<TRowPropertyList_Short>(this);
  row->SetParentObject(ParentObject());
  AppendOwned(Rows, std::move(row));
  return *Rows.back();
}

void TPr_Table_Short::SaveValue(TMemoryStream& aStream, int aVersion) const {
  aStream.WriteI32(static_cast<std::int32_t>(Rows.size()));
  for (const auto& row : Rows)
    row->SaveRow(aStream, aVersion);
  aStream.WriteI16(ViewHeight);
}

void TPr_Table_Short::LoadValue(TMemoryStream& aStream, int aVersion) {
  Rows.clear();
  // A row takes at least its list markers, its count and its ID and height.
  const std::int32_t count = aStream.ReadCount(14);
  Rows.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i)
    NewRow().ReadRow(aStream, aVersion);
  ViewHeight = aVersion >= 11 ? aStream.ReadI16() : std::int16_t{-1};
}

std::size_t TPr_Table_Short::ValueSaveSize() const {
  std::size_t size = 6;
  for (const auto& row : Rows)
    size += 32 + row->GetSaveSize();
  return size;
}

void TRowPropertyList_Short::SaveRow(TMemoryStream& aStream, int aVersion) const {
  SaveTo_Stream(aStream, aVersion);
  aStream.WriteI16(PropSortOrder);
  aStream.WriteU8(StatusDef);
  aStream.WriteU8(PropServerInfo);
  aStream.WriteDouble(LastUpdate.Value());
  aStream.WriteI16(UpdateNr);
  aStream.WriteI32(RowID);
  aStream.WriteI32(RowHeight);
}

void TRowPropertyList_Short::ReadRow(TMemoryStream& aStream, int aVersion) {
  ExpectMarker(aStream, kMarkerShortListStart);
  ReadFrom_Stream(aStream, aVersion);
  if (aVersion >= 3)
    PropSortOrder = aStream.ReadI16();
  if (aVersion >= 5) {
    StatusDef = aStream.ReadU8();
    PropServerInfo = static_cast<TServerInfo>(aStream.ReadU8());
    LastUpdate = Platform::TDateTime(aStream.ReadDouble());
    UpdateNr = aStream.ReadI16();
  }
  RowID = aStream.ReadI32();
  RowHeight = aStream.ReadI32();
}

void TRowPropertyList_Short::AssignRow(const TRowPropertyList_Short& aSource) {
  Assign(&aSource);
  RowID = aSource.RowID;
  RowHeight = aSource.RowHeight;
  PropSortOrder = aSource.PropSortOrder;
  PropServerInfo = aSource.PropServerInfo;
  StatusDef = aSource.StatusDef;
  LastUpdate = aSource.LastUpdate;
  UpdateNr = aSource.UpdateNr;
}

// ---- property lists ----

TPropertyList::~TPropertyList() = default;

TPropertyObject* TPropertyList::Get(int aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return nullptr;
  }
  return fItems[static_cast<std::size_t>(aIndex)].get();
}

TPropertyObject* TPropertyList::NewItem(std::int32_t aID, const std::string& aName, TPropertyKind aKind) {
  std::string error;
  auto item = CreateLongProperty(aKind, error);
  if (!item) {
    UniListGeneralError(error);
    return nullptr;
  }
  item->SetID(aID);
  item->SetName(aName);
  return Add(std::move(item));
}

TPropertyObject* TPropertyList::Add(std::unique_ptr<TPropertyObject> aItem) {
  aItem->SetParentObject(fParentObject);
  AppendOwned(fItems, std::move(aItem));
  return fItems.back().get();
}

void TPropertyList::Delete(int aIndex) {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return;
  }
  fItems.erase(fItems.begin() + aIndex);
}

void TPropertyList::Clear() {
  fItems.clear();
}

void TPropertyList::Assign(const TPropertyList* aSource, bool aDoResetStatus) {
  if (aSource == this)
    return;
  Clear();
  if (!aSource)
    return;
  fItems.reserve(aSource->fItems.size());
  for (const auto& item : aSource->fItems) {
    auto copy = CloneProperty(*item);
    if (aDoResetStatus)
      copy->SetStatusDef(0);
    Add(std::move(copy));
  }
}

TPropertyObject* TPropertyList::SearchProperty(std::int32_t aID) const {
  for (const auto& item : fItems)
    if (item->ID() == aID)
      return item.get();
  return nullptr;
}

TPropertyObject* TPropertyList::SearchPropertyByName(const std::string& aName) const {
  for (const auto& item : fItems)
    if (item->Name() == aName)
      return item.get();
  return nullptr;
}

int TPropertyList::IndexOfID(std::int32_t aID) const {
  for (std::size_t i = 0; i < fItems.size(); ++i)
    if (fItems[i]->ID() == aID)
      return static_cast<int>(i);
  return -1;
}

void TPropertyList::SetParentObject(TUniversalObject* aValue) {
  fParentObject = aValue;
  for (auto& item : fItems)
    item->SetParentObject(aValue);
}

std::size_t TPropertyList::GetSaveSize() const {
  std::size_t size = 6;
  for (const auto& item : fItems)
    size += item->GetSaveSize();
  return size;
}

void TPropertyList::SaveTo_Stream(TMemoryStream& aStream, int aVersion) const {
  aStream.WriteU8(kMarkerPropertyListStart);
  aStream.WriteI32(Count());
  for (const auto& item : fItems)
    item->SaveTo_Stream(aStream, aVersion);
  aStream.WriteU8(kMarkerPropertyListEnd);
}

void TPropertyList::ReadFrom_Stream(TMemoryStream& aStream, int aVersion) {
  TNestingGuard guard;
  Clear();
  fItems.reserve(ReserveHint(aStream.ReadI32(), aStream.Remaining(), 16));
  for (;;) {
    const std::uint8_t marker = aStream.ReadU8();
    if (marker == kMarkerPropertyListEnd)
      return;
    if (marker != kMarkerPropertyStart)
      continue;
    const std::uint8_t kind = aStream.ReadU8() & 0x7F;
    if (kind == pkIVESUser)
      Invalid("Die Eigenschaftsart pkCalcIntern wird nicht mehr unterstützt!");
    if (kind == pkMultiBit)
      Invalid("Die Eigenschaftsart pkCalcLevel wird nicht mehr unterstützt!");
    if (kind == pkTableFormel) {
      TPr_TableFormel skipped;
      skipped.LoadFrom_Stream(aStream, aVersion);
      continue;
    }
    std::string error;
    auto item = CreateLongProperty(kind, error);
    if (!item)
      throw EUniListReadError(error);
    item->SetParentObject(fParentObject);
    item->LoadFrom_Stream(aStream, aVersion);
    Add(std::move(item));
  }
}

TPropertyList_Short::~TPropertyList_Short() = default;

TPropertyObject_Short* TPropertyList_Short::Get(int aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return nullptr;
  }
  return fItems[static_cast<std::size_t>(aIndex)].get();
}

TPropertyObject_Short* TPropertyList_Short::NewItem(TPropertyObject* aSourceProperty, TPropertyKind aKind) {
  auto* item = NewItemByID(aSourceProperty ? aSourceProperty->ID() : 0, aKind);
  if (item)
    item->SetSourceProperty(aSourceProperty);
  return item;
}

TPropertyObject_Short* TPropertyList_Short::NewItemByID(std::int32_t aID, TPropertyKind aKind) {
  std::string error;
  auto item = CreateShortProperty(aKind, error);
  if (!item) {
    UniListGeneralError(error);
    return nullptr;
  }
  item->SetID(aID);
  return Add(std::move(item));
}

TPropertyObject_Short* TPropertyList_Short::Add(std::unique_ptr<TPropertyObject_Short> aItem) {
  aItem->SetParentObject(fParentObject);
  AppendOwned(fItems, std::move(aItem));
  return fItems.back().get();
}

void TPropertyList_Short::Delete(int aIndex) {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return;
  }
  fItems.erase(fItems.begin() + aIndex);
}

void TPropertyList_Short::Clear() {
  fItems.clear();
}

void TPropertyList_Short::Assign(const TPropertyList_Short* aSource, bool aDoResetStatus) {
  if (aSource == this)
    return;
  Clear();
  if (!aSource)
    return;
  fSourcePropertyList = aSource->fSourcePropertyList;
  fItems.reserve(aSource->fItems.size());
  for (const auto& item : aSource->fItems) {
    auto copy = CloneProperty(*item);
    if (aDoResetStatus)
      copy->SetStatusDef(0);
    Add(std::move(copy));
  }
}

TPropertyObject_Short* TPropertyList_Short::SearchProperty(std::int32_t aID) const {
  for (const auto& item : fItems)
    if (item->ID() == aID)
      return item.get();
  return nullptr;
}

int TPropertyList_Short::IndexOfID(std::int32_t aID) const {
  for (std::size_t i = 0; i < fItems.size(); ++i)
    if (fItems[i]->ID() == aID)
      return static_cast<int>(i);
  return -1;
}

void TPropertyList_Short::SetParentObject(TUniversalObject* aValue) {
  fParentObject = aValue;
  for (auto& item : fItems)
    item->SetParentObject(aValue);
}

std::size_t TPropertyList_Short::GetSaveSize() const {
  std::size_t size = 6;
  for (const auto& item : fItems)
    size += item->GetSaveSize();
  return size;
}

void TPropertyList_Short::SaveTo_Stream(TMemoryStream& aStream, int aVersion) const {
  aStream.WriteU8(kMarkerShortListStart);
  aStream.WriteI32(Count());
  for (const auto& item : fItems)
    item->SaveTo_Stream(aStream, aVersion);
  aStream.WriteU8(kMarkerShortListEnd);
}

void TPropertyList_Short::ReadFrom_Stream(TMemoryStream& aStream, int aVersion) {
  TNestingGuard guard;
  Clear();
  fItems.reserve(ReserveHint(aStream.ReadI32(), aStream.Remaining(), 8));
  for (;;) {
    const std::uint8_t marker = aStream.ReadU8();
    if (marker == kMarkerShortListEnd)
      return;
    if (marker != kMarkerShortPropertyStart)
      continue;
    const std::uint8_t kind = aStream.ReadU8() & 0x7F;
    if (kind == pkMultiBit)
      Invalid("Die Eigenschaftsart pkCalcLevel wird nicht mehr unterstützt!");
    if (kind == pkTableFormel) {
      // An old table formula: a common part, then a text.
      TPr_TableFormel_Short skipped;
      skipped.LoadFrom_Stream(aStream, aVersion);
      continue;
    }
    std::string error;
    auto item = CreateShortProperty(kind, error);
    if (!item)
      throw EUniListReadError(error);
    item->SetParentObject(fParentObject);
    item->LoadFrom_Stream(aStream, aVersion);
    Add(std::move(item));
  }
}

// ---- factory ----

std::unique_ptr<TPropertyObject> CreateLongProperty(std::uint8_t aKind, std::string& aError) {
  const std::uint8_t kind = aKind & 0x7F;
  switch (kind) {
    case pkText:
      return std::make_unique<TPr_Text>();
    case pkChar5:
      return std::make_unique<TPr_Char5>();
    case pkChar10:
      return std::make_unique<TPr_Char10>();
    case pkChar20:
      return std::make_unique<TPr_Char20>();
    case pkChar35:
      return std::make_unique<TPr_Char35>();
    case pkChar50:
      return std::make_unique<TPr_Char50>();
    case pkChar75:
      return std::make_unique<TPr_Char75>();
    case pkChar100:
      return std::make_unique<TPr_Char100>();
    case pkDate:
      return std::make_unique<TPr_Date>();
    case pkTime:
      return std::make_unique<TPr_Time>();
    case pkByte:
      return std::make_unique<TPr_Byte>();
    case pkSmallInt:
      return std::make_unique<TPr_SmallInt>();
    case pkLongInt:
      return std::make_unique<TPr_LongInt>();
    case pkSingle:
      return std::make_unique<TPr_Single>();
    case pkDouble:
      return std::make_unique<TPr_Double>();
    case pkMoney:
      return std::make_unique<TPr_Money>();
    case pkBoolean:
      return std::make_unique<TPr_Boolean>();
    case pkLink:
      return std::make_unique<TPr_Link>();
    case pkImage:
      return std::make_unique<TPr_Image>();
    case pkTable:
      return std::make_unique<TPr_Table>();
    case pkChoose:
      return std::make_unique<TPr_Choose>();
    case pkStream:
      return std::make_unique<TPr_Stream>();
    case pkError:
      return std::make_unique<TPr_Error>();
    case pkGraphicLink:
      return std::make_unique<TPr_GraphicLink>();
    case pkDateTime:
      return std::make_unique<TPr_DateTime>();
    case pkCondition:
      return std::make_unique<TPr_Condition>();
    case pkCardinal:
      return std::make_unique<TPr_Cardinal>();
    case pkMultilist:
      return std::make_unique<TPr_MultiList>();
    case pkWideString:
      aError = CreateError(kind, kNoUnicode, false);
      return nullptr;
    default:
      aError = CreateError(kind, kNotSupported, false);
      return nullptr;
  }
}

std::unique_ptr<TPropertyObject_Short> CreateShortProperty(std::uint8_t aKind, std::string& aError) {
  const std::uint8_t kind = aKind & 0x7F;
  switch (kind) {
    case pkText:
      return std::make_unique<TPr_Text_Short>();
    case pkChar5:
      return std::make_unique<TPr_Char5_Short>();
    case pkChar10:
      return std::make_unique<TPr_Char10_Short>();
    case pkChar20:
      return std::make_unique<TPr_Char20_Short>();
    case pkChar35:
      return std::make_unique<TPr_Char35_Short>();
    case pkChar50:
      return std::make_unique<TPr_Char50_Short>();
    case pkChar75:
      return std::make_unique<TPr_Char75_Short>();
    case pkChar100:
      return std::make_unique<TPr_Char100_Short>();
    case pkDate:
      return std::make_unique<TPr_Date_Short>();
    case pkTime:
      return std::make_unique<TPr_Time_Short>();
    case pkByte:
      return std::make_unique<TPr_Byte_Short>();
    case pkSmallInt:
      return std::make_unique<TPr_SmallInt_Short>();
    case pkLongInt:
      return std::make_unique<TPr_LongInt_Short>();
    case pkSingle:
      return std::make_unique<TPr_Single_Short>();
    case pkDouble:
      return std::make_unique<TPr_Double_Short>();
    case pkMoney:
      return std::make_unique<TPr_Money_Short>();
    case pkBoolean:
      return std::make_unique<TPr_Boolean_Short>();
    case pkLink:
      return std::make_unique<TPr_Link_Short>();
    case pkImage:
      return std::make_unique<TPr_Image_Short>();
    case pkTable:
      return std::make_unique<TPr_Table_Short>();
    case pkChoose:
      return std::make_unique<TPr_Choose_Short>();
    case pkStream:
      return std::make_unique<TPr_Stream_Short>();
    case pkGraphicLink:
      return std::make_unique<TPr_GraphicLink_Short>();
    case pkDateTime:
      return std::make_unique<TPr_DateTime_Short>();
    case pkCondition:
      return std::make_unique<TPr_Condition_Short>();
    case pkCardinal:
      return std::make_unique<TPr_Cardinal_Short>();
    case pkMultilist:
      return std::make_unique<TPr_MultiList_Short>();
    case pkWideString:
      aError = CreateError(kind, kNoUnicode, true);
      return nullptr;
    default:
      aError = CreateError(kind, kNotSupported, true);
      return nullptr;
  }
}

std::unique_ptr<TPropertyObject> CloneProperty(const TPropertyObject& aSource) {
  std::string error;
  auto copy = CreateLongProperty(aSource.PropertyKind(), error);
  if (!copy || !copy->Assign(aSource))
    throw EUniListError(error.empty() ? "Die Eigenschaft kann nicht kopiert werden." : error);
  return copy;
}

std::unique_ptr<TPropertyObject_Short> CloneProperty(const TPropertyObject_Short& aSource) {
  std::string error;
  auto copy = CreateShortProperty(aSource.PropertyKind(), error);
  if (!copy || !copy->Assign(aSource))
    throw EUniListError(error.empty() ? "Die Eigenschaft kann nicht kopiert werden." : error);
  return copy;
}

}  // namespace UniObject
