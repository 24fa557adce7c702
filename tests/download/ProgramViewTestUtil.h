// Helpers of the download view tests: a program folder of their own with a
// config.ini for COM1, the sample package, the application object, recorded
// prompts and a simulated drive on COM1.
#pragma once

#include "DlgProgram.h"
#include "LanguageTables.h"
#include "LinkTestUtil.h"
#include "ModelCatalogue.h"
#include "PrivateProfile.h"
#include "ProgramPrompts.h"
#include "SmallControls.h"
#include "TorvaneApp.h"
#include "UiTestUtil.h"
#include "WideText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace pvtest {

namespace fs = std::filesystem;

inline const std::string& SampleProgramDir()
{
    static const std::string dir = TORVANE_SAMPLE_PROGRAM_DIR;
    return dir;
}
inline std::string SamplePackage() { return SampleProgramDir() + "Program/ProgramFile.vkr"; }
inline std::string SampleImages() { return std::string(TORVANE_SAMPLEDATA_DIR) + "/images"; }

// Messages and answers of the view.
class RecordingProgramPrompts : public CProgramPrompts {
public:
    void ShowMessage(QWidget*, const QString& text) override { messages.push_back(text.toStdWString()); }
    bool AskYesNo(QWidget*, const QString& text, bool defaultYes) override
    {
        questions.push_back(text.toStdWString());
        defaults.push_back(defaultYes);
        return answer;
    }
    std::vector<std::wstring> messages;
    std::vector<std::wstring> questions;
    std::vector<bool> defaults;  // the default button of each question: true for Yes
    bool answer = true;
};

// Options of the sample drive TV380 0.75 kW, normal mode at 9600 baud, its
// bootloader at 38400, restarting quickly.
inline drivesim::SimOptions SampleDrive()
{
    drivesim::SimOptions o = linktest::NormalDrive(9600);
    o.series = "TV380";
    o.partNumber = "38000075";
    o.bootSeconds = 0.1;
    o.boot.eraseSeconds = 0.2;
    return o;
}

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        linktest::UnmapAllPorts();
        TheModelCatalogue().Clear();
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = linktest::NewFolder(name);
        WriteConfig(L"COM", L"COMID", L"1");
        WriteConfig(L"COM", L"bautRate", L"9600");
        WriteConfig(L"COM", L"devAddr", L"1");
        WriteConfig(L"COM", L"OutTime", L"300");
        WriteConfig(L"COM", L"CmdBay", L"20");
    }
    void TearDown() override
    {
        delete view_;
        view_ = nullptr;
        app_.reset();
        language_.reset();
        TheModelCatalogue().Clear();
    }

    std::wstring Folder() const { return wtext::FromUtf8(folder_); }
    std::wstring ConfigPath() const { return Folder() + L"config.ini"; }
    void WriteConfig(const wchar_t* section, const wchar_t* key, const std::wstring& value)
    {
        PrivateProfileWriteString(section, key, value, ConfigPath());
    }
    std::wstring ReadConfig(const wchar_t* key) const
    {
        return PrivateProfileGetString(L"COM", key, L"", ConfigPath());
    }

    void StartApp()
    {
        language_ = std::make_unique<LanguageTables>(Folder());
        app_ = std::make_unique<CTorvaneApp>(Folder(), language_.get());
        app_->InitInstance(false);
        app_->SetPrompts(&linkPrompts_);
    }
    CDlgProgram* OpenView()
    {
        view_ = new CDlgProgram(nullptr);
        view_->SetPrompts(&prompts_);
        view_->show();
        return view_;
    }
    // Opens the sample package through the chooser, as the user picks it.
    void OpenSamplePackage() { OpenPackageFile(SamplePackage()); }
    // Opens a package through the chooser and waits for its extraction.
    void OpenPackageFile(const std::string& path)
    {
        view_->PackageChooser()->SetText(QString::fromStdString(path));
        ASSERT_TRUE(WaitIdle());
    }
    bool WaitIdle(int ms = 60000)
    {
        return uitest::PumpUntil([this] { return !view_->Busy(); }, ms);
    }
    bool Enabled(int id) const { return view_->Button(id)->isEnabled(); }
    bool HasMessage(const std::wstring& text) const
    {
        for (const std::wstring& m : prompts_.messages)
            if (m == text) return true;
        return false;
    }
    std::wstring Messages() const
    {
        std::wstring all;
        for (const std::wstring& m : prompts_.messages) all += L"[" + m + L"]";
        return all;
    }
    void SelectPower(const QString& power)
    {
        QComboBox* list = view_->PowerList();
        const int i = list->findText(power);
        ASSERT_GE(i, 0);
        list->setCurrentIndex(i);
        view_->OnPowerChanged(i);
    }

    std::string folder_;
    std::unique_ptr<LanguageTables> language_;
    std::unique_ptr<CTorvaneApp> app_;
    linktest::RecordingPrompts linkPrompts_;
    RecordingProgramPrompts prompts_;
    CDlgProgram* view_ = nullptr;
};

}  // namespace pvtest
