#include "common/persist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/persist_json.h"

namespace PersistTestTypes {

using namespace Update::Common;

enum TColour : std::uint8_t { clRed, clGreen, clBlue };
QV_PERSIST_ENUM(TColour, "Test.TColour", clRed, clGreen, clBlue)

enum class TLetter { a, b, c, d };
QV_PERSIST_ENUM(TLetter, "Test.TLetter", a, b, c, d)

struct TInner {
  std::string Name;
  double Value = 0;
  static void Describe(TPersistDescriber<TInner>& d) {
    d.Record("Test.TInner");
    d.Field("Name", &TInner::Name);
    d.Field("Value", &TInner::Value);
  }
  friend bool operator==(const TInner&, const TInner&) = default;
};

struct TRecord {
  bool Flag = true;  // default initialisers do not survive a record load
  std::int32_t Count = 7;
  std::int64_t Big = 0;
  double Ratio = 0;
  char Letter = 0;
  std::string Text;
  TColour Colour = clBlue;
  TSet<TLetter> Letters;
  Platform::TDateTime When;
  TDate Day;
  TTime At;
  std::vector<std::uint8_t> Bytes;
  std::vector<std::int32_t> Numbers;
  std::array<TInner, 2> Pair;
  TInner Inner;
  std::string Secret;
  Platform::TGUID Id;

  static void Describe(TPersistDescriber<TRecord>& d) {
    d.Record("Test.TRecord");
    d.Field("Flag", &TRecord::Flag);
    d.Field("Count", &TRecord::Count);
    d.Field("Big", &TRecord::Big);
    d.Field("Ratio", &TRecord::Ratio);
    d.Field("Letter", &TRecord::Letter);
    d.Field("Text", &TRecord::Text);
    d.Field("Colour", &TRecord::Colour);
    d.Field("Letters", &TRecord::Letters);
    d.Field("When", &TRecord::When);
    d.Field("Day", &TRecord::Day);
    d.Field("At", &TRecord::At);
    d.Field("Bytes", &TRecord::Bytes);
    d.Field("Numbers", &TRecord::Numbers);
    d.Field("Pair", &TRecord::Pair);
    d.Field("Inner", &TRecord::Inner);
    d.Field("Secret", &TRecord::Secret).DoNotPersist();
    d.Field("Id", &TRecord::Id);
  }
};

class TChild {
 public:
  virtual ~TChild() = default;
  std::string fName;
  TChild* fPeer = nullptr;
  static void Describe(TPersistDescriber<TChild>& d) {
    d.Class("Test.TChild");
    d.Field("fName", &TChild::fName);
    d.Field("fPeer", &TChild::fPeer);
  }
};

class TSpecialChild : public TChild {
 public:
  std::int32_t fLevel = 0;
  static void Describe(TPersistDescriber<TSpecialChild>& d) {
    d.Class("Test.TSpecialChild");
    d.Base<TChild>();
    d.Field("fLevel", &TSpecialChild::fLevel);
  }
};

class TOwner {
 public:
  std::string fTitle;
  TColour fColour = clRed;
  double fRate = 0;
  std::unique_ptr<TChild> fChild;
  std::unique_ptr<TChild> fMarked;
  TPersistList<std::int32_t> fNumbers;
  TPersistObjectList<TChild> fChildren;
  std::int32_t fHidden = 0;
  std::map<int, int> fUnmappable;

  std::int32_t GetLength() const { return static_cast<std::int32_t>(fTitle.size()); }

  static void Describe(TPersistDescriber<TOwner>& d) {
    d.Class("Test.TOwner");
    d.Field("fTitle", &TOwner::fTitle);
    d.Field("fColour", &TOwner::fColour);
    d.Field("fRate", &TOwner::fRate);
    d.Field("fChild", &TOwner::fChild);
    d.Field("fMarked", &TOwner::fMarked).Persist("marked").PersistInstance(TPersistInstanceOptions(picCreateIfNil));
    d.Field("fNumbers", &TOwner::fNumbers);
    d.Field("fChildren", &TOwner::fChildren);
    d.Field("fHidden", &TOwner::fHidden).DoNotPersist();
    d.Field("fUnmappable", &TOwner::fUnmappable);
    d.Property("Length", &TOwner::GetLength);
  }
};

}  // namespace PersistTestTypes

namespace {

using namespace Update::Common;
using namespace PersistTestTypes;
using Platform::TDateTime;

std::string Compact(const TPersistValue* aNode) {
  return TPersist_Json::PersistObject_SaveToJsonString(aNode, SaveOptions_Compact);
}

TPersistValue_Object* Parse(TPersist& aPersist, std::string_view aText) {
  TPersistValue_Object* tree = nullptr;
  EXPECT_TRUE(TPersist_Json::PersistObject_LoadFromJsonString(aText, aPersist, tree)) << aText;
  return tree;
}

TEST(PersistRecordTest, SavesEveryKindAndReadsItBack) {
  TRecord record;
  record.Big = 9007199254740993;  // 15 significant digits in the text
  record.Ratio = std::numeric_limits<double>::quiet_NaN();
  record.Letter = 'q';
  record.Text = "t\xC3\xA4";
  record.Colour = clGreen;
  record.Letters = {TLetter::a, TLetter::c};
  record.When = TDateTime::Encode(2026, 2, 3, 4, 5, 6, 7);
  record.Day = TDateTime::Encode(2026, 2, 3);
  record.At = TDateTime::EncodeTime(13, 14, 15, 16);
  record.Bytes = {1, 2, 3};
  record.Numbers = {5, -6};
  record.Pair[1] = {"p", 0.5};
  record.Inner = {"in", 2.5};
  record.Secret = "never";
  record.Id = Platform::TGUID::Parse("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  const std::string text = TPersist_Json::Record_SaveToJsonString(record, SaveOptions_Compact);
  EXPECT_EQ(
      text,
      "{\"Flag\":true,\"Count\":7,\"Big\":9.00719925474099E15,\"Ratio\":null,\"Letter\":\"q\",\"Text\":\"t\xC3\xA4\","
      "\"Colour\":\"clGreen\",\"Letters\":\"[a,c]\",\"When\":\"2026-02-03 04:05:06.007\",\"Day\":\"2026-02-03\","
      "\"At\":\"13:14:15.016\",\"Bytes\":\"data:;base64,AQID\",\"Numbers\":[5,-6],"
      "\"Pair\":[{\"Name\":\"\",\"Value\":0},{\"Name\":\"p\",\"Value\":0.5}],"
      "\"Inner\":{\"Name\":\"in\",\"Value\":2.5},\"Id\":\"{01234567-89AB-CDEF-0123-456789ABCDEF}\"}");

  TRecord loaded;
  loaded.Secret = "kept";
  ASSERT_TRUE(TPersist_Json::Record_LoadFromJsonString(text, loaded));
  EXPECT_EQ(loaded.Big, 9007199254740990);
  EXPECT_EQ(loaded.Ratio, 0) << "null read into a double gives 0";
  EXPECT_EQ(loaded.Letter, 'q');
  EXPECT_EQ(loaded.Text, record.Text);
  EXPECT_EQ(loaded.Colour, clGreen);
  EXPECT_EQ(loaded.Letters, record.Letters);
  EXPECT_EQ(loaded.When, record.When);
  EXPECT_EQ(loaded.Day, record.Day);
  EXPECT_NEAR(loaded.At.Value(), record.At.Value(), 1e-9);
  EXPECT_EQ(loaded.Bytes, record.Bytes);
  EXPECT_EQ(loaded.Numbers, record.Numbers);
  EXPECT_EQ(loaded.Pair, record.Pair);
  EXPECT_EQ(loaded.Inner, record.Inner);
  EXPECT_EQ(loaded.Id, record.Id);
  EXPECT_EQ(loaded.Secret, "") << "not saved, and a loaded record starts from zero";
}

TEST(PersistRecordTest, LoadReplacesTheWholeRecordWithZeroValues) {
  TRecord loaded;
  loaded.Text = "old";
  loaded.Numbers = {1, 2, 3};
  ASSERT_TRUE(
      TPersist_Json::Record_LoadFromJsonString(R"({"Count":"12","Colour":"clPurple","Letters":"[a,x]"})", loaded));
  EXPECT_FALSE(loaded.Flag) << "missing member: zero, not the default initialiser";
  EXPECT_EQ(loaded.Count, 0) << "a text is no number without AllowLoadFromUntyped";
  EXPECT_EQ(loaded.Colour, clRed) << "unknown name: first value";
  EXPECT_TRUE(loaded.Letters.IsEmpty());
  EXPECT_EQ(loaded.Text, "");
  EXPECT_TRUE(loaded.Numbers.empty());
  ASSERT_TRUE(TPersist_Json::Record_LoadFromJsonString(R"({"Pair":[{"Name":"only"},7]})", loaded));
  EXPECT_EQ(loaded.Pair[0], (TInner{"only", 0}));
  EXPECT_EQ(loaded.Pair[1], TInner{}) << "a static array element that cannot be read is zero";

  TRecord untouched;
  untouched.Count = 99;
  EXPECT_FALSE(TPersist_Json::Record_LoadFromJsonString("[1]", untouched));
  EXPECT_FALSE(TPersist_Json::Record_LoadFromJsonString("", untouched));
  EXPECT_EQ(untouched.Count, 99);
}

TEST(PersistRecordTest, ScalarConversions) {
  TPersist persist;
  const struct {
    const char* Json;
    std::optional<std::int32_t> Integer;
    std::optional<double> Float;
  } cases[] = {
      {"2.9", 2, 2.9},
      {"-2.9", -2, -2.9},
      {"null", std::nullopt, std::nullopt},
      {"1e10", std::nullopt, 1e10},  // out of the Integer range: no value, never undefined behaviour
      {"true", std::nullopt, std::nullopt},
      {"\"3\"", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    auto* tree = Parse(persist, std::string("{\"v\":") + c.Json + "}");
    EXPECT_EQ(persist.ToInteger(tree->Get_Value("v")), c.Integer) << c.Json;
    EXPECT_EQ(persist.ToFloat(tree->Get_Value("v")), c.Float) << c.Json;
  }
  persist.Options.AllowLoadFromUntyped = true;
  auto* tree = Parse(persist, R"({"n":" 42.5","b":"TRUE","e":"2","d":"2026-01-02"})");
  EXPECT_EQ(persist.ToInteger(tree->Get_Value("n")), 42);
  EXPECT_EQ(persist.ToBoolean(tree->Get_Value("b")), true);
  EXPECT_EQ(persist.ToEnumeration(tree->Get_Value("e"), PersistEnumInfoOf<TColour>()), 2);
  EXPECT_EQ(persist.ToValue<TDate>(tree->Get_Value("d")), TDate(TDateTime::Encode(2026, 1, 2)));
}

TEST(PersistRecordTest, EnumerationsAsNamesOrdinalsAliasesAndMappings) {
  TPersist persist;
  EXPECT_EQ(Compact(persist.FromValue(clBlue).get()), "\"clBlue\"");
  persist.Options.PersistEnumAsString = false;
  EXPECT_EQ(Compact(persist.FromValue(clBlue).get()), "2");
  persist.Options.PersistEnumAsString = true;
  persist.Register_EnumAlias("Test.TColour", "clBlue", "blue");
  EXPECT_EQ(Compact(persist.FromValue(clBlue).get()), "\"blue\"");
  persist.Register_EnumMapping("Test.TColour", "clCyan", "clGreen");
  persist.Register_EnumMapping("Test.TColour", "7", "clBlue");
  auto* tree = Parse(persist, R"({"alias":"blue","old":"clCyan","num":1,"oldnum":7,"bad":9,"frac":1.5})");
  const auto& names = PersistEnumInfoOf<TColour>();
  EXPECT_EQ(persist.ToEnumeration(tree->Get_Value("alias"), names), clBlue);
  EXPECT_EQ(persist.ToEnumeration(tree->Get_Value("old"), names), clGreen);
  EXPECT_EQ(persist.ToEnumeration(tree->Get_Value("num"), names), clGreen);
  EXPECT_EQ(persist.ToEnumeration(tree->Get_Value("oldnum"), names), clBlue);
  EXPECT_EQ(persist.ToEnumeration(tree->Get_Value("bad"), names), std::nullopt);
  EXPECT_EQ(persist.ToEnumeration(tree->Get_Value("frac"), names), std::nullopt);
  persist.Options.Diag_EnumConvertError = true;
  try {
    persist.ToEnumeration(tree->Get_Value("bad"), names);
    FAIL() << "expected EConvertError";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "TPersist.ToEnumerationDirect: Invalid value 9 for Test.TColour");
  }
}

TEST(PersistRecordTest, SetsAsTextOrArray) {
  TPersist persist;
  EXPECT_EQ(Compact(persist.FromValue(TSet<TLetter>{TLetter::a, TLetter::c}).get()), "\"[a,c]\"");
  EXPECT_EQ(Compact(persist.FromValue(TSet<TLetter>{}).get()), "\"[]\"");
  persist.Options.PersistSetAsArray = true;
  EXPECT_EQ(Compact(persist.FromValue(TSet<TLetter>{TLetter::b, TLetter::d}).get()), R"(["b","d"])");
  auto* tree = Parse(persist, R"({"t":"[ b , d ]","a":["a"],"e":"[]","bad":"[a,z]","nobracket":"a"})");
  EXPECT_EQ(persist.ToValue<TSet<TLetter>>(tree->Get_Value("t")), (TSet<TLetter>{TLetter::b, TLetter::d}));
  EXPECT_EQ(persist.ToValue<TSet<TLetter>>(tree->Get_Value("a")), TSet<TLetter>{TLetter::a});
  EXPECT_EQ(persist.ToValue<TSet<TLetter>>(tree->Get_Value("e")), TSet<TLetter>{});
  EXPECT_EQ(persist.ToValue<TSet<TLetter>>(tree->Get_Value("bad")), std::nullopt);
  EXPECT_EQ(persist.ToValue<TSet<TLetter>>(tree->Get_Value("nobracket")), std::nullopt);
  persist.Options.Diag_EnumConvertError = true;
  EXPECT_THROW(persist.ToValue<TSet<TLetter>>(tree->Get_Value("bad")), EConvertError);
}

TEST(PersistRecordTest, StringTargetsTakeOnlyStrings) {
  TPersist persist;
  auto* tree = Parse(persist, R"({"bin":"data:;base64,AAE=","num":1,"s":"x"})");
  EXPECT_EQ(persist.ToString_(tree->Get_Value("bin")), std::nullopt) << "a binary node yields nothing";
  EXPECT_EQ(persist.ToString_(tree->Get_Value("num")), std::nullopt);
  EXPECT_EQ(persist.ToString_(tree->Get_Value("s")), "x");
  EXPECT_EQ(persist.ToValue<char>(tree->Get_Value("s")), 'x');
}

TEST(PersistObjectTest, SaveOptionsWriteDeclaredFieldsAndSkipClassMembers) {
  TOwner owner;
  owner.fTitle = "T";
  owner.fColour = clBlue;
  owner.fRate = 1.25;
  owner.fChild = std::make_unique<TChild>();
  owner.fChild->fName = "kid";
  owner.fNumbers.Add(1);
  owner.fHidden = 5;
  EXPECT_EQ(TPersist_Json::Object_SaveToJsonString(owner, InstanceOptions_Save, SaveOptions_Compact),
            R"({"fTitle":"T","fColour":"clBlue","fRate":1.25,"marked":null})")
      << "class members only when marked Persist; a nil reference as null; unmappable types skipped";
}

TEST(PersistObjectTest, NestedInstancesListsAndProperties) {
  RegisterPersistClass<TSpecialChild>();
  TOwner owner;
  owner.fTitle = "abc";
  owner.fChild = std::make_unique<TChild>();
  owner.fChild->fName = "kid";
  auto special = std::make_unique<TSpecialChild>();
  special->fName = "s";
  special->fLevel = 3;
  owner.fMarked = std::move(special);
  owner.fNumbers.Add(1);
  owner.fNumbers.Add(2);
  owner.fChildren.New()->fName = "c1";
  const TPersistInstanceOptions options{pidFields, pinIncludedNestedInstances, picCreateIfNil, pitSaveTypeInObjectList};
  const std::string text = TPersist_Json::Object_SaveToJsonString(owner, options, SaveOptions_Compact);
  EXPECT_EQ(text, R"({"fTitle":"abc","fColour":"clRed","fRate":0,"fChild":{"fName":"kid","fPeer":null},)"
                  R"("marked":{"fName":"s","fPeer":null,"fLevel":3},"fNumbers":{"@Items":[1,2]},)"
                  R"("fChildren":{"@Items":[{"@Type":"Test.TChild","fName":"c1","fPeer":null}]}})");

  TOwner loaded;
  ASSERT_TRUE(TPersist_Json::Object_LoadFromJsonString(text, loaded, options));
  ASSERT_NE(loaded.fChild, nullptr);
  EXPECT_EQ(loaded.fChild->fName, "kid");
  ASSERT_NE(loaded.fMarked, nullptr);
  EXPECT_EQ(loaded.fMarked->fName, "s");
  EXPECT_EQ(loaded.fNumbers.Count(), 2u);
  EXPECT_EQ(loaded.fNumbers[1], 2);
  ASSERT_EQ(loaded.fChildren.Count(), 1u);
  EXPECT_EQ(loaded.fChildren[0]->fName, "c1");

  // Properties: read-only ones are saved but not loaded.
  const TPersistInstanceOptions properties(pidProperties, pinExcludeNestedInstances, picNeverCreate, pitNeverSaveType);
  EXPECT_EQ(TPersist_Json::Object_SaveToJsonString(owner, properties, SaveOptions_Compact), R"({"Length":3})");
}

TEST(PersistObjectTest, TypeNamesCreateDerivedInstancesThroughTheTypeMap) {
  RegisterPersistClass<TSpecialChild>();
  TOwner owner;
  auto special = std::make_unique<TSpecialChild>();
  special->fLevel = 4;
  owner.fMarked = std::move(special);
  const TPersistInstanceOptions always{pidFields, pinExcludeNestedInstances, picCreateIfNil, pitAlwaysSaveType};
  std::string text = TPersist_Json::Object_SaveToJsonString(owner, always, SaveOptions_Compact);
  EXPECT_NE(text.find(R"("marked":{"@Type":"Test.TSpecialChild","fName":"","fLevel":4})"), std::string::npos) << text;
  EXPECT_EQ(text.rfind(R"({"@Type":"Test.TOwner",)", 0), 0u) << "the root's type name comes first";

  TOwner loaded;
  ASSERT_TRUE(TPersist_Json::Object_LoadFromJsonString(text, loaded, always));
  auto* loadedSpecial = dynamic_cast<TSpecialChild*>(loaded.fMarked.get());
  ASSERT_NE(loadedSpecial, nullptr);
  EXPECT_EQ(loadedSpecial->fLevel, 4);

  // An old type name mapped to the new one; an unknown one falls back to the declared class.
  TPersist::Register_Global_TypeMapping("Old.TSpecial", "Test.TSpecialChild");
  TOwner mapped;
  ASSERT_TRUE(
      TPersist_Json::Object_LoadFromJsonString(R"({"marked":{"@Type":"Old.TSpecial","fLevel":9}})", mapped, always));
  ASSERT_NE(dynamic_cast<TSpecialChild*>(mapped.fMarked.get()), nullptr);
  EXPECT_EQ(dynamic_cast<TSpecialChild*>(mapped.fMarked.get())->fLevel, 9);
  TPersist::Unregister_Global_TypeMapping("Old.TSpecial");
  TOwner fallback;
  ASSERT_TRUE(
      TPersist_Json::Object_LoadFromJsonString(R"({"marked":{"@Type":"No.Such","fName":"n"}})", fallback, always));
  ASSERT_NE(fallback.fMarked, nullptr);
  EXPECT_EQ(typeid(*fallback.fMarked), typeid(TChild));

  TPersist strict;
  strict.Options.Diag_TypeNotFound = true;
  auto* tree = Parse(strict, R"({"@Type":"No.Such"})");
  try {
    strict.Load_TypeAsClass(*tree);
    FAIL() << "expected ETypeNotFound";
  } catch (const ETypeNotFound& error) {
    EXPECT_STREQ(error.what(), "xPersistence: Type not found No.Such");
  }
}

TEST(PersistObjectTest, MissingKeysKeepObjectFieldsWrongKindsZeroThem) {
  TOwner owner;
  owner.fTitle = "keep";
  owner.fColour = clBlue;
  owner.fRate = 2;
  ASSERT_TRUE(TPersist_Json::Object_LoadFromJsonString(R"({"fColour":1,"fRate":"x","unknown":1})", owner,
                                                       InstanceOptions_Load));
  EXPECT_EQ(owner.fTitle, "keep");
  EXPECT_EQ(owner.fColour, clGreen) << "a number is the ordinal";
  EXPECT_EQ(owner.fRate, 0) << "wrong node kind: zero value";
  EXPECT_FALSE(TPersist_Json::Object_LoadFromJsonString("[]", owner, InstanceOptions_Load));
}

TEST(PersistObjectTest, LoopsAreCutAndReportedOnRequest) {
  TOwner owner;
  owner.fChild = std::make_unique<TChild>();
  owner.fChild->fPeer = owner.fChild.get();  // refers to itself
  const TPersistInstanceOptions nested{pidFields, pinIncludedNestedInstances, picNeverCreate, pitNeverSaveType};
  const std::string text = TPersist_Json::Object_SaveToJsonString(owner, nested, SaveOptions_Compact);
  EXPECT_NE(text.find(R"("fChild":{"fName":"","fPeer":null})"), std::string::npos) << text;

  TPersist persist;
  persist.Options.Diag_InfiniteLoop = true;
  auto* root = persist.CreateRootObject();
  try {
    persist.Object_SaveToPersistObject(*root, &owner, PersistTypeOf<TOwner>(), nested);
    FAIL() << "expected EInfiniteLoop";
  } catch (const EInfiniteLoop& error) {
    EXPECT_STREQ(error.what(), "xPersistence: Infinite loop");
  }
}

TEST(PersistObjectTest, DiagnosticMessages) {
  TOwner owner;
  const TPersistInstanceOptions options = InstanceOptions_Save;
  TPersist persist;
  persist.Options.Diag_UnhandledFieldOrPropType = true;
  auto* root = persist.CreateRootObject();
  try {
    persist.Object_SaveToPersistObject(*root, &owner, PersistTypeOf<TOwner>(), options);
    FAIL() << "expected EUnhandledFieldOrPropType";
  } catch (const EUnhandledFieldOrPropType& error) {
    EXPECT_EQ(std::string(error.what()).rfind("xPersistence: Unsupported type ", 0), 0u);
    EXPECT_NE(std::string(error.what()).find(" in TPersist.FromValue"), std::string::npos);
  }

  TPersist numbers;
  numbers.Options.Diag_NumberConvertError = true;
  auto* tree = Parse(numbers, R"({"fRate":null})");
  try {
    numbers.Load_InstanceValues(*tree, owner, InstanceOptions_Load, true);
    FAIL() << "expected EConvertError";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "Test.TOwner.fRate: TPersist.ToFloatDirect: null could not be converted to Double");
  }
  for (const auto& [json, message] : std::vector<std::pair<std::string, std::string>>{
           {R"({"v":null})", "TPersist.ToIntegerDirect: null could not be converted to Integer"}}) {
    auto* node = Parse(numbers, json);
    try {
      numbers.ToInteger(node->Get_Value("v"));
      FAIL();
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  auto* node = Parse(numbers, R"({"v":null})");
  EXPECT_THROW(numbers.ToInt64(node->Get_Value("v")), EConvertError);
}

TEST(PersistObjectTest, ListAttributeDiagnostics) {
  struct TWithWrongList {
    std::int32_t fNotAList = 0;
    static void Describe(TPersistDescriber<TWithWrongList>& d) {
      d.Class("Test.TWithWrongList");
      d.Field("fNotAList", &TWithWrongList::fNotAList);
    }
  };
  TPersist persist;
  persist.Options.Diag_ListTypeError = true;
  persist.Options.AutoList_RequireAttributes = true;
  TPersistList<std::int32_t> list;
  try {
    persist.FromValue(list);
    FAIL() << "expected EListTypeError";
  } catch (const EListTypeError& error) {
    EXPECT_STREQ(error.what(), "xPersistence: Missing [PersistList]");
  }
  TPersistObjectList<TChild> objects;
  EXPECT_THROW(persist.FromValue(objects), EListTypeError);
  persist.Options.AutoList_RequireAttributes = false;
  EXPECT_EQ(Compact(persist.FromValue(list).get()), R"({"@Items":[]})");
  persist.Options.AutoList_Compact = true;
  list.Add(4);
  EXPECT_EQ(Compact(persist.FromValue(list).get()), "[4]");
}

TEST(PersistObjectTest, NameConversionAndInstanceOptionMerging) {
  TPersist persist;
  TPersistMember member;
  member.Name = "StartTime";
  EXPECT_EQ(persist.GetConvertedName(member), "StartTime");
  persist.Options.NameConversion = pncPascalCase_CamelCase;
  EXPECT_EQ(persist.GetConvertedName(member), "startTime");
  member.Name = "fName";
  EXPECT_EQ(persist.GetConvertedName(member), "fName");
  member.Attributes.PersistName = "Given";
  EXPECT_EQ(persist.GetConvertedName(member), "Given");

  const auto merged =
      TPersist::MergePersistInstanceOptions(InstanceOptions_Save, TPersistInstanceOptions(pitAlwaysSaveType));
  EXPECT_EQ(merged, (TPersistInstanceOptions{pidFields, pinExcludeNestedInstances, picNeverCreate, pitAlwaysSaveType}));
  EXPECT_EQ(TPersist::MergePersistInstanceOptions(InstanceOptions_Load, TPersistInstanceOptions()),
            InstanceOptions_Load);
}

// Interceptors: a record written as a text, by member attribute and by registration.
struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  static void Describe(TPersistDescriber<TPoint>& d) {
    d.Record("Test.TPoint");
    d.Field("X", &TPoint::X);
    d.Field("Y", &TPoint::Y);
  }
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

class TPointInterceptor : public TTypedRecordInterceptor<TPoint> {
 public:
  using TTypedRecordInterceptor::TTypedRecordInterceptor;
  TPersistValuePtr FromRecordValue(const TPoint& aPoint) override {
    return Persist().FromString(std::to_string(aPoint.X) + "," + std::to_string(aPoint.Y));
  }
  std::optional<TPoint> ToRecordValue(const TPersistValue* aSource) override {
    const auto* text = aSource ? aSource->AsString() : nullptr;
    if (!text || text->Value().find(',') == std::string::npos) {
      return std::nullopt;
    }
    const auto comma = text->Value().find(',');
    return TPoint{std::stoi(text->Value().substr(0, comma)), std::stoi(text->Value().substr(comma + 1))};
  }
};

struct TShape {
  TPoint Plain;
  TPoint Marked;
  static void Describe(TPersistDescriber<TShape>& d) {
    d.Record("Test.TShape");
    d.Field("Plain", &TShape::Plain);
    d.Field("Marked", &TShape::Marked).Interceptor<TPointInterceptor>();
  }
};

TEST(PersistInterceptorTest, MemberAttributeEngineAndProcessRegistries) {
  TShape shape{{1, 2}, {3, 4}};
  EXPECT_EQ(TPersist_Json::Record_SaveToJsonString(shape, SaveOptions_Compact),
            R"({"Plain":{"X":1,"Y":2},"Marked":"3,4"})");
  TPersist persist;
  persist.Register_RecordInterceptor<TPoint, TPointInterceptor>();
  EXPECT_EQ(Compact(persist.FromRecord(shape).get()), R"({"Plain":"1,2","Marked":"3,4"})");
  persist.Unregister_RecordInterceptor("Test.TPoint");
  EXPECT_EQ(Compact(persist.FromRecord(shape).get()), R"({"Plain":{"X":1,"Y":2},"Marked":"3,4"})");

  TPersist::Register_Global_RecordInterceptor<TPoint, TPointInterceptor>();
  const std::string text = TPersist_Json::Record_SaveToJsonString(shape, SaveOptions_Compact);
  EXPECT_EQ(text, R"({"Plain":"1,2","Marked":"3,4"})");
  TShape loaded;
  ASSERT_TRUE(TPersist_Json::Record_LoadFromJsonString(R"({"Plain":"5,6","Marked":"bad"})", loaded));
  EXPECT_EQ(loaded.Plain, (TPoint{5, 6}));
  EXPECT_EQ(loaded.Marked, TPoint{}) << "an interceptor's empty result gives the zero record";
  TPersist::Unregister_Global_RecordInterceptor("Test.TPoint");
}

TEST(PersistInterceptorTest, GuidTextFormAndErrors) {
  const Platform::TGUID guid = Platform::TGUID::Parse("{00112233-4455-6677-8899-AABBCCDDEEFF}");
  const std::string text = TPersist_Json::Record_SaveToJsonString(guid, SaveOptions_Pretty);
  EXPECT_EQ(text, "\"{00112233-4455-6677-8899-AABBCCDDEEFF}\"");
  Platform::TGUID loaded;
  EXPECT_TRUE(TPersist_Json::Record_LoadFromJsonString(text, loaded)) << "what the helper writes, it reads";
  EXPECT_EQ(loaded, guid);

  TRecord record;
  record.Id = guid;
  ASSERT_TRUE(TPersist_Json::Record_LoadFromJsonString(R"({"Id":""})", record));
  EXPECT_TRUE(record.Id.IsEmpty()) << "an empty text is empty";
  EXPECT_THROW(TPersist_Json::Record_LoadFromJsonString(R"({"Id":"{nope}"})", record), EConvertError);
}

TEST(PersistObjectTest, NoDefaultConstructor) {
  struct TNoDefault {
    explicit TNoDefault(int aValue) : fValue(aValue) {}
    int fValue;
    static void Describe(TPersistDescriber<TNoDefault>& d) {
      d.Class("Test.TNoDefault");
      d.Field("fValue", &TNoDefault::fValue);
    }
  };
  TPersist persist;
  EXPECT_EQ(persist.CreateInstance(PersistTypeOf<TNoDefault>()).Instance, nullptr);
  persist.Options.Diag_NoDefaultConstructor = true;
  try {
    persist.CreateInstance(PersistTypeOf<TNoDefault>());
    FAIL() << "expected ENoDefaultConstructor";
  } catch (const ENoDefaultConstructor& error) {
    EXPECT_STREQ(error.what(), "xPersistence: No default constructor found for Test.TNoDefault");
  }
}

}  // namespace

namespace PersistTestTypes {

// A class that is saved by an instance interceptor as "name=value" text.
class TTagged {
 public:
  std::string fName;
  std::int32_t fValue = 0;
  static void Describe(TPersistDescriber<TTagged>& d) {
    d.Class("Test.TTagged");
    d.Field("fName", &TTagged::fName);
    d.Field("fValue", &TTagged::fValue);
  }
};

class TTaggedInterceptor : public TInstanceInterceptor {
 public:
  using TInstanceInterceptor::TInstanceInterceptor;
  void Persist_InstanceValues(TPersistValue_Object& aParent, const std::string& aName, const TPersistInstanceOptions&,
                              const TPersistMember*, const void* aInstance, const TPersistTypeInfo&) override {
    const auto& tagged = *static_cast<const TTagged*>(aInstance);
    aParent.Add_String(aName.empty() ? "tag" : aName, tagged.fName + "=" + std::to_string(tagged.fValue));
  }
  void Load_InstanceValues(const TPersistValue_Object& aParent, const std::string& aName,
                           const TPersistInstanceOptions&, const TPersistMember*, void* aInstance,
                           const TPersistTypeInfo&) override {
    const auto* text = aParent.Get_String(aName.empty() ? "tag" : aName);
    if (!text || text->Value().find('=') == std::string::npos) {
      return;
    }
    auto& tagged = *static_cast<TTagged*>(aInstance);
    tagged.fName = text->Value().substr(0, text->Value().find('='));
    tagged.fValue = std::stoi(text->Value().substr(text->Value().find('=') + 1));
  }
};

class THolder {
 public:
  TTagged fTagged;
  std::int32_t fCount = 0;
  TPersistList<std::string> fNames;
  std::int32_t GetCount() const { return fCount; }
  void SetCount(std::int32_t aValue) { fCount = aValue * 10; }
  static void Describe(TPersistDescriber<THolder>& d) {
    d.Class("Test.THolder");
    d.Field("fTagged", &THolder::fTagged).Persist();
    d.Field("fNames", &THolder::fNames).Persist().PersistList(false, true);
    d.Property("Count", &THolder::GetCount, &THolder::SetCount);
  }
};

}  // namespace PersistTestTypes

namespace {

TEST(PersistInterceptorTest, InstanceInterceptorForMembersAndTheRoot) {
  THolder holder;
  holder.fTagged.fName = "n";
  holder.fTagged.fValue = 5;
  holder.fNames.Add("x");
  TPersist::Register_Global_InstanceInterceptor<TTagged, TTaggedInterceptor>();
  const std::string text = TPersist_Json::Object_SaveToJsonString(holder, InstanceOptions_Save, SaveOptions_Compact);
  EXPECT_EQ(text, R"({"fTagged":"n=5","fNames":["x"]})") << "compact list layout from the member attribute";

  THolder loaded;
  loaded.fNames.Add("kept");
  ASSERT_TRUE(
      TPersist_Json::Object_LoadFromJsonString(R"({"fTagged":"m=7","fNames":["y"]})", loaded, InstanceOptions_Load));
  EXPECT_EQ(loaded.fTagged.fName, "m");
  EXPECT_EQ(loaded.fTagged.fValue, 7);
  ASSERT_EQ(loaded.fNames.Count(), 2u) << "ClearBeforeLoad false appends";
  EXPECT_EQ(loaded.fNames[1], "y");

  // At the root the interceptor works on the root node itself.
  EXPECT_EQ(TPersist_Json::Object_SaveToJsonString(holder.fTagged, InstanceOptions_Save, SaveOptions_Compact),
            R"({"tag":"n=5"})");
  TTagged root;
  ASSERT_TRUE(TPersist_Json::Object_LoadFromJsonString(R"({"tag":"r=1"})", root, InstanceOptions_Load));
  EXPECT_EQ(root.fName, "r");
  TPersist::Unregister_Global_InstanceInterceptor("Test.TTagged");

  // Without the interceptor the member is a nested object again.
  EXPECT_EQ(TPersist_Json::Object_SaveToJsonString(holder, InstanceOptions_Save, SaveOptions_Compact),
            R"({"fTagged":{"fName":"n","fValue":5},"fNames":["x"]})");
}

TEST(PersistObjectTest, PropertiesGoThroughGetterAndSetter) {
  THolder holder;
  holder.fCount = 3;
  const TPersistInstanceOptions properties(pidProperties, pinExcludeNestedInstances, picNeverCreate, pitNeverSaveType);
  EXPECT_EQ(TPersist_Json::Object_SaveToJsonString(holder, properties, SaveOptions_Compact), R"({"Count":3})");
  ASSERT_TRUE(TPersist_Json::Object_LoadFromJsonString(R"({"Count":4})", holder, properties));
  EXPECT_EQ(holder.fCount, 40) << "loaded through the setter";
  ASSERT_TRUE(TPersist_Json::Object_LoadFromJsonString(R"({"Count":"bad"})", holder, properties));
  EXPECT_EQ(holder.fCount, 40) << "a property is left unchanged when the value is empty";
}

TEST(PersistObjectTest, CompactListReadsTheObjectLayoutOnlyWhenUntyped) {
  TPersist persist;
  auto* tree = Parse(persist, R"({"fNames":{"@Items":["a","b"]}})");
  THolder holder;
  persist.Load_InstanceValues(*tree, holder, InstanceOptions_Load, true);
  EXPECT_EQ(holder.fNames.Count(), 0u);
  persist.Options.AllowLoadFromUntyped = true;
  persist.Load_InstanceValues(*tree, holder, InstanceOptions_Load, true);
  EXPECT_EQ(holder.fNames.Count(), 2u);
}

}  // namespace
