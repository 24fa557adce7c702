// Menus, toolbar, status bar and command enabling of the main window, and
// the language commands.
#include "FrameParts.h"
#include "test_mainframe_util.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

using namespace mftest;

namespace {

QMenu* Popup(CMainFrame* f, int index)
{
    return f->menuBar()->actions().at(index)->menu();
}

// Entries of a popup: command ids, 0 for separators.
std::vector<int> Entries(QMenu* m)
{
    std::vector<int> out;
    for (QAction* a : m->actions()) out.push_back(a->isSeparator() ? 0 : a->property("ctrlId").toInt());
    return out;
}

}  // namespace

TEST(MainFrameLogic, PlainCommandTextDropsTheMnemonic)
{
    EXPECT_EQ(PlainCommandText(QStringLiteral("Disconnect(&D)")), QStringLiteral("Disconnect"));
    EXPECT_EQ(PlainCommandText(QStringLiteral("Connect Serial Port (&C)")), QStringLiteral("Connect Serial Port"));
    EXPECT_EQ(PlainCommandText(QStringLiteral("&Help")), QStringLiteral("Help"));
    EXPECT_EQ(PlainCommandText(QStringLiteral("&About Torvane...")), QStringLiteral("About Torvane..."));
    EXPECT_EQ(PlainCommandText(QStringLiteral("Save && Load")), QStringLiteral("Save & Load"));
    EXPECT_EQ(PlainCommandText(QString::fromUtf8("断开(&D)")), QString::fromUtf8("断开"));
    EXPECT_EQ(PlainCommandText(QStringLiteral("User Guideline")), QStringLiteral("User Guideline"));
}

TEST(MainFrameLogic, ConnectAndDisconnectFollowTheFlags)
{
    EXPECT_TRUE(CommandEnabled(ID_CONNECT, false, false));
    EXPECT_FALSE(CommandEnabled(ID_DISCONNECT, false, false));
    for (auto [normal, boot] : {std::pair{true, false}, std::pair{false, true}}) {
        EXPECT_FALSE(CommandEnabled(ID_CONNECT, normal, boot));
        EXPECT_TRUE(CommandEnabled(ID_DISCONNECT, normal, boot));
    }
    EXPECT_FALSE(CommandEnabled(ID_EDIT_PARAM, false, false));
    EXPECT_TRUE(CommandEnabled(ID_OPEN_DATA, true, false));
}

TEST(MainFrameLogic, LayoutFileBesideTheProgram)
{
    EXPECT_EQ(LayoutFilePathFor(QStringLiteral("/opt/torvane/Torvane")), QStringLiteral("/opt/torvane/Torvane.xml"));
    EXPECT_EQ(LayoutFilePathFor(QStringLiteral("C:/Tools/Torvane.exe")), QStringLiteral("C:/Tools/Torvane.xml"));
    // Dots in folder names are not extensions.
    EXPECT_EQ(LayoutFilePathFor(QStringLiteral("/opt/v1.24/Torvane")), QStringLiteral("/opt/v1.24/Torvane.xml"));
    EXPECT_EQ(LayoutFilePathFor(QStringLiteral("/opt/.hidden")), QStringLiteral("/opt/.hidden.xml"));
    EXPECT_EQ(LayoutFilePathFor(QString()), QString());
}

TEST_F(FrameTest, MenusToolbarAndShortcuts)
{
    WriteProgramFolder(dir_);
    Start();
    EXPECT_EQ(MenuTitles(frame_), (QStringList{"Start", "Param(&M)", "&View", "&Language", "&Help"}));
    EXPECT_EQ(Entries(Popup(frame_, 0)), (std::vector<int>{32776, 0, 32777, 32778, 0, ID_APP_EXIT}));
    EXPECT_EQ(Entries(Popup(frame_, 1)), (std::vector<int>{32774, 32775}));
    EXPECT_EQ(Entries(Popup(frame_, 2)), (std::vector<int>{21002}));
    EXPECT_EQ(Entries(Popup(frame_, 3)), (std::vector<int>{32772, 32773}));
    EXPECT_EQ(Entries(Popup(frame_, 4)), (std::vector<int>{57664, 32785}));
    EXPECT_EQ(frame_->ToolBarButtons(), (std::vector<int>{32776, 32777, 32778, 0, 32774, 32772, 32773, 0, 57664}));
    QToolBar* bar = frame_->CommandBars()->ToolBar("Standard");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->iconSize(), QSize(16, 16));
    for (int id : frame_->ToolBarButtons())
        if (id) {
            EXPECT_FALSE(frame_->Command(id)->icon().isNull()) << id;
        }

    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
    EXPECT_EQ(frame_->Command(ID_DISCONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+D")));
    EXPECT_EQ(frame_->Command(ID_APP_EXIT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    // The font settings have no menu item or button, only their keys.
    QAction* font = frame_->Command(ID_FONT_SETTINGS);
    ASSERT_NE(font, nullptr);
    EXPECT_FALSE(font->shortcut().isEmpty());
    EXPECT_TRUE(font->associatedObjects().contains(frame_));
    for (QMenu* m : frame_->CommandBars()->Popups())
        for (int id : Entries(m)) EXPECT_NE(id, ID_FONT_SETTINGS);

    EXPECT_FALSE(frame_->Command(ID_EDIT_PARAM)->isEnabled());
    EXPECT_TRUE(frame_->CommandBars()->IsCommandHidden(57607));
    EXPECT_TRUE(frame_->CommandBars()->IsCommandHidden(57609));
    // English is current: its item carries the check mark.
    EXPECT_TRUE(frame_->Command(ID_LANGUAGE_ENGLISH)->isChecked());
    EXPECT_FALSE(frame_->Command(ID_LANGUAGE_CHINESE)->isChecked());
}

TEST_F(FrameTest, DeviceViewCommandShowsThePane)
{
    WriteProgramFolder(dir_);
    Start();
    QDockWidget* dock = frame_->DockingPanes()->Pane(21002);
    ASSERT_NE(dock, nullptr);
    EXPECT_EQ(frame_->dockWidgetArea(dock), Qt::LeftDockWidgetArea);
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("Device View"));
    dock->close();
    EXPECT_FALSE(dock->isVisible());
    frame_->OnCommand(ID_VIEW_DEVICE);
    EXPECT_TRUE(dock->isVisible());
}

TEST_F(FrameTest, StatusBarWhenDisconnected)
{
    WriteProgramFolder(dir_);
    WriteText(dir_.file("config.ini"),
              "[COM]\nCOMID=3\nbautRate=9600\nDataBit=8\nParity=2,EVEN,偶\ndevAddr=1\n");
    Start();
    EXPECT_EQ(frame_->PaneText(1), QString());
    EXPECT_EQ(frame_->PaneText(2), QStringLiteral("DisConn"));
    EXPECT_EQ(frame_->PaneText(3), QStringLiteral("COM3,9600,8,2,EVEN"));
    EXPECT_EQ(frame_->PaneText(4), QStringLiteral("Station:1"));
    EXPECT_TRUE(frame_->Command(ID_CONNECT)->isEnabled());
    EXPECT_FALSE(frame_->Command(ID_DISCONNECT)->isEnabled());

    // A settings change shows at the next refresh.
    app_->Settings().Parity = L"1,ODD,奇";
    app_->Settings().devAddr = L"7";
    frame_->UpdateStatusBar();
    EXPECT_EQ(frame_->PaneText(3), QStringLiteral("COM3,9600,8,1,ODD"));
    EXPECT_EQ(frame_->PaneText(4), QStringLiteral("Station:7"));
}

TEST_F(FrameTest, DisabledDisconnectDoesNothing)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(10001));
    auto* v = dynamic_cast<CTestView*>(frame_->CurrentView());
    ASSERT_NE(v, nullptr);
    // A view sets its own buttons as it is made; the frame tells it only of
    // changes of the connection state.
    EXPECT_EQ(v->lastNormal_, -1);
    // Disabled while disconnected: the command does nothing.
    frame_->OnCommand(ID_DISCONNECT);
    EXPECT_EQ(v->lastNormal_, -1);
    EXPECT_EQ(frame_->PaneText(2), QStringLiteral("DisConn"));
}

TEST_F(FrameTest, LanguageSwitchTranslatesMenusCommandsAndViews)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    auto* first = dynamic_cast<CTestView*>(frame_->CurrentView());
    ASSERT_NE(first, nullptr);
    // Views take the control texts when they initialise.
    EXPECT_EQ(first->button_->text(), QStringLiteral("Select All"));
    EXPECT_EQ(first->label_->text(), QStringLiteral("Value"));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->text(), QStringLiteral("Connect Serial Port (&C)"));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));

    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    EXPECT_EQ(MenuTitles(frame_),
              (QStringList{QString::fromUtf8("开始"), QString::fromUtf8("参数(&M)"), QString::fromUtf8("视图(&V)"),
                           QString::fromUtf8("语言(&L)"), QString::fromUtf8("帮助(&H)")}));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->text(), QString::fromUtf8("连接串口(&C)"));
    // The status bar and the tooltip show the words without the mnemonic.
    EXPECT_EQ(frame_->Command(ID_CONNECT)->toolTip(), QString::fromUtf8("连接串口"));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->statusTip(), QString::fromUtf8("连接串口"));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
    EXPECT_EQ(frame_->Command(ID_LANGUAGE_CHINESE)->text(), QString::fromUtf8("中文"));
    EXPECT_TRUE(frame_->Command(ID_LANGUAGE_CHINESE)->isChecked());
    EXPECT_FALSE(frame_->Command(ID_LANGUAGE_ENGLISH)->isChecked());
    // A command without a text in the workbook keeps its own.
    EXPECT_EQ(frame_->Command(ID_USER_GUIDE)->text(), QStringLiteral("User Guideline"));

    // The tree was built anew in Chinese and the parameter root selected,
    // which replaced the monitor by the parameter view.
    EXPECT_EQ(frame_->DevicePane()->Tree()->topLevelItem(0)->text(0), QString::fromUtf8("设备"));
    EXPECT_EQ(COfficeTreeCtrl::ItemNumber(frame_->DevicePane()->Tree()->currentItem()), DT_PARAMETER_ROOT);
    auto* param = dynamic_cast<CTestView*>(frame_->CurrentView());
    ASSERT_NE(param, nullptr);
    EXPECT_EQ(param->choice_.kind, ViewKind::Parameter);
    EXPECT_EQ(param->choice_.selection, -1);
    EXPECT_EQ(param->button_->text(), QString::fromUtf8("全选"));
    EXPECT_EQ(param->label_->text(), QString::fromUtf8("数值"));
    EXPECT_EQ(counts_.alive, 1);
    EXPECT_NE(ReadText(dir_.file("Language/setting.ini")).find("Language=Chinese"), std::string::npos);

    // And back.
    EXPECT_TRUE(frame_->SwitchLanguage(L"English"));
    EXPECT_EQ(MenuTitles(frame_), (QStringList{"Start", "Param(&M)", "&View", "&Language", "&Help"}));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->text(), QStringLiteral("Connect Serial Port (&C)"));
    EXPECT_EQ(frame_->Command(ID_CONNECT)->statusTip(), QStringLiteral("Connect Serial Port"));
    EXPECT_EQ(frame_->Command(ID_DISCONNECT)->statusTip(), QStringLiteral("Disconnect"));
    EXPECT_EQ(frame_->Command(ID_DISCONNECT)->toolTip(), QStringLiteral("Disconnect"));
    EXPECT_TRUE(frame_->Command(ID_LANGUAGE_ENGLISH)->isChecked());
    EXPECT_EQ(dynamic_cast<CTestView*>(frame_->CurrentView())->button_->text(), QStringLiteral("Select All"));
}

TEST_F(FrameTest, ChoosingTheCurrentLanguageChangesNothing)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_HIS));
    CDataDlg* view = frame_->CurrentView();
    QTreeWidgetItem* root = frame_->DevicePane()->Tree()->topLevelItem(0);
    // A caption set by hand would be put back by a translation.
    frame_->Command(ID_APP_ABOUT)->setText(QStringLiteral("marker"));
    const std::string setting = ReadText(dir_.file("Language/setting.ini"));

    frame_->OnCommand(ID_LANGUAGE_ENGLISH);
    EXPECT_EQ(frame_->CurrentView(), view);
    EXPECT_EQ(frame_->DevicePane()->Tree()->topLevelItem(0), root);
    EXPECT_EQ(COfficeTreeCtrl::ItemNumber(frame_->DevicePane()->Tree()->currentItem()), DT_MONITOR_HIS);
    EXPECT_EQ(frame_->Command(ID_APP_ABOUT)->text(), QStringLiteral("marker"));
    EXPECT_EQ(counts_.made, 1);
    EXPECT_EQ(ReadText(dir_.file("Language/setting.ini")), setting);
}

TEST_F(FrameTest, LanguageSwitchWithUnloadableTableKeepsTree)
{
    WriteProgramFolder(dir_);
    RegisterAllKinds();
    Start();
    ASSERT_TRUE(frame_->DevicePane()->SelectNumber(DT_MONITOR_RT));
    CDataDlg* view = frame_->CurrentView();
    fs::remove(dir_.file("Parameter/TV380.xls"));

    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    // The command bars follow the language ...
    EXPECT_EQ(frame_->Command(ID_CONNECT)->text(), QString::fromUtf8("连接串口(&C)"));
    // ... the tree and the view stay, and the failure is told.
    EXPECT_EQ(frame_->DevicePane()->Tree()->topLevelItem(0)->text(0), QStringLiteral("DEVICE"));
    EXPECT_EQ(frame_->CurrentView(), view);
    ASSERT_EQ(prompts_.messages.size(), 1u);
    EXPECT_EQ(prompts_.messages[0].rfind(L"Device parameter file failed to load:", 0), 0u);
}

TEST_F(FrameTest, PopupOpeningTranslatesItsItems)
{
    WriteProgramFolder(dir_);
    Start();
    frame_->Command(ID_OPEN_DATA)->setText(QStringLiteral("changed"));
    QMenu* param = Popup(frame_, 1);
    emit frame_->CommandBars()->popupOpening(param);
    EXPECT_EQ(frame_->Command(ID_OPEN_DATA)->text(), QStringLiteral("Open Data(&O)"));
}
