#include "platform/report/archive.h"

#include <cstring>
#include <ostream>
#include <stdexcept>

#include "platform/text/text.h"

namespace Platform::Report {

namespace {

constexpr char kMagic[4] = {'Q', 'V', 'R', 'A'};
constexpr char kTrailer[4] = {'Q', 'V', 'R', 'E'};
enum : std::uint8_t { kTagText = 1, kTagLine = 2, kTagRect = 3, kTagImage = 4 };
enum : std::uint8_t { kBold = 1, kItalic = 2, kUnderline = 4, kStrike = 8 };
constexpr std::uint32_t kMaxFamilyBytes = 256;
constexpr double kMaxFontSizePt = 2000.0;

class TWriter {
 public:
  void Bytes(const void* aData, std::size_t aSize) {
    const auto* bytes = static_cast<const std::uint8_t*>(aData);
    fOut.insert(fOut.end(), bytes, bytes + aSize);
  }
  void U8(std::uint8_t aValue) { fOut.push_back(aValue); }
  void U16(std::uint16_t aValue) {
    for (int i = 0; i < 2; ++i)
      fOut.push_back(static_cast<std::uint8_t>(aValue >> (8 * i)));
  }
  void U32(std::uint32_t aValue) {
    for (int i = 0; i < 4; ++i)
      fOut.push_back(static_cast<std::uint8_t>(aValue >> (8 * i)));
  }
  void I32(Micro aValue) {
    if (aValue > kArchiveMaxCoordinate || aValue < -kArchiveMaxCoordinate) {
      throw std::runtime_error("report archive: coordinate out of range");
    }
    U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(aValue)));
  }
  void String(const std::string& aText) {
    U32(static_cast<std::uint32_t>(aText.size()));
    Bytes(aText.data(), aText.size());
  }
  std::vector<std::uint8_t> Take() { return std::move(fOut); }

 private:
  std::vector<std::uint8_t> fOut;
};

struct ItemWriter {
  TWriter& W;
  void operator()(const ArchiveText& aText) const {
    W.U8(kTagText);
    for (Micro value : {aText.X, aText.Top, aText.Width, aText.Height, aText.Baseline})
      W.I32(value);
    W.U32(static_cast<std::uint32_t>(aText.Style.SizePt * 1000.0 + 0.5));
    W.U8(static_cast<std::uint8_t>((aText.Style.Bold ? kBold : 0) | (aText.Style.Italic ? kItalic : 0) |
                                   (aText.Style.Underline ? kUnderline : 0) | (aText.Style.Strike ? kStrike : 0)));
    W.U32(aText.Style.Color & 0xFFFFFF);
    W.String(aText.Style.Family.substr(0, kMaxFamilyBytes));
    W.String(aText.Text);
  }
  void operator()(const ArchiveLine& aLine) const {
    W.U8(kTagLine);
    for (Micro value : {aLine.X1, aLine.Y1, aLine.X2, aLine.Y2, aLine.PenWidth})
      W.I32(value);
    W.U32(aLine.Color & 0xFFFFFF);
  }
  void operator()(const ArchiveRect& aRect) const {
    W.U8(kTagRect);
    for (Micro value : {aRect.X, aRect.Y, aRect.Width, aRect.Height, aRect.PenWidth})
      W.I32(value);
    W.U32(aRect.PenColor & 0xFFFFFF);
    W.U8(aRect.FillColor ? 1 : 0);
    W.U32(aRect.FillColor.value_or(0) & 0xFFFFFF);
  }
  void operator()(const ArchiveImage& aImage) const {
    W.U8(kTagImage);
    for (Micro value : {aImage.X, aImage.Y, aImage.Width, aImage.Height})
      W.I32(value);
    W.U8(static_cast<std::uint8_t>(aImage.Format));
    W.U32(static_cast<std::uint32_t>(aImage.Bytes.size()));
    W.Bytes(aImage.Bytes.data(), aImage.Bytes.size());
  }
};

class TReader {
 public:
  TReader(const std::uint8_t* aData, std::size_t aSize) : fData(aData), fSize(aSize) {}
  std::size_t Remaining() const { return fSize - fPos; }
  void Need(std::size_t aCount) const {
    if (aCount > Remaining())
      throw std::runtime_error("truncated archive");
  }
  std::uint8_t U8() {
    Need(1);
    return fData[fPos++];
  }
  std::uint16_t U16() {
    Need(2);
    std::uint16_t value = static_cast<std::uint16_t>(fData[fPos] | (fData[fPos + 1] << 8));
    fPos += 2;
    return value;
  }
  std::uint32_t U32() {
    Need(4);
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
      value |= static_cast<std::uint32_t>(fData[fPos + i]) << (8 * i);
    fPos += 4;
    return value;
  }
  Micro I32() {
    const Micro value = static_cast<std::int32_t>(U32());
    if (value > kArchiveMaxCoordinate || value < -kArchiveMaxCoordinate) {
      throw std::runtime_error("coordinate out of range");
    }
    return value;
  }
  Micro Length() {
    const Micro value = I32();
    if (value < 0)
      throw std::runtime_error("negative size");
    return value;
  }
  std::string String(std::uint32_t aLimit) {
    const std::uint32_t size = U32();
    if (size > aLimit)
      throw std::runtime_error("string too long");
    Need(size);
    std::string text(reinterpret_cast<const char*>(fData + fPos), size);
    fPos += size;
    // Pango takes no NUL characters and only well-formed UTF-8.
    if (text.find('\0') != std::string::npos || !Platform::Text::IsValidUtf8(text)) {
      throw std::runtime_error("text is not UTF-8");
    }
    return text;
  }
  std::vector<std::uint8_t> Blob() {
    const std::uint32_t size = U32();
    Need(size);
    std::vector<std::uint8_t> bytes(fData + fPos, fData + fPos + size);
    fPos += size;
    return bytes;
  }
  bool Match(const char (&aMagic)[4]) {
    Need(4);
    const bool same = std::memcmp(fData + fPos, aMagic, 4) == 0;
    fPos += 4;
    return same;
  }
  std::uint32_t Color() {
    const std::uint32_t color = U32();
    if (color > 0xFFFFFF)
      throw std::runtime_error("bad colour");
    return color;
  }

 private:
  const std::uint8_t* fData;
  std::size_t fSize;
  std::size_t fPos = 0;
};

ArchiveItem ReadItem(TReader& aReader) {
  switch (aReader.U8()) {
    case kTagText: {
      ArchiveText text;
      text.X = aReader.I32();
      text.Top = aReader.I32();
      text.Width = aReader.Length();
      text.Height = aReader.Length();
      text.Baseline = aReader.I32();
      const double size = aReader.U32() / 1000.0;
      if (size <= 0 || size > kMaxFontSizePt)
        throw std::runtime_error("bad font size");
      text.Style.SizePt = size;
      const std::uint8_t flags = aReader.U8();
      if (flags & ~0x0F)
        throw std::runtime_error("bad style flags");
      text.Style.Bold = flags & kBold;
      text.Style.Italic = flags & kItalic;
      text.Style.Underline = flags & kUnderline;
      text.Style.Strike = flags & kStrike;
      text.Style.Color = aReader.Color();
      text.Style.Family = aReader.String(kMaxFamilyBytes);
      text.Text = aReader.String(UINT32_MAX);
      return text;
    }
    case kTagLine: {
      ArchiveLine line;
      line.X1 = aReader.I32();
      line.Y1 = aReader.I32();
      line.X2 = aReader.I32();
      line.Y2 = aReader.I32();
      line.PenWidth = aReader.Length();
      line.Color = aReader.Color();
      return line;
    }
    case kTagRect: {
      ArchiveRect rect;
      rect.X = aReader.I32();
      rect.Y = aReader.I32();
      rect.Width = aReader.Length();
      rect.Height = aReader.Length();
      rect.PenWidth = aReader.Length();
      rect.PenColor = aReader.Color();
      const std::uint8_t hasFill = aReader.U8();
      if (hasFill > 1)
        throw std::runtime_error("bad fill flag");
      const std::uint32_t fill = aReader.Color();
      if (hasFill)
        rect.FillColor = fill;
      return rect;
    }
    case kTagImage: {
      ArchiveImage image;
      image.X = aReader.I32();
      image.Y = aReader.I32();
      image.Width = aReader.Length();
      image.Height = aReader.Length();
      const std::uint8_t format = aReader.U8();
      if (format != 1 && format != 2)
        throw std::runtime_error("unknown image format");
      image.Format = static_cast<ImageFormat>(format);
      image.Bytes = aReader.Blob();
      return image;
    }
    default:
      throw std::runtime_error("unknown item");
  }
}

}  // namespace

std::string ArchivePage::Text() const {
  std::string result;
  for (const auto& item : Items) {
    if (const auto* text = std::get_if<ArchiveText>(&item)) {
      if (!result.empty())
        result += ' ';
      result += text->Text;
    }
  }
  return result;
}

void TMemoryArchiveDevice::BeginDocument(Micro aPageWidth, Micro aPageHeight) {
  fDocument = ArchiveDocument{aPageWidth, aPageHeight, {}};
}

void TStreamArchiveDevice::BeginDocument(Micro aPageWidth, Micro aPageHeight) {
  fDocument = ArchiveDocument{aPageWidth, aPageHeight, {}};
}

void TStreamArchiveDevice::EndDocument() {
  const std::vector<std::uint8_t> bytes = WriteArchive(fDocument);
  fOutput.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  fOutput.flush();
  if (!fOutput)
    throw std::runtime_error("report archive: writing the output stream failed");
  fDocument = {};
}

std::vector<std::uint8_t> WriteArchive(const ArchiveDocument& aDocument) {
  if (aDocument.Pages.size() > kArchiveMaxPages)
    throw std::runtime_error("report archive: too many pages");
  TWriter writer;
  writer.Bytes(kMagic, 4);
  writer.U16(kArchiveVersion);
  writer.U16(0);
  writer.I32(aDocument.PageWidth);
  writer.I32(aDocument.PageHeight);
  writer.U32(static_cast<std::uint32_t>(aDocument.Pages.size()));
  for (const auto& page : aDocument.Pages) {
    if (page.Items.size() > kArchiveMaxItemsPerPage)
      throw std::runtime_error("report archive: page too full");
    writer.U32(static_cast<std::uint32_t>(page.Items.size()));
    for (const auto& item : page.Items)
      std::visit(ItemWriter{writer}, item);
  }
  writer.Bytes(kTrailer, 4);
  return writer.Take();
}

ArchiveReadResult ReadArchive(const std::uint8_t* aData, std::size_t aSize) {
  ArchiveReadResult result;
  try {
    TReader reader(aData, aSize);
    if (!reader.Match(kMagic))
      throw std::runtime_error("not a report archive");
    const std::uint16_t version = reader.U16();
    if (version != kArchiveVersion)
      throw std::runtime_error("unsupported version " + std::to_string(version));
    reader.U16();
    ArchiveDocument document;
    document.PageWidth = reader.Length();
    document.PageHeight = reader.Length();
    const std::uint32_t pageCount = reader.U32();
    if (pageCount > kArchiveMaxPages)
      throw std::runtime_error("too many pages");
    // Each page takes at least its 4-byte item count: a huge count in a short file
    // is refused before anything is allocated for it.
    reader.Need(static_cast<std::size_t>(pageCount) * 4);
    document.Pages.resize(pageCount);
    for (auto& page : document.Pages) {
      const std::uint32_t itemCount = reader.U32();
      if (itemCount > kArchiveMaxItemsPerPage)
        throw std::runtime_error("too many items on a page");
      reader.Need(itemCount);
      page.Items.reserve(itemCount);
      for (std::uint32_t i = 0; i < itemCount; ++i)
        page.Items.push_back(ReadItem(reader));
    }
    if (!reader.Match(kTrailer))
      throw std::runtime_error("missing end mark");
    if (reader.Remaining() != 0)
      throw std::runtime_error("data after the end mark");
    result.Document = std::move(document);
  } catch (const std::exception& e) {
    result.Error = std::string("report archive: ") + e.what();
  }
  return result;
}

}  // namespace Platform::Report
