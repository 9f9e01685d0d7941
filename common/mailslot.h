#pragma once

// Mailslot transport: the reading and the writing end of a local datagram channel
// addressed by a mailslot name ("quorvane\UpdateService\Main"). On Linux a mailslot is a
// Unix datagram socket (platform/ipc): one whole message per send, any number of
// writers, one reader, and one owning process per name.
//
// Errors: every failing operation records LastError (the errno value), LastErrorMessage
// (its system text) and LastErrorMessageFull ("%s%s.%s(): %s (%d, %s)": detail + CRLF or
// nothing, class name, operation, function, code, text), and throws EMailslotError with
// that full text only when RaiseExceptions is true (default false). The operation and
// function names are those of the transport's original interface; what stands behind
// them on Linux:
//   StartServer / CreateMailslot  flock of the lock file, bind   EADDRINUSE: name owned
//   Read / GetMailslotInfo        recv(MSG_PEEK)                  (size of next datagram)
//   Read / ReadFile               recv
//   Connect / CreateFile          connect                         ENOENT: no such server
//   Send / WriteFile              send                            EAGAIN: reader's queue full
// An invalid name is EINVAL and a socket path too long for sun_path ENAMETOOLONG, both
// with a detail line naming the name or the path.
//
// Threads: each object belongs to the thread that uses it, except the reader thread of
// TMailslotServerNonBlocking, which shares only its queue (under its own lock) with the
// owner's GetMessages.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc/datagram_socket.h"

namespace Update::Common {

using TBytes = std::vector<std::uint8_t>;

class EMailslotError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMailslotBase {
 public:
  explicit TMailslotBase(std::string aName);
  virtual ~TMailslotBase() = default;
  TMailslotBase(const TMailslotBase&) = delete;
  TMailslotBase& operator=(const TMailslotBase&) = delete;

  // The mailslot name as given, without the folder prefix.
  const std::string& Name() const { return fName; }
  // The socket path the name maps to; empty for an invalid name.
  std::string FullName() const;
  bool Ready() const { return fReady; }

  int LastError() const { return fLastError; }
  const std::string& LastErrorMessage() const { return fLastErrorMessage; }
  const std::string& LastErrorMessageFull() const { return fLastErrorMessageFull; }
  bool RaiseExceptions() const { return fRaiseExceptions; }
  void SetRaiseExceptions(bool aValue) { fRaiseExceptions = aValue; }

  virtual const char* ClassName() const = 0;

 protected:
  // Records aError for aMethod/aFunction; throws EMailslotError when RaiseExceptions.
  void HandleLastErrorEx(const char* aMethod, const char* aFunction, const Platform::Ipc::TSocketError& aError);
  // The socket path of Name(), or a recorded failure.
  bool ResolvePath(std::string& aPath, Platform::Ipc::TSocketError& aError) const;

  bool fReady = false;

 private:
  std::string fName;
  int fLastError = 0;
  std::string fLastErrorMessage;
  std::string fLastErrorMessageFull;
  bool fRaiseExceptions = false;
};

// The reading end with a blocking-style read: GetMessages drains what is waiting.
class TMailslotServer : public TMailslotBase {
 public:
  // aMaxMessageSize: datagrams longer than this are read and dropped; 0 means no limit.
  TMailslotServer(std::string aName, std::uint32_t aMaxMessageSize);
  ~TMailslotServer() override;

  // Takes the name and opens the endpoint. False (and recorded) when the name is owned by
  // another process, is invalid, or the folders cannot be created.
  virtual bool Start();
  // Appends every waiting datagram to aList, in arrival order. False when not Ready or on
  // a read error (datagrams already appended stay in aList).
  virtual bool GetMessages(std::vector<TBytes>& aList);

  std::uint32_t MaxMessageSize() const { return fMaxMessageSize; }
  // True (default): only the owning account (and root) may write. False: any account may
  // write; the service's endpoint is opened like that.
  bool UseDefaultSecurityAttributes() const { return fUseDefaultSecurityAttributes; }
  void SetUseDefaultSecurityAttributes(bool aValue) { fUseDefaultSecurityAttributes = aValue; }

  const char* ClassName() const override { return "TMailslotServer"; }

 protected:
  std::unique_ptr<Platform::Ipc::TDatagramServerSocket> fSocket;

 private:
  std::uint32_t fMaxMessageSize;
  bool fUseDefaultSecurityAttributes = true;
};

// The reading end with a reader thread that queues arriving datagrams; GetMessages
// never blocks on the endpoint.
class TMailslotServerNonBlocking : public TMailslotServer {
 public:
  static constexpr int kDefaultSleepIntervall = 500;
  // The reader keeps at most this many bytes queued; datagrams beyond it are read and
  // dropped (counted in DroppedMessages), so a writer nobody drains cannot exhaust memory.
  static constexpr std::size_t kMaxQueuedBytes = 64u << 20;

  TMailslotServerNonBlocking(std::string aName, std::uint32_t aMaxMessageSize);
  // Stops and joins the reader thread (bounded: it waits at most one poll), then closes.
  ~TMailslotServerNonBlocking() override;

  // The inherited Start; then, whatever its result, the reader thread is started (after a
  // failed Start it only sleeps until it is stopped). Returns the inherited result.
  bool Start() override;
  // Moves every queued datagram to the end of aList in arrival order; true when at least
  // one was moved. Never blocks on the endpoint and never records an error.
  bool GetMessages(std::vector<TBytes>& aList) override;

  // The longest wait of an idle reader in milliseconds. The reader wakes at once when a
  // datagram arrives; after a read it reads again without waiting, so bursts are drained
  // at once. Setting it reaches a running reader immediately.
  int SleepIntervall() const { return fSleepIntervall; }
  void SetSleepIntervall(int aMilliseconds);

  // Datagrams the reader dropped (over MaxMessageSize, or the queue was full).
  std::uint64_t DroppedMessages() const;

  const char* ClassName() const override { return "TMailslotServerNonBlocking"; }

  // Test hook: how often the running reader's wait ended without a datagram.
  std::uint64_t IdleWaitsForTesting() const;

 private:
  class TServerThread;
  std::unique_ptr<TServerThread> fThread;
  int fSleepIntervall = kDefaultSleepIntervall;
};

// The writing end. Part of the messaging creates one client per message.
class TMailslotClient : public TMailslotBase {
 public:
  explicit TMailslotClient(std::string aName);
  ~TMailslotClient() override;

  // Opens the endpoint of Name(). False, with ENOENT, when no process owns the name.
  bool Connect();
  // One datagram with all bytes of aBuffer. False without writing when not Ready.
  bool Send(const TBytes& aBuffer);
  bool Send(const TBytes& aBuffer, std::size_t& aBytesSent);

  const char* ClassName() const override { return "TMailslotClient"; }

 private:
  std::unique_ptr<Platform::Ipc::TDatagramClientSocket> fSocket;
};

}  // namespace Update::Common
