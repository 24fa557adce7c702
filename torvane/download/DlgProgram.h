// The firmware download view (dialog 150): the user opens a program package,
// picks the product series and power rating, checks that the connected drive
// matches (Model Check) or only that the package holds the files (Simple
// Check), moves the drive between its application and its bootloader, and
// starts the download.
//
// Checks and switches run on a worker thread with the progress dialog up, so
// the window stays responsive; their messages are shown on the GUI thread
// while the worker waits. While anything runs, the view's controls are
// disabled and the main window leaves the links alone (BusyText).
#pragma once

#include "DataDlg.h"
#include "DownloadSequence.h"
#include "DownloadState.h"
#include "ModeSwitch.h"

#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class CBrowseEdit;
class CProgramPrompts;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class CDlgProgram : public CDataDlg {
    Q_OBJECT
public:
    enum {
        IDD = 150,
        IDC_PACKAGE = 1084,
        IDC_SERIES = 1099,
        IDC_POWER = 1098,
        IDC_DATA_FILES = 2029,
        IDC_PROGRAM_FILE = 2030,
        IDC_INIT_FILE = 1004,
        IDC_MODEL_CHECK = 2024,
        IDC_DOWNLOAD = 2025,
        IDC_SIMPLE_CHECK = 2032,
        IDC_DOWNLOAD_DIRECT = 2031,
        IDC_SWITCH_BOOT = 2022,
        IDC_SWITCH_NORMAL = 2023,
        IDC_NORMAL_CONNECT = 2020,
        IDC_BOOT_CONNECT = 2021,
        IDC_DATA_PATH = 1081,
        IDC_CODE_PATH = 1083,
        IDC_INIT_PATH = 1085,
        IDC_LABEL_PACKAGE = 2026,
        IDC_LABEL_SERIES = 2027,
        IDC_LABEL_POWER = 2028,
        // The frame around the view's controls (its caption is translated).
        IDC_MAIN_BOX = 2110,
    };
    static const wchar_t* const kDownloadRunning;  // "A download is running"
    static const wchar_t* const kCheckRunning;     // "A drive check is running"
    static const wchar_t* const kCancelQuestion;
    static const wchar_t* const kDecompressionFailed;  // "Program file decompression failed!"   // asked when the program closes during a download

    explicit CDlgProgram(QWidget* parent = nullptr);
    ~CDlgProgram() override;

    // ---- CDataDlg ----
    void ApplyLanguageTexts() override;
    void UpdateButtons(bool normalConnected) override;
    void AuxWorker() override;    // a check or a mode switch
    void WriteWorker() override;  // the download
    QString BusyText() const override;
    bool StopForClose() override;
    // A drive this session left with an incomplete program: the user is
    // asked (default No) before the program goes.
    bool ConfirmClose() override;

    // ---- Commands ----
    void OnPackageChanged(const QString& text);
    void OnSeriesChanged(int index);
    void OnPowerChanged(int index);
    bool OnModelCheck();
    bool OnSimpleCheck();
    bool OnSwitchBoot();
    bool OnSwitchNormal();
    void OnDownload();
    void OnDownloadDirect();
    void OnNormalConnect();
    void OnBootConnect();

    // The folder the package is extracted into: the program folder + "Program/".
    const std::wstring& ProgramFolder() const { return programFolder_; }
    // A check, switch or download runs on the worker.
    bool Busy() const { return run_ != Run::None; }
    bool ModelChecked() const { return state_.ModelChecked(); }
    bool FilesChecked() const { return state_.FilesChecked(); }
    // The package, the checks, the drive and the last run.
    const CDownloadState& State() const { return state_; }
    const std::wstring& Series() const { return series_; }
    const std::wstring& Power() const { return power_; }
    const std::string& DevicePartNumber() const { return devicePartNumber_; }
    const PackageFilePaths& Paths() const { return state_.Paths(); }
    bool DataFilesOption() const { return dataOption_; }
    bool ProgramFileOption() const { return programOption_; }

    QPushButton* Button(int id) const;
    QCheckBox* Check(int id) const;
    QComboBox* SeriesList() const { return seriesList_; }
    QComboBox* PowerList() const { return powerList_; }
    CBrowseEdit* PackageChooser() const { return package_; }

    // Prompts of this view; null: ProgramPrompts().
    void SetPrompts(CProgramPrompts* prompts) { prompts_ = prompts; }

protected:
    void OnInitDialog() override;

private:
    enum class Run { None, Check, Download };
    enum class Job { None, OpenPackage, ModelCheck, SimpleCheck, SwitchBoot, SwitchNormal, BootForDownload, DirectDownload };
    class WorkerPrompts;
    class DownloadPrompts;

    CProgramPrompts& Prompts() const;
    void Message(const QString& text);
    QPushButton* AddButton(int id, const QString& caption, void (CDlgProgram::*handler)());
    // Fills the series list from the catalogue and the power list for the
    // first series (one entry per distinct power).
    void FillLists();
    void FillPowers(const std::wstring& series, bool distinct);
    void ClearOptions();
    void SetOptions(const modeswitch::PackageOptions& options);
    void ShowFieldValues();
    // Enables every control from its own state, all off while a run is on.
    void ApplyEnables();
    void SetEnabledState(int id, bool on);
    bool StartJob(Job job, int progressUpper);
    void FinishJob(std::function<void()> apply);
    // Runs fn on the GUI thread and waits for it; false (fn not run) when
    // the view goes or the program closes meanwhile.
    bool RunOnGui(const std::function<void()>& fn);
    // Starts the download worker with the progress dialog (the boot link is
    // open). False when it did not start.
    bool StartDownload();
    void ReadSavedSelection();
    // The download worker has ended: the state takes the outcome, and a
    // drive left with an incomplete program gets the options back that the
    // retry needs.
    void AfterRun(const DownloadOutcome& outcome);
    // The package named by the chooser was extracted on the worker (or not):
    // the lists, the checks and an interrupted download follow from it.
    // What the worker found when a package opened while a flash download
    // is to be resumed: the boot connection and the drive's part number.
    struct ResumeProbe {
        bool asked = false;
        bool connected = false;
        std::string partNumber;  // empty: not read
    };
    void PackageArrived(bool extracted, const PackageOpenReport& report, const ResumeProbe& probe);
    void RestoreInterruptedDownload(const ResumeProbe& probe);
    std::wstring ConfigPath() const;

    CProgramPrompts* prompts_ = nullptr;
    CBrowseEdit* package_ = nullptr;
    QComboBox* seriesList_ = nullptr;
    QComboBox* powerList_ = nullptr;
    std::map<int, QPushButton*> buttons_;
    std::map<int, QCheckBox*> checks_;
    std::map<int, QLineEdit*> pathEdits_;
    std::map<int, bool> enabled_;  // each control's own state, before a run disables it

    std::wstring programFolder_;
    std::wstring packagePath_;
    std::wstring series_;
    std::wstring power_;
    CDownloadState state_;
    std::string devicePartNumber_;
    bool dataOption_ = false;
    bool programOption_ = false;
    bool initOption_ = false;
    // What the running download writes, and the settings it reconnects with.
    DownloadJob download_;
    std::unique_ptr<ConnectionSettings> downloadSettings_;
    bool filling_ = false;  // lists being refilled: their notices do nothing

    Run run_ = Run::None;
    Job job_ = Job::None;
    std::wstring jobSeries_;
    std::wstring jobPower_;
    std::wstring jobPackage_;
    bool jobBothOptions_ = false;
    // Set when the view goes or the program closes: a worker no longer
    // waits for the GUI thread.
    std::atomic<bool> abandon_{false};
};
