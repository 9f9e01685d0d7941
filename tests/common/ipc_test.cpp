#include "common/ipc.h"
#include "common/settings.h"

#include "common/state.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

namespace Update::Common {
namespace {

using namespace std::chrono_literals;
using T = TUpdateIPCMessageType;

const std::string kService = "quorvane\\UpdateService\\Main";
const std::string kClient = "quorvane\\UpdateClient\\Main";

TBytes Bytes(std::initializer_list<int> aValues) {
  TBytes bytes;
  for (int value : aValues) {
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return bytes;
}

// --- wire format -----------------------------------------------------------------------

TEST(IPCMessageTest, WireFormatIsByteExact) {
  TIPCMessage message;
  message.ID = 0x01020304;
  message.Sender = "A";
  message.Recipient = "\xC3\xA4\xF0\x9F\x98\x80";  // U+00E4 and U+1F600 (a surrogate pair)
  message.MessageType = -2;
  message.Data = Bytes({0xAA, 0xBB});
  const TBytes expected = Bytes({0x04, 0x03, 0x02, 0x01,                                     // ID
                                 0x02, 0,    0,    0,    'A',  0,                            // Sender
                                 0x06, 0,    0,    0,    0xE4, 0,   0x3D, 0xD8, 0x00, 0xDE,  // Recipient
                                 0xFE, 0xFF, 0xFF, 0xFF,                                     // MessageType
                                 0x02, 0,    0,    0,    0xAA, 0xBB});                       // Data
  EXPECT_EQ(message.ToBuffer(), expected);

  const auto parsed = TIPCMessage::Create(expected);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->ID, message.ID);
  EXPECT_EQ(parsed->Sender, message.Sender);
  EXPECT_EQ(parsed->Recipient, message.Recipient);
  EXPECT_EQ(parsed->MessageType, -2);
  EXPECT_EQ(parsed->Data, message.Data);
  EXPECT_EQ(parsed->ToString(),
            "ID = 16909060, Sender = A, Recipient = \xC3\xA4\xF0\x9F\x98\x80, Type = -2, 2 Bytes Data");
}

TEST(IPCMessageTest, EmptyMessageIsTwentyBytes) {
  const TIPCMessage empty;
  const TBytes buffer = empty.ToBuffer();
  EXPECT_EQ(buffer, TBytes(20, 0));
  const auto parsed = TIPCMessage::Create(buffer);
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(parsed->Sender.empty() && parsed->Recipient.empty() && parsed->Data.empty());
}

TEST(IPCMessageTest, SetUpdateChannelBetaEndsWithTypeLengthAndText) {
  TIPCMessage message;
  message.ID = 7;
  message.Sender = kClient;
  message.Recipient = kService;
  message.MessageType = static_cast<std::int32_t>(T::Set_UpdateChannel);
  message.Data = EncodeTextPayload("Beta");
  const TBytes buffer = message.ToBuffer();
  ASSERT_GE(buffer.size(), 16u);
  // 100400003 = 0x05FBFB83
  EXPECT_EQ(TBytes(buffer.end() - 16, buffer.end()),
            Bytes({0x83, 0xFB, 0xFB, 0x05, 8, 0, 0, 0, 'B', 0, 'e', 0, 't', 0, 'a', 0}));
  EXPECT_EQ(buffer.size(), 20 + 2 * (kClient.size() + kService.size()) + 8);
}

TEST(IPCMessageTest, MalformedDatagramsAreRejected) {
  TIPCMessage good;
  good.Sender = "ab";
  good.Recipient = "c";
  good.Data = Bytes({1, 2, 3});
  const TBytes valid = good.ToBuffer();  // n = 4 at 4, m = 2 at 12, type at 18, k = 3 at 22
  ASSERT_TRUE(TIPCMessage::Create(valid));

  auto withInt = [&](std::size_t aOffset, std::uint32_t aValue) {
    TBytes bytes = valid;
    for (int i = 0; i < 4; ++i) {
      bytes[aOffset + i] = static_cast<std::uint8_t>(aValue >> (8 * i));
    }
    return bytes;
  };
  TBytes trailing = valid;
  trailing.push_back(0);
  const struct {
    const char* What;
    TBytes Buffer;
  } cases[] = {
      {"empty", {}},
      {"shorter than the fixed part", TBytes(19, 0)},
      {"data cut short", TBytes(valid.begin(), valid.end() - 1)},
      {"bytes left over", trailing},
      {"negative sender length", withInt(4, 0xFFFFFFFE)},
      {"odd sender length", withInt(4, 3)},
      {"sender beyond the end", withInt(4, 0x7FFFFFFE)},
      {"negative recipient length", withInt(12, 0x80000000)},
      {"odd recipient length", withInt(12, 1)},
      {"recipient beyond the end", withInt(12, 40)},
      {"negative data length", withInt(22, 0xFFFFFFFF)},
      {"huge data length", withInt(22, 0x7FFFFFFF)},
      {"data length one more than present", withInt(22, 4)},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(TIPCMessage::Create(c.Buffer)) << c.What;
  }
}

TEST(IPCMessageTest, PayloadEncodings) {
  EXPECT_EQ(EncodeBoolPayload(true), Bytes({1}));
  EXPECT_EQ(EncodeBoolPayload(false), Bytes({0}));
  EXPECT_FALSE(DecodeBoolPayload({}));
  EXPECT_TRUE(DecodeBoolPayload(Bytes({2})));
  EXPECT_EQ(EncodeIntegerPayload(-5), Bytes({0xFB, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(DecodeIntegerPayload(Bytes({0xFB, 0xFF, 0xFF, 0xFF})), -5);
  EXPECT_FALSE(DecodeIntegerPayload(Bytes({1, 2, 3})));
  EXPECT_EQ(DecodeTextPayload(Bytes({0x41, 0x00, 0x42})), "A");
  EXPECT_EQ(DecodeTextPayload({}), "");
  EXPECT_EQ(DecodeTextPayload(EncodeTextPayload("/opt/Qu\xC3\xB6rvane/quorvane-update")),
            "/opt/Qu\xC3\xB6rvane/quorvane-update");
}

// The catalogue is a wire format: every code as the other side expects it.
TEST(IPCMessageTest, CatalogueHasEveryCodeWithItsPayload) {
  using P = TIPCPayloadKind;
  const struct {
    const char* Name;
    std::int32_t Code;
    P Payload;
  } expected[] = {
      {"Start_FileCheck", 100100000, P::None},
      {"Start_DownloadForeground", 100100001, P::None},
      {"Start_Install", 100100002, P::None},
      {"Start_FileCheckAutoDownload", 100100003, P::None},
      {"Cancel_All", 100200000, P::None},
      {"Query_Progress", 100300000, P::None},
      {"Query_State", 100300001, P::None},
      {"Set_DownloadForeground", 100400000, P::Boolean},
      {"Set_Settings", 100400001, P::Json},
      {"Set_ProxySettings", 100400002, P::Json},
      {"Set_UpdateChannel", 100400003, P::Text},
      {"Complete_FileCheck", 200100000, P::None},
      {"Complete_Download", 200100001, P::None},
      {"Complete_Install", 200100002, P::None},
      {"UpdateDownloadable", 200100003, P::None},
      {"NoUpdateDownloadable", 200100004, P::None},
      {"UpdateInstallable", 200100005, P::None},
      {"ClientNeedsUpdate", 200100006, P::Text},
      {"Progress", 200100007, P::Json},
      {"State", 200100008, P::Json},
      {"Error_Busy", 200200000, P::None},
      {"Error_FileCheck", 200200001, P::None},
      {"Error_Download", 200200002, P::None},
      {"Error_Install", 200200003, P::None},
      {"Error_NoInternetConnection", 200200004, P::None},
      {"Error_BITSUnavailabe", 200200005, P::None},
      {"Error_BITSVersion", 200200006, P::None},
      {"Error_ProxyAuthRequired", 200200007, P::None},
      {"Error_MetaManifest", 200200008, P::None},
  };
  ASSERT_EQ(UpdateIPCMessageCatalogue().size(), std::size(expected));
  for (const auto& e : expected) {
    const auto* byName = FindUpdateIPCMessage(std::string_view(e.Name));
    ASSERT_NE(byName, nullptr) << e.Name;
    EXPECT_EQ(static_cast<std::int32_t>(byName->MessageType), e.Code) << e.Name;
    EXPECT_EQ(byName->Payload, e.Payload) << e.Name;
    EXPECT_EQ(FindUpdateIPCMessage(e.Code), byName);
  }
  EXPECT_EQ(static_cast<std::int32_t>(T::Set_UpdateChannel), 100400003);
  EXPECT_EQ(FindUpdateIPCMessage(100100004), nullptr);
  EXPECT_EQ(FindUpdateIPCMessage(std::string_view("start_filecheck")), nullptr);
}

// --- nodes -----------------------------------------------------------------------------

class IPCNodeTest : public ::testing::Test {
 protected:
  // Takes from aNode until aCount messages arrived or five seconds passed.
  static std::vector<TIPCMessage> Collect(TIPCNode& aNode, std::size_t aCount) {
    std::vector<TIPCMessage> list;
    for (auto end = std::chrono::steady_clock::now() + 5s;
         list.size() < aCount && std::chrono::steady_clock::now() < end;) {
      if (!aNode.GetMessages(list)) {
        std::this_thread::sleep_for(1ms);
      }
    }
    return list;
  }

  // Nothing more arrives within a short while.
  static bool StaysQuiet(TIPCNode& aNode) {
    std::this_thread::sleep_for(100ms);
    std::vector<TIPCMessage> list;
    return !aNode.GetMessages(list);
  }

  QuorvaneTest::TTempRoot fRoot{"ipc"};
};

TEST_F(IPCNodeTest, FirstMessageCarriesIdOneAndAMissingPeerConsumesNoId) {
  TUpdateIPCNode client(kClient, false);
  EXPECT_EQ(client.LastError(), 0);
  EXPECT_FALSE(client.Send(kService, 100300001));
  EXPECT_EQ(client.LastError(), ENOENT);
  EXPECT_EQ(client.LastErrorMessage(), "No such file or directory");

  TUpdateIPCNode service(kService, true);
  ASSERT_TRUE(client.Send(kService, 100300001));
  ASSERT_TRUE(client.Send(kService, 100300000, EncodeBoolPayload(true)));
  const auto messages = Collect(service, 2);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].ID, 1u);
  EXPECT_EQ(messages[0].Sender, kClient);
  EXPECT_EQ(messages[0].Recipient, kService);
  EXPECT_EQ(messages[0].MessageType, 100300001);
  EXPECT_TRUE(messages[0].Data.empty());
  EXPECT_EQ(messages[1].ID, 2u);
  EXPECT_EQ(messages[1].Data, Bytes({1}));
}

TEST_F(IPCNodeTest, TypedSendsGoToTheDefaultRecipientWithTheirPayloads) {
  TUpdateIPCNode service(kService, true);
  TUpdateIPCNode client(kClient, false);
  client.SetDefaultRecipient(kService);
  ASSERT_TRUE(client.Send(T::Start_FileCheck));
  ASSERT_TRUE(client.Send(T::Set_DownloadForeground, false));
  ASSERT_TRUE(client.Send(T::Set_UpdateChannel, "Beta"));
  ASSERT_TRUE(client.Send(T::Set_Settings, std::string("{\"a\":1}")));
  ASSERT_TRUE(client.Send(T::Query_Progress, std::int32_t{-3}));
  ASSERT_TRUE(client.Send(T::Cancel_All, Bytes({7, 8})));
  const auto got = Collect(service, 6);
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0].MessageType, 100100000);
  EXPECT_TRUE(got[0].Data.empty());
  EXPECT_EQ(got[1].Data, Bytes({0}));
  EXPECT_EQ(DecodeTextPayload(got[2].Data), "Beta");
  EXPECT_EQ(DecodeTextPayload(got[3].Data), "{\"a\":1}");
  EXPECT_EQ(DecodeIntegerPayload(got[4].Data), -3);
  EXPECT_EQ(got[5].Data, Bytes({7, 8}));
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].ID, i + 1);
  }
}

TEST_F(IPCNodeTest, BurstSentBeforeTheOwnerTakesArrivesInOneBatchInOrder) {
  TUpdateIPCNode service(kService, true);
  TUpdateIPCNode client(kClient, false);
  client.SetDefaultRecipient(kService);
  constexpr std::uint32_t kCount = 1000;
  for (std::uint32_t i = 0; i < kCount; ++i) {
    ASSERT_TRUE(i % 2 == 0 ? client.Send(T::Query_Progress) : client.Send(T::Set_UpdateChannel, std::to_string(i)));
  }
  std::this_thread::sleep_for(200ms);  // slack for the reader, which drains while we send
  std::vector<TIPCMessage> batch;
  ASSERT_TRUE(service.GetMessages(batch));
  ASSERT_EQ(batch.size(), kCount);
  for (std::uint32_t i = 0; i < kCount; ++i) {
    ASSERT_EQ(batch[i].ID, i + 1);
    if (i % 2 == 1) {
      ASSERT_EQ(DecodeTextPayload(batch[i].Data), std::to_string(i));
    }
  }
}

TEST_F(IPCNodeTest, ProgressAndStateTravelAsCompactJson) {
  TUpdateIPCNode service(kService, true);
  service.SetDefaultRecipient(kClient);
  TUpdateIPCNode client(kClient, false);
  TUpdateProgress progress;
  progress.CurrentAction = usDownloading;
  progress.FilesDone = 3;
  progress.FilesTotal = 7;
  progress.BytesDone = 5000000000LL;
  progress.BytesTotal = 9000000000LL;
  TUpdateState state;
  state.FileCheck().StartTime = Platform::TDateTime::Encode(2026, 12, 11, 8, 30, 15, 250);
  state.FileCheck().EndTime = Platform::TDateTime::Encode(2026, 12, 11, 8, 31);
  state.SetCanDownload(true);
  ASSERT_TRUE(service.Send(T::Progress, progress));
  ASSERT_TRUE(service.Send(T::State, state));
  const auto got = Collect(client, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(DecodeTextPayload(got[0].Data), progress.SaveToJson(false));
  EXPECT_EQ(TUpdateProgress::Create(DecodeTextPayload(got[0].Data)), progress);
  EXPECT_EQ(DecodeTextPayload(got[1].Data).find('\n'), std::string::npos);
  TUpdateState received;
  received.LoadFromJson(DecodeTextPayload(got[1].Data));
  EXPECT_EQ(received.FileCheck(), state.FileCheck());
  EXPECT_TRUE(received.CanDownload());
  EXPECT_FALSE(received.CanInstall());
}

TEST_F(IPCNodeTest, SettingsAndProxySettingsTravelAsCompactJson) {
  TUpdateIPCNode client(kClient, true);
  client.SetDefaultRecipient(kService);
  TUpdateIPCNode service(kService, false);
  TUpdateSettings settings;
  settings.TrayVisible = TSettings_TrayVisible::tvOnActivity;
  TProxySettings proxy;
  proxy.Manual = true;
  proxy.Manual_Address = "proxy.example";
  proxy.Manual_Port = 3128;
  proxy.Manual_Auth = true;
  proxy.Manual_Username = "user";
  proxy.Manual_Password = "Geheim!";
  ASSERT_TRUE(client.Send(T::Set_Settings, settings));
  ASSERT_TRUE(client.Send(T::Set_ProxySettings, proxy));
  const auto got = Collect(service, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(TUpdateSettings::Create(DecodeTextPayload(got[0].Data)), settings);
  const std::string proxyJson = DecodeTextPayload(got[1].Data);
  EXPECT_EQ(proxyJson.find("Geheim!"), std::string::npos) << "the password travels protected";
  const TProxySettings received = TProxySettings::Create(proxyJson);
  EXPECT_EQ(received.Manual_Address, "proxy.example");
  EXPECT_EQ(received.Manual_Port, 3128);
  EXPECT_EQ(received.Manual_Username, "user");
  EXPECT_EQ(received.Manual_Password, "Geheim!");
}

TEST_F(IPCNodeTest, LatchBlocksPlainSendsUntilTheDefaultRecipientIsAssigned) {
  TUpdateIPCNode client(kClient, false);
  int sendErrors = 0;
  client.SetOnSendError([&](TUpdateIPCNode& aSender) {
    EXPECT_EQ(&aSender, &client);
    ++sendErrors;
  });
  client.SetDefaultRecipient(kService);
  EXPECT_FALSE(client.Send(100300001, TBytes()));
  EXPECT_EQ(sendErrors, 1);

  TUpdateIPCNode service(kService, true);
  EXPECT_FALSE(client.Send(100300001, TBytes()));  // latched, not even tried
  EXPECT_EQ(sendErrors, 2);
  EXPECT_TRUE(client.Send(T::Query_State));  // typed sends ignore the latch
  EXPECT_EQ(sendErrors, 2);
  const auto first = Collect(service, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].ID, 1u);

  client.SetDefaultRecipient(kService);
  EXPECT_TRUE(client.Send(100300000, TBytes()));
  EXPECT_EQ(sendErrors, 2);
  const auto second = Collect(service, 1);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].ID, 2u);
}

TEST_F(IPCNodeTest, MutedNodeSendsNothing) {
  TUpdateIPCNode service(kService, true);
  TUpdateIPCNode client(kClient, false);
  client.SetDefaultRecipient(kService);
  client.SetSendMessages(false);
  EXPECT_FALSE(client.Send(T::Start_FileCheck));
  EXPECT_FALSE(client.Send(T::Set_DownloadForeground, true));
  EXPECT_FALSE(client.Send(T::Set_UpdateChannel, "Beta"));
  EXPECT_FALSE(client.Send(kService, 100100000));
  EXPECT_TRUE(StaysQuiet(service));
  client.SetSendMessages(true);
  ASSERT_TRUE(client.Send(T::Start_FileCheck));
  const auto got = Collect(service, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].ID, 1u);  // muted sends used no ID
}

TEST_F(IPCNodeTest, MalformedDatagramsAreDroppedAndTheRestArrives) {
  TUpdateIPCNode service(kService, true);
  TMailslotClient raw(kService);
  ASSERT_TRUE(raw.Connect());
  ASSERT_TRUE(raw.Send(Bytes({1, 2, 3})));
  TBytes lying = TIPCMessage{}.ToBuffer();
  lying[16] = 0xFF;  // data length 255 with no data
  ASSERT_TRUE(raw.Send(lying));
  TIPCMessage good;
  good.ID = 42;
  good.MessageType = 200100004;
  ASSERT_TRUE(raw.Send(good.ToBuffer()));
  const auto got = Collect(service, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].ID, 42u);
  EXPECT_EQ(service.DroppedDatagrams(), 2u);
}

TEST_F(IPCNodeTest, ServiceEndpointIsWritableByAnyAccountAndTheClientsIsNot) {
  TUpdateIPCNode service(kService, true);
  TUpdateIPCNode client(kClient, false);
  struct stat info {};
  ASSERT_EQ(::stat(TMailslotClient(kService).FullName().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u);
  ASSERT_EQ(::stat(TMailslotClient(kClient).FullName().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(IPCNodeTest, SecondNodeOfANameCanSendButNotReceive) {
  TUpdateIPCNode first(kService, true);
  TUpdateIPCNode second(kService, true);
  EXPECT_EQ(second.LastError(), EADDRINUSE);
  EXPECT_EQ(second.LastErrorMessage(), "Address already in use");
  TUpdateIPCNode client(kClient, false);
  ASSERT_TRUE(second.Send(kClient, 200100000));
  EXPECT_EQ(Collect(client, 1).size(), 1u);
  std::vector<TIPCMessage> list;
  EXPECT_FALSE(second.GetMessages(list));
  EXPECT_EQ(second.LastError(), EADDRINUSE);
}

TEST_F(IPCNodeTest, CheckForServerTellsAMissingServerFromARunningOne) {
  EXPECT_FALSE(TUpdateIPCNode::CheckForServer(kService));
  {
    TUpdateIPCNode service(kService, true);
    EXPECT_TRUE(TUpdateIPCNode::CheckForServer(kService));
  }
  EXPECT_FALSE(TUpdateIPCNode::CheckForServer(kService));
}

TEST_F(IPCNodeTest, RaiseExceptionsOnSendThrowsForAMissingPeer) {
  TUpdateIPCNode client(kClient, false);
  client.SetRaiseExceptionsOnSend(true);
  EXPECT_THROW(client.Send(kService, 100100000), EWinAPIException);
  // The lock was released: the node still works.
  TUpdateIPCNode service(kService, true);
  EXPECT_TRUE(client.Send(kService, 100100000));
  EXPECT_EQ(Collect(service, 1).at(0).ID, 1u);
}

TEST_F(IPCNodeTest, ConcurrentSendersGetDistinctIds) {
  TUpdateIPCNode service(kService, true);
  TUpdateIPCNode client(kClient, false);
  client.SetDefaultRecipient(kService);
  constexpr int kPerThread = 300;
  auto sender = [&] {
    for (int i = 0; i < kPerThread; ++i) {
      EXPECT_TRUE(client.Send(T::Query_Progress));
    }
  };
  std::thread a(sender), b(sender);
  std::vector<TIPCMessage> got;
  std::thread receiver([&] { got = Collect(service, 2 * kPerThread); });
  a.join();
  b.join();
  receiver.join();
  ASSERT_EQ(got.size(), 2u * kPerThread);
  std::set<std::uint32_t> ids;
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].ID, i + 1) << "arrival order is sending order";
    ids.insert(got[i].ID);
  }
  EXPECT_EQ(ids.size(), got.size());
}

}  // namespace
}  // namespace Update::Common
