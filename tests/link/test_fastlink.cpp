// The fast link ("FastLink" = 1 in config.ini): the register and boot links'
// receive threads wait for the port instead of polling it. Requests against
// the simulated drive must give the same results, exceptions and time-outs as
// with the setting off.
#include "ChannelSet.h"
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "LinkTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>

using linktest::NewFolder;
using linktest::ReadFile;
using linktest::RecordingPrompts;
using linktest::SimDrive;
using linktest::WriteFile;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(FastLinkSetting, AbsentMeansOffAndIsNotWrittenBack)
{
    const std::string dir = NewFolder("fast-absent");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=2\n");
    ConnectionSettings s(W(dir));
    s.Load();
    EXPECT_FALSE(s.FastLinkOn());
    ComCfgStruct cfg;
    cfg.byFastRecv = 7;
    s.FillRegisterLink(cfg);
    EXPECT_EQ(cfg.byFastRecv, 0);
    ASSERT_TRUE(s.Store());
    EXPECT_EQ(ReadFile(dir + "config.ini").find("FastLink"), std::string::npos);
}

TEST(FastLinkSetting, OnForBothLinks)
{
    const std::string dir = NewFolder("fast-on");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=2\nFastLink=1\n");
    ConnectionSettings s(W(dir));
    s.Load();
    EXPECT_TRUE(s.FastLinkOn());
    ComCfgStruct reg, boot;
    s.FillRegisterLink(reg);
    EXPECT_EQ(reg.byFastRecv, 1);
    s.bootBaud = L"38400";
    s.FillBootLink(boot);
    EXPECT_EQ(boot.byFastRecv, 1);
    // Anything but 1 is off, as a typo must not change how the link behaves.
    for (const wchar_t* text : {L"0", L"yes", L"2", L""}) {
        s.FastLink = text;
        EXPECT_FALSE(s.FastLinkOn()) << std::string(text, text + wcslen(text));
    }
    s.FastLink = L"1";
    ASSERT_TRUE(s.Store());
    EXPECT_NE(ReadFile(dir + "config.ini").find("FastLink=1"), std::string::npos);
}

// The same requests in both modes give the same answers.
class FastLinkRequests : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        linktest::UnmapAllPorts();
        folder_ = NewFolder(GetParam() ? "fast-req-on" : "fast-req-off");
        link_ = std::make_unique<DeviceConnection>(W(folder_), &prompts_);
        prompts_.Attach(link_.get());
        link_->settings().COMID = L"2";
        link_->settings().OutTime = L"400";
        link_->settings().FastLink = GetParam() ? L"1" : L"0";
    }
    void TearDown() override { link_.reset(); }

    bool Read(uint16_t reg, uint16_t* word, uint8_t* err)
    {
        uint8_t value[2] = {0, 0};
        *err = 0;
        const bool ok = ModbusPort().ProcRead(1, reg, value, err);
        *word = static_cast<uint16_t>(value[0] | (value[1] << 8));
        return ok;
    }

    std::string folder_;
    RecordingPrompts prompts_;
    std::unique_ptr<DeviceConnection> link_;
};

TEST_P(FastLinkRequests, ReadsWritesExceptionsAndTimeOutsAgainstTheDrive)
{
    SimDrive drive(2, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    ASSERT_TRUE(link_->ConnectNormal());
    EXPECT_EQ(link_->registerLink().settings().m_cfg.byFastRecv, GetParam() ? 1 : 0);
    ASSERT_TRUE(plugins::SetModbusOutTime(400));

    // Twenty parameters in a row, each equal to what the drive holds.
    for (uint16_t reg = 0x100; reg < 0x100 + 20; ++reg) {
        uint16_t want = 0;
        if (!drive.sim().readRegister(reg, &want)) continue;
        uint16_t got = 0;
        uint8_t err = 0;
        ASSERT_TRUE(Read(reg, &got, &err)) << std::hex << reg << " err " << int(err);
        EXPECT_EQ(got, want) << std::hex << reg;
    }

    // A write lands on the register.
    uint16_t before = 0;
    ASSERT_TRUE(drive.sim().readRegister(0x100, &before));
    uint8_t value[2] = {0x00, 0x05};
    uint8_t err = 0;
    EXPECT_TRUE(ModbusPort().ProcWrite(1, 0x100, value, &err)) << int(err);
    uint16_t after = 0;
    ASSERT_TRUE(drive.sim().readRegister(0x100, &after));
    EXPECT_EQ(after, 5);

    // An exception comes back as its code, without retries.
    drive.sim().setFault(drivesim::FaultKind::Exception, {true, 2, 0, 1});
    uint16_t word = 0;
    EXPECT_FALSE(Read(0x100, &word, &err));
    EXPECT_EQ(err, 2);

    // A reply in two-byte chunks 30 ms apart still completes.
    drive.sim().setFault(drivesim::FaultKind::Split, {true, 2, 30, 1});
    EXPECT_TRUE(Read(0x100, &word, &err)) << int(err);
    EXPECT_EQ(word, 5);

    // Silence is a time-out (0xFF); the next request is answered again.
    drive.sim().setFault(drivesim::FaultKind::Silence, {true, 0, 0, 1});
    EXPECT_FALSE(Read(0x100, &word, &err));
    EXPECT_EQ(err, 0xFF);
    EXPECT_TRUE(Read(0x100, &word, &err)) << int(err);
    EXPECT_EQ(word, 5);
}

TEST_P(FastLinkRequests, BootLinkExchangesGiveTheSameReplies)
{
    SimDrive drive(2, linktest::BootDrive(38400));
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->settings().OutTime = L"300";
    ASSERT_TRUE(link_->ConnectBoot());
    EXPECT_EQ(link_->bootLink().settings().m_cfg.byFastRecv, GetParam() ? 1 : 0);
    EXPECT_EQ(link_->settings().bootBaud, L"38400");
    EXPECT_NE(link_->bootVersion().find("VKR bootloader"), std::string::npos) << link_->bootVersion();
    // A whole reply line, gathered as before: the mode word read.
    unsigned char reply[256] = {};
    ASSERT_TRUE(link_->SendBootCommand("VKR pm read_ee -a 0x600 -l 2\n\n", reply));
    const std::string text(reinterpret_cast<const char*>(reply));
    const std::vector<uint8_t> word = drive.sim().ee(0x600, 2);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X%02X", word[0], word[1]);
    EXPECT_NE(text.find(hex), std::string::npos) << text;
    EXPECT_TRUE(prompts_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, FastLinkRequests, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Fast" : "Polling"; });

}  // namespace
