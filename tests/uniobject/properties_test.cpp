#include "uniobject/properties.h"

#include <gtest/gtest.h>

#include "tests/uniobject/message_capture.h"
#include "uniobject/universal_list.h"

namespace UniObject {
namespace {

using Testing::TMessageCapture;

TEST(PropertyFactory, EveryKindHasItsClassOrItsRefusal) {
  for (int kind = 0; kind < kPropertyKindCount; ++kind) {
    SCOPED_TRACE(kind);
    std::string longError;
    std::string shortError;
    auto longProp = CreateLongProperty(static_cast<std::uint8_t>(kind), longError);
    auto shortProp = CreateShortProperty(static_cast<std::uint8_t>(kind), shortError);
    const bool gone = kind == pkIVESUser || kind == pkMultiBit || kind == pkTableFormel || kind == pkWideString;
    EXPECT_EQ(longProp == nullptr, gone);
    EXPECT_EQ(shortProp == nullptr, gone || kind == pkError);
    if (longProp) {
      EXPECT_EQ(longProp->PropertyKind(), kind);
      EXPECT_FALSE(longProp->IsShort());
    }
    if (shortProp) {
      EXPECT_EQ(shortProp->PropertyKind(), kind);
      EXPECT_TRUE(shortProp->IsShort());
      EXPECT_TRUE(shortProp->GetStatusBit(TCustomPropertyObject::kStatusNew));
      EXPECT_EQ(shortProp->LastUpdate().Value(), 36526.0);
    }
  }
  // The high bit of the kind byte is ignored.
  std::string error;
  auto text = CreateShortProperty(0x80 | pkChar20, error);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->PropertyKind(), pkChar20);
}

TEST(PropertyFactory, RefusalsShowTheirMessagesThroughNewItem) {
  TMessageCapture capture;
  TPropertyList_Short shorts;
  TPropertyList longs;
  EXPECT_EQ(shorts.NewItemByID(1, pkError), nullptr);
  EXPECT_EQ(longs.NewItem(1, "x", pkWideString), nullptr);
  ASSERT_EQ(capture.Messages.size(), 2u);
  EXPECT_EQ(capture.Messages[0],
            "Die angeforderte Eigenschaftsart wird nicht unterstützt.\r\nBeim Erzeugen eines Eigenschaftswertes vom "
            "Typ pkError ist ein Fehler aufgetreten.");
  EXPECT_EQ(capture.Messages[1],
            "Die Programmseitige Unterstützung für Unicode ist nicht aktiviert!\r\nBeim Erzeugen einer Eigenschaft "
            "vom Typ pkWideString ist ein Fehler aufgetreten.");
  EXPECT_EQ(shorts.Count(), 0);
  EXPECT_EQ(longs.Count(), 0);
  EXPECT_EQ(PropertyKindName(pkTableFormel), "");
  EXPECT_EQ(PropertyKindName(pkMultilist), "pkMultiList");
}

TEST(PropertyValues, RangeIsEnforcedWithWarnings) {
  TMessageCapture capture;
  TPr_LongInt number;
  number.SetMinValue(0);
  number.SetMaxValue(10);
  EXPECT_TRUE(number.SetValue(10));
  EXPECT_FALSE(number.SetValue(11));
  EXPECT_FALSE(number.SetValue(-1));
  EXPECT_EQ(number.Value(), 10);
  ASSERT_EQ(capture.Messages.size(), 2u);
  EXPECT_EQ(capture.Messages[0],
            "Der neue Wert (11.000) ist größer als der maximal zulässige Wert von 10.000. Der Wert wird nicht "
            "übernommen.");
  EXPECT_EQ(capture.Messages[1],
            "Der neue Wert (-1.000) ist kleiner als der minimal erforderliche Wert von 0.000. Der Wert wird nicht "
            "übernommen.");
  EXPECT_EQ(capture.Types[0], mtWarning);

  TPr_Date date;
  date.SetMinValue(45292.0);
  EXPECT_FALSE(date.SetValue(45291.0));
  EXPECT_EQ(capture.Messages.back(),
            "Der neue Wert (2023-12-31) ist kleiner als der minimal erforderliche Wert von 2024-01-01. Der Wert wird "
            "nicht übernommen.");

  // A short value checked against its defining long property.
  TPr_LongInt_Short value;
  value.SetSourceProperty(&number);
  value.ValueTest_BySourceProperty = true;
  EXPECT_FALSE(value.SetValue(20));
  EXPECT_TRUE(value.SetValue(3));
  value.SetStandardValue();
  EXPECT_EQ(value.Value(), 10);
}

TEST(PropertyValues, TextsOfTheKinds) {
  struct TCase {
    std::unique_ptr<TPropertyObject_Short> Property;
    std::string Text;
  };
  std::string error;
  auto make = [&](TPropertyKind aKind) { return CreateShortProperty(aKind, error); };
  std::vector<TCase> cases;
  auto money = make(pkMoney);
  static_cast<TPr_Money_Short&>(*money).SetValue(12345);
  cases.push_back({std::move(money), "1.2345"});
  auto boolean = make(pkBoolean);
  static_cast<TPr_Boolean_Short&>(*boolean).Value_Boolean = true;
  cases.push_back({std::move(boolean), "Ja"});
  cases.push_back({make(pkCondition), "Nein"});
  auto dateTime = make(pkDateTime);
  static_cast<TPr_DateTime_Short&>(*dateTime).SetValue(45292.5);
  cases.push_back({std::move(dateTime), "2024-01-01 12:00:00"});
  auto single = make(pkSingle);
  static_cast<TPr_Single_Short&>(*single).SetValue(0.5f);
  cases.push_back({std::move(single), "0.5"});
  auto cardinal = make(pkCardinal);
  static_cast<TPr_Cardinal_Short&>(*cardinal).SetValue(4000000000u);
  cases.push_back({std::move(cardinal), "4000000000"});
  cases.push_back({make(pkImage), "Image"});
  cases.push_back({make(pkStream), "Stream"});
  cases.push_back({make(pkTable), "Tabelle"});
  cases.push_back({make(pkChoose), "Auswahleigenschaft"});
  cases.push_back({make(pkMultilist), "Multiliste"});
  cases.push_back({make(pkGraphicLink), "Grafikverknüpfung"});
  for (const auto& test : cases)
    EXPECT_EQ(test.Property->GetValueAsString(), test.Text);

  TPr_Error failure;
  failure.FehlermeldungEinfach = "einfach";
  EXPECT_EQ(failure.GetValueAsString(), "einfach");
  failure.OnGetValueAsString = [](const TCustomPropertyObject&, std::string& aText) { aText += "!"; };
  EXPECT_EQ(failure.GetValueAsString(), "einfach!");
}

TEST(PropertyLists, IndexSearchAndCopies) {
  TMessageCapture capture;
  TPropertyList longs;
  auto* source = longs.NewItem(7, "Länge", pkDouble);
  static_cast<TPr_Double*>(source)->SetValue(2.5);
  TPropertyList_Short shorts;
  auto* value = shorts.NewItem(source, pkDouble);
  EXPECT_EQ(value->ID(), 7);
  EXPECT_EQ(value->SourceProperty(), source);
  shorts.NewItemByID(7, pkText);
  EXPECT_EQ(shorts.SearchProperty(7), value);  // the first one
  EXPECT_EQ(shorts.IndexOfID(8), -1);
  EXPECT_EQ(shorts.Get(2), nullptr);
  EXPECT_EQ(capture.Messages.back(),
            "Der angegebene Index liegt außerhalb der Grenzwerte.  -  Index: 2, Maximal möglicher Wert: 1");

  TPropertyList copy;
  copy.Assign(&longs);
  ASSERT_EQ(copy.Count(), 1);
  EXPECT_NE(copy.Get(0), source);
  EXPECT_EQ(copy.Get(0)->Name(), "Länge");
  EXPECT_EQ(static_cast<TPr_Double*>(copy.Get(0))->Value(), 2.5);
  // An image copy keeps even a picture type that a stream would drop.
  TPr_Image_Short image;
  image.Value_Image = TPicture::FromBytes({'G', 'I', 'F', '8'});
  auto imageCopy = CloneProperty(static_cast<const TPropertyObject_Short&>(image));
  ASSERT_TRUE(static_cast<TPr_Image_Short&>(*imageCopy).Value_Image.has_value());
  EXPECT_EQ(static_cast<TPr_Image_Short&>(*imageCopy).Value_Image->Bytes.size(), 4u);
}

}  // namespace
}  // namespace UniObject
