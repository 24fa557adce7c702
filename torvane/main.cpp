// Torvane: the service tool's program. The application object loads the
// language tables and the connection settings and shows the main window; the
// user connects through the menu.
#include "TorvaneApp.h"
#ifdef TORVANE_SHELL_MAINFRAME
#include "MainFrameFactory.h"
#endif
#ifdef TORVANE_MONITOR_STORE
#include "MonitorBuffer.h"
#endif

#include "CCOM.h"
#include "UserFolder.h"

#include <QApplication>
#include <QMessageBox>

#include <string>

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Torvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.24"));

    // An installed program cannot write beside itself: its settings, value
    // files, histories and logs go to the user's data folder, made (with the
    // installed defaults) at the first start. The logs and the system
    // configuration are found relative to the working directory, so the
    // program works in that folder's "work" folder.
    char folder[4096];
    LinkCoreProgramFolder(folder, sizeof folder);
    std::string error;
    if (!LinkCoreEnterUserDataFolder(folder, &error)) {
        QMessageBox::critical(nullptr, QStringLiteral("Torvane"),
                              QStringLiteral("The folder for your settings and recordings could not be prepared:\n%1")
                                  .arg(QString::fromStdString(error)));
        return 1;
    }

#ifdef TORVANE_MONITOR_STORE
    // The sample store exists before any view and lasts the whole run; its
    // ring is allocated once, here. Every live recording is journalled, so
    // a crash leaves it for the next start to offer.
    TheMonitorBuffer().EnableJournal(true);
#endif

    int result = 1;
    {
        CTorvaneApp app;
#ifdef TORVANE_SHELL_MAINFRAME
        app.SetMainWindowFactory(&CreateShellMainWindow);
#endif
        if (!app.InitInstance()) return 1;
        result = qtApp.exec();
        // The view's workers stop, then both links close, while everything
        // they use still exists.
        app.ExitInstance();
    }
    return result;
}
