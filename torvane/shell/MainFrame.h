// The main window: menu bar and the "Standard" toolbar, the status bar with
// the connection panes, the docking pane "Device View" with the device tree,
// and the view area that shows one data view at a time. Its toolbar,
// shortcut and docking layout are kept in a file beside the program.
#pragma once

#include "CustomizeDlg.h"
#include "DeviceCatalogue.h"
#include "LayoutFile.h"
#include "MainFrameCommands.h"
#include "TorvaneApp.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <string>

class CCommandBars;
class CDataDlg;
class CDeviceViewPane;
class CDockingPanes;
class CStatusPanes;
class CTorvaneView;
class CViewFactory;
class ParamTable;
class QAction;
class QMenu;

struct MainFrameOptions {
    // The layout file; empty: the program's path with ".xml".
    QString layoutPath;
    // The user profile of the font settings; empty: UserProfilePath().
    std::wstring profilePath;
    // The table the tree and the views show; null: the program's table.
    ParamTable* table = nullptr;
    // Which view each tree item opens; null: the program's registry.
    const CViewFactory* views = nullptr;
};

class CMainFrame : public QMainWindow, public CMainWindowHost {
    Q_OBJECT
public:
    explicit CMainFrame(CTorvaneApp& app, MainFrameOptions options = MainFrameOptions());
    ~CMainFrame() override;

    // ---- The application's side ----
    QWidget* Window() override { return this; }
    void UpdateStatusBar() override;
    CDataDlg* CurrentView() override;
    void CloseCurrentView() override;

    // ---- Parts ----
    CCommandBars* CommandBars() const { return bars_; }
    CDockingPanes* DockingPanes() const { return panes_; }
    CDeviceViewPane* DevicePane() const { return devicePane_; }
    CTorvaneView* View() const { return view_; }
    ParamTable& Table() const { return *table_; }
    QAction* Command(int id) const;
    QString PaneText(int pane) const;
    const QString& LayoutPath() const { return layoutPath_; }
    const QStringList& TaskPanelItems() const { return taskPanelItems_; }
    // The buttons of the "Standard" toolbar, 0 for a separator.
    std::vector<int> ToolBarButtons() const;

    // Runs a command as if the user chose it.
    void OnCommand(int id);
    // A command without a menu item of its own (the program file maker); it
    // takes precedence over one registered with RegisterShellCommand.
    void SetCommandHandler(int id, std::function<void()> handler);

    // ---- Commands ----
    // Loads a parameter workbook as the new device type; on success the tree
    // is built again. False (with the message shown) when it does not load,
    // or when the user kept what the current view runs.
    bool OpenDataFile(const QString& path);
    // "Chinese" / "English". False when the language was already current
    // (nothing changes).
    bool SwitchLanguage(const std::wstring& name);
    // The font dialog, then the current view applies the settings.
    void OnFontSettings();

    // Opens the view a tree item asks for. False when the item opens nothing
    // (or its view is not built); the current view then stays.
    bool OpenViewFor(int number, int parentNumber, const QString& text);
    // Opens the view of a choice (a tree item's, or a menu item's of a menu
    // of views); false as above.
    bool OpenView(const ViewChoice& choice);
    // Builds the device tree from the table anew (empty when the table is).
    void RebuildTree();
    // The parameter search: opens the group of the first parameter that
    // matches (by number or words of its name in the current language) and
    // selects its row. False, with a note in the message pane, when none
    // matches or the view cannot show it.
    bool FindParameter(const QString& text);

    // Command bar texts in the current language: menus and toolbar back to
    // their own texts, then every command from the control texts and every
    // drop-down menu by its key.
    void TranslateCommandBars();
    // Connect/Disconnect/Edit Param enabled from the connection state, the
    // check mark on the current language.
    void UpdateCommandStates();

    // ---- Customising ----
    // The toolbar buttons, every command's keys and the options as they are.
    CustomizeModel CurrentCustomization() const;
    // Puts a customisation into effect (commands this window does not have
    // are left out).
    void ApplyCustomization(const CustomizeModel& model);

    // ---- Layout file ----
    LayoutData CaptureLayout() const;
    void ApplyLayout(const LayoutData& layout);
    bool SaveLayout() const;
    // False when the file is missing or unreadable; the built-in layout then
    // stays and the task panel's items are cleared.
    bool LoadLayout();
    // The command-bar state in the user profile, under kProfileCommandBars.
    bool LoadProfileCommandBars();
    bool SaveProfileCommandBars() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    QMenu* createPopupMenu() override;
    // The Open Data file dialog; an empty result means cancelled.
    virtual QString PromptOpenData(const QString& startPath);
    // Runs the customise dialog; true on OK.
    virtual bool RunCustomize(CCustomizeDlg& dialog);
    // A table of another device type is about to replace `count` values
    // edited or loaded and not yet written: true lets them go.
    virtual bool ConfirmDiscardUnwritten(int count);
    // `count` values edited, loaded or taken are not written to the drive,
    // and the user is about to leave the parameter view, switch the language
    // or open another table: true goes on (they stay unwritten).
    virtual bool ConfirmLeaveUnwritten(int count);

private:
    // Asks ConfirmLeaveUnwritten when values are pending; true to go on.
    bool MayLeaveUnwritten();
    // The question was asked for the command in progress.
    bool leaveAsked_ = false;
    // Menu 128 with the menus of views after "&View".
    std::vector<CMenuEntry> MenuDefinition();
    QAction* AddHiddenCommand(int id, const QString& text, const QKeySequence& keys);
    void TranslatePopup(QMenu* popup);
    void ApplyCommandText(int id);
    void LoadInitialTable();
    void PrepareTableReload();
    void OnOpenData();
    void OnCustomize();
    void OnFindParam();
    void UpdateSearch();
    // While the current view runs a download or a drive check, commands that
    // would touch the links or replace the view are refused with its text.
    bool RefusedWhileBusy();

    CTorvaneApp& app_;
    ParamTable* table_;
    const CViewFactory* views_;
    QString layoutPath_;
    std::wstring profilePath_;
    CCommandBars* bars_ = nullptr;
    CDockingPanes* panes_ = nullptr;
    std::unique_ptr<CStatusPanes> status_;
    CDeviceViewPane* devicePane_ = nullptr;
    CTorvaneView* view_ = nullptr;
    QStringList taskPanelItems_;
    std::map<int, QAction*> extraCommands_;
    std::map<int, std::function<void()>> handlers_;
    std::map<int, ViewChoice> menuViews_;  // items of the menus of views
};
