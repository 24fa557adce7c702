// A plain main window for the program until the shell's main frame takes its
// place: the "Start" menu with the connection commands, "Help" with About and
// the user guide, and a status bar with the connection panes. It hosts one
// data view at a time.
#pragma once

#include "TorvaneApp.h"

#include <QMainWindow>

class QAction;
class QLabel;

class CLinkMainWindow : public QMainWindow, public CMainWindowHost {
    Q_OBJECT
public:
    enum {
        ID_EDIT_SERIAL = 32776,
        ID_CONNECT = 32777,
        ID_DISCONNECT = 32778,
        ID_USER_GUIDE = 32785,
        ID_APP_ABOUT = 57664,
    };

    explicit CLinkMainWindow(CTorvaneApp& app);
    ~CLinkMainWindow() override;

    QWidget* Window() override { return this; }
    void UpdateStatusBar() override;
    CDataDlg* CurrentView() override { return view_; }
    void CloseCurrentView() override;

    // Shows `view` in the client area in place of the current one (which is
    // stopped and destroyed first). The window takes ownership.
    void ShowView(CDataDlg* view);

    QAction* action(int id) const;
    // Texts of status panes 1 to 4 (0 is the message pane).
    QString paneText(int pane) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateCommands();

    CTorvaneApp& app_;
    CDataDlg* view_ = nullptr;
    QLabel* panes_[5] = {};
};
