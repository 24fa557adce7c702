// The real-time monitor: up to ten running quantities of the drive sampled
// at a chosen interval into the sample store and drawn as lines, with the
// drive control panel (run commands, target frequency, warning and fault
// lamps, run state and output frequency) in the same view.
//
// Threads. The GUI thread owns the controls, the chart and the two timers.
// The sampling thread (the view's auxiliary worker) runs while a log runs:
// the register reads, the handed-over drive commands and the status reads;
// it appends to the store and shares only words with the GUI thread (the
// base's `running` flag is the logging flag). Without a log the panel's
// writes happen at once on the GUI thread and the status is read by a short
// worker, so a silent drive never freezes the window. A port lock keeps the
// view's register calls one at a time whichever thread makes them.
#pragma once

#include "DataDlg.h"
#include "DriveControl.h"
#include "RealTimeSampler.h"

#include <QColor>
#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class CParamPrompts;
class CRecordingPrompts;
class CColorPicker;
class CVKRChartControl;
template <class T>
class CChartBorder;
struct CChartHoverNotice;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QGridLayout;
class QLayout;
class QScrollArea;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

class CDialogRTLine : public CDataDlg {
    Q_OBJECT
public:
    enum {
        IDD = 142,
        IDC_CHART = 1003,
        IDC_OPTIONS = 1004,
        IDC_INTERVAL = 1027,
        IDC_CONTINUOUS = 1040,
        IDC_START = 1032,
        IDC_STOP = 1041,
        IDC_SAVE = 1044,
        IDC_RUN_FORWARD = 2040,  // ... 2044: the five run commands
        IDC_SEND_COMMAND = 2045,
        IDC_TARGET = 1069,
        IDC_SET_TARGET = 2046,
        IDC_WARNING_LAMP = 1071,
        IDC_FAULT_LAMP = 1072,
        IDC_STATUS = 1070,
        IDC_OUTPUT_FREQUENCY = 1067,
        IDC_RECORDING = 1073,  // last automatic save and refused samples
        IDC_WARNING_CAPTION = 2047,
        IDC_FAULT_CAPTION = 2048,
        IDC_STATUS_CAPTION = 2049,
        IDC_OUTPUT_CAPTION = 2050,
    };
    // Control identifiers of the slots' controls, slot 1 first.
    static const int kCheckIds[monitor::kSlotCount];
    static const int kColorIds[monitor::kSlotCount];
    static const int kListIds[monitor::kSlotCount];
    static const int kValueIds[monitor::kSlotCount];
    static const int kScalingIds[monitor::kSlotCount];
    static constexpr int kMargin = 10;
    // Points of a live series after which the lines restart at the left.
    static constexpr int kSeriesRestart = 10000;

    explicit CDialogRTLine(QWidget* parent = nullptr);
    ~CDialogRTLine() override;

    void SetTable(ParamTable* table) override;
    void UpdateButtons(bool normalConnected) override;
    // Lamps and status take the "not answering" look at once.
    void LinkHealthChanged() override;
    void AuxWorker() override;

    // Who answers the view's questions (the process-wide prompts by default).
    void SetPrompts(CParamPrompts* prompts) { prompts_ = prompts; }
    CParamPrompts& Prompts() const;
    // Who answers the questions about the recording (the process-wide ones
    // by default).
    void SetRecordingPrompts(CRecordingPrompts* prompts) { recordingPrompts_ = prompts; }
    CRecordingPrompts& RecordingQuestions() const;

    // ---- Commands ----
    // False when no log was started (no slot, already logging, or the user
    // kept an unsaved recording).
    bool OnStartLog();
    void OnStopLog();
    void OnSaveData();
    void OnSendRunCommand();
    void OnSetTarget();

    // ---- Timers (GUI thread) ----
    void OnChartTick();
    void OnStatusTick();
    // One sample from the store into the chart; a full redraw after a rescale.
    void ChartStep();
    void FullRedraw();
    void OnHover(const CChartHoverNotice& notice);

    // The buttons and the recording line as the store's recording stands;
    // a log whose sampling thread was stopped from outside (the main window
    // stopping the view's workers) is ended here.
    void SyncWithRecording();
    // The drive's state is not known (no link): grey lamps, "-" for the
    // state and the frequency, until a status read succeeds again.
    void ShowDriveUnknown();
    bool DriveUnknown() const { return driveUnknown_.load(); }

    // ---- State, for the tests and the status line ----
    bool IsLogging() const { return IsRunning(); }
    int IntervalIndex() const { return control_.interval.load(); }
    // Drive commands handed to the sampling thread and not sent yet.
    size_t PendingCommands() const { return control_.commands.Pending(); }
    int CommandIndex() const { return commandIndex_.load(); }
    double TargetHz() const { return targetHz_.load(); }
    const drivecontrol::DriveStatus& Status() const { return status_; }
    int QuantityCount() const { return static_cast<int>(quantityMap_.size()); }
    // The table index of each entry of the quantity lists.
    const std::vector<int>& QuantityMap() const { return quantityMap_; }
    long FailedSweeps() const { return failedSweeps_.load(); }

    QCheckBox* SlotCheck(int slot) const { return slots_[static_cast<size_t>(slot)].check; }
    QComboBox* SlotList(int slot) const { return slots_[static_cast<size_t>(slot)].list; }
    QLineEdit* SlotValue(int slot) const { return slots_[static_cast<size_t>(slot)].value; }
    QLineEdit* SlotScaling(int slot) const { return slots_[static_cast<size_t>(slot)].scaling; }
    CColorPicker* SlotColor(int slot) const { return slots_[static_cast<size_t>(slot)].color; }
    QComboBox* IntervalList() const { return interval_; }
    QCheckBox* ContinuousCheck() const { return continuous_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* SaveButton() const { return save_; }
    QPushButton* SendCommandButton() const { return sendCommand_; }
    QPushButton* SetTargetButton() const { return setTarget_; }
    QRadioButton* CommandRadio(int index) const { return commands_[static_cast<size_t>(index)]; }
    QLineEdit* TargetEdit() const { return target_; }
    QLineEdit* StatusEdit() const { return statusText_; }
    QLineEdit* OutputFrequencyEdit() const { return outputHz_; }
    QColor WarningLampColor() const;
    QColor FaultLampColor() const;
    QLabel* RecordingLabel() const { return recording_; }
    CVKRChartControl* Chart() const;
    QString HistoryFolder() const { return historyFolder_; }
    void SetHistoryFolder(const QString& folder) { historyFolder_ = folder; }

    // The choices kept across monitor views for the rest of the run; tests
    // start from none.
    static void ForgetViewState();

signals:
    // The chart took one step or was redrawn (tests wait for it).
    void chartUpdated();
    // The status panel was refreshed.
    void statusShown();

protected:
    void OnInitDialog() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Slot {
        QCheckBox* check = nullptr;
        CColorPicker* color = nullptr;
        QComboBox* list = nullptr;
        QLineEdit* value = nullptr;
        QLineEdit* scaling = nullptr;
        int recordIndex = -1;
        int exponent = 0;
    };
    // The port all register calls of this view go through: the base's port,
    // one call at a time.
    class LockedPort : public CRegisterPort {
    public:
        explicit LockedPort(CDataDlg& view) : view_(view) {}
        bool ProcRead(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override;
        bool ProcWrite(uint8_t station, uint16_t reg, uint8_t* value, uint8_t* err) override;
        LinkHealth* Health() override { return view_.Port().Health(); }

    private:
        CDataDlg& view_;
        std::mutex mu_;
    };

    void BuildControls();
    void LayoutControls();
    void ArrangeOptions(bool narrow);
    void SetupChart();
    void RebuildSeries();
    // Adds n samples to the lines (and their times to pointTimes_).
    void AddSamplePoints(const void* samples, size_t n);
    void FollowNewest(int n);
    void ShowSlotValue(int slot, double value);
    void ShowSlotScaling(int slot, float scale);
    void ShowStatus();
    void ShowRecording();
    // The store holds samples the chart has not taken yet.
    bool DisplayPending() const;
    void SetSlotDefaults(int slot);
    void RefreshLogButtons();
    // The log has ended (stopped here or from outside): the store learns it,
    // the chart takes the rest, the buttons follow.
    void FinishLog();
    bool Connected() const;
    void ReadStatusAsync();
    void SaveViewState();
    void RestoreViewState();
    const ParamRecord* SlotRecord(int slot) const;
    // A drive command: at once on this thread, or handed to the sampling thread.
    void SendCommand(const drivecontrol::Command& command);
    // Executes a drive command on the calling thread; false when it failed
    // (the message is the caller's).
    bool ExecuteCommand(const drivecontrol::Command& command);
    void ServeCommandOnSampler(const drivecontrol::Command& command);

    std::array<Slot, monitor::kSlotCount> slots_{};
    std::array<QRadioButton*, drivecontrol::kCommandCount> commands_{};
    QGroupBox* options_ = nullptr;
    QScrollArea* optionsScroll_ = nullptr;
    QGridLayout* outer_ = nullptr;
    QLayout* slotsLayout_ = nullptr;
    QGridLayout* logLayout_ = nullptr;
    QLayout* panelLayout_ = nullptr;
    bool narrow_ = false;
    int wideWidth_ = 0;
    CChartBorder<CVKRChartControl>* chart_ = nullptr;
    QComboBox* interval_ = nullptr;
    QCheckBox* continuous_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* sendCommand_ = nullptr;
    QPushButton* setTarget_ = nullptr;
    QLineEdit* target_ = nullptr;
    QFrame* warningLamp_ = nullptr;
    QFrame* faultLamp_ = nullptr;
    QLineEdit* statusText_ = nullptr;
    QLineEdit* outputHz_ = nullptr;
    QLabel* recording_ = nullptr;
    QTimer* chartTimer_ = nullptr;
    QTimer* statusTimer_ = nullptr;

    CParamPrompts* prompts_ = nullptr;
    CRecordingPrompts* recordingPrompts_ = nullptr;
    // This view's log: the store's recording it appends to, and whether the
    // view still treats it as running (GUI thread).
    uint64_t recordingId_ = 0;
    bool logActive_ = false;
    QString historyFolder_;
    std::vector<int> quantityMap_;
    // The time of the sample behind each point of the lines (GUI thread).
    std::vector<uint64_t> pointTimes_;
    bool interlaced_ = true;
    bool antialiased_ = true;

    // Shared with the sampling thread and the status worker.
    LockedPort port_;
    monitor::SamplingControl control_;
    drivecontrol::DriveStatus status_;
    std::atomic<int> commandIndex_{0};
    std::atomic<double> targetHz_{0.0};
    std::atomic<bool> closing_{false};
    std::atomic<bool> statusBusy_{false};
    std::atomic<bool> driveUnknown_{false};
    std::atomic<long> failedSweeps_{0};
    std::atomic<int> lostSlot_{-1};  // slot of the latest lost sweep
    std::atomic<int> lostErr_{0};
    monitor::SlotPlans plans_{};
};
