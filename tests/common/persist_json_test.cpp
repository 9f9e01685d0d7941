#include "common/persist_json.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace {

using namespace Update::Common;
namespace fs = std::filesystem;

std::string Print(const TPersistValue& aTree, TPersistSaveOptions aOptions) {
  return TPersist_Json::PersistObject_SaveToJsonString(&aTree, aOptions);
}

// {"a":1,"b":[true,null],"c":{}}
TPersistValue_Object* BuildSample(TPersist& aPersist) {
  auto* root = aPersist.CreateRootObject();
  root->Add_Number("a", 1);
  auto* b = root->Add_Array("b");
  b->Add_Boolean(true);
  b->Add_Null();
  root->Add_Object("c");
  return root;
}

using QuorvaneTest::ReadFile;
using QuorvaneTest::TTempDir;
using QuorvaneTest::WriteFile;

TEST(PersistJsonPrinterTest, PrettyAndCompactLayout) {
  TPersist persist;
  auto* root = BuildSample(persist);
  EXPECT_EQ(Print(*root, SaveOptions_Pretty),
            "{\r\n"
            "  \"a\" : 1,\r\n"
            "  \"b\" : [\r\n"
            "    true,\r\n"
            "    null\r\n"
            "  ],\r\n"
            "  \"c\" : {}\r\n"
            "}");
  EXPECT_EQ(Print(*root, SaveOptions_Compact), R"({"a":1,"b":[true,null],"c":{}})");
  EXPECT_EQ(Print(*persist.CreateRootObject(), SaveOptions_Pretty), "{}");
  EXPECT_EQ(TPersist_Json::PersistObject_SaveToJsonString(nullptr, SaveOptions_Pretty), "");
}

TEST(PersistJsonPrinterTest, SortObjectKeysMetaSortsOrdinally) {
  TPersist persist;
  auto* root = persist.CreateRootObject();
  root->Add_Number("b", 1);
  root->Add_Number("B", 2);
  root->Add_Number("a", 3);
  root->Meta_Add("SortObjectKeys", "");
  EXPECT_EQ(Print(*root, SaveOptions_Compact), R"({"B":2,"a":3,"b":1})");
}

TEST(PersistJsonPrinterTest, EscapesSevenCharactersByNameAndOtherControlsAsUnicode) {
  EXPECT_EQ(TPersist_Json::EscapeString("a\\b\"c\bd\fe\nf\rg\th"), "a\\\\b\\\"c\\bd\\fe\\nf\\rg\\th");
  // A raw control character would make the document unreadable: it goes out as \u00XX.
  EXPECT_EQ(TPersist_Json::EscapeString(std::string("\0\x01/\x1f\x7f\xc3\xa4", 7)),
            std::string("\\u0000\\u0001/\\u001f\x7f\xc3\xa4"));
  {
    TPersist persist;
    auto* root = persist.CreateRootObject();
    root->Add_String("t", std::string("a\0b\x02", 4));
    TPersist reader;
    TPersistValue_Object* tree = nullptr;
    ASSERT_TRUE(TPersist_Json::PersistObject_LoadFromJsonString(Print(*root, SaveOptions_Compact), reader, tree));
    EXPECT_EQ(tree->Get_String("t")->Value(), std::string("a\0b\x02", 4));
  }
  TPersist persist;
  auto* root = persist.CreateRootObject();
  root->Add_String("k\"e\\y", "v");
  const std::string text = Print(*root, SaveOptions_Compact);
  EXPECT_EQ(text, R"({"k\"e\\y":"v"})");
  TPersist reader;
  TPersistValue_Object* tree = nullptr;
  ASSERT_TRUE(TPersist_Json::PersistObject_LoadFromJsonString(text, reader, tree));
  EXPECT_TRUE(tree->HasKey("k\"e\\y"));
}

TEST(PersistJsonPrinterTest, NumbersInGeneralFormat) {
  const struct {
    double Value;
    const char* Text;
  } cases[] = {
      {0.1, "0.1"},
      {100, "100"},
      {-0.5, "-0.5"},
      {0, "0"},
      {-0.0, "0"},
      {1e21, "1E21"},
      {1e20, "1E20"},
      {1e-7, "1E-7"},
      {-1.5e-7, "-1.5E-7"},
      {0.00001, "0.00001"},
      {0.000012345, "0.000012345"},
      {123456789012345, "123456789012345"},
      {1234567890123456, "1.23456789012346E15"},
      {1e15, "1E15"},
      {3.141592653589793, "3.14159265358979"},
      {2.5e-300, "2.5E-300"},
      {1.7976931348623157e308, "1.79769313486232E308"},
      {9007199254740993.0, "9.00719925474099E15"},
      {-42, "-42"},
      {0.30000000000000004, "0.3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TPersist_Json::FormatNumber(c.Value), c.Text) << c.Value;
  }
}

TEST(PersistJsonPrinterTest, BinaryAsDataUrlWithLineBreaks) {
  TPersist persist;
  auto* root = persist.CreateRootObject();
  root->Add_Binary("b", std::vector<std::uint8_t>(60, 0xFF));  // 80 base64 characters
  const std::string text = Print(*root, SaveOptions_Compact);
  EXPECT_EQ(text, "{\"b\":\"data:;base64," + std::string(76, '/') + "\\r\\n" + "////\"}");
  TPersist reader;
  TPersistValue_Object* tree = nullptr;
  ASSERT_TRUE(TPersist_Json::PersistObject_LoadFromJsonString(text, reader, tree));
  ASSERT_NE(tree->Get_Binary("b"), nullptr);
  EXPECT_EQ(tree->Get_Binary("b")->Value(), std::vector<std::uint8_t>(60, 0xFF));
}

TEST(PersistJsonParserTest, KeepsOrderAndKinds) {
  TPersist persist;
  TPersistValue_Object* tree = nullptr;
  ASSERT_TRUE(TPersist_Json::PersistObject_LoadFromJsonString(
      R"({"z":1.5,"a":[1,"x",null,{"n":false}],"m":"data:;base64,AAE=","big":18446744073709551615,"neg":-3})", persist,
      tree));
  EXPECT_EQ(tree->Keys(), (std::vector<std::string>{"z", "a", "m", "big", "neg"}));
  EXPECT_EQ(tree->Get_Number("z")->Value(), 1.5);
  EXPECT_EQ(tree->Get_Array("a")->Count(), 4u);
  EXPECT_EQ(tree->Get_Array("a")->Get_String(1)->Value(), "x");
  EXPECT_NE(tree->Get_Array("a")->Get_Object(3)->Get_Boolean("n"), nullptr);
  EXPECT_EQ(tree->Get_Binary("m")->Value(), (std::vector<std::uint8_t>{0, 1}));
  EXPECT_EQ(tree->Get_Number("big")->Value(), 18446744073709551615.0);
  EXPECT_EQ(tree->Get_Number("neg")->AsInteger(), -3);
  EXPECT_EQ(tree->ParentPersist(), &persist);
}

TEST(PersistJsonParserTest, RejectsEverythingButOneObject) {
  const std::string deep = std::string(600, '[') + std::string(600, ']');
  const std::string deepObject = "{\"a\":" + deep + "}";
  for (const std::string text : {"", " ", "[]", "[{}]", "1", "\"s\"", "null", "{", "{}x", "{} {}", "{\"a\":}",
                                 "{'a':1}", "{\"a\":1,}", "{\"a\":\"\xff\"}", deepObject.c_str()}) {
    TPersist persist;
    TPersistValue_Object* tree = reinterpret_cast<TPersistValue_Object*>(1);
    EXPECT_FALSE(TPersist_Json::PersistObject_LoadFromJsonString(text, persist, tree)) << text;
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(TPersist_Json::TryParseJsonObject(text), nullptr) << text;
  }
  EXPECT_NE(TPersist_Json::TryParseJsonObject(" {\"a\":[1]} "), nullptr);
}

TEST(PersistJsonStreamTest, CompressedLayoutRoundTripAndFallback) {
  TPersist persist;
  auto* root = BuildSample(persist);
  std::stringstream compressed;
  TPersist_Json::PersistObject_SaveToStream(root, compressed, {pscCompressed, psoCompact});
  const std::string bytes = compressed.str();
  ASSERT_GE(bytes.size(), 6u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xDC\x7F\x41\x02", 4));
  EXPECT_EQ(static_cast<unsigned char>(bytes[4]), 0x78) << "zlib header";
  EXPECT_TRUE(TPersist_Json::IsCompressed(compressed, true));
  EXPECT_EQ(compressed.tellg(), 0);

  TPersist reader;
  TPersistValue_Object* tree = nullptr;
  ASSERT_TRUE(TPersist_Json::PersistObject_LoadFromStream(compressed, reader, tree));
  EXPECT_EQ(Print(*tree, SaveOptions_Compact), R"({"a":1,"b":[true,null],"c":{}})");

  // Marker, then a damaged zlib stream: nothing to read either way.
  std::stringstream damaged(bytes.substr(0, 4) + "garbage");
  EXPECT_FALSE(TPersist_Json::PersistObject_LoadFromStream(damaged, reader, tree));
  std::stringstream tooShort(std::string("\xDC\x7F\x41", 3));
  EXPECT_FALSE(TPersist_Json::IsCompressed(tooShort, false));
  EXPECT_EQ(tooShort.tellg(), 0);

  std::stringstream plain("\xEF\xBB\xBF{\"x\":2}");
  ASSERT_TRUE(TPersist_Json::PersistObject_LoadFromStream(plain, reader, tree));
  EXPECT_EQ(tree->Get_Number("x")->Value(), 2);
  std::stringstream latin1("{\"x\":\"\xE4\"}");
  EXPECT_FALSE(TPersist_Json::PersistObject_LoadFromStream(latin1, reader, tree)) << "streams must be UTF-8";
}

TEST(PersistJsonFileTest, FilesCompressionAndDamagedFallback) {
  TTempDir folder("persist_json");
  TPersist persist;
  auto* root = BuildSample(persist);
  const fs::path plain = folder.Path() / "sub" / "plain.json";
  TPersist_Json::PersistObject_SaveToFile(root, plain, SaveOptions_Pretty);
  EXPECT_EQ(TPersist_Json::LoadStringFromFile(plain), Print(*root, SaveOptions_Pretty));
  EXPECT_FALSE(TPersist_Json::IsCompressed(plain));

  const fs::path packed = folder.Path() / "packed.json";
  TPersist_Json::PersistObject_SaveToFile(root, packed, {pscCompressed, psoPrettyPrint});
  EXPECT_TRUE(TPersist_Json::IsCompressed(packed));
  TPersist reader;
  TPersistValue_Object* tree = nullptr;
  ASSERT_TRUE(TPersist_Json::PersistObject_LoadFromFile(packed, reader, tree));
  EXPECT_EQ(tree->Count(), 3u);

  // A file that happens to start with the marker bytes but is plain text after all is
  // read again from its start (the marker bytes then make it invalid JSON)...
  const fs::path fake = folder.Path() / "fake.json";
  WriteFile(fake, std::string("\xDC\x7F\x41\x02{\"a\":1}", 11));
  EXPECT_FALSE(TPersist_Json::PersistObject_LoadFromFile(fake, reader, tree));
  // ...and a missing file is simply false.
  EXPECT_FALSE(TPersist_Json::PersistObject_LoadFromFile(folder.Path() / "none.json", reader, tree));
  EXPECT_EQ(TPersist_Json::LoadStringFromFile(folder.Path() / "none.json"), "");
}

TEST(PersistJsonFileTest, LoadStringFromFileHonoursByteOrderMarks) {
  TTempDir folder("persist_json");
  const struct {
    std::string Bytes;
    std::string Text;
  } cases[] = {
      {"\xEF\xBB\xBF\xC3\xA4x", "\xC3\xA4x"},
      {std::string("\xFF\xFE\xE4\x00x\x00", 6), "\xC3\xA4x"},
      {std::string("\xFE\xFF\x00\xE4\x00x", 6), "\xC3\xA4x"},
      {"\xE4\x80x", "\xC3\xA4\xE2\x82\xACx"},  // Windows-1252 without a mark
      {"\xC3\xA4x", "\xC3\xA4x"},              // valid UTF-8 without a mark stays UTF-8
      {"plain", "plain"},
  };
  for (const auto& c : cases) {
    WriteFile(folder.Path() / "t.txt", c.Bytes);
    EXPECT_EQ(TPersist_Json::LoadStringFromFile(folder.Path() / "t.txt"), c.Text);
  }
  TPersist_Json::SaveStringToFile(folder.Path() / "new" / "dir" / "u.txt", "\xC3\xA4");
  EXPECT_EQ(ReadFile(folder.Path() / "new" / "dir" / "u.txt"), "\xC3\xA4") << "no byte-order mark written";
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path() / "new" / "dir"), fs::directory_iterator()), 1)
      << "no temporary file left behind";
}

TEST(PersistJsonDocumentTest, DocumentsPrintWithTheSameLayout) {
  auto document = TPersist_Json::Json_LoadFromString(R"({"a":1,"b":[true,null],"c":{},"s":"q\"\u0001"})");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(TPersist_Json::Json_SaveToString(*document, SaveOptions_Compact),
            R"({"a":1,"b":[true,null],"c":{},"s":"q\"\u0001"})");
  TPersist persist;
  auto* tree = TPersist_Json::Object_LoadFromJsonObject(*document, persist);
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(TPersist_Json::Object_SaveToJsonObject(*tree), *document);
  EXPECT_EQ(TPersist_Json::Json_SaveToString(TPersist_Json::CreateJsonBoolean(true), SaveOptions_Pretty), "true");
}

}  // namespace
