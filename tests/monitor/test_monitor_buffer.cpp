// The sample store: filling and overwriting the ring, automatic saves,
// rescaling, the display reads and appends racing with readers and saves.
#include "MonitorTestUtil.h"

#include "LogBuf.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace montest;

namespace {

// Sample numbers of the held samples, oldest first (every slot must agree).
std::vector<uint32_t> HeldNumbers(const CMonitorBuffer& store) {
    std::vector<uint32_t> out;
    for (const MonitorSample& s : store.HeldSamples()) {
        for (int j = 1; j < kMonitorSlots; ++j) EXPECT_EQ(s.entries[j].value, s.entries[0].value);
        EXPECT_EQ(s.timeMs, static_cast<uint64_t>(s.entries[0].value));
        out.push_back(static_cast<uint32_t>(s.entries[0].value));
    }
    return out;
}

std::vector<uint32_t> Range(uint32_t first, uint32_t last) {
    std::vector<uint32_t> v;
    for (uint32_t k = first; k <= last; ++k) v.push_back(k);
    return v;
}

void AppendNumbered(CMonitorBuffer& store, uint32_t from, uint32_t to, TestClock* clock = nullptr) {
    for (uint32_t k = from; k <= to; ++k) {
        if (clock) clock->now += 1000;
        ASSERT_TRUE(store.Append(k, Numbered(k))) << "append " << k;
    }
}

// The sample numbers and values of a history workbook, read through the
// workbook layer: column A must count 1, 2, 3, ... and every value column
// must hold the sample's number.
std::vector<uint32_t> FileNumbers(const std::wstring& path) {
    std::vector<uint32_t> out;
    wbtest::BookPtr book;
    if (!book->load(path.c_str())) {
        ADD_FAILURE() << "cannot read " << wbtest::U8(path);
        return out;
    }
    xls::Sheet* s = book->getSheet(0);
    for (int r = 3; r < s->lastRow(); ++r) {
        EXPECT_EQ(s->readNum(r, 0), r - 2);
        const double v = s->readNum(r, 1);
        for (int c = 2; c <= 10; ++c) EXPECT_EQ(s->readNum(r, c), v) << "row " << r;
        out.push_back(static_cast<uint32_t>(v));
    }
    return out;
}

}  // namespace

TEST(MonitorBuffer, StartsEmptyAndZeroed) {
    CMonitorBuffer store;
    const MonitorBufferState st = store.State();
    EXPECT_EQ(st.start + st.write + st.count + st.display + st.sinceSave, 0u);
    EXPECT_FALSE(st.continuous);
    EXPECT_FALSE(st.rescaled);
    MonitorSample out;
    EXPECT_FALSE(store.ReadNextForDisplay(out));
    EXPECT_FALSE(store.ReadAt(0, out));
    EXPECT_TRUE(store.HeldSamples().empty());
    EXPECT_FALSE(store.SaveRange(0, 1, L"/nonexistent/x.xls"));
}

TEST(MonitorBuffer, NonContinuousKeepsTheFirstTenThousand) {
    CMonitorBuffer store;
    store.Reset(false, L"", L"VKR-T1", L"1sec", Slots());
    AppendNumbered(store, 1, 10000);
    EXPECT_FALSE(store.Append(10001, Numbered(10001)));
    EXPECT_FALSE(store.Append(10002, Numbered(10002)));
    const MonitorBufferState st = store.State();
    EXPECT_EQ(st.start, 0u);
    EXPECT_EQ(st.write, 0u);
    EXPECT_EQ(st.count, 10000u);
    EXPECT_EQ(st.refusedFull, 2u);
    EXPECT_EQ(st.refusedBusy, 0u);
    EXPECT_EQ(HeldNumbers(store), Range(1, 10000));
    MonitorSample s;
    ASSERT_TRUE(store.ReadAged(9999, s));
    EXPECT_EQ(s.timeMs, 10000u);
    EXPECT_FALSE(store.ReadAged(10000, s));
}

TEST(MonitorBuffer, ContinuousOverwritesTheOldest) {
    TestClock clock;
    wbtest::TempDir dir;
    CMonitorBuffer store;
    store.SetClock(clock.fn());
    store.Reset(true, Wide(dir.path() + "/"), L"VKR-T1", L"1sec", Slots());
    AppendNumbered(store, 1, 10001, &clock);
    const MonitorBufferState st = store.State();
    EXPECT_EQ(st.start, 1u);
    EXPECT_EQ(st.write, 1u);
    EXPECT_EQ(st.count, 10000u);
    EXPECT_EQ(HeldNumbers(store), Range(2, 10001));
    // The replaced ring position now holds sample 10001.
    MonitorSample s;
    ASSERT_TRUE(store.ReadAt(0, s));
    EXPECT_EQ(s.timeMs, 10001u);
    ASSERT_TRUE(store.ReadAt(1, s));
    EXPECT_EQ(s.timeMs, 2u);
    EXPECT_TRUE(store.WaitAutoSaves(60000));
}

TEST(MonitorBuffer, AutomaticSavesHoldExactlyTheirThousandSamples) {
    TestClock clock;
    wbtest::TempDir dir;
    const std::wstring folder = Wide(dir.path() + "/");
    CMonitorBuffer store;
    store.SetClock(clock.fn());
    store.Reset(true, folder, L"VKR-T1", L"1sec", Slots());

    AppendNumbered(store, 1, 999, &clock);
    ASSERT_TRUE(store.WaitAutoSaves(60000));
    EXPECT_EQ(store.LastAutoSave().sequence, 0u) << "no save before the 1000th append";
    EXPECT_EQ(store.sinceSave(), 999u);

    AppendNumbered(store, 1000, 1000, &clock);
    const std::wstring first = CMonitorBuffer::AutoSavePath(folder, L"VKR-T1", clock.now);
    EXPECT_EQ(store.sinceSave(), 0u);
    ASSERT_TRUE(store.WaitAutoSaves(60000));
    AutoSaveResult r = store.LastAutoSave();
    EXPECT_EQ(r.sequence, 1u);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.path, first);
    EXPECT_EQ(FileNumbers(first), Range(1, 1000));
    // xlrd reads the automatic save the same way.
    wbtest::Dump dump;
    ASSERT_TRUE(wbtest::xlrdDump(wbtest::U8(first), dump));
    ASSERT_EQ(dump.extents.size(), 1u);
    EXPECT_EQ(dump.extents[0], std::make_pair(1003, 12));
    // Each row carries its sample's time (here: its number, in ms).
    EXPECT_EQ(dump.book[0].cells[std::make_pair(2, 0)].text, L"0");
    for (int k = 1; k <= 1000; ++k) {
        EXPECT_EQ(dump.book[0].cells[std::make_pair(k + 2, 0)].num, k);
        EXPECT_EQ(dump.book[0].cells[std::make_pair(k + 2, 10)].num, k);
        EXPECT_EQ(dump.book[0].cells[std::make_pair(k + 2, 11)].num, k);
    }

    AppendNumbered(store, 1001, 10000, &clock);
    const std::wstring tenth = CMonitorBuffer::AutoSavePath(folder, L"VKR-T1", clock.now);
    AppendNumbered(store, 10001, 11000, &clock);
    const std::wstring eleventh = CMonitorBuffer::AutoSavePath(folder, L"VKR-T1", clock.now);
    ASSERT_TRUE(store.WaitAutoSaves(60000));
    r = store.LastAutoSave();
    EXPECT_EQ(r.sequence, 11u);
    EXPECT_EQ(r.path, eleventh);
    EXPECT_EQ(FileNumbers(tenth), Range(9001, 10000));
    EXPECT_EQ(FileNumbers(eleventh), Range(10001, 11000));
    // The ring is not disturbed by the saves.
    EXPECT_EQ(HeldNumbers(store), Range(1001, 11000));
}

TEST(MonitorBuffer, AutoSaveFileNameIsModelAndLocalTime) {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    // 2021-03-04 05:06:07 UTC
    EXPECT_EQ(CMonitorBuffer::AutoSavePath(L"/h/", L"X", 1614834367123ULL), L"/h/X2021-03-04 050607.xls");
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
    EXPECT_EQ(CMonitorBuffer::AutoSavePath(L"/h/", L"X", 1614834367123ULL), L"/h/X2021-03-04 060607.xls");
    ::unsetenv("TZ");
    ::tzset();
}

TEST(MonitorBuffer, FailedAutomaticSaveIsKeptAndSamplingGoesOn) {
    TestClock clock;
    wbtest::TempDir dir;
    CMonitorBuffer store;
    store.SetClock(clock.fn());
    // A history folder that does not exist.
    store.Reset(true, Wide(dir.path() + "/missing/"), L"VKR-T1", L"1sec", Slots());
    AppendNumbered(store, 1, 1500, &clock);
    ASSERT_TRUE(store.WaitAutoSaves(60000));
    AutoSaveResult r = store.LastAutoSave();
    EXPECT_EQ(r.sequence, 1u);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());
    EXPECT_NE(r.path.find(L"/missing/VKR-T1"), std::wstring::npos);
    EXPECT_EQ(store.count(), 1500u);
    EXPECT_EQ(HeldNumbers(store), Range(1, 1500));

    // The next save into a folder that now exists succeeds and says so.
    ASSERT_EQ(::mkdir((dir.path() + "/missing").c_str(), 0700), 0);
    AppendNumbered(store, 1501, 2000, &clock);
    ASSERT_TRUE(store.WaitAutoSaves(60000));
    r = store.LastAutoSave();
    EXPECT_EQ(r.sequence, 2u);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(FileNumbers(r.path), Range(1001, 2000));
}

// Both outcomes of an automatic save reach the run-info log.
TEST(MonitorBuffer, AutomaticSavesAreWrittenToTheRunInfoLog) {
    wbtest::TempDir dir;
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    ASSERT_EQ(::mkdir("log", 0700), 0);
    ASSERT_EQ(::mkdir("history", 0700), 0);
    LOG_UnInit();
    LOG_SetOutput(false, true);
    ::testing::internal::CaptureStderr();  // the missing system configuration is reported there
    ASSERT_TRUE(LOG_Init("VKR"));
    {
        TestClock clock;
        CMonitorBuffer store;
        store.SetClock(clock.fn());
        store.Reset(true, L"nohistory/", L"VKR-T1", L"1sec", Slots());
        AppendNumbered(store, 1, 1000, &clock);
        ASSERT_TRUE(store.WaitAutoSaves(60000));
        store.Reset(true, L"history/", L"VKR-T1", L"1sec", Slots());
        AppendNumbered(store, 1, 1000, &clock);
        ASSERT_TRUE(store.WaitAutoSaves(60000));
        EXPECT_TRUE(store.LastAutoSave().ok);
    }
    auto read = [] {
        std::ifstream f("log/VKR_0.txt", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    };
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text = read();
        if (text.find("history saved") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));  // polling the file the log writer fills
    }
    LOG_UnInit();
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_NE(text.find("Monitor history save failed: nohistory/VKR-T1"), std::string::npos) << text;
    EXPECT_NE(text.find("Monitor history saved: history/VKR-T1"), std::string::npos) << text;
}

TEST(MonitorBuffer, SavesQueuedAtDestructionAreStillWritten) {
    TestClock clock;
    wbtest::TempDir dir;
    const std::wstring folder = Wide(dir.path() + "/");
    std::vector<std::wstring> paths;
    {
        CMonitorBuffer store;
        store.SetClock(clock.fn());
        store.Reset(true, folder, L"VKR-T1", L"1sec", Slots());
        for (uint32_t block = 0; block < 3; ++block) {
            AppendNumbered(store, block * 1000 + 1, block * 1000 + 1000, &clock);
            paths.push_back(CMonitorBuffer::AutoSavePath(folder, L"VKR-T1", clock.now));
        }
    }
    for (uint32_t block = 0; block < 3; ++block)
        EXPECT_EQ(FileNumbers(paths[block]), Range(block * 1000 + 1, block * 1000 + 1000));
}

TEST(MonitorBuffer, RescaleDoublesUntilTheValueFits) {
    CMonitorBuffer store;
    MonitorSignals sig = Slots(3, 0, 0);  // scale 0 is replaced by the initial 10
    sig[2].enabled = 0;
    store.Reset(false, L"", L"VKR-T1", L"1sec", sig);
    EXPECT_EQ(store.Signal(0).scale, 10.0f);

    MonitorSample s;
    s.entries[0] = {1, 5.0f, 0};
    s.entries[1] = {1, 10.0f, 0};  // equal to the scale: fits
    s.entries[2] = {1, 99.0f, 0};  // not recorded: never rescales
    ASSERT_TRUE(store.Append(1, s));
    EXPECT_FALSE(store.rescaled());
    EXPECT_EQ(store.Signal(1).scale, 10.0f);
    EXPECT_EQ(store.Signal(2).scale, 10.0f);

    MonitorSample got;
    ASSERT_TRUE(store.ReadNextForDisplay(got));
    EXPECT_FLOAT_EQ(got.entries[0].percent, 50.0f);
    EXPECT_FLOAT_EQ(got.entries[1].percent, 100.0f);
    store.AdvanceDisplay();

    s.entries[0] = {1, 10.5f, 0};
    s.entries[1] = {1, 41.0f, 0};
    ASSERT_TRUE(store.Append(2, s));
    EXPECT_EQ(store.Signal(0).scale, 20.0f);
    EXPECT_EQ(store.Signal(1).scale, 80.0f);
    EXPECT_TRUE(store.rescaled());
    const std::vector<MonitorSample> held = store.HeldSamples();
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[1].entries[0].percent, 52.5f);
    EXPECT_EQ(held[1].entries[1].percent, 51.25f);
    // Older samples are recomputed at the new scale.
    EXPECT_EQ(held[0].entries[0].percent, 25.0f);
    EXPECT_EQ(held[0].entries[1].percent, 12.5f);

    // Negative values never rescale and plot below 0 %.
    s.entries[0] = {1, -100.0f, 0};
    s.entries[1] = {1, 80.0f, 0};
    store.TakeRescaled();
    ASSERT_TRUE(store.Append(3, s));
    EXPECT_FALSE(store.rescaled());
    EXPECT_EQ(store.Signal(0).scale, 20.0f);
    EXPECT_EQ(store.HeldSamples()[2].entries[0].percent, -500.0f);
}

TEST(MonitorBuffer, RescaleIsSeenByTheNextDisplayTick) {
    CMonitorBuffer store;
    store.Reset(false, L"", L"VKR-T1", L"1sec", Slots(1, 10.0f));
    MonitorSample got;
    for (uint32_t k = 1; k <= 3; ++k) {
        MonitorSample s;
        s.entries[0] = {1, 1.0f, 0};
        ASSERT_TRUE(store.Append(k, s));
    }
    // The chart drew one of three samples, then a rescale comes with no
    // append after it.
    ASSERT_TRUE(store.ReadNextForDisplay(got));
    store.AdvanceDisplay();
    MonitorSample big;
    big.entries[0] = {1, 15.0f, 0};
    ASSERT_TRUE(store.Append(4, big));
    EXPECT_EQ(store.display(), store.write());
    EXPECT_FALSE(store.ReadNextForDisplay(got)) << "a rescale sets display to write";
    EXPECT_TRUE(store.TakeRescaled()) << "the next tick sees the rescale";
    EXPECT_FALSE(store.rescaled());

    // Two appends between ticks, the first with rescale: still one redraw.
    big.entries[0] = {1, 30.0f, 0};
    ASSERT_TRUE(store.Append(5, big));
    MonitorSample small;
    small.entries[0] = {1, 2.0f, 0};
    ASSERT_TRUE(store.Append(6, small));
    EXPECT_TRUE(store.TakeRescaled());
    EXPECT_FALSE(store.TakeRescaled());
    // After the redraw the chart reads only what comes next.
    ASSERT_TRUE(store.Append(7, small));
    ASSERT_TRUE(store.ReadNextForDisplay(got));
    EXPECT_EQ(got.timeMs, 6u);
    store.AdvanceDisplay();
    ASSERT_TRUE(store.ReadNextForDisplay(got));
    EXPECT_EQ(got.timeMs, 7u);
    store.AdvanceDisplay();
    EXPECT_FALSE(store.ReadNextForDisplay(got));
    store.AdvanceDisplay();
    EXPECT_EQ(store.display(), store.write());
}

TEST(MonitorBuffer, ResetStartsANewRecording) {
    CMonitorBuffer store;
    store.Reset(false, L"", L"VKR-T1", L"1sec", Slots(1, 10.0f));
    MonitorSample s;
    s.entries[0] = {1, 50.0f, 0};
    ASSERT_TRUE(store.Append(1, s));
    ASSERT_TRUE(store.rescaled());
    MonitorSignals sig = Slots(2, 10.0f, -2);
    sig[0].name = std::wstring(200, L'n');
    sig[1].scale = -1;
    store.Reset(true, L"/f/", std::wstring(130, L'm'), L"500ms", sig);
    const MonitorBufferState st = store.State();
    EXPECT_EQ(st.count + st.start + st.write + st.display + st.sinceSave, 0u);
    EXPECT_FALSE(st.rescaled);
    EXPECT_TRUE(st.continuous);
    EXPECT_EQ(st.model.size(), 127u);
    EXPECT_EQ(st.intervalName, L"500ms");
    EXPECT_EQ(store.Signal(0).name.size(), 127u);
    EXPECT_EQ(store.Signal(1).scale, 0.1f);
    EXPECT_EQ(store.Signal(0).scale, 10.0f);
    EXPECT_TRUE(store.HeldSamples().empty());
}

TEST(MonitorBuffer, SaveRangeRefusesWhatIsNotHeld) {
    wbtest::TempDir dir;
    CMonitorBuffer store;
    store.Reset(false, L"", L"VKR-T1", L"1sec", Slots());
    AppendNumbered(store, 1, 10);
    std::string err;
    EXPECT_FALSE(store.SaveRange(0, 0, Wide(dir.file("a.xls")), &err));
    EXPECT_FALSE(store.SaveRange(0, 11, Wide(dir.file("a.xls")), &err));
    EXPECT_FALSE(store.SaveRange(5, 6, Wide(dir.file("a.xls")), &err));
    EXPECT_FALSE(store.SaveRange(0, 10, Wide(dir.file("no/such/folder.xls")), &err));
    EXPECT_FALSE(err.empty());
    ASSERT_TRUE(store.SaveRange(5, 5, Wide(dir.file("a.xls")), &err)) << err;
    EXPECT_EQ(FileNumbers(Wide(dir.file("a.xls"))), Range(6, 10));
}

// The sampling thread appends (continuous, with automatic saves) while the
// GUI thread draws, redraws, looks up hovered samples and saves by hand.
// Every sample carries its number in every slot and as its time: a torn copy
// or a lost or doubled sample shows as a mismatch or a gap.
TEST(MonitorBuffer, AppendsRacingWithReadersAndSavesLoseNothing) {
    TestClock clock;
    wbtest::TempDir dir;
    const std::wstring folder = Wide(dir.path() + "/");
    CMonitorBuffer store;
    store.SetClock(clock.fn());
    store.Reset(true, folder, L"VKR-T1", L"50ms", Slots());
    constexpr uint32_t kTotal = 25000;
    std::atomic<bool> done{false};
    std::atomic<uint32_t> refused{0};
    std::atomic<uint32_t> loops{0};

    std::atomic<uint32_t> appended{0};
    std::thread sampler([&] {
        for (uint32_t k = 1; k <= kTotal; ++k) {
            clock.now += 1000;
            if (!store.Append(k, Numbered(k))) ++refused;
            appended = k;
            if (k % 250 == 0) {
                // Let the reader side run a round between bursts, so the
                // appends really interleave with its reads and saves.
                const uint32_t seen = loops.load();
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (loops.load() == seen && std::chrono::steady_clock::now() < until) std::this_thread::yield();
            }
        }
        done = true;
    });

    // A failed assertion leaves the loop early: the sampler still ends.
    struct Joiner {
        std::thread* t;
        ~Joiner() {
            if (t && t->joinable()) t->join();
        }
        void release() { t = nullptr; }
    } joiner{&sampler};
    uint64_t lastDrawn = 0;
    uint32_t draws = 0, redraws = 0, saves = 0, nextSave = 0;
    std::vector<MonitorSample> held;
    auto consistent = [](const MonitorSample& s) {
        for (int j = 0; j < kMonitorSlots; ++j)
            if (s.entries[j].valid != 1 || s.entries[j].value != static_cast<float>(s.timeMs)) return false;
        return true;
    };
    while (!done.load()) {
        MonitorSample s;
        for (int i = 0; i < 50 && store.ReadNextForDisplay(s); ++i) {
            ASSERT_TRUE(consistent(s)) << "torn sample " << s.timeMs;
            ASSERT_GT(s.timeMs, lastDrawn);
            lastDrawn = s.timeMs;
            store.AdvanceDisplay();
            ++draws;
        }
        store.CopyHeld(held);
        for (size_t i = 0; i < held.size(); ++i) {
            ASSERT_TRUE(consistent(held[i])) << "torn held sample " << held[i].timeMs;
            if (i) {
                ASSERT_EQ(held[i].timeMs, held[i - 1].timeMs + 1) << "gap in the held samples";
            }
        }
        ++redraws;
        const MonitorBufferState st = store.State();
        if (st.count >= 500 && redraws >= nextSave) {
            nextSave = redraws + 5;
            // "Save Data" of the latest 500 while the ring moves on.
            const uint32_t first = (st.write + kMonitorRingSize - 500) % kMonitorRingSize;
            const std::wstring path = Wide(dir.file("manual" + std::to_string(saves) + ".xls"));
            std::string err;
            ASSERT_TRUE(store.SaveRange(first, 500, path, &err)) << err;
            const std::vector<uint32_t> nums = FileNumbers(path);
            ASSERT_EQ(nums.size(), 500u);
            for (size_t i = 1; i < nums.size(); ++i) ASSERT_EQ(nums[i], nums[i - 1] + 1);
            ++saves;
        }
        ++loops;
        // One round per new sample at most: the reader side must not keep
        // the store busy the way no view ever does.
        const uint32_t seen = appended.load();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done.load() && appended.load() == seen && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }
    joiner.release();
    sampler.join();
    ASSERT_TRUE(store.WaitAutoSaves(120000));
    EXPECT_EQ(refused.load(), 0u);
    EXPECT_EQ(HeldNumbers(store), Range(kTotal - 9999, kTotal));
    EXPECT_EQ(store.LastAutoSave().sequence, kTotal / 1000);
    EXPECT_TRUE(store.LastAutoSave().ok) << store.LastAutoSave().error;
    EXPECT_EQ(FileNumbers(store.LastAutoSave().path), Range(kTotal - 999, kTotal));
    EXPECT_GT(draws, 0u);
    EXPECT_GT(redraws, 0u);
    std::printf("draws %u, redraws %u, manual saves %u\n", draws, redraws, saves);
}

TEST(MonitorBuffer, TheRecordingsStateAndWhatIsUnsaved) {
    wbtest::TempDir dir;
    CMonitorBuffer store;
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Idle);
    const uint64_t id = store.BeginRecording(true, Wide(dir.path() + "/"), L"VKR-T1", L"1sec", Slots());
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Logging);
    for (uint32_t k = 1; k <= 1003; ++k) ASSERT_TRUE(store.AppendToRecording(id, k, Numbered(k)));
    ASSERT_TRUE(store.WaitAutoSaves(60000));
    // Continuous: the automatic save holds the first 1000.
    EXPECT_EQ(store.Recording().unsaved, 3u);
    store.EndLogging(id + 1);  // another recording's end changes nothing
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Logging);
    store.EndLogging(id);
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Stopped);
    EXPECT_FALSE(store.AppendToRecording(id, 2000, Numbered(2000))) << "nothing after the stop";
    EXPECT_EQ(store.count(), 1003u);
    ASSERT_TRUE(store.SaveRecording(Wide(dir.file("all.xls"))));
    const RecordingState rec = store.Recording();
    EXPECT_EQ(rec.phase, RecordingPhase::Saved);
    EXPECT_EQ(rec.unsaved, 0u);
    EXPECT_EQ(rec.savedPath, Wide(dir.file("all.xls")));
    EXPECT_EQ(FileNumbers(rec.savedPath), Range(1, 1003));

    const uint64_t next = store.BeginRecording(false, L"", L"VKR-T1", L"1sec", Slots());
    ASSERT_TRUE(store.AppendToRecording(next, 1, Numbered(1)));
    EXPECT_EQ(store.Recording().unsaved, 1u);
    store.Discard(next);
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Idle);
    EXPECT_EQ(store.Recording().unsaved, 0u);
}
