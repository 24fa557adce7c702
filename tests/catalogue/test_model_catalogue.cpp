// The model catalogue of a program package.
#include "ModelCatalogue.h"
#include "test_catalogue_helpers.h"

using namespace cattest;

namespace {

std::vector<Cell> ModelRow(int row, std::vector<std::wstring> texts)
{
    std::vector<Cell> c;
    for (int col = 0; col < static_cast<int>(texts.size()); ++col)
        if (!texts[static_cast<size_t>(col)].empty()) c.push_back({row, col, texts[static_cast<size_t>(col)]});
    return c;
}

bool WriteModels(const std::string& path, const std::vector<std::vector<std::wstring>>& rows, int firstRow = 2)
{
    std::vector<Cell> cells = {{0, 0, std::wstring(L"Series")}, {1, 0, std::wstring(L"heading row two")}};
    int row = firstRow;
    for (const auto& r : rows) {
        const std::vector<Cell> c = ModelRow(row++, r);
        cells.insert(cells.end(), c.begin(), c.end());
    }
    return WriteBook(path, {{L"Model", cells}});
}

}  // namespace

TEST(ModelCatalogue, LooksUpModelsAndKeepsSeriesOrder)
{
    TempDir dir;
    ASSERT_TRUE(WriteModels(dir.file("VKR_MODEL.xls"),
                            {
                                {L"TV380", L"PN-001", L"7.5", L"d1", L"c1", L"k1", L"i1"},
                                {L"TV500", L"PN-100", L"11", L"d2", L"c2", L"k2", L"i2"},
                                {L"TV380", L"PN-002", L"7.5", L"d3", L"c3", L"k3", L"i3"},
                                {L"TV380", L"PN-001", L"7.5", L"d4", L"c4", L"k4", L"i4"},
                                {L"TV200", L"PN-200", L"0.75", L"d5", L"", L"k5", L"i5"},
                            }));
    ModelCatalogue m;
    ASSERT_TRUE(m.Load(dir.wfile("VKR_MODEL.xls")));
    EXPECT_EQ(m.modelCount(), 5);
    EXPECT_EQ(m.seriesList(), (std::vector<std::wstring>{L"TV380", L"TV500", L"TV200"}));
    EXPECT_EQ(m.models()[4].calibrationFile, L"");
    EXPECT_EQ(m.models()[1].initFile, L"i2");

    EXPECT_TRUE(m.HasModel(L"TV380", L"PN-002", L"7.5"));
    EXPECT_FALSE(m.HasModel(L"tv380", L"PN-002", L"7.5"));
    EXPECT_FALSE(m.HasModel(L"TV380", L"PN-002", L"7.50"));
    EXPECT_FALSE(m.HasModel(L"TV500", L"PN-001", L"7.5"));

    ModelFiles f;
    ASSERT_TRUE(m.FindModelFiles(L"TV380", L"PN-001", L"7.5", f));  // the first of two equal rows
    EXPECT_EQ(f.dataFile, L"d1");
    EXPECT_EQ(f.calibrationFile, L"c1");
    EXPECT_EQ(f.codeFile, L"k1");
    EXPECT_EQ(f.initFile, L"i1");
    ASSERT_TRUE(m.FindModelFilesByPower(L"TV380", L"7.5", f));       // same series and power: the first
    EXPECT_EQ(f.dataFile, L"d1");
    ASSERT_TRUE(m.FindModelFilesByPower(L"TV500", L"11", f));
    EXPECT_EQ(f.codeFile, L"k2");
    f = ModelFiles{L"keep", L"keep", L"keep", L"keep"};
    EXPECT_FALSE(m.FindModelFiles(L"TV500", L"PN-100", L"7.5", f));
    EXPECT_FALSE(m.FindModelFilesByPower(L"TV200", L"11", f));
    EXPECT_EQ(f.dataFile, L"keep");

    m.Clear();
    EXPECT_EQ(m.modelCount(), 0);
    EXPECT_EQ(m.seriesCount(), 0);
    EXPECT_FALSE(m.HasModel(L"TV380", L"PN-001", L"7.5"));
}

TEST(ModelCatalogue, EmptyThirdRowAndFailedLoads)
{
    TempDir dir;
    // Models start one row late: row 3 (index 2) has no series.
    ASSERT_TRUE(WriteModels(dir.file("late.xls"), {{L"TV380", L"PN-001", L"7.5", L"d", L"c", L"k", L"i"}}, 3));
    ASSERT_TRUE(WriteModels(dir.file("good.xls"), {{L"TV380", L"PN-001", L"7.5", L"d", L"c", L"k", L"i"}}));
    // A row with an empty series ends the list even when later rows are full.
    ASSERT_TRUE(WriteModels(dir.file("gap.xls"), {{L"A", L"1", L"1"}, {L"", L"2", L"2"}, {L"B", L"3", L"3"}}));
    WriteText(dir.file("junk.xls"), std::string(600, '\xD0'));

    ModelCatalogue m;
    ASSERT_TRUE(m.Load(dir.wfile("good.xls")));
    ASSERT_TRUE(m.Load(dir.wfile("late.xls")));
    EXPECT_EQ(m.modelCount(), 0);
    EXPECT_EQ(m.seriesCount(), 0);

    ASSERT_TRUE(m.Load(dir.wfile("gap.xls")));
    EXPECT_EQ(m.modelCount(), 1);

    ASSERT_TRUE(m.Load(dir.wfile("good.xls")));
    EXPECT_FALSE(m.Load(dir.wfile("missing.xls")));
    EXPECT_EQ(m.modelCount(), 0);
    ASSERT_TRUE(m.Load(dir.wfile("good.xls")));
    EXPECT_FALSE(m.Load(dir.wfile("junk.xls")));
    EXPECT_EQ(m.modelCount(), 0);
}

TEST(ModelCatalogue, SeriesListIsCapped)
{
    TempDir dir;
    std::vector<std::vector<std::wstring>> rows;
    for (int i = 0; i < 40; ++i) rows.push_back({L"S" + std::to_wstring(i), L"PN", L"1"});
    ASSERT_TRUE(WriteModels(dir.file("many.xls"), rows));
    ModelCatalogue m;
    ASSERT_TRUE(m.Load(dir.wfile("many.xls")));
    EXPECT_EQ(m.modelCount(), 40);
    EXPECT_EQ(m.seriesCount(), ModelCatalogue::kMaxSeries);
    EXPECT_EQ(m.seriesList().back(), L"S31");
    EXPECT_TRUE(m.HasModel(L"S39", L"PN", L"1"));  // the model itself is still known
    EXPECT_EQ(&TheModelCatalogue(), &TheModelCatalogue());
}
