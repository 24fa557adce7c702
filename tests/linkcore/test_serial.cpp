// The serial channel against a real pseudo-terminal pair, and the
// Linux port mapping (TORVANE_COMn, ports.ini, /dev/ttyS(n-1)).
#include "TestUtil.h"
#include "PtyUtil.h"

#include "CCOM.h"
#include "DataFile.h"

#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <vector>

using namespace lctest;

namespace {

struct ReadEvent
{
    std::string bytes;
    int length;
    int status;
    bool nullData;
    long long atMs;
};

// A CCOM that records what reaches OnRead.
class TestCom : public CCOM
{
public:
    ~TestCom() override { Uninitialize(); }
    bool OnRead(const char* data, int length, int status) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ReadEvent e;
        e.nullData = data == nullptr;
        e.bytes = data && length > 0 ? std::string(data, length) : std::string();
        e.length = length;
        e.status = status;
        e.atMs = NowMs();
        m_events.push_back(e);
        return true;
    }
    std::vector<ReadEvent> Events()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events;
    }
    int StatusEvents()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        int n = 0;
        for (const ReadEvent& e : m_events)
            n += e.status != 0;
        return n;
    }
    std::string Received()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::string all;
        for (const ReadEvent& e : m_events)
            if (e.status == 0)
                all += e.bytes;
        return all;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.clear();
    }
    bool WaitReceived(const std::string& expected, int timeoutMs)
    {
        return WaitFor([&] { return Received() == expected; }, timeoutMs);
    }

private:
    std::mutex m_lock;
    std::vector<ReadEvent> m_events;
};

CCOMSet Settings(int port, int baud = 9600, int parity = 0, int bits = 8, int stop = 1)
{
    CCOMSet set;
    set.m_cfg.wPortNo = static_cast<uint16_t>(port);
    set.m_cfg.nBaudRate = baud;
    set.m_cfg.wParity = static_cast<uint16_t>(parity);
    set.m_cfg.byDataBits = static_cast<uint8_t>(bits);
    set.m_cfg.byStopBits = static_cast<uint8_t>(stop);
    return set;
}

speed_t SpeedOf(int baud)
{
    switch (baud)
    {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

tcflag_t SizeOf(int bits)
{
    switch (bits)
    {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

std::string AllBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

class SerialTest : public LinkCoreTest
{
protected:
    void SetUp() override
    {
        LinkCoreTest::SetUp();
        ASSERT_TRUE(m_pty.Open());
        m_pty.MapPort(5);
    }
    void TearDown() override
    {
        m_com.Uninitialize();
        m_pty.Close();
        ::unsetenv("TORVANE_COM5");
        LinkCoreTest::TearDown();
    }
    PtyPair m_pty;
    TestCom m_com;
};

}  // namespace

// --- the port mapping -------------------------------------------------------------

TEST(SerialPortMapping, EnvironmentThenPortsIniThenDefault)
{
    ::unsetenv("TORVANE_COM7");
    EXPECT_EQ(LinkCoreSerialDevice(7), "/dev/ttyS6");
    EXPECT_EQ(LinkCoreSerialDevice(1), "/dev/ttyS0");
    ::setenv("TORVANE_COM7", "", 1);                    // empty: not set
    EXPECT_EQ(LinkCoreSerialDevice(7), "/dev/ttyS6");
    ::setenv("TORVANE_COM7", "/tmp/sim/COM7", 1);
    EXPECT_EQ(LinkCoreSerialDevice(7), "/tmp/sim/COM7");
    ::unsetenv("TORVANE_COM7");
    EXPECT_EQ(LinkCoreSerialDevice(0), "");
    EXPECT_EQ(LinkCoreSerialDevice(-3), "");

    // ports.ini in the program folder (the folder of the test program).
    char folder[4096];
    ASSERT_GT(LinkCoreProgramFolder(folder, sizeof folder), 0);
    std::string ini = std::string(folder) + "ports.ini";
    ASSERT_EQ(ini[0], '/');
    ::unsetenv("TORVANE_COM13");
    if (::access(folder, W_OK) != 0)
        GTEST_SKIP() << "the program folder " << folder << " is not writable";
    ASSERT_TRUE(WriteFile(ini, "[Ports]\nCOM13=/tmp/sim/thirteen\nCOM14=\n"));
    EXPECT_EQ(LinkCoreSerialDevice(13), "/tmp/sim/thirteen");
    EXPECT_EQ(LinkCoreSerialDevice(14), "/dev/ttyS13");  // empty value: default
    ::setenv("TORVANE_COM13", "/tmp/sim/env13", 1);      // the environment comes first
    EXPECT_EQ(LinkCoreSerialDevice(13), "/tmp/sim/env13");
    ::unsetenv("TORVANE_COM13");
    ::unlink(ini.c_str());
    EXPECT_EQ(LinkCoreSerialDevice(13), "/dev/ttyS12");
}

TEST(SerialPortMapping, PartNamesAndCForms)
{
    EXPECT_EQ(LinkCoreSerialPortName(1), "COM1");
    EXPECT_EQ(LinkCoreSerialPortName(9), "COM9");
    EXPECT_EQ(LinkCoreSerialPortName(10), "\\\\.\\COM10");
    EXPECT_EQ(LinkCoreSerialPortName(16), "\\\\.\\COM16");

    ::setenv("TORVANE_COM3", "/tmp/sim/three", 1);
    ::setenv("TORVANE_COM12", "/tmp/sim/twelve", 1);
    char out[64];
    EXPECT_EQ(LinkCoreSerialDeviceForName("COM3", out, sizeof out), 14);
    EXPECT_STREQ(out, "/tmp/sim/three");
    EXPECT_GT(LinkCoreSerialDeviceForName("\\\\.\\COM12", out, sizeof out), 0);
    EXPECT_STREQ(out, "/tmp/sim/twelve");
    EXPECT_EQ(LinkCoreSerialDeviceForName("LPT1", out, sizeof out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(LinkCoreSerialDeviceForName("COM", out, sizeof out), 0);
    // The C form reports the full length and cuts the copy.
    EXPECT_EQ(LinkCoreSerialDevicePath(3, out, 5), 14);
    EXPECT_STREQ(out, "/tmp");
    EXPECT_EQ(LinkCoreSerialDevicePath(0, out, sizeof out), 0);
    ::unsetenv("TORVANE_COM3");
    ::unsetenv("TORVANE_COM12");
}

TEST_F(SerialTest, MissingDeviceIsReportedWithTheMapping)
{
    ::setenv("TORVANE_COM3", (m_dir + "/nodevice").c_str(), 1);
    CCOMSet set = Settings(3);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_com.InitCOM(&set));
    EXPECT_FALSE(m_com.Initialize(&set));
    std::string err = testing::internal::GetCapturedStderr();
    ::unsetenv("TORVANE_COM3");
    std::string expected = "COM3: serial device " + m_dir +
                           "/nodevice not found; set TORVANE_COM3 or [Ports] COM3 in ports.ini";
    EXPECT_NE(err.find(expected), std::string::npos) << err;
    EXPECT_FALSE(m_com.GetStatus());
    EXPECT_EQ(m_com.StatusEvents(), 0);
    EXPECT_EQ(m_com.SendData("x", 1, 0), 0);
}

TEST_F(SerialTest, UnopenableDeviceIsReported)
{
    ::setenv("TORVANE_COM4", m_dir.c_str(), 1);            // a folder
    CCOMSet set = Settings(4);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_com.InitCOM(&set));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("COM4: cannot open serial device " + m_dir), std::string::npos) << err;
    EXPECT_NE(err.find("set TORVANE_COM4 or [Ports] COM4 in ports.ini"), std::string::npos) << err;

    ASSERT_TRUE(WriteFile("plainfile", "x"));               // not a terminal
    ::setenv("TORVANE_COM4", (m_dir + "/plainfile").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_com.InitCOM(&set));
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("COM4: serial device " + m_dir + "/plainfile refused the settings"), std::string::npos)
        << err;
    ::unsetenv("TORVANE_COM4");
    EXPECT_EQ(m_com.StatusEvents(), 0);
}

TEST_F(SerialTest, BaudRateNotSupportedFails)
{
    CCOMSet set = Settings(5, 12345);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_com.Initialize(&set));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("refused the settings (12345 baud"), std::string::npos) << err;
}

TEST_F(SerialTest, SerialParametersForEachSetting)
{
    ACE_TTY_IO::Serial_Params p;
    ComCfgStruct cfg;
    const char* parity[] = {"none", "odd", "even", "none", "none"};
    for (int i = 0; i < 5; ++i)
    {
        cfg.wParity = static_cast<uint16_t>(i);
        CCOM::MakeSerialParams(cfg, p);
        EXPECT_STREQ(p.paritymode, parity[i]) << i;
    }
    cfg.nBaudRate = 38400;
    cfg.byDataBits = 7;
    cfg.byStopBits = 2;
    cfg.byDtrOff = 1;
    CCOM::MakeSerialParams(cfg, p);
    EXPECT_EQ(p.baudrate, 38400);
    EXPECT_EQ(p.databits, 7);
    EXPECT_EQ(p.stopbits, 2);
    EXPECT_TRUE(p.dtrdisable);
    EXPECT_FALSE(p.ctsenb);
    EXPECT_FALSE(p.dsrenb);
    EXPECT_FALSE(p.xinenb);
    EXPECT_FALSE(p.xoutenb);
    EXPECT_FALSE(p.modem);
    EXPECT_TRUE(p.rcvenb);
    EXPECT_EQ(p.xonlim, 0);
    EXPECT_EQ(p.xofflim, 0);
    EXPECT_EQ(p.readmincharacters, 0u);
    EXPECT_EQ(p.readtimeoutmsec, 100);
    EXPECT_EQ(p.rtsenb, 0);
    cfg.byRtsMode = 2;
    CCOM::MakeSerialParams(cfg, p);
    EXPECT_EQ(p.rtsenb, 2);                  // handshake only for mode 2
    cfg.byRtsMode = 1;
    CCOM::MakeSerialParams(cfg, p);
    EXPECT_EQ(p.rtsenb, 0);
}

TEST_F(SerialTest, OpensWithEachParityAndDataBitsSetting)
{
    const int bauds[] = {9600, 19200, 38400, 57600, 115200};
    int n = 0;
    for (int parity = 0; parity <= 3; ++parity)
    {
        for (int bits = 5; bits <= 8; ++bits)
        {
            int baud = bauds[n++ % 5];
            int stop = bits == 6 ? 2 : 1;
            CCOMSet set = Settings(5, baud, parity, bits, stop);
            m_com.Clear();
            ASSERT_TRUE(m_com.Initialize(&set)) << "parity " << parity << " bits " << bits;
            EXPECT_TRUE(m_com.GetStatus());
            EXPECT_EQ(m_com.StatusEvents(), 1);
            EXPECT_EQ(m_com.GetConfig().nBaudRate, baud);
            EXPECT_EQ(m_com.GetConfig().wParity, parity);
            EXPECT_EQ(m_com.GetConfig().byDataBits, bits);

            struct termios tio;
            ASSERT_EQ(::tcgetattr(m_pty.Slave(), &tio), 0);
            // What the pseudo-terminal keeps of the settings.
            EXPECT_EQ(::cfgetospeed(&tio), SpeedOf(baud)) << baud;
            EXPECT_EQ(::cfgetispeed(&tio), SpeedOf(baud)) << baud;
            EXPECT_EQ(tio.c_cc[VMIN], 0);
            EXPECT_EQ(tio.c_cc[VTIME], 1);             // 100 ms read time-out
            EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
            EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | PARMRK), 0u);
            EXPECT_EQ(tio.c_oflag & OPOST, 0u);
            EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
            EXPECT_NE(tio.c_cflag & CREAD, 0u);
            EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
            EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, stop == 2);
            // A pseudo-terminal forces 8 data bits without parity; a real
            // port keeps what was asked for.
            tcflag_t size = tio.c_cflag & CSIZE;
            EXPECT_TRUE(size == SizeOf(bits) || (size == CS8 && !(tio.c_cflag & PARENB)));
            if (tio.c_cflag & PARENB)
            {
                EXPECT_EQ((tio.c_cflag & PARODD) != 0, parity == 1);
            }
            else
            {
                EXPECT_TRUE(parity == 0 || parity == 3 || size == CS8);
            }

            // Traffic in both directions with these settings.
            EXPECT_EQ(m_com.SendData("ok", 2, 0), 2);
            EXPECT_EQ(m_pty.Read(2, 1000), "ok");
            ASSERT_TRUE(m_pty.Write("in"));
            EXPECT_TRUE(m_com.WaitReceived("in", 1000));
            m_com.Uninitialize();
            EXPECT_FALSE(m_com.GetStatus());
        }
    }
}

TEST_F(SerialTest, OneStatusEventOnOpen)
{
    CCOMSet set = Settings(5);
    ASSERT_TRUE(m_com.Initialize(&set));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto events = m_com.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].status, COMM_INIT);
    EXPECT_TRUE(events[0].nullData);
    EXPECT_EQ(events[0].length, 0);
    // Opening an open channel returns true without touching the port.
    EXPECT_TRUE(m_com.Initialize(&set));
    EXPECT_TRUE(m_com.InitCOM(&set));
    EXPECT_EQ(m_com.Events().size(), 1u);
    EXPECT_STREQ(m_com.GetPortName(), "COM5");
    EXPECT_EQ(m_com.GetDevicePath(), m_pty.Name());
    EXPECT_FALSE(m_com.IsExit());
}

TEST_F(SerialTest, EveryChunkReachesOnRead)
{
    CCOMSet set = Settings(5, 115200);
    ASSERT_TRUE(m_com.Initialize(&set));
    m_com.Clear();
    ASSERT_TRUE(m_pty.Write("hello"));
    ASSERT_TRUE(m_com.WaitReceived("hello", 1000)) << m_com.Received();

    // Chunks at random spacing, with every byte value, arrive complete and
    // in order; one OnRead never carries more than 256 bytes.
    std::string expected = "hello";
    unsigned int seed = 12345;
    for (int i = 0; i < 20; ++i)
    {
        std::string chunk;
        int len = 1 + static_cast<int>(rand_r(&seed) % 40);
        for (int k = 0; k < len; ++k)
            chunk.push_back(static_cast<char>(rand_r(&seed) & 0xFF));
        ASSERT_TRUE(m_pty.Write(chunk));
        expected += chunk;
        std::this_thread::sleep_for(std::chrono::milliseconds(rand_r(&seed) % 40));
    }
    std::string all = AllBytes();
    ASSERT_TRUE(m_pty.Write(all + all + all + all));
    expected += all + all + all + all;
    ASSERT_TRUE(m_com.WaitReceived(expected, 3000)) << m_com.Received().size() << " of " << expected.size();
    for (const ReadEvent& e : m_com.Events())
    {
        EXPECT_LE(e.length, 256);
        EXPECT_GT(e.length, 0);
        EXPECT_EQ(e.status, 0);
    }
}

TEST_F(SerialTest, ReceiveLatencyIsBoundedByThePoll)
{
    CCOMSet set = Settings(5, 115200);
    ASSERT_TRUE(m_com.Initialize(&set));
    long long worst = 0;
    for (int i = 0; i < 10; ++i)
    {
        m_com.Clear();
        long long sent = NowMs();
        ASSERT_TRUE(m_pty.Write("z"));
        ASSERT_TRUE(m_com.WaitReceived("z", 1000));
        long long latency = m_com.Events()[0].atMs - sent;
        worst = std::max(worst, latency);
        std::this_thread::sleep_for(std::chrono::milliseconds(7 * i));
    }
    // 20 ms poll plus scheduling; the 100 ms read time-out never adds to it
    // (a reading thread returns as soon as a byte is there).
    EXPECT_LT(worst, 100);
}

TEST_F(SerialTest, SendDataReachesTheFarSide)
{
    CCOMSet set = Settings(5, 38400, 2, 8);
    ASSERT_TRUE(m_com.Initialize(&set));
    std::string all = AllBytes();
    EXPECT_EQ(m_com.SendData(all.data(), 256, 0), 256);
    EXPECT_EQ(m_pty.Read(256, 2000), all);
    const char req[8] = {0x01, 0x03, 0x00, 0x55, 0x00, 0x01, static_cast<char>(0x95), static_cast<char>(0xDA)};
    EXPECT_EQ(m_com.SendData(req, 8, 0), 8);
    EXPECT_EQ(m_pty.Read(8, 2000), std::string(req, 8));
    EXPECT_EQ(m_com.SendData(req, 0, 0), 0);
}

TEST_F(SerialTest, SendDataOnClosedChannelReturnsZero)
{
    EXPECT_EQ(m_com.SendData("abc", 3, 0), 0);
    CCOMSet set = Settings(5);
    ASSERT_TRUE(m_com.Initialize(&set));
    m_com.Uninitialize();
    EXPECT_EQ(m_com.SendData("abc", 3, 0), 0);
    EXPECT_EQ(m_pty.Read(1, 100), "");
}

TEST_F(SerialTest, ReadAndWriteErrorsWhenTheFarSideGoes)
{
    CCOMSet set = Settings(5);
    ASSERT_TRUE(m_com.Initialize(&set));
    ASSERT_TRUE(m_pty.Write("a"));
    ASSERT_TRUE(m_com.WaitReceived("a", 1000));
    testing::internal::CaptureStderr();
    m_pty.Close();                                  // master and the test's slave
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    int sent = m_com.SendData("abc", 3, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(sent, 0);
    EXPECT_NE(err.find("recv: "), std::string::npos) << err;
    EXPECT_NE(err.find("send_n: "), std::string::npos) << err;
    // A burst of read errors is reported once.
    size_t first = err.find("recv: ");
    EXPECT_EQ(err.find("recv: ", first + 1), std::string::npos) << err;
    // The channel stays "open" until its owner closes it.
    EXPECT_TRUE(m_com.GetStatus());
    EXPECT_EQ(m_com.SendData("abc", 3, 0), 0);
    m_com.Uninitialize();
    EXPECT_FALSE(m_com.GetStatus());
}

TEST_F(SerialTest, CloseAndReopen)
{
    CCOMSet set = Settings(5);
    ASSERT_TRUE(m_com.Initialize(&set));
    ASSERT_TRUE(m_pty.Write("one"));
    ASSERT_TRUE(m_com.WaitReceived("one", 1000));
    long long before = NowMs();
    m_com.Uninitialize();
    EXPECT_LT(NowMs() - before, 300);               // the thread ends within a pass
    EXPECT_TRUE(m_com.IsExit());
    EXPECT_FALSE(m_com.GetStatus());
    ASSERT_TRUE(m_pty.Write("lost"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(m_com.Received(), "one");

    ASSERT_TRUE(m_com.Initialize(&set));
    EXPECT_EQ(m_com.StatusEvents(), 2);
    EXPECT_FALSE(m_com.IsExit());
    ASSERT_TRUE(m_pty.Write("two"));
    ASSERT_TRUE(m_com.WaitReceived("onetwo", 1000)) << m_com.Received();
    EXPECT_EQ(m_com.SendData("back", 4, 0), 4);
    EXPECT_EQ(m_pty.Read(4, 1000), "back");
}

TEST_F(SerialTest, ReopenWithTheSameParitySettings)
{
    // The boot link reopens with even parity at every connection attempt; a
    // pseudo-terminal (the drive simulator) drops parity bits, which must not
    // make the second open fail.
    for (int parity = 0; parity <= 2; ++parity)
    {
        CCOMSet set = Settings(5, 9600, parity, parity == 1 ? 7 : 8);
        for (int round = 0; round < 3; ++round)
        {
            ASSERT_TRUE(m_com.Initialize(&set)) << "parity " << parity << " round " << round;
            EXPECT_EQ(m_com.SendData("p", 1, 0), 1);
            EXPECT_EQ(m_pty.Read(1, 1000), "p");
            m_com.Uninitialize();
        }
    }
    // Also when LinkCore holds the only descriptor of the slave.
    PtyPair alone;
    ASSERT_TRUE(alone.Open(false));
    alone.MapPort(8);
    CCOMSet set = Settings(8, 9600, 2, 8);
    TestCom com;
    for (int round = 0; round < 3; ++round)
    {
        ASSERT_TRUE(com.Initialize(&set)) << "round " << round;
        com.Uninitialize();
    }
    ::unsetenv("TORVANE_COM8");
}

TEST_F(SerialTest, OpenWithoutReceiveThread)
{
    CCOMSet set = Settings(5);
    ASSERT_TRUE(m_com.InitCOM(&set));
    EXPECT_EQ(m_com.StatusEvents(), 1);
    ASSERT_TRUE(m_pty.Write("xy"));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(m_com.Received(), "");                 // nobody reads
    EXPECT_EQ(m_com.Read(), 1);
    EXPECT_EQ(m_com.Received(), "xy");
    EXPECT_EQ(m_com.Read(), 0);                      // nothing there: 100 ms wait, 0
    m_com.UninitCOM();
    EXPECT_FALSE(m_com.GetStatus());
    EXPECT_EQ(m_com.Read(), 0);
}

TEST_F(SerialTest, PortNumbersNineAndTen)
{
    PtyPair ten;
    ASSERT_TRUE(ten.Open());
    m_pty.MapPort(9);
    ten.MapPort(10);
    TestCom nine;
    TestCom tenCom;
    CCOMSet s9 = Settings(9);
    CCOMSet s10 = Settings(10);
    ASSERT_TRUE(nine.Initialize(&s9));
    ASSERT_TRUE(tenCom.Initialize(&s10));
    EXPECT_STREQ(nine.GetPortName(), "COM9");
    EXPECT_STREQ(tenCom.GetPortName(), "\\\\.\\COM10");
    EXPECT_EQ(nine.GetDevicePath(), m_pty.Name());
    EXPECT_EQ(tenCom.GetDevicePath(), ten.Name());
    EXPECT_EQ(tenCom.SendData("10", 2, 0), 2);
    EXPECT_EQ(ten.Read(2, 1000), "10");
    nine.Uninitialize();
    tenCom.Uninitialize();
    ::unsetenv("TORVANE_COM9");
    ::unsetenv("TORVANE_COM10");
}

TEST_F(SerialTest, PortInUseCannotBeOpenedTwice)
{
    CCOMSet set = Settings(5);
    ASSERT_TRUE(m_com.Initialize(&set));
    CCOM probe;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(probe.InitCOM(&set));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("COM5: serial device " + m_pty.Name() + " is in use"), std::string::npos) << err;
    m_com.Uninitialize();
    EXPECT_TRUE(probe.InitCOM(&set));               // free again
    probe.UninitCOM();
}

TEST_F(SerialTest, HandleTimerReopensEveryTenthCall)
{
    CCOMSet set = Settings(5);
    ASSERT_TRUE(m_com.Initialize(&set));
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(m_com.HandleTimer(0));          // open: nothing to do
    EXPECT_EQ(m_com.StatusEvents(), 1);

    testing::internal::CaptureStderr();
    m_pty.Close();                                  // device lost
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    PtyPair second;
    ASSERT_TRUE(second.Open());
    second.MapPort(5);
    for (int i = 0; i < 9; ++i)
        m_com.HandleTimer(0);
    EXPECT_EQ(m_com.StatusEvents(), 1);
    m_com.HandleTimer(0);                           // the 10th call re-opens
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(m_com.StatusEvents(), 2);
    ASSERT_TRUE(second.Write("back"));
    EXPECT_TRUE(WaitFor([&] { return m_com.Received().find("back") != std::string::npos; }, 1000));
    m_com.Uninitialize();
}
