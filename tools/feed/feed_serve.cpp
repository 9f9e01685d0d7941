// quorvane-feed serve: a static HTTP server on 127.0.0.1 for a feed folder, with faults
// that tests switch on per path.

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/feed/feed_command.h"

namespace Feed {

namespace {

namespace fs = std::filesystem;

const char* const kServeUsage =
    "Usage: quorvane-feed serve DIR --port P [FAULT...]\n\n"
    "Serves the files below DIR over HTTP on 127.0.0.1 (HEAD, GET and single byte ranges)\n"
    "until it receives SIGINT or SIGTERM. --port 0 picks a free port. The first line on\n"
    "standard output is \"listening on http://127.0.0.1:PORT/\"; then one line per request:\n"
    "METHOD PATH STATUS LENGTH [range=...] [fault=...].\n\n"
    "Faults for tests (PATH is the request path, \"*\" matches every path; \"*K\" at the end\n"
    "limits the fault to the first K matching requests; each option may be repeated):\n"
    "  --fault-status PATH=CODE[*K]        answer with status CODE and no file\n"
    "  --fault-drop PATH=BYTES[*K]         close the connection after BYTES body bytes\n"
    "  --fault-stall PATH=MS[@BYTES][*K]   pause MS milliseconds after BYTES body bytes\n"
    "                                      (default 0), then go on\n";

enum class TFaultKind { Status, Drop, Stall };

struct TFault {
  TFaultKind Kind;
  std::string Path;
  long long Value = 0;       // status code, byte count or milliseconds
  long long AfterBytes = 0;  // stall only
  long long Remaining = -1;  // matching requests still affected; -1: all
  std::string Text;          // as given, for the request log
};

TFault ParseFault(TFaultKind aKind, const std::string& aOption, const std::string& aSpec) {
  TFault fault{aKind, {}, 0, 0, -1, aSpec};
  const auto equals = aSpec.rfind('=');
  if (equals == std::string::npos || equals == 0)
    throw EUsageError(aOption + " needs PATH=VALUE: " + aSpec);
  fault.Path = aSpec.substr(0, equals);
  std::string value = aSpec.substr(equals + 1);
  if (const auto star = value.find('*'); star != std::string::npos) {
    fault.Remaining = ParseNumber(value.substr(star + 1), 1, 1000000, aOption + " count");
    value.resize(star);
  }
  if (aKind == TFaultKind::Stall) {
    if (const auto at = value.find('@'); at != std::string::npos) {
      fault.AfterBytes = ParseNumber(value.substr(at + 1), 0, 1LL << 40, aOption + " byte offset");
      value.resize(at);
    }
    fault.Value = ParseNumber(value, 0, 3600000, aOption + " milliseconds");
  } else if (aKind == TFaultKind::Status) {
    fault.Value = ParseNumber(value, 100, 599, aOption + " status code");
  } else {
    fault.Value = ParseNumber(value, 0, 1LL << 40, aOption + " byte count");
  }
  return fault;
}

// The faults of one request, taken from the configured list under its lock.
struct TRequestFaults {
  std::optional<long long> Status;
  std::optional<long long> DropAfter;
  std::optional<std::pair<long long, long long>> Stall;  // after bytes, milliseconds
  std::string Text;
};

class TFaultTable {
 public:
  explicit TFaultTable(std::vector<TFault> aFaults) : fFaults(std::move(aFaults)) {}

  // Body faults (drop, stall) are not taken by HEAD requests, which have no body.
  TRequestFaults Take(const std::string& aPath, bool aHead) {
    const std::lock_guard guard(fLock);
    TRequestFaults result;
    for (TFault& fault : fFaults) {
      if ((fault.Path != "*" && fault.Path != aPath) || fault.Remaining == 0)
        continue;
      if (aHead && fault.Kind != TFaultKind::Status)
        continue;
      if (fault.Remaining > 0)
        --fault.Remaining;
      switch (fault.Kind) {
        case TFaultKind::Status:
          result.Status = fault.Value;
          break;
        case TFaultKind::Drop:
          result.DropAfter = fault.Value;
          break;
        case TFaultKind::Stall:
          result.Stall = std::pair{fault.AfterBytes, fault.Value};
          break;
      }
      result.Text += (result.Text.empty() ? "" : ",") +
                     std::string(fault.Kind == TFaultKind::Status ? "status:"
                                 : fault.Kind == TFaultKind::Drop ? "drop:"
                                                                  : "stall:") +
                     fault.Text;
    }
    return result;
  }

 private:
  std::mutex fLock;
  std::vector<TFault> fFaults;
};

std::string ContentType(const fs::path& aPath) {
  const std::string extension = aPath.extension().string();
  if (extension == ".json")
    return "application/json";
  if (extension == ".xml")
    return "application/xml";
  if (extension == ".txt" || extension == ".log")
    return "text/plain";
  return "application/octet-stream";
}

// The file below aRoot that a request path names, or nothing. Paths with "..", NUL or
// links that lead outside the root are not served.
std::optional<fs::path> ResolveFile(const fs::path& aRoot, const std::string& aRequestPath) {
  if (aRequestPath.empty() || aRequestPath[0] != '/' || aRequestPath.find('\0') != std::string::npos)
    return std::nullopt;
  const fs::path relative = fs::path(aRequestPath.substr(1)).lexically_normal();
  for (const auto& part : relative)
    if (part == "..")
      return std::nullopt;
  std::error_code error;
  const fs::path file = fs::canonical(aRoot / relative, error);
  if (error || !fs::is_regular_file(file, error))
    return std::nullopt;
  const auto [rootEnd, fileIt] = std::mismatch(aRoot.begin(), aRoot.end(), file.begin(), file.end());
  if (rootEnd != aRoot.end())
    return std::nullopt;
  return file;
}

class TRequestLog {
 public:
  void Write(const std::string& aLine) {
    const std::lock_guard guard(fLock);
    std::cout << aLine << std::endl;
  }

 private:
  std::mutex fLock;
};

int RunServe(const std::vector<std::string>& aArgs) {
  const TArgs args = ParseArgs(aArgs, {"--port", "--fault-status", "--fault-drop", "--fault-stall"}, {}, 1, 1);
  if (!args.Has("--port"))
    throw EUsageError("--port is required");
  const int port = static_cast<int>(ParseNumber(args.Value("--port"), 0, 65535, "--port"));
  std::error_code error;
  const fs::path root = fs::canonical(args.Positional[0], error);
  if (error || !fs::is_directory(root)) {
    std::cerr << "quorvane-feed serve: " << args.Positional[0] << ": not a folder\n";
    return ExitFailed;
  }
  std::vector<TFault> faults;
  for (const auto& [option, kind] :
       {std::pair{"--fault-status", TFaultKind::Status}, std::pair{"--fault-drop", TFaultKind::Drop},
        std::pair{"--fault-stall", TFaultKind::Stall}})
    for (const std::string& spec : args.Values(option))
      faults.push_back(ParseFault(kind, option, spec));
  TFaultTable faultTable(std::move(faults));
  TRequestLog requestLog;

  httplib::Server server;
  // GET handlers answer HEAD as well (headers only).
  auto handle = [&](const httplib::Request& aRequest, httplib::Response& aResponse) {
    const TRequestFaults requestFaults = faultTable.Take(aRequest.path, aRequest.method == "HEAD");
    if (!requestFaults.Text.empty())
      aResponse.set_header("X-Quorvane-Fault", requestFaults.Text);
    if (requestFaults.Status) {
      aResponse.status = static_cast<int>(*requestFaults.Status);
      aResponse.set_content("fault: status " + std::to_string(*requestFaults.Status) + "\n", "text/plain");
      return;
    }
    const auto file = ResolveFile(root, aRequest.path);
    if (!file) {
      aResponse.status = 404;
      aResponse.set_content("not found\n", "text/plain");
      return;
    }
    std::error_code sizeError;
    const auto size = fs::file_size(*file, sizeError);
    auto stream = std::make_shared<std::ifstream>(*file, std::ios::binary);
    if (sizeError || !*stream) {
      aResponse.status = 500;
      aResponse.set_content("cannot read the file\n", "text/plain");
      return;
    }
    // Byte ranges are answered here because the library does not limit a range to the
    // end of the file. One range gives 206; several ranges get the whole file, which a
    // server may always send. The request belongs to the server and is not const; its
    // ranges are cleared so that the library sends the body as given.
    auto& request = const_cast<httplib::Request&>(aRequest);
    std::uintmax_t begin = 0;
    std::uintmax_t length = size;
    if (request.ranges.size() == 1) {
      const auto [first, last] = request.ranges.front();
      bool satisfiable = true;
      if (first < 0) {
        satisfiable = last > 0 && size > 0;
        begin = satisfiable ? size - std::min<std::uintmax_t>(static_cast<std::uintmax_t>(last), size) : 0;
        length = size - begin;
      } else if (static_cast<std::uintmax_t>(first) >= size) {
        satisfiable = false;
      } else {
        const std::uintmax_t end =
            last < 0 || static_cast<std::uintmax_t>(last) >= size ? size - 1 : static_cast<std::uintmax_t>(last);
        if (end >= static_cast<std::uintmax_t>(first)) {
          begin = static_cast<std::uintmax_t>(first);
          length = end - begin + 1;
        }
      }
      if (!satisfiable) {
        request.ranges.clear();
        aResponse.status = 416;
        aResponse.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
      }
      if (length != size || begin != 0 || first >= 0 || last >= 0) {
        aResponse.status = 206;
        aResponse.set_header("Content-Range", "bytes " + std::to_string(begin) + "-" +
                                                  std::to_string(begin + length - 1) + "/" + std::to_string(size));
      }
    }
    request.ranges.clear();
    auto sent = std::make_shared<long long>(0);
    auto stalled = std::make_shared<bool>(false);
    aResponse.set_content_provider(
        static_cast<std::size_t>(length), ContentType(*file),
        [stream, sent, stalled, requestFaults, begin](std::size_t aOffset, std::size_t aLength,
                                                      httplib::DataSink& aSink) {
          std::size_t chunk = std::min<std::size_t>(aLength, 65536);
          if (requestFaults.Stall && !*stalled) {
            const long long untilStall = requestFaults.Stall->first - *sent;
            if (untilStall <= 0) {
              *stalled = true;
              std::this_thread::sleep_for(std::chrono::milliseconds(requestFaults.Stall->second));
            } else {
              chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(untilStall));
            }
          }
          if (requestFaults.DropAfter) {
            const long long allowed = *requestFaults.DropAfter - *sent;
            if (allowed <= 0)
              return false;  // httplib closes the connection
            chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(allowed));
          }
          std::vector<char> buffer(chunk);
          stream->clear();
          stream->seekg(static_cast<std::streamoff>(begin + aOffset));
          stream->read(buffer.data(), static_cast<std::streamsize>(chunk));
          const auto got = static_cast<std::size_t>(stream->gcount());
          if (got == 0)
            return false;
          *sent += static_cast<long long>(got);
          return aSink.write(buffer.data(), got);
        });
  };
  // The line is written before the response goes out, so that a client's next request
  // is always logged after this one. Requests the library answers without the handler
  // (bad requests, other methods) are logged by the logger, on the same thread.
  static thread_local bool tLogged = false;
  auto logLine = [&](const httplib::Request& aRequest, const httplib::Response& aResponse) {
    const std::size_t length = aResponse.content_provider_ ? aResponse.content_length_ : aResponse.body.size();
    std::string line = aRequest.method + " " + aRequest.path + " " +
                       std::to_string(aResponse.status < 0 ? 200 : aResponse.status) + " " + std::to_string(length);
    if (aRequest.has_header("Range"))
      line += " range=" + aRequest.get_header_value("Range");
    if (aResponse.has_header("X-Quorvane-Fault"))
      line += " fault=" + aResponse.get_header_value("X-Quorvane-Fault");
    requestLog.Write(line);
  };
  server.Get(R"(/.*)", [&](const httplib::Request& aRequest, httplib::Response& aResponse) {
    handle(aRequest, aResponse);
    logLine(aRequest, aResponse);
    tLogged = true;
  });
  server.set_logger([&](const httplib::Request& aRequest, const httplib::Response& aResponse) {
    if (!tLogged)
      logLine(aRequest, aResponse);
    tLogged = false;
  });

  // SIGINT and SIGTERM stop the server from a thread of their own (stop() is not safe in
  // a signal handler). The mask is set before any server thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  const int bound =
      port == 0 ? server.bind_to_any_port("127.0.0.1") : (server.bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound < 0) {
    std::cerr << "quorvane-feed serve: cannot listen on 127.0.0.1:" << port << "\n";
    return ExitFailed;
  }
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    server.stop();
  });
  requestLog.Write("listening on http://127.0.0.1:" + std::to_string(bound) + "/");
  const bool ok = server.listen_after_bind();
  // When the server ended by itself, wake the stopper.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return ok ? ExitOk : ExitFailed;
}

const TRegisterCommand kServe{
    {"serve", "serve a feed folder over HTTP on 127.0.0.1 (for tests)", kServeUsage, &RunServe}};

}  // namespace

}  // namespace Feed
