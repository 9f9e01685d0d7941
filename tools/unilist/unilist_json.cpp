#include "tools/unilist/unilist_json.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/text/digits.h"

namespace UniListTool {

using namespace UniObject;
using Json = nlohmann::ordered_json;

namespace {

// ---- writing ----

// Doubles are written as JSON numbers (shortest exact form); values JSON cannot hold as
// numbers as the strings "NaN", "Infinity", "-Infinity".
Json Number(double aValue) {
  if (std::isnan(aValue))
    return "NaN";
  if (std::isinf(aValue))
    return aValue > 0 ? "Infinity" : "-Infinity";
  return aValue;
}

std::string Hex(const std::vector<std::uint8_t>& aBytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  text.reserve(aBytes.size() * 2);
  for (auto byte : aBytes) {
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 15]);
  }
  return text;
}

Json IntList(const TIntegerList& aList) {
  return aList.Values();
}

Json DoubleList(const TDoubleList& aList) {
  Json values = Json::array();
  for (double value : aList.Values())
    values.push_back(Number(value));
  return values;
}

template <typename TTable, typename TConvert>
Json Table2D(const TTable& aTable, TConvert aConvert) {
  Json rows = Json::array();
  for (int r = 0; r < aTable.RowCount(); ++r) {
    Json row = Json::array();
    for (auto value : aTable.GetRow(r))
      row.push_back(aConvert(value));
    rows.push_back(std::move(row));
  }
  return {
      {"cols", aTable.ColCount()}, {"sorted", aTable.Sorted()}, {"duplicates", aTable.Duplicates()}, {"rows", rows}};
}

Json IntTable(const TIntegerList2D& aTable) {
  return Table2D(aTable, [](std::int32_t aValue) { return Json(aValue); });
}
Json DoubleTable(const TDoubleList2D& aTable) {
  return Table2D(aTable, Number);
}

Json ListJson(const TUniversalList& aList);
Json LongPropsJson(const TPropertyList& aList);
Json ShortPropsJson(const TPropertyList_Short& aList);

template <typename TProp>
void NumberValue(Json& aValue, const TCustomPropertyObject& aProperty) {
  const auto& number = static_cast<const TProp&>(aProperty);
  using T = typename TProp::ValueType;
  auto convert = [](T aNumber) -> Json {
    if constexpr (std::is_floating_point_v<T>)
      return Number(static_cast<double>(aNumber));
    else
      return aNumber;
  };
  aValue["value"] = convert(number.Value());
  if constexpr (requires { number.MinValue(); }) {
    aValue["unitDefId"] = number.UnitDefID;
    aValue["formatDef"] = number.FormatDef;
    aValue["min"] = convert(number.MinValue());
    aValue["max"] = convert(number.MaxValue());
  }
}

template <typename TProp>
void TextValue(Json& aValue, const TCustomPropertyObject& aProperty) {
  const auto& text = static_cast<const TProp&>(aProperty);
  aValue["text"] = text.Value_Text;
  aValue["viewHeight"] = text.ViewHeight;
}

Json PictureJson(const std::optional<TPicture>& aPicture) {
  if (!aPicture)
    return nullptr;
  return {{"type", aPicture->PictureType}, {"bytes", Hex(aPicture->Bytes)}};
}

template <typename TProp>
void GraphicValue(Json& aValue, const TCustomPropertyObject& aProperty) {
  const auto& graphic = static_cast<const TProp&>(aProperty);
  aValue["zeichnungsId"] = graphic.ZeichnungsID;
  aValue["linkPropertyPageId"] = graphic.LinkPropertyPageID;
  aValue["priority"] = graphic.Priority;
  aValue["graphicTyp"] = graphic.GraphicTyp;
  aValue["zeichnungsPriority"] = graphic.ZeichnungsPriority;
  aValue["prefValue1"] = graphic.PrefValue1;
  aValue["graphicStatus"] = graphic.GraphicStatus;
  aValue["constructionIds"] = IntList(graphic.ConstructionIDList);
}

template <typename TProp>
void MultiValue(Json& aValue, const TCustomPropertyObject& aProperty) {
  const auto& multi = static_cast<const TProp&>(aProperty);
  if (multi.Value_UniList)
    aValue["uniList"] = ListJson(*multi.Value_UniList);
  if (multi.Value_IntegerList)
    aValue["integerList"] = IntList(*multi.Value_IntegerList);
  if (multi.Value_IntegerList2D)
    aValue["integerList2D"] = IntTable(*multi.Value_IntegerList2D);
  if (multi.Value_DoubleList)
    aValue["doubleList"] = DoubleList(*multi.Value_DoubleList);
  if (multi.Value_DoubleList2D)
    aValue["doubleList2D"] = DoubleTable(*multi.Value_DoubleList2D);
  if (multi.Value_IntegerDoubleList) {
    Json pairs = Json::array();
    for (const auto& pair : multi.Value_IntegerDoubleList->Values())
      pairs.push_back(Json::array({pair.IntValue, Number(pair.DblValue)}));
    aValue["integerDoubleList"] = pairs;
  }
}

Json ValueJson(const TCustomPropertyObject& aProperty) {
  Json value = Json::object();
  const bool isShort = aProperty.IsShort();
  switch (aProperty.PropertyKind()) {
    case pkText:
      isShort ? TextValue<TPr_Text_Short>(value, aProperty) : TextValue<TPr_Text>(value, aProperty);
      break;
    case pkChar5:
    case pkChar10:
    case pkChar20:
    case pkChar35:
    case pkChar50:
    case pkChar75:
    case pkChar100:
      if (isShort) {
        TextValue<TPr_CharN_Short>(value, aProperty);
        value["charCount"] = static_cast<const TPr_CharN_Short&>(aProperty).CharCount;
      } else {
        TextValue<TPr_CharN>(value, aProperty);
        value["charCount"] = static_cast<const TPr_CharN&>(aProperty).CharCount;
      }
      break;
    case pkLink:
      if (isShort) {
        TextValue<TPr_Link_Short>(value, aProperty);
        const auto& link = static_cast<const TPr_Link_Short&>(aProperty);
        value["linkTyp"] = link.LinkTyp;
        value["documentId"] = link.DocumentID;
        value["documentId2"] = link.DocumentID2;
      } else {
        TextValue<TPr_Link>(value, aProperty);
        const auto& link = static_cast<const TPr_Link&>(aProperty);
        value["linkTyp"] = link.LinkTyp;
        value["documentId"] = link.DocumentID;
        value["documentId2"] = link.DocumentID2;
      }
      break;
    case pkDate:
      isShort ? NumberValue<TPr_Date_Short>(value, aProperty) : NumberValue<TPr_Date>(value, aProperty);
      break;
    case pkTime:
      isShort ? NumberValue<TPr_Time_Short>(value, aProperty) : NumberValue<TPr_Time>(value, aProperty);
      break;
    case pkByte:
      isShort ? NumberValue<TPr_Byte_Short>(value, aProperty) : NumberValue<TPr_Byte>(value, aProperty);
      break;
    case pkSmallInt:
      isShort ? NumberValue<TPr_SmallInt_Short>(value, aProperty) : NumberValue<TPr_SmallInt>(value, aProperty);
      break;
    case pkLongInt:
      isShort ? NumberValue<TPr_LongInt_Short>(value, aProperty) : NumberValue<TPr_LongInt>(value, aProperty);
      break;
    case pkSingle:
      isShort ? NumberValue<TPr_Single_Short>(value, aProperty) : NumberValue<TPr_Single>(value, aProperty);
      break;
    case pkDouble:
      isShort ? NumberValue<TPr_Double_Short>(value, aProperty) : NumberValue<TPr_Double>(value, aProperty);
      break;
    case pkMoney:
      isShort ? NumberValue<TPr_Money_Short>(value, aProperty) : NumberValue<TPr_Money>(value, aProperty);
      break;
    case pkCardinal:
      isShort ? NumberValue<TPr_Cardinal_Short>(value, aProperty) : NumberValue<TPr_Cardinal>(value, aProperty);
      break;
    case pkDateTime:
      if (isShort) {
        NumberValue<TPr_DateTime_Short>(value, aProperty);
      } else {
        NumberValue<TPr_DateTime>(value, aProperty);
        value["dateTimeTyp"] = static_cast<const TPr_DateTime&>(aProperty).DateTimeTyp;
      }
      break;
    case pkBoolean:
      value["value"] = isShort ? static_cast<const TPr_Boolean_Short&>(aProperty).Value_Boolean
                               : static_cast<const TPr_Boolean&>(aProperty).Value_Boolean;
      break;
    case pkCondition:
      if (isShort) {
        value["value"] = static_cast<const TPr_Condition_Short&>(aProperty).Value_Condition;
      } else {
        const auto& condition = static_cast<const TPr_Condition&>(aProperty);
        value["value"] = condition.Value_Condition;
        value["conditionTyp"] = condition.ConditionTyp;
        value["conditionFormat"] = condition.ConditionFormat;
      }
      break;
    case pkImage:
      if (isShort) {
        value["picture"] = PictureJson(static_cast<const TPr_Image_Short&>(aProperty).Value_Image);
      } else {
        const auto& image = static_cast<const TPr_Image&>(aProperty);
        value["picture"] = PictureJson(image.Value_Image);
        value["formatDef"] = image.FormatDef;
        value["maxWidth"] = image.MaxWidth;
        value["maxHeight"] = image.MaxHeight;
      }
      break;
    case pkStream: {
      const auto& bytes = isShort ? static_cast<const TPr_Stream_Short&>(aProperty).Value_Stream
                                  : static_cast<const TPr_Stream&>(aProperty).Value_Stream;
      value["bytes"] = bytes ? Json(Hex(*bytes)) : Json(nullptr);
      break;
    }
    case pkChoose:
      if (isShort) {
        value["valueIds"] = IntList(static_cast<const TPr_Choose_Short&>(aProperty).ValueIDList);
      } else {
        const auto& choose = static_cast<const TPr_Choose&>(aProperty);
        value["chooseObjectId"] = choose.ChooseObjectID;
        value["defaultValueIds"] = IntList(choose.DefaultValueIDList);
      }
      break;
    case pkTable:
      if (isShort) {
        const auto& table = static_cast<const TPr_Table_Short&>(aProperty);
        Json rows = Json::array();
        for (const auto& row : table.Rows)
          rows.push_back({{"rowId", row->RowID},
                          {"rowHeight", row->RowHeight},
                          {"propSortOrder", row->PropSortOrder},
                          {"statusDef", row->StatusDef},
                          {"serverInfo", row->PropServerInfo},
                          {"lastUpdate", Number(row->LastUpdate.Value())},
                          {"updateNr", row->UpdateNr},
                          {"props", ShortPropsJson(*row)}});
        value["rows"] = rows;
        value["viewHeight"] = table.ViewHeight;
      } else {
        const auto& table = static_cast<const TPr_Table&>(aProperty);
        value["formatDef"] = table.FormatDef;
        value["columns"] = LongPropsJson(table.ColumnDefs);
        value["colWidth"] = IntList(table.ColWidth);
        value["colSortIndex"] = IntList(table.ColSortIndex);
        value["headerRowHeight"] = table.HeaderRowHeight;
        value["defaultColWidth"] = table.DefaultColWidth;
        value["defaultRowHeight"] = table.DefaultRowHeight;
        value["viewHeight"] = table.ViewHeight;
      }
      break;
    case pkGraphicLink:
      isShort ? GraphicValue<TPr_GraphicLink_Short>(value, aProperty) : GraphicValue<TPr_GraphicLink>(value, aProperty);
      break;
    case pkError: {
      const auto& error = static_cast<const TPr_Error&>(aProperty);
      value["fehlerNummer"] = error.FehlerNummer;
      value["schweregrad"] = error.Schweregrad;
      value["sender"] = error.Sender;
      value["fehlerObjektOrt"] = error.FehlerObjektOrt;
      value["fehlerObjektIndex"] = error.FehlerObjektIndex;
      value["fehlermeldungEinfach"] = error.FehlermeldungEinfach;
      value["fehlermeldungErweitert"] = error.FehlermeldungErweitert;
      break;
    }
    case pkMultilist:
      isShort ? MultiValue<TPr_MultiList_Short>(value, aProperty) : MultiValue<TPr_MultiList>(value, aProperty);
      break;
    default:
      break;
  }
  return value;
}

Json CommonJson(const TCustomPropertyObject& aProperty) {
  Json json = {{"kind", PropertyKindName(aProperty.PropertyKind())},
               {"id", aProperty.ID()},
               {"statusDef", aProperty.StatusDef()},
               {"serverInfo", aProperty.PropServerInfo()},
               {"lastUpdate", Number(aProperty.LastUpdate().Value())},
               {"updateNr", aProperty.UpdateNr()},
               {"propStatus", aProperty.PropStatus()}};
  if (aProperty.InternPSList())
    json["psList"] = IntTable(*aProperty.InternPSList());
  return json;
}

Json LongPropsJson(const TPropertyList& aList) {
  Json items = Json::array();
  for (int i = 0; i < aList.Count(); ++i) {
    const TPropertyObject& property = *aList.Get(i);
    Json json = CommonJson(property);
    json["name"] = property.Name();
    json["externFormatId"] = property.ExternFormatID;
    json["propSecurityValue"] = property.PropSecurityValue;
    json["propSortOrder"] = property.PropSortOrder;
    json["sourceConditionPropId"] = property.SourceConditionPropID;
    json["propertyStatus"] = property.PropertyStatus;
    json["value"] = ValueJson(property);
    items.push_back(std::move(json));
  }
  return items;
}

Json ShortPropsJson(const TPropertyList_Short& aList) {
  Json items = Json::array();
  for (int i = 0; i < aList.Count(); ++i) {
    const TPropertyObject_Short& property = *aList.Get(i);
    Json json = CommonJson(property);
    json["value"] = ValueJson(property);
    items.push_back(std::move(json));
  }
  return items;
}

Json ObjectJson(const TUniversalObject& aObject) {
  Json json = {{"name", aObject.Name()},
               {"id", aObject.ID()},
               {"id2", aObject.ID2()},
               {"typId", aObject.TypID()},
               {"parentId", aObject.ParentID()},
               {"parentId2", aObject.ParentID2()},
               {"zuordnungNr", aObject.ZuordnungNr()},
               {"statusDef", aObject.StatusDef()},
               {"serverInfo", aObject.ServerInfo()},
               {"imageIndex", aObject.ImageIndex()},
               {"selectedIndex", aObject.SelectedIndex()},
               {"lastUpdate", Number(aObject.LastUpdate().Value())},
               {"updateNr", aObject.UpdateNr()},
               {"securityValue", aObject.SecurityValue()},
               {"sortOrder", aObject.SortOrder()},
               {"objectStatus", aObject.ObjectStatus()}};
  if (aObject.Refs())
    json["refs"] = ShortPropsJson(*aObject.Refs());
  if (aObject.ChildList())
    json["children"] = ListJson(*aObject.ChildList());
  if (aObject.Props())
    json["props"] = LongPropsJson(*aObject.Props());
  if (aObject.ShortProps())
    json["shortProps"] = ShortPropsJson(*aObject.ShortProps());
  return json;
}

Json ListJson(const TUniversalList& aList) {
  Json objects = Json::array();
  for (int i = 0; i < aList.Count(); ++i)
    objects.push_back(ObjectJson(*aList.Get(i)));
  return {{"lastUpdate", Number(aList.LastUpdate().Value())},
          {"updateNr", aList.UpdateNr()},
          {"superProtection", aList.SuperProtection()},
          {"zuordnungNr", aList.ZuordnungNr()},
          {"objects", objects}};
}

// ---- reading ----

// A JSON value with its path, for error messages.
class TNode {
 public:
  TNode(const Json& aJson, std::string aPath) : fJson(aJson), fPath(std::move(aPath)) {}
  const Json& Raw() const { return fJson; }
  const std::string& Path() const { return fPath; }
  [[noreturn]] void Fail(const std::string& aWhat) const { throw std::runtime_error(fPath + ": " + aWhat); }
  bool Has(const char* aKey) const { return fJson.is_object() && fJson.contains(aKey); }
  TNode operator[](const char* aKey) const {
    if (!fJson.is_object())
      Fail("an object is expected");
    auto found = fJson.find(aKey);
    if (found == fJson.end())
      Fail(std::string("\"") + aKey + "\" is missing");
    return TNode(*found, fPath + "." + aKey);
  }
  std::vector<TNode> Items() const {
    if (!fJson.is_array())
      Fail("an array is expected");
    std::vector<TNode> items;
    for (std::size_t i = 0; i < fJson.size(); ++i)
      items.emplace_back(fJson[i], fPath + "[" + std::to_string(i) + "]");
    return items;
  }
  template <typename T>
  T Int() const {
    if (!fJson.is_number_integer())
      Fail("an integer is expected");
    if (fJson.is_number_unsigned()) {
      const auto value = fJson.get<std::uint64_t>();
      if (value > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
        Fail("the number is too large");
      return static_cast<T>(value);
    }
    const auto value = fJson.get<std::int64_t>();
    if (value < static_cast<std::int64_t>(std::numeric_limits<T>::lowest()) ||
        (value > 0 && static_cast<std::uint64_t>(value) > static_cast<std::uint64_t>(std::numeric_limits<T>::max())))
      Fail("the number is out of range");
    return static_cast<T>(value);
  }
  double Double() const {
    if (fJson.is_number())
      return fJson.get<double>();
    if (fJson.is_string()) {
      const auto& text = fJson.get_ref<const std::string&>();
      if (text == "NaN")
        return std::numeric_limits<double>::quiet_NaN();
      if (text == "Infinity")
        return std::numeric_limits<double>::infinity();
      if (text == "-Infinity")
        return -std::numeric_limits<double>::infinity();
    }
    Fail("a number is expected");
  }
  bool Bool() const {
    if (!fJson.is_boolean())
      Fail("true or false is expected");
    return fJson.get<bool>();
  }
  std::string Text() const {
    if (!fJson.is_string())
      Fail("a string is expected");
    return fJson.get<std::string>();
  }
  std::vector<std::uint8_t> Bytes() const {
    const std::string text = Text();
    if (text.size() % 2)
      Fail("hex digits come in pairs");
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto value = Platform::Text::ParseDigits(std::string_view(text).substr(2 * i, 2), 16, 0xFF);
      if (!value)
        Fail("not a hex digit");
      bytes[i] = static_cast<std::uint8_t>(*value);
    }
    return bytes;
  }
  bool IsNull() const { return fJson.is_null(); }

 private:
  const Json& fJson;
  std::string fPath;
};

template <typename T>
T Number(const TNode& aNode) {
  if constexpr (std::is_floating_point_v<T>)
    return static_cast<T>(aNode.Double());
  else
    return aNode.Int<T>();
}

void ReadIntList(const TNode& aNode, TIntegerList& aList) {
  aList.Clear();
  for (const auto& item : aNode.Items())
    aList.NewItem(item.Int<std::int32_t>());
}

template <typename TTable, typename T>
std::unique_ptr<TTable> ReadTable(const TNode& aNode) {
  auto table = std::make_unique<TTable>(aNode["cols"].Int<std::int32_t>());
  table->SetSorted(aNode["sorted"].Bool());
  table->SetDuplicates(aNode["duplicates"].Bool());
  for (const auto& row : aNode["rows"].Items()) {
    std::vector<T> values;
    for (const auto& value : row.Items())
      values.push_back(Number<T>(value));
    if (values.size() != static_cast<std::size_t>(table->ColCount()))
      row.Fail("the row has the wrong length");
    table->NewItem(values);
  }
  return table;
}

std::unique_ptr<TUniversalList> ReadList(const TNode& aNode, TUniversalObject* aParent);
void ReadLongProps(const TNode& aNode, TPropertyList& aList);
void ReadShortProps(const TNode& aNode, TPropertyList_Short& aList);
void FillList(const TNode& aNode, TUniversalList& aList);

std::uint8_t KindByName(const TNode& aNode) {
  const std::string name = aNode.Text();
  for (int kind = 0; kind < kPropertyKindCount; ++kind)
    if (!name.empty() && PropertyKindName(static_cast<std::uint8_t>(kind)) == name)
      return static_cast<std::uint8_t>(kind);
  aNode.Fail("unknown property kind \"" + name + "\"");
}

template <typename TProp>
void ReadNumber(const TNode& aValue, TCustomPropertyObject& aProperty) {
  auto& number = static_cast<TProp&>(aProperty);
  using T = typename TProp::ValueType;
  if constexpr (requires { number.MinValue(); }) {
    number.UnitDefID = aValue["unitDefId"].Int<std::int32_t>();
    number.FormatDef = aValue["formatDef"].Int<std::int32_t>();
    number.SetRawValues(Number<T>(aValue["value"]), Number<T>(aValue["min"]), Number<T>(aValue["max"]));
  } else {
    number.SetValue(Number<T>(aValue["value"]));
  }
}

template <typename TProp>
void ReadText(const TNode& aValue, TCustomPropertyObject& aProperty) {
  auto& text = static_cast<TProp&>(aProperty);
  text.Value_Text = aValue["text"].Text();
  text.ViewHeight = aValue["viewHeight"].Int<std::int16_t>();
}

template <typename TProp>
void ReadLink(const TNode& aValue, TCustomPropertyObject& aProperty) {
  ReadText<TProp>(aValue, aProperty);
  auto& link = static_cast<TProp&>(aProperty);
  link.LinkTyp = aValue["linkTyp"].Int<std::uint8_t>();
  link.DocumentID = aValue["documentId"].Int<std::int32_t>();
  link.DocumentID2 = aValue["documentId2"].Int<std::int32_t>();
}

std::optional<TPicture> ReadPicture(const TNode& aNode) {
  if (aNode.IsNull())
    return std::nullopt;
  TPicture picture;
  picture.PictureType = static_cast<TPictureType>(aNode["type"].Int<std::uint8_t>());
  picture.Bytes = aNode["bytes"].Bytes();
  return picture;
}

template <typename TProp>
void ReadGraphic(const TNode& aValue, TCustomPropertyObject& aProperty) {
  auto& graphic = static_cast<TProp&>(aProperty);
  graphic.ZeichnungsID = aValue["zeichnungsId"].Int<std::int32_t>();
  graphic.LinkPropertyPageID = aValue["linkPropertyPageId"].Int<std::int32_t>();
  graphic.Priority = aValue["priority"].Int<std::uint8_t>();
  graphic.GraphicTyp = aValue["graphicTyp"].Int<std::uint8_t>();
  graphic.ZeichnungsPriority = aValue["zeichnungsPriority"].Int<std::uint8_t>();
  graphic.PrefValue1 = aValue["prefValue1"].Int<std::int32_t>();
  graphic.GraphicStatus = aValue["graphicStatus"].Int<std::uint8_t>();
  ReadIntList(aValue["constructionIds"], graphic.ConstructionIDList);
}

template <typename TProp>
void ReadMulti(const TNode& aValue, TCustomPropertyObject& aProperty) {
  auto& multi = static_cast<TProp&>(aProperty);
  if (aValue.Has("uniList"))
    multi.Value_UniList = ReadList(aValue["uniList"], nullptr);
  if (aValue.Has("integerList")) {
    multi.Value_IntegerList = std::make_unique<TIntegerList>();
    ReadIntList(aValue["integerList"], *multi.Value_IntegerList);
  }
  if (aValue.Has("integerList2D"))
    multi.Value_IntegerList2D = ReadTable<TIntegerList2D, std::int32_t>(aValue["integerList2D"]);
  if (aValue.Has("doubleList")) {
    multi.Value_DoubleList = std::make_unique<TDoubleList>();
    for (const auto& item : aValue["doubleList"].Items())
      multi.Value_DoubleList->NewItem(item.Double());
  }
  if (aValue.Has("doubleList2D"))
    multi.Value_DoubleList2D = ReadTable<TDoubleList2D, double>(aValue["doubleList2D"]);
  if (aValue.Has("integerDoubleList")) {
    multi.Value_IntegerDoubleList = std::make_unique<TIntegerDoubleList>();
    for (const auto& pair : aValue["integerDoubleList"].Items()) {
      const auto parts = pair.Items();
      if (parts.size() != 2)
        pair.Fail("a pair [integer, number] is expected");
      multi.Value_IntegerDoubleList->NewItem(parts[0].Int<std::int32_t>(), parts[1].Double());
    }
  }
}

void ReadValue(const TNode& aValue, TCustomPropertyObject& aProperty) {
  const bool isShort = aProperty.IsShort();
  switch (aProperty.PropertyKind()) {
    case pkText:
      isShort ? ReadText<TPr_Text_Short>(aValue, aProperty) : ReadText<TPr_Text>(aValue, aProperty);
      break;
    case pkChar5:
    case pkChar10:
    case pkChar20:
    case pkChar35:
    case pkChar50:
    case pkChar75:
    case pkChar100:
      if (isShort) {
        ReadText<TPr_CharN_Short>(aValue, aProperty);
        static_cast<TPr_CharN_Short&>(aProperty).CharCount = aValue["charCount"].Int<std::int32_t>();
      } else {
        ReadText<TPr_CharN>(aValue, aProperty);
        static_cast<TPr_CharN&>(aProperty).CharCount = aValue["charCount"].Int<std::int32_t>();
      }
      break;
    case pkLink:
      isShort ? ReadLink<TPr_Link_Short>(aValue, aProperty) : ReadLink<TPr_Link>(aValue, aProperty);
      break;
    case pkDate:
      isShort ? ReadNumber<TPr_Date_Short>(aValue, aProperty) : ReadNumber<TPr_Date>(aValue, aProperty);
      break;
    case pkTime:
      isShort ? ReadNumber<TPr_Time_Short>(aValue, aProperty) : ReadNumber<TPr_Time>(aValue, aProperty);
      break;
    case pkByte:
      isShort ? ReadNumber<TPr_Byte_Short>(aValue, aProperty) : ReadNumber<TPr_Byte>(aValue, aProperty);
      break;
    case pkSmallInt:
      isShort ? ReadNumber<TPr_SmallInt_Short>(aValue, aProperty) : ReadNumber<TPr_SmallInt>(aValue, aProperty);
      break;
    case pkLongInt:
      isShort ? ReadNumber<TPr_LongInt_Short>(aValue, aProperty) : ReadNumber<TPr_LongInt>(aValue, aProperty);
      break;
    case pkSingle:
      isShort ? ReadNumber<TPr_Single_Short>(aValue, aProperty) : ReadNumber<TPr_Single>(aValue, aProperty);
      break;
    case pkDouble:
      isShort ? ReadNumber<TPr_Double_Short>(aValue, aProperty) : ReadNumber<TPr_Double>(aValue, aProperty);
      break;
    case pkMoney:
      isShort ? ReadNumber<TPr_Money_Short>(aValue, aProperty) : ReadNumber<TPr_Money>(aValue, aProperty);
      break;
    case pkCardinal:
      isShort ? ReadNumber<TPr_Cardinal_Short>(aValue, aProperty) : ReadNumber<TPr_Cardinal>(aValue, aProperty);
      break;
    case pkDateTime:
      if (isShort) {
        ReadNumber<TPr_DateTime_Short>(aValue, aProperty);
      } else {
        ReadNumber<TPr_DateTime>(aValue, aProperty);
        static_cast<TPr_DateTime&>(aProperty).DateTimeTyp = aValue["dateTimeTyp"].Int<std::uint8_t>();
      }
      break;
    case pkBoolean:
      if (isShort)
        static_cast<TPr_Boolean_Short&>(aProperty).Value_Boolean = aValue["value"].Bool();
      else
        static_cast<TPr_Boolean&>(aProperty).Value_Boolean = aValue["value"].Bool();
      break;
    case pkCondition:
      if (isShort) {
        static_cast<TPr_Condition_Short&>(aProperty).Value_Condition = aValue["value"].Int<std::uint8_t>();
      } else {
        auto& condition = static_cast<TPr_Condition&>(aProperty);
        condition.Value_Condition = aValue["value"].Int<std::uint8_t>();
        condition.ConditionTyp = aValue["conditionTyp"].Int<std::uint8_t>();
        condition.ConditionFormat = aValue["conditionFormat"].Int<std::int32_t>();
      }
      break;
    case pkImage:
      if (isShort) {
        static_cast<TPr_Image_Short&>(aProperty).Value_Image = ReadPicture(aValue["picture"]);
      } else {
        auto& image = static_cast<TPr_Image&>(aProperty);
        image.Value_Image = ReadPicture(aValue["picture"]);
        image.FormatDef = aValue["formatDef"].Int<std::int32_t>();
        image.MaxWidth = aValue["maxWidth"].Int<std::int16_t>();
        image.MaxHeight = aValue["maxHeight"].Int<std::int16_t>();
      }
      break;
    case pkStream: {
      const TNode bytes = aValue["bytes"];
      auto& target = isShort ? static_cast<TPr_Stream_Short&>(aProperty).Value_Stream
                             : static_cast<TPr_Stream&>(aProperty).Value_Stream;
      if (bytes.IsNull())
        target.reset();
      else
        target = bytes.Bytes();
      break;
    }
    case pkChoose:
      if (isShort) {
        ReadIntList(aValue["valueIds"], static_cast<TPr_Choose_Short&>(aProperty).ValueIDList);
      } else {
        auto& choose = static_cast<TPr_Choose&>(aProperty);
        choose.ChooseObjectID = aValue["chooseObjectId"].Int<std::int32_t>();
        ReadIntList(aValue["defaultValueIds"], choose.DefaultValueIDList);
      }
      break;
    case pkTable:
      if (isShort) {
        auto& table = static_cast<TPr_Table_Short&>(aProperty);
        for (const auto& rowNode : aValue["rows"].Items()) {
          auto& row = table.NewRow();
          row.RowID = rowNode["rowId"].Int<std::int32_t>();
          row.RowHeight = rowNode["rowHeight"].Int<std::int32_t>();
          row.PropSortOrder = rowNode["propSortOrder"].Int<std::int16_t>();
          row.StatusDef = rowNode["statusDef"].Int<std::uint8_t>();
          row.PropServerInfo = static_cast<TServerInfo>(rowNode["serverInfo"].Int<std::uint8_t>());
          row.LastUpdate = Platform::TDateTime(rowNode["lastUpdate"].Double());
          row.UpdateNr = rowNode["updateNr"].Int<std::int16_t>();
          ReadShortProps(rowNode["props"], row);
        }
        table.ViewHeight = aValue["viewHeight"].Int<std::int16_t>();
      } else {
        auto& table = static_cast<TPr_Table&>(aProperty);
        table.FormatDef = aValue["formatDef"].Int<std::int32_t>();
        ReadLongProps(aValue["columns"], table.ColumnDefs);
        ReadIntList(aValue["colWidth"], table.ColWidth);
        ReadIntList(aValue["colSortIndex"], table.ColSortIndex);
        table.HeaderRowHeight = aValue["headerRowHeight"].Int<std::int32_t>();
        table.DefaultColWidth = aValue["defaultColWidth"].Int<std::int32_t>();
        table.DefaultRowHeight = aValue["defaultRowHeight"].Int<std::int32_t>();
        table.ViewHeight = aValue["viewHeight"].Int<std::int16_t>();
      }
      break;
    case pkGraphicLink:
      isShort ? ReadGraphic<TPr_GraphicLink_Short>(aValue, aProperty) : ReadGraphic<TPr_GraphicLink>(aValue, aProperty);
      break;
    case pkError: {
      auto& error = static_cast<TPr_Error&>(aProperty);
      error.FehlerNummer = aValue["fehlerNummer"].Int<std::int32_t>();
      error.Schweregrad = aValue["schweregrad"].Int<std::uint8_t>();
      error.Sender = aValue["sender"].Text();
      error.FehlerObjektOrt = aValue["fehlerObjektOrt"].Int<std::uint8_t>();
      error.FehlerObjektIndex = aValue["fehlerObjektIndex"].Int<std::int32_t>();
      error.FehlermeldungEinfach = aValue["fehlermeldungEinfach"].Text();
      error.FehlermeldungErweitert = aValue["fehlermeldungErweitert"].Text();
      break;
    }
    case pkMultilist:
      isShort ? ReadMulti<TPr_MultiList_Short>(aValue, aProperty) : ReadMulti<TPr_MultiList>(aValue, aProperty);
      break;
    default:
      break;
  }
}

// The common fields; the status last, because setting the ID marks a property changed.
void ReadCommon(const TNode& aNode, TCustomPropertyObject& aProperty) {
  aProperty.SetID(aNode["id"].Int<std::int32_t>());
  aProperty.SetPropServerInfo(static_cast<TServerInfo>(aNode["serverInfo"].Int<std::uint8_t>()));
  aProperty.SetLastUpdate(Platform::TDateTime(aNode["lastUpdate"].Double()));
  aProperty.SetUpdateNr(aNode["updateNr"].Int<std::int16_t>());
  aProperty.SetPropStatus(aNode["propStatus"].Int<std::uint32_t>());
  if (aNode.Has("psList")) {
    auto table = ReadTable<TIntegerList2D, std::int32_t>(aNode["psList"]);
    aProperty.PrepareInternPSList(table->ColCount()).Assign(*table);
  }
  ReadValue(aNode["value"], aProperty);
  aProperty.SetStatusDef(aNode["statusDef"].Int<std::uint8_t>());
}

void ReadLongProps(const TNode& aNode, TPropertyList& aList) {
  aList.Clear();
  for (const auto& item : aNode.Items()) {
    std::string error;
    auto property = CreateLongProperty(KindByName(item["kind"]), error);
    if (!property)
      item.Fail(error);
    property->SetName(item["name"].Text());
    property->ExternFormatID = item["externFormatId"].Int<std::int32_t>();
    property->PropSecurityValue = item["propSecurityValue"].Int<std::uint32_t>();
    property->PropSortOrder = item["propSortOrder"].Int<std::int16_t>();
    property->SourceConditionPropID = item["sourceConditionPropId"].Int<std::int32_t>();
    property->PropertyStatus = item["propertyStatus"].Int<std::uint32_t>();
    auto* added = aList.Add(std::move(property));
    ReadCommon(item, *added);
  }
}

void ReadShortProps(const TNode& aNode, TPropertyList_Short& aList) {
  aList.Clear();
  for (const auto& item : aNode.Items()) {
    std::string error;
    auto property = CreateShortProperty(KindByName(item["kind"]), error);
    if (!property)
      item.Fail(error);
    auto* added = aList.Add(std::move(property));
    ReadCommon(item, *added);
  }
}

void ReadObject(const TNode& aNode, TUniversalList& aList) {
  auto* object = aList.NewItem(aNode["id"].Int<std::int32_t>(), aNode["id2"].Int<std::uint8_t>(),
                               aNode["typId"].Int<std::int32_t>(), aNode["name"].Text());
  object->SetParentIDs(aNode["parentId"].Int<std::int32_t>(), aNode["parentId2"].Int<std::uint8_t>());
  object->SetZuordnungNr(aNode["zuordnungNr"].Int<std::int32_t>());
  object->SetServerInfo(static_cast<TServerInfo>(aNode["serverInfo"].Int<std::uint8_t>()));
  object->SetImageIndex(aNode["imageIndex"].Int<std::int16_t>());
  object->SetSelectedIndex(aNode["selectedIndex"].Int<std::int16_t>());
  object->SetLastUpdate(Platform::TDateTime(aNode["lastUpdate"].Double()));
  object->SetUpdateNr(aNode["updateNr"].Int<std::int16_t>());
  object->SetSecurityValue(aNode["securityValue"].Int<std::uint32_t>());
  object->SetSortOrder(aNode["sortOrder"].Int<std::int32_t>());
  object->SetObjectStatus(aNode["objectStatus"].Int<std::uint32_t>());
  if (aNode.Has("refs"))
    ReadShortProps(aNode["refs"], object->PrepareRefList());
  if (aNode.Has("children"))
    FillList(aNode["children"], object->PrepareChildList());
  if (aNode.Has("props"))
    ReadLongProps(aNode["props"], object->PreparePropertyList());
  if (aNode.Has("shortProps"))
    ReadShortProps(aNode["shortProps"], object->PreparePropertyListShort());
  object->SetStatusDef(aNode["statusDef"].Int<std::uint32_t>());
}

void FillList(const TNode& aNode, TUniversalList& aList) {
  for (const auto& object : aNode["objects"].Items())
    ReadObject(object, aList);
  aList.SetLastUpdate(Platform::TDateTime(aNode["lastUpdate"].Double()));
  aList.SetUpdateNr(aNode["updateNr"].Int<std::int16_t>());
  aList.SetSuperProtection(aNode["superProtection"].Int<std::uint8_t>());
  aList.SetZuordnungNr(aNode["zuordnungNr"].Int<std::int32_t>());
}

std::unique_ptr<TUniversalList> ReadList(const TNode& aNode, TUniversalObject* aParent) {
  auto list = std::make_unique<TUniversalList>(aParent);
  FillList(aNode, *list);
  return list;
}

}  // namespace

Json ToJson(const TUniversalList& aList) {
  return {{"format", "quorvane-unilist"}, {"formatVersion", 1}, {"list", ListJson(aList)}};
}

std::unique_ptr<TUniversalList> FromJson(const Json& aJson) {
  const TNode root(aJson, "$");
  if (root["format"].Text() != "quorvane-unilist")
    root["format"].Fail("\"quorvane-unilist\" is expected");
  if (root["formatVersion"].Int<int>() != 1)
    root["formatVersion"].Fail("only form 1 is known");
  return ReadList(root["list"], nullptr);
}

}  // namespace UniListTool
