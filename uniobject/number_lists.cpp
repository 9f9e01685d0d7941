#include "uniobject/number_lists.h"

#include <algorithm>
#include <new>
#include <type_traits>

#include "uniobject/settings.h"

namespace UniObject {

namespace {

constexpr TNumberListTexts kIntegerListTexts{
    "Beim Laden des Memory-Streams der IntegerListe ist ein Fehler aufgetreten.",
    "Die Daten der IntegerList wurden nicht ordnungsgemäß gespeichert.", "Diese Datei ist keine gültige Integerlist!"};
constexpr TNumberListTexts kDoubleListTexts{"Beim Laden des Memory-Streams der DoubleListe ist ein Fehler aufgetreten.",
                                            "Die Daten der DoubleList wurden nicht ordnungsgemäß gespeichert.",
                                            "Diese Datei ist keine gültige Doublelist!"};
constexpr TNumberListTexts kIntegerDoubleListTexts{
    "Beim Laden des Memory-Streams der IntegerDoubleListe ist ein Fehler aufgetreten.",
    "Die Daten der IntegerDoubleList wurden nicht ordnungsgemäß gespeichert.",
    "Diese Datei ist keine gültige IntegerDoubleList!"};
constexpr TNumberListTexts kIntegerList2DTexts{
    "Beim Laden des Memory-Streams der IntegerListe2D ist ein Fehler aufgetreten.",
    "Die Daten der IntegerList2D wurden nicht ordnungsgemäß gespeichert.",
    "Diese Datei ist keine gültige Integerlist2D!"};
constexpr TNumberListTexts kDoubleList2DTexts{
    "Beim Laden des Memory-Streams der DoubleListe2D ist ein Fehler aufgetreten.",
    "Die Daten der DoubleList2D wurden nicht ordnungsgemäß gespeichert.",
    "Diese Datei ist keine gültige Doublelist2D!"};

void WriteItem(TMemoryStream& aStream, std::int32_t aValue) {
  aStream.WriteI32(aValue);
}
void WriteItem(TMemoryStream& aStream, double aValue) {
  aStream.WriteDouble(aValue);
}
// A pair is 16 bytes as in memory: the integer, 4 bytes of no meaning (written as zero)
// and the float.
void WriteItem(TMemoryStream& aStream, const TIntDbl& aValue) {
  aStream.WriteI32(aValue.IntValue);
  aStream.WriteU32(0);
  aStream.WriteDouble(aValue.DblValue);
}
void ReadItem(TMemoryStream& aStream, std::int32_t& aValue) {
  aValue = aStream.ReadI32();
}
void ReadItem(TMemoryStream& aStream, double& aValue) {
  aValue = aStream.ReadDouble();
}
void ReadItem(TMemoryStream& aStream, TIntDbl& aValue) {
  aValue.IntValue = aStream.ReadI32();
  aStream.ReadU32();
  aValue.DblValue = aStream.ReadDouble();
}
template <typename T>
constexpr std::size_t ItemSize() {
  if constexpr (std::is_same_v<T, TIntDbl>)
    return 16;
  else
    return sizeof(T);
}

template <typename TVector>
void GrowFor(TVector& aItems) {
  if (aItems.size() == aItems.capacity())
    aItems.reserve(NextListCapacity(aItems.capacity(), aItems.size()));
}

template <typename TVector>
void ShrinkToFour(TVector& aItems) {
  aItems.clear();
  if (aItems.capacity() > 4) {
    TVector fresh;
    fresh.reserve(4);
    aItems.swap(fresh);
  }
}

// The Shell sort of the model: the gap starts at (count - 1) div 2 (1 for two items) and is
// halved after each pass until a pass with gap 1 has been done; within a pass each item is
// swapped backwards by the gap while it is out of order with its predecessor.
template <typename T, typename TOutOfOrder>
void ShellSortItems(std::vector<T>& aItems, TOutOfOrder aOutOfOrder) {
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(aItems.size());
  if (count < 2)
    return;
  std::ptrdiff_t gap = count == 2 ? 1 : (count - 1) / 2;
  while (gap >= 1) {
    for (std::ptrdiff_t i = gap; i < count; ++i) {
      for (std::ptrdiff_t j = i - gap; j >= 0 && aOutOfOrder(aItems[j], aItems[j + gap]); j -= gap)
        std::swap(aItems[j], aItems[j + gap]);
    }
    gap /= 2;
  }
}

template <typename TVector>
bool MoveItem(TVector& aItems, int aCurIndex, int aNewIndex) {
  const int count = static_cast<int>(aItems.size());
  if (aCurIndex < 0 || aCurIndex >= count) {
    UniListIndexError(aCurIndex, count - 1);
    return false;
  }
  if (aNewIndex < 0 || aNewIndex >= count) {
    UniListIndexError(aNewIndex, count - 1);
    return false;
  }
  auto value = std::move(aItems[aCurIndex]);
  aItems.erase(aItems.begin() + aCurIndex);
  aItems.insert(aItems.begin() + aNewIndex, std::move(value));
  return true;
}

template <typename TVector>
bool ExchangeItems(TVector& aItems, int aIndex1, int aIndex2) {
  const int count = static_cast<int>(aItems.size());
  for (int index : {aIndex1, aIndex2}) {
    if (index < 0 || index >= count) {
      UniListIndexError(index, count - 1);
      return false;
    }
  }
  std::swap(aItems[aIndex1], aItems[aIndex2]);
  return true;
}

// Loads a list's file form: a 2-byte value (not checked), the list's own marker, then
// its record.
template <typename TList>
bool LoadListFile(TList& aList, const std::string& aFileName, std::uint8_t aMarker, const TNumberListTexts& aTexts) {
  if (!FileExists(aFileName)) {
    UniListReadError(Format("Die Datei >%s< wurde nicht gefunden!", aFileName.c_str()));
    return false;
  }
  std::string cause;
  std::vector<std::uint8_t> bytes;
  try {
    if (!ReadWholeFile(aFileName, bytes, cause))
      throw EUniListReadError(cause);
    TMemoryStream stream(std::move(bytes));
    stream.ReadU16();
    if (stream.ReadU8() != aMarker) {
      aList.Clear();
      UniListReadError(aTexts.NotAListFile);
      return false;
    }
    aList.ReadRecord(stream);
    return true;
  } catch (const std::exception& error) {
    aList.Clear();
    UniListReadError(
        Format("Die Daten der Datei >%s< wurden nicht ordnungsgemäß geladen.\r\n%s", aFileName.c_str(), error.what()));
    return false;
  }
}

template <typename TList>
bool SaveListFile(const TList& aList, const std::string& aFileName, const TNumberListTexts& aTexts) {
  const std::string refusal = SaveFileCheck(aFileName);
  if (!refusal.empty()) {
    UniListWriteError(refusal);
    return false;
  }
  TMemoryStream stream;
  stream.WriteU16(1);
  aList.SaveTo_MemoryStream(stream);
  std::string cause;
  if (!WriteWholeFile(aFileName, stream.Bytes(), cause)) {
    UniListWriteError(std::string(aTexts.SaveFileError) + "\r\n" + cause);
    return false;
  }
  return true;
}

void ReportLoadFailure(const TNumberListTexts& aTexts) {
  UniListReadError(aTexts.LoadStreamError);
}

// Rows of an integer table are integer-list records, rows of a float table float-list
// records.
template <typename T>
constexpr std::uint8_t RowMarker() {
  return std::is_same_v<T, double> ? kMarkerDoubleList : kMarkerIntegerList;
}

}  // namespace

void TCustomNumberList::SetSorted(bool aValue) {
  fSorted = aValue;
  if (aValue)
    SortAllItems();
}

void TCustomNumberList::SetDuplicates(bool aValue) {
  fDuplicates = aValue;
  if (!aValue)
    DeleteAllDuplicates();
}

// ---- one-dimensional lists ----

template <typename TItem>
TItem TNumberListOf<TItem>::Items(int aIndex) const {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return TItem{};
  }
  return fItems[static_cast<std::size_t>(aIndex)];
}

template <typename TItem>
bool TNumberListOf<TItem>::SetItems(int aIndex, const TItem& aValue) {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return false;
  }
  fItems[static_cast<std::size_t>(aIndex)] = aValue;
  NotifyChange();
  return true;
}

template <typename TItem>
void TNumberListOf<TItem>::Append(const TItem& aValue) {
  GrowFor(fItems);
  fItems.push_back(aValue);
}

template <typename TItem>
bool TNumberListOf<TItem>::NewItem(const TItem& aValue) {
  if (!fDuplicates && IndexOfNumber(aValue) >= 0)
    return false;
  Append(aValue);
  NotifyNewItem(Count() - 1);
  if (fSorted) {
    // In front of the first greater item: equal items keep their order of arrival.
    auto first_greater =
        std::find_if(fItems.begin(), fItems.end() - 1, [&](const TItem& aItem) { return Greater(aItem, aValue); });
    std::rotate(first_greater, fItems.end() - 1, fItems.end());
  }
  NotifyChange();
  return true;
}

template <typename TItem>
bool TNumberListOf<TItem>::Insert(int aIndex, const TItem& aValue) {
  if (fSorted)
    return NewItem(aValue);
  if (aIndex < 0 || aIndex > Count()) {
    UniListIndexError(aIndex, Count());
    return false;
  }
  if (!fDuplicates && IndexOfNumber(aValue) >= 0)
    return false;
  Append(aValue);
  std::rotate(fItems.begin() + aIndex, fItems.end() - 1, fItems.end());
  NotifyNewItem(aIndex);
  NotifyChange();
  return true;
}

template <typename TItem>
bool TNumberListOf<TItem>::Delete(int aIndex) {
  if (aIndex < 0 || aIndex >= Count()) {
    UniListIndexError(aIndex, Count() - 1);
    return false;
  }
  NotifyDeleting(aIndex);
  fItems.erase(fItems.begin() + aIndex);
  NotifyChange();
  return true;
}

template <typename TItem>
bool TNumberListOf<TItem>::Exchange(int aIndex1, int aIndex2) {
  if (!ExchangeItems(fItems, aIndex1, aIndex2))
    return false;
  NotifyChange();
  return true;
}

template <typename TItem>
bool TNumberListOf<TItem>::Move(int aCurIndex, int aNewIndex) {
  if (!MoveItem(fItems, aCurIndex, aNewIndex))
    return false;
  NotifyChange();
  return true;
}

template <typename TItem>
int TNumberListOf<TItem>::IndexOfNumber(const TItem& aValue) const {
  for (std::size_t i = 0; i < fItems.size(); ++i)
    if (SameKey(fItems[i], aValue))
      return static_cast<int>(i);
  return -1;
}

template <typename TItem>
int TNumberListOf<TItem>::RemoveByNumber(const TItem& aValue) {
  const int index = IndexOfNumber(aValue);
  if (index >= 0)
    Delete(index);
  return index;
}

template <typename TItem>
int TNumberListOf<TItem>::SearchAndReplace(const TItem& aNumberToReplace, const TItem& aNewNumber) {
  int replaced = 0;
  for (auto& item : fItems) {
    if (item == aNumberToReplace) {
      item = aNewNumber;
      ++replaced;
    }
  }
  if (replaced > 0)
    NotifyChange();
  return replaced;
}

template <typename TItem>
void TNumberListOf<TItem>::ReserveCapacity(int aNewItemCountToReserve) {
  if (aNewItemCountToReserve > 0)
    fItems.reserve(fItems.size() + static_cast<std::size_t>(aNewItemCountToReserve));
}

template <typename TItem>
void TNumberListOf<TItem>::ResetAllCapacity() {
  fItems.shrink_to_fit();
}

template <typename TItem>
void TNumberListOf<TItem>::Clear() {
  ShrinkToFour(fItems);
  NotifyChange();
}

template <typename TItem>
void TNumberListOf<TItem>::Assign(const TNumberListOf& aSource) {
  if (&aSource == this)
    return;
  fItems = aSource.fItems;
  fSorted = aSource.fSorted;
  fDuplicates = aSource.fDuplicates;
  NotifyChange();
}

template <typename TItem>
void TNumberListOf<TItem>::ShellSort(const std::function<bool(const TItem&, const TItem&)>& aOutOfOrder) {
  ShellSortItems(fItems, aOutOfOrder);
  NotifyChange();
}

template <typename TItem>
void TNumberListOf<TItem>::SortAllItems() {
  ShellSort([this](const TItem& aLeft, const TItem& aRight) { return Greater(aLeft, aRight); });
}

template <typename TItem>
void TNumberListOf<TItem>::DeleteAllDuplicates() {
  for (int i = Count() - 1; i > 0; --i) {
    if (IndexOfNumber(fItems[static_cast<std::size_t>(i)]) < i)
      Delete(i);
  }
}

template <typename TItem>
std::size_t TNumberListOf<TItem>::GetSaveSize() const {
  return 5 + fItems.size() * ItemSize<TItem>();
}

template <typename TItem>
void TNumberListOf<TItem>::SaveTo_MemoryStream(TMemoryStream& aStream, bool aSetStreamSizeBeforeStart) const {
  if (aSetStreamSizeBeforeStart)
    aStream.Bytes().reserve(aStream.Position() + GetSaveSize());
  aStream.WriteU8(fMarker);
  aStream.WriteI32(Count());
  for (const auto& item : fItems)
    WriteItem(aStream, item);
}

template <typename TItem>
void TNumberListOf<TItem>::ReadRecord(TMemoryStream& aStream) {
  Clear();
  const std::int32_t count = aStream.ReadCount(ItemSize<TItem>());
  fItems.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    TItem item{};
    ReadItem(aStream, item);
    NewItem(item);
  }
}

template <typename TItem>
bool TNumberListOf<TItem>::LoadFrom_MemoryStream(TMemoryStream& aStream) {
  try {
    ReadRecord(aStream);
    return true;
  } catch (const EUniListError&) {
    Clear();
    ReportLoadFailure(*fTexts);
  } catch (const std::bad_alloc&) {
    Clear();
    ReportLoadFailure(*fTexts);
  }
  return false;
}

template <typename TItem>
bool TNumberListOf<TItem>::SaveTo_File(const std::string& aFileName) const {
  return SaveListFile(*this, aFileName, *fTexts);
}

template <typename TItem>
bool TNumberListOf<TItem>::LoadFrom_File(const std::string& aFileName) {
  return LoadListFile(*this, aFileName, fMarker, *fTexts);
}

template class TNumberListOf<std::int32_t>;
template class TNumberListOf<double>;
template class TNumberListOf<TIntDbl>;

TIntegerList::TIntegerList() : TNumberListOf(kMarkerIntegerList, kIntegerListTexts) {}

void TIntegerList::CustomSort(const TILICustomSortProc& aCompare, std::intptr_t aParam) {
  ShellSort([&](std::int32_t aLeft, std::int32_t aRight) { return aCompare(aLeft, aRight, aParam) > 0; });
}

void TIntegerList::NotifyNewItem(int aIndex) {
  if (OnNewItem)
    OnNewItem(*this, aIndex);
}
void TIntegerList::NotifyDeleting(int aIndex) {
  if (OnDeleting)
    OnDeleting(*this, aIndex);
}
void TIntegerList::NotifyChange() {
  if (OnChange && fListStatus == lsReady)
    OnChange(*this);
}

TDoubleList::TDoubleList() : TNumberListOf(kMarkerDoubleList, kDoubleListTexts) {}

TIntegerDoubleList::TIntegerDoubleList() : TNumberListOf(kMarkerIntegerDoubleList, kIntegerDoubleListTexts) {}

void TIntegerDoubleList::SortByIntegerValues(bool aSortDirectionForward) {
  ShellSort([aSortDirectionForward](const TIntDbl& aLeft, const TIntDbl& aRight) {
    return aSortDirectionForward ? aLeft.IntValue > aRight.IntValue : aLeft.IntValue < aRight.IntValue;
  });
}

void TIntegerDoubleList::SortByDoubleValues(bool aSortDirectionForward) {
  ShellSort([aSortDirectionForward](const TIntDbl& aLeft, const TIntDbl& aRight) {
    return aSortDirectionForward ? aLeft.DblValue > aRight.DblValue : aLeft.DblValue < aRight.DblValue;
  });
}

bool TIntegerDoubleList::EditDblValue(std::int32_t aIntValue, double aNewDblValue) {
  const int index = IndexOfIntValue(aIntValue);
  if (index < 0)
    return false;
  fItems[static_cast<std::size_t>(index)].DblValue = aNewDblValue;
  return true;
}

int TIntegerDoubleList::IndexOfIntValue(std::int32_t aIntValue) const {
  return IndexOfNumber({aIntValue, 0.0});
}

int TIntegerDoubleList::RemoveByIntValue(std::int32_t aIntValue) {
  const int index = IndexOfIntValue(aIntValue);
  if (index >= 0)
    Delete(index);
  return index;
}

int TIntegerDoubleList::SearchAndReplaceIntValue(std::int32_t aIntValueToReplace, std::int32_t aNewIntValue) {
  int replaced = 0;
  for (auto& item : fItems) {
    if (item.IntValue == aIntValueToReplace) {
      item.IntValue = aNewIntValue;
      ++replaced;
    }
  }
  return replaced;
}

// ---- tables ----

template <typename TRowList>
bool TNumberList2DOf<TRowList>::CheckRowLength(std::size_t aLength) const {
  if (aLength == static_cast<std::size_t>(fColCount))
    return true;
  UniListGeneralError(
      Format("Das gegebene Listenelement hat nicht die richtige Länge! ( %d Spalten sind erforderlich)", fColCount));
  return false;
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::CheckIndex(int aIndex) const {
  if (aIndex >= 0 && aIndex < RowCount())
    return true;
  UniListIndexError(aIndex, RowCount() - 1);
  return false;
}

template <typename TRowList>
auto TNumberList2DOf<TRowList>::Items(int aRow, int aCol) const -> ItemType {
  if (!CheckIndex(aRow))
    return ItemType{};
  if (aCol < 0 || aCol >= fColCount) {
    UniListIndexError(aCol, fColCount - 1);
    return ItemType{};
  }
  return fRows[static_cast<std::size_t>(aRow)][static_cast<std::size_t>(aCol)];
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::SetItems(int aRow, int aCol, ItemType aValue) {
  if (!CheckIndex(aRow))
    return false;
  if (aCol < 0 || aCol >= fColCount) {
    UniListIndexError(aCol, fColCount - 1);
    return false;
  }
  fRows[static_cast<std::size_t>(aRow)][static_cast<std::size_t>(aCol)] = aValue;
  return true;
}

template <typename TRowList>
auto TNumberList2DOf<TRowList>::GetRow(int aRow) const -> TRow {
  if (!CheckIndex(aRow))
    return {};
  return fRows[static_cast<std::size_t>(aRow)];
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::PutRow(int aRow, const TRow& aValues) {
  if (!CheckIndex(aRow) || !CheckRowLength(aValues.size()))
    return false;
  fRows[static_cast<std::size_t>(aRow)] = aValues;
  return true;
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::NewItem(const TRow& aValues) {
  if (!CheckRowLength(aValues.size()))
    return false;
  if (!fDuplicates && IndexOf_AllColValuesInOneRow(aValues) >= 0)
    return false;
  GrowFor(fRows);
  fRows.push_back(aValues);
  if (fSorted && fColCount > 0) {
    auto first_greater =
        std::find_if(fRows.begin(), fRows.end() - 1, [&](const TRow& aRow) { return aRow[0] > aValues[0]; });
    std::rotate(first_greater, fRows.end() - 1, fRows.end());
  }
  return true;
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::Insert(int aIndex, const TRow& aValues) {
  if (fSorted)
    return NewItem(aValues);
  if (aIndex < 0 || aIndex > RowCount()) {
    UniListIndexError(aIndex, RowCount());
    return false;
  }
  if (!NewItem(aValues))
    return false;
  std::rotate(fRows.begin() + aIndex, fRows.end() - 1, fRows.end());
  return true;
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::Delete(int aIndex) {
  if (!CheckIndex(aIndex))
    return false;
  fRows.erase(fRows.begin() + aIndex);
  return true;
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::Exchange(int aIndex1, int aIndex2) {
  return ExchangeItems(fRows, aIndex1, aIndex2);
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::Move(int aCurIndex, int aNewIndex) {
  return MoveItem(fRows, aCurIndex, aNewIndex);
}

template <typename TRowList>
int TNumberList2DOf<TRowList>::IndexOfNumber(ItemType aNumber, int aColIndex) const {
  if (aColIndex < 0 || aColIndex >= fColCount)
    return -1;
  for (std::size_t i = 0; i < fRows.size(); ++i)
    if (fRows[i][static_cast<std::size_t>(aColIndex)] == aNumber)
      return static_cast<int>(i);
  return -1;
}

template <typename TRowList>
int TNumberList2DOf<TRowList>::IndexOf_AllColValuesInOneRow(const TRow& aValues) const {
  if (aValues.size() != static_cast<std::size_t>(fColCount))
    return -1;
  for (std::size_t i = 0; i < fRows.size(); ++i)
    if (fRows[i] == aValues)
      return static_cast<int>(i);
  return -1;
}

template <typename TRowList>
int TNumberList2DOf<TRowList>::RemoveByNumber(ItemType aNumber, int aColIndex) {
  const int index = IndexOfNumber(aNumber, aColIndex);
  if (index >= 0)
    Delete(index);
  return index;
}

template <typename TRowList>
int TNumberList2DOf<TRowList>::SearchAndReplace(ItemType aNumberToReplace, ItemType aNewNumber) {
  int replaced = 0;
  for (auto& row : fRows)
    for (auto& value : row)
      if (value == aNumberToReplace) {
        value = aNewNumber;
        ++replaced;
      }
  return replaced;
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::ReserveCapacity(int aNewItemCountToReserve) {
  if (aNewItemCountToReserve > 0)
    fRows.reserve(fRows.size() + static_cast<std::size_t>(aNewItemCountToReserve));
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::ResetAllCapacity() {
  fRows.shrink_to_fit();
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::Clear() {
  ShrinkToFour(fRows);
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::Assign(const TNumberList2DOf& aSource) {
  if (&aSource == this)
    return;
  fColCount = aSource.fColCount;
  fRows = aSource.fRows;
  fSorted = aSource.fSorted;
  fDuplicates = aSource.fDuplicates;
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::DoSortAllItems(int aColIndex) {
  if (aColIndex < 0 || aColIndex >= fColCount)
    return;
  const auto column = static_cast<std::size_t>(aColIndex);
  ShellSortItems(fRows, [column](const TRow& aLeft, const TRow& aRight) { return aLeft[column] > aRight[column]; });
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::DeleteAllDuplicates() {
  for (int i = RowCount() - 1; i > 0; --i) {
    if (IndexOf_AllColValuesInOneRow(fRows[static_cast<std::size_t>(i)]) < i)
      Delete(i);
  }
}

template <typename TRowList>
std::size_t TNumberList2DOf<TRowList>::GetSaveSize() const {
  return 11 + fRows.size() * (5 + static_cast<std::size_t>(fColCount) * ItemSize<ItemType>());
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::SaveTo_MemoryStream(TMemoryStream& aStream, bool aSetStreamSizeBeforeStart) const {
  if (aSetStreamSizeBeforeStart)
    aStream.Bytes().reserve(aStream.Position() + GetSaveSize());
  aStream.WriteU8(fMarker);
  aStream.WriteI32(fColCount);
  aStream.WriteU8(fSorted ? 1 : 0);
  aStream.WriteU8(fDuplicates ? 1 : 0);
  aStream.WriteI32(RowCount());
  for (const auto& row : fRows) {
    aStream.WriteU8(RowMarker<ItemType>());
    aStream.WriteI32(static_cast<std::int32_t>(row.size()));
    for (const auto& value : row)
      WriteItem(aStream, value);
  }
}

template <typename TRowList>
void TNumberList2DOf<TRowList>::ReadRecord(TMemoryStream& aStream) {
  Clear();
  const std::int32_t columns = aStream.ReadI32();
  if (columns < 0)
    throw EUniListReadError(Format("Ungültige Spaltenanzahl im Stream: %d", columns));
  fColCount = columns;
  fSorted = aStream.ReadU8() != 0;
  fDuplicates = aStream.ReadU8() != 0;
  // Each row takes at least its marker and its count.
  const std::int32_t rows = aStream.ReadCount(5);
  fRows.reserve(static_cast<std::size_t>(rows));
  for (std::int32_t r = 0; r < rows; ++r) {
    if (aStream.ReadU8() != RowMarker<ItemType>())
      throw EUniListReadError("Ungültige Markierung einer Tabellenzeile.");
    TRowList row;
    row.ReadRecord(aStream);
    if (row.Count() != fColCount)
      throw EUniListReadError(Format(
          "Das gegebene Listenelement hat nicht die richtige Länge! ( %d Spalten sind erforderlich)", fColCount));
    NewItem(row.Values());
  }
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::LoadFrom_MemoryStream(TMemoryStream& aStream) {
  try {
    ReadRecord(aStream);
    return true;
  } catch (const EUniListError&) {
    Clear();
    ReportLoadFailure(*fTexts);
  } catch (const std::bad_alloc&) {
    Clear();
    ReportLoadFailure(*fTexts);
  }
  return false;
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::SaveTo_File(const std::string& aFileName) const {
  return SaveListFile(*this, aFileName, *fTexts);
}

template <typename TRowList>
bool TNumberList2DOf<TRowList>::LoadFrom_File(const std::string& aFileName) {
  return LoadListFile(*this, aFileName, fMarker, *fTexts);
}

template class TNumberList2DOf<TIntegerList>;
template class TNumberList2DOf<TDoubleList>;

TIntegerList2D::TIntegerList2D(int aCountOfCol)
    : TNumberList2DOf(aCountOfCol, kMarkerIntegerList2D, kIntegerList2DTexts) {}

TDoubleList2D::TDoubleList2D(int aCountOfCol) : TNumberList2DOf(aCountOfCol, kMarkerDoubleList2D, kDoubleList2DTexts) {}

}  // namespace UniObject
