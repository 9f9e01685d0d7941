#include "service/formats/packed_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/fileversion/fileversion.h"
#include "platform/text/text.h"
#include "service/formats/dos_date.h"
#include "service/host/log.h"

namespace Update::Service {

namespace {

namespace fs = std::filesystem;

// Exception classes of the handler's own failures; their names appear in the log.
struct EStreamError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct EZCompressionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct EZDecompressionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr std::size_t kIdentField = 12;
constexpr std::size_t kNameField = 255;

void PutLe(TPackedHeaderBytes& aBytes, std::size_t aAt, std::uint32_t aValue) {
  for (int i = 0; i < 4; ++i)
    aBytes[aAt + i] = static_cast<unsigned char>(aValue >> (8 * i));
}

std::uint32_t GetLe(const TPackedHeaderBytes& aBytes, std::size_t aAt) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= static_cast<std::uint32_t>(aBytes[aAt + i]) << (8 * i);
  return value;
}

std::int32_t GetLeSigned(const TPackedHeaderBytes& aBytes, std::size_t aAt) {
  return static_cast<std::int32_t>(GetLe(aBytes, aAt));
}

void PutText(TPackedHeaderBytes& aBytes, std::size_t aAt, std::size_t aField, const std::string& aUtf8) {
  std::string bytes = Platform::Text::Utf8ToCp1252(aUtf8);
  if (bytes.size() > aField)
    bytes.resize(aField);
  aBytes[aAt] = static_cast<unsigned char>(bytes.size());
  std::memcpy(aBytes.data() + aAt + 1, bytes.data(), bytes.size());
}

std::string GetText(const TPackedHeaderBytes& aBytes, std::size_t aAt, std::size_t aField) {
  const std::size_t length = std::min<std::size_t>(aBytes[aAt], aField);
  return Platform::Text::Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(aBytes.data() + aAt + 1), length));
}

std::string Trim(std::string_view aText) {
  const auto first = aText.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos)
    return {};
  const auto last = aText.find_last_not_of(" \t\r\n");
  return std::string(aText.substr(first, last - first + 1));
}

// A name from a header is untrusted: it must name a file inside the output folder.
bool IsPlainFileName(const std::string& aName) {
  return !aName.empty() && aName != "." && aName != ".." &&
         aName.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

int ZlibLevel(TZCompressionLevel aLevel) {
  switch (aLevel) {
    case TZCompressionLevel::zcNone:
      return Z_NO_COMPRESSION;
    case TZCompressionLevel::zcFastest:
      return Z_BEST_SPEED;
    case TZCompressionLevel::zcMax:
      return Z_BEST_COMPRESSION;
    case TZCompressionLevel::zcDefault:
      break;
  }
  return Z_DEFAULT_COMPRESSION;
}

std::int64_t StreamSize(std::iostream& aStream) {
  aStream.clear();
  const auto position = aStream.tellg();
  aStream.seekg(0, std::ios::end);
  const std::int64_t size = aStream.tellg();
  aStream.seekg(position);
  if (size < 0 || !aStream)
    throw EStreamError("the stream size cannot be determined");
  return size;
}

void WriteAll(std::ostream& aStream, const char* aData, std::size_t aSize) {
  aStream.write(aData, static_cast<std::streamsize>(aSize));
  if (!aStream)
    throw EStreamError("write error");
}

}  // namespace

TPackedHeaderBytes EncodePackedFileInfo(const TZPackedFileInfo& aInfo) {
  TPackedHeaderBytes bytes{};
  PutText(bytes, 0, kIdentField, aInfo.ID);
  PutLe(bytes, 13, aInfo.Version);
  PutText(bytes, 17, kNameField, aInfo.FileName);
  PutLe(bytes, 273, static_cast<std::uint32_t>(aInfo.Size));
  PutLe(bytes, 277, static_cast<std::uint32_t>(aInfo.Date));
  PutLe(bytes, 281, static_cast<std::uint32_t>(aInfo.Attr));
  PutLe(bytes, 285, static_cast<std::uint32_t>(aInfo.ExAttr));
  PutLe(bytes, 289, aInfo.CRC);
  PutLe(bytes, 293, static_cast<std::uint32_t>(aInfo.PackedSize));
  PutLe(bytes, 297, aInfo.PackedCRC);
  PutLe(bytes, 301, static_cast<std::uint32_t>(aInfo.MajorNumber));
  PutLe(bytes, 305, static_cast<std::uint32_t>(aInfo.MinorNumber));
  PutLe(bytes, 309, static_cast<std::uint32_t>(aInfo.ReleaseNumber));
  PutLe(bytes, 313, static_cast<std::uint32_t>(aInfo.BuildNumber));
  std::copy(aInfo.DATA.begin(), aInfo.DATA.end(), bytes.begin() + 317);
  return bytes;
}

TZPackedFileInfo DecodePackedFileInfo(const TPackedHeaderBytes& aBytes) {
  TZPackedFileInfo info;
  info.ID = GetText(aBytes, 0, kIdentField);
  info.Version = GetLe(aBytes, 13);
  info.FileName = GetText(aBytes, 17, kNameField);
  info.Size = GetLeSigned(aBytes, 273);
  info.Date = GetLeSigned(aBytes, 277);
  info.Attr = GetLeSigned(aBytes, 281);
  info.ExAttr = GetLeSigned(aBytes, 285);
  info.CRC = GetLe(aBytes, 289);
  info.PackedSize = GetLeSigned(aBytes, 293);
  info.PackedCRC = GetLe(aBytes, 297);
  info.MajorNumber = GetLeSigned(aBytes, 301);
  info.MinorNumber = GetLeSigned(aBytes, 305);
  info.ReleaseNumber = GetLeSigned(aBytes, 309);
  info.BuildNumber = GetLeSigned(aBytes, 313);
  std::copy(aBytes.begin() + 317, aBytes.end(), info.DATA.begin());
  return info;
}

// A file stream with its own 32768-byte buffer.
struct TZlibHandler::TFile {
  std::vector<char> Buffer = std::vector<char>(TCalcStreamCRC::FileBufferSize);
  std::fstream Stream;

  TFile(const std::string& aPath, std::ios::openmode aMode) {
    Stream.rdbuf()->pubsetbuf(Buffer.data(), static_cast<std::streamsize>(Buffer.size()));
    Stream.open(aPath, aMode | std::ios::binary);
    if (!Stream.is_open())
      throw EStreamError("Cannot open file \"" + aPath + "\": " + std::strerror(errno));
  }
};

TZlibHandler::TZlibHandler() {
  ResetFileInfo();
}

TZlibHandler::~TZlibHandler() = default;

void TZlibHandler::SetFileIdent(std::string aIdent) {
  // Twelve characters as the header's field holds them.
  const std::u32string chars = Platform::Text::Utf8ToUtf32(aIdent);
  fFileIdent = Platform::Text::Utf32ToUtf8(std::u32string_view(chars).substr(0, kIdentField));
}

void TZlibHandler::ResetFileInfo() {
  fFileInfo = TZPackedFileInfo{};
  fFileInfo.ID = fFileIdent;
  fFileInfo.Version = fVersion;
  fFileInfo.CRC = CRCOff;
}

std::string TZlibHandler::ZLibResultToString(TZlibResult aResult) {
  switch (aResult) {
    case TZlibResult::zrOK:
      return "OK";
    case TZlibResult::zrInputFailed:
      return "Input Error";
    case TZlibResult::zrOutputFailed:
      return "Output Error";
    case TZlibResult::zrCompressionFailed:
      return "Compression Error";
    case TZlibResult::zrUnCompressionFailed:
      return "UnCompression Error";
    case TZlibResult::zrCRCFailed:
      return "CRC Error";
    case TZlibResult::zrCheckInputFailed:
      return "Input Check Error";
    case TZlibResult::zrCheckOutputFailed:
      return "Output Check Error";
    case TZlibResult::zrIdentFailed:
      return "File Header Error";
    case TZlibResult::zrVersionFailed:
      return "Version Error";
  }
  return "Unknown Error " + std::to_string(static_cast<int>(aResult));
}

TZlibResult TZlibHandler::Compress() {
  fMode = TZlibMode::zmCompress;
  const TZlibResult result = DoCompress(fBufferSize);
  CloseStreams();
  fMode = TZlibMode::zmNone;
  return result;
}

TZlibResult TZlibHandler::UnCompress(std::string& aOutFileName) {
  fMode = TZlibMode::zmUnCompress;
  const TZlibResult result = DoUnCompress(fBufferSize, aOutFileName);
  CloseStreams();
  fMode = TZlibMode::zmNone;
  return result;
}

void TZlibHandler::CloseStreams() {
  fCRC.SetBinStream(nullptr);
  fInputStream.reset();
  fOutputStream.reset();
}

bool TZlibHandler::ReadHeaderFrom(std::istream& aStream) {
  aStream.clear();
  const auto saved = aStream.tellg();
  aStream.seekg(0);
  TPackedHeaderBytes bytes{};
  aStream.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
  const bool complete = aStream.gcount() == static_cast<std::streamsize>(bytes.size());
  aStream.clear();
  aStream.seekg(saved);
  if (complete)
    fFileInfo = DecodePackedFileInfo(bytes);
  return complete;
}

bool TZlibHandler::ReadInputFileInfo() {
  try {
    if (fInputStream)
      return ReadHeaderFrom(fInputStream->Stream);
    TFile input(fInput, std::ios::in);
    return ReadHeaderFrom(input.Stream);
  } catch (const std::exception&) {
    return false;
  }
}

void TZlibHandler::ZProgress(std::int64_t aPosition) {
  const TZlibProgressEvent& handler = fMode == TZlibMode::zmCompress ? fOnCompressProgress : fOnUnCompressProgress;
  if (!handler)
    return;
  int percentage = 0;
  try {
    const std::int64_t divisor = fSize - fOffset;
    if (divisor <= 0) {
      percentage = 100;
    } else {
      const double value = std::round(static_cast<double>(aPosition - fOffset) * 100.0 / static_cast<double>(divisor));
      percentage = static_cast<int>(std::clamp(value, 0.0, 100.0));
    }
  } catch (const std::exception& error) {
    percentage = 0;
    LogException("TZlibHandler.FZProgress.CalcPercent: Error " + ExceptionText(error));
  }
  try {
    handler(*this, percentage);
  } catch (const std::exception& error) {
    LogException("TZlibHandler.FZProgress: Error " + ExceptionText(error));
  } catch (...) {
    LogException("TZlibHandler.FZProgress: Error unknown exception");
  }
}

TZlibResult TZlibHandler::DoCompress(int aBufferSize) {
  TZlibResult result = TZlibResult::zrInputFailed;
  try {
    ResetFileInfo();
    struct stat st {};
    if (::stat(fInput.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return result;
    const std::string name = fs::path(fInput).filename().string();
    // The header records the size in 31 bits and the name in Windows-1252; a package that
    // could not be unpacked to the same size and name is refused before it is written.
    if (st.st_size > INT32_MAX) {
      Log("TZlibHandler.DoCompress: Error Size too large " + std::to_string(st.st_size) + " > " +
          std::to_string(INT32_MAX));
      return result;
    }
    const std::string storedName = Platform::Text::Utf8ToCp1252(name);
    if (storedName.size() > kNameField || Platform::Text::Cp1252ToUtf8(storedName) != name) {
      Log("TZlibHandler.DoCompress: Error FileName not representable " + name);
      return result;
    }
    const auto version = Platform::GetFileVersion(fInput).value_or(Platform::TFileVersionNumbers{});

    fInputStream = std::make_unique<TFile>(fInput, std::ios::in);
    result = TZlibResult::zrOutputFailed;
    std::error_code same;
    if (fs::equivalent(fInput, fOutput, same))
      throw EStreamError("input and output are the same file: " + fOutput);
    fOutputStream = std::make_unique<TFile>(fOutput, std::ios::in | std::ios::out | std::ios::trunc);
    std::iostream& in = fInputStream->Stream;
    std::iostream& out = fOutputStream->Stream;

    fFileInfo.ID = fFileIdent;
    fFileInfo.Version = fVersion;
    fFileInfo.FileName = name;
    fFileInfo.Size = static_cast<std::int32_t>(st.st_size);
    fFileInfo.Date = DateTimeToFileDate(Platform::TDateTime::FromTimespec(st.st_mtim));
    fFileInfo.Attr = faArchive | ((st.st_mode & S_IWUSR) == 0 ? faReadOnly : 0);
    fFileInfo.ExAttr = 0;  // nothing is excluded when looking a file up with any attributes
    fFileInfo.MajorNumber = version.Major;
    fFileInfo.MinorNumber = version.Minor;
    fFileInfo.ReleaseNumber = version.Release;
    fFileInfo.BuildNumber = version.Build;
    fOffset = 0;
    fSize = st.st_size;

    if (fHandleCRC) {
      fCRC.SetBinStream(&in);
      fCRC.Reset();
      if (!fCRC.CalculateFromBeginning())
        return TZlibResult::zrCRCFailed;
      fFileInfo.CRC = fCRC.CRC();
      fCRC.SetBinStream(nullptr);
    }

    const TPackedHeaderBytes header = EncodePackedFileInfo(fFileInfo);
    WriteAll(out, reinterpret_cast<const char*>(header.data()), header.size());
    result = TZlibResult::zrCompressionFailed;

    z_stream zs{};
    if (deflateInit2(&zs, ZlibLevel(fCompressionLevel), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EZCompressionError("deflateInit2 failed");
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, deflateEnd);
    std::vector<char> inBlock(static_cast<std::size_t>(aBufferSize));
    std::vector<char> outBlock(static_cast<std::size_t>(aBufferSize));
    in.clear();
    in.seekg(0);
    fPosition = 0;
    ZProgress(0);
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
      const auto wanted = static_cast<std::streamsize>(std::min<std::int64_t>(aBufferSize, fSize - fPosition));
      in.read(inBlock.data(), wanted);
      if (in.gcount() != wanted)
        throw EStreamError("the input file changed while it was packed: " + fInput);
      fPosition += wanted;
      flush = fPosition >= fSize ? Z_FINISH : Z_NO_FLUSH;
      zs.next_in = reinterpret_cast<Bytef*>(inBlock.data());
      zs.avail_in = static_cast<uInt>(wanted);
      do {
        zs.next_out = reinterpret_cast<Bytef*>(outBlock.data());
        zs.avail_out = static_cast<uInt>(outBlock.size());
        if (deflate(&zs, flush) == Z_STREAM_ERROR)
          throw EZCompressionError("deflate failed");
        WriteAll(out, outBlock.data(), outBlock.size() - zs.avail_out);
      } while (zs.avail_out == 0);
      ZProgress(fPosition);
    }
    ZProgress(fSize);

    out.flush();
    const std::int64_t packedSize = StreamSize(out) - static_cast<std::int64_t>(PackedHeaderSize);
    if (packedSize > INT32_MAX)
      throw EZCompressionError("packed size too large: " + std::to_string(packedSize));
    bool crcFailed = false;
    if (fHandleCRC) {
      out.seekg(PackedHeaderSize);
      fCRC.SetBinStream(&out);
      fCRC.Reset();
      if (fCRC.Calculate()) {
        fFileInfo.PackedCRC = fCRC.CRC();
      } else {
        crcFailed = true;  // a package without a valid checksum is never reported as packed
      }
      fCRC.SetBinStream(nullptr);
    } else {
      fFileInfo.PackedCRC = CRCOff;
    }
    fFileInfo.PackedSize = static_cast<std::int32_t>(packedSize);
    const TPackedHeaderBytes final = EncodePackedFileInfo(fFileInfo);
    out.clear();
    out.seekp(0);
    WriteAll(out, reinterpret_cast<const char*>(final.data()), final.size());
    out.flush();
    if (!out)
      throw EStreamError("write error: " + fOutput);
    fOutputStream.reset();
    fInputStream.reset();
    return crcFailed ? TZlibResult::zrCRCFailed : TZlibResult::zrOK;
  } catch (const std::exception& error) {
    LogException("TZlibHandler.DoCompress: Error " + ExceptionText(error));
  }
  return result;
}

TZlibResult TZlibHandler::DoUnCompress(int aBufferSize, std::string& aOutFileName) {
  TZlibResult result = TZlibResult::zrInputFailed;
  aOutFileName.clear();
  try {
    fInputStream = std::make_unique<TFile>(fInput, std::ios::in);
    std::iostream& in = fInputStream->Stream;
    result = TZlibResult::zrCheckInputFailed;

    if (!ReadInputFileInfo()) {
      Log("TZlibHandler.DoUnCompress: Error ReadInputFileInfo " + fInput);
      return result;
    }
    if (Platform::Text::AsciiLower(Trim(fFileInfo.ID)) != Platform::Text::AsciiLower(Trim(fFileIdent))) {
      Log("TZlibHandler.DoUnCompress: Error ID mismatch " + fFileInfo.ID + " <> " + fFileIdent);
      return TZlibResult::zrIdentFailed;
    }
    if (fFileInfo.Version != fVersion) {
      Log("TZlibHandler.DoUnCompress: Error Version mismatch " + std::to_string(fFileInfo.Version) + " <> " +
          std::to_string(fVersion));
      return TZlibResult::zrVersionFailed;
    }
    fOffset = static_cast<std::int64_t>(PackedHeaderSize);
    fSize = StreamSize(in);
    if (fSize - fOffset != fFileInfo.PackedSize) {
      Log("TZlibHandler.DoUnCompress: Error PackedSize mismatch " + std::to_string(fFileInfo.PackedSize) + " <> " +
          std::to_string(fSize - fOffset));
      return result;
    }

    result = TZlibResult::zrCRCFailed;
    if (fHandleCRC) {
      in.seekg(fOffset);
      fCRC.SetBinStream(&in);
      fCRC.Reset();
      if (!fCRC.Calculate()) {
        Log("TZlibHandler.DoUnCompress: Error FCRC.Calculate");
        return result;
      }
      const std::uint32_t computed = fCRC.CRC();
      fCRC.SetBinStream(nullptr);  // resets the register
      if (computed != fFileInfo.PackedCRC) {
        Log("TZlibHandler.DoUnCompress: Error PackedCRC mismatch " + std::to_string(fFileInfo.PackedCRC) + " <> " +
            std::to_string(computed));
        return TZlibResult::zrCheckInputFailed;
      }
    }

    result = TZlibResult::zrOutputFailed;
    const auto slash = fOutput.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : fOutput.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? fOutput : fOutput.substr(slash + 1);
    if (!folder.empty()) {
      std::error_code error;
      if (!fs::is_directory(folder, error) && !fs::create_directory(folder, error)) {
        Log("TZlibHandler.DoUnCompress: Error CreateDir " + folder);
        return result;
      }
    }
    if (name.empty()) {
      name = fFileInfo.FileName;
      if (name.empty()) {
        Log("TZlibHandler.DoUnCompress: Error No FileName");
        return result;
      }
      if (!IsPlainFileName(name)) {
        Log("TZlibHandler.DoUnCompress: Error Invalid FileName " + name);
        return result;
      }
    }
    aOutFileName = folder + name;

    // Replace, never follow, a link at the target; give an existing file normal
    // attributes so that a read-only file can be replaced.
    struct stat existing {};
    if (::lstat(aOutFileName.c_str(), &existing) == 0) {
      if (S_ISLNK(existing.st_mode)) {
        if (::unlink(aOutFileName.c_str()) != 0)
          throw EStreamError("cannot replace the link " + aOutFileName);
      } else if (S_ISREG(existing.st_mode)) {
        ::chmod(aOutFileName.c_str(), (existing.st_mode & 07777) | S_IWUSR);
      }
    }
    fOutputStream = std::make_unique<TFile>(aOutFileName, std::ios::in | std::ios::out | std::ios::trunc);
    std::iostream& out = fOutputStream->Stream;
    result = TZlibResult::zrUnCompressionFailed;
    fCRC.SetBinStream(nullptr);
    TCalcStreamCRC& outputCrc = fCRC;
    outputCrc.Reset();

    z_stream zs{};
    if (inflateInit2(&zs, 15) != Z_OK)
      throw EZDecompressionError("inflateInit2 failed");
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&zs, inflateEnd);
    std::vector<char> inBlock(static_cast<std::size_t>(aBufferSize));
    std::vector<char> outBlock(static_cast<std::size_t>(aBufferSize));
    in.clear();
    in.seekg(fOffset);
    fPosition = fOffset;
    std::int64_t produced = 0;
    bool executable = false;
    ZProgress(fOffset);
    int status = Z_OK;
    // Stops one block past the recorded size: a damaged or hostile package must not fill
    // the disk before the size check rejects it.
    while (status != Z_STREAM_END && produced <= fFileInfo.Size) {
      if (zs.avail_in == 0) {
        const auto wanted = static_cast<std::streamsize>(std::min<std::int64_t>(aBufferSize, fSize - fPosition));
        if (wanted <= 0)
          throw EZDecompressionError("unexpected end of the compressed data");
        in.read(inBlock.data(), wanted);
        if (in.gcount() != wanted)
          throw EStreamError("read error: " + fInput);
        fPosition += wanted;
        zs.next_in = reinterpret_cast<Bytef*>(inBlock.data());
        zs.avail_in = static_cast<uInt>(wanted);
      }
      do {
        zs.next_out = reinterpret_cast<Bytef*>(outBlock.data());
        zs.avail_out = static_cast<uInt>(outBlock.size());
        status = inflate(&zs, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
          throw EZDecompressionError(std::string("inflate failed: ") + (zs.msg != nullptr ? zs.msg : "error"));
        const std::size_t have = outBlock.size() - zs.avail_out;
        if (produced == 0 && have >= 2)
          executable = (have >= 4 && std::memcmp(outBlock.data(),
                                                 "\x7F"
                                                 "ELF",
                                                 4) == 0) ||
                       std::memcmp(outBlock.data(), "#!", 2) == 0;
        WriteAll(out, outBlock.data(), have);
        outputCrc.Update(outBlock.data(), have);
        produced += static_cast<std::int64_t>(have);
      } while (zs.avail_out == 0 && status != Z_STREAM_END && produced <= fFileInfo.Size);
      ZProgress(fPosition - zs.avail_in);
    }
    ZProgress(fSize);
    out.flush();
    if (!out)
      throw EStreamError("write error: " + aOutFileName);

    if (produced != fFileInfo.Size) {
      Log("TZlibHandler.DoUnCompress: Error Size mismatch " + std::to_string(fFileInfo.Size) + " <> " +
          std::to_string(produced));
      return TZlibResult::zrCheckOutputFailed;
    }
    // The checksum of the output was taken from exactly the bytes written, block by block,
    // which saves reading the whole file back.
    result = TZlibResult::zrCRCFailed;
    if (fHandleCRC && outputCrc.CRC() != fFileInfo.CRC) {
      Log("TZlibHandler.DoUnCompress: Error CRC mismatch " + std::to_string(fFileInfo.CRC) + " <> " +
          std::to_string(outputCrc.CRC()));
      return TZlibResult::zrCheckOutputFailed;
    }

    fOutputStream.reset();
    SetFileDate(aOutFileName, fFileInfo.Date);
    struct stat written {};
    if (::stat(aOutFileName.c_str(), &written) == 0) {
      mode_t mode = written.st_mode & 07777;
      // Programs and scripts stay runnable: Windows attributes carry no execute bit.
      if (executable)
        mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
      mode = (fFileInfo.Attr & faReadOnly) != 0 ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
      ::chmod(aOutFileName.c_str(), mode);
    }
    return TZlibResult::zrOK;
  } catch (const std::exception& error) {
    LogException("TZlibHandler.DoUnCompress: Error " + ExceptionText(error));
  }
  return result;
}

}  // namespace Update::Service
