#include "LinkMainWindow.h"

#include "ControlIds.h"
#include "DataDlg.h"
#include "LanguageTables.h"
#include "ParamTable.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

std::unique_ptr<CMainWindowHost> CreateLinkMainWindow(CTorvaneApp& app)
{
    return std::make_unique<CLinkMainWindow>(app);
}

CLinkMainWindow::CLinkMainWindow(CTorvaneApp& app) : app_(app)
{
    setWindowTitle(QStringLiteral("Torvane"));
    resize(1000, 700);

    auto add = [this](QMenu* menu, int id, const QString& text, const QKeySequence& key, void (CTorvaneApp::*fn)()) {
        QAction* a = menu->addAction(text);
        a->setData(id);
        if (!key.isEmpty()) a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, fn] {
            (app_.*fn)();
            UpdateCommands();
        });
        return a;
    };
    QMenu* start = menuBar()->addMenu(QStringLiteral("Start"));
    add(start, ID_EDIT_SERIAL, QStringLiteral("Edit Serial Port (&E)"), QKeySequence(), &CTorvaneApp::OnEditSerialPort);
    start->addSeparator();
    add(start, ID_CONNECT, QStringLiteral("Connect Serial Port (&C)"), QKeySequence(QStringLiteral("Ctrl+C")),
        &CTorvaneApp::OnConnect);
    add(start, ID_DISCONNECT, QStringLiteral("Disconnect(&D)"), QKeySequence(QStringLiteral("Ctrl+D")),
        &CTorvaneApp::OnDisconnect);
    connect(start, &QMenu::aboutToShow, this, [this] { UpdateCommands(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, ID_APP_ABOUT, QStringLiteral("&About Torvane..."), QKeySequence(), &CTorvaneApp::OnAbout);
    add(help, ID_USER_GUIDE, QStringLiteral("User Guideline"), QKeySequence(), &CTorvaneApp::OnUserGuide);

    for (int i = 0; i < 5; ++i) {
        panes_[i] = new QLabel(this);
        panes_[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        if (i == 0)
            statusBar()->addWidget(panes_[i], 1);
        else
            statusBar()->addPermanentWidget(panes_[i]);
    }
    UpdateStatusBar();
}

CLinkMainWindow::~CLinkMainWindow()
{
    CloseCurrentView();
}

QAction* CLinkMainWindow::action(int id) const
{
    for (QAction* a : findChildren<QAction*>())
        if (a->data().toInt() == id) return a;
    return nullptr;
}

QString CLinkMainWindow::paneText(int pane) const
{
    return pane >= 0 && pane < 5 ? panes_[pane]->text() : QString();
}

void CLinkMainWindow::UpdateCommands()
{
    if (QAction* a = action(ID_CONNECT)) a->setEnabled(app_.CanConnect());
    if (QAction* a = action(ID_DISCONNECT)) a->setEnabled(app_.CanDisconnect());
}

void CLinkMainWindow::UpdateStatusBar()
{
    const LinkStatusTexts t = app_.Connection().StatusTexts(app_.Language().languageIndex());
    panes_[1]->setText(QString::fromStdWString(t.mode));
    panes_[2]->setText(QString::fromStdWString(t.link));
    panes_[3]->setText(QString::fromStdWString(t.port));
    panes_[4]->setText(QString::fromStdWString(t.station));
    UpdateCommands();
}

void CLinkMainWindow::ShowView(CDataDlg* view)
{
    CloseCurrentView();
    view_ = view;
    if (!view_) return;
    view_->setParent(this, Qt::Widget);
    setCentralWidget(view_);
    view_->show();
    view_->SetTable(&TheParamTable());
    view_->UpdateButtons(app_.IsNormalConnected());
}

void CLinkMainWindow::CloseCurrentView()
{
    CDataDlg* v = view_;
    view_ = nullptr;
    if (!v) return;
    v->StopWorkers();
    if (centralWidget() == v) takeCentralWidget();
    delete v;
}

void CLinkMainWindow::closeEvent(QCloseEvent* event)
{
    CloseCurrentView();
    QMainWindow::closeEvent(event);
}
