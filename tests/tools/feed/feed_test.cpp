// quorvane-feed as a program: the packed-file commands and the loopback server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using QuorvaneTest::ReadFile;
using QuorvaneTest::WriteFile;

// The program started with its standard output (and error) on a pipe.
class TChild {
 public:
  explicit TChild(const std::vector<std::string>& aArgs) {
    int pipes[2];
    if (::pipe2(pipes, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipes[1], 2);
    std::vector<std::string> args{QV_FEED_PROGRAM};
    args.insert(args.end(), aArgs.begin(), aArgs.end());
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&fPid, QV_FEED_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipes[1]);
    fOut = pipes[0];
    if (error != 0)
      throw std::runtime_error("posix_spawn failed");
  }
  ~TChild() {
    if (fPid > 0) {
      ::kill(fPid, SIGKILL);
      ::waitpid(fPid, nullptr, 0);
    }
    ::close(fOut);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  std::string ReadLine() {
    std::string line;
    char c;
    while (::read(fOut, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  // Waits for the end and returns the exit code; aOutput gets the rest of the output.
  int Wait(std::string* aOutput = nullptr) {
    std::string rest;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fOut, buffer, sizeof buffer)) > 0;)
      rest.append(buffer, got);
    int status = 0;
    ::waitpid(fPid, &status, 0);
    fPid = -1;
    if (aOutput != nullptr)
      *aOutput = rest;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Signal(int aSignal) { ::kill(fPid, aSignal); }

 private:
  pid_t fPid = -1;
  int fOut = -1;
};

int RunFeed(const std::vector<std::string>& aArgs, std::string* aOutput = nullptr) {
  TChild child(aArgs);
  return child.Wait(aOutput);
}

class FeedToolTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(fDir / "feed" / "sub"); }
  std::string Path(const std::string& aName) const { return fDir.File(aName); }
  QuorvaneTest::TTempDir fDir{"feedtool"};
};

TEST_F(FeedToolTest, PackedFileCommands) {
  WriteFile(Path("abc.txt"), "abc");
  std::string out;
  ASSERT_EQ(RunFeed({"crc", Path("abc.txt")}, &out), 0);
  EXPECT_EQ(out, "1840145277 6DAE637D\n");

  ASSERT_EQ(RunFeed({"pack", Path("abc.txt"), Path("abc.txt.z")}, &out), 0) << out;
  ASSERT_EQ(RunFeed({"info", Path("abc.txt.z")}, &out), 0) << out;
  EXPECT_NE(out.find("ID: KVTZLIBFILE\n"), std::string::npos) << out;
  EXPECT_NE(out.find("FileName: abc.txt\nSize: 3\n"), std::string::npos) << out;
  EXPECT_NE(out.find("CRC: 1840145277 (6DAE637D)\n"), std::string::npos) << out;

  fs::create_directories(fDir / "out");
  ASSERT_EQ(RunFeed({"unpack", Path("abc.txt.z"), Path("out")}, &out), 0) << out;
  EXPECT_EQ(out, Path("out/abc.txt") + "\n");
  EXPECT_EQ(ReadFile(Path("out/abc.txt")), "abc");
  ASSERT_EQ(RunFeed({"unpack", Path("abc.txt.z"), Path("out/renamed.txt")}, &out), 0) << out;
  EXPECT_EQ(ReadFile(Path("out/renamed.txt")), "abc");

  // Failures name the reason and the mismatch from the handler's log line.
  std::string package = ReadFile(Path("abc.txt.z"));
  package[13] = 2;
  WriteFile(Path("v2.z"), package);
  EXPECT_EQ(RunFeed({"unpack", Path("v2.z"), Path("out/")}, &out), 1);
  EXPECT_NE(out.find("TZlibHandler.DoUnCompress: Error Version mismatch 2 <> 1"), std::string::npos) << out;
  EXPECT_NE(out.find("Version Error"), std::string::npos) << out;
  EXPECT_EQ(RunFeed({"info", Path("missing.z")}, &out), 1);
  EXPECT_EQ(RunFeed({"crc", Path("missing")}, &out), 1);
  EXPECT_EQ(RunFeed({"pack", Path("missing"), Path("x.z")}, &out), 1);
}

TEST_F(FeedToolTest, HelpAndUsageErrors) {
  std::string out;
  EXPECT_EQ(RunFeed({"--help"}, &out), 0);
  for (const char* command : {"pack", "unpack", "info", "crc", "serve"}) {
    EXPECT_NE(out.find(std::string("  ") + command), std::string::npos) << command;
    std::string help;
    EXPECT_EQ(RunFeed({command, "--help"}, &help), 0) << command;
    EXPECT_EQ(help.rfind(std::string("Usage: quorvane-feed ") + command, 0), 0u) << help;
  }
  EXPECT_EQ(RunFeed({}, &out), 2);
  EXPECT_EQ(RunFeed({"frobnicate"}, &out), 2);
  EXPECT_EQ(RunFeed({"pack", "only-one"}, &out), 2);
  EXPECT_EQ(RunFeed({"serve", Path("feed")}, &out), 2) << "--port is required";
  EXPECT_EQ(RunFeed({"serve", Path("feed"), "--port", "70000"}, &out), 2);
  EXPECT_EQ(RunFeed({"serve", Path("feed"), "--port", "0", "--fault-drop", "nonsense"}, &out), 2);
}

class FeedServeTest : public FeedToolTest {
 protected:
  void Start(std::vector<std::string> aFaults = {}) {
    std::mt19937 random(3);
    fPackage.resize(100000);
    for (auto& c : fPackage)
      c = static_cast<char>(random());
    WriteFile(Path("feed/sub/pkg.z"), fPackage);
    WriteFile(Path("feed/slow.bin"), fPackage);
    WriteFile(Path("feed/meta.json"), "{}");
    WriteFile(Path("secret.txt"), "outside");
    fs::create_symlink(fDir / "secret.txt", fDir / "feed" / "link.txt");
    std::vector<std::string> args{"serve", Path("feed"), "--port", "0"};
    args.insert(args.end(), aFaults.begin(), aFaults.end());
    fServer = std::make_unique<TChild>(args);
    const std::string first = fServer->ReadLine();
    const std::string prefix = "listening on http://127.0.0.1:";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
    fPort = std::stoi(first.substr(prefix.size()));
  }
  // Stops the server with SIGTERM and returns its request log.
  std::vector<std::string> Stop() {
    fServer->Signal(SIGTERM);
    std::string rest;
    EXPECT_EQ(fServer->Wait(&rest), 0);
    std::vector<std::string> lines;
    std::istringstream in(rest);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", fPort);
    client.set_read_timeout(10);
    return client;
  }

  std::string fPackage;
  std::unique_ptr<TChild> fServer;
  int fPort = 0;
};

TEST_F(FeedServeTest, ServesFilesHeadAndRangesAndLogsEveryRequest) {
  Start();
  auto client = Client();
  auto get = client.Get("/sub/pkg.z");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
  EXPECT_EQ(get->body, fPackage);

  auto head = client.Head("/sub/pkg.z");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->get_header_value("Content-Length"), "100000");
  EXPECT_TRUE(head->body.empty());

  struct TRange {
    const char* Header;
    int Status;
    std::size_t Begin, Length;
  };
  for (const TRange& r : {TRange{"bytes=10-19", 206, 10, 10}, TRange{"bytes=99990-300000", 206, 99990, 10},
                          TRange{"bytes=-5", 206, 99995, 5}, TRange{"bytes=50000-", 206, 50000, 50000},
                          TRange{"bytes=100000-100010", 416, 0, 0}}) {
    auto ranged = client.Get("/sub/pkg.z", {{"Range", r.Header}});
    ASSERT_TRUE(ranged) << r.Header;
    EXPECT_EQ(ranged->status, r.Status) << r.Header;
    if (r.Status == 206) {
      EXPECT_EQ(ranged->body, fPackage.substr(r.Begin, r.Length)) << r.Header;
      EXPECT_EQ(ranged->get_header_value("Content-Range"),
                "bytes " + std::to_string(r.Begin) + "-" + std::to_string(r.Begin + r.Length - 1) + "/100000");
    }
  }
  for (const char* missing : {"/nothing", "/sub", "/link.txt", "/../secret.txt", "/sub/../../secret.txt"}) {
    auto response = client.Get(missing);
    ASSERT_TRUE(response) << missing;
    EXPECT_EQ(response->status, 404) << missing;
  }

  const auto log = Stop();
  ASSERT_EQ(log.size(), 12u);
  EXPECT_EQ(log[0], "GET /sub/pkg.z 200 100000");
  EXPECT_EQ(log[1], "HEAD /sub/pkg.z 200 100000");
  EXPECT_EQ(log[2], "GET /sub/pkg.z 206 10 range=bytes=10-19");
  EXPECT_EQ(log[6].rfind("GET /sub/pkg.z 416 ", 0), 0u) << log[6];
}

TEST_F(FeedServeTest, FaultsApplyToTheirPathAndCount) {
  Start({"--fault-status", "/meta.json=503*1", "--fault-drop", "/sub/pkg.z=1000*1", "--fault-stall",
         "/slow.bin=300@5000*1"});
  auto client = Client();
  auto first = client.Get("/meta.json");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 503);
  auto second = client.Get("/meta.json");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 200);
  EXPECT_EQ(second->body, "{}");

  // HEAD does not use up body faults.
  ASSERT_TRUE(client.Head("/sub/pkg.z"));

  std::string received;
  auto dropped = client.Get("/sub/pkg.z", [&](const char* aData, std::size_t aLength) {
    received.append(aData, aLength);
    return true;
  });
  EXPECT_FALSE(dropped) << "the connection is closed before the announced length";
  EXPECT_EQ(received, fPackage.substr(0, 1000));

  const auto start = std::chrono::steady_clock::now();
  auto stalled = Client().Get("/slow.bin");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(stalled);
  EXPECT_EQ(stalled->body, fPackage);
  EXPECT_GE(elapsed, std::chrono::milliseconds(300));

  const auto log = Stop();
  EXPECT_EQ(log, (std::vector<std::string>{"GET /meta.json 503 18 fault=status:/meta.json=503*1",
                                           "GET /meta.json 200 2", "HEAD /sub/pkg.z 200 100000",
                                           "GET /sub/pkg.z 200 100000 fault=drop:/sub/pkg.z=1000*1",
                                           "GET /slow.bin 200 100000 fault=stall:/slow.bin=300@5000*1"}));
}

}  // namespace
