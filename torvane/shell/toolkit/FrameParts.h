#pragma once
// Frame parts of the main window: command bars (menu bar and toolbars) whose
// commands are known by numeric identifier, docking panes, a status bar of
// text panes, and the layout file that keeps toolbars, shortcuts and panes
// between runs.

#include <QDialog>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <map>
#include <vector>

class QAction;
class QDockWidget;
class QKeySequenceEdit;
class QLabel;
class QListWidget;
class QMainWindow;
class QMenu;
class QSettings;
class QStatusBar;
class QToolBar;
class QWidget;

// One entry of a menu definition: a command (id > 0), a separator, or a
// drop-down menu (id <= 0) with entries of its own. A command's text may
// carry its shortcut after a tab, as in "Connect Serial Port (&C)\tCtrl+C".
struct CMenuEntry
{
  int id = 0;
  QString text;
  bool separator = false;
  std::vector<CMenuEntry> items;

  static CMenuEntry Command(int id, const QString& text) { return {id, text, false, {}}; }
  static CMenuEntry Separator() { return {0, QString(), true, {}}; }
  static CMenuEntry Popup(const QString& text, std::vector<CMenuEntry> items)
  {
    return {0, text, false, std::move(items)};
  }
};

// The command bars of a frame window. Every command identifier has one
// action, shared by the menu bar and the toolbars, so a caption, an enabled
// state or a shortcut set once shows everywhere.
class CCommandBars : public QObject
{
  Q_OBJECT
public:
  explicit CCommandBars(QMainWindow* frame);

  // (Re)builds the menu bar from a definition. Actions of identifiers seen
  // before are reused, with their caption reset to the definition's text.
  void LoadMenu(const std::vector<CMenuEntry>& menu);
  // (Re)builds a toolbar (object name = name) from identifiers; 0 is a
  // separator. An identifier not in the menu gets an action of its own.
  QToolBar* LoadToolBar(const QString& name, const std::vector<int>& ids);
  QToolBar* ToolBar(const QString& name) const;

  QAction* Command(int id) const;
  std::vector<int> CommandIds() const;
  // The drop-down menus of the menu bar, nested ones included, in order.
  QList<QMenu*> Popups() const;

  void HideCommand(int id);
  bool IsCommandHidden(int id) const;
  void SetAccelerator(int id, const QKeySequence& keys);
  void SetCommandTexts(int id, const QString& caption, const QString& description,
                       const QString& tooltip);
  QString Caption(int id) const;
  QString Description(int id) const;
  QString Tooltip(int id) const;

  // Toolbar placement and the shortcuts, under a key of the user profile.
  void SaveState(QSettings& profile, const QString& key) const;
  bool LoadState(QSettings& profile, const QString& key);

  std::map<int, QKeySequence> Shortcuts() const;
  void SetShortcuts(const std::map<int, QKeySequence>& shortcuts);

  // Command-bar options (the "Options" page of the customise sheet).
  void SetLargeIcons(bool on);
  bool LargeIcons() const { return m_largeIcons; }

  // The customise sheet: a commands page (one category per drop-down menu,
  // "All Commands", "Built-in Menus", "New Menu"), a keyboard page that
  // assigns shortcuts, and an options page. Modal; returns when closed.
  void Customize(QWidget* parent = nullptr);

  QMainWindow* Frame() const { return m_frame; }

signals:
  // A drop-down menu is about to open (its items may still be changed).
  void popupOpening(QMenu* popup);
  // The user chose a command.
  void command(int id);

private:
  QAction* Action(int id, const QString& text);
  void Fill(QMenu* menu, const std::vector<CMenuEntry>& items);

  QMainWindow* m_frame;
  std::map<int, QAction*> m_actions;
  std::vector<int> m_hidden;
  bool m_largeIcons = false;
};

// The customise sheet of the command bars; Customize() shows it modally.
class CCustomizeSheet : public QDialog
{
  Q_OBJECT
public:
  CCustomizeSheet(CCommandBars& bars, QWidget* parent = nullptr);

  QStringList Categories() const;
  // The commands of a category, by identifier; "Built-in Menus" lists the
  // drop-down menus instead (identifier 0).
  std::vector<int> CategoryCommands(const QString& category) const;
  // What the keyboard page's Assign and Remove buttons do.
  void AssignShortcut(int id, const QKeySequence& keys);
  void RemoveShortcut(int id);

private:
  void ShowCategory(int row);
  void ShowKeys();

  CCommandBars& m_bars;
  std::vector<std::pair<QString, std::vector<int>>> m_categories;
  QListWidget* m_categoryList;
  QListWidget* m_commandList;
  QListWidget* m_keyCommands;
  QKeySequenceEdit* m_keyEdit;
  QLabel* m_currentKeys;
};

// The docking panes of a frame window, known by identifier.
class CDockingPanes : public QObject
{
  Q_OBJECT
public:
  explicit CDockingPanes(QMainWindow* frame);

  QDockWidget* CreatePane(int id, const QString& title, Qt::DockWidgetArea area,
                          const QSize& initialSize);
  QDockWidget* Pane(int id) const;
  // Puts a child window into the pane; the pane owns it from then on.
  void Attach(int id, QWidget* child);
  void ShowPane(int id);

private:
  QMainWindow* m_frame;
  std::map<int, QDockWidget*> m_panes;
};

// A status bar of text panes; pane 0 is the message pane and takes the room
// the others leave.
class CStatusPanes
{
public:
  CStatusPanes(QStatusBar* bar, int count);
  int Count() const { return static_cast<int>(m_panes.size()); }
  void SetPaneText(int pane, const QString& text);
  QString PaneText(int pane) const;

private:
  std::vector<QLabel*> m_panes;
};

// The layout file: root "Settings" with the sections "TaskPanel" and
// "NormalLayout" (sub-sections "CommandBars", "Shortcuts", "Options",
// "DockingPane"). Saving replaces the file; loading returns false for a
// missing or unreadable file and then changes nothing.
bool SaveLayoutFile(const QString& path, const CCommandBars& bars, const QStringList& taskPanelItems);
bool LoadLayoutFile(const QString& path, CCommandBars& bars, QStringList* taskPanelItems);
