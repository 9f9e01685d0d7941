#pragma once

// The messages between the update client and the update service, and the nodes that
// send and receive them.
//
// Wire format of one message, one datagram, integers little-endian, texts UTF-16LE code
// units without terminator:
//   0        4  ID
//   4        4  n = byte length of Sender (signed)
//   8        n  Sender
//   8+n      4  m = byte length of Recipient (signed)
//   12+n     m  Recipient
//   12+n+m   4  MessageType (signed)
//   16+n+m   4  k = byte length of Data (signed)
//   20+n+m   k  Data
// The datagram is exactly 20+n+m+k bytes.
//
// Payloads: none (k = 0); Boolean (1 byte, 0 or 1); integer (4 bytes, signed LE); text
// (UTF-16LE code units, no terminator, no length); JSON text (a text holding compact JSON).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/mailslot.h"

namespace Update::Common {

struct TUpdateProgress;
class TUpdateState;
struct TUpdateSettings;
struct TProxySettings;

// Message codes D GGG NNNNN: D = 1 client to service, 2 service to client; GGG group;
// NNNNN number in the group. The values are the wire format: never change or reuse one.
enum class TUpdateIPCMessageType : std::int32_t {
  // Client to service.
  Start_FileCheck = 100100000,
  Start_DownloadForeground = 100100001,
  Start_Install = 100100002,
  Start_FileCheckAutoDownload = 100100003,
  Cancel_All = 100200000,
  Query_Progress = 100300000,
  Query_State = 100300001,
  Set_DownloadForeground = 100400000,  // Boolean
  Set_Settings = 100400001,            // JSON text of TUpdateSettings
  Set_ProxySettings = 100400002,       // JSON text of TProxySettings
  Set_UpdateChannel = 100400003,       // text: channel name
  // Service to client.
  Complete_FileCheck = 200100000,
  Complete_Download = 200100001,
  Complete_Install = 200100002,
  UpdateDownloadable = 200100003,
  NoUpdateDownloadable = 200100004,
  UpdateInstallable = 200100005,
  ClientNeedsUpdate = 200100006,  // text: full path of the new client program
  Progress = 200100007,           // JSON text of TUpdateProgress
  State = 200100008,              // JSON text of TUpdateState
  Error_Busy = 200200000,
  Error_FileCheck = 200200001,
  Error_Download = 200200002,
  Error_Install = 200200003,
  Error_NoInternetConnection = 200200004,
  Error_BITSUnavailabe = 200200005,
  Error_BITSVersion = 200200006,
  Error_ProxyAuthRequired = 200200007,
  Error_MetaManifest = 200200008,
};

enum class TIPCPayloadKind { None, Boolean, Integer, Text, Json };

struct TUpdateIPCMessageInfo {
  TUpdateIPCMessageType MessageType;
  std::string_view Name;
  TIPCPayloadKind Payload;
};

// Every code of the catalogue, in code order.
std::span<const TUpdateIPCMessageInfo> UpdateIPCMessageCatalogue();
// The catalogue entry of a code, or nothing for an unknown code.
const TUpdateIPCMessageInfo* FindUpdateIPCMessage(std::int32_t aCode);
// The entry whose name is aName (exact spelling), or nothing.
const TUpdateIPCMessageInfo* FindUpdateIPCMessage(std::string_view aName);

// Payload encodings.
TBytes EncodeBoolPayload(bool aValue);
TBytes EncodeIntegerPayload(std::int32_t aValue);
// aText is UTF-8; the payload carries its UTF-16LE code units.
TBytes EncodeTextPayload(std::string_view aText);
// The first byte as a Boolean (non-zero = true); false for an empty payload.
bool DecodeBoolPayload(std::span<const std::uint8_t> aData);
// The UTF-16LE payload as UTF-8 (an odd last byte is ignored); empty for an empty payload.
std::string DecodeTextPayload(std::span<const std::uint8_t> aData);
// The first four bytes as a signed little-endian integer; nothing when shorter.
std::optional<std::int32_t> DecodeIntegerPayload(std::span<const std::uint8_t> aData);

struct TIPCMessage {
  std::uint32_t ID = 0;
  std::string Sender;     // UTF-8; the sender's own mailslot name
  std::string Recipient;  // UTF-8; the mailslot name the message was sent to
  std::int32_t MessageType = 0;
  TBytes Data;

  TBytes ToBuffer() const;
  // Parses one datagram. A malformed datagram yields nothing and is never read beyond its
  // end: shorter than 20 bytes; a negative text or data length; an odd text length (no
  // sender of this system writes half a code unit); lengths that do not add up to exactly
  // the datagram's size (data missing, or bytes left over).
  static std::optional<TIPCMessage> Create(std::span<const std::uint8_t> aBuffer);
  // "ID = %d, Sender = %s, Recipient = %s, Type = %d, %d Bytes Data"
  std::string ToString() const;
};

// One side of the messaging: owns a mailslot server under its own name and sends each
// message through a new mailslot client. Not thread-safe (see TIPCNodeThreadSafe).
class TIPCNode {
 public:
  static constexpr int kSleepIntervall = 25;

  // Opens the node's own mailslot aName (no size limit; for a service, writable by any
  // account) and starts its reader. A failed start is kept in LastError/LastErrorMessage
  // and leaves a node that can send but never receives.
  TIPCNode(std::string aName, bool aIsService);
  virtual ~TIPCNode();
  TIPCNode(const TIPCNode&) = delete;
  TIPCNode& operator=(const TIPCNode&) = delete;

  // To DefaultRecipient. False at once while the latch is set (a former send of this kind
  // failed and DefaultRecipient was not assigned since); a failure sets the latch.
  virtual bool Send(std::int32_t aMessageType, const TBytes& aData);
  // Connects to aRecipient, numbers the message (an ID is used only when the connect
  // succeeded) and sends it as one datagram. False when the peer is missing or the write
  // failed; LastError/LastErrorMessage then hold the reason.
  virtual bool Send(const std::string& aRecipient, std::int32_t aMessageType, const TBytes& aData);
  bool Send(std::int32_t aMessageType) { return Send(aMessageType, TBytes()); }
  bool Send(const std::string& aRecipient, std::int32_t aMessageType) {
    return Send(aRecipient, aMessageType, TBytes());
  }

  // Appends the waiting messages, parsed, in arrival order; true when at least one was
  // taken. Malformed datagrams are dropped (counted in DroppedDatagrams). When nothing
  // was taken the server's last error is copied into the node.
  virtual bool GetMessages(std::vector<TIPCMessage>& aList);

  const std::string& Name() const;
  int LastError() const { return fLastError; }
  const std::string& LastErrorMessage() const { return fLastErrorMessage; }
  // Assign before the node is shared between threads.
  const std::string& DefaultRecipient() const { return fDefaultRecipient; }
  void SetDefaultRecipient(const std::string& aValue);
  bool RaiseExceptionsOnSend() const { return fRaiseExceptionsOnSend; }
  void SetRaiseExceptionsOnSend(bool aValue) { fRaiseExceptionsOnSend = aValue; }
  bool RaiseExceptionsOnReceive() const;
  void SetRaiseExceptionsOnReceive(bool aValue);
  // Datagrams that arrived but were not well-formed messages.
  std::uint64_t DroppedDatagrams() const { return fDroppedDatagrams; }

 protected:
  bool DefaultRecipientUnavailable() const { return fDefaultRecipientUnavailable; }

 private:
  std::unique_ptr<TMailslotServerNonBlocking> fServer;
  int fLastError = 0;
  std::string fLastErrorMessage;
  std::uint32_t fCurrentID = 0;
  std::string fDefaultRecipient;
  std::atomic<bool> fDefaultRecipientUnavailable{false};
  bool fRaiseExceptionsOnSend = false;
  std::atomic<std::uint64_t> fDroppedDatagrams{0};
};

// Serialises every send to a recipient and every GetMessages of one node with one lock,
// so the node may be used from several threads.
class TIPCNodeThreadSafe : public TIPCNode {
 public:
  using TIPCNode::Send;
  using TIPCNode::TIPCNode;
  bool Send(const std::string& aRecipient, std::int32_t aMessageType, const TBytes& aData) override;
  bool GetMessages(std::vector<TIPCMessage>& aList) override;

 private:
  std::mutex fLock;
};

class TUpdateIPCNode : public TIPCNodeThreadSafe {
 public:
  using TNotifyEvent = std::function<void(TUpdateIPCNode& aSender)>;

  TUpdateIPCNode(std::string aName, bool aIsService);

  using TIPCNodeThreadSafe::Send;
  // False without sending while SendMessages is false.
  bool Send(const std::string& aRecipient, std::int32_t aMessageType, const TBytes& aData) override;
  // The latched send; raises OnSendError afterwards while the latch is set.
  bool Send(std::int32_t aMessageType, const TBytes& aData) override;

  // Typed sends to DefaultRecipient: they neither consult nor set the latch and never
  // raise OnSendError.
  bool Send(TUpdateIPCMessageType aMessageType);
  bool Send(TUpdateIPCMessageType aMessageType, bool aValue);
  bool Send(TUpdateIPCMessageType aMessageType, std::int32_t aValue);
  bool Send(TUpdateIPCMessageType aMessageType, std::string_view aText);
  bool Send(TUpdateIPCMessageType aMessageType, const char* aText) {
    return Send(aMessageType, std::string_view(aText));
  }
  bool Send(TUpdateIPCMessageType aMessageType, const std::string& aText) {
    return Send(aMessageType, std::string_view(aText));
  }
  bool Send(TUpdateIPCMessageType aMessageType, const TBytes& aData);
  // JSON text payloads: the compact JSON of the record.
  bool Send(TUpdateIPCMessageType aMessageType, const TUpdateProgress& aProgress);
  bool Send(TUpdateIPCMessageType aMessageType, const TUpdateState& aState);
  bool Send(TUpdateIPCMessageType aMessageType, const TUpdateSettings& aSettings);
  // The four proxy texts travel in their protected form, as in "update.proxy.json".
  bool Send(TUpdateIPCMessageType aMessageType, const TProxySettings& aProxySettings);

  // True when a process owns the mailslot aServerName.
  static bool CheckForServer(const std::string& aServerName);

  // Any thread may read it; the client's OnSendError handler changes it.
  bool SendMessages() const { return fSendMessages; }
  void SetSendMessages(bool aValue) { fSendMessages = aValue; }
  // Runs on the thread of the failing send.
  const TNotifyEvent& OnSendError() const { return fOnSendError; }
  void SetOnSendError(TNotifyEvent aHandler) { fOnSendError = std::move(aHandler); }

 private:
  std::atomic<bool> fSendMessages{true};
  TNotifyEvent fOnSendError;
};

}  // namespace Update::Common
