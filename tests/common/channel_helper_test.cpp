#include "common/channel_helper.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "common/config.h"
#include "common/customer_config.h"
#include "common/settings.h"
#include "tests/common/update_config_fixture.h"
#include "tests/platform/http/test_servers.h"

namespace Update::Common {
namespace {

namespace Http = Platform::Http;
using QuorvaneTest::TLoopbackServer;
using QuorvaneTest::TTinyProxy;

constexpr const char* kFeedPath = "/Downloads/Quorvane/update/channels";
constexpr const char* kMeta = R"({"name":"Feed","channels":[
  {"name":"Release","version":"4.2.0.117","modules":[{"name":"Core","manifest":"core.zml"}]},
  {"name":"Beta","version":"5.0.0.1","modules":[]}]})";

// A dispatcher whose calls run when the test drains it, as a UI loop would run them.
class TQueueDispatcher : public IMainThreadDispatcher {
 public:
  void Post(std::function<void()> aCall) override {
    std::lock_guard guard(fLock);
    fCalls.push_back(std::move(aCall));
    fPosted.notify_all();
  }
  // Waits for one posted call and runs it on the calling thread.
  bool RunOne(std::chrono::milliseconds aTimeout = std::chrono::seconds(20)) {
    std::unique_lock lock(fLock);
    if (!fPosted.wait_for(lock, aTimeout, [&] { return !fCalls.empty(); }))
      return false;
    std::function<void()> call = std::move(fCalls.front());
    fCalls.pop_front();
    lock.unlock();
    call();
    return true;
  }

 private:
  std::mutex fLock;
  std::condition_variable fPosted;
  std::deque<std::function<void()>> fCalls;
};

class ChannelHelperTest : public QuorvaneTest::UpdateConfigTest {
 protected:
  // A feed that answers only requests that came through a proxy (tinyproxy adds "Via")
  // when fProxyOnly is set.
  void StartFeed() {
    fServer.Server().Get(std::string(kFeedPath) + "/meta.json",
                         [this](const httplib::Request& aReq, httplib::Response& aRes) {
                           if (fProxyOnly && !aReq.has_header("Via")) {
                             aRes.status = 403;
                             return;
                           }
                           aRes.set_content(kMeta, "application/json");
                         });
    fServer.Start();
    Remember("QUORVANE_UPDATE_FEED", fServer.Url(kFeedPath));
    Remember("http_proxy", std::nullopt);
    Remember("HTTP_PROXY", std::nullopt);
  }
  bool fProxyOnly = false;
  TLoopbackServer fServer;
};

TEST_F(ChannelHelperTest, LoadsTheManifestDirectly) {
  StartFeed();
  TUpdateChannelHelper helper;
  ASSERT_TRUE(helper.LoadManifestFromServer());
  ASSERT_EQ(helper.Channels().Count(), 2u);
  EXPECT_EQ(helper.CurrentChannel()->Name, "Release");
  UpdateConfig().SetUpdateChannelName("beta");
  EXPECT_EQ(helper.CurrentChannelName(), "beta");
  EXPECT_EQ(helper.CurrentChannel()->Name, "Beta");
}

TEST_F(ChannelHelperTest, FallsBackToTheManualProxyWithCredentials) {
  TTinyProxy proxy("walrus", "s3cret");
  if (!proxy.Available()) {
    GTEST_SKIP() << proxy.Reason();
  }
  fProxyOnly = true;
  StartFeed();
  TUpdateChannelHelper helper;
  EXPECT_FALSE(helper.LoadManifestFromServer());  // 403 and no proxy configured

  TProxySettings settings;
  settings.Manual = true;
  settings.Manual_Address = " 127.0.0.1 ";
  settings.Manual_Port = proxy.Port();
  settings.Manual_Auth = true;
  settings.Manual_Username = "walrus";
  settings.Manual_Password = "wrong";
  ASSERT_TRUE(TProxySettings::Save(settings));
  EXPECT_FALSE(helper.LoadManifestFromServer());  // the proxy refuses

  settings.Manual_Password = "s3cret";
  ASSERT_TRUE(TProxySettings::Save(settings));
  ASSERT_TRUE(helper.LoadManifestFromServer()) << proxy.Log();
  EXPECT_EQ(helper.Channels().Count(), 2u);
}

class ChannelHelperFakeTest : public QuorvaneTest::UpdateConfigTest {};

TEST_F(ChannelHelperFakeTest, ProxyChoiceAndTransportErrors) {
  TProxySettings settings;
  settings.Manual = false;
  settings.Manual_Address = "manual.local";
  settings.Auto_Address = "auto.local";
  settings.Auto_Port = 8080;
  ASSERT_TRUE(TProxySettings::Save(settings));

  auto http = std::make_shared<Http::TFakeHttpClient>([](const Http::THttpRequest& aRequest) {
    Http::THttpResponse response;
    response.StatusCode = aRequest.ProxyMode == Http::TProxyMode::pmExplicit ? 200 : 407;
    response.Body = kMeta;
    return response;
  });
  TUpdateChannelHelper helper(http);
  ASSERT_TRUE(helper.LoadManifestFromServer());
  std::vector<Http::THttpRequest> requests = http->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Url, "http://updates.quorvane.example/Downloads/Quorvane/update/channels/meta.json");
  EXPECT_EQ(requests[0].ProxyMode, Http::TProxyMode::pmDefault);
  EXPECT_EQ(requests[1].Proxy.Host, "auto.local");
  EXPECT_EQ(requests[1].Proxy.Port, 8080);
  EXPECT_FALSE(requests[1].Proxy.UseCredentials);

  // A connection failure of the first request ends the load: no proxy attempt.
  auto failing = std::make_shared<Http::TFakeHttpClient>(
      [](const Http::THttpRequest&) -> Http::THttpResponse { throw Http::EHttpConnectError("refused"); });
  TUpdateChannelHelper failingHelper(failing);
  EXPECT_FALSE(failingHelper.LoadManifestFromServer());
  EXPECT_EQ(failing->Requests().size(), 1u);
}

TEST_F(ChannelHelperFakeTest, CacheBustingAndBodiesInTheOldCodePage) {
  class TBustingConfig : public TUpdateConfig {
   public:
    bool UseCacheBusting() const override { return true; }
  };
  SetUpdateConfigClass([] { return TCustomUpdateConfig::Create<TBustingConfig>(); });
  auto http = std::make_shared<Http::TFakeHttpClient>([](const Http::THttpRequest&) {
    Http::THttpResponse response;
    response.StatusCode = 200;
    response.Body =
        "{\"name\":\"M\xFC"
        "ller\",\"channels\":[]}";  // Windows-1252, not UTF-8
    return response;
  });
  TUpdateChannelHelper helper(http);
  EXPECT_TRUE(helper.LoadManifestFromServer());
  EXPECT_EQ(helper.Manifest().Name, "M\xC3\xBCller");
  std::string url = http->Requests().at(0).Url;
  EXPECT_TRUE(url.starts_with(UpdateConfig().Url_UpdateFeed() + "?")) << url;
  EXPECT_EQ(url.size(), UpdateConfig().Url_UpdateFeed().size() + 33);
}

TEST_F(ChannelHelperFakeTest, AsyncDeliversTheResultOnTheDispatcherThread) {
  auto http = std::make_shared<Http::TFakeHttpClient>([](const Http::THttpRequest&) {
    Http::THttpResponse response;
    response.StatusCode = 200;
    response.Body = kMeta;
    return response;
  });
  TQueueDispatcher dispatcher;
  TUpdateChannelHelper helper(http);
  std::optional<bool> result;
  std::thread::id callbackThread;
  helper.LoadManifestFromServerAsync(dispatcher, [&](bool aResult) {
    result = aResult;
    callbackThread = std::this_thread::get_id();
  });
  ASSERT_TRUE(dispatcher.RunOne());
  EXPECT_EQ(result, true);
  EXPECT_EQ(callbackThread, std::this_thread::get_id());
  EXPECT_EQ(helper.Channels().Count(), 2u);

  // A second load after the first finished is fine.
  result.reset();
  helper.LoadManifestFromServerAsync(dispatcher, [&](bool aResult) { result = aResult; });
  ASSERT_TRUE(dispatcher.RunOne());
  EXPECT_EQ(result, true);
}

TEST_F(ChannelHelperFakeTest, DestroyingTheHelperCancelsAPendingCallback) {
  auto http = std::make_shared<Http::TFakeHttpClient>([](const Http::THttpRequest&) {
    Http::THttpResponse response;
    response.StatusCode = 500;
    return response;
  });
  TQueueDispatcher dispatcher;
  bool called = false;
  {
    TUpdateChannelHelper helper(http);
    helper.LoadManifestFromServerAsync(dispatcher, [&](bool) { called = true; });
    // Wait until the worker posted its call, then destroy the helper before running it.
    while (http->Requests().empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  while (dispatcher.RunOne(std::chrono::milliseconds(200))) {
  }
  EXPECT_FALSE(called);
}

}  // namespace
}  // namespace Update::Common
