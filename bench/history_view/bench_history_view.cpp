// Benchmark of the history viewer: a full recording (10000 samples, ten
// signals) written by the store's writer, then loaded the way "Load" does:
// the reader into the store, the table fill, and the chart draw up to a
// painted image, each timed on its own; xlrd (Debian's /usr/bin/python3)
// reading every cell of the same file for comparison. Also saves the view as
// history_view.png for a look.
//
//   QT_QPA_PLATFORM=offscreen bench_history_view [folder]
#include "DialogHisLine.h"
#include "HistoryFile.h"
#include "MonitorBuffer.h"
#include "ParamTable.h"
#include "ReportGrid.h"

#include <QApplication>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string folder = argc > 1 ? argv[1] : "";
    if (folder.empty()) {
        char tmpl[] = "/tmp/bench_history_view_XXXXXX";
        if (!::mkdtemp(tmpl)) return 1;
        folder = tmpl;
    }
    const std::string path = folder + "/recording.xls";

    ParamTable table;
    table.deviceType = L"VKR-BENCH";
    MonitorSignals sig;
    for (int j = 0; j < kMonitorSlots; ++j) {
        ParamRecord r;
        r.index = j;
        r.address = 0x3001 + j;
        r.exponent = -(j % 3);
        table.params.push_back(r);
        sig[static_cast<size_t>(j)].address = static_cast<uint32_t>(r.address);
        sig[static_cast<size_t>(j)].name = L"Signal " + std::to_wstring(j + 1);
        sig[static_cast<size_t>(j)].enabled = 1;
        sig[static_cast<size_t>(j)].exponent = r.exponent;
    }
    {
        CMonitorBuffer writer;
        writer.Reset(false, L"", table.deviceType, L"100ms", sig);
        for (uint32_t k = 0; k < kMonitorRingSize; ++k) {
            MonitorSample s;
            for (int j = 0; j < kMonitorSlots; ++j)
                s.entries[j] = {1, static_cast<float>(50 + 40 * std::sin(k * 0.01 + j)), 0};
            writer.Append(1700000000000ULL + 100ULL * k, s);
        }
        if (!writer.SaveRange(writer.start(), writer.count(), std::wstring(path.begin(), path.end()))) return 1;
    }

    CMonitorBuffer store;
    CDialogHisLine view(nullptr, &store);
    view.SetTable(&table);
    view.resize(1600, 900);
    view.show();
    app.processEvents();

    std::vector<double> rd, tb, ch, all;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        const history::LoadResult res = history::CHistoryReader(table, store).Load(std::wstring(path.begin(), path.end()));
        rd.push_back(msSince(t0));
        if (res.rows != kMonitorRingSize) std::fprintf(stderr, "read %u rows\n", res.rows);
        const auto t1 = Clock::now();
        view.LoadFile(QString::fromStdString(path));  // once more, as the Load button would
        all.push_back(msSince(t1));
        const auto t2 = Clock::now();
        view.FillTable();
        app.processEvents();
        view.Table()->grab();
        tb.push_back(msSince(t2));
        const auto t3 = Clock::now();
        view.DrawChart();
        view.Chart()->grab();
        ch.push_back(msSince(t3));
    }
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("History viewer, %u samples x %d signals (best of 3)\n", kMonitorRingSize, kMonitorSlots);
    std::printf("  reader (workbook into the store): %.1f ms\n", best(rd));
    std::printf("  table fill (rows built, populated, painted): %.1f ms\n", best(tb));
    std::printf("  chart draw (series built, painted): %.1f ms\n", best(ch));
    std::printf("  sum of the three: %.1f ms; whole LoadFile (reader, fill, draw, unpainted): %.1f ms\n",
                best(rd) + best(tb) + best(ch), best(all));
    view.grab().save(QString::fromStdString(folder + "/history_view.png"));

    const std::string cmd = "/usr/bin/python3 -c \"import sys,time,xlrd\n"
                            "t=time.perf_counter()\n"
                            "b=xlrd.open_workbook(sys.argv[1]); s=b.sheet_by_index(0)\n"
                            "n=sum(1 for r in range(s.nrows) for c in range(s.ncols) if s.cell_value(r,c) is not None)\n"
                            "print('  xlrd, open and read every cell: %.1f ms (%d cells)' % ((time.perf_counter()-t)*1000, n))\" " +
                            path;
    std::fflush(stdout);
    if (std::system(cmd.c_str()) != 0) std::printf("  (xlrd not available)\n");
    std::printf("files in %s\n", folder.c_str());
    return 0;
}
