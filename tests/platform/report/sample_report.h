// A calculation report like the printing library assembles: an A4 master with logo
// header and page footer, and sub-report copies (headings, notes, a five-column result
// table, rich text) stacked in its detail band. Used by the renderer test (the
// committed sample picture) and by the benchmark.
#pragma once

#include <cairo.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/report/model.h"
#include "tests/platform/report/report_fixture.h"

namespace Platform::Report::Testing {

inline std::vector<std::uint8_t> LogoPng() {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 540, 120);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0.10, 0.27, 0.50);
  cairo_rectangle(cr, 0, 0, 120, 120);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.95, 0.60, 0.10);
  cairo_arc(cr, 60, 60, 36, 0, 6.2832);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.10, 0.27, 0.50);
  cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 64);
  cairo_move_to(cr, 140, 84);
  cairo_show_text(cr, "QUORVANE");
  cairo_destroy(cr);
  std::vector<std::uint8_t> bytes;
  cairo_surface_write_to_png_stream(
      surface,
      [](void* aClosure, const unsigned char* aData, unsigned int aLength) {
        auto* target = static_cast<std::vector<std::uint8_t>*>(aClosure);
        target->insert(target->end(), aData, aData + aLength);
        return CAIRO_STATUS_SUCCESS;
      },
      &bytes);
  cairo_surface_destroy(surface);
  return bytes;
}

class TSampleReport {
 public:
  Report Master;

  TSampleReport() {
    Master.Name = "ppMasterReport";
    Band& header = Master.CreateBand(BandType::btHeader);
    header.PrintHeightDynamic = true;
    header.Height = 31221;
    header.BottomOffset = 6000;
    Image& logo = Master.Create<Image>(header, "HeaderLogo");
    logo.Picture.Bytes = LogoPng();
    logo.Left = 168000 - 54000;
    logo.Width = 54000;
    logo.Height = 12000;
    logo.Stretch = true;
    logo.Anchors = akTop | akRight;
    Master.CreateBand(BandType::btDetail).PrintHeightDynamic = true;
    Band& footer = Master.CreateBand(BandType::btFooter);
    footer.Height = 9260;
    Line& line = Master.Create<Line>(footer, "ppLine1");
    line.UserName = "FooterLine";
    line.Width = 168000;
    line.WeightPt = 0.4;
    Label& company = Master.Create<Label>(footer, "FooterText");
    company.Caption = "Quorvane Ingenieursoftware GmbH · Musterstraße 1 · 12345 Musterstadt";
    company.Font.SizePt = 6;
    company.Top = 1500;
    company.Width = 164000;
    company.Height = 3000;
    pageNo = &Master.Create<SystemVariable>(footer, "FooterPageNo");
    pageNo->Visible = false;
    pageCount = &Master.Create<SystemVariable>(footer, "FooterPageCount");
    pageCount->VarType = SystemVariableType::vtPageCount;
    pageCount->Visible = false;
    Label& page = Master.Create<Label>(footer, "FooterPage");
    page.Caption = "Seite_";
    page.Font.SizePt = 6;
    page.Top = 5000;
    page.Width = 30000;
    page.Height = 3000;
    page.OnGetText = PageText(Master);
    Label& version = Master.Create<Label>(footer, "FooterVersion");
    version.Caption = "Version 0.1.0.0";
    version.Font.SizePt = 6;
    version.Alignment = TextAlignment::taRight;
    version.Left = 118000;
    version.Top = 5000;
    version.Width = 50000;
    version.Height = 3000;
  }

  // The master footer's page label: "3 / 12" once both variables are whole numbers.
  static std::function<void(Label&, std::string&)> PageText(Report& aReport) {
    return [&aReport](Label&, std::string& aText) {
      auto* no = dynamic_cast<SystemVariable*>(aReport.FindComponent("FooterPageNo"));
      auto* count = dynamic_cast<SystemVariable*>(aReport.FindComponent("FooterPageCount"));
      if (no && count && !no->Text().empty() && !count->Text().empty())
        aText = no->Text() + " / " + count->Text();
    };
  }

  void Heading(const std::string& aText, double aSize = 11) {
    Report& child = NewCopy("SubReport_H1", nullptr);
    Memo& memo = child.Create<Memo>(*child.DetailBand(), "H1");
    memo.SetText(aText);
    memo.Font.Bold = true;
    memo.Font.SizePt = aSize;
    memo.Top = 2000;
    memo.Width = 168000;
    memo.Height = 5000;
    memo.Stretch = true;
    memo.BottomOffset = 1000;
  }

  void Notes(const std::vector<std::string>& aNotes) {
    std::map<std::string, std::vector<std::string>> columns;
    for (std::size_t i = 0; i < aNotes.size(); ++i) {
      columns["F1"].push_back(std::to_string(i + 1));
      columns["F2"].push_back(aNotes[i]);
    }
    Report& child = NewCopy("SubReport_Hinweise", Pipeline(columns));
    DBText& mark = child.Create<DBText>(*child.DetailBand(), "Hinweise_F1");
    mark.DataField = "F1";
    mark.Font.SizePt = 10;
    mark.Width = 3000;
    mark.Height = 4000;
    DBMemo& note = child.Create<DBMemo>(*child.DetailBand(), "Hinweise_F2");
    note.DataField = "F2";
    note.Font.SizePt = 10;
    note.Left = 4000;
    note.Width = 164000;
    note.Height = 4000;
    note.Stretch = true;
    note.BottomOffset = 1000;
  }

  void Table(const std::vector<std::string>& aHeaders, const std::vector<std::vector<std::string>>& aRows) {
    std::map<std::string, std::vector<std::string>> columns;
    for (const auto& row : aRows) {
      for (std::size_t c = 0; c < row.size(); ++c)
        columns["F" + std::to_string(c + 1)].push_back(row[c]);
    }
    Report& child = NewCopy("SubReport_Platte", Pipeline(columns));
    Band& title = child.CreateBand(BandType::btTitle);
    title.PrintHeightDynamic = true;
    Band& detail = *child.DetailBand();
    Band& summary = child.CreateBand(BandType::btSummary);
    summary.Height = 2000;
    const Micro widths[5] = {62000, 24000, 24000, 24000, 24000};
    Micro left = 0;
    for (Band* band : {&title, &detail}) {
      Line& top = child.Create<Line>(*band, band == &title ? "TitleTop" : "RowTop");
      top.Width = 158000;
      top.WeightPt = 0.5;
    }
    Line& bottom = child.Create<Line>(summary, "SummaryLine");
    bottom.Width = 158000;
    bottom.WeightPt = 0.5;
    for (int c = 0; c < 5; ++c) {
      const std::string n = std::to_string(c + 1);
      RichText& header = child.Create<RichText>(title, "Platte_H" + n);
      header.RichTextData = "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}}\\qc\\b " +
                            (c < static_cast<int>(aHeaders.size()) ? aHeaders[c] : std::string()) + "}";
      header.Left = left + 1000;
      header.Top = 1000;
      header.Width = widths[c] - 2000;
      header.Height = 4000;
      header.Stretch = true;
      header.BottomOffset = 1000;
      DBRichText& cell = child.Create<DBRichText>(detail, "Platte_F" + n);
      cell.DataField = "F" + n;
      cell.Alignment = c == 0 ? TextAlignment::taLeft : TextAlignment::taRight;
      cell.Left = left + 1000;
      cell.Top = 800;
      cell.Width = widths[c] - 2000;
      cell.Height = 4000;
      cell.Stretch = true;
      cell.ReprintOnOverFlow = true;
      cell.BottomOffset = 800;
      for (Band* band : {&title, &detail}) {
        Line& separator = child.Create<Line>(*band, (band == &title ? "TitleSep" : "RowSep") + n);
        separator.Position = LinePosition::lpLeft;
        separator.Left = left;
        separator.Height = 1000;
        separator.StretchWithParent = true;
        separator.WeightPt = 0.5;
      }
      left += widths[c];
    }
    for (Band* band : {&title, &detail}) {
      Line& last = child.Create<Line>(*band, band == &title ? "TitleSep6" : "RowSep6");
      last.Position = LinePosition::lpLeft;
      last.Left = left;
      last.Height = 1000;
      last.StretchWithParent = true;
      last.WeightPt = 0.5;
    }
  }

  void Text(const std::string& aRtf) {
    Report& child = NewCopy("SubReport_Text", nullptr);
    RichText& text = child.Create<RichText>(*child.DetailBand(), "Text_F1");
    text.RichTextData = aRtf;
    text.Top = 1000;
    text.Width = 168000;
    text.Height = 4000;
    text.Stretch = true;
    text.BottomOffset = 1000;
  }

  void PageBreakHere() {
    Report& child = NewCopy("SubReport_PageBreak", nullptr);
    child.Create<PageBreak>(*child.DetailBand(), "PageBreak1");
  }

  // Sub-report copies by their Name, with the pipeline each one prints.
  const std::map<std::string, DataPipeline*>& PipelinesByCopy() const { return fPipelineOf; }

  // Binds the pipelines to a report loaded from this sample's saved layout.
  void Bind(Report& aLoaded) const {
    for (Component* component : aLoaded.Components()) {
      if (auto* sub = dynamic_cast<SubReport*>(component)) {
        if (auto it = fPipelineOf.find(sub->Name); it != fPipelineOf.end())
          sub->GetReport()->Pipeline = it->second;
      }
      if (auto* label = dynamic_cast<Label*>(component); label && label->Name == "FooterPage") {
        label->OnGetText = PageText(aLoaded);
      }
    }
  }

 private:
  DataPipeline* Pipeline(std::map<std::string, std::vector<std::string>> aColumns) {
    fPipelines.push_back(std::make_unique<TTablePipeline>("DynPipe" + std::to_string(fPipelines.size()), aColumns));
    return fPipelines.back().get();
  }

  Report& NewCopy(const std::string& aSource, DataPipeline* aPipeline) {
    auto copy = std::make_unique<SubReport>();
    copy->Name = aSource + "_" + std::to_string(fCopies.size() + 1);
    copy->UserName = aSource;
    copy->ShiftRelativeTo = fCopies.empty() ? nullptr : fCopies.back().get();
    Report& child = copy->CreateReport(&Master);
    child.CreateBand(BandType::btDetail).PrintHeightDynamic = true;
    child.Pipeline = aPipeline;
    Master.DetailBand()->AddObject(*copy);
    fPipelineOf[copy->Name] = aPipeline;
    fCopies.push_back(std::move(copy));
    return child;
  }

  SystemVariable* pageNo = nullptr;
  SystemVariable* pageCount = nullptr;
  std::vector<std::unique_ptr<SubReport>> fCopies;
  std::vector<std::unique_ptr<TTablePipeline>> fPipelines;
  std::map<std::string, DataPipeline*> fPipelineOf;
};

// One section of a calculation report: heading, notes, a result table and a text.
inline void AddSampleSection(TSampleReport& aSample, int aSection, int aRows) {
  aSample.Heading(std::to_string(aSection) + ". Nachweis der Bohrpfahlwand, Bauabschnitt " + std::to_string(aSection));
  aSample.Notes(
      {"Alle Einwirkungen sind charakteristische Werte; die Teilsicherheitsbeiwerte sind in den "
       "Bemessungswerten enthalten.",
       "Die Einbindetiefe ergibt sich aus dem Gleichgewicht der horizontalen Kräfte am Fußpunkt."});
  std::vector<std::vector<std::string>> rows;
  for (int r = 1; r <= aRows; ++r) {
    const std::string depth = std::to_string(r / 2) + "," + std::to_string((r % 2) * 5) + "0";
    rows.push_back(
        {"{\\rtf1 Tiefe z = " + depth + " m}", std::to_string(120 + 7 * r) + ",4", std::to_string(35 + r) + ",1",
         "{\\rtf1\\b " + std::to_string(2 * r) + ",75}",
         r % 7 == 0 ? "{\\rtf1{\\colortbl;\\red200\\green0\\blue0;}\\cf1 1,02}" : "0,8" + std::to_string(r % 10)});
  }
  aSample.Table({"Lage", "M [kNm]", "N [kN]", "V [kN]", "\\u951?"}, rows);
  aSample.Text(
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red16\\green64\\blue128;}"
      "\\f0\\fs20 Die Nachweise sind \\b erf\\'fcllt\\b0 : die Ausnutzung bleibt unter \\i 1,0\\i0  "
      "au\\'dfer in den \\cf1\\ul markierten\\ulnone\\cf0  Zeilen.\\par\\qc\\fs16 Grenzzustand der "
      "Tragf\\'e4higkeit \\u8211? GEO-2\\par}");
}

}  // namespace Platform::Report::Testing
