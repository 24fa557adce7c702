// The real-time monitor's logic without its view: the interval list, the
// drive control registers against the simulated drive, and the sampling loop
// (sweeps, handed-over commands, the overrun rule).
#include "DriveControl.h"
#include "MonitorIntervals.h"
#include "MonitorTestSupport.h"
#include "ParamsTestSupport.h"
#include "RealTimeSampler.h"
#include "RegisterAccess.h"

#include <QElapsedTimer>

#include <chrono>
#include <thread>

using namespace ptest;

namespace {

std::vector<const ParamRecord*> MonitorRecords(const ParamTable& table)
{
    std::vector<const ParamRecord*> out;
    for (const ParamRecord& r : table.params)
        if (r.groupNumber == 9) out.push_back(&r);
    return out;
}

// Waits (without an event loop) until pred holds; bounded.
bool WaitPlain(const std::function<bool()>& pred, int timeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

TEST(RtlineIntervals, NamesPeriodsAndLookUp)
{
    EXPECT_EQ(std::wstring(monitor::IntervalName(0)), L"20sec");
    EXPECT_EQ(std::wstring(monitor::IntervalName(monitor::kDefaultInterval)), L"1sec");
    EXPECT_EQ(std::wstring(monitor::IntervalName(9)), L"50ms");
    EXPECT_EQ(std::wstring(monitor::IntervalName(10)), L"");
    EXPECT_EQ(monitor::IntervalPeriodMs(0), 20000);
    EXPECT_EQ(monitor::IntervalPeriodMs(6), 400);
    EXPECT_EQ(monitor::IntervalPeriodMs(9), 50);
    EXPECT_EQ(monitor::IntervalIndexOf(L"200ms"), 7);
    EXPECT_EQ(monitor::IntervalIndexOf(L"3sec"), -1);
}

TEST(RtlineDriveControl, CodesTargetWordsAndStatusWords)
{
    const uint16_t codes[] = {1, 2, 5, 6, 7};
    for (int i = 0; i < drivecontrol::kCommandCount; ++i) EXPECT_EQ(drivecontrol::CommandCode(i), codes[i]);
    EXPECT_EQ(drivecontrol::CommandCode(5), 0);
    // Rounded to the nearest 0.01 Hz: 50.07 * 100 is just below 5007 in binary.
    EXPECT_EQ(drivecontrol::TargetWord(50.07), 5007);
    EXPECT_EQ(drivecontrol::TargetWord(50.0), 5000);
    EXPECT_EQ(drivecontrol::TargetWord(0.29), 29);
    EXPECT_EQ(drivecontrol::TargetWord(590.0), 59000);
    EXPECT_EQ(drivecontrol::TargetWord(0.0), 0);
    EXPECT_EQ(drivecontrol::TargetWord(-3.0), 0);
    EXPECT_EQ(drivecontrol::TargetWord(1000.0), 59000);

    drivecontrol::DriveStatus st;
    EXPECT_EQ(st.runState.load(), 3);
    st.ApplyStatusWord(0x05);
    EXPECT_TRUE(st.warning.load());
    EXPECT_FALSE(st.fault.load());
    EXPECT_EQ(std::wstring(drivecontrol::StatusText(st.runState)), L"Forward running");
    st.ApplyStatusWord(0xFF0E);  // only the low byte counts
    EXPECT_FALSE(st.warning.load());
    EXPECT_TRUE(st.fault.load());
    EXPECT_EQ(std::wstring(drivecontrol::StatusText(st.runState)), L"-");
    st.ApplyStatusWord(0x08);
    EXPECT_EQ(std::wstring(drivecontrol::StatusText(st.runState)), L"Reverse running");
    st.ApplyStatusWord(0x00);
    EXPECT_EQ(std::wstring(drivecontrol::StatusText(st.runState)), L"Stop");
}

TEST(RtlineDriveControl, WritesAndStatusAgainstTheDrive)
{
    SimBench bench;
    ASSERT_TRUE(bench.ok()) << bench.error();
    uint8_t err = 0;
    ASSERT_TRUE(drivecontrol::WriteTarget(ModbusPort(), 1, 590.0, &err));
    uint16_t v = 0;
    ASSERT_TRUE(bench.sim().readRegister(10000, &v));
    EXPECT_EQ(v, 59000);
    ASSERT_TRUE(drivecontrol::WriteTarget(ModbusPort(), 1, 5.0, &err));
    ASSERT_TRUE(drivecontrol::WriteRunCommand(ModbusPort(), 1, 0, &err));
    ASSERT_TRUE(bench.sim().readRegister(9999, &v));
    EXPECT_EQ(v, 1);

    drivecontrol::DriveStatus st;
    bench.sim().setFault(drivesim::FaultKind::DriveWarning);
    ASSERT_TRUE(drivecontrol::ReadStatus(ModbusPort(), 1, st));
    EXPECT_TRUE(st.warning.load());
    EXPECT_FALSE(st.fault.load());
    EXPECT_EQ(st.runState.load(), 1);
    ASSERT_TRUE(WaitPlain([&] {
        drivecontrol::ReadStatus(ModbusPort(), 1, st);
        return st.outputHz.load() > 4.95;
    }));

    // A silent drive leaves the last status in place.
    bench.sim().setFault(drivesim::FaultKind::Silence);
    EXPECT_FALSE(drivecontrol::ReadStatus(ModbusPort(), 1, st));
    EXPECT_TRUE(st.warning.load());
    EXPECT_EQ(st.runState.load(), 1);
    EXPECT_NEAR(st.outputHz.load(), 5.0, 0.05);
    bench.sim().clearFault(drivesim::FaultKind::Silence);

    ASSERT_TRUE(drivecontrol::WriteRunCommand(ModbusPort(), 1, 2, &err));  // stop
    ASSERT_TRUE(bench.sim().readRegister(9999, &v));
    EXPECT_EQ(v, 5);
    // The drive refuses a command code it does not know; a bad index sends nothing.
    const long before = bench.Requests();
    EXPECT_FALSE(drivecontrol::WriteRunCommand(ModbusPort(), 1, 7, &err));
    EXPECT_EQ(bench.Requests(), before);
}

TEST(RtlineSampler, OverrunRuleStepsSlowerFromTheSecondOverrun)
{
    std::atomic<bool> logging{true};
    monitor::SamplingControl control;
    control.interval = 4;  // "1sec"
    std::vector<int> stepped;
    monitor::CRealTimeSampler::Hooks hooks;
    hooks.intervalStepped = [&](int i, uint64_t, bool) { stepped.push_back(i); };
    monitor::CRealTimeSampler s(ModbusPort(), 1, monitor::SlotPlans{}, logging, control, hooks);

    s.CountPeriod(1500);
    EXPECT_EQ(control.pendingInterval.load(), -1);
    EXPECT_EQ(control.overruns.load(), 1);
    s.CountPeriod(1500);
    EXPECT_EQ(control.pendingInterval.load(), 3);
    EXPECT_EQ(control.overruns.load(), 2);
    control.interval = control.pendingInterval.exchange(-1);  // the GUI's tick
    s.CountPeriod(2500);
    EXPECT_EQ(control.pendingInterval.load(), 2);
    control.interval = control.pendingInterval.exchange(-1);
    s.CountPeriod(2500);  // within "5sec": the count starts again
    EXPECT_EQ(control.overruns.load(), 0);
    EXPECT_EQ(control.pendingInterval.load(), -1);
    s.CountPeriod(5000);  // exactly the period is no overrun
    EXPECT_EQ(control.overruns.load(), 0);
    EXPECT_EQ(stepped, (std::vector<int>{3, 2}));

    // Never slower than "20sec".
    control.interval = 0;
    s.CountPeriod(30000);
    s.CountPeriod(30000);
    EXPECT_EQ(control.pendingInterval.load(), -1);
    EXPECT_EQ(control.overruns.load(), 2);
}

TEST(RtlineSampler, ARaisedIntervalStepsBackOnceSweepsFitAgainAndTheFirstSweepIsNotMeasured)
{
    std::atomic<bool> logging{true};
    monitor::SamplingControl control;
    control.interval = 2;  // "5sec", raised from the chosen "1sec"
    control.chosenInterval = 4;
    std::vector<std::pair<int, bool>> stepped;
    monitor::CRealTimeSampler::Hooks hooks;
    hooks.intervalStepped = [&](int i, uint64_t, bool raised) { stepped.push_back({i, raised}); };
    monitor::CRealTimeSampler s(ModbusPort(), 1, monitor::SlotPlans{}, logging, control, hooks);
    for (int k = 0; k < monitor::CRealTimeSampler::kFitsToStepBack - 1; ++k) s.CountPeriod(300);
    s.CountPeriod(2500);  // would not fit "2sec": the count starts again
    for (int k = 0; k < monitor::CRealTimeSampler::kFitsToStepBack - 1; ++k) s.CountPeriod(300);
    EXPECT_EQ(control.pendingInterval.load(), -1);
    s.CountPeriod(300);
    EXPECT_EQ(control.pendingInterval.load(), 3);
    control.interval = control.pendingInterval.exchange(-1);
    for (int k = 0; k < monitor::CRealTimeSampler::kFitsToStepBack; ++k) s.CountPeriod(300);
    control.interval = control.pendingInterval.exchange(-1);
    EXPECT_EQ(control.interval.load(), 4);
    for (int k = 0; k < 2 * monitor::CRealTimeSampler::kFitsToStepBack; ++k) s.CountPeriod(300);
    EXPECT_EQ(control.pendingInterval.load(), -1) << "never faster than the chosen interval";
    EXPECT_EQ(stepped, (std::vector<std::pair<int, bool>>{{3, false}, {4, false}}));

    // A slow first sweep (the log's start) and one more overrun: no step yet.
    control.interval = 4;
    control.overruns = 0;
    std::atomic<int> sweeps{0};
    hooks.readStatus = [&] {
        if (++sweeps <= 2) std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        if (sweeps == 2) logging = false;
    };
    monitor::CRealTimeSampler first(ModbusPort(), 1, monitor::SlotPlans{}, logging, control, hooks);
    first.Run();
    EXPECT_EQ(control.pendingInterval.load(), -1);
    EXPECT_EQ(control.overruns.load(), 1);
}

TEST(RtlineSampler, SweepsMatchTheDriveAndCommandsAreServedBetweenReads)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    const auto records = MonitorRecords(bench.table());
    ASSERT_GE(records.size(), 10u);

    // The motor runs, so the quantities change from sample to sample.
    uint8_t err = 0;
    ASSERT_TRUE(drivecontrol::WriteTarget(ModbusPort(), 1, 20.0, &err));
    ASSERT_TRUE(drivecontrol::WriteRunCommand(ModbusPort(), 1, 0, &err));

    mtest::RecordingPort port;
    monitor::SlotPlans plans;
    const int picked[] = {0, 3, 7};
    for (int slot = 0; slot < 3; ++slot) {
        plans[static_cast<size_t>(slot * 2)].read = true;
        plans[static_cast<size_t>(slot * 2)].record = *records[static_cast<size_t>(picked[slot])];
    }
    // A slot without the read mark is not read even with a record.
    plans[9].record = *records[1];

    std::atomic<bool> logging{true};
    monitor::SamplingControl control;
    control.interval = 8;  // "100ms"
    std::mutex mu;
    std::vector<monitor::Sweep> sweeps;
    std::atomic<int> statusReads{0};
    std::atomic<int> served{0};
    monitor::CRealTimeSampler::Hooks hooks;
    hooks.append = [&](uint64_t, const monitor::Sweep& s) {
        std::lock_guard<std::mutex> lock(mu);
        sweeps.push_back(s);
        return true;
    };
    hooks.readStatus = [&] { ++statusReads; };
    hooks.serveCommand = [&](const drivecontrol::Command& command) {
        EXPECT_TRUE(command.IsRun());
        uint8_t e = 0;
        drivecontrol::WriteCommand(port, 1, command, &e);
        ++served;
    };
    monitor::CRealTimeSampler sampler(port, 1, plans, logging, control, hooks);
    std::thread t([&] { sampler.Run(); });
    ASSERT_TRUE(WaitPlain([&] {
        std::lock_guard<std::mutex> lock(mu);
        return sweeps.size() >= 5;
    }));
    control.commands.Post(drivecontrol::RunCommand(2));
    ASSERT_TRUE(WaitPlain([&] { return served.load() == 1; }, 2000));
    EXPECT_EQ(control.commands.Pending(), 0u);
    logging = false;
    t.join();

    uint16_t v = 0;
    ASSERT_TRUE(bench.sim().readRegister(9999, &v));
    EXPECT_EQ(v, 5);
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(sampler.Appended(), static_cast<long>(sweeps.size()));
    EXPECT_GE(statusReads.load(), static_cast<int>(sweeps.size()));
    for (int slot = 0; slot < 3; ++slot) {
        const ParamRecord& r = *records[static_cast<size_t>(picked[slot])];
        const std::vector<uint16_t> words = port.WordsOf(regaccess::RegisterOf(r));
        ASSERT_GE(words.size(), sweeps.size());
        for (size_t k = 0; k < sweeps.size(); ++k) {
            const monitor::SweepEntry& e = sweeps[k][static_cast<size_t>(slot * 2)];
            EXPECT_TRUE(e.valid);
            EXPECT_DOUBLE_EQ(e.value, Engineering(words[k], r)) << "slot " << slot << " sample " << k;
        }
    }
    for (const monitor::Sweep& s : sweeps)
        for (int slot : {1, 3, 5, 6, 7, 8, 9}) EXPECT_FALSE(s[static_cast<size_t>(slot)].valid);
    EXPECT_TRUE(port.WordsOf(regaccess::RegisterOf(*records[1])).empty());
}

TEST(RtlineSampler, SilentDriveStoresNothingAndAStopEndsALongPause)
{
    SimBench bench(100);
    ASSERT_TRUE(bench.ok()) << bench.error();
    const auto records = MonitorRecords(bench.table());
    monitor::SlotPlans plans;
    plans[0].read = true;
    plans[0].record = *records[0];
    std::atomic<bool> logging{true};
    monitor::SamplingControl control;
    control.interval = 0;  // "20sec"
    std::atomic<int> appended{0};
    std::atomic<int> statusReads{0};
    monitor::CRealTimeSampler::Hooks hooks;
    hooks.append = [&](uint64_t, const monitor::Sweep&) {
        ++appended;
        return true;
    };
    hooks.readStatus = [&] { ++statusReads; };
    std::atomic<int> lostSlot{-1}, lostErr{0};
    hooks.sweepLost = [&](int slot, uint8_t err) {
        lostSlot = slot;
        lostErr = err;
    };
    bench.sim().setFault(drivesim::FaultKind::Silence);
    monitor::CRealTimeSampler sampler(ModbusPort(), 1, plans, logging, control, hooks);
    std::thread t([&] { sampler.Run(); });
    ASSERT_TRUE(WaitPlain([&] { return statusReads.load() >= 1; }));
    QElapsedTimer stop;
    stop.start();
    logging = false;
    t.join();
    // The thread was in a 20 s pause; it ends within a fraction of a read time.
    EXPECT_LT(stop.elapsed(), 1000);
    EXPECT_EQ(appended.load(), 0);
    EXPECT_EQ(sampler.FailedSweeps(), 1);
    // The lost sweep names its slot and why, for the monitor's status line.
    EXPECT_EQ(lostSlot.load(), 0);
    EXPECT_EQ(lostErr.load(), 0xFF);
    EXPECT_EQ(monitor::LostSweepsText(1, lostSlot, L"Output frequency", static_cast<uint8_t>(lostErr.load())),
              L"Samples lost: 1 (latest: slot 1, Output frequency, no reply)");
    EXPECT_EQ(monitor::LostSweepsText(0, 0, L"Output frequency", 0xFF), L"");
    EXPECT_EQ(monitor::LostSweepsText(4, 2, L"", 4), L"Samples lost: 4 (latest: slot 3, drive error 4)");
}
