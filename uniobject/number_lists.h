#pragma once

// Number lists and tables carried inside universal-object properties: ID lists, the
// property-source data of every property and the values of multi-list properties.
//
// Each list writes its own stream record (marker byte first) and reads it back starting
// right after the marker, which the caller has already consumed; tables read the marker
// of each row themselves. Index errors and load/save failures follow the library-wide
// error modes (settings.h): in message mode they are shown and the call yields 0, false
// or -1. Loading never trusts a count beyond what the rest of the stream can hold.
//
// Not thread-safe.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uniobject/memory_stream.h"
#include "uniobject/types.h"

namespace UniObject {

// Stream markers of the number lists.
inline constexpr std::uint8_t kMarkerIntegerList = 21;
inline constexpr std::uint8_t kMarkerIntegerList2D = 22;
inline constexpr std::uint8_t kMarkerIntegerDoubleList = 23;
inline constexpr std::uint8_t kMarkerDoubleList = 24;
inline constexpr std::uint8_t kMarkerDoubleList2D = 25;

struct TIntDbl {
  std::int32_t IntValue = 0;
  double DblValue = 0.0;
  friend bool operator==(const TIntDbl&, const TIntDbl&) = default;
};

// The German texts of one list class.
struct TNumberListTexts {
  const char* LoadStreamError;  // "Beim Laden des Memory-Streams der ... ist ein Fehler aufgetreten."
  const char* SaveFileError;    // "Die Daten der ... wurden nicht ordnungsgemäß gespeichert."
  const char* NotAListFile;     // "Diese Datei ist keine gültige ...!"
};

class TCustomNumberList {
 public:
  virtual ~TCustomNumberList() = default;
  // Sorts the list in its natural order (integers and floats ascending, pairs by their
  // integers, tables by their first column).
  virtual void SortAllItems() = 0;
  virtual void DeleteAllDuplicates() = 0;

  bool Sorted() const { return fSorted; }
  // true sorts at once.
  void SetSorted(bool aValue);
  bool Duplicates() const { return fDuplicates; }
  // false removes duplicates at once.
  void SetDuplicates(bool aValue);

 protected:
  bool fSorted = false;
  bool fDuplicates = true;
};

// The shared body of the three one-dimensional lists.
template <typename TItem>
class TNumberListOf : public TCustomNumberList {
 public:
  using ItemType = TItem;

  int Count() const { return static_cast<int>(fItems.size()); }
  const std::vector<TItem>& Values() const { return fItems; }
  // The item at aIndex; outside the list: the index error, then a zero item.
  TItem Items(int aIndex) const;
  bool SetItems(int aIndex, const TItem& aValue);

  // Appends (applying the duplicates and sorted rules); false when refused.
  bool NewItem(const TItem& aValue);
  bool Insert(int aIndex, const TItem& aValue);
  bool Delete(int aIndex);
  bool Exchange(int aIndex1, int aIndex2);
  bool Move(int aCurIndex, int aNewIndex);
  int IndexOfNumber(const TItem& aValue) const;
  // Removes the first item equal to aValue; its former index or -1.
  int RemoveByNumber(const TItem& aValue);
  // Replaces every occurrence; the number of replacements.
  int SearchAndReplace(const TItem& aNumberToReplace, const TItem& aNewNumber);
  void ReserveCapacity(int aNewItemCountToReserve);
  void ResetAllCapacity();
  void Clear();
  void Assign(const TNumberListOf& aSource);
  void SortAllItems() override;
  void DeleteAllDuplicates() override;

  // Bytes of the stream record, marker included.
  std::size_t GetSaveSize() const;
  void SaveTo_MemoryStream(TMemoryStream& aStream, bool aSetStreamSizeBeforeStart = false) const;
  // Starts right after the marker. On failure: the list is cleared, the load message
  // shown (or EUniListReadError raised) and false returned.
  bool LoadFrom_MemoryStream(TMemoryStream& aStream);
  bool SaveTo_File(const std::string& aFileName) const;
  bool LoadFrom_File(const std::string& aFileName);

  // Reads the record after the marker, throwing EUniListReadError on any fault (used
  // by tables and the universal-list reader, which report at their own level).
  void ReadRecord(TMemoryStream& aStream);

  friend bool operator==(const TNumberListOf& aLeft, const TNumberListOf& aRight) {
    return aLeft.fItems == aRight.fItems;
  }

 protected:
  TNumberListOf(std::uint8_t aMarker, const TNumberListTexts& aTexts) : fMarker(aMarker), fTexts(&aTexts) {}
  TNumberListOf(const TNumberListOf&) = default;
  TNumberListOf& operator=(const TNumberListOf&) = default;

  // The key of the duplicates rule and the order of the sorted rule.
  virtual bool SameKey(const TItem& aLeft, const TItem& aRight) const { return aLeft == aRight; }
  virtual bool Greater(const TItem& aLeft, const TItem& aRight) const = 0;
  virtual void NotifyNewItem(int /*aIndex*/) {}
  virtual void NotifyDeleting(int /*aIndex*/) {}
  virtual void NotifyChange() {}

  void Append(const TItem& aValue);
  // Shell sort with the given "out of order" test.
  void ShellSort(const std::function<bool(const TItem&, const TItem&)>& aOutOfOrder);

  std::vector<TItem> fItems;
  std::uint8_t fMarker;
  const TNumberListTexts* fTexts;
};

extern template class TNumberListOf<std::int32_t>;
extern template class TNumberListOf<double>;
extern template class TNumberListOf<TIntDbl>;

class TIntegerList : public TNumberListOf<std::int32_t> {
 public:
  // A custom comparison: <0, 0, >0 like a three-way compare; aParam is handed through.
  using TILICustomSortProc = std::function<int(std::int32_t aLeft, std::int32_t aRight, std::intptr_t aParam)>;
  using TIndexEvent = std::function<void(TIntegerList& aList, int aIndex)>;

  TIntegerList();

  void CustomSort(const TILICustomSortProc& aCompare, std::intptr_t aParam = 0);
  // True when both lists hold the same numbers in the same order.
  bool CompareList(const TIntegerList& aListToCompare) const { return fItems == aListToCompare.fItems; }
  TUniListStatus ListStatus() const { return fListStatus; }

  std::function<void(TIntegerList&)> OnChange;
  TIndexEvent OnNewItem;
  TIndexEvent OnDeleting;

 protected:
  bool Greater(const std::int32_t& aLeft, const std::int32_t& aRight) const override { return aLeft > aRight; }
  void NotifyNewItem(int aIndex) override;
  void NotifyDeleting(int aIndex) override;
  void NotifyChange() override;

 private:
  TUniListStatus fListStatus = lsReady;
  friend class TNumberListOf<std::int32_t>;
};

class TDoubleList : public TNumberListOf<double> {
 public:
  TDoubleList();

 protected:
  bool Greater(const double& aLeft, const double& aRight) const override { return aLeft > aRight; }
};

class TIntegerDoubleList : public TNumberListOf<TIntDbl> {
 public:
  TIntegerDoubleList();

  bool NewItem(std::int32_t aIntValue, double aDblValue) { return TNumberListOf::NewItem({aIntValue, aDblValue}); }
  using TNumberListOf::NewItem;
  void SortByIntegerValues(bool aSortDirectionForward = true);
  void SortByDoubleValues(bool aSortDirectionForward = true);
  // Sets the float of the first pair with aIntValue; false when there is none.
  bool EditDblValue(std::int32_t aIntValue, double aNewDblValue);
  int IndexOfIntValue(std::int32_t aIntValue) const;
  int RemoveByIntValue(std::int32_t aIntValue);
  int SearchAndReplaceIntValue(std::int32_t aIntValueToReplace, std::int32_t aNewIntValue);

 protected:
  // Pairs are keyed by their integer for the duplicates and sorted rules.
  bool SameKey(const TIntDbl& aLeft, const TIntDbl& aRight) const override { return aLeft.IntValue == aRight.IntValue; }
  bool Greater(const TIntDbl& aLeft, const TIntDbl& aRight) const override { return aLeft.IntValue > aRight.IntValue; }
};

// Tables: rows of exactly ColCount numbers, each row a list of its own.
template <typename TRowList>
class TNumberList2DOf : public TCustomNumberList {
 public:
  using ItemType = typename TRowList::ItemType;
  using TRow = std::vector<ItemType>;

  int ColCount() const { return fColCount; }
  int RowCount() const { return static_cast<int>(fRows.size()); }
  // The value at a cell; outside the table: the index error, then 0.
  ItemType Items(int aRow, int aCol) const;
  bool SetItems(int aRow, int aCol, ItemType aValue);
  // A copy of a row; outside the table: the index error, then an empty row.
  TRow GetRow(int aRow) const;
  bool PutRow(int aRow, const TRow& aValues);

  // Appends a row (duplicates and sorted rules apply); a row of the wrong length is
  // refused with "Das gegebene Listenelement hat nicht die richtige Länge! ...".
  bool NewItem(const TRow& aValues);
  bool Insert(int aIndex, const TRow& aValues);
  bool Delete(int aIndex);
  bool Exchange(int aIndex1, int aIndex2);
  bool Move(int aCurIndex, int aNewIndex);
  // The first row whose value in aColIndex equals aNumber, or -1.
  int IndexOfNumber(ItemType aNumber, int aColIndex) const;
  int IndexOfRow(const TRowList& aRowToSearch) const { return IndexOf_AllColValuesInOneRow(aRowToSearch.Values()); }
  int IndexOf_AllColValuesInOneRow(const TRow& aValues) const;
  int RemoveByNumber(ItemType aNumber, int aColIndex);
  int SearchAndReplace(ItemType aNumberToReplace, ItemType aNewNumber);
  void ReserveCapacity(int aNewItemCountToReserve);
  void ResetAllCapacity();
  void Clear();
  void Assign(const TNumberList2DOf& aSource);
  // Sorts the rows ascending by one column; an invalid column does nothing.
  void DoSortAllItems(int aColIndex);
  void SortAllItems() override { DoSortAllItems(0); }
  void DeleteAllDuplicates() override;

  std::size_t GetSaveSize() const;
  void SaveTo_MemoryStream(TMemoryStream& aStream, bool aSetStreamSizeBeforeStart = false) const;
  bool LoadFrom_MemoryStream(TMemoryStream& aStream);
  bool SaveTo_File(const std::string& aFileName) const;
  bool LoadFrom_File(const std::string& aFileName);
  void ReadRecord(TMemoryStream& aStream);

  friend bool operator==(const TNumberList2DOf& aLeft, const TNumberList2DOf& aRight) {
    return aLeft.fColCount == aRight.fColCount && aLeft.fSorted == aRight.fSorted &&
           aLeft.fDuplicates == aRight.fDuplicates && aLeft.fRows == aRight.fRows;
  }

 protected:
  TNumberList2DOf(int aCountOfCol, std::uint8_t aMarker, const TNumberListTexts& aTexts)
      : fColCount(aCountOfCol < 0 ? 0 : aCountOfCol), fMarker(aMarker), fTexts(&aTexts) {}

 private:
  bool CheckRowLength(std::size_t aLength) const;
  bool CheckIndex(int aIndex) const;

  int fColCount;
  std::vector<TRow> fRows;
  std::uint8_t fMarker;
  const TNumberListTexts* fTexts;
};

extern template class TNumberList2DOf<TIntegerList>;
extern template class TNumberList2DOf<TDoubleList>;

class TIntegerList2D : public TNumberList2DOf<TIntegerList> {
 public:
  explicit TIntegerList2D(int aCountOfCol);
};

class TDoubleList2D : public TNumberList2DOf<TDoubleList> {
 public:
  explicit TDoubleList2D(int aCountOfCol);
};

}  // namespace UniObject
