// torvane-cli monitor and recover against the simulated drive while its motor
// ramps: the samples follow the ramp, Ctrl+C saves a history file the history
// viewer's reader loads, and a killed run is recovered from its journal.
#include "CliTestUtil.h"

#include "HistoryFile.h"
#include "ParamTable.h"
#include "ProgramFolder.h"
#include "RecordingJournal.h"
#include "WideText.h"

#include <csignal>
#include <cstdlib>

#include <gtest/gtest.h>

using namespace clitest;

namespace {

std::string Dump(const CliRun& r)
{
    return "exit " + std::to_string(r.code) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

struct CliMonitor : ::testing::Test {
    std::unique_ptr<Folder> folder = std::make_unique<Folder>();
    std::unique_ptr<drivesim::Simulator> sim;
    ParamTable table;

    void SetUp() override
    {
        sim = StartDrive(DriveOptions(1));
        ASSERT_TRUE(sim);
        ASSERT_TRUE(table.Load(wtext::FromUtf8(TORVANE_SAMPLE_PROGRAM_DIR "Parameter/TV380.xls")));
    }
    void TearDown() override
    {
        if (sim) sim->stop();
    }
    CliCall Call(std::vector<std::string> args)
    {
        CliCall c;
        c.args = {"--folder", folder->path()};
        c.args.insert(c.args.end(), args.begin(), args.end());
        for (int port = 2; port <= 16; ++port)
            c.env["TORVANE_COM" + std::to_string(port)] = (*folder) / "no-such-device";
        c.env["TORVANE_COM1"] = sim->slavePath();
        c.cwd = folder->path();
        return c;
    }
    std::wstring History() const { return WritableFolder(wtext::FromUtf8(folder->path())) + history::Folder(); }
    // The motor runs forward towards 50 Hz, as the drive control panel starts it.
    void StartRamp()
    {
        ASSERT_EQ(sim->writeRegister(10000, 5000), 0);
        ASSERT_EQ(sim->writeRegister(9999, 1), 0);
    }
};

}  // namespace

// 5 s at 100 ms while the motor ramps up: the output frequency rises sample by
// sample, the set frequency stays 50 Hz; Ctrl+C ends the log and saves the
// file, which holds the samples printed, with their times.
TEST_F(CliMonitor, SamplesFollowTheRampAndCtrlCSaves)
{
    StartRamp();
    CliCall c = Call({"monitor", "--slot", "1=P09.00", "--slot", "2=2306", "--interval", "100ms", "--duration", "2m",
                      "--out", "run.xls", "--format", "csv"});
    c.signalWhen = [](const std::string& out, const std::string&) { return Lines(out) >= 51; };
    c.signal = SIGINT;
    const CliRun r = RunCli(c);
    ASSERT_EQ(r.code, 0) << Dump(r);
    EXPECT_NE(r.err.find("samples saved to " + (*folder) / "run.xls"), std::string::npos) << Dump(r);

    const auto rows = CsvRows(r.out);
    ASSERT_GE(rows.size(), 51u) << Dump(r);
    ASSERT_EQ(rows[0].size(), 3u);
    EXPECT_EQ(rows[0][1], "Output frequency");
    std::vector<double> hz;
    for (size_t i = 1; i < rows.size(); ++i) {
        hz.push_back(std::atof(rows[i][1].c_str()));
        EXPECT_EQ(rows[i][2], "50.00") << "row " << i;
        if (i > 1) {
            EXPECT_GE(hz.back(), hz[hz.size() - 2]) << "row " << i;
            EXPECT_GT(std::stoull(rows[i][0]), std::stoull(rows[i - 1][0]));
        }
    }
    EXPECT_LT(hz.front(), 10.0);
    EXPECT_GT(hz.back(), 30.0);

    CMonitorBuffer back;
    const history::LoadResult loaded = history::CHistoryReader(table, back).Load(wtext::FromUtf8((*folder) / "run.xls"));
    ASSERT_TRUE(loaded.accepted) << loaded.error;
    EXPECT_EQ(loaded.intervalText, L"100ms");
    EXPECT_TRUE(loaded.slotInfo[0].recorded);
    EXPECT_EQ(loaded.slotInfo[1].address, 2306u);
    const std::vector<MonitorSample> held = back.HeldSamples();
    ASSERT_EQ(held.size(), rows.size() - 1);
    for (size_t k = 0; k < held.size(); ++k) {
        EXPECT_EQ(held[k].timeMs, std::stoull(rows[k + 1][0]));
        EXPECT_NEAR(held[k].entries[0].value, hz[k], 0.006);
    }
    EXPECT_TRUE(journal::FindLeftBehind(History()).empty());
}

// A run killed during its log leaves its journal; recover writes every sample
// it printed up to the last second before the kill into a history file.
TEST_F(CliMonitor, AKilledRunIsRecovered)
{
    StartRamp();
    CliCall c = Call({"monitor", "--slot", "1=P09.00", "--interval", "100ms", "--format", "csv"});
    c.signalWhen = [](const std::string& out, const std::string&) { return Lines(out) >= 21; };
    c.signal = SIGKILL;
    const CliRun killed = RunCli(c);
    EXPECT_EQ(killed.code, -1) << Dump(killed);
    const auto rows = CsvRows(killed.out);
    ASSERT_GE(rows.size(), 21u);

    CliRun r = RunCli(Call({"recover"}));
    ASSERT_EQ(r.code, 0) << Dump(r);
    ASSERT_EQ(Lines(r.out), 1u) << Dump(r);
    CMonitorBuffer back;
    const std::string file = r.out.substr(0, r.out.size() - 1);
    const history::LoadResult loaded = history::CHistoryReader(table, back).Load(wtext::FromUtf8(file));
    ASSERT_TRUE(loaded.accepted) << loaded.error;
    const std::vector<MonitorSample> held = back.HeldSamples();
    EXPECT_GE(held.size() + 10, rows.size() - 1);
    for (size_t k = 0; k < held.size() && k + 1 < rows.size(); ++k)
        EXPECT_EQ(held[k].timeMs, std::stoull(rows[k + 1][0]));
    EXPECT_TRUE(journal::FindLeftBehind(History()).empty());

    r = RunCli(Call({"recover"}));
    EXPECT_EQ(r.code, 0) << Dump(r);
    EXPECT_NE(r.err.find("no recording was left behind"), std::string::npos) << Dump(r);
}

// What monitor refuses before it touches the drive, by the CLI's exit codes:
// 2 for the command line, 5 for a quantity the table does not have.
TEST_F(CliMonitor, BadSlotsAndIntervalsAreRefused)
{
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"monitor", "--out", "a.xls"}, 2},
        {{"monitor", "--slot", "1=P09.00"}, 2},
        {{"monitor", "--slot", "11=P09.00", "--out", "a.xls"}, 2},
        {{"monitor", "--slot", "1=P09.00", "--interval", "3sec", "--out", "a.xls"}, 2},
        {{"monitor", "--slot", "1=P09.00", "--duration", "soon", "--out", "a.xls"}, 2},
        {{"monitor", "--slot", "1=P99.99", "--out", "a.xls"}, 5},
        {{"monitor", "--slot", "1=65000", "--out", "a.xls"}, 5},
    };
    for (const auto& c : cases) {
        const CliRun r = RunCli(Call(c.first));
        EXPECT_EQ(r.code, c.second) << Dump(r);
    }
    EXPECT_EQ(sim->stats().requests, 0L);
}
