// Templates and layout files: a saved and reloaded report prints the same pages.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/platform/report/report_fixture.h"

namespace Platform::Report {
namespace {

using namespace Testing;

// A report using every component class and most settings.
void BuildEverything(Report& aReport) {
  SmallPage(aReport);
  aReport.Name = "Sample";
  aReport.PrinterSetup.DocumentName = "Bericht";
  aReport.PrinterSetup.Columns = 2;
  aReport.PrinterSetup.ColumnSpacing = 4000;
  Band& title = aReport.CreateBand(BandType::btTitle);
  title.Height = 8000;
  Label& heading = aReport.Create<Label>(title, "Heading");
  heading.Caption = "Überschrift";
  heading.Font.Bold = true;
  heading.Font.SizePt = 14;
  heading.Font.Color = 0x204080;
  heading.Width = 180000;
  heading.Height = 8000;
  heading.Alignment = TextAlignment::taCenter;

  Band& detail = aReport.CreateBand(BandType::btDetail);
  detail.PrintHeightDynamic = true;
  detail.BottomOffset = 1000;
  Memo& memo = aReport.Create<Memo>(detail, "Notes");
  memo.UserName = "Hinweise_F2";
  memo.SetText("eins zwei drei vier fünf sechs sieben acht neun zehn elf zwölf dreizehn\nzweite Zeile");
  memo.Left = 4000;
  memo.Width = 60000;
  memo.Height = 5000;
  memo.Stretch = true;
  memo.Tag = 7;
  RichText& rich = aReport.Create<RichText>(detail, "Rich");
  rich.RichTextData = R"({\rtf1{\colortbl;\red200\green0\blue0;}\b fett\b0 \cf1 rot\par\qr rechts})";
  rich.Top = 6000;
  rich.Width = 80000;
  rich.Height = 5000;
  rich.Stretch = true;
  rich.ShiftRelativeTo = &memo;
  rich.KeepTogether = true;
  Region& region = aReport.Create<Region>(detail, "Region1");
  region.Left = 100000;
  region.Width = 50000;
  region.Height = 20000;
  region.PenWidthPt = 0.5;
  region.FillColor = 0xF0F0F0;
  Label& inRegion = aReport.Create<Label>(detail, "InRegion");
  inRegion.Caption = "im Bereich";
  inRegion.Left = 102000;
  inRegion.Top = 2000;
  inRegion.Width = 40000;
  inRegion.Height = 5000;
  inRegion.ParentRegion = &region;
  inRegion.Transparent = false;
  inRegion.BackgroundColor = 0xFFFF00;
  Line& line = aReport.Create<Line>(detail, "Rule");
  line.Position = LinePosition::lpLeft;
  line.StretchWithParent = true;
  line.Left = 99000;
  line.Height = 1000;
  line.WeightPt = 0.4;
  Image& image = aReport.Create<Image>(detail, "Logo");
  image.Picture.Bytes = {1, 2, 3};  // undecodable: prints a placeholder
  image.Left = 160000;
  image.Width = 20000;
  image.Height = 10000;
  image.Anchors = akTop | akRight;

  Band& summary = aReport.CreateBand(BandType::btSummary);
  summary.Height = 5000;
  DBCalc& count = aReport.Create<DBCalc>(summary, "Count");
  count.Calculation = CalcType::ctCount;
  count.Width = 20000;
  count.Height = 5000;
  Band& footer = aReport.CreateBand(BandType::btFooter);
  footer.Height = 5000;
  SystemVariable& page = aReport.Create<SystemVariable>(footer, "Page");
  page.VarType = SystemVariableType::vtPageSetDesc;
  page.Width = 60000;
  page.Height = 5000;
  aReport.Create<PageBreak>(summary, "PageBreak1").Visible = false;

  Group& group = aReport.CreateGroup();
  group.BreakComponent = &memo;
  group.HeaderBand()->Height = 2000;

  Band& childBand = aReport.CreateBand(BandType::btDetail);
  SubReport& sub = aReport.Create<SubReport>(childBand, "SubReport_Table");
  sub.Top = 30000;
  sub.KeepTogether = true;
  sub.TraverseAllData = false;
  sub.ShiftRelativeTo = &rich;
  sub.StopPosition = 70000;
  sub.OverFlowOffset = 4000;
  sub.ResetPageNo = true;
  sub.DrillDownComponent = &heading;
  sub.ExpandAll = true;
  Report& child = sub.CreateReport(&aReport);
  Band& childDetail = child.CreateBand(BandType::btDetail);
  childDetail.PrintHeightDynamic = true;
  DBText& cell = child.Create<DBText>(childDetail, "Table_F1");
  cell.UserName = "Table_F1";
  cell.DataField = "F1";
  cell.Width = 17500;
  cell.Height = 5000;
  DBRichText& richCell = child.Create<DBRichText>(childDetail, "Table_F2");
  richCell.DataField = "F2";
  richCell.Left = 17500;
  richCell.Width = 24600;
  richCell.Height = 5000;
  richCell.Stretch = true;
}

std::vector<std::uint8_t> PrintBytes(Report& aReport, DataPipeline& aPipeline) {
  auto* sub = dynamic_cast<SubReport*>(aReport.FindComponent("SubReport_Table"));
  sub->GetReport()->Pipeline = &aPipeline;
  return WriteArchive(Print(aReport));
}

TEST(ReportTemplate, SavedAndLoadedReportPrintsTheSamePages) {
  TTablePipeline pipeline("DynPipe0", {{"F1", {"1", "2", "3"}}, {"F2", {R"({\rtf1\i a})", "b", R"({\rtf1 c\par d})"}}});
  Report original;
  BuildEverything(original);
  std::stringstream stream;
  original.SaveToStream(stream);

  Report loaded;
  loaded.LoadFromStream(stream);
  const std::vector<std::uint8_t> expected = PrintBytes(original, pipeline);
  EXPECT_EQ(PrintBytes(loaded, pipeline), expected);
  EXPECT_GT(expected.size(), 500u);

  // Saving the loaded report gives the same document again.
  std::stringstream first;
  std::stringstream second;
  original.SaveToStream(first);
  loaded.SaveToStream(second);
  EXPECT_EQ(first.str(), second.str());
  std::vector<std::string> names;
  for (Component* component : loaded.Components())
    names.push_back(component->Name);
  EXPECT_EQ(names.front(), "Heading");
  EXPECT_EQ(loaded.Components().size(), original.Components().size());
}

TEST(ReportTemplate, MalformedDocumentsAreRefusedAndLeaveTheReportEmpty) {
  Report original;
  BuildEverything(original);
  std::stringstream stream;
  original.SaveToStream(stream);
  const std::string good = stream.str();
  auto replaced = [&good](const std::string& aFrom, const std::string& aTo) {
    std::string text = good;
    const std::size_t at = text.find(aFrom);
    EXPECT_NE(at, std::string::npos) << aFrom;
    return text.replace(at, aFrom.size(), aTo);
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"not JSON", "{\"Format\": "},
      {"other format", replaced("quorvane-report-layout", "something-else")},
      {"version", replaced("\"Version\": 1", "\"Version\": 2")},
      {"unknown class", replaced("\"Class\": \"Memo\"", "\"Class\": \"Chart\"")},
      {"unknown reference", replaced("\"ShiftRelativeTo\": \"Notes\"", "\"ShiftRelativeTo\": \"Nowhere\"")},
      {"unknown drill-down", replaced("\"DrillDownComponent\": \"Heading\"", "\"DrillDownComponent\": \"Nowhere\"")},
      {"duplicate name", replaced("\"Name\": \"Rich\"", "\"Name\": \"Notes\"")},
      {"bad colour", replaced("\"#204080\"", "\"blue\"")},
      {"wrong type", replaced("\"Stretch\": true", "\"Stretch\": \"yes\"")},
      {"bad picture", replaced("\"Picture\": \"AQID\"", "\"Picture\": \"**\"")},
      {"no column", replaced("\"Columns\": 2", "\"Columns\": 0")},
      {"negative column spacing", replaced("\"ColumnSpacing\": 4.0", "\"ColumnSpacing\": -4.0")},
  };
  for (const auto& [what, text] : cases) {
    Report report;
    report.CreateDefaultBands();
    std::istringstream input(text);
    EXPECT_THROW(report.LoadFromStream(input), std::runtime_error) << what;
    EXPECT_EQ(report.BandCount(), 0u) << what;
    EXPECT_TRUE(report.Components().empty()) << what;
  }
}

}  // namespace
}  // namespace Platform::Report
