#pragma once

// Update.Service.Crc: the stream checksum of packed files, installed files and packages.
//
// A table-driven, reflected 32-bit cyclic redundancy check with non-standard constants:
// polynomial 0x7DB88320 (not 0xEDB88320), start value 0x7FFFFFFF (not 0xFFFFFFFF) and
// no final inversion. Packages made elsewhere carry checksums with exactly these
// constants, so they are part of the file format; a library CRC-32 gives other values.
//
// Per byte b: register := Table[(register xor b) and 0xFF] xor (register shr 8). The bulk
// path folds 64-byte blocks with carry-less multiplication where the processor has it
// (x86-64 PCLMULQDQ; 256-byte blocks in 512-bit registers with VPCLMULQDQ and AVX-512) and
// processes 16 bytes per step with derived tables otherwise (slicing); all give the same
// register as the byte-wise rule for any input.
//
// Contract: one thread at a time per instance. The stream is not owned. Calculate reads
// from the stream's current position to its end in blocks of 65536 bytes and restores
// the position; every failure (read error, exception of the progress handler) is written
// to the service log and reported as false, never thrown. Attaching a different stream
// resets the register; detaching it (nullptr) keeps the register, so the checksum can be
// read after the stream is gone. GetFileCrc reads the file with plain system calls in the
// same blocks and with the same progress events and log lines as Calculate on a stream of
// it; the block buffer is kept between calls.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>

namespace Update::Service {

class TCalcStreamCRC;

// Sender and percentage (0..100).
using TCRCProgressEvent = std::function<void(TCalcStreamCRC& aSender, int aPercentage)>;

class TCalcStreamCRC {
 public:
  static constexpr std::uint32_t DefaultPoly = 0x7DB88320;
  static constexpr std::uint32_t StartValue = 0x7FFFFFFF;
  static constexpr std::size_t BlockSize = 65536;
  static constexpr std::size_t FileBufferSize = 32768;

  TCalcStreamCRC();
  ~TCalcStreamCRC();
  TCalcStreamCRC(const TCalcStreamCRC&) = delete;
  TCalcStreamCRC& operator=(const TCalcStreamCRC&) = delete;

  // Sets the register to StartValue.
  void Reset();
  // Feeds the bytes from the stream's position to its end into the register.
  bool Calculate();
  // The same from position 0.
  bool CalculateFromBeginning();
  // aCrc := StartValue, then the checksum of the whole file. False when the file does not
  // exist or cannot be read (aCrc then holds StartValue or a partial value).
  bool GetFileCrc(const std::string& aFileName, std::uint32_t& aCrc);
  // The same for aName in the open folder aFolder (AT_FDCWD: aName is a path of its own).
  bool GetFileCrcAt(int aFolder, const std::string& aName, std::uint32_t& aCrc);

  // Feeds a buffer into the register (the bulk path of Calculate).
  void Update(const void* aData, std::size_t aSize);

  std::istream* BinStream() const { return fBinStream; }
  // Assigning a different stream resets the register; nullptr detaches and keeps it.
  void SetBinStream(std::istream* aStream);
  std::uint32_t CRC() const { return fCRC; }
  void SetCRC(std::uint32_t aValue) { fCRC = aValue; }
  std::uint32_t CRCPoly() const { return fCRCPoly; }
  // Rebuilds the tables.
  void SetCRCPoly(std::uint32_t aPoly);
  const TCRCProgressEvent& OnProgress() const { return fOnProgress; }
  void SetOnProgress(TCRCProgressEvent aHandler) { fOnProgress = std::move(aHandler); }

  // The byte-wise table of the current polynomial (entry i: i shifted out eight times).
  const std::array<std::uint32_t, 256>& Table() const;

 private:
  struct TTables;
  bool DoCalculate();
  char* Block();

  std::unique_ptr<TTables> fTables;
  std::unique_ptr<char[]> fBlock;  // BlockSize bytes, made on first use
  std::uint32_t fCRCPoly = DefaultPoly;
  std::uint32_t fCRC = StartValue;
  std::istream* fBinStream = nullptr;
  std::streamoff fSavedPosition = 0;
  TCRCProgressEvent fOnProgress;
};

}  // namespace Update::Service
