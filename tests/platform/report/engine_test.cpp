// Layout and pagination, checked on the archive content with the fake measurer:
// at 10 pt a line is 4233 um high and a character 1764 um wide.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/platform/report/report_fixture.h"

namespace Platform::Report {
namespace {

using namespace Testing;

const Micro kLine = TFakeTextMeasurer::LineHeight(10);

std::string Numbered(const std::string& aPrefix, int aCount) {
  std::string text;
  for (int i = 1; i <= aCount; ++i)
    text += (i > 1 ? "\n" : "") + aPrefix + std::to_string(i);
  return text;
}

Memo& AddMemo(Report& aReport, Band& aBand, const std::string& aName, const std::string& aText, Micro aTop = 0) {
  Memo& memo = aReport.Create<Memo>(aBand, aName);
  memo.SetText(aText);
  memo.Top = aTop;
  memo.Width = 180000;
  memo.Height = kLine;
  memo.Stretch = true;
  return memo;
}

TEST(ReportEngine, StretchingMemoContinuesOnTheNextPage) {
  Report report;
  SmallPage(report);
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.PrintHeightDynamic = true;
  AddMemo(report, detail, "Memo1", Numbered("L", 30), 2000);

  const ArchiveDocument document = Print(report);
  ASSERT_EQ(document.Pages.size(), 2u);
  // 2 mm + 18 lines fit into the 80 mm of content; line 19 opens page 2 at its top.
  EXPECT_EQ(FindText(document, "L1").second.Top, 12000);
  EXPECT_EQ(FindText(document, "L1").second.X, 10000);
  EXPECT_EQ(FindText(document, "L18").first, 0);
  EXPECT_EQ(FindText(document, "L19").first, 1);
  EXPECT_EQ(FindText(document, "L19").second.Top, 10000);
  EXPECT_EQ(FindText(document, "L30").second.Top, 10000 + 11 * kLine);
  EXPECT_EQ(Texts(document.Pages[0]).size(), 18u);
}

TEST(ReportEngine, StaticBandClipsAMemoThatDoesNotStretch) {
  Report report;
  SmallPage(report);
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.Height = 10000;
  Memo& memo = AddMemo(report, detail, "Memo1", Numbered("L", 5));
  memo.Height = 10000;
  const ArchiveDocument document = Print(report);
  ASSERT_EQ(document.Pages.size(), 1u);
  EXPECT_EQ(document.Pages[0].Text(), "L1 L2");
}

// The module's sub-report and its copies placed in the master, as the printing
// library assembles them: template copies, unowned, stacked by ShiftRelativeTo.
struct TAssembly {
  Report Module;
  Report Master;
  std::vector<std::unique_ptr<SubReport>> Copies;

  TAssembly() {
    SmallPage(Master);
    Master.CreateBand(BandType::btDetail).PrintHeightDynamic = true;
  }

  SubReport& Source(const std::string& aName) {
    Band& band = Module.CreateBand(BandType::btDetail);
    if (auto* existing = dynamic_cast<SubReport*>(Module.FindComponent(aName)))
      return *existing;
    SubReport& sub = Module.Create<SubReport>(band, aName);
    Report& child = sub.CreateReport(&Module);
    child.CreateBand(BandType::btDetail).PrintHeightDynamic = true;
    return sub;
  }

  SubReport& Copy(SubReport& aSource) {
    std::stringstream stream;
    aSource.GetReport()->SaveToStream(stream);
    auto copy = std::make_unique<SubReport>();
    Report& child = copy->CreateReport(&Master);
    child.CreateDefaultBands();
    child.LoadFromStream(stream);
    copy->KeepTogether = aSource.KeepTogether;
    copy->UserName = aSource.UserName;
    copy->Top = 0;
    copy->ShiftRelativeTo = Copies.empty() ? nullptr : Copies.back().get();
    Master.DetailBand()->AddObject(*copy);
    Copies.push_back(std::move(copy));
    return *Copies.back();
  }
};

TEST(ReportEngine, SubReportCopiesStackBelowEachOther) {
  TAssembly assembly;
  SubReport& source = assembly.Source("SubReport_H1");
  Memo& h1 = AddMemo(*source.GetReport(), *source.GetReport()->DetailBand(), "H1", "A1\nA2\nA3");
  assembly.Copy(source);
  h1.SetText("B1\nB2");
  assembly.Copy(source);

  const ArchiveDocument document = Print(assembly.Master);
  ASSERT_EQ(document.Pages.size(), 1u);
  EXPECT_EQ(FindText(document, "A1").second.Top, 10000);
  EXPECT_EQ(FindText(document, "A3").second.Top, 10000 + 2 * kLine);
  EXPECT_EQ(FindText(document, "B1").second.Top, 10000 + 3 * kLine);
  EXPECT_EQ(FindText(document, "B2").second.Top, 10000 + 4 * kLine);

  // Detached copies print nothing.
  for (auto& copy : assembly.Copies)
    assembly.Master.DetailBand()->RemoveObject(*copy);
  EXPECT_EQ(Print(assembly.Master).Pages[0].Items.size(), 0u);
}

TEST(ReportEngine, KeepTogetherMovesTheWholeBlockToTheNextPage) {
  struct Case {
    bool KeepTogether;
    int LinesOnFirstPage;
  };
  for (const Case& c : {Case{true, 0}, Case{false, 2}}) {
    SCOPED_TRACE(c.KeepTogether);
    TAssembly assembly;
    SubReport& filler = assembly.Source("SubReport_Fill");
    AddMemo(*filler.GetReport(), *filler.GetReport()->DetailBand(), "Fill", Numbered("F", 16));
    SubReport& block = assembly.Source("SubReport_Block");
    block.KeepTogether = c.KeepTogether;
    AddMemo(*block.GetReport(), *block.GetReport()->DetailBand(), "Block", Numbered("K", 4));
    assembly.Copy(filler);
    assembly.Copy(block);

    const ArchiveDocument document = Print(assembly.Master);
    ASSERT_EQ(document.Pages.size(), 2u);
    int onFirst = 0;
    for (int i = 1; i <= 4; ++i)
      onFirst += FindText(document, "K" + std::to_string(i)).first == 0;
    EXPECT_EQ(onFirst, c.LinesOnFirstPage);
    const auto [page, first] = FindText(document, "K" + std::to_string(c.LinesOnFirstPage + 1));
    EXPECT_EQ(page, 1);
    EXPECT_EQ(first.Top, 10000);
  }
}

TEST(ReportEngine, KeepTogetherTallerThanAPageStillSplits) {
  TAssembly assembly;
  SubReport& block = assembly.Source("SubReport_Block");
  block.KeepTogether = true;
  AddMemo(*block.GetReport(), *block.GetReport()->DetailBand(), "Block", Numbered("K", 25));
  assembly.Copy(block);
  const ArchiveDocument document = Print(assembly.Master);
  ASSERT_EQ(document.Pages.size(), 2u);
  EXPECT_EQ(FindText(document, "K18").first, 0);
  EXPECT_EQ(FindText(document, "K19").first, 1);
}

// A five-column table: title band with headers, detail band per record, vertical
// lines that grow with the row, summary band with a closing line.
struct TTable {
  Report Module;
  SubReport* Table = nullptr;
  static constexpr Micro kWidths[5] = {62000, 24000, 24000, 24000, 24000};

  explicit TTable(TTablePipeline& aPipeline) {
    SmallPage(Module);
    Band& band = Module.CreateBand(BandType::btDetail);
    band.PrintHeightDynamic = true;
    Table = &Module.Create<SubReport>(band, "SubReport_Platte");
    Report& child = Table->CreateReport(&Module);
    child.Pipeline = &aPipeline;
    Band& title = child.CreateBand(BandType::btTitle);
    title.Height = 6000;
    Band& detail = child.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    Band& summary = child.CreateBand(BandType::btSummary);
    summary.Height = 1000;
    Line& closing = child.Create<Line>(summary, "SummaryLine");
    closing.Width = 158000;
    Micro left = 0;
    for (int column = 0; column < 5; ++column) {
      const std::string n = std::to_string(column + 1);
      Label& header = child.Create<Label>(title, "Platte_H" + n);
      header.Caption = "H" + n;
      header.Left = left;
      header.Width = kWidths[column];
      header.Height = 5000;
      DBText& field = child.Create<DBText>(detail, "Platte_F" + n);
      field.UserName = "Platte_F" + n;
      field.DataField = "F" + n;
      field.Left = left;
      field.Width = kWidths[column];
      field.Height = 5000;
      Line& separator = child.Create<Line>(detail, "Separator" + n);
      separator.Position = LinePosition::lpLeft;
      separator.Left = left;
      separator.Height = 1000;
      separator.StretchWithParent = true;
      left += kWidths[column];
    }
  }
};

TTablePipeline TablePipeline(int aRecords) {
  std::map<std::string, std::vector<std::string>> columns;
  for (int record = 1; record <= aRecords; ++record) {
    for (int column = 1; column <= 5; ++column) {
      columns["F" + std::to_string(column)].push_back("R" + std::to_string(record) + "C" + std::to_string(column));
    }
  }
  return TTablePipeline("DynPipe0", columns);
}

TEST(ReportEngine, TableRepeatsItsDetailBandPerRecordOverTwoPages) {
  TTablePipeline pipeline = TablePipeline(25);
  TTable table(pipeline);
  const ArchiveDocument document = Print(table.Module);
  ASSERT_EQ(document.Pages.size(), 2u);
  // The title prints once, at the start of the table, not again on page 2.
  EXPECT_EQ(CountText(document, "H1"), 1);
  EXPECT_EQ(FindText(document, "H1").first, 0);
  // 6 mm title + 14 rows of 5 mm fill 76 of 80 mm; row 15 opens page 2.
  EXPECT_EQ(FindText(document, "R1C1").second.Top, 16000);
  EXPECT_EQ(FindText(document, "R14C5").first, 0);
  EXPECT_EQ(FindText(document, "R15C1").first, 1);
  EXPECT_EQ(FindText(document, "R15C1").second.Top, 10000);
  Micro left = 10000;
  for (int column = 1; column <= 5; ++column) {
    EXPECT_EQ(FindText(document, "R20C" + std::to_string(column)).second.X, left);
    left += TTable::kWidths[column - 1];
  }
  for (int record = 1; record <= 25; ++record)
    EXPECT_EQ(CountText(document, "R" + std::to_string(record) + "C3"), 1);
  // Every row has its five separators, 5 mm long; the summary line closes the table.
  int separators = 0;
  int horizontal = 0;
  for (const auto& page : document.Pages) {
    for (const auto& item : page.Items) {
      if (const auto* line = std::get_if<ArchiveLine>(&item)) {
        if (line->X1 == line->X2) {
          ++separators;
          EXPECT_EQ(line->Y2 - line->Y1, 5000);
        } else {
          ++horizontal;
          EXPECT_EQ(line->Y1, 10000 + 11 * 5000);
        }
      }
    }
  }
  EXPECT_EQ(separators, 25 * 5);
  EXPECT_EQ(horizontal, 1);
}

TEST(ReportEngine, SubReportPipelineFeedsItsChildReport) {
  TTablePipeline own = TablePipeline(2);
  TTablePipeline bound = TablePipeline(3);
  TTable table(own);
  table.Table->Pipeline = &bound;
  const ArchiveDocument document = Print(table.Module);
  EXPECT_EQ(CountText(document, "R3C1"), 1);
  EXPECT_EQ(table.Table->GetReport()->Pipeline, &own);  // nothing changed behind the caller's back
}

TEST(ReportEngine, ReprintOnOverFlowRepeatsAComponentWhereItsBandContinues) {
  for (bool reprint : {true, false}) {
    SCOPED_TRACE(reprint);
    Report report;
    SmallPage(report);
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    Memo& label = AddMemo(report, detail, "Label", "Eingabe");
    label.Width = 50000;
    label.ReprintOnOverFlow = reprint;
    Memo& value = AddMemo(report, detail, "Value", Numbered("V", 25));
    value.Left = 50000;
    value.Width = 100000;
    const ArchiveDocument document = Print(report);
    ASSERT_EQ(document.Pages.size(), 2u);
    EXPECT_EQ(CountText(document, "Eingabe"), reprint ? 2 : 1);
    if (reprint) {
      const auto texts = Texts(document.Pages[1]);
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts.front().Text, "Eingabe");
      EXPECT_EQ(texts.front().Top, 10000);
    }
    EXPECT_EQ(FindText(document, "V19").second.Top, 10000);
  }
}

TEST(ReportEngine, EmptyPipelinePrintsTitleAndSummaryOnly) {
  TTablePipeline pipeline = TablePipeline(0);
  TTable table(pipeline);
  const ArchiveDocument document = Print(table.Module);
  ASSERT_EQ(document.Pages.size(), 1u);
  EXPECT_EQ(document.Pages[0].Text(), "H1 H2 H3 H4 H5");
}

TEST(ReportEngine, FooterTextHookSeesPageNumberAndCount) {
  Report report;
  SmallPage(report);
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.PrintHeightDynamic = true;
  AddMemo(report, detail, "Body", Numbered("L", 190));
  Band& footer = report.CreateBand(BandType::btFooter);
  footer.Height = 5000;
  auto& pageNo = report.Create<SystemVariable>(footer, "FooterPageNo");
  pageNo.Visible = false;
  auto& pageCount = report.Create<SystemVariable>(footer, "FooterPageCount");
  pageCount.VarType = SystemVariableType::vtPageCount;
  pageCount.Visible = false;
  Label& page = report.Create<Label>(footer, "FooterPage");
  page.Caption = "Seite_";
  page.Top = 1000;
  page.Width = 50000;
  page.Height = 4000;
  page.OnGetText = [&](Label&, std::string& aText) { aText = pageNo.Text() + " / " + pageCount.Text(); };

  const ArchiveDocument document = Print(report);
  // 75 mm of content take 17 lines a page: 190 lines make 12 pages.
  ASSERT_EQ(document.Pages.size(), 12u);
  const auto [where, text] = FindText(document, "3 / 12");
  EXPECT_EQ(where, 2);
  EXPECT_EQ(text.Top, 100000 - 10000 - 5000 + 1000);
  EXPECT_EQ(FindText(document, "12 / 12").first, 11);
  EXPECT_EQ(CountText(document, "Seite_"), 0);
  // Outside a print run the variables are empty.
  EXPECT_EQ(pageNo.Text(), "");
}

TEST(ReportEngine, PageBreakComponentEndsThePage) {
  Report report;
  SmallPage(report);
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.PrintHeightDynamic = true;
  AddMemo(report, detail, "Before", "before");
  report.Create<PageBreak>(detail, "PageBreak1").Top = kLine;
  AddMemo(report, detail, "After", "after", kLine);
  // A break at the very end must not leave an empty page behind.
  report.Create<PageBreak>(detail, "PageBreak2").Top = 2 * kLine;

  const ArchiveDocument document = Print(report);
  ASSERT_EQ(document.Pages.size(), 2u);
  EXPECT_EQ(document.Pages[0].Text(), "before");
  EXPECT_EQ(document.Pages[1].Text(), "after");
  EXPECT_EQ(FindText(document, "after").second.Top, 10000);
}

TEST(ReportEngine, ShiftRelativeToKeepsTheDesignGapAndSkipsInvisibleAnchors) {
  Report report;
  SmallPage(report);
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.PrintHeightDynamic = true;
  Memo& first = AddMemo(report, detail, "First", "a\nb\nc");
  Memo& hidden = AddMemo(report, detail, "Hidden", "h", kLine + 1000);
  hidden.ShiftRelativeTo = &first;
  hidden.Visible = false;
  Label& below = report.Create<Label>(detail, "Below");
  below.Caption = "below";
  below.Top = 2 * kLine + 3000;  // 1 mm under the hidden memo's design bottom
  below.Width = 50000;
  below.Height = kLine;
  below.ShiftRelativeTo = &first;

  const ArchiveDocument document = Print(report);
  // 2 mm design gap under First, which grew from one line to three.
  EXPECT_EQ(FindText(document, "below").second.Top, 10000 + 3 * kLine + (2 * kLine + 3000 - kLine));
  EXPECT_EQ(CountText(document, "h"), 0);
}

TEST(ReportEngine, GroupHeaderAndFooterFramePerBreakValue) {
  TTablePipeline pipeline("Pipe", {{"Kind", {"a", "a", "b"}}, {"Value", {"1", "2", "3"}}});
  Report report;
  SmallPage(report);
  report.Pipeline = &pipeline;
  Band& detail = report.CreateBand(BandType::btDetail);
  detail.Height = kLine;
  DBText& kind = report.Create<DBText>(detail, "Kind");
  kind.DataField = "Kind";
  kind.Width = 20000;
  kind.Height = kLine;
  DBText& value = report.Create<DBText>(detail, "Value");
  value.DataField = "Value";
  value.Left = 30000;
  value.Width = 20000;
  value.Height = kLine;
  Group& group = report.CreateGroup();
  group.BreakName = "Kind";
  group.HeaderBand()->Height = kLine;
  Label& head = report.Create<Label>(*group.HeaderBand(), "Head");
  head.Caption = "head";
  head.Width = 20000;
  head.Height = kLine;
  group.FooterBand()->Height = kLine;
  DBCalc& sum = report.Create<DBCalc>(*group.FooterBand(), "Sum");
  sum.DataField = "Value";
  sum.Width = 20000;
  sum.Height = kLine;

  const ArchiveDocument document = Print(report);
  ASSERT_EQ(document.Pages.size(), 1u);
  // The running sum is per report: 3 after group a, 6 after group b.
  EXPECT_EQ(document.Pages[0].Text(), "head a 1 a 2 3 head b 3 6");
}

// A copy of a sub-report with `aLines` memo lines ("<prefix>1", ...) in the master.
SubReport& AddLines(TAssembly& aAssembly, const std::string& aPrefix, int aLines) {
  SubReport& source = aAssembly.Source("SubReport_" + aPrefix);
  Report& child = *source.GetReport();
  if (!child.FindComponent(aPrefix))
    AddMemo(child, *child.DetailBand(), aPrefix, Numbered(aPrefix, aLines));
  return aAssembly.Copy(source);
}

TEST(ReportEngine, StopPositionAndOverFlowOffsetShapeTheSubReportOnEachPage) {
  struct Case {
    const char* What;
    int LinesBefore;  // of a sub-report printed first
    Micro Stop;
    Micro OverFlow;
    int FirstPage;  // of L1
    Micro FirstTop;
    int LastOnFirstPage;
    Micro ContinueTop;  // of the next line, on the next page
    std::size_t Pages;
  };
  const Case cases[] = {
      {"neither", 0, 0, 0, 0, 10000, 18, 10000, 2},
      // 40 mm below the band's top hold 9 lines, on every page.
      {"stop", 0, 40000, 0, 0, 10000, 9, 10000, 4},
      {"overflow offset", 0, 0, 20000, 0, 10000, 18, 30000, 2},
      // From 20 mm to 50 mm: 7 lines a page after the first 11.
      {"both", 0, 50000, 20000, 0, 10000, 11, 30000, 4},
      // Starts below its stop position: all of it moves on, and continues from 5 mm.
      {"starts below the stop", 12, 40000, 5000, 1, 15000, 8, 15000, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    TAssembly assembly;
    if (c.LinesBefore > 0)
      AddLines(assembly, "B", c.LinesBefore);
    SubReport& copy = AddLines(assembly, "L", 30);
    copy.StopPosition = c.Stop;
    copy.OverFlowOffset = c.OverFlow;
    AddLines(assembly, "N", 1);

    const ArchiveDocument document = Print(assembly.Master);
    EXPECT_EQ(document.Pages.size(), c.Pages);
    EXPECT_EQ(FindText(document, "L1").first, c.FirstPage);
    EXPECT_EQ(FindText(document, "L1").second.Top, c.FirstTop);
    EXPECT_EQ(FindText(document, "L" + std::to_string(c.LastOnFirstPage)).first, c.FirstPage);
    const auto [page, next] = FindText(document, "L" + std::to_string(c.LastOnFirstPage + 1));
    EXPECT_EQ(page, c.FirstPage + 1);
    EXPECT_EQ(next.Top, c.ContinueTop);
    // What follows the sub-report is not held back by its limits.
    const auto last = FindText(document, "L30");
    EXPECT_EQ(FindText(document, "N1").first, last.first);
    EXPECT_EQ(FindText(document, "N1").second.Top, last.second.Top + kLine);
  }
}

TEST(ReportEngine, KeepTogetherTallerThanTheRoomAboveTheStopSplitsBetweenLines) {
  TAssembly assembly;
  SubReport& copy = AddLines(assembly, "L", 12);
  copy.KeepTogether = true;
  copy.StopPosition = 40000;

  const ArchiveDocument document = Print(assembly.Master);
  ASSERT_EQ(document.Pages.size(), 2u);
  for (const ArchiveText& text : Texts(document.Pages[0]))
    EXPECT_LE(text.Top + text.Height, 10000 + 40000) << text.Text;
  EXPECT_EQ(FindText(document, "L9").first, 0);
  EXPECT_EQ(FindText(document, "L10").first, 1);
  EXPECT_EQ(FindText(document, "L10").second.Top, 10000);
}

TEST(ReportEngine, FixedSubReportPrintsWhatFitsUnlessItTraversesAllData) {
  struct Case {
    bool TraverseAllData;
    std::size_t Pages;
    int Rows;
    int AfterPage;
  };
  for (const Case& c : {Case{false, 1, 4, 0}, Case{true, 3, 12, 2}}) {
    SCOPED_TRACE(c.TraverseAllData);
    TTablePipeline pipeline = TablePipeline(12);
    Report report;
    SmallPage(report);
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    SubReport& sub = report.Create<SubReport>(detail, "SubReport_Fixed");
    sub.Behavior = PrintBehavior::pbFixed;
    sub.TraverseAllData = c.TraverseAllData;
    sub.Height = 20000;
    Report& child = sub.CreateReport(&report);
    child.Pipeline = &pipeline;
    Band& rows = child.CreateBand(BandType::btDetail);
    rows.Height = 5000;
    DBText& cell = child.Create<DBText>(rows, "Cell");
    cell.DataField = "F1";
    cell.Width = 20000;
    cell.Height = 5000;
    Label& after = report.Create<Label>(detail, "After");
    after.Caption = "after";
    after.Top = 21000;
    after.Width = 20000;
    after.Height = kLine;
    after.ShiftRelativeTo = &sub;

    const ArchiveDocument document = Print(report);
    ASSERT_EQ(document.Pages.size(), c.Pages);
    int rowsPrinted = 0;
    for (int record = 1; record <= 12; ++record)
      rowsPrinted += CountText(document, "R" + std::to_string(record) + "C1");
    EXPECT_EQ(rowsPrinted, c.Rows);
    // Four rows to a box of 20 mm, the box at the same place on every page.
    for (int record = 1; record <= c.Rows; ++record) {
      const auto [page, text] = FindText(document, "R" + std::to_string(record) + "C1");
      EXPECT_EQ(page, (record - 1) / 4);
      EXPECT_EQ(text.Top, 10000 + (record - 1) % 4 * 5000);
    }
    EXPECT_EQ(FindText(document, "after").first, c.AfterPage);
    EXPECT_EQ(FindText(document, "after").second.Top, 31000);
  }
}

TEST(ReportEngine, ChildOnTheEnclosingPipelinePrintsItsRecordUnlessItTraversesAllData) {
  for (bool traverse : {false, true}) {
    SCOPED_TRACE(traverse);
    TTablePipeline pipeline("Pipe", {{"Kind", {"a", "b", "c"}}, {"Value", {"1", "2", "3"}}});
    Report report;
    SmallPage(report);
    report.Pipeline = &pipeline;
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    DBText& kind = report.Create<DBText>(detail, "Kind");
    kind.DataField = "Kind";
    kind.Width = 20000;
    kind.Height = kLine;
    SubReport& sub = report.Create<SubReport>(detail, "SubReport_Values");
    sub.Top = kLine;
    sub.TraverseAllData = traverse;
    Report& child = sub.CreateReport(&report);
    child.Pipeline = &pipeline;
    Band& values = child.CreateBand(BandType::btDetail);
    values.Height = kLine;
    DBText& value = child.Create<DBText>(values, "Value");
    value.DataField = "Value";
    value.Width = 20000;
    value.Height = kLine;
    // Printed after the sub-report: sees the enclosing report's record again.
    DBText& again = report.Create<DBText>(detail, "Again");
    again.DataField = "Kind";
    again.Top = 2 * kLine;
    again.Width = 20000;
    again.Height = kLine;
    again.ShiftRelativeTo = &sub;

    const ArchiveDocument document = Print(report);
    ASSERT_EQ(document.Pages.size(), 1u);
    EXPECT_EQ(document.Pages[0].Text(), traverse ? "a 1 2 3 a b 1 2 3 b c 1 2 3 c" : "a 1 a b 2 b c 3 c");
  }
}

TEST(ReportEngine, SectionWithResetPageNoStartsItsOwnPageNumbers) {
  struct Case {
    bool Reset;
    std::vector<std::string> Footers;
  };
  const Case cases[] = {
      {false, {"Seite 1 von 5", "Seite 2 von 5", "Seite 3 von 5", "Seite 4 von 5", "Seite 5 von 5"}},
      {true, {"Seite 1 von 2", "Seite 2 von 2", "Seite 1 von 2", "Seite 2 von 2", "Seite 1 von 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Reset);
    TAssembly assembly;
    Band& footer = assembly.Master.CreateBand(BandType::btFooter);
    footer.Height = 5000;
    auto& page = assembly.Master.Create<SystemVariable>(footer, "FooterPage");
    page.VarType = SystemVariableType::vtPageSetDesc;
    page.Width = 60000;
    page.Height = kLine;
    // 17 lines a page: 20 lines take two pages, each section starts a new one.
    AddLines(assembly, "A", 20);
    for (const auto& [prefix, lines] : {std::pair{"S", 30}, std::pair{"T", 1}}) {
      SubReport& section = AddLines(assembly, prefix, lines);
      section.Behavior = PrintBehavior::pbSection;
      section.ResetPageNo = c.Reset;
    }

    const ArchiveDocument document = Print(assembly.Master);
    ASSERT_EQ(document.Pages.size(), c.Footers.size());
    EXPECT_EQ(FindText(document, "S1").first, 2);
    EXPECT_EQ(FindText(document, "T1").first, 4);
    std::vector<std::string> footers;
    for (const ArchivePage& printed : document.Pages) {
      for (const ArchiveText& text : Texts(printed)) {
        if (text.Text.starts_with("Seite"))
          footers.push_back(text.Text);
      }
    }
    EXPECT_EQ(footers, c.Footers);
  }
}

TEST(ReportEngine, DrillDownSubReportPrintsOnlyWhenExpanded) {
  struct Case {
    bool DrillDown;
    bool ExpandAll;
    bool Printed;
  };
  for (const Case& c : {Case{false, false, true}, Case{true, false, false}, Case{true, true, true}}) {
    SCOPED_TRACE(testing::Message() << c.DrillDown << c.ExpandAll);
    TAssembly assembly;
    Label& toggle = assembly.Module.Create<Label>(assembly.Module.CreateBand(BandType::btDetail), "Toggle");
    SubReport& details = AddLines(assembly, "D", 3);
    details.DrillDownComponent = c.DrillDown ? &toggle : nullptr;
    details.ExpandAll = c.ExpandAll;
    AddLines(assembly, "N", 1);

    const ArchiveDocument document = Print(assembly.Master);
    EXPECT_EQ(CountText(document, "D3"), c.Printed ? 1 : 0);
    EXPECT_EQ(FindText(document, "N1").second.Top, 10000 + (c.Printed ? 3 * kLine : 0));
  }
}

TEST(ReportEngine, AnchorsFollowTheWidthAndHeightTheBandPrintsWith) {
  // The child report was designed 120 mm wide and prints 150 mm wide (ParentWidth, at
  // 30 mm); its band, designed 10 mm high, grows with a five-line memo to 5 lines.
  const Micro wider = 30000;
  const Micro taller = 5 * kLine - 10000;
  struct Case {
    unsigned Anchors;
    Micro Left, Top, Width, Height;
    Micro X, Y, W, H;  // on the page
  };
  const Micro x0 = 10000 + 30000;
  const Micro y0 = 10000;
  const Case cases[] = {
      {akLeft | akTop, 40000, 1000, 10000, 5000, x0 + 40000, y0 + 1000, 10000, 5000},
      {akRight | akTop, 100000, 1000, 10000, 5000, x0 + 100000 + wider, y0 + 1000, 10000, 5000},
      {akLeft | akRight | akTop, 60000, 1000, 20000, 5000, x0 + 60000, y0 + 1000, 20000 + wider, 5000},
      {akLeft | akBottom, 40000, 4000, 10000, 5000, x0 + 40000, y0 + 4000 + taller, 10000, 5000},
      {akLeft | akTop | akBottom, 40000, 4000, 10000, 5000, x0 + 40000, y0 + 4000, 10000, 5000 + taller},
      {akRight | akBottom, 100000, 4000, 10000, 5000, x0 + 100000 + wider, y0 + 4000 + taller, 10000, 5000},
      {akLeft | akTop | akRight | akBottom, 0, 0, 120000, 10000, x0, y0, 120000 + wider, 10000 + taller},
  };
  for (bool parentWidth : {true, false}) {
    SCOPED_TRACE(parentWidth);
    Report report;
    SmallPage(report);
    Band& detail = report.CreateBand(BandType::btDetail);
    detail.PrintHeightDynamic = true;
    SubReport& sub = report.Create<SubReport>(detail, "SubReport_Anchors");
    sub.Left = 30000;
    sub.Width = 120000;
    sub.ParentWidth = parentWidth;
    Report& child = sub.CreateReport(&report);
    Band& band = child.CreateBand(BandType::btDetail);
    band.Height = 10000;
    band.PrintHeightDynamic = true;
    Memo& memo = AddMemo(child, band, "Grows", Numbered("G", 5));
    memo.Width = 20000;
    std::vector<Region*> regions;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      Region& region = child.Create<Region>(band, "Region" + std::to_string(i));
      region.Anchors = cases[i].Anchors;
      region.Left = cases[i].Left;
      region.Top = cases[i].Top;
      region.Width = cases[i].Width;
      region.Height = cases[i].Height;
      region.PenWidthPt = 0.5;
      region.PenColor = static_cast<std::uint32_t>(i + 1);
      regions.push_back(&region);
    }
    // A label inside the right-anchored region moves with it.
    Label& inside = child.Create<Label>(band, "Inside");
    inside.Caption = "inside";
    inside.Left = 101000;
    inside.Top = 1000;
    inside.Width = 8000;
    inside.Height = kLine;
    inside.ParentRegion = regions[1];

    const ArchiveDocument document = Print(report);
    ASSERT_EQ(document.Pages.size(), 1u);
    const Micro dx = parentWidth ? wider : 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      SCOPED_TRACE(i);
      const Case& c = cases[i];
      const ArchiveRect* found = nullptr;
      for (const auto& item : document.Pages[0].Items) {
        if (const auto* rect = std::get_if<ArchiveRect>(&item); rect && rect->PenColor == i + 1)
          found = rect;
      }
      ASSERT_NE(found, nullptr);
      // Without ParentWidth the width is the design width: only the height changes.
      EXPECT_EQ(found->X, c.X - ((c.Anchors & akRight) && !(c.Anchors & akLeft) ? wider - dx : 0));
      EXPECT_EQ(found->Width, c.W - ((c.Anchors & akRight) && (c.Anchors & akLeft) ? wider - dx : 0));
      EXPECT_EQ(found->Y, c.Y);
      EXPECT_EQ(found->Height, c.H);
    }
    EXPECT_EQ(FindText(document, "inside").second.X, x0 + 101000 + dx);
  }
}

TEST(ReportEngine, RefusesWhatItCannotPrint) {
  Report report;
  report.CreateBand(BandType::btDetail);
  report.PrinterSetup.Columns = 2;
  report.PrinterSetup.ColumnWidth = 100000;  // two do not fit into 168 mm
  TFakeTextMeasurer measurer;
  TMemoryArchiveDevice device;
  EXPECT_THROW(report.PrintToDevice(device, measurer), std::runtime_error);
  EXPECT_THROW(report.Create<Label>(*report.DetailBand(), "1abc"), std::invalid_argument);
  report.Create<Label>(*report.DetailBand(), "Label1");
  EXPECT_THROW(report.Create<Memo>(*report.DetailBand(), "Label1"), std::invalid_argument);
}

}  // namespace
}  // namespace Platform::Report
