#include "RealTimeSampler.h"

#include "LinkHealth.h"
#include "MonitorIntervals.h"
#include "RegisterAccess.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace monitor {

namespace {
using Steady = std::chrono::steady_clock;

long long MsSince(Steady::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0).count();
}

// Short enough that a stop or a command is seen within a fraction of a
// register read time.
constexpr long long kSliceMs = 5;
}  // namespace

uint64_t NowMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

CRealTimeSampler::CRealTimeSampler(CRegisterPort& port, uint8_t station, const SlotPlans& slots,
                                   const std::atomic<bool>& logging, SamplingControl& control, Hooks hooks)
    : port_(port), station_(station), slots_(slots), logging_(logging), control_(control), hooks_(std::move(hooks))
{
}

void CRealTimeSampler::ServePending()
{
    drivecontrol::Command command;
    while (control_.commands.Take(&command))
        if (hooks_.serveCommand) hooks_.serveCommand(command);
}

bool CRealTimeSampler::SweepOnce(Sweep* sweep)
{
    *sweep = Sweep{};
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!logging_.load()) return false;
        ServePending();
        const SlotPlan& plan = slots_[static_cast<size_t>(slot)];
        if (!plan.read) continue;
        double value = 0;
        uint8_t err = 0;
        // One more attempt: a single lost reply should not cost the period.
        if (!regaccess::ReadValue(port_, station_, plan.record, &value, &err) &&
            !regaccess::ReadValue(port_, station_, plan.record, &value, &err)) {
            // A sweep with a hole is not a sample; the user still learns
            // that one was lost and which quantity failed.
            if (hooks_.sweepLost) hooks_.sweepLost(slot, err);
            return false;
        }
        (*sweep)[static_cast<size_t>(slot)] = {true, value};
        if (hooks_.valueRead) hooks_.valueRead(slot, value);
    }
    return true;
}

void CRealTimeSampler::CountPeriod(long long elapsedMs)
{
    const int interval = control_.interval.load();
    if (elapsedMs > IntervalPeriodMs(interval)) {
        // The first overrun may be a hiccup; from the second in a row on,
        // each overrunning period steps one interval slower.
        if (control_.overruns.load() >= 1 && interval > 0) {
            control_.pendingInterval = interval - 1;
            if (hooks_.intervalStepped) hooks_.intervalStepped(interval - 1, NowMs(), true);
        }
        ++control_.overruns;
        fits_ = 0;
    } else {
        control_.overruns = 0;
        const int chosen = control_.chosenInterval.load();
        if (chosen > interval && control_.pendingInterval.load() < 0 &&
            elapsedMs <= IntervalPeriodMs(interval + 1)) {
            if (++fits_ >= kFitsToStepBack) {
                fits_ = 0;
                control_.pendingInterval = interval + 1;
                if (hooks_.intervalStepped) hooks_.intervalStepped(interval + 1, NowMs(), false);
            }
        } else {
            fits_ = 0;
        }
    }
}

void CRealTimeSampler::Pause(long long ms)
{
    const Steady::time_point t0 = Steady::now();
    while (logging_.load()) {
        ServePending();
        const long long left = ms - MsSince(t0);
        if (left <= 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, kSliceMs)));
    }
}

void CRealTimeSampler::Run()
{
    Sweep sweep;
    // The first sweep pays for the start (the first requests on the line):
    // it is not measured against the interval.
    bool first = true;
    while (logging_.load()) {
        const Steady::time_point t0 = Steady::now();
        const bool complete = SweepOnce(&sweep);
        // The sample's time is when its sweep completed, whatever the wait.
        const uint64_t doneMs = NowMs();
        if (!complete) ++failed_;
        if (logging_.load() && hooks_.readStatus) hooks_.readStatus();
        const long long elapsed = MsSince(t0);
        const long long period = IntervalPeriodMs(control_.interval.load());
        // An interval step is for a drive that answers slowly. A period that
        // lost a slot or ran while the link was not answering was long
        // because of time-outs: a slower interval would not mend that, and
        // the log would stay slow after the drive came back. The first sweep
        // pays for the start and is not measured either.
        LinkHealth* health = port_.Health();
        const bool measured = !first && complete && (!health || health->answering());
        first = false;
        if (measured)
            CountPeriod(elapsed);
        else
            control_.overruns = 0;
        if (period > elapsed) Pause(period - elapsed);
        // Nothing reaches the store after the log was stopped: what the user
        // saves once it is stopped is the whole recording.
        if (complete && logging_.load() && hooks_.append) {
            if (hooks_.append(doneMs, sweep))
                ++appended_;
            else
                ++refused_;
        }
    }
    // A command handed over just before the log stopped is still the user's.
    ServePending();
}

std::wstring LostSweepsText(long lost, int slot, const std::wstring& quantity, uint8_t err)
{
    if (lost <= 0) return std::wstring();
    std::wstring text = L"Samples lost: " + std::to_wstring(lost) + L" (latest: slot " + std::to_wstring(slot + 1);
    if (!quantity.empty()) text += L", " + quantity;
    if (err == regaccess::kErrTimeout)
        text += L", no reply";
    else if (err == 0)
        text += L", no valid reply";
    else
        text += L", drive error " + std::to_wstring(static_cast<int>(err));
    return text + L")";
}

}  // namespace monitor
