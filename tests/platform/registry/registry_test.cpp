#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/registry/registry_file.h"
#include "tests/support/temp_dir.h"

namespace Platform::Registry {
namespace {

constexpr THive kMachine = THive::HKEY_LOCAL_MACHINE;
constexpr THive kUser = THive::HKEY_CURRENT_USER;

// The same behaviour from the fake and from the file store.
class RegistryStores : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      fStore = std::make_unique<TFileRegistry>(fFolder.File("sub/machine.reg"), fFolder.File("user.reg"));
    } else {
      fStore = std::make_unique<TMemoryRegistry>();
    }
  }
  QuorvaneTest::TTempDir fFolder{"registry"};
  std::unique_ptr<IRegistry> fStore;
};

TEST_P(RegistryStores, MissingKeysAndValuesAreNotErrors) {
  EXPECT_FALSE(fStore->KeyExists(kMachine, "Software\\Quorvane"));
  EXPECT_EQ(fStore->ReadValue(kMachine, "Software\\Quorvane", "x"), std::nullopt);
  EXPECT_FALSE(fStore->DeleteValue(kMachine, "Software\\Quorvane", "x"));
  EXPECT_TRUE(fStore->KeyExists(kMachine, ""));
}

TEST_P(RegistryStores, KeysAndNamesIgnoreCaseAndHivesAreSeparate) {
  fStore->WriteValue(kMachine, "\\Software\\Quorvane\\Update\\", "EulaVersion", std::uint32_t{3});
  fStore->WriteValue(kUser, "Software\\Quorvane\\Update", "EulaVersion", std::uint32_t{1});
  EXPECT_TRUE(fStore->KeyExists(kMachine, "SOFTWARE\\quorvane"));  // parent of an existing key
  EXPECT_FALSE(fStore->KeyExists(kMachine, "Software\\Quorv"));
  EXPECT_EQ(ReadDWord(*fStore, kMachine, "software\\QUORVANE\\update", "eulaversion"), 3u);
  EXPECT_EQ(ReadDWord(*fStore, kUser, "Software\\Quorvane\\Update", "EulaVersion"), 1u);

  // Rewriting under another spelling replaces the value, whatever its type was.
  fStore->WriteValue(kMachine, "software\\quorvane\\update", "EULAVERSION", std::string("7"));
  EXPECT_EQ(ReadString(*fStore, kMachine, "Software\\Quorvane\\Update", "EulaVersion"), "7");
  EXPECT_TRUE(fStore->DeleteValue(kMachine, "Software\\Quorvane\\Update", "eulaVersion"));
  EXPECT_EQ(fStore->ReadValue(kMachine, "Software\\Quorvane\\Update", "EulaVersion"), std::nullopt);
  EXPECT_TRUE(fStore->DeleteKey(kMachine, "Software"));
  EXPECT_FALSE(fStore->KeyExists(kMachine, "Software\\Quorvane\\Update"));
}

TEST_P(RegistryStores, WrongTypeRaisesNamingTheValue) {
  fStore->WriteValue(kMachine, "K", "Channel", std::string("Release"));
  fStore->WriteValue(kMachine, "K", "Time", TRegBinary{1, 2, 3, 4, 5, 6, 7, 8});
  try {
    (void)ReadDWord(*fStore, kMachine, "K", "Channel");
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_NE(std::string(e.what()).find("Channel"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("REG_SZ"), std::string::npos);
  }
  EXPECT_THROW((void)ReadString(*fStore, kMachine, "K", "Time"), ERegistryException);
  EXPECT_EQ(ReadBinary(*fStore, kMachine, "K", "Time"), (TRegBinary{1, 2, 3, 4, 5, 6, 7, 8}));
}

INSTANTIATE_TEST_SUITE_P(Store, RegistryStores, ::testing::Values(false, true),
                         [](const auto& aInfo) { return aInfo.param ? "File" : "Memory"; });

TEST(RegistryFile, TextFormRoundTripsEveryTypeAndAwkwardTexts) {
  THiveData hive;
  hive.CreateKey("Empty\\Key");
  hive.SetValue("Software\\Q", "Text", std::string("line\none \"quoted\" back\\slash \x01 tab\t \xc3\xa4"));
  hive.SetValue("Software\\Q", "Empty", std::string());
  hive.SetValue("Software\\Q", "Max", std::uint32_t{0xFFFFFFFFu});
  hive.SetValue("Software\\Q", "Bytes", TRegBinary{0x00, 0xff, 0x10});
  hive.SetValue("Software\\Q", "NoBytes", TRegBinary{});
  hive.SetValue("Software\\Q", "name with \"quote\"", std::uint32_t{0});
  std::string text = FormatHive(hive);
  EXPECT_NE(text.find("\"Max\"=dword:ffffffff"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Bytes\"=hex:00,ff,10"), std::string::npos) << text;
  EXPECT_EQ(ParseHive(text, "x"), hive);

  // Hand-edited files may spell hexadecimal digits in either case.
  THiveData edited = ParseHive("[K]\n\"d\"=dword:DEADbeef\n\"b\"=hex:AB,cd\n\"s\"=sz:\"\\x1F\\x7f\"\n", "x");
  EXPECT_EQ(*edited.FindValue("K", "d"), TRegValue(std::uint32_t{0xDEADBEEF}));
  EXPECT_EQ(*edited.FindValue("K", "b"), TRegValue(TRegBinary{0xAB, 0xCD}));
  EXPECT_EQ(*edited.FindValue("K", "s"), TRegValue(std::string("\x1F\x7F")));
}

TEST(RegistryFile, DamagedFileRaisesWithFileAndLine) {
  struct TCase {
    const char* Text;
    int Line;
  };
  const TCase cases[] = {
      {"\"v\"=dword:00000001\n", 1},            // value before any key
      {"[K]\n\"v\"=dword:1\n", 2},              // short dword
      {"[K]\n; comment\n\"v\"=qword:00\n", 3},  // unknown type
      {"[K]\n\"v\"=sz:\"open\n", 2},            // unterminated text
      {"[K]\n\"v\"=hex:0g\n", 2},               // bad byte
      {"[K]\n\"v\"=hex:00,1\n", 2},             // half a byte
      {"[K]\n\"v\"=dword:0000000g\n", 2},       // bad dword digit
      {"[K]\n\"v\"=dword:-0000001\n", 2},       // no sign
      {"[K]\n\"v\"=sz:\"\\x4\"\n", 2},          // short \x escape
      {"[K\n", 1},                              // unterminated key
      {"[K]\n\"v\"=sz:\"a\" trailing\n", 2},    // junk after the text
  };
  for (const TCase& c : cases) {
    try {
      (void)ParseHive(c.Text, "/x/machine.reg");
      ADD_FAILURE() << "accepted: " << c.Text;
    } catch (const ERegistryException& e) {
      EXPECT_NE(std::string(e.what()).find("/x/machine.reg, line " + std::to_string(c.Line)), std::string::npos)
          << e.what();
    }
  }
}

TEST(RegistryFile, DamagedFileIsNotOverwrittenByAWrite) {
  QuorvaneTest::TTempDir folder("registry");
  std::string machine = folder.File("machine.reg");
  std::ofstream(machine) << "[K]\n\"v\"=garbage\n";
  TFileRegistry store(machine, folder.File("user.reg"));
  EXPECT_THROW(store.WriteValue(kMachine, "K", "w", std::uint32_t{1}), ERegistryException);
  EXPECT_EQ(QuorvaneTest::ReadFile(machine), "[K]\n\"v\"=garbage\n");
}

TEST(RegistryFile, UnwritableStoreIsAnAccessError) {
  TFileRegistry store("/proc/qv-no/machine.reg", "/proc/qv-no/user.reg");
  EXPECT_EQ(store.ReadValue(kMachine, "K", "v"), std::nullopt);
  EXPECT_THROW(store.WriteValue(kMachine, "K", "v", std::uint32_t{1}), ERegistryAccessError);
}

TEST(RegistryFile, DefaultFilesFollowTheRoot) {
  QuorvaneTest::TScopedEnv env("QUORVANE_ROOT", "/tmp/qv-reg-root");
  env.Set("XDG_CONFIG_HOME", "/home/u/.config");
  EXPECT_EQ(DefaultHiveFile(kMachine), "/tmp/qv-reg-root/etc/quorvane/registry/machine.reg");
  EXPECT_EQ(DefaultHiveFile(kUser), "/tmp/qv-reg-root/home/u/.config/quorvane/registry/user.reg");
}

// Two real processes write different values of one hive at the same time; every value of
// both must survive.
TEST(RegistryFile, ConcurrentWritersOfTwoProcessesLoseNothing) {
  QuorvaneTest::TTempDir folder("registry");
  const std::string machine = folder.File("machine.reg");
  const std::string user = folder.File("user.reg");
  constexpr int kValuesPerProcess = 60;
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = ::fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      int code = 0;
      try {
        TFileRegistry store(machine, user);
        for (int i = 0; i < kValuesPerProcess; ++i) {
          store.WriteValue(kMachine, "Software\\Quorvane\\Update",
                           "P" + std::to_string(child) + "V" + std::to_string(i), static_cast<std::uint32_t>(i));
        }
      } catch (...) {
        code = 1;
      }
      ::_exit(code);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TFileRegistry store(machine, user);
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < kValuesPerProcess; ++i) {
      EXPECT_EQ(ReadDWord(store, kMachine, "Software\\Quorvane\\Update",
                          "P" + std::to_string(child) + "V" + std::to_string(i)),
                static_cast<std::uint32_t>(i));
    }
  }
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(machine).parent_path())) {
    EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
  }
}

}  // namespace
}  // namespace Platform::Registry
