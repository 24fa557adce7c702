// Parameter tables loaded from small workbooks written for each test.
#include "ParamTable.h"
#include "test_catalogue_helpers.h"

#include <clocale>
#include <cstdlib>
#include <cstdio>
#include <cmath>
#include <random>

using namespace cattest;

namespace {

// One parameter row, columns A to O.
std::vector<Cell> ParamRow(int row, const std::wstring& address, const std::wstring& pnu, const std::wstring& name,
                           const std::wstring& unit, const std::wstring& exponent, const std::wstring& def,
                           const std::wstring& min, const std::wstring& max)
{
    return {
        {row, 0, address}, {row, 1, pnu},  {row, 2, name}, {row, 3, std::wstring(L"rw")}, {row, 4, unit},
        {row, 5, true},    {row, 6, exponent}, {row, 7, false}, {row, 8, std::wstring(L"2.9")},
        {row, 9, false},   {row, 10, def}, {row, 11, false}, {row, 12, min}, {row, 13, true}, {row, 14, max},
    };
}

void Append(std::vector<Cell>& to, const std::vector<Cell>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

std::vector<Cell> Head(const std::wstring& deviceType)
{
    return {{0, 0, std::wstring(L"Address")}, {0, 1, std::wstring(L"PNU")}, {0, 2, std::wstring(L"Name")},
            {1, 2, deviceType}};
}

// The sheet most tests use: two groups with subgroups, an M-data group and
// rows the loader must skip or never reach.
std::vector<Cell> TypicalSheet(const std::wstring& deviceType)
{
    std::vector<Cell> c = Head(deviceType);
    Append(c, {{2, 1, std::wstring(L"01***")}, {2, 2, std::wstring(L"Basic,基本")}});
    Append(c, {{3, 1, std::wstring(L"1.1*")}, {3, 2, std::wstring(L"Motor,电机")}});
    Append(c, ParamRow(4, L"1001", L"01.00", L"Rated speed,额定转速", L"rpm", L"0", L"1450", L"0", L"3000"));
    Append(c, ParamRow(5, L"1002", L"01.01", L"Run mode,运行方式", L"", L"0", L"0", L"0", L"1"));
    // No address: skipped without a record.
    Append(c, {{6, 1, std::wstring(L"01.02")}, {6, 2, std::wstring(L"Ghost")}});
    Append(c, {{7, 1, std::wstring(L"1.2*")}, {7, 2, std::wstring(L"Ramp,加减速")}});
    Append(c, ParamRow(8, L"1010", L"01.10", L"Accel,加速", L"s", L"-1", L"10.0", L"-100", L"3600.0"));
    Append(c, {{9, 1, std::wstring(L"02***")}, {9, 2, std::wstring(L"Protection,保护")}});
    Append(c, ParamRow(10, L"2001", L"02.00", L"Limit", L"A", L"-2", L"12.5", L"0", L"99.99"));
    Append(c, {{11, 1, std::wstring(L"08***")}, {11, 2, std::wstring(L"Monitor,监控")}});
    Append(c, ParamRow(12, L"8001", L"08.00", L"Output,输出", L"Hz", L"-3", L"0", L"-1", L"1"));
    // The end of the scan; the row after it is never read.
    Append(c, ParamRow(14, L"9001", L"09.00", L"Late", L"", L"0", L"0", L"0", L"1"));
    return c;
}

std::vector<Cell> OptionSheet()
{
    return {
        {0, 0, std::wstring(L"Code")},
        {1, 0, std::wstring(L"7")}, {1, 1, std::wstring(L"Before any list")},
        {2, 0, std::wstring(L"0")}, {2, 1, std::wstring(L"Stop,停止")}, {2, 2, std::wstring(L"01.01")},
        {3, 0, std::wstring(L"1")}, {3, 1, std::wstring(L"Run,运行")},
        {4, 0, std::wstring(L"0")}, {4, 1, std::wstring(L"Off")}, {4, 2, std::wstring(L"02.00")},
        {5, 0, std::wstring(L"2")}, {5, 1, std::wstring(L"On")},
        {6, 0, std::wstring(L"1")}, {6, 1, std::wstring(L"Half")},
        // A second list under the same PNU replaces the first.
        {7, 0, std::wstring(L"5")}, {7, 1, std::wstring(L"Five")}, {7, 2, std::wstring(L"02.00")},
        {8, 0, std::wstring(L"6")}, {8, 1, std::wstring(L"Six")},
        // End of the lists.
        {10, 0, std::wstring(L"9")}, {10, 1, std::wstring(L"Never")}, {10, 2, std::wstring(L"01.10")},
    };
}

bool WriteTypical(const TempDir& dir, const std::string& name = "TV380.xls")
{
    return WriteBook(dir.file(name), {{L"Param", TypicalSheet(L"TV380")}, {L"Option", OptionSheet()}});
}

}  // namespace

TEST(ParamTableLoad, GroupsSubgroupsAndRecords)
{
    TempDir dir;
    ASSERT_TRUE(WriteTypical(dir));
    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("TV380.xls"))) << t.lastError();

    EXPECT_EQ(t.deviceType, L"TV380");
    EXPECT_EQ(t.fileBaseName, L"TV380");
    ASSERT_EQ(t.groupCount(), 3);
    EXPECT_EQ(t.groups[0].number, 1);
    EXPECT_EQ(t.groups[0].code, L"01");
    EXPECT_EQ(t.groups[0].name, L"Basic,基本");
    ASSERT_EQ(t.groups[0].subgroupCount(), 2);
    EXPECT_EQ(t.groups[0].subgroups[0].number, 11);
    EXPECT_EQ(t.groups[0].subgroups[0].code, L"1.1");
    EXPECT_EQ(t.groups[0].subgroups[1].number, 12);
    EXPECT_EQ(t.groups[0].subgroups[1].name, L"Ramp,加减速");
    EXPECT_EQ(t.groups[1].number, 2);
    EXPECT_EQ(t.groups[1].subgroupCount(), 0);
    EXPECT_EQ(t.groups[2].number, 8);

    ASSERT_EQ(t.paramCount(), 5);
    const ParamRecord& speed = t.params[0];
    EXPECT_EQ(speed.index, 0);
    EXPECT_EQ(speed.address, 1001);
    EXPECT_EQ(speed.groupNumber, 11);
    EXPECT_EQ(speed.groupCode, L"1.1");
    EXPECT_EQ(speed.pnu, L"01.00");
    EXPECT_EQ(speed.name, L"Rated speed,额定转速");
    EXPECT_EQ(speed.reservedText, L"rw");
    EXPECT_EQ(speed.unit, L"rpm");
    EXPECT_TRUE(speed.reservedFlagF);
    EXPECT_FALSE(speed.reservedFlagH);
    EXPECT_EQ(speed.reservedNumber, 2);
    EXPECT_FALSE(speed.noDefault);
    EXPECT_DOUBLE_EQ(speed.defaultValue, 1450);
    EXPECT_DOUBLE_EQ(speed.maxValue, 3000);
    EXPECT_TRUE(speed.noMax);
    EXPECT_EQ(speed.selected, 0);
    EXPECT_EQ(speed.value, 0.0);

    const ParamRecord& accel = t.params[2];
    EXPECT_EQ(accel.index, 2);
    EXPECT_EQ(accel.pnu, L"01.10");  // the row without an address left no gap
    EXPECT_EQ(accel.groupNumber, 12);
    EXPECT_EQ(accel.exponent, -1);
    EXPECT_DOUBLE_EQ(accel.minValue, -100);
    EXPECT_DOUBLE_EQ(accel.defaultValue, 10.0);
    EXPECT_EQ(t.params[3].groupNumber, 2);
    EXPECT_EQ(t.params[3].groupCode, L"02");
    EXPECT_EQ(t.params[4].groupNumber, 8);
    EXPECT_EQ(t.params[4].exponent, -3);

    EXPECT_EQ(t.RecordByIndex(4), &t.params[4]);
    EXPECT_EQ(t.RecordByIndex(5), nullptr);
    EXPECT_EQ(t.RecordByIndex(-1), nullptr);
}

TEST(ParamTableLoad, OptionListsFromTheSecondSheet)
{
    TempDir dir;
    ASSERT_TRUE(WriteTypical(dir));
    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("TV380.xls")));

    ASSERT_EQ(t.optionCodes.size(), 2u);
    EXPECT_EQ(*t.OptionCodesOf(L"01.01"), (std::vector<std::wstring>{L"0", L"1"}));
    EXPECT_EQ(t.OptionTextsOf(L"01.01")->at(L"1"), L"Run,运行");
    // Replaced by the later list of the same PNU.
    EXPECT_EQ(*t.OptionCodesOf(L"02.00"), (std::vector<std::wstring>{L"5", L"6"}));
    EXPECT_EQ(t.OptionTextsOf(L"02.00")->count(L"2"), 0u);
    EXPECT_FALSE(t.HasOptions(L"01.10"));  // after the end of the lists
    EXPECT_EQ(t.OptionTextsOf(L"7"), nullptr);

    EXPECT_EQ(t.OptionChoices(L"01.01", 0), (std::vector<std::wstring>{L"0,Stop", L"1,Run"}));
    EXPECT_EQ(t.OptionChoices(L"01.01", 1), (std::vector<std::wstring>{L"0,停止", L"1,运行"}));
    EXPECT_TRUE(t.OptionChoices(L"01.00", 0).empty());
}

TEST(ParamTableLoad, ValueTextsOfCodedAndPlainRecords)
{
    TempDir dir;
    ASSERT_TRUE(WriteTypical(dir));
    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("TV380.xls")));

    ParamRecord& mode = t.params[1];
    mode.value = 1;
    EXPECT_EQ(t.ValueText(mode, 0), L"1,Run");
    EXPECT_EQ(t.ValueText(mode, 1), L"1,运行");
    EXPECT_EQ(t.ValueText(mode, 1.9, 0), L"1,Run");     // truncated, not rounded
    EXPECT_EQ(t.ValueText(mode, -0.5, 0), L"0,Stop");
    EXPECT_EQ(t.ValueText(mode, 4, 0), L"4,");         // code not in the list

    ParamRecord& accel = t.params[2];
    accel.value = 12.34;
    EXPECT_EQ(t.ValueText(accel, 0), L"12.3");
    t.params[3].value = 12.5;
    EXPECT_EQ(t.ValueText(t.params[3], 0), L"12,");     // 02.00 is option-coded: 12 is not listed
    t.params[3].value = 6;
    EXPECT_EQ(t.ValueText(t.params[3], 1), L"6,Six");   // one variant only: the same in both languages
    t.params[4].value = -0.25;
    EXPECT_EQ(t.ValueText(t.params[4], 0), L"-0.250");

    // A text map without its code list shows "-".
    t.optionCodes.erase(L"01.01");
    EXPECT_EQ(t.ValueText(mode, 0), L"-");
}

TEST(ParamTableFormat, EveryExponentAsTheCRuntimePrintsIt)
{
    EXPECT_EQ(FormatByExponent(1.23456, 0), L"1");
    EXPECT_EQ(FormatByExponent(1.23456, -1), L"1.2");
    EXPECT_EQ(FormatByExponent(1.23456, -2), L"1.23");
    EXPECT_EQ(FormatByExponent(1.23456, -3), L"1.235");
    EXPECT_EQ(FormatByExponent(1.23456, 1), L"1.235");
    EXPECT_EQ(FormatByExponent(1.23456, -4), L"1.235");
    EXPECT_EQ(FormatByExponent(-6552.6, -1), L"-6552.6");
    EXPECT_EQ(FormatByExponent(65535, 0), L"65535");

    // Where "%.Nf" and the register conversion part (a tie, or a value just
    // below one that the scaling lifts onto it), the text shows what the
    // register receives: round(value x 10^N), halves away from zero.
    EXPECT_EQ(FormatByExponent(0.5, 0), L"1");
    EXPECT_EQ(FormatByExponent(2.5, 0), L"3");
    EXPECT_EQ(FormatByExponent(-0.5, 0), L"-1");
    EXPECT_EQ(FormatByExponent(0.125, -2), L"0.13");
    EXPECT_EQ(FormatByExponent(35.555, -2), L"35.56");
    EXPECT_EQ(FormatByExponent(1.005, -2), L"1.00");
    EXPECT_EQ(FormatByExponent(-0.0, -1), L"0.0");

    // Elsewhere the same digits as "%.Nf" in the C locale.
    std::mt19937 rng(380);
    std::uniform_real_distribution<double> dist(-70000.0, 70000.0);
    std::vector<double> values = {0.05, 1e-9, 65535.25};
    for (int i = 0; i < 2000; ++i) values.push_back(dist(rng));
    for (int i = 0; i < 200; ++i) values.push_back(std::round(dist(rng)) / 1000.0);
    const int exps[] = {0, -1, -2, -3};
    const char* fmts[] = {"%.0f", "%.1f", "%.2f", "%.3f"};
    for (double v : values) {
        for (int e = 0; e < 4; ++e) {
            const double scaled = v * std::pow(10.0, e);
            if (std::fabs(scaled - std::floor(scaled) - 0.5) < 1e-6) continue;  // near a tie
            char buf[64];
            std::snprintf(buf, sizeof buf, fmts[e], v);
            ASSERT_EQ(wtext::ToUtf8(FormatByExponent(v, exps[e])), buf) << v << " " << fmts[e];
        }
    }
}

TEST(ParamTableFormat, IndependentOfTheProcessLocale)
{
    // The GUI toolkit adopts the user's locale; a decimal comma must change
    // neither the texts nor the reading of numbers. A numeric-only locale with
    // a decimal comma is compiled into the test's folder.
    TempDir dir;
    WriteText(dir.file("comma.src"),
              "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
              "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\ngrouping 3;3\nEND LC_NUMERIC\n");
    const std::string cmd = "localedef -c -i '" + dir.file("comma.src") + "' -f ANSI_X3.4-1968 '" +
                            dir.file("xx_COMMA") + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && !fs::exists(dir.file("xx_COMMA/LC_NUMERIC")))
        GTEST_SKIP() << "localedef could not build a test locale";
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    if (!std::setlocale(LC_NUMERIC, "xx_COMMA")) GTEST_SKIP() << "test locale not accepted";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 3.25);
    EXPECT_STREQ(probe, "3,25");  // the locale is in force

    EXPECT_EQ(FormatByExponent(3.25, -2), L"3.25");
    EXPECT_DOUBLE_EQ(wtext::ParseReal(L"3.25"), 3.25);
    std::vector<Cell> c = Head(L"Loc");
    Append(c, {{2, 1, std::wstring(L"01***")}});
    Append(c, ParamRow(3, L"1", L"01.00", L"x", L"", L"-2", L"10.5", L"-0.25", L"99.75"));
    ASSERT_TRUE(WriteBook(dir.file("Loc.xls"), {{L"P", c}}));
    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("Loc.xls")));
    EXPECT_DOUBLE_EQ(t.params[0].defaultValue, 10.5);
    EXPECT_DOUBLE_EQ(t.params[0].minValue, -0.25);
    t.params[0].value = 99.75;
    EXPECT_EQ(t.ValueText(t.params[0], 0), L"99.75");

    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
}

TEST(ParamTableLoad, RefusesAWorkbookNamingAnotherType)
{
    TempDir dir;
    ASSERT_TRUE(WriteTypical(dir));
    ASSERT_TRUE(WriteBook(dir.file("TV500.xls"), {{L"Param", TypicalSheet(L"TV380")}}));
    ASSERT_TRUE(WriteBook(dir.file("tv380.xls"), {{L"Param", TypicalSheet(L"TV380")}}));
    ASSERT_TRUE(WriteBook(dir.file("Blank.xls"), {{L"Param", TypicalSheet(L"")}}));
    WriteText(dir.file("Junk.xls"), "this is not a workbook at all");

    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("TV380.xls")));
    t.params[0].value = 42;
    t.params[0].selected = 1;

    for (const char* refused : {"TV500.xls", "tv380.xls", "Blank.xls", "Junk.xls", "Missing.xls"}) {
        SCOPED_TRACE(refused);
        EXPECT_FALSE(t.Load(dir.wfile(refused)));
        EXPECT_FALSE(t.lastError().empty());
        // The loaded table, its identity included, stays as it was.
        EXPECT_EQ(t.fileBaseName, L"TV380");
        EXPECT_EQ(t.deviceType, L"TV380");
        EXPECT_EQ(t.loadedPath(), dir.wfile("TV380.xls"));
        ASSERT_EQ(t.paramCount(), 5);
        EXPECT_EQ(t.params[0].value, 42);
        EXPECT_EQ(t.params[0].selected, 1);
    }
}

TEST(ParamTableLoad, HeaderCodesDropFixedCharacters)
{
    TempDir dir;
    std::vector<Cell> c = Head(L"H");
    Append(c, {{2, 1, std::wstring(L"08**")}, {2, 2, std::wstring(L"Short")}});
    Append(c, {{3, 1, std::wstring(L"08***")}, {3, 2, std::wstring(L"Long")}});
    Append(c, {{4, 1, std::wstring(L"8.1*")}, {4, 2, std::wstring(L"Sub")}});
    Append(c, ParamRow(5, L"1", L"08.10", L"x", L"", L"0", L"0", L"0", L"1"));
    Append(c, {{6, 1, std::wstring(L"8*")}, {6, 2, std::wstring(L"One character")}});
    Append(c, {{7, 1, std::wstring(L"**")}, {7, 2, std::wstring(L"Nothing left")}});
    ASSERT_TRUE(WriteBook(dir.file("H.xls"), {{L"P", c}}));

    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("H.xls")));
    ASSERT_EQ(t.groupCount(), 3);
    EXPECT_EQ(t.groups[0].code, L"0");
    EXPECT_EQ(t.groups[0].number, 0);
    EXPECT_EQ(t.groups[1].code, L"08");
    EXPECT_EQ(t.groups[1].number, 8);
    ASSERT_EQ(t.groups[1].subgroupCount(), 2);
    EXPECT_EQ(t.groups[1].subgroups[0].code, L"8.1");
    EXPECT_EQ(t.groups[1].subgroups[0].number, 81);
    EXPECT_EQ(t.groups[1].subgroups[1].code, L"8");
    EXPECT_EQ(t.groups[1].subgroups[1].number, 8);
    EXPECT_EQ(t.groups[2].code, L"");
    EXPECT_EQ(t.groups[2].number, 0);
    ASSERT_EQ(t.paramCount(), 1);
    EXPECT_EQ(t.params[0].groupNumber, 81);
    EXPECT_EQ(t.params[0].groupCode, L"8.1");
}

TEST(ParamTableLoad, EmptyFirstColumnBGivesAnEmptyTable)
{
    TempDir dir;
    std::vector<Cell> c = Head(L"E");
    Append(c, ParamRow(2, L"1", L"", L"no pnu", L"", L"0", L"0", L"0", L"1"));
    Append(c, {{3, 1, std::wstring(L"01***")}, {3, 2, std::wstring(L"Unreached")}});
    Append(c, ParamRow(4, L"2", L"01.00", L"x", L"", L"0", L"0", L"0", L"1"));
    ASSERT_TRUE(WriteBook(dir.file("E.xls"), {{L"P", c}}));
    ASSERT_TRUE(WriteTypical(dir));

    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("TV380.xls")));
    ASSERT_TRUE(t.Load(dir.wfile("E.xls")));
    EXPECT_EQ(t.deviceType, L"E");
    EXPECT_EQ(t.groupCount(), 0);
    EXPECT_EQ(t.paramCount(), 0);
    EXPECT_TRUE(t.optionTexts.empty());  // no sheet 1: no option lists, and nothing of the old table
    EXPECT_TRUE(t.optionCodes.empty());
}

TEST(ParamTableLoad, CapacitiesAndRowsAboveTheFirstHeader)
{
    TempDir dir;
    std::vector<Cell> c = Head(L"Cap");
    int row = 2;
    Append(c, ParamRow(row++, L"5", L"00.00", L"Orphan", L"", L"0", L"0", L"0", L"1"));
    for (int g = 1; g <= 17; ++g) {
        Append(c, {{row++, 1, std::to_wstring(g) + L"***"}, {row - 1, 2, L"G" + std::to_wstring(g)}});
        if (g == 1) {
            for (int s = 0; s < 9; ++s)
                Append(c, {{row++, 1, L"1." + std::to_wstring(s) + L"*"}, {row - 1, 2, std::wstring(L"S")}});
        }
    }
    Append(c, ParamRow(row++, L"1700", L"17.00", L"In the 17th group", L"", L"0", L"0", L"0", L"1"));
    ASSERT_TRUE(WriteBook(dir.file("Cap.xls"), {{L"P", c}}));

    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("Cap.xls")));
    EXPECT_EQ(t.groupCount(), ParamTable::kMaxGroups);
    EXPECT_EQ(t.groups[0].subgroupCount(), ParamTable::kMaxSubgroups);
    EXPECT_EQ(t.groups.back().number, 16);
    ASSERT_EQ(t.paramCount(), 2);
    EXPECT_EQ(t.params[0].groupNumber, -1);
    EXPECT_EQ(t.params[0].groupCode, L"");
    EXPECT_EQ(t.params[1].groupNumber, 17);
}

TEST(ParamTableLoad, NumberCellsInNumericColumnsAndBackslashPaths)
{
    TempDir dir;
    std::vector<Cell> c = Head(L"Num");
    Append(c, {{2, 1, std::wstring(L"01***")}, {2, 2, std::wstring(L"G")}});
    Append(c, {{3, 0, std::wstring(L"  77")}, {3, 1, std::wstring(L"01.00")}, {3, 6, -2.0}, {3, 8, 3.7},
               {3, 10, 1.5}, {3, 12, std::wstring(L"-1e2")}, {3, 14, std::wstring(L"12.5 V")}});
    // A number cell in column A is no address text: the row is skipped.
    Append(c, {{4, 0, 78.0}, {4, 1, std::wstring(L"01.01")}});
    // The file name contains a backslash: the base name starts after it.
    ASSERT_TRUE(WriteBook(dir.file("dir\\Num.xls"), {{L"P", c}}));

    ParamTable t;
    ASSERT_TRUE(t.Load(dir.wfile("dir\\Num.xls"))) << t.lastError();
    EXPECT_EQ(t.fileBaseName, L"Num");
    ASSERT_EQ(t.paramCount(), 1);
    EXPECT_EQ(t.params[0].address, 77);
    EXPECT_EQ(t.params[0].exponent, -2);
    EXPECT_EQ(t.params[0].reservedNumber, 3);
    EXPECT_DOUBLE_EQ(t.params[0].defaultValue, 1.5);
    EXPECT_DOUBLE_EQ(t.params[0].minValue, -100);
    EXPECT_DOUBLE_EQ(t.params[0].maxValue, 12.5);

    EXPECT_EQ(wtext::FileBaseName(L"C:\\VKR\\Parameter\\TV380.xls"), L"TV380");
    EXPECT_EQ(wtext::FileBaseName(L"/opt/a.b/TV380.v2.xls"), L"TV380.v2");
    EXPECT_EQ(wtext::FileBaseName(L"/opt/a.b/TV380"), L"TV380");
}

TEST(ParamTableSelection, WorkbookPathsFromTheSettingFile)
{
    TempDir dir;
    EXPECT_EQ(ConfiguredDeviceType(dir.folder()), L"");
    WriteText(dir.file("Language/setting.ini"), "[Setting]\r\nLanguage=English\r\nDevice=TV380\r\n");
    EXPECT_EQ(ConfiguredDeviceType(dir.folder()), L"TV380");
    EXPECT_EQ(ParameterWorkbookPath(dir.folder(), L"TV380"), dir.folder() + L"Parameter/TV380.xls");
    EXPECT_EQ(FunctionListPath(dir.folder()), dir.folder() + L"Function/function.xls");
    EXPECT_EQ(ParamLoadFailedMessage(L"/x/P.xls"), L"Device parameter file failed to load:/x/P.xls");
}

TEST(ParamTableInstance, OneTableForTheProcess)
{
    EXPECT_EQ(&TheParamTable(), &TheParamTable());
}
