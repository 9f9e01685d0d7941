#include "uniobject/universal_list.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "tests/support/temp_dir.h"
#include "tests/uniobject/message_capture.h"
#include "tests/uniobject/sample_list.h"
#include "uniobject/cipher.h"
#include "uniobject/packer.h"

namespace UniObject {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Testing::TMessageCapture;

Bytes Save(TUniversalList& aList, int aVersion = 17, bool aPack = false, const std::string& aPassword = {}) {
  TMemoryStream stream;
  EXPECT_TRUE(aList.SaveTo_ExternMemoryStream(stream, aPack, aVersion, aPassword));
  return stream.Bytes();
}

// The canonical form of a list: its unpacked version 17 stream.
Bytes Canonical(TUniversalList& aList) {
  return Save(aList, 17, false);
}

bool Load(TUniversalList& aList, const Bytes& aBytes, const std::string& aPassword = {}) {
  TMemoryStream stream(aBytes);
  return aList.LoadFrom_ExternMemoryStream(stream, aPassword, true);
}

TEST(UniversalListStream, EmptyListAtVersion17) {
  TMessageCapture capture;
  TUniversalList list;
  const Bytes bytes = Save(list);
  ASSERT_GE(bytes.size(), 33u);
  ASSERT_LE(bytes.size(), 38u);
  // Header: start byte, signature 45 AD F4 4E, no password, check 0, version 17.
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 13),
            (Bytes{1, 0x45, 0xAD, 0xF4, 0x4E, 0, 0, 0, 0, 0, 17, 0, kMarkerListStart}));
  // The list: 36526.0 as a double, update 0, protection 0, assignment 0, count 0, end.
  const double stamp = 36526.0;
  Bytes stampBytes(8);
  std::memcpy(stampBytes.data(), &stamp, 8);
  EXPECT_EQ(Bytes(bytes.begin() + 13, bytes.begin() + 21), stampBytes);
  EXPECT_EQ(Bytes(bytes.begin() + 21, bytes.begin() + 33), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kMarkerListEnd}));

  TUniversalList back;
  back.NewItem(1, 0, 0, "alt");
  EXPECT_TRUE(Load(back, bytes));
  EXPECT_EQ(back.Count(), 0);
  EXPECT_TRUE(capture.Messages.empty());
}

TEST(UniversalListStream, HandBuiltVersion17ObjectWithShortProperty) {
  // One object "Ab" (ID 7) with one short pkLongInt property (ID 42, value -2), laid out
  // by hand from the record tables.
  TMemoryStream s;
  s.WriteU8(1);
  s.WriteU32(kStreamSignature);
  s.WriteU8(0);
  s.WriteU32(0);
  s.WriteU16(17);
  s.WriteU8(1);
  s.WriteDouble(36526.0);
  s.WriteI16(0);
  s.WriteU8(0);
  s.WriteI32(0);
  s.WriteI32(1);
  s.WriteU8(3);
  s.WriteI32(2);
  s.Write(u"Ab", 4);  // UTF-16LE on this platform
  s.WriteI32(7);      // ID
  s.WriteU8(1);       // ID2
  s.WriteI32(9);      // TypID
  s.WriteI32(0);      // SortOrder
  s.WriteU32(0);      // ObjectStatus
  s.WriteI16(0);
  s.WriteI16(0);
  s.WriteDouble(40000.0);
  s.WriteI16(0);
  s.WriteU32(0);
  s.WriteI32(0);
  s.WriteU32(8);  // StatusDef
  s.WriteI32(0);
  s.WriteU8(0);
  s.WriteU8(0);
  s.WriteU8(9);  // short properties
  s.WriteI32(1);
  s.WriteU8(11);
  s.WriteU8(pkLongInt);
  s.WriteI32(42);
  s.WriteU8(0);
  s.WriteU8(0);
  s.WriteDouble(36526.0);
  s.WriteI16(0);
  s.WriteU32(0);
  s.WriteU8(0);  // no property-source data
  s.WriteI32(-2);
  s.WriteU8(10);
  s.WriteU8(4);
  s.WriteU8(2);

  TMessageCapture capture;
  TUniversalList list;
  ASSERT_TRUE(Load(list, s.Bytes()));
  EXPECT_TRUE(capture.Messages.empty());
  ASSERT_EQ(list.Count(), 1);
  const TUniversalObject* object = list.Get(0);
  EXPECT_EQ(object->Name(), "Ab");
  EXPECT_EQ(object->ID(), 7);
  EXPECT_EQ(object->TypID(), 9);
  EXPECT_EQ(object->LastUpdate().Value(), 40000.0);
  std::int32_t value = 0;
  ASSERT_NE(ShortPropLongInt(object, 42, value), nullptr);
  EXPECT_EQ(value, -2);
  // Written back, the same bytes (and at most five spare bytes after them).
  const Bytes again = Save(list);
  ASSERT_GE(again.size(), s.Size());
  EXPECT_EQ(Bytes(again.begin(), again.begin() + static_cast<long>(s.Size())), s.Bytes());
}

TEST(UniversalListStream, HandBuiltVersion10Stream) {
  // Version 10: one-byte object status, no sort order before 3 (present here), one-byte
  // property status, a choice as a single int32, a text without view height, a date-time
  // type of 4 bytes, an old block 20 before the value marker.
  TMemoryStream s;
  s.WriteU8(1);
  s.WriteU32(kStreamSignature);
  s.WriteU8(0);
  s.WriteU32(0);
  s.WriteU16(10);
  s.WriteU8(1);
  s.WriteDouble(36526.0);
  s.WriteI16(1);
  s.WriteU8(0);
  s.WriteI32(0);
  s.WriteI32(1);
  s.WriteU8(3);
  const std::string name = "Gr\xFC\xDF";  // "Grüß" in Windows-1252
  s.WriteI32(static_cast<std::int32_t>(name.size()));
  s.Write(name.data(), name.size());
  s.WriteI32(5);  // ID
  s.WriteU8(0);   // ID2
  s.WriteI32(6);  // TypID
  s.WriteI32(2);  // SortOrder (from 3)
  s.WriteU32(0);  // ObjectStatus (from 9)
  s.WriteI16(1);  // ImageIndex
  s.WriteI16(2);  // SelectedIndex
  s.WriteDouble(1.0);
  s.WriteI16(0);
  s.WriteU32(0);
  s.WriteI32(0);
  s.WriteU8(8);  // StatusDef: 1 byte up to 14
  s.WriteI32(0);
  s.WriteU8(0);
  s.WriteU8(0);
  s.WriteU8(5);  // long properties
  s.WriteI32(2);
  // long pkText
  s.WriteU8(7);
  s.WriteU8(pkText);
  s.WriteI32(1);
  s.WriteU8(0);
  s.WriteU8(0);
  s.WriteDouble(2.0);
  s.WriteI16(0);
  s.WriteU8(3);   // PropStatus: 1 byte (4..10)
  s.WriteI16(4);  // PropSortOrder
  s.WriteI32(1);
  s.Write("T", 1);
  s.WriteI32(0);  // ExternFormatID
  s.WriteU32(0);  // PropSecurityValue
  s.WriteU8(20);  // old block: two entries of 13 bytes (version 8 and later)
  s.WriteI32(2);
  for (int i = 0; i < 26; ++i)
    s.WriteU8(0xEE);
  s.WriteU8(8);
  s.WriteI32(2);
  s.Write("hi", 2);
  // long pkDateTime
  s.WriteU8(7);
  s.WriteU8(pkDateTime);
  s.WriteI32(2);
  s.WriteU8(0);
  s.WriteU8(0);
  s.WriteDouble(2.0);
  s.WriteI16(0);
  s.WriteU8(0);
  s.WriteI16(0);
  s.WriteI32(0);
  s.WriteI32(0);
  s.WriteU32(0);
  s.WriteU8(8);
  s.WriteI32(0);
  s.WriteI32(0);
  s.WriteDouble(3.5);
  s.WriteDouble(0.0);
  s.WriteDouble(10.0);
  s.WriteU32(7);  // not a member: becomes 0
  s.WriteU8(6);
  s.WriteU8(9);  // short properties
  s.WriteI32(1);
  s.WriteU8(11);
  s.WriteU8(pkChoose);
  s.WriteI32(3);
  s.WriteU8(0);
  s.WriteU8(0);
  s.WriteDouble(2.0);
  s.WriteI16(0);
  s.WriteU8(0);
  s.WriteI32(77);  // a single choice value
  s.WriteU8(10);
  s.WriteU8(4);
  s.WriteU8(2);

  TMessageCapture capture;
  TUniversalList list;
  ASSERT_TRUE(Load(list, s.Bytes()));
  EXPECT_TRUE(capture.Messages.empty()) << capture.Messages.front();
  ASSERT_EQ(list.Count(), 1);
  const TUniversalObject* object = list.Get(0);
  EXPECT_EQ(object->Name(), "Grüß");
  EXPECT_EQ(object->SortOrder(), 2);
  EXPECT_EQ(object->SelectedIndex(), 2);
  ASSERT_EQ(object->Props()->Count(), 2);
  const auto* text = dynamic_cast<const TPr_Text*>(object->Props()->Get(0));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Value_Text, "hi");
  EXPECT_EQ(text->ViewHeight, -1);
  EXPECT_EQ(text->PropStatus(), 3u);
  EXPECT_EQ(text->PropSortOrder, 4);
  const auto* dateTime = dynamic_cast<const TPr_DateTime*>(object->Props()->Get(1));
  ASSERT_NE(dateTime, nullptr);
  EXPECT_EQ(dateTime->Value(), 3.5);
  EXPECT_EQ(dateTime->MaxValue(), 10.0);
  EXPECT_EQ(dateTime->DateTimeTyp, 0);
  const auto* choose = dynamic_cast<const TPr_Choose_Short*>(object->ShortProps()->Get(0));
  ASSERT_NE(choose, nullptr);
  EXPECT_EQ(choose->ValueIDList.Values(), (std::vector<std::int32_t>{77}));
}

TEST(UniversalListStream, EveryKindRoundTripsAtEachVersionPackerAndPassword) {
  TMessageCapture capture;
  auto list = Testing::MakeEveryKindList();
  const Bytes canonical = Canonical(*list);
  for (int version : {15, 16, 17}) {
    for (TPackerMode mode : {pmLZRW1KH, pmLZHUF}) {
      for (bool pack : {false, true}) {
        for (const std::string password : {"", "Geheim"}) {
          SCOPED_TRACE(std::to_string(version) + " " + std::to_string(mode) + " " + std::to_string(pack) + " " +
                       password);
          UniListSettings().PackerMode = mode;
          const Bytes bytes = Save(*list, version, pack, password);
          TUniversalList back;
          ASSERT_TRUE(Load(back, bytes, password));
          if (version == 15) {
            // Version 15 carries no character counts; compare at its own version.
            EXPECT_EQ(Save(back, 15), Save(*list, 15));
          } else {
            EXPECT_EQ(Canonical(back), canonical);
          }
        }
      }
    }
  }
  UniListSettings().PackerMode = pmLZRW1KH;
  EXPECT_TRUE(capture.Messages.empty());
}

TEST(UniversalListStream, Version16And17FormsReadBackEqual) {
  auto list = Testing::MakeEveryKindList();
  TUniversalList from16;
  TUniversalList from17;
  ASSERT_TRUE(Load(from16, Save(*list, 16, true)));
  ASSERT_TRUE(Load(from17, Save(*list, 17, true)));
  EXPECT_EQ(Canonical(from16), Canonical(from17));
  // A character outside the code page survives only the UTF-16 form.
  list->Get(0)->SetName("Ω");
  TUniversalList greek;
  ASSERT_TRUE(Load(greek, Save(*list, 16)));
  EXPECT_EQ(greek.Get(0)->Name(), "?");
  ASSERT_TRUE(Load(greek, Save(*list, 17)));
  EXPECT_EQ(greek.Get(0)->Name(), "Ω");
}

TEST(UniversalListStream, Char20CarriesItsCountFromVersion16) {
  TUniversalList list;
  auto* object = list.NewItem(1, 0, 0, "o");
  auto* chars = static_cast<TPr_Char20_Short*>(object->PreparePropertyListShort().NewItemByID(5, pkChar20));
  chars->Value_Text = "zwanzig";
  chars->CharCount = 20;
  const Bytes v15 = Save(list, 15);
  const Bytes v16 = Save(list, 16);
  EXPECT_EQ(v16.size(), v15.size() + 4);
  for (auto [bytes, count] : {std::pair{v15, 0}, std::pair{v16, 20}}) {
    TUniversalList back;
    ASSERT_TRUE(Load(back, bytes));
    std::string text;
    auto* property = ShortPropText(back.Get(0), 5, text);
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(text, "zwanzig");
    EXPECT_EQ(static_cast<TPr_Char20_Short*>(property)->CharCount, count);
  }
}

TEST(UniversalListStream, PictureOfOtherTypeIsDroppedOnRead) {
  TUniversalList list;
  auto* object = list.NewItem(1, 0, 0, "Bild");
  auto* image = static_cast<TPr_Image_Short*>(object->PreparePropertyListShort().NewItemByID(1, pkImage));
  image->Value_Image = TPicture::FromBytes({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
  EXPECT_EQ(image->Value_Image->PictureType, ptOther);
  const Bytes bytes = Save(list);
  // The picture bytes are written with the type byte 10.
  const Bytes tail{'\n', 0x1A, '\n', 10};
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), tail.begin(), tail.end()), bytes.end());
  TUniversalList back;
  ASSERT_TRUE(Load(back, bytes));
  const TPicture* picture = &*image->Value_Image;
  EXPECT_NE(ShortPropImage(back.Get(0), 1, picture), nullptr);
  EXPECT_EQ(picture, nullptr);
}

TEST(UniversalListStream, HeaderRefusals) {
  TMessageCapture capture;
  auto list = Testing::MakeEveryKindList();
  const Bytes plain = Save(*list, 17, false);
  const Bytes protectedStream = Save(*list, 17, true, "Geheim");

  struct TCase {
    const char* Name;
    Bytes Stream;
    std::string Password;
    bool Result;
    const char* Message;
  };
  Bytes version18 = plain;
  version18[10] = 18;
  Bytes version1 = plain;
  version1[10] = 1;
  Bytes badSignature = plain;
  badSignature[2] ^= 1;
  // A header that says "protected" on a stream that is not enciphered.
  Bytes flagged = plain;
  flagged[5] = 1;
  Bytes badMarker = plain;
  badMarker[12] = 7;
  for (const auto& test : std::vector<TCase>{
           {"protected without password", flagged, "", false, "Das angegebene Passwort ist falsch!"},
           {"enciphered without password", protectedStream, "", false,
            "Diese Datei ist keine gültige UniversalListe !"},
           {"wrong password", protectedStream, "geheim", false, "Das angegebene Passwort ist falsch!"},
           {"password on a plain stream", plain, "Geheim", false, "Das angegebene Passwort ist falsch!"},
           {"version 18", version18, "", true,
            "Die zu öffnende UniList-Datei (Version: 18) hat ein nicht bekanntes Format (MaxVersion: 17).\r\nDie "
            "Datei wird nicht eingelesen."},
           {"version 1", version1, "", true,
            "Die zu öffnende UniList-Datei (Version: 1) hat ein älteres Format als benötigt wird (Version: "
            "17).\r\nDie Datei wird nicht eingelesen."},
           {"signature", badSignature, "", false, "Diese Datei ist keine gültige UniversalListe !"},
           {"list marker", badMarker, "", true, "Die zu öffnende Datei ist keine gültige Uniliste!"},
           {"empty", {}, "", false, "Diese Datei ist keine gültige UniversalListe !"},
       }) {
    SCOPED_TRACE(test.Name);
    capture.Messages.clear();
    TUniversalList back;
    back.NewItem(1, 0, 0, "vorher");
    EXPECT_EQ(Load(back, test.Stream, test.Password), test.Result);
    EXPECT_EQ(back.Count(), 0);
    ASSERT_FALSE(capture.Messages.empty());
    if (test.Message) {
      EXPECT_EQ(capture.Messages.front(), test.Message);
    }
  }
}

TEST(UniversalListStream, OldXorScrambleIsAcceptedWhenReading) {
  auto list = Testing::MakeEveryKindList();
  TMemoryStream stream;
  // The old writers scrambled the packed stream with the password.
  ASSERT_TRUE(list->SaveTo_ExternMemoryStream(stream, true, 17, "Alt"));
  BlowfishDecipher(stream.Bytes(), "Alt");
  XorScramble(stream.Bytes(), "Alt");
  TUniversalList back;
  ASSERT_TRUE(back.LoadFrom_ExternMemoryStream(stream, "Alt", false));
  EXPECT_EQ(Canonical(back), Canonical(*list));
}

TEST(UniversalListStream, PackedAndPlainStreamsAreRecognised) {
  auto list = Testing::MakeEveryKindList();
  const Bytes packed = Save(*list, 17, true);
  EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 4), (Bytes{'W', 'R', 'Z', 'L'}));
  TMemoryStream caller(packed);
  TUniversalList back;
  // Without permission to modify, the caller's stream stays packed.
  ASSERT_TRUE(back.LoadFrom_ExternMemoryStream(caller, {}, false));
  EXPECT_EQ(caller.Bytes(), packed);
  ASSERT_TRUE(back.LoadFrom_ExternMemoryStream(caller, {}, true));
  EXPECT_EQ(caller.Bytes()[0], 1);
  EXPECT_EQ(Canonical(back), Canonical(*list));
}

TEST(UniversalListStream, WriterRefusesUnknownVersions) {
  TMessageCapture capture;
  TUniversalList list;
  TMemoryStream stream;
  for (int version : {1, 14, 18, -3}) {
    EXPECT_FALSE(list.SaveTo_ExternMemoryStream(stream, false, version));
    EXPECT_EQ(capture.Messages.back(), "Die angegebene Version " + std::to_string(version) +
                                           ", unter der die Liste gespeichert werden soll, wird nicht unterstützt.");
  }
}

TEST(UniversalListStream, DamagedStreamsNeverCrashOrOverread) {
  TMessageCapture capture;
  auto list = Testing::MakeEveryKindList();
  const Bytes plain = Save(*list, 17, false);
  // Every truncation.
  for (std::size_t length = 0; length < plain.size(); length += 7) {
    TUniversalList back;
    Load(back, Bytes(plain.begin(), plain.begin() + static_cast<long>(length)));
  }
  // Random damage of plain and packed forms.
  std::mt19937 random(5);
  for (const Bytes& original : {plain, Save(*list, 16, true), Save(*list, 17, true, "pw")}) {
    for (int round = 0; round < 300; ++round) {
      Bytes damaged = original;
      for (int flips = 0; flips < 4; ++flips)
        damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
      TUniversalList back;
      Load(back, damaged, round % 2 ? "pw" : "");
    }
  }
  EXPECT_FALSE(capture.Messages.empty());
}

TEST(UniversalListStream, NestingDeeperThanTheBoundIsRefused) {
  TMessageCapture capture;
  TUniversalList list;
  TUniversalObject* object = list.NewItem(0, 0, 0, "0");
  for (int depth = 1; depth < kMaxNestingDepth + 20; ++depth)
    object = object->PrepareChildList().NewItem(depth, 0, 0, std::to_string(depth));
  const Bytes bytes = Save(list);
  TUniversalList back;
  EXPECT_TRUE(Load(back, bytes));
  EXPECT_TRUE(capture.AnyContains("verschachtelt"));
  // The levels within the bound were read.
  int depth = 0;
  for (const TUniversalObject* node = back.Get(0); node && node->HasObjectChilds(); node = node->GetFirstChild())
    ++depth;
  EXPECT_GT(depth, kMaxNestingDepth - 5);
  EXPECT_LT(depth, kMaxNestingDepth);
}

TEST(UniversalListStream, FaultsAreReportedAtTheirLevel) {
  TMessageCapture capture;
  TUniversalList list;
  auto* first = list.NewItem(1, 0, 0, "eins");
  first->PreparePropertyListShort().NewItemByID(1, pkLongInt);
  list.NewItem(2, 0, 0, "zwei");
  Bytes bytes = Save(list);
  // The short property's kind becomes the old pkCalcLevel.
  const Bytes marker{kMarkerShortPropertyStart, pkLongInt};
  auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  ASSERT_NE(at, bytes.end());
  at[1] = pkMultiBit;
  TUniversalList back;
  EXPECT_TRUE(Load(back, bytes));
  ASSERT_FALSE(capture.Messages.empty());
  EXPECT_EQ(capture.Messages.front(),
            "Beim Laden des Memory-Streams ist in einer Propertylist_Short ein Fehler aufgetreten.\r\nDie "
            "Eigenschaftsart pkCalcLevel wird nicht mehr unterstützt!");
  // The property list is cleared; the objects are still read.
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.Get(0)->ShortProps()->Count(), 0);
  EXPECT_EQ(back.Get(1)->Name(), "zwei");
}

class UniversalListFile : public ::testing::Test {
 protected:
  QuorvaneTest::TTempDir fFolder{"unilist"};
};

TEST_F(UniversalListFile, SaveAndLoad) {
  TMessageCapture capture;
  auto list = Testing::MakeEveryKindList();
  const std::string name = (fFolder / "a" / "list.uni").string();
  int before = 0;
  list->BeforeDirectSaveToFile = [&](TUniversalList&) { ++before; };
  ASSERT_TRUE(list->SaveTo_File(name, true, "pw", true));
  EXPECT_EQ(before, 1);
  EXPECT_EQ(list->FileName(), name);
  TUniversalList back;
  ASSERT_TRUE(back.LoadFrom_File(name, "pw"));
  EXPECT_EQ(Canonical(back), Canonical(*list));
  EXPECT_FALSE(back.LoadFrom_File(name + "x"));
  EXPECT_EQ(capture.Messages.back(), "Die Datei >" + name + "x< wurde nicht gefunden!");
  EXPECT_FALSE(back.SaveTo_File(""));
  EXPECT_EQ(capture.Messages.back(), "Ein Dateiname muß mindestens aus einem Buchstaben bestehen!");
}

}  // namespace
}  // namespace UniObject

namespace UniObject {
namespace {

TEST(UniversalModel, NewObjectsAndIndexErrors) {
  TMessageCapture capture;
  TUniversalList list;
  EXPECT_EQ(list.Get(0), nullptr);
  ASSERT_EQ(capture.Messages.size(), 1u);
  EXPECT_EQ(capture.Messages[0],
            "Der angegebene Index liegt außerhalb der Grenzwerte.  -  Index: 0, Maximal möglicher Wert: -1");
  auto* parent = list.NewItem(5, 6, 7, "Eltern");
  EXPECT_EQ(parent->StatusDef(), TUniversalObject::Status_Changed);
  EXPECT_EQ(parent->LastUpdate().Value(), 36526.0);
  EXPECT_EQ(parent->ParentID(), 0);
  auto* child = parent->PrepareChildList().NewItem(1, 0, 0, "Kind");
  EXPECT_EQ(child->ParentID(), 5);
  EXPECT_EQ(child->ParentID2(), 6);
  EXPECT_EQ(child->ParentList(), parent->ChildList());
  child->SetPrivateStatusBit(0, true);
  child->SetPrivateStatusBit(16, true);  // ignored
  EXPECT_EQ(child->StatusDef(), TUniversalObject::Status_Changed | (1u << 15));
  child->SetStatusBit(TUniversalObject::Status_Deleted, true);
  EXPECT_TRUE(child->GetStatusBit(TUniversalObject::Status_Changed));
}

TEST(UniversalModel, SearchByNameIsDepthFirst) {
  TUniversalList list;
  auto* first = list.NewItem(1, 0, 0, "a");
  auto* grandchild = first->PrepareChildList().NewItem(2, 0, 0, "b")->PrepareChildList().NewItem(3, 0, 0, "Ziel");
  auto* later = list.NewItem(4, 0, 0, "Ziel");
  EXPECT_EQ(list.SearchObjectByName("Ziel", false), grandchild);
  EXPECT_EQ(list.SearchObjectByName("Ziel", true), later);
  EXPECT_EQ(list.SearchObjectByName("ZIEL", true), nullptr);
  EXPECT_EQ(list.SearchObjectByName("ZIEL", true, true), later);
  EXPECT_EQ(TUniversalList().SearchObjectByName("Ziel", false), nullptr);
}

TEST(UniversalModel, AssignCopiesTheAskedDepth) {
  TUniversalList source;
  auto* top = source.NewItem(1, 0, 0, "oben");
  top->PreparePropertyListShort().NewItemByID(9, pkBoolean);
  top->PrepareChildList().NewItem(2, 0, 0, "Kind")->PrepareChildList().NewItem(3, 0, 0, "Enkel");

  TUniversalList target;
  auto* copy = target.NewItem(0, 0, 0, "");
  copy->Assign(top, true, true, 1);
  EXPECT_EQ(copy->Name(), "oben");
  EXPECT_TRUE(copy->HasObjectShortProps());
  ASSERT_TRUE(copy->HasObjectChilds());
  EXPECT_FALSE(copy->GetFirstChild()->HasObjectChilds());

  copy->Assign(top, false, true, 0);
  ASSERT_TRUE(copy->GetFirstChild()->HasObjectChilds());
  EXPECT_EQ(copy->GetFirstChild()->GetFirstChild()->Name(), "Enkel");

  TUniversalList whole;
  whole.Assign(&source, false, true, 0);
  EXPECT_EQ(Canonical(whole), Canonical(source));
  whole.Assign(&source, false, true, 1);
  EXPECT_FALSE(whole.Get(0)->HasObjectChilds());
  EXPECT_EQ(whole.CopyItem(nullptr, true, true, 0), nullptr);

  // A nil source deletes the object from its list.
  whole.Get(0)->Assign(nullptr, false, false, 0);
  EXPECT_EQ(whole.Count(), 0);
}

TEST(UniversalModel, ChildAccessAndShortPropertyHelpers) {
  TUniversalList list;
  auto* object = list.NewItem(1, 0, 0, "o");
  auto* child = object->PrepareChildList().NewItem(2, 0, 0, "c");
  EXPECT_TRUE(object->HasObjectChilds(akAll));
  EXPECT_FALSE(object->HasObjectChilds(akRead));
  child->SetSecurityValue(1u << akRead);
  EXPECT_TRUE(object->HasObjectChilds(akRead));
  UniListSettings().MaxAccessKind = akNavigate;
  EXPECT_FALSE(object->HasObjectChilds(akRead));
  UniListSettings().MaxAccessKind = akAll;

  auto& shorts = object->PreparePropertyListShort();
  static_cast<TPr_Char20_Short*>(shorts.NewItemByID(1, pkChar20))->Value_Text = "zwanzig";
  static_cast<TPr_LongInt_Short*>(shorts.NewItemByID(2, pkLongInt))->SetValue(5);
  static_cast<TPr_Link_Short*>(shorts.NewItemByID(3, pkLink))->Value_Text = "Verweis";
  std::string text = "alt";
  EXPECT_NE(ShortPropText(object, 1, text), nullptr);
  EXPECT_EQ(text, "zwanzig");
  EXPECT_EQ(ShortPropText(object, 2, text), nullptr);
  EXPECT_EQ(text, "");
  EXPECT_NE(ShortPropText(object, 3, text), nullptr);
  EXPECT_EQ(text, "Verweis");
  std::int32_t number = -1;
  EXPECT_NE(ShortPropLongInt(object, 2, number), nullptr);
  EXPECT_EQ(number, 5);
  EXPECT_EQ(ShortPropLongInt(object, 1, number), nullptr);
  EXPECT_EQ(number, 0);
  bool flag = true;
  EXPECT_EQ(ShortPropBoolean(child, 1, flag), nullptr);
  EXPECT_FALSE(flag);
}

}  // namespace
}  // namespace UniObject
