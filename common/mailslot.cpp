#include "common/mailslot.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>

namespace Update::Common {

using Platform::Ipc::TSocketError;

namespace {

std::string Trimmed(const std::string& aText) {
  const auto first = aText.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = aText.find_last_not_of(" \t\r\n");
  return aText.substr(first, last - first + 1);
}

}  // namespace

// --- TMailslotBase ------------------------------------------------------------------

TMailslotBase::TMailslotBase(std::string aName) : fName(std::move(aName)) {}

std::string TMailslotBase::FullName() const {
  std::string path;
  TSocketError error;
  return Platform::Ipc::MailslotSocketPath(fName, path, error) ? path : std::string();
}

bool TMailslotBase::ResolvePath(std::string& aPath, TSocketError& aError) const {
  return Platform::Ipc::MailslotSocketPath(fName, aPath, aError);
}

void TMailslotBase::HandleLastErrorEx(const char* aMethod, const char* aFunction, const TSocketError& aError) {
  std::string prefix = Trimmed(aError.Detail);
  if (!prefix.empty()) {
    prefix += "\r\n";
  }
  fLastError = aError.Code;
  fLastErrorMessage = Platform::Ipc::ErrorText(aError.Code);
  fLastErrorMessageFull = prefix + ClassName() + "." + aMethod + "(): " + aFunction + " (" +
                          std::to_string(aError.Code) + ", " + fLastErrorMessage + ")";
  if (fRaiseExceptions) {
    throw EMailslotError(fLastErrorMessageFull);
  }
}

// --- TMailslotServer ----------------------------------------------------------------

TMailslotServer::TMailslotServer(std::string aName, std::uint32_t aMaxMessageSize)
    : TMailslotBase(std::move(aName)), fMaxMessageSize(aMaxMessageSize) {}

TMailslotServer::~TMailslotServer() = default;

bool TMailslotServer::Start() {
  fReady = false;
  fSocket.reset();
  std::string path;
  TSocketError error;
  if (ResolvePath(path, error)) {
    fSocket = Platform::Ipc::TDatagramServerSocket::Bind(path, !fUseDefaultSecurityAttributes, error);
  }
  if (!fSocket) {
    HandleLastErrorEx("StartServer", "CreateMailslot", error);
    return false;
  }
  fReady = true;
  return true;
}

bool TMailslotServer::GetMessages(std::vector<TBytes>& aList) {
  if (!fReady) {
    return false;
  }
  for (;;) {
    std::ptrdiff_t nextSize = -1;
    TSocketError error;
    if (!fSocket->NextSize(nextSize, error)) {
      HandleLastErrorEx("Read", "GetMailslotInfo", error);
      return false;
    }
    if (nextSize < 0) {
      return true;
    }
    TBytes message;
    if (!fSocket->Receive(message, error)) {
      HandleLastErrorEx("Read", "ReadFile", error);
      return false;
    }
    if (fMaxMessageSize == 0 || message.size() <= fMaxMessageSize) {
      aList.push_back(std::move(message));
    }
  }
}

// --- TMailslotServerNonBlocking ------------------------------------------------------

class TMailslotServerNonBlocking::TServerThread {
 public:
  TServerThread(const Platform::Ipc::TDatagramServerSocket* aServerHandle, std::uint32_t aMaxMessageSize,
                int aSleepIntervall)
      : fServerHandle(aServerHandle), fMaxMessageSize(aMaxMessageSize), fSleepIntervall(aSleepIntervall) {
    fThread = std::thread([this] { Execute(); });
  }

  ~TServerThread() {
    fTerminated = true;
    fWake.Signal();
    fThread.join();
  }

  void SetSleepIntervall(int aMilliseconds) {
    fSleepIntervall = aMilliseconds;
    fWake.Signal();
  }

  bool Take(std::vector<TBytes>& aList) {
    std::size_t count;
    {
      std::shared_lock read(fLock);
      count = fList.size();
    }
    if (count == 0) {
      return false;
    }
    std::unique_lock write(fLock);
    for (auto& message : fList) {
      aList.push_back(std::move(message));
    }
    fList.clear();
    fQueuedBytes = 0;
    return true;
  }

  std::uint64_t Dropped() const { return fDropped; }
  std::uint64_t IdleWaits() const { return fIdleWaits; }

 private:
  void Execute() {
    TBytes message;
    while (!fTerminated) {
      bool pauseWithoutSocket = fServerHandle == nullptr;
      if (fServerHandle != nullptr) {
        std::ptrdiff_t nextSize = -1;
        TSocketError error;
        if (fServerHandle->NextSize(nextSize, error) && nextSize >= 0) {
          if (fServerHandle->Receive(message, error)) {
            Queue(std::move(message));
            continue;
          }
          // A failing read must not turn into a busy loop on a still-readable socket.
          pauseWithoutSocket = true;
        } else if (error.Code != 0) {
          pauseWithoutSocket = true;
        }
      }
      const auto result =
          Platform::Ipc::WaitForDatagram(pauseWithoutSocket ? -1 : fServerHandle->Fd(), fSleepIntervall, fWake);
      if (result == Platform::Ipc::TWaitResult::Woken) {
        fWake.Clear();
      } else if (result == Platform::Ipc::TWaitResult::Timeout) {
        ++fIdleWaits;
      }
    }
  }

  void Queue(TBytes&& aMessage) {
    if (fMaxMessageSize != 0 && aMessage.size() > fMaxMessageSize) {
      ++fDropped;
      return;
    }
    std::unique_lock write(fLock);
    if (fQueuedBytes + aMessage.size() > kMaxQueuedBytes) {
      ++fDropped;
      return;
    }
    fQueuedBytes += aMessage.size();
    fList.push_back(std::move(aMessage));
  }

  const Platform::Ipc::TDatagramServerSocket* const fServerHandle;
  const std::uint32_t fMaxMessageSize;
  std::atomic<int> fSleepIntervall;
  std::atomic<bool> fTerminated{false};
  std::atomic<std::uint64_t> fDropped{0};
  std::atomic<std::uint64_t> fIdleWaits{0};
  Platform::Ipc::TWakeEvent fWake;
  std::shared_mutex fLock;  // guards fList and fQueuedBytes
  std::deque<TBytes> fList;
  std::size_t fQueuedBytes = 0;
  std::thread fThread;  // last: started once everything above is built
};

TMailslotServerNonBlocking::TMailslotServerNonBlocking(std::string aName, std::uint32_t aMaxMessageSize)
    : TMailslotServer(std::move(aName), aMaxMessageSize) {}

TMailslotServerNonBlocking::~TMailslotServerNonBlocking() {
  // The reader uses the socket: stop it before the base class closes the socket.
  fThread.reset();
}

bool TMailslotServerNonBlocking::Start() {
  fThread.reset();
  const bool started = TMailslotServer::Start();
  fThread = std::make_unique<TServerThread>(fSocket.get(), MaxMessageSize(), fSleepIntervall);
  return started;
}

bool TMailslotServerNonBlocking::GetMessages(std::vector<TBytes>& aList) {
  return fThread && fThread->Take(aList);
}

void TMailslotServerNonBlocking::SetSleepIntervall(int aMilliseconds) {
  fSleepIntervall = aMilliseconds < 0 ? 0 : aMilliseconds;
  if (fThread) {
    fThread->SetSleepIntervall(fSleepIntervall);
  }
}

std::uint64_t TMailslotServerNonBlocking::DroppedMessages() const {
  return fThread ? fThread->Dropped() : 0;
}

std::uint64_t TMailslotServerNonBlocking::IdleWaitsForTesting() const {
  return fThread ? fThread->IdleWaits() : 0;
}

// --- TMailslotClient ----------------------------------------------------------------

TMailslotClient::TMailslotClient(std::string aName) : TMailslotBase(std::move(aName)) {}

TMailslotClient::~TMailslotClient() = default;

bool TMailslotClient::Connect() {
  fReady = false;
  fSocket.reset();
  std::string path;
  TSocketError error;
  if (ResolvePath(path, error)) {
    fSocket = Platform::Ipc::TDatagramClientSocket::Connect(path, error);
  }
  if (!fSocket) {
    HandleLastErrorEx("Connect", "CreateFile", error);
    return false;
  }
  fReady = true;
  return true;
}

bool TMailslotClient::Send(const TBytes& aBuffer) {
  std::size_t sent = 0;
  return Send(aBuffer, sent);
}

bool TMailslotClient::Send(const TBytes& aBuffer, std::size_t& aBytesSent) {
  aBytesSent = 0;
  if (!fReady) {
    return false;
  }
  TSocketError error;
  if (!fSocket->Send(aBuffer.data(), aBuffer.size(), error)) {
    HandleLastErrorEx("Send", "WriteFile", error);
    return false;
  }
  aBytesSent = aBuffer.size();
  return true;
}

}  // namespace Update::Common
