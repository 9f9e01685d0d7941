#include "common/manifest.h"

#include <nlohmann/json.hpp>

#include <filesystem>

#include "common/persist_json.h"
#include "common/utils.h"
#include "platform/text/text.h"

namespace Update::Common {

namespace {

using TJson = nlohmann::ordered_json;

// Members of the wrong JSON type read as their zero value.
std::string ReadString(const TJson& aObject, const char* aKey) {
  auto it = aObject.find(aKey);
  return it != aObject.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::int32_t ReadInt32(const TJson& aObject, const char* aKey) {
  auto it = aObject.find(aKey);
  if (it == aObject.end() || !it->is_number()) {
    return 0;
  }
  if (it->is_number_integer()) {
    std::int64_t value = it->get<std::int64_t>();
    return value < INT32_MIN || value > INT32_MAX ? 0 : static_cast<std::int32_t>(value);
  }
  double value = it->get<double>();
  return value < INT32_MIN || value > INT32_MAX ? 0 : static_cast<std::int32_t>(value);
}

const TJson* ReadArray(const TJson& aObject, const char* aKey) {
  auto it = aObject.find(aKey);
  return it != aObject.end() && it->is_array() ? &*it : nullptr;
}

void LoadModules(const TJson& aArray, TUpdateModuleList& aModules) {
  aModules.Clear();
  for (const TJson& element : aArray) {
    if (!element.is_object()) {
      continue;
    }
    TUpdateModule* module = aModules.New();
    module->Name = ReadString(element, "name");
    module->Typ = ReadString(element, "type");
    module->ManifestFile = ReadString(element, "manifest");
  }
}

bool LoadChannel(const TJson& aObject, TUpdateChannel& aChannel) {
  aChannel.Clear();
  aChannel.Name = ReadString(aObject, "name");
  aChannel.SubPath = ReadString(aObject, "subpath");
  aChannel.Typ = ReadString(aObject, "type");
  aChannel.Version = TFileVersion(ReadString(aObject, "version"));
  aChannel.EulaVersion = ReadInt32(aObject, "eula-version");
  const TJson* modules = ReadArray(aObject, "modules");
  if (!modules) {
    return false;
  }
  LoadModules(*modules, aChannel.Modules());
  return true;
}

// The tree SaveToFile writes: the manifest's fields, then "channels", each channel's
// fields, then its "modules".
std::unique_ptr<TPersistValue_Object> ToTree(const TUpdateMetaManifest& aManifest) {
  auto root = std::make_unique<TPersistValue_Object>();
  root->Add_String("name", aManifest.Name);
  TPersistValue_Array* channels = root->Add_Array("channels");
  for (const TUpdateChannel* channel : aManifest.Channels()) {
    TPersistValue_Object* item = channels->Add_Object();
    item->Add_String("name", channel->Name);
    item->Add_String("subpath", channel->SubPath);
    item->Add_String("type", channel->Typ);
    item->Add_String("version", channel->Version.AsString());
    item->Add_Number("eula-version", channel->EulaVersion);
    TPersistValue_Array* modules = item->Add_Array("modules");
    for (const TUpdateModule* module : channel->Modules()) {
      TPersistValue_Object* entry = modules->Add_Object();
      entry->Add_String("name", module->Name);
      entry->Add_String("type", module->Typ);
      entry->Add_String("manifest", module->ManifestFile);
    }
  }
  return root;
}

const bool kFileVersionInterceptorRegistered = [] {
  RegisterFileVersionInterceptor();
  return true;
}();

template <typename F>
void ForEachModule(TUpdateMetaManifest& aManifest, F&& aChange) {
  for (TUpdateChannel* channel : aManifest.Channels()) {
    for (TUpdateModule* module : channel->Modules()) {
      aChange(*module);
    }
  }
}

}  // namespace

// --- version interceptor ---

TPersistValuePtr TFileVersionInterceptor::FromRecordValue(const TFileVersion& aRecord) {
  return std::make_unique<TPersistValue_String>(aRecord.AsString(), &Persist());
}

std::optional<TFileVersion> TFileVersionInterceptor::ToRecordValue(const TPersistValue* aSource) {
  const TPersistValue_String* text = aSource ? aSource->AsString() : nullptr;
  if (!text || text->Value().empty()) {
    return TFileVersion();
  }
  return TFileVersion(text->Value());
}

void RegisterFileVersionInterceptor() {
  TPersist::Register_Global_RecordInterceptor<TFileVersion, TFileVersionInterceptor>();
}

// --- modules ---

void TUpdateModule::Clear() {
  *this = TUpdateModule();
}

void TUpdateModule::Assign(const TUpdateModule& aSource) {
  *this = aSource;
}

std::string TUpdateModule::GetDescription() const {
  std::string result = Name + " (";
  if (!Typ.empty())
    result += "Type: " + Typ + ", ";
  return result + "Manifest: " + ManifestFile + ")";
}

TUpdateModule* TUpdateModuleList::New() {
  Add(std::make_unique<TUpdateModule>());
  return Items(Count() - 1);
}

void TUpdateModuleList::Assign(const TUpdateModuleList& aSource) {
  if (&aSource == this)
    return;
  Clear();
  for (const TUpdateModule* module : aSource) {
    New()->Assign(*module);
  }
}

// --- channels ---

void TUpdateChannel::Clear() {
  Name.clear();
  SubPath.clear();
  Typ.clear();
  Version = TFileVersion();
  EulaVersion = 0;
  fModuleList.Clear();
}

void TUpdateChannel::Assign(const TUpdateChannel& aSource) {
  if (&aSource == this)
    return;
  Name = aSource.Name;
  SubPath = aSource.SubPath;
  Typ = aSource.Typ;
  Version = aSource.Version;
  EulaVersion = aSource.EulaVersion;
  fModuleList.Assign(aSource.fModuleList);
}

std::string TUpdateChannel::GetDescription() const {
  std::string result = Name + " (";
  if (!SubPath.empty())
    result += "SubPath: " + SubPath + ", ";
  if (!Typ.empty())
    result += "Type: " + Typ + ", ";
  return result + "Version: " + Version.AsString() + ", EulaVersion: " + std::to_string(EulaVersion) + ")";
}

TUpdateChannel* TUpdateChannelList::New() {
  Add(std::make_unique<TUpdateChannel>());
  return Items(Count() - 1);
}

void TUpdateChannelList::Assign(const TUpdateChannelList& aSource) {
  if (&aSource == this)
    return;
  Clear();
  for (const TUpdateChannel* channel : aSource) {
    New()->Assign(*channel);
  }
}

TUpdateChannel* TUpdateChannelList::GetByName(std::string_view aChannelName) const {
  for (TUpdateChannel* channel : *this) {
    if (Platform::Text::SameAsciiNoCase(channel->Name, aChannelName)) {
      return channel;
    }
  }
  return nullptr;
}

// --- the manifest ---

void TUpdateMetaManifest::Clear() {
  Name.clear();
  fChannelList.Clear();
}

bool TUpdateMetaManifest::LoadFromJsonString(std::string_view aJsonString) {
  Clear();
  std::unique_ptr<TPersist_Json::TJsonDocument> document = TPersist_Json::TryParseJsonObject(aJsonString);
  if (!document) {
    return false;
  }
  const TJson& root = *document;
  Name = ReadString(root, "name");
  const TJson* channels = ReadArray(root, "channels");
  if (!channels) {
    return false;
  }
  bool result = true;
  for (const TJson& element : *channels) {
    if (element.is_object()) {
      result = LoadChannel(element, *fChannelList.New()) && result;
    }
  }
  return result;
}

bool TUpdateMetaManifest::LoadFromFile(const std::string& aFile) {
  std::string text;
  try {
    text = TPersist_Json::LoadStringFromFile(aFile);
  } catch (const std::filesystem::filesystem_error&) {
    text.clear();
  }
  return LoadFromJsonString(text);
}

bool TUpdateMetaManifest::SaveToFile(const std::string& aFile) const {
  try {
    TPersist_Json::SaveStringToFile(aFile, SaveToJsonString(true));
    return true;
  } catch (const std::filesystem::filesystem_error&) {
    return false;
  }
}

std::string TUpdateMetaManifest::SaveToJsonString(bool aPretty) const {
  std::unique_ptr<TPersistValue_Object> tree = ToTree(*this);
  return TPersist_Json::PersistObject_SaveToJsonString(tree.get(), aPretty ? SaveOptions_Pretty : SaveOptions_Compact);
}

void TUpdateMetaManifest::Assign(const TUpdateMetaManifest& aSource) {
  if (&aSource == this)
    return;
  Name = aSource.Name;
  fChannelList.Assign(aSource.fChannelList);
}

void TUpdateMetaManifest::MakePathsAbsolute(std::string_view aBasePath) {
  ForEachModule(*this, [&](TUpdateModule& aModule) {
    aModule.ManifestFile = TUpdateUtils::MakePathAbsolute(aBasePath, aModule.ManifestFile);
  });
}

void TUpdateMetaManifest::MakePathsRelative(std::string_view aBasePath) {
  ForEachModule(*this, [&](TUpdateModule& aModule) {
    aModule.ManifestFile = TUpdateUtils::MakePathRelative(aBasePath, aModule.ManifestFile);
  });
}

void TUpdateMetaManifest::DropPaths() {
  ForEachModule(*this, [](TUpdateModule& aModule) {
    std::size_t last = aModule.ManifestFile.find_last_of("/\\");
    if (last != std::string::npos) {
      aModule.ManifestFile.erase(0, last + 1);
    }
  });
}

}  // namespace Update::Common
