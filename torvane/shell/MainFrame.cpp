#include "MainFrame.h"

#include "ControlIds.h"
#include "DataDlg.h"
#include "DeviceCatalogue.h"
#include "DeviceViewPane.h"
#include "FontComboDlg.h"
#include "FrameParts.h"
#include "LanguageTables.h"
#include "ParamSearch.h"
#include "ParamTable.h"
#include "ProgramFolder.h"
#include "TorvaneView.h"
#include "ViewFactory.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QFontDatabase>
#include <QPainter>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace {
const char* const kIdProperty = "ctrlId";

int ActionId(const QAction* a)
{
    return a ? a->property(kIdProperty).toInt() : 0;
}

QString ToQ(const std::wstring& s) { return QString::fromStdWString(s); }

// The 16 x 16 toolbar images, drawn rather than loaded so the program needs
// no image files.
QIcon CommandIcon(int id)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    auto text = [&p](const QString& t, const QColor& c) {
        QFont f = p.font();
        f.setPixelSize(10);
        f.setBold(true);
        p.setFont(f);
        p.setPen(c);
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, t);
    };
    switch (id) {
    case ID_EDIT_SERIAL:  // a connector with its pins
        p.setPen(QColor(60, 60, 60));
        p.setBrush(QColor(200, 200, 210));
        p.drawRoundedRect(QRectF(1.5, 4.5, 13, 7), 2, 2);
        p.setBrush(QColor(60, 60, 60));
        for (int x = 4; x <= 12; x += 3) p.drawEllipse(QPointF(x, 8), 0.9, 0.9);
        break;
    case ID_CONNECT:  // a green light
    case ID_DISCONNECT:  // a red light
        p.setPen(QColor(40, 40, 40));
        p.setBrush(id == ID_CONNECT ? QColor(40, 180, 60) : QColor(210, 50, 40));
        p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        break;
    case ID_OPEN_DATA:  // a folder
        p.setPen(QColor(150, 110, 20));
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
        break;
    case ID_LANGUAGE_CHINESE: {
        // Without a font that has the character, its initials stand in.
        const QString zh = QString::fromUtf8("中");
        const bool haveFont = !QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty();
        text(haveFont ? zh : QStringLiteral("Zh"), QColor(170, 20, 20));
        break;
    }
    case ID_LANGUAGE_ENGLISH: text(QStringLiteral("En"), QColor(20, 60, 160)); break;
    case ID_APP_ABOUT: text(QStringLiteral("?"), QColor(20, 90, 170)); break;
    default: p.end(); return QIcon();
    }
    p.end();
    return QIcon(pm);
}
}  // namespace

CMainFrame::CMainFrame(CTorvaneApp& app, MainFrameOptions options)
    : app_(app),
      table_(options.table ? options.table : &TheParamTable()),
      views_(options.views ? options.views : &TheViewFactory()),
      layoutPath_(options.layoutPath.isEmpty() ? ProgramLayoutFilePath(ToQ(ProgramFilePath())) : options.layoutPath),
      profilePath_(options.profilePath.empty() ? UserProfilePath() : options.profilePath)
{
    setObjectName(QStringLiteral("MainFrame"));
    setWindowTitle(QStringLiteral("Torvane"));
    resize(1024, 720);

    // 1. Status bar: message, mode, link, port settings, station.
    status_ = std::make_unique<CStatusPanes>(statusBar(), 5);

    // 2. Command bars.
    bars_ = new CCommandBars(this);
    menuBar()->setObjectName(QString::fromLatin1(kMenuBarName));
    bars_->LoadMenu(MenuDefinition());
    bars_->LoadToolBar(QString::fromLatin1(kStandardToolBar), StandardToolBarIds());
    bars_->HideCommand(ID_FILE_PRINT);
    bars_->HideCommand(ID_FILE_PRINT_PREVIEW);
    for (int id : {ID_LANGUAGE_CHINESE, ID_LANGUAGE_ENGLISH})
        if (QAction* a = bars_->Command(id)) a->setCheckable(true);
    for (int id : StandardToolBarIds())
        if (QAction* a = id > 0 ? bars_->Command(id) : nullptr) a->setIcon(CommandIcon(id));
    if (QToolBar* bar = bars_->ToolBar(QString::fromLatin1(kStandardToolBar))) bar->setIconSize(QSize(16, 16));
    // Commands without a menu item or button: reachable by keyboard (the
    // font settings) or from the toolbar's context menu (customise).
    AddHiddenCommand(ID_FONT_SETTINGS, QStringLiteral("Font Settings"), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    AddHiddenCommand(ID_PROGRAM_MAKER, QStringLiteral("Program File Maker"), QKeySequence());
    AddHiddenCommand(ID_CUSTOMIZE, QStringLiteral("Customize..."), QKeySequence());
    AddHiddenCommand(ID_FIND_PARAM, QStringLiteral("Find Parameter"), QKeySequence(QStringLiteral("Ctrl+F")));
    connect(bars_, &CCommandBars::command, this, &CMainFrame::OnCommand);
    connect(bars_, &CCommandBars::popupOpening, this, &CMainFrame::TranslatePopup);

    // 3. The device view pane, docked left, and the view area.
    panes_ = new CDockingPanes(this);
    QDockWidget* dock = panes_->CreatePane(IDC_DEVICE_PANE, QString::fromLatin1(kDevicePaneTitle),
                                           Qt::LeftDockWidgetArea, QSize(230, 140));
    dock->setProperty(kIdProperty, IDC_DEVICE_PANE);
    devicePane_ = new CDeviceViewPane;
    panes_->Attach(IDC_DEVICE_PANE, devicePane_);
    panes_->ShowPane(IDC_DEVICE_PANE);
    view_ = new CTorvaneView(this);
    setCentralWidget(view_);
    connect(devicePane_, &CDeviceViewPane::itemSelected, this,
            [this](int number, int parentNumber, const QString& text) { OpenViewFor(number, parentNumber, text); });
    connect(devicePane_, &CDeviceViewPane::searchRequested, this, [this](const QString& text) { FindParameter(text); });

    // Command-bar state kept in the user profile under "CommandBars": the
    // toolbars' places and the user's shortcuts. Read once the pane exists,
    // so its place comes back too; the layout file, when there is one,
    // has the last word.
    LoadProfileCommandBars();

    // 4. Layout of the last run.
    LoadLayout();

    // 5. Texts in the current language, then the table and its tree.
    TranslateCommandBars();
    LoadInitialTable();
    UpdateStatusBar();

    // 6. Questions of the other folders about what an earlier run left,
    // once the window is up to be their parent.
    QTimer::singleShot(0, this, [this] { RunStartOffers(this); });
}

CMainFrame::~CMainFrame()
{
    // Views' workers are joined while the frame still exists.
    if (view_) view_->CloseCurrentView();
}

QAction* CMainFrame::AddHiddenCommand(int id, const QString& text, const QKeySequence& keys)
{
    auto* a = new QAction(text, this);
    a->setProperty(kIdProperty, id);
    a->setData(id);
    if (!keys.isEmpty()) a->setShortcut(keys);
    addAction(a);
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    extraCommands_[id] = a;
    return a;
}

QAction* CMainFrame::Command(int id) const
{
    if (QAction* a = bars_->Command(id)) return a;
    const auto it = extraCommands_.find(id);
    return it == extraCommands_.end() ? nullptr : it->second;
}

QString CMainFrame::PaneText(int pane) const
{
    return status_->PaneText(pane);
}

CDataDlg* CMainFrame::CurrentView()
{
    return view_ ? view_->CurrentView() : nullptr;
}

void CMainFrame::CloseCurrentView()
{
    if (view_) view_->CloseCurrentView();
}

std::vector<int> CMainFrame::ToolBarButtons() const
{
    std::vector<int> ids;
    if (QToolBar* bar = bars_->ToolBar(QString::fromLatin1(kStandardToolBar)))
        for (QAction* a : bar->actions()) ids.push_back(a->isSeparator() ? 0 : ActionId(a));
    return ids;
}

// ---- status and enabling ------------------------------------------------------

void CMainFrame::UpdateStatusBar()
{
    const LinkStatusTexts t = app_.Connection().StatusTexts(app_.Language().languageIndex());
    status_->SetPaneText(1, ToQ(t.mode));
    status_->SetPaneText(2, ToQ(t.link));
    status_->SetPaneText(3, ToQ(t.port));
    status_->SetPaneText(4, ToQ(t.station));
    UpdateCommandStates();
}

void CMainFrame::UpdateCommandStates()
{
    // The identifier rides on every action as its data too, for code that
    // looks commands up the plain Qt way.
    for (int id : bars_->CommandIds())
        if (QAction* a = bars_->Command(id); a && a->data().toInt() != id) a->setData(id);
    const bool normal = app_.IsNormalConnected();
    const bool boot = app_.IsBootConnected();
    for (int id : {ID_CONNECT, ID_DISCONNECT, ID_EDIT_PARAM})
        if (QAction* a = bars_->Command(id)) a->setEnabled(CommandEnabled(id, normal, boot));
    const int current = app_.Language().currentCommand();
    for (int id : {ID_LANGUAGE_CHINESE, ID_LANGUAGE_ENGLISH})
        if (QAction* a = bars_->Command(id)) {
            a->setCheckable(true);
            a->setChecked(id == current);
        }
}

// ---- commands -------------------------------------------------------------------

void CMainFrame::SetCommandHandler(int id, std::function<void()> handler)
{
    if (handler)
        handlers_[id] = std::move(handler);
    else
        handlers_.erase(id);
}

void CMainFrame::OnCommand(int id)
{
    switch (id) {
    case ID_EDIT_SERIAL:
        app_.OnEditSerialPort();
        UpdateStatusBar();
        break;
    case ID_CONNECT:
        if (RefusedWhileBusy()) break;
        if (!CommandEnabled(id, app_.IsNormalConnected(), app_.IsBootConnected())) break;
        if (!MayLeave(this, CurrentView(), LeaveAction::Connect)) break;
        app_.OnConnect();
        UpdateStatusBar();
        break;
    case ID_DISCONNECT:
        if (RefusedWhileBusy()) break;
        if (!CommandEnabled(id, app_.IsNormalConnected(), app_.IsBootConnected())) break;
        if (!MayLeave(this, CurrentView(), LeaveAction::Disconnect)) break;
        app_.OnDisconnect();
        UpdateStatusBar();
        break;
    case ID_OPEN_DATA:
        if (!RefusedWhileBusy()) OnOpenData();
        break;
    case ID_EDIT_PARAM: break;
    case ID_VIEW_DEVICE: panes_->ShowPane(IDC_DEVICE_PANE); break;
    case ID_LANGUAGE_CHINESE:
        if (!RefusedWhileBusy()) SwitchLanguage(L"Chinese");
        break;
    case ID_LANGUAGE_ENGLISH:
        if (!RefusedWhileBusy()) SwitchLanguage(L"English");
        break;
    case ID_APP_ABOUT: app_.OnAbout(); break;
    // Closing asks a running view first (closeEvent), as the window's own
    // close button does.
    case ID_APP_EXIT: close(); break;
    case ID_USER_GUIDE: app_.OnUserGuide(); break;
    case ID_FONT_SETTINGS: OnFontSettings(); break;
    case ID_CUSTOMIZE: OnCustomize(); break;
    case ID_FIND_PARAM: OnFindParam(); break;
    default: {
        const auto it = handlers_.find(id);
        if (const auto v = menuViews_.find(id); v != menuViews_.end())
            OpenView(v->second);
        else if (it != handlers_.end())
            it->second();
        else if (const ShellCommand* c = FindShellCommand(id))
            (*c)(this);
        break;
    }
    }
}

QString CMainFrame::PromptOpenData(const QString& startPath)
{
    return QFileDialog::getOpenFileName(this, QString(), startPath, OpenDataFilter());
}

bool CMainFrame::ConfirmLeaveUnwritten(int count)
{
    const QString text = ToQ(PickVariant(
        L"%1 parameter values were edited or loaded or taken and are not written to the drive.\n"
        L"Go on and leave them unwritten?,"
        L"%1 \u4e2a\u53c2\u6570\u503c\u5df2\u7f16\u8f91\u3001\u8f7d\u5165\u6216\u91c7\u7528\uff0c\u4f46\u5c1a\u672a\u5199\u5165\u9a71\u52a8\u5668\u3002\n"
        L"\u7ee7\u7eed\u5e76\u4fdd\u7559\u5b83\u4eec\u672a\u5199\u5165\uff1f",
        app_.Language().languageIndex()));
    return QMessageBox::question(this, QStringLiteral("Torvane"), text.arg(count), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool CMainFrame::MayLeaveUnwritten()
{
    if (leaveAsked_) return true;
    const int pending = UnwrittenCount(*table_);
    return pending == 0 || ConfirmLeaveUnwritten(pending);
}

void CMainFrame::OnOpenData()
{
    if (!MayLeaveUnwritten()) return;
    leaveAsked_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{leaveAsked_};
    const QString path = PromptOpenData(ToQ(table_->loadedPath()));
    if (path.isEmpty()) return;
    // The dialog only offers existing files; a path typed in may still not be.
    if (!QFileInfo(path).isFile()) return;
    OpenDataFile(path);
}

bool CMainFrame::ConfirmDiscardUnwritten(int count)
{
    const QString text =
        QStringLiteral("%1 parameter values were edited or loaded and not written to the drive. "
                       "The new device type does not have them.\nDiscard them?")
            .arg(count);
    return QMessageBox::question(this, QStringLiteral("Torvane"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void CMainFrame::PrepareTableReload()
{
    // The current view's batch works on the table's records: it stops before
    // the table is replaced; the check marks it shows go into the records so
    // that a table of the same type takes them over.
    if (CDataDlg* v = CurrentView()) {
        v->StopWorkers();
        v->StoreRowMarks();
    }
}

bool CMainFrame::OpenDataFile(const QString& path)
{
    if (!MayLeave(this, CurrentView(), LeaveAction::OpenData)) return false;
    PrepareTableReload();
    bool declined = false;
    if (!ChangeDeviceType(*table_, path.toStdWString(), app_.ProgramDir(), nullptr,
                          [this](int n) { return ConfirmDiscardUnwritten(n); }, &declined)) {
        if (!declined) app_.ShowMessage(ToQ(ParamLoadFailedMessage(path.toStdWString())));
        return false;
    }
    RebuildTree();
    // The view still shown refills from the new table.
    if (CDataDlg* v = CurrentView()) v->SetTable(table_);
    return true;
}

bool CMainFrame::SwitchLanguage(const std::wstring& name)
{
    LanguageTables& lang = app_.Language();
    if (name == lang.current()) return false;
    if (!MayLeave(this, CurrentView(), LeaveAction::SwitchLanguage)) {
        UpdateCommandStates();  // the language item clicked shows the current one again
        return false;
    }
    if (!MayLeaveUnwritten()) return false;
    // The tree reopens the parameter view below: asked once is enough.
    leaveAsked_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{leaveAsked_};
    PrepareTableReload();
    const LanguageSwitchResult r =
        ::SwitchLanguage(lang, *table_, name, [this](int n) { return ConfirmDiscardUnwritten(n); });
    if (r.outcome == LanguageSwitch::Unchanged) return false;
    TranslateCommandBars();
    // The link pane says the link's state in the language.
    UpdateStatusBar();
    if (r.outcome == LanguageSwitch::TableFailed) {
        app_.ShowMessage(ToQ(ParamLoadFailedMessage(r.tablePath)));
        return true;
    }
    CDataDlg* before = CurrentView();
    RebuildTree();
    devicePane_->SelectNumber(DT_PARAMETER_ROOT);
    // Without a parameter view the old view stays; it refills from the
    // reloaded table.
    if (CDataDlg* v = CurrentView(); v && v == before) v->SetTable(table_);
    return true;
}

void CMainFrame::OnFontSettings()
{
    CFontComboDlg dlg(this, profilePath_);
    dlg.exec();
    // The colour is otherwise written only when the dialog goes; the view
    // reads the profile now.
    dlg.Settings().Store(dlg.ProfilePath());
    if (CDataDlg* v = CurrentView()) v->ApplyFontSettings();
}

CustomizeModel CMainFrame::CurrentCustomization() const
{
    CustomizeModel m;
    m.buttons = ToolBarButtons();
    for (int id : bars_->CommandIds())
        if (QAction* a = bars_->Command(id)) m.shortcuts[id] = a->shortcut();
    for (const auto& [id, a] : extraCommands_) m.shortcuts[id] = a->shortcut();
    m.largeIcons = bars_->LargeIcons();
    return m;
}

void CMainFrame::ApplyCustomization(const CustomizeModel& m)
{
    std::vector<int> ids;
    for (int id : m.buttons)
        if (id == 0 || bars_->Command(id)) ids.push_back(id);
    bars_->LoadToolBar(QString::fromLatin1(kStandardToolBar), ids);
    for (const auto& [id, keys] : m.shortcuts)
        if (QAction* a = Command(id)) a->setShortcut(keys);
    bars_->SetLargeIcons(m.largeIcons);
    UpdateCommandStates();
}

bool CMainFrame::RunCustomize(CCustomizeDlg& dialog)
{
    return dialog.exec() == QDialog::Accepted;
}

void CMainFrame::OnCustomize()
{
    std::map<int, QString> captions;
    std::vector<int> toolbarCommands;
    for (int id : bars_->CommandIds())
        if (QAction* a = bars_->Command(id); a && !bars_->IsCommandHidden(id)) {
            captions[id] = a->text();
            toolbarCommands.push_back(id);
        }
    for (const auto& [id, a] : extraCommands_) captions[id] = a->text();
    CCustomizeDlg dialog(CurrentCustomization(), captions, toolbarCommands, StandardToolBarIds(), this);
    if (RunCustomize(dialog)) ApplyCustomization(dialog.Model());
}

QMenu* CMainFrame::createPopupMenu()
{
    QMenu* menu = QMainWindow::createPopupMenu();
    if (!menu) menu = new QMenu(this);
    menu->addSeparator();
    menu->addAction(extraCommands_[ID_CUSTOMIZE]);
    return menu;
}

// ---- tree and views ------------------------------------------------------------

void CMainFrame::LoadInitialTable()
{
    std::wstring path;
    if (!LoadConfiguredParamTable(*table_, app_.ProgramDir(), path)) {
        devicePane_->Clear();
        app_.ShowMessage(ToQ(ParamLoadFailedMessage(path)));
        return;
    }
    RebuildTree();
}

void CMainFrame::RebuildTree()
{
    devicePane_->Rebuild(BuildDeviceTree(*table_, app_.Language()));
    UpdateSearch();
}

void CMainFrame::UpdateSearch()
{
    const int language = app_.Language().languageIndex();
    QStringList entries;
    for (const ParamRecord& r : table_->params) entries << ToQ(SearchEntryText(r, language));
    devicePane_->SetSearchEntries(entries);
    QString hint = ToQ(app_.Language().ControlText(ID_FIND_PARAM));
    if (hint.isEmpty()) hint = QStringLiteral("Find Parameter");
    devicePane_->SetSearchHint(hint + QStringLiteral(" (Ctrl+F)"));
}

void CMainFrame::OnFindParam()
{
    panes_->ShowPane(IDC_DEVICE_PANE);
    devicePane_->SearchField()->setFocus(Qt::ShortcutFocusReason);
    devicePane_->SearchField()->selectAll();
}

bool CMainFrame::FindParameter(const QString& text)
{
    const std::vector<int> found = FindParameters(*table_, text.toStdWString(), app_.Language().languageIndex());
    for (int index : found) {
        const ParamRecord* r = table_->RecordByIndex(index);
        for (int number : r ? TreeNumbersOfRecord(*r) : std::vector<int>()) {
            if (!devicePane_->Tree()->FindItem(number)) continue;
            // The group's view opens (unless a running view keeps its place)
            // and shows the row.
            devicePane_->SelectNumber(number);
            CDataDlg* v = CurrentView();
            if (v && v->ShowRecord(index)) {
                status_->SetPaneText(0, QString());
                return true;
            }
            break;
        }
    }
    QString note = ToQ(app_.Language().ControlText(IDS_PARAM_NOT_FOUND));
    if (note.isEmpty()) note = QStringLiteral("No parameter found:");
    status_->SetPaneText(0, note + QLatin1Char(' ') + text.trimmed());
    return false;
}

bool CMainFrame::RefusedWhileBusy()
{
    CDataDlg* v = CurrentView();
    const QString busy = v ? v->BusyText() : QString();
    if (busy.isEmpty()) return false;
    app_.ShowMessage(busy);
    UpdateCommandStates();  // a checkable language item clicked stays as it was
    return true;
}

bool CMainFrame::OpenViewFor(int number, int parentNumber, const QString& text)
{
    return OpenView(ChooseView(number, parentNumber, text.toStdWString()));
}

bool CMainFrame::OpenView(const ViewChoice& choice)
{
    if (choice.kind == ViewKind::None || !views_->Has(choice.kind)) return false;
    // The view that runs keeps its place, and the tree shows it again.
    if (RefusedWhileBusy() || !MayLeave(this, CurrentView(), LeaveAction::SwitchView)) {
        devicePane_->RevertSelection();
        return false;
    }
    // Leaving the parameter view with values not written asks first.
    if (CDataDlg* current = CurrentView(); current && current->inherits("CDialogParam") && !MayLeaveUnwritten()) {
        devicePane_->RevertSelection();
        return false;
    }
    // The old view goes first, its workers joined: a new view may start link
    // work as it opens, and the link serves one request at a time.
    view_->CloseCurrentView();
    CDataDlg* view = views_->Create(choice, view_);
    if (!view) return false;
    // A view sets its own buttons from the connection state as it is made;
    // the next change of that state reaches it through UpdateButtons.
    view_->ShowView(view, table_);
    return true;
}

std::vector<CMenuEntry> CMainFrame::MenuDefinition()
{
    std::vector<CMenuEntry> menu = MainMenuDefinition();
    // The menus of views follow "&View"; a menu without items is left out.
    auto at = menu.begin();
    while (at != menu.end() && at->text != QStringLiteral("&View")) ++at;
    if (at != menu.end()) ++at;
    menuViews_.clear();
    for (const ViewMenu& m : views_->Menus()) {
        std::vector<CMenuEntry> items;
        for (const ViewMenuItem& item : m.items ? m.items(app_.ProgramDir()) : std::vector<ViewMenuItem>()) {
            items.push_back(CMenuEntry::Command(item.id, item.text));
            menuViews_[item.id] = item.choice;
        }
        if (!items.empty()) at = menu.insert(at, CMenuEntry::Popup(m.caption, std::move(items))) + 1;
    }
    return menu;
}

// ---- command bar texts ----------------------------------------------------------

void CMainFrame::ApplyCommandText(int id)
{
    QString text = ToQ(app_.Language().ControlText(id));
    if (text.isEmpty()) return;
    // A workbook text may carry its shortcut after a tab; the shortcut is the
    // action's own.
    const int tab = text.indexOf(QLatin1Char('\t'));
    if (tab >= 0) text = text.left(tab);
    // The mnemonic belongs to the menu; the status bar and the tooltip show
    // the words alone.
    const QString plain = PlainCommandText(text);
    bars_->SetCommandTexts(id, text, plain, plain);
}

void CMainFrame::TranslateCommandBars()
{
    LanguageTables& lang = app_.Language();
    // The menus come back with their own texts; the user's shortcuts stay.
    std::map<int, QKeySequence> keys;
    for (int id : bars_->CommandIds())
        if (QAction* a = bars_->Command(id)) keys[id] = a->shortcut();
    bars_->LoadMenu(MenuDefinition());
    for (const auto& [id, k] : keys)
        if (QAction* a = bars_->Command(id)) a->setShortcut(k);

    for (int id : {ID_LANGUAGE_CHINESE, ID_LANGUAGE_ENGLISH}) {
        const QString caption = ToQ(lang.CommandCaption(id));
        if (!caption.isEmpty()) bars_->SetCommandTexts(id, caption, QString(), QString());
    }
    for (int id : bars_->CommandIds())
        if (id > 0) ApplyCommandText(id);
    for (QMenu* popup : bars_->Popups()) {
        const QString caption = ToQ(lang.MenuCaption(popup->title().toStdWString()));
        if (!caption.isEmpty()) popup->setTitle(caption);
    }
    // The pane is titled like its menu command.
    if (QDockWidget* dock = panes_ ? panes_->Pane(IDC_DEVICE_PANE) : nullptr) {
        const QString title = ToQ(lang.ControlText(ID_VIEW_DEVICE));
        dock->setWindowTitle(title.isEmpty() ? QString::fromLatin1(kDevicePaneTitle) : title);
    }
    UpdateCommandStates();
}

void CMainFrame::TranslatePopup(QMenu* popup)
{
    for (QAction* a : popup->actions()) {
        const int id = ActionId(a);
        if (id > 0) ApplyCommandText(id);
    }
    UpdateCommandStates();
}

// ---- layout -----------------------------------------------------------------------

LayoutData CMainFrame::CaptureLayout() const
{
    LayoutData d;
    d.taskPanelItems = taskPanelItems_;
    for (QToolBar* bar : findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly)) {
        LayoutToolBar t;
        t.name = bar->objectName();
        t.visible = !bar->isHidden();
        for (QAction* a : bar->actions()) t.buttons.push_back(a->isSeparator() ? 0 : ActionId(a));
        d.toolBars.push_back(std::move(t));
    }
    for (int id : bars_->CommandIds())
        if (QAction* a = bars_->Command(id)) d.shortcuts[id] = a->shortcut().toString(QKeySequence::PortableText);
    for (const auto& [id, a] : extraCommands_) d.shortcuts[id] = a->shortcut().toString(QKeySequence::PortableText);
    d.largeIcons = bars_->LargeIcons();
    d.windowState = saveState();
    d.geometry = saveGeometry();
    return d;
}

void CMainFrame::ApplyLayout(const LayoutData& d)
{
    taskPanelItems_ = d.taskPanelItems;
    for (const LayoutToolBar& t : d.toolBars) {
        if (!bars_->ToolBar(t.name)) continue;  // only the bars this program has
        std::vector<int> ids;
        for (int id : t.buttons)
            if (id == 0 || bars_->Command(id)) ids.push_back(id);
        bars_->LoadToolBar(t.name, ids);
        bars_->ToolBar(t.name)->setVisible(t.visible);
    }
    for (const auto& [id, keys] : d.shortcuts)
        if (QAction* a = Command(id)) a->setShortcut(QKeySequence(keys, QKeySequence::PortableText));
    bars_->SetLargeIcons(d.largeIcons);
    if (!d.geometry.isEmpty()) restoreGeometry(d.geometry);
    if (!d.windowState.isEmpty()) restoreState(d.windowState);
}

bool CMainFrame::SaveLayout() const
{
    return WriteLayoutFile(layoutPath_, CaptureLayout());
}

bool CMainFrame::LoadLayout()
{
    LayoutData d;
    if (!ReadLayoutFile(layoutPath_, &d)) {
        taskPanelItems_.clear();
        return false;
    }
    ApplyLayout(d);
    return true;
}

bool CMainFrame::LoadProfileCommandBars()
{
    QSettings profile(QString::fromStdWString(profilePath_), QSettings::IniFormat);
    return bars_->LoadState(profile, QString::fromLatin1(kProfileCommandBars));
}

bool CMainFrame::SaveProfileCommandBars() const
{
    if (profilePath_.empty()) return false;
    QDir().mkpath(QFileInfo(QString::fromStdWString(profilePath_)).absolutePath());
    QSettings profile(QString::fromStdWString(profilePath_), QSettings::IniFormat);
    bars_->SaveState(profile, QString::fromLatin1(kProfileCommandBars));
    profile.sync();
    return profile.status() == QSettings::NoError;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // A run of the view ends first (the user may keep it going instead).
    if (CDataDlg* v = CurrentView(); v && !v->BusyText().isEmpty()) {
        if (!v->StopForClose()) {
            event->ignore();
            return;
        }
    } else if (v && !v->ConfirmClose()) {
        event->ignore();
        return;
    }
    if (!MayLeave(this, CurrentView(), LeaveAction::Close)) {
        event->ignore();
        return;
    }
    SaveLayout();
    // Also into the profile: the next run finds the bars there when the
    // layout file beside the program is lost or could not be written.
    SaveProfileCommandBars();
    CloseCurrentView();
    QMainWindow::closeEvent(event);
}
