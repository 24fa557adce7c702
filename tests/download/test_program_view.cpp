// The download view against the simulated drive: lists and their refill
// rules, the button table, model check and simple check with their
// messages, the saved selection and the restore of an interrupted download,
// and the language texts that must not touch the package chooser.
#include "ProgramViewTestUtil.h"

#include "ControlIds.h"
#include "ModeSwitch.h"
#include "Workbook.h"

#include <QLineEdit>
#include <QTest>

using namespace pvtest;
namespace text = modeswitch::text;

namespace {

QStringList Items(QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

}  // namespace

TEST_F(ViewTest, OpensWithChecksOffAndFillsListsFromThePackage)
{
    StartApp();
    OpenView();
    EXPECT_EQ(view_->SeriesList()->count(), 0);
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_MODEL_CHECK));
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_SIMPLE_CHECK));
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_TRUE(view_->Check(CDlgProgram::IDC_INIT_FILE)->isHidden());
    EXPECT_TRUE(view_->Button(CDlgProgram::IDC_NORMAL_CONNECT)->isHidden());
    // The chooser starts at the home folder, which opens nothing.
    EXPECT_TRUE(prompts_.messages.empty());

    OpenSamplePackage();
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
    EXPECT_EQ(Items(view_->SeriesList()), (QStringList{"TV380", "TV380E", "TV390"}));
    EXPECT_EQ(Items(view_->PowerList()), (QStringList{"0.75kW", "1.5kW", "2.2kW", "4.0kW"}));
    EXPECT_TRUE(Enabled(CDlgProgram::IDC_MODEL_CHECK));
    EXPECT_TRUE(Enabled(CDlgProgram::IDC_SIMPLE_CHECK));

    // A series chosen by the user lists every model's power, duplicates too.
    view_->SeriesList()->setCurrentIndex(2);
    view_->OnSeriesChanged(2);
    EXPECT_EQ(Items(view_->PowerList()), (QStringList{"1.5kW", "1.5kW"}));
    EXPECT_EQ(view_->Power(), L"1.5kW");
}

// The package opened last comes back with the view, unopened; Enter opens
// it (and opens it again after that).
TEST_F(ViewTest, LastPackageIsRememberedAndEnterOpensIt)
{
    StartApp();
    OpenView();
    OpenSamplePackage();
    EXPECT_EQ(ReadConfig(L"Package"), wtext::FromUtf8(SamplePackage()));
    delete view_;
    TheModelCatalogue().Clear();

    OpenView();
    EXPECT_EQ(view_->PackageChooser()->Text(), QString::fromStdString(SamplePackage()));
    EXPECT_EQ(view_->SeriesList()->count(), 0);
    QTest::keyClick(view_->PackageChooser()->Edit(), Qt::Key_Return);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Items(view_->SeriesList()), (QStringList{"TV380", "TV380E", "TV390"}));
    EXPECT_TRUE(Enabled(CDlgProgram::IDC_MODEL_CHECK));

    view_->SeriesList()->setCurrentIndex(2);
    view_->OnSeriesChanged(2);
    QTest::keyClick(view_->PackageChooser()->Edit(), Qt::Key_Return);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(view_->Series(), L"TV380");
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
}

TEST_F(ViewTest, ButtonsFollowTheConnectionTable)
{
    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    using V = CDlgProgram;
    auto state = [this] {
        std::vector<bool> s;
        for (int id : {V::IDC_NORMAL_CONNECT, V::IDC_BOOT_CONNECT, V::IDC_SWITCH_BOOT, V::IDC_SWITCH_NORMAL,
                       V::IDC_DOWNLOAD, V::IDC_DOWNLOAD_DIRECT})
            s.push_back(Enabled(id));
        return s;
    };
    view_->UpdateButtons(false);
    EXPECT_EQ(state(), (std::vector<bool>{true, true, false, false, false, false}));
    ASSERT_TRUE(app_->ConnectNormal());
    view_->UpdateButtons(true);
    EXPECT_EQ(state(), (std::vector<bool>{false, true, true, false, false, false}));

    ASSERT_TRUE(view_->OnSwitchBoot());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{text::kSwitchedBoot});
    EXPECT_EQ(state(), (std::vector<bool>{true, false, false, true, false, false}));

    ASSERT_TRUE(view_->OnSwitchNormal());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages.back(), text::kSwitchedNormal);
    EXPECT_EQ(state(), (std::vector<bool>{false, true, true, false, false, false}));
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Normal);
}

TEST_F(ViewTest, ModelCheckEnablesDownloadAndAPowerChangeTakesItBack)
{
    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    ASSERT_EQ(view_->Power(), L"0.75kW");

    ASSERT_TRUE(view_->OnModelCheck());
    // Nothing else of the view can be used while the check runs.
    EXPECT_FALSE(view_->BusyText().isEmpty());
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_MODEL_CHECK));
    EXPECT_FALSE(view_->OnSimpleCheck());
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
    EXPECT_TRUE(view_->BusyText().isEmpty());

    EXPECT_TRUE(view_->ModelChecked());
    EXPECT_TRUE(app_->IsBootConnected());
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Boot);
    EXPECT_EQ(view_->DevicePartNumber(), "38000075");
    EXPECT_TRUE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD_DIRECT));
    EXPECT_TRUE(view_->DataFilesOption());
    EXPECT_TRUE(view_->ProgramFileOption());
    EXPECT_TRUE(view_->Check(CDlgProgram::IDC_DATA_FILES)->isChecked());
    EXPECT_TRUE(view_->Check(CDlgProgram::IDC_PROGRAM_FILE)->isEnabled());
    EXPECT_NE(view_->Paths().codeFile.find(L"/Program/ProgramFile/code/TV380_APP_V124.bin"), std::wstring::npos);
    EXPECT_EQ(ReadConfig(L"Serial"), L"TV380");
    EXPECT_EQ(ReadConfig(L"ModelPN"), L"38000075");
    EXPECT_EQ(ReadConfig(L"Power"), L"0.75kW");

    SelectPower("1.5kW");
    EXPECT_FALSE(view_->ModelChecked());
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_FALSE(view_->Check(CDlgProgram::IDC_DATA_FILES)->isChecked());
    EXPECT_FALSE(view_->Check(CDlgProgram::IDC_DATA_FILES)->isEnabled());
}

TEST_F(ViewTest, MismatchedDriveIsRefusedAndReturnsToNormal)
{
    linktest::SimDrive drive(1, SampleDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    SelectPower("1.5kW");
    ASSERT_TRUE(view_->OnModelCheck());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{L"Device is Mismatched. Serial:TV380 \n  PN: 38000075"});
    EXPECT_FALSE(view_->ModelChecked());
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    // The failed check took the drive back to its application.
    EXPECT_TRUE(app_->IsNormalConnected());
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Normal);
    EXPECT_EQ(drive.sim().modeWord(), 0x0065);
}

TEST_F(ViewTest, OldBootloaderCannotTakeTheProgram)
{
    drivesim::SimOptions o = SampleDrive();
    o.bootLine.baud = 9600;  // as --old-bootloader
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    ASSERT_TRUE(view_->OnModelCheck());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{text::kBootTooOld});
    EXPECT_FALSE(view_->ModelChecked());
    EXPECT_FALSE(view_->DataFilesOption());
    EXPECT_FALSE(view_->ProgramFileOption());
    for (int id : {CDlgProgram::IDC_DATA_FILES, CDlgProgram::IDC_PROGRAM_FILE}) {
        EXPECT_FALSE(view_->Check(id)->isChecked());
        EXPECT_FALSE(view_->Check(id)->isEnabled());
    }
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_EQ(ReadConfig(L"Serial"), L"");  // nothing kept of a refused check
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Normal);
}

TEST_F(ViewTest, NoDriveAtAll)
{
    linktest::SilentPort port(1);
    StartApp();
    OpenView();
    OpenSamplePackage();
    ASSERT_TRUE(view_->OnModelCheck());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{text::kConnectDeviceFailed});
    EXPECT_FALSE(view_->ModelChecked());
}

TEST_F(ViewTest, SimpleCheckWithOnlyTheCodeFileMissing)
{
    StartApp();
    OpenView();
    OpenSamplePackage();
    const fs::path code = fs::path(folder_) / "Program/ProgramFile/code/TV380_APP_V124.bin";
    ASSERT_TRUE(fs::remove(code));
    ASSERT_TRUE(view_->OnSimpleCheck());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{L"File is missing:code file"});
    EXPECT_FALSE(view_->FilesChecked());
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD_DIRECT));
    EXPECT_TRUE(view_->DataFilesOption());
    EXPECT_TRUE(view_->Check(CDlgProgram::IDC_DATA_FILES)->isEnabled());
    EXPECT_FALSE(view_->Check(CDlgProgram::IDC_PROGRAM_FILE)->isEnabled());

    // With every file there, Download Direct is offered without a drive.
    view_->SeriesList()->setCurrentIndex(1);
    view_->OnSeriesChanged(1);
    prompts_.messages.clear();
    ASSERT_TRUE(view_->OnSimpleCheck());
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
    EXPECT_TRUE(view_->FilesChecked());
    EXPECT_TRUE(Enabled(CDlgProgram::IDC_DOWNLOAD_DIRECT));
}

TEST_F(ViewTest, SimpleCheckWithoutModel)
{
    StartApp();
    OpenView();
    OpenSamplePackage();
    view_->PowerList()->addItem(QStringLiteral("99kW"));
    SelectPower("99kW");
    ASSERT_TRUE(view_->OnSimpleCheck());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{L"Device info error, Serial:TV380 Power:99kW"});
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD_DIRECT));
}

TEST_F(ViewTest, InterruptedDownloadRestoresTheSelectionWithoutACheck)
{
    WriteConfig(L"COM", L"Download", L"1");
    WriteConfig(L"COM", L"Serial", L"TV380");
    WriteConfig(L"COM", L"ModelPN", L"38000150");
    WriteConfig(L"COM", L"Power", L"1.5kW");
    drivesim::SimOptions o = SampleDrive();
    o.startMode = drivesim::Mode::Boot;
    o.partNumber = "38000150";  // the drive the download was for
    o.faults.push_back({drivesim::FaultKind::ModeWord0081, drivesim::defaultFaultSetting(drivesim::FaultKind::ModeWord0081)});
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    // 0081 stays, but no longer pinned: a "0065" sent to it would change it.
    drive.sim().clearFault(drivesim::FaultKind::ModeWord0081);
    StartApp();
    OpenView();
    OpenSamplePackage();
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
    EXPECT_TRUE(app_->IsBootConnected());
    EXPECT_TRUE(view_->ModelChecked());
    EXPECT_TRUE(Enabled(CDlgProgram::IDC_DOWNLOAD));
    EXPECT_EQ(view_->SeriesList()->currentText(), QStringLiteral("TV380"));
    EXPECT_EQ(view_->PowerList()->currentText(), QStringLiteral("1.5kW"));
    EXPECT_EQ(view_->DevicePartNumber(), "38000150");
    EXPECT_NE(view_->Paths().dataFile.find(L"TV380_PD_1R5.bin"), std::wstring::npos);
    EXPECT_TRUE(view_->DataFilesOption());

    // The drive refuses to leave its bootloader while the download is open.
    ASSERT_TRUE(view_->OnSwitchNormal());
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{text::kDeviceDownloading});
    EXPECT_EQ(drive.sim().modeWord(), 0x0081);
    EXPECT_EQ(drive.sim().mode(), drivesim::Mode::Boot);
}

TEST_F(ViewTest, InterruptedDownloadOfAnUnknownModel)
{
    WriteConfig(L"COM", L"Download", L"1");
    WriteConfig(L"COM", L"Serial", L"TV380");
    WriteConfig(L"COM", L"ModelPN", L"99999999");
    WriteConfig(L"COM", L"Power", L"1.5kW");
    drivesim::SimOptions o = SampleDrive();
    o.startMode = drivesim::Mode::Boot;
    o.partNumber = "99999999";
    linktest::SimDrive drive(1, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    StartApp();
    OpenView();
    OpenSamplePackage();
    EXPECT_EQ(prompts_.messages, std::vector<std::wstring>{L"Device info error:TV380  99999999  1.5kW"});
    EXPECT_FALSE(view_->ModelChecked());
    EXPECT_FALSE(Enabled(CDlgProgram::IDC_DOWNLOAD));
}

TEST_F(ViewTest, LanguageTextsLeaveThePackageChooserAlone)
{
    // A language table that gives 1084 and 1085 captions of another dialog.
    xls::Book* book = xlCreateBookW();
    ASSERT_NE(book, nullptr);
    xls::Sheet* s = book->addSheet(L"Sheet1");
    int row = 1;
    for (auto [id, en, zh] : {std::tuple<int, const wchar_t*, const wchar_t*>{1084, L"Read Para", L"\u8bfb"},
                              {1085, L"Write Para", L"\u5199"},
                              {2024, L"Check the model", L"\u68c0\u67e5"}}) {
        s->writeNum(row, 0, id);
        s->writeStr(row, 2, en);
        s->writeStr(row, 3, zh);
        ++row;
    }
    fs::create_directories(fs::path(folder_) / "Language");
    ASSERT_TRUE(book->save((Folder() + L"Language/language.xls").c_str()));
    book->release();

    StartApp();
    OpenView();
    OpenSamplePackage();
    const QString package = view_->PackageChooser()->Text();
    prompts_.messages.clear();
    view_->ApplyLanguageTexts();
    EXPECT_EQ(view_->Button(CDlgProgram::IDC_MODEL_CHECK)->text(), QStringLiteral("Check the model"));
    EXPECT_EQ(view_->PackageChooser()->Text(), package);
    EXPECT_TRUE(prompts_.messages.empty()) << Messages();
    auto* initPath = qobject_cast<QLineEdit*>(FindCtrl(view_, CDlgProgram::IDC_INIT_PATH));
    ASSERT_NE(initPath, nullptr);
    EXPECT_NE(initPath->text(), QStringLiteral("Write Para"));
}
