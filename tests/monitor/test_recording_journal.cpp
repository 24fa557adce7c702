// The journal of a live recording: what a damaged one still gives back, when
// the store removes it, and a recording process killed in the middle of a log.
#include "MonitorTestUtil.h"
#include "RecordingJournal.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

using namespace montest;

namespace {

constexpr uint64_t kT0 = 1700000000250ULL;

std::string Folder(const wbtest::TempDir& dir) { return dir.path() + "/"; }

// A journalled recording of n numbered samples at kT0 + 100 k + k (uneven
// times, so each must be the sample's own).
std::wstring Record(CMonitorBuffer& store, const std::string& folder, uint32_t n, bool continuous = false) {
    store.EnableJournal(true);
    const uint64_t id = store.BeginRecording(continuous, Wide(folder), L"VKR-T1", L"100ms", Slots(10));
    for (uint32_t k = 1; k <= n; ++k) EXPECT_TRUE(store.AppendToRecording(id, kT0 + 101 * k, Numbered(k)));
    EXPECT_TRUE(store.WaitWriter(5000));
    return store.JournalPath();
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void ExpectNumbered(const journal::Contents& c, uint32_t n) {
    ASSERT_EQ(c.samples.size(), n);
    for (uint32_t k = 1; k <= n; ++k) {
        EXPECT_EQ(c.samples[k - 1].timeMs, kT0 + 101 * k);
        for (int j = 0; j < kMonitorSlots; ++j) {
            EXPECT_EQ(c.samples[k - 1].entries[j].valid, 1);
            EXPECT_EQ(c.samples[k - 1].entries[j].value, static_cast<float>(k));
        }
    }
}

}  // namespace

// A journal cut inside record 15, and one with a byte of record 8 flipped:
// the whole records before the damage come back, nothing after it.
TEST(RecordingJournal, DamageEndsTheRecoveredSamples) {
    wbtest::TempDir dir;
    CMonitorBuffer store;
    const std::wstring path = Record(store, Folder(dir), 20);
    ASSERT_FALSE(path.empty());
    const std::string bytes = ReadBytes(wbtest::U8(path));
    const size_t headerEnd = bytes.size() - 20 * journal::kSampleRecordBytes;

    journal::Contents whole;
    ASSERT_TRUE(journal::Read(path, whole));
    EXPECT_FALSE(whole.damaged);
    EXPECT_EQ(whole.header.model, L"VKR-T1");
    EXPECT_EQ(whole.header.intervalName, L"100ms");
    EXPECT_EQ(whole.header.signalSet[9].address, 0x300Au);
    EXPECT_EQ(whole.header.signalSet[9].name, L"Signal 10");
    ExpectNumbered(whole, 20);

    const std::string cut = dir.file("cut.journal");
    WriteBytes(cut, bytes.substr(0, headerEnd + 14 * journal::kSampleRecordBytes + 30));
    journal::Contents c;
    ASSERT_TRUE(journal::Read(Wide(cut), c));
    EXPECT_TRUE(c.damaged);
    ExpectNumbered(c, 14);

    std::string flipped = bytes;
    flipped[headerEnd + 7 * journal::kSampleRecordBytes + 20] ^= 0x10;
    const std::string bad = dir.file("flipped.journal");
    WriteBytes(bad, flipped);
    ASSERT_TRUE(journal::Read(Wide(bad), c));
    EXPECT_TRUE(c.damaged);
    EXPECT_EQ(c.damageOffset, headerEnd + 7 * journal::kSampleRecordBytes);
    ExpectNumbered(c, 7);

    // A damaged header leaves nothing to trust.
    flipped = bytes;
    flipped[12] ^= 0x01;
    WriteBytes(bad, flipped);
    std::string err;
    EXPECT_FALSE(journal::Read(Wide(bad), c, &err));
    EXPECT_NE(err.find("header"), std::string::npos) << err;
}

// Saving removes the journal; so does discarding. A journal of a recording
// that was neither stays, and is found only once no log holds it.
TEST(RecordingJournal, SaveAndDiscardRemoveItOtherwiseItStays) {
    wbtest::TempDir dir;
    {
        CMonitorBuffer store;
        const std::wstring saved = Record(store, Folder(dir), 3);
        store.EndLogging(store.Recording().id);
        ASSERT_TRUE(store.SaveRecording(Wide(dir.file("run.xls"))));
        ASSERT_TRUE(store.WaitWriter(5000));
        EXPECT_NE(::access(wbtest::U8(saved).c_str(), F_OK), 0);

        const std::wstring discarded = Record(store, Folder(dir), 3);
        store.Discard(store.Recording().id);
        ASSERT_TRUE(store.WaitWriter(5000));
        EXPECT_NE(::access(wbtest::U8(discarded).c_str(), F_OK), 0);

        const std::wstring kept = Record(store, Folder(dir), 4);
        store.NoteIntervalChange(kT0 + 450, L"2sec", L"overruns");
        EXPECT_TRUE(journal::FindLeftBehind(Wide(Folder(dir))).empty()) << "held by the running log";
        store.Reset(false, L"", L"", L"1sec", Slots());  // e.g. a history loaded over it
        ASSERT_TRUE(store.WaitWriter(5000));
        const auto left = journal::FindLeftBehind(Wide(Folder(dir)));
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0], kept);

        std::wstring written;
        std::string err;
        ASSERT_TRUE(journal::Recover(kept, Wide(Folder(dir)), &written, &err)) << err;
        EXPECT_NE(::access(wbtest::U8(kept).c_str(), F_OK), 0);
        CMonitorBuffer back;
        const history::LoadResult r = history::CHistoryReader(MakeTable(), back).Load(written);
        ASSERT_TRUE(r.accepted) << r.error;
        ASSERT_EQ(back.count(), 4u);
        EXPECT_EQ(back.HeldSamples()[3].timeMs, kT0 + 404);
        EXPECT_NE(r.intervalChanges.find(L"100ms -> 2sec (overruns)"), std::wstring::npos) << wbtest::U8(r.intervalChanges);
    }
}

// Continuous recording: once an automatic save holds the first 1000 samples,
// the journal holds only the samples after them.
TEST(RecordingJournal, ContinuousJournalStartsOverAfterEachAutomaticSave) {
    wbtest::TempDir dir;
    CMonitorBuffer store;
    const std::wstring path = Record(store, Folder(dir), 1003, true);
    ASSERT_TRUE(store.LastAutoSave().ok) << store.LastAutoSave().error;
    journal::Contents c;
    ASSERT_TRUE(journal::Read(path, c));
    ASSERT_EQ(c.samples.size(), 3u);
    EXPECT_EQ(c.samples[0].timeMs, kT0 + 101 * 1001);
}

// A recording process killed (SIGKILL) during a 100 ms log of ten slots: the
// recovered history file, read by xlrd, holds every sample the process had
// taken up to 1 s before the kill, each with its recorded time and values.
// The recording process of the next test: started by it (the test program
// run again with this test alone), it records until it is killed and tells
// each sample's time through a pipe. Skipped when run on its own.
TEST(RecordingJournal, RecorderProcess) {
    const char* how = std::getenv("TORVANE_TEST_RECORDER");  // "<fd> <folder>"
    if (!how) GTEST_SKIP() << "started by KilledRecordingIsRecoveredUpToTheLastSecond";
    char* rest = nullptr;
    const int fd = static_cast<int>(std::strtol(how, &rest, 10));
    const std::string folder = rest + 1;
    CMonitorBuffer store;
    store.EnableJournal(true);
    const uint64_t id = store.BeginRecording(false, Wide(folder), L"VKR-T1", L"100ms", Slots(10));
    for (uint32_t k = 1;; ++k) {
        const uint64_t t = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
        store.AppendToRecording(id, t, Numbered(k));
        if (::write(fd, &t, sizeof t) != sizeof t) ::_exit(2);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

TEST(RecordingJournal, KilledRecordingIsRecoveredUpToTheLastSecond) {
    wbtest::TempDir dir;
    const std::string folder = Folder(dir);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string how = std::to_string(fds[1]) + " " + folder;
    char exe[4096];
    const ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(len, 0);
    exe[len] = 0;
    std::string env = "TORVANE_TEST_RECORDER=" + how;
    std::string filter = "--gtest_filter=RecordingJournal.RecorderProcess";
    char* argv[] = {exe, filter.data(), nullptr};
    char* envp[] = {env.data(), nullptr};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only exec after fork: the recorder is a process of its own.
        ::close(fds[0]);
        ::execve(exe, argv, envp);
        ::_exit(127);
    }
    ::close(fds[1]);
    std::vector<uint64_t> taken;
    uint64_t t = 0;
    while (taken.size() < 30 && ::read(fds[0], &t, sizeof t) == sizeof t) taken.push_back(t);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(fds[0]);
    ASSERT_EQ(taken.size(), 30u);

    const auto left = journal::FindLeftBehind(Wide(folder));
    ASSERT_EQ(left.size(), 1u);
    std::wstring written;
    std::string err;
    ASSERT_TRUE(journal::Recover(left[0], Wide(folder), &written, &err)) << err;

    wbtest::Dump dump;
    ASSERT_TRUE(wbtest::xlrdDump(wbtest::U8(written), dump));
    ASSERT_EQ(dump.book.size(), 1u);
    const int rows = dump.extents[0].first - 3;
    auto& cells = dump.book[0].cells;
    auto cell = [&](int r, int c) { return cells[{r, c}]; };
    // At most the last second (ten samples) may be missing; one more than
    // reported may have been appended just before the kill.
    EXPECT_GE(rows, 30 - 10);
    EXPECT_LE(rows, 31);
    for (int k = 1; k <= std::min(rows, 30); ++k) {
        EXPECT_EQ(cell(2 + k, 0).num, k);
        EXPECT_EQ(cell(2 + k, 11).num, static_cast<double>(taken[static_cast<size_t>(k - 1)])) << "row " << k;
        for (int j = 1; j <= 10; ++j) EXPECT_EQ(cell(2 + k, j).num, k) << "row " << k << " col " << j;
    }
    EXPECT_EQ(cell(0, 0).text, L"VKR-T1");
    EXPECT_EQ(cell(1, 0).text, L"100ms");
}
