#pragma once

// Typed properties of universal objects: the long properties (TPropertyObject, named and
// self-describing) and the short ones (TPropertyObject_Short, bare values identified by
// their ID), one class of the TPr_ family per property kind in each variant, the property
// lists and the rows of short tables, and the property factory.
//
// Ownership: a property list owns its properties; a property owns its value lists.
// FParentObject and FSourceProperty are plain back references that the owner keeps valid.
//
// Streams: SaveTo_Stream writes a property's whole record (marker and kind byte first);
// the reader of a list consumes marker and kind (the kind selects the class) and
// LoadFrom_Stream reads the rest. Reading throws EUniListReadError on any fault; the
// lists report it at their level (universal_list.h).
//
// Not thread-safe.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/datetime/datetime.h"
#include "uniobject/memory_stream.h"
#include "uniobject/number_lists.h"
#include "uniobject/types.h"

namespace UniObject {

class TUniversalObject;
class TUniversalList;
class TPropertyObject;
class TPropertyList;
class TCustomPropertyObject;

// Stream markers of lists, objects and properties.
inline constexpr std::uint8_t kMarkerListStart = 1;
inline constexpr std::uint8_t kMarkerListEnd = 2;
inline constexpr std::uint8_t kMarkerObjectStart = 3;
inline constexpr std::uint8_t kMarkerObjectEnd = 4;
inline constexpr std::uint8_t kMarkerPropertyListStart = 5;
inline constexpr std::uint8_t kMarkerPropertyListEnd = 6;
inline constexpr std::uint8_t kMarkerPropertyStart = 7;
inline constexpr std::uint8_t kMarkerPropertyValues = 8;
inline constexpr std::uint8_t kMarkerShortListStart = 9;
inline constexpr std::uint8_t kMarkerShortListEnd = 10;
inline constexpr std::uint8_t kMarkerShortPropertyStart = 11;
inline constexpr std::uint8_t kMarkerOldTerminList = 12;
inline constexpr std::uint8_t kMarkerOldToDoList = 15;
inline constexpr std::uint8_t kMarkerRefList = 18;
inline constexpr std::uint8_t kMarkerOldBlock = 20;
inline constexpr std::uint8_t kMarkerMultiListEnd = 26;

// Stream versions: readers accept 2..17, writers produce 15..17.
inline constexpr int kMinReadVersion = 2;
inline constexpr int kCurrentVersion = 17;
inline constexpr int kMinWriteVersion = 15;

// The name of a kind in messages ("pkText" ...); the high bit of a kind byte is ignored and
// kind 26 has no name.
std::string PropertyKindName(std::uint8_t aKind);

// Texts of a stream: an int32 count and single-byte characters in Windows-1252 up to
// version 16, UTF-16LE code units from version 17. In memory texts are UTF-8.
void WriteStreamText(TMemoryStream& aStream, const std::string& aText, int aVersion);
std::string ReadStreamText(TMemoryStream& aStream, int aVersion);

// A picture carried as the bytes of its file and a type.
enum TPictureType : std::uint8_t { ptBitmap = 1, ptMetafile = 2, ptJPEG = 3, ptIcon = 4, ptOther = 10 };
struct TPicture {
  TPictureType PictureType = ptOther;
  std::vector<std::uint8_t> Bytes;
  // The type that the file bytes show (bitmap, Windows or enhanced metafile, JPEG, icon;
  // anything else, such as PNG or GIF, is ptOther and is dropped by a reader).
  static TPictureType DetectType(const std::vector<std::uint8_t>& aBytes);
  static TPicture FromBytes(std::vector<std::uint8_t> aBytes);
  friend bool operator==(const TPicture&, const TPicture&) = default;
};

using TOnGetValueAsString = std::function<void(const TCustomPropertyObject& aProperty, std::string& aText)>;

class TCustomPropertyObject {
 public:
  // Status bits of FStatusDef.
  static constexpr std::uint8_t kStatusChanged = 1u << 0;
  static constexpr std::uint8_t kStatusDeleted = 1u << 1;
  static constexpr std::uint8_t kStatusEmpty = 1u << 2;
  static constexpr std::uint8_t kStatusNew = 1u << 3;

  virtual ~TCustomPropertyObject();
  TCustomPropertyObject(const TCustomPropertyObject&) = delete;
  TCustomPropertyObject& operator=(const TCustomPropertyObject&) = delete;

  // Virtual operations in slot order.
  // Bytes the property needs in a stream (an estimate for pre-sizing).
  virtual std::size_t GetSaveSize() const;
  virtual void SaveTo_Stream(TMemoryStream& aStream, int aVersion) const = 0;
  // Reads the record after its marker and kind byte.
  virtual void LoadFrom_Stream(TMemoryStream& aStream, int aVersion) = 0;
  // <0, 0, >0 comparing the value texts; a kind of its own may compare better.
  virtual int CompareValue(const TCustomPropertyObject& aValueToCompare) const;
  // Copies the value fields of a property of the same class; false otherwise.
  virtual bool AssignValue(const TCustomPropertyObject& aSource);
  virtual std::string GetValueAsString() const = 0;

  bool IsShort() const { return fIsShort; }
  TPropertyKind PropertyKind() const { return fPropertyKind; }
  std::int32_t ID() const { return fID; }
  void SetID(std::int32_t aValue);
  TUniversalObject* ParentObject() const { return fParentObject; }
  void SetParentObject(TUniversalObject* aValue) { fParentObject = aValue; }
  TPropertyObject* SourceProperty() const { return fSourceProperty; }
  void SetSourceProperty(TPropertyObject* aValue) { fSourceProperty = aValue; }
  TServerInfo PropServerInfo() const { return fPropServerInfo; }
  void SetPropServerInfo(TServerInfo aValue) { fPropServerInfo = aValue; }
  std::uint8_t StatusDef() const { return fStatusDef; }
  void SetStatusDef(std::uint8_t aValue) { fStatusDef = aValue; }
  bool GetStatusBit(std::uint8_t aBit) const { return (fStatusDef & aBit) != 0; }
  // Setting deleted or empty also sets changed.
  void SetStatusBit(std::uint8_t aBit, bool aValue);
  Platform::TDateTime LastUpdate() const { return fLastUpdate; }
  void SetLastUpdate(Platform::TDateTime aValue) { fLastUpdate = aValue; }
  std::int16_t UpdateNr() const { return fUpdateNr; }
  void SetUpdateNr(std::int16_t aValue) { fUpdateNr = aValue; }
  std::uint32_t PropStatus() const { return fPropStatus; }
  void SetPropStatus(std::uint32_t aValue) { fPropStatus = aValue; }
  bool GetPropStatusBit(int aBit) const;
  void SetPropStatusBit(int aBit, bool aValue);
  // Property-source data; nil until created.
  TIntegerList2D* InternPSList() const { return fInternPSList.get(); }
  TIntegerList2D& PrepareInternPSList(int aCountOfCol);
  void ClearInternPSList() { fInternPSList.reset(); }

  TOnGetValueAsString OnGetValueAsString;

 protected:
  TCustomPropertyObject(TPropertyKind aKind, bool aIsShort);
  void SaveCommon(TMemoryStream& aStream, std::uint8_t aMarker, int aVersion) const;
  void LoadCommon(TMemoryStream& aStream, int aVersion);
  void AssignCommon(const TCustomPropertyObject& aSource);
  std::string ApplyOnGetValueAsString(std::string aText) const;
  // Value fields of the kind.
  virtual void SaveValue(TMemoryStream& aStream, int aVersion) const = 0;
  virtual void LoadValue(TMemoryStream& aStream, int aVersion) = 0;
  virtual std::size_t ValueSaveSize() const { return 16; }
  // An extra slot of the property-source data read from versions 12 to 14.
  void KeepOldSourceValue(int aColumn, int aColumns, std::int32_t aValue);

 private:
  TUniversalObject* fParentObject = nullptr;
  TPropertyObject* fSourceProperty = nullptr;
  std::int32_t fID = 0;
  TPropertyKind fPropertyKind;
  bool fIsShort;
  TServerInfo fPropServerInfo = siNone;
  std::uint8_t fStatusDef = kStatusNew | kStatusChanged;
  Platform::TDateTime fLastUpdate{kDefaultLastUpdate};
  std::int16_t fUpdateNr = 0;
  std::uint32_t fPropStatus = 0;
  std::unique_ptr<TIntegerList2D> fInternPSList;
};

class TPropertyObject : public TCustomPropertyObject {
 public:
  const std::string& Name() const { return fName; }
  void SetName(std::string aValue) { fName = std::move(aValue); }
  std::int32_t ExternFormatID = 0;
  std::uint32_t PropSecurityValue = 0;
  std::int16_t PropSortOrder = 0;
  std::int32_t SourceConditionPropID = 0;
  std::uint32_t PropertyStatus = 0;

  // The data-definition values of versions 12 to 14, kept in the property-source data
  // (one row: PropSourceIDex, PropSourceID2ex, PropSourceObjectArtex, QueryCommandex).
  std::int32_t PropSourceIDex() const;
  std::int32_t QueryCommandex() const;

  std::size_t GetSaveSize() const override;
  void SaveTo_Stream(TMemoryStream& aStream, int aVersion) const override;
  void LoadFrom_Stream(TMemoryStream& aStream, int aVersion) override;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString({}); }
  // Copies everything but the parent; false for a property of another class.
  virtual bool Assign(const TPropertyObject& aSource);

 protected:
  using TCustomPropertyObject::TCustomPropertyObject;
  explicit TPropertyObject(TPropertyKind aKind) : TCustomPropertyObject(aKind, false) {}

 private:
  std::string fName;
};

class TPropertyObject_Short : public TCustomPropertyObject {
 public:
  std::int32_t QueryResultex() const;

  void SaveTo_Stream(TMemoryStream& aStream, int aVersion) const override;
  void LoadFrom_Stream(TMemoryStream& aStream, int aVersion) override;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString({}); }
  // Resets the value to the one of the defining long property (or the kind's default).
  virtual void SetStandardValue();
  virtual bool Assign(const TPropertyObject_Short& aSource);

 protected:
  explicit TPropertyObject_Short(TPropertyKind aKind) : TCustomPropertyObject(aKind, true) {}
};

// ---- text kinds ----

template <class TBase>
class TTextPart : public TBase {
 public:
  std::string Value_Text;
  std::int16_t ViewHeight = -1;
  std::string GetValueAsString() const override { return this->ApplyOnGetValueAsString(Value_Text); }

 protected:
  using TBase::TBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return 6 + 2 * Value_Text.size(); }
};

class TPr_Text : public TTextPart<TPropertyObject> {
 public:
  TPr_Text() : TTextPart(pkText) {}

 protected:
  using TTextPart::TTextPart;
};
class TPr_Text_Short : public TTextPart<TPropertyObject_Short> {
 public:
  TPr_Text_Short() : TTextPart(pkText) {}

 protected:
  using TTextPart::TTextPart;
};

// The maximum length of a fixed-length text kind (5 ... 100), 0 for other kinds.
int MaxCharCountOfKind(TPropertyKind aKind);

template <class TTextBase>
class TCharPart : public TTextBase {
 public:
  std::int32_t CharCount = 0;
  int MaxCharCount() const { return MaxCharCountOfKind(this->PropertyKind()); }

 protected:
  using TTextBase::TTextBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
};

class TPr_CharN : public TCharPart<TPr_Text> {
 protected:
  using TCharPart::TCharPart;
};
class TPr_CharN_Short : public TCharPart<TPr_Text_Short> {
 protected:
  using TCharPart::TCharPart;
};

#define QV_UNIOBJECT_CHAR_CLASSES(N)                         \
  class TPr_Char##N final : public TPr_CharN {               \
   public:                                                   \
    TPr_Char##N() : TPr_CharN(pkChar##N) {}                  \
  };                                                         \
  class TPr_Char##N##_Short final : public TPr_CharN_Short { \
   public:                                                   \
    TPr_Char##N##_Short() : TPr_CharN_Short(pkChar##N) {}    \
  };
QV_UNIOBJECT_CHAR_CLASSES(5)
QV_UNIOBJECT_CHAR_CLASSES(10)
QV_UNIOBJECT_CHAR_CLASSES(20)
QV_UNIOBJECT_CHAR_CLASSES(35)
QV_UNIOBJECT_CHAR_CLASSES(50)
QV_UNIOBJECT_CHAR_CLASSES(75)
QV_UNIOBJECT_CHAR_CLASSES(100)
#undef QV_UNIOBJECT_CHAR_CLASSES

template <class TTextBase>
class TLinkPart : public TTextBase {
 public:
  std::uint8_t LinkTyp = 1;
  std::int32_t DocumentID = 0;
  std::int32_t DocumentID2 = 0;

 protected:
  using TTextBase::TTextBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
};

class TPr_Link final : public TLinkPart<TPr_Text> {
 public:
  TPr_Link() : TLinkPart(pkLink) {}
};
class TPr_Link_Short final : public TLinkPart<TPr_Text_Short> {
 public:
  TPr_Link_Short() : TLinkPart(pkLink) {}
};

// ---- numeric, date and time kinds ----

class TPr_CustomNum : public TPropertyObject {
 public:
  std::int32_t UnitDefID = 0;
  std::int32_t FormatDef = 0;

 protected:
  using TPropertyObject::TPropertyObject;
};
class TPr_CustomNumInteger : public TPr_CustomNum {
 protected:
  using TPr_CustomNum::TPr_CustomNum;
};
class TPr_CustomNumReal : public TPr_CustomNum {
 protected:
  using TPr_CustomNum::TPr_CustomNum;
};

class TPr_CustomNum_Short : public TPropertyObject_Short {
 public:
  // When set, a new value is checked against the defining long property's range.
  bool ValueTest_BySourceProperty = false;

 protected:
  using TPropertyObject_Short::TPropertyObject_Short;
};
class TPr_CustomNumInteger_Short : public TPr_CustomNum_Short {
 protected:
  using TPr_CustomNum_Short::TPr_CustomNum_Short;
};
class TPr_CustomNumReal_Short : public TPr_CustomNum_Short {
 protected:
  using TPr_CustomNum_Short::TPr_CustomNum_Short;
};

// The text of a numeric value of a kind: decimal for integers, up to 15 significant
// digits for floats and money, the fixed date/time texts for date and time kinds.
std::string NumberText(TPropertyKind aKind, double aValue);

// Range check of a new value: false (after the warning of the range mode) when it lies
// below aMin or above aMax.
bool CheckValueRange(TPropertyKind aKind, double aValue, double aMin, double aMax);

// Money is stored as the amount times 10000.
template <typename T>
double NumberAsDouble(TPropertyKind aKind, T aValue) {
  return aKind == pkMoney ? static_cast<double>(aValue) / 10000.0 : static_cast<double>(aValue);
}

template <class TParent, typename T>
class TLongNumber : public TParent {
 public:
  using ValueType = T;
  T Value() const { return fValue; }
  // Refused (false, after the range warning) outside MinValue .. MaxValue.
  bool SetValue(T aValue);
  T MinValue() const { return fMin; }
  T MaxValue() const { return fMax; }
  void SetMinValue(T aValue) { fMin = aValue; }
  void SetMaxValue(T aValue) { fMax = aValue; }
  // Sets all three as a stream or a stored form holds them, without the range check.
  void SetRawValues(T aValue, T aMin, T aMax) {
    fValue = aValue;
    fMin = aMin;
    fMax = aMax;
  }
  std::string GetValueAsString() const override {
    return this->ApplyOnGetValueAsString(
        NumberText(this->PropertyKind(), NumberAsDouble(this->PropertyKind(), fValue)));
  }

 protected:
  explicit TLongNumber(TPropertyKind aKind);
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return 8 + 3 * sizeof(T); }

 private:
  T fValue{};
  T fMin;
  T fMax;
};

template <class TParent, typename T>
class TShortNumber : public TParent {
 public:
  using ValueType = T;
  T Value() const { return fValue; }
  // With ValueTest_BySourceProperty, checked against the long property's range.
  bool SetValue(T aValue);
  void SetStandardValue() override;
  std::string GetValueAsString() const override {
    return this->ApplyOnGetValueAsString(
        NumberText(this->PropertyKind(), NumberAsDouble(this->PropertyKind(), fValue)));
  }

 protected:
  using TParent::TParent;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return sizeof(T); }

 private:
  T fValue{};
};

#define QV_UNIOBJECT_NUMBER_CLASSES(NAME, KIND, TYPE, LONGBASE, SHORTBASE) \
  class TPr_##NAME final : public TLongNumber<LONGBASE, TYPE> {            \
   public:                                                                 \
    TPr_##NAME() : TLongNumber(KIND) {}                                    \
  };                                                                       \
  class TPr_##NAME##_Short final : public TShortNumber<SHORTBASE, TYPE> {  \
   public:                                                                 \
    TPr_##NAME##_Short() : TShortNumber(KIND) {}                           \
  };
QV_UNIOBJECT_NUMBER_CLASSES(Byte, pkByte, std::uint8_t, TPr_CustomNumInteger, TPr_CustomNumInteger_Short)
QV_UNIOBJECT_NUMBER_CLASSES(SmallInt, pkSmallInt, std::int16_t, TPr_CustomNumInteger, TPr_CustomNumInteger_Short)
QV_UNIOBJECT_NUMBER_CLASSES(LongInt, pkLongInt, std::int32_t, TPr_CustomNumInteger, TPr_CustomNumInteger_Short)
QV_UNIOBJECT_NUMBER_CLASSES(Single, pkSingle, float, TPr_CustomNumReal, TPr_CustomNumReal_Short)
QV_UNIOBJECT_NUMBER_CLASSES(Double, pkDouble, double, TPr_CustomNumReal, TPr_CustomNumReal_Short)
QV_UNIOBJECT_NUMBER_CLASSES(Money, pkMoney, std::int64_t, TPr_CustomNumReal, TPr_CustomNumReal_Short)
QV_UNIOBJECT_NUMBER_CLASSES(Date, pkDate, double, TPr_CustomNum, TPr_CustomNum_Short)
QV_UNIOBJECT_NUMBER_CLASSES(Time, pkTime, double, TPr_CustomNum, TPr_CustomNum_Short)
QV_UNIOBJECT_NUMBER_CLASSES(Cardinal, pkCardinal, std::uint32_t, TPr_CustomNum, TPr_CustomNum_Short)
#undef QV_UNIOBJECT_NUMBER_CLASSES

// Members of DateTimeTyp: the date and the time, the date only, the time only.
inline constexpr std::uint8_t kDateTimeTypCount = 3;

class TPr_DateTime final : public TLongNumber<TPr_CustomNum, double> {
 public:
  TPr_DateTime() : TLongNumber(pkDateTime) {}
  std::uint8_t DateTimeTyp = 0;

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
};
class TPr_DateTime_Short final : public TShortNumber<TPr_CustomNum_Short, double> {
 public:
  TPr_DateTime_Short() : TShortNumber(pkDateTime) {}
};

// ---- boolean and condition ----

template <class TBase>
class TBooleanPart : public TBase {
 public:
  bool Value_Boolean = false;
  std::string GetValueAsString() const override { return this->ApplyOnGetValueAsString(Value_Boolean ? "Ja" : "Nein"); }

 protected:
  using TBase::TBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return 1; }
};
class TPr_Boolean final : public TBooleanPart<TPropertyObject> {
 public:
  TPr_Boolean() : TBooleanPart(pkBoolean) {}
};
class TPr_Boolean_Short final : public TBooleanPart<TPropertyObject_Short> {
 public:
  TPr_Boolean_Short() : TBooleanPart(pkBoolean) {}
};

class TPr_Condition final : public TPropertyObject {
 public:
  TPr_Condition() : TPropertyObject(pkCondition) {}
  std::uint8_t Value_Condition = 0;
  std::uint8_t ConditionTyp = 0;
  std::int32_t ConditionFormat = 0;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString(Value_Condition ? "Ja" : "Nein"); }

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
};
class TPr_Condition_Short final : public TPropertyObject_Short {
 public:
  TPr_Condition_Short() : TPropertyObject_Short(pkCondition) {}
  std::uint8_t Value_Condition = 0;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString(Value_Condition ? "Ja" : "Nein"); }

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
};

// ---- image and stream ----

template <class TBase>
class TImagePart : public TBase {
 public:
  std::optional<TPicture> Value_Image;
  std::string GetValueAsString() const override { return this->ApplyOnGetValueAsString("Image"); }
  bool AssignValue(const TCustomPropertyObject& aSource) override;

 protected:
  using TBase::TBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return 13 + (Value_Image ? Value_Image->Bytes.size() : 0); }
};
class TPr_Image final : public TImagePart<TPropertyObject> {
 public:
  TPr_Image() : TImagePart(pkImage) {}
  std::int32_t FormatDef = 0;
  std::int16_t MaxWidth = 35;
  std::int16_t MaxHeight = 45;

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
};
class TPr_Image_Short final : public TImagePart<TPropertyObject_Short> {
 public:
  TPr_Image_Short() : TImagePart(pkImage) {}
};

template <class TBase>
class TStreamPart : public TBase {
 public:
  std::optional<std::vector<std::uint8_t>> Value_Stream;
  std::string GetValueAsString() const override { return this->ApplyOnGetValueAsString("Stream"); }

 protected:
  using TBase::TBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return 4 + (Value_Stream ? Value_Stream->size() : 0); }
};
class TPr_Stream final : public TStreamPart<TPropertyObject> {
 public:
  TPr_Stream() : TStreamPart(pkStream) {}
};
class TPr_Stream_Short final : public TStreamPart<TPropertyObject_Short> {
 public:
  TPr_Stream_Short() : TStreamPart(pkStream) {}
};

// ---- choice ----

class TPr_Choose final : public TPropertyObject {
 public:
  TPr_Choose() : TPropertyObject(pkChoose) {}
  std::int32_t ChooseObjectID = 0;
  TIntegerList DefaultValueIDList;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString("Auswahleigenschaft"); }

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return 4 + DefaultValueIDList.GetSaveSize(); }
};
class TPr_Choose_Short final : public TPropertyObject_Short {
 public:
  TPr_Choose_Short() : TPropertyObject_Short(pkChoose) {}
  TIntegerList ValueIDList;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString("Auswahleigenschaft"); }

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return ValueIDList.GetSaveSize(); }
};

// ---- graphic link ----

template <class TBase>
class TGraphicLinkPart : public TBase {
 public:
  std::int32_t ZeichnungsID = 0;
  std::int32_t LinkPropertyPageID = 0;
  std::uint8_t Priority = 0;
  std::uint8_t GraphicTyp = 0;
  std::uint8_t ZeichnungsPriority = 0;
  std::int32_t PrefValue1 = 0;
  std::uint8_t GraphicStatus = 0;
  TIntegerList ConstructionIDList;
  std::string GetValueAsString() const override { return this->ApplyOnGetValueAsString("Grafikverknüpfung"); }

 protected:
  using TBase::TBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override { return 16 + ConstructionIDList.GetSaveSize(); }
};
class TPr_GraphicLink final : public TGraphicLinkPart<TPropertyObject> {
 public:
  TPr_GraphicLink() : TGraphicLinkPart(pkGraphicLink) {}
};
class TPr_GraphicLink_Short final : public TGraphicLinkPart<TPropertyObject_Short> {
 public:
  TPr_GraphicLink_Short() : TGraphicLinkPart(pkGraphicLink) {}
};

// ---- error (long only) ----

class TPr_Error final : public TPropertyObject {
 public:
  TPr_Error() : TPropertyObject(pkError) {}
  std::int32_t FehlerNummer = 0;
  std::uint8_t Schweregrad = 0;
  std::string Sender;
  std::uint8_t FehlerObjektOrt = 0;
  std::int32_t FehlerObjektIndex = 0;
  std::string FehlermeldungEinfach;
  std::string FehlermeldungErweitert;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString(FehlermeldungEinfach); }

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override {
    return 22 + 2 * (Sender.size() + FehlermeldungEinfach.size() + FehlermeldungErweitert.size());
  }
};

// ---- multi-list ----

template <class TBase>
class TMultiListPart : public TBase {
 public:
  ~TMultiListPart() override;
  std::unique_ptr<TUniversalList> Value_UniList;
  std::unique_ptr<TIntegerList> Value_IntegerList;
  std::unique_ptr<TIntegerList2D> Value_IntegerList2D;
  std::unique_ptr<TDoubleList> Value_DoubleList;
  std::unique_ptr<TDoubleList2D> Value_DoubleList2D;
  std::unique_ptr<TIntegerDoubleList> Value_IntegerDoubleList;
  std::string GetValueAsString() const override { return this->ApplyOnGetValueAsString("Multiliste"); }

 protected:
  using TBase::TBase;
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override;
};
class TPr_MultiList final : public TMultiListPart<TPropertyObject> {
 public:
  TPr_MultiList() : TMultiListPart(pkMultilist) {}
};
class TPr_MultiList_Short final : public TMultiListPart<TPropertyObject_Short> {
 public:
  TPr_MultiList_Short() : TMultiListPart(pkMultilist) {}
};

// ---- property lists ----

// Owns its long properties; same growth rule as the universal lists.
class TPropertyList {
 public:
  explicit TPropertyList(TUniversalObject* aParentObject = nullptr) : fParentObject(aParentObject) {}
  ~TPropertyList();
  TPropertyList(const TPropertyList&) = delete;
  TPropertyList& operator=(const TPropertyList&) = delete;

  int Count() const { return static_cast<int>(fItems.size()); }
  // Index-checked: outside the list the index error, then nil.
  TPropertyObject* Get(int aIndex) const;
  TPropertyObject* operator[](int aIndex) const { return Get(aIndex); }
  // Appends a new property of a kind; nil (after the factory's message) when the kind is
  // refused.
  TPropertyObject* NewItem(std::int32_t aID, const std::string& aName, TPropertyKind aKind);
  // Appends a property created elsewhere.
  TPropertyObject* Add(std::unique_ptr<TPropertyObject> aItem);
  void Delete(int aIndex);
  void Clear();
  // Replaces the content by copies of aSource (status reset to unchanged on request).
  void Assign(const TPropertyList* aSource, bool aDoResetStatus = false);
  TPropertyObject* SearchProperty(std::int32_t aID) const;
  TPropertyObject* SearchPropertyByName(const std::string& aName) const;
  int IndexOfID(std::int32_t aID) const;
  TUniversalObject* ParentObject() const { return fParentObject; }
  void SetParentObject(TUniversalObject* aValue);

  std::size_t GetSaveSize() const;
  void SaveTo_Stream(TMemoryStream& aStream, int aVersion) const;
  // Reads the list after its marker 5; throws EUniListReadError on any fault.
  void ReadFrom_Stream(TMemoryStream& aStream, int aVersion);

 private:
  TUniversalObject* fParentObject;
  std::vector<std::unique_ptr<TPropertyObject>> fItems;
};

class TPropertyList_Short {
 public:
  explicit TPropertyList_Short(TUniversalObject* aParentObject = nullptr) : fParentObject(aParentObject) {}
  virtual ~TPropertyList_Short();
  TPropertyList_Short(const TPropertyList_Short&) = delete;
  TPropertyList_Short& operator=(const TPropertyList_Short&) = delete;

  int Count() const { return static_cast<int>(fItems.size()); }
  TPropertyObject_Short* Get(int aIndex) const;
  TPropertyObject_Short* operator[](int aIndex) const { return Get(aIndex); }
  // A new short property of a kind defined by aSourceProperty (which may be nil: the ID is
  // then 0); nil when the kind is refused.
  TPropertyObject_Short* NewItem(TPropertyObject* aSourceProperty, TPropertyKind aKind);
  // A new short property with an ID and no defining long property.
  TPropertyObject_Short* NewItemByID(std::int32_t aID, TPropertyKind aKind);
  TPropertyObject_Short* Add(std::unique_ptr<TPropertyObject_Short> aItem);
  void Delete(int aIndex);
  void Clear();
  void Assign(const TPropertyList_Short* aSource, bool aDoResetStatus = false);
  // The first property with the ID (linear search), or nil.
  TPropertyObject_Short* SearchProperty(std::int32_t aID) const;
  int IndexOfID(std::int32_t aID) const;
  TUniversalObject* ParentObject() const { return fParentObject; }
  void SetParentObject(TUniversalObject* aValue);
  TPropertyList* SourcePropertyList() const { return fSourcePropertyList; }
  void SetSourcePropertyList(TPropertyList* aValue) { fSourcePropertyList = aValue; }

  std::size_t GetSaveSize() const;
  void SaveTo_Stream(TMemoryStream& aStream, int aVersion) const;
  // Reads the list after its marker 9; throws EUniListReadError on any fault.
  void ReadFrom_Stream(TMemoryStream& aStream, int aVersion);

 private:
  TUniversalObject* fParentObject;
  TPropertyList* fSourcePropertyList = nullptr;
  std::vector<std::unique_ptr<TPropertyObject_Short>> fItems;
};

class TPr_Table_Short;

// One row of a short table.
class TRowPropertyList_Short : public TPropertyList_Short {
 public:
  explicit TRowPropertyList_Short(TPr_Table_Short* aOwnerTable = nullptr) : fOwnerTable_Short(aOwnerTable) {}
  std::int32_t RowID = 0;
  std::int32_t RowHeight = 0;
  std::int16_t PropSortOrder = 0;
  TServerInfo PropServerInfo = siNone;
  std::uint8_t StatusDef = TCustomPropertyObject::kStatusNew | TCustomPropertyObject::kStatusChanged;
  Platform::TDateTime LastUpdate{kDefaultLastUpdate};
  std::int16_t UpdateNr = 0;
  TPr_Table_Short* OwnerTable_Short() const { return fOwnerTable_Short; }

  void SaveRow(TMemoryStream& aStream, int aVersion) const;
  // Reads a row record, its marker 9 first.
  void ReadRow(TMemoryStream& aStream, int aVersion);
  void AssignRow(const TRowPropertyList_Short& aSource);

 private:
  TPr_Table_Short* fOwnerTable_Short;
};

class TPr_Table final : public TPropertyObject {
 public:
  TPr_Table();
  ~TPr_Table() override;
  std::int32_t FormatDef = 0;
  TPropertyList ColumnDefs;
  TIntegerList ColWidth;
  TIntegerList ColSortIndex;
  std::int32_t HeaderRowHeight = 0;
  std::int32_t DefaultColWidth = 0;
  std::int32_t DefaultRowHeight = 0;
  std::int16_t ViewHeight = -1;
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString("Tabelle"); }

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override;
};

class TPr_Table_Short final : public TPropertyObject_Short {
 public:
  TPr_Table_Short() : TPropertyObject_Short(pkTable) {}
  ~TPr_Table_Short() override;
  std::vector<std::unique_ptr<TRowPropertyList_Short>> Rows;
  std::int16_t ViewHeight = -1;
  TRowPropertyList_Short& NewRow();
  std::string GetValueAsString() const override { return ApplyOnGetValueAsString("Tabelle"); }

 protected:
  void SaveValue(TMemoryStream& aStream, int aVersion) const override;
  void LoadValue(TMemoryStream& aStream, int aVersion) override;
  std::size_t ValueSaveSize() const override;
};

// ---- factory ----

// Creates the long or short property class of a kind (the high bit of aKind is ignored).
// A refused kind yields nil and the refusal text in aError: kinds 24 to 26 and 31 for both
// variants, 22 for short properties.
std::unique_ptr<TPropertyObject> CreateLongProperty(std::uint8_t aKind, std::string& aError);
std::unique_ptr<TPropertyObject_Short> CreateShortProperty(std::uint8_t aKind, std::string& aError);
// A copy of a property (same class, all fields, no parent).
std::unique_ptr<TPropertyObject> CloneProperty(const TPropertyObject& aSource);
std::unique_ptr<TPropertyObject_Short> CloneProperty(const TPropertyObject_Short& aSource);

}  // namespace UniObject
