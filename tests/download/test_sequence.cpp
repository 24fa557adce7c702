// The firmware download sequence against the simulated drive in boot mode on
// a pseudo-terminal: what ends up in the drive's EE and flash, the mode word,
// config.ini "Download", the fault reset, the progress and the transcript,
// and every way a run stops early.
#include "Crc.h"
#include "DeviceConnection.h"
#include "DownloadSequence.h"
#include "DownloadTestUtil.h"
#include "LinkTestUtil.h"
#include "NetTestUtil.h"
#include "Memory.h"
#include "ModelCatalogue.h"
#include "PrivateProfile.h"
#include "ProgramPackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;
using dltest::N;
using dltest::ReadBytes;
using dltest::W;
using dltest::WriteBytes;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A reproducible image of n bytes with some all-zero blocks (zero-CRC rule).
std::string Image(size_t n, uint32_t seed)
{
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<char>(seed >> 16);
    }
    for (size_t i = 128; i < std::min<size_t>(n, 256); ++i) out[i] = 0;
    return out;
}

class Sequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        linktest::UnmapAllPorts();
        folder_ = linktest::NewFolder("seq");
        programFolder_ = folder_ + "Program/";
        link_ = std::make_unique<DeviceConnection>(W(folder_), &linkPrompts_);
        linkPrompts_.Attach(link_.get());
        link_->settings().COMID = L"1";
        link_->settings().OutTime = L"1000";
        // The fast link's run of these tests sets it (download.cmake).
        if (const char* fast = std::getenv("TORVANE_TEST_FASTLINK")) link_->settings().FastLink = W(fast);
    }
    void TearDown() override
    {
        link_.reset();
        drive_.reset();
    }

    void StartDrive(drivesim::SimOptions o = linktest::BootDrive(9600))
    {
        o.bootSeconds = 0.2;
        o.boot.eraseSeconds = 0.5;
        o.boot.xmodemPoll = 0;  // this sender needs no 'C'
        o.log = [this](int level, const std::string& line) {
            if (level != 1) return;
            std::lock_guard<std::mutex> lock(logMu_);
            simLog_.push_back(line);
        };
        drive_ = std::make_unique<linktest::SimDrive>(1, o);
        ASSERT_TRUE(drive_->ok()) << drive_->error();
        if (o.startMode == drivesim::Mode::Boot) {
            ASSERT_TRUE(link_->ConnectBoot());
        }
    }
    drivesim::Simulator& sim() { return drive_->sim(); }

    // Back to the bootloader for another run.
    void Reboot()
    {
        sim().powerCycle(drivesim::Mode::Boot);
        ASSERT_TRUE(link_->ConnectBoot());
        std::lock_guard<std::mutex> lock(logMu_);
        simLog_.clear();
    }

    // Command lines the drive served that contain `text`.
    int Served(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(logMu_);
        return static_cast<int>(std::count_if(simLog_.begin(), simLog_.end(), [&](const std::string& l) {
            return l.find(text) != std::string::npos;
        }));
    }

    // Command lines of the run that change the drive (any at all).
    int Sent()
    {
        return Served("lock -o") + Served("load pu") + Served("write_ee") + Served("flash_block_erase") +
               Served("reset");
    }

    // Writes the four files of a model into the extracted package folder.
    DownloadJob Job(const std::string& data, const std::string& calibration, const std::string& code,
                    const std::string& init, bool dataFiles, bool program)
    {
        const std::string top = programFolder_ + "ProgramFile/";
        for (const char* sub : {"data", "init", "calibration", "code"}) fs::create_directories(top + sub);
        DownloadJob job;
        job.dataFile = W(top + "data/D.bin");
        job.calibrationFile = W(top + "calibration/C.TTL");
        job.codeFile = W(top + "code/P.bin");
        job.initFile = W(top + "init/I.bin");
        EXPECT_TRUE(WriteBytes(N(job.dataFile), data));
        EXPECT_TRUE(WriteBytes(N(job.calibrationFile), calibration));
        EXPECT_TRUE(WriteBytes(N(job.codeFile), code));
        EXPECT_TRUE(WriteBytes(N(job.initFile), init));
        job.dataFilesOption = dataFiles;
        job.programFileOption = program;
        job.programFolder = W(programFolder_);
        job.packagePath = L"test.vkr";
        job.series = L"TV380";
        job.partNumber = L"38000075";
        job.power = L"0.75kW";
        return job;
    }

    bool Execute(const DownloadJob& job, int settleMs = 100)
    {
        CDownloadSequence seq(job, link_->settings(), *link_, running_, prompts_);
        seq.SetBootPort(port_);
        seq.SetSettleMs(settleMs);
        running_ = true;
        const bool ok = seq.Execute();
        interrupted_ = seq.InterruptedDownload();
        outcome_ = seq.Outcome();
        transcript_ = ReadBytes(N(seq.TranscriptPath()));
        return ok;
    }

    std::string DownloadKey()
    {
        return N(PrivateProfileGetString(L"COM", L"Download", L"(none)", W(folder_ + "config.ini")));
    }

    // Steps made between two captions (the first that starts with `from`,
    // then up to the last that starts with `to`).
    int StepsBetween(const std::wstring& from, const std::wstring& to)
    {
        const auto events = prompts_.Events();
        auto first = std::find_if(events.begin(), events.end(),
                                  [&](const std::wstring& e) { return e.rfind(L"caption:" + from, 0) == 0; });
        auto last = std::find_if(events.rbegin(), events.rend(),
                                 [&](const std::wstring& e) { return e.rfind(L"caption:" + to, 0) == 0; });
        int steps = 0;
        for (auto it = first; it != events.end() && it != last.base(); ++it)
            if (it->rfind(L"step:", 0) == 0) steps += std::stoi(it->substr(5));
        return steps;
    }

    std::string folder_, programFolder_;
    linktest::RecordingPrompts linkPrompts_;
    std::unique_ptr<DeviceConnection> link_;
    std::unique_ptr<linktest::SimDrive> drive_;
    dltest::RecordingPrompts prompts_;
    CBootPort* port_ = nullptr;
    std::atomic<bool> running_{false};
    int interrupted_ = -1;
    DownloadOutcome outcome_;
    std::string transcript_;
    std::mutex logMu_;
    std::vector<std::string> simLog_;
};

}  // namespace

TEST_F(Sequence, FullRunWithBothOptionsWritesTheSamplePackage)
{
    drivesim::SimOptions o = linktest::BootDrive(9600);
    o.faults.push_back({drivesim::FaultKind::DriveFault, drivesim::defaultFaultSetting(drivesim::FaultKind::DriveFault)});
    StartDrive(o);

    ModelCatalogue models;
    ASSERT_TRUE(OpenPackage(W(dltest::SamplePackagePath()), W(programFolder_), nullptr, &models));
    ModelFiles names;
    ASSERT_TRUE(models.FindModelFiles(L"TV380", L"38000075", L"0.75kW", names));
    const PackageFilePaths paths = PackagePaths(W(programFolder_), names);
    const std::string data = ReadBytes(N(paths.dataFile));
    const std::string code = ReadBytes(N(paths.codeFile));
    const std::string init = ReadBytes(N(paths.initFile));
    ASSERT_EQ(code.size(), 16384u);

    DownloadJob job;
    job.dataFile = paths.dataFile;
    job.initFile = paths.initFile;
    job.calibrationFile = paths.calibrationFile;
    job.codeFile = paths.codeFile;
    job.dataFilesOption = job.programFileOption = true;
    job.programFolder = W(programFolder_);
    job.packagePath = W(dltest::SamplePackagePath());
    job.series = L"TV380";
    job.partNumber = L"38000075";
    job.power = L"0.75kW";

    ASSERT_TRUE(Execute(job, CDownloadSequence::kSettleMs));

    // The memories hold what went over the wire.
    EXPECT_EQ(sim().ee(128, data.size()), drivesim::xmodemWireImage(ToBytes(data)));
    EXPECT_EQ(sim().ee(1152, 384), drivesim::xmodemWireImage(ToBytes(init)));
    EXPECT_EQ(sim().flash(0x08008000, code.size()), drivesim::xmodemWireImage(ToBytes(code)));
    // The sample code image has all-zero blocks: they arrive with 0x1A last.
    EXPECT_NE(drivesim::xmodemWireImage(ToBytes(code)), ToBytes(code));
    // The 14 calibration lines arrived whole: EE 64..91 holds their data.
    const Bytes cal = sim().ee(64, 4);
    EXPECT_EQ(cal, (Bytes{0x04, 0x00, 0x03, 0xF8}));
    EXPECT_EQ(sim().ee(90, 2), (Bytes{0x00, 0xA5}));
    EXPECT_EQ(Served("write_ee -a") - Served("0x600"), 14);

    EXPECT_EQ(sim().modeWord(), 0x0065);
    EXPECT_EQ(Served("-d 0081"), 1);
    EXPECT_EQ(DownloadKey(), "0");
    EXPECT_EQ(interrupted_, 0);
    // Back in normal mode, and the fault reset reached register 9999.
    EXPECT_TRUE(sim().waitForMode(drivesim::Mode::Normal, 2000));
    EXPECT_TRUE(link_->normalConnected());
    EXPECT_FALSE(sim().faultActive(drivesim::FaultKind::DriveFault));

    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kSucceeded});
    EXPECT_TRUE(prompts_.questions.empty());
    EXPECT_TRUE(prompts_.succeeded);
    EXPECT_FALSE(running_.load());
    EXPECT_TRUE(outcome_.packageRemoved);
    EXPECT_EQ(outcome_.result, DownloadOutcome::Result::Succeeded);
    EXPECT_FALSE(fs::exists(programFolder_ + "ProgramFile"));
    // 14 lines: k = 2, progress on lines 0, 2, ... 12.
    EXPECT_EQ(StepsBetween(L"Program downloading...Calibration", L"Program downloading...Download Calibration file :14-13"),
              7);
    EXPECT_EQ(prompts_.Captions().back(), L"Program downloaded...Switck to normal mode");
    EXPECT_EQ(prompts_.StepTotal(), 1 + 3 + 7 + 1 + 2 + 1 + 128 + 1 + 1 + 1 + 1 + 1);

    // The transcript names the package, the model and every step.
    for (const char* line : {"package: ", "ProgramFile.vkr", "series TV380, part number 38000075, power 0.75kW",
                             "data files yes, program file yes", "unlock EE: ok", "announce power data: ok",
                             "power data image: ok", "14 calibration lines", "calibration line 13 ",
                             "lock EE: ok", "erase flash: ok", "config.ini Download = 1: written",
                             "mark downloading (0081): ok", "announce flash image: ok", "flash image: ok, 128 blocks",
                             "announce init image: ok", "init image: ok", "mark normal start-up (0065): ok",
                             "reset: sent", "config.ini Download = 0: written", "normal connection: ok",
                             "fault reset (register 9999 = 7): ok", "outcome: completed"})
        EXPECT_NE(transcript_.find(line), std::string::npos) << line << "\n" << transcript_;
}

TEST_F(Sequence, FullRunThroughASerialDeviceServer)
{
    // The drive's line ends in ser2net: bootloader lines and XMODEM blocks
    // pass through it unchanged, at the device server's one line setting.
    drivesim::SimOptions o = linktest::BootDrive(9600);
    o.bootSeconds = 0.2;
    o.boot.eraseSeconds = 0.5;
    o.boot.xmodemPoll = 0;
    drive_ = std::make_unique<linktest::SimDrive>(8, o);
    ASSERT_TRUE(drive_->ok()) << drive_->error();
    nettest::Ser2net server(folder_, drive_->sim().options().linkPath, "9600e81");
    ASSERT_TRUE(server.ok()) << server.error();
    linktest::MapPort(1, server.Url());
    ASSERT_TRUE(link_->ConnectBoot());

    ModelCatalogue models;
    ASSERT_TRUE(OpenPackage(W(dltest::SamplePackagePath()), W(programFolder_), nullptr, &models));
    ModelFiles names;
    ASSERT_TRUE(models.FindModelFiles(L"TV380", L"38000075", L"0.75kW", names));
    const PackageFilePaths paths = PackagePaths(W(programFolder_), names);
    const std::string code = ReadBytes(N(paths.codeFile));
    DownloadJob job;
    job.dataFile = paths.dataFile;
    job.initFile = paths.initFile;
    job.calibrationFile = paths.calibrationFile;
    job.codeFile = paths.codeFile;
    job.dataFilesOption = job.programFileOption = true;
    job.programFolder = W(programFolder_);
    job.packagePath = W(dltest::SamplePackagePath());
    job.series = L"TV380";
    job.partNumber = L"38000075";
    job.power = L"0.75kW";

    ASSERT_TRUE(Execute(job, CDownloadSequence::kSettleMs)) << N(prompts_.Messages().empty() ? L"" : prompts_.Messages()[0]);
    EXPECT_EQ(sim().flash(0x08008000, code.size()), drivesim::xmodemWireImage(ToBytes(code)));
    EXPECT_EQ(sim().modeWord(), 0x0065);
    EXPECT_TRUE(link_->normalConnected());
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kSucceeded});
}

TEST_F(Sequence, ImagesOf256And300And0BytesWithNeitherOption)
{
    StartDrive();
    struct Case {
        size_t size;
        int blocks;
    };
    for (const Case& c : {Case{256, 2}, Case{300, 3}, Case{0, 0}}) {
        SCOPED_TRACE(c.size);
        const std::string init = Image(c.size, 77 + static_cast<uint32_t>(c.size));
        const long before = sim().stats().blocksAcked;
        prompts_.Reset();
        ASSERT_TRUE(Execute(Job("", "", "", init, false, false)));
        EXPECT_EQ(sim().stats().blocksAcked - before, c.blocks);
        const Bytes wire = drivesim::xmodemWireImage(ToBytes(init));
        EXPECT_EQ(wire.size(), static_cast<size_t>(c.blocks) * 128);
        EXPECT_EQ(sim().ee(1152, wire.size()), wire);
        if (c.size == 300) {
            // Block 3: 44 data bytes and 84 zero bytes of padding.
            EXPECT_EQ(sim().ee(1152 + 300, 84), Bytes(84, 0));
        }
        // Neither option: no erase, no "0081", "Download" never "1".
        EXPECT_EQ(Served("flash_block_erase"), 0);
        EXPECT_EQ(Served("-d 0081"), 0);
        EXPECT_EQ(transcript_.find("Download = 1"), std::string::npos);
        EXPECT_EQ(DownloadKey(), "0");
        EXPECT_EQ(sim().modeWord(), 0x0065);
        EXPECT_EQ(prompts_.StepTotal(), 1 + 5 + 80 + 1 + 1 + 1 + 1);
        Reboot();
    }
}

TEST_F(Sequence, OnlyTheDataFilesOptionNeverMarksADownload)
{
    StartDrive();
    const std::string data = Image(1000, 5);
    const std::string ttl =
        "sendln 'VKR pm write_ee -a 64 -d 1234'\r\n"
        "wait 'RedBoot>'\r\n"
        "sendln 'VKR pm write_ee -a 66 -d 5678'\r\n"
        "sendln 'VKR pm write_ee -a 68 -d 9ABC'";  // no terminator
    ASSERT_TRUE(Execute(Job(data, ttl, Image(512, 9), Image(200, 3), true, false)));
    const Bytes wire = drivesim::xmodemWireImage(ToBytes(data));
    EXPECT_EQ(sim().ee(128, wire.size()), wire);
    EXPECT_EQ(sim().ee(64, 6), (Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
    EXPECT_EQ(Served("-d 0081"), 0);
    EXPECT_EQ(Served("flash_block_erase"), 0);
    EXPECT_EQ(transcript_.find("Download = 1"), std::string::npos);
    EXPECT_EQ(DownloadKey(), "0");
    // 3 lines: k = 1, a step on every line.
    EXPECT_EQ(StepsBetween(L"Program downloading...Calibration", L"Program downloading...Download Calibration file :3-2"),
              3);
}

TEST_F(Sequence, ANakIsResentAndThreeNaksEndTheRunWithThatImagesMessage)
{
    StartDrive();
    // One NAK at a flash block of a healthy drive: the block goes again and
    // the run completes with the whole image in the flash.
    const std::string code = drivesim::flash::withLengthStamp(Image(128 * 60 + 50, 3));
    ASSERT_TRUE(sim().setFault("nak-block=40#1"));
    ASSERT_TRUE(Execute(Job("", "", code, Image(300, 2), false, true)));
    EXPECT_EQ(sim().flash(0x08008000, 128 * 61), drivesim::xmodemWireImage(ToBytes(code)));
    EXPECT_EQ(Served("block 40"), 2);
    EXPECT_TRUE(sim().waitForMode(drivesim::Mode::Normal, 2000));

    // A block refused on every try ends the run after its third send.
    Reboot();
    prompts_.Reset();
    prompts_.answerYes = false;
    ASSERT_TRUE(sim().setFault("nak-block=2"));
    EXPECT_FALSE(Execute(Job(Image(512, 1), "VKR pm write_ee -a 64 -d 0001\n", "", Image(300, 2), true, false)));
    sim().clearFaults();
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kPowerBlockFailed});
    EXPECT_EQ(Served("block 2"), 3);
    EXPECT_EQ(Served("write_ee"), 0);
    // "No" to the question removes the extracted package.
    EXPECT_EQ(prompts_.questions, std::vector<std::wstring>{CDownloadSequence::kQuestion});
    EXPECT_FALSE(fs::exists(programFolder_ + "ProgramFile"));
    EXPECT_TRUE(outcome_.packageRemoved);
    EXPECT_EQ(outcome_.result, DownloadOutcome::Result::Failed);
    EXPECT_FALSE(prompts_.succeeded);
    EXPECT_FALSE(running_.load());
    EXPECT_NE(transcript_.find("outcome: failed: Failed to download PU_EE_POWER file"), std::string::npos);
}

TEST_F(Sequence, ACalibrationLineTheBootloaderRefusesStopsTheRun)
{
    StartDrive();
    ASSERT_TRUE(sim().setFault("ee-write-error=66"));
    const std::string ttl = "VKR pm write_ee -a 64 -d 1234\nVKR pm write_ee -a 66 -d 5678\nVKR pm write_ee -a 68 -d 9A\n";
    EXPECT_FALSE(Execute(Job(Image(256, 5), ttl, "", Image(128, 3), true, false)));
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kCalibrationFailed});
    EXPECT_EQ(Served("-a 68"), 0);
    EXPECT_EQ(Served("lock -o y"), 0);
    EXPECT_EQ(Served("0065"), 0);
}

TEST_F(Sequence, AnUnconfirmedDownloadMarkStopsTheRunBeforeTheErase)
{
    StartDrive();
    ASSERT_TRUE(sim().setFault("ee-write-error=0x600"));
    EXPECT_FALSE(Execute(Job("", "", drivesim::flash::withLengthStamp(Image(1000, 4)), Image(128, 3), false, true)));
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kMarkDownloadingFailed});
    EXPECT_EQ(Served("flash_block_erase"), 0);
    EXPECT_TRUE(sim().applicationValid());
    EXPECT_EQ(sim().modeWord(), 0x0065);
    // Nothing was erased: config.ini does not ask for a resume.
    EXPECT_EQ(DownloadKey(), "0");
}

TEST_F(Sequence, AConfigIniThatCannotBeWrittenStopsTheRunBeforeTheErase)
{
    StartDrive();
    // A folder where config.ini should be: no write reaches it.
    fs::create_directories(folder_ + "config.ini");
    EXPECT_FALSE(Execute(Job("", "", drivesim::flash::withLengthStamp(Image(1000, 4)), Image(128, 3), false, true)));
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kConfigWriteFailed});
    EXPECT_EQ(Served("0081"), 0);
    EXPECT_EQ(Served("flash_block_erase"), 0);
    EXPECT_TRUE(sim().applicationValid());
}

// The rules of the state class, without a drive.
TEST(DownloadState, AnIncompleteProgramRequiresTheProgramFileUntilARunCompletes)
{
    const std::string folder = linktest::NewFolder("state");
    CDownloadState state(W(folder + "config.ini"));
    state.ReadSaved();
    EXPECT_FALSE(state.ProgramRequired());
    EXPECT_TRUE(state.DownloadRefusal(true, false).empty());

    DownloadOutcome failed;
    failed.result = DownloadOutcome::Result::Failed;
    failed.downloadMarked = true;
    state.RunEnded(failed);
    EXPECT_TRUE(state.ProgramRequired());
    EXPECT_TRUE(state.LeftIncomplete());
    EXPECT_EQ(state.DownloadRefusal(true, false), CDownloadState::kProgramRequired);
    EXPECT_TRUE(state.DownloadRefusal(false, true).empty());

    DownloadOutcome done;
    done.result = DownloadOutcome::Result::Succeeded;
    state.RunEnded(done);
    EXPECT_FALSE(state.ProgramRequired());
    EXPECT_FALSE(state.LeftIncomplete());

    // config.ini "Download" = "1" from an earlier start requires it as well.
    ASSERT_TRUE(state.WriteDownloadMark(true));
    CDownloadState next(W(folder + "config.ini"));
    next.ReadSaved();
    EXPECT_TRUE(next.ProgramRequired());
    EXPECT_FALSE(next.LeftIncomplete());  // this session has not seen the drive

    // A new package voids every check.
    next.SetModelChecked(L"TV380", L"38000075", L"0.75kW", PackageFilePaths());
    next.PackageOpened(L"other.vkr", true);
    EXPECT_FALSE(next.ModelChecked());
    EXPECT_EQ(next.PackagePath(), L"other.vkr");
}

TEST_F(Sequence, EmptyOrOversizedImagesAreRefusedBeforeTheFirstCommand)
{
    StartDrive();
    const std::string init = Image(128, 3);
    DownloadJob empty = Job("", "", "", init, false, true);
    EXPECT_FALSE(Execute(empty));
    std::wstring said = CDownloadSequence::kImageEmptyFormat;
    said.replace(said.find(L"%s"), 2, empty.codeFile);
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{said});

    prompts_.Reset();
    DownloadJob huge = Job("", "", std::string(CDownloadSequence::kFlashMax + 1, '\x5A'), init, false, true);
    EXPECT_FALSE(Execute(huge));
    said = CDownloadSequence::kImageTooLargeFormat;
    said.replace(said.find(L"%d"), 2, std::to_wstring(CDownloadSequence::kFlashMax));
    said.replace(said.find(L"%s"), 2, huge.codeFile);
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{said});

    // An init image reaching the mode word is refused the same way.
    prompts_.Reset();
    EXPECT_FALSE(Execute(Job("", "", "", Image(CDownloadSequence::kInitMax + 1, 3), false, false)));
    EXPECT_EQ(prompts_.Messages().size(), 1u);

    EXPECT_EQ(Sent(), 0);
    EXPECT_TRUE(sim().applicationValid());
    EXPECT_EQ(sim().modeWord(), 0x0065);
}

TEST_F(Sequence, AnInterruptedDownloadIsNeverCompletedWithoutTheProgramFile)
{
    StartDrive();
    PrivateProfileWriteString(L"COM", L"Download", L"1", W(folder_ + "config.ini"));
    EXPECT_FALSE(Execute(Job("", "", "", Image(128, 3), false, false)));
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadState::kProgramRequired});
    EXPECT_EQ(Sent(), 0);
    EXPECT_EQ(DownloadKey(), "1");

    // The same when the view knows the drive holds an incomplete program.
    PrivateProfileWriteString(L"COM", L"Download", L"0", W(folder_ + "config.ini"));
    prompts_.Reset();
    DownloadJob job = Job("", "", "", Image(128, 3), false, false);
    job.programRequired = true;
    EXPECT_FALSE(Execute(job));
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadState::kProgramRequired});
    EXPECT_EQ(Sent(), 0);
}

TEST_F(Sequence, ThreeBlockTriesWithoutAnswerEndTheRun)
{
    link_->settings().OutTime = L"400";
    StartDrive();
    dltest::HookedBootPort port;
    // From the first init block on, every answer comes long after the wait.
    port.beforeBlock = [this](int) { sim().setFault("late=2500"); };
    port_ = &port;
    EXPECT_FALSE(Execute(Job("", "", "", Image(256, 4), false, false)));
    EXPECT_EQ(port.blocks, 3);
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kInitFailed});
    sim().clearFaults();
}

TEST_F(Sequence, AnUnlockAnsweredLockedTwiceFails)
{
    StartDrive();
    dltest::HookedBootPort port;
    // The drive is asked to lock where the run asks to unlock: it answers
    // "EE locked = 1" to both tries.
    port.replaceCommand = CDownloadSequence::kUnlockEe;
    port.withCommand = CDownloadSequence::kLockEe;
    port_ = &port;
    EXPECT_FALSE(Execute(Job("", "", "", Image(128, 4), false, false)));
    EXPECT_EQ(Served("lock -o y"), 2);
    EXPECT_EQ(port.commands, 2);
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kUnlockFailed});
    EXPECT_EQ(prompts_.closes, 2);  // the failure's close and the run's end
}

TEST_F(Sequence, CancelDuringTheFlashImageLeavesTheDownloadMarked)
{
    StartDrive();
    const std::string code = Image(128 * 40, 11);
    prompts_.onCaption = [this](const std::wstring& caption) {
        if (caption == L"Program downloading...Download program file :40-3") running_ = false;
    };
    EXPECT_FALSE(Execute(Job("", "", code, Image(128, 1), false, true)));
    // The block in progress was the fourth; nothing after it.
    EXPECT_EQ(sim().stats().blocksAcked, 4);
    EXPECT_EQ(sim().flash(0x08008000, 512), drivesim::xmodemWireImage(Bytes(code.begin(), code.begin() + 512)));
    EXPECT_EQ(DownloadKey(), "1");
    EXPECT_EQ(sim().modeWord(), 0x0081);
    EXPECT_EQ(interrupted_, 1);
    EXPECT_FALSE(sim().applicationValid());
    // The user is told what the drive holds and what to do.
    EXPECT_EQ(prompts_.Messages(),
              std::vector<std::wstring>{L"The download was cancelled. The flash was erased and 4 of 40 program blocks "
                                        L"were written. The drive stays in its bootloader until a download completes; "
                                        L"press Download to resume it."});
    EXPECT_EQ(prompts_.questions.size(), 1u);
    EXPECT_NE(transcript_.find("outcome: cancelled after flash block 4 of 40"), std::string::npos) << transcript_;
    EXPECT_EQ(outcome_.result, DownloadOutcome::Result::Cancelled);
    EXPECT_TRUE(outcome_.flashErased);
    EXPECT_EQ(outcome_.flashBlocksWritten, 4);
}

TEST_F(Sequence, UnreadableOrUnfittingFilesStopBeforeAnythingOfThemIsSent)
{
    StartDrive();
    DownloadJob job = Job(Image(256, 1), "VKR pm write_ee -a 64 -d 0001\n", "", Image(128, 2), true, false);
    fs::remove(N(job.dataFile));
    EXPECT_FALSE(Execute(job));
    const auto messages = prompts_.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], L"Failed to read file :2  " + job.dataFile);
    EXPECT_EQ(messages[1], CDownloadSequence::kPowerBlockFailed);
    EXPECT_EQ(sim().stats().blocksAcked, 0);

    // A command of 31 characters: the file is refused, no line of it is sent.
    Reboot();
    prompts_.Reset();
    EXPECT_FALSE(Execute(Job(Image(256, 1),
                             "VKR pm write_ee -a 64 -d 0001\nVKR pm write_ee -a 100 -d 0400'\n", "", Image(128, 2),
                             true, false)));
    EXPECT_EQ(prompts_.Messages(), std::vector<std::wstring>{CDownloadSequence::kCalibrationFailed});
    EXPECT_EQ(Served("write_ee"), 0);
    EXPECT_NE(transcript_.find("REFUSED"), std::string::npos);
}

TEST_F(Sequence, TheWorkersNormalConnectionOpensNoDialogAndStoresNothing)
{
    StartDrive(linktest::NormalDrive());
    ASSERT_FALSE(fs::exists(folder_ + "config.ini"));
    // An unset port fails at once instead of opening the settings dialog.
    ConnectionSettings unset = link_->settings();
    unset.COMID = L"-1";
    EXPECT_FALSE(link_->ConnectNormalFromWorker(unset));
    EXPECT_EQ(linkPrompts_.settingsDialogs, 0);

    // The copy connects; the application's settings and config.ini stay as
    // they were (ConnectNormal would store the new port).
    ConnectionSettings snapshot = link_->settings();
    link_->settings().COMID = L"7";
    const int updates = linkPrompts_.statusUpdates;
    EXPECT_TRUE(link_->ConnectNormalFromWorker(snapshot));
    EXPECT_TRUE(link_->normalConnected());
    EXPECT_FALSE(link_->bootConnected());
    EXPECT_EQ(link_->settings().COMID, L"7");
    EXPECT_FALSE(fs::exists(folder_ + "config.ini"));
    EXPECT_TRUE(linkPrompts_.messages.empty());
    EXPECT_GT(linkPrompts_.statusUpdates, updates);
}
