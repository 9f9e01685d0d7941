// Small builders shared by the report engine tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/report/archive.h"
#include "platform/report/model.h"
#include "platform/report/text_measurer.h"

namespace Platform::Report::Testing {

// A page 100 mm high with 10 mm margins: 80 mm of content, 180 mm wide.
inline void SmallPage(Report& aReport) {
  aReport.PrinterSetup.PaperWidth = 200000;
  aReport.PrinterSetup.PaperHeight = 100000;
  aReport.PrinterSetup.MarginTop = aReport.PrinterSetup.MarginBottom = 10000;
  aReport.PrinterSetup.MarginLeft = aReport.PrinterSetup.MarginRight = 10000;
}

// Table pipeline: column name -> values per record.
class TTablePipeline : public JITPipeline {
 public:
  TTablePipeline(std::string aName, std::map<std::string, std::vector<std::string>> aColumns)
      : JITPipeline(std::move(aName)), fColumns(std::move(aColumns)) {
    int count = 0;
    for (const auto& [name, values] : fColumns)
      count = std::max<int>(count, static_cast<int>(values.size()));
    SetRecordCount(count);
    OnGetFieldValue = [this](const std::string& aField) -> std::optional<std::string> {
      auto it = fColumns.find(aField);
      if (it == fColumns.end() || RecordIndex() >= static_cast<int>(it->second.size()))
        return std::nullopt;
      return it->second[RecordIndex()];
    };
  }

 private:
  std::map<std::string, std::vector<std::string>> fColumns;
};

inline ArchiveDocument Print(Report& aReport) {
  TFakeTextMeasurer measurer;
  TMemoryArchiveDevice device;
  aReport.PrintToDevice(device, measurer);
  return device.Document();
}

inline std::vector<ArchiveText> Texts(const ArchivePage& aPage) {
  std::vector<ArchiveText> texts;
  for (const auto& item : aPage.Items) {
    if (const auto* text = std::get_if<ArchiveText>(&item))
      texts.push_back(*text);
  }
  return texts;
}

// The first text run with exactly this text, on any page: {page, run}; page -1 if none.
inline std::pair<int, ArchiveText> FindText(const ArchiveDocument& aDocument, const std::string& aText) {
  for (std::size_t p = 0; p < aDocument.Pages.size(); ++p) {
    for (const auto& text : Texts(aDocument.Pages[p])) {
      if (text.Text == aText)
        return {static_cast<int>(p), text};
    }
  }
  return {-1, {}};
}

inline int CountText(const ArchiveDocument& aDocument, const std::string& aText) {
  int count = 0;
  for (const auto& page : aDocument.Pages) {
    for (const auto& text : Texts(page))
      count += text.Text == aText;
  }
  return count;
}

}  // namespace Platform::Report::Testing
