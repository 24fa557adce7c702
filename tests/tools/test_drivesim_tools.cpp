// drivesim against independent masters and senders: mbpoll and a libmodbus
// client (Modbus RTU), lrzsz's sx (XMODEM-CRC), and the drivesim program
// itself on the command line.
#include "DriveSimTestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#ifdef DRIVESIM_HAVE_LIBMODBUS
#include <modbus/modbus.h>
#endif

using namespace drivesim;
using namespace dst;

namespace {

struct RunResult {
    int status = -1;  // exit code, or -1
    std::string output;
};

// Runs a shell command, capturing stdout and stderr.
RunResult run(const std::string& cmd) {
    RunResult r;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[512];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string slurpFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tmp(const std::string& name) {
    return std::string(::testing::TempDir()) + "drivesim_tools_" + std::to_string(getpid()) + "_" + name;
}

class ToolsTest : public ::testing::Test {
protected:
    void startSim(SimOptions o) {
        sim_ = std::make_unique<Simulator>(std::move(o));
        std::string err;
        ASSERT_TRUE(sim_->start(&err)) << err;
    }
    void TearDown() override {
        if (sim_) sim_->stop();
    }
    std::string mbpoll(const std::string& args) {
        return std::string(DRIVESIM_MBPOLL) + " -m rtu -b 9600 -P even -a 1 -t 4 -1 -o 1 " + args;
    }
    std::unique_ptr<Simulator> sim_;
};

}  // namespace

// ------------------------------------------------------------------ mbpoll

TEST_F(ToolsTest, MbpollReadsAndWritesRegisters) {
    if (std::string(DRIVESIM_MBPOLL).empty()) GTEST_SKIP() << "mbpoll is not installed";
    startSim(quickOptions());
    std::string dev = sim_->slavePath();
    // mbpoll numbers registers from 1: reference 86 is register 0x0055.
    RunResult w = run(mbpoll("-r 86 " + dev + " 4660"));
    EXPECT_EQ(w.status, 0) << w.output;
    EXPECT_NE(w.output.find("Written 1 references"), std::string::npos) << w.output;
    std::uint16_t v = 0;
    ASSERT_TRUE(sim_->readRegister(0x0055, &v));
    EXPECT_EQ(v, 4660);
    RunResult r = run(mbpoll("-r 86 " + dev));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("[86]: \t4660"), std::string::npos) << r.output;
    // -0: PDU addressing; three series registers at once, as hexadecimal.
    r = run(std::string(DRIVESIM_MBPOLL) + " -m rtu -b 9600 -P even -a 1 -t 4:hex -1 -o 1 -0 -r 811 -c 3 " + dev);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("[811]: \t0x5654"), std::string::npos) << r.output;  // "TV"
    EXPECT_NE(r.output.find("[812]: \t0x3833"), std::string::npos) << r.output;  // "38"
}

TEST_F(ToolsTest, MbpollGetsExceptionsAndTimeouts) {
    if (std::string(DRIVESIM_MBPOLL).empty()) GTEST_SKIP() << "mbpoll is not installed";
    startSim(quickOptions());
    std::string dev = sim_->slavePath();
    RunResult r = run(mbpoll("-0 -r 30583 " + dev));  // 0x7777: no such register
    EXPECT_NE(r.output.find("Illegal data address"), std::string::npos) << r.output;
    r = run(mbpoll("-0 -r 258 " + dev + " 60000"));  // P01.02 above 590.00 Hz
    EXPECT_NE(r.output.find("Illegal data value"), std::string::npos) << r.output;
    r = run(std::string(DRIVESIM_MBPOLL) + " -m rtu -b 19200 -P even -a 1 -t 4 -1 -o 0.3 -0 -r 85 " + dev);
    EXPECT_NE(r.output.find("timed out"), std::string::npos) << r.output;
    r = run(std::string(DRIVESIM_MBPOLL) + " -m rtu -b 9600 -P odd -a 1 -t 4 -1 -o 0.3 -0 -r 85 " + dev);
    EXPECT_NE(r.output.find("timed out"), std::string::npos) << r.output;
    r = run(std::string(DRIVESIM_MBPOLL) + " -m rtu -b 9600 -P even -a 2 -t 4 -1 -o 0.3 -0 -r 85 " + dev);
    EXPECT_NE(r.output.find("timed out"), std::string::npos) << r.output;
}

// --------------------------------------------------------------- libmodbus

#ifdef DRIVESIM_HAVE_LIBMODBUS
TEST_F(ToolsTest, LibmodbusClient) {
    startSim(quickOptions());
    modbus_t* ctx = modbus_new_rtu(sim_->slavePath().c_str(), 9600, 'E', 8, 1);
    ASSERT_NE(ctx, nullptr);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 1, 0);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
    std::uint16_t regs[5] = {0};
    EXPECT_EQ(modbus_read_registers(ctx, 0x7777, 1, regs), -1);
    EXPECT_EQ(errno, EMBXILADD) << modbus_strerror(errno);
    EXPECT_EQ(modbus_write_register(ctx, 0x0055, 1), 1) << modbus_strerror(errno);
    EXPECT_EQ(modbus_read_registers(ctx, 0x0329, 5, regs), 5) << modbus_strerror(errno);
    EXPECT_EQ(regs[2], 0x5654);
    EXPECT_EQ(modbus_write_register(ctx, reg::kRunCommand, 3), -1);  // not a run command
    EXPECT_EQ(errno, EMBXILVAL);
    EXPECT_EQ(modbus_write_registers(ctx, 0x0055, 1, regs), -1);  // function 16 is not offered
    EXPECT_EQ(errno, EMBXILFUN);
    modbus_close(ctx);
    modbus_free(ctx);

    // Wrong baud rate: silence, so a time-out.
    ctx = modbus_new_rtu(sim_->slavePath().c_str(), 38400, 'E', 8, 1);
    ASSERT_NE(ctx, nullptr);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, 300000);
    ASSERT_EQ(modbus_connect(ctx), 0);
    EXPECT_EQ(modbus_read_registers(ctx, 0x0055, 1, regs), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    modbus_close(ctx);
    modbus_free(ctx);
}
#endif

// ----------------------------------------------------------------------- sx

TEST_F(ToolsTest, SxSendsAnImageIntoALoad) {
    if (std::string(DRIVESIM_SX).empty()) GTEST_SKIP() << "sx (lrzsz) is not installed";
    SimOptions o = quickOptions();
    o.startMode = Mode::Boot;
    o.boot.eeLockedAtStart = false;
    o.boot.xmodemPoll = 0.3;  // a standard sender waits for the receiver's 'C'
    startSim(o);
    PtyPort term;
    ASSERT_TRUE(term.open(sim_->slavePath(), 38400));
    ASSERT_TRUE(term.write("VKR pm load pu_ee -m xMODEM -b 1152\n"));
    ASSERT_NE(term.readText("EE loading...", 2000).find("EE loading..."), std::string::npos);

    std::string file = tmp("image.bin");
    Bytes image = pattern(300, 42);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    // sx talks on its stdin and stdout; our own descriptor stays open but
    // does not read meanwhile.
    std::string dev = sim_->slavePath();
    // Its messages go to its standard error, kept off the line.
    std::string err = tmp("sx.err");
    RunResult r = run("(timeout 60 " + std::string(DRIVESIM_SX) + " -X -b " + file + " < " + dev + " > " + dev +
                      " 2> " + err + ")");
    EXPECT_EQ(r.status, 0) << r.output << slurpFile(err);
    std::remove(err.c_str());
    // sx pads the last block with 0x1A (CP/M end of file), not 0x00.
    Bytes expected = image;
    expected.resize(384, 0x1A);
    EXPECT_EQ(sim_->ee(1152, 384), expected);
    // The end-of-transmission byte ended the reception: commands work.
    ASSERT_TRUE(term.setLine(38400, 'E'));
    tcflush(term.fd(), TCIFLUSH);
    EXPECT_NE(command(term, "VKR PM version\n").find("RedBoot>"), std::string::npos);
    std::remove(file.c_str());
}

// ------------------------------------------------------------ the program

namespace {

// Starts drivesim with `args`, returns its pid; the output goes to `log`.
pid_t spawn(const std::string& args, const std::string& log) {
    pid_t pid = fork();
    if (pid == 0) {
        std::string cmd = "exec " + std::string(DRIVESIM_PROGRAM) + " " + args + " > " + log + " 2>&1";
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

bool waitForFile(const std::string& path, int ms) {
    auto t0 = Clock::now();
    struct stat st;
    while (msSince(t0) < ms) {
        if (stat(path.c_str(), &st) == 0 && st.st_size > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int waitExit(pid_t pid, int ms) {
    auto t0 = Clock::now();
    int st = 0;
    while (msSince(t0) < ms) {
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return -1;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(DriveSimProgram, HelpListsTheOptions) {
    RunResult r = run(std::string(DRIVESIM_PROGRAM) + " --help");
    EXPECT_EQ(r.status, 0);
    for (const char* opt : {"--link", "--ready-file", "--station", "--baud", "--parity", "--boot-baud",
                            "--mode", "--workbook", "--fault", "--ee-file", "--flash-file", "--config",
                            "--verbose", "--pace", "nak-block", "hangup", "mode-word-0081"})
        EXPECT_NE(r.output.find(opt), std::string::npos) << opt;
    r = run(std::string(DRIVESIM_PROGRAM) + " --fault smoke");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("unknown fault"), std::string::npos);
}

TEST(DriveSimProgram, LinkReadyFileVerboseAndSignals) {
    std::string link = tmp("ttyDRIVE"), ready = tmp("ready"), log = tmp("log"), config = tmp("config.ini");
    std::remove(ready.c_str());
    {
        std::ofstream c(config);
        c << "[BootRequest]\nCode=0x1234\nKey=0x4321\n";
    }
    pid_t pid = spawn("--link " + link + " --ready-file " + ready + " --config " + config +
                          " --boot-time 50 --verbose",
                      log);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForFile(ready, 5000)) << slurp(log);
    std::string path = slurp(ready);
    ASSERT_FALSE(path.empty());
    path.pop_back();  // newline
    char target[256] = {0};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);
    {
        PtyPort port;
        ASSERT_TRUE(port.open(link, 9600));
        Bytes req = request(1, 6, 0x0055, 1);
        EXPECT_EQ(transact(port, req), req);
        // The boot request with the values of --config.
        EXPECT_EQ(writeReg(port, 0x0605, 0x1234), 0);
        EXPECT_EQ(writeReg(port, 0x4E1F, 0x4321), 0);
        EXPECT_EQ(writeReg(port, 0x4E1F, 0x4321), 0);
        ASSERT_TRUE(port.setLine(38400, 'E'));
        std::string r;
        auto t0 = Clock::now();
        while (msSince(t0) < 3000 && (r = command(port, "VKR PM version\n", 300)).empty()) {
        }
        EXPECT_NE(r.find("RedBoot>"), std::string::npos);
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(pid, 5000), 0);
    std::string out = slurp(log);
    EXPECT_NE(out.find("drivesim: listening on " + path), std::string::npos) << out;
    EXPECT_NE(out.find("code 0x1234 key 0x4321"), std::string::npos) << out;
    EXPECT_NE(out.find("write 0x0055"), std::string::npos) << out;  // a line per request
    EXPECT_NE(out.find("boot request"), std::string::npos) << out;
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);  // link removed
    EXPECT_NE(stat(ready.c_str(), &st), 0);  // ready file removed
    std::remove(log.c_str());
    std::remove(config.c_str());
}

TEST(DriveSimProgram, SigintAndEeFile) {
    std::string link = tmp("ttyEE"), ready = tmp("ready_ee"), log = tmp("log_ee"), ee = tmp("drive.ee");
    std::remove(ee.c_str());
    std::remove(ready.c_str());
    pid_t pid = spawn("--link " + link + " --ready-file " + ready + " --mode boot --ee-unlocked --ee-file " + ee +
                          " --part-number 87654321 -q",
                      log);
    ASSERT_TRUE(waitForFile(ready, 5000)) << slurp(log);
    {
        PtyPort port;
        ASSERT_TRUE(port.open(link, 38400));
        EXPECT_NE(command(port, "VKR pm write_ee -a 3000 -d 5A5A\n").find("OK"), std::string::npos);
        EXPECT_EQ(command(port, "VKR pm read_ee -a 153 -l 8\n").rfind("3837363534333231", 0), 0u);
    }
    kill(pid, SIGINT);
    EXPECT_EQ(waitExit(pid, 5000), 0);
    std::string saved = slurp(ee);
    ASSERT_EQ(saved.size(), ee::kSize);
    EXPECT_EQ(static_cast<unsigned char>(saved[3000]), 0x5A);
    EXPECT_EQ(saved.substr(153, 8), "87654321");
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    std::remove(ee.c_str());
    std::remove(log.c_str());
}

TEST(DriveSimProgram, RefusesToReplaceARegularFile) {
    std::string file = tmp("not_a_link");
    {
        std::ofstream f(file);
        f << "keep me";
    }
    RunResult r = run("timeout 10 " + std::string(DRIVESIM_PROGRAM) + " --link " + file);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(slurp(file), "keep me");
    std::remove(file.c_str());
}
