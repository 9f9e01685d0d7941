#include "common/mailslot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"

namespace Update::Common {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class MailslotTest : public ::testing::Test {
 protected:
  static void Write(const std::string& aName, const std::string& aText) {
    TMailslotClient client(aName);
    ASSERT_TRUE(client.Connect()) << client.LastErrorMessageFull();
    std::size_t sent = 0;
    ASSERT_TRUE(client.Send(TBytes(aText.begin(), aText.end()), sent));
    EXPECT_EQ(sent, aText.size());
  }

  // Takes from aServer until aCount datagrams arrived or five seconds passed.
  static std::vector<std::string> Collect(TMailslotServer& aServer, std::size_t aCount) {
    std::vector<TBytes> list;
    for (auto end = std::chrono::steady_clock::now() + 5s;
         list.size() < aCount && std::chrono::steady_clock::now() < end;) {
      if (!aServer.GetMessages(list)) {
        std::this_thread::sleep_for(1ms);
      }
    }
    std::vector<std::string> texts;
    for (const auto& bytes : list) {
      texts.emplace_back(bytes.begin(), bytes.end());
    }
    return texts;
  }

  QuorvaneTest::TTempRoot fRoot{"mailslot"};
};

TEST_F(MailslotTest, MessagesWrittenBeforeTheTakeArriveTogetherInOrder) {
  TMailslotServerNonBlocking server("quorvane\\Test\\Main", 0);
  ASSERT_TRUE(server.Start()) << server.LastErrorMessageFull();
  EXPECT_TRUE(server.Ready());

  std::vector<TBytes> list{{9}};
  EXPECT_FALSE(server.GetMessages(list));
  EXPECT_EQ(list, std::vector<TBytes>{{9}});

  Write("quorvane\\Test\\Main", "one");
  Write("quorvane\\Test\\Main", "");
  Write("quorvane\\Test\\Main", "three");
  std::this_thread::sleep_for(200ms);  // the reader drains at once; this is only slack
  list.clear();
  ASSERT_TRUE(server.GetMessages(list));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(std::string(list[0].begin(), list[0].end()), "one");
  EXPECT_TRUE(list[1].empty());
  EXPECT_EQ(std::string(list[2].begin(), list[2].end()), "three");
  EXPECT_FALSE(server.GetMessages(list));
}

TEST_F(MailslotTest, ConnectToAMissingServerRecordsFileNotFound) {
  TMailslotClient client("quorvane\\Nobody\\Main");
  EXPECT_FALSE(client.Connect());
  EXPECT_FALSE(client.Ready());
  EXPECT_EQ(client.LastError(), ENOENT);
  EXPECT_EQ(client.LastErrorMessage(), "No such file or directory");
  EXPECT_EQ(client.LastErrorMessageFull(), "TMailslotClient.Connect(): CreateFile (2, No such file or directory)");
  EXPECT_FALSE(client.Send(TBytes{1}));

  client.SetRaiseExceptions(true);
  EXPECT_THROW(client.Connect(), EWinAPIException);
}

TEST_F(MailslotTest, ASecondServerOfTheSameNameFailsAndTheFirstKeepsReceiving) {
  TMailslotServerNonBlocking first("quorvane\\Test\\Main", 0);
  ASSERT_TRUE(first.Start());
  TMailslotServerNonBlocking second("quorvane\\Test\\Main", 0);
  EXPECT_FALSE(second.Start());
  EXPECT_FALSE(second.Ready());
  EXPECT_EQ(second.LastError(), EADDRINUSE);
  EXPECT_EQ(second.LastErrorMessageFull(),
            "TMailslotServerNonBlocking.StartServer(): CreateMailslot (98, Address already in use)");

  Write("quorvane\\Test\\Main", "hello");
  EXPECT_EQ(Collect(first, 1), std::vector<std::string>{"hello"});
  std::vector<TBytes> list;
  EXPECT_FALSE(second.GetMessages(list));
}

TEST_F(MailslotTest, DestroyedServerRemovesItsEndpoint) {
  std::string path;
  {
    TMailslotServerNonBlocking server("quorvane\\Test\\Main", 0);
    ASSERT_TRUE(server.Start());
    path = server.FullName();
    EXPECT_TRUE(fs::exists(fs::symlink_status(path)));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
  TMailslotClient client("quorvane\\Test\\Main");
  EXPECT_FALSE(client.Connect());
  TMailslotServerNonBlocking again("quorvane\\Test\\Main", 0);
  EXPECT_TRUE(again.Start());
}

TEST_F(MailslotTest, InvalidAndOverlongNamesFailWithADetailLine) {
  TMailslotServer server("quorvane\\..\\x", 0);
  EXPECT_FALSE(server.Start());
  EXPECT_EQ(server.LastError(), EINVAL);
  EXPECT_EQ(server.LastErrorMessageFull(),
            "Invalid mailslot name: quorvane\\..\\x\r\nTMailslotServer.StartServer(): CreateMailslot (22, Invalid "
            "argument)");
  TMailslotClient client(std::string(200, 'n'));
  EXPECT_FALSE(client.Connect());
  EXPECT_EQ(client.LastError(), ENAMETOOLONG);
  EXPECT_NE(client.LastErrorMessageFull().find(fRoot.Path().string()), std::string::npos);
}

TEST_F(MailslotTest, BlockingServerDrainsWhatWaitsAndDropsOversizedDatagrams) {
  TMailslotServer server("quorvane\\Test\\Blocking", 4);
  std::vector<TBytes> list;
  EXPECT_FALSE(server.GetMessages(list));
  ASSERT_TRUE(server.Start());
  EXPECT_TRUE(server.GetMessages(list));
  EXPECT_TRUE(list.empty());
  Write("quorvane\\Test\\Blocking", "ab");
  Write("quorvane\\Test\\Blocking", "too long");
  Write("quorvane\\Test\\Blocking", "cdef");
  EXPECT_TRUE(server.GetMessages(list));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(std::string(list[1].begin(), list[1].end()), "cdef");
}

TEST_F(MailslotTest, NonBlockingServerCountsOversizedDatagramsAsDropped) {
  TMailslotServerNonBlocking server("quorvane\\Test\\Main", 4);
  ASSERT_TRUE(server.Start());
  Write("quorvane\\Test\\Main", "too long");
  Write("quorvane\\Test\\Main", "ok");
  EXPECT_EQ(Collect(server, 1), std::vector<std::string>{"ok"});
  EXPECT_EQ(server.DroppedMessages(), 1u);
}

TEST_F(MailslotTest, SleepIntervallReachesTheRunningReader) {
  TMailslotServerNonBlocking server("quorvane\\Test\\Main", 0);
  server.SetSleepIntervall(60000);
  ASSERT_TRUE(server.Start());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(server.IdleWaitsForTesting(), 0u);
  server.SetSleepIntervall(5);
  EXPECT_EQ(server.SleepIntervall(), 5);
  std::this_thread::sleep_for(300ms);
  EXPECT_GE(server.IdleWaitsForTesting(), 5u);
}

TEST_F(MailslotTest, AServerThatCouldNotStartStopsPromptly) {
  TMailslotServerNonBlocking first("quorvane\\Test\\Main", 0);
  ASSERT_TRUE(first.Start());
  const auto begin = std::chrono::steady_clock::now();
  {
    TMailslotServerNonBlocking second("quorvane\\Test\\Main", 0);
    second.SetSleepIntervall(60000);
    EXPECT_FALSE(second.Start());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
}

}  // namespace
}  // namespace Update::Common
