#pragma once

// The JSON backend of the object persistence: prints value trees (common/persist_value.h)
// as JSON text with our own printers (the layout is fixed, byte for byte), parses JSON
// text into trees with nlohmann-json, and moves the text through strings, streams and
// files, optionally compressed (marker DC 7F 41 02, then a zlib stream).
//
// Typical use:
//   std::string text = TPersist_Json::Record_SaveToJsonString(aProgress, SaveOptions_Compact);
//   TPersist_Json::Record_LoadFromJsonString(text, aProgress);            // false: not loaded
//   std::string text = TPersist_Json::Object_SaveToJsonString(aState, InstanceOptions_Save,
//                                                             SaveOptions_Pretty);
//   TPersist_Json::Object_LoadFromJsonString(text, aState, InstanceOptions_Load);
//
// Layout: pretty form with two blanks of indentation per level, CR LF line breaks and
// " : " between key and value; compact form without any blank or line break; no final
// line break. Strings are escaped with exactly seven replacements (\\ \" \b \f \n \r \t);
// everything else, including other control characters and non-ASCII, is written raw.
// Numbers: general format with at most 15 significant digits (see FormatNumber).
//
// Encodings: written text is UTF-8 without byte-order mark. Read from a file
// (LoadStringFromFile), a byte-order mark selects UTF-8, UTF-16LE or UTF-16BE; without
// one the bytes are Windows-1252 (the fixed 8-bit code page of the Windows side). Read
// from a stream by the Persist/Object loaders, the bytes must be UTF-8 (a leading UTF-8
// byte-order mark is skipped); invalid UTF-8 reads as empty text, which does not parse.
//
// Parsing accepts only a JSON object at the root, nested at most kMaxDepth levels deep
// (deeper documents are refused rather than risking the stack).
//
// Errors: unparseable text, a non-object root, a damaged compressed stream and a
// missing file give false or an empty result and never raise. Other file-system errors
// (no access, full disk) raise std::filesystem::filesystem_error. Conversion errors of
// the engine (the Diag_ options, EConvertError) propagate unchanged.
//
// Thread: all operations are static and re-entrant; each creates its own engine.

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "common/persist.h"
#include "common/persist_value.h"

namespace Update::Common {

enum TPersistSaveCompression : std::uint8_t { pscCompressed, pscUncompressed };
enum TPersistSaveText : std::uint8_t { psoCompact, psoPrettyPrint };

struct TPersistSaveOptions {
  TPersistSaveCompression Compression = pscUncompressed;
  TPersistSaveText Text = psoCompact;
};

inline constexpr TPersistSaveOptions SaveOptions_Compact{pscUncompressed, psoCompact};
inline constexpr TPersistSaveOptions SaveOptions_Pretty{pscUncompressed, psoPrettyPrint};

// The marker that starts a compressed stream (the 32-bit little-endian value 0x02417FDC).
inline constexpr std::uint8_t kCompressedMarker[4] = {0xDC, 0x7F, 0x41, 0x02};

// Backend-independent part: engines, text files, stream and file wrappers.
class TPersist_Abstract {
 public:
  static std::unique_ptr<TPersist> MakePersist();

  // The whole file as UTF-8 text; empty text when the file does not exist. A byte-order
  // mark selects the encoding, otherwise the bytes are decoded as Windows-1252.
  static std::string LoadStringFromFile(const std::filesystem::path& aFile);
  // Creates missing folders, then replaces the file (through a temporary file and a
  // rename, so readers never see half a file) with aString as UTF-8 without BOM.
  static void SaveStringToFile(const std::filesystem::path& aFile, std::string_view aString);
};

// JSON writing.
class TPersist_Json_Abstract : public TPersist_Abstract {
 public:
  // The seven replacements of the layout; nothing else is escaped.
  static std::string EscapeString(std::string_view aString);
  static void AppendEscaped(std::string& aTarget, std::string_view aString);
  // General format with at most 15 significant digits: fixed notation while the integer
  // part has at most 15 digits and the magnitude is at least 0.00001, otherwise "1E20",
  // "1.5E-7"; no trailing zeros. NaN and infinities (which the engine never stores)
  // print as null.
  static std::string FormatNumber(double aValue);
  static void AppendNumber(std::string& aTarget, double aValue);

  // Prints the tree; Compression is ignored. Empty text for no tree.
  static std::string PersistObject_SaveToJsonString(const TPersistValue* aTree, TPersistSaveOptions aSaveOptions);
  static void PrintCompact(std::string& aTarget, const TPersistValue& aTree);
  static void PrintPretty(std::string& aTarget, const TPersistValue& aTree);

  // Prints, then writes the UTF-8 bytes, or the marker and the zlib stream.
  static void PersistObject_SaveToStream(const TPersistValue* aTree, std::ostream& aStream,
                                         TPersistSaveOptions aSaveOptions);

  // True when at least 4 bytes remain and they are the marker. With aResetPosition the
  // stream is moved back to where it was; otherwise it stays after the marker when the
  // result is true (and is moved back when it is false).
  static bool IsCompressed(std::istream& aStream, bool aResetPosition);
  static bool IsCompressed(const std::filesystem::path& aFile);

  // Object (class instance or record) to text, through a fresh engine.
  static std::string Object_SaveToJsonString(const void* aSourceObject, const TPersistTypeInfo& aType,
                                             TPersistInstanceOptions aInstanceOptions,
                                             TPersistSaveOptions aSaveOptions);
  template <class T>
  static std::string Object_SaveToJsonString(const T& aSourceObject, TPersistInstanceOptions aInstanceOptions,
                                             TPersistSaveOptions aSaveOptions) {
    return Object_SaveToJsonString(&aSourceObject, PersistTypeOf<T>(), aInstanceOptions, aSaveOptions);
  }
};

// JSON reading, documents and the record helpers.
class TPersist_Json : public TPersist_Json_Abstract {
 public:
  using TJsonDocument = nlohmann::ordered_json;

  static constexpr int kMaxDepth = 512;

  // The parsed document when aString is a JSON object; nullptr otherwise.
  static std::unique_ptr<TJsonDocument> TryParseJsonObject(std::string_view aString);

  // False (aTree nullptr) for empty text or text that is no JSON object; otherwise the
  // tree, owned by aPersist.
  static bool PersistObject_LoadFromJsonString(std::string_view aJson, TPersist& aPersist,
                                               TPersistValue_Object*& aTree);
  // Compressed layout first (a damaged compressed stream is re-read as plain text from the
  // start); then the whole stream as UTF-8 text.
  static bool PersistObject_LoadFromStream(std::istream& aStream, TPersist& aPersist, TPersistValue_Object*& aTree);
  // False when the file does not exist.
  static bool PersistObject_LoadFromFile(const std::filesystem::path& aFile, TPersist& aPersist,
                                         TPersistValue_Object*& aTree);
  // Creates missing folders and replaces the file.
  static void PersistObject_SaveToFile(const TPersistValue* aTree, const std::filesystem::path& aFile,
                                       TPersistSaveOptions aSaveOptions);

  // Object glue: whole objects through a fresh engine. The loaders return false when the
  // text, stream or file holds no JSON object (the object is then untouched).
  static bool Object_LoadFromJsonString(std::string_view aJson, void* aTargetObject, const TPersistTypeInfo& aType,
                                        TPersistInstanceOptions aInstanceOptions);
  static void Object_SaveToStream(const void* aSourceObject, const TPersistTypeInfo& aType, std::ostream& aStream,
                                  TPersistInstanceOptions aInstanceOptions, TPersistSaveOptions aSaveOptions);
  static void Object_SaveToFile(const void* aSourceObject, const TPersistTypeInfo& aType,
                                const std::filesystem::path& aFile, TPersistInstanceOptions aInstanceOptions,
                                TPersistSaveOptions aSaveOptions);
  static bool Object_LoadFromStream(std::istream& aStream, void* aTargetObject, const TPersistTypeInfo& aType,
                                    TPersistInstanceOptions aInstanceOptions);
  static bool Object_LoadFromFile(const std::filesystem::path& aFile, void* aTargetObject,
                                  const TPersistTypeInfo& aType, TPersistInstanceOptions aInstanceOptions);

  template <class T>
  static bool Object_LoadFromJsonString(std::string_view aJson, T& aTargetObject,
                                        TPersistInstanceOptions aInstanceOptions) {
    return Object_LoadFromJsonString(aJson, &aTargetObject, PersistTypeOf<T>(), aInstanceOptions);
  }
  template <class T>
  static void Object_SaveToStream(const T& aSourceObject, std::ostream& aStream,
                                  TPersistInstanceOptions aInstanceOptions, TPersistSaveOptions aSaveOptions) {
    Object_SaveToStream(&aSourceObject, PersistTypeOf<T>(), aStream, aInstanceOptions, aSaveOptions);
  }
  template <class T>
  static void Object_SaveToFile(const T& aSourceObject, const std::filesystem::path& aFile,
                                TPersistInstanceOptions aInstanceOptions, TPersistSaveOptions aSaveOptions) {
    Object_SaveToFile(&aSourceObject, PersistTypeOf<T>(), aFile, aInstanceOptions, aSaveOptions);
  }
  template <class T>
  static bool Object_LoadFromStream(std::istream& aStream, T& aTargetObject, TPersistInstanceOptions aInstanceOptions) {
    return Object_LoadFromStream(aStream, &aTargetObject, PersistTypeOf<T>(), aInstanceOptions);
  }
  template <class T>
  static bool Object_LoadFromFile(const std::filesystem::path& aFile, T& aTargetObject,
                                  TPersistInstanceOptions aInstanceOptions) {
    return Object_LoadFromFile(aFile, &aTargetObject, PersistTypeOf<T>(), aInstanceOptions);
  }

  // Record helpers: the record converted with FromRecord and printed; and back. Loading
  // returns false and leaves the record untouched when the text is no JSON object (a
  // record whose interceptor writes a scalar, such as a GUID, also reads that scalar back)
  // or when the conversion gives "empty".
  static std::string Record_SaveToJsonString(const void* aRecord, const TPersistTypeInfo& aType,
                                             TPersistSaveOptions aSaveOptions);
  static bool Record_LoadFromJsonString(std::string_view aJson, void* aRecord, const TPersistTypeInfo& aType);
  template <class T>
  static std::string Record_SaveToJsonString(const T& aRecord, TPersistSaveOptions aSaveOptions) {
    return Record_SaveToJsonString(&aRecord, PersistTypeOf<T>(), aSaveOptions);
  }
  template <class T>
  static bool Record_LoadFromJsonString(std::string_view aJson, T& aRecord) {
    return Record_LoadFromJsonString(aJson, &aRecord, PersistTypeOf<T>());
  }

  // Conversions between nlohmann documents and trees. Object_LoadFromJsonObject returns
  // the tree (owned by aPersist), or nullptr when the document is no object or nests too
  // deeply.
  static TPersistValue_Object* Object_LoadFromJsonObject(const TJsonDocument& aDocument, TPersist& aPersist);
  static TJsonDocument Object_SaveToJsonObject(const TPersistValue_Object& aTree);
  static std::unique_ptr<TJsonDocument> Json_LoadFromString(std::string_view aString);
  static std::unique_ptr<TJsonDocument> Json_LoadFromStream(std::istream& aStream);
  static std::unique_ptr<TJsonDocument> Json_LoadFromFile(const std::filesystem::path& aFile);
  // Printed with the layout rules above; strings escaped as above, other scalars in
  // nlohmann's own text form.
  static std::string Json_SaveToString(const TJsonDocument& aDocument, TPersistSaveOptions aSaveOptions);
  static void Json_SaveToStream(const TJsonDocument& aDocument, std::ostream& aStream,
                                TPersistSaveOptions aSaveOptions);
  static void Json_SaveToFile(const TJsonDocument& aDocument, const std::filesystem::path& aFile,
                              TPersistSaveOptions aSaveOptions);
  static TJsonDocument CreateJsonBoolean(bool aValue);
};

}  // namespace Update::Common
