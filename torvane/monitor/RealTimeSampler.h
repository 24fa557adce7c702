// The sampling thread of the real-time monitor, without widgets: one sweep of
// register reads per interval, the drive command the panel handed over, the
// status reads, the step to a slower interval when sweeps overrun, and the
// hand-over of each complete sweep to the sample store.
//
// The slots are captured when a log starts (SlotPlan), so the thread never
// asks the view's lists while the view is being destroyed. Everything the
// GUI thread changes during a log is a word of its own in SamplingControl.
// The thread waits in short slices and looks at the logging flag between
// them: a stopped log or a closing view ends it within one register read.
#pragma once

#include "DevicePlugins.h"
#include "DriveControl.h"
#include "ParamTable.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace monitor {

constexpr int kSlotCount = 10;

// A slot as the sampling thread sees it: whether it is read, and the record
// of its quantity (a copy: the table is the GUI thread's).
struct SlotPlan {
    bool read = false;
    ParamRecord record;
};
using SlotPlans = std::array<SlotPlan, kSlotCount>;

struct SweepEntry {
    bool valid = false;
    double value = 0;
};
using Sweep = std::array<SweepEntry, kSlotCount>;

// What the GUI thread and the sampling thread share during a log.
struct SamplingControl {
    std::atomic<int> interval{4};          // index in the interval list
    std::atomic<int> pendingInterval{-1};  // a slower interval the GUI applies at its next tick
    std::atomic<int> overruns{0};          // consecutive periods longer than the interval
    // The interval the user chose (-1: the one the log started with); the
    // overrun rule steps back towards it once sweeps fit again.
    std::atomic<int> chosenInterval{-1};
    drivecontrol::CommandQueue commands;   // the panel's commands, in the order given
};

enum : int { kNoCommand = 0, kRunCommand = 1, kTargetCommand = 2 };

class CRealTimeSampler {
public:
    struct Hooks {
        // A complete sweep, with the wall-clock time in ms since 1970 UTC.
        // False when the store refused it.
        std::function<bool(uint64_t timeMs, const Sweep& sweep)> append;
        // Executes a handed-over drive command on this thread; may wait for
        // the user to dismiss a message.
        std::function<void(const drivecontrol::Command& command)> serveCommand;
        // The two status reads after each sweep.
        std::function<void()> readStatus;
        // The overrun rule chose another interval (its index) at timeMs:
        // slower (`raised`) after overruns, or one step back towards the
        // chosen one once the sweeps fit again.
        std::function<void(int interval, uint64_t timeMs, bool raised)> intervalStepped;
        // A slot was read (slot 0..9, engineering value).
        std::function<void(int slot, double value)> valueRead;
        // A sweep was lost: `slot` failed its two reads (err as the port
        // reported the last one). The sweep never reaches the store, so this
        // is the only trace of it the user gets.
        std::function<void(int slot, uint8_t err)> sweepLost;
    };

    CRealTimeSampler(CRegisterPort& port, uint8_t station, const SlotPlans& slots,
                     const std::atomic<bool>& logging, SamplingControl& control, Hooks hooks);

    // The thread body: sweeps until the logging flag is cleared.
    void Run();

    // One sweep over the slots; false when a slot failed twice or the log was
    // stopped before the sweep ended.
    bool SweepOnce(Sweep* sweep);
    // The overrun rule for one period of `elapsedMs`. A raised interval is
    // kept only while overruns persist: after kFitsToStepBack periods in a
    // row whose sweep would have fitted the next faster interval, it steps
    // back one interval towards the chosen one. Run applies it only to
    // complete sweeps while the port's link is answering.
    void CountPeriod(long long elapsedMs);
    static constexpr int kFitsToStepBack = 5;
    // Waits `ms` (less when the log stops), serving handed-over commands.
    void Pause(long long ms);
    // Serves the handed-over commands now, in order.
    void ServePending();

    // Sweeps that reached the store, and those it refused.
    long Appended() const { return appended_.load(); }
    long Refused() const { return refused_.load(); }
    long FailedSweeps() const { return failed_.load(); }

private:
    CRegisterPort& port_;
    uint8_t station_;
    SlotPlans slots_;
    const std::atomic<bool>& logging_;
    SamplingControl& control_;
    Hooks hooks_;
    std::atomic<long> appended_{0};
    std::atomic<long> refused_{0};
    std::atomic<long> failed_{0};
    int fits_ = 0;  // sampling thread only
};

// Wall-clock time in ms since 1970-01-01 00:00 UTC.
uint64_t NowMs();

// The line the monitor shows about lost sweeps: how many, and the slot
// (1-based, with its quantity) and the error of the latest one, e.g.
// "Samples lost: 3 (latest: slot 2, Output current, no reply)". Empty when
// none was lost.
std::wstring LostSweepsText(long lost, int slot, const std::wstring& quantity, uint8_t err);

}  // namespace monitor
