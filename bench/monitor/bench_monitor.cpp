// Benchmark of the sample store and the history workbooks.
//
// 1. Continuous recording of 20000 samples at full speed: every append is
//    timed; the automatic saves (every 1000th append) only copy their samples
//    and leave the file to the store's writer thread, so the longest append
//    should stay far below the time of writing one 1000-row workbook, which
//    is timed on its own.
// 2. A live recording with and without its journal: append times (median,
//    longest) at full speed and paced at 1 ms, and the journal's bytes per
//    sample. The journal's writes and fdatasync run on the store's writer
//    thread, so the append only queues a copy.
// 3. A full store (10000 samples of ten signals) saved as a history workbook
//    and read back by the history reader; the same sheet through xlwt and
//    xlrd (Debian's /usr/bin/python3) in the same run.
//
//   bench_monitor [folder]     (default: the system's temporary folder)
#include "HistoryFile.h"
#include "MonitorBuffer.h"
#include "ParamTable.h"
#include "RecordingJournal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <ctime>
#include <vector>

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// CPU time of the calling thread: what an append costs without the time the
// thread waits for a core on a busy machine.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }  // ASCII paths

MonitorSignals signalsOf(float scale) {
    MonitorSignals s;
    for (int j = 0; j < kMonitorSlots; ++j) {
        s[static_cast<size_t>(j)].address = static_cast<uint32_t>(1001 + j);
        s[static_cast<size_t>(j)].name = L"信号" + std::to_wstring(j + 1) + L",Signal " + std::to_wstring(j + 1);
        s[static_cast<size_t>(j)].enabled = 1;
        s[static_cast<size_t>(j)].exponent = -1;
        s[static_cast<size_t>(j)].scale = scale;
    }
    return s;
}

MonitorSample sampleOf(uint32_t k) {
    MonitorSample s;
    for (int j = 0; j < kMonitorSlots; ++j) {
        s.entries[j].valid = 1;
        s.entries[j].value = static_cast<float>(k * 0.37 + j * 1.1);
    }
    return s;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

void recording(const std::string& folder) {
    constexpr uint32_t kSamples = 20000;
    std::atomic<uint64_t> now{1700000000000ULL};
    CMonitorBuffer store;
    store.SetClock([&now] { return now.load(); });
    // Values grow slowly, so the scales double now and then, as in a run-up.
    store.Reset(true, wide(folder + "/"), L"VKR-BENCH", L"50ms", signalsOf(1.0f));

    std::vector<double> all, saving, plain, cpu;
    all.reserve(kSamples);
    const auto t0 = Clock::now();
    for (uint32_t k = 1; k <= kSamples; ++k) {
        now += 1000;  // distinct file names for the automatic saves
        const MonitorSample s = sampleOf(k);
        const double c0 = threadCpuMs();
        const auto a = Clock::now();
        if (!store.Append(k * 50ULL, s)) std::fprintf(stderr, "append %u refused\n", k);
        const double ms = msSince(a);
        cpu.push_back(threadCpuMs() - c0);
        all.push_back(ms);
        (k % kAutoSaveEvery == 0 ? saving : plain).push_back(ms);
    }
    const double appendsMs = msSince(t0);
    const auto w = Clock::now();
    store.WaitAutoSaves(600000);
    const double drainMs = msSince(w);
    const AutoSaveResult last = store.LastAutoSave();

    // One 1000-row save on its own, as it would run inside the append if
    // the file were written while the store is held.
    std::vector<double> saves;
    const HistoryRecording rec = store.CopyRange((store.write() + kMonitorRingSize - 1000) % kMonitorRingSize, 1000);
    for (int i = 0; i < 5; ++i) {
        const auto s0 = Clock::now();
        history::WriteWorkbook(rec, wide(folder + "/bench_1000.xls"));
        saves.push_back(msSince(s0));
    }
    const double saveMs = percentile(saves, 0.5);

    std::printf("Continuous recording, %u samples at full speed (%u automatic saves)\n", kSamples,
                kSamples / kAutoSaveEvery);
    std::printf("  append: median %.4f ms, 99th percentile %.4f ms, longest %.3f ms\n", percentile(all, 0.5),
                percentile(all, 0.99), *std::max_element(all.begin(), all.end()));
    std::printf("  appends that started a save: median %.3f ms, longest %.3f ms\n", percentile(saving, 0.5),
                *std::max_element(saving.begin(), saving.end()));
    std::printf("  appends that started a save, each (ms):");
    for (double v : saving) std::printf(" %.2f", v);
    std::printf("\n");
    std::printf("  append in CPU time of the sampling thread (no waiting for a core): median %.4f ms, longest %.3f ms\n",
                percentile(cpu, 0.5), *std::max_element(cpu.begin(), cpu.end()));
    std::printf("  appends without a save: longest %.3f ms\n", *std::max_element(plain.begin(), plain.end()));
    std::printf("  all appends %.1f ms; writer busy %.1f ms longer; %u saves, last %s\n", appendsMs, drainMs,
                last.sequence, last.ok ? "ok" : last.error.c_str());
    std::printf("  one 1000-row history save: %.2f ms (median of 5); the longest append is %.1f%% of it in wall time, "
                "%.1f%% in CPU time\n",
                saveMs, 100.0 * *std::max_element(all.begin(), all.end()) / saveMs,
                100.0 * *std::max_element(cpu.begin(), cpu.end()) / saveMs);
}

void journalCost(const std::string& folder) {
    constexpr uint32_t kSamples = 10000;
    std::printf("Live recording of %u samples, ten slots, with and without the journal\n", kSamples);
    for (int paced = 0; paced < 2; ++paced) {
        for (int on = 0; on < 2; ++on) {
            CMonitorBuffer store;
            store.EnableJournal(on != 0);
            const uint32_t n = paced ? 2000 : kSamples;
            const uint64_t id =
                store.BeginRecording(false, wide(folder + "/"), L"VKR-BENCH", L"50ms", signalsOf(1e6f));
            store.WaitWriter(10000);
            std::vector<double> t, cpu;
            t.reserve(n);
            cpu.reserve(n);
            for (uint32_t k = 1; k <= n; ++k) {
                const MonitorSample s = sampleOf(k);
                const double c0 = threadCpuMs();
                const auto a = Clock::now();
                store.AppendToRecording(id, 1700000000000ULL + k, s);
                t.push_back(msSince(a));
                cpu.push_back(threadCpuMs() - c0);
                if (paced) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const auto w = Clock::now();
            store.WaitWriter(60000);
            const double drain = msSince(w);
            std::string size;
            if (on) {
                struct stat st {};
                const std::wstring journal = store.JournalPath();
                const std::string path(journal.begin(), journal.end());
                if (::stat(path.c_str(), &st) == 0)
                    size = ", journal " + std::to_string(st.st_size) + " bytes, " +
                           std::to_string(static_cast<double>(st.st_size) / n).substr(0, 5) + " bytes per sample";
                store.Discard(id);
                store.WaitWriter(10000);
            }
            std::printf("  %s, journal %s: append median %.4f ms, 99th percentile %.4f ms, longest %.3f ms "
                        "(CPU time: longest %.3f ms); writer done %.1f ms after the last append%s\n",
                        paced ? "2000 appends 1 ms apart" : "at full speed", on ? "on " : "off",
                        percentile(t, 0.5), percentile(t, 0.99), *std::max_element(t.begin(), t.end()),
                        *std::max_element(cpu.begin(), cpu.end()), drain, size.c_str());
        }
    }
    std::printf("  (a sample record is %u bytes: length, type, time, slot mask, ten values, CRC-32)\n",
                journal::kSampleRecordBytes);
}

void fullFile(const std::string& folder) {
    constexpr uint32_t kRows = 10000;
    CMonitorBuffer store;
    store.Reset(false, L"", L"VKR-7.5G", L"1sec", signalsOf(1.0f));
    for (uint32_t k = 1; k <= kRows; ++k) store.Append(k * 1000ULL, sampleOf(k));
    ParamTable table;
    table.deviceType = L"VKR-7.5G";
    for (int i = 0; i < 10; ++i) {
        ParamRecord r;
        r.index = i;
        r.address = 1001 + i;
        r.exponent = -1;
        table.params.push_back(r);
    }
    const std::string path = folder + "/bench_history_10000.xls";
    std::vector<double> w, r;
    for (int i = 0; i < 5; ++i) {
        auto t = Clock::now();
        if (!store.SaveRange(store.start(), store.count(), wide(path))) std::fprintf(stderr, "save failed\n");
        w.push_back(msSince(t));
        CMonitorBuffer back;
        t = Clock::now();
        const history::LoadResult res = history::CHistoryReader(table, back).Load(wide(path));
        r.push_back(msSince(t));
        if (res.rows != kRows) std::fprintf(stderr, "read %u rows: %s\n", res.rows, res.error.c_str());
    }
    std::printf("History workbook of %u rows x 11 columns (best of 5)\n", kRows);
    std::printf("  write (SaveRange): %.1f ms\n", *std::min_element(w.begin(), w.end()));
    std::printf("  read (history reader, into the store): %.1f ms\n", *std::min_element(r.begin(), r.end()));

    const std::string cmd = std::string("/usr/bin/python3 ") + BENCH_XLWT_SCRIPT + " " + std::to_string(kRows) + " " +
                            folder + "/bench_history_xlwt.xls 3";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return;
    char line[256];
    while (std::fgets(line, sizeof line, p)) std::printf("  %s", line);
    if (::pclose(p) != 0) std::printf("  (xlwt/xlrd not available)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "";
    if (folder.empty()) {
        const char* t = std::getenv("TMPDIR");
        std::string tmpl = std::string(t && *t ? t : "/tmp") + "/bench_monitor_XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (!::mkdtemp(buf.data())) return 1;
        folder = buf.data();
    }
    recording(folder);
    journalCost(folder);
    fullFile(folder);
    std::printf("files in %s\n", folder.c_str());
    return 0;
}
