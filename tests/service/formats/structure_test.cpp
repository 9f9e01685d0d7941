#include "service/formats/structure.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "service/host/log.h"
#include "tests/service/host/service_log_dir.h"

namespace Update::Service {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test with the service log pointed into it.
class StructureTest : public ::testing::Test {
 protected:
  std::string ServiceLog() const { return fDir.Read(FileName_ServiceLog); }
  // Collections are not copied or moved: their items point back to them.
  static std::unique_ptr<TMainStructCollection> Load(const std::string& aXml) {
    auto structure = std::make_unique<TMainStructCollection>();
    std::istringstream in(aXml);
    EXPECT_TRUE(structure->LoadFromStream(in));
    return structure;
  }
  QuorvaneTest::TServiceLogDir fDir{"structure", ""};
};

// A module with one root, one folder and two files, in the written (canonical) order.
const char* const kCanonical = R"(<?xml version="1.0"?>
<STRUCT>
  <STRUCTUREITEM>
    <DeleteMe>False</DeleteMe>
    <Dir>
      <Items>
        <STRUCTITEM>
          <DeleteMe>False</DeleteMe>
          <Dir><Items/><Sync>False</Sync></Dir>
          <FileInfo>
            <BuildNumber>4</BuildNumber><CompareMode>fcmVersion</CompareMode><CRC>-1</CRC>
            <MajorNumber>1</MajorNumber><MinorNumber>2</MinorNumber><PCRC>12345</PCRC>
            <PName>app.exe.z</PName><PSize>100</PSize><ReleaseNumber>3</ReleaseNumber>
            <Size>2000</Size><Time>1450000000</Time>
          </FileInfo>
          <Inst/>
          <IsDirectory>False</IsDirectory>
          <Name>app.exe</Name>
        </STRUCTITEM>
        <STRUCTITEM>
          <DeleteMe>False</DeleteMe>
          <Dir>
            <Items>
              <STRUCTITEM>
                <FileInfo><PName>help.chm.z</PName><Size>7</Size></FileInfo>
                <IsDirectory>False</IsDirectory>
                <Name>help.chm</Name>
              </STRUCTITEM>
            </Items>
            <Sync>True</Sync>
          </Dir>
          <IsDirectory>True</IsDirectory>
          <Name>Help</Name>
        </STRUCTITEM>
      </Items>
      <Sync>False</Sync>
    </Dir>
    <IsDirectory>True</IsDirectory>
    <Name>Program</Name>
    <SpecialDir>[InstallDir]</SpecialDir>
  </STRUCTUREITEM>
</STRUCT>
)";

// The same module: elements shuffled, names in other letter cases, unknown elements.
const char* const kShuffled = R"(<struct>
  <StructureItem>
    <specialdir>[InstallDir]</specialdir>
    <Url>http://example.invalid/ignored</Url>
    <NAME>Program</NAME>
    <dir>
      <sync>false</sync>
      <ITEMS>
        <structitem>
          <name>app.exe</name>
          <Unknown><Nested>1</Nested></Unknown>
          <fileinfo>
            <time>1450000000</time><size>2000</size><releasenumber>3</releasenumber><psize>100</psize>
            <pname>app.exe.z</pname><pcrc>12345</pcrc><minornumber>2</minornumber><majornumber>1</majornumber>
            <crc>4294967295</crc><comparemode>FCMVERSION</comparemode><buildnumber>4</buildnumber>
          </fileinfo>
          <isdirectory>FALSE</isdirectory>
        </structitem>
        <StructItem>
          <Dir><SYNC>true</SYNC><Items><STRUCTITEM><name>help.chm</name>
            <FILEINFO><Size>7</Size><PName>help.chm.z</PName></FILEINFO><IsDirectory>false</IsDirectory>
          </STRUCTITEM></Items></Dir>
          <name>Help</name>
          <IsDirectory>true</IsDirectory>
        </StructItem>
      </ITEMS>
    </dir>
    <isDirectory>True</isDirectory>
  </StructureItem>
</struct>
)";

TEST_F(StructureTest, ShuffledMixedCaseXmlLoadsTheSameTree) {
  const auto canonical = Load(kCanonical);
  const auto shuffledOwner = Load(kShuffled);
  TMainStructCollection& shuffled = *shuffledOwner;
  EXPECT_EQ(canonical->SaveToString(), shuffled.SaveToString());

  ASSERT_EQ(shuffled.Count(), 1u);
  TMainStructItem& root = shuffled.GetItem(0);
  EXPECT_EQ(root.FSpecialDir, "[InstallDir]");
  EXPECT_TRUE(root.FUrl.empty());  // "Url" is no stored property
  ASSERT_NE(root.Dir(), nullptr);
  ASSERT_EQ(root.Dir()->Items().Count(), 2u);
  const TStructItem& app = root.Dir()->Items().Items(0);
  ASSERT_NE(app.FileInfo(), nullptr);
  EXPECT_EQ(app.FileInfo()->FCrc, -1);  // 4294967295 as a signed 32-bit value
  EXPECT_EQ(app.FileInfo()->FCompareMode, fcmVersion);
  EXPECT_EQ(app.FileInfo()->FVersionRelease, 3);
  EXPECT_EQ(app.FileInfo()->FTime, 1450000000);
  EXPECT_EQ(app.FileInfo()->GetVersion().AsString(), "1.2.3.4");
  EXPECT_EQ(app.FileInfo()->ParentItem(), &app);
  EXPECT_EQ(app.ParentCollection(), &root.Dir()->Items());
  // Loading leaves the minimal form: a file keeps only its file description.
  EXPECT_EQ(app.Dir(), nullptr);
  EXPECT_EQ(app.Inst(), nullptr);
  const TStructItem& help = root.Dir()->Items().Items(1);
  EXPECT_EQ(help.FileInfo(), nullptr);
  ASSERT_NE(help.Dir(), nullptr);
  EXPECT_TRUE(help.Dir()->FSync);
  EXPECT_EQ(help.Dir()->Items().Items(0).FileInfo()->FSize, 7);
  // Unset values keep their defaults.
  EXPECT_EQ(help.Dir()->Items().Items(0).FileInfo()->FPackedSize, -1);
  EXPECT_EQ(help.Dir()->Items().Items(0).FileInfo()->FCrc, kNoCrc);
}

TEST_F(StructureTest, EightBitCodePagesAreReadAsDeclared) {
  // "Größe.txt" in Windows-1252 and in Latin-1 (the same bytes here), and "€" (0x80),
  // which only Windows-1252 has.
  for (const char* encoding : {"windows-1252", "Windows-1252", "ISO-8859-1"}) {
    const std::string xml =
        std::string("<?xml version=\"1.0\" encoding=\"") + encoding +
        "\"?><STRUCT><STRUCTUREITEM><Name>R</Name><Dir><Items><STRUCTITEM><Name>Gr\xF6\xDF"
        "e.txt</Name>"
        "<FileInfo><PName>\x80.z</PName></FileInfo></STRUCTITEM></Items></Dir></STRUCTUREITEM></STRUCT>";
    const auto structure = Load(xml);
    const TStructItem& file = structure->GetItem(0).Dir()->Items().Items(0);
    EXPECT_EQ(file.FName, "Gr\u00F6\u00DFe.txt") << encoding;
    if (std::string(encoding) != "ISO-8859-1") {
      EXPECT_EQ(file.FileInfo()->FPackedName, "\u20AC.z") << encoding;
    }
  }
  // Without a declaration the text is UTF-8.
  EXPECT_EQ(Load("<STRUCT><STRUCTUREITEM><Name>\u00C4</Name><Dir><Sync>True</Sync></Dir></STRUCTUREITEM></STRUCT>")
                ->GetItem(0)
                .FName,
            "\u00C4");
}

TEST_F(StructureTest, WrittenFormIsAlphabeticalWithAllDescriptionsAndRoundTrips) {
  TMainStructCollection structure;
  TMainStructItem& root = structure.AddMain();
  root.FName = "Program";
  root.FSpecialDir = "[InstallDir]";
  TStructItem& file = root.Dir()->Items().Add();
  file.FName = "a.dll";
  file.FileInfo()->FCrc = static_cast<std::int32_t>(0xF0000000u);
  file.FileInfo()->FCompareMode = fcmCheckSum;
  const std::string xml = structure.SaveToString();

  const auto at = [&](const char* aText) { return xml.find(aText); };
  // Property elements in name order without regard to case; CompareMode before CRC.
  EXPECT_LT(at("<BuildNumber>"), at("<CompareMode>fcmCheckSum</CompareMode>"));
  EXPECT_LT(at("<CompareMode>"), at("<CRC>-268435456</CRC>"));
  EXPECT_LT(at("<CRC>"), at("<MajorNumber>"));
  EXPECT_LT(at("<PCRC>"), at("<PName>"));
  EXPECT_LT(at("<PName>"), at("<PSize>"));
  EXPECT_LT(at("<DeleteMe>"), at("<Dir>"));
  EXPECT_LT(at("<IsDirectory>True"), at("<Name>Program"));
  EXPECT_LT(at("<Name>Program"), at("<SpecialDir>"));
  // The file item writes its absent folder and install descriptions as empty elements.
  const auto fileStart = at("<STRUCTITEM>");
  ASSERT_NE(fileStart, std::string::npos);
  EXPECT_NE(xml.find("<Dir />", fileStart), std::string::npos);
  EXPECT_NE(xml.find("<Inst />", fileStart), std::string::npos);

  EXPECT_EQ(Load(xml)->SaveToString(), xml);

  const fs::path path = fDir / "module.xml";
  ASSERT_TRUE(structure.SaveToFile(path.string()));
  EXPECT_EQ(structure.XmlDoc(), nullptr);
  TMainStructCollection fromFile;
  ASSERT_TRUE(fromFile.LoadFromFile(path.string()));
  EXPECT_EQ(fromFile.SaveToString(), xml);

  // A file that cannot be written is reported, not taken for saved.
  const fs::path unwritable = fDir / "missing" / "module.xml";
  EXPECT_FALSE(structure.SaveToFile(unwritable.string()));
  EXPECT_NE(ServiceLog().find("cannot write " + unwritable.string()), std::string::npos);
}

TEST_F(StructureTest, UnknownCompareModeReadsAsMinusOne) {
  const auto owner = Load(
      "<STRUCT><STRUCTUREITEM><Name>R</Name><Dir><Items><STRUCTITEM><Name>f</Name>"
      "<FileInfo><CompareMode>fcmSometimes</CompareMode></FileInfo></STRUCTITEM></Items></Dir>"
      "</STRUCTUREITEM></STRUCT>");
  TMainStructCollection& structure = *owner;
  const TFileInfo* info = structure.GetItem(0).Dir()->Items().Items(0).FileInfo();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->FCompareMode, -1);
  EXPECT_EQ(FileCompareModeToString(info->FCompareMode), "-1");
  EXPECT_EQ(FileCompareModeToString(fcmAlways), "fcmAlways");
  // Written as its number, it reads back as -1 again.
  EXPECT_EQ(Load(structure.SaveToString())->GetItem(0).Dir()->Items().Items(0).FileInfo()->FCompareMode, -1);
}

TEST_F(StructureTest, FailedLoadsGiveFalseAndAnEmptyCollection) {
  TMainStructCollection structure;
  structure.AddMain().FName = "left over";
  EXPECT_FALSE(structure.LoadFromFile((fDir / "missing.xml").string()));
  EXPECT_TRUE(structure.Empty());

  std::ofstream(fDir / "broken.xml") << "<STRUCT><STRUCTUREITEM>";
  EXPECT_FALSE(structure.LoadFromFile((fDir / "broken.xml").string()));
  EXPECT_TRUE(structure.Empty());

  // A size that is no number refuses the whole file instead of loading a wrong size.
  std::ofstream(fDir / "badsize.xml") << "<STRUCT><STRUCTUREITEM><Name>R</Name><Dir><Items><STRUCTITEM>"
                                         "<Name>f</Name><FileInfo><Size>12kB</Size></FileInfo></STRUCTITEM>"
                                         "</Items></Dir></STRUCTUREITEM><STRUCTUREITEM><Name>S</Name>"
                                         "</STRUCTUREITEM></STRUCT>";
  EXPECT_FALSE(structure.LoadFromFile((fDir / "badsize.xml").string()));
  EXPECT_TRUE(structure.Empty());
  EXPECT_NE(ServiceLog().find("12kB"), std::string::npos);
  EXPECT_NE(ServiceLog().find("badsize.xml"), std::string::npos);

  // A document without items is a valid, empty structure.
  std::ofstream(fDir / "empty.xml") << "<STRUCT/>";
  EXPECT_TRUE(structure.LoadFromFile((fDir / "empty.xml").string()));
  EXPECT_TRUE(structure.Empty());
}

TEST_F(StructureTest, CleanRedundantObjectsKeepsTheMinimalTree) {
  TMainStructCollection structure;
  TMainStructItem& root = structure.AddMain();
  root.FName = "Root";
  TStructCollection& items = root.Dir()->Items();
  items.Add().FName = "file";  // file: keeps its file description
  TStructItem& emptyDir = items.Add();
  emptyDir.FName = "empty";
  emptyDir.FIsDirectory = true;
  TStructItem& deletedDir = items.Add();
  deletedDir.FName = "deleted";
  deletedDir.FIsDirectory = true;
  deletedDir.FDeleteMe = true;
  TStructItem& syncDir = items.Add();
  syncDir.FName = "sync";
  syncDir.FIsDirectory = true;
  syncDir.Dir()->FSync = true;
  TStructItem& instDir = items.Add();
  instDir.FName = "inst";
  instDir.FIsDirectory = true;
  instDir.Inst()->FTargetPath = "/opt/x/";
  TStructItem& nested = items.Add();
  nested.FName = "nested";
  nested.FIsDirectory = true;
  TStructItem& inner = nested.Dir()->Items().Add();
  inner.FName = "innerEmpty";
  inner.FIsDirectory = true;

  structure.CleanRedundantObjects();

  ASSERT_EQ(items.Count(), 4u);
  EXPECT_EQ(items.Items(0).FName, "file");
  EXPECT_NE(items.Items(0).FileInfo(), nullptr);
  EXPECT_EQ(items.Items(0).Dir(), nullptr);
  EXPECT_EQ(items.Items(0).Inst(), nullptr);
  EXPECT_EQ(items.Items(1).FName, "deleted");  // no description left, but DeleteMe
  EXPECT_EQ(items.Items(1).Dir(), nullptr);
  EXPECT_EQ(items.Items(2).FName, "sync");  // stays so that the folder is emptied
  EXPECT_NE(items.Items(2).Dir(), nullptr);
  EXPECT_EQ(items.Items(3).FName, "inst");
  EXPECT_EQ(items.Items(3).Dir(), nullptr);
  ASSERT_NE(items.Items(3).Inst(), nullptr);
  EXPECT_EQ(items.Items(3).FileInfo(), nullptr);
  EXPECT_EQ(structure.GeObjectsCount(), 1);
}

TEST_F(StructureTest, SortPutsFoldersFirstAndIgnoresCase) {
  TMainStructCollection structure;
  for (const char* special : {"[Zeta]", "[alpha]", "[Beta]"}) {
    TMainStructItem& root = structure.AddMain();
    root.FSpecialDir = special;
  }
  TStructCollection& items = structure.GetItem(0).Dir()->Items();
  const auto add = [&](const char* aName, bool aDirectory) {
    TStructItem& item = items.Add();
    item.FName = aName;
    item.FIsDirectory = aDirectory;
    return &item;
  };
  add("b.txt", false);
  add("Zdir", true);
  add("A.txt", false);
  TStructItem* adir = add("adir", true);
  adir->Dir()->Items().Add().FName = "y";
  adir->Dir()->Items().Add().FName = "X";

  structure.Sort(false);
  EXPECT_EQ(structure.GetItem(0).FSpecialDir, "[alpha]");
  EXPECT_EQ(structure.GetItem(1).FSpecialDir, "[Beta]");
  EXPECT_EQ(structure.GetItem(2).FSpecialDir, "[Zeta]");
  EXPECT_EQ(adir->Dir()->Items().Items(0).FName, "y");  // not recursive

  structure.Sort(true);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < items.Count(); ++i) {
    names.push_back(items.Items(i).FName);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"adir", "Zdir", "A.txt", "b.txt"}));
  EXPECT_EQ(adir->Dir()->Items().Items(0).FName, "X");
}

TEST_F(StructureTest, LookupsAssignAndDeleteWorkOnTheTree) {
  TMainStructCollection structure;
  TMainStructItem& root = structure.AddMain();
  root.FSpecialDir = "[InstallDir]";
  root.FName = "Program";
  TStructItem& file = root.Dir()->Items().Add();
  file.FName = "Data";
  TStructItem& dir = root.Dir()->Items().Add();
  dir.FName = "data";
  dir.FIsDirectory = true;
  dir.Dir()->Items().Add().FName = "x.bin";
  dir.Inst()->FTargetPath = "/t/";

  EXPECT_EQ(structure.GetBySpecialDir("[installdir]"), &root);
  EXPECT_EQ(structure.GetBySpecialDir("[other]"), nullptr);
  TStructCollection& items = root.Dir()->Items();
  EXPECT_EQ(items.GetByName("DATA"), &file);
  EXPECT_EQ(items.GetDirByName("DATA"), &dir);
  EXPECT_EQ(items.GetFileByName("dAtA"), &file);
  EXPECT_FALSE(items.IsNameAvailable("data", &file));
  EXPECT_TRUE(items.IsFileNameAvailable("data", &file));
  EXPECT_FALSE(items.IsDirNameAvailable("DATA", &file));
  EXPECT_TRUE(items.IsDirNameAvailable("DATA", &dir));
  EXPECT_TRUE(structure.IsSpecialDirAvailable("[INSTALLDIR]", &root));
  EXPECT_FALSE(structure.IsSpecialDirAvailable("[INSTALLDIR]", nullptr));

  TMainStructCollection copy;
  copy.Assign(structure);
  EXPECT_EQ(copy.SaveToString(), structure.SaveToString());
  EXPECT_EQ(copy.GetItem(0).FSpecialDir, "[InstallDir]");
  EXPECT_EQ(copy.GetItem(0).Dir()->Items().Items(1).Inst()->FTargetPath, "/t/");
  EXPECT_EQ(copy.GeObjectsCount(), 2);

  TFileInfo& info = *file.FileInfo();
  info.SetVersion(Common::TFileVersion(5, 6, 7, 8));
  info.FSize = 10;
  info.FCrc = 11;
  info.FTime = 12;
  info.FPackedName = "keep.z";
  EXPECT_EQ(info.FVersionRelease, 7);
  info.ClearInfoForDeleted();
  EXPECT_TRUE(info.GetVersion().IsEmpty());
  EXPECT_EQ(info.FSize, 0);
  EXPECT_EQ(info.FCrc, 0);
  EXPECT_EQ(info.FTime, 0);
  EXPECT_EQ(info.FPackedSize, 0);
  EXPECT_EQ(info.FPackedName, "keep.z");

  copy.DeleteInstInformation();
  EXPECT_EQ(copy.GetItem(0).Dir()->Items().Items(1).Inst(), nullptr);
  EXPECT_NE(structure.GetItem(0).Dir()->Items().Items(1).Inst(), nullptr);

  file.Delete();
  ASSERT_EQ(items.Count(), 1u);
  EXPECT_EQ(&items.Items(0), &dir);
}

TEST_F(StructureTest, PathRebuildsMoveInstallPathsBelowANewBase) {
  TMainStructCollection structure;
  TMainStructItem& root = structure.AddMain();
  root.FName = "Program";
  root.Inst()->FTargetPath = "C:\\Old\\Quorvane\\";
  TStructItem& file = root.Dir()->Items().Add();
  file.FName = "a.txt";
  file.Inst()->FSourceFile = "D:\\build\\out\\a.txt";
  TStructItem& sub = root.Dir()->Items().Add();
  sub.FName = "Sub";
  sub.FIsDirectory = true;
  sub.Inst()->FSyncPath = "/somewhere/Sub/";
  TStructItem& inner = sub.Dir()->Items().Add();
  inner.FName = "b.txt";
  inner.Inst()->FSourceFile = "/old/b.txt";

  structure.RebuildInstSourcePath("/src");
  EXPECT_EQ(file.Inst()->FSourceFile, "/src/Quorvane/a.txt");
  EXPECT_EQ(sub.Inst()->FSyncPath, "/src/Quorvane/Sub/");
  EXPECT_EQ(inner.Inst()->FSourceFile, "/src/Quorvane/Sub/b.txt");
  EXPECT_TRUE(sub.Inst()->FSourceFile.empty());  // empty paths stay empty

  structure.RebuildInstTargetPath("/opt/");
  EXPECT_EQ(root.Inst()->FTargetPath, "/opt/Quorvane/");

  structure.MakeInstPathsRelative("/src/base.xml");
  EXPECT_EQ(inner.Inst()->FSourceFile, "Quorvane/Sub/b.txt");
  EXPECT_EQ(root.Inst()->FTargetPath, "../opt/Quorvane/");
  structure.MakeInstPathsAbsolute("/src");
  EXPECT_EQ(inner.Inst()->FSourceFile, "/src/Quorvane/Sub/b.txt");
  EXPECT_EQ(root.Inst()->FTargetPath, "/opt/Quorvane/");
  // Feed data written on Windows uses "\".
  inner.Inst()->FSourceFile = "..\\x\\c.txt";
  structure.MakeInstPathsAbsolute("/a/b/");
  EXPECT_EQ(inner.Inst()->FSourceFile, "/a/x/c.txt");
}

TEST_F(StructureTest, UnsafeNamesAreRefusedWhenPathsAreBuilt) {
  struct TCase {
    std::string Name;
    bool Safe;
  };
  const TCase cases[] = {
      {"app.exe", true},
      {"Hilfe Datei (1).pdf", true},
      {"", false},
      {".", false},
      {"..", false},
      {"../../etc/passwd", false},
      {"..\\evil.dll", false},
      {"/etc/passwd", false},
      {"\\\\server\\x", false},
      {"C:evil", false},
      {"a/b", false},
      {"a\\b", false},
      {"a..b", false},
      {std::string("a\0b", 3), false},
  };
  for (const TCase& test : cases) {
    EXPECT_EQ(TStructItem::IsSafeName(test.Name), test.Safe) << test.Name;
  }

  // A traversal name arrives in a structure file; loading keeps it, building a path from it
  // refuses it and names it in the log.
  const auto owner = Load(
      "<STRUCT><STRUCTUREITEM><Name>R</Name><Dir><Items>"
      "<STRUCTITEM><Name>..\\..\\etc\\cron.d\\job</Name><FileInfo><PName>../job.z</PName></FileInfo></STRUCTITEM>"
      "<STRUCTITEM><Name>good.txt</Name><FileInfo><PName>good.txt.z</PName></FileInfo></STRUCTITEM>"
      "</Items></Dir></STRUCTUREITEM></STRUCT>");
  const TStructCollection& items = owner->GetItem(0).Dir()->Items();
  ASSERT_EQ(items.Count(), 2u);
  std::string path = "unchanged";
  EXPECT_FALSE(items.Items(0).BuildPath("/opt/Quorvane/", path));
  EXPECT_FALSE(items.Items(0).FileInfo()->BuildPackedPath("/var/lib/Download", path));
  EXPECT_EQ(path, "unchanged");
  const std::string log = ServiceLog();
  EXPECT_NE(log.find("\tUnsafe item name refused: \"..\\..\\etc\\cron.d\\job\""), std::string::npos) << log;
  EXPECT_NE(log.find("\tUnsafe package name refused: \"../job.z\""), std::string::npos) << log;

  EXPECT_TRUE(items.Items(1).BuildPath("/opt/Quorvane", path));
  EXPECT_EQ(path, "/opt/Quorvane/good.txt");
  EXPECT_TRUE(items.Items(1).FileInfo()->BuildPackedPath("/dl/", path));
  EXPECT_EQ(path, "/dl/good.txt.z");

  // The rebuild of install sources skips a folder whose name would leave the base.
  TMainStructCollection tree;
  TMainStructItem& treeRoot = tree.AddMain();
  treeRoot.FName = "Program";
  TStructItem& evil = treeRoot.Dir()->Items().Add();
  evil.FName = "..";
  evil.FIsDirectory = true;
  TStructItem& victim = evil.Dir()->Items().Add();
  victim.Inst()->FSourceFile = "/x/victim.txt";
  tree.RebuildInstSourcePath("/base");
  EXPECT_EQ(victim.Inst()->FSourceFile, "/x/victim.txt");
  EXPECT_NE(ServiceLog().find("\tUnsafe folder name refused: \"..\""), std::string::npos);
}

TEST_F(StructureTest, NulInANameIsWrittenEscaped) {
  TStructItem item;
  item.FName = std::string("a\0b", 3);
  std::string path;
  EXPECT_FALSE(item.BuildPath("/x", path));
  EXPECT_NE(ServiceLog().find("\"a\\x00b\""), std::string::npos);
}

}  // namespace
}  // namespace Update::Service
