#include "platform/process/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace Platform::Process {

namespace {

std::optional<std::string> ReadLink(const std::string& aPath) {
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink(aPath.c_str(), buffer.data(), buffer.size());
  if (n < 0 || static_cast<std::size_t>(n) >= buffer.size()) {
    return std::nullopt;
  }
  buffer.resize(static_cast<std::size_t>(n));
  // The kernel marks the executable of a process whose file was removed or replaced.
  constexpr std::string_view kDeleted = " (deleted)";
  if (buffer.size() > kDeleted.size() && buffer.ends_with(kDeleted)) {
    buffer.resize(buffer.size() - kDeleted.size());
  }
  return buffer;
}

bool IsNumber(const char* aText) {
  if (!*aText)
    return false;
  for (; *aText; ++aText) {
    if (*aText < '0' || *aText > '9')
      return false;
  }
  return true;
}

}  // namespace

std::vector<TProcessEntry> Snapshot() {
  std::vector<TProcessEntry> result;
  DIR* proc = ::opendir("/proc");
  if (!proc) {
    return result;
  }
  while (dirent* entry = ::readdir(proc)) {
    if (!IsNumber(entry->d_name)) {
      continue;
    }
    TProcessEntry process;
    process.Pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
    std::string base = std::string("/proc/") + entry->d_name;
    if (std::optional<std::string> exe = ReadLink(base + "/exe")) {
      process.ExePath = *exe;
      std::size_t slash = exe->rfind('/');
      process.ExeName = slash == std::string::npos ? *exe : exe->substr(slash + 1);
    } else {
      std::ifstream comm(base + "/comm");
      if (!comm || !std::getline(comm, process.ExeName)) {
        continue;  // ended meanwhile
      }
    }
    result.push_back(std::move(process));
  }
  ::closedir(proc);
  return result;
}

pid_t CurrentProcessId() {
  return ::getpid();
}

bool IsProcessAlive(pid_t aPid) {
  if (aPid <= 0) {
    return false;
  }
  if (::kill(aPid, 0) != 0 && errno != EPERM) {
    return false;
  }
  // A zombie has ended; only its parent has not collected it yet.
  std::ifstream stat("/proc/" + std::to_string(aPid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return false;
  }
  std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

std::optional<pid_t> StartDetached(const std::string& aProgram, const std::vector<std::string>& aArguments,
                                   int* aError) {
  // An intermediate child starts the program and exits at once, so the program is
  // re-parented to init and never becomes a zombie of ours. Two close-on-exec pipes
  // report back: one carries the program's pid (from the intermediate child), the other
  // reads EOF when exec succeeded and the errno otherwise.
  auto fail = [&](int aErrno) -> std::optional<pid_t> {
    if (aError)
      *aError = aErrno;
    return std::nullopt;
  };
  int pidPipe[2];
  int execPipe[2];
  if (::pipe2(pidPipe, O_CLOEXEC) != 0) {
    return fail(errno);
  }
  if (::pipe2(execPipe, O_CLOEXEC) != 0) {
    int error = errno;
    ::close(pidPipe[0]);
    ::close(pidPipe[1]);
    return fail(error);
  }
  std::vector<std::string> storage;
  storage.push_back(aProgram);
  storage.insert(storage.end(), aArguments.begin(), aArguments.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);

  pid_t middle = ::fork();
  if (middle < 0) {
    int error = errno;
    for (int fd : {pidPipe[0], pidPipe[1], execPipe[0], execPipe[1]})
      ::close(fd);
    return fail(error);
  }
  if (middle == 0) {
    ::close(pidPipe[0]);
    ::close(execPipe[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) {
      int value = grandchild > 0 ? grandchild : -errno;
      (void)!::write(pidPipe[1], &value, sizeof value);
      ::_exit(0);
    }
    ::close(pidPipe[1]);
    int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      ::dup2(devNull, 0);
      ::dup2(devNull, 1);
      ::dup2(devNull, 2);
      if (devNull > 2)
        ::close(devNull);
    }
    ::execv(aProgram.c_str(), argv.data());
    int error = errno;
    (void)!::write(execPipe[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(pidPipe[1]);
  ::close(execPipe[1]);
  while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  int started = 0;
  ssize_t n = ::read(pidPipe[0], &started, sizeof started);
  ::close(pidPipe[0]);
  if (n != sizeof started || started <= 0) {
    ::close(execPipe[0]);
    return fail(n == sizeof started ? -started : EIO);
  }
  int error = 0;
  ssize_t m = ::read(execPipe[0], &error, sizeof error);
  ::close(execPipe[0]);
  if (m == 0) {
    return static_cast<pid_t>(started);
  }
  return fail(m == sizeof error ? error : EIO);
}

}  // namespace Platform::Process
