// Program packages: the inversion, opening the sample package, packages made
// by the package maker (read back by Info-ZIP unzip and Python's zipfile),
// hostile archives that try to write outside the extraction folder, and
// removing the extracted folder.
#include "DlgMakeFile.h"
#include "DownloadTestUtil.h"
#include "LinkTestUtil.h"
#include "ModelCatalogue.h"
#include "ProgramPackage.h"
#include "SmallControls.h"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;
using dltest::N;
using dltest::ReadBytes;
using dltest::W;
using dltest::WriteBytes;
using dltest::ZipEntry;

namespace {

// Everything below `root`, as relative paths ("a/", "a/b.txt").
std::set<std::string> Tree(const std::string& root)
{
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string rel = fs::relative(it->path(), root).string();
        if (it->is_directory() && !it->is_symlink()) rel += "/";
        out.insert(rel);
    }
    return out;
}

// A package file in the inverted form from a plain archive.
std::string PackageFrom(const std::string& folder, const std::vector<ZipEntry>& entries)
{
    const std::string path = folder + "test.vkr";
    EXPECT_TRUE(dltest::WriteZip(path, entries));
    EXPECT_TRUE(InvertPackageFile(W(path)));
    return path;
}

}  // namespace

TEST(Package, InversionKeepsTheFirst32Bytes)
{
    std::string bytes;
    for (int i = 0; i < 40; ++i) bytes.push_back(static_cast<char>(i * 7));
    const std::string original = bytes;
    InvertPackageBytes(bytes);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(bytes[i], original[i]) << i;
    for (int i = 32; i < 40; ++i) EXPECT_EQ(static_cast<uint8_t>(bytes[i]), static_cast<uint8_t>(~original[i])) << i;
    InvertPackageBytes(bytes);
    EXPECT_EQ(bytes, original);

    std::string short32 = original.substr(0, 32);
    InvertPackageBytes(short32);
    EXPECT_EQ(short32, original.substr(0, 32));

    // The same on disk.
    const std::string path = linktest::NewFolder("invert") + "p.bin";
    ASSERT_TRUE(WriteBytes(path, original));
    ASSERT_TRUE(InvertPackageFile(W(path)));
    const std::string once = ReadBytes(path);
    EXPECT_EQ(once.substr(0, 32), original.substr(0, 32));
    EXPECT_EQ(static_cast<uint8_t>(once[39]), static_cast<uint8_t>(~original[39]));
}

TEST(Package, EntryNamesAreReducedAndCheckedAfterwards)
{
    EXPECT_EQ(ReduceEntryName("C:\\ProgramFile\\data\\a.bin"), "ProgramFile\\data\\a.bin");
    EXPECT_EQ(ReduceEntryName("//ProgramFile/a.bin"), "ProgramFile/a.bin");
    EXPECT_EQ(ReduceEntryName("ProgramFile/../../top.bin"), "top.bin");
    EXPECT_EQ(ReduceEntryName("a\\..\\b/../c.bin"), "c.bin");
    EXPECT_TRUE(EntryNameStaysInside("ProgramFile/data/a.bin"));
    EXPECT_TRUE(EntryNameStaysInside("top.bin"));
    // What the reduction leaves outside.
    EXPECT_EQ(ReduceEntryName("../x"), "../x");
    EXPECT_FALSE(EntryNameStaysInside(ReduceEntryName("../x")));
    EXPECT_FALSE(EntryNameStaysInside(ReduceEntryName("ProgramFile/..")));
    EXPECT_EQ(ReduceEntryName("a/..//etc/x"), "/etc/x");
    EXPECT_FALSE(EntryNameStaysInside(ReduceEntryName("a/..//etc/x")));
    EXPECT_FALSE(EntryNameStaysInside(ReduceEntryName("..\\x")));
    EXPECT_FALSE(EntryNameStaysInside(""));
}

TEST(Package, OpensTheSamplePackage)
{
    const std::string folder = linktest::NewFolder("open") + "Program/";
    ModelCatalogue models;
    PackageOpenReport report;
    ASSERT_TRUE(OpenPackage(W(dltest::SamplePackagePath()), W(folder), &report, &models)) << N(report.failure);
    EXPECT_TRUE(report.copyFailedText.empty());
    EXPECT_TRUE(report.catalogueLoaded);
    EXPECT_FALSE(fs::exists(folder + "temp.bin"));
    ASSERT_GE(models.modelCount(), 9);
    EXPECT_EQ(models.seriesList().front(), L"TV380");

    ModelFiles names;
    ASSERT_TRUE(models.FindModelFiles(L"TV380", L"38000075", L"0.75kW", names));
    const PackageFilePaths paths = PackagePaths(W(folder), names);
    EXPECT_EQ(N(paths.dataFile), folder + "ProgramFile/data/TV380_PD_0R75.bin");
    EXPECT_EQ(ReadBytes(N(paths.dataFile)), ReadBytes(dltest::SampleImage("data/TV380_PD_0R75.bin")));
    EXPECT_EQ(ReadBytes(N(paths.codeFile)), ReadBytes(dltest::SampleImage("code/TV380_APP_V124.bin")));
    EXPECT_EQ(ReadBytes(N(paths.initFile)), ReadBytes(dltest::SampleImage("init/TV380_INIT_A.bin")));
    EXPECT_EQ(ReadBytes(N(paths.calibrationFile)), ReadBytes(dltest::SampleImage("calibration/TV380_CAL_S.TTL")));

    // Removal takes write-protected files and folders along.
    ASSERT_EQ(::chmod(N(paths.dataFile).c_str(), 0444), 0);
    ASSERT_EQ(::chmod((folder + "ProgramFile/data").c_str(), 0555), 0);
    EXPECT_TRUE(RemoveExtracted(W(folder)));
    EXPECT_FALSE(fs::exists(folder + "ProgramFile"));
    EXPECT_TRUE(fs::exists(folder));
    EXPECT_TRUE(RemoveExtracted(W(folder)));  // nothing left to remove
}

TEST(Package, BrokenAndMissingPackagesFail)
{
    const std::string base = linktest::NewFolder("broken");
    ModelCatalogue models;
    PackageOpenReport report;
    EXPECT_FALSE(OpenPackage(W(base + "missing.vkr"), W(base + "Program/"), &report, &models));
    EXPECT_NE(report.copyFailedText.find(L"Failed to read file1 :"), std::wstring::npos);
    EXPECT_EQ(models.modelCount(), 0);

    std::string junk(5000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 31 + 7);
    ASSERT_TRUE(WriteBytes(base + "junk.vkr", junk));
    EXPECT_FALSE(OpenPackage(W(base + "junk.vkr"), W(base + "Program/"), &report, &models));
    EXPECT_TRUE(report.copyFailedText.empty());
    EXPECT_FALSE(report.failure.empty());
    EXPECT_FALSE(fs::exists(base + "Program/temp.bin"));

    // A damaged entry (its data changed behind its CRC) fails too.
    const std::string path = PackageFrom(base, {{"ProgramFile/", ""}, {"ProgramFile/a.txt", "hello hello"}});
    std::string bytes = ReadBytes(path);
    std::string inverted = "hello hello";
    InvertPackageBytes(inverted.insert(0, 32, ' '));
    const size_t at = bytes.find(inverted.substr(32));
    ASSERT_NE(at, std::string::npos);
    bytes[at] = static_cast<char>(~'j');
    ASSERT_TRUE(WriteBytes(path, bytes));
    EXPECT_FALSE(OpenPackage(W(path), W(base + "Program2/"), &report, &models));
    // Nothing of it stays, not even under a temporary name.
    EXPECT_TRUE(Tree(base + "Program2/").empty());
}

TEST(Package, AFailedPackageLeavesNothingOfItselfOrOfThePreviousOne)
{
    const std::string base = linktest::NewFolder("partial");
    const std::string folder = base + "Program/";
    ModelCatalogue models;
    ASSERT_TRUE(OpenPackage(W(dltest::SamplePackagePath()), W(folder), nullptr, &models));
    ASSERT_GT(models.modelCount(), 0);
    // Two good entries, then one that leaves the folder.
    fs::create_directories(base + "pkg");
    const std::string package = PackageFrom(
        base + "pkg/", {{"ProgramFile/", ""}, {"ProgramFile/code/a.bin", "a"}, {"../escape.bin", "x"}});
    PackageOpenReport report;
    EXPECT_FALSE(OpenPackage(W(package), W(folder), &report, &models));
    EXPECT_EQ(report.filesWritten, 0);
    EXPECT_TRUE(Tree(folder).empty());
    EXPECT_EQ(models.modelCount(), 0);
}

TEST(Package, ADeflateBombIsRefusedAndLeavesNothing)
{
    const std::string base = linktest::NewFolder("bomb");
    const std::string folder = base + "Program/";
    fs::create_directories(base + "pkg");
    const std::string package =
        PackageFrom(base + "pkg/", {{"ProgramFile/", ""},
                                    {"ProgramFile/init/a.bin", std::string(300, 'a')},
                                    {"ProgramFile/code/bomb.bin", std::string(package::kMaxEntryBytes + 1, '\0'), false, true}});
    EXPECT_LT(fs::file_size(package), 100000u);
    PackageOpenReport report;
    ModelCatalogue models;
    EXPECT_FALSE(OpenPackage(W(package), W(folder), &report, &models));
    EXPECT_NE(report.failure.find(L"larger than"), std::wstring::npos) << N(report.failure);
    EXPECT_TRUE(Tree(folder).empty());

    // Below the size cap, a ratio no real image has is refused as well.
    const std::string dense = PackageFrom(
        base + "pkg/", {{"ProgramFile/code/zeros.bin", std::string(2u << 20, '\0'), false, true}});
    EXPECT_FALSE(OpenPackage(W(dense), W(folder), &report, &models));
    EXPECT_NE(report.failure.find(L"compressed more than 100 to 1"), std::wstring::npos) << N(report.failure);
    EXPECT_TRUE(Tree(folder).empty());

    // A moderately compressed entry over the size cap is caught by its bytes.
    std::string big(package::kMaxEntryBytes + 1, '\0');
    for (size_t i = 0; i < big.size(); i += 64) big[i] = static_cast<char>(i / 64);
    const std::string over = PackageFrom(base + "pkg/", {{"ProgramFile/code/big.bin", big, false, true}});
    EXPECT_FALSE(OpenPackage(W(over), W(folder), &report, &models));
    EXPECT_NE(report.failure.find(L"larger than"), std::wstring::npos) << N(report.failure);
    EXPECT_TRUE(Tree(folder).empty());
}

TEST(Package, HostileEntriesWriteNothingOutsideTheFolder)
{
    struct Case {
        const char* what;
        std::vector<ZipEntry> entries;
        const char* refused;
    };
    const std::vector<Case> cases = {
        {"parent", {{"ProgramFile/", ""}, {"../escape.txt", "x"}}, "../escape.txt"},
        {"absolute", {{"a/..//tmp/escape.txt", "x"}}, "a/..//tmp/escape.txt"},
        {"backslash", {{"..\\escape.txt", "x"}}, "..\\escape.txt"},
        {"symlink", {{"ProgramFile/", ""}, {"ProgramFile/link", "/tmp", true}, {"ProgramFile/link/escape.txt", "x"}},
         "ProgramFile/link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = linktest::NewFolder(std::string("hostile-") + c.what);
        const std::string pkgDir = base + "pkg/";
        fs::create_directories(pkgDir);
        const std::string package = PackageFrom(pkgDir, c.entries);
        const std::string folder = base + "app/Program/";
        PackageOpenReport report;
        ModelCatalogue models;
        EXPECT_FALSE(OpenPackage(W(package), W(folder), &report, &models));
        ASSERT_EQ(report.refusedEntries.size(), 1u);
        EXPECT_EQ(N(report.refusedEntries[0]), c.refused);
        // Only the program folder (and what is inside it) exists besides the package.
        for (const std::string& p : Tree(base))
            EXPECT_TRUE(p.rfind("pkg/", 0) == 0 || p.rfind("app/", 0) == 0) << p;
        EXPECT_FALSE(fs::exists(base + "app/escape.txt"));
        EXPECT_FALSE(fs::exists("/tmp/escape.txt"));
        for (const std::string& p : Tree(folder)) EXPECT_EQ(p.find("link"), std::string::npos) << p;
    }

    // A link already in the folder is never followed.
    const std::string base = linktest::NewFolder("hostile-existing");
    const std::string outside = base + "outside/";
    fs::create_directories(outside);
    fs::create_directories(base + "app/Program/ProgramFile");
    fs::create_directory_symlink(outside, base + "app/Program/ProgramFile/data");
    fs::create_directories(base + "pkg");
    const std::string package =
        PackageFrom(base + "pkg/", {{"ProgramFile/", ""}, {"ProgramFile/data/x.bin", "payload"}});
    PackageOpenReport report;
    ModelCatalogue models;
    // The old content goes first, the link with it; nothing lands outside.
    EXPECT_TRUE(OpenPackage(W(package), W(base + "app/Program/"), &report, &models)) << N(report.failure);
    EXPECT_TRUE(Tree(outside).empty());
    EXPECT_EQ(ReadBytes(base + "app/Program/ProgramFile/data/x.bin"), "payload");
    fs::remove_all(base + "app/Program/ProgramFile");
    fs::create_directories(base + "app/Program/ProgramFile");
    fs::create_directory_symlink(outside, base + "app/Program/ProgramFile/data");
    // Removal deletes the link, not what it points to.
    ASSERT_TRUE(WriteBytes(outside + "keep.txt", "keep"));
    EXPECT_TRUE(RemoveExtracted(W(base + "app/Program/")));
    EXPECT_TRUE(fs::exists(outside + "keep.txt"));
}

TEST(Package, ATopFolderThenTwoParentsLandsInTheProgramFolder)
{
    const std::string base = linktest::NewFolder("edge");
    const std::string package = PackageFrom(
        base, {{"ProgramFile/", ""}, {"ProgramFile/../../top.bin", "top"}, {"ProgramFile/data/a.bin", "a"}});
    const std::string folder = base + "app/Program/";
    PackageOpenReport report;
    ModelCatalogue models;
    EXPECT_TRUE(OpenPackage(W(package), W(folder), &report, &models)) << N(report.failure);
    EXPECT_EQ(ReadBytes(folder + "top.bin"), "top");
    EXPECT_EQ(ReadBytes(folder + "ProgramFile/data/a.bin"), "a");
    EXPECT_EQ(report.filesWritten, 2);
    // No workbook in this package: an empty catalogue.
    EXPECT_FALSE(report.catalogueLoaded);
    EXPECT_EQ(models.modelCount(), 0);
}

TEST(Package, MadePackagesAreReadByInfoZipAndPython)
{
    const std::string base = linktest::NewFolder("make");
    const std::string source = base + "work/ProgramFile";
    fs::create_directories(base + "work");
    fs::copy(std::string(TORVANE_SAMPLEDATA_DIR) + "/images", source, fs::copy_options::recursive);
    ASSERT_TRUE(WriteBytes(source + "/notes.zip", "already packed"));

    CDlgMakeFile dialog;
    dialog.sourceEdit()->SetText(QString::fromStdString(source));
    EXPECT_EQ(dialog.exportEdit()->text().toStdString(), base + "work/ProgramFile.vkr");
    dialog.accept();
    ASSERT_EQ(dialog.lastResult(), package::kMakeOk);
    const std::string made = base + "work/ProgramFile.vkr";

    std::string out;
    ASSERT_EQ(dltest::RunCommand("unzip -Z1 '" + made + "'", &out), 0) << out;
    EXPECT_EQ(out.substr(0, out.find('\n')), "ProgramFile/");
    for (const char* name : {"ProgramFile/VKR_MODEL.xls", "ProgramFile/data/", "ProgramFile/init/",
                             "ProgramFile/calibration/", "ProgramFile/code/",
                             "ProgramFile/code/TV380_APP_V124.bin", "ProgramFile/calibration/TV380_CAL_S.TTL"})
        EXPECT_NE(out.find(std::string(name) + "\n"), std::string::npos) << name << "\n" << out;
    EXPECT_EQ(out.find("work/"), std::string::npos) << out;

    ASSERT_EQ(dltest::RunCommand("unzip -q -o '" + made + "' -d '" + base + "unzipped' 2>&1", &out), 0) << out;
    EXPECT_EQ(ReadBytes(base + "unzipped/ProgramFile/code/TV380_APP_V124.bin"),
              ReadBytes(source + "/code/TV380_APP_V124.bin"));
    EXPECT_EQ(ReadBytes(base + "unzipped/ProgramFile/VKR_MODEL.xls"), ReadBytes(source + "/VKR_MODEL.xls"));

    // Python: every CRC holds; .zip stored, everything else deflated.
    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "for i in z.infolist():\n"
        "    print(i.filename, i.compress_type, len(z.read(i)))\n"
        "z.extractall(sys.argv[2])\n";
    ASSERT_TRUE(WriteBytes(base + "check.py", script));
    ASSERT_EQ(dltest::RunCommand(std::string(TORVANE_SYSTEM_PYTHON) + " '" + base + "check.py' '" + made + "' '" +
                                     base + "pyextract' 2>&1",
                                 &out),
              0)
        << out;
    EXPECT_EQ(ReadBytes(base + "pyextract/ProgramFile/calibration/TV380_CAL_S.TTL"),
              ReadBytes(source + "/calibration/TV380_CAL_S.TTL"));
    EXPECT_NE(out.find("ProgramFile/notes.zip 0 14\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ProgramFile/code/TV380_APP_V124.bin 8 16384\n"), std::string::npos) << out;

    // Inverted, it opens like any package.
    ASSERT_TRUE(InvertPackageFile(W(made)));
    ModelCatalogue models;
    EXPECT_TRUE(OpenPackage(W(made), W(base + "app/Program/"), nullptr, &models));
    EXPECT_GE(models.modelCount(), 9);

    // Proposed inside the source folder, the package does not pack itself.
    EXPECT_EQ(N(ProposeExportFile(W(source + "/"))), source + "/ProgramFile.vkr");
    ASSERT_EQ(MakePackage(W(source), W(source + "/ProgramFile.vkr")), package::kMakeOk);
    ASSERT_EQ(MakePackage(W(source), W(source + "/ProgramFile.vkr")), package::kMakeOk);
    ASSERT_EQ(dltest::RunCommand("unzip -Z1 '" + source + "/ProgramFile.vkr'", &out), 0);
    EXPECT_EQ(out.find("ProgramFile.vkr"), std::string::npos) << out;

    EXPECT_EQ(MakePackage(W(base + "nowhere"), W(base + "nowhere.vkr")), package::kMakeNoSource);
    EXPECT_FALSE(fs::exists(base + "nowhere.vkr"));
    EXPECT_EQ(N(ProposeExportFile(L"D:\\work\\ProgramFile")), "D:\\work\\ProgramFile.vkr");
    EXPECT_EQ(N(ProposeExportFile(L"D:\\")), "D:\\ProgramFile.vkr");
}
