#include "common/winapi_consumer.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace Update::Common {
namespace {

class TMailslotProbe : public TWinAPIConsumerPublic {
 public:
  void FailSimple(const char* aMessage) {
    errno = ENOENT;
    HandleLastError(aMessage);
  }
  void FailEx(const char* aMessage) {
    errno = EEXIST;
    HandleLastErrorEx("StartServer", "CreateMailslot", aMessage);
  }
};

TEST(WinAPIConsumer, StartsCleanAndRaisesByDefault) {
  TMailslotProbe probe;
  EXPECT_EQ(probe.LastError(), 0);
  EXPECT_EQ(probe.LastErrorMessage(), "");
  EXPECT_TRUE(probe.RaiseExceptions());
  EXPECT_THROW(probe.FailSimple(""), EWinAPIException);
  EXPECT_EQ(probe.LastError(), ENOENT);
}

TEST(WinAPIConsumer, FormatsTheRecordedError) {
  TMailslotProbe probe;
  probe.SetRaiseExceptions(false);
  probe.FailSimple("  Could not open  ");
  EXPECT_EQ(probe.LastErrorMessage(), "No such file or directory");
  EXPECT_EQ(probe.LastErrorMessageFull(), "Could not open\r\nError: 2, No such file or directory");

  probe.FailEx("");
  EXPECT_EQ(probe.LastError(), EEXIST);
  EXPECT_EQ(probe.LastErrorMessageFull(), "TMailslotProbe.StartServer(): CreateMailslot (17, File exists)");

  probe.SetRaiseExceptions(true);
  try {
    probe.FailEx("ctx");
    FAIL();
  } catch (const EWinAPIException& e) {
    EXPECT_STREQ(e.what(), "ctx\r\nTMailslotProbe.StartServer(): CreateMailslot (17, File exists)");
  }
}

TEST(WinAPIConsumer, SystemMessageLosesTrailingStopsAndBlanks) {
  EXPECT_EQ(SystemErrorMessage(EACCES), "Permission denied");
  EXPECT_FALSE(SystemErrorMessage(99999).empty());
}

}  // namespace
}  // namespace Update::Common
