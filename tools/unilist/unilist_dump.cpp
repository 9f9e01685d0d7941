#include "tools/unilist/unilist_dump.h"

#include <string>

namespace UniListTool {

using namespace UniObject;

namespace {

void DumpList(const TUniversalList& aList, std::ostream& aOut, int aIndent);
void DumpShortProps(const TPropertyList_Short& aList, const char* aLabel, std::ostream& aOut, int aIndent);
void DumpLongProps(const TPropertyList& aList, std::ostream& aOut, int aIndent);

std::string Pad(int aIndent) {
  return std::string(static_cast<std::size_t>(aIndent) * 2, ' ');
}

// Values that GetValueAsString only names get their content here.
void DumpNested(const TCustomPropertyObject& aProperty, std::ostream& aOut, int aIndent) {
  if (const auto* table = dynamic_cast<const TPr_Table*>(&aProperty)) {
    DumpLongProps(table->ColumnDefs, aOut, aIndent);
  } else if (const auto* shortTable = dynamic_cast<const TPr_Table_Short*>(&aProperty)) {
    for (const auto& row : shortTable->Rows) {
      aOut << Pad(aIndent) << "row " << row->RowID << " height " << row->RowHeight << "\n";
      DumpShortProps(*row, "short", aOut, aIndent + 1);
    }
  } else if (const auto* multi = dynamic_cast<const TPr_MultiList*>(&aProperty)) {
    if (multi->Value_UniList)
      DumpList(*multi->Value_UniList, aOut, aIndent);
  } else if (const auto* shortMulti = dynamic_cast<const TPr_MultiList_Short*>(&aProperty)) {
    if (shortMulti->Value_UniList)
      DumpList(*shortMulti->Value_UniList, aOut, aIndent);
  }
}

void DumpShortProps(const TPropertyList_Short& aList, const char* aLabel, std::ostream& aOut, int aIndent) {
  for (int i = 0; i < aList.Count(); ++i) {
    const auto& property = *aList.Get(i);
    aOut << Pad(aIndent) << aLabel << " " << PropertyKindName(property.PropertyKind()) << " ID " << property.ID()
         << ": " << property.GetValueAsString() << "\n";
    DumpNested(property, aOut, aIndent + 1);
  }
}

void DumpLongProps(const TPropertyList& aList, std::ostream& aOut, int aIndent) {
  for (int i = 0; i < aList.Count(); ++i) {
    const auto& property = *aList.Get(i);
    aOut << Pad(aIndent) << "property " << PropertyKindName(property.PropertyKind()) << " ID " << property.ID() << " \""
         << property.Name() << "\": " << property.GetValueAsString() << "\n";
    DumpNested(property, aOut, aIndent + 1);
  }
}

void DumpList(const TUniversalList& aList, std::ostream& aOut, int aIndent) {
  aOut << Pad(aIndent) << "list of " << aList.Count() << " objects, updated "
       << aList.LastUpdate().FormatDateTimeShort() << "\n";
  for (int i = 0; i < aList.Count(); ++i) {
    const auto& object = *aList.Get(i);
    aOut << Pad(aIndent + 1) << "object \"" << object.Name() << "\" ID " << object.ID() << "/"
         << static_cast<int>(object.ID2()) << " type " << object.TypID() << "\n";
    if (object.Refs())
      DumpShortProps(*object.Refs(), "ref", aOut, aIndent + 2);
    if (object.Props())
      DumpLongProps(*object.Props(), aOut, aIndent + 2);
    if (object.ShortProps())
      DumpShortProps(*object.ShortProps(), "short", aOut, aIndent + 2);
    if (object.ChildList())
      DumpList(*object.ChildList(), aOut, aIndent + 2);
  }
}

}  // namespace

void Dump(const TUniversalList& aList, std::ostream& aOut) {
  DumpList(aList, aOut, 0);
}

}  // namespace UniListTool
