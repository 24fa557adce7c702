// The download view never leaves a drive half-flashed while saying it is
// fine: the retry after a failed or cancelled flash, a second package, the
// resume of an interrupted download on the right drive only, the direct
// download of another model, and a re-powered half-flashed drive.
#include "ProgramViewTestUtil.h"

#include "Crc.h"
#include "DlgProgess.h"
#include "DownloadSequence.h"
#include "DownloadState.h"
#include "ModeSwitch.h"
#include "ProgramPackage.h"

#include <fstream>
#include <iterator>

using namespace pvtest;
namespace text = modeswitch::text;

namespace {

const wchar_t* const kSuccess = L"The program is downloaded successfully.";

std::vector<uint8_t> ImageBytes(const std::string& relative)
{
    std::ifstream in(SampleImages() + "/" + relative, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
std::vector<uint8_t> SampleCode() { return drivesim::xmodemWireImage(ImageBytes("code/TV380_APP_V124.bin")); }

class DownloadFaults : public ViewTest {
protected:
    void ModelCheck()
    {
        ASSERT_TRUE(view_->OnModelCheck());
        ASSERT_TRUE(WaitIdle());
        ASSERT_TRUE(view_->ModelChecked()) << Messages();
    }
    void Press(int id)
    {
        ASSERT_TRUE(Enabled(id));
        view_->Button(id)->click();
        ASSERT_TRUE(WaitIdle(120000));
    }
    // A drive found in its bootloader after a flash download broke off: mode
    // word "0081" (no longer pinned) and an erased flash.
    static drivesim::SimOptions HalfFlashedDrive(const std::string& folder)
    {
        const std::string flash = folder + "erased-flash.bin";
        std::ofstream(flash, std::ios::binary) << std::string(1024 * 1024, '\xFF');
        drivesim::SimOptions o = SampleDrive();
        o.flashFile = flash;
        o.startMode.reset();  // powers up as its memories say
        return o;
    }
    static void MarkDownloading(drivesim::Simulator& sim)
    {
        sim.setFault(drivesim::FaultKind::ModeWord0081);
        sim.clearFault(drivesim::FaultKind::ModeWord0081);
    }
    // Restarts the program (the drive stays as it is).
    void Restart()
    {
        delete view_;
        view_ = nullptr;
        app_.reset();
        prompts_.messages.clear();
        prompts_.questions.clear();
        prompts_.defaults.clear();
        StartApp();
        OpenView();
    }
};

}  // namespace

// A flash block refused three times, "Yes" to the question, Download again:
// the retry writes the program file (or refuses without it) and never marks
// normal start-up over an erased flash.
TEST_F(DownloadFaults, RetryAfterAFailedFlashWritesTheProgramAgain)
{
    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    ModelCheck();
    ASSERT_TRUE(drive.sim().setFault("nak-block=40"));
    Press(CDlgProgram::IDC_DOWNLOAD);
    drive.sim().clearFaults();
    ASSERT_EQ(prompts_.messages, std::vector<std::wstring>{CDownloadSequence::kFlashBlockFailed});
    EXPECT_EQ(prompts_.questions, std::vector<std::wstring>{CDownloadSequence::kQuestion});
    EXPECT_FALSE(drive.sim().applicationValid());
    EXPECT_EQ(drive.sim().modeWord(), 0x0081);

    // Closing the program now warns, No the default.
    prompts_.answer = false;
    EXPECT_FALSE(view_->ConfirmClose());
    EXPECT_EQ(prompts_.questions.back(), CDownloadState::kCloseWithIncompleteProgram);
    EXPECT_FALSE(prompts_.defaults.back());
    prompts_.answer = true;

    // Without the program file the view says why and nothing starts.
    prompts_.messages.clear();
    view_->Check(CDlgProgram::IDC_PROGRAM_FILE)->setChecked(false);
    view_->Button(CDlgProgram::IDC_DOWNLOAD)->click();
    EXPECT_FALSE(view_->Busy());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{CDownloadState::kProgramRequired});
    EXPECT_EQ(drive.sim().modeWord(), 0x0081);

    // With it, the second press completes the drive.
    prompts_.messages.clear();
    view_->Check(CDlgProgram::IDC_PROGRAM_FILE)->setChecked(true);
    Press(CDlgProgram::IDC_DOWNLOAD);
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{kSuccess});
    EXPECT_EQ(drive.sim().flash(0x08008000, SampleCode().size()), SampleCode());
    EXPECT_EQ(drive.sim().modeWord(), 0x0065);
    EXPECT_TRUE(drive.sim().waitForMode(drivesim::Mode::Normal, 5000));
    EXPECT_EQ(ReadConfig(L"Download"), L"0");
    const size_t asked = prompts_.questions.size();
    EXPECT_TRUE(view_->ConfirmClose());
    EXPECT_EQ(prompts_.questions.size(), asked);
}

// Cancel during the flash, then Download again without a restart.
TEST_F(DownloadFaults, RetryAfterACancelledFlashCompletesTheDrive)
{
    drivesim::SimOptions o = SampleDrive();
    o.pace = true;  // the flash image takes seconds at 38400 baud
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    ModelCheck();
    view_->Button(CDlgProgram::IDC_DOWNLOAD)->click();
    ASSERT_TRUE(uitest::PumpUntil([&] { return drive.sim().stats().blocksAcked > 20; }, 60000));
    ASSERT_NE(view_->Progress(), nullptr);
    view_->Progress()->cancelButton()->click();
    ASSERT_TRUE(WaitIdle(60000));
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].rfind(CDownloadSequence::kCancelled, 0), 0u) << prompts_.messages[0];
    EXPECT_NE(prompts_.messages[0].find(L"press Download to resume it"), std::wstring::npos);
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Boot);

    prompts_.messages.clear();
    Press(CDlgProgram::IDC_DOWNLOAD);
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{kSuccess});
    EXPECT_EQ(drive.sim().flash(0x08008000, SampleCode().size()), SampleCode());
    EXPECT_TRUE(drive.sim().waitForMode(drivesim::Mode::Normal, 5000));
}

// A second package voids the check of the first and leaves none of its
// files behind; what is flashed then is the second package's.
TEST_F(DownloadFaults, DownloadAfterASecondPackageFlashesOnlyItsFiles)
{
    // The second package: the sample's files with another application image
    // and without the calibration files.
    const fs::path source = fs::path(folder_) / "second";
    fs::copy(SampleImages(), source, fs::copy_options::recursive);
    fs::remove_all(source / "calibration");
    std::string code(12345, '\0');
    for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<char>((i * 31 + 7) % 251);
    code = drivesim::flash::withLengthStamp(code);
    std::ofstream(source / "code" / "TV380_APP_V124.bin", std::ios::binary | std::ios::trunc) << code;
    const std::string second = folder_ + "second.vkr";
    ASSERT_EQ(MakePackage(source.wstring(), wtext::FromUtf8(second)), package::kMakeOk);
    ASSERT_TRUE(InvertPackageFile(wtext::FromUtf8(second)));

    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    ModelCheck();
    ASSERT_TRUE(Enabled(CDlgProgram::IDC_DOWNLOAD));

    OpenPackageFile(second);
    EXPECT_FALSE(view_->ModelChecked());
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_FALSE(fs::exists(fs::path(folder_) / "Program/ProgramFile/calibration"));

    prompts_.messages.clear();
    ModelCheck();
    // No calibration file: the data files cannot go, the program file can.
    EXPECT_FALSE(view_->DataFilesOption());
    EXPECT_TRUE(view_->ProgramFileOption());
    Press(CDlgProgram::IDC_DOWNLOAD);
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{kSuccess});
    const std::vector<uint8_t> wire = drivesim::xmodemWireImage(std::vector<uint8_t>(code.begin(), code.end()));
    EXPECT_EQ(drive.sim().flash(0x08008000, wire.size()), wire);
    std::ifstream in(folder_ + "download_log.txt");
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("package: " + second), std::string::npos) << log;
}

// A direct download broken off is resumed after a restart with its model;
// another drive on the line is refused, both part numbers named.
TEST_F(DownloadFaults, ResumeOfADirectDownloadOnlyOnItsDrive)
{
    drivesim::SimOptions o = SampleDrive();
    o.pace = true;
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    ASSERT_TRUE(view_->OnSimpleCheck());
    ASSERT_TRUE(WaitIdle());
    view_->Button(CDlgProgram::IDC_DOWNLOAD_DIRECT)->click();
    ASSERT_TRUE(view_->Busy()) << Messages();
    ASSERT_TRUE(uitest::PumpUntil([&] { return drive.sim().stats().blocksAcked > 20; }, 60000));
    view_->Progress()->cancelButton()->click();
    ASSERT_TRUE(WaitIdle(60000));
    EXPECT_EQ(ReadConfig(L"Download"), L"1");
    EXPECT_EQ(ReadConfig(L"ModelPN"), L"38000075");

    Restart();
    OpenSamplePackage();
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
    ASSERT_TRUE(view_->ModelChecked());
    Press(CDlgProgram::IDC_DOWNLOAD);
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{kSuccess});
    EXPECT_EQ(drive.sim().flash(0x08008000, SampleCode().size()), SampleCode());
}

TEST_F(DownloadFaults, ResumeWithAnotherDriveConnectedIsRefused)
{
    WriteConfig(L"COM", L"Download", L"1");
    WriteConfig(L"COM", L"Serial", L"TV380");
    WriteConfig(L"COM", L"ModelPN", L"38000150");
    WriteConfig(L"COM", L"Power", L"1.5kW");
    linktest::SimDrive drive(1, HalfFlashedDrive(folder_));
    ASSERT_TRUE(drive.ok()) << drive.error();
    MarkDownloading(drive.sim());
    StartApp();
    OpenView();
    OpenSamplePackage();
    EXPECT_EQ(prompts_.messages,
              std::vector<std::wstring>{L"The drive reports PN 38000075; the interrupted download was for PN "
                                        L"38000150. Connect that drive to resume the download."});
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_EQ(drive.sim().ee(153, 8), std::vector<uint8_t>({'3', '8', '0', '0', '0', '0', '7', '5'}));
}

// The recovery route asks before it writes another model's images.
TEST_F(DownloadFaults, DirectDownloadOfAnotherPowerAsksFirst)
{
    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    SelectPower("1.5kW");
    ASSERT_TRUE(view_->OnSimpleCheck());
    ASSERT_TRUE(WaitIdle());
    prompts_.answer = false;
    view_->Button(CDlgProgram::IDC_DOWNLOAD_DIRECT)->click();
    // The connection runs on the worker: the click returns before it.
    EXPECT_TRUE(view_->Busy());
    EXPECT_EQ(drive.sim().stats().bootRequests, 0);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(drive.sim().stats().bootRequests, 1);
    EXPECT_EQ(prompts_.questions, std::vector<std::wstring>{L"The drive reports PN 38000075 (0.75kW); the selected "
                                                            L"model is 1.5kW. Download anyway?"});
    EXPECT_EQ(prompts_.defaults, std::vector<bool>{false});
    EXPECT_EQ(drive.sim().stats().blocksAcked, 0);
    EXPECT_EQ(drive.sim().ee(153, 8), std::vector<uint8_t>({'3', '8', '0', '0', '0', '0', '7', '5'}));
}

// A half-flashed drive powered up again: Model Check names it and Download
// completes it.
TEST_F(DownloadFaults, ARepoweredHalfFlashedDriveIsCompletedByDownload)
{
    linktest::SimDrive drive(1, HalfFlashedDrive(folder_));
    ASSERT_TRUE(drive.ok()) << drive.error();
    MarkDownloading(drive.sim());
    ASSERT_EQ(drive.sim().mode(), drivesim::Mode::Boot);
    StartApp();
    OpenView();
    OpenSamplePackage();
    ModelCheck();
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{CDownloadState::kIncompleteProgram});
    EXPECT_TRUE(view_->ProgramFileOption());
    prompts_.messages.clear();
    Press(CDlgProgram::IDC_DOWNLOAD);
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{kSuccess});
    EXPECT_EQ(drive.sim().flash(0x08008000, SampleCode().size()), SampleCode());
    EXPECT_TRUE(drive.sim().waitForMode(drivesim::Mode::Normal, 5000));
}

// A small package with a huge entry is refused within the caps, leaves
// nothing behind, and is extracted off the GUI thread.
TEST_F(DownloadFaults, ADeflateBombIsRefusedWhileTheWindowStaysResponsive)
{
    const fs::path source = fs::path(folder_) / "bomb";
    fs::copy(SampleImages(), source, fs::copy_options::recursive);
    std::ofstream(source / "code" / "TV380_APP_V124.bin", std::ios::binary | std::ios::trunc)
        << std::string(package::kMaxEntryBytes + 1, '\0');
    const std::string bomb = folder_ + "bomb.vkr";
    ASSERT_EQ(MakePackage(source.wstring(), wtext::FromUtf8(bomb)), package::kMakeOk);
    ASSERT_TRUE(InvertPackageFile(wtext::FromUtf8(bomb)));
    fs::remove_all(source);
    EXPECT_LT(fs::file_size(bomb), 200000u);

    StartApp();
    OpenView();
    view_->PackageChooser()->SetText(QString::fromStdString(bomb));
    EXPECT_TRUE(view_->Busy());  // on the worker; the event loop goes on
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{package::kDecompressionFailedText});
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_MODEL_CHECK));
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_SIMPLE_CHECK));
    EXPECT_FALSE(fs::exists(fs::path(folder_) / "Program/ProgramFile"));
}

// Cancel in a check's progress dialog stops the check at its next step.
TEST_F(DownloadFaults, CancelStopsAModelCheck)
{
    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    ASSERT_TRUE(view_->OnModelCheck());
    ASSERT_NE(view_->Progress(), nullptr);
    view_->Progress()->cancelButton()->click();
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(view_->ModelChecked());
    EXPECT_EQ(drive.sim().stats().bootRequests, 0);
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Normal);
}
