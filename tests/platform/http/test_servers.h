#pragma once

// Loopback servers for HTTP tests: a cpp-httplib server on a free port of 127.0.0.1 and
// a real tinyproxy with Basic authentication, each stopped and cleaned up by its
// destructor.

#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"

namespace QuorvaneTest {

// A port that was free a moment ago (bound to 0 and released).
inline int FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  int port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

inline bool CanConnect(int aPort) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(aPort));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

class TLoopbackServer {
 public:
  TLoopbackServer() = default;
  ~TLoopbackServer() { Stop(); }
  httplib::Server& Server() { return fServer; }
  // Call after the routes are set up.
  void Start() {
    fPort = fServer.bind_to_any_port("127.0.0.1");
    fThread = std::thread([this] { fServer.listen_after_bind(); });
  }
  void Stop() {
    if (fThread.joinable()) {
      fServer.stop();
      fThread.join();
    }
  }
  int Port() const { return fPort; }
  std::string Url(const std::string& aPath = "/") const { return "http://127.0.0.1:" + std::to_string(fPort) + aPath; }

 private:
  httplib::Server fServer;
  std::thread fThread;
  int fPort = 0;
};

// tinyproxy in the foreground on a free loopback port, with its own configuration in a
// temporary folder. Available() is false (and Reason() says why) when it cannot run.
class TTinyProxy {
 public:
  TTinyProxy(const std::string& aUser, const std::string& aPassword) {
    const char* candidates[] = {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"};
    std::string program;
    for (const char* candidate : candidates) {
      if (::access(candidate, X_OK) == 0) {
        program = candidate;
        break;
      }
    }
    if (program.empty()) {
      fReason = "tinyproxy is not installed (Debian package tinyproxy)";
      return;
    }
    fFolder.emplace("tinyproxy");
    fPort = FreeLoopbackPort();
    std::string config = fFolder->File("tinyproxy.conf");
    {
      std::ofstream out(config);
      out << "Port " << fPort << "\n"
          << "Listen 127.0.0.1\n"
          << "Timeout 30\n"
          << "MaxClients 20\n"
          << "Allow 127.0.0.1\n"
          << "LogFile \"" << fFolder->File("tinyproxy.log") << "\"\n"
          << "LogLevel Info\n"
          << "PidFile \"" << fFolder->File("tinyproxy.pid") << "\"\n";
      if (!aUser.empty()) {
        out << "BasicAuth " << aUser << " " << aPassword << "\n";
      }
    }
    fPid = ::fork();
    if (fPid == 0) {
      ::execl(program.c_str(), program.c_str(), "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 100 && !CanConnect(fPort); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      int status = 0;
      if (::waitpid(fPid, &status, WNOHANG) == fPid) {
        fPid = -1;
        fReason = "tinyproxy ended at start; log: " + Log();
        return;
      }
    }
    if (!CanConnect(fPort)) {
      fReason = "tinyproxy does not listen on port " + std::to_string(fPort);
    }
  }
  ~TTinyProxy() {
    if (fPid > 0) {
      ::kill(fPid, SIGTERM);
      int status = 0;
      ::waitpid(fPid, &status, 0);
    }
  }
  TTinyProxy(const TTinyProxy&) = delete;
  TTinyProxy& operator=(const TTinyProxy&) = delete;

  bool Available() const { return fReason.empty(); }
  const std::string& Reason() const { return fReason; }
  int Port() const { return fPort; }
  std::string Log() const { return fFolder ? fFolder->Read("tinyproxy.log") : std::string(); }

 private:
  std::optional<TTempDir> fFolder;  // removed after the proxy has ended
  std::string fReason;
  int fPort = 0;
  pid_t fPid = -1;
};

}  // namespace QuorvaneTest
