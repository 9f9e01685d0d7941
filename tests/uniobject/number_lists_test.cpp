#include "uniobject/number_lists.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"
#include "tests/uniobject/message_capture.h"

namespace UniObject {
namespace {

using Testing::TMessageCapture;

std::vector<std::int32_t> Values(const TIntegerList& aList) {
  return aList.Values();
}

TIntegerList Make(std::initializer_list<std::int32_t> aValues) {
  TIntegerList list;
  for (auto value : aValues)
    list.NewItem(value);
  return list;
}

TEST(IntegerList, EmptyListWritesFiveBytes) {
  TIntegerList list;
  TMemoryStream stream;
  list.SaveTo_MemoryStream(stream);
  EXPECT_EQ(stream.Bytes(), (std::vector<std::uint8_t>{21, 0, 0, 0, 0}));
}

TEST(IntegerList, SortedAndDuplicatesRules) {
  struct TCase {
    std::vector<std::int32_t> Input;
    std::vector<std::int32_t> Expected;
  };
  for (const TCase& test : std::vector<TCase>{{{5, 3}, {3, 5}},
                                              {{9, 1, 5}, {1, 5, 9}},
                                              {{}, {}},
                                              {{7}, {7}},
                                              {{4, 4, 1, -3, 8, 0, 2, 2, 9, -1}, {-3, -1, 0, 1, 2, 2, 4, 4, 8, 9}}}) {
    TIntegerList list;
    for (auto value : test.Input)
      list.NewItem(value);
    list.SetSorted(true);
    EXPECT_EQ(Values(list), test.Expected);
  }

  // A sorted list places new items in front of the first greater one: equal items keep
  // their order of arrival.
  TIntegerList sorted;
  sorted.SetSorted(true);
  std::vector<int> order;
  sorted.OnNewItem = [&](TIntegerList&, int aIndex) { order.push_back(aIndex); };
  for (auto value : {4, 2, 4})
    EXPECT_TRUE(sorted.NewItem(value));
  EXPECT_EQ(Values(sorted), (std::vector<std::int32_t>{2, 4, 4}));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

  auto dups = Make({1, 2, 1, 3, 2});
  dups.SetDuplicates(false);
  EXPECT_EQ(Values(dups), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_FALSE(dups.NewItem(2));
  EXPECT_EQ(dups.Count(), 3);
}

TEST(IntegerList, EditingOperations) {
  TMessageCapture capture;
  auto list = Make({10, 20, 30});
  EXPECT_TRUE(list.Insert(1, 15));
  EXPECT_TRUE(list.Insert(4, 40));
  EXPECT_EQ(Values(list), (std::vector<std::int32_t>{10, 15, 20, 30, 40}));
  EXPECT_TRUE(list.Move(0, 4));
  EXPECT_EQ(Values(list), (std::vector<std::int32_t>{15, 20, 30, 40, 10}));
  EXPECT_TRUE(list.Exchange(0, 1));
  EXPECT_EQ(list.IndexOfNumber(15), 1);
  EXPECT_EQ(list.RemoveByNumber(30), 2);
  EXPECT_EQ(list.SearchAndReplace(10, 11), 1);
  EXPECT_EQ(Values(list), (std::vector<std::int32_t>{20, 15, 40, 11}));
  EXPECT_TRUE(capture.Messages.empty());

  // Out of range: the index message and a neutral result, the list unchanged.
  EXPECT_EQ(list.Items(4), 0);
  EXPECT_FALSE(list.Insert(6, 1));
  EXPECT_FALSE(list.Delete(-1));
  ASSERT_EQ(capture.Messages.size(), 3u);
  EXPECT_EQ(capture.Messages[0],
            "Der angegebene Index liegt außerhalb der Grenzwerte.  -  Index: 4, Maximal möglicher Wert: 3");
  EXPECT_EQ(list.Count(), 4);

  list.CustomSort(
      [](std::int32_t aLeft, std::int32_t aRight, std::intptr_t aParam) {
        return static_cast<int>(aParam) * (aLeft < aRight ? -1 : aLeft > aRight ? 1 : 0);
      },
      -1);
  EXPECT_EQ(Values(list), (std::vector<std::int32_t>{40, 20, 15, 11}));
}

TEST(IntegerList, StreamRoundTripAndTruncation) {
  TMessageCapture capture;
  auto list = Make({-1, 0, 2147483647});
  TMemoryStream stream;
  list.SaveTo_MemoryStream(stream);
  EXPECT_EQ(stream.Size(), list.GetSaveSize());
  stream.SetPosition(1);
  TIntegerList copy;
  ASSERT_TRUE(copy.LoadFrom_MemoryStream(stream));
  EXPECT_TRUE(copy.CompareList(list));

  // A count that the stream cannot hold clears the list and reports the list's message.
  TMemoryStream lying;
  lying.WriteI32(1000000);
  lying.WriteI32(5);
  lying.SetPosition(0);
  EXPECT_FALSE(copy.LoadFrom_MemoryStream(lying));
  EXPECT_EQ(copy.Count(), 0);
  EXPECT_EQ(capture.Messages.back(), "Beim Laden des Memory-Streams der IntegerListe ist ein Fehler aufgetreten.");
  TMemoryStream negative;
  negative.WriteI32(-1);
  negative.SetPosition(0);
  EXPECT_FALSE(copy.LoadFrom_MemoryStream(negative));
}

TEST(IntegerDoubleList, PairsTakeSixteenBytesAndSort) {
  TIntegerDoubleList list;
  list.NewItem(3, 0.5);
  list.NewItem(1, 2.5);
  list.NewItem(2, -1.0);
  TMemoryStream stream;
  list.SaveTo_MemoryStream(stream);
  EXPECT_EQ(stream.Size(), 5u + 3 * 16);
  stream.SetPosition(1);
  TIntegerDoubleList copy;
  ASSERT_TRUE(copy.LoadFrom_MemoryStream(stream));
  EXPECT_TRUE(copy == list);

  list.SortByIntegerValues(true);
  EXPECT_EQ(list.Items(0).IntValue, 1);
  list.SortByDoubleValues(false);
  EXPECT_EQ(list.Items(0).DblValue, 2.5);
  EXPECT_TRUE(list.EditDblValue(2, 9.0));
  EXPECT_EQ(list.Items(list.IndexOfIntValue(2)).DblValue, 9.0);
  EXPECT_FALSE(list.EditDblValue(7, 1.0));
}

TEST(NumberTables, RowsSortedFlagAndLengthRule) {
  TMessageCapture capture;
  TIntegerList2D table(2);
  table.SetSorted(true);
  EXPECT_TRUE(table.NewItem({5, 1}));
  EXPECT_TRUE(table.NewItem({2, 7}));
  EXPECT_TRUE(table.NewItem({5, 0}));
  EXPECT_FALSE(table.NewItem({1, 2, 3}));
  EXPECT_EQ(capture.Messages.back(),
            "Das gegebene Listenelement hat nicht die richtige Länge! ( 2 Spalten sind erforderlich)");
  EXPECT_EQ(table.GetRow(0), (std::vector<std::int32_t>{2, 7}));
  EXPECT_EQ(table.GetRow(2), (std::vector<std::int32_t>{5, 0}));
  EXPECT_EQ(table.IndexOfNumber(7, 1), 0);
  EXPECT_EQ(table.IndexOf_AllColValuesInOneRow({5, 0}), 2);
  EXPECT_EQ(table.IndexOf_AllColValuesInOneRow({5}), -1);

  TMemoryStream stream;
  table.SaveTo_MemoryStream(stream);
  EXPECT_EQ(stream.Size(), table.GetSaveSize());
  stream.SetPosition(1);
  TIntegerList2D copy(0);
  ASSERT_TRUE(copy.LoadFrom_MemoryStream(stream));
  EXPECT_TRUE(copy.Sorted());
  EXPECT_TRUE(copy == table);

  table.SetSorted(false);
  table.DoSortAllItems(1);
  EXPECT_EQ(table.GetRow(0), (std::vector<std::int32_t>{5, 0}));
  table.DoSortAllItems(5);  // an invalid column does nothing
  EXPECT_EQ(table.GetRow(0), (std::vector<std::int32_t>{5, 0}));

  TDoubleList2D doubles(1);
  doubles.SetDuplicates(false);
  EXPECT_TRUE(doubles.NewItem({1.5}));
  EXPECT_FALSE(doubles.NewItem({1.5}));
}

TEST(NumberTables, RowOfWrongLengthInStreamIsRefused) {
  TMessageCapture capture;
  TMemoryStream stream;
  stream.WriteI32(2);  // columns
  stream.WriteU8(0);
  stream.WriteU8(1);
  stream.WriteI32(1);  // rows
  stream.WriteU8(kMarkerIntegerList);
  stream.WriteI32(1);  // a row of one value
  stream.WriteI32(42);
  stream.SetPosition(0);
  TIntegerList2D table(0);
  EXPECT_FALSE(table.LoadFrom_MemoryStream(stream));
  EXPECT_EQ(table.RowCount(), 0);
  EXPECT_EQ(capture.Messages.back(), "Beim Laden des Memory-Streams der IntegerListe2D ist ein Fehler aufgetreten.");
}

class NumberListFile : public ::testing::Test {
 protected:
  QuorvaneTest::TTempDir fFolder{"numlist"};
};

TEST_F(NumberListFile, RoundTripAndRefusals) {
  TMessageCapture capture;
  const std::string name = (fFolder / "sub" / "list.bin").string();
  auto list = Make({3, 1, 2});
  ASSERT_TRUE(list.SaveTo_File(name));  // creates the missing folder
  TIntegerList copy;
  ASSERT_TRUE(copy.LoadFrom_File(name));
  EXPECT_TRUE(copy.CompareList(list));

  TDoubleList doubles;
  EXPECT_FALSE(doubles.LoadFrom_File(name));
  EXPECT_EQ(capture.Messages.back(), "Diese Datei ist keine gültige Doublelist!");

  EXPECT_FALSE(list.SaveTo_File(""));
  EXPECT_EQ(capture.Messages.back(), "Ein Dateiname muß mindestens aus einem Buchstaben bestehen!");
  EXPECT_FALSE(copy.LoadFrom_File(name + ".missing"));
  EXPECT_EQ(capture.Messages.back(), "Die Datei >" + name + ".missing< wurde nicht gefunden!");

  if (::geteuid() != 0) {
    std::filesystem::permissions(name, std::filesystem::perms::owner_read);
    EXPECT_FALSE(list.SaveTo_File(name));
    EXPECT_EQ(capture.Messages.back(),
              "Die Datei >" + name + "< ist schreibgeschützt vorhanden und kann nicht überschrieben werden.");
  }
}

}  // namespace
}  // namespace UniObject
