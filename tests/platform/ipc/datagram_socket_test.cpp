#include "platform/ipc/datagram_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace Platform::Ipc {
namespace {

namespace fs = std::filesystem;

class DatagramSocketTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& aName) {
    std::string path;
    TSocketError error;
    EXPECT_TRUE(MailslotSocketPath(aName, path, error)) << error.Detail;
    return path;
  }

  static mode_t ModeOf(const std::string& aPath) {
    struct stat info {};
    EXPECT_EQ(::lstat(aPath.c_str(), &info), 0) << aPath;
    return info.st_mode & 07777;
  }

  QuorvaneTest::TTempRoot fRoot{"dgram"};
};

TEST_F(DatagramSocketTest, MailslotNamesMapBelowTheRunFolder) {
  EXPECT_EQ(MailslotDir(), fRoot.Dir() + "run/quorvane/mailslot/");
  EXPECT_EQ(PathOf("quorvane\\UpdateService\\Main"), fRoot.Dir() + "run/quorvane/mailslot/quorvane/UpdateService/Main");
  EXPECT_EQ(PathOf("quorvane/UpdateClient/Main"), fRoot.Dir() + "run/quorvane/mailslot/quorvane/UpdateClient/Main");
  ::setenv("QUORVANE_ROOT", "", 1);
  EXPECT_EQ(MailslotDir(), "/run/quorvane/mailslot/");
}

TEST_F(DatagramSocketTest, InvalidNamesAndOverlongPathsAreRefused) {
  const struct {
    std::string Name;
    int Code;
  } cases[] = {
      {"", EINVAL},
      {"quorvane\\\\Main", EINVAL},
      {"\\quorvane", EINVAL},
      {"quorvane\\", EINVAL},
      {"quorvane\\..\\..\\etc", EINVAL},
      {"quorvane\\.", EINVAL},
      {std::string("quor\0vane", 9), EINVAL},
      {std::string(200, 'x'), ENAMETOOLONG},
  };
  for (const auto& c : cases) {
    std::string path = "unchanged";
    TSocketError error;
    EXPECT_FALSE(MailslotSocketPath(c.Name, path, error)) << c.Name;
    EXPECT_EQ(error.Code, c.Code) << c.Name;
    EXPECT_EQ(path, "unchanged");
    EXPECT_FALSE(error.Detail.empty());
  }
}

TEST_F(DatagramSocketTest, OverlongPathErrorNamesThePath) {
  std::string path;
  TSocketError error;
  ASSERT_FALSE(MailslotSocketPath(std::string(200, 'x'), path, error));
  EXPECT_NE(error.Detail.find(fRoot.Dir() + "run/quorvane/mailslot/xxx"), std::string::npos) << error.Detail;
}

TEST_F(DatagramSocketTest, BindCreatesSharedFoldersAndSetsTheSocketMode) {
  TSocketError error;
  auto open = TDatagramServerSocket::Bind(PathOf("quorvane\\UpdateService\\Main"), true, error);
  ASSERT_TRUE(open) << error.Code;
  auto own = TDatagramServerSocket::Bind(PathOf("quorvane\\UpdateClient\\Main"), false, error);
  ASSERT_TRUE(own) << error.Code;
  EXPECT_EQ(ModeOf(fRoot.Dir() + "run/quorvane"), 0755u);
  EXPECT_EQ(ModeOf(fRoot.Dir() + "run/quorvane/mailslot"), 01777u);
  EXPECT_EQ(ModeOf(fRoot.Dir() + "run/quorvane/mailslot/quorvane/UpdateService"), 01777u);
  EXPECT_EQ(ModeOf(open->Path()), 0666u);
  EXPECT_EQ(ModeOf(own->Path()), 0600u);
  struct stat info {};
  ASSERT_EQ(::lstat(open->Path().c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
}

TEST_F(DatagramSocketTest, OneOwnerPerNameAndTheFileGoesWithTheOwner) {
  const std::string path = PathOf("quorvane\\Test\\Owner");
  TSocketError error;
  auto first = TDatagramServerSocket::Bind(path, false, error);
  ASSERT_TRUE(first);
  EXPECT_FALSE(TDatagramServerSocket::Bind(path, false, error));
  EXPECT_EQ(error.Code, EADDRINUSE);
  EXPECT_TRUE(fs::exists(path + ".lock"));
  first.reset();
  EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
  EXPECT_FALSE(fs::exists(path + ".lock"));
  EXPECT_TRUE(TDatagramServerSocket::Bind(path, false, error));
}

TEST_F(DatagramSocketTest, StaleSocketCountsAsMissingAndIsTakenOver) {
  const std::string path = PathOf("quorvane\\Test\\Stale");
  {
    TSocketError error;
    auto server = TDatagramServerSocket::Bind(path, false, error);
    ASSERT_TRUE(server);
  }
  // What a killed server leaves behind: a socket file that nobody reads.
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);

  TSocketError error;
  EXPECT_FALSE(TDatagramClientSocket::Connect(path, error));
  EXPECT_EQ(error.Code, ENOENT);
  auto server = TDatagramServerSocket::Bind(path, false, error);
  ASSERT_TRUE(server) << error.Code;
  auto client = TDatagramClientSocket::Connect(path, error);
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->Send("x", 1, error));
  std::vector<std::uint8_t> buffer;
  ASSERT_TRUE(server->Receive(buffer, error));
  EXPECT_EQ(buffer, std::vector<std::uint8_t>{'x'});
}

TEST_F(DatagramSocketTest, DatagramsKeepTheirBoundariesAndOrder) {
  const std::string path = PathOf("quorvane\\Test\\Order");
  TSocketError error;
  auto server = TDatagramServerSocket::Bind(path, false, error);
  ASSERT_TRUE(server);
  std::ptrdiff_t size = 0;
  ASSERT_TRUE(server->NextSize(size, error));
  EXPECT_EQ(size, -1);
  std::vector<std::uint8_t> buffer{1, 2, 3};
  EXPECT_FALSE(server->Receive(buffer, error));
  EXPECT_EQ(error.Code, EAGAIN);

  auto client = TDatagramClientSocket::Connect(path, error);
  ASSERT_TRUE(client);
  const std::string big(100000, 'b');
  ASSERT_TRUE(client->Send("first", 5, error));
  ASSERT_TRUE(client->Send("", 0, error));
  ASSERT_TRUE(client->Send(big.data(), big.size(), error));

  ASSERT_TRUE(server->NextSize(size, error));
  EXPECT_EQ(size, 5);
  ASSERT_TRUE(server->Receive(buffer, error));
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "first");
  ASSERT_TRUE(server->NextSize(size, error));
  EXPECT_EQ(size, 0);
  ASSERT_TRUE(server->Receive(buffer, error));
  EXPECT_TRUE(buffer.empty());
  ASSERT_TRUE(server->Receive(buffer, error));
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), big);
}

TEST_F(DatagramSocketTest, WriterToAReaderThatNeverReadsGivesUp) {
  const std::string path = PathOf("quorvane\\Test\\Hung");
  TSocketError error;
  auto server = TDatagramServerSocket::Bind(path, false, error);
  ASSERT_TRUE(server);
  auto client = TDatagramClientSocket::Connect(path, error);
  ASSERT_TRUE(client);
  const auto begin = std::chrono::steady_clock::now();
  int sent = 0;
  while (sent < 100000 && client->Send("z", 1, error)) {
    ++sent;
  }
  EXPECT_EQ(error.Code, EAGAIN) << "sent " << sent;
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  // The reader still gets what was queued.
  std::vector<std::uint8_t> buffer;
  EXPECT_TRUE(server->Receive(buffer, error));
}

TEST_F(DatagramSocketTest, WaitEndsOnDatagramWakeOrTimeout) {
  const std::string path = PathOf("quorvane\\Test\\Wait");
  TSocketError error;
  auto server = TDatagramServerSocket::Bind(path, false, error);
  ASSERT_TRUE(server);
  TWakeEvent wake;
  EXPECT_EQ(WaitForDatagram(server->Fd(), 10, wake), TWaitResult::Timeout);
  wake.Signal();
  EXPECT_EQ(WaitForDatagram(server->Fd(), 10000, wake), TWaitResult::Woken);
  wake.Clear();
  EXPECT_EQ(WaitForDatagram(-1, 10, wake), TWaitResult::Timeout);
  auto client = TDatagramClientSocket::Connect(path, error);
  ASSERT_TRUE(client && client->Send("y", 1, error));
  EXPECT_EQ(WaitForDatagram(server->Fd(), 10000, wake), TWaitResult::Readable);
}

}  // namespace
}  // namespace Platform::Ipc
