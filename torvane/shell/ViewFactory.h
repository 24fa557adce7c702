// Which view class opens for each kind of tree item. The views live in their
// own folders (parameters, monitors, download); each registers its creator
// here, and a kind without a creator opens nothing, so the tree works while
// some views are still missing.
#pragma once

#include "DeviceCatalogue.h"

#include <QString>

#include <functional>
#include <map>
#include <string>
#include <vector>

class CDataDlg;
class QWidget;

// Creates the view for a choice (group or subgroup number in
// choice.selection, function name in choice.functionName), as a child of
// parent, not yet shown. May return null (nothing opens).
using ViewCreator = std::function<CDataDlg*(const ViewChoice& choice, QWidget* parent)>;

// A drop-down menu of the main window whose items open views, for views the
// device tree has no place for (the functions). Its items are made anew
// whenever the menu bar is built, from the files below the program folder.
struct ViewMenuItem {
    int id = 0;         // command identifier
    QString text;       // shown as it is
    ViewChoice choice;  // the view the item opens
};
struct ViewMenu {
    QString caption;  // English; translated like the other drop-down menus
    std::function<std::vector<ViewMenuItem>(const std::wstring& programFolder)> items;
};

class CViewFactory {
public:
    // Replaces the creator of a kind; an empty creator removes it.
    void Register(ViewKind kind, ViewCreator creator);
    bool Has(ViewKind kind) const;
    // The new view, or null when the kind has no creator (or is None).
    CDataDlg* Create(const ViewChoice& choice, QWidget* parent) const;

    // Adds a menu of views, or replaces the one with the same caption. The
    // main window places these after "&View".
    void RegisterMenu(ViewMenu menu);
    const std::vector<ViewMenu>& Menus() const { return menus_; }

private:
    std::map<ViewKind, ViewCreator> creators_;
    std::vector<ViewMenu> menus_;
};

// The creators of the running program; the main frame uses these unless it
// is given a factory of its own.
CViewFactory& TheViewFactory();
// Shorthand for TheViewFactory().Register(kind, creator).
void RegisterViewKind(ViewKind kind, ViewCreator creator);

// Commands of other folders that have no menu item (the program file maker,
// 32786): run with the main window as the parent of their dialogs. The main
// window looks here for commands it does not handle itself.
using ShellCommand = std::function<void(QWidget* parent)>;
void RegisterShellCommand(int id, ShellCommand command);
// The registered command, or null.
const ShellCommand* FindShellCommand(int id);

// What the main window is about to do that ends the current view's work or
// replaces what the views keep for the user (a recording in the monitor).
enum class LeaveAction { SwitchView, SwitchLanguage, OpenData, Connect, Disconnect, Close };
// A question of another folder asked before such an action: true lets the
// action go on (the guard may have saved or let go what it keeps), false
// cancels it. `current` is the view shown now, or null.
using LeaveGuard = std::function<bool(QWidget* parent, CDataDlg* current, LeaveAction action)>;
// Adds a guard; the guards are asked in the order they were added.
void RegisterLeaveGuard(LeaveGuard guard);
// Asks every guard; false as soon as one says no.
bool MayLeave(QWidget* parent, CDataDlg* current, LeaveAction action);

// Work of another folder the main window runs once it is up, with itself as
// the parent of the dialogs (the monitor offers recordings a crash left).
using StartOffer = std::function<void(QWidget* parent)>;
void RegisterStartOffer(StartOffer offer);
void RunStartOffers(QWidget* parent);
