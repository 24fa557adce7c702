// The four link operations against each line fault of the simulated drive,
// the fault switched on in the middle of the operation (before its second
// request or block). Every cell checks the same four things:
//   - the operation ends within a bound taken from its reply time-outs;
//   - nothing wrong reaches the drive or the user: a row read is the
//     register's own value, a row not read keeps its unknown value, every
//     register written holds the old or the meant value, a lost sweep is no
//     sample, a failed download never says it succeeded and writes no image
//     block other than the one meant;
//   - what failed is named (the row, the sweep's slot, the download step);
//   - once the fault is gone the program reconnects as it does and reads
//     the right value again.
// Which cells succeed and which fail is part of the test (Expected below).
#include "FaultMatrix.h"

#include "BatchLoop.h"
#include "Crc.h"
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "DownloadSequence.h"
#include "DownloadTestUtil.h"
#include "LinkHealth.h"
#include "LinkTestUtil.h"
#include "Memory.h"
#include "MonitorBuffer.h"
#include "MonitorIntervals.h"
#include "ParamTable.h"
#include "ParamTransfer.h"
#include "ParamViewLogic.h"
#include "PrivateProfile.h"
#include "RealTimeSampler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <sstream>

namespace fs = std::filesystem;
using namespace faultmatrix;
using dltest::N;
using dltest::W;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kPort = 5;
constexpr uint8_t kStation = 1;
constexpr int kRows = 4;
// Rows P07.00..P07.03 on registers 0x0700..0x0703: values that tell the
// registers apart, and the values a write means to put there.
constexpr uint16_t kFirstRegister = 0x0700;
uint16_t Truth(int row) { return static_cast<uint16_t>(1111 * (row + 1)); }
uint16_t Meant(int row) { return static_cast<uint16_t>(5001 + row); }
std::wstring Pnu(int row) { return L"07.0" + std::to_wstring(row); }
std::string Row(int row) { return "P" + N(Pnu(row)); }

// Time bounds. A request ends at its reply time-out at the latest; a late
// reply may still be on the line then. A batch makes at most 3 passes a row
// (two batches for a write); a download at most 3 sends a block and 2 a
// command. The factor covers a loaded machine and the sanitizer builds.
constexpr long kRequestMs = kLateReplyTimeoutMs + kLateMs;
constexpr long kSlack = 4;
constexpr long kReadBoundMs = 3 * kRows * kRequestMs * kSlack + 5000;
constexpr long kWriteBoundMs = 2 * 3 * kRows * kRequestMs * kSlack + 5000;
// A download without options: five command lines, three blocks, then the
// normal connection's two tries and the fault reset.
constexpr long kDownloadBoundMs = (5 * 2 + 3 * 3 + 2 + 1) * kRequestMs * 2 + 5000;
constexpr int kWaitMs = 20000;  // for an event that comes within a second or two

enum class Expected { Succeeds, Fails };

// The link's health once an operation under the fault is over (and the port
// watch has had its look): a drive that gave no usable reply is "not
// answering", a line that closed is a lost port, and a fault the replies
// survive, or one the monitor saw cleared while it logged, leaves it answering.
LinkHealth::State ExpectedHealth(LineFault f, Operation op)
{
    using S = LinkHealth::State;
    switch (f) {
    case LineFault::Silence:
    case LineFault::BadCrc:
    case LineFault::Late:
        return op == Operation::MonitorLog ? S::Answering : S::NotAnswering;
    case LineFault::Hangup:
    case LineFault::AdapterGone:
        return S::PortLost;
    default:
        return S::Answering;
    }
}

std::string HealthName(LinkHealth::State s)
{
    switch (s) {
    case LinkHealth::State::Answering: return "answering";
    case LinkHealth::State::NotAnswering: return "not answering";
    case LinkHealth::State::PortLost: return "port lost";
    }
    return "?";
}

// What each cell is to do. Split replies are only slow and must succeed;
// nak-block touches block sends only and exception/bad-crc Modbus replies
// only, so operations they do not touch must succeed as if nothing was set.
Expected ExpectedOutcome(LineFault f, Operation op)
{
    switch (f) {
    case LineFault::Split:
    case LineFault::Noise:
        // Slow replies, and stray bytes ahead of a reply: the frame is found
        // behind them (by its CRC, by the bootloader's text and ACK).
        return Expected::Succeeds;
    case LineFault::NakBlock:
        return op == Operation::Download || op == Operation::FlashDownload ? Expected::Fails : Expected::Succeeds;
    case LineFault::BadCrc:
    case LineFault::Exception:
        // The download's images go to the bootloader; only its last step,
        // the fault reset over Modbus, meets the fault, and reports it.
        return op == Operation::Download || op == Operation::FlashDownload ? Expected::Succeeds : Expected::Fails;
    default:
        return Expected::Fails;
    }
}

std::string Join(const std::vector<std::string>& parts, const char* sep = " ")
{
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : sep) + p;
    return out;
}

ParamRecord RowRecord(int row)
{
    ParamRecord r;
    r.index = row;
    r.address = kFirstRegister + row + 1;
    r.pnu = Pnu(row);
    r.name = L"Row " + std::to_wstring(row);
    r.exponent = 0;
    r.minValue = 0;
    r.maxValue = 65535;
    return r;
}

class FaultCell : public ::testing::TestWithParam<LineFault> {
protected:
    void SetUp() override
    {
        linktest::UnmapAllPorts();
        folder_ = linktest::NewFolder("cell");
        link_ = std::make_unique<DeviceConnection>(W(folder_), &linkPrompts_);
        linkPrompts_.Attach(link_.get());
        link_->SetStoreOnConnect(false);
        link_->settings().COMID = std::to_wstring(kPort);
        link_->settings().devAddr = L"1";
        link_->settings().OutTime = std::to_wstring(ReplyTimeoutFor(fault()));
    }
    void TearDown() override
    {
        link_.reset();
        drive_.reset();
    }

    LineFault fault() const { return GetParam(); }
    drivesim::Simulator& sim() { return drive_->sim(); }

    void StartDrive(drivesim::SimOptions o)
    {
        o.bootSeconds = 0.05;
        o.boot.eraseSeconds = 0.1;
        o.boot.xmodemPoll = 0;  // the program's sender needs no 'C'
        if (std::getenv("DRIVESIM_TEST_LOG"))
            o.log = [](int, const std::string& l) { std::fprintf(stderr, "sim %s\n", l.c_str()); };
        drive_ = std::make_unique<linktest::SimDrive>(kPort, o);
        ASSERT_TRUE(drive_->ok()) << drive_->error();
    }

    // A drive in normal mode with the rows' registers set, and the program
    // connected to it.
    void StartNormal()
    {
        ASSERT_NO_FATAL_FAILURE(StartDrive(linktest::NormalDrive()));
        for (int row = 0; row < kRows; ++row)
            ASSERT_EQ(sim().writeRegister(static_cast<uint16_t>(kFirstRegister + row), Truth(row)), 0);
        ASSERT_TRUE(link_->ConnectNormal());
    }

    uint16_t Register(int row)
    {
        uint16_t v = 0;
        EXPECT_TRUE(sim().readRegister(static_cast<uint16_t>(kFirstRegister + row), &v));
        return v;
    }

    void Arm() { faultmatrix::Arm(fault(), sim(), kPort); }

    // The fault goes away and the program connects again as its Connect
    // command does; every row then reads its own value. While the adapter
    // is still gone, a connection fails cleanly.
    // The health the operation left, after one look of the port watch (the
    // program's timer does the same): checked, and kept with the cell.
    std::string EndHealth(Operation op)
    {
        if (link_->WatchPort() == DeviceConnection::PortWatch::Lost) link_->LosePort();
        const LinkHealth::State state = TheLinkHealth().state();
        EXPECT_EQ(HealthName(state), HealthName(ExpectedHealth(fault(), op)))
            << OperationName(op) << " under " << FaultName(fault());
        return "; link " + HealthName(state);
    }

    void ExpectUsableAgain(const std::function<uint16_t(int row)>& expected)
    {
        if (fault() == LineFault::AdapterGone) {
            EXPECT_FALSE(link_->ConnectNormal()) << "connected with the adapter pulled";
            EXPECT_FALSE(link_->normalConnected());
        }
        ASSERT_TRUE(Clear(fault(), sim(), kPort, kWaitMs)) << "the line did not come back";
        ASSERT_EQ(sim().mode(), drivesim::Mode::Normal);
        ASSERT_TRUE(link_->ConnectNormal()) << "no reconnection after " << FaultName(fault());
        for (int row = 0; row < kRows; ++row) {
            uint8_t value[2] = {0, 0};
            uint8_t err = 0;
            ASSERT_TRUE(ModbusPort().ProcRead(kStation, static_cast<uint16_t>(kFirstRegister + row), value, &err))
                << Row(row) << " err " << int(err);
            EXPECT_EQ(static_cast<uint16_t>(value[0] | (value[1] << 8)), expected(row)) << Row(row);
        }
        EXPECT_EQ(TheLinkHealth().state(), LinkHealth::State::Answering) << "after " << FaultName(fault());
    }

    void Check(Operation op, bool succeeded, const std::string& outcome)
    {
        const Expected want = ExpectedOutcome(fault(), op);
        EXPECT_EQ(succeeded, want == Expected::Succeeds)
            << OperationName(op) << " under " << FaultName(fault()) << ": " << outcome;
        RecordCell(fault(), op, outcome);
    }

    std::string folder_;
    linktest::RecordingPrompts linkPrompts_;
    std::unique_ptr<DeviceConnection> link_;
    std::unique_ptr<linktest::SimDrive> drive_;
};

// ---- A: the parameter read batch ----

TEST_P(FaultCell, ParamRead)
{
    ASSERT_NO_FATAL_FAILURE(StartNormal());
    ParamTable table;
    for (int row = 0; row < kRows; ++row) {
        table.params.push_back(RowRecord(row));
        table.params.back().value = -1;  // shown as "-" while unknown
    }
    paramxfer::Rows rows{{0, 1, 2, 3}, std::vector<bool>(kRows, true)};
    ArmingPort port(2, [this] { Arm(); });
    std::atomic<bool> running{true};

    // The parameter view's hooks: a row given up becomes a line of the
    // message at the end.
    std::vector<int> done;
    std::wstring errors;
    paramxfer::ReadHooks h;
    h.done = [&](int row) { done.push_back(row); };
    h.givenUp = [&](int row, uint8_t err) { errors += paramview::ReadErrorLine(Pnu(row), err); };
    const long ms = RunBounded([&] { paramxfer::ReadRows(table, rows, {port, kStation, running}, h); },
                               kReadBoundMs, [&] { running = false; }, "the read batch");
    ASSERT_GE(ms, 0);
    EXPECT_TRUE(port.armed());
    const std::wstring message = paramview::ReadSummary(errors);

    std::vector<std::string> named, read;
    for (int row = 0; row < kRows; ++row) {
        const ParamRecord& r = table.params[static_cast<size_t>(row)];
        const bool isDone = std::find(done.begin(), done.end(), row) != done.end();
        const bool isNamed = message.find(L"P" + Pnu(row) + L" errorCode") != std::wstring::npos;
        if (isDone) {
            read.push_back(Row(row));
            EXPECT_EQ(r.value, Truth(row)) << Row(row) << " shows another value than its register's";
            EXPECT_FALSE(r.valueUnknown) << Row(row);
            EXPECT_FALSE(isNamed) << Row(row) << " was read but reported failed";
        } else {
            named.push_back(Row(row));
            EXPECT_EQ(r.value, -1) << Row(row) << " took a value from a failed read";
            EXPECT_TRUE(r.valueUnknown) << Row(row);
            EXPECT_TRUE(isNamed) << Row(row) << " failed silently; message: " << N(message);
        }
    }
    // The row before the fault is always read.
    EXPECT_EQ(read.empty() ? "" : read.front(), Row(0));

    const bool ok = named.empty() && message.empty();
    Check(Operation::ParamRead, ok,
          (ok ? (fault() == LineFault::NakBlock ? "ok (the fault acts on block sends only)" : "ok")
              : "fails cleanly: " + Join(named) + " reported, " + Join(read) + " read right") +
              EndHealth(Operation::ParamRead));
    ExpectUsableAgain(Truth);
}

// ---- B: the parameter write batch with its check pass ----

TEST_P(FaultCell, ParamWrite)
{
    ASSERT_NO_FATAL_FAILURE(StartNormal());
    ParamTable table;
    for (int row = 0; row < kRows; ++row) {
        table.params.push_back(RowRecord(row));
        table.params.back().value = Meant(row);
        table.params.back().valueUnknown = false;
        table.params.back().valueUnwritten = true;
    }
    paramxfer::Rows rows{{0, 1, 2, 3}, std::vector<bool>(kRows, true)};
    ArmingPort port(2, [this] { Arm(); });
    std::atomic<bool> running{true};

    // The parameter view's hooks and its message at the end.
    std::vector<bool> written(kRows, false), confirmed(kRows, false);
    std::wstring errors;
    paramxfer::WriteHooks h;
    h.written = [&](int row) { written[static_cast<size_t>(row)] = true; };
    h.writeGivenUp = [&](int row, uint8_t) { errors += paramview::WriteGivenUpEntry(Pnu(row)); };
    h.checked = [&](int row, bool differs, const std::wstring& w, const std::wstring& r) {
        if (differs)
            errors += paramview::CheckMismatchLine(Pnu(row), w, r);
        else
            confirmed[static_cast<size_t>(row)] = true;
    };
    h.checkGivenUp = [&](int row, uint8_t err) { errors += paramview::CheckGivenUpLine(Pnu(row), err); };
    const long ms = RunBounded([&] { paramxfer::WriteRows(table, rows, {port, kStation, running}, h); },
                               kWriteBoundMs, [&] { running = false; }, "the write batch");
    ASSERT_GE(ms, 0);
    EXPECT_TRUE(port.armed());
    const std::wstring message = paramview::WriteSummary(errors);

    std::vector<std::string> named, done, notWritten, notChecked;
    for (int row = 0; row < kRows; ++row) {
        const uint16_t now = Register(row);
        EXPECT_TRUE(now == Truth(row) || now == Meant(row))
            << Row(row) << " holds " << now << ", neither the old " << Truth(row) << " nor the meant " << Meant(row);
        const bool good = written[static_cast<size_t>(row)] && confirmed[static_cast<size_t>(row)];
        const bool isNamed = message.find(L"P" + Pnu(row)) != std::wstring::npos;
        if (good) {
            done.push_back(Row(row));
            EXPECT_EQ(now, Meant(row)) << Row(row) << " reported written and checked";
            EXPECT_FALSE(isNamed) << Row(row) << " written and checked but reported failed";
        } else {
            named.push_back(Row(row));
            (written[static_cast<size_t>(row)] ? notChecked : notWritten).push_back(Row(row));
            EXPECT_TRUE(isNamed) << Row(row) << " failed silently; message: " << N(message);
        }
    }
    EXPECT_EQ(message == L"Parameter write completion", named.empty()) << N(message);

    const bool ok = named.empty();
    std::string outcome = "ok";
    if (!ok) {
        outcome = "fails cleanly, all reported:";
        if (!notWritten.empty()) outcome += " " + Join(notWritten) + " not written;";
        if (!notChecked.empty()) outcome += " " + Join(notChecked) + " written, not read back;";
        if (!done.empty()) outcome += " " + Join(done) + " written and checked;";
        outcome += " each register old or meant";
    } else if (fault() == LineFault::NakBlock) {
        outcome = "ok (the fault acts on block sends only)";
    }
    Check(Operation::ParamWrite, ok, outcome + EndHealth(Operation::ParamWrite));
    // A row whose write went out but was not confirmed may hold either.
    std::vector<uint16_t> after(kRows);
    for (int row = 0; row < kRows; ++row) after[static_cast<size_t>(row)] = Register(row);
    ExpectUsableAgain([&](int row) { return after[static_cast<size_t>(row)]; });
}

// ---- C: a monitor log ----

TEST_P(FaultCell, MonitorLog)
{
    ASSERT_NO_FATAL_FAILURE(StartNormal());
    constexpr int kSlots = 3;
    monitor::SlotPlans plans;
    MonitorSignals signalSet;
    for (int slot = 0; slot < kSlots; ++slot) {
        plans[static_cast<size_t>(slot)].read = true;
        plans[static_cast<size_t>(slot)].record = RowRecord(slot);
        MonitorSignal& s = signalSet[static_cast<size_t>(slot)];
        s.address = static_cast<uint32_t>(RowRecord(slot).address);
        s.name = L"Row " + std::to_wstring(slot);
        s.enabled = 1;
        s.scale = 1e6f;  // no rescaling on the way
    }
    CMonitorBuffer store;
    const int interval = monitor::IntervalIndexOf(L"100ms");
    ASSERT_GE(interval, 0);
    store.Reset(false, W(folder_), L"TV380", monitor::IntervalName(interval), signalSet);

    std::atomic<bool> logging{true};
    monitor::SamplingControl control;
    control.interval = interval;
    std::mutex mu;
    std::vector<std::pair<int, uint8_t>> lost;
    monitor::CRealTimeSampler::Hooks hooks;
    // The monitor view's hand-over to the store.
    hooks.append = [&](uint64_t timeMs, const monitor::Sweep& sweep) {
        MonitorSample sample{};
        for (int i = 0; i < monitor::kSlotCount; ++i) {
            sample.entries[i].valid = sweep[static_cast<size_t>(i)].valid ? 1 : 0;
            sample.entries[i].value = static_cast<float>(sweep[static_cast<size_t>(i)].value);
        }
        return store.Append(timeMs, sample);
    };
    hooks.sweepLost = [&](int slot, uint8_t err) {
        std::lock_guard<std::mutex> lock(mu);
        lost.emplace_back(slot, err);
    };
    // Two clean sweeps, then the fault.
    ArmingPort port(2 * kSlots + 1, [this] { Arm(); });
    monitor::CRealTimeSampler sampler(port, kStation, plans, logging, control, hooks);
    const auto lostCount = [&] {
        std::lock_guard<std::mutex> lock(mu);
        return static_cast<long>(lost.size());
    };

    BoundedWorker worker([&] { sampler.Run(); }, [&] { logging = false; }, "the monitor log");
    // The fault acts: sweeps are lost, or (a fault the reads survive)
    // samples keep coming.
    EXPECT_TRUE(linktest::WaitFor(
        [&] { return port.armed() && (lostCount() >= 2 || sampler.Appended() >= 6); }, kWaitMs))
        << "neither samples nor lost sweeps after the fault";
    const bool lineFault = fault() == LineFault::Hangup || fault() == LineFault::AdapterGone;
    bool resumed = false;
    if (!lineFault) {
        // A fault of the drive's replies goes away while the log runs: the
        // log goes on by itself on the same link.
        ASSERT_TRUE(Clear(fault(), sim(), kPort, kWaitMs));
        const long at = sampler.Appended();
        resumed = linktest::WaitFor([&] { return sampler.Appended() >= at + 2; }, kWaitMs);
        EXPECT_TRUE(resumed) << "the log did not go on once the fault was gone";
    }
    // Stopping ends the sweep in progress between two reads.
    logging = false;
    ASSERT_GE(worker.Wait(2 * kSlots * kRequestMs * kSlack + 5000), 0);

    // Every sample the store holds is a whole sweep of the registers' own
    // values; a lost sweep left nothing behind.
    const std::vector<MonitorSample> held = store.HeldSamples();
    EXPECT_EQ(static_cast<long>(held.size()), sampler.Appended());
    uint64_t lastTime = 0;
    for (const MonitorSample& sample : held) {
        for (int slot = 0; slot < monitor::kSlotCount; ++slot) {
            if (slot < kSlots) {
                ASSERT_EQ(sample.entries[slot].valid, 1) << "slot " << slot + 1;
                ASSERT_EQ(sample.entries[slot].value, static_cast<float>(Truth(slot))) << "slot " << slot + 1;
            } else {
                ASSERT_EQ(sample.entries[slot].valid, 0);
            }
        }
        EXPECT_GE(sample.timeMs, lastTime);
        lastTime = sample.timeMs;
    }
    // Each lost sweep is told, with the slot that failed. (The sampler also
    // counts the sweep the stop cut short; that one is no loss.)
    EXPECT_GE(sampler.FailedSweeps(), lostCount());
    EXPECT_LE(sampler.FailedSweeps(), lostCount() + 1);
    std::string lostText;
    {
        std::lock_guard<std::mutex> lock(mu);
        for (const auto& l : lost) EXPECT_LT(l.first, kSlots);
        if (!lost.empty()) {
            const int slot = lost.back().first;
            lostText = N(monitor::LostSweepsText(static_cast<long>(lost.size()), slot,
                                                 signalSet[static_cast<size_t>(slot)].name, lost.back().second));
            EXPECT_NE(lostText.find("slot " + std::to_string(slot + 1) + ", Row " + std::to_string(slot)),
                      std::string::npos)
                << lostText;
        }
    }

    const bool ok = lostCount() == 0;
    std::ostringstream outcome;
    if (ok) {
        outcome << "ok: " << held.size() << " samples, none lost";
        if (fault() == LineFault::NakBlock) outcome << " (the fault acts on block sends only)";
    } else {
        outcome << "fails cleanly: " << lostCount() << " sweeps lost and told (\"" << lostText
                << "\"), " << held.size() << " whole samples kept"
                << (resumed ? ", log resumes once the fault is gone" : ", log ends; reconnect needed");
    }
    Check(Operation::MonitorLog, ok, outcome.str() + EndHealth(Operation::MonitorLog));
    ExpectUsableAgain(Truth);
}

// ---- D: a download ----

// An init image of three blocks (the last one short), with a block of zeros
// (sent by the zero-CRC rule). It ends below the mode word at EE 0x600.
std::string InitImage()
{
    std::string out(2 * 128 + 60, '\0');
    uint32_t seed = 4711;
    for (size_t i = 0; i < out.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<char>(seed >> 16);
    }
    for (size_t i = 128; i < 256; ++i) out[i] = 0;
    return out;
}

// An application image of five blocks and a short one, naming its length.
std::string CodeImage()
{
    std::string out(5 * 128 + 40, '\0');
    uint32_t seed = 815;
    for (size_t i = 0; i < out.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<char>(seed >> 16);
    }
    return drivesim::flash::withLengthStamp(out);
}

class DownloadCell : public FaultCell {
protected:
    // Writes the init image into a fresh extracted package; the job writes
    // neither option's files, or (flash) the application image as well.
    DownloadJob Job(bool flash = false)
    {
        const std::string programFolder = folder_ + "Program/";
        const std::string init = programFolder + "ProgramFile/init/I.bin";
        fs::create_directories(programFolder + "ProgramFile/init");
        EXPECT_TRUE(dltest::WriteBytes(init, InitImage()));
        if (flash) {
            fs::create_directories(programFolder + "ProgramFile/code");
            EXPECT_TRUE(dltest::WriteBytes(programFolder + "ProgramFile/code/P.bin", CodeImage()));
        }
        DownloadJob job;
        job.initFile = W(init);
        job.dataFile = W(programFolder + "ProgramFile/data/D.bin");
        job.calibrationFile = W(programFolder + "ProgramFile/calibration/C.TTL");
        job.codeFile = W(programFolder + "ProgramFile/code/P.bin");
        job.programFolder = W(programFolder);
        job.packagePath = L"cell.vkr";
        job.series = L"TV380";
        job.partNumber = L"38000075";
        job.power = L"0.75kW";
        job.programFileOption = flash;
        return job;
    }

    struct Run {
        bool returned = false;
        std::vector<std::wstring> messages;
        bool succeededShown = false;
        std::string transcript;
    };

    Run Execute(CBootPort* port, bool flash = false)
    {
        Run r;
        dltest::RecordingPrompts prompts;
        prompts.answerYes = true;  // keep the package: the run is made again
        std::atomic<bool> running{true};
        CDownloadSequence seq(Job(flash), link_->settings(), *link_, running, prompts);
        seq.SetBootPort(port);
        seq.SetSettleMs(50);
        const std::string transcript = folder_ + "download_log.txt";
        fs::remove(transcript);
        seq.SetTranscriptPath(W(transcript));
        const long ms =
            RunBounded([&] { r.returned = seq.Execute(); }, kDownloadBoundMs, [&] { running = false; }, "the download");
        EXPECT_GE(ms, 0);
        r.messages = prompts.Messages();
        r.succeededShown = std::find(r.messages.begin(), r.messages.end(),
                                     std::wstring(CDownloadSequence::kSucceeded)) != r.messages.end();
        EXPECT_EQ(prompts.succeeded, r.returned);
        EXPECT_EQ(prompts.runEnded, 1);
        r.transcript = dltest::ReadBytes(transcript);
        return r;
    }
};

TEST_P(DownloadCell, Download)
{
    ASSERT_NO_FATAL_FAILURE(StartDrive(linktest::BootDrive(9600)));
    ASSERT_TRUE(link_->ConnectBoot());
    constexpr uint32_t kInitAddress = 1152;
    const std::string image = InitImage();
    const Bytes wire = drivesim::xmodemWireImage(Bytes(image.begin(), image.end()));
    const Bytes before = sim().ee(kInitAddress, wire.size());

    dltest::HookedBootPort port;
    std::vector<std::string> commands;
    port.beforeCommand = [&](const std::string& line) { commands.push_back(line); };
    bool armed = false;
    port.beforeBlock = [&](int block) {
        if (block == 2 && !armed) {
            armed = true;
            Arm();
        }
    };
    const Run run = Execute(&port);
    EXPECT_TRUE(armed);

    // Block by block the EE holds what it held or what was meant, never
    // anything else.
    const Bytes after = sim().ee(kInitAddress, wire.size());
    ASSERT_EQ(after.size(), wire.size());
    for (size_t b = 0; b < wire.size(); b += 128) {
        const Bytes got(after.begin() + b, after.begin() + b + 128);
        EXPECT_TRUE(got == Bytes(before.begin() + b, before.begin() + b + 128) ||
                    got == Bytes(wire.begin() + b, wire.begin() + b + 128))
            << "init block " << b / 128 + 1 << " holds neither the old nor the meant bytes";
    }

    std::string outcome;
    if (run.returned) {
        EXPECT_TRUE(run.succeededShown);
        EXPECT_EQ(after, wire);
        EXPECT_EQ(sim().modeWord(), 0x0065);
        EXPECT_NE(run.transcript.find("outcome: completed"), std::string::npos) << run.transcript;
        const bool resetFailed = std::find(run.messages.begin(), run.messages.end(),
                                           std::wstring(CDownloadSequence::kFaultResetFailed)) != run.messages.end();
        // The fault reset is the one step over Modbus: a fault of the
        // Modbus replies makes it fail, and that is said.
        if (fault() == LineFault::BadCrc || fault() == LineFault::Exception) {
            EXPECT_TRUE(resetFailed);
        }
        outcome = resetFailed ? "ok: image written; the fault reset over Modbus fails and is reported" : "ok";
    } else {
        // Said what failed, never that it succeeded; the drive is not sent
        // to normal start-up with a half-written image.
        EXPECT_FALSE(run.succeededShown);
        ASSERT_FALSE(run.messages.empty()) << "a failed download said nothing";
        const std::wstring& said = run.messages.front();
        EXPECT_NE(run.transcript.find("outcome: failed: " + N(said)), std::string::npos) << run.transcript;
        for (const std::string& c : commands) {
            EXPECT_NE(c, CDownloadSequence::kMarkNormal) << "normal start-up marked after a failed step";
            EXPECT_NE(c, CDownloadSequence::kReset) << "drive reset after a failed step";
        }
        int whole = 0;
        for (size_t b = 0; b < wire.size(); b += 128)
            if (Bytes(after.begin() + b, after.begin() + b + 128) == Bytes(wire.begin() + b, wire.begin() + b + 128))
                ++whole;
        outcome = "fails cleanly: \"" + N(said) + "\"; " + std::to_string(whole) + " of " +
                  std::to_string(wire.size() / 128) + " blocks in, no start-up marked";
    }
    Check(Operation::Download, run.returned, outcome);

    // Usable again: a run left in the bootloader is made again and
    // completes; then the drive answers in normal mode.
    if (fault() == LineFault::AdapterGone) {
        EXPECT_FALSE(link_->ConnectBoot()) << "connected with the adapter pulled";
        linkPrompts_.messages.clear();
    }
    ASSERT_TRUE(Clear(fault(), sim(), kPort, kWaitMs)) << "the line did not come back";
    if (!run.returned) {
        ASSERT_EQ(sim().mode(), drivesim::Mode::Boot);
        ASSERT_TRUE(link_->ConnectBoot()) << "no boot connection after " << FaultName(fault());
        const Run again = Execute(nullptr);
        EXPECT_TRUE(again.returned) << (again.messages.empty() ? "" : N(again.messages.front()));
        EXPECT_EQ(sim().ee(kInitAddress, wire.size()), wire);
        EXPECT_EQ(sim().modeWord(), 0x0065);
    }
    ASSERT_TRUE(sim().waitForMode(drivesim::Mode::Normal, kWaitMs));
    ASSERT_TRUE(link_->ConnectNormal()) << "no normal connection after the download";
    uint16_t truth = 0;
    ASSERT_TRUE(sim().readRegister(0x0100, &truth));
    uint8_t value[2] = {0, 0};
    uint8_t err = 0;
    ASSERT_TRUE(ModbusPort().ProcRead(kStation, 0x0100, value, &err)) << "err " << int(err);
    EXPECT_EQ(static_cast<uint16_t>(value[0] | (value[1] << 8)), truth);
}

// The flash path: the mark, the erase and the flash image, with the fault
// arriving at the second flash block; then the resume.
TEST_P(DownloadCell, FlashDownload)
{
    ASSERT_NO_FATAL_FAILURE(StartDrive(linktest::BootDrive(9600)));
    ASSERT_TRUE(link_->ConnectBoot());
    const std::string image = CodeImage();
    const Bytes wire = drivesim::xmodemWireImage(Bytes(image.begin(), image.end()));

    dltest::HookedBootPort port;
    std::vector<std::string> commands;
    port.beforeCommand = [&](const std::string& line) { commands.push_back(line); };
    bool armed = false;
    port.beforeBlock = [&](int block) {
        if (block == 2 && !armed) {
            armed = true;
            Arm();
        }
    };
    const Run run = Execute(&port, true);
    EXPECT_TRUE(armed);

    std::string outcome;
    if (run.returned) {
        EXPECT_TRUE(run.succeededShown);
        EXPECT_EQ(sim().flash(0x08008000, wire.size()), wire);
        EXPECT_EQ(sim().modeWord(), 0x0065);
        outcome = "ok";
    } else {
        // Never normal start-up over a half-written flash: the drive stays
        // in its bootloader, marked, and config.ini asks for the resume.
        EXPECT_FALSE(run.succeededShown);
        for (const std::string& c : commands) {
            EXPECT_NE(c, CDownloadSequence::kMarkNormal) << "normal start-up marked after a failed step";
            EXPECT_NE(c, CDownloadSequence::kReset) << "drive reset after a failed step";
        }
        EXPECT_EQ(sim().modeWord(), 0x0081);
        EXPECT_FALSE(sim().applicationValid());
        EXPECT_EQ(N(PrivateProfileGetString(L"COM", L"Download", L"", W(folder_ + "config.ini"))), "1");
        outcome = "fails cleanly: \"" + (run.messages.empty() ? std::string() : N(run.messages.front())) +
                  "\"; drive kept in its bootloader (0081), resumed";
    }
    Check(Operation::FlashDownload, run.returned, outcome);

    ASSERT_TRUE(Clear(fault(), sim(), kPort, kWaitMs)) << "the line did not come back";
    if (!run.returned) {
        ASSERT_EQ(sim().mode(), drivesim::Mode::Boot);
        ASSERT_TRUE(link_->ConnectBoot()) << "no boot connection after " << FaultName(fault());
        const Run again = Execute(nullptr, true);
        EXPECT_TRUE(again.returned) << (again.messages.empty() ? "" : N(again.messages.front()));
        EXPECT_EQ(sim().flash(0x08008000, wire.size()), wire);
    }
    EXPECT_TRUE(sim().applicationValid());
    ASSERT_TRUE(sim().waitForMode(drivesim::Mode::Normal, kWaitMs));
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Faults, DownloadCell, ::testing::ValuesIn(AllFaults()),
                         [](const ::testing::TestParamInfo<LineFault>& info) { return FaultIdent(info.param); });
INSTANTIATE_TEST_SUITE_P(Faults, FaultCell, ::testing::ValuesIn(AllFaults()),
                         [](const ::testing::TestParamInfo<LineFault>& info) { return FaultIdent(info.param); });
