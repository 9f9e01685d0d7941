#pragma once

// Update.Service.ZlibHandler: the packed file format of the update feed.
//
// Every file the feed delivers (structure files ".zml" and every package) is one file
// compressed with zlib (RFC 1950, 15-bit window) behind a fixed 352-byte header, all
// integers little-endian, texts length-prefixed in Windows-1252:
//
//   offset size field            offset size field
//     0    13  ID                 293    4  PackedSize     bytes after the header
//    13     4  Version (1)        297    4  PackedCRC      checksum of those bytes
//    17   256  FileName           301    4  MajorNumber    file version of the
//   273     4  Size               305    4  MinorNumber    unpacked file, or 0
//   277     4  Date (DOS)         309    4  ReleaseNumber
//   281     4  Attr               313    4  BuildNumber
//   285     4  ExAttr             317   35  DATA           reserved, zero
//   289     4  CRC                352       zlib stream
//
// Checksums are those of TCalcStreamCRC; 2147483647 means "checksums off".
//
// Contract: a TZlibHandler is used by one thread at a time and may be reused for any
// number of files; each operation opens and closes its own files (32768-byte buffers,
// 65536-byte blocks, memory does not grow with the file size). No exception leaves
// Compress or UnCompress: every failure is a TZlibResult plus one line in the service log
// naming the mismatch with both values. Progress handlers run on the calling thread;
// an exception thrown by one is logged and ignored.
//
// Unpacking never writes outside the folder it was given: a file name taken from the
// header must be a plain name (no folder part, not "." or "..", no NUL), and a symbolic
// link at the target is replaced, not followed.

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "service/formats/crc.h"

namespace Update::Service {

enum class TZlibResult : std::uint8_t {
  zrOK = 0,
  zrInputFailed = 1,
  zrOutputFailed = 2,
  zrCompressionFailed = 3,
  zrUnCompressionFailed = 4,
  zrCRCFailed = 5,
  zrCheckInputFailed = 6,
  zrCheckOutputFailed = 7,
  zrIdentFailed = 8,
  zrVersionFailed = 9,
};

enum class TZlibMode : std::uint8_t { zmNone, zmCompress, zmUnCompress };

// zlib levels: none (0), fastest (1), default (zlib's default, 6), max (9).
enum class TZCompressionLevel : std::uint8_t { zcNone, zcFastest, zcDefault, zcMax };

// File attribute bits as the header stores them. On Linux only the read-only bit has a
// meaning (the write permission); packing records archive plus read-only when the owner
// may not write.
inline constexpr std::int32_t faReadOnly = 0x01;
inline constexpr std::int32_t faArchive = 0x20;

inline constexpr std::size_t PackedHeaderSize = 352;
inline constexpr std::uint32_t CRCOff = 2147483647;

// The header. Texts are UTF-8 in memory; the byte image (EncodePackedFileInfo) holds them
// in Windows-1252 at the offsets above.
struct TZPackedFileInfo {
  std::string ID;  // at most 12 characters
  std::uint32_t Version = 0;
  std::string FileName;  // at most 255 characters
  std::int32_t Size = 0;
  std::int32_t Date = 0;
  std::int32_t Attr = 0;
  std::int32_t ExAttr = 0;
  std::uint32_t CRC = 0;
  std::int32_t PackedSize = 0;
  std::uint32_t PackedCRC = 0;
  std::int32_t MajorNumber = 0;
  std::int32_t MinorNumber = 0;
  std::int32_t ReleaseNumber = 0;
  std::int32_t BuildNumber = 0;
  std::array<std::uint8_t, 35> DATA{};

  friend bool operator==(const TZPackedFileInfo&, const TZPackedFileInfo&) = default;
};

using TPackedHeaderBytes = std::array<unsigned char, PackedHeaderSize>;

// Texts longer than their field, or with characters Windows-1252 lacks, are cut or get
// '?'; Compress refuses such file names before it writes anything.
TPackedHeaderBytes EncodePackedFileInfo(const TZPackedFileInfo& aInfo);
// Total: a length byte larger than its field is limited to the field.
TZPackedFileInfo DecodePackedFileInfo(const TPackedHeaderBytes& aBytes);

class TZlibHandler;
using TZlibProgressEvent = std::function<void(TZlibHandler& aSender, int aPercentage)>;

class TZlibHandler {
 public:
  static constexpr int DefaultBufferSize = 65536;
  static constexpr std::uint32_t FormatVersion = 1;

  TZlibHandler();
  virtual ~TZlibHandler();
  TZlibHandler(const TZlibHandler&) = delete;
  TZlibHandler& operator=(const TZlibHandler&) = delete;

  // Packs the file Input into the file Output (created or replaced).
  TZlibResult Compress();
  // Unpacks Input. Output ending with "/" is the folder (the name comes from the header);
  // otherwise it is the full name of the unpacked file; empty means the current folder.
  // aOutFileName receives the name written (empty when none was determined).
  TZlibResult UnCompress(std::string& aOutFileName);
  // Reads the header of Input (of the running operation's input stream, restoring its
  // position) into FileInfo. False when fewer than 352 bytes can be read.
  bool ReadInputFileInfo();
  // FileInfo := identifier, version 1, everything else zero, CRC 2147483647.
  void ResetFileInfo();

  static std::string ZLibResultToString(TZlibResult aResult);

  const std::string& Input() const { return fInput; }
  void SetInput(std::string aInput) { fInput = std::move(aInput); }
  const std::string& Output() const { return fOutput; }
  void SetOutput(std::string aOutput) { fOutput = std::move(aOutput); }
  const std::string& FileIdent() const { return fFileIdent; }
  // At most 12 characters are kept.
  void SetFileIdent(std::string aIdent);
  bool HandleCRC() const { return fHandleCRC; }
  void SetHandleCRC(bool aValue) { fHandleCRC = aValue; }
  TZCompressionLevel CompressionLevel() const { return fCompressionLevel; }
  void SetCompressionLevel(TZCompressionLevel aLevel) { fCompressionLevel = aLevel; }
  const TZPackedFileInfo& FileInfo() const { return fFileInfo; }
  TZlibMode Mode() const { return fMode; }

  void SetOnCompressProgress(TZlibProgressEvent aHandler) { fOnCompressProgress = std::move(aHandler); }
  void SetOnUnCompressProgress(TZlibProgressEvent aHandler) { fOnUnCompressProgress = std::move(aHandler); }
  // Passed on to the checksum calculator.
  void SetOnCRCProgress(TCRCProgressEvent aHandler) { fCRC.SetOnProgress(std::move(aHandler)); }

 protected:
  virtual TZlibResult DoCompress(int aBufferSize);
  virtual TZlibResult DoUnCompress(int aBufferSize, std::string& aOutFileName);

 private:
  struct TFile;
  void ZProgress(std::int64_t aPosition);
  bool ReadHeaderFrom(std::istream& aStream);
  void CloseStreams();

  TCalcStreamCRC fCRC;
  std::unique_ptr<TFile> fInputStream;
  std::unique_ptr<TFile> fOutputStream;
  int fBufferSize = DefaultBufferSize;
  std::string fOutput;
  std::string fInput;
  TZlibProgressEvent fOnCompressProgress;
  TZlibProgressEvent fOnUnCompressProgress;
  bool fHandleCRC = true;
  TZPackedFileInfo fFileInfo;
  std::int64_t fOffset = 0;
  std::int64_t fSize = 0;
  std::int64_t fPosition = 0;
  TZCompressionLevel fCompressionLevel = TZCompressionLevel::zcDefault;
  std::string fFileIdent = "KVTZLIBFILE";
  std::uint32_t fVersion = FormatVersion;
  TZlibMode fMode = TZlibMode::zmNone;
};

}  // namespace Update::Service
