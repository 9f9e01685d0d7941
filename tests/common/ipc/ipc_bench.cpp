// One message between two IPC nodes (send through a new client endpoint, the receiver's
// reader thread, GetMessages), next to a raw sendto/recv pair on the same socket type.

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/ipc.h"
#include "tests/support/temp_dir.h"

namespace {

using Update::Common::TBytes;
using Update::Common::TIPCMessage;
using Update::Common::TUpdateIPCMessageType;
using Update::Common::TUpdateIPCNode;

const std::string kService = "quorvane\\UpdateService\\Main";
const std::string kClient = "quorvane\\UpdateClient\\Main";

// Each benchmark runs in a fresh QUORVANE_ROOT.
using QuorvaneTest::TTempRoot;

void TakeOne(TUpdateIPCNode& aNode, std::vector<TIPCMessage>& aList) {
  aList.clear();
  while (!aNode.GetMessages(aList)) {
    std::this_thread::yield();
  }
}

// client -> service, taken by the service's owner.
void BM_NodeOneWay(benchmark::State& aState) {
  TTempRoot root("ipcbench");
  TUpdateIPCNode service(kService, true);
  TUpdateIPCNode client(kClient, false);
  client.SetDefaultRecipient(kService);
  std::vector<TIPCMessage> list;
  for (auto _ : aState) {
    if (!client.Send(TUpdateIPCMessageType::Query_Progress)) {
      aState.SkipWithError("send failed");
      break;
    }
    TakeOne(service, list);
  }
}
BENCHMARK(BM_NodeOneWay)->UseRealTime();

// client -> service -> client: the service's owner answers every message.
void BM_NodeRoundTrip(benchmark::State& aState) {
  TTempRoot root("ipcbench");
  TUpdateIPCNode service(kService, true);
  service.SetDefaultRecipient(kClient);
  TUpdateIPCNode client(kClient, false);
  client.SetDefaultRecipient(kService);
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    std::vector<TIPCMessage> list;
    while (!stop) {
      list.clear();
      if (service.GetMessages(list)) {
        for (std::size_t i = 0; i < list.size(); ++i) {
          service.Send(TUpdateIPCMessageType::Progress);
        }
      } else {
        std::this_thread::yield();
      }
    }
  });
  std::vector<TIPCMessage> list;
  for (auto _ : aState) {
    client.Send(TUpdateIPCMessageType::Query_Progress);
    TakeOne(client, list);
  }
  stop = true;
  echo.join();
}
BENCHMARK(BM_NodeRoundTrip)->UseRealTime();

// Raw AF_UNIX/SOCK_DGRAM sockets, bound once.
class TRawPair {
 public:
  explicit TRawPair(const std::string& aFolder)
      : fA(Bind(aFolder + "/a", fAddressA)), fB(Bind(aFolder + "/b", fAddressB)) {}
  ~TRawPair() {
    ::close(fA);
    ::close(fB);
  }
  // The addresses come first: the sockets' initialisers fill them.
  sockaddr_un fAddressA{}, fAddressB{};
  int fA, fB;

 private:
  static int Bind(const std::string& aPath, sockaddr_un& aAddress) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    aAddress.sun_family = AF_UNIX;
    std::strncpy(aAddress.sun_path, aPath.c_str(), sizeof aAddress.sun_path - 1);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&aAddress), sizeof aAddress) != 0) {
      throw std::runtime_error("bind failed: " + aPath);
    }
    return fd;
  }
};

// The same message bytes, one sendto and one recv.
void BM_RawOneWay(benchmark::State& aState) {
  TTempRoot root("ipcbench");
  TRawPair pair(root.Path().string());
  TIPCMessage message;
  message.Sender = kClient;
  message.Recipient = kService;
  message.MessageType = static_cast<std::int32_t>(TUpdateIPCMessageType::Query_Progress);
  const TBytes bytes = message.ToBuffer();
  char buffer[4096];
  for (auto _ : aState) {
    ::sendto(pair.fA, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&pair.fAddressB),
             sizeof pair.fAddressB);
    benchmark::DoNotOptimize(::recv(pair.fB, buffer, sizeof buffer, 0));
  }
}
BENCHMARK(BM_RawOneWay)->UseRealTime();

// sendto / recv across two threads and back, like BM_NodeRoundTrip without the nodes.
void BM_RawRoundTrip(benchmark::State& aState) {
  TTempRoot root("ipcbench");
  TRawPair pair(root.Path().string());
  TIPCMessage message;
  message.Sender = kClient;
  message.Recipient = kService;
  const TBytes bytes = message.ToBuffer();
  std::thread echo([&] {
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::recv(pair.fB, buffer, sizeof buffer, 0);
      if (got <= 0) {
        return;
      }
      ::sendto(pair.fB, buffer, static_cast<std::size_t>(got), 0, reinterpret_cast<sockaddr*>(&pair.fAddressA),
               sizeof pair.fAddressA);
    }
  });
  char buffer[4096];
  for (auto _ : aState) {
    ::sendto(pair.fA, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&pair.fAddressB),
             sizeof pair.fAddressB);
    benchmark::DoNotOptimize(::recv(pair.fA, buffer, sizeof buffer, 0));
  }
  // A zero-length datagram ends the echo thread.
  ::sendto(pair.fA, buffer, 0, 0, reinterpret_cast<sockaddr*>(&pair.fAddressB), sizeof pair.fAddressB);
  echo.join();
}
BENCHMARK(BM_RawRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
