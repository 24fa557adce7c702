// The fault matrix: the four link operations of the program (a parameter
// read batch, a parameter write with its check pass, a monitor log and a
// download) run against each line fault of the drive simulator. Each cell
// keeps a short outcome; the table of all cells is assembled from the files
// the cells leave in one folder, since ctest runs each cell in its own
// process.
#pragma once

#include "DevicePlugins.h"
#include "Simulator.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <thread>
#include <string>
#include <vector>

namespace faultmatrix {

// The faults of the matrix, in table order.
enum class LineFault { Silence, Noise, BadCrc, Split, Late, Exception, NakBlock, Hangup, AdapterGone };
const std::vector<LineFault>& AllFaults();
// The row name in the table and the test name ("silence", "bad-crc", ...).
std::string FaultName(LineFault f);
// The same with only letters and digits (gtest parameter names).
std::string FaultIdent(LineFault f);
// The fault by name in test output.
void PrintTo(LineFault f, std::ostream* os);

enum class Operation { ParamRead, ParamWrite, MonitorLog, Download, FlashDownload };
const std::vector<Operation>& AllOperations();
std::string OperationName(Operation op);  // column caption
std::string OperationIdent(Operation op);  // file name part

// The reply time-out the cells configure, and the late fault's delay: a
// reply that comes after its request gave up, at the simulator's own ratio
// (1500 ms against the program's default time-out of 1000 ms). The late row
// runs with a longer time-out, so that the late reply stays well clear of
// both ends of the wait that follows a time-out even on a loaded machine.
constexpr int kReplyTimeoutMs = 200;
constexpr int kLateReplyTimeoutMs = 400;
constexpr int kLateMs = 600;
inline int ReplyTimeoutFor(LineFault f) { return f == LineFault::Late ? kLateReplyTimeoutMs : kReplyTimeoutMs; }
// How long the line of the hangup fault stays down before it comes back.
constexpr int kHangupDownMs = 300;

// Switches a fault on for the drive on COM<port>: the simulator's named
// fault, or for the line faults the far side closed (and, for the adapter,
// the COMn path gone as when a USB adapter is pulled).
void Arm(LineFault f, drivesim::Simulator& sim, int port);
// Takes the fault away again: faults cleared, the line back, the COMn path
// mapped to the drive again. True when the line runs again within timeoutMs.
bool Clear(LineFault f, drivesim::Simulator& sim, int port, int timeoutMs);

// Forwards to the register link; before the n-th request (1-based) it runs
// `arm` once. Counts requests and their failures.
class ArmingPort : public CRegisterPort {
public:
    ArmingPort(int armBefore, std::function<void()> arm) : armBefore_(armBefore), arm_(std::move(arm)) {}
    bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override;
    bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override;
    LinkHealth* Health() override { return ModbusPort().Health(); }
    bool armed() const { return armed_.load(); }
    int requests() const { return requests_.load(); }

private:
    void Before();
    int armBefore_;
    std::function<void()> arm_;
    std::atomic<int> requests_{0};
    std::atomic<bool> armed_{false};
};

// Runs `body` on a worker thread of its own, as the views run their
// batches and the monitor its sampling. Wait waits at most boundMs for it to
// end. When it does not, `stop` is called (the operation's cancel) and the
// wait goes on for another boundMs; a body that still runs then is a hang,
// and the process ends with a failure instead of waiting for ever. Wait
// returns the milliseconds the body took (-1: it had to be stopped). A
// worker left without Wait (a test that gave up early) is stopped and
// waited for.
class BoundedWorker {
public:
    BoundedWorker(std::function<void()> body, std::function<void()> stop, std::string what);
    ~BoundedWorker();
    BoundedWorker(const BoundedWorker&) = delete;
    BoundedWorker& operator=(const BoundedWorker&) = delete;
    long Wait(long boundMs);

private:
    struct State;
    std::shared_ptr<State> state_;
    std::function<void()> stop_;
    std::thread thread_;
    std::string what_;
    std::chrono::steady_clock::time_point t0_;
};

inline long RunBounded(std::function<void()> body, long boundMs, std::function<void()> stop, std::string what)
{
    BoundedWorker w(std::move(body), std::move(stop), std::move(what));
    return w.Wait(boundMs);
}

// The outcome of a cell, kept for the table.
void RecordCell(LineFault f, Operation op, const std::string& outcome);
// Folder of the cells' outcome files, and the table file.
std::string CellFolder();
std::string TablePath();
// The table of every cell file found: one row per fault, one column per
// operation ("not run" for a missing cell), as Markdown.
std::string BuildTable(const std::string& folder);
// Writes the table to `path` and prints it; false when a cell is missing
// or the file cannot be written.
bool WriteTable(const std::string& folder, const std::string& path);

}  // namespace faultmatrix
