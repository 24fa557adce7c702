// Connecting to simulated drives on pseudo-terminals: normal mode, boot mode
// at both baud rates, the port search, a configured port and the failure
// paths with their messages.
#include "DeviceConnection.h"
#include "DevicePlugins.h"
#include "LinkTestUtil.h"

#include <gtest/gtest.h>

using linktest::NewFolder;
using linktest::ReadFile;
using linktest::RecordingPrompts;
using linktest::SilentPort;
using linktest::SimDrive;
using linktest::WriteFile;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class Connection : public ::testing::Test {
protected:
    void SetUp() override
    {
        linktest::UnmapAllPorts();
        folder_ = NewFolder("conn");
        link_ = std::make_unique<DeviceConnection>(W(folder_), &prompts_);
        prompts_.Attach(link_.get());
    }
    void TearDown() override { link_.reset(); }
    std::string Config() const { return ReadFile(folder_ + "config.ini"); }

    std::string folder_;
    RecordingPrompts prompts_;
    std::unique_ptr<DeviceConnection> link_;
};

}  // namespace

TEST_F(Connection, ConnectNormalFindsTheDriveAndStoresANewPort)
{
    SimDrive drive(2, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->settings().COMID = L"2";
    link_->settings().OutTime = L"300";
    ASSERT_TRUE(link_->ConnectNormal());
    EXPECT_TRUE(link_->normalConnected());
    EXPECT_FALSE(link_->bootConnected());
    EXPECT_TRUE(plugins::HaveModbus());
    EXPECT_GE(prompts_.statusUpdates, 1);
    EXPECT_EQ(link_->StatusTexts().mode, L"Noraml");
    // The stored COMID ("-1", no file) differed: all seven keys are written.
    const std::string cfg = Config();
    EXPECT_NE(cfg.find("COMID=2"), std::string::npos) << cfg;
    EXPECT_NE(cfg.find("OutTime=300"), std::string::npos) << cfg;
    EXPECT_TRUE(prompts_.messages.empty());

    // Disconnect closes the link: the register master instance goes.
    link_->Disconnect();
    EXPECT_FALSE(link_->normalConnected());
    EXPECT_FALSE(plugins::HaveModbus());
}

TEST_F(Connection, ParityComesFromTheFirstCharacterOfTheSetting)
{
    // A drive on odd parity: the pty carries the odd flag, so the simulator
    // hears only a link opened with parity number 1.
    drivesim::SimOptions o = linktest::NormalDrive();
    o.normalLine.parity = 'O';
    SimDrive drive(2, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->settings().COMID = L"2";
    link_->settings().OutTime = L"150";
    link_->settings().Parity = L"2,EVEN,\u5076";
    EXPECT_FALSE(link_->ConnectNormal());
    EXPECT_EQ(drive.sim().stats().requests, 0);
    link_->settings().Parity = L"1,ODD,\u5947";
    EXPECT_TRUE(link_->ConnectNormal());
}

TEST_F(Connection, ConnectNormalDoesNotRewriteAnUnchangedPort)
{
    SimDrive drive(3, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    WriteFile(folder_ + "config.ini", "[COM]\nCOMID=3\nOutTime=300\n");
    link_->LoadSettings();
    link_->settings().devAddr = L"1";
    ASSERT_TRUE(link_->ConnectNormal());
    EXPECT_EQ(Config(), "[COM]\nCOMID=3\nOutTime=300\n");
}

TEST_F(Connection, SilentDriveFailsAndTheLinkStaysOpenUntilDisconnect)
{
    SilentPort port(2);
    link_->settings().COMID = L"2";
    link_->settings().OutTime = L"100";
    EXPECT_FALSE(link_->ConnectNormal());
    EXPECT_FALSE(link_->normalConnected());
    EXPECT_TRUE(link_->registerLink().IsOpen());
    EXPECT_TRUE(prompts_.messages.empty());
    link_->Disconnect();
    EXPECT_FALSE(link_->registerLink().IsOpen());
    // Closing what is closed does nothing.
    link_->Disconnect();
    link_->registerLink().Close();
    EXPECT_FALSE(link_->registerLink().IsOpen());
}

TEST_F(Connection, ConnectNormalWithoutPortOpensTheSettingsDialogFirst)
{
    SimDrive drive(4, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    WriteFile(folder_ + "config.ini", "[COM]\nCOMID=4\nOutTime=300\n");
    // In memory no port is set; the dialog (here: reloading the file) sets it.
    link_->settings().COMID = L"-1";
    ASSERT_TRUE(link_->ConnectNormal());
    EXPECT_EQ(prompts_.settingsDialogs, 1);
    EXPECT_EQ(link_->settings().COMID, L"4");
}

TEST_F(Connection, ConnectBootFindsABootloaderAt38400AfterTrying9600)
{
    SimDrive drive(2, linktest::BootDrive(38400));
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->settings().COMID = L"2";
    link_->settings().OutTime = L"300";
    ASSERT_TRUE(link_->ConnectBoot());
    EXPECT_TRUE(link_->bootConnected());
    EXPECT_FALSE(link_->normalConnected());
    EXPECT_EQ(link_->settings().bootBaud, L"38400");
    EXPECT_NE(link_->bootVersion().find("VKR bootloader"), std::string::npos) << link_->bootVersion();
    const LinkStatusTexts t = link_->StatusTexts();
    EXPECT_EQ(t.mode, L"Boot");
    EXPECT_EQ(t.port, L"COM2,38400,8,2,EVEN");
    EXPECT_GT(drive.sim().stats().ignoredBytes, 0);  // the 9600 attempts went unheard
    EXPECT_TRUE(prompts_.messages.empty());
    EXPECT_FALSE(link_->registerLink().IsOpen());
}

TEST_F(Connection, OldBootloaderAnswersAt9600)
{
    SimDrive drive(2, linktest::BootDrive(9600));
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->settings().COMID = L"2";
    link_->settings().OutTime = L"300";
    ASSERT_TRUE(link_->ConnectBoot());
    EXPECT_EQ(link_->settings().bootBaud, L"9600");
}

TEST_F(Connection, BootPortThatCannotOpenIsReported)
{
    link_->settings().COMID = L"7";
    EXPECT_FALSE(link_->ConnectBoot());
    ASSERT_EQ(prompts_.messages.size(), 1u);
    // The fixed message, then why and what to do.
    EXPECT_EQ(prompts_.messages[0], L"COM7 is open failed.\nCOM7: serial device " + W(linktest::WorkDir()) +
                                        L"/no-such-port/COM7 not found; set TORVANE_COM7 or [Ports] COM7 in ports.ini");
    EXPECT_FALSE(link_->bootConnected());
}

TEST_F(Connection, SearchFindsTheOnePortThatIsADrive)
{
    SilentPort silent(2);
    SimDrive drive(3, linktest::NormalDrive(38400));
    ASSERT_TRUE(drive.ok()) << drive.error();
    SimDrive other(5, linktest::NormalDrive(9600));
    ASSERT_TRUE(other.ok()) << other.error();
    link_->SetSearchOutTime(L"100");

    ASSERT_TRUE(link_->AutoConnect());
    EXPECT_TRUE(link_->normalConnected());
    EXPECT_EQ(link_->settings().COMID, L"3");
    EXPECT_EQ(link_->settings().bautRate, L"38400");
    EXPECT_EQ(other.sim().stats().requests, 0);  // the search stopped at the first drive
    EXPECT_TRUE(prompts_.messages.empty());
    EXPECT_EQ(prompts_.settingsDialogs, 0);

    ConnectionSettings stored(W(folder_));
    stored.Load();
    EXPECT_EQ(stored.COMID, L"3");
    EXPECT_EQ(stored.bautRate, L"38400");
    EXPECT_EQ(stored.devAddr, L"1");
    EXPECT_EQ(stored.Parity, L"2,EVEN,\u5076");
}

TEST_F(Connection, SearchFallsBackToTheBootloader)
{
    SimDrive drive(4, linktest::BootDrive(38400));
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->SetSearchOutTime(L"100");
    ASSERT_TRUE(link_->AutoConnect());
    EXPECT_TRUE(link_->bootConnected());
    EXPECT_EQ(link_->settings().COMID, L"4");
    // Which boot baud rate wins is not asserted: bytes the bootloader sent
    // during the Modbus attempt at 38400 may still arrive at 9600, and any
    // reply counts as the bootloader's answer.
}

TEST_F(Connection, SearchWithoutAnyPortOpensTheSettingsDialog)
{
    link_->SetSearchOutTime(L"100");
    EXPECT_FALSE(link_->AutoConnect());
    EXPECT_EQ(prompts_.settingsDialogs, 1);
    EXPECT_TRUE(prompts_.messages.empty());
    EXPECT_FALSE(link_->normalConnected());
    EXPECT_FALSE(link_->bootConnected());
}

TEST_F(Connection, ConfiguredPortTriesOnlyItsBaudRateThenFails)
{
    // The drive runs at 19200; the configuration says 9600.
    SimDrive drive(3, linktest::NormalDrive(19200));
    ASSERT_TRUE(drive.ok()) << drive.error();
    WriteFile(folder_ + "config.ini", "[COM]\nCOMID=3\nbautRate=9600\nOutTime=100\n");
    EXPECT_FALSE(link_->AutoConnect());
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0],
              L"Device has failed to connect, Please check:\n 1. Device connection \n 2. Serial port settings");
    EXPECT_EQ(drive.sim().stats().requests, 0);  // 19200 was never tried
    EXPECT_GT(drive.sim().stats().ignoredBytes, 0);
    EXPECT_EQ(link_->settings().bautRate, L"9600");
    EXPECT_EQ(prompts_.settingsDialogs, 0);
}

TEST_F(Connection, ConfiguredPortConnectsInNormalMode)
{
    SimDrive drive(6, linktest::NormalDrive(19200));
    ASSERT_TRUE(drive.ok()) << drive.error();
    WriteFile(folder_ + "config.ini", "[COM]\nCOMID=6\nbautRate=19200\nOutTime=300\n");
    ASSERT_TRUE(link_->AutoConnect());
    EXPECT_TRUE(link_->normalConnected());
    EXPECT_EQ(link_->StatusTexts().port, L"COM6,19200,8,2,EVEN");
}

TEST_F(Connection, EveryAttemptClosesTheOtherLink)
{
    SimDrive drive(2, linktest::BootDrive(38400));
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->settings().COMID = L"2";
    link_->settings().OutTime = L"100";
    ASSERT_TRUE(link_->ConnectBoot());
    EXPECT_TRUE(link_->bootLink().IsOpen());
    EXPECT_FALSE(link_->ConnectNormal());  // a bootloader does not answer Modbus
    EXPECT_FALSE(link_->bootLink().IsOpen());
    EXPECT_FALSE(link_->bootConnected());
    EXPECT_FALSE(plugins::HaveXModem());
}

// Connect after Disconnect reopens the port at unchanged settings (on a pty
// the kernel drops the parity-enable flag, which the reopen must survive).
TEST_F(Connection, ReconnectAfterDisconnectAtTheSameSettings)
{
    SimDrive drive(2, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    link_->settings().COMID = L"2";
    link_->settings().OutTime = L"300";
    ASSERT_TRUE(link_->ConnectNormal());
    link_->Disconnect();
    EXPECT_TRUE(link_->ConnectNormal());
    EXPECT_TRUE(prompts_.messages.empty());
}
