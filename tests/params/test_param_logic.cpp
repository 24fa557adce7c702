// The view rules without a drive: which records a view shows, select
// different, option choices, and value files written, read back by xlrd,
// refused and applied.
#include "ParamPlan.h"
#include "ParamViewLogic.h"
#include "RegisterAccess.h"
#include "ParamsTestSupport.h"
#include "ValueCheck.h"
#include "ValueFile.h"
#include "WideText.h"
#include "Workbook.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace paramview;

struct SampleTable : ::testing::Test {
    ParamTable table;
    void SetUp() override { ptest::LoadSampleTable(table); }
    std::vector<std::wstring> Pnus(const std::vector<int>& rows)
    {
        std::vector<std::wstring> p;
        for (int i : rows) p.push_back(table.params[static_cast<size_t>(i)].pnu);
        return p;
    }
};

TEST_F(SampleTable, AllGroupsLeaveOutMonitorGroups)
{
    const std::vector<int> rows = ParamViewRows(table, -1);
    int monitor = 0;
    for (const ParamRecord& r : table.params) monitor += r.groupNumber == 8 || r.groupNumber == 9;
    ASSERT_GT(monitor, 0);
    EXPECT_EQ(rows.size(), table.params.size() - static_cast<size_t>(monitor));
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1], rows[i]);
    for (int i : rows) {
        const int g = table.params[static_cast<size_t>(i)].groupNumber;
        EXPECT_TRUE(g != 8 && g != 9) << i;
    }
}

TEST_F(SampleTable, GroupWithSubgroupsShowsTheirRecords)
{
    const std::vector<int> group2 = ParamViewRows(table, 2);
    const std::vector<int> sub21 = ParamViewRows(table, 21);
    const std::vector<int> sub22 = ParamViewRows(table, 22);
    const std::vector<int> sub23 = ParamViewRows(table, 23);
    EXPECT_EQ(group2.size(), sub21.size() + sub22.size() + sub23.size());
    ASSERT_EQ(sub21.size(), 7u);
    EXPECT_EQ(Pnus(sub21).front(), L"02.00");
    EXPECT_EQ(Pnus(sub22).front(), L"02.10");
    EXPECT_EQ(Pnus(group2).front(), L"02.00");
    EXPECT_EQ(Pnus(group2).back(), L"02.25");
    // Group 9 in the M-data view, and numbers that name nothing.
    const std::vector<int> group9 = GroupRows(table, 9);
    EXPECT_EQ(group9.size(), 22u);
    EXPECT_TRUE(GroupRows(table, 99).empty());
}

TEST_F(SampleTable, RowTextsAndLimits)
{
    ParamRecord& r = table.params[static_cast<size_t>(ptest::IndexOf(table, L"02.01"))];
    // Nothing read yet: no number, however plausible.
    EXPECT_EQ(RowTexts(table, r, 1)[kColValue], L"-");
    r.valueUnknown = false;
    const std::vector<std::wstring> t = RowTexts(table, r, 1);
    EXPECT_EQ(t[kColPnu], L"P02.01");
    EXPECT_EQ(t[kColName], L"\u7535\u673a1\u989d\u5b9a\u529f\u7387");
    EXPECT_EQ(t[kColValue], L"0.0");
    EXPECT_EQ(t[kColDefault], L"-");  // no default
    EXPECT_EQ(t[kColMin], L"0.1");
    EXPECT_EQ(t[kColMax], L"1000.0");
    EXPECT_EQ(t[kColUnit], L"kW");
    ParamRecord& option = table.params[static_cast<size_t>(ptest::IndexOf(table, L"01.01"))];
    EXPECT_EQ(RowTexts(table, option, 0)[kColValue], L"-");
    option.valueUnknown = false;
    EXPECT_EQ(RowTexts(table, option, 0)[kColValue], L"0,Keypad");
}

TEST_F(SampleTable, SelectDifferentKeepsRecordsWithoutDefault)
{
    std::vector<int> rows = ParamViewRows(table, 21);
    for (int i : rows) {
        table.params[static_cast<size_t>(i)].value = table.params[static_cast<size_t>(i)].defaultValue;
        table.params[static_cast<size_t>(i)].valueUnknown = false;
    }
    // 02.04 differs only beyond its two decimals: shown alike, so it goes.
    table.params[static_cast<size_t>(ptest::IndexOf(table, L"02.04"))].value = 50.004;
    table.params[static_cast<size_t>(ptest::IndexOf(table, L"02.05"))].value = 1450;
    const std::vector<int> remove = RowsEqualToDefault(table, rows);
    ASSERT_FALSE(remove.empty());
    for (size_t i = 1; i < remove.size(); ++i) EXPECT_GT(remove[i - 1], remove[i]);  // last first
    for (int row : remove) rows.erase(rows.begin() + row);
    EXPECT_EQ(Pnus(rows), (std::vector<std::wstring>{L"02.01", L"02.03", L"02.05"}));

    // A value nobody read is not known to differ: it goes too, default or not.
    table.params[static_cast<size_t>(ptest::IndexOf(table, L"02.05"))].valueUnknown = true;
    table.params[static_cast<size_t>(ptest::IndexOf(table, L"02.03"))].valueUnknown = true;
    rows = ParamViewRows(table, 21);
    for (int row : RowsEqualToDefault(table, rows)) rows.erase(rows.begin() + row);
    EXPECT_EQ(Pnus(rows), (std::vector<std::wstring>{L"02.01"}));
}

TEST_F(SampleTable, TypedValuesAreCheckedAsTheDriveWouldTakeThem)
{
    using valuecheck::Verdict;
    auto rec = [&](const wchar_t* pnu) -> const ParamRecord& {
        return table.params[static_cast<size_t>(ptest::IndexOf(table, pnu))];
    };
    auto verdict = [&](const wchar_t* pnu, const wchar_t* text) { return valuecheck::Parse(table, rec(pnu), text).verdict; };
    auto value = [&](const wchar_t* pnu, const wchar_t* text) { return valuecheck::Parse(table, rec(pnu), text).value; };

    // Numbers: "." as the point, an exponent allowed, nothing else around.
    EXPECT_EQ(verdict(L"01.04", L"60"), Verdict::Ok);
    EXPECT_EQ(value(L"01.04", L" 5.9e2 "), 590.0);
    EXPECT_EQ(verdict(L"01.04", L"60,5"), Verdict::NotANumber);
    EXPECT_EQ(verdict(L"01.04", L"60Hz"), Verdict::NotANumber);
    EXPECT_EQ(verdict(L"01.04", L""), Verdict::NotANumber);
    // Limits and resolution: what is shown is what is written.
    EXPECT_EQ(verdict(L"01.04", L"49.99"), Verdict::OutOfRange);
    EXPECT_EQ(verdict(L"01.04", L"590.01"), Verdict::OutOfRange);
    EXPECT_EQ(verdict(L"01.04", L"60.005"), Verdict::TooManyDecimals);
    EXPECT_EQ(verdict(L"01.07", L"0.1"), Verdict::Ok);
    EXPECT_EQ(verdict(L"01.07", L"0.15"), Verdict::TooManyDecimals);
    // A signed register (negative minimum) takes negative values.
    EXPECT_EQ(verdict(L"03.13", L"-200.0"), Verdict::Ok);
    EXPECT_EQ(verdict(L"03.13", L"-200.1"), Verdict::OutOfRange);
    // Options: a listed code, its text in either language, or the list entry.
    EXPECT_EQ(verdict(L"01.09", L"1"), Verdict::Ok);
    EXPECT_EQ(verdict(L"01.09", L"2"), Verdict::NotAnOption);
    EXPECT_EQ(verdict(L"01.09", L"0.5"), Verdict::NotAnOption);
    EXPECT_EQ(value(L"01.09", L"opposite DIRECTION"), 1.0);
    EXPECT_EQ(value(L"01.09", L"\u65b9\u5411\u76f8\u53cd"), 1.0);
    EXPECT_EQ(value(L"01.00", L"2,Closed-loop vector control"), 2.0);
    EXPECT_EQ(verdict(L"01.00", L"Closed-loop"), Verdict::NotAnOption);
    EXPECT_EQ(valuecheck::ReasonText(table, rec(L"01.09"), Verdict::NotAnOption),
              L"not one of the options 0 (Default direction), 1 (Opposite direction)");
    EXPECT_EQ(valuecheck::ReasonText(table, rec(L"01.04"), Verdict::OutOfRange), L"not between 50.00 and 590.00");
}

TEST(ParamViewText, OptionChoicesAndSummaries)
{
    EXPECT_EQ(OptionChoiceValue(L"2,Communication"), 2);
    EXPECT_EQ(OptionChoiceValue(L"-"), 0);
    EXPECT_EQ(OptionChoiceValue(L"12"), 0);
    EXPECT_EQ(OptionChoiceValue(L"-3,x,y"), -3);
    EXPECT_EQ(ReadSummary(L""), L"");
    EXPECT_EQ(ReadSummary(ReadErrorLine(L"01.03", 255)), L"Parameter read error:P01.03 errorCode255.\n");
    EXPECT_EQ(WriteSummary(L""), L"Parameter write completion");
    EXPECT_EQ(WriteSummary(WriteGivenUpEntry(L"01.03") + CheckMismatchLine(L"01.03", L"600.00", L"50.00") +
                           CheckGivenUpLine(L"01.04", 2)),
              L"Parameter write error:P01.03  Write Erroe P01.03 600.00  50.00.\nread P01.04 errorCode2.\n");
    EXPECT_EQ(MDataErrorMessage(L"09.03", 255), L"Parameter write read:P09.03  device error code:255");
}

// ---- Value files ----

struct ValueFiles : SampleTable {
    QTemporaryDir dir;
    std::wstring Path(const char* name) { return (dir.path() + "/" + name).toStdWString(); }
};

TEST_F(ValueFiles, ExtensionAppendedOnlyWhenMissing)
{
    using valuefile::WithXlsExtension;
    EXPECT_EQ(WithXlsExtension(L"/a/b"), L"/a/b.xls");
    EXPECT_EQ(WithXlsExtension(L"/a/b.xls"), L"/a/b.xls");
    EXPECT_EQ(WithXlsExtension(L"/a/b.xlsx"), L"/a/b.xlsx");
    EXPECT_EQ(WithXlsExtension(L"/a/b.xls.bak"), L"/a/b.xls.bak");
}

TEST_F(ValueFiles, SavedLayoutReadByXlrd)
{
    const std::vector<int> rows = ParamViewRows(table, 1);
    std::vector<bool> checked(rows.size(), false);
    checked[1] = checked[3] = true;
    ParamRecord& r1 = table.params[static_cast<size_t>(rows[1])];
    ParamRecord& r3 = table.params[static_cast<size_t>(rows[3])];
    r1.value = 1;
    r3.value = 47.5;
    r1.valueUnknown = r3.valueUnknown = false;
    const std::wstring path = Path("layout.xls");
    std::string err;
    ASSERT_TRUE(valuefile::Save(path, table, rows, checked, &err)) << err;

    const QJsonObject doc = ptest::ReadWithXlrd(QString::fromStdWString(path), &err);
    ASSERT_FALSE(doc.isEmpty()) << err;
    EXPECT_EQ(doc["sheets"].toArray(), QJsonArray{"Sheet1"});
    const QJsonArray sheet = doc["rows"].toArray();
    ASSERT_EQ(sheet.size(), 5);  // rows 0 to 4
    auto cell = [&](int row, int col) {
        const QJsonArray r = sheet[row].toArray();
        return col < r.size() ? r[col].toObject() : QJsonObject{{"type", "empty"}, {"value", ""}};
    };
    const char* heads[] = {"TV380", "PNU", "VKR PNU", "VALUE", "Descripition", "Default", "Min", "Max", "Unit"};
    for (int c = 0; c < 9; ++c) {
        EXPECT_EQ(cell(0, c)["type"].toString(), "text") << c;
        EXPECT_EQ(cell(0, c)["value"].toString(), heads[c]) << c;
    }
    EXPECT_TRUE(sheet[1].toArray().isEmpty());
    EXPECT_TRUE(sheet[3].toArray().isEmpty());
    for (auto [row, rec] : {std::pair<int, ParamRecord*>{2, &r1}, {4, &r3}}) {
        SCOPED_TRACE(row);
        const char* types[] = {"number", "number", "text", "number", "text", "number", "number", "number", "text"};
        // An empty unit may read back as an empty cell.
        const int cols = rec->unit.empty() ? 8 : 9;
        for (int c = 0; c < cols; ++c) EXPECT_EQ(cell(row, c)["type"].toString(), types[c]) << c;
        EXPECT_EQ(cell(row, 0)["value"].toDouble(), rec->index + 1);
        EXPECT_EQ(cell(row, 1)["value"].toDouble(), rec->address);
        EXPECT_EQ(cell(row, 2)["value"].toString().toStdWString(), L"P" + rec->pnu);
        EXPECT_EQ(cell(row, 3)["value"].toDouble(), rec->value);
        EXPECT_EQ(cell(row, 4)["value"].toString().toStdWString(), rec->name);
        EXPECT_EQ(cell(row, 5)["value"].toDouble(), rec->defaultValue);
        EXPECT_EQ(cell(row, 6)["value"].toDouble(), rec->minValue);
        EXPECT_EQ(cell(row, 7)["value"].toDouble(), rec->maxValue);
        EXPECT_EQ(cell(row, 8)["value"].toString().toStdWString(), rec->unit);
        EXPECT_NE(cell(row, 8)["type"].toString(), "number");
    }
}

// Writes a sheet by hand and returns its path.
std::wstring WriteSheet(const std::wstring& path, const std::function<void(xls::Sheet&)>& fill)
{
    xls::Book* book = xlCreateBookW();
    xls::Sheet* s = book->addSheet(L"Sheet1");
    fill(*s);
    const bool ok = book->save(path.c_str());
    book->release();
    EXPECT_TRUE(ok);
    return path;
}

TEST_F(ValueFiles, RefusedFilesYieldNothing)
{
    using S = valuefile::LoadResult::Status;
    EXPECT_EQ(valuefile::Load(Path("missing.xls"), table).status, S::Unreadable);
    {
        QFile f(QString::fromStdWString(Path("garbage.xls")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(3000, '\x5a'));
    }
    EXPECT_EQ(valuefile::Load(Path("garbage.xls"), table).status, S::Unreadable);
    auto header = [](xls::Sheet& s, const wchar_t* a1, const wchar_t* d1) {
        s.writeStr(0, 0, a1);
        if (d1) s.writeStr(0, 3, d1);
        s.writeNum(1, 0, 1);
        s.writeNum(1, 1, 257);
        s.writeNum(1, 3, 2);
    };
    EXPECT_EQ(valuefile::Load(WriteSheet(Path("nohead.xls"), [&](xls::Sheet& s) { header(s, L"TV380", nullptr); }), table)
                  .status,
              S::NotValueFile);
    EXPECT_EQ(valuefile::Load(WriteSheet(Path("value.xls"), [&](xls::Sheet& s) { header(s, L"TV380", L"Value"); }), table)
                  .status,
              S::NotValueFile);
    const valuefile::LoadResult other =
        valuefile::Load(WriteSheet(Path("other.xls"), [&](xls::Sheet& s) { header(s, L"TV999", L"VALUE"); }), table);
    EXPECT_EQ(other.status, S::ModelMismatch);
    EXPECT_EQ(other.fileModel, L"TV999");
    EXPECT_TRUE(other.entries.empty());
    EXPECT_EQ(valuefile::ModelMismatchText(table.fileBaseName, other.fileModel),
              L"Device model does not match :TV380 != TV999");
    // A row naming a parameter without a numeric value: the whole file is refused.
    const valuefile::LoadResult bad = valuefile::Load(WriteSheet(Path("bad.xls"),
                                                                 [&](xls::Sheet& s) {
                                                                     header(s, L"TV380", L"VALUE");
                                                                     s.writeNum(2, 0, 5);
                                                                     s.writeNum(2, 1, 262);
                                                                     s.writeStr(2, 3, L"fast");
                                                                 }),
                                                      table);
    EXPECT_EQ(bad.status, S::BadRow);
    EXPECT_TRUE(bad.entries.empty());
}

TEST_F(ValueFiles, ApplyPrefersRowNThenMatchesAddresses)
{
    const std::vector<int> rows = ParamViewRows(table, 1);
    const ParamRecord& r0 = table.params[static_cast<size_t>(rows[0])];
    const ParamRecord& r5 = table.params[static_cast<size_t>(rows[5])];
    // n = 1 names row 0 with its own address; n = 40 names no row of this
    // grid, so the address decides; an address this grid lacks changes nothing.
    const std::vector<valuefile::Entry> entries{{1, r0.address, 2}, {40, r5.address, 9.5}, {3, 9999, 7}};
    const std::vector<int> changed = valuefile::Apply(entries, table, rows);
    EXPECT_EQ(changed, (std::vector<int>{0, 5}));
    EXPECT_EQ(r0.value, 2);
    EXPECT_EQ(r5.value, 9.5);
    for (size_t i = 0; i < rows.size(); ++i)
        if (i != 0 && i != 5) {
            EXPECT_EQ(table.params[static_cast<size_t>(rows[i])].value, 0) << i;
        }
}

}  // namespace

// In a narrow grid the name and then the value column give way, so that the
// value column (with its "..." button) still ends inside the grid.
TEST(ParamViewColumns, NarrowGridKeepsTheValueColumnInSight)
{
    using namespace paramview;
    auto valueEnd = [](const std::vector<int>& w) { return w[kColSelect] + w[kColPnu] + w[kColName] + w[kColValue]; };
    const std::vector<int> full = FitColumnWidths(1000);
    for (int c = 0; c < kColumnCount; ++c) EXPECT_EQ(full[static_cast<size_t>(c)], ColumnWidth(c));
    const std::vector<int> w560 = FitColumnWidths(560);
    EXPECT_EQ(valueEnd(w560), 560);
    EXPECT_EQ(w560[kColName], kMinNameWidth);
    EXPECT_EQ(w560[kColValue], 560 - 50 - 100 - kMinNameWidth);
    EXPECT_EQ(w560[kColUnit], ColumnWidth(kColUnit));
    // Below the least widths they stay at them.
    const std::vector<int> w300 = FitColumnWidths(300);
    EXPECT_EQ(w300[kColName], kMinNameWidth);
    EXPECT_EQ(w300[kColValue], kMinValueWidth);
}

// ---- One rounding, one check, one plan ----

namespace {

// What the cell shows and what the register receives come from one
// rounding, for every value with one digit more than the parameter keeps.
TEST(Rounding, ShownTextIsWhatTheRegisterReceives)
{
    ParamRecord r;
    r.maxValue = 655.35;
    for (int exponent : {0, -1, -2, -3}) {
        r.exponent = exponent;
        const double places = std::pow(10.0, -exponent);
        for (int n = 0; n < 60000; n += 7) {
            const double v = n / (places * 10.0);
            uint16_t word = 0;
            if (!regaccess::ValueToWord(v, r, &word)) continue;
            ASSERT_EQ(FormatByExponent(v, exponent), FormatByExponent(word / places, exponent))
                << v << " at exponent " << exponent;
        }
    }
    r.exponent = -2;
    uint16_t word = 0;
    ASSERT_TRUE(regaccess::ValueToWord(35.555, r, &word));
    EXPECT_EQ(word, 3556);
    EXPECT_EQ(FormatByExponent(35.555, -2), L"35.56");
    // 1.005 is held as 1.00499...: 100 steps, shown as such.
    ASSERT_TRUE(regaccess::ValueToWord(1.005, r, &word));
    EXPECT_EQ(word, 100);
    EXPECT_EQ(FormatByExponent(1.005, -2), L"1.00");
    EXPECT_EQ(FormatByExponent(-35.555, -2), L"-35.56");
    EXPECT_EQ(FormatByExponent(2.5, 0), L"3");
    EXPECT_EQ(FormatByExponent(-0.001, -2), L"0.00");
}

TEST_F(SampleTable, PlanLeavesWhatTheDriveHoldsAndRefusesOnlyWhatDiffers)
{
    using paramplan::Action;
    const int maxFreq = ptest::IndexOf(table, L"01.04");  // 50.00 .. 590.00
    auto plan = [&](double want, paramplan::Known drive) {
        return paramplan::PlanOne(table, paramplan::Want{maxFreq, want}, drive);
    };
    // The drive holds a value outside the table's range: wanting it back
    // leaves it, wanting another out-of-range value is refused.
    EXPECT_EQ(plan(0.0, {true, 0.0}).action, Action::Leave);
    EXPECT_EQ(plan(0.001, {true, 0.0}).action, Action::Leave);
    const paramplan::Step refused = plan(10.0, {true, 0.0});
    EXPECT_EQ(refused.action, Action::Refuse);
    EXPECT_EQ(paramplan::RefusalText(table, refused, 0), L"not between 50.00 and 590.00");
    const paramplan::Step write = plan(60.004, {true, 0.0});
    EXPECT_EQ(write.action, Action::Write);
    EXPECT_TRUE(write.rounded);
    EXPECT_EQ(write.value, 60.0);
    EXPECT_EQ(plan(60.0, {}).action, Action::ReadFirst);
    // The compare lists a row when drive, file and default are not all one.
    EXPECT_FALSE(paramplan::Differs(table, plan(50.0, {true, 50.0})));
    EXPECT_TRUE(paramplan::Differs(table, plan(60.0, {true, 60.0})));
    EXPECT_TRUE(paramplan::Differs(table, plan(50.0, {})));
    const paramplan::Counts n = paramplan::Count({refused, write, plan(60.0, {})});
    EXPECT_EQ(n.refuse + n.write + n.readFirst + n.rounded, 4);
}

TEST(WriteHistoryTest, KeepsTheLastFiveBatches)
{
    paramplan::WriteHistory h;
    h.Push(paramplan::WriteBatch{});
    EXPECT_TRUE(h.Empty());
    for (int i = 0; i < 7; ++i) h.Push(paramplan::WriteBatch{1, {paramplan::UndoRow{i, i + 1, {true, 1.0 * i}}}});
    EXPECT_EQ(h.Size(), paramplan::WriteHistory::kKept);
    EXPECT_EQ(h.Last().rows.front().record, 6);
    h.DropLast();
    EXPECT_EQ(h.Last().rows.front().record, 5);
}

}  // namespace
