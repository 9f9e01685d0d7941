// Feeds arbitrary datagrams to the message parser: it must never read beyond the buffer,
// and whatever it accepts must serialise back into a message it accepts again unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "common/ipc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  using Update::Common::TIPCMessage;
  const auto message = TIPCMessage::Create(std::span<const std::uint8_t>(aData, aSize));
  if (!message) {
    return 0;
  }
  // Texts are normalised once (an unpaired surrogate becomes U+FFFD); after that the
  // message must be a fixed point of ToBuffer and Create.
  const auto buffer = message->ToBuffer();
  const auto again = TIPCMessage::Create(buffer);
  if (!again || again->ID != message->ID || again->Sender != message->Sender ||
      again->Recipient != message->Recipient || again->MessageType != message->MessageType ||
      again->Data != message->Data || again->ToBuffer() != buffer) {
    std::abort();
  }
  (void)message->ToString();
  (void)Update::Common::DecodeTextPayload(message->Data);
  (void)Update::Common::DecodeBoolPayload(message->Data);
  (void)Update::Common::DecodeIntegerPayload(message->Data);
  return 0;
}
