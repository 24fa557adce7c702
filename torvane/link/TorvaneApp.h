// The application object: the connection settings and the two protocol
// links (through DeviceConnection), the start order, the Connect,
// Disconnect and Edit Serial Port commands, About and the user guide.
//
// It is created once in main() after the QApplication and before the main
// window, and reached from everywhere through TheApp(). The main window is
// built by a factory (SetMainWindowFactory), so the shell can put its own in
// place of the plain one in this folder.
#pragma once

#include "DeviceConnection.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class CDataDlg;
class CTorvaneApp;
class LanguageTables;
class QTimer;
class QWidget;

// The seam between the application and its main window.
class CMainWindowHost {
public:
    virtual ~CMainWindowHost() = default;
    // The window itself (shown by the application at start).
    virtual QWidget* Window() = 0;
    // Refreshes the connection panes from TheApp()'s settings and flags.
    virtual void UpdateStatusBar() = 0;
    // The data view shown now, or null.
    virtual CDataDlg* CurrentView() = 0;
    // Stops and destroys the current view (its workers are joined first).
    // Called at exit, before the links are closed.
    virtual void CloseCurrentView() = 0;
};

using MainWindowFactory = std::function<std::unique_ptr<CMainWindowHost>(CTorvaneApp& app)>;

class CTorvaneApp : public QObject {
    Q_OBJECT
public:
    static const wchar_t* const kAboutTitle;     // "About Torvane"
    static const wchar_t* const kAboutText;      // "Torvane Version 1.24"
    static const wchar_t* const kGuideEnglish;   // "User Guideline for VKR PC Tool.docx"
    static const wchar_t* const kGuideChinese;   // "User Guideline for VKR Chinese.docx"

    // programFolder ends in "/" (the program's folder by default); the
    // language tables default to the process-wide ones.
    explicit CTorvaneApp(std::wstring programFolder = std::wstring(), LanguageTables* language = nullptr);
    // Stops the current view, then closes both links, then frees the rest.
    ~CTorvaneApp() override;

    // Start: language tables, settings, main window (shown). No connection.
    // showWindow false keeps the window hidden (tests).
    bool InitInstance(bool showWindow = true);
    // Exit: the current view stops, the main window goes, both links close.
    void ExitInstance();

    void SetMainWindowFactory(MainWindowFactory factory) { factory_ = std::move(factory); }
    CMainWindowHost* MainWindow() const { return mainWindow_.get(); }
    CDataDlg* CurrentView() const;

    // Connection settings and state.
    ConnectionSettings& Settings() { return link_.settings(); }
    const ConnectionSettings& Settings() const { return link_.settings(); }
    void LoadSettings() { link_.LoadSettings(); }
    bool StoreSettings() { return link_.StoreSettings(); }
    bool IsNormalConnected() const { return link_.normalConnected(); }
    bool IsBootConnected() const { return link_.bootConnected(); }
    DeviceConnection& Connection() { return link_; }
    LanguageTables& Language() const { return *language_; }
    const std::wstring& ProgramDir() const { return folder_; }
    // Where config.ini, the value files, histories and the extracted package
    // go: the program folder, or the user's data folder when the program
    // folder cannot be written (an installed program).
    const std::wstring& DataDir() const { return dataFolder_; }

    // Connection procedures (GUI thread, or the download worker).
    bool ConnectNormal() { return link_.ConnectNormal(); }
    bool ConnectBoot() { return link_.ConnectBoot(); }
    bool AutoConnect() { return link_.AutoConnect(); }
    bool SendBootCommand(const char* cmd, unsigned char* reply) { return link_.SendBootCommand(cmd, reply); }

    // Menu commands.
    void OnConnect();        // 32777
    void OnDisconnect();     // 32778
    void OnEditSerialPort(); // 32776
    void OnAbout();          // 57664
    void OnUserGuide();      // 32785
    bool CanConnect() const { return !IsNormalConnected() && !IsBootConnected(); }
    bool CanDisconnect() const { return IsNormalConnected() || IsBootConnected(); }

    // The serial settings dialog; afterwards the settings equal config.ini.
    void EditSerialSettings();
    // Refreshes the main window's status bar (any thread).
    void UpdateStatusBar();
    // A message box with the program's title (any thread; from a worker it is
    // shown later on the GUI thread, the worker does not wait for it).
    void ShowMessage(const QString& text);

    // Replaces the message boxes and the settings dialog of the connection
    // procedures (null restores the program's own).
    void SetPrompts(CLinkPrompts* prompts);

    // The watch of the register link's port (a timer runs it every
    // DeviceConnection::kPortWatchMs from InitInstance on): a port that
    // vanished stops the current view's workers and closes the links; when
    // it comes back the program connects again by itself (AutoReconnect) or
    // asks first.
    void OnPortWatch();

    // The user guide document for the current language.
    std::wstring UserGuideFile() const;
    // What the User Guideline command opens: that document in the working
    // directory, or else the HTML guide of the same name in the program
    // folder's "Help" folder.
    std::wstring UserGuidePath() const;
    // The HTML guide of the current language in the program folder's "Help"
    // folder: what the program shows itself when no viewer takes the guide.
    std::wstring UserGuideHtmlPath() const;
    // The guide in a window of the program (a text browser), raised when it
    // is open already; null (with a message) when the HTML guide is missing.
    QWidget* ShowUserGuideWindow();

private:
    class Prompts;
    void ShowMessageBox(const QString& text);
    std::wstring folder_;
    std::wstring dataFolder_;
    LanguageTables* language_;
    std::unique_ptr<Prompts> prompts_;
    DeviceConnection link_;
    QTimer* portWatch_ = nullptr;
    bool inPortWatch_ = false;
    MainWindowFactory factory_;
    std::unique_ptr<CMainWindowHost> mainWindow_;
    QPointer<QWidget> guideWindow_;
};

// The application object; null before it is created and after it is gone.
CTorvaneApp* TheApp();

// The main window the program uses until the shell provides its own.
std::unique_ptr<CMainWindowHost> CreateLinkMainWindow(CTorvaneApp& app);
