// The device tree's content, what its items open, and the commands that
// change the device type or the language.
#include "DeviceCatalogue.h"
#include "LanguageTables.h"
#include "PrivateProfile.h"
#include "test_catalogue_helpers.h"

#include <algorithm>

using namespace cattest;

namespace {

ParamTable SampleTable(bool withMData)
{
    ParamTable t;
    t.deviceType = L"TV380";
    t.fileBaseName = L"TV380";
    ParamGroup g1{1, L"01", L"Basic,基本", {{11, L"1.1", L"Motor,电机"}, {12, L"1.2", L"Ramp"}}};
    ParamGroup g2{2, L"02", L"Protection,保护", {}};
    ParamGroup g8{8, L"08", L"Monitor,监控", {{81, L"8.1", L"Output,输出"}}};
    ParamGroup g9{9, L"09", L"Fault,故障", {}};
    t.groups = withMData ? std::vector<ParamGroup>{g1, g8, g2, g9} : std::vector<ParamGroup>{g1, g2};
    return t;
}

const TreeItem* Find(const std::vector<TreeItem>& items, int number)
{
    const auto it = std::find_if(items.begin(), items.end(), [number](const TreeItem& i) { return i.number == number; });
    return it == items.end() ? nullptr : &*it;
}

std::vector<int> ChildrenOf(const std::vector<TreeItem>& items, int number)
{
    std::vector<int> out;
    for (const TreeItem& i : items)
        if (i.parent >= 0 && items[static_cast<size_t>(i.parent)].number == number) out.push_back(i.number);
    return out;
}

// A program folder with the language files and two parameter workbooks.
void WriteProgramFolder(const TempDir& dir)
{
    WriteText(dir.file("Language/setting.ini"), "[Setting]\nLanguage=English\nDevice=TV380\n");
    for (const char* type : {"TV380", "TV500"}) {
        const std::wstring w = wtext::FromUtf8(type);
        ASSERT_TRUE(WriteBook(dir.file(std::string("Parameter/") + type + ".xls"),
                              {{L"P",
                                {{1, 2, w},
                                 {2, 1, std::wstring(L"01***")},
                                 {2, 2, std::wstring(L"Basic,基本")},
                                 {3, 0, std::wstring(L"1")},
                                 {3, 1, std::wstring(L"01.00")},
                                 {3, 2, w + L" speed"}}}}));
    }
}

}  // namespace

TEST(DeviceTree, FixedEntriesAndGroupsInEnglish)
{
    const ParamTable t = SampleTable(true);
    const std::vector<TreeItem> items = BuildDeviceTree(t, 0);

    // Parents always precede their children, and the fixed part comes first.
    const std::vector<int> firstNumbers = {DT_ROOT,         DT_DEVICE_ROOT, DT_PARAMETER_ROOT, DT_MD_ROOT,
                                           DT_MONITOR_ROOT, DT_MONITOR_RT,  DT_MONITOR_HIS,    DT_PROGRAM_ROOT};
    ASSERT_GE(items.size(), firstNumbers.size());
    for (size_t i = 0; i < firstNumbers.size(); ++i) EXPECT_EQ(items[i].number, firstNumbers[i]) << i;
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_LT(items[i].parent, static_cast<int>(i));
        if (items[i].parent >= 0) {
            EXPECT_EQ(items[i].parentNumber, items[static_cast<size_t>(items[i].parent)].number);
        }
    }

    EXPECT_EQ(items[0].text, L"DEVICE");
    EXPECT_EQ(items[0].parent, -1);
    EXPECT_TRUE(items[0].bold);
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const TreeItem& i) { return i.bold; }), 1);
    EXPECT_EQ(Find(items, DT_DEVICE_ROOT)->text, L"TV380");
    EXPECT_EQ(Find(items, DT_MONITOR_RT)->text, L"Online");
    EXPECT_EQ(Find(items, DT_PROGRAM_ROOT)->text, L"PROGRAM");
    EXPECT_EQ(Find(items, DT_FUNCTION_ROOT), nullptr);
    EXPECT_EQ(Find(items, DT_MONITOR_GZ), nullptr);
    for (int n : {DT_ROOT, DT_DEVICE_ROOT, DT_MONITOR_ROOT, DT_PARAMETER_ROOT, DT_MD_ROOT})
        EXPECT_TRUE(Find(items, n)->expanded) << n;
    for (int n : {static_cast<int>(DT_PROGRAM_ROOT), static_cast<int>(DT_MONITOR_RT), 10001}) EXPECT_FALSE(Find(items, n)->expanded) << n;

    EXPECT_EQ(ChildrenOf(items, DT_DEVICE_ROOT),
              (std::vector<int>{DT_PARAMETER_ROOT, DT_MD_ROOT, DT_MONITOR_ROOT, DT_PROGRAM_ROOT}));
    EXPECT_EQ(ChildrenOf(items, DT_MONITOR_ROOT), (std::vector<int>{DT_MONITOR_RT, DT_MONITOR_HIS}));
    EXPECT_EQ(ChildrenOf(items, DT_PARAMETER_ROOT), (std::vector<int>{10001, 10002}));
    EXPECT_EQ(ChildrenOf(items, 10001), (std::vector<int>{20011, 20012}));
    // Groups 8 and 9 only under the M-data root.
    EXPECT_EQ(ChildrenOf(items, DT_MD_ROOT), (std::vector<int>{60008, 60009}));
    EXPECT_EQ(ChildrenOf(items, 60008), (std::vector<int>{70081}));
    EXPECT_EQ(Find(items, 10008), nullptr);
    EXPECT_EQ(Find(items, 10001)->text, L"G01 Basic");
    EXPECT_EQ(Find(items, 20012)->text, L"G1.2 Ramp");
    EXPECT_EQ(Find(items, 70081)->text, L"G8.1 Output");
}

TEST(DeviceTree, ChineseCaptionsAndATableWithoutMData)
{
    const ParamTable t = SampleTable(false);
    const std::vector<TreeItem> items = BuildDeviceTree(t, 1);
    EXPECT_EQ(items[0].text, L"设备");
    EXPECT_EQ(Find(items, DT_MD_ROOT)->text, L"监控数据");
    EXPECT_EQ(Find(items, DT_MONITOR_HIS)->text, L"离线监控");
    EXPECT_EQ(Find(items, 10001)->text, L"G01 基本");
    EXPECT_EQ(Find(items, 20012)->text, L"G1.2 Ramp");
    EXPECT_TRUE(ChildrenOf(items, DT_MD_ROOT).empty());

    const std::vector<TreeItem> empty = BuildDeviceTree(ParamTable(), 0);
    EXPECT_EQ(Find(empty, DT_DEVICE_ROOT)->text, L"device type");
    EXPECT_EQ(empty.size(), 8u);
}

TEST(DeviceTree, WhatEachItemOpens)
{
    struct Case {
        int number;
        int parent;
        ViewKind kind;
        int selection;
    };
    const Case cases[] = {
        {DT_PARAMETER_ROOT, DT_DEVICE_ROOT, ViewKind::Parameter, -1},
        {10001, DT_PARAMETER_ROOT, ViewKind::Parameter, 1},
        {10000, DT_PARAMETER_ROOT, ViewKind::Parameter, 0},
        {20012, 10001, ViewKind::Parameter, 12},
        {60008, DT_MD_ROOT, ViewKind::MData, 8},
        {70081, 60008, ViewKind::MData, 81},
        {DT_PROGRAM_ROOT, DT_DEVICE_ROOT, ViewKind::Download, 0},
        {DT_MONITOR_RT, DT_MONITOR_ROOT, ViewKind::RealTimeMonitor, 0},
        {DT_MONITOR_HIS, DT_MONITOR_ROOT, ViewKind::MonitorHistory, 0},
        {DT_MONITOR_GZ, DT_MONITOR_ROOT, ViewKind::None, 0},
        {DT_ROOT, 0, ViewKind::None, 0},
        {DT_DEVICE_ROOT, DT_ROOT, ViewKind::None, 0},
        {DT_MONITOR_ROOT, DT_DEVICE_ROOT, ViewKind::None, 0},
        {DT_MD_ROOT, DT_DEVICE_ROOT, ViewKind::None, 0},
        {DT_FUNCTION_ROOT, DT_DEVICE_ROOT, ViewKind::None, 0},
        {80000, DT_MD_ROOT, ViewKind::None, 0},
        {30000, DT_DEVICE_ROOT, ViewKind::None, 0},
    };
    for (const Case& c : cases) {
        const ViewChoice v = ChooseView(c.number, c.parent, L"x");
        EXPECT_EQ(v.kind, c.kind) << c.number;
        if (c.kind == ViewKind::Parameter || c.kind == ViewKind::MData) {
            EXPECT_EQ(v.selection, c.selection) << c.number;
        }
    }
    const ViewChoice f = ChooseView(12345, DT_FUNCTION_ROOT, L"PID");
    EXPECT_EQ(f.kind, ViewKind::Function);
    EXPECT_EQ(f.functionName, L"PID");
}

TEST(DeviceTree, FixedEntryCatalogue)
{
    ASSERT_EQ(FixedTreeEntries().size(), 10u);
    EXPECT_STREQ(FixedTreeEntries()[3].key, "DT_MD_ROOT");
    EXPECT_EQ(FixedEntryCaption(DT_FUNCTION_ROOT), L"FUN,功能调试");
    EXPECT_EQ(FixedEntryCaption(DT_MONITOR_GZ), L"Fault,故障分析");
    EXPECT_EQ(FixedEntryCaption(42), L"");
}

TEST(DeviceType, ChangeWritesTheTypeOnlyOnSuccess)
{
    TempDir dir;
    WriteProgramFolder(dir);
    WriteText(dir.file("Other/TV999.xls"), "not a workbook");
    const std::wstring setting = dir.wfile("Language/setting.ini");
    ParamTable t;
    std::wstring path;
    ASSERT_TRUE(LoadConfiguredParamTable(t, dir.folder(), path));
    EXPECT_EQ(path, dir.folder() + L"Parameter/TV380.xls");

    const std::string before = ReadText(dir.file("Language/setting.ini"));
    bool saved = true;
    EXPECT_FALSE(ChangeDeviceType(t, dir.wfile("Other/TV999.xls"), dir.folder(), &saved));
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadText(dir.file("Language/setting.ini")), before);
    EXPECT_EQ(t.deviceType, L"TV380");

    ASSERT_TRUE(ChangeDeviceType(t, dir.wfile("Parameter/TV500.xls"), dir.folder(), &saved));
    EXPECT_TRUE(saved);
    EXPECT_EQ(t.deviceType, L"TV500");
    EXPECT_EQ(t.params[0].name, L"TV500 speed");
    EXPECT_EQ(PrivateProfileGetString(L"Setting", L"Device", L"", setting), L"TV500");
    EXPECT_EQ(PrivateProfileGetString(L"Setting", L"Language", L"", setting), L"English");
    EXPECT_EQ(ConfiguredDeviceType(dir.folder()), L"TV500");
}

TEST(DeviceType, LanguageSwitchReloadsTheConfiguredTable)
{
    TempDir dir;
    WriteProgramFolder(dir);
    LanguageTables lt(dir.folder());
    lt.Start();
    ParamTable t;
    std::wstring path;
    ASSERT_TRUE(LoadConfiguredParamTable(t, dir.folder(), path));
    t.params[0].value = 5;

    EXPECT_EQ(SwitchLanguage(lt, t, L"English").outcome, LanguageSwitch::Unchanged);
    EXPECT_EQ(t.params[0].value, 5);

    const LanguageSwitchResult r = SwitchLanguage(lt, t, L"Chinese");
    EXPECT_EQ(r.outcome, LanguageSwitch::Reloaded);
    EXPECT_EQ(t.params[0].value, 5);  // the same type: the record keeps its value
    EXPECT_EQ(BuildDeviceTree(t, lt)[0].text, L"设备");
    EXPECT_EQ(Find(BuildDeviceTree(t, lt), 10001)->text, L"G01 基本");

    // The configured type's workbook has gone: the language still changes,
    // the table and tree stay.
    fs::remove(dir.file("Parameter/TV380.xls"));
    const LanguageSwitchResult failed = SwitchLanguage(lt, t, L"English");
    EXPECT_EQ(failed.outcome, LanguageSwitch::TableFailed);
    EXPECT_EQ(failed.tablePath, dir.folder() + L"Parameter/TV380.xls");
    EXPECT_EQ(lt.current(), L"English");
    EXPECT_EQ(t.deviceType, L"TV380");
    EXPECT_EQ(t.paramCount(), 1);
}
