#include "platform/report/pipeline.h"

#include <strings.h>

namespace Platform::Report {

Field& DataPipeline::AddField() {
  fFields.push_back(std::make_unique<Field>(this));
  return *fFields.back();
}

Field* DataPipeline::FindField(const std::string& aFieldName) const {
  for (const auto& field : fFields) {
    if (strcasecmp(field->FieldName.c_str(), aFieldName.c_str()) == 0)
      return field.get();
  }
  return nullptr;
}

}  // namespace Platform::Report
