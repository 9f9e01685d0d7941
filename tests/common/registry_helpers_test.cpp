#include "common/registry_helpers.h"

#include <gtest/gtest.h>

#include "platform/registry/registry_file.h"

namespace Update::Common {
namespace {

namespace Reg = Platform::Registry;
constexpr THive kMachine = THive::HKEY_LOCAL_MACHINE;
constexpr const char* kKey = "Software\\Quorvane\\Update";

class RegistryHelpers : public ::testing::Test {
 protected:
  void SetUp() override { Reg::SetRegistry(&fRegistry); }
  void TearDown() override { Reg::SetRegistry(nullptr); }
  Reg::TMemoryRegistry fRegistry;
};

TEST_F(RegistryHelpers, MissingValuesLeaveTheOutParameterAlone) {
  bool flag = true;
  int number = 42;
  std::string text = "keep";
  Platform::TDateTime time(5.5);
  EXPECT_FALSE(ReadRegBool(kMachine, kKey, "B", flag));
  EXPECT_FALSE(ReadRegInteger(kMachine, kKey, "I", number));
  EXPECT_FALSE(ReadRegString(kMachine, kKey, "S", text));
  EXPECT_FALSE(ReadRegDateTime(kMachine, kKey, "D", time));
  EXPECT_TRUE(flag);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(time.Value(), 5.5);
  EXPECT_EQ(ReadRegIntegerDef(kMachine, kKey, "I", -1), -1);
}

TEST_F(RegistryHelpers, RoundTripsWithTheirStorageTypes) {
  Platform::TDateTime when = Platform::TDateTime::Encode(2016, 3, 4, 5, 6, 7, 8);
  EXPECT_TRUE(WriteRegBool(kMachine, kKey, "B", true));
  EXPECT_TRUE(WriteRegInteger(kMachine, kKey, "I", -7));
  EXPECT_TRUE(WriteRegString(kMachine, kKey, "S", "Release"));
  EXPECT_TRUE(WriteRegDateTime(kMachine, kKey, "D", when));

  EXPECT_EQ(Reg::ReadDWord(fRegistry, kMachine, kKey, "B"), 1u);
  EXPECT_EQ(Reg::ReadDWord(fRegistry, kMachine, kKey, "I"), 0xFFFFFFF9u);
  auto bytes = Reg::ReadBinary(fRegistry, kMachine, kKey, "D");
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->size(), 8u);

  bool flag = false;
  int number = 0;
  std::string text;
  Platform::TDateTime time;
  EXPECT_TRUE(ReadRegBool(kMachine, kKey, "B", flag));
  EXPECT_TRUE(ReadRegInteger(kMachine, kKey, "I", number));
  EXPECT_TRUE(ReadRegString(kMachine, kKey, "S", text));
  EXPECT_TRUE(ReadRegDateTime(kMachine, kKey, "D", time));
  EXPECT_TRUE(flag);
  EXPECT_EQ(number, -7);
  EXPECT_EQ(text, "Release");
  EXPECT_EQ(time, when);

  // Any non-zero DWORD reads as true.
  fRegistry.WriteValue(kMachine, kKey, "B", std::uint32_t{5});
  flag = false;
  EXPECT_TRUE(ReadRegBool(kMachine, kKey, "B", flag));
  EXPECT_TRUE(flag);
}

TEST_F(RegistryHelpers, WrongTypeOrSizeRaises) {
  fRegistry.WriteValue(kMachine, kKey, "I", std::string("3"));
  fRegistry.WriteValue(kMachine, kKey, "D", Reg::TRegBinary{1, 2, 3});
  int number = 0;
  Platform::TDateTime time;
  EXPECT_THROW(ReadRegInteger(kMachine, kKey, "I", number), Reg::ERegistryException);
  EXPECT_THROW(ReadRegDateTime(kMachine, kKey, "D", time), Reg::ERegistryException);
}

TEST(RegistryHelpersOnFiles, UnwritableStoreReportsFalse) {
  Reg::TFileRegistry store("/proc/qv-no/machine.reg", "/proc/qv-no/user.reg");
  Reg::SetRegistry(&store);
  EXPECT_FALSE(WriteRegInteger(kMachine, kKey, "I", 1));
  int number = 3;
  EXPECT_FALSE(ReadRegInteger(kMachine, kKey, "I", number));
  Reg::SetRegistry(nullptr);
}

}  // namespace
}  // namespace Update::Common
