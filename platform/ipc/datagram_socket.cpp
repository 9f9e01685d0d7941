#include "platform/ipc/datagram_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/paths/paths.h"

namespace Platform::Ipc {

namespace {

constexpr mode_t kSharedFolderMode = 01777;

bool Fail(TSocketError& aError, int aCode, std::string aDetail = {}) {
  aError.Code = aCode;
  aError.Detail = std::move(aDetail);
  return false;
}

bool FillAddress(const std::string& aPath, sockaddr_un& aAddress, TSocketError& aError) {
  std::memset(&aAddress, 0, sizeof aAddress);
  aAddress.sun_family = AF_UNIX;
  if (aPath.size() >= sizeof aAddress.sun_path) {
    return Fail(aError, ENAMETOOLONG,
                "Socket path longer than " + std::to_string(sizeof aAddress.sun_path - 1) + " bytes: " + aPath);
  }
  std::memcpy(aAddress.sun_path, aPath.data(), aPath.size());
  return true;
}

// Creates one folder; a folder we create gets aMode exactly (the umask would narrow it).
bool MakeFolder(const std::string& aPath, mode_t aMode, TSocketError& aError) {
  if (::mkdir(aPath.c_str(), aMode) == 0) {
    if (::chmod(aPath.c_str(), aMode) != 0) {
      return Fail(aError, errno, "chmod " + aPath);
    }
    return true;
  }
  if (errno != EEXIST) {
    return Fail(aError, errno, "mkdir " + aPath);
  }
  struct stat info {};
  if (::stat(aPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return Fail(aError, ENOTDIR, "not a folder: " + aPath);
  }
  return true;
}

// Creates every missing folder on the way to aPath's parent. Folders inside the mailslot
// folder are shared by every account (1777); the ones above it get 0755.
bool MakeParentFolders(const std::string& aPath, TSocketError& aError) {
  const std::string shared = MailslotDir();
  for (std::size_t slash = aPath.find('/', 1); slash != std::string::npos; slash = aPath.find('/', slash + 1)) {
    const std::string folder = aPath.substr(0, slash);
    const bool isShared = (folder + "/").starts_with(shared);
    if (!MakeFolder(folder, isShared ? kSharedFolderMode : 0755, aError)) {
      return false;
    }
  }
  return true;
}

// Opens and locks the lock file of a name; -1 and aError when that fails. An owner removes
// the lock file when it ends, so a lock taken on a file that was removed meanwhile is
// worthless: then the file is opened again.
int LockName(const std::string& aLockPath, TSocketError& aError) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Read-only is enough for flock, so a lock file another account left behind still works.
    const int fd = ::open(aLockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      Fail(aError, errno, "open " + aLockPath);
      return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int code = errno == EWOULDBLOCK ? EADDRINUSE : errno;
      ::close(fd);
      Fail(aError, code);
      return -1;
    }
    struct stat locked {
    }, current{};
    if (::fstat(fd, &locked) == 0 && ::stat(aLockPath.c_str(), &current) == 0 && locked.st_dev == current.st_dev &&
        locked.st_ino == current.st_ino) {
      return fd;
    }
    ::close(fd);
  }
  Fail(aError, EADDRINUSE, "lock file keeps changing: " + aLockPath);
  return -1;
}

}  // namespace

std::string MailslotDir() {
  return Platform::Paths::RunDir() + "quorvane/mailslot/";
}

bool MailslotSocketPath(std::string_view aName, std::string& aPath, TSocketError& aError) {
  if (aName.empty()) {
    return Fail(aError, EINVAL, "Empty mailslot name");
  }
  std::string relative;
  std::size_t start = 0;
  while (start <= aName.size()) {
    std::size_t end = aName.find_first_of("\\/", start);
    if (end == std::string_view::npos) {
      end = aName.size();
    }
    const std::string_view part = aName.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string_view::npos) {
      return Fail(aError, EINVAL, "Invalid mailslot name: " + std::string(aName));
    }
    if (!relative.empty()) {
      relative += '/';
    }
    relative += part;
    start = end + 1;
  }
  std::string path = MailslotDir() + relative;
  sockaddr_un address;
  if (!FillAddress(path, address, aError)) {
    return false;
  }
  aPath = std::move(path);
  return true;
}

std::string ErrorText(int aCode) {
  char buffer[256];
  // The GNU variant returns the text (possibly not in buffer).
  std::string text = ::strerror_r(aCode, buffer, sizeof buffer);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

// --- TWakeEvent --------------------------------------------------------------------

TWakeEvent::TWakeEvent() : fFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TWakeEvent::~TWakeEvent() {
  if (fFd >= 0) {
    ::close(fFd);
  }
}

void TWakeEvent::Signal() {
  const std::uint64_t one = 1;
  // A full counter (never in practice) still leaves the event readable, so the write may fail harmlessly.
  [[maybe_unused]] const ssize_t written = ::write(fFd, &one, sizeof one);
}

void TWakeEvent::Clear() {
  std::uint64_t value = 0;
  [[maybe_unused]] const ssize_t got = ::read(fFd, &value, sizeof value);
}

TWaitResult WaitForDatagram(int aSocketFd, int aTimeoutMs, const TWakeEvent& aWake) {
  pollfd fds[2] = {{aWake.Fd(), POLLIN, 0}, {aSocketFd, POLLIN, 0}};
  const nfds_t count = aSocketFd >= 0 ? 2 : 1;
  int ready;
  do {
    ready = ::poll(fds, count, aTimeoutMs < 0 ? 0 : aTimeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    return TWaitResult::Failed;
  }
  if (ready == 0) {
    return TWaitResult::Timeout;
  }
  if (fds[0].revents != 0) {
    return TWaitResult::Woken;
  }
  return TWaitResult::Readable;
}

// --- TDatagramServerSocket ------------------------------------------------------------

TDatagramServerSocket::TDatagramServerSocket(int aFd, int aLockFd, std::string aPath)
    : fFd(aFd), fLockFd(aLockFd), fPath(std::move(aPath)) {}

std::unique_ptr<TDatagramServerSocket> TDatagramServerSocket::Bind(const std::string& aPath, bool aAnyAccount,
                                                                   TSocketError& aError) {
  sockaddr_un address;
  if (!FillAddress(aPath, address, aError) || !MakeParentFolders(aPath, aError)) {
    return nullptr;
  }
  const std::string lockPath = aPath + ".lock";
  const int lockFd = LockName(lockPath, aError);
  if (lockFd < 0) {
    return nullptr;
  }
  const auto giveUp = [&](int aCode, std::string aDetail, int aSocketFd) {
    Fail(aError, aCode, std::move(aDetail));
    if (aSocketFd >= 0) {
      ::close(aSocketFd);
      ::unlink(aPath.c_str());
    }
    ::unlink(lockPath.c_str());
    ::close(lockFd);
    return nullptr;
  };
  // We own the name: whatever socket file is there was left by a previous owner.
  if (::unlink(aPath.c_str()) != 0 && errno != ENOENT) {
    return giveUp(errno, "unlink " + aPath, -1);
  }
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return giveUp(errno, {}, -1);
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(aPath.c_str(), aAnyAccount ? 0666 : 0600) != 0) {
    return giveUp(errno, {}, fd);
  }
  return std::unique_ptr<TDatagramServerSocket>(new TDatagramServerSocket(fd, lockFd, aPath));
}

TDatagramServerSocket::~TDatagramServerSocket() {
  ::close(fFd);
  // Both files go while we still hold the lock, so we never remove a successor's files.
  ::unlink(fPath.c_str());
  ::unlink((fPath + ".lock").c_str());
  ::close(fLockFd);
}

bool TDatagramServerSocket::NextSize(std::ptrdiff_t& aSize, TSocketError& aError) const {
  char probe;
  ssize_t size;
  do {
    size = ::recv(fFd, &probe, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
  } while (size < 0 && errno == EINTR);
  if (size < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      aSize = -1;
      return true;
    }
    return Fail(aError, errno);
  }
  aSize = size;
  return true;
}

bool TDatagramServerSocket::Receive(std::vector<std::uint8_t>& aBuffer, TSocketError& aError) const {
  std::ptrdiff_t size = 0;
  if (!NextSize(size, aError)) {
    return false;
  }
  if (size < 0) {
    return Fail(aError, EAGAIN);
  }
  aBuffer.assign(static_cast<std::size_t>(size), 0);
  ssize_t got;
  do {
    got = ::recv(fFd, aBuffer.data(), aBuffer.size(), MSG_DONTWAIT | MSG_TRUNC);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    return Fail(aError, errno);
  }
  // Only this thread reads, so the datagram is the one measured; keep what fits.
  aBuffer.resize(std::min<std::size_t>(static_cast<std::size_t>(got), aBuffer.size()));
  return true;
}

// --- TDatagramClientSocket --------------------------------------------------------------

std::unique_ptr<TDatagramClientSocket> TDatagramClientSocket::Connect(const std::string& aPath, TSocketError& aError) {
  sockaddr_un address;
  if (!FillAddress(aPath, address, aError)) {
    return nullptr;
  }
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail(aError, errno);
    return nullptr;
  }
  const timeval timeout{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // A socket file nobody listens on is what a killed server leaves: as missing as no file.
    const int code = errno == ECONNREFUSED ? ENOENT : errno;
    ::close(fd);
    Fail(aError, code);
    return nullptr;
  }
  return std::unique_ptr<TDatagramClientSocket>(new TDatagramClientSocket(fd));
}

TDatagramClientSocket::~TDatagramClientSocket() {
  ::close(fFd);
}

bool TDatagramClientSocket::Send(const void* aData, std::size_t aSize, TSocketError& aError) const {
  ssize_t sent;
  do {
    sent = ::send(fFd, aData, aSize, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    // SO_SNDTIMEO expiring reports EAGAIN: the reader's queue stayed full.
    return Fail(aError, errno);
  }
  if (static_cast<std::size_t>(sent) != aSize) {
    return Fail(aError, EMSGSIZE);
  }
  return true;
}

}  // namespace Platform::Ipc
