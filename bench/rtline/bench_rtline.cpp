// Figures of the real-time monitor:
//   1. the chart: one step of ten series (a point each, the window following
//      the newest point, painted) and a full redraw of 10 x 10000 points;
//   2. sampling against the drive simulator on a pseudo-terminal, paced at
//      9600 baud: the sweep time (slots and the two status reads) for 1, 5
//      and 10 slots next to (slots + 2) x the single-request time, and the
//      shortest interval that holds without overruns;
//   3. the GUI during a "50ms" log of ten slots in the monitor view: the
//      longest lateness of a 1 ms timer.
//
//   QT_QPA_PLATFORM=offscreen bench_rtline [seconds of the GUI run, default 10]
#include "ChartControl.h"
#include "DialogRTLine.h"
#include "DriveControl.h"
#include "LanguageTables.h"
#include "MonitorBuffer.h"
#include "MonitorIntervals.h"
#include "ParamTable.h"
#include "RealTimeSampler.h"
#include "RegisterAccess.h"
#include "Simulator.h"
#include "TorvaneApp.h"
#include "WideText.h"

#include <QApplication>
#include <QComboBox>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Stats {
    double median = 0, max = 0, mean = 0;
};

Stats Summarise(std::vector<double> v)
{
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.max = v.back();
    double sum = 0;
    for (double x : v) sum += x;
    s.mean = sum / static_cast<double>(v.size());
    return s;
}

void BenchChart()
{
    CVKRChartControl chart;
    chart.resize(1200, 500);
    chart.SetRange(ChartAxis::Value, 0, 100.1);
    chart.SetAutoRange(ChartAxis::Value, false);
    chart.SetRange(ChartAxis::Time, 0, 100.1);
    chart.SetAutoRange(ChartAxis::Time, false);
    chart.show();
    auto addSeries = [&] {
        chart.RemoveAllSeries();
        for (int s = 0; s < 10; ++s) {
            CChartSeriesStyle st;
            st.kind = ChartSeriesKind::FastLine;
            st.color = QColor::fromHsv(s * 36, 255, 200);
            chart.AddSeries(QStringLiteral("Series"), st);
        }
    };
    auto value = [](int s, int k) { return 50.0 + 40.0 * std::sin(0.01 * k + s); };

    // Steps with a long history (5000 points per series), as in a long log.
    addSeries();
    for (int s = 0; s < 10; ++s) {
        QVector<QPointF> pts;
        for (int k = 0; k < 5000; ++k) pts.append(QPointF(k, value(s, k)));
        chart.AddPoints(s, pts);
    }
    chart.SetRangeMaximum(ChartAxis::Time, 4999);
    chart.SetVisibleRange(ChartAxis::Time, 4999 - 100.1, 4999);
    QPixmap frame(chart.size());
    chart.QWidget::render(&frame);
    std::vector<double> steps, paints;
    for (int k = 5000; k < 5300; ++k) {
        const Clock::time_point t0 = Clock::now();
        for (int s = 0; s < 10; ++s) chart.AddPoint(s, chart.PointCount(s), value(s, k));
        const double w = chart.VisibleMaximum(ChartAxis::Time) - chart.VisibleMinimum(ChartAxis::Time);
        chart.SetRangeMaximum(ChartAxis::Time, k);
        chart.SetVisibleRange(ChartAxis::Time, k - w, k);
        chart.Flush();
        steps.push_back(MsSince(t0));
        const Clock::time_point t1 = Clock::now();
        chart.QWidget::render(&frame);
        paints.push_back(MsSince(t1));
    }
    const Stats st = Summarise(steps);
    const Stats pt = Summarise(paints);
    std::printf("chart step, 10 series (add a point each, follow, hand to the drawing series): median %.2f ms, "
                "max %.2f ms (aim < 2 ms)\n", st.median, st.max);
    std::printf("paint of the chart after a step (1200 x 500, software raster): median %.2f ms, max %.2f ms\n",
                pt.median, pt.max);

    std::vector<double> redraws;
    for (int rep = 0; rep < 5; ++rep) {
        const Clock::time_point t0 = Clock::now();
        addSeries();
        for (int s = 0; s < 10; ++s) {
            QVector<QPointF> pts;
            pts.reserve(10000);
            for (int k = 0; k < 10000; ++k) pts.append(QPointF(k, value(s, k + rep)));
            chart.AddPoints(s, pts);
        }
        chart.SetRangeMaximum(ChartAxis::Time, 10000);
        chart.SetVisibleRange(ChartAxis::Time, 10000 - 100.1, 10000);
        chart.Flush();
        chart.QWidget::render(&frame);
        redraws.push_back(MsSince(t0));
    }
    const Stats rd = Summarise(redraws);
    std::printf("full redraw, 10 x 10000 points (rebuild, add, paint): median %.1f ms, max %.1f ms (aim < 200 ms)\n",
                rd.median, rd.max);
    // The whole range on screen: every point is drawn (thinned per pixel column).
    const Clock::time_point t0 = Clock::now();
    chart.SetVisibleRangeAuto(ChartAxis::Time, true);
    chart.Flush();
    chart.QWidget::render(&frame);
    std::printf("paint of all 10 x 10000 points zoomed out: %.1f ms\n", MsSince(t0));
}

// A simulated drive paced at 9600 baud and the application connected to it.
struct Rig {
    QTemporaryDir dir;
    std::unique_ptr<drivesim::Simulator> sim;
    std::unique_ptr<LanguageTables> language;
    std::unique_ptr<CTorvaneApp> app;
    ParamTable table;
    bool ok = false;

    Rig()
    {
        const std::wstring program = QString(TORVANE_SAMPLE_PROGRAM_DIR).toStdWString();
        const std::wstring workbook = program + L"Parameter/TV380.xls";
        if (!table.Load(workbook)) return;
        drivesim::SimOptions o;
        o.startMode = drivesim::Mode::Normal;
        o.pace = true;
        std::string err;
        if (!drivesim::loadParamWorkbook(wtext::ToUtf8(workbook), &o.params, &err)) return;
        sim = std::make_unique<drivesim::Simulator>(o);
        if (!sim->start(&err)) return;
        setenv("TORVANE_COM9", sim->slavePath().c_str(), 1);
        const std::wstring folder = (dir.path() + QStringLiteral("/")).toStdWString();
        language = std::make_unique<LanguageTables>(folder);
        app = std::make_unique<CTorvaneApp>(folder, language.get());
        ConnectionSettings& s = app->Settings();
        s.COMID = L"9";
        s.bautRate = L"9600";
        s.DataBit = L"8";
        s.Parity = L"2,EVEN,\u5076";
        s.devAddr = L"1";
        s.OutTime = L"1000";
        s.CmdBay = L"200";
        ok = app->ConnectNormal();
    }
    ~Rig()
    {
        app.reset();
        if (sim) sim->stop();
    }
    std::vector<const ParamRecord*> Monitors() const
    {
        std::vector<const ParamRecord*> out;
        for (const ParamRecord& r : table.params)
            if (r.groupNumber == 9) out.push_back(&r);
        return out;
    }
};

void BenchSampling(Rig& rig)
{
    const auto records = rig.Monitors();
    std::vector<double> single;
    for (int i = 0; i < 100; ++i) {
        double v = 0;
        uint8_t err = 0;
        const Clock::time_point t0 = Clock::now();
        if (regaccess::ReadValue(ModbusPort(), 1, *records[0], &v, &err)) single.push_back(MsSince(t0));
    }
    const Stats one = Summarise(single);
    std::printf("single request (read one register, 9600 baud paced): median %.1f ms, mean %.1f ms, max %.1f ms\n",
                one.median, one.mean, one.max);

    for (int nslots : {1, 5, 10}) {
        monitor::SlotPlans plans;
        for (int i = 0; i < nslots; ++i) {
            plans[static_cast<size_t>(i)].read = true;
            plans[static_cast<size_t>(i)].record = *records[static_cast<size_t>(i)];
        }
        std::atomic<bool> logging{true};
        monitor::SamplingControl control;
        drivecontrol::DriveStatus status;
        monitor::CRealTimeSampler::Hooks hooks;
        monitor::CRealTimeSampler sampler(ModbusPort(), 1, plans, logging, control, hooks);
        std::vector<double> sweeps;
        for (int k = 0; k < 30; ++k) {
            monitor::Sweep sw;
            const Clock::time_point t0 = Clock::now();
            sampler.SweepOnce(&sw);
            drivecontrol::ReadStatus(ModbusPort(), 1, status);
            sweeps.push_back(MsSince(t0));
        }
        const Stats st = Summarise(sweeps);
        int shortest = -1;
        for (int i = monitor::kIntervalCount - 1; i >= 0 && shortest < 0; --i)
            if (monitor::IntervalPeriodMs(i) >= st.max) shortest = i;

        // Holds it? Run the sampling loop at that interval and count overruns.
        int overrunPeriods = 0, periods = 0;
        if (shortest >= 0) {
            control.interval = shortest;
            monitor::CRealTimeSampler::Hooks h;
            std::atomic<int> n{0};
            h.readStatus = [&] {
                drivecontrol::ReadStatus(ModbusPort(), 1, status);
                ++n;
                if (control.overruns.load() > 0) ++overrunPeriods;
            };
            monitor::CRealTimeSampler loop(ModbusPort(), 1, plans, logging, control, h);
            std::thread t([&] { loop.Run(); });
            const int want = std::max(10, 3000 / monitor::IntervalPeriodMs(shortest));
            while (n.load() < want) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            logging = false;
            t.join();
            periods = n.load();
        }
        std::printf("sweep, %2d slot(s) + 2 status reads: median %.1f ms, max %.1f ms; model (%d + 2) x %.1f = %.1f ms; "
                    "shortest interval without overruns: %ls (%d overrun periods in %d)\n",
                    nslots, st.median, st.max, nslots, one.median, (nslots + 2) * one.median,
                    shortest >= 0 ? monitor::IntervalName(shortest) : L"none", overrunPeriods, periods);
    }
}

void BenchGui(Rig& rig, int seconds)
{
    CDialogRTLine view;
    view.resize(1280, 800);
    view.show();
    view.SetTable(&rig.table);
    for (int i = 0; i < monitor::kSlotCount; ++i) view.SlotCheck(i)->setChecked(true);
    view.IntervalList()->setCurrentIndex(9);  // "50ms"
    uint8_t err = 0;
    drivecontrol::WriteTarget(ModbusPort(), 1, 50.0, &err);
    drivecontrol::WriteRunCommand(ModbusPort(), 1, 0, &err);
    if (!view.OnStartLog()) {
        std::printf("GUI: the log did not start\n");
        return;
    }
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    qint64 worst = 0;
    long ticks = 0;
    // A 1 ms timer: its lateness is how long the event loop was busy.
    QTimer zero;
    zero.setTimerType(Qt::PreciseTimer);
    zero.setInterval(1);
    QObject::connect(&zero, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 1);
        last = now;
        ++ticks;
        if (now > seconds * 1000LL) QCoreApplication::exit(0);  // quit() would ask the view to close
    });
    zero.start();
    QApplication::exec();
    zero.stop();
    view.OnStopLog();
    CMonitorBuffer& store = TheMonitorBuffer();
    std::printf("GUI during a \"50ms\" log of 10 slots for %d s: longest event-loop stall %lld ms (aim < 50 ms), "
                "%ld timer ticks; %u samples stored, interval now %ls, %ld sweeps failed\n",
                seconds, static_cast<long long>(worst), ticks, static_cast<unsigned>(store.count()),
                monitor::IntervalName(view.IntervalIndex()), view.FailedSweeps());
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir work;
    if (work.isValid()) QDir::setCurrent(work.path());
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    BenchChart();
    Rig rig;
    if (!rig.ok) {
        std::printf("drive simulator: no connection\n");
        return 1;
    }
    BenchSampling(rig);
    BenchGui(rig, seconds);
    return 0;
}
