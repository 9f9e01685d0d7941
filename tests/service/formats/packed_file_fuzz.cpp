// UnCompress of arbitrary package bytes into a fresh folder: never a crash, and nothing is
// written anywhere but that folder. The checksums are made to match the data so that the
// fuzzer reaches the name handling and the decompression.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "service/formats/packed_file.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace Update::Service;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* aData, std::size_t aSize) {
  static const QuorvaneTest::TTempDir folder("packed_fuzz");
  const fs::path& root = folder.Path();
  for (const auto& entry : fs::directory_iterator(root))
    QuorvaneTest::RemoveTree(entry.path());
  fs::create_directories(root / "out");

  std::string package(reinterpret_cast<const char*>(aData), aSize);
  if (package.size() >= PackedHeaderSize) {
    TPackedHeaderBytes header;
    std::copy_n(package.begin(), PackedHeaderSize, header.begin());
    TZPackedFileInfo info = DecodePackedFileInfo(header);
    info.ID = "KVTZLIBFILE";
    info.Version = 1;
    info.PackedSize = static_cast<std::int32_t>(package.size() - PackedHeaderSize);
    TCalcStreamCRC crc;
    crc.Update(package.data() + PackedHeaderSize, package.size() - PackedHeaderSize);
    info.PackedCRC = crc.CRC();
    info.Size = std::abs(info.Size) % (1 << 20);
    header = EncodePackedFileInfo(info);
    std::copy(header.begin(), header.end(), package.begin());
  }
  const std::string input = (root / "in.z").string();
  std::ofstream(input, std::ios::binary).write(package.data(), static_cast<std::streamsize>(package.size()));

  TZlibHandler handler;
  handler.SetInput(input);
  handler.SetOutput((root / "out").string() + "/");
  std::string name;
  handler.UnCompress(name);

  // Only in.z and the output folder may exist below the root.
  for (const auto& entry : fs::directory_iterator(root)) {
    const std::string file = entry.path().filename().string();
    if (file != "in.z" && file != "out")
      std::abort();
  }
  for (const auto& entry : fs::recursive_directory_iterator(root / "out"))
    if (entry.path().parent_path() != root / "out")
      std::abort();
  return 0;
}
