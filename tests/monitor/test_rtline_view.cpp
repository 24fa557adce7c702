// The real-time monitor view on the offscreen platform against the drive
// simulator on a pseudo-terminal: starting and stopping logs, what reaches
// the sample store, the overrun rule, the drive control panel, the chart
// after a rescale, the choices kept across views, and closing the view while
// its sampling thread is busy.
#include "ChartControl.h"
#include "DialogRTLine.h"
#include "DriveControl.h"
#include "HistoryFile.h"
#include "LinkHealth.h"
#include "MonitorBuffer.h"
#include "MonitorTestSupport.h"
#include "ParamsTestSupport.h"
#include "RecordingGuard.h"
#include "RegisterAccess.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <memory>

using namespace ptest;

namespace {

// The test's answers to the questions about the recording: unsaved samples
// are let go unless the test says otherwise; a save goes to `file`.
struct RecordingAnswers : CRecordingPrompts {
    Answer answer = Answer::Discard;
    QString file;
    bool replace = true;
    QStringList messages;
    QList<uint32_t> asked;  // the sample counts the question named
    QStringList replaceAsks;
    Answer AskUnsaved(QWidget*, uint32_t samples) override
    {
        asked << samples;
        return answer;
    }
    QString AskSaveFile(QWidget*, const QString&) override { return file; }
    bool ConfirmReplace(QWidget*, const QString& path) override
    {
        replaceAsks << path;
        return replace;
    }
    void ShowMessage(QWidget*, const QString& text) override { messages << text; }
};

// A monitor view as the main window makes it, with the test's answers.
struct ViewFixture {
    explicit ViewFixture(SimBench& bench, TestPrompts& prompts, CRegisterPort* port = nullptr)
    {
        view = new CDialogRTLine;
        view->SetPrompts(&prompts);
        if (port) view->SetRegisterPort(port);
        view->SetHistoryFolder(QString::fromStdWString(bench.folder()));
        view->resize(1200, 760);
        view->show();
        view->SetTable(&bench.table());
    }
    ~ViewFixture() { CDataDlg::Destroy(view.data()); }
    QPointer<CDialogRTLine> view;
};

void EnableOnly(CDialogRTLine& v, std::initializer_list<int> which)
{
    for (int i = 0; i < monitor::kSlotCount; ++i) v.SlotCheck(i)->setChecked(false);
    for (int i : which) v.SlotCheck(i)->setChecked(true);
}

const ParamRecord& SlotRecord(SimBench& bench, CDialogRTLine& v, int slot)
{
    return *bench.table().RecordByIndex(v.QuantityMap()[static_cast<size_t>(v.SlotList(slot)->currentIndex())]);
}

uint16_t SimRegister(SimBench& bench, uint16_t reg)
{
    uint16_t v = 0;
    bench.sim().readRegister(reg, &v);
    return v;
}

class RtlineView : public ::testing::Test {
protected:
    void SetUp() override
    {
        CDialogRTLine::ForgetViewState();
        SetRecordingPrompts(&answers);
    }
    void TearDown() override
    {
        SetRecordingPrompts(nullptr);
        CDialogRTLine::ForgetViewState();
    }
    RecordingAnswers answers;
};

}  // namespace

TEST_F(RtlineView, ListsSlotsAndNoSlotMeansNoLog)
{
    SimBench bench;
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;

    // Group 9 only, numbered from 0, in table order.
    int n = 0;
    for (const ParamRecord& r : bench.table().params)
        if (r.groupNumber == 9) {
            ASSERT_LT(n, v.QuantityCount());
            EXPECT_EQ(v.QuantityMap()[static_cast<size_t>(n)], r.index);
            EXPECT_TRUE(v.SlotList(0)->itemText(n).startsWith(QStringLiteral("%1:").arg(n)));
            ++n;
        }
    EXPECT_EQ(n, v.QuantityCount());
    for (int i = 0; i < monitor::kSlotCount; ++i) {
        EXPECT_EQ(v.SlotList(i)->currentIndex(), i);
        EXPECT_EQ(v.SlotCheck(i)->isChecked(), i == 0);
    }
    EXPECT_EQ(v.IntervalList()->currentText(), QStringLiteral("1sec"));
    EXPECT_EQ(v.IntervalList()->count(), 10);
    EXPECT_TRUE(v.StartButton()->isEnabled());
    EXPECT_FALSE(v.StopButton()->isEnabled());
    EXPECT_FALSE(v.SaveButton()->isEnabled());
    EXPECT_TRUE(v.SendCommandButton()->isEnabled());
    EXPECT_EQ(v.StatusEdit()->text(), QStringLiteral("-"));

    EnableOnly(v, {});
    const long before = bench.Requests();
    EXPECT_FALSE(v.OnStartLog());
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("Please select the physical quantity to monitor.")});
    EXPECT_FALSE(v.IsLogging());
    EXPECT_TRUE(v.StartButton()->isEnabled());
    EXPECT_FALSE(v.StopButton()->isEnabled());
    EXPECT_EQ(bench.Requests(), before);

    // Without a connection nothing can be started or sent.
    v.UpdateButtons(false);
    EXPECT_FALSE(v.StartButton()->isEnabled());
    EXPECT_FALSE(v.SendCommandButton()->isEnabled());
    EXPECT_FALSE(v.SetTargetButton()->isEnabled());
}

TEST_F(RtlineView, OneSecondLogStoresTheDrivesValuesAndSaves)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    uint8_t err = 0;
    ASSERT_TRUE(drivecontrol::WriteTarget(ModbusPort(), 1, 30.0, &err));
    ASSERT_TRUE(drivecontrol::WriteRunCommand(ModbusPort(), 1, 0, &err));
    TestPrompts prompts;
    mtest::RecordingPort port;
    ViewFixture f(bench, prompts, &port);
    CDialogRTLine& v = *f.view;
    EnableOnly(v, {0, 2, 5});
    ASSERT_TRUE(v.OnStartLog());
    EXPECT_FALSE(v.StartButton()->isEnabled());
    EXPECT_TRUE(v.StopButton()->isEnabled());
    EXPECT_FALSE(v.SaveButton()->isEnabled());
    CMonitorBuffer& store = TheMonitorBuffer();
    ASSERT_TRUE(WaitFor([&] { return store.count() >= 4; }, 30000));
    v.OnStopLog();
    EXPECT_TRUE(v.SaveButton()->isEnabled());
    EXPECT_TRUE(v.StartButton()->isEnabled());
    EXPECT_FALSE(v.StopButton()->isEnabled());
    // Nothing more reaches the store once the log is stopped.
    const uint32_t held = store.count();
    ASSERT_TRUE(WaitFor([&] { return v.Workers().Running() == 0; }));
    EXPECT_EQ(store.count(), held);
    const std::vector<MonitorSample> samples = store.HeldSamples();
    const MonitorSignals sigs = store.Signals();

    // One sample per second, each holding what the drive answered.
    for (uint32_t k = 1; k < held; ++k) {
        const uint64_t dt = samples[k].timeMs - samples[k - 1].timeMs;
        EXPECT_GE(dt, 900u);
        EXPECT_LE(dt, 1600u);
    }
    for (int slot : {0, 2, 5}) {
        const ParamRecord& r = SlotRecord(bench, v, slot);
        EXPECT_EQ(sigs[slot].address, static_cast<uint32_t>(r.address));
        EXPECT_EQ(sigs[slot].enabled, 1);
        const std::vector<uint16_t> words = port.WordsOf(regaccess::RegisterOf(r));
        ASSERT_GE(words.size(), held);
        for (uint32_t k = 0; k < held; ++k) {
            EXPECT_EQ(samples[k].entries[slot].valid, 1);
            EXPECT_FLOAT_EQ(samples[k].entries[slot].value, static_cast<float>(Engineering(words[k], r)));
        }
    }
    for (int slot : {1, 3, 4, 6, 7, 8, 9}) {
        EXPECT_EQ(sigs[slot].enabled, 0);
        EXPECT_EQ(samples[0].entries[slot].valid, 0);
    }
    EXPECT_EQ(store.State().intervalName, L"1sec");

    // Save: ".xls" appended, and the file reads back as the recording.
    answers.file = QString::fromStdWString(bench.folder()) + QStringLiteral("run1");
    v.OnSaveData();
    ASSERT_EQ(answers.messages.size(), 1);
    EXPECT_EQ(answers.messages.last(), QStringLiteral("The file is saved successfully."));
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Saved);
    const history::LoadResult result = history::CHistoryReader(bench.table(), store).Load(bench.folder() + L"run1.xls");
    EXPECT_TRUE(result.accepted) << result.error;
    ASSERT_EQ(store.count(), held);
    EXPECT_EQ(result.intervalText, L"1sec");
    const std::vector<MonitorSample> back = store.HeldSamples();
    for (int slot : {0, 2, 5}) {
        EXPECT_TRUE(result.slotInfo[slot].recorded);
        for (uint32_t k = 0; k < held; ++k) EXPECT_FLOAT_EQ(back[k].entries[slot].value, samples[k].entries[slot].value);
    }

    // An empty store cannot be saved.
    store.Reset(false, bench.folder(), L"TV380", L"1sec", MonitorSignals{});
    v.OnSaveData();
    EXPECT_EQ(answers.messages.last(), QStringLiteral("File saving failed."));
}

TEST_F(RtlineView, SlowDriveStepsToSlowerIntervals)
{
    // Every reply 800 ms late, inside the 1000 ms reply time-out: a sweep of
    // one slot and the two status reads takes about 2.5 s, longer than
    // "1sec" and "2sec", shorter than "5sec".
    SimBench bench(1000);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    EnableOnly(v, {0});
    ASSERT_TRUE(bench.sim().setFault("late=800"));
    ASSERT_TRUE(v.OnStartLog());
    CMonitorBuffer& store = TheMonitorBuffer();
    std::vector<QString> seen;
    auto watch = [&] {
        const QString now = v.IntervalList()->currentText();
        if (seen.empty() || seen.back() != now) seen.push_back(now);
    };
    ASSERT_TRUE(WaitFor([&] { watch(); return v.IntervalIndex() == 3; }, 30000));
    ASSERT_TRUE(WaitFor([&] { watch(); return v.IntervalIndex() == 2; }, 30000));
    EXPECT_EQ(seen, (std::vector<QString>{QStringLiteral("1sec"), QStringLiteral("2sec"), QStringLiteral("5sec")}));
    // The recording keeps the interval it started with and notes each step,
    // and the user reads why in the recording line.
    const RecordingState rec = store.Recording();
    EXPECT_EQ(store.State().intervalName, L"1sec");
    ASSERT_EQ(rec.intervalChanges.size(), 2u);
    EXPECT_EQ(rec.intervalChanges[0].intervalName, L"2sec");
    EXPECT_EQ(rec.intervalChanges[1].intervalName, L"5sec");
    EXPECT_EQ(rec.intervalChanges[1].reason, L"overruns");
    ASSERT_TRUE(WaitFor([&] { return v.RecordingLabel()->text().contains(QStringLiteral("Interval raised to 5sec")); }));
    EXPECT_EQ(TheLinkHealth().state(), LinkHealth::State::Answering);
    v.OnStopLog();
}

TEST_F(RtlineView, SilentDriveShowsNotAnsweringKeepsItsIntervalAndRecovers)
{
    // 300 ms reply time-out: a silent sweep with its status reads takes well
    // over the "1sec" interval, which an answering drive would step from.
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    EnableOnly(v, {0});
    ASSERT_TRUE(v.OnStartLog());
    CMonitorBuffer& store = TheMonitorBuffer();
    ASSERT_TRUE(WaitFor([&] { return store.count() >= 1; }));
    ASSERT_TRUE(WaitFor([&] { return v.StatusEdit()->text() == QStringLiteral("Stop"); }));

    bench.sim().setFault(drivesim::FaultKind::Silence);
    ASSERT_TRUE(WaitFor([&] { return TheLinkHealth().state() == LinkHealth::State::NotAnswering; }));
    // The panel no longer claims a status: at the next status tick (one
    // "1sec" period) here; in the program the main window tells the view at once.
    ASSERT_TRUE(WaitFor([&] { return v.StatusEdit()->text() == QStringLiteral("Not answering"); }, 1500));
    const QColor grey(160, 160, 160);
    EXPECT_EQ(v.WarningLampColor(), grey);
    EXPECT_EQ(v.FaultLampColor(), grey);
    // The log goes on, counting lost sweeps, at the interval the user chose.
    ASSERT_TRUE(WaitFor([&] { return v.FailedSweeps() >= 4; }, 30000));
    EXPECT_TRUE(v.IsLogging());
    EXPECT_EQ(v.IntervalIndex(), 4);
    EXPECT_EQ(store.State().intervalName, L"1sec");

    const uint32_t before = store.count();
    bench.sim().clearFault(drivesim::FaultKind::Silence);
    ASSERT_TRUE(WaitFor([&] { return store.count() >= before + 2; }, 30000));
    ASSERT_TRUE(WaitFor([&] { return v.StatusEdit()->text() == QStringLiteral("Stop"); }));
    EXPECT_EQ(v.WarningLampColor(), QColor(0, 255, 0));
    EXPECT_EQ(v.IntervalIndex(), 4);
    v.OnStopLog();
}

TEST_F(RtlineView, PanelWritesAtOnceWithoutALogAndThroughTheSamplerDuringOne)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;

    // No log: the stop code goes out at once.
    v.CommandRadio(2)->setChecked(true);
    v.SendCommandButton()->click();
    EXPECT_EQ(SimRegister(bench, 9999), 5);
    EXPECT_EQ(v.CommandIndex(), 2);

    // The target through the number dialog, 590 Hz at most.
    prompts.numberText = QStringLiteral("590");
    v.OnSetTarget();
    EXPECT_EQ(prompts.editorTitle, QStringLiteral("Target Hz"));
    EXPECT_EQ(SimRegister(bench, 10000), 59000);
    EXPECT_EQ(v.TargetEdit()->text(), QStringLiteral("590.00"));
    // A refused entry and a cancel send nothing: the drive keeps its target.
    bench.sim().writeRegister(10000, 1234);
    const long beforeCancel = bench.Requests();
    prompts.numberText = QStringLiteral("591");
    v.OnSetTarget();
    EXPECT_FALSE(prompts.refusals.isEmpty());
    prompts.refusals.clear();
    {
        struct CancelPrompts : TestPrompts {
            bool RunNumberDialog(CDlgInputPara&) override { return false; }
        } cancel;
        v.SetPrompts(&cancel);
        v.OnSetTarget();
        v.SetPrompts(&prompts);
    }
    EXPECT_EQ(bench.Requests(), beforeCancel);
    EXPECT_EQ(SimRegister(bench, 10000), 1234);
    EXPECT_DOUBLE_EQ(v.TargetHz(), 590.0);
    prompts.numberText = QStringLiteral("50.07");
    v.OnSetTarget();
    EXPECT_EQ(SimRegister(bench, 10000), 5007);
    // Finer than the register: rounded, shown, and taken at the second OK as shown.
    prompts.numberText = QStringLiteral("50.075");
    prompts.okPresses = 2;
    v.OnSetTarget();
    prompts.okPresses = 1;
    EXPECT_EQ(v.TargetEdit()->text(), QStringLiteral("50.08"));
    EXPECT_EQ(SimRegister(bench, 10000), 5008);
    EXPECT_TRUE(prompts.messages.isEmpty());

    // During a log the sampling thread writes the command, between its reads.
    EnableOnly(v, {0});
    v.IntervalList()->setCurrentIndex(0);  // "20sec": the thread mostly waits
    ASSERT_TRUE(v.OnStartLog());
    ASSERT_TRUE(WaitFor([&] { return v.Status().runState.load() == 0; }));
    v.CommandRadio(0)->setChecked(true);
    v.SendCommandButton()->click();
    EXPECT_EQ(v.PendingCommands(), 1u);
    ASSERT_TRUE(WaitFor([&] { return SimRegister(bench, 9999) == 1; }, 5000));
    EXPECT_EQ(v.PendingCommands(), 0u);
    ASSERT_TRUE(WaitFor([&] { return bench.sim().outputHz() > 1.0; }));

    // A write the drive refuses shows its message on the GUI thread while
    // the sampling thread waits, and sampling goes on afterwards.
    bench.sim().setFault(drivesim::FaultKind::Exception);
    v.SendCommandButton()->click();
    ASSERT_TRUE(WaitFor([&] { return prompts.messages.size() == 1; }, 10000));
    EXPECT_EQ(prompts.messages.last(), QStringLiteral("Inverter start and stop control failed."));
    bench.sim().clearFault(drivesim::FaultKind::Exception);
    EXPECT_TRUE(v.IsLogging());
    v.OnStopLog();

    // A failed write without a log.
    bench.sim().setFault(drivesim::FaultKind::Exception);
    prompts.numberText = QStringLiteral("50");
    v.OnSetTarget();
    EXPECT_EQ(prompts.messages.last(), QStringLiteral("Inverter target operating frequency setting failed."));
    bench.sim().clearFault(drivesim::FaultKind::Exception);
}

TEST_F(RtlineView, StatusLampsAndTextFollowTheDrive)
{
    SimBench bench(200);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    const QColor red(255, 0, 0), green(0, 255, 0);
    EXPECT_EQ(v.WarningLampColor(), green);

    uint8_t err = 0;
    ASSERT_TRUE(drivecontrol::WriteTarget(ModbusPort(), 1, 10.0, &err));
    ASSERT_TRUE(drivecontrol::WriteRunCommand(ModbusPort(), 1, 0, &err));
    bench.sim().setFault(drivesim::FaultKind::DriveWarning);  // status 0x05
    ASSERT_TRUE(WaitFor([&] { return v.StatusEdit()->text() == QStringLiteral("Forward running"); }));
    EXPECT_EQ(v.WarningLampColor(), red);
    EXPECT_EQ(v.FaultLampColor(), green);
    ASSERT_TRUE(WaitFor([&] { return v.OutputFrequencyEdit()->text().toDouble() > 2.0; }));

    bench.sim().clearFault(drivesim::FaultKind::DriveWarning);
    bench.sim().setFault(drivesim::FaultKind::DriveFault);  // status 0x0E
    ASSERT_TRUE(WaitFor([&] { return v.FaultLampColor() == red; }));
    ASSERT_TRUE(WaitFor([&] { return v.StatusEdit()->text() == QStringLiteral("-"); }));

    // A silent drive's last status is not shown as if it were current.
    bench.sim().setFault(drivesim::FaultKind::Silence);
    ASSERT_TRUE(WaitFor([&] { return v.StatusEdit()->text() == QStringLiteral("Not answering"); }));
    EXPECT_EQ(v.FaultLampColor(), QColor(160, 160, 160));
    bench.sim().clearFault(drivesim::FaultKind::Silence);
    ASSERT_TRUE(WaitFor([&] { return v.FaultLampColor() == red; }));
}

TEST_F(RtlineView, RescaleRedrawsTheLinesAndTheScalingTexts)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    // The slot whose quantity grows with the output frequency.
    int slot = -1;
    for (int i = 0; i < monitor::kSlotCount && slot < 0; ++i) {
        const ParamRecord& r = SlotRecord(bench, v, i);
        if (r.name.find(L"requency") != std::wstring::npos) slot = i;
    }
    ASSERT_GE(slot, 0);
    EnableOnly(v, {slot});
    v.IntervalList()->setCurrentIndex(8);  // "100ms"
    const QString initial = v.SlotScaling(slot)->text();
    ASSERT_TRUE(v.OnStartLog());
    CMonitorBuffer& store = TheMonitorBuffer();
    const float scale0 = store.Signal(slot).scale;
    ASSERT_TRUE(WaitFor([&] { return v.Chart()->SeriesCount() == 1 && v.Chart()->PointCount(0) >= 3; }));

    uint8_t err = 0;
    ASSERT_TRUE(drivecontrol::WriteTarget(ModbusPort(), 1, 40.0, &err));
    v.CommandRadio(0)->setChecked(true);
    v.SendCommandButton()->click();
    ASSERT_TRUE(WaitFor([&] { return store.Signal(slot).scale > scale0 * 4 && !store.rescaled(); }, 30000));
    ASSERT_TRUE(WaitFor([&] { return v.SlotScaling(slot)->text() != initial; }));
    v.OnStopLog();
    ASSERT_TRUE(WaitFor([&] { return v.Workers().Running() == 0; }));
    // Stop lets the chart take what is left: every sample once, none twice.
    const float scale = store.Signal(slot).scale;
    EXPECT_FLOAT_EQ(v.SlotScaling(slot)->text().toFloat(), scale);
    const std::vector<MonitorSample> held = store.HeldSamples();
    ASSERT_EQ(v.Chart()->PointCount(0), static_cast<int>(held.size()));
    for (uint32_t k = 0; k < held.size(); ++k) {
        const SampleEntry& e = held[k].entries[slot];
        EXPECT_FLOAT_EQ(static_cast<float>(v.Chart()->Point(0, static_cast<int>(k)).y()), e.percent);
        EXPECT_LE(e.value, scale);
    }
    EXPECT_FALSE(store.rescaled());
}

TEST_F(RtlineView, ReopeningRestoresTheChoices)
{
    SimBench bench;
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    {
        ViewFixture f(bench, prompts);
        CDialogRTLine& v = *f.view;
        EnableOnly(v, {1, 4});
        v.SlotList(1)->setCurrentIndex(7);
        v.SlotList(4)->setCurrentIndex(2);
        v.IntervalList()->setCurrentIndex(7);
        v.ContinuousCheck()->setChecked(true);
        v.CommandRadio(3)->setChecked(true);
        prompts.numberText = QStringLiteral("12.5");
        v.OnSetTarget();
    }
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    for (int i = 0; i < monitor::kSlotCount; ++i) EXPECT_EQ(v.SlotCheck(i)->isChecked(), i == 1 || i == 4) << i;
    EXPECT_EQ(v.SlotList(1)->currentIndex(), 7);
    EXPECT_EQ(v.SlotList(4)->currentIndex(), 2);
    EXPECT_EQ(v.SlotList(0)->currentIndex(), 0);
    EXPECT_EQ(v.IntervalList()->currentText(), QStringLiteral("200ms"));
    EXPECT_TRUE(v.ContinuousCheck()->isChecked());
    EXPECT_TRUE(v.CommandRadio(3)->isChecked());
    EXPECT_EQ(v.CommandIndex(), 3);
    EXPECT_DOUBLE_EQ(v.TargetHz(), 12.5);
    EXPECT_EQ(v.TargetEdit()->text(), QStringLiteral("12.50"));
}

TEST_F(RtlineView, ClosingDuringALogAndDuringItsMessageReturnsPromptly)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    {
        auto f = std::make_unique<ViewFixture>(bench, prompts);
        EnableOnly(*f->view, {0, 1});
        f->view->IntervalList()->setCurrentIndex(0);  // "20sec"
        ASSERT_TRUE(f->view->OnStartLog());
        // The first sweep and its status reads are done; the thread now waits
        // out the rest of the 20 s period.
        ASSERT_TRUE(WaitFor([&] { return f->view->Status().runState.load() == 0; }));
        QElapsedTimer t;
        t.start();
        f.reset();
        EXPECT_LT(t.elapsed(), 5000);
    }
    // A failed write of the sampling thread: the view is replaced while its
    // message is up, and the thread waiting for that message lets go.
    auto f = std::make_unique<ViewFixture>(bench, prompts);
    EnableOnly(*f->view, {0});
    f->view->IntervalList()->setCurrentIndex(0);
    ASSERT_TRUE(f->view->OnStartLog());
    qint64 closeMs = -1;
    prompts.onMessage = [&](const QString&) {
        QElapsedTimer t;
        t.start();
        f.reset();
        closeMs = t.elapsed();
    };
    bench.sim().setFault(drivesim::FaultKind::Exception);
    QMetaObject::invokeMethod(f->view->SendCommandButton(), "click");
    ASSERT_TRUE(WaitFor([&] { return closeMs >= 0; }, 20000));
    EXPECT_FALSE(f);
    EXPECT_LT(closeMs, 5000);
    EXPECT_EQ(prompts.messages.last(), QStringLiteral("Inverter start and stop control failed."));
    bench.sim().clearFault(drivesim::FaultKind::Exception);
}

TEST_F(RtlineView, ARecordingOutlivesItsViewAndWorkersStoppedFromOutside)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    CMonitorBuffer& store = TheMonitorBuffer();
    {
        ViewFixture f(bench, prompts);
        CDialogRTLine& v = *f.view;
        EnableOnly(v, {0});
        v.IntervalList()->setCurrentIndex(8);  // "100ms"
        ASSERT_TRUE(v.OnStartLog());
        ASSERT_TRUE(WaitFor([&] { return store.count() >= 3; }));
        // The main window stops the view's workers (Connect, Disconnect, Open
        // Data) and tells it the connection state: the log has ended.
        v.StopWorkers();
        v.UpdateButtons(true);
        EXPECT_FALSE(v.IsLogging());
        EXPECT_TRUE(v.StartButton()->isEnabled());
        EXPECT_FALSE(v.StopButton()->isEnabled());
        EXPECT_TRUE(v.SaveButton()->isEnabled());
        EXPECT_EQ(store.Recording().phase, RecordingPhase::Stopped);
    }
    const RecordingState left = store.Recording();
    ASSERT_GE(left.unsaved, 3u);

    // Back in a new monitor view the recording is still there to save.
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    EXPECT_TRUE(v.SaveButton()->isEnabled());
    const QString path = QString::fromStdWString(bench.folder()) + QStringLiteral("kept.xls");
    QFile(path).open(QIODevice::WriteOnly);
    answers.file = path;
    answers.replace = false;  // an existing file is not replaced unasked
    v.OnSaveData();
    EXPECT_EQ(answers.replaceAsks, QStringList{path});
    EXPECT_TRUE(answers.messages.isEmpty());
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Stopped);
    answers.replace = true;
    v.OnSaveData();
    EXPECT_EQ(answers.messages, QStringList{QStringLiteral("The file is saved successfully.")});
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Saved);
    EXPECT_EQ(store.Recording().unsaved, 0u);
    EXPECT_TRUE(v.RecordingLabel()->text().contains(QStringLiteral("Saved: kept.xls")));
    CMonitorBuffer back;
    const history::LoadResult r = history::CHistoryReader(bench.table(), back).Load(path.toStdWString());
    EXPECT_TRUE(r.accepted) << r.error;
    EXPECT_EQ(back.count(), left.samples);
}

TEST_F(RtlineView, StartAsksBeforeItReplacesAnUnsavedRecording)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    EnableOnly(v, {0});
    v.IntervalList()->setCurrentIndex(8);
    CMonitorBuffer& store = TheMonitorBuffer();
    ASSERT_TRUE(v.OnStartLog());
    ASSERT_TRUE(WaitFor([&] { return store.count() >= 3; }));
    v.OnStopLog();
    const uint32_t held = store.count();
    answers.answer = CRecordingPrompts::Answer::Cancel;
    EXPECT_FALSE(v.OnStartLog());
    EXPECT_EQ(answers.asked, QList<uint32_t>{held});
    EXPECT_EQ(store.count(), held);
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Stopped);
    answers.answer = CRecordingPrompts::Answer::Save;
    answers.file = QString::fromStdWString(bench.folder()) + QStringLiteral("before-next");
    ASSERT_TRUE(v.OnStartLog());
    EXPECT_TRUE(QFileInfo::exists(answers.file + QStringLiteral(".xls")));
    v.OnStopLog();
}

TEST_F(RtlineView, CommandsReachASlowDriveAsPressedAndAStopIsNeverLost)
{
    SimBench bench(600);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    mtest::RecordingPort port;
    ViewFixture f(bench, prompts, &port);
    CDialogRTLine& v = *f.view;
    EnableOnly(v, {0, 1, 2});
    v.IntervalList()->setCurrentIndex(9);  // "50ms": the thread is always busy
    // Replies dribble in a byte every 15 ms.
    drivesim::FaultSetting slow = drivesim::defaultFaultSetting(drivesim::FaultKind::Split);
    slow.arg = 1;
    slow.arg2 = 15;
    bench.sim().setFault(drivesim::FaultKind::Split, slow);
    ASSERT_TRUE(v.OnStartLog());
    // Forward, then stop, then reverse selected but never sent.
    v.CommandRadio(0)->setChecked(true);
    v.SendCommandButton()->click();
    v.CommandRadio(2)->setChecked(true);
    v.SendCommandButton()->click();
    v.CommandRadio(1)->setChecked(true);
    ASSERT_TRUE(WaitFor([&] { return v.PendingCommands() == 0; }, 20000));
    v.OnStopLog();
    ASSERT_TRUE(WaitFor([&] { return v.Workers().Running() == 0; }));
    std::vector<uint16_t> sent;
    for (const mtest::RecordingPort::Write& w : port.Writes())
        if (w.reg == drivecontrol::kRunCommandRegister) sent.push_back(w.word);
    EXPECT_EQ(sent, (std::vector<uint16_t>{1, 5}));
    bench.sim().clearFault(drivesim::FaultKind::Split);
    EXPECT_EQ(SimRegister(bench, 9999), 5);
}

TEST_F(RtlineView, AfterDisconnectTheDriveStateIsUnknown)
{
    SimBench bench(200);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    uint8_t err = 0;
    ASSERT_TRUE(drivecontrol::WriteTarget(ModbusPort(), 1, 40.0, &err));
    ASSERT_TRUE(drivecontrol::WriteRunCommand(ModbusPort(), 1, 0, &err));
    ASSERT_TRUE(WaitFor([&] { return v.StatusEdit()->text() == QStringLiteral("Forward running"); }));
    EXPECT_EQ(v.WarningLampColor(), QColor(0, 255, 0));
    bench.app().OnDisconnect();
    v.UpdateButtons(false);
    EXPECT_TRUE(v.DriveUnknown());
    EXPECT_EQ(v.StatusEdit()->text(), QStringLiteral("-"));
    EXPECT_EQ(v.OutputFrequencyEdit()->text(), QStringLiteral("-"));
    EXPECT_NE(v.WarningLampColor(), QColor(0, 255, 0));
    EXPECT_NE(v.FaultLampColor(), QColor(0, 255, 0));
}

TEST_F(RtlineView, TimesInTheFileAreTheSamplesOwnAcrossIntervalChangesAndLostSweeps)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    EnableOnly(v, {0, 1});
    CMonitorBuffer& store = TheMonitorBuffer();
    ASSERT_TRUE(v.OnStartLog());  // "1sec"
    ASSERT_TRUE(WaitFor([&] { return store.count() >= 2; }, 10000));
    v.IntervalList()->setCurrentIndex(8);  // the user makes it "100ms"
    // The chart keeps up with the faster interval.
    ASSERT_TRUE(WaitFor([&] { return store.count() >= 15; }, 20000));
    EXPECT_GE(v.Chart()->PointCount(0) + 3, static_cast<int>(store.count()));
    // A slow drive: its sweeps overrun the interval, which is raised.
    ASSERT_TRUE(bench.sim().setFault("late=150"));
    ASSERT_TRUE(WaitFor([&] { return v.IntervalIndex() < 8; }, 30000));
    bench.sim().clearFault(drivesim::FaultKind::Late);
    // The drive drops out: sweeps are lost.
    bench.sim().setFault(drivesim::FaultKind::Silence);
    ASSERT_TRUE(WaitFor([&] { return v.FailedSweeps() >= 2; }, 30000));
    bench.sim().clearFault(drivesim::FaultKind::Silence);
    const uint32_t back = store.count();
    ASSERT_TRUE(WaitFor([&] { return store.count() >= back + 3; }, 20000));
    v.OnStopLog();
    // Stop draws what is left at once.
    EXPECT_EQ(v.Chart()->PointCount(0), static_cast<int>(store.count()));

    answers.file = QString::fromStdWString(bench.folder()) + QStringLiteral("timed.xls");
    v.OnSaveData();
    ASSERT_EQ(answers.messages, QStringList{QStringLiteral("The file is saved successfully.")});
    const std::vector<MonitorSample> held = store.HeldSamples();
    std::string err;
    const QJsonObject book = ReadWithXlrd(answers.file, &err);
    ASSERT_TRUE(err.empty()) << err;
    const QJsonArray rows = book.value(QStringLiteral("rows")).toArray();
    ASSERT_EQ(rows.size(), static_cast<int>(held.size()) + 3);
    EXPECT_EQ(rows[1].toArray()[0].toObject().value(QStringLiteral("value")).toString(), QStringLiteral("1sec"));
    const QString changes = rows[1].toArray()[11].toObject().value(QStringLiteral("value")).toString();
    EXPECT_TRUE(changes.contains(QStringLiteral("1sec -> 100ms"))) << changes.toStdString();
    EXPECT_TRUE(changes.contains(QStringLiteral("(overruns)"))) << changes.toStdString();
    for (size_t k = 0; k < held.size(); ++k) {
        const double t = rows[static_cast<int>(k) + 3].toArray()[11].toObject().value(QStringLiteral("value")).toDouble();
        EXPECT_LE(std::fabs(t - static_cast<double>(held[k].timeMs)), 1.0) << "row " << k;
    }
    // The gap of the lost sweeps is where it happened, not spread over the rows.
    uint64_t widest = 0;
    for (size_t k = 1; k < held.size(); ++k) widest = std::max(widest, held[k].timeMs - held[k - 1].timeMs);
    EXPECT_GE(widest, 1000u);
}

TEST_F(RtlineView, LiveChartShowsOnlyWhatItDrewInTheFormatRecorded)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    CMonitorBuffer& store = TheMonitorBuffer();
    // Two quantities whose values are formatted differently.
    auto fresh = std::make_unique<ViewFixture>(bench, prompts);
    CDialogRTLine* v = fresh->view;
    int other = -1;
    for (int i = 1; i < v->QuantityCount() && other < 0; ++i)
        if (bench.table().RecordByIndex(v->QuantityMap()[static_cast<size_t>(i)])->exponent !=
            SlotRecord(bench, *v, 0).exponent)
            other = i;
    ASSERT_GT(other, 0);
    const int recordedExponent = SlotRecord(bench, *v, 0).exponent;
    EnableOnly(*v, {0});
    v->IntervalList()->setCurrentIndex(0);  // "20sec": the thread mostly waits
    ASSERT_TRUE(v->OnStartLog());
    // The slot's list changes during the log; a value below zero arrives
    // (appended here: the sampling thread's first sample is 20 s away).
    const QString scaling = v->SlotScaling(0)->text();
    v->SlotList(0)->setCurrentIndex(other);
    EXPECT_EQ(v->SlotScaling(0)->text(), scaling);
    MonitorSample above{}, below{};
    above.entries[0] = {1, 0.5f * store.Signal(0).scale, 0};
    below.entries[0] = {1, -1.5f * store.Signal(0).scale, 0};
    ASSERT_TRUE(store.Append(monitor::NowMs(), above));
    ASSERT_TRUE(store.Append(monitor::NowMs() + 1, below));
    v->ChartStep();
    EXPECT_EQ(v->SlotValue(0)->text(), QString::fromStdWString(FormatByExponent(below.entries[0].value, recordedExponent)));
    EXPECT_LE(v->Chart()->RangeMinimum(ChartAxis::Value), -150.0);
    EXPECT_DOUBLE_EQ(v->Chart()->RangeMaximum(ChartAxis::Value), 100.1);
    v->OnStopLog();
    ASSERT_EQ(v->Chart()->PointCount(0), static_cast<int>(store.count()));
    CChartHoverNotice notice;
    notice.index = 1;
    v->SlotValue(0)->clear();
    v->OnHover(notice);
    EXPECT_EQ(v->SlotValue(0)->text(), QString::fromStdWString(FormatByExponent(below.entries[0].value, recordedExponent)));

    // A new view has drawn nothing: hovering shows nothing of the store.
    fresh.reset();
    ViewFixture f(bench, prompts);
    f.view->SlotValue(0)->clear();
    f.view->OnHover(notice);
    EXPECT_TRUE(f.view->SlotValue(0)->text().isEmpty());
}

TEST_F(RtlineView, HoverAfterTheLinesRestartShowsThePointsOwnSample)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    EnableOnly(v, {0});
    v.ContinuousCheck()->setChecked(true);
    v.IntervalList()->setCurrentIndex(0);  // "20sec": the samples here are the test's
    ASSERT_TRUE(v.OnStartLog());
    CMonitorBuffer& store = TheMonitorBuffer();
    const float scale = store.Signal(0).scale;
    const int exponent = SlotRecord(bench, v, 0).exponent;
    auto valueOf = [&](uint32_t k) { return scale * static_cast<float>(k) / 20000.0f; };
    uint32_t k = 0;
    const uint64_t t0 = monitor::NowMs();
    auto appendUpTo = [&](uint32_t last) {
        for (; k < last; ++k) {
            MonitorSample s{};
            s.entries[0] = {1, valueOf(k + 1), 0};
            ASSERT_TRUE(store.Append(t0 + k, s));
        }
        v.ChartStep();
    };
    for (uint32_t chunk = 2000; chunk <= 10000; chunk += 2000) appendUpTo(chunk);
    ASSERT_EQ(v.Chart()->PointCount(0), 10000);
    appendUpTo(10005);  // past 10000 points the lines restart
    ASSERT_EQ(v.Chart()->PointCount(0), 5);
    v.OnStopLog();
    CChartHoverNotice notice;
    notice.index = 0;
    v.OnHover(notice);
    EXPECT_EQ(v.SlotValue(0)->text(), QString::fromStdWString(FormatByExponent(valueOf(10001), exponent)));
    ASSERT_TRUE(store.WaitAutoSaves(60000));
}

// A new log starts at the left of an axis that says what it counts, and the
// recording line names nothing of the log before.
TEST_F(RtlineView, ANewLogStartsAtTheLeftWithoutThePreviousLogsAutoSave)
{
    SimBench bench(300);
    ASSERT_TRUE(bench.ok()) << bench.error();
    TestPrompts prompts;
    ViewFixture f(bench, prompts);
    CDialogRTLine& v = *f.view;
    CVKRChartControl* c = v.Chart();
    EXPECT_EQ(c->AxisTitle(ChartAxis::Time), QStringLiteral("Samples"));
    EnableOnly(v, {0});
    v.ContinuousCheck()->setChecked(true);
    v.IntervalList()->setCurrentIndex(0);  // "20sec": the samples here are the test's
    ASSERT_TRUE(v.OnStartLog());
    CMonitorBuffer& store = TheMonitorBuffer();
    const uint64_t t0 = monitor::NowMs();
    for (uint32_t k = 0; k < 1000; ++k) {
        MonitorSample s{};
        s.entries[0] = {1, 1.0f, 0};
        ASSERT_TRUE(store.Append(t0 + k, s));
    }
    v.ChartStep();
    ASSERT_TRUE(store.WaitAutoSaves(60000));
    v.OnStopLog();
    EXPECT_GT(c->VisibleMinimum(ChartAxis::Time), 800.0);
    EXPECT_TRUE(v.RecordingLabel()->text().contains(QStringLiteral("Last auto save: ")));

    ASSERT_TRUE(v.OnStartLog());
    EXPECT_DOUBLE_EQ(c->VisibleMinimum(ChartAxis::Time), 0.0);
    EXPECT_DOUBLE_EQ(c->VisibleMaximum(ChartAxis::Time), 100.1);
    EXPECT_FALSE(v.RecordingLabel()->text().contains(QStringLiteral("auto save"), Qt::CaseInsensitive))
        << v.RecordingLabel()->text().toStdString();
    v.OnStopLog();
}
