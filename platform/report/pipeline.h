// Data pipelines: the report engine's view of a table of records.
//
// A detail band prints once per record of its report's pipeline. The engine sets the
// current record (`First`, `Next`) and asks data-aware components' values through
// `GetFieldValue` / `GetFieldPicture`. `JITPipeline` answers both through callbacks
// that its owner sets, and owns `Field` objects describing the fields it serves.
//
// Ownership: a pipeline owns its fields; reports and components only point at a
// pipeline, which must outlive every print run that uses it. Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Platform::Report {

struct Picture;
class DataPipeline;

enum class FieldDataType { dtNotKnown = 0, dtString = 1, dtGraphic = 2, dtInteger = 3, dtDouble = 4 };

class Field {
 public:
  explicit Field(DataPipeline* aPipeline) : fDataPipeline(aPipeline) {}
  std::string Name;  // component name of the field object
  std::string FieldName;
  std::string FieldAlias;
  FieldDataType DataType = FieldDataType::dtNotKnown;
  DataPipeline* GetDataPipeline() const { return fDataPipeline; }
  void SetDataPipeline(DataPipeline* aPipeline) { fDataPipeline = aPipeline; }

 private:
  DataPipeline* fDataPipeline;
};

class DataPipeline {
 public:
  explicit DataPipeline(std::string aName = {}) : Name(std::move(aName)) {}
  virtual ~DataPipeline() = default;
  DataPipeline(const DataPipeline&) = delete;
  DataPipeline& operator=(const DataPipeline&) = delete;

  std::string Name;

  virtual int RecordCount() const = 0;
  int RecordIndex() const { return fRecordIndex; }
  void SetRecordIndex(int aIndex) { fRecordIndex = aIndex; }
  void First() { fRecordIndex = 0; }
  void Next() { ++fRecordIndex; }
  bool Eof() const { return fRecordIndex >= RecordCount(); }

  // Value of a field in the current record as text; nullopt when there is none.
  virtual std::optional<std::string> GetFieldValue(const std::string& aFieldName) = 0;
  // Picture of a field in the current record (owned by the data source) or nullptr.
  virtual const Picture* GetFieldPicture(const std::string& aFieldName) = 0;

  // Fields in creation order, owned by the pipeline.
  Field& AddField();
  void FreeFields() { fFields.clear(); }
  const std::vector<std::unique_ptr<Field>>& Fields() const { return fFields; }
  Field* FindField(const std::string& aFieldName) const;

 private:
  int fRecordIndex = 0;
  std::vector<std::unique_ptr<Field>> fFields;
};

// Just-in-time pipeline: record count set by the owner, values through callbacks.
class JITPipeline : public DataPipeline {
 public:
  using TGetFieldValue = std::function<std::optional<std::string>(const std::string& aFieldName)>;
  using TGetFieldAsPicture = std::function<const Picture*(const std::string& aFieldName)>;

  using DataPipeline::DataPipeline;

  TGetFieldValue OnGetFieldValue;
  TGetFieldAsPicture OnGetFieldAsPicture;

  int RecordCount() const override { return fRecordCount; }
  void SetRecordCount(int aCount) { fRecordCount = aCount < 0 ? 0 : aCount; }

  std::optional<std::string> GetFieldValue(const std::string& aFieldName) override {
    return OnGetFieldValue ? OnGetFieldValue(aFieldName) : std::nullopt;
  }
  const Picture* GetFieldPicture(const std::string& aFieldName) override {
    return OnGetFieldAsPicture ? OnGetFieldAsPicture(aFieldName) : nullptr;
  }

 private:
  int fRecordCount = 0;
};

}  // namespace Platform::Report
