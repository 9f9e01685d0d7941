#pragma once

// The HTTP client of both update programs: HEAD and GET over plain HTTP (and HTTPS where
// libcurl offers it), to memory or to a file, redirects followed, an explicit proxy with
// optional Basic credentials, a progress callback, the status code and text and the
// response headers.
//
// Errors: a transfer that gets an HTTP answer never raises, whatever its status code;
// the caller looks at StatusCode. Failures below HTTP raise a member of the EHttpError
// family (connection, name resolution, time-out, protocol, aborted by the progress
// callback, local file). Nothing else is thrown for transport problems, so callers can
// catch EHttpError to mean "the server could not be reached or spoke nonsense".
//
// Threads: an IHttpClient may be used from several threads at once; each call is
// independent (a fresh transfer). The progress callback runs on the calling thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Platform::Http {

enum class THttpMethod { hmGet, hmHead };

enum class TProxyMode {
  pmDefault,   // the environment's proxy settings (http_proxy, no_proxy, ...)
  pmDirect,    // no proxy, whatever the environment says
  pmExplicit,  // THttpRequest::Proxy
};

struct THttpProxy {
  std::string Host;  // host name or address, may carry "http://"
  int Port = 0;      // 0 or less: libcurl's default proxy port (1080)
  bool UseCredentials = false;
  std::string Username;
  std::string Password;
};

// Response headers in the order received, names compared without ASCII case.
class THttpHeaders {
 public:
  void Add(std::string aName, std::string aValue);
  void Clear() { fItems.clear(); }
  // The first header of that name.
  std::optional<std::string> Get(std::string_view aName) const;
  const std::vector<std::pair<std::string, std::string>>& Items() const { return fItems; }

 private:
  std::vector<std::pair<std::string, std::string>> fItems;
};

// Progress: bytes received so far and the total (0 when unknown). Return false to abort
// the transfer, which then raises EHttpAborted.
using THttpProgress = std::function<bool(std::int64_t aDone, std::int64_t aTotal)>;

struct THttpRequest {
  THttpMethod Method = THttpMethod::hmGet;
  std::string Url;
  TProxyMode ProxyMode = TProxyMode::pmDefault;
  THttpProxy Proxy;  // used with pmExplicit
  bool FollowRedirects = true;
  int MaxRedirects = 10;
  std::vector<std::pair<std::string, std::string>> Headers;  // extra request headers
  // Start the body at this byte (a Range request); the server may ignore it (status
  // 200 instead of 206).
  std::int64_t ResumeFrom = 0;
  long ConnectTimeoutMs = 30000;
  // Abort when less than one byte per second arrives for this long; 0 = never.
  long StallTimeoutSeconds = 60;
  THttpProgress OnProgress;
};

struct THttpResponse {
  int StatusCode = 0;      // of the last response (after redirects)
  std::string StatusText;  // reason phrase of that response ("OK", "Not Found")
  THttpHeaders Headers;    // of that response
  std::string Body;        // empty for HEAD and for transfers to a file
  std::string EffectiveUrl;
  // Content-Length of the response, -1 when absent or not a number.
  std::int64_t ContentLength() const;
};

class EHttpError : public std::runtime_error {
 public:
  EHttpError(const std::string& aMessage, int aCode = 0) : std::runtime_error(aMessage), fCode(aCode) {}
  // The transport library's error code (0 when none).
  int Code() const { return fCode; }

 private:
  int fCode;
};
class EHttpConnectError : public EHttpError {
 public:
  using EHttpError::EHttpError;
};
class EHttpResolveError : public EHttpError {
 public:
  using EHttpError::EHttpError;
};
class EHttpTimeoutError : public EHttpError {
 public:
  using EHttpError::EHttpError;
};
class EHttpProtocolError : public EHttpError {
 public:
  using EHttpError::EHttpError;
};
class EHttpAborted : public EHttpError {
 public:
  using EHttpError::EHttpError;
};
class EHttpFileError : public EHttpError {
 public:
  using EHttpError::EHttpError;
};

class IHttpClient {
 public:
  virtual ~IHttpClient() = default;
  // The body goes to THttpResponse::Body.
  virtual THttpResponse Execute(const THttpRequest& aRequest) = 0;
  // The body goes to aFile (created or truncated; appended to when
  // aRequest.ResumeFrom > 0 and the server answers 206). The file holds whatever body
  // the server sent, also for error statuses: the caller checks StatusCode.
  virtual THttpResponse ExecuteToFile(const THttpRequest& aRequest, const std::string& aFile) = 0;
};

// The libcurl client.
std::unique_ptr<IHttpClient> CreateHttpClient();

// A fake for tests: every request is recorded and answered by the handler, which may
// throw an EHttpError to simulate transport failures. ExecuteToFile writes the Body of
// the handler's answer to the file and clears it in the returned response.
class TFakeHttpClient final : public IHttpClient {
 public:
  using THandler = std::function<THttpResponse(const THttpRequest&)>;
  explicit TFakeHttpClient(THandler aHandler) : fHandler(std::move(aHandler)) {}
  THttpResponse Execute(const THttpRequest& aRequest) override;
  THttpResponse ExecuteToFile(const THttpRequest& aRequest, const std::string& aFile) override;
  std::vector<THttpRequest> Requests() const;

 private:
  THandler fHandler;
  mutable std::mutex fLock;
  std::vector<THttpRequest> fRequests;
};

}  // namespace Platform::Http
