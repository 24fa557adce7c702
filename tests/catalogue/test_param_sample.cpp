// The sample data set the build places in the program folder: its parameter
// workbook and language files must load through the catalogue as the program
// will load them.
#include "DeviceCatalogue.h"
#include "LanguageTables.h"
#include "ParamSearch.h"
#include "test_catalogue_helpers.h"

#include <set>

using namespace cattest;

#ifndef TORVANE_SAMPLE_PROGRAM_DIR
#define TORVANE_SAMPLE_PROGRAM_DIR ""
#endif

namespace {

std::string SampleDir()
{
    return TORVANE_SAMPLE_PROGRAM_DIR;
}

}  // namespace

TEST(SampleData, ParameterWorkbookLoads)
{
    const std::string book = SampleDir() + "Parameter/TV380.xls";
    if (SampleDir().empty() || !fs::exists(book)) GTEST_SKIP() << "sample data set not built (" << book << ")";

    ParamTable t;
    ASSERT_TRUE(t.Load(wtext::FromUtf8(book))) << t.lastError();
    EXPECT_EQ(t.deviceType, L"TV380");
    ASSERT_GT(t.groupCount(), 0);
    ASSERT_GT(t.paramCount(), 0);

    std::set<int> headers;
    for (const ParamGroup& g : t.groups) {
        headers.insert(g.number);
        for (const ParamSubgroup& s : g.subgroups) headers.insert(s.number);
    }
    for (int i = 0; i < t.paramCount(); ++i) {
        const ParamRecord& r = t.params[static_cast<size_t>(i)];
        SCOPED_TRACE(wtext::ToUtf8(r.pnu));
        EXPECT_EQ(r.index, i);
        EXPECT_TRUE(headers.count(r.groupNumber)) << "record outside every group";
        EXPECT_GE(r.exponent, -3);
        EXPECT_LE(r.exponent, 0);
        EXPECT_FALSE(r.pnu.empty());
        // Every value text can be formed in both languages.
        EXPECT_FALSE(t.ValueText(r, 0).empty());
        EXPECT_FALSE(t.ValueText(r, 1).empty());
    }
    for (const auto& [pnu, codes] : t.optionCodes) EXPECT_FALSE(codes.empty()) << wtext::ToUtf8(pnu);

    // Groups 8 and 9 only under the M-data root, all others only under the
    // parameter root; every group item opens the view of its own number.
    const std::vector<TreeItem> tree = BuildDeviceTree(t, 1);
    EXPECT_GT(tree.size(), 8u);
    for (const TreeItem& item : tree) {
        if (item.parentNumber == DT_PARAMETER_ROOT || item.parentNumber == DT_MD_ROOT) {
            const bool mdata = item.parentNumber == DT_MD_ROOT;
            const int number = item.number - (mdata ? DT_MD_GROUP_BASE : DT_GROUP_BASE);
            EXPECT_EQ(mdata, number == 8 || number == 9) << wtext::ToUtf8(item.text);
            const ViewChoice v = ChooseView(item.number, item.parentNumber, item.text);
            EXPECT_EQ(v.kind, mdata ? ViewKind::MData : ViewKind::Parameter);
            EXPECT_EQ(v.selection, number);
        }
    }

    // The program folder's own setting file names this workbook.
    ParamTable configured;
    std::wstring path;
    EXPECT_TRUE(LoadConfiguredParamTable(configured, wtext::FromUtf8(SampleDir()), path)) << wtext::ToUtf8(path);
}

TEST(SampleData, LanguageSwitchOnACopyOfTheLanguageFolder)
{
    const std::string lang = SampleDir() + "Language";
    if (SampleDir().empty() || !fs::exists(lang + "/language.xls"))
        GTEST_SKIP() << "sample data set not built (" << lang << ")";

    // The switch writes "setting.ini": work on a copy, not the program folder.
    TempDir dir;
    fs::copy(lang, dir.file("Language"), fs::copy_options::recursive);
    LanguageTables lt(dir.folder());
    lt.Start();
    const bool chinese = lt.current() == L"Chinese";
    const size_t startTexts = lt.controlTexts().size();
    EXPECT_GT(startTexts, 0u);

    ASSERT_TRUE(lt.SetLanguage(chinese ? L"English" : L"Chinese"));
    EXPECT_GT(lt.controlTexts().size(), 0u);
    EXPECT_EQ(lt.languageIndex(), chinese ? 0 : 1);
    for (const auto& m : LanguageTables::kDropDownMenus) EXPECT_FALSE(lt.MenuCaption(m.defaultText).empty()) << m.key;
    ASSERT_TRUE(lt.SetLanguage(chinese ? L"Chinese" : L"English"));
    EXPECT_EQ(lt.controlTexts().size(), startTexts);
}

// The parameter search on the sample table: by number in any spelling, by
// words of the name in the language shown, and the tree item of the group.
TEST(SampleData, ParameterSearch)
{
    const std::string book = SampleDir() + "Parameter/TV380.xls";
    if (SampleDir().empty() || !fs::exists(book)) GTEST_SKIP() << "sample data set not built (" << book << ")";
    ParamTable t;
    ASSERT_TRUE(t.Load(wtext::FromUtf8(book))) << t.lastError();
    auto pnus = [&t](const std::vector<int>& found) {
        std::vector<std::wstring> out;
        for (int i : found) out.push_back(t.params[static_cast<size_t>(i)].pnu);
        return out;
    };
    for (const wchar_t* q : {L"P01.04", L"01.04", L"p1.4", L"  1.04 ", L"P01.04 Maximum frequency"})
        EXPECT_EQ(pnus(FindParameters(t, q, 0)), std::vector<std::wstring>{L"01.04"}) << q;
    EXPECT_TRUE(FindParameters(t, L"P99.99", 0).empty());
    EXPECT_TRUE(FindParameters(t, L"", 0).empty());
    // Every word, in any order and case.
    EXPECT_EQ(pnus(FindParameters(t, L"FREQUENCY maximum", 0)), (std::vector<std::wstring>{L"01.04", L"06.16"}));
    EXPECT_EQ(pnus(FindParameters(t, L"limit torque forward", 0)), std::vector<std::wstring>{L"03.14"});
    // Names in the language shown only.
    EXPECT_EQ(pnus(FindParameters(t, L"最大频率", 1)), (std::vector<std::wstring>{L"01.04", L"03.14", L"03.15", L"06.16"}));
    EXPECT_TRUE(FindParameters(t, L"最大频率", 0).empty());
    EXPECT_TRUE(FindParameters(t, L"Maximum frequency", 1).empty());

    const ParamRecord& r = t.params[static_cast<size_t>(FindParameters(t, L"P01.04", 0).front())];
    EXPECT_EQ(SearchEntryText(r, 0), L"P01.04 Maximum frequency");
    EXPECT_EQ(SearchEntryText(r, 1), L"P01.04 最大频率");
    EXPECT_EQ(TreeNumbersOfRecord(r).front(), DT_GROUP_BASE + 1);
}
