// quorvane-ipc: diagnostics for the messaging between the update client and the update
// service. It owns a mailslot name and prints what arrives, sends one message of the
// catalogue, or probes whether a server owns a name.

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/ipc.h"

namespace {

using Update::Common::TBytes;
using Update::Common::TIPCMessage;
using Update::Common::TIPCPayloadKind;
using Update::Common::TUpdateIPCNode;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: quorvane-ipc COMMAND ...\n"
    "Diagnostics for the update client/service messaging. Mailslot names are written as the\n"
    "system spells them, for example \"quorvane\\UpdateService\\Main\"; their endpoints live below\n"
    "$QUORVANE_ROOT/run/quorvane/mailslot/.\n"
    "\n"
    "  listen NAME [--count N] [--any-account] [--hex]\n"
    "      Own the mailslot NAME and print every message that arrives (its header, the\n"
    "      catalogue name of its type and the decoded payload) until interrupted, or until N\n"
    "      messages were printed. --any-account lets every account write (as the service's\n"
    "      endpoint does); --hex also prints the bytes of each datagram. Datagrams that are no\n"
    "      well-formed message are reported on standard error and skipped.\n"
    "  send NAME TYPE [--from SENDER] [--bool B | --int N | --text T | --json FILE]\n"
    "      Send one message to NAME. TYPE is a catalogue name (Set_UpdateChannel) or a number.\n"
    "      The message comes from the mailslot SENDER (default quorvane\\IpcTool\\<pid>), which\n"
    "      the tool owns while it runs. Payload: --bool true|false|1|0, --int a 32-bit integer,\n"
    "      --text a text, --json a file (- for standard input) holding JSON, sent compact.\n"
    "  probe NAME\n"
    "      Exit 0 when a process owns the mailslot NAME, 1 when none does.\n"
    "  types\n"
    "      List the message catalogue.\n"
    "\n"
    "Exit status: 0 success, 1 the operation failed, 2 bad usage.\n";

std::atomic<bool> gStop{false};

void OnSignal(int) {
  gStop = true;
}

int Usage(const std::string& aProblem) {
  std::cerr << "quorvane-ipc: " << aProblem << "\n\n" << kUsage;
  return kExitUsage;
}

const char* PayloadName(TIPCPayloadKind aKind) {
  switch (aKind) {
    case TIPCPayloadKind::None:
      return "none";
    case TIPCPayloadKind::Boolean:
      return "Boolean";
    case TIPCPayloadKind::Integer:
      return "integer";
    case TIPCPayloadKind::Text:
      return "text";
    case TIPCPayloadKind::Json:
      return "JSON text";
  }
  return "?";
}

std::string Hex(const TBytes& aBytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < aBytes.size(); ++i) {
    if (i != 0) {
      text += ' ';
    }
    text += kDigits[aBytes[i] >> 4];
    text += kDigits[aBytes[i] & 15];
  }
  return text;
}

// One line: the message header, the catalogue name and the payload as its kind says.
std::string Describe(const TIPCMessage& aMessage) {
  std::string line = aMessage.ToString();
  const auto* info = Update::Common::FindUpdateIPCMessage(aMessage.MessageType);
  if (info == nullptr) {
    line += "; unknown type";
    if (!aMessage.Data.empty()) {
      line += "; data: " + Hex(aMessage.Data);
    }
    return line;
  }
  line += "; ";
  line += info->Name;
  if (aMessage.Data.empty()) {
    return line;
  }
  switch (info->Payload) {
    case TIPCPayloadKind::Boolean:
      line += Update::Common::DecodeBoolPayload(aMessage.Data) ? "; Boolean: true" : "; Boolean: false";
      break;
    case TIPCPayloadKind::Integer:
      if (const auto value = Update::Common::DecodeIntegerPayload(aMessage.Data)) {
        line += "; integer: " + std::to_string(*value);
      }
      break;
    case TIPCPayloadKind::Text:
      line += "; text: " + Update::Common::DecodeTextPayload(aMessage.Data);
      break;
    case TIPCPayloadKind::Json:
      line += "; JSON: " + Update::Common::DecodeTextPayload(aMessage.Data);
      break;
    case TIPCPayloadKind::None:
      line += "; unexpected data: " + Hex(aMessage.Data);
      break;
  }
  return line;
}

template <typename TInt>
std::optional<TInt> ParseInt(const std::string& aText) {
  TInt value{};
  const auto* end = aText.data() + aText.size();
  const auto [ptr, ec] = std::from_chars(aText.data(), end, value);
  if (ec != std::errc() || ptr != end || aText.empty()) {
    return std::nullopt;
  }
  return value;
}

int Listen(const std::vector<std::string>& aArgs) {
  std::string name;
  std::optional<long long> count;
  bool anyAccount = false;
  bool hex = false;
  for (std::size_t i = 0; i < aArgs.size(); ++i) {
    const std::string& arg = aArgs[i];
    if (arg == "--count" && i + 1 < aArgs.size()) {
      count = ParseInt<long long>(aArgs[++i]);
      if (!count || *count < 1) {
        return Usage("--count needs a positive number");
      }
    } else if (arg == "--any-account") {
      anyAccount = true;
    } else if (arg == "--hex") {
      hex = true;
    } else if (arg.starts_with("--") || !name.empty()) {
      return Usage("unexpected argument " + arg);
    } else {
      name = arg;
    }
  }
  if (name.empty()) {
    return Usage("listen needs a mailslot NAME");
  }

  Update::Common::TMailslotServerNonBlocking server(name, 0);
  server.SetUseDefaultSecurityAttributes(!anyAccount);
  server.SetSleepIntervall(Update::Common::TIPCNode::kSleepIntervall);
  if (!server.Start()) {
    std::cerr << "quorvane-ipc: cannot own " << name << ": " << server.LastErrorMessageFull() << '\n';
    return kExitFailed;
  }
  std::cerr << "quorvane-ipc: listening on " << name << " (" << server.FullName() << ")" << std::endl;

  long long printed = 0;
  std::vector<TBytes> datagrams;
  while (!gStop && (!count || printed < *count)) {
    datagrams.clear();
    if (!server.GetMessages(datagrams)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    for (const auto& datagram : datagrams) {
      const auto message = TIPCMessage::Create(datagram);
      if (!message) {
        std::cerr << "quorvane-ipc: dropped a malformed datagram of " << datagram.size() << " bytes"
                  << (hex ? ": " + Hex(datagram) : std::string()) << std::endl;
        continue;
      }
      std::cout << Describe(*message) << '\n';
      if (hex) {
        std::cout << "  bytes: " << Hex(datagram) << '\n';
      }
      std::cout.flush();
      if (count && ++printed >= *count) {
        break;
      }
    }
  }
  return kExitOk;
}

bool ReadJsonPayload(const std::string& aFile, std::string& aCompact, std::string& aProblem) {
  std::stringstream content;
  if (aFile == "-") {
    content << std::cin.rdbuf();
  } else {
    std::ifstream in(aFile, std::ios::binary);
    if (!in) {
      aProblem = "cannot read " + aFile + ": " + std::strerror(errno);
      return false;
    }
    content << in.rdbuf();
  }
  std::string text = content.str();
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.erase(0, 3);
  }
  try {
    aCompact = nlohmann::ordered_json::parse(text).dump();
  } catch (const nlohmann::json::exception& e) {
    aProblem = aFile + " holds no valid JSON: " + e.what();
    return false;
  }
  return true;
}

int Send(const std::vector<std::string>& aArgs) {
  std::vector<std::string> positional;
  std::string sender = "quorvane\\IpcTool\\" + std::to_string(::getpid());
  std::optional<TBytes> payload;
  for (std::size_t i = 0; i < aArgs.size(); ++i) {
    const std::string& arg = aArgs[i];
    const bool isPayload = arg == "--bool" || arg == "--int" || arg == "--text" || arg == "--json";
    if ((isPayload || arg == "--from") && i + 1 >= aArgs.size()) {
      return Usage(arg + " needs a value");
    }
    if (isPayload && payload) {
      return Usage("give at most one payload");
    }
    if (arg == "--from") {
      sender = aArgs[++i];
    } else if (arg == "--bool") {
      const std::string& value = aArgs[++i];
      if (value != "true" && value != "false" && value != "1" && value != "0") {
        return Usage("--bool takes true, false, 1 or 0");
      }
      payload = Update::Common::EncodeBoolPayload(value == "true" || value == "1");
    } else if (arg == "--int") {
      const auto value = ParseInt<std::int32_t>(aArgs[++i]);
      if (!value) {
        return Usage("--int takes a signed 32-bit number");
      }
      payload = Update::Common::EncodeIntegerPayload(*value);
    } else if (arg == "--text") {
      payload = Update::Common::EncodeTextPayload(aArgs[++i]);
    } else if (arg == "--json") {
      std::string compact, problem;
      if (!ReadJsonPayload(aArgs[++i], compact, problem)) {
        std::cerr << "quorvane-ipc: " << problem << '\n';
        return kExitUsage;
      }
      payload = Update::Common::EncodeTextPayload(compact);
    } else if (arg.starts_with("--")) {
      return Usage("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) {
    return Usage("send needs a mailslot NAME and a message TYPE");
  }
  const std::string& recipient = positional[0];
  std::int32_t code;
  if (const auto* info = Update::Common::FindUpdateIPCMessage(std::string_view(positional[1]))) {
    code = static_cast<std::int32_t>(info->MessageType);
  } else if (const auto number = ParseInt<std::int32_t>(positional[1])) {
    code = *number;
  } else {
    return Usage("unknown message type " + positional[1] + " (see quorvane-ipc types)");
  }

  TUpdateIPCNode node(sender, false);
  if (node.LastError() != 0) {
    std::cerr << "quorvane-ipc: note: cannot own " << sender << " (" << node.LastErrorMessage()
              << "); answers to it go to its owner\n";
  }
  if (!node.Send(recipient, code, payload.value_or(TBytes()))) {
    std::cerr << "quorvane-ipc: send to " << recipient << " failed: " << node.LastErrorMessage() << " ("
              << node.LastError() << ")\n";
    return kExitFailed;
  }
  return kExitOk;
}

int Probe(const std::vector<std::string>& aArgs) {
  if (aArgs.size() != 1 || aArgs[0].starts_with("--")) {
    return Usage("probe needs exactly one mailslot NAME");
  }
  Update::Common::TMailslotClient client(aArgs[0]);
  if (client.Connect()) {
    std::cout << aArgs[0] << ": a server is running\n";
    return kExitOk;
  }
  std::cout << aArgs[0] << ": no server (" << client.LastErrorMessage() << ", " << client.LastError() << ")\n";
  return kExitFailed;
}

int Types() {
  for (const auto& info : Update::Common::UpdateIPCMessageCatalogue()) {
    std::cout << static_cast<std::int32_t>(info.MessageType) << ' ' << info.Name << " (" << PayloadName(info.Payload)
              << ")\n";
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    return Usage("no command given");
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return kExitOk;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "listen") {
    return Listen(args);
  }
  if (command == "send") {
    return Send(args);
  }
  if (command == "probe") {
    return Probe(args);
  }
  if (command == "types") {
    return Types();
  }
  return Usage("unknown command " + command);
}
