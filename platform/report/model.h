// The report engine's object model: reports with page set-up, bands, and the
// components placed in bands.
//
// Ownership: a `Report` owns its bands, groups and the components created through
// `Report::Create`, kept in creation order (`Components()`). A band only lists the
// components printed in it (`Objects()`), in placement order; a component may be
// listed in a band without being owned by that band's report (a sub-report made by
// `std::make_unique<SubReport>()` and placed with `Band::AddObject`): whoever made it
// owns it, and destroying it detaches it from its band. A `SubReport` owns its child
// report. Pipelines are never owned by the model (see pipeline.h).
//
// Names: `Name` identifies a component within its owning report (a valid identifier,
// unique there; `Create` refuses others with std::invalid_argument). `UserName` is a
// free label by which data binding and static values find components.
//
// Lengths are micrometres (units.h); `Top`/`Left` are relative to the band. Everything
// here is single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/report/pipeline.h"
#include "platform/report/styled_text.h"
#include "platform/report/units.h"

namespace Platform::Report {

class ArchiveDevice;
class ITextMeasurer;
class Band;
class Report;
class Region;

// A picture as stored or sent: the file bytes of a BMP, JPEG, ICO, PNG, WMF or EMF
// picture. The format is found from the bytes when the picture is printed.
struct Picture {
  std::vector<std::uint8_t> Bytes;
  bool Empty() const { return Bytes.empty(); }
  bool operator==(const Picture&) const = default;
};

enum Anchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

class Component {
 public:
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  // Class name as stored in templates and layout files ("Label", "Memo", ...).
  virtual const char* ClassName() const = 0;
  virtual bool IsDataAware() const { return false; }

  std::string Name;
  std::string UserName;
  Micro Top = 0;
  Micro Left = 0;
  Micro Width = 0;
  Micro Height = 0;
  bool Visible = true;
  unsigned Anchors = akLeft | akTop;
  // Prints below this component (keeping the design gap) when that one grows or moves.
  Component* ShiftRelativeTo = nullptr;
  bool KeepTogether = false;
  bool ReprintOnOverFlow = false;
  bool Stretch = false;
  // Extra space kept below the component when it stretches.
  Micro BottomOffset = 0;
  int Tag = 0;
  // Components inside a region move with it.
  Region* ParentRegion = nullptr;
  // Data binding (used by data-aware components only).
  DataPipeline* Pipeline = nullptr;
  std::string DataField;

  Band* GetBand() const { return fBand; }
  // The report whose `Create` made this component, or nullptr.
  Report* Owner() const { return fOwner; }

 protected:
  Component() = default;

 private:
  friend class Band;
  friend class Report;
  Band* fBand = nullptr;
  Report* fOwner = nullptr;
};

// Base of the components that print text.
class TextComponent : public Component {
 public:
  TextStyle Font;
  TextAlignment Alignment = TextAlignment::taLeft;
  bool WordWrap = false;
  bool Transparent = true;
  std::uint32_t BackgroundColor = 0xFFFFFF;  // used when not transparent
};

class Label : public TextComponent {
 public:
  const char* ClassName() const override { return "Label"; }
  std::string Caption;
  // Called in the second pass, when page number and page count are known, with the
  // text about to be printed; may change it.
  std::function<void(Label& aSender, std::string& aText)> OnGetText;
};

class Memo : public TextComponent {
 public:
  Memo() { WordWrap = true; }
  const char* ClassName() const override { return "Memo"; }
  std::vector<std::string> Lines;
  std::string Text() const;
  void SetText(const std::string& aText);  // splits at line breaks
};

class RichText : public TextComponent {
 public:
  RichText() { WordWrap = true; }
  const char* ClassName() const override { return "RichText"; }
  std::string RichTextData;  // RTF as sent by the host
};

class DBText : public TextComponent {
 public:
  const char* ClassName() const override { return "DBText"; }
  bool IsDataAware() const override { return true; }
};

class DBMemo : public TextComponent {
 public:
  DBMemo() { WordWrap = true; }
  const char* ClassName() const override { return "DBMemo"; }
  bool IsDataAware() const override { return true; }
};

class DBRichText : public TextComponent {
 public:
  DBRichText() { WordWrap = true; }
  const char* ClassName() const override { return "DBRichText"; }
  bool IsDataAware() const override { return true; }
};

enum class CalcType { ctSum = 0, ctCount = 1 };

// Sum or count of a field over the records printed so far in its report.
class DBCalc : public TextComponent {
 public:
  const char* ClassName() const override { return "DBCalc"; }
  bool IsDataAware() const override { return true; }
  CalcType Calculation = CalcType::ctSum;
  double Value = 0;
};

enum class SystemVariableType { vtPageNo = 0, vtPageCount = 1, vtPageNoDesc = 2, vtPageSetDesc = 3 };

class SystemVariable : public TextComponent {
 public:
  const char* ClassName() const override { return "SystemVariable"; }
  SystemVariableType VarType = SystemVariableType::vtPageNo;
  // The value for the page being printed: empty outside the second pass.
  std::string Text() const;
};

// Pictures. An image that cannot be decoded prints as a framed placeholder.
class Image : public Component {
 public:
  const char* ClassName() const override { return "Image"; }
  ::Platform::Report::Picture Picture;
  bool MaintainAspectRatio = true;
  bool Center = false;
  // Stretch (inherited): scale the picture to the box; otherwise natural size at
  // 96 dpi, clipped to the box.
};

class DBImage : public Image {
 public:
  const char* ClassName() const override { return "DBImage"; }
  bool IsDataAware() const override { return true; }
};

enum class LinePosition { lpTop = 0, lpBottom = 1, lpLeft = 2, lpRight = 3 };

class Line : public Component {
 public:
  const char* ClassName() const override { return "Line"; }
  LinePosition Position = LinePosition::lpTop;
  double WeightPt = 0.75;
  std::uint32_t Color = 0x000000;
  // Vertical lines grow with the printed height of their band.
  bool StretchWithParent = false;
};

class Region : public Component {
 public:
  const char* ClassName() const override { return "Region"; }
  double PenWidthPt = 0;  // 0: no frame
  std::uint32_t PenColor = 0x000000;
  std::optional<std::uint32_t> FillColor;
};

// Ends the page at its position in the band.
class PageBreak : public Component {
 public:
  const char* ClassName() const override { return "PageBreak"; }
};

enum class PrintBehavior { pbChild = 0, pbSection = 1, pbFixed = 2 };

// Prints its child report (own bands, own pipeline) inside a band. When the sub-report's
// own `Pipeline` is set, it feeds the child report instead of the child's `Pipeline`. Copies made for
// data items are usually created unowned (std::make_unique) and placed with
// Band::AddObject.
class SubReport : public Component {
 public:
  SubReport();
  ~SubReport() override;
  const char* ClassName() const override { return "SubReport"; }

  Report* GetReport() const { return fReport.get(); }
  // Creates (or replaces) the child report; `aParent` is the report it prints in.
  Report& CreateReport(Report* aParent);

  PrintBehavior Behavior = PrintBehavior::pbChild;
  // Width of the band it prints in minus `Left`; otherwise `Width`. `Width` is the
  // design width of the child report's bands either way: components anchored to the
  // right keep their distance to the right edge when the printed width differs.
  bool ParentWidth = true;
  bool ParentPrinterSetup = true;
  // Position in the band (from its top, 0: none) at which the content stops on a
  // page and continues on the next one.
  Micro StopPosition = 0;
  // A fixed sub-report prints all its records, continuing in the same box on the
  // following pages, instead of what fits into `Height`; a child report that shares
  // its pipeline with an enclosing report runs through all records instead of the
  // enclosing report's current one.
  bool TraverseAllData = false;
  // A section sub-report starts its own page numbering: page number and page count
  // count the pages from its first page up to the next such section.
  bool ResetPageNo = false;
  // With a drill-down component the sub-report prints collapsed (not at all) unless
  // ExpandAll is set; printed reports cannot be expanded afterwards.
  bool ExpandAll = false;
  Component* DrillDownComponent = nullptr;
  bool NewPrintJob = false;
  // Where the content continues on the following pages (from the band's top there).
  Micro OverFlowOffset = 0;
  std::function<void(SubReport&)> OnPrint;

 private:
  std::unique_ptr<Report> fReport;
};

enum class BandType {
  btTitle = 0,
  btHeader = 1,
  btGroupHeader = 2,
  btDetail = 3,
  btGroupFooter = 4,
  btFooter = 5,
  btSummary = 6,
};

class Group;

class Band {
 public:
  Band(Report& aReport, BandType aType) : fReport(aReport), fType(aType) {}
  ~Band();
  Band(const Band&) = delete;
  Band& operator=(const Band&) = delete;

  BandType Type() const { return fType; }
  Report& GetReport() const { return fReport; }
  Group* GetGroup() const { return fGroup; }

  std::string UserName;
  Micro Height = 0;
  // Dynamic bands grow with their stretching content; static bands keep Height.
  bool PrintHeightDynamic = false;
  Micro BottomOffset = 0;
  bool Visible = true;
  std::function<void(Band&)> BeforePrint;

  const std::vector<Component*>& Objects() const { return fObjects; }
  std::size_t ObjectCount() const { return fObjects.size(); }
  // Places a component in this band (detaching it from a previous band).
  void AddObject(Component& aComponent);
  void RemoveObject(Component& aComponent);

 private:
  friend class Report;
  Report& fReport;
  BandType fType;
  Group* fGroup = nullptr;
  std::vector<Component*> fObjects;
};

// A group prints its header band before the first record and whenever the break
// value changes, and its footer band before each change and after the last record.
// The break value is the text of `BreakComponent`, or of the component named
// `BreakName` when no break component is set.
class Group {
 public:
  Component* BreakComponent = nullptr;
  std::string BreakName;
  Band* HeaderBand() const { return fHeader; }
  Band* FooterBand() const { return fFooter; }

 private:
  friend class Report;
  Band* fHeader = nullptr;
  Band* fFooter = nullptr;
};

enum class Orientation { poPortrait = 0, poLandscape = 1 };

struct PageSetup {
  Micro PaperWidth = 210000;
  Micro PaperHeight = 297000;
  int PaperSizeCode = 9;  // A4
  Orientation PageOrientation = Orientation::poPortrait;
  Micro MarginTop = 15000;
  Micro MarginBottom = 15000;
  Micro MarginLeft = 22000;
  Micro MarginRight = 20000;
  // Detail and group bands flow down column 1, then column 2, ...; title, summary,
  // page header and page footer span the width between the margins.
  int Columns = 1;
  // 0: the width between the margins, less the spacing, shared by the columns.
  Micro ColumnWidth = 0;
  Micro ColumnSpacing = 0;  // gap between neighbouring columns
  std::string PrinterName = "Default";
  std::string DocumentName = "Report";

  Micro PageWidth() const { return PageOrientation == Orientation::poPortrait ? PaperWidth : PaperHeight; }
  Micro PageHeight() const { return PageOrientation == Orientation::poPortrait ? PaperHeight : PaperWidth; }
  // Width of one column (ColumnWidth, or the automatic share when it is 0).
  Micro UsableWidth() const;
};

class Report {
 public:
  Report();
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  std::string Name;
  std::string UserName;
  PageSetup PrinterSetup;
  bool TwoPass = true;
  DataPipeline* Pipeline = nullptr;

  // The report this one prints in (child reports of sub-reports), else nullptr.
  Report* Parent() const { return fParent; }
  SubReport* OwnerSubReport() const { return fOwnerSubReport; }

  // Bands in print order (title, header, group headers, detail, group footers,
  // footer, summary). At most one of each non-group type.
  std::vector<Band*> Bands() const;
  std::size_t BandCount() const { return fBands.size(); }
  Band* FindBand(BandType aType) const;
  Band* TitleBand() const { return FindBand(BandType::btTitle); }
  Band* HeaderBand() const { return FindBand(BandType::btHeader); }
  Band* DetailBand() const { return FindBand(BandType::btDetail); }
  Band* FooterBand() const { return FindBand(BandType::btFooter); }
  Band* SummaryBand() const { return FindBand(BandType::btSummary); }
  // Returns the existing band of that type or creates it (not for group bands).
  Band& CreateBand(BandType aType);
  // Header, detail and footer bands.
  void CreateDefaultBands();
  Group& CreateGroup();
  const std::vector<std::unique_ptr<Group>>& Groups() const { return fGroups; }

  // Creates a component owned by this report and places it in `aBand` (a band of
  // this report). Throws std::invalid_argument for an invalid or taken name.
  template <typename T>
  T& Create(Band& aBand, const std::string& aName) {
    auto component = std::make_unique<T>();
    T& result = *component;
    Adopt(std::move(component), aBand, aName);
    return result;
  }
  // Owned components in creation order.
  std::vector<Component*> Components() const;
  Component* FindComponent(const std::string& aName) const;
  // Removes every band, group and owned component.
  void Clear();

  // Template: the whole report (page set-up, bands, groups, components and those of
  // child reports) as a JSON document; see docs/report-layout.md. Loading replaces
  // the current content; it throws std::runtime_error on malformed input and leaves
  // the report empty then.
  void SaveToStream(std::ostream& aStream) const;
  void LoadFromStream(std::istream& aStream);
  void SaveToFile(const std::string& aPath) const;
  void LoadFromFile(const std::string& aPath);

  // Lays the report out and hands the pages to `aDevice`. Measures all text with
  // `aMeasurer`. Throws std::runtime_error for what it cannot print (a device error,
  // columns wider than the page, a sub-report with columns of its own).
  void PrintToDevice(ArchiveDevice& aDevice, ITextMeasurer& aMeasurer);

  // While the second pass prints a page: its number (from 1) and the page count;
  // 0 otherwise. Child reports answer for their top-level report.
  int CurrentPageNo() const;
  int PageCount() const;

 private:
  friend class SubReport;
  friend class Engine;
  void Adopt(std::unique_ptr<Component> aComponent, Band& aBand, const std::string& aName);

  Report* fParent = nullptr;
  SubReport* fOwnerSubReport = nullptr;
  std::vector<std::unique_ptr<Band>> fBands;
  std::vector<std::unique_ptr<Group>> fGroups;
  std::vector<std::unique_ptr<Component>> fComponents;
  int fPageNo = 0;
  int fPageCount = 0;
};

// True for names the engine accepts: a letter or '_' followed by letters, digits, '_'.
bool IsValidComponentName(const std::string& aName);

}  // namespace Platform::Report
