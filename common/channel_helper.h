#pragma once

// TUpdateChannelHelper: the client's view of the feed's channels. It fetches the meta
// manifest directly from the feed (not through the service) so the user can pick a
// channel.
//
// LoadManifestFromServer: GET of UpdateConfig().Url_UpdateFeed() (cache-busted when the
// configuration asks for it) with the environment's proxy settings; when the answer is
// not 200, one more try through the proxy of "update.proxy.json" (the manual proxy
// with its credentials when Manual is set, else the detected one). Transport errors
// end with false and no proxy attempt: a proxy does not help when the first request
// could not connect at all.
//
// LoadManifestFromServerAsync runs the same on a worker thread and hands the result to
// the callback through an IMainThreadDispatcher, i.e. on the user-interface thread; the
// worker waits until the callback has run. The helper and its manifest must not be
// touched until then. Destroying the helper cancels a pending callback (it is then
// never called) and waits for the worker to end; destroy it on the thread that runs
// the dispatcher's calls.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/manifest.h"
#include "platform/http/http.h"

namespace Update::Common {

// Runs calls on the thread that owns the user interface. The Qt client posts them to its
// event loop; tests drain a plain queue. Post may be called from any thread.
class IMainThreadDispatcher {
 public:
  virtual ~IMainThreadDispatcher() = default;
  virtual void Post(std::function<void()> aCall) = 0;
};

class TUpdateChannelHelper {
 public:
  // aHttp: the HTTP client to use (shared with the caller); nullptr = the libcurl one.
  explicit TUpdateChannelHelper(std::shared_ptr<Platform::Http::IHttpClient> aHttp = nullptr);
  ~TUpdateChannelHelper();
  TUpdateChannelHelper(const TUpdateChannelHelper&) = delete;
  TUpdateChannelHelper& operator=(const TUpdateChannelHelper&) = delete;

  TUpdateMetaManifest& Manifest() { return fManifest; }
  const TUpdateChannelList& Channels() const { return fManifest.Channels(); }
  // UpdateConfig().GetUpdateChannel(Manifest()); nullptr when there is none.
  const TUpdateChannel* CurrentChannel() const;
  std::string CurrentChannelName() const;

  bool LoadManifestFromServer();
  // At most one load at a time: std::logic_error when one is still running.
  void LoadManifestFromServerAsync(IMainThreadDispatcher& aDispatcher, std::function<void(bool)> aCallback);

 private:
  struct TAsyncState {
    std::mutex Lock;
    std::condition_variable Changed;
    bool CallbackDone = false;
    bool Cancelled = false;
  };

  std::shared_ptr<Platform::Http::IHttpClient> fHttp;
  TUpdateMetaManifest fManifest;
  std::shared_ptr<TAsyncState> fAsync;
  std::thread fWorker;
};

}  // namespace Update::Common
