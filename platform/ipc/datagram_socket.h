#pragma once

// Local datagram endpoints addressed by mailslot names.
//
// A mailslot name such as "quorvane\UpdateService\Main" is the socket path
// <prefix>/run/quorvane/mailslot/quorvane/UpdateService/Main (AF_UNIX, SOCK_DGRAM): one
// whole message per send, any number of writers, one reader.
//
// Ownership: a server owns its name through an exclusive flock on the companion file
// "<socket path>.lock". Only the owner of that lock removes and re-creates the socket
// file, so a socket left behind by a killed process is taken over by the next server,
// while a second server of a name that a live process owns fails with EADDRINUSE.
//
// Errors: every failing call returns false (or nullptr) and fills a TSocketError with the
// errno value; Detail is empty unless the code alone would hide what went wrong (an
// invalid name, a socket path longer than sun_path allows).
//
// Threads: a socket object belongs to one thread, except that TDatagramServerSocket's
// Wait, NextSize and Receive may run on one reader thread while TWakeEvent::Signal is
// called from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Platform::Ipc {

struct TSocketError {
  int Code = 0;
  std::string Detail;
};

// <prefix>/run/quorvane/mailslot/ (the run folder of platform/paths).
std::string MailslotDir();

// The socket path of a mailslot name. "\" and "/" both separate the name's parts; an
// empty name, an empty part, a part "." or "..", or a NUL are refused (EINVAL), and a
// path that does not fit sun_path is refused (ENAMETOOLONG) with the path in Detail.
bool MailslotSocketPath(std::string_view aName, std::string& aPath, TSocketError& aError);

// A wake-up signal for a thread blocked in TDatagramServerSocket::Wait (an eventfd).
class TWakeEvent {
 public:
  TWakeEvent();
  ~TWakeEvent();
  TWakeEvent(const TWakeEvent&) = delete;
  TWakeEvent& operator=(const TWakeEvent&) = delete;

  // Any thread. Wakes the waiter once (signals before the wait are not lost).
  void Signal();
  // Consumes pending signals.
  void Clear();
  int Fd() const { return fFd; }

 private:
  int fFd = -1;
};

enum class TWaitResult { Readable, Timeout, Woken, Failed };

// Waits up to aTimeoutMs for aWake, or for a datagram on aSocketFd when it is >= 0.
TWaitResult WaitForDatagram(int aSocketFd, int aTimeoutMs, const TWakeEvent& aWake);

class TDatagramServerSocket {
 public:
  // Creates the folders of aPath (below the mailslot folder with mode 1777, so every
  // account may place its endpoint there), takes the name's lock, replaces a stale socket
  // file and binds. aAnyAccount: mode 0666 on the socket (any account may write);
  // otherwise 0600 (the owner, and root, may write).
  // EADDRINUSE: another live process owns the name.
  static std::unique_ptr<TDatagramServerSocket> Bind(const std::string& aPath, bool aAnyAccount, TSocketError& aError);
  // Closes the socket, removes its file and releases the name.
  ~TDatagramServerSocket();
  TDatagramServerSocket(const TDatagramServerSocket&) = delete;
  TDatagramServerSocket& operator=(const TDatagramServerSocket&) = delete;

  int Fd() const { return fFd; }
  const std::string& Path() const { return fPath; }

  // Size of the next waiting datagram without removing it; -1 when none waits. Never blocks.
  bool NextSize(std::ptrdiff_t& aSize, TSocketError& aError) const;
  // Removes the next datagram into aBuffer (resized to its length). Never blocks; EAGAIN
  // when none waits.
  bool Receive(std::vector<std::uint8_t>& aBuffer, TSocketError& aError) const;

 private:
  TDatagramServerSocket(int aFd, int aLockFd, std::string aPath);
  int fFd;
  int fLockFd;
  std::string fPath;
};

class TDatagramClientSocket {
 public:
  // ENOENT when no server owns aPath: no socket file, or a stale one (ECONNREFUSED).
  static std::unique_ptr<TDatagramClientSocket> Connect(const std::string& aPath, TSocketError& aError);
  ~TDatagramClientSocket();
  TDatagramClientSocket(const TDatagramClientSocket&) = delete;
  TDatagramClientSocket& operator=(const TDatagramClientSocket&) = delete;

  // Sends aSize bytes as one datagram. Waits at most kSendTimeoutMs while the reader's
  // queue is full (then EAGAIN), so a reader that hangs cannot block the writer for good.
  bool Send(const void* aData, std::size_t aSize, TSocketError& aError) const;

  static constexpr int kSendTimeoutMs = 5000;

 private:
  explicit TDatagramClientSocket(int aFd) : fFd(aFd) {}
  int fFd;
};

// The system's message text of an errno value, without a trailing full stop.
std::string ErrorText(int aCode);

}  // namespace Platform::Ipc
