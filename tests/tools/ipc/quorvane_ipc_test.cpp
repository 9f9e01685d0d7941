// Two real processes: this test process runs IPC nodes, the quorvane-ipc tool is the peer.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

#include "common/ipc.h"

extern char** environ;

namespace Update::Common {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using T = TUpdateIPCMessageType;

const std::string kService = "quorvane\\UpdateService\\Main";
const std::string kClient = "quorvane\\UpdateClient\\Main";

std::string ToolPath() {
  return QUORVANE_IPC_TOOL;
}

// A child process running the tool, with its standard output and error read line by line.
// The destructor kills a child that still runs.
class TToolProcess {
 public:
  explicit TToolProcess(std::vector<std::string> aArgs) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    aArgs.insert(aArgs.begin(), ToolPath());
    std::vector<char*> argv;
    for (auto& arg : aArgs) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&fPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    fOut = out[0];
    fErr = err[0];
    if (rc != 0) {
      fPid = -1;
      throw std::runtime_error("cannot start " + ToolPath());
    }
  }
  ~TToolProcess() {
    if (fPid > 0 && !fStatus) {
      ::kill(fPid, SIGKILL);
      Wait();
    }
    ::close(fOut);
    ::close(fErr);
  }
  TToolProcess(const TToolProcess&) = delete;
  TToolProcess& operator=(const TToolProcess&) = delete;

  // The next line of standard output, or nothing when none came within aTimeout.
  std::optional<std::string> ReadLine(std::chrono::milliseconds aTimeout = 10s) {
    return Line(fOut, fOutBuffer, aTimeout);
  }
  std::optional<std::string> ReadErrorLine(std::chrono::milliseconds aTimeout = 10s) {
    return Line(fErr, fErrBuffer, aTimeout);
  }

  void Kill(int aSignal) { ::kill(fPid, aSignal); }

  // The raw wait status.
  int Wait() {
    if (!fStatus) {
      int status = 0;
      while (::waitpid(fPid, &status, 0) < 0 && errno == EINTR) {
      }
      fStatus = status;
    }
    return *fStatus;
  }
  int ExitCode() {
    const int status = Wait();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  static std::optional<std::string> Line(int aFd, std::string& aBuffer, std::chrono::milliseconds aTimeout) {
    const auto end = std::chrono::steady_clock::now() + aTimeout;
    for (;;) {
      if (const auto newline = aBuffer.find('\n'); newline != std::string::npos) {
        std::string line = aBuffer.substr(0, newline);
        aBuffer.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left <= 0ms) {
        return std::nullopt;
      }
      pollfd fd{aFd, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
        continue;
      }
      char chunk[4096];
      const ssize_t got = ::read(aFd, chunk, sizeof chunk);
      if (got <= 0) {
        return std::nullopt;
      }
      aBuffer.append(chunk, static_cast<std::size_t>(got));
    }
  }

  pid_t fPid = -1;
  int fOut = -1;
  int fErr = -1;
  std::string fOutBuffer;
  std::string fErrBuffer;
  std::optional<int> fStatus;
};

int RunTool(std::vector<std::string> aArgs) {
  return TToolProcess(std::move(aArgs)).ExitCode();
}

bool WaitForServer(const std::string& aName) {
  for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
    if (TUpdateIPCNode::CheckForServer(aName)) {
      return true;
    }
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

class QuorvaneIpcToolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fs::exists(ToolPath())) << ToolPath(); }

  // Takes from aNode until aCount messages arrived or ten seconds passed.
  static std::vector<TIPCMessage> Collect(TIPCNode& aNode, std::size_t aCount) {
    std::vector<TIPCMessage> list;
    for (auto end = std::chrono::steady_clock::now() + 10s;
         list.size() < aCount && std::chrono::steady_clock::now() < end;) {
      if (!aNode.GetMessages(list)) {
        std::this_thread::sleep_for(2ms);
      }
    }
    return list;
  }

  // The first datagram that reaches aServer within ten seconds, if any.
  static std::vector<TBytes> CollectRaw(TMailslotServer& aServer) {
    std::vector<TBytes> datagrams;
    for (auto end = std::chrono::steady_clock::now() + 10s;
         datagrams.empty() && std::chrono::steady_clock::now() < end;) {
      if (!aServer.GetMessages(datagrams)) {
        std::this_thread::sleep_for(2ms);
      }
    }
    return datagrams;
  }

  QuorvaneTest::TTempRoot fRoot{"ipctool"};
};

TEST_F(QuorvaneIpcToolTest, BurstOfMixedMessagesArrivesCompleteAndInOrder) {
  constexpr int kCount = 1000;
  TToolProcess listener({"listen", kService, "--count", std::to_string(kCount), "--any-account"});
  TUpdateIPCNode client(kClient, false);
  client.SetDefaultRecipient(kService);
  ASSERT_TRUE(WaitForServer(kService));

  std::vector<std::string> expected;
  for (int i = 0; i < kCount; ++i) {
    bool sent = false;
    switch (i % 5) {
      case 0:
        sent = client.Send(T::Start_FileCheck);
        expected.push_back("Start_FileCheck");
        break;
      case 1:
        sent = client.Send(T::Set_DownloadForeground, i % 2 == 1);
        expected.push_back(i % 2 == 1 ? "Set_DownloadForeground; Boolean: true"
                                      : "Set_DownloadForeground; Boolean: false");
        break;
      case 2:
        sent = client.Send(T::Set_UpdateChannel, "Kanal " + std::to_string(i));
        expected.push_back("Set_UpdateChannel; text: Kanal " + std::to_string(i));
        break;
      case 3:
        sent = client.Send(T::Set_Settings, "{\"n\":" + std::to_string(i) + "}");
        expected.push_back("Set_Settings; JSON: {\"n\":" + std::to_string(i) + "}");
        break;
      case 4:
        sent = client.Send(T::Cancel_All);
        expected.push_back("Cancel_All");
        break;
    }
    ASSERT_TRUE(sent) << i << ": " << client.LastErrorMessage();
  }
  for (int i = 0; i < kCount; ++i) {
    const auto line = listener.ReadLine();
    ASSERT_TRUE(line) << "message " << i + 1 << " missing";
    const std::string head = "ID = " + std::to_string(i + 1) + ", Sender = " + kClient + ", Recipient = " + kService;
    ASSERT_TRUE(line->starts_with(head)) << *line;
    ASSERT_TRUE(line->ends_with("; " + expected[i])) << *line;
  }
  EXPECT_EQ(listener.ExitCode(), 0);
}

TEST_F(QuorvaneIpcToolTest, FirstMessageOfANodeCarriesIdOneAfterAFailedSend) {
  TUpdateIPCNode client(kClient, false);
  EXPECT_FALSE(client.Send(kService, static_cast<std::int32_t>(T::Query_State)));
  TToolProcess listener({"listen", kService, "--count", "1"});
  ASSERT_TRUE(WaitForServer(kService));
  ASSERT_TRUE(client.Send(kService, static_cast<std::int32_t>(T::Query_State)));
  const auto line = listener.ReadLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(*line, "ID = 1, Sender = " + kClient + ", Recipient = " + kService +
                       ", Type = 100300001, 0 Bytes Data; Query_State");
}

TEST_F(QuorvaneIpcToolTest, ToolSendsTheCatalogueToANode) {
  TUpdateIPCNode client(kClient, false);
  const std::string json = fRoot.File("progress.json");
  std::ofstream(json) << "\xEF\xBB\xBF{\r\n  \"fAction\" : \"Download\",\r\n  \"fBytes\" : 12\r\n}";
  EXPECT_EQ(RunTool({"send", kClient, "Set_UpdateChannel", "--text", "Beta", "--from", kService}), 0);
  EXPECT_EQ(RunTool({"send", kClient, "Progress", "--json", json}), 0);
  EXPECT_EQ(RunTool({"send", kClient, "200200004"}), 0);
  EXPECT_EQ(RunTool({"send", kClient, "Set_DownloadForeground", "--bool", "false"}), 0);
  EXPECT_EQ(RunTool({"send", kClient, "77", "--int", "-2"}), 0);
  const auto got = Collect(client, 5);
  ASSERT_EQ(got.size(), 5u);

  EXPECT_EQ(got[0].ID, 1u);
  EXPECT_EQ(got[0].Sender, kService);
  EXPECT_EQ(got[0].MessageType, 100400003);
  const TBytes beta = got[0].ToBuffer();
  EXPECT_EQ(TBytes(beta.end() - 16, beta.end()),
            (TBytes{0x83, 0xFB, 0xFB, 0x05, 8, 0, 0, 0, 'B', 0, 'e', 0, 't', 0, 'a', 0}));
  EXPECT_EQ(got[1].MessageType, 200100007);
  EXPECT_EQ(DecodeTextPayload(got[1].Data), "{\"fAction\":\"Download\",\"fBytes\":12}");
  EXPECT_EQ(got[2].MessageType, 200200004);
  EXPECT_TRUE(got[2].Data.empty());
  EXPECT_EQ(got[3].Data, TBytes{0});
  EXPECT_EQ(DecodeIntegerPayload(got[4].Data), -2);
}

TEST_F(QuorvaneIpcToolTest, SetUpdateChannelBetaIsSixteenBytesAtTheEndOnTheWire) {
  TMailslotServerNonBlocking raw(kService, 0);
  ASSERT_TRUE(raw.Start());
  EXPECT_EQ(RunTool({"send", kService, "Set_UpdateChannel", "--text", "Beta", "--from", kClient}), 0);
  const std::vector<TBytes> datagrams = CollectRaw(raw);
  ASSERT_EQ(datagrams.size(), 1u);
  const TBytes& d = datagrams[0];
  ASSERT_EQ(d.size(), 20 + 2 * (kClient.size() + kService.size()) + 8);
  EXPECT_EQ(TBytes(d.end() - 16, d.end()),
            (TBytes{0x83, 0xFB, 0xFB, 0x05, 8, 0, 0, 0, 'B', 0, 'e', 0, 't', 0, 'a', 0}));
}

TEST_F(QuorvaneIpcToolTest, SecondServerFailsWhileTheFirstRunsAndTakesOverAfterSigkill) {
  TToolProcess first({"listen", kService, "--any-account"});
  ASSERT_TRUE(WaitForServer(kService));
  EXPECT_EQ(RunTool({"probe", kService}), 0);

  TMailslotServerNonBlocking second(kService, 0);
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(second.LastError(), EADDRINUSE);
  TToolProcess third({"listen", kService});
  EXPECT_EQ(third.ExitCode(), 1);
  const auto complaint = third.ReadErrorLine();
  ASSERT_TRUE(complaint);
  EXPECT_NE(complaint->find("CreateMailslot (98, Address already in use)"), std::string::npos) << *complaint;

  first.Kill(SIGKILL);
  first.Wait();
  const std::string path = second.FullName();
  EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << "a killed server leaves its socket file";
  EXPECT_EQ(RunTool({"probe", kService}), 1) << "a stale socket counts as no server";
  EXPECT_FALSE(TUpdateIPCNode::CheckForServer(kService));

  ASSERT_TRUE(second.Start()) << second.LastErrorMessageFull();
  EXPECT_EQ(RunTool({"send", kService, "Query_Progress"}), 0);
  const std::vector<TBytes> datagrams = CollectRaw(second);
  ASSERT_EQ(datagrams.size(), 1u);
  EXPECT_EQ(TIPCMessage::Create(datagrams[0])->MessageType, 100300000);
}

TEST_F(QuorvaneIpcToolTest, ListenerSkipsMalformedDatagramsAndStopsOnSigterm) {
  TToolProcess listener({"listen", kService});
  ASSERT_TRUE(listener.ReadErrorLine().value_or("").starts_with("quorvane-ipc: listening on " + kService));
  TMailslotClient raw(kService);
  ASSERT_TRUE(raw.Connect());
  ASSERT_TRUE(raw.Send(TBytes{1, 2, 3}));
  TIPCMessage message;
  message.ID = 9;
  message.MessageType = 200100006;
  message.Data = EncodeTextPayload("/opt/quorvane/quorvane-update");
  ASSERT_TRUE(raw.Send(message.ToBuffer()));

  EXPECT_EQ(listener.ReadErrorLine().value_or(""), "quorvane-ipc: dropped a malformed datagram of 3 bytes");
  EXPECT_EQ(listener.ReadLine().value_or(""),
            "ID = 9, Sender = , Recipient = , Type = 200100006, 58 Bytes Data; ClientNeedsUpdate; text: "
            "/opt/quorvane/quorvane-update");
  listener.Kill(SIGTERM);
  EXPECT_EQ(listener.ExitCode(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(raw.FullName()))) << "a stopped listener removes its endpoint";
}

TEST_F(QuorvaneIpcToolTest, BadUsageAndMissingPeersHaveTheirExitCodes) {
  const struct {
    std::vector<std::string> Args;
    int ExitCode;
  } cases[] = {
      {{"--help"}, 0},
      {{"types"}, 0},
      {{}, 2},
      {{"frobnicate"}, 2},
      {{"send", kService}, 2},
      {{"send", kService, "NoSuchType"}, 2},
      {{"send", kService, "Set_DownloadForeground", "--bool", "maybe"}, 2},
      {{"send", kService, "1", "--int", "99999999999"}, 2},
      {{"send", kService, "1", "--text", "a", "--int", "1"}, 2},
      {{"send", kService, "Set_Settings", "--json", "/nonexistent.json"}, 2},
      {{"send", kService, "Query_State"}, 1},
      {{"probe", kService}, 1},
      {{"probe"}, 2},
      {{"listen"}, 2},
      {{"listen", "bad\\..\\name", "--count", "1"}, 1},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& arg : c.Args) {
      joined += arg + " ";
    }
    EXPECT_EQ(RunTool(c.Args), c.ExitCode) << joined;
  }
}

}  // namespace
}  // namespace Update::Common
