#include "DialogRTLine.h"

#include "MonitorCaptions.h"

#include "ChartControl.h"
#include "ColorRef.h"
#include "ControlIds.h"
#include "DlgInputPara.h"
#include "LanguageTables.h"
#include "HistoryFile.h"
#include "HistoryText.h"
#include "MonitorBuffer.h"
#include "MonitorIntervals.h"
#include "ParamPrompts.h"
#include "ParamTable.h"
#include "RecordingGuard.h"
#include "RegisterAccess.h"
#include "SmallControls.h"
#include "TorvaneApp.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

const int CDialogRTLine::kCheckIds[monitor::kSlotCount] = {1005, 1006, 1016, 1021, 1026, 1035, 1045, 1050, 1055, 1060};
const int CDialogRTLine::kColorIds[monitor::kSlotCount] = {1001, 1002, 1017, 1022, 1028, 1036, 1046, 1051, 1056, 1061};
const int CDialogRTLine::kListIds[monitor::kSlotCount] = {1007, 1013, 1018, 1023, 1029, 1037, 1047, 1052, 1057, 1062};
const int CDialogRTLine::kValueIds[monitor::kSlotCount] = {1008, 1014, 1019, 1024, 1033, 1038, 1048, 1053, 1058, 1063};
const int CDialogRTLine::kScalingIds[monitor::kSlotCount] = {1010, 1015, 1020, 1025, 1034, 1039, 1049, 1054, 1059, 1064};

namespace {

using monitor::kSlotCount;

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }
QString Q(const wchar_t* s) { return QString::fromWCharArray(s); }

constexpr ColorRef kSlotColors[kSlotCount] = {
    MakeColorRef(0, 0, 255),    MakeColorRef(255, 0, 0),   MakeColorRef(0, 255, 0),   MakeColorRef(47, 79, 79),
    MakeColorRef(0, 205, 0),    MakeColorRef(0, 139, 0),   MakeColorRef(0, 255, 255), MakeColorRef(255, 218, 185),
    MakeColorRef(127, 255, 0),  MakeColorRef(238, 180, 34),
};
const QColor kBackground(227, 239, 255);
const QColor kChartBorder(101, 147, 207);
const QColor kLampOn(255, 0, 0);
const QColor kLampOff(0, 255, 0);
// Neither on nor off: what the drive's lamps show is not known.
const QColor kLampUnknown(160, 160, 160);
constexpr int kStatusPeriodMs = 1000;
// The time axis shows about the latest 100 samples until the user zooms.
constexpr double kInitialAxisMax = 100.1;
constexpr int kFollowFrom = 100;
constexpr int kRecordingWidth = 220;
// The automatic saves finished before the current log started belong to an
// earlier recording; the recording line names only the current log's.
uint32_t g_autoSavesBeforeLog = 0;

// The choices of the user that outlive one monitor view (not written to disk).
struct MonitorViewState {
    bool continuous = false;
    std::vector<int> quantityMap;
    int interval = monitor::kDefaultInterval;
    bool interlaced = true;
    bool antialiased = true;
    int commandIndex = 0;
    double targetHz = 0.0;
    int selections[kSlotCount] = {};
    bool enabled[kSlotCount] = {};
};
std::unique_ptr<MonitorViewState> g_viewState;

bool NormalConnected() { return TheApp() && TheApp()->IsNormalConnected(); }

}  // namespace

// ---------------------------------------------------------------------------

bool CDialogRTLine::LockedPort::ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err)
{
    std::lock_guard<std::mutex> lock(mu_);
    return view_.Port().ProcRead(station, reg, value, err);
}

bool CDialogRTLine::LockedPort::ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err)
{
    std::lock_guard<std::mutex> lock(mu_);
    return view_.Port().ProcWrite(station, reg, value, err);
}

// ---------------------------------------------------------------------------

CDialogRTLine::CDialogRTLine(QWidget* parent) : CDataDlg(parent), port_(*this)
{
    setObjectName(QStringLiteral("CDialogRTLine"));
    BuildControls();
    SetupChart();
    chartTimer_ = new QTimer(this);
    connect(chartTimer_, &QTimer::timeout, this, &CDialogRTLine::OnChartTick);
    statusTimer_ = new QTimer(this);
    statusTimer_->setInterval(kStatusPeriodMs);
    connect(statusTimer_, &QTimer::timeout, this, &CDialogRTLine::OnStatusTick);
    // Recordings are the user's: they go to the writable data folder.
    if (TheApp()) historyFolder_ = Q(TheApp()->DataDir()) + Q(history::Folder());
    UpdateButtons(NormalConnected());
}

CDialogRTLine::~CDialogRTLine()
{
    SaveViewState();
    closing_ = true;
    chartTimer_->stop();
    statusTimer_->stop();
    // The sampling thread and the status worker use this view's members.
    StopWorkers();
    Chart()->RemoveAllSeries();
}

CParamPrompts& CDialogRTLine::Prompts() const
{
    return prompts_ ? *prompts_ : ParamPrompts();
}

CRecordingPrompts& CDialogRTLine::RecordingQuestions() const
{
    return recordingPrompts_ ? *recordingPrompts_ : RecordingPrompts();
}

CVKRChartControl* CDialogRTLine::Chart() const
{
    return chart_;
}

void CDialogRTLine::ForgetViewState()
{
    g_viewState.reset();
}

bool CDialogRTLine::Connected() const
{
    return NormalConnected();
}

void CDialogRTLine::BuildControls()
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    setPalette(pal);

    options_ = new QGroupBox(QStringLiteral("Options"), this);
    SetCtrlId(options_, IDC_OPTIONS);
    // The box scrolls inside the view when it is larger than the room it
    // gets; its three parts stand side by side in a wide view and in two
    // rows in a narrow one (ArrangeOptions).
    optionsScroll_ = new QScrollArea(this);
    optionsScroll_->setFrameShape(QFrame::NoFrame);
    optionsScroll_->setWidgetResizable(true);
    optionsScroll_->setWidget(options_);
    outer_ = new QGridLayout(options_);
    outer_->setContentsMargins(6, 6, 6, 6);

    // The ten slots, one row each.
    auto* slotsGrid = new QGridLayout;
    slotsGrid->setHorizontalSpacing(6);
    slotsGrid->setVerticalSpacing(2);
    auto label = [this](int id, const char* text) {
        auto* l = new QLabel(QString::fromLatin1(text), options_);
        SetCtrlId(l, id);
        return l;
    };
    slotsGrid->addWidget(label(monitor::IDC_SIGNAL_HEADER, "Signal"), 0, 2);
    slotsGrid->addWidget(label(monitor::IDC_SIGNAL_VALUE_HEADER, "Signal Value"), 0, 3);
    slotsGrid->addWidget(label(monitor::IDC_SIGNAL_SCALING_HEADER, "Signal Scaling"), 0, 4);
    for (int i = 0; i < kSlotCount; ++i) {
        Slot& s = slots_[static_cast<size_t>(i)];
        s.check = new QCheckBox(QStringLiteral("signal%1").arg(i + 1), options_);
        SetCtrlId(s.check, kCheckIds[i]);
        s.color = new CColorPicker(options_);
        SetCtrlId(s.color, kColorIds[i]);
        s.list = new QComboBox(options_);
        s.list->setMinimumWidth(180);
        SetCtrlId(s.list, kListIds[i]);
        s.value = new QLineEdit(options_);
        s.value->setReadOnly(true);
        s.value->setMaximumWidth(100);
        SetCtrlId(s.value, kValueIds[i]);
        s.scaling = new QLineEdit(QStringLiteral("100.0"), options_);
        s.scaling->setReadOnly(true);
        s.scaling->setMaximumWidth(100);
        SetCtrlId(s.scaling, kScalingIds[i]);
        const int row = 1 + i;
        slotsGrid->addWidget(s.check, row, 0);
        slotsGrid->addWidget(s.color, row, 1);
        slotsGrid->addWidget(s.list, row, 2);
        slotsGrid->addWidget(s.value, row, 3);
        slotsGrid->addWidget(s.scaling, row, 4);
        s.color->SetColor(kSlotColors[i]);
        s.check->setChecked(i == 0);
        const int slot = i;
        connect(s.list, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this, slot](int) {
            // A slot being recorded keeps its format and scale until the log
            // ends; the new quantity is the next log's.
            if (logActive_ && plans_[static_cast<size_t>(slot)].read) return;
            if (const ParamRecord* r = SlotRecord(slot)) {
                slots_[static_cast<size_t>(slot)].exponent = r->exponent;
                ShowSlotScaling(slot, InitialScale(r->exponent));
            }
        });
        connect(s.color, &CColorPicker::colorSelected, this, [this, slot](ColorRef) {
            if (!IsLogging()) return;
            // The series of an enabled slot carries its colour from now on.
            int series = 0;
            for (int j = 0; j < slot; ++j)
                if (plans_[static_cast<size_t>(j)].read) ++series;
            if (plans_[static_cast<size_t>(slot)].read && series < Chart()->SeriesCount())
                Chart()->SetSeriesColor(series, slots_[static_cast<size_t>(slot)].color->Color());
        });
    }
    slotsLayout_ = slotsGrid;

    // Logging controls.
    auto* logBox = new QGridLayout;
    logBox->addWidget(label(monitor::IDC_INTERVAL_LABEL, "Interval:"), 0, 0);
    interval_ = new QComboBox(options_);
    SetCtrlId(interval_, IDC_INTERVAL);
    for (int i = 0; i < monitor::kIntervalCount; ++i) interval_->addItem(Q(monitor::IntervalName(i)));
    interval_->setCurrentIndex(monitor::kDefaultInterval);
    logBox->addWidget(interval_, 0, 1);
    continuous_ = new QCheckBox(QStringLiteral("Continuous sampling"), options_);
    SetCtrlId(continuous_, IDC_CONTINUOUS);
    logBox->addWidget(continuous_, 1, 0, 1, 2);
    start_ = new QPushButton(QStringLiteral("Start Data Log"), options_);
    SetCtrlId(start_, IDC_START);
    stop_ = new QPushButton(QStringLiteral("Stop Data Log"), options_);
    SetCtrlId(stop_, IDC_STOP);
    save_ = new QPushButton(QStringLiteral("Save Data"), options_);
    SetCtrlId(save_, IDC_SAVE);
    logBox->addWidget(start_, 2, 0, 1, 2);
    logBox->addWidget(stop_, 3, 0, 1, 2);
    logBox->addWidget(save_, 4, 0, 1, 2);
    recording_ = new QLabel(options_);
    SetCtrlId(recording_, IDC_RECORDING);
    recording_->setWordWrap(true);
    recording_->setMinimumWidth(170);
    recording_->setMaximumWidth(kRecordingWidth);
    logBox->setRowStretch(6, 1);
    logLayout_ = logBox;
    connect(interval_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        // Applies to the sampling thread from its next period on; the
        // recording notes when its interval changed.
        if (index < 0) return;
        control_.interval = index;
        control_.chosenInterval = index;
        if (logActive_) TheMonitorBuffer().NoteIntervalChange(monitor::NowMs(), monitor::IntervalName(index), L"");
    });
    connect(start_, &QPushButton::clicked, this, [this] { OnStartLog(); });
    connect(stop_, &QPushButton::clicked, this, &CDialogRTLine::OnStopLog);
    connect(save_, &QPushButton::clicked, this, &CDialogRTLine::OnSaveData);

    // The drive control panel.
    auto* panel = new QGridLayout;
    static const wchar_t* const kCommandCaptions[drivecontrol::kCommandCount] = {
        L"\u6b63\u8f6c\u8fd0\u884c", L"\u53cd\u8f6c\u8fd0\u884c", L"\u505c\u6b62",
        L"\u81ea\u7531\u8fd0\u8f6c\u505c\u6b62", L"\u6545\u969c\u590d\u4f4d"};
    auto* radios = new QVBoxLayout;
    for (int i = 0; i < drivecontrol::kCommandCount; ++i) {
        commands_[static_cast<size_t>(i)] = new QRadioButton(Q(kCommandCaptions[i]), options_);
        SetCtrlId(commands_[static_cast<size_t>(i)], IDC_RUN_FORWARD + i);
        radios->addWidget(commands_[static_cast<size_t>(i)]);
        connect(commands_[static_cast<size_t>(i)], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) commandIndex_ = i;
        });
    }
    commands_[0]->setChecked(true);
    panel->addLayout(radios, 0, 0, 5, 1);
    sendCommand_ = new QPushButton(Q(L"\u53d8\u9891\u5668\u542f\u505c\u63a7\u5236"), options_);
    SetCtrlId(sendCommand_, IDC_SEND_COMMAND);
    panel->addWidget(sendCommand_, 0, 1, 1, 3);
    target_ = new QLineEdit(options_);
    target_->setReadOnly(true);
    target_->setMaximumWidth(90);
    SetCtrlId(target_, IDC_TARGET);
    panel->addWidget(target_, 1, 1);
    panel->addWidget(new QLabel(QStringLiteral("HZ"), options_), 1, 2);
    setTarget_ = new QPushButton(Q(L"\u76ee\u6807\u8fd0\u884c\u9891\u7387\u8bbe\u7f6e"), options_);
    SetCtrlId(setTarget_, IDC_SET_TARGET);
    panel->addWidget(setTarget_, 1, 3);
    auto makeLamp = [this](int id) {
        auto* lamp = new QFrame(options_);
        lamp->setFixedSize(18, 18);
        lamp->setFrameShape(QFrame::Box);
        lamp->setAutoFillBackground(true);
        SetCtrlId(lamp, id);
        return lamp;
    };
    warningLamp_ = makeLamp(IDC_WARNING_LAMP);
    faultLamp_ = makeLamp(IDC_FAULT_LAMP);
    // The panel's captions carry identifiers of their own so that the
    // language table gives them in the current language.
    auto caption = [this](const wchar_t* text, int id) {
        auto* label = new QLabel(Q(text), options_);
        SetCtrlId(label, id);
        return label;
    };
    panel->addWidget(warningLamp_, 2, 1);
    panel->addWidget(caption(L"\u53d8\u9891\u5668\u8b66\u544a", IDC_WARNING_CAPTION), 2, 2, 1, 2);
    panel->addWidget(faultLamp_, 3, 1);
    panel->addWidget(caption(L"\u53d8\u9891\u5668\u6545\u969c", IDC_FAULT_CAPTION), 3, 2, 1, 2);
    panel->addWidget(caption(L"\u53d8\u9891\u5668\u72b6\u6001", IDC_STATUS_CAPTION), 4, 1, 1, 2);
    statusText_ = new QLineEdit(options_);
    statusText_->setReadOnly(true);
    SetCtrlId(statusText_, IDC_STATUS);
    panel->addWidget(statusText_, 4, 3);
    panel->addWidget(caption(L"\u8f93\u51fa\u9891\u7387", IDC_OUTPUT_CAPTION), 5, 1, 1, 2);
    outputHz_ = new QLineEdit(options_);
    outputHz_->setReadOnly(true);
    SetCtrlId(outputHz_, IDC_OUTPUT_FREQUENCY);
    panel->addWidget(outputHz_, 5, 3);
    panelLayout_ = panel;
    ArrangeOptions(false);
    connect(sendCommand_, &QPushButton::clicked, this, &CDialogRTLine::OnSendRunCommand);
    connect(setTarget_, &QPushButton::clicked, this, [this] {
        // After the click has been handled: the input dialog runs its own loop.
        QTimer::singleShot(0, this, &CDialogRTLine::OnSetTarget);
    });

    chart_ = new CChartBorder<CVKRChartControl>(this);
    SetCtrlId(chart_, IDC_CHART);
    chart_->SetBorderColor(kChartBorder);
    connect(chart_, &CVKRChartControl::hoverNotice, this, &CDialogRTLine::OnHover);

    target_->setText(QString::asprintf("%.2f", 0.0));
    ShowStatus();
}

void CDialogRTLine::SetupChart()
{
    CVKRChartControl* c = Chart();
    c->AddTitle(QStringLiteral("Use mouse wheel to zoom chart"), ChartDock::Bottom, ChartAlign::Far,
                QFont(QStringLiteral("Tahoma"), 8), Qt::gray);
    c->AddTitle(QStringLiteral("Monitor"));
    c->SetRange(ChartAxis::Value, 0, 100.1);
    c->SetAutoRange(ChartAxis::Value, false);
    c->SetZoomAllowed(ChartAxis::Value, false);
    c->SetInterlaced(ChartAxis::Value, interlaced_);
    c->SetAxisTitle(ChartAxis::Value, QStringLiteral("%"));
    c->SetRange(ChartAxis::Time, 0, kInitialAxisMax);
    c->SetAutoRange(ChartAxis::Time, false);
    c->SetZoomAllowed(ChartAxis::Time, true);
    c->SetZoomLimit(ChartAxis::Time, 10);
    c->SetInterlaced(ChartAxis::Time, false);
    // The axis counts drawn points, one per sample, not seconds.
    c->SetAxisTitle(ChartAxis::Time, QStringLiteral("Samples"));
    c->SetDiagramZoomAllowed(true);
    c->SetDiagramBackground(Qt::white);
}

void CDialogRTLine::OnInitDialog()
{
    CDataDlg::OnInitDialog();
    UpdateButtons(Connected());
    statusTimer_->start();
}

void CDialogRTLine::resizeEvent(QResizeEvent* event)
{
    CDataDlg::resizeEvent(event);
    LayoutControls();
}

void CDialogRTLine::ArrangeOptions(bool narrow)
{
    narrow_ = narrow;
    for (QLayout* part : {slotsLayout_, static_cast<QLayout*>(logLayout_), panelLayout_}) {
        outer_->removeItem(part);
        part->setParent(nullptr);  // taken again below, in its new place
    }
    outer_->setColumnStretch(0, 0);
    outer_->setColumnStretch(2, 0);
    if (narrow) {
        // The commands first: they stay in sight; the recording line runs
        // across below them, and the slots scroll below that.
        logLayout_->removeWidget(recording_);
        recording_->setMaximumWidth(QWIDGETSIZE_MAX);
        outer_->addLayout(logLayout_, 0, 0);
        outer_->addLayout(panelLayout_, 0, 1);
        outer_->addWidget(recording_, 1, 0, 1, 2);
        outer_->addLayout(slotsLayout_, 2, 0, 1, 2);
    } else {
        outer_->removeWidget(recording_);
        recording_->setMaximumWidth(kRecordingWidth);
        logLayout_->addWidget(recording_, 5, 0, 1, 2);
        outer_->addLayout(slotsLayout_, 0, 0);
        outer_->addLayout(logLayout_, 0, 1);
        outer_->addLayout(panelLayout_, 0, 2);
        outer_->setColumnStretch(0, 1);
    }
    outer_->invalidate();
    outer_->activate();
}

void CDialogRTLine::LayoutControls()
{
    const int w = std::max(0, width() - 2 * kMargin);
    if (!narrow_) wideWidth_ = options_->minimumSizeHint().width();
    if (narrow_ != (w < wideWidth_)) ArrangeOptions(w < wideWidth_);
    // The box takes what it needs, but leaves the chart at least two fifths.
    const int needed = options_->sizeHint().height() +
                       (options_->minimumSizeHint().width() > w ? optionsScroll_->horizontalScrollBar()->sizeHint().height() : 0);
    const int h = std::min(needed, std::max(0, (height() - 3 * kMargin) * 3 / 5));
    optionsScroll_->setGeometry(kMargin, kMargin, w, h);
    const int top = kMargin + h + kMargin;
    chart_->setGeometry(kMargin, top, w, std::max(0, height() - top - kMargin));
}

// ---------------------------------------------------------------------------
// Table and slots

const ParamRecord* CDialogRTLine::SlotRecord(int slot) const
{
    const int item = slots_[static_cast<size_t>(slot)].list->currentIndex();
    if (!table_ || item < 0 || item >= static_cast<int>(quantityMap_.size())) return nullptr;
    return table_->RecordByIndex(quantityMap_[static_cast<size_t>(item)]);
}

void CDialogRTLine::SetTable(ParamTable* table)
{
    CDataDlg::SetTable(table);
    SyncWithRecording();
    if (logActive_) return;  // the lists are the running log's
    quantityMap_.clear();
    for (Slot& s : slots_) {
        QSignalBlocker block(s.list);
        s.list->clear();
    }
    if (table) {
        for (const ParamRecord& r : table->params) {
            if (r.groupNumber != 9 || static_cast<int>(quantityMap_.size()) >= ParamTable::kMaxParams) continue;
            const QString text = QString::asprintf("%d:", static_cast<int>(quantityMap_.size())) +
                                 Q(Language().PickVariant(r.name));
            quantityMap_.push_back(r.index);
            for (Slot& s : slots_) {
                QSignalBlocker block(s.list);
                s.list->addItem(text, r.index);
            }
        }
    }
    for (int i = 0; i < kSlotCount; ++i) SetSlotDefaults(i);
    RestoreViewState();
}

void CDialogRTLine::SetSlotDefaults(int slot)
{
    Slot& s = slots_[static_cast<size_t>(slot)];
    // Slot i shows quantity i - 1; a slot beyond the list has no selection.
    s.list->setCurrentIndex(slot < s.list->count() ? slot : -1);
    if (const ParamRecord* r = SlotRecord(slot)) {
        s.exponent = r->exponent;
        ShowSlotScaling(slot, InitialScale(r->exponent));
    }
}

void CDialogRTLine::SaveViewState()
{
    if (!g_viewState) g_viewState = std::make_unique<MonitorViewState>();
    MonitorViewState& st = *g_viewState;
    st.continuous = continuous_->isChecked();
    st.quantityMap = quantityMap_;
    st.interval = interval_->currentIndex();
    st.interlaced = interlaced_;
    st.antialiased = antialiased_;
    st.commandIndex = commandIndex_.load();
    st.targetHz = targetHz_.load();
    for (int i = 0; i < kSlotCount; ++i) {
        st.selections[i] = slots_[static_cast<size_t>(i)].list->currentIndex();
        st.enabled[i] = slots_[static_cast<size_t>(i)].check->isChecked();
    }
}

void CDialogRTLine::RestoreViewState()
{
    if (!g_viewState) {
        g_viewState = std::make_unique<MonitorViewState>();
        SaveViewState();
        return;
    }
    const MonitorViewState& st = *g_viewState;
    continuous_->setChecked(st.continuous);
    interlaced_ = st.interlaced;
    antialiased_ = st.antialiased;
    Chart()->SetInterlaced(ChartAxis::Value, interlaced_);
    interval_->setCurrentIndex(std::clamp(st.interval, 0, monitor::kIntervalCount - 1));
    commands_[static_cast<size_t>(std::clamp(st.commandIndex, 0, drivecontrol::kCommandCount - 1))]->setChecked(true);
    targetHz_ = st.targetHz;
    target_->setText(QString::asprintf("%.2f", st.targetHz));
    // The saved selections name items of the lists they were made in: they
    // hold only while the table gives the same lists.
    const bool sameLists = st.quantityMap == quantityMap_;
    for (int i = 0; i < kSlotCount; ++i) {
        Slot& s = slots_[static_cast<size_t>(i)];
        s.check->setChecked(st.enabled[i]);
        if (sameLists && st.selections[i] >= -1 && st.selections[i] < s.list->count())
            s.list->setCurrentIndex(st.selections[i]);
    }
}

void CDialogRTLine::UpdateButtons(bool normalConnected)
{
    SyncWithRecording();
    start_->setEnabled(normalConnected && !logActive_);
    sendCommand_->setEnabled(normalConnected);
    setTarget_->setEnabled(normalConnected);
    if (!normalConnected) ShowDriveUnknown();
}

void CDialogRTLine::RefreshLogButtons()
{
    const RecordingState rec = TheMonitorBuffer().Recording();
    start_->setEnabled(!logActive_ && Connected());
    stop_->setEnabled(logActive_);
    // A recording left behind by an earlier view is saved from here too.
    const bool held = rec.phase == RecordingPhase::Stopped || rec.phase == RecordingPhase::Saved;
    save_->setEnabled(!logActive_ && held && rec.samples > 0);
}

void CDialogRTLine::SyncWithRecording()
{
    // Stopping the workers from outside clears the running flag and joins
    // the sampling thread; the log then ends as if Stop had been pressed.
    if (logActive_ && !IsLogging())
        FinishLog();
    else
        RefreshLogButtons();
}

void CDialogRTLine::ShowDriveUnknown()
{
    driveUnknown_ = true;
    status_.Forget();
    ShowStatus();
}

// ---------------------------------------------------------------------------
// Logging

bool CDialogRTLine::OnStartLog()
{
    if (logActive_ || IsLogging()) return false;
    bool any = false;
    for (const Slot& s : slots_) any = any || (s.check->isChecked() && s.list->currentIndex() >= 0);
    if (!any) {
        Prompts().ShowMessage(this, QStringLiteral("Please select the physical quantity to monitor."));
        return false;
    }
    // A new log replaces the recording the store holds.
    if (!monitor::SettleRecording(this, nullptr, true, RecordingQuestions())) {
        RefreshLogButtons();
        return false;
    }
    // A sampling thread of the previous log may still be finishing its last
    // read; the new log starts once it has ended.
    Workers().JoinAll();

    MonitorSignals sigs{};
    for (int i = 0; i < kSlotCount; ++i) {
        Slot& s = slots_[static_cast<size_t>(i)];
        monitor::SlotPlan& plan = plans_[static_cast<size_t>(i)];
        plan = monitor::SlotPlan{};
        s.recordIndex = -1;
        s.value->clear();
        const ParamRecord* r = SlotRecord(i);
        if (!r) continue;  // no quantity: neither read nor recorded
        s.recordIndex = r->index;
        s.exponent = r->exponent;
        plan.read = s.check->isChecked();
        plan.record = *r;
        MonitorSignal& sig = sigs[static_cast<size_t>(i)];
        sig.address = static_cast<uint32_t>(r->address);
        sig.name = Language().PickVariant(r->name);
        sig.enabled = plan.read ? 1 : 0;
        sig.exponent = r->exponent;
        sig.scale = InitialScale(r->exponent);
        if (plan.read) ShowSlotScaling(i, sig.scale);
    }
    const int interval = interval_->currentIndex();
    control_.interval = interval;
    control_.chosenInterval = interval;
    control_.pendingInterval = -1;
    control_.overruns = 0;
    failedSweeps_ = 0;
    lostSlot_ = -1;
    g_autoSavesBeforeLog = TheMonitorBuffer().LastAutoSave().sequence;
    recordingId_ = TheMonitorBuffer().BeginRecording(continuous_->isChecked(), historyFolder_.toStdWString(),
                                                     table_ ? table_->deviceType : std::wstring(),
                                                     monitor::IntervalName(interval), sigs);

    SetRunning(true);
    logActive_ = true;
    RefreshLogButtons();
    RebuildSeries();
    Chart()->SetRange(ChartAxis::Value, 0, 100.1);
    // The new log starts at the left, not where the previous one was left.
    Chart()->SetRange(ChartAxis::Time, 0, kInitialAxisMax);
    Chart()->SetVisibleRangeAuto(ChartAxis::Time, true);
    chartTimer_->stop();
    chartTimer_->start(monitor::IntervalPeriodMs(interval));
    if (!StartWorker(Worker::Aux)) {
        SetRunning(false);
        FinishLog();
        return false;
    }
    ShowRecording();
    return true;
}

void CDialogRTLine::OnStopLog()
{
    SetRunning(false);
    FinishLog();
}

void CDialogRTLine::FinishLog()
{
    logActive_ = false;
    // From here on the store takes nothing more for this recording.
    TheMonitorBuffer().EndLogging(recordingId_);
    chartTimer_->stop();
    // The samples the chart had not taken yet, in one step.
    if (DisplayPending()) ChartStep();
    RefreshLogButtons();
    ShowRecording();
}

void CDialogRTLine::AuxWorker()
{
    const uint64_t recording = recordingId_;
    monitor::CRealTimeSampler::Hooks hooks;
    hooks.append = [recording](uint64_t timeMs, const monitor::Sweep& sweep) {
        MonitorSample sample{};
        for (int i = 0; i < kSlotCount; ++i) {
            sample.entries[i].valid = sweep[static_cast<size_t>(i)].valid ? 1 : 0;
            sample.entries[i].value = static_cast<float>(sweep[static_cast<size_t>(i)].value);
        }
        return TheMonitorBuffer().AppendToRecording(recording, timeMs, sample);
    };
    hooks.serveCommand = [this](const drivecontrol::Command& command) { ServeCommandOnSampler(command); };
    hooks.readStatus = [this] {
        if (drivecontrol::ReadStatus(port_, Station(), status_)) driveUnknown_ = false;
    };
    hooks.intervalStepped = [](int interval, uint64_t timeMs, bool raised) {
        TheMonitorBuffer().NoteIntervalChange(timeMs, monitor::IntervalName(interval),
                                              raised ? L"overruns" : L"sweeps fit again");
    };
    hooks.valueRead = [this](int slot, double value) {
        // The table is the GUI thread's: the record takes the value there.
        const int index = plans_[static_cast<size_t>(slot)].record.index;
        PostToGui([this, index, value] {
            if (table_)
                if (ParamRecord* r = table_->RecordByIndex(index)) r->value = value;
        });
    };
    // Counted as they happen: the status tick shows them while the log runs.
    hooks.sweepLost = [this](int slot, uint8_t err) {
        lostErr_ = err;
        lostSlot_ = slot;
        ++failedSweeps_;
    };
    monitor::CRealTimeSampler sampler(port_, Station(), plans_, RunningFlag(), control_, std::move(hooks));
    sampler.Run();
    // However the log ended, the store knows it has.
    TheMonitorBuffer().EndLogging(recording);
}

// ---------------------------------------------------------------------------
// Chart

void CDialogRTLine::RebuildSeries()
{
    CVKRChartControl* c = Chart();
    c->RemoveAllSeries();
    pointTimes_.clear();
    for (int i = 0; i < kSlotCount; ++i) {
        if (!plans_[static_cast<size_t>(i)].read) continue;
        CChartSeriesStyle st;
        st.kind = ChartSeriesKind::FastLine;
        st.color = slots_[static_cast<size_t>(i)].color->Color();
        st.antialiasing = antialiased_;
        c->AddSeries(QStringLiteral("Series"), st);
    }
}

void CDialogRTLine::AddSamplePoints(const void* p, size_t n)
{
    const MonitorSample* samples = static_cast<const MonitorSample*>(p);
    CVKRChartControl* c = Chart();
    double lowest = c->RangeMinimum(ChartAxis::Value);
    int series = 0;
    for (int i = 0; i < kSlotCount; ++i) {
        if (!plans_[static_cast<size_t>(i)].read) continue;
        QVector<QPointF> points;
        int x = c->PointCount(series);
        for (size_t k = 0; k < n; ++k) {
            const SampleEntry& e = samples[k].entries[i];
            if (!e.valid) continue;
            points.append(QPointF(x++, e.percent));
            lowest = std::min(lowest, static_cast<double>(e.percent));
        }
        c->AddPoints(series, points);
        ++series;
    }
    // Below 0 % the value axis opens as far as a negative value needs.
    if (lowest < c->RangeMinimum(ChartAxis::Value)) c->SetRange(ChartAxis::Value, lowest, 100.1);
    for (size_t k = 0; k < n; ++k) pointTimes_.push_back(samples[k].timeMs);
}

void CDialogRTLine::FollowNewest(int n)
{
    CVKRChartControl* c = Chart();
    if (n <= kFollowFrom) {
        c->SetRangeMaximum(ChartAxis::Time, kInitialAxisMax);
        return;
    }
    const double oldMax = c->RangeMaximum(ChartAxis::Time);
    const double visMin = c->VisibleMinimum(ChartAxis::Time);
    const double visMax = c->VisibleMaximum(ChartAxis::Time);
    c->SetRangeMaximum(ChartAxis::Time, n);
    // A window the user scrolled away from the end stays where it is.
    if (visMax >= oldMax) {
        const double w = visMax - visMin;
        c->SetVisibleRange(ChartAxis::Time, n - w, n);
    }
}

void CDialogRTLine::ChartStep()
{
    CMonitorBuffer& store = TheMonitorBuffer();
    // Taken and cleared in one step: a rescale during the redraw is seen at
    // the next tick.
    if (store.TakeRescaled()) {
        FullRedraw();
        return;
    }
    // Every new sample at each tick: the chart never lags behind the store,
    // whatever the interval did meanwhile.
    std::vector<MonitorSample> fresh;
    store.TakeForDisplay(fresh);
    if (fresh.empty()) return;

    CVKRChartControl* c = Chart();
    if (c->SeriesCount() > 0 && c->PointCount(0) + static_cast<int>(fresh.size()) > kSeriesRestart + 1) {
        RebuildSeries();
        c->SetRange(ChartAxis::Time, 0, kInitialAxisMax);
        c->SetVisibleRangeAuto(ChartAxis::Time, true);
        if (fresh.size() > static_cast<size_t>(kSeriesRestart))
            fresh.erase(fresh.begin(), fresh.end() - kSeriesRestart);
    }
    AddSamplePoints(fresh.data(), fresh.size());
    FollowNewest(c->SeriesCount() > 0 ? c->PointCount(0) - 1 : 0);
    const MonitorSample& sample = fresh.back();
    for (int i = 0; i < kSlotCount; ++i)
        if (plans_[static_cast<size_t>(i)].read && sample.entries[i].valid) ShowSlotValue(i, sample.entries[i].value);
    emit chartUpdated();
}

void CDialogRTLine::FullRedraw()
{
    CMonitorBuffer& store = TheMonitorBuffer();
    RebuildSeries();
    CVKRChartControl* c = Chart();
    // Copied with the display mark in one step: a sample appended meanwhile
    // is drawn by the next tick, once.
    std::vector<MonitorSample> held;
    store.CopyHeldForDisplay(held);
    const MonitorSignals sigs = store.Signals();
    AddSamplePoints(held.data(), held.size());
    const MonitorSample* last = held.empty() ? nullptr : &held.back();
    FollowNewest(c->SeriesCount() > 0 ? c->PointCount(0) : 0);
    for (int i = 0; i < kSlotCount; ++i) {
        if (!plans_[static_cast<size_t>(i)].read) continue;
        if (last && last->entries[i].valid) ShowSlotValue(i, last->entries[i].value);
        ShowSlotScaling(i, sigs[static_cast<size_t>(i)].scale);
    }
    emit chartUpdated();
}

void CDialogRTLine::ShowSlotValue(int slot, double value)
{
    // A recorded value keeps the format of the quantity it was recorded as,
    // whatever the slot's list shows now.
    Slot& s = slots_[static_cast<size_t>(slot)];
    const monitor::SlotPlan& plan = plans_[static_cast<size_t>(slot)];
    s.value->setText(Q(FormatByExponent(value, plan.read ? plan.record.exponent : s.exponent)));
}

void CDialogRTLine::ShowSlotScaling(int slot, float scale)
{
    // Exponents without a format of their own keep the text shown.
    Slot& s = slots_[static_cast<size_t>(slot)];
    const monitor::SlotPlan& plan = plans_[static_cast<size_t>(slot)];
    const int exponent = logActive_ && plan.read ? plan.record.exponent : s.exponent;
    s.scaling->setText(Q(history::ScalingText(scale, exponent, s.scaling->text().toStdWString())));
}

void CDialogRTLine::OnHover(const CChartHoverNotice& notice)
{
    if (IsLogging()) return;
    // Only what the lines show: point n is the sample drawn n-th since the
    // lines last started, found in the store by its time.
    if (notice.index < 0 || static_cast<size_t>(notice.index) >= pointTimes_.size()) return;
    const uint64_t t = pointTimes_[static_cast<size_t>(notice.index)];
    CMonitorBuffer& store = TheMonitorBuffer();
    uint32_t lo = 0, hi = store.count();
    MonitorSample s{};
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (!store.ReadAged(mid, s)) return;
        if (s.timeMs < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (!store.ReadAged(lo, s) || s.timeMs != t) return;
    for (int i = 0; i < kSlotCount; ++i)
        if (slots_[static_cast<size_t>(i)].check->isChecked() && s.entries[i].valid)
            ShowSlotValue(i, s.entries[i].value);
}

// ---------------------------------------------------------------------------
// Timers

void CDialogRTLine::OnChartTick()
{
    // The tick follows the interval the sampling thread uses now.
    const int period = monitor::IntervalPeriodMs(control_.interval.load());
    if (chartTimer_->interval() != period) chartTimer_->setInterval(period);
    ChartStep();
    OnStatusTick();
}

void CDialogRTLine::OnStatusTick()
{
    SyncWithRecording();
    if (!Connected()) {
        if (!driveUnknown_.load()) ShowDriveUnknown();
        return;
    }
    if (!IsLogging()) ReadStatusAsync();
    ShowStatus();
    const int pending = control_.pendingInterval.exchange(-1);
    if (pending >= 0) {
        control_.interval = pending;
        QSignalBlocker block(interval_);
        interval_->setCurrentIndex(pending);
    }
    ShowRecording();
    emit statusShown();
}

void CDialogRTLine::ReadStatusAsync()
{
    // At most one status read at a time; its result shows at the next tick.
    if (statusBusy_.exchange(true)) return;
    if (!StartWorker([this] {
            if (drivecontrol::ReadStatus(port_, Station(), status_)) driveUnknown_ = false;
            statusBusy_ = false;
        }))
        statusBusy_ = false;
}

void CDialogRTLine::LinkHealthChanged()
{
    ShowStatus();
}

void CDialogRTLine::ShowStatus()
{
    auto paint = [](QFrame* lamp, const QColor& color) {
        QPalette p = lamp->palette();
        p.setColor(QPalette::Window, color);
        lamp->setPalette(p);
    };
    // The last status read is old news while the drive does not answer, and
    // no status is known before the first read after a connection.
    const LinkHealth* health = Port().Health();
    const bool silent = health && !health->answering();
    if (silent || driveUnknown_.load()) {
        paint(warningLamp_, kLampUnknown);
        paint(faultLamp_, kLampUnknown);
        statusText_->setText(silent ? Q(Language().PickVariant(LinkHealthText(health->state()))) : QStringLiteral("-"));
        outputHz_->setText(QStringLiteral("-"));
        return;
    }
    paint(warningLamp_, status_.warning.load() ? kLampOn : kLampOff);
    paint(faultLamp_, status_.fault.load() ? kLampOn : kLampOff);
    statusText_->setText(Q(drivecontrol::StatusText(status_.runState.load())));
    outputHz_->setText(QString::asprintf("%.1f", status_.outputHz.load()));
}

bool CDialogRTLine::DisplayPending() const
{
    const CMonitorBuffer& store = TheMonitorBuffer();
    const MonitorBufferState st = store.State();
    return st.rescaled || st.display != st.write;
}

QColor CDialogRTLine::WarningLampColor() const
{
    return warningLamp_->palette().color(QPalette::Window);
}

QColor CDialogRTLine::FaultLampColor() const
{
    return faultLamp_->palette().color(QPalette::Window);
}

void CDialogRTLine::ShowRecording()
{
    CMonitorBuffer& store = TheMonitorBuffer();
    const MonitorBufferState st = store.State();
    QString text = monitor::Caption(monitor::IDS_SAMPLES_HELD, "Samples held: %1").arg(st.count);
    if (st.refusedFull > 0) text += QStringLiteral("\nRefused, store full: %1").arg(st.refusedFull);
    if (st.refusedBusy > 0) text += QStringLiteral("\nRefused, store busy: %1").arg(st.refusedBusy);
    const int lostSlot = lostSlot_.load();
    if (failedSweeps_.load() > 0 && lostSlot >= 0 && lostSlot < kSlotCount) {
        const ParamRecord& r = plans_[static_cast<size_t>(lostSlot)].record;
        text += QStringLiteral("\n") + Q(monitor::LostSweepsText(failedSweeps_.load(), lostSlot,
                                                                 Language().PickVariant(r.name), lostErr_.load()));
    }
    const RecordingState rec = store.Recording();
    if (rec.phase == RecordingPhase::Stopped && rec.unsaved > 0)
        text += QStringLiteral("\n") + monitor::Caption(monitor::IDS_NOT_SAVED, "Not saved: %1 samples").arg(rec.unsaved);
    else if (rec.phase == RecordingPhase::Saved)
        text += QStringLiteral("\n") + monitor::Caption(monitor::IDS_SAVED, "Saved:") + QStringLiteral(" ") + Q(rec.savedPath).section(QLatin1Char('/'), -1);
    // The automatic step to a slower interval is the user's to know.
    if (!rec.intervalChanges.empty()) {
        const IntervalChange& last = rec.intervalChanges.back();
        if (last.reason == L"overruns")
            text += QStringLiteral("\nInterval raised to %1: sweeps took longer than the interval")
                        .arg(Q(last.intervalName));
        else if (!last.reason.empty())
            text += QStringLiteral("\nInterval back to %1: sweeps fit again").arg(Q(last.intervalName));
    }
    const AutoSaveResult autoSave = store.LastAutoSave();
    if (autoSave.sequence > g_autoSavesBeforeLog) {
        const QString file = Q(autoSave.path).section(QLatin1Char('/'), -1);
        text += autoSave.ok ? QStringLiteral("\n") + monitor::Caption(monitor::IDS_LAST_AUTO_SAVE, "Last auto save:") + QStringLiteral(" ") + file
                            : QStringLiteral("\nAuto save FAILED: ") + file + QStringLiteral(" (") +
                                  QString::fromStdString(autoSave.error) + QStringLiteral(")");
    }
    recording_->setText(text);
}

// ---------------------------------------------------------------------------
// Save

void CDialogRTLine::OnSaveData()
{
    monitor::SaveRecordingAs(this, RecordingQuestions(), historyFolder_);
    RefreshLogButtons();
    ShowRecording();
}

// ---------------------------------------------------------------------------
// Drive control

void CDialogRTLine::OnSendRunCommand()
{
    // The command is the one selected now, whenever it is sent.
    for (int i = 0; i < drivecontrol::kCommandCount; ++i)
        if (commands_[static_cast<size_t>(i)]->isChecked()) commandIndex_ = i;
    SendCommand(drivecontrol::RunCommand(commandIndex_.load()));
}

void CDialogRTLine::OnSetTarget()
{
    QPointer<CDialogRTLine> self(this);
    QPointer<CDlgInputPara> dlg = new CDlgInputPara(this);
    dlg->title = QStringLiteral("Target Hz");
    dlg->value = targetHz_.load();
    dlg->minValue = 0.0;
    dlg->maxValue = drivecontrol::kMaxTargetHz;
    // The register holds hundredths of a hertz: the dialog rounds to them
    // and shows the rounded value before it is taken.
    dlg->decimals = 2;
    const bool ok = Prompts().RunNumberDialog(*dlg);
    if (!self || !dlg) return;  // the view was replaced meanwhile
    const double hz = dlg->value;
    delete dlg.data();
    // Cancel sends nothing: the drive keeps the target it runs at.
    if (!ok) return;
    targetHz_ = hz;
    target_->setText(QString::asprintf("%.2f", hz));
    SendCommand(drivecontrol::TargetCommand(hz));
}

void CDialogRTLine::SendCommand(const drivecontrol::Command& command)
{
    if (IsLogging()) {
        // The sampling thread serves the commands in the order given, before
        // its next register read.
        control_.commands.Post(command);
        return;
    }
    if (!ExecuteCommand(command))
        Prompts().ShowMessage(this, Q(command.IsRun() ? drivecontrol::RunCommandFailedText()
                                                      : drivecontrol::TargetFailedText()));
}

bool CDialogRTLine::ExecuteCommand(const drivecontrol::Command& command)
{
    uint8_t err = 0;
    return drivecontrol::WriteCommand(port_, Station(), command, &err);
}

void CDialogRTLine::ServeCommandOnSampler(const drivecontrol::Command& command)
{
    // A command given before the user left the view still goes out; only
    // its failure is not shown any more.
    if (ExecuteCommand(command) || closing_.load()) return;
    const QString text = Q(command.IsRun() ? drivecontrol::RunCommandFailedText() : drivecontrol::TargetFailedText());
    if (!IsLogging()) {
        // The log was stopped meanwhile: nothing waits for the box any more.
        QPointer<CDialogRTLine> self(this);
        QMetaObject::invokeMethod(qApp, [self, text] {
            if (self) self->Prompts().ShowMessage(self, text);
        }, Qt::QueuedConnection);
        return;
    }
    // Shown on the GUI thread; sampling waits until it is dismissed (or the
    // log is stopped, or the view closes).
    RunOnGuiAndWait([text](CDataDlg* view) {
        auto* self = static_cast<CDialogRTLine*>(view);
        self->Prompts().ShowMessage(self, text);
    });
}
