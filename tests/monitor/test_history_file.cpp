// History workbooks: the writer's layout (checked through the workbook layer
// and through xlrd), the reader's acceptance rules and what it puts into the
// store, and files that are damaged or not ours.
#include "MonitorTestUtil.h"

#include <algorithm>
#include <cstdio>

using namespace montest;
using history::LoadResult;

namespace {

constexpr uint64_t kT = 1700000123500ULL;  // a whole second plus 500 ms

// A history-shaped file written through the workbook layer, for the cases the
// writer never makes: column A numbered as given, slot 1 recorded with value
// 10 x its row's number, slot 2 recorded at address 0x3002.
void WriteCustom(const std::string& path, const std::wstring& model, const std::wstring& interval,
                 const std::vector<double>& numbering, const std::wstring& start = L"1700000001000") {
    wbtest::BookPtr book;
    xls::Sheet* s = book->addSheet(L"Sheet1");
    ASSERT_NE(s, nullptr);
    s->writeStr(0, 0, model.c_str());
    s->writeStr(1, 0, interval.c_str());
    s->writeStr(2, 0, start.c_str());
    for (int j = 1; j <= 10; ++j) {
        s->writeStr(0, j, (L"S" + std::to_wstring(j)).c_str());
        s->writeNum(1, j, 0x3000 + j);
        s->writeBool(2, j, j <= 2);
    }
    for (size_t i = 0; i < numbering.size(); ++i) {
        const int r = static_cast<int>(i) + 3;
        s->writeNum(r, 0, numbering[i]);
        s->writeNum(r, 1, 10.0 * static_cast<double>(i + 1));
        s->writeNum(r, 2, 0.5);
    }
    ASSERT_TRUE(book->save(wbtest::W(path).c_str())) << book->errorMessage();
}

std::vector<double> Count(int n) {
    std::vector<double> v;
    for (int k = 1; k <= n; ++k) v.push_back(k);
    return v;
}

// A store holding five samples of another recording, to see that a refused
// file leaves it alone.
void FillOther(CMonitorBuffer& store) {
    store.Reset(true, L"/old/", L"VKR-T1", L"2sec", Slots(4, 1000.0f));
    for (uint32_t k = 1; k <= 5; ++k) ASSERT_TRUE(store.Append(k, Numbered(k)));
}

void ExpectUntouched(const CMonitorBuffer& store) {
    const MonitorBufferState st = store.State();
    EXPECT_TRUE(st.continuous);
    EXPECT_EQ(st.count, 5u);
    EXPECT_EQ(st.model, L"VKR-T1");
    EXPECT_EQ(st.intervalName, L"2sec");
    EXPECT_EQ(st.folder, L"/old/");
    EXPECT_EQ(store.HeldSamples().back().timeMs, 5u);
    EXPECT_EQ(store.Signal(0).scale, 1000.0f);
}

}  // namespace

TEST(HistoryFile, IntervalLengthsByName) {
    const std::pair<const wchar_t*, uint32_t> known[] = {
        {L"1min", 60000}, {L"30sec", 30000}, {L"20sec", 20000}, {L"10sec", 10000}, {L"5sec", 5000}, {L"2sec", 2000},
        {L"1sec", 1000},  {L"500ms", 500},   {L"400ms", 400},   {L"200ms", 200},   {L"100ms", 100}, {L"50ms", 50}};
    for (const auto& k : known) EXPECT_EQ(history::IntervalLengthMs(k.first), k.second) << wbtest::U8(k.first);
    EXPECT_EQ(history::IntervalLengthMs(L"1SEC"), 0u);
    EXPECT_EQ(history::IntervalLengthMs(L""), 0u);
    EXPECT_EQ(history::IntervalLengthMs(L"3sec"), 0u);
}

// Three samples started at "1sec", the last taken at T (a whole second +
// 500 ms) after the interval was changed and a sweep was lost: each row keeps
// its sample's own time.
TEST(HistoryFile, ThreeSamplesRoundTripWithTheirTimes) {
    wbtest::TempDir dir;
    const std::string path = dir.file("three.xls");
    TestClock clock;
    clock.now = kT;
    CMonitorBuffer store;
    store.SetClock(clock.fn());
    MonitorSignals sig = Slots(3, 10.0f, -1);
    for (int j = 0; j < kMonitorSlots; ++j) sig[static_cast<size_t>(j)].address = static_cast<uint32_t>(0x3001 + j);
    sig[0].name = L"Output frequency,输出频率";
    store.Reset(false, L"", L"VKR-T1", L"1sec", sig);
    const uint64_t kTimes[3] = {kT - 2000, kT - 1751, kT + 1234};
    const float values[3][3] = {{1.5f, -2.25f, 0.1f}, {49.9f, 0, 3}, {7.125f, 100.5f, -0.0625f}};
    for (int k = 0; k < 3; ++k) {
        MonitorSample s;
        for (int j = 0; j < 3; ++j) s.entries[j] = {1, values[k][j], 0};
        s.entries[5].value = 99;  // not recorded: written as it is
        ASSERT_TRUE(store.Append(kTimes[k], s));
        if (k == 1) store.NoteIntervalChange(kT - 900, L"2sec", L"overruns");
    }
    std::string err;
    ASSERT_TRUE(store.SaveRange(store.start(), store.count(), wbtest::W(path), &err)) << err;

    // xlrd sees the layout cell by cell, with its cell types.
    wbtest::Dump dump;
    ASSERT_TRUE(wbtest::xlrdDump(path, dump));
    EXPECT_TRUE(dump.warnings.empty());
    ASSERT_EQ(dump.book.size(), 1u);
    EXPECT_EQ(dump.book[0].name, L"Sheet1");
    EXPECT_EQ(dump.extents[0], std::make_pair(6, 12));
    auto& cells = dump.book[0].cells;
    auto cell = [&](int r, int c) { return cells[{r, c}]; };
    EXPECT_EQ(cells.size(), 6u * 12u);
    EXPECT_EQ(cell(0, 0).kind, 'T');
    EXPECT_EQ(cell(0, 0).text, L"VKR-T1");
    EXPECT_EQ(cell(1, 0).kind, 'T');
    EXPECT_EQ(cell(1, 0).text, L"1sec");
    EXPECT_EQ(cell(2, 0).kind, 'T');
    EXPECT_EQ(cell(2, 0).text, std::to_wstring(kT - 2500));
    EXPECT_EQ(cell(0, 11).text, L"Time");
    EXPECT_NE(cell(1, 11).text.find(L"1sec -> 2sec (overruns)"), std::wstring::npos) << wbtest::U8(cell(1, 11).text);
    EXPECT_EQ(cell(2, 11).text, L"ms since 1970 UTC");
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(cell(3 + k, 11).kind, 'N');
        EXPECT_EQ(cell(3 + k, 11).num, static_cast<double>(kTimes[k]));
    }
    for (int j = 1; j <= 10; ++j) {
        EXPECT_EQ(cell(0, j).kind, 'T');
        EXPECT_EQ(cell(0, j).text, sig[static_cast<size_t>(j - 1)].name);
        EXPECT_EQ(cell(1, j).kind, 'N');
        EXPECT_EQ(cell(1, j).num, 0x3000 + j);
        EXPECT_EQ(cell(2, j).kind, 'B');
        EXPECT_EQ(cell(2, j).code, j <= 3 ? 1 : 0);
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(cell(3 + k, 0).kind, 'N');
        EXPECT_EQ(cell(3 + k, 0).num, k + 1);
        for (int j = 1; j <= 10; ++j) {
            EXPECT_EQ(cell(3 + k, j).kind, 'N');
            const double want = j <= 3 ? static_cast<double>(values[k][j - 1]) : j == 6 ? 99.0 : 0.0;
            EXPECT_EQ(cell(3 + k, j).num, want) << "row " << 3 + k << " col " << j;
        }
    }

    // Read back into another store for the same device type.
    const ParamTable table = MakeTable();
    CMonitorBuffer back;
    const LoadResult res = history::CHistoryReader(table, back).Load(wbtest::W(path));
    ASSERT_TRUE(res.accepted) << res.error;
    EXPECT_EQ(res.outcome, LoadResult::Outcome::Loaded);
    EXPECT_TRUE(res.message.empty());
    EXPECT_EQ(res.rows, 3u);
    EXPECT_EQ(res.intervalText, L"1sec");
    EXPECT_EQ(res.startMs, kT - 2500);
    EXPECT_EQ(res.intervalChanges, cell(1, 11).text);
    const std::vector<MonitorSample> held = back.HeldSamples();
    ASSERT_EQ(held.size(), 3u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(held[static_cast<size_t>(k)].timeMs, kTimes[k]);
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(held[static_cast<size_t>(k)].entries[j].valid, 1);
            EXPECT_EQ(held[static_cast<size_t>(k)].entries[j].value, values[k][j]);
        }
        EXPECT_EQ(held[static_cast<size_t>(k)].entries[5].valid, 0) << "unrecorded slots stay invalid";
    }
    const MonitorBufferState st = back.State();
    EXPECT_FALSE(st.continuous);
    EXPECT_EQ(st.model, L"VKR-T1");
    EXPECT_EQ(st.intervalName, L"1sec");
    EXPECT_EQ(res.slotInfo[0].name, L"Output frequency,输出频率");
    EXPECT_TRUE(res.slotInfo[2].recorded);
    EXPECT_FALSE(res.slotInfo[3].recorded);
}

TEST(HistoryFile, SlotsAreMatchedToTheFirstRecordOfTheirAddress) {
    wbtest::TempDir dir;
    const std::string path = dir.file("match.xls");
    CMonitorBuffer store;
    MonitorSignals sig = Slots(10, 10.0f);
    for (int j = 0; j < kMonitorSlots; ++j) sig[static_cast<size_t>(j)].address = static_cast<uint32_t>(0x3001 + j);
    store.Reset(false, L"", L"VKR-T1", L"200ms", sig);
    MonitorSample s;
    for (int j = 0; j < kMonitorSlots; ++j) s.entries[j] = {1, 0.005f, 0};
    s.entries[0].value = 25;  // exponent 0 slot: 10 -> 20 -> 40
    s.entries[8].value = 12;  // no record: starts at 10 -> 20
    ASSERT_TRUE(store.Append(1, s));
    ASSERT_TRUE(store.SaveRange(0, 1, wbtest::W(path)));

    const ParamTable table = MakeTable();
    CMonitorBuffer back;
    const LoadResult res = history::CHistoryReader(table, back).Load(wbtest::W(path));
    ASSERT_EQ(res.outcome, LoadResult::Outcome::Loaded) << res.error;
    const int wantIndex[10] = {0, 1, 2, 3, 4, 5, 6, 7, -1, -1};  // 0x3002 is index 1, not the later 8
    const int32_t wantExp[10] = {0, -1, -2, -3, 0, -1, -2, -3, history::kNoRecordExponent, history::kNoRecordExponent};
    const float wantScale[10] = {40.0f, 1.0f, 0.1f, 0.01f, 10.0f, 1.0f, 0.1f, 0.01f, 20.0f, 10.0f};
    for (int j = 0; j < kMonitorSlots; ++j) {
        const history::SlotInfo& slot = res.slotInfo[static_cast<size_t>(j)];
        EXPECT_EQ(slot.address, static_cast<uint32_t>(0x3001 + j));
        EXPECT_EQ(slot.recordIndex, wantIndex[j]) << "slot " << j + 1;
        EXPECT_EQ(slot.exponent, wantExp[j]) << "slot " << j + 1;
        EXPECT_EQ(slot.scale, wantScale[j]) << "slot " << j + 1;
        EXPECT_EQ(back.Signal(j).scale, wantScale[j]);
        EXPECT_EQ(back.Signal(j).exponent, wantExp[j]);
    }
    // An unmatched slot's values are shown with three decimals.
    EXPECT_EQ(FormatByExponent(back.HeldSamples()[0].entries[8].value, res.slotInfo[8].exponent), L"12.000");
}

TEST(HistoryFile, RowsEndAtTheFirstBreakInTheNumbering) {
    wbtest::TempDir dir;
    const ParamTable table = MakeTable();
    CMonitorBuffer store;

    const std::string gap = dir.file("gap.xls");
    WriteCustom(gap, L"VKR-T1", L"1sec", {1, 2, 4, 5});
    LoadResult res = history::CHistoryReader(table, store).Load(wbtest::W(gap));
    ASSERT_TRUE(res.accepted) << res.error;
    EXPECT_EQ(res.rows, 2u);
    ASSERT_EQ(store.count(), 2u);
    EXPECT_EQ(store.HeldSamples()[1].entries[0].value, 20.0f);
    EXPECT_EQ(store.HeldSamples()[1].timeMs, 1700000002000ULL);

    // A fractional number is taken truncated.
    const std::string frac = dir.file("frac.xls");
    WriteCustom(frac, L"VKR-T1", L"1sec", {1.9, 2.2, 3});
    res = history::CHistoryReader(table, store).Load(wbtest::W(frac));
    EXPECT_EQ(res.rows, 3u);

    const std::string many = dir.file("many.xls");
    WriteCustom(many, L"VKR-T1", L"50ms", Count(12000));
    res = history::CHistoryReader(table, store).Load(wbtest::W(many));
    ASSERT_TRUE(res.accepted) << res.error;
    EXPECT_EQ(res.rows, 10000u);
    EXPECT_EQ(store.count(), 10000u);
    EXPECT_EQ(store.HeldSamples().back().entries[0].value, 100000.0f);
    EXPECT_EQ(store.HeldSamples().back().timeMs, 1700000001000ULL + 50ULL * 9999);
    EXPECT_EQ(store.State().refusedFull, 0u);
    // A value far above the initial scale grew it by doubling.
    EXPECT_EQ(store.Signal(0).scale, 10.0f * 16384);
}

TEST(HistoryFile, UnknownIntervalGivesEveryRowTheStartTime) {
    wbtest::TempDir dir;
    const std::string path = dir.file("unknown.xls");
    WriteCustom(path, L"VKR-T1", L"3sec", Count(4), L"1700000001999");
    const ParamTable table = MakeTable();
    CMonitorBuffer store;
    const LoadResult res = history::CHistoryReader(table, store).Load(wbtest::W(path));
    ASSERT_EQ(res.rows, 4u);
    EXPECT_EQ(res.intervalText, L"3sec");
    for (const MonitorSample& s : store.HeldSamples()) EXPECT_EQ(s.timeMs, 1700000001000ULL);
}

TEST(HistoryFile, AnotherDeviceTypeIsRefusedAndTheStoreKept) {
    wbtest::TempDir dir;
    const std::string path = dir.file("other.xls");
    WriteCustom(path, L"VKR-T1", L"1sec", Count(3));
    const ParamTable table = MakeTable(L"VKR-T2");
    CMonitorBuffer store;
    FillOther(store);
    const LoadResult res = history::CHistoryReader(table, store).Load(wbtest::W(path));
    EXPECT_FALSE(res.accepted);
    EXPECT_EQ(res.outcome, LoadResult::Outcome::ModelMismatch);
    EXPECT_EQ(res.message, L"Device model does not match:VKR-T2    VKR-T1");
    EXPECT_EQ(res.fileModel, L"VKR-T1");
    ExpectUntouched(store);

    // The comparison is exact: letter case counts.
    const ParamTable lower = MakeTable(L"vkr-t1");
    EXPECT_EQ(history::CHistoryReader(lower, store).Load(wbtest::W(path)).outcome,
              LoadResult::Outcome::ModelMismatch);
    ExpectUntouched(store);
}

TEST(HistoryFile, AFileWithoutDataRowsIsAcceptedWithItsMessage) {
    wbtest::TempDir dir;
    const ParamTable table = MakeTable();
    CMonitorBuffer store;
    FillOther(store);
    const std::string empty = dir.file("empty.xls");
    WriteCustom(empty, L"VKR-T1", L"1sec", {});
    LoadResult res = history::CHistoryReader(table, store).Load(wbtest::W(empty));
    EXPECT_TRUE(res.accepted);
    EXPECT_EQ(res.outcome, LoadResult::Outcome::NoData);
    EXPECT_EQ(res.message, L"There is no valid data in the file.");
    EXPECT_EQ(res.rows, 0u);
    EXPECT_EQ(store.count(), 0u);
    EXPECT_FALSE(store.State().continuous);

    // A first data row numbered other than 1 counts as no data as well.
    const std::string wrong = dir.file("wrong.xls");
    WriteCustom(wrong, L"VKR-T1", L"1sec", {2, 3});
    res = history::CHistoryReader(table, store).Load(wbtest::W(wrong));
    EXPECT_EQ(res.outcome, LoadResult::Outcome::NoData);
}

TEST(HistoryFile, UnreadableAndTruncatedFilesAreRefused) {
    wbtest::TempDir dir;
    const ParamTable table = MakeTable();
    CMonitorBuffer store;
    FillOther(store);

    LoadResult res = history::CHistoryReader(table, store).Load(wbtest::W(dir.file("missing.xls")));
    EXPECT_FALSE(res.accepted);
    EXPECT_EQ(res.outcome, LoadResult::Outcome::Unreadable);
    EXPECT_TRUE(res.message.empty());
    EXPECT_FALSE(res.error.empty());

    const std::string junk = dir.file("junk.xls");
    wbtest::writeBytes(junk, std::vector<std::uint8_t>(5000, 0x41));
    res = history::CHistoryReader(table, store).Load(wbtest::W(junk));
    EXPECT_FALSE(res.accepted);
    EXPECT_EQ(res.outcome, LoadResult::Outcome::Unreadable);

    const std::string whole = dir.file("whole.xls");
    WriteCustom(whole, L"VKR-T1", L"1sec", Count(2000));
    const std::vector<std::uint8_t> bytes = wbtest::readBytes(whole);
    for (size_t keep : {bytes.size() / 2, bytes.size() - 700, size_t{600}}) {
        const std::string cut = dir.file("cut.xls");
        wbtest::writeBytes(cut, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep)));
        res = history::CHistoryReader(table, store).Load(wbtest::W(cut));
        EXPECT_FALSE(res.accepted) << "kept " << keep << " bytes";
        EXPECT_EQ(res.outcome, LoadResult::Outcome::Unreadable);
    }
    ExpectUntouched(store);
}

// A history workbook made by another spreadsheet writer (xlwt) with the same
// layout loads like our own.
TEST(HistoryFile, AnXlwtWorkbookLoads) {
    wbtest::TempDir dir;
    const std::string path = dir.file("xlwt_history.xls");
    std::string out;
    ASSERT_TRUE(wbtest::runScript("xlwt history " + wbtest::quote(path), out)) << "xlwt failed";
    ParamTable table = MakeTable(L"VKR-7.5G");
    CMonitorBuffer store;
    const LoadResult res = history::CHistoryReader(table, store).Load(wbtest::W(path));
    ASSERT_TRUE(res.accepted) << res.error;
    EXPECT_EQ(res.rows, 10000u);
    EXPECT_EQ(res.startMs, 1700000000000ULL);
    EXPECT_EQ(res.slotInfo[0].name, L"Signal 1");
    EXPECT_EQ(res.slotInfo[0].address, 1001u);
    EXPECT_TRUE(res.slotInfo[0].recorded);
    EXPECT_FALSE(res.slotInfo[2].recorded);
    const std::vector<MonitorSample> held = store.HeldSamples();
    // Row k, slot j holds (k * j) % 997 / 8 - 40.
    for (uint32_t k : {1u, 500u, 10000u}) {
        const MonitorSample& s = held[k - 1];
        EXPECT_EQ(s.timeMs, 1700000000000ULL + 1000ULL * (k - 1));
        for (int j = 1; j <= 10; ++j) {
            if (j % 3 == 0) {
                EXPECT_EQ(s.entries[j - 1].valid, 0);
                continue;
            }
            EXPECT_EQ(s.entries[j - 1].value, static_cast<float>((k * j) % 997 / 8.0 - 40.0)) << k << "," << j;
        }
    }
}
