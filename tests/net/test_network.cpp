// Drives on the network, over loopback: the register link and monitor sweeps
// through ser2net in front of a simulated drive (tcp://), through a Modbus TCP
// server made with libmodbus (mbtcp://), a server that goes away in the middle
// of a batch, and port texts that cannot work.
#include "CCOM.h"
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "LinkTestUtil.h"
#include "NetTestUtil.h"
#include "RealTimeSampler.h"
#include "RegMaster.h"

#include <gtest/gtest.h>
#include <modbus.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include <atomic>
#include <mutex>
#include <sstream>
#include <thread>

using linktest::RecordingPrompts;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

uint16_t Word(const uint8_t v[2]) { return static_cast<uint16_t>(v[0] | (v[1] << 8)); }

// The link's diagnostic lines about port COM3 (the channel says there why a
// port failed or went away), from every thread: standard error is caught in
// a file meanwhile.
class CapturedLog {
public:
    CapturedLog()
    {
        std::fflush(stderr);
        path_ = linktest::WorkDir() + "/stderr-" + std::to_string(++count_);
        saved_ = ::dup(2);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~CapturedLog()
    {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    std::vector<std::string> Lines()
    {
        std::fflush(stderr);
        std::vector<std::string> out;
        std::istringstream in(linktest::ReadFile(path_));
        for (std::string l; std::getline(in, l);)
            if (l.find("COM3") != std::string::npos) out.push_back(l.substr(l.find("COM3")));
        return out;
    }

private:
    static inline int count_ = 0;
    std::string path_;
    int saved_ = -1;
};

// A Modbus TCP gateway with one drive behind it (unit 1), made of libmodbus's
// TCP server: holding registers 0 to 99; requests to another unit get the
// gateway's exception 0x0B. It can be told to stay silent, to hold a request
// and answer it only after the next one, and to drop the connection after a
// number of requests (then accept the next one).
class Gateway {
public:
    static constexpr int kUnit = 1;

    Gateway()
    {
        port_ = nettest::FreeLoopbackPort();
        ctx_ = modbus_new_tcp("127.0.0.1", port_);
        map_ = modbus_mapping_new(0, 0, 100, 0);
        listen_ = ctx_ ? modbus_tcp_listen(ctx_, 1) : -1;
        if (listen_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~Gateway()
    {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
        }
        if (thread_.joinable()) thread_.join();
        if (listen_ >= 0) ::close(listen_);
        modbus_mapping_free(map_);
        modbus_free(ctx_);
    }
    bool ok() const { return listen_ >= 0; }
    std::string Url() const { return "mbtcp://127.0.0.1:" + std::to_string(port_); }
    void Set(int reg, uint16_t v) { map_->tab_registers[reg] = v; }
    uint16_t Get(int reg) const { return map_->tab_registers[reg]; }

    std::atomic<bool> silent{false};
    std::atomic<bool> holdNext{false};
    std::atomic<int> closeAfter{-1};   // drop the connection after this many more requests
    std::atomic<int> requests{0};
    std::atomic<int> connections{0};

private:
    void Run()
    {
        while (!stop_) {
            int s = modbus_tcp_accept(ctx_, &listen_);
            if (s < 0) return;
            {
                std::lock_guard<std::mutex> lock(mu_);
                client_ = s;
            }
            ++connections;
            Serve();
            std::lock_guard<std::mutex> lock(mu_);
            ::close(client_);
            client_ = -1;
        }
    }
    void Serve()
    {
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        uint8_t held[MODBUS_TCP_MAX_ADU_LENGTH];
        int heldLength = 0;
        for (;;) {
            const int n = modbus_receive(ctx_, query);
            if (n < 0) return;
            if (n == 0) continue;
            ++requests;
            if (closeAfter >= 0 && closeAfter-- == 0) return;
            if (silent) continue;
            if (holdNext.exchange(false)) {
                std::copy(query, query + n, held);
                heldLength = n;
                continue;
            }
            if (heldLength > 0) {
                modbus_reply(ctx_, held, heldLength, map_);   // late, with its own transaction id
                heldLength = 0;
            }
            if (query[6] != kUnit)
                modbus_reply_exception(ctx_, query, MODBUS_EXCEPTION_GATEWAY_TARGET);
            else
                modbus_reply(ctx_, query, n, map_);
        }
    }

    int port_ = 0;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    int listen_ = -1;
    int client_ = -1;
    std::mutex mu_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class NetworkPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        linktest::UnmapAllPorts();
        folder_ = linktest::NewFolder("net");
        link_ = std::make_unique<DeviceConnection>(W(folder_), &prompts_);
        prompts_.Attach(link_.get());
        link_->SetStoreOnConnect(false);
        link_->settings().COMID = L"3";
        link_->settings().OutTime = L"300";
    }
    void TearDown() override { link_.reset(); }

    bool Read(uint16_t reg, uint16_t* word, uint8_t* err, uint8_t station = 1)
    {
        uint8_t v[2] = {0, 0};
        *err = 0;
        const bool ok = ModbusPort().ProcRead(station, reg, v, err);
        *word = Word(v);
        return ok;
    }
    bool Write(uint16_t reg, uint16_t word, uint8_t* err)
    {
        uint8_t v[2] = {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)};
        *err = 0;
        return ModbusPort().ProcWrite(1, reg, v, err);
    }

    std::string folder_;
    RecordingPrompts prompts_;
    std::unique_ptr<DeviceConnection> link_;
};

}  // namespace

TEST_F(NetworkPort, RegisterLinkThroughASerialDeviceServer)
{
    linktest::SimDrive drive(9, linktest::NormalDrive(38400));
    ASSERT_TRUE(drive.ok()) << drive.error();
    nettest::Ser2net server(folder_, drive.sim().options().linkPath, "38400e81");
    ASSERT_TRUE(server.ok()) << server.error();
    linktest::MapPort(3, server.Url());
    // The device server fixes the line: the program's own baud rate and
    // parity do not reach the drive.
    link_->settings().bautRate = L"9600";
    link_->settings().Parity = L"0,NONE,\u65e0";

    ASSERT_TRUE(link_->ConnectNormal());
    // RTU frames pass unchanged; the reply time-out grows by the network's share.
    EXPECT_EQ(GetModbus()->GetFraming(), REGMASTER_FRAMING_RTU);
    EXPECT_GE(GetModbus()->GetReplyAllowance(), LINK_NET_MIN_ALLOWANCE_MS);
    EXPECT_EQ(link_->StatusTexts().port, L"COM3," + W(server.Url()));
    uint16_t word = 0;
    uint8_t err = 0;
    ASSERT_TRUE(Read(0x032B, &word, &err)) << int(err);
    EXPECT_EQ(word, 'T' | ('V' << 8));
    ASSERT_TRUE(Write(0x0003, 4321, &err)) << int(err);
    uint16_t held = 0;
    ASSERT_TRUE(drive.sim().readRegister(0x0003, &held));
    EXPECT_EQ(held, 4321);
    ASSERT_TRUE(Read(0x0003, &word, &err));
    EXPECT_EQ(word, 4321);

    // Monitor sweeps, as the sampling thread makes them during a log.
    monitor::SlotPlans slots;
    slots[0].read = slots[1].read = true;
    slots[0].record.address = 0x0003 + 1;
    slots[1].record.address = 0x032B + 1;
    std::atomic<bool> logging{true};
    monitor::SamplingControl control;
    monitor::CRealTimeSampler sampler(ModbusPort(), 1, slots, logging, control, {});
    for (int i = 0; i < 3; ++i) {
        monitor::Sweep sweep;
        ASSERT_TRUE(sampler.SweepOnce(&sweep));
        EXPECT_TRUE(sweep[0].valid && sweep[1].valid);
        EXPECT_EQ(sweep[0].value, 4321);
    }
}

TEST_F(NetworkPort, ModbusTcpGatewayMatchesEveryReplyToItsRequest)
{
    Gateway gw;
    ASSERT_TRUE(gw.ok());
    linktest::MapPort(3, gw.Url());
    for (int r = 0; r < 100; ++r) gw.Set(r, static_cast<uint16_t>(1000 + r));
    ASSERT_TRUE(link_->ConnectNormal());   // the presence test's write echoed
    EXPECT_EQ(GetModbus()->GetFraming(), REGMASTER_FRAMING_TCP);

    uint16_t word = 0;
    uint8_t err = 0;
    ASSERT_TRUE(Read(10, &word, &err));
    EXPECT_EQ(word, 1010);
    ASSERT_TRUE(Write(20, 0xBEEF, &err));
    EXPECT_EQ(gw.Get(20), 0xBEEF);

    // Exceptions: a register outside the map, a unit the gateway cannot reach.
    EXPECT_FALSE(Read(200, &word, &err));
    EXPECT_EQ(err, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    EXPECT_FALSE(Read(10, &word, &err, 7));
    EXPECT_EQ(err, MODBUS_EXCEPTION_GATEWAY_TARGET);

    // A silent server is a time-out.
    gw.silent = true;
    EXPECT_FALSE(Read(10, &word, &err));
    EXPECT_EQ(err, 0xFF);
    gw.silent = false;

    // The reply to a request that gave up comes just before the next one's:
    // its transaction id is not the outstanding one, so it is dropped.
    gw.holdNext = true;
    EXPECT_FALSE(Read(11, &word, &err));
    EXPECT_EQ(err, 0xFF);
    const long dropped = GetModbus()->GetUnmatchedCount();
    ASSERT_TRUE(Read(12, &word, &err));
    EXPECT_EQ(word, 1012);
    EXPECT_EQ(GetModbus()->GetUnmatchedCount(), dropped + 1);
}

TEST_F(NetworkPort, ServerClosingMidBatchIsALostLinkAndReconnectWorks)
{
    Gateway gw;
    ASSERT_TRUE(gw.ok());
    linktest::MapPort(3, gw.Url());
    CapturedLog log;
    ASSERT_TRUE(link_->ConnectNormal());
    gw.closeAfter = 3;
    int done = 0;
    uint16_t word = 0;
    uint8_t err = 0;
    for (int i = 0; i < 6; ++i) done += Read(static_cast<uint16_t>(i), &word, &err) ? 1 : 0;
    EXPECT_EQ(done, 3);
    EXPECT_EQ(err, 0xFF);
    // Said once, as a serial device that vanished is.
    ASSERT_TRUE(linktest::WaitFor([&] { return !log.Lines().empty(); }, 2000));
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(lines.front(), "COM3: " + gw.Url() + ": connection closed by the server");

    // The next connection attempt opens a new connection and works.
    ASSERT_TRUE(link_->ConnectNormal());
    ASSERT_TRUE(Read(5, &word, &err));
    EXPECT_EQ(gw.connections.load(), 2);
}

TEST_F(NetworkPort, BadPortTextsFailAtOnceWithOneMessageEach)
{
    const std::string refused = "tcp://127.0.0.1:" + std::to_string(nettest::FreeLoopbackPort());
    const struct {
        std::string text, says;
    } cases[] = {
        {"tcp://127.0.0.1", "write tcp://HOST:PORT"},
        {"udp://127.0.0.1:502", "network ports are tcp://HOST:PORT or mbtcp://HOST:PORT"},
        {"mbtcp://127.0.0.1:70000", "the TCP port must be 1 to 65535"},
        {"tcp://no-such-host.invalid:4001", "host no-such-host.invalid not found"},
        {refused, "connection refused"},
    };
    for (const auto& c : cases) {
        linktest::MapPort(3, c.text);
        CapturedLog log;
        EXPECT_FALSE(link_->ConnectNormal()) << c.text;
        const std::vector<std::string> lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u) << c.text;
        EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
    }
}

TEST_F(NetworkPort, NoBootloaderThroughAModbusGateway)
{
    Gateway gw;
    ASSERT_TRUE(gw.ok());
    linktest::MapPort(3, gw.Url());
    EXPECT_FALSE(link_->ConnectBoot());
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_NE(prompts_.messages[0].find(L"COM3 is a Modbus TCP gateway (" + W(gw.Url()) + L")"), std::wstring::npos);
    EXPECT_EQ(gw.connections.load(), 0);
    EXPECT_FALSE(link_->bootLink().IsOpen());
}
