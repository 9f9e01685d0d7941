// Layout and pagination of a report, in two passes.
//
// Pass one turns every band instance into a "strip": fragments (a text line, a
// picture, a line, a frame) positioned relative to the strip's top, plus the ranges
// that must stay on one page and the positions of forced page breaks. Text lines and
// pictures are atomic; vertical lines and frames may be cut. The paginator pours the
// strips onto pages, cutting a strip only between atomic fragments. Pass two knows the
// page count: it places the page header and footer on each page and fills the texts
// that depend on the page (system variables, labels with a text hook).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <stdexcept>

#include "platform/report/archive.h"
#include "platform/report/model.h"
#include "platform/report/picture_decoder.h"
#include "platform/report/rtf_reader.h"
#include "platform/report/text_measurer.h"

namespace Platform::Report {

namespace {

struct Fragment {
  Micro Top = 0;
  Micro Bottom = 0;
  std::vector<ArchiveItem> Items;
  bool Splittable = false;
  // Text filled in pass two from this component; the single item is an ArchiveRect
  // that only carries the box.
  Component* Deferred = nullptr;
};

// A component printed again at the top of the next page when its band instance
// continues there (ReprintOnOverFlow).
struct Reprint {
  Micro BandTop = 0;
  Micro BandBottom = 0;
  Micro Top = 0;
  Micro Bottom = 0;
  std::vector<Fragment> Fragments;
};

struct Strip {
  Micro Height = 0;
  std::vector<Fragment> Fragments;
  std::vector<std::pair<Micro, Micro>> KeepRanges;
  std::vector<Micro> Breaks;
  std::vector<Reprint> Reprints;
  // Flows in the page's columns (detail and group bands of a report with columns).
  bool Columnar = false;
};

void OffsetItem(ArchiveItem& aItem, Micro aDx, Micro aDy) {
  std::visit(
      [aDx, aDy](auto& aValue) {
        using T = std::decay_t<decltype(aValue)>;
        if constexpr (std::is_same_v<T, ArchiveText>) {
          aValue.X += aDx;
          aValue.Top += aDy;
        } else if constexpr (std::is_same_v<T, ArchiveLine>) {
          aValue.X1 += aDx;
          aValue.X2 += aDx;
          aValue.Y1 += aDy;
          aValue.Y2 += aDy;
        } else {
          aValue.X += aDx;
          aValue.Y += aDy;
        }
      },
      aItem);
}

void OffsetFragment(Fragment& aFragment, Micro aDx, Micro aDy) {
  aFragment.Top += aDy;
  aFragment.Bottom += aDy;
  for (auto& item : aFragment.Items)
    OffsetItem(item, aDx, aDy);
}

void AppendStrip(Strip& aTarget, Strip&& aSource, Micro aDx, Micro aDy) {
  for (auto& fragment : aSource.Fragments) {
    OffsetFragment(fragment, aDx, aDy);
    aTarget.Fragments.push_back(std::move(fragment));
  }
  for (auto& reprint : aSource.Reprints) {
    reprint.BandTop += aDy;
    reprint.BandBottom += aDy;
    reprint.Top += aDy;
    reprint.Bottom += aDy;
    for (auto& fragment : reprint.Fragments)
      OffsetFragment(fragment, aDx, aDy);
    aTarget.Reprints.push_back(std::move(reprint));
  }
  for (auto [from, to] : aSource.KeepRanges)
    aTarget.KeepRanges.emplace_back(from + aDy, to + aDy);
  for (Micro position : aSource.Breaks)
    aTarget.Breaks.push_back(position + aDy);
}

// Cuts a splittable fragment's items to the vertical range [aFrom, aTo].
Fragment ClipFragment(const Fragment& aFragment, Micro aFrom, Micro aTo) {
  Fragment clipped = aFragment;
  clipped.Top = std::max(aFragment.Top, aFrom);
  clipped.Bottom = std::min(aFragment.Bottom, aTo);
  for (auto& item : clipped.Items) {
    if (auto* line = std::get_if<ArchiveLine>(&item)) {
      line->Y1 = std::clamp(line->Y1, aFrom, aTo);
      line->Y2 = std::clamp(line->Y2, aFrom, aTo);
    } else if (auto* rect = std::get_if<ArchiveRect>(&item)) {
      const Micro top = std::max(rect->Y, aFrom);
      const Micro bottom = std::min(rect->Y + rect->Height, aTo);
      rect->Y = top;
      rect->Height = std::max<Micro>(0, bottom - top);
    }
  }
  return clipped;
}

std::string FormatNumber(double aValue) {
  if (std::abs(aValue - std::round(aValue)) < 1e-9 && std::abs(aValue) < 1e15) {
    return std::to_string(static_cast<long long>(std::llround(aValue)));
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6g", aValue);
  return buffer;
}

bool IsTextComponent(const Component& aComponent) {
  return dynamic_cast<const TextComponent*>(&aComponent);
}

}  // namespace

class Engine {
 public:
  Engine(Report& aReport, ITextMeasurer& aMeasurer) : fReport(aReport), fMeasurer(aMeasurer) {}

  void Print(ArchiveDevice& aDevice) {
    const PageSetup& setup = fReport.PrinterSetup;
    fColumns = std::max(1, setup.Columns);
    fWidth = fColumns > 1 ? setup.PageWidth() - setup.MarginLeft - setup.MarginRight : setup.UsableWidth();
    if (fColumns > 1) {
      fColumnSpacing = setup.ColumnSpacing;
      const bool spacingFits = fColumnSpacing >= 0 && fColumnSpacing < fWidth;
      fColumnWidth = spacingFits && fColumns <= fWidth ? setup.UsableWidth() : 0;
      if (fColumnWidth <= 0 || fColumnWidth > fWidth ||
          fColumns > (fWidth + fColumnSpacing) / (fColumnWidth + fColumnSpacing))
        throw std::runtime_error("report engine: the columns do not fit between the margins");
    }
    fReport.fPageNo = 0;
    fReport.fPageCount = 0;

    Band* header = fReport.HeaderBand();
    Band* footer = fReport.FooterBand();
    Strip headerStrip = header ? LayoutBand(*header, fWidth) : Strip{};
    Strip footerStrip = footer ? LayoutBand(*footer, fWidth) : Strip{};
    fContentTop = setup.MarginTop + headerStrip.Height;
    fContentBottom = setup.PageHeight() - setup.MarginBottom - footerStrip.Height;
    if (fContentBottom - fContentTop < FromMillimetres(5)) {
      throw std::runtime_error("report engine: header and footer leave no room on the page");
    }
    if (fColumns > 1) {
      std::vector<Strip> sections;
      LayoutReportBody(fReport, fWidth, &sections);
      for (Strip& section : sections) {
        BeginSection(section.Columnar);
        Pour(std::move(section));
      }
    } else {
      Pour(LayoutReportBody(fReport, fWidth));
    }
    if (fPages.empty())
      fPages.emplace_back();

    // Pass two.
    aDevice.BeginDocument(setup.PageWidth(), setup.PageHeight());
    fReport.fPageCount = static_cast<int>(fPages.size());
    for (std::size_t i = 0; i < fPages.size(); ++i) {
      fReport.fPageNo = static_cast<int>(i + 1);
      ArchivePage page;
      EmitStrip(page, headerStrip, setup.MarginLeft, setup.MarginTop);
      for (const Fragment& fragment : fPages[i])
        EmitFragment(page, fragment, setup.MarginLeft, 0);
      EmitStrip(page, footerStrip, setup.MarginLeft, fContentBottom);
      aDevice.AddPage(page);
    }
    fReport.fPageNo = 0;
    aDevice.EndDocument();
  }

 private:
  // ---- pass one: strips -------------------------------------------------------

  // With `aSections`, the body is handed out there as a run of strips, a new one
  // wherever the bands change between full width and columns; the result is empty.
  Strip LayoutReportBody(Report& aReport, Micro aWidth, std::vector<Strip>* aSections = nullptr) {
    Strip body;
    auto append = [&body, aSections](Strip&& aStrip) {
      if (aSections && aStrip.Columnar != body.Columnar) {
        if (body.Height > 0 || !body.Fragments.empty() || !body.Breaks.empty())
          aSections->push_back(std::move(body));
        body = Strip{};
        body.Columnar = aStrip.Columnar;
      }
      const Micro top = body.Height;
      const Micro height = aStrip.Height;
      AppendStrip(body, std::move(aStrip), 0, top);
      body.Height = top + height;
    };
    std::vector<DBCalc*> calcs;
    for (Band* band : aReport.Bands()) {
      for (Component* component : band->Objects()) {
        if (auto* calc = dynamic_cast<DBCalc*>(component)) {
          calc->Value = 0;
          calcs.push_back(calc);
        }
      }
    }
    if (Band* title = aReport.TitleBand())
      append(LayoutBand(*title, aWidth));
    Band* detail = aReport.DetailBand();
    DataPipeline* pipeline = aReport.Pipeline;
    const auto& groups = aReport.Groups();
    std::vector<std::string> breakValues(groups.size());
    const int records = pipeline ? pipeline->RecordCount() : 1;
    for (int record = 0; record < records; ++record) {
      if (pipeline)
        pipeline->SetRecordIndex(record);
      // Groups: the outermost changed group and every inner one break.
      std::size_t firstChanged = groups.size();
      for (std::size_t g = 0; g < groups.size(); ++g) {
        const std::string value = BreakValue(aReport, *groups[g]);
        if ((record == 0 || value != breakValues[g]) && firstChanged == groups.size())
          firstChanged = g;
        breakValues[g] = value;
      }
      if (record > 0 && firstChanged < groups.size()) {
        if (pipeline)
          pipeline->SetRecordIndex(record - 1);
        for (std::size_t g = groups.size(); g-- > firstChanged;) {
          if (Band* band = groups[g]->FooterBand())
            append(LayoutBand(*band, aWidth));
        }
        if (pipeline)
          pipeline->SetRecordIndex(record);
      }
      for (std::size_t g = firstChanged; g < groups.size(); ++g) {
        if (Band* band = groups[g]->HeaderBand())
          append(LayoutBand(*band, aWidth));
      }
      if (detail)
        append(LayoutBand(*detail, aWidth));
      for (DBCalc* calc : calcs)
        Accumulate(aReport, *calc);
    }
    if (records > 0 && pipeline)
      pipeline->SetRecordIndex(records - 1);
    for (std::size_t g = groups.size(); g-- > 0;) {
      if (records > 0) {
        if (Band* band = groups[g]->FooterBand())
          append(LayoutBand(*band, aWidth));
      }
    }
    if (Band* summary = aReport.SummaryBand())
      append(LayoutBand(*summary, aWidth));
    if (aSections) {
      aSections->push_back(std::move(body));
      return {};
    }
    return body;
  }

  std::string BreakValue(Report& aReport, const Group& aGroup) {
    Component* component = aGroup.BreakComponent;
    if (!component && !aGroup.BreakName.empty())
      component = aReport.FindComponent(aGroup.BreakName);
    if (!component)
      return {};
    return TextOf(*component).PlainText();
  }

  void Accumulate(Report& aReport, DBCalc& aCalc) {
    if (aCalc.Calculation == CalcType::ctCount) {
      aCalc.Value += 1;
      return;
    }
    DataPipeline* pipeline = aCalc.Pipeline ? aCalc.Pipeline : aReport.Pipeline;
    if (!pipeline || aCalc.DataField.empty())
      return;
    if (auto value = pipeline->GetFieldValue(aCalc.DataField)) {
      std::string text = *value;
      std::replace(text.begin(), text.end(), ',', '.');
      char* end = nullptr;
      const double number = std::strtod(text.c_str(), &end);
      if (end != text.c_str())
        aCalc.Value += number;
    }
  }

  std::optional<std::string> FieldValue(Component& aComponent) {
    DataPipeline* pipeline = aComponent.Pipeline;
    if (!pipeline && aComponent.GetBand())
      pipeline = aComponent.GetBand()->GetReport().Pipeline;
    if (!pipeline || aComponent.DataField.empty())
      return std::nullopt;
    return pipeline->GetFieldValue(aComponent.DataField);
  }

  // The attributed text a text component prints (pass one; deferred texts use
  // their design caption here).
  StyledText TextOf(Component& aComponent) {
    auto* text = dynamic_cast<TextComponent*>(&aComponent);
    if (!text)
      return {};
    const TextStyle& font = text->Font;
    const TextAlignment align = text->Alignment;
    if (auto* label = dynamic_cast<Label*>(text))
      return StyledText::FromPlain(label->Caption, font, align);
    if (auto* memo = dynamic_cast<Memo*>(text))
      return StyledText::FromPlain(memo->Text(), font, align);
    if (auto* rich = dynamic_cast<RichText*>(text))
      return ReadRtf(rich->RichTextData, font);
    if (auto* calc = dynamic_cast<DBCalc*>(text))
      return StyledText::FromPlain(FormatNumber(calc->Value), font, align);
    if (auto* variable = dynamic_cast<SystemVariable*>(text)) {
      return StyledText::FromPlain(variable->Text(), font, align);
    }
    const std::string value = FieldValue(aComponent).value_or("");
    if (dynamic_cast<DBRichText*>(text))
      return ReadRtf(value, font);
    return StyledText::FromPlain(value, font, align);
  }

  static bool IsDeferred(const Component& aComponent) {
    if (dynamic_cast<const SystemVariable*>(&aComponent))
      return true;
    const auto* label = dynamic_cast<const Label*>(&aComponent);
    return label && label->OnGetText;
  }

  struct Placed {
    Micro Top = 0;
    Micro Height = 0;
    bool Done = false;
    bool InProgress = false;
  };

  // Detail and group bands of the printed report flow in its columns, if it has any.
  bool InColumns(const Band& aBand) const {
    const BandType type = aBand.Type();
    return fColumns > 1 && &aBand.GetReport() == &fReport &&
           (type == BandType::btDetail || type == BandType::btGroupHeader || type == BandType::btGroupFooter);
  }

  Strip LayoutBand(Band& aBand, Micro aWidth) {
    Strip strip;
    strip.Columnar = InColumns(aBand);
    if (strip.Columnar)
      aWidth = fColumnWidth;
    if (!aBand.Visible)
      return strip;
    if (aBand.BeforePrint)
      aBand.BeforePrint(aBand);
    if (!aBand.Visible)
      return strip;
    const bool dynamic = aBand.PrintHeightDynamic;

    // Measured content per component, then vertical positions (anchors first).
    std::map<Component*, Placed> placed;
    std::map<Component*, TextBlock> texts;
    std::map<Component*, Strip> children;
    for (Component* component : aBand.Objects()) {
      if (!component->Visible)
        continue;
      Placed entry;
      entry.Height = component->Height;
      if (IsTextComponent(*component) && !IsDeferred(*component)) {
        auto* text = static_cast<TextComponent*>(component);
        TextBlock block = fMeasurer.Layout(TextOf(*component), text->Width, text->WordWrap);
        if (component->Stretch && dynamic)
          entry.Height = block.Height;
        texts.emplace(component, std::move(block));
      } else if (auto* sub = dynamic_cast<SubReport*>(component)) {
        Report* child = sub->GetReport();
        if (child && !sub->ParentPrinterSetup && child->PrinterSetup.Columns > 1) {
          // Its columns would have to break at page positions unknown while its band
          // is measured; it shares its parent's columns only.
          throw std::runtime_error("report engine: sub-report " + sub->Name +
                                   " has columns of its own; only the printed report's columns are supported");
        }
        if (sub->OnPrint)
          sub->OnPrint(*sub);
        Strip body;
        if (child) {
          const Micro width = sub->ParentWidth ? aWidth - sub->Left : sub->Width;
          // The sub-report's own pipeline, when set, feeds its child report for this run.
          DataPipeline* const saved = child->Pipeline;
          if (sub->Pipeline)
            child->Pipeline = sub->Pipeline;
          try {
            body = LayoutReportBody(*child, width);
          } catch (...) {
            child->Pipeline = saved;
            throw;
          }
          child->Pipeline = saved;
        }
        entry.Height = sub->Behavior == PrintBehavior::pbFixed ? sub->Height : body.Height;
        children.emplace(component, std::move(body));
      }
      placed.emplace(component, entry);
    }
    std::function<Micro(Component*)> resolveTop = [&](Component* aComponent) -> Micro {
      Placed& entry = placed[aComponent];
      if (entry.Done || entry.InProgress)
        return entry.Top;
      entry.InProgress = true;
      Micro top = aComponent->Top;
      if (Component* anchor = aComponent->ShiftRelativeTo; anchor && anchor->GetBand() == &aBand) {
        const Micro designGap = std::max<Micro>(0, aComponent->Top - (anchor->Top + anchor->Height));
        auto it = placed.find(anchor);
        if (it != placed.end()) {
          const Micro anchorTop = resolveTop(anchor);
          top = anchorTop + it->second.Height + anchor->BottomOffset + designGap;
        } else {
          top = anchor->Top + designGap;  // an invisible anchor takes no room
        }
      }
      if (Region* region = aComponent->ParentRegion; region && region != aComponent && placed.count(region)) {
        top += resolveTop(region) - region->Top;
      }
      entry.Top = top;
      entry.InProgress = false;
      entry.Done = true;
      return top;
    };
    Micro contentBottom = 0;
    for (auto& [component, entry] : placed) {
      resolveTop(component);
      contentBottom = std::max(contentBottom, entry.Top + entry.Height + component->BottomOffset);
    }
    strip.Height = dynamic ? (placed.empty() ? aBand.Height : contentBottom + aBand.BottomOffset) : aBand.Height;

    for (Component* component : aBand.Objects()) {
      auto it = placed.find(component);
      if (it == placed.end())
        continue;
      const Micro top = it->second.Top;
      const Micro height = it->second.Height;
      if (auto text = texts.find(component); text != texts.end()) {
        const std::size_t first = strip.Fragments.size();
        EmitText(strip, static_cast<TextComponent&>(*component), text->second, top, height);
        if (component->ReprintOnOverFlow) {
          std::vector<Fragment> copies(strip.Fragments.begin() + static_cast<std::ptrdiff_t>(first),
                                       strip.Fragments.end());
          strip.Reprints.push_back({0, 0, top, top + height, std::move(copies)});
        }
      } else if (auto child = children.find(component); child != children.end()) {
        auto* sub = static_cast<SubReport*>(component);
        if (sub->Behavior == PrintBehavior::pbSection)
          strip.Breaks.push_back(top);
        if (sub->KeepTogether)
          strip.KeepRanges.emplace_back(top, top + height);
        AppendStrip(strip, std::move(child->second), sub->Left, top);
      } else if (IsDeferred(*component)) {
        Fragment fragment{top,
                          top + height,
                          {ArchiveRect{component->Left, top, component->Width, height, 0, 0, std::nullopt}},
                          false,
                          component};
        strip.Fragments.push_back(std::move(fragment));
      } else {
        EmitGraphic(strip, *component, top, height, strip.Height);
      }
    }
    for (auto& reprint : strip.Reprints) {
      if (reprint.BandBottom == 0)
        reprint.BandBottom = strip.Height;
    }
    return strip;
  }

  void EmitText(Strip& aStrip, TextComponent& aComponent, const TextBlock& aBlock, Micro aTop, Micro aHeight) {
    if (!aComponent.Transparent && aHeight > 0) {
      ArchiveRect background{aComponent.Left, aTop, aComponent.Width, aHeight, 0, 0, aComponent.BackgroundColor};
      aStrip.Fragments.push_back({aTop, aTop + aHeight, {background}, true, nullptr});
    }
    const bool clip = !(aComponent.Stretch && aComponent.GetBand()->PrintHeightDynamic);
    bool first = true;
    for (const TextLine& line : aBlock.Lines) {
      if (clip && !first && line.Top + line.Height > aHeight)
        break;
      first = false;
      if (line.Runs.empty())
        continue;
      Fragment fragment;
      fragment.Top = aTop + line.Top;
      fragment.Bottom = fragment.Top + line.Height;
      for (const LineRun& run : line.Runs) {
        fragment.Items.push_back(ArchiveText{aComponent.Left + run.X, fragment.Top, run.Width, line.Height,
                                             line.Baseline, run.Style, run.Text});
      }
      aStrip.Fragments.push_back(std::move(fragment));
    }
    if (aComponent.KeepTogether)
      aStrip.KeepRanges.emplace_back(aTop, aTop + aBlock.Height);
  }

  void EmitGraphic(Strip& aStrip, Component& aComponent, Micro aTop, Micro aHeight, Micro aBandHeight) {
    const Micro left = aComponent.Left;
    const Micro width = aComponent.Width;
    if (auto* line = dynamic_cast<Line*>(&aComponent)) {
      const Micro pen = FromPoints(line->WeightPt);
      const Micro bottom = line->StretchWithParent ? std::max(aTop + aHeight, aBandHeight) : aTop + aHeight;
      ArchiveLine item{0, 0, 0, 0, pen, line->Color};
      switch (line->Position) {
        case LinePosition::lpTop:
          item = {left, aTop, left + width, aTop, pen, line->Color};
          break;
        case LinePosition::lpBottom:
          item = {left, bottom, left + width, bottom, pen, line->Color};
          break;
        case LinePosition::lpLeft:
          item = {left, aTop, left, bottom, pen, line->Color};
          break;
        case LinePosition::lpRight:
          item = {left + width, aTop, left + width, bottom, pen, line->Color};
          break;
      }
      const bool vertical = line->Position == LinePosition::lpLeft || line->Position == LinePosition::lpRight;
      aStrip.Fragments.push_back({std::min(item.Y1, item.Y2), std::max(item.Y1, item.Y2), {item}, vertical, nullptr});
    } else if (auto* region = dynamic_cast<Region*>(&aComponent)) {
      if (region->PenWidthPt > 0 || region->FillColor) {
        ArchiveRect rect{
            left, aTop, width, aHeight, FromPoints(region->PenWidthPt), region->PenColor, region->FillColor};
        aStrip.Fragments.push_back({aTop, aTop + aHeight, {rect}, true, nullptr});
      }
    } else if (dynamic_cast<PageBreak*>(&aComponent)) {
      aStrip.Breaks.push_back(aTop);
    } else if (auto* image = dynamic_cast<Image*>(&aComponent)) {
      EmitImage(aStrip, *image, aTop, aHeight);
    }
  }

  void EmitImage(Strip& aStrip, Image& aImage, Micro aTop, Micro aHeight) {
    const Picture* picture = &aImage.Picture;
    if (aImage.IsDataAware()) {
      DataPipeline* pipeline = aImage.Pipeline ? aImage.Pipeline : aImage.GetBand()->GetReport().Pipeline;
      picture = pipeline && !aImage.DataField.empty() ? pipeline->GetFieldPicture(aImage.DataField) : nullptr;
    }
    if (!picture || picture->Empty())
      return;  // nothing assigned: nothing printed
    const Micro left = aImage.Left;
    const std::optional<DecodedPicture>& decoded = Decode(*picture);
    if (!decoded || decoded->PixelWidth <= 0 || decoded->PixelHeight <= 0) {
      // A picture that cannot be decoded: a framed placeholder with a cross.
      const Micro pen = FromPoints(0.5);
      Fragment fragment{aTop, aTop + aHeight, {}, false, nullptr};
      fragment.Items.push_back(ArchiveRect{left, aTop, aImage.Width, aHeight, pen, 0x808080, std::nullopt});
      fragment.Items.push_back(ArchiveLine{left, aTop, left + aImage.Width, aTop + aHeight, pen, 0x808080});
      fragment.Items.push_back(ArchiveLine{left, aTop + aHeight, left + aImage.Width, aTop, pen, 0x808080});
      aStrip.Fragments.push_back(std::move(fragment));
      return;
    }
    Micro width = decoded->PixelWidth * kMicroPerInch / 96;
    Micro height = decoded->PixelHeight * kMicroPerInch / 96;
    if (aImage.Stretch) {
      if (aImage.MaintainAspectRatio) {
        const double scale = std::min(static_cast<double>(aImage.Width) / width, static_cast<double>(aHeight) / height);
        width = static_cast<Micro>(std::llround(width * scale));
        height = static_cast<Micro>(std::llround(height * scale));
      } else {
        width = aImage.Width;
        height = aHeight;
      }
    } else {
      width = std::min(width, aImage.Width);
      height = std::min(height, aHeight);
    }
    Micro x = left;
    Micro y = aTop;
    if (aImage.Center) {
      x += (aImage.Width - width) / 2;
      y += (aHeight - height) / 2;
    } else if ((aImage.Anchors & akRight) && !(aImage.Anchors & akLeft)) {
      x += aImage.Width - width;
    }
    ArchiveImage item{x, y, width, height, decoded->Format, decoded->Bytes};
    aStrip.Fragments.push_back({y, y + height, {std::move(item)}, false, nullptr});
  }

  const std::optional<DecodedPicture>& Decode(const Picture& aPicture) {
    auto key = std::make_pair(aPicture.Bytes.data(), aPicture.Bytes.size());
    auto it = fDecoded.find(key);
    if (it == fDecoded.end())
      it = fDecoded.emplace(key, DecodePicture(aPicture)).first;
    return it->second;
  }

  // ---- pagination --------------------------------------------------------------

  // Overflow moves on to the next column of the page while there is one; a forced
  // break (page break, section) always starts a new page.
  void NewPage() {
    if (fInColumns && !fPendingPage && !fPages.empty() && fColumn + 1 < fColumns) {
      fColumnsBottom = std::max(fColumnsBottom, fY);
      ++fColumn;
      fX = fColumn * (fColumnWidth + fColumnSpacing);
      fY = fColumnTop;
      fPageHasContent = false;
      return;
    }
    fPages.emplace_back();
    fY = fContentTop;
    fPageHasContent = false;
    fPendingPage = false;
    fColumn = 0;
    fX = 0;
    fColumnTop = fColumnsBottom = fContentTop;
  }

  // Something is printed on the page (in any column).
  bool PageInUse() const { return fPageHasContent || fColumn > 0; }

  // Switches between full-width bands and columns. The columns start below what the
  // page already holds; a full-width band starts below the lowest column.
  void BeginSection(bool aColumnar) {
    if (aColumnar == fInColumns)
      return;
    if (aColumnar) {
      fColumnTop = fColumnsBottom = fY;
    } else {
      fY = std::max(fY, fColumnsBottom);
      fPageHasContent = PageInUse();
      fColumn = 0;
      fX = 0;
    }
    fInColumns = aColumnar;
  }

  // Lowest position <= aLimit at which the strip may be cut below aOffset.
  Micro FindCut(const Strip& aStrip, Micro aOffset, Micro aLimit) const {
    const Micro pageHeight = fContentBottom - fContentTop;
    Micro cut = aLimit;
    bool changed = true;
    while (changed) {
      changed = false;
      for (const Fragment& fragment : aStrip.Fragments) {
        if (!fragment.Splittable && fragment.Top >= aOffset && fragment.Top < cut && fragment.Bottom > cut) {
          cut = fragment.Top;
          changed = true;
        }
      }
      for (auto [from, to] : aStrip.KeepRanges) {
        if (from >= aOffset && from < cut && to > cut && to - from <= pageHeight) {
          cut = from;
          changed = true;
        }
      }
    }
    return cut;
  }

  void EnsurePage() {
    if (fPages.empty() || fPendingBreak) {
      NewPage();
      fPendingBreak = false;
    }
  }

  void Pour(Strip&& aStrip) {
    std::sort(aStrip.Breaks.begin(), aStrip.Breaks.end());
    std::vector<bool> done(aStrip.Fragments.size(), false);
    auto allDone = [&done] { return std::find(done.begin(), done.end(), false) == done.end(); };
    Micro offset = 0;
    std::size_t nextBreak = 0;
    while (!(offset >= aStrip.Height && allDone())) {
      EnsurePage();
      // A break at the current position ends a page that already has content.
      while (nextBreak < aStrip.Breaks.size() && aStrip.Breaks[nextBreak] <= offset) {
        ++nextBreak;
        if (PageInUse()) {
          fPendingBreak = fPendingPage = true;
          EnsurePage();
        }
      }
      Micro limit = offset + (fContentBottom - fY);
      const bool atBreak = nextBreak < aStrip.Breaks.size() && aStrip.Breaks[nextBreak] <= limit;
      if (atBreak)
        limit = aStrip.Breaks[nextBreak];
      bool force = false;
      Micro cut = limit;
      if (!atBreak && aStrip.Height <= limit) {
        cut = std::max(aStrip.Height, offset);
        force = true;  // the rest fits: take everything, overhangs included
      } else {
        cut = FindCut(aStrip, offset, limit);
        if (cut <= offset) {
          // In a column below full-width bands, a block that does not fit moves on
          // too: the next page offers the column's full height.
          if (fPageHasContent || (fInColumns && fY > fContentTop)) {
            fPendingBreak = true;
            continue;
          }
          cut = limit;  // taller than a whole page: cut where the page ends
          force = true;
        }
      }
      for (std::size_t i = 0; i < aStrip.Fragments.size(); ++i) {
        if (done[i])
          continue;
        const Fragment& fragment = aStrip.Fragments[i];
        if (fragment.Bottom <= cut) {
          Place(
              fragment.Splittable ? ClipFragment(fragment, std::max(offset, fragment.Top), fragment.Bottom) : fragment,
              fY - offset);
          done[i] = true;
        } else if (fragment.Top < cut || (force && cut >= aStrip.Height)) {
          if (fragment.Splittable) {
            Place(ClipFragment(fragment, std::max(offset, fragment.Top), cut), fY - offset);
          } else if (force) {
            Place(fragment, fY - offset);
            done[i] = true;
          }
        }
      }
      // Components to print again where their band continues.
      std::vector<Fragment> reprints;
      if (!atBreak && cut < aStrip.Height) {
        for (const Reprint& reprint : aStrip.Reprints) {
          if (reprint.Bottom <= cut && reprint.BandTop < cut && reprint.BandBottom > cut) {
            for (Fragment fragment : reprint.Fragments) {
              OffsetFragment(fragment, 0, cut - reprint.Top);
              reprints.push_back(std::move(fragment));
            }
          }
        }
      }
      fY += cut - offset;
      offset = cut;
      if (atBreak)
        ++nextBreak;
      if (atBreak || !(offset >= aStrip.Height && allDone())) {
        fPendingBreak = true;
        fPendingPage = atBreak;
        if (!reprints.empty()) {
          EnsurePage();
          for (const Fragment& fragment : reprints)
            Place(fragment, fY - offset);
        }
      }
    }
  }

  void Place(const Fragment& aFragment, Micro aDy) {
    Fragment moved = aFragment;
    moved.Top += aDy;
    moved.Bottom += aDy;
    for (auto& item : moved.Items)
      OffsetItem(item, fX, aDy);
    fPages.back().push_back(std::move(moved));
    fPageHasContent = true;
  }

  // ---- pass two ----------------------------------------------------------------

  void EmitStrip(ArchivePage& aPage, const Strip& aStrip, Micro aDx, Micro aDy) {
    for (const Fragment& fragment : aStrip.Fragments)
      EmitFragment(aPage, fragment, aDx, aDy);
  }

  void EmitFragment(ArchivePage& aPage, const Fragment& aFragment, Micro aDx, Micro aDy) {
    if (!aFragment.Deferred) {
      for (ArchiveItem item : aFragment.Items) {
        OffsetItem(item, aDx, aDy);
        aPage.Items.push_back(std::move(item));
      }
      return;
    }
    auto& component = static_cast<TextComponent&>(*aFragment.Deferred);
    std::string text;
    if (auto* variable = dynamic_cast<SystemVariable*>(&component)) {
      text = variable->Text();
    } else if (auto* label = dynamic_cast<Label*>(&component)) {
      text = label->Caption;
      if (label->OnGetText)
        label->OnGetText(*label, text);
    }
    const auto& box = std::get<ArchiveRect>(aFragment.Items.front());
    const TextBlock block = fMeasurer.Layout(StyledText::FromPlain(text, component.Font, component.Alignment),
                                             box.Width, component.WordWrap);
    bool first = true;
    for (const TextLine& line : block.Lines) {
      if (!first && line.Top + line.Height > box.Height)
        break;
      first = false;
      for (const LineRun& run : line.Runs) {
        aPage.Items.push_back(ArchiveText{box.X + run.X + aDx, box.Y + line.Top + aDy, run.Width, line.Height,
                                          line.Baseline, run.Style, run.Text});
      }
    }
  }

  Report& fReport;
  ITextMeasurer& fMeasurer;
  Micro fWidth = 0;
  Micro fContentTop = 0;
  Micro fContentBottom = 0;
  Micro fY = 0;
  bool fPageHasContent = false;
  bool fPendingBreak = false;
  // Columns: count, geometry, and where the current page's columns stand. `fX` is
  // the current column's offset from the left margin.
  int fColumns = 1;
  Micro fColumnWidth = 0;
  Micro fColumnSpacing = 0;
  bool fInColumns = false;
  bool fPendingPage = false;
  int fColumn = 0;
  Micro fX = 0;
  Micro fColumnTop = 0;
  Micro fColumnsBottom = 0;
  std::vector<std::vector<Fragment>> fPages;
  std::map<std::pair<const std::uint8_t*, std::size_t>, std::optional<DecodedPicture>> fDecoded;
};

void Report::PrintToDevice(ArchiveDevice& aDevice, ITextMeasurer& aMeasurer) {
  Engine engine(*this, aMeasurer);
  try {
    engine.Print(aDevice);
  } catch (...) {
    fPageNo = 0;
    fPageCount = 0;
    throw;
  }
}

}  // namespace Platform::Report
