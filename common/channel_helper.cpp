#include "common/channel_helper.h"

#include <stdexcept>

#include "common/config.h"
#include "common/settings.h"
#include "common/utils.h"
#include "platform/text/text.h"

namespace Update::Common {

namespace Http = Platform::Http;

namespace {

// The feed serves UTF-8; a body that is not valid UTF-8 was written in the Windows
// 8-bit code page and is converted from it.
std::string DecodeBody(std::string_view aBody) {
  if (aBody.starts_with("\xEF\xBB\xBF"))
    aBody.remove_prefix(3);
  if (Platform::Text::IsValidUtf8(aBody))
    return std::string(aBody);
  return Platform::Text::Cp1252ToUtf8(aBody);
}

// The proxy the settings name for a second attempt, or nothing.
std::optional<Http::THttpProxy> ProxyFromSettings(const TProxySettings& aSettings) {
  Http::THttpProxy proxy;
  if (aSettings.Manual && !TUpdateUtils::Trim(aSettings.Manual_Address).empty()) {
    proxy.Host = TUpdateUtils::Trim(aSettings.Manual_Address);
    proxy.Port = aSettings.Manual_Port;
    if (aSettings.Manual_Auth) {
      proxy.UseCredentials = true;
      proxy.Username = aSettings.Manual_Username;
      proxy.Password = aSettings.Manual_Password;
    }
    return proxy;
  }
  if (!aSettings.Manual && !TUpdateUtils::Trim(aSettings.Auto_Address).empty()) {
    proxy.Host = TUpdateUtils::Trim(aSettings.Auto_Address);
    proxy.Port = aSettings.Auto_Port;
    return proxy;
  }
  return std::nullopt;
}

}  // namespace

TUpdateChannelHelper::TUpdateChannelHelper(std::shared_ptr<Http::IHttpClient> aHttp) : fHttp(std::move(aHttp)) {
  if (!fHttp) {
    fHttp = Http::CreateHttpClient();
  }
}

TUpdateChannelHelper::~TUpdateChannelHelper() {
  if (fAsync) {
    std::lock_guard guard(fAsync->Lock);
    fAsync->Cancelled = true;
    fAsync->Changed.notify_all();
  }
  if (fWorker.joinable()) {
    fWorker.join();
  }
}

const TUpdateChannel* TUpdateChannelHelper::CurrentChannel() const {
  return UpdateConfig().GetUpdateChannel(&fManifest);
}

std::string TUpdateChannelHelper::CurrentChannelName() const {
  return UpdateConfig().UpdateChannelName();
}

bool TUpdateChannelHelper::LoadManifestFromServer() {
  const TCustomUpdateConfig& config = UpdateConfig();
  Http::THttpRequest request;
  request.Url = config.Url_UpdateFeed();
  if (config.UseCacheBusting()) {
    request.Url = TUpdateUtils::GetUrlWithCacheBusting(request.Url);
  }
  try {
    Http::THttpResponse response = fHttp->Execute(request);
    if (response.StatusCode != 200) {
      std::optional<Http::THttpProxy> proxy = ProxyFromSettings(TProxySettings::Load());
      if (!proxy) {
        return false;
      }
      request.ProxyMode = Http::TProxyMode::pmExplicit;
      request.Proxy = *proxy;
      response = fHttp->Execute(request);
      if (response.StatusCode != 200) {
        return false;
      }
    }
    return fManifest.LoadFromJsonString(DecodeBody(response.Body));
  } catch (const Http::EHttpError&) {
    return false;
  }
}

void TUpdateChannelHelper::LoadManifestFromServerAsync(IMainThreadDispatcher& aDispatcher,
                                                       std::function<void(bool)> aCallback) {
  if (fWorker.joinable()) {
    std::unique_lock lock(fAsync->Lock);
    if (!fAsync->CallbackDone) {
      throw std::logic_error("TUpdateChannelHelper: a manifest load is still running");
    }
    lock.unlock();
    fWorker.join();
  }
  auto state = std::make_shared<TAsyncState>();
  fAsync = state;
  fWorker = std::thread([this, state, &aDispatcher, callback = std::move(aCallback)]() mutable {
    bool result = false;
    try {
      result = LoadManifestFromServer();
    } catch (...) {
      // Nothing may leave a worker thread; an unexpected failure is a failed load.
      result = false;
    }
    if (!callback) {
      std::lock_guard guard(state->Lock);
      state->CallbackDone = true;
      return;
    }
    aDispatcher.Post([state, callback = std::move(callback), result] {
      bool run = false;
      {
        std::lock_guard guard(state->Lock);
        run = !state->Cancelled;
      }
      if (run) {
        callback(result);
      }
      std::lock_guard guard(state->Lock);
      state->CallbackDone = true;
      state->Changed.notify_all();
    });
    std::unique_lock lock(state->Lock);
    state->Changed.wait(lock, [&] { return state->CallbackDone || state->Cancelled; });
  });
}

}  // namespace Update::Common
