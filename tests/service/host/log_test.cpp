#include "service/host/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/datetime/datetime.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace Update::Service;
using QuorvaneTest::ReadFile;

class LogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetLogClock(nullptr);
    InitLog("");
  }
  QuorvaneTest::TTempDir fTemp{"log"};
  const fs::path fDir = fTemp / "Log";  // not created: the log creates it
};

TEST_F(LogTest, CreatesTheFolderAndWritesLinesInEachForm) {
  Platform::TFakeClock clock(Platform::TDateTime::Encode(2016, 3, 4, 5, 6, 7, 890));
  SetLogClock(&clock);
  InitLog(fDir.string() + "/");
  ASSERT_TRUE(fs::is_directory(fDir));
  EXPECT_EQ(ServiceLogPath(), (fDir / "update.service.log").string());
  EXPECT_EQ(FilesLogPath(), (fDir / "update.log").string());

  const std::string tid = std::to_string(::gettid());
  Log("+TUpdateManager.Check");
  Log("\tdetail", false);
  LogException("std::runtime_error: boom");
  clock.Set(Platform::TDateTime::Encode(2016, 3, 5));
  Log("-TUpdateManager.Check");
  AppendFilesLog("files\theading");

  EXPECT_EQ(ReadFile(ServiceLogPath()), "2016-03-04 05:06:07:\t(" + tid +
                                            ")\t+TUpdateManager.Check\r\n"
                                            "\tdetail\r\n"
                                            "--\r\nstd::runtime_error: boom\r\n"
                                            "2016-03-05:\t(" +
                                            tid + ")\t-TUpdateManager.Check\r\n");
  EXPECT_EQ(ReadFile(FilesLogPath()), "files\theading\r\n");
}

TEST_F(LogTest, PrefixFailureIsLoggedAndTheLineStillWritten) {
  Platform::TFakeClock clock(Platform::TDateTime(1e9));  // far beyond year 9999: no text
  SetLogClock(&clock);
  InitLog(fDir.string());
  Log("+TUpdateManager.Check");
  EXPECT_EQ(ReadFile(ServiceLogPath()),
            "--\r\nLog: Error std::runtime_error: the current time cannot be formatted\r\n+TUpdateManager.Check\r\n");
}

TEST_F(LogTest, StartUpDeletesOnlyLogsLargerThanTenMiB) {
  struct TCase {
    std::uintmax_t ServiceSize, FilesSize;
    bool ServiceKept, FilesKept;
  };
  for (const TCase& c :
       {TCase{10485760, 10485761, true, false}, TCase{10485761, 10485760, false, true}, TCase{0, 1, true, true}}) {
    fs::create_directories(fDir);
    for (auto [name, size] : {std::pair{"update.service.log", c.ServiceSize}, std::pair{"update.log", c.FilesSize}}) {
      std::ofstream(fDir / name).close();
      fs::resize_file(fDir / name, size);
    }
    InitLog(fDir.string());
    EXPECT_EQ(fs::exists(fDir / "update.service.log"), c.ServiceKept) << c.ServiceSize;
    EXPECT_EQ(fs::exists(fDir / "update.log"), c.FilesKept) << c.FilesSize;
    fs::remove_all(fDir);
  }
}

TEST_F(LogTest, ConcurrentWritersProduceWholeLinesWithTheirOwnThreadIds) {
  InitLog(fDir.string());
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  std::vector<std::string> tids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &tids] {
      tids[t] = std::to_string(::gettid());
      for (int i = 0; i < kLines; ++i)
        Log("writer " + std::to_string(t) + " line " + std::to_string(i) + " " +
            std::string(200, static_cast<char>('a' + t)));
    });
  }
  for (auto& thread : threads)
    thread.join();

  const std::regex line(R"(\d{4}-\d\d-\d\d( \d\d:\d\d:\d\d)?:\t\((\d+)\)\twriter (\d) line (\d+) ([a-d]+)\r)");
  std::istringstream in(ReadFile(ServiceLogPath()));
  std::map<int, int> nextLine;
  int count = 0;
  for (std::string text; std::getline(in, text); ++count) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    const int writer = std::stoi(m[3]);
    EXPECT_EQ(m[2], tids[writer]);
    EXPECT_EQ(std::stoi(m[4]), nextLine[writer]++) << "lines of one thread stay in call order";
    EXPECT_EQ(m[5].str(), std::string(200, static_cast<char>('a' + writer)));
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(LogTest, UnwritableFolderIsIgnoredQuietly) {
  fs::create_directories(fDir.parent_path());
  std::ofstream(fDir).put('x');  // a file where the folder should be
  InitLog(fDir.string());
  Log("lost");
  LogException("lost");
  AppendFilesLog("lost");
  EXPECT_TRUE(fs::is_regular_file(fDir));
  InitLog("");
  Log("dropped without a folder");
  EXPECT_EQ(ServiceLogPath(), "");
}

TEST_F(LogTest, EchoCarriesServiceLogLinesWithoutAFolder) {
  std::ostringstream echo;
  SetLogEcho(&echo);
  Log("plain", false);
  LogException("E: x");
  AppendFilesLog("not echoed");
  SetLogEcho(nullptr);
  Log("after", false);
  EXPECT_EQ(echo.str(), "plain\n--\nE: x\n");
}

TEST(LogExceptionText, NamesTheDemangledClass) {
  EXPECT_EQ(ExceptionText(std::runtime_error("disk full")), "std::runtime_error: disk full");
  struct EBitsError : std::logic_error {
    using std::logic_error::logic_error;
  };
  EXPECT_NE(ExceptionText(EBitsError("x")).find("EBitsError: x"), std::string::npos);
}

}  // namespace
