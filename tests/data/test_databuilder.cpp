// The sample-data builder's checks and writers, on small sources made up by
// each test in its own temporary folder.
#include <gtest/gtest.h>
#include <unzip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ParamTable.h"
#include "SampleData.h"
#include "SourceText.h"

namespace fs = std::filesystem;
using namespace databuild;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "databuild-XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string Write(const std::string& name, const std::string& text) const {
        fs::path p = path / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
};

const char* kParamHeader =
    "address,pnu,name_en,name_zh,access,unit,run_edit,exponent,stored,level,no_default,default,"
    "no_min,min,no_max,max\n";

// A small valid table: group 1 with two parameters, group 2 with a subgroup,
// monitor group 9 with a signed quantity.
std::string BaseTable() {
    return std::string(kParamHeader) +
           "# comment line\n"
           ",01***,Basic,基本\n"
           "257,01.00,Run source,运行命令,RW,,1,0,1,0,0,0,0,0,0,2\n"
           "258,01.01,Frequency,频率,RW,Hz,1,-2,1,0,0,50.00,0,0.00,0,590.00\n"
           ",02***,Motor,电机\n"
           ",2.1*,Nameplate,铭牌\n"
           "513,02.00,Rated current,额定电流,RW,A,0,-2,1,0,1,9.00,0,0.01,0,655.35\n"
           ",09***,State,状态\n"
           "2305,09.00,Torque,转矩,RO,%,1,-1,0,0,1,0,0,-300.0,0,300.0\n";
}

std::string BaseOptions() {
    return "pnu,code,text_en,text_zh\n"
           "01.00,0,Keypad,面板\n"
           "01.00,1,Run,运行\n"
           "01.00,2,Bus,通讯\n";
}

bool LoadTable(const TempDir& dir, const std::string& table, const std::string& options,
               ParameterSource& src, std::string& error) {
    return LoadParameterSource(dir.Write("t.csv", table), dir.Write("o.csv", options), src, error);
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

}  // namespace

TEST(Csv, QuotedCellsCommentsAndLineEnds) {
    std::vector<CsvRow> rows;
    std::string error;
    const std::string text =
        "\xEF\xBB\xBF"
        "a,b,c\r\n"
        "# not a row\r\n"
        "\r\n"
        "1,\"x, y\",\"say \"\"hi\"\"\"\n"
        "2,\"two\nlines\",\n";
    ASSERT_TRUE(ParseCsv(text, "t", rows, error)) << error;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].cells, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(rows[1].line, 4);
    EXPECT_EQ(rows[1].cells, (std::vector<std::string>{"1", "x, y", "say \"hi\""}));
    EXPECT_EQ(rows[2].cells, (std::vector<std::string>{"2", "two\nlines", ""}));
}

TEST(Csv, MalformedInputNamesTheLine) {
    std::vector<CsvRow> rows;
    std::string error;
    EXPECT_FALSE(ParseCsv("a,b\n1,\"open\n2,3\n", "f.csv", rows, error));
    EXPECT_NE(error.find("f.csv:2:"), std::string::npos) << error;
    EXPECT_FALSE(ParseCsv("a,b\n1,\"x\"y\n", "f.csv", rows, error));
    EXPECT_NE(error.find("f.csv:2:"), std::string::npos) << error;
    EXPECT_FALSE(ParseCsv("a,b\n1,x\"y\n", "f.csv", rows, error));
    EXPECT_FALSE(ParseCsv("a,\xC3\x28\n", "f.csv", rows, error));
    EXPECT_NE(error.find("UTF-8"), std::string::npos);

    TempDir dir;
    EXPECT_FALSE(ReadCsvTable(dir.Write("h.csv", "a,c\n1,2\n"), {"a", "b"}, rows, error));
    EXPECT_NE(error.find("header"), std::string::npos);
    EXPECT_FALSE(ReadCsvTable(dir.Write("l.csv", "a,b\n1,2,3\n"), {"a", "b"}, rows, error));
    ASSERT_TRUE(ReadCsvTable(dir.Write("s.csv", "a,b\n1\n"), {"a", "b"}, rows, error));
    EXPECT_EQ(rows[0].cells, (std::vector<std::string>{"1", ""}));
}

TEST(Csv, NumbersAreWholeCells) {
    double d;
    long long i;
    EXPECT_TRUE(ParseReal("-12.50", d));
    EXPECT_DOUBLE_EQ(d, -12.5);
    EXPECT_FALSE(ParseReal("1,5", d));
    EXPECT_FALSE(ParseReal("inf", d));
    EXPECT_FALSE(ParseReal("0x10", d));
    EXPECT_FALSE(ParseReal("", d));
    EXPECT_FALSE(ParseReal("5 ", d));
    EXPECT_TRUE(ParseInt("0x7A380124", i));
    EXPECT_EQ(i, 0x7A380124);
    EXPECT_FALSE(ParseInt("12a", i));
    EXPECT_FALSE(ParseInt("-", i));
}

TEST(ParameterSource, ValidTableWritesAWorkbookTheProgramLoads) {
    TempDir dir;
    ParameterSource src;
    std::string error;
    ASSERT_TRUE(LoadTable(dir, BaseTable(), BaseOptions(), src, error)) << error;
    ASSERT_EQ(src.rows.size(), 8u);
    EXPECT_EQ(src.rows[4].number, 21);  // "2.1*"
    EXPECT_EQ(src.rows[5].headerNumber, 21);

    fs::create_directories(dir.path / "Parameter");
    const std::string book = (dir.path / "Parameter" / "TST1.xls").string();
    ASSERT_TRUE(WriteParameterBook(src, book, error)) << error;

    ParamTable t;
    ASSERT_TRUE(t.Load(Widen(book))) << t.lastError();
    EXPECT_EQ(t.deviceType, L"TST1");
    ASSERT_EQ(t.groupCount(), 3);
    ASSERT_EQ(t.groups[1].subgroupCount(), 1);
    EXPECT_EQ(t.groups[1].subgroups[0].number, 21);
    ASSERT_EQ(t.paramCount(), 4);
    const ParamRecord& run = t.params[0];
    EXPECT_EQ(run.address, 257);
    EXPECT_EQ(run.groupNumber, 1);
    EXPECT_EQ(t.ValueText(run, 1.0, 0), L"1,Run");
    EXPECT_EQ(t.ValueText(run, 1.0, 1), L"1,运行");
    const ParamRecord& current = t.params[2];
    EXPECT_EQ(current.groupNumber, 21);
    EXPECT_TRUE(current.noDefault);
    EXPECT_EQ(current.exponent, -2);
    EXPECT_DOUBLE_EQ(current.maxValue, 655.35);
    EXPECT_EQ(current.unit, L"A");
    EXPECT_TRUE(current.reservedFlagH);
    EXPECT_FALSE(current.reservedFlagF);
    EXPECT_DOUBLE_EQ(t.params[3].minValue, -300.0);

    // The program refuses a workbook whose C2 names another file.
    fs::copy_file(book, dir.path / "Parameter" / "OTHER.xls");
    EXPECT_FALSE(t.Load(Widen((dir.path / "Parameter" / "OTHER.xls").string())));
}

TEST(ParameterSource, RefusesWhatTheProgramWouldMisread) {
    struct Case {
        const char* what;
        std::string table, options, message;
    };
    const std::string t = BaseTable(), o = BaseOptions();
    std::string groups17 = kParamHeader;
    for (int g = 10; g < 27; ++g)
        groups17 += "," + std::to_string(g) + "***,G,组\n" + std::to_string(g * 256 + 1) + "," +
                    std::to_string(g) + ".00,P,参,RW,,1,0,1,0,0,0,0,0,0,9\n";
    const std::vector<Case> cases = {
        {"run command register", Replace(t, "258,01.01", "10000,01.01"), o, "used by the program"},
        {"boot request register", Replace(t, "258,01.01", "1542,01.01"), o, "used by the program"},
        {"series register", Replace(t, "258,01.01", "810,01.01"), o, "used by the program"},
        {"subgroup in monitor group", Replace(t, ",09***,State,状态\n", ",09***,State,状态\n,9.1*,Sub,子\n"), o,
         "groups 8 and 9"},
        {"subgroup number equals a group", Replace(t, ",02***", ",21***,X,甲\n,02***"), o, "used twice"},
        {"too many groups", groups17, "pnu,code,text_en,text_zh\n", "more than 16 groups"},
        {"exponent", Replace(t, "RW,Hz,1,-2", "RW,Hz,1,-4"), o, "exponent"},
        {"default outside the range", Replace(t, "50.00,0,0.00,0,590.00", "600.00,0,0.00,0,590.00"), o,
         "outside"},
        {"unsigned overflow", Replace(t, "50.00,0,0.00,0,590.00", "50.00,0,0.00,0,655.36"), o, "16-bit"},
        {"too many decimals", Replace(t, "50.00,0,0.00", "50.005,0,0.00"), o, "decimals"},
        {"name with a comma", Replace(t, "Frequency,频率", "\"Freq, set\",频率"), o, "comma"},
        {"missing Chinese name", Replace(t, "Frequency,频率", "Frequency,"), o, "Chinese"},
        {"pnu twice", Replace(t, "258,01.01", "258,01.00"), o, "used twice"},
        {"flag not 0 or 1", Replace(t, "RW,Hz,1,-2", "RW,Hz,yes,-2"), o, "0 or 1"},
        {"parameter before the first subgroup",
         Replace(t, ",2.1*,Nameplate,铭牌\n", "600,02.09,Stray,游离,RW,,1,0,1,0,0,0,0,0,0,1\n,2.1*,Nameplate,铭牌\n"), o,
         "before its first subgroup"},
        {"subgroup of a two-digit group", Replace(t, ",2.1*", ",12.1*"), o, "one-digit"},
        {"empty pnu", Replace(t, "258,01.01", "258,"), o, "pnu is empty"},
        {"option list split",
         Replace(t, "1,-2,1,0,0,50.00,0,0.00,0,590.00", "1,0,1,0,0,50,0,0,0,590"),
         o + "01.01,0,A,甲\n01.00,3,More,更多\n", "stay together"},
        {"option for a scaled value", t, o + "01.01,0,A,甲\n", "exponent 0"},
        {"option code out of range", t, Replace(o, "01.00,2,Bus", "01.00,7,Bus"), "outside"},
        {"option of no parameter", t, o + "05.05,0,A,甲\n", "no parameter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ParameterSource src;
        std::string error;
        EXPECT_FALSE(LoadTable(dir, c.table, c.options, src, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(LanguageSource, EscapesAndGaps) {
    TempDir dir;
    std::vector<LanguageEntry> entries;
    std::string error;
    ASSERT_TRUE(LoadLanguageSource(
        dir.Write("l.csv", "id,english,chinese,where\n32777,Connect\\tCtrl+C,连接\\tCtrl+C,menu\n2001,All,全选,view\n"),
        entries, error))
        << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].english, "Connect\tCtrl+C");
    // An empty text would end the program's reading of that language's column.
    EXPECT_FALSE(LoadLanguageSource(dir.Write("e.csv", "id,english,chinese,where\n1,OK,,dialog\n"), entries, error));
    EXPECT_FALSE(
        LoadLanguageSource(dir.Write("d.csv", "id,english,chinese,where\n1,OK,确定,a\n1,Yes,是,b\n"), entries, error));
    EXPECT_NE(error.find("twice"), std::string::npos);
    EXPECT_FALSE(LoadLanguageSource(dir.Write("x.csv", "id,english,chinese,where\n1,O\\k,确定,a\n"), entries, error));
}

TEST(Images, GeneratedBytesFollowTheDescription) {
    ImageSpec image;
    image.size = 300;
    image.seed = 0x12345678;
    image.zeroBlocks = {1};
    image.patches = {{25, "38000075"}};
    const std::string a = GenerateImage(image), b = GenerateImage(image);
    ASSERT_EQ(a.size(), 300u);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.substr(128, 128), std::string(128, '\0'));
    EXPECT_EQ(a.substr(25, 9), std::string("38000075") + '\0');
    EXPECT_NE(a.substr(0, 25), std::string(25, '\0'));
    image.seed = 0x12345679;
    EXPECT_NE(GenerateImage(image).substr(256), a.substr(256));

    TempDir dir;
    std::vector<ImageSpec> images;
    std::string error;
    const std::string head = "folder,name,size,seed,zero_blocks,patches\n";
    EXPECT_TRUE(LoadImageSource(dir.Write("ok.csv", head + "data,D,1024,7,,25=PN\ninit,I,384,9,2,\n"), images, error))
        << error;
    // Power data past EE 1151 would overwrite the init data; init data past
    // EE 1535 would overwrite the mode word.
    EXPECT_FALSE(LoadImageSource(dir.Write("d.csv", head + "data,D,1025,7,,\n"), images, error));
    EXPECT_FALSE(LoadImageSource(dir.Write("i.csv", head + "init,I,385,7,,\n"), images, error));
    EXPECT_FALSE(LoadImageSource(dir.Write("z.csv", head + "code,C,300,7,2,\n"), images, error));
    EXPECT_FALSE(LoadImageSource(dir.Write("p.csv", head + "code,C,300,7,,295=ABCDEF\n"), images, error));
    EXPECT_FALSE(LoadImageSource(dir.Write("s.csv", head + "code,C,300,0,,\n"), images, error));
}

TEST(Calibration, CommandsAsTheDownloadReadsThem) {
    const auto cmds = CalibrationCommands(
        "; VKR pm comment without the command\r\n"
        "sendln 'VKR pm write_ee -a 64 -d 0400'\r\n"
        "wait 'RedBoot>'\n"
        "VKR pm write_ee -a 66 -d 03F8\n"
        "sendln 'VKR pm write_ee -a 68 -d 0001'");
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0], "VKR pm write_ee -a 64 -d 0400\n");
    // A line that ends with the command itself loses its last character.
    EXPECT_EQ(cmds[1], "VKR pm write_ee -a 66 -d 03F\n");
    EXPECT_EQ(cmds[2], "VKR pm write_ee -a 68 -d 0001\n");
}

TEST(Package, InversionKeepsTheFirst32Bytes) {
    std::string bytes;
    for (int i = 0; i < 40; ++i) bytes.push_back(static_cast<char>(i * 7));
    const std::string original = bytes;
    InvertPackage(bytes);
    EXPECT_EQ(bytes.substr(0, 32), original.substr(0, 32));
    for (int i = 32; i < 40; ++i)
        EXPECT_EQ(static_cast<unsigned char>(bytes[i]), static_cast<unsigned char>(~original[i]) & 0xFF);
    InvertPackage(bytes);
    EXPECT_EQ(bytes, original);
    std::string small(32, '\x5A');
    InvertPackage(small);
    EXPECT_EQ(small, std::string(32, '\x5A'));
}

TEST(Package, ZipLayoutAndCompression) {
    TempDir dir;
    dir.Write("src/VKR_MODEL.xls", std::string(3000, 'm'));
    dir.Write("src/code/app.bin", std::string(5000, '\x11'));
    dir.Write("src/code/old.ZIP", std::string(700, 'z'));
    fs::create_directories(dir.path / "src" / "data");
    const std::string zipPath = (dir.path / "out.zip").string();
    std::string error;
    ASSERT_TRUE(ZipFolder((dir.path / "src").string(), "ProgramFile", zipPath, error)) << error;

    unzFile uf = unzOpen64(zipPath.c_str());
    ASSERT_NE(uf, nullptr);
    std::vector<std::string> names;
    std::vector<int> methods;
    std::vector<std::string> contents;
    for (int rc = unzGoToFirstFile(uf); rc == UNZ_OK; rc = unzGoToNextFile(uf)) {
        char name[256];
        unz_file_info64 info;
        ASSERT_EQ(unzGetCurrentFileInfo64(uf, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
        names.push_back(name);
        methods.push_back(static_cast<int>(info.compression_method));
        std::string data(static_cast<size_t>(info.uncompressed_size), '\0');
        ASSERT_EQ(unzOpenCurrentFile(uf), UNZ_OK);
        if (!data.empty()) EXPECT_EQ(unzReadCurrentFile(uf, data.data(), static_cast<unsigned>(data.size())),
                                     static_cast<int>(data.size()));
        unzCloseCurrentFile(uf);
        contents.push_back(data);
    }
    unzClose(uf);
    EXPECT_EQ(names, (std::vector<std::string>{"ProgramFile/", "ProgramFile/VKR_MODEL.xls", "ProgramFile/code/",
                                               "ProgramFile/code/app.bin", "ProgramFile/code/old.ZIP",
                                               "ProgramFile/data/"}));
    ASSERT_EQ(methods.size(), 6u);
    EXPECT_EQ(methods[1], 8);  // deflated
    EXPECT_EQ(methods[3], 8);
    EXPECT_EQ(methods[4], 0);  // an archive inside is stored
    EXPECT_EQ(contents[3], std::string(5000, '\x11'));

    // Same input, same bytes: the package does not change with the build time.
    const std::string again = (dir.path / "again.zip").string();
    ASSERT_TRUE(ZipFolder((dir.path / "src").string(), "ProgramFile", again, error));
    std::string a, b;
    ASSERT_TRUE(ReadFileBytes(zipPath, a, error) && ReadFileBytes(again, b, error));
    EXPECT_EQ(a, b);
    EXPECT_FALSE(ZipFolder((dir.path / "missing").string(), "ProgramFile", again, error));
}

TEST(Package, ModelsMustFindTheirFiles) {
    TempDir dir;
    std::string error;
    std::vector<ModelRow> models;
    std::vector<ImageSpec> images;
    const std::string modelHead = "series,part_number,power,data,calibration,code,init\n";
    const std::string imageHead = "folder,name,size,seed,zero_blocks,patches\n";
    ASSERT_TRUE(LoadModelSource(dir.Write("m.csv", modelHead + "TV380,38000075,0.75kW,D1,CAL,C1,I1\n"), models, error))
        << error;
    dir.Write("cal/CAL.TTL", "sendln 'VKR pm write_ee -a 64 -d 0400'\n");
    const std::string staging = (dir.path / "staging").string();

    ASSERT_TRUE(LoadImageSource(dir.Write("i.csv", imageHead + "data,D1,1024,5,,25=38000075\ncode,C1,9000,6,1,\n"
                                                               "init,I1,300,7,,\n"),
                                images, error));
    ASSERT_TRUE(BuildProgramFolder(models, images, (dir.path / "cal").string(), staging, error)) << error;
    EXPECT_TRUE(fs::exists(fs::path(staging) / "VKR_MODEL.xls"));
    EXPECT_EQ(fs::file_size(fs::path(staging) / "code" / "C1.bin"), 9000u);

    // The data image must report the model's part number at EE address 153.
    ASSERT_TRUE(LoadImageSource(dir.Write("i2.csv", imageHead + "data,D1,1024,5,,25=38000076\ncode,C1,9000,6,,\n"
                                                                "init,I1,300,7,,\n"),
                                images, error));
    EXPECT_FALSE(BuildProgramFolder(models, images, (dir.path / "cal").string(), staging, error));
    EXPECT_NE(error.find("part number"), std::string::npos) << error;

    ASSERT_TRUE(LoadImageSource(dir.Write("i3.csv", imageHead + "data,D1,1024,5,,25=38000075\ninit,I1,300,7,,\n"),
                                images, error));
    EXPECT_FALSE(BuildProgramFolder(models, images, (dir.path / "cal").string(), staging, error));
    EXPECT_NE(error.find("no code image"), std::string::npos) << error;

    // A calibration command must fit the 30 characters of its table entry.
    ASSERT_TRUE(LoadImageSource(dir.Write("i4.csv", imageHead + "data,D1,1024,5,,25=38000075\ncode,C1,9000,6,,\n"
                                                                "init,I1,300,7,,\n"),
                                images, error));
    dir.Write("cal/CAL.TTL", "sendln 'VKR pm write_ee -a 0x600 -d 0065'\n");
    EXPECT_FALSE(BuildProgramFolder(models, images, (dir.path / "cal").string(), staging, error));
    EXPECT_NE(error.find("30 characters"), std::string::npos) << error;

    EXPECT_FALSE(LoadModelSource(dir.Write("s.csv", modelHead + "TV380XL,1,1kW,D,C,C,I\n"), models, error));
    EXPECT_FALSE(LoadModelSource(dir.Write("p.csv", modelHead + "TV380,123456789,1kW,D,C,C,I\n"), models, error));
    EXPECT_FALSE(LoadModelSource(dir.Write("f.csv", modelHead + "TV380,1,1kW,../D,C,C,I\n"), models, error));
}

TEST(Diagram, ScriptAndBitmap) {
    Canvas cv;
    std::string error;
    ASSERT_TRUE(RenderDiagram("fill white\nbox 10 10 20 20 red\narrow 0 50 100 50 black\n"
                              "text 5 100 2 navy \"PID 1.5%\"\n",
                              "d", cv, error))
        << error;
    ASSERT_EQ(cv.pixels.size(), 800u * 600u);
    EXPECT_EQ(cv.pixels[15 * 800 + 15], 5);  // red
    EXPECT_EQ(cv.pixels[50 * 800 + 50], 1);  // black
    EXPECT_EQ(cv.pixels[0], 0);
    const std::string bmp = EncodeBmp(cv);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(bmp.size(), 14u + 40u + 1024u + 800u * 600u);
    EXPECT_EQ(static_cast<unsigned char>(bmp[28]), 8);  // bits per pixel
    // Bottom-up rows: the box near the top lies near the end of the file.
    EXPECT_EQ(bmp[1078 + (599 - 15) * 800 + 15], 5);

    EXPECT_FALSE(RenderDiagram("text 0 0 1 black \"ü\"\n", "d", cv, error));
    EXPECT_FALSE(RenderDiagram("arrow 0 0 10 10 black\n", "d", cv, error));
    EXPECT_FALSE(RenderDiagram("rect 0 0 10 black\n", "d", cv, error));
    EXPECT_FALSE(RenderDiagram("box 0 0 10 10 purple\n", "d", cv, error));
    EXPECT_FALSE(RenderDiagram("\"alone\"\n", "d", cv, error));
}
