// torvane-cli flash against simulated drives on pseudo-terminals, run as
// its own process: what reaches the drive's memories, the exit codes, the
// resume of a broken-off download, and several ports at once.
#include "CliTestUtil.h"

#include "Crc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>

using namespace clitest;

namespace {

constexpr int kConnection = 3, kRefused = 5, kInBootloader = 7;

std::string Dump(const CliRun& r)
{
    return "exit " + std::to_string(r.code) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Wire(const std::string& relative)
{
    const std::string bytes = ReadText(std::string(TORVANE_SAMPLEDATA_DIR) + "/images/" + relative);
    return drivesim::xmodemWireImage(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

const std::string kPackage = TORVANE_SAMPLE_PROGRAM_DIR "Program/ProgramFile.vkr";

// A TV380 0.75 kW drive whose erase and restarts are short, its log kept.
struct FlashDrive {
    std::unique_ptr<drivesim::Simulator> sim;
    std::mutex mu;
    std::vector<std::string> log;

    explicit FlashDrive(const std::function<void(drivesim::SimOptions&)>& adjust = nullptr)
    {
        drivesim::SimOptions o = DriveOptions(1);
        o.boot.eraseSeconds = 0.2;
        if (adjust) adjust(o);
        o.log = [this](int, const std::string& line) {
            std::lock_guard<std::mutex> lock(mu);
            log.push_back(line);
        };
        sim = StartDrive(std::move(o));
    }
    ~FlashDrive()
    {
        if (sim) sim->stop();
    }
    std::vector<std::string> Log()
    {
        std::lock_guard<std::mutex> lock(mu);
        return log;
    }
    // The memories hold the sample package's images of the model.
    void ExpectFlashed()
    {
        EXPECT_EQ(sim->flash(0x08008000, Wire("code/TV380_APP_V124.bin").size()), Wire("code/TV380_APP_V124.bin"));
        EXPECT_EQ(sim->ee(128, Wire("data/TV380_PD_0R75.bin").size()), Wire("data/TV380_PD_0R75.bin"));
        EXPECT_EQ(sim->ee(1152, Wire("init/TV380_INIT_A.bin").size()), Wire("init/TV380_INIT_A.bin"));
        EXPECT_EQ(sim->modeWord(), 0x0065);
        EXPECT_TRUE(sim->waitForMode(drivesim::Mode::Normal, 5000));
    }
};

struct CliFlash : ::testing::Test {
    std::unique_ptr<Folder> folder = std::make_unique<Folder>();
    FlashDrive drive;

    void SetUp() override
    {
        ASSERT_TRUE(drive.sim);
        // The drive erases in 0.2 s: torvane-cli need not wait the 10 s a
        // real bootloader takes.
        setenv("TORVANE_TEST_ERASE_PAUSE_MS", "1000", 1);
        // Short command gaps and time-outs, as the download tests use.
        std::ofstream((*folder) / "config.ini", std::ios::trunc)
            << "[COM]\nCOMID=1\nbautRate=9600\nDataBit=8\nParity=2,EVEN,\xE5\x81\xB6\ndevAddr=1\nOutTime=300\n"
               "CmdBay=20\nFastLink=1\n";
    }

    CliRun Cli(std::vector<std::string> args, std::map<std::string, std::string> env = {},
               std::function<bool()> interruptWhen = nullptr)
    {
        CliCall s;
        if (interruptWhen) s.signalWhen = [interruptWhen](const std::string&, const std::string&) { return interruptWhen(); };
        s.args = {"--folder", folder->path()};
        s.args.insert(s.args.end(), args.begin(), args.end());
        for (int port = 1; port <= 16; ++port)
            s.env["TORVANE_COM" + std::to_string(port)] = (*folder) / ("no-such-device-" + std::to_string(port));
        s.env["TORVANE_COM1"] = drive.sim->slavePath();
        for (const auto& kv : env) s.env[kv.first] = kv.second;
        s.cwd = folder->path();
        s.timeoutMs = 120000;
        return RunCli(s);
    }
};

}  // namespace

TEST_F(CliFlash, AWholeFlashFromNormalModeWritesTheImagesAndTheTranscript)
{
    const CliRun run = Cli({"flash", kPackage});
    ASSERT_EQ(run.code, 0) << Dump(run);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(Has(run.err, "The program is downloaded successfully.")) << run.err;
    drive.ExpectFlashed();
    EXPECT_EQ(drive.sim->stats().bootRequests, 1);
    // Back in its application, answering Modbus.
    const CliRun info = Cli({"info", "--format", "csv"});
    ASSERT_EQ(info.code, 0) << Dump(info);
    EXPECT_TRUE(Has(info.out, "normal")) << info.out;

    const std::string log = ReadText((*folder) / "download_log.txt");
    EXPECT_TRUE(Has(log, "package: " + kPackage)) << log;
    EXPECT_TRUE(Has(log, "series TV380, part number 38000075, power 0.75kW")) << log;
    EXPECT_TRUE(Has(log, "outcome: completed")) << log;
    // Nothing of the extracted package is left behind.
    EXPECT_FALSE(std::ifstream((*folder) / "Program/ProgramFile/VKR_MODEL.xls").good());
}

TEST_F(CliFlash, ADryRunPrintsThePlanAndWritesNothing)
{
    const std::string configBefore = ReadText((*folder) / "config.ini");
    const CliRun run = Cli({"flash", kPackage, "--dry-run", "--power", "0.75kW", "--format", "csv"});
    ASSERT_EQ(run.code, 0) << Dump(run);
    const auto rows = CsvRows(run.out);
    ASSERT_EQ(rows.size(), 19u) << run.out;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"series", "part_number", "power", "step", "action", "file", "bytes",
                                                 "blocks"}));
    EXPECT_EQ(rows[10], (std::vector<std::string>{"TV380", "38000075", "0.75kW", "10", "flash image",
                                                  "code/TV380_APP_V124.bin", "16384", "128"}));
    // The connection's presence test is the only write; no boot request,
    // nothing for the bootloader.
    EXPECT_EQ(ParamWrites(*drive.sim), 0);
    EXPECT_EQ(drive.sim->stats().bootRequests, 0);
    for (const std::string& line : drive.Log()) {
        EXPECT_FALSE(Has(line, "boot request") || Has(line, "boot:") || Has(line, "running in boot")) << line;
        if (Has(line, "write 0x")) {
            EXPECT_TRUE(Has(line, "write 0x0055")) << line;
        }
    }
    EXPECT_EQ(drive.sim->mode(), drivesim::Mode::Normal);
    EXPECT_EQ(ReadText((*folder) / "config.ini"), configBefore);
    EXPECT_FALSE(std::ifstream((*folder) / "download_log.txt").good());
}

// A refused flash block leaves the drive in its bootloader (exit 7, said so);
// flash --resume completes it, after a refusal while another drive is there.
TEST_F(CliFlash, ANakAtAFlashBlockIsCompletedByResume)
{
    // The port's device, which a technician may connect another drive to.
    const std::string port = (*folder) / "ttyCOM1";
    const auto connect = [&port](drivesim::Simulator& sim) {
        std::filesystem::remove(port);
        std::filesystem::create_symlink(sim.slavePath(), port);
    };
    const std::map<std::string, std::string> env = {{"TORVANE_COM1", port}};
    connect(*drive.sim);
    ASSERT_TRUE(drive.sim->setFault("nak-block=40"));
    const CliRun run = Cli({"flash", kPackage}, env);
    drive.sim->clearFaults();
    ASSERT_EQ(run.code, kInBootloader) << Dump(run);
    EXPECT_TRUE(Has(run.err, "Download program file failed,please re-power.")) << run.err;
    EXPECT_TRUE(Has(run.err, "run torvane-cli flash --resume to complete")) << run.err;
    EXPECT_EQ(drive.sim->modeWord(), 0x0081);
    EXPECT_FALSE(drive.sim->applicationValid());

    // Another drive on the port: the images of the first are not for it.
    FlashDrive other([](drivesim::SimOptions& o) {
        o.partNumber = "38000150";
        o.startMode = drivesim::Mode::Boot;
    });
    ASSERT_TRUE(other.sim);
    connect(*other.sim);
    const CliRun refused = Cli({"flash", "--resume"}, env);
    EXPECT_EQ(refused.code, kRefused) << Dump(refused);
    EXPECT_TRUE(Has(refused.err, "The drive reports PN 38000150; the interrupted download was for PN 38000075."))
        << refused.err;
    EXPECT_EQ(other.sim->stats().blocksAcked, 0);

    connect(*drive.sim);
    const long acked = drive.sim->stats().blocksAcked;
    const CliRun plan = Cli({"flash", "--resume", "--dry-run", "--format", "csv"}, env);
    EXPECT_EQ(plan.code, 0) << Dump(plan);
    EXPECT_EQ(CsvRows(plan.out).size(), 19u) << plan.out;
    EXPECT_EQ(drive.sim->stats().blocksAcked, acked);
    const CliRun resumed = Cli({"flash", "--resume"}, env);
    ASSERT_EQ(resumed.code, 0) << Dump(resumed);
    drive.ExpectFlashed();
    const CliRun again = Cli({"flash", "--resume"}, env);
    EXPECT_EQ(again.code, kRefused) << Dump(again);
    EXPECT_TRUE(Has(again.err, "no interrupted download")) << again.err;
}

// A drive already in its bootloader is flashed where it is, known by its
// part number, and started afterwards.
TEST_F(CliFlash, DirectFlashesADriveInItsBootloader)
{
    FlashDrive boot([](drivesim::SimOptions& o) { o.startMode = drivesim::Mode::Boot; });
    ASSERT_TRUE(boot.sim);
    const std::map<std::string, std::string> env = {{"TORVANE_COM1", boot.sim->slavePath()}};
    const CliRun run = Cli({"flash", kPackage, "--direct", "--program"}, env);
    ASSERT_EQ(run.code, 0) << Dump(run);
    EXPECT_TRUE(Has(run.err, "TV380 PN 38000075 0.75kW")) << run.err;
    EXPECT_EQ(boot.sim->stats().bootRequests, 0);
    EXPECT_EQ(boot.sim->flash(0x08008000, Wire("code/TV380_APP_V124.bin").size()), Wire("code/TV380_APP_V124.bin"));
    EXPECT_TRUE(boot.sim->waitForMode(drivesim::Mode::Normal, 5000));
}

// Ctrl+C during the flash image stops the run at its next block and says
// what the drive holds, as the view's cancel does.
TEST_F(CliFlash, CtrlCStopsAtTheNextBlockAndSaysWhatTheDriveHolds)
{
    FlashDrive paced([](drivesim::SimOptions& o) { o.pace = true; });  // the flash image takes seconds
    ASSERT_TRUE(paced.sim);
    const CliRun run = Cli({"flash", kPackage}, {{"TORVANE_COM1", paced.sim->slavePath()}},
                           [&] { return paced.sim->stats().blocksAcked > 30; });
    ASSERT_EQ(run.code, kInBootloader) << Dump(run);
    EXPECT_TRUE(Has(run.err, "The download was cancelled. The flash was erased and ")) << run.err;
    EXPECT_TRUE(Has(run.err, "run torvane-cli flash --resume")) << run.err;
    EXPECT_LT(paced.sim->stats().blocksAcked, 8 + 128);
    EXPECT_EQ(paced.sim->modeWord(), 0x0081);
    EXPECT_EQ(paced.sim->mode(), drivesim::Mode::Boot);
}

// Another power than the drive's, or a drive the package has no model for:
// refused (exit 5) before anything is written, the drive back in normal mode.
TEST_F(CliFlash, AModelOfAnotherPowerIsRefusedBeforeAnythingIsWritten)
{
    const CliRun run = Cli({"flash", kPackage, "--power", "1.5kW"});
    ASSERT_EQ(run.code, kRefused) << Dump(run);
    EXPECT_TRUE(Has(run.err, "Device is Mismatched. Serial:TV380 \n  PN: 38000075")) << run.err;
    EXPECT_EQ(drive.sim->stats().blocksAcked, 0);
    EXPECT_EQ(drive.sim->modeWord(), 0x0065);
    EXPECT_TRUE(drive.sim->waitForMode(drivesim::Mode::Normal, 5000));
    EXPECT_FALSE(std::ifstream((*folder) / "download_log.txt").good());

    FlashDrive other([](drivesim::SimOptions& o) { o.partNumber = "38000300"; });
    ASSERT_TRUE(other.sim);
    const CliRun unknown = Cli({"flash", kPackage}, {{"TORVANE_COM1", other.sim->slavePath()}});
    ASSERT_EQ(unknown.code, kRefused) << Dump(unknown);
    EXPECT_TRUE(Has(unknown.err, "PN: 38000300")) << unknown.err;
    EXPECT_EQ(other.sim->stats().blocksAcked, 0);
    EXPECT_TRUE(other.sim->waitForMode(drivesim::Mode::Normal, 5000));
}

// Two drives on two ports flashed by two processes at once; a third flash
// on a port in use ends at once without disturbing the flash there.
TEST_F(CliFlash, TwoPortsAreFlashedAtOnceAndABusyPortIsRefused)
{
    FlashDrive second;
    ASSERT_TRUE(second.sim);
    const std::map<std::string, std::string> env = {{"TORVANE_COM2", second.sim->slavePath()}};
    CliRun one, two;
    std::thread a([&] { one = Cli({"flash", kPackage}, env); });
    std::thread b([&] { two = Cli({"--port", "COM2", "flash", kPackage}, env); });
    const auto t0 = std::chrono::steady_clock::now();
    while (drive.sim->stats().bootRequests == 0 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const CliRun busy = Cli({"flash", kPackage}, env);
    a.join();
    b.join();
    EXPECT_EQ(busy.code, kConnection) << Dump(busy);
    EXPECT_TRUE(Has(busy.err, "in use by another torvane-cli flash")) << busy.err;
    ASSERT_EQ(one.code, 0) << Dump(one);
    ASSERT_EQ(two.code, 0) << Dump(two);
    drive.ExpectFlashed();
    second.ExpectFlashed();
    // One transcript, each line naming its port.
    const std::string log = ReadText((*folder) / "download_log.txt");
    EXPECT_TRUE(Has(log, "[" + drive.sim->slavePath() + "] outcome: completed")) << log;
    EXPECT_TRUE(Has(log, "[" + second.sim->slavePath() + "] outcome: completed")) << log;
}
