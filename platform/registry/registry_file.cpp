#include "platform/registry/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/paths/paths.h"
#include "platform/text/digits.h"

namespace Platform::Registry {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::string Quote(std::string_view aText) {
  std::string result = "\"";
  for (unsigned char c : aText) {
    switch (c) {
      case '\\':
        result += "\\\\";
        break;
      case '"':
        result += "\\\"";
        break;
      case '\n':
        result += "\\n";
        break;
      case '\r':
        result += "\\r";
        break;
      case '\t':
        result += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          result += "\\x";
          result += kHexDigits[c >> 4];
          result += kHexDigits[c & 15];
        } else {
          result += static_cast<char>(c);
        }
    }
  }
  return result + "\"";
}

class TLineParser {
 public:
  TLineParser(std::string_view aLine, std::string_view aSource, std::size_t aLineNumber)
      : fLine(aLine), fSource(aSource), fLineNumber(aLineNumber) {}

  [[noreturn]] void Fail(const std::string& aWhat) const {
    throw ERegistryException("Damaged registry file " + std::string(fSource) + ", line " + std::to_string(fLineNumber) +
                             ": " + aWhat);
  }

  bool AtEnd() const { return fPos >= fLine.size(); }

  void Expect(std::string_view aText) {
    if (fLine.substr(fPos, aText.size()) != aText) {
      Fail("expected '" + std::string(aText) + "'");
    }
    fPos += aText.size();
  }

  bool TryConsume(std::string_view aText) {
    if (fLine.substr(fPos, aText.size()) == aText) {
      fPos += aText.size();
      return true;
    }
    return false;
  }

  std::string Quoted() {
    Expect("\"");
    std::string result;
    while (true) {
      if (AtEnd()) {
        Fail("unterminated text");
      }
      char c = fLine[fPos++];
      if (c == '"') {
        return result;
      }
      if (c != '\\') {
        result.push_back(c);
        continue;
      }
      if (AtEnd()) {
        Fail("unterminated escape");
      }
      char e = fLine[fPos++];
      switch (e) {
        case '\\':
        case '"':
          result.push_back(e);
          break;
        case 'n':
          result.push_back('\n');
          break;
        case 'r':
          result.push_back('\r');
          break;
        case 't':
          result.push_back('\t');
          break;
        case 'x':
          result.push_back(static_cast<char>(HexByte("invalid \\x escape")));
          break;
        default:
          Fail(std::string("unknown escape \\") + e);
      }
    }
  }

  std::uint32_t DWord() {
    if (fLine.size() - fPos != 8) {
      Fail("a dword needs 8 hexadecimal digits");
    }
    const auto value = Text::ParseDigits(fLine.substr(fPos), 16, 0xFFFFFFFF);
    if (!value) {
      Fail("invalid hexadecimal digit in dword");
    }
    fPos = fLine.size();
    return static_cast<std::uint32_t>(*value);
  }

  TRegBinary Binary() {
    TRegBinary result;
    while (!AtEnd()) {
      if (!result.empty()) {
        Expect(",");
      }
      result.push_back(HexByte("invalid byte in binary value"));
    }
    return result;
  }

 private:
  // Two hexadecimal digits at the read position; fails with aWhat otherwise.
  std::uint8_t HexByte(const char* aWhat) {
    const std::string_view pair = fLine.substr(fPos, 2);
    const auto value = pair.size() == 2 ? Text::ParseDigits(pair, 16, 0xFF) : std::nullopt;
    if (!value) {
      Fail(aWhat);
    }
    fPos += 2;
    return static_cast<std::uint8_t>(*value);
  }

  std::string_view fLine;
  std::string_view fSource;
  std::size_t fLineNumber;
  std::size_t fPos = 0;
};

std::string FormatValue(const TRegValue& aValue) {
  if (const std::string* text = std::get_if<std::string>(&aValue)) {
    return "sz:" + Quote(*text);
  }
  if (const std::uint32_t* dword = std::get_if<std::uint32_t>(&aValue)) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", *dword);
    return std::string("dword:") + buffer;
  }
  std::string result = "hex:";
  const TRegBinary& bytes = std::get<TRegBinary>(aValue);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) {
      result += ',';
    }
    result += kHexDigits[bytes[i] >> 4];
    result += kHexDigits[bytes[i] & 15];
  }
  return result;
}

std::string SystemErrorText(int aError) {
  char buffer[256];
  return std::string(strerror_r(aError, buffer, sizeof buffer));
}

[[noreturn]] void FailAccess(const std::string& aWhat, const std::string& aFile, int aError) {
  throw ERegistryAccessError("Registry file " + aFile + ": " + aWhat + ": " + SystemErrorText(aError));
}

// Reads the whole file; nothing when it does not exist.
std::optional<std::string> ReadFile(const std::string& aFile) {
  int fd = ::open(aFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return std::nullopt;
    }
    FailAccess("cannot open", aFile, errno);
  }
  std::string result;
  char buffer[8192];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      int error = errno;
      ::close(fd);
      FailAccess("cannot read", aFile, error);
    }
    if (n == 0)
      break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return result;
}

void WriteAll(int aFd, const std::string& aText, const std::string& aFile) {
  std::size_t done = 0;
  while (done < aText.size()) {
    ssize_t n = ::write(aFd, aText.data() + done, aText.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      FailAccess("cannot write", aFile, errno);
    }
    done += static_cast<std::size_t>(n);
  }
}

// The writer lock: an exclusive flock on the companion lock file, released on
// destruction.
class TWriterLock {
 public:
  explicit TWriterLock(const std::string& aHiveFile) {
    std::string folder = Paths::ExtractFilePath(aHiveFile);
    if (!folder.empty() && !Paths::ForceDirectories(folder)) {
      FailAccess("cannot create the folder", aHiveFile, errno ? errno : EACCES);
    }
    std::string lockFile = aHiveFile + ".lock";
    fFd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fFd < 0) {
      FailAccess("cannot open the lock file", aHiveFile, errno);
    }
    while (::flock(fFd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int error = errno;
        ::close(fFd);
        FailAccess("cannot lock", aHiveFile, error);
      }
    }
  }
  ~TWriterLock() {
    ::flock(fFd, LOCK_UN);
    ::close(fFd);
  }
  TWriterLock(const TWriterLock&) = delete;
  TWriterLock& operator=(const TWriterLock&) = delete;

 private:
  int fFd = -1;
};

void StoreAtomically(const std::string& aFile, const std::string& aText) {
  std::string temporary = aFile + ".tmp." + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    FailAccess("cannot create the temporary file", aFile, errno);
  }
  try {
    WriteAll(fd, aText, aFile);
  } catch (...) {
    ::close(fd);
    ::unlink(temporary.c_str());
    throw;
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    FailAccess("cannot flush", aFile, error);
  }
  if (::rename(temporary.c_str(), aFile.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    FailAccess("cannot replace", aFile, error);
  }
}

}  // namespace

std::string DefaultHiveFile(THive aHive) {
  if (aHive == THive::HKEY_LOCAL_MACHINE) {
    return Paths::WindowsDir() + "quorvane/registry/machine.reg";
  }
  return Paths::UserConfigDir() + "quorvane/registry/user.reg";
}

std::string FormatHive(const THiveData& aHive) {
  std::ostringstream out;
  out << "; Quorvane registry hive. Keys are compared without case; value types: sz (text),\n"
         "; dword (8 hex digits), hex (comma-separated bytes).\n";
  for (const THiveData::TKeyEntry& key : aHive.Keys()) {
    out << "\n[" << key.Name << "]\n";
    for (const THiveData::TValueEntry& value : key.Values) {
      out << Quote(value.Name) << '=' << FormatValue(value.Value) << '\n';
    }
  }
  return out.str();
}

THiveData ParseHive(std::string_view aText, std::string_view aSourceName) {
  THiveData result;
  std::optional<std::string> currentKey;
  std::size_t lineNumber = 0;
  while (!aText.empty()) {
    std::size_t end = aText.find('\n');
    std::string_view line = aText.substr(0, end);
    aText = end == std::string_view::npos ? std::string_view() : aText.substr(end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == ';') {
      continue;
    }
    line.remove_prefix(first);
    TLineParser parser(line, aSourceName, lineNumber);
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 2) {
        parser.Fail("a key line must end with ']'");
      }
      currentKey = NormaliseKey(line.substr(1, line.size() - 2));
      result.CreateKey(*currentKey);
      continue;
    }
    if (!currentKey) {
      parser.Fail("a value before the first key");
    }
    std::string name = parser.Quoted();
    parser.Expect("=");
    if (parser.TryConsume("sz:")) {
      std::string text = parser.Quoted();
      if (!parser.AtEnd()) {
        parser.Fail("text after the closing quote");
      }
      result.SetValue(*currentKey, name, std::move(text));
    } else if (parser.TryConsume("dword:")) {
      result.SetValue(*currentKey, name, parser.DWord());
    } else if (parser.TryConsume("hex:")) {
      result.SetValue(*currentKey, name, parser.Binary());
    } else {
      parser.Fail("unknown value type (expected sz:, dword: or hex:)");
    }
  }
  return result;
}

std::string TFileRegistry::HiveFile(THive aHive) const {
  const std::string& configured = aHive == THive::HKEY_LOCAL_MACHINE ? fMachineFile : fUserFile;
  return configured.empty() ? DefaultHiveFile(aHive) : configured;
}

TFileRegistry::TFileRegistry(std::string aMachineFile, std::string aUserFile)
    : fMachineFile(std::move(aMachineFile)), fUserFile(std::move(aUserFile)) {}

THiveData TFileRegistry::Load(THive aHive) const {
  std::string file = HiveFile(aHive);
  std::optional<std::string> text = ReadFile(file);
  return text ? ParseHive(*text, file) : THiveData();
}

template <typename F>
bool TFileRegistry::Modify(THive aHive, F&& aChange) {
  std::string file = HiveFile(aHive);
  TWriterLock lock(file);
  THiveData hive = Load(aHive);
  if (!aChange(hive)) {
    return false;
  }
  StoreAtomically(file, FormatHive(hive));
  return true;
}

bool TFileRegistry::KeyExists(THive aHive, std::string_view aKey) const {
  return Load(aHive).KeyExists(aKey);
}

std::optional<TRegValue> TFileRegistry::ReadValue(THive aHive, std::string_view aKey, std::string_view aName) const {
  THiveData hive = Load(aHive);
  const TRegValue* value = hive.FindValue(aKey, aName);
  return value ? std::optional<TRegValue>(*value) : std::nullopt;
}

void TFileRegistry::WriteValue(THive aHive, std::string_view aKey, std::string_view aName, const TRegValue& aValue) {
  Modify(aHive, [&](THiveData& aHiveData) {
    aHiveData.SetValue(aKey, aName, aValue);
    return true;
  });
}

void TFileRegistry::CreateKey(THive aHive, std::string_view aKey) {
  Modify(aHive, [&](THiveData& aHiveData) {
    aHiveData.CreateKey(aKey);
    return true;
  });
}

bool TFileRegistry::DeleteValue(THive aHive, std::string_view aKey, std::string_view aName) {
  return Modify(aHive, [&](THiveData& aHiveData) { return aHiveData.DeleteValue(aKey, aName); });
}

bool TFileRegistry::DeleteKey(THive aHive, std::string_view aKey) {
  return Modify(aHive, [&](THiveData& aHiveData) { return aHiveData.DeleteKey(aKey); });
}

}  // namespace Platform::Registry
