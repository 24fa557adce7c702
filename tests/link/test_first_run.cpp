// A first run as a new user makes it: the program starts from a program
// folder laid out as the build lays it out (the system configuration beside
// it, no log folder yet), searches the ports, connects to a simulated drive,
// opens the serial settings dialog while connected and disconnects. Standard
// error must stay quiet through all of it: no missing configuration, no
// missing log file, no port the search tried, no echoed traffic.
//
// Its own test program: it moves the working directory and takes over
// standard error for the whole run.
#include "DialogComSet.h"
#include "LanguageTables.h"
#include "LinkTestUtil.h"
#include "TorvaneApp.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::wstring W(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Standard error (the descriptor, so the diagnostic log's lines land there
// too) goes to a file until Take().
class StderrToFile {
public:
    explicit StderrToFile(std::string path) : path_(std::move(path))
    {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrToFile() { Take(); }
    std::string Take()
    {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
            saved_ = -1;
        }
        return linktest::ReadFile(path_);
    }

private:
    std::string path_;
    int saved_ = -1;
};

class QuietPrompts : public CLinkPrompts {
public:
    void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
    void EditSerialSettings() override { ++dialogs; }
    void UpdateStatusBar() override {}
    std::vector<std::wstring> messages;
    int dialogs = 0;
};

}  // namespace

TEST(FirstRun, StartConnectAndSettingsLeaveStandardErrorQuiet)
{
    // <root>/bin is the program folder and the working directory; LinkCore
    // reads <root>/config/SystemConfig.ini as "../config/SystemConfig.ini".
    const std::string root = linktest::NewFolder("firstrun");
    const std::string bin = root + "bin/";
    ASSERT_EQ(std::system(("mkdir -p '" + bin + "' '" + root + "config'").c_str()), 0);
    const std::string laidOut = linktest::ReadFile(TORVANE_SYSTEM_CONFIG);
    ASSERT_FALSE(laidOut.empty()) << "the build lays out " << TORVANE_SYSTEM_CONFIG;
    ASSERT_TRUE(linktest::WriteFile(root + "config/SystemConfig.ini", laidOut));
    ASSERT_EQ(::chdir(bin.c_str()), 0);

    // The drive answers on COM3: the search probes COM1 and COM2 first,
    // which do not exist.
    linktest::UnmapAllPorts();
    linktest::SimDrive drive(3, linktest::NormalDrive(9600));
    ASSERT_TRUE(drive.ok()) << drive.error();

    StderrToFile err(root + "stderr.txt");
    QStringList portList;
    {
        LanguageTables language(W(bin));
        CTorvaneApp app(W(bin), &language);
        QuietPrompts prompts;
        app.SetPrompts(&prompts);
        ASSERT_TRUE(app.InitInstance(false));
        app.OnConnect();
        EXPECT_TRUE(app.IsNormalConnected());
        EXPECT_EQ(app.Settings().COMID, L"3");
        EXPECT_EQ(app.Connection().HeldPort(), 3);

        // The settings dialog while connected: the port the program holds is
        // in its list although no probe can open it now.
        QTimer::singleShot(0, [&portList] {
            auto* dlg = qobject_cast<CDialogComSet*>(QApplication::activeModalWidget());
            if (!dlg) return;
            QComboBox* ports = dlg->combo(CDialogComSet::IDC_PORT);
            for (int i = 0; i < ports->count(); ++i) portList << ports->itemText(i);
            dlg->reject();
        });
        app.OnEditSerialPort();

        // The traffic of the connection reaches the run-info file, whose
        // folder did not exist before.
        EXPECT_TRUE(linktest::WaitFor(
            [] { return linktest::ReadFile("log/VKR_0.txt").find("OUT ") != std::string::npos; }, 10000));
        app.OnDisconnect();
        EXPECT_EQ(app.Connection().HeldPort(), 0);
        EXPECT_TRUE(prompts.messages.empty());
        app.SetPrompts(nullptr);
    }
    const std::string text = err.Take();

    EXPECT_EQ(portList, QStringList{QStringLiteral("COM3")});
    for (const char* unwanted : {"error open Ini config file", "connect", "./log/", "not found", "OUT ", "IN "})
        EXPECT_EQ(text.find(unwanted), std::string::npos) << unwanted << " in:\n" << text;
    EXPECT_EQ(::chdir(linktest::WorkDir().c_str()), 0);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    linktest::WorkDir();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
