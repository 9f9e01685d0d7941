#include "common/ipc.h"

#include <algorithm>
#include <array>
#include <limits>

#include "common/settings.h"
#include "common/state.h"
#include "common/utils.h"
#include "platform/text/text.h"

namespace Update::Common {

namespace {

using T = TUpdateIPCMessageType;
using P = TIPCPayloadKind;

constexpr std::array<TUpdateIPCMessageInfo, 29> kCatalogue{{
    {T::Start_FileCheck, "Start_FileCheck", P::None},
    {T::Start_DownloadForeground, "Start_DownloadForeground", P::None},
    {T::Start_Install, "Start_Install", P::None},
    {T::Start_FileCheckAutoDownload, "Start_FileCheckAutoDownload", P::None},
    {T::Cancel_All, "Cancel_All", P::None},
    {T::Query_Progress, "Query_Progress", P::None},
    {T::Query_State, "Query_State", P::None},
    {T::Set_DownloadForeground, "Set_DownloadForeground", P::Boolean},
    {T::Set_Settings, "Set_Settings", P::Json},
    {T::Set_ProxySettings, "Set_ProxySettings", P::Json},
    {T::Set_UpdateChannel, "Set_UpdateChannel", P::Text},
    {T::Complete_FileCheck, "Complete_FileCheck", P::None},
    {T::Complete_Download, "Complete_Download", P::None},
    {T::Complete_Install, "Complete_Install", P::None},
    {T::UpdateDownloadable, "UpdateDownloadable", P::None},
    {T::NoUpdateDownloadable, "NoUpdateDownloadable", P::None},
    {T::UpdateInstallable, "UpdateInstallable", P::None},
    {T::ClientNeedsUpdate, "ClientNeedsUpdate", P::Text},
    {T::Progress, "Progress", P::Json},
    {T::State, "State", P::Json},
    {T::Error_Busy, "Error_Busy", P::None},
    {T::Error_FileCheck, "Error_FileCheck", P::None},
    {T::Error_Download, "Error_Download", P::None},
    {T::Error_Install, "Error_Install", P::None},
    {T::Error_NoInternetConnection, "Error_NoInternetConnection", P::None},
    {T::Error_BITSUnavailabe, "Error_BITSUnavailabe", P::None},
    {T::Error_BITSVersion, "Error_BITSVersion", P::None},
    {T::Error_ProxyAuthRequired, "Error_ProxyAuthRequired", P::None},
    {T::Error_MetaManifest, "Error_MetaManifest", P::None},
}};

void PutInt32(TBytes& aBuffer, std::uint32_t aValue) {
  for (int shift = 0; shift < 32; shift += 8) {
    aBuffer.push_back(static_cast<std::uint8_t>(aValue >> shift));
  }
}

std::uint32_t GetUInt32(const std::uint8_t* aBytes) {
  return static_cast<std::uint32_t>(aBytes[0]) | static_cast<std::uint32_t>(aBytes[1]) << 8 |
         static_cast<std::uint32_t>(aBytes[2]) << 16 | static_cast<std::uint32_t>(aBytes[3]) << 24;
}

// Appends a length-prefixed UTF-16LE text.
void PutText(TBytes& aBuffer, std::string_view aText) {
  const std::string bytes = Platform::Text::Utf8ToUtf16LeBytes(aText);
  PutInt32(aBuffer, static_cast<std::uint32_t>(bytes.size()));
  aBuffer.insert(aBuffer.end(), bytes.begin(), bytes.end());
}

std::string_view AsText(std::span<const std::uint8_t> aBytes) {
  return std::string_view(reinterpret_cast<const char*>(aBytes.data()), aBytes.size());
}

// Reads one length-prefixed part at aOffset. The length must be non-negative, even when
// aText, and leave room for aReserve more bytes after the part.
bool GetPart(std::span<const std::uint8_t> aBuffer, std::size_t& aOffset, std::size_t aReserve, bool aText,
             std::span<const std::uint8_t>& aPart) {
  if (aBuffer.size() - aOffset < 4) {
    return false;
  }
  const auto length = static_cast<std::int32_t>(GetUInt32(aBuffer.data() + aOffset));
  aOffset += 4;
  if (length < 0 || (aText && length % 2 != 0)) {
    return false;
  }
  const auto size = static_cast<std::size_t>(length);
  if (aBuffer.size() - aOffset < aReserve || aBuffer.size() - aOffset - aReserve < size) {
    return false;
  }
  aPart = aBuffer.subspan(aOffset, size);
  aOffset += size;
  return true;
}

}  // namespace

// --- catalogue and payloads --------------------------------------------------------------

std::span<const TUpdateIPCMessageInfo> UpdateIPCMessageCatalogue() {
  return kCatalogue;
}

const TUpdateIPCMessageInfo* FindUpdateIPCMessage(std::int32_t aCode) {
  const auto found = std::find_if(kCatalogue.begin(), kCatalogue.end(), [aCode](const auto& aInfo) {
    return static_cast<std::int32_t>(aInfo.MessageType) == aCode;
  });
  return found == kCatalogue.end() ? nullptr : &*found;
}

const TUpdateIPCMessageInfo* FindUpdateIPCMessage(std::string_view aName) {
  const auto found =
      std::find_if(kCatalogue.begin(), kCatalogue.end(), [aName](const auto& aInfo) { return aInfo.Name == aName; });
  return found == kCatalogue.end() ? nullptr : &*found;
}

TBytes EncodeBoolPayload(bool aValue) {
  return TBytes{static_cast<std::uint8_t>(aValue ? 1 : 0)};
}

TBytes EncodeIntegerPayload(std::int32_t aValue) {
  TBytes bytes;
  PutInt32(bytes, static_cast<std::uint32_t>(aValue));
  return bytes;
}

TBytes EncodeTextPayload(std::string_view aText) {
  const std::string bytes = Platform::Text::Utf8ToUtf16LeBytes(aText);
  return TBytes(bytes.begin(), bytes.end());
}

bool DecodeBoolPayload(std::span<const std::uint8_t> aData) {
  return TUpdateUtils::GetBoolFromBuffer(AsText(aData));
}

std::string DecodeTextPayload(std::span<const std::uint8_t> aData) {
  return TUpdateUtils::GetStringFromBuffer(AsText(aData));
}

std::optional<std::int32_t> DecodeIntegerPayload(std::span<const std::uint8_t> aData) {
  if (aData.size() < 4) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(GetUInt32(aData.data()));
}

// --- TIPCMessage -------------------------------------------------------------------------

TBytes TIPCMessage::ToBuffer() const {
  TBytes buffer;
  buffer.reserve(20 + 2 * (Sender.size() + Recipient.size()) + Data.size());
  PutInt32(buffer, ID);
  PutText(buffer, Sender);
  PutText(buffer, Recipient);
  PutInt32(buffer, static_cast<std::uint32_t>(MessageType));
  PutInt32(buffer, static_cast<std::uint32_t>(Data.size()));
  buffer.insert(buffer.end(), Data.begin(), Data.end());
  return buffer;
}

std::optional<TIPCMessage> TIPCMessage::Create(std::span<const std::uint8_t> aBuffer) {
  if (aBuffer.size() < 20) {
    return std::nullopt;
  }
  TIPCMessage message;
  message.ID = GetUInt32(aBuffer.data());
  std::size_t offset = 4;
  std::span<const std::uint8_t> sender, recipient, data;
  // After the sender 12 fixed bytes follow (recipient length, type, data length); after
  // the recipient 8.
  if (!GetPart(aBuffer, offset, 12, true, sender) || !GetPart(aBuffer, offset, 8, true, recipient)) {
    return std::nullopt;
  }
  message.MessageType = static_cast<std::int32_t>(GetUInt32(aBuffer.data() + offset));
  offset += 4;
  if (!GetPart(aBuffer, offset, 0, false, data) || offset != aBuffer.size()) {
    return std::nullopt;
  }
  message.Sender = TUpdateUtils::GetStringFromBuffer(AsText(sender));
  message.Recipient = TUpdateUtils::GetStringFromBuffer(AsText(recipient));
  message.Data.assign(data.begin(), data.end());
  return message;
}

std::string TIPCMessage::ToString() const {
  return "ID = " + std::to_string(ID) + ", Sender = " + Sender + ", Recipient = " + Recipient +
         ", Type = " + std::to_string(MessageType) + ", " + std::to_string(Data.size()) + " Bytes Data";
}

// --- TIPCNode ----------------------------------------------------------------------------

TIPCNode::TIPCNode(std::string aName, bool aIsService)
    : fServer(std::make_unique<TMailslotServerNonBlocking>(std::move(aName), 0)) {
  fServer->SetRaiseExceptions(false);
  fServer->SetUseDefaultSecurityAttributes(!aIsService);
  fServer->SetSleepIntervall(kSleepIntervall);
  if (!fServer->Start()) {
    fLastError = fServer->LastError();
    fLastErrorMessage = fServer->LastErrorMessage();
  }
}

TIPCNode::~TIPCNode() = default;

const std::string& TIPCNode::Name() const {
  return fServer->Name();
}

void TIPCNode::SetDefaultRecipient(const std::string& aValue) {
  fDefaultRecipient = aValue;
  fDefaultRecipientUnavailable = false;
}

bool TIPCNode::RaiseExceptionsOnReceive() const {
  return fServer->RaiseExceptions();
}

void TIPCNode::SetRaiseExceptionsOnReceive(bool aValue) {
  fServer->SetRaiseExceptions(aValue);
}

bool TIPCNode::Send(std::int32_t aMessageType, const TBytes& aData) {
  if (fDefaultRecipientUnavailable) {
    return false;
  }
  const bool sent = Send(fDefaultRecipient, aMessageType, aData);
  if (!sent) {
    fDefaultRecipientUnavailable = true;
  }
  return sent;
}

bool TIPCNode::Send(const std::string& aRecipient, std::int32_t aMessageType, const TBytes& aData) {
  TMailslotClient client(aRecipient);
  client.SetRaiseExceptions(fRaiseExceptionsOnSend);
  bool sent = false;
  if (client.Connect()) {
    TIPCMessage message;
    message.ID = ++fCurrentID;
    message.Sender = Name();
    message.Recipient = aRecipient;
    message.MessageType = aMessageType;
    message.Data = aData;
    sent = client.Send(message.ToBuffer());
  }
  if (!sent) {
    fLastError = client.LastError();
    fLastErrorMessage = client.LastErrorMessage();
  }
  return sent;
}

bool TIPCNode::GetMessages(std::vector<TIPCMessage>& aList) {
  std::vector<TBytes> datagrams;
  fServer->GetMessages(datagrams);
  const std::size_t before = aList.size();
  for (const auto& datagram : datagrams) {
    if (auto message = TIPCMessage::Create(datagram)) {
      aList.push_back(std::move(*message));
    } else {
      ++fDroppedDatagrams;
    }
  }
  if (aList.size() == before) {
    fLastError = fServer->LastError();
    fLastErrorMessage = fServer->LastErrorMessage();
    return false;
  }
  return true;
}

// --- TIPCNodeThreadSafe --------------------------------------------------------------------

bool TIPCNodeThreadSafe::Send(const std::string& aRecipient, std::int32_t aMessageType, const TBytes& aData) {
  std::lock_guard lock(fLock);
  return TIPCNode::Send(aRecipient, aMessageType, aData);
}

bool TIPCNodeThreadSafe::GetMessages(std::vector<TIPCMessage>& aList) {
  std::lock_guard lock(fLock);
  return TIPCNode::GetMessages(aList);
}

// --- TUpdateIPCNode ------------------------------------------------------------------------

TUpdateIPCNode::TUpdateIPCNode(std::string aName, bool aIsService) : TIPCNodeThreadSafe(std::move(aName), aIsService) {}

bool TUpdateIPCNode::Send(const std::string& aRecipient, std::int32_t aMessageType, const TBytes& aData) {
  if (!fSendMessages) {
    return false;
  }
  return TIPCNodeThreadSafe::Send(aRecipient, aMessageType, aData);
}

bool TUpdateIPCNode::Send(std::int32_t aMessageType, const TBytes& aData) {
  const bool sent = TIPCNodeThreadSafe::Send(aMessageType, aData);
  if (DefaultRecipientUnavailable() && fOnSendError) {
    fOnSendError(*this);
  }
  return sent;
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType) {
  return Send(aMessageType, TBytes());
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, bool aValue) {
  return Send(aMessageType, EncodeBoolPayload(aValue));
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, std::int32_t aValue) {
  return Send(aMessageType, EncodeIntegerPayload(aValue));
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, std::string_view aText) {
  return Send(aMessageType, EncodeTextPayload(aText));
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, const TBytes& aData) {
  return Send(DefaultRecipient(), static_cast<std::int32_t>(aMessageType), aData);
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, const TUpdateProgress& aProgress) {
  return Send(aMessageType, EncodeTextPayload(aProgress.SaveToJson(false)));
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, const TUpdateState& aState) {
  return Send(aMessageType, EncodeTextPayload(aState.SaveToJson(false)));
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, const TUpdateSettings& aSettings) {
  return Send(aMessageType, EncodeTextPayload(aSettings.SaveToJson(false)));
}

bool TUpdateIPCNode::Send(TUpdateIPCMessageType aMessageType, const TProxySettings& aProxySettings) {
  return Send(aMessageType, EncodeTextPayload(aProxySettings.SaveToJson(false)));
}

bool TUpdateIPCNode::CheckForServer(const std::string& aServerName) {
  TMailslotClient client(aServerName);
  client.SetRaiseExceptions(false);
  return client.Connect();
}

}  // namespace Update::Common
