// The application object: start with and without config.ini, the Connect and
// Disconnect commands against a simulated drive, and the exit order.
#include "DataDlg.h"
#include "DevicePlugins.h"
#include "LanguageTables.h"
#include "LinkHealth.h"
#include "LinkMainWindow.h"
#include "ParamTable.h"
#include "LinkTestUtil.h"
#include "TorvaneApp.h"
#include "UiTestUtil.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>
#include <gtest/gtest.h>

using linktest::NewFolder;
using linktest::WriteFile;

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

class ButtonView : public CDataDlg {
public:
    void UpdateButtons(bool normalConnected) override { calls.push_back(normalConnected); }
    std::vector<bool> calls;
};

class App : public ::testing::Test {
protected:
    void SetUp() override { linktest::UnmapAllPorts(); }
    std::unique_ptr<CTorvaneApp> Start(const std::string& folder)
    {
        language_ = std::make_unique<LanguageTables>(W(folder));
        auto app = std::make_unique<CTorvaneApp>(W(folder), language_.get());
        app->InitInstance(false);
        return app;
    }
    CLinkMainWindow* Window(CTorvaneApp& app) { return dynamic_cast<CLinkMainWindow*>(app.MainWindow()); }
    std::unique_ptr<LanguageTables> language_;
};

}  // namespace

TEST_F(App, StartsWithoutConfigFileOnDefaults)
{
    auto app = Start(NewFolder("appdefault"));
    EXPECT_EQ(TheApp(), app.get());
    EXPECT_EQ(app->Settings().COMID, L"-1");
    EXPECT_EQ(app->Settings().bautRate, L"9600");
    EXPECT_FALSE(app->IsNormalConnected());
    EXPECT_FALSE(app->IsBootConnected());
    EXPECT_TRUE(app->CanConnect());
    EXPECT_FALSE(app->CanDisconnect());
    CLinkMainWindow* w = Window(*app);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->paneText(1), QString());
    EXPECT_EQ(w->paneText(2), QStringLiteral("DisConn"));
    EXPECT_EQ(w->paneText(3), QStringLiteral("COM-1,9600,8,2,EVEN"));
    EXPECT_EQ(w->paneText(4), QStringLiteral("Station:1"));
    EXPECT_EQ(app->UserGuideFile(), L"User Guideline for VKR PC Tool.docx");
    EXPECT_FALSE(app->Connection().registerLink().IsOpen());  // no connection at start
    app.reset();
    EXPECT_EQ(TheApp(), nullptr);
}

TEST_F(App, StartsWithTheComSectionAndWithGarbage)
{
    const std::string dir = NewFolder("appsection");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=3\nbautRate=19200\ndevAddr=abc\nOutTime=soon\n");
    auto app = Start(dir);
    EXPECT_EQ(app->Settings().COMID, L"3");
    EXPECT_EQ(app->Settings().bautRate, L"19200");
    EXPECT_EQ(app->Settings().Station(), 0);
    EXPECT_EQ(app->Settings().ReplyTimeout(), 0);
    EXPECT_EQ(Window(*app)->paneText(3), QStringLiteral("COM3,19200,8,2,EVEN"));
    EXPECT_EQ(Window(*app)->paneText(4), QStringLiteral("Station:abc"));
}

TEST_F(App, ConnectAndDisconnectCommands)
{
    linktest::SimDrive drive(2, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    const std::string dir = NewFolder("appconnect");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=2\nOutTime=300\n");
    auto app = Start(dir);
    linktest::RecordingPrompts prompts(&app->Connection());
    app->SetPrompts(&prompts);
    CLinkMainWindow* w = Window(*app);
    auto* view = new ButtonView;
    w->ShowView(view);
    EXPECT_EQ(app->CurrentView(), view);
    view->calls.clear();

    app->OnConnect();
    EXPECT_TRUE(app->IsNormalConnected());
    EXPECT_EQ(view->calls, std::vector<bool>{true});
    EXPECT_EQ(w->paneText(1), QStringLiteral("Noraml"));
    EXPECT_EQ(w->paneText(2), QStringLiteral("Connect"));
    EXPECT_FALSE(app->CanConnect());
    EXPECT_TRUE(prompts.messages.empty());

    app->OnDisconnect();
    EXPECT_FALSE(app->IsNormalConnected());
    EXPECT_EQ(view->calls, (std::vector<bool>{true, false}));
    EXPECT_EQ(w->paneText(2), QStringLiteral("DisConn"));
    EXPECT_FALSE(plugins::HaveModbus());
    app->SetPrompts(nullptr);
}

TEST_F(App, FailedConnectShowsItsMessageThroughTheSeam)
{
    linktest::SilentPort port(3);
    const std::string dir = NewFolder("appfail");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=3\nOutTime=100\n");
    auto app = Start(dir);
    linktest::RecordingPrompts prompts(&app->Connection());
    app->SetPrompts(&prompts);
    app->OnConnect();
    EXPECT_FALSE(app->IsNormalConnected());
    EXPECT_FALSE(app->IsBootConnected());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0],
              L"Device has failed to connect, Please check:\n 1. Device connection \n 2. Serial port settings");
    app->SetPrompts(nullptr);
}

TEST_F(App, ExitStopsTheViewBeforeClosingTheLink)
{
    linktest::SimDrive drive(2, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    const std::string dir = NewFolder("appexit");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=2\nOutTime=300\n");
    auto app = Start(dir);
    linktest::RecordingPrompts prompts(&app->Connection());
    app->SetPrompts(&prompts);
    ASSERT_TRUE(app->AutoConnect());

    // A view whose worker keeps using the register link until it is stopped.
    auto* view = new CDataDlg;
    Window(*app)->ShowView(view);
    auto requests = std::make_shared<std::atomic<int>>(0);
    auto failedWhileRunning = std::make_shared<std::atomic<int>>(0);
    view->SetRunning(true);
    ASSERT_TRUE(view->StartWorker([view, requests, failedWhileRunning] {
        while (view->IsRunning()) {
            ParamRecord r;
            r.address = 0x0101;
            uint8_t err = 0;
            if (!view->ReadRecord(r, &err) && view->IsRunning()) ++*failedWhileRunning;
            ++*requests;
        }
    }));
    ASSERT_TRUE(uitest::PumpUntil([&] { return requests->load() >= 3; }, 10000));
    app->ExitInstance();
    EXPECT_EQ(app->MainWindow(), nullptr);
    EXPECT_FALSE(app->IsNormalConnected());
    EXPECT_FALSE(plugins::HaveModbus());
    EXPECT_EQ(failedWhileRunning->load(), 0);
    app->SetPrompts(nullptr);
}

// The adapter is pulled (the pty closed and its path removed) while a view
// reads, then plugged in again. `autoReconnect` as the settings dialog sets it.
static void PortLostAndBack(CTorvaneApp& app, CLinkMainWindow& w, linktest::SimDrive& drive,
                            linktest::RecordingPrompts& prompts)
{
    app.OnConnect();
    ASSERT_TRUE(app.IsNormalConnected());
    auto* view = new ButtonView;
    w.ShowView(view);
    auto requests = std::make_shared<std::atomic<int>>(0);
    view->SetRunning(true);
    ASSERT_TRUE(view->StartWorker([view, requests] {
        while (view->IsRunning()) {
            ParamRecord r;
            r.address = 0x0101;
            uint8_t err = 0;
            view->ReadRecord(r, &err);
            ++*requests;
        }
    }));
    ASSERT_TRUE(uitest::PumpUntil([&] { return requests->load() >= 3; }, 10000));

    drive.sim().hangUp(0);
    // Seen within about a second: the reads stopped, the links closed.
    ASSERT_TRUE(uitest::PumpUntil([&] { return w.paneText(2) == QStringLiteral("Port lost"); }, 3000));
    EXPECT_FALSE(app.IsNormalConnected());
    EXPECT_FALSE(view->IsRunning());
    EXPECT_EQ(view->Workers().Running(), 0);
    EXPECT_FALSE(plugins::HaveModbus());
    EXPECT_EQ(view->calls.back(), false);
    EXPECT_EQ(app.Connection().health().state(), LinkHealth::State::PortLost);
    EXPECT_TRUE(app.CanConnect());

    drive.sim().restoreLine();
    ASSERT_TRUE(uitest::PumpUntil([&] { return app.IsNormalConnected(); }, 5000));
    EXPECT_EQ(w.paneText(2), QStringLiteral("Connect"));
    EXPECT_EQ(view->calls.back(), true);
    uint8_t value[2] = {};
    uint8_t err = 0;
    EXPECT_TRUE(ModbusPort().ProcRead(1, 0x0100, value, &err)) << int(err);
}

TEST_F(App, VanishedPortIsSeenAndReconnectIsOffered)
{
    linktest::SimDrive drive(4, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    const std::string dir = NewFolder("applost");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=4\nOutTime=300\n");
    auto app = Start(dir);
    linktest::RecordingPrompts prompts(&app->Connection());
    app->SetPrompts(&prompts);
    PortLostAndBack(*app, *Window(*app), drive, prompts);
    EXPECT_EQ(prompts.questions, std::vector<std::wstring>{L"COM4 is back. Connect to the drive again?"});

    // Declined: the port stays free and the program says so.
    drive.sim().hangUp(0);
    ASSERT_TRUE(uitest::PumpUntil([&] { return Window(*app)->paneText(2) == QStringLiteral("Port lost"); }, 3000));
    prompts.answerYes = false;
    drive.sim().restoreLine();
    ASSERT_TRUE(uitest::PumpUntil([&] { return prompts.questions.size() == 2; }, 5000));
    EXPECT_EQ(Window(*app)->paneText(2), QStringLiteral("DisConn"));
    EXPECT_FALSE(app->IsNormalConnected());
    app->SetPrompts(nullptr);
}

TEST_F(App, VanishedPortReconnectsByItselfWhenChosen)
{
    linktest::SimDrive drive(4, linktest::NormalDrive());
    ASSERT_TRUE(drive.ok()) << drive.error();
    const std::string dir = NewFolder("appauto");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=4\nOutTime=300\nAutoReconnect=1\n");
    auto app = Start(dir);
    linktest::RecordingPrompts prompts(&app->Connection());
    app->SetPrompts(&prompts);
    PortLostAndBack(*app, *Window(*app), drive, prompts);
    EXPECT_TRUE(prompts.questions.empty());
    app->SetPrompts(nullptr);
}

TEST_F(App, AboutBox)
{
    auto app = Start(NewFolder("appabout"));
    QString title, text;
    uitest::WhenModalOpens<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    app->OnAbout();
    EXPECT_EQ(title, QStringLiteral("About Torvane"));
    EXPECT_EQ(text, QStringLiteral("Torvane Version 1.24"));
}

TEST_F(App, ViewsAddressTheConfiguredStation)
{
    drivesim::SimOptions o = linktest::NormalDrive();
    o.station = 5;
    linktest::SimDrive drive(2, o);
    ASSERT_TRUE(drive.ok()) << drive.error();
    ASSERT_EQ(drive.sim().writeRegister(0x0700, 77), 0);
    const std::string dir = NewFolder("appstation");
    WriteFile(dir + "config.ini", "[COM]\nCOMID=2\ndevAddr=5\nOutTime=300\n");
    auto app = Start(dir);
    linktest::RecordingPrompts prompts(&app->Connection());
    app->SetPrompts(&prompts);
    ASSERT_TRUE(app->AutoConnect());  // the presence test goes to station 5

    auto* view = new CDataDlg;
    Window(*app)->ShowView(view);
    auto ok = std::make_shared<std::atomic<int>>(-1);
    auto value = std::make_shared<std::atomic<int>>(0);
    ASSERT_TRUE(view->StartWorker([view, ok, value] {
        ParamRecord r;
        r.address = 0x0701;
        uint8_t err = 0;
        *ok = view->ReadRecord(r, &err) ? 1 : 0;
        *value = static_cast<int>(r.value);
    }));
    ASSERT_TRUE(uitest::PumpUntil([&] { return ok->load() >= 0; }, 5000));
    EXPECT_EQ(ok->load(), 1);
    EXPECT_EQ(value->load(), 77);
    EXPECT_EQ(view->Station(), 5);
    app->SetPrompts(nullptr);
}

// Help > User Guideline: the document named for the language when it is in
// the working directory, otherwise the HTML guide the program folder ships.
TEST_F(App, UserGuideIsTheDocumentOrTheShippedGuide)
{
    const std::string dir = NewFolder("appguide");
    auto app = Start(dir);
    const std::string cwd = QDir::currentPath().toStdString() + "/";
    EXPECT_EQ(app->UserGuidePath(), W(dir + "Help/User Guideline for VKR PC Tool.html"));
    ASSERT_TRUE(language_->SetLanguage(L"Chinese"));
    EXPECT_EQ(app->UserGuidePath(), W(dir + "Help/User Guideline for VKR Chinese.html"));
    ASSERT_TRUE(WriteFile(cwd + "User Guideline for VKR Chinese.docx", "PK"));
    EXPECT_EQ(app->UserGuidePath(), W(cwd + "User Guideline for VKR Chinese.docx"));
    QFile::remove(QString::fromStdString(cwd + "User Guideline for VKR Chinese.docx"));
}

// Without a viewer (no xdg-open, or one that finds no program for the
// file) the guide opens in a window of the program.
TEST_F(App, UserGuideWithoutViewerOpensInTheProgram)
{
    const std::string dir = NewFolder("appguidewin");
    QDir().mkpath(QString::fromStdString(dir + "Help"));
    ASSERT_TRUE(WriteFile(dir + "Help/User Guideline for VKR PC Tool.html",
                          "<html><body><h1>Connecting</h1><p>Press Connect.</p></body></html>"));
    ASSERT_TRUE(WriteFile(dir + "Help/User Guideline for VKR Chinese.html",
                          "<html><body><h1>\xe8\xbf\x9e\xe6\x8e\xa5</h1></body></html>"));
    const std::string bin = NewFolder("appguidebin");
    struct RestorePath {
        QByteArray path = qgetenv("PATH");
        ~RestorePath() { qputenv("PATH", path); }
    } restore;
    auto app = Start(dir);
    auto guide = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("UserGuide") && w->isVisible()) return qobject_cast<QTextBrowser*>(w);
        return static_cast<QTextBrowser*>(nullptr);
    };

    // No xdg-open at all.
    qputenv("PATH", QByteArray::fromStdString(bin));
    app->OnUserGuide();
    ASSERT_TRUE(uitest::PumpUntil([&] { return guide() != nullptr; }, 5000));
    EXPECT_EQ(guide()->source(), QUrl::fromLocalFile(QString::fromStdString(dir + "Help/User Guideline for VKR PC Tool.html")));
    EXPECT_TRUE(guide()->toPlainText().contains(QStringLiteral("Press Connect.")));
    EXPECT_EQ(guide()->windowTitle(), QStringLiteral("User Guideline"));
    guide()->close();
    ASSERT_TRUE(uitest::PumpUntil([&] { return guide() == nullptr; }, 5000));

    // An xdg-open that finds no program for HTML; Chinese now.
    ASSERT_TRUE(WriteFile(bin + "xdg-open", "#!/bin/sh\necho \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n"));
    QFile::setPermissions(QString::fromStdString(bin + "xdg-open"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(language_->SetLanguage(L"Chinese"));
    app->OnUserGuide();
    ASSERT_TRUE(uitest::PumpUntil([&] { return guide() != nullptr; }, 5000));
    EXPECT_TRUE(guide()->toPlainText().contains(QString::fromUtf8("\xe8\xbf\x9e\xe6\x8e\xa5")));
}

TEST(UserGuide, BothLanguagesAreInTheProgramFolder)
{
    const std::string folder = std::string(TORVANE_SAMPLE_PROGRAM_DIR) + "Help/";
    const struct {
        const char* file;
        const char* lang;
        const char* troubleshooting;
    } guides[] = {
        {"User Guideline for VKR PC Tool.html", "lang=\"en\"", "Troubleshooting"},
        {"User Guideline for VKR Chinese.html", "lang=\"zh-CN\"", "\xe6\x95\x85\xe9\x9a\x9c\xe6\x8e\x92\xe9\x99\xa4"},
    };
    for (const auto& g : guides) {
        const std::string text = linktest::ReadFile(folder + g.file);
        ASSERT_FALSE(text.empty()) << g.file;
        EXPECT_NE(text.find(g.lang), std::string::npos) << g.file;
        EXPECT_NE(text.find(g.troubleshooting), std::string::npos) << g.file;
        // Connect, ports, parameters, value files, monitor, download,
        // troubleshooting.
        for (const char* id : {"connect", "ports", "params", "files", "monitor", "download", "trouble"})
            EXPECT_NE(text.find(std::string("<h2 id=\"") + id + "\""), std::string::npos) << g.file << " " << id;
    }
}
