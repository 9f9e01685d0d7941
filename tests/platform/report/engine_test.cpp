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
