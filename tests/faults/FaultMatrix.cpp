#include "FaultMatrix.h"

#include "LinkTestUtil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace faultmatrix {

const std::vector<LineFault>& AllFaults()
{
    static const std::vector<LineFault> all = {LineFault::Silence, LineFault::Noise,     LineFault::BadCrc,
                                               LineFault::Split,   LineFault::Late,      LineFault::Exception,
                                               LineFault::NakBlock, LineFault::Hangup,   LineFault::AdapterGone};
    return all;
}

std::string FaultName(LineFault f)
{
    switch (f) {
    case LineFault::Silence: return "silence";
    case LineFault::Noise: return "noise";
    case LineFault::BadCrc: return "bad-crc";
    case LineFault::Split: return "split";
    case LineFault::Late: return "late";
    case LineFault::Exception: return "exception";
    case LineFault::NakBlock: return "nak-block";
    case LineFault::Hangup: return "hangup";
    case LineFault::AdapterGone: return "adapter gone";
    }
    return "?";
}

std::string FaultIdent(LineFault f)
{
    std::string out;
    for (char c : FaultName(f))
        if (std::isalnum(static_cast<unsigned char>(c))) out += c;
    return out;
}

void PrintTo(LineFault f, std::ostream* os) { *os << FaultName(f); }

const std::vector<Operation>& AllOperations()
{
    static const std::vector<Operation> all = {Operation::ParamRead, Operation::ParamWrite, Operation::MonitorLog,
                                               Operation::Download, Operation::FlashDownload};
    return all;
}

std::string OperationName(Operation op)
{
    switch (op) {
    case Operation::ParamRead: return "parameter read";
    case Operation::ParamWrite: return "parameter write + check";
    case Operation::MonitorLog: return "monitor log";
    case Operation::Download: return "download";
    case Operation::FlashDownload: return "flash download + resume";
    }
    return "?";
}

std::string OperationIdent(Operation op)
{
    switch (op) {
    case Operation::ParamRead: return "ParamRead";
    case Operation::ParamWrite: return "ParamWrite";
    case Operation::MonitorLog: return "MonitorLog";
    case Operation::Download: return "Download";
    case Operation::FlashDownload: return "FlashDownload";
    }
    return "?";
}

namespace {
std::string NowherePath(int port)
{
    return linktest::WorkDir() + "/unplugged/COM" + std::to_string(port);
}
}  // namespace

void Arm(LineFault f, drivesim::Simulator& sim, int port)
{
    switch (f) {
    case LineFault::Silence: sim.setFault(drivesim::FaultKind::Silence); break;
    case LineFault::Noise: sim.setFault(drivesim::FaultKind::Noise); break;
    case LineFault::BadCrc: sim.setFault(drivesim::FaultKind::BadCrc); break;
    case LineFault::Split: sim.setFault(drivesim::FaultKind::Split); break;
    case LineFault::Late: sim.setFault("late=" + std::to_string(kLateMs)); break;
    case LineFault::Exception: sim.setFault(drivesim::FaultKind::Exception); break;
    // The block the operation sends next is the second of its reception.
    case LineFault::NakBlock: sim.setFault("nak-block=2"); break;
    case LineFault::Hangup: sim.setFault("hangup=" + std::to_string(kHangupDownMs)); break;
    case LineFault::AdapterGone:
        // The device node goes with the adapter: the far side is closed and
        // COMn leads nowhere until it is plugged in again.
        sim.hangUp(0);
        linktest::MapPort(port, NowherePath(port));
        break;
    }
}

bool Clear(LineFault f, drivesim::Simulator& sim, int port, int timeoutMs)
{
    sim.clearFaults();
    if (f == LineFault::AdapterGone) {
        sim.restoreLine();
        linktest::MapPort(port, sim.options().linkPath);
    }
    return linktest::WaitFor([&] { return !sim.transitioning(); }, timeoutMs);
}

void ArmingPort::Before()
{
    const int n = ++requests_;
    if (n == armBefore_ && !armed_.exchange(true) && arm_) arm_();
}

bool ArmingPort::ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err)
{
    Before();
    return ModbusPort().ProcRead(station, reg, value, err);
}

bool ArmingPort::ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err)
{
    Before();
    return ModbusPort().ProcWrite(station, reg, value, err);
}

struct BoundedWorker::State {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;

    bool WaitDone(long ms)
    {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done; });
    }
};

BoundedWorker::BoundedWorker(std::function<void()> body, std::function<void()> stop, std::string what)
    : state_(std::make_shared<State>()),
      stop_(std::move(stop)),
      what_(std::move(what)),
      t0_(std::chrono::steady_clock::now())
{
    thread_ = std::thread([state = state_, body = std::move(body)] {
        body();
        std::lock_guard<std::mutex> lock(state->mu);
        state->done = true;
        state->cv.notify_all();
    });
}

BoundedWorker::~BoundedWorker()
{
    if (!thread_.joinable()) return;
    if (stop_) stop_();
    Wait(60000);
}

long BoundedWorker::Wait(long boundMs)
{
    if (state_->WaitDone(boundMs)) {
        thread_.join();
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0_).count());
    }
    ADD_FAILURE() << what_ << " did not end within " << boundMs << " ms";
    if (stop_) stop_();
    if (state_->WaitDone(boundMs)) {
        thread_.join();
        return -1;
    }
    // The worker still uses the caller's objects: leaving would pull them
    // away under it, waiting would hang the suite.
    std::cerr << "FAILED: " << what_ << " hangs even after it was stopped" << std::endl;
    std::_Exit(1);
}

std::string CellFolder() { return TORVANE_FAULT_MATRIX_DIR; }
std::string TablePath() { return TORVANE_FAULT_MATRIX_TABLE; }

namespace {
std::string CellFile(const std::string& folder, LineFault f, Operation op)
{
    return folder + "/" + FaultIdent(f) + "-" + OperationIdent(op) + ".txt";
}
}  // namespace

void RecordCell(LineFault f, Operation op, const std::string& outcome)
{
    ::mkdir(CellFolder().c_str(), 0755);
    std::ofstream out(CellFile(CellFolder(), f, op), std::ios::trunc);
    out << outcome;
    std::cout << "[cell] " << FaultName(f) << " / " << OperationName(op) << ": " << outcome << std::endl;
    // The table follows every cell, so it is whole after any run of the
    // suite, whatever order ctest chose; written aside and renamed, since
    // cells of other processes do the same at the same time.
    const std::string table = TablePath();
    const std::string aside = table + "." + std::to_string(::getpid());
    {
        std::ofstream t(aside, std::ios::trunc);
        t << "# Link operations against the simulator's line faults\n\n" << BuildTable(CellFolder());
    }
    std::rename(aside.c_str(), table.c_str());
}

std::string BuildTable(const std::string& folder)
{
    std::ostringstream t;
    t << "| fault |";
    for (Operation op : AllOperations()) t << " " << OperationName(op) << " |";
    t << "\n|---|";
    for (size_t i = 0; i < AllOperations().size(); ++i) t << "---|";
    t << "\n";
    for (LineFault f : AllFaults()) {
        t << "| " << FaultName(f) << " |";
        for (Operation op : AllOperations()) {
            std::ifstream in(CellFile(folder, f, op));
            std::string cell;
            if (in) std::getline(in, cell);
            if (cell.empty()) cell = "not run";
            t << " " << cell << " |";
        }
        t << "\n";
    }
    return t.str();
}

bool WriteTable(const std::string& folder, const std::string& path)
{
    const std::string table = BuildTable(folder);
    std::cout << table;
    std::ofstream out(path, std::ios::trunc);
    out << "# Link operations against the simulator's line faults\n\n" << table;
    return static_cast<bool>(out) && table.find("not run") == std::string::npos;
}

}  // namespace faultmatrix
