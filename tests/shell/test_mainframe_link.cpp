// Connect and Disconnect from the main window against the simulated drive on
// a pseudo-terminal mapped to COM3: status panes and command enabling.
#include "LinkHealth.h"
#include "Simulator.h"
#include "test_mainframe_util.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#ifdef TEST_HAVE_MONITOR
#include <QCheckBox>
#include <QComboBox>

#include <functional>

#include "DialogRTLine.h"
#include "HistoryFile.h"
#include "MonitorBuffer.h"
#include "RecordingGuard.h"
#include "RecordingJournal.h"
#include "ShellViews.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdlib>

using namespace mftest;

namespace {

// A simulated drive whose pty is COM3 for this process.
class SimOnCom3 {
public:
    SimOnCom3(const TempDir& dir, drivesim::SimOptions o)
    {
        o.linkPath = dir.file("sim-COM3");
        o.bootSeconds = 0;
        sim_ = std::make_unique<drivesim::Simulator>(std::move(o));
        ok_ = sim_->start(&error_);
        if (ok_) ::setenv("TORVANE_COM3", sim_->options().linkPath.c_str(), 1);
    }
    ~SimOnCom3()
    {
        sim_->stop();
        ::unsetenv("TORVANE_COM3");
    }
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

private:
    std::unique_ptr<drivesim::Simulator> sim_;
    bool ok_ = false;
    std::string error_;
};

// The default reply time-out: a busy machine must not make a silent drive
// out of a slow answer.
void WriteConfig(const TempDir& dir)
{
    WriteText(dir.file("config.ini"),
              "[COM]\nCOMID=3\nbautRate=9600\nDataBit=8\nParity=2,EVEN,偶\ndevAddr=1\nOutTime=1000\nCmdBay=50\n");
}

}  // namespace

TEST_F(FrameTest, ConnectNormalThenDisconnect)
{
    WriteProgramFolder(dir_);
    WriteConfig(dir_);
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Normal;
    o.allRegisters = true;
    SimOnCom3 drive(dir_, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));
    auto* view = dynamic_cast<CTestView*>(frame_->CurrentView());
    ASSERT_NE(view, nullptr);

    frame_->OnCommand(ID_CONNECT);
    ASSERT_TRUE(app_->IsNormalConnected());
    EXPECT_TRUE(prompts_.messages.empty());
    EXPECT_EQ(frame_->PaneText(1), QStringLiteral("Noraml"));
    EXPECT_EQ(frame_->PaneText(2), QStringLiteral("Connect"));
    EXPECT_EQ(frame_->PaneText(3), QStringLiteral("COM3,9600,8,2,EVEN"));
    EXPECT_EQ(frame_->PaneText(4), QStringLiteral("Station:1"));
    EXPECT_FALSE(frame_->Command(ID_CONNECT)->isEnabled());
    EXPECT_TRUE(frame_->Command(ID_DISCONNECT)->isEnabled());
    EXPECT_EQ(view->lastNormal_, 1);

    // Connect is disabled now: choosing it again changes nothing.
    frame_->OnCommand(ID_CONNECT);
    EXPECT_TRUE(app_->IsNormalConnected());

    frame_->OnCommand(ID_DISCONNECT);
    EXPECT_FALSE(app_->IsNormalConnected());
    EXPECT_EQ(frame_->PaneText(1), QString());
    EXPECT_EQ(frame_->PaneText(2), QStringLiteral("DisConn"));
    EXPECT_TRUE(frame_->Command(ID_CONNECT)->isEnabled());
    EXPECT_FALSE(frame_->Command(ID_DISCONNECT)->isEnabled());
    EXPECT_EQ(view->lastNormal_, 0);
}

TEST_F(FrameTest, ConnectFindsBootloaderAndShowsBootState)
{
    WriteProgramFolder(dir_);
    WriteConfig(dir_);
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Boot;
    o.bootLine.baud = 38400;
    SimOnCom3 drive(dir_, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    Start();

    frame_->OnCommand(ID_CONNECT);
    ASSERT_TRUE(app_->IsBootConnected());
    EXPECT_EQ(frame_->PaneText(1), QStringLiteral("Boot"));
    EXPECT_EQ(frame_->PaneText(2), QStringLiteral("Connect"));
    // The boot link's baud rate, not the register link's.
    EXPECT_EQ(frame_->PaneText(3), QStringLiteral("COM3,38400,8,2,EVEN"));
    EXPECT_FALSE(frame_->Command(ID_CONNECT)->isEnabled());
    EXPECT_TRUE(frame_->Command(ID_DISCONNECT)->isEnabled());

    frame_->OnCommand(ID_DISCONNECT);
    EXPECT_EQ(frame_->PaneText(1), QString());
    EXPECT_EQ(frame_->PaneText(2), QStringLiteral("DisConn"));
    EXPECT_TRUE(frame_->Command(ID_CONNECT)->isEnabled());
}

#ifdef TEST_HAVE_MONITOR
namespace {
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
}  // namespace

// A data log in the built monitor view across every action of the main
// window that ends it: each asks first; Cancel keeps the log running, Save
// keeps every sample in a file before the action goes on.
TEST_F(FrameTest, ALogIsNeverEndedUnaskedAndSavedWhenTheUserSaysSo)
{
    WriteProgramFolder(dir_);
    WriteConfig(dir_);
    // A device type with one monitor quantity (group 9).
    ASSERT_TRUE(WriteBook(dir_.file("Parameter/TV380.xls"),
                          {{1, 2, std::wstring(L"TV380")},
                           {2, 1, std::wstring(L"09***")},
                           {2, 2, std::wstring(L"Monitor,监控")},
                           {3, 0, std::wstring(L"9001")},
                           {3, 1, std::wstring(L"09.00")},
                           {3, 2, std::wstring(L"Frequency,频率")}}));
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Normal;
    o.allRegisters = true;
    SimOnCom3 drive(dir_, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    struct Answers : CRecordingPrompts {
        Answer answer = Answer::Save;
        QString folder;
        QList<uint32_t> asked;
        int files = 0;
        Answer AskUnsaved(QWidget*, uint32_t samples) override
        {
            asked << samples;
            return answer;
        }
        QString AskSaveFile(QWidget*, const QString&) override { return folder + QStringLiteral("log%1").arg(++files); }
        void ShowMessage(QWidget*, const QString&) override {}
    } answers;
    answers.folder = dir_.qfile("");
    SetRecordingPrompts(&answers);
    RegisterBuiltViews(views_);
    Start();
    frame_->OnCommand(ID_CONNECT);
    ASSERT_TRUE(app_->IsNormalConnected());
    CMonitorBuffer& store = TheMonitorBuffer();
    auto startLog = [&] {
        if (!app_->IsNormalConnected()) frame_->OnCommand(ID_CONNECT);
        if (!qobject_cast<CDialogRTLine*>(frame_->CurrentView()))
            ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
        auto* v = qobject_cast<CDialogRTLine*>(frame_->CurrentView());
        ASSERT_NE(v, nullptr);
        ASSERT_EQ(v->QuantityCount(), 1);
        v->IntervalList()->setCurrentIndex(8);  // "100ms"
        ASSERT_TRUE(v->OnStartLog());
        const uint32_t at = store.count();
        ASSERT_TRUE(WaitFor([&] { return store.count() >= at + 2; }));
    };
    // Each action asked once and left the whole recording in the file it named.
    auto savedAll = [&](const char* action) {
        EXPECT_EQ(answers.asked.size(), answers.files) << action;
        const RecordingState rec = store.Recording();
        EXPECT_EQ(rec.phase, RecordingPhase::Saved) << action;
        EXPECT_EQ(rec.savedPath, (answers.folder + QStringLiteral("log%1.xls").arg(answers.files)).toStdWString());
        CMonitorBuffer back;
        EXPECT_TRUE(history::CHistoryReader(table_, back).Load(rec.savedPath).accepted) << action;
        EXPECT_EQ(back.count(), rec.samples) << action;
        EXPECT_GE(rec.samples, answers.asked.last()) << action;
    };

    startLog();
    answers.answer = CRecordingPrompts::Answer::Cancel;
    frame_->DevicePane()->SelectNumber(DT_PARAMETER_ROOT);
    EXPECT_EQ(answers.asked.size(), 1);
    ASSERT_TRUE(qobject_cast<CDialogRTLine*>(frame_->CurrentView()));
    EXPECT_TRUE(frame_->CurrentView()->IsRunning());
    EXPECT_EQ(store.Recording().phase, RecordingPhase::Logging);
    answers.asked.clear();
    answers.answer = CRecordingPrompts::Answer::Save;
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_PARAMETER_ROOT));
    savedAll("tree switch");

    startLog();
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    savedAll("language switch");

    startLog();
    frame_->OpenDataFile(dir_.qfile("Parameter/TV380.xls"));
    savedAll("Open Data");

    startLog();
    frame_->OnCommand(ID_DISCONNECT);
    EXPECT_FALSE(app_->IsNormalConnected());
    savedAll("Disconnect");

    startLog();
    EXPECT_TRUE(frame_->close());
    savedAll("close");
    SetRecordingPrompts(nullptr);
}

// Recordings a killed run left behind are offered when the main window is up:
// Yes saves a history file and removes the journal, No keeps the journal and
// says where it is, Discard removes it.
TEST_F(FrameTest, RecordingsLeftBehindAreOfferedAtStart)
{
    WriteProgramFolder(dir_);
    WriteConfig(dir_);
    const std::wstring history = wtext::FromUtf8(dir_.file("history/"));
    ::mkdir(dir_.file("history").c_str(), 0755);
    // Journals of 3, 4 and 5 samples, as a run that ended unsaved leaves them.
    std::vector<std::wstring> journals;
    for (uint32_t n = 3; n <= 5; ++n) {
        CMonitorBuffer store;
        store.EnableJournal(true);
        MonitorSignals sig;
        sig[0] = {9001, L"Frequency", 1, -1, 1.0f};
        const uint64_t id = store.BeginRecording(false, history, L"TV380", L"1sec", sig);
        MonitorSample s;
        s.entries[0] = {1, 12.5f, 0};
        for (uint32_t k = 0; k < n; ++k) ASSERT_TRUE(store.AppendToRecording(id, 1700000000000ULL + 1000 * k, s));
        ASSERT_TRUE(store.WaitWriter(5000));
        journals.push_back(store.JournalPath());
    }
    struct Answers : CRecordingPrompts {
        QStringList asked, shown;
        LeftBehind AskLeftBehind(QWidget*, const QString& text) override
        {
            asked << text;
            if (text.contains(QStringLiteral(" 3 samples"))) return LeftBehind::Save;
            return text.contains(QStringLiteral(" 4 samples")) ? LeftBehind::Keep : LeftBehind::Discard;
        }
        void ShowMessage(QWidget*, const QString& text) override { shown << text; }
    } answers;
    SetRecordingPrompts(&answers);
    RegisterBuiltViews(views_);
    Start();
    ASSERT_TRUE(WaitFor([&] { return answers.asked.size() == 3; }));
    SetRecordingPrompts(nullptr);
    EXPECT_TRUE(answers.asked.contains(monitor::LeftBehindText(3, 1700000000000ULL, 1700000002000ULL)));
    EXPECT_NE(::access(wtext::ToUtf8(journals[0]).c_str(), F_OK), 0) << "saved";
    EXPECT_EQ(::access(wtext::ToUtf8(journals[1]).c_str(), F_OK), 0) << "kept";
    EXPECT_NE(::access(wtext::ToUtf8(journals[2]).c_str(), F_OK), 0) << "discarded";
    ASSERT_EQ(answers.shown.size(), 2);
    const QString savedText = answers.shown.filter(QStringLiteral("saved as")).value(0);
    const QString keptText = answers.shown.filter(QStringLiteral("stays in")).value(0);
    EXPECT_TRUE(keptText.contains(QString::fromStdWString(journals[1]))) << keptText.toStdString();
    const std::wstring file = savedText.section(QStringLiteral("saved as "), 1).chopped(1).toStdWString();
    CMonitorBuffer back;
    ParamTable table;
    table.deviceType = L"TV380";
    const history::LoadResult r = history::CHistoryReader(table, back).Load(file);
    ASSERT_TRUE(r.accepted) << r.error << " " << savedText.toStdString();
    ASSERT_EQ(back.count(), 3u);
    EXPECT_EQ(back.HeldSamples()[2].timeMs, 1700000002000ULL);
    EXPECT_EQ(back.HeldSamples()[2].entries[0].value, 12.5f);
    // What was kept is offered again at the next start.
    EXPECT_EQ(monitor::OfferLeftBehindRecordings(frame_, QString::fromStdWString(history), answers), 1);
}
#endif

TEST_F(FrameTest, LinkPaneSaysWhetherTheDriveAnswersInEitherLanguage)
{
    WriteProgramFolder(dir_);
    WriteConfig(dir_);
    drivesim::SimOptions o;
    o.startMode = drivesim::Mode::Normal;
    o.allRegisters = true;
    SimOnCom3 drive(dir_, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    Start();
    frame_->OnCommand(ID_CONNECT);
    ASSERT_TRUE(app_->IsNormalConnected());
    auto paneBecomes = [&](const QString& text) {
        QElapsedTimer t;
        t.start();
        while (frame_->PaneText(2) != text && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return frame_->PaneText(2) == text;
    };
    // Requests without a reply, as the register master reports them from a
    // worker thread; the pane follows without anyone refreshing it.
    for (int i = 0; i < LinkHealth::kFailuresForSilence; ++i) TheLinkHealth().ReportResult(false, 0xFF);
    EXPECT_TRUE(paneBecomes(QStringLiteral("Not answering")));
    frame_->OnCommand(ID_LANGUAGE_CHINESE);
    EXPECT_TRUE(paneBecomes(QString::fromWCharArray(L"\u65e0\u5e94\u7b54")));
    TheLinkHealth().ReportResult(true, 0);
    EXPECT_TRUE(paneBecomes(QString::fromWCharArray(L"\u5df2\u8fde\u63a5")));
    frame_->OnCommand(ID_LANGUAGE_ENGLISH);
    EXPECT_TRUE(paneBecomes(QStringLiteral("Connect")));
}
