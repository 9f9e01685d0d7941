#include "platform/report/model.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace Platform::Report {

bool IsValidComponentName(const std::string& aName) {
  if (aName.empty())
    return false;
  const auto first = static_cast<unsigned char>(aName[0]);
  if (!(std::isalpha(first) || first == '_'))
    return false;
  return std::all_of(aName.begin(), aName.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x80 && (std::isalnum(u) || u == '_');
  });
}

Component::~Component() {
  if (fBand)
    fBand->RemoveObject(*this);
}

std::string Memo::Text() const {
  std::string text;
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    if (i > 0)
      text += '\n';
    text += Lines[i];
  }
  return text;
}

void Memo::SetText(const std::string& aText) {
  Lines.clear();
  if (aText.empty())
    return;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = aText.find('\n', start);
    std::string line = aText.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    Lines.push_back(std::move(line));
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
}

std::string SystemVariable::Text() const {
  const Band* band = GetBand();
  if (!band)
    return {};
  const Report& report = band->GetReport();
  const int pageNo = report.CurrentPageNo();
  const int pageCount = report.PageCount();
  if (pageNo <= 0)
    return {};
  switch (VarType) {
    case SystemVariableType::vtPageNo:
      return std::to_string(pageNo);
    case SystemVariableType::vtPageCount:
      return std::to_string(pageCount);
    case SystemVariableType::vtPageNoDesc:
      return "Seite " + std::to_string(pageNo);
    case SystemVariableType::vtPageSetDesc:
      return "Seite " + std::to_string(pageNo) + " von " + std::to_string(pageCount);
  }
  return {};
}

SubReport::SubReport() {
  Stretch = true;
}
SubReport::~SubReport() = default;

Report& SubReport::CreateReport(Report* aParent) {
  fReport = std::make_unique<Report>();
  fReport->fParent = aParent;
  fReport->fOwnerSubReport = this;
  return *fReport;
}

Band::~Band() {
  for (Component* component : fObjects)
    component->fBand = nullptr;
}

void Band::AddObject(Component& aComponent) {
  if (aComponent.fBand == this)
    return;
  if (aComponent.fBand)
    aComponent.fBand->RemoveObject(aComponent);
  fObjects.push_back(&aComponent);
  aComponent.fBand = this;
}

void Band::RemoveObject(Component& aComponent) {
  std::erase(fObjects, &aComponent);
  if (aComponent.fBand == this)
    aComponent.fBand = nullptr;
}

Micro PageSetup::UsableWidth() const {
  if (ColumnWidth > 0)
    return ColumnWidth;
  const Micro between = PageWidth() - MarginLeft - MarginRight;
  if (Columns <= 1)
    return between;
  return (between - (Columns - 1) * ColumnSpacing) / Columns;
}

Report::Report() = default;

Report::~Report() {
  Clear();
}

void Report::Clear() {
  // Detach everything first: owned components may sit in bands of other reports and
  // unowned ones in our bands.
  for (auto& component : fComponents) {
    if (component->fBand)
      component->fBand->RemoveObject(*component);
  }
  fComponents.clear();
  fGroups.clear();
  fBands.clear();
}

std::vector<Band*> Report::Bands() const {
  std::vector<Band*> bands;
  for (const auto& band : fBands)
    bands.push_back(band.get());
  // Group headers in group order, group footers in reverse group order.
  auto rank = [this](const Band* aBand) {
    int groupIndex = 0;
    for (std::size_t i = 0; i < fGroups.size(); ++i) {
      if (fGroups[i].get() == aBand->GetGroup())
        groupIndex = static_cast<int>(i);
    }
    const int typeRank = static_cast<int>(aBand->Type()) * 10000;
    if (aBand->Type() == BandType::btGroupHeader)
      return typeRank + groupIndex;
    if (aBand->Type() == BandType::btGroupFooter)
      return typeRank + 9999 - groupIndex;
    return typeRank;
  };
  std::stable_sort(bands.begin(), bands.end(), [&rank](Band* a, Band* b) { return rank(a) < rank(b); });
  return bands;
}

Band* Report::FindBand(BandType aType) const {
  for (const auto& band : fBands) {
    if (band->Type() == aType)
      return band.get();
  }
  return nullptr;
}

Band& Report::CreateBand(BandType aType) {
  if (aType == BandType::btGroupHeader || aType == BandType::btGroupFooter) {
    throw std::invalid_argument("group bands are created with CreateGroup");
  }
  if (Band* existing = FindBand(aType))
    return *existing;
  fBands.push_back(std::make_unique<Band>(*this, aType));
  return *fBands.back();
}

void Report::CreateDefaultBands() {
  CreateBand(BandType::btHeader);
  CreateBand(BandType::btDetail);
  CreateBand(BandType::btFooter);
}

Group& Report::CreateGroup() {
  fGroups.push_back(std::make_unique<Group>());
  Group& group = *fGroups.back();
  fBands.push_back(std::make_unique<Band>(*this, BandType::btGroupHeader));
  group.fHeader = fBands.back().get();
  group.fHeader->fGroup = &group;
  fBands.push_back(std::make_unique<Band>(*this, BandType::btGroupFooter));
  group.fFooter = fBands.back().get();
  group.fFooter->fGroup = &group;
  return group;
}

std::vector<Component*> Report::Components() const {
  std::vector<Component*> components;
  for (const auto& component : fComponents)
    components.push_back(component.get());
  return components;
}

Component* Report::FindComponent(const std::string& aName) const {
  for (const auto& component : fComponents) {
    if (component->Name == aName)
      return component.get();
  }
  return nullptr;
}

void Report::Adopt(std::unique_ptr<Component> aComponent, Band& aBand, const std::string& aName) {
  if (&aBand.GetReport() != this)
    throw std::invalid_argument("band of another report");
  if (!IsValidComponentName(aName))
    throw std::invalid_argument("invalid component name '" + aName + "'");
  if (FindComponent(aName))
    throw std::invalid_argument("duplicate component name '" + aName + "'");
  aComponent->Name = aName;
  aComponent->fOwner = this;
  aBand.AddObject(*aComponent);
  fComponents.push_back(std::move(aComponent));
}

int Report::CurrentPageNo() const {
  return fParent ? fParent->CurrentPageNo() : fPageNo;
}
int Report::PageCount() const {
  return fParent ? fParent->PageCount() : fPageCount;
}

}  // namespace Platform::Report
