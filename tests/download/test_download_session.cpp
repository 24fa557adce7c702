// Whole sessions with the download view as a user has them: model check and
// download of the sample package into the simulated drive, a download
// cancelled and resumed after a restart of the program, and the main window
// while a download runs.
#include "ProgramViewTestUtil.h"

#include "Crc.h"
#include "DeviceViewPane.h"
#include "DevicePlugins.h"
#include "DlgProgess.h"
#include "DownloadSequence.h"
#include "MainFrame.h"
#include "MainFrameCommands.h"
#include "ParamTable.h"
#include "ShellViews.h"
#include "ViewFactory.h"

#include <QLineEdit>
#include <QTest>

#include <fstream>
#include <iterator>

using namespace pvtest;

namespace {

std::vector<uint8_t> ImageBytes(const std::string& relative)
{
    std::ifstream in(SampleImages() + "/" + relative, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const wchar_t* const kSuccess = L"The program is downloaded successfully.";

class SessionTest : public ViewTest {
protected:
    // Model check of the sample drive (TV380, 0.75 kW), then Download.
    void CheckAndDownload()
    {
        ASSERT_TRUE(view_->OnModelCheck());
        ASSERT_TRUE(WaitIdle());
        ASSERT_TRUE(view_->ModelChecked()) << Messages();
        ASSERT_TRUE(Enabled(CDlgProgram::IDC_DOWNLOAD));
        view_->Button(CDlgProgram::IDC_DOWNLOAD)->click();
        ASSERT_TRUE(view_->Busy());
        EXPECT_EQ(view_->BusyText(), QString::fromWCharArray(CDlgProgram::kDownloadRunning));
    }
};

}  // namespace

TEST_F(SessionTest, ModelCheckAndDownloadFlashTheDrive)
{
    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Normal);
    CheckAndDownload();
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_SWITCH_NORMAL));  // nothing else while it runs
    ASSERT_TRUE(WaitIdle(120000));
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{kSuccess});
    EXPECT_TRUE(prompts_.questions.empty());

    // What the package holds is in the drive.
    const std::vector<uint8_t> code = drivesim::xmodemWireImage(ImageBytes("code/TV380_APP_V124.bin"));
    EXPECT_EQ(drive.sim().flash(0x08008000, code.size()), code);
    const std::vector<uint8_t> data = drivesim::xmodemWireImage(ImageBytes("data/TV380_PD_0R75.bin"));
    EXPECT_EQ(drive.sim().ee(128, data.size()), data);
    EXPECT_EQ(drive.sim().modeWord(), 0x0065);
    EXPECT_EQ(ReadConfig(L"Download"), L"0");

    // Back in its application, answering the register link.
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Normal);
    EXPECT_TRUE(app_->IsNormalConnected());
    uint8_t value[2] = {0, 0};
    uint8_t err = 0;
    EXPECT_TRUE(ModbusPort().ProcRead(1, 0x032B, value, &err));
    EXPECT_EQ(value[0], 'T');
    EXPECT_EQ(value[1], 'V');

    // The package is used up: checks wait for the next one.
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_MODEL_CHECK));
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_FALSE(view_->Check(CDlgProgram::IDC_DATA_FILES)->isChecked());
    EXPECT_FALSE(fs::exists(fs::path(folder_) / "Program" / "ProgramFile"));
    // Enter in the package field opens it again for the next drive.
    QTest::keyClick(view_->PackageChooser()->Edit(), Qt::Key_Return);
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(Enabled(CDlgProgram::IDC_MODEL_CHECK));
    EXPECT_TRUE(fs::exists(fs::path(folder_) / "Program" / "ProgramFile"));
}

TEST_F(SessionTest, CancelledDownloadIsResumedAfterARestart)
{
    drivesim::SimOptions o = SampleDrive();
    o.pace = true;  // the flash image takes seconds at 38400 baud
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    CheckAndDownload();
    // Cancel once the flash image is on its way.
    ASSERT_TRUE(uitest::PumpUntil([&] { return drive.sim().modeWord() == 0x0081; }, 60000));
    ASSERT_NE(view_->Progress(), nullptr);
    view_->Progress()->cancelButton()->click();
    ASSERT_TRUE(WaitIdle(60000));
    EXPECT_EQ(prompts_.questions, std::vector<std::wstring>{CDownloadSequence::kQuestion});
    EXPECT_EQ(ReadConfig(L"Download"), L"1");
    EXPECT_EQ(drive.sim().modeWord(), 0x0081);

    // The program ends and starts again; the drive stays in its bootloader.
    delete view_;
    view_ = nullptr;
    app_.reset();
    prompts_.messages.clear();
    prompts_.questions.clear();
    StartApp();
    OpenView();
    OpenSamplePackage();
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
    EXPECT_TRUE(view_->ModelChecked());
    ASSERT_TRUE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    view_->Button(CDlgProgram::IDC_DOWNLOAD)->click();
    ASSERT_TRUE(WaitIdle(120000));
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{kSuccess});
    EXPECT_EQ(ReadConfig(L"Download"), L"0");
    EXPECT_EQ(drive.sim().modeWord(), 0x0065);
    const std::vector<uint8_t> code = drivesim::xmodemWireImage(ImageBytes("code/TV380_APP_V124.bin"));
    EXPECT_EQ(drive.sim().flash(0x08008000, code.size()), code);
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Normal);
}

TEST_F(SessionTest, MainWindowKeepsAwayWhileTheDownloadRuns)
{
    // The sample program folder's language and parameter files, so the tree
    // has its items.
    for (const char* sub : {"Language", "Parameter"})
        fs::copy(SampleProgramDir() + sub, fs::path(folder_) / sub, fs::copy_options::recursive);
    drivesim::SimOptions o = SampleDrive();
    o.pace = true;
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();

    ParamTable table;
    CViewFactory views;
    RegisterBuiltViews(views);
    language_ = std::make_unique<LanguageTables>(Folder());
    app_ = std::make_unique<CTorvaneApp>(Folder(), language_.get());
    app_->SetPrompts(&linkPrompts_);
    app_->SetMainWindowFactory([&](CTorvaneApp& a) -> std::unique_ptr<CMainWindowHost> {
        MainFrameOptions mo;
        mo.layoutPath = QString::fromStdString(folder_ + "Torvane.xml");
        mo.profilePath = Folder() + L"profile.ini";
        mo.table = &table;
        mo.views = &views;
        return std::make_unique<CMainFrame>(a, mo);
    });
    SetProgramPrompts(&prompts_);
    ASSERT_TRUE(app_->InitInstance(true));
    auto* frame = dynamic_cast<CMainFrame*>(app_->MainWindow());
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(frame->DevicePane()->SelectNumber(DT_PROGRAM_ROOT));
    auto* view = dynamic_cast<CDlgProgram*>(frame->CurrentView());
    ASSERT_NE(view, nullptr);
    view->PackageChooser()->SetText(QString::fromStdString(SamplePackage()));
    ASSERT_TRUE(uitest::PumpUntil([&] { return !view->Busy(); }, 60000));
    ASSERT_TRUE(view->OnModelCheck());
    ASSERT_TRUE(uitest::PumpUntil([&] { return !view->Busy(); }, 60000));
    ASSERT_TRUE(view->ModelChecked()) << Messages();
    view->Button(CDlgProgram::IDC_DOWNLOAD)->click();
    ASSERT_TRUE(view->Busy());

    const std::wstring running = CDlgProgram::kDownloadRunning;
    frame->OnCommand(ID_DISCONNECT);
    frame->OnCommand(ID_LANGUAGE_CHINESE);
    EXPECT_TRUE(frame->DevicePane()->SelectNumber(10001));
    EXPECT_EQ(frame->CurrentView(), view);
    EXPECT_EQ(linkPrompts_.messages, (std::vector<std::wstring>{running, running, running}));
    EXPECT_TRUE(app_->IsBootConnected());

    // Closing asks first; No keeps the program and the download going.
    prompts_.answer = false;
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(prompts_.questions, std::vector<std::wstring>{CDlgProgram::kCancelQuestion});
    EXPECT_EQ(prompts_.defaults, std::vector<bool>{false});
    EXPECT_TRUE(view->Busy());
    // Yes cancels it; the window closes once the run has stopped.
    ASSERT_TRUE(uitest::PumpUntil([&] { return drive.sim().modeWord() == 0x0081; }, 60000));
    prompts_.answer = true;
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(frame->CurrentView(), nullptr);
    EXPECT_EQ(ReadConfig(L"Download"), L"1");  // to be resumed at the next start
    SetProgramPrompts(nullptr);
    app_.reset();  // the frame goes before its table and views
}
