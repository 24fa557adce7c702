// Connect and Disconnect from the main window against the simulated drive on
// a pseudo-terminal mapped to COM3: status panes and command enabling.
#include "LinkHealth.h"
#include "Simulator.h"
#include "test_mainframe_util.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>

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
