#pragma once

// A universal list that holds every property kind, long and short, with values that are
// not the defaults, for round-trip tests, fuzz seeds and benchmarks. The texts stay within
// Windows-1252 so that the 8-bit versions carry them unchanged.

#include <memory>

#include "uniobject/universal_list.h"

namespace UniObject::Testing {

inline void FillEveryKind(TUniversalObject& aObject, int aSeed) {
  auto& props = aObject.PreparePropertyList();
  auto& shorts = aObject.PreparePropertyListShort();
  int id = 100;
  auto add = [&](TPropertyKind aKind) -> std::pair<TPropertyObject*, TPropertyObject_Short*> {
    auto* longProp = props.NewItem(id, "Eigenschaft " + std::to_string(id) + " äöü", aKind);
    longProp->ExternFormatID = aSeed + id;
    longProp->PropSortOrder = static_cast<std::int16_t>(id);
    longProp->SetPropStatus(0x01020304u + static_cast<unsigned>(id));
    longProp->SetLastUpdate(Platform::TDateTime(45000.25 + id));
    auto* shortProp = aKind == pkError ? nullptr : shorts.NewItem(longProp, aKind);
    ++id;
    return {longProp, shortProp};
  };
  {
    auto [l, s] = add(pkText);
    static_cast<TPr_Text*>(l)->Value_Text = "Text € " + std::to_string(aSeed);
    static_cast<TPr_Text*>(l)->ViewHeight = 12;
    static_cast<TPr_Text_Short*>(s)->Value_Text = "kurz ß";
  }
  for (TPropertyKind kind : {pkChar5, pkChar10, pkChar20, pkChar35, pkChar50, pkChar75, pkChar100}) {
    auto [l, s] = add(kind);
    static_cast<TPr_CharN*>(l)->Value_Text = "Zeichen";
    static_cast<TPr_CharN*>(l)->CharCount = MaxCharCountOfKind(kind);
    static_cast<TPr_CharN_Short*>(s)->Value_Text = "Z" + std::to_string(kind);
    static_cast<TPr_CharN_Short*>(s)->CharCount = kind;
  }
  {
    auto [l, s] = add(pkDate);
    auto* date = static_cast<TPr_Date*>(l);
    date->SetMinValue(1000.0);
    date->SetValue(45292.0);
    date->UnitDefID = 3;
    static_cast<TPr_Date_Short*>(s)->SetValue(45293.0);
  }
  {
    auto [l, s] = add(pkTime);
    static_cast<TPr_Time*>(l)->SetValue(0.5);
    static_cast<TPr_Time_Short*>(s)->SetValue(0.75);
  }
  {
    auto [l, s] = add(pkByte);
    static_cast<TPr_Byte*>(l)->SetMaxValue(200);
    static_cast<TPr_Byte*>(l)->SetValue(199);
    static_cast<TPr_Byte_Short*>(s)->SetValue(7);
  }
  {
    auto [l, s] = add(pkSmallInt);
    static_cast<TPr_SmallInt*>(l)->SetValue(-1234);
    static_cast<TPr_SmallInt_Short*>(s)->SetValue(4321);
  }
  {
    auto [l, s] = add(pkLongInt);
    static_cast<TPr_LongInt*>(l)->SetValue(-123456789);
    static_cast<TPr_LongInt*>(l)->FormatDef = 9;
    static_cast<TPr_LongInt_Short*>(s)->SetValue(aSeed);
  }
  {
    auto [l, s] = add(pkSingle);
    static_cast<TPr_Single*>(l)->SetValue(1.25f);
    static_cast<TPr_Single_Short*>(s)->SetValue(-0.1f);
  }
  {
    auto [l, s] = add(pkDouble);
    static_cast<TPr_Double*>(l)->SetValue(3.141592653589793);
    static_cast<TPr_Double_Short*>(s)->SetValue(1e-300);
  }
  {
    auto [l, s] = add(pkMoney);
    static_cast<TPr_Money*>(l)->SetValue(123456789012345);
    static_cast<TPr_Money_Short*>(s)->SetValue(-10000);
  }
  {
    auto [l, s] = add(pkBoolean);
    static_cast<TPr_Boolean*>(l)->Value_Boolean = true;
    static_cast<TPr_Boolean_Short*>(s)->Value_Boolean = true;
  }
  {
    auto [l, s] = add(pkLink);
    auto* link = static_cast<TPr_Link*>(l);
    link->Value_Text = "Verweis";
    link->LinkTyp = 3;
    link->DocumentID = 77;
    link->DocumentID2 = 78;
    static_cast<TPr_Link_Short*>(s)->DocumentID2 = -5;
  }
  {
    auto [l, s] = add(pkImage);
    auto* image = static_cast<TPr_Image*>(l);
    image->Value_Image = TPicture::FromBytes({'B', 'M', 1, 2, 3, 4, 5});
    image->MaxWidth = 100;
    image->FormatDef = 2;
    static_cast<TPr_Image_Short*>(s)->Value_Image = TPicture::FromBytes({0xFF, 0xD8, 0xFF, 0xE0, 9});
  }
  {
    auto [l, s] = add(pkTable);
    auto* table = static_cast<TPr_Table*>(l);
    auto* column = table->ColumnDefs.NewItem(1, "Spalte", pkLongInt);
    static_cast<TPr_LongInt*>(column)->SetValue(5);
    table->ColumnDefs.NewItem(2, "Name", pkChar20);
    table->ColWidth.NewItem(40);
    table->ColWidth.NewItem(60);
    table->ColSortIndex.NewItem(1);
    table->ColSortIndex.NewItem(0);
    table->HeaderRowHeight = 5;
    table->DefaultColWidth = 30;
    table->DefaultRowHeight = 6;
    table->ViewHeight = 100;
    auto* shortTable = static_cast<TPr_Table_Short*>(s);
    for (int r = 0; r < 2; ++r) {
      auto& row = shortTable->NewRow();
      row.RowID = r + 1;
      row.RowHeight = 7;
      row.PropSortOrder = static_cast<std::int16_t>(r);
      static_cast<TPr_LongInt_Short*>(row.NewItemByID(1, pkLongInt))->SetValue(r * 10);
      static_cast<TPr_Text_Short*>(row.NewItemByID(2, pkChar20))->Value_Text = "Zeile " + std::to_string(r);
    }
    shortTable->ViewHeight = 50;
  }
  {
    auto [l, s] = add(pkChoose);
    static_cast<TPr_Choose*>(l)->ChooseObjectID = 12;
    static_cast<TPr_Choose*>(l)->DefaultValueIDList.NewItem(3);
    static_cast<TPr_Choose_Short*>(s)->ValueIDList.NewItem(4);
    static_cast<TPr_Choose_Short*>(s)->ValueIDList.NewItem(5);
  }
  {
    auto [l, s] = add(pkStream);
    static_cast<TPr_Stream*>(l)->Value_Stream = std::vector<std::uint8_t>{0, 1, 2, 255};
    static_cast<TPr_Stream_Short*>(s)->Value_Stream = std::vector<std::uint8_t>{};
  }
  {
    auto [l, s] = add(pkError);
    auto* error = static_cast<TPr_Error*>(l);
    error->FehlerNummer = 17;
    error->Schweregrad = 2;
    error->Sender = "Prüfung";
    error->FehlerObjektIndex = -1;
    error->FehlermeldungEinfach = "Fehler";
    error->FehlermeldungErweitert = "Ausführlicher Fehler";
  }
  {
    auto [l, s] = add(pkGraphicLink);
    auto* graphic = static_cast<TPr_GraphicLink*>(l);
    graphic->ZeichnungsID = 9;
    graphic->LinkPropertyPageID = 8;
    graphic->Priority = 7;
    graphic->GraphicTyp = 6;
    graphic->ZeichnungsPriority = 5;
    graphic->PrefValue1 = 4;
    graphic->GraphicStatus = 3;
    graphic->ConstructionIDList.NewItem(2);
    static_cast<TPr_GraphicLink_Short*>(s)->ConstructionIDList.NewItem(1);
  }
  {
    auto [l, s] = add(pkDateTime);
    static_cast<TPr_DateTime*>(l)->SetValue(45292.5);
    static_cast<TPr_DateTime*>(l)->DateTimeTyp = 2;
    static_cast<TPr_DateTime_Short*>(s)->SetValue(45292.25);
  }
  {
    auto [l, s] = add(pkCondition);
    static_cast<TPr_Condition*>(l)->Value_Condition = 1;
    static_cast<TPr_Condition*>(l)->ConditionTyp = 2;
    static_cast<TPr_Condition*>(l)->ConditionFormat = 3;
    static_cast<TPr_Condition_Short*>(s)->Value_Condition = 1;
  }
  {
    auto [l, s] = add(pkCardinal);
    static_cast<TPr_Cardinal*>(l)->SetValue(4000000000u);
    static_cast<TPr_Cardinal_Short*>(s)->SetValue(1u);
  }
  {
    auto [l, s] = add(pkMultilist);
    auto* multi = static_cast<TPr_MultiList*>(l);
    multi->Value_UniList = std::make_unique<TUniversalList>();
    multi->Value_UniList->NewItem(1, 0, 2, "innen")->PreparePropertyListShort().NewItemByID(3, pkBoolean);
    multi->Value_IntegerList = std::make_unique<TIntegerList>();
    multi->Value_IntegerList->NewItem(1);
    multi->Value_IntegerList2D = std::make_unique<TIntegerList2D>(2);
    multi->Value_IntegerList2D->NewItem({1, 2});
    multi->Value_DoubleList = std::make_unique<TDoubleList>();
    multi->Value_DoubleList->NewItem(0.5);
    multi->Value_DoubleList2D = std::make_unique<TDoubleList2D>(1);
    multi->Value_DoubleList2D->NewItem({2.5});
    multi->Value_IntegerDoubleList = std::make_unique<TIntegerDoubleList>();
    multi->Value_IntegerDoubleList->NewItem(4, 4.5);
    auto* shortMulti = static_cast<TPr_MultiList_Short*>(s);
    shortMulti->Value_DoubleList = std::make_unique<TDoubleList>();
    shortMulti->Value_DoubleList->NewItem(-1.5);
  }
  // Property-source data and a reference.
  props.Get(0)->PrepareInternPSList(2).NewItem({5, 6});
  aObject.PrepareRefList().NewItemByID(999, pkLongInt);
}

// A list of two top-level objects; the first has a child with every kind and a
// grandchild.
inline std::unique_ptr<TUniversalList> MakeEveryKindList() {
  auto list = std::make_unique<TUniversalList>();
  list->SetLastUpdate(Platform::TDateTime(45000.5));
  list->SetUpdateNr(3);
  list->SetZuordnungNr(4);
  list->SetSuperProtection(1);
  auto* first = list->NewItem(1, 2, 3, "Erster");
  first->SetSortOrder(5);
  first->SetObjectStatus(0xA5A5);
  first->SetImageIndex(6);
  first->SetSelectedIndex(7);
  first->SetSecurityValue(0xFF);
  first->SetZuordnungNr(8);
  first->SetPrivateStatusBit(3, true);
  auto* child = first->PrepareChildList().NewItem(10, 0, 11, "Kind");
  FillEveryKind(*child, 1);
  child->PrepareChildList().NewItem(20, 1, 21, "Enkel");
  auto* second = list->NewItem(-1, 0, 0, "Zweiter");
  FillEveryKind(*second, 2);
  return list;
}

}  // namespace UniObject::Testing
