// torvane-cli against simulated drives on pseudo-terminals, run as its own
// process the way a script runs it: exit codes, standard output as data,
// what reaches the drive (the simulator's registers and write counter).
#include "CliTestUtil.h"
#include "NetTestUtil.h"

#include "ParamTable.h"
#include "ParamViewLogic.h"
#include "PtyKit.h"
#include "ValueFile.h"
#include "WideText.h"

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace clitest;

namespace {

constexpr int kUsage = 2, kConnection = 3, kPartial = 4, kRefused = 5, kDifferent = 1, kFailed = 6;

std::string Dump(const CliRun& r)
{
    return "exit " + std::to_string(r.code) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The row of a CSV result whose column `key` holds `value`.
std::map<std::string, std::string> RowWhere(const std::vector<std::vector<std::string>>& rows, const std::string& key,
                                            const std::string& value)
{
    if (rows.empty()) return {};
    const auto& head = rows.front();
    for (size_t r = 1; r < rows.size(); ++r) {
        std::map<std::string, std::string> m;
        for (size_t c = 0; c < head.size() && c < rows[r].size(); ++c) m[head[c]] = rows[r][c];
        if (m[key] == value) return m;
    }
    return {};
}

ParamTable Sample()
{
    ParamTable t;
    EXPECT_TRUE(t.Load(wtext::FromUtf8(TORVANE_SAMPLE_PROGRAM_DIR "Parameter/TV380.xls")));
    return t;
}

// Requests a drive heard for other stations, by station, from its log.
struct OthersAsked {
    std::mutex mu;
    std::map<int, int> count;

    static drivesim::SimOptions Listening(drivesim::SimOptions o, const std::shared_ptr<OthersAsked>& to)
    {
        o.log = [to](int, const std::string& line) {
            const size_t at = line.find("normal: station ");
            unsigned station = 0;
            if (at != std::string::npos && line.find(", not ours") != std::string::npos &&
                std::sscanf(line.c_str() + at, "normal: station %u,", &station) == 1) {
                std::lock_guard<std::mutex> lock(to->mu);
                ++to->count[static_cast<int>(station)];
            }
        };
        return o;
    }
    int Of(int station)
    {
        std::lock_guard<std::mutex> lock(mu);
        return count[station];
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mu);
        count.clear();
    }
};

struct CliDrive : ::testing::Test {
    std::unique_ptr<Folder> folder = std::make_unique<Folder>();
    std::unique_ptr<drivesim::Simulator> sim;
    std::string line;  // the device of COM1

    void SetUp() override
    {
        sim = StartDrive(DriveOptions(1));
        ASSERT_TRUE(sim);
        line = sim->slavePath();
    }
    void TearDown() override
    {
        if (sim) sim->stop();
    }

    CliRun Cli(std::vector<std::string> args, std::map<std::string, std::string> env = {})
    {
        CliCall s;
        s.args = {"--folder", folder->path()};
        s.args.insert(s.args.end(), args.begin(), args.end());
        // Only the ports a test names exist; the machine's own stay out.
        for (int port = 1; port <= 16; ++port)
            s.env["TORVANE_COM" + std::to_string(port)] = (*folder) / ("no-such-device-" + std::to_string(port));
        s.env["TORVANE_COM1"] = line;
        for (const auto& kv : env) s.env[kv.first] = kv.second;
        s.cwd = folder->path();
        return RunCli(s);
    }
};

TEST_F(CliDrive, BackupDiffRestoreRoundTrip)
{
    const CliRun backup = Cli({"backup", "base.xls", "G01"});
    ASSERT_EQ(backup.code, 0) << Dump(backup);
    ASSERT_EQ(access(((*folder) / "base.xls").c_str(), R_OK), 0);
    EXPECT_TRUE(Has(backup.out, "base.xls")) << backup.out;

    // At the drive's keypad, three parameters change.
    SetDriveValue(*sim, L"01.04", 60.0);
    SetDriveValue(*sim, L"01.07", 12.5);
    SetDriveValue(*sim, L"01.09", 1);

    const CliRun diff = Cli({"diff", "base.xls", "--format", "csv"});
    ASSERT_EQ(diff.code, kDifferent) << Dump(diff);
    const auto rows = CsvRows(diff.out);
    ASSERT_EQ(rows.size(), 4u) << diff.out;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"pnu", "name", "drive", "file", "default", "unit"}));
    auto p104 = RowWhere(rows, "pnu", "P01.04");
    EXPECT_EQ(p104["drive"], "60.00");
    EXPECT_EQ(p104["file"], "50.00");
    EXPECT_EQ(p104["default"], "50.00");
    auto p107 = RowWhere(rows, "pnu", "P01.07");
    EXPECT_EQ(p107["drive"], "12.5");
    EXPECT_EQ(p107["file"], "10.0");
    EXPECT_EQ(p107["default"], "10.0");
    auto p109 = RowWhere(rows, "pnu", "P01.09");
    EXPECT_EQ(p109["drive"], "1,Opposite direction");
    EXPECT_EQ(p109["file"], "0,Default direction");
    EXPECT_EQ(p109["default"], "0");

    // The plan alone writes nothing.
    const long before = ParamWrites(*sim);
    const CliRun plan = Cli({"restore", "base.xls", "--dry-run", "--format", "csv"});
    ASSERT_EQ(plan.code, 0) << Dump(plan);
    EXPECT_EQ(CsvRows(plan.out).size(), 4u) << plan.out;
    EXPECT_EQ(RowWhere(CsvRows(plan.out), "pnu", "P01.07")["result"], "to write");
    EXPECT_EQ(ParamWrites(*sim), before);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.04"), 60.0);

    // The restore writes exactly the three and checks them back.
    const CliRun restore = Cli({"restore", "base.xls", "--format", "csv"});
    ASSERT_EQ(restore.code, 0) << Dump(restore);
    const auto done = CsvRows(restore.out);
    ASSERT_EQ(done.size(), 4u) << restore.out;
    for (const char* pnu : {"P01.04", "P01.07", "P01.09"}) EXPECT_EQ(RowWhere(done, "pnu", pnu)["result"], "written");
    EXPECT_EQ(RowWhere(done, "pnu", "P01.04")["drive"], "60.00");
    EXPECT_EQ(ParamWrites(*sim), before + 3);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.04"), 50.0);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.07"), 10.0);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.09"), 0.0);

    const CliRun again = Cli({"diff", "base.xls", "--format", "csv"});
    EXPECT_EQ(again.code, 0) << Dump(again);
    EXPECT_EQ(CsvRows(again.out).size(), 1u) << again.out;
}

TEST_F(CliDrive, ReadWriteBackupDiffThroughASerialDeviceServer)
{
    nettest::Ser2net server(folder->path(), line, "9600e81");
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string port = server.Url();

    const CliRun group = Cli({"--port", port, "read", "G01", "--format", "csv"});
    ASSERT_EQ(group.code, 0) << Dump(group);
    ParamTable t = Sample();
    EXPECT_EQ(CsvRows(group.out).size(), paramview::GroupRows(t, 1).size() + 1);
    const CliRun backup = Cli({"--port", port, "backup", "net.xls", "G01"});
    ASSERT_EQ(backup.code, 0) << Dump(backup);
    const CliRun write = Cli({"--port", port, "write", "P01.04=55.5", "--format", "csv"});
    ASSERT_EQ(write.code, 0) << Dump(write);
    EXPECT_EQ(RowWhere(CsvRows(write.out), "pnu", "P01.04")["result"], "written");
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.04"), 55.5);
    const CliRun diff = Cli({"--port", port, "diff", "net.xls", "G01", "--format", "csv"});
    EXPECT_EQ(diff.code, kDifferent) << Dump(diff);
    EXPECT_EQ(CsvRows(diff.out).size(), 2u) << diff.out;
    EXPECT_EQ(RowWhere(CsvRows(diff.out), "pnu", "P01.04")["file"], "50.00") << diff.out;

    // A port text that is no network port is a usage error; a server that is
    // not there is a connection failure naming why.
    const CliRun bad = Cli({"--port", "tcp://127.0.0.1", "read", "P01.04"});
    EXPECT_EQ(bad.code, kUsage) << Dump(bad);
    EXPECT_TRUE(Has(bad.err, "write tcp://HOST:PORT")) << bad.err;
    server.Stop();
    const CliRun gone = Cli({"--port", port, "read", "P01.04"});
    EXPECT_EQ(gone.code, kConnection) << Dump(gone);
    EXPECT_TRUE(Has(gone.err, "connection refused")) << gone.err;
}

TEST_F(CliDrive, ReadPrintsTheViewsTextsInEachFormat)
{
    SetDriveValue(*sim, L"01.04", 123.45);
    const CliRun json = Cli({"read", "P01.04", "P01.00", "--format", "json"});
    ASSERT_EQ(json.code, 0) << Dump(json);
    EXPECT_TRUE(Has(json.out, "\"pnu\": \"P01.00\", \"name\": \"Control mode\", \"value\": \"0,V/F control\""))
        << json.out;
    EXPECT_TRUE(Has(json.out, "\"pnu\": \"P01.04\", \"name\": \"Maximum frequency\", \"value\": 123.45, "
                              "\"unit\": \"Hz\", \"default\": 50.00, \"min\": 50.00, \"max\": 590.00}"))
        << json.out;
    EXPECT_TRUE(json.err.empty()) << json.err;

    const CliRun group = Cli({"read", "G01", "--format", "csv"});
    ASSERT_EQ(group.code, 0) << Dump(group);
    ParamTable t = Sample();
    EXPECT_EQ(CsvRows(group.out).size(), paramview::GroupRows(t, 1).size() + 1);
    EXPECT_EQ(RowWhere(CsvRows(group.out), "pnu", "P01.04")["value"], "123.45");

    const CliRun unknown = Cli({"read", "P01.04", "G77"});
    EXPECT_EQ(unknown.code, kRefused) << Dump(unknown);
    EXPECT_TRUE(Has(unknown.err, "G77"));
    EXPECT_TRUE(unknown.out.empty());
}

TEST_F(CliDrive, WriteChecksEveryValueBeforeWritingAny)
{
    const long before = ParamWrites(*sim);
    const CliRun range = Cli({"write", "P01.04=60", "P01.07=7000"});
    EXPECT_EQ(range.code, kRefused) << Dump(range);
    EXPECT_TRUE(Has(range.err, "P01.07=7000: not between 0.0 and 6500.0")) << range.err;
    const CliRun unknown = Cli({"write", "P01.04=60", "P99.99=1"});
    EXPECT_EQ(unknown.code, kRefused) << Dump(unknown);
    EXPECT_TRUE(Has(unknown.err, "P99.99")) << unknown.err;
    const CliRun decimals = Cli({"write", "P01.04=60.005"});
    EXPECT_EQ(decimals.code, kRefused) << Dump(decimals);
    const CliRun option = Cli({"write", "P01.00=7"});
    EXPECT_EQ(option.code, kRefused) << Dump(option);
    EXPECT_EQ(ParamWrites(*sim), before);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.04"), 50.0);

    // Accepted values are written and read back; an option by its text.
    const CliRun ok = Cli({"write", "P01.04=55.5", "P01.00=Sensorless vector control", "--format", "csv"});
    ASSERT_EQ(ok.code, 0) << Dump(ok);
    EXPECT_EQ(RowWhere(CsvRows(ok.out), "pnu", "P01.04")["result"], "written");
    EXPECT_EQ(RowWhere(CsvRows(ok.out), "pnu", "P01.00")["value"], "1,Sensorless vector control");
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.04"), 55.5);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.00"), 1.0);
    EXPECT_EQ(ParamWrites(*sim), before + 2);
}

TEST_F(CliDrive, RestoreRefusesAFileOfAnotherDeviceOrWithAValueOutOfRange)
{
    ParamTable t = Sample();
    const std::vector<int> rows = paramview::GroupRows(t, 1);
    std::vector<bool> all(rows.size(), true);
    for (int i : rows) {
        // Values as read from a drive: a value file holds known values only.
        ParamRecord& r = t.params[static_cast<size_t>(i)];
        r.value = r.defaultValue;
        r.valueUnknown = false;
    }

    ParamTable foreign = t;
    foreign.deviceType = L"TV390";
    ASSERT_TRUE(valuefile::Save(wtext::FromUtf8((*folder) / "foreign.xls"), foreign, rows, all));
    ParamTable wild = t;
    for (ParamRecord& r : wild.params)
        if (r.pnu == L"01.07") r.value = 7000;
    ASSERT_TRUE(valuefile::Save(wtext::FromUtf8((*folder) / "wild.xls"), wild, rows, all));
    SetDriveValue(*sim, L"01.04", 60.0);

    const long before = ParamWrites(*sim);
    const CliRun other = Cli({"restore", "foreign.xls"});
    EXPECT_EQ(other.code, kRefused) << Dump(other);
    EXPECT_TRUE(Has(other.err, "Device model does not match :TV380 != TV390")) << other.err;
    const CliRun range = Cli({"restore", "wild.xls"});
    EXPECT_EQ(range.code, kRefused) << Dump(range);
    EXPECT_TRUE(Has(range.err, "P01.07=7000.0")) << range.err;
    const CliRun diff = Cli({"diff", "foreign.xls"});
    EXPECT_EQ(diff.code, kRefused) << Dump(diff);
    EXPECT_EQ(ParamWrites(*sim), before);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.04"), 60.0);
}

// A drive may hold values its parameter table calls out of range (its own
// firmware allows P01.04 down to 0 here, the table from 50): a backup of it
// restores, leaving those rows alone.
TEST_F(CliDrive, BackupOfValuesOutsideTheTableRestores)
{
    sim->stop();
    drivesim::SimOptions o = DriveOptions(1);
    for (drivesim::ParamDef& p : o.params)
        if (p.pnu == "01.04") p.minValue = 0;
    sim = StartDrive(o);
    ASSERT_TRUE(sim);
    line = sim->slavePath();
    SetDriveValue(*sim, L"01.04", 0.0);
    const CliRun backup = Cli({"backup", "before.xls", "G01"});
    ASSERT_EQ(backup.code, 0) << Dump(backup);
    EXPECT_TRUE(Has(backup.err, "P01.04 = 0.00 read from the drive is not between 50.00 and 590.00")) << backup.err;

    const CliRun plan = Cli({"restore", "before.xls", "--dry-run", "--format", "csv"});
    ASSERT_EQ(plan.code, 0) << Dump(plan);
    EXPECT_EQ(CsvRows(plan.out).size(), 1u) << plan.out;  // nothing to write

    // Restore limited to one parameter: only that one is written.
    SetDriveValue(*sim, L"01.03", 20.0);
    SetDriveValue(*sim, L"01.07", 12.5);
    const long before = ParamWrites(*sim);
    const CliRun one = Cli({"restore", "before.xls", "P01.03", "--format", "csv"});
    ASSERT_EQ(one.code, 0) << Dump(one);
    EXPECT_EQ(RowWhere(CsvRows(one.out), "pnu", "P01.03")["result"], "written");
    EXPECT_EQ(ParamWrites(*sim), before + 1);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.03"), 50.0);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.07"), 12.5);
    EXPECT_DOUBLE_EQ(DriveValue(*sim, L"01.04"), 0.0);

    // Once the drive holds another value, writing 0.00 back is refused.
    SetDriveValue(*sim, L"01.04", 60.0);
    const CliRun refused = Cli({"restore", "before.xls"});
    EXPECT_EQ(refused.code, kRefused) << Dump(refused);
    EXPECT_TRUE(Has(refused.err, "P01.04=0.00 in ")) << refused.err;
    EXPECT_TRUE(Has(refused.err, "nothing written")) << refused.err;
    EXPECT_EQ(ParamWrites(*sim), before + 1);
}

// The exit codes of the table that no other test produces, with the
// messages that go with them; no data on standard output without a drive.
TEST_F(CliDrive, ExitCodesAndMessagesAsDocumented)
{
    // 6: a value file that is missing, junk or cut short.
    ASSERT_EQ(Cli({"backup", "good.xls", "G01"}).code, 0);
    {
        FILE* f = std::fopen(((*folder) / "junk.xls").c_str(), "w");
        std::fputs("not a workbook\n", f);
        std::fclose(f);
        FILE* in = std::fopen(((*folder) / "good.xls").c_str(), "rb");
        std::string bytes(4096, '\0');
        bytes.resize(std::fread(&bytes[0], 1, bytes.size(), in));
        std::fclose(in);
        FILE* out = std::fopen(((*folder) / "cut.xls").c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size() / 2, out);
        std::fclose(out);
    }
    for (const char* file : {"missing.xls", "junk.xls", "cut.xls"}) {
        const CliRun r = Cli({"restore", file});
        EXPECT_EQ(r.code, kFailed) << file << Dump(r);
        EXPECT_EQ(Cli({"diff", file}).code, kFailed) << file;
    }

    // 2: one line, and where the help is.
    const CliRun usage = Cli({"frobnicate"});
    EXPECT_EQ(usage.code, kUsage);
    EXPECT_EQ(std::count(usage.err.begin(), usage.err.end(), '\n'), 1) << usage.err;
    EXPECT_TRUE(Has(usage.err, "--help")) << usage.err;
    EXPECT_TRUE(usage.out.empty());

    // 3: a device path is named as given; a plain file is no serial device.
    const std::string usb = (*folder) / "ttyUSB7";
    const CliRun gone = Cli({"--port", usb, "read", "P01.04"});
    EXPECT_EQ(gone.code, kConnection) << Dump(gone);
    EXPECT_TRUE(Has(gone.err, usb + ": serial device not found")) << gone.err;
    EXPECT_FALSE(Has(gone.err, "COM1")) << gone.err;
    EXPECT_TRUE(gone.out.empty()) << gone.out;
    const CliRun plain = Cli({"--port", (*folder) / "good.xls", "read", "P01.04"});
    EXPECT_EQ(plain.code, kConnection) << Dump(plain);
    EXPECT_TRUE(Has(plain.err, "not a serial device")) << plain.err;
    EXPECT_FALSE(Has(plain.err, "in use")) << plain.err;

    sim->setFault("silence");
    for (std::vector<std::string> args : {std::vector<std::string>{"read", "P01.04", "--format", "csv"},
                                          {"diff", "good.xls", "--format", "json"},
                                          {"info", "--format", "json"}}) {
        args.insert(args.end(), {"--timeout", "200"});
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, kConnection) << Dump(r);
        EXPECT_TRUE(r.out.empty()) << args[0] << ": " << r.out;
    }
}

TEST_F(CliDrive, SilentDriveOrMissingPortIsAConnectionFailure)
{
    sim->setFault("silence");
    const CliRun silent = Cli({"read", "P01.04", "--timeout", "200"});
    EXPECT_EQ(silent.code, kConnection) << Dump(silent);
    EXPECT_TRUE(Has(silent.err, "station 1: no reply at COM1")) << silent.err;
    EXPECT_TRUE(silent.out.find("P01.04") == std::string::npos) << silent.out;
    // Two presence attempts of 200 ms each, not the retries of a batch: the
    // bound only catches a command that hangs on a silent line.
    EXPECT_LT(silent.ms, 20000);

    const CliRun missing = Cli({"info", "--port", (*folder) / "gone"});
    EXPECT_EQ(missing.code, kConnection) << Dump(missing);
    EXPECT_TRUE(Has(missing.err, "not found")) << missing.err;
}

TEST_F(CliDrive, DriveFallingSilentMidReadFailsFastNamingTheLastParameterRead)
{
    // The drive goes silent once it has served the presence test and five reads.
    std::atomic<bool> done{false};
    std::thread trip([&] {
        while (!done && sim->stats().requests < 6) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sim->setFault("silence");
    });
    const CliRun r = Cli({"read", "G01", "--format", "csv", "--timeout", "200"});
    done = true;
    trip.join();
    EXPECT_EQ(r.code, kPartial) << Dump(r);
    const auto rows = CsvRows(r.out);
    ParamTable t = Sample();
    const size_t n = paramview::GroupRows(t, 1).size();
    ASSERT_EQ(rows.size(), n + 1) << r.out;
    // The rows read, then nothing more: the last one read is named.
    size_t read = 0;
    while (read < n && rows[read + 1][2] != "-") ++read;
    ASSERT_GE(read, 4u);
    ASSERT_LT(read, n);
    for (size_t i = read; i < n; ++i) EXPECT_EQ(rows[i + 1][2], "-") << i;
    EXPECT_TRUE(Has(r.err, "station 1: The drive stopped answering after " + rows[read][0] + ". " +
                               std::to_string(n - read) + " parameters were not read."))
        << r.err;
    // One line for the stop, none per row.
    EXPECT_FALSE(Has(r.err, "not read:")) << r.err;
}

// One drive at station 3 in a list around it: the stations before it are
// connection attempts; once it answered, each station after it is asked
// with one request and reported, and the drive is served.
TEST_F(CliDrive, AbsentStationsAroundOneDriveAreAskedOnceEach)
{
    sim->stop();
    auto asked = std::make_shared<OthersAsked>();
    sim = StartDrive(OthersAsked::Listening(DriveOptions(3), asked));
    ASSERT_TRUE(sim);
    line = sim->slavePath();

    const CliRun info = Cli({"--station", "1-5", "info", "--format", "csv", "--timeout", "300"});
    EXPECT_EQ(info.code, kPartial) << Dump(info);
    const auto found = CsvRows(info.out);
    ASSERT_EQ(found.size(), 2u) << info.out;
    EXPECT_EQ(RowWhere(found, "station", "3")["series"], "TV380");
    for (int absent : {1, 2, 4, 5})
        EXPECT_TRUE(Has(info.err, "station " + std::to_string(absent) + ": no reply at ")) << info.err;
    EXPECT_EQ(asked->Of(4), 1);
    EXPECT_EQ(asked->Of(5), 1);

    asked->Clear();
    SetDriveValue(*sim, L"01.04", 60.0);
    const CliRun read = Cli({"--station", "1-5", "read", "P01.04", "--format", "csv", "--timeout", "300"});
    EXPECT_EQ(read.code, kPartial) << Dump(read);
    const auto rows = CsvRows(read.out);
    ASSERT_EQ(rows.size(), 2u) << read.out;
    EXPECT_EQ(RowWhere(rows, "station", "3")["value"], "60.00");
    EXPECT_TRUE(Has(read.err, "station 5: no reply at ")) << read.err;
    EXPECT_EQ(asked->Of(4), 1);
    EXPECT_EQ(asked->Of(5), 1);

    // None answered: 3, and nothing on standard output.
    const CliRun none = Cli({"--station", "4-5", "read", "P01.04", "--format", "csv", "--timeout", "300"});
    EXPECT_EQ(none.code, kConnection) << Dump(none);
    EXPECT_TRUE(none.out.empty()) << none.out;
}

TEST_F(CliDrive, InfoInBootModeGivesTheBootloaderVersion)
{
    sim->stop();
    drivesim::SimOptions o = DriveOptions(1);
    o.startMode = drivesim::Mode::Boot;
    sim = StartDrive(o);
    ASSERT_TRUE(sim);
    line = sim->slavePath();
    // Normal mode is asked first: a short time-out keeps its silence short.
    const CliRun info = Cli({"info", "--format", "csv", "--timeout", "300"});
    ASSERT_EQ(info.code, 0) << Dump(info);
    const auto row = RowWhere(CsvRows(info.out), "mode", "boot");
    EXPECT_EQ(row.at("baud"), "38400") << info.out;
    // The version text alone: no prompt, no line breaks; LF-ended lines.
    EXPECT_EQ(row.at("bootloader"), "VKR bootloader V2.03 (drivesim)") << info.out;
    EXPECT_FALSE(Has(info.out, "\r")) << info.out;
    // JSON keeps the types of normal mode: the station is a number or null.
    const CliRun json = Cli({"info", "--format", "json", "--timeout", "300"});
    ASSERT_EQ(json.code, 0) << Dump(json);
    EXPECT_TRUE(Has(json.out, "\"station\": null, \"mode\": \"boot\"")) << json.out;
    EXPECT_TRUE(Has(json.out, "\"baud\": 38400")) << json.out;
    // Reading parameters from a bootloader says where the drive is.
    const CliRun read = Cli({"read", "P01.04", "--timeout", "300"});
    EXPECT_EQ(read.code, kConnection) << Dump(read);
    EXPECT_TRUE(Has(read.err, "is in its bootloader")) << read.err;
    EXPECT_TRUE(read.out.empty()) << read.out;
}

TEST_F(CliDrive, UsageErrorsAndHelp)
{
    EXPECT_EQ(Cli({}).code, kUsage);
    EXPECT_EQ(Cli({"frobnicate"}).code, kUsage);
    EXPECT_EQ(Cli({"read", "--format", "xml"}).code, kUsage);
    EXPECT_EQ(Cli({"read", "--station", "0"}).code, kUsage);
    EXPECT_EQ(Cli({"write", "--station", "1-2", "P01.04=50"}).code, kUsage);
    EXPECT_EQ(Cli({"read", "--dry-run"}).code, kUsage);
    for (const char* cmd : {"ports", "info", "read", "write", "backup", "restore", "diff"}) {
        const CliRun help = Cli({cmd, "--help"});
        EXPECT_EQ(help.code, 0) << cmd;
        EXPECT_EQ(help.out.rfind(std::string("usage: torvane-cli"), 0), 0u) << cmd << help.out;
    }
    const CliRun all = Cli({"--help"});
    EXPECT_TRUE(Has(all.out, "exit codes")) << all.out;
}

// ---- several drives on one line ----

TEST(CliBus, BackupGoesThroughTheStationsAndSkipsASilentOne)
{
    Folder folder(500);
    auto asked = std::make_shared<OthersAsked>();
    auto one = StartDrive(OthersAsked::Listening(DriveOptions(1), asked));
    auto five = StartDrive(DriveOptions(5));
    ASSERT_TRUE(one && five);
    SetDriveValue(*five, L"01.04", 70.0);

    // The PC's end of the bus, and each drive's own pty joined to it.
    ptykit::PtyPair bus;
    ASSERT_TRUE(bus.ok());
    ptykit::Relay relay;
    relay.AddMasterSide(bus.master());
    std::vector<int> ends;
    for (drivesim::Simulator* s : {one.get(), five.get()}) {
        const int fd = ::open(s->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ends.push_back(fd);
        relay.AddStationSide(fd);
    }
    relay.Start();

    CliCall call;
    call.cwd = folder.path();
    call.env["TORVANE_COM1"] = bus.path();
    call.args = {"--folder", folder.path(), "--station", "1,3,5", "backup", "plant.xls", "G01", "--format", "csv"};
    const CliRun backup = RunCli(call);
    EXPECT_EQ(backup.code, kPartial) << Dump(backup);
    EXPECT_TRUE(Has(backup.err, "station 3: no reply")) << backup.err;
    const auto rows = CsvRows(backup.out);
    EXPECT_EQ(rows.size(), 3u) << Dump(backup);
    EXPECT_EQ(RowWhere(rows, "station", "1")["file"], folder / "plant-1.xls");
    EXPECT_EQ(RowWhere(rows, "station", "5")["file"], folder / "plant-5.xls");
    EXPECT_NE(access((folder / "plant-3.xls").c_str(), F_OK), 0);

    ParamTable t = Sample();
    const int address = [&] {
        for (const ParamRecord& r : t.params)
            if (r.pnu == L"01.04") return r.address;
        return 0;
    }();
    for (int station : {1, 5}) {
        const valuefile::LoadResult res =
            valuefile::Load(wtext::FromUtf8(folder / ("plant-" + std::to_string(station) + ".xls")), t);
        ASSERT_EQ(res.status, valuefile::LoadResult::Status::Ok) << station << res.error;
        EXPECT_EQ(res.entries.size(), paramview::GroupRows(t, 1).size());
        for (const valuefile::Entry& e : res.entries)
            if (e.address == address) {
                EXPECT_DOUBLE_EQ(e.value, station == 5 ? 70.0 : 50.0);
            }
    }

    // diff over several stations: 1 when one differs and none failed; a
    // failed station (3) outweighs the differences: 4.
    call.args = {"--folder", folder.path(), "--station", "1,5", "diff", folder / "plant-1.xls", "P01.04"};
    const CliRun differs = RunCli(call);
    EXPECT_EQ(differs.code, kDifferent) << Dump(differs);
    call.args = {"--folder", folder.path(), "--station", "1,3,5", "diff", folder / "plant-1.xls", "P01.04"};
    const CliRun failed = RunCli(call);
    EXPECT_EQ(failed.code, kPartial) << Dump(failed);
    EXPECT_TRUE(Has(failed.out, "70.00")) << failed.out;

    // Once station 1 answered, the silent ones between are asked once each
    // on the open line, and the drive after them is served.
    asked->Clear();
    call.args = {"--folder", folder.path(), "--station", "1-5", "info", "--format", "csv"};
    const CliRun info = RunCli(call);
    EXPECT_EQ(info.code, kPartial) << Dump(info);
    const auto found = CsvRows(info.out);
    EXPECT_EQ(found.size(), 3u) << info.out;
    EXPECT_EQ(RowWhere(found, "station", "5")["series"], "TV380");
    for (int silent : {2, 3, 4}) EXPECT_EQ(asked->Of(silent), 1) << "station " << silent;

    relay.Stop();
    for (int fd : ends) ::close(fd);
}

// ---- ports ----

struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty()
    {
        char name[256] = {0};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~Pty()
    {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
};

TEST_F(CliDrive, PortsTellsMissingForbiddenBusyAndFreeApart)
{
    Pty forbidden, busy;
    ASSERT_FALSE(forbidden.path.empty());
    ASSERT_FALSE(busy.path.empty());
    // Held as the program holds a port it uses.
    const int holder = ::open(busy.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const std::map<std::string, std::string> env = {{"TORVANE_COM3", forbidden.path}, {"TORVANE_COM4", busy.path}};
    const bool root = ::geteuid() == 0;
    // Root may open anything: the forbidden device is then looked at by an
    // ordinary user whose group is not the device's.
    ASSERT_EQ(::chmod(forbidden.path.c_str(), root ? 0660 : 0000), 0);
    const CliRun ports = Cli({"ports", "--format", "csv"}, env);
    ASSERT_EQ(ports.code, 0) << Dump(ports);
    const auto rows = CsvRows(ports.out);
    ASSERT_EQ(rows.size(), 17u) << ports.out;

    auto com1 = RowWhere(rows, "port", "COM1");
    EXPECT_EQ(com1["device"], line);
    EXPECT_EQ(com1["present"], "yes");
    EXPECT_EQ(com1["access"], "yes");
    EXPECT_FALSE(Has(com1["advice"], "in use")) << com1["advice"];

    auto com2 = RowWhere(rows, "port", "COM2");
    EXPECT_EQ(com2["present"], "no");
    EXPECT_TRUE(Has(com2["advice"], "TORVANE_COM2")) << com2["advice"];

    auto com4 = RowWhere(rows, "port", "COM4");
    EXPECT_EQ(com4["access"], "yes");
    EXPECT_TRUE(Has(com4["advice"], "in use by")) << com4["advice"];
    EXPECT_TRUE(Has(com4["held_by"], "pid " + std::to_string(::getpid()))) << com4["held_by"];

    auto com3 = RowWhere(rows, "port", "COM3");
    if (!root) {
        EXPECT_EQ(com3["access"], "no");
        EXPECT_TRUE(Has(com3["advice"], "no read/write access")) << com3["advice"];
    } else {
        CliCall call;
        call.args = {"ports", "--format", "csv"};
        call.env = env;
        call.uid = 65534;
        call.cwd = "/";
        const CliRun user = RunCli(call);
        ASSERT_EQ(user.code, 0) << Dump(user);
        com3 = RowWhere(CsvRows(user.out), "port", "COM3");
        EXPECT_EQ(com3["access"], "no");
        struct stat st {};
        ASSERT_EQ(::stat(forbidden.path.c_str(), &st), 0);
        const group* g = ::getgrgid(st.st_gid);
        ASSERT_NE(g, nullptr);
        EXPECT_TRUE(Has(com3["advice"], std::string("join the group ") + g->gr_name)) << com3["advice"];
    }
    ::close(holder);
}

}  // namespace
