// Templates and layout files: a report as a JSON document (docs/report-layout.md).
// Lengths are millimetres, colours "#RRGGBB", pictures base64; references between
// components (ShiftRelativeTo, ParentRegion, group break components) are by Name.
#include <glib.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "platform/report/model.h"

namespace Platform::Report {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "quorvane-report-layout";
constexpr int kVersion = 1;

const std::vector<std::pair<BandType, const char*>> kBandTypes = {{BandType::btTitle, "Title"},
                                                                  {BandType::btHeader, "Header"},
                                                                  {BandType::btDetail, "Detail"},
                                                                  {BandType::btFooter, "Footer"},
                                                                  {BandType::btSummary, "Summary"},
                                                                  {BandType::btGroupHeader, "GroupHeader"},
                                                                  {BandType::btGroupFooter, "GroupFooter"}};
const std::vector<std::pair<TextAlignment, const char*>> kAlignments = {{TextAlignment::taLeft, "Left"},
                                                                        {TextAlignment::taCenter, "Center"},
                                                                        {TextAlignment::taRight, "Right"},
                                                                        {TextAlignment::taJustify, "Justify"}};
const std::vector<std::pair<LinePosition, const char*>> kLinePositions = {{LinePosition::lpTop, "Top"},
                                                                          {LinePosition::lpBottom, "Bottom"},
                                                                          {LinePosition::lpLeft, "Left"},
                                                                          {LinePosition::lpRight, "Right"}};
const std::vector<std::pair<PrintBehavior, const char*>> kBehaviors = {
    {PrintBehavior::pbChild, "Child"}, {PrintBehavior::pbSection, "Section"}, {PrintBehavior::pbFixed, "Fixed"}};
const std::vector<std::pair<SystemVariableType, const char*>> kVarTypes = {
    {SystemVariableType::vtPageNo, "PageNo"},
    {SystemVariableType::vtPageCount, "PageCount"},
    {SystemVariableType::vtPageNoDesc, "PageNoDesc"},
    {SystemVariableType::vtPageSetDesc, "PageSetDesc"}};
const std::vector<std::pair<CalcType, const char*>> kCalcTypes = {{CalcType::ctSum, "Sum"},
                                                                  {CalcType::ctCount, "Count"}};
const std::vector<std::pair<Orientation, const char*>> kOrientations = {{Orientation::poPortrait, "Portrait"},
                                                                        {Orientation::poLandscape, "Landscape"}};

template <typename E>
const char* NameOf(const std::vector<std::pair<E, const char*>>& aTable, E aValue) {
  for (const auto& [value, name] : aTable) {
    if (value == aValue)
      return name;
  }
  return aTable.front().second;
}

template <typename E>
E ValueOf(const std::vector<std::pair<E, const char*>>& aTable, const std::string& aName, const char* aWhat) {
  for (const auto& [value, name] : aTable) {
    if (aName == name)
      return value;
  }
  throw std::runtime_error(std::string("unknown ") + aWhat + " '" + aName + "'");
}

std::string ColorText(std::uint32_t aColor) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%06X", aColor & 0xFFFFFF);
  return buffer;
}

std::uint32_t ParseColor(const Json& aValue) {
  const std::string text = aValue.get<std::string>();
  if (text.size() != 7 || text[0] != '#')
    throw std::runtime_error("bad colour '" + text + "'");
  std::size_t used = 0;
  const unsigned long value = std::stoul(text.substr(1), &used, 16);
  if (used != 6)
    throw std::runtime_error("bad colour '" + text + "'");
  return static_cast<std::uint32_t>(value);
}

Json Mm(Micro aValue) {
  return ToMillimetres(aValue);
}
Micro ReadMm(const Json& aObject, const char* aKey, Micro aDefault) {
  auto it = aObject.find(aKey);
  if (it == aObject.end())
    return aDefault;
  const double value = it->get<double>();
  if (!(value > -1e6 && value < 1e6))
    throw std::runtime_error(std::string("length out of range: ") + aKey);
  return FromMillimetres(value);
}

template <typename T>
void Read(const Json& aObject, const char* aKey, T& aTarget) {
  if (auto it = aObject.find(aKey); it != aObject.end())
    aTarget = it->get<T>();
}

std::string Base64(const std::vector<std::uint8_t>& aBytes) {
  gchar* text = g_base64_encode(aBytes.data(), aBytes.size());
  std::string result(text);
  g_free(text);
  return result;
}

std::vector<std::uint8_t> FromBase64(const std::string& aText) {
  for (char c : aText) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=' || c == '\n' || c == '\r')) {
      throw std::runtime_error("picture is not base64");
    }
  }
  gsize size = 0;
  guchar* bytes = g_base64_decode(aText.c_str(), &size);
  std::vector<std::uint8_t> result(bytes, bytes + size);
  g_free(bytes);
  return result;
}

Json SaveFont(const TextStyle& aStyle) {
  return Json{{"Name", aStyle.Family},           {"Size", aStyle.SizePt},         {"Bold", aStyle.Bold},
              {"Italic", aStyle.Italic},         {"Underline", aStyle.Underline}, {"Strike", aStyle.Strike},
              {"Color", ColorText(aStyle.Color)}};
}

TextStyle LoadFont(const Json& aJson) {
  TextStyle style;
  Read(aJson, "Name", style.Family);
  Read(aJson, "Size", style.SizePt);
  if (!(style.SizePt > 0 && style.SizePt <= 1000))
    throw std::runtime_error("font size out of range");
  Read(aJson, "Bold", style.Bold);
  Read(aJson, "Italic", style.Italic);
  Read(aJson, "Underline", style.Underline);
  Read(aJson, "Strike", style.Strike);
  if (aJson.contains("Color"))
    style.Color = ParseColor(aJson["Color"]);
  return style;
}

Json SaveReport(const Report& aReport);
void LoadReport(Report& aReport, const Json& aJson);

Json SaveComponent(const Component& aComponent) {
  Json json{{"Class", aComponent.ClassName()}, {"Name", aComponent.Name},      {"UserName", aComponent.UserName},
            {"Left", Mm(aComponent.Left)},     {"Top", Mm(aComponent.Top)},    {"Width", Mm(aComponent.Width)},
            {"Height", Mm(aComponent.Height)}, {"Visible", aComponent.Visible}};
  Json anchors = Json::array();
  for (auto [flag, name] : {std::pair{akLeft, "Left"}, {akTop, "Top"}, {akRight, "Right"}, {akBottom, "Bottom"}}) {
    if (aComponent.Anchors & flag)
      anchors.push_back(name);
  }
  json["Anchors"] = anchors;
  json["ShiftRelativeTo"] = aComponent.ShiftRelativeTo ? Json(aComponent.ShiftRelativeTo->Name) : Json();
  json["ParentRegion"] = aComponent.ParentRegion ? Json(aComponent.ParentRegion->Name) : Json();
  json["KeepTogether"] = aComponent.KeepTogether;
  json["ReprintOnOverFlow"] = aComponent.ReprintOnOverFlow;
  json["Stretch"] = aComponent.Stretch;
  json["BottomOffset"] = Mm(aComponent.BottomOffset);
  json["Tag"] = aComponent.Tag;
  if (aComponent.IsDataAware())
    json["DataField"] = aComponent.DataField;
  if (const auto* text = dynamic_cast<const TextComponent*>(&aComponent)) {
    json["Font"] = SaveFont(text->Font);
    json["Alignment"] = NameOf(kAlignments, text->Alignment);
    json["WordWrap"] = text->WordWrap;
    json["Transparent"] = text->Transparent;
    json["BackgroundColor"] = ColorText(text->BackgroundColor);
  }
  if (const auto* label = dynamic_cast<const Label*>(&aComponent))
    json["Caption"] = label->Caption;
  if (const auto* memo = dynamic_cast<const Memo*>(&aComponent))
    json["Lines"] = memo->Lines;
  if (const auto* rich = dynamic_cast<const RichText*>(&aComponent))
    json["RichText"] = rich->RichTextData;
  if (const auto* calc = dynamic_cast<const DBCalc*>(&aComponent)) {
    json["Calculation"] = NameOf(kCalcTypes, calc->Calculation);
    json["Value"] = calc->Value;
  }
  if (const auto* variable = dynamic_cast<const SystemVariable*>(&aComponent)) {
    json["VarType"] = NameOf(kVarTypes, variable->VarType);
  }
  if (const auto* image = dynamic_cast<const Image*>(&aComponent)) {
    json["Picture"] = Base64(image->Picture.Bytes);
    json["MaintainAspectRatio"] = image->MaintainAspectRatio;
    json["Center"] = image->Center;
  }
  if (const auto* line = dynamic_cast<const Line*>(&aComponent)) {
    json["Position"] = NameOf(kLinePositions, line->Position);
    json["Weight"] = line->WeightPt;
    json["Color"] = ColorText(line->Color);
    json["StretchWithParent"] = line->StretchWithParent;
  }
  if (const auto* region = dynamic_cast<const Region*>(&aComponent)) {
    json["PenWidth"] = region->PenWidthPt;
    json["PenColor"] = ColorText(region->PenColor);
    json["FillColor"] = region->FillColor ? Json(ColorText(*region->FillColor)) : Json();
  }
  if (const auto* sub = dynamic_cast<const SubReport*>(&aComponent)) {
    json["PrintBehavior"] = NameOf(kBehaviors, sub->Behavior);
    json["ParentWidth"] = sub->ParentWidth;
    json["ParentPrinterSetup"] = sub->ParentPrinterSetup;
    json["StopPosition"] = Mm(sub->StopPosition);
    json["TraverseAllData"] = sub->TraverseAllData;
    json["ResetPageNo"] = sub->ResetPageNo;
    json["ExpandAll"] = sub->ExpandAll;
    json["DrillDownComponent"] = sub->DrillDownComponent ? Json(sub->DrillDownComponent->Name) : Json();
    json["NewPrintJob"] = sub->NewPrintJob;
    json["OverFlowOffset"] = Mm(sub->OverFlowOffset);
    json["Report"] = sub->GetReport() ? SaveReport(*sub->GetReport()) : Json();
  }
  return json;
}

Component& CreateByClass(Report& aReport, Band& aBand, const std::string& aClass, const std::string& aName) {
  if (aClass == "Label")
    return aReport.Create<Label>(aBand, aName);
  if (aClass == "Memo")
    return aReport.Create<Memo>(aBand, aName);
  if (aClass == "RichText")
    return aReport.Create<RichText>(aBand, aName);
  if (aClass == "DBText")
    return aReport.Create<DBText>(aBand, aName);
  if (aClass == "DBMemo")
    return aReport.Create<DBMemo>(aBand, aName);
  if (aClass == "DBRichText")
    return aReport.Create<DBRichText>(aBand, aName);
  if (aClass == "DBCalc")
    return aReport.Create<DBCalc>(aBand, aName);
  if (aClass == "SystemVariable")
    return aReport.Create<SystemVariable>(aBand, aName);
  if (aClass == "Image")
    return aReport.Create<Image>(aBand, aName);
  if (aClass == "DBImage")
    return aReport.Create<DBImage>(aBand, aName);
  if (aClass == "Line")
    return aReport.Create<Line>(aBand, aName);
  if (aClass == "Region")
    return aReport.Create<Region>(aBand, aName);
  if (aClass == "PageBreak")
    return aReport.Create<PageBreak>(aBand, aName);
  if (aClass == "SubReport")
    return aReport.Create<SubReport>(aBand, aName);
  throw std::runtime_error("unknown component class '" + aClass + "'");
}

struct PendingLinks {
  std::vector<std::pair<Component*, std::string>> Shift;
  std::vector<std::pair<Component*, std::string>> Regions;
  std::vector<std::pair<SubReport*, std::string>> DrillDowns;
};

void LoadComponent(Report& aReport, Band& aBand, const Json& aJson, PendingLinks& aLinks) {
  Component& c =
      CreateByClass(aReport, aBand, aJson.at("Class").get<std::string>(), aJson.at("Name").get<std::string>());
  Read(aJson, "UserName", c.UserName);
  c.Left = ReadMm(aJson, "Left", 0);
  c.Top = ReadMm(aJson, "Top", 0);
  c.Width = ReadMm(aJson, "Width", 0);
  c.Height = ReadMm(aJson, "Height", 0);
  if (c.Width < 0 || c.Height < 0)
    throw std::runtime_error("negative size of '" + c.Name + "'");
  Read(aJson, "Visible", c.Visible);
  if (auto it = aJson.find("Anchors"); it != aJson.end()) {
    c.Anchors = 0;
    for (const auto& name : *it) {
      const std::string text = name.get<std::string>();
      if (text == "Left")
        c.Anchors |= akLeft;
      else if (text == "Top")
        c.Anchors |= akTop;
      else if (text == "Right")
        c.Anchors |= akRight;
      else if (text == "Bottom")
        c.Anchors |= akBottom;
      else
        throw std::runtime_error("unknown anchor '" + text + "'");
    }
  }
  if (auto it = aJson.find("ShiftRelativeTo"); it != aJson.end() && !it->is_null()) {
    aLinks.Shift.emplace_back(&c, it->get<std::string>());
  }
  if (auto it = aJson.find("ParentRegion"); it != aJson.end() && !it->is_null()) {
    aLinks.Regions.emplace_back(&c, it->get<std::string>());
  }
  Read(aJson, "KeepTogether", c.KeepTogether);
  Read(aJson, "ReprintOnOverFlow", c.ReprintOnOverFlow);
  Read(aJson, "Stretch", c.Stretch);
  c.BottomOffset = ReadMm(aJson, "BottomOffset", 0);
  Read(aJson, "Tag", c.Tag);
  Read(aJson, "DataField", c.DataField);
  if (auto* text = dynamic_cast<TextComponent*>(&c)) {
    if (aJson.contains("Font"))
      text->Font = LoadFont(aJson["Font"]);
    if (aJson.contains("Alignment")) {
      text->Alignment = ValueOf(kAlignments, aJson["Alignment"].get<std::string>(), "alignment");
    }
    Read(aJson, "WordWrap", text->WordWrap);
    Read(aJson, "Transparent", text->Transparent);
    if (aJson.contains("BackgroundColor"))
      text->BackgroundColor = ParseColor(aJson["BackgroundColor"]);
  }
  if (auto* label = dynamic_cast<Label*>(&c))
    Read(aJson, "Caption", label->Caption);
  if (auto* memo = dynamic_cast<Memo*>(&c))
    Read(aJson, "Lines", memo->Lines);
  if (auto* rich = dynamic_cast<RichText*>(&c))
    Read(aJson, "RichText", rich->RichTextData);
  if (auto* calc = dynamic_cast<DBCalc*>(&c)) {
    if (aJson.contains("Calculation")) {
      calc->Calculation = ValueOf(kCalcTypes, aJson["Calculation"].get<std::string>(), "calculation");
    }
    Read(aJson, "Value", calc->Value);
  }
  if (auto* variable = dynamic_cast<SystemVariable*>(&c); variable && aJson.contains("VarType")) {
    variable->VarType = ValueOf(kVarTypes, aJson["VarType"].get<std::string>(), "variable type");
  }
  if (auto* image = dynamic_cast<Image*>(&c)) {
    if (aJson.contains("Picture"))
      image->Picture.Bytes = FromBase64(aJson["Picture"].get<std::string>());
    Read(aJson, "MaintainAspectRatio", image->MaintainAspectRatio);
    Read(aJson, "Center", image->Center);
  }
  if (auto* line = dynamic_cast<Line*>(&c)) {
    if (aJson.contains("Position")) {
      line->Position = ValueOf(kLinePositions, aJson["Position"].get<std::string>(), "line position");
    }
    Read(aJson, "Weight", line->WeightPt);
    if (aJson.contains("Color"))
      line->Color = ParseColor(aJson["Color"]);
    Read(aJson, "StretchWithParent", line->StretchWithParent);
  }
  if (auto* region = dynamic_cast<Region*>(&c)) {
    Read(aJson, "PenWidth", region->PenWidthPt);
    if (aJson.contains("PenColor"))
      region->PenColor = ParseColor(aJson["PenColor"]);
    if (auto it = aJson.find("FillColor"); it != aJson.end() && !it->is_null())
      region->FillColor = ParseColor(*it);
  }
  if (auto* sub = dynamic_cast<SubReport*>(&c)) {
    if (aJson.contains("PrintBehavior")) {
      sub->Behavior = ValueOf(kBehaviors, aJson["PrintBehavior"].get<std::string>(), "print behaviour");
    }
    Read(aJson, "ParentWidth", sub->ParentWidth);
    Read(aJson, "ParentPrinterSetup", sub->ParentPrinterSetup);
    sub->StopPosition = ReadMm(aJson, "StopPosition", 0);
    Read(aJson, "TraverseAllData", sub->TraverseAllData);
    Read(aJson, "ResetPageNo", sub->ResetPageNo);
    Read(aJson, "ExpandAll", sub->ExpandAll);
    if (auto it = aJson.find("DrillDownComponent"); it != aJson.end() && !it->is_null()) {
      aLinks.DrillDowns.emplace_back(sub, it->get<std::string>());
    }
    Read(aJson, "NewPrintJob", sub->NewPrintJob);
    sub->OverFlowOffset = ReadMm(aJson, "OverFlowOffset", 0);
    if (auto it = aJson.find("Report"); it != aJson.end() && !it->is_null()) {
      LoadReport(sub->CreateReport(&aReport), *it);
    }
  }
}

Json SaveBand(const Band& aBand) {
  Json objects = Json::array();
  for (const Component* component : aBand.Objects())
    objects.push_back(SaveComponent(*component));
  return Json{{"Type", NameOf(kBandTypes, aBand.Type())},
              {"UserName", aBand.UserName},
              {"Height", Mm(aBand.Height)},
              {"PrintHeightDynamic", aBand.PrintHeightDynamic},
              {"BottomOffset", Mm(aBand.BottomOffset)},
              {"Visible", aBand.Visible},
              {"Objects", objects}};
}

void LoadBandProperties(Band& aBand, const Json& aJson, Report& aReport, PendingLinks& aLinks) {
  Read(aJson, "UserName", aBand.UserName);
  aBand.Height = ReadMm(aJson, "Height", 0);
  Read(aJson, "PrintHeightDynamic", aBand.PrintHeightDynamic);
  aBand.BottomOffset = ReadMm(aJson, "BottomOffset", 0);
  Read(aJson, "Visible", aBand.Visible);
  if (auto it = aJson.find("Objects"); it != aJson.end()) {
    for (const auto& object : *it)
      LoadComponent(aReport, aBand, object, aLinks);
  }
}

Json SaveReport(const Report& aReport) {
  const PageSetup& p = aReport.PrinterSetup;
  Json json{{"Name", aReport.Name}, {"UserName", aReport.UserName}, {"TwoPass", aReport.TwoPass}};
  json["PageSetup"] = Json{{"PaperWidth", Mm(p.PaperWidth)},
                           {"PaperHeight", Mm(p.PaperHeight)},
                           {"PaperSizeCode", p.PaperSizeCode},
                           {"Orientation", NameOf(kOrientations, p.PageOrientation)},
                           {"MarginTop", Mm(p.MarginTop)},
                           {"MarginBottom", Mm(p.MarginBottom)},
                           {"MarginLeft", Mm(p.MarginLeft)},
                           {"MarginRight", Mm(p.MarginRight)},
                           {"Columns", p.Columns},
                           {"ColumnWidth", Mm(p.ColumnWidth)},
                           {"ColumnSpacing", Mm(p.ColumnSpacing)},
                           {"PrinterName", p.PrinterName},
                           {"DocumentName", p.DocumentName}};
  Json bands = Json::array();
  Json groups = Json::array();
  for (const Band* band : aReport.Bands()) {
    if (band->Type() != BandType::btGroupHeader && band->Type() != BandType::btGroupFooter)
      bands.push_back(SaveBand(*band));
  }
  for (const auto& group : aReport.Groups()) {
    groups.push_back(Json{{"BreakComponent", group->BreakComponent ? Json(group->BreakComponent->Name) : Json()},
                          {"BreakName", group->BreakName},
                          {"Header", SaveBand(*group->HeaderBand())},
                          {"Footer", SaveBand(*group->FooterBand())}});
  }
  json["Bands"] = bands;
  json["Groups"] = groups;
  return json;
}

void LoadReport(Report& aReport, const Json& aJson) {
  if (!aJson.is_object())
    throw std::runtime_error("a report must be an object");
  Read(aJson, "Name", aReport.Name);
  Read(aJson, "UserName", aReport.UserName);
  Read(aJson, "TwoPass", aReport.TwoPass);
  if (auto it = aJson.find("PageSetup"); it != aJson.end()) {
    PageSetup& p = aReport.PrinterSetup;
    const Json& s = *it;
    p.PaperWidth = ReadMm(s, "PaperWidth", p.PaperWidth);
    p.PaperHeight = ReadMm(s, "PaperHeight", p.PaperHeight);
    Read(s, "PaperSizeCode", p.PaperSizeCode);
    if (s.contains("Orientation"))
      p.PageOrientation = ValueOf(kOrientations, s["Orientation"].get<std::string>(), "orientation");
    p.MarginTop = ReadMm(s, "MarginTop", p.MarginTop);
    p.MarginBottom = ReadMm(s, "MarginBottom", p.MarginBottom);
    p.MarginLeft = ReadMm(s, "MarginLeft", p.MarginLeft);
    p.MarginRight = ReadMm(s, "MarginRight", p.MarginRight);
    Read(s, "Columns", p.Columns);
    p.ColumnWidth = ReadMm(s, "ColumnWidth", 0);
    p.ColumnSpacing = ReadMm(s, "ColumnSpacing", 0);
    Read(s, "PrinterName", p.PrinterName);
    Read(s, "DocumentName", p.DocumentName);
    if (p.PaperWidth <= 0 || p.PaperHeight <= 0 || p.Columns < 1 || p.ColumnSpacing < 0)
      throw std::runtime_error("bad page set-up");
  }
  PendingLinks links;
  if (auto it = aJson.find("Bands"); it != aJson.end()) {
    for (const auto& bandJson : *it) {
      const BandType type = ValueOf(kBandTypes, bandJson.at("Type").get<std::string>(), "band type");
      if (type == BandType::btGroupHeader || type == BandType::btGroupFooter) {
        throw std::runtime_error("group bands belong into \"Groups\"");
      }
      if (aReport.FindBand(type))
        throw std::runtime_error("two bands of one type");
      LoadBandProperties(aReport.CreateBand(type), bandJson, aReport, links);
    }
  }
  std::vector<std::pair<Group*, std::string>> breaks;
  if (auto it = aJson.find("Groups"); it != aJson.end()) {
    for (const auto& groupJson : *it) {
      Group& group = aReport.CreateGroup();
      Read(groupJson, "BreakName", group.BreakName);
      if (auto b = groupJson.find("BreakComponent"); b != groupJson.end() && !b->is_null()) {
        breaks.emplace_back(&group, b->get<std::string>());
      }
      if (groupJson.contains("Header"))
        LoadBandProperties(*group.HeaderBand(), groupJson["Header"], aReport, links);
      if (groupJson.contains("Footer"))
        LoadBandProperties(*group.FooterBand(), groupJson["Footer"], aReport, links);
    }
  }
  auto find = [&aReport](const std::string& aName) {
    Component* component = aReport.FindComponent(aName);
    if (!component)
      throw std::runtime_error("reference to unknown component '" + aName + "'");
    return component;
  };
  for (auto& [component, name] : links.Shift)
    component->ShiftRelativeTo = find(name);
  for (auto& [component, name] : links.Regions) {
    component->ParentRegion = dynamic_cast<Region*>(find(name));
    if (!component->ParentRegion)
      throw std::runtime_error("'" + name + "' is not a region");
  }
  for (auto& [group, name] : breaks)
    group->BreakComponent = find(name);
  for (auto& [sub, name] : links.DrillDowns)
    sub->DrillDownComponent = find(name);
}

}  // namespace

void Report::SaveToStream(std::ostream& aStream) const {
  Json document{{"Format", kFormat}, {"Version", kVersion}, {"Report", SaveReport(*this)}};
  aStream << document.dump(2) << '\n';
  if (!aStream)
    throw std::runtime_error("report template: writing the stream failed");
}

void Report::LoadFromStream(std::istream& aStream) {
  Clear();
  try {
    const Json document = Json::parse(aStream);
    if (!document.is_object() || document.value("Format", "") != kFormat) {
      throw std::runtime_error("not a report layout");
    }
    if (document.value("Version", 0) != kVersion)
      throw std::runtime_error("unsupported layout version");
    LoadReport(*this, document.at("Report"));
  } catch (const std::exception& e) {
    Clear();
    throw std::runtime_error(std::string("report template: ") + e.what());
  }
}

void Report::SaveToFile(const std::string& aPath) const {
  std::ofstream file(aPath, std::ios::binary | std::ios::trunc);
  if (!file)
    throw std::runtime_error("report template: cannot create '" + aPath + "'");
  SaveToStream(file);
}

void Report::LoadFromFile(const std::string& aPath) {
  std::ifstream file(aPath, std::ios::binary);
  if (!file)
    throw std::runtime_error("report template: cannot open '" + aPath + "'");
  LoadFromStream(file);
}

}  // namespace Platform::Report
