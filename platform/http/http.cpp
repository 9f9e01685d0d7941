#include "platform/http/http.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

#include "platform/text/text.h"

namespace Platform::Http {

namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Trim(std::string_view aText) {
  std::size_t first = aText.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return std::string();
  }
  std::size_t last = aText.find_last_not_of(" \t\r\n");
  return std::string(aText.substr(first, last - first + 1));
}

struct TTransfer {
  THttpResponse* Response = nullptr;
  const THttpRequest* Request = nullptr;
  std::FILE* File = nullptr;
  bool FileFailed = false;
  bool Aborted = false;
};

std::size_t OnHeader(char* aData, std::size_t aSize, std::size_t aCount, void* aUser) {
  auto* transfer = static_cast<TTransfer*>(aUser);
  std::size_t total = aSize * aCount;
  std::string_view line(aData, total);
  if (line.starts_with("HTTP/")) {
    // A new response begins (after a redirect, a 100-continue or a proxy's CONNECT):
    // only the last one counts.
    transfer->Response->Headers.Clear();
    std::size_t space = line.find(' ');
    std::size_t second = space == std::string_view::npos ? space : line.find(' ', space + 1);
    transfer->Response->StatusText = second == std::string_view::npos ? std::string() : Trim(line.substr(second + 1));
    return total;
  }
  std::size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    transfer->Response->Headers.Add(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return total;
}

std::size_t OnBody(char* aData, std::size_t aSize, std::size_t aCount, void* aUser) {
  auto* transfer = static_cast<TTransfer*>(aUser);
  std::size_t total = aSize * aCount;
  if (!transfer->File) {
    transfer->Response->Body.append(aData, total);
    return total;
  }
  if (std::fwrite(aData, 1, total, transfer->File) != total) {
    transfer->FileFailed = true;
    return 0;
  }
  return total;
}

int OnProgress(void* aUser, curl_off_t aDownTotal, curl_off_t aDownNow, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<TTransfer*>(aUser);
  if (transfer->Request->OnProgress &&
      !transfer->Request->OnProgress(static_cast<std::int64_t>(aDownNow), static_cast<std::int64_t>(aDownTotal))) {
    transfer->Aborted = true;
    return 1;
  }
  return 0;
}

[[noreturn]] void RaiseTransportError(CURLcode aCode, const char* aDetail, const std::string& aUrl) {
  std::string message = std::string(curl_easy_strerror(aCode));
  if (aDetail && *aDetail) {
    message += ": " + Trim(aDetail);
  }
  message += " (" + aUrl + ")";
  int code = static_cast<int>(aCode);
  switch (aCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      throw EHttpResolveError(message, code);
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SSL_CONNECT_ERROR:
      throw EHttpConnectError(message, code);
    case CURLE_OPERATION_TIMEDOUT:
      throw EHttpTimeoutError(message, code);
    case CURLE_ABORTED_BY_CALLBACK:
      throw EHttpAborted(message, code);
    case CURLE_WRITE_ERROR:
      throw EHttpFileError(message, code);
    default:
      throw EHttpProtocolError(message, code);
  }
}

struct TCurlDeleter {
  void operator()(CURL* aCurl) const { curl_easy_cleanup(aCurl); }
};
struct TSlistDeleter {
  void operator()(curl_slist* aList) const { curl_slist_free_all(aList); }
};

class TCurlHttpClient final : public IHttpClient {
 public:
  TCurlHttpClient() { InitCurlOnce(); }

  THttpResponse Execute(const THttpRequest& aRequest) override { return Run(aRequest, nullptr); }

  THttpResponse ExecuteToFile(const THttpRequest& aRequest, const std::string& aFile) override {
    return Run(aRequest, &aFile);
  }

 private:
  THttpResponse Run(const THttpRequest& aRequest, const std::string* aFile) {
    std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
    if (!curl) {
      throw EHttpError("Cannot create an HTTP transfer");
    }
    THttpResponse response;
    TTransfer transfer;
    transfer.Response = &response;
    transfer.Request = &aRequest;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    CURL* h = curl.get();

    curl_easy_setopt(h, CURLOPT_URL, aRequest.Url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, aRequest.FollowRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(aRequest.MaxRedirects));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, aRequest.ConnectTimeoutMs);
    if (aRequest.StallTimeoutSeconds > 0) {
      curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
      curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, aRequest.StallTimeoutSeconds);
    }
    if (aRequest.Method == THttpMethod::hmHead) {
      curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    }
    // The range is sent as a plain header rather than through libcurl's resume option,
    // which fails the transfer when the server answers with the whole body; we take
    // that body instead.
    std::vector<std::pair<std::string, std::string>> extraHeaders = aRequest.Headers;
    if (aRequest.ResumeFrom > 0) {
      extraHeaders.emplace_back("Range", "bytes=" + std::to_string(aRequest.ResumeFrom) + "-");
    }
    switch (aRequest.ProxyMode) {
      case TProxyMode::pmDefault:
        break;
      case TProxyMode::pmDirect:
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        break;
      case TProxyMode::pmExplicit: {
        curl_easy_setopt(h, CURLOPT_PROXY, aRequest.Proxy.Host.c_str());
        if (aRequest.Proxy.Port > 0) {
          curl_easy_setopt(h, CURLOPT_PROXYPORT, static_cast<long>(aRequest.Proxy.Port));
        }
        if (aRequest.Proxy.UseCredentials) {
          curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, aRequest.Proxy.Username.c_str());
          curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, aRequest.Proxy.Password.c_str());
          curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        }
        break;
      }
    }
    std::unique_ptr<curl_slist, TSlistDeleter> headers;
    for (const auto& [name, value] : extraHeaders) {
      std::string line = name + ": " + value;
      curl_slist* list = curl_slist_append(headers.get(), line.c_str());
      if (!list) {
        throw EHttpError("Out of memory for request headers");
      }
      (void)headers.release();
      headers.reset(list);
    }
    if (headers) {
      curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    }
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    struct TFileCloser {
      void operator()(std::FILE* aFile) const { std::fclose(aFile); }
    };
    std::unique_ptr<std::FILE, TFileCloser> file;
    if (aFile) {
      file.reset(std::fopen(aFile->c_str(), aRequest.ResumeFrom > 0 ? "ab" : "wb"));
      if (!file) {
        throw EHttpFileError("Cannot open " + *aFile + " for writing");
      }
      transfer.File = file.get();
    }

    CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK) {
      if (transfer.FileFailed) {
        throw EHttpFileError("Cannot write " + *aFile, static_cast<int>(code));
      }
      if (transfer.Aborted) {
        throw EHttpAborted("Transfer aborted (" + aRequest.Url + ")", static_cast<int>(code));
      }
      RaiseTransportError(code, errorBuffer, aRequest.Url);
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.StatusCode = static_cast<int>(status);
    char* effective = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
      response.EffectiveUrl = effective;
    }
    if (file) {
      if (aRequest.ResumeFrom > 0 && response.StatusCode == 200) {
        // The server ignored the range: the file now holds the old part followed by the
        // whole body. Keep only the whole body.
        file.reset();
        RewriteTail(*aFile, aRequest.ResumeFrom);
      } else if (std::fflush(file.get()) != 0) {
        throw EHttpFileError("Cannot write " + *aFile);
      }
    }
    return response;
  }

  static void RewriteTail(const std::string& aFile, std::int64_t aSkip) {
    std::ifstream in(aFile, std::ios::binary);
    in.seekg(aSkip);
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::ofstream out(aFile, std::ios::binary | std::ios::trunc);
    out.write(rest.data(), static_cast<std::streamsize>(rest.size()));
    if (!out) {
      throw EHttpFileError("Cannot write " + aFile);
    }
  }
};

}  // namespace

void THttpHeaders::Add(std::string aName, std::string aValue) {
  fItems.emplace_back(std::move(aName), std::move(aValue));
}

std::optional<std::string> THttpHeaders::Get(std::string_view aName) const {
  for (const auto& [name, value] : fItems) {
    if (Text::SameAsciiNoCase(name, aName)) {
      return value;
    }
  }
  return std::nullopt;
}

std::int64_t THttpResponse::ContentLength() const {
  std::optional<std::string> value = Headers.Get("Content-Length");
  if (!value || value->empty()) {
    return -1;
  }
  std::int64_t result = 0;
  for (char c : *value) {
    if (c < '0' || c > '9' || result > (INT64_MAX - 9) / 10) {
      return -1;
    }
    result = result * 10 + (c - '0');
  }
  return result;
}

std::unique_ptr<IHttpClient> CreateHttpClient() {
  return std::make_unique<TCurlHttpClient>();
}

THttpResponse TFakeHttpClient::Execute(const THttpRequest& aRequest) {
  {
    std::lock_guard guard(fLock);
    fRequests.push_back(aRequest);
  }
  return fHandler(aRequest);
}

THttpResponse TFakeHttpClient::ExecuteToFile(const THttpRequest& aRequest, const std::string& aFile) {
  THttpResponse response = Execute(aRequest);
  std::ofstream out(aFile, std::ios::binary | std::ios::trunc);
  out.write(response.Body.data(), static_cast<std::streamsize>(response.Body.size()));
  if (!out) {
    throw EHttpFileError("Cannot write " + aFile);
  }
  response.Body.clear();
  return response;
}

std::vector<THttpRequest> TFakeHttpClient::Requests() const {
  std::lock_guard guard(fLock);
  return fRequests;
}

}  // namespace Platform::Http
