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
#include <utility>

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

// The range of a sub-report's content that may not use the whole page: on a page it
// stops at `StopPosition` below the top of its band (the band's top on the page where
// the band starts, the top of the content area where the band continues) and after
// `PageExtent` of content; on the pages where it continues it resumes `OverFlowOffset`
// below the top of the content area. Zero means no such limit.
struct Flow {
  Micro BandTop = 0;
  Micro From = 0;
  Micro To = 0;
  Micro StopPosition = 0;
  Micro PageExtent = 0;
  Micro OverFlowOffset = 0;
};

struct Strip {
  Micro Height = 0;
  std::vector<Fragment> Fragments;
  std::vector<std::pair<Micro, Micro>> KeepRanges;
  std::vector<Micro> Breaks;
  std::vector<Reprint> Reprints;
  std::vector<Flow> Flows;
  // Positions where the page numbering starts again (with the page that holds them).
  std::vector<Micro> PageResets;
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
  for (Flow flow : aSource.Flows) {
    flow.BandTop += aDy;
    flow.From += aDy;
    flow.To += aDy;
    aTarget.Flows.push_back(flow);
  }
  for (Micro position : aSource.PageResets)
    aTarget.PageResets.push_back(position + aDy);
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

// Keeps what lies within the first aHeight of a strip (the box of a fixed sub-report):
// atomic fragments that reach below it are dropped, cuttable ones are cut.
void ClipStrip(Strip& aStrip, Micro aHeight) {
  std::vector<Fragment> kept;
  for (Fragment& fragment : aStrip.Fragments) {
    if (fragment.Bottom <= aHeight)
      kept.push_back(std::move(fragment));
    else if (fragment.Splittable && fragment.Top < aHeight)
      kept.push_back(ClipFragment(fragment, fragment.Top, aHeight));
  }
  aStrip.Fragments = std::move(kept);
  std::erase_if(aStrip.Reprints, [aHeight](const Reprint& aReprint) { return aReprint.Bottom > aHeight; });
  for (Reprint& reprint : aStrip.Reprints)
    reprint.BandBottom = std::min(reprint.BandBottom, aHeight);
  std::erase_if(aStrip.KeepRanges, [aHeight](const auto& aRange) { return aRange.first >= aHeight; });
  for (auto& range : aStrip.KeepRanges)
    range.second = std::min(range.second, aHeight);
  std::erase_if(aStrip.Flows, [aHeight](const Flow& aFlow) { return aFlow.From >= aHeight; });
  for (Flow& flow : aStrip.Flows)
    flow.To = std::min(flow.To, aHeight);
  std::erase_if(aStrip.Breaks, [aHeight](Micro aPosition) { return aPosition >= aHeight; });
  std::erase_if(aStrip.PageResets, [aHeight](Micro aPosition) { return aPosition >= aHeight; });
  aStrip.Height = aHeight;
}

// Anchored to the far edge only, a component keeps its distance to that edge of its
// parent when the parent grows by aGrowth; anchored to both edges it grows with it.
void ApplyAnchors(unsigned aAnchors, unsigned aNear, unsigned aFar, Micro aGrowth, Micro& aPosition, Micro& aSize) {
  if (aGrowth == 0 || !(aAnchors & aFar))
    return;
  if (aAnchors & aNear)
    aSize = std::max<Micro>(0, aSize + aGrowth);
  else
    aPosition += aGrowth;
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

    // Pass two. Page numbers count within page sets: from the first page, or from a
    // section that resets the numbering, up to the next such section.
    aDevice.BeginDocument(setup.PageWidth(), setup.PageHeight());
    std::vector<std::size_t> setStarts = fPageSetStarts;
    setStarts.push_back(0);
    std::sort(setStarts.begin(), setStarts.end());
    setStarts.erase(std::unique(setStarts.begin(), setStarts.end()), setStarts.end());
    for (std::size_t i = 0; i < fPages.size(); ++i) {
      const auto next = std::upper_bound(setStarts.begin(), setStarts.end(), i);
      const std::size_t setStart = *std::prev(next);
      const std::size_t setEnd = next == setStarts.end() ? fPages.size() : *next;
      fReport.fPageNo = static_cast<int>(i - setStart + 1);
      fReport.fPageCount = static_cast<int>(setEnd - setStart);
      ArchivePage page;
      EmitStrip(page, headerStrip, setup.MarginLeft, setup.MarginTop);
      for (const Fragment& fragment : fPages[i])
        EmitFragment(page, fragment, setup.MarginLeft, 0);
      EmitStrip(page, footerStrip, setup.MarginLeft, fContentBottom);
      aDevice.AddPage(page);
    }
    fReport.fPageNo = 0;
    fReport.fPageCount = 0;
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
    // A child report on a pipeline that an enclosing report is running through prints
    // that report's current record only, unless its sub-report traverses all data;
    // either way the enclosing report finds its record as it left it.
    const bool shared = pipeline && std::find(fTraversing.begin(), fTraversing.end(), pipeline) != fTraversing.end();
    const bool traverseAll = aReport.OwnerSubReport() && aReport.OwnerSubReport()->TraverseAllData;
    const int sharedRecord = pipeline ? pipeline->RecordIndex() : 0;
    int firstRecord = 0;
    int records = pipeline ? pipeline->RecordCount() : 1;
    if (shared && !traverseAll) {
      firstRecord = sharedRecord;
      records = std::min(records, sharedRecord + 1);
    }
    if (pipeline)
      fTraversing.push_back(pipeline);
    for (int record = firstRecord; record < records; ++record) {
      if (pipeline)
        pipeline->SetRecordIndex(record);
      // Groups: the outermost changed group and every inner one break.
      std::size_t firstChanged = groups.size();
      for (std::size_t g = 0; g < groups.size(); ++g) {
        const std::string value = BreakValue(aReport, *groups[g]);
        if ((record == firstRecord || value != breakValues[g]) && firstChanged == groups.size())
          firstChanged = g;
        breakValues[g] = value;
      }
      if (record > firstRecord && firstChanged < groups.size()) {
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
    if (records > firstRecord && pipeline)
      pipeline->SetRecordIndex(records - 1);
    for (std::size_t g = groups.size(); g-- > 0;) {
      if (records > firstRecord) {
        if (Band* band = groups[g]->FooterBand())
          append(LayoutBand(*band, aWidth));
      }
    }
    if (Band* summary = aReport.SummaryBand())
      append(LayoutBand(*summary, aWidth));
    if (pipeline) {
      fTraversing.pop_back();
      if (shared)
        pipeline->SetRecordIndex(sharedRecord);
    }
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

  // Where a component prints in its band instance.
  struct Placed {
    Micro Top = 0;
    Micro Height = 0;
    Micro Left = 0;
    Micro Width = 0;
    // The height is that of the content (stretched text, a sub-report's pages), so
    // vertical anchors leave it alone.
    bool FromContent = false;
    bool Done = false;
    bool InProgress = false;
    bool AcrossDone = false;
    bool AnchorDone = false;
    // How far vertical anchors moved it down (its region's move included).
    Micro AnchorShift = 0;
  };

  // The width a report's bands were designed for: a child report's is the width of
  // its sub-report.
  static Micro DesignWidth(const Report& aReport, Micro aPrintWidth) {
    const SubReport* owner = aReport.OwnerSubReport();
    return owner && owner->Width > 0 ? owner->Width : aPrintWidth;
  }

  static bool Collapsed(const Component& aComponent) {
    const auto* sub = dynamic_cast<const SubReport*>(&aComponent);
    return sub && sub->DrillDownComponent && !sub->ExpandAll;
  }

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

    std::map<Component*, Placed> placed;
    for (Component* component : aBand.Objects()) {
      if (component->Visible && !Collapsed(*component))
        placed.emplace(component, Placed{});
    }
    // Horizontal extent first (text wraps at the printed width): anchors to the right
    // follow the band's printed width or their region's.
    const Micro bandGrowth = aWidth - DesignWidth(aBand.GetReport(), aWidth);
    std::function<void(Component*)> resolveAcross = [&](Component* aComponent) {
      Placed& entry = placed[aComponent];
      if (entry.AcrossDone || entry.InProgress)
        return;
      entry.InProgress = true;
      Micro shift = 0;
      Micro growth = bandGrowth;
      if (Region* region = aComponent->ParentRegion; region && region != aComponent && placed.count(region)) {
        resolveAcross(region);
        const Placed& parent = placed[region];
        shift = parent.Left - region->Left;
        growth = parent.Width - region->Width;
      }
      entry.Left = aComponent->Left + shift;
      entry.Width = aComponent->Width;
      ApplyAnchors(aComponent->Anchors, akLeft, akRight, growth, entry.Left, entry.Width);
      entry.InProgress = false;
      entry.AcrossDone = true;
    };
    for (auto& [component, entry] : placed)
      resolveAcross(component);

    // Measured content per component, then vertical positions (anchors first).
    std::map<Component*, TextBlock> texts;
    std::map<Component*, Strip> children;
    for (Component* component : aBand.Objects()) {
      auto found = placed.find(component);
      if (found == placed.end())
        continue;
      Placed& entry = found->second;
      entry.Height = component->Height;
      if (IsTextComponent(*component) && !IsDeferred(*component)) {
        auto* text = static_cast<TextComponent*>(component);
        TextBlock block = fMeasurer.Layout(TextOf(*component), entry.Width, text->WordWrap);
        if (component->Stretch && dynamic) {
          entry.Height = block.Height;
          entry.FromContent = true;
        }
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
          const Micro width = sub->ParentWidth ? aWidth - entry.Left : entry.Width;
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
        entry.FromContent = true;
        if (sub->Behavior != PrintBehavior::pbFixed) {
          entry.Height = body.Height;
        } else if (sub->TraverseAllData) {
          // All of it, a box of `Height` per page.
          entry.Height = std::max(sub->Height, body.Height);
        } else {
          ClipStrip(body, sub->Height);
        }
        children.emplace(component, std::move(body));
      }
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
    // A band of static height prints whole, below its content its empty space too:
    // it moves on when it does not fit, and is cut only when taller than a page.
    if (!dynamic && strip.Height > 0)
      strip.KeepRanges.emplace_back(0, strip.Height);

    // Anchors to the bottom follow a band that grew beyond its design height, or their
    // region. Components that float (ShiftRelativeTo) or take their content's height
    // already have their place.
    const Micro bandGrowthDown = std::max<Micro>(0, strip.Height - aBand.Height);
    std::function<void(Component*)> resolveDown = [&](Component* aComponent) {
      Placed& entry = placed[aComponent];
      if (entry.AnchorDone || entry.InProgress)
        return;
      entry.InProgress = true;
      Micro shift = 0;
      Micro growth = bandGrowthDown;
      if (Region* region = aComponent->ParentRegion; region && region != aComponent && placed.count(region)) {
        resolveDown(region);
        const Placed& parent = placed[region];
        shift = parent.AnchorShift;
        growth = parent.Height - region->Height;
      }
      const Micro before = entry.Top;
      entry.Top += shift;
      if (!entry.FromContent && !aComponent->ShiftRelativeTo)
        ApplyAnchors(aComponent->Anchors, akTop, akBottom, growth, entry.Top, entry.Height);
      entry.AnchorShift = entry.Top - before;
      entry.InProgress = false;
      entry.AnchorDone = true;
    };
    for (auto& [component, entry] : placed)
      resolveDown(component);

    for (Component* component : aBand.Objects()) {
      auto it = placed.find(component);
      if (it == placed.end())
        continue;
      const Placed& box = it->second;
      const Micro top = box.Top;
      const Micro height = box.Height;
      if (auto text = texts.find(component); text != texts.end()) {
        const std::size_t first = strip.Fragments.size();
        EmitText(strip, static_cast<TextComponent&>(*component), text->second, box.Left, top, box.Width, height);
        if (component->ReprintOnOverFlow) {
          std::vector<Fragment> copies(strip.Fragments.begin() + static_cast<std::ptrdiff_t>(first),
                                       strip.Fragments.end());
          strip.Reprints.push_back({0, 0, top, top + height, std::move(copies)});
        }
      } else if (auto child = children.find(component); child != children.end()) {
        auto* sub = static_cast<SubReport*>(component);
        if (sub->Behavior == PrintBehavior::pbSection) {
          strip.Breaks.push_back(top);
          if (sub->ResetPageNo)
            strip.PageResets.push_back(top);
        }
        if (sub->KeepTogether)
          strip.KeepRanges.emplace_back(top, top + height);
        const bool fixedBoxes = sub->Behavior == PrintBehavior::pbFixed && sub->TraverseAllData;
        if (sub->StopPosition > 0 || sub->OverFlowOffset > 0 || fixedBoxes) {
          strip.Flows.push_back(
              {0, top, top + height, sub->StopPosition, fixedBoxes ? sub->Height : 0, sub->OverFlowOffset});
        }
        AppendStrip(strip, std::move(child->second), box.Left, top);
      } else if (IsDeferred(*component)) {
        Fragment fragment{
            top, top + height, {ArchiveRect{box.Left, top, box.Width, height, 0, 0, std::nullopt}}, false, component};
        strip.Fragments.push_back(std::move(fragment));
      } else {
        EmitGraphic(strip, *component, box.Left, top, box.Width, height, strip.Height);
      }
    }
    for (auto& reprint : strip.Reprints) {
      if (reprint.BandBottom == 0)
        reprint.BandBottom = strip.Height;
    }
    return strip;
  }

  void EmitText(Strip& aStrip, TextComponent& aComponent, const TextBlock& aBlock, Micro aLeft, Micro aTop,
                Micro aWidth, Micro aHeight) {
    if (!aComponent.Transparent && aHeight > 0) {
      ArchiveRect background{aLeft, aTop, aWidth, aHeight, 0, 0, aComponent.BackgroundColor};
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
        fragment.Items.push_back(
            ArchiveText{aLeft + run.X, fragment.Top, run.Width, line.Height, line.Baseline, run.Style, run.Text});
      }
      aStrip.Fragments.push_back(std::move(fragment));
    }
    if (aComponent.KeepTogether)
      aStrip.KeepRanges.emplace_back(aTop, aTop + aBlock.Height);
  }

  void EmitGraphic(Strip& aStrip, Component& aComponent, Micro aLeft, Micro aTop, Micro aWidth, Micro aHeight,
                   Micro aBandHeight) {
    const Micro left = aLeft;
    const Micro width = aWidth;
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
      EmitImage(aStrip, *image, aLeft, aTop, aWidth, aHeight);
    }
  }

  void EmitImage(Strip& aStrip, Image& aImage, Micro aLeft, Micro aTop, Micro aWidth, Micro aHeight) {
    const Picture* picture = &aImage.Picture;
    if (aImage.IsDataAware()) {
      DataPipeline* pipeline = aImage.Pipeline ? aImage.Pipeline : aImage.GetBand()->GetReport().Pipeline;
      picture = pipeline && !aImage.DataField.empty() ? pipeline->GetFieldPicture(aImage.DataField) : nullptr;
    }
    if (!picture || picture->Empty())
      return;  // nothing assigned: nothing printed
    const Micro left = aLeft;
    const std::optional<DecodedPicture>& decoded = Decode(*picture);
    if (!decoded || decoded->PixelWidth <= 0 || decoded->PixelHeight <= 0) {
      // A picture that cannot be decoded: a framed placeholder with a cross.
      const Micro pen = FromPoints(0.5);
      Fragment fragment{aTop, aTop + aHeight, {}, false, nullptr};
      fragment.Items.push_back(ArchiveRect{left, aTop, aWidth, aHeight, pen, 0x808080, std::nullopt});
      fragment.Items.push_back(ArchiveLine{left, aTop, left + aWidth, aTop + aHeight, pen, 0x808080});
      fragment.Items.push_back(ArchiveLine{left, aTop + aHeight, left + aWidth, aTop, pen, 0x808080});
      aStrip.Fragments.push_back(std::move(fragment));
      return;
    }
    Micro width = decoded->PixelWidth * kMicroPerInch / 96;
    Micro height = decoded->PixelHeight * kMicroPerInch / 96;
    if (aImage.Stretch) {
      if (aImage.MaintainAspectRatio) {
        const double scale = std::min(static_cast<double>(aWidth) / width, static_cast<double>(aHeight) / height);
        width = static_cast<Micro>(std::llround(width * scale));
        height = static_cast<Micro>(std::llround(height * scale));
      } else {
        width = aWidth;
        height = aHeight;
      }
    } else {
      width = std::min(width, aWidth);
      height = std::min(height, aHeight);
    }
    Micro x = left;
    Micro y = aTop;
    if (aImage.Center) {
      x += (aWidth - width) / 2;
      y += (aHeight - height) / 2;
    } else if ((aImage.Anchors & akRight) && !(aImage.Anchors & akLeft)) {
      x += aWidth - width;
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

  // Top of the area the content flows down: the current column's, or the content's.
  Micro AreaTop() const { return fInColumns ? fColumnTop : fContentTop; }

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

  // Lowest position <= aLimit at which the strip may be cut below aOffset (between
  // atomic fragments, and before blocks kept together when aKeepTogether).
  Micro FindCut(const Strip& aStrip, Micro aOffset, Micro aLimit, bool aKeepTogether = true) const {
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
        if (aKeepTogether && from >= aOffset && from < cut && to > cut && to - from <= pageHeight) {
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

  // Where the flows that are printing on the current page must stop, as a position
  // in the strip no greater than aLimit. aPageStart is the strip position at which
  // the page took its first content. A stop above the page's first content of this
  // strip leaves no room and is ignored there, so that the content still advances.
  Micro FlowLimit(const Strip& aStrip, Micro aOffset, Micro aPageStart, Micro aLimit) const {
    Micro limit = aLimit;
    for (const Flow& flow : aStrip.Flows) {
      if (aOffset >= flow.To || flow.From >= limit)
        continue;
      Micro stop = limit;
      if (flow.StopPosition > 0) {
        const Micro bandTop = flow.BandTop >= aPageStart ? fY - aOffset + flow.BandTop : AreaTop();
        stop = std::min(stop, aOffset + (bandTop + flow.StopPosition - fY));
      }
      if (flow.PageExtent > 0)
        stop = std::min(stop, std::max(flow.From, aPageStart) + flow.PageExtent);
      stop = std::max(stop, flow.From);  // what prints above the flow is not held back
      if (stop >= flow.To || (stop <= aOffset && aOffset == aPageStart))
        continue;
      limit = std::min(limit, stop);
    }
    return limit;
  }

  // On a new page or column, flows that continue there resume at their overflow
  // offset, when that leaves room.
  void ContinueFlows(const Strip& aStrip, Micro aOffset) {
    const Micro top = AreaTop();
    for (const Flow& flow : aStrip.Flows) {
      const bool continues = flow.BandTop < aOffset && flow.From <= aOffset && aOffset < flow.To;
      if (continues && flow.OverFlowOffset > 0 && top + flow.OverFlowOffset <= fContentBottom - FromMillimetres(5)) {
        fY = std::max(fY, top + flow.OverFlowOffset);
      }
    }
  }

  void Pour(Strip&& aStrip) {
    std::sort(aStrip.Breaks.begin(), aStrip.Breaks.end());
    std::sort(aStrip.PageResets.begin(), aStrip.PageResets.end());
    std::vector<bool> done(aStrip.Fragments.size(), false);
    auto allDone = [&done] { return std::find(done.begin(), done.end(), false) == done.end(); };
    Micro offset = 0;
    std::size_t nextBreak = 0;
    std::size_t nextReset = 0;
    bool resetPending = false;
    Micro pageStart = offset;
    // Whatever starts a new area, a page or the next column, starts the flows and
    // stop positions afresh.
    auto startPage = [&] {
      const std::pair area(fPages.size(), fColumn);
      EnsurePage();
      if (std::pair(fPages.size(), fColumn) != area) {
        pageStart = offset;
        ContinueFlows(aStrip, offset);
      }
    };
    while (!(offset >= aStrip.Height && allDone())) {
      startPage();
      // A break at the current position ends a page that already has content.
      while (nextBreak < aStrip.Breaks.size() && aStrip.Breaks[nextBreak] <= offset) {
        ++nextBreak;
        if (PageInUse()) {
          fPendingBreak = fPendingPage = true;
          startPage();
        }
      }
      while (nextReset < aStrip.PageResets.size() && aStrip.PageResets[nextReset] <= offset) {
        ++nextReset;
        resetPending = true;
      }
      Micro limit = FlowLimit(aStrip, offset, pageStart, offset + (fContentBottom - fY));
      if (limit <= offset) {
        fPendingBreak = true;  // a flow stops above: it continues on the next page
        continue;
      }
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
          if (fPageHasContent) {
            fPendingBreak = true;
            continue;
          }
          // An empty column below full-width bands: the next page offers the full
          // height, the other columns of this page no more than this one.
          if (fInColumns && fColumnTop > fContentTop) {
            fPendingBreak = fPendingPage = true;
            continue;
          }
          // A block kept together that does not fit even on this page as it is
          // (below an overflow offset, above a stop position) is cut between lines.
          cut = FindCut(aStrip, offset, limit, false);
          if (cut <= offset) {
            cut = limit;  // taller than a whole page: cut where the page ends
            force = true;
          }
        }
      }
      if (resetPending) {
        fPageSetStarts.push_back(fPages.size() - 1);
        resetPending = false;
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
          startPage();
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
  // Pages (by index) on which the page numbering starts again.
  std::vector<std::size_t> fPageSetStarts;
  // Pipelines whose records the reports being laid out are running through.
  std::vector<DataPipeline*> fTraversing;
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
