// Drives on the network, over loopback, as the program connects to them: the
// register link and monitor sweeps through ser2net in front of a simulated
// drive (tcp://), port texts that cannot work, and no boot link through a
// Modbus TCP gateway. (RegMaster's Modbus TCP framing and a server that goes
// away mid-batch: tests/regmaster/test_regmaster_tcp.cpp.)
#include "CCOM.h"
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "LinkTestUtil.h"
#include "ModbusGateway.h"
#include "NetTestUtil.h"
#include "RealTimeSampler.h"
#include "RegMaster.h"

#include <gtest/gtest.h>

#include <atomic>

using linktest::RecordingPrompts;
using nettest::Gateway;
using nettest::StderrLines;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

uint16_t Word(const uint8_t v[2]) { return static_cast<uint16_t>(v[0] | (v[1] << 8)); }

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
        StderrLines log("COM3");
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
