#include "DlgProgram.h"

#include "ControlIds.h"
#include "DlgProgess.h"
#include "DownloadSequence.h"
#include "LanguageTables.h"
#include "ModelCatalogue.h"
#include "PrivateProfile.h"
#include "ProgramPrompts.h"
#include "SmallControls.h"
#include "TorvaneApp.h"
#include "WideText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <condition_variable>

namespace {

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }
QString Q(const wchar_t* s) { return QString::fromWCharArray(s); }
std::wstring W(const QString& s) { return s.toStdWString(); }

bool NormalConnected() { return TheApp() && TheApp()->IsNormalConnected(); }
bool BootConnected() { return TheApp() && TheApp()->IsBootConnected(); }

// Controls whose identifier the language table may share with a caption of
// another dialog: they hold paths, not captions.
bool HoldsPath(int id)
{
    return id == CDlgProgram::IDC_PACKAGE || id == CDlgProgram::IDC_DATA_PATH ||
           id == CDlgProgram::IDC_CODE_PATH || id == CDlgProgram::IDC_INIT_PATH;
}

}  // namespace

const wchar_t* const CDlgProgram::kDownloadRunning = L"A download is running";
const wchar_t* const CDlgProgram::kCheckRunning = L"A drive check is running";
const wchar_t* const CDlgProgram::kCancelQuestion =
    L"A download is running. Cancel it and close the program?";

// The worker's side of the prompts: messages wait for the user on the GUI
// thread; progress posts never wait.
class CDlgProgram::WorkerPrompts : public CModeSwitchPrompts {
public:
    explicit WorkerPrompts(CDlgProgram& view) : view_(view) {}
    void ShowMessage(const std::wstring& text) override
    {
        CDlgProgram* v = &view_;
        view_.RunOnGui([v, text] { v->Prompts().ShowMessage(v, Q(text)); });
    }
    bool AskDefaultNo(const std::wstring& text) override
    {
        auto answer = std::make_shared<bool>(false);
        CDlgProgram* v = &view_;
        view_.RunOnGui([v, text, answer] { *answer = v->Prompts().AskYesNo(v, Q(text), false); });
        return *answer;
    }
    void Step(int n) override { view_.PostProgressStep(n); }
    // The progress dialog's cancel clears the running flag.
    bool Cancelled() const override { return !view_.IsRunning(); }

private:
    CDlgProgram& view_;
};

CDlgProgram::CDlgProgram(QWidget* parent) : CDataDlg(parent)
{
    SetCtrlId(this, IDD);
    const std::wstring appFolder = TheApp() ? TheApp()->ProgramDir() : std::wstring();
    programFolder_ = PackageProgramFolder(appFolder);

    auto* outer = new QVBoxLayout(this);
    auto* main = new QGroupBox(QStringLiteral("Program Download..."), this);
    SetCtrlId(main, IDC_MAIN_BOX);
    outer->addWidget(main);
    outer->addStretch(1);
    auto* grid = new QGridLayout(main);

    auto label = [&](int id, const wchar_t* caption, int row) {
        auto* l = new QLabel(Q(caption), main);
        SetCtrlId(l, id);
        grid->addWidget(l, row, 0);
    };
    label(IDC_LABEL_PACKAGE, L"\u9009\u62e9\u7a0b\u5e8f\u5305:", 0);
    package_ = new CBrowseEdit(main);
    SetCtrlId(package_, IDC_PACKAGE);
    package_->SetMode(CBrowseEdit::Mode::File);
    package_->SetFilter(QStringLiteral("VKR Package(*.vkr);;All files(*)"));
    package_->SetInitialFolder(Q(programFolder_));
    grid->addWidget(package_, 0, 1, 1, 3);

    label(IDC_LABEL_SERIES, L"\u4ea7\u54c1\u7cfb\u5217:", 1);
    seriesList_ = new QComboBox(main);
    SetCtrlId(seriesList_, IDC_SERIES);
    grid->addWidget(seriesList_, 1, 1);
    label(IDC_LABEL_POWER, L"\u529f\u7387\u578b\u53f7:", 2);
    powerList_ = new QComboBox(main);
    SetCtrlId(powerList_, IDC_POWER);
    grid->addWidget(powerList_, 2, 1);

    auto* options = new QHBoxLayout;
    auto check = [&](int id, const wchar_t* caption) {
        auto* c = new QCheckBox(Q(caption), main);
        SetCtrlId(c, id);
        options->addWidget(c);
        checks_[id] = c;
        return c;
    };
    check(IDC_DATA_FILES, L"\u6570\u636e\u6587\u4ef6");
    check(IDC_PROGRAM_FILE, L"\u7a0b\u5e8f\u6587\u4ef6");
    // The init image goes with every download; its box stays cleared and hidden.
    check(IDC_INIT_FILE, L"\u521d\u59cb\u5316\u6587\u4ef6")->hide();
    options->addStretch(1);
    grid->addLayout(options, 3, 1, 1, 3);
    connect(checks_[IDC_DATA_FILES], &QCheckBox::toggled, this, [this](bool on) { dataOption_ = on; });
    connect(checks_[IDC_PROGRAM_FILE], &QCheckBox::toggled, this, [this](bool on) { programOption_ = on; });

    auto* checkBox = new QGroupBox(main);
    auto* checkRow = new QHBoxLayout(checkBox);
    auto* downloadBox = new QGroupBox(main);
    auto* downloadRow = new QHBoxLayout(downloadBox);
    auto add = [&](QBoxLayout* row, QWidget* owner, int id, const wchar_t* caption, void (CDlgProgram::*h)()) {
        QPushButton* b = AddButton(id, Q(caption), h);
        b->setParent(owner);
        row->addWidget(b);
    };
    add(checkRow, checkBox, IDC_MODEL_CHECK, L"Model Check", nullptr);
    add(checkRow, checkBox, IDC_SIMPLE_CHECK, L"Simple Check", nullptr);
    add(downloadRow, downloadBox, IDC_DOWNLOAD, L"Download", &CDlgProgram::OnDownload);
    add(downloadRow, downloadBox, IDC_DOWNLOAD_DIRECT, L"Download Direct", &CDlgProgram::OnDownloadDirect);
    connect(buttons_[IDC_MODEL_CHECK], &QPushButton::clicked, this, [this] { OnModelCheck(); });
    connect(buttons_[IDC_SIMPLE_CHECK], &QPushButton::clicked, this, [this] { OnSimpleCheck(); });
    grid->addWidget(checkBox, 4, 0, 1, 2);
    grid->addWidget(downloadBox, 4, 2, 1, 2);

    auto* switchRow = new QHBoxLayout;
    auto addSwitch = [&](int id, const wchar_t* caption) {
        QPushButton* b = AddButton(id, Q(caption), nullptr);
        b->setParent(main);
        switchRow->addWidget(b);
        return b;
    };
    connect(addSwitch(IDC_SWITCH_BOOT, L"\u5207\u6362\u5230Boot"), &QPushButton::clicked, this,
            [this] { OnSwitchBoot(); });
    connect(addSwitch(IDC_SWITCH_NORMAL, L"\u5207\u6362\u5230\u6b63\u5e38"), &QPushButton::clicked, this,
            [this] { OnSwitchNormal(); });
    addSwitch(IDC_NORMAL_CONNECT, L"\u6b63\u5e38\u8fde\u63a5")->hide();
    addSwitch(IDC_BOOT_CONNECT, L"BOOT\u8fde\u63a5")->hide();
    connect(buttons_[IDC_NORMAL_CONNECT], &QPushButton::clicked, this, [this] { OnNormalConnect(); });
    connect(buttons_[IDC_BOOT_CONNECT], &QPushButton::clicked, this, [this] { OnBootConnect(); });
    switchRow->addStretch(1);
    grid->addLayout(switchRow, 5, 0, 1, 4);

    for (int id : {IDC_DATA_PATH, IDC_CODE_PATH, IDC_INIT_PATH}) {
        auto* e = new QLineEdit(main);
        SetCtrlId(e, id);
        e->setReadOnly(true);
        e->hide();
        pathEdits_[id] = e;
    }
    grid->setColumnStretch(3, 1);

    connect(package_, &CBrowseEdit::textChanged, this, &CDlgProgram::OnPackageChanged);
    connect(seriesList_, qOverload<int>(&QComboBox::activated), this, &CDlgProgram::OnSeriesChanged);
    connect(powerList_, qOverload<int>(&QComboBox::activated), this, &CDlgProgram::OnPowerChanged);

    // Opening the view (its template state, before it is shown).
    ReadSavedSelection();
    FillLists();
    {
        // The package opened last, shown but not opened: opening extracts it
        // and may reconnect for an interrupted download, which the user
        // starts with Enter. Without one, the home folder stands for the
        // drive root the chooser starts at; it is no package either.
        const QSignalBlocker block(package_);
        packagePath_ = state_.SavedPackage();
        if (packagePath_.empty()) packagePath_ = W(QDir::toNativeSeparators(QDir::homePath() + QLatin1Char('/')));
        package_->SetText(Q(packagePath_));
    }
    // Enter opens the package in the field again (the one remembered, or the
    // same one after a download).
    connect(package_->Edit(), &QLineEdit::returnPressed, this, [this] { OnPackageChanged(package_->Text()); });
    ClearOptions();
    for (int id : {IDC_NORMAL_CONNECT, IDC_BOOT_CONNECT}) SetEnabledState(id, true);
    for (int id : {IDC_SWITCH_BOOT, IDC_SWITCH_NORMAL, IDC_MODEL_CHECK, IDC_DOWNLOAD, IDC_DOWNLOAD_DIRECT})
        SetEnabledState(id, false);
    if (NormalConnected()) {
        SetEnabledState(IDC_NORMAL_CONNECT, false);
        SetEnabledState(IDC_SWITCH_BOOT, true);
    }
    if (BootConnected()) {
        SetEnabledState(IDC_BOOT_CONNECT, false);
        SetEnabledState(IDC_SWITCH_NORMAL, true);
    }
    SetEnabledState(IDC_MODEL_CHECK, false);
    SetEnabledState(IDC_SIMPLE_CHECK, false);
    ShowFieldValues();
}

CDlgProgram::~CDlgProgram()
{
    // A worker waiting for a message box goes on without it.
    abandon_ = true;
    StopWorkers();
    // The extracted images go with the view; a new view opens a package anew.
    RemoveExtracted(programFolder_);
    TheModelCatalogue().Clear();
}

QPushButton* CDlgProgram::AddButton(int id, const QString& caption, void (CDlgProgram::*handler)())
{
    auto* b = new QPushButton(caption, this);
    SetCtrlId(b, id);
    b->setAutoDefault(false);
    if (handler) connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    buttons_[id] = b;
    return b;
}

QPushButton* CDlgProgram::Button(int id) const
{
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

QCheckBox* CDlgProgram::Check(int id) const
{
    const auto it = checks_.find(id);
    return it == checks_.end() ? nullptr : it->second;
}

CProgramPrompts& CDlgProgram::Prompts() const
{
    return prompts_ ? *prompts_ : ProgramPrompts();
}

void CDlgProgram::Message(const QString& text)
{
    Prompts().ShowMessage(this, text);
}

std::wstring CDlgProgram::ConfigPath() const
{
    return TheApp() ? TheApp()->Settings().ConfigPath() : std::wstring(L"config.ini");
}

void CDlgProgram::OnInitDialog()
{
    CDataDlg::OnInitDialog();
    ShowFieldValues();
}

void CDlgProgram::ApplyLanguageTexts()
{
    const std::map<int, std::wstring>& texts = Language().controlTexts();
    ApplyCtrlTexts(this, [&texts](int id, QString* text) {
        if (HoldsPath(id)) return false;
        const auto it = texts.find(id);
        if (it == texts.end()) return false;
        *text = Q(it->second);
        return true;
    });
}

// ---- state shown in the controls ----------------------------------------------

void CDlgProgram::SetEnabledState(int id, bool on)
{
    enabled_[id] = on;
    ApplyEnables();
}

void CDlgProgram::ApplyEnables()
{
    const bool free = !Busy();
    for (const auto& [id, on] : enabled_) {
        if (QPushButton* b = Button(id)) b->setEnabled(on && free);
        if (QCheckBox* c = Check(id)) c->setEnabled(on && free);
    }
    package_->setEnabled(free);
    seriesList_->setEnabled(free);
    powerList_->setEnabled(free);
}

void CDlgProgram::UpdateButtons(bool)
{
    const bool normal = NormalConnected();
    const bool boot = BootConnected();
    bool on[6];  // 2020, 2021, 2022, 2023, 2025, 2031
    if (boot) {
        const bool table[6] = {true, false, false, true, state_.ModelChecked(), state_.FilesChecked()};
        std::copy(table, table + 6, on);
    } else if (normal) {
        const bool table[6] = {false, true, true, false, false, false};
        std::copy(table, table + 6, on);
    } else {
        const bool table[6] = {true, true, false, false, false, false};
        std::copy(table, table + 6, on);
    }
    const int ids[6] = {IDC_NORMAL_CONNECT, IDC_BOOT_CONNECT,   IDC_SWITCH_BOOT,
                        IDC_SWITCH_NORMAL,  IDC_DOWNLOAD, IDC_DOWNLOAD_DIRECT};
    for (int i = 0; i < 6; ++i) enabled_[ids[i]] = on[i];
    ApplyEnables();
}

void CDlgProgram::ClearOptions()
{
    dataOption_ = programOption_ = initOption_ = false;
    for (auto& [id, c] : checks_) {
        const QSignalBlocker block(c);
        c->setChecked(false);
        enabled_[id] = false;
    }
    ApplyEnables();
}

void CDlgProgram::SetOptions(const modeswitch::PackageOptions& options)
{
    dataOption_ = options.dataFiles;
    programOption_ = options.programFile;
    enabled_[IDC_DATA_FILES] = dataOption_;
    enabled_[IDC_PROGRAM_FILE] = programOption_;
    ShowFieldValues();
    ApplyEnables();
}

void CDlgProgram::ShowFieldValues()
{
    const QSignalBlocker blockPackage(package_);
    if (package_->Text() != Q(packagePath_)) package_->SetText(Q(packagePath_));
    for (auto [id, on] : {std::pair<int, bool>{IDC_DATA_FILES, dataOption_},
                          {IDC_PROGRAM_FILE, programOption_}, {IDC_INIT_FILE, initOption_}}) {
        const QSignalBlocker block(checks_[id]);
        checks_[id]->setChecked(on);
    }
    pathEdits_[IDC_DATA_PATH]->setText(Q(state_.Paths().dataFile));
    pathEdits_[IDC_CODE_PATH]->setText(Q(state_.Paths().codeFile));
    pathEdits_[IDC_INIT_PATH]->setText(Q(state_.Paths().initFile));
}

// ---- lists ------------------------------------------------------------------------

void CDlgProgram::FillPowers(const std::wstring& series, bool distinct)
{
    filling_ = true;
    powerList_->clear();
    for (const ModelRecord& m : TheModelCatalogue().models()) {
        if (m.series != series) continue;
        const QString power = Q(m.power);
        if (distinct) {
            bool seen = false;
            for (int i = 0; i < powerList_->count() && !seen; ++i)
                seen = powerList_->itemText(i).startsWith(power, Qt::CaseInsensitive);
            if (seen) continue;
        }
        powerList_->addItem(power);
    }
    if (powerList_->count() > 0) powerList_->setCurrentIndex(0);
    power_ = W(powerList_->currentText());
    filling_ = false;
}

void CDlgProgram::FillLists()
{
    filling_ = true;
    seriesList_->clear();
    for (const std::wstring& s : TheModelCatalogue().seriesList()) seriesList_->addItem(Q(s));
    if (seriesList_->count() > 0) seriesList_->setCurrentIndex(0);
    series_ = W(seriesList_->currentText());
    filling_ = false;
    FillPowers(series_, true);
}

void CDlgProgram::OnSeriesChanged(int)
{
    if (filling_ || Busy()) return;
    series_ = W(seriesList_->currentText());
    FillPowers(series_, false);
    ClearOptions();
    state_.ClearChecks();
    UpdateButtons(NormalConnected());
}

void CDlgProgram::OnPowerChanged(int)
{
    if (filling_ || Busy()) return;
    power_ = W(powerList_->currentText());
    ClearOptions();
    state_.ClearChecks();
    UpdateButtons(NormalConnected());
}

// ---- the saved selection ------------------------------------------------------

void CDlgProgram::ReadSavedSelection()
{
    state_.SetConfigPath(ConfigPath());
    state_.ReadSaved();
}

void CDlgProgram::OnPackageChanged(const QString& text)
{
    if (Busy()) return;
    packagePath_ = W(text);
    // Whatever was checked belongs to the package the text named before:
    // nothing of it may be flashed any more.
    state_.ClearChecks();
    state_.SetPaths(PackageFilePaths());
    ClearOptions();
    UpdateButtons(NormalConnected());
    // Every keystroke changes the text; only a file that exists is opened.
    if (!QFileInfo(text).isFile()) {
        ShowFieldValues();
        return;
    }

    filling_ = true;
    seriesList_->clear();
    powerList_->clear();
    filling_ = false;
    // A package of any size is extracted on the worker, the window stays
    // responsive meanwhile.
    jobPackage_ = packagePath_;
    if (!StartJob(Job::OpenPackage, 1)) Message(Q(package::kDecompressionFailedText));
}

void CDlgProgram::PackageArrived(bool extracted, const PackageOpenReport& report, const ResumeProbe& probe)
{
    if (!report.copyFailedText.empty()) Message(Q(report.copyFailedText));
    state_.PackageOpened(jobPackage_, extracted);
    if (!extracted)
        Message(Q(package::kDecompressionFailedText));
    else
        state_.SavePackage(jobPackage_);
    FillLists();
    // Nothing of a package that failed is kept: there is nothing to check.
    SetEnabledState(IDC_MODEL_CHECK, extracted);
    SetEnabledState(IDC_SIMPLE_CHECK, extracted);
    if (extracted && state_.InterruptedDownload()) RestoreInterruptedDownload(probe);
    ShowFieldValues();
}

void CDlgProgram::RestoreInterruptedDownload(const ResumeProbe& probe)
{
    const std::wstring savedSeries = state_.SavedSeries();
    const std::wstring savedPartNumber = state_.SavedPartNumber();
    const std::wstring savedPower = state_.SavedPower();
    series_ = savedSeries;
    power_ = savedPower;
    {
        filling_ = true;
        const int s = seriesList_->findText(Q(savedSeries));
        if (s >= 0) seriesList_->setCurrentIndex(s);
        filling_ = false;
        if (s >= 0) FillPowers(savedSeries, false);
        const int p = powerList_->findText(Q(savedPower));
        if (p >= 0) powerList_->setCurrentIndex(p);
        power_ = savedPower;
    }
    const auto refuse = [this] {
        enabled_[IDC_DATA_FILES] = enabled_[IDC_PROGRAM_FILE] = false;
        SetEnabledState(IDC_DOWNLOAD, false);
    };
    if (!probe.connected) Message(Q(modeswitch::text::kConnectBootFailed));
    const std::wstring pn = wtext::FromUtf8(probe.partNumber);
    if (!pn.empty()) state_.SetDrive(CDownloadState::Drive::IncompleteProgram, pn);
    PackageFilePaths paths;
    const std::wstring refusal = modeswitch::ResumeRefusal(state_, pn, TheModelCatalogue(), programFolder_, &paths);
    if (!refusal.empty()) {
        Message(Q(refusal));
        refuse();
        return;
    }
    devicePartNumber_ = wtext::ToUtf8(savedPartNumber);
    state_.SetModelChecked(savedSeries, savedPartNumber, savedPower, paths);
    SetOptions(modeswitch::OptionsFor(state_.Paths()));
    SetEnabledState(IDC_DOWNLOAD, true);
}

// ---- checks and switches on the worker ---------------------------------------

bool CDlgProgram::StartJob(Job job, int progressUpper)
{
    if (Busy()) return false;
    job_ = job;
    jobSeries_ = series_;
    jobPower_ = power_;
    run_ = Run::Check;
    ApplyEnables();
    if (!StartBatch(Worker::Aux, progressUpper)) {
        run_ = Run::None;
        job_ = Job::None;
        ApplyEnables();
        return false;
    }
    return true;
}

void CDlgProgram::FinishJob(std::function<void()> apply)
{
    // The dialog's close request first, then the results: both queued in
    // this order.
    FinishBatch();
    PostToGui([this, apply = std::move(apply)] {
        run_ = Run::None;
        job_ = Job::None;
        apply();
        ShowFieldValues();
        ApplyEnables();
    });
}

bool CDlgProgram::RunOnGui(const std::function<void()>& fn)
{
    struct State {
        std::mutex mu;
        std::condition_variable cv;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    PostToGui([this, state, fn] {
        if (!abandon_) fn();
        std::lock_guard<std::mutex> lock(state->mu);
        state->done = true;
        state->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mu);
    while (!state->done) {
        if (abandon_) return false;
        state->cv.wait_for(lock, std::chrono::milliseconds(100));
    }
    return true;
}

bool CDlgProgram::OnModelCheck()
{
    state_.ClearChecks();
    return StartJob(Job::ModelCheck, 12);
}

bool CDlgProgram::OnSimpleCheck()
{
    state_.ClearChecks();
    return StartJob(Job::SimpleCheck, 12);
}

bool CDlgProgram::OnSwitchBoot()
{
    return StartJob(Job::SwitchBoot, 1);
}

bool CDlgProgram::OnSwitchNormal()
{
    return StartJob(Job::SwitchNormal, 1);
}

void CDlgProgram::AuxWorker()
{
    if (job_ == Job::OpenPackage) {
        auto report = std::make_shared<PackageOpenReport>();
        const bool ok = OpenPackage(jobPackage_, programFolder_, report.get(), &TheModelCatalogue());
        ResumeProbe probe;
        CDownloadState saved(ConfigPath());
        saved.ReadSaved();
        if (ok && saved.InterruptedDownload()) {
            // A flash download is to be resumed: which drive is there?
            probe.asked = true;
            probe.connected = TheApp() && TheApp()->ConnectBoot();
            if (probe.connected) {
                WorkerPrompts prompts(*this);
                CModeSwitch sw(TheApp()->Connection(), prompts, TheModelCatalogue(), programFolder_, ConfigPath());
                sw.ReadPartNumber(&probe.partNumber);
            }
        }
        FinishJob([this, ok, report, probe] { PackageArrived(ok, *report, probe); });
        return;
    }
    if (!TheApp()) {
        FinishJob([] {});
        return;
    }
    WorkerPrompts prompts(*this);
    CModeSwitch sw(TheApp()->Connection(), prompts, TheModelCatalogue(), programFolder_, ConfigPath());
    switch (job_) {
    case Job::ModelCheck: {
        const ModelCheckResult r = sw.ModelCheck(jobSeries_, jobPower_);
        FinishJob([this, r] {
            devicePartNumber_ = r.devicePartNumber.substr(0, 8);
            if (r.havePaths) {
                state_.SetPaths(r.paths);
                SetOptions(r.options);
            } else {
                enabled_[IDC_DATA_FILES] = enabled_[IDC_PROGRAM_FILE] = false;
            }
            if (r.incompleteProgram)
                state_.SetDrive(CDownloadState::Drive::IncompleteProgram, wtext::FromUtf8(devicePartNumber_));
            if (r.ok)
                state_.SetModelChecked(jobSeries_, wtext::FromUtf8(devicePartNumber_), jobPower_, r.paths);
            UpdateButtons(NormalConnected());
        });
        break;
    }
    case Job::SimpleCheck: {
        const SimpleCheckResult r = sw.SimpleCheck(jobSeries_, jobPower_);
        FinishJob([this, r] {
            if (r.found) {
                state_.SetPaths(r.paths);
                SetOptions(r.options);
            }
            if (r.filesChecked) state_.SetFilesChecked(jobSeries_, jobPower_, r.paths);
            UpdateButtons(NormalConnected());
            enabled_[IDC_DOWNLOAD_DIRECT] = state_.FilesChecked();
        });
        break;
    }
    case Job::SwitchBoot:
        sw.SwitchToBoot();
        FinishJob([this] {
            state_.ClearChecks();
            UpdateButtons(NormalConnected());
        });
        break;
    case Job::SwitchNormal:
        sw.SwitchToNormal();
        FinishJob([this] {
            state_.ClearChecks();
            UpdateButtons(NormalConnected());
        });
        break;
    case Job::BootForDownload: {
        const bool connected = TheApp()->ConnectBoot();
        FinishJob([this, connected] {
            UpdateButtons(NormalConnected());
            if (!connected) {
                Message(Q(modeswitch::text::kDeviceConnectBootFailed));
                return;
            }
            StartDownload();
        });
        break;
    }
    case Job::DirectDownload: {
        const bool connected = sw.ConnectForDirectDownload();
        bool go = false;
        std::wstring partNumber;
        if (connected && jobBothOptions_) {
            // The recovery route may flash another model's images, but not unasked.
            go = sw.ConfirmDirectModel(jobSeries_, jobPower_);
            partNumber = sw.PartNumberOf(jobSeries_, jobPower_);
        }
        FinishJob([this, connected, go, partNumber] {
            UpdateButtons(NormalConnected());
            if (!connected) return;
            ModelFiles files;
            TheModelCatalogue().FindModelFilesByPower(series_, power_, files);
            state_.SetPaths(PackagePaths(programFolder_, files));
            ShowFieldValues();
            if (!(dataOption_ && programOption_)) {
                Message(Q(modeswitch::text::kNotAllFiles));
                return;
            }
            if (!go) return;
            devicePartNumber_ = wtext::ToUtf8(partNumber);
            StartDownload();
        });
        break;
    }
    case Job::OpenPackage:
    case Job::None: FinishJob([] {}); break;
    }
}

// ---- connection buttons (hidden) ----------------------------------------------

void CDlgProgram::OnNormalConnect()
{
    if (Busy() || !TheApp()) return;
    state_.ClearChecks();
    if (!TheApp()->ConnectNormal()) Message(Q(DeviceConnection::kConnectFailedText));
    UpdateButtons(NormalConnected());
}

void CDlgProgram::OnBootConnect()
{
    if (Busy() || !TheApp()) return;
    state_.ClearChecks();
    TheApp()->ConnectBoot();
    UpdateButtons(NormalConnected());
}

// ---- the main window's questions ------------------------------------------------

QString CDlgProgram::BusyText() const
{
    switch (run_) {
    case Run::Download: return Q(kDownloadRunning);
    case Run::Check: return Q(kCheckRunning);
    case Run::None: break;
    }
    return QString();
}

bool CDlgProgram::StopForClose()
{
    if (!Busy()) return true;
    if (run_ == Run::Download && !Prompts().AskYesNo(this, Q(kCancelQuestion), false)) return false;
    // The run stops at its next step; its questions are not asked any more.
    abandon_ = true;
    SetRunning(false);
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [this, &loop] {
        if (!Busy() && Workers().Running() == 0) loop.quit();
    });
    poll.start(50);
    loop.exec();
    return true;
}

bool CDlgProgram::ConfirmClose()
{
    if (!state_.LeftIncomplete()) return true;
    return Prompts().AskYesNo(this, Q(CDownloadState::kCloseWithIncompleteProgram), false);
}

// ---- downloads ------------------------------------------------------------------

void CDlgProgram::OnDownload()
{
    if (Busy() || !TheApp()) return;
    const std::wstring refusal = state_.DownloadRefusal(dataOption_, programOption_);
    if (!refusal.empty()) {
        Message(Q(refusal));
        return;
    }
    if (BootConnected()) {
        StartDownload();
        return;
    }
    // Connections wait for replies: on the worker, the window stays live.
    StartJob(Job::BootForDownload, 1);
}

void CDlgProgram::OnDownloadDirect()
{
    if (Busy() || !TheApp()) return;
    jobBothOptions_ = dataOption_ && programOption_;
    StartJob(Job::DirectDownload, 1);
}

bool CDlgProgram::StartDownload()
{
    if (Busy() || !TheApp()) return false;
    // Saved before anything reaches the drive: a restart resumes this model.
    if (!state_.SaveSelection(series_, wtext::FromUtf8(devicePartNumber_), power_)) {
        Message(Q(CDownloadSequence::kConfigWriteFailed));
        return false;
    }
    job_ = Job::None;
    download_ = MakeDownloadJob(state_, series_, wtext::FromUtf8(devicePartNumber_), power_, dataOption_,
                                programOption_, programFolder_);
    downloadSettings_ = std::make_unique<ConnectionSettings>(TheApp()->Settings());
    run_ = Run::Download;
    ApplyEnables();
    if (!StartBatch(Worker::Write, 100, Q(CDownloadSequence::kCaption))) {
        run_ = Run::None;
        ApplyEnables();
        return false;
    }
    return true;
}

void CDlgProgram::AfterRun(const DownloadOutcome& outcome)
{
    run_ = Run::None;
    // The run has set or cleared "Download" in config.ini.
    ReadSavedSelection();
    state_.RunEnded(outcome);
    if (outcome.packageRemoved) {
        // The extracted package is gone: checks wait for the next package.
        state_.PackageRemoved();
        enabled_[IDC_MODEL_CHECK] = enabled_[IDC_SIMPLE_CHECK] = enabled_[IDC_DOWNLOAD] = false;
    }
    ClearOptions();
    if (outcome.result != DownloadOutcome::Result::Succeeded && state_.ProgramRequired() &&
        state_.PackageUsable()) {
        // The natural retry is the same button again: it has to write the
        // program file, so the options come back as the files allow.
        const modeswitch::PackageOptions options = modeswitch::OptionsFor(state_.Paths());
        if (options.programFile) SetOptions(options);
    }
    UpdateButtons(NormalConnected());
    ShowFieldValues();
}

// The sequence's side of the view: what it shows waits for the user on the
// GUI thread; everything else is posted and never waited for.
class CDlgProgram::DownloadPrompts : public CDownloadPrompts {
public:
    explicit DownloadPrompts(CDlgProgram& view) : view_(view) {}
    void ShowMessage(const std::wstring& text) override
    {
        CDlgProgram* v = &view_;
        view_.RunOnGui([v, text] { v->Prompts().ShowMessage(v, Q(text)); });
    }
    bool AskYesNo(const std::wstring& text) override
    {
        // A view that goes meanwhile leaves everything as it is.
        auto answer = std::make_shared<bool>(true);
        CDlgProgram* v = &view_;
        view_.RunOnGui([v, text, answer] { *answer = v->Prompts().AskYesNo(v, Q(text), true); });
        return *answer;
    }
    void SetCaption(const std::wstring& caption) override { view_.PostProgressCaption(Q(caption)); }
    void StepProgress(int n) override { view_.PostProgressStep(n); }
    void CloseProgress() override { view_.PostProgressClose(); }
    // The worker hands the outcome over once the sequence has returned.
    void RunEnded(bool) override {}

private:
    CDlgProgram& view_;
};

void CDlgProgram::WriteWorker()
{
    DownloadPrompts prompts(*this);
    CDownloadSequence sequence(download_, *downloadSettings_, TheApp()->Connection(), running_, prompts);
    sequence.Execute();
    const DownloadOutcome outcome = sequence.Outcome();
    PostToGui([this, outcome] { AfterRun(outcome); });
}
