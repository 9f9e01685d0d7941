#include "platform/http/http.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/platform/http/test_servers.h"
#include "tests/support/temp_dir.h"

namespace Platform::Http {
namespace {

using QuorvaneTest::ReadFile;
using QuorvaneTest::TLoopbackServer;
using QuorvaneTest::TTempDir;
using QuorvaneTest::TTinyProxy;
using QuorvaneTest::WriteFile;

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = fServer.Server();
    s.Get("/hello", [](const httplib::Request&, httplib::Response& aRes) {
      aRes.set_header("X-Test", "yes");
      aRes.set_content("hello world", "text/plain");
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& aRes) {
      aRes.status = 404;
      aRes.set_content("nope", "text/plain");
    });
    s.Get("/redirect", [](const httplib::Request&, httplib::Response& aRes) { aRes.set_redirect("/hello"); });
    s.Get("/big", [](const httplib::Request&, httplib::Response& aRes) {
      aRes.set_content(std::string(256 * 1024, 'x'), "application/octet-stream");
    });
    s.Get("/range", [](const httplib::Request& aReq, httplib::Response& aRes) {
      // cpp-httplib serves the requested range of set_content by itself.
      (void)aReq;
      aRes.set_content("0123456789", "application/octet-stream");
    });
    s.Get("/norange", [](const httplib::Request&, httplib::Response& aRes) {
      // A chunked body with an explicit 200: the server sends it whole whatever the range.
      aRes.status = 200;
      aRes.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& aSink) {
        aSink.write("ABCDEFGHIJ", 10);
        aSink.done();
        return true;
      });
    });
    fServer.Start();
    fClient = CreateHttpClient();
  }

  THttpRequest Request(const std::string& aPath, THttpMethod aMethod = THttpMethod::hmGet) {
    THttpRequest request;
    request.Method = aMethod;
    request.Url = fServer.Url(aPath);
    request.ProxyMode = TProxyMode::pmDirect;
    return request;
  }

  TLoopbackServer fServer;
  std::unique_ptr<IHttpClient> fClient;
};

TEST_F(HttpClientTest, GetReturnsStatusTextHeadersAndBody) {
  THttpResponse response = fClient->Execute(Request("/hello"));
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_EQ(response.StatusText, "OK");
  EXPECT_EQ(response.Body, "hello world");
  EXPECT_EQ(response.Headers.Get("x-test").value_or(""), "yes");
  EXPECT_EQ(response.ContentLength(), 11);
}

TEST_F(HttpClientTest, ErrorStatusIsAnAnswerNotAnException) {
  THttpResponse response = fClient->Execute(Request("/missing"));
  EXPECT_EQ(response.StatusCode, 404);
  EXPECT_EQ(response.StatusText, "Not Found");
  EXPECT_EQ(response.Body, "nope");
}

TEST_F(HttpClientTest, HeadHasLengthButNoBody) {
  THttpResponse response = fClient->Execute(Request("/big", THttpMethod::hmHead));
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_EQ(response.ContentLength(), 256 * 1024);
  EXPECT_TRUE(response.Body.empty());
}

TEST_F(HttpClientTest, RedirectsAreFollowedOnlyWhenAsked) {
  THttpResponse followed = fClient->Execute(Request("/redirect"));
  EXPECT_EQ(followed.StatusCode, 200);
  EXPECT_EQ(followed.Body, "hello world");
  EXPECT_EQ(followed.EffectiveUrl, fServer.Url("/hello"));
  // Headers and status text belong to the last response only.
  EXPECT_EQ(followed.Headers.Get("Location"), std::nullopt);

  THttpRequest request = Request("/redirect");
  request.FollowRedirects = false;
  THttpResponse notFollowed = fClient->Execute(request);
  EXPECT_EQ(notFollowed.StatusCode, 302);
  EXPECT_EQ(notFollowed.Headers.Get("location").value_or(""), "/hello");
}

TEST_F(HttpClientTest, ToFileAndProgress) {
  TTempDir folder("http");
  const std::string file = folder.File("big.bin");
  std::int64_t lastDone = 0;
  std::int64_t lastTotal = 0;
  THttpRequest request = Request("/big");
  request.OnProgress = [&](std::int64_t aDone, std::int64_t aTotal) {
    EXPECT_GE(aDone, lastDone);
    lastDone = aDone;
    lastTotal = aTotal;
    return true;
  };
  THttpResponse response = fClient->ExecuteToFile(request, file);
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_TRUE(response.Body.empty());
  EXPECT_EQ(std::filesystem::file_size(file), 256u * 1024u);
  EXPECT_EQ(lastDone, 256 * 1024);
  EXPECT_EQ(lastTotal, 256 * 1024);
}

TEST_F(HttpClientTest, ResumeAppendsTheRangeOrStartsOverWhenTheServerIgnoresIt) {
  TTempDir folder("http");
  const std::string file = folder.File("range.bin");
  WriteFile(file, "01234");
  THttpRequest request = Request("/range");
  request.ResumeFrom = 5;
  EXPECT_EQ(fClient->ExecuteToFile(request, file).StatusCode, 206);
  EXPECT_EQ(ReadFile(file), "0123456789");

  WriteFile(file, "abcde");
  request = Request("/norange");
  request.ResumeFrom = 5;
  EXPECT_EQ(fClient->ExecuteToFile(request, file).StatusCode, 200);
  EXPECT_EQ(ReadFile(file), "ABCDEFGHIJ");
}

TEST_F(HttpClientTest, TransportFailuresRaiseTheirOwnFamily) {
  THttpRequest request = Request("/big");
  request.OnProgress = [](std::int64_t aDone, std::int64_t) { return aDone == 0; };
  EXPECT_THROW(fClient->Execute(request), EHttpAborted);

  int closedPort = QuorvaneTest::FreeLoopbackPort();
  request = Request("/");
  request.Url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
  EXPECT_THROW(fClient->Execute(request), EHttpConnectError);

  request.Url = "gopher://127.0.0.1/";
  EXPECT_THROW(fClient->Execute(request), EHttpProtocolError);

  EXPECT_THROW(fClient->ExecuteToFile(Request("/hello"), "/nonexistent-folder/x"), EHttpFileError);
}

TEST_F(HttpClientTest, ExplicitProxyWithBasicCredentials) {
  TTinyProxy proxy("walrus", "s3cret");
  if (!proxy.Available()) {
    GTEST_SKIP() << proxy.Reason();
  }
  THttpRequest request = Request("/hello");
  request.ProxyMode = TProxyMode::pmExplicit;
  request.Proxy.Host = "127.0.0.1";
  request.Proxy.Port = proxy.Port();

  THttpResponse refused = fClient->Execute(request);
  EXPECT_EQ(refused.StatusCode, 407) << proxy.Log();

  request.Proxy.UseCredentials = true;
  request.Proxy.Username = "walrus";
  request.Proxy.Password = "wrong";
  int wrong = fClient->Execute(request).StatusCode;
  EXPECT_TRUE(wrong == 407 || wrong == 401) << wrong;  // tinyproxy answers a bad password with 401

  request.Proxy.Password = "s3cret";
  THttpResponse response = fClient->Execute(request);
  EXPECT_EQ(response.StatusCode, 200) << proxy.Log();
  EXPECT_EQ(response.Body, "hello world");
  EXPECT_NE(proxy.Log().find("/hello"), std::string::npos) << "the request did not pass the proxy";
}

}  // namespace
}  // namespace Platform::Http
