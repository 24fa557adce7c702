// The sample program package as the build placed it in the program folder:
// un-inverted and unpacked with minizip, it must hold exactly the images laid
// out in the build tree, and its model workbook must load into the program's
// model catalogue.
#include <gtest/gtest.h>
#include <unistd.h>
#include <unzip.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "LanguageTables.h"
#include "ModelCatalogue.h"
#include "ParamTable.h"
#include "SampleData.h"
#include "SourceText.h"

namespace fs = std::filesystem;
using namespace databuild;

namespace {

const std::string kProgramDir = TORVANE_PROGRAM_DIR;
const std::string kSampleDir = TORVANE_SAMPLEDATA_DIR;
const std::string kSourceDir = TORVANE_DATA_SOURCE_DIR;

std::string Read(const std::string& path) {
    std::string bytes, error;
    EXPECT_TRUE(ReadFileBytes(path, bytes, error)) << error;
    return bytes;
}

class SamplePackage : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = Read(kProgramDir + "/Program/ProgramFile.vkr");
        ASSERT_GT(package_.size(), 32u);
        std::string tmpl = (fs::temp_directory_path() / "samplepkg-XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // Entries of the un-inverted package, in archive order.
    std::vector<std::pair<std::string, std::string>> Unpack() {
        std::string plain = package_;
        for (size_t i = 32; i < plain.size(); ++i) plain[i] = static_cast<char>(plain[i] ^ 0xFF);
        const std::string zipPath = (dir_ / "package.zip").string();
        std::string error;
        EXPECT_TRUE(WriteFileBytes(zipPath, plain, error)) << error;
        std::vector<std::pair<std::string, std::string>> out;
        unzFile uf = unzOpen64(zipPath.c_str());
        EXPECT_NE(uf, nullptr) << "package is not a zip archive once un-inverted";
        if (!uf) return out;
        for (int rc = unzGoToFirstFile(uf); rc == UNZ_OK; rc = unzGoToNextFile(uf)) {
            char name[512];
            unz_file_info64 info;
            EXPECT_EQ(unzGetCurrentFileInfo64(uf, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
            EXPECT_EQ(info.flag & 1, 0u) << "encrypted entry " << name;
            std::string data(static_cast<size_t>(info.uncompressed_size), '\0');
            EXPECT_EQ(unzOpenCurrentFile(uf), UNZ_OK);
            if (!data.empty())
                EXPECT_EQ(unzReadCurrentFile(uf, data.data(), static_cast<unsigned>(data.size())),
                          static_cast<int>(data.size()));
            EXPECT_EQ(unzCloseCurrentFile(uf), UNZ_OK) << "CRC of " << name;
            out.emplace_back(name, data);
        }
        unzClose(uf);
        return out;
    }
    std::string package_;
    fs::path dir_;
};

}  // namespace

TEST_F(SamplePackage, FirstBytesPlainRestInverted) {
    const std::string zip = Read(kSampleDir + "/ProgramFile.zip");
    ASSERT_EQ(zip.size(), package_.size());
    EXPECT_EQ(package_.substr(0, 4), std::string("PK\x03\x04", 4));
    EXPECT_EQ(package_.substr(0, 32), zip.substr(0, 32));
    size_t wrong = 0;
    for (size_t i = 32; i < zip.size(); ++i)
        if (static_cast<unsigned char>(package_[i]) != (static_cast<unsigned char>(zip[i]) ^ 0xFF)) ++wrong;
    EXPECT_EQ(wrong, 0u);
}

TEST_F(SamplePackage, UnpackedContentEqualsTheImagesInTheBuildTree) {
    const auto entries = Unpack();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].first, "ProgramFile/");
    std::map<std::string, std::string> files;
    for (const auto& [name, data] : entries) {
        ASSERT_EQ(name.rfind("ProgramFile/", 0), 0u) << name;
        EXPECT_EQ(name.find('\\'), std::string::npos);
        EXPECT_EQ(name.find(".."), std::string::npos);
        if (name.back() != '/') files[name.substr(12)] = data;
    }
    size_t onDisk = 0;
    const fs::path images = kSampleDir + "/images";
    for (const auto& e : fs::recursive_directory_iterator(images)) {
        if (!e.is_regular_file()) continue;
        ++onDisk;
        const std::string rel = fs::relative(e.path(), images).generic_string();
        ASSERT_TRUE(files.count(rel)) << rel << " missing from the package";
        EXPECT_EQ(files[rel], Read(e.path().string())) << rel;
    }
    EXPECT_EQ(files.size(), onDisk);
    // Calibration files travel unchanged, line ends included.
    for (const char* cal : {"TV380_CAL_S.TTL", "TV380_CAL_M.TTL"})
        EXPECT_EQ(files[std::string("calibration/") + cal], Read(kSourceDir + "/program/calibration/" + cal));
}

TEST_F(SamplePackage, ModelWorkbookLoadsIntoTheCatalogue) {
    ModelCatalogue catalogue;
    ASSERT_TRUE(catalogue.Load(Widen(kSampleDir + "/images/VKR_MODEL.xls")));
    EXPECT_EQ(catalogue.modelCount(), 9);
    ASSERT_EQ(catalogue.seriesCount(), 3);
    EXPECT_EQ(catalogue.seriesList()[0], L"TV380");
    EXPECT_EQ(catalogue.seriesList()[1], L"TV380E");
    ModelFiles files;
    ASSERT_TRUE(catalogue.FindModelFiles(L"TV380", L"38000400", L"4.0kW", files));
    EXPECT_EQ(files.dataFile, L"TV380_PD_4R0");
    EXPECT_EQ(files.calibrationFile, L"TV380_CAL_M");
    EXPECT_EQ(files.codeFile, L"TV380_APP_V124");
    EXPECT_EQ(files.initFile, L"TV380_INIT_A");
    // Two models share series and power: the first one answers.
    ASSERT_TRUE(catalogue.FindModelFilesByPower(L"TV390", L"1.5kW", files));
    EXPECT_EQ(files.dataFile, L"TV390_PD_1R5A");

    // Every model's files are where the download view will look for them.
    const auto entries = Unpack();
    std::map<std::string, size_t> sizes;
    for (const auto& [name, data] : entries) sizes[name] = data.size();
    for (const ModelRecord& m : catalogue.models()) {
        auto narrow = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
        EXPECT_TRUE(sizes.count("ProgramFile/data/" + narrow(m.dataFile) + ".bin"));
        EXPECT_TRUE(sizes.count("ProgramFile/init/" + narrow(m.initFile) + ".bin"));
        EXPECT_TRUE(sizes.count("ProgramFile/calibration/" + narrow(m.calibrationFile) + ".TTL"));
        EXPECT_TRUE(sizes.count("ProgramFile/code/" + narrow(m.codeFile) + ".bin"));
        EXPECT_LE(m.series.size(), 6u);
        EXPECT_LE(m.partNumber.size(), 8u);
    }
}

TEST(SampleImages, ShapesTheDownloadTestsRelyOn) {
    const std::string images = kSampleDir + "/images";
    bool remainder = false, exact = false, zeroBlock = false;
    for (const char* code : {"TV380_APP_V124", "TV380E_APP_V124"}) {
        const std::string data = Read(images + "/code/" + code + ".bin");
        EXPECT_GE(data.size(), 8u * 1024);
        EXPECT_LE(data.size(), 20u * 1024);
        (data.size() % 128 ? remainder : exact) = true;
        for (size_t b = 0; b + 128 <= data.size(); b += 128)
            if (data.compare(b, 128, std::string(128, '\0')) == 0) zeroBlock = true;
    }
    EXPECT_TRUE(remainder && exact && zeroBlock);
    const std::string initA = Read(images + "/init/TV380_INIT_A.bin");
    EXPECT_EQ(initA.size(), 300u);  // two full blocks and 44 bytes
    const std::string data = Read(images + "/data/TV380_PD_0R75.bin");
    EXPECT_EQ(data.substr(25, 9), std::string("38000075") + '\0');

    // Calibration commands fit the download's table and follow the write_ee form.
    const auto cmds = CalibrationCommands(Read(images + "/calibration/TV380_CAL_S.TTL"));
    ASSERT_EQ(cmds.size(), 14u);
    EXPECT_EQ(cmds[0], "VKR pm write_ee -a 64 -d 0400\n");
    for (const auto& c : cmds) EXPECT_LE(c.size(), 31u) << c;
    EXPECT_EQ(CalibrationCommands(Read(images + "/calibration/TV380_CAL_M.TTL")).size(), 9u);
}

TEST(SampleParameters, TableAsTheProgramSeesIt) {
    ParamTable t;
    ASSERT_TRUE(t.Load(Widen(kProgramDir + "/Parameter/TV380.xls"))) << t.lastError();
    EXPECT_EQ(t.deviceType, L"TV380");
    EXPECT_EQ(t.groupCount(), 15);
    int monitors = 0;
    for (const ParamRecord& r : t.params) {
        if (r.groupNumber == 9) ++monitors;
        const long reg = r.address - 1;
        EXPECT_FALSE(IsReservedRegister(reg)) << reg;
    }
    EXPECT_GE(monitors, 12);
    // The run command source shows its option text in both languages.
    for (const ParamRecord& r : t.params)
        if (r.pnu == L"01.01") {
            EXPECT_EQ(t.ValueText(r, 1.0, 0), L"1,Terminal");
            EXPECT_EQ(t.ValueText(r, 1.0, 1), L"1,端子");
        }
    // Subgroup 2.2 (number 22) holds the autotune results.
    bool found = false;
    for (const ParamGroup& g : t.groups)
        for (const ParamSubgroup& s : g.subgroups)
            if (s.number == 22) found = s.code == L"2.2";
    EXPECT_TRUE(found);
}

TEST(SampleLanguage, EveryIdentifierReachesTheProgramInBothLanguages) {
    std::vector<LanguageEntry> entries;
    std::string error;
    ASSERT_TRUE(LoadLanguageSource(kSourceDir + "/language/language.csv", entries, error)) << error;

    // The switch writes setting.ini: work on a copy of the language folder.
    std::string tmpl = (fs::temp_directory_path() / "samplelang-XXXXXX").string();
    const fs::path dir = mkdtemp(tmpl.data());
    fs::copy(kProgramDir + "/Language", dir / "Language", fs::copy_options::recursive);
    {
        LanguageTables lt(Widen(dir.string() + "/"));
        lt.Start();
        EXPECT_EQ(lt.current(), L"English");
        EXPECT_EQ(lt.controlTexts().size(), entries.size());
        for (const auto& e : entries) EXPECT_EQ(lt.ControlText(e.id), Widen(e.english)) << e.id;
        ASSERT_TRUE(lt.SetLanguage(L"Chinese"));
        EXPECT_EQ(lt.controlTexts().size(), entries.size());
        for (const auto& e : entries) EXPECT_EQ(lt.ControlText(e.id), Widen(e.chinese)) << e.id;
        EXPECT_EQ(lt.CommandCaption(LanguageTables::kChineseCommand), L"中文");
        EXPECT_EQ(lt.keyToText().at(L"IDS_MENU_EDIT"), L"参数(&M)");
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}
