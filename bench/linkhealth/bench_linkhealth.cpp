// Figures of the link's health for the read batch of a 30-parameter group,
// at several reply time-outs T, with the drive going away before the 11th
// request:
//   - silence: the drive stops answering; its replies come back later;
//   - hang-up: its line closes (the pty goes and comes back as a new one).
// For each: the time from the fault to the batch's end (aim: at most
// (K + 1) x T, K = LinkHealth::kFailuresForSilence), and the time from the
// drive's return to the first good reply (aim: one request; after a hang-up
// the port watch's look and the reconnection's presence test come first).
//
//   bench_linkhealth [time-outs in ms, default 200 500 1000]
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "LinkHealth.h"
#include "ParamTable.h"
#include "ParamTransfer.h"
#include "Simulator.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 30;
constexpr int kPort = 7;
constexpr int kFaultBefore = 11;

double MsSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

class TripPort : public CRegisterPort {
public:
    std::function<void()> trip;
    Clock::time_point tripped;
    int requests = 0;
    bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        if (++requests == kFaultBefore && trip) {
            trip();
            tripped = Clock::now();
        }
        return ModbusPort().ProcRead(station, reg, value, err);
    }
    bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override
    {
        return ModbusPort().ProcWrite(station, reg, value, err);
    }
    LinkHealth* Health() override { return ModbusPort().Health(); }
};

struct Figures {
    double batchEnd = -1;  // ms from the fault to the batch's end
    double recovery = -1;  // ms from the drive's return to the first good reply
    int notRead = 0;
};

Figures Run(bool hangup, int timeoutMs, const std::string& folder)
{
    Figures f;
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Normal;
    o.allRegisters = true;
    o.bootSeconds = 0.05;
    o.linkPath = folder + "COM" + std::to_string(kPort);
    drivesim::Simulator sim(o);
    std::string err;
    if (!sim.start(&err)) {
        std::fprintf(stderr, "simulator: %s\n", err.c_str());
        return f;
    }
    setenv(("TORVANE_COM" + std::to_string(kPort)).c_str(), o.linkPath.c_str(), 1);

    DeviceConnection link(std::wstring(folder.begin(), folder.end()), nullptr);
    link.SetStoreOnConnect(false);
    link.settings().COMID = std::to_wstring(kPort);
    link.settings().OutTime = std::to_wstring(timeoutMs);
    if (!link.ConnectNormal()) {
        std::fprintf(stderr, "no connection\n");
        return f;
    }

    ParamTable table;
    paramxfer::Rows rows;
    for (int i = 0; i < kRows; ++i) {
        ParamRecord r;
        r.index = i;
        r.address = 0x0200 + i + 1;
        r.pnu = L"07." + std::to_wstring(i);
        table.params.push_back(r);
        rows.records.push_back(i);
        rows.transfer.push_back(true);
    }
    TripPort port;
    port.trip = [&] {
        if (hangup)
            sim.hangUp(0);
        else
            sim.setFault(drivesim::FaultKind::Silence);
    };
    std::atomic<bool> running{true};
    paramxfer::ReadHooks hooks;
    hooks.linkLost = [&](const paramxfer::ReadStop& stop) { f.notRead = static_cast<int>(stop.notRead.size()); };
    paramxfer::ReadRows(table, rows, {port, 1, running}, hooks);
    f.batchEnd = MsSince(port.tripped);

    // The drive returns while the program keeps asking (as a monitor or a
    // user's next batch would).
    std::atomic<bool> back{false};
    Clock::time_point returned;
    std::thread returner([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs / 3));
        returned = Clock::now();
        if (hangup)
            sim.restoreLine();
        else
            sim.clearFault(drivesim::FaultKind::Silence);
        back = true;
    });
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(30);
    for (;;) {
        if (Clock::now() > giveUp) break;
        if (hangup) {
            // The program's port watch, at its own pace.
            const DeviceConnection::PortWatch w = link.WatchPort();
            if (w == DeviceConnection::PortWatch::Lost) link.LosePort();
            if (w == DeviceConnection::PortWatch::Back && link.ConnectNormal()) {
                f.recovery = MsSince(returned);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(DeviceConnection::kPortWatchMs));
            continue;
        }
        uint8_t value[2] = {};
        uint8_t e = 0;
        if (ModbusPort().ProcRead(1, 0x0201, value, &e) && back) {
            f.recovery = MsSince(returned);
            break;
        }
    }
    returner.join();
    link.Disconnect();
    sim.stop();
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> timeouts;
    for (int i = 1; i < argc; ++i) timeouts.push_back(std::atoi(argv[i]));
    if (timeouts.empty()) timeouts = {200, 500, 1000};
    char tmpl[] = "/tmp/bench-linkhealth-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::string folder = std::string(tmpl) + "/";
    if (chdir(tmpl) != 0) return 1;
    const int k = LinkHealth::kFailuresForSilence;
    std::printf("Read batch of %d parameters, the drive gone before request %d; K = %d\n", kRows, kFaultBefore, k);
    std::printf("%-8s %6s %14s %10s %12s %10s %9s\n", "fault", "T ms", "batch end ms", "x T", "(K+1)xT ms",
                "return ms", "x T");
    for (int t : timeouts) {
        for (bool hangup : {false, true}) {
            const Figures f = Run(hangup, t, folder);
            std::printf("%-8s %6d %14.0f %10.2f %12d %10.0f %9.2f   (%d not read)\n", hangup ? "hang-up" : "silence", t,
                        f.batchEnd, f.batchEnd / t, (k + 1) * t, f.recovery, f.recovery / t, f.notRead);
        }
    }
    return 0;
}
