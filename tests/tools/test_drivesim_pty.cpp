// drivesim on a real pseudo-terminal, started in-process: the test is the PC
// and writes every Modbus and XMODEM frame itself.
#include "DriveSimTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <thread>

using namespace drivesim;
using namespace dst;

namespace {

class SimTest : public ::testing::Test {
protected:
    void startSim(SimOptions o) {
        sim_ = std::make_unique<Simulator>(std::move(o));
        std::string err;
        ASSERT_TRUE(sim_->start(&err)) << err;
    }
    void TearDown() override {
        port_.close();
        if (sim_) sim_->stop();
    }
    void openPort(int baud, char parity = 'E') { ASSERT_TRUE(port_.open(sim_->slavePath(), baud, parity)); }

    std::unique_ptr<Simulator> sim_;
    PtyPort port_;
};

}  // namespace

// ------------------------------------------------------------- normal mode

TEST_F(SimTest, PresenceTestOfPart42) {
    startSim(quickOptions());
    openPort(9600);
    Bytes req = request(1, 6, 0x0055, 1);
    EXPECT_EQ(transact(port_, req), req);
    EXPECT_EQ(readReg(port_, 0x0055), 1);
    std::uint16_t v = 0;
    EXPECT_TRUE(sim_->readRegister(0x0055, &v));
    EXPECT_EQ(v, 1);
}

TEST_F(SimTest, SeriesRegistersOfPart84) {
    SimOptions o = quickOptions();
    o.series = "XY12";
    startSim(o);
    openPort(9600);
    EXPECT_EQ(readReg(port_, 0x032B), 0x5958);
    EXPECT_EQ(readReg(port_, 0x032C), 0x3231);
    EXPECT_EQ(readReg(port_, 0x032D), 0x0000);
    EXPECT_GE(readReg(port_, 0x0329), 0);
    EXPECT_GE(readReg(port_, 0x032A), 0);
    Bytes r = transact(port_, request(1, 3, 0x0329, 5));
    ASSERT_EQ(r.size(), 15u);
    EXPECT_TRUE(crcOk(r));
    EXPECT_EQ(r[7], 0x59);
    EXPECT_EQ(r[8], 0x58);
}

TEST_F(SimTest, ExceptionsWhereARealSlaveGivesThem) {
    startSim(quickOptions());
    openPort(9600);
    EXPECT_EQ(readReg(port_, 0x7777), -(0x100 + 2));
    EXPECT_EQ(transact(port_, request(1, 3, 0x0100, 0)), withCrc({1, 0x83, 3}));
    EXPECT_EQ(transact(port_, withCrc({1, 4, 0, 0, 0, 1})), withCrc({1, 0x84, 1}));
    EXPECT_EQ(writeReg(port_, 0x0102, 59001), 3);  // P01.02 above its maximum
    EXPECT_EQ(writeReg(port_, 0x0102, 4000), 0);
    EXPECT_EQ(readReg(port_, 0x0102), 4000);
    EXPECT_EQ(writeReg(port_, 0x0900, 1), 2);  // monitor quantities are read-only
}

TEST_F(SimTest, OtherStationAndBadCrcGetSilence) {
    SimOptions o = quickOptions();
    o.station = 5;
    startSim(o);
    openPort(9600);
    EXPECT_TRUE(transact(port_, request(1, 3, 0x0055, 1), 300).empty());
    Bytes bad = request(5, 3, 0x0055, 1);
    bad[6] ^= 0x40;
    EXPECT_TRUE(transact(port_, bad, 300).empty());
    EXPECT_EQ(readReg(port_, 0x0055, 5), 0);
}

TEST_F(SimTest, DriveControlOfPart72) {
    SimOptions o = quickOptions();
    o.rampHzPerSecond = 100;  // 50 Hz in half a second
    startSim(o);
    openPort(9600);
    EXPECT_EQ(writeReg(port_, reg::kTargetFrequency, 5000), 0);
    EXPECT_EQ(writeReg(port_, reg::kRunCommand, cmd::kForward), 0);
    long status = readReg(port_, reg::kStatus);
    EXPECT_EQ(status & 0x0F, 0x04);  // forward running, no warning, no fault
    auto t0 = Clock::now();
    long f = 0;
    while (msSince(t0) < 3000 && (f = readReg(port_, reg::kOutputFrequency)) != 500) {
    }
    EXPECT_EQ(f, 500);  // 50.0 Hz in units of 0.1 Hz
    EXPECT_GT(readReg(port_, 0x0902), 0);  // current flows

    EXPECT_EQ(writeReg(port_, reg::kRunCommand, cmd::kStop), 0);
    t0 = Clock::now();
    while (msSince(t0) < 3000 && (f = readReg(port_, reg::kOutputFrequency)) != 0) {
    }
    EXPECT_EQ(f, 0);
    EXPECT_EQ(readReg(port_, reg::kStatus) & 0x0F, 0x00);

    EXPECT_EQ(writeReg(port_, reg::kRunCommand, cmd::kReverse), 0);
    EXPECT_EQ(readReg(port_, reg::kStatus) & 0x0C, 0x08);
    EXPECT_EQ(writeReg(port_, reg::kRunCommand, cmd::kCoastStop), 0);
    EXPECT_EQ(readReg(port_, reg::kOutputFrequency), 0);

    // A simulated trip, cleared by the fault reset at the end of a download.
    sim_->setFault(FaultKind::DriveFault);
    EXPECT_EQ(readReg(port_, reg::kStatus) & 0x02, 0x02);
    EXPECT_EQ(writeReg(port_, reg::kRunCommand, cmd::kFaultReset), 0);
    EXPECT_EQ(readReg(port_, reg::kStatus) & 0x02, 0x00);
    EXPECT_FALSE(sim_->faultActive(FaultKind::DriveFault));
}

TEST_F(SimTest, WrongBaudOrOddParityGetsSilence) {
    startSim(quickOptions());
    openPort(19200);
    EXPECT_TRUE(transact(port_, request(1, 3, 0x0055, 1), 300).empty());
    ASSERT_TRUE(port_.setLine(9600, 'O'));
    EXPECT_TRUE(transact(port_, request(1, 3, 0x0055, 1), 300).empty());
    ASSERT_TRUE(port_.setLine(9600, 'E'));
    EXPECT_EQ(readReg(port_, 0x0055), 0);
    EXPECT_GE(sim_->stats().ignoredBytes, 16);
}

TEST_F(SimTest, ParityEnableIsNotVisibleOnAPty) {
    // Documents the limit: Linux clears PARENB on a pty, so 9600 8N1 reads
    // like 9600 8E1 and the drive answers.
    startSim(quickOptions());
    openPort(9600, 'N');
    EXPECT_EQ(readReg(port_, 0x0055), 0);
}

TEST_F(SimTest, OddParityDriveNeedsOddParity) {
    SimOptions o = quickOptions();
    o.normalLine.parity = 'O';
    startSim(o);
    openPort(9600, 'E');
    EXPECT_TRUE(transact(port_, request(1, 3, 0x0055, 1), 300).empty());
    ASSERT_TRUE(port_.setLine(9600, 'O'));
    EXPECT_EQ(readReg(port_, 0x0055), 0);
}

TEST_F(SimTest, NoLineCheckAnswersAnySettings) {
    SimOptions o = quickOptions();
    o.checkLine = false;
    startSim(o);
    openPort(115200, 'O');
    EXPECT_EQ(readReg(port_, 0x0055), 0);
}

// ------------------------------------------------------------------ faults

TEST_F(SimTest, FaultSilenceCounted) {
    startSim(quickOptions());
    openPort(9600);
    ASSERT_TRUE(sim_->setFault("silence#1"));
    EXPECT_TRUE(transact(port_, request(1, 3, 0x0055, 1), 300).empty());
    EXPECT_EQ(readReg(port_, 0x0055), 0);
}

TEST_F(SimTest, FaultExceptionAndBadCrc) {
    startSim(quickOptions());
    openPort(9600);
    ASSERT_TRUE(sim_->setFault("exception=4"));
    EXPECT_EQ(writeReg(port_, 0x0055, 1), 4);
    sim_->clearFault(FaultKind::Exception);
    EXPECT_EQ(readReg(port_, 0x0055), 0);  // the refused write was not executed
    ASSERT_TRUE(sim_->setFault("bad-crc"));
    Bytes r = transact(port_, request(1, 3, 0x0055, 1));
    ASSERT_EQ(r.size(), 7u);
    EXPECT_FALSE(crcOk(r));
}

TEST_F(SimTest, FaultNoiseBeforeTheReply) {
    startSim(quickOptions());
    openPort(9600);
    ASSERT_TRUE(sim_->setFault("noise=3"));
    Bytes req = request(1, 6, 0x0055, 2);
    ASSERT_TRUE(port_.write(req));
    Bytes r = port_.readN(11, 1000);
    ASSERT_EQ(r.size(), 11u);
    EXPECT_EQ(Bytes(r.begin() + 3, r.end()), req);
}

TEST_F(SimTest, FaultSplitReply) {
    startSim(quickOptions());
    openPort(9600);
    ASSERT_TRUE(sim_->setFault("split=3:100"));
    ASSERT_TRUE(port_.write(request(1, 3, 0x0055, 1)));
    Bytes first = port_.readN(1, 1000);
    ASSERT_FALSE(first.empty());
    EXPECT_LE(first.size(), 3u);  // the rest comes 100 ms later
    Bytes rest = port_.readN(7 - first.size(), 1000);
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(first, withCrc({1, 3, 2, 0, 0}));
}

TEST_F(SimTest, FaultLateReply) {
    startSim(quickOptions());
    openPort(9600);
    ASSERT_TRUE(sim_->setFault("late=400"));
    auto t0 = Clock::now();
    EXPECT_TRUE(transact(port_, request(1, 3, 0x0055, 1), 250).empty());
    Bytes r = port_.readN(7, 1000);
    EXPECT_GE(msSince(t0), 380);
    EXPECT_EQ(r, withCrc({1, 3, 2, 0, 0}));
}

TEST_F(SimTest, FaultHangupMovesTheLink) {
    SimOptions o = quickOptions();
    o.linkPath = std::string(::testing::TempDir()) + "drivesim_hangup_link_" + std::to_string(getpid());
    startSim(o);
    ASSERT_TRUE(port_.open(o.linkPath, 9600));
    ASSERT_TRUE(sim_->setFault("hangup=200"));
    ASSERT_TRUE(port_.write(request(1, 3, 0x0055, 1)));
    port_.readFor(500);
    EXPECT_TRUE(port_.hungUp());
    EXPECT_EQ(sim_->stats().hangups, 1);
    auto t0 = Clock::now();
    while (msSince(t0) < 3000 && sim_->transitioning()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(sim_->transitioning());
    port_.close();
    ASSERT_TRUE(port_.open(o.linkPath, 9600));
    EXPECT_EQ(readReg(port_, 0x0055), 0);
}

TEST_F(SimTest, PacedRepliesTakeTheirWireTime) {
    SimOptions o = quickOptions();
    o.pace = true;
    startSim(o);
    openPort(9600);
    auto t0 = Clock::now();
    Bytes r = transact(port_, request(1, 3, 0x0329, 5));  // 8 bytes in, 15 out
    int ms = msSince(t0);
    EXPECT_EQ(r.size(), 15u);
    EXPECT_GE(ms, 23 * 11 * 1000 / 9600 - 2);  // about 26 ms at 9600 8E1
}

// -------------------------------------------------------- mode switching

TEST_F(SimTest, BootRequestSwitchesToBootMode) {
    startSim(quickOptions());
    openPort(9600);
    EXPECT_EQ(writeReg(port_, 0x0605, 0x5AA5), 0);
    EXPECT_EQ(writeReg(port_, 0x4E1F, 0xC3E1), 0);
    EXPECT_EQ(sim_->mode(), Mode::Normal);
    EXPECT_EQ(writeReg(port_, 0x4E1F, 0xC3E1), 0);  // echoed, then the drive restarts
    ASSERT_TRUE(sim_->waitForMode(Mode::Boot, 2000));
    EXPECT_EQ(sim_->stats().bootRequests, 1);
    // The bootloader listens at 38400: silent at 9600 (the first try of
    // ConnectBoot), answering at 38400.
    EXPECT_EQ(command(port_, "VKR PM version\n", 400), "");
    ASSERT_TRUE(port_.setLine(38400, 'E'));
    EXPECT_NE(command(port_, "VKR PM version\n").find("RedBoot>"), std::string::npos);
}

TEST_F(SimTest, BootRequestWithConfiguredValues) {
    SimOptions o = quickOptions();
    o.bootRequest = {0x1234, 0x4321};
    startSim(o);
    openPort(9600);
    writeReg(port_, 0x0605, 0x5AA5);
    writeReg(port_, 0x4E1F, 0xC3E1);
    writeReg(port_, 0x4E1F, 0xC3E1);
    EXPECT_FALSE(sim_->waitForMode(Mode::Boot, 200));
    writeReg(port_, 0x0605, 0x1234);
    writeReg(port_, 0x4E1F, 0x4321);
    writeReg(port_, 0x4E1F, 0x4321);
    EXPECT_TRUE(sim_->waitForMode(Mode::Boot, 2000));
}

TEST_F(SimTest, OldBootloaderAt9600) {
    SimOptions o = quickOptions();
    o.startMode = Mode::Boot;
    o.bootLine.baud = 9600;
    startSim(o);
    openPort(38400);
    EXPECT_EQ(command(port_, "VKR PM version\n", 400), "");
    ASSERT_TRUE(port_.setLine(9600, 'E'));
    EXPECT_NE(command(port_, "VKR PM version\n").find(o.boot.versionText), std::string::npos);
}

TEST_F(SimTest, PowerUpFollowsTheModeWord) {
    SimOptions o = quickOptions();
    o.faults.emplace_back(FaultKind::ModeWord0081, defaultFaultSetting(FaultKind::ModeWord0081));
    startSim(o);
    EXPECT_EQ(sim_->mode(), Mode::Boot);
    EXPECT_EQ(sim_->modeWord(), 0x0081);
}

// -------------------------------------------------------------- boot mode

TEST_F(SimTest, BootSession) {
    SimOptions o = quickOptions();
    o.startMode = Mode::Boot;
    o.partNumber = "12345678";
    startSim(o);
    openPort(38400);

    // Connection.
    std::string r = command(port_, "VKR PM version\n");
    EXPECT_NE(r.find(o.boot.versionText), std::string::npos);
    EXPECT_NE(r.find("RedBoot>"), std::string::npos);

    // Part number at 153.
    r = command(port_, "VKR pm read_ee -a 153 -l 9\n");
    EXPECT_EQ(r.rfind("313233343536373800", 0), 0u) << r;

    // EE locked after start: writes are refused.
    r = command(port_, "VKR pm write_ee -a 0x100 -d 1234\n");
    EXPECT_EQ(r.find("OK"), std::string::npos);
    EXPECT_NE(r.find("locked"), std::string::npos);
    r = command(port_, "VKR pm load pu_ee -m xMODEM -b 128\n");
    EXPECT_EQ(r.find("EE loading..."), std::string::npos);
    EXPECT_TRUE(sim_->eeLocked());

    // Unlock and load an EE image with good and bad blocks.
    EXPECT_NE(command(port_, "VKR pm lock -o n -t ee\n").find("EE locked = 0"), std::string::npos);
    EXPECT_FALSE(sim_->eeLocked());
    ASSERT_TRUE(port_.write("VKR pm load pu_ee -m xMODEM -b 128\n"));
    EXPECT_NE(port_.readText("EE loading...", 1500).find("EE loading..."), std::string::npos);
    Bytes image = pattern(300, 7);
    std::fill(image.begin() + 128, image.begin() + 256, 0x00);  // an all-zero block: zero-CRC rule
    Bytes b1(image.begin(), image.begin() + 128), b2(image.begin() + 128, image.begin() + 256),
        b3(image.begin() + 256, image.end());
    EXPECT_EQ(sendBlock(port_, block(1, b1)), 0x06);
    EXPECT_EQ(sendBlock(port_, block(2, b2, true)), 0x15);  // bad CRC
    EXPECT_EQ(sendBlock(port_, block(3, b3)), 0x15);        // wrong number
    Bytes b2frame = block(2, b2);
    EXPECT_EQ(b2frame[130], 0x1A);
    EXPECT_EQ(b2frame[131], 0xB3);
    EXPECT_EQ(b2frame[132], 0x7B);
    EXPECT_EQ(sendBlock(port_, b2frame), 0x06);
    EXPECT_EQ(sendBlock(port_, b2frame), 0x06);  // a repeat (lost ACK) is acknowledged, not written twice
    EXPECT_EQ(sendBlock(port_, block(3, b3)), 0x06);  // 44 bytes, padded with 0x00
    // A command line ends the reception (the sender sends no EOT).
    r = command(port_, "VKR pm read_ee -a 128 -l 16\n");
    char hex[40] = {0};
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02X", image[i]);
    EXPECT_EQ(r.rfind(hex, 0), 0u) << r;
    EXPECT_EQ(sim_->ee(128, 384), xmodemWireImage(image));

    // Write and read back.
    EXPECT_NE(command(port_, "VKR pm write_ee -a 1000 -d A1B2C3\n").find("OK"), std::string::npos);
    EXPECT_EQ(command(port_, "VKR pm read_ee -a 1000 -l 3\n").rfind("A1B2C3", 0), 0u);
    // A calibration line: answered with the prompt.
    EXPECT_NE(command(port_, "VKR pm write_ee -a 64 -d 0400\n").find("RedBoot>"), std::string::npos);
    // The image covered EE 153, where the part number was: a power data
    // image carries its model's part number there.
    r = command(port_, "VKR pm read_ee -a 153 -l 2\n");
    char pn[8];
    std::snprintf(pn, sizeof pn, "%02X%02X", image[25], image[26]);
    EXPECT_EQ(r.rfind(pn, 0), 0u) << r;

    // Flash: not erased, the first block is refused.
    ASSERT_TRUE(port_.write("VKR pm load pu -m xMODEM -b 0x08008000\n"));
    EXPECT_NE(port_.readText("flash loading...", 1500).find("flash loading..."), std::string::npos);
    Bytes code = pattern(256, 99);
    {
        // An application image names its own length; the drive starts it only whole.
        const std::string stamped = flash::withLengthStamp(std::string(code.begin(), code.end()));
        code.assign(stamped.begin(), stamped.end());
    }
    EXPECT_EQ(sendBlock(port_, block(1, Bytes(code.begin(), code.begin() + 128))), 0x15);
    // Erase takes its time, then "OK".
    auto t0 = Clock::now();
    r = command(port_, "VKR pm flash_block_erase -s 2 -e 7\n", 3000);
    EXPECT_GE(msSince(t0), 280);
    EXPECT_NE(r.find("OK"), std::string::npos);
    ASSERT_TRUE(port_.write("VKR pm load pu -m xMODEM -b 0x08008000\n"));
    port_.readText("flash loading...", 1500);
    EXPECT_EQ(sendBlock(port_, block(1, Bytes(code.begin(), code.begin() + 128))), 0x06);
    EXPECT_EQ(sendBlock(port_, block(2, Bytes(code.begin() + 128, code.end()))), 0x06);
    EXPECT_EQ(command(port_, "VKR pm lock -o y -t ee\n").find("EE locked = 1") != std::string::npos, true);
    EXPECT_EQ(sim_->flash(0x08008000, 256), code);
    // A block after the reception ended is refused.
    EXPECT_EQ(sendBlock(port_, block(3, code)), 0x15);

    // Mode word (EE 0x600): writable while the EE is locked, read with the
    // double newline the program sends.
    EXPECT_NE(command(port_, "VKR pm write_ee -a 0x600 -d 0081\n").find("OK"), std::string::npos);
    ASSERT_TRUE(port_.write("VKR pm read_ee -a 0x600 -l 2\n\n"));
    r = text(port_.readUntil(
        [](const Bytes& b) {
            std::string s = text(b);
            std::size_t p = s.find("RedBoot>");
            return p != std::string::npos && s.find("RedBoot>", p + 1) != std::string::npos;
        },
        1500));
    EXPECT_NE(r.find("0081"), std::string::npos);

    // Reset with 0081: stays in the bootloader.
    ASSERT_TRUE(port_.write("VKR pm reset\n"));
    EXPECT_NE(port_.readText("Resetting", 1000).find("Resetting"), std::string::npos);
    auto s0 = sim_->stats().resets;
    EXPECT_EQ(s0, 1);
    ASSERT_TRUE(sim_->waitForMode(Mode::Boot, 2000));
    EXPECT_NE(command(port_, "VKR PM version\n").find("RedBoot>"), std::string::npos);
    EXPECT_TRUE(sim_->eeLocked());

    // Unknown command: an error and the prompt.
    r = command(port_, "VKR pm frobnicate\n");
    EXPECT_NE(r.find("Error"), std::string::npos);

    // Reset with 0065 and a whole application: it starts at 9600 baud.
    EXPECT_TRUE(sim_->applicationValid());
    EXPECT_NE(command(port_, "VKR pm write_ee -a 0x600 -d 0065\n").find("OK"), std::string::npos);
    ASSERT_TRUE(port_.write("VKR pm reset\n"));
    port_.readText("Resetting", 1000);
    ASSERT_TRUE(sim_->waitForMode(Mode::Normal, 2000));
    ASSERT_TRUE(port_.setLine(9600, 'E'));
    Bytes req = request(1, 6, 0x0055, 1);
    EXPECT_EQ(transact(port_, req), req);
}

TEST_F(SimTest, EndOfTransmissionIsAcknowledged) {
    SimOptions o = quickOptions();
    o.startMode = Mode::Boot;
    o.boot.eeLockedAtStart = false;
    startSim(o);
    openPort(38400);
    ASSERT_TRUE(port_.write("VKR pm load pu_ee -m xMODEM -b 1152\n"));
    port_.readText("EE loading...", 1500);
    Bytes d = pattern(128, 3);
    EXPECT_EQ(sendBlock(port_, block(1, d)), 0x06);
    EXPECT_EQ(sendBlock(port_, Bytes{0x04}), 0x06);
    EXPECT_EQ(sim_->ee(1152, 128), d);
    EXPECT_NE(command(port_, "VKR PM version\n").find("RedBoot>"), std::string::npos);
}

TEST_F(SimTest, FaultNakBlockAndModeWord) {
    SimOptions o = quickOptions();
    o.startMode = Mode::Boot;
    o.boot.eeLockedAtStart = false;
    startSim(o);
    openPort(38400);
    ASSERT_TRUE(sim_->setFault("nak-block=2"));
    ASSERT_TRUE(port_.write("VKR pm load pu_ee -m xMODEM -b 128\n"));
    port_.readText("EE loading...", 1500);
    Bytes d = pattern(256, 5);
    EXPECT_EQ(sendBlock(port_, block(1, Bytes(d.begin(), d.begin() + 128))), 0x06);
    EXPECT_EQ(sendBlock(port_, block(2, Bytes(d.begin() + 128, d.end()))), 0x15);
    EXPECT_EQ(sendBlock(port_, block(2, Bytes(d.begin() + 128, d.end()))), 0x15);

    ASSERT_TRUE(sim_->setFault("mode-word-0081"));
    EXPECT_NE(command(port_, "VKR pm write_ee -a 0x600 -d 0065\n").find("OK"), std::string::npos);
    EXPECT_NE(command(port_, "VKR pm read_ee -a 0x600 -l 2\n").find("0081"), std::string::npos);
    ASSERT_TRUE(port_.write("VKR pm reset\n"));
    port_.readText("Resetting", 1000);
    EXPECT_FALSE(sim_->waitForMode(Mode::Normal, 300));
    EXPECT_EQ(sim_->mode(), Mode::Boot);
}

TEST_F(SimTest, FaultLateAckAndSilenceInBootMode) {
    SimOptions o = quickOptions();
    o.startMode = Mode::Boot;
    startSim(o);
    openPort(38400);
    ASSERT_TRUE(sim_->setFault("silence#1"));
    EXPECT_EQ(command(port_, "VKR PM version\n", 400), "");
    EXPECT_NE(command(port_, "VKR PM version\n").find("RedBoot>"), std::string::npos);
    ASSERT_TRUE(sim_->setFault("late=300#1"));
    auto t0 = Clock::now();
    EXPECT_NE(command(port_, "VKR PM version\n").find("RedBoot>"), std::string::npos);
    EXPECT_GE(msSince(t0), 280);
}

TEST_F(SimTest, MemoriesSaveAndLoad) {
    SimOptions o = quickOptions();
    o.startMode = Mode::Boot;
    o.boot.eeLockedAtStart = false;
    std::string base = std::string(::testing::TempDir()) + "drivesim_mem_" + std::to_string(getpid());
    o.eeFile = base + ".ee";
    o.flashFile = base + ".flash";
    std::remove(o.eeFile.c_str());
    std::remove(o.flashFile.c_str());
    startSim(o);
    openPort(38400);
    EXPECT_NE(command(port_, "VKR pm write_ee -a 2000 -d CAFE\n").find("OK"), std::string::npos);
    sim_->stop();
    port_.close();
    // A new drive with the same files remembers.
    startSim(o);
    EXPECT_EQ(sim_->ee(2000, 2), (Bytes{0xCA, 0xFE}));
    std::string err;
    ASSERT_TRUE(sim_->saveEe(base + ".copy", &err)) << err;
    struct stat st;
    ASSERT_EQ(stat((base + ".copy").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(ee::kSize));
    std::remove((base + ".copy").c_str());
    sim_->stop();
    std::remove(o.eeFile.c_str());
    std::remove(o.flashFile.c_str());
}
