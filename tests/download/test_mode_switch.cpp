// The drive identity reads, the boot request and the two switches of the
// download view, against the simulated drive, without the view.
#include "ProgramViewTestUtil.h"

#include "ModeSwitch.h"
#ifdef TORVANE_TEST_MODBUS_GATEWAY
#include "ModbusGateway.h"
#endif

using namespace pvtest;

namespace {

class Recorder : public CModeSwitchPrompts {
public:
    void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
    void Step(int n) override { steps += n; }
    std::vector<std::wstring> messages;
    int steps = 0;
};

class ModeSwitchTest : public ViewTest {
protected:
    CModeSwitch Switch()
    {
        return CModeSwitch(app_->Connection(), recorder_, TheModelCatalogue(), Folder() + L"Program/", ConfigPath());
    }
    Recorder recorder_;
};

}  // namespace

TEST(ModeSwitchText, SeriesFromRegistersLowByteFirst)
{
    const uint16_t words[3] = {0x5958, 0x3231, 0x0000};
    EXPECT_EQ(modeswitch::SeriesFromRegisters(words), "XY12");
    const uint16_t six[3] = {0x5654, 0x3833, 0x4530};
    EXPECT_EQ(modeswitch::SeriesFromRegisters(six), "TV380E");
    const uint16_t early[3] = {0x0054, 0x3833, 0x4530};  // ends at the first zero byte
    EXPECT_EQ(modeswitch::SeriesFromRegisters(early), "T");
}

TEST(ModeSwitchText, PartNumberFromSixteenHexDigits)
{
    std::string pn;
    const std::string reply = "3132333435363738\r\nRedBoot> ";
    ASSERT_TRUE(modeswitch::PartNumberFromReply(reinterpret_cast<const unsigned char*>(reply.data()),
                                                static_cast<int>(reply.size()), &pn));
    EXPECT_EQ(pn, "12345678");
    const std::string shortPn = "3339000000000000\r\n";  // "39", then zero bytes
    ASSERT_TRUE(modeswitch::PartNumberFromReply(reinterpret_cast<const unsigned char*>(shortPn.data()),
                                                static_cast<int>(shortPn.size()), &pn));
    EXPECT_EQ(pn, "39");
    // Seven bytes are no answer; neither is a reply that is not hex digits.
    const std::string seven = "3132333";
    EXPECT_FALSE(modeswitch::PartNumberFromReply(reinterpret_cast<const unsigned char*>(seven.data()), 7, &pn));
    const std::string error = "** Error: EE is locked\r\n";
    EXPECT_FALSE(modeswitch::PartNumberFromReply(reinterpret_cast<const unsigned char*>(error.data()),
                                                 static_cast<int>(error.size()), &pn));
}

TEST(ModeSwitchText, FormatAndBootRequestValues)
{
    EXPECT_EQ(modeswitch::Format(modeswitch::text::kDeviceInfoErrorFormat, {L"TV380", L"38000075", L"0.75kW"}),
              L"Device info error:TV380  38000075  0.75kW");
    const std::string folder = linktest::NewFolder("bootrequest");
    const std::wstring ini = wtext::FromUtf8(folder) + L"config.ini";
    modeswitch::BootRequestValues v = modeswitch::LoadBootRequest(ini);
    EXPECT_EQ(v.code, 0x5AA5);
    EXPECT_EQ(v.key, modeswitch::bootrequest::kDefaultKey);
    PrivateProfileWriteString(L"BootRequest", L"Code", L"0x1234", ini);
    PrivateProfileWriteString(L"BootRequest", L"Key", L"0x12345", ini);  // too big: the default
    v = modeswitch::LoadBootRequest(ini);
    EXPECT_EQ(v.code, 0x1234);
    EXPECT_EQ(v.key, modeswitch::bootrequest::kDefaultKey);
}

TEST_F(ModeSwitchTest, ReadsSeriesRegistersAndPartNumber)
{
    drivesim::SimOptions o = SampleDrive();
    o.series = "XY12";
    o.partNumber = "12345678";
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    uint16_t reg = 0;
    ASSERT_TRUE(drive.sim().readRegister(0x032B, &reg));
    EXPECT_EQ(reg, 0x5958);
    ASSERT_TRUE(app_->ConnectNormal());
    CModeSwitch sw = Switch();
    EXPECT_EQ(sw.ReadSeries(), "XY12");
    std::string pn;
    EXPECT_FALSE(sw.ReadPartNumber(&pn));  // no boot link: fails at once
    ASSERT_TRUE(sw.BootRequestAndConnect());
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Boot);
    EXPECT_EQ(drive.sim().stats().bootRequests, 1);
    ASSERT_TRUE(sw.ReadPartNumber(&pn));
    EXPECT_EQ(pn, "12345678");
    EXPECT_EQ(sw.ReadModeWord(), modeswitch::ModeWord::NotDownloading);
    EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(ModeSwitchTest, BootRequestUsesTheConfiguredValues)
{
    // The drive and the program agree on other values: the request works.
    WriteConfig(L"BootRequest", L"Code", L"0x1111");
    WriteConfig(L"BootRequest", L"Key", L"0x2222");
    drivesim::SimOptions o = SampleDrive();
    o.bootRequest = {0x1111, 0x2222};
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    CModeSwitch sw = Switch();
    sw.SwitchToBoot();
    EXPECT_EQ(recorder_.messages, std::vector<std::wstring>{modeswitch::text::kSwitchedBoot});
    EXPECT_TRUE(app_->IsBootConnected());

    sw.SwitchToNormal();
    EXPECT_EQ(recorder_.messages.back(), modeswitch::text::kSwitchedNormal);
    EXPECT_TRUE(app_->IsNormalConnected());
    EXPECT_EQ(drive.sim().modeWord(), 0x0065);
}

TEST_F(ModeSwitchTest, SwitchToNormalRefusedWhileDownloading)
{
    drivesim::SimOptions o = SampleDrive();
    o.startMode = drivesim::Mode::Boot;
    o.faults.push_back({drivesim::FaultKind::ModeWord0081, drivesim::defaultFaultSetting(drivesim::FaultKind::ModeWord0081)});
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    // The word stays 0081 but is no longer pinned: a "0065" would change it.
    drive.sim().clearFault(drivesim::FaultKind::ModeWord0081);
    StartApp();
    const long resetsBefore = drive.sim().stats().resets;
    CModeSwitch sw = Switch();
    sw.SwitchToNormal();
    EXPECT_EQ(recorder_.messages, std::vector<std::wstring>{modeswitch::text::kDeviceDownloading});
    EXPECT_EQ(drive.sim().modeWord(), 0x0081);
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Boot);
    EXPECT_EQ(drive.sim().stats().resets, resetsBefore);
    EXPECT_TRUE(app_->IsBootConnected());
}

TEST_F(ModeSwitchTest, SwitchToBootWithoutDriveSaysNothing)
{
    linktest::SilentPort port(1);
    StartApp();
    CModeSwitch sw = Switch();
    sw.SwitchToBoot();
    EXPECT_TRUE(recorder_.messages.empty());
    EXPECT_FALSE(app_->IsBootConnected());
}

#ifdef TORVANE_TEST_MODBUS_GATEWAY
// Behind a Modbus TCP gateway the bootloader cannot be reached: the model
// check stops before anything is written, so the drive is never sent into a
// bootloader the program could not talk to.
TEST_F(ModeSwitchTest, ModelCheckThroughAModbusGatewayIsRefusedBeforeTheBootRequest)
{
    nettest::Gateway gw;
    ASSERT_TRUE(gw.ok());
    linktest::MapPort(1, gw.Url());
    StartApp();
    ASSERT_TRUE(app_->Connection().ConnectNormal());
    const int before = gw.requests.load();
    CModeSwitch sw = Switch();
    EXPECT_FALSE(sw.ModelCheck(L"TV380", L"0.75kW").ok);
    EXPECT_EQ(gw.requests.load(), before);
    ASSERT_EQ(linkPrompts_.messages.size(), 1u);
    EXPECT_EQ(linkPrompts_.messages[0].find(L"COM1 is a Modbus TCP gateway (" + wtext::FromUtf8(gw.Url()) + L")"), 0u);
    EXPECT_FALSE(app_->IsBootConnected());
}
#endif

TEST(ModeSwitchText, ModeWordNeedsFourHexDigits)
{
    using modeswitch::ModeWord;
    EXPECT_EQ(modeswitch::ModeWordFromReply("0081\r\nRedBoot> "), ModeWord::Downloading);
    EXPECT_EQ(modeswitch::ModeWordFromReply("0065\r\nRedBoot> "), ModeWord::NotDownloading);
    EXPECT_EQ(modeswitch::ModeWordFromReply(""), ModeWord::Unknown);
    EXPECT_EQ(modeswitch::ModeWordFromReply("RedBoot> "), ModeWord::Unknown);
    EXPECT_EQ(modeswitch::ModeWordFromReply("** Error: EE is locked\r\nRedBoot> "), ModeWord::Unknown);
}

// An unanswered mode-word read is no "not downloading": the drive stays in
// its bootloader, and the user is told why.
TEST_F(ModeSwitchTest, SwitchToNormalRefusedWhenTheModeWordIsUnanswered)
{
    drivesim::SimOptions o = SampleDrive();
    o.startMode = drivesim::Mode::Boot;
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    ASSERT_TRUE(app_->ConnectBoot());
    // Both tries of the read go unanswered (each line "...\n\n" gets two replies).
    ASSERT_TRUE(drive.sim().setFault("silence#4"));
    CModeSwitch sw = Switch();
    sw.SwitchToNormal();
    EXPECT_EQ(recorder_.messages, std::vector<std::wstring>{modeswitch::text::kModeWordUnknown});
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Boot);
    EXPECT_EQ(drive.sim().stats().resets, 0);
}

// config.ini "Download" = "1" keeps the drive in its bootloader even when
// its mode word says otherwise (the mark was lost on the way).
TEST_F(ModeSwitchTest, SwitchToNormalRefusedWhileConfigSaysDownloading)
{
    WriteConfig(L"COM", L"Download", L"1");
    drivesim::SimOptions o = SampleDrive();
    o.startMode = drivesim::Mode::Boot;
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    CModeSwitch sw = Switch();
    sw.SwitchToNormal();
    EXPECT_EQ(recorder_.messages, std::vector<std::wstring>{modeswitch::text::kDeviceDownloading});
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Boot);
    EXPECT_EQ(drive.sim().stats().resets, 0);
}

// A drive that takes longer to start its application than two presence
// tries last is still found after the reset.
TEST_F(ModeSwitchTest, SwitchToNormalWaitsForASlowRestart)
{
    drivesim::SimOptions o = SampleDrive();
    o.startMode = drivesim::Mode::Boot;
    o.bootSeconds = 1.5;
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    CModeSwitch sw = Switch();
    sw.SwitchToNormal();
    EXPECT_EQ(recorder_.messages, std::vector<std::wstring>{modeswitch::text::kSwitchedNormal});
    EXPECT_TRUE(app_->IsNormalConnected());
}
