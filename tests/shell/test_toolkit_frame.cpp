#include "FrameParts.h"

#include <QAction>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {

std::vector<CMenuEntry> MainMenu()
{
  return {
      CMenuEntry::Popup("Start", {CMenuEntry::Command(32776, "Edit Serial Port (&E)"),
                                  CMenuEntry::Separator(),
                                  CMenuEntry::Command(32777, "Connect Serial Port (&C)\tCtrl+C"),
                                  CMenuEntry::Command(32778, "Disconnect(&D)\tCtrl+D")}),
      CMenuEntry::Popup("&Language", {CMenuEntry::Command(32772, "Chinese"),
                                      CMenuEntry::Command(32773, "English")}),
      CMenuEntry::Popup("&File", {CMenuEntry::Command(57607, "Print"),
                                  CMenuEntry::Popup("Recent", {CMenuEntry::Command(57616, "1")})}),
  };
}

// A frame built the way the main window builds its own.
struct Frame
{
  Frame()
      : bars(new CCommandBars(&window)), panes(new CDockingPanes(&window)),
        status(window.statusBar(), 5)
  {
    bars->LoadMenu(MainMenu());
    bars->LoadToolBar("Standard", {32776, 32777, 32778, 0, 32774, 32772, 32773, 0, 57664});
    bars->HideCommand(57607);
    QDockWidget* dock = panes->CreatePane(21002, "Device View", Qt::LeftDockWidgetArea, QSize(230, 140));
    panes->Attach(21002, new QLabel("tree", dock));
    window.resize(900, 600);
  }

  QMainWindow window;
  CCommandBars* bars;
  CDockingPanes* panes;
  CStatusPanes status;
};

TEST(CommandBars, MenuAndToolbarShareOneActionPerCommand)
{
  Frame f;
  QAction* connect = f.bars->Command(32777);
  ASSERT_NE(connect, nullptr);
  EXPECT_EQ(connect->text(), "Connect Serial Port (&C)");
  EXPECT_EQ(connect->shortcut(), QKeySequence("Ctrl+C"));
  EXPECT_TRUE(f.bars->ToolBar("Standard")->actions().contains(connect));
  EXPECT_TRUE(f.window.menuBar()->actions().at(0)->menu()->actions().contains(connect));
  ASSERT_NE(f.bars->Command(32774), nullptr) << "a toolbar-only command gets its action";

  QSignalSpy spy(f.bars, &CCommandBars::command);
  connect->trigger();
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toInt(), 32777);

  EXPECT_TRUE(f.bars->IsCommandHidden(57607));
  EXPECT_FALSE(f.bars->Command(57607)->isVisible());
  EXPECT_EQ(f.bars->Popups().size(), 4) << "nested drop-downs count too";

  const auto ids = f.bars->CommandIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 32777), 1);
}

TEST(CommandBars, TextsChangeAndReloadRestoresTheDefinition)
{
  Frame f;
  f.bars->SetCommandTexts(32772, QString::fromWCharArray(L"中文"), "Switch to Chinese", "Chinese");
  EXPECT_EQ(f.bars->Caption(32772), QString::fromWCharArray(L"中文"));
  EXPECT_EQ(f.bars->Description(32772), "Switch to Chinese");
  EXPECT_EQ(f.bars->Tooltip(32772), "Chinese");
  QAction* before = f.bars->Command(32772);

  f.bars->LoadMenu(MainMenu());
  EXPECT_EQ(f.bars->Command(32772), before) << "the action survives a reload";
  EXPECT_EQ(f.bars->Caption(32772), "Chinese");
  EXPECT_TRUE(f.bars->Description(32772).isEmpty());
  EXPECT_FALSE(f.bars->Command(57607)->isVisible()) << "still hidden after a reload";
  EXPECT_EQ(f.bars->Popups().size(), 4) << "old drop-downs are gone";
  EXPECT_EQ(f.window.menuBar()->actions().size(), 3);
}

TEST(CommandBars, OpeningADropDownIsNoticed)
{
  Frame f;
  f.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
  QList<QMenu*> opened;
  QObject::connect(f.bars, &CCommandBars::popupOpening, [&](QMenu* m) { opened.append(m); });
  QMenu* start = f.bars->Popups().at(0);
  start->popup(f.window.mapToGlobal(QPoint(10, 10)));
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened.at(0), start);
  start->hide();
}

TEST(CommandBars, CustomizeSheetListsCategoriesAndAssignsKeys)
{
  Frame f;
  CCustomizeSheet sheet(*f.bars);
  EXPECT_EQ(sheet.Categories(), (QStringList{"Start", "Language", "File", "All Commands",
                                             "Built-in Menus", "New Menu"}));
  EXPECT_EQ(sheet.CategoryCommands("Start"), (std::vector<int>{32776, 32777, 32778}));
  EXPECT_EQ(sheet.CategoryCommands("File"), (std::vector<int>{57607, 57616}));
  const auto all = sheet.CategoryCommands("All Commands");
  EXPECT_EQ(std::count(all.begin(), all.end(), 57607), 0) << "hidden commands are not offered";
  EXPECT_EQ(std::count(all.begin(), all.end(), 32774), 1);
  EXPECT_EQ(sheet.CategoryCommands("Built-in Menus").size(), 4u);
  EXPECT_TRUE(sheet.CategoryCommands("New Menu").empty());

  sheet.AssignShortcut(32776, QKeySequence("Ctrl+C"));
  EXPECT_EQ(f.bars->Command(32776)->shortcut(), QKeySequence("Ctrl+C"));
  EXPECT_TRUE(f.bars->Command(32777)->shortcut().isEmpty()) << "a key belongs to one command";
  sheet.RemoveShortcut(32776);
  EXPECT_TRUE(f.bars->Command(32776)->shortcut().isEmpty());

  f.bars->SetLargeIcons(true);
  EXPECT_EQ(f.bars->ToolBar("Standard")->iconSize(), QSize(32, 32));
}

TEST(FrameParts, StatusPanesAndDockingPane)
{
  Frame f;
  ASSERT_EQ(f.status.Count(), 5);
  f.status.SetPaneText(1, "Noraml");
  f.status.SetPaneText(4, "Station:1");
  f.status.SetPaneText(5, "no such pane");
  EXPECT_EQ(f.status.PaneText(1), "Noraml");
  EXPECT_EQ(f.status.PaneText(4), "Station:1");
  EXPECT_TRUE(f.status.PaneText(2).isEmpty());

  QDockWidget* dock = f.panes->Pane(21002);
  ASSERT_NE(dock, nullptr);
  EXPECT_EQ(f.panes->CreatePane(21002, "again", Qt::RightDockWidgetArea, QSize()), dock);
  EXPECT_EQ(f.window.dockWidgetArea(dock), Qt::LeftDockWidgetArea);
  EXPECT_NE(qobject_cast<QLabel*>(dock->widget()), nullptr);
  f.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
  dock->close();
  EXPECT_FALSE(dock->isVisible());
  f.panes->ShowPane(21002);
  EXPECT_TRUE(dock->isVisible());
}

TEST(LayoutFile, KeepsToolbarsShortcutsAndTaskPanel)
{
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("Torvane.xml");
  {
    Frame f;
    f.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
    f.bars->ToolBar("Standard")->hide();
    f.bars->SetAccelerator(32776, QKeySequence("Ctrl+E"));
    f.bars->SetLargeIcons(true);
    ASSERT_TRUE(SaveLayoutFile(path, *f.bars, {"Task one"}));
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  for (const char* section :
       {"<Settings>", "<TaskPanel>", "<NormalLayout>", "<CommandBars>", "<Shortcuts>", "<Options LargeIcons=\"1\"/>",
        "<DockingPane"})
    EXPECT_TRUE(text.contains(section)) << section;

  Frame g;
  g.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&g.window));
  ASSERT_TRUE(g.bars->ToolBar("Standard")->isVisible());
  QStringList items;
  ASSERT_TRUE(LoadLayoutFile(path, *g.bars, &items));
  EXPECT_FALSE(g.bars->ToolBar("Standard")->isVisible());
  EXPECT_EQ(g.bars->Command(32776)->shortcut(), QKeySequence("Ctrl+E"));
  EXPECT_EQ(g.bars->Command(32777)->shortcut(), QKeySequence("Ctrl+C"));
  EXPECT_EQ(items, QStringList{"Task one"});
  EXPECT_TRUE(g.bars->LargeIcons());
}

TEST(LayoutFile, MissingOrDamagedFileChangesNothing)
{
  QTemporaryDir dir;
  Frame f;
  QStringList items{"kept"};
  EXPECT_FALSE(LoadLayoutFile(dir.filePath("none.xml"), *f.bars, &items));
  const QString damaged = dir.filePath("damaged.xml");
  QFile file(damaged);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<Settings><NormalLayout><Shortcuts><Shortcut Id=\"32777\" Keys=\"Ctrl+K\"/>"
             "</Shortcuts><DockingPane State=\"\"");
  file.close();
  EXPECT_FALSE(LoadLayoutFile(damaged, *f.bars, &items));
  EXPECT_EQ(f.bars->Command(32777)->shortcut(), QKeySequence("Ctrl+C"));
  EXPECT_EQ(items, QStringList{"kept"});
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write("<Other/>");
  file.close();
  EXPECT_FALSE(LoadLayoutFile(damaged, *f.bars, &items));
}

} // namespace
