#include "TorvaneApp.h"

#include "DataDlg.h"
#include "DialogComSet.h"
#include "LanguageTables.h"
#include "LogBuf.h"
#include "ProgramFolder.h"
#include "WideText.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QProcess>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace {
CTorvaneApp* g_app = nullptr;

// The User Guideline command; its caption titles the guide window.
const int kUserGuideCommand = 32785;

bool OnGuiThread()
{
    return qApp && QThread::currentThread() == qApp->thread();
}
}  // namespace

const wchar_t* const CTorvaneApp::kAboutTitle = L"About Torvane";
const wchar_t* const CTorvaneApp::kAboutText = L"Torvane Version 1.24";
const wchar_t* const CTorvaneApp::kGuideEnglish = L"User Guideline for VKR PC Tool.docx";
const wchar_t* const CTorvaneApp::kGuideChinese = L"User Guideline for VKR Chinese.docx";

CTorvaneApp* TheApp() { return g_app; }

// The program's own answers to the connection procedures. A replacement
// (tests, a scripted front end) takes the message boxes and the settings
// dialog; the status bar is always the main window's.
class CTorvaneApp::Prompts : public CLinkPrompts {
public:
    explicit Prompts(CTorvaneApp& app) : app_(app) {}
    void ShowMessage(const std::wstring& text) override
    {
        if (replacement_)
            replacement_->ShowMessage(text);
        else if (OnGuiThread())
            app_.ShowMessageBox(QString::fromStdWString(text));
        else
            app_.ShowMessage(QString::fromStdWString(text));  // shown later on the GUI thread
    }
    void EditSerialSettings() override
    {
        if (replacement_)
            replacement_->EditSerialSettings();
        else
            app_.EditSerialSettings();
    }
    void UpdateStatusBar() override
    {
        app_.UpdateStatusBar();
        if (replacement_) replacement_->UpdateStatusBar();
    }
    bool AskYesNo(const std::wstring& text) override
    {
        if (replacement_) return replacement_->AskYesNo(text);
        if (!OnGuiThread()) return false;
        QWidget* parent = app_.mainWindow_ ? app_.mainWindow_->Window() : nullptr;
        return QMessageBox::question(parent, QStringLiteral("Torvane"), QString::fromStdWString(text),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    }
    CLinkPrompts* replacement_ = nullptr;

private:
    CTorvaneApp& app_;
};

CTorvaneApp::CTorvaneApp(std::wstring programFolder, LanguageTables* language)
    : folder_(programFolder.empty() ? ProgramFolder() : std::move(programFolder)),
      dataFolder_(WritableFolder(folder_)),
      language_(language ? language : &TheLanguageTables()),
      prompts_(new Prompts(*this)),
      link_(dataFolder_, prompts_.get()),
      factory_(&CreateLinkMainWindow)
{
    g_app = this;
    // Any thread may change the health; the window learns it on its own thread.
    link_.health().SetListener([this](LinkHealth::State) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                UpdateStatusBar();
                if (CDataDlg* view = CurrentView()) view->LinkHealthChanged();
            },
            Qt::QueuedConnection);
    });
    portWatch_ = new QTimer(this);
    portWatch_->setInterval(DeviceConnection::kPortWatchMs);
    connect(portWatch_, &QTimer::timeout, this, &CTorvaneApp::OnPortWatch);
}

CTorvaneApp::~CTorvaneApp()
{
    link_.health().SetListener(nullptr);
    portWatch_->stop();
    ExitInstance();
    if (g_app == this) g_app = nullptr;
}

bool CTorvaneApp::InitInstance(bool showWindow)
{
    language_->Start();
    LoadSettings();
    if (factory_) mainWindow_ = factory_(*this);
    if (mainWindow_ && showWindow && mainWindow_->Window()) mainWindow_->Window()->show();
    // Dropped until the first link sets up the run-info log.
    LOG_AddRunInfo(1, "VKR Running");
    UpdateStatusBar();
    portWatch_->start();
    return true;
}

void CTorvaneApp::ExitInstance()
{
    // Views' workers use the register link: they stop before it closes.
    if (mainWindow_) {
        mainWindow_->CloseCurrentView();
        mainWindow_.reset();
    }
    link_.Disconnect();
}

CDataDlg* CTorvaneApp::CurrentView() const
{
    return mainWindow_ ? mainWindow_->CurrentView() : nullptr;
}

void CTorvaneApp::SetPrompts(CLinkPrompts* prompts)
{
    prompts_->replacement_ = prompts;
}

void CTorvaneApp::OnConnect()
{
    // A batch of the current view must not use a link that is being replaced.
    if (CDataDlg* view = CurrentView()) view->StopWorkers();
    AutoConnect();
    if (CDataDlg* view = CurrentView()) view->UpdateButtons(IsNormalConnected());
}

void CTorvaneApp::OnDisconnect()
{
    if (CDataDlg* view = CurrentView()) view->StopWorkers();
    link_.Disconnect();
    if (CDataDlg* view = CurrentView()) view->UpdateButtons(false);
    UpdateStatusBar();
}

void CTorvaneApp::OnPortWatch()
{
    // A question box below runs its own event loop, in which this timer
    // fires again.
    if (inPortWatch_) return;
    inPortWatch_ = true;
    CDataDlg* view = CurrentView();
    switch (link_.WatchPort()) {
    case DeviceConnection::PortWatch::Lost:
        // The batches see it at their next failed attempt and end with their
        // message instead of waiting out every row.
        link_.health().ReportPortLost();
        // A download or drive check handles a lost line itself; its worker
        // must not lose the link under its feet.
        if (view && !view->BusyText().isEmpty()) break;
        if (view) view->StopWorkers();
        link_.LosePort();
        if (view) view->UpdateButtons(false);
        UpdateStatusBar();
        break;
    case DeviceConnection::PortWatch::Back:
        if (Settings().AutoReconnectOn() || prompts_->AskYesNo(link_.PortBackText())) {
            if (CDataDlg* v = CurrentView()) v->StopWorkers();
            link_.ConnectNormal();
            if (CDataDlg* v = CurrentView()) v->UpdateButtons(IsNormalConnected());
        } else {
            link_.ForgetLostPort();
        }
        UpdateStatusBar();
        break;
    case DeviceConnection::PortWatch::Nothing: break;
    }
    inPortWatch_ = false;
}

void CTorvaneApp::OnEditSerialPort()
{
    EditSerialSettings();
}

void CTorvaneApp::EditSerialSettings()
{
    if (!OnGuiThread()) {
        // A worker never waits on the GUI; it goes on with the stored settings.
        QMetaObject::invokeMethod(this, [this] { EditSerialSettings(); }, Qt::QueuedConnection);
        return;
    }
    QWidget* parent = mainWindow_ ? mainWindow_->Window() : nullptr;
    ::EditSerialSettings(Settings(), language_, parent, link_.HeldPort());
}

void CTorvaneApp::UpdateStatusBar()
{
    if (!OnGuiThread()) {
        QMetaObject::invokeMethod(this, [this] { UpdateStatusBar(); }, Qt::QueuedConnection);
        return;
    }
    if (mainWindow_) mainWindow_->UpdateStatusBar();
}

void CTorvaneApp::ShowMessage(const QString& text)
{
    if (!OnGuiThread()) {
        QMetaObject::invokeMethod(this, [this, text] { ShowMessage(text); }, Qt::QueuedConnection);
        return;
    }
    prompts_->ShowMessage(text.toStdWString());
}

void CTorvaneApp::ShowMessageBox(const QString& text)
{
    QWidget* parent = mainWindow_ ? mainWindow_->Window() : nullptr;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Torvane"), text, QMessageBox::Ok, parent);
    box.exec();
}

void CTorvaneApp::OnAbout()
{
    QWidget* parent = mainWindow_ ? mainWindow_->Window() : nullptr;
    QMessageBox box(QMessageBox::NoIcon, QString::fromWCharArray(kAboutTitle), QString::fromWCharArray(kAboutText),
                    QMessageBox::Ok, parent);
    box.exec();
}

std::wstring CTorvaneApp::UserGuideFile() const
{
    return language_->current() == L"Chinese" ? kGuideChinese : kGuideEnglish;
}

std::wstring CTorvaneApp::UserGuidePath() const
{
    // The document, relative to the working directory, when it is there;
    // otherwise the guide of the same name shipped as HTML in the program
    // folder's "Help" folder.
    const QString document = QString::fromStdWString(UserGuideFile());
    const QString path = QDir::current().absoluteFilePath(document);
    if (QFileInfo(path).isFile()) return path.toStdWString();
    return UserGuideHtmlPath();
}

std::wstring CTorvaneApp::UserGuideHtmlPath() const
{
    QString html = QString::fromStdWString(UserGuideFile());
    html.replace(QRegularExpression(QStringLiteral("\\.docx$")), QStringLiteral(".html"));
    return folder_ + L"Help/" + html.toStdWString();
}

void CTorvaneApp::OnUserGuide()
{
    // The desktop's viewer through xdg-open. Where there is none (no
    // xdg-open, no program for HTML or .docx), xdg-open fails or does not
    // start, and the guide opens in a window of the program instead. The
    // process has no parent: a viewer that xdg-open keeps in the foreground
    // lives on after the program ends.
    auto* opener = new QProcess;
    QPointer<CTorvaneApp> self(this);
    connect(opener, &QProcess::errorOccurred, opener, [opener, self](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        if (self) self->ShowUserGuideWindow();
        opener->deleteLater();
    });
    connect(opener, &QProcess::finished, opener, [opener, self](int code, QProcess::ExitStatus status) {
        if ((status != QProcess::NormalExit || code != 0) && self) self->ShowUserGuideWindow();
        opener->deleteLater();
    });
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->start(QStringLiteral("xdg-open"), {QString::fromStdWString(UserGuidePath())});
}

QWidget* CTorvaneApp::ShowUserGuideWindow()
{
    const QString path = QString::fromStdWString(UserGuideHtmlPath());
    if (!QFileInfo(path).isFile()) {
        ShowMessage(QStringLiteral("The user guide %1 is missing.").arg(QDir::toNativeSeparators(path)));
        return nullptr;
    }
    if (!guideWindow_) {
        // A window of its own that goes with the main window and does not
        // keep the program running once the main window is closed.
        QWidget* parent = mainWindow_ ? mainWindow_->Window() : nullptr;
        auto* browser = new QTextBrowser(parent);
        browser->setWindowFlags(Qt::Window);
        browser->setAttribute(Qt::WA_DeleteOnClose);
        browser->setAttribute(Qt::WA_QuitOnClose, false);
        browser->setObjectName(QStringLiteral("UserGuide"));
        browser->setOpenExternalLinks(true);
        browser->resize(760, 560);
        guideWindow_ = browser;
    }
    auto* browser = static_cast<QTextBrowser*>(guideWindow_.data());
    // The window's title is the menu command's, in the current language.
    QString title = QString::fromStdWString(language_->ControlText(kUserGuideCommand));
    if (title.isEmpty()) title = QStringLiteral("User Guideline");
    browser->setWindowTitle(title);
    if (browser->source() != QUrl::fromLocalFile(path)) browser->setSource(QUrl::fromLocalFile(path));
    browser->show();
    browser->raise();
    browser->activateWindow();
    return browser;
}
