#include "service/lists/service_utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "service/host/log.h"
#include "tests/service/host/service_log_dir.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;
using QuorvaneTest::ReadFile;

class ServiceUtilsTest : public ::testing::Test {
 protected:
  QuorvaneTest::TServiceLogDir fDir{"service_utils"};
};

TEST_F(ServiceUtilsTest, StatusAndErrorTexts) {
  const std::pair<TUpdateFileStatus, const char*> statuses[] = {
      {fsNA, "NA"},
      {fsCheck_NeedsUpdate, "Check_NeedsUpdate"},
      {fsDownload_Active, "Download_Active"},
      {fsDownload_Complete, "Download_Complete"},
      {fsDownload_Error, "Download_Error"},
      {fsInstall_Active, "Install_Active"},
      {fsInstall_Complete, "Install_Complete"},
      {fsInstall_Error, "Install_Error"},
      {fsInstall_ErrorUncompress, ""},
      {static_cast<TUpdateFileStatus>(9), ""},
  };
  for (const auto& [status, text] : statuses) {
    EXPECT_EQ(TUpdateServiceUtils::FileStatusToString(status), text) << int(status);
  }
  const std::pair<TUpdateError, const char*> errors[] = {
      {ueNone, "No Error"},
      {ueUnknown, "Unknown Error"},
      {ueNoInternetConnection, "No Internet Connection"},
      {ueBITSUnavailabe, "BITS Unavailabe"},
      {ueBITSVersion, "Wrong BITS Version"},
      {ueProxyAuthRequired, "Proxy Auth Required"},
      {ueMetaManifestError, "Meta Manifest Error"},
      {ueExceptionInThread, "Exception in Thread"},
      {static_cast<TUpdateError>(8), ""},
  };
  for (const auto& [error, text] : errors) {
    EXPECT_EQ(TUpdateServiceUtils::UpdateErrorToString(error), text) << int(error);
  }
}

TEST_F(ServiceUtilsTest, JobExpiresAfterExactly36Hours) {
  const Platform::TDateTime now = Platform::TDateTime::Encode(2026, 3, 29, 10, 15, 30, 250);
  const Platform::TFakeClock clock(now);
  const double second = 1.0 / 86400.0;
  EXPECT_FALSE(TUpdateServiceUtils::IsBITSJobExpired(now - 1.5, clock));
  EXPECT_TRUE(TUpdateServiceUtils::IsBITSJobExpired(now - 1.5 - second, clock));
  EXPECT_TRUE(TUpdateServiceUtils::IsBITSJobExpired(now - 1.5 - 0.001 * second, clock));
  EXPECT_FALSE(TUpdateServiceUtils::IsBITSJobExpired(now, clock));
  EXPECT_FALSE(TUpdateServiceUtils::IsBITSJobExpired(now + 1.0, clock));  // created "in the future"
}

TEST_F(ServiceUtilsTest, LogFilesWritesTheBlock) {
  const Platform::TFakeClock clock(Platform::TDateTime::Encode(2026, 5, 6, 7, 8, 9, 500));
  TUpdateServiceUtils::LogFiles(TUpdateFileList(), "Nothing", clock);
  TUpdateFileList files;
  files.Add(TUpdateFile("http://h/a.z", "/opt/q/a.txt", fsDownload_Complete, "/dl/a.z"));
  files.Add(TUpdateFile("http://h/b.z", "/opt/q/b.txt", fsInstall_ErrorUncompress, "/dl/b.z"));
  const Platform::TFakeClock midnight(Platform::TDateTime::Encode(2026, 5, 7));
  TUpdateServiceUtils::LogFiles(files, "Files to install", midnight);

  const std::string rule(50, '-');
  const std::string expected = rule + "\r\n2026-05-06 07:08:09\t(0)\tNothing\r\n" + rule + "\r\n\r\n" +  //
                               rule + "\r\n2026-05-07\t(2)\tFiles to install\r\n" + rule + "\r\n" +
                               "\tDownload_Complete\t\t\t/opt/q/a.txt\r\n" + "\t\t\t\t/opt/q/b.txt\r\n\r\n";
  EXPECT_EQ(ReadFile(fDir / "log" / FileName_FilesLog), expected);
}

TEST_F(ServiceUtilsTest, ForceDirectoriesCreatesOrReports) {
  const fs::path nested = fDir / "a" / "b" / "c";
  EXPECT_TRUE(TUpdateServiceUtils::ForceDirectories(nested.string()));
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_TRUE(TUpdateServiceUtils::ForceDirectories(nested.string() + "/"));

  std::ofstream(fDir / "plain") << "x";
  const fs::path blocked = fDir / "plain" / "sub";
  EXPECT_FALSE(TUpdateServiceUtils::ForceDirectories(blocked.string()));
  const std::string log = ReadFile(fDir / "log" / FileName_ServiceLog);
  EXPECT_NE(log.find("\tDirectory doesn't exist and couldn't be created: " + blocked.string() + "\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("--\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("filesystem_error: "), std::string::npos) << log;
}

TEST_F(ServiceUtilsTest, DeleteTempFilesRemovesTheWholeFolder) {
  const fs::path download = fDir / "Download";
  fs::create_directories(download / "Program" / "Sub");
  std::ofstream(download / "Program" / "Sub" / "x.z") << "x";
  TUpdateServiceUtils::DeleteTempFiles((download / "").string());
  EXPECT_FALSE(fs::exists(download));
  EXPECT_TRUE(fs::exists(fDir / "log"));
  TUpdateServiceUtils::DeleteTempFiles((download / "").string());  // missing: nothing happens
  TUpdateServiceUtils::DeleteTempFiles("");
  EXPECT_TRUE(fs::exists(fDir.Path()));
}

}  // namespace
}  // namespace Update::Service
