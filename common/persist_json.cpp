#include "common/persist_json.h"

#include <zlib.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/text/text.h"

namespace Update::Common {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBinaryPrefix = "data:;base64,";
constexpr std::string_view kLineBreak = "\r\n";
constexpr std::size_t kBase64LineLength = 76;

[[noreturn]] void ThrowFileError(const std::string& aWhat, const fs::path& aFile, int aErrno) {
  throw fs::filesystem_error(aWhat, aFile, std::error_code(aErrno, std::generic_category()));
}

std::string ReadAll(std::istream& aStream) {
  return std::string(std::istreambuf_iterator<char>(aStream), std::istreambuf_iterator<char>());
}

// Reads the whole file; nullopt when it does not exist, raises for other errors.
std::optional<std::string> ReadFileBytes(const fs::path& aFile) {
  std::error_code error;
  if (!fs::exists(aFile, error)) {
    if (error && error != std::errc::no_such_file_or_directory) {
      ThrowFileError("cannot read", aFile, error.value());
    }
    return std::nullopt;
  }
  std::ifstream stream(aFile, std::ios::binary);
  if (!stream) {
    ThrowFileError("cannot open for reading", aFile, errno ? errno : EIO);
  }
  std::string bytes = ReadAll(stream);
  if (stream.bad()) {
    ThrowFileError("cannot read", aFile, errno ? errno : EIO);
  }
  return bytes;
}

// Replaces aFile with aBytes: missing folders are created, the bytes go to a temporary
// file beside it, which is then renamed over the target.
void WriteFileBytes(const fs::path& aFile, std::string_view aBytes) {
  if (aFile.has_parent_path()) {
    std::error_code error;
    fs::create_directories(aFile.parent_path(), error);
    if (error) {
      ThrowFileError("cannot create folder", aFile.parent_path(), error.value());
    }
  }
  thread_local std::mt19937 random{std::random_device{}()};
  fs::path temporary = aFile;
  temporary += ".tmp" + std::to_string(random());
  {
    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    if (!stream) {
      ThrowFileError("cannot create", temporary, errno ? errno : EIO);
    }
    stream.write(aBytes.data(), static_cast<std::streamsize>(aBytes.size()));
    stream.flush();
    if (!stream) {
      const int error = errno ? errno : EIO;
      stream.close();
      std::error_code ignored;
      fs::remove(temporary, ignored);
      ThrowFileError("cannot write", temporary, error);
    }
  }
  std::error_code error;
  fs::rename(temporary, aFile, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    ThrowFileError("cannot replace", aFile, error.value());
  }
}

// UTF-8 text from a stream's bytes: a UTF-8 byte-order mark is skipped; invalid UTF-8
// gives empty text.
std::string StreamBytesToText(std::string aBytes) {
  if (aBytes.size() >= 3 && static_cast<unsigned char>(aBytes[0]) == 0xEF &&
      static_cast<unsigned char>(aBytes[1]) == 0xBB && static_cast<unsigned char>(aBytes[2]) == 0xBF) {
    aBytes.erase(0, 3);
  }
  if (!Platform::Text::IsValidUtf8(aBytes)) {
    return {};
  }
  return aBytes;
}

std::string Compress(std::string_view aText) {
  uLongf size = compressBound(static_cast<uLong>(aText.size()));
  std::string compressed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(compressed.data()), &size, reinterpret_cast<const Bytef*>(aText.data()),
                static_cast<uLong>(aText.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
    throw std::runtime_error("zlib compression failed");
  }
  compressed.resize(size);
  return compressed;
}

// Inflates a zlib stream; nullopt when it is damaged or incomplete.
std::optional<std::string> Decompress(std::string_view aData) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    return std::nullopt;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(aData.data()));
  stream.avail_in = static_cast<uInt>(aData.size());
  std::string text;
  std::array<char, 16384> buffer;
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
    stream.avail_out = static_cast<uInt>(buffer.size());
    result = inflate(&stream, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) {
      break;
    }
    text.append(buffer.data(), buffer.size() - stream.avail_out);
    if (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
      result = Z_BUF_ERROR;  // input ended before the stream did
    }
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) {
    return std::nullopt;
  }
  return text;
}

// The printed text as plain UTF-8 bytes, or as the marker and the zlib stream.
void WriteText(std::ostream& aStream, std::string_view aText, TPersistSaveOptions aSaveOptions) {
  if (aSaveOptions.Compression == pscCompressed) {
    aStream.write(reinterpret_cast<const char*>(kCompressedMarker), sizeof kCompressedMarker);
    const std::string compressed = Compress(aText);
    aStream.write(compressed.data(), static_cast<std::streamsize>(compressed.size()));
  } else {
    aStream.write(aText.data(), static_cast<std::streamsize>(aText.size()));
  }
}

// ---- printers ----

template <bool Pretty>
class TPrinter {
 public:
  explicit TPrinter(std::string& aTarget) : fOut(aTarget) {}

  void Value(const TPersistValue& aValue) {
    switch (aValue.Kind()) {
      case TPersistValueKind::pvkObject:
        Object(static_cast<const TPersistValue_Object&>(aValue));
        break;
      case TPersistValueKind::pvkArray:
        Array(static_cast<const TPersistValue_Array&>(aValue));
        break;
      case TPersistValueKind::pvkString:
        Quoted(static_cast<const TPersistValue_String&>(aValue).Value());
        break;
      case TPersistValueKind::pvkNumber:
        TPersist_Json_Abstract::AppendNumber(fOut, static_cast<const TPersistValue_Number&>(aValue).Value());
        break;
      case TPersistValueKind::pvkBoolean:
        fOut += static_cast<const TPersistValue_Boolean&>(aValue).Value() ? "true" : "false";
        break;
      case TPersistValueKind::pvkNull:
        fOut += "null";
        break;
      case TPersistValueKind::pvkBinary: {
        const auto& bytes = static_cast<const TPersistValue_Binary&>(aValue).Value();
        std::string text(kBinaryPrefix);
        text += Base64Encode(bytes.data(), bytes.size(), kBase64LineLength);
        Quoted(text);
        break;
      }
    }
  }

 private:
  void Object(const TPersistValue_Object& aObject) {
    fOut += '{';
    if (aObject.Count() == 0) {
      fOut += '}';
      return;
    }
    Deepen();
    if (aObject.Meta_HasKey("SortObjectKeys")) {
      const auto pairs = aObject.Pairs(true);
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        Member(pairs[i].first, *pairs[i].second, i + 1 == pairs.size());
      }
    } else {
      const auto& members = aObject.Members();
      for (std::size_t i = 0; i < members.size(); ++i) {
        Member(members[i].first, *members[i].second, i + 1 == members.size());
      }
    }
    Shallow();
    fOut += '}';
  }

  void Member(std::string_view aKey, const TPersistValue& aValue, bool aLast) {
    Indent();
    Quoted(aKey);
    fOut += Pretty ? " : " : ":";
    Value(aValue);
    if (!aLast) {
      fOut += ',';
    }
    LineBreak();
  }

  void Array(const TPersistValue_Array& aArray) {
    fOut += '[';
    if (aArray.Count() == 0) {
      fOut += ']';
      return;
    }
    Deepen();
    const auto& items = aArray.Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
      Indent();
      Value(*items[i]);
      if (i + 1 != items.size()) {
        fOut += ',';
      }
      LineBreak();
    }
    Shallow();
    fOut += ']';
  }

  void Quoted(std::string_view aText) {
    fOut += '"';
    TPersist_Json_Abstract::AppendEscaped(fOut, aText);
    fOut += '"';
  }

  // Opening bracket written: one level deeper, then the line break before the first item.
  void Deepen() {
    fDepth += 2;
    LineBreak();
  }
  // After the last item's line break: back one level and indent the closing bracket.
  void Shallow() {
    fDepth -= 2;
    Indent();
  }
  void Indent() {
    if constexpr (Pretty) {
      fOut.append(fDepth, ' ');
    }
  }
  void LineBreak() {
    if constexpr (Pretty) {
      fOut += kLineBreak;
    }
  }

  std::string& fOut;
  std::size_t fDepth = 0;
};

// ---- parser: nlohmann's SAX events straight into a value tree ----

class TTreeBuilder {
 public:
  using number_integer_t = nlohmann::json::number_integer_t;
  using number_unsigned_t = nlohmann::json::number_unsigned_t;
  using number_float_t = nlohmann::json::number_float_t;
  using string_t = nlohmann::json::string_t;
  using binary_t = nlohmann::json::binary_t;

  explicit TTreeBuilder(TPersist& aPersist) : fPersist(aPersist) {}

  TPersistValuePtr TakeRoot() { return std::move(fRoot); }

  bool null() { return Add(std::make_unique<TPersistValue_Null>(&fPersist)); }
  bool boolean(bool aValue) { return Add(std::make_unique<TPersistValue_Boolean>(aValue, &fPersist)); }
  bool number_integer(number_integer_t aValue) {
    return Add(std::make_unique<TPersistValue_Number>(static_cast<double>(aValue), &fPersist));
  }
  bool number_unsigned(number_unsigned_t aValue) {
    return Add(std::make_unique<TPersistValue_Number>(static_cast<double>(aValue), &fPersist));
  }
  bool number_float(number_float_t aValue, const string_t&) {
    return Add(std::make_unique<TPersistValue_Number>(aValue, &fPersist));
  }
  bool string(string_t& aValue) { return Add(StringNode(std::move(aValue), fPersist)); }
  bool binary(binary_t&) { return false; }  // not part of JSON text
  bool start_object(std::size_t) {
    auto object = std::make_unique<TPersistValue_Object>(&fPersist);
    auto* raw = object.get();
    if (!Open(std::move(object), raw, nullptr)) {
      return false;
    }
    return true;
  }
  bool key(string_t& aKey) {
    fKey = std::move(aKey);
    return true;
  }
  bool end_object() {
    fStack.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    auto array = std::make_unique<TPersistValue_Array>(&fPersist);
    auto* raw = array.get();
    return Open(std::move(array), nullptr, raw);
  }
  bool end_array() {
    fStack.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

  // A string member is binary when it carries the data-URL prefix and valid base64.
  static TPersistValuePtr StringNode(std::string aValue, TPersist& aPersist) {
    if (aValue.size() >= kBinaryPrefix.size() &&
        std::string_view(aValue).substr(0, kBinaryPrefix.size()) == kBinaryPrefix) {
      if (auto bytes = Base64Decode(std::string_view(aValue).substr(kBinaryPrefix.size()))) {
        return std::make_unique<TPersistValue_Binary>(std::move(*bytes), &aPersist);
      }
    }
    return std::make_unique<TPersistValue_String>(std::move(aValue), &aPersist);
  }

 private:
  struct TFrame {
    TPersistValue_Object* Object;
    TPersistValue_Array* Array;
  };

  bool Add(TPersistValuePtr aValue) {
    if (fStack.empty()) {
      return false;  // a scalar root is no object
    }
    TFrame& top = fStack.back();
    if (top.Object) {
      top.Object->Add_PersistValue(std::move(fKey), std::move(aValue));
      fKey.clear();
    } else {
      top.Array->Add_PersistValue(std::move(aValue));
    }
    return true;
  }

  bool Open(TPersistValuePtr aValue, TPersistValue_Object* aObject, TPersistValue_Array* aArray) {
    if (fStack.size() >= static_cast<std::size_t>(TPersist_Json::kMaxDepth)) {
      return false;
    }
    if (fStack.empty()) {
      if (fRoot || !aObject) {
        return false;  // the root must be one object
      }
      fRoot = std::move(aValue);
    } else if (!Add(std::move(aValue))) {
      return false;
    }
    fStack.push_back({aObject, aArray});
    return true;
  }

  TPersist& fPersist;
  TPersistValuePtr fRoot;
  std::vector<TFrame> fStack;
  std::string fKey;
};

// Parses aText into a tree owned by aPersist; nullptr unless it is one JSON object.
TPersistValue_Object* ParseTree(std::string_view aText, TPersist& aPersist) {
  if (aText.empty()) {
    return nullptr;
  }
  TTreeBuilder builder(aPersist);
  bool parsed = false;
  try {
    parsed =
        nlohmann::json::sax_parse(aText.begin(), aText.end(), &builder, nlohmann::json::input_format_t::json, true);
  } catch (const nlohmann::json::exception&) {
    parsed = false;
  }
  if (!parsed) {
    return nullptr;
  }
  TPersistValuePtr root = builder.TakeRoot();
  if (!root || !root->AsObject()) {
    return nullptr;
  }
  return static_cast<TPersistValue_Object*>(aPersist.AdoptRoot(std::move(root)));
}

// nlohmann document -> tree node (depth-limited).
TPersistValuePtr DocumentToNode(const nlohmann::ordered_json& aDocument, TPersist& aPersist, int aDepth) {
  if (aDepth > TPersist_Json::kMaxDepth) {
    return nullptr;
  }
  switch (aDocument.type()) {
    case nlohmann::json::value_t::object: {
      auto object = std::make_unique<TPersistValue_Object>(&aPersist);
      for (const auto& [key, value] : aDocument.items()) {
        auto node = DocumentToNode(value, aPersist, aDepth + 1);
        if (!node) {
          return nullptr;
        }
        object->Add_PersistValue(key, std::move(node));
      }
      return object;
    }
    case nlohmann::json::value_t::array: {
      auto array = std::make_unique<TPersistValue_Array>(&aPersist);
      for (const auto& value : aDocument) {
        auto node = DocumentToNode(value, aPersist, aDepth + 1);
        if (!node) {
          return nullptr;
        }
        array->Add_PersistValue(std::move(node));
      }
      return array;
    }
    case nlohmann::json::value_t::string:
      return TTreeBuilder::StringNode(aDocument.get<std::string>(), aPersist);
    case nlohmann::json::value_t::boolean:
      return std::make_unique<TPersistValue_Boolean>(aDocument.get<bool>(), &aPersist);
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
      return std::make_unique<TPersistValue_Number>(aDocument.get<double>(), &aPersist);
    case nlohmann::json::value_t::null:
      return std::make_unique<TPersistValue_Null>(&aPersist);
    case nlohmann::json::value_t::binary:
    case nlohmann::json::value_t::discarded:
      break;
  }
  return nullptr;
}

nlohmann::ordered_json NodeToDocument(const TPersistValue& aValue) {
  switch (aValue.Kind()) {
    case TPersistValueKind::pvkObject: {
      nlohmann::ordered_json object = nlohmann::ordered_json::object();
      for (const auto& [key, value] : static_cast<const TPersistValue_Object&>(aValue).Members()) {
        object[key] = NodeToDocument(*value);
      }
      return object;
    }
    case TPersistValueKind::pvkArray: {
      nlohmann::ordered_json array = nlohmann::ordered_json::array();
      for (const auto& value : static_cast<const TPersistValue_Array&>(aValue).Items()) {
        array.push_back(NodeToDocument(*value));
      }
      return array;
    }
    case TPersistValueKind::pvkString:
      return static_cast<const TPersistValue_String&>(aValue).Value();
    case TPersistValueKind::pvkNumber:
      return static_cast<const TPersistValue_Number&>(aValue).Value();
    case TPersistValueKind::pvkBoolean:
      return static_cast<const TPersistValue_Boolean&>(aValue).Value();
    case TPersistValueKind::pvkNull:
      return nullptr;
    case TPersistValueKind::pvkBinary: {
      const auto& bytes = static_cast<const TPersistValue_Binary&>(aValue).Value();
      return std::string(kBinaryPrefix) + Base64Encode(bytes.data(), bytes.size(), kBase64LineLength);
    }
  }
  return nullptr;
}

template <bool Pretty>
void PrintDocument(std::string& aOut, const nlohmann::ordered_json& aDocument, std::size_t aDepth) {
  auto indent = [&](std::size_t aLevel) {
    if constexpr (Pretty) {
      aOut.append(aLevel, ' ');
    }
  };
  auto lineBreak = [&] {
    if constexpr (Pretty) {
      aOut += kLineBreak;
    }
  };
  if (aDocument.is_object() || aDocument.is_array()) {
    const bool object = aDocument.is_object();
    aOut += object ? '{' : '[';
    if (aDocument.empty()) {
      aOut += object ? '}' : ']';
      return;
    }
    lineBreak();
    std::size_t i = 0;
    for (auto it = aDocument.begin(); it != aDocument.end(); ++it, ++i) {
      indent(aDepth + 2);
      if (object) {
        aOut += '"';
        TPersist_Json_Abstract::AppendEscaped(aOut, it.key());
        aOut += Pretty ? "\" : " : "\":";
      }
      PrintDocument<Pretty>(aOut, *it, aDepth + 2);
      if (i + 1 != aDocument.size()) {
        aOut += ',';
      }
      lineBreak();
    }
    indent(aDepth);
    aOut += object ? '}' : ']';
  } else if (aDocument.is_string()) {
    aOut += '"';
    TPersist_Json_Abstract::AppendEscaped(aOut, aDocument.get_ref<const std::string&>());
    aOut += '"';
  } else {
    aOut += aDocument.dump();
  }
}

}  // namespace

// ---- TPersist_Abstract ----

std::unique_ptr<TPersist> TPersist_Abstract::MakePersist() {
  return std::make_unique<TPersist>();
}

std::string TPersist_Abstract::LoadStringFromFile(const std::filesystem::path& aFile) {
  std::optional<std::string> bytes = ReadFileBytes(aFile);
  if (!bytes) {
    return {};
  }
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>((*bytes)[i]); };
  if (bytes->size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    return bytes->substr(3);
  }
  if (bytes->size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    std::string body = bytes->substr(2);
    if (body.size() % 2) {
      body.pop_back();  // a torn last code unit cannot be decoded
    }
    return Platform::Text::Utf16LeBytesToUtf8(body).value_or(std::string());
  }
  if (bytes->size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
    std::string body = bytes->substr(2);
    if (body.size() % 2) {
      body.pop_back();
    }
    for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
      std::swap(body[i], body[i + 1]);
    }
    return Platform::Text::Utf16LeBytesToUtf8(body).value_or(std::string());
  }
  // Without a mark: our own files are UTF-8 (and ASCII is both); only text that is not
  // valid UTF-8 is taken as Windows-1252, so a round trip never garbles non-ASCII text.
  if (Platform::Text::IsValidUtf8(*bytes)) {
    return std::move(*bytes);
  }
  return Platform::Text::Cp1252ToUtf8(*bytes);
}

void TPersist_Abstract::SaveStringToFile(const std::filesystem::path& aFile, std::string_view aString) {
  WriteFileBytes(aFile, aString);
}

// ---- TPersist_Json_Abstract ----

void TPersist_Json_Abstract::AppendEscaped(std::string& aTarget, std::string_view aString) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < aString.size(); ++i) {
    const char* replacement;
    switch (aString[i]) {
      case '\\':
        replacement = "\\\\";
        break;
      case '"':
        replacement = "\\\"";
        break;
      case '\b':
        replacement = "\\b";
        break;
      case '\f':
        replacement = "\\f";
        break;
      case '\n':
        replacement = "\\n";
        break;
      case '\r':
        replacement = "\\r";
        break;
      case '\t':
        replacement = "\\t";
        break;
      default:
        // Other control characters would make a document that no JSON reader,
        // ours included, accepts again: write them as \u00XX.
        if (static_cast<unsigned char>(aString[i]) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          const auto c = static_cast<unsigned char>(aString[i]);
          aTarget.append(aString.data() + start, i - start);
          aTarget += "\\u00";
          aTarget += kHex[c >> 4];
          aTarget += kHex[c & 0xF];
          start = i + 1;
        }
        continue;
    }
    aTarget.append(aString.data() + start, i - start);
    aTarget += replacement;
    start = i + 1;
  }
  aTarget.append(aString.data() + start, aString.size() - start);
}

std::string TPersist_Json_Abstract::EscapeString(std::string_view aString) {
  std::string escaped;
  escaped.reserve(aString.size());
  AppendEscaped(escaped, aString);
  return escaped;
}

void TPersist_Json_Abstract::AppendNumber(std::string& aTarget, double aValue) {
  if (!std::isfinite(aValue)) {
    aTarget += "null";
    return;
  }
  if (aValue == 0) {
    aTarget += '0';  // also for -0
    return;
  }
  char buffer[40];
  // Whole numbers below 10^15 are the common case: print them as integers.
  if (std::fabs(aValue) < 1e15 && aValue == std::trunc(aValue)) {
    auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(aValue));
    aTarget.append(buffer, result.ptr);
    return;
  }
  // 15 significant digits: d.dddddddddddddde[+-]x
  auto result = std::to_chars(buffer, buffer + sizeof buffer, aValue, std::chars_format::scientific, 14);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const bool negative = text.front() == '-';
  if (negative) {
    text.remove_prefix(1);
  }
  const std::size_t ePos = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+' ? 1 : 0), text.data() + text.size(), exponent);
  std::string digits;
  digits += text[0];
  digits.append(text.substr(2, ePos - 2));
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  if (negative) {
    aTarget += '-';
  }
  if (exponent < 15 && exponent >= -5) {
    if (exponent >= 0) {
      const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= integerDigits) {
        aTarget += digits;
        aTarget.append(integerDigits - digits.size(), '0');
      } else {
        aTarget.append(digits, 0, integerDigits);
        aTarget += '.';
        aTarget.append(digits, integerDigits);
      }
    } else {
      aTarget += "0.";
      aTarget.append(static_cast<std::size_t>(-exponent - 1), '0');
      aTarget += digits;
    }
    return;
  }
  aTarget += digits[0];
  if (digits.size() > 1) {
    aTarget += '.';
    aTarget.append(digits, 1);
  }
  aTarget += 'E';
  aTarget += std::to_string(exponent);
}

std::string TPersist_Json_Abstract::FormatNumber(double aValue) {
  std::string text;
  AppendNumber(text, aValue);
  return text;
}

void TPersist_Json_Abstract::PrintCompact(std::string& aTarget, const TPersistValue& aTree) {
  TPrinter<false>(aTarget).Value(aTree);
}

void TPersist_Json_Abstract::PrintPretty(std::string& aTarget, const TPersistValue& aTree) {
  TPrinter<true>(aTarget).Value(aTree);
}

std::string TPersist_Json_Abstract::PersistObject_SaveToJsonString(const TPersistValue* aTree,
                                                                   TPersistSaveOptions aSaveOptions) {
  std::string text;
  if (!aTree) {
    return text;
  }
  if (aSaveOptions.Text == psoPrettyPrint) {
    PrintPretty(text, *aTree);
  } else {
    PrintCompact(text, *aTree);
  }
  return text;
}

void TPersist_Json_Abstract::PersistObject_SaveToStream(const TPersistValue* aTree, std::ostream& aStream,
                                                        TPersistSaveOptions aSaveOptions) {
  const std::string text = PersistObject_SaveToJsonString(aTree, aSaveOptions);
  WriteText(aStream, text, aSaveOptions);
}

bool TPersist_Json_Abstract::IsCompressed(std::istream& aStream, bool aResetPosition) {
  const auto start = aStream.tellg();
  char marker[4];
  aStream.read(marker, sizeof marker);
  const bool compressed = aStream.gcount() == 4 && std::memcmp(marker, kCompressedMarker, 4) == 0;
  if (aResetPosition || !compressed) {
    aStream.clear();
    aStream.seekg(start);
  }
  return compressed;
}

bool TPersist_Json_Abstract::IsCompressed(const std::filesystem::path& aFile) {
  std::ifstream stream(aFile, std::ios::binary);
  return stream && IsCompressed(stream, true);
}

std::string TPersist_Json_Abstract::Object_SaveToJsonString(const void* aSourceObject, const TPersistTypeInfo& aType,
                                                            TPersistInstanceOptions aInstanceOptions,
                                                            TPersistSaveOptions aSaveOptions) {
  auto persist = MakePersist();
  TPersistValue_Object* root = persist->CreateRootObject();
  persist->Object_SaveToPersistObject(*root, aSourceObject, aType, aInstanceOptions);
  return PersistObject_SaveToJsonString(root, aSaveOptions);
}

// ---- TPersist_Json ----

std::unique_ptr<TPersist_Json::TJsonDocument> TPersist_Json::TryParseJsonObject(std::string_view aString) {
  auto document = Json_LoadFromString(aString);
  if (!document || !document->is_object()) {
    return nullptr;
  }
  return document;
}

bool TPersist_Json::PersistObject_LoadFromJsonString(std::string_view aJson, TPersist& aPersist,
                                                     TPersistValue_Object*& aTree) {
  aTree = ParseTree(aJson, aPersist);
  return aTree != nullptr;
}

bool TPersist_Json::PersistObject_LoadFromStream(std::istream& aStream, TPersist& aPersist,
                                                 TPersistValue_Object*& aTree) {
  aTree = nullptr;
  const auto start = aStream.tellg();
  if (IsCompressed(aStream, false)) {
    std::optional<std::string> text = Decompress(ReadAll(aStream));
    if (text) {
      aTree = ParseTree(StreamBytesToText(std::move(*text)), aPersist);
    }
    if (aTree) {
      return true;
    }
    aStream.clear();
    aStream.seekg(start);  // damaged: read again as plain text
  }
  aTree = ParseTree(StreamBytesToText(ReadAll(aStream)), aPersist);
  return aTree != nullptr;
}

bool TPersist_Json::PersistObject_LoadFromFile(const std::filesystem::path& aFile, TPersist& aPersist,
                                               TPersistValue_Object*& aTree) {
  aTree = nullptr;
  std::optional<std::string> bytes = ReadFileBytes(aFile);
  if (!bytes) {
    return false;
  }
  std::istringstream stream(std::move(*bytes));
  return PersistObject_LoadFromStream(stream, aPersist, aTree);
}

void TPersist_Json::PersistObject_SaveToFile(const TPersistValue* aTree, const std::filesystem::path& aFile,
                                             TPersistSaveOptions aSaveOptions) {
  std::ostringstream stream;
  PersistObject_SaveToStream(aTree, stream, aSaveOptions);
  WriteFileBytes(aFile, stream.view());
}

bool TPersist_Json::Object_LoadFromJsonString(std::string_view aJson, void* aTargetObject,
                                              const TPersistTypeInfo& aType, TPersistInstanceOptions aInstanceOptions) {
  auto persist = MakePersist();
  TPersistValue_Object* tree = nullptr;
  if (!PersistObject_LoadFromJsonString(aJson, *persist, tree)) {
    return false;
  }
  persist->Object_LoadFromPersistObject(*tree, aTargetObject, aType, aInstanceOptions);
  return true;
}

void TPersist_Json::Object_SaveToStream(const void* aSourceObject, const TPersistTypeInfo& aType, std::ostream& aStream,
                                        TPersistInstanceOptions aInstanceOptions, TPersistSaveOptions aSaveOptions) {
  auto persist = MakePersist();
  TPersistValue_Object* root = persist->CreateRootObject();
  persist->Object_SaveToPersistObject(*root, aSourceObject, aType, aInstanceOptions);
  PersistObject_SaveToStream(root, aStream, aSaveOptions);
}

void TPersist_Json::Object_SaveToFile(const void* aSourceObject, const TPersistTypeInfo& aType,
                                      const std::filesystem::path& aFile, TPersistInstanceOptions aInstanceOptions,
                                      TPersistSaveOptions aSaveOptions) {
  std::ostringstream stream;
  Object_SaveToStream(aSourceObject, aType, stream, aInstanceOptions, aSaveOptions);
  WriteFileBytes(aFile, stream.view());
}

bool TPersist_Json::Object_LoadFromStream(std::istream& aStream, void* aTargetObject, const TPersistTypeInfo& aType,
                                          TPersistInstanceOptions aInstanceOptions) {
  auto persist = MakePersist();
  TPersistValue_Object* tree = nullptr;
  if (!PersistObject_LoadFromStream(aStream, *persist, tree)) {
    return false;
  }
  persist->Object_LoadFromPersistObject(*tree, aTargetObject, aType, aInstanceOptions);
  return true;
}

bool TPersist_Json::Object_LoadFromFile(const std::filesystem::path& aFile, void* aTargetObject,
                                        const TPersistTypeInfo& aType, TPersistInstanceOptions aInstanceOptions) {
  auto persist = MakePersist();
  TPersistValue_Object* tree = nullptr;
  if (!PersistObject_LoadFromFile(aFile, *persist, tree)) {
    return false;
  }
  persist->Object_LoadFromPersistObject(*tree, aTargetObject, aType, aInstanceOptions);
  return true;
}

std::string TPersist_Json::Record_SaveToJsonString(const void* aRecord, const TPersistTypeInfo& aType,
                                                   TPersistSaveOptions aSaveOptions) {
  auto persist = MakePersist();
  TPersistValuePtr node = persist->FromRecord(aType, aRecord);
  return PersistObject_SaveToJsonString(node.get(), aSaveOptions);
}

bool TPersist_Json::Record_LoadFromJsonString(std::string_view aJson, void* aRecord, const TPersistTypeInfo& aType) {
  auto persist = MakePersist();
  TPersistValue_Object* tree = nullptr;
  const TPersistValue* source = nullptr;
  if (PersistObject_LoadFromJsonString(aJson, *persist, tree)) {
    source = tree;
  } else if (persist->GetRecordInterceptor(aType, nullptr)) {
    // What Record_SaveToJsonString wrote for an intercepted record may be a scalar.
    auto document = Json_LoadFromString(aJson);
    if (!document || document->is_object() || document->is_array()) {
      return false;
    }
    source = persist->AdoptRoot(DocumentToNode(*document, *persist, 0));
  }
  if (!source) {
    return false;
  }
  // Convert into a scratch copy, so that "empty" leaves the record untouched.
  std::unique_ptr<void, void (*)(void*)> scratch(aType.Create ? aType.Create() : nullptr, aType.Destroy);
  if (!scratch || !persist->ToRecord(aType, source, scratch.get())) {
    return false;
  }
  return persist->ToRecord(aType, source, aRecord);
}

TPersistValue_Object* TPersist_Json::Object_LoadFromJsonObject(const TJsonDocument& aDocument, TPersist& aPersist) {
  if (!aDocument.is_object()) {
    return nullptr;
  }
  TPersistValuePtr node = DocumentToNode(aDocument, aPersist, 0);
  if (!node) {
    return nullptr;
  }
  return static_cast<TPersistValue_Object*>(aPersist.AdoptRoot(std::move(node)));
}

TPersist_Json::TJsonDocument TPersist_Json::Object_SaveToJsonObject(const TPersistValue_Object& aTree) {
  return NodeToDocument(aTree);
}

std::unique_ptr<TPersist_Json::TJsonDocument> TPersist_Json::Json_LoadFromString(std::string_view aString) {
  if (aString.empty()) {
    return nullptr;
  }
  // Depth-limited like the tree parser: the callback refuses containers nested too deeply.
  int depth = 0;
  bool tooDeep = false;
  auto callback = [&](int aDepth, nlohmann::ordered_json::parse_event_t aEvent, nlohmann::ordered_json&) {
    if (aEvent == nlohmann::ordered_json::parse_event_t::object_start ||
        aEvent == nlohmann::ordered_json::parse_event_t::array_start) {
      depth = aDepth;
      if (aDepth >= kMaxDepth) {
        tooDeep = true;
        return false;
      }
    }
    return true;
  };
  auto document = std::make_unique<TJsonDocument>(TJsonDocument::parse(aString, callback, false));
  (void)depth;
  if (document->is_discarded() || tooDeep) {
    return nullptr;
  }
  return document;
}

std::unique_ptr<TPersist_Json::TJsonDocument> TPersist_Json::Json_LoadFromStream(std::istream& aStream) {
  if (IsCompressed(aStream, false)) {
    const auto afterMarker = aStream.tellg();
    if (auto text = Decompress(ReadAll(aStream))) {
      if (auto document = Json_LoadFromString(StreamBytesToText(std::move(*text)))) {
        return document;
      }
    }
    aStream.clear();
    aStream.seekg(afterMarker - std::streamoff(4));
  }
  return Json_LoadFromString(StreamBytesToText(ReadAll(aStream)));
}

std::unique_ptr<TPersist_Json::TJsonDocument> TPersist_Json::Json_LoadFromFile(const std::filesystem::path& aFile) {
  std::optional<std::string> bytes = ReadFileBytes(aFile);
  if (!bytes) {
    return nullptr;
  }
  std::istringstream stream(std::move(*bytes));
  return Json_LoadFromStream(stream);
}

std::string TPersist_Json::Json_SaveToString(const TJsonDocument& aDocument, TPersistSaveOptions aSaveOptions) {
  std::string text;
  if (aSaveOptions.Text == psoPrettyPrint) {
    PrintDocument<true>(text, aDocument, 0);
  } else {
    PrintDocument<false>(text, aDocument, 0);
  }
  return text;
}

void TPersist_Json::Json_SaveToStream(const TJsonDocument& aDocument, std::ostream& aStream,
                                      TPersistSaveOptions aSaveOptions) {
  const std::string text = Json_SaveToString(aDocument, aSaveOptions);
  WriteText(aStream, text, aSaveOptions);
}

void TPersist_Json::Json_SaveToFile(const TJsonDocument& aDocument, const std::filesystem::path& aFile,
                                    TPersistSaveOptions aSaveOptions) {
  std::ostringstream stream;
  Json_SaveToStream(aDocument, stream, aSaveOptions);
  WriteFileBytes(aFile, stream.view());
}

TPersist_Json::TJsonDocument TPersist_Json::CreateJsonBoolean(bool aValue) {
  return TJsonDocument(aValue);
}

}  // namespace Update::Common
