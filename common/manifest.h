#pragma once

// The feed's meta manifest ("meta.json"): its channels (a release and a test line, for
// example) and each channel's modules. The service loads it from the downloaded file
// and walks the configured channel's modules; the client fetches it to let the user
// choose a channel (channel_helper.h).
//
// File layout (UTF-8 JSON; member order as SaveToFile writes it):
//   { "name": "...",
//     "channels": [ { "name", "subpath", "type", "version" ("%d.%d.%d.%d"),
//                     "eula-version" (number), "modules": [ { "name", "type",
//                     "manifest" } ] } ] }
//
// Loading never throws for bad content: it reports false when the text is not a JSON
// object, has no "channels" array or a channel has no "modules" array; what was loaded
// before the problem stays in the object. Members of the wrong JSON type read as their
// zero value. Objects are used by one thread at a time.

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_version.h"
#include "common/persist.h"

namespace Update::Common {

// Writes every TFileVersion of a persisted object or record as its dotted text and reads
// a non-empty text back (anything else reads as 0.0.0.0). Registered process-wide when
// this unit is linked; RegisterFileVersionInterceptor does it explicitly (idempotent).
class TFileVersionInterceptor final : public TTypedRecordInterceptor<TFileVersion> {
 public:
  using TTypedRecordInterceptor::TTypedRecordInterceptor;
  TPersistValuePtr FromRecordValue(const TFileVersion& aRecord) override;
  std::optional<TFileVersion> ToRecordValue(const TPersistValue* aSource) override;
};
void RegisterFileVersionInterceptor();

// A list that owns its items (always true here) and hands out plain pointers to them.
template <typename T>
class TEncapsulatedObjectList {
 public:
  explicit TEncapsulatedObjectList(bool aOwnsObjects = true) { (void)aOwnsObjects; }
  TEncapsulatedObjectList(const TEncapsulatedObjectList&) = delete;
  TEncapsulatedObjectList& operator=(const TEncapsulatedObjectList&) = delete;

  std::size_t Count() const { return fItems.size(); }
  // std::out_of_range for an index outside 0..Count()-1.
  T* Items(std::size_t aIndex) const {
    if (aIndex >= fItems.size()) {
      throw std::out_of_range("List index out of bounds (" + std::to_string(aIndex) + ")");
    }
    return fItems[aIndex].get();
  }
  // Replaces (and frees) the item at aIndex.
  void SetItems(std::size_t aIndex, std::unique_ptr<T> aItem) {
    (void)Items(aIndex);
    fItems[aIndex] = std::move(aItem);
  }
  void Add(std::unique_ptr<T> aItem) { fItems.push_back(std::move(aItem)); }
  void Clear() { fItems.clear(); }
  // Frees aItem when it is in the list; false otherwise.
  bool Remove(const T* aItem) {
    for (auto it = fItems.begin(); it != fItems.end(); ++it) {
      if (it->get() == aItem) {
        fItems.erase(it);
        return true;
      }
    }
    return false;
  }
  T* FirstOrNil() const { return fItems.empty() ? nullptr : fItems.front().get(); }

  // Forward iteration in list order, yielding T*.
  class TIterator {
   public:
    explicit TIterator(typename std::vector<std::unique_ptr<T>>::const_iterator aIt) : fIt(aIt) {}
    T* operator*() const { return fIt->get(); }
    TIterator& operator++() {
      ++fIt;
      return *this;
    }
    bool operator==(const TIterator&) const = default;

   private:
    typename std::vector<std::unique_ptr<T>>::const_iterator fIt;
  };
  TIterator begin() const { return TIterator(fItems.begin()); }
  TIterator end() const { return TIterator(fItems.end()); }

 private:
  std::vector<std::unique_ptr<T>> fItems;
};

class TUpdateModule {
 public:
  std::string Name;
  std::string Typ;
  std::string ManifestFile;

  void Clear();
  void Assign(const TUpdateModule& aSource);
  // "Name (Type: t, Manifest: m)", the type part only when not empty.
  std::string GetDescription() const;
};

class TUpdateModuleList : public TEncapsulatedObjectList<TUpdateModule> {
 public:
  TUpdateModule* New();
  void Assign(const TUpdateModuleList& aSource);
};

class TUpdateChannel {
 public:
  std::string Name;
  std::string SubPath;
  std::string Typ;
  TFileVersion Version;
  std::int32_t EulaVersion = 0;

  TUpdateModuleList& Modules() { return fModuleList; }
  const TUpdateModuleList& Modules() const { return fModuleList; }

  void Clear();
  void Assign(const TUpdateChannel& aSource);
  // "Name (SubPath: s, Type: t, Version: v, EulaVersion: n)", sub-path and type only
  // when not empty.
  std::string GetDescription() const;

 private:
  TUpdateModuleList fModuleList;
};

class TUpdateChannelList : public TEncapsulatedObjectList<TUpdateChannel> {
 public:
  TUpdateChannel* New();
  void Assign(const TUpdateChannelList& aSource);
  // The first channel whose name equals aChannelName without ASCII case; nullptr when
  // none does.
  TUpdateChannel* GetByName(std::string_view aChannelName) const;
};

class TUpdateMetaManifest {
 public:
  std::string Name;

  TUpdateChannelList& Channels() { return fChannelList; }
  const TUpdateChannelList& Channels() const { return fChannelList; }

  void Clear();
  bool LoadFromFile(const std::string& aFile);
  bool LoadFromJsonString(std::string_view aJsonString);
  // Pretty-printed, uncompressed; missing folders are created. False when the file
  // cannot be written.
  bool SaveToFile(const std::string& aFile) const;
  std::string SaveToJsonString(bool aPretty) const;
  void Assign(const TUpdateMetaManifest& aSource);

  // Rewrite every module's ManifestFile (see TUpdateUtils::MakePathAbsolute /
  // MakePathRelative); DropPaths keeps only the file name.
  void MakePathsAbsolute(std::string_view aBasePath);
  void MakePathsRelative(std::string_view aBasePath);
  void DropPaths();

 private:
  TUpdateChannelList fChannelList;
};

}  // namespace Update::Common
