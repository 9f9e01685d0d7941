// Reports with columns, checked on the archive content with the fake measurer (at
// 10 pt a line is 4233 um high). The small page has 80 mm of content, 180 mm wide,
// from (10 mm, 10 mm).
#include <gtest/gtest.h>

#include "tests/platform/report/report_fixture.h"

namespace Platform::Report {
namespace {

using namespace Testing;

const Micro kLine = TFakeTextMeasurer::LineHeight(10);

std::vector<std::string> Numbers(const std::string& aPrefix, int aCount) {
  std::vector<std::string> values;
  for (int i = 1; i <= aCount; ++i)
    values.push_back(aPrefix + std::to_string(i));
  return values;
}

Label& AddLabel(Report& aReport, Band& aBand, const std::string& aCaption, Micro aWidth) {
  Label& label = aReport.Create<Label>(aBand, aCaption);
  label.Caption = aCaption;
  label.Width = aWidth;
  label.Height = kLine;
  return label;
}

// Lines "<prefix>1" ... "<prefix>n" as one text.
std::string Joined(const std::string& aPrefix, int aCount) {
  std::string text;
  for (const std::string& line : Numbers(aPrefix, aCount))
    text += (text.empty() ? "" : "\n") + line;
  return text;
}

// A stretching memo of 80 mm in a dynamic band.
Memo& AddMemo(Report& aReport, Band& aBand, const std::string& aName, const std::string& aText) {
  Memo& memo = aReport.Create<Memo>(aBand, aName);
  memo.SetText(aText);
  memo.Width = 80000;
  memo.Height = kLine;
  memo.Stretch = true;
  return memo;
}

// A sub-report whose child report has one dynamic detail band, for the caller to fill.
SubReport& AddSubReport(Report& aReport, Band& aBand, const std::string& aName) {
  SubReport& sub = aReport.Create<SubReport>(aBand, aName);
  Report& child = sub.CreateReport(&aReport);
  child.CreateBand(BandType::btDetail).PrintHeightDynamic = true;
  return sub;
}

// Two columns of 88 mm, 4 mm apart, optionally below a title; the second column
// starts at 102 mm on the page.
const Micro kSecond = 10000 + 88000 + 4000;

void TwoColumns(Report& aReport, Micro aTitleHeight) {
  SmallPage(aReport);
  aReport.PrinterSetup.Columns = 2;
  aReport.PrinterSetup.ColumnSpacing = 4000;
  if (aTitleHeight > 0) {
    Band& title = aReport.CreateBand(BandType::btTitle);
    title.Height = aTitleHeight;
    AddLabel(aReport, title, "Titel", 180000);
  }
}

struct Where {
  std::string Text;
  int Page;
  Micro X;
  Micro Top;
};

void ExpectPlaced(const ArchiveDocument& aDocument, const std::vector<Where>& aExpected) {
  for (const Where& where : aExpected) {
    SCOPED_TRACE(where.Text);
    const auto [page, text] = FindText(aDocument, where.Text);
    EXPECT_EQ(page, where.Page);
    EXPECT_EQ(text.X, where.X);
    EXPECT_EQ(text.Top, where.Top);
  }
}

// Page header, footer, title and summary span the page; one-line detail rows flow
// down the columns: 14 fit below the title on page 1, 16 on every further page.
TEST(ReportColumns, DetailBandsFlowDownTheColumnsThenOntoTheNextPage) {
  struct Case {
    int Columns;
    Micro Spacing;
    Micro ColumnWidth;
    std::vector<Micro> Lefts;
    int Records;
    int Pages;
    Micro SummaryTop;
  };
  const std::vector<Case> cases = {
      // Automatic width: (180 - 2 * 6) / 3 = 56 mm. 42 + 48 + 20 rows: the summary
      // does not fit below the full first column of page 3.
      {3, 6000, 0, {10000, 72000, 134000}, 110, 4, 15000},
      // 28 + 32 + 32 + 8 rows.
      {2, 10000, 80000, {10000, 100000}, 100, 4, 15000 + 8 * kLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Columns);
    const int kRecords = c.Records;
    TTablePipeline pipeline("DynPipe0", {{"Nr", Numbers("R", kRecords)}});
    Report report;
    SmallPage(report);
    report.PrinterSetup.Columns = c.Columns;
    report.PrinterSetup.ColumnSpacing = c.Spacing;
    report.PrinterSetup.ColumnWidth = c.ColumnWidth;
    report.Pipeline = &pipeline;
    Band& header = report.CreateBand(BandType::btHeader);
    header.Height = 5000;
    AddLabel(report, header, "Kopf", 180000);
    Band& footer = report.CreateBand(BandType::btFooter);
    footer.Height = 5000;
    AddLabel(report, footer, "Fuss", 180000);
    Band& title = report.CreateBand(BandType::btTitle);
    title.Height = 10000;
    AddLabel(report, title, "Titel", 180000);
    Band& summary = report.CreateBand(BandType::btSummary);
    summary.Height = 5000;
    AddLabel(report, summary, "Ende", 180000).Alignment = TextAlignment::taRight;
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.Height = kLine;
    DBText& number = report.Create<DBText>(detail, "Nr");
    number.DataField = "Nr";
    number.Width = 20000;
    number.Height = kLine;

    const ArchiveDocument document = Print(report);
    // Content between header and footer: 15 mm to 85 mm.
    const int firstPage = 14 * c.Columns;
    const int perPage = 16 * c.Columns;
    const int pages = c.Pages;
    ASSERT_EQ(static_cast<int>(document.Pages.size()), pages);
    for (int record = 1; record <= kRecords; ++record) {
      SCOPED_TRACE(record);
      const bool onFirst = record <= firstPage;
      const int index = onFirst ? record - 1 : (record - 1 - firstPage) % perPage;
      const int page = onFirst ? 0 : 1 + (record - 1 - firstPage) / perPage;
      const int rows = onFirst ? 14 : 16;
      const Micro top = onFirst ? 25000 : 15000;
      const auto [foundPage, text] = FindText(document, "R" + std::to_string(record));
      EXPECT_EQ(foundPage, page);
      EXPECT_EQ(text.X, c.Lefts[index / rows]);
      EXPECT_EQ(text.Top, top + (index % rows) * kLine);
    }
    for (int page = 0; page < pages; ++page) {
      const std::string texts = document.Pages[page].Text();
      EXPECT_EQ(texts.rfind("Kopf", 0), 0u) << texts;
      EXPECT_NE(texts.find("Fuss"), std::string::npos) << texts;
    }
    EXPECT_EQ(FindText(document, "Kopf").second.X, 10000);
    EXPECT_EQ(FindText(document, "Fuss").second.Top, 85000);
    EXPECT_EQ(CountText(document, "Titel"), 1);
    EXPECT_EQ(FindText(document, "Titel").second.Top, 15000);
    // The summary follows the last page's longest column, right-aligned over the page.
    const auto [summaryPage, ende] = FindText(document, "Ende");
    EXPECT_EQ(summaryPage, pages - 1);
    EXPECT_EQ(ende.Top, c.SummaryTop);
    EXPECT_EQ(ende.X, 10000 + 180000 - 4 * TFakeTextMeasurer::CharWidth(10));
  }
}

// Records of 10 lines in a dynamic band, 2 columns; 18 lines fit into a column.
TEST(ReportColumns, KeepTogetherMovesABlockToTheNextColumn) {
  struct Expect {
    std::string Text;
    int Page;
    Micro X;
    Micro Top;
  };
  struct Case {
    const char* Name;
    bool KeepTogether;
    Micro TitleHeight;
    std::vector<Expect> Expected;
  };
  const Micro second = 10000 + 88000 + 4000;  // column width 88 mm, spacing 4 mm
  const std::vector<Case> cases = {
      {"block moves on",
       true,
       0,
       {{"A10", 0, 10000, 10000 + 9 * kLine},
        {"B1", 0, second, 10000},
        {"C1", 1, 10000, 10000},
        {"C10", 1, 10000, 10000 + 9 * kLine}}},
      {"text splits",
       false,
       0,
       {{"B8", 0, 10000, 10000 + 17 * kLine}, {"B9", 0, second, 10000}, {"C9", 0, second, 10000 + 10 * kLine}}},
      // Below a 40 mm title neither column of page 1 holds a block: it waits for page 2
      // instead of being cut in the empty second column.
      {"block below a title",
       true,
       40000,
       {{"A1", 1, 10000, 10000}, {"B1", 1, second, 10000}, {"C1", 2, 10000, 10000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> blocks;
    for (const char* prefix : {"A", "B", "C"}) {
      std::string text;
      for (const std::string& line : Numbers(prefix, 10))
        text += (text.empty() ? "" : "\n") + line;
      blocks.push_back(text);
    }
    TTablePipeline pipeline("DynPipe0", {{"Text", blocks}});
    Report report;
    SmallPage(report);
    report.PrinterSetup.Columns = 2;
    report.PrinterSetup.ColumnSpacing = 4000;
    report.Pipeline = &pipeline;
    if (c.TitleHeight > 0) {
      Band& title = report.CreateBand(BandType::btTitle);
      title.Height = c.TitleHeight;
      AddLabel(report, title, "Titel", 180000);
    }
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    DBMemo& memo = report.Create<DBMemo>(detail, "Text");
    memo.DataField = "Text";
    memo.Width = 80000;
    memo.Height = kLine;
    memo.Stretch = true;
    memo.KeepTogether = c.KeepTogether;

    const ArchiveDocument document = Print(report);
    for (const Expect& expect : c.Expected) {
      SCOPED_TRACE(expect.Text);
      const auto [page, text] = FindText(document, expect.Text);
      EXPECT_EQ(page, expect.Page);
      EXPECT_EQ(text.X, expect.X);
      EXPECT_EQ(text.Top, expect.Top);
    }
  }
}

// Group header and footer bands flow in the columns like the detail band: 18 lines
// fit into a column of the two.
TEST(ReportColumns, GroupBandsFlowInTheColumns) {
  std::vector<std::string> values = Numbers("a", 10);
  for (const std::string& value : Numbers("b", 10))
    values.push_back(value);
  std::vector<std::string> kinds(10, "a");
  kinds.resize(20, "b");
  TTablePipeline pipeline("DynPipe0", {{"Value", values}, {"Kind", kinds}});
  Report report;
  SmallPage(report);
  report.PrinterSetup.Columns = 2;
  report.Pipeline = &pipeline;
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.Height = kLine;
  DBText& value = report.Create<DBText>(detail, "Value");
  value.DataField = "Value";
  value.Width = 20000;
  value.Height = kLine;
  Group& group = report.CreateGroup();
  Band& head = *group.HeaderBand();
  head.Height = kLine;
  DBText& kind = report.Create<DBText>(head, "Kind");
  kind.DataField = "Kind";
  kind.Width = 20000;
  kind.Height = kLine;
  group.BreakName = "Kind";
  Band& foot = *group.FooterBand();
  foot.Height = kLine;
  DBCalc& count = report.Create<DBCalc>(foot, "Count");
  count.Calculation = CalcType::ctCount;
  count.Width = 20000;
  count.Height = kLine;

  const ArchiveDocument document = Print(report);
  ASSERT_EQ(document.Pages.size(), 1u);
  struct Where {
    const char* Text;
    Micro X;
    Micro Top;
  };
  // Lines of column 1: a, a1 ... a10, 10, b, b1 ... b5; column 2: b6 ... b10, 20.
  for (const Where& where : std::vector<Where>{{"a", 10000, 10000},
                                               {"10", 10000, 10000 + 11 * kLine},
                                               {"b", 10000, 10000 + 12 * kLine},
                                               {"b5", 10000, 10000 + 17 * kLine},
                                               {"b6", 100000, 10000},
                                               {"20", 100000, 10000 + 5 * kLine}}) {
    SCOPED_TRACE(where.Text);
    const ArchiveText text = FindText(document, where.Text).second;
    EXPECT_EQ(text.X, where.X);
    EXPECT_EQ(text.Top, where.Top);
  }
}

// Sub-report copies stacked in the detail band flow on through the columns; a page
// break in a column starts a new page, not the next column.
TEST(ReportColumns, SubReportsAndPageBreaksInColumns) {
  Report report;
  SmallPage(report);
  report.PrinterSetup.Columns = 2;
  report.PrinterSetup.ColumnSpacing = 4000;
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.PrintHeightDynamic = true;
  // Rows of 5 mm: copy A has 10; copy B, below it, 30, and a page break after its
  // first three ("x") rows.
  std::vector<std::unique_ptr<TTablePipeline>> pipelines;
  std::vector<std::unique_ptr<SubReport>> copies;
  for (const auto& [prefix, count] : std::vector<std::pair<std::string, int>>{{"A", 10}, {"B", 30}}) {
    std::vector<std::string> kinds(count, "y");
    std::fill_n(kinds.begin(), 3, "x");
    pipelines.push_back(std::make_unique<TTablePipeline>(
        "DynPipe" + prefix,
        std::map<std::string, std::vector<std::string>>{{"F1", Numbers(prefix, count)}, {"Kind", kinds}}));
    auto sub = std::make_unique<SubReport>();
    sub->Name = "SubReport_" + prefix;
    Report& child = sub->CreateReport(&report);
    child.Pipeline = pipelines.back().get();
    Band& rows = child.CreateBand(BandType::btDetail);
    rows.Height = 5000;
    DBText& cell = child.Create<DBText>(rows, "F1");
    cell.DataField = "F1";
    cell.Width = 20000;
    cell.Height = kLine;
    if (!copies.empty()) {
      DBText& kind = child.Create<DBText>(rows, "Kind");
      kind.DataField = "Kind";
      kind.Visible = false;
      Group& group = child.CreateGroup();
      group.BreakName = "Kind";
      child.Create<PageBreak>(*group.FooterBand(), "PageBreak1");
      sub->ShiftRelativeTo = copies.back().get();
    }
    detail.AddObject(*sub);
    copies.push_back(std::move(sub));
  }

  const ArchiveDocument document = Print(report);
  const Micro second = 10000 + 88000 + 4000;
  struct Where {
    const char* Text;
    int Page;
    Micro X;
    Micro Top;
  };
  for (const Where& where : std::vector<Where>{{"A10", 0, 10000, 55000},
                                               {"B1", 0, 10000, 60000},
                                               {"B3", 0, 10000, 70000},
                                               {"B4", 1, 10000, 10000},
                                               {"B19", 1, 10000, 10000 + 15 * 5000},
                                               {"B20", 1, second, 10000},
                                               {"B30", 1, second, 10000 + 10 * 5000}}) {
    SCOPED_TRACE(where.Text);
    const auto [page, text] = FindText(document, where.Text);
    EXPECT_EQ(page, where.Page);
    EXPECT_EQ(text.X, where.X);
    EXPECT_EQ(text.Top, where.Top);
  }
  EXPECT_EQ(document.Pages.size(), 2u);

  // A child report with columns of its own cannot be laid out inside a band.
  Report& child = *copies.front()->GetReport();
  child.PrinterSetup.Columns = 2;
  EXPECT_EQ(document.Pages.size(), Print(report).Pages.size());  // it shares the parent's set-up
  copies.front()->ParentPrinterSetup = false;
  TFakeTextMeasurer measurer;
  TMemoryArchiveDevice device;
  try {
    report.PrintToDevice(device, measurer);
    ADD_FAILURE() << "printed";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("SubReport_A"), std::string::npos) << error.what();
  }
}

// A sub-report in a column band stops and resumes in every column as it does on
// every page. Below a 20 mm title the columns of page 1 start at 30 mm, those of the
// other pages at 10 mm; the content ends at 90 mm.
TEST(ReportColumns, StopPositionAndOverFlowOffsetApplyInEachColumn) {
  struct Case {
    const char* What;
    Micro Stop;
    Micro OverFlow;
    std::vector<Where> Expected;
  };
  const std::vector<Case> cases = {
      // 40 mm below the band's top, then below each column's top: 9 lines.
      {"stop",
       40000,
       0,
       {{"L1", 0, 10000, 30000},
        {"L9", 0, 10000, 30000 + 8 * kLine},
        {"L10", 0, kSecond, 30000},
        {"L18", 0, kSecond, 30000 + 8 * kLine},
        {"L19", 1, 10000, 10000},
        {"L28", 1, kSecond, 10000},
        {"L37", 2, 10000, 10000}}},
      // 14 lines from 30 mm, then each column resumes 10 mm below its top.
      {"overflow offset",
       0,
       10000,
       {{"L14", 0, 10000, 30000 + 13 * kLine},
        {"L15", 0, kSecond, 40000},
        {"L25", 0, kSecond, 40000 + 10 * kLine},
        {"L26", 1, 10000, 20000},
        {"L41", 1, 10000, 20000 + 15 * kLine},
        {"L42", 1, kSecond, 20000}}},
      // Resumes 10 mm below the column's top and stops 40 mm below it: 7 lines.
      {"both",
       40000,
       10000,
       {{"L9", 0, 10000, 30000 + 8 * kLine},
        {"L10", 0, kSecond, 40000},
        {"L16", 0, kSecond, 40000 + 6 * kLine},
        {"L17", 1, 10000, 20000},
        {"L23", 1, 10000, 20000 + 6 * kLine},
        {"L24", 1, kSecond, 20000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Report report;
    TwoColumns(report, 20000);
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    SubReport& sub = AddSubReport(report, detail, "SubReport_L");
    sub.StopPosition = c.Stop;
    sub.OverFlowOffset = c.OverFlow;
    Report& child = *sub.GetReport();
    AddMemo(child, *child.DetailBand(), "L", Joined("L", 50));
    Label& after = AddLabel(report, detail, "Nach", 20000);
    after.ShiftRelativeTo = &sub;

    const ArchiveDocument document = Print(report);
    ExpectPlaced(document, c.Expected);
    // What follows the sub-report is not held back by its limits.
    const auto [lastPage, last] = FindText(document, "L50");
    ExpectPlaced(document, {{"Nach", lastPage, last.X, last.Top + kLine}});
  }
}

// A keep-together block that no column of the page can hold goes to the next page
// (below a 30 mm title the columns of page 1 are 50 mm high); one taller than a page
// is cut wherever a column ends, as on pages.
TEST(ReportColumns, KeepTogetherBlockTallerThanAColumn) {
  struct Case {
    const char* What;
    int Lines;
    std::vector<Where> Expected;
  };
  const std::vector<Case> cases = {
      {"shorter than a page",
       14,
       {{"K1", 1, 10000, 10000}, {"K14", 1, 10000, 10000 + 13 * kLine}, {"M1", 1, 10000, 10000 + 14 * kLine}}},
      {"taller than a page",
       25,
       {{"K1", 0, 10000, 40000},
        {"K11", 0, 10000, 40000 + 10 * kLine},
        {"K12", 0, kSecond, 40000},
        {"K22", 0, kSecond, 40000 + 10 * kLine},
        {"K23", 1, 10000, 10000},
        {"M1", 1, 10000, 10000 + 3 * kLine}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TTablePipeline pipeline("DynPipe0", {{"Text", {Joined("K", c.Lines), Joined("M", 3)}}});
    Report report;
    TwoColumns(report, 30000);
    report.Pipeline = &pipeline;
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    DBMemo& memo = report.Create<DBMemo>(detail, "Text");
    memo.DataField = "Text";
    memo.Width = 80000;
    memo.Height = kLine;
    memo.Stretch = true;
    memo.KeepTogether = true;

    const ArchiveDocument document = Print(report);
    ASSERT_EQ(document.Pages.size(), 2u);
    ExpectPlaced(document, c.Expected);
  }
}

// In a column a flow resumes below its overflow offset; a block kept together that
// does not fit below it even in an empty column is cut between lines there, as on a
// page, instead of being moved on from column to column for ever.
TEST(ReportColumns, KeepTogetherBelowAnOverflowOffsetIsCutInAnEmptyColumn) {
  Report report;
  TwoColumns(report, 0);
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.PrintHeightDynamic = true;
  SubReport& sub = AddSubReport(report, detail, "SubReport_Outer");
  sub.OverFlowOffset = 30000;
  Report& child = *sub.GetReport();
  Memo& fill = AddMemo(child, *child.DetailBand(), "Fill", Joined("F", 18));
  Memo& block = AddMemo(child, *child.DetailBand(), "Block", Joined("K", 14));
  block.Top = kLine;
  block.ShiftRelativeTo = &fill;
  block.KeepTogether = true;

  const ArchiveDocument document = Print(report);
  ASSERT_EQ(document.Pages.size(), 2u);
  // 50 mm below the offset hold 11 of the 14 lines.
  ExpectPlaced(document, {{"F18", 0, 10000, 10000 + 17 * kLine},
                          {"K1", 0, kSecond, 40000},
                          {"K11", 0, kSecond, 40000 + 10 * kLine},
                          {"K12", 1, 10000, 40000},
                          {"K14", 1, 10000, 40000 + 2 * kLine}});
}

// A static band taller than its text that does not fit where the page or column
// ends moves on whole instead of carrying its empty rest over; only a band taller
// than a page is cut, its rest continuing at the top of the next page.
TEST(ReportColumns, StaticBandMovesOnWholeUnlessTallerThanAPage) {
  struct Case {
    const char* What;
    int Columns;
    Micro Height;
    std::vector<Where> Expected;
  };
  const std::vector<Case> cases = {
      {"page", 1, 30000, {{"R2", 0, 10000, 40000}, {"R3", 1, 10000, 10000}, {"R4", 1, 10000, 40000}}},
      {"column",
       2,
       30000,
       {{"R2", 0, 10000, 40000}, {"R3", 0, kSecond, 10000}, {"R4", 0, kSecond, 40000}, {"R5", 1, 10000, 10000}}},
      // 80 mm on page 1, the other 20 mm on page 2, the next band below them.
      {"taller than a page", 1, 100000, {{"R1", 0, 10000, 10000}, {"R2", 1, 10000, 30000}, {"R3", 2, 10000, 50000}}},
      {"taller than a column", 2, 100000, {{"R2", 0, kSecond, 30000}, {"R3", 1, 10000, 50000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TTablePipeline pipeline("DynPipe0", {{"Nr", Numbers("R", 5)}});
    Report report;
    TwoColumns(report, 0);
    report.PrinterSetup.Columns = c.Columns;
    report.Pipeline = &pipeline;
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.Height = c.Height;
    DBText& number = report.Create<DBText>(detail, "Nr");
    number.DataField = "Nr";
    number.Width = 20000;
    number.Height = kLine;

    ExpectPlaced(Print(report), c.Expected);
  }
}

TEST(ReportColumns, RefusesColumnsThatDoNotFitBetweenTheMargins) {
  struct Case {
    int Columns;
    Micro ColumnWidth;
    Micro Spacing;
    bool Fits;
  };
  // 180 mm between the margins.
  const std::vector<Case> cases = {
      {2, 90000, 0, true},  {2, 88000, 4000, true}, {2, 90000, 1, false},  {3, 0, 90000, false},
      {2, 0, -1000, false}, {2, 200000, 0, false},  {200000, 0, 0, false}, {180, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Columns << " x " << c.ColumnWidth << " + " << c.Spacing);
    Report report;
    SmallPage(report);
    report.PrinterSetup.Columns = c.Columns;
    report.PrinterSetup.ColumnWidth = c.ColumnWidth;
    report.PrinterSetup.ColumnSpacing = c.Spacing;
    AddLabel(report, report.CreateBand(BandType::btDetail), "Zeile", 20000);
    if (c.Fits) {
      EXPECT_EQ(Print(report).Pages.at(0).Text(), "Zeile");
    } else {
      EXPECT_THROW(Print(report), std::runtime_error);
    }
  }
}

}  // namespace
}  // namespace Platform::Report
